#include "analysis/Fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace vm {
namespace {

struct tWorkedExample {
  const char* name;
  std::vector<float> input;
  std::vector<float> packed;
};

class RealFFTWorked : public ::testing::TestWithParam<tWorkedExample> {};

TEST_P(RealFFTWorked, ForwardGivesThePackedSpectrum) {
  std::vector<float> data = GetParam().input;
  RealFFT(data.data(), 4, +1);
  for (size_t i = 0; i < data.size(); ++i)
    EXPECT_NEAR(data[i], GetParam().packed[i], 1e-4) << "index " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RealFFTWorked,
    ::testing::Values(
        tWorkedExample{"ramp",
                       {1, 2, 3, 4, 5, 6, 7, 8},
                       {36, -4, -4, -9.65685f, -4, -4, -4, -1.65685f}},
        // X(1) = e^(+i pi/4): the positive exponent of the forward transform.
        tWorkedExample{"delayedImpulse",
                       {0, 1, 0, 0, 0, 0, 0, 0},
                       {1, -1, 0.707107f, 0.707107f, 0, 1, -0.707107f, 0.707107f}},
        tWorkedExample{"impulse", {1, 0, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 1, 0, 1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<float> RandomSignal(int n, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> x(static_cast<size_t>(n));
  for (float& v : x) v = uniform(generator);
  return x;
}

// Direct DFT in double with exponent sign `sign`, of a complex sequence.
std::vector<std::complex<double>> DirectDFT(const std::vector<std::complex<double>>& x,
                                            int sign) {
  const size_t n = x.size();
  std::vector<std::complex<double>> X(n);
  const double pi2 = 2.0 * std::acos(-1.0);
  std::vector<std::complex<double>> roots(n);  // e^(sign 2 pi i m / n), exact per m
  for (size_t m = 0; m < n; ++m) roots[m] = std::polar(1.0, sign * pi2 * m / n);
  for (size_t k = 0; k < n; ++k) {
    std::complex<double> sum = 0;
    size_t m = 0;
    for (size_t j = 0; j < n; ++j, m = (m + k) % n) sum += x[j] * roots[m];
    X[k] = sum;
  }
  return X;
}

// Float rounding grows like log2(N) times the signal's L2 norm per bin at worst.
double Tolerance(int n) { return 2e-6 * std::sqrt(static_cast<double>(n)) * std::log2(n); }

class TransformSizes : public ::testing::TestWithParam<int> {};

TEST_P(TransformSizes, RealForwardMatchesDirectDFT) {
  const int n = GetParam();
  const std::vector<float> x = RandomSignal(n, 11u + n);
  std::vector<std::complex<double>> xc(x.begin(), x.end());
  const auto X = DirectDFT(xc, +1);
  std::vector<float> data = x;
  RealFFT(data.data(), n / 2, +1);
  const double tol = Tolerance(n);
  EXPECT_NEAR(data[0], X[0].real(), tol);
  EXPECT_NEAR(data[1], X[n / 2].real(), tol);
  for (int k = 1; k < n / 2; ++k) {
    ASSERT_NEAR(data[2 * k], X[k].real(), tol) << "bin " << k;
    ASSERT_NEAR(data[2 * k + 1], X[k].imag(), tol) << "bin " << k;
  }
}

TEST_P(TransformSizes, ComplexBothSignsMatchDirectDFT) {
  const int nn = GetParam();
  const std::vector<float> x = RandomSignal(2 * nn, 7u + nn);
  std::vector<std::complex<double>> xc(static_cast<size_t>(nn));
  for (int k = 0; k < nn; ++k) xc[k] = {x[2 * k], x[2 * k + 1]};
  for (int sign : {+1, -1}) {
    const auto X = DirectDFT(xc, sign);
    std::vector<float> data = x;
    ComplexFFT(data.data(), nn, sign);
    const double tol = Tolerance(2 * nn);
    for (int k = 0; k < nn; ++k) {
      ASSERT_NEAR(data[2 * k], X[k].real(), tol) << "sign " << sign << " bin " << k;
      ASSERT_NEAR(data[2 * k + 1], X[k].imag(), tol) << "sign " << sign << " bin " << k;
    }
  }
}

TEST_P(TransformSizes, RealInverseMatchesDirectDFTAndRoundTrips) {
  const int n = GetParam();
  const std::vector<float> x = RandomSignal(n, 3u + n);
  std::vector<float> data = x;
  RealFFT(data.data(), n / 2, +1);
  // Inverse of the packed spectrum against a direct inverse DFT, scaled by Half.
  std::vector<std::complex<double>> X(static_cast<size_t>(n));
  X[0] = data[0];
  X[n / 2] = data[1];
  for (int k = 1; k < n / 2; ++k) {
    X[k] = {data[2 * k], data[2 * k + 1]};
    X[n - k] = std::conj(X[k]);
  }
  const auto direct = DirectDFT(X, -1);
  RealFFT(data.data(), n / 2, -1);
  const double half = n / 2.0;
  for (int j = 0; j < n; ++j) {
    ASSERT_NEAR(data[j], direct[j].real() / 2.0, Tolerance(n) * std::sqrt(n)) << "sample " << j;
    ASSERT_NEAR(data[j] / half, x[j], 1e-5) << "sample " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, TransformSizes,
                         ::testing::Values(32, 64, 128, 256, 512, 1024, 2048, 4096, 8192));

// The table holds the factors the recurrence produces, so every transform through it must
// give the very same floats; sizes beyond the table fall back to the recurrence.
TEST(TwiddleTable, TransformsAreBitIdenticalToTheRecurrence) {
  constexpr int kMaxHalf = 4096;
  tTwiddleTable table;
  table.Build(kMaxHalf);
  for (int half = 2; half <= 2 * kMaxHalf; half *= 2) {
    const std::vector<float> x = RandomSignal(2 * half, 5u + half);
    for (int sign : {+1, -1}) {
      std::vector<float> plain = x, tabled = x;
      ComplexFFT(plain.data(), half, sign);
      ComplexFFT(tabled.data(), half, sign, table);
      ASSERT_EQ(plain, tabled) << "complex, " << half << " values, sign " << sign;
      plain = tabled = x;
      RealFFT(plain.data(), half, sign);
      RealFFT(tabled.data(), half, sign, table);
      ASSERT_EQ(plain, tabled) << "real, " << 2 * half << " samples, sign " << sign;
    }
  }
}

TEST(SpectrumPacking, UnpackMovesNyquistAndPackRestoresIt) {
  constexpr int n = 8;
  std::vector<float> data = {36, -4, -4, -9.5f, -4, -4, -4, -1.5f, 99, 99};
  UnpackSpectrum(data.data(), n);
  EXPECT_EQ(data[1], 0.0f);
  EXPECT_EQ(data[n], -4.0f);
  EXPECT_EQ(data[n + 1], 0.0f);
  EXPECT_EQ(data[0], 36.0f);
  PackSpectrum(data.data(), n);
  const std::vector<float> expected = {36, -4, -4, -9.5f, -4, -4, -4, -1.5f, -4, 0};
  EXPECT_EQ(data, expected);
}

}  // namespace
}  // namespace vm
