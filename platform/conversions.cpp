#include "platform/conversions.h"

#include <cmath>
#include <limits>

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Blanks, an optional sign, digits, blanks; nothing else. Values beyond the
// 64-bit range are refused early, so the digits never overflow.
std::optional<std::int64_t> ParseWhole(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t firstDigit = i;
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max() + std::int64_t{1};
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) return std::nullopt;
    ++i;
  }
  if (i == firstDigit) return std::nullopt;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<std::int32_t> TextToInt32(std::string_view text) {
  const auto value = ParseWhole(text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(*value);
}

std::optional<std::uint8_t> TextToByte(std::string_view text) {
  const auto value = ParseWhole(text);
  if (!value || *value < 0 || *value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(*value);
}

std::optional<std::uint8_t> ToByte(double value) {
  if (std::isnan(value)) return std::nullopt;
  // nearbyint rounds halves to even in the default rounding mode.
  const double rounded = std::nearbyint(value);
  if (rounded < 0.0 || rounded > 255.0) return std::nullopt;
  return static_cast<std::uint8_t>(rounded);
}

std::string DecimalText(std::int64_t value) { return std::to_string(value); }

}  // namespace platform
