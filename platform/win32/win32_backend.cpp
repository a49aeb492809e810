// Windows of forms, input, timers and message loops. Painting lives in
// win32_backend_paint.cpp, the desktop services in win32_backend_services.cpp; the overlay's
// cover of every monitor is a MonitorCover, the message pump message_pump.h.
#include "platform/win32/win32_backend.h"

#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "platform/runtime.h"
#include "platform/win32/message_pump.h"

namespace platform {

Win32Backend* Win32Backend::active_ = nullptr;

namespace {

constexpr wchar_t kFormClass[] = L"NightModeForm";

// Posted to a form's window once it is shown: its icons are set then.
// (WM_APP + 2 is the message pump's.)
constexpr UINT kSetIconsMessage = WM_APP + 1;

HWND AsHwnd(HWnd handle) { return reinterpret_cast<HWND>(handle); }

DWORD StyleFor(const Form& form) {
  const bool titled = !form.Caption.empty();
  DWORD style = WS_POPUP | WS_CLIPSIBLINGS;
  switch (form.borderStyle) {
    case BorderStyle::None:
      break;
    case BorderStyle::FixedSingle:
      style |= titled ? (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) : WS_BORDER;
      break;
    case BorderStyle::Sizable:
      style |= WS_THICKFRAME |
               (titled ? (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX) : 0);
      break;
    case BorderStyle::FixedDialog:
      // Without a caption the dialog frame stays and the title bar goes.
      style |= titled ? (WS_CAPTION | WS_SYSMENU) : WS_DLGFRAME;
      break;
  }
  return style;
}

// Forms kept out of the taskbar are owned by a hidden window instead of
// being tool windows: an owned window has no taskbar button either, but
// window managers treat it as an ordinary window that takes the focus when
// shown (X window managers under Wine leave tool windows unfocused, and then
// a full-screen window would stack above them).
// A form that never takes the keyboard is never activated by the system
// either: not by a click, not when the active window goes.
DWORD ExStyleFor(const Form& form) {
  return (form.borderStyle == BorderStyle::FixedDialog ? WS_EX_DLGMODALFRAME : 0) |
         (form.TakesKeyboard ? 0 : WS_EX_NOACTIVATE);
}

int ButtonsOf(WPARAM wParam) {
  return MouseButtons((wParam & MK_LBUTTON) != 0, (wParam & MK_RBUTTON) != 0,
                      (wParam & MK_MBUTTON) != 0);
}

int ShiftOf(WPARAM wParam) {
  return ShiftState((wParam & MK_SHIFT) != 0, (wParam & MK_CONTROL) != 0,
                    ::GetKeyState(VK_MENU) < 0);
}

// Gives the keyboard to a window of ours that keys pressed in another
// program brought up: the system keeps the foreground with the program that
// had the last input unless, for the moment of the request, this thread
// shares that thread's input state.
void TakeKeyboard(HWND hwnd) {
  HWND current = ::GetForegroundWindow();
  const DWORD theirs = current != nullptr ? ::GetWindowThreadProcessId(current, nullptr) : 0;
  const DWORD ours = ::GetCurrentThreadId();
  const bool shared =
      theirs != 0 && theirs != ours && ::AttachThreadInput(ours, theirs, TRUE) != FALSE;
  ::SetForegroundWindow(hwnd);
  if (shared) ::AttachThreadInput(ours, theirs, FALSE);
}

// A key goes down on a form's window, or repeats while held. A repeat that
// a newer one of the same key already waits behind is dropped, so a held
// key stops where the user saw it when let go, however slow the screen.
void OnKeyDown(Form& form, HWND hwnd, WPARAM wParam, LPARAM lParam) {
  constexpr LPARAM kWasDown = LPARAM{1} << 30;
  MSG next{};
  if ((lParam & kWasDown) != 0 &&
      ::PeekMessageW(&next, hwnd, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE) != FALSE &&
      next.wParam == wParam) {
    return;
  }
  const int shift = ShiftState(::GetKeyState(VK_SHIFT) < 0, ::GetKeyState(VK_CONTROL) < 0,
                               ::GetKeyState(VK_MENU) < 0);
  Runtime::Get().DeliverKey(form, static_cast<int>(wParam), shift);
}

}  // namespace

Win32Backend::Win32Backend()
    : instance_(::GetModuleHandleW(nullptr)),
      cover_(instance_, kFormClass, [this] { return HiddenOwner(); }),
      jobsBeside_(
          [](JobsBeside::Job* job) -> void* {
            return ::CreateThread(
                nullptr, 0,
                [](LPVOID owned) -> DWORD {
                  JobsBeside::RunOwned(owned);
                  return 0;
                },
                job, 0, nullptr);
          },
          [](void* thread) {
            const win32::UniqueHandle owned(static_cast<HANDLE>(thread));
            ::WaitForSingleObject(owned.get(), INFINITE);
          }) {
  active_ = this;
  std::fill(std::begin(customColours_), std::end(customColours_), RGB(255, 255, 255));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  // Double-clicks arrive as such only with CS_DBLCLKS. No background brush:
  // WM_PAINT fills everything, from a back buffer.
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = &Win32Backend::WindowProc;
  wc.hInstance = instance_;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kFormClass;
  windowClass_ = ::RegisterClassExW(&wc);
}

Win32Backend::~Win32Backend() {
  jobsBeside_.Finish();
  for (const auto& [form, hwnd] : windows_) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd);
  }
  windows_.clear();
  if (hiddenOwner_ != nullptr) ::DestroyWindow(hiddenOwner_);
  if (windowClass_ != 0) ::UnregisterClassW(kFormClass, instance_);
  if (active_ == this) active_ = nullptr;
}

