#include "analysis/FilterLanes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VM_FILTER_LANES 1
#else
#define VM_FILTER_LANES 0
#endif

namespace vm {

namespace {

template <size_t... K>
void RunScalarChains(std::index_sequence<K...>, tFilter* const* filters,
                     const float* const* source, float* const* dest, const int32_t* lag,
                     int32_t count, int32_t n) {
  ((count == static_cast<int32_t>(K + 1) ? RunFilterChains<K + 1>(filters, source, dest, lag, n)
                                         : void()),
   ...);
}

#if VM_FILTER_LANES
const bool kLanesAvailable = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
}();

constexpr int32_t kLanes = 4;     // doubles per 256-bit register
constexpr int32_t kLagStep = 3;   // iterations between a chained filter and its source
constexpr double kGuard = 1e-20;  // subtracted from every output, as tFilter does

// Where each lane reads and writes. Padding lanes (beyond `count`) repeat lane 0: its
// filter, source, destination, lag and length, so they compute lane 0's floats and store
// them where lane 0 does, with no test of their own.
struct tLaneLinks {
  const tFilter* filter[kMaxLaneFilters];
  const float* source[kMaxLaneFilters];
  float* dest[kMaxLaneFilters];
  int32_t lag[kMaxLaneFilters];     // iterations
  int32_t length[kMaxLaneFilters];  // samples of the lane's block
  // From iteration maxLag on, while every lane runs: iteration maxLag + t reads
  // from[k][t] and writes to[k][t] (sample t + maxLag - lag).
  const float* from[kMaxLaneFilters];
  float* to[kMaxLaneFilters];
};

template <int G>
struct tLaneState {
  __m256d b0[G], b1[G], negA1[G], negA2[G];  // coefficients, feedback negated
  __m256d x1[G], x2[G], y1[G], y2[G];        // memories, floats held as doubles
};

// What an inactive lane reads (its result is dropped).
const float kSilentInput = 0.0f;

// SaneSample lane by lane (a rare path: only when some input is beyond the limit or NaN).
__attribute__((target("avx2,fma"))) __m128 SaneLanes(__m128 x) {
  alignas(16) float v[kLanes];
  _mm_store_ps(v, x);
  for (float& s : v) s = SaneSample(s);
  return _mm_load_ps(v);
}

// One iteration of group g at iteration i: lane l runs sample i - lag of filter 4g + l.
// Edge: some lanes' samples may lie outside the block; those lanes read a silent input,
// store into a scratch float and keep their memories (a blend, no branch per lane).
// Middle (not Edge): t = i - maxLag, every lane's sample inside its block.
template <int G, bool Edge>
__attribute__((target("avx2,fma"), always_inline)) inline void StepGroup(
    tLaneState<G>& s, const tLaneLinks& links, float* inactive, int g, int32_t i,
    int32_t t) {
  const float* in[kLanes];
  float* out[kLanes];
  int64_t on[kLanes];
  for (int l = 0; l < kLanes; ++l) {
    const int k = g * kLanes + l;
    if constexpr (Edge) {
      const int32_t j = i - links.lag[k];
      const bool active = static_cast<uint32_t>(j) < static_cast<uint32_t>(links.length[k]);
      in[l] = active ? links.source[k] + j : &kSilentInput;
      out[l] = active ? links.dest[k] + j : inactive;
      on[l] = -static_cast<int64_t>(active);
    } else {
      in[l] = links.from[k] + t;
      out[l] = links.to[k] + t;
    }
  }
  __m128 xf = _mm_setr_ps(*in[0], *in[1], *in[2], *in[3]);
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 inRange = _mm_cmple_ps(_mm_and_ps(xf, absMask), _mm_set1_ps(kSampleLimit));
  if (_mm_movemask_ps(inRange) != 0xf) [[unlikely]] xf = SaneLanes(xf);
  const __m256d x = _mm256_cvtps_pd(xf);
  __m256d sum = _mm256_mul_pd(s.b0[g], x);
  sum = _mm256_fmadd_pd(s.b1[g], s.x1[g], sum);
  sum = _mm256_fmadd_pd(s.b0[g], s.x2[g], sum);
  sum = _mm256_fmadd_pd(s.negA1[g], s.y1[g], sum);
  sum = _mm256_fmadd_pd(s.negA2[g], s.y2[g], sum);
  sum = _mm256_sub_pd(sum, _mm256_set1_pd(kGuard));
  __m128 yf = _mm256_cvtpd_ps(sum);
  const __m128 finite = _mm_cmple_ps(_mm_and_ps(yf, absMask),
                                     _mm_set1_ps(std::numeric_limits<float>::max()));
  __m256d y = _mm256_cvtps_pd(yf);
  __m256d newX1 = x, newX2 = s.x1[g], newY1 = y, newY2 = s.y1[g];
  if (_mm_movemask_ps(finite) != 0xf) [[unlikely]] {
    // A lane whose output is not finite forgets its history and outputs 0 (as
    // tFilter::Process); an inactive lane's result is dropped below anyway.
    const __m128 keepF = finite;
    const __m256d keep = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_castps_si128(keepF)));
    yf = _mm_and_ps(yf, keepF);
    y = _mm256_and_pd(y, keep);
    newX1 = _mm256_and_pd(newX1, keep);
    newX2 = _mm256_and_pd(newX2, keep);
    newY1 = _mm256_and_pd(newY1, keep);
    newY2 = _mm256_and_pd(newY2, keep);
  }
  if constexpr (Edge) {
    const __m256d active = _mm256_castsi256_pd(_mm256_setr_epi64x(on[0], on[1], on[2], on[3]));
    s.x2[g] = _mm256_blendv_pd(s.x2[g], newX2, active);
    s.x1[g] = _mm256_blendv_pd(s.x1[g], newX1, active);
    s.y2[g] = _mm256_blendv_pd(s.y2[g], newY2, active);
    s.y1[g] = _mm256_blendv_pd(s.y1[g], newY1, active);
  } else {
    s.x2[g] = newX2;
    s.x1[g] = newX1;
    s.y2[g] = newY2;
    s.y1[g] = newY1;
  }
  int32_t bits[kLanes];
  bits[0] = _mm_extract_ps(yf, 0);
  bits[1] = _mm_extract_ps(yf, 1);
  bits[2] = _mm_extract_ps(yf, 2);
  bits[3] = _mm_extract_ps(yf, 3);
  for (int l = 0; l < kLanes; ++l) std::memcpy(out[l], &bits[l], sizeof(float));
}

