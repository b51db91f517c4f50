#include <gtest/gtest.h>

#include <set>

#include "controls/PlugInControls.h"
#include "analysis/Random.h"
#include "graphics/Png.h"

namespace vm {
namespace {

TBrushedMetal* PlainMetal(TForm& form, TColor grey) {
  auto* metal = form.Make<TBrushedMetal>();
  metal->SetLight(grey);
  metal->SetMedLight(grey);
  metal->SetMedDark(grey);
  metal->SetDark(grey);
  return metal;
}

TEST(BrushedMetal, ShadingAtTheCorners) {
  struct Case { int grey, shading, quantise; int topLeft, bottomRight; };
  const Case cases[] = {
      {200, 4, 10, 200, 120},  // 80 darker at the bottom right
      {200, 0, 10, 200, 200},  // no gradient
      {50, 10, 10, 50, 0},     // darker than the shading: 0, never negative
  };
  for (const Case& c : cases) {
    TForm form(200, 100);
    TBrushedMetal* metal = PlainMetal(form, RGB(c.grey, c.grey, c.grey));
    metal->SetShading(c.shading);
    metal->SetQuantise(c.quantise);
    form.PaintInvalid();
    EXPECT_EQ(metal->CachedImage().Colour(0, 0), RGB(c.topLeft, c.topLeft, c.topLeft)) << c.grey << "/" << c.shading;
    EXPECT_EQ(metal->CachedImage().Colour(199, 99), RGB(c.bottomRight, c.bottomRight, c.bottomRight));
    EXPECT_EQ(form.BackBuffer().Colour(199, 99), metal->CachedImage().Colour(199, 99));
  }
}

TEST(BrushedMetal, StreaksUseTheFourColoursInRoughProportion) {
  TForm form(200, 100);
  auto* metal = form.Make<TBrushedMetal>();
  metal->SetShading(0);
  tRandom::SetState(7);
  form.PaintInvalid();
  int counts[4] = {};
  const TColor colours[4] = {metal->Light(), metal->MedLight(), metal->MedDark(), metal->Dark()};
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      for (int k = 0; k < 4; ++k) counts[k] += metal->CachedImage().Colour(x, y) == colours[k];
  EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 200 * 100);
  EXPECT_NEAR(counts[1] / 20000.0, 0.43, 0.05);
  EXPECT_NEAR(counts[3] / 20000.0, 0.05, 0.03);
}

TEST(BrushedMetal, ResizeWithoutPropertyChangeKeepsTheOldImage) {
  TForm form(300, 100);
  auto* metal = form.Make<TBrushedMetal>();
  int paints = 0;
  metal->OnPaint = [&](TControl* sender) { paints += sender == nullptr; };
  form.PaintInvalid();
  metal->SetBounds(0, 0, 300, 100);
  form.PaintInvalid();
  EXPECT_EQ(metal->CachedImage().Width(), 200);
  metal->SetShading(3);
  form.PaintInvalid();
  EXPECT_EQ(metal->CachedImage().Width(), 300);
  EXPECT_EQ(paints, 3);
}

TEST(BrushedMetal, SnapshotIsDeterministicFromTheGeneratorState) {
  TForm form(200, 100);
  auto* metal = form.Make<TBrushedMetal>();
  tRandom::SetState(0);
  metal->BuildImage();
  const uint64_t first = metal->CachedImage().Checksum();
  tRandom::SetState(0);
  metal->BuildImage();
  EXPECT_EQ(metal->CachedImage().Checksum(), first);
  EXPECT_EQ(first, 7726934580662850847ull);
  SaveSnapshot(metal->CachedImage(), "brushed_metal");
}

TPaintedPanel* FlatPanel(TForm& form, TColor fill, int texture) {
  auto* panel = form.Make<TPaintedPanel>();
  panel->SetFill1(fill);
  panel->SetFill2(fill);
  panel->SetTexture(texture);
  return panel;
}

TEST(PaintedPanel, GrainRangeAndChannelsThatWouldLeaveTheRange) {
  struct Case { TColor fill; int texture; int redLo, redHi, greenLo, greenHi, blueLo, blueHi; };
  const Case cases[] = {
      {RGB(100, 100, 100), 0, 100, 100, 100, 100, 100, 100},
      {RGB(100, 100, 100), 4, 98, 101, 98, 101, 98, 101},
      {RGB(255, 0, 128), 4, 253, 255, 0, 1, 126, 129},
      {RGB(100, 100, 100), -4, 100, 100, 100, 100, 100, 100},  // a negative amplitude: no grain
  };
  for (const Case& c : cases) {
    TForm form(200, 100);
    TPaintedPanel* panel = FlatPanel(form, c.fill, c.texture);
    form.PaintInvalid();
    std::set<int> reds;
    for (int y = 5; y < 95; ++y)
      for (int x = 5; x < 195; ++x) {
        const TColor p = panel->CachedImage().Colour(x, y);
        ASSERT_TRUE(GetR(p) >= c.redLo && GetR(p) <= c.redHi) << GetR(p);
        ASSERT_TRUE(GetG(p) >= c.greenLo && GetG(p) <= c.greenHi) << GetG(p);
        ASSERT_TRUE(GetB(p) >= c.blueLo && GetB(p) <= c.blueHi) << GetB(p);
        reds.insert(GetR(p));
      }
    EXPECT_EQ(static_cast<int>(reds.size()), c.redHi - c.redLo + 1);  // every step occurs
  }
}

TEST(PaintedPanel, TwoToneBorderRoundedCornersAndTransparentWhite) {
  TForm form(200, 100);
  form.Color = clBlack;
  TPaintedPanel* panel = FlatPanel(form, clWhite, 0);
  form.PaintInvalid();
  const TBitmap& screen = form.BackBuffer();
  EXPECT_EQ(screen.Colour(100, 50), clBlack);  // white interior shows the form
  EXPECT_EQ(screen.Colour(0, 0), clBlack);     // outside the rounded corner
  EXPECT_EQ(screen.Colour(0, 50), panel->Border1());
  EXPECT_EQ(screen.Colour(100, 0), panel->Border1());
  EXPECT_EQ(screen.Colour(199, 50), panel->Border2());
  EXPECT_EQ(screen.Colour(100, 99), panel->Border2());
}

TEST(PaintedPanel, GradientFrameOwnOrParent) {
  struct Case { bool inParent; int green; };
  // Pixel (100, 50) of a 200 by 100 panel at (200, 100) of a 400 by 200 form:
  // own frame f = 1, green 255 + trunc(-127 * 0.5); parent frame f = 1.5, 255 + trunc(-127 * 0.75).
  const Case cases[] = {{false, 255 - 63}, {true, 255 - 95}};
  for (const Case& c : cases) {
    TForm form(400, 200);
    auto* panel = form.Make<TPaintedPanel>();
    panel->SetBounds(200, 100, 200, 100);
    panel->SetTexture(0);
    panel->SetShadeInParent(c.inParent);
    form.PaintInvalid();
    EXPECT_EQ(panel->CachedImage().Colour(100, 50), RGB(0, c.green, 0)) << c.inParent;
  }
}

TEST(PaintedPanel, SnapshotOfTheEditorsPanels) {
  tRandom::SetState(99);
  TForm form(400, 200);
  for (auto [x, w] : {std::pair{10, 180}, {200, 190}}) {
    auto* panel = form.Make<TPaintedPanel>();
    panel->SetBounds(x, 10, w, 180);
    panel->SetFill1(RGB(0, 179, 0));
    panel->SetFill2(RGB(0, 108, 0));
    panel->SetShadeInParent(true);
  }
  form.PaintInvalid();
  EXPECT_EQ(form.BackBuffer().Checksum(), 13313073622639452271ull);
  SaveSnapshot(form.BackBuffer(), "painted_panels");
}

}  // namespace
}  // namespace vm
