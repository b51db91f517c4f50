// The bands the cycle analysers listen to, measured with steady tones through their public
// results and compared with double-precision designs of the same filters:
//  - the extreme keeper marks each cycle's peak after a 54 Hz high-pass and two 300 Hz
//    low-passes (Q 0.5); the time of its rising polarity flips against the input's own
//    peaks gives the chain's phase at each tone frequency;
//  - the zero-crossing analyser files the area of each negative lobe of its 1000 Hz
//    (Q 0.25) low-passed copy; the mean lobe area of a tone gives that filter's gain.
// Tones are detuned slightly off round periods so that the sampling instants drift through
// the cycle and the averages lose the one-sample quantisation.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "analysis/PeakStepper.h"
#include "signals/Biquad.h"

namespace vm {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAmplitude = 0.5;

std::vector<float> Tone(double hz, int rate, double seconds) {
  std::vector<float> x(static_cast<size_t>(seconds * rate));
  for (size_t n = 0; n < x.size(); ++n)
    x[n] = static_cast<float>(kAmplitude * std::sin(2.0 * kPi * hz * static_cast<double>(n) / rate));
  return x;
}

// Phase (rad) of the keeper's chain for a tone, from the design it should have.
double ExpectedKeeperPhase(double hz, int rate) {
  const auto hp = signals::CookbookHighPass(rate, 54.0, 0.5);
  const auto lp = signals::CookbookLowPass(rate, 300.0, 0.5);
  const std::complex<double> h = signals::Response(hp, hz, rate) *
                                 signals::Response(lp, hz, rate) * signals::Response(lp, hz, rate);
  return std::arg(h);
}

// Phase (rad) of the keeper's chain as its peak marks show it. A filtered tone
// sin(w n + phi) peaks where w n + phi = pi/2; the detector reports a peak one sample
// after it, when the next sample shows it was one. Circular mean over the last second.
double MeasuredKeeperPhase(double hz, int rate) {
  tExtremeKeeper keeper(rate);
  const std::vector<float> x = Tone(hz, rate, 2.0);
  const double w = 2.0 * kPi * hz / rate;
  std::complex<double> sum = 0.0;
  int marks = 0;
  float last = 0.0f;
  for (size_t n = 0; n < x.size(); ++n) {
    const float polarity = keeper.Process(x[n]);
    if (polarity > 0.0f && last <= 0.0f && n >= x.size() / 2) {
      const double peakAt = static_cast<double>(n) - 1.0;
      sum += std::polar(1.0, kPi / 2 - w * peakAt);
      ++marks;
    }
    last = polarity;
  }
  EXPECT_GT(marks, hz * 0.9) << hz << " Hz: a peak mark in every cycle";
  return std::arg(sum);
}

// At the corners and around them, in samples of delay: the high-pass corner moves the
// low tones by many samples, the low-pass corners move the high tones by several.
TEST(ExtremeKeeperBand, PeakMarksLagByTheBandFiltersPhase) {
  constexpr int kRate = 44100;
  const double tones[] = {40.3, 53.9, 80.7, 150.2, 299.3, 451.7};
  for (double hz : tones) {
    const double w = 2.0 * kPi * hz / kRate;
    double error = MeasuredKeeperPhase(hz, kRate) - ExpectedKeeperPhase(hz, kRate);
    error = std::remainder(error, 2.0 * kPi);
    EXPECT_NEAR(error / w, 0.0, 0.15) << hz << " Hz: phase error in samples of delay";
  }
}

// Mean |area| of the lobes the analyser filed, over the last second of a tone.
double MeanLobeArea(double hz, int rate) {
  tZeroCrossingAnalyser analyser;
  analyser.SetSampleRate(rate);
  const std::vector<float> x = Tone(hz, rate, 1.5);
  int32_t newest = analyser.rising.newest;
  double sum = 0.0;
  int lobes = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    analyser.Process(static_cast<int32_t>(n & 32767), x[n]);
    if (analyser.rising.newest == newest) continue;
    newest = analyser.rising.newest;
    if (n < static_cast<size_t>(rate) / 2) continue;
    sum += std::fabs(analyser.rising.areas[newest]);
    ++lobes;
  }
  EXPECT_GT(lobes, hz * 0.9) << hz << " Hz: a lobe in every cycle";
  return lobes > 0 ? sum / lobes : 0.0;
}

// A negative half-cycle of G A sin sums to 2 G A / w over its samples on average, so the
// mean lobe area is the filter's gain G at the tone in disguise.
TEST(ZeroCrossingAnalyserBand, LobeAreasFollowTheThousandHertzLowPass) {
  const struct {
    int rate;
    double hz;
  } cases[] = {{44100, 251.3}, {44100, 498.7}, {44100, 1003.1}, {44100, 2011.7},
               {44100, 4021.3}, {96000, 1003.1}, {96000, 3013.9}};
  for (const auto& c : cases) {
    const double w = 2.0 * kPi * c.hz / c.rate;
    const double gain = MeanLobeArea(c.hz, c.rate) * w / (2.0 * kAmplitude);
    const double expected =
        std::abs(signals::Response(signals::CookbookLowPass(c.rate, 1000.0, 0.25), c.hz, c.rate));
    EXPECT_NEAR(20.0 * std::log10(gain / expected), 0.0, 0.02)
        << c.hz << " Hz at " << c.rate << " Hz: gain " << gain << ", designed " << expected;
  }
}

}  // namespace
}  // namespace vm