template <int G, bool Edge>
__attribute__((target("avx2,fma"), always_inline)) inline void StepAll(
    tLaneState<G>& s, const tLaneLinks& links, float* inactive, int32_t i, int32_t t) {
#pragma GCC unroll 4
  for (int g = 0; g < G; ++g) StepGroup<G, Edge>(s, links, inactive, g, i, t);
}

// A field of group g's four filters as doubles (floats widen exactly).
__attribute__((target("avx2,fma"), always_inline)) inline __m256d LaneValues(
    const tLaneLinks& links, int g, float tFilter::*field) {
  const tFilter* const* f = links.filter + g * kLanes;
  return _mm256_cvtps_pd(_mm_setr_ps(f[0]->*field, f[1]->*field, f[2]->*field, f[3]->*field));
}

template <int G>
__attribute__((target("avx2,fma"))) void RunGroups(tFilter* const* filters, int32_t count,
                                                   tLaneLinks& links, int32_t shortest,
                                                   int32_t longest, int32_t maxLag) {
  tLaneState<G> s;
  const __m256d zero = _mm256_setzero_pd();
  for (int g = 0; g < G; ++g) {
    s.b0[g] = LaneValues(links, g, &tFilter::b0);
    s.b1[g] = LaneValues(links, g, &tFilter::b1);
    s.negA1[g] = _mm256_sub_pd(zero, LaneValues(links, g, &tFilter::a1));
    s.negA2[g] = _mm256_sub_pd(zero, LaneValues(links, g, &tFilter::a2));
    s.x1[g] = LaneValues(links, g, &tFilter::x1);
    s.x2[g] = LaneValues(links, g, &tFilter::x2);
    s.y1[g] = LaneValues(links, g, &tFilter::y1);
    s.y2[g] = LaneValues(links, g, &tFilter::y2);
  }
  float dropped = 0.0f;  // where inactive lanes store
  float* const inactive = &dropped;
  // Iterations maxLag .. shortest - 1 run a sample in every lane.
  int32_t i = 0;
  for (; i < maxLag && i < shortest; ++i) StepAll<G, true>(s, links, inactive, i, 0);
  if (i < shortest) {
    for (int k = 0; k < G * kLanes; ++k) {
      links.from[k] = links.source[k] + (maxLag - links.lag[k]);
      links.to[k] = links.dest[k] + (maxLag - links.lag[k]);
    }
    for (; i < shortest; ++i) StepAll<G, false>(s, links, inactive, i, i - maxLag);
  }
  for (; i < longest + maxLag; ++i) StepAll<G, true>(s, links, inactive, i, 0);
  // The memories are floats held exactly as doubles: narrowing gives them back.
  for (int g = 0; g < G; ++g) {
    alignas(16) float x1[kLanes], x2[kLanes], y1[kLanes], y2[kLanes];
    _mm_store_ps(x1, _mm256_cvtpd_ps(s.x1[g]));
    _mm_store_ps(x2, _mm256_cvtpd_ps(s.x2[g]));
    _mm_store_ps(y1, _mm256_cvtpd_ps(s.y1[g]));
    _mm_store_ps(y2, _mm256_cvtpd_ps(s.y2[g]));
    for (int l = 0; l < kLanes && g * kLanes + l < count; ++l) {
      tFilter& f = *filters[g * kLanes + l];
      f.x1 = x1[l];
      f.x2 = x2[l];
      f.y1 = y1[l];
      f.y2 = y2[l];
    }
  }
}
#else
const bool kLanesAvailable = false;
#endif
}  // namespace

