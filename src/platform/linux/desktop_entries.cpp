#include "platform/linux/desktop_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

#include "platform/linux/text_utf8.h"

namespace nevo::lin {
namespace {

constexpr std::string_view kSuffix = ".desktop";
constexpr std::string_view kStartupKey = "StartupWMClass";
// Longest desktop file id looked up (a file name is at most 255 bytes).
constexpr std::size_t kIdLimit = 255 - kSuffix.size();

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The escapes of a string value: \s \n \t \r \\ (a name is one line: breaks become spaces).
std::string unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
      case 'n':
      case 't':
      case 'r':
        out += ' ';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += value[i];
    }
  }
  return out;
}

struct LocaleParts {
  std::string lang, country, modifier;
};

LocaleParts localeParts(std::string_view locale) {
  LocaleParts parts;
  if (locale.empty() || locale == "C" || locale == "POSIX") return parts;
  std::string_view rest = locale;
  if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
    parts.modifier = std::string(rest.substr(at + 1));
    rest = rest.substr(0, at);
  }
  if (const std::size_t dot = rest.find('.'); dot != std::string_view::npos) {
    rest = rest.substr(0, dot);
  }
  if (const std::size_t underscore = rest.find('_'); underscore != std::string_view::npos) {
    parts.country = std::string(rest.substr(underscore + 1));
    rest = rest.substr(0, underscore);
  }
  parts.lang = std::string(rest);
  return parts;
}

// How well a key's locale suits the messages locale: higher is better, 0 for the key
// without a locale, -1 for one that does not suit at all.
int localeRank(std::string_view keyLocale, const LocaleParts& wanted) {
  if (keyLocale.empty()) return 0;
  if (wanted.lang.empty()) return -1;
  const LocaleParts key = localeParts(keyLocale);
  if (key.lang != wanted.lang) return -1;
  if (!key.country.empty() && key.country != wanted.country) return -1;
  if (!key.modifier.empty() && key.modifier != wanted.modifier) return -1;
  return 1 + (key.country.empty() ? 0 : 2) + (key.modifier.empty() ? 0 : 1);
}

// A window property used as part of a file name: nothing that leaves the folder or hides.
bool usableId(std::string_view id) {
  return !id.empty() && id.size() <= kIdLimit && id.front() != '.' &&
         id.find('/') == std::string_view::npos && id.find('\0') == std::string_view::npos;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool usable(const std::optional<DesktopEntry>& entry) {
  return entry && entry->application && !entry->hidden && !entry->name.empty();
}

}  // namespace

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string_view locale) {
  const LocaleParts wanted = localeParts(locale);
  DesktopEntry entry;
  bool inGroup = false;
  bool seenGroup = false;
  int nameRank = -1;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      // The first group is the [Desktop Entry] group; the ones after it (actions) are not
      // read.
      if (seenGroup) break;
      seenGroup = true;
      inGroup = line == "[Desktop Entry]";
      if (!inGroup) break;
      continue;
    }
    if (!inGroup) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = trimmed(line.substr(0, equals));
    const std::string_view value = trimmed(line.substr(equals + 1));
    std::string_view keyLocale;
    if (const std::size_t open = key.find('[');
        open != std::string_view::npos && key.back() == ']') {
      keyLocale = key.substr(open + 1, key.size() - open - 2);
      key = key.substr(0, open);
    }
    if (key == "Name") {
      const int rank = localeRank(keyLocale, wanted);
      if (rank > nameRank && !value.empty()) {
        nameRank = rank;
        entry.name = validUtf8(unescaped(value));
      }
    } else if (keyLocale.empty()) {
      if (key == "Type") entry.application = value == "Application";
      if (key == "Hidden") entry.hidden = value == "true";
      if (key == "StartupWMClass") entry.startupWmClass = unescaped(value);
    }
  }
  if (!inGroup) return std::nullopt;
  return entry;
}

