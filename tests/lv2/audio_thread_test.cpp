// run() of the bundle's DSP module on the audio thread allocates, frees, locks and waits
// for nothing, whatever the host sends between blocks. This executable replaces the
// allocator and (in a build without sanitizers) the C library's allocation, lock and
// sleep calls, and exports them, so the module it loads with dlopen calls these; they
// count on the thread marked as the audio thread only.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "engine/Parameters.h"
#include "support/AudioThreadCounter.h"

using vm::test::tAudioThreadScope;

namespace {

constexpr uint32_t kBlock = 256;
constexpr uint32_t kFirstControl = 3;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

const LV2_Descriptor* LoadDescriptor() {
  void* library = dlopen(VM_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
  return entry ? entry(0) : nullptr;
}

// Port values a host may send between blocks: every count and choice from end to end,
// the switches both ways, reals at 0, 1 and beyond, and NaN and infinities everywhere.
std::vector<std::vector<float>> ControlSweep() {
  std::vector<std::vector<float>> steps;
  std::vector<float> values(vm::kParameterCount);
  for (const vm::tParameterInfo& p : vm::kParameters) values[static_cast<size_t>(p.index)] = p.defaultSetting;
  for (const vm::tParameterInfo& p : vm::kParameters) {
    const float top = p.kind == vm::tParameterKind::Count || p.kind == vm::tParameterKind::Choice
                          ? static_cast<float>(p.highest) : 1.0f;
    for (float v : {top, 0.0f, top / 2, 3.0f * top, -1.0f, kNaN, kInf, -kInf, p.defaultSetting}) {
      values[static_cast<size_t>(p.index)] = v;
      steps.push_back(values);
    }
  }
  return steps;
}

TEST(Lv2AudioThread, RunNeverAllocatesLocksOrWaits) {
  const LV2_Descriptor* d = LoadDescriptor();
  ASSERT_NE(d, nullptr) << dlerror();
  const std::vector<std::vector<float>> steps = ControlSweep();
  std::vector<float> controls(vm::kParameterCount), in(kBlock), left(kBlock), right(kBlock);
  for (uint32_t n = 0; n < kBlock; ++n) in[n] = 0.4f * std::sin(0.03f * static_cast<float>(n));

  for (double rateHz : {44100.0, 192000.0}) {
    LV2_Handle handle;
    {
      // The counting reaches into the module: making an instance allocates.
      tAudioThreadScope audio;
      vm::test::TakeAudioThreadCounts();
      handle = d->instantiate(d, rateHz, VM_LV2_BUNDLE, nullptr);
      ASSERT_NE(handle, nullptr);
      EXPECT_GT(vm::test::TakeAudioThreadCounts().allocations, 0)
          << "the module's allocations are not counted";
    }
    for (uint32_t i = 0; i < vm::kParameterCount; ++i) d->connect_port(handle, kFirstControl + i, &controls[i]);
    d->activate(handle);
    vm::test::TakeAudioThreadCounts();
    {
      tAudioThreadScope audio;
      for (size_t step = 0; step < steps.size(); ++step) {
        std::copy(steps[step].begin(), steps[step].end(), controls.begin());
        // Every third block: input on the right output, or the left output missing.
        const bool shared = step % 3 == 1, missing = step % 3 == 2;
        d->connect_port(handle, 0, shared ? right.data() : in.data());
        d->connect_port(handle, 1, missing ? nullptr : left.data());
        d->connect_port(handle, 2, right.data());
        if (shared) std::copy(in.begin(), in.end(), right.begin());
        for (int block = 0; block < 8; ++block) d->run(handle, kBlock);
      }
    }
    const vm::test::tAudioThreadCounts counts = vm::test::TakeAudioThreadCounts();
    EXPECT_EQ(counts.allocations, 0) << rateHz << " Hz";
    EXPECT_EQ(counts.frees, 0) << rateHz << " Hz";
    EXPECT_EQ(counts.locks, 0) << rateHz << " Hz";
    EXPECT_EQ(counts.waits, 0) << rateHz << " Hz";
    d->deactivate(handle);
    d->cleanup(handle);
  }
}

}  // namespace
