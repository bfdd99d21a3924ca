#include "platform/linux/client_windows.h"

#include <algorithm>

#include "platform/linux/attribute_reads.h"

namespace nevo::lin {
namespace {

Element applicationOf(ProcessId pid) {
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::application, ObjectRef{}, pid));
}

}  // namespace

bool ClientWindows::serves(const LinuxElement& element) {
  return element.kind == LinuxElement::Kind::clientWindow ||
         (element.kind == LinuxElement::Kind::application && element.ref.bus.empty());
}

std::vector<ClientWindow> ClientWindows::windowsOf(ProcessId pid) {
  if (display_ == nullptr || pid <= 0) return {};
  std::vector<ClientWindow> windows = display_->clientWindows(pid);
  std::stable_sort(
      windows.begin(), windows.end(),
      [](const ClientWindow& a, const ClientWindow& b) { return a.managedOrder < b.managedOrder; });
  return windows;
}

std::optional<ClientWindow> ClientWindows::current(const LinuxElement& window) {
  for (ClientWindow& client : windowsOf(window.pid)) {
    if (client.id == window.window) return std::move(client);
  }
  return std::nullopt;
}

std::vector<AttributeRead> ClientWindows::read(const LinuxElement& element, AttributeNames names) {
  std::vector<AttributeRead> reads;
  reads.reserve(names.size());
  if (element.kind == LinuxElement::Kind::application) {
    for (const std::string_view name : names) reads.push_back(applicationAttribute(element, name));
    return reads;
  }
  // A window: read once for the whole batch, as it is now.
  const std::optional<ClientWindow> window = current(element);
  for (const std::string_view name : names) {
    if (!window) {
      reads.push_back(failure(AxStatus::invalidElement));
      continue;
    }
    switch (attributeNamed(name)) {
      case Attribute::role:
        reads.push_back(success(std::string("AXWindow")));
        break;
      case Attribute::title:
        reads.push_back(success(window->title));
        break;
      case Attribute::position:
        reads.push_back(success(PointValue{window->frame.x, window->frame.y}));
        break;
      case Attribute::size:
        reads.push_back(success(SizeValue{window->frame.width, window->frame.height}));
        break;
      case Attribute::minimized:
        reads.push_back(success(window->hidden));
        break;
      case Attribute::parent:
        reads.push_back(success(applicationOf(element.pid)));
        break;
      case Attribute::children:
        // Nothing inside is known.
        reads.push_back(success(ArrayValue{}));
        break;
      case Attribute::subrole:
      case Attribute::identifier:
      case Attribute::description:
      case Attribute::value:
        reads.push_back(failure(AxStatus::noValue));
        break;
      default:
        reads.push_back(failure(AxStatus::attributeUnsupported));
        break;
    }
  }
  return reads;
}

AttributeRead ClientWindows::applicationAttribute(const LinuxElement& application,
                                                  std::string_view name) {
  switch (attributeNamed(name)) {
    case Attribute::role:
      return success(std::string("AXApplication"));
    case Attribute::windows: {
      application.listedWindows = true;
      ArrayValue windows;
      for (const ClientWindow& window : windowsOf(application.pid)) {
        windows.emplace_back(clientWindowElement(application.pid, window.id));
      }
      return success(std::move(windows));
    }
    case Attribute::focusedWindow: {
      // The active window, when it is one of the windows listed through this element.
      if (!application.listedWindows || display_ == nullptr) return failure(AxStatus::noValue);
      const std::optional<xcb_window_t> active = display_->activeWindow();
      if (!active) return failure(AxStatus::noValue);
      const std::vector<ClientWindow> windows = windowsOf(application.pid);
      const bool own = std::any_of(windows.begin(), windows.end(),
                                   [&](const ClientWindow& w) { return w.id == *active; });
      if (!own) return failure(AxStatus::noValue);
      return success(clientWindowElement(application.pid, *active));
    }
    case Attribute::focusedElement:
      return failure(AxStatus::noValue);
    default:
      return failure(AxStatus::attributeUnsupported);
  }
}

CountRead ClientWindows::count(const LinuxElement& element, std::string_view name) {
  const Attribute attribute = attributeNamed(name);
  if (element.kind == LinuxElement::Kind::clientWindow) {
    if (attribute != Attribute::children) return {AxStatus::attributeUnsupported, 0};
    if (!current(element)) return {AxStatus::invalidElement, 0};
    return {AxStatus::success, 0};
  }
  if (attribute != Attribute::windows) return {AxStatus::attributeUnsupported, 0};
  element.listedWindows = true;
  return {AxStatus::success, static_cast<long>(windowsOf(element.pid).size())};
}

AttributeRead ClientWindows::values(const LinuxElement& element, std::string_view name, long index,
                                    long maxCount) {
  if (index < 0 || maxCount < 0) return failure(AxStatus::failure);
  const std::string_view names[] = {name};
  AttributeRead read = std::move(this->read(element, names)[0]);
  ArrayValue* array =
      read.status == AxStatus::success ? std::get_if<ArrayValue>(&read.value) : nullptr;
  if (array == nullptr) {
    return read.status == AxStatus::success ? failure(AxStatus::attributeUnsupported) : read;
  }
  const std::size_t first = std::min(static_cast<std::size_t>(index), array->size());
  const std::size_t count = std::min(array->size() - first, static_cast<std::size_t>(maxCount));
  return success(ArrayValue(array->begin() + static_cast<std::ptrdiff_t>(first),
                            array->begin() + static_cast<std::ptrdiff_t>(first + count)));
}

AxStatus ClientWindows::setMinimized(const LinuxElement& element, bool minimized) {
  if (element.kind != LinuxElement::Kind::clientWindow) return AxStatus::attributeUnsupported;
  const std::optional<ClientWindow> window = current(element);
  if (!window) return AxStatus::invalidElement;
  // A pager restores an iconified window by activating it.
  const bool sent =
      minimized ? display_->requestIconify(window->id) : display_->requestActivation(window->id);
  return sent ? AxStatus::success : AxStatus::failure;
}

AxStatus ClientWindows::raise(const LinuxElement& element) {
  if (element.kind != LinuxElement::Kind::clientWindow) return AxStatus::actionUnsupported;
  const std::optional<ClientWindow> window = current(element);
  if (!window) return AxStatus::invalidElement;
  const bool sent = display_->requestRaise(window->id) && display_->requestActivation(window->id);
  return sent ? AxStatus::success : AxStatus::failure;
}

}  // namespace nevo::lin
