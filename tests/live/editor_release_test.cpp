// A knob released in the editor while audio runs: the release writes the form's values
// back into the effect on the GUI thread, between two blocks of an audio thread, and the
// output must not click (LiveAudio.h says what a click is).
//
// The effect and its editor are linked in, without a window. The GUI thread is the test's
// own (it opens the editor); the audio thread is a second one. The random generator is
// put back to the same state before the first block of every run, so an unchanged run
// and a run with a release give the same samples until the release and differ after it.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

#include "LiveAudio.h"
#include "analysis/Random.h"
#include "editor/Editor.h"

namespace vm::live {
namespace {

constexpr size_t kBeforeBlocks = Blocks(0.5);  // audio before the release
constexpr size_t kAfterBlocks = Blocks(1.0);
constexpr size_t kRunBlocks = kBeforeBlocks + kAfterBlocks;
constexpr uint32_t kRandomStart = 12345;

// One gesture on the form: the value it leaves on the control and where the effect's
// store shows it afterwards.
struct tRelease {
  const char* control;
  std::function<void(tVoicemultiplyEditForm&)> release;
  int32_t index;
  float setting;  // as stored: voices, section number, or the real itself
};

void PrintTo(const tRelease& release, std::ostream* out) { *out << release.control; }

// The host's values before playing: defaults (16 voices, Mix 1, Section A) with Timing
// 0.4, as a restored project sends them. (An effect never changed after its construction
// clicks by itself, which automation_test.cpp shows; this test is about the release.)
constexpr float kHostTiming = 0.4f;

// From the host's values to something audibly different.
const tRelease kReleases[] = {
    {"Timing", [](tVoicemultiplyEditForm& f) { f.SetTiming(0.8f); }, kTiming, 0.8f},
    {"Clones", [](tVoicemultiplyEditForm& f) { f.SetClones(23.0f / 31.0f); }, kClones, 24.0f},
    {"Mix", [](tVoicemultiplyEditForm& f) { f.SetMix(0.5f); }, kMix, 0.5f},
    {"SectionC", [](tVoicemultiplyEditForm& f) { f.SetSection(2); }, kSection, 2.0f},
};

// An effect with its editor open, started at 44.1 kHz. `released` is applied on this (the
// GUI) thread before the block `releaseBefore` while the audio thread waits between two
// blocks; with releaseBefore 0 the whole run sounds with the released value.
tStereo RunWithEditor(const tRelease* released, size_t releaseBefore, float* settingAfter = nullptr) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kTiming, kHostTiming);
  auto* editor = new tVoicemultiplyEditor(effect);  // owned by the effect from here on
  static int parentWindow = 0;
  EXPECT_EQ(editor->open(&parentWindow), 1);
  tVoicemultiplyEditForm& form = *editor->Form();
  effect.setSampleRate(static_cast<float>(kRateHz));
  effect.setBlockSize(kBlockSamples);
  effect.resume();

  std::vector<float> input = ToneInput(kRunBlocks);
  tStereo output(input.size());
  tRandom::SetState(kRandomStart);
  const std::vector<size_t> changes =
      released ? std::vector<size_t>{releaseBefore} : std::vector<size_t>{};
  RunWithChangesBetweenBlocks(
      kRunBlocks, changes,
      [&](size_t block) {
        const size_t start = block * kBlockSamples;
        float* inputs[] = {input.data() + start};
        float* outputs[] = {output.left.data() + start, output.right.data() + start};
        effect.processReplacing(inputs, outputs, kBlockSamples);
      },
      [&](size_t) { released->release(form); });
  if (settingAfter && released) *settingAfter = effect.Setting(released->index);
  editor->close();
  return output;
}

class KnobReleasedInTheEditor : public ::testing::TestWithParam<tRelease> {};

TEST_P(KnobReleasedInTheEditor, ChangesTheSoundWithoutClicks) {
  const tRelease& release = GetParam();
  const tStereo unchanged = RunWithEditor(nullptr, 0);
  tScale scale;
  scale.Include(unchanged);
  scale.Include(RunWithEditor(&release, 0));
  ASSERT_TRUE(scale.Ordinary()) << scale.Account();

  float settingAfter = 0.0f;
  const tStereo released = RunWithEditor(&release, kBeforeBlocks, &settingAfter);
  EXPECT_EQ(settingAfter, release.setting) << "the release did not reach the effect";
  const size_t releaseStart = kBeforeBlocks * kBlockSamples;
  const size_t firstDifference = FirstDifference(released, unchanged);
  EXPECT_GE(firstDifference, releaseStart) << "the output moved before the release";
  EXPECT_LT(firstDifference, releaseStart + kAudibleWithin) << "the release is not heard";
  const tClickVerdict verdict = JudgeClicks(released, scale);
  EXPECT_EQ(verdict.count, 0u) << release.control << " released at 0.5 s:\n" << verdict.account;
}

INSTANTIATE_TEST_SUITE_P(FewControls, KnobReleasedInTheEditor, ::testing::ValuesIn(kReleases),
                         [](const ::testing::TestParamInfo<tRelease>& info) {
                           return std::string(info.param.control);
                         });

}  // namespace
}  // namespace vm::live
