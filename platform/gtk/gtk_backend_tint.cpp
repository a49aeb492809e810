// The overlay's tint on GtkBackend: the one choice of its way, and each
// change of the overlay passed to the way chosen (tint.h).
#include <cstdio>

#include "platform/app.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/tint_layers.h"
#include "platform/gtk/tint_ramps.h"
#include "platform/gtk/tint_window.h"
#include "platform/runtime.h"
#include "platform/user32.h"

namespace platform {

// --- the tint -----------------------------------------------------------------

gtk::Window* GtkBackend::OverlayWindow() {
  for (auto& [hwnd, w] : windows_) {
    if (w.form != nullptr && w.form->SpansAllMonitors) return &w;
  }
  return nullptr;
}

gtk::Tint* GtkBackend::TintFor(session::TintWay way) {
  switch (way) {
    case session::TintWay::Window:
      if (tintWindow_ == nullptr) tintWindow_ = std::make_unique<gtk::TintWindow>();
      return tintWindow_.get();
    case session::TintWay::Ramps:
      return tintRamps_.get();
    case session::TintWay::Layers:
      return tintLayers_.get();
    case session::TintWay::None:
      break;
  }
  return nullptr;
}

void GtkBackend::ChooseTint() {
  gtk::Window* w = OverlayWindow();
  if (displayLost_ || endingUntinted_ || w == nullptr || !w->shown) return;
  GdkScreen* screen = gdk_screen_get_default();
  const bool composited = screen != nullptr && gdk_screen_is_composited(screen) != FALSE;
  const session::TintWay way = session::ChooseTintWay(layerShell_, OpenRamps(), composited, [this] {
    return tintRamps_->Holds() || tintRamps_->Take();
  });
  if (tint_ != nullptr && way == way_) {
    TellTint();
    return;
  }
  if (holdSource_ != 0) g_source_remove(holdSource_);
  holdSource_ = 0;
  const bool fromRamps = tint_ != nullptr && way_ == session::TintWay::Ramps;
  if (tint_ != nullptr) tint_->Hide();
  tint_ = TintFor(way);
  way_ = way;
  if (way == session::TintWay::Ramps) {
    std::fprintf(stderr,
                 "morvane-night: no compositing manager is running: the tint goes through the "
                 "gamma ramps of %zu CRTC(s), with no window\n",
                 tintRamps_->found().size());
  } else if (fromRamps && way == session::TintWay::Window) {
    std::fprintf(stderr,
                 "morvane-night: a compositing manager is running: the tint is on the overlay "
                 "again and the gamma ramps are as they were\n");
  }
  if (tint_ == nullptr) {
    CannotTint();
    return;
  }
  TellTint();
}

void GtkBackend::TellTint() {
  gtk::Window* w = OverlayWindow();
  if (tint_ == nullptr || w == nullptr || !w->shown || displayLost_) return;
  gtk::Overlay overlay;
  overlay.colour = w->form->BackColor;
  overlay.opacity = w->alpha;
  overlay.translucent = (w->exStyle & WS_EX_LAYERED) != 0 && w->layered;
  overlay.clickThrough = w->clickThrough;
  const bool map = tint_->Show(overlay);
  if (overlay.translucent) tinting_ = true;
  const bool mapped = gtk_widget_get_visible(w->window) != FALSE;
  if (map && !mapped) gtk_widget_show(w->window);
  if (!map && mapped) gtk_widget_hide(w->window);
  KeepHolding();
}

void GtkBackend::HideTint() {
  if (tint_ != nullptr && !displayLost_) tint_->Hide();
  tint_ = nullptr;
  KeepHolding();
}

namespace {

// How often the ramps are looked at: what resets them from outside (a VT
// switch, a resume, another program) is undone within this.
constexpr guint kHoldMs = 2000;

}  // namespace

void GtkBackend::KeepHolding() {
  const bool hold = tint_ != nullptr && way_ == session::TintWay::Ramps && tintRamps_ != nullptr &&
                    tintRamps_->Holds() && !displayLost_;
  if (hold && holdSource_ == 0) holdSource_ = g_timeout_add(kHoldMs, &GtkBackend::OnHold, this);
  if (!hold && holdSource_ != 0) {
    g_source_remove(holdSource_);
    holdSource_ = 0;
  }
}

gboolean GtkBackend::OnHold(gpointer data) {
  auto* self = static_cast<GtkBackend*>(data);
  self->tintRamps_->Hold();
  if (self->tintRamps_->Holds()) return G_SOURCE_CONTINUE;
  // Every CRTC went: the way is chosen afresh.
  self->holdSource_ = 0;
  self->ChooseTint();
  return G_SOURCE_REMOVE;
}

// An opaque window over everything would hide the screen, and there is no
// other way to tint it. Running already, night mode ends as its exit label
// ends it, values stored; at start nothing was set that would need
// storing, and the program ends with status 1.
void GtkBackend::CannotTint() {
  if (endingUntinted_) return;
  endingUntinted_ = true;
  // Nothing ticks under the message: F7 must not open a panel whose close
  // would store values this run is about to drop.
  if (!tinting_) StopTimers();
  std::fprintf(stderr,
               "morvane-night: no compositing manager is running and no monitor has gamma "
               "ramps, so the screen cannot be tinted; the program ends\n");
  platform::MsgBox(
      "没有运行合成窗口管理器，显示器也没有可调的伽马色阶，无法为屏幕着色。夜间模式将关闭。");
  if (tinting_) Runtime::Get().DeliverEndRequest();
  exitStatus_ = 1;
  End();
}

void GtkBackend::GiveBackRamps() {
  if (tintRamps_ != nullptr && !displayLost_) tintRamps_->GiveBack();
}

}  // namespace platform
