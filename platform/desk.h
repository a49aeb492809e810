// The desk: the monitors as the system reports them, in pixels of one
// virtual screen, and where the forms go on it. A form that covers the
// whole desk (the overlay) spans every monitor; a form centred over such an
// owner goes on the monitor that holds the pointer; one centred on the
// screen goes on the primary monitor. Plain functions, so that tests can
// try any arrangement of monitors.
#pragma once

#include <optional>
#include <vector>

#include "platform/form.h"
#include "platform/types.h"

namespace platform {

struct Monitor {
  Rect bounds;   // pixels of the virtual screen
  int dpi = 96;  // that monitor's own
  bool primary = false;
};

struct Point {
  int x = 0;
  int y = 0;
};

// The smallest rectangle that holds every monitor; empty without any.
Rect DeskBounds(const std::vector<Monitor>& monitors);

// The primary monitor, or the first one where none is marked; null without
// any monitor.
const Monitor* PrimaryMonitor(const std::vector<Monitor>& monitors);

// The monitor that holds `point`; the primary one when there is no point or
// no monitor holds it.
const Monitor* MonitorAt(const std::vector<Monitor>& monitors, std::optional<Point> point);

// The top-left corner of a `width` x `height` window centred on `area`, then
// moved as little as needed to lie wholly on it (the top-left corner kept
// on it when the window is larger than the area).
Point CentredOn(const Rect& area, int width, int height);

// The area a form whose start-up position centres it is centred on: its
// owner's window (`ownerBounds`, when the owner is shown), or for an owner
// that spans all monitors the monitor that holds the pointer, or for a form
// centred on the screen the primary monitor.
Rect CentringArea(const Form& form, const Form* owner, std::optional<Rect> ownerBounds,
                  const std::vector<Monitor>& monitors, std::optional<Point> pointer);

// The area a maximised form covers, given the monitor its window is on:
// that monitor, or the whole desk for a form that spans all monitors.
Rect CoveredArea(const Form& form, const Rect& itsMonitor, const std::vector<Monitor>& monitors);

}  // namespace platform
