// Processing must never allocate: a replaced global allocator counts every allocation
// made while a block runs, settings changes between blocks included.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "EngineFixture.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

namespace {
void* CountedAllocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void CountedFree(void* p) noexcept {
  if (p && counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace vm {
namespace {

TEST(RealTime, ProcessingAndSettingsChangesAllocateNothing) {
  tVoicemultiply effect(nullptr);
  // Grow every table once to its largest size, outside the counted region.
  effect.setParameter(kVibRate, 0.0f);
  effect.setParameter(kClones, 1.0f);
  effect.setParameter(kVibRandom, 1.0f);
  effect.setParameter(kClones, 0.0f);
  effect.setParameter(kVibRandom, 0.0f);

  std::vector<float> in(512), left(512), right(512);
  for (size_t i = 0; i < in.size(); ++i) in[i] = 0.3f * std::sin(0.02f * i);
  float* inputs[] = {in.data()};
  float* outputs[] = {left.data(), right.data()};
  const std::pair<int, float> changes[] = {
      {kClones, 1.0f},   {kTiming, 0.9f}, {kVibDepth, 1.0f}, {kVibRate, 0.5f},
      {kSplit, 1.0f},    {kSection, 0.5f}, {kFocus, 0.2f},    {kDynRandom, 0.0f},
      {kDynDepth, 1.0f}, {kMix, 0.3f},     {kDryDelay, 1.0f}, {kVibRandom, 1.0f},
      {kGain, 0.1f},     {kUnisonFmnts, 0.9f}, {kBassLevel, 1.0f}};

  counting = true;
  for (const auto& [index, value] : changes) {
    effect.processReplacing(inputs, outputs, 512);
    effect.setParameter(index, value);
    effect.process(inputs, outputs, 512);
  }
  counting = false;
  EXPECT_EQ(allocations.load(), 0);
}

TEST(RealTime, TheCounterSeesAllocations) {
  counting = true;
  auto* table = new std::vector<float>(100);
  counting = false;
  delete table;
  EXPECT_GE(allocations.exchange(0), 2);  // the vector and its storage
}

}  // namespace
}  // namespace vm
