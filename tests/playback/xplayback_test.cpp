#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "playback/XPlayback.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRing = 32768;

TEST(CyclePointsTest, ReadyAfterTheSecondAddAndNewestTwoBoundTheCycle) {
  tCircBuffCyclePoints p;
  EXPECT_FALSE(p.HasPoint());
  p.Add(10);
  EXPECT_TRUE(p.HasPoint());
  EXPECT_FALSE(p.Ready);
  for (int pos : {20, 30, 40, 50}) {
    p.Add(pos);
    EXPECT_TRUE(p.Ready && p.HasPoint());
  }
  EXPECT_EQ(p.CycleStart(), 40);
  EXPECT_EQ(p.CycleEnd(), 50);
  p.Reset();
  EXPECT_FALSE(p.HasPoint() || p.Ready);
}

TEST(CyclePointsTest, DistanceFromLastWrapsForward) {
  struct Case { int newest, position, distance; };
  for (const Case c : {Case{32760, 5, 13}, Case{3, 5, 2}, Case{5, 5, 0}, Case{6, 5, 32767}}) {
    tCircBuffCyclePoints p;
    p.Add(c.newest);
    EXPECT_EQ(p.DistanceFromLast(c.position, kRing), c.distance) << c.newest;
  }
}

TEST(PlaybackHeadTest, CycleLengthsAndCrossfades) {
  struct Case { int start, end; bool xfade; int prevEnd; int length, xfadeLen, xfadePos; };
  const Case cases[] = {
      {32760, 100, true, 0, 108, 55, 0},     // wraps the ring
      {200, 200, true, 0, kRing, 55, 0},     // start = end: a whole ring
      {100, 130, true, 0, 30, 30, 0},        // shorter than the longest crossfade
      {100, 130, true, 100, 30, 30, 55},     // follows straight on: no blend
      {100, 300, false, 0, 200, 0, 0},       // crossfades off
  };
  std::vector<float> ring(kRing);
  for (const Case& c : cases) {
    tPlaybackHead h(c.xfade);
    h.Setup(kRing, 55, ring.data(), c.xfade);
    h.CycleEnd = c.prevEnd;
    tCircBuffCyclePoints p;
    p.Add(c.start);
    p.Add(c.end);
    h.NextCycle(p);
    EXPECT_EQ(h.CycleLength, c.length) << c.start;
    EXPECT_EQ(h.XfadeLen, c.xfadeLen) << c.start;
    EXPECT_EQ(h.XfadePos, c.xfadePos) << c.start;
    EXPECT_EQ(h.PrevEnd, c.prevEnd);
    EXPECT_EQ(h.ReadPos, c.start);
    EXPECT_TRUE(h.Active);
  }
}

TEST(PlaybackHeadTest, RestartKeepsTheCycleAndResetKeepsTheRing) {
  std::vector<float> ring(kRing);
  tPlaybackHead h(true);
  h.Setup(kRing, 55, ring.data(), true);
  tCircBuffCyclePoints p;
  p.Add(100);
  p.Add(180);
  h.NextCycle(p);
  h.Count = 1;
  h.RestartAt(101, true);
  EXPECT_EQ(h.ReadPos, 101);
  EXPECT_EQ(h.PrevEnd, 180);
  EXPECT_EQ(h.XfadePos, 0);
  EXPECT_EQ(h.XfadeLen, 55);
  EXPECT_EQ(h.Count, 1);
  EXPECT_TRUE(h.Muted);
  h.NextCycle(p);
  EXPECT_TRUE(h.Muted);  // until the next restart or reset
  h.Reset();
  EXPECT_FALSE(h.Active || h.Muted);
  EXPECT_EQ(h.Buffer, ring.data());
  EXPECT_EQ(h.RingLength, kRing);
  EXPECT_EQ(h.XfadeMax, 55);
  EXPECT_TRUE(h.XfadeEnabled);
}

// ---- RMS silence detector ----

TEST(RMSSilenceTest, ConstantLevels) {
  struct Case { float c; bool silent; };
  for (const Case cs : {Case{0.002f, true}, Case{0.004f, false}, Case{0.0f, true}}) {
    tRMSSilenceDetector d(128);
    bool edge = false;
    for (int i = 0; i < 1000; ++i) {
      d.Process(cs.c);
      edge |= d.BecameSilent;
    }
    EXPECT_NEAR(d.RMS, cs.c, 1e-6);
    EXPECT_EQ(d.Silent, cs.silent);
    EXPECT_FALSE(edge);  // never loud before, so no silence edge
  }
}

