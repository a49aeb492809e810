// The five window-system calls the forms make directly, with portable types.
// The active backend answers them: win32 forwards to user32, headless emulates
// a style word, layered attributes and a Z band per window.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr std::int32_t GWL_EXSTYLE = -20;
constexpr std::int32_t WS_EX_TRANSPARENT = 0x00000020;
constexpr std::int32_t WS_EX_TOOLWINDOW = 0x00000080;
constexpr std::int32_t WS_EX_TOPMOST = 0x00000008;
constexpr std::int32_t WS_EX_LAYERED = 0x00080000;
constexpr std::int32_t LWA_ALPHA = 2;

constexpr HWnd HWND_TOPMOST = -1;
constexpr HWnd HWND_NOTOPMOST = -2;
constexpr std::uint32_t SWP_NOSIZE = 0x0001;
constexpr std::uint32_t SWP_NOMOVE = 0x0002;
constexpr std::uint32_t SWP_NOACTIVATE = 0x0010;

constexpr std::int32_t VK_F7 = 0x76;

std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index);
std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value);
std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                        std::int32_t dwFlags);
std::int32_t SetWindowPos(HWnd hwnd, HWnd hwndInsertAfter, int x, int y, int cx, int cy,
                          std::uint32_t flags);
std::int16_t GetAsyncKeyState(std::int32_t vKey);

}  // namespace platform
