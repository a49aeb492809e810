// A day of use around the edges of the program's life: a second start while
// the first runs, the keyboard before and after the panel, and every way the
// program can be asked to stop from outside.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"
#include "splash/frm_splash.h"

using namespace platform;
using platform::headless::ColourAnswer;

namespace {

using Writes = std::vector<std::pair<std::string, std::string>>;

constexpr HWnd kEditor = 0x7000;  // another program's window, with the keyboard
constexpr int kFiveMinutes = 5 * 60 * 1000;

class LifecycleTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    desktop.foreignWindows = {kEditor};
    desktop.foreground = kEditor;
  }
  // The running program after its splash, F7 pressed in the editor.
  void OpenPanelFromTheEditor() {
    StartProgram();
    desktop.RunUntil(5000);
    desktop.KeyTap(VK_F7);
    desktop.RunFor(100);
    ASSERT_TRUE(frmSet.IsShown());
  }
  void Drag(float x) { desktop.Mouse(frmSet, MouseAction::Down, kLeftButton, x, 1170); }
};

// --- a second start ----------------------------------------------------------

// The user leaves the "already running" box up for minutes and presses F7,
// as the box invites: nothing of the second instance may tick, open or
// store before the box is answered and it ends.
TEST_F(LifecycleTest, ASecondInstanceOnlySaysSoWhateverHappensWhileItsBoxIsUp) {
  desktop.otherInstanceRunning = true;
  desktop.msgBoxOpenMs = kFiveMinutes;
  Store(settings::kOpacityKey, "120");
  Store(settings::kColourKey, "255");
  desktop.KeyDown(VK_F7);
  StartProgram();
  desktop.RunUntil(kFiveMinutes - 1);
  ASSERT_FALSE(desktop.Finished());
  EXPECT_EQ(desktop.WindowsCreated(frmSet), 0);
  EXPECT_FALSE(frmSplash.IsShown());
  EXPECT_FALSE(frmNight.IsShown());
  desktop.RunUntil(kFiveMinutes + 10000);
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(desktop.msgBoxes.size(), 1U);
  EXPECT_EQ(desktop.WindowsCreated(frmSet), 0);
  EXPECT_TRUE(desktop.storeWrites.empty());
  EXPECT_EQ(Stored(settings::kOpacityKey), "120");
  EXPECT_EQ(Stored(settings::kColourKey), "255");
}

TEST_F(LifecycleTest, ASecondInstanceAskedToStopDuringItsBoxStoresNothing) {
  desktop.otherInstanceRunning = true;
  desktop.msgBoxOpenMs = kFiveMinutes;
  StartProgram();
  desktop.RunFor(2000);
  desktop.Post([] { Runtime::Get().DeliverEndRequest(); });
  EXPECT_TRUE(desktop.Ended());
  EXPECT_TRUE(desktop.storeWrites.empty());
}

TEST_F(LifecycleTest, ValuesNeverReadAreNeverStored) {
  desktop.Start([] { settings::SaveBoth(0, 16384); });
  EXPECT_TRUE(desktop.storeWrites.empty());
}

// --- the keyboard ------------------------------------------------------------

TEST_F(LifecycleTest, TheOverlayNeverTakesTheKeyboard) {
  StartProgram();
  EXPECT_EQ(desktop.foreground, frmSplash.Handle());
  desktop.RunUntil(4000);  // the splash goes
  EXPECT_EQ(desktop.foreground, kEditor);

  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  EXPECT_EQ(desktop.foreground, frmSet.Handle());
  desktop.QueueColourAnswer(ColourAnswer::Confirm(0x00FF0000, 3000));
  desktop.Click(frmSet.lbColor);
  desktop.RunFor(9000);  // the dialog, then the panel closes itself
  ASSERT_FALSE(frmSet.IsLoaded());
  EXPECT_EQ(desktop.foreground, kEditor);
  EXPECT_EQ(OverlayWindow().activations, 0);
}

TEST_F(LifecycleTest, WhenTheEditorWentMeanwhileNoWindowGetsTheKeyboard) {
  OpenPanelFromTheEditor();
  desktop.foreignWindows.clear();  // the editor was closed
  desktop.RunFor(6000);
  ASSERT_FALSE(frmSet.IsLoaded());
  EXPECT_EQ(desktop.foreground, 0);
  EXPECT_EQ(OverlayWindow().activations, 0);
}

// --- asked to stop from outside ----------------------------------------------

struct StopCase {
  const char* name;
  void (*ask)();
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopRequest : public LifecycleTest, public ::testing::WithParamInterface<StopCase> {};

// After a slider move, a close message to any window, the session ending or
// the overlay closed from outside: both values are stored once, as the exit
// label stores them, and the program ends.
TEST_P(StopRequest, StoresBothValuesOnceAndEnds) {
  OpenPanelFromTheEditor();
  Drag(3532.5F);
  desktop.RunFor(500);
  desktop.Post(GetParam().ask);
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(desktop.storeWrites, (Writes{{"intLig", "128"}, {"lngColor", "16384"}}));
}

INSTANTIATE_TEST_SUITE_P(Ways, StopRequest,
                         ::testing::Values(StopCase{"close message or session end",
                                                    [] { Runtime::Get().DeliverEndRequest(); }},
                                           StopCase{"overlay closed by the window manager", [] {
                                                      Runtime::Get().DeliverClose(frmNight);
                                                    }}));

// A close message to the panel alone closes it as its idle close does and
// leaves the tint; one to every window afterwards still ends night mode.
TEST_F(LifecycleTest, AClosedPanelStoresAndLeavesTheTintUntilEveryWindowIsClosed) {
  OpenPanelFromTheEditor();
  Drag(3532.5F);
  desktop.Post([] { Runtime::Get().DeliverClose(frmSet); });
  EXPECT_FALSE(frmSet.IsLoaded());
  ASSERT_FALSE(desktop.Finished());
  EXPECT_TRUE(frmNight.IsShown());
  EXPECT_EQ(desktop.foreground, kEditor);
  EXPECT_EQ(desktop.storeWrites, (Writes{{"intLig", "128"}, {"lngColor", "16384"}}));
  desktop.Post([] { Runtime::Get().DeliverEndRequest(); });
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(Stored(settings::kOpacityKey), "128");
}

TEST_F(LifecycleTest, AStopRequestWithThePanelClosedStoresTheOverlaysValues) {
  Store(settings::kOpacityKey, "77");
  Store(settings::kColourKey, "255");
  StartProgram();
  desktop.RunUntil(1000);  // the splash is still up
  desktop.Post([] { Runtime::Get().DeliverEndRequest(); });
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(desktop.storeWrites, (Writes{{"intLig", "77"}, {"lngColor", "255"}}));
}

}  // namespace
