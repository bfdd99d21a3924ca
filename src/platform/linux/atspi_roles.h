// How AT-SPI roles and states become the accessibility role names, subroles and values
// that the core reads, so that its role table gives the same words on Linux as on macOS.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/linux/atspi_wire.h"

namespace nevo::lin {

// AT-SPI role numbers the backend treats specially (the protocol's numbering).
enum AtspiRole : std::uint32_t {
  kRoleAlert = 2,
  kRoleCheckBox = 7,
  kRoleCheckMenuItem = 8,
  kRoleDialog = 16,
  kRoleFileChooser = 19,
  kRoleFrame = 23,
  kRolePageTab = 37,
  kRolePasswordText = 40,
  kRoleRadioButton = 44,
  kRoleRadioMenuItem = 45,
  kRoleText = 61,
  kRoleToggleButton = 62,
  kRoleWindow = 69,
  kRoleLastDefined = 130,
};

// The role's name as AT-SPI spells it ("push button"), or "" for a number it does not
// define.
std::string_view atspiRoleName(std::uint32_t role);

// "AXRole": the macOS name where the role has a counterpart, else "AX" and the AT-SPI
// name in upper camel case ("AXSeparator"); "AXUnknown" for numbers AT-SPI does not define.
std::string axRole(std::uint32_t role, StateSet states);
// "AXSubrole": "AXSecureTextField" for a password text, "AXToggle" for a toggle button,
// "AXTabButton" for a page tab; empty (no subrole) otherwise.
std::string_view axSubrole(std::uint32_t role);

// Whether the role's texts (name, description, text contents) may never be asked for.
constexpr bool protectedRole(std::uint32_t role) {
  return role == kRolePasswordText;
}
// Roles of top-level windows.
bool windowRole(std::uint32_t role);

// Where "AXValue" comes from for a role.
enum class ValueSource {
  none,      // no value
  text,      // the Text interface's contents
  number,    // the Value interface's current value
  checked,   // the checked state, as 0 or 1
  selected,  // the selected state, as 0 or 1 (page tabs)
};
ValueSource valueSource(std::uint32_t role);

// A number's text as the tool reports it: integers without a fraction ("3"), other
// values in the shortest form that reads back as the same double ("0.5").
std::string numberText(double value);

}  // namespace nevo::lin
