#include "engine/VibratoTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VM_RAISED_COSINE_SSE2 1
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VM_RAISED_COSINE_AVX 1
#endif

namespace vm {

namespace {

constexpr double kTableGrowth = 1.25;  // an array outgrown by a shape grew by a quarter more
constexpr int kChains = 8;             // interleaved rotation chains, in groups of four
static_assert(kChains % 4 == 0 && kChains < sizeof(tRaisedCosineShape::stepCos) / sizeof(double));

// Bound on |rotation cosine - library cosine| after `steps` rotations of a chain: each
// complex product in double errs by at most about 6e-16 (two roundings per component and
// the step factor's own), a chain starts off by about 1e-15, the library cosine by one unit
// in the last place and its argument (j pi / half, rounded twice) by 2e-15. Twice that, so
// that the fallback below is decided on a safe margin.
double CosineErrorBound(int32_t steps) { return 1.6e-15 * steps + 8e-15; }

// Bound on the difference, relative to the largest value (depth), between the library
// formula's roundings of (0.5 - c / 2) x depth + 1e-23 and those of the shorter
// depth / 2 - c x depth / 2 used here (a few units in the last place, and 1e-23).
constexpr double kRoundingBound = 1e-15;

#if VM_RAISED_COSINE_AVX
// Whether the processor and the system run AVX; decided once when the library loads.
const bool kAvxAvailable = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx") != 0;
}();

// The vector loop of RaisedCosine with four chains to a 256-bit register: the same
// double operations in the same order (no fused multiply-add), so the same bits, with half
// the conversions. Returns the entries done (a multiple of kChains) and leaves the chains
// advanced past them.
__attribute__((target("avx"))) int32_t RaisedCosineAvx(float* out, int32_t count, double* re,
                                                       double* im, double stepRe,
                                                       double stepIm, double halfDepth,
                                                       double margin, double* undecided) {
  constexpr int kGroups = kChains / 4;  // independent registers hide the latency
  __m256d c[kGroups], s[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    c[g] = _mm256_loadu_pd(re + 4 * g);
    s[g] = _mm256_loadu_pd(im + 4 * g);
  }
  const __m256d wRe = _mm256_set1_pd(stepRe), wIm = _mm256_set1_pd(stepIm);
  const __m256d halfDepthVector = _mm256_set1_pd(halfDepth);
  const __m256d m = _mm256_set1_pd(margin);
  int32_t i = 0;
  for (; i + kChains <= count; i += kChains) {
    __m256d v[kGroups];
    int open = 0;
    for (int g = 0; g < kGroups; ++g) {
      v[g] = _mm256_sub_pd(halfDepthVector, _mm256_mul_pd(c[g], halfDepthVector));
      const __m128 low = _mm256_cvtpd_ps(_mm256_sub_pd(v[g], m));
      const __m128 high = _mm256_cvtpd_ps(_mm256_add_pd(v[g], m));
      _mm_storeu_ps(out + i + 4 * g, low);
      open |= _mm_movemask_ps(_mm_cmpneq_ps(low, high));
    }
    if (open != 0) {
      for (int g = 0; g < kGroups; ++g) _mm256_storeu_pd(undecided + 4 * g, v[g]);
      break;  // the caller settles these entries
    }
    for (int g = 0; g < kGroups; ++g) {
      const __m256d next = _mm256_sub_pd(_mm256_mul_pd(c[g], wRe), _mm256_mul_pd(s[g], wIm));
      s[g] = _mm256_add_pd(_mm256_mul_pd(c[g], wIm), _mm256_mul_pd(s[g], wRe));
      c[g] = next;
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    _mm256_storeu_pd(re + 4 * g, c[g]);
    _mm256_storeu_pd(im + 4 * g, s[g]);
  }
  return i;
}
#endif

}  // namespace

tRaisedCosineShape::tRaisedCosineShape(int32_t depth_, int32_t half_) : depth(depth_), half(half_) {
  for (int r = 1; r <= kChains; ++r) {
    stepCos[r] = std::cos(r * std::numbers::pi / half);
    stepSin[r] = std::sin(r * std::numbers::pi / half);
  }
  stepCos[0] = 1.0;
}

float RaisedCosineEntry(int32_t j, int32_t depth, int32_t half) {
  const double raisedCosine = 0.5 - std::cos(j * std::numbers::pi / half) / 2.0;
  return static_cast<float>(raisedCosine * depth + 1e-23);
}

// Chain r holds (cos, sin) of entry first + r + 8k and moves on by a rotation of eight
// entries, so consecutive entries never wait on each other. An entry's double value v
// stands for the library's v' with |v - v'| <= margin: when v - margin and v + margin round
// to the same float, so does v', and that float is the entry. Otherwise (rarely: near
// j = 0, where the raised cosine is tiny against the bound) the library cosine decides.
void RaisedCosine(float* out, int32_t first, int32_t last, const tRaisedCosineShape& shape) {
  if (last < first) return;
  const int32_t count = last - first + 1;
  const double d = shape.depth;
  if (shape.depth == 0) {
    std::fill(out, out + count, static_cast<float>(0.0 * d + 1e-23));
    return;
  }
  const double x0 = first * std::numbers::pi / shape.half;
  const double c0 = std::cos(x0), s0 = std::sin(x0);
  double re[kChains], im[kChains];
  for (int r = 0; r < kChains; ++r) {
    re[r] = c0 * shape.stepCos[r] - s0 * shape.stepSin[r];
    im[r] = c0 * shape.stepSin[r] + s0 * shape.stepCos[r];
  }
  const double stepRe = shape.stepCos[kChains], stepIm = shape.stepSin[kChains];
  const double margin = CosineErrorBound(count / kChains + 1) / 2.0 * d + kRoundingBound * (d + 1.0);
  const double halfDepth = 0.5 * d;
  auto fixUp = [&](int32_t i, double v) {
    const float low = static_cast<float>(v - margin), high = static_cast<float>(v + margin);
    out[i] = low == high ? low : RaisedCosineEntry(first + i, shape.depth, shape.half);
  };

  int32_t i = 0;
#if VM_RAISED_COSINE_AVX
  if (kAvxAvailable) {
    // Stops at a group with an undecided entry: that group is settled here and the
    // vector loop goes on after it.
    while (i + kChains <= count) {
      double v[kChains];
      const int32_t done = RaisedCosineAvx(out + i, count - i, re, im, stepRe, stepIm,
                                           halfDepth, margin, v);
      i += done;
      if (i + kChains > count) break;
      for (int r = 0; r < kChains; ++r) fixUp(i + r, v[r]);
      for (int r = 0; r < kChains; ++r) {
        const double nextRe = re[r] * stepRe - im[r] * stepIm;
        im[r] = re[r] * stepIm + im[r] * stepRe;
        re[r] = nextRe;
      }
      i += kChains;
    }
  }
#endif
#if VM_RAISED_COSINE_SSE2
  constexpr int kGroups = kChains / 4;
  __m128d cLo[kGroups], cHi[kGroups], sLo[kGroups], sHi[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    cLo[g] = _mm_loadu_pd(re + 4 * g);
    cHi[g] = _mm_loadu_pd(re + 4 * g + 2);
    sLo[g] = _mm_loadu_pd(im + 4 * g);
    sHi[g] = _mm_loadu_pd(im + 4 * g + 2);
  }
  const __m128d wRe = _mm_set1_pd(stepRe), wIm = _mm_set1_pd(stepIm);
  const __m128d halfDepthVector = _mm_set1_pd(halfDepth);
  const __m128d m = _mm_set1_pd(margin);
  auto rotate = [&](__m128d& c, __m128d& s) {
    const __m128d next = _mm_sub_pd(_mm_mul_pd(c, wRe), _mm_mul_pd(s, wIm));
    s = _mm_add_pd(_mm_mul_pd(c, wIm), _mm_mul_pd(s, wRe));
    c = next;
  };
  for (; i + kChains <= count; i += kChains) {
    for (int g = 0; g < kGroups; ++g) {
      const __m128d vLo = _mm_sub_pd(halfDepthVector, _mm_mul_pd(cLo[g], halfDepthVector));
      const __m128d vHi = _mm_sub_pd(halfDepthVector, _mm_mul_pd(cHi[g], halfDepthVector));
      const __m128 low = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(vLo, m)), _mm_cvtpd_ps(_mm_sub_pd(vHi, m)));
      const __m128 high = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(vLo, m)), _mm_cvtpd_ps(_mm_add_pd(vHi, m)));
      _mm_storeu_ps(out + i + 4 * g, low);
      if (const int undecided = _mm_movemask_ps(_mm_cmpneq_ps(low, high))) {
        double v[4];
        _mm_storeu_pd(v, vLo);
        _mm_storeu_pd(v + 2, vHi);
        for (int r = 0; r < 4; ++r)
          if (undecided & (1 << r)) fixUp(i + 4 * g + r, v[r]);
      }
      rotate(cLo[g], sLo[g]);
      rotate(cHi[g], sHi[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    _mm_storeu_pd(re + 4 * g, cLo[g]);
    _mm_storeu_pd(re + 4 * g + 2, cHi[g]);
    _mm_storeu_pd(im + 4 * g, sLo[g]);
    _mm_storeu_pd(im + 4 * g + 2, sHi[g]);
  }
#endif
  for (; i < count; i += kChains) {
    for (int r = 0; r < kChains && i + r < count; ++r) fixUp(i + r, halfDepth - re[r] * halfDepth);
    for (int r = 0; r < kChains; ++r) {
      const double nextRe = re[r] * stepRe - im[r] * stepIm;
      im[r] = re[r] * stepIm + im[r] * stepRe;
      re[r] = nextRe;
    }
  }
}

