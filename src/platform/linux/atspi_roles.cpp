#include "platform/linux/atspi_roles.h"

#include <array>
#include <charconv>
#include <cmath>

namespace nevo::lin {
namespace {

// Every role AT-SPI defines, by number.
constexpr std::array<std::string_view, kRoleLastDefined> kRoleNames = {"invalid",
                                                                       "accelerator label",
                                                                       "alert",
                                                                       "animation",
                                                                       "arrow",
                                                                       "calendar",
                                                                       "canvas",
                                                                       "check box",
                                                                       "check menu item",
                                                                       "color chooser",
                                                                       "column header",
                                                                       "combo box",
                                                                       "date editor",
                                                                       "desktop icon",
                                                                       "desktop frame",
                                                                       "dial",
                                                                       "dialog",
                                                                       "directory pane",
                                                                       "drawing area",
                                                                       "file chooser",
                                                                       "filler",
                                                                       "focus traversable",
                                                                       "font chooser",
                                                                       "frame",
                                                                       "glass pane",
                                                                       "html container",
                                                                       "icon",
                                                                       "image",
                                                                       "internal frame",
                                                                       "label",
                                                                       "layered pane",
                                                                       "list",
                                                                       "list item",
                                                                       "menu",
                                                                       "menu bar",
                                                                       "menu item",
                                                                       "option pane",
                                                                       "page tab",
                                                                       "page tab list",
                                                                       "panel",
                                                                       "password text",
                                                                       "popup menu",
                                                                       "progress bar",
                                                                       "push button",
                                                                       "radio button",
                                                                       "radio menu item",
                                                                       "root pane",
                                                                       "row header",
                                                                       "scroll bar",
                                                                       "scroll pane",
                                                                       "separator",
                                                                       "slider",
                                                                       "spin button",
                                                                       "split pane",
                                                                       "status bar",
                                                                       "table",
                                                                       "table cell",
                                                                       "table column header",
                                                                       "table row header",
                                                                       "tearoff menu item",
                                                                       "terminal",
                                                                       "text",
                                                                       "toggle button",
                                                                       "tool bar",
                                                                       "tool tip",
                                                                       "tree",
                                                                       "tree table",
                                                                       "unknown",
                                                                       "viewport",
                                                                       "window",
                                                                       "extended",
                                                                       "header",
                                                                       "footer",
                                                                       "paragraph",
                                                                       "ruler",
                                                                       "application",
                                                                       "autocomplete",
                                                                       "editbar",
                                                                       "embedded",
                                                                       "entry",
                                                                       "chart",
                                                                       "caption",
                                                                       "document frame",
                                                                       "heading",
                                                                       "page",
                                                                       "section",
                                                                       "redundant object",
                                                                       "form",
                                                                       "link",
                                                                       "input method window",
                                                                       "table row",
                                                                       "tree item",
                                                                       "document spreadsheet",
                                                                       "document presentation",
                                                                       "document text",
                                                                       "document web",
                                                                       "document email",
                                                                       "comment",
                                                                       "list box",
                                                                       "grouping",
                                                                       "image map",
                                                                       "notification",
                                                                       "info bar",
                                                                       "level bar",
                                                                       "title bar",
                                                                       "block quote",
                                                                       "audio",
                                                                       "video",
                                                                       "definition",
                                                                       "article",
                                                                       "landmark",
                                                                       "log",
                                                                       "marquee",
                                                                       "math",
                                                                       "rating",
                                                                       "timer",
                                                                       "static",
                                                                       "math fraction",
                                                                       "math root",
                                                                       "subscript",
                                                                       "superscript",
                                                                       "description list",
                                                                       "description term",
                                                                       "description value",
                                                                       "footnote",
                                                                       "content deletion",
                                                                       "content insertion",
                                                                       "mark",
                                                                       "suggestion",
                                                                       "push button menu"};

struct Counterpart {
  std::string_view atspi;
  std::string_view ax;
};

// Roles with a macOS counterpart. Every other role gets its derived name.
constexpr Counterpart kCounterparts[] = {
    {"push button", "AXButton"},
    {"push button menu", "AXMenuButton"},
    {"toggle button", "AXCheckBox"},
    {"text", "AXTextField"},
    {"entry", "AXTextField"},
    {"password text", "AXTextField"},
    {"spin button", "AXTextField"},
    {"combo box", "AXComboBox"},
    {"check box", "AXCheckBox"},
    {"radio button", "AXRadioButton"},
    {"page tab", "AXRadioButton"},
    {"menu item", "AXMenuItem"},
    {"check menu item", "AXMenuItem"},
    {"radio menu item", "AXMenuItem"},
    {"tearoff menu item", "AXMenuItem"},
    {"label", "AXStaticText"},
    {"static", "AXStaticText"},
    {"caption", "AXStaticText"},
    {"accelerator label", "AXStaticText"},
    {"heading", "AXHeading"},
    {"scroll pane", "AXScrollArea"},
    {"scroll bar", "AXScrollBar"},
    {"table", "AXTable"},
    {"tree table", "AXTable"},
    {"tree", "AXOutline"},
    {"table row", "AXRow"},
    {"tree item", "AXRow"},
    {"list item", "AXRow"},
    {"table cell", "AXCell"},
    {"list", "AXList"},
    {"list box", "AXList"},
    {"link", "AXLink"},
    {"slider", "AXSlider"},
    {"page tab list", "AXTabGroup"},
    {"dialog", "AXDialog"},
    {"alert", "AXDialog"},
    {"file chooser", "AXDialog"},
    {"frame", "AXWindow"},
    {"window", "AXWindow"},
    {"panel", "AXGroup"},
    {"filler", "AXGroup"},
    {"grouping", "AXGroup"},
    {"section", "AXGroup"},
    {"form", "AXGroup"},
    {"viewport", "AXGroup"},
    {"paragraph", "AXGroup"},
    {"tool bar", "AXToolbar"},
    {"menu bar", "AXMenuBar"},
    {"menu", "AXMenu"},
    {"popup menu", "AXMenu"},
    {"image", "AXImage"},
    {"icon", "AXImage"},
    {"progress bar", "AXProgressIndicator"},
    {"level bar", "AXLevelIndicator"},
    {"split pane", "AXSplitGroup"},
    {"separator", "AXSplitter"},
    {"color chooser", "AXColorWell"},
    {"tool tip", "AXHelpTag"},
    {"document web", "AXWebArea"},
    {"document text", "AXTextArea"},
    {"terminal", "AXTextArea"},
    {"application", "AXApplication"},
};

std::string derivedName(std::string_view atspi) {
  std::string name = "AX";
  bool upper = true;
  for (const char c : atspi) {
    if (c == ' ') {
      upper = true;
      continue;
    }
    name += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    upper = false;
  }
  return name;
}

}  // namespace

std::string_view atspiRoleName(std::uint32_t role) {
  return role < kRoleNames.size() ? kRoleNames[role] : std::string_view();
}

std::string axRole(std::uint32_t role, StateSet states) {
  const std::string_view atspi = atspiRoleName(role);
  if (atspi.empty() || atspi == "invalid") return "AXUnknown";
  // A text that holds several lines is a text area.
  if (role == kRoleText && hasState(states, State::multiLine)) return "AXTextArea";
  for (const Counterpart& counterpart : kCounterparts) {
    if (counterpart.atspi == atspi) return std::string(counterpart.ax);
  }
  return derivedName(atspi);
}

std::string_view axSubrole(std::uint32_t role) {
  switch (role) {
    case kRolePasswordText:
      return "AXSecureTextField";
    case kRoleToggleButton:
      return "AXToggle";
    case kRolePageTab:
      return "AXTabButton";
    default:
      return {};
  }
}

bool windowRole(std::uint32_t role) {
  return role == kRoleFrame || role == kRoleDialog || role == kRoleAlert ||
         role == kRoleFileChooser || role == kRoleWindow;
}

ValueSource valueSource(std::uint32_t role) {
  const std::string_view atspi = atspiRoleName(role);
  static constexpr std::string_view kText[] = {
      "text",      "entry",         "label",    "static",  "caption",          "heading",
      "paragraph", "document text", "terminal", "editbar", "accelerator label"};
  static constexpr std::string_view kNumber[] = {"slider",     "spin button", "progress bar",
                                                 "scroll bar", "level bar",   "dial"};
  static constexpr std::string_view kChecked[] = {"check box", "radio button", "toggle button",
                                                  "check menu item", "radio menu item"};
  if (role == kRolePasswordText || atspi.empty()) return ValueSource::none;
  for (std::string_view name : kText) {
    if (atspi == name) return ValueSource::text;
  }
  for (std::string_view name : kNumber) {
    if (atspi == name) return ValueSource::number;
  }
  for (std::string_view name : kChecked) {
    if (atspi == name) return ValueSource::checked;
  }
  if (role == kRolePageTab) return ValueSource::selected;
  return ValueSource::none;
}

std::string numberText(double value) {
  if (!std::isfinite(value)) return {};
  // Integers print without a fraction, as far as a double holds them exactly.
  constexpr double kExactIntegers = 9007199254740992.0;  // 2^53
  if (value == std::trunc(value) && std::fabs(value) < kExactIntegers) {
    return std::to_string(static_cast<long long>(value));
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace nevo::lin
