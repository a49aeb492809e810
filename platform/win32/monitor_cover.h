// The overlay over every monitor, and every maximised window over the whole
// of its own one.
#pragma once

#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/desk.h"
#include "platform/form.h"
#include "platform/win32/win32_handles.h"

namespace platform {

// A form that spans all monitors has its own window on one monitor and one
// extra window for each other monitor, all kept alike (style word, layered
// attributes, place in the Z order, colour), so that its one hWnd speaks for
// all of them: window managers under Wine confine a full-screen window to
// one monitor, and each window takes its own monitor's DPI. A monitor watch
// keeps the extra windows on the monitors as they come, go and move, and
// every maximised window without a frame is checked to cover its monitor
// after the screen changes.
//
// The backend tells the cover what happens to a form's window by explicit
// calls; the cover keeps timers of its own on the windows it looks after
// (OnTimer) and must hear of every window that goes (WindowGone).
class MonitorCover {
 public:
  // Extra windows are made of `windowClass`, owned by the window `owner`
  // gives, and carry their form in GWLP_USERDATA as the form's own window
  // does: they paint and answer messages as the form.
  MonitorCover(HINSTANCE instance, const wchar_t* windowClass, std::function<HWND()> owner);
  MonitorCover(const MonitorCover&) = delete;
  MonitorCover& operator=(const MonitorCover&) = delete;

  // The monitors as the system reports them now.
  static std::vector<Monitor> Monitors();

  // --- any maximised window without a frame ---------------------------------
  // Moves the window over its whole monitor. One in place already gets its
  // frame worked out again (its surface may still have an old size) when
  // `refreshInPlace`, and is left alone otherwise.
  void CoverMonitor(HWND hwnd, bool refreshInPlace = true);
  // The window changed size, or the screen did: its cover is checked a few
  // times over the next seconds.
  void CheckSoon(HWND hwnd);

  // --- a form that spans all monitors, through its own window `main` --------
  // The form's window is on screen: the extra windows come, and the watch
  // starts. Nothing for a form that does not span all monitors.
  void Shown(Form& form, HWND main);
  // The system says the monitors changed.
  void MonitorsChanged(HWND main);
  // The form's window took a new style word, layered attributes, place in
  // the Z order (flags as SetWindowPos had them) or colour: so do the extra
  // windows. Nothing for any other window.
  void Restyled(HWND main, int index, LONG value);
  void OpacitySet(HWND main, COLORREF key, BYTE alpha, DWORD flags);
  void Restacked(HWND main, HWND insertAfter, UINT flags);
  void Repaint(HWND main);
  // The window of main's form on the monitor that holds most of `hwnd`:
  // one of its extra windows, or main itself. A window shown over the form
  // is owned by that one, so that it stays above the tint of its monitor;
  // an extra window that goes hands the windows it owns to main.
  HWND WindowOn(HWND main, HWND hwnd) const;

  // A timer the cover set on `hwnd` went off; false when `id` is not one of
  // its own.
  bool OnTimer(HWND hwnd, UINT_PTR id);
  // The window is being destroyed: whatever was kept about it goes, and the
  // form's own window takes its extra windows along.
  void WindowGone(HWND hwnd);

 private:
  // A window whose cover of its monitor is being checked: the monitor as
  // last seen, checks done, and how many of them in a row found the window
  // off the monitor.
  struct Check {
    RECT monitor{};
    int step = 0;
    int mismatches = 0;
  };
  // The own window of a form that spans all monitors: the form, its extra
  // windows, and what the watch saw last (the monitors, where those windows
  // were, whether it looks quickly now and how many quick looks are left).
  struct Spread {
    static constexpr int kQuickLooks = 8;
    Form* form = nullptr;
    std::vector<HWND> extra;
    bool looked = false;
    std::vector<RECT> monitors;
    std::vector<RECT> windows;
    bool quick = false;
    int quickLooksLeft = kQuickLooks;
  };

  // The rectangle a maximised window without a frame covers.
  static std::optional<RECT> MonitorOf(HWND hwnd);
  void OnCheck(HWND hwnd);
  void OnWatch(HWND main, Spread& spread);
  // One extra window on each monitor but the main window's own.
  void PlaceExtraWindows(HWND main, Spread& spread);
  HWND MakeExtraWindow(Form& form, HWND main, const RECT& area);
  // Destroys an extra window; the windows it owns are main's first, so
  // they do not go with it.
  static void DestroyExtraWindow(HWND extra, HWND main);
  // The main window and its extra windows, where they are now.
  static std::vector<RECT> WhereAll(HWND main, const Spread& spread);

  HINSTANCE instance_;
  const wchar_t* windowClass_;
  std::function<HWND()> owner_;
  std::unordered_map<HWND, Check> checks_;
  std::unordered_map<HWND, Spread> spreads_;
};

}  // namespace platform
