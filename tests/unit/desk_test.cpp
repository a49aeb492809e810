// The whole desk: the overlay over every monitor however they are laid out
// and however they change, the panel on the monitor of the pointer, the
// splash on the primary one.
#include "platform/desk.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"
#include "splash/frm_splash.h"

namespace platform {
void PrintTo(const Rect& r, std::ostream* os) {
  *os << "[" << r.left << "," << r.top << " - " << r.right << "," << r.bottom << "]";
}
}  // namespace platform

using namespace platform;

namespace {

constexpr int kPanelW = 6120 / 15;  // pixels at 96 DPI
constexpr int kPanelH = 2775 / 15;
constexpr int kSplashW = 6270 / 15;
constexpr int kSplashH = 3105 / 15;

Monitor At(int left, int top, int width, int height, bool primary = false, int dpi = 96) {
  return Monitor{Rect{left, top, left + width, top + height}, dpi, primary};
}

// A 1024 x 768 primary with an 800 x 600 monitor to its right, as on the
// desks the tool is tried on.
const std::vector<Monitor> kSideBySide = {At(0, 0, 1024, 768, true), At(1024, 0, 800, 600)};
// Three of different sizes: one left of the primary (negative coordinates),
// one above its right half.
const std::vector<Monitor> kThree = {At(0, 0, 1280, 1024, true), At(-1920, 100, 1920, 1080),
                                     At(640, -768, 1024, 768)};

struct DeskCase {
  const char* name;
  std::vector<Monitor> monitors;
  Rect desk;
};

void PrintTo(const DeskCase& c, std::ostream* os) { *os << c.name; }

class OverlayOverTheDesk : public ProgramTest, public ::testing::WithParamInterface<DeskCase> {};

TEST_P(OverlayOverTheDesk, CoversEveryMonitorWithOneWindow) {
  desktop.monitors = GetParam().monitors;
  StartProgram();
  EXPECT_EQ(OverlayWindow().bounds, GetParam().desk);
  EXPECT_EQ(DeskBounds(GetParam().monitors), GetParam().desk);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OverlayOverTheDesk,
    ::testing::Values(DeskCase{"one", {At(0, 0, 1024, 768, true)}, Rect{0, 0, 1024, 768}},
                      DeskCase{"side by side", kSideBySide, Rect{0, 0, 1824, 768}},
                      DeskCase{"stacked",
                               {At(0, 0, 1024, 768, true), At(112, 768, 800, 600)},
                               Rect{0, 0, 1024, 1368}},
                      DeskCase{"three", kThree, Rect{-1920, -768, 1664, 1180}}));

// Monitors come, go and move while the tint is up: the one window follows.
TEST(DeskChanges, TheOverlayFollowsTheMonitors) {
  struct Step {
    std::vector<Monitor> monitors;
    Rect desk;
  };
  const std::vector<Step> steps = {
      {{At(0, 0, 1024, 768, true)}, Rect{0, 0, 1024, 768}},
      {kSideBySide, Rect{0, 0, 1824, 768}},                                        // one added
      {{At(0, 0, 1024, 768, true), At(-800, 0, 800, 600)}, {-800, 0, 1024, 768}},  // moved
      {{At(0, 0, 1280, 1024, true), At(1280, 0, 800, 600)}, {0, 0, 2080, 1024}},   // resolution
      {{At(0, 0, 1280, 1024, true)}, Rect{0, 0, 1280, 1024}},                      // removed
  };
  platform::Runtime::Get().ResetForTests();
  platform::headless::HeadlessBackend desktop;
  platform::Runtime::Get().Install(&desktop);
  desktop.monitors = steps.front().monitors;
  desktop.Start([] { frmNight.Show(); });
  for (const Step& step : steps) {
    desktop.ChangeMonitors(step.monitors);
    desktop.RunFor(100);
    ASSERT_NE(desktop.WindowOf(frmNight), nullptr);
    EXPECT_EQ(desktop.WindowOf(frmNight)->bounds, step.desk);
  }
  desktop.Shutdown();
  platform::Runtime::Get().ResetForTests();
  platform::Runtime::Get().Install(nullptr);
}

class PanelOnTheDesk : public ProgramTest {
 protected:
  Rect PanelAfterF7() {
    StartProgram();
    desktop.RunUntil(5000);
    desktop.KeyTap(VK_F7);
    desktop.RunFor(100);
    EXPECT_TRUE(frmSet.IsShown());
    const auto* panel = desktop.WindowOf(frmSet);
    return panel != nullptr ? panel->bounds : Rect{};
  }
};

TEST_F(PanelOnTheDesk, OpensCentredOnTheMonitorThatHoldsThePointer) {
  desktop.monitors = kSideBySide;
  desktop.pointer = Point{1500, 500};
  const Rect panel = PanelAfterF7();
  EXPECT_EQ(panel.left, 1024 + (800 - kPanelW) / 2);
  EXPECT_EQ(panel.top, (600 - kPanelH) / 2);
  EXPECT_EQ(panel.Width(), kPanelW);
}

TEST_F(PanelOnTheDesk, PointerOnThePrimaryOrUnknownGivesThePrimary) {
  desktop.monitors = kSideBySide;
  desktop.pointer = std::nullopt;
  const Rect panel = PanelAfterF7();
  EXPECT_EQ(panel.left, (1024 - kPanelW) / 2);
  EXPECT_EQ(panel.top, (768 - kPanelH) / 2);
}

TEST_F(PanelOnTheDesk, OnAMonitorLeftOfThePrimaryAndAtItsOwnDpi) {
  desktop.monitors = {At(0, 0, 1280, 1024, true), At(-1920, 100, 1920, 1080, false, 144)};
  desktop.pointer = Point{-10, 200};
  const Rect panel = PanelAfterF7();
  EXPECT_EQ(panel.Width(), 6120 / 10);       // 10 twips to the pixel at 144 DPI
  EXPECT_EQ(panel.Height(), 2775 / 10 + 1);  // 277.5 rounds away from zero
  EXPECT_GE(panel.left, -1920);
  EXPECT_LE(panel.right, 0);
  EXPECT_EQ(panel.top, 100 + (1080 - panel.Height()) / 2);
}

TEST_F(PanelOnTheDesk, TheSplashStaysOnThePrimary) {
  desktop.monitors = {At(-1920, 0, 1920, 1080), At(0, 0, 1024, 768, true)};
  desktop.pointer = Point{-500, 500};
  StartProgram();
  const auto* splash = desktop.WindowOf(frmSplash);
  ASSERT_NE(splash, nullptr);
  EXPECT_EQ(splash->bounds.left, (1024 - kSplashW) / 2);
  EXPECT_EQ(splash->bounds.top, (768 - kSplashH) / 2);
}

// --- the placement rules on their own -------------------------------------------

TEST(DeskGeometry, AWindowIsKeptWhollyOnItsMonitor) {
  const Rect small{1024, 0, 1224, 150};  // smaller than the panel
  EXPECT_EQ(CentredOn(small, 408, 185).x, 1024);
  EXPECT_EQ(CentredOn(small, 408, 185).y, 0);
  const Rect monitor{-800, -600, 0, 0};
  const Point at = CentredOn(monitor, 408, 185);
  EXPECT_EQ(at.x, -800 + (800 - 408) / 2);
  EXPECT_EQ(at.y, -600 + (600 - 185) / 2);
}

TEST(DeskGeometry, PointerBetweenMonitorsOrWithoutMonitorsFallsBack) {
  // The pointer in the dead corner under the smaller monitor.
  EXPECT_TRUE(MonitorAt(kSideBySide, Point{1500, 700})->primary);
  EXPECT_EQ(MonitorAt(kSideBySide, Point{1023, 0}), &kSideBySide[0]);
  EXPECT_EQ(MonitorAt(kSideBySide, Point{1024, 0}), &kSideBySide[1]);
  EXPECT_EQ(MonitorAt({}, Point{0, 0}), nullptr);
  EXPECT_EQ(DeskBounds({}), Rect{});
  // None marked primary: the first one serves.
  const std::vector<Monitor> unmarked = {At(0, 0, 800, 600), At(800, 0, 800, 600)};
  EXPECT_EQ(PrimaryMonitor(unmarked), &unmarked[0]);
}

}  // namespace
