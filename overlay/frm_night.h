// The overlay: one maximised, borderless, topmost, click-through window in
// the chosen colour at the chosen opacity over the whole screen. Its timer
// polls F7, which opens the settings panel.
#pragma once

#include <cstdint>

#include "platform/form.h"

namespace mdluser {
// The overlay's current opacity: 0 fully transparent, 255 fully opaque.
extern std::uint8_t bytLig;

// Turns night mode off: stores the opacity and the colour in force, then
// ends the program at once. The exit label does this, and so does every
// request to stop from outside.
[[noreturn]] void EndNightMode();
}  // namespace mdluser

class FrmNight : public platform::Form {
 public:
  FrmNight();

  platform::Timer Timer1{*this, "Timer1"};

  void Form_Load() override;
  void Form_QueryUnload(int& Cancel, int UnloadMode) override;
  void Form_DblClick() override;
  void Timer1_Timer();

  // Asked from outside to open the settings panel (a desktop shortcut where
  // no program reads F7 itself): the next poll opens it as for F7.
  void AskForSettings() { settingsAsked_ = true; }

 protected:
  void Layout() override;

 private:
  bool settingsAsked_ = false;
};

extern FrmNight frmNight;
