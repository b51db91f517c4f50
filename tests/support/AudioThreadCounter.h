// Counts what the audio thread must never do: allocate, free, lock or wait. An executable
// that links AudioThreadCounter.cpp replaces operator new / delete and, in a build without
// sanitizers, the C library's malloc, calloc, realloc, free, pthread_mutex_lock / trylock,
// sched_yield, nanosleep and clock_nanosleep; each counts on a thread marked as the audio
// thread only. Sanitizers intercept the allocator and the locks themselves: there only the
// operator new / delete counts apply. An executable that exports its symbols (CMake's
// ENABLE_EXPORTS) counts the calls of the modules it loads as well.
#pragma once

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

namespace vm::test {

struct tAudioThreadCounts {
  long allocations, frees, locks, waits;
  long Total() const { return allocations + frees + locks + waits; }
};

// The counts since the last call; starts counting afresh.
tAudioThreadCounts TakeAudioThreadCounts();

// Marks the calling thread as the audio thread for the scope's lifetime.
class tAudioThreadScope {
 public:
  tAudioThreadScope();
  ~tAudioThreadScope();
  tAudioThreadScope(const tAudioThreadScope&) = delete;
  tAudioThreadScope& operator=(const tAudioThreadScope&) = delete;
};

}  // namespace vm::test
