#include "platform/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using platform::DecimalText;
using platform::TextToByte;
using platform::TextToInt32;
using platform::ToByte;

TEST(TextToInt32, AcceptsBlanksAroundAnOptionalSignAndDigits) {
  EXPECT_EQ(TextToInt32("16384"), 16384);
  EXPECT_EQ(TextToInt32("  -12 "), -12);
  EXPECT_EQ(TextToInt32("+7"), 7);
  EXPECT_EQ(TextToInt32("\t0042\t"), 42);
  EXPECT_EQ(TextToInt32("2147483647"), 2147483647);
  EXPECT_EQ(TextToInt32("-2147483648"), INT32_MIN);
}

TEST(TextToInt32, RefusesAnythingElse) {
  for (const char* text : {"", " ", "+", "-", "abc", "1.5", "12a", "a12", "- 5", "0x10", "1e3",
                           "2147483648", "-2147483649", "99999999999999999999999999999",
                           "\xEF\xBC\x91\xEF\xBC\x92" /* full-width 12 */, "1 2", "--1"}) {
    EXPECT_FALSE(TextToInt32(text).has_value()) << '"' << text << '"';
  }
  EXPECT_FALSE(TextToInt32(std::string(100000, '9')).has_value());
}

TEST(TextToByte, KeepsToZeroTo255) {
  EXPECT_EQ(TextToByte("0"), 0);
  EXPECT_EQ(TextToByte("255"), 255);
  EXPECT_EQ(TextToByte(" 150 "), 150);
  EXPECT_EQ(TextToByte("-0"), 0);
  for (const char* text : {"256", "-1", "300", "", "1.0", "abc", "65536"}) {
    EXPECT_FALSE(TextToByte(text).has_value()) << '"' << text << '"';
  }
}

TEST(ToByte, RoundsHalvesToEvenAndRefusesOutOfRange) {
  EXPECT_EQ(ToByte(127.5), 128);
  EXPECT_EQ(ToByte(126.5), 126);
  EXPECT_EQ(ToByte(126.95), 127);
  EXPECT_EQ(ToByte(254.93), 255);
  EXPECT_EQ(ToByte(0.07), 0);
  EXPECT_EQ(ToByte(0.52), 1);
  EXPECT_EQ(ToByte(-0.4), 0);
  EXPECT_EQ(ToByte(255.4), 255);
  EXPECT_FALSE(ToByte(255.6).has_value());
  EXPECT_FALSE(ToByte(-0.6).has_value());
  EXPECT_FALSE(ToByte(std::nan("")).has_value());
  EXPECT_FALSE(ToByte(1e300).has_value());
}

TEST(DecimalText, WritesPlainDecimal) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(16384), "16384");
  EXPECT_EQ(DecimalText(-2147483648LL), "-2147483648");
}
