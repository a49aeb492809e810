// Windows of forms, input, timers and message loops. Painting lives in
// win32_paint.cpp, the desktop services in win32_services.cpp.
#include "platform/win32/win32_backend.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "platform/runtime.h"

namespace platform {

Win32Backend* Win32Backend::active_ = nullptr;

namespace win32 {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// Looked up at run time: both calls are missing before Windows 10 1607.
template <class Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  // Through void(*)() so that the compiler accepts the function-type change.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(user32, name)));
}

GetDpiForWindowFn GetDpiForWindowPtr() {
  static const auto fn = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  return fn;
}

AdjustForDpiFn AdjustWindowRectExForDpiPtr() {
  static const auto fn = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  return fn;
}

// Asked once: the system DPI of a DPI-aware process holds for its whole
// life, and the desk watch asks at every look.
int SystemDpi() {
  static const int dpi = [] {
    const win32::ScreenDC screen;
    const int found = screen.get() != nullptr ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
    return found > 0 ? found : USER_DEFAULT_SCREEN_DPI;
  }();
  return dpi;
}

}  // namespace

int WindowDpi(HWND hwnd) {
  if (hwnd != nullptr) {
    if (auto fn = GetDpiForWindowPtr()) {
      const UINT dpi = fn(hwnd);
      if (dpi != 0) return static_cast<int>(dpi);
    }
  }
  return SystemDpi();
}

Twips ToTwips(int pixels, int dpi) { return PixelsToTwips(static_cast<float>(pixels), dpi); }

Rect FromRECT(const RECT& rect) { return Rect{rect.left, rect.top, rect.right, rect.bottom}; }

RECT ToRECT(const Rect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

COLORREF ToColorRef(Colour colour) {
  const auto bits = static_cast<std::uint32_t>(colour);
  if ((bits & 0x80000000U) != 0) return ::GetSysColor(static_cast<int>(bits & 0xFFU));
  return static_cast<COLORREF>(bits & 0x00FFFFFFU);
}

}  // namespace win32

namespace {

constexpr wchar_t kFormClass[] = L"NightModeForm";

// The backend's own timer on a form's window; the forms' timers use their
// Timer's address as id, which is never this small.
constexpr UINT_PTR kCoverCheckTimer = 1;
// Checks of a maximised window's cover after it changed size: at 0.25, 0.75,
// 1.75, 3.75 and 7.75 s, each wait twice the one before.
constexpr UINT kCoverCheckFirstMs = 250;
constexpr int kCoverChecks = 5;
constexpr UINT_PTR kDeskWatchTimer = 2;
// How often a form that spans all monitors looks at the desk: a change is
// covered within 2 s (the look, a quick look after it, Wine and the
// compositor: 0.0-1.8 s measured), and each look asks Wine about the
// monitors once, some 0.15 ms that its display cache costs whatever is
// asked: looking every 1.2 s, the idle program spent a fifth more CPU
// than the floor.
constexpr UINT kDeskWatchMs = 1500;
// After a look that changed something, the next looks come this soon (at
// most DeskSeen::kQuickLooks of them in a row) until one finds the desk as
// it was left: a window made for a monitor that has just come can be put
// on another one by the window manager, which learns of the monitor after
// Wine does, and only the next look puts it back.
constexpr UINT kDeskQuickMs = 250;
// Posted to a form's window once it is shown: its icons are set then.
constexpr UINT kSetIconsMessage = WM_APP + 1;
// Never posted: PresentNow looks for it.
constexpr UINT kNeverPostedMessage = WM_APP + 2;

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
// becomes an X property, some 10 ms of work that no first frame needs.
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
  if (auto adjust = win32::AdjustWindowRectExForDpiPtr()) {
    adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
  } else {
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void Win32Backend::DestroyFormWindow(Form& form) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  if (auto it = satellites_.find(&form); it != satellites_.end()) {
    for (HWND satellite : it->second) ::DestroyWindow(satellite);
    satellites_.erase(it);
  }
  for (auto it = armedTimers_.begin(); it != armedTimers_.end();) {
    if (it->second == hwnd) {
      ::KillTimer(hwnd, reinterpret_cast<UINT_PTR>(it->first));
      it = armedTimers_.erase(it);
    } else {
      ++it;
    }
  }
  buttonsHeld_.erase(hwnd);
  covers_.erase(hwnd);
  desksSeen_.erase(hwnd);
  if (::GetCapture() == hwnd) ::ReleaseCapture();
  ::DestroyWindow(hwnd);
  windows_.erase(&form);
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
  if (ownerHwnd != nullptr) {
    // GWLP_HWNDPARENT of a top-level window is its owner: it stays above it.
    ::SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(ownerHwnd));
  }

