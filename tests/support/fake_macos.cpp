#include "fake_macos.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_set>

#include <utf8proc.h>

namespace nevo::fake {
namespace {

enum class Kind { string, number, boolean, null, array, axValue, element, other };

// Type identifiers as the fake hands them out; any distinct numbers do.
constexpr CFTypeID kNullTypeId = 16;
constexpr CFTypeID kArrayTypeId = 19;
constexpr CFTypeID kBooleanTypeId = 21;
constexpr CFTypeID kNumberTypeId = 22;
constexpr CFTypeID kStringTypeId = 7;
constexpr CFTypeID kOtherTypeId = 29;
constexpr CFTypeID kAxElementTypeId = 201;
constexpr CFTypeID kAxValueTypeId = 202;

// What a failed count request writes when failures hand out values.
constexpr CFIndex kHandedOutCount = 987654;

struct Object {
  Kind kind = Kind::other;
  std::string origin;  // the call that made it
  long references = 1;
  long permanentBase = 0;  // the references a permanent object never gives up
  bool poisoned = false;   // handed out with an error: to be released unread
  bool poisonReported = false;
  std::u16string text;                            // string
  CFNumberType numberType = kCFNumberSInt64Type;  // number
  long long integer = 0;
  double real = 0;
  bool truth = false;                           // boolean
  std::vector<const Object*> items;             // array, one reference each
  AXValueType valueType = kAXValueTypeIllegal;  // value wrapper
  unsigned char payload[32] = {};
  std::size_t payloadSize = 0;
  sim::SimDesktop* desktop = nullptr;  // element
  std::optional<Element> element;
};

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::string:
      return "string";
    case Kind::number:
      return "number";
    case Kind::boolean:
      return "boolean";
    case Kind::null:
      return "null";
    case Kind::array:
      return "array";
    case Kind::axValue:
      return "value wrapper";
    case Kind::element:
      return "element";
    case Kind::other:
      return "object";
  }
  return "object";
}

std::string utf8Of(std::u16string_view units) {
  std::string out;
  for (char16_t u : units) out += u < 0x80 ? static_cast<char>(u) : '?';
  return out;
}

std::string describe(const Object& o) {
  const std::string kind = kindName(o.kind);
  std::string d = (kind[0] == 'a' || kind[0] == 'e' || kind[0] == 'o' ? "an " : "a ") + kind;
  if (o.kind == Kind::string) d += " \"" + utf8Of(o.text.substr(0, 40)) + "\"";
  if (!o.origin.empty()) d += " from " + o.origin;
  return d;
}

Object makePermanent(Kind kind, bool truth = false, std::u16string text = {}) {
  Object o;
  o.kind = kind;
  o.truth = truth;
  o.text = std::move(text);
  o.permanentBase = 1;
  o.origin = "the system";
  return o;
}

Object trueObject = makePermanent(Kind::boolean, true);
Object falseObject = makePermanent(Kind::boolean, false);
Object nullObject = makePermanent(Kind::null);
Object defaultModeObject = makePermanent(Kind::string, false, u"kCFRunLoopDefaultMode");

struct Override {
  Element element;
  std::string attribute;
  std::function<CFTypeRef()> make;
};

// What the workspace took in since the last turn of the run loop, by kind of read.
struct WorkspaceTaken {
  std::optional<std::optional<RunningApplication>> frontmost;
  std::optional<std::vector<RunningApplication>> running;
  std::map<ProcessId, std::optional<RunningApplication>> byPid;
};

struct State {
  sim::SimDesktop* desktop = nullptr;
  WorkspaceTaken workspace;
  int requests = 0;
  int refuseAfter = -1;  // negative: no request is refused but for want of trust
  std::vector<std::unique_ptr<Object>> objects;  // every object of this test, freed ones too
  std::unordered_set<const void*> known;
  std::vector<Override> overrides;
  std::map<std::string, int, std::less<>> calls;
  std::vector<std::string> problems;
  RunLoop runLoop;

  State() { knowPermanentObjects(); }
  void knowPermanentObjects() {
    for (const Object* o : {&trueObject, &falseObject, &nullObject, &defaultModeObject}) {
      known.insert(o);
    }
  }
};

State& state() {
  static State s;
  return s;
}

