// Chunked processing against the per-sample step. The engine writes a chunk's ring samples
// first and lets each voice run through the chunk on its own; the outputs must still be
// bit for bit those of stepping every voice sample by sample, random draws included.
//
// The reference is the same effect fed one sample per block: a one-sample chunk runs every
// voice's Step for that sample, in voice order, which is the per-sample loop itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "analysis/Random.h"
#include "engine/SingleClone.h"

namespace vm {
namespace {

using test::Render;

constexpr uint32_t kSeed = 0x2545F491u;

// The random generator is shared by the whole process: every render starts from the same
// state, and the tests leave it as they found it.
class SavedRandomState {
 public:
  SavedRandomState() : saved(tRandom::State()) {}
  ~SavedRandomState() { tRandom::SetState(saved); }

 private:
  uint32_t saved;
};

// A sung-like tone (three harmonics, slow vibrato) with a little deterministic noise, so
// every ring sample differs from its neighbours and any shifted read shows.
std::vector<float> TestSignal(size_t length, double rateHz) {
  std::vector<float> x(length);
  double phase = 0.0;
  uint32_t noise = 1;
  for (size_t i = 0; i < length; ++i) {
    phase += 2 * M_PI * 196.0 * (1 + 0.01 * std::sin(2 * M_PI * 5.0 * i / rateHz)) / rateHz;
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
    x[i] = static_cast<float>(0.3 * std::sin(phase) + 0.15 * std::sin(2 * phase) +
                              0.08 * std::sin(3 * phase) + hiss);
  }
  return x;
}

struct tChunkCase {
  const char* name;
  int clones;
  bool vibRandom, dynRandom;
  float dynDepth;  // 0: level movement off
  float dynRate;   // 1: 0.1 s ramps, many turns
  int split;       // 0: unison only; 5: bass, unison and alto voices, all section engines
  float rateHz;
  float timing = -1.0f;  // Timing, when not negative (0: one voice reads 1 ms back)
};

void PrintTo(const tChunkCase& c, std::ostream* os) { *os << c.name; }

class ChunkedProcessing : public testing::TestWithParam<tChunkCase> {};

void Configure(tVoicemultiply& effect, const tChunkCase& c) {
  effect.setSampleRate(c.rateHz);
  effect.setParameter(kClones, (c.clones - 1) / 31.0f);
  effect.setParameter(kVibRandom, c.vibRandom ? 1.0f : 0.0f);
  effect.setParameter(kDynRandom, c.dynRandom ? 1.0f : 0.0f);
  effect.setParameter(kDynDepth, c.dynDepth);
  effect.setParameter(kDynRate, c.dynRate);
  effect.setParameter(kSplit, c.split / 5.0f);
  effect.setParameter(kVibDepth, 0.8f);
  effect.setParameter(kMix, 0.8f);        // some dry signal in the outputs too
  effect.setParameter(kDryDelay, 0.3f);
  if (c.split != 0) effect.setParameter(kUnisonFmnts, 0.8f);  // shifted unison section
  if (c.timing >= 0.0f) effect.setParameter(kTiming, c.timing);
}

// Renders case `c` in host blocks of each size sequence (cycled) from the same random
// state and expects the reference's bits and the same random draws, in the same number.
void ExpectBlocksMatch(const tChunkCase& c, const std::vector<float>& input,
                       std::initializer_list<std::vector<int>> blockSizes,
                       const test::tStereo& expected, uint32_t stateAfterReference) {
  for (const std::vector<int>& sizes : blockSizes) {
    SCOPED_TRACE(testing::Message() << "first block " << sizes[0] << " of " << sizes.size());
    tVoicemultiply chunked(nullptr);
    Configure(chunked, c);
    tRandom::SetState(kSeed);
    const test::tStereo got = test::RenderInBlocksOf(chunked, input, sizes);
    EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
    EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
    EXPECT_EQ(tRandom::State(), stateAfterReference);
  }
}

TEST_P(ChunkedProcessing, OutputsEqualThePerSampleStepBitForBit) {
  const tChunkCase c = GetParam();
  const SavedRandomState restore;
  const std::vector<float> input = TestSignal(static_cast<size_t>(3 * c.rateHz), c.rateHz);

  tVoicemultiply reference(nullptr);
  Configure(reference, c);
  tRandom::SetState(kSeed);
  const test::tStereo expected = Render(reference, input, 1);
  const uint32_t stateAfterReference = tRandom::State();

  // The comparison means something only if the voices sound and, with random on, draw.
  double energy = 0.0;
  for (float v : expected.left) energy += double(v) * v;
  ASSERT_GT(energy, 1.0);
  if (c.vibRandom || (c.dynRandom && c.dynDepth > 0.02f)) {
    ASSERT_NE(stateAfterReference, kSeed);
  }

  ExpectBlocksMatch(c, input, {{7}, {512}, {4096}}, expected, stateAfterReference);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkedProcessing,
    testing::Values(
        tChunkCase{"OneVoice", 1, false, false, 0.25f, 0.5f, 0, 44100.0f},
        tChunkCase{"OneVoiceRandom", 1, true, true, 0.5f, 1.0f, 0, 44100.0f},
        tChunkCase{"TwoVoices", 2, false, false, 0.25f, 1.0f, 0, 44100.0f},
        tChunkCase{"TwoVoicesRandomVibrato", 2, true, false, 0.25f, 0.5f, 0, 44100.0f},
        tChunkCase{"SixteenVoices", 16, false, false, 0.25f, 0.5f, 0, 44100.0f},
        tChunkCase{"SixteenVoicesRandom", 16, true, true, 0.6f, 1.0f, 0, 44100.0f},
        tChunkCase{"SixteenVoicesRandomRamps", 16, false, true, 1.0f, 0.9f, 0, 44100.0f},
        tChunkCase{"SixteenVoicesLevelStill", 16, true, true, 0.0f, 1.0f, 0, 44100.0f},
        tChunkCase{"ThirtyTwoVoices", 32, false, false, 0.25f, 0.5f, 0, 44100.0f},
        tChunkCase{"ThirtyTwoVoicesRandom", 32, true, true, 0.6f, 1.0f, 0, 44100.0f},
        tChunkCase{"ThirtyTwoVoicesSections", 32, true, true, 0.6f, 1.0f, 5, 44100.0f},
        tChunkCase{"ThirtyTwoVoicesSectionsLevelStill", 32, false, false, 0.0f, 0.5f, 5,
                   44100.0f},
        tChunkCase{"HighRate", 16, false, false, 0.25f, 1.0f, 0, 192000.0f},
        tChunkCase{"HighRateRandom", 32, true, true, 0.6f, 1.0f, 0, 192000.0f},
        tChunkCase{"HighRateSections", 16, true, true, 0.6f, 1.0f, 5, 192000.0f}),
    [](const testing::TestParamInfo<tChunkCase>& info) { return info.param.name; });

// ---- the vector variants ----

// Chooses a variant of the voices' runs for one test and restores the one in use.
class ChosenLanes {
 public:
  explicit ChosenLanes(tVoiceLanes lanes) : saved(VoiceLanes()), chosen(SetVoiceLanes(lanes)) {}
  ~ChosenLanes() { SetVoiceLanes(saved); }
  bool Chosen() const { return chosen; }

