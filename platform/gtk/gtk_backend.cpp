// Windows of forms, input, timers and loops on GTK 3, and the wiring of the
// tint to the way chosen for it.
#include "platform/gtk/gtk_backend.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/app.h"
#include "platform/gtk/layer.h"
#include "platform/gtk/tint_layers.h"
#include "platform/gtk/tint_ramps.h"
#include "platform/gtk/tint_window.h"
#include "platform/gtk/x_gamma_screen.h"
#include "platform/runtime.h"
#include "platform/user32.h"

namespace platform {

namespace {

constexpr std::int32_t kDialogModalFrame = 0x00000001;  // WS_EX_DLGMODALFRAME
constexpr char kHandleKey[] = "nm-hwnd";

int Scaled(int pixelsAt96, int dpi) {
  return static_cast<int>(std::lround(pixelsAt96 * static_cast<double>(dpi) / 96.0));
}

// The border a window without a title bar draws round its client area, as
// the form's border style asks for: a plain line or a raised dialog frame.
int FrameFor(const Form& form, int dpi) {
  if (!form.Caption.empty() || form.windowState == WindowState::Maximized) return 0;
  switch (form.borderStyle) {
    case BorderStyle::None:
      return 0;
    case BorderStyle::FixedSingle:
      return 1;
    case BorderStyle::FixedDialog:
      return Scaled(3, dpi);
    case BorderStyle::Sizable:
      return Scaled(4, dpi);
  }
  return 0;
}

int ShiftOf(guint state) {
  return ShiftState((state & GDK_SHIFT_MASK) != 0, (state & GDK_CONTROL_MASK) != 0,
                    (state & GDK_MOD1_MASK) != 0);
}

// The virtual-key code of the keys the forms react to; 0 for the rest.
int KeyCodeOf(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Escape:
      return vbKeyEscape;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up:
      return vbKeyPageUp;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down:
      return vbKeyPageDown;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
      return vbKeyEnd;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
      return vbKeyHome;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
      return vbKeyLeft;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      return vbKeyUp;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
      return vbKeyRight;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      return vbKeyDown;
    default:
      return 0;
  }
}

int ButtonsOf(guint state) {
  return MouseButtons((state & GDK_BUTTON1_MASK) != 0, (state & GDK_BUTTON3_MASK) != 0,
                      (state & GDK_BUTTON2_MASK) != 0);
}

int ButtonOf(guint button) {
  switch (button) {
    case 1:
      return kLeftButton;
    case 2:
      return kMiddleButton;
    case 3:
      return kRightButton;
    default:
      return 0;
  }
}

}  // namespace

struct GtkBackend::ArmedTimer {
  GtkBackend* backend;
  Form* form;
  Timer* timer;
  GSource* source;
};

bool GtkBackend::displayLost_ = false;
GtkBackend* GtkBackend::current_ = nullptr;

GtkBackend::GtkBackend()
    : jobsBeside_(
          [](JobsBeside::Job* job) -> void* {
            return g_thread_try_new(
                "beside",
                [](gpointer owned) -> gpointer {
                  JobsBeside::RunOwned(owned);
                  return nullptr;
                },
                job, nullptr);
          },
          [](void* thread) { g_thread_join(static_cast<GThread*>(thread)); }),
      layerShell_(gtk::layer::Active()) {
  current_ = this;
  // The windows shown over the tint are placed by it from the first.
  if (layerShell_) tintLayers_ = std::make_unique<gtk::TintLayers>(App.Title);
  if (GdkScreen* screen = gdk_screen_get_default()) {
    screenHandler_ =
        g_signal_connect(screen, "size-changed", G_CALLBACK(&GtkBackend::OnScreenChanged), this);
    // A monitor added, removed or moved does not always change the
    // screen's size.
    monitorsHandler_ = g_signal_connect(screen, "monitors-changed",
                                        G_CALLBACK(&GtkBackend::OnScreenChanged), this);
    // A compositing manager starting or stopping moves the tint between
    // the overlay's window and the gamma ramps.
    compositedHandler_ = g_signal_connect(screen, "composited-changed",
                                          G_CALLBACK(&GtkBackend::OnCompositedChanged), this);
  }
  // Every polite way of stopping a process ends the program as its exit
  // label does, values stored.
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    signalSources_.push_back(g_unix_signal_add(signal, &GtkBackend::OnStopSignal, this));
  }
  WatchDisplay();
  // F7 counts from the start: a press before the overlay's first poll
  // waits in the watch's connection instead of being missed.
  keys_ = std::make_unique<gtk::GlobalKeys>();
}

