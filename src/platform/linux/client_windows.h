// Applications without an accessibility tree (a terminal, a Tk application: they never
// register with the accessibility registry), served from the window system: their managed
// X11 client windows are their windows, each a window element whose title, frame and
// minimized state are read from X11 and which is restored, raised and activated through
// EWMH, as a pager does (docs/linux.md, Applications without an accessibility tree).
//
// Such an application has nothing inside its windows to report, and its focused window is
// answered only through an application element whose windows were listed (the window list
// and the focus command list them first): the observation, which asks for the focused
// window straight away, finds none and answers that the application gives no window
// information and a screenshot is to be used, which is all the host can do there.
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/linux_element.h"
#include "platform/linux/x11_desktop.h"
#include "platform/platform.h"

namespace nevo::lin {

class ClientWindows {
 public:
  // Without a display every read fails (tests of the accessibility side).
  void attach(X11Desktop& display) { display_ = &display; }

  // Whether the element is served here: a client window, or the element of an application
  // that is not accessible.
  static bool serves(const LinuxElement& element);

  // The process's managed client windows in the order the window manager first mapped them
  // (the stacking order changes whenever one is raised; a window's index must not).
  std::vector<ClientWindow> windowsOf(ProcessId pid);

  std::vector<AttributeRead> read(const LinuxElement& element, AttributeNames names);
  CountRead count(const LinuxElement& element, std::string_view name);
  AttributeRead values(const LinuxElement& element, std::string_view name, long index,
                       long maxCount);
  AxStatus setMinimized(const LinuxElement& element, bool minimized);
  AxStatus raise(const LinuxElement& element);

 private:
  // The window as it is now, absent once it is no longer one of the process's windows.
  std::optional<ClientWindow> current(const LinuxElement& window);
  AttributeRead applicationAttribute(const LinuxElement& application, std::string_view name);

  X11Desktop* display_ = nullptr;
};

}  // namespace nevo::lin
