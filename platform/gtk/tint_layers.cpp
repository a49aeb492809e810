#include "platform/gtk/tint_layers.h"

#include <algorithm>

namespace platform::gtk {

namespace {

constexpr char kMonitorKey[] = "nm-monitor";

// The colour at the opacity as one premultiplied ARGB pixel, rounded once,
// so the compositor's blend over white gives 255 - a*(255-c)/255 exactly.
std::uint32_t Premultiplied(Colour colour, std::uint8_t alpha) {
  const auto bits = static_cast<std::uint32_t>(colour) & 0x00FFFFFFU;
  auto channel = [alpha](std::uint32_t c) { return (c * alpha + 127U) / 255U; };
  return (static_cast<std::uint32_t>(alpha) << 24) | (channel(bits & 0xFFU) << 16) |
         (channel((bits >> 8) & 0xFFU) << 8) | channel((bits >> 16) & 0xFFU);
}

bool Intersect(const GdkRectangle& a, const GdkRectangle& b, GdkRectangle* out) {
  return gdk_rectangle_intersect(&a, &b, out) != FALSE;
}

GdkMonitor* MonitorHolding(const GdkRectangle& area, GdkRectangle* geometry) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* found = display != nullptr
                          ? gdk_display_get_monitor_at_point(display, area.x + area.width / 2,
                                                             area.y + area.height / 2)
                          : nullptr;
  if (found != nullptr) gdk_monitor_get_geometry(found, geometry);
  return found;
}

}  // namespace

TintLayers::TintLayers(std::string title) : title_(std::move(title)) {
  if (GdkDisplay* display = gdk_display_get_default()) {
    // Outputs come and go on Wayland without the screen always saying so.
    monitorAdded_ =
        g_signal_connect(display, "monitor-added", G_CALLBACK(&TintLayers::OnMonitors), this);
    monitorRemoved_ =
        g_signal_connect(display, "monitor-removed", G_CALLBACK(&TintLayers::OnMonitors), this);
  }
}

TintLayers::~TintLayers() {
  if (GdkDisplay* display = gdk_display_get_default()) {
    for (gulong handler : {monitorAdded_, monitorRemoved_}) {
      if (handler != 0) g_signal_handler_disconnect(display, handler);
    }
  }
  for (const Above& above : above_) g_signal_handlers_disconnect_by_data(above.window, this);
  for (const Surface& surface : surfaces_)
    g_signal_handlers_disconnect_by_data(surface.window, this);
  for (GdkMonitor* monitor : closedMonitors_) g_object_unref(monitor);
}

bool TintLayers::Show(const Overlay& overlay) {
  overlay_ = overlay;
  Sync();
  return false;
}

void TintLayers::Hide() {
  overlay_.reset();
  Sync();
}

void TintLayers::MonitorsChanged() {
  for (GdkMonitor* monitor : closedMonitors_) g_object_unref(monitor);
  closedMonitors_.clear();
  Sync();
}

void TintLayers::OnMonitors(GdkDisplay* /*display*/, GdkMonitor* /*monitor*/, gpointer data) {
  static_cast<TintLayers*>(data)->MonitorsChanged();
}

void TintLayers::Sync() {
  GdkDisplay* display = gdk_display_get_default();
  std::vector<GdkMonitor*> wanted;
  if (overlay_ && display != nullptr) {
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
      GdkMonitor* monitor = gdk_display_get_monitor(display, i);
      if (monitor != nullptr && std::find(closedMonitors_.begin(), closedMonitors_.end(),
                                          monitor) == closedMonitors_.end()) {
        wanted.push_back(monitor);
      }
    }
  }
  // Surfaces of monitors that went, or of a tint that went.
  for (auto it = surfaces_.begin(); it != surfaces_.end();) {
    if (std::find(wanted.begin(), wanted.end(), it->monitor) == wanted.end()) {
      gtk_widget_destroy(it->window);
      g_object_unref(it->monitor);
      it = surfaces_.erase(it);
    } else {
      ++it;
    }
  }
  for (GdkMonitor* monitor : wanted) {
    const bool have = std::any_of(surfaces_.begin(), surfaces_.end(),
                                  [monitor](const Surface& s) { return s.monitor == monitor; });
    if (have) continue;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* gw = GTK_WINDOW(window);
    gtk_window_set_title(gw, title_.c_str());
    gtk_window_set_decorated(gw, FALSE);
    gtk_window_set_accept_focus(gw, FALSE);
    gtk_window_set_focus_on_map(gw, FALSE);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window))) {
      gtk_widget_set_visual(window, rgba);
    }
    gtk_widget_set_app_paintable(window, TRUE);
    layer::MakeTint(gw, monitor);
    g_object_set_data(G_OBJECT(window), kMonitorKey, monitor);
    g_signal_connect(window, "draw", G_CALLBACK(&TintLayers::OnDraw), this);
    g_signal_connect(window, "delete-event", G_CALLBACK(&TintLayers::OnClosed), this);
    surfaces_.push_back(Surface{GDK_MONITOR(g_object_ref(monitor)), window});
  }
  if (!overlay_) return;
  for (Surface& surface : surfaces_) {
    // Click-through: an empty input region, as on X11.
    if (overlay_->clickThrough) {
      cairo_region_t* empty = cairo_region_create();
      gtk_widget_input_shape_combine_region(surface.window, empty);
      cairo_region_destroy(empty);
    } else {
      gtk_widget_input_shape_combine_region(surface.window, nullptr);
    }
    if (gtk_widget_get_visible(surface.window) == FALSE) gtk_widget_show(surface.window);
    gtk_widget_queue_draw(surface.window);
  }
}

