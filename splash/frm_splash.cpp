#include "splash/frm_splash.h"

#include "overlay/frm_night.h"
#include "platform/user32.h"

using namespace platform;

FrmSplash frmSplash;

namespace {

constexpr Colour kGreen = 0x0000FF00;
constexpr Colour kWhite = 0x00FFFFFF;
constexpr int kGb2312 = 134;

void Place(Label& label, Twips left, Twips top, Twips width, Twips height) {
  label.Left = left;
  label.Top = top;
  label.Width = width;
  label.Height = height;
}

}  // namespace

FrmSplash::FrmSplash() : Form("frmSplash") {
  Timer1.OnTimer = [this] { Timer1_Timer(); };
}

void FrmSplash::Layout() {
  Caption = "";
  borderStyle = BorderStyle::FixedDialog;
  ClientWidth = 6270;
  ClientHeight = 3105;
  startUpPosition = StartUpPosition::CenterScreen;
  ShowInTaskbar = false;
  IconResource = 0;
  BackColor = 0x00000040;
  Timer1.Interval = 4000;
  Timer1.Enabled = true;

  Label1.Caption = "Morvane电脑夜间模式工具";
  Place(Label1, 450, 360, 4995, 435);
  Label1.ForeColor = kGreen;
  Label1.font = Font{"黑体", 21.75F, true, false, kGb2312};

  Label2.Caption = "夜间呵护您的眼睛";
  Place(Label2, 1935, 990, 4095, 435);
  Label2.ForeColor = kGreen;
  Label2.font = Font{"黑体", 21.75F, true, true, kGb2312};

  Label3.Caption = "使用过程中按下Ctrl+F7进行设置";
  Place(Label3, 900, 1845, 4350, 285);
  Label3.ForeColor = kWhite;
  Label3.AutoSize = true;
  Label3.font = Font{"黑体", 14.25F, false, false, kGb2312};

  Label4.Caption = "Morvane软件 出品";
  Place(Label4, 2835, 2430, 3240, 240);
  Label4.ForeColor = kWhite;
  Label4.AutoSize = true;
  Label4.font = Font{"宋体", 12.0F, false, false, kGb2312};

  Label5.Caption = "意见与建议请告诉我们";
  Place(Label5, 2970, 2790, 3000, 240);
  Label5.ForeColor = kWhite;
  Label5.AutoSize = true;
  Label5.font = Font{"宋体", 12.0F, false, false, kGb2312};
}

void FrmSplash::Form_Load() {
  frmNight.Show();
  // Join the topmost band after the overlay, so the splash lies above it.
  SetWindowPos(hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void FrmSplash::Timer1_Timer() { Unload(*this); }