HWND Win32Backend::HiddenOwner() {
  if (hiddenOwner_ == nullptr && windowClass_ != 0) {
    hiddenOwner_ = ::CreateWindowExW(0, kFormClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     instance_, nullptr);
  }
  return hiddenOwner_;
}

HWND Win32Backend::WindowOf(const Form& form) const {
  auto it = windows_.find(&form);
  if (it != windows_.end()) return it->second;
  return AsHwnd(form.Handle());
}

void Win32Backend::ForgetWindow(HWND hwnd, const Form& form) {
  if (auto it = windows_.find(&form); it != windows_.end() && it->second == hwnd) {
    windows_.erase(it);
  }
  for (auto it = armedTimers_.begin(); it != armedTimers_.end();) {
    it = it->second == hwnd ? armedTimers_.erase(it) : std::next(it);
  }
  buttonsHeld_.erase(hwnd);
  cover_.WindowGone(hwnd);
}

// --- windows of forms -----------------------------------------------------

HWnd Win32Backend::CreateFormWindow(Form& form) {
  if (windowClass_ == 0) return 0;
  const std::wstring caption = win32::Widen(form.Caption);
  // The real size needs the window's DPI, known once the window exists.
  HWND owner = form.ShowInTaskbar ? nullptr : HiddenOwner();
  DWORD style = StyleFor(form);
  // A maximised form without a frame is made maximised, over the primary
  // monitor, in one step: under Wine every later move or resize before the
  // first frame is another trip to the server and the X window.
  RECT area{};
  if (form.windowState == WindowState::Maximized && (style & (WS_CAPTION | WS_THICKFRAME)) == 0) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info) !=
        FALSE) {
      style |= WS_MAXIMIZE;
      area = info.rcMonitor;
    }
  }
  HWND hwnd = ::CreateWindowExW(ExStyleFor(form), kFormClass, caption.c_str(), style, area.left,
                                area.top, area.right - area.left, area.bottom - area.top, owner,
                                nullptr, instance_, &form);
  if (hwnd == nullptr) return 0;
  if ((style & WS_MAXIMIZE) == 0) SizeToClient(form, hwnd);
  return reinterpret_cast<HWnd>(hwnd);
}

