#include "analysis/Fourier.h"

#include <cmath>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define VM_FOURIER_AVX 1
#endif

namespace vm {
namespace {

constexpr double kTwoPi = 6.28318530717959;  // 2 pi as the transforms' fixed constant

// Twiddle factors by recurrence: one pair of sines per stage, then each (wr, wi) step is
// a rotation by theta computed as w' = w * (1 + wpr + i wpi), wpr = -2 sin^2(theta / 2).
// Every expression is evaluated in double and rounded once to float when stored.
struct tTwiddle {
  float wpr;
  float wpi;
  explicit tTwiddle(double theta) {
    const float wtemp = static_cast<float>(std::sin(theta / 2.0));
    wpr = static_cast<float>(-2.0 * static_cast<double>(wtemp) * wtemp);
    wpi = static_cast<float>(std::sin(theta));
  }
  void Advance(float& wr, float& wi) const {
    const double r = wr, i = wi;
    wr = static_cast<float>(r * wpr - i * wpi + r);
    wi = static_cast<float>(i * wpr + r * wpi + i);
  }
};

// Rotation angle of the stage whose butterflies are `span` floats apart, rad.
double StageAngle(int32_t span, int32_t Sign) {
  return kTwoPi / (static_cast<double>(Sign) * span);
}

// The factors of one stage, generated as the transform walks through it.
class tRecurrenceTwiddles {
 public:
  tRecurrenceTwiddles(int32_t span, int32_t Sign) : step(StageAngle(span, Sign)) {}
  // The factor for the next butterfly group, starting at w = 1.
  void Next(float& r, float& i) {
    r = wr;
    i = wi;
    step.Advance(wr, wi);
  }
  // Starts at the group after the first (w = 1 + wpr + i wpi), as the real-spectrum pass does.
  void Skip() {
    wr = static_cast<float>(1.0 + step.wpr);
    wi = step.wpi;
  }

 private:
  tTwiddle step;
  float wr = 1.0f, wi = 0.0f;
};

// The same factors read from a table.
class tTableTwiddles {
 public:
  tTableTwiddles(const tTwiddleTable& table, int32_t span, int32_t Sign)
      : next(table.Stage(span, Sign)) {}
  void Next(float& r, float& i) {
    r = next[0];
    i = next[1];
    next += 2;
  }
  void Skip() { next += 2; }

 private:
  const float* next;
};

void BitReverse(float* Data, int32_t NN) {
  const int32_t n = 2 * NN;
  int32_t j = 0;
  for (int32_t i = 0; i < n; i += 2) {
    if (j > i) {
      std::swap(Data[i], Data[j]);
      std::swap(Data[i + 1], Data[j + 1]);
    }
    int32_t m = NN;
    while (m >= 2 && j >= m) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
}

// One butterfly: the product w * Data[j] in double, rounded once to float; the sum and the
// difference with Data[i] in float, which rounds exactly as double-then-float would (a
// double holds the exact sum of two floats to well within one float rounding).
#if defined(__SSE2__) || defined(_M_X64)
// The factor as two double pairs: (wr, wr) and (-wi, wi). The real part of the product,
// wr * re + (-wi) * im, is the same IEEE operation as wr * re - wi * im.
struct tButterflyFactor {
  __m128d real, imag;
  tButterflyFactor(float wr, float wi)
      : real(_mm_set1_pd(wr)), imag(_mm_set_pd(wi, -static_cast<double>(wi))) {}
};

inline void Butterfly(float* Data, int32_t i, int32_t j, const tButterflyFactor& w) {
  const __m128 zero = _mm_setzero_ps();
  const __m128d x = _mm_cvtps_pd(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(Data + j)));
  const __m128d swapped = _mm_shuffle_pd(x, x, 1);  // (im, re)
  const __m128 t = _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(w.real, x), _mm_mul_pd(w.imag, swapped)));
  const __m128 a = _mm_loadl_pi(zero, reinterpret_cast<const __m64*>(Data + i));
  _mm_storel_pi(reinterpret_cast<__m64*>(Data + j), _mm_sub_ps(a, t));
  _mm_storel_pi(reinterpret_cast<__m64*>(Data + i), _mm_add_ps(a, t));
}
#else
struct tButterflyFactor {
  double real, imag;
  tButterflyFactor(float wr, float wi) : real(wr), imag(wi) {}
};