[[noreturn]] void fatal(std::string_view function, const std::string& problem) {
  std::fprintf(stderr, "fake macOS: %.*s: %s\n", static_cast<int>(function.size()), function.data(),
               problem.c_str());
  std::fflush(stderr);
  std::abort();
}

void called(std::string_view function) {
  auto& calls = state().calls;
  auto it = calls.find(function);
  if (it == calls.end()) it = calls.emplace(std::string(function), 0).first;
  ++it->second;
}

// The object behind a reference, alive (for CFRetain and CFRelease, which do not read it).
Object& live(CFTypeRef ref, std::string_view function) {
  if (ref == nullptr) fatal(function, "NULL passed where an object is required");
  if (state().known.count(ref) == 0) fatal(function, "a pointer that is no object of the fake");
  Object& o = *const_cast<Object*>(static_cast<const Object*>(ref));
  if (o.references <= 0) fatal(function, "used after it was freed: " + describe(o));
  return o;
}

// The object behind a reference that is read: alive and of the kind the function expects.
Object& use(CFTypeRef ref, std::string_view function, std::optional<Kind> kind = std::nullopt) {
  Object& o = live(ref, function);
  if (kind && o.kind != *kind) {
    fatal(function, std::string("expects a ") + kindName(*kind) + ", got " + describe(o));
  }
  if (o.poisoned && !o.poisonReported) {
    o.poisonReported = true;
    state().problems.push_back(std::string(function) +
                               " read a value handed out with an error: " + describe(o));
  }
  return o;
}

Object& make(Kind kind, std::string origin) {
  auto o = std::make_unique<Object>();
  o->kind = kind;
  o->origin = std::move(origin);
  Object& made = *o;
  state().known.insert(o.get());
  state().objects.push_back(std::move(o));
  return made;
}

template <class T = CFTypeRef>
T ref(const Object& o) {
  return reinterpret_cast<T>(&o);
}

void retain(Object& o) {
  ++o.references;
}

void release(Object& o, std::string_view function) {
  // Also for the items of an array being freed: an item released by someone it was only lent
  // to is caught here, when the array lets go of it.
  if (o.permanentBase == 0 && o.references <= 0) {
    fatal(function, "released after it was freed: " + describe(o));
  }
  if (o.permanentBase > 0) {
    if (o.references <= o.permanentBase) fatal(function, "released once too often: " + describe(o));
    --o.references;
    return;
  }
  if (--o.references > 0) return;
  for (const Object* item : o.items) release(*const_cast<Object*>(item), "the release of an array");
  o.items.clear();
  o.element.reset();
}

sim::SimDesktop& desktop(std::string_view function) {
  if (state().desktop == nullptr) fatal(function, "no simulated desktop is bound");
  return *state().desktop;
}

// Text ---------------------------------------------------------------------------------

