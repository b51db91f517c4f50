// Cost per sample of a set of chained biquads run in vector lanes (RunFilterLanes) and as
// scalar chains (RunFilterChains), for the block lengths the section engines hand them.
// Two layouts: both octavers' filters (two three-filter keeper chains and the alto's
// output low-pass: 7 filters), and the pipelined section engines' full set (the bass
// output low-pass, both octavers' filters, the shifter's keeper chain and its analyser's
// low-pass: 12 filters). The same 3072 samples go through in blocks of n, the memories
// carrying over, so the counter per_sample (the time per sample) compares block lengths directly.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "analysis/FilterLanes.h"

namespace vm {
namespace {

constexpr int32_t kRateHz = 44100;
constexpr int32_t kTotal = 3072;  // samples per pass: a multiple of every block length

struct tLinkDesign {
  tFilterKind kind;
  float freqHz;
  float q;
  int from;  // -1: the input, otherwise an earlier filter's output
};

// A keeper chain (high-pass into two low-passes) whose first filter reads the input.
#define KEEPER_CHAIN(first) \
  {fkHighPass, 54.0f, 0.5f, -1}, {fkLowPass, 300.0f, 0.5f, first}, \
      {fkLowPass, 300.0f, 0.5f, first + 1}

const tLinkDesign kOctavers[] = {KEEPER_CHAIN(0), KEEPER_CHAIN(3), {fkLowPass, 9000.0f, 1.0f, -1}};
const tLinkDesign kPipelined[] = {{fkLowPass, 14000.0f, 1.0f, -1},
                                  KEEPER_CHAIN(1),
                                  KEEPER_CHAIN(4),
                                  {fkLowPass, 9000.0f, 1.0f, -1},
                                  KEEPER_CHAIN(8),
                                  {fkLowPass, 1000.0f, 0.7f, -1}};
#undef KEEPER_CHAIN

class tFilterSetLoad {
 public:
  template <size_t K>
  explicit tFilterSetLoad(const tLinkDesign (&designs)[K])
      : designs_(designs, designs + K), filters_(K), out_(K, std::vector<float>(kTotal)),
        input_(kTotal) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    for (float& x : input_) x = uniform(random);
    for (size_t k = 0; k < K; ++k)
      filters_[k].Design(kRateHz, designs[k].kind, designs[k].freqHz, designs[k].q, 0.0f);
  }
  int32_t Count() const { return static_cast<int32_t>(filters_.size()); }

  // One pass over the input in blocks of n; run(filters, source, dest, lag, n).
  template <typename tRun>
  void Pass(int32_t n, tRun&& run) {
    tFilter* filters[kMaxLaneFilters];
    const float* source[kMaxLaneFilters];
    float* dest[kMaxLaneFilters];
    int32_t lag[kMaxLaneFilters];
    for (int32_t start = 0; start < kTotal; start += n) {
      for (int32_t k = 0; k < Count(); ++k) {
        const int from = designs_[k].from;
        filters[k] = &filters_[k];
        source[k] = (from < 0 ? input_.data() : out_[from].data()) + start;
        dest[k] = out_[k].data() + start;
        lag[k] = from < 0 ? 0 : lag[from] + 1;
      }
      run(filters, source, dest, lag, n);
    }
  }
  float Probe() const { return out_.back()[kTotal - 1]; }

 private:
  std::vector<tLinkDesign> designs_;
  std::vector<tFilter> filters_;
  std::vector<std::vector<float>> out_;
  std::vector<float> input_;
};

enum tForm { kLanes = 0, kChains = 1 };

void FilterSet(benchmark::State& state) {
  const bool pipelined = state.range(0) == 12;
  const int32_t n = static_cast<int32_t>(state.range(1));
  const tForm form = static_cast<tForm>(state.range(2));
  if (form == kLanes && !FilterLanesAvailable()) {
    state.SkipWithError("no 256-bit lanes on this processor");
    return;
  }
  tFilterSetLoad load = pipelined ? tFilterSetLoad(kPipelined) : tFilterSetLoad(kOctavers);
  auto run = [&](tFilter* const* f, const float* const* s, float* const* d, const int32_t* lag,
                 int32_t length) {
    if (form == kLanes)
      RunFilterLanes(f, s, d, lag, load.Count(), length);
    else if (pipelined)
      RunFilterChains<12>(f, s, d, lag, length);
    else
      RunFilterChains<7>(f, s, d, lag, length);
  };
  for (auto _ : state) {
    load.Pass(n, run);
    benchmark::DoNotOptimize(load.Probe());
  }
  const double samples = static_cast<double>(state.iterations()) * kTotal;
  // Seconds of CPU per sample, printed with its SI prefix ("7.1n" is 7.1 ns).
  state.counters["per_sample"] =
      benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Layouts(benchmark::internal::Benchmark* b) {
  for (int64_t filters : {7, 12})
    for (int64_t form : {kLanes, kChains})
      for (int64_t n : {16, 32, 48, 64, 128, 512}) b->Args({filters, n, form});
}

BENCHMARK(FilterSet)->ArgNames({"filters", "n", "chains"})->Apply(Layouts);

}  // namespace
}  // namespace vm
BENCHMARK_MAIN();
