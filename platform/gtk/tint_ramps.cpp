#include "platform/gtk/tint_ramps.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace platform::gamma {

TintRamps::TintRamps(GammaScreen& screen, std::string recordPath, std::string display)
    : screen_(screen), recordPath_(std::move(recordPath)), display_(std::move(display)) {}

bool TintRamps::Take() {
  found_.clear();
  applied_.reset();
  for (CrtcRamp& crtc : screen_.ReadRamps()) {
    if (KeepsRamps(crtc.ramp)) found_[crtc.crtc] = std::move(crtc.ramp);
  }
  if (found_.empty()) return false;
  Record();
  return true;
}

bool TintRamps::Show(const gtk::Overlay& overlay) {
  if (!overlay.translucent) {
    GiveBack();
    return true;
  }
  if (!Holds() && !Take()) return false;
  wanted_ = std::make_pair(overlay.colour & 0x00FFFFFF, RampOpacity(overlay.opacity));
  Apply(false);
  return false;
}

void TintRamps::MonitorsChanged() {
  if (!Holds()) return;
  std::map<CrtcId, Ramp> now;
  for (CrtcRamp& crtc : screen_.ReadRamps()) now[crtc.crtc] = std::move(crtc.ramp);
  bool changed = false;
  for (auto it = found_.begin(); it != found_.end();) {
    const auto there = now.find(it->first);
    if (there == now.end() || there->second.size() != it->second.size()) {
      it = found_.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }
  for (auto& [crtc, ramp] : now) {
    if (found_.count(crtc) == 0 && KeepsRamps(ramp)) {
      found_[crtc] = std::move(ramp);
      changed = true;
    }
  }
  // The record first: a ramp is tinted only once it is known how to give
  // it back.
  if (changed) Record();
  if (found_.empty()) {
    GiveBack();
  } else {
    Apply(true);
  }
}

void TintRamps::GiveBack() {
  if (!found_.empty()) {
    for (const auto& [crtc, ramp] : found_) screen_.WriteRamp(crtc, ramp);
    ::unlink(recordPath_.c_str());
  }
  found_.clear();
  applied_.reset();
}

void TintRamps::Record() {
  std::vector<CrtcRamp> ramps;
  for (const auto& [crtc, ramp] : found_) ramps.push_back(CrtcRamp{crtc, ramp});
  if (WriteRecord(recordPath_, display_, ramps) || warnedRecord_) return;
  warnedRecord_ = true;
  // The tint still goes on; only a run that is killed cannot be mended.
  std::fprintf(stderr,
               "morvane-night: cannot record the gamma ramps in %s; if this run is killed, "
               "the next start cannot give them back\n",
               recordPath_.c_str());
}

void TintRamps::Apply(bool again) {
  if (!wanted_ || (!again && applied_ == wanted_)) return;
  for (const auto& [crtc, ramp] : found_) {
    screen_.WriteRamp(crtc, Tinted(ramp, wanted_->first, wanted_->second));
  }
  applied_ = wanted_;
}

RecordState GiveBackRecorded(GammaScreen& screen, const std::string& path,
                             std::string_view display) {
  const RecordRead record = ReadRecord(path, display);
  if (record.state == RecordState::Absent) return record.state;
  if (record.state == RecordState::Read) {
    const std::vector<CrtcRamp> now = screen.ReadRamps();
    for (const CrtcRamp& found : record.ramps) {
      const bool there = std::any_of(now.begin(), now.end(), [&](const CrtcRamp& crtc) {
        return crtc.crtc == found.crtc && crtc.ramp.size() == found.ramp.size();
      });
      if (there) screen.WriteRamp(found.crtc, found.ramp);
    }
  }
  ::unlink(path.c_str());
  return record.state;
}

}  // namespace platform::gamma