// UTF-8 as UTF-16; nullopt when it is not valid UTF-8, or, when `lenient`, U+FFFD for each
// byte that cannot be decoded.
std::optional<std::u16string> utf16Of(std::string_view bytes, bool lenient) {
  std::u16string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t length =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(bytes.data() + i),
                         static_cast<utf8proc_ssize_t>(bytes.size() - i), &c);
    if (length <= 0) {
      if (!lenient) return std::nullopt;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string nameOf(CFStringRef name, std::string_view function) {
  const Object& o = use(name, function, Kind::string);
  std::string out;
  for (char16_t u : o.text) {
    if (u >= 0x80) fatal(function, "an attribute or action name that is not ASCII");
    out += static_cast<char>(u);
  }
  return out;
}

// Values -------------------------------------------------------------------------------

Object& makeStringObject(std::u16string units, std::string origin) {
  Object& o = make(Kind::string, std::move(origin));
  o.text = std::move(units);
  return o;
}

template <class T>
Object& makeWrapper(AXValueType type, const T& payload, std::string origin) {
  static_assert(sizeof(T) <= sizeof(Object::payload));
  Object& o = make(Kind::axValue, std::move(origin));
  o.valueType = type;
  std::memcpy(o.payload, &payload, sizeof(T));
  o.payloadSize = sizeof(T);
  return o;
}

Object& permanent(Object& o) {
  retain(o);
  return o;
}

bool writtenAsInteger(const NumberValue& n) {
  return !n.text.empty() && n.text.find_first_not_of("-0123456789") == std::string::npos &&
         std::fabs(n.value) < 9.2e18;
}

// The desktop's value as a fake object with one reference for the caller; null for an
// absent value unless `absentAsNull`, which gives kCFNull (inside arrays and batches).
CFTypeRef toCf(const AttrValue& value, const std::string& origin, bool absentAsNull) {
  if (value.absent()) return absentAsNull ? ref(permanent(nullObject)) : nullptr;
  if (const std::string* s = value.get<std::string>()) {
    return ref(makeStringObject(*utf16Of(*s, true), origin));
  }
  if (const NumberValue* n = value.get<NumberValue>()) {
    Object& o = make(Kind::number, origin);
    if (writtenAsInteger(*n)) {
      o.numberType = kCFNumberSInt64Type;
      o.integer = static_cast<long long>(n->value);
    } else {
      o.numberType = kCFNumberFloat64Type;
      o.real = n->value;
    }
    return ref(o);
  }
  if (const bool* b = value.get<bool>()) return ref(permanent(*b ? trueObject : falseObject));
  if (const Element* e = value.get<Element>()) {
    Object& o = make(Kind::element, origin);
    o.desktop = state().desktop;
    o.element = *e;
    return ref(o);
  }
  if (const ArrayValue* a = value.get<ArrayValue>()) {
    Object& o = make(Kind::array, origin);
    for (const AttrValue& item : *a) {
      o.items.push_back(static_cast<const Object*>(toCf(item, origin + " item", true)));
    }
    return ref(o);
  }
  if (const PointValue* p = value.get<PointValue>()) {
    return ref(makeWrapper(kAXValueTypeCGPoint, CGPoint{p->x, p->y}, origin));
  }
  if (const SizeValue* s = value.get<SizeValue>()) {
    return ref(makeWrapper(kAXValueTypeCGSize, CGSize{s->width, s->height}, origin));
  }
  const OtherValue& other = *value.get<OtherValue>();
  if (other.kind == "range") return ref(makeWrapper(kAXValueTypeCFRange, CFRange{0, 0}, origin));
  if (other.kind == "rect") return ref(makeWrapper(kAXValueTypeCGRect, CGRect{}, origin));
  return ref(make(Kind::other, origin));
}

CFTypeRef poisoned(Kind kind, const std::string& origin) {
  Object& o = make(kind, origin + ", handed out with an error");
  o.poisoned = true;
  if (kind == Kind::string) o.text = u"handed out with an error";
  return ref(o);
}

AXError axError(AxStatus status) {
  switch (status) {
    case AxStatus::success:
      return kAXErrorSuccess;
    case AxStatus::failure:
      return kAXErrorFailure;
    case AxStatus::attributeUnsupported:
      return kAXErrorAttributeUnsupported;
    case AxStatus::noValue:
      return kAXErrorNoValue;
    case AxStatus::cannotComplete:
      return kAXErrorCannotComplete;
    case AxStatus::invalidElement:
      return kAXErrorInvalidUIElement;
    case AxStatus::actionUnsupported:
      return kAXErrorActionUnsupported;
  }
  return kAXErrorFailure;
}

const Override* overrideFor(const Object& element, std::string_view attribute) {
  for (const Override& o : state().overrides) {
    if (o.attribute == attribute && o.element == *element.element) return &o;
  }
  return nullptr;
}

// The value a successful read of `name` hands out.
CFTypeRef served(const Object& element, const std::string& name, const AttrValue& value,
                 const std::string& origin, bool absentAsNull) {
  if (const Override* o = overrideFor(element, name)) return o->make();
  return toCf(value, origin, absentAsNull);
}

Object& elementObject(AXUIElementRef element, std::string_view function) {
  Object& o = use(element, function, Kind::element);
  if (!o.element) fatal(function, "a request through " + describe(o));
  return o;
}

// Counts one accessibility request through `e` and tells whether the system refuses it:
// the desktop does not trust the tool, or the test withdrew the permission before it.
bool refused(const Object& e) {
  const int request = ++state().requests;
  const int allowed = state().refuseAfter;
  return !e.desktop->trusted || (allowed >= 0 && request > allowed);
}

class DesktopWorkspace final : public macos::Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override {
    auto& taken = state().workspace.frontmost;
    if (!taken) taken = desktop("frontmostApplication").frontmostApplication();
    return *taken;
  }
  std::vector<RunningApplication> runningApplications() override {
    auto& taken = state().workspace.running;
    if (!taken) taken = desktop("runningApplications").runningApplications();
    return *taken;
  }
  std::optional<RunningApplication> runningApplication(ProcessId pid) override {
    auto& byPid = state().workspace.byPid;
    auto it = byPid.find(pid);
    if (it == byPid.end()) {
      it = byPid.emplace(pid, desktop("runningApplicationWithProcessIdentifier")
                                  .runningApplication(pid))
               .first;
    }
    return it->second;
  }
  bool activate(const RunningApplication& application, unsigned options) override {
    return desktop("activateWithOptions").activate(application, options);
  }
};

