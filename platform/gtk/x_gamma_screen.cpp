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
  // Waits for the server's answer to every request made so far.
  bool Clean() {
    XSync(display_, False);
    return errorsSeen == 0;
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

std::vector<gamma::CrtcRamp> XGammaScreen::ReadRamps() {
  std::vector<gamma::CrtcRamp> all;
  if (!randr_) return all;
  Display* x = AsDisplay(display_);
  ErrorTrap trap(x);
  if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(x, DefaultRootWindow(x))) {
    for (int i = 0; i < resources->ncrtc; ++i) {
      const RRCrtc id = resources->crtcs[i];
      gamma::CrtcRamp crtc{id, {}};
      const int size = XRRGetCrtcGammaSize(x, id);
      XRRCrtcGamma* ramps = size > 0 ? XRRGetCrtcGamma(x, id) : nullptr;
      if (ramps != nullptr && ramps->size == size) {
        crtc.ramp.red.assign(ramps->red, ramps->red + size);
        crtc.ramp.green.assign(ramps->green, ramps->green + size);
        crtc.ramp.blue.assign(ramps->blue, ramps->blue + size);
      }
      if (ramps != nullptr) XRRFreeGamma(ramps);
      all.push_back(std::move(crtc));
    }
    XRRFreeScreenResources(resources);
  }
  trap.Clean();
  return all;
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
