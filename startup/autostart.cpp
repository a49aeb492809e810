#include "startup/autostart.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "nm_desktop_entry.h"
#include "platform/gtk/files.h"
#include "platform/gtk/session.h"

namespace startup::autostart {

namespace {

std::string Reason(int error) { return std::strerror(error); }

// A value of type string in a desktop entry: backslash and control
// characters escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Every missing folder of `path`, made private to the user as the base
// directory rules ask of $XDG_CONFIG_HOME.
bool MakeFolders(const std::string& path, std::string* failed, int* error) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    struct stat info {};
    if (!folder.empty() && ::stat(folder.c_str(), &info) != 0) {
      if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *failed = folder;
        *error = errno;
        return false;
      }
    }
    if (end == std::string::npos) return true;
  }
}

Outcome Refused(const std::string& what, const std::string& path, int error) {
  return Outcome{
      1, "",
      "cannot " + what + " " + path + ": " + Reason(error) + "; start at login is unchanged"};
}

Outcome Write(const std::string& folder, const std::string& path, const std::string& text) {
  std::string failed;
  int error = 0;
  if (!MakeFolders(folder, &failed, &error)) return Refused("create the folder", failed, error);
  // Written beside the entry and renamed over it: a link planted at its
  // name is replaced, never followed.
  const std::string partial = folder + "/." + kEntryName + "." + std::to_string(::getpid());
  errno = 0;
  if (!platform::gtk::files::WriteWhole(path, partial, text, 0644,
                                        platform::gtk::files::Replace::Yes)) {
    return Refused("write in", folder, errno != 0 ? errno : EIO);
  }
  return Outcome{0, "night mode starts at login: wrote " + path, ""};
}

Outcome Remove(const std::string& path) {
  // unlink takes a symbolic link away itself, never what it points to.
  if (::unlink(path.c_str()) == 0) {
    return Outcome{0, "night mode no longer starts at login: removed " + path, ""};
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    return Outcome{0, "night mode does not start at login: there is no " + path, ""};
  }
  return Refused("remove", path, errno);
}

Outcome Status(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    return Outcome{0, "night mode does not start at login", ""};
  }
  std::ifstream in(path);
  if (!in) return Outcome{1, "", "cannot read " + path + ": " + Reason(errno)};
  // A session skips an entry that is hidden or has GNOME's switch off.
  bool main = false;
  for (std::string line; std::getline(in, line);) {
    if (StartsWith(line, "[")) main = line == "[Desktop Entry]";
    if (main && (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")) {
      return Outcome{0, "night mode does not start at login: " + path + " is switched off", ""};
    }
  }
  return Outcome{0, "night mode starts at login (" + path + ")", ""};
}

}  // namespace

std::optional<Parsed> Parse(const std::vector<std::string>& args) {
  std::size_t at = 0;
  while (at < args.size() && args[at] != "--autostart" && !StartsWith(args[at], "--autostart=")) {
    ++at;
  }
  if (at == args.size()) return std::nullopt;
  std::string value;
  std::size_t used = 1;
  if (args[at] != "--autostart") {
    value = args[at].substr(args[at].find('=') + 1);
    if (value.empty()) return Parsed{Request::Status, "option '--autostart=' needs on or off"};
  } else if (at + 1 < args.size() && !StartsWith(args[at + 1], "-")) {
    value = args[at + 1];
    used = 2;
  }
  if (args.size() != used) {
    return Parsed{Request::Status, "option '--autostart' goes with no other argument"};
  }
  if (value.empty()) return Parsed{Request::Status, ""};
  if (value == "on") return Parsed{Request::On, ""};
  if (value == "off") return Parsed{Request::Off, ""};
  return Parsed{Request::Status, "invalid argument '" + value + "' for '--autostart' (on or off)"};
}

std::string Folder(const char* xdgConfigHome, const char* home) {
  return platform::gtk::files::ConfigFolder(xdgConfigHome, home != nullptr ? home : "") +
         "/autostart";
}

std::string ExecArgument(const std::string& path) {
  const bool quoted = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string arg;
  if (quoted) arg += '"';
  for (const char c : path) {
    if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
    if (c == '%') arg += '%';  // a lone % would start a field code
    arg += c;
  }
  if (quoted) arg += '"';
  return Escaped(arg);
}

std::string EntryText(const std::string& installed, const std::string& executable) {
  const std::string added = "TryExec=" + Escaped(executable) + "\nX-GNOME-Autostart-enabled=true\n";
  std::istringstream in(installed);
  std::string out;
  std::string blanks;  // held back, so the added keys close their group
  bool main = false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      blanks += '\n';
      continue;
    }
    if (StartsWith(line, "[")) {
      if (main) out += added;
      main = line == "[Desktop Entry]";
    } else if (main &&
               (StartsWith(line, "TryExec=") || StartsWith(line, "X-GNOME-Autostart-enabled="))) {
      continue;
    } else if (StartsWith(line, "Exec=")) {
      // The installed entry starts the program by name; this one starts it
      // where it is, with the same arguments.
      const std::size_t space = line.find(' ');
      line = "Exec=" + ExecArgument(executable) +
             (space == std::string::npos ? "" : line.substr(space));
    }
    out += blanks + line + '\n';
    blanks.clear();
  }
  if (main) out += added;
  return out;
}

Outcome Run(Request request, const std::string& folder, const std::string& executable) {
  const std::string path = folder + "/" + kEntryName;
  switch (request) {
    case Request::On:
      return Write(folder, path, EntryText(kInstalledEntry, executable));
    case Request::Off:
      return Remove(path);
    case Request::Status:
      break;
  }
  return Status(path);
}

std::optional<int> HandleCommandLine(const char* program, int argc, char** argv) {
  const auto parsed = Parse(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed) return std::nullopt;
  if (!parsed->error.empty()) {
    std::fputs(platform::session::UsageError(program, parsed->error).c_str(), stderr);
    return 2;
  }
  // The entry starts the executable that wrote it: the one the user has
  // just run, wherever it is installed and whatever the session's PATH.
  std::string executable = program;
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) {
    executable.assign(buffer, static_cast<std::size_t>(n));
    // Replaced or removed while running: the installed name is the best guess.
    if (executable.size() > 10 && executable.ends_with(" (deleted)")) executable = program;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* user = ::getpwuid(::getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  const Outcome outcome =
      Run(parsed->request, Folder(std::getenv("XDG_CONFIG_HOME"), home), executable);
  if (!outcome.out.empty()) std::printf("%s: %s\n", program, outcome.out.c_str());
  if (!outcome.err.empty()) std::fprintf(stderr, "%s: %s\n", program, outcome.err.c_str());
  return outcome.status;
}

}  // namespace startup::autostart
