// A small YIN pitch estimator for tests (de Cheveigne and Kawahara, 2002), independent of
// the detectors under test: the cumulative-mean-normalised difference function, the first
// dip below a threshold, then parabolic interpolation around it. Header-only.
#pragma once

#include <cstddef>
#include <vector>

namespace vm::signals {

// Fundamental (Hz) of x[begin, begin + window + maxLag), searched between minHz and maxHz;
// 0 when no lag in range is periodic enough. `window` is the integration length in samples
// and should cover at least two of the longest periods searched.
inline double EstimatePitchHz(const std::vector<float>& x, std::size_t begin, std::size_t window,
                              int sampleRateHz, double minHz, double maxHz,
                              double threshold = 0.15) {
  const std::size_t minLag = static_cast<std::size_t>(sampleRateHz / maxHz);
  const std::size_t maxLag = static_cast<std::size_t>(sampleRateHz / minHz) + 1;
  if (begin + window + maxLag + 1 > x.size() || minLag < 2) return 0.0;

  // d'(tau) for tau = 0..maxLag+1.
  std::vector<double> dn(maxLag + 2, 1.0);
  double running = 0.0;
  for (std::size_t tau = 1; tau <= maxLag + 1; ++tau) {
    double d = 0.0;
    for (std::size_t i = begin; i < begin + window; ++i) {
      const double e = static_cast<double>(x[i]) - x[i + tau];
      d += e * e;
    }
    running += d;
    dn[tau] = running > 0.0 ? d * static_cast<double>(tau) / running : 1.0;
  }

  std::size_t best = 0;
  for (std::size_t tau = minLag; tau <= maxLag; ++tau) {
    if (dn[tau] < threshold) {
      while (tau + 1 <= maxLag && dn[tau + 1] < dn[tau]) ++tau;
      best = tau;
      break;
    }
  }
  if (best == 0) {  // no dip below the threshold: take the global minimum
    double lowest = 1e300;
    for (std::size_t tau = minLag; tau <= maxLag; ++tau)
      if (dn[tau] < lowest) lowest = dn[tau], best = tau;
    if (lowest > 0.5) return 0.0;
  }
  // Parabolic interpolation of the dip.
  const double a = dn[best - 1], b = dn[best], c = dn[best + 1];
  const double denominator = a - 2.0 * b + c;
  const double shift = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
  return sampleRateHz / (static_cast<double>(best) + shift);
}

}  // namespace vm::signals
