// Turning a window into a layered window with a constant opacity.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace mdluser {

// Adds WS_EX_LAYERED to the window's extended style, keeping every other
// bit, and applies the layered attributes. Calling it again only changes
// the opacity.
void SetTranslucent(platform::HWnd hWnd, platform::Colour crKey, std::uint8_t bAlpha,
                    std::int32_t dwFlags);

}  // namespace mdluser
