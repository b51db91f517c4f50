// Pitch-cycle marks: peak/trough detection with decaying thresholds, a band-limited peak
// keeper, a period estimator from sign changes, and the chooser of rising zero crossings
// that cuts cycles at the same point of the waveform.
#pragma once

#include <cstdint>
#include <memory>

#include "analysis/Filters.h"

namespace vm {

// Picks the peaks and troughs of a signal, one sample late. A candidate must beat a
// threshold that shrinks by `decay` at each candidate and jumps to the accepted value.
// Process returns +1 after an accepted peak, -1 after an accepted trough, 0 before either.
class tExtremeDetector {
 public:
  tExtremeDetector(bool Relative, float Decay);  // Create
  void Reset();
  float Process(float x);
  // Process over a block: states[i] is the result after x[i]. Candidates (a local peak
  // above zero or trough below) are rare, so they are found four at a time by vector
  // compares and only they take the scalar step; the fields end as after the last sample.
  void ProcessBlock(const float* x, float* states, int32_t n);

  // current and previous are kept apart so that each is stored on its own: a joint store
  // would miss store forwarding when the next sample loads them.
  float current = 0;   // candidate extreme (the previous input)
  float State = 0;     // +1, -1 or 0
  float previous = 0;  // input before `current`
  bool relative;       // measure against the last extreme of the other sign
  float decay;         // threshold factor per candidate
  float lastPeak = 0;
  float lastTrough = 0;
  float peakThreshold = 0;
  float troughThreshold = 0;
};

// Band-limits the input to a voice fundamental (high-pass 54 Hz, two low-passes 300 Hz)
// and reports the extreme detector's polarity: +1 from the main peak of each cycle, -1
// from its main trough.
class tExtremeKeeper {
 public:
  explicit tExtremeKeeper(int32_t SampleRate);  // Create
  void SetSampleRate(int32_t SampleRate);
  void Configure(int32_t SampleRate, float HighPassFreq, float HighPassQ, float LowPassFreq,
                 float LowPassQ);
  void Reset();
  float Process(float x);
  // Block form of Process in two steps: the filters' input for each sample (the first link
  // of the chain highPass, lowPass1, lowPass2, run with RunFilterChains), then the
  // detector's polarities from the band-limited samples.
  static float FilterInput(float x) { return SaneSample(x) + kInputGuard; }
  bool FiltersRunInBlocks() const {
    return tBiquadRun::Handles(highPass) && tBiquadRun::Handles(lowPass1) &&
           tBiquadRun::Handles(lowPass2);
  }
  void Detect(const float* bandLimited, float* states, int32_t n);

  static constexpr float kInputGuard = 1e-18f;  // added to the input, keeps it off zero
  int32_t sampleRate = 0;  // Hz
  tFilter highPass;
  tFilter lowPass1;
  tFilter lowPass2;
  tExtremeDetector detector{false, 0.65f};
};

// Period estimator: counts samples between rising sign changes and between falling ones;
// each count gives a frequency (Hz), kept when above 40 Hz and smoothed by a median.
class tCrossingDetector {
 public:
  tCrossingDetector(int32_t SampleRate, int32_t MedianLength);  // Create; 0 = no median
  void SetSampleRate(int32_t SampleRate);
  void Reset();
  bool Process(float x);  // true when `Frequency` holds a new estimate
  // Process over a block: estimated[i] is what Process returned for x[i] and, where it
  // is true, estimates[i] the Frequency it left (elsewhere estimates[i] is not written).
  // Only a sample that differs from the one before it can be a sign change, so runs of
  // equal samples (a keeper's polarity holds for half a cycle) only advance the counts.
  void ProcessBlock(const float* x, int32_t n, bool* estimated, float* estimates);

  int32_t sampleRate = 0;    // Hz
  float last = 0;            // previous input
  int32_t risingCount = 0;   // samples since the last rising change
  int32_t fallingCount = 0;  // samples since the last falling change
  float Frequency = 0;       // Hz, after the median
  std::unique_ptr<tFastMedian> median;
  bool useMedian = false;
};

// Ring of the last 16 filed crossings with the area of the lobe that preceded each.
class tZCrossingList {
 public:
  static constexpr int32_t kSlots = 16;
  tZCrossingList();  // Create
  void Clear();
  void Add(int32_t Position, float Area);
  int32_t Best() const;  // position of the largest |area|, lower slot on ties; -1 if none

  int32_t newest = -1;  // slot of the last entry
  int32_t positions[kSlots];
  float areas[kSlots];
};

// Files the latest raw rising zero crossing each time a 1000 Hz low-passed copy of the
// input rises through zero, with the area of the filtered negative lobe just ended, and
// names the crossing with the largest lobe. Positions are the caller's ring positions.
class tZeroCrossingAnalyser {
 public:
  tZeroCrossingAnalyser();  // Create; the filter stays undesigned until SetSampleRate
  void SetSampleRate(int32_t SampleRate);
  void Reset();
  void ClearState();
  void ClearList(bool ResetState);
  int32_t BestRising() const { return rising.Best(); }
  void Process(int32_t Position, float x);
  // Process with the filter's output for x already computed (x as SaneSample gave it).
  void ProcessFiltered(int32_t Position, float x, float filtered);

  tZCrossingList rising;
  float area = 0;              // running sum of filtered samples since the last restart
  tFilter filter;              // 1000 Hz low-pass, Q 0.25
  // Interleaved so that the two floats written on every sample are stored apart (a joint
  // store would miss store forwarding when the next sample loads them).
  float lastFiltered = 0;
  int32_t risingPosition = -1;   // last raw rising crossing, -1 none
  float lastInput = 0;
  int32_t fallingPosition = -1;  // last raw falling crossing, -1 none
};

}  // namespace vm
