// The process entry point on Windows: install the backend, run Main, then
// the message loop until no form is left.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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
