#include "platform/gtk/tint_ramps.h"

#include <unistd.h>

#include <cstdio>

namespace platform::gamma {

namespace {

// A read that fails is tried again before it counts as failed.
constexpr int kReadTries = 3;

std::optional<std::vector<CrtcRead>> ReadList(GammaScreen& screen) {
  for (int i = 0; i < kReadTries; ++i) {
    if (auto list = screen.ReadRamps()) return list;
  }
  return std::nullopt;
}

std::optional<Ramp> ReadOne(GammaScreen& screen, CrtcId crtc) {
  for (int i = 0; i < kReadTries; ++i) {
    if (auto ramp = screen.ReadRamp(crtc)) return ramp;
  }
  return std::nullopt;
}

std::uint8_t ChannelOf(Colour colour, int shift) {
  return static_cast<std::uint8_t>((static_cast<std::uint32_t>(colour) >> shift) & 0xFFU);
}

}  // namespace

bool ShowsTintOf(const Ramp& shown, const Ramp& found, Colour colour) {
  if (found.size() == 0 || shown.size() != found.size()) return false;
  for (int opacity = 0; opacity <= kMostRampOpacity; ++opacity) {
    const auto alpha = static_cast<std::uint8_t>(opacity);
    // The top of each channel first: most opacities differ there.
    if (shown.red.back() != Blend(found.red.back(), ChannelOf(colour, 0), alpha) ||
        shown.green.back() != Blend(found.green.back(), ChannelOf(colour, 8), alpha) ||
        shown.blue.back() != Blend(found.blue.back(), ChannelOf(colour, 16), alpha)) {
      continue;
    }
    if (Tinted(found, colour, alpha) == shown) return true;
  }
  return false;
}

TintRamps::TintRamps(GammaScreen& screen, std::string recordPath, std::string server)
    : screen_(&screen), recordPath_(std::move(recordPath)), server_(std::move(server)) {}

bool TintRamps::Take() {
  held_.clear();
  applied_ = false;
  const auto list = ReadList(*screen_);
  lookAgain_ = !list;
  if (!list) return false;
  for (const CrtcRead& crtc : *list) {
    if (crtc.ramp && KeepsRamps(*crtc.ramp)) Adopt(crtc);
  }
  if (held_.empty()) return false;
  RecordRamps();
  return true;
}

bool TintRamps::Ours(const Held& held, const Ramp& shown) const {
  if (held.applied.size() != 0 && shown == held.applied) return true;
  return wanted_ && ShowsTintOf(shown, held.found, wanted_->first);
}

void TintRamps::Adopt(const CrtcRead& crtc) {
  if (auto was = gone_.find(crtc.crtc); was != gone_.end()) {
    const bool ours = Ours(was->second, *crtc.ramp);
    if (ours) held_[crtc.crtc] = Held{was->second.found, {}, crtc.active};
    gone_.erase(was);
    if (ours) return;
  }
  held_[crtc.crtc] = Held{*crtc.ramp, {}, crtc.active};
}

bool TintRamps::Show(const gtk::Overlay& overlay) {
  if (!overlay.translucent) {
    GiveBack();
    return true;
  }
  if (!Holds() && !Take()) return false;
  const std::pair<Colour, std::uint8_t> wanted{overlay.colour & 0x00FFFFFF,
                                               RampOpacity(overlay.opacity)};
  if (wanted_ != wanted) applied_ = false;
  wanted_ = wanted;
  Apply(false);
  return false;
}

void TintRamps::MonitorsChanged() {
  if (!Holds()) return;
  const auto list = ReadList(*screen_);
  lookAgain_ = !list;
  if (!list) return;
  bool changed = false;
  for (auto it = held_.begin(); it != held_.end();) {
    const auto there = std::find_if(list->begin(), list->end(),
                                    [&](const CrtcRead& c) { return c.crtc == it->first; });
    // A CRTC whose read failed is still there: it is looked at again.
    const bool gone = there == list->end() || (there->ramp && there->ramp->size() == 0);
    if (gone) {
      gone_[it->first] = std::move(it->second);
      it = held_.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }
  for (const CrtcRead& crtc : *list) {
    if (!crtc.ramp || !KeepsRamps(*crtc.ramp)) continue;
    auto held = held_.find(crtc.crtc);
    if (held == held_.end()) {
      Adopt(crtc);
      changed = true;
      continue;
    }
    held->second.active = crtc.active;
    if (!Ours(held->second, *crtc.ramp)) {
      held->second.found = *crtc.ramp;
      changed = true;
    }
  }
  // The record first: a ramp is tinted only once it is known how to give
  // it back.
  if (changed) RecordRamps();
  if (held_.empty()) {
    GiveBack();
  } else {
    Apply(true);
  }
}

void TintRamps::Hold() {
  if (lookAgain_) MonitorsChanged();
  if (!Holds() || !wanted_ || !applied_) return;
  std::vector<CrtcId> again;
  bool changed = false;
  for (auto& [crtc, held] : held_) {
    // What no monitor shows needs no looking at until the monitors change.
    if (!held.active) continue;
    const std::optional<Ramp> shown = screen_->ReadRamp(crtc);
    if (!shown || *shown == held.applied) continue;
    if (!Ours(held, *shown)) {
      // Reset from outside (a mode set, a resume, a calibration loaded):
      // what it shows now is what the user has beneath the tint.
      if (!KeepsRamps(*shown)) continue;
      held.found = *shown;
      changed = true;
    }
    again.push_back(crtc);
  }
  if (changed || recorded_ != wanted_) RecordRamps();
  for (CrtcId crtc : again) {
    Held& held = held_.at(crtc);
    held.applied = Tinted(held.found, wanted_->first, wanted_->second);
    screen_->WriteRamp(crtc, held.applied);
  }
}

void TintRamps::GiveBack() {
  if (!held_.empty()) {
    bool all = true;
    for (const auto& [crtc, held] : held_) all = screen_->WriteRamp(crtc, held.found) && all;
    // A ramp that could not be written is left to the next start, which
    // finds the record.
    if (all) ::unlink(recordPath_.c_str());
  }
  held_.clear();
  gone_.clear();
  applied_ = false;
  recorded_.reset();
}

void TintRamps::GiveBackThrough(GammaScreen& screen) {
  screen_ = &screen;
  GiveBack();
}

std::map<CrtcId, Ramp> TintRamps::found() const {
  std::map<CrtcId, Ramp> ramps;
  for (const auto& [crtc, held] : held_) ramps[crtc] = held.found;
  return ramps;
}

void TintRamps::RecordRamps() {
  Record record;
  if (wanted_) record.colour = wanted_->first;
  for (const auto& [crtc, held] : held_) {
    record.crtcs.push_back(
        CrtcRamp{crtc, held.found,
                 wanted_ ? Tinted(held.found, wanted_->first, wanted_->second) : held.found});
  }
  recorded_ = wanted_;
  if (WriteRecord(recordPath_, server_, record) || warnedRecord_) return;
  warnedRecord_ = true;
  // The tint still goes on; only a run that is killed cannot be mended.
  std::fprintf(stderr,
               "morvane-night: cannot record the gamma ramps in %s; if this run is killed, "
               "the next start cannot give them back\n",
               recordPath_.c_str());
}

void TintRamps::Apply(bool again) {
  if (!wanted_ || (!again && applied_)) return;
  // A new colour is recorded before it is shown: a start after a kill
  // knows the tint by it. A new opacity alone need not be.
  if (!recorded_ || recorded_->first != wanted_->first) RecordRamps();
  for (auto& [crtc, held] : held_) {
    held.applied = Tinted(held.found, wanted_->first, wanted_->second);
    screen_->WriteRamp(crtc, held.applied);
  }
  applied_ = true;
}

LeftBehind GiveBackRecorded(GammaScreen& screen, const std::string& path, std::string_view server) {
  LeftBehind out;
  const RecordRead read = ReadRecord(path, server);
  out.state = read.state;
  if (read.state == RecordState::Absent) return out;
  for (const CrtcRamp& crtc : read.record.crtcs) {
    const std::optional<Ramp> shown = ReadOne(screen, crtc.crtc);
    if (!shown) continue;  // gone, or cannot be read: nothing to tell by
    if (*shown == crtc.applied || ShowsTintOf(*shown, crtc.ramp, read.record.colour)) {
      screen.WriteRamp(crtc.crtc, crtc.ramp);
      ++out.givenBack;
    } else {
      ++out.stale;
    }
  }
  out.removed = ::unlink(path.c_str()) == 0;
  return out;
}

}  // namespace platform::gamma
