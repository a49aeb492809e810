// The files the native program keeps of its own: where they go, and how
// one is written so that a reader never sees half of it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>

namespace platform::gtk::files {

// An open file descriptor, closed when this goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes it now; false when the close reported an error (a write lost).
  bool Reset();

 private:
  int fd_;
};

// Only what is safe in one path component: letters, digits, '.', '-' and
// bytes above ASCII (a title in Chinese); anything else becomes '_'.
std::string SafeName(std::string_view text);

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else .config in `home`.
std::string ConfigFolder(const char* xdgConfigHome, std::string_view home);

// This user's folder for the instance lock and the ramp record, the same
// whatever the environment says ($XDG_RUNTIME_DIR, $TMPDIR, $HOME):
// .cache/morvane-night in the home folder the system names for the user.
// Where that cannot be made (a user without a home), the runtime folder,
// else /tmp/morvane-night-<uid>. Used only while it is a real folder of
// this user's that nobody else can write; empty when there is none.
std::string PrivateFolder();

// A file in PrivateFolder(); empty when there is no such folder.
std::string PrivatePath(std::string_view name);

// Whether `path` is, or has just been made, a folder of this user's that
// nobody else can write (one of ours left open to others is closed).
bool OwnFolder(const std::string& path);

enum class Replace { Yes, No };

// Writes `bytes` to `partial`, flushed to disk, then puts it at `path`:
// renamed over what is there (Replace::Yes), or linked only where nothing
// is (Replace::No). Never through a symbolic link at `partial`; nothing is
// left at `partial` either way.
bool WriteWhole(const std::string& path, const std::string& partial, std::string_view bytes,
                mode_t mode, Replace replace);

}  // namespace platform::gtk::files
