// `morvane-night --autostart`: the start-at-login entry, in a folder of the
// test's own.
#include "startup/autostart.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

namespace fs = std::filesystem;
namespace autostart = startup::autostart;
using autostart::Request;

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nm-autostart-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    folder_ = root_ + "/config/autostart";
    entry_ = folder_ + "/" + autostart::kEntryName;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }
  autostart::Outcome Run(Request request) {
    return autostart::Run(request, folder_, "/opt/night mode/morvane-night");
  }
  static std::string Read(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }

  std::string root_;
  std::string folder_;
  std::string entry_;
};

TEST_F(AutostartTest, OnWritesACopyOfTheEntryThatStartsThisExecutable) {
  EXPECT_EQ(Run(Request::On).out, "night mode starts at login: wrote " + entry_);
  const std::string text = Read(entry_);
  EXPECT_NE(text.find("\nExec=\"/opt/night mode/morvane-night\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"/opt/night mode/morvane-night\" --settings\n"), std::string::npos);
  EXPECT_NE(text.find("\nName[zh_CN]=Morvane电脑夜间模式工具\n"), std::string::npos);
  // In the main group, which the session reads, not in the action's.
  EXPECT_LT(text.find("\nX-GNOME-Autostart-enabled=true\n"), text.find("[Desktop Action "));
  EXPECT_EQ(Run(Request::Status).out, "night mode starts at login (" + entry_ + ")");
}

TEST_F(AutostartTest, OffRemovesTheEntryAndSaysSoWhenThereIsNone) {
  ASSERT_EQ(Run(Request::On).status, 0);
  EXPECT_EQ(Run(Request::Off).out, "night mode no longer starts at login: removed " + entry_);
  EXPECT_FALSE(fs::exists(fs::symlink_status(entry_)));
  EXPECT_EQ(Run(Request::Off).status, 0);
  EXPECT_EQ(Run(Request::Status).out, "night mode does not start at login");
}

TEST_F(AutostartTest, NeverWritesThroughALinkPlantedAtTheEntry) {
  fs::create_directories(folder_);
  std::ofstream(root_ + "/victim") << "theirs\n";
  fs::create_symlink(root_ + "/victim", entry_);
  ASSERT_EQ(Run(Request::On).status, 0);
  EXPECT_EQ(Read(root_ + "/victim"), "theirs\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entry_)));
  // Nothing left beside the entry.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

// Root writes anywhere, so a test run as root tries it as nobody.
TEST_F(AutostartTest, RefusesAFolderItMayNotWrite) {
  fs::create_directories(folder_);
  fs::permissions(root_, fs::perms::owner_all | fs::perms::others_exec);
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> said(std::tmpfile(), &std::fclose);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    const autostart::Outcome on = Run(Request::On);
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
  EXPECT_FALSE(autostart::Parse({"--settings"}));
  EXPECT_EQ(autostart::Parse({"--autostart"})->request, Request::Status);
  EXPECT_EQ(autostart::Parse({"--autostart", "on"})->request, Request::On);
  EXPECT_EQ(autostart::Parse({"--autostart=off"})->request, Request::Off);
  EXPECT_FALSE(autostart::Parse({"--autostart", "maybe"})->error.empty());
  EXPECT_FALSE(autostart::Parse({"--settings", "--autostart", "on"})->error.empty());
  EXPECT_EQ(autostart::ExecArgument("/a/100%/$x"), "\"/a/100%%/\\\\$x\"");
}

}  // namespace
