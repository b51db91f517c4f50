// Formant correction of the bass and alto sections, heard through the ensemble: one static
// voice reads the section's ring, so the output is the section delayed. The bass copy has
// its envelope raised by 2 - 0.6 BassFmnts before its octave down halves every frequency,
// so its formants end at (2 - 0.6 BassFmnts) / 2 of the voice's: kept at 0, 0.7 at 1. The
// alto copy is lowered to 0.5 + 0.175 AltoFmnts before the octave up doubles everything:
// kept at 0, raised by 1.35 at 1. Without the correction they would sit an octave away.

#include <gtest/gtest.h>

#include <vector>

#include "EngineFixture.h"
#include "signals/Envelope.h"
#include "signals/Signals.h"

namespace vm {
namespace {
using namespace signals;

constexpr int kRateHz = 44100;
constexpr double kF0Hz = 150.0;

std::vector<float> SectionVoice(float split, tParameterIndex formants, float value,
                                const std::vector<float>& input) {
  tVoicemultiply effect(nullptr);
  test::MakeStatic(effect);
  effect.setParameter(kClones, 0.0f);  // one voice
  effect.setParameter(kSplit, split);
  effect.setParameter(kMix, 1.0f);     // no dry share
  effect.setParameter(formants, value);
  return test::Render(effect, input).left;
}

// The formants that stand out clearly in each section's envelope (the octave-down copy's
// F3 and the octave-up copy's F1 and F2 merge or fade into their neighbours) must sit where
// the setting puts them, within the estimator's accuracy on a transposed voice.
TEST(SectionFormants, OctavedSectionsKeepOrMoveTheEnvelopeByTheirSetting) {
  const struct {
    const char* section;
    float split;  // host value: 0.2 bass only, 0.4 alto only
    tParameterIndex formants;
    float value;
    int formant;   // 1 = F1 of the vowel
    double ratio;  // output formant / input formant
  } cases[] = {
      {"bass", 0.2f, kBassFmnts, 0.0f, 1, 1.0},  {"bass", 0.2f, kBassFmnts, 0.0f, 2, 1.0},
      {"bass", 0.2f, kBassFmnts, 0.4f, 1, 0.88}, {"bass", 0.2f, kBassFmnts, 0.4f, 2, 0.88},
      {"bass", 0.2f, kBassFmnts, 1.0f, 1, 0.7},  {"bass", 0.2f, kBassFmnts, 1.0f, 2, 0.7},
      {"alto", 0.4f, kAltoFmnts, 0.0f, 2, 1.0},  {"alto", 0.4f, kAltoFmnts, 0.0f, 3, 1.0},
      {"alto", 0.4f, kAltoFmnts, 0.4f, 3, 1.14}, {"alto", 0.4f, kAltoFmnts, 1.0f, 3, 1.35},
  };
  const std::vector<float> vowel = SungVowel(kF0Hz, kRateHz, kRateHz * 3 / 2);
  const std::size_t from = kRateHz * 7 / 10, window = kRateHz * 6 / 100;
  const auto voice = EnvelopePeaksOf(vowel, from, window, kRateHz);
  ASSERT_EQ(voice.size(), 3u) << "the vowel's three formants";
  for (const auto& c : cases) {
    const auto peaks = EnvelopePeaksOf(SectionVoice(c.split, c.formants, c.value, vowel), from,
                                       window, kRateHz, 150.0, 7000.0);
    const double hz = voice[c.formant - 1].hz;
    const double moved = NearestPeakHz(peaks, hz * c.ratio);
    EXPECT_NEAR(moved / hz, c.ratio, 0.12 * c.ratio)
        << c.section << " formants " << c.value << ": F" << c.formant << " " << hz
        << " Hz went to " << moved << " Hz";
  }
}

}  // namespace
}  // namespace vm
