// The tint through the gamma ramps: that it matches what the compositor
// draws for the overlay, that the way switches between the overlay's window
// and the ramps and every ramp comes back as found, and that the record a
// killed run leaves is read back whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include "platform/gtk/files.h"
#include "platform/gtk/session.h"
#include "platform/gtk/tint_ramps.h"

using namespace platform::gamma;
using platform::session::ChooseTintWay;
using platform::session::TintWay;

namespace {

Ramp Identity(std::size_t size, std::uint32_t step) {
  Ramp ramp;
  for (std::size_t i = 0; i < size; ++i) {
    const auto level = static_cast<std::uint16_t>(std::min<std::uint32_t>(i * step, 65535));
    ramp.red.push_back(level);
    ramp.green.push_back(level);
    ramp.blue.push_back(level);
  }
  return ramp;
}

// A calibrated ramp: a different curve per channel, as a colour profile
// leaves it.
Ramp Calibrated(std::size_t size) {
  Ramp ramp;
  for (std::size_t i = 0; i < size; ++i) {
    const double x = static_cast<double>(i) / static_cast<double>(size - 1);
    ramp.red.push_back(static_cast<std::uint16_t>(std::lround(65535 * std::pow(x, 1.25))));
    ramp.green.push_back(static_cast<std::uint16_t>(std::lround(60000 * std::pow(x, 0.9))));
    ramp.blue.push_back(static_cast<std::uint16_t>(std::lround(52000 * x + 3000)));
  }
  return ramp;
}

// What the compositor draws for a pixel beneath the overlay: the colour,
// premultiplied by the opacity, over the pixel, in 8-bit arithmetic with
// x * y / 255 rounded as the X server's renderer rounds it.
int OverlayLevel(int below, int channel, int alpha) {
  auto mul = [](int x, int y) {
    const int t = x * y + 128;
    return (t + (t >> 8)) >> 8;
  };
  return mul(channel, alpha) + mul(below, 255 - alpha);
}

int To8(std::uint16_t level) { return (level * 255 + 32767) / 65535; }

// The largest difference, in 8-bit steps, between the ramp path and the
// overlay over the levels the ramp found, for every opacity and every
// value of each channel.
int WorstStep(const Ramp& found) {
  int worst = 0;
  for (int alpha = 0; alpha <= 255; ++alpha) {
    for (int c = 0; c <= 255; ++c) {
      const int red = c;
      const int green = 255 - c;
      const int blue = (c * 7) % 256;
      const Ramp tinted =
          Tinted(found, red | (green << 8) | (blue << 16), static_cast<std::uint8_t>(alpha));
      for (std::size_t i = 0; i < found.size(); ++i) {
        worst = std::max(
            {worst, std::abs(To8(tinted.red[i]) - OverlayLevel(To8(found.red[i]), red, alpha)),
             std::abs(To8(tinted.green[i]) - OverlayLevel(To8(found.green[i]), green, alpha)),
             std::abs(To8(tinted.blue[i]) - OverlayLevel(To8(found.blue[i]), blue, alpha))});
      }
    }
  }
  return worst;
}

TEST(GammaBlend, OnAnIdentityRampTheRampsShowWhatTheOverlayShowsWithinOneStep) {
  // The identity an X server starts with (i * 256) and one that reaches
  // full (i * 257).
  EXPECT_LE(WorstStep(Identity(256, 256)), 1);
  EXPECT_LE(WorstStep(Identity(256, 257)), 1);
}

TEST(GammaBlend, OnACalibratedRampTheBlendGoesOnTopOfItWithinOneStep) {
  EXPECT_LE(WorstStep(Calibrated(256)), 1);
  // Cards with finer ramps than 256 entries.
  EXPECT_LE(WorstStep(Calibrated(1024)), 1);
}

TEST(GammaBlend, NoOpacityLeavesTheRampAsFoundAndFullOpacityIsTheColourAlone) {
  const Ramp found = Calibrated(256);
  EXPECT_EQ(Tinted(found, 0x00123456, 0), found);
  const Ramp full = Tinted(found, 0x00FF8000, 255);  // blue 0xFF, green 0x80, red 0
  for (std::size_t i = 0; i < found.size(); ++i) {
    ASSERT_EQ(full.red[i], 0);
    ASSERT_EQ(full.green[i], 0x80 * 257);
    ASSERT_EQ(full.blue[i], 65535);
  }
}

TEST(GammaBlend, TheRampsNeverGoBlackEnoughToHideTheWayBack) {
  EXPECT_EQ(RampOpacity(150), 150);
  EXPECT_EQ(RampOpacity(220), 220);
  EXPECT_EQ(RampOpacity(255), 220);
  const Ramp black = Tinted(Identity(256, 257), 0, RampOpacity(255));
  // Full white still shows at 35/255 of itself.
  EXPECT_EQ(To8(black.red.back()), 35);
  EXPECT_EQ(black.red, black.blue);
}

// --- the record ---------------------------------------------------------------------

constexpr platform::Colour kAmber = 0x000080FF;

// Each CRTC as found and with the amber tint over it.
Record TwoCrtcs() {
  return {kAmber,
          {CrtcRamp{63, Identity(256, 256), Tinted(Identity(256, 256), kAmber, 150)},
           CrtcRamp{64, Calibrated(16), Tinted(Calibrated(16), kAmber, 150)}}};
}

TEST(GammaRecord, ReadsBackWhatWasWrittenForThatServerOnly) {
  EXPECT_EQ(ParseRecord(FormatRecord(":200", TwoCrtcs()), ":200"), TwoCrtcs());
  EXPECT_EQ(ParseRecord(FormatRecord(":0", {}), ":0"), Record{});
  EXPECT_EQ(ParseRecord(FormatRecord(":200", TwoCrtcs()), ":201"), std::nullopt);
}

TEST(GammaRecord, AnyChangedByteAndAnyOtherLengthIsRefused) {
  const std::string text = FormatRecord(":1", {0x123456, {CrtcRamp{7, Calibrated(4), {}}}});
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string bad = text;
    bad[at] = static_cast<char>(bad[at] ^ 0x01);
    ASSERT_EQ(ParseRecord(bad, ":1"), std::nullopt) << "byte " << at << " of\n" << text;
    ASSERT_EQ(ParseRecord(text.substr(0, at), ":1"), std::nullopt) << at;
  }
  EXPECT_EQ(ParseRecord(text + "\n", ":1"), std::nullopt);
}

