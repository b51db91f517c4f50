// A spectral-envelope estimator for tests, independent of the code under test: linear
// prediction by the autocorrelation method (Hann window, Levinson-Durbin recursion), the
// envelope 1 / |A(e^jw)| evaluated on a fine frequency grid, and its peaks. The order
// 2 + fs / 1000 gives about one resonance per kilohertz of bandwidth, the usual rule for
// formants, and stays well below the samples of one pitch period of a sung voice, so the
// predictor follows the envelope rather than the single harmonics. Also the power of a
// harmonic series, for telling sections an octave apart. Header-only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "signals/Signals.h"

namespace vm::signals {

// Predictor order for a sample rate: two poles per kilohertz of the band, plus two.
inline int LpcOrder(int sampleRateHz) { return 2 + sampleRateHz / 1000; }

// Pre-emphasis y[n] = x[n] - 0.97 x[n-1]: a first-order lift of about +6 dB per octave
// that undoes the falling slope of a voice's source, so the upper formants are not lost
// below the first ones.
constexpr double kPreEmphasis = 0.97;

// Prediction polynomial a[0..order] (a[0] = 1) of x[begin, begin + length), pre-emphasised
// and Hann-windowed. Empty when the stretch is silent or too short.
inline std::vector<double> LpcCoefficients(const std::vector<float>& x, std::size_t begin,
                                           std::size_t length, int order) {
  if (begin < 1 || begin + length > x.size() || length <= static_cast<std::size_t>(order))
    return {};
  std::vector<double> w(length);
  for (std::size_t n = 0; n < length; ++n) {
    const double lifted = x[begin + n] - kPreEmphasis * x[begin + n - 1];
    w[n] = lifted * (0.5 - 0.5 * std::cos(2.0 * kPi * (n + 0.5) / length));
  }
  std::vector<double> r(order + 1, 0.0);  // autocorrelation, lags 0..order
  for (int lag = 0; lag <= order; ++lag)
    for (std::size_t n = static_cast<std::size_t>(lag); n < length; ++n) r[lag] += w[n] * w[n - lag];
  if (!(r[0] > 0.0)) return {};
  r[0] *= 1.0 + 1e-9;  // a trace of white noise keeps the recursion well conditioned

  std::vector<double> a(order + 1, 0.0), previous;
  a[0] = 1.0;
  double error = r[0];  // prediction error power
  for (int i = 1; i <= order; ++i) {
    double acc = r[i];
    for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
    const double k = -acc / error;  // reflection coefficient
    previous = a;
    for (int j = 1; j < i; ++j) a[j] = previous[j] + k * previous[i - j];
    a[i] = k;
    error *= 1.0 - k * k;
    if (!(error > 0.0)) break;
  }
  return a;
}

// Envelope level in dB at f (Hz): -20 log10 |A(e^jw)|, w = 2 pi f / fs.
inline double EnvelopeDb(const std::vector<double>& a, double hz, int sampleRateHz) {
  const double omega = 2.0 * kPi * hz / sampleRateHz;
  double re = 0.0, im = 0.0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    re += a[k] * std::cos(omega * static_cast<double>(k));
    im -= a[k] * std::sin(omega * static_cast<double>(k));
  }
  return -10.0 * std::log10(re * re + im * im + 1e-300);
}

struct tEnvelopePeak {
  double hz;  // frequency of the local maximum
  double db;  // envelope level there
};

// Local maxima of the envelope between minHz and maxHz on a grid of stepHz, refined by a
// parabola through the three grid points, in rising frequency; only those within
// `rangeDb` of the strongest one in the range are kept.
inline std::vector<tEnvelopePeak> EnvelopePeaks(const std::vector<double>& a, int sampleRateHz,
                                                double minHz = 150.0, double maxHz = 5000.0,
                                                double rangeDb = 45.0, double stepHz = 2.0) {
  std::vector<tEnvelopePeak> peaks;
  if (a.empty()) return peaks;
  std::vector<double> level;
  for (double f = minHz - stepHz; f <= maxHz + stepHz; f += stepHz)
    level.push_back(EnvelopeDb(a, f, sampleRateHz));
  for (std::size_t i = 1; i + 1 < level.size(); ++i) {
    if (!(level[i] > level[i - 1] && level[i] >= level[i + 1])) continue;
    const double denominator = level[i - 1] - 2.0 * level[i] + level[i + 1];
    const double shift = denominator != 0.0 ? 0.5 * (level[i - 1] - level[i + 1]) / denominator : 0.0;
    const double hz = minHz - stepHz + (static_cast<double>(i) + shift) * stepHz;
    peaks.push_back({hz, level[i]});
  }
  double strongest = -1e300;
  for (const auto& p : peaks) strongest = std::max(strongest, p.db);
  std::erase_if(peaks, [&](const tEnvelopePeak& p) { return p.db < strongest - rangeDb; });
  return peaks;
}

// Peaks of the envelope of x[begin, begin + length) at the usual order for the rate.
inline std::vector<tEnvelopePeak> EnvelopePeaksOf(const std::vector<float>& x, std::size_t begin,
                                                  std::size_t length, int sampleRateHz,
                                                  double minHz = 150.0, double maxHz = 5000.0) {
  return EnvelopePeaks(LpcCoefficients(x, begin, length, LpcOrder(sampleRateHz)), sampleRateHz,
                       minHz, maxHz);
}

// Frequency of the peak closest to `hz` on a logarithmic scale; 0 when there is none.
inline double NearestPeakHz(const std::vector<tEnvelopePeak>& peaks, double hz) {
  double best = 0.0, bestDistance = 1e300;
  for (const auto& p : peaks) {
    const double distance = std::fabs(std::log(p.hz / hz));
    if (distance < bestDistance) bestDistance = distance, best = p.hz;
  }
  return best;
}

// Power in dB (full-scale sine = about -6 dB) of the harmonic series first, first + step,
// ... up to lastHz in x[begin, begin + length), Hann-windowed, each line measured with a
// Goertzel filter at its exact frequency. With a window of at least 20 periods of `step`
// the lines of one series do not leak into those of another series at half the spacing.
inline double SeriesDb(const std::vector<float>& x, std::size_t begin, std::size_t length,
                       int sampleRateHz, double firstHz, double stepHz, double lastHz) {
  if (begin + length > x.size() || length == 0) return -300.0;
  double power = 0.0, windowSum = 0.0;
  for (std::size_t n = 0; n < length; ++n) windowSum += 0.5 - 0.5 * std::cos(2.0 * kPi * (n + 0.5) / length);
  for (double f = firstHz; f <= lastHz + 1e-9; f += stepHz) {
    const double coefficient = 2.0 * std::cos(2.0 * kPi * f / sampleRateHz);
    double s1 = 0.0, s2 = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
      const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * (n + 0.5) / length);
      const double s0 = w * x[begin + n] + coefficient * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double magnitudeSquared = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    power += magnitudeSquared / (windowSum * windowSum);  // a line of amplitude A gives A^2/4
  }
  return power > 0.0 ? 10.0 * std::log10(power) : -300.0;
}

}  // namespace vm::signals