// The process ends right after this runs (End, or the last form gone): the
// windows go with the connection to the X server; the ramps are ours to
// give back.
GtkBackend::~GtkBackend() {
  if (current_ == this) current_ = nullptr;
  if (holdSource_ != 0) g_source_remove(holdSource_);
  GiveBackRamps();
  StopTimers();
  if (GdkScreen* screen = gdk_screen_get_default()) {
    for (gulong handler : {screenHandler_, monitorsHandler_, compositedHandler_}) {
      if (handler != 0) g_signal_handler_disconnect(screen, handler);
    }
  }
  for (guint source : signalSources_) g_source_remove(source);
  FinishJobsBeside();
}

gboolean GtkBackend::OnStopSignal(gpointer /*data*/) {
  Runtime::Get().DeliverEndRequest();
  return G_SOURCE_CONTINUE;
}

// Xlib ends the process when this returns; nothing here may use the
// connection that was lost.
void GtkBackend::OnDisplayLost() {
  // The connection the ramps go back through failed as well.
  if (displayLost_) ::_exit(0);
  displayLost_ = true;
  if (current_ != nullptr) current_->GiveBackAfterLoss();
  Runtime::Get().DeliverEndRequest();
  std::fflush(nullptr);
  ::_exit(0);
}

int GtkBackend::ScreenDpi() {
  GdkScreen* screen = gdk_screen_get_default();
  const double resolution = screen != nullptr ? gdk_screen_get_resolution(screen) : -1.0;
  return resolution > 0 ? static_cast<int>(std::lround(resolution)) : 96;
}

namespace {

GdkRectangle ToGdk(const Rect& rect) {
  return GdkRectangle{rect.left, rect.top, rect.Width(), rect.Height()};
}

}  // namespace

std::vector<Monitor> GtkBackend::Monitors() {
  std::vector<Monitor> monitors;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return monitors;
  const int dpi = ScreenDpi();
  const int count = gdk_display_get_n_monitors(display);
  for (int i = 0; i < count; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    if (monitor == nullptr) continue;
    GdkRectangle area{};
    gdk_monitor_get_geometry(monitor, &area);
    monitors.push_back(Monitor{Rect{area.x, area.y, area.x + area.width, area.y + area.height}, dpi,
                               gdk_monitor_is_primary(monitor) != FALSE});
  }
  return monitors;
}

std::optional<Point> GtkBackend::PointerPosition() {
  // A Wayland client learns where the pointer is only over its own
  // surfaces, and the tint takes none of it.
  if (layerShell_) return std::nullopt;
  GdkDisplay* display = gdk_display_get_default();
  GdkSeat* seat = display != nullptr ? gdk_display_get_default_seat(display) : nullptr;
  GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
  if (pointer == nullptr) return std::nullopt;
  Point at;
  gdk_device_get_position(pointer, nullptr, &at.x, &at.y);
  return at;
}

