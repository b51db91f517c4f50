#include "playback/CycleResampler.h"

#include <algorithm>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VM_RESAMPLER_AVX2 1
#endif

namespace vm {
namespace {

// One interpolated point at position p (in samples of c, p >= 0), the upper neighbour held
// at c[last].
inline float PointAt(const float* c, int32_t last, double p) {
  const int32_t k = static_cast<int32_t>(p);
  const int32_t k1 = std::min(k + 1, last);
  return static_cast<float>(c[k] + (static_cast<double>(c[k1]) - c[k]) * (p - k));
}

#if VM_RESAMPLER_AVX2
// Whether the processor and the system run AVX2; decided once when the library loads.
const bool kAvx2Available = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();

// Points i = first .. while i + 3 <= lastOut, four at a time: lane by lane the double
// operations of PointAt (no fused multiply-add), so the same bits. Returns the next i.
__attribute__((target("avx2"))) int32_t InterpolateAvx2(const float* c, int32_t last,
                                                        double scale, float* out,
                                                        int32_t first, int32_t lastOut) {
  const __m256d scale4 = _mm256_set1_pd(scale);
  const __m128i lastIndex = _mm_set1_epi32(last), one = _mm_set1_epi32(1);
  int32_t i = first;
  for (; i + 3 <= lastOut; i += 4) {
    const __m256d p = _mm256_mul_pd(_mm256_set_pd(i + 3, i + 2, i + 1, i), scale4);
    const __m128i k = _mm256_cvttpd_epi32(p);  // truncation, as the cast
    const __m128i k1 = _mm_min_epi32(_mm_add_epi32(k, one), lastIndex);
    const __m256d below = _mm256_cvtps_pd(_mm_i32gather_ps(c, k, 4));
    const __m256d above = _mm256_cvtps_pd(_mm_i32gather_ps(c, k1, 4));
    const __m256d fraction = _mm256_sub_pd(p, _mm256_cvtepi32_pd(k));
    const __m256d v = _mm256_add_pd(below, _mm256_mul_pd(_mm256_sub_pd(above, below), fraction));
    _mm_storeu_ps(out + i, _mm256_cvtpd_ps(v));
  }
  return i;
}
#endif

// out[i] = c linearly interpolated at i * scale, for i = 1 .. lastOut.
void Interpolate(const float* c, int32_t last, double scale, float* out, int32_t lastOut) {
  int32_t i = 1;
#if VM_RESAMPLER_AVX2
  if (kAvx2Available) i = InterpolateAvx2(c, last, scale, out, i, lastOut);
#endif
#if defined(__SSE2__) || defined(_M_X64)
  // Two points at a time: the same double operations as PointAt, lane by lane.
  const __m128d scale2 = _mm_set1_pd(scale);
  for (; i + 1 <= lastOut; i += 2) {
    const __m128d p = _mm_mul_pd(_mm_set_pd(i + 1, i), scale2);
    const __m128i k = _mm_cvttpd_epi32(p);  // truncation, as the cast
    const int32_t k0 = _mm_cvtsi128_si32(k), k1 = _mm_cvtsi128_si32(_mm_srli_si128(k, 4));
    const __m128d below = _mm_set_pd(c[k1], c[k0]);
    const __m128d above = _mm_set_pd(c[std::min(k1 + 1, last)], c[std::min(k0 + 1, last)]);
    const __m128d fraction = _mm_sub_pd(p, _mm_cvtepi32_pd(k));
    const __m128d v = _mm_add_pd(below, _mm_mul_pd(_mm_sub_pd(above, below), fraction));
    _mm_storel_pi(reinterpret_cast<__m64*>(out + i), _mm_cvtpd_ps(v));
  }
#endif
  for (; i <= lastOut; ++i) out[i] = PointAt(c, last, i * scale);
}

}  // namespace


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
  Interpolate(c, l - 1, static_cast<double>(l) / n, Work, n - 2);
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
  Interpolate(b, n - 1, static_cast<double>(n) / l, Scratch, l - 2);
  const int32_t head = std::min(l, RingLength - CycleStart);
  std::copy(Scratch, Scratch + head, Ring + CycleStart);
  std::copy(Scratch + head, Scratch + l, Ring);
}

}  // namespace vm
