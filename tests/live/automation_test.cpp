// Host changes while sound runs, through the built plug-in loaded as a host loads it:
// no change of any parameter, automated block by block on the audio thread or sent from
// another thread between two blocks, may click (LiveAudio.h says what a click is).
//
// Every run loads the plug-in afresh and frees it again, so the process-wide random
// generator starts from its load state each time: a run with changes and an unchanged
// run give the same samples until the first change, and differ after it, which shows
// that the change reached the sound at all.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "LiveAudio.h"
#include "PluginHost.h"
#include "engine/Parameters.h"

namespace vm::live {
namespace {

std::string PluginPath() {
  const char* path = std::getenv("VM_PLUGIN");
  return path ? path : DefaultPluginPath();
}

const char* const kNames[kParameterCount] = {
    "Clones", "Timing", "VibDepth", "VibRate", "VibRandom", "Split", "BassFmnts",
    "BassLevel", "AltoFmnts", "AltoLevel", "Section", "Focus", "Balance", "Mix", "DryDelay",
    "DynDepth", "DynRate", "DynRandom", "UnisonFmnts", "UnisonLevel", "Gain"};

std::string CaseName(const ::testing::TestParamInfo<int32_t>& info) { return kNames[info.param]; }

// The host range every change moves in: Clones 10 to 23 voices, Split 2 to 4, Section
// C to D, the switches off to on, the reals across their middle.
constexpr float kLowValue = 0.3f;
constexpr float kHighValue = 0.7f;

using tSetting = std::pair<int32_t, float>;  // parameter index, host value

// Defaults with 16 voices, plus what lets the parameter under test be heard: all three
// sections sing for the bass and alto controls, half the output is dry for the dry
// delay. The parameter itself is set last: to the other end of the range, then to
// `value`, so that every run starts from an effect that took a change before it plays
// (one never changed since its construction clicks by itself, see UnchangedEffect).
std::vector<tSetting> SettingsFor(int32_t index, float value) {
  std::vector<tSetting> settings = {{kClones, 15.0f / 31.0f}};
  if (index == kBassFmnts || index == kBassLevel || index == kAltoFmnts || index == kAltoLevel)
    settings.push_back({kSplit, 1.0f});
  if (index == kDryDelay) settings.push_back({kMix, 0.5f});
  settings.push_back({index, value == kLowValue ? kHighValue : kLowValue});
  settings.push_back({index, value});
  return settings;
}

// One freshly loaded effect, started at 44.1 kHz, processing the tone block by block.
class tFreshEffect {
 public:
  tFreshEffect(const std::vector<tSetting>& settings, size_t blocks)
      : host(PluginPath()), input(ToneInput(blocks)), output(input.size()) {
    for (const auto& [index, value] : settings) host.SetParameter(index, value);
    host.Start(static_cast<float>(kRateHz), kBlockSamples);
  }

  void ProcessBlock(size_t block) {
    const size_t start = block * kBlockSamples;
    float* inputs[] = {input.data() + start};
    float* outputs[] = {output.left.data() + start, output.right.data() + start};
    host.Effect()->processReplacing(host.Effect(), inputs, outputs, kBlockSamples);
  }

