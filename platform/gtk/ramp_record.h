// The file that records the gamma ramps as they were found, so that a run
// that was killed is mended by the next start.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gtk/blend.h"

namespace platform::gamma {

using CrtcId = std::uint64_t;

struct CrtcRamp {
  CrtcId crtc = 0;
  Ramp ramp;
  bool operator==(const CrtcRamp&) const = default;
};

// The record's text: a versioned header, the display it belongs to, each
// CRTC's ramps in hexadecimal, and a check sum over all of it.
std::string FormatRecord(std::string_view display, const std::vector<CrtcRamp>& ramps);
// Nothing for a text that is not a whole, intact record of this display.
std::optional<std::vector<CrtcRamp>> ParseRecord(std::string_view text, std::string_view display);

// The record's file name for a display, without its folder.
std::string RecordName(std::string_view display);

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

}  // namespace platform::gamma
