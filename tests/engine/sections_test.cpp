// The section engines inside the ensemble: which section the voices hear (pitch an
// octave down or up), the unison section keeping its pitch when formant-shifted, and the
// section levels in dB.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "EngineFixture.h"
#include "signals/Envelope.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr double kF0Hz = 200.0;

// One static voice so the output is the section's signal, delayed and scaled.
test::tStereo RenderSection(float split, float unisonFmnts, float bassLevel = 0.45f) {
  tVoicemultiply effect(nullptr);
  test::MakeStatic(effect);
  effect.setParameter(kClones, 0.0f);
  effect.setParameter(kSplit, split);
  effect.setParameter(kUnisonFmnts, unisonFmnts);
  effect.setParameter(kBassLevel, bassLevel);
  return test::Render(effect, signals::SungVowel(kF0Hz, kRateHz, kRateHz * 3 / 2));
}

double OutputPitchHz(const test::tStereo& out) {
  return signals::EstimatePitchHz(out.left, kRateHz * 7 / 10, 4096, kRateHz, 50.0, 1000.0);
}

TEST(Sections, EachSplitSoundsAtItsOctave) {
  const struct {
    float split;        // host value
    float unisonFmnts;
    double pitchRatio;  // output f0 / input f0
  } cases[] = {
      {0.0f, 0.5f, 1.0},  // unison, the input itself
      {0.0f, 1.0f, 1.0},  // unison, formants up by 1.3: pitch kept
      {0.0f, 0.0f, 1.0},  // unison, formants down by 0.85
      {0.2f, 0.5f, 0.5},  // Split 1: bass, an octave down
      {0.4f, 0.5f, 2.0},  // Split 2: alto, an octave up
  };
  for (const auto& c : cases) {
    const double pitch = OutputPitchHz(RenderSection(c.split, c.unisonFmnts));
    EXPECT_NEAR(pitch / kF0Hz, c.pitchRatio, 0.02 * c.pitchRatio)
        << "Split value " << c.split << ", UnisonFmnts " << c.unisonFmnts;
  }
}

TEST(Sections, BassLevelMovesTheBassSectionByItsDecibels) {
  const auto unity = RenderSection(0.2f, 0.5f, 0.5f);   // 10^0 = 0 dB
  const auto loud = RenderSection(0.2f, 0.5f, 1.0f);    // 10^0.5 = +10 dB
  const size_t from = kRateHz / 2, to = kRateHz * 3 / 2;
  EXPECT_GT(signals::RmsDb(unity.left, from, to), -40.0);  // the section does sound
  EXPECT_NEAR(signals::RmsDb(loud.left, from, to) - signals::RmsDb(unity.left, from, to), 10.0, 0.05);
}

TEST(Sections, UnshiftedUnisonIsTheInputAndShiftedUnisonDiffers) {
  const auto plain = RenderSection(0.0f, 0.51f);  // within 0.02 of the middle: not shifted
  const auto reference = RenderSection(0.0f, 0.5f);
  EXPECT_EQ(plain.left, reference.left);
  const auto shifted = RenderSection(0.0f, 0.6f);
  EXPECT_NE(shifted.left, reference.left);
}

TEST(Sections, AbsurdInputNeverReachesTheRingsAsNonFinite) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kSplit, 1.0f);        // all three sections
  effect.setParameter(kUnisonFmnts, 1.0f);  // unison shifted as well
  std::vector<float> in = signals::SungVowel(kF0Hz, kRateHz, kRateHz * 2);
  for (size_t i = 1000; i < 3000; ++i) in[i] = (i % 2 ? 1e30f : -1e30f);
  const auto out = test::Render(effect, in);
  for (size_t i = 0; i < out.left.size(); ++i) {
    ASSERT_TRUE(std::isfinite(out.left[i])) << i;
    ASSERT_TRUE(std::isfinite(out.right[i])) << i;
  }
  // A second after the burst the sections sound again.
  EXPECT_GT(signals::RmsDb(out.left, kRateHz * 3 / 2, kRateHz * 2), -40.0);
}

std::string Name(tSection section) {
  return section == tSection::Bass ? "bass" : section == tSection::Alto ? "alto" : "unison";
}

