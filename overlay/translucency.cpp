#include "overlay/translucency.h"

#include "platform/user32.h"

namespace mdluser {

using namespace platform;

void SetTranslucent(HWnd hWnd, Colour crKey, std::uint8_t bAlpha, std::int32_t dwFlags) {
  const std::int32_t style = GetWindowLongA(hWnd, GWL_EXSTYLE);
  SetWindowLongA(hWnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
  SetLayeredWindowAttributes(hWnd, crKey, bAlpha, dwFlags);
}

}  // namespace mdluser
