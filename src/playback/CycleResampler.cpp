#include "playback/CycleResampler.h"

#include <algorithm>

namespace vm {

void tCycleResampler::FreeBuffers() {
  if (Capacity > 0) {
    std::vector<float>().swap(WorkStore);
    std::vector<float>().swap(ScratchStore);
  }
  Work = Scratch = nullptr;
  Capacity = 0;
}

void tCycleResampler::EnsureCapacity(int32_t Count) {
  if (Count <= Capacity || Count <= 0) return;
  FreeBuffers();
  WorkStore.assign(static_cast<size_t>(Count), 0.0f);
  ScratchStore.assign(static_cast<size_t>(Count), 0.0f);
  Work = WorkStore.data();
  Scratch = ScratchStore.data();
  Capacity = Count;
}

int32_t tCycleResampler::BlockSize(int32_t CycleLength) {
  int32_t n = kMinSize;
  while (CycleLength > n) n *= 2;
  return n;
}

int32_t tCycleResampler::CycleLength(int32_t RingLength, int32_t CycleEnd, int32_t CycleStart) {
  const int32_t length = CycleEnd - CycleStart;
  return length > 0 ? length : length + RingLength;
}

bool tCycleResampler::ResampleIn(const float* Ring, int32_t RingLength, int32_t CycleEnd,
                                 int32_t CycleStart) {
  const int32_t l = CycleLength(RingLength, CycleEnd, CycleStart);
  const int32_t n = BlockSize(l);
  if (n + 2 > Capacity) return false;
  // The cycle at its own length, unwrapped.
  const int32_t head = std::min(l, RingLength - CycleStart);
  std::copy(Ring + CycleStart, Ring + CycleStart + head, Scratch);
  std::copy(Ring, Ring + (l - head), Scratch + head);
  const float* c = Scratch;
  Work[0] = c[0];
  Work[n - 1] = c[l - 1];
  // Interior points on the scale L / N. For cycles of N/2 samples or fewer (only those of
  // 16 or fewer, since N >= 32) the upper neighbour of the last points would be c[L], past
  // the cycle: it is held at the last sample instead.
  const double scale = static_cast<double>(l) / n;
  for (int32_t i = 1; i <= n - 2; ++i) {
    const double p = i * scale;
    const int32_t k = static_cast<int32_t>(p);
    const int32_t k1 = std::min(k + 1, l - 1);
    Work[i] = static_cast<float>(c[k] + (static_cast<double>(c[k1]) - c[k]) * (p - k));
  }
  Size = n;
  return true;
}

void tCycleResampler::CopyOut(float* Dest) const { std::copy(Work, Work + Size, Dest); }

bool tCycleResampler::Load(const float* Source, int32_t Count) {
  if (Count > Capacity || Count < 0) return false;
  Size = Count;
  std::copy(Source, Source + Count, Work);
  return true;
}

void tCycleResampler::ResampleOut(float* Ring, int32_t RingLength, int32_t CycleEnd,
                                  int32_t CycleStart) {
  const int32_t l = CycleLength(RingLength, CycleEnd, CycleStart);
  const int32_t n = Size;
  if (n < 2 || l > Capacity) return;
  const float* b = Work;
  Scratch[0] = b[0];
  Scratch[l - 1] = b[n - 1];
  const double scale = static_cast<double>(n) / l;
  for (int32_t i = 1; i <= l - 2; ++i) {
    const double p = i * scale;
    const int32_t k = static_cast<int32_t>(p);
    const int32_t k1 = std::min(k + 1, n - 1);
    Scratch[i] = static_cast<float>(b[k] + (static_cast<double>(b[k1]) - b[k]) * (p - k));
  }
  const int32_t head = std::min(l, RingLength - CycleStart);
  std::copy(Scratch, Scratch + head, Ring + CycleStart);
  std::copy(Scratch + head, Scratch + l, Ring);
}

}  // namespace vm
