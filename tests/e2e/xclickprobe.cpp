// A plain white X window that covers the screen and logs button presses,
// for the native end-to-end tests: it is the "X program beneath" the
// overlay, its white face keeps the tint measurable, and it can hold the
// keyboard focus while F7 is pressed.
//
//   xclickprobe <log file>
//
// The log gets "ready <window id>" once the window is mapped, then
// "down <x> <y>" (root pixels) for each left-button press and "key <name>"
// for each key press it receives (the key's X name: a, F7, space). The file is reopened for every line so a reader
// never sees a half-written line held back in a buffer.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>

namespace {

const char* g_log = nullptr;

void LogLine(const char* line) {
  FILE* f = std::fopen(g_log, "ab");
  if (f == nullptr) return;
  std::fputs(line, f);
  std::fputs("\n", f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xclickprobe <log file>\n");
    return 2;
  }
  g_log = argv[1];
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  const int screen = DefaultScreen(display);
  const unsigned width = DisplayWidth(display, screen);
  const unsigned height = DisplayHeight(display, screen);
  Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                      BlackPixel(display, screen), WhitePixel(display, screen));
  XStoreName(display, window, "xclickprobe");
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.width = static_cast<int>(width);
  hints.height = static_cast<int>(height);
  XSetWMNormalHints(display, window, &hints);
  XSelectInput(display, window, ButtonPressMask | KeyPressMask | StructureNotifyMask);
  XMapWindow(display, window);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    char line[64];
    switch (event.type) {
      case MapNotify:
        std::snprintf(line, sizeof line, "ready %lu", static_cast<unsigned long>(window));
        LogLine(line);
        break;
      case ButtonPress:
        if (event.xbutton.button == Button1) {
          std::snprintf(line, sizeof line, "down %d %d", event.xbutton.x_root,
                        event.xbutton.y_root);
          LogLine(line);
        }
        break;
      case KeyPress: {
        const char* name = XKeysymToString(XLookupKeysym(&event.xkey, 0));
        std::snprintf(line, sizeof line, "key %s", name != nullptr ? name : "?");
        LogLine(line);
        break;
      }
      default:
        break;
    }
  }
}
