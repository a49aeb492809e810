#include "platform/gtk/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform::gtk::files {

namespace {

bool IsFolder(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::string SafeName(std::string_view text) {
  std::string name;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || byte >= 0x80;
    name += plain ? c : '_';
  }
  if (name.empty() || name == "." || name == "..") name = "_";
  return name;
}

std::string PrivatePath(std::string_view stem, std::string_view suffix) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (IsFolder(runtime))
    return std::string(runtime) + "/" + std::string(stem) + std::string(suffix);
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = IsFolder(tmp) ? tmp : "/tmp";
  return folder + "/" + std::string(stem) + "-" + std::to_string(::getuid()) + std::string(suffix);
}

bool WriteWhole(const std::string& path, const std::string& partial, std::string_view bytes,
                mode_t mode, Replace replace) {
  if (path.empty() || partial.empty()) return false;
  // What an interrupted write of ours left, where it may be replaced.
  if (replace == Replace::Yes) ::unlink(partial.c_str());
  const int fd =
      ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (replace == Replace::Yes) {
    // A rename replaces a link at `path` itself, never what it points to.
    ok = ok && ::rename(partial.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(partial.c_str());
  } else {
    // A link never replaces what is there.
    ok = ok && ::link(partial.c_str(), path.c_str()) == 0;
    ::unlink(partial.c_str());
  }
  return ok;
}

}  // namespace platform::gtk::files
