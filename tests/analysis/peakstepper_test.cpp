#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include "analysis/PeakStepper.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr double kPi = 3.14159265358979323846;
const float kPoisons[] = {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};

struct ExtremeCase {
  const char* what;
  std::vector<float> input;
  float state, lastPeak, peakThreshold, lastTrough, troughThreshold;
};

TEST(ExtremeDetectorTest, CandidatesAndDecayingThresholds) {
  const ExtremeCase cases[] = {
      {"flat top is no candidate", {0, 1, 1, 0, 0}, 0, 0, 0, 0, 0},
      {"negative local maximum ignored", {-1, -1, -0.5f, -1, -1}, 0, 0, 0, 0, 0},
      {"positive local minimum ignored", {1, 2, 2, 0.5f, 2, 2}, 0, 0, 0, 0, 0},
      // 1.0 accepted; 0.6 < 0.65 rejected; 0.5 > 0.4225 accepted and becomes the threshold.
      {"peak decay", {0, 1, 0, 0.6f, 0, 0.5f, 0}, 1, 0.5f, 0.5f, 0, 0},
      {"rejected peak keeps the old one", {0, 1, 0, 0.6f, 0}, 1, 1, 0.65f, 0, 0},
      {"trough decay", {0, -1, 0, -0.6f, 0, -0.5f, 0}, -1, 0, 0, -0.5f, -0.5f},
      {"peak then trough", {0, 1, 0, -0.2f, 0}, -1, 1, 1, -0.2f, -0.2f},
  };
  for (const ExtremeCase& c : cases) {
    tExtremeDetector d(false, 0.65f);
    float state = 0;
    for (float x : c.input) state = d.Process(x);
    EXPECT_EQ(state, c.state) << c.what;
    EXPECT_FLOAT_EQ(d.lastPeak, c.lastPeak) << c.what;
    EXPECT_FLOAT_EQ(d.peakThreshold, c.peakThreshold) << c.what;
    EXPECT_FLOAT_EQ(d.lastTrough, c.lastTrough) << c.what;
    EXPECT_FLOAT_EQ(d.troughThreshold, c.troughThreshold) << c.what;
  }
}

TEST(ExtremeDetectorTest, RelativeMeasuresAgainstTheOtherExtreme) {
  tExtremeDetector d(true, 0.65f);
  for (float x : {0.0f, -0.5f, 0.0f, 0.2f, 0.0f}) d.Process(x);
  EXPECT_EQ(d.State, 1);
  EXPECT_FLOAT_EQ(d.peakThreshold, 0.7f);  // 0.2 - (-0.5)
}

// Number of -1 -> +1 flips of the keeper over a signal.
int RisingFlips(tExtremeKeeper& k, const std::vector<float>& x, size_t from = 0) {
  float prev = 0;
  int flips = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const float s = k.Process(x[i]);
    if (i >= from && s > 0 && prev < 0) ++flips;
    prev = s;
  }
  return flips;
}

TEST(ExtremeKeeperTest, OneRisingFlipPerCycleOfAVoice) {
  struct Case { double f0; int fs; };
  for (const Case c : {Case{80, 44100}, Case{150, 44100}, Case{220, 96000}, Case{300, 48000}}) {
    tExtremeKeeper k(c.fs);
    const auto x = signals::SungVowel(c.f0, c.fs, c.fs);  // one second
    const int flips = RisingFlips(k, x, c.fs / 4);
    EXPECT_NEAR(flips, 0.75 * c.f0, 2) << c.f0 << " Hz at " << c.fs;
  }
}

TEST(ExtremeKeeperTest, RecoversFromPoison) {
  for (float poison : kPoisons) {
    tExtremeKeeper k(44100);
    for (int i = 0; i < 50; ++i) k.Process(poison);
    const auto x = signals::HarmonicTone(150, 44100, 44100 + 32768);
    EXPECT_NEAR(RisingFlips(k, x, 32768), 150, 2) << poison;
    EXPECT_TRUE(std::isfinite(k.highPass.y1) && std::isfinite(k.detector.peakThreshold));
  }
}

