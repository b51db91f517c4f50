#include "editor/Display.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine/VoiceTables.h"

namespace vm {
namespace {

struct tColours {
  TColor Outline;
  TColor Fill;
};

constexpr tColours kUnison{RGB(0, 224, 0), RGB(0, 160, 0)};
constexpr tColours kBass{RGB(0, 0, 255), RGB(0, 0, 192)};
constexpr tColours kAlto{RGB(255, 0, 255), RGB(192, 0, 192)};
constexpr tColours kDry{RGB(255, 255, 255), RGB(192, 192, 192)};
constexpr TColor kGuide = RGB(0, 128, 0);
constexpr tColours kAllMarkerColours[] = {kUnison, kBass, kAlto, kDry};

// The editor's display: 190 by 81, the border picture 182 by 88 stretched over
// (-6, -4, 196, 84), markers placed in (4, 7, 186, 76).
constexpr int kWidth = 190;
constexpr int kHeight = 81;
constexpr TRect kBorderRect{-6, -4, 196, 84};
constexpr TRect kArea{4, 7, 186, 76};

// Knob position giving `count` voices.
float Voices(int count) { return static_cast<float>(count - 1) / 31.0f; }

// A border whose every pixel tells where it came from and matches no drawing colour
// (green 77 is used by nothing else).
TBitmap PatternBorder(int width = 182, int height = 88) {
  TBitmap border(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) border.SetColour(x, y, RGB(x % 256, 77, y % 256));
  return border;
}

bool IsMarkerColour(TColor c) {
  for (const tColours& colours : kAllMarkerColours)
    if (c == colours.Outline || c == colours.Fill) return true;
  return false;
}

// Whether the 6 by 4 marker frame around `centre` holds pixel `p`.
bool FrameHolds(TPoint centre, TPoint p) {
  return p.X >= centre.X - 3 && p.X < centre.X + 3 && p.Y >= centre.Y - 2 && p.Y < centre.Y + 2;
}

struct tMarker {
  float Distance;
  float Position;
  tColours Colours;
};

std::string Describe(size_t index, TPoint centre) {
  return "marker " + std::to_string(index) + " at (" + std::to_string(centre.X) + ", " +
         std::to_string(centre.Y) + ")";
}

// The picture shows exactly `markers` (in drawing order) in `area`: each one's centre in
// its fill, the left column of its frame in its outline, and no marker colour anywhere
// outside their frames. Cases keep every centre clear of the markers drawn after it.
void ExpectMarkersExactly(const TBitmap& bitmap, const TRect& area,
                          const std::vector<tMarker>& markers) {
  std::vector<TPoint> centres;
  for (const tMarker& m : markers) centres.push_back(MarkerCentre(area, m.Distance, m.Position));
  for (size_t i = 0; i < markers.size(); ++i) {
    const TPoint centre = centres[i];
    const TPoint frameLeft{centre.X - 3, centre.Y};
    for (size_t j = i + 1; j < markers.size(); ++j)
      ASSERT_FALSE(FrameHolds(centres[j], centre) || FrameHolds(centres[j], frameLeft))
          << "the case hides " << Describe(i, centre) << " under " << Describe(j, centres[j]);
    EXPECT_EQ(bitmap.Colour(centre.X, centre.Y), markers[i].Colours.Fill) << Describe(i, centre);
    EXPECT_EQ(bitmap.Colour(frameLeft.X, frameLeft.Y), markers[i].Colours.Outline)
        << Describe(i, centre);
  }
  int strayPixels = 0;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      if (!IsMarkerColour(bitmap.Colour(x, y))) continue;
      bool held = false;
      for (const TPoint& centre : centres) held = held || FrameHolds(centre, {x, y});
      if (!held && strayPixels++ == 0) ADD_FAILURE() << "marker colour outside every marker at (" << x << ", " << y << ")";
    }
  EXPECT_EQ(strayPixels, 0);
}

struct DisplayFixture : ::testing::Test {
  TBitmap border = PatternBorder();
  TBitmap bitmap;
  tDisplayValues values;

