// What every backend supplies for the forms: native windows, painting,
// timers, message loops, the monitors and the pointer, the keyboard focus,
// the five user32 calls and the end of the process. The runtime drives it;
// the forms never call it directly.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/desk.h"
#include "platform/form.h"
#include "platform/types.h"

namespace platform {

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // --- windows of forms -------------------------------------------------
  // Creates the form's window, hidden, from its design-time properties
  // (border, state, client size in twips at the window's DPI, taskbar,
  // icon). Returns its handle, or 0 when no window could be made.
  virtual HWnd CreateFormWindow(Form& form) = 0;
  virtual void DestroyFormWindow(Form& form) = 0;
  // Places the window by its start-up position (over `owner` when it has
  // one) and shows it.
  virtual void ShowFormWindow(Form& form, Form* owner) = 0;
  // Whether the window takes pointer and keyboard input; a modal form's
  // owner takes none while the form is up (the runtime decides when).
  virtual bool FormWindowEnabled(Form& form) = 0;
  virtual void EnableFormWindow(Form& form, bool enable) = 0;
  // Runs a nested message loop until `form` is unloaded or hidden.
  virtual void RunModalLoop(Form& form) = 0;
  // Repaints what `control` covers. Called before and after a change, so
  // both old and new places repaint.
  virtual void Invalidate(Form& form, const Control& control) = 0;
  // The form's back colour changed: its whole window repaints, and where
  // the form is the overlay, its tint takes the new colour on every
  // monitor, whatever carries it.
  virtual void BackColorChanged(Form& form) = 0;
  // The size an auto-sized label takes for its caption and font, in twips;
  // nothing when the backend cannot measure text.
  virtual std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) = 0;
  // Arms, re-arms (a fresh interval from now) or stops the timer according
  // to its Enabled and Interval.
  virtual void UpdateTimer(Form& form, Timer& timer) = 0;

  // --- monitors and focus ------------------------------------------------
  // The monitors as the system reports them now.
  virtual std::vector<Monitor> Monitors() = 0;
  // Where the mouse pointer is, in pixels of the virtual screen; nothing
  // when that cannot be told.
  virtual std::optional<Point> PointerPosition() = 0;
  // The window that has the keyboard now, ours or another program's; 0 for
  // none.
  virtual HWnd ForegroundWindow() = 0;
  // Gives the keyboard to `hwnd` when that window still exists.
  virtual void SetForegroundWindow(HWnd hwnd) = 0;

  // --- loops and the process ---------------------------------------------
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
  // already. A job uses the services (desktop_services.h,
  // windows_services.h) and never touches a form. End and the end of the
  // message loop run or wait for every job, so none is cut short or left
  // out.
  virtual void RunBeside(std::function<void()> job) = 0;

  // --- user32 -----------------------------------------------------------
  virtual std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) = 0;
  virtual std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) = 0;
  virtual std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                                  std::int32_t dwFlags) = 0;
  virtual std::int32_t SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                                    std::uint32_t flags) = 0;
  virtual std::int16_t GetAsyncKeyState(std::int32_t vKey) = 0;
};

}  // namespace platform
