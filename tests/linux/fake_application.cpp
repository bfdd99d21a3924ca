#include "fake_application.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "dbus_reference.h"

namespace nevo::lin::test {
namespace {

// How often the serving thread looks whether it should stop or resume.
constexpr int kServeSliceMilliseconds = 2;

const std::string kRoot = std::string(kRootPath);

void appendReferenceTo(DBusMessageIter& into, const std::string& path) {
  appendReference(into, kFakeBusName, path.c_str());
}

// Messages written by hand, in this machine's byte order (little-endian), for what libdbus
// would take too long to build: bodies of many megabytes.
struct Bytes {
  std::string out;
  explicit Bytes(std::size_t at = 0) : out(at, '\0') {}
  void align(std::size_t n) { out.resize((out.size() + n - 1) / n * n, '\0'); }
  void u8(std::uint8_t v) { out += static_cast<char>(v); }
  void u32(std::uint32_t v) {
    align(4);
    out.append(reinterpret_cast<const char*>(&v), 4);
  }
  void string(std::string_view text) {
    u32(static_cast<std::uint32_t>(text.size()));
    out += text;
    out += '\0';
  }
  void signature(std::string_view text) {
    u8(static_cast<std::uint8_t>(text.size()));
    out += text;
    out += '\0';
  }
};

// A message of `type` with the fields given (already written, from offset 16) and `body`.
std::string handBuilt(std::uint8_t type, const std::string& fields, const std::string& body) {
  Bytes header;
  header.out = {'l', static_cast<char>(type), 0, 1};
  header.u32(static_cast<std::uint32_t>(body.size()));
  header.u32(900);  // its own serial
  header.u32(static_cast<std::uint32_t>(fields.size() - 16));
  std::string message = header.out + fields.substr(16);
  message.resize((message.size() + 7) / 8 * 8, '\0');
  return message + body;
}

std::string handBuiltReply(std::uint32_t replyTo, std::string_view signature,
                           const std::string& body) {
  Bytes fields(16);
  fields.u8(5);
  fields.signature("u");
  fields.u32(replyTo);
  fields.align(8);
  fields.u8(8);
  fields.signature("g");
  fields.signature(signature);
  return handBuilt(kMessageMethodReturn, fields.out, body);
}

// The deepest nesting the bus relays in a value of a dictionary entry: 31 structures in
// the entry (itself one) in an array.
const std::string& deepType() {
  static const std::string type = std::string(31, '(') + "y" + std::string(31, ')');
  return type;
}

// A signal whose header holds hundreds of fields of a code no one defines, each a deep
// variant.
const std::string& deepSignal() {
  static const std::string message = [] {
    Bytes fields(16);
    for (int i = 0; i < 500; ++i) {
      fields.align(8);
      fields.u8(100);
      fields.signature(deepType());
      fields.align(8);
      fields.u8(1);
    }
    return handBuilt(kMessageSignal, fields.out, "");
  }();
  return message;
}

// Dictionary entries {"Deep": variant of deepType()}, from an offset that is a multiple of
// 8, up to near the message size limit.
const std::string& deepEntries() {
  static const std::string entries = [] {
    Bytes body;
    while (body.out.size() < kMessageSizeLimit - (64u << 10)) {
      body.align(8);
      body.string("Deep");
      body.signature(deepType());
      body.align(8);
      body.u8(7);
    }
    return body.out;
  }();
  return entries;
}

// 16 MiB less what a reply needs around its one string.
std::string huge(const std::string& text) {
  return text + std::string(kMessageSizeLimit - 4096 - text.size(), 'x');
}

}  // namespace

FakeApplication::FakeApplication() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
  link_ = Link::overSocket(fds[0], false);
  socket_ = fds[1];
  FakeObject root;
  root.role = 75;  // application
  root.name = "fake";
  objects_[kRoot] = root;
  thread_ = std::thread([this] { serve(); });
}

FakeApplication::~FakeApplication() {
  finished_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
  if (listener_ >= 0) ::close(listener_);
}

void FakeApplication::add(const std::string& path, const std::string& parent, FakeObject object) {
  const std::lock_guard<std::mutex> lock(mutex_);
  object.parent = parent;
  objects_[path] = object;
  objects_[parent].children.push_back(path);
}

void FakeApplication::setToolkit(FakeToolkit toolkit) {
  const std::lock_guard<std::mutex> lock(mutex_);
  toolkit_ = std::move(toolkit);
}

void FakeApplication::remove(const std::string& path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  objects_.erase(path);
}

std::vector<LoggedCall> FakeApplication::calls() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<LoggedCall> FakeApplication::callsOn(const std::string& path) const {
  std::vector<LoggedCall> found;
  for (const LoggedCall& call : calls()) {
    if (call.path == path) found.push_back(call);
  }
  return found;
}

