// A backend without windows, for tests. The program runs on a thread of its
// own against a virtual clock; the test thread and the program thread take
// turns, so a test reads like a scenario ("at 100 ms press F7, run to
// 5000 ms, check the store") and inspects state only while the program
// waits. Nested modal loops run on the same clock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop_services.h"
#include "platform/runtime.h"
#include "platform/window_system.h"
#include "platform/windows_services.h"

namespace platform::headless {

// Style bits the forms never set themselves but the windows carry.
constexpr std::int32_t WS_EX_NOACTIVATE = 0x08000000;
constexpr std::int32_t WS_EX_APPWINDOW = 0x00040000;

struct Window {
  Form* form = nullptr;
  std::int32_t createdExStyle = 0;
  std::int32_t exStyle = 0;
  bool layered = false;  // layered attributes have been applied
  Colour colourKey = 0;
  std::uint8_t alpha = 0;
  std::int32_t layeredFlags = 0;
  int layeredCalls = 0;
  bool topmost = false;
  bool visible = false;
  bool enabled = true;
  // The owning form's window, or the hidden owner of a form kept out of the
  // taskbar; 0 for none.
  HWnd owner = 0;
  Rect bounds;          // where it was placed, pixels of the virtual screen
  int activations = 0;  // times it became the foreground window
};

struct MsgBoxCall {
  std::string prompt;
  int buttons = 0;
  std::string caption;
  std::int64_t at = 0;
};

struct ShellCall {
  std::string program;
  std::string arguments;
};

// How the next colour dialog ends: after `openMs` of virtual time, confirmed
// with `colour`, or cancelled; or it cannot be shown at all.
struct ColourAnswer {
  enum class Kind { Confirm, Cancel, Fail } kind = Kind::Cancel;
  Colour colour = 0;
  int openMs = 0;

  static ColourAnswer Confirm(Colour c, int openMs = 0) { return {Kind::Confirm, c, openMs}; }
  static ColourAnswer Cancel(int openMs = 0) { return {Kind::Cancel, 0, openMs}; }
  static ColourAnswer Fail() { return {Kind::Fail, 0, 0}; }
};

class HeadlessBackend : public WindowSystem, public DesktopServices, public WindowsServices {
 public:
  HeadlessBackend();
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  // --- driving the program (test thread) --------------------------------
  // Runs `entry` and then the message loop on the program thread, until the
  // program waits for the clock at time 0.
  void Start(std::function<void()> entry);
  void RunUntil(std::int64_t ms);
  void RunFor(std::int64_t ms) { RunUntil(now_ + ms); }
  std::int64_t Now() const { return now_; }
  // Stops the program thread wherever it waits; called by the destructor.
  void Shutdown();
  bool Finished() const { return finished_; }  // the program is over
  bool Ended() const { return ended_; }        // ...through End
  bool QuitRequested() const { return quit_; }

  // Input, delivered now on the program thread (it may open modal loops).
  void Post(std::function<void()> action);
  void Mouse(Form& form, MouseAction action, int button, float x, float y, int shift = 0);
  void Click(Label& label);  // left press and release at the label's centre
  // A key goes down (again while held: a repeat) or up. A press also goes
  // to the form whose window has the keyboard, if one of the program's does.
  void KeyDown(std::int32_t vk);
  void KeyUp(std::int32_t vk);
  void KeyTap(std::int32_t vk);  // down and up between two polls
  void QueueColourAnswer(ColourAnswer answer) { colourAnswers_.push_back(answer); }
  // Monitors added, removed or moved: the system tells the windows, and a
  // maximised one covers its area again.
  void ChangeMonitors(std::vector<Monitor> now);

  // --- what the program did ---------------------------------------------
  const Window* WindowOf(HWnd hwnd) const;
  const Window* WindowOf(const Form& form) const;
  std::vector<HWnd> ZOrder() const { return zOrder_; }  // top first
  int ColourDialogsShown() const { return colourDialogsShown_; }
  bool ColourDialogOpen() const { return colourDialogOpen_; }
  int Invalidations(const Control* control) const;
  // How many windows the form has had: one per load.
  int WindowsCreated(const Form& form) const;
  // The shell's rule: a shown window has a button on the taskbar unless it
  // is owned, a tool window or never activated, or it asks for one.
  bool HasTaskbarButton(HWnd hwnd) const;
  // The window that owns every form kept out of the taskbar, as on
  // Windows; never shown, and 0 until such a form has come.
  HWnd HiddenOwner() const { return hiddenOwner_; }

