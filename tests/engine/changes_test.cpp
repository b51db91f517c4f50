// How settings reach a running engine: taken at the start of a block, several calls before
// one block applied as one, equal values ignored, gains and formants never touching the
// voices, a voice change that arrives during a crossfade taken when it ends, and a sample
// rate that arrives while the host runs the effect kept for its next suspend or resume.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "EngineFixture.h"
#include "analysis/Random.h"

namespace vm {
namespace {

constexpr uint32_t kSeed = 0xC0FFEEu;

std::vector<float> Tone(size_t length) {
  std::vector<float> x(length);
  for (size_t i = 0; i < length; ++i) x[i] = 0.4f * std::sin(0.031f * i) + 0.1f * std::sin(0.17f * i);
  return x;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Renders `before` samples, makes `changes`, renders `after` more; the generator starts
// from the same state every time, so two runs differ only by their changes.
template <class F>
test::tStereo RenderAround(F&& changes, size_t before = 22050, size_t after = 22050,
                           int block = 256) {
  const uint32_t saved = tRandom::State();
  tRandom::SetState(kSeed);
  tVoicemultiply effect(nullptr);
  effect.setParameter(kVibRandom, 1.0f);  // draws from the generator: any extra draw shows
  const std::vector<float> input = Tone(before + after);
  test::tStereo out = test::Render(effect, {input.begin(), input.begin() + before}, block);
  changes(effect);
  const test::tStereo rest = test::Render(effect, {input.begin() + before, input.end()}, block);
  out.left.insert(out.left.end(), rest.left.begin(), rest.left.end());
  out.right.insert(out.right.end(), rest.right.begin(), rest.right.end());
  tRandom::SetState(saved);
  return out;
}

TEST(Changes, CallsBeforeOneBlockAreOneChangeWithTheLatestValues) {
  const auto once = RenderAround([](tVoicemultiply& e) {
    e.setParameter(kTiming, 0.8f);
    e.setParameter(kVibRate, 0.2f);
  });
  const auto several = RenderAround([](tVoicemultiply& e) {
    e.setParameter(kTiming, 0.1f);
    e.setParameter(kVibRate, 0.9f);
    e.setParameter(kTiming, 0.8f);
    e.Parameters().SetSetting(kVibRate, 0.6f);  // the editor's write-back in between
    e.setParameter(kVibRate, 0.2f);
  });
  const auto unchanged = RenderAround([](tVoicemultiply&) {});
  EXPECT_FALSE(SameBits(once.left, unchanged.left));
  EXPECT_TRUE(SameBits(several.left, once.left));
  EXPECT_TRUE(SameBits(several.right, once.right));
}

TEST(Changes, AValueEqualToTheStoredOneChangesNothing) {
  const auto unchanged = RenderAround([](tVoicemultiply&) {});
  const struct {
    const char* what;
    void (*change)(tVoicemultiply&);
  } cases[] = {
      {"the same value", [](tVoicemultiply& e) { e.setParameter(kTiming, 0.5f); }},
      {"away and back before a block",
       [](tVoicemultiply& e) {
         e.setParameter(kSection, 0.75f);
         e.setParameter(kGain, 0.9f);
         e.setParameter(kSection, 0.0f);
         e.setParameter(kGain, 0.5f);
       }},
      {"a host value giving the same count", [](tVoicemultiply& e) { e.setParameter(kClones, 15.2f / 31); }},
  };
  for (const auto& c : cases) {
    const auto out = RenderAround(c.change);
    EXPECT_TRUE(SameBits(out.left, unchanged.left)) << c.what;
    EXPECT_TRUE(SameBits(out.right, unchanged.right)) << c.what;
  }
}

// The voices' walks and ramps after a change, against a run without it.
struct tWalks {
  std::vector<int32_t> vibPos, dynPos;
};
tWalks WalksAfter(const std::function<void(tVoicemultiply&)>& change) {
  const uint32_t saved = tRandom::State();
  tRandom::SetState(kSeed);
  tVoicemultiply effect(nullptr);
  test::Render(effect, Tone(20000));
  change(effect);
  test::Render(effect, Tone(20000));
  tWalks walks;
  for (int i = 0; i < 16; ++i) {
    walks.vibPos.push_back(effect.Voice(i).VibPos());
    walks.dynPos.push_back(effect.Voice(i).DynPos());
  }
  EXPECT_FALSE(effect.Ensemble().VoicesFading());
  tRandom::SetState(saved);
  return walks;
}

TEST(Changes, GainsAndFormantsNeverRestartTheVoices) {
  const tWalks reference = WalksAfter([](tVoicemultiply&) {});
  const struct {
    tParameterIndex index;
    float value;
  } cases[] = {{kGain, 0.9f}, {kMix, 0.2f}, {kUnisonLevel, 0.1f}, {kBassLevel, 1.0f},
               {kAltoLevel, 0.0f}, {kDryDelay, 0.7f}, {kBassFmnts, 0.9f}, {kAltoFmnts, 0.1f},
               {kUnisonFmnts, 0.9f}};
  for (const auto& c : cases) {
    const tWalks walks = WalksAfter([&](tVoicemultiply& e) { e.setParameter(c.index, c.value); });
    EXPECT_EQ(walks.vibPos, reference.vibPos) << kParameters[c.index].name;
    EXPECT_EQ(walks.dynPos, reference.dynPos) << kParameters[c.index].name;
  }
  // A voice setting does restart them.
  const tWalks restarted = WalksAfter([](tVoicemultiply& e) { e.setParameter(kFocus, 0.3f); });
  EXPECT_NE(restarted.vibPos, reference.vibPos);
}

// A voice change starts a crossfade at the next block; a second one during that fade waits
// for its end, starts right there (mid-block) with the latest values, and fades again.
TEST(Changes, AVoiceChangeDuringAFadeIsTakenWhenTheFadeEnds) {
  tVoicemultiply effect(nullptr);
  test::Render(effect, Tone(8192), 128);
  const int32_t fadeLength = effect.Ensemble().CrossfadeSamples();
  ASSERT_EQ(fadeLength, 441);  // 10 ms at 44.1 kHz

  std::vector<float> in = Tone(128), left(128), right(128);
  float* inputs[] = {in.data()};
  float* outputs[] = {left.data(), right.data()};
  effect.setParameter(kTiming, 0.9f);
  effect.processReplacing(inputs, outputs, 128);  // fade: 128 of 441
  EXPECT_TRUE(effect.Ensemble().VoicesFading());
  const int32_t delayAtFirstChange = effect.Voice(1).Delay();
  effect.setParameter(kTiming, 0.2f);
  effect.setParameter(kTiming, 0.3f);
  effect.processReplacing(inputs, outputs, 128);  // 256 of 441: still the first fade
  EXPECT_EQ(effect.Voice(1).Delay(), delayAtFirstChange);
  effect.processReplacing(inputs, outputs, 128);  // 384
  EXPECT_EQ(effect.Voice(1).Delay(), delayAtFirstChange);
  // The first fade ends 57 samples into this block; the waiting change starts there.
  effect.processReplacing(inputs, outputs, 128);
  EXPECT_TRUE(effect.Ensemble().VoicesFading());
  EXPECT_EQ(effect.Voice(1).Delay(), std::lround((441.0 - 44.1) * (29 * 0.3 + 1) + 44.1));
  // 71 + 128 * 2 = 327 samples in, it still runs; 128 more end it, and nothing waits.
  for (int b = 0; b < 2; ++b) effect.processReplacing(inputs, outputs, 128);
  EXPECT_TRUE(effect.Ensemble().VoicesFading());
  effect.processReplacing(inputs, outputs, 128);
  EXPECT_FALSE(effect.Ensemble().VoicesFading());
}

// Without vibrato depth and level movement a voice is a fixed delay and gain: a change of
// the vibrato rate then crossfades every voice between two identical readings, and the
// output must go on as if nothing changed (up to the roundings of the two sums). A fading
// voice that read its ring anywhere else would show.
TEST(Changes, ACrossfadeBetweenEqualReadingsLeavesTheOutputAsItWas) {
  for (const int block : {64, 441, 1000}) {
    auto render = [&](bool change) {
      tVoicemultiply effect(nullptr);
      test::MakeStatic(effect);
      effect.setParameter(kClones, 1.0f);  // 32 voices, delays from 1 to 140 ms
      const std::vector<float> input = Tone(40000);
      test::tStereo out = test::Render(effect, {input.begin(), input.begin() + 20000}, block);
      if (change) effect.setParameter(kVibRate, 0.1f);
      const test::tStereo rest = test::Render(effect, {input.begin() + 20000, input.end()}, block);
      EXPECT_EQ(effect.Ensemble().VoicesFading(), false);
      out.left.insert(out.left.end(), rest.left.begin(), rest.left.end());
      return out.left;
    };
    const std::vector<float> steady = render(false), changed = render(true);
    double largestError = 0.0;
    for (size_t i = 0; i < steady.size(); ++i)
      largestError = std::max(largestError, std::fabs(double(changed[i]) - steady[i]));
    EXPECT_LT(largestError, 1e-6) << "block " << block;
  }
}

TEST(Changes, ARateArrivingWhileRunningWaitsForTheNextSuspendOrResume) {
  for (const bool bySuspend : {true, false}) {
    tVoicemultiply effect(nullptr);
    effect.resume();
    test::Render(effect, Tone(1024));
    effect.setSampleRate(96000.0f);
    test::Render(effect, Tone(1024));
    EXPECT_EQ(effect.EngineSampleRate(), 44100.0f);
    EXPECT_EQ(effect.RingLength(), 32768);
    if (bySuspend) {
      effect.suspend();
    } else {
      effect.resume();  // a host that resumes again without suspending
    }
    EXPECT_EQ(effect.EngineSampleRate(), 96000.0f);
    EXPECT_EQ(effect.RingLength(), 65536);
    EXPECT_EQ(effect.Voice(1).Delay(), std::lround(0.1405 * 96000));
  }
}

// After a suspend the settings made meanwhile apply at once, exactly as in a new engine
// given the same settings and the same (silent) rings. Mix 0 leaves the voices out (their
// walks differ) once the dry tap reaches the input.
TEST(Changes, SettingsMadeWhileSuspendedApplyAtOnce) {
  tVoicemultiply effect(nullptr);
  effect.resume();
  test::Render(effect, Tone(4096));
  effect.suspend();
  effect.setParameter(kGain, 0.9f);
  effect.setParameter(kMix, 0.0f);   // dry only: no voice state in the output
  effect.setParameter(kDryDelay, 0.02f);
  effect.resume();
  tVoicemultiply fresh(nullptr);
  fresh.setParameter(kGain, 0.9f);
  fresh.setParameter(kMix, 0.0f);
  fresh.setParameter(kDryDelay, 0.02f);
  const auto out = test::Render(effect, Tone(4096));
  const auto expected = test::Render(fresh, Tone(4096));
  const size_t tap = 882 + 1;  // 0.02 x 0.25 s at 44.1 kHz, and the first input sample
  EXPECT_TRUE(SameBits({out.left.begin() + tap, out.left.end()},
                       {expected.left.begin() + tap, expected.left.end()}));
  EXPECT_FALSE(effect.Ensemble().VoicesFading());
}

}  // namespace
}  // namespace vm
