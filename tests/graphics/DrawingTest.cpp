#include <gtest/gtest.h>

#include "graphics/Canvas.h"
#include "graphics/Controls.h"
#include "graphics/Png.h"

namespace vm {
namespace {

constexpr TColor kInk = RGB(10, 20, 30);

int CountInk(const TBitmap& b) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.Colour(x, y) == kInk;
  return n;
}

TEST(Canvas, LineLeavesOutItsEndPoint) {
  struct Case { int x0, y0, x1, y1; int pixels; };
  const Case cases[] = {{1, 1, 8, 1, 7}, {1, 1, 1, 8, 7}, {0, 0, 5, 5, 5}, {6, 2, 2, 2, 4}, {3, 3, 3, 3, 0}};
  for (const Case& c : cases) {
    TBitmap b(10, 10, clWhite);
    TCanvas canvas(b);
    canvas.Pen.Color = kInk;
    canvas.MoveTo(c.x0, c.y0);
    canvas.LineTo(c.x1, c.y1);
    EXPECT_EQ(CountInk(b), c.pixels) << c.x0 << "," << c.y0 << " to " << c.x1 << "," << c.y1;
    EXPECT_NE(b.Colour(c.x1, c.y1), kInk);
    if (c.pixels > 0) {
      EXPECT_EQ(b.Colour(c.x0, c.y0), kInk);
    }
    EXPECT_EQ(canvas.PenPos(), (TPoint{c.x1, c.y1}));
  }
}

TEST(Canvas, RectanglesCoverLeftToRightMinusOne) {
  TBitmap b(12, 12, clWhite);
  TCanvas canvas(b);
  canvas.Pen.Color = kInk;
  canvas.Brush.Color = clRed;
  canvas.Rectangle(2, 3, 8, 9);
  EXPECT_EQ(b.Colour(2, 3), kInk);
  EXPECT_EQ(b.Colour(7, 8), kInk);
  EXPECT_EQ(b.Colour(8, 8), clWhite);
  EXPECT_EQ(b.Colour(7, 9), clWhite);
  EXPECT_EQ(b.Colour(4, 5), clRed);
  EXPECT_EQ(CountInk(b), 2 * 6 + 2 * 4);  // a 6 by 6 outline

  TBitmap f(12, 12, clWhite);
  TCanvas fill(f);
  fill.Brush.Color = kInk;
  fill.FillRect({1, 1, 4, 3});
  EXPECT_EQ(CountInk(f), 3 * 2);
}

TEST(Canvas, RoundRectCutsItsCornersOnly) {
  TBitmap b(20, 20, clWhite);
  TCanvas canvas(b);
  canvas.Pen.Color = kInk;
  canvas.Brush.Color = clRed;
  canvas.RoundRect(0, 0, 20, 20, 10, 10);
  EXPECT_EQ(b.Colour(0, 0), clWhite);    // corner cut away
  EXPECT_EQ(b.Colour(19, 19), clWhite);
  EXPECT_EQ(b.Colour(10, 0), kInk);      // straight edges on the outer rows
  EXPECT_EQ(b.Colour(0, 10), kInk);
  EXPECT_EQ(b.Colour(19, 10), kInk);
  EXPECT_EQ(b.Colour(10, 19), kInk);
  EXPECT_EQ(b.Colour(10, 10), clRed);
  // Every interior pixel is enclosed: no red pixel touches white.
  for (int y = 1; y < 19; ++y)
    for (int x = 1; x < 19; ++x)
      if (b.Colour(x, y) == clRed) {
        for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) EXPECT_NE(b.Colour(x + dx, y + dy), clWhite);
      }
}

TEST(Canvas, ArcRunsCounterClockwiseFromStartToEnd) {
  // The display's range ring: from the right end of the base line to the left one.
  TBitmap b(40, 30, clWhite);
  TCanvas canvas(b);
  canvas.Pen.Color = kInk;
  canvas.Arc(0, 10, 40, 50, 40, 30, 0, 30);  // upper half of an ellipse centred at (20, 30)
  EXPECT_EQ(b.Colour(20, 10), kInk);         // its top
  int below = 0;
  TBitmap full(40, 60, clWhite);
  TCanvas other(full);
  other.Pen.Color = kInk;
  other.Arc(0, 10, 40, 50, 0, 30, 40, 30);   // from left to right counter-clockwise: lower half
  EXPECT_EQ(full.Colour(20, 49), kInk);
  for (int x = 0; x < 40; ++x) below += full.Colour(x, 11) == kInk;
  EXPECT_EQ(below, 0);
  EXPECT_GT(CountInk(b), 40);
}

