// The overlay: its colour and opacity from the store, its window styles, the
// translucency procedure and the single-instance rule.
#include <gtest/gtest.h>

#include <string>

#include "overlay/translucency.h"
#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"

using namespace platform;

namespace {

using OverlayTest = ProgramTest;

TEST_F(OverlayTest, FirstRunIsDarkGreenAtOpacity150) {
  StartOverlay();
  EXPECT_EQ(frmNight.BackColor, 0x00004000);
  EXPECT_EQ(mdluser::bytLig, 150);
  const auto& window = OverlayWindow();
  EXPECT_TRUE(window.visible);
  EXPECT_TRUE(window.layered);
  EXPECT_EQ(window.alpha, 150);
  EXPECT_EQ(window.layeredFlags, LWA_ALPHA);
  EXPECT_EQ(window.colourKey, 0);
  EXPECT_TRUE(window.topmost);
  EXPECT_TRUE(desktop.storeWrites.empty());
}

TEST_F(OverlayTest, IsLayeredAndClickThroughAndKeepsItsOtherStyleBits) {
  StartOverlay();
  const auto& window = OverlayWindow();
  // No taskbar button: owned by the hidden window, which is never shown,
  // whatever SetTranslucent does to the style word.
  EXPECT_FALSE(desktop.HasTaskbarButton(frmNight.Handle()));
  EXPECT_EQ(window.owner, desktop.HiddenOwner());
  EXPECT_EQ(desktop.WindowOf(desktop.HiddenOwner()), nullptr);
  // Never activated, and that bit survives.
  EXPECT_NE(window.createdExStyle & headless::WS_EX_NOACTIVATE, 0);
  EXPECT_EQ(window.exStyle, window.createdExStyle | WS_EX_LAYERED | WS_EX_TRANSPARENT);
}

TEST_F(OverlayTest, StoredValuesAreApplied) {
  Store(settings::kOpacityKey, "255");
  Store(settings::kColourKey, "255");
  StartOverlay();
  EXPECT_EQ(frmNight.BackColor, 0x000000FF);
  EXPECT_EQ(OverlayWindow().alpha, 255);

}

TEST_F(OverlayTest, OpacityZeroKeepsTheWindowPresentAndClickThrough) {
  Store(settings::kOpacityKey, "0");
  StartOverlay();
  const auto& window = OverlayWindow();
  EXPECT_EQ(window.alpha, 0);
  EXPECT_TRUE(window.visible);
  EXPECT_TRUE(window.topmost);
  EXPECT_NE(window.exStyle & WS_EX_TRANSPARENT, 0);
}

class InvalidOpacity : public ProgramTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(InvalidOpacity, FallsBackToTheDefault) {
  Store(settings::kOpacityKey, GetParam());
  StartOverlay();
  EXPECT_EQ(mdluser::bytLig, 150);
  EXPECT_EQ(OverlayWindow().alpha, 150);
}

INSTANTIATE_TEST_SUITE_P(Stored, InvalidOpacity,
                         ::testing::Values("abc", "300", "256", "-1", "", "  ", "12.5", "1e2",
                                           "0x10", "+-3", std::string(5000, '7'),
                                           "\xE4\xBA\xAE" /* a Chinese character */));

class InvalidColour : public ProgramTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(InvalidColour, FallsBackToDarkGreen) {
  Store(settings::kColourKey, GetParam());
  StartOverlay();
  EXPECT_EQ(frmNight.BackColor, 0x00004000);
}

INSTANTIATE_TEST_SUITE_P(Stored, InvalidColour,
                         ::testing::Values("abc", "", "-1", "16777216", "2147483647",
                                           "2147483648", "4294967295", "0xFF", "255.0",
                                           std::string(5000, '1')));

TEST_F(OverlayTest, AcceptsBlanksAndSignsAroundValidNumbers) {
  Store(settings::kOpacityKey, "  42 ");
  Store(settings::kColourKey, "+16711680");
  StartOverlay();
  EXPECT_EQ(mdluser::bytLig, 42);
  EXPECT_EQ(frmNight.BackColor, 0x00FF0000);
}

TEST_F(OverlayTest, AnUnreadableStoreGivesTheDefaults) {
  Store(settings::kOpacityKey, "10");
  Store(settings::kColourKey, "255");
  desktop.refuseStoreReads = true;
  StartOverlay();
  EXPECT_EQ(mdluser::bytLig, 150);
  EXPECT_EQ(frmNight.BackColor, 0x00004000);
}

TEST_F(OverlayTest, SetTranslucentTwiceGivesTheSecondOpacityAndKeepsEveryBit) {
  StartOverlay();
  const std::int32_t before = OverlayWindow().exStyle;
  desktop.Post([] {
    mdluser::SetTranslucent(frmNight.hWnd(), 0, 10, LWA_ALPHA);
    mdluser::SetTranslucent(frmNight.hWnd(), 0, 200, LWA_ALPHA);
  });
  const auto& window = OverlayWindow();
  EXPECT_EQ(window.exStyle, before);
  EXPECT_NE(window.exStyle & WS_EX_TRANSPARENT, 0);
  EXPECT_EQ(window.alpha, 200);
  EXPECT_EQ(window.layeredCalls, 3);  // the load's and these two
}

TEST_F(OverlayTest, SetTranslucentMakesAPlainWindowLayered) {
  StartOverlay();
  desktop.Post([] {
    SetWindowLongA(frmNight.hWnd(), GWL_EXSTYLE, WS_EX_TOOLWINDOW);
    mdluser::SetTranslucent(frmNight.hWnd(), 0, 0, LWA_ALPHA);
  });
  EXPECT_EQ(OverlayWindow().exStyle, WS_EX_TOOLWINDOW | WS_EX_LAYERED);
  EXPECT_TRUE(OverlayWindow().layered);
  EXPECT_EQ(OverlayWindow().alpha, 0);
}

TEST_F(OverlayTest, ASecondInstanceSaysSoAndEndsWithoutTouchingTheStore) {
  desktop.otherInstanceRunning = true;
  Store(settings::kOpacityKey, "77");
  StartOverlay();
  ASSERT_EQ(desktop.msgBoxes.size(), 1U);
  EXPECT_EQ(desktop.msgBoxes[0].prompt, "Morvane夜间模式工具已经启动，欢迎继续使用。");
  EXPECT_EQ(desktop.msgBoxes[0].buttons, 0);
  EXPECT_EQ(desktop.msgBoxes[0].caption, "Morvane电脑夜间模式工具");
  EXPECT_TRUE(desktop.Ended());
  EXPECT_TRUE(desktop.storeWrites.empty());
  EXPECT_EQ(Stored(settings::kOpacityKey), "77");
  EXPECT_EQ(mdluser::bytLig, 0);  // it never read the settings
  EXPECT_FALSE(OverlayWindow().visible);
}

TEST_F(OverlayTest, ADoubleClickReachingTheOverlayTakesTheTintOff) {
  StartOverlay();
  desktop.Mouse(frmNight, MouseAction::DblClick, kLeftButton, 500, 500);
  EXPECT_FALSE(frmNight.IsLoaded());
  EXPECT_TRUE(desktop.Finished());
}

TEST_F(OverlayTest, OtherKeysNeverOpenThePanel) {
  StartOverlay();
  for (std::int32_t vk : {0x75, 0x77, 0x11, 0x10, 0x12, 0x1B, 0x41}) {
    desktop.KeyDown(vk);
    desktop.RunFor(300);
    desktop.KeyUp(vk);
  }
  EXPECT_EQ(desktop.WindowsCreated(frmNight), 1);
  EXPECT_EQ(desktop.ZOrder().size(), 1U);  // the overlay alone
}

// Asked from outside (a desktop's shortcut where no program reads F7): the
// next poll opens the panel, once, with no key pressed.
TEST_F(OverlayTest, AnAskToOpenTheSettingsIsServedByTheNextPollOnce) {
  StartOverlay();
  desktop.RunUntil(150);
  frmNight.AskForSettings();
  desktop.RunUntil(199);
  EXPECT_FALSE(frmSet.IsLoaded());
  desktop.RunUntil(200);
  ASSERT_TRUE(frmSet.IsShown());
  Unload(frmSet);
  desktop.RunUntil(1000);
  EXPECT_FALSE(frmSet.IsLoaded());
}

}  // namespace
