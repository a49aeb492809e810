// The application object and the desktop services the forms call, named as
// the program uses them.
#pragma once

#include <cstdint>
#include <functional>
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
// Runs `job` beside the user-interface thread, once start-up's windows are
// up; the program does not end before it has finished. The job may use
// only the services below.
void RunBeside(std::function<void()> job);
// Stops the whole program at once: no unload event runs.
[[noreturn]] void End();

std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                      const std::string& key);
bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                 const std::string& value);

// What the program does when it is asked to stop from outside: a close
// request to one of its windows, the session ending, a signal. Without a
// handler every form is unloaded.
void OnEndRequest(std::function<void()> handler);

// Files, resources and processes, for the component installer: only
// Windows has them. Where the system does not, HasWindowsServices is false
// and each of them finds nothing and does nothing.
bool HasWindowsServices();
std::optional<std::string> SystemDirectory();
bool FileExists(const std::string& path);
bool WriteNewFile(const std::string& path, const std::string& partial,
                  const std::vector<std::uint8_t>& bytes);
bool RemoveFile(const std::string& path);
std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                     const std::string& type);
// Starts `program` hidden with `arguments` and does not wait for it.
bool Shell(const std::string& program, const std::string& arguments);

}  // namespace platform
