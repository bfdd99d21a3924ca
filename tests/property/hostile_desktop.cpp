#include "hostile_desktop.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <ostream>
#include <stdexcept>

namespace nevo::hostile {
namespace gen = rc::gen;

using sim::Node;
using sim::Op;
using sim::SimDesktop;

namespace {

// An index into `weights`, drawn in proportion to them whatever the size of the case
// (gen::inRange alone favours small values in small cases), that shrinks towards 0. Every
// choice below lists the plain case first, so a counterexample sheds each hostility it
// does not need.
rc::Gen<std::size_t> weightedIndex(std::vector<std::size_t> weights) {
  std::size_t total = 0;
  for (std::size_t w : weights) total += w;
  return gen::map(gen::resize(100, gen::inRange<std::size_t>(0, total)),
                  [weights](std::size_t draw) {
                    std::size_t i = 0;
                    while (draw >= weights[i]) draw -= weights[i++];
                    return i;
                  });
}

template <class T>
rc::Gen<T> pick(std::initializer_list<std::pair<std::size_t, T>> pairs) {
  std::vector<std::size_t> weights;
  std::vector<T> values;
  for (const auto& [weight, value] : pairs) {
    weights.push_back(weight);
    values.push_back(value);
  }
  return gen::map(weightedIndex(std::move(weights)), [values](std::size_t i) { return values[i]; });
}

template <class T>
rc::Gen<T> weighted(std::initializer_list<std::pair<std::size_t, rc::Gen<T>>> pairs) {
  std::vector<std::size_t> weights;
  std::vector<rc::Gen<T>> gens;
  for (const auto& [weight, g] : pairs) {
    weights.push_back(weight);
    gens.push_back(g);
  }
  return gen::mapcat(weightedIndex(std::move(weights)), [gens](std::size_t i) { return gens[i]; });
}

// True in `percent` cases out of a hundred; shrinks towards false.
bool chance(int percent) {
  return *pick<bool>({{static_cast<std::size_t>(100 - percent), false},
                      {static_cast<std::size_t>(percent), true}});
}

// Pieces of text that trouble JSON writers, grapheme counters and normalisers.
const std::vector<std::string>& textPieces() {
  static const std::vector<std::string> pieces = {
      "",
      "OK",
      "Save",
      "Untitled",
      " ",
      "\t",
      "\n",
      std::string("\0", 1),
      "\xE2\x80\xA8",                       // U+2028 LINE SEPARATOR
      "\xE2\x80\xA9",                       // U+2029 PARAGRAPH SEPARATOR
      "e\xCC\x81",                          // e + COMBINING ACUTE ACCENT
      "\xC3\xA9",                           // é precomposed
      "a\xCC\x81\xCC\xA3\xCC\x88\xCC\x81",  // a with four marks in odd order
      "\xCC\x81",                           // a lone combining mark
      "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D"
      "\xF0\x9F\x91\xA6",                      // family: four people joined by ZWJ
      "\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3",      // a flag: two regional indicators
      "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",      // thumbs up with a skin tone
      "\xE6\x96\x87\xE4\xBB\xB6",              // 文件
      "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8",  // a Hangul syllable in jamo
      "\xE2\x80\xAE",                          // RIGHT-TO-LEFT OVERRIDE
      "\xEF\xBB\xBF",                          // BOM
      "\xEF\xBF\xBD",                          // U+FFFD
      "\xF4\x8F\xBF\xBF",                      // U+10FFFF
      "\\",
      "\"",
      "/",
      "</script>",
      "\x01",
      "\x7F",
      "AXSecureTextField",
      "AXButton",
      "\\u0000",
  };
  return pieces;
}

rc::Gen<std::size_t> repeatCount() {
  return weighted<std::size_t>({
      {40, gen::just<std::size_t>(1)},
      {10, gen::inRange<std::size_t>(2, 20)},
      {2, gen::element<std::size_t>(299, 300, 301)},
      {1, gen::element<std::size_t>(4095, 4096, 4097)},
  });
}

rc::Gen<std::string> piecesText() {
  return gen::exec([] {
    std::string text;
    const int pieces = *gen::inRange(0, 6);
    for (int i = 0; i < pieces; ++i) {
      const std::string piece = *gen::elementOf(textPieces());
      const std::size_t times = *repeatCount();
      for (std::size_t t = 0; t < times; ++t) text += piece;
    }
    return text;
  });
}

rc::Gen<ValuePlan> stringValue(rc::Gen<std::string> text) {
  return gen::map(std::move(text), [](std::string t) {
    ValuePlan v;
    v.kind = ValuePlan::Kind::string;
    v.text = std::move(t);
    return v;
  });
}

rc::Gen<ValuePlan> boolValue(rc::Gen<bool> flag = gen::arbitrary<bool>()) {
  return gen::map(std::move(flag), [](bool f) {
    ValuePlan v;
    v.kind = ValuePlan::Kind::boolean;
    v.flag = f;
    return v;
  });
}

rc::Gen<ValuePlan> elementValue() {
  return gen::map(gen::inRange(0, 100000), [](int ref) {
    ValuePlan v;
    v.kind = ValuePlan::Kind::element;
    v.ref = ref;
    return v;
  });
}

rc::Gen<double> saneCoordinate() {
  return weighted<double>({
      {3, gen::map(gen::inRange(-200, 3000), [](int v) { return static_cast<double>(v); })},
      {1, gen::map(gen::inRange(-16000, 24000), [](int v) { return v / 8.0; })},
  });
}

rc::Gen<double> saneExtent() {
  return weighted<double>({
      {3, gen::map(gen::inRange(1, 900), [](int v) { return static_cast<double>(v); })},
      {1, gen::map(gen::inRange(1, 8000), [](int v) { return v / 7.0; })},
  });
}

// A point or a size: mostly two sane numbers, else two hostile ones.
rc::Gen<ValuePlan> pairValue(ValuePlan::Kind kind, rc::Gen<double> saneNumber) {
  return gen::exec([kind, saneNumber] {
    ValuePlan v;
    v.kind = kind;
    const bool sane = *pick<bool>({{8, true}, {1, false}});
    v.a = sane ? *saneNumber : *hostileNumber();
    v.b = sane ? *saneNumber : *hostileNumber();
    return v;
  });
}

rc::Gen<ValuePlan> pointValue() {
  return pairValue(ValuePlan::Kind::point, saneCoordinate());
}

rc::Gen<ValuePlan> sizeValue() {
  return pairValue(ValuePlan::Kind::size, saneExtent());
}

rc::Gen<ValuePlan> anyValue() {
  return gen::exec([] {
    ValuePlan v;
    v.kind =
        *gen::element(ValuePlan::Kind::string, ValuePlan::Kind::number, ValuePlan::Kind::boolean,
                      ValuePlan::Kind::element, ValuePlan::Kind::array, ValuePlan::Kind::point,
                      ValuePlan::Kind::size, ValuePlan::Kind::other);
    switch (v.kind) {
      case ValuePlan::Kind::string:
        v.text = *hostileText();
        break;
      case ValuePlan::Kind::number:
        v.a = *hostileNumber();
        break;
      case ValuePlan::Kind::boolean:
        v.flag = *gen::arbitrary<bool>();
        break;
      case ValuePlan::Kind::element:
        v.ref = *gen::inRange(0, 100000);
        break;
      case ValuePlan::Kind::array:
        v.ref = *gen::inRange(0, 100000);
        v.count = *gen::inRange(0, 4);
        break;
      case ValuePlan::Kind::point:
      case ValuePlan::Kind::size:
        v.a = *hostileNumber();
        v.b = *hostileNumber();
        break;
      case ValuePlan::Kind::other:
        v.text = *gen::element<std::string>("AXTextMarkerRange", "CFURL", "CFData");
        break;
    }
    return v;
  });
}

// Mostly a value of the kind the attribute should hold, now and then anything at all.
rc::Gen<ValuePlan> usually(rc::Gen<ValuePlan> proper) {
  return weighted<ValuePlan>({{6, std::move(proper)}, {1, anyValue()}});
}

rc::Gen<ValuePlan> roleValue() {
  return usually(stringValue(weighted<std::string>({
      {6, gen::element<std::string>("AXButton", "AXTextField", "AXTextArea", "AXComboBox",
                                    "AXPopUpButton", "AXCheckBox", "AXRadioButton", "AXMenuItem",
                                    "AXStaticText", "AXScrollArea", "AXTable", "AXRow", "AXLink",
                                    "AXSlider", "AXTabGroup", "AXSheet", "AXDialog", "AXWindow")},
      {3, gen::element<std::string>("AXGroup", "AXImage", "AXUnknown", "AXSplitGroup", "")},
      {1, hostileText()},
  })));
}

rc::Gen<ValuePlan> subroleValue() {
  return usually(stringValue(weighted<std::string>({
      {4, gen::element<std::string>("AXStandardWindow", "AXSearchField", "AXDialog", "")},
      {1, gen::just<std::string>("AXSecureTextField")},
      {1, hostileText()},
  })));
}

rc::Gen<ValuePlan> textValue() {
  return weighted<ValuePlan>({
      {8, stringValue(hostileText())},
      {1, gen::map(hostileNumber(),
                   [](double n) {
                     ValuePlan v;
                     v.kind = ValuePlan::Kind::number;
                     v.a = n;
                     return v;
                   })},
      {1, anyValue()},
  });
}

rc::Gen<std::vector<std::pair<std::string, ValuePlan>>> nodeAttributes(bool window) {
  return gen::exec([window] {
    std::vector<std::pair<std::string, ValuePlan>> attributes;
    const auto maybe = [&](int percent, const char* name, rc::Gen<ValuePlan> value) {
      if (chance(percent)) attributes.emplace_back(name, *value);
    };
    if (window) {
      maybe(95, "AXRole", usually(stringValue(gen::just<std::string>("AXWindow"))));
      maybe(60, "AXSubrole", subroleValue());
      maybe(90, "AXTitle", textValue());
      // Mostly a readable frame, so that most observations get as far as the walk.
      maybe(98, "AXPosition", weighted<ValuePlan>({{15, pointValue()}, {1, anyValue()}}));
      maybe(98, "AXSize", weighted<ValuePlan>({{15, sizeValue()}, {1, anyValue()}}));
      maybe(70, "AXMinimized", usually(boolValue(pick<bool>({{4, false}, {1, true}}))));
    } else {
      maybe(92, "AXRole", roleValue());
      maybe(30, "AXSubrole", subroleValue());
      maybe(50, "AXTitle", textValue());
      maybe(30, "AXDescription", textValue());
      maybe(40, "AXValue", textValue());
      maybe(85, "AXPosition", usually(pointValue()));
      maybe(85, "AXSize", usually(sizeValue()));
    }
    maybe(30, "AXIdentifier", textValue());
    maybe(40, "AXEnabled", usually(boolValue(pick<bool>({{4, true}, {1, false}}))));
    maybe(15, "AXProtectedContent", usually(boolValue(pick<bool>({{3, false}, {1, true}}))));
    maybe(8, "AXParent", usually(elementValue()));
    return attributes;
  });
}

rc::Gen<FaultPlan> fault(bool application) {
  return gen::exec([application] {
    FaultPlan f;
    f.kind = *pick<FaultPlan::Kind>({{4, FaultPlan::Kind::failRead},
                                     {1, FaultPlan::Kind::failCount},
                                     {1, FaultPlan::Kind::failValues},
                                     {1, FaultPlan::Kind::failWrite},
                                     {5, FaultPlan::Kind::slow}});
    f.attribute =
        application
            ? *gen::element<std::string>("AXWindows", "AXFocusedWindow", "AXFocusedUIElement")
            : *gen::element<std::string>("AXRole", "AXSubrole", "AXTitle", "AXDescription",
                                         "AXValue", "AXPosition", "AXSize", "AXEnabled",
                                         "AXIdentifier", "AXProtectedContent", "AXMinimized",
                                         "AXChildren", "AXParent", "AXRaise");
    f.status = *gen::element(AxStatus::failure, AxStatus::attributeUnsupported, AxStatus::noValue,
                             AxStatus::cannotComplete, AxStatus::invalidElement);
    f.seconds = *gen::element(0.001, 0.01, 0.049, 0.051, 0.1, 0.199, 0.21, 0.5, 1.0, 2.5, 7.0);
    return f;
  });
}

rc::Gen<std::vector<FaultPlan>> faults(bool application) {
  return gen::exec([application] {
    const int count = *pick<int>({{12, 0}, {3, 1}, {1, 2}});
    return *gen::container<std::vector<FaultPlan>>(static_cast<std::size_t>(count),
                                                   fault(application));
  });
}

rc::Gen<NodePlan> node(int depth);

rc::Gen<std::vector<NodePlan>> children(int depth) {
  return gen::exec([depth] {
    // Wide near the window, narrow further down, so that a tree stays small enough to
    // build quickly; the bulk shapes go past the budgets.
    const int widest = depth == 0 ? 9 : depth == 1 ? 6 : 4;
    const int count =
        depth >= 5
            ? 0
            : *weighted<int>(
                  {{9, gen::just(0)}, {8, gen::inRange(1, 4)}, {3, gen::inRange(1, widest)}});
    return *gen::container<std::vector<NodePlan>>(static_cast<std::size_t>(count), node(depth + 1));
  });
}

void addHostility(NodePlan& n) {
  n.faults = *faults(false);
  if (chance(8)) {
    n.reportedChildren = *gen::element<long>(0, -1, 1, 3, 499, 500, 501, 600, LONG_MAX);
  }
  if (chance(10)) {
    n.links = *gen::container<std::vector<LinkPlan>>(
        static_cast<std::size_t>(*gen::inRange(1, 3)), gen::exec([] {
          LinkPlan link;
          link.ancestor = *pick<bool>({{3, true}, {1, false}});
          link.steps = link.ancestor ? *gen::inRange(0, 6) : *gen::inRange(0, 100000);
          return link;
        }));
  }
  switch (*pick<int>({{93, 0}, {3, 1}, {2, 2}, {2, 3}})) {
    case 1:
      n.wide = *gen::inRange(150, 650);
      break;
    case 2:
      n.chain = *gen::inRange(20, 32);
      break;
    case 3:
      n.doubling = *gen::inRange(4, 14);
      break;
    default:
      break;
  }
}

rc::Gen<NodePlan> node(int depth) {
  return gen::exec([depth] {
    NodePlan n;
    n.attributes = *nodeAttributes(false);
    n.secret = *pick<NodePlan::Secret>({{17, NodePlan::Secret::none},
                                        {2, NodePlan::Secret::secureField},
                                        {1, NodePlan::Secret::protectedContent}});
    addHostility(n);
    n.children = *children(depth);
    return n;
  });
}

rc::Gen<NodePlan> window() {
  return gen::exec([] {
    NodePlan n;
    n.attributes = *nodeAttributes(true);
    addHostility(n);
    n.children = *children(0);
    return n;
  });
}

rc::Gen<FocusPlan> focus(bool window) {
  return gen::exec([window] {
    FocusPlan f;
    f.kind = window ? *pick<FocusPlan::Kind>({{17, FocusPlan::Kind::window},
                                              {1, FocusPlan::Kind::none},
                                              {2, FocusPlan::Kind::node},
                                              {1, FocusPlan::Kind::anyNode},
                                              {1, FocusPlan::Kind::value}})
                    : *pick<FocusPlan::Kind>({{7, FocusPlan::Kind::none},
                                              {7, FocusPlan::Kind::node},
                                              {2, FocusPlan::Kind::window},
                                              {3, FocusPlan::Kind::anyNode},
                                              {1, FocusPlan::Kind::value}});
    f.index = *gen::inRange(0, 100000);
    if (f.kind == FocusPlan::Kind::value) f.value = *anyValue();
    return f;
  });
}

rc::Gen<ProcessId> pid() {
  return weighted<ProcessId>({
      {6, gen::element<ProcessId>(100, 101, 812, 900, 2000, 31337)},
      {4, gen::inRange<ProcessId>(1, std::numeric_limits<ProcessId>::max())},
      {1, gen::element<ProcessId>(99999, 1, std::numeric_limits<ProcessId>::max())},
      {1, gen::element<ProcessId>(0, -1, std::numeric_limits<ProcessId>::min())},
  });
}

rc::Gen<AppPlan> app() {
  return gen::exec([] {
    AppPlan a;
    a.pid = *pid();
    if (chance(90)) a.name = *hostileText();
    if (chance(80)) a.bundleId = *piecesText();
    a.policy = *pick<int>({{18, kActivationPolicyRegular}, {1, 1}, {1, 2}});
    a.terminated = *pick<bool>({{19, false}, {1, true}});
    a.refusesActivation = *pick<bool>({{9, false}, {1, true}});
    a.raiseFocuses = *pick<bool>({{6, true}, {1, false}});
    a.raiseFocusDelay = *pick<double>({{16, 0.0}, {1, 0.3}, {1, 0.89}, {1, 0.9}, {1, 1.5}});
    a.windows = *gen::container<std::vector<NodePlan>>(
        static_cast<std::size_t>(*pick<int>({{1, 0}, {6, 1}, {4, 2}, {2, 4}})), window());
    // Now and then a first window whose tree alone goes past the walk's budgets.
    if (!a.windows.empty()) {
      switch (*pick<int>({{6, 0}, {1, 1}, {1, 2}, {1, 3}})) {
        case 1:
          a.windows.front().wide = *gen::inRange(150, 650);
          break;
        case 2:
          a.windows.front().chain = *gen::inRange(20, 32);
          break;
        case 3:
          a.windows.front().doubling = *gen::inRange(6, 14);
          break;
        default:
          break;
      }
    }
    a.plainWindows = *weighted<int>({{8, gen::just(0)}, {2, gen::inRange(1, 96)}});
    a.twinWindow = *pick<bool>({{9, false}, {1, true}});
    if (chance(8)) a.reportedWindows = *gen::element<long>(0, -1, 3, 80, 81, 200);
    a.focusedWindow = *focus(true);
    a.focusedElement = *focus(false);
    a.faults = *faults(true);
    return a;
  });
}

rc::Gen<ChangePlan> change() {
  return gen::exec([] {
    ChangePlan c;
    c.kind = *gen::element(ChangePlan::Kind::frontmost, ChangePlan::Kind::quit,
                           ChangePlan::Kind::focusWindow, ChangePlan::Kind::focusElement,
                           ChangePlan::Kind::closeWindow, ChangePlan::Kind::retitle,
                           ChangePlan::Kind::move, ChangePlan::Kind::minimize);
    c.afterRequests = *gen::arbitrary<bool>();
    if (c.afterRequests) {
      c.requests = *weighted<int>({{3, gen::inRange(1, 20)}, {2, gen::inRange(20, 1500)}});
    } else {
      c.delay = *gen::element(0.001, 0.04, 0.3, 0.81, 0.95, 1.2, 1.79, 1.81, 2.5, 4.0);
    }
    c.app = *gen::inRange(-1, 8);
    c.focus = *focus(c.kind == ChangePlan::Kind::focusWindow);
    c.window = *gen::inRange(0, 100);
    c.text = *hostileText();
    c.frame = Rect{*saneCoordinate(), *saneCoordinate(), *saneExtent(), *saneExtent()};
    c.flag = *gen::arbitrary<bool>();
    return c;
  });
}

// Writes a string with what is not printable ASCII escaped, long ones shortened.
void showText(std::ostream& os, const std::string& text) {
  os << '"';
  const std::size_t shown = std::min<std::size_t>(text.size(), 48);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      os << static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      os << escaped;
    }
  }
  if (shown < text.size()) os << "...(" << text.size() << " bytes)";
  os << '"';
}

