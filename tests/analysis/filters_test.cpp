#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "analysis/Filters.h"

namespace vm {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Audio EQ Cookbook biquad in double precision, normalised by a0: the reference the
// float32 filter is checked against.
struct Biquad {
  double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

Biquad Cookbook(tFilterKind kind, double fs, double f, double Q, double dB) {
  const double w = 2 * kPi * f / fs, s = std::sin(w), c = std::cos(w);
  const double alpha = s / (2 * Q);
  const double G = std::pow(10.0, dB / 20), A = std::pow(10.0, dB / 40);
  double b0 = 0, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;
  switch (kind) {
    case fkGain: b0 = G; break;
    case fkLowPass: b0 = G * (1 - c) / 2; b1 = G * (1 - c); b2 = b0; a0 = 1 + alpha; a1 = -2 * c; a2 = 1 - alpha; break;
    case fkHighPass: b0 = G * (1 + c) / 2; b1 = -G * (1 + c); b2 = b0; a0 = 1 + alpha; a1 = -2 * c; a2 = 1 - alpha; break;
    case fkBandPass: b0 = G * alpha; b2 = -G * alpha; a0 = 1 + alpha; a1 = -2 * c; a2 = 1 - alpha; break;
    case fkNotch: b0 = G; b1 = -2 * c * G; b2 = G; a0 = 1 + alpha; a1 = -2 * c; a2 = 1 - alpha; break;
    case fkPeak: b0 = 1 + alpha * A; b1 = -2 * c; b2 = 1 - alpha * A; a0 = 1 + alpha / A; a1 = -2 * c; a2 = 1 - alpha / A; break;
    case fkLowShelf: {
      const double r = 2 * std::sqrt(A) * alpha * std::sqrt(2.0 * Q * Q);  // slope 1: s*sqrt(2A)
      b0 = A * ((A + 1) - (A - 1) * c + r); b1 = 2 * A * ((A - 1) - (A + 1) * c); b2 = A * ((A + 1) - (A - 1) * c - r);
      a0 = (A + 1) + (A - 1) * c + r; a1 = -2 * ((A - 1) + (A + 1) * c); a2 = (A + 1) + (A - 1) * c - r;
      break;
    }
    case fkHighShelf: {
      const double r = 2 * std::sqrt(A) * alpha * std::sqrt(2.0 * Q * Q);
      b0 = A * ((A + 1) + (A - 1) * c + r); b1 = -2 * A * ((A - 1) + (A + 1) * c); b2 = A * ((A + 1) + (A - 1) * c - r);
      a0 = (A + 1) - (A - 1) * c + r; a1 = 2 * ((A - 1) - (A + 1) * c); a2 = (A + 1) - (A - 1) * c - r;
      break;
    }
  }
  return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

std::vector<double> ImpulseResponse(const Biquad& q, int n) {
  std::vector<double> y(n);
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (int i = 0; i < n; ++i) {
    const double x = i == 0 ? 1.0 : 0.0;
    y[i] = q.b0 * x + q.b1 * x1 + q.b2 * x2 - q.a1 * y1 - q.a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y[i];
  }
  return y;
}

// Design and recursion together: the impulse response of every kind at several rates and
// gains follows the cookbook filter to float32 accuracy.
TEST(FilterTest, AllKindsFollowTheCookbookAtSeveralRates) {
  const tFilterKind kinds[] = {fkGain, fkLowPass, fkHighPass, fkBandPass,
                               fkNotch, fkLowShelf, fkHighShelf, fkPeak};
  struct Case { int fs; float f, q, dB; };
  const Case cases[] = {{22050, 1000, 0.707f, 0}, {44100, 300, 0.5f, 6},
                        {48000, 9000, 1, -12}, {96000, 54, 0.5f, 3}, {192000, 14000, 2, 0}};
  for (const Case& cs : cases) {
    for (tFilterKind kind : kinds) {
      tFilter f;
      f.Design(cs.fs, kind, cs.f, cs.q, cs.dB);
      const auto want = ImpulseResponse(Cookbook(kind, cs.fs, cs.f, cs.q, cs.dB), 64);
      for (int i = 0; i < 64; ++i) {
        const float got = f.Process(i == 0 ? 1.0f : 0.0f);
        ASSERT_NEAR(got, want[i], 2e-5 * (1 + std::fabs(want[i])))
            << "kind " << int(kind) << " fs " << cs.fs << " sample " << i;
      }
    }
  }
}

TEST(FilterTest, DcThroughLowAndHighPass) {
  struct Case { int fs; tFilterKind kind; float f, q; float dc; };
  const Case cases[] = {{44100, fkLowPass, 300, 0.5f, 1}, {44100, fkLowPass, 1000, 0.25f, 1},
                        {96000, fkLowPass, 14000, 1, 1}, {44100, fkHighPass, 54, 0.5f, 0},
                        {192000, fkHighPass, 54, 0.5f, 0}};
  for (const Case& cs : cases) {
    tFilter f;
    f.Design(cs.fs, cs.kind, cs.f, cs.q, 0);
    float y = 0;
    for (int i = 0; i < 200000; ++i) y = f.Process(1.0f);
    // float32 coefficients: the DC gain (b0+b1+b2)/(1+a1+a2) divides by a small number
    // at low cut-offs, so its rounding error is a few 1e-5.
    EXPECT_NEAR(y, cs.dc, 2e-4) << int(cs.kind) << " at " << cs.fs;
  }
}

TEST(FilterTest, NeverDesignedOutputsMinusTheGuard) {
  tFilter f;
  EXPECT_EQ(f.sampleRate, 44100);
  for (float x : {0.0f, 1.0f, -0.5f, 100.0f}) EXPECT_EQ(f.Process(x), -1e-20f);
}

TEST(FilterTest, KindEightIsStoredComputesNothingAndOutputsZero) {
  tFilter f;
  f.Design(44100, fkLowPass, 1000, 0.7f, 0);
  const float b0 = f.b0, a1 = f.a1;
  f.Design(44100, static_cast<tFilterKind>(8), 500, 0.7f, 0);
  EXPECT_EQ(f.kind, 8);
  EXPECT_EQ(f.freq, 500.0f);
  EXPECT_EQ(f.b0, b0);
  EXPECT_EQ(f.a1, a1);
  EXPECT_EQ(f.Process(0.25f), 0.0f);
  EXPECT_EQ(f.Process(0.5f), 0.0f);
  EXPECT_EQ(f.x1, 0.5f);  // the memories still shift
  EXPECT_EQ(f.x2, 0.25f);
}

TEST(FilterTest, RepeatedDesignKeepsStateAndNewRateRecomputes) {
  tFilter f;
  f.Design(44100, fkLowPass, 1000, 0.7f, 0);
  for (int i = 0; i < 10; ++i) f.Process(0.3f);
  const tFilter before = f;
  f.Design(44100, fkLowPass, 1000, 0.7f, 0);
  EXPECT_EQ(f.y1, before.y1);
  EXPECT_EQ(f.b0, before.b0);
  f.Design(48000, fkLowPass, 1000, 0.7f, 0);
  EXPECT_NE(f.b0, before.b0);
  EXPECT_EQ(f.y1, before.y1);  // memories carry over a redesign
}

// Poison inputs are taken as 0 (or clamped) so a normal signal afterwards gives exactly
// what a filter that never saw the poison gives, once the poisoned samples leave the
// recursion's memory.
TEST(FilterTest, RecoversFromPoisonInputs) {
  const float poisons[] = {std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
  for (float poison : poisons) {
    tFilter f, clean;
    f.Design(44100, fkLowPass, 300, 0.5f, 0);
    clean.Design(44100, fkLowPass, 300, 0.5f, 0);
    for (int i = 0; i < 5; ++i) f.Process(poison);
    float worst = 0;
    for (int i = 0; i < 32768; ++i) {
      const float x = 0.5f * std::sin(2 * kPi * 220 * i / 44100.0);
      const float y = f.Process(x), want = clean.Process(x);
      ASSERT_TRUE(std::isfinite(y)) << poison << " at " << i;
      if (i > 16384) worst = std::max(worst, std::fabs(y - want));
    }
    EXPECT_LT(worst, 1e-6f) << poison;
  }
}

TEST(FilterTest, BrokenDesignOutputsZeroNotNan) {
  tFilter f;
  f.Design(44100, fkLowPass, 1000, 0.0f, 0);  // Q of 0: infinite alpha
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(std::isfinite(f.Process(0.5f)));
}

struct MedianCase {
  int length;
  std::vector<float> input, expected;
};

TEST(FastMedianTest, Sequences) {
  const MedianCase cases[] = {
      {5, {100, 110, 90, 105, 95, 100, 102, 98}, {100, 110, 90, 105, 95, 100, 102, 100}},
      {1, {3, -1, 7, 7, 2}, {3, -1, 7, 7, 2}},
      {5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      // length 2 returns the upper of the two middle values once warm
      {2, {5, 1, 9, 3}, {5, 1, 9, 9}},
  };
  for (const MedianCase& c : cases) {
    tFastMedian m(c.length);
    for (size_t i = 0; i < c.input.size(); ++i)
      EXPECT_EQ(m.Process(c.input[i]), c.expected[i]) << "length " << c.length << " call " << i;
  }
}

// Once warm, the result is the upper median of the last n inputs (the window starts
// with n zeros).
TEST(FastMedianTest, WarmResultIsTheWindowMedian) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1, 1);
  for (int n : {2, 4, 5, 8, 31, 127}) {
    tFastMedian m(n);
    std::vector<float> history(n, 0.0f);
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
      const float x = u(rng);
      history.push_back(x);
      const bool warmBefore = m.warm;
      const float got = m.Process(x);
      std::vector<float> window(history.end() - n, history.end());
      std::sort(window.begin(), window.end());
      if (warmBefore) {
        ASSERT_EQ(got, window[n / 2]) << "n " << n << " call " << i;
        ++checked;
      } else {
        ASSERT_EQ(got, x);
      }
    }
    EXPECT_GT(checked, 2000) << n;
  }
}

TEST(FastMedianTest, ResetRefillsZerosAndStaysWarm) {
  tFastMedian m(3);
  for (float x : {7.0f, 6.0f, 5.0f, 1.0f}) m.Process(x);  // 7 leaves from the top
  ASSERT_TRUE(m.warm);
  m.Reset();
  EXPECT_TRUE(m.warm);
  EXPECT_EQ(m.Process(4.0f), 0.0f);  // window 0, 0, 4
}

TEST(FastMedianTest, CorruptWindowIsRebuiltWithoutThrowing) {
  tFastMedian m(5);
  for (int i = 0; i < 5; ++i) m.stamps[i] = 99;  // no stamp can match the oldest
  EXPECT_NO_THROW(m.Process(1.0f));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(m.Process(2.0f), 2.0f);
}

TEST(FastMedianTest, NonFiniteInputsLeaveTheSortOrderIntact) {
  tFastMedian m(5);
  for (float p : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(m.Process(p)));
  for (int i = 0; i < 10; ++i) m.Process(100.0f);
  EXPECT_EQ(m.Process(100.0f), 100.0f);
  EXPECT_TRUE(std::is_sorted(m.values, m.values + 5));
}

// Filters run side by side over blocks, chained with lags, give the floats of the same
// filters run sample by sample in series; the memories carry over from block to block.
// The input holds values beyond the sample limit and a NaN, and one filter has so narrow a
// band (Q 1e-4 at the edge of stability) that large inputs drive it into its reset. Both
// forms of the step: plain, and with fused multiply-adds where the processor runs them.
TEST(FilterChainsTest, ChainsWithLagsMatchSampleBySampleInSeries) {
  std::mt19937 random(5);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> input(3000);
  for (float& x : input) x = uniform(random);
  input[100] = 5000.0f;
  input[200] = std::numeric_limits<float>::quiet_NaN();
  for (int i = 1500; i < 1600; ++i) input[i] = 1e3f * (i % 2 ? 1.0f : -1.0f);
  auto design = [](tFilter (&f)[4]) {
    f[0].Design(44100, fkHighPass, 54.0f, 0.5f, 0.0f);
    f[1].Design(44100, fkLowPass, 300.0f, 0.5f, 0.0f);
    f[2].Design(44100, fkLowPass, 21000.0f, 1e-4f, 0.0f);
    f[3].Design(44100, fkNotch, 1000.0f, 2.0f, 6.0f);  // reads the input beside the chain
  };
  tFilter reference[4];
  design(reference);
  std::vector<float> expectedChain(input.size()), expectedSide(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    expectedChain[i] = reference[2].Process(reference[1].Process(reference[0].Process(input[i])));
    expectedSide[i] = reference[3].Process(input[i]);
  }
  std::vector<bool> forms = {false};
  if (FusedFiltersAvailable()) forms.push_back(true);
  for (const bool fused : forms)
  for (const int32_t block : {1, 2, 3, 64, 1000}) {
    tFilter filters[4];
    design(filters);
    std::vector<float> first(block), second(block), chain(input.size()), side(input.size());
    for (size_t start = 0; start < input.size(); start += block) {
      const int32_t n = std::min<int32_t>(block, static_cast<int32_t>(input.size() - start));
      tFilter* const links[] = {&filters[0], &filters[1], &filters[2], &filters[3]};
      const float* const source[] = {input.data() + start, first.data(), second.data(),
                                     input.data() + start};
      float* const dest[] = {first.data(), second.data(), chain.data() + start,
                             side.data() + start};
      const int32_t lag[] = {0, 1, 2, 0};
      if (fused)
        RunFilterChainsWith<4, true>(links, source, dest, lag, n);
      else
        RunFilterChainsWith<4, false>(links, source, dest, lag, n);
    }
    for (size_t i = 0; i < input.size(); ++i) {
      ASSERT_EQ(std::memcmp(&chain[i], &expectedChain[i], sizeof(float)), 0)
          << fused << " " << block << " " << i;
      ASSERT_EQ(std::memcmp(&side[i], &expectedSide[i], sizeof(float)), 0)
          << fused << " " << block << " " << i;
    }
  }
}

}  // namespace
}  // namespace vm
