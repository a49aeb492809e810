// The form model: load on touch, unload, the end of the process, pointer
// routing and timers, on a small form of the tests' own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/form.h"
#include "program_fixture.h"

using namespace platform;

namespace {

class ProbeForm : public Form {
 public:
  ProbeForm() : Form("frmProbe") {
    lbA.Click = [this] { events.push_back("lbA_Click"); };
    lbA.MouseDown = [this](int b, int, float, float) {
      events.push_back("lbA_MouseDown " + std::to_string(b));
    };
    lbA.MouseMove = [this](int, int, float, float) { events.push_back("lbA_MouseMove"); };
    lbB.MouseMove = [this](int, int, float, float) { events.push_back("lbB_MouseMove"); };
    lbC.MouseDown = [this](int, int, float, float) { events.push_back("lbC_MouseDown"); };
    Timer1.OnTimer = [this] { events.push_back("Timer1 " + std::to_string(timerNow())); };
  }

  Label lbA{*this, "lbA"};
  Label lbB{*this, "lbB"};  // laid over the right half of lbA
  Label lbC{*this, "lbC"};  // sizes itself to its caption
  Timer Timer1{*this, "Timer1"};
  std::vector<std::string> events;
  int cancelUnloads = 0;
  std::function<std::int64_t()> timerNow = [] { return 0; };

  void Form_Load() override { events.push_back("Form_Load"); }
  void Form_QueryUnload(int& Cancel, int UnloadMode) override {
    events.push_back("Form_QueryUnload " + std::to_string(UnloadMode));
    if (cancelUnloads > 0) {
      --cancelUnloads;
      Cancel = 1;
    }
  }
  void Form_MouseDown(int b, int, float x, float y) override {
    events.push_back("Form_MouseDown " + std::to_string(b) + " " + std::to_string(int(x)) + "," +
                     std::to_string(int(y)));
  }
  void Form_MouseMove(int b, int, float, float) override {
    events.push_back("Form_MouseMove " + std::to_string(b));
  }
  void Form_DblClick() override { events.push_back("Form_DblClick"); }

 protected:
  void Layout() override {
    ClientWidth = 3000;
    ClientHeight = 2000;
    lbA.Left = 100, lbA.Top = 100, lbA.Width = 1000, lbA.Height = 300;
    lbB.Left = 600, lbB.Top = 100, lbB.Width = 1000, lbB.Height = 300;
    lbC.Left = 100, lbC.Top = 1000, lbC.Width = 500, lbC.Height = 200;
    lbC.AutoSize = true;
    Timer1.Interval = 0;
    Timer1.Enabled = true;
  }
};

ProbeForm frmProbe;
ProbeForm frmOwner;

class RuntimeTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    frmProbe.events.clear();
    frmProbe.cancelUnloads = 0;
    frmProbe.timerNow = [this] { return desktop.Now(); };
  }
  std::vector<std::string>& events = frmProbe.events;
};

TEST_F(RuntimeTest, TouchingAPropertyLoadsWithoutShowing) {
  desktop.Start([] { (void)frmProbe.hWnd(); });
  EXPECT_TRUE(frmProbe.IsLoaded());
  EXPECT_FALSE(frmProbe.IsShown());
  EXPECT_FALSE(desktop.WindowOf(frmProbe)->visible);
  EXPECT_EQ(events, std::vector<std::string>{"Form_Load"});
}

// A job beside the user-interface thread never holds up the code that
// started it, and the program does not end before it has run.
TEST_F(RuntimeTest, JobsBesideRunInOrderAfterTheirStarterAndEndWaitsForThem) {
  std::vector<std::string> log;
  desktop.Start([&] {
    RunBeside([&] { log.push_back("job 1"); });
    RunBeside([&] { log.push_back("job 2"); });
    log.push_back("starter goes on");
    frmProbe.Show();
  });
  EXPECT_EQ(log, (std::vector<std::string>{"starter goes on", "job 1", "job 2"}));
  desktop.Post([&] {
    RunBeside([&] { log.push_back("job 3"); });
    End();
  });
  EXPECT_TRUE(desktop.Ended());
  EXPECT_EQ(log.back(), "job 3");
}

