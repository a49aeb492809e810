// What a backend supplies to the runtime: native windows for the forms,
// painting, timers, message loops, the five user32 calls and the desktop
// services. The win32 backend is the product; the headless one serves tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/desk.h"
#include "platform/form.h"
#include "platform/types.h"

namespace platform {

class Backend {
 public:
  virtual ~Backend() = default;

  // --- windows of forms -------------------------------------------------
  // Creates the form's window, hidden, from its design-time properties
  // (border, state, client size in twips at the window's DPI, taskbar,
  // icon). Returns its handle, or 0 when no window could be made.
  virtual HWnd CreateFormWindow(Form& form) = 0;
  virtual void DestroyFormWindow(Form& form) = 0;
  // Places the window by its start-up position (over `owner` when it has
  // one) and shows it. A modal form's owner is disabled by RunModalLoop.
  virtual void ShowFormWindow(Form& form, Form* owner) = 0;
  // Runs a nested message loop until `form` is unloaded or hidden; `owner`
  // (may be null) takes no input meanwhile.
  virtual void RunModalLoop(Form& form, Form* owner) = 0;
  // Repaints what `control` covers (the whole client area for null).
  // Called before and after a change, so both old and new places repaint.
  virtual void Invalidate(Form& form, const Control* control) = 0;
  // The size an auto-sized label takes for its caption and font, in twips;
  // nothing when the backend cannot measure text.
  virtual std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) = 0;
  // Arms, re-arms (a fresh interval from now) or stops the timer according
  // to its Enabled and Interval.
  virtual void UpdateTimer(Form& form, Timer& timer) = 0;

  // --- the desk -----------------------------------------------------------
  // The monitors as the system reports them now.
  virtual std::vector<Monitor> Monitors() = 0;
  // Where the mouse pointer is, in pixels of the virtual screen; nothing
  // when that cannot be told.
  virtual std::optional<Point> PointerPosition() = 0;

  // --- process ----------------------------------------------------------
  // Runs the message loop until no form is loaded.
  virtual void RunMessageLoop() = 0;
  // No form is left loaded: the outer message loop ends once idle.
  virtual void QuitWhenIdle() = 0;
  // Stops the program at once; does not return.
  [[noreturn]] virtual void End() = 0;
  virtual void DoEvents() = 0;
  // Runs `job` beside the user-interface thread, so that no window waits
  // for it: on a thread of its own where the backend has threads, started
  // once the message loop first has nothing to do (the windows shown at
  // start have had their first frames), or at once when that was so
  // already. A job uses the desktop services below and never touches a
  // form. End and the end of the message loop run or wait for every job,
  // so none is cut short or left out.
  virtual void RunBeside(std::function<void()> job) = 0;
  virtual void MsgBox(const std::string& prompt, int buttons, const std::string& caption) = 0;
  // True when another instance of the application with this title runs.
  virtual bool PrevInstance(const std::string& title) = 0;
  // The window that has the keyboard now, ours or another program's; 0 for
  // none.
  virtual HWnd ForegroundWindow() = 0;
  // Gives the keyboard to `hwnd` when that window still exists.
  virtual void SetForegroundWindow(HWnd hwnd) = 0;

  // --- user32 -----------------------------------------------------------
  virtual std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) = 0;
  virtual std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) = 0;
  virtual std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                                  std::int32_t dwFlags) = 0;
  virtual std::int32_t SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                                    std::uint32_t flags) = 0;
  virtual std::int16_t GetAsyncKeyState(std::int32_t vKey) = 0;

  // --- services ---------------------------------------------------------
  // Per-user settings: nothing when the key is absent, unreadable or not
  // text; false when the write was refused.
  virtual std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                                const std::string& key) = 0;
  virtual bool SaveSetting(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
  // The system folder as the system reports it (never from the
  // environment); nothing where there is none, as on Linux.
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
  // The system colour dialog, modal over `owner`. On confirmation stores the
  // chosen colour in `colour` and returns true; false when cancelled or when
  // the dialog could not be shown.
  virtual bool ShowColorDialog(Form& owner, Colour& colour) = 0;
};

}  // namespace platform