// A record that sums right but says what cannot be: the same CRTC twice,
// ramps of no size or of unequal sizes.
TEST(GammaRecord, AWellSummedRecordOfImpossibleRampsIsRefused) {
  const CrtcRamp one{5, Identity(4, 1000), {}};
  EXPECT_EQ(ParseRecord(FormatRecord(":1", {0, {one, one}}), ":1"), std::nullopt);
  EXPECT_EQ(ParseRecord(FormatRecord(":1", {0, {CrtcRamp{5, Ramp{}, {}}}}), ":1"), std::nullopt);
  CrtcRamp uneven = one;
  uneven.ramp.blue.pop_back();
  EXPECT_EQ(ParseRecord(FormatRecord(":1", {0, {uneven}}), ":1"), std::nullopt);
  CrtcRamp unevenTint = one;
  unevenTint.applied = Identity(5, 1000);
  EXPECT_EQ(ParseRecord(FormatRecord(":1", {0, {unevenTint}}), ":1"), std::nullopt);
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "gamma-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  static bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
  }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::string dir;
};

using GammaRecordFile = TempFolder;

// The record is found by the next start whatever its environment says, in
// a folder nobody else can write.
TEST_F(GammaRecordFile, IsKeptInTheUsersOwnFolderUnderASafeName) {
  using platform::gtk::files::PrivateFolder;
  using platform::gtk::files::PrivatePath;
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  ::setenv("TMPDIR", dir.c_str(), 1);
  const std::string folder = PrivateFolder();
  ::unsetenv("XDG_RUNTIME_DIR");
  ::unsetenv("TMPDIR");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(PrivateFolder(), folder);
  EXPECT_NE(folder.rfind(dir, 0), 0U) << folder;
  struct stat info {};
  ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, ::getuid());
  EXPECT_EQ(info.st_mode & 077, 0U);
  EXPECT_EQ(PrivatePath(RecordName(":200")), folder + "/ramps-_200");
  EXPECT_EQ(PrivatePath(RecordName("../h/x:0")), folder + "/ramps-.._h_x_0");
}

