// The settings panel: how F7 opens it, when it closes itself and what it
// stores, the brightness slider, the colour swatch and the exit label.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"

using namespace platform;
using platform::headless::ColourAnswer;

namespace {

constexpr int kRightButton = 2;

class SettingsPanelTest : public ProgramTest {
 protected:
  // The overlay up, F7 pressed at time 0 and released; the overlay's 100 ms
  // poll opens the panel.
  void OpenPanel() {
    StartOverlay();
    desktop.KeyTap(VK_F7);
    desktop.RunUntil(desktop.Now() + 100);
    ASSERT_TRUE(frmSet.IsShown());
  }
  void Slide(MouseAction action, float x, float y = 1170, int button = kLeftButton) {
    desktop.Mouse(frmSet, action, button, x, y);
  }
  std::vector<std::pair<std::string, std::string>> Writes() const { return desktop.storeWrites; }
};

// --- opening and closing --------------------------------------------------

TEST_F(SettingsPanelTest, F7OpensThePanelAtTheNextPollAboveTheOverlay) {
  StartOverlay();
  desktop.KeyTap(VK_F7);
  desktop.RunUntil(99);
  EXPECT_FALSE(frmSet.IsLoaded());
  desktop.RunUntil(100);
  ASSERT_TRUE(frmSet.IsShown());
  const auto* panel = desktop.WindowOf(frmSet);
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->topmost);
  EXPECT_EQ(desktop.ZOrder().front(), frmSet.Handle());
  EXPECT_EQ(panel->owner, frmNight.Handle());
  EXPECT_FALSE(desktop.WindowOf(frmNight)->enabled);  // modal over the overlay
  EXPECT_EQ(frmSet.lbColor.BackColor, 0x00004000);
}

TEST_F(SettingsPanelTest, AKeyHeldDownOpensOnePanelOnly) {
  StartOverlay();
  desktop.KeyDown(VK_F7);
  desktop.RunUntil(2000);
  EXPECT_EQ(desktop.WindowsCreated(frmSet), 1);
  desktop.KeyUp(VK_F7);
}

TEST_F(SettingsPanelTest, F7WithAModifierStillOpensIt) {
  StartOverlay();
  desktop.KeyDown(0x11);  // Ctrl
  desktop.KeyTap(VK_F7);
  desktop.RunUntil(100);
  EXPECT_TRUE(frmSet.IsShown());
  desktop.KeyUp(0x11);
}

TEST_F(SettingsPanelTest, UntouchedItClosesAfterFiveSecondsAndStoresBothValues) {
  Store(settings::kOpacityKey, "90");
  Store(settings::kColourKey, "255");
  OpenPanel();  // at 100 ms
  desktop.RunUntil(5099);
  EXPECT_TRUE(frmSet.IsLoaded());
  EXPECT_TRUE(Writes().empty());
  desktop.RunUntil(5100);
  EXPECT_FALSE(frmSet.IsLoaded());
  const std::vector<std::pair<std::string, std::string>> expected{{settings::kOpacityKey, "90"},
                                                                  {settings::kColourKey, "255"}};
  EXPECT_EQ(Writes(), expected);
  EXPECT_TRUE(desktop.WindowOf(frmNight)->enabled);
  EXPECT_TRUE(frmNight.IsShown());  // the tint stays
  EXPECT_FALSE(desktop.Finished());
}

TEST_F(SettingsPanelTest, InteractionKeepsItOpenButAPlainMoveDoesNot) {
  OpenPanel();
  desktop.RunUntil(2700);
  desktop.Mouse(frmSet, MouseAction::Down, kRightButton, 300, 300);  // any press counts
  desktop.Mouse(frmSet, MouseAction::Up, kRightButton, 300, 300);
  desktop.RunUntil(5100);
  EXPECT_TRUE(frmSet.IsLoaded());
  desktop.RunUntil(7600);
  EXPECT_FALSE(frmSet.IsLoaded());

  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  ASSERT_TRUE(frmSet.IsShown());
  const auto opened = desktop.Now();
  desktop.RunFor(2600);
  desktop.Mouse(frmSet, MouseAction::Move, 0, 300, 300);  // hovering only
  desktop.RunUntil(opened + 5000);
  EXPECT_FALSE(frmSet.IsLoaded());
}

