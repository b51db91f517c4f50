#include "support/AudioThreadCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if VM_COUNT_LIBC
#include <dlfcn.h>
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
}  // namespace

namespace vm::test {
tAudioThreadCounts TakeAudioThreadCounts() {
  return {allocations.exchange(0), frees.exchange(0), locks.exchange(0), waits.exchange(0)};
}
tAudioThreadScope::tAudioThreadScope() { onAudioThread = true; }
tAudioThreadScope::~tAudioThreadScope() { onAudioThread = false; }
}  // namespace vm::test

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
using tClockSleep = int (*)(clockid_t, int, const timespec*, timespec*);
// Looked up before main, so no lookup happens while counting.
const tLock realLock = Next<tLock>("pthread_mutex_lock");
const tLock realTryLock = Next<tLock>("pthread_mutex_trylock");
const tYield realYield = Next<tYield>("sched_yield");
const tSleep realSleep = Next<tSleep>("nanosleep");
const tClockSleep realClockSleep = Next<tClockSleep>("clock_nanosleep");
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
int clock_nanosleep(clockid_t clock, int flags, const timespec* duration, timespec* rest) {
  CountWait();
  return realClockSleep(clock, flags, duration, rest);
}
}
#endif

namespace {
// Out of line, so that the compiler never sees free() given a pointer from operator new.
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
