// Sample-by-sample filters of the cycle analysis: a biquad of eight cookbook kinds and a
// short running median, both behind the common tFilterBase interface.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace vm {

// Largest magnitude a sample of the analysis and playback objects may carry (1.0 is full
// scale, so this is 60 dB of headroom). Anything beyond it, and any NaN or infinity, is a
// fault upstream; SaneSample() maps it back into range so no internal state is poisoned.
constexpr float kSampleLimit = 1000.0f;

// NaN and infinities give 0; finite values are clamped to +-kSampleLimit.
// The in-range test comes first and is a branch: a sample in range passes through with no
// arithmetic on its path, which matters where filters run in series on each sample.
inline float SaneSample(float x) {
  if (std::fabs(x) <= kSampleLimit) [[likely]] return x;  // false for NaN
  if (!(x == x) || x - x != 0.0f) return 0.0f;            // NaN, or +-inf (inf - inf is NaN)
  return x > 0.0f ? kSampleLimit : -kSampleLimit;
}

// Feed one sample, get one sample; forget the history on Reset.
class tFilterBase {
 public:
  virtual ~tFilterBase() = default;
  virtual float Process(float x) = 0;
  virtual void Reset() = 0;
};

enum tFilterKind : uint8_t {
  fkGain = 0,
  fkLowPass = 1,
  fkHighPass = 2,
  fkBandPass = 3,
  fkNotch = 4,
  fkLowShelf = 5,
  fkHighShelf = 6,
  fkPeak = 7,
};

// Second-order recursive filter (Audio EQ Cookbook designs, feedback normalised by the
// leading denominator term). Every output has 1e-20 subtracted to keep the recursion out
// of denormals. An undesigned filter (b0 = 0) outputs -1e-20.
// Final, with Process defined here, so that the cycle analysis (several filters per input
// sample) gets it inlined rather than called through the vtable.
class tFilter final : public tFilterBase {
 public:
  tFilter();  // Create: everything 0, sampleRate 44100 Hz
  void Design(int32_t SampleRate, tFilterKind Kind, float Freq, float Q, float GainDB);
  inline float Process(float x) override;
  void Reset() override;

  // Input and output memories, interleaved so that no two of the same kind are adjacent:
  // each is then stored on its own (see Process).
  float y1 = 0, x1 = 0, y2 = 0, x2 = 0;
  float norm = 0;                        // 1 / leading denominator term
  float a1 = 0, a2 = 0;                  // feedback, already times norm
  float b0 = 0, b1 = 0, b2 = 0;          // feed-forward
  float freq = 0;                        // Hz
  float q = 0;
  float gainDb = 0;                      // dB
  uint8_t kind = fkGain;                 // tFilterKind; values above 7 compute nothing
  int32_t sampleRate = 44100;            // Hz

 private:
  void DesignPassBands(float G, float s, float c, float alpha);
  void DesignShelvesAndPeak(float A, float s, float c, float alpha);
  inline double Recursion(float x) const;
};

// The filter's difference equation for input x, in double, before the float rounding.
// Each kind keeps its own sum, evaluated left to right: the order fixes the rounding.
double tFilter::Recursion(float x) const {
  constexpr double kGuard = 1e-20;  // subtracted from every output, keeps y out of denormals
  switch (kind) {
    case fkGain: return double(b0) * x - kGuard;
    case fkLowPass:
    case fkHighPass:
    case fkNotch:
      return double(b0) * x + double(b1) * x1 + double(b0) * x2 - double(a1) * y1 -
             double(a2) * y2 - kGuard;
    case fkBandPass:
      return double(b0) * x - double(b0) * x2 - double(a1) * y1 - double(a2) * y2 - kGuard;
    case fkLowShelf:
    case fkHighShelf:
      return double(b0) * x + double(b1) * x1 + double(b2) * x2 - double(a1) * y1 -
             double(a2) * y2 - kGuard;
    case fkPeak:
      return double(b0) * x + double(a1) * x1 + double(b2) * x2 - double(a1) * y1 -
             double(a2) * y2 - kGuard;
    default: return 0.0;
  }
}

float tFilter::Process(float x) {
  x = SaneSample(x);
  const float y = static_cast<float>(Recursion(x));
  // The input memories are stored apart from the output ones: a combined store would make
  // the next sample's loads wait for this y, or miss store forwarding, lengthening the
  // recursion's chain.
  x2 = x1;
  x1 = x;
  // A broken design (zero Q or rate) or a runaway recursion must not stick: forget the
  // history and output silence rather than an infinity or NaN.
  if (!std::isfinite(y)) {
    Reset();
    return 0.0f;
  }
  y2 = y1;
  y1 = y;
  return y;
}

