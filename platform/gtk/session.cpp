#include "platform/gtk/session.h"

#include "resources/version.h"

namespace platform::session {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return CommandLine{Action::Help, {}};
    if (arg == "--version") return CommandLine{Action::Version, {}};
    if (arg == "--settings") {
      line.action = Action::OpenSettings;
    } else if (arg.size() > 1 && arg[0] == '-') {
      const bool valued = arg.rfind("--settings=", 0) == 0 || arg.rfind("--help=", 0) == 0 ||
                          arg.rfind("--version=", 0) == 0;
      const std::string name = arg.substr(0, arg.find('='));
      return CommandLine{Action::Usage, valued ? "option '" + name + "' doesn't allow an argument"
                                               : "unrecognized option '" + arg + "'"};
    } else {
      return CommandLine{Action::Usage, "extra operand '" + arg + "'"};
    }
  }
  return line;
}

std::string HelpText(const std::string& program) {
  return "Usage: " + program + " [--settings]\n" + "  or:  " + program +
         " --autostart [on|off]\n"
         "Dim and tint the whole screen for use at night: one colour at one opacity\n"
         "over every monitor, letting every click through.\n"
         "\n"
         "      --settings  open the settings panel of the running night mode\n"
         "                  (night mode starts first when none runs); bind this to F7\n"
         "                  where the desktop lets no program read F7 itself\n"
         "      --autostart [on|off]\n"
         "                  start night mode at login, or no longer; alone: say\n"
         "                  whether it does\n"
         "  -h, --help      display this help and exit\n"
         "      --version   output version information and exit\n"
         "\n"
         "While night mode runs, F7 opens the settings panel: drag the brightness\n"
         "slider, click the swatch to pick a colour, or click 关闭夜间模式 to turn\n"
         "night mode off.\n"
         "A second start only says that night mode is running.\n";
}

std::string VersionText(const std::string& program) {
  return program + " (" NM_PRODUCT_NAME ") " NM_VERSION_TEXT "\n";
}

std::string UsageError(const std::string& program, const std::string& error) {
  return program + ": " + error + "\nTry '" + program + " --help' for more information.\n";
}

namespace {

// $GDK_BACKEND names one backend the user wants ("x11", "wayland"); a list
// or "*" leaves the choice to us.
bool Forces(const Environment& env, const char* backend) { return env.gdkBackend == backend; }

bool WaylandWanted(const Environment& env) { return env.wayland && !Forces(env, "x11"); }

bool X11Allowed(const Environment& env) { return env.x11 && !Forces(env, "wayland"); }

}  // namespace

bool NeedsLayerShellProbe(const Environment& env, bool layerShellBuilt) {
  return layerShellBuilt && WaylandWanted(env);
}

Path ChoosePath(const Environment& env, bool layerShellBuilt, bool compositorHasLayerShell) {
  if (WaylandWanted(env)) {
    if (layerShellBuilt && compositorHasLayerShell) return Path::LayerShell;
    return X11Allowed(env) ? Path::XWayland : Path::NoDisplay;
  }
  return X11Allowed(env) ? Path::X11 : Path::NoDisplay;
}

const char* GdkBackendFor(Path path) {
  switch (path) {
    case Path::LayerShell:
      return "wayland";
    case Path::X11:
    case Path::XWayland:
      return "x11";
    case Path::NoDisplay:
      break;
  }
  return "";
}

bool IsWaylandDesktop(const Environment& env, Path path) {
  // X11 forced through $GDK_BACKEND on a Wayland desktop is XWayland too.
  return env.wayland && path != Path::NoDisplay;
}

Start DecideStart(Action action, bool remote, bool lockHeld) {
  if (action != Action::OpenSettings) return Start::Run;
  if (remote) return Start::ForwardToRunning;
  return lockHeld ? Start::RunningButUnreachable : Start::RunAndOpenSettings;
}

std::string ServerName(std::string_view display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string_view::npos) return std::string(display);
  std::string_view host = display.substr(0, colon);
  std::string_view number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (host == "unix") host = {};
  return std::string(host) + ":" + std::string(number);
}

TintWay ChooseTintWay(bool layerShell, bool x11, bool composited,
                      const std::function<bool()>& rampsUsable) {
  if (layerShell) return TintWay::Layers;
  // Off X11 there are no ramps to fall back on: the window is all there is.
  if (!x11 || composited) return TintWay::Window;
  return rampsUsable() ? TintWay::Ramps : TintWay::None;
}

}  // namespace platform::session