 private:
  tVoiceLanes saved;
  bool chosen;
};

class LaneVariants : public testing::TestWithParam<tVoiceLanes> {};

// The sample step's render of case `c` (one lane, from the seeded random state) by
// `render`, and the random state it leaves.
template <typename F>
test::tStereo ReferenceRender(const tChunkCase& c, F&& render, uint32_t* stateAfter = nullptr) {
  const ChosenLanes one(tVoiceLanes::One);
  tVoicemultiply reference(nullptr);
  Configure(reference, c);
  tRandom::SetState(kSeed);
  test::tStereo out = render(reference);
  if (stateAfter) *stateAfter = tRandom::State();
  return out;
}

// Each variant the processor runs renders the bits of the sample step, one lane, one
// sample per block: plain and random walks and ramps, level still, all sections, a high
// rate (long tables, doubled rings), and blocks shorter than a group of eight samples or
// ending inside one, whole groups, and sizes that change from block to block.
TEST_P(LaneVariants, RenderTheBitsOfTheSampleStep) {
  const SavedRandomState restore;
  const tChunkCase cases[] = {
      {"SixteenVoicesRandom", 16, true, true, 0.6f, 1.0f, 0, 44100.0f},
      {"SixteenVoicesLevelStill", 16, true, true, 0.0f, 1.0f, 0, 44100.0f},
      {"ThirtyTwoVoices", 32, false, false, 0.25f, 0.5f, 0, 44100.0f},
      {"ThirtyTwoVoicesSections", 32, true, true, 0.6f, 1.0f, 5, 44100.0f},
      {"HighRateRandom", 32, true, true, 0.6f, 1.0f, 0, 192000.0f},
  };
  for (const tChunkCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float> input = TestSignal(static_cast<size_t>(2 * c.rateHz), c.rateHz);
    uint32_t stateAfterReference = 0;
    const test::tStereo expected = ReferenceRender(
        c, [&](tVoicemultiply& reference) { return Render(reference, input, 1); },
        &stateAfterReference);
    const ChosenLanes variant(GetParam());
    if (!variant.Chosen()) GTEST_SKIP() << "the processor does not run this variant";
    ExpectBlocksMatch(c, input,
                      {{7}, {16}, {19}, {512}, {16, 1, 16, 64, 3, 16, 1, 1, 24, 512, 8, 2}},
                      expected, stateAfterReference);
  }
}

// One setting made before the block that starts at sample `at`.
struct tTimedChange {
  size_t at;
  int parameter;
  float value;
};

// A tTimedChange of this parameter suspends and resumes the effect (as a host does around
// a transport jump): the rings fall silent and the section engines start again.
constexpr int kSuspendResume = -1;

// Renders in blocks of `block` samples with `changes` (sorted, each at a multiple of the
// block) made before the blocks they name.
test::tStereo RenderWithChanges(tVoicemultiply& effect, const std::vector<float>& input,
                                int block, const std::vector<tTimedChange>& changes) {
  test::tStereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
  std::vector<float> in(input);
  size_t next = 0;
  for (size_t start = 0; start < input.size(); start += static_cast<size_t>(block)) {
    for (; next < changes.size() && changes[next].at == start; ++next) {
      if (changes[next].parameter == kSuspendResume) {
        effect.suspend();
        effect.resume();
      } else {
        effect.setParameter(changes[next].parameter, changes[next].value);
      }
    }
    const int n = static_cast<int>(std::min<size_t>(block, input.size() - start));
    float* inputs[] = {in.data() + start};
    float* outputs[] = {out.left.data() + start, out.right.data() + start};
    effect.processReplacing(inputs, outputs, n);
  }
  return out;
}

// A voice setting changed before every 2048th sample (a multiple of the blocks used):
// each change crossfades the whole previous set of voices out, at the same sample whatever
// the block size.
std::vector<tTimedChange> VoiceChangesEvery2048(size_t length) {
  std::vector<tTimedChange> changes;
  int change = 0;
  for (size_t at = 0; at < length; at += 2048) {
    ++change;
    changes.push_back({at, change % 2 == 0 ? kTiming : kVibDepth,
                       0.2f + 0.6f * static_cast<float>(change % 5) / 4.0f});
  }
  return changes;
}

// The voices fading out after a change (odd and even counts: a pair of voices and a voice
// alone) add up to the bits of the one-sample loop in each variant.
TEST_P(LaneVariants, CrossfadesRenderTheBitsOfTheSampleStep) {
  const SavedRandomState restore;
  const tChunkCase cases[] = {
      {"ThirtyTwoVoicesRandom", 32, true, true, 0.6f, 1.0f, 0, 44100.0f},
      {"FifteenVoicesSections", 15, false, false, 0.4f, 0.5f, 5, 44100.0f},
  };
  for (const tChunkCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float> input = TestSignal(22050, c.rateHz);
    const test::tStereo expected = ReferenceRender(c, [&](tVoicemultiply& reference) {
      return RenderWithChanges(reference, input, 1, VoiceChangesEvery2048(input.size()));
    });
    const ChosenLanes variant(GetParam());
    if (!variant.Chosen()) GTEST_SKIP() << "the processor does not run this variant";
    for (const int block : {16, 512}) {
      SCOPED_TRACE(testing::Message() << "block " << block);
      tVoicemultiply chunked(nullptr);
      Configure(chunked, c);
      tRandom::SetState(kSeed);
      const test::tStereo got = RenderWithChanges(chunked, input, block,
                                                  VoiceChangesEvery2048(input.size()));
      EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
      EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
    }
  }
}

// Settings changed in the middle of a run of 16-sample blocks, each group of changes
// before its own block, land where the one-sample loop takes them: the level movement
// switched off and on again (voices whose records were built for the other kind of run),
// voices added and removed, gains gliding, random switches, a second voice change during
// a crossfade, and two changes in consecutive blocks.
TEST_P(LaneVariants, SettingsChangedAmidShortBlocksRenderTheBitsOfTheSampleStep) {
  const SavedRandomState restore;
  const tChunkCase c{"SixteenVoices", 16, false, false, 0.6f, 1.0f, 0, 44100.0f};
  const std::vector<tTimedChange> changes = {
      {1600, kDynDepth, 0.0f},     {4800, kDynDepth, 0.7f},  {6400, kClones, 1.0f},
      {6416, kMix, 0.3f},          {9600, kVibRandom, 1.0f}, {9760, kTiming, 0.9f},
      {12800, kClones, 7 / 31.0f}, {12800, kGain, 0.7f},     {16000, kDynRandom, 1.0f},
      {16016, kVibDepth, 0.2f},    {19200, kDynRate, 0.1f},  {19200, kBalance, 0.2f},
  };
  const std::vector<float> input = TestSignal(24000, c.rateHz);
  uint32_t stateAfterReference = 0;
  const test::tStereo expected = ReferenceRender(
      c, [&](tVoicemultiply& reference) { return RenderWithChanges(reference, input, 1, changes); },
      &stateAfterReference);
  ASSERT_NE(stateAfterReference, kSeed);  // the random switches drew
  const ChosenLanes variant(GetParam());
  if (!variant.Chosen()) GTEST_SKIP() << "the processor does not run this variant";
  tVoicemultiply chunked(nullptr);
  Configure(chunked, c);
  tRandom::SetState(kSeed);
  const test::tStereo got = RenderWithChanges(chunked, input, 16, changes);
  EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
  EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
  EXPECT_EQ(tRandom::State(), stateAfterReference);
}

// ---- section samples waiting for the next chunk ----

// Short chunks leave their section samples waiting, to be run with the next chunks, as
// far as the nearest voice reads back. Blocks of 1024 samples never leave any waiting, so
// they are the reference. At Timing 0 one voice reads as near as any can (1 ms), and at
// 8000 Hz that is 8 samples: a section sample read before it was run shows as a
// difference.
TEST(SectionsWaiting, NearestVoiceReadsTheBitsOfSectionsRunAtOnce) {
  const SavedRandomState restore;
  for (const float rateHz : {44100.0f, 96000.0f, 8000.0f}) {
    SCOPED_TRACE(testing::Message() << rateHz << " Hz");
    const tChunkCase c{"NearestVoice", 32, false, true, 0.6f, 1.0f, 5, rateHz, 0.0f};
    const std::vector<float> input = TestSignal(static_cast<size_t>(1.5 * rateHz), rateHz);
    tVoicemultiply reference(nullptr);
    Configure(reference, c);
    tRandom::SetState(kSeed);
    const test::tStereo expected = Render(reference, input, 1024);
    ExpectBlocksMatch(c, input, {{1}, {16}, {5, 40, 1, 43, 16, 2, 100}}, expected,
                      tRandom::State());
  }
}

// What changes the section engines or the voices' reach while samples wait lands on the
// same sample as in long blocks: a section switched on (warm-up and fade) and off, formant
// ratios, the unison copy shifted and back, voices moved nearer and farther, section
// levels, and a suspend.
TEST(SectionsWaiting, ChangesLandOnTheSampleOfLongBlocks) {
  const SavedRandomState restore;
  const tChunkCase c{"SectionChanges", 24, true, false, 0.4f, 0.5f, 5, 44100.0f, 0.0f};
  const std::vector<tTimedChange> changes = {
      {0, kSplit, 0.8f},          {4096, kBassFmnts, 0.9f},    {8192, kSplit, 0.2f},
      {12288, kTiming, 0.3f},     {16384, kSplit, 1.0f},       {20480, kUnisonFmnts, 0.5f},
      {24576, kTiming, 0.0f},     {28672, kUnisonFmnts, 0.9f}, {32768, kAltoFmnts, 0.1f},
      {36864, kSuspendResume, 0}, {40960, kAltoLevel, 0.9f},   {45056, kSplit, 0.6f},
  };
  const std::vector<float> input = TestSignal(53248, c.rateHz);
  tVoicemultiply reference(nullptr);
  Configure(reference, c);
  tRandom::SetState(kSeed);
  const test::tStereo expected = RenderWithChanges(reference, input, 1024, changes);
  for (const int block : {1, 16, 64, 256}) {
    SCOPED_TRACE(testing::Message() << "block " << block);
    tVoicemultiply chunked(nullptr);
    Configure(chunked, c);
    tRandom::SetState(kSeed);
    const test::tStereo got = RenderWithChanges(chunked, input, block, changes);
    EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
    EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
  }
}

// A head takes a new formant ratio at the next cycle it reshapes: section samples waiting
// when the ratios change are run with the ratios they came with. Many changes, so that
// some cycle ends among the waiting samples of some change.
TEST(SectionsWaiting, FormantRatiosChangeAtTheirSample) {
  const SavedRandomState restore;
  const tChunkCase c{"FormantChanges", 32, false, false, 0.4f, 0.5f, 5, 44100.0f, 0.0f};
  std::vector<tTimedChange> changes;
  constexpr size_t kEvery = 1024, kChanges = 40;
  for (size_t k = 1; k <= kChanges; ++k) {
    const float step = static_cast<float>(k % 4) / 4.0f;
    changes.push_back({k * kEvery, kBassFmnts, step});
    changes.push_back({k * kEvery, kUnisonFmnts, 0.7f + 0.2f * step});
    changes.push_back({k * kEvery, kAltoFmnts, 1.0f - step});
  }
  const std::vector<float> input = TestSignal((kChanges + 2) * kEvery, c.rateHz);
  auto render = [&](int block) {
    tVoicemultiply effect(nullptr);
    Configure(effect, c);
    tRandom::SetState(kSeed);
    return RenderWithChanges(effect, input, block, changes);
  };
  const test::tStereo expected = render(static_cast<int>(kEvery));
  for (const int block : {1, 16}) {
    SCOPED_TRACE(testing::Message() << "block " << block);
    const test::tStereo got = render(block);
    EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
    EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
  }
}

const char* LanesText(tVoiceLanes lanes) {
  switch (lanes) {
    case tVoiceLanes::Avx2: return "Avx2";
    case tVoiceLanes::Avx512: return "Avx512";
    default: return "One";
  }
}
std::string LanesName(const testing::TestParamInfo<tVoiceLanes>& info) {
  return LanesText(info.param);
}

INSTANTIATE_TEST_SUITE_P(Variants, LaneVariants,
                         testing::Values(tVoiceLanes::One, tVoiceLanes::Avx2, tVoiceLanes::Avx512),
                         LanesName);

// ---- one voice's run-ahead against its Step ----

// Noise in a ring of the given length: every read position gives a different value.
std::vector<float> NoiseRing(int32_t length, uint32_t seed) {
  std::vector<float> ring(length);
  for (float& v : ring) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
  }
  return ring;
}

struct tVoiceCase {
  const char* name;
  bool vibRandom, dynRandom;
  bool dynOn;
  int split;
};

void PrintTo(const tVoiceCase& c, std::ostream* os) { *os << c.name; }

class RunAhead : public testing::TestWithParam<tVoiceCase> {};

// Thirty-two voices set up as the effect would for 16 sounding voices, on 44.1 kHz rings.
void SetUpVoices(tVoiceArray& voices, const tVoiceCase& c) {
  tVoiceSetup setup{};
  setup.order = 1;
  setup.levelNorm = 0.2695f;
  setup.lo = 0.0f;
  setup.width = 1.0f;
  setup.count = 16;
  setup.dynChanged = true;
  setup.vibRateLogMin = std::log10(1.1f);
  setup.vibRateLogMax = std::log10(8.0f);
  setup.Timing = 0.5f;
  setup.VibDepth = 0.9f;
  setup.VibRate = 0.9f;
  setup.DynDepth = 0.7f;
  setup.DynRate = 1.0f;
  setup.Focus = 1.0f;
  setup.VibRandom = c.vibRandom;
  setup.DynRandom = c.dynRandom;
  setup.Split = c.split;
  for (int32_t i = 0; i < kMaxClones; ++i) voices[i].InitVoiceTable(i);
  // The walk in progress takes the turning point the voice had before the set-up; the
  // second pass gives it the one of these settings.
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t i = 0; i < kMaxClones; ++i) voices[i].SetUp(i, setup);
}

