// Numeric conversions of the runtime. Each answers nothing where the value
// does not fit, instead of raising an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Whole decimal numbers as text: optional blanks around an optional sign
// and at least one decimal digit. Anything else, or a value out of range,
// gives nothing.
std::optional<std::int32_t> TextToInt32(std::string_view text);
std::optional<std::uint8_t> TextToByte(std::string_view text);

// A float to 0..255, rounding to the nearest whole number with halves to
// the even neighbour; nothing outside 0..255 or for NaN.
std::optional<std::uint8_t> ToByte(double value);

// Plain decimal text, a minus sign for negatives.
std::string DecimalText(std::int64_t value);

}  // namespace platform
