// Layer-shell surfaces through gtk-layer-shell, and the probe that tells
// whether a compositor has the protocol before GTK connects to it.
#include "platform/gtk/layer.h"

#if defined(NM_HAVE_LAYER_SHELL)
#include <gdk/gdkwayland.h>
#include <gtk-layer-shell.h>
#include <wayland-client.h>

#include <cstring>
#include <initializer_list>
#endif

namespace platform::gtk::layer {

#if defined(NM_HAVE_LAYER_SHELL)

namespace {

constexpr char kNamespace[] = "morvane-night";

void OnGlobal(void* data, wl_registry* /*registry*/, uint32_t /*name*/, const char* interface,
              uint32_t /*version*/) {
  if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) *static_cast<bool*>(data) = true;
}

void OnGlobalRemoved(void* /*data*/, wl_registry* /*registry*/, uint32_t /*name*/) {}

constexpr wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemoved};

void Init(GtkWindow* window) {
  if (gtk_layer_is_layer_window(window) != FALSE) return;
  gtk_layer_init_for_window(window);
  gtk_layer_set_layer(window, GTK_LAYER_SHELL_LAYER_OVERLAY);
  gtk_layer_set_namespace(window, kNamespace);
  // Placed against the output's edges, not beside panels and docks.
  gtk_layer_set_exclusive_zone(window, -1);
}

}  // namespace

bool Built() { return true; }

bool CompositorHasLayerShell() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return false;
  bool found = false;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &found);
  wl_display_roundtrip(display);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return found;
}

bool Active() {
  GdkDisplay* display = gdk_display_get_default();
  return display != nullptr && GDK_IS_WAYLAND_DISPLAY(display) && gtk_layer_is_supported() != FALSE;
}

void MakeTint(GtkWindow* window, GdkMonitor* monitor) {
  Init(window);
  for (auto edge : {GTK_LAYER_SHELL_EDGE_LEFT, GTK_LAYER_SHELL_EDGE_RIGHT, GTK_LAYER_SHELL_EDGE_TOP,
                    GTK_LAYER_SHELL_EDGE_BOTTOM}) {
    gtk_layer_set_anchor(window, edge, TRUE);
  }
  gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
  gtk_layer_set_monitor(window, monitor);
}

void MakeAboveTint(GtkWindow* window, GdkMonitor* monitor, int x, int y, Keyboard keyboard) {
  Init(window);
  gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_LEFT, TRUE);
  gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_TOP, TRUE);
  gtk_layer_set_margin(window, GTK_LAYER_SHELL_EDGE_LEFT, x);
  gtk_layer_set_margin(window, GTK_LAYER_SHELL_EDGE_TOP, y);
  gtk_layer_set_keyboard_mode(window, keyboard == Keyboard::OnDemand
                                          ? GTK_LAYER_SHELL_KEYBOARD_MODE_ON_DEMAND
                                          : GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
  gtk_layer_set_monitor(window, monitor);
}

#else

bool Built() { return false; }
bool CompositorHasLayerShell() { return false; }
bool Active() { return false; }
void MakeTint(GtkWindow* /*window*/, GdkMonitor* /*monitor*/) {}
void MakeAboveTint(GtkWindow* /*window*/, GdkMonitor* /*monitor*/, int /*x*/, int /*y*/,
                   Keyboard /*keyboard*/) {}

#endif

}  // namespace platform::gtk::layer
