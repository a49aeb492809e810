#include "overlay/frm_night.h"

#include <utility>

#include "overlay/translucency.h"
#include "platform/app.h"
#include "platform/user32.h"
#include "resources/version.h"
#include "settings/settings_store.h"
#include "settings_panel/frm_set.h"

namespace mdluser {
std::uint8_t bytLig = 0;

void EndNightMode() {
  settings::SaveBoth(bytLig, frmNight.BackColor);
  platform::End();
}
}  // namespace mdluser

using namespace platform;
using mdluser::bytLig;

FrmNight frmNight;

FrmNight::FrmNight() : Form("frmNight") {
  Timer1.OnTimer = [this] { Timer1_Timer(); };
}

void FrmNight::Layout() {
  Caption = NM_INTERNAL_NAME;
  borderStyle = BorderStyle::None;
  windowState = WindowState::Maximized;
  // The whole desk, every monitor, in one colour and one opacity.
  SpansAllMonitors = true;
  ClientWidth = 1650;
  ClientHeight = 1380;
  ShowInTaskbar = false;
  // Click-through and never in the way of typing: the keyboard stays with
  // the program the user works in.
  TakesKeyboard = false;
  IconResource = NM_IDI_APP;
  BackColor = settings::kDefaultColour;
  Timer1.Interval = 100;
  Timer1.Enabled = true;
}

void FrmNight::Form_Load() {
  if (App.PrevInstance()) {
    MsgBox("Morvane夜间模式工具已经启动，欢迎继续使用。", vbOKOnly);
    End();
  }
  BackColor = settings::LoadColour();
  bytLig = settings::LoadOpacity();
  SetWindowPos(hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  mdluser::SetTranslucent(hWnd(), 0, bytLig, LWA_ALPHA);
  // Click-through: from here on the mouse reaches the windows beneath.
  SetWindowLongA(hWnd(), GWL_EXSTYLE,
                 GetWindowLongA(hWnd(), GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TRANSPARENT);
}

// Closed from outside, by the window manager or the system menu: night mode
// ends as the exit label ends it, values stored.
void FrmNight::Form_QueryUnload(int& /*Cancel*/, int UnloadMode) {
  if (UnloadMode == vbFormControlMenu) mdluser::EndNightMode();
}

// Only reachable when the click-through style could not be applied: then a
// double-click is the way to take the tint off.
void FrmNight::Form_DblClick() { Unload(*this); }

// F7 from any application opens the settings panel. The key is asked for
// its global state, so no hook and no hot-key registration is needed; a
// press shorter than the interval still shows in the low bit.
void FrmNight::Timer1_Timer() {
  const bool asked = std::exchange(settingsAsked_, false);
  if (GetAsyncKeyState(VK_F7) == 0 && !asked) return;
  if (frmSet.Visible()) return;
  frmSet.Show(vbModal, this);
}