// Square wave of `period` samples, `high` samples of +1 first.
std::vector<float> Square(int period, int high, int periods) {
  std::vector<float> x;
  for (int p = 0; p < periods; ++p)
    for (int i = 0; i < period; ++i) x.push_back(i < high ? 1.0f : -1.0f);
  return x;
}

TEST(CrossingDetectorTest, SquareWaveEstimatesThroughTheMedian) {
  tCrossingDetector c(44100, 5);
  std::vector<float> accepted;
  for (float x : Square(441, 220, 12))
    if (c.Process(x)) accepted.push_back(c.Frequency);
  ASSERT_GE(accepted.size(), 20u);
  EXPECT_NEAR(accepted[0], 44100.0 / 221, 1e-3);  // counted from the clear
  EXPECT_NEAR(accepted[1], 44100.0 / 442, 1e-3);
  for (size_t i = 2; i < accepted.size(); ++i) EXPECT_FLOAT_EQ(accepted[i], 100.0f) << i;
}

// The first two changes count from the clear and so are short; from the third on every
// count is one full period.
TEST(CrossingDetectorTest, FortyHertzLimitAndCounterRestart) {
  struct Case { int period; bool accepted; };
  for (const Case cs : {Case{1102, true}, Case{1103, false}, Case{2000, false}}) {
    tCrossingDetector c(44100, 0);
    const auto x = Square(cs.period, cs.period / 2, 4);
    int acceptedLater = 0;
    for (size_t i = 0; i < x.size(); ++i) {
      const bool got = c.Process(x[i]);
      if (i > static_cast<size_t>(cs.period)) acceptedLater += got;
    }
    if (cs.accepted) {
      EXPECT_GT(acceptedLater, 0);
      EXPECT_NEAR(c.Frequency, 44100.0 / 1102, 1e-3);
    } else {
      EXPECT_EQ(acceptedLater, 0) << cs.period;
      // each rejected change restarted its count: one 100 Hz period later both counts
      // measure 441 samples again
      c.Process(-1);
      for (float v : Square(441, 220, 2)) c.Process(v);
      EXPECT_FLOAT_EQ(c.Frequency, 100.0f);
    }
  }
}

TEST(CrossingDetectorTest, ZeroCountsAsASignChange) {
  tCrossingDetector c(44100, 0);
  c.Process(-1);
  c.Process(1);  // rising, count 2 -> 22050 Hz
  EXPECT_FLOAT_EQ(c.Frequency, 22050.0f);
  EXPECT_TRUE(c.Process(0));  // falling, from positive to exactly 0
  EXPECT_TRUE(c.Process(-1) == false);
  EXPECT_TRUE(c.Process(0));  // rising: 0 after a negative sample
}

TEST(CrossingDetectorTest, PoisonThenNormalSignalMeasuresRight) {
  for (float poison : kPoisons) {
    tCrossingDetector c(44100, 5);
    for (int i = 0; i < 20; ++i) c.Process(i % 2 ? poison : -poison);
    for (float x : Square(441, 220, 12)) c.Process(x);
    EXPECT_FLOAT_EQ(c.Frequency, 100.0f) << poison;
  }
}

// ---- block forms against the sample-by-sample steps ----

// Inputs for the block scans: each holds what a vector scan could mishandle.
struct ScanInput {
  const char* what;
  std::vector<float> samples;
};

std::vector<ScanInput> ScanInputs() {
  std::vector<ScanInput> inputs;
  std::vector<float> noisy(1500);
  uint32_t seed = 7;
  for (size_t i = 0; i < noisy.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    noisy[i] = static_cast<float>(0.6 * std::sin(2 * kPi * 180.0 * i / 44100.0) +
                                  0.05 * ((seed >> 8) / 16777216.0 - 0.5));
  }
  inputs.push_back({"noisy sine", noisy});
  std::vector<float> poisoned = noisy;
  for (size_t k = 0; k < 5; ++k) poisoned[100 + 257 * k] = kPoisons[k];
  poisoned[900] = 5000.0f;  // clamped to the sample limit: a peak at the clamp
  poisoned[901] = 5000.0f;
  poisoned[1200] = -2000.0f;
  inputs.push_back({"poisoned and out of range", poisoned});
  // plateaus (equal neighbours are no candidates), signed zeros and polarity-like runs
  std::vector<float> steps;
  const float levels[] = {1.0f, 1.0f, -1.0f, 0.0f, -0.0f, 0.0f, 1.0f, 0.5f, 0.5f, 1.0f, -1.0f,
                          0.0f, -1.0f, 0.0f, 1.0f};  // zeros between equal signs: no extremes
  for (int r = 0; r < 120; ++r)
    for (size_t k = 0; k < std::size(levels); ++k)
      steps.insert(steps.end(), static_cast<size_t>(1 + (r * 7 + k * 3) % 13), levels[k]);
  inputs.push_back({"runs of equal samples", steps});
  return inputs;
}

