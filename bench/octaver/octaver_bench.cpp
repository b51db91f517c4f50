// Cost of the octaver per input sample at 44.1 kHz, for the half-speed path alone, the
// double-speed path alone and both. The counter "x_realtime" is seconds of audio processed
// per second of CPU: the real-time factor on one core.

#include <benchmark/benchmark.h>

#include <vector>

#include "playback/XPlayback.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;

void ProcessOctaver(benchmark::State& state) {
  const bool halfOn = state.range(0) != 0;
  const bool doubleOn = state.range(1) != 0;
  const std::vector<float> voice = signals::SungVowel(180, kRateHz, kRateHz);  // one second
  tOctaver octaver(kRateHz, halfOn, doubleOn);
  float sink = 0;
  for (auto _ : state) {
    for (float x : voice) {
      octaver.Process(x);
      sink += octaver.HalfOut + octaver.DoubleOut;
    }
    benchmark::DoNotOptimize(sink);
  }
  const double seconds = static_cast<double>(state.iterations());  // one second per pass
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(voice.size()));
}

BENCHMARK(ProcessOctaver)
    ->ArgNames({"half", "double"})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vm
BENCHMARK_MAIN();
