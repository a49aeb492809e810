// The Linux backend: forms as GTK 3 windows on X11, painted with Cairo and
// Pango; timers and nested loops on the GLib main loop; F7 from the X
// server's key map (global_keys.h); per-user settings in an ini file under
// the XDG config folder. Windows, input and the tint's wiring are in
// gtk_backend.cpp, painting in gtk_backend_paint.cpp, the desktop services
// in gtk_backend_services.cpp and what is asked of the X server beyond GTK
// in gtk_backend_x11.cpp. The tint itself goes one of three ways (tint.h):
// the overlay's translucent window, the gamma ramps without a compositing
// manager, or layer-shell surfaces on Wayland.
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
#include "platform/gtk/files.h"
#include "platform/gtk/global_keys.h"
#include "platform/gtk/session.h"
#include "platform/gtk/tint.h"
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

class TintWindow;
class TintLayers;
class XGammaScreen;

}  // namespace gtk

namespace gamma {
class TintRamps;
}

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
  void Invalidate(Form& form, const Control& control) override;
  void BackColorChanged(Form& form) override;
  std::optional<std::pair<Twips, Twips>> MeasureLabel(Form& form, const Label& label) override;
  void UpdateTimer(Form& form, Timer& timer) override;

  // --- the monitors --------------------------------------------------------
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
  // and ends without touching that connection again.
  [[noreturn]] static void OnDisplayLost();
  // At start, before any window: the gamma ramps a run that was killed
  // left tinted are given back, unless another instance runs (its tint).
  void GiveBackRampsLeftBehind();
  // The display server this program shows on, the same whatever the
  // spelling of $DISPLAY: the instance lock and the ramp record are kept
  // per server.
  std::string ServerIdentity();

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

  // The tint. ChooseTint is the one place its way is chosen (when the
  // overlay first shows, and when the compositing manager or the monitors
  // change); TellTint passes a change of the overlay's colour, opacity or
  // style to the way chosen; HideTint takes the tint off with the overlay.
  gtk::Window* OverlayWindow();
  void ChooseTint();
  void TellTint();
  void HideTint();
  gtk::Tint* TintFor(session::TintWay way);
  // No compositing manager and no ramps: said, then the program ends in
  // order.
  void CannotTint();
  // The X side of the ramps (gtk_backend_x11.cpp): false off X11.
  bool OpenRamps();
  // Every ramp as found; never once the display is lost.
  void GiveBackRamps();
  // The connection is lost, the X server may live on: the ramps go back
  // over a connection of their own (gtk_backend_x11.cpp).
  void GiveBackAfterLoss();
  // The ramps are looked at while they carry the tint, and only then.
  void KeepHolding();
  static gboolean OnHold(gpointer data);

  // Painting (gtk_backend_paint.cpp).
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
  gtk::files::UniqueFd instanceLock_;
  std::optional<bool> prevInstance_;
  std::unique_ptr<gtk::GlobalKeys> keys_;
  gulong screenHandler_ = 0;
  gulong monitorsHandler_ = 0;
  gulong compositedHandler_ = 0;
  std::string displayName_;
  std::string rampRecord_;
  std::unique_ptr<gtk::TintWindow> tintWindow_;
  std::unique_ptr<gtk::TintLayers> tintLayers_;  // on layer shell, from the start
  std::unique_ptr<gtk::XGammaScreen> gammaScreen_;
  std::unique_ptr<gamma::TintRamps> tintRamps_;
  gtk::Tint* tint_ = nullptr;  // the way chosen; null until the overlay shows
  session::TintWay way_ = session::TintWay::None;
  bool tinting_ = false;  // the tint has reached the screen
  bool endingUntinted_ = false;
  int exitStatus_ = 0;
  std::vector<guint> signalSources_;
  JobsBeside jobsBeside_;
  guint jobsIdle_ = 0;  // the idle source that starts the jobs waiting
  static bool displayLost_;
  static GtkBackend* current_;  // for the handler of a lost display
  guint holdSource_ = 0;
  bool layerShell_ = false;
};

}  // namespace platform
