// The two values remembered per user between runs: the overlay's colour and
// its opacity, as decimal text under (App.Title, "Settings", key).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace settings {

inline constexpr const char* kSection = "Settings";
inline constexpr const char* kColourKey = "lngColor";
inline constexpr const char* kOpacityKey = "intLig";

inline constexpr platform::Colour kDefaultColour = 16384;  // 0x00004000, dark green
inline constexpr std::uint8_t kDefaultOpacity = 150;

// The stored colour; the default when absent or not a 0x00BBGGRR value.
platform::Colour LoadColour();
// The stored opacity; the default when absent or not a whole number 0..255.
std::uint8_t LoadOpacity();
// Writes the opacity, then the colour, each only when it was read by this
// run: a run that never read the user's values (a second instance) must
// not store its own over them. A refused write does not stop the other;
// true only when both were stored.
bool SaveBoth(std::uint8_t opacity, platform::Colour colour);
// Forgets which values were read, as at the start of a run.
void ForgetReads();

}  // namespace settings
