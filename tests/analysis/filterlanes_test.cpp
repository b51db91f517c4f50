#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "analysis/FilterLanes.h"

namespace vm {
namespace {

// One filter of a set: its design and what it reads (-1: the input, otherwise the output of
// an earlier filter of the set).
struct tLink {
  tFilterKind kind;
  float freqHz;
  float q;
  float gainDb;
  int from;
  float unstableA2 = 0.0f;  // when set, replaces the design's a2: the recursion diverges
};

// Two chains of three (high-pass into two low-passes, as the cycle keepers run them), a
// chain of four, and side filters: twelve filters whose first `count` form a valid set for
// every count. Filter 3's feedback doubles its output every other sample: it overflows
// again and again, and each time forgets its history.
const tLink kLinks[kMaxLaneFilters] = {
    {fkHighPass, 54.0f, 0.5f, 0.0f, -1},    {fkLowPass, 300.0f, 0.5f, 0.0f, 0},
    {fkLowPass, 300.0f, 0.5f, 0.0f, 1},     {fkLowPass, 5000.0f, 0.7f, 0.0f, -1, -2.0f},
    {fkLowPass, 9000.0f, 1.0f, 0.0f, -1},   {fkHighPass, 80.0f, 0.7f, 0.0f, 4},
    {fkNotch, 1000.0f, 2.0f, 6.0f, -1},     {fkHighPass, 54.0f, 0.5f, 0.0f, -1},
    {fkLowPass, 300.0f, 0.5f, 0.0f, 7},     {fkLowPass, 300.0f, 0.5f, 0.0f, 8},
    {fkLowPass, 14000.0f, 1.0f, 0.0f, 5},   {fkHighPass, 2000.0f, 3.0f, -3.0f, 10},
};

int Depth(int k) { return kLinks[k].from < 0 ? 0 : 1 + Depth(kLinks[k].from); }

std::vector<float> TestInput() {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> input(2500);
  for (float& x : input) x = uniform(random);
  input[100] = 5000.0f;
  input[101] = -std::numeric_limits<float>::infinity();
  input[200] = std::numeric_limits<float>::quiet_NaN();
  for (int i = 1500; i < 1600; ++i) input[i] = 1e3f * (i % 2 ? 1.0f : -1.0f);
  return input;
}

// Every filter of the set sample by sample, in series along its chain.
std::vector<tFilter> Designed(int count) {
  std::vector<tFilter> filters(count);
  for (int k = 0; k < count; ++k) {
    filters[k].Design(44100, kLinks[k].kind, kLinks[k].freqHz, kLinks[k].q, kLinks[k].gainDb);
    if (kLinks[k].unstableA2 != 0.0f) filters[k].a2 = kLinks[k].unstableA2;
  }
  return filters;
}

std::vector<std::vector<float>> SampleBySample(const std::vector<float>& input, int count) {
  std::vector<tFilter> filters = Designed(count);
  std::vector<std::vector<float>> out(count, std::vector<float>(input.size()));
  for (size_t i = 0; i < input.size(); ++i)
    for (int k = 0; k < count; ++k)
      out[k][i] = filters[k].Process(kLinks[k].from < 0 ? input[i] : out[kLinks[k].from][i]);
  return out;
}

using tRunner = void (*)(tFilter* const*, const float* const*, float* const*, const int32_t*,
                         int32_t, int32_t);

// The set run over blocks of `block` samples; memories carry over from block to block.
std::vector<std::vector<float>> InBlocks(tRunner run, const std::vector<float>& input,
                                         int count, int32_t block) {
  std::vector<tFilter> filters = Designed(count);
  std::vector<std::vector<float>> out(count, std::vector<float>(input.size()));
  for (size_t start = 0; start < input.size(); start += block) {
    const int32_t n = std::min<int32_t>(block, static_cast<int32_t>(input.size() - start));
    tFilter* links[kMaxLaneFilters];
    const float* source[kMaxLaneFilters];
    float* dest[kMaxLaneFilters];
    int32_t lag[kMaxLaneFilters];
    for (int k = 0; k < count; ++k) {
      links[k] = &filters[k];
      source[k] = kLinks[k].from < 0 ? input.data() + start : out[kLinks[k].from].data() + start;
      dest[k] = out[k].data() + start;
      lag[k] = Depth(k);
    }
    run(links, source, dest, lag, count, n);
  }
  return out;
}

// Filters in vector lanes (and the set's runner, whichever form the processor takes) give
// the floats of the same filters run sample by sample, for every count of filters (padding
// lanes in the last register), chains three deep, blocks shorter than the lanes' lags, and
// inputs beyond the sample limit, infinite or NaN.
TEST(FilterLanesTest, EveryCountAndBlockMatchesSampleBySample) {
  const std::vector<float> input = TestInput();
  std::vector<std::pair<const char*, tRunner>> runners = {{"set", &RunFilterSet}};
  if (FilterLanesAvailable()) runners.push_back({"lanes", &RunFilterLanes});
  for (int count = 1; count <= kMaxLaneFilters; ++count) {
    const auto expected = SampleBySample(input, count);
    for (const auto& [name, run] : runners)
      for (const int32_t block : {1, 2, 5, 7, 64, 256}) {
        const auto got = InBlocks(run, input, count, block);
        for (int k = 0; k < count; ++k)
          for (size_t i = 0; i < input.size(); ++i)
            ASSERT_EQ(std::memcmp(&got[k][i], &expected[k][i], sizeof(float)), 0)
                << name << " count " << count << " block " << block << " filter " << k
                << " sample " << i << ": " << got[k][i] << " against " << expected[k][i];
      }
  }
}

// Two sets in one call, each at its own place in its own stream: the first four filters
// and the other eight take blocks of independent random lengths (0 to 70 samples), as an
// engine filtering a block ahead of another does. Each filter still gives the floats of
// sample-by-sample filtering.
TEST(FilterLanesTest, SetsOfDifferentBlockLengthsMatchSampleBySample) {
  const std::vector<float> input = TestInput();
  const auto expected = SampleBySample(input, kMaxLaneFilters);
  using tLengthsRunner = void (*)(tFilter* const*, const float* const*, float* const*,
                                  const int32_t*, int32_t, const int32_t*);
  std::vector<std::pair<const char*, tLengthsRunner>> runners = {{"set", &RunFilterSet}};
  if (FilterLanesAvailable()) runners.push_back({"lanes", &RunFilterLanes});
  for (const auto& [name, run] : runners) {
    std::vector<tFilter> filters = Designed(kMaxLaneFilters);
    std::vector<std::vector<float>> out(kMaxLaneFilters, std::vector<float>(input.size()));
    std::mt19937 random(3);
    std::uniform_int_distribution<int32_t> pick(0, 70);
    const int32_t total = static_cast<int32_t>(input.size());
    int32_t done[2] = {0, 0};  // samples filtered by the first set and the second
    while (done[0] < total || done[1] < total) {
      tFilter* links[kMaxLaneFilters];
      const float* source[kMaxLaneFilters];
      float* dest[kMaxLaneFilters];
      int32_t lag[kMaxLaneFilters], lengths[kMaxLaneFilters];
      int32_t n[2];
      for (int set = 0; set < 2; ++set) n[set] = std::min(pick(random), total - done[set]);
      for (int k = 0; k < kMaxLaneFilters; ++k) {
        const int set = k < 4 ? 0 : 1;
        const int32_t at = done[set];
        links[k] = &filters[k];
        source[k] = kLinks[k].from < 0 ? input.data() + at : out[kLinks[k].from].data() + at;
        dest[k] = out[k].data() + at;
        lag[k] = Depth(k);
        lengths[k] = n[set];
      }
      run(links, source, dest, lag, kMaxLaneFilters, lengths);
      done[0] += n[0];
      done[1] += n[1];
    }
    for (int k = 0; k < kMaxLaneFilters; ++k)
      for (size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(std::memcmp(&out[k][i], &expected[k][i], sizeof(float)), 0)
            << name << " filter " << k << " sample " << i;
  }
}

// The diverging filter really resets, several times (else the test above would not see
// the lanes' reset path).
TEST(FilterLanesTest, TheDivergingFilterResetsRepeatedly) {
  const auto expected = SampleBySample(TestInput(), 4);
  const auto& diverging = expected[3];
  EXPECT_GE(std::count(diverging.begin(), diverging.end(), 0.0f), 4);
}

}  // namespace
}  // namespace vm
