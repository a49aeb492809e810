#include "platform/headless/headless_backend.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "platform/user32.h"

namespace platform::headless {

namespace {

// Unwind the program thread: End() was called, or the test is over.
struct EndSignal {};
struct ShutdownSignal {};

constexpr std::int32_t kDialogModalFrame = 0x00000001;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

HeadlessBackend::HeadlessBackend() = default;

HeadlessBackend::~HeadlessBackend() { Shutdown(); }

// --- turn taking ----------------------------------------------------------

void HeadlessBackend::Start(std::function<void()> entry) {
  thread_ = std::thread([this, entry = std::move(entry)] {
    {
      std::unique_lock lock(mutex_);
      turnChanged_.wait(lock, [this] { return programsTurn_; });
    }
    try {
      if (!shuttingDown_) {
        entry();
        Loop([this] { return !quit_; });
      }
    } catch (const EndSignal&) {
      ended_ = true;
    } catch (const ShutdownSignal&) {
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    programsTurn_ = false;
    turnChanged_.notify_all();
  });
  horizon_ = now_;
  GiveTurnToProgram();
}

void HeadlessBackend::GiveTurnToProgram() {
  if (!thread_.joinable() || finished_) return;
  std::unique_lock lock(mutex_);
  programsTurn_ = true;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return !programsTurn_; });
}

void HeadlessBackend::WaitForTurn() {
  std::unique_lock lock(mutex_);
  programsTurn_ = false;
  turnChanged_.notify_all();
  turnChanged_.wait(lock, [this] { return programsTurn_; });
  if (shuttingDown_) throw ShutdownSignal{};
}

void HeadlessBackend::RunUntil(std::int64_t ms) {
  if (ms < now_) return;
  horizon_ = ms;
  GiveTurnToProgram();
  now_ = ms;
}

void HeadlessBackend::Shutdown() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
    programsTurn_ = true;
    turnChanged_.notify_all();
  }
  thread_.join();
}

void HeadlessBackend::Loop(const std::function<bool()>& keepGoing, std::int64_t wakeAt) {
  while (keepGoing()) {
    if (!posted_.empty()) {
      auto action = std::move(posted_.front());
      posted_.pop_front();
      action();
      continue;
    }
    // Nothing else to do now: the jobs beside take their turn.
    if (!jobsBeside_.empty()) {
      RunJobBeside();
      continue;
    }
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (next == timers_.end() || it->second.due < next->second.due ||
          (it->second.due == next->second.due && it->second.order < next->second.order)) {
        next = it;
      }
    }
    const std::int64_t timerDue =
        next == timers_.end() ? std::numeric_limits<std::int64_t>::max() : next->second.due;
    if (wakeAt >= 0 && wakeAt <= horizon_ && wakeAt <= timerDue) {
      now_ = std::max(now_, wakeAt);
      continue;
    }
    if (timerDue <= horizon_) {
      Timer* timer = next->first;
      Form* form = next->second.form;
      now_ = timerDue;
      next->second.due += std::max(1, timer->Interval.get());
      Runtime::Get().DeliverTimer(*form, *timer);
      continue;
    }
    now_ = horizon_;
    WaitForTurn();
  }
}

// --- input ------------------------------------------------------------------

void HeadlessBackend::Post(std::function<void()> action) {
  if (finished_) return;
  posted_.push_back(std::move(action));
  horizon_ = now_;
  GiveTurnToProgram();
}

void HeadlessBackend::Mouse(Form& form, MouseAction action, int button, float x, float y,
                            int shift) {
  Post([&form, action, button, x, y, shift] {
    Runtime::Get().DeliverMouse(form, action, button, shift, x, y);
  });
}

void HeadlessBackend::Click(Label& label) {
  const float x = label.Left + label.Width / 2;
  const float y = label.Top + label.Height / 2;
  Form& form = label.Parent();
  Post([&form, x, y] {
    Runtime::Get().DeliverMouse(form, MouseAction::Down, kLeftButton, 0, x, y);
    Runtime::Get().DeliverMouse(form, MouseAction::Up, kLeftButton, 0, x, y);
  });
}

void HeadlessBackend::KeyDown(std::int32_t vk) {
  keyDown_[vk] = true;
  keyPressedSinceQuery_[vk] = true;
  SendKeyToFocus(vk);
}

void HeadlessBackend::KeyUp(std::int32_t vk) { keyDown_[vk] = false; }

void HeadlessBackend::KeyTap(std::int32_t vk) {
  keyPressedSinceQuery_[vk] = true;
  SendKeyToFocus(vk);
}

