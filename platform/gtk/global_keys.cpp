// F7's raw presses are read when the program asks (its 100 ms poll), not as
// they come: they wait in the connection meanwhile, a few bytes each, and
// the watch never wakes the program by itself, however fast the user types
// elsewhere. Only a server without XInput 2 (none since X.Org 1.7 and in no
// Xwayland) leaves the key map to be sampled often, the one way left to
// see a tap shorter than the poll.
#include "platform/gtk/global_keys.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
// clang-format on

#include <utility>

namespace platform::gtk {

namespace {

Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

constexpr std::int32_t kVkF7 = 0x76;

// Fast enough to catch a tap when raw key events are not to be had.
constexpr guint kSampleMs = 20;

}  // namespace

GlobalKeys::GlobalKeys() {
  GdkDisplay* gdkDisplay = gdk_display_get_default();
  if (gdkDisplay == nullptr || !GDK_IS_X11_DISPLAY(gdkDisplay)) return;  // Wayland: nothing
  Display* display = XOpenDisplay(DisplayString(gdk_x11_display_get_xdisplay(gdkDisplay)));
  if (display == nullptr) return;
  display_ = display;

  int event = 0;
  int error = 0;
  int major = 2;
  int minor = 2;
  if (XQueryExtension(display, "XInputExtension", &xiOpcode_, &event, &error) != False &&
      XIQueryVersion(display, &major, &minor) == Success && major >= 2) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    rawEvents_ = XISelectEvents(display, DefaultRootWindow(display), &mask, 1) == Success;
  }
  XSync(display, False);
  if (!rawEvents_) poll_ = g_timeout_add(kSampleMs, &GlobalKeys::OnPoll, this);
}

GlobalKeys::~GlobalKeys() {
  if (poll_ != 0) g_source_remove(poll_);
  if (display_ != nullptr) XCloseDisplay(AsDisplay(display_));
}

gboolean GlobalKeys::OnPoll(gpointer self) {
  auto* keys = static_cast<GlobalKeys*>(self);
  char map[32] = {};
  XQueryKeymap(AsDisplay(keys->display_), map);
  keys->Sample(map);
  return G_SOURCE_CONTINUE;
}

// Takes what the server sent before the last reply read: key presses, and
// keyboard changes that make the key codes found so far stale. Only what
// Xlib has read already: no look at the connection of its own.
void GlobalKeys::Drain() {
  Display* display = AsDisplay(display_);
  while (XEventsQueued(display, QueuedAlready) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      f7Keycodes_.reset();
      continue;
    }
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != xiOpcode_) continue;
    if (XGetEventData(display, cookie) == False) continue;
    if (cookie->evtype == XI_RawKeyPress) {
      const int keycode = static_cast<const XIRawEvent*>(cookie->data)->detail;
      if (keycode >= 0 && keycode < static_cast<int>(pressedSince_.size())) {
        pressedSince_[keycode] = true;
      }
    }
    XFreeEventData(display, cookie);
  }
}

// Without raw events: a key that is down now and was not at the previous
// sample went down in between.
void GlobalKeys::Sample(const char* map) {
  for (std::size_t keycode = 0; keycode < downAtSample_.size(); ++keycode) {
    const bool down = (map[keycode / 8] & (1 << (keycode % 8))) != 0;
    if (down && !downAtSample_[keycode]) pressedSince_[keycode] = true;
    downAtSample_[keycode] = down;
  }
}

const std::vector<int>& GlobalKeys::F7Keycodes() {
  if (f7Keycodes_) return *f7Keycodes_;
  std::vector<int> codes;
  Display* display = AsDisplay(display_);
  int first = 0;
  int last = 0;
  XDisplayKeycodes(display, &first, &last);
  int perCode = 0;
  KeySym* symbols =
      XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
  if (symbols != nullptr) {
    // Any level counts: F7 is F7 with Ctrl or Shift held as well.
    for (int code = first; code <= last; ++code) {
      for (int level = 0; level < perCode; ++level) {
        if (symbols[(code - first) * perCode + level] == XK_F7) {
          codes.push_back(code);
          break;
        }
      }
    }
    XFree(symbols);
  }
  return f7Keycodes_.emplace(std::move(codes));
}

std::int16_t GlobalKeys::Query(std::int32_t vKey) {
  if (display_ == nullptr || vKey != kVkF7) return 0;
  // One round trip per poll: the server sends the key
  // map's reply after every event it sent before, so reading the reply
  // brings those raw presses into the queue too.
  char map[32] = {};
  XQueryKeymap(AsDisplay(display_), map);
  Drain();
  if (!rawEvents_) Sample(map);
  const std::vector<int>& codes = F7Keycodes();
  if (codes.empty()) return 0;
  bool down = false;
  bool pressed = false;
  for (int code : codes) {
    if (code < 0 || code >= static_cast<int>(pressedSince_.size())) continue;
    down = down || (map[code / 8] & (1 << (code % 8))) != 0;
    pressed = pressed || pressedSince_[code];
    pressedSince_[code] = false;
  }
  return static_cast<std::int16_t>((down ? 0x8000 : 0) | (pressed ? 1 : 0));
}

}  // namespace platform::gtk
