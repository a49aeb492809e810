// Faults the desktop can throw at the program: a store that gives out part
// way through a save, and window calls that fail.
#include <gtest/gtest.h>

#include <string>

#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"

using namespace platform;
using platform::headless::ColourAnswer;

namespace {

// How the panel goes away, and how many writes the store takes before it
// refuses the rest.
struct SaveFault {
  bool throughExit;
  int writesAllowed;
};

void PrintTo(const SaveFault& f, std::ostream* os) {
  *os << (f.throughExit ? "exit" : "idle close") << " after " << f.writesAllowed << " writes";
}

class StoreGivesOut : public ProgramTest, public ::testing::WithParamInterface<SaveFault> {};

TEST_P(StoreGivesOut, EachValueIsLeftOldOrNewAndTheProgramCarriesOnAsDesigned) {
  Store(settings::kOpacityKey, "40");
  Store(settings::kColourKey, "255");
  StartOverlay();
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  ASSERT_TRUE(frmSet.IsShown());
  desktop.Mouse(frmSet, MouseAction::Down, kLeftButton, 4000, 1170);
  desktop.Mouse(frmSet, MouseAction::Up, kLeftButton, 4000, 1170);
  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x00FF0000));
  desktop.Click(frmSet.lbColor);

  desktop.storeWritesAllowed = GetParam().writesAllowed;
  if (GetParam().throughExit) {
    desktop.Click(frmSet.lbExit);
    EXPECT_TRUE(desktop.Ended());
  } else {
    desktop.RunFor(6000);
    EXPECT_FALSE(frmSet.IsLoaded());
    EXPECT_TRUE(frmNight.IsShown());
    EXPECT_FALSE(desktop.Finished());
  }
  const std::string opacity = Stored(settings::kOpacityKey);
  const std::string colour = Stored(settings::kColourKey);
  EXPECT_TRUE(opacity == "40" || opacity == "93") << opacity;
  EXPECT_TRUE(colour == "255" || colour == "16711680") << colour;
  // The opacity goes first: the colour is never newer than it.
  if (colour == "16711680") {
    EXPECT_EQ(opacity, "93");
  }
}

INSTANTIATE_TEST_SUITE_P(Saves, StoreGivesOut,
                         ::testing::Values(SaveFault{false, 0}, SaveFault{false, 1},
                                           SaveFault{false, 2}, SaveFault{true, 0},
                                           SaveFault{true, 1}, SaveFault{true, 2}));

TEST_F(ProgramTest, AStoreThatRefusesEverythingStillGivesATintAndAWorkingPanel) {
  desktop.refuseStoreReads = true;
  desktop.refuseStoreWrites = true;
  StartOverlay();
  EXPECT_EQ(OverlayWindow().alpha, 150);
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  ASSERT_TRUE(frmSet.IsShown());
  desktop.Mouse(frmSet, MouseAction::Down, kLeftButton, 2000, 1170);
  EXPECT_EQ(OverlayWindow().alpha, 240);
  desktop.RunFor(6000);
  EXPECT_FALSE(frmSet.IsLoaded());
  EXPECT_TRUE(frmNight.IsShown());
  EXPECT_TRUE(desktop.store.empty());
}

// Without the click-through style the overlay would catch every click; the
// double-click on it is then the way out.
TEST_F(ProgramTest, WhenTheWindowCallsFailADoubleClickTakesTheOverlayAway) {
  desktop.failWindowCalls = true;
  StartOverlay();
  const auto& window = OverlayWindow();
  EXPECT_TRUE(window.visible);
  EXPECT_FALSE(window.layered);
  EXPECT_EQ(window.exStyle & WS_EX_TRANSPARENT, 0);

  // The panel still works meanwhile.
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  ASSERT_TRUE(frmSet.IsShown());
  desktop.Mouse(frmSet, MouseAction::Down, kLeftButton, 2000, 1170);
  EXPECT_EQ(mdluser::bytLig, 240);
  desktop.RunFor(6000);
  ASSERT_FALSE(frmSet.IsLoaded());

  desktop.Mouse(frmNight, MouseAction::DblClick, kLeftButton, 100, 100);
  EXPECT_FALSE(frmNight.IsLoaded());
  EXPECT_TRUE(desktop.Finished());
  EXPECT_EQ(Stored(settings::kOpacityKey), "240");
}

}  // namespace