inline void Butterfly(float* Data, int32_t i, int32_t j, const tButterflyFactor& w) {
  const float tr = static_cast<float>(w.real * Data[j] - w.imag * Data[j + 1]);
  const float ti = static_cast<float>(w.real * Data[j + 1] + w.imag * Data[j]);
  const float ar = Data[i], ai = Data[i + 1];
  Data[j] = ar - tr;
  Data[j + 1] = ai - ti;
  Data[i] = ar + tr;
  Data[i + 1] = ai + ti;
}
#endif

#if VM_FOURIER_AVX
// Whether the processor and the system run AVX; decided once when the library loads.
const bool kAvxAvailable = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx") != 0;
}();

// One stage of butterflies `span` floats apart (span >= 4) with its factors from a table,
// two neighbouring butterflies of a group per 256-bit register: lane by lane the double
// operations of Butterfly (products, their sum, one rounding to float; the negated wi is
// exact), and the float sum and difference, so the same bits. No fused multiply-add.
__attribute__((target("avx"))) void TableStageAvx(float* Data, int32_t n, int32_t span,
                                                  const float* factors) {
  const int32_t step = 2 * span;
  const __m256d negateReal = _mm256_set_pd(0.0, -0.0, 0.0, -0.0);  // lanes re0, im0, re1, im1
  for (int32_t m = 0; m < span; m += 4) {
    const __m256d w = _mm256_cvtps_pd(_mm_loadu_ps(factors + m));  // wr0, wi0, wr1, wi1
    const __m256d real = _mm256_permute_pd(w, 0x0);                // wr0, wr0, wr1, wr1
    const __m256d imag = _mm256_xor_pd(_mm256_permute_pd(w, 0xF), negateReal);  // -wi, wi
    for (int32_t i = m; i < n; i += step) {
      float* upper = Data + i;
      float* lower = Data + i + span;
      const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(lower));  // re0, im0, re1, im1
      const __m256d swapped = _mm256_permute_pd(x, 0x5);       // im0, re0, im1, re1
      const __m128 t = _mm256_cvtpd_ps(
          _mm256_add_pd(_mm256_mul_pd(real, x), _mm256_mul_pd(imag, swapped)));
      const __m128 a = _mm_loadu_ps(upper);
      _mm_storeu_ps(lower, _mm_sub_ps(a, t));
      _mm_storeu_ps(upper, _mm_add_ps(a, t));
    }
  }
}
#endif

template <class tStageTwiddles, class tMakeStage>
void ComplexFFTWith(float* Data, int32_t NN, tMakeStage makeStage) {
  BitReverse(Data, NN);
  const int32_t n = 2 * NN;
  for (int32_t span = 2; span < n;) {
    const int32_t step = 2 * span;
    tStageTwiddles twiddles = makeStage(span);
    for (int32_t m = 0; m < span; m += 2) {
      float wr, wi;
      twiddles.Next(wr, wi);
      const tButterflyFactor w(wr, wi);
      for (int32_t i = m; i < n; i += step) Butterfly(Data, i, i + span, w);
    }
    span = step;
  }
}

