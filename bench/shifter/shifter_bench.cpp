// Formant shifter alone on a sung vowel at 44.1 kHz, all three heads shifting: samples per
// second of processing (divide by 44100 for the real-time factor).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

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
}
BENCHMARK(BM_ShifterThreeHeads)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
