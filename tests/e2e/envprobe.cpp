// Wine fills in windir for every program started from Linux, so a program
// without it must have a Windows parent: this one.
//   envprobe.exe <output file> launch <program> [-NAME | NAME=VALUE]...
//       starts program with this environment changed; writes {"pid":N}
//   envprobe.exe <output file> read <pid> <NAME>
//       writes {"set":true|false,"value":...} from that process's block
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "probe_common.h"

namespace {

using probe::json_string;
using probe::utf8;

bool same_name(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The name of one "NAME=VALUE" entry; entries such as "=C:=C:\" that start
// with '=' keep it as part of the name.
std::wstring name_of(const std::wstring& entry) {
  const auto eq = entry.find(L'=', 1);
  return eq == std::wstring::npos ? entry : entry.substr(0, eq);
}

std::vector<std::wstring> split_block(const wchar_t* block) {
  std::vector<std::wstring> entries;
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
  return entries;
}

std::string launch(int argc, wchar_t** argv) {
  if (argc < 4) return "{\"error\":\"no program\"}";
  wchar_t* own = GetEnvironmentStringsW();
  std::vector<std::wstring> entries = split_block(own);
  FreeEnvironmentStringsW(own);
  for (int i = 4; i < argc; ++i) {
    std::wstring change = argv[i];
    const bool remove = !change.empty() && change[0] == L'-';
    const std::wstring name = remove ? change.substr(1) : name_of(change);
    std::erase_if(entries, [&](const std::wstring& e) { return same_name(name_of(e), name); });
    if (!remove) entries.push_back(change);
  }
  std::wstring block;
  for (const auto& e : entries) block += e + L'\0';
  block += L'\0';
  std::wstring command = L"\"" + std::wstring(argv[3]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      block.data(), nullptr, &startup, &process)) {
    return "{\"error\":\"CreateProcess " + std::to_string(GetLastError()) + "\"}";
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return "{\"pid\":" + std::to_string(process.dwProcessId) + "}";
}

constexpr std::size_t kPebParametersOffset = 0x20;          // x64 PEB
constexpr std::size_t kParametersEnvironmentOffset = 0x80;  // x64 process parameters

// The target's environment block, read page by page up to its double NUL.
bool read_environment(HANDLE process, std::wstring& block) {
  const std::uintptr_t peb = probe::peb_of(process);
  const std::uintptr_t parameters =
      peb ? probe::read_pointer(process, peb + kPebParametersOffset) : 0;
  const std::uintptr_t environment =
      parameters ? probe::read_pointer(process, parameters + kParametersEnvironmentOffset) : 0;
  if (!environment) return false;
  SIZE_T got = 0;
  constexpr std::uintptr_t kPage = 4096;
  std::uintptr_t at = environment;
  while (block.size() < (1U << 20)) {
    const std::uintptr_t end = (at / kPage + 1) * kPage;
    std::vector<wchar_t> chunk((end - at) / sizeof(wchar_t));
    if (chunk.empty() || !ReadProcessMemory(process, reinterpret_cast<void*>(at), chunk.data(),
                                            chunk.size() * sizeof(wchar_t), &got)) {
      return false;
    }
    for (wchar_t c : chunk) {
      // The double NUL, or a first NUL that ends an empty block.
      if (c == L'\0' && (block.empty() || block.back() == L'\0')) return true;
      block += c;
    }
    at = end;
  }
  return false;
}

std::string read(int argc, wchar_t** argv) {
  if (argc < 5) return "{\"error\":\"usage\"}";
  const DWORD pid = static_cast<DWORD>(_wtoi(argv[3]));
  const std::wstring name = argv[4];
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return "{\"error\":\"OpenProcess\"}";
  std::wstring block;
  const bool ok = read_environment(process, block);
  CloseHandle(process);
  if (!ok) return "{\"error\":\"cannot read the environment block\"}";
  for (const auto& e : split_block(block.c_str())) {
    if (same_name(name_of(e), name)) {
      return "{\"set\":true,\"value\":" + json_string(utf8(e.substr(name.size() + 1))) + "}";
    }
  }
  return "{\"set\":false,\"value\":null}";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  const std::wstring mode = argv[2];
  const std::string line = mode == L"launch" ? launch(argc, argv)
                           : mode == L"read" ? read(argc, argv)
                                             : std::string("{\"error\":\"unknown mode\"}");
  return probe::write_whole(argv[1], line + "\n");
}