void showValuePlan(std::ostream& os, const ValuePlan& v) {
  switch (v.kind) {
    case ValuePlan::Kind::string:
      showText(os, v.text);
      break;
    case ValuePlan::Kind::number:
      os << "number " << v.a;
      break;
    case ValuePlan::Kind::boolean:
      os << (v.flag ? "true" : "false");
      break;
    case ValuePlan::Kind::element:
      os << "element #" << v.ref;
      break;
    case ValuePlan::Kind::array:
      os << "array of " << v.count << " from #" << v.ref;
      break;
    case ValuePlan::Kind::point:
      os << "point(" << v.a << ", " << v.b << ")";
      break;
    case ValuePlan::Kind::size:
      os << "size(" << v.a << ", " << v.b << ")";
      break;
    case ValuePlan::Kind::other:
      os << "other " << v.text;
      break;
  }
}

void showFocus(std::ostream& os, const FocusPlan& f) {
  switch (f.kind) {
    case FocusPlan::Kind::none:
      os << "none";
      break;
    case FocusPlan::Kind::window:
      os << "window " << f.index;
      break;
    case FocusPlan::Kind::node:
      os << "node " << f.index << " of the application";
      break;
    case FocusPlan::Kind::anyNode:
      os << "node #" << f.index;
      break;
    case FocusPlan::Kind::value:
      showValuePlan(os, f.value);
      break;
  }
}