TEST_F(GammaRecordFile, IsWrittenAndReadBack) {
  const std::string path = dir + "/record";
  EXPECT_EQ(ReadRecord(path, ":3").state, RecordState::Absent);
  ASSERT_TRUE(WriteRecord(path, ":3", TwoCrtcs()));
  const RecordRead read = ReadRecord(path, ":3");
  EXPECT_EQ(read.state, RecordState::Read);
  EXPECT_EQ(read.record, TwoCrtcs());
  EXPECT_FALSE(Exists(path + ".new"));
}

TEST_F(GammaRecordFile, ALinkIsNeitherReadNorWrittenThrough) {
  const std::string target = dir + "/elsewhere";
  const std::string path = dir + "/record";
  ASSERT_TRUE(WriteRecord(target, ":3", TwoCrtcs()));
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
  EXPECT_EQ(ReadRecord(path, ":3").state, RecordState::Refused);
  const std::string before = Contents(target);
  ASSERT_TRUE(WriteRecord(path, ":3", {}));
  EXPECT_EQ(Contents(target), before);
  EXPECT_EQ(ReadRecord(path, ":3").state, RecordState::Read);
}

// --- the switch between the overlay and the ramps -------------------------------------

class FakeScreen : public GammaScreen {
 public:
  std::optional<std::vector<CrtcRead>> ReadRamps() override {
    if (listMisses > 0 && listMisses-- > 0) return std::nullopt;
    std::vector<CrtcRead> all;
    for (const auto& [crtc, ramp] : crtcs) {
      all.push_back(CrtcRead{crtc, Read(crtc), idle.count(crtc) == 0});
    }
    return all;
  }
  std::optional<Ramp> ReadRamp(CrtcId crtc) override {
    ++reads;
    return crtcs.count(crtc) != 0 ? Read(crtc) : std::nullopt;
  }
  bool WriteRamp(CrtcId crtc, const Ramp& ramp) override {
    auto it = crtcs.find(crtc);
    if (it == crtcs.end() || it->second.size() != ramp.size()) return false;
    if (beforeWrite) beforeWrite(crtc);
    it->second = ramp;
    ++writes;
    return true;
  }

  std::map<CrtcId, Ramp> crtcs;
  std::map<CrtcId, int> misses;  // reads of a CRTC that fail before one succeeds
  std::set<CrtcId> idle;         // CRTCs that drive no monitor
  int listMisses = 0;
  int writes = 0;
  int reads = 0;
  std::function<void(CrtcId)> beforeWrite;

 private:
  std::optional<Ramp> Read(CrtcId crtc) {
    if (misses[crtc] > 0) {
      --misses[crtc];
      return std::nullopt;
    }
    return crtcs.at(crtc);
  }
};

platform::gtk::Overlay Translucent(platform::Colour colour, std::uint8_t opacity) {
  return {colour, opacity, true, true};
}

