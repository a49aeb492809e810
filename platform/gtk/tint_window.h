// The tint as the overlay's own translucent window, with a compositing
// manager to blend it over the screen (as on Windows). The window's
// opacity and input shape follow its layered style (GtkBackend), so there
// is nothing more to do than keep it on screen.
#pragma once

#include "platform/gtk/tint.h"

namespace platform::gtk {

class TintWindow : public Tint {
 public:
  bool Show(const Overlay& overlay) override;
  void Hide() override;
  void MonitorsChanged() override;
};

}  // namespace platform::gtk
