#include "platform/linux/window_match.h"

#include <functional>

namespace nevo::lin {
namespace {

bool sameRectangle(const AccessibleWindow& window, const ClientWindow& client) {
  return window.frame && (*window.frame == client.frame || *window.frame == client.client);
}

bool sameClientSize(const AccessibleWindow& window, const ClientWindow& client) {
  return window.frame && window.frame->width == client.client.width &&
         window.frame->height == client.client.height;
}

}  // namespace

std::vector<std::optional<std::size_t>> matchWindows(const std::vector<AccessibleWindow>& windows,
                                                     const std::vector<ClientWindow>& clients) {
  std::vector<std::optional<std::size_t>> match(windows.size());
  std::vector<bool> taken(clients.size(), false);

  // Pairs each unpaired window with the only unpaired client that `fits`, or with the
  // first one when `unique` is false.
  const auto round =
      [&](const std::function<bool(const AccessibleWindow&, const ClientWindow&)>& fits,
          bool unique) {
        for (std::size_t w = 0; w < windows.size(); ++w) {
          if (match[w]) continue;
          std::optional<std::size_t> found;
          int count = 0;
          for (std::size_t c = 0; c < clients.size(); ++c) {
            if (taken[c] || !fits(windows[w], clients[c])) continue;
            if (!found) found = c;
            ++count;
          }
          if (!found || (unique && count != 1)) continue;
          match[w] = found;
          taken[*found] = true;
        }
      };

  round([](const AccessibleWindow& w,
           const ClientWindow& c) { return w.title == c.title && sameRectangle(w, c); },
        false);
  round(sameRectangle, true);
  // Extents relative to the window (GTK 4 on X11): only the size is the client's.
  round([](const AccessibleWindow& w,
           const ClientWindow& c) { return w.title == c.title && sameClientSize(w, c); },
        false);
  round([](const AccessibleWindow& w, const ClientWindow& c) { return w.title == c.title; }, true);

  std::size_t unpairedWindow = windows.size();
  std::size_t unpairedClient = clients.size();
  int windowsLeft = 0;
  int clientsLeft = 0;
  for (std::size_t w = 0; w < windows.size(); ++w) {
    if (!match[w]) ++windowsLeft, unpairedWindow = w;
  }
  for (std::size_t c = 0; c < clients.size(); ++c) {
    if (!taken[c]) ++clientsLeft, unpairedClient = c;
  }
  if (windowsLeft == 1 && clientsLeft == 1) match[unpairedWindow] = unpairedClient;
  return match;
}

std::optional<ScreenPoint> windowRelativeOrigin(double width, double height,
                                                const ClientWindow& client,
                                                bool windowRelativeToolkit) {
  const ScreenRect& shown = client.client;
  if (width == shown.width && height == shown.height) return ScreenPoint{shown.x, shown.y};
  if (!windowRelativeToolkit || width > shown.width || height > shown.height) return std::nullopt;
  if (client.drawnFrame) {
    return ScreenPoint{shown.x + client.drawnFrame->left, shown.y + client.drawnFrame->top};
  }
  return ScreenPoint{shown.x + (shown.width - width) / 2, shown.y + (shown.height - height) / 2};
}

}  // namespace nevo::lin
