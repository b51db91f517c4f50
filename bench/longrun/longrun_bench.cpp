// An hour of a stationary sung vowel through the ensemble at full load (32 voices, Split 5,
// UnisonFmnts 1, VibRandom and DynRandom on), as fast as it goes. Reports the real-time
// factor, the non-finite sample count, the level drift from the first to the last minute
// (dB) and the resident-memory growth (KiB); any of them out of bounds fails the run.
// VM_LONGRUN_SECONDS shortens it (default 3600 s of audio).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vst/Voicemultiply.h"

namespace vm {
namespace {

constexpr int kBlock = 512;             // samples per call
constexpr double kRateHz = 44100.0;
constexpr double kVowelF0Hz = 220.0;    // a sung A3, no vibrato: stationary
constexpr double kMaxDriftDb = 0.5;     // level change allowed, first minute to last
constexpr long kMaxGrowthKiB = 1024;    // resident growth allowed over the run

long ResidentKiB() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  long pages = 0, resident = 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * 4;
}

// One period-exact second of an "ah": harmonics weighted by two formant bumps.
std::vector<float> Vowel() {
  std::vector<float> x(static_cast<size_t>(kRateHz));
  for (size_t i = 0; i < x.size(); ++i) {
    double sum = 0;
    for (int k = 1; k <= 20; ++k) {
      const double f = k * kVowelF0Hz;
      const double weight = std::exp(-std::pow((f - 700) / 250, 2)) +
                            0.6 * std::exp(-std::pow((f - 1200) / 300, 2)) + 0.05 / k;
      sum += weight * std::sin(2 * M_PI * f * double(i) / kRateHz);
    }
    x[i] = static_cast<float>(0.25 * sum);
  }
  return x;
}

void LongRun(benchmark::State& state) {
  const char* fromEnvironment = std::getenv("VM_LONGRUN_SECONDS");
  const double seconds = fromEnvironment ? std::atof(fromEnvironment) : 3600.0;
  const long blocks = static_cast<long>(seconds * kRateHz / kBlock);
  const long minuteBlocks = std::min(blocks / 2, static_cast<long>(60 * kRateHz / kBlock));

  tVoicemultiply effect(nullptr);
  effect.setSampleRate(static_cast<float>(kRateHz));
  effect.resume();
  effect.setParameter(kClones, 1.0f);
  effect.setParameter(kSplit, 1.0f);
  effect.setParameter(kUnisonFmnts, 1.0f);
  effect.setParameter(kVibRandom, 1.0f);
  effect.setParameter(kDynRandom, 1.0f);

  const std::vector<float> vowel = Vowel();
  std::vector<float> input(kBlock), left(kBlock), right(kBlock);
  for (auto _ : state) {
    long nonFinite = 0, residentAfterWarmUp = 0;
    double firstPower = 0, lastPower = 0;
    size_t offset = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long b = 0; b < blocks; ++b) {
      for (int i = 0; i < kBlock; ++i, offset = (offset + 1) % vowel.size()) input[i] = vowel[offset];
      float* inputs[] = {input.data()};
      float* outputs[] = {left.data(), right.data()};
      effect.processReplacing(inputs, outputs, kBlock);
      double power = 0;
      for (int i = 0; i < kBlock; ++i) {
        if (!std::isfinite(left[i]) || !std::isfinite(right[i])) ++nonFinite;
        power += double(left[i]) * left[i] + double(right[i]) * right[i];
      }
      if (b < minuteBlocks) firstPower += power;
      if (b >= blocks - minuteBlocks) lastPower += power;
      if (b == minuteBlocks) residentAfterWarmUp = ResidentKiB();
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double driftDb = 10 * std::log10(lastPower / firstPower);
    const long growthKiB = ResidentKiB() - residentAfterWarmUp;
    state.counters["audio_s"] = seconds;
    state.counters["x_realtime"] = seconds / elapsed;
    state.counters["non_finite"] = double(nonFinite);
    state.counters["drift_dB"] = driftDb;
    state.counters["rss_growth_KiB"] = double(growthKiB);
    if (nonFinite > 0) state.SkipWithError("non-finite output samples");
    else if (!(std::fabs(driftDb) < kMaxDriftDb)) state.SkipWithError("output level drifted");
    else if (growthKiB > kMaxGrowthKiB) state.SkipWithError("resident memory grew");
  }
}

BENCHMARK(LongRun)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
