// What both painting backends take from the paint policy: boxes, pens, the
// labels a repaint skips, and the stand-ins for missing faces.
#include "platform/paint_policy.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/form.h"

using namespace platform;
using paint::FaceKind;
using paint::FontSystem;

namespace {

class PaintForm : public Form {
 public:
  PaintForm() : Form("frmPaint") {}
  Label lbText{*this, "lbText"};
  Line Line1{*this, "Line1"};

 protected:
  void Layout() override {}  // never loaded: the tests set what they need
};

// A label at (1500, 750) twips, 1500 x 300: 100 x 20 pixels at 96 DPI.
class PaintPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.lbText.Left = 1500;
    form.lbText.Top = 750;
    form.lbText.Width = 1500;
    form.lbText.Height = 300;
    form.lbText.font = Font{"宋体", 9.0F, false, false, 134};
  }
  PaintForm form;
};

std::vector<std::string> Faces(FaceKind kind, FontSystem system) {
  const auto faces = paint::FallbackFaces(kind, system);
  return {faces.begin(), faces.end()};
}

// A font system that has exactly these faces, and notes what it was asked.
struct Installed {
  std::set<std::string> faces;
  std::vector<std::string> asked;
  paint::FaceInstalled Query() {
    return [this](const std::string& face) {
      asked.push_back(face);
      return faces.count(face) > 0;
    };
  }
};

}  // namespace

TEST_F(PaintPolicyTest, LabelBoxRoundsEachEdgeAtTheWindowsDpi) {
  EXPECT_EQ(paint::LabelBox(form.lbText, 96), (Rect{100, 50, 200, 70}));
  EXPECT_EQ(paint::LabelBox(form.lbText, 144), (Rect{150, 75, 300, 105}));
  // 7 twips is less than half a pixel at 96 DPI, 14 more than half: the
  // width comes from the rounded edges, not from the rounded width.
  form.lbText.Left = 7;
  form.lbText.Width = 7;
  EXPECT_EQ(paint::LabelBox(form.lbText, 96).left, 0);
  EXPECT_EQ(paint::LabelBox(form.lbText, 96).right, 1);
}

TEST_F(PaintPolicyTest, CaptionBoxLeavesOutTheBorder) {
  EXPECT_EQ(paint::CaptionBox(form.lbText, 96), (Rect{100, 50, 200, 70}));
  form.lbText.FixedSingleBorder = true;
  EXPECT_EQ(paint::CaptionBox(form.lbText, 96), (Rect{101, 51, 199, 69}));
}

TEST(PaintPolicy, CaptionsAlignInTheirBox) {
  const Rect box{100, 0, 200, 20};
  EXPECT_EQ(paint::AlignedLeft(box, 41, Alignment::Left), 100);
  EXPECT_EQ(paint::AlignedLeft(box, 41, Alignment::Right), 159);
  EXPECT_EQ(paint::AlignedLeft(box, 41, Alignment::Center), 129);
  // Wider than the box: centred, it starts left of it.
  EXPECT_EQ(paint::AlignedLeft(box, 120, Alignment::Center), 90);
}

TEST(PaintPolicy, OnlyItalicsLean) {
  Font font{"黑体", 21.75F, true, false, 134};
  EXPECT_EQ(paint::ItalicLean(font, 31), 0);
  font.Italic = true;
  EXPECT_EQ(paint::ItalicLean(font, 31), 10);
}

TEST(PaintPolicy, PenWidthScalesFromNinetySixDpiToTheNearestPixel) {
  PaintForm form;
  struct Case {
    int borderWidth;
    int dpi;
    int pixels;
  };
  for (const Case c : {Case{1, 96, 1}, Case{1, 120, 1}, Case{1, 144, 2}, Case{1, 192, 2},
                       Case{2, 96, 2}, Case{2, 120, 3}, Case{2, 144, 3}, Case{2, 192, 4},
                       Case{3, 120, 4}, Case{3, 144, 5}, Case{3, 72, 2}, Case{5, 120, 6}}) {
    form.Line1.BorderWidth = c.borderWidth;
    EXPECT_EQ(paint::PenWidth(form.Line1, c.dpi), c.pixels)
        << c.borderWidth << " px at " << c.dpi << " DPI";
  }
}

