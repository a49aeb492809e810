// The native floor: the least the Linux side of this design can do. GTK 3
// on X11, as the native program is: one undecorated, always-on-top window
// over the whole screen in the tool's default colour at its default opacity
// (_NET_WM_WINDOW_OPACITY, drawn by the compositing manager), with an empty
// input shape so that clicks reach the windows beneath, never focused; and
// one 100 ms timer that asks the X server's key map whether F7 is down. No
// settings, no splash, no panel, no text. bench/run measures morvane-night
// against this program.
//
// Built by the linux tree (bench/CMakeLists.txt) as bench/floor-gtk.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace {

constexpr double kOpacity = 150.0 / 255.0;  // the tool's default opacity...
constexpr double kRed = 0.0;                // ...and colour, 0x00004000
constexpr double kGreen = 64.0 / 255.0;
constexpr double kBlue = 0.0;

Display* display = nullptr;
KeyCode f7 = 0;
// Where the poll's answer goes, so the compiler keeps the call.
volatile bool f7Down = false;

gboolean Draw(GtkWidget* /*widget*/, cairo_t* cr, gpointer /*data*/) {
  cairo_set_source_rgb(cr, kRed, kGreen, kBlue);
  cairo_paint(cr);
  return TRUE;
}

// GTK hands a toplevel's opacity to its X window only once that exists.
void Realize(GtkWidget* widget, gpointer /*data*/) {
  gdk_window_set_opacity(gtk_widget_get_window(widget), kOpacity);
}

gboolean Poll(gpointer /*data*/) {
  char keys[32] = {};
  XQueryKeymap(display, keys);
  f7Down = (keys[f7 / 8] & (1 << (f7 % 8))) != 0;
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  gdk_set_allowed_backends("x11");
  if (gtk_init_check(&argc, &argv) == FALSE) return 1;
  display = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  f7 = XKeysymToKeycode(display, XK_F7);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  auto* gw = GTK_WINDOW(window);
  gtk_window_set_decorated(gw, FALSE);
  gtk_window_set_skip_taskbar_hint(gw, TRUE);
  gtk_window_set_skip_pager_hint(gw, TRUE);
  gtk_window_set_accept_focus(gw, FALSE);
  gtk_window_set_focus_on_map(gw, FALSE);
  gtk_window_set_keep_above(gw, TRUE);
  gtk_widget_set_app_paintable(window, TRUE);
  const int screen = DefaultScreen(display);
  gtk_window_move(gw, 0, 0);
  gtk_window_set_default_size(gw, DisplayWidth(display, screen), DisplayHeight(display, screen));
  g_signal_connect(window, "draw", G_CALLBACK(Draw), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect_after(window, "realize", G_CALLBACK(Realize), nullptr);
  cairo_region_t* none = cairo_region_create();
  gtk_widget_input_shape_combine_region(window, none);
  cairo_region_destroy(none);
  gtk_widget_show(window);

  g_timeout_add(100, Poll, nullptr);
  gtk_main();
  return 0;
}
