#include "editor/PendingParameters.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vm {
namespace {

TEST(PendingParameters, MarksAreTakenOnceAndOutOfRangeIgnored) {
  tPendingParameters pending;
  pending.Mark(0);
  pending.Mark(20);
  pending.Mark(20);
  pending.Mark(-1);
  pending.Mark(tPendingParameters::kMaxIndices);
  EXPECT_EQ(pending.TakeAll(), (uint64_t{1} << 0) | (uint64_t{1} << 20));
  EXPECT_EQ(pending.TakeAll(), 0u);
}

TEST(PendingParameters, MarksFromManyThreadsAreAllKept) {
  tPendingParameters pending;
  std::vector<std::thread> threads;
  for (int32_t index = 0; index < 21; ++index)
    threads.emplace_back([&pending, index] { pending.Mark(index); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(pending.TakeAll(), (uint64_t{1} << 21) - 1);
}

}  // namespace
}  // namespace vm
