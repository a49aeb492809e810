// clickprobe.exe <log file>: a white window under the overlay, which makes
// the tint measurable, logging "ready" once up and "down <x> <y>" (client
// pixels) per left-button press. The file is reopened for every line so a
// reader never sees a line held back in a buffer.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_log;

void log_line(const char* line) {
  FILE* f = _wfopen(g_log.c_str(), L"ab");
  if (!f) return;
  std::fputs(line, f);
  std::fputs("\n", f);
  std::fclose(f);
}

LRESULT CALLBACK probe_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_LBUTTONDOWN: {
      char line[64];
      std::snprintf(line, sizeof line, "down %d %d", static_cast<short>(LOWORD(lp)),
                    static_cast<short>(HIWORD(lp)));
      log_line(line);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  g_log = argv[1];

  WNDCLASSW wc{};
  wc.lpfnWndProc = probe_proc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = L"E2eClickProbe";
  if (!RegisterClassW(&wc)) return 3;

  // A frameless popup one row short of the screen: Wine marks a window that
  // covers the whole screen as full-screen, and the X window manager then
  // raises it, once focused, above even the always-on-top windows we test.
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"e2e click probe", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 1,
                              nullptr, nullptr, inst, nullptr);
  if (!hwnd) return 4;
  UpdateWindow(hwnd);
  log_line("ready");

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