void HeadlessBackend::SendKeyToFocus(std::int32_t vk) {
  const Window* window = WindowOf(foreground);
  if (window == nullptr) return;
  Form& form = *window->form;
  const int shift = (keyDown_[0x10] ? kShiftMask : 0) | (keyDown_[0x11] ? kCtrlMask : 0) |
                    (keyDown_[0x12] ? kAltMask : 0);
  Post([&form, vk, shift] { Runtime::Get().DeliverKey(form, vk, shift); });
}

// --- inspection -------------------------------------------------------------

const Window* HeadlessBackend::WindowOf(HWnd hwnd) const {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

const Window* HeadlessBackend::WindowOf(const Form& form) const { return WindowOf(form.Handle()); }

int HeadlessBackend::Invalidations(const Control* control) const {
  auto it = invalidations_.find(control);
  return it == invalidations_.end() ? 0 : it->second;
}

bool HeadlessBackend::HasTaskbarButton(HWnd hwnd) const {
  const Window* window = WindowOf(hwnd);
  if (window == nullptr || !window->visible) return false;
  if ((window->exStyle & WS_EX_APPWINDOW) != 0) return true;
  return window->owner == 0 && (window->exStyle & (WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE)) == 0;
}

int HeadlessBackend::WindowsCreated(const Form& form) const {
  auto it = windowsCreated_.find(&form);
  return it == windowsCreated_.end() ? 0 : it->second;
}

Window* HeadlessBackend::Find(HWnd hwnd) {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

// A window comes to the top of its band: the topmost band lies above the rest.
void HeadlessBackend::RaiseInBand(HWnd hwnd) {
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), hwnd), zOrder_.end());
  auto position = zOrder_.begin();
  if (!windows_[hwnd].topmost) {
    position = std::find_if(zOrder_.begin(), zOrder_.end(),
                            [this](HWnd h) { return !windows_[h].topmost; });
  }
  zOrder_.insert(position, hwnd);
}

// --- windows ----------------------------------------------------------------

HWnd HeadlessBackend::CreateFormWindow(Form& form) {
  const HWnd hwnd = nextHandle_;
  nextHandle_ += 4;
  Window window;
  window.form = &form;
  // As the Win32 backend makes them: a form kept out of the taskbar is
  // owned by a hidden window, and one that never takes the keyboard is
  // never activated.
  window.exStyle = (form.borderStyle == BorderStyle::FixedDialog ? kDialogModalFrame : 0) |
                   (form.TakesKeyboard ? 0 : WS_EX_NOACTIVATE);
  window.createdExStyle = window.exStyle;
  if (!form.ShowInTaskbar) {
    if (hiddenOwner_ == 0) {
      hiddenOwner_ = nextHandle_;
      nextHandle_ += 4;
    }
    window.owner = hiddenOwner_;
  }
  windows_[hwnd] = window;
  ++windowsCreated_[&form];
  RaiseInBand(hwnd);
  return hwnd;
}

// As the system does when the active window goes: the activation falls to
// its owner when that can take it, else to the topmost window of the
// program that can.
void HeadlessBackend::DestroyFormWindow(Form& form) {
  const HWnd hwnd = form.Handle();
  const Window* window = Find(hwnd);
  const HWnd owner = window != nullptr ? window->owner : 0;
  windows_.erase(hwnd);
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), hwnd), zOrder_.end());
  if (foreground != hwnd) return;
  foreground = 0;
  auto canActivate = [this](HWnd h) {
    const Window* w = Find(h);
    return w != nullptr && w->visible && w->enabled && w->form->TakesKeyboard;
  };
  if (canActivate(owner)) {
    Activate(owner);
    return;
  }
  for (HWnd h : zOrder_) {
    if (canActivate(h)) {
      Activate(h);
      return;
    }
  }
}

void HeadlessBackend::ShowFormWindow(Form& form, Form* owner) {
  Window* window = Find(form.Handle());
  if (window == nullptr) return;
  window->visible = true;
  if (owner != nullptr) window->owner = owner->Handle();
  Place(*window, form, owner);
  RaiseInBand(form.Handle());
  if (form.TakesKeyboard) Activate(form.Handle());
  // Its first paint.
  Runtime::Get().SizeAutoSizedLabels(form);
}

