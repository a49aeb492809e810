// gtkclickprobe <log file>: a white window covering the screen, beneath the
// tint on X11 and Wayland, which can hold the keyboard while F7 is pressed.
// The log gets "ready" (on X11 "ready <window id>") once it is drawn, then
// "down <x> <y>" (screen pixels) per left-button press and "key <name>" per
// key press. Reopened for every line, so a reader never sees half of one.
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {

const char* g_logPath = nullptr;

void LogLine(const char* format, ...) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(g_logPath, "ab"), &std::fclose);
  if (!f) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(f.get(), format, args);
  va_end(args);
  std::fputc('\n', f.get());
}

gboolean OnDraw([[maybe_unused]] GtkWidget* widget, cairo_t* cr, gpointer /*data*/) {
  static bool ready = false;
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  if (ready) return TRUE;
  ready = true;
  unsigned long xid = 0;
#ifdef GDK_WINDOWING_X11
  // The tests activate the window by its X id.
  GdkWindow* window = gtk_widget_get_window(widget);
  if (GDK_IS_X11_WINDOW(window)) xid = gdk_x11_window_get_xid(window);
#endif
  LogLine(xid != 0 ? "ready %lu" : "ready", xid);
  return TRUE;
}

gboolean OnButton(GtkWidget* /*widget*/, GdkEventButton* event, gpointer /*data*/) {
  if (event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
  LogLine("down %d %d", static_cast<int>(event->x_root), static_cast<int>(event->y_root));
  return TRUE;
}

gboolean OnKey(GtkWidget* /*widget*/, GdkEventKey* event, gpointer /*data*/) {
  const char* name = gdk_keyval_name(event->keyval);
  LogLine("key %s", name != nullptr ? name : "?");
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <log file>\n", argv[0]);
    return 2;
  }
  g_logPath = argv[1];
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "clickprobe");
  // Under an X window manager it keeps its frame: an undecorated window the
  // size of a monitor counts as full screen there, and rises above the tint.
  bool x11 = false;
#ifdef GDK_WINDOWING_X11
  x11 = GDK_IS_X11_DISPLAY(gdk_display_get_default());
#endif
  gtk_window_set_decorated(GTK_WINDOW(window), x11);
  GdkWindow* root = gdk_get_default_root_window();
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  gtk_window_set_default_size(GTK_WINDOW(window), gdk_window_get_width(root),
                              gdk_window_get_height(root));
  // Placed by the program, not where the window manager would put it.
  GdkGeometry unused{};
  gtk_window_set_geometry_hints(
      GTK_WINDOW(window), nullptr, &unused,
      static_cast<GdkWindowHints>(GDK_HINT_USER_POS | GDK_HINT_USER_SIZE));
  gtk_widget_set_app_paintable(window, TRUE);
  gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
  g_signal_connect(window, "draw", G_CALLBACK(OnDraw), nullptr);
  g_signal_connect(window, "button-press-event", G_CALLBACK(OnButton), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show(window);
  gtk_main();
  return 0;
}
