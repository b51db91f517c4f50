// The formant-shifted head's bin arithmetic, seen through its output: a known spectrum is
// handed to ShiftCycle, and the cycle it produces is transformed again to read the bins
// back. A cycle of 441 samples at 44100 Hz has f0 = 100 Hz and a 512-point transform, so
// bin i stands for i * 100 Hz.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "analysis/Fourier.h"
#include "playback/FormantShifter.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr int kCycleSamples = 441;  // f0 = 100 Hz
constexpr int kN = 512;             // transform length of that cycle
constexpr int kHalf = kN / 2;       // last bin, 25600 Hz
constexpr int kCycleStart = 1000;   // ring position of the cycle

// Distinct values per bin, so a wrong source bin shows: bin k = (1 + k, 0.5 k - 40).
float BinRe(int k) { return 1.0f + static_cast<float>(k); }
float BinIm(int k) { return (k == 0 || k == kHalf) ? 0.0f : 0.5f * static_cast<float>(k) - 40.0f; }

struct tSettings {
  float ratio, lowFactor, highHz, fadeIn, fadeOut;
};

// Runs ShiftCycle of the unison head on the spectrum above; returns the bins (re, im) of
// the cycle it produced.
std::vector<float> ShiftedBins(const tSettings& s) {
  auto shifter = std::make_unique<tFormantShifter>(kRateHz);
  shifter->SpectrumSize = kN;
  shifter->SpectrumHalf = kHalf;
  for (int k = 0; k <= kHalf; ++k) {
    shifter->Spectrum[2 * k] = BinRe(k);
    shifter->Spectrum[2 * k + 1] = BinIm(k);
  }
  tFormantShiftedPlaybackHead& head = shifter->UnisonHead;
  head.SetFormant(s.ratio, s.lowFactor, s.highHz, s.fadeIn, s.fadeOut);
  head.ShiftCycle(kCycleStart, kCycleStart + kCycleSamples);
  // The head left the N time samples of the reshaped cycle in Shifted; the forward
  // transform of them gives back the bins it wrote.
  std::vector<float> bins(head.Shifted.begin(), head.Shifted.begin() + kN + 2);
  RealFFT(bins.data(), kHalf, +1);
  UnpackSpectrum(bins.data(), kN);
  return bins;
}

constexpr float kTolerance = 0.02f;  // float round trip through two 512-point transforms

constexpr tSettings kPlain{1.0f, 0.8f, 8000.0f, 0.05f, 0.8f};
constexpr tSettings kUp2{2.0f, 0.8f, 8000.0f, 0.05f, 0.8f};
constexpr tSettings kDown2{0.5f, 0.8f, 8000.0f, 0.05f, 0.8f};
constexpr tSettings kDoubleHead{0.5f, 1.5f, 8000.0f, 0.05f, 0.8f};
constexpr tSettings kWide{0.5f, 0.8f, 20000.0f, 0.05f, 0.8f};
constexpr tSettings kCreation{2.0f, 0.0f, 0.0f, 0.0f, 0.0f};  // band [0, 0]: empty

// Band 80..8000 Hz (LowFactor 0.8 of 100 Hz): the fade-in ends at 80 + 0.05 * 7920 = 476 Hz,
// the fade-out starts at 80 + 0.8 * 7920 = 6416 Hz. Weights and source bins by hand.
TEST(FormantHead, BinsTakeTheirSourceBinWeightedAndScaled) {
  const struct {
    tSettings settings;
    int bin;
    double weight;  // share of the source bin
    int source;     // source bin; -1 for one beyond the last bin (contributes nothing)
  } cases[] = {
      {kUp2, 10, 1.0, 5},                        // 1000 Hz takes 500 Hz, halved
      {kUp2, 1, 20.0 / 396.0, 0},                // 100 Hz: weight ~0.05, source 0.5 -> 0 (even)
      {kUp2, 3, 220.0 / 396.0, 2},               // 300 Hz: 1.5 rounds to 2
      {kUp2, 5, 1.0, 2},                         // 500 Hz: 2.5 rounds to 2, not 3
      {kUp2, 64, 1.0, 32},                       // 6400 Hz: just before the fade-out
      {kUp2, 65, 1500.0 / 1584.0, 32},           // 6500 Hz: 32.5 rounds to 32
      {kUp2, 79, 100.0 / 1584.0, 40},            // 7900 Hz: 39.5 rounds to 40
      {kDown2, 10, 1.0, 20},                     // 1000 Hz takes 2000 Hz, doubled
      {kDown2, 40, 1.0, 80},
      {kDoubleHead, 2, 50.0 / 392.5, 4},         // band from 150 Hz, fade-in to 542.5 Hz
      {kDoubleHead, 20, 1.0, 40},
      {kWide, 128, 1.0, 256},                    // band to 20000 Hz: source is the last bin
      {kWide, 130, 1.0, -1},                     // source 260 lies beyond bin 256
      {kWide, 150, 1.0, -1},
  };
  for (const auto& c : cases) {
    const std::vector<float> bins = ShiftedBins(c.settings);
    const double r = c.settings.ratio, w = c.weight;
    const double sourceRe = c.source >= 0 ? BinRe(c.source) : 0.0;
    const double sourceIm = c.source >= 0 ? BinIm(c.source) : 0.0;
    EXPECT_NEAR(bins[2 * c.bin], w * sourceRe / r + (1 - w) * BinRe(c.bin), kTolerance)
        << "ratio " << r << ", bin " << c.bin;
    EXPECT_NEAR(bins[2 * c.bin + 1], w * sourceIm / r + (1 - w) * BinIm(c.bin), kTolerance)
        << "ratio " << r << ", bin " << c.bin;
  }
}

