#include "reply/reply.h"

namespace nevo {

Reply unavailableReply(std::string_view reason) {
  return {{"status", kStatusUnavailable}, {"reason", reason}};
}

Reply permissionDeniedReply() {
  return {{"status", kStatusDenied}, {"reason", kReasonPermissionDenied}};
}

bool permissionGranted(Platform& platform) {
  return platform.isProcessTrusted();
}

}  // namespace nevo