// Samples written since the start, counting from ring position firstPos downwards.
int32_t RingPosition(int32_t firstPos, int32_t sample, int32_t mask) {
  return (firstPos - sample) & mask;
}

// The voice runs ahead through chunks of 1000 samples and stops exactly where its Step
// would draw from the random generator; before each stop its contributions, and after the
// run its walk and ramp, equal those of Step sample by sample.
TEST_P(RunAhead, StopsAtEachDrawAndMatchesStep) {
  const tVoiceCase c = GetParam();
  const SavedRandomState restore;
  constexpr int32_t kRingLength = 32768, kMask = kRingLength - 1;
  constexpr int32_t kSamples = 88200, kChunk = 1000;  // two seconds at 44.1 kHz
  constexpr int32_t kFirstPos = 1234;
  constexpr float kDynDepth = 0.7f;
  const std::vector<float> unison = NoiseRing(kRingLength, 1), bass = NoiseRing(kRingLength, 2),
                           alto = NoiseRing(kRingLength, 3);
  const tSectionRings rings{{unison.data(), bass.data(), alto.data()}, kMask};

  for (const int32_t self : {0, 7, 15}) {
    SCOPED_TRACE(testing::Message() << "voice " << self);
    auto stepped = std::make_unique<tVoiceArray>();
    auto chunked = std::make_unique<tVoiceArray>();
    SetUpVoices(*stepped, c);
    SetUpVoices(*chunked, c);

    tRandom::SetState(kSeed);
    std::vector<float> expectedA(kSamples), expectedB(kSamples);
    std::vector<int32_t> draws;
    for (int32_t i = 0; i < kSamples; ++i) {
      const uint32_t before = tRandom::State();
      float a = 0.0f, b = 0.0f;
      (*stepped)[self].Step(self, rings, RingPosition(kFirstPos, i, kMask), c.dynOn, kDynDepth,
                            *stepped, a, b);
      expectedA[i] = a;
      expectedB[i] = b;
      if (tRandom::State() != before) draws.push_back(i);
    }
    if (c.vibRandom || (c.dynRandom && c.dynOn)) {
      ASSERT_GT(draws.size(), 10u);
    }

    tRandom::SetState(kSeed);
    std::vector<float> gotA(kSamples), gotB(kSamples);
    std::vector<int32_t> stops;
    tSingleClone& voice = (*chunked)[self];
    for (int32_t start = 0; start < kSamples; start += kChunk) {
      const int32_t end = std::min(start + kChunk, kSamples);
      // Within a chunk, indexes are chunk samples; the ring position of chunk sample j
      // is that of overall sample start + j.
      const int32_t chunkPos = RingPosition(kFirstPos, start, kMask);
      int32_t from = 0;
      for (;;) {
        from = voice.RunAhead(self, rings, chunkPos, from, end - start, c.dynOn, kDynDepth,
                              *chunked, gotA.data() + start, gotB.data() + start);
        if (from == end - start) break;
        stops.push_back(start + from);
        float a = 0.0f, b = 0.0f;
        voice.Step(self, rings, RingPosition(chunkPos, from, kMask), c.dynOn, kDynDepth,
                   *chunked, a, b);
        gotA[start + from] = a;
        gotB[start + from] = b;
        ++from;
      }
    }
    EXPECT_EQ(stops, draws);
    EXPECT_EQ(test::FirstDifference(gotA, expectedA), -1);
    EXPECT_EQ(test::FirstDifference(gotB, expectedB), -1);
    const tSingleClone& reference = (*stepped)[self];
    EXPECT_EQ(voice.VibPos(), reference.VibPos());
    EXPECT_EQ(voice.DynPos(), reference.DynPos());
    EXPECT_EQ(voice.DynLen(), reference.DynLen());
    EXPECT_EQ(voice.DynDip(), reference.DynDip());
    EXPECT_EQ(voice.DynRise(), reference.DynRise());
  }
}

