#include "platform/win32/win32_units.h"

namespace platform::win32 {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// Looked up at run time: both calls are missing before Windows 10 1607.
template <class Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  // Through void(*)() so that the compiler accepts the function-type change.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(user32, name)));
}

GetDpiForWindowFn GetDpiForWindowPtr() {
  static const auto fn = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  return fn;
}

AdjustForDpiFn AdjustWindowRectExForDpiPtr() {
  static const auto fn = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  return fn;
}

// Asked once: the system DPI of a DPI-aware process holds for its whole
// life, and the list of monitors asks for it at every call.
int SystemDpi() {
  static const int dpi = [] {
    const ScreenDC screen;
    const int found = screen.get() != nullptr ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
    return found > 0 ? found : USER_DEFAULT_SCREEN_DPI;
  }();
  return dpi;
}

}  // namespace

int WindowDpi(HWND hwnd) {
  if (hwnd != nullptr) {
    if (auto fn = GetDpiForWindowPtr()) {
      const UINT dpi = fn(hwnd);
      if (dpi != 0) return static_cast<int>(dpi);
    }
  }
  return SystemDpi();
}

Twips ToTwips(int pixels, int dpi) { return PixelsToTwips(static_cast<float>(pixels), dpi); }

Rect FromRECT(const RECT& rect) { return Rect{rect.left, rect.top, rect.right, rect.bottom}; }

RECT ToRECT(const Rect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

COLORREF ToColorRef(Colour colour) {
  const auto bits = static_cast<std::uint32_t>(colour);
  if ((bits & 0x80000000U) != 0) return ::GetSysColor(static_cast<int>(bits & 0xFFU));
  return static_cast<COLORREF>(bits & 0x00FFFFFFU);
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
  if (auto adjust = AdjustWindowRectExForDpiPtr()) {
    adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
  } else {
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
}

}  // namespace platform::win32