void showFaults(std::ostream& os, const std::vector<FaultPlan>& faults) {
  for (const FaultPlan& f : faults) {
    static const char* kinds[] = {"fails", "count fails", "values fail", "write fails", "slow"};
    os << " [" << f.attribute << " " << kinds[static_cast<int>(f.kind)];
    if (f.kind == FaultPlan::Kind::slow) os << " " << f.seconds << "s";
    os << "]";
  }
}

void showNode(std::ostream& os, const NodePlan& n, int indent) {
  os << std::string(static_cast<std::size_t>(indent), ' ') << "-";
  for (const auto& [name, value] : n.attributes) {
    os << " " << name << "=";
    showValuePlan(os, value);
  }
  if (n.secret == NodePlan::Secret::secureField) os << " SECRET(secure field)";
  if (n.secret == NodePlan::Secret::protectedContent) os << " SECRET(protected content)";
  showFaults(os, n.faults);
  if (n.reportedChildren) os << " children-count-says " << *n.reportedChildren;
  for (const LinkPlan& link : n.links) {
    os << (link.ancestor ? " links-ancestor-up " : " links-node #") << link.steps;
  }
  if (n.wide > 0) os << " +" << n.wide << " buttons";
  if (n.chain > 0) os << " +chain of " << n.chain;
  if (n.doubling > 0) os << " +doubling chain of " << n.doubling;
  os << "\n";
  for (const NodePlan& child : n.children) showNode(os, child, indent + 2);
}

}  // namespace

