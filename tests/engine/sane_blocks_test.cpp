// The block forms that bring the section engines' samples into range and their outputs
// into the rings must give SaneSample's floats bit for bit, whatever the count (groups of
// four and the remainder) and wherever the ring wraps inside a group.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "analysis/Filters.h"
#include "engine/SaneBlocks.h"

namespace vm {
namespace {

uint32_t Bits(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// Every kind of sample SaneSample tells apart, in an order that puts each kind in every
// lane of a group of four somewhere along the list.
std::vector<float> AwkwardSamples() {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const float justOver = std::nextafter(kSampleLimit, 2 * kSampleLimit);
  const float base[] = {0.25f,   -0.0f,     kSampleLimit, -kSampleLimit, justOver, -justOver,
                        1e30f,   -1e30f,    kInf,         -kInf,         kNaN,     -kNaN,
                        1e-40f,  -3.5f,     999.9f};
  std::vector<float> samples;
  for (int round = 0; round < 5; ++round)
    for (float x : base) samples.push_back(x);
  samples.push_back(7.0f);  // 76 samples: the list's kinds shift lane from round to round
  return samples;
}

TEST(SaneBlocks, SaneBlockGivesSaneSampleForEveryCountAndOffset) {
  const std::vector<float> samples = AwkwardSamples();
  for (int32_t offset = 0; offset < 4; ++offset) {
    for (int32_t n = 0; n + offset <= static_cast<int32_t>(samples.size()); n += 3) {
      std::vector<float> out(samples.size() + 1, 123.0f);
      SaneBlock(samples.data() + offset, out.data(), n);
      for (int32_t i = 0; i < n; ++i)
        ASSERT_EQ(Bits(out[i]), Bits(SaneSample(samples[offset + i])))
            << "offset " << offset << ", count " << n << ", sample " << i << " = "
            << samples[offset + i];
      EXPECT_EQ(out[n], 123.0f) << "wrote past the count " << n;
    }
  }
}

TEST(SaneBlocks, ScaledSaneIntoRingWritesBackwardsAcrossTheWrap) {
  const std::vector<float> samples = AwkwardSamples();
  std::vector<float> levels(samples.size());
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = 0.3f + 0.07f * static_cast<float>(i);
  constexpr int32_t kRing = 32, kMask = kRing - 1;
  constexpr float kUntouched = -77.0f;
  struct tCase {
    int32_t newest;  // ring position of the first sample
    int32_t count;
  };
  // Wraps at each lane of a group, none, and chunks longer than a group with a remainder.
  const tCase cases[] = {{0, 4},  {1, 4},  {2, 4},   {3, 4},   {2, 13}, {5, 13}, {30, 7},
                         {31, 1}, {17, 16}, {6, 31}, {12, 0}, {9, 30}};
  for (const tCase& c : cases) {
    std::vector<float> ring(kRing, kUntouched), expected(kRing, kUntouched);
    for (int32_t i = 0; i < c.count; ++i)
      expected[(c.newest - i) & kMask] = levels[i] * SaneSample(samples[i]);
    ScaledSaneIntoRing(levels.data(), samples.data(), c.count, ring.data(), c.newest, kMask);
    for (int32_t p = 0; p < kRing; ++p)
      ASSERT_EQ(Bits(ring[p]), Bits(expected[p]))
          << "newest " << c.newest << ", count " << c.count << ", position " << p;
  }
}

}  // namespace
}  // namespace vm
