// The biquad keeps its memories in float but evaluates each step's difference equation in
// double: products of floats are exact in double and the few sums lose nothing that
// matters, so the only rounding of a step is the final one to float. Low corners and high
// Q make the feedback terms nearly cancel (y = 2y1 - y2 + small); evaluated in float, each
// term's rounding then lands in the output and the recursion drifts. The check: every
// output is the float nearest to the exact value of the equation on the filter's own
// float coefficients and memories, computed here in extended precision.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/Filters.h"

namespace vm {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Numerator taps of each cookbook kind as the designs leave them: low-, high-pass and
// notch are symmetric (b2 = b0), the band-pass antisymmetric (b1 = 0, b2 = -b0), and the
// peaking filter shares its middle tap with the denominator (b1 = a1).
struct tTaps {
  long double b0, b1, b2;
};
tTaps TapsOf(const tFilter& f) {
  switch (f.kind) {
    case fkLowPass:
    case fkHighPass:
    case fkNotch: return {f.b0, f.b1, f.b0};
    case fkBandPass: return {f.b0, 0.0L, -static_cast<long double>(f.b0)};
    case fkPeak: return {f.b0, f.a1, f.b2};
    default: return {f.b0, f.b1, f.b2};
  }
}

// A tone, a slow swell and deterministic noise: every tap carries something.
std::vector<float> Excitation(int rate, size_t samples) {
  std::vector<float> x(samples);
  uint32_t noise = 99;
  for (size_t n = 0; n < samples; ++n) {
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.2;
    const double t = static_cast<double>(n) / rate;
    x[n] = static_cast<float>(0.5 * std::sin(2 * kPi * 97.0 * t) * (0.6 + 0.4 * std::sin(2 * kPi * 1.3 * t)) + hiss);
  }
  return x;
}

TEST(BiquadRounding, EachStepIsRoundedOnceFromTheExactEquation) {
  const struct {
    tFilterKind kind;
    int rate;
    float hz, q, db;
  } cases[] = {
      {fkLowPass, 96000, 20.0f, 8.0f, 0.0f},     // far below the rate, resonant: float drifts
      {fkLowPass, 44100, 300.0f, 0.5f, 0.0f},    // the peak keeper's band
      {fkHighPass, 44100, 54.0f, 0.5f, 0.0f},
      {fkLowPass, 44100, 1000.0f, 0.25f, 0.0f},  // the crossing analyser's low-pass
      {fkLowPass, 44100, 14000.0f, 1.0f, 0.0f},  // the octaver's output filters
      {fkLowPass, 44100, 9000.0f, 1.0f, 0.0f},
      {fkHighPass, 192000, 30.0f, 4.0f, 0.0f},
      {fkBandPass, 44100, 200.0f, 10.0f, 0.0f},
      {fkNotch, 44100, 60.0f, 2.0f, 0.0f},
      {fkPeak, 44100, 100.0f, 4.0f, 12.0f},
      {fkLowShelf, 48000, 80.0f, 0.7f, -6.0f},
      {fkHighShelf, 48000, 5000.0f, 0.7f, 9.0f},
  };
  for (const auto& c : cases) {
    tFilter f;
    f.Design(c.rate, c.kind, c.hz, c.q, c.db);
    const tTaps b = TapsOf(f);
    const long double a1 = f.a1, a2 = f.a2;
    long double x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // the filter's float memories, exactly
    int worse = 0;
    double worstUlps = 0.0;
    for (float x : Excitation(c.rate, 20000)) {
      const long double terms[] = {b.b0 * x, b.b1 * x1, b.b2 * x2, -a1 * y1, -a2 * y2};
      long double exact = -1e-20L, scale = 0.0L;
      for (long double t : terms) exact += t, scale += std::fabs(t);
      const float y = f.Process(x);
      const float nearest = static_cast<float>(exact);
      const double ulp = std::nextafter(std::fabs(nearest), INFINITY) - std::fabs(nearest);
      // Half a unit in the last place is the rounding itself. The margin admits what a
      // double evaluation in any order may add: a few double roundings of the terms (far
      // below a float's when the terms cancel to almost nothing, invisible otherwise).
      const double error = std::fabs(static_cast<double>(static_cast<long double>(y) - exact));
      const double ulps = error / ulp;
      if (error > 0.5 * ulp * (1.0 + 1e-6) + 1e-15 * static_cast<double>(scale)) ++worse;
      if (ulps > worstUlps) worstUlps = ulps;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
    }
    EXPECT_EQ(worse, 0) << "kind " << int(c.kind) << ", " << c.hz << " Hz at " << c.rate
                        << " Hz: outputs not the nearest float, worst by " << worstUlps << " ulp";
  }
}

}  // namespace
}  // namespace vm
