// What the native program decides before it opens a display: what the
// command line asks for, which way it reaches the screen (X11, a Wayland
// layer-shell overlay, or XWayland where the compositor has no layer
// shell), and whether a start runs, hands "open settings" to the running
// instance, or cannot. Plain functions over plain values, so every case can
// be tried without a display or a bus.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::session {

enum class Action {
  Run,           // night mode, as ever
  OpenSettings,  // --settings: the running instance opens its panel
  Help,          // --help: usage on stdout, status 0
  Version,       // --version: name and version on stdout, status 0
  Usage,         // a wrong argument: the reason and a hint on stderr, status 2
};

struct CommandLine {
  Action action = Action::Run;
  std::string error;  // for Usage: what was wrong, one line
};

// The arguments after the program's name, GTK's own already taken out. Read
// in order, as getopt does: --help or --version answers at once, the first
// unknown option or stray operand is the error.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string HelpText(const std::string& program);
std::string VersionText(const std::string& program);
// The two lines a wrong argument gets on stderr.
std::string UsageError(const std::string& program, const std::string& error);

// The display the environment names: $WAYLAND_DISPLAY, $DISPLAY, and
// $GDK_BACKEND when the user forces one of GDK's backends.
struct Environment {
  bool wayland = false;
  bool x11 = false;
  std::string gdkBackend;
};

enum class Path {
  X11,         // an X session: the overlay window or the gamma ramps
  LayerShell,  // Wayland: a layer-shell overlay on every output
  XWayland,    // Wayland without layer shell: an X client of XWayland
  NoDisplay,   // nothing to show the tint on
};

// Whether the compositor must be asked if it offers layer shell: only when
// that would change the path.
bool NeedsLayerShellProbe(const Environment& env, bool layerShellBuilt);

Path ChoosePath(const Environment& env, bool layerShellBuilt, bool compositorHasLayerShell);

// GDK's backend for a path ("wayland" or "x11"); empty for NoDisplay.
const char* GdkBackendFor(Path path);

// True for the paths on a Wayland desktop, where no program reads the
// keyboard globally and F7 has to come from the desktop.
bool IsWaylandDesktop(const Environment& env, Path path);

// What a start does, once it knows whether another instance holds the
// single-instance name on the session bus (`remote`) and whether another
// instance holds the lock (`lockHeld`).
enum class Start {
  Run,                   // night mode; a second plain start shows its message there
  RunAndOpenSettings,    // --settings with none running: night mode, panel open
  ForwardToRunning,      // --settings: the running instance opens its panel
  RunningButUnreachable  // --settings: one runs, but not on this session bus
};

Start DecideStart(Action action, bool remote, bool lockHeld);

// The X server a display name reaches, spelt one way, so that a start as
// ":0.0" finds what a start as ":0" left: the screen number dropped, and
// "unix:0" (the local socket, as ":0") written ":0". Another host, or
// "localhost:10" (a TCP port, as ssh -X gives), stays a server of its own.
std::string ServerName(std::string_view display);

// How the overlay's tint reaches the screen.
enum class TintWay {
  Window,  // its translucent window, blended by a compositing manager
  Ramps,   // no compositing manager: the gamma ramps of every CRTC, no window
  Layers,  // Wayland: a layer-shell surface on every output
  None,    // no compositing manager and no ramps: the screen cannot be tinted
};

// The one choice of tint way, made when the overlay first shows and again
// when the compositing manager or the monitors change. `rampsUsable` is
// asked only when the answer depends on it (an X server without a
// compositing manager); asking may take the ramps.
TintWay ChooseTintWay(bool layerShell, bool x11, bool composited,
                      const std::function<bool()>& rampsUsable);

}  // namespace platform::session
