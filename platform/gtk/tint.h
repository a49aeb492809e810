// One way of putting the overlay's tint on a Linux screen: the overlay's
// own translucent window (a compositing manager draws it), the CRTC gamma
// ramps (an X server without one), or layer-shell surfaces (Wayland). The
// session logic picks one (session::ChooseTintWay); the backend tells it
// each change of the overlay and of the monitors.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform::gtk {

// The overlay as the forms left it.
struct Overlay {
  Colour colour = 0;
  std::uint8_t opacity = 255;  // what the user set
  bool translucent = false;    // layered with a constant opacity: a tint
  bool clickThrough = false;
};

class Tint {
 public:
  virtual ~Tint() = default;
  // The overlay is up, or its colour, opacity or style changed. True when
  // the overlay's own window must be on screen for the tint.
  virtual bool Show(const Overlay& overlay) = 0;
  // The overlay went: its tint goes with it, the screen as found.
  virtual void Hide() = 0;
  // Monitors came, went or moved.
  virtual void MonitorsChanged() = 0;
};

}  // namespace platform::gtk