TEST_F(SettingsPanelTest, HoveringTheExitLabelKeepsItOpenAndHighlightsIt) {
  OpenPanel();
  EXPECT_EQ(frmSet.lbExit.ForeColor, settings_panel::kExitNormalColour);
  desktop.RunUntil(2700);
  desktop.Mouse(frmSet, MouseAction::Move, 0, frmSet.lbExit.Left + 10, frmSet.lbExit.Top + 10);
  EXPECT_EQ(frmSet.lbExit.ForeColor, settings_panel::kExitHoverColour);
  desktop.RunUntil(5100);
  EXPECT_TRUE(frmSet.IsLoaded());
  desktop.Mouse(frmSet, MouseAction::Move, 0, 300, 300);
  EXPECT_EQ(frmSet.lbExit.ForeColor, settings_panel::kExitNormalColour);
}

TEST_F(SettingsPanelTest, ItReopensAfreshAfterClosing) {
  OpenPanel();
  desktop.RunUntil(5100);
  ASSERT_FALSE(frmSet.IsLoaded());
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  EXPECT_TRUE(frmSet.IsShown());
  EXPECT_EQ(desktop.WindowsCreated(frmSet), 2);
  EXPECT_FLOAT_EQ(frmSet.Ly.X1, 3226.7646F);
}

TEST_F(SettingsPanelTest, ARefusingStoreNeitherEndsTheProgramNorStopsTheNextSave) {
  OpenPanel();
  desktop.refuseStoreWrites = true;
  desktop.RunUntil(5100);
  EXPECT_FALSE(frmSet.IsLoaded());
  EXPECT_FALSE(desktop.Finished());
  EXPECT_TRUE(frmNight.IsShown());
  EXPECT_EQ(Stored(settings::kOpacityKey), "<absent>");

  desktop.refuseStoreWrites = false;
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  desktop.RunFor(5000);
  EXPECT_EQ(Stored(settings::kOpacityKey), "150");
  EXPECT_EQ(Stored(settings::kColourKey), "16384");
}

TEST_F(SettingsPanelTest, ClosingItFromTheWindowAlsoStores) {
  OpenPanel();
  desktop.Post([] { Runtime::Get().DeliverClose(frmSet); });
  EXPECT_FALSE(frmSet.IsLoaded());
  EXPECT_TRUE(frmNight.IsShown());
  EXPECT_EQ(Stored(settings::kOpacityKey), "150");
}

// --- the slider ------------------------------------------------------------

struct ThumbCase {
  const char* opacity;
  float x;
};

void PrintTo(const ThumbCase& c, std::ostream* os) { *os << "opacity " << c.opacity; }

class ThumbPlacement : public SettingsPanelTest, public ::testing::WithParamInterface<ThumbCase> {};

TEST_P(ThumbPlacement, FollowsTheOpacityInForce) {
  Store(settings::kOpacityKey, GetParam().opacity);
  OpenPanel();
  EXPECT_FLOAT_EQ(frmSet.Ly.X1, GetParam().x);
  EXPECT_FLOAT_EQ(frmSet.Ly.X2, GetParam().x);
  EXPECT_EQ(frmSet.Ly.Y1, 990);
  EXPECT_EQ(frmSet.Ly.Y2, 1395);
}

INSTANTIATE_TEST_SUITE_P(Opacities, ThumbPlacement,
                         ::testing::Values(ThumbCase{"255", 1800}, ThumbCase{"0", 5265},
                                           ThumbCase{"150", 3226.7646F},
                                           ThumbCase{"128", 3525.7058F}));

struct SlideCase {
  float x;
  float y;
  int opacity;  // -1: the press is ignored
};

void PrintTo(const SlideCase& c, std::ostream* os) {
  *os << "at " << c.x << "," << c.y << " gives " << c.opacity;
}

class SliderPress : public SettingsPanelTest, public ::testing::WithParamInterface<SlideCase> {};

TEST_P(SliderPress, SetsTheOpacityOnlyStrictlyInsideTheTrackBand) {
  OpenPanel();
  Slide(MouseAction::Down, GetParam().x, GetParam().y);
  Slide(MouseAction::Up, GetParam().x, GetParam().y);
  const int expected = GetParam().opacity < 0 ? 150 : GetParam().opacity;
  EXPECT_EQ(mdluser::bytLig, expected);
  EXPECT_EQ(desktop.WindowOf(frmNight)->alpha, expected);
  if (GetParam().opacity >= 0) {
    EXPECT_FLOAT_EQ(frmSet.Ly.X1, GetParam().x);
  } else {
    EXPECT_FLOAT_EQ(frmSet.Ly.X1, 3226.7646F);
  }
}

INSTANTIATE_TEST_SUITE_P(Presses, SliderPress,
                         ::testing::Values(SlideCase{1800, 1170, -1}, SlideCase{5265, 1170, -1},
                                           SlideCase{3000, 945, -1}, SlideCase{3000, 1380, -1},
                                           SlideCase{1801, 1170, 255}, SlideCase{5264, 1170, 0},
                                           SlideCase{5258, 1170, 1}, SlideCase{3532.5, 1170, 128},
                                           SlideCase{3540, 1170, 127}, SlideCase{3000, 946, 167},
                                           SlideCase{3000, 1379, 167}));

