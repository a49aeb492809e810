// The Linux backend: forms as GTK 3 windows on X11, painted with Cairo and
// Pango; timers and nested loops on the GLib main loop; F7 from the X
// server's key map; per-user settings in an ini file under the XDG config
// folder. Windows are in gtk_backend.cpp, painting in gtk_paint.cpp, the
// desktop services in gtk_services.cpp and the global key state in
// gtk_keys.cpp. Without a compositing manager the overlay's tint goes
// through the gamma ramps instead of a window (gamma.h, gtk_x11.cpp). On a
// Wayland compositor with layer shell the tint is a layer surface on every
// output, and the windows that must stay readable lie over it
// (gtk_layers.cpp).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop_services.h"
#include "platform/gtk/gamma.h"
#include "platform/gtk/layer.h"
#include "platform/jobs_beside.h"
#include "platform/window_system.h"

namespace platform {

namespace gtk {

// One native window of a form.
struct Window {
  Form* form = nullptr;
  GtkWidget* window = nullptr;  // the GtkWindow
  GtkWidget* area = nullptr;    // the drawing area that fills it
  std::int32_t exStyle = 0;     // the style word of GetWindowLongA(GWL_EXSTYLE)
  bool layered = false;         // layered attributes applied since WS_EX_LAYERED was set
  std::uint8_t alpha = 255;
  bool topmost = false;
  bool clickThrough = false;  // the empty input shape is in place
  bool enabled = true;        // false while a modal form or dialog is up over it
  // The form is shown. The overlay's window stays unmapped while its tint
  // goes through the gamma ramps.
  bool shown = false;
  int frame = 0;        // pixels of border drawn around the client area
  int clientWidth = 0;  // pixels
  int clientHeight = 0;
  int x = 0;  // where the window was placed, for forms centred over it
  int y = 0;
  int buttonsHeld = 0;
  // The last press, for telling a double-click.
  guint32 lastPressTime = 0;
  int lastPressButton = 0;
  double lastPressX = 0;
  double lastPressY = 0;
};

// The keys' global state, read from the X server whatever window has the
// focus (gtk_keys.cpp).
class GlobalKeys {
 public:
  GlobalKeys();
  ~GlobalKeys();
  GlobalKeys(const GlobalKeys&) = delete;
  GlobalKeys& operator=(const GlobalKeys&) = delete;

  // Bit 15: the key is down now. Bit 0: it went down since the previous
  // query for it. 0 for keys this backend cannot name, or off X11.
  std::int16_t Query(std::int32_t vKey);

 private:
  static gboolean OnPoll(gpointer self);
  void Drain();
  void Sample(const char* map);
  // The key codes that carry vKey's key symbols, looked up once per
  // keyboard mapping.
  const std::vector<int>& KeycodesOf(std::int32_t vKey);

  void* display_ = nullptr;  // a connection of its own: Display*
  bool rawEvents_ = false;   // XInput 2 raw key presses arrive
  int xiOpcode_ = 0;
  guint poll_ = 0;  // sampling the key map, where raw events are not to be had
  // Per X keycode: went down since it was last asked about; was down at
  // the last sample.
  std::array<bool, 256> pressedSince_{};
  std::array<bool, 256> downAtSample_{};
  std::map<std::int32_t, std::vector<int>> keycodes_;  // cleared when the keyboard changes
};

}  // namespace gtk

class GtkBackend : public WindowSystem, public DesktopServices {
 public:
  GtkBackend();
  ~GtkBackend() override;
  GtkBackend(const GtkBackend&) = delete;
  GtkBackend& operator=(const GtkBackend&) = delete;

  // --- windows of forms -------------------------------------------------
  HWnd CreateFormWindow(Form& form) override;
  void DestroyFormWindow(Form& form) override;
  void ShowFormWindow(Form& form, Form* owner) override;
  bool FormWindowEnabled(Form& form) override;
  void EnableFormWindow(Form& form, bool enable) override;
  void RunModalLoop(Form& form) override;
  void Invalidate(Form& form, const Control* control) override;
  std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) override;
  void UpdateTimer(Form& form, Timer& timer) override;

