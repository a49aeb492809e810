#include "startup/main.h"

#include "overlay/frm_night.h"
#include "platform/app.h"
#include "splash/frm_splash.h"

namespace mdluser {

using namespace platform;

void InstallComponent(const std::string& name, const std::string& ext) {
  // The system folder as the system reports it: no environment variable
  // may decide where files are written or which program is started (the
  // tool is run elevated for this step). Where it cannot be told, there
  // is nothing to install.
  const std::optional<std::string> system = SystemDirectory();
  if (!system || system->empty()) return;
  std::string folder = *system;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  folder += '\\';
  const std::string path = folder + name + "." + ext;
  // Written under a fixed name beside the target and renamed into place,
  // so an interrupted write never leaves a truncated file; what such a
  // start left behind is cleared here.
  const std::string partial = path + kPartialSuffix;
  RemoveFile(partial);
  if (!FileExists(path)) {
    if (const auto data = LoadResData(name, ext)) WriteNewFile(path, partial, *data);
  }
  // The registration tool from the system folder itself, with the path
  // quoted; started hidden and not waited for.
  Shell(folder + "regsvr32.exe", "\"" + path + "\" /s");
}

void Main() {
  // However the program is asked to stop from outside, it stops as the
  // exit label stops it.
  OnEndRequest(EndNightMode);
  DoEvents();
  // The components are put in place beside the first frames: neither the
  // tint nor the splash waits for a file to be written or for a regsvr32
  // process to be started. Within the step the order stays: the language
  // library, then the control, each file in place before its registration
  // starts. The colour dialog that needs them is first opened from the
  // panel, long after. A system without Windows' services (Linux) has its
  // own colour dialog and nothing to install.
  if (HasWindowsServices()) {
    RunBeside([] {
      InstallComponent("CMDLGCHS", "DLL");
      InstallComponent("COMDLG32", "ocx");
    });
  }
  frmSplash.Show();
}

}  // namespace mdluser
