// A sung-like test tone that is not a vowel: a sawtooth whose pitch wobbles with a vibrato,
// with a little white noise from a fixed-seed generator, so that every run gives the same
// samples. The naive sawtooth aliases; that does not matter for tests that compare an
// engine with itself, and its steep edge puts energy into every band. Header-only.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vm::signals {

struct tVibratoSaw {
  double f0Hz = 150.0;       // centre pitch
  double vibratoHz = 5.0;    // rate of the pitch wobble
  double vibratoDepth = 0.02;  // peak deviation, fraction of f0 (0.02: about a third of a semitone)
  double peak = 0.4;         // sawtooth amplitude, full scale 1
  double noise = 0.01;       // peak-to-peak of the uniform noise
  uint32_t seed = 12345;
};

inline std::vector<float> VibratoSawtooth(int sampleRateHz, std::size_t samples,
                                          const tVibratoSaw& s = {}) {
  constexpr double kPi = 3.14159265358979323846;
  std::vector<float> x(samples);
  double phase = 0.0;  // cycles, kept in [0, 1)
  uint32_t state = s.seed;
  for (std::size_t n = 0; n < samples; ++n) {
    const double t = static_cast<double>(n) / sampleRateHz;  // seconds
    const double f = s.f0Hz * (1.0 + s.vibratoDepth * std::sin(2.0 * kPi * s.vibratoHz * t));
    state = state * 1664525u + 1013904223u;  // 32-bit linear congruential step
    const double hiss = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * s.noise;
    x[n] = static_cast<float>(s.peak * (2.0 * phase - 1.0) + hiss);
    phase += f / sampleRateHz;
    phase -= std::floor(phase);
  }
  return x;
}

}  // namespace vm::signals
