// Reference responses of the Audio EQ Cookbook low- and high-pass biquads, designed and
// evaluated in double precision, independent of the filters under test: what a tone at a
// given frequency comes out as (gain and phase) in steady state. Header-only.
#pragma once

#include <cmath>
#include <complex>

namespace vm::signals {

struct tBiquadDesign {
  double b0, b1, b2, a1, a2;  // normalised by the leading denominator term
};

inline tBiquadDesign CookbookLowPass(double rateHz, double cornerHz, double q) {
  const double w = 2.0 * 3.14159265358979323846 * cornerHz / rateHz;
  const double c = std::cos(w), alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha;
  const double b = (1.0 - c) / 2.0;
  return {b / a0, 2.0 * b / a0, b / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

inline tBiquadDesign CookbookHighPass(double rateHz, double cornerHz, double q) {
  const double w = 2.0 * 3.14159265358979323846 * cornerHz / rateHz;
  const double c = std::cos(w), alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha;
  const double b = (1.0 + c) / 2.0;
  return {b / a0, -2.0 * b / a0, b / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

// H(e^jw) at hz: what multiplies a complex tone of that frequency.
inline std::complex<double> Response(const tBiquadDesign& d, double hz, double rateHz) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * 3.14159265358979323846 * hz / rateHz);
  const std::complex<double> z2 = z1 * z1;
  return (d.b0 + d.b1 * z1 + d.b2 * z2) / (1.0 + d.a1 * z1 + d.a2 * z2);
}

}  // namespace vm::signals