namespace {

// One connection to the application: the bus's (authenticated from the start) or one made
// to its own socket.
struct Connection {
  int fd = -1;
  bool own = false;
  bool authenticated = true;
  int calls = 0;
  std::string input;
};

void sendAll(int fd, const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return;
    at += static_cast<std::size_t>(n);
  }
}

// Calls on the application's own connections after which it closes one.
constexpr int kCallsBeforeClosing = 3;

}  // namespace

void FakeApplication::setHostility(Hostility hostility) {
  const std::lock_guard<std::mutex> lock(mutex_);
  hostility_ = hostility;
  if (hostility == Hostility::deepValues) {
    // Built now, so that the first answers are not late for them.
    (void)deepSignal();
    (void)deepEntries();
  }
  if (hostility != Hostility::closesOwnConnections || listener_ >= 0) return;
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "nevo-fake-application-" + std::to_string(::getpid()) + "-" +
                           std::to_string(reinterpret_cast<std::uintptr_t>(this));
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::listen(listener, 16) == 0) {
    ownAddress_ = "unix:abstract=" + name;
    listener_ = listener;
  } else {
    ::close(listener);
  }
}

bool FakeApplication::serveFromChildProcess() {
  finished_ = true;
  if (thread_.joinable()) thread_.join();
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // The reader's end is the reader's alone: the application sees it close.
    link_.reset();
    finished_ = false;
    serve();
    ::_exit(0);
  }
  ::close(socket_);
  socket_ = -1;
  return true;
}

void FakeApplication::serve() {
  std::vector<Connection> connections{Connection{socket_, false, true, 0, {}}};
  char buffer[65536];
  while (!finished_) {
    const int listener = listener_;
    std::vector<pollfd> descriptors;
    for (const Connection& c : connections) descriptors.push_back(pollfd{c.fd, POLLIN, 0});
    if (listener >= 0) descriptors.push_back(pollfd{listener, POLLIN, 0});
    if (stopped_ || crashed_ ||
        ::poll(descriptors.data(), descriptors.size(), kServeSliceMilliseconds) <= 0) {
      if (stopped_ || crashed_) std::this_thread::sleep_for(std::chrono::milliseconds(kServeSliceMilliseconds));
      continue;
    }
    if (listener >= 0 && (descriptors.back().revents & POLLIN) != 0) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        connections.push_back(Connection{fd, true, false, 0, {}});
        ++ownConnections_;
      }
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
      Connection& c = connections[i];
      if (descriptors[i].revents == 0) continue;
      const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0 && !c.own) return;  // the reader has gone
      if (n <= 0) continue;
      c.input.append(buffer, static_cast<std::size_t>(n));
      if (!c.authenticated) {
        const std::size_t begin = c.input.find("BEGIN\r\n");
        if (begin == std::string::npos) continue;
        c.input.erase(0, begin + 7);
        c.authenticated = true;
        sendAll(c.fd, "OK 0123456789abcdef0123456789abcdef\r\n");
      }
      for (;;) {
        const std::optional<std::size_t> length = messageLength(c.input);
        if (!length || *length == 0 || *length > c.input.size()) break;
        if (c.own && ++c.calls > kCallsBeforeClosing) {
          // Gone with this call and whatever else came unanswered.
          ::close(c.fd);
          c.fd = -1;
          ++closedConnections_;
          break;
        }
        const std::string reply = answer(c.input.substr(0, *length));
        c.input.erase(0, *length);
        if (reply.empty()) continue;
        if (hostility_ == Hostility::deepValues) sendAll(c.fd, deepSignal());
        sendAll(c.fd, reply);
      }
    }
    std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
  }
}

