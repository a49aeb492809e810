// The tint as the gamma ramps carry it. The blend a compositor draws for the
// overlay, out = in * (1 - a) + c * a per channel, depends on each channel
// alone, so it can be put into the ramps every monitor goes through.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace platform::gamma {

// One CRTC's three ramps, of the same size: 16-bit output levels for the
// input levels spread evenly from 0 to full.
struct Ramp {
  std::vector<std::uint16_t> red;
  std::vector<std::uint16_t> green;
  std::vector<std::uint16_t> blue;

  std::size_t size() const { return red.size(); }
  bool operator==(const Ramp&) const = default;
};

// The ramps tint the panel too, and at full opacity in black they would
// leave nothing to see the way back by; they never apply more than this.
constexpr std::uint8_t kMostRampOpacity = 220;

// What the ramps apply for the opacity the user set.
std::uint8_t RampOpacity(std::uint8_t opacity);

// One output level blended with a colour channel at opacity `alpha`.
std::uint16_t Blend(std::uint16_t level, std::uint8_t channel, std::uint8_t alpha);

// The ramp `found` with the colour (0x00BBGGRR) laid over at `alpha`: a
// calibrated ramp stays calibrated beneath the tint.
Ramp Tinted(const Ramp& found, Colour colour, std::uint8_t alpha);

// False for a CRTC without ramps (size 0), and for one that reads all
// black: no screen is used so (one faded out, or ramps a virtual server
// never set), and giving such a ramp back would leave the screen black.
bool KeepsRamps(const Ramp& ramp);

}  // namespace platform::gamma