TEST(RMSSilenceTest, EdgeOnTheFirstQuietSampleOnly) {
  tRMSSilenceDetector d(128);
  for (int i = 0; i < 1000; ++i) d.Process(0.1f * std::sin(i * 0.05f));
  ASSERT_FALSE(d.Silent);
  int edges = 0, firstSilent = -1;
  for (int i = 0; i < 500; ++i) {
    const float before = d.RMS;
    d.Process(0.0f);
    if (d.BecameSilent) {
      ++edges;
      EXPECT_EQ(firstSilent, -1);
      EXPECT_GE(before, 0.003f);
      firstSilent = i;
    }
    EXPECT_EQ(d.Silent, d.RMS < 0.003f);
  }
  EXPECT_EQ(edges, 1);
  EXPECT_LE(firstSilent, 128);
  d.Process(0.5f);  // rearmed by one loud sample
  d.Reset();
  for (int i = 0; i < 300; ++i) {
    d.Process(0.0f);
    EXPECT_FALSE(d.BecameSilent);  // a reset forgets the loud stretch
  }
}

// An hour of singing at 44.1 kHz (noise bursts of 0.1 s, loud and soft in turn, the
// pattern that makes add-and-subtract residue pile up in a float32 sum) must not leave a
// residue in the running sum: silence afterwards is still reported within one window.
TEST(RMSSilenceTest, NoDriftOverAnHour) {
  constexpr long kHour = 44100L * 3600;
  constexpr long kBurst = 4410;  // samples
  tRMSSilenceDetector d(128);
  uint32_t seed = 1;
  for (long i = 0; i < kHour; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float u = static_cast<float>(seed >> 8) / 16777216.0f;  // 0..1
    d.Process((i / kBurst) % 2 ? 0.9f * u : 0.01f * u);
  }
  ASSERT_FALSE(d.Silent);
  int samples = 0;
  while (!d.Silent && samples < 100000) {
    d.Process(0.0f);
    ++samples;
  }
  EXPECT_LE(samples, 128 + 2);
  EXPECT_GE(samples, 64);
  EXPECT_LT(std::fabs(d.Sum), 1e-7f);  // at most one window of rounding residue
}

TEST(RMSSilenceTest, PoisonLeavesTheWindow) {
  for (float poison : {std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), 1e30f}) {
    tRMSSilenceDetector d(128);
    for (int i = 0; i < 10; ++i) d.Process(poison);
    for (int i = 0; i < 256; ++i) d.Process(0.0f);
    EXPECT_TRUE(d.Silent) << poison;
    EXPECT_TRUE(std::isfinite(d.RMS));
  }
}

// The block form gives each sample the verdict of Process and ends with the same fields.
// Levels within a few millionths of the threshold, in short windows, put the mean square
// on both sides of the boundary to the last bit many times over.
TEST(RMSSilenceTest, BlockVerdictsMatchSampleBySampleAtTheThreshold) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> spread(-4e-6f, 4e-6f);
  std::vector<float> input(100000);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = tRMSSilenceDetector::kThreshold * (1.0f + spread(random)) * (i % 3 ? 1.0f : -1.0f);
  for (size_t i = 40000; i < 40100; ++i) input[i] = 0.0f;  // a real fall into silence
  for (const int32_t window : {2, 4, 64}) {
    tRMSSilenceDetector single(window), block(window);
    std::vector<uint8_t> expected(input.size()), verdicts(input.size());
    int silentCount = 0;
    for (size_t i = 0; i < input.size(); ++i) {
      single.Process(input[i]);
      expected[i] = static_cast<uint8_t>((single.Silent ? tRMSSilenceDetector::kSilentBit : 0) |
                                         (single.BecameSilent ? tRMSSilenceDetector::kBecameSilentBit : 0));
      silentCount += single.Silent;
    }
    ASSERT_GT(silentCount, 1000) << window;  // both verdicts occur often
    ASSERT_LT(silentCount, static_cast<int>(input.size()) - 1000) << window;
    for (size_t i = 0, n = 1; i < input.size(); i += n, n = n % 97 + 1) {
      n = std::min(n, input.size() - i);
      block.ProcessBlock(input.data() + i, static_cast<int32_t>(n), verdicts.data() + i);
    }
    EXPECT_EQ(verdicts, expected) << window;
    EXPECT_EQ(block.RMS, single.RMS) << window;
    EXPECT_EQ(block.Sum, single.Sum) << window;
    EXPECT_EQ(block.Silent, single.Silent) << window;
    EXPECT_EQ(block.WasLoud, single.WasLoud) << window;
  }
}

