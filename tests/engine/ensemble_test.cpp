// The ensemble as a signal processor: impulse responses against hand-computed taps, the
// dry path, accumulate versus replace, and the guards against bad hosts.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "EngineFixture.h"
#include "analysis/Random.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <xmmintrin.h>
#define VM_TEST_MXCSR 1
#endif

namespace vm {
namespace {

using test::Impulse;
using test::MakeStatic;
using test::Render;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct tTap {
  int delay;  // samples
  float q;    // share of the first output
};

struct tImpulseCase {
  int clones;
  std::vector<tTap> taps;
};

// Timing 0.5, order A, Focus 1, Balance 0.5, Mix 1, Gain 0.5 (unity), UnisonLevel 0.5
// (unity). Delays: round((441 - 44.1) * 15.5 * entry / 1000 + 44.1) for the timing-table
// entries 0, 1000 and 477; every speed is 0.65, so p = 0.65 and q = 1 - p, except odd
// voices from three voices on, which take p.
class ImpulseResponse : public testing::TestWithParam<tImpulseCase> {};

TEST_P(ImpulseResponse, EachVoiceIsOneTapWithItsStereoGains) {
  const tImpulseCase c = GetParam();
  tVoicemultiply effect(nullptr);
  MakeStatic(effect);
  effect.setParameter(kClones, (c.clones - 1) / 31.0f);
  const auto out = Render(effect, Impulse(8192));

  std::vector<double> left(8192, 0.0), right(8192, 0.0);
  const double norm = 1.078 / std::sqrt(c.clones);
  for (const tTap& tap : c.taps) {
    left[tap.delay] += norm * tap.q;
    right[tap.delay] += norm * (1 - tap.q);
  }
  for (size_t n = 0; n < left.size(); ++n) {
    ASSERT_NEAR(out.left[n], left[n], 1e-5) << "left sample " << n;
    ASSERT_NEAR(out.right[n], right[n], 1e-5) << "right sample " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    HandComputed, ImpulseResponse,
    testing::Values(tImpulseCase{1, {{44, 0.35f}}},
                    tImpulseCase{2, {{44, 0.35f}, {6196, 0.35f}}},
                    tImpulseCase{3, {{44, 0.35f}, {6196, 0.65f}, {2979, 0.35f}}}));

TEST(DryPath, MixZeroGivesTheDelayedDrySignalAtItsPlace) {
  const struct {
    float focus, balance, dryDelay;
    int delaySamples;
    float gainA, gainB;
  } cases[] = {
      {1.0f, 0.5f, 0.0f, 0, 0.65f, 0.65f},
      {1.0f, 0.5f, 1.0f, 11025, 0.65f, 0.65f},  // a quarter second at 44.1 kHz
      {0.0f, 0.0f, 0.5f, 5512, 1.3f, 0.0f},     // everything at 1 - Balance: first output
      {0.0f, 1.0f, 0.0f, 0, 0.0f, 1.3f},
  };
  for (const auto& c : cases) {
    tVoicemultiply effect(nullptr);
    effect.setParameter(kMix, 0.0f);
    effect.setParameter(kFocus, c.focus);
    effect.setParameter(kBalance, c.balance);
    effect.setParameter(kDryDelay, c.dryDelay);
    test::Apply(effect);
    EXPECT_EQ(effect.DryDelaySamples(), c.delaySamples);
    const auto out = Render(effect, Impulse(12000));
    EXPECT_NEAR(out.left[c.delaySamples], c.gainA, 1e-5);
    EXPECT_NEAR(out.right[c.delaySamples], c.gainB, 1e-5);
    double elsewhere = 0;
    for (size_t n = 0; n < out.left.size(); ++n)
      if (n != static_cast<size_t>(c.delaySamples))
        elsewhere += std::fabs(out.left[n]) + std::fabs(out.right[n]);
    EXPECT_LT(elsewhere, 1e-12);
  }
}

TEST(DryPath, MixOneLeavesOnlyTheVoices) {
  tVoicemultiply effect(nullptr);
  MakeStatic(effect);
  effect.setParameter(kClones, 0.0f);
  effect.setParameter(kDryDelay, 0.5f);
  const auto out = Render(effect, Impulse(8192));
  EXPECT_LT(std::fabs(out.left[5512]), 1e-12);  // no dry tap
  EXPECT_NEAR(out.left[44], 1.078 * 0.35, 1e-5);
}

TEST(Processing, AccumulateAddsAndReplaceOverwritesAndZeroCountTouchesNothing) {
  tVoicemultiply a(nullptr), b(nullptr);
  std::vector<float> in = Impulse(256);
  std::vector<float> base(256, 0.25f), left(256, 0.25f), right(256, 0.25f);
  std::vector<float> refLeft(256), refRight(256);
  float* inputs[] = {in.data()};
  float* outputs[] = {left.data(), right.data()};
  float* refs[] = {refLeft.data(), refRight.data()};
  a.process(inputs, outputs, 0);
  EXPECT_EQ(left, base);
  a.process(inputs, outputs, 256);
  b.processReplacing(inputs, refs, 256);
  for (int i = 0; i < 256; ++i) EXPECT_FLOAT_EQ(left[i], 0.25f + refLeft[i]);
}

TEST(Processing, InPlaceInputAndFirstOutputAgreeWithSeparateBuffers) {
  tVoicemultiply a(nullptr), b(nullptr);
  MakeStatic(a);  // no draws from the shared generator: both instances run alike
  MakeStatic(b);
  std::vector<float> signal(4096);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = std::sin(0.05f * i);
  const auto reference = Render(b, signal);
  std::vector<float> shared(signal), right(signal.size());
  float* inputs[] = {shared.data()};
  float* outputs[] = {shared.data(), right.data()};
  a.processReplacing(inputs, outputs, static_cast<int32_t>(shared.size()));
  EXPECT_EQ(shared, reference.left);
}

TEST(Processing, SuspendSilencesTheRings) {
  tVoicemultiply effect(nullptr);
  MakeStatic(effect);
  Render(effect, std::vector<float>(2000, 1.0f));
  effect.suspend();
  const auto out = Render(effect, std::vector<float>(8192, 0.0f));
  for (float v : out.left) ASSERT_LT(std::fabs(v), 1e-12);
}

// ---- guards against bad hosts ----

bool AllFinite(const test::tStereo& out) {
  for (size_t i = 0; i < out.left.size(); ++i)
    if (!std::isfinite(out.left[i]) || !std::isfinite(out.right[i])) return false;
  return true;
}

TEST(BadHost, NonFiniteInputCountsAsSilence) {
  tVoicemultiply effect(nullptr);
  MakeStatic(effect);
  std::vector<float> in(20000, 0.3f);
  in[10] = kNaN;
  in[500] = kInf;
  in[900] = -kInf;
  in[1200] = 3e38f;  // finite but absurd: limited, still finite after the gains
  const auto out = Render(effect, in);
  EXPECT_TRUE(AllFinite(out));
  // Well after the poisoned samples left the longest delay, the output is the clean one.
  tVoicemultiply clean(nullptr);
  MakeStatic(clean);
  std::vector<float> good(in);
  for (int i : {10, 500, 900, 1200}) good[i] = 0.0f;
  const auto reference = Render(clean, good);
  EXPECT_NEAR(out.left.back(), reference.left.back(), 1e-6);
}

TEST(BadHost, AbsurdParameterValuesNeverBreakTheOutput) {
  const float absurd[] = {kNaN, kInf, -kInf, 1e9f, -5.0f, 1e-40f, 1e30f};
  std::vector<float> in(3000);
  for (size_t i = 0; i < in.size(); ++i) in[i] = 0.5f * std::sin(0.03f * i);
  for (float value : absurd) {
    tVoicemultiply effect(nullptr);
    for (int index = 0; index < kParameterCount; ++index) effect.setParameter(index, value);
    EXPECT_TRUE(AllFinite(Render(effect, in))) << value;
    EXPECT_GE(int32_t(effect.Setting(kClones)), 1);
    EXPECT_LE(int32_t(effect.Setting(kClones)), 32);
  }
}

TEST(BadHost, WildSampleRatesKeepTheEngineInRange) {
  for (float rate : {kNaN, 0.0f, -44100.0f, 1e30f, 8000.0f, 384000.0f}) {
    tVoicemultiply effect(nullptr);
    effect.setSampleRate(rate);
    EXPECT_GE(effect.EngineSampleRate(), 1000.0f);
    EXPECT_LE(effect.EngineSampleRate(), 400000.0f);
    EXPECT_TRUE(AllFinite(Render(effect, std::vector<float>(2048, 0.2f)))) << rate;
  }
}

// ---- the engine follows the host's rate ----

TEST(SampleRate, DelaysKeepTheirLengthInSecondsAndRingsGrow) {
  const struct {
    float rate;
    int ringLength;
  } cases[] = {{44100, 32768}, {48000, 32768}, {96000, 65536}, {192000, 131072},
               {384000, 131072}, {400000, 131072}};
  for (const auto& c : cases) {
    tVoicemultiply effect(nullptr);
    effect.setSampleRate(c.rate);
    EXPECT_EQ(effect.RingLength(), c.ringLength);
    // Voice 1 sits at the longest delay: 1 ms + 15.5 * 9 ms = 140.5 ms at Timing 0.5.
    EXPECT_NEAR(effect.Voice(1).Delay() / c.rate, 0.1405, 1.0 / c.rate);
    effect.setParameter(kTiming, 1.0f);  // 271 ms: still inside the ring
    test::Apply(effect);
    EXPECT_NEAR(effect.Voice(1).Delay() / c.rate, 0.271, 1.0 / c.rate);
    EXPECT_LT(effect.Voice(1).Delay() + 200, effect.RingLength());
    effect.setParameter(kDryDelay, 1.0f);
    test::Apply(effect);
    EXPECT_EQ(effect.DryDelaySamples(), std::lround(0.25 * c.rate));
    EXPECT_NEAR(effect.Voice(0).VibRateHz(), 5.3796f, 1e-3f);  // rate in Hz unchanged
    // The farthest read of all: the longest delay with the deepest, slowest vibrato, whose
    // random swings borrow any voice's table and scale it by up to 1.5.
    effect.setParameter(kVibDepth, 1.0f);
    effect.setParameter(kVibRate, 0.0f);
    effect.setParameter(kVibRandom, 1.0f);
    test::Apply(effect);
    int32_t deepestTable = 0;
    for (int32_t i = 0; i < kMaxClones; ++i)
      deepestTable = std::max(deepestTable, effect.Voice(i).TableDepth());
    for (int32_t i = 0; i < kMaxClones; ++i)
      EXPECT_LT(effect.Voice(i).Delay() + 1.5 * deepestTable + 2, effect.RingLength())
          << c.rate << " voice " << i;
  }
}

TEST(SampleRate, ImpulseArrivesAtTheSameTimeAtEveryRate) {
  for (float rate : {44100.0f, 96000.0f, 192000.0f}) {
    tVoicemultiply effect(nullptr);
    effect.setSampleRate(rate);
    MakeStatic(effect);
    effect.setParameter(kClones, 1.0f / 31);  // voices 0 (1 ms) and 1 (140.5 ms)
    const int length = static_cast<int>(0.2 * rate);
    const auto out = Render(effect, Impulse(length));
    int last = 0;
    for (int n = 0; n < length; ++n)
      if (std::fabs(out.left[n]) > 0.1f) last = n;
    EXPECT_NEAR(last / rate, 0.1405, 1.5 / rate) << rate;
  }
}

#if VM_TEST_MXCSR
// A host may leave the processor rounding otherwise (toward zero, down, up) between the
// blocks of one effect; every block renders as under rounding to nearest.
TEST(FloatControl, BlocksRenderTheSameWhateverRoundingTheHostLeaves) {
  constexpr unsigned kRoundingBits = 0x6000u;
  const unsigned saved = _mm_getcsr();
  const uint32_t randomState = tRandom::State();  // both renders draw the same numbers
  std::vector<float> input(4096);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = 0.5f * std::sin(0.037f * static_cast<float>(i)) + 0.1f * std::sin(0.31f * static_cast<float>(i));
  tVoicemultiply reference(nullptr);
  const test::tStereo expected = Render(reference, input, 16);
  const uint32_t stateAfter = tRandom::State();
  for (const unsigned rounding : {0x2000u, 0x4000u, 0x6000u}) {  // down, up, toward zero
    SCOPED_TRACE(rounding);
    tRandom::SetState(randomState);
    tVoicemultiply effect(nullptr);
    test::tStereo got{std::vector<float>(input.size()), std::vector<float>(input.size())};
    std::vector<float> in(input);
    for (size_t start = 0; start < input.size(); start += 16) {
      _mm_setcsr((_mm_getcsr() & ~kRoundingBits) | rounding);  // the host's doing
      float* inputs[] = {in.data() + start};
      float* outputs[] = {got.left.data() + start, got.right.data() + start};
      effect.processReplacing(inputs, outputs, 16);
    }
    _mm_setcsr(saved);
    EXPECT_EQ(tRandom::State(), stateAfter);
    EXPECT_EQ(std::memcmp(got.left.data(), expected.left.data(), input.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(got.right.data(), expected.right.data(), input.size() * sizeof(float)), 0);
  }
  tRandom::SetState(randomState);
}
#endif

}  // namespace
}  // namespace vm
