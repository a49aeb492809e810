// What the backend asks of the X server beyond GTK: the active window, the
// focus given to another program's window, the end of the connection, and
// the connection to the gamma ramps. Apart from gtk_backend.cpp, whose
// names X11's macros would clash with; the backend's header comes first for
// the same reason.
#include "platform/gtk/gtk_backend.h"
// After the form model: X.h defines None, which names a border style.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>

#include "platform/app.h"
#include "platform/gtk/files.h"
#include "platform/gtk/tint_ramps.h"
#include "platform/gtk/x_gamma_screen.h"

namespace platform {

namespace {
int DisplayLost(Display* /*display*/) {
  GtkBackend::OnDisplayLost();
  return 0;
}

}  // namespace

bool GtkBackend::OpenRamps() {
  if (tintRamps_ != nullptr) return true;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  gammaScreen_ = std::make_unique<gtk::XGammaScreen>(GDK_DISPLAY_XDISPLAY(display));
  displayName_ = DisplayString(GDK_DISPLAY_XDISPLAY(display));
  const std::string server = ServerIdentity();
  rampRecord_ = gtk::files::PrivatePath(gamma::RecordName(server));
  tintRamps_ = std::make_unique<gamma::TintRamps>(*gammaScreen_, rampRecord_, server);
  return true;
}

// The name, not the number of the connection: ":0.0" and "unix:0" reach the
// server ":0" reaches.
std::string GtkBackend::ServerIdentity() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return "none";
  if (GDK_IS_X11_DISPLAY(display)) {
    return session::ServerName(DisplayString(GDK_DISPLAY_XDISPLAY(display)));
  }
  return gdk_display_get_name(display);
}

void GtkBackend::GiveBackAfterLoss() {
  if (tintRamps_ == nullptr || !tintRamps_->Holds() || displayName_.empty()) return;
  Display* fresh = XOpenDisplay(displayName_.c_str());
  if (fresh == nullptr) return;  // the server is gone, and its ramps with it
  gtk::XGammaScreen screen(fresh);
  tintRamps_->GiveBackThrough(screen);
  XCloseDisplay(fresh);
}

void GtkBackend::GiveBackRampsLeftBehind() {
  // A running instance's record is the tint it holds now.
  if (PrevInstance(App.Title) || !OpenRamps()) return;
  if (rampRecord_.empty()) return;
  const gamma::LeftBehind left =
      gamma::GiveBackRecorded(*gammaScreen_, rampRecord_, ServerIdentity());
  const char* removed = left.removed ? "it is removed" : "it could not be removed";
  if (left.state == gamma::RecordState::Refused) {
    std::fprintf(stderr,
                 "morvane-night: %s does not hold an intact record of gamma ramps; it was not "
                 "used, and %s\n",
                 rampRecord_.c_str(), removed);
    return;
  }
  if (left.givenBack > 0) {
    std::fprintf(stderr,
                 "morvane-night: gave back the gamma ramps an earlier run left tinted on %d "
                 "CRTC(s) (recorded in %s)\n",
                 left.givenBack, rampRecord_.c_str());
  }
  if (left.stale > 0) {
    std::fprintf(stderr,
                 "morvane-night: %d CRTC(s) no longer show the tint recorded in %s: their "
                 "ramps were set since and stay as they are\n",
                 left.stale, rampRecord_.c_str());
  }
  if (left.state == gamma::RecordState::Read && !left.removed) {
    std::fprintf(stderr, "morvane-night: %s could not be removed\n", rampRecord_.c_str());
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

}  // namespace platform