  if (form.windowState == WindowState::Maximized) {
    if (form.TakesKeyboard) {
      ::ShowWindow(hwnd, SW_SHOWMAXIMIZED);
      CoverMonitor(hwnd);
    } else {
      // Every maximising show command activates the window. One that never
      // takes the keyboard is marked maximised, placed over its monitor and
      // shown as it is: never activated, even for a moment (under Wine an
      // activation wakes the input method, which loads COM: some 15 ms
      // before the first frame).
      const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
      if ((style & WS_MAXIMIZE) == 0) ::SetWindowLongPtrW(hwnd, GWL_STYLE, style | WS_MAXIMIZE);
      CoverMonitor(hwnd, false);  // made over it, as a rule: nothing to do
      ::ShowWindow(hwnd, SW_SHOWNA);
    }
  } else if (form.windowState == WindowState::Minimized) {
    ::ShowWindow(hwnd, SW_SHOWMINIMIZED);
  } else {
    if (form.startUpPosition != StartUpPosition::Manual) {
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
    ::ShowWindow(hwnd, form.TakesKeyboard ? SW_SHOW : SW_SHOWNA);
    // A form shown over its owner (the panel) takes the keyboard.
    if (ownerHwnd != nullptr && form.TakesKeyboard) TakeKeyboard(hwnd);
  }
  ::UpdateWindow(hwnd);
  PresentNow();
  // What the first frame does not need comes after it: the windows on the
  // other monitors, and the icons.
  if (form.windowState == WindowState::Maximized) WatchDesk(form, hwnd);
  if (form.IconResource != 0) ::PostMessageW(hwnd, kSetIconsMessage, 0, 0);
}

// Hands what has been painted to the screen now, not when the thread next
// waits for messages. Under Wine a window's pixels go to the X server only
// when its thread finds its queue empty: the splash, shown right after the
// overlay, would hold the tint back by as long as its own show and paint
// take (some 25 ms). A look for a message that is never posted finds the
// queue empty. On Windows, whose compositor takes each frame as it is
// painted, such a look only handles what other threads sent, as every look
// at the queue does.
void Win32Backend::PresentNow() {
  MSG msg{};
  ::PeekMessageW(&msg, nullptr, kNeverPostedMessage, kNeverPostedMessage, PM_NOREMOVE);
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
    if (!PumpOne(true)) break;
  }
}

