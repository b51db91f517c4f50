// Synthetic test signals for the cycle analysis and playback tests.
//
//   HarmonicTone: a steady tone of fundamental f0 with harmonics of amplitude 1/k.
//   SungVowel:    a glottal pulse train (Rosenberg pulses) through three formant
//                 resonators, the classic source-filter model of a sung vowel.
//   Silence:      digital zeros.
//
// All return float samples normalised to the requested peak amplitude (1.0 = full scale).
// Helpers measure RMS level in dB over a stretch of samples. Header-only, no state.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vm::signals {

constexpr double kPi = 3.14159265358979323846;

// Scales x so its largest magnitude is `peak`.
inline void NormalisePeak(std::vector<float>& x, double peak) {
  double maxAbs = 0.0;
  for (float v : x) maxAbs = std::max(maxAbs, std::fabs(static_cast<double>(v)));
  if (maxAbs <= 0.0) return;
  const double scale = peak / maxAbs;
  for (float& v : x) v = static_cast<float>(v * scale);
}

// Harmonics 1..`harmonics` of f0 (Hz) with amplitudes 1/k, those above 0.45 fs left out.
inline std::vector<float> HarmonicTone(double f0Hz, int sampleRateHz, std::size_t samples,
                                       double peak = 0.5, int harmonics = 8) {
  std::vector<float> x(samples);
  for (std::size_t n = 0; n < samples; ++n) {
    const double t = static_cast<double>(n) / sampleRateHz;  // seconds
    double v = 0.0;
    for (int k = 1; k <= harmonics && k * f0Hz < 0.45 * sampleRateHz; ++k)
      v += std::sin(2.0 * kPi * k * f0Hz * t) / k;
    x[n] = static_cast<float>(v);
  }
  NormalisePeak(x, peak);
  return x;
}

// Formant frequencies and bandwidths (Hz) of a vowel.
struct tVowel {
  double formantHz[3];
  double bandwidthHz[3];
};
constexpr tVowel kVowelA{{700.0, 1220.0, 2600.0}, {90.0, 110.0, 160.0}};  // "ah"
constexpr tVowel kVowelI{{300.0, 2300.0, 3000.0}, {60.0, 100.0, 150.0}};  // "ee"

// Two-pole resonator at f (Hz) with bandwidth bw (Hz), unit gain at DC removed.
class tResonator {
 public:
  tResonator(double fHz, double bwHz, int sampleRateHz) {
    const double r = std::exp(-kPi * bwHz / sampleRateHz);
    a1_ = 2.0 * r * std::cos(2.0 * kPi * fHz / sampleRateHz);
    a2_ = -r * r;
    g_ = 1.0 - r;
  }
  double Process(double x) {
    const double y = g_ * x + a1_ * y1_ + a2_ * y2_;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

 private:
  double a1_, a2_, g_;
  double y1_ = 0.0, y2_ = 0.0;
};

// One Rosenberg glottal pulse value at phase (0..1 of the period): opening over 40 % of
// the period, closing over 16 %, closed for the rest.
inline double GlottalPulse(double phase) {
  constexpr double kOpen = 0.40;
  constexpr double kClose = 0.16;
  if (phase < kOpen) return 0.5 * (1.0 - std::cos(kPi * phase / kOpen));
  if (phase < kOpen + kClose) return std::cos(0.5 * kPi * (phase - kOpen) / kClose);
  return 0.0;
}

// A sung vowel at f0 (Hz): the derivative of the glottal flow (what radiates from the lips)
// filtered by the vowel's three formants in cascade.
inline std::vector<float> SungVowel(double f0Hz, int sampleRateHz, std::size_t samples,
                                    double peak = 0.5, const tVowel& vowel = kVowelA) {
  tResonator f1(vowel.formantHz[0], vowel.bandwidthHz[0], sampleRateHz);
  tResonator f2(vowel.formantHz[1], vowel.bandwidthHz[1], sampleRateHz);
  tResonator f3(vowel.formantHz[2], vowel.bandwidthHz[2], sampleRateHz);
  std::vector<float> x(samples);
  double previousFlow = 0.0;
  for (std::size_t n = 0; n < samples; ++n) {
    const double phase = std::fmod(static_cast<double>(n) * f0Hz / sampleRateHz, 1.0);
    const double flow = GlottalPulse(phase);
    const double source = flow - previousFlow;  // lip radiation: first difference
    previousFlow = flow;
    x[n] = static_cast<float>(f3.Process(f2.Process(f1.Process(source))));
  }
  NormalisePeak(x, peak);
  return x;
}

// RMS of x[begin, end) in dB relative to full scale (1.0); -300 for digital silence.
inline double RmsDb(const std::vector<float>& x, std::size_t begin, std::size_t end) {
  end = std::min(end, x.size());
  if (end <= begin) return -300.0;
  double sum = 0.0;
  for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(x[i]) * x[i];
  const double ms = sum / static_cast<double>(end - begin);
  return ms > 0.0 ? 10.0 * std::log10(ms) : -300.0;
}

}  // namespace vm::signals
