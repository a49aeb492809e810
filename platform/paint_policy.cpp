#include "platform/paint_policy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace platform::paint {

namespace {

// Face names compare without regard to case (the CJK names have none).
bool SameFace(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// Windows has YaHei since Vista, so it comes before the families that only
// a Wine prefix or a Linux desktop supplies.
constexpr const char* kGdiSong[] = {"宋体",
                                    "SimSun",
                                    "NSimSun",
                                    "新宋体",
                                    "Microsoft YaHei UI",
                                    "Microsoft YaHei",
                                    "WenQuanYi Zen Hei",
                                    "WenQuanYi Micro Hei",
                                    "Noto Serif CJK SC",
                                    "Noto Sans CJK SC"};
constexpr const char* kGdiHei[] = {"黑体",
                                   "SimHei",
                                   "Microsoft YaHei UI",
                                   "Microsoft YaHei",
                                   "WenQuanYi Micro Hei",
                                   "WenQuanYi Zen Hei",
                                   "Noto Sans CJK SC",
                                   "SimSun"};
// A Linux desktop: the serif CJK families keep the Song look where they are
// installed; Droid Sans Fallback is the last resort of older desktops.
constexpr const char* kFontconfigSong[] = {"宋体",
                                           "SimSun",
                                           "NSimSun",
                                           "新宋体",
                                           "Noto Serif CJK SC",
                                           "Source Han Serif SC",
                                           "AR PL UMing CN",
                                           "WenQuanYi Zen Hei",
                                           "WenQuanYi Micro Hei",
                                           "Noto Sans CJK SC",
                                           "Droid Sans Fallback"};
constexpr const char* kFontconfigHei[] = {"黑体",
                                          "SimHei",
                                          "WenQuanYi Micro Hei",
                                          "WenQuanYi Zen Hei",
                                          "Noto Sans CJK SC",
                                          "Source Han Sans SC",
                                          "Droid Sans Fallback"};

}  // namespace

Rect Enclosing(double left, double top, double right, double bottom) {
  return Rect{static_cast<int>(std::floor(left)), static_cast<int>(std::floor(top)),
              static_cast<int>(std::ceil(right)), static_cast<int>(std::ceil(bottom))};
}

Rect LabelBox(const Label& label, int dpi) {
  const Twips left = label.Left;
  const Twips top = label.Top;
  return Rect{ToPixels(left, dpi), ToPixels(top, dpi), ToPixels(left + label.Width, dpi),
              ToPixels(top + label.Height, dpi)};
}

Rect CaptionBox(const Label& label, int dpi) {
  Rect box = LabelBox(label, dpi);
  if (label.FixedSingleBorder) box = Rect{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
  return box;
}

int AlignedLeft(const Rect& box, int textWidth, Alignment alignment) {
  switch (alignment) {
    case Alignment::Right:
      return box.right - textWidth;
    case Alignment::Center:
      return box.left + (box.Width() - textWidth) / 2;
    case Alignment::Left:
      break;
  }
  return box.left;
}

int ItalicLean(const Font& font, int lineHeight) { return font.Italic ? lineHeight / 3 : 0; }

bool LabelMayReach(const Label& label, const Rect& area, int dpi) {
  const double points = label.font.Size * static_cast<float>(dpi);
  const int em = std::max(1, static_cast<int>(std::ceil(points / 72.0)));
  const Rect box = LabelBox(label, dpi);
  return box.left - em < area.right && area.left < box.right + em && box.top - em < area.bottom &&
         area.top < box.bottom + em;
}

bool DrawsOverBackColour(const Form& form, const Rect& area, int dpi) {
  for (const Control* control : form.Controls()) {
    if (const auto* label = dynamic_cast<const Label*>(control)) {
      if (label->Visible && LabelMayReach(*label, area, dpi)) return true;
    } else if (const auto* line = dynamic_cast<const Line*>(control)) {
      const Rect box = LineBounds(*line, dpi);
      if (box.left < area.right && area.left < box.right && box.top < area.bottom &&
          area.top < box.bottom) {
        return true;
      }
    }
  }
  return false;
}

Segment LineEnds(const Line& line, int dpi) {
  return Segment{ToPixels(line.X1, dpi), ToPixels(line.Y1, dpi), ToPixels(line.X2, dpi),
                 ToPixels(line.Y2, dpi)};
}

int PenWidth(const Line& line, int dpi) {
  constexpr std::int64_t kDesignDpi = 96;
  const std::int64_t scaled = static_cast<std::int64_t>(line.BorderWidth) * dpi;
  const std::int64_t rounded = scaled >= 0 ? (scaled + kDesignDpi / 2) / kDesignDpi
                                           : -((kDesignDpi / 2 - scaled) / kDesignDpi);
  return static_cast<int>(std::max<std::int64_t>(1, rounded));
}

Rect LineBounds(const Line& line, int dpi) {
  const Segment ends = LineEnds(line, dpi);
  const int reach = PenWidth(line, dpi) / 2 + 2;
  return Rect{std::min(ends.x1, ends.x2) - reach, std::min(ends.y1, ends.y2) - reach,
              std::max(ends.x1, ends.x2) + reach + 1, std::max(ends.y1, ends.y2) + reach + 1};
}

FaceKind KindOfFace(std::string_view face) {
  if (face.empty() || SameFace(face, "MS Shell Dlg") || SameFace(face, "MS Shell Dlg 2")) {
    return FaceKind::Dialog;
  }
  if (SameFace(face, "宋体") || SameFace(face, "新宋体") || SameFace(face, "SimSun") ||
      SameFace(face, "NSimSun")) {
    return FaceKind::Song;
  }
  if (SameFace(face, "黑体") || SameFace(face, "SimHei")) return FaceKind::Hei;
  return FaceKind::Other;
}

std::span<const char* const> FallbackFaces(FaceKind kind, FontSystem system) {
  if (system == FontSystem::Gdi) {
    if (kind == FaceKind::Song) return kGdiSong;
    if (kind == FaceKind::Hei) return kGdiHei;
    return {};  // GDI maps the dialog face itself
  }
  // The dialog font is 宋体 on a Simplified-Chinese desktop.
  if (kind == FaceKind::Song || kind == FaceKind::Dialog) return kFontconfigSong;
  if (kind == FaceKind::Hei) return kFontconfigHei;
  return {};
}

std::string ResolveFace(const std::string& face, FontSystem system,
                        const FaceInstalled& installed) {
  const FaceKind kind = KindOfFace(face);
  if (kind == FaceKind::Dialog && system == FontSystem::Gdi) {
    // The system maps the dialog font to the locale's own face.
    return face.empty() ? std::string("MS Shell Dlg") : face;
  }
  if (kind != FaceKind::Dialog && installed(face)) return face;
  for (const char* candidate : FallbackFaces(kind, system)) {
    if (installed(candidate)) return candidate;
  }
  // Nothing better: GDI's font mapper picks by character set, fontconfig a
  // face that has the characters.
  if (system == FontSystem::Gdi) return face;
  return kind == FaceKind::Dialog ? std::string("Sans") : face + ",Sans";
}

}  // namespace platform::paint
