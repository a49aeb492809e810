#include "platform/gtk/files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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

bool UniqueFd::Reset() {
  if (fd_ < 0) return true;
  return ::close(std::exchange(fd_, -1)) == 0;
}

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

bool OwnFolder(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  ::mkdir(path.c_str(), 0700);
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    return false;
  }
  if ((info.st_mode & 022) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

std::string PrivateFolder() {
  std::vector<std::string> candidates;
  const uid_t uid = ::getuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/' && IsFolder(found->pw_dir)) {
    const std::string cache = std::string(found->pw_dir) + "/.cache";
    ::mkdir(cache.c_str(), 0700);
    candidates.push_back(cache + "/morvane-night");
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (IsFolder(runtime)) candidates.push_back(runtime);
  candidates.push_back("/tmp/morvane-night-" + std::to_string(uid));
  for (const std::string& folder : candidates) {
    if (OwnFolder(folder)) return folder;
  }
  return {};
}

std::string PrivatePath(std::string_view name) {
  const std::string folder = PrivateFolder();
  if (folder.empty()) return {};
  return folder + "/" + std::string(name);
}

std::string ConfigFolder(const char* xdgConfigHome, std::string_view home) {
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') return xdgConfigHome;
  return std::string(home) + "/.config";
}

bool WriteWhole(const std::string& path, const std::string& partial, std::string_view bytes,
                mode_t mode, Replace replace) {
  if (path.empty() || partial.empty()) return false;
  // What an interrupted write of ours left, where it may be replaced.
  if (replace == Replace::Yes) ::unlink(partial.c_str());
  UniqueFd fd(::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) return false;
  bool ok = WriteAll(fd.get(), bytes);
  ok = ::fsync(fd.get()) == 0 && ok;
  ok = fd.Reset() && ok;
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