void TintLayers::Redraw() {
  for (Surface& surface : surfaces_) gtk_widget_queue_draw(surface.window);
}

gboolean TintLayers::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  auto* monitor = static_cast<GdkMonitor*>(g_object_get_data(G_OBJECT(widget), kMonitorKey));
  if (!self->overlay_ || monitor == nullptr) return TRUE;
  const Overlay& overlay = *self->overlay_;
  cairo_surface_t* pixel = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_surface_flush(pixel);
  *reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(pixel)) =
      Premultiplied(overlay.colour, overlay.translucent ? overlay.opacity : 255);
  cairo_surface_mark_dirty(pixel);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(pixel);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source(cr, pattern);
  cairo_paint(cr);
  // Clear where a window of ours is up, whether the compositor stacks it
  // above the tint or below.
  GdkRectangle geometry{};
  gdk_monitor_get_geometry(monitor, &geometry);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  for (const Above& above : self->above_) {
    GdkRectangle hole{};
    if (above.mapped && Intersect(above.area, geometry, &hole)) {
      cairo_rectangle(cr, hole.x - geometry.x, hole.y - geometry.y, hole.width, hole.height);
    }
  }
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_pattern_destroy(pattern);
  cairo_surface_destroy(pixel);
  return TRUE;
}

// The compositor closed a tint surface (its output is going): it goes, and
// comes back only on a change of monitors.
gboolean TintLayers::OnClosed(GtkWidget* widget, GdkEvent* /*event*/, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  for (auto it = self->surfaces_.begin(); it != self->surfaces_.end(); ++it) {
    if (it->window == widget) {
      self->closedMonitors_.push_back(it->monitor);  // keeps our reference
      self->surfaces_.erase(it);
      break;
    }
  }
  return FALSE;  // GTK destroys the window
}

void TintLayers::PlaceAboveTint(GtkWidget* window, const GdkRectangle& area,
                                layer::Keyboard keyboard) {
  GdkRectangle geometry{0, 0, 0, 0};
  GdkMonitor* monitor = MonitorHolding(area, &geometry);
  layer::MakeAboveTint(GTK_WINDOW(window), monitor, area.x - geometry.x, area.y - geometry.y,
                       keyboard);
  auto it = std::find_if(above_.begin(), above_.end(),
                         [window](const Above& a) { return a.window == window; });
  if (it != above_.end()) {
    it->area = area;
    Redraw();
    return;
  }
  above_.push_back(Above{window, area, gtk_widget_get_mapped(window) != FALSE});
  g_signal_connect(window, "map", G_CALLBACK(&TintLayers::OnAboveMapped), this);
  g_signal_connect(window, "unmap", G_CALLBACK(&TintLayers::OnAboveUnmapped), this);
  g_signal_connect(window, "destroy", G_CALLBACK(&TintLayers::OnAboveGone), this);
  g_signal_connect(window, "size-allocate", G_CALLBACK(&TintLayers::OnAboveAllocated), this);
}

void TintLayers::OnAboveMapped(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  for (Above& above : self->above_) {
    if (above.window == widget) above.mapped = true;
  }
  self->Redraw();
}

void TintLayers::OnAboveUnmapped(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  for (Above& above : self->above_) {
    if (above.window == widget) above.mapped = false;
  }
  self->Redraw();
}

void TintLayers::OnAboveGone(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  self->above_.erase(std::remove_if(self->above_.begin(), self->above_.end(),
                                    [widget](const Above& a) { return a.window == widget; }),
                     self->above_.end());
  self->Redraw();
}

// A window may come out larger than it asked to be: the clear place grows
// with it.
void TintLayers::OnAboveAllocated(GtkWidget* widget, GdkRectangle* allocation, gpointer data) {
  auto* self = static_cast<TintLayers*>(data);
  for (Above& above : self->above_) {
    if (above.window == widget &&
        (above.area.width != allocation->width || above.area.height != allocation->height)) {
      above.area.width = allocation->width;
      above.area.height = allocation->height;
      self->Redraw();
    }
  }
}

}  // namespace platform::gtk