// Once per window the running sum is replaced by the window's entries added in double, in
// index order. Checked at every wrap that a segment ends on, with the sample form and the
// block form taking turns, on levels spread over six decades (where the order of the
// additions shows in the bits).
TEST(RMSSilenceTest, SumRebuiltFromTheWholeWindowAtEachWrap) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> input(20000);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = std::pow(10.0f, -6.0f * unit(random)) * (i % 2 ? 0.9f : -0.9f);
  for (const int32_t window : {2, 64, 128}) {
    tRMSSilenceDetector d(window);
    std::vector<uint8_t> verdicts(128);
    int wraps = 0;
    for (size_t i = 0, step = 1, n = 0, turn = 0; i < input.size(); i += n, ++turn) {
      // every third segment runs up to the next wrap, the others 1 to 97 samples
      step = step % 97 + 1;
      n = turn % 3 == 2 ? static_cast<size_t>(window - d.WritePos) : step;
      n = std::min({n, input.size() - i, verdicts.size()});
      if (turn % 2) {
        for (size_t k = i; k < i + n; ++k) d.Process(input[k]);
      } else {
        d.ProcessBlock(input.data() + i, static_cast<int32_t>(n), verdicts.data());
      }
      if (d.WritePos != 0) continue;
      double exact = 0.0;
      for (int32_t k = 0; k < window; ++k) exact += d.Window[k];
      ASSERT_EQ(d.Sum, static_cast<float>(exact)) << window << " at " << i + n;
      ++wraps;
    }
    EXPECT_GT(wraps, 20) << window;
  }
}

// ---- Octaver ----

TEST(OctaverTest, DerivedLengths) {
  struct Case { int fs, ring, xfade, rms, fade, timeout; };
  const Case cases[] = {
      {22050, 32768, 28, 64, 220, 588},  // fade: 220.5 rounds to even
      {44100, 32768, 55, 128, 441, 1176},
      {48000, 32768, 60, 128, 480, 1280},
      {96000, 65536, 120, 256, 960, 2560},
      {192000, 131072, 240, 512, 1920, 5120},
  };
  for (const Case& c : cases) {
    tOctaver o(c.fs, true, true);
    EXPECT_EQ(o.RingLength, c.ring) << c.fs;
    EXPECT_EQ(o.Mask, c.ring - 1);
    EXPECT_EQ(static_cast<int>(o.HalfRing.size()), c.ring);
    EXPECT_EQ(o.HalfHead->XfadeMax, c.xfade) << c.fs;
    EXPECT_EQ(o.RMSWindow, c.rms) << c.fs;
    EXPECT_EQ(o.Silence.Length, c.rms);
    EXPECT_EQ(o.FadeLen, c.fade) << c.fs;
    EXPECT_EQ(o.Timeout, c.timeout) << c.fs;
    EXPECT_EQ(o.Gain, 0.0f);
  }
}

TEST(OctaverTest, SameRateKeepsTheRingsNewRateRebuildsThem) {
  tOctaver o(44100, true, false);
  for (int i = 0; i < 100; ++i) o.Process(0.5f);
  const float* ring = o.HalfRing.data();
  o.SetSampleRate(44100);
  EXPECT_EQ(o.HalfRing.data(), ring);
  EXPECT_EQ(o.WritePos, 100);  // signal state kept
  EXPECT_EQ(o.Period, 0);
  EXPECT_EQ(o.Countdown, -1);
  o.SetSampleRate(96000);
  EXPECT_EQ(o.RingLength, 65536);
  EXPECT_EQ(o.HalfHead->Buffer, o.HalfRing.data());
  EXPECT_EQ(o.WritePos, 0);
}

TEST(OctaverTest, FirstSampleIsABoundary) {
  tOctaver o(44100, true, true);
  o.Process(0.0f);
  EXPECT_TRUE(o.CyclePoints.HasPoint());
  EXPECT_EQ(o.CyclePoints.CycleEnd(), 0);
  EXPECT_EQ(o.ForcedPos, 1176);
}

// A boundary candidate within 2 samples of the newest boundary is dropped.
TEST(OctaverTest, BoundaryGap) {
  struct Case { int forcedAt; bool added; };
  for (const Case c : {Case{1, false}, Case{2, false}, Case{3, true}}) {
    tOctaver o(44100, true, true);
    o.Process(0.0f);  // boundary at 0
    o.ForcedPos = c.forcedAt;
    for (int i = 1; i <= c.forcedAt; ++i) o.Process(0.0f);
    EXPECT_EQ(o.CyclePoints.Ready, c.added) << c.forcedAt;
  }
}

