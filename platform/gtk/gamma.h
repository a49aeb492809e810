// The tint through the CRTC gamma ramps, for an X server without a
// compositing manager, where no window can be translucent. The blend a
// compositor would draw, out = in * (1 - a) + c * a per channel, depends on
// each channel alone, so it can be put into the ramps every monitor goes
// through. Here: that arithmetic, the file that records the ramps found (so
// a run that was killed is mended by the next start), and the choice
// between the translucent overlay and the ramps. No X types: the backend
// hands the X server in through GammaScreen (gtk_x11.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/types.h"

namespace platform::gamma {

using CrtcId = std::uint64_t;

// One CRTC's three ramps, of the same size: 16-bit output levels for the
// input levels spread evenly from 0 to full.
struct Ramp {
  std::vector<std::uint16_t> red;
  std::vector<std::uint16_t> green;
  std::vector<std::uint16_t> blue;

  std::size_t size() const { return red.size(); }
  bool operator==(const Ramp&) const = default;
};

struct CrtcRamp {
  CrtcId crtc = 0;
  Ramp ramp;
  bool operator==(const CrtcRamp&) const = default;
};

// The ramps tint the panel too, and at full opacity in black they would
// leave nothing to see the way back by; they never apply more than this.
constexpr std::uint8_t kMostRampOpacity = 220;

// What the ramps apply for the opacity the user set.
std::uint8_t RampOpacity(std::uint8_t opacity);

// One output level blended with a colour channel at opacity `alpha`.
std::uint16_t Blend(std::uint16_t level, std::uint8_t channel, std::uint8_t alpha);

// The ramp `found` with the colour (0x00BBGGRR) laid over at `alpha`: a
// calibrated ramp stays calibrated beneath the tint.
Ramp Tinted(const Ramp& found, Colour colour, std::uint8_t alpha);

// False for a CRTC without ramps (size 0), and for one that reads all
// black: no screen is used so (one faded out, or ramps a virtual server
// never set), and giving such a ramp back would leave the screen black.
bool KeepsRamps(const Ramp& ramp);

// --- the record of the ramps found ---------------------------------------------

// The record's text: a versioned header, the display it belongs to, each
// CRTC's ramps in hexadecimal, and a check sum over all of it.
std::string FormatRecord(std::string_view display, const std::vector<CrtcRamp>& ramps);
// Nothing for a text that is not a whole, intact record of this display.
std::optional<std::vector<CrtcRamp>> ParseRecord(std::string_view text, std::string_view display);

// Where the record of a display is kept: the user's runtime folder (it
// goes with the session), else a per-user name in the temporary folder.
std::string RecordPath(const char* runtimeDir, std::string_view display);

// Written beside and renamed into place, never through a symbolic link.
bool WriteRecord(const std::string& path, std::string_view display,
                 const std::vector<CrtcRamp>& ramps);

enum class RecordState { Absent, Read, Refused };
struct RecordRead {
  RecordState state = RecordState::Absent;
  std::vector<CrtcRamp> ramps;
};
// Refused: not a plain file of this user, too large, or not an intact
// record of this display.
RecordRead ReadRecord(const std::string& path, std::string_view display);

// --- the X server, as the tint needs it ----------------------------------------

class GammaScreen {
 public:
  virtual ~GammaScreen() = default;
  // A compositing manager owns _NET_WM_CM_S<screen>.
  virtual bool Composited() = 0;
  // Every CRTC with its ramps as they are now (empty where it has none).
  virtual std::vector<CrtcRamp> ReadRamps() = 0;
  virtual bool WriteRamp(CrtcId crtc, const Ramp& ramp) = 0;
};

// How the overlay's tint reaches the screen.
enum class TintPath {
  Off,      // the overlay is not up
  Overlay,  // its translucent window, drawn by the compositing manager
  Ramps,    // no window: the gamma ramps of every CRTC
  Neither,  // no compositing manager and no ramps: no way to tint
};

const char* NameOf(TintPath path);

// The overlay as the forms left it: shown or not, its colour, and the
// opacity the user set.
struct Tint {
  bool shown = false;
  Colour colour = 0;
  std::uint8_t opacity = 0;
};

class TintRouter {
 public:
  TintRouter(GammaScreen& screen, std::string recordPath, std::string display);
  ~TintRouter() = default;
  TintRouter(const TintRouter&) = delete;
  TintRouter& operator=(const TintRouter&) = delete;

  // Puts the tint where it can go now: on the overlay while a compositing
  // manager runs, else in the ramps. Leaving the ramps gives them back.
  TintPath Route(const Tint& tint);
  // Monitors came, went or changed: a CRTC not seen before is recorded
  // and tinted, the others tinted again (a mode set may reset a ramp).
  TintPath ScreenChanged(const Tint& tint);
  // Every ramp as it was found; the record goes.
  void GiveBack();

  TintPath path() const { return path_; }
  const std::map<CrtcId, Ramp>& found() const { return found_; }

 private:
  bool TakeRamps();
  void Record();
  void Apply(const Tint& tint, bool again);

  GammaScreen& screen_;
  std::string recordPath_;
  std::string display_;
  TintPath path_ = TintPath::Off;
  std::map<CrtcId, Ramp> found_;  // as found, for the CRTCs the tint holds
  std::optional<std::pair<Colour, std::uint8_t>> applied_;
  bool warnedRecord_ = false;
};

// At start, before anything reads a ramp: gives back what a run that was
// killed or crashed left tinted (the CRTCs of the record that are still
// there with the same size), then drops the record.
RecordState GiveBackRecorded(GammaScreen& screen, const std::string& path,
                             std::string_view display);

}  // namespace platform::gamma
