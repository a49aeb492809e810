// `morvane-night --autostart`: the start-at-login entry, in a folder of the
// test's own.
#include "startup/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

namespace fs = std::filesystem;
namespace autostart = startup::autostart;
using startup::autostart::kEntryName;
using startup::autostart::Outcome;
using startup::autostart::Request;

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nm-autostart-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    folder_ = root_ + "/config/autostart";
  }
  void TearDown() override {
    std::error_code ignored;
    if (fs::exists(folder_, ignored)) fs::permissions(folder_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }

  std::string Entry() const { return folder_ + "/" + kEntryName; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string root_;
  std::string folder_;
};

TEST_F(AutostartTest, OnWritesACopyOfTheEntryThatStartsThisExecutable) {
  const Outcome on = autostart::Run(Request::On, folder_, "/opt/night mode/morvane-night");
  EXPECT_EQ(on.status, 0) << on.err;
  EXPECT_NE(on.out.find("wrote " + Entry()), std::string::npos) << on.out;
  const std::string text = Read(Entry());
  EXPECT_NE(text.find("\nExec=\"/opt/night mode/morvane-night\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"/opt/night mode/morvane-night\" --settings\n"), std::string::npos);
  EXPECT_NE(text.find("\nTryExec=/opt/night mode/morvane-night\n"), std::string::npos);
  EXPECT_NE(text.find("\nName[zh_CN]=Morvane电脑夜间模式工具\n"), std::string::npos);
  // In the main group, which the session reads, not in the action's.
  const auto enabled = text.find("\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_LT(enabled, text.find("[Desktop Action "));
  EXPECT_EQ(autostart::Run(Request::Status, folder_, "").out,
            "night mode starts at login (" + Entry() + ")");
}

TEST_F(AutostartTest, OffRemovesTheEntryAndSaysSoWhenThereIsNone) {
  ASSERT_EQ(autostart::Run(Request::On, folder_, "/usr/bin/morvane-night").status, 0);
  const Outcome off = autostart::Run(Request::Off, folder_, "");
  EXPECT_EQ(off.status, 0);
  EXPECT_EQ(off.out, "night mode no longer starts at login: removed " + Entry());
  EXPECT_FALSE(fs::exists(fs::symlink_status(Entry())));
  EXPECT_EQ(
      autostart::Run(Request::Off, folder_, "").out.find("night mode does not start at login"), 0U);
  EXPECT_EQ(autostart::Run(Request::Status, folder_, "").out, "night mode does not start at login");
}

TEST_F(AutostartTest, NeverWritesThroughALinkPlantedAtTheEntry) {
  fs::create_directories(folder_);
  const std::string victim = root_ + "/victim";
  std::ofstream(victim) << "theirs\n";
  fs::create_symlink(victim, Entry());
  ASSERT_EQ(autostart::Run(Request::On, folder_, "/usr/bin/morvane-night").status, 0);
  EXPECT_EQ(Read(victim), "theirs\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Entry())));
  EXPECT_NE(Read(Entry()).find("X-GNOME-Autostart-enabled=true"), std::string::npos);
  // Nothing else left beside the entry.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
  fs::create_symlink(victim, root_ + "/link");
  fs::rename(root_ + "/link", Entry());
  EXPECT_EQ(autostart::Run(Request::Off, folder_, "").status, 0);
  EXPECT_EQ(Read(victim), "theirs\n");
}

TEST_F(AutostartTest, RefusesAFileWhereTheFolderShouldBe) {
  std::ofstream(root_ + "/config") << "";
  const Outcome on = autostart::Run(Request::On, folder_, "/usr/bin/morvane-night");
  EXPECT_EQ(on.status, 1);
  EXPECT_EQ(on.err, "cannot create the folder " + folder_ +
                        ": Not a directory; start at login is unchanged");
}

// Root writes anywhere, so the refusal is tried as nobody when the test
// runs as root.
TEST_F(AutostartTest, RefusesAFolderItMayNotWrite) {
  fs::create_directories(folder_);
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> said(std::tmpfile(), &std::fclose);
  ASSERT_TRUE(said);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    const Outcome on = autostart::Run(Request::On, folder_, "/usr/bin/morvane-night");
    std::fputs(on.err.c_str(), said.get());
    std::fflush(said.get());
    ::_exit(on.status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::rewind(said.get());
  std::string err(512, '\0');
  err.resize(std::fread(err.data(), 1, err.size(), said.get()));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(err, "cannot write in " + folder_ + ": Permission denied; start at login is unchanged");
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST(AutostartCommandLine, TakesOnOffOrNothingAndNoOtherArgument) {
  using startup::autostart::Parse;
  EXPECT_FALSE(Parse({"--settings"}));
  EXPECT_EQ(Parse({"--autostart"})->request, Request::Status);
  EXPECT_EQ(Parse({"--autostart", "on"})->request, Request::On);
  EXPECT_EQ(Parse({"--autostart=off"})->request, Request::Off);
  EXPECT_EQ(Parse({"--autostart", "maybe"})->error,
            "invalid argument 'maybe' for '--autostart' (on or off)");
  EXPECT_FALSE(Parse({"--settings", "--autostart", "on"})->error.empty());
  EXPECT_EQ(startup::autostart::ExecArgument("/a/100%/$x"), "\"/a/100%%/\\\\$x\"");
}

}  // namespace
