// What the native program decides before it opens a display: the command
// line, the way to the screen for each kind of session, and what a start
// does when night mode may be running already.
#include "platform/gtk/session.h"

#include <gtest/gtest.h>

namespace {

using namespace platform::session;

CommandLine Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(CommandLineTest, NoArgumentsRunsNightMode) {
  EXPECT_EQ(Parse({}).action, Action::Run);
  EXPECT_EQ(Parse({"--settings"}).action, Action::OpenSettings);
}

TEST(CommandLineTest, HelpAndVersionAnswerAtOnceInTheOrderGiven) {
  EXPECT_EQ(Parse({"--help"}).action, Action::Help);
  EXPECT_EQ(Parse({"-h"}).action, Action::Help);
  EXPECT_EQ(Parse({"--version"}).action, Action::Version);
  EXPECT_EQ(Parse({"--settings", "--help"}).action, Action::Help);
  EXPECT_EQ(Parse({"--version", "--bogus"}).action, Action::Version);
  // An unknown option before them is the answer, as getopt reads it.
  const CommandLine bogus = Parse({"--bogus", "--help"});
  EXPECT_EQ(bogus.action, Action::Usage);
  EXPECT_EQ(bogus.error, "unrecognized option '--bogus'");
}

TEST(CommandLineTest, WrongArgumentsAreNamed) {
  EXPECT_EQ(Parse({"-x"}).error, "unrecognized option '-x'");
  EXPECT_EQ(Parse({"--settings=yes"}).error, "option '--settings' doesn't allow an argument");
  EXPECT_EQ(Parse({"settings"}).error, "extra operand 'settings'");
  EXPECT_EQ(Parse({"--settings", "-"}).error, "extra operand '-'");
  EXPECT_EQ(UsageError("morvane-night", "extra operand 'x'"),
            "morvane-night: extra operand 'x'\n"
            "Try 'morvane-night --help' for more information.\n");
}

TEST(CommandLineTest, HelpNamesEveryOptionAndVersionTheProduct) {
  const std::string help = HelpText("morvane-night");
  EXPECT_EQ(help.rfind("Usage: morvane-night ", 0), 0U);
  for (const char* option : {"--settings", "--help", "--version", "F7"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(VersionText("morvane-night"), "morvane-night (Morvane电脑夜间模式工具) 1.00\n");
}

struct PathCase {
  Environment env;
  bool built;
  bool hasLayerShell;
  Path path;
};

TEST(SessionPathTest, EachSessionTakesItsWayToTheScreen) {
  const Environment x11{false, true, ""};
  const Environment wayland{true, true, ""};  // with XWayland
  const Environment waylandOnly{true, false, ""};
  const PathCase cases[] = {
      {x11, true, false, Path::X11},
      {x11, false, false, Path::X11},
      {wayland, true, true, Path::LayerShell},
      {wayland, true, false, Path::XWayland},  // GNOME's compositor
      {wayland, false, true, Path::XWayland},  // built without gtk-layer-shell
      {waylandOnly, true, true, Path::LayerShell},
      {waylandOnly, true, false, Path::NoDisplay},
      {waylandOnly, false, true, Path::NoDisplay},
      {Environment{false, false, ""}, true, true, Path::NoDisplay},
      // A backend forced through $GDK_BACKEND is honoured.
      {Environment{true, true, "x11"}, true, true, Path::X11},
      {Environment{true, true, "wayland"}, true, false, Path::NoDisplay},
      {Environment{false, true, "wayland"}, true, true, Path::NoDisplay},
      {Environment{true, true, "wayland,x11"}, true, true, Path::LayerShell},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(ChoosePath(c.env, c.built, c.hasLayerShell), c.path)
        << "wayland " << c.env.wayland << " x11 " << c.env.x11 << " GDK_BACKEND '"
        << c.env.gdkBackend << "' built " << c.built << " layer shell " << c.hasLayerShell;
  }
}

TEST(SessionPathTest, TheCompositorIsAskedOnlyWhenTheAnswerMatters) {
  EXPECT_TRUE(NeedsLayerShellProbe(Environment{true, true, ""}, true));
  EXPECT_FALSE(NeedsLayerShellProbe(Environment{true, true, ""}, false));
  EXPECT_FALSE(NeedsLayerShellProbe(Environment{false, true, ""}, true));
  EXPECT_FALSE(NeedsLayerShellProbe(Environment{true, true, "x11"}, true));
}

TEST(SessionPathTest, GdkGetsTheBackendOfThePath) {
  EXPECT_STREQ(GdkBackendFor(Path::LayerShell), "wayland");
  EXPECT_STREQ(GdkBackendFor(Path::XWayland), "x11");
  EXPECT_STREQ(GdkBackendFor(Path::X11), "x11");
  EXPECT_STREQ(GdkBackendFor(Path::NoDisplay), "");
}

TEST(SessionPathTest, F7MustComeFromTheDesktopOnEveryWaylandPath) {
  EXPECT_TRUE(IsWaylandDesktop(Environment{true, true, ""}, Path::LayerShell));
  EXPECT_TRUE(IsWaylandDesktop(Environment{true, true, ""}, Path::XWayland));
  EXPECT_TRUE(IsWaylandDesktop(Environment{true, true, "x11"}, Path::X11));
  EXPECT_FALSE(IsWaylandDesktop(Environment{false, true, ""}, Path::X11));
  EXPECT_FALSE(IsWaylandDesktop(Environment{true, false, ""}, Path::NoDisplay));
}

TEST(StartTest, APlainStartAlwaysRunsAndLeavesTheMessageToTheOverlay) {
  for (bool remote : {false, true}) {
    for (bool lockHeld : {false, true}) {
      EXPECT_EQ(DecideStart(Action::Run, remote, lockHeld), Start::Run);
    }
  }
}

TEST(StartTest, SettingsGoToTheRunningInstanceOrStartOne) {
  EXPECT_EQ(DecideStart(Action::OpenSettings, true, true), Start::ForwardToRunning);
  EXPECT_EQ(DecideStart(Action::OpenSettings, true, false), Start::ForwardToRunning);
  EXPECT_EQ(DecideStart(Action::OpenSettings, false, false), Start::RunAndOpenSettings);
  // Running, but not on this bus (or with none): never a second tint.
  EXPECT_EQ(DecideStart(Action::OpenSettings, false, true), Start::RunningButUnreachable);
}

}  // namespace

TEST(TintWayTest, LayerShellAndAWindowWithoutX11NeverLookAtTheRamps) {
  auto never = [] { return ADD_FAILURE(), true; };
  EXPECT_EQ(ChooseTintWay(true, false, false, never), TintWay::Layers);
  EXPECT_EQ(ChooseTintWay(false, false, false, never), TintWay::Window);
  EXPECT_EQ(ChooseTintWay(false, true, true, never), TintWay::Window);
  EXPECT_EQ(ChooseTintWay(false, true, false, [] { return true; }), TintWay::Ramps);
  EXPECT_EQ(ChooseTintWay(false, true, false, [] { return false; }), TintWay::None);
}

TEST(ServerNameTest, OneServerWhateverTheSpellingOfItsDisplay) {
  EXPECT_EQ(ServerName(":0"), ":0");
  EXPECT_EQ(ServerName(":0.0"), ":0");
  EXPECT_EQ(ServerName("unix:0.1"), ":0");
  EXPECT_EQ(ServerName(":201.0"), ":201");
  EXPECT_EQ(ServerName("localhost:10.0"), "localhost:10");
  EXPECT_EQ(ServerName("host.example:3"), "host.example:3");
  EXPECT_NE(ServerName(":1"), ServerName(":10"));
}
