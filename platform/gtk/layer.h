// The Wayland side of the GTK backend: layer-shell
// surfaces for the tint and for the windows that must stay above it. Built
// with gtk-layer-shell where it is installed; without it every function
// says "not here" and the program takes the XWayland path.
#pragma once

#include <gtk/gtk.h>

namespace platform::gtk::layer {

// Whether this program was built with gtk-layer-shell.
bool Built();

// Before GTK opens a display: whether the compositor named by
// $WAYLAND_DISPLAY offers the layer shell (zwlr_layer_shell_v1).
bool CompositorHasLayerShell();

// Whether GDK runs on Wayland with layer shell: the overlay is made of
// layer surfaces.
bool Active();

// A tint surface: the overlay layer of `monitor`, anchored to all four
// edges, over every exclusive zone, never taking the keyboard.
void MakeTint(GtkWindow* window, GdkMonitor* monitor);

enum class Keyboard {
  None,     // never: the keys stay where they are
  OnDemand  // when shown or clicked, as a window of ours shown over others
};

// A window that must stay readable over the tint (the panel, the splash),
// on the overlay layer of `monitor` with its top-left corner at
// `x`, `y` pixels of that monitor. Called again it only moves the window.
void MakeAboveTint(GtkWindow* window, GdkMonitor* monitor, int x, int y, Keyboard keyboard);

}  // namespace platform::gtk::layer
