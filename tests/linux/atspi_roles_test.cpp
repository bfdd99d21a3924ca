#include "platform/linux/atspi_roles.h"

#include <gtest/gtest.h>

namespace nevo::lin {
namespace {

TEST(AtspiRoles, MapsRolesOntoTheNamesOfTheCoreRoleTable) {
  struct Case {
    std::uint32_t role;
    StateSet states;
    std::string_view ax;
    std::string_view subrole;
  };
  const Case cases[] = {
      {43, 0, "AXButton", ""},
      {61, 0, "AXTextField", ""},
      {61, stateBit(State::multiLine), "AXTextArea", ""},
      {79, stateBit(State::multiLine), "AXTextField", ""},
      {40, 0, "AXTextField", "AXSecureTextField"},
      {11, 0, "AXComboBox", ""},
      {7, 0, "AXCheckBox", ""},
      {62, 0, "AXCheckBox", "AXToggle"},
      {44, 0, "AXRadioButton", ""},
      {37, 0, "AXRadioButton", "AXTabButton"},
      {35, 0, "AXMenuItem", ""},
      {29, 0, "AXStaticText", ""},
      {116, 0, "AXStaticText", ""},
      {49, 0, "AXScrollArea", ""},
      {55, 0, "AXTable", ""},
      {66, 0, "AXTable", ""},
      {90, 0, "AXRow", ""},
      {88, 0, "AXLink", ""},
      {51, 0, "AXSlider", ""},
      {38, 0, "AXTabGroup", ""},
      {16, 0, "AXDialog", ""},
      {23, 0, "AXWindow", ""},
      {39, 0, "AXGroup", ""},
      {20, 0, "AXGroup", ""},
      // Roles without a counterpart keep a name derived from AT-SPI's.
      {54, 0, "AXStatusBar", ""},
      {129, 0, "AXMenuButton", ""},
      {128, 0, "AXSuggestion", ""},
      {0, 0, "AXUnknown", ""},
      {kRoleLastDefined, 0, "AXUnknown", ""},
      {0xffffffffu, 0, "AXUnknown", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.role);
    EXPECT_EQ(axRole(c.role, c.states), c.ax);
    EXPECT_EQ(axSubrole(c.role), c.subrole);
  }
}

TEST(AtspiRoles, NamesFollowTheProtocolNumbering) {
  // Spot checks across the table: an entry out of place shifts every role after it.
  EXPECT_EQ(atspiRoleName(1), "accelerator label");
  EXPECT_EQ(atspiRoleName(23), "frame");
  EXPECT_EQ(atspiRoleName(40), "password text");
  EXPECT_EQ(atspiRoleName(69), "window");
  EXPECT_EQ(atspiRoleName(79), "entry");
  EXPECT_EQ(atspiRoleName(103), "level bar");
  EXPECT_EQ(atspiRoleName(116), "static");
  EXPECT_EQ(atspiRoleName(129), "push button menu");
  EXPECT_EQ(atspiRoleName(130), "");
}

TEST(AtspiRoles, OnlyThePasswordTextIsProtectedAndItHasNoValue) {
  for (std::uint32_t role = 0; role <= kRoleLastDefined; ++role) {
    SCOPED_TRACE(role);
    EXPECT_EQ(protectedRole(role), role == kRolePasswordText);
  }
  EXPECT_EQ(valueSource(kRolePasswordText), ValueSource::none);
}

TEST(AtspiRoles, ValueSources) {
  EXPECT_EQ(valueSource(61), ValueSource::text);      // text
  EXPECT_EQ(valueSource(29), ValueSource::text);      // label
  EXPECT_EQ(valueSource(51), ValueSource::number);    // slider
  EXPECT_EQ(valueSource(52), ValueSource::number);    // spin button
  EXPECT_EQ(valueSource(7), ValueSource::checked);    // check box
  EXPECT_EQ(valueSource(62), ValueSource::checked);   // toggle button
  EXPECT_EQ(valueSource(37), ValueSource::selected);  // page tab
  EXPECT_EQ(valueSource(43), ValueSource::none);      // push button
  EXPECT_EQ(valueSource(500), ValueSource::none);
}

TEST(AtspiRoles, WindowRoles) {
  EXPECT_TRUE(windowRole(kRoleFrame));
  EXPECT_TRUE(windowRole(kRoleDialog));
  EXPECT_TRUE(windowRole(kRoleWindow));
  EXPECT_FALSE(windowRole(39));  // panel
}

TEST(NumberText, IntegersWithoutFractionOthersShortestRoundTrip) {
  struct Case {
    double value;
    std::string_view text;
  };
  const Case cases[] = {
      {0, "0"},     {1, "1"},         {-3, "-3"},      {0.5, "0.5"},
      {0.1, "0.1"}, {50.25, "50.25"}, {1e21, "1e+21"}, {9007199254740991.0, "9007199254740991"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(numberText(c.value), c.text);
  }
}

}  // namespace
}  // namespace nevo::lin
