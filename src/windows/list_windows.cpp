#include "windows/list_windows.h"

#include <algorithm>

#include "windows/applications.h"
#include "windows/window_records.h"

namespace nevo {
namespace {

// A record whose identity no other record of its application shares.
bool unambiguous(const std::vector<WindowRecord>& records, const WindowRecord& record) {
  return std::count_if(records.begin(), records.end(), [&](const WindowRecord& other) {
           return other.identity() == record.identity();
         }) == 1;
}

}  // namespace

Reply listWindows(Platform& platform) {
  if (!permissionGranted(platform)) {
    Reply denied = permissionDeniedReply();
    denied["windows"] = Reply::array();
    return denied;
  }
  const WallTime deadline = platform.now() + kWindowListSeconds;
  const std::optional<ProcessId> frontmost = frontmostProcessIdentifier(platform);

  Reply entries = Reply::array();
  bool truncated = false;
  const auto listingFull = [&] {
    return !(platform.now() < deadline) || entries.size() >= kEntryLimit;
  };

  for (const RunningApplication& application : ordinaryApplicationsInOrder(platform, frontmost)) {
    if (listingFull()) {
      truncated = true;
      break;
    }
    const ProcessId pid = application.processIdentifier;
    const Element element = applicationElement(platform, pid);
    const WindowList list = windowArray(platform, element);
    if (list.truncated) {
      truncated = true;
      continue;
    }
    const std::optional<std::vector<WindowRecord>> records =
        windowRecords(platform, list.windows, deadline);
    if (!records) {
      truncated = true;
      continue;
    }
    const std::optional<Element> focused =
        frontmost == pid ? focusedWindow(platform, element) : std::nullopt;
    bool stop = false;
    for (const WindowRecord& record : *records) {
      if (listingFull()) {
        stop = true;
        break;
      }
      if (!unambiguous(*records, record)) {
        truncated = true;
        continue;
      }
      entries.push_back(windowEntry(application, record, focused && *focused == record.element()));
    }
    if (stop) {
      truncated = true;
      break;
    }
  }
  return {{"status", kStatusAvailable}, {"windows", std::move(entries)}, {"truncated", truncated}};
}

}  // namespace nevo
