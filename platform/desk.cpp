#include "platform/desk.h"

#include <algorithm>

namespace platform {

Rect DeskBounds(const std::vector<Monitor>& monitors) {
  if (monitors.empty()) return {};
  Rect desk = monitors.front().bounds;
  for (const Monitor& monitor : monitors) {
    desk.left = std::min(desk.left, monitor.bounds.left);
    desk.top = std::min(desk.top, monitor.bounds.top);
    desk.right = std::max(desk.right, monitor.bounds.right);
    desk.bottom = std::max(desk.bottom, monitor.bounds.bottom);
  }
  return desk;
}

const Monitor* PrimaryMonitor(const std::vector<Monitor>& monitors) {
  if (monitors.empty()) return nullptr;
  auto it = std::find_if(monitors.begin(), monitors.end(),
                         [](const Monitor& monitor) { return monitor.primary; });
  return it != monitors.end() ? &*it : &monitors.front();
}

const Monitor* MonitorAt(const std::vector<Monitor>& monitors, std::optional<Point> point) {
  if (point) {
    for (const Monitor& monitor : monitors) {
      if (monitor.bounds.Contains(point->x, point->y)) return &monitor;
    }
  }
  return PrimaryMonitor(monitors);
}

Point CentredOn(const Rect& area, int width, int height) {
  auto place = [](int low, int high, int size) {
    const int centred = low + (high - low - size) / 2;
    return std::max(low, std::min(centred, high - size));
  };
  return Point{place(area.left, area.right, width), place(area.top, area.bottom, height)};
}

Rect CentringArea(const Form& form, const Form* owner, std::optional<Rect> ownerBounds,
                  const std::vector<Monitor>& monitors, std::optional<Point> pointer) {
  const bool overOwner = form.startUpPosition == StartUpPosition::CenterOwner && owner != nullptr;
  if (overOwner && owner->SpansAllMonitors) {
    if (const Monitor* monitor = MonitorAt(monitors, pointer)) return monitor->bounds;
  } else if (overOwner && ownerBounds) {
    return *ownerBounds;
  }
  const Monitor* primary = PrimaryMonitor(monitors);
  return primary != nullptr ? primary->bounds : Rect{};
}

Rect CoveredArea(const Form& form, const Rect& itsMonitor, const std::vector<Monitor>& monitors) {
  if (form.SpansAllMonitors && !monitors.empty()) return DeskBounds(monitors);
  return itsMonitor;
}

}  // namespace platform
