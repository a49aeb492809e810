#include "platform/user32.h"

#include "platform/runtime.h"

namespace platform {

std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) {
  return Runtime::Get().windowSystem().GetWindowLongA(hwnd, index);
}

std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) {
  return Runtime::Get().windowSystem().SetWindowLongA(hwnd, index, value);
}

std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                        std::int32_t dwFlags) {
  return Runtime::Get().windowSystem().SetLayeredWindowAttributes(hwnd, crKey, bAlpha, dwFlags);
}

std::int32_t SetWindowPos(HWnd hwnd, HWnd hwndInsertAfter, int x, int y, int cx, int cy,
                          std::uint32_t flags) {
  return Runtime::Get().windowSystem().SetWindowPos(hwnd, hwndInsertAfter, x, y, cx, cy, flags);
}

std::int16_t GetAsyncKeyState(std::int32_t vKey) {
  return Runtime::Get().windowSystem().GetAsyncKeyState(vKey);
}

}  // namespace platform