std::string messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders;
  const auto add = [&](std::string_view base) {
    if (base.empty() || base.front() != '/') return;
    std::string folder(base);
    if (folder.back() != '/') folder += '/';
    folder += "applications";
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(std::move(folder));
    }
  };
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home != nullptr && *home != '\0') {
    add(home);
  } else if (const char* user = std::getenv("HOME"); user != nullptr && *user == '/') {
    add(std::string(user) + "/.local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view list =
      dirs != nullptr && *dirs != '\0' ? std::string_view(dirs) : "/usr/local/share/:/usr/share/";
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    add(list.substr(0, colon));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return folders;
}

std::optional<std::string_view> DesktopEntries::readText(const std::string& path,
                                                         std::size_t* bytes) {
  // Non-blocking, so that a FIFO or device given a .desktop name cannot hold the run. One
  // read of one byte more than the cap: a regular file comes whole in it (a short read is
  // its end), a longer one is left out, and a directory fails. Three system calls a file:
  // on this kind of machine they are most of the cost of the scan.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  ++filesRead_;
  if (buffer_.size() != kDesktopEntryByteLimit + 1) buffer_.resize(kDesktopEntryByteLimit + 1);
  const ssize_t n = ::read(fd, buffer_.data(), buffer_.size());
  ::close(fd);
  if (n < 0) return std::nullopt;
  const auto size = static_cast<std::size_t>(n);
  if (bytes != nullptr) *bytes += size;
  if (size > kDesktopEntryByteLimit) return std::nullopt;
  return std::string_view(buffer_.data(), size);
}

const std::optional<DesktopEntry>& DesktopEntries::byId(const std::string& id) {
  if (const auto known = byId_.find(id); known != byId_.end()) return known->second;
  std::optional<DesktopEntry>& entry = byId_[id];
  for (const std::string& folder : folders_) {
    const std::string path = folder + "/" + id + std::string(kSuffix);
    // The first folder with a file of this id decides, whatever the file holds.
    if (::access(path.c_str(), F_OK) != 0) continue;
    if (const std::optional<std::string_view> text = readText(path, nullptr)) {
      entry = parseDesktopEntry(*text, locale_);
    }
    break;
  }
  return entry;
}

void DesktopEntries::scan() {
  byWmClass_.emplace();
  std::size_t files = 0;
  std::size_t bytes = 0;
  std::set<std::string, std::less<>> seen;  // ids met in earlier folders
  for (const std::string& folder : folders_) {
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), ::closedir);
    if (!directory) continue;
    std::vector<std::string> ids;
    while (const dirent* item = ::readdir(directory.get())) {
      const std::string_view name = item->d_name;
      if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix) || name.front() == '.') {
        continue;
      }
      ids.emplace_back(name.substr(0, name.size() - kSuffix.size()));
      if (ids.size() >= kDesktopEntryListingLimit) break;
    }
    std::sort(ids.begin(), ids.end());
    for (const std::string& id : ids) {
      if (!seen.insert(id).second) continue;  // hidden by the file of an earlier folder
      if (files >= kDesktopEntryScanLimit || bytes >= kDesktopEntryScanBytes) return;
      ++files;
      const std::optional<std::string_view> text =
          readText(folder + "/" + id + std::string(kSuffix), &bytes);
      if (!text) continue;
      // The StartupWMClass lines alone: a search for the key, not a parse of every line.
      const std::string_view all = *text;
      for (std::size_t at = all.find(kStartupKey); at != std::string_view::npos;
           at = all.find(kStartupKey, at + kStartupKey.size())) {
        if (at != 0 && all[at - 1] != '\n') continue;
        std::string_view line = all.substr(at, all.find('\n', at) - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != kStartupKey)
          continue;
        const std::string wmClass = unescaped(trimmed(line.substr(equals + 1)));
        if (!wmClass.empty()) (*byWmClass_)[wmClass].push_back(id);
      }
    }
  }
}

std::optional<std::string> DesktopEntries::nameFor(const std::string& applicationId,
                                                   const std::string& windowClass,
                                                   const std::string& windowInstance) {
  if (usableId(applicationId)) {
    if (const auto& entry = byId(applicationId); usable(entry)) return entry->name;
  }
  if (windowClass.empty() && windowInstance.empty()) return std::nullopt;
  if (!byWmClass_) scan();
  for (const std::string* part : {&windowClass, &windowInstance}) {
    if (part->empty()) continue;
    const auto claims = byWmClass_->find(*part);
    if (claims == byWmClass_->end()) continue;
    for (const std::string& id : claims->second) {
      // The claim holds when the entry, parsed whole, makes it in its [Desktop Entry] group.
      const std::optional<DesktopEntry>& entry = byId(id);
      if (usable(entry) && entry->startupWmClass == *part) return entry->name;
    }
  }
  for (const std::string* part : {&windowClass, &windowInstance}) {
    for (const std::string& id : {*part, lowerAscii(*part)}) {
      if (!usableId(id)) continue;
      if (const auto& entry = byId(id); usable(entry)) return entry->name;
    }
  }
  return std::nullopt;
}

}  // namespace nevo::lin
