#include "platform/app.h"

#include <cstdlib>
#include <utility>

#include "platform/runtime.h"
#include "resources/version.h"

namespace platform {

AppObject App{NM_PRODUCT_NAME};

bool AppObject::PrevInstance() const { return Runtime::Get().backend().PrevInstance(Title); }

void MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  Runtime::Get().backend().MsgBox(prompt, buttons, caption.empty() ? App.Title : caption);
}

void DoEvents() { Runtime::Get().backend().DoEvents(); }

void RunBeside(std::function<void()> job) { Runtime::Get().backend().RunBeside(std::move(job)); }

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

void OnEndRequest(std::function<void()> handler) {
  Runtime::Get().SetEndRequestHandler(std::move(handler));
}

}  // namespace platform

namespace platform {

std::optional<std::string> SystemDirectory() { return Runtime::Get().backend().SystemDirectory(); }

bool FileExists(const std::string& path) { return Runtime::Get().backend().FileExists(path); }

bool WriteNewFile(const std::string& path, const std::string& partial,
                  const std::vector<std::uint8_t>& bytes) {
  return Runtime::Get().backend().WriteNewFile(path, partial, bytes);
}

bool RemoveFile(const std::string& path) { return Runtime::Get().backend().RemoveFile(path); }

std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                     const std::string& type) {
  return Runtime::Get().backend().LoadResData(name, type);
}

bool Shell(const std::string& program, const std::string& arguments) {
  return Runtime::Get().backend().Shell(program, arguments);
}

}  // namespace platform
