// The tint through the CRTC gamma ramps, for an X server without a
// compositing manager, where no window can be translucent. Every ramp is
// recorded as found, with the tint put over it, before it is tinted; it is
// given back at the end, or by the next start from the record where that
// tint is still shown. The tint is held: a ramp that something else reset
// is taken as the new found one and tinted again. No X types: the X server
// comes in through GammaScreen (x_gamma_screen.h).
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/gtk/blend.h"
#include "platform/gtk/ramp_record.h"
#include "platform/gtk/tint.h"

namespace platform::gamma {

// One CRTC as read: its ramps (empty where it has none), or nothing when
// the read failed, which says nothing about whether the CRTC is there.
struct CrtcRead {
  CrtcId crtc = 0;
  std::optional<Ramp> ramp;
  bool active = true;  // drives a monitor now
};

// The X server, as the ramps need it.
class GammaScreen {
 public:
  virtual ~GammaScreen() = default;
  // Every CRTC there is now; nothing when the list could not be read.
  virtual std::optional<std::vector<CrtcRead>> ReadRamps() = 0;
  // One CRTC's ramps, in one request; nothing when the read failed.
  virtual std::optional<Ramp> ReadRamp(CrtcId crtc) = 0;
  virtual bool WriteRamp(CrtcId crtc, const Ramp& ramp) = 0;
};

// Whether `shown` is `found` with `colour` laid over at an opacity the
// ramps apply (0 included): a tint of ours, wherever the slider was.
bool ShowsTintOf(const Ramp& shown, const Ramp& found, Colour colour);

class TintRamps : public gtk::Tint {
 public:
  // `server`: the X server's name as the record keeps it.
  TintRamps(GammaScreen& screen, std::string recordPath, std::string server);
  TintRamps(const TintRamps&) = delete;
  TintRamps& operator=(const TintRamps&) = delete;

  // Reads and records the ramps of every CRTC that has some; false when
  // none has, and then nothing is recorded.
  bool Take();
  // Ramps are taken: the tint can go there.
  bool Holds() const { return !held_.empty(); }

  // A translucent overlay tints the ramps taken; an opaque one is a plain
  // window, and the ramps go back as found.
  bool Show(const gtk::Overlay& overlay) override;
  void Hide() override { GiveBack(); }
  // A CRTC not seen before is recorded and tinted; one that went is
  // remembered, in case it comes back showing our tint.
  void MonitorsChanged() override;
  // Looks at the ramp of each active CRTC the tint holds, one request
  // each: one that no longer shows the tint takes what it shows as found and is tinted again
  // on top. A read that fails is tried again next time.
  void Hold();
  // Every ramp as it was found; the record goes.
  void GiveBack();
  // The connection this was made with is gone: the ramps go back through
  // `screen`, a connection of its own to the same server.
  void GiveBackThrough(GammaScreen& screen);

  // The ramps as found, per CRTC the tint holds.
  std::map<CrtcId, Ramp> found() const;

 private:
  struct Held {
    Ramp found;
    Ramp applied;  // what was written over it; empty before that
    bool active = true;
  };

  // What the held CRTC shows now belongs to us: the tint, or a tint of its
  // found ramp at another opacity; else it is someone else's ramp.
  bool Ours(const Held& held, const Ramp& shown) const;
  // Takes what `crtc` shows as its found ramp, unless it is a tint of
  // ours it had before (a CRTC that went and came back).
  void Adopt(const CrtcRead& crtc);
  void RecordRamps();
  void Apply(bool again);

  GammaScreen* screen_;
  std::string recordPath_;
  std::string server_;
  std::map<CrtcId, Held> held_;
  std::map<CrtcId, Held> gone_;                            // held CRTCs that went away
  std::optional<std::pair<Colour, std::uint8_t>> wanted_;  // colour and ramp opacity
  bool applied_ = false;                                   // the ramps hold wanted_
  // The tint the record was last written with.
  std::optional<std::pair<Colour, std::uint8_t>> recorded_;
  bool lookAgain_ = false;  // the list of CRTCs could not be read
  bool warnedRecord_ = false;
};

// What the start found of a run that was killed.
struct LeftBehind {
  RecordState state = RecordState::Absent;
  int givenBack = 0;  // CRTCs that still showed its tint, now as found
  int stale = 0;      // CRTCs that show something else now, left so
  bool removed = false;
};

// At start, before anything reads a ramp: gives back what a run that was
// killed or crashed left tinted, where a CRTC still shows that tint; where
// it shows anything else the record is stale and what is there stays.
// The record goes.
LeftBehind GiveBackRecorded(GammaScreen& screen, const std::string& path, std::string_view server);

}  // namespace platform::gamma