TEST(OctaverTest, PeriodicBoundariesOncePeriodIsKnown) {
  tOctaver o(44100, true, true);
  const auto x = signals::HarmonicTone(100, 44100, 44100);  // 441-sample period
  std::vector<int> boundaries;
  int newest = -1;
  for (size_t i = 0; i < x.size(); ++i) {
    o.Process(x[i]);
    if (o.CyclePoints.CycleEnd() != newest) boundaries.push_back(newest = o.CyclePoints.CycleEnd());
  }
  EXPECT_EQ(o.Period, 441);
  ASSERT_GT(boundaries.size(), 60u);
  for (size_t i = boundaries.size() - 50; i < boundaries.size(); ++i)
    EXPECT_EQ((boundaries[i] - boundaries[i - 1] + kRing) % kRing, 441) << i;
}

// Read positions of the heads on a hand-made cycle: each ring sample twice at half
// speed; two passes at double speed, the second from CycleStart + 1 after an overshoot.
TEST(OctaverTest, HalfSpeedRepeatsAndDoubleSpeedRestart) {
  struct Case { int start, end; std::vector<int> half, dbl; };
  const Case cases[] = {
      {100, 105, {100, 101, 101, 102, 102, 103}, {102, 104, 101, 103, 100, 102}},
      {100, 106, {100, 101, 101, 102, 102, 103}, {102, 104, 100, 102, 104, 100}},
      {100, 103, {100, 101, 101, 102, 102, 100}, {102, 101, 100, 102, 101, 100}},
  };
  for (const Case& c : cases) {
    tOctaver o(44100, true, true);
    o.Process(0.0f);  // boundary at 0; the next one is forced 1176 samples later
    o.CyclePoints.Add(c.start);
    o.CyclePoints.Add(c.end);
    std::vector<int> half, dbl;
    for (size_t i = 0; i < c.half.size(); ++i) {
      o.Process(0.0f);
      half.push_back(o.HalfHead->ReadPos);
      dbl.push_back(o.DoubleHead->ReadPos);
    }
    EXPECT_EQ(half, c.half) << c.end;
    EXPECT_EQ(dbl, c.dbl) << c.end;
  }
}

TEST(OctaverTest, SecondPassInSilenceIsMuted) {
  tOctaver o(44100, false, true);
  o.Process(0.0f);
  o.CyclePoints.Add(100);
  o.CyclePoints.Add(104);
  o.Process(0.0f);
  o.Process(0.0f);  // 104 = CycleEnd: second pass, input silent
  ASSERT_EQ(o.DoubleHead->Count, 1);
  EXPECT_TRUE(o.DoubleHead->Muted);
}

TEST(OctaverTest, HeadsStepBeforeTheSecondBoundary) {
  tOctaver o(44100, true, true);
  for (int i = 1; i <= 9; ++i) {
    o.Process(0.0f);
    ASSERT_FALSE(o.HalfHead->Active);
    EXPECT_EQ(o.HalfHead->ReadPos, i / 2);
    EXPECT_EQ(o.DoubleHead->ReadPos, 2 * i);
  }
}

TEST(OctaverTest, OnePathOnly) {
  tOctaver half(44100, true, false), dbl(44100, false, true);
  EXPECT_TRUE(half.DoubleRing.empty() && !half.DoubleHead && !half.DoubleFilter);
  EXPECT_TRUE(dbl.HalfRing.empty() && !dbl.HalfHead && !dbl.HalfFilter);
  const auto x = signals::HarmonicTone(200, 44100, 4410);
  for (float v : x) {
    half.Process(v);
    dbl.Process(v);
    ASSERT_EQ(half.DoubleOut, 0.0f);
    ASSERT_EQ(dbl.HalfOut, 0.0f);
  }
}

