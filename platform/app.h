// The application object and the desktop services the forms call, named as
// the program uses them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct AppObject {
  std::string Title;  // the first key of every stored setting
  // True when another instance of this application is already running.
  bool PrevInstance() const;
};
extern AppObject App;

constexpr int vbOKOnly = 0;

// Shows a message box; with no caption it carries the application's title.
void MsgBox(const std::string& prompt, int buttons = vbOKOnly, const std::string& caption = {});
// Handles the window messages already waiting.
void DoEvents();
// Stops the whole program at once: no unload event runs.
[[noreturn]] void End();

std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                      const std::string& key);
bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                 const std::string& value);

std::optional<std::string> Environ(const std::string& name);
std::string WindowsDirectory();

// Files, resources and processes, for the component installer.
bool FileExists(const std::string& path);
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                     const std::string& type);
// Starts `program` hidden with `arguments` and does not wait for it.
bool Shell(const std::string& program, const std::string& arguments);

}  // namespace platform
