#include "platform/app.h"

#include <cstdlib>

#include "platform/runtime.h"
#include "resources/version.h"

namespace platform {

AppObject App{NM_PRODUCT_NAME};

bool AppObject::PrevInstance() const { return Runtime::Get().backend().PrevInstance(Title); }

void MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  Runtime::Get().backend().MsgBox(prompt, buttons, caption.empty() ? App.Title : caption);
}

void DoEvents() { Runtime::Get().backend().DoEvents(); }

void End() {
  Runtime::Get().backend().End();
  std::abort();  // a backend's End never returns; the compiler cannot know
}

std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                      const std::string& key) {
  return Runtime::Get().backend().GetSetting(app, section, key);
}

bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                 const std::string& value) {
  return Runtime::Get().backend().SaveSetting(app, section, key, value);
}

std::optional<std::string> Environ(const std::string& name) {
  return Runtime::Get().backend().Environ(name);
}

}  // namespace platform

namespace platform {

std::string WindowsDirectory() { return Runtime::Get().backend().WindowsDirectory(); }

bool FileExists(const std::string& path) { return Runtime::Get().backend().FileExists(path); }

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return Runtime::Get().backend().WriteFileAtomically(path, bytes);
}

std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                     const std::string& type) {
  return Runtime::Get().backend().LoadResData(name, type);
}

bool Shell(const std::string& program, const std::string& arguments) {
  return Runtime::Get().backend().Shell(program, arguments);
}

}  // namespace platform