std::string FakeApplication::answer(const std::string& bytes) {
  const std::uint32_t serial = [&] {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + 8, sizeof value);
    return value;
  }();
  const LibdbusMessage call = demarshal(bytes, serial);
  if (!call) return {};
  const std::string member = dbus_message_get_member(call.get());
  const std::string interface = dbus_message_get_interface(call.get());
  const std::string path = dbus_message_get_path(call.get());
  const char* destination = dbus_message_get_destination(call.get());
  DBusMessageIter args;
  dbus_message_iter_init(call.get(), &args);
  std::vector<std::string> strings;
  std::vector<dbus_int32_t> numbers;
  for (int type; (type = dbus_message_iter_get_arg_type(&args)) != DBUS_TYPE_INVALID;
       dbus_message_iter_next(&args)) {
    if (type == DBUS_TYPE_STRING) {
      const char* text = nullptr;
      dbus_message_iter_get_basic(&args, &text);
      strings.emplace_back(text);
    } else if (type == DBUS_TYPE_INT32) {
      dbus_int32_t number = 0;
      dbus_message_iter_get_basic(&args, &number);
      numbers.push_back(number);
    }
  }

  LibdbusMessage reply(dbus_message_new_method_return(call.get()));
  const auto error = [&] {
    return marshal(*LibdbusMessage(dbus_message_new_error(
        call.get(), "org.freedesktop.DBus.Error.UnknownObject", "no such object")));
  };
  DBusMessageIter out;
  dbus_message_iter_init_append(reply.get(), &out);

  // The bus daemon and the registry.
  if (interface == "org.freedesktop.DBus") {
    if (member == "Hello") {
      const char* name = ":1.99";
      dbus_message_iter_append_basic(&out, DBUS_TYPE_STRING, &name);
    } else if (member == "GetConnectionUnixProcessID") {
      const dbus_uint32_t pid = kFakePid;
      dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &pid);
    }
    return marshal(*reply);
  }
  if (destination != nullptr && std::string(destination) == std::string(kRegistryName)) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "(so)", &array);
    appendReferenceTo(array, kRoot);
    dbus_message_iter_close_container(&out, &array);
    return marshal(*reply);
  }

  const std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(
      LoggedCall{member, path, member == "Get" && strings.size() > 1 ? strings[1] : ""});
  if (interface == "org.freedesktop.DBus.Properties" && strings.size() < 2) {
    // What kills a Qt application: a properties call without a property (GetAll).
    crashed_ = true;
    return {};
  }
  if (member == "GetApplicationBusAddress" && !ownAddress_.empty()) {
    const char* address = ownAddress_.c_str();
    dbus_message_iter_append_basic(&out, DBUS_TYPE_STRING, &address);
    return marshal(*reply);
  }
  const auto found = objects_.find(path);
  if (found == objects_.end() || member == "GetApplicationBusAddress") return error();
  const FakeObject& object = found->second;
  if (hostility_ == Hostility::deepValues || hostility_ == Hostility::hugeStrings) {
    std::string hostile = hostileAnswer(bytes, member, object, serial);
    if (!hostile.empty()) return hostile;
  }

  if (member == "GetInterfaces") {
    std::vector<const char*> offered = {"org.a11y.atspi.Accessible"};
    if (path == kRoot) {
      offered.push_back("org.a11y.atspi.Application");
      if (toolkit_.collection) offered.push_back("org.a11y.atspi.Collection");
    } else {
      offered.push_back("org.a11y.atspi.Component");
    }
    DBusMessageIter array;
    dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "s", &array);
    for (const char* name : offered)
      dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &name);
    dbus_message_iter_close_container(&out, &array);
  } else if (member == "GetMatches" && !toolkit_.collection) {
    return error();
  } else if (member == "Get" && strings.size() == 2 && strings[0] == "org.a11y.atspi.Application") {
    if (path != kRoot || (strings[1] != "ToolkitName" && strings[1] != "Version")) return error();
    const char* value =
        strings[1] == "ToolkitName" ? toolkit_.name.c_str() : toolkit_.version.c_str();
    appendVariant(out, DBUS_TYPE_STRING, "s", &value);
  } else if (member == "Get" && strings.size() == 2 && strings[1] == "AccessibleId" &&
             !toolkit_.accessibleId) {
    return error();
  } else if (member == "GetRole") {
    dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &object.role);
  } else if (member == "GetState") {
    appendStates(out, static_cast<dbus_uint32_t>(object.states & 0xffffffffu),
                 static_cast<dbus_uint32_t>(object.states >> 32));
  } else if (member == "GetExtents") {
    appendExtents(
        out, {object.extents.x, object.extents.y, object.extents.width, object.extents.height});
  } else if (member == "GetChildren" || member == "GetMatches") {
    std::vector<std::string> listed;
    if (member == "GetChildren") {
      listed = object.children;
    } else {
      // The first object below this one (children only unless the search traverses) whose
      // states include the rule's: the rule's first array.
      DBusMessageIter rule, words;
      dbus_message_iter_init(call.get(), &args);
      dbus_message_iter_recurse(&args, &rule);
      dbus_message_iter_recurse(&rule, &words);
      StateSet wanted = 0;
      for (int word = 0; dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_INT32 && word < 2;
           ++word, dbus_message_iter_next(&words)) {
        dbus_int32_t bits = 0;
        dbus_message_iter_get_basic(&words, &bits);
        wanted |= StateSet{static_cast<std::uint32_t>(bits)} << (32 * word);
      }
      dbus_message_iter_next(&args);
      dbus_message_iter_next(&args);
      dbus_message_iter_next(&args);
      dbus_bool_t traverse = FALSE;
      dbus_message_iter_get_basic(&args, &traverse);
      const std::function<bool(const FakeObject&)> search = [&](const FakeObject& at) {
        for (const std::string& child : at.children) {
          const auto c = objects_.find(child);
          if (c == objects_.end()) continue;
          if ((c->second.states & wanted) == wanted) {
            listed.push_back(child);
            return true;
          }
          if (traverse && search(c->second)) return true;
        }
        return false;
      };
      search(object);
    }
    DBusMessageIter array;
    dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "(so)", &array);
    for (const std::string& child : listed) appendReferenceTo(array, child);
    dbus_message_iter_close_container(&out, &array);
  } else if (member == "GetText") {
    const std::size_t end = numbers.size() > 1 && numbers[1] >= 0
                                ? static_cast<std::size_t>(numbers[1])
                                : object.text.size();
    const std::string text = object.text.substr(0, end);
    const char* p = text.c_str();
    dbus_message_iter_append_basic(&out, DBUS_TYPE_STRING, &p);
  } else if (member == "Get" && strings.size() == 2) {
    const std::string& property = strings[1];
    const char* name = object.name.c_str();
    const char* description = object.description.c_str();
    const char* id = object.id.c_str();
    const auto count = static_cast<dbus_int32_t>(object.children.size());
    const auto characters = static_cast<dbus_int32_t>(object.text.size());
    if (property == "Name") {
      appendVariant(out, DBUS_TYPE_STRING, "s", &name);
    } else if (property == "Description") {
      appendVariant(out, DBUS_TYPE_STRING, "s", &description);
    } else if (property == "AccessibleId") {
      appendVariant(out, DBUS_TYPE_STRING, "s", &id);
    } else if (property == "ChildCount") {
      appendVariant(out, DBUS_TYPE_INT32, "i", &count);
    } else if (property == "CharacterCount") {
      appendVariant(out, DBUS_TYPE_INT32, "i", &characters);
    } else if (property == "CurrentValue" && object.value) {
      appendVariant(out, DBUS_TYPE_DOUBLE, "d", &*object.value);
    } else if (property == "Parent") {
      DBusMessageIter variant;
      dbus_message_iter_open_container(&out, DBUS_TYPE_VARIANT, "(so)", &variant);
      appendReferenceTo(variant, object.parent.empty() ? kRoot : object.parent);
      dbus_message_iter_close_container(&out, &variant);
    } else {
      return error();
    }
  } else {
    return error();
  }
  return marshal(*reply);
}

