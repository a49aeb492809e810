// The user-interface thread's message pump: the outer loop, the pumping
// that DoEvents and modal loops do, and handing painted frames over at once.
#pragma once

#include <functional>

#include "platform/win32/win32_handles.h"

namespace platform::win32 {

// Runs the thread's messages until WM_QUIT. `firstIdle` runs the first
// time the queue is empty: by then the windows shown at start have painted
// and handed their frames over.
void RunUntilQuit(const std::function<void()>& firstIdle);
// Handles one message, waiting for one when `wait`; false once WM_QUIT came
// (it is posted again, so the outer loop sees it too) or, without `wait`,
// when none is waiting.
bool PumpOne(bool wait);
// Handles the messages already waiting, then returns.
void PumpWaiting();
// Hands what has been painted to the screen now, not when the thread next
// waits for messages.
void PresentNow();

}  // namespace platform::win32
