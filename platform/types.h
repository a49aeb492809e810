// Basic value types shared by the runtime and the forms.
#pragma once

#include <cmath>
#include <cstdint>

namespace platform {

// A colour as every form property holds it: 0x00BBGGRR, red in the low byte.
using Colour = std::int32_t;

// A native window handle. Pointer-sized so that a real handle fits on 64-bit
// Windows; the headless backend hands out small integers.
using HWnd = std::intptr_t;

// Geometry unit of the form model: 1/1440 inch, 15 to the pixel at 96 DPI.
using Twips = float;

constexpr int kTwipsPerInch = 1440;

// Twips to device pixels at the given DPI (96 = 100 %).
constexpr float TwipsToPixels(Twips twips, int dpi) {
  return twips * static_cast<float>(dpi) / static_cast<float>(kTwipsPerInch);
}
constexpr Twips PixelsToTwips(float pixels, int dpi) {
  return pixels * static_cast<float>(kTwipsPerInch) / static_cast<float>(dpi);
}
// The same, to the nearest whole pixel, as windows and drawing need it.
inline int ToPixels(Twips twips, int dpi) {
  return static_cast<int>(std::lround(TwipsToPixels(twips, dpi)));
}

// A rectangle in whole pixels; right and bottom lie just outside it.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const Rect&) const = default;
};

// Mouse button bits as the form events receive them.
constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

// Shift-state bits of the form events.
constexpr int kShiftMask = 1;
constexpr int kCtrlMask = 2;
constexpr int kAltMask = 4;

}  // namespace platform