// A voice that fades out reads the offsets its walk would read, turning at both ends
// without drawing: the same lender and depth factor throughout, its own turning point
// after a bottom turn when it does not borrow. Checked over a whole period of the walk
// (several turns), from states the voices reach by running.
TEST_P(RunAhead, FadeOutOffsetsAreTheWalkWithoutDraws) {
  const tVoiceCase c = GetParam();
  const SavedRandomState restore;
  constexpr int32_t kMask = 32767;
  const std::vector<float> ring = NoiseRing(kMask + 1, 4);
  const tSectionRings rings{{ring.data(), ring.data(), ring.data()}, kMask};
  auto voices = std::make_unique<tVoiceArray>();
  SetUpVoices(*voices, c);
  tRandom::SetState(kSeed);
  for (int32_t i = 0; i < 30000; ++i)
    for (int32_t k = 0; k < 16; ++k) {
      float a = 0.0f, b = 0.0f;
      (*voices)[k].Step(k, rings, (1000 - i) & kMask, c.dynOn, 0.7f, *voices, a, b);
    }
  for (const int32_t self : {0, 5, 15}) {
    SCOPED_TRACE(testing::Message() << "voice " << self);
    const tSingleClone& voice = (*voices)[self];
    const int32_t count = 2 * voice.VibTurn() + 500;
    std::vector<float> offsets(count);
    voice.FadeOutOffsets(*voices, offsets.data(), count);
    const bool borrowing = voice.VibRandom();
    const tVibratoTable& table = (*voices)[borrowing ? voice.VibSource() : self].Table();
    table.Prepare(0, table.Capacity() - 1);
    int32_t pos = voice.VibPos(), step = voice.VibStep(), len = voice.VibLen();
    for (int32_t n = 0; n < count; ++n) {
      pos += step;
      if (pos <= 0) {
        step = 1;
        pos = 0;
        if (!borrowing) len = voice.VibTurn();
      } else if (pos >= len) {
        step = -1;
        pos = len;
      }
      const float expected = (borrowing ? voice.VibScale() : 1.0f) * table.Entries()[pos];
      ASSERT_EQ(offsets[n], expected) << "sample " << n;
    }
  }
}

