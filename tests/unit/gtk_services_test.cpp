// The GTK backend's desktop services that need no display: the settings
// file, the single-instance lock, and what start-up finds on Linux.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/app.h"
#include "platform/gtk/files.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/runtime.h"
#include "platform/user32.h"

namespace fs = std::filesystem;
using platform::GtkBackend;

namespace {

constexpr const char* kApp = "Morvane电脑夜间模式工具";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where the lock of a title is, with no display open.
fs::path LockOf(const std::string& title) {
  return platform::gtk::files::PrivatePath(title + "-none.lock");
}

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class GtkServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() / ("nm-gtk-" + std::to_string(::getpid())) / info->name();
    fs::remove_all(root);
    fs::create_directories(root / "config");
    fs::create_directories(root / "runtime");
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path IniFile() const { return root / "config" / kApp / "settings.ini"; }

  fs::path root;
};

TEST_F(GtkServicesTest, NothingIsStoredBeforeTheFirstSave) {
  GtkBackend backend;
  EXPECT_FALSE(backend.GetSetting(kApp, "Settings", "intLig"));
  EXPECT_FALSE(fs::exists(IniFile()));
}

TEST_F(GtkServicesTest, SavedValuesComeBackAsDecimalTextInOneSettingsGroup) {
  GtkBackend backend;
  ASSERT_TRUE(backend.SaveSetting(kApp, "Settings", "intLig", "150"));
  ASSERT_TRUE(backend.SaveSetting(kApp, "Settings", "lngColor", "16384"));
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "intLig"), "150");
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "lngColor"), "16384");
  EXPECT_EQ(Read(IniFile()), "[Settings]\nintLig=150\nlngColor=16384\n");
  // Written beside and renamed into place: nothing else is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(IniFile().parent_path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(GtkServicesTest, ASaveKeepsTheOtherKeysAndComments) {
  Write(IniFile(), "# mine\n[Settings]\nintLig=99\nlngColor=255\n[Other]\nx=1\n");
  GtkBackend backend;
  ASSERT_TRUE(backend.SaveSetting(kApp, "Settings", "intLig", "200"));
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "intLig"), "200");
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "lngColor"), "255");
  EXPECT_EQ(backend.GetSetting(kApp, "Other", "x"), "1");
  EXPECT_NE(Read(IniFile()).find("# mine"), std::string::npos);
}

TEST_F(GtkServicesTest, AFileThatIsNotAKeyFileReadsAsNothingAndIsReplacedByTheNextSave) {
  Write(IniFile(), std::string("\0\xff garbage [[[ intLig=10\n", 25));
  GtkBackend backend;
  EXPECT_FALSE(backend.GetSetting(kApp, "Settings", "intLig"));
  ASSERT_TRUE(backend.SaveSetting(kApp, "Settings", "intLig", "150"));
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "intLig"), "150");
}

TEST_F(GtkServicesTest, ValuesThatAreNotNumbersAreHandedOverAsTheyAre) {
  Write(IniFile(), "[Settings]\nintLig=abc\n");
  GtkBackend backend;
  // The store turns them into the defaults; the backend only reads.
  EXPECT_EQ(backend.GetSetting(kApp, "Settings", "intLig"), "abc");
  EXPECT_FALSE(backend.GetSetting(kApp, "Settings", "lngColor"));
}

TEST_F(GtkServicesTest, ASaveIsRefusedWhenTheFolderCannotBeMade) {
  // A file where the configuration folder should be.
  Write(root / "blocked", "x");
  ::setenv("XDG_CONFIG_HOME", (root / "blocked").c_str(), 1);
  GtkBackend backend;
  EXPECT_FALSE(backend.SaveSetting(kApp, "Settings", "intLig", "150"));
}

