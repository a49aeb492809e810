// What the Windows probes share: JSON output, and another process's PEB.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace probe {

inline std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

inline std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += static_cast<char>(c);
  }
  return out + "\"";
}

// Writes text to path under a temporary name and renames it, so a reader
// never sees half of it; the exit code of the probe.
inline int write_whole(const std::wstring& path, const std::string& text) {
  const std::wstring tmp = path + L".tmp";
  FILE* f = _wfopen(tmp.c_str(), L"wb");
  if (!f) return 3;
  std::fputs(text.c_str(), f);
  std::fclose(f);
  return MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}

// An ntdll export, through void* so the cast says what is meant.
inline void* ntdll(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

// The pointer stored at address in another process, or 0.
inline std::uintptr_t read_pointer(HANDLE process, std::uintptr_t address) {
  std::uintptr_t value = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<void*>(address), &value, sizeof value, &got) ||
      got != sizeof value) {
    return 0;
  }
  return value;
}

// The address of another process's PEB, or 0.
inline std::uintptr_t peb_of(HANDLE process) {
  struct BasicInfo {  // ProcessBasicInformation
    LONG exit_status;
    void* peb;
    ULONG_PTR affinity;
    LONG base_priority;
    ULONG_PTR pid;
    ULONG_PTR parent_pid;
  } info{};
  using Query = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(ntdll("NtQueryInformationProcess"));
  if (!query || query(process, 0, &info, sizeof info, nullptr) != 0) return 0;
  return reinterpret_cast<std::uintptr_t>(info.peb);
}

}  // namespace probe
