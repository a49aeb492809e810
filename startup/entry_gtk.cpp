// The process entry point on Linux: GTK on X11, the backend, Main, then the
// main loop until no form is left.
#include <gtk/gtk.h>

#include <cstdio>

#include "platform/gtk/gtk_backend.h"
#include "platform/runtime.h"
#include "startup/main.h"

int main(int argc, char** argv) {
  // The overlay needs X11: a global key poll and a click-through window
  // above other programs are not to be had from a Wayland session, but they
  // are through XWayland.
  gdk_set_allowed_backends("x11");
  g_set_prgname("morvane-night");
  if (gtk_init_check(&argc, &argv) == FALSE) {
    std::fprintf(stderr, "morvane-night: cannot open the X display (is $DISPLAY set?)\n");
    return 1;
  }
  static platform::GtkBackend backend;
  platform::Runtime::Get().Install(&backend);
  // Ramps a killed run left tinted are mended before anything reads them.
  backend.GiveBackRampsLeftBehind();
  mdluser::Main();
  backend.RunMessageLoop();
  return 0;
}
