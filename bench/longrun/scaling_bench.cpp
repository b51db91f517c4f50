// How the ensemble's cost grows: real-time factor ("x_realtime", seconds of audio per
// second of one core) against clone count, block size and sample rate, full settings
// otherwise at their defaults. Feeds the plots of docs/performance.md.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "engine/Voicemultiply.h"

namespace vm {
namespace {

void Run(benchmark::State& state, int clones, int block, double rateHz) {
  tVoicemultiply effect(nullptr);
  effect.setSampleRate(static_cast<float>(rateHz));
  effect.resume();
  effect.setParameter(kClones, (clones - 1) / 31.0f);
  std::vector<float> input(block), left(block), right(block);
  for (int i = 0; i < block; ++i) input[i] = static_cast<float>(0.3 * std::sin(0.0314 * i));
  for (auto _ : state) {
    float* inputs[] = {input.data()};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, block);
    benchmark::DoNotOptimize(left.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(state.iterations() * block / rateHz, benchmark::Counter::kIsRate);
}

void ByClones(benchmark::State& state) { Run(state, int(state.range(0)), 512, 44100.0); }
void ByBlock(benchmark::State& state) { Run(state, 16, int(state.range(0)), 44100.0); }
void ByRate(benchmark::State& state) { Run(state, 16, 512, double(state.range(0))); }

BENCHMARK(ByClones)->ArgName("clones")->DenseRange(1, 32, 1);
BENCHMARK(ByBlock)->ArgName("block")->RangeMultiplier(2)->Range(16, 8192);
BENCHMARK(ByRate)->ArgName("rate")->Arg(22050)->Arg(44100)->Arg(48000)->Arg(96000)->Arg(192000);

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