AXUIElementRef newElement(sim::SimDesktop& d, Element element, std::string origin) {
  Object& o = make(Kind::element, std::move(origin));
  o.desktop = &d;
  o.element = std::move(element);
  return ref<AXUIElementRef>(o);
}

bool isFloatType(CFNumberType type) {
  return type == kCFNumberFloat32Type || type == kCFNumberFloat64Type ||
         type == kCFNumberFloatType || type == kCFNumberDoubleType || type == kCFNumberCGFloatType;
}

// CFNumberGetValue: the number as a T, and whether that lost nothing.
template <class T>
bool convertNumber(const Object& n, T* out) {
  const double value = isFloatType(n.numberType) ? n.real : static_cast<double>(n.integer);
  if constexpr (std::is_integral_v<T>) {
    if (!isFloatType(n.numberType)) {
      *out = static_cast<T>(n.integer);
      return static_cast<long long>(*out) == n.integer;
    }
    // Only what fits is converted: anything else would be undefined.
    constexpr double kBound = -static_cast<double>(std::numeric_limits<T>::min());
    if (!(value >= -kBound && value < kBound)) {
      *out = 0;
      return false;
    }
    *out = static_cast<T>(value);
    return static_cast<double>(*out) == value;
  } else {
    *out = static_cast<T>(value);
    if (std::isnan(value)) return true;
    if (static_cast<double>(*out) != value) return false;
    // An integer beyond 2^53 may have been rounded on its way to a double.
    return isFloatType(n.numberType) ||
           (value < 9223372036854775808.0 && static_cast<long long>(value) == n.integer);
  }
}

}  // namespace

// The test side --------------------------------------------------------------------------

void bind(sim::SimDesktop& d) {
  state().desktop = &d;
  // A new run of the tool is a new process, whose workspace reads the system afresh.
  state().workspace = WorkspaceTaken{};
}

void serveRaw(const Element& element, std::string attribute, std::function<CFTypeRef()> make) {
  state().overrides.push_back(Override{element, std::move(attribute), std::move(make)});
}

CFStringRef makeString(std::u16string_view units) {
  return ref<CFStringRef>(makeStringObject(std::u16string(units), "a test"));
}

CFNumberRef makeInteger(long long value, CFNumberType type) {
  Object& o = make(Kind::number, "a test");
  o.numberType = type;
  o.integer = value;
  return ref<CFNumberRef>(o);
}

CFNumberRef makeReal(double value, CFNumberType type) {
  Object& o = make(Kind::number, "a test");
  o.numberType = type;
  o.real = type == kCFNumberFloat32Type || type == kCFNumberFloatType
               ? static_cast<double>(static_cast<float>(value))
               : value;
  return ref<CFNumberRef>(o);
}

CFArrayRef makeArray(std::initializer_list<CFTypeRef> items) {
  Object& o = make(Kind::array, "a test");
  for (CFTypeRef item : items) o.items.push_back(&live(item, "makeArray"));
  return ref<CFArrayRef>(o);
}

AXValueRef makePoint(CGPoint point) {
  return ref<AXValueRef>(makeWrapper(kAXValueTypeCGPoint, point, "a test"));
}
AXValueRef makeSize(CGSize size) {
  return ref<AXValueRef>(makeWrapper(kAXValueTypeCGSize, size, "a test"));
}
AXValueRef makeRect(CGRect rect) {
  return ref<AXValueRef>(makeWrapper(kAXValueTypeCGRect, rect, "a test"));
}
AXValueRef makeRange(CFRange range) {
  return ref<AXValueRef>(makeWrapper(kAXValueTypeCFRange, range, "a test"));
}
AXValueRef makeError(AXError error) {
  return ref<AXValueRef>(makeWrapper(kAXValueTypeAXError, error, "a test"));
}
CFTypeRef makeOther() {
  return ref(make(Kind::other, "a test"));
}

