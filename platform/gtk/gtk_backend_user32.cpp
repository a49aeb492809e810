// The user32 calls the forms make on windows, over GTK: a style word, the
// layered attributes and the Z order of each window.
#include <algorithm>

#include "platform/gtk/gtk_backend.h"
#include "platform/user32.h"

namespace platform {

namespace {

constexpr HWnd kHwndTop = 0;
constexpr HWnd kHwndBottom = 1;
constexpr std::uint32_t kSwpNoZOrder = 0x0004;

}  // namespace

std::int32_t GtkBackend::GetWindowLongA(HWnd hwnd, std::int32_t index) {
  gtk::Window* w = Find(hwnd);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  return w->exStyle | (w->topmost ? WS_EX_TOPMOST : 0);
}

std::int32_t GtkBackend::SetWindowLongA(HWnd hwnd, std::int32_t index, std::int32_t value) {
  gtk::Window* w = Find(hwnd);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  const std::int32_t previous = w->exStyle | (w->topmost ? WS_EX_TOPMOST : 0);
  // Topmost is changed by SetWindowPos only, as on Windows.
  w->exStyle = value & ~WS_EX_TOPMOST;
  ApplyStyle(*w);
  if (w->form->SpansAllMonitors) TellTint();
  return previous;
}

std::int32_t GtkBackend::SetLayeredWindowAttributes(HWnd hwnd, Colour /*crKey*/,
                                                    std::uint8_t bAlpha, std::int32_t dwFlags) {
  gtk::Window* w = Find(hwnd);
  if (w == nullptr || (w->exStyle & WS_EX_LAYERED) == 0) return 0;
  w->layered = true;
  // Only a constant opacity is offered; a colour key is not.
  w->alpha = (dwFlags & LWA_ALPHA) != 0 ? bAlpha : 255;
  ApplyStyle(*w);
  // Without a compositing manager the opacity goes to the gamma ramps.
  if (w->form->SpansAllMonitors) TellTint();
  return 1;
}

// The opacity goes to the compositor (_NET_WM_WINDOW_OPACITY). A layered
// window that lets the mouse through gets an empty input shape, so the
// pointer reaches the windows beneath, and never takes the focus.
void GtkBackend::ApplyStyle(gtk::Window& w) {
  const bool layeredStyle = (w.exStyle & WS_EX_LAYERED) != 0;
  if (!layeredStyle) w.layered = false;
  const double opacity = layeredStyle && w.layered ? w.alpha / 255.0 : 1.0;
  gtk_widget_set_opacity(w.window, opacity);
  // GTK hands a toplevel's opacity to its X window only once that exists;
  // OnRealize does it for a window not shown yet.
  if (GdkWindow* native = gtk_widget_get_window(w.window)) gdk_window_set_opacity(native, opacity);

  const bool through = layeredStyle && (w.exStyle & WS_EX_TRANSPARENT) != 0;
  if (through != w.clickThrough) {
    w.clickThrough = through;
    if (through) {
      cairo_region_t* empty = cairo_region_create();
      gtk_widget_input_shape_combine_region(w.window, empty);
      cairo_region_destroy(empty);
    } else {
      gtk_widget_input_shape_combine_region(w.window, nullptr);
    }
    const gboolean focusable = !through && w.form->TakesKeyboard ? TRUE : FALSE;
    gtk_window_set_accept_focus(GTK_WINDOW(w.window), focusable);
    gtk_window_set_focus_on_map(GTK_WINDOW(w.window), focusable);
  }
}

std::int32_t GtkBackend::SetWindowPos(HWnd hwnd, HWnd insertAfter, int x, int y, int cx, int cy,
                                      std::uint32_t flags) {
  gtk::Window* w = Find(hwnd);
  if (w == nullptr) return 0;
  auto* gw = GTK_WINDOW(w->window);
  if ((flags & SWP_NOMOVE) == 0) {
    w->x = x;
    w->y = y;
    gtk_window_move(gw, x, y);
  }
  if ((flags & SWP_NOSIZE) == 0 && cx > 0 && cy > 0) {
    w->clientWidth = std::max(0, cx - 2 * w->frame);
    w->clientHeight = std::max(0, cy - 2 * w->frame);
    gtk_widget_set_size_request(w->area, cx, cy);
    gtk_window_resize(gw, cx, cy);
  }
  if ((flags & kSwpNoZOrder) == 0) {
    GdkWindow* native = gtk_widget_get_window(w->window);
    if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
      w->topmost = insertAfter == HWND_TOPMOST;
      gtk_window_set_keep_above(gw, w->topmost ? TRUE : FALSE);
      if (native != nullptr) gdk_window_raise(native);
    } else if (insertAfter == kHwndTop) {
      if (native != nullptr) gdk_window_raise(native);
    } else if (insertAfter == kHwndBottom) {
      if (native != nullptr) gdk_window_lower(native);
    }
  }
  return 1;
}

}  // namespace platform
