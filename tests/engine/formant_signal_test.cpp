// The unison section with shifted formants, heard through the ensemble: one static voice
// reads the unison ring, so the output is the shifted copy delayed by a millisecond. Its
// pitch stays the input's while the envelope peaks move by the UnisonFmnts ratio.

#include <gtest/gtest.h>

#include <vector>

#include "EngineFixture.h"
#include "signals/Envelope.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {
using namespace signals;

constexpr double kF0Hz = 150.0;

std::vector<float> UnisonVoice(int rate, float unisonFmnts, const std::vector<float>& input) {
  tVoicemultiply effect(nullptr);
  effect.setSampleRate(static_cast<float>(rate));
  test::MakeStatic(effect);
  effect.setParameter(kClones, 0.0f);  // one voice
  effect.setParameter(kSplit, 0.0f);   // unison only
  effect.setParameter(kMix, 1.0f);     // no dry share
  effect.setParameter(kUnisonFmnts, unisonFmnts);
  return test::Render(effect, input).left;
}

TEST(UnisonFormants, PitchStaysWhileTheEnvelopeMovesByTheRatio) {
  const struct {
    int rate;
    float unisonFmnts;
    double ratio;  // 0.85 + 0.3 UnisonFmnts below the middle, 1 + 0.6 (UnisonFmnts - 0.5) above
  } cases[] = {{44100, 1.0f, 1.3}, {44100, 0.0f, 0.85}, {96000, 1.0f, 1.3},
               {96000, 0.0f, 0.85}, {44100, 0.75f, 1.15}};
  for (const auto& c : cases) {
    const std::vector<float> vowel = SungVowel(kF0Hz, c.rate, c.rate);
    const std::size_t from = c.rate / 2, window = c.rate * 4 / 100;
    const auto plain = EnvelopePeaksOf(UnisonVoice(c.rate, 0.5f, vowel), from, window, c.rate);
    ASSERT_EQ(plain.size(), 3u) << c.rate << " Hz: the unshifted voice shows the vowel's formants";
    const std::vector<float> shifted = UnisonVoice(c.rate, c.unisonFmnts, vowel);

    const double pitch = EstimatePitchHz(shifted, from, c.rate / 20, c.rate, 60.0, 600.0);
    EXPECT_NEAR(pitch / kF0Hz, 1.0, 0.01) << "UnisonFmnts " << c.unisonFmnts << ", " << c.rate << " Hz";

    const auto peaks = EnvelopePeaksOf(shifted, from, window, c.rate);
    for (int k = 1; k < 3; ++k) {
      const double moved = NearestPeakHz(peaks, plain[k].hz * c.ratio);
      EXPECT_NEAR(moved / plain[k].hz, c.ratio, 0.1 * c.ratio)
          << "UnisonFmnts " << c.unisonFmnts << ", " << c.rate << " Hz: F" << k + 1 << " "
          << plain[k].hz << " Hz went to " << moved << " Hz";
    }
  }
}

}  // namespace
}  // namespace vm