TEST(PaintPolicy, NoPenIsThinnerThanAPixel) {
  PaintForm form;
  form.Line1.BorderWidth = 1;
  EXPECT_EQ(paint::PenWidth(form.Line1, 40), 1);  // 0.42 would round to none
  form.Line1.BorderWidth = 0;
  EXPECT_EQ(paint::PenWidth(form.Line1, 96), 1);
}

TEST(PaintPolicy, LineBoundsHoldTheRoundEndsOfAWidePen) {
  PaintForm form;
  form.Line1.X1 = 3000;  // 200 px at 96 DPI
  form.Line1.Y1 = 1500;
  form.Line1.X2 = 1500;
  form.Line1.Y2 = 1500;
  form.Line1.BorderWidth = 1;
  EXPECT_EQ(paint::LineBounds(form.Line1, 96), (Rect{98, 98, 203, 103}));
  form.Line1.BorderWidth = 6;  // reaches 3 + 2 past each end
  EXPECT_EQ(paint::LineBounds(form.Line1, 96), (Rect{95, 95, 206, 106}));
  const paint::Segment ends = paint::LineEnds(form.Line1, 144);
  EXPECT_EQ(ends.x1, 300);
  EXPECT_EQ(ends.y1, 150);
  EXPECT_EQ(ends.x2, 150);
  EXPECT_EQ(ends.y2, 150);
}

// 9 points at 96 DPI is an em of 12 pixels: the box 100..200 x 50..70
// reaches 88..212 x 38..82, right and bottom outside.
TEST_F(PaintPolicyTest, ALabelIsDrawnOnlyWhereItsBoxWidenedByAnEmMeetsTheArea) {
  const Label& label = form.lbText;
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{120, 55, 130, 60}, 96));  // inside
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 0, 1000, 1000}, 96));  // around

  EXPECT_FALSE(paint::LabelMayReach(label, Rect{0, 0, 88, 100}, 96));  // left of it
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 0, 89, 100}, 96));
  EXPECT_FALSE(paint::LabelMayReach(label, Rect{212, 0, 300, 100}, 96));  // right of it
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{211, 0, 300, 100}, 96));
  EXPECT_FALSE(paint::LabelMayReach(label, Rect{0, 0, 300, 38}, 96));  // above it
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 0, 300, 39}, 96));
  EXPECT_FALSE(paint::LabelMayReach(label, Rect{0, 82, 300, 100}, 96));  // below it
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 81, 300, 100}, 96));
}

// The label reaches 88..212 x 38..82 (as above); the line, 100..200 at
// y 100 with a 1-pixel pen, 98..203 x 98..103. Away from both, only the
// back colour is filled; a hidden label draws nothing.
TEST_F(PaintPolicyTest, OnlyTheBackColourIsFilledWhereNoLabelOrLineReaches) {
  form.Line1.X1 = 3000;
  form.Line1.Y1 = 1500;
  form.Line1.X2 = 1500;
  form.Line1.Y2 = 1500;
  EXPECT_TRUE(paint::DrawsOverBackColour(form, Rect{0, 0, 1280, 800}, 96));
  EXPECT_TRUE(paint::DrawsOverBackColour(form, Rect{0, 0, 89, 39}, 96));  // the label's corner
  EXPECT_TRUE(paint::DrawsOverBackColour(form, Rect{202, 102, 300, 300}, 96));  // the line's
  EXPECT_FALSE(paint::DrawsOverBackColour(form, Rect{0, 0, 88, 38}, 96));
  EXPECT_FALSE(paint::DrawsOverBackColour(form, Rect{213, 83, 300, 98}, 96));
  EXPECT_FALSE(paint::DrawsOverBackColour(form, Rect{203, 103, 300, 300}, 96));
  form.lbText.Visible = false;
  EXPECT_FALSE(paint::DrawsOverBackColour(form, Rect{100, 50, 200, 70}, 96));
}