void tVibratoTable::Allocate(int32_t entryCount) {
  capacity = std::max(entryCount, 1);
  segments = (capacity + kSegment - 1) / kSegment;
  // Not zeroed: every entry is filled before it is read, so untouched pages stay unmapped.
  entries = std::make_unique_for_overwrite<float[]>(static_cast<size_t>(capacity));
  built = std::make_unique<uint64_t[]>(static_cast<size_t>((segments + 63) / 64));
  grownCapacity = 0;
  current = previous = tShape{};
  MarkAllUnbuilt();
}

void tVibratoTable::JoinTwins(tVibratoTable& other) {
  if (&other == this) return;
  for (const tVibratoTable* t = nextTwin; t != this; t = t->nextTwin)
    if (t == &other) return;  // already in this ring
  std::swap(nextTwin, other.nextTwin);  // splices the two rings into one
}

void tVibratoTable::Grow(int32_t entryCount) {
  if (entryCount <= capacity) return;
  const tShape keptCurrent = current, keptPrevious = previous;
  const int32_t keptGrown = grownCapacity;
  Allocate(entryCount);
  current = keptCurrent;
  previous = keptPrevious;
  grownCapacity = keptGrown;
}

void tVibratoTable::MarkAllUnbuilt() {
  std::memset(built.get(), 0, sizeof(uint64_t) * static_cast<size_t>((segments + 63) / 64));
}

