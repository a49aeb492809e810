#include "settings_panel/frm_set.h"

#include <algorithm>

#include "overlay/frm_night.h"
#include "overlay/translucency.h"
#include "platform/app.h"
#include "platform/conversions.h"
#include "platform/user32.h"
#include "settings/settings_store.h"

using namespace platform;
using mdluser::bytLig;
using settings_panel::kExitHoverColour;
using settings_panel::kExitNormalColour;

FrmSet frmSet;

namespace {

constexpr Colour kWhite = 0x00FFFFFF;
constexpr int kGb2312 = 134;
// Key steps of the slider: the track is 51 of them, a page 5.
constexpr int kTrackSteps = 51;
constexpr int kPageSteps = 5;

}  // namespace

FrmSet::FrmSet() : Form("frmSet") {
  Timer1.OnTimer = [this] { Timer1_Timer(); };
  lbColor.Click = [this] { lbColor_Click(); };
  lbExit.MouseMove = [this](int b, int s, float x, float y) { lbExit_MouseMove(b, s, x, y); };
  lbExit.Click = [this] { lbExit_Click(); };
}

void FrmSet::Layout() {
  Caption = "";
  borderStyle = BorderStyle::FixedDialog;
  ClientWidth = 6120;
  ClientHeight = 2775;
  ShowInTaskbar = false;
  startUpPosition = StartUpPosition::CenterOwner;
  IconResource = 0;
  BackColor = 0x00404040;

  Label1.Caption = "色调";
  Label1.Left = 585, Label1.Top = 225, Label1.Width = 900, Label1.Height = 420;
  Label1.ForeColor = kWhite;
  Label1.AutoSize = true;
  Label1.font = Font{"宋体", 21.75F, true, false, kGb2312};

  lbColor.Caption = "点击此处选择颜色";
  lbColor.Left = 1665, lbColor.Top = 225, lbColor.Width = 3750, lbColor.Height = 420;
  lbColor.backStyle = BackStyle::Opaque;
  lbColor.BackColor = settings::kDefaultColour;
  lbColor.ForeColor = kWhite;
  lbColor.FixedSingleBorder = true;
  lbColor.alignment = Alignment::Center;
  lbColor.font = Font{"宋体", 15.0F, true, false, kGb2312};

  lbLig.Caption = "亮度";
  lbLig.Left = 585, lbLig.Top = 945, lbLig.Width = 900, lbLig.Height = 435;
  lbLig.ForeColor = kWhite;
  lbLig.AutoSize = true;
  lbLig.font = Font{"宋体", 21.75F, true, false, kGb2312};

  Lx.X1 = 1800, Lx.Y1 = 1170, Lx.X2 = 5265, Lx.Y2 = 1170;
  Lx.BorderColor = kWhite;
  Lx.BorderWidth = 20;

  Ly.X1 = 2430, Ly.Y1 = 990, Ly.X2 = 2430, Ly.Y2 = 1395;
  Ly.BorderColor = 0x000000FF;
  Ly.BorderWidth = 10;

  lbInfo.Caption = "Morvane软件出品　夜间呵护您的眼睛";
  lbInfo.Left = 765, lbInfo.Top = 1710, lbInfo.Width = 4410, lbInfo.Height = 180;
  lbInfo.ForeColor = kWhite;
  lbInfo.AutoSize = true;
  lbInfo.font = DefaultDialogFont();

  lbExit.Caption = "关闭夜间模式";
  lbExit.Left = 2295, lbExit.Top = 2205, lbExit.Width = 1890, lbExit.Height = 300;
  lbExit.ForeColor = kExitNormalColour;
  lbExit.AutoSize = true;
  lbExit.font = Font{"黑体", 15.0F, true, false, kGb2312};

  Timer1.Interval = 2500;
  Timer1.Enabled = true;
  CommonDialog1.Color = 0;
}

