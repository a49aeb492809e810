// The file that records, per CRTC, the gamma ramp as it was found and the
// tint put over it, so that a run that was killed is mended by the next
// start where its tint is still shown, and only there.
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
  Ramp ramp;     // as found
  Ramp applied;  // the tint written over it; empty: as found
  bool operator==(const CrtcRamp&) const = default;
};

struct Record {
  Colour colour = 0;  // the tint's colour
  std::vector<CrtcRamp> crtcs;
  bool operator==(const Record&) const = default;
};

// The record's text: a versioned header, the X server it belongs to, the
// tint's colour, each CRTC's ramps (found, then applied) in hexadecimal,
// and a check sum over all of it.
std::string FormatRecord(std::string_view server, const Record& record);
// Nothing for a text that is not a whole, intact record of this server.
std::optional<Record> ParseRecord(std::string_view text, std::string_view server);

// The record's file name for an X server, without its folder.
std::string RecordName(std::string_view server);

// Written beside and renamed into place, never through a symbolic link.
bool WriteRecord(const std::string& path, std::string_view server, const Record& record);

enum class RecordState { Absent, Read, Refused };
struct RecordRead {
  RecordState state = RecordState::Absent;
  Record record;
};
// Refused: not a plain file of this user, too large, or not an intact
// record of this server.
RecordRead ReadRecord(const std::string& path, std::string_view server);

}  // namespace platform::gamma