// A low-pass, high-pass or notch tFilter's coefficients and memories copied into locals for
// a loop over a block: Step runs exactly the operations of tFilter::Process, so the outputs
// are the same floats, while the memories stay in registers. Store writes them back.
class tBiquadRun {
 public:
  // The kinds whose recursion Step evaluates (b2 = b0).
  static bool Handles(const tFilter& f) {
    return f.kind == fkLowPass || f.kind == fkHighPass || f.kind == fkNotch;
  }
  tBiquadRun() = default;
  explicit tBiquadRun(const tFilter& f)
      : b0(f.b0), b1(f.b1), a1(f.a1), a2(f.a2), x1(f.x1), x2(f.x2), y1(f.y1), y2(f.y2) {}
  void Store(tFilter& f) const {
    f.x1 = x1;
    f.x2 = x2;
    f.y1 = y1;
    f.y2 = y2;
  }
  // Fused: the two feedback terms by fused multiply-adds (only where the caller is
  // compiled for them). A product of two floats is exact in double, so s - a1 * y1
  // rounds once either way: the same double, while the recursion's chain through y1 loses
  // a multiplication's latency.
  template <bool Fused = false>
  [[gnu::always_inline]] inline float Step(float x) {
    constexpr double kGuard = 1e-20;
    x = SaneSample(x);
    double sum = double(b0) * x + double(b1) * x1 + double(b0) * x2;
    if constexpr (Fused) {
      sum = __builtin_fma(-double(a1), double(y1), sum);
      sum = __builtin_fma(-double(a2), double(y2), sum);
    } else {
      sum = sum - double(a1) * y1 - double(a2) * y2;
    }
    const float y = static_cast<float>(sum - kGuard);
    x2 = x1;
    x1 = x;
    if (!std::isfinite(y)) [[unlikely]] {
      x1 = x2 = y1 = y2 = 0.0f;
      return 0.0f;
    }
    y2 = y1;
    y1 = y;
    return y;
  }

 private:
  float b0 = 0, b1 = 0, a1 = 0, a2 = 0;
  float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// Whether the processor runs fused multiply-adds (the fused filter step); decided once when
// the library loads.
bool FusedFiltersAvailable();

namespace detail {
template <size_t K, bool Fused>
[[gnu::always_inline]] inline void RunFilterChainsBody(tFilter* const* filters,
                                                       const float* const* source,
                                                       float* const* dest, const int32_t* lag,
                                                       int32_t n) {
  tBiquadRun runs[K];
  int32_t maxLag = 0;
  for (size_t k = 0; k < K; ++k) {
    runs[k] = tBiquadRun(*filters[k]);
    maxLag = lag[k] > maxLag ? lag[k] : maxLag;
  }
  // Iteration i runs sample i - lag[k] of filter k; at the ends only the filters whose
  // sample lies inside the block. Plain loops over k, unrolled, rather than lambdas: the
  // whole body must inline into the caller compiled for fused multiply-adds.
  int32_t i = 0;
  for (; i < maxLag; ++i) {
#pragma GCC unroll 8
    for (size_t k = 0; k < K; ++k)
      if (i - lag[k] >= 0 && i - lag[k] < n)
        dest[k][i - lag[k]] = runs[k].template Step<Fused>(source[k][i - lag[k]]);
  }
  for (; i < n; ++i) {  // iterations maxLag .. n - 1 run every filter
#pragma GCC unroll 8
    for (size_t k = 0; k < K; ++k)
      dest[k][i - lag[k]] = runs[k].template Step<Fused>(source[k][i - lag[k]]);
  }
  for (; i < n + maxLag; ++i) {
#pragma GCC unroll 8
    for (size_t k = 0; k < K; ++k)
      if (i - lag[k] >= 0 && i - lag[k] < n)
        dest[k][i - lag[k]] = runs[k].template Step<Fused>(source[k][i - lag[k]]);
  }
  for (size_t k = 0; k < K; ++k) runs[k].Store(*filters[k]);
}
}  // namespace detail

// K filters over a block of n samples side by side: filter k reads source[k][i] and writes
// dest[k][i]. A filter may read what another writes (a chain): it then runs lag[k] samples
// behind the one it reads, lag[k] > lag of its source, so that within one iteration no
// filter waits for another and their serial recursions overlap. Each filter runs its own
// samples in order with tFilter::Process's operations: the outputs are the same floats as
// filtering sample by sample. Every filter must be one tBiquadRun handles.
// RunFilterChainsWith<K, true> needs FusedFiltersAvailable().
template <size_t K>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
__attribute__((target("fma")))
#endif
void RunFilterChainsFused(tFilter* const* filters, const float* const* source,
                          float* const* dest, const int32_t* lag, int32_t n) {
  detail::RunFilterChainsBody<K, true>(filters, source, dest, lag, n);
}

template <size_t K, bool Fused>
void RunFilterChainsWith(tFilter* const* filters, const float* const* source,
                         float* const* dest, const int32_t* lag, int32_t n) {
  if constexpr (Fused)
    RunFilterChainsFused<K>(filters, source, dest, lag, n);
  else
    detail::RunFilterChainsBody<K, false>(filters, source, dest, lag, n);
}

template <size_t K>
void RunFilterChains(tFilter* const* filters, const float* const* source, float* const* dest,
                     const int32_t* lag, int32_t n) {
  if (FusedFiltersAvailable())
    RunFilterChainsFused<K>(filters, source, dest, lag, n);
  else
    detail::RunFilterChainsBody<K, false>(filters, source, dest, lag, n);
}

// Running median over the last `length` samples (1 to 127). The window is kept sorted;
// each sample carries a 7-bit time stamp so the one leaving the window can be found.
// Until the window has been flushed once (`warm`), the input passes straight through.
class tFastMedian : public tFilterBase {
 public:
  static constexpr int32_t kCapacity = 127;  // entries of the window arrays
  explicit tFastMedian(int32_t WindowLength);  // Create; length clamped to 1..127
  float Process(float x) override;
  void Reset() override;  // window refilled with zeros; `warm` stays

  int32_t length;
  int32_t middle;              // length div 2: the position returned as the median
  int32_t stampModulus = 128;  // stamps run modulo 128
  int32_t stampMask = 127;
  int32_t nextStamp = 0;       // stamp of the next sample
  float values[kCapacity] = {};
  int32_t stamps[kCapacity] = {};
  bool warm = false;
};

}  // namespace vm
