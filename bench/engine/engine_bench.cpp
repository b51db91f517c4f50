// Block processing of the ensemble at 44.1 kHz. The counter "x_realtime" is seconds of
// audio processed per second of CPU: the real-time factor on one core. The automation
// benchmarks set a parameter before blocks and compare with the same blocks unchanged.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <vector>

#include "vst/Voicemultiply.h"

namespace vm {
namespace {

constexpr int kBlock = 512;
constexpr double kRateHz = 44100.0;

// A sung-like test signal: a harmonic tone with a slow vibrato.
std::vector<float> TestTone(size_t length) {
  std::vector<float> x(length);
  double phase = 0;
  for (size_t i = 0; i < length; ++i) {
    phase += 2 * M_PI * 220.0 * (1 + 0.01 * std::sin(2 * M_PI * 5.5 * i / kRateHz)) / kRateHz;
    x[i] = static_cast<float>(0.3 * std::sin(phase) + 0.15 * std::sin(2 * phase) + 0.08 * std::sin(3 * phase));
  }
  return x;
}

// Blocks of the test tone through the effect, reporting the real-time factor.
void ProcessBlocks(benchmark::State& state, tVoicemultiply& effect, int block = kBlock) {
  const std::vector<float> tone = TestTone(kRateHz);
  std::vector<float> left(block), right(block);
  size_t offset = 0;
  for (auto _ : state) {
    float* inputs[] = {const_cast<float*>(tone.data()) + offset};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, block);
    benchmark::DoNotOptimize(left.data());
    offset = (offset + block) % (tone.size() - block);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * block / kRateHz, benchmark::Counter::kIsRate);
}

void ProcessEnsemble(benchmark::State& state) {
  const int clones = static_cast<int>(state.range(0));
  const bool randomOn = state.range(1) != 0;
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, (clones - 1) / 31.0f);
  effect.setParameter(kVibRandom, randomOn ? 1.0f : 0.0f);
  effect.setParameter(kDynRandom, randomOn ? 1.0f : 0.0f);

  ProcessBlocks(state, effect);
}

// The full load: 32 voices over all three sections, unison formant-shifted, both random
// switches on.
void ProcessFullLoad(benchmark::State& state) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, 1.0f);
  effect.setParameter(kSplit, 1.0f);
  effect.setParameter(kUnisonFmnts, 1.0f);
  effect.setParameter(kVibRandom, 1.0f);
  effect.setParameter(kDynRandom, 1.0f);
  ProcessBlocks(state, effect);
}
BENCHMARK(ProcessFullLoad)->Unit(benchmark::kMicrosecond);