// As a backend places a window: maximised over what it covers, centred
// where its start-up position says, at the DPI of the monitor it lands on.
void HeadlessBackend::Place(Window& window, Form& form, Form* owner) {
  const Monitor* primary = PrimaryMonitor(monitors);
  if (form.windowState == WindowState::Maximized) {
    window.bounds = CoveredArea(form, primary != nullptr ? primary->bounds : Rect{}, monitors);
    return;
  }
  std::optional<Rect> ownerBounds;
  if (const Window* ownerWindow = owner != nullptr ? Find(owner->Handle()) : nullptr) {
    if (ownerWindow->visible) ownerBounds = ownerWindow->bounds;
  }
  const Rect area = form.startUpPosition == StartUpPosition::Manual
                        ? Rect{}
                        : CentringArea(form, owner, ownerBounds, monitors, pointer);
  const Monitor* there = MonitorAt(monitors, Point{area.left, area.top});
  const int dpi = there != nullptr ? there->dpi : 96;
  const int width = ToPixels(form.ClientWidth, dpi);
  const int height = ToPixels(form.ClientHeight, dpi);
  const Point at =
      form.startUpPosition == StartUpPosition::Manual ? Point{} : CentredOn(area, width, height);
  window.bounds = Rect{at.x, at.y, at.x + width, at.y + height};
}

void HeadlessBackend::ChangeMonitors(std::vector<Monitor> now) {
  Post([this, now = std::move(now)] {
    monitors = now;
    const Monitor* primary = PrimaryMonitor(monitors);
    for (auto& [hwnd, window] : windows_) {
      if (window.visible && window.form->windowState == WindowState::Maximized) {
        window.bounds =
            CoveredArea(*window.form, primary != nullptr ? primary->bounds : Rect{}, monitors);
      }
    }
  });
}

void HeadlessBackend::Activate(HWnd hwnd) {
  foreground = hwnd;
  if (Window* window = Find(hwnd)) ++window->activations;
}

void HeadlessBackend::SetForegroundWindow(HWnd hwnd) {
  const bool foreign =
      std::find(foreignWindows.begin(), foreignWindows.end(), hwnd) != foreignWindows.end();
  if (foreign || Find(hwnd) != nullptr) Activate(hwnd);
}

bool HeadlessBackend::FormWindowEnabled(Form& form) {
  const Window* window = Find(form.Handle());
  return window != nullptr && window->enabled;
}

void HeadlessBackend::EnableFormWindow(Form& form, bool enable) {
  if (Window* window = Find(form.Handle())) window->enabled = enable;
}

void HeadlessBackend::RunModalLoop(Form& form) {
  Loop([&form] { return form.IsShown(); });
}

void HeadlessBackend::Invalidate(Form& /*form*/, const Control& control) {
  ++invalidations_[&control];
}

// Counted as a repaint of the whole form.
void HeadlessBackend::BackColorChanged(Form& /*form*/) { ++invalidations_[nullptr]; }

std::optional<std::pair<Twips, Twips>> HeadlessBackend::MeasureLabel(Form& /*form*/,
                                                                     const Label& label) {
  if (!labelSize) return std::nullopt;  // no fonts here: labels keep their laid-out size
  return labelSize(label);
}

void HeadlessBackend::UpdateTimer(Form& form, Timer& timer) {
  if (form.IsLoaded() && timer.Enabled && timer.Interval > 0) {
    timers_[&timer] = ArmedTimer{&form, now_ + timer.Interval, ++timerOrder_};
  } else {
    timers_.erase(&timer);
  }
}

// --- process ----------------------------------------------------------------

void HeadlessBackend::RunMessageLoop() {
  Loop([this] { return !quit_; });
}

void HeadlessBackend::QuitWhenIdle() { quit_ = true; }

void HeadlessBackend::End() {
  while (!jobsBeside_.empty()) RunJobBeside();
  throw EndSignal{};
}

void HeadlessBackend::RunBeside(std::function<void()> job) {
  jobsBeside_.push_back(std::move(job));
}

void HeadlessBackend::RunJobBeside() {
  auto job = std::move(jobsBeside_.front());
  jobsBeside_.pop_front();
  if (onJobBeside) onJobBeside();
  job();
}

void HeadlessBackend::DoEvents() {
  while (!posted_.empty()) {
    auto action = std::move(posted_.front());
    posted_.pop_front();
    action();
  }
}

// A message box runs a loop of its own until the user answers it: timers
// go on ticking meanwhile, as they do under a real one.
void HeadlessBackend::MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  msgBoxes.push_back(MsgBoxCall{prompt, buttons, caption, now_});
  RunModalFor(msgBoxOpenMs);
}

void HeadlessBackend::RunModalFor(std::int64_t ms) {
  const std::int64_t closesAt = now_ + ms;
  Loop([this, closesAt] { return now_ < closesAt; }, closesAt);
}

bool HeadlessBackend::PrevInstance(const std::string& /*title*/) { return otherInstanceRunning; }

// --- user32 -----------------------------------------------------------------

std::int32_t HeadlessBackend::GetWindowLongA(HWnd hwnd, std::int32_t index) {
  Window* window = Find(hwnd);
  if (window == nullptr || index != GWL_EXSTYLE) return 0;
  return window->exStyle;
}