const int32_t kScanBlocks[] = {1, 3, 4, 5, 64, 255, 256, 257, 700};

TEST(ExtremeDetectorTest, BlockFormGivesTheStepsStatesAndFields) {
  for (const ScanInput& input : ScanInputs())
    for (const bool relative : {false, true})
      for (const int32_t block : kScanBlocks) {
        SCOPED_TRACE(testing::Message() << input.what << ", relative " << relative
                                        << ", block " << block);
        tExtremeDetector stepped(relative, 0.65f), blocked(relative, 0.65f);
        const std::vector<float>& x = input.samples;
        std::vector<float> expected(x.size()), got(x.size());
        for (size_t i = 0; i < x.size(); ++i) expected[i] = stepped.Process(x[i]);
        for (size_t s = 0; s < x.size(); s += block)
          blocked.ProcessBlock(x.data() + s, got.data() + s,
                               static_cast<int32_t>(std::min<size_t>(block, x.size() - s)));
        ASSERT_EQ(got, expected);
        EXPECT_EQ(blocked.current, stepped.current);
        EXPECT_EQ(blocked.previous, stepped.previous);
        EXPECT_EQ(blocked.peakThreshold, stepped.peakThreshold);
        EXPECT_EQ(blocked.troughThreshold, stepped.troughThreshold);
        EXPECT_EQ(blocked.lastPeak, stepped.lastPeak);
        EXPECT_EQ(blocked.lastTrough, stepped.lastTrough);
      }
}

TEST(CrossingDetectorTest, BlockFormGivesTheStepsEstimatesAndCounts) {
  for (const ScanInput& input : ScanInputs())
    for (const int32_t startCount : {0, std::numeric_limits<int32_t>::max() - 5})
      for (const int32_t block : kScanBlocks) {
        SCOPED_TRACE(testing::Message() << input.what << ", counts from " << startCount
                                        << ", block " << block);
        tCrossingDetector stepped(44100, 5), blocked(44100, 5);
        for (tCrossingDetector* c : {&stepped, &blocked}) c->risingCount = c->fallingCount = startCount;
        const std::vector<float>& x = input.samples;
        std::vector<float> expected(x.size(), -1.0f), got(x.size(), -1.0f);
        for (size_t i = 0; i < x.size(); ++i)
          if (stepped.Process(x[i])) expected[i] = stepped.Frequency;
        std::vector<float> estimates(x.size());
        for (size_t s = 0; s < x.size(); s += block) {
          const int32_t n = static_cast<int32_t>(std::min<size_t>(block, x.size() - s));
          bool flags[700];
          blocked.ProcessBlock(x.data() + s, n, flags, estimates.data() + s);
          for (int32_t i = 0; i < n; ++i)
            if (flags[i]) got[s + i] = estimates[s + i];
        }
        ASSERT_EQ(got, expected);
        EXPECT_EQ(blocked.risingCount, stepped.risingCount);
        EXPECT_EQ(blocked.fallingCount, stepped.fallingCount);
        EXPECT_EQ(blocked.Frequency, stepped.Frequency);
        EXPECT_EQ(blocked.last, stepped.last);
      }
}

TEST(ZCrossingListTest, BestOfTheLastSixteen) {
  tZCrossingList list;
  EXPECT_EQ(list.Best(), -1);
  for (int i = 0; i < 20; ++i) list.Add(1000 + i, i < 4 ? -100.0f : -0.01f * i);
  EXPECT_EQ(list.Best(), 1019);  // the -100 lobes were overwritten
}

