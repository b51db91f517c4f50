// SaneSample over a block: the same floats as calling it sample by sample, four samples
// per SSE2 register where the build has SSE2. Inline, so that one-sample blocks pay no
// call.
#pragma once

#include <cstdint>

#include "analysis/Filters.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VM_SANE_SSE2 1
#endif

namespace vm {

namespace sane_detail {

#if VM_SANE_SSE2
constexpr int32_t kLanes = 4;

// SaneSample in each lane: a magnitude within the limit passes (a comparison false for
// NaN); NaN and +-inf, whose x - x is NaN, become 0; any other sample the limit with its
// own sign.
inline __m128 SaneLanes(__m128 x) {
  const __m128 limit = _mm_set1_ps(kSampleLimit);
  const __m128 signBit = _mm_set1_ps(-0.0f);
  const __m128 inRange = _mm_cmple_ps(_mm_andnot_ps(signBit, x), limit);
  const __m128 finite = _mm_cmpeq_ps(_mm_sub_ps(x, x), _mm_setzero_ps());
  const __m128 clamped = _mm_and_ps(finite, _mm_or_ps(_mm_and_ps(signBit, x), limit));
  return _mm_or_ps(_mm_and_ps(inRange, x), _mm_andnot_ps(inRange, clamped));
}
#endif

}  // namespace sane_detail

// to[i] = SaneSample(from[i]) for i below n; to may be from.
inline void SaneBlock(const float* from, float* to, int32_t n) {
  int32_t i = 0;
#if VM_SANE_SSE2
  using sane_detail::kLanes, sane_detail::SaneLanes;
  if (n == 1) [[unlikely]] {  // one-sample host blocks: no group to set up
    to[0] = SaneSample(from[0]);
    return;
  }
  for (; i + kLanes <= n; i += kLanes) _mm_storeu_ps(to + i, SaneLanes(_mm_loadu_ps(from + i)));
#endif
  for (; i < n; ++i) to[i] = SaneSample(from[i]);
}

}  // namespace vm