rc::Gen<std::string> hostileText() {
  return weighted<std::string>({
      {3, gen::element<std::string>("OK", "Notes", "Untitled", "")},
      {7, piecesText()},
  });
}

rc::Gen<double> hostileNumber() {
  using limits = std::numeric_limits<double>;
  return weighted<double>({
      {4, gen::elementOf(std::vector<double>{0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 1e-310, limits::min(),
                                             limits::denorm_min(), limits::max(), -limits::max(),
                                             9007199254740993.0, 1e308, -1e308, 2147483647.0,
                                             2147483648.0, 4294967296.5})},
      {2, gen::elementOf(
              std::vector<double>{limits::infinity(), -limits::infinity(), limits::quiet_NaN()})},
      {3, gen::map(gen::arbitrary<std::int32_t>(), [](std::int32_t v) { return v / 16.0; })},
  });
}

rc::Gen<DesktopPlan> hostileDesktop() {
  return gen::exec([] {
    DesktopPlan d;
    d.trusted = *pick<bool>({{24, true}, {1, false}});
    const int apps = *pick<int>({{1, 0}, {9, 1}, {8, 2}, {5, 3}, {3, 5}});
    d.apps = *gen::container<std::vector<AppPlan>>(static_cast<std::size_t>(apps), app());
    // Now and then a workspace that reports two applications under one pid.
    if (*pick<bool>({{9, true}, {1, false}})) {
      std::set<ProcessId> used;
      for (AppPlan& a : d.apps) {
        while (!used.insert(a.pid).second) a.pid = a.pid == 2147483647 ? 1 : a.pid + 1;
      }
    }
    d.frontmost = *weighted<int>(
        {{24, gen::inRange(0, std::max(apps, 1))}, {1, gen::just(-1)}, {1, gen::just(apps + 3)}});
    d.ignoresMaxCount = *pick<bool>({{9, false}, {1, true}});
    d.hitTestLatency = *pick<double>({{12, 0.0}, {1, 0.1}, {1, 0.25}});
    const int changes = *pick<int>({{5, 0}, {3, 1}, {2, 3}});
    d.changes =
        *gen::container<std::vector<ChangePlan>>(static_cast<std::size_t>(changes), change());
    return d;
  });
}

