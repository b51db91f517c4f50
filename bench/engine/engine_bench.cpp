// Block processing of the ensemble at 44.1 kHz. The counter "x_realtime" is seconds of
// audio processed per second of CPU: the real-time factor on one core.

#include <benchmark/benchmark.h>

#include <cmath>
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

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