TEST(ZCrossingListTest, TiesGoToTheLowerSlot) {
  struct Case { std::vector<float> areas; int best; };
  const Case cases[] = {
      {{-0.8f, 0.8f}, 0},          // equal magnitudes: slot 0
      {{0.1f, 0.8f, -0.8f}, 1},
      // 17 entries: the last lands in slot 0 and wins the tie over the older slot 5
      {{0, 0, 0, 0, 0, -0.8f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.8f}, 16},
  };
  for (const Case& c : cases) {
    tZCrossingList list;
    for (size_t i = 0; i < c.areas.size(); ++i) list.Add(static_cast<int>(i), c.areas[i]);
    EXPECT_EQ(list.Best(), c.best);
  }
}

// 100 Hz cycles of 441 samples, half a sample out of phase so no sample is exactly 0.
std::vector<float> Cycles(const std::vector<float>& amplitudes) {
  std::vector<float> x;
  for (float a : amplitudes)
    for (int i = 0; i < 441; ++i) x.push_back(a * std::sin(2 * kPi * (i + 0.5) / 441));
  return x;
}

TEST(ZeroCrossingAnalyserTest, NamesTheCrossingAfterTheDeepestLobe) {
  struct Case { std::vector<float> amplitudes; int best; };
  const Case cases[] = {
      {{0.3f, 1.0f, 0.3f, 0.3f, 0.3f}, 2 * 441},
      {{0.3f, 0.3f, 0.3f, 0.9f, 0.3f}, 4 * 441},
  };
  for (const Case& c : cases) {
    tZeroCrossingAnalyser a;
    a.SetSampleRate(44100);
    const auto x = Cycles(c.amplitudes);
    for (size_t i = 0; i < x.size(); ++i) a.Process(static_cast<int>(i), x[i]);
    EXPECT_EQ(a.BestRising(), c.best);
    // lobe areas are negative and of the size of a 0.3 or deeper half sine
    int filed = 0;
    for (int s = 0; s < tZCrossingList::kSlots; ++s) {
      if (a.rising.positions[s] < 0) continue;
      ++filed;
      if (a.rising.positions[s] >= 441) {
        EXPECT_LT(a.rising.areas[s], -0.3 * 441 / kPi * 0.8);
      }
    }
    EXPECT_EQ(filed, static_cast<int>(c.amplitudes.size()));  // the first at position 0
  }
}

TEST(ZeroCrossingAnalyserTest, RawCrossingsAndClears) {
  tZeroCrossingAnalyser a;
  a.SetSampleRate(44100);
  a.Process(0, -1);
  a.Process(1, 0);  // exactly 0 after a negative sample: not a rising crossing
  EXPECT_EQ(a.risingPosition, -1);
  a.Process(2, 1);
  EXPECT_EQ(a.risingPosition, 2);
  a.Process(3, -1);
  EXPECT_EQ(a.fallingPosition, 3);
  a.ClearList(false);
  EXPECT_EQ(a.risingPosition, 2);
  a.ClearList(true);
  EXPECT_EQ(a.risingPosition, -1);
  EXPECT_EQ(a.fallingPosition, -1);
  EXPECT_EQ(a.BestRising(), -1);
}

TEST(ZeroCrossingAnalyserTest, NothingFiledWithoutAFilteredRise) {
  tZeroCrossingAnalyser a;
  a.SetSampleRate(44100);
  for (int i = 0; i < 4000; ++i) a.Process(i, -0.5f);
  EXPECT_EQ(a.BestRising(), -1);
}

TEST(ZeroCrossingAnalyserTest, RecoversFromPoison) {
  for (float poison : kPoisons) {
    tZeroCrossingAnalyser a;
    a.SetSampleRate(44100);
    for (int i = 0; i < 10; ++i) a.Process(i, poison);
    // the clamped poison makes one huge lobe; it leaves the 16-slot list like any other
    std::vector<float> amplitudes(17, 0.3f);
    amplitudes.insert(amplitudes.end(), {1.0f, 0.3f, 0.3f});
    const auto x = Cycles(amplitudes);
    for (size_t i = 0; i < x.size(); ++i) a.Process(static_cast<int>(i), x[i]);
    EXPECT_EQ(a.BestRising(), 18 * 441) << poison;  // after the deep cycle 17
    EXPECT_TRUE(std::isfinite(a.area));
  }
}

}  // namespace
}  // namespace vm
