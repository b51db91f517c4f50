#include <gtest/gtest.h>

#include <string>

#include "controls/Artwork.h"
#include "graphics/Png.h"

namespace vm {
namespace {

struct Picture {
  std::string name;
  TBitmap bitmap;
  int width, height;
  bool keyed;  // drawn with white as transparent
};

std::vector<Picture> AllPictures() {
  using B = TButtonPicture;
  std::vector<Picture> all = {
      {"iKnob", artwork::KnobFace(TKnobShade::Normal, false), 56, 56, true},
      {"iKnobDisabled", artwork::KnobFace(TKnobShade::Normal, true), 56, 56, true},
      {"iKnobDark", artwork::KnobFace(TKnobShade::Dark, false), 56, 56, true},
      {"iKnobDarkDisabled", artwork::KnobFace(TKnobShade::Dark, true), 56, 56, true},
      {"iKnobLight", artwork::KnobFace(TKnobShade::Light, false), 56, 56, true},
      {"iKnobLightDisabled", artwork::KnobFace(TKnobShade::Light, true), 56, 56, true},
      {"InnerDot", artwork::KnobDot(), 6, 6, true},
      {"iUpOn", artwork::Button(B::UpOn), 38, 45, true},
      {"iUpOff", artwork::Button(B::UpOff), 38, 45, true},
      {"IUpOff2", artwork::Button(B::UpOff2), 38, 45, true},
      {"IUpOff3", artwork::Button(B::UpOff3), 38, 45, true},
      {"IUpOff4", artwork::Button(B::UpOff4), 38, 45, true},
      {"iDownOn", artwork::Button(B::DownOn), 38, 45, true},
      {"iDownOff", artwork::Button(B::DownOff), 38, 45, true},
      {"iUpOffDis", artwork::Button(B::UpOffDis), 38, 45, true},
      {"IUpOnDis", artwork::Button(B::UpOnDis), 38, 45, true},
      {"Screw", artwork::Screw(), 12, 12, true},
      {"iDisplayBorder", artwork::DisplayBezel(), 182, 88, false},
      {"iLCDHole", artwork::Recess(182, 18), 182, 18, false},
      {"iRandomHole", artwork::Recess(44, 51), 44, 51, false},
      {"i4ButtonHole", artwork::Recess(161, 51), 161, 51, false},
      {"LogoImage", artwork::Logo(), 183, 34, true},
  };
  for (int k = 1; k <= 4; ++k) all.push_back({"IShimmer" + std::to_string(k), artwork::Shimmer(k), 36, 36, true});
  return all;
}

TEST(Artwork, SizesKeysAndEdges) {
  for (const Picture& p : AllPictures()) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(p.bitmap.Width(), p.width);
    EXPECT_EQ(p.bitmap.Height(), p.height);
    EXPECT_EQ(p.bitmap.Transparent, p.keyed);
    int partial = 0;
    for (TPixel px : p.bitmap.Pixels()) {
      const int alpha = AlphaOf(px);
      // A partly covered pixel never carries the white key; it is drawn, blended.
      if (alpha > 0 && alpha < 255) {
        ++partial;
        EXPECT_NE(ColourOf(px), clWhite);
      }
      if (!p.keyed) {
        EXPECT_EQ(alpha, 255);
      }
    }
    if (p.keyed) {
      EXPECT_GT(partial, 0) << "anti-aliased edges carry coverage";
    }
    SaveSnapshot(p.bitmap, "art_" + p.name);
  }
}

TEST(Artwork, KnobFaceIsRoundOnWhiteWithItsCapInTheMiddle) {
  const TBitmap face = artwork::KnobFace(TKnobShade::Normal, false);
  EXPECT_EQ(face.Colour(0, 0), clWhite);
  EXPECT_EQ(AlphaOf(face.Pixel(0, 0)), 0);
  const TColor cap = face.Colour(26, 26);
  EXPECT_GT(GetG(cap), GetR(cap) + 50);  // green
  const TColor disabled = artwork::KnobFace(TKnobShade::Normal, true).Colour(26, 26);
  EXPECT_LT(std::abs(GetG(disabled) - GetR(disabled)), 20);  // pale grey
  EXPECT_GT(GetR(disabled), 150);
  // Dark, normal and light shades order by brightness.
  const int dark = GetG(artwork::KnobFace(TKnobShade::Dark, false).Colour(26, 26));
  const int light = GetG(artwork::KnobFace(TKnobShade::Light, false).Colour(26, 26));
  EXPECT_LT(dark, GetG(cap));
  EXPECT_LT(GetG(cap), light);
}

TEST(Artwork, LitLampIsBrighterThanDarkLamp) {
  const TColor on = artwork::Button(TButtonPicture::UpOn).Colour(19, 12);
  const TColor off = artwork::Button(TButtonPicture::UpOff).Colour(19, 12);
  EXPECT_GT(GetR(on), GetR(off) + 100);
  EXPECT_GT(GetR(on), GetG(off));
}

TEST(Artwork, RendersAreDeterministic) {
  uint64_t hash = 0;
  for (const Picture& p : AllPictures()) hash = hash * 31 + p.bitmap.Checksum();
  EXPECT_EQ(hash, 3323978573632594742ull);
}

}  // namespace
}  // namespace vm
