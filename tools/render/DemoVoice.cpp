#include "DemoVoice.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vm {

namespace {

// Two-pole resonator at a formant frequency and bandwidth (Hz), unity gain at its peak.
struct tResonator {
  double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
  tResonator(double centreHz, double bandwidthHz, double rateHz) {
    const double r = std::exp(-std::numbers::pi * bandwidthHz / rateHz);
    a1 = 2 * r * std::cos(2 * std::numbers::pi * centreHz / rateHz);
    a2 = -r * r;
    gain = 1 - r;
  }
  double Process(double x) {
    const double y = gain * x + a1 * y1 + a2 * y2;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// One glottal cycle at phase 0..1: opening 40 %, closing 16 %, closed the rest.
double RosenbergPulse(double phase) {
  constexpr double kOpen = 0.4, kClose = 0.16;
  if (phase < kOpen) return 0.5 * (1 - std::cos(std::numbers::pi * phase / kOpen));
  if (phase < kOpen + kClose) return std::cos(0.5 * std::numbers::pi * (phase - kOpen) / kClose);
  return 0.0;
}

struct tNote {
  double seconds;
  double hz;
};

// A short phrase around A3 (220 Hz).
constexpr tNote kMelody[] = {{0.9, 220.0}, {0.6, 246.9}, {0.6, 261.6}, {1.2, 293.7},
                             {0.6, 261.6}, {0.6, 246.9}, {1.5, 220.0}};

}  // namespace

std::vector<float> SynthesizeDemoVoice(int rateHz) {
  const double rate = rateHz;
  double totalSeconds = 0;
  for (const tNote& note : kMelody) totalSeconds += note.seconds;
  const size_t length = static_cast<size_t>(totalSeconds * rate);
  std::vector<float> out(length);

  tResonator formants[] = {{700, 110, rate}, {1220, 120, rate}, {2600, 160, rate}};
  const double formantGains[] = {1.0, 0.5, 0.25};
  constexpr double kVibratoHz = 5.5, kVibratoDepth = 0.012;  // about a fifth of a semitone
  constexpr double kGlideSeconds = 0.06;                     // portamento between notes
  double glottalPhase = 0, vibratoPhase = 0, pitch = kMelody[0].hz, previousPulse = 0;
  size_t sample = 0;
  for (const tNote& note : kMelody) {
    const size_t noteEnd = std::min(length, sample + static_cast<size_t>(note.seconds * rate));
    for (; sample < noteEnd; ++sample) {
      pitch += (note.hz - pitch) / (kGlideSeconds * rate);
      vibratoPhase += kVibratoHz / rate;
      const double f0 = pitch * (1 + kVibratoDepth * std::sin(2 * std::numbers::pi * vibratoPhase));
      glottalPhase += f0 / rate;
      glottalPhase -= std::floor(glottalPhase);
      // The derivative of the glottal flow excites the vocal tract.
      const double pulse = RosenbergPulse(glottalPhase);
      const double excitation = pulse - previousPulse;
      previousPulse = pulse;
      double voice = 0;
      for (int f = 0; f < 3; ++f) voice += formantGains[f] * formants[f].Process(excitation);
      const double t = sample / rate;
      const double envelope = std::min({1.0, t / 0.15, (totalSeconds - t) / 0.3});
      out[sample] = static_cast<float>(voice * envelope);
    }
  }
  // Normalise to a peak of 0.5.
  float peak = 0;
  for (float v : out) peak = std::max(peak, std::fabs(v));
  if (peak > 0)
    for (float& v : out) v *= 0.5f / peak;
  return out;
}

}  // namespace vm
