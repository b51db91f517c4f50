// run() of the bundle's DSP module on the audio thread allocates, frees, locks and waits
// for nothing, whatever the host sends between blocks. This executable replaces the
// allocator and (in a build without sanitizers) the C library's allocation, lock and
// sleep calls, and exports them, so the module it loads with dlopen calls these; they
// count on the thread marked as the audio thread only.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "engine/Parameters.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VM_COUNT_LIBC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VM_COUNT_LIBC 0
#endif
#endif
#ifndef VM_COUNT_LIBC
#define VM_COUNT_LIBC 1
#endif

#if VM_COUNT_LIBC
#include <pthread.h>
#include <sched.h>
#include <time.h>
#endif

namespace {
thread_local bool onAudioThread = false;
std::atomic<long> allocations{0}, frees{0}, locks{0}, waits{0};

void CountAllocation() {
  if (onAudioThread) allocations.fetch_add(1, std::memory_order_relaxed);
}
void CountFree(void* p) {
  if (p && onAudioThread) frees.fetch_add(1, std::memory_order_relaxed);
}
struct tAudioThreadScope {
  tAudioThreadScope() { onAudioThread = true; }
  ~tAudioThreadScope() { onAudioThread = false; }
};
}  // namespace

#if VM_COUNT_LIBC
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
  CountAllocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  CountAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  CountAllocation();
  return __libc_realloc(p, size);
}
void free(void* p) {
  CountFree(p);
  __libc_free(p);
}
}

namespace {
template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
using tLock = int (*)(pthread_mutex_t*);
using tYield = int (*)();
using tSleep = int (*)(const timespec*, timespec*);
const tLock realLock = Next<tLock>("pthread_mutex_lock");
const tLock realTryLock = Next<tLock>("pthread_mutex_trylock");
const tYield realYield = Next<tYield>("sched_yield");
const tSleep realSleep = Next<tSleep>("nanosleep");
void CountLock() {
  if (onAudioThread) locks.fetch_add(1, std::memory_order_relaxed);
}
void CountWait() {
  if (onAudioThread) waits.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
int pthread_mutex_lock(pthread_mutex_t* m) {
  CountLock();
  return realLock(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
  CountLock();
  return realTryLock(m);
}
int sched_yield() {
  CountWait();
  return realYield();
}
int nanosleep(const timespec* duration, timespec* rest) {
  CountWait();
  return realSleep(duration, rest);
}
}
#endif

namespace {
[[gnu::noinline]] void* Allocate(std::size_t size) {
  CountAllocation();
  return std::malloc(size ? size : 1);
}
[[gnu::noinline]] void Release(void* p) noexcept {
  CountFree(p);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

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
      const long before = allocations.load();
      handle = d->instantiate(d, rateHz, VM_LV2_BUNDLE, nullptr);
      ASSERT_NE(handle, nullptr);
      EXPECT_GT(allocations.load(), before) << "the module's allocations are not counted";
    }
    for (uint32_t i = 0; i < vm::kParameterCount; ++i) d->connect_port(handle, kFirstControl + i, &controls[i]);
    d->activate(handle);
    allocations = frees = locks = waits = 0;
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
    EXPECT_EQ(allocations.load(), 0) << rateHz << " Hz";
    EXPECT_EQ(frees.load(), 0) << rateHz << " Hz";
    EXPECT_EQ(locks.load(), 0) << rateHz << " Hz";
    EXPECT_EQ(waits.load(), 0) << rateHz << " Hz";
    d->deactivate(handle);
    d->cleanup(handle);
  }
}

}  // namespace
