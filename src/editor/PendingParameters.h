#pragma once
// Parameter changes reported by the host on a thread other than the editor's
// GUI thread: one atomic bit per parameter index, set by the reporting thread
// and drained (the control then reads the current value, so order is moot)
// on the GUI thread at its next idle or window message.
#include <atomic>
#include <cstdint>

namespace vm {

class tPendingParameters {
public:
  // Records index; out-of-range indices are ignored. Lock-free, any thread.
  void Mark(int32_t index) {
    if (index < 0 || index >= kMaxIndices) return;
    Bits.fetch_or(uint64_t{1} << index, std::memory_order_acq_rel);
  }

  // Takes every recorded index at once and clears them; bit i set = index i.
  uint64_t TakeAll() { return Bits.exchange(0, std::memory_order_acq_rel); }

  static constexpr int32_t kMaxIndices = 64;  // bits in the word

private:
  std::atomic<uint64_t> Bits{0};
};

}  // namespace vm
