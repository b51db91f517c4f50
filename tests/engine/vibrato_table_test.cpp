// The vibrato table: entries filled lazily, 256 at a time, from rotations, against the
// library-cosine formula and against the array the engine used to keep (rebuilt in place
// from 0 to half, reallocated with zeros when a shape outgrew it).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/VibratoTable.h"

namespace vm {
namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RaisedCosine, RotationsGiveTheLibraryFormulaBitForBit) {
  const struct {
    int32_t depth, half;
  } shapes[] = {{0, 1},     {1, 1},     {5, 2},      {92, 4099},  {92, 4100}, {848, 33923},
                {1, 42608}, {37, 999},  {26600, 386000}, {3, 7},  {1200, 5},  {4500, 100000}};
  for (const auto& shape : shapes) {
    const tRaisedCosineShape rotations(shape.depth, shape.half);
    // Runs starting anywhere, of the table's segment length and of odd lengths.
    for (int32_t first : {0, 1, 3, shape.half / 3, shape.half / 2 + 1, std::max(shape.half - 300, 0)}) {
      for (int32_t length : {1, 5, 256, 600}) {
        const int32_t last = std::min(first + length - 1, shape.half);
        if (first > last) continue;
        std::vector<float> run(static_cast<size_t>(last - first + 1));
        RaisedCosine(run.data(), first, last, rotations);
        for (int32_t j = first; j <= last; ++j)
          ASSERT_TRUE(SameBits(run[j - first], RaisedCosineEntry(j, shape.depth, shape.half)))
              << "depth " << shape.depth << " half " << shape.half << " entry " << j << ": "
              << run[j - first] << " against " << RaisedCosineEntry(j, shape.depth, shape.half);
      }
    }
  }
}

// The array as it was: grown to round(1.25 half) (at least half + 1) with zeros when a
// shape did not fit, otherwise rebuilt in place from 0 to half.
class tGrowingArray {
 public:
  void Rebuild(int32_t depth, int32_t half) {
    if (depth == lastDepth && half == lastHalf) return;
    if (static_cast<int32_t>(entries.size()) < half + 1)
      entries.assign(std::max<size_t>(std::lround(half * 1.25), half + 1), 0.0f);
    for (int32_t j = 0; j <= half; ++j) entries[j] = RaisedCosineEntry(j, depth, half);
    lastDepth = depth;
    lastHalf = half;
  }
  std::vector<float> entries;
  int32_t lastDepth = -1, lastHalf = -1;
};

// Sequences of shapes as a voice's set-ups give them: the table read up to the larger of
// the current and the previous half (a first swing turns at the previous turning point)
// holds what the growing array held.
TEST(VibratoTable, HoldsWhatTheGrowingArrayHeldUpToTheLastTwoHalves) {
  const std::vector<std::vector<std::pair<int32_t, int32_t>>> sequences = {
      {{848, 33923}, {92, 4099}},                // construction, then the first set-up
      {{848, 33923}, {92, 4099}, {60, 2500}},    // shrinking twice
      {{92, 4099}, {200, 9000}, {100, 9000}},    // growing (zeros), then depth only
      {{92, 4099}, {92, 4099}, {30, 4099}},      // an unchanged shape is no rebuild
      {{10, 3000}, {20, 3500}, {5, 3600}, {7, 1000}},  // grown within the spare quarter
  };
  for (const auto& shapes : sequences) {
    tVibratoTable table;
    table.Allocate(42610);
    tGrowingArray reference;
    int32_t previousHalf = -1, currentHalf = -1;
    for (const auto& [depth, half] : shapes) {
      // Read a little of each shape, as walks do, before the next one comes.
      table.Prepare(half / 2, half / 2 + 10);
      table.Rebuild(depth, half);
      reference.Rebuild(depth, half);
      if (half != currentHalf || depth != table.Depth()) previousHalf = currentHalf;
      currentHalf = half;
    }
    const int32_t readable = std::max(currentHalf, previousHalf);
    table.Prepare(0, readable);
    for (int32_t j = 0; j <= readable; ++j)
      ASSERT_TRUE(SameBits(table.Entries()[j], reference.entries[j]))
          << "after " << shapes.size() << " shapes, entry " << j;
  }
}

}  // namespace
}  // namespace vm