// Splits the complex transform of the Half values into the spectrum of the 2 * Half real
// samples (Sign +1), or joins a packed spectrum for the inverse complex transform (-1).
// Bins from `first` on; the twiddles stand at that bin's factor (Skip once for bin 1).
template <class tStageTwiddles>
void RealSpectrumPass(float* Data, int32_t Half, int32_t Sign, tStageTwiddles twiddles,
                      int32_t first) {
  constexpr double c1 = 0.5;
  const double c2 = Sign == 1 ? -0.5 : 0.5;
#if defined(__SSE2__) || defined(_M_X64)
  // Each bin pair as double pairs, lane by lane the scalar form's operations: a sign flip
  // by a factor of -1 and x + (-y) for x - y are exact, so every rounding is the same.
  const __m128 zero = _mm_setzero_ps();
  const __m128d flipHigh = _mm_set_pd(-1.0, 1.0), flipLow = _mm_set_pd(1.0, -1.0);
  const __m128d h1Scale = _mm_set1_pd(c1), h2Scale = _mm_set_pd(c2, -c2);
  const auto toFloatAndBack = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
  const auto swap = [](__m128d v) { return _mm_shuffle_pd(v, v, 1); };
  for (int32_t k = first; k < Half / 2; ++k) {
    float wr, wi;
    twiddles.Next(wr, wi);
    float* a = Data + 2 * k;
    float* b = Data + 2 * (Half - k);
    const __m128d da = _mm_cvtps_pd(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(a)));
    const __m128d db = _mm_cvtps_pd(_mm_loadl_pi(zero, reinterpret_cast<const __m64*>(b)));
    // (h1r, h1i) = c1 (da + db, da1 - db1); (h2r, h2i) = (-c2 (da1 + db1), c2 (da - db)).
    const __m128d h1 = toFloatAndBack(_mm_mul_pd(h1Scale, _mm_add_pd(da, _mm_mul_pd(db, flipHigh))));
    const __m128d h2 =
        toFloatAndBack(_mm_mul_pd(h2Scale, _mm_add_pd(swap(da), _mm_mul_pd(swap(db), flipHigh))));
    const __m128d r = _mm_set1_pd(wr), i = _mm_set1_pd(wi);
    // a: (h1r + r h2r - i h2i, h1i + r h2i + i h2r); b: (h1r - r h2r + i h2i, -h1i + r h2i + i h2r).
    const __m128d atA = _mm_add_pd(_mm_add_pd(h1, _mm_mul_pd(r, h2)),
                                   _mm_mul_pd(_mm_mul_pd(i, flipLow), swap(h2)));
    const __m128d atB = _mm_add_pd(_mm_add_pd(_mm_mul_pd(h1, flipHigh),
                                              _mm_mul_pd(_mm_mul_pd(r, flipLow), h2)),
                                   _mm_mul_pd(i, swap(h2)));
    _mm_storel_pi(reinterpret_cast<__m64*>(a), _mm_cvtpd_ps(atA));
    _mm_storel_pi(reinterpret_cast<__m64*>(b), _mm_cvtpd_ps(atB));
  }
#else
  for (int32_t k = first; k < Half / 2; ++k) {
    float wr, wi;
    twiddles.Next(wr, wi);
    const int32_t a = 2 * k, b = 2 * (Half - k);
    const double da = Data[a], da1 = Data[a + 1], db = Data[b], db1 = Data[b + 1];
    const double h1r = static_cast<float>(c1 * (da + db));
    const double h1i = static_cast<float>(c1 * (da1 - db1));
    const double h2r = static_cast<float>(-c2 * (da1 + db1));
    const double h2i = static_cast<float>(c2 * (da - db));
    const double r = wr, i = wi;
    Data[a] = static_cast<float>(h1r + r * h2r - i * h2i);
    Data[a + 1] = static_cast<float>(h1i + r * h2i + i * h2r);
    Data[b] = static_cast<float>(h1r - r * h2r + i * h2i);
    Data[b + 1] = static_cast<float>(-h1i + r * h2i + i * h2r);
  }
#endif
}

#if VM_FOURIER_AVX
// Each double rounded to float and back; the two parts of each complex swapped; the two
// complex values swapped.
__attribute__((target("avx"))) inline __m256d ToFloatAndBack(__m256d v) {
  return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
}
__attribute__((target("avx"))) inline __m256d SwapParts(__m256d v) {
  return _mm256_permute_pd(v, 0x5);
}
__attribute__((target("avx"))) inline __m256d SwapHalves(__m256d v) {
  return _mm256_permute2f128_pd(v, v, 1);
}

