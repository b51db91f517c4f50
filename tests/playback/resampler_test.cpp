#include "playback/CycleResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <cmath>
#include <vector>

namespace vm {
namespace {

TEST(CycleResampler, BlockSizeIsThePowerOfTwoAtLeastTheCycleAndAtLeast32) {
  const struct { int cycle, block; } cases[] = {
      {1, 32}, {16, 32}, {20, 32}, {32, 32}, {33, 64}, {1024, 1024}, {1025, 2048}};
  for (const auto& c : cases) {
    tCycleResampler resampler;
    resampler.EnsureCapacity(4096);
    std::vector<float> ring(4096, 0.5f);
    ASSERT_TRUE(resampler.ResampleIn(ring.data(), 4096, c.cycle, 0));
    EXPECT_EQ(resampler.Size, c.block) << "cycle " << c.cycle;
  }
}

TEST(CycleResampler, CycleLongerThanTheBuffersIsRefusedWithoutAllocating) {
  tCycleResampler resampler;
  resampler.EnsureCapacity(64 + 2);
  std::vector<float> ring(256, 1.0f);
  EXPECT_TRUE(resampler.ResampleIn(ring.data(), 256, 64, 0));
  EXPECT_FALSE(resampler.ResampleIn(ring.data(), 256, 65, 0));
  EXPECT_EQ(resampler.Capacity, 66);
  EXPECT_EQ(resampler.Size, 64);
  EXPECT_FALSE(resampler.Load(ring.data(), 67));
}

std::vector<float> NumberedRing(int length) {
  std::vector<float> ring(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) ring[i] = static_cast<float>(i % 1000) + 0.25f;
  return ring;
}

TEST(CycleResampler, WrappedCycleReadsRingEndThenStartAndWritesOnlyItsPositions) {
  constexpr int kRing = 32768;
  std::vector<float> ring = NumberedRing(kRing);
  tCycleResampler resampler;
  resampler.EnsureCapacity(kRing);
  ASSERT_TRUE(resampler.ResampleIn(ring.data(), kRing, 8, 32760));
  EXPECT_EQ(resampler.Size, 32);
  EXPECT_EQ(resampler.Work[0], ring[32760]);
  EXPECT_EQ(resampler.Work[31], ring[7]);
  // Squeeze a constant block back: exactly the 16 cycle positions change.
  std::vector<float> block(32, -3.0f);
  ASSERT_TRUE(resampler.Load(block.data(), 32));
  const std::vector<float> before = ring;
  resampler.ResampleOut(ring.data(), kRing, 8, 32760);
  int changed = 0;
  for (int i = 0; i < kRing; ++i) {
    const bool inCycle = i >= 32760 || i < 8;
    if (inCycle) EXPECT_EQ(ring[i], -3.0f) << i;
    else if (ring[i] != before[i]) ++changed;
  }
  EXPECT_EQ(changed, 0);
}

TEST(CycleResampler, ShortCyclesNeverReadPastTheCycle) {
  // The slot just past the cycle holds a huge value: reading it would show in the block.
  for (int length = 1; length <= 16; ++length) {
    std::vector<float> ring(64, 1.0f);
    ring[length] = 1e30f;
    tCycleResampler resampler;
    resampler.EnsureCapacity(64);
    ASSERT_TRUE(resampler.ResampleIn(ring.data(), 64, length, 0));
    for (int i = 0; i < resampler.Size; ++i)
      ASSERT_EQ(resampler.Work[i], 1.0f) << "cycle " << length << " index " << i;
  }
}

TEST(CycleResampler, RoundTripPinsTheEndsAndKeepsTheInteriorClose) {
  const int lengths[] = {17, 44, 100, 294, 441, 1025};
  for (int length : lengths) {
    std::vector<float> ring(2048);
    for (int i = 0; i < 2048; ++i) ring[i] = std::sin(0.5f + 6.2831853f * i / length);
    const std::vector<float> original = ring;
    tCycleResampler resampler;
    resampler.EnsureCapacity(4096);
    ASSERT_TRUE(resampler.ResampleIn(ring.data(), 2048, 100 + length, 100));
    resampler.ResampleOut(ring.data(), 2048, 100 + length, 100);
    EXPECT_EQ(ring[100], original[100]) << length;
    EXPECT_EQ(ring[100 + length - 1], original[100 + length - 1]) << length;
    // One interpolation step each way on a sine of `length` samples per period.
    const double step = 6.2831853 / length;
    for (int i = 101; i < 100 + length - 1; ++i)
      ASSERT_NEAR(ring[i], original[i], step * step) << "cycle " << length << " at " << i;
  }
}

TEST(CycleResampler, PowerOfTwoCycleIsCopiedUnchanged) {
  for (int length : {32, 64, 512}) {
    const std::vector<float> ring = NumberedRing(1024);
    tCycleResampler resampler;
    resampler.EnsureCapacity(1024);
    ASSERT_TRUE(resampler.ResampleIn(ring.data(), 1024, 300 + length, 300));
    ASSERT_EQ(resampler.Size, length);
    std::vector<float> out(static_cast<size_t>(length));
    resampler.CopyOut(out.data());
    for (int i = 0; i < length; ++i) ASSERT_EQ(out[i], ring[300 + i]) << length << " " << i;
  }
}

// Every interior point is the two neighbours' linear blend in double, rounded once to
// float, the upper neighbour held at the last sample: bit for bit, both ways, for cycles
// shorter than half the block (held neighbour), odd lengths (the points the vector loop
// leaves) and long ones.
TEST(CycleResampler, PointsAreTheDoubleBlendRoundedOnceBothWays) {
  auto blend = [](const float* c, int32_t last, double p) {
    const int32_t k = static_cast<int32_t>(p);
    const int32_t k1 = std::min(k + 1, last);
    return static_cast<float>(c[k] + (static_cast<double>(c[k1]) - c[k]) * (p - k));
  };
  constexpr int32_t kRingLength = 4096;
  std::vector<float> ring(kRingLength);
  for (int32_t i = 0; i < kRingLength; ++i) ring[i] = std::sin(0.37f * i) + 0.01f * (i % 7);
  for (const int32_t length : {9, 16, 17, 33, 100, 294, 511, 1000}) {
    tCycleResampler resampler;
    resampler.EnsureCapacity(2050);
    const int32_t start = 4000, end = (start + length) % kRingLength;  // wraps
    ASSERT_TRUE(resampler.ResampleIn(ring.data(), kRingLength, end, start));
    const int32_t n = resampler.Size;
    std::vector<float> cycle(length);
    for (int32_t i = 0; i < length; ++i) cycle[i] = ring[(start + i) % kRingLength];
    for (int32_t i = 1; i <= n - 2; ++i) {
      const float expected = blend(cycle.data(), length - 1, i * (static_cast<double>(length) / n));
      ASSERT_EQ(std::memcmp(&resampler.Work[i], &expected, sizeof(float)), 0) << length << " " << i;
    }
    std::vector<float> block(resampler.Work, resampler.Work + n);
    for (int32_t i = 0; i < n; ++i) block[i] = std::cos(0.11f * i);
    ASSERT_TRUE(resampler.Load(block.data(), n));
    std::vector<float> out = ring;
    resampler.ResampleOut(out.data(), kRingLength, end, start);
    for (int32_t i = 1; i <= length - 2; ++i) {
      const float expected = blend(block.data(), n - 1, i * (static_cast<double>(n) / length));
      ASSERT_EQ(std::memcmp(&out[(start + i) % kRingLength], &expected, sizeof(float)), 0)
          << length << " " << i;
    }
  }
}

}  // namespace
}  // namespace vm