long referenceCount(CFTypeRef object) {
  if (state().known.count(object) == 0) fatal("referenceCount", "no object of the fake");
  return static_cast<const Object*>(object)->references;
}

std::size_t liveObjects() {
  return static_cast<std::size_t>(
      std::count_if(state().objects.begin(), state().objects.end(),
                    [](const std::unique_ptr<Object>& o) { return o->references > 0; }));
}

int calls(std::string_view function) {
  const auto it = state().calls.find(function);
  return it != state().calls.end() ? it->second : 0;
}

RunLoop& runLoop() {
  return state().runLoop;
}

macos::Workspace& workspace() {
  static DesktopWorkspace workspace;
  return workspace;
}

void runLoopTurned() {
  state().workspace = WorkspaceTaken{};
}

void refuseRequestsAfter(int allowed) {
  state().refuseAfter = allowed;
}

int requests() {
  return state().requests;
}

std::vector<std::string> endTest() {
  State& s = state();
  std::vector<std::string> problems = std::move(s.problems);
  for (const auto& o : s.objects) {
    if (o->references > 0) {
      problems.push_back("not released: " + describe(*o) + " (" + std::to_string(o->references) +
                         (o->references == 1 ? " reference)" : " references)"));
    }
  }
  for (Object* o : {&trueObject, &falseObject, &nullObject, &defaultModeObject}) {
    if (o->references != o->permanentBase) {
      problems.push_back("not released: " + std::to_string(o->references - o->permanentBase) +
                         " reference(s) to " +
                         (o == &trueObject    ? std::string("kCFBooleanTrue")
                          : o == &falseObject ? std::string("kCFBooleanFalse")
                          : o == &nullObject  ? std::string("kCFNull")
                                              : std::string("kCFRunLoopDefaultMode")));
      o->references = o->permanentBase;
    }
  }
  // Overrides may hold elements, and elements hold the desktop's references: drop them
  // before the objects.
  s.overrides.clear();
  s.objects.clear();
  s.known.clear();
  s.knowPermanentObjects();
  s.problems.clear();
  s.calls.clear();
  s.runLoop = RunLoop{};
  s.workspace = WorkspaceTaken{};
  s.requests = 0;
  s.refuseAfter = -1;
  s.desktop = nullptr;
  return problems;
}

}  // namespace nevo::fake

// The C interface ------------------------------------------------------------------------

using namespace nevo;
using namespace nevo::fake;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = ref<CFBooleanRef>(trueObject);
const CFBooleanRef kCFBooleanFalse = ref<CFBooleanRef>(falseObject);
const CFNullRef kCFNull = ref<CFNullRef>(nullObject);
const CFRunLoopMode kCFRunLoopDefaultMode = ref<CFStringRef>(defaultModeObject);
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, nullptr};
const CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;

CFTypeID CFGetTypeID(CFTypeRef cf) {
  called("CFGetTypeID");
  switch (use(cf, "CFGetTypeID").kind) {
    case Kind::string:
      return kStringTypeId;
    case Kind::number:
      return kNumberTypeId;
    case Kind::boolean:
      return kBooleanTypeId;
    case Kind::null:
      return kNullTypeId;
    case Kind::array:
      return kArrayTypeId;
    case Kind::axValue:
      return kAxValueTypeId;
    case Kind::element:
      return kAxElementTypeId;
    case Kind::other:
      return kOtherTypeId;
  }
  return kOtherTypeId;
}

CFTypeRef CFRetain(CFTypeRef cf) {
  called("CFRetain");
  retain(live(cf, "CFRetain"));
  return cf;
}

void CFRelease(CFTypeRef cf) {
  called("CFRelease");
  if (cf == nullptr) fatal("CFRelease", "CFRelease(NULL)");
  if (state().known.count(cf) == 0) fatal("CFRelease", "a pointer that is no object of the fake");
  release(*const_cast<Object*>(static_cast<const Object*>(cf)), "CFRelease");
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  called("CFEqual");
  const Object& a = use(cf1, "CFEqual");
  const Object& b = use(cf2, "CFEqual");
  if (&a == &b) return true;
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Kind::element:
      return *a.element == *b.element;
    case Kind::string:
      return a.text == b.text;
    case Kind::number:
      return a.integer == b.integer && a.real == b.real;
    default:
      return false;
  }
}

