#include "platform/gtk/x_gamma_screen.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace platform::gtk {

namespace {

Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

// A CRTC may go between two requests: its errors are counted, never fatal.
int errorsSeen = 0;

int CountError(Display* /*display*/, XErrorEvent* /*error*/) {
  ++errorsSeen;
  return 0;
}

// Errors of the requests made while it lives go to CountError; the
// handler before it is put back at its end.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display), before_(XSetErrorHandler(&CountError)) {
    errorsSeen = 0;
  }
  ~ErrorTrap() { XSetErrorHandler(before_); }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // Waits for the server's answer to every request made so far: true
  // when none failed since the last look.
  bool Clean() {
    XSync(display_, False);
    const bool clean = errorsSeen == 0;
    errorsSeen = 0;
    return clean;
  }

 private:
  Display* display_;
  int (*before_)(Display*, XErrorEvent*);
};

}  // namespace

XGammaScreen::XGammaScreen(void* display) : display_(display) {
  int event = 0;
  int error = 0;
  int major = 0;
  int minor = 0;
  Display* x = AsDisplay(display_);
  randr_ = x != nullptr && XRRQueryExtension(x, &event, &error) != False &&
           XRRQueryVersion(x, &major, &minor) != 0 && (major > 1 || (major == 1 && minor >= 2));
}

namespace {

// One CRTC's ramps in one request; nothing when it fails.
std::optional<gamma::Ramp> GammaOf(Display* x, RRCrtc crtc) {
  XRRCrtcGamma* ramps = XRRGetCrtcGamma(x, crtc);
  if (ramps == nullptr) return std::nullopt;
  const int size = std::max(ramps->size, 0);
  gamma::Ramp ramp;
  ramp.red.assign(ramps->red, ramps->red + size);
  ramp.green.assign(ramps->green, ramps->green + size);
  ramp.blue.assign(ramps->blue, ramps->blue + size);
  XRRFreeGamma(ramps);
  return ramp;
}

}  // namespace

std::optional<std::vector<gamma::CrtcRead>> XGammaScreen::ReadRamps() {
  if (!randr_) return std::vector<gamma::CrtcRead>{};
  Display* x = AsDisplay(display_);
  ErrorTrap trap(x);
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(x, DefaultRootWindow(x));
  if (resources == nullptr) return std::nullopt;
  std::vector<gamma::CrtcRead> all;
  for (int i = 0; i < resources->ncrtc; ++i) {
    const RRCrtc id = resources->crtcs[i];
    bool active = true;  // when it cannot be told, it is looked at
    if (XRRCrtcInfo* info = XRRGetCrtcInfo(x, resources, id)) {
      active = info->mode != 0;
      XRRFreeCrtcInfo(info);
    }
    // A CRTC without ramps has size 0; one that cannot be read, nothing.
    if (XRRGetCrtcGammaSize(x, id) == 0 && trap.Clean()) {
      all.push_back(gamma::CrtcRead{id, gamma::Ramp{}, active});
    } else {
      all.push_back(gamma::CrtcRead{id, GammaOf(x, id), active});
    }
  }
  XRRFreeScreenResources(resources);
  return all;
}

std::optional<gamma::Ramp> XGammaScreen::ReadRamp(gamma::CrtcId crtc) {
  if (!randr_) return std::nullopt;
  Display* x = AsDisplay(display_);
  ErrorTrap trap(x);
  return GammaOf(x, static_cast<RRCrtc>(crtc));
}

bool XGammaScreen::WriteRamp(gamma::CrtcId crtc, const gamma::Ramp& ramp) {
  const int size = static_cast<int>(ramp.size());
  if (!randr_ || size == 0) return false;
  XRRCrtcGamma* ramps = XRRAllocGamma(size);
  if (ramps == nullptr) return false;
  std::copy(ramp.red.begin(), ramp.red.end(), ramps->red);
  std::copy(ramp.green.begin(), ramp.green.end(), ramps->green);
  std::copy(ramp.blue.begin(), ramp.blue.end(), ramps->blue);
  Display* x = AsDisplay(display_);
  ErrorTrap trap(x);
  XRRSetCrtcGamma(x, static_cast<RRCrtc>(crtc), ramps);
  // Waits for the server: the ramp is on screen when this returns.
  const bool clean = trap.Clean();
  XRRFreeGamma(ramps);
  return clean;
}

}  // namespace platform::gtk
