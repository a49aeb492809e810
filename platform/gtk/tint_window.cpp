#include "platform/gtk/tint_window.h"

namespace platform::gtk {

bool TintWindow::Show(const Overlay& /*overlay*/) { return true; }

// The window goes with its form.
void TintWindow::Hide() {}

// A maximised window follows the monitors itself (GtkBackend::PlaceMaximised).
void TintWindow::MonitorsChanged() {}

}  // namespace platform::gtk
