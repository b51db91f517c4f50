// The engine's voices against a plain, literal implementation of the same voices
// (PlainEnsemble.h: one sample at a time, one voice after the other, no chunks, no
// vectors), side by side in one run on the same input and settings: the unison section
// only (Split 0, UnisonFmnts 0.5, so no section engine runs), 16 or 32 voices, the random
// switches (VibRandom and DynRandom) off or on, 512-sample blocks. Both sides do the same
// work per sample: write the dry and unison rings, read each voice's ring at its delay
// plus vibrato offset, walk its vibrato and level ramp, weight by its two stereo gains,
// and mix the delayed dry copy in.
//
// Before timing, both start from the same random generator state and render the same two
// seconds; "max_relative_difference" is the largest difference of their outputs over the
// largest output sample, so a reference that drifted away from the engine's arithmetic
// shows (a few float roundings: about 1e-6; above 1e-3 the run stops with an error).
// Each iteration then times one pass of each (thread CPU time), alternating. Counters:
//   engine_ns_per_voice_sample, plain_ns_per_voice_sample
//   speedup_vs_plain   plain time over engine time
// The reported time is the engine's per pass.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/Random.h"
#include "support/BenchSupport.h"
#include "voices/PlainEnsemble.h"
#include "vst/Voicemultiply.h"

namespace vm {
namespace {

constexpr int kBlock = 512;
constexpr double kPassSeconds = 2.0;
constexpr double kMaxRelativeDifference = 1e-3;

struct tPair {
  tVoicemultiply engine{nullptr};
  bench::tPlainEnsemble plain;
  tPair(int voices, bool randomOn) : plain(PlainSettings(voices, randomOn)) {
    bench::SetVoices(engine, voices);
    engine.setParameter(kVibRandom, randomOn ? 1.0f : 0.0f);
    engine.setParameter(kDynRandom, randomOn ? 1.0f : 0.0f);
  }
  static bench::tPlainEnsemble::tSettings PlainSettings(int voices, bool randomOn) {
    bench::tPlainEnsemble::tSettings s;
    s.clones = voices;
    s.vibRandom = randomOn;
    s.dynRandom = randomOn;
    return s;
  }
};

void PlainPass(bench::tPlainEnsemble& plain, const std::vector<float>& input,
               std::vector<float>& left, std::vector<float>& right) {
  left.resize(input.size());
  right.resize(input.size());
  for (size_t at = 0; at < input.size(); at += kBlock) {
    const int32_t count = static_cast<int32_t>(std::min<size_t>(kBlock, input.size() - at));
    plain.Process(input.data() + at, left.data() + at, right.data() + at, count);
  }
}

// Largest |a - b| over the largest |a|, both channels.
double RelativeDifference(const std::vector<float>& a, const std::vector<float>& b) {
  double largest = 0, difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    largest = std::max(largest, std::fabs(double(a[i])));
    difference = std::max(difference, std::fabs(double(a[i]) - double(b[i])));
  }
  return largest > 0 ? difference / largest : INFINITY;
}

void VoicesVsPlain(benchmark::State& state) {
  const int voices = static_cast<int>(state.range(0));
  const bool randomOn = state.range(1) != 0;
  const std::vector<float> input = bench::VibratoSawtooth(kPassSeconds);
  tPair pair(voices, randomOn);
  std::vector<float> engineLeft, engineRight, plainLeft, plainRight;

  constexpr uint32_t kGeneratorState = 12345u;
  tRandom::SetState(kGeneratorState);
  pair.plain.SetRandomState(kGeneratorState);
  bench::ProcessInBlocks(pair.engine, input, kBlock, engineLeft, engineRight);
  PlainPass(pair.plain, input, plainLeft, plainRight);
  const double difference = std::max(RelativeDifference(engineLeft, plainLeft),
                                     RelativeDifference(engineRight, plainRight));
  state.counters["max_relative_difference"] = difference;
  if (!(difference <= kMaxRelativeDifference)) {
    state.SkipWithError("the plain voices do not sound like the engine's: not the same work");
    return;
  }

  double engineSeconds = 0, plainSeconds = 0;
  for (auto _ : state) {
    double start = bench::ThreadCpuSeconds();
    bench::ProcessInBlocks(pair.engine, input, kBlock, engineLeft, engineRight);
    const double engine = bench::ThreadCpuSeconds() - start;
    start = bench::ThreadCpuSeconds();
    PlainPass(pair.plain, input, plainLeft, plainRight);
    plainSeconds += bench::ThreadCpuSeconds() - start;
    engineSeconds += engine;
    benchmark::DoNotOptimize(engineLeft.data());
    benchmark::DoNotOptimize(plainLeft.data());
    state.SetIterationTime(engine);
  }
  const double voiceSamples =
      static_cast<double>(state.iterations()) * voices * static_cast<double>(input.size());
  state.counters["engine_ns_per_voice_sample"] = 1e9 * engineSeconds / voiceSamples;
  state.counters["plain_ns_per_voice_sample"] = 1e9 * plainSeconds / voiceSamples;
  state.counters["speedup_vs_plain"] = plainSeconds / engineSeconds;
}
BENCHMARK(VoicesVsPlain)
    ->ArgNames({"voices", "random"})
    ->ArgsProduct({{16, 32}, {0, 1}})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