// The form's icons reach its window once the window's first frame is on
// the screen (ShowFormWindow posts kSetIconsMessage): under Wine each one
// becomes an X property, work that no first frame needs.
void Win32Backend::SetIcons(const Form& form, HWND hwnd) {
  if (form.IconResource == 0 || ::SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0) != 0) return;
  const auto* id = MAKEINTRESOURCEW(form.IconResource);
  auto big =
      static_cast<HICON>(::LoadImageW(instance_, id, IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                      ::GetSystemMetrics(SM_CYICON), LR_SHARED));
  auto small =
      static_cast<HICON>(::LoadImageW(instance_, id, IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                      ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  if (big != nullptr) ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (small != nullptr) {
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  }
}

// Sizes the window so that its client area is the form's client size.
void Win32Backend::SizeToClient(Form& form, HWND hwnd) {
  const SIZE size = WindowSizeFor(form, hwnd, win32::WindowDpi(hwnd));
  ::SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE Win32Backend::WindowSizeFor(const Form& form, HWND hwnd, int dpi) {
  RECT rect{0, 0, win32::ToPixels(form.ClientWidth, dpi), win32::ToPixels(form.ClientHeight, dpi)};
  const auto style = static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(::GetWindowLongW(hwnd, GWL_EXSTYLE));
  win32::AdjustWindowRectForDpi(rect, style, exStyle, dpi);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void Win32Backend::DestroyFormWindow(Form& form) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  // The form is unloaded already: a press the capture loss ends reaches no
  // event. WM_NCDESTROY forgets the window (ForgetWindow), whoever
  // destroys it.
  if (::GetCapture() == hwnd) ::ReleaseCapture();
  ::DestroyWindow(hwnd);
}

void Win32Backend::ShowFormWindow(Form& form, Form* owner) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  if (::IsWindowVisible(hwnd) != FALSE) {
    // Showing a form that is up already only brings it forward.
    ::SetForegroundWindow(hwnd);
    return;
  }
  HWND ownerHwnd = owner != nullptr ? WindowOf(*owner) : nullptr;
  if (form.windowState == WindowState::Normal && form.startUpPosition != StartUpPosition::Manual) {
    RECT window{};
    ::GetWindowRect(hwnd, &window);
    std::optional<Rect> ownerBounds;
    RECT ownerRect{};
    if (ownerHwnd != nullptr && ::IsIconic(ownerHwnd) == FALSE &&
        ::GetWindowRect(ownerHwnd, &ownerRect) != FALSE) {
      ownerBounds = win32::FromRECT(ownerRect);
    }
    const Rect area = CentringArea(form, owner, ownerBounds, Monitors(), PointerPosition());
    const Point at = CentredOn(area, window.right - window.left, window.bottom - window.top);
    ::SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (ownerHwnd != nullptr) {
    // GWLP_HWNDPARENT of a top-level window is its owner: it stays above it.
    // Over a form that spans all monitors that is the form's window on this
    // window's monitor, so the window is above the tint wherever it opens:
    // X window managers keep a window above its owner, but not above a
    // full-screen window on another monitor than the one with the focus.
    ::SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT,
                        reinterpret_cast<LONG_PTR>(cover_.WindowOn(ownerHwnd, hwnd)));
  }

  if (form.windowState == WindowState::Maximized) {
    if (form.TakesKeyboard) {
      ::ShowWindow(hwnd, SW_SHOWMAXIMIZED);
      cover_.CoverMonitor(hwnd);
    } else {
      // Every maximising show command activates the window. One that never
      // takes the keyboard is marked maximised, placed over its monitor and
      // shown as it is: never activated, even for a moment (under Wine an
      // activation wakes the input method, which loads COM before the
      // first frame).
      const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
      if ((style & WS_MAXIMIZE) == 0) ::SetWindowLongPtrW(hwnd, GWL_STYLE, style | WS_MAXIMIZE);
      cover_.CoverMonitor(hwnd, false);  // made over it, as a rule: nothing to do
      ::ShowWindow(hwnd, SW_SHOWNA);
    }
  } else if (form.windowState == WindowState::Minimized) {
    ::ShowWindow(hwnd, SW_SHOWMINIMIZED);
  } else {
    ::ShowWindow(hwnd, form.TakesKeyboard ? SW_SHOW : SW_SHOWNA);
    // A form shown over its owner (the panel) takes the keyboard.
    if (ownerHwnd != nullptr && form.TakesKeyboard) TakeKeyboard(hwnd);
  }
  ::UpdateWindow(hwnd);
  win32::PresentNow();
  // What the first frame does not need comes after it: the windows on the
  // other monitors, and the icons.
  if (form.windowState == WindowState::Maximized) cover_.Shown(form, hwnd);
  if (form.IconResource != 0) ::PostMessageW(hwnd, kSetIconsMessage, 0, 0);
}

bool Win32Backend::FormWindowEnabled(Form& form) {
  HWND hwnd = WindowOf(form);
  return hwnd != nullptr && ::IsWindowEnabled(hwnd) != FALSE;
}

void Win32Backend::EnableFormWindow(Form& form, bool enable) {
  if (HWND hwnd = WindowOf(form)) ::EnableWindow(hwnd, enable ? TRUE : FALSE);
}

void Win32Backend::RunModalLoop(Form& form) {
  while (form.IsShown()) {
    if (!win32::PumpOne(true)) break;
  }
}

void Win32Backend::Invalidate(Form& form, const Control& control) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  const RECT bounds = ControlBounds(hwnd, control, win32::WindowDpi(hwnd));
  if (::IsRectEmpty(&bounds) == FALSE) ::InvalidateRect(hwnd, &bounds, FALSE);
}