std::int32_t HeadlessBackend::SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) {
  Window* window = Find(hwnd);
  if (window == nullptr || index != GWL_EXSTYLE || failWindowCalls) return 0;
  const std::int32_t previous = window->exStyle;
  window->exStyle = value;
  if ((value & WS_EX_LAYERED) == 0) window->layered = false;
  return previous;
}

std::int32_t HeadlessBackend::SetLayeredWindowAttributes(HWnd hwnd, Colour crKey,
                                                         std::uint8_t bAlpha,
                                                         std::int32_t dwFlags) {
  Window* window = Find(hwnd);
  if (window == nullptr || (window->exStyle & WS_EX_LAYERED) == 0 || failWindowCalls) return 0;
  window->layered = true;
  window->colourKey = crKey;
  window->alpha = bAlpha;
  window->layeredFlags = dwFlags;
  ++window->layeredCalls;
  return 1;
}

std::int32_t HeadlessBackend::SetWindowPos(HWnd hwnd, HWnd insertAfter, int /*x*/, int /*y*/,
                                           int /*cx*/, int /*cy*/, std::uint32_t /*flags*/) {
  Window* window = Find(hwnd);
  if (window == nullptr || failWindowCalls) return 0;
  if (insertAfter == HWND_TOPMOST) window->topmost = true;
  if (insertAfter == HWND_NOTOPMOST) window->topmost = false;
  RaiseInBand(hwnd);
  return 1;
}

std::int16_t HeadlessBackend::GetAsyncKeyState(std::int32_t vKey) {
  const bool down = keyDown_[vKey];
  const bool pressed = keyPressedSinceQuery_[vKey];
  keyPressedSinceQuery_[vKey] = false;
  return static_cast<std::int16_t>((down ? 0x8000 : 0) | (pressed ? 1 : 0));
}

// --- services ---------------------------------------------------------------

std::optional<std::string> HeadlessBackend::GetSetting(const std::string& app,
                                                       const std::string& section,
                                                       const std::string& key) {
  if (refuseStoreReads) return std::nullopt;
  auto it = store.find(StoreKey(app, section, key));
  if (it == store.end()) return std::nullopt;
  return it->second;
}

bool HeadlessBackend::SaveSetting(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& value) {
  if (refuseStoreWrites || storeWritesAllowed == 0) return false;
  if (storeWritesAllowed > 0) --storeWritesAllowed;
  store[StoreKey(app, section, key)] = value;
  storeWrites.emplace_back(key, value);
  return true;
}

bool HeadlessBackend::FileExists(const std::string& path) { return files.count(path) != 0; }

bool HeadlessBackend::WriteNewFile(const std::string& path, const std::string& partial,
                                   const std::vector<std::uint8_t>& bytes) {
  if (refuseFileWrites || files.count(partial) != 0) return false;
  if (interruptNextWrite) {
    interruptNextWrite = false;
    files[partial].assign(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
    return false;
  }
  if (files.count(path) != 0) return false;  // the rename never replaces
  files[path] = bytes;
  fileWrites.push_back(path);
  installSteps.push_back("write " + path);
  return true;
}

bool HeadlessBackend::RemoveFile(const std::string& path) {
  if (files.erase(path) == 0) return false;
  fileRemovals.push_back(path);
  return true;
}

std::optional<std::vector<std::uint8_t>> HeadlessBackend::LoadResData(const std::string& name,
                                                                      const std::string& type) {
  auto it = resources.find(Upper(type) + "/" + Upper(name));
  if (it == resources.end()) return std::nullopt;
  return it->second;
}

bool HeadlessBackend::Shell(const std::string& program, const std::string& arguments) {
  shellCalls.push_back(ShellCall{program, arguments});
  installSteps.push_back("start " + program + " " + arguments);
  return !shellFails;
}

bool HeadlessBackend::ShowColorDialog(Form& owner, Colour& colour) {
  ColourAnswer answer;
  if (!colourAnswers_.empty()) {
    answer = colourAnswers_.front();
    colourAnswers_.pop_front();
  }
  if (answer.kind == ColourAnswer::Kind::Fail) return false;
  ++colourDialogsShown_;
  colourDialogOpen_ = true;
  Window* ownerWindow = Find(owner.Handle());
  if (ownerWindow != nullptr) ownerWindow->enabled = false;
  RunModalFor(answer.openMs);
  if (Window* w = Find(owner.Handle())) w->enabled = true;
  colourDialogOpen_ = false;
  if (answer.kind != ColourAnswer::Kind::Confirm) return false;
  colour = answer.colour;
  return true;
}

}  // namespace platform::headless
