// What each application's toolkit serves, read once per application and kept for the run:
// the one place in the backend that knows how toolkits differ, so that the rest asks here
// rather than testing for a toolkit by name.
//
// Read from the application's root: the interfaces it offers (`GetInterfaces`), its
// toolkit's name and version (`org.a11y.atspi.Application` `ToolkitName`, `Version`), and
// whether it answers the `AccessibleId` property. All four go out together, on the first
// call to the application, and are answered in about one round trip.
//
// What differs, as measured on Debian 12:
// - GTK 3's root offers `Collection` (one call finds the active window or the focused
//   element); the roots of GTK 4.8, Qt 5.15 and Qt 6.4 offer `Accessible` and
//   `Application` only, so the focus is found by reading states.
// - Qt answers `AccessibleId` with an error (and a warning on its standard error): it is
//   not asked of Qt's objects.
// - GTK 3 sets `iconified` on a minimized window; GTK 4.8 and Qt do not.
// - Chromium (and Electron) builds its tree only for a client that listens and reads a
//   window's attributes (the listener alone, a state, the extents or a search of its tree
//   do not wake it): until then each window lists one child that is no object yet; woken,
//   it is ready 30-50 ms later.
// - GTK 4.8 sets `showing` on its windows alone, so its elements are not filtered by it.
// - Every toolkit serves the Accessible methods and single-property `Get`; no toolkit is
//   ever sent `GetAll` (Qt 5 and Qt 6 crash on it), there is no writer for it.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/connections.h"

namespace nevo::lin {

// Most interface names taken from a root's listing.
inline constexpr std::size_t kInterfaceListingLimit = 64;

struct ToolkitFacts {
  // Which of the four reads have answered (or failed), as bits; all four: `known`.
  unsigned answered = 0;
  bool known() const { return answered == 0xf; }
  std::string name;     // "GTK", "Qt", … ("" when not told)
  std::string version;  // "3.24.38", "6.4.2", …
  std::vector<std::string> rootInterfaces;
  bool accessibleIdAnswered = false;

  bool offers(std::string_view interface) const;
  // Whether the application's tree can be searched in one call (Collection on the root).
  bool offersCollection() const;
  // Whether a minimized window carries the `iconified` state: GTK 3's does; GTK 4.8's and
  // Qt's do not (Qt even calls the controls of a minimized window showing), so theirs are
  // asked of X11. A toolkit not named is taken at its state.
  bool setsIconified() const;
  // Whether the application builds its tree only once a client listens (Chromium, and so
  // every Electron application): until the tool's listener has woken it, its windows are
  // bare (their one child is no object yet).
  bool buildsTreeForListeners() const { return name == "Chromium"; }
  // Whether the toolkit gives screen coordinates relative to the window (GTK 4 on X11:
  // it knows no screen coordinates).
  bool windowRelativeCoordinates() const;
  // Whether the `showing` state tells what is on the screen below the windows: where it
  // does, what is not showing (a hidden menu, a preloaded page) is no child of the walk's.
  bool setsShowing() const;
  // Whether objects are asked for their `AccessibleId`: unless the root refused it.
  bool servesAccessibleId() const { return !known() || accessibleIdAnswered; }
};

class Toolkits {
 public:
  explicit Toolkits(Connections& connections) : connections_(connections) {}

  // Sends the reads of an application's facts, once per run.
  void request(const std::string& bus);
  // The facts as far as they have come in; requested if they never were.
  const ToolkitFacts& facts(const std::string& bus);
  // The facts once all have come in, or as far as they came by the deadline.
  const ToolkitFacts& awaitFacts(const std::string& bus, double deadline);

 private:
  Connections& connections_;
  std::unordered_map<std::string, std::shared_ptr<ToolkitFacts>> facts_;
};

}  // namespace nevo::lin