  // --- the desktop the program sees (set up before Start) ---------------
  bool otherInstanceRunning = false;
  // The desk: one 1024 x 768 monitor unless a test lays out others, and
  // the pointer, when it can be told.
  std::vector<Monitor> monitors = {Monitor{Rect{0, 0, 1024, 768}, 96, true}};
  std::optional<Point> pointer;
  // The size a caption takes in its font; without it labels keep their
  // laid-out size.
  std::function<std::optional<std::pair<Twips, Twips>>(const Label&)> labelSize;
  // How long each message box stays up before the user answers it.
  int msgBoxOpenMs = 0;
  // Windows of other programs (any handle the program's never use), and
  // the window with the keyboard: one of the program's, a foreign one or 0.
  std::vector<HWnd> foreignWindows;
  HWnd foreground = 0;
  // The window calls (SetWindowLongA, SetLayeredWindowAttributes,
  // SetWindowPos) fail and change nothing.
  bool failWindowCalls = false;
  std::map<std::string, std::string> store;                      // "app\section\key" -> text
  std::vector<std::pair<std::string, std::string>> storeWrites;  // key, text, in order
  bool refuseStoreWrites = false;
  // How many more writes the store takes before it refuses (-1: no limit).
  int storeWritesAllowed = -1;
  bool refuseStoreReads = false;
  std::optional<std::string> systemDirectory = "C:\\WINDOWS\\system32";
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> fileWrites;  // targets renamed into place, in order
  std::vector<std::string> fileRemovals;
  bool refuseFileWrites = false;
  // The next write stops half-way, as when the machine goes down: the
  // partial file stays and the target is not made.
  bool interruptNextWrite = false;
  std::map<std::string, std::vector<std::uint8_t>> resources;  // "TYPE/NAME", upper-case
  std::vector<ShellCall> shellCalls;
  // Files renamed into place ("write <path>") and programs started
  // ("start <program> <arguments>"), in the order they happened.
  std::vector<std::string> installSteps;
  // Called on the program thread as each job beside starts.
  std::function<void()> onJobBeside;
  bool shellFails = false;
  std::vector<MsgBoxCall> msgBoxes;

  static std::string StoreKey(const std::string& app, const std::string& section,
                              const std::string& key) {
    return app + "\\" + section + "\\" + key;
  }

  // --- WindowSystem -------------------------------------------------------
  HWnd CreateFormWindow(Form& form) override;
  void DestroyFormWindow(Form& form) override;
  void ShowFormWindow(Form& form, Form* owner) override;
  bool FormWindowEnabled(Form& form) override;
  void EnableFormWindow(Form& form, bool enable) override;
  void RunModalLoop(Form& form) override;
  std::vector<Monitor> Monitors() override { return monitors; }
  std::optional<Point> PointerPosition() override { return pointer; }
  void Invalidate(Form& form, const Control& control) override;
  void BackColorChanged(Form& form) override;
  std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) override;
  void UpdateTimer(Form& form, Timer& timer) override;
  void RunMessageLoop() override;
  void QuitWhenIdle() override;
  [[noreturn]] void End() override;
  void DoEvents() override;
  // The job takes a turn on the program thread once nothing else waits,
  // so a test never races it; End runs the jobs still waiting first.
  void RunBeside(std::function<void()> job) override;
  HWnd ForegroundWindow() override { return foreground; }
  void SetForegroundWindow(HWnd hwnd) override;
  std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) override;
  std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) override;
  std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                          std::int32_t dwFlags) override;
  std::int32_t SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                            std::uint32_t flags) override;
  std::int16_t GetAsyncKeyState(std::int32_t vKey) override;

  // --- DesktopServices -----------------------------------------------------
  std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                        const std::string& key) override;
  bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool PrevInstance(const std::string& title) override;
  void MsgBox(const std::string& prompt, int buttons, const std::string& caption) override;
  bool ShowColorDialog(Form& owner, Colour& colour) override;

  // --- WindowsServices -----------------------------------------------------
  std::optional<std::string> SystemDirectory() override { return systemDirectory; }
  bool FileExists(const std::string& path) override;
  bool WriteNewFile(const std::string& path, const std::string& partial,
                    const std::vector<std::uint8_t>& bytes) override;
  bool RemoveFile(const std::string& path) override;
  std::optional<std::vector<std::uint8_t>> LoadResData(const std::string& name,
                                                       const std::string& type) override;
  bool Shell(const std::string& program, const std::string& arguments) override;

 private:
  struct ArmedTimer {
    Form* form;
    std::int64_t due;
    std::uint64_t order;  // ties fire in the order they were armed
  };

  // Program thread: handles posted input and timers up to the horizon while
  // `keepGoing` holds; waits for the test when there is nothing left to do.
  void Loop(const std::function<bool()>& keepGoing, std::int64_t wakeAt = -1);
  void WaitForTurn();        // program thread gives the turn to the test
  void GiveTurnToProgram();  // test thread
  Window* Find(HWnd hwnd);
  void RaiseInBand(HWnd hwnd);
  void Activate(HWnd hwnd);
  void Place(Window& window, Form& form, Form* owner);
  // Runs the program's loop for `ms` of virtual time, as a system dialog's
  // own message loop would.
  void RunModalFor(std::int64_t ms);
  void RunJobBeside();
  void SendKeyToFocus(std::int32_t vk);

  std::mutex mutex_;
  std::condition_variable turnChanged_;
  bool programsTurn_ = false;
  bool shuttingDown_ = false;
  std::thread thread_;

  std::int64_t now_ = 0;
  std::int64_t horizon_ = 0;
  bool finished_ = false;
  bool ended_ = false;
  bool quit_ = false;
  std::deque<std::function<void()>> posted_;
  std::deque<std::function<void()>> jobsBeside_;
  std::map<Timer*, ArmedTimer> timers_;
  std::uint64_t timerOrder_ = 0;

  std::map<HWnd, Window> windows_;
  std::vector<HWnd> zOrder_;
  HWnd nextHandle_ = 0x100;
  HWnd hiddenOwner_ = 0;
  std::map<std::int32_t, bool> keyDown_;
  std::map<std::int32_t, bool> keyPressedSinceQuery_;
  std::deque<ColourAnswer> colourAnswers_;
  int colourDialogsShown_ = 0;
  bool colourDialogOpen_ = false;
  std::map<const Control*, int> invalidations_;
  std::map<const Form*, int> windowsCreated_;
};

}  // namespace platform::headless
