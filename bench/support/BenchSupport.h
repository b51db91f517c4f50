// What several benchmarks share: the test inputs, the loads they put on the effect and a
// CPU clock. Header-only and free of Google Benchmark and of any file library, so that the
// portable timing program (bench/timing) builds with mingw as well.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <time.h>
#endif

#include "signals/Signals.h"
#include "vst/Voicemultiply.h"

namespace vm::bench {

constexpr int kRateHz = 44100;

// A low sung "ah": 150 Hz, formants 700 / 1220 / 2600 Hz, peak 0.5.
inline std::vector<float> SungVowel(double seconds) {
  return signals::SungVowel(150.0, kRateHz, static_cast<size_t>(seconds * kRateHz), 0.5,
                            signals::kVowelA);
}

// A 150 Hz sawtooth whose pitch swings +-3 % (about half a semitone) at 5 Hz, with white
// noise 34 dB below the tone's peak (0.5); the noise comes from a fixed-seed generator, so
// every run and every build sees the same samples.
inline std::vector<float> VibratoSawtooth(double seconds) {
  constexpr double kF0Hz = 150.0, kVibratoHz = 5.0, kSwing = 0.03;
  constexpr double kPeak = 0.5, kNoise = 0.01;
  std::vector<float> x(static_cast<size_t>(seconds * kRateHz));
  double phase = 0;  // cycles, 0..1
  uint32_t seed = 20261210u;
  for (size_t n = 0; n < x.size(); ++n) {
    const double t = static_cast<double>(n) / kRateHz;
    phase += kF0Hz * (1.0 + kSwing * std::sin(2 * signals::kPi * kVibratoHz * t)) / kRateHz;
    phase -= std::floor(phase);
    seed = seed * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(seed >> 8) / 16777216.0) * 2.0 - 1.0;  // -1..1
    x[n] = static_cast<float>(kPeak * (2.0 * phase - 1.0) + kNoise * noise);
  }
  return x;
}

enum class tInput { SungVowel = 0, Sawtooth = 1 };

inline const char* InputName(tInput input) {
  return input == tInput::SungVowel ? "sung vowel" : "vibrato sawtooth";
}

inline std::vector<float> MakeInput(tInput input, double seconds) {
  return input == tInput::SungVowel ? SungVowel(seconds) : VibratoSawtooth(seconds);
}

// `voices` voices reading the unison section only, other settings at their defaults.
inline void SetVoices(tVoicemultiply& effect, int voices) {
  effect.setParameter(kClones, static_cast<float>(voices - 1) / 31.0f);
}

// The full load: 32 voices over all three sections (Split 5: bass, unison, alto in turn),
// the unison section formant-shifted (UnisonFmnts 1), VibRandom and DynRandom as asked
// (on in the full load proper).
inline void SetFullLoad(tVoicemultiply& effect, bool randomOn = true) {
  effect.setParameter(kClones, 1.0f);
  effect.setParameter(kSplit, 1.0f);
  effect.setParameter(kUnisonFmnts, 1.0f);
  effect.setParameter(kVibRandom, randomOn ? 1.0f : 0.0f);
  effect.setParameter(kDynRandom, randomOn ? 1.0f : 0.0f);
}

// CPU time of the calling thread, seconds.
inline double ThreadCpuSeconds() {
#if defined(_WIN32)
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& f) {
    return static_cast<double>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  };
  return 1e-7 * (ticks(kernel) + ticks(user));  // 100 ns units
#else
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
#endif
}

// Runs `input` through `effect` in blocks of `block` samples (a shorter last block when
// the length is not a multiple), replacing, into `left` and `right` (each as long as the
// input).
inline void ProcessInBlocks(tVoicemultiply& effect, const std::vector<float>& input, int block,
                            std::vector<float>& left, std::vector<float>& right) {
  const size_t length = input.size();
  left.resize(length);
  right.resize(length);
  for (size_t at = 0; at < length; at += static_cast<size_t>(block)) {
    const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), length - at));
    float* inputs[] = {const_cast<float*>(input.data()) + at};
    float* outputs[] = {left.data() + at, right.data() + at};
    effect.processReplacing(inputs, outputs, count);
  }
}

// Finite samples with some energy: the output is live.
inline bool Audible(const std::vector<float>& x) {
  double energy = 0;
  for (const float v : x) energy += static_cast<double>(v) * v;
  return std::isfinite(energy) && energy > 0;
}

}  // namespace vm::bench
