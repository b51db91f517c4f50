// How the host's block size and the engine's uneven work show in the cost of a block.
//
// BlockSizeCost: one load (32 voices at the default settings, or the full load: 32 voices,
// Split 5, UnisonFmnts 1, VibRandom and DynRandom on) in host blocks of 1, 16, 64 and 512
// samples, side by side: four effects, one per block size, take turns on the same second
// of input (a vibrato sawtooth), each turn timed with the thread's CPU clock. Counters:
// ns_per_sample_<n> for each block size n, and the ratios of 1-, 16- and 64-sample blocks
// to 512-sample blocks (ratio_16_to_512: what a 16-sample host costs more per sample).
//
// SlowestBlock: the full load with the random switches off, in 64-sample blocks, on 10 s of
// the sung vowel or of the vibrato sawtooth. Three effects, built alike, run the same input
// one after the other, so each block is timed three times from the same state (the three
// outputs must be identical bit for bit, or the run stops with an error); a block's time
// is the least of its three, which leaves out what the machine's other work added. The
// first half second is run but not counted (first touch of the memory, the section
// engines locking on); first_block_us gives the very first block for information.
// Counters: mean_block_us, max_block_us, max_over_mean (the slowest block over the mean
// block: a block that carries a whole cycle's transforms alone shows here) and
// p999_over_mean (the 99.9th percentile over the mean).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "support/BenchSupport.h"
#include "vst/Voicemultiply.h"

namespace vm {
namespace {

using bench::tInput;

constexpr std::array<int, 4> kBlockSizes = {1, 16, 64, 512};
constexpr int kLargestBlock = 512;
// Samples per turn: a whole number of the largest block, about one second at 44.1 kHz.
constexpr size_t kTurnSamples = 86 * kLargestBlock;

void SetLoad(tVoicemultiply& effect, bool fullLoad) {
  if (fullLoad)
    bench::SetFullLoad(effect);
  else
    bench::SetVoices(effect, 32);
}

void BlockSizeCost(benchmark::State& state) {
  const bool fullLoad = state.range(0) != 0;
  const std::vector<float> signal = bench::VibratoSawtooth(4.0);
  std::array<std::unique_ptr<tVoicemultiply>, kBlockSizes.size()> effects;
  for (auto& effect : effects) {
    effect = std::make_unique<tVoicemultiply>(nullptr);
    SetLoad(*effect, fullLoad);
  }
  std::vector<float> turn(kTurnSamples), left, right;
  std::array<double, kBlockSizes.size()> seconds{};
  size_t at = 0, first = 0;
  for (auto _ : state) {
    if (at + kTurnSamples > signal.size()) at = 0;
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(at), kTurnSamples, turn.begin());
    at += kTurnSamples;
    // Each iteration starts with another block size, so none always runs on a cold cache.
    for (size_t k = 0; k < kBlockSizes.size(); ++k) {
      const size_t which = (first + k) % kBlockSizes.size();
      const double start = bench::ThreadCpuSeconds();
      bench::ProcessInBlocks(*effects[which], turn, kBlockSizes[which], left, right);
      seconds[which] += bench::ThreadCpuSeconds() - start;
      benchmark::DoNotOptimize(left.data());
    }
    first = (first + 1) % kBlockSizes.size();
  }
  if (!bench::Audible(left) || !bench::Audible(right)) {
    state.SkipWithError("the ensemble's output is silent or not finite");
    return;
  }
  const double samples = static_cast<double>(state.iterations()) * kTurnSamples;
  const double largest = seconds.back();
  for (size_t k = 0; k < kBlockSizes.size(); ++k) {
    const std::string size = std::to_string(kBlockSizes[k]);
    state.counters["ns_per_sample_" + size] = 1e9 * seconds[k] / samples;
    if (kBlockSizes[k] != kLargestBlock)
      state.counters["ratio_" + size + "_to_512"] = seconds[k] / largest;
  }
  state.SetLabel(fullLoad ? "full load" : "32 voices");
}
BENCHMARK(BlockSizeCost)
    ->ArgName("fullload")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

constexpr int kSlowBlock = 64;
constexpr int kPasses = 3;
constexpr double kSlowSeconds = 10.0;
// Blocks before this are run but not counted: the first ones touch freshly allocated rings
// and tables, and the section engines lock on to the voice's cycles within about 0.2 s.
constexpr double kSettleSeconds = 0.5;

// One pass of a fresh full-load effect (random off) over `input` in 64-sample blocks:
// each block's wall-clock time in `blockSeconds`, the output in `left` and `right`.
void TimedPass(const std::vector<float>& input, std::vector<double>& blockSeconds,
               std::vector<float>& left, std::vector<float>& right) {
  tVoicemultiply effect(nullptr);
  bench::SetFullLoad(effect, false);
  const size_t blocks = input.size() / kSlowBlock;
  blockSeconds.resize(blocks);
  left.resize(blocks * kSlowBlock);
  right.resize(blocks * kSlowBlock);
  for (size_t b = 0; b < blocks; ++b) {
    float* inputs[] = {const_cast<float*>(input.data()) + b * kSlowBlock};
    float* outputs[] = {left.data() + b * kSlowBlock, right.data() + b * kSlowBlock};
    const auto start = std::chrono::steady_clock::now();
    effect.processReplacing(inputs, outputs, kSlowBlock);
    blockSeconds[b] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

void SlowestBlock(benchmark::State& state) {
  const tInput which = static_cast<tInput>(state.range(0));
  const std::vector<float> input = bench::MakeInput(which, kSlowSeconds);
  std::vector<double> least, pass;
  std::vector<float> firstLeft, firstRight, left, right;
  for (auto _ : state) {
    for (int p = 0; p < kPasses; ++p) {
      TimedPass(input, pass, left, right);
      if (p == 0) {
        least = pass;
        firstLeft = left;
        firstRight = right;
        continue;
      }
      if (!SameBits(left, firstLeft) || !SameBits(right, firstRight)) {
        state.SkipWithError("the passes differ: the blocks were not timed from the same state");
        return;
      }
      for (size_t b = 0; b < least.size(); ++b) least[b] = std::min(least[b], pass[b]);
    }
  }
  if (!bench::Audible(firstLeft) || !bench::Audible(firstRight)) {
    state.SkipWithError("the ensemble's output is silent or not finite");
    return;
  }
  const auto settled = least.begin() + static_cast<std::ptrdiff_t>(kSettleSeconds * bench::kRateHz / kSlowBlock);
  std::vector<double> sorted(settled, least.end());
  const double mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
  std::sort(sorted.begin(), sorted.end());
  const double p999 = sorted[static_cast<size_t>(0.999 * static_cast<double>(sorted.size() - 1))];
  state.counters["first_block_us"] = 1e6 * least.front();
  state.counters["mean_block_us"] = 1e6 * mean;
  state.counters["max_block_us"] = 1e6 * sorted.back();
  state.counters["max_over_mean"] = sorted.back() / mean;
  state.counters["p999_over_mean"] = p999 / mean;
  state.SetLabel(bench::InputName(which));
}
BENCHMARK(SlowestBlock)
    ->ArgName("input")
    ->Arg(static_cast<int>(tInput::SungVowel))
    ->Arg(static_cast<int>(tInput::Sawtooth))
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vm

BENCHMARK_MAIN();