  tPluginHost host;
  std::vector<float> input;
  tStereo output;
};

tStereo RenderUnchanged(const std::vector<tSetting>& settings, size_t blocks) {
  tFreshEffect effect(settings, blocks);
  for (size_t block = 0; block < blocks; ++block) effect.ProcessBlock(block);
  return effect.output;
}

// The unchanged runs at both ends of the range: the scale of ordinary second
// differences, and (at the low end) the run that the changed one is compared with.
struct tReferences {
  tStereo low;
  tScale scale;
};

tReferences ReferencesFor(int32_t index, size_t blocks) {
  tReferences references{RenderUnchanged(SettingsFor(index, kLowValue), blocks), {}};
  references.scale.Include(references.low);
  references.scale.Include(RenderUnchanged(SettingsFor(index, kHighValue), blocks));
  return references;
}

// The run with changes starts at the low value: equal to the low reference until the
// first block that runs with a changed setting, different within kAudibleWithin of it.
void ExpectChangeHeardFrom(const tStereo& changed, const tStereo& low, size_t firstChangedBlock) {
  const size_t changeStart = firstChangedBlock * kBlockSamples;
  const size_t firstDifference = FirstDifference(changed, low);
  EXPECT_GE(firstDifference, changeStart) << "the output moved before the change";
  EXPECT_LT(firstDifference, changeStart + kAudibleWithin)
      << "the change, sent before " << static_cast<double>(changeStart) / kRateHz
      << " s, is not heard";
}

// ---- no change at all ----

// A host may load the effect and play without sending a single parameter: the defaults
// (16 voices of the unison section at unity gain, level movement with random ramps) sum
// delayed copies of the tone, whose second differences stay near the tone's own.
TEST(UnchangedEffect, LeftAtItsDefaultsDoesNotClick) {
  constexpr size_t blocks = Blocks(5.0);
  tFreshEffect effect({}, blocks);
  for (size_t block = 0; block < blocks; ++block) effect.ProcessBlock(block);
  tScale tone;
  tone.left = tone.right = ToneSecondDifference();
  const tClickVerdict verdict = JudgeClicks(effect.output, tone);
  EXPECT_EQ(verdict.count, 0u) << "5 s of the tone, no parameter sent, against the tone's own second difference:\n"
                               << verdict.account;
}

// ---- automation on the audio thread: one new value before every block ----

constexpr size_t kHoldBlocks = Blocks(0.5);   // at the low value before the sweep
constexpr size_t kSweepBlocks = Blocks(4.0);  // low to high, linear
constexpr size_t kAfterBlocks = Blocks(0.3);  // at the high value

float SweepValue(size_t sweepBlock) {
  return kLowValue + (kHighValue - kLowValue) * static_cast<float>(sweepBlock + 1) / kSweepBlocks;
}

class SweepOnTheAudioThread : public ::testing::TestWithParam<int32_t> {};

TEST_P(SweepOnTheAudioThread, ChangesWithoutClicks) {
  const int32_t index = GetParam();
  constexpr size_t blocks = kHoldBlocks + kSweepBlocks + kAfterBlocks;
  const tReferences references = ReferencesFor(index, blocks);
  ASSERT_TRUE(references.scale.Ordinary()) << references.scale.Account();

  tFreshEffect effect(SettingsFor(index, kLowValue), blocks);
  size_t firstChangedBlock = blocks;  // the first block after a change of the setting
  for (size_t block = 0; block < blocks; ++block) {
    if (block >= kHoldBlocks && block < kHoldBlocks + kSweepBlocks) {
      const float before = effect.host.GetParameter(index);
      effect.host.SetParameter(index, SweepValue(block - kHoldBlocks));
      // Integers and switches change only where the sweep crosses a step.
      if (effect.host.GetParameter(index) != before) firstChangedBlock = std::min(firstChangedBlock, block);
    }
    effect.ProcessBlock(block);
  }
  ASSERT_LT(firstChangedBlock, blocks) << "the sweep never changed the setting";
  ExpectChangeHeardFrom(effect.output, references.low, firstChangedBlock);
  const tClickVerdict verdict = JudgeClicks(effect.output, references.scale);
  EXPECT_EQ(verdict.count, 0u) << kNames[index] << " swept from " << kLowValue << " to " << kHighValue
                               << " over 4 s, one value per " << kBlockSamples << " samples:\n"
                               << verdict.account;
}

INSTANTIATE_TEST_SUITE_P(EveryParameter, SweepOnTheAudioThread,
                         ::testing::Range<int32_t>(0, kParameterCount), CaseName);

// ---- jumps sent from another thread while the audio thread runs ----

constexpr size_t kJumpSpacingBlocks = Blocks(0.5);
constexpr float kJumpValues[] = {kHighValue, kLowValue, kHighValue, kLowValue};
constexpr size_t kJumpCount = std::size(kJumpValues);

class JumpFromAnotherThread : public ::testing::TestWithParam<int32_t> {};

TEST_P(JumpFromAnotherThread, IsHeardWithoutClicks) {
  const int32_t index = GetParam();
  constexpr size_t blocks = kHoldBlocks + (kJumpCount + 1) * kJumpSpacingBlocks;
  const tReferences references = ReferencesFor(index, blocks);
  ASSERT_TRUE(references.scale.Ordinary()) << references.scale.Account();

  std::vector<size_t> jumpBefore;
  for (size_t i = 0; i < kJumpCount; ++i) jumpBefore.push_back(kHoldBlocks + i * kJumpSpacingBlocks);
  tFreshEffect effect(SettingsFor(index, kLowValue), blocks);
  RunWithChangesBetweenBlocks(
      blocks, jumpBefore, [&](size_t block) { effect.ProcessBlock(block); },
      [&](size_t block) {
        const size_t jump = (block - kHoldBlocks) / kJumpSpacingBlocks;
        effect.host.SetParameter(index, kJumpValues[jump]);
      });
  ExpectChangeHeardFrom(effect.output, references.low, jumpBefore.front());
  const tClickVerdict verdict = JudgeClicks(effect.output, references.scale);
  EXPECT_EQ(verdict.count, 0u) << kNames[index] << " jumping between " << kLowValue << " and "
                               << kHighValue << " every 0.5 s from a second thread:\n"
                               << verdict.account;
}

// One parameter of each kind of change: voice count, voice delays, sections, a formant
// ratio, the wet/dry and output gains, the dry delay.
INSTANTIATE_TEST_SUITE_P(EachKindOfChange, JumpFromAnotherThread,
                         ::testing::Values<int32_t>(kClones, kTiming, kSplit, kAltoFmnts, kMix,
                                                    kDryDelay, kGain),
                         CaseName);

}  // namespace
}  // namespace vm::live
