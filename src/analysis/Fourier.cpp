#include "analysis/Fourier.h"

#include <cmath>
#include <utility>

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

}  // namespace

void ComplexFFT(float* Data, int32_t NN, int32_t Sign) {
  BitReverse(Data, NN);
  const int32_t n = 2 * NN;
  for (int32_t span = 2; span < n;) {
    const int32_t step = 2 * span;
    const tTwiddle twiddle(kTwoPi / (static_cast<double>(Sign) * span));
    float wr = 1.0f, wi = 0.0f;
    for (int32_t m = 0; m < span; m += 2) {
      const double r = wr, im = wi;
      for (int32_t i = m; i < n; i += step) {
        const int32_t j = i + span;
        const float tr = static_cast<float>(r * Data[j] - im * Data[j + 1]);
        const float ti = static_cast<float>(r * Data[j + 1] + im * Data[j]);
        Data[j] = static_cast<float>(static_cast<double>(Data[i]) - tr);
        Data[j + 1] = static_cast<float>(static_cast<double>(Data[i + 1]) - ti);
        Data[i] = static_cast<float>(static_cast<double>(Data[i]) + tr);
        Data[i + 1] = static_cast<float>(static_cast<double>(Data[i + 1]) + ti);
      }
      twiddle.Advance(wr, wi);
    }
    span = step;
  }
}

void RealFFT(float* Data, int32_t Half, int32_t Sign) {
  double theta = kTwoPi / (2.0 * Half);
  constexpr double c1 = 0.5;
  double c2 = 0.5;
  if (Sign == 1) {
    c2 = -0.5;
    ComplexFFT(Data, Half, +1);
  } else {
    theta = -theta;
  }
  const tTwiddle twiddle(theta);
  float wr = static_cast<float>(1.0 + twiddle.wpr);
  float wi = twiddle.wpi;
  for (int32_t k = 1; k < Half / 2; ++k) {
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
    twiddle.Advance(wr, wi);
  }
  const double h = Data[0], nyquist = Data[1];
  if (Sign == 1) {
    Data[0] = static_cast<float>(h + nyquist);
    Data[1] = static_cast<float>(h - nyquist);
  } else {
    Data[0] = static_cast<float>(c1 * (h + nyquist));
    Data[1] = static_cast<float>(c1 * (h - nyquist));
    ComplexFFT(Data, Half, -1);
  }
}

void UnpackSpectrum(float* Data, int32_t N) {
  Data[N] = Data[1];
  Data[N + 1] = 0.0f;
  Data[1] = 0.0f;
}

void PackSpectrum(float* Data, int32_t N) { Data[1] = Data[N]; }

}  // namespace vm
