// The process entry point on Windows: install the backend, run Main, then
// the message loop until no form is left.
// win32_backend.h brings in <windows.h> with the project's settings.
#include "platform/runtime.h"
#include "platform/win32/win32_backend.h"
#include "startup/main.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  static platform::Win32Backend backend;
  platform::Runtime::Get().Install(&backend);
  mdluser::Main();
  backend.RunMessageLoop();
  return 0;
}
