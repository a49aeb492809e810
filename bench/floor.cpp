// The floor of this design: the least a night-mode overlay can do. One
// borderless, topmost, click-through layered window over the whole screen,
// in the tool's default colour and opacity, and one 100 ms timer that asks
// for F7's global state. No settings, no splash, no panel. bench/run
// measures the tool against this program.
//
// Built by the windows-cross tree (bench/CMakeLists.txt) as bench/floor.exe.
#include <windows.h>

namespace {

constexpr COLORREF kTint = 0x00004000;  // the tool's default colour
constexpr BYTE kOpacity = 150;          // ...and opacity
constexpr UINT_PTR kPollTimer = 1;

// Where the poll's answer goes, so the compiler keeps the call.
volatile SHORT lastF7State = 0;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kPollTimer) lastF7State = GetAsyncKeyState(VK_F7);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = CreateSolidBrush(kTint);
  wc.lpszClassName = L"NightModeFloor";
  if (RegisterClassW(&wc) == 0) return 1;

  HWND hwnd =
      CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_TOOLWINDOW,
                      wc.lpszClassName, L"floor", WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                      GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  SetLayeredWindowAttributes(hwnd, 0, kOpacity, LWA_ALPHA);
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  SetTimer(hwnd, kPollTimer, 100, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