class TintSwitch : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    record = dir + "/record";
    ramps = std::make_unique<TintRamps>(screen, record, ":9");
    screen.crtcs = {{63, Identity(256, 256)}, {64, Calibrated(256)}, {65, Ramp{}}};
    found = screen.crtcs;
  }
  bool AsFound() const { return screen.crtcs == found; }
  bool TintedWith(platform::Colour colour, std::uint8_t alpha) const {
    return screen.crtcs.at(63) == Tinted(found.at(63), colour, alpha) &&
           screen.crtcs.at(64) == Tinted(found.at(64), colour, alpha) &&
           screen.crtcs.at(65) == Ramp{};
  }
  // The way for an X server, as the backend asks for it.
  TintWay Way(bool composited) {
    return ChooseTintWay(false, true, composited,
                         [this] { return ramps->Holds() || ramps->Take(); });
  }

  FakeScreen screen;
  std::map<CrtcId, Ramp> found;
  std::string record;
  std::unique_ptr<TintRamps> ramps;
};

TEST_F(TintSwitch, WithoutACompositorEveryCrtcIsTintedOnceItsRampIsRecorded) {
  screen.beforeWrite = [&](CrtcId) {
    const RecordRead read = ReadRecord(record, ":9");
    ASSERT_EQ(read.state, RecordState::Read);
    ASSERT_EQ(read.record.crtcs.size(), 2U);
    EXPECT_EQ(read.record.crtcs[0].ramp, found.at(63));
    EXPECT_EQ(read.record.crtcs[1].ramp, found.at(64));
  };
  EXPECT_EQ(Way(false), TintWay::Ramps);
  // No window: the tint is in the ramps alone.
  EXPECT_FALSE(ramps->Show(Translucent(kAmber, 150)));
  EXPECT_TRUE(TintedWith(kAmber, 150));
}

TEST_F(TintSwitch, TheSliderAndTheColourChangeTheRampsLiveUpToTheCap) {
  ramps->Show(Translucent(kAmber, 150));
  ramps->Show(Translucent(kAmber, 90));
  EXPECT_TRUE(TintedWith(kAmber, 90));
  ramps->Show(Translucent(0x00FF0000, 90));
  EXPECT_TRUE(TintedWith(0x00FF0000, 90));
  ramps->Show(Translucent(0, 255));
  EXPECT_TRUE(TintedWith(0, kMostRampOpacity));
  // Above the cap the ramps hold what they hold: nothing is written again.
  const int writes = screen.writes;
  ramps->Show(Translucent(0, 230));
  ramps->Show(Translucent(0, 255));
  EXPECT_EQ(screen.writes, writes);
}

TEST_F(TintSwitch, ACompositorTakesTheTintAndGivesTheRampsBackUntilItGoes) {
  Way(false);
  ramps->Show(Translucent(kAmber, 150));
  // The way is asked again; with a compositor the ramps are not looked at.
  EXPECT_EQ(ChooseTintWay(false, true, true, [] { return ADD_FAILURE(), true; }), TintWay::Window);
  ramps->Hide();
  EXPECT_TRUE(AsFound());
  EXPECT_FALSE(Exists(record));
  EXPECT_EQ(Way(false), TintWay::Ramps);
  ramps->Show(Translucent(kAmber, 60));
  EXPECT_TRUE(TintedWith(kAmber, 60));
  EXPECT_TRUE(Exists(record));
}

TEST_F(TintSwitch, ACalibrationMadeWhileTheOverlayTintedIsWhatComesBack) {
  EXPECT_EQ(Way(true), TintWay::Window);
  screen.crtcs[63] = Calibrated(256);
  found = screen.crtcs;
  EXPECT_EQ(Way(false), TintWay::Ramps);
  ramps->Show(Translucent(kAmber, 150));
  ramps->GiveBack();
  EXPECT_TRUE(AsFound());
}

