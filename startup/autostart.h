// `morvane-night --autostart [on|off]`: the user's start-at-login entry, a
// copy of the program's desktop entry in $XDG_CONFIG_HOME/autostart that
// starts this very executable. Handled before anything opens a display, so
// it works from a text console or over ssh; plain functions over paths and
// text, so every case can be tried in a temporary folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace startup::autostart {

inline constexpr char kEntryName[] = "com.morvane.NightMode.desktop";

enum class Request {
  Status,  // --autostart: say whether night mode starts at login
  On,      // --autostart on: write the entry
  Off,     // --autostart off: remove it
};

struct Parsed {
  Request request = Request::Status;
  std::string error;  // not empty: a wrong use, one line
};

// The arguments after the program's name. Nothing when they do not ask for
// --autostart; `--autostart`, `--autostart on|off` or `--autostart=on|off`
// otherwise, with no other argument beside it.
std::optional<Parsed> Parse(const std::vector<std::string>& args);

// The autostart folder: $XDG_CONFIG_HOME/autostart, or ~/.config/autostart
// when that is unset or not an absolute path.
std::string Folder(const char* xdgConfigHome, const char* home);

// `path` as one argument of a desktop entry's Exec key: quoted where it
// holds a reserved character, written as the key's value.
std::string ExecArgument(const std::string& path);

// The entry to write: `installed` with every Exec starting `executable`,
// TryExec naming it (a session skips the entry quietly once the program is
// gone) and X-GNOME-Autostart-enabled=true.
std::string EntryText(const std::string& installed, const std::string& executable);

struct Outcome {
  int status = 0;   // the exit status: 0 done, 1 refused
  std::string out;  // what was done, for stdout
  std::string err;  // why not, for stderr
};

// Does `request` on the entry in `folder`; `executable` is what the entry
// starts. The entry is replaced whole (written beside it, then renamed
// over it), so neither a half-written entry nor a symbolic link planted at
// its name ever gets our text.
Outcome Run(Request request, const std::string& folder, const std::string& executable);

// main's part: nothing when the command line is not about --autostart,
// else the exit status once the outcome is printed.
std::optional<int> HandleCommandLine(const char* program, int argc, char** argv);

}  // namespace startup::autostart