  DisplayFixture() {
    values.Mix = 1;  // fully wet: no dry marker unless a test asks for one
    values.Balance = 0.5f;
  }
  void Render(int width = kWidth, int height = kHeight) {
    RenderDisplay(bitmap, width, height, border, {-6, -4, width + 6, height + 3}, values);
  }
};

TEST_F(DisplayFixture, BitmapTakesTheSizeAndShowsTheBorderUnderThePaintBox) {
  bitmap.SetSize(10, 10, clRed);
  RenderDisplay(bitmap, kWidth, kHeight, border, kBorderRect, values);
  ASSERT_EQ(bitmap.Width(), kWidth);
  ASSERT_EQ(bitmap.Height(), kHeight);
  // Display pixel (x, y) shows border pixel ((x + 6) * 182 / 202, y + 4).
  EXPECT_EQ(bitmap.Colour(0, 0), RGB(5, 77, 4));
  EXPECT_EQ(bitmap.Colour(10, 10), RGB(14, 77, 14));
  EXPECT_EQ(bitmap.Colour(180, 20), RGB(167, 77, 24));
}

TEST_F(DisplayFixture, NothingOfThePreviousPictureShowsThroughATransparentBorder) {
  values.Clones = 1;
  values.Timing = 1;
  values.Focus = 1;
  Render();
  border.Transparent = true;
  border.TransparentColor = RGB(0, 77, 0);
  border.Fill(RGB(0, 77, 0));
  values.Clones = 0;
  Render();
  TBitmap fresh;
  RenderDisplay(fresh, kWidth, kHeight, border, kBorderRect, values);
  EXPECT_EQ(bitmap.Checksum(), fresh.Checksum());
}

// Centre line, base line and the three upper half rings, for the editor's size and a
// smaller one: each ring's top row and its two ends just above the base line.
TEST_F(DisplayFixture, GuidesFollowTheBitmapSize) {
  struct Case {
    int width, height;
    std::array<TPoint, 3> ringHalfAxes;
  };
  const Case cases[] = {
      {190, 81, {{{19, 16}, {57, 49}, {95, 81}}}},
      {100, 50, {{{10, 10}, {30, 30}, {50, 50}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " by " + std::to_string(c.height));
    Render(c.width, c.height);
    const int cx = c.width / 2, base = c.height - 1;
    EXPECT_EQ(bitmap.Colour(cx, 0), kGuide);
    EXPECT_EQ(bitmap.Colour(cx, base / 2), kGuide);
    EXPECT_NE(bitmap.Colour(cx + 1, base / 2), kGuide);
    EXPECT_EQ(bitmap.Colour(0, base), kGuide);
    EXPECT_EQ(bitmap.Colour(c.width - 1, base), kGuide);
    EXPECT_NE(bitmap.Colour(3, base - 1), kGuide);
    for (const TPoint& axes : c.ringHalfAxes) {
      SCOPED_TRACE("ring " + std::to_string(axes.X) + " by " + std::to_string(axes.Y));
      const int top = c.height - axes.Y;
      EXPECT_EQ(bitmap.Colour(cx - 1, top), kGuide);
      if (top > 0) {
        EXPECT_NE(bitmap.Colour(cx - 1, top - 1), kGuide);
      }
      EXPECT_EQ(bitmap.Colour(cx - axes.X, base - 1), kGuide);
      EXPECT_EQ(bitmap.Colour(cx + axes.X - 1, base - 1), kGuide);
      if (cx - axes.X > 0) {
        EXPECT_NE(bitmap.Colour(cx - axes.X - 1, base - 1), kGuide);
      }
      if (cx + axes.X < c.width) {
        EXPECT_NE(bitmap.Colour(cx + axes.X, base - 1), kGuide);
      }
    }
  }
}

TEST(MarkerCentre, DistanceScalesFromInnerToOuterRingAndPositionSweepsTheHalfCircle) {
  struct Case {
    TRect area;
    float distance, position;
    TPoint centre;
  };
  const Case cases[] = {
      {kArea, 0, 0.5f, {95, 62}},    // 69 * 0.2 = 13.8 rounds to 14
      {kArea, 1, 0.5f, {95, 7}},
      {kArea, 1, 0, {4, 76}},
      {kArea, 1, 1, {186, 76}},
      {kArea, 0, 0, {77, 76}},       // 91 * 0.2 = 18.2
      {kArea, 1, 0.75f, {159, 27}},  // 91 / sqrt 2 = 64.3, 69 / sqrt 2 = 48.8
      {kArea, 0.5f, 0.25f, {56, 47}},
      {{0, 0, 11, 10}, 1, 1, {10, 10}},  // half width 11 div 2 = 5
      {{0, 0, 11, 10}, 1, 0.5f, {5, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MarkerCentre(c.area, c.distance, c.position), c.centre)
        << "distance " << c.distance << ", position " << c.position;
}

TEST(DrawMarker, RoundedOutlineFrameAroundAFourByTwoCentre) {
  const TColor background = RGB(100, 100, 100);
  TBitmap bitmap(20, 20, background);
  TCanvas canvas(bitmap);
  const TRect area{0, 0, 20, 20};
  DrawMarker(canvas, area, kAlto.Outline, 0, 0.5f, kAlto.Fill);
  const TPoint centre = MarkerCentre(area, 0, 0.5f);
  ASSERT_EQ(centre, (TPoint{10, 16}));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inCentre = x >= 8 && x < 12 && y >= 15 && y < 17;
      const bool inFrame = x >= 7 && x < 13 && y >= 14 && y < 18;
      const TColor expected = inCentre ? kAlto.Fill : inFrame ? kAlto.Outline : background;
      EXPECT_EQ(bitmap.Colour(x, y), expected) << "(" << x << ", " << y << ")";
    }
}

TEST_F(DisplayFixture, OneVoiceAtTheTopOfTheInnerRing) {
  values.Clones = 0;
  values.Focus = 0;
  values.Balance = 0.5f;
  values.Split = 0;
  Render();
  EXPECT_EQ(bitmap.Colour(95, 62), kUnison.Fill);
  EXPECT_EQ(bitmap.Colour(92, 62), kUnison.Outline);
  EXPECT_EQ(bitmap.Colour(97, 62), kUnison.Outline);
  EXPECT_EQ(bitmap.Colour(95, 60), kUnison.Outline);
  ExpectMarkersExactly(bitmap, kArea, {{0, 0.5f, kUnison}});
}

// One voice (position source 0.65, mirrored to 0.35) squeezed into the Focus range
// [1 - Balance - Focus / 2, 1 - Balance + Focus / 2], clipped to 0..1.
TEST_F(DisplayFixture, FocusAndBalancePlaceASingleVoice) {
  struct Case {
    float focus, balance, position;
  };
  const Case cases[] = {
      {0, 0.5f, 0.5f},      {1, 0.5f, 0.65f}, {0, 0, 0},       {0, 1, 1},
      {0.5f, 0.25f, 0.2875f}, {1, 0, 0.325f},   {1, 1, 0.825f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Focus " + std::to_string(c.focus) + ", Balance " + std::to_string(c.balance));
    values.Focus = c.focus;
    values.Balance = c.balance;
    Render();
    ExpectMarkersExactly(bitmap, kArea, {{0, c.position, kUnison}});
  }
}

TEST_F(DisplayFixture, TimingScalesTheVoiceDistances) {
  values.Clones = Voices(2);
  values.Focus = 0;
  for (const float timing : {0.5f, 0.25f, 1.0f}) {
    SCOPED_TRACE("Timing " + std::to_string(timing));
    values.Timing = timing;
    Render();
    // Voice 1's delay is the whole Timing span, voice 0's none.
    ExpectMarkersExactly(bitmap, kArea, {{0, 0.5f, kUnison}, {timing, 0.5f, kUnison}});
  }
}

// Full Focus at centre Balance shows each voice's own place: the speed percentage of
// voices 0 to 2 is 65 and of voice 3 is 53, rotated by 25 per section, mirrored for all
// voices of a pair and for the even voices of a larger ensemble; distances are the
// section row's timing entries.
TEST_F(DisplayFixture, SectionsAndMirroringPlaceTheVoices) {
  struct Case {
    int section, voices;
    std::vector<tMarker> markers;
  };
  const Case cases[] = {
      {0, 2, {{0, 0.65f, kUnison}, {1, 0.65f, kUnison}}},
      {0, 4, {{0, 0.65f, kUnison}, {1, 0.35f, kUnison}, {0.477f, 0.65f, kUnison}, {0.337f, 0.47f, kUnison}}},
      {1, 2, {{0.395f, 0.9f, kUnison}, {0.63f, 0.9f, kUnison}}},
      {1, 4, {{0.395f, 0.9f, kUnison}, {0.63f, 0.1f, kUnison}, {0.451f, 0.9f, kUnison}, {0.298f, 0.22f, kUnison}}},
      // 53 + 50 wraps to 3.
      {2, 4, {{0.02f, 0.15f, kUnison}, {0.95f, 0.85f, kUnison}, {0.497f, 0.15f, kUnison}, {0.357f, 0.97f, kUnison}}},
      {3, 4, {{0.61f, 0.4f, kUnison}, {0.431f, 0.6f, kUnison}, {0.278f, 0.4f, kUnison}, {0.789f, 0.72f, kUnison}}},
      {4, 4, {{0, 0.65f, kUnison}, {1, 0.35f, kUnison}, {0.477f, 0.65f, kUnison}, {0.337f, 0.47f, kUnison}}},
  };
  values.Focus = 1;
  values.Balance = 0.5f;
  values.Timing = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE("Section " + std::to_string(c.section) + ", " + std::to_string(c.voices) + " voices");
    values.Section = c.section;
    values.Clones = Voices(c.voices);
    Render();
    ExpectMarkersExactly(bitmap, kArea, c.markers);
  }
}

TEST_F(DisplayFixture, SectionFourDrawsAsSectionZero) {
  values.Clones = 1;
  values.Timing = 0.7f;
  values.Focus = 0.8f;
  values.Balance = 0.4f;
  values.Split = 5;
  values.Mix = 0.5f;
  values.DryDelay = 0.3f;
  auto checksumOf = [&](int section) {
    values.Section = section;
    Render();
    return bitmap.Checksum();
  };
  EXPECT_EQ(checksumOf(4), checksumOf(0));
  EXPECT_NE(checksumOf(1), checksumOf(0));
}

// Focus 0 leaves no width: every voice at the angle Balance gives, at its own distance.
TEST_F(DisplayFixture, FocusZeroLinesAllVoicesUpAtTheBalanceAngle) {
  values.Clones = 1;
  values.Focus = 0;
  values.Timing = 1;
  for (const float balance : {0.25f, 0.5f, 0.75f}) {
    SCOPED_TRACE("Balance " + std::to_string(balance));
    values.Balance = balance;
    Render();
    std::vector<TPoint> centres;
    for (int i = 0; i < kMaxClones; ++i) {
      centres.push_back(MarkerCentre(kArea, timingTable[i] / 1000.0f, balance));
      EXPECT_TRUE(IsMarkerColour(bitmap.Colour(centres.back().X, centres.back().Y))) << "voice " << i;
    }
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        if (!IsMarkerColour(bitmap.Colour(x, y))) continue;
        bool held = false;
        for (const TPoint& centre : centres) held = held || FrameHolds(centre, {x, y});
        ASSERT_TRUE(held) << "marker colour off the line at (" << x << ", " << y << ")";
      }
  }
}

TEST_F(DisplayFixture, BalanceZeroWithFocusZeroPutsEveryVoiceFarLeft) {
  values.Clones = 1;
  values.Focus = 0;
  values.Balance = 0;
  values.Timing = 1;
  values.Split = 5;
  Render();
  int markerPixels = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      if (!IsMarkerColour(bitmap.Colour(x, y))) continue;
      ++markerPixels;
      // On the base of the marker area (y 76), left of the centre (x 95).
      EXPECT_TRUE(x < 95 && y >= 74 && y < 78) << "(" << x << ", " << y << ")";
    }
  EXPECT_GT(markerPixels, 0);
  EXPECT_EQ(bitmap.Colour(4, 76), kUnison.Fill);  // voice 1, at distance 1: x 4 + 91 - 91
}

// The colours by Split, on a display tall enough that the 32 voices lined up straight
// up (Focus 0) leave every centre visible. Colours repeat every six voices.
TEST_F(DisplayFixture, SplitColoursTheVoicesBySection) {
  struct Case {
    int split;
    std::array<tColours, 6> byVoice;
  };
  const Case cases[] = {
      {0, {kUnison, kUnison, kUnison, kUnison, kUnison, kUnison}},
      {1, {kBass, kBass, kBass, kBass, kBass, kBass}},
      {2, {kAlto, kAlto, kAlto, kAlto, kAlto, kAlto}},
      {3, {kBass, kUnison, kBass, kUnison, kBass, kUnison}},
      {4, {kUnison, kAlto, kUnison, kAlto, kUnison, kAlto}},
      {5, {kBass, kUnison, kAlto, kBass, kUnison, kAlto}},
  };
  constexpr int kTallWidth = 400, kTallHeight = 810;
  const TRect tallArea{4, 7, kTallWidth - 4, kTallHeight - 5};
  border = PatternBorder(kTallWidth, kTallHeight);
  values.Clones = 1;
  values.Focus = 0;
  values.Timing = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE("Split " + std::to_string(c.split));
    values.Split = c.split;
    Render(kTallWidth, kTallHeight);
    std::vector<tMarker> markers;
    for (int i = 0; i < kMaxClones; ++i)
      markers.push_back({timingTable[i] / 1000.0f, 0.5f, c.byVoice[i % 6]});
    ExpectMarkersExactly(bitmap, tallArea, markers);
  }
}

// The dry marker: shown below Mix 0.97, at DryDelay, in the middle of the voices' range.
TEST_F(DisplayFixture, DryMarkerBelowFullyWet) {
  struct Case {
    float mix, focus, balance, dryDelay;
    bool shown;
    float dryPosition, voicePosition;
  };
  const Case cases[] = {
      {1, 1, 0.5f, 0.5f, false, 0, 0.65f},
      {0.97f, 1, 0.5f, 0.5f, false, 0, 0.65f},
      {0.9699f, 1, 0.5f, 0.5f, true, 0.5f, 0.65f},
      {0, 1, 0, 1, true, 0.25f, 0.325f},
      {0.5f, 1, 1, 0.25f, true, 0.75f, 0.825f},
      {0.5f, 0.5f, 0.25f, 0.75f, true, 0.25f, 0.2875f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Mix " + std::to_string(c.mix) + ", Focus " + std::to_string(c.focus) +
                 ", Balance " + std::to_string(c.balance));
    values.Mix = c.mix;
    values.Focus = c.focus;
    values.Balance = c.balance;
    values.DryDelay = c.dryDelay;
    Render();
    std::vector<tMarker> markers = {{0, c.voicePosition, kUnison}};
    if (c.shown) markers.push_back({c.dryDelay, c.dryPosition, kDry});
    ExpectMarkersExactly(bitmap, kArea, markers);
  }
}

TEST_F(DisplayFixture, DryMarkerIsDrawnOverTheVoices) {
  values.Mix = 0.5f;
  values.Focus = 0;
  values.Timing = 0;
  values.DryDelay = 0;
  Render();
  EXPECT_EQ(bitmap.Colour(95, 62), kDry.Fill);
  EXPECT_EQ(bitmap.Colour(92, 62), kDry.Outline);
}

}  // namespace
}  // namespace vm