TEST_F(SettingsPanelTest, OnlyTheLeftButtonAloneMovesTheSlider) {
  OpenPanel();
  Slide(MouseAction::Down, 4000, 1170, kRightButton);
  Slide(MouseAction::Move, 4100, 1170, kRightButton);
  EXPECT_EQ(mdluser::bytLig, 150);
  Slide(MouseAction::Down, 4000, 1170, kLeftButton);
  Slide(MouseAction::Move, 4200, 1170, kLeftButton | kRightButton);
  EXPECT_FLOAT_EQ(frmSet.Ly.X1, 4000);
  EXPECT_EQ(mdluser::bytLig, 93);
}

TEST_F(SettingsPanelTest, ADragLeavingTheBandFreezesTheThumbAndResumesOnReturn) {
  OpenPanel();
  Slide(MouseAction::Down, 2000);
  Slide(MouseAction::Move, 2500);
  EXPECT_EQ(mdluser::bytLig, 203);
  Slide(MouseAction::Move, 3000, 2000);  // below the band
  Slide(MouseAction::Move, 6000, 1170);  // past the right end
  EXPECT_FLOAT_EQ(frmSet.Ly.X1, 2500);
  EXPECT_EQ(mdluser::bytLig, 203);
  Slide(MouseAction::Move, 5000);
  Slide(MouseAction::Up, 5000);
  EXPECT_EQ(mdluser::bytLig, 20);
  EXPECT_EQ(desktop.WindowOf(frmNight)->alpha, 20);
  desktop.RunFor(5000);
  EXPECT_EQ(Stored(settings::kOpacityKey), "20");
}

TEST_F(SettingsPanelTest, MovingTheThumbRepaintsItNotThePanel) {
  OpenPanel();
  const int panelBefore = desktop.Invalidations(nullptr);
  const int trackBefore = desktop.Invalidations(&frmSet.Lx);
  const int swatchBefore = desktop.Invalidations(&frmSet.lbColor);
  Slide(MouseAction::Down, 2000);
  for (float x = 2010; x < 2100; x += 10) Slide(MouseAction::Move, x);
  EXPECT_GT(desktop.Invalidations(&frmSet.Ly), 0);
  EXPECT_EQ(desktop.Invalidations(nullptr), panelBefore);
  EXPECT_EQ(desktop.Invalidations(&frmSet.Lx), trackBefore);
  EXPECT_EQ(desktop.Invalidations(&frmSet.lbColor), swatchBefore);
}

// --- keys on the panel -------------------------------------------------------

using KeyCase = std::tuple<const char*, int, int>;  // stored opacity, key, opacity after
class PanelKey : public SettingsPanelTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(PanelKey, StepsTheSliderAsAPressAtTheNewPlaceWould) {
  const auto [stored, key, after] = GetParam();
  Store(settings::kOpacityKey, stored);
  OpenPanel();
  desktop.KeyTap(key);
  EXPECT_EQ(OverlayWindow().alpha, after);
  EXPECT_EQ(OverlayWindow().layeredCalls, 2);  // the start's and the key's
  EXPECT_FLOAT_EQ(frmSet.Ly.X1, static_cast<float>(3465.0 / 255 * (255 - after) + 1800));
  if (after > 0 && after < 255) Slide(MouseAction::Down, frmSet.Ly.X1);
  EXPECT_EQ(mdluser::bytLig, after);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PanelKey,
    ::testing::Values(KeyCase{"150", vbKeyRight, 145}, KeyCase{"150", vbKeyUp, 145},
                      KeyCase{"150", vbKeyLeft, 155}, KeyCase{"150", vbKeyDown, 155},
                      KeyCase{"150", vbKeyPageUp, 125}, KeyCase{"150", vbKeyPageDown, 175},
                      KeyCase{"150", vbKeyHome, 255}, KeyCase{"150", vbKeyEnd, 0},
                      KeyCase{"3", vbKeyRight, 0}, KeyCase{"252", vbKeyLeft, 255},
                      KeyCase{"0", vbKeyPageUp, 0}, KeyCase{"255", vbKeyDown, 255},
                      KeyCase{"128", vbKeyRight, 123}));

