// The parameter table and the store every thread shares: steps survive a round trip through
// the host value, and a write-back conditioned on a version never overwrites a newer value.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <thread>

#include "engine/Parameters.h"

namespace vm {
namespace {

TEST(ParameterTable, NamesAreUniqueAndFitTheHostsField) {
  std::set<std::string> names;
  for (const tParameterInfo& p : kParameters) {
    EXPECT_EQ(&p - kParameters.data(), p.index) << p.name;
    EXPECT_LE(std::strlen(p.name), 11u) << p.name;  // the host's name field holds 11
    EXPECT_TRUE(names.insert(p.name).second) << p.name;
    EXPECT_EQ(ParameterIndexOf(p.name), p.index);
  }
  EXPECT_EQ(ParameterIndexOf("clones"), -1);  // exact names only
}

// Every step of a count or choice reads back as a host value that gives the same step, so
// a host that writes back what it read changes nothing.
TEST(ParameterTable, EveryStepSurvivesTheHostRoundTrip) {
  for (const tParameterInfo& p : kParameters) {
    if (p.kind != tParameterKind::Count && p.kind != tParameterKind::Choice) continue;
    for (int32_t step = p.lowest; step <= p.highest; ++step) {
      const float host = HostFromSetting(p.index, static_cast<float>(step));
      EXPECT_GE(host, 0.0f) << p.name << " " << step;
      EXPECT_LE(host, 1.0f) << p.name << " " << step;
      EXPECT_EQ(SettingFromHost(p.index, host), static_cast<float>(step)) << p.name << " " << step;
    }
  }
}

TEST(ParameterTable, HostValuesOutsideTheRangeStayInsideTheSteps) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const tParameterInfo& p : kParameters) {
    if (p.kind == tParameterKind::Real) continue;
    for (float v : {-1e30f, -1.0f, 2.0f, 1e30f, nan}) {
      const float s = SettingFromHost(p.index, v);
      EXPECT_GE(s, static_cast<float>(p.lowest)) << p.name << " " << v;
      EXPECT_LE(s, static_cast<float>(p.highest)) << p.name << " " << v;
    }
  }
}

TEST(ParameterStore, ChangesBumpTheVersionAndMarkTheIndexOnce) {
  tParameterStore store;
  EXPECT_EQ(store.TakeChanges(), 0u);
  EXPECT_FALSE(store.SetFromHost(kMix, 1.0f));  // the default: no change
  EXPECT_EQ(store.Version(kMix), 0u);
  EXPECT_TRUE(store.SetFromHost(kMix, 0.2f));
  EXPECT_TRUE(store.SetFromHost(kClones, 0.0f));
  EXPECT_FALSE(store.SetFromHost(kClones, 0.01f));  // still one voice
  EXPECT_EQ(store.Version(kMix), 1u);
  EXPECT_EQ(store.TakeChanges(), (1u << kMix) | (1u << kClones));
  EXPECT_EQ(store.TakeChanges(), 0u);
  EXPECT_EQ(store.Snapshot().Clones, 1);
  EXPECT_FLOAT_EQ(store.Snapshot().Mix, 0.2f);
  EXPECT_FALSE(store.SetFromHost(kParameterCount, 0.5f));
  EXPECT_EQ(store.TakeChanges(), 0u);
}

TEST(ParameterStore, ANaNRealIsAChangeEveryTime) {
  tParameterStore store;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(store.SetFromHost(kTiming, nan));
  EXPECT_TRUE(store.SetFromHost(kTiming, nan));
  EXPECT_EQ(store.Version(kTiming), 2u);
  EXPECT_EQ(Clamped(store.Setting(kTiming)), 0.0f);  // the engine reads it as 0
}

TEST(ParameterStore, AWriteBackLosesToANewerChange) {
  tParameterStore store;
  const uint32_t shown = store.Version(kMix);
  store.SetFromHost(kMix, 0.2f);  // the host, after the form last showed Mix
  EXPECT_FALSE(store.SetSettingIfUnchanged(kMix, 0.9f, shown));
  EXPECT_FLOAT_EQ(store.Setting(kMix), 0.2f);
  EXPECT_TRUE(store.SetSettingIfUnchanged(kMix, 0.9f, store.Version(kMix)));
  EXPECT_FLOAT_EQ(store.Setting(kMix), 0.9f);
}

// Two writers race on one parameter: every successful change gets its own version, and the
// stored value is the one the last successful writer wrote.
TEST(ParameterStore, ConcurrentWritersNeverLoseAVersion) {
  tParameterStore store;
  constexpr int kWrites = 20000;
  std::atomic<int> changes{0};
  auto writer = [&](float base) {
    for (int i = 0; i < kWrites; ++i)
      if (store.SetFromHost(kTiming, base + static_cast<float>(i % 100) * 1e-3f)) ++changes;
  };
  std::thread a(writer, 0.1f), b(writer, 0.6f);
  a.join();
  b.join();
  EXPECT_EQ(store.Version(kTiming), static_cast<uint32_t>(changes.load()));
}

}  // namespace
}  // namespace vm