bool FilterLanesAvailable() { return kLanesAvailable; }

void RunFilterLanes(tFilter* const* filters, const float* const* source, float* const* dest,
                    const int32_t* lag, int32_t count, const int32_t* lengths) {
#if VM_FILTER_LANES
  if (count <= 0 || count > kMaxLaneFilters) return;
  tLaneLinks links;
  int32_t maxLag = 0, shortest = std::max(lengths[0], 0), longest = 0;
  for (int32_t k = 0; k < kMaxLaneFilters; ++k) {
    const int32_t from = k < count ? k : 0;  // padding lanes repeat lane 0
    links.filter[k] = filters[from];
    links.source[k] = source[from];
    links.dest[k] = dest[from];
    links.lag[k] = lag[from] * kLagStep;
    links.length[k] = std::max(lengths[from], 0);
    maxLag = std::max(maxLag, links.lag[k]);
    shortest = std::min(shortest, links.length[k]);
    longest = std::max(longest, links.length[k]);
  }
  if (longest == 0) return;
  if (count <= kLanes)
    RunGroups<1>(filters, count, links, shortest, longest, maxLag);
  else if (count <= 2 * kLanes)
    RunGroups<2>(filters, count, links, shortest, longest, maxLag);
  else
    RunGroups<3>(filters, count, links, shortest, longest, maxLag);
#else
  (void)filters, (void)source, (void)dest, (void)lag, (void)count, (void)lengths;
#endif
}

void RunFilterLanes(tFilter* const* filters, const float* const* source, float* const* dest,
                    const int32_t* lag, int32_t count, int32_t n) {
  int32_t lengths[kMaxLaneFilters];
  for (int32_t k = 0; k < kMaxLaneFilters; ++k) lengths[k] = n;
  RunFilterLanes(filters, source, dest, lag, count, lengths);
}

namespace {
// Below some 48 samples the lanes' set-up and their ramps at both ends (the lags) cost more
// than the overlap gains; up to four filters overlap as well in scalar chains, whose step
// has the shorter latency (no conversions across register halves).
bool LanesPay(int32_t count, int32_t longest) {
  constexpr int32_t kShortestForLanes = 48;
  constexpr int32_t kScalarUpTo = 4;
  return FilterLanesAvailable() && longest >= kShortestForLanes && count > kScalarUpTo;
}
}  // namespace

void RunFilterSet(tFilter* const* filters, const float* const* source, float* const* dest,
                  const int32_t* lag, int32_t count, const int32_t* lengths) {
  int32_t longest = 0;
  for (int32_t k = 0; k < count; ++k) longest = std::max(longest, lengths[k]);
  if (LanesPay(count, longest)) {
    RunFilterLanes(filters, source, dest, lag, count, lengths);
    return;
  }
  // Runs of links of one length, each chain inside one run, as scalar chains (each run at
  // most kMaxLaneFilters links).
  for (int32_t first = 0; first < count;) {
    int32_t end = first + 1;
    while (end < count && lengths[end] == lengths[first]) ++end;
    RunScalarChains(std::make_index_sequence<kMaxLaneFilters>{}, filters + first,
                    source + first, dest + first, lag + first, end - first, lengths[first]);
    first = end;
  }
}

// One length for every filter: short sets go straight to their scalar chains.
void RunFilterSet(tFilter* const* filters, const float* const* source, float* const* dest,
                  const int32_t* lag, int32_t count, int32_t n) {
  if (LanesPay(count, n)) {
    RunFilterLanes(filters, source, dest, lag, count, n);
    return;
  }
  if (count > 0 && n > 0)
    RunScalarChains(std::make_index_sequence<kMaxLaneFilters>{}, filters, source, dest, lag,
                    count, n);
}

}  // namespace vm
