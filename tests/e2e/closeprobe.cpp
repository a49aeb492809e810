// Sends a close message to one window only, as a program that closes
// another program's window does, for the end-to-end lifecycle tests.
//
//   closeprobe.exe <window handle as a decimal number>
// Posts WM_CLOSE to that window and exits with 0, or with 1 when the handle
// names no window or the message could not be posted.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const auto handle = static_cast<UINT_PTR>(std::wcstoull(commandLine, nullptr, 10));
  HWND window = reinterpret_cast<HWND>(handle);
  if (handle == 0 || IsWindow(window) == FALSE) return 1;
  return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE ? 0 : 1;
}