TEST_F(SettingsPanelTest, KeysKeepItOpenEscClosesItAtOnceAndTheDialogTakesThemAll) {
  desktop.foreignWindows = {0x7000};
  desktop.foreground = 0x7000;
  OpenPanel();
  desktop.QueueColourAnswer(ColourAnswer::Cancel(1000));
  desktop.Click(frmSet.lbColor);
  desktop.KeyTap(vbKeyEscape);  // both to the dialog
  desktop.KeyTap(vbKeyEnd);
  for (int at = 3000; at <= 9000; at += 2000) {  // untouched it would close at 6100
    desktop.RunUntil(at);
    desktop.KeyTap(vbKeyLeft);
  }
  desktop.KeyTap(VK_F7);
  desktop.RunFor(200);
  EXPECT_TRUE(frmSet.IsShown());
  EXPECT_EQ(desktop.WindowsCreated(frmSet), 1);
  desktop.KeyTap(vbKeyEscape);
  EXPECT_FALSE(frmSet.IsLoaded());
  EXPECT_EQ(Stored(settings::kOpacityKey), "170");
  EXPECT_EQ(Stored(settings::kColourKey), "16384");
  EXPECT_EQ(desktop.foreground, 0x7000);
}

// --- the colour swatch ----------------------------------------------------

TEST_F(SettingsPanelTest, AConfirmedColourTintsTheScreenAndIsStoredOnClose) {
  OpenPanel();
  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x00FF0000, 1000));
  desktop.Click(frmSet.lbColor);
  EXPECT_EQ(desktop.ColourDialogsShown(), 1);
  EXPECT_TRUE(desktop.ColourDialogOpen());
  EXPECT_EQ(frmNight.BackColor, 0x00004000);  // nothing changes before OK
  desktop.RunUntil(1100);
  EXPECT_FALSE(desktop.ColourDialogOpen());
  EXPECT_EQ(frmNight.BackColor, 0x00FF0000);
  EXPECT_EQ(frmSet.lbColor.BackColor, 0x00FF0000);
  EXPECT_EQ(Stored(settings::kColourKey), "<absent>");  // stored on close only
  desktop.RunUntil(6100);
  EXPECT_FALSE(frmSet.IsLoaded());
  EXPECT_EQ(Stored(settings::kColourKey), "16711680");
}

TEST_F(SettingsPanelTest, ACancelledOrFailedDialogChangesNothing) {
  Store(settings::kColourKey, "255");
  OpenPanel();
  desktop.QueueColourAnswer(ColourAnswer::Cancel(500));
  desktop.Click(frmSet.lbColor);
  EXPECT_EQ(frmNight.BackColor, 0x000000FF);
  EXPECT_EQ(frmSet.lbColor.BackColor, 0x000000FF);

  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x0000FF00));
  desktop.Click(frmSet.lbColor);
  desktop.QueueColourAnswer(ColourAnswer::Cancel());
  desktop.Click(frmSet.lbColor);
  EXPECT_EQ(frmNight.BackColor, 0x0000FF00);  // the confirmed one, not black

  desktop.QueueColourAnswer(ColourAnswer::Fail());
  desktop.Click(frmSet.lbColor);
  EXPECT_EQ(frmNight.BackColor, 0x0000FF00);
  EXPECT_TRUE(frmSet.IsShown());
}

TEST_F(SettingsPanelTest, ThePanelWaitsForTheDialogThenClosesFiveSecondsLater) {
  OpenPanel();
  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x00808080, 60000));
  desktop.Click(frmSet.lbColor);
  desktop.RunUntil(60099);
  EXPECT_TRUE(desktop.ColourDialogOpen());
  EXPECT_TRUE(frmSet.IsLoaded());
  const std::int64_t closed = 60100;
  desktop.RunUntil(closed);
  EXPECT_FALSE(desktop.ColourDialogOpen());
  desktop.RunUntil(closed + 4999);
  EXPECT_TRUE(frmSet.IsLoaded());
  desktop.RunUntil(closed + 5000);
  EXPECT_FALSE(frmSet.IsLoaded());
}

// --- the exit label -----------------------------------------------------

TEST_F(SettingsPanelTest, ExitStoresBothValuesAndEnds) {
  OpenPanel();
  Slide(MouseAction::Down, 4000);
  Slide(MouseAction::Up, 4000);
  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x00123456));
  desktop.Click(frmSet.lbColor);
  desktop.Click(frmSet.lbExit);
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(Stored(settings::kOpacityKey), "93");
  EXPECT_EQ(Stored(settings::kColourKey), std::to_string(0x00123456));
}

TEST_F(SettingsPanelTest, ExitEndsEvenWhenTheStoreRefuses) {
  OpenPanel();
  desktop.refuseStoreWrites = true;
  desktop.Click(frmSet.lbExit);
  EXPECT_TRUE(desktop.Ended());
}

}  // namespace
