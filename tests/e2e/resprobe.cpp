// The GDI objects, USER objects, handles, windows and memory of a process,
// each by every means the system offers (-1 where one cannot be read), so a
// leak test can tell a real count from a stub that answers 0.
//   resprobe.exe <output file> <pid>    one JSON line of counts for pid
//   resprobe.exe <output file> self     this process's counts before, while
//                                       and after it holds 10 brushes, 10
//                                       events and 3 windows
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32, no psapi.dll
// clang-format off
#include <windows.h>
#include <psapi.h>  // after <windows.h>, whose types it uses
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "probe_common.h"

namespace {

using probe::ntdll;

// The entry layout of the shared GDI handle table on x64.
struct GdiEntry {
  std::uint64_t object;
  std::uint32_t owner;
  std::uint16_t unique;
  std::uint8_t type;  // 0: a free entry
  std::uint8_t flags;
  std::uint64_t user;
};
static_assert(sizeof(GdiEntry) == 24);
constexpr std::size_t kGdiMaxEntries = 0x10000;
constexpr std::size_t kPebGdiTableOffset = 0xF8;  // x64 PEB

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

struct ExtendedHandle {
  void* object;
  ULONG_PTR pid;
  ULONG_PTR value;
  ULONG access;
  USHORT backtrace;
  USHORT type;
  ULONG attributes;
  ULONG reserved;
};

long long gdi_table_count(HANDLE process) {
  const std::uintptr_t peb = probe::peb_of(process);
  const std::uintptr_t table = peb ? probe::read_pointer(process, peb + kPebGdiTableOffset) : 0;
  if (!table) return -1;
  SIZE_T got = 0;
  // Read in slices; entries past the last one ever used were never written.
  std::vector<GdiEntry> slice(4096);
  long long live = 0;
  for (std::size_t first = 0; first < kGdiMaxEntries; first += slice.size()) {
    const auto at = static_cast<std::uintptr_t>(table) + first * sizeof(GdiEntry);
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(at), slice.data(),
                           slice.size() * sizeof(GdiEntry), &got) ||
        got != slice.size() * sizeof(GdiEntry)) {
      return first == 0 ? -1 : live;
    }
    bool any_used = false;
    for (const GdiEntry& e : slice) {
      if (e.type != 0) ++live;
      if (e.object != 0 || e.unique != 0) any_used = true;
    }
    if (!any_used && first > 0) break;
  }
  return live;
}

long long system_handle_count(DWORD pid) {
  auto query = reinterpret_cast<NtQuerySystemInformationFn>(ntdll("NtQuerySystemInformation"));
  if (!query) return -1;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(64 /* SystemExtendedHandleInformation */, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<LONG>(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status != 0) return -1;
    const auto count = *reinterpret_cast<const ULONG_PTR*>(buffer.data());
    const auto* entries =
        reinterpret_cast<const ExtendedHandle*>(buffer.data() + 2 * sizeof(ULONG_PTR));
    long long mine = 0;
    for (ULONG_PTR i = 0; i < count; ++i) {
      if (entries[i].pid == pid) ++mine;
    }
    return mine;
  }
  return -1;
}

struct WindowTally {
  DWORD pid;
  long long all = 0;
};

BOOL CALLBACK tally(HWND h, LPARAM lp) {
  auto& t = *reinterpret_cast<WindowTally*>(lp);
  DWORD owner = 0;
  GetWindowThreadProcessId(h, &owner);
  if (owner == t.pid) ++t.all;
  return TRUE;
}

BOOL CALLBACK tally_tree(HWND h, LPARAM lp) {
  tally(h, lp);
  EnumChildWindows(h, tally, lp);  // all descendants, not only children
  return TRUE;
}

long long window_count(DWORD pid) {
  WindowTally t{pid};
  const auto lp = reinterpret_cast<LPARAM>(&t);
  EnumWindows(tally_tree, lp);
  for (HWND h = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); h;
       h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr)) {
    tally_tree(h, lp);
  }
  return t.all;
}

std::string counts(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return "{\"error\":\"OpenProcess " + std::to_string(GetLastError()) + "\"}";
  const long long gdi = GetGuiResources(process, GR_GDIOBJECTS);
  const long long user = GetGuiResources(process, GR_USEROBJECTS);
  DWORD handles = 0;
  const long long handle_count = GetProcessHandleCount(process, &handles) ? handles : -1;
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  const bool have_memory = GetProcessMemoryInfo(process, &memory, sizeof memory);
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "{\"gui_gdi\":%lld,\"gui_user\":%lld,\"handles\":%lld,\"sys_handles\":%lld,"
                "\"gdi_table\":%lld,\"windows\":%lld,\"working_set\":%lld}",
                gdi, user, handle_count, system_handle_count(pid), gdi_table_count(process),
                window_count(pid),
                have_memory ? static_cast<long long>(memory.WorkingSetSize) : -1LL);
  CloseHandle(process);
  return buf;
}

// Makes objects of each kind and measures again: a count that does not move
// by what was made is not a real count.
std::string self_test() {
  const DWORD me = GetCurrentProcessId();
  const std::string before = counts(me);
  std::vector<HGDIOBJ> brushes;
  std::vector<HANDLE> events;
  std::vector<HWND> windows;
  for (int i = 0; i < 10; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
  for (int i = 0; i < 10; ++i) events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  for (int i = 0; i < 3; ++i) {
    windows.push_back(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
  }
  const std::string during = counts(me);
  for (HGDIOBJ b : brushes) DeleteObject(b);
  for (HANDLE e : events) CloseHandle(e);
  for (HWND w : windows) DestroyWindow(w);
  const std::string after = counts(me);
  return "{\"made\":{\"gdi\":10,\"handles\":10,\"windows\":3},\"before\":" + before +
         ",\"during\":" + during + ",\"after\":" + after + "}";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  const std::string line =
      std::wstring(argv[2]) == L"self" ? self_test() : counts(static_cast<DWORD>(_wtoi(argv[2])));
  return probe::write_whole(argv[1], line + "\n");
}