TEST_F(TintSwitch, TheOverlayGoneOrTheEndGivesEveryRampBackAsFound) {
  ramps->Show(Translucent(kAmber, 150));
  ramps->Hide();
  EXPECT_TRUE(AsFound());
  EXPECT_FALSE(Exists(record));
  ramps->Show(Translucent(kAmber, 200));
  ramps->GiveBack();
  ramps->GiveBack();
  EXPECT_TRUE(AsFound());
  EXPECT_FALSE(Exists(record));
  // An opaque overlay is a plain window: on screen, the ramps as found.
  ramps->Show(Translucent(kAmber, 200));
  EXPECT_TRUE(ramps->Show({kAmber, 200, false, true}));
  EXPECT_TRUE(AsFound());
}

TEST_F(TintSwitch, NeitherACompositorNorRampsIsToldAndTouchesNothing) {
  screen.crtcs = {{70, Ramp{}}, {71, Identity(256, 0)}};
  found = screen.crtcs;
  EXPECT_EQ(Way(false), TintWay::None);
  EXPECT_EQ(screen.writes, 0);
  EXPECT_FALSE(Exists(record));
  EXPECT_EQ(Way(true), TintWay::Window);
}

TEST_F(TintSwitch, AMonitorAddedIsRecordedAndTintedAndAResetRampTintedAgain) {
  ramps->Show(Translucent(kAmber, 150));
  screen.crtcs[66] = Calibrated(1024);
  found[66] = screen.crtcs[66];
  screen.crtcs[63] = found.at(63);  // a mode set reset it
  ramps->MonitorsChanged();
  EXPECT_EQ(Way(false), TintWay::Ramps);
  EXPECT_TRUE(TintedWith(kAmber, 150));
  EXPECT_EQ(screen.crtcs.at(66), Tinted(found.at(66), kAmber, 150));
  EXPECT_EQ(ReadRecord(record, ":9").record.crtcs.size(), 3U);
  ramps->GiveBack();
  EXPECT_TRUE(AsFound());
}

// A second start ends at its message without tinting: what it gives back
// at its end must not take the running instance's record.
TEST_F(TintSwitch, ARouterThatTookNoRampsLeavesTheRecordAlone) {
  ASSERT_TRUE(WriteRecord(record, ":9", {kAmber, {{63, found.at(63), {}}}}));
  ramps->GiveBack();
  EXPECT_TRUE(Exists(record));
  EXPECT_EQ(screen.writes, 0);
}

TEST_F(TintSwitch, AStartGivesBackWhatAKilledRunLeftTinted) {
  {
    TintRamps killed(screen, record, ":9");
    killed.Show(Translucent(kAmber, 150));
    // ... and never gives back.
  }
  ASSERT_TRUE(TintedWith(kAmber, 150));
  const LeftBehind left = GiveBackRecorded(screen, record, ":9");
  EXPECT_EQ(left.state, RecordState::Read);
  EXPECT_EQ(left.givenBack, 2);
  EXPECT_TRUE(left.removed);
  EXPECT_TRUE(AsFound());
  EXPECT_FALSE(Exists(record));
  EXPECT_EQ(GiveBackRecorded(screen, record, ":9").state, RecordState::Absent);
}

TEST_F(TintSwitch, ARecordedCrtcThatIsGoneOrResizedIsLeftAlone) {
  ASSERT_TRUE(WriteRecord(record, ":9",
                          {kAmber,
                           {{63, Calibrated(256), found.at(63)},
                            {64, Calibrated(16), {}},
                            {99, Calibrated(256), {}}}}));
  const int before = screen.writes;
  EXPECT_EQ(GiveBackRecorded(screen, record, ":9").state, RecordState::Read);
  EXPECT_EQ(screen.writes, before + 1);
  EXPECT_EQ(screen.crtcs.at(63), Calibrated(256));
  EXPECT_EQ(screen.crtcs.at(64), found.at(64));
}

TEST_F(TintSwitch, ACorruptRecordIsRefusedAndDropped) {
  std::ofstream(record) << FormatRecord(":9", {0, {{63, Calibrated(256), {}}}}).substr(0, 300);
  const LeftBehind left = GiveBackRecorded(screen, record, ":9");
  EXPECT_EQ(left.state, RecordState::Refused);
  EXPECT_TRUE(left.removed);
  EXPECT_EQ(screen.writes, 0);
  EXPECT_FALSE(Exists(record));
}