// An auto-sized label keeps its laid-out size through the load and takes
// its caption's size before the form is first painted, or before pointer
// input first reaches it; once per load.
TEST_F(RuntimeTest, AutoSizedLabelsTakeTheirSizeBeforeTheFirstPaintOrInputNotAtTheLoad) {
  int measured = 0;
  desktop.labelSize = [&](const Label&) {
    ++measured;
    return std::make_pair(Twips{2000}, Twips{400});
  };
  desktop.Start([] { (void)frmProbe.hWnd(); });
  EXPECT_EQ(measured, 0);
  EXPECT_EQ(frmProbe.lbC.Width, 500);
  // Right of the laid-out box, inside the measured one.
  desktop.Mouse(frmProbe, MouseAction::Down, kLeftButton, 1500, 1100);
  EXPECT_EQ(events.back(), "lbC_MouseDown");
  EXPECT_EQ(measured, 1);
  desktop.Post([] { frmProbe.Show(); });
  EXPECT_EQ(measured, 1);

  desktop.Post([] {
    Unload(frmProbe);
    frmProbe.Show();
  });
  EXPECT_EQ(measured, 2);
  EXPECT_EQ(frmProbe.lbC.Height, 400);
}

TEST_F(RuntimeTest, UnloadAsksFirstAndTheProcessEndsWithTheLastForm) {
  frmProbe.cancelUnloads = 1;
  desktop.Start([] {
    frmProbe.Show();
    Unload(frmProbe);  // cancelled
  });
  EXPECT_TRUE(frmProbe.IsShown());
  EXPECT_FALSE(desktop.Finished());

  desktop.Post([] { Unload(frmProbe); });
  EXPECT_FALSE(frmProbe.IsLoaded());
  EXPECT_EQ(desktop.WindowOf(frmProbe), nullptr);
  EXPECT_TRUE(desktop.Finished());
  EXPECT_FALSE(desktop.Ended());
  EXPECT_EQ(events, (std::vector<std::string>{"Form_Load", "Form_QueryUnload 1",
                                              "Form_QueryUnload 1"}));
}

TEST_F(RuntimeTest, ClosingTheWindowUnloadsWithTheControlMenuMode) {
  desktop.Start([] { frmProbe.Show(); });
  desktop.Post([] { Runtime::Get().DeliverClose(frmProbe); });
  EXPECT_FALSE(frmProbe.IsLoaded());
  EXPECT_EQ(events.back(), "Form_QueryUnload 0");
}

TEST_F(RuntimeTest, ModalShowReturnsOnlyWhenTheFormUnloads) {
  bool returned = false;
  desktop.Start([&returned] {
    frmProbe.Show(vbModal, nullptr);
    returned = true;
  });
  desktop.RunFor(1000);
  EXPECT_FALSE(returned);
  desktop.Post([] { Unload(frmProbe); });
  EXPECT_TRUE(returned);
}

// Only an owner the modal loop disabled is given back, when the modal form
// goes; one that took no input before still takes none after.
TEST_F(RuntimeTest, AModalFormGivesBackOnlyTheOwnerItDisabled) {
  desktop.Start([] { frmOwner.Show(); });
  auto ownerEnabled = [this] { return desktop.WindowOf(frmOwner)->enabled; };
  desktop.Post([] { frmProbe.Show(vbModal, &frmOwner); });
  EXPECT_FALSE(ownerEnabled());
  desktop.Post([] { Unload(frmProbe); });
  EXPECT_TRUE(ownerEnabled());
  desktop.Post([this] { desktop.EnableFormWindow(frmOwner, false); });
  desktop.Post([] { frmProbe.Show(vbModal, &frmOwner); });
  desktop.Post([] { Unload(frmProbe); });
  EXPECT_FALSE(ownerEnabled());
  EXPECT_TRUE(desktop.HasTaskbarButton(frmOwner.Handle()));  // shown in the taskbar
}

TEST_F(RuntimeTest, PointerOverALabelGoesToTheTopmostLabelOnly) {
  desktop.Start([] { frmProbe.Show(); });
  desktop.Mouse(frmProbe, MouseAction::Move, 0, 300, 200);   // lbA only
  desktop.Mouse(frmProbe, MouseAction::Move, 0, 800, 200);   // lbB lies over lbA
  desktop.Mouse(frmProbe, MouseAction::Move, 0, 2000, 1500); // bare surface
  EXPECT_EQ(events, (std::vector<std::string>{"Form_Load", "lbA_MouseMove", "lbB_MouseMove",
                                              "Form_MouseMove 0"}));
}

