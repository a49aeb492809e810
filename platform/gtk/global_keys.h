// F7's global state, read from the X server whatever window has the focus:
// whether it is down now comes from the server's key map (XQueryKeymap); a
// press shorter than the program's poll is seen through XInput 2 raw key
// events on the root window, which every client may listen to without a
// grab. A connection of its own keeps this apart from GTK's event handling.
#pragma once

#include <glib.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform::gtk {

class GlobalKeys {
 public:
  GlobalKeys();
  ~GlobalKeys();
  GlobalKeys(const GlobalKeys&) = delete;
  GlobalKeys& operator=(const GlobalKeys&) = delete;

  // Bit 15: F7 is down now. Bit 0: it went down since the previous query.
  // 0 for any other key, and off X11.
  std::int16_t Query(std::int32_t vKey);

 private:
  static gboolean OnPoll(gpointer self);
  void Drain();
  void Sample(const char* map);
  // The key codes that carry F7, looked up once per keyboard mapping.
  const std::vector<int>& F7Keycodes();

  void* display_ = nullptr;  // a connection of its own: Display*
  bool rawEvents_ = false;   // XInput 2 raw key presses arrive
  int xiOpcode_ = 0;
  guint poll_ = 0;  // sampling the key map, where raw events are not to be had
  // Per X keycode: went down since it was last asked about; was down at
  // the last sample.
  std::array<bool, 256> pressedSince_{};
  std::array<bool, 256> downAtSample_{};
  std::optional<std::vector<int>> f7Keycodes_;  // reset when the keyboard changes
};

}  // namespace platform::gtk
