#include "platform/gtk/ramp_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "platform/gtk/files.h"

namespace platform::gamma {

namespace {

constexpr std::string_view kHeader = "morvane-night gamma ramps 2";
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

}  // namespace

// --- the record ---------------------------------------------------------------------

std::string FormatRecord(std::string_view server, const Record& record) {
  std::string text;
  text += kHeader;
  text += "\nserver ";
  text += server;
  text += "\ncolour " + std::to_string(static_cast<std::uint32_t>(record.colour) & 0x00FFFFFFU);
  text += "\ncrtcs " + std::to_string(record.crtcs.size()) + "\n";
  for (const CrtcRamp& crtc : record.crtcs) {
    text += "crtc " + std::to_string(crtc.crtc) + " " + std::to_string(crtc.ramp.size()) + "\n";
    const Ramp& applied = crtc.applied.size() == 0 ? crtc.ramp : crtc.applied;
    for (const Ramp* ramp : {&crtc.ramp, &applied}) {
      AppendLevels(text, ramp->red);
      AppendLevels(text, ramp->green);
      AppendLevels(text, ramp->blue);
    }
  }
  const std::uint64_t sum = CheckSum(text);
  text += "check ";
  AppendHex(text, sum, 16);
  text += '\n';
  return text;
}

std::optional<Record> ParseRecord(std::string_view text, std::string_view server) {
  Lines lines(text);
  if (lines.Next() != kHeader) return std::nullopt;
  const auto shown = lines.Next();
  if (!shown || After(*shown, "server") != server) return std::nullopt;
  const auto coloured = lines.Next();
  const auto colourText = coloured ? After(*coloured, "colour") : std::nullopt;
  const auto colour = colourText ? Number<std::uint32_t>(*colourText) : std::nullopt;
  if (!colour || *colour > 0x00FFFFFFU) return std::nullopt;
  const auto counted = lines.Next();
  const auto count = counted ? After(*counted, "crtcs") : std::nullopt;
  const auto crtcs = count ? Number<std::size_t>(*count) : std::nullopt;
  if (!crtcs || *crtcs > kMostCrtcs) return std::nullopt;

  Record record{static_cast<Colour>(*colour), {}};
  for (std::size_t i = 0; i < *crtcs; ++i) {
    const auto head = lines.Next();
    const auto fields = head ? After(*head, "crtc") : std::nullopt;
    const std::size_t space = fields ? fields->find(' ') : std::string_view::npos;
    if (space == std::string_view::npos) return std::nullopt;
    const auto id = Number<CrtcId>(fields->substr(0, space));
    const auto size = Number<std::size_t>(fields->substr(space + 1));
    if (!id || !size || *size == 0 || *size > kLargestRamp) return std::nullopt;
    if (std::any_of(record.crtcs.begin(), record.crtcs.end(),
                    [&](const CrtcRamp& r) { return r.crtc == *id; })) {
      return std::nullopt;
    }
    CrtcRamp crtc{*id, {}, {}};
    for (auto* channel : {&crtc.ramp.red, &crtc.ramp.green, &crtc.ramp.blue, &crtc.applied.red,
                          &crtc.applied.green, &crtc.applied.blue}) {
      const auto line = lines.Next();
      auto levels = line ? Levels(*line, *size) : std::nullopt;
      if (!levels) return std::nullopt;
      *channel = std::move(*levels);
    }
    record.crtcs.push_back(std::move(crtc));
  }
  const std::size_t summed = lines.at();
  const auto check = lines.Next();
  const auto written = check ? After(*check, "check") : std::nullopt;
  if (!written || written->size() != 16 || !lines.AtEnd()) return std::nullopt;
  const auto sum = Number<std::uint64_t>(*written, 16);
  if (!sum || *sum != CheckSum(text.substr(0, summed))) return std::nullopt;
  return record;
}

std::string RecordName(std::string_view server) { return "ramps-" + gtk::files::SafeName(server); }

bool WriteRecord(const std::string& path, std::string_view server, const Record& record) {
  return gtk::files::WriteWhole(path, path + ".new", FormatRecord(server, record), 0600,
                                gtk::files::Replace::Yes);
}

RecordRead ReadRecord(const std::string& path, std::string_view server) {
  const gtk::files::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return {errno == ENOENT ? RecordState::Absent : RecordState::Refused, {}};
  struct stat info {};
  std::string text;
  bool ok = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid() &&
            info.st_size <= kLargestRecord;
  if (ok) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (ok && got < text.size()) {
      const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) got += static_cast<std::size_t>(n);
    }
  }
  auto record = ok ? ParseRecord(text, server) : std::nullopt;
  if (!record) return {RecordState::Refused, {}};
  return {RecordState::Read, std::move(*record)};
}

}  // namespace platform::gamma