gtk::Window* GtkBackend::Find(HWnd hwnd) {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

gtk::Window* GtkBackend::WindowOf(const Form& form) { return Find(form.Handle()); }

gtk::Window* GtkBackend::WindowOfWidget(GtkWidget* widget) {
  const auto hwnd = reinterpret_cast<HWnd>(g_object_get_data(G_OBJECT(widget), kHandleKey));
  return Find(hwnd);
}

// --- windows of forms -----------------------------------------------------

HWnd GtkBackend::CreateFormWindow(Form& form) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (window == nullptr) return 0;
  const HWnd hwnd = nextHandle_;
  nextHandle_ += 4;
  const int dpi = ScreenDpi();

  gtk::Window& w = windows_[hwnd];
  w.form = &form;
  w.window = window;
  w.exStyle = form.borderStyle == BorderStyle::FixedDialog ? kDialogModalFrame : 0;
  w.frame = FrameFor(form, dpi);
  w.clientWidth = ToPixels(form.ClientWidth, dpi);
  w.clientHeight = ToPixels(form.ClientHeight, dpi);

  auto* gw = GTK_WINDOW(window);
  gtk_window_set_title(gw, form.Caption.c_str());
  // A title bar only where Windows would draw one: a caption and a border.
  gtk_window_set_decorated(gw, !form.Caption.empty() && form.borderStyle != BorderStyle::None);
  gtk_window_set_resizable(
      gw, form.borderStyle == BorderStyle::Sizable && form.windowState != WindowState::Maximized);
  if (!form.ShowInTaskbar) {
    gtk_window_set_skip_taskbar_hint(gw, TRUE);
    gtk_window_set_skip_pager_hint(gw, TRUE);
  }
  if (form.borderStyle == BorderStyle::FixedDialog) {
    gtk_window_set_type_hint(gw, GDK_WINDOW_TYPE_HINT_DIALOG);
  }
  if (!form.TakesKeyboard) {
    // Never the window the keys go to: not when shown, not when the
    // window manager looks for one to focus after another went.
    gtk_window_set_accept_focus(gw, FALSE);
    gtk_window_set_focus_on_map(gw, FALSE);
  }
  g_object_set_data(G_OBJECT(window), kHandleKey, reinterpret_cast<gpointer>(hwnd));
  g_signal_connect(window, "delete-event", G_CALLBACK(&GtkBackend::OnDelete), this);
  g_signal_connect_after(window, "realize", G_CALLBACK(&GtkBackend::OnRealize), this);
  g_signal_connect(window, "map-event", G_CALLBACK(&GtkBackend::OnMapped), this);
  g_signal_connect(window, "key-press-event", G_CALLBACK(&GtkBackend::OnKey), this);

  GtkWidget* area = gtk_drawing_area_new();
  w.area = area;
  g_object_set_data(G_OBJECT(area), kHandleKey, reinterpret_cast<gpointer>(hwnd));
  gtk_widget_add_events(area,
                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
  gtk_widget_set_size_request(area, w.clientWidth + 2 * w.frame, w.clientHeight + 2 * w.frame);
  g_signal_connect(area, "draw", G_CALLBACK(&GtkBackend::OnDraw), this);
  g_signal_connect(area, "button-press-event", G_CALLBACK(&GtkBackend::OnButton), this);
  g_signal_connect(area, "button-release-event", G_CALLBACK(&GtkBackend::OnButton), this);
  g_signal_connect(area, "motion-notify-event", G_CALLBACK(&GtkBackend::OnMotion), this);
  g_signal_connect(area, "grab-broken-event", G_CALLBACK(&GtkBackend::OnGrabBroken), this);
  gtk_container_add(GTK_CONTAINER(window), area);
  gtk_widget_show(area);
  return hwnd;
}

void GtkBackend::DestroyFormWindow(Form& form) {
  const HWnd hwnd = form.Handle();
  gtk::Window* w = Find(hwnd);
  if (w == nullptr) return;
  // The overlay takes its tint with it, from the ramps too.
  if (form.SpansAllMonitors) HideTint();
  GtkWidget* window = w->window;
  windows_.erase(hwnd);
  gtk_widget_destroy(window);
}

void GtkBackend::PlaceMaximised(gtk::Window& w) {
  // The whole monitor, panels included, as a maximised window without a
  // border covers it on Windows; or every monitor.
  const std::vector<Monitor> monitors = Monitors();
  const Monitor* primary = PrimaryMonitor(monitors);
  const GdkRectangle area = ToGdk(
      CoveredArea(*w.form, primary != nullptr ? primary->bounds : Rect{0, 0, 1024, 768}, monitors));
  w.clientWidth = area.width;
  w.clientHeight = area.height;
  w.x = area.x;
  w.y = area.y;
  gtk_widget_set_size_request(w.area, area.width, area.height);
  gtk_window_move(GTK_WINDOW(w.window), area.x, area.y);
  gtk_window_resize(GTK_WINDOW(w.window), area.width, area.height);
}

void GtkBackend::ShowFormWindow(Form& form, Form* owner) {
  gtk::Window* w = WindowOf(form);
  if (w == nullptr) return;
  auto* gw = GTK_WINDOW(w->window);
  if (gtk_widget_get_visible(w->window) != FALSE) {
    // Showing a form that is up already only brings it forward.
    gtk_window_present(gw);
    return;
  }
  gtk::Window* ownerWindow = owner != nullptr ? WindowOf(*owner) : nullptr;
  // An owned window stays above its owner. A layer surface has no owner;
  // it is put over the tint instead (TintLayers::PlaceAboveTint).
  if (ownerWindow != nullptr && !layerShell_) {
    gtk_window_set_transient_for(gw, GTK_WINDOW(ownerWindow->window));
  }

  if (form.windowState == WindowState::Maximized) {
    PlaceMaximised(*w);
  } else {
    const int width = w->clientWidth + 2 * w->frame;
    const int height = w->clientHeight + 2 * w->frame;
    int x = 0;
    int y = 0;
    if (form.startUpPosition != StartUpPosition::Manual) {
      std::optional<Rect> ownerBounds;
      if (ownerWindow != nullptr && gtk_widget_get_visible(ownerWindow->window) != FALSE) {
        ownerBounds = Rect{ownerWindow->x, ownerWindow->y,
                           ownerWindow->x + ownerWindow->clientWidth + 2 * ownerWindow->frame,
                           ownerWindow->y + ownerWindow->clientHeight + 2 * ownerWindow->frame};
      }
      const Rect area = CentringArea(form, owner, ownerBounds, Monitors(), PointerPosition());
      const Point at = CentredOn(area, width, height);
      x = at.x;
      y = at.y;
    }
    w->x = x;
    w->y = y;
    gtk_window_move(gw, x, y);
  }
  if (form.windowState == WindowState::Minimized) gtk_window_iconify(gw);
  w->shown = true;
  if (form.SpansAllMonitors) {
    ChooseTint();  // maps the window where the tint is the window
    return;
  }
  if (tintLayers_ != nullptr) {
    tintLayers_->PlaceAboveTint(
        w->window,
        GdkRectangle{w->x, w->y, w->clientWidth + 2 * w->frame, w->clientHeight + 2 * w->frame},
        form.TakesKeyboard ? gtk::layer::Keyboard::OnDemand : gtk::layer::Keyboard::None);
  }
  gtk_widget_show(w->window);
  // A form shown over its owner (the panel) takes the keyboard, as on
  // Windows: the keys that open it were pressed in another program.
  if (owner != nullptr && form.TakesKeyboard && !layerShell_) SetForegroundWindow(form.Handle());
}

bool GtkBackend::FormWindowEnabled(Form& form) {
  const gtk::Window* w = WindowOf(form);
  return w != nullptr && w->enabled;
}

void GtkBackend::EnableFormWindow(Form& form, bool enable) {
  if (gtk::Window* w = WindowOf(form)) w->enabled = enable;
}

void GtkBackend::RunModalLoop(Form& form) {
  KeepTimersTicking();
  while (form.IsShown() && !quit_) g_main_context_iteration(nullptr, TRUE);
}

void GtkBackend::Invalidate(Form& form, const Control& control) {
  gtk::Window* w = WindowOf(form);
  if (w == nullptr || w->area == nullptr) return;
  const GdkRectangle box = ControlBounds(*w, control, ScreenDpi());
  if (box.width > 0 && box.height > 0) {
    gtk_widget_queue_draw_area(w->area, box.x + w->frame, box.y + w->frame, box.width, box.height);
  }
}

void GtkBackend::BackColorChanged(Form& form) {
  gtk::Window* w = WindowOf(form);
  if (w == nullptr || w->area == nullptr) return;
  // The overlay's colour is the tint's.
  if (form.SpansAllMonitors) TellTint();
  gtk_widget_queue_draw(w->area);
}

void GtkBackend::UpdateTimer(Form& form, Timer& timer) {
  auto it = timers_.find(&timer);
  if (it != timers_.end()) {
    g_source_destroy(it->second->source);
    g_source_unref(it->second->source);
    timers_.erase(it);
  }
  if (!form.IsLoaded() || WindowOf(form) == nullptr || !timer.Enabled || timer.Interval <= 0) {
    return;
  }
  // A fresh interval from now.
  auto* armed = new ArmedTimer{this, &form, &timer, nullptr};
  GSource* source = g_timeout_source_new(static_cast<guint>(timer.Interval.get()));
  g_source_set_callback(source, &GtkBackend::OnTimer, armed,
                        [](gpointer data) { delete static_cast<ArmedTimer*>(data); });
  g_source_attach(source, nullptr);
  armed->source = source;
  timers_[&timer] = armed;
}

// A Windows timer ticks on in a nested message loop (a modal form, a
// message box or a dialog shown from its own tick, as the overlay's shows
// the panel). A GLib source does not run again while it is being
// dispatched, and one that may recurse wakes the main loop once more after
// every tick, a tenth more CPU for the idle program: so each nested loop
// arms the timers afresh instead, and the tick that was in progress finds
// its source replaced when it returns.
void GtkBackend::KeepTimersTicking() {
  std::vector<std::pair<Form*, Timer*>> live;
  live.reserve(timers_.size());
  for (const auto& [timer, armed] : timers_) live.emplace_back(armed->form, timer);
  for (const auto& [form, timer] : live) UpdateTimer(*form, *timer);
}

gboolean GtkBackend::OnTimer(gpointer data) {
  // GLib holds the callback data until this returns, even when the timer
  // is re-armed or stopped from inside the tick.
  auto* armed = static_cast<ArmedTimer*>(data);
  GtkBackend* self = armed->backend;
  auto current = [&] {
    auto it = self->timers_.find(armed->timer);
    return it != self->timers_.end() && it->second == armed;
  };
  if (!current()) return G_SOURCE_REMOVE;
  Runtime::Get().DeliverTimer(*armed->form, *armed->timer);
  return current() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// --- input ------------------------------------------------------------------

gboolean GtkBackend::OnButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  if (w == nullptr || w->form == nullptr) return FALSE;
  // Double-clicks are told apart below, as Windows does, so that the
  // second press of one is not also a press.
  if (event->type == GDK_2BUTTON_PRESS || event->type == GDK_3BUTTON_PRESS) return TRUE;
  const int button = ButtonOf(event->button);
  if (button == 0) return FALSE;
  const int dpi = ScreenDpi();
  const Twips x = PixelsToTwips(static_cast<float>(event->x - w->frame), dpi);
  const Twips y = PixelsToTwips(static_cast<float>(event->y - w->frame), dpi);
  const int shift = ShiftOf(event->state);
  Form& form = *w->form;

  if (event->type == GDK_BUTTON_PRESS) {
    if (!w->enabled) return TRUE;
    gint doubleTime = 400;
    gint doubleDistance = 5;
    g_object_get(gtk_widget_get_settings(widget), "gtk-double-click-time", &doubleTime,
                 "gtk-double-click-distance", &doubleDistance, nullptr);
    const bool isDouble = button == w->lastPressButton && w->lastPressTime != 0 &&
                          event->time - w->lastPressTime <= static_cast<guint32>(doubleTime) &&
                          std::fabs(event->x - w->lastPressX) <= doubleDistance &&
                          std::fabs(event->y - w->lastPressY) <= doubleDistance;
    // A third press starts afresh.
    w->lastPressTime = isDouble ? 0 : event->time;
    w->lastPressButton = button;
    w->lastPressX = event->x;
    w->lastPressY = event->y;
    w->buttonsHeld |= button;
    // GTK keeps the pointer on this window while a button is held (an
    // implicit grab), so the release comes here wherever it happens.
    const MouseAction action =
        isDouble && button == kLeftButton ? MouseAction::DblClick : MouseAction::Down;
    Runtime::Get().DeliverMouse(form, action, button, shift, x, y);
    return TRUE;
  }
  if (event->type == GDK_BUTTON_RELEASE) {
    if ((w->buttonsHeld & button) == 0) return TRUE;
    // Released before the event: a click may open a dialog of its own.
    w->buttonsHeld &= ~button;
    Runtime::Get().DeliverMouse(form, MouseAction::Up, button, shift, x, y);
    return TRUE;
  }
  return FALSE;
}

gboolean GtkBackend::OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  if (w == nullptr || w->form == nullptr) return FALSE;
  if (!w->enabled && w->buttonsHeld == 0) return TRUE;
  const int dpi = ScreenDpi();
  const Twips x = PixelsToTwips(static_cast<float>(event->x - w->frame), dpi);
  const Twips y = PixelsToTwips(static_cast<float>(event->y - w->frame), dpi);
  Runtime::Get().DeliverMouse(*w->form, MouseAction::Move, ButtonsOf(event->state),
                              ShiftOf(event->state), x, y);
  return TRUE;
}