// The loop of RealSpectrumPass for bins k = 1 .. Half / 2 - 1 with the factors read from a
// table (`factors` at bin 1), two bins per 256-bit register: bins k and k + 1 of the lower
// half, Half - k and Half - k - 1 of the upper, each lane the operations of the 128-bit
// loop, so the same bits. Returns the first bin left undone.
__attribute__((target("avx"))) int32_t RealSpectrumPairsAvx(float* Data, int32_t Half,
                                                            int32_t Sign,
                                                            const float* factors) {
  constexpr double c1 = 0.5;
  const double c2 = Sign == 1 ? -0.5 : 0.5;
  const __m256d flipHigh = _mm256_set_pd(-1.0, 1.0, -1.0, 1.0);
  const __m256d flipLow = _mm256_set_pd(1.0, -1.0, 1.0, -1.0);
  const __m256d h1Scale = _mm256_set1_pd(c1), h2Scale = _mm256_set_pd(c2, -c2, c2, -c2);
  int32_t k = 1;
  for (; k + 1 < Half / 2; k += 2) {
    float* a = Data + 2 * k;
    float* b = Data + 2 * (Half - k - 1);  // bins Half - k - 1, Half - k
    const __m256d w = _mm256_cvtps_pd(_mm_loadu_ps(factors + 2 * (k - 1)));
    const __m256d da = _mm256_cvtps_pd(_mm_loadu_ps(a));
    const __m256d db = SwapHalves(_mm256_cvtps_pd(_mm_loadu_ps(b)));  // bins Half - k, Half - k - 1
    const __m256d h1 =
        ToFloatAndBack(_mm256_mul_pd(h1Scale, _mm256_add_pd(da, _mm256_mul_pd(db, flipHigh))));
    const __m256d h2 = ToFloatAndBack(
        _mm256_mul_pd(h2Scale, _mm256_add_pd(SwapParts(da), _mm256_mul_pd(SwapParts(db), flipHigh))));
    const __m256d r = _mm256_permute_pd(w, 0x0), i = _mm256_permute_pd(w, 0xF);
    const __m256d atA = _mm256_add_pd(_mm256_add_pd(h1, _mm256_mul_pd(r, h2)),
                                      _mm256_mul_pd(_mm256_mul_pd(i, flipLow), SwapParts(h2)));
    const __m256d atB = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(h1, flipHigh),
                                                    _mm256_mul_pd(_mm256_mul_pd(r, flipLow), h2)),
                                      _mm256_mul_pd(i, SwapParts(h2)));
    _mm_storeu_ps(a, _mm256_cvtpd_ps(atA));
    _mm_storeu_ps(b, _mm256_cvtpd_ps(SwapHalves(atB)));
  }
  return k;
}
#endif

// DC and Nyquist share Data[0] and Data[1].
void RealEnds(float* Data, int32_t Sign) {
  constexpr double c1 = 0.5;
  const double h = Data[0], nyquist = Data[1];
  if (Sign == 1) {
    Data[0] = static_cast<float>(h + nyquist);
    Data[1] = static_cast<float>(h - nyquist);
  } else {
    Data[0] = static_cast<float>(c1 * (h + nyquist));
    Data[1] = static_cast<float>(c1 * (h - nyquist));
  }
}

}  // namespace

const int32_t* tTwiddleTable::Swaps(int32_t NN, int32_t& count) const {
  int32_t log = 0;
  while ((2 << log) < NN) ++log;  // NN = 2^(log + 1)
  const size_t first = static_cast<size_t>(swapStart[log]);
  count = (swapStart[log + 1] - swapStart[log]) / 2;
  return swaps.data() + first;
}

void tTwiddleTable::Build(int32_t MaxHalf) {
  swaps.clear();
  swapStart.clear();
  for (int32_t nn = 2; nn <= MaxHalf; nn *= 2) {
    swapStart.push_back(static_cast<int32_t>(swaps.size()));
    // The pairs BitReverse swaps, by its own walk.
    const int32_t n = 2 * nn;
    int32_t j = 0;
    for (int32_t i = 0; i < n; i += 2) {
      if (j > i) {
        swaps.push_back(i);
        swaps.push_back(j);
      }
      int32_t m = nn;
      while (m >= 2 && j >= m) {
        j -= m;
        m /= 2;
      }
      j += m;
    }
  }
  swapStart.push_back(static_cast<int32_t>(swaps.size()));

  maxHalf = MaxHalf;
  const size_t floats = MaxHalf >= 1 ? static_cast<size_t>(4 * MaxHalf - 2) : 0;
  forward.assign(floats, 0.0f);
  inverse.assign(floats, 0.0f);
  for (int32_t span = 2; span <= 2 * MaxHalf; span *= 2) {
    for (const int32_t sign : {+1, -1}) {
      tRecurrenceTwiddles twiddles(span, sign);
      float* stage = (sign > 0 ? forward : inverse).data() + (span - 2);
      for (int32_t m = 0; m < span; m += 2) twiddles.Next(stage[m], stage[m + 1]);
    }
  }
}

