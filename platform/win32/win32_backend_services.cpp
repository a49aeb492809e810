// The desktop services: per-user settings in the registry, the system
// folder, files, resources, processes, the system colour dialog, the
// message box and the single-instance check.
#include "platform/win32/win32_backend.h"
// After <windows.h>, which win32_handles.h brings in (WIN32_LEAN_AND_MEAN
// leaves the common dialogs out).
#include <commdlg.h>

#include <algorithm>

namespace platform {

namespace {

std::wstring SettingsKeyPath(const std::string& app, const std::string& section) {
  return L"Software\\" + win32::Widen(app) + L"\\" + win32::Widen(section);
}

using ChooseColorFn = BOOL(WINAPI*)(LPCHOOSECOLORW);

// comdlg32 is loaded when the colour dialog is first asked for, not with
// the program: it brings shell32, comctl32, ole32 and the print spooler
// along (under Wine the spooler loads CUPS and its TLS libraries), some
// megabytes and start-up time that the tint and the splash never use.
// From the system folder by its full path, never by a search.
ChooseColorFn ChooseColorPtr(const std::optional<std::string>& systemFolder) {
  static ChooseColorFn fn = nullptr;
  if (fn != nullptr || !systemFolder) return fn;
  const std::wstring path = win32::Widen(*systemFolder) + L"\\comdlg32.dll";
  if (HMODULE comdlg32 = ::LoadLibraryW(path.c_str())) {
    // Through void(*)() so that the compiler accepts the function-type change.
    fn = reinterpret_cast<ChooseColorFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(comdlg32, "ChooseColorW")));
  }
  return fn;
}

}  // namespace

std::optional<std::string> Win32Backend::GetSetting(const std::string& app,
                                                    const std::string& section,
                                                    const std::string& key) {
  win32::UniqueKey opened;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKeyPath(app, section).c_str(), 0, KEY_QUERY_VALUE,
                      opened.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring name = win32::Widen(key);
  std::wstring text(64, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    auto size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status = ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(text.data()), &size);
    if (status == ERROR_MORE_DATA) {
      text.assign(size / sizeof(wchar_t) + 1, L'\0');
      continue;
    }
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    // The stored size may or may not count a terminator.
    text.resize(size / sizeof(wchar_t));
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return win32::Narrow(text);
  }
  return std::nullopt;
}

bool Win32Backend::SaveSetting(const std::string& app, const std::string& section,
                               const std::string& key, const std::string& value) {
  win32::UniqueKey created;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKeyPath(app, section).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, created.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring text = win32::Widen(value);
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(created.get(), win32::Widen(key).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

std::optional<std::string> Win32Backend::SystemDirectory() {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.assign(length, L'\0');
    length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size()) return std::nullopt;
  folder.resize(length);
  return win32::Narrow(folder);
}

// Any file counts, hidden and system ones too: another program's copy of a
// component is never written over.
bool Win32Backend::FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Backend::WriteNewFile(const std::string& path, const std::string& partial,
                                const std::vector<std::uint8_t>& bytes) {
  const std::wstring target = win32::Widen(path);
  const std::wstring temporary = win32::Widen(partial);
  if (target.empty() || temporary.empty()) return false;
  // In the target's folder, so the rename stays on one volume and cannot
  // half-happen.
  win32::UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;

  bool ok = true;
  std::size_t offset = 0;
  while (ok && offset < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1U << 20));
    DWORD written = 0;
    ok = ::WriteFile(file.get(), bytes.data() + offset, chunk, &written, nullptr) != FALSE &&
         written != 0;
    offset += written;
  }
  ok = ok && ::FlushFileBuffers(file.get()) != FALSE;
  file.reset();
  // Without MOVEFILE_REPLACE_EXISTING: a file that is there stays.
  ok = ok && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!ok) ::DeleteFileW(temporary.c_str());
  return ok;
}

bool Win32Backend::RemoveFile(const std::string& path) {
  const std::wstring name = win32::Widen(path);
  return !name.empty() && ::DeleteFileW(name.c_str()) != FALSE;
}

// FindResourceW compares string names and types without regard to case.
std::optional<std::vector<std::uint8_t>> Win32Backend::LoadResData(const std::string& name,
                                                                   const std::string& type) {
  if (name.empty() || type.empty()) return std::nullopt;
  HRSRC found = ::FindResourceW(instance_, win32::Widen(name).c_str(), win32::Widen(type).c_str());
  if (found == nullptr) return std::nullopt;
  HGLOBAL loaded = ::LoadResource(instance_, found);
  const DWORD size = ::SizeofResource(instance_, found);
  const auto* data =
      static_cast<const std::uint8_t*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
  if (data == nullptr && size != 0) return std::nullopt;
  return std::vector<std::uint8_t>(data, data + size);
}

bool Win32Backend::Shell(const std::string& program, const std::string& arguments) {
  std::wstring commandLine = L"\"" + win32::Widen(program) + L"\"";
  if (!arguments.empty()) commandLine += L" " + win32::Widen(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process) == FALSE) {
    return false;
  }
  // Not waited for: the handles are closed on return.
  const win32::UniqueHandle child(process.hProcess);
  const win32::UniqueHandle thread(process.hThread);
  return true;
}

bool Win32Backend::ShowColorDialog(Form& owner, Colour& colour) {
  CHOOSECOLORW choose{};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = WindowOf(owner);
  choose.rgbResult = win32::ToColorRef(colour);
  choose.lpCustColors = customColours_;
  choose.Flags = CC_FULLOPEN | CC_RGBINIT;
  const ChooseColorFn chooseColor = ChooseColorPtr(SystemDirectory());
  if (chooseColor == nullptr || chooseColor(&choose) == FALSE) return false;
  colour = static_cast<Colour>(choose.rgbResult & 0x00FFFFFFU);
  return true;
}

void Win32Backend::MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  HWND owner = ::GetActiveWindow();
  // Topmost: the box must not end up beneath a running overlay's tint.
  UINT type = static_cast<UINT>(buttons) | MB_SETFOREGROUND | MB_TOPMOST;
  if (owner == nullptr) type |= MB_TASKMODAL;
  ::MessageBoxW(owner, win32::Widen(prompt).c_str(), win32::Widen(caption).c_str(), type);
}

bool Win32Backend::PrevInstance(const std::string& title) {
  if (prevInstance_) return *prevInstance_;
  std::wstring name = win32::Widen(title);
  // A backslash would name a namespace.
  std::replace(name.begin(), name.end(), L'\\', L'_');
  name = L"Local\\" + name;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  // Access denied: the mutex exists, made by another user's instance in the
  // same session.
  const bool exists =
      mutex != nullptr ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  // Held until the process ends: that is what tells later starts.
  instanceMutex_.reset(mutex);
  prevInstance_ = exists;
  return exists;
}

}  // namespace platform