CFTypeID CFStringGetTypeID(void) {
  return kStringTypeId;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
  called("CFStringCreateWithBytes");
  if (encoding != kCFStringEncodingUTF8 || isExternalRepresentation) {
    fatal("CFStringCreateWithBytes", "only UTF-8 without a byte order mark is faked");
  }
  if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) {
    fatal("CFStringCreateWithBytes", "no bytes");
  }
  const std::optional<std::u16string> units = utf16Of(
      std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes)),
      false);
  if (!units) return nullptr;  // as CoreFoundation does for bytes that are not UTF-8
  return ref<CFStringRef>(makeStringObject(*units, "CFStringCreateWithBytes"));
}

CFIndex CFStringGetLength(CFStringRef theString) {
  called("CFStringGetLength");
  return static_cast<CFIndex>(use(theString, "CFStringGetLength", Kind::string).text.size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
  called("CFStringGetCharacters");
  const std::u16string& text = use(theString, "CFStringGetCharacters", Kind::string).text;
  if (range.location < 0 || range.length < 0 ||
      static_cast<std::size_t>(range.location + range.length) > text.size()) {
    fatal("CFStringGetCharacters", "range out of bounds");
  }
  for (CFIndex i = 0; i < range.length; ++i) {
    buffer[i] = static_cast<UniChar>(text[static_cast<std::size_t>(range.location + i)]);
  }
}

CFTypeID CFNumberGetTypeID(void) {
  return kNumberTypeId;
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  called("CFNumberGetType");
  return use(number, "CFNumberGetType", Kind::number).numberType;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  called("CFNumberIsFloatType");
  return isFloatType(use(number, "CFNumberIsFloatType", Kind::number).numberType);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  called("CFNumberGetValue");
  const Object& n = use(number, "CFNumberGetValue", Kind::number);
  switch (theType) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      return convertNumber(n, static_cast<int*>(valuePtr));
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
      return convertNumber(n, static_cast<long long*>(valuePtr));
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      return convertNumber(n, static_cast<float*>(valuePtr));
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
      return convertNumber(n, static_cast<double*>(valuePtr));
    default:
      fatal("CFNumberGetValue", "a number type the fake does not convert to");
  }
}

CFTypeID CFBooleanGetTypeID(void) {
  return kBooleanTypeId;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  called("CFBooleanGetValue");
  return use(boolean, "CFBooleanGetValue", Kind::boolean).truth;
}

CFTypeID CFNullGetTypeID(void) {
  return kNullTypeId;
}

