// closeprobe.exe <decimal window handle>: posts WM_CLOSE to that one window,
// as another program closing it would; exits with 1 where it cannot.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const auto handle = static_cast<UINT_PTR>(std::wcstoull(commandLine, nullptr, 10));
  HWND window = reinterpret_cast<HWND>(handle);
  if (handle == 0 || IsWindow(window) == FALSE) return 1;
  return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE ? 0 : 1;
}
