// How the ensemble's cost grows: real-time factor ("x_realtime", seconds of audio per
// second of one core) against clone count, block size and sample rate, settings otherwise
// at their defaults; and the full load (all three sections, shifted unison) against the
// sample rate and the voice's pitch, since the formant shifter's transform length follows
// the cycle length. Feeds the plots of docs/performance.md.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "vst/Voicemultiply.h"
#include "signals/Signals.h"

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

// 32 voices, Split 5, UnisonFmnts 1, VibRandom and DynRandom on, on a sung vowel at f0.
void RunFullLoad(benchmark::State& state, double f0Hz, int rateHz) {
  constexpr int kBlock = 512;
  tVoicemultiply effect(nullptr);
  effect.setSampleRate(static_cast<float>(rateHz));
  effect.resume();
  for (const auto& [index, value] : {std::pair{kClones, 1.0f}, {kSplit, 1.0f}, {kUnisonFmnts, 1.0f},
                                     {kVibRandom, 1.0f}, {kDynRandom, 1.0f}})
    effect.setParameter(index, value);
  const std::vector<float> vowel = signals::SungVowel(f0Hz, rateHz, static_cast<size_t>(rateHz) * 4);
  std::vector<float> left(kBlock), right(kBlock);
  size_t at = 0;
  for (auto _ : state) {
    if (at + kBlock > vowel.size()) at = 0;
    float* inputs[] = {const_cast<float*>(vowel.data() + at)};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, kBlock);
    benchmark::DoNotOptimize(left.data());
    at += kBlock;
  }
  state.counters["x_realtime"] =
      benchmark::Counter(state.iterations() * kBlock / double(rateHz), benchmark::Counter::kIsRate);
}

void ByClones(benchmark::State& state) { Run(state, int(state.range(0)), 512, 44100.0); }
void ByBlock(benchmark::State& state) { Run(state, 16, int(state.range(0)), 44100.0); }
void ByRate(benchmark::State& state) { Run(state, 16, 512, double(state.range(0))); }
void FullLoadByPitch(benchmark::State& state) { RunFullLoad(state, double(state.range(0)), 44100); }
void FullLoadByRate(benchmark::State& state) { RunFullLoad(state, 150.0, int(state.range(0))); }

BENCHMARK(ByClones)->ArgName("clones")->DenseRange(1, 32, 1);
BENCHMARK(ByBlock)->ArgName("block")->RangeMultiplier(2)->Range(16, 8192);
BENCHMARK(ByRate)->ArgName("rate")->Arg(22050)->Arg(44100)->Arg(48000)->Arg(96000)->Arg(192000);
BENCHMARK(FullLoadByPitch)->ArgName("f0")->Arg(80)->Arg(110)->Arg(150)->Arg(220)->Arg(330)->Arg(440);
BENCHMARK(FullLoadByRate)->ArgName("rate")->Arg(22050)->Arg(44100)->Arg(48000)->Arg(96000)->Arg(192000);

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
