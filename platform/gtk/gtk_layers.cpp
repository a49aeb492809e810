// The tint on a Wayland compositor with layer shell: one surface per
// monitor on the overlay layer, painted in the colour at the opacity and
// blended by the compositor, with no input region and no keyboard; and the
// windows of ours that stay readable over it.
#include <algorithm>

#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/layer.h"
#include "platform/user32.h"

namespace platform {

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

}  // namespace

void GtkBackend::SyncTintSurfaces() {
  gtk::Window* w = TintWindow();
  GdkDisplay* display = gdk_display_get_default();
  std::vector<GdkMonitor*> wanted;
  if (w != nullptr && w->shown && display != nullptr) {
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
      GdkMonitor* monitor = gdk_display_get_monitor(display, i);
      if (monitor != nullptr && std::find(closedMonitors_.begin(), closedMonitors_.end(),
                                          monitor) == closedMonitors_.end()) {
        wanted.push_back(monitor);
      }
    }
  }
  // Surfaces of monitors that went, or of a tint that went.
  for (auto it = tintSurfaces_.begin(); it != tintSurfaces_.end();) {
    if (std::find(wanted.begin(), wanted.end(), it->monitor) == wanted.end()) {
      gtk_widget_destroy(it->window);
      g_object_unref(it->monitor);
      it = tintSurfaces_.erase(it);
    } else {
      ++it;
    }
  }
  for (GdkMonitor* monitor : wanted) {
    const bool have = std::any_of(tintSurfaces_.begin(), tintSurfaces_.end(),
                                  [monitor](const TintSurface& s) { return s.monitor == monitor; });
    if (have) continue;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    auto* gw = GTK_WINDOW(window);
    gtk_window_set_title(gw, w->form->Caption.c_str());
    gtk_window_set_decorated(gw, FALSE);
    gtk_window_set_accept_focus(gw, FALSE);
    gtk_window_set_focus_on_map(gw, FALSE);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window))) {
      gtk_widget_set_visual(window, rgba);
    }
    gtk_widget_set_app_paintable(window, TRUE);
    gtk::layer::MakeTint(gw, monitor);
    g_object_set_data(G_OBJECT(window), kMonitorKey, monitor);
    g_signal_connect(window, "draw", G_CALLBACK(&GtkBackend::OnTintDraw), this);
    g_signal_connect(window, "delete-event", G_CALLBACK(&GtkBackend::OnTintClosed), this);
    tintSurfaces_.push_back(TintSurface{GDK_MONITOR(g_object_ref(monitor)), window});
  }
  if (w == nullptr) return;
  for (TintSurface& surface : tintSurfaces_) {
    // Click-through: an empty input region, as on X11.
    if (w->clickThrough) {
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

void GtkBackend::RedrawTint() {
  for (TintSurface& surface : tintSurfaces_) gtk_widget_queue_draw(surface.window);
}

gboolean GtkBackend::OnTintDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->TintWindow();
  auto* monitor = static_cast<GdkMonitor*>(g_object_get_data(G_OBJECT(widget), kMonitorKey));
  if (w == nullptr || monitor == nullptr) return TRUE;
  const bool translucent = (w->exStyle & WS_EX_LAYERED) != 0 && w->layered;
  cairo_surface_t* pixel = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_surface_flush(pixel);
  *reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(pixel)) =
      Premultiplied(w->form->BackColor, translucent ? w->alpha : 255);
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
  for (const Lifted& lifted : self->lifted_) {
    GdkRectangle hole{};
    if (lifted.mapped && Intersect(lifted.area, geometry, &hole)) {
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
gboolean GtkBackend::OnTintClosed(GtkWidget* widget, GdkEvent* /*event*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (auto it = self->tintSurfaces_.begin(); it != self->tintSurfaces_.end(); ++it) {
    if (it->window == widget) {
      self->closedMonitors_.push_back(it->monitor);  // keeps our reference
      self->tintSurfaces_.erase(it);
      break;
    }
  }
  return FALSE;  // GTK destroys the window
}

void GtkBackend::OnMonitorsChanged(GdkDisplay* /*display*/, GdkMonitor* /*monitor*/,
                                   gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (GdkMonitor* monitor : self->closedMonitors_) g_object_unref(monitor);
  self->closedMonitors_.clear();
  self->SyncTintSurfaces();
}

GdkMonitor* GtkBackend::MonitorHolding(const GdkRectangle& area, GdkRectangle* geometry) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* found = display != nullptr
                          ? gdk_display_get_monitor_at_point(display, area.x + area.width / 2,
                                                             area.y + area.height / 2)
                          : nullptr;
  if (found != nullptr) gdk_monitor_get_geometry(found, geometry);
  return found;
}

void GtkBackend::LiftAbove(GtkWidget* window, const GdkRectangle& area,
                           gtk::layer::Keyboard keyboard) {
  GdkRectangle geometry{0, 0, 0, 0};
  GdkMonitor* monitor = MonitorHolding(area, &geometry);
  gtk::layer::MakeLifted(GTK_WINDOW(window), monitor, area.x - geometry.x, area.y - geometry.y,
                         keyboard);
  auto it = std::find_if(lifted_.begin(), lifted_.end(),
                         [window](const Lifted& l) { return l.window == window; });
  if (it != lifted_.end()) {
    it->area = area;
    RedrawTint();
    return;
  }
  lifted_.push_back(Lifted{window, area, gtk_widget_get_mapped(window) != FALSE});
  g_signal_connect(window, "map", G_CALLBACK(&GtkBackend::OnLiftedMapped), this);
  g_signal_connect(window, "unmap", G_CALLBACK(&GtkBackend::OnLiftedUnmapped), this);
  g_signal_connect(window, "destroy", G_CALLBACK(&GtkBackend::OnLiftedGone), this);
  g_signal_connect(window, "size-allocate", G_CALLBACK(&GtkBackend::OnLiftedAllocated), this);
}

void GtkBackend::OnLiftedMapped(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (Lifted& lifted : self->lifted_) {
    if (lifted.window == widget) lifted.mapped = true;
  }
  self->RedrawTint();
}

void GtkBackend::OnLiftedUnmapped(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (Lifted& lifted : self->lifted_) {
    if (lifted.window == widget) lifted.mapped = false;
  }
  self->RedrawTint();
}

void GtkBackend::OnLiftedGone(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  self->lifted_.erase(std::remove_if(self->lifted_.begin(), self->lifted_.end(),
                                     [widget](const Lifted& l) { return l.window == widget; }),
                      self->lifted_.end());
  self->RedrawTint();
}

// A window may come out larger than it asked to be: the clear place grows
// with it.
void GtkBackend::OnLiftedAllocated(GtkWidget* widget, GdkRectangle* allocation, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (Lifted& lifted : self->lifted_) {
    if (lifted.window == widget &&
        (lifted.area.width != allocation->width || lifted.area.height != allocation->height)) {
      lifted.area.width = allocation->width;
      lifted.area.height = allocation->height;
      self->RedrawTint();
    }
  }
}

}  // namespace platform
