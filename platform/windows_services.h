// What only Windows has: the system folder, files written there, the
// executable's embedded resources and the programs that start-up runs. A
// backend without them offers none, and start-up skips its component step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class WindowsServices {
 public:
  virtual ~WindowsServices() = default;

  // The system folder as the system reports it (never from the
  // environment); nothing when it cannot be told.
  virtual std::optional<std::string> SystemDirectory() = 0;
  // True when `path` names an existing file, whatever its attributes.
  virtual bool FileExists(const std::string& path) = 0;
  // Writes `bytes` to `partial` and renames that to `path`, which it never
  // replaces: an interrupted write leaves no truncated file at `path`, and
  // a file that appeared there meanwhile stays. False on failure (then
  // nothing is left at `partial`).
  virtual bool WriteNewFile(const std::string& path, const std::string& partial,
                            const std::vector<std::uint8_t>& bytes) = 0;
  // Deletes a file; false when it was not there or could not go.
  virtual bool RemoveFile(const std::string& path) = 0;
  // Raw bytes of a resource of the executable; names and types match
  // without regard to case.
  virtual std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                               const std::string& type) = 0;
  // Starts `program` with `arguments`, hidden, without waiting.
  virtual bool Shell(const std::string& program, const std::string& arguments) = 0;
};

}  // namespace platform