// Outside [LowFactor * f0, HighHz] the spectrum passes untouched; so do DC and the last
// bin, and every bin when the ratio is 1 or the band is empty.
TEST(FormantHead, BinsOutsideTheBandAreUnchanged) {
  const struct {
    tSettings settings;
    int firstChanged, lastChanged;  // bins that may change; every other one must not
  } cases[] = {
      {kUp2, 1, 79},         // 8000 Hz itself has weight 0
      {kDown2, 1, 79},
      {kDoubleHead, 2, 79},  // 100 Hz lies below 1.5 f0
      {kWide, 1, 199},       // 20000 Hz has weight 0
      {kPlain, 1, 0},        // ratio 1: every source bin is the bin itself
      {kCreation, 1, 0},     // HighHz 0: no band at all
  };
  for (const auto& c : cases) {
    const std::vector<float> bins = ShiftedBins(c.settings);
    int changed = 0;
    for (int k = 0; k <= kHalf; ++k) {
      const bool mayChange = k >= c.firstChanged && k <= c.lastChanged;
      const bool same = std::fabs(bins[2 * k] - BinRe(k)) < kTolerance &&
                        std::fabs(bins[2 * k + 1] - BinIm(k)) < kTolerance;
      if (!mayChange) {
        EXPECT_TRUE(same) << "ratio " << c.settings.ratio << ", bin " << k;
      }
      changed += !same;
    }
    // Where a band exists and the ratio is not 1, (almost) all of it did change.
    if (c.lastChanged > c.firstChanged)
      EXPECT_GE(changed, (c.lastChanged - c.firstChanged) * 9 / 10) << "ratio " << c.settings.ratio;
    else
      EXPECT_EQ(changed, 0) << "ratio " << c.settings.ratio;
  }
}

// The rewritten cycle lands in the head's own ring, squeezed back to its 441 samples; the
// other rings and the samples around the cycle stay as they were.
TEST(FormantHead, TheCycleIsWrittenIntoItsOwnRingOnly) {
  auto shifter = std::make_unique<tFormantShifter>(kRateHz);
  shifter->SpectrumSize = kN;
  shifter->SpectrumHalf = kHalf;
  std::fill(shifter->Spectrum.begin(), shifter->Spectrum.end(), 0.0f);
  shifter->Spectrum[2 * 3] = static_cast<float>(kHalf);  // a cosine of 3 periods per cycle
  shifter->UnisonHead.ShiftCycle(kCycleStart, kCycleStart + kCycleSamples);
  for (int k = 0; k < kCycleSamples; ++k) {
    const double expected = std::cos(2.0 * std::numbers::pi * 3.0 * k / kCycleSamples);
    ASSERT_NEAR(shifter->UnisonRing[kCycleStart + k], expected, 0.01) << k;
  }
  EXPECT_EQ(shifter->UnisonRing[kCycleStart - 1], 0.0f);
  EXPECT_EQ(shifter->UnisonRing[kCycleStart + kCycleSamples], 0.0f);
  for (float v : shifter->HalfRing) ASSERT_EQ(v, 0.0f);
  for (float v : shifter->DoubleRing) ASSERT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace vm