DesktopPlan calm(DesktopPlan plan) {
  const std::function<void(NodePlan&)> calmNode = [&](NodePlan& n) {
    n.faults.clear();
    n.reportedChildren.reset();
    for (NodePlan& child : n.children) calmNode(child);
  };
  plan.trusted = true;
  plan.ignoresMaxCount = false;
  plan.hitTestLatency = 0;
  plan.changes.clear();
  // Sizes as a real platform reports them: a window whose stored size is negative is listed
  // with its magnitude but its origin as stored, which --focus, comparing rectangles taken
  // as standardised, never finds again.
  const std::function<void(NodePlan&)> positiveSizes = [&](NodePlan& n) {
    for (auto& [name, value] : n.attributes) {
      if (name == "AXSize" && value.kind == ValuePlan::Kind::size) {
        value.a = std::fabs(value.a);
        value.b = std::fabs(value.b);
      }
    }
  };
  std::set<ProcessId> used;
  ProcessId next = 10000;
  for (AppPlan& a : plan.apps) {
    if (a.pid < 1 || a.pid == 99999 || used.count(a.pid) > 0) {
      while (used.count(next) > 0) ++next;
      a.pid = next;
    }
    used.insert(a.pid);
    a.refusesActivation = false;
    a.raiseFocuses = true;
    a.raiseFocusDelay = 0;
    a.reportedWindows.reset();
    a.faults.clear();
    for (NodePlan& w : a.windows) {
      calmNode(w);
      positiveSizes(w);
    }
  }
  return plan;
}

namespace {

// Builds one plan into a desktop: first every node, so that references can point
// anywhere, then attributes, faults and links, then focus and scripted changes.
class Builder {
 public:
  Builder(const DesktopPlan& plan, BuiltDesktop& built)
      : plan_(plan), built_(built), desktop_(*built.desktop) {}

