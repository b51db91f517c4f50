// Stretches one pitch cycle cut out of a sample ring to a power-of-two block (so it can be
// Fourier-transformed whole) and squeezes a processed block back over the cycle in a ring.
// Both ways interpolate linearly with the two end samples pinned to each other.
#pragma once

#include <cstdint>
#include <vector>

namespace vm {

class tCycleResampler {
 public:
  static constexpr int32_t kMinSize = 32;  // shortest block, samples: the smallest transform

  tCycleResampler() = default;
  virtual ~tCycleResampler() { FreeBuffers(); }
  tCycleResampler(const tCycleResampler&) = delete;
  tCycleResampler& operator=(const tCycleResampler&) = delete;

  void FreeBuffers();
  // Grows both buffers to Count zero-filled floats; never shrinks. Allocates: call it off
  // the audio thread (the shifter does so when the sample rate is set).
  void EnsureCapacity(int32_t Count);

  // Block length for a cycle of CycleLength samples: the smallest power of two at least
  // that long and never below kMinSize.
  static int32_t BlockSize(int32_t CycleLength);
  // Cycle length of [CycleStart, CycleEnd) in a ring, wrapping when End <= Start.
  static int32_t CycleLength(int32_t RingLength, int32_t CycleEnd, int32_t CycleStart);

  // Stretches [CycleStart, CycleEnd) of Ring into Work and sets Size. Returns false, and
  // changes nothing, when the block would not fit the buffers (no allocation here).
  bool ResampleIn(const float* Ring, int32_t RingLength, int32_t CycleEnd, int32_t CycleStart);
  void CopyOut(float* Dest) const;
  // Copies Count samples into Work as the block to squeeze; false when they do not fit.
  bool Load(const float* Source, int32_t Count);
  // Squeezes Work[0 .. Size-1] to the cycle's length and writes it over the cycle in Ring.
  void ResampleOut(float* Ring, int32_t RingLength, int32_t CycleEnd, int32_t CycleStart);

  int32_t Capacity = 0;  // floats allocated in each buffer
  float* Work = nullptr;     // the stretched cycle or the block to squeeze
  float* Scratch = nullptr;  // the cycle at its own length
  int32_t Size = 0;          // N, length of the block in Work

 private:
  std::vector<float> WorkStore;
  std::vector<float> ScratchStore;
};

}  // namespace vm