// The property a Properties.Get call asks for ("" for another call).
std::string FakeApplication::askedProperty(const std::string& bytes, std::uint32_t serial) {
  const LibdbusMessage call = demarshal(bytes, serial);
  DBusMessageIter args;
  if (!call || !dbus_message_iter_init(call.get(), &args)) return "";
  dbus_message_iter_next(&args);
  const char* property = nullptr;
  if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_STRING) {
    dbus_message_iter_get_basic(&args, &property);
  }
  return property != nullptr ? property : "";
}

std::string FakeApplication::hostileAnswer(const std::string& bytes, const std::string& member,
                                           const FakeObject& object, std::uint32_t serial) {
  (void)bytes;
  const auto count = static_cast<std::uint32_t>(object.children.size());
  Bytes body;
  if (hostility_ == Hostility::deepValues) {
    // The description, asked with Get, comes as a variant holding dictionary entries of the
    // deepest nesting the bus relays, up to near the message size limit.
    if (member != "Get" || askedProperty(bytes, serial) != "Description") return {};
    body.signature("a{sv}");
    body.u32(0);  // the array's length, written below
    const std::size_t lengthAt = body.out.size() - 4;
    body.align(8);
    const std::size_t start = body.out.size();
    body.out += deepEntries();
    const auto length = static_cast<std::uint32_t>(body.out.size() - start);
    std::memcpy(body.out.data() + lengthAt, &length, 4);
    return handBuiltReply(serial, "v", body.out);
  }
  // Every string 16 MiB.
  if (member == "GetText") {
    body.string(huge(object.text));
    return handBuiltReply(serial, "s", body.out);
  }
  if (member == "Get") {
    const std::string asked = askedProperty(bytes, serial);
    const std::string* text = asked == "Name"           ? &object.name
                              : asked == "Description"  ? &object.description
                              : asked == "AccessibleId" ? &object.id
                                                        : nullptr;
    if (text == nullptr) return {};
    body.signature("s");
    body.string(huge(*text));
    return handBuiltReply(serial, "v", body.out);
  }
  if (member == "GetAll") {
    body.u32(0);
    body.align(8);
    body.string("ChildCount");
    body.signature("i");
    body.u32(count);
    body.align(8);
    body.string("Name");
    body.signature("s");
    body.string(huge(object.name));
    const auto length = static_cast<std::uint32_t>(body.out.size() - 8);
    std::memcpy(body.out.data(), &length, 4);
    return handBuiltReply(serial, "a{sv}", body.out);
  }
  return {};
}

}  // namespace nevo::lin::test
