// The process entry point on Linux: the command line, the way to the screen
// (X11, a layer-shell overlay on Wayland, or XWayland), the name on the
// session bus that `--settings` finds, the backend, Main, then the main
// loop until no form is left.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "overlay/frm_night.h"
#include "platform/app.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/layer.h"
#include "platform/gtk/session.h"
#include "platform/gtk/session_instance.h"
#include "platform/gtk/shortcuts.h"
#include "platform/runtime.h"
#include "startup/autostart.h"
#include "startup/main.h"

namespace {

constexpr char kName[] = "morvane-night";

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

// Said once when this desktop gives F7 to nobody but its own shortcuts.
void SayHowToBindF7(const std::string& why, bool reachable) {
  std::fprintf(stderr,
               "%s: F7 cannot be read on this Wayland desktop, and %s.\n"
               "%s: to open the settings panel with F7, bind F7 to '%s --settings' in the "
               "desktop's keyboard shortcuts (sway: bindsym F7 exec %s --settings)%s\n",
               kName, why.c_str(), kName, kName, kName,
               reachable ? "" : "; without a D-Bus session bus that cannot reach it either");
}

}  // namespace

int main(int argc, char** argv) {
  using platform::session::Action;
  using platform::session::Path;
  using platform::session::Start;
  namespace session = platform::session;
  namespace gtk = platform::gtk;

  // Start at login is a file in the user's folder: nothing of GTK, no
  // display needed.
  if (const auto status = startup::autostart::HandleCommandLine(kName, argc, argv)) return *status;

  g_set_prgname(kName);
  // GTK's own options (--display, --gdk-debug, ...) go first; no display
  // is opened for this.
  gtk_parse_args(&argc, &argv);
  const session::CommandLine line =
      session::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.action) {
    case Action::Help:
      std::fputs(session::HelpText(kName).c_str(), stdout);
      return 0;
    case Action::Version:
      std::fputs(session::VersionText(kName).c_str(), stdout);
      return 0;
    case Action::Usage:
      std::fputs(session::UsageError(kName, line.error).c_str(), stderr);
      return 2;
    case Action::Run:
    case Action::OpenSettings:
      break;
  }

  const char* forced = std::getenv("GDK_BACKEND");
  const session::Environment env{Set("WAYLAND_DISPLAY"), Set("DISPLAY"),
                                 forced != nullptr ? forced : ""};
  const bool built = gtk::layer::Built();
  const bool layerShell =
      session::NeedsLayerShellProbe(env, built) && gtk::layer::CompositorHasLayerShell();
  const Path path = session::ChoosePath(env, built, layerShell);
  if (path == Path::NoDisplay) {
    std::fprintf(stderr,
                 env.wayland ? "%s: this Wayland compositor offers no layer shell and there is "
                               "no X display (XWayland) to fall back on\n"
                             : "%s: cannot open the X display (is $DISPLAY set?)\n",
                 kName);
    return 1;
  }
  if (path == Path::XWayland) {
    std::fprintf(
        stderr,
        "%s: %s: night mode runs as an X program through XWayland, and F7 is seen "
        "only while an X program has the focus\n",
        kName,
        built ? "this Wayland compositor offers no layer shell" : "built without gtk-layer-shell");
  }
  gdk_set_allowed_backends(session::GdkBackendFor(path));

  // The name on the bus first: a `--settings` that finds it taken only
  // hands the request over, whether or not the lock is held yet.
  static gtk::SessionInstance instance;
  instance.Register();
  if (session::DecideStart(line.action, instance.remote(), false) == Start::ForwardToRunning) {
    return instance.AskToOpenSettings() ? 0 : 1;
  }

  if (gtk_init_check(&argc, &argv) == FALSE) {
    std::fprintf(stderr, "%s: cannot open the %s display\n", kName,
                 path == Path::LayerShell ? "Wayland" : "X");
    return 1;
  }
  static platform::GtkBackend backend;
  platform::Runtime::Get().Install(&backend);
  const bool running = backend.PrevInstance(platform::App.Title);
  switch (session::DecideStart(line.action, false, running)) {
    case Start::RunningButUnreachable:
      std::fprintf(stderr,
                   "%s: night mode runs already, but cannot be reached over this D-Bus session "
                   "bus: press F7 to open its settings\n",
                   kName);
      return 1;
    case Start::RunAndOpenSettings:
      frmNight.AskForSettings();
      break;
    case Start::Run:
    case Start::ForwardToRunning:
      break;
  }
  instance.OnOpenSettings([] { frmNight.AskForSettings(); });
  if (!running && session::IsWaylandDesktop(env, path)) {
    // F7 as the desktop's own shortcut, where it offers the portal.
    const bool reachable = instance.bus() != nullptr;
    static gtk::PortalShortcut portal(
        instance.bus(), {"open-settings", "打开夜间模式设置", "F7"},
        [] { frmNight.AskForSettings(); },
        [reachable](const std::string& why) { SayHowToBindF7(why, reachable); });
    portal.Start();
  }
  // Ramps a killed run left tinted are mended before anything reads them.
  backend.GiveBackRampsLeftBehind();
  mdluser::Main();
  backend.RunMessageLoop();
  return 0;
}
