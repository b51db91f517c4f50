// Formant shifter alone on a sung vowel at 44.1 kHz, all three heads shifting: samples per
// second of processing and "x_realtime", seconds of audio per second of CPU. Also one
// cycle's transforms (a forward and an inverse real transform of 512 samples, the block of
// a 150 Hz cycle) with the factors from a table and from the recurrence.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "analysis/Fourier.h"
#include "playback/FormantShifter.h"

namespace {

std::vector<float> Vowel(int samples) {
  // Harmonics of 150 Hz shaped by a formant-like envelope peaking near 700 Hz.
  std::vector<float> x(static_cast<size_t>(samples));
  for (int n = 0; n < samples; ++n) {
    double v = 0;
    for (int h = 1; h <= 40; ++h) {
      const double f = 150.0 * h;
      v += std::exp(-std::pow((f - 700.0) / 500.0, 2)) * std::sin(2 * M_PI * f * n / 44100.0);
    }
    x[n] = static_cast<float>(0.2 * v);
  }
  return x;
}

void BM_ShifterThreeHeads(benchmark::State& state) {
  const std::vector<float> input = Vowel(44100);
  auto shifter = std::make_unique<vm::tFormantShifter>(44100);
  shifter->SetHalfHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
  shifter->SetUnisonHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
  shifter->SetDoubleHead(1.3f, 1.5f, 8000.0f, 0.05f, 0.8f);
  float sink = 0;
  for (auto _ : state) {
    for (float x : input) {
      shifter->Process(x);
      sink += shifter->HalfOut + shifter->UnisonOut + shifter->DoubleOut;
    }
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(input.size()));
  const double seconds = static_cast<double>(state.iterations());  // one second per pass
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ShifterThreeHeads)->Unit(benchmark::kMillisecond);

// Forward then inverse real transform of 512 samples; range(0) = 1 reads the factors from
// a table, 0 computes them by recurrence.
void BM_CycleTransforms(benchmark::State& state) {
  constexpr int kHalf = 256;
  const bool fromTable = state.range(0) != 0;
  vm::tTwiddleTable table;
  table.Build(kHalf);
  std::vector<float> block = Vowel(2 * kHalf + 2);
  for (auto _ : state) {
    if (fromTable) {
      vm::RealFFT(block.data(), kHalf, +1, table);
      vm::RealFFT(block.data(), kHalf, -1, table);
    } else {
      vm::RealFFT(block.data(), kHalf, +1);
      vm::RealFFT(block.data(), kHalf, -1);
    }
    for (float& x : block) x *= 1.0f / kHalf;  // undo the round trip's gain
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_CycleTransforms)->ArgName("table")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