TEST_F(GtkServicesTest, OneInstanceHoldsTheLockUntilItGoes) {
  {
    GtkBackend first;
    EXPECT_FALSE(first.PrevInstance(kApp));
    EXPECT_TRUE(fs::exists(LockOf(kApp)));
    GtkBackend second;
    EXPECT_TRUE(second.PrevInstance(kApp));
    // The answer does not change during a run.
    EXPECT_TRUE(second.PrevInstance(kApp));
    GtkBackend otherTitle;
    EXPECT_FALSE(otherTitle.PrevInstance("another tool"));
  }
  GtkBackend later;
  EXPECT_FALSE(later.PrevInstance(kApp));
  fs::remove(LockOf(kApp));
  fs::remove(LockOf("another_tool"));
}

// A start under another environment (cron, su, a display manager without
// a session) still finds the instance that runs: the lock is in the user's
// own folder whatever the runtime and temporary folders are said to be,
// never under a fixed name in the shared temporary folder.
TEST_F(GtkServicesTest, TheLockHoldsWhateverTheEnvironmentSays) {
  const std::string title = "nm-gtk-test-" + std::to_string(::getpid());
  GtkBackend first;
  EXPECT_FALSE(first.PrevInstance(title));
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", root.c_str(), 1);
  GtkBackend second;
  EXPECT_TRUE(second.PrevInstance(title));
  ::unsetenv("TMPDIR");
  const fs::path lock = LockOf(title);
  EXPECT_TRUE(fs::exists(lock));
  EXPECT_NE(lock.parent_path(), fs::temp_directory_path());
  EXPECT_EQ(fs::status(lock.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  fs::remove(lock);
}

// Start-up's installer finds nothing to do: the backend offers none of the
// Windows-only services, so there is no system folder, no embedded
// component, no registration tool to run and no file written.
TEST_F(GtkServicesTest, StartUpFindsNoComponentsToInstall) {
  GtkBackend backend;
  platform::Runtime::Get().Install(&backend);
  EXPECT_FALSE(platform::HasWindowsServices());
  EXPECT_FALSE(platform::SystemDirectory());
  EXPECT_FALSE(platform::LoadResData("CMDLGCHS", "DLL"));
  EXPECT_FALSE(platform::Shell("\\system32\\regsvr32.exe", "\"\\system32\\COMDLG32.ocx\" /s"));
  const fs::path target = root / "COMDLG32.ocx";
  EXPECT_FALSE(platform::WriteNewFile(target.string(), target.string() + ".partial", {1, 2}));
  EXPECT_FALSE(fs::exists(target));
  platform::Runtime::Get().Install(nullptr);
}

// A job beside starts once the main loop has nothing else to do, on a
// thread of its own, and the end of the message loop (here at once: no
// form is loaded) waits for it.
TEST_F(GtkServicesTest, AJobBesideStartsWhenTheLoopIdlesAndTheLoopsEndWaitsForIt) {
  GtkBackend backend;
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  std::thread::id ranOn;
  backend.RunBeside([&] {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ranOn = std::this_thread::get_id();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(started);
  while (g_main_context_iteration(nullptr, FALSE) != FALSE) {
  }
  for (int i = 0; i < 200 && !started; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(started);
  backend.RunMessageLoop();
  EXPECT_TRUE(done);
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

// A link where the lock goes is never followed, so nothing can make the
// start lock a file that is not its own.
TEST_F(GtkServicesTest, ALockFileThatIsALinkIsNotFollowed) {
  const std::string title = "nm-gtk-link-" + std::to_string(::getpid());
  const fs::path lock = LockOf(title);
  const fs::path victim = root / "victim";
  Write(victim, "untouched");
  fs::create_symlink(victim, lock);
  GtkBackend first;
  GtkBackend second;
  EXPECT_FALSE(first.PrevInstance(title));
  EXPECT_FALSE(second.PrevInstance(title));
  EXPECT_TRUE(fs::is_symlink(lock));
  EXPECT_EQ(Read(victim), "untouched");
  fs::remove(lock);
}

TEST_F(GtkServicesTest, WithoutADisplayNoKeyIsDown) {
  GtkBackend backend;
  EXPECT_EQ(backend.GetAsyncKeyState(platform::VK_F7), 0);
}

}  // namespace