TEST_F(RuntimeTest, APressKeepsThePointerUntilRelease) {
  desktop.Start([] { frmProbe.Show(); });
  events.clear();
  desktop.Mouse(frmProbe, MouseAction::Down, kLeftButton, 2000, 1500);
  desktop.Mouse(frmProbe, MouseAction::Move, kLeftButton, 300, 200);  // over lbA, captured
  desktop.Mouse(frmProbe, MouseAction::Up, kLeftButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Move, 0, 300, 200);
  EXPECT_EQ(events, (std::vector<std::string>{"Form_MouseDown 1 2000,1500", "Form_MouseMove 1",
                                              "lbA_MouseMove"}));
}

// Someone else took the pointer: the press ends away from every label, so
// neither it nor a late release clicks, and the label no longer holds the
// pointer.
TEST_F(RuntimeTest, APressCutShortByALostCaptureMakesNoClick) {
  desktop.Start([] { frmProbe.Show(); });
  events.clear();
  desktop.Mouse(frmProbe, MouseAction::Down, kLeftButton, 300, 200);
  desktop.Post([] { Runtime::Get().DeliverCaptureLost(frmProbe, kLeftButton); });
  desktop.Mouse(frmProbe, MouseAction::Up, kLeftButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Move, 0, 2000, 1500);
  EXPECT_EQ(events, (std::vector<std::string>{"lbA_MouseDown 1", "Form_MouseMove 0"}));
}

TEST(InputMapping, ButtonsAndShiftAreTheBitsTheEventsReceive) {
  EXPECT_EQ(MouseButtons(false, false, false), 0);
  EXPECT_EQ(MouseButtons(true, false, false), kLeftButton);
  EXPECT_EQ(MouseButtons(false, true, false), kRightButton);
  EXPECT_EQ(MouseButtons(false, false, true), kMiddleButton);
  EXPECT_EQ(MouseButtons(true, true, true), 7);
  EXPECT_EQ(ShiftState(true, false, false), kShiftMask);
  EXPECT_EQ(ShiftState(false, true, false), kCtrlMask);
  EXPECT_EQ(ShiftState(false, false, true), kAltMask);
  EXPECT_EQ(ShiftState(false, false, false), 0);
}

TEST_F(RuntimeTest, AClickNeedsLeftPressAndReleaseOnTheSameLabel) {
  desktop.Start([] { frmProbe.Show(); });
  events.clear();
  desktop.Mouse(frmProbe, MouseAction::Down, kLeftButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Up, kLeftButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Down, kLeftButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Up, kLeftButton, 2000, 1500);  // released elsewhere
  desktop.Mouse(frmProbe, MouseAction::Down, kRightButton, 300, 200);
  desktop.Mouse(frmProbe, MouseAction::Up, kRightButton, 300, 200);
  EXPECT_EQ(events, (std::vector<std::string>{"lbA_MouseDown 1", "lbA_Click", "lbA_MouseDown 1",
                                              "lbA_MouseDown 2"}));
}

TEST_F(RuntimeTest, DoubleClickOnTheSurfaceGoesToTheForm) {
  desktop.Start([] { frmProbe.Show(); });
  events.clear();
  desktop.Mouse(frmProbe, MouseAction::DblClick, kLeftButton, 300, 200);  // on a label
  desktop.Mouse(frmProbe, MouseAction::DblClick, kLeftButton, 2000, 1500);
  EXPECT_EQ(events, std::vector<std::string>{"Form_DblClick"});
}

TEST_F(RuntimeTest, TimersTickWhileEnabledAndRestartWhenReEnabled) {
  desktop.Start([] {
    frmProbe.Show();
    frmProbe.Timer1.Interval = 100;
  });
  desktop.RunUntil(250);
  desktop.Post([] { frmProbe.Timer1.Enabled = false; });
  desktop.RunUntil(1000);
  desktop.Post([] { frmProbe.Timer1.Enabled = true; });
  desktop.RunUntil(1150);
  desktop.Post([] { Unload(frmProbe); });
  desktop.RunUntil(2000);
  EXPECT_EQ(events, (std::vector<std::string>{"Form_Load", "Timer1 100", "Timer1 200",
                                              "Timer1 1100", "Form_QueryUnload 1"}));
}

TEST_F(RuntimeTest, AReloadedFormStartsFromItsLayout) {
  desktop.Start([] {
    frmProbe.Show();
    frmProbe.lbA.Left = 5;
    Unload(frmProbe);
    frmProbe.Show();
  });
  EXPECT_EQ(frmProbe.lbA.Left, 100);
  EXPECT_EQ(desktop.WindowsCreated(frmProbe), 2);
}

}  // namespace
