// Start-up: the component installer, the order of start-up and the splash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"
#include "splash/frm_splash.h"

using namespace platform;

namespace {

const std::vector<std::uint8_t> kLanguageLibrary = {'M', 'Z', 1, 2, 3, 0, 4};
const std::vector<std::uint8_t> kControl = {'M', 'Z', 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr const char* kDllPath = "C:\\WINDOWS\\system32\\CMDLGCHS.DLL";
constexpr const char* kOcxPath = "C:\\WINDOWS\\system32\\COMDLG32.ocx";
constexpr const char* kRegsvr32 = "C:\\WINDOWS\\system32\\regsvr32.exe";

class StartupTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    desktop.resources["DLL/CMDLGCHS"] = kLanguageLibrary;
    desktop.resources["OCX/COMDLG32"] = kControl;
  }

  void ExpectBothRegistered(const std::string& folder = "C:\\WINDOWS\\system32\\") {
    ASSERT_EQ(desktop.shellCalls.size(), 2U);
    EXPECT_EQ(desktop.shellCalls[0].program, folder + "regsvr32.exe");
    EXPECT_EQ(desktop.shellCalls[0].arguments, "\"" + folder + "CMDLGCHS.DLL\" /s");
    EXPECT_EQ(desktop.shellCalls[1].program, folder + "regsvr32.exe");
    EXPECT_EQ(desktop.shellCalls[1].arguments, "\"" + folder + "COMDLG32.ocx\" /s");
  }
};

TEST_F(StartupTest, WritesMissingComponentsWithTheirExactBytesThenRegistersBoth) {
  StartProgram();
  EXPECT_EQ(desktop.fileWrites, (std::vector<std::string>{kDllPath, kOcxPath}));
  EXPECT_EQ(desktop.files[kDllPath], kLanguageLibrary);
  EXPECT_EQ(desktop.files[kOcxPath], kControl);
  ExpectBothRegistered();
}

// The step runs beside the windows, never before them: on the headless
// desktop it takes its turn once Main has returned, and finds the tint and
// the splash above it up. Within it each file is in place before its
// registration starts.
TEST_F(StartupTest, TheComponentStepRunsBesideTheWindowsAndKeepsItsOrder) {
  bool windowsUp = false;
  desktop.onJobBeside = [&] {
    windowsUp = frmNight.IsShown() && frmSplash.IsShown() && OverlayWindow().layered &&
                desktop.ZOrder().front() == frmSplash.Handle();
    EXPECT_TRUE(desktop.installSteps.empty());
  };
  StartProgram();
  EXPECT_TRUE(windowsUp);
  const std::string regsvr32 = std::string(kRegsvr32) + " ";
  EXPECT_EQ(
      desktop.installSteps,
      (std::vector<std::string>{
          std::string("write ") + kDllPath, "start " + regsvr32 + "\"" + kDllPath + "\" /s",
          std::string("write ") + kOcxPath, "start " + regsvr32 + "\"" + kOcxPath + "\" /s"}));
}

TEST_F(StartupTest, LeavesPresentComponentsAloneButStillRegistersThem) {
  desktop.files[kDllPath] = {1};
  desktop.files[kOcxPath] = {};
  StartProgram();
  EXPECT_TRUE(desktop.fileWrites.empty());
  EXPECT_EQ(desktop.files[kDllPath], std::vector<std::uint8_t>{1});
  EXPECT_TRUE(desktop.files[kOcxPath].empty());
  ExpectBothRegistered();
}

TEST_F(StartupTest, AFolderThatRefusesWritesStopsNothing) {
  desktop.refuseFileWrites = true;
  desktop.shellFails = true;
  StartProgram();
  EXPECT_TRUE(desktop.files.empty());
  ExpectBothRegistered();
  EXPECT_TRUE(frmSplash.IsShown());
  EXPECT_TRUE(frmNight.IsShown());
}

// Where the files go and which registration tool runs is the system's
// word alone; a trailing separator is not doubled.
TEST_F(StartupTest, PathsComeFromTheSystemFolderTheSystemReports) {
  desktop.systemDirectory = "D:\\Win\\System32\\";
  StartProgram();
  ExpectBothRegistered("D:\\Win\\System32\\");
  EXPECT_EQ(desktop.fileWrites.front(), "D:\\Win\\System32\\CMDLGCHS.DLL");
}

TEST_F(StartupTest, WithoutASystemFolderNothingIsWrittenOrStarted) {
  desktop.systemDirectory = std::nullopt;
  StartProgram();
  EXPECT_TRUE(desktop.files.empty());
  EXPECT_TRUE(desktop.shellCalls.empty());
  EXPECT_TRUE(frmSplash.IsShown());
  EXPECT_TRUE(frmNight.IsShown());
}

// Linux offers none of the Windows-only services: start-up has no step
// for them, and the tint and the splash come as ever.
TEST_F(StartupTest, WithoutTheWindowsServicesThereIsNoComponentStep) {
  platform::Runtime::Get().Install(&desktop, &desktop, nullptr);
  bool stepRan = false;
  desktop.onJobBeside = [&] { stepRan = true; };
  StartProgram();
  desktop.RunUntil(5000);
  EXPECT_FALSE(stepRan);
  EXPECT_TRUE(desktop.installSteps.empty());
  EXPECT_FALSE(platform::HasWindowsServices());
  EXPECT_TRUE(frmNight.IsShown());
  EXPECT_FALSE(frmSplash.IsLoaded());
}

