#include "analysis/Filters.h"

#include <cmath>

#include "analysis/Numeric.h"

namespace vm {

namespace {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Decided once when the library loads, so the audio thread only reads a constant.
const bool kFusedAvailable = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma") != 0 && __builtin_cpu_supports("avx") != 0;
}();
#else
const bool kFusedAvailable = false;
#endif
}  // namespace

bool FusedFiltersAvailable() { return kFusedAvailable; }

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

tFilter::tFilter() { SetFloatControl(); }

void tFilter::Design(int32_t SampleRate, tFilterKind Kind, float Freq, float Q, float GainDB) {
  SetFloatControl();
  if (Freq == freq && Q == q && GainDB == gainDb && Kind == kind && SampleRate == sampleRate)
    return;
  freq = Freq;
  q = Q;
  gainDb = GainDB;
  kind = Kind;
  sampleRate = SampleRate;
  if (kind > fkPeak) return;

  const float w = static_cast<float>(2.0 * kPi * freq / sampleRate);  // rad/sample
  const float s = static_cast<float>(std::sin(static_cast<double>(w)));
  const float c = static_cast<float>(std::cos(static_cast<double>(w)));
  const float alpha = static_cast<float>(s / (2.0 * q));
  if (kind <= fkNotch) {
    DesignPassBands(static_cast<float>(std::pow(10.0, gainDb / 20.0)), s, c, alpha);
  } else {
    DesignShelvesAndPeak(static_cast<float>(std::pow(10.0, gainDb / 40.0)), s, c, alpha);
  }
}

// Kinds 0..4: numerator scaled by the linear gain G.
void tFilter::DesignPassBands(float G, float /*s*/, float c, float alpha) {
  if (kind == fkGain) {
    b0 = G;
    return;
  }
  norm = static_cast<float>(1.0 / (1.0 + alpha));
  a1 = static_cast<float>(-2.0 * c * norm);
  a2 = static_cast<float>((1.0 - alpha) * norm);
  switch (kind) {
    case fkLowPass:
      b1 = static_cast<float>(G * (1.0 - c) * norm);
      b0 = static_cast<float>(b1 * 0.5);
      break;
    case fkHighPass:
      b1 = static_cast<float>(-G * (1.0 + c) * norm);
      b0 = static_cast<float>(-b1 * 0.5);
      break;
    case fkBandPass:
      b0 = static_cast<float>(G * alpha * norm);
      break;
    default:  // fkNotch
      b0 = static_cast<float>(G * norm);
      b1 = static_cast<float>(G * a1);
      break;
  }
}

// Kinds 5..7: A = 10^(dB/40); shelves with slope S = 1.
void tFilter::DesignShelvesAndPeak(float A, float s, float c, float alpha) {
  if (kind == fkPeak) {
    norm = static_cast<float>(1.0 / (1.0 + alpha / A));
    a1 = static_cast<float>(-2.0 * c * norm);
    a2 = static_cast<float>((1.0 - alpha / A) * norm);
    b0 = static_cast<float>((1.0 + alpha * A) * norm);
    b2 = static_cast<float>((1.0 - alpha * A) * norm);
    return;
  }
  constexpr double kSlope = 1.0;
  const float ap1 = A + 1.0f;
  const float am1 = A - 1.0f;
  const float ap1c = ap1 * c;
  const float am1c = am1 * c;
  const float bs =
      static_cast<float>(s * std::sqrt((double(A) * A + 1.0) / kSlope - double(am1) * am1));
  const double twoA = 2.0 * A;
  if (kind == fkLowShelf) {
    norm = static_cast<float>(1.0 / (double(ap1) + am1c + bs));
    a1 = static_cast<float>(-2.0 * (double(am1) + ap1c) * norm);
    a2 = static_cast<float>((double(ap1) + am1c - bs) * norm);
    b0 = static_cast<float>(A * (double(ap1) - am1c + bs) * norm);
    b1 = static_cast<float>(twoA * (double(am1) - ap1c) * norm);
    b2 = static_cast<float>(A * (double(ap1) - am1c - bs) * norm);
  } else {  // fkHighShelf
    norm = static_cast<float>(1.0 / (double(ap1) - am1c + bs));
    a1 = static_cast<float>(2.0 * (double(am1) - ap1c) * norm);
    a2 = static_cast<float>((double(ap1) - am1c - bs) * norm);
    b0 = static_cast<float>(A * (double(ap1) + am1c + bs) * norm);
    b1 = static_cast<float>(-twoA * (double(am1) + ap1c) * norm);
    b2 = static_cast<float>(A * (double(ap1) + am1c - bs) * norm);
  }
}

void tFilter::Reset() { x1 = x2 = y1 = y2 = 0.0f; }

tFastMedian::tFastMedian(int32_t WindowLength) {
  SetFloatControl();
  length = WindowLength < 1 ? 1 : (WindowLength > kCapacity ? kCapacity : WindowLength);
  middle = length / 2;
  stampModulus = 128;
  stampMask = 127;
  tFastMedian::Reset();
}

void tFastMedian::Reset() {
  for (int32_t i = 0; i < length; ++i) {
    values[i] = 0.0f;
    stamps[i] = i;
  }
  nextStamp = length;
}

float tFastMedian::Process(float x) {
  if (!std::isfinite(x)) x = 0.0f;  // a NaN would break the sort order for good
  const int32_t n = length;
  const int32_t oldest = (nextStamp + stampModulus - n) & stampMask;
  int32_t h = -1;
  int32_t g = -1;
  for (int32_t i = n - 1; i >= 0; --i) {
    if (stamps[i] == oldest) {
      h = i;
    } else if (x < values[i]) {
      g = i;
    }
  }
  if (h < 0) {
    // The stamps always hold n consecutive values, so this cannot be reached through these
    // operations; should memory ever be corrupted, rebuild the window instead of throwing.
    Reset();
    return x;
  }
  if (g < 0) g = n;
  for (int32_t i = h; i < n - 1; ++i) {
    values[i] = values[i + 1];
    stamps[i] = stamps[i + 1];
  }
  if (g > h) --g;
  for (int32_t i = n - 1; i > g; --i) {
    values[i] = values[i - 1];
    stamps[i] = stamps[i - 1];
  }
  values[g] = x;
  stamps[g] = nextStamp;
  const float result = warm ? values[middle] : x;
  nextStamp = (nextStamp + 1) & stampMask;
  if (h == n - 1) warm = true;
  return result;
}

}  // namespace vm