// Which ring each voice reads, for every Split: by the voice's own index, whatever the
// Section order and however many voices sound. Every case starts from Split 2 (all alto)
// so that a voice left on its old ring shows.
TEST(Sections, VoicesReadTheirSectionByVoiceIndex) {
  using S = tSection;
  const auto pattern = [](int split, int i) {
    switch (split) {
      case 0: return S::Unison;
      case 1: return S::Bass;
      case 2: return S::Alto;
      case 3: return i % 2 == 0 ? S::Bass : S::Unison;
      case 4: return i % 2 == 0 ? S::Unison : S::Alto;
      default: return i % 3 == 0 ? S::Bass : i % 3 == 1 ? S::Unison : S::Alto;
    }
  };
  const struct {
    int split;
    float clones;   // host value: 0 one voice, 1 all 32
    float section;  // host value: 0 order A, 0.25 B, 0.75 D
  } cases[] = {{3, 1.0f, 0.0f}, {4, 1.0f, 0.0f}, {5, 1.0f, 0.0f}, {5, 1.0f, 0.25f},
               {5, 1.0f, 0.75f}, {5, 2.0f / 31, 0.0f}, {4, 3.0f / 31, 0.75f}, {3, 4.0f / 31, 0.25f},
               {0, 1.0f, 0.0f}, {1, 1.0f, 0.25f}};
  for (const auto& c : cases) {
    tVoicemultiply effect(nullptr);
    effect.setParameter(kSplit, 0.4f);
    test::Apply(effect);
    effect.setParameter(kSection, c.section);
    effect.setParameter(kClones, c.clones);
    effect.setParameter(kSplit, c.split / 5.0f);
    test::Apply(effect);
    ASSERT_EQ(int(effect.Setting(kSplit)), c.split);
    for (int i = 0; i < int(effect.Setting(kClones)); ++i)
      EXPECT_EQ(Name(effect.Voice(i).Source()), Name(pattern(c.split, i)))
          << "Split " << c.split << ", voice " << i << " of " << int(effect.Setting(kClones))
          << ", Section " << c.section;
  }
}

// With three static voices each reading one section, every section's level moves its own
// part of the spectrum: a 200 Hz vowel gives the bass section lines at odd multiples of
// 100 Hz that no other section has; the unison section brings the odd harmonics of 200 Hz
// and the alto section the multiples of 400 Hz. A section that is off ignores its level.
TEST(Sections, EachSectionOfASplitAnswersToItsOwnLevel) {
  enum tLines { kBassOnly, kOddOfF0, kMultiplesOf2F0, kWhole };
  const struct {
    int split;
    tParameterIndex level;
    tLines lines;
    double minRiseDb, maxRiseDb;  // change of those lines when the level goes from -10 to +10 dB
  } cases[] = {
      {5, kBassLevel, kBassOnly, 19.5, 20.5},     // only bass has them: exactly its 20 dB
      {5, kUnisonLevel, kOddOfF0, 8.0, 20.5},     // shared with the bass section
      {5, kUnisonLevel, kBassOnly, -0.5, 0.5},
      {5, kAltoLevel, kMultiplesOf2F0, 4.0, 20.5},  // shared with bass and unison
      {5, kAltoLevel, kBassOnly, -0.5, 0.5},
      {3, kBassLevel, kBassOnly, 19.5, 20.5},
      {3, kAltoLevel, kWhole, 0.0, 0.0},          // no alto section in Split 3
      {4, kAltoLevel, kMultiplesOf2F0, 4.0, 20.5},
      {4, kBassLevel, kWhole, 0.0, 0.0},          // no bass section in Split 4
  };
  const std::vector<float> vowel = signals::SungVowel(kF0Hz, kRateHz, kRateHz * 3 / 2);
  const auto render = [&](int split, tParameterIndex level, float value) {
    tVoicemultiply effect(nullptr);
    test::MakeStatic(effect);
    effect.setParameter(kClones, 2.0f / 31);  // three voices: bass, unison, alto in Split 5
    effect.setParameter(kSplit, split / 5.0f);
    effect.setParameter(level, value);
    return test::Render(effect, vowel).left;
  };
  const size_t from = kRateHz * 7 / 10, length = kRateHz / 2;
  const auto linesDb = [&](const std::vector<float>& x, tLines lines) {
    switch (lines) {
      case kBassOnly: return signals::SeriesDb(x, from, length, kRateHz, kF0Hz / 2, kF0Hz, 3000.0);
      case kOddOfF0: return signals::SeriesDb(x, from, length, kRateHz, kF0Hz, 2 * kF0Hz, 3000.0);
      case kMultiplesOf2F0: return signals::SeriesDb(x, from, length, kRateHz, 2 * kF0Hz, 2 * kF0Hz, 3000.0);
      default: return signals::RmsDb(x, from, from + length);
    }
  };
  for (const auto& c : cases) {
    const std::vector<float> soft = render(c.split, c.level, 0.0f), loud = render(c.split, c.level, 1.0f);
    if (c.lines == kWhole) {
      EXPECT_EQ(soft, loud) << "Split " << c.split << ", level " << c.level;
      continue;
    }
    EXPECT_GT(linesDb(soft, c.lines) - signals::RmsDb(soft, from, from + length), -30.0)
        << "Split " << c.split << ", level " << c.level << ": the lines are there at all";
    const double rise = linesDb(loud, c.lines) - linesDb(soft, c.lines);
    EXPECT_GE(rise, c.minRiseDb) << "Split " << c.split << ", level " << c.level << ", lines " << c.lines;
    EXPECT_LE(rise, c.maxRiseDb) << "Split " << c.split << ", level " << c.level << ", lines " << c.lines;
  }
}

}  // namespace
}  // namespace vm
