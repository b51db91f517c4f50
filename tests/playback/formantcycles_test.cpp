// How the formant shifter cuts its input into cycles and primes its heads: the shortest
// accepted cycle, the boundary forced after a stretch without one, the heads playing the
// input as it arrives until the first complete cycle exists, and the switches.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "playback/FormantShifter.h"
#include "signals/Signals.h"

namespace vm {
namespace {
using signals::HarmonicTone;
using signals::SungVowel;

constexpr float kGuard = 1e-18f;  // what the shifter adds to every input sample

struct tBoundary {
  int32_t position;  // ring position of the boundary
  size_t addedAt;    // input sample on which it was added
  int32_t candidateAfter;  // the analyser's best rising crossing right after that sample
};

struct tRun {
  std::vector<tBoundary> boundaries;
  std::vector<float> half, unison, doubled;  // the three outputs, one per input sample
};

// Feeds `input` and notes every boundary at the sample on which it was added.
tRun Feed(tFormantShifter& shifter, const std::vector<float>& input) {
  tRun run;
  for (size_t n = 0; n < input.size(); ++n) {
    const int32_t slot = shifter.CyclePoints.Next;
    shifter.Process(input[n]);
    if (shifter.CyclePoints.Next != slot)
      run.boundaries.push_back({shifter.CyclePoints.CycleEnd(), n, shifter.Analyser.BestRising()});
    run.half.push_back(shifter.HalfOut);
    run.unison.push_back(shifter.UnisonOut);
    run.doubled.push_back(shifter.DoubleOut);
  }
  return run;
}

// Forward ring distance between consecutive boundaries, from the `skip`-th on.
std::vector<int32_t> Spacings(const tRun& run, int32_t ringLength, size_t skip) {
  std::vector<int32_t> spacing;
  for (size_t i = skip + 1; i < run.boundaries.size(); ++i) {
    int32_t d = run.boundaries[i].position - run.boundaries[i - 1].position;
    spacing.push_back(d <= 0 ? d + ringLength : d);
  }
  return spacing;
}

// A sine of a whole number of samples per period, sampled half a sample off its zero
// crossings so that rounding never moves a crossing by a sample.
std::vector<float> Sine(int periodSamples, size_t samples) {
  std::vector<float> x(samples);
  for (size_t n = 0; n < samples; ++n)
    x[n] = static_cast<float>(0.5 * std::sin(2.0 * signals::kPi * (n + 0.5) / periodSamples));
  return x;
}

// A sine whose period is an exact number of samples: each cycle offers one rising
// crossing, so the cycles the shifter accepts show what MinCycle rejects.
TEST(FormantShifterCycles, CyclesOfMinCycleSamplesOrFewerAreSkipped) {
  const struct {
    int rate;
    int periodSamples;
    int acceptedSpacing;  // the shortest whole number of periods above MinCycle
  } cases[] = {
      {44100, 200, 200}, {44100, 46, 46}, {44100, 45, 45},
      {44100, 44, 88},   // exactly MinCycle (44): rejected, the next crossing is taken
      {44100, 40, 80},   {44100, 30, 60},
      {96000, 97, 97},   {96000, 96, 192}, {96000, 60, 120},
  };
  for (const auto& c : cases) {
    auto shifter = std::make_unique<tFormantShifter>(c.rate);
    const tRun run = Feed(*shifter, Sine(c.periodSamples, c.rate / 4));
    const std::vector<int32_t> spacing = Spacings(run, shifter->RingLength, 4);
    ASSERT_GT(spacing.size(), 20u) << c.rate << " Hz, period " << c.periodSamples;
    for (int32_t d : spacing)
      ASSERT_EQ(d, c.acceptedSpacing) << c.rate << " Hz, period " << c.periodSamples;
  }
}

// After a vowel, a tail that offers no rising zero crossing: silence, or a tone lifted
// above zero whose peak polarity still flips every cycle. Boundaries then come only
// Timeout samples after the sample on which the previous one was added, at the write
// position itself, and keep coming across the ring's wrap.
TEST(FormantShifterCycles, WithoutCrossingsABoundaryIsForcedEveryTimeout) {
  const struct {
    int rate;
    double tailOffset;  // DC added to the tail tone; 0 with amplitude 0 is silence
    double tailPeak;
  } cases[] = {{44100, 0.0, 0.0}, {44100, 0.6, 0.3}, {96000, 0.0, 0.0}, {96000, 0.6, 0.3}};
  for (const auto& c : cases) {
    auto shifter = std::make_unique<tFormantShifter>(c.rate);
    std::vector<float> input = SungVowel(150.0, c.rate, c.rate * 3 / 10);
    const size_t tailStart = input.size();
    const std::vector<float> tail =
        HarmonicTone(150.0, c.rate, static_cast<size_t>(shifter->RingLength) * 3 / 2, 1.0, 1);
    for (float v : tail) input.push_back(static_cast<float>(c.tailOffset + c.tailPeak * v));
    const tRun run = Feed(*shifter, input);

    // Judge the tail after its first 0.1 s, where the filters have settled.
    const size_t settled = tailStart + c.rate / 10;
    size_t checked = 0;
    for (size_t i = 1; i < run.boundaries.size(); ++i) {
      const tBoundary& b = run.boundaries[i];
      if (run.boundaries[i - 1].addedAt < settled) continue;
      EXPECT_EQ(b.addedAt - run.boundaries[i - 1].addedAt, size_t(shifter->Timeout))
          << c.rate << " Hz, tail offset " << c.tailOffset << ", boundary " << i;
      EXPECT_EQ(b.position, static_cast<int32_t>(b.addedAt) & shifter->Mask);
      EXPECT_EQ(b.candidateAfter, -1) << "a forced boundary clears the analyser";
      ++checked;
    }
    // The tail is one and a half rings long: enough forced boundaries to cross the wrap.
    EXPECT_GE(checked, size_t(shifter->RingLength) * 5 / 4 / size_t(shifter->Timeout))
        << c.rate << " Hz, tail offset " << c.tailOffset;

  }
}

// Until a complete cycle exists each head plays its ring from position 0 as it is written,
// so the output is the input itself; on the second boundary every head jumps back to the
// start of that first cycle.
TEST(FormantShifterCycles, HeadsPlayTheInputUntilTheFirstCycleThenReplayIt) {
  for (int rate : {44100, 96000}) {
    const std::vector<float> vowel = SungVowel(150.0, rate, rate / 4);
    auto shifter = std::make_unique<tFormantShifter>(rate);  // creation settings: no shift
    const tRun run = Feed(*shifter, vowel);
    ASSERT_GE(run.boundaries.size(), 3u) << rate;
    const tBoundary first = run.boundaries[0], second = run.boundaries[1];
    for (size_t n = 0; n < second.addedAt; ++n) {
      ASSERT_EQ(run.half[n], vowel[n] + kGuard) << rate << " Hz, sample " << n;
      ASSERT_EQ(run.unison[n], vowel[n] + kGuard) << rate << " Hz, sample " << n;
      ASSERT_EQ(run.doubled[n], vowel[n] + kGuard) << rate << " Hz, sample " << n;
    }
    // From the second boundary on, the heads replay the first cycle from its start.
    const size_t length = static_cast<size_t>(second.position - first.position);
    ASSERT_GT(length, size_t(shifter->MinCycle)) << rate;
    for (size_t k = 0; k < length && second.addedAt + k < run.boundaries[2].addedAt; ++k) {
      const float expected = vowel[first.position + k];
      ASSERT_NEAR(run.unison[second.addedAt + k], expected, 0.02) << rate << " Hz, k " << k;
      ASSERT_NEAR(run.half[second.addedAt + k], expected, 0.02) << rate << " Hz, k " << k;
      ASSERT_NEAR(run.doubled[second.addedAt + k], expected, 0.02) << rate << " Hz, k " << k;
    }
    // Replaying the cycle is audibly not the same as going on with the input.
    double apart = 0;
    for (size_t k = 0; k < length; ++k)
      apart = std::max(apart, std::fabs(double(vowel[second.addedAt + k]) - vowel[first.position + k]));
    EXPECT_GT(apart, 0.1) << rate;
  }
}

// A switch that is off keeps its head from moving and its ring from being rewritten; the
// boundaries are still found and every head is still primed.
TEST(FormantShifterCycles, SwitchedOffHeadsStayPutButArePrimed) {
  const struct { bool half, unison, doubled; } cases[] = {
      {false, false, false}, {true, false, true}, {false, true, false}};
  const std::vector<float> vowel = SungVowel(150.0, 44100, 22050);
  for (const auto& c : cases) {
    auto shifter = std::make_unique<tFormantShifter>(44100);
    shifter->SetHalfHead(1.7f, 0.8f, 8000.0f, 0.05f, 0.8f);
    shifter->SetUnisonHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
    shifter->SetDoubleHead(0.6f, 1.5f, 8000.0f, 0.05f, 0.8f);
    shifter->HalfOn = c.half;
    shifter->UnisonOn = c.unison;
    shifter->DoubleOn = c.doubled;
    const tRun run = Feed(*shifter, vowel);
    EXPECT_GE(run.boundaries.size(), 10u);
    const struct {
      bool on;
      const tFormantShiftedPlaybackHead& head;
      const std::vector<float>& ring;
      const std::vector<float>& out;
      const char* name;
    } heads[] = {{c.half, shifter->HalfHead, shifter->HalfRing, run.half, "half"},
                 {c.unison, shifter->UnisonHead, shifter->UnisonRing, run.unison, "unison"},
                 {c.doubled, shifter->DoubleHead, shifter->DoubleRing, run.doubled, "double"}};
    for (const auto& h : heads) {
      EXPECT_TRUE(h.head.Active) << h.name;
      size_t rewritten = 0;  // ring samples that differ from the input written there
      for (size_t n = 0; n < vowel.size(); ++n) rewritten += h.ring[n] != vowel[n] + kGuard;
      if (h.on) {
        EXPECT_GT(rewritten, vowel.size() / 2) << h.name;
        EXPECT_NE(h.head.ReadPos, 0) << h.name;
      } else {
        EXPECT_EQ(rewritten, 0u) << h.name;
        EXPECT_EQ(h.head.ReadPos, h.head.CycleStart) << h.name << ": it never moved";
        for (float v : h.out) ASSERT_EQ(v, 0.0f) << h.name << ": keeps its last output";
      }
    }
  }
}

// A head switched on again resumes the stale cycle where it stopped, plays it to its end
// and then falls into step with the newest cycle.
TEST(FormantShifterCycles, AHeadSwitchedOnAgainResumesWhereItStopped) {
  const std::vector<float> vowel = SungVowel(150.0, 44100, 44100);
  auto shifter = std::make_unique<tFormantShifter>(44100);
  shifter->UnisonOn = false;
  const std::vector<float> first(vowel.begin(), vowel.begin() + 11025);
  Feed(*shifter, first);
  const tFormantShiftedPlaybackHead& head = shifter->UnisonHead;
  const int32_t staleStart = head.CycleStart, staleLength = head.CycleLength;
  ASSERT_TRUE(head.Active);
  ASSERT_LT(staleStart + staleLength, shifter->CyclePoints.CycleStart()) << "the cycle is stale";

  shifter->UnisonOn = true;
  for (int32_t k = 0; k < staleLength; ++k) {
    shifter->Process(vowel[11025 + k]);
    ASSERT_EQ(shifter->UnisonOut, vowel[staleStart + k] + kGuard) << "sample " << k << " of the stale cycle";
  }
  // At the stale cycle's end the head takes the newest cycle.
  EXPECT_EQ(head.CycleStart, shifter->CyclePoints.CycleStart());
  EXPECT_EQ(head.CycleEnd, shifter->CyclePoints.CycleEnd());
  EXPECT_EQ(head.ReadPos, head.CycleStart);
}

}  // namespace
}  // namespace vm
