#include "startup/main.h"

#include "platform/app.h"
#include "splash/frm_splash.h"

namespace mdluser {

using namespace platform;

namespace {

// The system folder, with a trailing backslash. Without a usable `windir`
// the Windows directory the system reports is used, not a folder on the
// current drive.
std::string SystemFolder() {
  std::string windows = Environ("windir").value_or("");
  if (windows.empty()) windows = WindowsDirectory();
  while (!windows.empty() && (windows.back() == '\\' || windows.back() == '/')) windows.pop_back();
  return windows + "\\system32\\";
}

}  // namespace

void InstallComponent(const std::string& name, const std::string& ext) {
  const std::string folder = SystemFolder();
  const std::string path = folder + name + "." + ext;
  if (!FileExists(path)) {
    // Written beside and renamed into place, so an interrupted write never
    // leaves a truncated file that every later start would keep.
    if (const auto data = LoadResData(name, ext)) WriteFileAtomically(path, *data);
  }
  // The registration tool from the system folder itself, with the path
  // quoted; started hidden and not waited for.
  Shell(folder + "regsvr32.exe", "\"" + path + "\" /s");
}

void Main() {
  DoEvents();
  InstallComponent("CMDLGCHS", "DLL");
  InstallComponent("COMDLG32", "ocx");
  frmSplash.Show();
}

}  // namespace mdluser