void FrmSet::Form_Load() {
  blnActive = true;
  lbColor.BackColor = frmNight.BackColor;
  SetWindowPos(hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  Ly.X1 = ThumbAt(bytLig);
  Ly.X2 = Ly.X1;
}

// Closes the panel at the first tick that finds no interaction since the
// previous one: 2.5 to 5 s after the last one.
void FrmSet::Timer1_Timer() {
  if (blnActive) {
    blnActive = false;
    return;
  }
  Unload(*this);
}

// Every close stores what is in force. A store that refuses the write must
// not take the tint away: the panel closes all the same and the next close
// tries again.
void FrmSet::Form_QueryUnload(int& /*Cancel*/, int /*UnloadMode*/) {
  settings::SaveBoth(bytLig, lbColor.BackColor);
}

void FrmSet::Form_MouseDown(int Button, int Shift, float X, float Y) {
  blnActive = true;
  Form_MouseMove(Button, Shift, X, Y);
}

// The slider: a drag with the left button alone, strictly inside the track
// and the height of its heading, moves the thumb to the pointer and applies
// the opacity at once. Left end opaque, right end transparent.
void FrmSet::Form_MouseMove(int Button, int /*Shift*/, float X, float Y) {
  const float left = Lx.X1;
  const float right = Lx.X2;
  const float top = lbLig.Top;
  const float bottom = top + lbLig.Height;
  if (X > left && X < right && Y > top && Y < bottom && Button == kLeftButton) MoveThumb(X);
  lbExit.ForeColor = kExitNormalColour;
}

// Keys while the panel has the keyboard: the arrows move the thumb one
// fifty-first of the track (an opacity of 5), Page Up and Page Down five
// times that, Home and End to the ends; Right, Up and Page Up brighten.
// Each step starts from the opacity in force and lands where a press at
// the new opacity's place would, so keys and mouse agree. Esc closes the
// panel as its idle close does, storing both values.
void FrmSet::Form_KeyDown(int KeyCode, int /*Shift*/) {
  int steps = 0;
  switch (KeyCode) {
    case vbKeyEscape:
      Unload(*this);
      return;
    case vbKeyRight:
    case vbKeyUp:
      steps = 1;
      break;
    case vbKeyLeft:
    case vbKeyDown:
      steps = -1;
      break;
    case vbKeyPageUp:
      steps = kPageSteps;
      break;
    case vbKeyPageDown:
      steps = -kPageSteps;
      break;
    case vbKeyHome:
      steps = -kTrackSteps;
      break;
    case vbKeyEnd:
      steps = kTrackSteps;
      break;
    default:
      return;
  }
  const int opacity = std::clamp(bytLig - steps * (255 / kTrackSteps), 0, 255);
  MoveThumb(ThumbAt(opacity));
}

double FrmSet::OpacityAt(float X) const {
  const double left = Lx.X1;
  const double right = Lx.X2;
  return 255 - (static_cast<double>(X) - left) / (right - left) * 255;
}

float FrmSet::ThumbAt(int opacity) const {
  const double left = Lx.X1;
  const double right = Lx.X2;
  return static_cast<float>((right - left) / 255 * (255 - opacity) + left);
}

void FrmSet::MoveThumb(float X) {
  Ly.X1 = X;
  Ly.X2 = X;
  if (const auto opacity = ToByte(OpacityAt(X))) bytLig = *opacity;
  mdluser::SetTranslucent(frmNight.hWnd(), 0, bytLig, LWA_ALPHA);
  blnActive = true;
}

// The swatch opens the colour dialog; its timer is stopped meanwhile so the
// panel never closes under the dialog. A cancelled dialog changes nothing.
void FrmSet::lbColor_Click() {
  blnActive = true;
  Timer1.Enabled = false;
  if (CommonDialog1.ShowColor()) {
    lbColor.BackColor = CommonDialog1.Color;
    frmNight.BackColor = CommonDialog1.Color;
  }
  Timer1.Enabled = true;
}

void FrmSet::lbExit_MouseMove(int /*Button*/, int /*Shift*/, float /*X*/, float /*Y*/) {
  lbExit.ForeColor = kExitHoverColour;
  blnActive = true;
}

// Turns night mode off: store both values, then stop at once.
void FrmSet::lbExit_Click() { mdluser::EndNightMode(); }