// Walks and ramps whose turn falls on the first sample after a 16-sample chunk, inside
// its last sample, or one sample later, up and down: the turn-free path takes a chunk
// exactly when no turn falls inside it, and every variant renders the bits of Step
// across the boundary.
TEST(TurnFreeChunks, TurnsNextToAChunkBoundaryRenderTheBitsOfStep) {
  const SavedRandomState restore;
  constexpr int32_t kMask = 32767, kFirstPos = 777, kChunk = 16, kChunks = 4;
  constexpr float kDynDepth = 0.7f;
  const std::vector<float> ring = NoiseRing(kMask + 1, 5);
  const tSectionRings rings{{ring.data(), ring.data(), ring.data()}, kMask};
  struct tBoundaryCase {
    const char* name;
    bool dynOn;        // false: the walk turns; true: the ramp turns (the walk far off)
    int32_t step;      // direction towards the turn
    int32_t distance;  // samples strictly before the turn when the first chunk starts
  };
  const tBoundaryCase cases[] = {
      {"WalkUpAtBoundary", false, 1, 16},   {"WalkUpInside", false, 1, 15},
      {"WalkUpAfter", false, 1, 17},        {"WalkDownAtBoundary", false, -1, 16},
      {"WalkDownInside", false, -1, 15},    {"RampUpAtBoundary", true, 1, 16},
      {"RampDownAtBoundary", true, -1, 16}, {"RampUpInside", true, 1, 15},
  };
  const tVoiceCase plain{"Plain", false, false, true, 0};
  constexpr int32_t self = 3;
  for (const tVoiceLanes lanes : {tVoiceLanes::One, tVoiceLanes::Avx2, tVoiceLanes::Avx512}) {
    const ChosenLanes chosen(lanes);
    if (!chosen.Chosen()) continue;
    for (const tBoundaryCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << ", variant " << static_cast<int>(lanes));
      auto stepped = std::make_unique<tVoiceArray>();
      auto chunked = std::make_unique<tVoiceArray>();
      SetUpVoices(*stepped, plain);
      SetUpVoices(*chunked, plain);
      // Both copies step alike until the turn lies `distance` samples ahead (and the
      // walk, for a ramp case, at least a chunk further).
      auto before = [&](const tSingleClone& v) {
        const int32_t pos = c.dynOn ? v.DynPos() : v.VibPos();
        const int32_t len = c.dynOn ? v.DynLen() : v.VibLen();
        const int32_t free = c.step > 0 ? len - 1 - pos : pos - 1;
        const bool walkClear = !c.dynOn || (v.VibPos() > 2 * kChunks * kChunk &&
                                            v.VibLen() - v.VibPos() > 2 * kChunks * kChunk);
        const bool towards = c.dynOn ? true : v.VibStep() == c.step;
        return towards && free == c.distance && walkClear;
      };
      int32_t sample = 0;
      auto stepBoth = [&]() {
        for (tVoiceArray* voices : {stepped.get(), chunked.get()}) {
          float a = 0.0f, b = 0.0f;
          (*voices)[self].Step(self, rings, RingPosition(kFirstPos, sample, kMask), c.dynOn,
                               kDynDepth, *voices, a, b);
        }
        ++sample;
      };
      // A ramp's direction is known only from its moves: two samples in a row tell it.
      auto rampGoes = [&](int32_t step) {
        const int32_t pos = (*stepped)[self].DynPos();
        stepBoth();
        return (*stepped)[self].DynPos() - pos == step;
      };
      bool reached = false;
      for (int32_t guard = 0; guard < 400000 && !reached; ++guard) {
        if (c.dynOn) {
          reached = rampGoes(c.step) && before((*stepped)[self]);
        } else {
          reached = before((*stepped)[self]);
          if (!reached) stepBoth();
        }
      }
      ASSERT_TRUE(reached);
      std::vector<float> expectedA, expectedB, gotA(kChunks * kChunk), gotB(kChunks * kChunk);
      for (int32_t i = 0; i < kChunks * kChunk; ++i) {
        float a = 0.0f, b = 0.0f;
        (*stepped)[self].Step(self, rings, RingPosition(kFirstPos, sample + i, kMask), c.dynOn,
                              kDynDepth, *stepped, a, b);
        expectedA.push_back(a);
        expectedB.push_back(b);
      }
      for (int32_t n = 0; n < kChunks; ++n) {
        const int32_t firstPos = RingPosition(kFirstPos, sample + n * kChunk, kMask);
        float* sumA = gotA.data() + n * kChunk;
        float* sumB = gotB.data() + n * kChunk;
        const int32_t next = tSingleClone::AddTurnFreeVoices(*chunked, self, self + 1, rings,
                                                             firstPos, kChunk, c.dynOn, sumA, sumB);
        // The first chunk runs turn-free exactly when the turn lies beyond it.
        if (n == 0 && lanes != tVoiceLanes::One) {
          EXPECT_EQ(next == self + 1, c.distance >= kChunk);
        }
        if (next == self)
          (*chunked)[self].RunAhead(self, rings, firstPos, 0, kChunk, c.dynOn, kDynDepth, *chunked,
                                    sumA, sumB, true);
      }
      EXPECT_EQ(test::FirstDifference(gotA, expectedA), -1);
      EXPECT_EQ(test::FirstDifference(gotB, expectedB), -1);
      EXPECT_EQ((*chunked)[self].VibPos(), (*stepped)[self].VibPos());
      EXPECT_EQ((*chunked)[self].DynPos(), (*stepped)[self].DynPos());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunAhead,
    testing::Values(tVoiceCase{"Plain", false, false, true, 0},
                    tVoiceCase{"LevelStill", false, false, false, 0},
                    tVoiceCase{"RandomVibrato", true, false, true, 5},
                    tVoiceCase{"RandomRamps", false, true, true, 5},
                    tVoiceCase{"AllRandom", true, true, true, 0},
                    tVoiceCase{"AllRandomLevelStill", true, true, false, 5}),
    [](const testing::TestParamInfo<tVoiceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vm