  void run() {
    desktop_.trusted = plan_.trusted;
    desktop_.ignoresMaxCount = plan_.ignoresMaxCount;
    for (const AppPlan& a : plan_.apps) addApp(a);
    nodeCount_ = desktop_.nodeCount();
    for (const Pending& p : pending_) applyAttributes(p);
    computeProtection();
    for (std::size_t i = 0; i < plan_.apps.size(); ++i) applyFocus(i);
    if (plan_.frontmost >= 0) {
      desktop_.setFrontmost(
          static_cast<std::size_t>(plan_.frontmost) < plan_.apps.size()
              ? std::optional<ProcessId>(plan_.apps[static_cast<std::size_t>(plan_.frontmost)].pid)
              : std::optional<ProcessId>(424242));
    }
    if (plan_.hitTestLatency > 0) Node(&desktop_, 0).latency("", plan_.hitTestLatency);
    built_.start = desktop_.clock;
    for (const ChangePlan& c : plan_.changes) schedule(c);
  }

 private:
  struct Pending {
    const NodePlan* plan;
    Node node;
    std::vector<int> ancestors;  // from the window down to the parent
    bool window;
  };
  struct AppNodes {
    int appNode = -1;
    std::vector<Node> windows;
    std::vector<Node> nodes;  // every node below the windows
  };

  void addApp(const AppPlan& a) {
    sim::SimApp& app = desktop_.addApp(a.pid, a.name);
    app.bundleId(a.bundleId)
        .policy(a.policy)
        .terminated(a.terminated)
        .refusesActivation(a.refusesActivation)
        .raiseFocuses(a.raiseFocuses)
        .raiseFocusDelay(a.raiseFocusDelay);
    AppNodes nodes;
    nodes.appNode = app.node().id();
    for (const NodePlan& w : a.windows) {
      Node window = app.addWindow("", {0, 0, 0, 0});
      for (const char* name :
           {"AXRole", "AXSubrole", "AXTitle", "AXPosition", "AXSize", "AXMinimized"}) {
        window.remove(name);
      }
      nodes.windows.push_back(window);
      addTree(w, window, {}, true, nodes);
    }
    Rect firstPlain{};
    for (int k = 0; k < a.plainWindows; ++k) {
      const Rect frame{20.0 + 13 * k, 30.0 + 11 * k, 400.0 + k, 300};
      if (k == 0) firstPlain = frame;
      nodes.windows.push_back(app.addWindow("Window " + std::to_string(k), frame));
    }
    if (a.twinWindow) {
      if (a.plainWindows == 0) {
        firstPlain = {5, 5, 200, 100};
        nodes.windows.push_back(app.addWindow("Window 0", firstPlain));
      }
      nodes.windows.push_back(app.addWindow("Window 0", firstPlain));
    }
    if (a.reportedWindows) app.node().reportCount("AXWindows", *a.reportedWindows);
    applyFaults(app.node(), a.faults, false);
    apps_.push_back(std::move(nodes));
  }

  void addTree(const NodePlan& plan, const Node& node, std::vector<int> ancestors, bool window,
               AppNodes& nodes) {
    pending_.push_back({&plan, node, ancestors, window});
    parent_[node.id()] = ancestors.empty() ? -1 : ancestors.back();
    if (!window) nodes.nodes.push_back(node);
    addShapes(plan, node, nodes);
    ancestors.push_back(node.id());
    for (const NodePlan& child : plan.children) {
      Node c = node.add("AXGroup");
      c.remove("AXRole");
      addTree(child, c, ancestors, false, nodes);
    }
  }

  void addShapes(const NodePlan& plan, const Node& node, AppNodes& nodes) {
    for (int k = 0; k < plan.wide; ++k) {
      nodes.nodes.push_back(node.add("AXButton")
                                .title("Item " + std::to_string(k))
                                .frame({10.0 + (k % 40) * 6, 10.0 + (k / 40) * 6, 5, 5}));
    }
    Node current = node;
    for (int k = 0; k < plan.chain; ++k) {
      current = current.add("AXGroup");
      current.frame({50, 50, 100, 100});
      nodes.nodes.push_back(current);
    }
    if (plan.chain > 0) {
      nodes.nodes.push_back(current.add("AXButton").title("Deep").frame({60, 60, 10, 10}));
    }
    current = node;
    for (int k = 0; k < plan.doubling; ++k) {
      Node next = current.add("AXButton");
      next.title("Twice " + std::to_string(k)).frame({70, 70, 20, 20});
      current.link(next);
      nodes.nodes.push_back(next);
      current = next;
    }
  }

  AttrValue resolve(const ValuePlan& v) {
    switch (v.kind) {
      case ValuePlan::Kind::string:
        return v.text;
      case ValuePlan::Kind::number:
        return sim::number(v.a);
      case ValuePlan::Kind::boolean:
        return v.flag;
      case ValuePlan::Kind::element:
        return Node(&desktop_, v.ref % nodeCount_).element();
      case ValuePlan::Kind::array: {
        ArrayValue array;
        for (int i = 0; i < v.count; ++i) {
          array.push_back(Node(&desktop_, (v.ref + i) % nodeCount_).element());
        }
        return array;
      }
      case ValuePlan::Kind::point:
        return PointValue{v.a, v.b};
      case ValuePlan::Kind::size:
        return SizeValue{v.a, v.b};
      case ValuePlan::Kind::other:
        return OtherValue{v.text};
    }
    return Absent{};
  }

