// The tint through the CRTC gamma ramps, for an X server without a
// compositing manager, where no window can be translucent: every ramp is
// recorded as found before it is tinted, and given back at the end (or by
// the next start, from the record, when a run was killed). No X types: the
// X server comes in through GammaScreen (x_gamma_screen.h).
#pragma once

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

// The X server, as the ramps need it.
class GammaScreen {
 public:
  virtual ~GammaScreen() = default;
  // Every CRTC with its ramps as they are now (empty where it has none).
  virtual std::vector<CrtcRamp> ReadRamps() = 0;
  virtual bool WriteRamp(CrtcId crtc, const Ramp& ramp) = 0;
};

class TintRamps : public gtk::Tint {
 public:
  TintRamps(GammaScreen& screen, std::string recordPath, std::string display);
  TintRamps(const TintRamps&) = delete;
  TintRamps& operator=(const TintRamps&) = delete;

  // Reads and records the ramps of every CRTC that has some; false when
  // none has, and then nothing is recorded.
  bool Take();
  // Ramps are taken: the tint can go there.
  bool Holds() const { return !found_.empty(); }

  // A translucent overlay tints the ramps taken; an opaque one is a plain
  // window, and the ramps go back as found.
  bool Show(const gtk::Overlay& overlay) override;
  void Hide() override { GiveBack(); }
  // A CRTC not seen before is recorded and tinted, the others tinted again
  // (a mode set may reset a ramp).
  void MonitorsChanged() override;
  // Every ramp as it was found; the record goes.
  void GiveBack();

  const std::map<CrtcId, Ramp>& found() const { return found_; }

 private:
  void Record();
  void Apply(bool again);

  GammaScreen& screen_;
  std::string recordPath_;
  std::string display_;
  std::map<CrtcId, Ramp> found_;                           // as found, for the CRTCs the tint holds
  std::optional<std::pair<Colour, std::uint8_t>> wanted_;  // colour and ramp opacity
  std::optional<std::pair<Colour, std::uint8_t>> applied_;  // what the ramps hold now
  bool warnedRecord_ = false;
};

// At start, before anything reads a ramp: gives back what a run that was
// killed or crashed left tinted (the CRTCs of the record that are still
// there with the same size), then drops the record.
RecordState GiveBackRecorded(GammaScreen& screen, const std::string& path,
                             std::string_view display);

}  // namespace platform::gamma
