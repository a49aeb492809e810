// Units at the Win32 boundary: a window's DPI, twips of the model against
// device pixels, rectangles and colours.
#pragma once

#include "platform/types.h"
#include "platform/win32/win32_handles.h"

namespace platform::win32 {

// The window's real DPI (the system's where the per-window query is missing
// or `hwnd` is null).
int WindowDpi(HWND hwnd);
// Twips of the model to whole device pixels at `dpi`.
using platform::ToPixels;
// Device pixels back to twips of the model at `dpi`.
Twips ToTwips(int pixels, int dpi);
Rect FromRECT(const RECT& rect);
RECT ToRECT(const Rect& rect);
// A model colour to GDI; the high bit selects a system colour.
COLORREF ToColorRef(Colour colour);
// Grows a client rectangle to the window rectangle of that style at `dpi`
// (at the system's DPI where the per-DPI call is missing).
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);

}  // namespace platform::win32
