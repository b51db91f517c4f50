// What the octaver's smoothing elements are for, measured on its outputs:
//  - the splice: each head blends from the old cycle's continuation into the new cycle over
//    1.25 ms, so a cut between cycles that do not match (a pitch moving under a vibrato)
//    leaves no step in the output;
//  - the band: the half-speed output passes a 14 kHz low-pass, the double-speed ring a
//    9 kHz one before it is read at twice the speed, so the doubled output is limited to
//    18 kHz. Tones whose period is a whole number of samples make every cycle identical
//    and every splice seamless, so each output is the transposed input through its filter
//    alone, which a double-precision design of that filter predicts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "playback/XPlayback.h"
#include "signals/Biquad.h"
#include "signals/Envelope.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct tOctaves {
  std::vector<float> half, dbl;
};

tOctaves Octave(const std::vector<float>& x, int rate) {
  tOctaver octaver(rate, true, true);
  tOctaves out;
  for (float v : x) {
    octaver.Process(v);
    out.half.push_back(octaver.HalfOut);
    out.dbl.push_back(octaver.DoubleOut);
  }
  return out;
}

// Largest sample-to-sample change of y[from, end).
double LargestStep(const std::vector<float>& y, size_t from) {
  double largest = 0.0;
  for (size_t n = std::max<size_t>(from, 1); n < y.size(); ++n)
    largest = std::max(largest, std::fabs(double(y[n]) - y[n - 1]));
  return largest;
}

// A sine of amplitude A whose pitch swings by +-depth around f0 at 5 Hz: its largest step
// is A w (1 + depth). Played at half speed each sample is held for two and the 14 kHz
// low-pass rounds the held steps to about half the input's largest step; at double speed
// every other sample is skipped, so the steps are twice the input's. Cycles cut at a period
// estimated a moment ago do not join up under the vibrato: without a blend (or with its
// weights the wrong way round) the mismatch, up to 2A, appears at once, several times
// these steps; the blend spreads it over 55 ring samples.
TEST(OctaverSplice, NoStepWhereCyclesAreJoined) {
  constexpr int kRate = 44100;
  constexpr double kAmplitude = 0.5;
  const struct {
    double f0, depth;
  } cases[] = {{150.0, 0.06}, {220.0, 0.05}, {310.0, 0.04}};
  for (const auto& c : cases) {
    std::vector<float> x(kRate);
    double phase = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
      x[n] = static_cast<float>(kAmplitude * std::sin(phase));
      const double t = static_cast<double>(n) / kRate;
      phase += 2 * kPi * c.f0 * (1 + c.depth * std::sin(2 * kPi * 5.0 * t)) / kRate;
    }
    const double inputStep = kAmplitude * 2 * kPi * c.f0 * (1 + c.depth) / kRate;
    const tOctaves out = Octave(x, kRate);
    const size_t from = kRate / 5;  // after the first estimates of the period
    const double level = signals::RmsDb(x, from, x.size());
    ASSERT_NEAR(signals::RmsDb(out.half, from, x.size()), level, 3.0) << c.f0 << " Hz: sounding";
    ASSERT_NEAR(signals::RmsDb(out.dbl, from, x.size()), level, 3.0) << c.f0 << " Hz: sounding";
    EXPECT_LT(LargestStep(out.half, from) / inputStep, 0.8) << c.f0 << " Hz, half speed";
    EXPECT_LT(LargestStep(out.dbl, from) / inputStep, 2.6) << c.f0 << " Hz, double speed";
  }
}

enum tPath { kHalfSpeed, kDoubleSpeed };

// Level (dB) of the output line that a harmonic becomes, relative to the line of the
// fundamental, less the same difference in the input: the transposition's own gain there.
double MeasuredLineGainDb(tPath path, int rate, double f0, int harmonic) {
  constexpr double kFundamental = 0.4, kHarmonic = 0.1;  // amplitudes
  std::vector<float> x(static_cast<size_t>(rate * 1.2));
  for (size_t n = 0; n < x.size(); ++n) {
    const double w = 2 * kPi * f0 * static_cast<double>(n) / rate;
    x[n] = static_cast<float>(kFundamental * std::sin(w) + kHarmonic * std::sin(harmonic * w));
  }
  const tOctaves out = Octave(x, rate);
  const std::vector<float>& y = path == kHalfSpeed ? out.half : out.dbl;
  const double scale = path == kHalfSpeed ? 0.5 : 2.0;
  const size_t from = x.size() / 3, length = x.size() - from;
  const auto line = [&](double hz) { return signals::SeriesDb(y, from, length, rate, hz, hz, hz); };
  return line(harmonic * f0 * scale) - line(f0 * scale) - 20 * std::log10(kHarmonic / kFundamental);
}

// The same from the filter designs: at half speed each ring sample is held for two output
// samples, which weights an output tone at f by |cos(pi f / rate)|, and then the 14 kHz
// low-pass (Q 1) acts at the output frequency; at double speed the 9 kHz low-pass (Q 1)
// acts at the input frequency, before the ring is read.
double DesignedLineGainDb(tPath path, int rate, double f0, int harmonic) {
  const auto gain = [&](double inputHz) {
    if (path == kDoubleSpeed)
      return std::abs(signals::Response(signals::CookbookLowPass(rate, 9000.0, 1.0), inputHz, rate));
    const double outputHz = inputHz / 2;
    return std::fabs(std::cos(kPi * outputHz / rate)) *
           std::abs(signals::Response(signals::CookbookLowPass(rate, 14000.0, 1.0), outputHz, rate));
  };
  return 20 * std::log10(gain(harmonic * f0) / gain(f0));
}

// Tones of 441 Hz (480 Hz at 96 kHz): 100 (200) samples per period.
TEST(OctaverBand, OutputsFollowTheirLowPassFilters) {
  const struct {
    tPath path;
    int rate;
    double f0;
    int harmonic;
  } cases[] = {
      {kHalfSpeed, 44100, 441.0, 20},    // out 4410 Hz, well inside the band
      {kHalfSpeed, 44100, 441.0, 36},    // out 7938 Hz
      {kHalfSpeed, 96000, 480.0, 60},    // out 14400 Hz, at the corner
      {kHalfSpeed, 96000, 480.0, 80},    // out 19200 Hz, above it
      {kDoubleSpeed, 44100, 441.0, 11},  // in 4851 Hz, out 9702 Hz
      {kDoubleSpeed, 44100, 441.0, 20},  // in 8820 Hz, out 17640 Hz, at the corner
      {kDoubleSpeed, 96000, 480.0, 30},  // in 14400 Hz, out 28800 Hz, above it
  };
  for (const auto& c : cases) {
    const double measured = MeasuredLineGainDb(c.path, c.rate, c.f0, c.harmonic);
    const double designed = DesignedLineGainDb(c.path, c.rate, c.f0, c.harmonic);
    EXPECT_NEAR(measured, designed, 0.05)
        << (c.path == kHalfSpeed ? "half" : "double") << " speed at " << c.rate
        << " Hz, harmonic " << c.harmonic << " of " << c.f0 << " Hz";
  }
}

}  // namespace
}  // namespace vm