  void applyFaults(const Node& node, const std::vector<FaultPlan>& faults, bool secret) {
    for (const FaultPlan& f : faults) {
      // What tells a protected element apart is never spoilt on its own: the tool could
      // not know, and would rightly read the element as unprotected. (A slow request
      // fails every attribute of its batch, the frame included, and so stays allowed.)
      const bool deciding = f.attribute == "AXSubrole" || f.attribute == "AXProtectedContent";
      switch (f.kind) {
        case FaultPlan::Kind::failRead:
          if (!(secret && deciding)) node.failOp(Op::read, f.attribute, f.status);
          if (deciding) unreliable_.insert(node.id());
          break;
        case FaultPlan::Kind::failCount:
          node.failOp(Op::count, f.attribute, f.status);
          break;
        case FaultPlan::Kind::failValues:
          node.failOp(Op::readValues, f.attribute, f.status);
          break;
        case FaultPlan::Kind::failWrite:
          node.failOp(Op::write, f.attribute, f.status);
          node.failOp(Op::action, f.attribute, f.status);
          break;
        case FaultPlan::Kind::slow:
          node.latency(f.attribute, f.seconds);
          break;
      }
    }
  }

  void applyAttributes(const Pending& p) {
    const NodePlan& plan = *p.plan;
    const Node& node = p.node;
    for (const auto& [name, value] : plan.attributes) node.set(name, resolve(value));
    const bool secret = !p.window && plan.secret != NodePlan::Secret::none;
    if (secret) {
      if (plan.secret == NodePlan::Secret::secureField) {
        node.subrole("AXSecureTextField");
      } else {
        node.set("AXProtectedContent", true);
      }
      const std::string marker(kSecretMarker);
      node.title(marker + " title").description(marker + " description").value(marker + " value");
    }
    if (p.window) {
      // A window's title is reported whatever the window is, so windows are never made
      // protected.
      node.set("AXProtectedContent", false);
      for (const auto& [name, value] : plan.attributes) {
        if (name == "AXSubrole" && value.kind == ValuePlan::Kind::string &&
            value.text == "AXSecureTextField") {
          node.subrole("AXStandardWindow");
        }
      }
    }
    applyFaults(node, plan.faults, secret);
    if (plan.reportedChildren) node.reportCount("AXChildren", *plan.reportedChildren);
    for (const LinkPlan& link : plan.links) {
      if (link.ancestor) {
        const std::size_t up = static_cast<std::size_t>(link.steps);
        const int target = up == 0 || p.ancestors.empty()
                               ? node.id()
                               : p.ancestors[p.ancestors.size() - std::min(up, p.ancestors.size())];
        node.link(Node(&desktop_, target));
      } else {
        node.link(Node(&desktop_, link.steps % nodeCount_));
      }
    }
    if (secret) secrets_.insert(node.id());
    subroles_[node.id()] = nullptr;
    for (const auto& [name, value] : plan.attributes) {
      if (name == "AXSubrole") subroles_[node.id()] = &value;
      if (name == "AXProtectedContent") contents_[node.id()] = &value;
    }
  }

  void computeProtection() {
    for (const Pending& p : pending_) {
      const int id = p.node.id();
      bool secure = false;
      bool content = false;
      if (secrets_.count(id) > 0) {
        // Made protected above, and its deciding reads never fail alone.
        built_.protectedNodes.insert(id);
        continue;
      }
      if (p.window) continue;
      if (const ValuePlan* subrole = subroles_[id]) {
        secure = subrole->kind == ValuePlan::Kind::string && subrole->text == "AXSecureTextField";
      }
      if (auto it = contents_.find(id); it != contents_.end()) {
        content = it->second->kind == ValuePlan::Kind::boolean && it->second->flag;
      }
      // A node whose deciding read fails cannot be told apart, so the property does not
      // hold the tool to it.
      if ((secure || content) && unreliable_.count(id) == 0) built_.protectedNodes.insert(id);
    }
  }

  // A node that may stand as a focused window: never a protected element (its title would
  // be reported as the window's); the nearest unprotected ancestor instead.
  int unprotected(int id) {
    while (built_.protectedNodes.count(id) > 0 && parent_.count(id) > 0 && parent_[id] >= 0) {
      id = parent_[id];
    }
    return id;
  }

  std::optional<AttrValue> focusValue(std::size_t app, const FocusPlan& f, bool window) {
    const AppNodes& nodes = apps_[app];
    std::optional<int> id;
    switch (f.kind) {
      case FocusPlan::Kind::none:
        return std::nullopt;
      case FocusPlan::Kind::window:
        if (nodes.windows.empty()) return std::nullopt;
        id = nodes.windows[static_cast<std::size_t>(f.index) % nodes.windows.size()].id();
        break;
      case FocusPlan::Kind::node:
        if (nodes.nodes.empty()) return std::nullopt;
        id = nodes.nodes[static_cast<std::size_t>(f.index) % nodes.nodes.size()].id();
        break;
      case FocusPlan::Kind::anyNode:
        id = f.index % nodeCount_;
        break;
      case FocusPlan::Kind::value:
        if (f.value.kind == ValuePlan::Kind::element || f.value.kind == ValuePlan::Kind::array) {
          return AttrValue(std::string("not an element"));
        }
        return resolve(f.value);
    }
    if (window) id = unprotected(*id);
    return Node(&desktop_, *id).element();
  }

  void applyFocus(std::size_t app) {
    const AppPlan& a = plan_.apps[app];
    const Node appNode(&desktop_, apps_[app].appNode);
    if (auto w = focusValue(app, a.focusedWindow, true)) appNode.set("AXFocusedWindow", *w);
    if (auto e = focusValue(app, a.focusedElement, false)) {
      appNode.set("AXFocusedUIElement", *e);
      built_.focusedElementPossible = true;
    }
  }

