// The settings panel that F7 opens over the overlay: a colour swatch that
// opens the colour dialog, a brightness slider made of two lines, a credit
// line and the label that turns night mode off. It closes itself a few
// seconds after the last interaction and stores both values when it does.
#pragma once

#include "platform/form.h"

class FrmSet : public platform::Form {
 public:
  FrmSet();

  platform::Label Label1{*this, "Label1"};
  platform::Label lbColor{*this, "lbColor"};
  platform::Label lbLig{*this, "lbLig"};
  platform::Line Lx{*this, "Lx"};
  platform::Line Ly{*this, "Ly"};
  platform::Label lbInfo{*this, "lbInfo"};
  platform::Label lbExit{*this, "lbExit"};
  platform::Timer Timer1{*this, "Timer1"};
  platform::CommonDialog CommonDialog1{*this, "CommonDialog1"};

  // The user did something since the last tick of Timer1.
  bool blnActive = false;

  void Form_Load() override;
  void Form_QueryUnload(int& Cancel, int UnloadMode) override;
  void Form_MouseDown(int Button, int Shift, float X, float Y) override;
  void Form_MouseMove(int Button, int Shift, float X, float Y) override;
  void Form_KeyDown(int KeyCode, int Shift) override;
  void Timer1_Timer();
  void lbColor_Click();
  void lbExit_MouseMove(int Button, int Shift, float X, float Y);
  void lbExit_Click();

 protected:
  void Layout() override;

 private:
  // The slider's mapping, both ways: left end opaque, right end transparent.
  double OpacityAt(float X) const;
  float ThumbAt(int opacity) const;
  // The thumb to X and the opacity there onto the overlay, as for the mouse.
  void MoveThumb(float X);
};

extern FrmSet frmSet;

namespace settings_panel {
inline constexpr platform::Colour kExitNormalColour = 0x00FF8080;
inline constexpr platform::Colour kExitHoverColour = 0x000000FF;
}  // namespace settings_panel
