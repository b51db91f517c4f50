// The formant shifter heard as a voice: each head keeps the pitch while the peaks of the
// spectral envelope (the formants) move by its ratio. The envelope estimator is checked
// first on vowels whose formants are known.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "playback/FormantShifter.h"
#include "signals/Envelope.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {
using namespace signals;

constexpr double kF0Hz = 150.0;

TEST(EnvelopeEstimator, FindsTheFormantsOfASynthesisedVowel) {
  const struct {
    int rate;
    const tVowel* vowel;
    double f0Hz;
  } cases[] = {{44100, &kVowelA, 150.0}, {96000, &kVowelA, 150.0}, {48000, &kVowelA, 150.0},
               {44100, &kVowelI, 150.0}};
  for (const auto& c : cases) {
    const std::vector<float> x = SungVowel(c.f0Hz, c.rate, c.rate / 2, 0.5, *c.vowel);
    const auto peaks = EnvelopePeaksOf(x, c.rate / 4, c.rate * 4 / 100, c.rate);
    ASSERT_EQ(peaks.size(), 3u) << c.rate << " Hz, F1 " << c.vowel->formantHz[0];
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(peaks[k].hz / c.vowel->formantHz[k], 1.0, 0.04)
          << c.rate << " Hz, F" << k + 1 << " of " << c.vowel->formantHz[0] << "/"
          << c.vowel->formantHz[1] << ", f0 " << c.f0Hz;
  }
}

// One head's output for a sung "ah" at f0 150 Hz; the other two heads are off.
enum class tHead { Half, Unison, Double };

std::vector<float> HeadOutput(int rate, tHead which, float ratio, float lowFactor,
                              const std::vector<float>& input) {
  auto shifter = std::make_unique<tFormantShifter>(rate);
  shifter->HalfOn = which == tHead::Half;
  shifter->UnisonOn = which == tHead::Unison;
  shifter->DoubleOn = which == tHead::Double;
  const float* out = which == tHead::Half     ? &shifter->HalfOut
                     : which == tHead::Unison ? &shifter->UnisonOut
                                              : &shifter->DoubleOut;
  shifter->SetHalfHead(ratio, lowFactor, 8000.0f, 0.05f, 0.8f);
  shifter->SetUnisonHead(ratio, lowFactor, 8000.0f, 0.05f, 0.8f);
  shifter->SetDoubleHead(ratio, lowFactor, 8000.0f, 0.05f, 0.8f);
  std::vector<float> output;
  output.reserve(input.size());
  for (float x : input) {
    shifter->Process(x);
    output.push_back(*out);
  }
  return output;
}

// F2 and F3 stand well clear of the harmonics' spacing and of each other, so their peaks
// are the robust measure of the shift; F1 sits too close to the lowest harmonics. (Below
// a ratio of about 0.65 the moved F1 and F2 share three harmonics of 150 Hz and no
// envelope estimate can part them, so the alto case uses the section's highest ratio.)
TEST(FormantShifterEnvelope, EachHeadKeepsThePitchAndMovesTheFormantsByItsRatio) {
  const struct {
    int rate;
    tHead head;
    float ratio;
    float lowFactor;  // band's lower edge in multiples of f0
  } cases[] = {
      {44100, tHead::Unison, 1.3f, 0.8f},  {44100, tHead::Unison, 0.85f, 0.8f},
      {96000, tHead::Unison, 1.3f, 0.8f},  {96000, tHead::Unison, 0.85f, 0.8f},
      {44100, tHead::Half, 1.76f, 0.8f},   // the bass section's default ratio
      {96000, tHead::Double, 0.675f, 1.5f}, // the alto section's highest ratio
  };
  for (const auto& c : cases) {
    const std::vector<float> vowel = SungVowel(kF0Hz, c.rate, c.rate);
    const std::size_t from = c.rate / 2, window = c.rate * 4 / 100;
    const auto before = EnvelopePeaksOf(vowel, from, window, c.rate);
    ASSERT_EQ(before.size(), 3u);
    const std::vector<float> out = HeadOutput(c.rate, c.head, c.ratio, c.lowFactor, vowel);
    const char* name = c.head == tHead::Half ? "half" : c.head == tHead::Unison ? "unison" : "double";

    const double pitch = EstimatePitchHz(out, from, c.rate / 20, c.rate, 60.0, 600.0);
    EXPECT_NEAR(pitch / kF0Hz, 1.0, 0.01) << name << " head, ratio " << c.ratio << ", " << c.rate << " Hz";

    const auto after = EnvelopePeaksOf(out, from, window, c.rate);
    for (int k = 1; k < 3; ++k) {
      const double moved = NearestPeakHz(after, before[k].hz * c.ratio);
      EXPECT_NEAR(moved / before[k].hz, c.ratio, 0.1 * c.ratio)
          << name << " head, ratio " << c.ratio << ", " << c.rate << " Hz: F" << k + 1 << " "
          << before[k].hz << " Hz went to " << moved << " Hz";
    }
  }
}

}  // namespace
}  // namespace vm