CFTypeID CFArrayGetTypeID(void) {
  return kArrayTypeId;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
  called("CFArrayCreate");
  if (callBacks != &kCFTypeArrayCallBacks) {
    fatal("CFArrayCreate", "only arrays of CoreFoundation objects (kCFTypeArrayCallBacks)");
  }
  if (numValues < 0 || (values == nullptr && numValues > 0)) fatal("CFArrayCreate", "no values");
  Object& array = make(Kind::array, "CFArrayCreate");
  for (CFIndex i = 0; i < numValues; ++i) {
    Object& item = live(values[i], "CFArrayCreate");
    retain(item);
    array.items.push_back(&item);
  }
  return ref<CFArrayRef>(array);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  called("CFArrayGetCount");
  return static_cast<CFIndex>(use(theArray, "CFArrayGetCount", Kind::array).items.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  called("CFArrayGetValueAtIndex");
  const Object& array = use(theArray, "CFArrayGetValueAtIndex", Kind::array);
  if (idx < 0 || static_cast<std::size_t>(idx) >= array.items.size()) {
    fatal("CFArrayGetValueAtIndex", "index out of range");
  }
  return array.items[static_cast<std::size_t>(idx)];
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
  called("CFAbsoluteTimeGetCurrent");
  return state().runLoop.now;
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
  called("CFRunLoopRunInMode");
  if (mode != kCFRunLoopDefaultMode) fatal("CFRunLoopRunInMode", "not the default mode");
  if (!(seconds >= 0)) fatal("CFRunLoopRunInMode", "a negative or undefined time");
  RunLoop& loop = state().runLoop;
  loop.runs.push_back(seconds);
  loop.returnsAfterSource.push_back(returnAfterSourceHandled != 0);
  runLoopTurned();
  if (loop.run) return loop.run(seconds);
  loop.now += seconds;
  return kCFRunLoopRunTimedOut;
}

// Accessibility -----------------------------------------------------------------------------

Boolean AXIsProcessTrusted(void) {
  called("AXIsProcessTrusted");
  return desktop("AXIsProcessTrusted").isProcessTrusted();
}

CFTypeID AXUIElementGetTypeID(void) {
  return kAxElementTypeId;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  called("AXUIElementCreateApplication");
  sim::SimDesktop& d = desktop("AXUIElementCreateApplication");
  return newElement(d, d.createApplicationElement(pid), "AXUIElementCreateApplication");
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  called("AXUIElementCreateSystemWide");
  sim::SimDesktop& d = desktop("AXUIElementCreateSystemWide");
  return newElement(d, d.createSystemWideElement(), "AXUIElementCreateSystemWide");
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
  called("AXUIElementSetMessagingTimeout");
  Object& e = elementObject(element, "AXUIElementSetMessagingTimeout");
  e.desktop->setMessagingTimeout(*e.element, timeoutInSeconds);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  called("AXUIElementCopyAttributeValue");
  const Object& e = elementObject(element, "AXUIElementCopyAttributeValue");
  const std::string name = nameOf(attribute, "AXUIElementCopyAttributeValue");
  if (value == nullptr) fatal("AXUIElementCopyAttributeValue", "no place for the value");
  const std::string origin = "AXUIElementCopyAttributeValue(" + name + ")";
  if (refused(e)) {
    *value = poisoned(Kind::string, origin);
    return kAXErrorAPIDisabled;
  }
  const AttributeRead read = e.desktop->copyAttributeValue(*e.element, name);
  if (read.status != AxStatus::success) {
    *value = poisoned(Kind::string, origin);
    return axError(read.status);
  }
  *value = served(e, name, read.value, origin, false);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values) {
  called("AXUIElementCopyMultipleAttributeValues");
  constexpr std::string_view kFunction = "AXUIElementCopyMultipleAttributeValues";
  const Object& e = elementObject(element, kFunction);
  if (options != 0) fatal(kFunction, "only a batch without options is faked");
  if (values == nullptr) fatal(kFunction, "no place for the values");
  std::vector<std::string> names;
  for (const Object* item : use(attributes, kFunction, Kind::array).items) {
    names.push_back(nameOf(ref<CFStringRef>(*item), kFunction));
  }
  std::string origin = std::string(kFunction) + "(";
  for (std::size_t i = 0; i < names.size(); ++i) origin += (i > 0 ? "," : "") + names[i];
  origin += ")";
  if (refused(e)) {
    *values = static_cast<CFArrayRef>(poisoned(Kind::array, origin));
    return kAXErrorAPIDisabled;
  }

  const std::vector<std::string_view> views(names.begin(), names.end());
  const std::vector<AttributeRead> reads =
      e.desktop->copyMultipleAttributeValues(*e.element, views);
  // The request itself failed when every attribute failed for a reason of the request.
  const bool requestFailed =
      !reads.empty() && std::all_of(reads.begin(), reads.end(), [&](const AttributeRead& r) {
        return r.status == reads.front().status &&
               (r.status == AxStatus::cannotComplete || r.status == AxStatus::invalidElement);
      });
  if (requestFailed) {
    *values = static_cast<CFArrayRef>(poisoned(Kind::array, origin));
    return axError(reads.front().status);
  }
  Object& array = make(Kind::array, origin);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    const std::string itemOrigin = origin + " item " + names[i];
    CFTypeRef item =
        reads[i].status == AxStatus::success
            ? served(e, names[i], reads[i].value, itemOrigin, true)
            : ref(makeWrapper(kAXValueTypeAXError, axError(reads[i].status), itemOrigin));
    array.items.push_back(&live(item, kFunction));
  }
  *values = ref<CFArrayRef>(array);
  return kAXErrorSuccess;
}

