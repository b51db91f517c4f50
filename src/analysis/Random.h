// The process-wide random generator: 32-bit linear congruential, state 0 at load, never
// reseeded, shared by every voice of every instance and by the brushed-metal artwork.
//
// The state is an atomic so that instances processing on different threads (or the
// editor drawing while audio runs) never race; each draw is one compare-and-swap, so the
// sequence seen by a single thread is exactly the classic one.
#pragma once

#include <atomic>
#include <cstdint>

namespace vm {

class tRandom {
 public:
  // Real in 0..1 (1 excluded): state / 2^32 after one step.
  // Double, not float: a float would round the largest states up to 1.0.
  static double Random() { return Next() * (1.0 / 4294967296.0); }

  // Integer in 0..n-1: the upper 32 bits of the 64-bit product state * n after one step.
  static int32_t RandomInt(uint32_t n) {
    return static_cast<int32_t>((static_cast<uint64_t>(Next()) * n) >> 32);
  }

  static uint32_t State() { return state.load(std::memory_order_relaxed); }
  static void SetState(uint32_t s) { state.store(s, std::memory_order_relaxed); }

 private:
  // state := state * 134775813 + 1 modulo 2^32; returns the new state.
  static uint32_t Next() {
    uint32_t old = state.load(std::memory_order_relaxed);
    uint32_t next;
    do {
      next = old * 134775813u + 1u;
    } while (!state.compare_exchange_weak(old, next, std::memory_order_relaxed));
    return next;
  }

  static inline std::atomic<uint32_t> state{0};
};

}  // namespace vm