// --- a record bound to the tint, a tint that holds ---------------------------------

// After a kill, a CRTC whose ramp was set since (X restarted, a calibration
// loaded) keeps it; only one that still shows the tint gets its ramp back,
// wherever the slider had left the opacity.
TEST_F(TintSwitch, AStartGivesBackOnlyWhereTheRecordedTintIsStillShown) {
  {
    TintRamps killed(screen, record, ":9");
    killed.Show(Translucent(kAmber, 150));
    killed.Show(Translucent(kAmber, 90));
  }
  screen.crtcs[63] = Calibrated(256);
  const LeftBehind left = GiveBackRecorded(screen, record, ":9");
  EXPECT_EQ(left.givenBack, 1);
  EXPECT_EQ(left.stale, 1);
  EXPECT_EQ(screen.crtcs.at(63), Calibrated(256));
  EXPECT_EQ(screen.crtcs.at(64), found.at(64));
  EXPECT_FALSE(Exists(record));
}

TEST_F(TintSwitch, ARampResetFromOutsideIsTakenAsFoundAndTintedAgain) {
  ramps->Show(Translucent(kAmber, 150));
  const int writes = screen.writes;
  ramps->Hold();
  EXPECT_EQ(screen.writes, writes);  // nothing changed, nothing written
  screen.crtcs[63] = Calibrated(256);
  ramps->Hold();
  EXPECT_EQ(screen.crtcs.at(63), Tinted(Calibrated(256), kAmber, 150));
  EXPECT_EQ(ReadRecord(record, ":9").record.crtcs[0].ramp, Calibrated(256));
  // Reset to the very ramp it was found with: tinted again over that.
  screen.crtcs[64] = found.at(64);
  ramps->Hold();
  EXPECT_TRUE(screen.crtcs.at(64) == Tinted(found.at(64), kAmber, 150));
  ramps->GiveBack();
  EXPECT_EQ(screen.crtcs.at(63), Calibrated(256));
  EXPECT_EQ(screen.crtcs.at(64), found.at(64));
}

TEST_F(TintSwitch, TheTintIsNeverTakenAsFoundWhenACrtcComesBackShowingIt) {
  ramps->Show(Translucent(kAmber, 150));
  const Ramp tinted = screen.crtcs.at(64);
  screen.crtcs.erase(64);
  ramps->MonitorsChanged();
  screen.crtcs[64] = tinted;
  ramps->MonitorsChanged();
  ramps->Show(Translucent(kAmber, 120));
  ramps->GiveBack();
  EXPECT_TRUE(AsFound());
}

TEST_F(TintSwitch, AReadThatFailsIsTriedAgainAndNeverReadAsGone) {
  ramps->Show(Translucent(kAmber, 150));
  screen.misses[63] = 4;
  ramps->MonitorsChanged();
  screen.listMisses = 10;
  ramps->MonitorsChanged();
  ramps->Hold();
  EXPECT_EQ(ReadRecord(record, ":9").record.crtcs.size(), 2U);
  screen.crtcs[63] = Calibrated(256);  // reset while it could not be read
  screen.misses[63] = 0;
  screen.listMisses = 0;
  const int reads = screen.reads;
  ramps->Hold();
  EXPECT_EQ(screen.reads - reads, 2);  // one request per CRTC held
  screen.idle = {64};
  ramps->MonitorsChanged();
  ramps->Hold();
  EXPECT_EQ(screen.reads - reads, 3);  // none for a CRTC that drives nothing
  ramps->GiveBack();
  EXPECT_EQ(screen.crtcs.at(63), Calibrated(256));
  EXPECT_EQ(screen.crtcs.at(64), found.at(64));
}

}  // namespace
