#include "platform/win32/message_pump.h"

namespace platform::win32 {

namespace {

// Never posted: PresentNow looks for it.
constexpr UINT kNeverPostedMessage = WM_APP + 2;

}  // namespace

void RunUntilQuit(const std::function<void()>& firstIdle) {
  MSG msg{};
  bool idled = false;
  for (;;) {
    if (!idled && ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) == FALSE) {
      idled = true;
      if (firstIdle) firstIdle();
    }
    if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool PumpOne(bool wait) {
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

void PumpWaiting() {
  while (PumpOne(false)) {
  }
}

// Under Wine a window's pixels go to the X server only when its thread
// finds its queue empty: the splash, shown right after the overlay, would
// hold the tint back by as long as its own show and paint take. A look for
// a message that is never posted finds the queue empty. On Windows, whose
// compositor takes each frame as it is painted, such a look only handles
// what other threads sent, as every look at the queue does.
void PresentNow() {
  MSG msg{};
  ::PeekMessageW(&msg, nullptr, kNeverPostedMessage, kNeverPostedMessage, PM_NOREMOVE);
}

}  // namespace platform::win32
