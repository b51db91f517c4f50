// The section chunk's settled rings written from a block: the same floats as SaneSample and
// the gain sample by sample, four samples per SSE2 register where the build has SSE2.
#pragma once

#include <cstdint>

#include "analysis/SaneBlock.h"

namespace vm {

// ring[(newest - i) & mask] = level[i] * SaneSample(from[i]) for i below n: a section's
// output scaled by its gain into its ring, which is written backwards (sample i of a chunk
// one position below sample i - 1).
inline void ScaledSaneIntoRing(const float* level, const float* from, int32_t n, float* ring,
                               int32_t newest, int32_t mask) {
  auto one = [&](int32_t i) { ring[(newest - i) & mask] = level[i] * SaneSample(from[i]); };
  int32_t i = 0;
#if VM_SANE_SSE2
  using sane_detail::kLanes, sane_detail::SaneLanes;
  for (; i + kLanes <= n; i += kLanes) {
    const int32_t first = (newest - i) & mask;  // ring position of sample i
    if (first < kLanes - 1) {                   // the group wraps round the ring's start
      for (int32_t k = i; k < i + kLanes; ++k) one(k);
      continue;
    }
    const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(level + i), SaneLanes(_mm_loadu_ps(from + i)));
    // Samples i .. i + 3 go to positions first .. first - 3: stored reversed.
    _mm_storeu_ps(ring + first - (kLanes - 1),
                  _mm_shuffle_ps(scaled, scaled, _MM_SHUFFLE(0, 1, 2, 3)));
  }
#endif
  for (; i < n; ++i) one(i);
}

}  // namespace vm
