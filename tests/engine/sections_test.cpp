// The section engines inside the ensemble: which section the voices hear (pitch an
// octave down or up), the unison section keeping its pitch when formant-shifted, and the
// section levels in dB.

#include <gtest/gtest.h>

#include <cmath>

#include "EngineFixture.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr double kF0Hz = 200.0;

// One static voice so the output is the section's signal, delayed and scaled.
test::tStereo RenderSection(float split, float unisonFmnts, float bassLevel = 0.45f) {
  tVoicemultiply effect(nullptr);
  test::MakeStatic(effect);
  effect.setParameter(kClones, 0.0f);
  effect.setParameter(kSplit, split);
  effect.setParameter(kUnisonFmnts, unisonFmnts);
  effect.setParameter(kBassLevel, bassLevel);
  return test::Render(effect, signals::SungVowel(kF0Hz, kRateHz, kRateHz * 3 / 2));
}

double OutputPitchHz(const test::tStereo& out) {
  return signals::EstimatePitchHz(out.left, kRateHz * 7 / 10, 4096, kRateHz, 50.0, 1000.0);
}

TEST(Sections, EachSplitSoundsAtItsOctave) {
  const struct {
    float split;        // host value
    float unisonFmnts;
    double pitchRatio;  // output f0 / input f0
  } cases[] = {
      {0.0f, 0.5f, 1.0},  // unison, the input itself
      {0.0f, 1.0f, 1.0},  // unison, formants up by 1.3: pitch kept
      {0.0f, 0.0f, 1.0},  // unison, formants down by 0.85
      {0.2f, 0.5f, 0.5},  // Split 1: bass, an octave down
      {0.4f, 0.5f, 2.0},  // Split 2: alto, an octave up
  };
  for (const auto& c : cases) {
    const double pitch = OutputPitchHz(RenderSection(c.split, c.unisonFmnts));
    EXPECT_NEAR(pitch / kF0Hz, c.pitchRatio, 0.02 * c.pitchRatio)
        << "Split value " << c.split << ", UnisonFmnts " << c.unisonFmnts;
  }
}

TEST(Sections, BassLevelMovesTheBassSectionByItsDecibels) {
  const auto unity = RenderSection(0.2f, 0.5f, 0.5f);   // 10^0 = 0 dB
  const auto loud = RenderSection(0.2f, 0.5f, 1.0f);    // 10^0.5 = +10 dB
  const size_t from = kRateHz / 2, to = kRateHz * 3 / 2;
  EXPECT_GT(signals::RmsDb(unity.left, from, to), -40.0);  // the section does sound
  EXPECT_NEAR(signals::RmsDb(loud.left, from, to) - signals::RmsDb(unity.left, from, to), 10.0, 0.05);
}

TEST(Sections, UnshiftedUnisonIsTheInputAndShiftedUnisonDiffers) {
  const auto plain = RenderSection(0.0f, 0.51f);  // within 0.02 of the middle: not shifted
  const auto reference = RenderSection(0.0f, 0.5f);
  EXPECT_EQ(plain.left, reference.left);
  const auto shifted = RenderSection(0.0f, 0.6f);
  EXPECT_NE(shifted.left, reference.left);
}

TEST(Sections, AbsurdInputNeverReachesTheRingsAsNonFinite) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kSplit, 1.0f);        // all three sections
  effect.setParameter(kUnisonFmnts, 1.0f);  // unison shifted as well
  std::vector<float> in = signals::SungVowel(kF0Hz, kRateHz, kRateHz * 2);
  for (size_t i = 1000; i < 3000; ++i) in[i] = (i % 2 ? 1e30f : -1e30f);
  const auto out = test::Render(effect, in);
  for (size_t i = 0; i < out.left.size(); ++i) {
    ASSERT_TRUE(std::isfinite(out.left[i])) << i;
    ASSERT_TRUE(std::isfinite(out.right[i])) << i;
  }
  // A second after the burst the sections sound again.
  EXPECT_GT(signals::RmsDb(out.left, kRateHz * 3 / 2, kRateHz * 2), -40.0);
}

}  // namespace
}  // namespace vm