// A write cut short leaves its partial file and no component; the next
// start clears it and writes the component whole. A partial file beside a
// component that is there goes too, and the component is not touched.
TEST_F(StartupTest, APartialFileLeftByAnInterruptedStartIsClearedByTheNext) {
  desktop.interruptNextWrite = true;
  desktop.files[std::string(kOcxPath) + ".partial"] = {7, 7};
  StartProgram();
  EXPECT_FALSE(desktop.FileExists(kDllPath));
  EXPECT_EQ(desktop.files[std::string(kDllPath) + ".partial"].size(), kLanguageLibrary.size() / 2);
  EXPECT_EQ(desktop.files[kOcxPath], kControl);
  EXPECT_FALSE(desktop.FileExists(std::string(kOcxPath) + ".partial"));
  desktop.Shutdown();

  platform::Runtime::Get().ResetForTests();
  platform::headless::HeadlessBackend next;
  next.files = desktop.files;
  next.resources = desktop.resources;
  platform::Runtime::Get().Install(&next);
  next.Start(mdluser::Main);
  EXPECT_EQ(next.files[kDllPath], kLanguageLibrary);
  EXPECT_EQ(next.files[kOcxPath], kControl);
  EXPECT_EQ(next.fileWrites, std::vector<std::string>{kDllPath});
  EXPECT_EQ(next.fileRemovals, std::vector<std::string>{std::string(kDllPath) + ".partial"});
  next.Shutdown();
  platform::Runtime::Get().ResetForTests();
  platform::Runtime::Get().Install(&desktop);
}

TEST_F(StartupTest, TheSplashBringsUpTheOverlayAndLiesAboveIt) {
  StartProgram();
  const auto* splash = desktop.WindowOf(frmSplash);
  const auto* overlay = desktop.WindowOf(frmNight);
  ASSERT_NE(splash, nullptr);
  ASSERT_NE(overlay, nullptr);
  EXPECT_TRUE(splash->visible && overlay->visible);
  EXPECT_TRUE(splash->topmost && overlay->topmost);
  // The splash's window came first: the overlay was loaded inside its load.
  EXPECT_LT(frmSplash.Handle(), frmNight.Handle());
  EXPECT_EQ(desktop.ZOrder(), (std::vector<HWnd>{frmSplash.Handle(), frmNight.Handle()}));
  EXPECT_FALSE(desktop.HasTaskbarButton(frmSplash.Handle()));
  EXPECT_EQ(splash->owner, desktop.HiddenOwner());
}

// No font is loaded before the tint is up: the splash's captions are
// measured at its first paint, after the overlay's.
TEST_F(StartupTest, TheSplashMeasuresItsCaptionsOnlyOnceTheTintIsUp) {
  std::vector<std::string> measured;
  desktop.labelSize = [&](const Label& label) {
    EXPECT_TRUE(frmNight.IsShown() && OverlayWindow().layered) << label.Name();
    measured.push_back(label.Name());
    return std::make_pair(Twips{1000}, Twips{250});
  };
  StartProgram();
  EXPECT_EQ(measured, (std::vector<std::string>{"Label3", "Label4", "Label5"}));
  EXPECT_EQ(frmSplash.Label5.Width, 1000);
}

TEST_F(StartupTest, TheSplashClosesItselfAt4000MsAndTheTintStays) {
  StartProgram();
  desktop.RunUntil(3999);
  EXPECT_TRUE(frmSplash.IsShown());
  desktop.RunUntil(4000);
  EXPECT_FALSE(frmSplash.IsLoaded());
  EXPECT_TRUE(frmNight.IsShown());
  desktop.RunUntil(20000);
  EXPECT_EQ(desktop.WindowsCreated(frmSplash), 1);
  EXPECT_EQ(OverlayWindow().alpha, 150);
  EXPECT_FALSE(desktop.Finished());
}

// A second instance says so and ends, and its end waits for its component
// step, however soon it comes: here the message is answered before the
// step has had a turn.
TEST_F(StartupTest, ASecondInstanceSaysSoBeforeItsSplashIsSeenAndStillInstalls) {
  desktop.otherInstanceRunning = true;
  std::size_t boxesWhenStepRan = 0;
  desktop.onJobBeside = [&] { boxesWhenStepRan = desktop.msgBoxes.size(); };
  StartProgram();
  EXPECT_EQ(boxesWhenStepRan, 1U);
  ExpectBothRegistered();
  EXPECT_EQ(desktop.fileWrites.size(), 2U);
  ASSERT_EQ(desktop.msgBoxes.size(), 1U);
  EXPECT_TRUE(desktop.Ended());
  ASSERT_NE(desktop.WindowOf(frmSplash), nullptr);  // loaded, never shown
  EXPECT_FALSE(desktop.WindowOf(frmSplash)->visible);
  EXPECT_TRUE(desktop.storeWrites.empty());
}

TEST_F(StartupTest, AMissingResourceWritesNothingButStillRegisters) {
  desktop.resources.clear();
  StartProgram();
  EXPECT_TRUE(desktop.fileWrites.empty());
  ExpectBothRegistered();
  EXPECT_TRUE(frmNight.IsShown());
}

}  // namespace
