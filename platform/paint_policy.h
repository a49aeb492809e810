// What every painting backend decides alike: where a label's box lies, how
// wide a line's pen is, which labels a repaint can leave alone, and which
// installed face stands in for a laid-out one. Whole pixels of the client
// area, no backend types: a backend turns these into its own rectangles.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/form.h"

namespace platform::paint {

// The smallest whole-pixel rectangle that holds a fractional one (a clip
// in user space).
Rect Enclosing(double left, double top, double right, double bottom);

// The label's box at `dpi`: its edges rounded each on its own, so that
// neighbouring labels meet without a gap or an overlap.
Rect LabelBox(const Label& label, int dpi);

// Where the caption goes: the box less a FixedSingle label's one-pixel edge.
Rect CaptionBox(const Label& label, int dpi);

// The left edge of a caption `textWidth` pixels wide, aligned in `box`.
int AlignedLeft(const Rect& box, int textWidth, Alignment alignment);

// How far an italic caption's glyphs lean past its advance, for a line
// `lineHeight` pixels high.
int ItalicLean(const Font& font, int lineHeight);

// Whether anything of the label can be drawn in `area`: its box, widened by
// an em on every side for text that overhangs it (a leaning italic, a wide
// substitute face), meets the area. A repaint skips the labels that cannot:
// a moving slider thumb damages a few pixels, and laying out every caption
// for them is wasted. The em is rounded up, so that a label is rather drawn
// for nothing than left out.
bool LabelMayReach(const Label& label, const Rect& area, int dpi);

// Whether a repaint of `area` draws anything over the back colour: a
// visible label that may reach it, or a line whose bounds meet it. When
// nothing does, the back colour alone is filled, straight onto the window:
// nothing can flicker, and no buffer the size of the damage (all of the
// screen, for the overlay) is made and copied.
bool DrawsOverBackColour(const Form& form, const Rect& area, int dpi);

// A line's end points in pixels.
struct Segment {
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
};
Segment LineEnds(const Line& line, int dpi);

// A line's pen: as wide as laid out at 96 DPI, scaled with the screen (to
// the nearest pixel, halves away from zero), never thinner than a pixel.
int PenWidth(const Line& line, int dpi);

// All a line can cover: a wide pen's round ends reach half its width past
// each end point; two pixels more for the rasteriser's rounding.
Rect LineBounds(const Line& line, int dpi);

// Who turns a face name into glyphs.
enum class FontSystem {
  Gdi,         // maps the dialog face itself, then picks by character set
  Fontconfig,  // needs a family that is there, and a generic one after it
};

// The kinds of laid-out face that have stand-ins.
enum class FaceKind {
  Dialog,  // no face, or "MS Shell Dlg" (2): the desktop's dialog font
  Song,    // 宋体 and its kin
  Hei,     // 黑体
  Other,
};
FaceKind KindOfFace(std::string_view face);

// The stand-ins for a face of `kind` that is not installed, best first.
std::span<const char* const> FallbackFaces(FaceKind kind, FontSystem system);

// Whether a face of that name is installed, as the font system answers.
using FaceInstalled = std::function<bool(const std::string& face)>;

// The face to ask the font system for: the laid-out one when it is
// installed, otherwise the first installed stand-in of the same kind, so the
// texts keep their look on systems without the Simplified-Chinese fonts.
std::string ResolveFace(const std::string& face, FontSystem system, const FaceInstalled& installed);

}  // namespace platform::paint
