#include "playback/FormantShifter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {
using signals::EstimatePitchHz;
using signals::SungVowel;

TEST(FormantShifter, DerivedLengthsFollowTheRate) {
  const struct { int rate, ring, timeout, minCycle; } cases[] = {
      {44100, 32768, 1176, 44}, {96000, 65536, 2560, 96}, {192000, 131072, 5120, 192}};
  for (const auto& c : cases) {
    auto shifter = std::make_unique<tFormantShifter>(c.rate);
    EXPECT_EQ(shifter->RingLength, c.ring) << c.rate;
    EXPECT_EQ(shifter->Mask, c.ring - 1) << c.rate;
    EXPECT_EQ(shifter->Timeout, c.timeout) << c.rate;
    EXPECT_EQ(shifter->MinCycle, c.minCycle) << c.rate;
    // The longest cycle a ring holds already fits every buffer: Process never allocates.
    EXPECT_GE(shifter->Resampler.Capacity, c.ring + 2);
    EXPECT_GE(static_cast<int>(shifter->UnisonHead.Shifted.size()), c.ring + 2);
  }
}

TEST(FormantShifter, UnchangedRateKeepsTheSignalState) {
  auto shifter = std::make_unique<tFormantShifter>(44100);
  for (int i = 0; i < 100; ++i) shifter->Process(0.1f);
  shifter->SetSampleRate(44100);
  EXPECT_EQ(shifter->WritePos, 100);
  shifter->SetSampleRate(48000);
  EXPECT_EQ(shifter->WritePos, 0);
}

std::vector<float> RunShifter(tFormantShifter& shifter, const std::vector<float>& in,
                       std::vector<float>* half = nullptr) {
  std::vector<float> out;
  for (float x : in) {
    shifter.Process(x);
    out.push_back(shifter.UnisonOut);
    if (half) half->push_back(shifter.HalfOut);
  }
  return out;
}

class ShifterRates : public ::testing::TestWithParam<int> {};

TEST_P(ShifterRates, RatioOneLeavesTheRingsCyclesUnchangedUpToRounding) {
  const int rate = GetParam();
  const std::vector<float> vowel = SungVowel(150.0, rate, rate / 2);
  auto shifter = std::make_unique<tFormantShifter>(rate);
  shifter->SetUnisonHead(1.0f, 0.8f, 8000.0f, 0.05f, 0.8f);
  RunShifter(*shifter, vowel);
  ASSERT_TRUE(shifter->CyclePoints.Ready);
  // Ring positions hold the rewritten cycles; compare with the input that was written.
  double worst = 0;
  for (size_t i = 0; i < vowel.size(); ++i)
    worst = std::max(worst, std::fabs(double(shifter->UnisonRing[i]) - vowel[i]));
  EXPECT_LT(worst, 0.02);
}

TEST_P(ShifterRates, UnisonHeadKeepsThePitchWhileFormantsMove) {
  const int rate = GetParam();
  const std::vector<float> vowel = SungVowel(150.0, rate, rate);
  for (float ratio : {1.3f, 0.85f}) {
    auto shifter = std::make_unique<tFormantShifter>(rate);
    shifter->SetUnisonHead(ratio, 0.8f, 8000.0f, 0.05f, 0.8f);
    const std::vector<float> out = RunShifter(*shifter, vowel);
    const double pitch = EstimatePitchHz(out, rate / 2, rate / 20, rate, 60.0, 600.0);
    EXPECT_NEAR(pitch, 150.0, 1.5) << "ratio " << ratio;
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, ShifterRates, ::testing::Values(44100, 96000));

TEST(FormantShifter, RecoversAfterNonFiniteInput) {
  const std::vector<float> vowel = SungVowel(150.0, 44100, 44100);
  auto shifter = std::make_unique<tFormantShifter>(44100);
  shifter->SetUnisonHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
  std::vector<float> in = vowel;
  for (int i = 1000; i < 1100; ++i) in[i] = i % 2 ? NAN : INFINITY;
  in[1200] = 1e30f;
  const std::vector<float> out = RunShifter(*shifter, in);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out[i])) << i;
  const double pitch = EstimatePitchHz(out, 30000, 2205, 44100, 60.0, 600.0);
  EXPECT_NEAR(pitch, 150.0, 1.5);
}

}  // namespace
}  // namespace vm
