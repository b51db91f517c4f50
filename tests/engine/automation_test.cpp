// Changes while sound runs must not click. A 220 Hz sine through 16 voices; a parameter
// swept from 0.3 to 0.7 with one change per 256-sample block (host automation), or moved
// there in one jump (a knob released in the editor, which writes the store). No output
// sample's second difference may exceed 6 times the largest one of the same run without
// the change, held at either end. The sine fades in and the measure starts after the
// longest voice delay, so the reference is the steady ensemble, not its onset.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <vector>

#include "EngineFixture.h"
#include "analysis/Random.h"

namespace vm {
namespace {

constexpr double kRateHz = 44100.0;
constexpr int kBlock = 256;
constexpr int kSettleBlocks = 100;  // 0.58 s: past the longest delay and the onset
constexpr int kSweepBlocks = 690;   // 4 s
constexpr float kFrom = 0.3f, kTo = 0.7f;
constexpr double kAllowedRatio = 6.0;

std::vector<float> Sine(size_t length) {
  std::vector<float> x(length);
  const size_t fadeIn = static_cast<size_t>(0.05 * kRateHz);
  for (size_t i = 0; i < length; ++i) {
    const double fade = i < fadeIn ? 0.5 - 0.5 * std::cos(M_PI * i / fadeIn) : 1.0;
    x[i] = static_cast<float>(0.5 * fade * std::sin(2 * M_PI * 220.0 * i / kRateHz));
  }
  return x;
}

enum class tChange { Automation, EditorRelease };

struct tRun {
  int index;
  tChange change;
};

void PrintTo(const tRun& r, std::ostream* os) {
  *os << kParameters[r.index].name
      << (r.change == tChange::Automation ? " automated" : " released in the editor");
}

// The largest |x[n+1] - 2 x[n] + x[n-1]| of either output from `from` on.
double LargestSecondDifference(const test::tStereo& out, size_t from) {
  double largest = 0.0;
  for (const auto* channel : {&out.left, &out.right})
    for (size_t n = std::max<size_t>(from, 1); n + 1 < channel->size(); ++n)
      largest = std::max(largest, std::fabs(double((*channel)[n + 1]) - 2.0 * (*channel)[n] +
                                            (*channel)[n - 1]));
  return largest;
}

// What makes a parameter audible: the section levels and formants need their sections,
// the dry delay a dry share.
void SetContext(tVoicemultiply& effect, int index) {
  switch (index) {
    case kBassFmnts: case kBassLevel: case kAltoFmnts: case kAltoLevel:
      effect.setParameter(kSplit, 1.0f);  // bass, unison and alto
      break;
    case kDryDelay: effect.setParameter(kMix, 0.5f); break;
    default: break;
  }
}

// Renders block by block from `start`; before block b, `change` may move the parameter.
template <class F>
test::tStereo RenderWith(int index, float start, F&& change) {
  const uint32_t saved = tRandom::State();
  tRandom::SetState(0x12345u);
  tVoicemultiply effect(nullptr);
  SetContext(effect, index);
  effect.setParameter(index, start);
  const int blocks = kSettleBlocks + kSweepBlocks + 20;
  std::vector<float> in = Sine(static_cast<size_t>(blocks) * kBlock);
  test::tStereo out{std::vector<float>(in.size()), std::vector<float>(in.size())};
  for (int b = 0; b < blocks; ++b) {
    change(effect, b);
    float* inputs[] = {in.data() + b * kBlock};
    float* outputs[] = {out.left.data() + b * kBlock, out.right.data() + b * kBlock};
    effect.processReplacing(inputs, outputs, kBlock);
  }
  tRandom::SetState(saved);
  return out;
}

class ClickFree : public testing::TestWithParam<tRun> {};

TEST_P(ClickFree, SecondDifferenceStaysWithinSixTimesTheSteadyOne) {
  const tRun run = GetParam();
  const size_t from = static_cast<size_t>(kSettleBlocks) * kBlock;
  const auto unchanged = [](tVoicemultiply&, int) {};
  const test::tStereo steady = RenderWith(run.index, kFrom, unchanged);
  const test::tStereo steadyAtEnd = RenderWith(run.index, kTo, unchanged);
  const test::tStereo changed = RenderWith(run.index, kFrom, [&](tVoicemultiply& effect, int b) {
    const int step = b - kSettleBlocks;
    if (step < 0 || step >= kSweepBlocks) return;
    if (run.change == tChange::Automation) {
      effect.setParameter(run.index, kFrom + (kTo - kFrom) * step / (kSweepBlocks - 1));
    } else if (step == kSweepBlocks / 4) {
      effect.Parameters().SetSetting(run.index, SettingFromHost(run.index, kTo));
    }
  });
  ASSERT_NE(changed.left, steady.left) << "the change must be heard at all";
  // The steady ensemble at either end: a louder or brighter setting has larger steps.
  const double reference =
      std::max(LargestSecondDifference(steady, from), LargestSecondDifference(steadyAtEnd, from));
  ASSERT_GT(reference, 1e-4);
  EXPECT_LE(LargestSecondDifference(changed, from), kAllowedRatio * reference);
}

std::vector<tRun> AllRuns() {
  std::vector<tRun> runs;
  for (const tChange change : {tChange::Automation, tChange::EditorRelease})
    for (int index = 0; index < kParameterCount; ++index) runs.push_back({index, change});
  return runs;
}

INSTANTIATE_TEST_SUITE_P(
    EveryParameter, ClickFree, testing::ValuesIn(AllRuns()),
    [](const testing::TestParamInfo<tRun>& info) {
      return std::string(kParameters[info.param.index].name) +
             (info.param.change == tChange::Automation ? "Automated" : "Released");
    });

}  // namespace
}  // namespace vm
