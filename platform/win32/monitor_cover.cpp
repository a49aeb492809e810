#include "platform/win32/monitor_cover.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/win32/win32_units.h"

namespace platform {

namespace {

// The cover's timers on a window; the forms' timers use their Timer's
// address as id, which is never this small.
constexpr UINT_PTR kCheckTimer = 1;
constexpr UINT_PTR kWatchTimer = 2;
// Checks of a maximised window's cover after it changed size: five of
// them, each wait twice the one before, the first after a quarter second.
constexpr UINT kCheckFirstMs = 250;
constexpr int kChecks = 5;
// How often a form that spans all monitors looks at them: a change is
// covered within two seconds. Each look asks Wine about the monitors, and
// its display cache makes any such question cost the same, so looking more
// often shows in the idle program's CPU time.
constexpr UINT kWatchMs = 1500;
// After a look that changed something, the next looks come this soon (at
// most Spread::kQuickLooks of them in a row) until one finds the monitors
// as it left them: a window made for a monitor that has just come can be
// put on another one by the window manager, which learns of the monitor
// after Wine does, and only the next look puts it back.
constexpr UINT kQuickMs = 250;

std::vector<RECT> MonitorRects() {
  std::vector<RECT> monitors;
  ::EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, LPRECT area, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<RECT>*>(data)->push_back(*area);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

bool Same(const std::vector<RECT>& a, const std::vector<RECT>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const RECT& x, const RECT& y) { return ::EqualRect(&x, &y) != FALSE; });
}

}  // namespace

MonitorCover::MonitorCover(HINSTANCE instance, const wchar_t* windowClass,
                           std::function<HWND()> owner)
    : instance_(instance), windowClass_(windowClass), owner_(std::move(owner)) {}

std::vector<Monitor> MonitorCover::Monitors() {
  std::vector<Monitor> monitors;
  const int dpi = win32::WindowDpi(nullptr);
  ::EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (::GetMonitorInfoW(monitor, &info) != FALSE) {
          auto* list = reinterpret_cast<std::vector<Monitor>*>(data);
          list->push_back(Monitor{win32::FromRECT(info.rcMonitor), 0,
                                  (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  // Each window takes its own monitor's DPI from the system as it moves
  // there (WM_DPICHANGED); the system's serves for the rest.
  for (Monitor& monitor : monitors) monitor.dpi = dpi;
  return monitors;
}

// The whole monitor, taskbar included, for a borderless window (the overlay
// and each of its extra windows). One with a frame is maximised to the work
// area with its frame outside it, and that is left to the system.
std::optional<RECT> MonitorCover::MonitorOf(HWND hwnd) {
  if (::IsZoomed(hwnd) == FALSE) return std::nullopt;
  const auto style = static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_STYLE));
  if ((style & (WS_CAPTION | WS_THICKFRAME)) != 0) return std::nullopt;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info) == FALSE) {
    return std::nullopt;
  }
  return info.rcMonitor;
}

// After a change of resolution, or of the monitor layout, the system does
// not always size a maximised window again, and a tint that stops short of
// the screen's edge shows. The Z order stays: the overlay keeps its place
// in the topmost band, and nothing is activated. The frame change makes the
// system take the window's surface to the new size and repaint it (Wine
// keeps a surface cut to the screen it was made for).
void MonitorCover::CoverMonitor(HWND hwnd, bool refreshInPlace) {
  const std::optional<RECT> area = MonitorOf(hwnd);
  if (!area) return;
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;
  checks_[hwnd].monitor = *area;
  if (::EqualRect(&now, &*area) != FALSE) {
    if (!refreshInPlace) return;
    flags |= SWP_NOMOVE | SWP_NOSIZE;
  }
  ::SetWindowPos(hwnd, nullptr, area->left, area->top, area->right - area->left,
                 area->bottom - area->top, flags);
}

// The monitor rectangle can lag behind the change itself. Under Wine a new
// resolution set on the X server reaches the window first as a resize by the
// window manager, while the monitor list still has the old size, and no
// WM_DISPLAYCHANGE follows when the list catches up. So after a maximised
// window changes size its cover is checked a few times over some seconds.
void MonitorCover::CheckSoon(HWND hwnd) {
  const std::optional<RECT> area = MonitorOf(hwnd);
  if (!area) return;
  auto [it, fresh] = checks_.try_emplace(hwnd);
  Check& check = it->second;
  if (fresh) check.monitor = *area;
  check.step = 0;
  check.mismatches = 0;
  ::SetTimer(hwnd, kCheckTimer, kCheckFirstMs, nullptr);
}

