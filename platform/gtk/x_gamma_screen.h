// The CRTC gamma ramps of an X server through XRandR 1.2, for TintRamps.
// No X types here: X11's headers define macros (None, Bool) that clash with
// the form model's names.
#pragma once

#include "platform/gtk/tint_ramps.h"

namespace platform::gtk {

class XGammaScreen : public gamma::GammaScreen {
 public:
  // `display` is an open Xlib Display*; it stays the caller's.
  explicit XGammaScreen(void* display);

  std::optional<std::vector<gamma::CrtcRead>> ReadRamps() override;
  std::optional<gamma::Ramp> ReadRamp(gamma::CrtcId crtc) override;
  bool WriteRamp(gamma::CrtcId crtc, const gamma::Ramp& ramp) override;

 private:
  void* display_;
  bool randr_ = false;
};

}  // namespace platform::gtk