void Win32Backend::BackColorChanged(Form& form) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  ::InvalidateRect(hwnd, nullptr, FALSE);
  cover_.Repaint(hwnd);
}

void Win32Backend::UpdateTimer(Form& form, Timer& timer) {
  HWND hwnd = WindowOf(form);
  const auto id = reinterpret_cast<UINT_PTR>(&timer);
  auto it = armedTimers_.find(&timer);
  if (form.IsLoaded() && hwnd != nullptr && timer.Enabled && timer.Interval > 0) {
    if (it != armedTimers_.end() && it->second != hwnd) ::KillTimer(it->second, id);
    // SetTimer on an armed id starts a fresh interval from now.
    if (::SetTimer(hwnd, id, static_cast<UINT>(timer.Interval.get()), nullptr) != 0) {
      armedTimers_[&timer] = hwnd;
    } else if (it != armedTimers_.end()) {
      armedTimers_.erase(&timer);
    }
  } else if (it != armedTimers_.end()) {
    ::KillTimer(it->second, id);
    armedTimers_.erase(it);
  }
}

// --- messages ---------------------------------------------------------------

// The messages that ask the whole program to stop, to any window of ours:
// a close message to a window that cannot close on its own (the hidden
// owner; a disabled window: the overlay's extra windows, a window under a
// modal one), and the session ending at logoff or shutdown, which the
// process will not outlive. Each is an orderly end, never a window gone
// behind the program's back.
std::optional<LRESULT> Win32Backend::OnStopMessage(UINT msg, WPARAM wParam) {
  switch (msg) {
    case WM_CLOSE:
      Runtime::Get().DeliverEndRequest();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) Runtime::Get().DeliverEndRequest();
      return 0;
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK Win32Backend::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* form = static_cast<Form*>(create->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    if (active_ != nullptr && form != nullptr) active_->windows_[form] = hwnd;
  }
  auto* form = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr && active_ != nullptr && hwnd == active_->hiddenOwner_) {
    // The hidden owner of our windows: closing it would take every window
    // it owns along with it, behind the program's back.
    if (const auto answer = OnStopMessage(msg, wParam)) return *answer;
  }
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (active_ != nullptr && form != nullptr) active_->ForgetWindow(hwnd, *form);
  } else if (form != nullptr && active_ != nullptr) {
    return active_->OnMessage(*form, hwnd, msg, wParam, lParam);
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Win32Backend::OnMessage(Form& form, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers everything; erasing first would flicker
    case WM_PAINT:
      // Before the paint begins: labels that take a new size add their
      // places to this paint, not to another.
      Runtime::Get().SizeAutoSizedLabels(form);
      Paint(form, hwnd);
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      OnMouse(form, hwnd, msg, wParam, lParam);
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(form, hwnd, wParam, lParam);
      return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd) OnCaptureLost(form, hwnd);
      return 0;
    case WM_MOUSEACTIVATE:
      // Windows does not even ask for a click-through window, but Wine does
      // when the X window manager offers it the focus.
      if (!form.TakesKeyboard) return MA_NOACTIVATE;
      break;
    case WM_SYSCOMMAND:
      // The user's own close of this window (Alt+F4; Wine turns the window
      // manager's close into this too): the form decides.
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        Runtime::Get().DeliverClose(form);
        return 0;
      }
      break;
    case WM_CLOSE:
      // A close message to this window alone closes its form as the user's
      // close does (the panel stores and goes, the overlay ends night mode).
      // Under a modal window of ours (the colour dialog over the panel) the
      // form's own event procedure still runs: then the program ends in
      // order, as when every window is asked to close.
      if (::IsWindowEnabled(hwnd) != FALSE) {
        Runtime::Get().DeliverClose(form);
        return 0;
      }
      return *OnStopMessage(msg, wParam);
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
      return *OnStopMessage(msg, wParam);
    case WM_TIMER:
      if (cover_.OnTimer(hwnd, static_cast<UINT_PTR>(wParam))) return 0;
      OnTimer(form, hwnd, static_cast<UINT_PTR>(wParam));
      return 0;
    case WM_GETDPISCALEDSIZE:
      // Asked before a move to a monitor of another DPI: the size the
      // twips give there, so that the rectangle WM_DPICHANGED suggests
      // already fits and nothing is scaled from a rounded pixel size.
      if (::IsZoomed(hwnd) == FALSE && form.ClientWidth > 0 && form.ClientHeight > 0) {
        *reinterpret_cast<SIZE*>(lParam) = WindowSizeFor(form, hwnd, static_cast<int>(wParam));
        return TRUE;
      }
      break;
    case kSetIconsMessage:
      SetIcons(form, hwnd);
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(form, hwnd, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DISPLAYCHANGE:
      cover_.CoverMonitor(hwnd);
      cover_.CheckSoon(hwnd);
      cover_.MonitorsChanged(hwnd);
      break;
    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETWORKAREA) {
        cover_.CoverMonitor(hwnd);
        cover_.CheckSoon(hwnd);
      }
      break;
    case WM_WINDOWPOSCHANGED:
      // Resized while maximised: the screen may have changed under it.
      if ((reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0) {
        cover_.CheckSoon(hwnd);
      }
      break;  // DefWindowProc turns it into WM_SIZE and WM_MOVE
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// The window moved to a monitor of another DPI, or that monitor's scale
// changed. Geometry is in twips, so the client area, the auto-sized labels
// and the fonts are worked out again for the new DPI.
void Win32Backend::OnDpiChanged(Form& form, HWND hwnd, int dpi, const RECT& suggested) {
  if (dpi <= 0) dpi = win32::WindowDpi(hwnd);
  // Made again on the next paint, at the new size; nothing holds one now.
  fonts_.clear();
  for (Control* control : form.Controls()) {
    auto* label = dynamic_cast<Label*>(control);
    if (label == nullptr || !label->AutoSize) continue;
    if (auto size = MeasureLabelAt(hwnd, *label, dpi)) {
      label->Width = size->first;
      label->Height = size->second;
    }
  }
  if (::IsZoomed(hwnd) != FALSE) {
    cover_.CoverMonitor(hwnd);
  } else {
    // As large as the twips make it at the new DPI. A window on screen goes
    // where the system puts it (under the pointer of a drag across
    // monitors); one not shown yet was just centred on that monitor, and
    // stays centred.
    const SIZE size = WindowSizeFor(form, hwnd, dpi);
    POINT at{suggested.left, suggested.top};
    if (::IsWindowVisible(hwnd) == FALSE) {
      at.x = (suggested.left + suggested.right - size.cx) / 2;
      at.y = (suggested.top + suggested.bottom - size.cy) / 2;
    }
    ::SetWindowPos(hwnd, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::InvalidateRect(hwnd, nullptr, FALSE);
}

std::vector<Monitor> Win32Backend::Monitors() { return MonitorCover::Monitors(); }

std::optional<Point> Win32Backend::PointerPosition() {
  POINT at{};
  if (::GetCursorPos(&at) == FALSE) return std::nullopt;
  return Point{at.x, at.y};
}

void Win32Backend::OnMouse(Form& form, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const int dpi = win32::WindowDpi(hwnd);
  const Twips x = win32::ToTwips(GET_X_LPARAM(lParam), dpi);
  const Twips y = win32::ToTwips(GET_Y_LPARAM(lParam), dpi);
  const int shift = ShiftOf(wParam);
  Runtime& runtime = Runtime::Get();

  int button = 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      button = kLeftButton;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
      button = kRightButton;
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      button = kMiddleButton;
      break;
    default:
      break;
  }

  switch (msg) {
    case WM_MOUSEMOVE:
      runtime.DeliverMouse(form, MouseAction::Move, ButtonsOf(wParam), shift, x, y);
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_LBUTTONDBLCLK: {
      // Keep the pointer while a button is held, so the release comes here.
      int& held = buttonsHeld_[hwnd];
      if (held == 0) ::SetCapture(hwnd);
      held |= button;
      // The second press of a left double-click is the DblClick, not a
      // further press: a label clicked twice quickly sees one Click.
      const MouseAction action =
          msg == WM_LBUTTONDBLCLK ? MouseAction::DblClick : MouseAction::Down;
      runtime.DeliverMouse(form, action, button, shift, x, y);
      break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      auto it = buttonsHeld_.find(hwnd);
      if (it == buttonsHeld_.end() || (it->second & button) == 0) break;
      it->second &= ~button;
      // Released before the event: a click may open a dialog of its own.
      if (it->second == 0) {
        buttonsHeld_.erase(it);
        if (::GetCapture() == hwnd) ::ReleaseCapture();
      }
      runtime.DeliverMouse(form, MouseAction::Up, button, shift, x, y);
      break;
    }
    default:
      break;
  }
}

// Someone else took the pointer while buttons were held: the presses end
// away from every label, so they make no click.
void Win32Backend::OnCaptureLost(Form& form, HWND hwnd) {
  auto it = buttonsHeld_.find(hwnd);
  if (it == buttonsHeld_.end()) return;
  const int held = it->second;
  buttonsHeld_.erase(it);
  Runtime::Get().DeliverCaptureLost(form, held);
}

void Win32Backend::OnTimer(Form& form, HWND hwnd, UINT_PTR id) {
  // The id is the Timer's address; only a timer armed on this window counts.
  auto* timer = reinterpret_cast<Timer*>(id);
  auto it = armedTimers_.find(timer);
  if (it == armedTimers_.end() || it->second != hwnd) {
    ::KillTimer(hwnd, id);
    return;
  }
  // A tick held back by a busy thread comes late, and the system would
  // bring the next one on its original beat, perhaps a moment later: the
  // panel would then close at once after the user's last move. Each tick
  // starts a full interval from now instead.
  ::SetTimer(hwnd, id, static_cast<UINT>(timer->Interval.get()), nullptr);
  Runtime::Get().DeliverTimer(form, *timer);
}

// --- process ------------------------------------------------------------------

void Win32Backend::RunMessageLoop() {
  // Start-up's windows have their first frames on the screen when the
  // queue first runs empty: then the work beside the thread may start.
  if (Runtime::Get().AnyFormLoaded()) win32::RunUntilQuit([this] { jobsBeside_.LoopIdled(); });
  jobsBeside_.Finish();
}

void Win32Backend::QuitWhenIdle() { ::PostQuitMessage(0); }

// Whatever had to be kept was stored by the caller already. A job beside
// the user-interface thread ends first: ExitProcess would stop it wherever
// it is, before a process it was to start has been started.
void Win32Backend::End() {
  jobsBeside_.Finish();
  ::ExitProcess(0);
}

void Win32Backend::DoEvents() { win32::PumpWaiting(); }

void Win32Backend::RunBeside(std::function<void()> job) { jobsBeside_.Add(std::move(job)); }

HWnd Win32Backend::ForegroundWindow() { return reinterpret_cast<HWnd>(::GetForegroundWindow()); }

void Win32Backend::SetForegroundWindow(HWnd hwnd) {
  HWND window = AsHwnd(hwnd);
  if (window != nullptr && ::IsWindow(window) != FALSE) ::SetForegroundWindow(window);
}

// --- user32 -------------------------------------------------------------------

std::int32_t Win32Backend::GetWindowLongA(HWnd hwnd, std::int32_t index) {
  return ::GetWindowLongA(AsHwnd(hwnd), index);
}

std::int32_t Win32Backend::SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) {
  const std::int32_t previous = ::SetWindowLongA(AsHwnd(hwnd), index, value);
  cover_.Restyled(AsHwnd(hwnd), index, value);
  return previous;
}

std::int32_t Win32Backend::SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                                      std::int32_t dwFlags) {
  const auto key = static_cast<COLORREF>(crKey);
  const auto flags = static_cast<DWORD>(dwFlags);
  const BOOL done = ::SetLayeredWindowAttributes(AsHwnd(hwnd), key, bAlpha, flags);
  cover_.OpacitySet(AsHwnd(hwnd), key, bAlpha, flags);
  return done;
}

std::int32_t Win32Backend::SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                                        std::uint32_t flags) {
  // A window that never takes the keyboard is not activated by a move in
  // the Z order either. (Without SWP_NOACTIVATE Wine makes even a hidden
  // window the foreground one, and the input method's activation that
  // follows delays the overlay's first frame.)
  const auto* form =
      reinterpret_cast<const Form*>(::GetWindowLongPtrW(AsHwnd(hwnd), GWLP_USERDATA));
  if (form != nullptr && !form->TakesKeyboard) flags |= SWP_NOACTIVATE;
  // -1 and -2 are HWND_TOPMOST and HWND_NOTOPMOST as handles.
  const BOOL done = ::SetWindowPos(AsHwnd(hwnd), AsHwnd(insertAfter), x, y, cx, cy, flags);
  cover_.Restacked(AsHwnd(hwnd), AsHwnd(insertAfter), flags);
  return done;
}

std::int16_t Win32Backend::GetAsyncKeyState(std::int32_t vKey) { return ::GetAsyncKeyState(vKey); }

}  // namespace platform