// The voice stops: the gain falls by 1/FadeLen per silent sample and both outputs reach 0
// after FadeLen samples; the first loud sample restores full gain.
TEST(OctaverTest, FadeOutAndImmediateReturn) {
  for (int fs : {44100, 96000}) {
    tOctaver o(fs, true, true);
    for (float v : signals::SungVowel(200, fs, fs / 2)) o.Process(v);
    ASSERT_EQ(o.Gain, 1.0f);
    int silentFor = 0;
    for (int i = 0; i < 4 * o.FadeLen; ++i) {
      o.Process(0.0f);
      if (!o.Silence.Silent) continue;
      ++silentFor;
      EXPECT_NEAR(o.Gain, std::max(0.0, 1.0 - double(silentFor) / o.FadeLen), 1e-4);
      if (silentFor >= o.FadeLen) {
        EXPECT_LT(std::fabs(o.DoubleOut), 1e-6f);
        if (silentFor > o.FadeLen + 8) {
          EXPECT_LT(std::fabs(o.HalfOut), 1e-5f);  // after the output filter's tail
        }
      }
    }
    ASSERT_GT(silentFor, o.FadeLen + 8);
    const auto again = signals::SungVowel(200, fs, fs / 2);
    std::vector<float> half, dbl;
    int loudAt = -1;
    for (float v : again) {
      o.Process(v);
      if (loudAt < 0 && !o.Silence.Silent) {
        loudAt = static_cast<int>(half.size());
        EXPECT_EQ(o.Gain, 1.0f) << fs;  // no fade-in
      }
      half.push_back(o.HalfOut);
      dbl.push_back(o.DoubleOut);
    }
    EXPECT_GE(loudAt, 0);
    EXPECT_LT(loudAt, fs / 1000);
    const double in = signals::RmsDb(again, 0, again.size());
    EXPECT_NEAR(signals::RmsDb(half, fs / 100, fs / 20), in, 6) << fs;
    EXPECT_NEAR(signals::RmsDb(dbl, fs / 100, fs / 20), in, 6) << fs;
  }
}

struct OctaverRun {
  std::vector<float> input, half, dbl;
};

OctaverRun Octave(const std::vector<float>& x, int fs) {
  tOctaver o(fs, true, true);
  OctaverRun r{x, {}, {}};
  for (float v : x) {
    o.Process(v);
    r.half.push_back(o.HalfOut);
    r.dbl.push_back(o.DoubleOut);
  }
  return r;
}

// Pitch of y near its end, searched from expected / 1.5 to 2.2 x expected so that an
// untransposed or wrongly transposed signal would measure elsewhere.
double PitchNearEnd(const std::vector<float>& y, int fs, double expectedHz) {
  const double minHz = expectedHz / 1.5, maxHz = expectedHz * 2.2;
  const size_t maxLag = static_cast<size_t>(fs / minHz) + 2;
  const size_t window = 3 * maxLag;
  return signals::EstimatePitchHz(y, y.size() - window - maxLag - 2, window, fs, minHz, maxHz);
}

TEST(OctaverTest, VowelsAndTonesAnOctaveDownAndUp) {
  for (int fs : {44100, 96000}) {
    for (double f0 : {80.0, 150.0, 300.0, 600.0}) {
      for (int kind = 0; kind < 2; ++kind) {
        const size_t n = static_cast<size_t>(fs * 0.6);
        const auto x = kind == 0 ? signals::SungVowel(f0, fs, n) : signals::HarmonicTone(f0, fs, n);
        const OctaverRun r = Octave(x, fs);
        const std::string what = std::string(kind == 0 ? "vowel " : "tone ") +
                                 std::to_string(int(f0)) + " Hz at " + std::to_string(fs);
        ASSERT_EQ(r.half.size(), x.size());
        EXPECT_NEAR(PitchNearEnd(r.half, fs, f0 / 2), f0 / 2, 0.02 * f0 / 2) << what;
        EXPECT_NEAR(PitchNearEnd(r.dbl, fs, f0 * 2), f0 * 2, 0.02 * f0 * 2) << what;
        const double in = signals::RmsDb(x, n / 3, n);
        EXPECT_NEAR(signals::RmsDb(r.half, n / 3, n), in, 3) << what;
        EXPECT_NEAR(signals::RmsDb(r.dbl, n / 3, n), in, 3) << what;
        // sounding right up to the end: the duration is the input's
        EXPECT_NEAR(signals::RmsDb(r.half, n - n / 10, n), in, 4) << what;
      }
    }
  }
}

TEST(OctaverTest, RecoversFromPoison) {
  const float poisons[] = {std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), 1e30f};
  for (float poison : poisons) {
    tOctaver o(44100, true, true);
    for (int i = 0; i < 200; ++i) o.Process(i % 3 ? poison : 0.2f);
    const auto x = signals::SungVowel(150, 44100, 32768 + 22050);
    std::vector<float> half, dbl;
    for (float v : x) {
      o.Process(v);
      ASSERT_TRUE(std::isfinite(o.HalfOut) && std::isfinite(o.DoubleOut)) << poison;
      half.push_back(o.HalfOut);
      dbl.push_back(o.DoubleOut);
    }
    EXPECT_NEAR(PitchNearEnd(half, 44100, 75), 75, 1.5) << poison;
    EXPECT_NEAR(PitchNearEnd(dbl, 44100, 300), 300, 6) << poison;
  }
}

}  // namespace
}  // namespace vm