void Win32Backend::Invalidate(Form& form, const Control* control) {
  HWND hwnd = WindowOf(form);
  if (hwnd == nullptr) return;
  if (control == nullptr) {
    ::InvalidateRect(hwnd, nullptr, FALSE);
    for (HWND satellite : SatellitesOf(hwnd)) ::InvalidateRect(satellite, nullptr, FALSE);
    return;
  }
  const RECT bounds = ControlBounds(hwnd, *control, win32::WindowDpi(hwnd));
  if (::IsRectEmpty(&bounds) == FALSE) ::InvalidateRect(hwnd, &bounds, FALSE);
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
// a close message (taskkill without /F sends one to every window), and the
// session ending at logoff or shutdown, which the process will not outlive.
// Each is an orderly end, never a window gone behind the program's back.
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
    if (active_ != nullptr && form != nullptr) {
      auto it = active_->windows_.find(form);
      if (it != active_->windows_.end() && it->second == hwnd) active_->windows_.erase(it);
      active_->buttonsHeld_.erase(hwnd);
      active_->covers_.erase(hwnd);
      active_->desksSeen_.erase(hwnd);
    }
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
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
      return *OnStopMessage(msg, wParam);
    case WM_TIMER:
      if (wParam == kCoverCheckTimer) {
        OnCoverCheck(hwnd);
        return 0;
      }
      if (wParam == kDeskWatchTimer) {
        OnDeskWatch(form, hwnd);
        return 0;
      }
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
      CoverMonitor(hwnd);
      ScheduleCoverCheck(hwnd);
      if (form.SpansAllMonitors && WindowOf(form) == hwnd) SyncSatellites(form, hwnd);
      break;
    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETWORKAREA) {
        CoverMonitor(hwnd);
        ScheduleCoverCheck(hwnd);
      }
      break;
    case WM_WINDOWPOSCHANGED:
      // Resized while maximised: the screen may have changed under it.
      if ((reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0) {
        ScheduleCoverCheck(hwnd);
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
    CoverMonitor(hwnd);
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

// The rectangle a maximised form's window covers: its whole monitor,
// taskbar included, for a borderless window (the overlay and each of its
// windows on the other monitors). One with a frame is maximised to the work
// area with its frame outside it, and that is left to the system.
std::optional<RECT> Win32Backend::MonitorToCover(HWND hwnd) {
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

// A form that spans all monitors has its own window on one monitor and one
// more window for each other monitor, all kept alike (style word, layered
// attributes, topmost), so that its one hWnd speaks for all of them. Window
// managers under Wine confine a full-screen window to one monitor, and each
// window takes its own monitor's DPI.
void Win32Backend::SyncSatellites(Form& form, HWND main) {
  MONITORINFO own{};
  own.cbSize = sizeof own;
  if (::GetMonitorInfoW(::MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &own) == FALSE) {
    return;
  }
  std::vector<Rect> others;
  for (const Monitor& monitor : Monitors()) {
    if (!(monitor.bounds == win32::FromRECT(own.rcMonitor))) others.push_back(monitor.bounds);
  }
  std::vector<HWND>& satellites = satellites_[&form];
  while (satellites.size() > others.size()) {
    ::DestroyWindow(satellites.back());
    satellites.pop_back();
  }
  for (std::size_t i = 0; i < others.size(); ++i) {
    const RECT area = win32::ToRECT(others[i]);
    if (i == satellites.size()) {
      HWND satellite = MakeSatellite(form, main, area);
      if (satellite == nullptr) return;
      satellites.push_back(satellite);
      continue;
    }
    RECT now{};
    ::GetWindowRect(satellites[i], &now);
    if (::EqualRect(&now, &area) == FALSE) {
      ::SetWindowPos(satellites[i], nullptr, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
  }
}

HWND Win32Backend::MakeSatellite(Form& form, HWND main, const RECT& area) {
  const auto style = static_cast<DWORD>(::GetWindowLongW(main, GWL_STYLE)) & ~WS_VISIBLE;
  const auto exStyle = static_cast<DWORD>(::GetWindowLongW(main, GWL_EXSTYLE));
  HWND satellite = ::CreateWindowExW(
      exStyle, kFormClass, win32::Widen(form.Caption).c_str(), style, area.left, area.top,
      area.right - area.left, area.bottom - area.top, HiddenOwner(), nullptr, instance_, nullptr);
  if (satellite == nullptr) return nullptr;
  ::SetWindowLongPtrW(satellite, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&form));
  COLORREF key = 0;
  BYTE alpha = 255;
  DWORD flags = 0;
  if ((exStyle & WS_EX_LAYERED) != 0 &&
      ::GetLayeredWindowAttributes(main, &key, &alpha, &flags) != FALSE) {
    ::SetLayeredWindowAttributes(satellite, key, alpha, flags);
  }
  const bool topmost = (exStyle & WS_EX_TOPMOST) != 0;
  const bool visible = ::IsWindowVisible(main) != FALSE;
  ::SetWindowPos(satellite, topmost ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | (visible ? SWP_SHOWWINDOW : 0));
  return satellite;
}

// The windows that follow `hwnd`, when it is the own window of a form that
// spans all monitors.
const std::vector<HWND>& Win32Backend::SatellitesOf(HWND hwnd) const {
  static const std::vector<HWND> none;
  const auto* form = reinterpret_cast<const Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr || WindowOf(*form) != hwnd) return none;
  auto it = satellites_.find(form);
  return it != satellites_.end() ? it->second : none;
}

// Monitors come, go and move without Wine telling the windows (it sends no
// WM_DISPLAYCHANGE for them): a form that spans them all looks every
// kDeskWatchMs whether its windows still cover the desk.
void Win32Backend::WatchDesk(Form& form, HWND hwnd) {
  if (!form.SpansAllMonitors) return;
  SyncSatellites(form, hwnd);
  ::SetTimer(hwnd, kDeskWatchTimer, kDeskWatchMs, nullptr);
}

// Nearly every look finds the desk as it was. Each question about the
// monitors costs Wine trips to its server, so one enumeration of the
// monitors' rectangles and where the windows are, against the last look,
// decide whether the whole check runs: the check itself, at every look,
// cost the idle program a third more CPU than the floor spends.
void Win32Backend::OnDeskWatch(Form& form, HWND hwnd) {
  auto placed = [this](HWND main) {
    std::vector<RECT> rects(1);
    ::GetWindowRect(main, rects.data());
    for (HWND satellite : SatellitesOf(main)) {
      rects.emplace_back();
      ::GetWindowRect(satellite, &rects.back());
    }
    return rects;
  };
  auto same = [](const std::vector<RECT>& a, const std::vector<RECT>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const RECT& x, const RECT& y) { return ::EqualRect(&x, &y) != FALSE; });
  };
  std::vector<RECT> monitors;
  ::EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, LPRECT area, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<RECT>*>(data)->push_back(*area);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  DeskSeen& seen = desksSeen_[hwnd];
  if (seen.looked && same(monitors, seen.monitors) && same(placed(hwnd), seen.windows)) {
    if (seen.quick) ::SetTimer(hwnd, kDeskWatchTimer, kDeskWatchMs, nullptr);
    seen.quick = false;
    seen.quickLooksLeft = DeskSeen::kQuickLooks;
    return;
  }

  const std::optional<RECT> area = MonitorToCover(hwnd);
  RECT now{};
  if (area && ::GetWindowRect(hwnd, &now) != FALSE && ::EqualRect(&now, &*area) == FALSE) {
    CoverMonitor(hwnd);
  }
  SyncSatellites(form, hwnd);
  seen.looked = true;
  seen.monitors = std::move(monitors);
  seen.windows = placed(hwnd);
  // Should the window manager keep moving a window, the quick looks run
  // out and the watch goes back to its pace.
  const bool quick = seen.quickLooksLeft > 0;
  if (quick) --seen.quickLooksLeft;
  if (quick != seen.quick) {
    ::SetTimer(hwnd, kDeskWatchTimer, quick ? kDeskQuickMs : kDeskWatchMs, nullptr);
    seen.quick = quick;
  }
}

std::vector<Monitor> Win32Backend::Monitors() {
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

std::optional<Point> Win32Backend::PointerPosition() {
  POINT at{};
  if (::GetCursorPos(&at) == FALSE) return std::nullopt;
  return Point{at.x, at.y};
}

// A maximised form covers its monitor. After a change of resolution, or of
// the monitor layout, the system does not always size it again, and a tint
// that stops short of the screen's edge shows. The Z order stays: the overlay
// keeps its place in the topmost band, and nothing is activated. The frame
// change makes the system take the window's surface to the new size and
// repaint it (Wine keeps a surface cut to the screen it was made for).
void Win32Backend::CoverMonitor(HWND hwnd, bool refreshInPlace) {
  const std::optional<RECT> area = MonitorToCover(hwnd);
  if (!area) return;
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;
  covers_[hwnd].monitor = *area;
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
void Win32Backend::ScheduleCoverCheck(HWND hwnd) {
  const std::optional<RECT> area = MonitorToCover(hwnd);
  if (!area) return;
  auto [it, fresh] = covers_.try_emplace(hwnd);
  CoverCheck& check = it->second;
  if (fresh) check.monitor = *area;
  check.step = 0;
  check.mismatches = 0;
  ::SetTimer(hwnd, kCoverCheckTimer, kCoverCheckFirstMs, nullptr);
}

void Win32Backend::OnCoverCheck(HWND hwnd) {
  ::KillTimer(hwnd, kCoverCheckTimer);
  auto it = covers_.find(hwnd);
  const std::optional<RECT> area = MonitorToCover(hwnd);
  if (it == covers_.end() || !area) return;
  CoverCheck& check = it->second;
  const bool again = ++check.step < kCoverChecks;
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
  if (again) ::SetTimer(hwnd, kCoverCheckTimer, kCoverCheckFirstMs << check.step, nullptr);
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
  Runtime::Get().DeliverTimer(form, *timer);
}

// --- process ------------------------------------------------------------------

bool Win32Backend::PumpOne(bool wait) {
  MSG msg{};
  if (wait) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
  } else {
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE) return false;
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
  return true;
}

void Win32Backend::RunMessageLoop() {
  if (Runtime::Get().AnyFormLoaded()) {
    MSG msg{};
    for (;;) {
      // The first time the queue is empty, start-up's windows have painted
      // and handed their frames over: the jobs beside may start.
      if (!jobsBeside_.loopIdled() && ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) == FALSE) {
        jobsBeside_.LoopIdled();
      }
      if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
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

void Win32Backend::DoEvents() {
  while (PumpOne(false)) {
  }
}

void Win32Backend::RunBeside(std::function<void()> job) { jobsBeside_.Add(std::move(job)); }

void Win32Backend::MsgBox(const std::string& prompt, int buttons, const std::string& caption) {
  HWND owner = ::GetActiveWindow();
  // Topmost: the box must not end up beneath a running overlay's tint.
  UINT type = static_cast<UINT>(buttons) | MB_SETFOREGROUND | MB_TOPMOST;
  if (owner == nullptr) type |= MB_TASKMODAL;
  ::MessageBoxW(owner, win32::Widen(prompt).c_str(), win32::Widen(caption).c_str(), type);
}

bool Win32Backend::PrevInstance(const std::string& title) {
  if (prevInstance_) return *prevInstance_;
  std::wstring name = win32::Widen(title);
  // A backslash would name a namespace.
  std::replace(name.begin(), name.end(), L'\\', L'_');
  name = L"Local\\" + name;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  // Access denied: the mutex exists, made by another user's instance in the
  // same session.
  const bool exists =
      mutex != nullptr ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED;
  // Held until the process ends: that is what tells later starts.
  instanceMutex_.reset(mutex);
  prevInstance_ = exists;
  return exists;
}

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
  for (HWND satellite : SatellitesOf(AsHwnd(hwnd))) ::SetWindowLongA(satellite, index, value);
  return ::SetWindowLongA(AsHwnd(hwnd), index, value);
}

std::int32_t Win32Backend::SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                                      std::int32_t dwFlags) {
  for (HWND satellite : SatellitesOf(AsHwnd(hwnd))) {
    ::SetLayeredWindowAttributes(satellite, static_cast<COLORREF>(crKey), bAlpha,
                                 static_cast<DWORD>(dwFlags));
  }
  return ::SetLayeredWindowAttributes(AsHwnd(hwnd), static_cast<COLORREF>(crKey), bAlpha,
                                      static_cast<DWORD>(dwFlags));
}

std::int32_t Win32Backend::SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                                        std::uint32_t flags) {
  // A window that never takes the keyboard is not activated by a move in
  // the Z order either. (Without SWP_NOACTIVATE Wine makes even a hidden
  // window the foreground one, and the input method's activation that
  // follows costs the overlay's first frame some 15 ms.)
  const auto* form =
      reinterpret_cast<const Form*>(::GetWindowLongPtrW(AsHwnd(hwnd), GWLP_USERDATA));
  if (form != nullptr && !form->TakesKeyboard) flags |= SWP_NOACTIVATE;
  // -1 and -2 are HWND_TOPMOST and HWND_NOTOPMOST as handles. The windows
  // on the other monitors follow in the Z order only; each keeps its place.
  if ((flags & SWP_NOZORDER) == 0) {
    for (HWND satellite : SatellitesOf(AsHwnd(hwnd))) {
      ::SetWindowPos(satellite, AsHwnd(insertAfter), 0, 0, 0, 0,
                     flags | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  return ::SetWindowPos(AsHwnd(hwnd), AsHwnd(insertAfter), x, y, cx, cy, flags);
}

std::int16_t Win32Backend::GetAsyncKeyState(std::int32_t vKey) { return ::GetAsyncKeyState(vKey); }

}  // namespace platform
