#include "platform/app.h"

#include <cstdlib>
#include <utility>

#include "platform/runtime.h"
#include "resources/version.h"

namespace platform {

AppObject App{NM_PRODUCT_NAME};

bool AppObject::PrevInstance() const { return Runtime::Get().desktop().PrevInstance(Title); }

void MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  Runtime::Get().desktop().MsgBox(prompt, buttons, caption.empty() ? App.Title : caption);
}

void DoEvents() { Runtime::Get().windowSystem().DoEvents(); }

void RunBeside(std::function<void()> job) {
  Runtime::Get().windowSystem().RunBeside(std::move(job));
}

void End() {
  Runtime::Get().windowSystem().End();
  std::abort();  // a backend's End never returns; the compiler cannot know
}

std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                      const std::string& key) {
  return Runtime::Get().desktop().GetSetting(app, section, key);
}

bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                 const std::string& value) {
  return Runtime::Get().desktop().SaveSetting(app, section, key, value);
}

void OnEndRequest(std::function<void()> handler) {
  Runtime::Get().SetEndRequestHandler(std::move(handler));
}

}  // namespace platform

namespace platform {

namespace {

WindowsServices* Windows() { return Runtime::Get().windowsServices(); }

}  // namespace

bool HasWindowsServices() { return Windows() != nullptr; }

// Without the Windows-only services each call finds nothing and does nothing.
std::optional<std::string> SystemDirectory() {
  return HasWindowsServices() ? Windows()->SystemDirectory() : std::nullopt;
}

bool FileExists(const std::string& path) {
  return HasWindowsServices() && Windows()->FileExists(path);
}

bool WriteNewFile(const std::string& path, const std::string& partial,
                  const std::vector<std::uint8_t>& bytes) {
  return HasWindowsServices() && Windows()->WriteNewFile(path, partial, bytes);
}

bool RemoveFile(const std::string& path) {
  return HasWindowsServices() && Windows()->RemoveFile(path);
}

std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                     const std::string& type) {
  if (!HasWindowsServices()) return std::nullopt;
  return Windows()->LoadResData(name, type);
}

bool Shell(const std::string& program, const std::string& arguments) {
  return HasWindowsServices() && Windows()->Shell(program, arguments);
}

}  // namespace platform
