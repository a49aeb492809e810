// The start-up splash: title, tag line and usage hint for four seconds above
// the freshly tinted screen. Loading it is what brings up the overlay.
#pragma once

#include "platform/form.h"

class FrmSplash : public platform::Form {
 public:
  FrmSplash();

  platform::Timer Timer1{*this, "Timer1"};
  platform::Label Label1{*this, "Label1"};
  platform::Label Label2{*this, "Label2"};
  platform::Label Label3{*this, "Label3"};
  platform::Label Label4{*this, "Label4"};
  platform::Label Label5{*this, "Label5"};

  void Form_Load() override;
  void Timer1_Timer();

 protected:
  void Layout() override;
};

extern FrmSplash frmSplash;
