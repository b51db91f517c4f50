#include "playback/CycleResampler.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vm
