#include "platform/gtk/gamma.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace platform::gamma {

namespace {

constexpr std::string_view kHeader = "morvane-night gamma ramps 1";
constexpr std::size_t kMostCrtcs = 64;
constexpr std::size_t kLargestRamp = 65536;
// Far above what the largest record takes (64 CRTCs of 65536 entries
// would not fit, but no card has such ramps); a file larger is not ours.
constexpr off_t kLargestRecord = 16 * 1024 * 1024;

std::uint64_t CheckSum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

void AppendHex(std::string& out, std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

void AppendLevels(std::string& out, const std::vector<std::uint16_t>& levels) {
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (i != 0) out += ' ';
    AppendHex(out, levels[i], 4);
  }
  out += '\n';
}

// Reads a record line by line; every step refuses what is not exactly as
// FormatRecord writes it.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  std::optional<std::string_view> Next() {
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return line;
  }
  std::size_t at() const { return at_; }
  bool AtEnd() const { return at_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

template <class T>
std::optional<T> Number(std::string_view text, int base = 10) {
  T value{};
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "word rest": the rest, when the line starts with the word and a space.
std::optional<std::string_view> After(std::string_view line, std::string_view word) {
  if (line.size() <= word.size() || line.substr(0, word.size()) != word ||
      line[word.size()] != ' ') {
    return std::nullopt;
  }
  return line.substr(word.size() + 1);
}

std::optional<std::vector<std::uint16_t>> Levels(std::string_view line, std::size_t size) {
  // Four hexadecimal digits per level, one space between.
  if (line.size() != size * 5 - 1) return std::nullopt;
  std::vector<std::uint16_t> levels(size);
  for (std::size_t i = 0; i < size; ++i) {
    if (i != 0 && line[i * 5 - 1] != ' ') return std::nullopt;
    const auto level = Number<std::uint16_t>(line.substr(i * 5, 4), 16);
    if (!level) return std::nullopt;
    levels[i] = *level;
  }
  return levels;
}

// Only what is safe in a file name; a display is ":0" or "host:0.0".
std::string FileNameOf(std::string_view display) {
  std::string name;
  for (const char c : display) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    name += plain ? c : '_';
  }
  return name.empty() ? std::string("_") : name;
}

bool IsFolder(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::uint8_t RampOpacity(std::uint8_t opacity) { return std::min(opacity, kMostRampOpacity); }

std::uint16_t Blend(std::uint16_t level, std::uint8_t channel, std::uint8_t alpha) {
  // In 16-bit levels, rounded: level * (255 - a) / 255 + channel * 257 * a / 255.
  const std::uint32_t sum =
      std::uint32_t{level} * (255U - alpha) + std::uint32_t{channel} * 257U * alpha;
  return static_cast<std::uint16_t>((sum + 127U) / 255U);
}

Ramp Tinted(const Ramp& found, Colour colour, std::uint8_t alpha) {
  const auto bits = static_cast<std::uint32_t>(colour);
  auto over = [alpha](const std::vector<std::uint16_t>& levels, std::uint32_t channel) {
    std::vector<std::uint16_t> out(levels.size());
    std::transform(levels.begin(), levels.end(), out.begin(), [&](std::uint16_t level) {
      return Blend(level, static_cast<std::uint8_t>(channel & 0xFFU), alpha);
    });
    return out;
  };
  return Ramp{over(found.red, bits), over(found.green, bits >> 8), over(found.blue, bits >> 16)};
}

bool KeepsRamps(const Ramp& ramp) {
  if (ramp.size() == 0) return false;
  auto zero = [](const std::vector<std::uint16_t>& levels) {
    return std::all_of(levels.begin(), levels.end(), [](std::uint16_t l) { return l == 0; });
  };
  return !(zero(ramp.red) && zero(ramp.green) && zero(ramp.blue));
}

// --- the record ---------------------------------------------------------------------

std::string FormatRecord(std::string_view display, const std::vector<CrtcRamp>& ramps) {
  std::string text;
  text += kHeader;
  text += "\ndisplay ";
  text += display;
  text += "\ncrtcs " + std::to_string(ramps.size()) + "\n";
  for (const CrtcRamp& crtc : ramps) {
    text += "crtc " + std::to_string(crtc.crtc) + " " + std::to_string(crtc.ramp.size()) + "\n";
    AppendLevels(text, crtc.ramp.red);
    AppendLevels(text, crtc.ramp.green);
    AppendLevels(text, crtc.ramp.blue);
  }
  const std::uint64_t sum = CheckSum(text);
  text += "check ";
  AppendHex(text, sum, 16);
  text += '\n';
  return text;
}

std::optional<std::vector<CrtcRamp>> ParseRecord(std::string_view text, std::string_view display) {
  Lines lines(text);
  if (lines.Next() != kHeader) return std::nullopt;
  const auto shown = lines.Next();
  if (!shown || After(*shown, "display") != display) return std::nullopt;
  const auto counted = lines.Next();
  const auto count = counted ? After(*counted, "crtcs") : std::nullopt;
  const auto crtcs = count ? Number<std::size_t>(*count) : std::nullopt;
  if (!crtcs || *crtcs > kMostCrtcs) return std::nullopt;

  std::vector<CrtcRamp> ramps;
  for (std::size_t i = 0; i < *crtcs; ++i) {
    const auto head = lines.Next();
    const auto fields = head ? After(*head, "crtc") : std::nullopt;
    const std::size_t space = fields ? fields->find(' ') : std::string_view::npos;
    if (space == std::string_view::npos) return std::nullopt;
    const auto id = Number<CrtcId>(fields->substr(0, space));
    const auto size = Number<std::size_t>(fields->substr(space + 1));
    if (!id || !size || *size == 0 || *size > kLargestRamp) return std::nullopt;
    if (std::any_of(ramps.begin(), ramps.end(), [&](const CrtcRamp& r) { return r.crtc == *id; })) {
      return std::nullopt;
    }
    CrtcRamp crtc{*id, {}};
    for (auto* channel : {&crtc.ramp.red, &crtc.ramp.green, &crtc.ramp.blue}) {
      const auto line = lines.Next();
      auto levels = line ? Levels(*line, *size) : std::nullopt;
      if (!levels) return std::nullopt;
      *channel = std::move(*levels);
    }
    ramps.push_back(std::move(crtc));
  }
  const std::size_t summed = lines.at();
  const auto check = lines.Next();
  const auto written = check ? After(*check, "check") : std::nullopt;
  if (!written || written->size() != 16 || !lines.AtEnd()) return std::nullopt;
  const auto sum = Number<std::uint64_t>(*written, 16);
  if (!sum || *sum != CheckSum(text.substr(0, summed))) return std::nullopt;
  return ramps;
}

std::string RecordPath(const char* runtimeDir, std::string_view display) {
  const std::string name = "morvane-night-ramps-" + FileNameOf(display);
  if (IsFolder(runtimeDir)) return std::string(runtimeDir) + "/" + name;
  // A folder every user shares: the user's id keeps the records apart.
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = IsFolder(tmp) ? tmp : "/tmp";
  return folder + "/" + name + "-" + std::to_string(::getuid());
}

bool WriteRecord(const std::string& path, std::string_view display,
                 const std::vector<CrtcRamp>& ramps) {
  const std::string text = FormatRecord(display, ramps);
  const std::string partial = path + ".new";
  ::unlink(partial.c_str());  // what an interrupted write left
  const int fd =
      ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text);
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  // A rename replaces a link at `path` itself, never what it points to.
  ok = ok && ::rename(partial.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(partial.c_str());
  return ok;
}

RecordRead ReadRecord(const std::string& path, std::string_view display) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {errno == ENOENT ? RecordState::Absent : RecordState::Refused, {}};
  struct stat info {};
  std::string text;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid() &&
            info.st_size <= kLargestRecord;
  if (ok) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (ok && got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) got += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  auto ramps = ok ? ParseRecord(text, display) : std::nullopt;
  if (!ramps) return {RecordState::Refused, {}};
  return {RecordState::Read, std::move(*ramps)};
}

// --- the choice of path -----------------------------------------------------------------

const char* NameOf(TintPath path) {
  switch (path) {
    case TintPath::Off:
      return "off";
    case TintPath::Overlay:
      return "overlay";
    case TintPath::Ramps:
      return "gamma ramps";
    case TintPath::Neither:
      return "neither";
  }
  return "?";
}

TintRouter::TintRouter(GammaScreen& screen, std::string recordPath, std::string display)
    : screen_(screen), recordPath_(std::move(recordPath)), display_(std::move(display)) {}

TintPath TintRouter::Route(const Tint& tint) {
  TintPath want = TintPath::Neither;
  if (!tint.shown) {
    want = TintPath::Off;
  } else if (screen_.Composited()) {
    want = TintPath::Overlay;
  } else if (path_ == TintPath::Ramps || TakeRamps()) {
    want = TintPath::Ramps;
  }
  if (want != TintPath::Ramps) GiveBack();
  path_ = want;
  if (want == TintPath::Ramps) Apply(tint, false);
  return path_;
}

TintPath TintRouter::ScreenChanged(const Tint& tint) {
  if (path_ == TintPath::Ramps) {
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
    // The record first: a ramp is tinted only once it is known how to
    // give it back.
    if (changed) Record();
    if (found_.empty()) {
      GiveBack();
    } else {
      Apply(tint, true);
    }
  }
  return Route(tint);
}

void TintRouter::GiveBack() {
  if (!found_.empty()) {
    for (const auto& [crtc, ramp] : found_) screen_.WriteRamp(crtc, ramp);
    ::unlink(recordPath_.c_str());
  }
  found_.clear();
  applied_.reset();
  if (path_ == TintPath::Ramps) path_ = TintPath::Off;
}

bool TintRouter::TakeRamps() {
  found_.clear();
  applied_.reset();
  for (CrtcRamp& crtc : screen_.ReadRamps()) {
    if (KeepsRamps(crtc.ramp)) found_[crtc.crtc] = std::move(crtc.ramp);
  }
  if (found_.empty()) return false;
  Record();
  return true;
}

void TintRouter::Record() {
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

void TintRouter::Apply(const Tint& tint, bool again) {
  const std::pair<Colour, std::uint8_t> wanted{tint.colour & 0x00FFFFFF, RampOpacity(tint.opacity)};
  if (!again && applied_ == wanted) return;
  for (const auto& [crtc, ramp] : found_) {
    screen_.WriteRamp(crtc, Tinted(ramp, wanted.first, wanted.second));
  }
  applied_ = wanted;
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
