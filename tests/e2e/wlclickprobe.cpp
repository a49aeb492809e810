// A plain white GTK window for the Wayland end-to-end tests: the program
// "beneath" the tint, which logs the pointer presses and key presses it
// receives. In a tiling compositor it fills its output.
//
//   wlclickprobe <log file>
//
// The log gets "ready" once the window is drawn, then "down <x> <y>"
// (window pixels) for each left-button press and "key <name>" for each key
// press (F7, a). Reopened for every line, so a reader never sees half of
// one.
#include <gtk/gtk.h>

#include <cstdio>

namespace {

const char* g_logPath = nullptr;

void LogLine(const char* line) {
  FILE* f = std::fopen(g_logPath, "ab");
  if (f == nullptr) return;
  std::fputs(line, f);
  std::fputs("\n", f);
  std::fclose(f);
}

gboolean OnDraw(GtkWidget* /*widget*/, cairo_t* cr, gpointer /*data*/) {
  static bool ready = false;
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  if (!ready) {
    ready = true;
    LogLine("ready");
  }
  return TRUE;
}

gboolean OnButton(GtkWidget* /*widget*/, GdkEventButton* event, gpointer /*data*/) {
  if (event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
  char line[64];
  std::snprintf(line, sizeof line, "down %d %d", static_cast<int>(event->x),
                static_cast<int>(event->y));
  LogLine(line);
  return TRUE;
}

gboolean OnKey(GtkWidget* /*widget*/, GdkEventKey* event, gpointer /*data*/) {
  const char* name = gdk_keyval_name(event->keyval);
  char line[64];
  std::snprintf(line, sizeof line, "key %s", name != nullptr ? name : "?");
  LogLine(line);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: wlclickprobe <log file>\n");
    return 2;
  }
  g_logPath = argv[1];
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "wlclickprobe");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
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
