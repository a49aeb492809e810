#include "platform/gtk/blend.h"

#include <algorithm>

namespace platform::gamma {

std::uint8_t RampOpacity(std::uint8_t opacity) { return std::min(opacity, kMostRampOpacity); }

std::uint16_t Blend(std::uint16_t level, std::uint8_t channel, std::uint8_t alpha) {
  // In 16-bit levels, rounded: level * (255 - a) / 255 + channel * 257 * a / 255.
  const std::uint32_t sum =
      std::uint32_t{level} * (255U - alpha) + std::uint32_t{channel} * 257U * alpha;
  return static_cast<std::uint16_t>((sum + 127U) / 255U);
}

Ramp Tinted(const Ramp& found, Colour colour, std::uint8_t alpha) {
  const auto bits = static_cast<std::uint32_t>(colour);
  auto over = [alpha](const std::vector<std::uint16_t>& levels, std::uint32_t channel) {
    std::vector<std::uint16_t> out(levels.size());
    std::transform(levels.begin(), levels.end(), out.begin(), [&](std::uint16_t level) {
      return Blend(level, static_cast<std::uint8_t>(channel & 0xFFU), alpha);
    });
    return out;
  };
  return Ramp{over(found.red, bits), over(found.green, bits >> 8), over(found.blue, bits >> 16)};
}

bool KeepsRamps(const Ramp& ramp) {
  if (ramp.size() == 0) return false;
  auto zero = [](const std::vector<std::uint16_t>& levels) {
    return std::all_of(levels.begin(), levels.end(), [](std::uint16_t l) { return l == 0; });
  };
  return !(zero(ramp.red) && zero(ramp.green) && zero(ramp.blue));
}

}  // namespace platform::gamma
