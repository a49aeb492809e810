// Lists the monitors a Windows program sees, for the end-to-end tests on a
// display with more than one monitor (tests/e2e/xorg_dummy.py).
//
//   monprobe.exe <output file>                   one JSON line, then exits
//   monprobe.exe <output file> watch <seconds>   a line now and one more
//                                                each time the list changes,
//                                                for that long
//
// A line: {"ms":T,"count":N,"cmonitors":N,"virtual":[x,y,w,h],
// "displaychange":K,"monitors":[{"device":...,"rect":[l,t,r,b],
// "work":[l,t,r,b],"primary":true},...]} where ms is GetTickCount and
// displaychange counts the WM_DISPLAYCHANGE messages its hidden window got.
// Lines are appended with the file reopened each time, so a reader never
// sees half a line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "probe_common.h"

namespace {

std::wstring g_out;
int g_displaychange = 0;

BOOL CALLBACK add_monitor(HMONITOR mon, HDC, LPRECT, LPARAM data) {
  auto& list = *reinterpret_cast<std::string*>(data);
  MONITORINFOEXW mi{};
  mi.cbSize = sizeof mi;
  if (!GetMonitorInfoW(mon, &mi)) return TRUE;
  char buf[200];
  std::snprintf(buf, sizeof buf, ",\"rect\":[%ld,%ld,%ld,%ld],\"work\":[%ld,%ld,%ld,%ld]",
                mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom,
                mi.rcWork.left, mi.rcWork.top, mi.rcWork.right, mi.rcWork.bottom);
  if (!list.empty()) list += ',';
  list += "{\"device\":" + probe::json_string(probe::utf8(mi.szDevice)) + buf +
          ",\"primary\":" + ((mi.dwFlags & MONITORINFOF_PRIMARY) ? "true" : "false") + '}';
  return TRUE;
}

// The monitors as one JSON array, and how many.
std::string monitors(int* count) {
  std::string list;
  EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&list));
  *count = 0;
  for (std::size_t i = list.find("\"device\""); i != std::string::npos;
       i = list.find("\"device\"", i + 1)) {
    ++*count;
  }
  return '[' + list + ']';
}

void write_line(const std::string& list, int count) {
  char head[200];
  std::snprintf(head, sizeof head,
                "{\"ms\":%lu,\"count\":%d,\"cmonitors\":%d,\"virtual\":[%d,%d,%d,%d],"
                "\"displaychange\":%d,\"monitors\":",
                GetTickCount(), count, GetSystemMetrics(SM_CMONITORS),
                GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                g_displaychange);
  FILE* f = _wfopen(g_out.c_str(), L"ab");
  if (!f) return;
  std::fputs(head, f);
  std::fputs(list.c_str(), f);
  std::fputs("}\n", f);
  std::fclose(f);
}

LRESULT CALLBACK probe_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DISPLAYCHANGE) ++g_displaychange;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  g_out = argv[1];
  const bool watch = argc >= 4 && std::wstring(argv[2]) == L"watch";

  // A hidden top-level window: WM_DISPLAYCHANGE goes to top-level windows.
  WNDCLASSW wc{};
  wc.lpfnWndProc = probe_proc;
  wc.hInstance = inst;
  wc.lpszClassName = L"E2eMonProbe";
  RegisterClassW(&wc);
  CreateWindowExW(0, wc.lpszClassName, L"e2e monitor probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                  inst, nullptr);

  int count = 0;
  std::string last = monitors(&count);
  write_line(last, count);
  if (!watch) return 0;

  const DWORD end = GetTickCount() + static_cast<DWORD>(_wtof(argv[3]) * 1000);
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::string now = monitors(&count);
    if (now != last) {
      write_line(now, count);
      last = now;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return 0;
}
