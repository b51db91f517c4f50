// A self-contained timing of the engine that builds on Linux and with mingw for Windows,
// so the same measure can be taken of both builds on the same machine (the Windows one
// under wine; scripts/bench-windows.sh runs both and prints the ratio). Google Benchmark
// is not needed.
//
// Loads, each on its own effect, 512-sample blocks, a 150 Hz vibrato sawtooth with noise:
//   fullload   32 voices, Split 5, UnisonFmnts 1, VibRandom and DynRandom on
//   voices32   32 voices reading the unison section, other settings at their defaults
// Each load first runs half a second untimed, then `repeats` passes of `seconds` of audio;
// a pass is timed by the wall clock (the thread's CPU clock ticks too coarsely under wine),
// and the least of the passes is reported, which leaves out most of what other work on
// the machine added. The last line is for scripts:
//   timing fullload_s=<best pass, s> voices32_s=<best pass, s> audio_s=<seconds per pass>
//
// Usage: vm_timing [seconds per pass (default 10)] [repeats (default 5)]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "support/BenchSupport.h"
#include "vst/Voicemultiply.h"

namespace vm {
namespace {

constexpr int kBlock = 512;
constexpr double kSettleSeconds = 0.5;

struct tLoad {
  const char* key;
  const char* description;
  bool fullLoad;
};

constexpr tLoad kLoads[] = {
    {"fullload", "full load (32 voices, B:U:A, unison formants, random on)", true},
    {"voices32", "32 voices, unison only, default settings", false},
};

// The best wall-clock time of `repeats` passes of `input` through a fresh effect with the
// load, after a half-second settling pass; 0 when the output was silent or not finite.
double BestPassSeconds(const tLoad& load, const std::vector<float>& settle,
                       const std::vector<float>& input, int repeats) {
  tVoicemultiply effect(nullptr);
  if (load.fullLoad)
    bench::SetFullLoad(effect);
  else
    bench::SetVoices(effect, 32);
  std::vector<float> left, right;
  bench::ProcessInBlocks(effect, settle, kBlock, left, right);
  double best = 0;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    bench::ProcessInBlocks(effect, input, kBlock, left, right);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r == 0 || seconds < best) best = seconds;
  }
  return bench::Audible(left) && bench::Audible(right) ? best : 0.0;
}

int Run(double passSeconds, int repeats) {
  const std::vector<float> signal = bench::VibratoSawtooth(kSettleSeconds + passSeconds);
  const auto split = signal.begin() + static_cast<std::ptrdiff_t>(kSettleSeconds * bench::kRateHz);
  const std::vector<float> settle(signal.begin(), split);
  const std::vector<float> input(split, signal.end());
  const double audioSeconds = static_cast<double>(input.size()) / bench::kRateHz;
#if defined(_WIN32)
  const char* platform = "Windows";
#else
  const char* platform = "Linux";
#endif
  std::printf("%s build (%s), %.1f s of audio per pass, best of %d passes:\n", platform,
              __VERSION__, audioSeconds, repeats);
  double best[std::size(kLoads)] = {};
  for (size_t i = 0; i < std::size(kLoads); ++i) {
    best[i] = BestPassSeconds(kLoads[i], settle, input, repeats);
    if (best[i] <= 0) {
      std::printf("  %s: the output is silent or not finite\n", kLoads[i].description);
      return 1;
    }
    std::printf("  %-58s %8.4f s  %7.1fx real time\n", kLoads[i].description, best[i],
                audioSeconds / best[i]);
  }
  std::printf("timing");
  for (size_t i = 0; i < std::size(kLoads); ++i) std::printf(" %s_s=%.6f", kLoads[i].key, best[i]);
  std::printf(" audio_s=%.3f\n", audioSeconds);
  return 0;
}

}  // namespace
}  // namespace vm

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (!(seconds > 0) || repeats < 1) {
    std::fprintf(stderr, "usage: vm_timing [seconds per pass] [repeats]\n");
    return 2;
  }
  return vm::Run(seconds, repeats);
}