// A key pressed on a form's window, or repeated while held. A repeat that
// a newer press of the same key already waits behind (no release between
// them) is dropped, so a held key stops where the user saw it when let go.
gboolean GtkBackend::OnKey(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  const int keyCode = KeyCodeOf(event->keyval);
  if (w == nullptr || w->form == nullptr || keyCode == 0) return FALSE;
  if (!w->enabled) return TRUE;
  if (GdkEvent* next = gdk_event_peek()) {
    const bool repeated = next->type == GDK_KEY_PRESS && next->key.window == event->window &&
                          next->key.keyval == event->keyval;
    gdk_event_free(next);
    if (repeated) return TRUE;
  }
  Runtime::Get().DeliverKey(*w->form, keyCode, ShiftOf(event->state));
  return TRUE;
}

// Someone else took the pointer while buttons were held: the presses end
// away from every label, so they make no click.
gboolean GtkBackend::OnGrabBroken(GtkWidget* widget, GdkEvent* /*event*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  if (w == nullptr || w->form == nullptr || w->buttonsHeld == 0) return FALSE;
  const int held = w->buttonsHeld;
  w->buttonsHeld = 0;
  Runtime::Get().DeliverCaptureLost(*w->form, held);
  return FALSE;
}

// The layered attributes set before the window was shown reach it now.
void GtkBackend::OnRealize(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  GdkWindow* native = gtk_widget_get_window(widget);
  if (w == nullptr || native == nullptr) return;
  const bool layered = (w->exStyle & WS_EX_LAYERED) != 0 && w->layered;
  gdk_window_set_opacity(native, layered ? w->alpha / 255.0 : 1.0);
  // Each frame goes to the display server as soon as it is painted. GDK
  // sends what it has when the main loop next looks for events, and the
  // windows shown at start paint in one turn of it: the tint's frame would
  // wait while the splash loads its fonts and draws its text.
  if (GdkFrameClock* clock = gdk_window_get_frame_clock(native)) {
    g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer display) {
                       gdk_display_flush(static_cast<GdkDisplay*>(display));
                     }),
                     gdk_window_get_display(native));
  }
}

// A window manager that frames the window copies the client's input shape
// to its frame when told of a change, but may not look at one the window
// had before it was managed (openbox does not): the frame would then take
// the clicks. Setting the shape again once the window is up tells it.
gboolean GtkBackend::OnMapped(GtkWidget* widget, GdkEvent* /*event*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  GdkWindow* native = gtk_widget_get_window(widget);
  if (w != nullptr && native != nullptr && w->clickThrough) {
    cairo_region_t* empty = cairo_region_create();
    gdk_window_input_shape_combine_region(native, empty, 0, 0);
    cairo_region_destroy(empty);
  }
  return FALSE;
}

// The window manager's close (its button, Alt+F4): the form decides, and
// its window goes only when it is unloaded.
gboolean GtkBackend::OnDelete(GtkWidget* widget, GdkEvent* /*event*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  gtk::Window* w = self->WindowOfWidget(widget);
  if (w != nullptr && w->form != nullptr) Runtime::Get().DeliverClose(*w->form);
  return TRUE;
}

// A maximised window follows the screen and its monitors when they change;
// a monitor added gets the tint.
void GtkBackend::OnScreenChanged(GdkScreen* /*screen*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  for (auto& [hwnd, w] : self->windows_) {
    if (w.form != nullptr && w.form->windowState == WindowState::Maximized) {
      self->PlaceMaximised(w);
    }
  }
  if (self->tint_ == nullptr) return;
  self->tint_->MonitorsChanged();
  self->ChooseTint();
}

void GtkBackend::OnCompositedChanged(GdkScreen* /*screen*/, gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  if (self->tint_ != nullptr) self->ChooseTint();
}