  void schedule(const ChangePlan& c) {
    if (plan_.apps.empty() && c.kind != ChangePlan::Kind::frontmost) return;
    const std::size_t app =
        plan_.apps.empty() ? 0 : static_cast<std::size_t>(std::abs(c.app)) % plan_.apps.size();
    const ProcessId pid = plan_.apps.empty() ? 0 : plan_.apps[app].pid;
    SimDesktop* desktop = &desktop_;
    std::function<void()> action;
    const auto windowNode = [&]() -> std::optional<Node> {
      const auto& windows = apps_[app].windows;
      if (windows.empty()) return std::nullopt;
      return windows[static_cast<std::size_t>(c.window) % windows.size()];
    };
    switch (c.kind) {
      case ChangePlan::Kind::frontmost:
        action = [desktop, front = c.app < 0 || plan_.apps.empty()
                                       ? std::optional<ProcessId>()
                                       : std::optional(pid)] { desktop->setFrontmost(front); };
        break;
      case ChangePlan::Kind::quit:
        action = [desktop, pid] { desktop->removeApp(pid); };
        break;
      case ChangePlan::Kind::focusWindow:
      case ChangePlan::Kind::focusElement: {
        const bool isWindow = c.kind == ChangePlan::Kind::focusWindow;
        const Node appNode(desktop, apps_[app].appNode);
        const std::optional<AttrValue> value = focusValue(app, c.focus, isWindow);
        const std::string name = isWindow ? "AXFocusedWindow" : "AXFocusedUIElement";
        if (!isWindow) built_.focusedElementPossible = true;
        action = [appNode, value, name] {
          if (value) {
            appNode.set(name, *value);
          } else {
            appNode.remove(name);
          }
        };
        break;
      }
      case ChangePlan::Kind::closeWindow:
        if (auto w = windowNode()) {
          action = [desktop, pid, window = *w] {
            try {
              desktop->app(pid).closeWindow(window);
            } catch (const std::invalid_argument&) {
              // The application has quit already.
            }
          };
        }
        break;
      case ChangePlan::Kind::retitle:
        if (auto w = windowNode()) action = [window = *w, text = c.text] { window.title(text); };
        break;
      case ChangePlan::Kind::move:
        if (auto w = windowNode()) action = [window = *w, frame = c.frame] { window.frame(frame); };
        break;
      case ChangePlan::Kind::minimize:
        if (auto w = windowNode())
          action = [window = *w, flag = c.flag] { window.minimized(flag); };
        break;
    }
    if (!action) return;
    if (c.afterRequests) {
      desktop_.afterAxCalls(c.requests, std::move(action));
    } else {
      desktop_.at(built_.start + c.delay, std::move(action));
    }
  }

  const DesktopPlan& plan_;
  BuiltDesktop& built_;
  SimDesktop& desktop_;
  int nodeCount_ = 1;
  std::vector<Pending> pending_;
  std::vector<AppNodes> apps_;
  std::map<int, int> parent_;
  std::set<int> secrets_;
  std::set<int> unreliable_;
  std::map<int, const ValuePlan*> subroles_;
  std::map<int, const ValuePlan*> contents_;
};

}  // namespace

BuiltDesktop build(const DesktopPlan& plan) {
  BuiltDesktop built;
  built.desktop = std::make_unique<SimDesktop>();
  Builder(plan, built).run();
  return built;
}

std::ostream& operator<<(std::ostream& os, const DesktopPlan& plan) {
  os << "desktop" << (plan.trusted ? "" : " (not trusted)");
  if (plan.ignoresMaxCount) os << ", hands out more values than asked for";
  if (plan.hitTestLatency > 0) os << ", hit tests take " << plan.hitTestLatency << "s";
  os << ", frontmost " << plan.frontmost << "\n";
  for (std::size_t i = 0; i < plan.apps.size(); ++i) {
    const AppPlan& a = plan.apps[i];
    os << "app " << i << ": pid " << a.pid << " name ";
    if (a.name) {
      showText(os, *a.name);
    } else {
      os << "none";
    }
    os << " policy " << a.policy << (a.terminated ? " terminated" : "")
       << (a.refusesActivation ? " refuses-activation" : "")
       << (a.raiseFocuses ? "" : " raise-does-not-focus");
    if (a.raiseFocusDelay > 0) os << " focus-after " << a.raiseFocusDelay << "s";
    if (a.plainWindows > 0) os << " +" << a.plainWindows << " plain windows";
    if (a.twinWindow) os << " +twin window";
    if (a.reportedWindows) os << " window-count-says " << *a.reportedWindows;
    showFaults(os, a.faults);
    os << "\n  focused window: ";
    showFocus(os, a.focusedWindow);
    os << "; focused element: ";
    showFocus(os, a.focusedElement);
    os << "\n";
    for (const NodePlan& w : a.windows) showNode(os, w, 2);
  }
  for (const ChangePlan& c : plan.changes) {
    static const char* kinds[] = {"frontmost",    "quit",    "focus window", "focus element",
                                  "close window", "retitle", "move",         "minimize"};
    os << "change: " << kinds[static_cast<int>(c.kind)] << " app " << c.app;
    if (c.afterRequests) {
      os << " after request " << c.requests;
    } else {
      os << " at +" << c.delay << "s";
    }
    if (c.kind == ChangePlan::Kind::focusWindow || c.kind == ChangePlan::Kind::focusElement) {
      os << " to ";
      showFocus(os, c.focus);
    }
    if (c.kind == ChangePlan::Kind::retitle) {
      os << " to ";
      showText(os, c.text);
    }
    os << "\n";
  }
  return os;
}

}  // namespace nevo::hostile
