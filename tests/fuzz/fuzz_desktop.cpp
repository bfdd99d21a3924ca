#include "fuzz_desktop.h"

#include <string>

namespace nevo::fuzz {

std::unique_ptr<sim::SimDesktop> makeFuzzDesktop() {
  auto desktop = std::make_unique<sim::SimDesktop>();

  sim::SimApp& notes = desktop->addApp(812, "Notes");
  const sim::Node untitled = notes.addWindow("Untitled", {0, 0, 800, 600});
  untitled.add("AXButton").title("OK").frame({10, 10, 80, 30});
  notes.addWindow("Cafe\xCC\x81", {10.5, 20.25, 640.125, 480.0625});
  notes.addWindow("Draft", {100, 100, 300, 200}).minimized(true);
  notes.addWindow("Twin", {50, 50, 400, 300});
  notes.addWindow("Twin", {50, 50, 400, 300});
  notes.addWindow("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB \xE2\x80\xA8 \\/ \"x\"",
                  {-1440, -900.5, 1440, 900});
  notes.focusWindow(untitled);

  sim::SimApp& files =
      desktop->addApp(900, "\xE6\x96\x87\xE4\xBB\xB6\xE7\xAE\xA1\xE7\x90\x86\xE5\x99\xA8");
  files.raiseFocuses(false);
  files.addWindow("Downloads", {200, 200, 500, 400});

  sim::SimApp& mail = desktop->addApp(901, "Mail");
  mail.refusesActivation();
  mail.addWindow("Inbox", {0, 0, 1000, 700});

  sim::SimApp& preview = desktop->addApp(902, "Preview");
  preview.addWindow("scan.pdf", {30, 30, 600, 800})
      .minimized(true)
      .failOp(sim::Op::write, "AXMinimized");

  sim::SimApp& terminal = desktop->addApp(903, "Terminal");
  for (int i = 0; i < 81; ++i) {
    terminal.addWindow("shell " + std::to_string(i), {20.0 * i, 10, 600, 400});
  }

  desktop->addApp(904, "Helper").policy(1).addWindow("Status", {0, 0, 20, 20});

  desktop->setFrontmost(812);
  return desktop;
}

}  // namespace nevo::fuzz
