// Generated input for the two stored values: whatever text the store holds,
// the program reads either exactly the number it says or the default. And
// whatever point of the track the slider accepts, its opacity fits a byte
// and falls as the pointer goes right.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/conversions.h"
#include "platform/user32.h"
#include "program_fixture.h"
#include "settings_panel/frm_set.h"

using namespace platform;

namespace {

// What the text means, worked out independently of the program: blanks
// (space, tab) around an optional sign and decimal digits, the value by
// long arithmetic on the digits. Nothing when the text is not of that form
// or the value has more than 18 digits.
std::optional<long long> Meaning(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  std::size_t end = text.find_last_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  std::string core = text.substr(begin, end - begin + 1);
  bool negative = false;
  if (core[0] == '+' || core[0] == '-') {
    negative = core[0] == '-';
    core.erase(0, 1);
  }
  if (core.empty() || core.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  core.erase(0, std::min(core.find_first_not_of('0'), core.size() - 1));
  if (core.size() > 18) return std::nullopt;
  const long long value = std::stoll(core);
  return negative ? -value : value;
}

// Text built from pieces that stress a parser: blanks, signs, zeros, digit
// runs around the limits, letters, punctuation, bytes of Chinese text,
// controls and nothing at all.
std::vector<std::string> GeneratedTexts(int count) {
  static const std::vector<std::string> kPieces = {
      "",    " ",          "\t",         "+",       "-",          "0",     "000",
      "1",   "7",          "255",        "256",     "150",        "16384", "2147483647",
      "2147483648",        "4294967295", "99999999999999999999",  ".",     ".5",
      "e3",  "x",          "0x",         "\xE4\xBA\xAE",          "\xEF\xBC\x91",
      "\n",  "\r",         std::string(1, '\0'),  ",",        "abc",   "--",
      "16777215",          "16777216",   "\xFF",    "9",          "12"};
  std::mt19937 random(20261207);
  std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 5);
  std::vector<std::string> texts;
  texts.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += kPieces[piece(random)];
    texts.push_back(std::move(text));
  }
  return texts;
}

TEST(StoredValues, EveryGeneratedTextGivesItsExactNumberOrTheDefault) {
  int exactOpacities = 0;
  int exactColours = 0;
  for (const std::string& text : GeneratedTexts(20000)) {
    const auto meaning = Meaning(text);

    const auto opacity = TextToByte(text);
    if (meaning && *meaning >= 0 && *meaning <= 255) {
      ASSERT_EQ(opacity, *meaning) << '"' << text << '"';
      ++exactOpacities;
    } else {
      ASSERT_FALSE(opacity.has_value()) << '"' << text << '"';
    }

    const auto colour = TextToInt32(text);
    if (meaning && *meaning >= INT32_MIN && *meaning <= INT32_MAX) {
      ASSERT_EQ(colour, *meaning) << '"' << text << '"';
      ++exactColours;
    } else {
      ASSERT_FALSE(colour.has_value()) << '"' << text << '"';
    }
  }
  // The generator must reach both outcomes often, or it tests little.
  EXPECT_GT(exactOpacities, 1000);
  EXPECT_GT(exactColours, 2000);
}

TEST(StoredValuesOnStart, TheOverlayTakesEachGeneratedPairOrItsDefaults) {
  for (const std::string& text : GeneratedTexts(300)) {
    headless::HeadlessBackend desktop;
    Runtime::Get().ResetForTests();
    Runtime::Get().Install(&desktop);
    mdluser::bytLig = 0;
    for (const char* key : {settings::kOpacityKey, settings::kColourKey}) {
      desktop.store[headless::HeadlessBackend::StoreKey(App.Title, settings::kSection, key)] = text;
    }
    desktop.Start([] { frmNight.Show(); });
    const auto meaning = Meaning(text);
    const bool validOpacity = meaning && *meaning >= 0 && *meaning <= 255;
    const bool validColour = meaning && *meaning >= 0 && *meaning <= 0x00FFFFFF;
    EXPECT_EQ(mdluser::bytLig, validOpacity ? *meaning : 150) << '"' << text << '"';
    EXPECT_EQ(frmNight.BackColor, validColour ? *meaning : 0x00004000) << '"' << text << '"';
    desktop.Shutdown();
    Runtime::Get().ResetForTests();
    Runtime::Get().Install(nullptr);
  }
}

class SliderSweep : public ProgramTest {};

// Every float close to either end of the track and a fine sweep between:
// each is taken, gives an opacity that fits, and never rises going right.
TEST_F(SliderSweep, EveryAcceptedPointGivesAFittingOpacityThatFallsToTheRight) {
  StartOverlay();
  desktop.KeyTap(VK_F7);
  desktop.RunFor(100);
  ASSERT_TRUE(frmSet.IsShown());

  std::vector<float> xs;
  for (float x = std::nextafter(1800.0F, 2000.0F), n = 0; n < 20000; ++n) {
    xs.push_back(x);
    x = std::nextafter(x, 2000.0F);
  }
  for (float x = 1810.0F; x < 5255.0F; x += 0.37F) xs.push_back(x);
  std::vector<float> tail;
  for (float x = std::nextafter(5265.0F, 0.0F), n = 0; n < 20000; ++n) {
    tail.push_back(x);
    x = std::nextafter(x, 0.0F);
  }
  xs.insert(xs.end(), tail.rbegin(), tail.rend());

  int taken = 0;
  int rises = 0;
  int first = -1;
  int last = -1;
  desktop.Post([&] {
    int previous = 256;
    for (float x : xs) {
      frmSet.Form_MouseMove(kLeftButton, 0, x, 1170);
      if (frmSet.Ly.X1 == x) ++taken;
      if (mdluser::bytLig > previous) ++rises;
      previous = mdluser::bytLig;
      if (first < 0) first = mdluser::bytLig;
      last = mdluser::bytLig;
    }
  });
  EXPECT_EQ(taken, static_cast<int>(xs.size()));
  EXPECT_EQ(rises, 0);
  EXPECT_EQ(first, 255);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(desktop.WindowOf(frmNight)->alpha, 0);
}

}  // namespace