  // --- the desk -----------------------------------------------------------
  std::vector<Monitor> Monitors() override;
  std::optional<Point> PointerPosition() override;

  // --- process ----------------------------------------------------------
  void RunMessageLoop() override;
  void QuitWhenIdle() override;
  [[noreturn]] void End() override;
  void DoEvents() override;
  void RunBeside(std::function<void()> job) override;
  HWnd ForegroundWindow() override;
  void SetForegroundWindow(HWnd hwnd) override;

  // --- user32 -----------------------------------------------------------
  std::int32_t GetWindowLongA(HWnd hwnd, std::int32_t index) override;
  std::int32_t SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) override;
  std::int32_t SetLayeredWindowAttributes(HWnd hwnd, Colour crKey, std::uint8_t bAlpha,
                                          std::int32_t dwFlags) override;
  std::int32_t SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                            std::uint32_t flags) override;
  std::int16_t GetAsyncKeyState(std::int32_t vKey) override;

  // --- desktop services ---------------------------------------------------
  std::optional<std::string> GetSetting(const std::string& app, const std::string& section,
                                        const std::string& key) override;
  bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool PrevInstance(const std::string& title) override;
  void MsgBox(const std::string& prompt, int buttons, const std::string& caption) override;
  bool ShowColorDialog(Form& owner, Colour& colour) override;

  // Pixels per inch of the screen: twips become pixels at this rate.
  static int ScreenDpi();
  // The connection to the X server is gone: the program is asked to stop
  // and ends without touching X again.
  [[noreturn]] static void OnDisplayLost();
  // At start, before any window: the gamma ramps a run that was killed
  // left tinted are given back, unless another instance runs (its tint).
  void GiveBackRampsLeftBehind();
  // Asked from outside to open the settings panel (`--settings`, the
  // desktop's shortcut): the next query of F7 finds it pressed, so the
  // overlay's poll opens the panel as for the key itself.
  void AskForSettings() { settingsAsked_ = true; }

 private:
  struct ArmedTimer;

  gtk::Window* Find(HWnd hwnd);
  gtk::Window* WindowOf(const Form& form);
  // Applies the layered attributes and the click-through style of the
  // style word to the GTK window.
  void ApplyStyle(gtk::Window& window);
  void StopTimers();
  void PlaceMaximised(gtk::Window& window);

  // Signal handlers; `data` is the backend, the window is found by widget.
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data);
  static gboolean OnButton(GtkWidget* widget, GdkEventButton* event, gpointer data);
  static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data);
  static gboolean OnKey(GtkWidget* widget, GdkEventKey* event, gpointer data);
  static gboolean OnGrabBroken(GtkWidget* widget, GdkEvent* event, gpointer data);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer data);
  static void OnRealize(GtkWidget* widget, gpointer data);
  static gboolean OnMapped(GtkWidget* widget, GdkEvent* event, gpointer data);
  static void OnScreenChanged(GdkScreen* screen, gpointer data);
  static void OnCompositedChanged(GdkScreen* screen, gpointer data);
  // SIGTERM, SIGINT, SIGHUP: asked to stop, as by a close request.
  static gboolean OnStopSignal(gpointer data);
  void WatchDisplay();
  static gboolean OnTimer(gpointer data);
  // Arms every timer afresh, so that it ticks in the nested loop about to
  // run even when that loop runs inside its own tick.
  void KeepTimersTicking();
  gtk::Window* WindowOfWidget(GtkWidget* widget);
  // Starts the jobs still waiting and waits for every job.
  void FinishJobsBeside();

  // The overlay's tint: on its translucent window while a compositing
  // manager runs, else through the gamma ramps (gamma.h). Called whenever
  // the overlay, its colour or opacity, the compositor or the monitors
  // change.
  void RouteTint(bool screenChanged = false);
  gtk::Window* TintWindow();
  // No compositing manager and no ramps: said, then the program ends.
  [[noreturn]] void NoWayToTint(bool wasTinting);
  // Every ramp as found; never once the display is lost.
  void GiveBackRamps();
  // The X side of the tint (gtk_x11.cpp): false off X11.
  bool OpenTint();

  // Layer shell (gtk_layers.cpp). The overlay's own window is never shown
  // there: one tint surface per monitor stands for it. Our windows that
  // must stay readable (panel, splash) lie on the same layer; the
  // compositor may stack them above or below the tint, so the tint leaves
  // their place clear. Dialogs are ordinary windows beneath the tint, which
  // takes no clicks.
  void SyncTintSurfaces();
  void RedrawTint();
  // Puts a window that is about to be shown over the tint, at `area`
  // (pixels of the desk).
  void LiftAbove(GtkWidget* window, const GdkRectangle& area, gtk::layer::Keyboard keyboard);
  GdkMonitor* MonitorHolding(const GdkRectangle& area, GdkRectangle* geometry);
  static gboolean OnTintDraw(GtkWidget* widget, cairo_t* cr, gpointer data);
  static gboolean OnTintClosed(GtkWidget* widget, GdkEvent* event, gpointer data);
  static void OnLiftedMapped(GtkWidget* widget, gpointer data);
  static void OnLiftedUnmapped(GtkWidget* widget, gpointer data);
  static void OnLiftedGone(GtkWidget* widget, gpointer data);
  static void OnLiftedAllocated(GtkWidget* widget, GdkRectangle* allocation, gpointer data);
  static void OnMonitorsChanged(GdkDisplay* display, GdkMonitor* monitor, gpointer data);

  // Painting (gtk_paint.cpp).
  void Paint(gtk::Window& window, cairo_t* cr);
  void DrawLabel(gtk::Window& window, cairo_t* cr, const Label& label, int dpi);
  static void DrawLine(cairo_t* cr, const Line& line, int dpi);
  static void DrawFrame(cairo_t* cr, const gtk::Window& window);
  PangoLayout* LayoutFor(gtk::Window& window, const Label& label, int dpi);
  // The box a control covers on screen, in pixels of the client area.
  GdkRectangle ControlBounds(gtk::Window& window, const Control& control, int dpi);
  static std::string ResolveFace(const std::string& face);

  std::map<HWnd, gtk::Window> windows_;
  HWnd nextHandle_ = 0x10000;
  std::map<Timer*, ArmedTimer*> timers_;
  bool quit_ = false;
  int instanceLock_ = -1;
  std::optional<bool> prevInstance_;
  std::unique_ptr<gtk::GlobalKeys> keys_;
  gulong screenHandler_ = 0;
  gulong monitorsHandler_ = 0;
  gulong compositedHandler_ = 0;
  std::unique_ptr<gamma::GammaScreen> gammaScreen_;
  std::unique_ptr<gamma::TintRouter> tint_;
  std::string displayName_;
  std::string rampRecord_;
  bool tinting_ = false;  // the tint has reached the screen by either path
  bool endingUntinted_ = false;
  std::vector<guint> signalSources_;
  JobsBeside jobsBeside_;
  guint jobsIdle_ = 0;     // the idle source that starts the jobs waiting
  static bool displayLost_;
  bool settingsAsked_ = false;
  bool layerShell_ = false;
  struct TintSurface {
    GdkMonitor* monitor;  // a reference of ours
    GtkWidget* window;
  };
  std::vector<TintSurface> tintSurfaces_;
  // Monitors whose tint surface the compositor closed: not tried again
  // until the monitors change.
  std::vector<GdkMonitor*> closedMonitors_;
  struct Lifted {
    GtkWidget* window;
    GdkRectangle area;  // pixels of the desk
    bool mapped;
  };
  std::vector<Lifted> lifted_;
  gulong monitorAdded_ = 0;
  gulong monitorRemoved_ = 0;
};

}  // namespace platform