void tVibratoTable::Rebuild(int32_t depth, int32_t half) {
  if (depth == current.depth && half == current.half) return;
  previous = current;
  if (grownCapacity < half + 1) {
    grownCapacity = std::max(static_cast<int32_t>(std::nearbyint(half * kTableGrowth)), half + 1);
    previous = tShape{};
  }
  current = tShape(depth, half);
  MarkAllUnbuilt();
}

// Entries up to the current half take the current shape, those up to the previous half the
// previous one, any others are zero (never read: a walk turns at a half it was built for).
void tVibratoTable::Fill(int32_t segment) const {
  const int32_t first = segment * kSegment;
  const int32_t last = std::min(first + kSegment, capacity) - 1;
  float* out = entries.get();
  for (const tVibratoTable* twin = nextTwin; twin != this; twin = twin->nextTwin) {
    if (twin->SameShapes(*this) && twin->Built(segment)) {
      std::memcpy(out + first, twin->entries.get() + first,
                  sizeof(float) * static_cast<size_t>(last - first + 1));
      built[segment >> 6] |= uint64_t{1} << (segment & 63);
      return;
    }
  }
  int32_t j = first;
  for (const tShape* shape : {&current, &previous}) {
    if (shape->half < 0 || j > last || j > shape->half) continue;
    const int32_t upTo = std::min(last, shape->half);
    RaisedCosine(out + j, j, upTo, *shape);
    j = upTo + 1;
  }
  if (j <= last) std::fill(out + j, out + last + 1, 0.0f);
  built[segment >> 6] |= uint64_t{1} << (segment & 63);
}

}  // namespace vm