void ComplexFFT(float* Data, int32_t NN, int32_t Sign) {
  ComplexFFTWith<tRecurrenceTwiddles>(
      Data, NN, [Sign](int32_t span) { return tRecurrenceTwiddles(span, Sign); });
}

void ComplexFFT(float* Data, int32_t NN, int32_t Sign, const tTwiddleTable& Twiddles) {
  if (NN > Twiddles.MaxHalf()) return ComplexFFT(Data, NN, Sign);
#if VM_FOURIER_AVX
  // The first stage (span 2) with its single factor as below, the others two butterflies
  // at a time; the butterflies of a stage touch disjoint pairs, so their order is free.
  if (kAvxAvailable && NN >= 2) {
    int32_t swapCount = 0;
    const int32_t* pairs = Twiddles.Swaps(NN, swapCount);
    for (int32_t k = 0; k < swapCount; ++k) {
      const int32_t i = pairs[2 * k], j = pairs[2 * k + 1];
      std::swap(Data[i], Data[j]);
      std::swap(Data[i + 1], Data[j + 1]);
    }
    const int32_t n = 2 * NN;
    const tButterflyFactor first(Twiddles.Stage(2, Sign)[0], Twiddles.Stage(2, Sign)[1]);
    for (int32_t i = 0; i < n; i += 4) Butterfly(Data, i, i + 2, first);
    for (int32_t span = 4; span < n; span *= 2)
      TableStageAvx(Data, n, span, Twiddles.Stage(span, Sign));
    return;
  }
#endif
  ComplexFFTWith<tTableTwiddles>(
      Data, NN, [&Twiddles, Sign](int32_t span) { return tTableTwiddles(Twiddles, span, Sign); });
}

void RealFFT(float* Data, int32_t Half, int32_t Sign) {
  if (Sign == 1) ComplexFFT(Data, Half, +1);
  tRecurrenceTwiddles twiddles(2 * Half, Sign == 1 ? +1 : -1);
  twiddles.Skip();
  RealSpectrumPass(Data, Half, Sign, twiddles, 1);
  RealEnds(Data, Sign);
  if (Sign != 1) ComplexFFT(Data, Half, -1);
}

void RealFFT(float* Data, int32_t Half, int32_t Sign, const tTwiddleTable& Twiddles) {
  if (Half > Twiddles.MaxHalf()) return RealFFT(Data, Half, Sign);
  const int32_t sign = Sign == 1 ? +1 : -1;
  if (sign == 1) ComplexFFT(Data, Half, +1, Twiddles);
  int32_t first = 1;
#if VM_FOURIER_AVX
  if (kAvxAvailable) first = RealSpectrumPairsAvx(Data, Half, Sign, Twiddles.Stage(2 * Half, sign) + 2);
#endif
  tTableTwiddles twiddles(Twiddles, 2 * Half, sign);
  twiddles.Skip();
  for (int32_t k = 1; k < first; ++k) twiddles.Skip();
  RealSpectrumPass(Data, Half, Sign, twiddles, first);
  RealEnds(Data, Sign);
  if (sign != 1) ComplexFFT(Data, Half, -1, Twiddles);
}

void UnpackSpectrum(float* Data, int32_t N) {
  Data[N] = Data[1];
  Data[N + 1] = 0.0f;
  Data[1] = 0.0f;
}

void PackSpectrum(float* Data, int32_t N) { Data[1] = Data[N]; }

}  // namespace vm
