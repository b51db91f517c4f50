// One voice's derived numbers: delays, vibrato period and depth, stereo gains, phases,
// and the shared random generator.

#include <gtest/gtest.h>

#include <cmath>

#include "EngineFixture.h"
#include "analysis/Random.h"
#include "vst/Voicemultiply.h"

namespace vm {
namespace {

TEST(Random, FirstDrawsFromStateZero) {
  const uint32_t saved = tRandom::State();
  tRandom::SetState(0);
  EXPECT_EQ(tRandom::Random(), 1.0 / 4294967296.0);  // state 0 -> 1
  // state 1 -> 134775814; RandomInt(32) is its top five bits.
  EXPECT_EQ(tRandom::RandomInt(32), static_cast<int32_t>((134775814ull * 32) >> 32));
  tRandom::SetState(0xFFFFFFFFu * 1u);
  for (int i = 0; i < 1000; ++i) {
    const double r = tRandom::Random();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
  }
  tRandom::SetState(saved);
}

TEST(Voice, DelaysFollowTimingAndTheTimingTable) {
  tVoicemultiply effect(nullptr);  // Timing 0.5, order A: voice i reads timingTable[i]
  EXPECT_EQ(effect.Voice(0).Delay(), 44);     // entry 0: 1 ms
  EXPECT_EQ(effect.Voice(1).Delay(), 6196);   // entry 1000: timing 15.5
  EXPECT_FLOAT_EQ(effect.Voice(1).Timing(), 15.5f);
  effect.setParameter(kSection, 0.25f);       // order B: voice 0 takes position 31 (395)
  test::Apply(effect);
  EXPECT_EQ(effect.Voice(0).Delay(),
            std::lround((441.0 - 44.1) * (15.5 * 0.395) + 44.1));
}

TEST(Voice, VibratoOfVoiceZeroAtSixteenVoices) {
  tVoicemultiply effect(nullptr);
  const tSingleClone& voice = effect.Voice(0);  // speed 1.0, depth scale 1.0
  EXPECT_FLOAT_EQ(voice.Speed(), 1.0f);
  EXPECT_NEAR(voice.VibRateHz(), 5.3796f, 1e-3f);
  EXPECT_EQ(voice.VibTurn(), 4098);     // period 8198, half 4099
  EXPECT_EQ(voice.TableDepth(), 92);    // round(8198 * 0.45 * 0.025)
  // Voice 15 runs 1.35 times faster: a shorter period, and its 0.9 depth scale.
  const tSingleClone& fast = effect.Voice(15);
  const int period = static_cast<int>(std::nearbyint(44100.0 / fast.VibRateHz()));
  EXPECT_EQ(fast.VibTurn(), period / 2 - 1);
  EXPECT_EQ(fast.TableDepth(), static_cast<int>(std::nearbyint(period * 0.45f * 0.9f * 0.025)));
}

TEST(Voice, FewVoicesGetTheWiderRateRange) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, 1.0f / 31);  // two voices
  test::Apply(effect);
  const double wide = std::pow(10.0, std::log10(0.75) + (std::log10(12.0) - std::log10(0.75)) * 0.8);
  EXPECT_NEAR(effect.Voice(0).VibRateHz(), wide, 1e-3);
  effect.setParameter(kVibRandom, 1.0f);
  test::Apply(effect);
  const double narrow = std::pow(10.0, std::log10(1.1) + (std::log10(8.0) - std::log10(1.1)) * 0.8);
  EXPECT_NEAR(effect.Voice(0).VibRateHz(), narrow, 1e-3);
}

struct tPlaceCase {
  int clones;
  int sectionValueQuarter;  // Section host value in quarters (0 = A, 1 = B)
  int voice;
  float q;  // share of the first output before the level norm
};

TEST(Voice, StereoPlaces) {
  const tPlaceCase cases[] = {
      {16, 0, 0, 0.35f},  // p 0.65, even voice: 1 - p
      {16, 0, 1, 0.65f},  // odd voice from three voices on: p
      {2, 0, 1, 0.35f},   // two voices: both 1 - p
      {16, 1, 0, 0.1f},   // order B: p = (65 + 25) / 100
  };
  for (const auto& c : cases) {
    tVoicemultiply effect(nullptr);
    effect.setParameter(kSection, c.sectionValueQuarter * 0.25f);
    effect.setParameter(kClones, (c.clones - 1) / 31.0f);
    test::Apply(effect);
    const float norm = 1.078f / std::sqrt(static_cast<float>(c.clones));
    EXPECT_NEAR(effect.Voice(c.voice).GainLeft(), norm * c.q, 1e-6f) << c.clones << " " << c.voice;
    EXPECT_NEAR(effect.Voice(c.voice).GainRight(), norm * (1 - c.q), 1e-6f);
  }
  tVoicemultiply effect(nullptr);
  EXPECT_NEAR(effect.Voice(0).GainLeft(), 0.0943f, 1e-4f);
  EXPECT_NEAR(effect.Voice(0).GainRight(), 0.1752f, 1e-4f);
}

TEST(Voice, StartPhases) {
  tVoicemultiply effect(nullptr);
  EXPECT_NEAR(effect.Voice(7).Phase(), 0.2f, 1e-6f);
  EXPECT_NEAR(effect.Voice(2).Phase(), 2.0f / 3 + 0.3f, 1e-6f);
  EXPECT_NEAR(effect.Voice(24).Speed(), 0.69f, 1e-6f);
  EXPECT_NEAR(effect.Voice(15).Speed(), 1.35f, 1e-6f);
}

TEST(Voice, RandomDipNeverExceedsOne) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kDynDepth, 1.0f);
  effect.setParameter(kDynRate, 1.0f);  // shortest ramps: many turns
  std::vector<float> in(4096, 0.1f), left(4096), right(4096);
  float* inputs[] = {in.data()};
  float* outputs[] = {left.data(), right.data()};
  bool touchedOne = false;
  for (int block = 0; block < 100; ++block) {
    effect.processReplacing(inputs, outputs, 4096);
    for (int v = 0; v < 16; ++v) {
      ASSERT_LE(effect.Voice(v).DynDip(), 1.0f);
      touchedOne |= effect.Voice(v).DynDip() == 1.0f;
    }
  }
  EXPECT_TRUE(touchedOne);  // draws of 0.99 * 1.5 are common: the limit does bite
}

}  // namespace
}  // namespace vm