TEST_F(PaintPolicyTest, TheEmGrowsWithTheDpiAndAPartPixelCountsWhole) {
  const Label& label = form.lbText;
  // 144 DPI: box 150..300, em 18.
  EXPECT_FALSE(paint::LabelMayReach(label, Rect{0, 0, 132, 200}, 144));
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 0, 133, 200}, 144));
  // 10 points at 96 DPI is 13 1/3 pixels: 14 of them.
  form.lbText.font.Size = 10.0F;
  EXPECT_FALSE(paint::LabelMayReach(label, Rect{0, 0, 86, 100}, 96));
  EXPECT_TRUE(paint::LabelMayReach(label, Rect{0, 0, 87, 100}, 96));
}

TEST_F(PaintPolicyTest, ALabelOfNoSizeStillReachesAnEmRoundItsPlace) {
  form.lbText.Width = 0;
  form.lbText.Height = 0;
  EXPECT_TRUE(paint::LabelMayReach(form.lbText, Rect{105, 55, 110, 60}, 96));
  EXPECT_FALSE(paint::LabelMayReach(form.lbText, Rect{112, 55, 120, 60}, 96));
}

TEST(PaintPolicy, EnclosingTakesWholePixelsOutward) {
  EXPECT_EQ(paint::Enclosing(0, 0, 100, 50), (Rect{0, 0, 100, 50}));
  EXPECT_EQ(paint::Enclosing(10.5, 2.25, 20.5, 3.75), (Rect{10, 2, 21, 4}));
  EXPECT_EQ(paint::Enclosing(-0.5, -1, 0.5, 1), (Rect{-1, -1, 1, 1}));
}

TEST(PaintPolicy, FacesAreOfAKindWhateverTheirCase) {
  EXPECT_EQ(paint::KindOfFace(""), FaceKind::Dialog);
  EXPECT_EQ(paint::KindOfFace("MS Shell Dlg"), FaceKind::Dialog);
  EXPECT_EQ(paint::KindOfFace("ms shell dlg 2"), FaceKind::Dialog);
  EXPECT_EQ(paint::KindOfFace("宋体"), FaceKind::Song);
  EXPECT_EQ(paint::KindOfFace("新宋体"), FaceKind::Song);
  EXPECT_EQ(paint::KindOfFace("SIMSUN"), FaceKind::Song);
  EXPECT_EQ(paint::KindOfFace("nsimsun"), FaceKind::Song);
  EXPECT_EQ(paint::KindOfFace("黑体"), FaceKind::Hei);
  EXPECT_EQ(paint::KindOfFace("simhei"), FaceKind::Hei);
  EXPECT_EQ(paint::KindOfFace("SimSun-ExtB"), FaceKind::Other);
  EXPECT_EQ(paint::KindOfFace("Arial"), FaceKind::Other);
}

TEST(PaintPolicy, StandInsComeInThisOrder) {
  EXPECT_EQ(Faces(FaceKind::Song, FontSystem::Gdi),
            (std::vector<std::string>{"宋体", "SimSun", "NSimSun", "新宋体", "Microsoft YaHei UI",
                                      "Microsoft YaHei", "WenQuanYi Zen Hei", "WenQuanYi Micro Hei",
                                      "Noto Serif CJK SC", "Noto Sans CJK SC"}));
  EXPECT_EQ(Faces(FaceKind::Hei, FontSystem::Gdi),
            (std::vector<std::string>{"黑体", "SimHei", "Microsoft YaHei UI", "Microsoft YaHei",
                                      "WenQuanYi Micro Hei", "WenQuanYi Zen Hei",
                                      "Noto Sans CJK SC", "SimSun"}));
  EXPECT_EQ(
      Faces(FaceKind::Song, FontSystem::Fontconfig),
      (std::vector<std::string>{"宋体", "SimSun", "NSimSun", "新宋体", "Noto Serif CJK SC",
                                "Source Han Serif SC", "AR PL UMing CN", "WenQuanYi Zen Hei",
                                "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Droid Sans Fallback"}));
  EXPECT_EQ(
      Faces(FaceKind::Hei, FontSystem::Fontconfig),
      (std::vector<std::string>{"黑体", "SimHei", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei",
                                "Noto Sans CJK SC", "Source Han Sans SC", "Droid Sans Fallback"}));
  // GDI maps the dialog face itself; on Linux it is 宋体's kind.
  EXPECT_TRUE(Faces(FaceKind::Dialog, FontSystem::Gdi).empty());
  EXPECT_EQ(Faces(FaceKind::Dialog, FontSystem::Fontconfig),
            Faces(FaceKind::Song, FontSystem::Fontconfig));
  EXPECT_TRUE(Faces(FaceKind::Other, FontSystem::Gdi).empty());
  EXPECT_TRUE(Faces(FaceKind::Other, FontSystem::Fontconfig).empty());
}

