#include "observe/walk.h"

#include <algorithm>

namespace nevo {

const RoleTable& roleTable() {
  static const RoleTable table = {
      {"AXButton", "button"},
      {"AXTextField", "textbox"},
      {"AXTextArea", "textbox"},
      {"AXComboBox", "combobox"},
      {"AXPopUpButton", "combobox"},
      {"AXCheckBox", "checkbox"},
      {"AXRadioButton", "radio"},
      {"AXMenuItem", "menuitem"},
      {"AXStaticText", "text"},
      {"AXScrollArea", "scrollarea"},
      {"AXTable", "table"},
      {"AXRow", "row"},
      {"AXLink", "link"},
      {"AXSlider", "slider"},
      {"AXTabGroup", "tabs"},
      {"AXSheet", "dialog"},
      {"AXDialog", "dialog"},
      {"AXWindow", "window"},
  };
  return table;
}

namespace {

bool budgetsUsedUp(const ObservationState& state) {
  return state.visited >= kVisitBudget || state.elements.size() >= kRecordBudget;
}

bool deadlinePassed(Platform& platform, const ObservationState& state) {
  return !(platform.now() < state.deadline);
}

// What decides protection, the frame and qualification: the first request about an
// element.
constexpr std::string_view kDecidingAttributes[] = {
    "AXRole", "AXSubrole", "AXProtectedContent", "AXPosition", "AXSize", "AXEnabled",
    "AXIdentifier"};
enum DecidingAttribute : std::size_t {
  kRole,
  kSubrole,
  kProtectedContent,
  kPosition,
  kSize,
  kEnabled,
  kIdentifier,
};
// The texts: a second request, made only for an element that is not protected.
constexpr std::string_view kTextAttributes[] = {"AXTitle", "AXDescription", "AXValue"};
enum TextAttribute : std::size_t { kTitle, kDescription, kValue };

bool isProtected(std::string_view subrole, const AttrValue& protectedContent) {
  return subrole == "AXSecureTextField" || booleanValue(protectedContent).value_or(false);
}

}  // namespace

void visit(Platform& platform, ObservationState& state, const Element& element,
           const std::string& path, int depth, ProcessId pid) {
  // Budgets first (they cost nothing to test), then the clock, then the depth.
  if (budgetsUsedUp(state) || deadlinePassed(platform, state) || depth >= kDepthLimit) {
    state.truncated = true;
    return;
  }
  ++state.visited;
  if (appendElement(platform, state, element, path, pid)) return;

  const CountRead count = platform.getAttributeValueCount(element, "AXChildren");
  if (count.status != AxStatus::success || count.count < 1) return;
  // Never copy more child references than the walk may still visit.
  const std::int64_t remaining = kVisitBudget - state.visited;
  if (remaining < count.count) state.truncated = true;
  const long asked = static_cast<long>(std::min<std::int64_t>(count.count, remaining));
  if (asked < 1) return;
  const AttributeRead children = platform.copyAttributeValues(element, "AXChildren", 0, asked);
  if (children.status != AxStatus::success) return;
  const ArrayValue* array = children.value.get<ArrayValue>();
  if (array == nullptr) return;

  // An application that hands out more children than asked for gets no more visits for it.
  const std::size_t copied = std::min(array->size(), static_cast<std::size_t>(asked));
  for (std::size_t i = 0; i < copied; ++i) {
    // A value that is not an element keeps its position (the paths of the children after
    // it do not shift) but is never visited, counted or matched.
    if (const Element* child = (*array)[i].get<Element>()) {
      visit(platform, state, *child, path + "." + std::to_string(i), depth + 1, pid);
    }
    // After each child: once time or a budget has run out, no further sibling is visited.
    if (deadlinePassed(platform, state) || budgetsUsedUp(state)) {
      state.truncated = true;
      return;
    }
  }
}

bool appendElement(Platform& platform, ObservationState& state, const Element& element,
                   std::string_view path, ProcessId pid) {
  const std::vector<AttrValue> deciding = attributes(platform, element, kDecidingAttributes);
  const std::string rawRole = text(deciding[kRole]);
  const bool protectedElement =
      isProtected(text(deciding[kSubrole]), deciding[kProtectedContent]);
  const auto known = state.roles.find(rawRole);
  const bool roleInTable = known != state.roles.end();
  const std::string& role = roleInTable ? known->second : rawRole;

  const bool isFocused = state.focused && *state.focused == element;
  if (isFocused && state.includedFocusedElement) return protectedElement;

  // Without a visible frame there is no record, whatever the texts would say.
  const std::optional<Rect> frame = bounds(deciding[kPosition], deciding[kSize]);
  if (!frame || !(rectWidth(*frame) > 0) || !(rectHeight(*frame) > 0)) return protectedElement;

  // A protected element's title, description and value are never asked for.
  std::string title;
  std::string description;
  std::string value;
  if (!protectedElement) {
    const std::vector<AttrValue> texts = attributes(platform, element, kTextAttributes);
    title = text(texts[kTitle]);
    description = text(texts[kDescription]);
    value = text(texts[kValue]);
  }
  const std::string& name = !title.empty()         ? title
                            : !description.empty() ? description
                            : role == "text"       ? value
                                                   : std::string();
  if (!roleInTable && !isFocused && name.empty()) return protectedElement;

  const bool enabled = booleanValue(deciding[kEnabled]).value_or(true);
  const bool valueWithheld = role == "textbox" || role == "combobox";
  Reply record = {
      {"id", std::to_string(pid) + ":" + (isFocused ? std::string("focus") : std::string(path))},
      {"role", role},
      {"name", protectedElement ? std::string() : name},
      {"identifier", text(deciding[kIdentifier])},
      {"value", protectedElement || valueWithheld ? std::string() : value},
      {"hasValue", !protectedElement && !value.empty()},
      {"enabled", enabled},
      {"focused", isFocused},
      {"protected", protectedElement},
      {"bounds", rect(*frame)},
  };
  record["hittable"] =
      !protectedElement && enabled && centerIsExposed(platform, state, element, *frame);
  state.elements.push_back(std::move(record));
  if (isFocused) state.includedFocusedElement = true;
  return protectedElement;
}

bool centerIsExposed(Platform& platform, const ObservationState& state, const Element& element,
                     const Rect& frame) {
  if (!(rectWidth(frame) > 0) || !(rectHeight(frame) > 0)) return false;
  const ElementRead hit = platform.copyElementAtPosition(
      state.system, static_cast<float>(rectMidX(frame)), static_cast<float>(rectMidY(frame)));
  if (hit.status != AxStatus::success) return false;
  std::optional<Element> candidate = hit.element;
  for (int compared = 1; candidate; ++compared) {
    if (*candidate == element) return true;
    // The last candidate's parent would never be compared: do not ask for it.
    if (compared == kHitTestCandidates) return false;
    candidate = axElement(attribute(platform, *candidate, "AXParent"));
  }
  return false;
}

}  // namespace nevo
