// Application names as the desktop shows them: the `Name` of the application's desktop entry
// (the .desktop files in the applications/ folders of the XDG data directories), found for a
// window by its application id or its WM_CLASS (docs/linux.md, Application names).
//
// Every file is read with a size cap, and the folders are listed and their entries read once
// per run (only when a window has no application id with an entry), stopping at a fixed
// number of files and bytes: folders of any size cost a bounded amount.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nevo::lin {

// A desktop entry file longer than this is left out (real ones are a few kilobytes, with
// every translation under 64 KiB).
inline constexpr std::size_t kDesktopEntryByteLimit = 64 * 1024;
// The scan for StartupWMClass looks into at most this many files and bytes in one run.
inline constexpr std::size_t kDesktopEntryScanLimit = 1024;
inline constexpr std::size_t kDesktopEntryScanBytes = 4 * 1024 * 1024;
// Most file names taken from one folder's listing (they are sorted, then read in order).
inline constexpr std::size_t kDesktopEntryListingLimit = 8192;

// What the tool takes from one desktop entry's [Desktop Entry] group.
struct DesktopEntry {
  std::string name;  // Name, in the best match for the locale
  std::string startupWmClass;
  bool application = false;  // Type=Application
  bool hidden = false;       // Hidden=true: the entry counts as deleted
};

// The [Desktop Entry] group of a file's text, or absent when it has none. `locale` is a
// POSIX locale name (lang_COUNTRY.ENCODING@MODIFIER) or "".
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view locale);

// The locale that messages are shown in: LC_ALL, else LC_MESSAGES, else LANG ("" for none).
std::string messagesLocale();

// The applications/ folders, most important first: $XDG_DATA_HOME (else ~/.local/share),
// then each of $XDG_DATA_DIRS (else /usr/local/share and /usr/share); relative paths are
// ignored, as the XDG base directory rules say.
std::vector<std::string> applicationFolders();

class DesktopEntries {
 public:
  DesktopEntries(std::vector<std::string> folders, std::string locale)
      : folders_(std::move(folders)), locale_(std::move(locale)) {}

  // The desktop's name for a window's application, by the first rule that finds an entry:
  // 1. the application id: `<id>.desktop`;
  // 2. an entry whose StartupWMClass equals the WM_CLASS class, then one whose
  //    StartupWMClass equals the instance (an entry's own claim to the window comes before
  //    a file that merely has the same name);
  // 3. the WM_CLASS class, then the instance, as a desktop file id: `<name>.desktop`, then
  //    the same in lower case.
  // An entry counts when it is an application, not hidden, and has a name; the file of an
  // id in an earlier folder hides the files of that id in later ones.
  std::optional<std::string> nameFor(const std::string& applicationId,
                                     const std::string& windowClass,
                                     const std::string& windowInstance);

  // Files read so far (for tests of the bounds).
  std::size_t filesRead() const { return filesRead_; }

 private:
  // The entry of a desktop file id, from the first folder that has a file of that name.
  const std::optional<DesktopEntry>& byId(const std::string& id);
  // The whole text of a file within the size cap, else absent; valid until the next read.
  std::optional<std::string_view> readText(const std::string& path, std::size_t* bytes);
  // Which entries claim which window classes, once, within the scan's limits. Only the
  // StartupWMClass lines are looked at; an entry that claims a class is parsed whole when a
  // window of that class asks.
  void scan();

  std::vector<std::string> folders_;
  std::string locale_;
  std::map<std::string, std::optional<DesktopEntry>, std::less<>> byId_;
  // class -> the ids of the entries that claim it, in the order of the scan
  std::optional<std::map<std::string, std::vector<std::string>, std::less<>>> byWmClass_;
  std::size_t filesRead_ = 0;
  std::string buffer_;  // one file's bytes, reused
};

}  // namespace nevo::lin
