// winlist.exe <output file>: the top-level windows of the Wine desktop, one
// JSON object per line with their child windows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "probe_common.h"

namespace {

using probe::json_string;
using probe::utf8;

std::string text_of(HWND h) {
  wchar_t buf[1024];
  // WM_GETTEXT rather than GetWindowText: it also reads controls of other processes.
  LRESULT n = SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf),
                                  SMTO_ABORTIFHUNG, 1000, nullptr);
  if (n == 0) buf[0] = 0;
  buf[1023] = 0;
  return utf8(buf);
}

std::string class_of(HWND h) {
  wchar_t buf[256];
  if (!GetClassNameW(h, buf, 256)) buf[0] = 0;
  return utf8(buf);
}

std::string rect_json(const RECT& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right - r.left,
                r.bottom - r.top);
  return buf;
}

std::string describe(HWND h) {
  RECT wr{};
  GetWindowRect(h, &wr);
  RECT cr{};
  GetClientRect(h, &cr);
  POINT origin{0, 0};
  ClientToScreen(h, &origin);
  RECT client{origin.x, origin.y, origin.x + cr.right, origin.y + cr.bottom};
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char head[160];
  std::snprintf(head, sizeof head, "\"hwnd\":%llu,\"pid\":%lu,\"id\":%lld,\"visible\":%s",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)), pid,
                static_cast<long long>(GetWindowLongPtrW(h, GWLP_ID)),
                IsWindowVisible(h) ? "true" : "false");
  return std::string(head) + ",\"class\":" + json_string(class_of(h)) +
         ",\"text\":" + json_string(text_of(h)) + ",\"rect\":" + rect_json(wr) +
         ",\"client\":" + rect_json(client);
}

struct Output {
  std::string lines;
  std::string children;
};

BOOL CALLBACK on_child(HWND h, LPARAM lp) {
  auto* out = reinterpret_cast<Output*>(lp);
  if (!out->children.empty()) out->children += ",";
  out->children += "{" + describe(h) + "}";
  return TRUE;
}

BOOL CALLBACK on_top(HWND h, LPARAM lp) {
  auto* out = reinterpret_cast<Output*>(lp);
  out->children.clear();
  EnumChildWindows(h, on_child, lp);
  out->lines += "{" + describe(h) + ",\"children\":[" + out->children + "]}\n";
  return TRUE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  Output out;
  EnumWindows(on_top, reinterpret_cast<LPARAM>(&out));
  return probe::write_whole(argv[1], out.lines);
}
