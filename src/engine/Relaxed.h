// A value that one thread writes while another reads, with no ordering implied: a relaxed
// std::atomic with the manners of a plain field. On x86-64 its loads and stores are the
// same single moves a plain float or int would compile to.
#pragma once

#include <atomic>

namespace vm {

template <class T>
class Relaxed {
 public:
  constexpr Relaxed(T initial = T{}) noexcept : value(initial) {}
  Relaxed(const Relaxed&) = delete;
  // Assigning one to another copies the value, not the atomic.
  Relaxed& operator=(const Relaxed& other) noexcept { return *this = T(other); }

  operator T() const noexcept { return value.load(std::memory_order_relaxed); }
  Relaxed& operator=(T v) noexcept {
    value.store(v, std::memory_order_relaxed);
    return *this;
  }

 private:
  std::atomic<T> value;
};

}  // namespace vm