BENCHMARK(ProcessEnsemble)
    ->ArgNames({"clones", "random"})
    ->ArgsProduct({{1, 16, 32}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// 16 voices with random on at other host block sizes: the voices run through a block in
// chunks of at most 1024 samples, so short blocks pay the per-chunk set-up more often, and
// one-sample blocks take the per-sample step.
void ProcessBlockSize(benchmark::State& state) {
  tVoicemultiply effect(nullptr);
  effect.setParameter(kVibRandom, 1.0f);
  effect.setParameter(kDynRandom, 1.0f);
  ProcessBlocks(state, effect, static_cast<int>(state.range(0)));
}
BENCHMARK(ProcessBlockSize)
    ->ArgName("block")
    ->Arg(1)->Arg(16)->Arg(64)->Arg(4096)
    ->Unit(benchmark::kMicrosecond);

// ---- automation ----

// The parameters a random automation step picks from: all but the voice count (the load
// being measured) and Split and UnisonFmnts (which switch whole section engines on and
// off, a different load rather than a cost of the change).
constexpr tParameterIndex kAutomated[] = {
    kTiming, kVibDepth, kVibRate, kVibRandom, kBassFmnts, kBassLevel, kAltoFmnts,
    kAltoLevel, kSection, kFocus, kBalance, kMix, kDryDelay, kDynDepth, kDynRate,
    kDynRandom, kUnisonLevel, kGain};

// One timed 512-sample block of the test tone per iteration, `beforeBlock` run first;
// reports the real-time factor.
template <class F>
void RunBlocks(benchmark::State& state, tVoicemultiply& effect, F&& beforeBlock) {
  const std::vector<float> tone = TestTone(kRateHz);
  std::vector<float> left(kBlock), right(kBlock);
  size_t offset = 0;
  for (auto _ : state) {
    beforeBlock();
    float* inputs[] = {const_cast<float*>(tone.data()) + offset};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, kBlock);
    benchmark::DoNotOptimize(left.data());
    offset = (offset + kBlock) % (tone.size() - kBlock);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlock / kRateHz, benchmark::Counter::kIsRate);
}

// One random automation step: a random parameter of kAutomated to a random value.
void RandomStep(tVoicemultiply& effect, uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  const tParameterIndex index = kAutomated[(seed >> 16) % std::size(kAutomated)];
  effect.setParameter(index, static_cast<float>((seed >> 4) & 0xFFF) / 4095.0f);
}

// One random setParameter before every 512-sample block, against the same blocks without
// it (automated 0: the default settings; automated 2: random settings reached before the
// timing starts and then held, which separates what the settings cost from what their
// changes cost). Arguments: voices, automated.
void ProcessAutomated(benchmark::State& state) {
  const int clones = static_cast<int>(state.range(0));
  const bool automated = state.range(1) == 1;
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, (clones - 1) / 31.0f);
  uint32_t seed = 77;
  if (state.range(1) == 2) {
    for (int step = 0; step < 200; ++step) RandomStep(effect, seed);
  }
  RunBlocks(state, effect, [&] {
    if (automated) RandomStep(effect, seed);
  });
}
BENCHMARK(ProcessAutomated)
    ->ArgNames({"clones", "automated"})
    ->ArgsProduct({{16, 32}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

// The worst case: a voice setting (Timing, a new value each time) before every block, so
// every block crossfades all voices; and the same with a gain (Gain) only.
void ProcessEveryBlockChanging(benchmark::State& state) {
  const int clones = static_cast<int>(state.range(0));
  const tParameterIndex index = state.range(1) != 0 ? kTiming : kGain;
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, (clones - 1) / 31.0f);
  int step = 0;
  RunBlocks(state, effect, [&] {
    effect.setParameter(index, 0.3f + 0.4f * static_cast<float>(step++ % 64) / 64.0f);
  });
}
BENCHMARK(ProcessEveryBlockChanging)
    ->ArgNames({"clones", "voices"})
    ->ArgsProduct({{16, 32}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The cost of a crossfade per voice: blocks exactly one crossfade long (441 samples at
// 44.1 kHz), each started by a change of Timing, against the same blocks without a
// change. The counter "ns_per_voice_sample" is the block's time over voices x samples;
// the difference of the two rows is what a fading voice adds per sample, set-up included.
void CrossfadeBlock(benchmark::State& state) {
  const int clones = static_cast<int>(state.range(0));
  const bool fading = state.range(1) != 0;
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, (clones - 1) / 31.0f);
  const int block = effect.Ensemble().CrossfadeSamples();
  const std::vector<float> tone = TestTone(kRateHz);
  std::vector<float> left(block), right(block);
  size_t offset = 0;
  int step = 0;
  for (auto _ : state) {
    if (fading) effect.setParameter(kTiming, (step++ % 2) ? 0.4f : 0.6f);
    float* inputs[] = {const_cast<float*>(tone.data()) + offset};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, block);
    benchmark::DoNotOptimize(left.data());
    offset = (offset + block) % (tone.size() - block);
  }
  state.counters["ns_per_voice_sample"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * clones * block * 1e-9,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(CrossfadeBlock)
    ->ArgNames({"clones", "fading"})
    ->ArgsProduct({{1, 16, 32}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