TEST(Canvas, DisplayRangeRingsTouchTheirBoxes) {
  // The display's rings: boxes centred on the base line, upper halves only.
  TBitmap b(190, 81, clBlack);
  TCanvas canvas(b);
  canvas.Pen.Color = RGB(0, 128, 0);
  struct Ring { int a, c; };
  for (const Ring r : {Ring{19, 16}, Ring{57, 49}, Ring{95, 81}}) {
    canvas.Arc(95 - r.a, 81 - r.c, 95 + r.a, 81 + r.c, 95 + r.a, 81, 95 - r.a, 81);
    EXPECT_EQ(b.Colour(95, 81 - r.c), RGB(0, 128, 0)) << r.a;      // top of the ring
    EXPECT_EQ(b.Colour(95 - r.a, 80), RGB(0, 128, 0)) << r.a;      // left end at the base
    EXPECT_EQ(b.Colour(95 + r.a - 1, 80), RGB(0, 128, 0)) << r.a;  // right end, right excluded
    EXPECT_EQ(b.Colour(95, 81 - r.c + 1), clBlack) << r.a;          // one pixel thick
  }
  EXPECT_EQ(b.Colour(95, 70), clBlack);  // inside the inner ring
  SaveSnapshot(b, "display_rings");
}

TEST(Bitmap, TransparentCopySkipsTheKeyAndBlendsAlpha) {
  TBitmap src(3, 1, clWhite);
  src.SetColour(0, 0, kInk);
  src.SetPixel(2, 0, PixelOf(RGB(0, 0, 0), 128));
  TBitmap dst(3, 1, RGB(200, 200, 200));
  src.DrawTransparentTo(dst, 0, 0, clWhite, Bounds(0, 0, 3, 1));
  EXPECT_EQ(dst.Colour(0, 0), kInk);
  EXPECT_EQ(dst.Colour(1, 0), RGB(200, 200, 200));
  EXPECT_EQ(dst.Colour(2, 0), RGB(100, 100, 100));  // half coverage of black over 200
  src.CopyTo(dst, 0, 0);
  EXPECT_EQ(dst.Colour(1, 0), clWhite);
}

TEST(Bitmap, StretchIsNearestNeighbour) {
  TBitmap src(2, 1);
  src.SetColour(0, 0, clRed);
  src.SetColour(1, 0, clBlue);
  TBitmap dst(5, 2, clWhite);
  src.StretchTo(dst, Bounds(0, 0, 4, 2), Bounds(0, 0, 5, 2));
  const TColor want[] = {clRed, clRed, clBlue, clBlue, clWhite};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(dst.Colour(x, 0), want[x]) << x;
    EXPECT_EQ(dst.Colour(x, 1), want[x]) << x;
  }
}

TEST(Bitmap, ResizeKeepsOverlapAndReadsOutsideGiveZero) {
  TBitmap b(2, 2, kInk);
  b.SetSize(3, 1, clWhite);
  EXPECT_EQ(b.Colour(1, 0), kInk);
  EXPECT_EQ(b.Colour(2, 0), clWhite);
  EXPECT_EQ(b.Pixel(5, 5), 0u);
  b.SetPixel(-1, 0, 0);  // ignored
}

TEST(Text, MetricsMatchTheLayout) {
  TFont bold;
  bold.Bold = true;
  EXPECT_NEAR(TextWidth(bold, "Vibrato"), 41, 2);
  TFont plain;
  EXPECT_NEAR(TextWidth(plain, "Random"), 40, 2);
  EXPECT_EQ(TextHeight(plain), 13);  // the form's text height
  EXPECT_EQ(TextWidth(plain, ""), 0);
  EXPECT_GT(TextWidth(bold, "Vibrato"), TextWidth(plain, "Vibrato"));
  TFont arial = plain;
  arial.Name = "Arial";
  EXPECT_EQ(TextWidth(arial, "Gain"), TextWidth(plain, "Gain"));
  TFont big;
  big.SetSize(16, 96);
  EXPECT_EQ(big.Height, -21);
}

TEST(Text, DrawsAntiAliasedInkInsideItsCell) {
  TBitmap b(60, 20, clWhite);
  TCanvas canvas(b);
  canvas.Font.Color = clBlack;
  canvas.TextOut(2, 3, "Vibrato");
  int dark = 0, partial = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      const int g = GetG(b.Colour(x, y));
      if (g < 255) {
        EXPECT_TRUE(x >= 2 && x < 2 + canvas.TextWidth("Vibrato") + 1 && y >= 3 && y < 3 + 13) << x << "," << y;
        if (g < 64) {
          ++dark;
        } else {
          ++partial;
        }
      }
    }
  EXPECT_GT(dark, 20);
  EXPECT_GT(partial, 10);  // grey edge pixels: anti-aliased
  SaveSnapshot(b, "text_vibrato");
}

}  // namespace
}  // namespace vm
