#include "focus/focus_window.h"

#include "focus/activation.h"
#include "focus/focus_request.h"
#include "focus/resolve_target.h"

namespace nevo {

Reply focusWindow(Platform& platform) {
  // The gate comes before standard input, which the host may never close.
  if (!permissionGranted(platform)) return permissionDeniedReply();

  OrReply<FocusRequest> request = parseFocusRequest(readFocusInput(platform));
  if (Reply* refused = std::get_if<Reply>(&request)) return std::move(*refused);

  OrReply<FocusTarget> target = resolveTarget(platform, std::get<FocusRequest>(request));
  if (Reply* refused = std::get_if<Reply>(&target)) return std::move(*refused);

  return activateAndVerify(platform, std::get<FocusTarget>(target));
}

}  // namespace nevo
