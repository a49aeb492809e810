// The tint on a Wayland compositor with layer shell: one surface per
// monitor on the overlay layer, painted in the colour at the opacity and
// blended by the compositor, with no input region and no keyboard. The
// windows of ours that must stay readable (panel, splash) lie on the same
// layer; the compositor may stack them above or below the tint, so the
// tint leaves their place clear. Dialogs are ordinary windows beneath the
// tint, which takes no clicks.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/layer.h"
#include "platform/gtk/tint.h"

namespace platform::gtk {

class TintLayers : public Tint {
 public:
  // `title`: the overlay's caption, given to every tint surface.
  explicit TintLayers(std::string title);
  ~TintLayers() override;
  TintLayers(const TintLayers&) = delete;
  TintLayers& operator=(const TintLayers&) = delete;

  bool Show(const Overlay& overlay) override;
  void Hide() override;
  // Monitors whose surface the compositor closed are tried again.
  void MonitorsChanged() override;

  // Puts a window that is about to be shown over the tint, at `area`
  // (pixels of the whole screen). Called again it only moves the window.
  void PlaceAboveTint(GtkWidget* window, const GdkRectangle& area, layer::Keyboard keyboard);

 private:
  struct Surface {
    GdkMonitor* monitor;  // a reference of ours
    GtkWidget* window;
  };
  struct Above {
    GtkWidget* window;
    GdkRectangle area;  // pixels of the whole screen
    bool mapped;
  };

  void Sync();
  void Redraw();
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data);
  static gboolean OnClosed(GtkWidget* widget, GdkEvent* event, gpointer data);
  static void OnMonitors(GdkDisplay* display, GdkMonitor* monitor, gpointer data);
  static void OnAboveMapped(GtkWidget* widget, gpointer data);
  static void OnAboveUnmapped(GtkWidget* widget, gpointer data);
  static void OnAboveGone(GtkWidget* widget, gpointer data);
  static void OnAboveAllocated(GtkWidget* widget, GdkRectangle* allocation, gpointer data);

  std::string title_;
  std::optional<Overlay> overlay_;  // while the overlay is up
  std::vector<Surface> surfaces_;
  // Monitors whose tint surface the compositor closed: not tried again
  // until the monitors change.
  std::vector<GdkMonitor*> closedMonitors_;
  std::vector<Above> above_;
  gulong monitorAdded_ = 0;
  gulong monitorRemoved_ = 0;
};

}  // namespace platform::gtk
