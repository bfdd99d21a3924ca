#include "fake_application.h"

#include <poll.h>
#include <sys/socket.h>
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

void FakeApplication::serve() {
  std::string input;
  char buffer[65536];
  while (!finished_) {
    pollfd descriptor{socket_, POLLIN, 0};
    if (stopped_ || crashed_ || ::poll(&descriptor, 1, kServeSliceMilliseconds) <= 0) {
      if (stopped_ || crashed_)
        std::this_thread::sleep_for(std::chrono::milliseconds(kServeSliceMilliseconds));
      continue;
    }
    const ssize_t n = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) continue;
    input.append(buffer, static_cast<std::size_t>(n));
    for (;;) {
      const std::optional<std::size_t> length = messageLength(input);
      if (!length || *length == 0 || *length > input.size()) break;
      const std::string reply = answer(input.substr(0, *length));
      input.erase(0, *length);
      if (!reply.empty()) ::send(socket_, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
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
  const auto found = objects_.find(path);
  if (found == objects_.end() || member == "GetApplicationBusAddress") return error();
  const FakeObject& object = found->second;

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

}  // namespace nevo::lin::test
