#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "controls/Artwork.h"
#include "controls/PlugInControls.h"
#include "analysis/Random.h"
#include "graphics/Png.h"

namespace vm {
namespace {

// A 100 by 100 knob alone on a form, painted once so its centre is known.
struct KnobFixture : ::testing::Test {
  TForm form{100, 100};
  TRubberKnob* knob = form.Make<TRubberKnob>();
  int changes = 0;
  int changings = 0;

  void SetUp() override {
    knob->OnChange = [this](TControl* s) { changes += s == knob; };
    knob->OnChanging = [this](TControl* s) { changings += s == knob; };
    form.PaintInvalid();
  }
  float Drag(int x, int y) {
    form.MouseDown(TMouseButton::mbLeft, x, y);
    form.MouseUp(TMouseButton::mbLeft, x, y);
    return knob->Value();
  }
  // Bounding box of everything but the key colour in the composite's columns [x0, x1).
  TRect InkBox(int x0, int x1) const {
    const TBitmap& c = knob->Composite();
    TRect box{1000, 1000, -1, -1};
    for (int y = 0; y < c.Height(); ++y)
      for (int x = x0; x < x1; ++x)
        if (c.Pixel(x, y) != PixelOf(clWhite))
          box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
    return box;
  }
};

TEST_F(KnobFixture, PointerToValueAtCardinalPointsAndInTheGap) {
  struct Case { int x, y; float value; const char* where; };
  const Case cases[] = {
      {50, 10, 0.5f, "straight above"},
      {10, 50, (0.5f - 0.678571f) / (-0.178571f - 0.678571f), "straight left"},
      {90, 50, (0.0f - 0.678571f) / (-0.178571f - 0.678571f), "straight right"},
      {50, 90, 0.0f, "straight down"},
      {49, 90, 0.0f, "gap, left of the vertical"},
      {51, 90, 1.0f, "gap, right of the vertical"},
      {45, 95, 0.0f, "gap, well left of the vertical"},
      {56, 95, 1.0f, "gap, well right of the vertical"},
      {20, 95, 0.0258474f, "lower left, just inside the scale"},
  };
  for (const Case& c : cases) EXPECT_NEAR(Drag(c.x, c.y), c.value, 1e-5) << c.where;
}

TEST_F(KnobFixture, CentreLeavesValueAndFiresNoChanging) {
  Drag(50, 10);
  changings = 0;
  EXPECT_FLOAT_EQ(Drag(50, 50), 0.5f);
  EXPECT_EQ(changings, 0);
}

TEST_F(KnobFixture, OnChangeOnEveryReleaseOnChangingOnlyOnChange) {
  Drag(50, 10);
  Drag(50, 10);  // same value again
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(changings, 1);
  form.MouseDown(TMouseButton::mbLeft, 10, 50);
  form.MouseMove(90, 50);
  form.MouseMove(90, 50);
  form.MouseUp(TMouseButton::mbLeft, 90, 50);
  EXPECT_EQ(changings, 3);
  EXPECT_FALSE(knob->Dragging());
}

TEST_F(KnobFixture, QuantiseSnapsToTickSteps) {
  knob->Quantise = true;
  knob->SetTicks(6);
  form.PaintInvalid();
  for (auto [x, y] : {std::pair{50, 10}, {12, 40}, {80, 20}, {88, 70}, {30, 85}, {70, 14}}) {
    const float v = Drag(x, y);
    EXPECT_NEAR(v * 5, std::round(v * 5), 1e-5) << x << "," << y << " gives " << v;
  }
  EXPECT_NEAR(Drag(50, 10), 0.4f, 1e-6);  // (Ticks - 1) * 0.5 = 2.5 rounds to the even step 2
}

TEST_F(KnobFixture, QuantiseWithASingleTickKeepsTheValueFinite) {
  // (Ticks - 1) steps of zero would divide zero by zero; one tick leaves values unsnapped.
  knob->Quantise = true;
  knob->SetTicks(1);
  form.PaintInvalid();
  EXPECT_FLOAT_EQ(Drag(50, 10), 0.5f);
}

TEST_F(KnobFixture, TickShapesFollowTheirAngle) {
  knob->SetDoShadow(false);
  knob->SetLabels({});
  knob->SetShowTicks("  ");  // ticks 0 and 1 single pixels, the rest full
  form.PaintInvalid();
  const TColor c = knob->Colour();
  const TColor s = knob->Shadow();
  const TColor e = RGB(GetR(s) + static_cast<int>((GetR(c) - GetR(s)) * 0.3),
                       GetG(s) + static_cast<int>((GetG(c) - GetG(s)) * 0.3),
                       GetB(s) + static_cast<int>((GetB(c) - GetB(s)) * 0.3));
  struct Case { int tick; TColor tl, tr, bl, br; };
  const Case cases[] = {{10, e, e, c, c},   // 296 degrees
                        {9, e, e, e, c},    // 327
                        {8, e, c, e, c},    // 357
                        {5, c, c, c, c}};   // top
  const TBitmap& composite = knob->Composite();
  for (const Case& k : cases) {
    const auto p = knob->AngularPosition(k.tick, 11, knob->TickRadius(), 1.0);
    EXPECT_EQ(composite.Colour(p.X, p.Y), k.tl) << k.tick;
    EXPECT_EQ(composite.Colour(p.X + 1, p.Y), k.tr) << k.tick;
    EXPECT_EQ(composite.Colour(p.X, p.Y + 1), k.bl) << k.tick;
    EXPECT_EQ(composite.Colour(p.X + 1, p.Y + 1), k.br) << k.tick;
  }
  for (int tick : {0, 1}) {
    const auto p = knob->AngularPosition(tick, 11, knob->TickRadius(), 1.0);
    EXPECT_EQ(composite.Colour(p.X, p.Y), c);
    EXPECT_EQ(composite.Colour(p.X + 1, p.Y), clWhite);
    EXPECT_EQ(composite.Colour(p.X, p.Y + 1), clWhite);
  }
}

TEST_F(KnobFixture, SinglePixelTickHasNoShadow) {
  knob->SetLabels({});
  knob->SetShowTicks(" ");
  form.PaintInvalid();
  const auto single = knob->AngularPosition(0, 11, knob->TickRadius(), 1.0);
  const auto full = knob->AngularPosition(1, 11, knob->TickRadius(), 1.0);
  const TBitmap& composite = knob->Composite();
  EXPECT_EQ(composite.Colour(single.X + 1, single.Y + 1), clWhite);
  EXPECT_EQ(composite.Colour(full.X + 1, full.Y + 1), knob->Shadow());  // shadow of a full tick
  EXPECT_EQ(composite.Colour(full.X - 1, full.Y - 1), knob->Colour());
}

TEST_F(KnobFixture, LabelsNudgeAndAlignment) {
  knob->SetTicks(0);
  knob->SetDoShadow(false);
  auto leftLabelBox = [&](std::vector<std::string> labels, float nudge) {
    knob->SetLabels(labels);
    knob->BotLabNudge = nudge;
    knob->SetColour(knob->Colour());  // invalidate
    form.PaintInvalid();
    return InkBox(0, 50);
  };
  const TFont& font = knob->Font();
  // Words get nudged inwards by round(widest * BotLabNudge); numbers never.
  const TRect words = leftLabelBox({"Thin", "Thick"}, 0);
  const int nudge = static_cast<int>(std::lround(std::max(TextWidth(font, "Thin"), TextWidth(font, "Thick")) * 0.5));
  EXPECT_EQ(leftLabelBox({"Thin", "Thick"}, 0.5f).Left, words.Left + nudge);
  const TRect numbers = leftLabelBox({"-10", "0db", "+10"}, 0);
  EXPECT_EQ(leftLabelBox({"-10", "0db", "+10"}, 0.5f).Left, numbers.Left);
  // Two characters on an even count: centred on the anchor.
  const TRect centred = leftLabelBox({"ab", "cd"}, 0);
  const auto anchor = knob->AngularPosition(0, 2, knob->TextRadius(), 1.03);
  EXPECT_NEAR((centred.Left + centred.Right) / 2.0, anchor.X, 1.5);
  // Longer words on the left side end right of the anchor by |dx| of a character.
  const TRect side = leftLabelBox({"abcd", "cdef"}, 0);
  EXPECT_LT(side.Right, anchor.X + 5);
  EXPECT_GT(side.Right, anchor.X - 2);
  EXPECT_LT(side.Left, centred.Left);
}

TEST_F(KnobFixture, DotImageResetsValueAndPlacesTheDot) {
  TImage* dot = form.Make<TImage>();
  dot->SetBounds(0, 200, 6, 6);
  dot->SetPicture(artwork::KnobDot());
  knob->SetValue(0.7f);
  knob->SetDotImage(dot);
  EXPECT_EQ(knob->Value(), 0.0f);
  ASSERT_TRUE(knob->DotLayer()->Visible());
  EXPECT_EQ(knob->DotLayer()->Width(), 6);
  const auto p = knob->AngularPosition(0, 11, knob->DotRadius(), 1.0);
  EXPECT_EQ(knob->DotLayer()->Left(), p.X - 3);
  EXPECT_EQ(knob->DotLayer()->Top(), p.Y - 3);
  EXPECT_FALSE(knob->DotLayer()->Enabled());  // the knob below takes the mouse
  knob->SetDotImage(nullptr);
  EXPECT_FALSE(knob->DotLayer()->Visible());
}

TEST_F(KnobFixture, ShimmerSkipsStepsWhereOnlyOneCoordinateMoves) {
  std::vector<TImage*> shimmers;
  for (int k = 1; k <= 4; ++k) {
    shimmers.push_back(form.Make<TImage>());
    shimmers.back()->SetPicture(artwork::Shimmer(k));
    knob->SetShimmer(k, shimmers.back());
  }
  EXPECT_EQ(knob->ShimmerCount(), 0);  // until the composite is rebuilt
  TImage* dot = form.Make<TImage>();
  dot->SetBounds(0, 0, 6, 6);
  dot->SetPicture(artwork::KnobDot());
  knob->SetDotImage(dot);
  form.PaintInvalid();
  ASSERT_EQ(knob->ShimmerCount(), 4);
  // Values symmetric about the top share a row: a purely horizontal step.
  const auto a = knob->AngularPosition(0.4 * 10, 11, knob->DotRadius(), 1.0);
  const auto b = knob->AngularPosition(0.6 * 10, 11, knob->DotRadius(), 1.0);
  ASSERT_EQ(a.Y, b.Y);
  ASSERT_NE(a.X, b.X);
  knob->SetValue(0.4f);
  const int index = knob->ShimmerIndex();
  knob->SetValue(0.6f);
  EXPECT_EQ(knob->ShimmerIndex(), index);
  knob->SetValue(0.9f);
  EXPECT_EQ(knob->ShimmerIndex(), (index + 1) % 4);
}

TEST_F(KnobFixture, ValueAloneNeverRebuildsTheComposite) {
  form.PaintInvalid();
  ASSERT_TRUE(knob->CompositeValid());
  knob->SetValue(0.3f);
  EXPECT_TRUE(knob->CompositeValid());
  knob->SetTickRadius(25);
  EXPECT_FALSE(knob->CompositeValid());
  form.PaintInvalid();
  knob->SetEnabled(false);
  EXPECT_TRUE(knob->CompositeValid());  // repainted at once
  knob->BeginLoad();
  knob->SetDiameter(40);
  EXPECT_TRUE(knob->CompositeValid());  // loading: no invalidation
}

double Luma(TColor c) { return 0.299 * GetR(c) + 0.587 * GetG(c) + 0.114 * GetB(c); }

// A disabled knob's face turns pale; its position dot still stands out from it, on every
// shade: luma of the dot's middle against the face painted there without the dot.
TEST(KnobDot, ContrastsWithThePaleFaceOfADisabledKnob) {
  constexpr double kClearContrast = 80;  // luma levels of 255
  for (const TKnobShade shade : {TKnobShade::Normal, TKnobShade::Dark, TKnobShade::Light}) {
    TForm form(104, 104);
    form.Color = RGB(0, 140, 0);
    auto holder = [&](TBitmap b) {
      TImage* i = form.Make<TImage>();
      i->SetVisible(false);
      i->SetEnabled(false);
      i->SetBounds(0, 0, b.Width(), b.Height());
      i->SetPicture(b);
      return i;
    };
    TImage* face = holder(artwork::KnobFace(shade, false));
    TImage* paleFace = holder(artwork::KnobFace(shade, true));
    TImage* dot = holder(artwork::KnobDot());
    auto* knob = form.Make<TRubberKnob>();
    knob->SetBounds(0, 0, 104, 104);
    knob->SetMainImage(face);
    knob->SetDisabledImage(paleFace);
    knob->SetDotImage(dot);
    knob->SetDiameter(52);
    knob->SetDotRadius(12);
    knob->SetLabels({});
    knob->SetValue(0.3f);
    knob->SetEnabled(false);
    form.PaintInvalid();
    const TBitmap withDot = form.BackBuffer();
    const TImage* layer = knob->DotLayer();
    knob->DotLayer()->Hide();
    form.PaintInvalid();
    double contrast = 0;
    for (int y = layer->Top() + 2; y < layer->Top() + 4; ++y)
      for (int x = layer->Left() + 2; x < layer->Left() + 4; ++x)
        contrast += std::abs(Luma(withDot.Colour(x, y)) - Luma(form.BackBuffer().Colour(x, y))) / 4;
    EXPECT_GT(contrast, kClearContrast) << "shade " << static_cast<int>(shade);
  }
}

// The knob as the editor lays it out, on a green panel, written out for people to see.
TEST(KnobSnapshot, EditorKnobOverPanel) {
  tRandom::SetState(12345);
  TForm form(120, 120);
  auto* panel = form.Make<TPaintedPanel>();
  panel->SetBounds(0, 0, 120, 120);
  panel->SetFill1(RGB(0, 179, 0));
  panel->SetFill2(RGB(0, 108, 0));
  auto image = [&](TBitmap b) {
    TImage* i = form.Make<TImage>();
    i->SetVisible(false);
    i->SetEnabled(false);
    i->SetBounds(0, 0, b.Width(), b.Height());
    i->SetPicture(b);
    return i;
  };
  TImage* face = image(artwork::KnobFace(TKnobShade::Normal, false));
  TImage* faceOff = image(artwork::KnobFace(TKnobShade::Normal, true));
  TImage* dot = image(artwork::KnobDot());
  auto* knob = form.Make<TRubberKnob>();
  knob->SetBounds(8, 8, 104, 104);
  knob->SetMainImage(face);
  knob->SetDisabledImage(faceOff);
  for (int k = 1; k <= 4; ++k) knob->SetShimmer(k, image(artwork::Shimmer(k)));
  knob->SetDotImage(dot);
  knob->SetDiameter(52);
  knob->SetTextRadius(40);
  knob->SetDotRadius(12);
  knob->SetColour(RGB(251, 251, 251));
  knob->SetHilight(RGB(248, 240, 248));
  knob->SetShadow(RGB(80, 80, 80));
  knob->SetLabels({"Thin", "Thick"});
  knob->BotLabNudge = 0.075f;
  knob->SetValue(0.35f);
  form.PaintInvalid();
  SaveSnapshot(form.BackBuffer(), "knob_enabled");
  const uint64_t enabled = form.BackBuffer().Checksum();
  EXPECT_EQ(enabled, 9378111897080543253ull);
  knob->SetEnabled(false);
  form.PaintInvalid();
  SaveSnapshot(form.BackBuffer(), "knob_disabled");
  EXPECT_NE(form.BackBuffer().Checksum(), enabled);
  // The body's anti-aliased rim is blended over the panel: no pixel near the rim is
  // lighter than both the panel and the ring.
  for (int x = 8 + 52 - 26 - 2; x < 8 + 52 - 20; ++x) {
    const TColor c = form.BackBuffer().Colour(x, 60);
    EXPECT_LT(GetR(c), 200) << x;
  }
}

// Knobs with the editor's scale settings (many ticks, single-pixel ticks, side labels).
TEST(KnobSnapshot, ScalesOfTheLayout) {
  struct Case { const char* name; int ticks; std::vector<std::string> labels; std::string showTicks; float nudge; int size; };
  std::vector<std::string> clones;
  for (int k = 0; k < 32; ++k) clones.push_back(k % 2 == 0 ? "" : std::to_string(k + 1));
  std::string clonesTicks, unisonTicks;
  for (int k = 0; k < 32; ++k) clonesTicks += k % 2 == 0 ? ' ' : '.';
  for (int k = 0; k < 39; ++k) unisonTicks += k % 2 == 0 ? '.' : ' ';
  const Case cases[] = {
      {"knob_clones", 32, clones, clonesTicks, 0, 104},
      {"knob_split", 6, {"Unison", "Bass", "Alto", "B:U", "U:A", "B:U:A"}, "", 0.12f, 116},
      {"knob_unison_formants", 21, {"Macho", "Feminine"}, unisonTicks, 0.12f, 108},
      {"knob_dyn_depth", 11, {"Off", "Deep"}, "", 0.075f, 104},
  };
  for (const Case& c : cases) {
    tRandom::SetState(1);
    TForm form(c.size, c.size);
    form.Color = RGB(0, 140, 0);
    auto* knob = form.Make<TRubberKnob>();
    knob->SetBounds(0, 0, c.size, c.size);
    knob->SetTicks(c.ticks);
    knob->SetLabels(c.labels);
    knob->SetShowTicks(c.showTicks);
    knob->BotLabNudge = c.nudge;
    knob->SetTextRadius(40);
    knob->SetColour(RGB(251, 251, 251));
    knob->SetShadow(RGB(80, 80, 80));
    form.PaintInvalid();
    SaveSnapshot(form.BackBuffer(), c.name);
    // Every label is inside the control and something was drawn on each side.
    int left = 0, right = 0;
    for (int y = 0; y < c.size; ++y)
      for (int x = 0; x < c.size; ++x)
        if (form.BackBuffer().Colour(x, y) != form.Color) (x < c.size / 2 ? left : right)++;
    EXPECT_GT(left, 20) << c.name;
    EXPECT_GT(right, 20) << c.name;
  }
}

}  // namespace
}  // namespace vm