void MonitorCover::OnCheck(HWND hwnd) {
  ::KillTimer(hwnd, kCheckTimer);
  auto it = checks_.find(hwnd);
  const std::optional<RECT> area = MonitorOf(hwnd);
  if (it == checks_.end() || !area) return;
  Check& check = it->second;
  const bool again = ++check.step < kChecks;
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  if (::EqualRect(&now, &*area) != FALSE) {
    check.mismatches = 0;
    // In place, but on a monitor that changed since the last look: the
    // window's surface may still have the old size.
    if (::EqualRect(&check.monitor, &*area) == FALSE) {
      check.monitor = *area;
      ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
  } else if (++check.mismatches >= 2) {
    // Two looks in a row found the window off its monitor: the monitor
    // list is not just lagging behind the window manager. The resize
    // starts the checks again.
    CoverMonitor(hwnd);
    return;
  }
  if (again) ::SetTimer(hwnd, kCheckTimer, kCheckFirstMs << check.step, nullptr);
}

// Monitors come, go and move without Wine telling the windows (it sends no
// WM_DISPLAYCHANGE for them): a form that spans them all looks every
// kWatchMs whether its windows still cover them.
void MonitorCover::Shown(Form& form, HWND main) {
  if (!form.SpansAllMonitors) return;
  Spread& spread = spreads_[main];
  spread.form = &form;
  PlaceExtraWindows(main, spread);
  ::SetTimer(main, kWatchTimer, kWatchMs, nullptr);
}

void MonitorCover::MonitorsChanged(HWND main) {
  if (auto it = spreads_.find(main); it != spreads_.end()) PlaceExtraWindows(main, it->second);
}

void MonitorCover::Restyled(HWND main, int index, LONG value) {
  auto it = spreads_.find(main);
  if (it == spreads_.end()) return;
  const LONG kept = index == GWL_STYLE ? WS_DISABLED : 0;
  for (HWND extra : it->second.extra) ::SetWindowLongA(extra, index, value | kept);
}

void MonitorCover::OpacitySet(HWND main, COLORREF key, BYTE alpha, DWORD flags) {
  auto it = spreads_.find(main);
  if (it == spreads_.end()) return;
  for (HWND extra : it->second.extra) ::SetLayeredWindowAttributes(extra, key, alpha, flags);
}

// The extra windows follow in the Z order only; each keeps its place.
void MonitorCover::Restacked(HWND main, HWND insertAfter, UINT flags) {
  auto it = spreads_.find(main);
  if (it == spreads_.end() || (flags & SWP_NOZORDER) != 0) return;
  for (HWND extra : it->second.extra) {
    ::SetWindowPos(extra, insertAfter, 0, 0, 0, 0,
                   flags | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void MonitorCover::Repaint(HWND main) {
  auto it = spreads_.find(main);
  if (it == spreads_.end()) return;
  for (HWND extra : it->second.extra) ::InvalidateRect(extra, nullptr, FALSE);
}

HWND MonitorCover::WindowOn(HWND main, HWND hwnd) const {
  auto it = spreads_.find(main);
  if (it == spreads_.end()) return main;
  HMONITOR monitor = ::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
  for (HWND extra : it->second.extra) {
    if (::MonitorFromWindow(extra, MONITOR_DEFAULTTONULL) == monitor) return extra;
  }
  return main;
}

bool MonitorCover::OnTimer(HWND hwnd, UINT_PTR id) {
  if (id == kCheckTimer) {
    OnCheck(hwnd);
    return true;
  }
  if (id == kWatchTimer) {
    if (auto it = spreads_.find(hwnd); it != spreads_.end()) {
      OnWatch(hwnd, it->second);
    } else {
      ::KillTimer(hwnd, kWatchTimer);
    }
    return true;
  }
  return false;
}

void MonitorCover::WindowGone(HWND hwnd) {
  checks_.erase(hwnd);
  auto it = spreads_.find(hwnd);
  if (it != spreads_.end()) {
    // Out of the list first: each of them comes back here as it goes.
    const std::vector<HWND> extra = std::move(it->second.extra);
    spreads_.erase(it);
    for (HWND window : extra) DestroyExtraWindow(window, hwnd);
    return;
  }
  for (auto& [main, spread] : spreads_) {
    auto& windows = spread.extra;
    windows.erase(std::remove(windows.begin(), windows.end(), hwnd), windows.end());
  }
}

std::vector<RECT> MonitorCover::WhereAll(HWND main, const Spread& spread) {
  std::vector<RECT> rects(1);
  ::GetWindowRect(main, rects.data());
  for (HWND extra : spread.extra) {
    rects.emplace_back();
    ::GetWindowRect(extra, &rects.back());
  }
  return rects;
}

// Nearly every look finds the monitors as they were. Each question about
// them costs Wine trips to its server, so one enumeration of the monitors'
// rectangles and where the windows are, against the last look, decide
// whether the whole check runs.
void MonitorCover::OnWatch(HWND main, Spread& spread) {
  std::vector<RECT> monitors = MonitorRects();
  if (spread.looked && Same(monitors, spread.monitors) &&
      Same(WhereAll(main, spread), spread.windows)) {
    if (spread.quick) ::SetTimer(main, kWatchTimer, kWatchMs, nullptr);
    spread.quick = false;
    spread.quickLooksLeft = Spread::kQuickLooks;
    return;
  }

  const std::optional<RECT> area = MonitorOf(main);
  RECT now{};
  if (area && ::GetWindowRect(main, &now) != FALSE && ::EqualRect(&now, &*area) == FALSE) {
    CoverMonitor(main);
  }
  PlaceExtraWindows(main, spread);
  spread.looked = true;
  spread.monitors = std::move(monitors);
  spread.windows = WhereAll(main, spread);
  // Should the window manager keep moving a window, the quick looks run
  // out and the watch goes back to its pace.
  const bool quick = spread.quickLooksLeft > 0;
  if (quick) --spread.quickLooksLeft;
  if (quick != spread.quick) {
    ::SetTimer(main, kWatchTimer, quick ? kQuickMs : kWatchMs, nullptr);
    spread.quick = quick;
  }
}

void MonitorCover::PlaceExtraWindows(HWND main, Spread& spread) {
  MONITORINFO own{};
  own.cbSize = sizeof own;
  if (::GetMonitorInfoW(::MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &own) == FALSE) {
    return;
  }
  std::vector<Rect> others;
  for (const Monitor& monitor : Monitors()) {
    if (!(monitor.bounds == win32::FromRECT(own.rcMonitor))) others.push_back(monitor.bounds);
  }
  std::vector<HWND>& extra = spread.extra;
  while (extra.size() > others.size()) {
    HWND gone = extra.back();
    extra.pop_back();
    DestroyExtraWindow(gone, main);
  }
  for (std::size_t i = 0; i < others.size(); ++i) {
    const RECT area = win32::ToRECT(others[i]);
    if (i == extra.size()) {
      HWND window = MakeExtraWindow(*spread.form, main, area);
      if (window == nullptr) return;
      extra.push_back(window);
      continue;
    }
    RECT now{};
    ::GetWindowRect(extra[i], &now);
    if (::EqualRect(&now, &area) == FALSE) {
      ::SetWindowPos(extra[i], nullptr, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
  }
}

void MonitorCover::DestroyExtraWindow(HWND extra, HWND main) {
  struct Handover {
    HWND from;
    HWND to;
  } handover{extra, main};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        const auto* h = reinterpret_cast<const Handover*>(data);
        if (::GetWindow(window, GW_OWNER) == h->from) {
          ::SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(h->to));
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&handover));
  ::DestroyWindow(extra);
}

HWND MonitorCover::MakeExtraWindow(Form& form, HWND main, const RECT& area) {
  // Disabled: a window may be owned by an extra window (WindowOn), and the
  // system never hands the activation to a disabled owner when that window
  // goes; the tint takes no input anyway.
  const auto style =
      (static_cast<DWORD>(::GetWindowLongW(main, GWL_STYLE)) & ~WS_VISIBLE) | WS_DISABLED;
  const auto exStyle = static_cast<DWORD>(::GetWindowLongW(main, GWL_EXSTYLE));
  HWND window = ::CreateWindowExW(exStyle, windowClass_, win32::Widen(form.Caption).c_str(), style,
                                  area.left, area.top, area.right - area.left,
                                  area.bottom - area.top, owner_(), nullptr, instance_, nullptr);
  if (window == nullptr) return nullptr;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&form));
  COLORREF key = 0;
  BYTE alpha = 255;
  DWORD flags = 0;
  if ((exStyle & WS_EX_LAYERED) != 0 &&
      ::GetLayeredWindowAttributes(main, &key, &alpha, &flags) != FALSE) {
    ::SetLayeredWindowAttributes(window, key, alpha, flags);
  }
  const bool topmost = (exStyle & WS_EX_TOPMOST) != 0;
  const bool visible = ::IsWindowVisible(main) != FALSE;
  ::SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | (visible ? SWP_SHOWWINDOW : 0));
  return window;
}

}  // namespace platform