TEST(PaintPolicy, AnInstalledFaceIsUsedAsLaidOut) {
  Installed system{{"宋体", "WenQuanYi Zen Hei"}, {}};
  EXPECT_EQ(paint::ResolveFace("宋体", FontSystem::Gdi, system.Query()), "宋体");
  EXPECT_EQ(paint::ResolveFace("宋体", FontSystem::Fontconfig, system.Query()), "宋体");
  EXPECT_EQ(system.asked, (std::vector<std::string>{"宋体", "宋体"}));
}

TEST(PaintPolicy, AMissingFaceTakesTheFirstInstalledStandIn) {
  Installed wine{{"WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "Noto Serif CJK SC"}, {}};
  EXPECT_EQ(paint::ResolveFace("宋体", FontSystem::Gdi, wine.Query()), "WenQuanYi Zen Hei");
  EXPECT_EQ(paint::ResolveFace("SimSun", FontSystem::Fontconfig, wine.Query()),
            "Noto Serif CJK SC");
  EXPECT_EQ(paint::ResolveFace("黑体", FontSystem::Gdi, wine.Query()), "WenQuanYi Micro Hei");
  EXPECT_EQ(paint::ResolveFace("黑体", FontSystem::Fontconfig, wine.Query()),
            "WenQuanYi Micro Hei");

  Installed windows{{"Microsoft YaHei", "SimSun", "Noto Sans CJK SC"}, {}};
  EXPECT_EQ(paint::ResolveFace("黑体", FontSystem::Gdi, windows.Query()), "Microsoft YaHei");
  EXPECT_EQ(paint::ResolveFace("新宋体", FontSystem::Gdi, windows.Query()), "SimSun");
  EXPECT_EQ(paint::ResolveFace("黑体", FontSystem::Fontconfig, windows.Query()),
            "Noto Sans CJK SC");
}

TEST(PaintPolicy, TheDialogFaceIsLeftToGdiButResolvedForFontconfig) {
  Installed system{{"MS Shell Dlg", "WenQuanYi Zen Hei"}, {}};
  EXPECT_EQ(paint::ResolveFace("", FontSystem::Gdi, system.Query()), "MS Shell Dlg");
  EXPECT_EQ(paint::ResolveFace("MS Shell Dlg 2", FontSystem::Gdi, system.Query()),
            "MS Shell Dlg 2");
  EXPECT_TRUE(system.asked.empty());
  // Fontconfig has no such alias, even where a face of that name exists.
  EXPECT_EQ(paint::ResolveFace("MS Shell Dlg", FontSystem::Fontconfig, system.Query()),
            "WenQuanYi Zen Hei");
  EXPECT_EQ(system.asked.front(), "宋体");
}

TEST(PaintPolicy, WithNoStandInTheFontSystemChooses) {
  Installed bare{{}, {}};
  EXPECT_EQ(paint::ResolveFace("宋体", FontSystem::Gdi, bare.Query()), "宋体");
  EXPECT_EQ(paint::ResolveFace("Arial", FontSystem::Gdi, bare.Query()), "Arial");
  EXPECT_EQ(paint::ResolveFace("宋体", FontSystem::Fontconfig, bare.Query()), "宋体,Sans");
  EXPECT_EQ(paint::ResolveFace("Arial", FontSystem::Fontconfig, bare.Query()), "Arial,Sans");
  EXPECT_EQ(paint::ResolveFace("", FontSystem::Fontconfig, bare.Query()), "Sans");
}