void GtkBackend::StopTimers() {
  for (auto& [timer, armed] : timers_) {
    g_source_destroy(armed->source);
    g_source_unref(armed->source);
  }
  timers_.clear();
}

// --- process ----------------------------------------------------------------

void GtkBackend::RunMessageLoop() {
  if (Runtime::Get().AnyFormLoaded()) {
    while (!quit_) g_main_context_iteration(nullptr, TRUE);
  }
  FinishJobsBeside();
  GiveBackRamps();
}

// The jobs start when the main loop first has nothing of more weight to
// do: below the priority of drawing, so start-up's first frames come first.
void GtkBackend::RunBeside(std::function<void()> job) {
  jobsBeside_.Add(std::move(job));
  if (jobsBeside_.loopIdled() || jobsIdle_ != 0) return;
  jobsIdle_ = g_idle_add_full(
      G_PRIORITY_LOW,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<GtkBackend*>(data);
        self->jobsIdle_ = 0;
        self->jobsBeside_.LoopIdled();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

// Jobs not started yet run now: a program that ends before its loop ever
// idled (a second instance) still does what it set out to do.
void GtkBackend::FinishJobsBeside() {
  if (jobsIdle_ != 0) g_source_remove(jobsIdle_);
  jobsIdle_ = 0;
  jobsBeside_.Finish();
}

void GtkBackend::DoEvents() {
  while (g_main_context_pending(nullptr) != FALSE) g_main_context_iteration(nullptr, FALSE);
}

void GtkBackend::QuitWhenIdle() {
  quit_ = true;
  g_main_context_wakeup(nullptr);
}

// Whatever had to be kept was stored by the caller already. Without a
// display nothing may run that would talk to it on the way out.
void GtkBackend::End() {
  std::fflush(nullptr);
  if (displayLost_) ::_exit(0);
  FinishJobsBeside();
  GiveBackRamps();
  std::exit(exitStatus_);
}

// --- user32 -------------------------------------------------------------------

// The other four calls are in gtk_backend_user32.cpp.
std::int16_t GtkBackend::GetAsyncKeyState(std::int32_t vKey) {
  if (!keys_) keys_ = std::make_unique<gtk::GlobalKeys>();
  return keys_->Query(vKey);
}

}  // namespace platform
