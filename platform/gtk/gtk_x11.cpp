// What the backend asks of the X server beyond GTK: the active window, the
// focus given to another program's window, the end of the connection, and
// the CRTC gamma ramps (XRandR) that carry the tint without a compositor.
// Apart from gtk_backend.cpp, whose names X11's macros would clash with;
// the backend's header comes first for the same reason.
#include "platform/gtk/gtk_backend.h"
// After the form model: X.h defines None, which names a border style.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>

#include "platform/app.h"

namespace platform {

namespace {
int DisplayLost(Display* /*display*/) {
  GtkBackend::OnDisplayLost();
  return 0;
}

// The ramps of every CRTC of the default screen through XRandR 1.2, on
// GDK's own connection. A CRTC may go between two requests: its errors
// are trapped, never fatal.
class XGammaScreen : public gamma::GammaScreen {
 public:
  explicit XGammaScreen(GdkDisplay* display)
      : display_(display), x_(GDK_DISPLAY_XDISPLAY(display)) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    randr_ = XRRQueryExtension(x_, &event, &error) != False &&
             XRRQueryVersion(x_, &major, &minor) != 0 && (major > 1 || (major == 1 && minor >= 2));
  }

  bool Composited() override {
    GdkScreen* screen = gdk_display_get_default_screen(display_);
    return screen != nullptr && gdk_screen_is_composited(screen) != FALSE;
  }

  std::vector<gamma::CrtcRamp> ReadRamps() override {
    std::vector<gamma::CrtcRamp> all;
    if (!randr_) return all;
    gdk_x11_display_error_trap_push(display_);
    if (XRRScreenResources* resources =
            XRRGetScreenResourcesCurrent(x_, gdk_x11_get_default_root_xwindow())) {
      for (int i = 0; i < resources->ncrtc; ++i) {
        const RRCrtc id = resources->crtcs[i];
        gamma::CrtcRamp crtc{id, {}};
        const int size = XRRGetCrtcGammaSize(x_, id);
        XRRCrtcGamma* ramps = size > 0 ? XRRGetCrtcGamma(x_, id) : nullptr;
        if (ramps != nullptr && ramps->size == size) {
          crtc.ramp.red.assign(ramps->red, ramps->red + size);
          crtc.ramp.green.assign(ramps->green, ramps->green + size);
          crtc.ramp.blue.assign(ramps->blue, ramps->blue + size);
        }
        if (ramps != nullptr) XRRFreeGamma(ramps);
        all.push_back(std::move(crtc));
      }
      XRRFreeScreenResources(resources);
    }
    gdk_x11_display_error_trap_pop_ignored(display_);
    return all;
  }

  bool WriteRamp(gamma::CrtcId crtc, const gamma::Ramp& ramp) override {
    const int size = static_cast<int>(ramp.size());
    if (!randr_ || size == 0) return false;
    XRRCrtcGamma* ramps = XRRAllocGamma(size);
    if (ramps == nullptr) return false;
    std::copy(ramp.red.begin(), ramp.red.end(), ramps->red);
    std::copy(ramp.green.begin(), ramp.green.end(), ramps->green);
    std::copy(ramp.blue.begin(), ramp.blue.end(), ramps->blue);
    gdk_x11_display_error_trap_push(display_);
    XRRSetCrtcGamma(x_, static_cast<RRCrtc>(crtc), ramps);
    // Waits for the server: the ramp is on screen when this returns.
    const int error = gdk_x11_display_error_trap_pop(display_);
    XRRFreeGamma(ramps);
    return error == 0;
  }

 private:
  GdkDisplay* display_;
  Display* x_;
  bool randr_ = false;
};

}  // namespace

bool GtkBackend::OpenTint() {
  if (tint_ != nullptr) return true;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  gammaScreen_ = std::make_unique<XGammaScreen>(display);
  displayName_ = DisplayString(GDK_DISPLAY_XDISPLAY(display));
  rampRecord_ = gamma::RecordPath(std::getenv("XDG_RUNTIME_DIR"), displayName_);
  tint_ = std::make_unique<gamma::TintRouter>(*gammaScreen_, rampRecord_, displayName_);
  return true;
}

void GtkBackend::GiveBackRampsLeftBehind() {
  // A running instance's record is the tint it holds now.
  if (PrevInstance(App.Title) || !OpenTint()) return;
  switch (gamma::GiveBackRecorded(*gammaScreen_, rampRecord_, displayName_)) {
    case gamma::RecordState::Read:
      std::fprintf(stderr,
                   "morvane-night: gave back the gamma ramps an earlier run left tinted "
                   "(recorded in %s)\n",
                   rampRecord_.c_str());
      break;
    case gamma::RecordState::Refused:
      std::fprintf(stderr,
                   "morvane-night: %s does not hold an intact record of gamma ramps; it was "
                   "not used and is removed\n",
                   rampRecord_.c_str());
      break;
    case gamma::RecordState::Absent:
      break;
  }
}

void GtkBackend::WatchDisplay() {
  if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) XSetIOErrorHandler(&DisplayLost);
}

// The active window as the window manager announces it on the root window
// (ours by our own handle, another program's by its X window id).
HWnd GtkBackend::ForegroundWindow() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return 0;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const Atom property = gdk_x11_get_xatom_by_name_for_display(display, "_NET_ACTIVE_WINDOW");
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  XID active = 0;
  gdk_x11_display_error_trap_push(display);
  if (XGetWindowProperty(x, DefaultRootWindow(x), property, 0, 1, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && type == XA_WINDOW && format == 32 && count == 1) {
    active = *reinterpret_cast<const unsigned long*>(data);
  }
  if (data != nullptr) XFree(data);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (active == 0) return 0;
  for (auto& [hwnd, w] : windows_) {
    GdkWindow* native = gtk_widget_get_window(w.window);
    if (native != nullptr && gdk_x11_window_get_xid(native) == active) return hwnd;
  }
  return static_cast<HWnd>(active);
}

namespace {
// The time a request for the focus of a window of ours goes with: the
// event being handled, or else now on the X server (asked through that
// window). The window manager turns down a request without one, as it
// would a window that no input led to.
guint32 FocusTime(GdkWindow* window) {
  const guint32 now = gtk_get_current_event_time();
  if (now != GDK_CURRENT_TIME || window == nullptr || !GDK_IS_X11_WINDOW(window)) return now;
  return gdk_x11_get_server_time(window);
}
}  // namespace

void GtkBackend::SetForegroundWindow(HWnd hwnd) {
  if (hwnd == 0) return;
  if (gtk::Window* w = Find(hwnd)) {
    gtk_window_present_with_time(GTK_WINDOW(w->window),
                                 FocusTime(gtk_widget_get_window(w->window)));
    return;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
  // Null when that window is gone.
  GdkWindow* other = gdk_x11_window_foreign_new_for_display(display, static_cast<::Window>(hwnd));
  if (other == nullptr) return;
  gdk_window_focus(other, gtk_get_current_event_time());
  g_object_unref(other);
}

void GtkBackend::DoEvents() {
  while (g_main_context_pending(nullptr) != FALSE) g_main_context_iteration(nullptr, FALSE);
}

}  // namespace platform