AXError AXUIElementGetAttributeValueCount(AXUIElementRef element, CFStringRef attribute,
                                          CFIndex* count) {
  called("AXUIElementGetAttributeValueCount");
  const Object& e = elementObject(element, "AXUIElementGetAttributeValueCount");
  const std::string name = nameOf(attribute, "AXUIElementGetAttributeValueCount");
  if (count == nullptr) fatal("AXUIElementGetAttributeValueCount", "no place for the count");
  if (refused(e)) {
    *count = kHandedOutCount;
    return kAXErrorAPIDisabled;
  }
  const CountRead read = e.desktop->getAttributeValueCount(*e.element, name);
  if (read.status != AxStatus::success) {
    *count = kHandedOutCount;
    return axError(read.status);
  }
  *count = static_cast<CFIndex>(read.count);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValues(AXUIElementRef element, CFStringRef attribute, CFIndex index,
                                       CFIndex maxValues, CFArrayRef* values) {
  called("AXUIElementCopyAttributeValues");
  const Object& e = elementObject(element, "AXUIElementCopyAttributeValues");
  const std::string name = nameOf(attribute, "AXUIElementCopyAttributeValues");
  if (values == nullptr) fatal("AXUIElementCopyAttributeValues", "no place for the values");
  const std::string origin = "AXUIElementCopyAttributeValues(" + name + ")";
  if (refused(e)) {
    *values = static_cast<CFArrayRef>(poisoned(Kind::array, origin));
    return kAXErrorAPIDisabled;
  }
  const AttributeRead read = e.desktop->copyAttributeValues(*e.element, name, index, maxValues);
  if (read.status != AxStatus::success) {
    *values = static_cast<CFArrayRef>(poisoned(Kind::array, origin));
    return axError(read.status);
  }
  *values = static_cast<CFArrayRef>(served(e, name, read.value, origin, false));
  return kAXErrorSuccess;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  called("AXUIElementSetAttributeValue");
  const Object& e = elementObject(element, "AXUIElementSetAttributeValue");
  const std::string name = nameOf(attribute, "AXUIElementSetAttributeValue");
  const Object& v = use(value, "AXUIElementSetAttributeValue");
  if (v.kind != Kind::boolean) {
    state().problems.push_back("AXUIElementSetAttributeValue(" + name +
                               ") was given a value that is not a boolean: " + describe(v));
    return kAXErrorIllegalArgument;
  }
  if (refused(e)) return kAXErrorAPIDisabled;
  return axError(e.desktop->setBooleanAttribute(*e.element, name, v.truth));
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  called("AXUIElementPerformAction");
  const Object& e = elementObject(element, "AXUIElementPerformAction");
  const std::string name = nameOf(action, "AXUIElementPerformAction");
  if (refused(e)) return kAXErrorAPIDisabled;
  return axError(e.desktop->performAction(*e.element, name));
}

AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* element) {
  called("AXUIElementCopyElementAtPosition");
  const Object& e = elementObject(application, "AXUIElementCopyElementAtPosition");
  if (element == nullptr) fatal("AXUIElementCopyElementAtPosition", "no place for the element");
  if (refused(e)) {
    *element =
        static_cast<AXUIElementRef>(poisoned(Kind::element, "AXUIElementCopyElementAtPosition"));
    return kAXErrorAPIDisabled;
  }
  const ElementRead read = e.desktop->copyElementAtPosition(*e.element, x, y);
  if (read.status != AxStatus::success || !read.element) {
    *element =
        static_cast<AXUIElementRef>(poisoned(Kind::element, "AXUIElementCopyElementAtPosition"));
    return read.status != AxStatus::success ? axError(read.status) : kAXErrorNoValue;
  }
  *element = newElement(*e.desktop, *read.element, "AXUIElementCopyElementAtPosition");
  return kAXErrorSuccess;
}

CFTypeID AXValueGetTypeID(void) {
  return kAxValueTypeId;
}

AXValueType AXValueGetType(AXValueRef value) {
  called("AXValueGetType");
  return use(value, "AXValueGetType", Kind::axValue).valueType;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
  called("AXValueGetValue");
  const Object& v = use(value, "AXValueGetValue", Kind::axValue);
  if (v.valueType != theType) return false;
  std::memcpy(valuePtr, v.payload, v.payloadSize);
  return true;
}

}  // extern "C"
