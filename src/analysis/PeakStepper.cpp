#include "analysis/PeakStepper.h"

#include <cmath>
#include <limits>

#include "analysis/Numeric.h"

namespace vm {

namespace {
constexpr float kMinFrequencyHz = 40.0f;  // estimates at or below this are dropped
constexpr float kKeeperDecay = 0.65f;     // threshold shrink per candidate
// 0.9 x 60 Hz and 5 x 60 Hz: the band of a sung fundamental.
constexpr float kKeeperHighPassHz = 54.0f;
constexpr float kKeeperLowPassHz = 300.0f;
constexpr float kKeeperQ = 0.5f;
constexpr float kAnalyserLowPassHz = 1000.0f;
constexpr float kAnalyserQ = 0.25f;

int32_t CountUp(int32_t n) { return n < std::numeric_limits<int32_t>::max() ? n + 1 : n; }
}  // namespace

// ---- tExtremeDetector ----

tExtremeDetector::tExtremeDetector(bool Relative, float Decay) : relative(Relative), decay(Decay) {
  Reset();
}

void tExtremeDetector::Reset() {
  SetFloatControl();
  current = previous = State = lastPeak = lastTrough = peakThreshold = troughThreshold = 0.0f;
}

float tExtremeDetector::Process(float x) {
  x = SaneSample(x);
  if (current > previous && current > x && current > 0.0f) {
    const float v = relative ? current - lastTrough : current;
    peakThreshold = peakThreshold * decay;
    if (v > peakThreshold) {
      peakThreshold = v;
      lastPeak = current;
      State = 1.0f;
    }
  } else if (current < previous && current < x && current < 0.0f) {
    const float v = relative ? current - lastPeak : current;
    troughThreshold = troughThreshold * decay;
    if (v < troughThreshold) {
      troughThreshold = v;
      lastTrough = current;
      State = -1.0f;
    }
  }
  previous = current;
  current = x;
  return State;
}

// ---- tExtremeKeeper ----

tExtremeKeeper::tExtremeKeeper(int32_t SampleRate) : detector(false, kKeeperDecay) {
  SetSampleRate(SampleRate);
}

void tExtremeKeeper::SetSampleRate(int32_t SampleRate) {
  Configure(SampleRate, kKeeperHighPassHz, kKeeperQ, kKeeperLowPassHz, kKeeperQ);
}

void tExtremeKeeper::Configure(int32_t SampleRate, float HighPassFreq, float HighPassQ,
                               float LowPassFreq, float LowPassQ) {
  SetFloatControl();
  sampleRate = SampleRate;
  highPass.Design(SampleRate, fkHighPass, HighPassFreq, HighPassQ, 0.0f);
  lowPass1.Design(SampleRate, fkLowPass, LowPassFreq, LowPassQ, 0.0f);
  lowPass2.Design(SampleRate, fkLowPass, LowPassFreq, LowPassQ, 0.0f);
}

// Re-applying the unchanged design keeps the memories and the detector: a restart of the
// holder does not lose the polarity.
void tExtremeKeeper::Reset() { SetSampleRate(sampleRate); }

float tExtremeKeeper::Process(float x) {
  float v = FilterInput(x);
  v = highPass.Process(v);
  v = lowPass1.Process(v);
  v = lowPass2.Process(v);
  return detector.Process(v);
}

void tExtremeKeeper::Detect(const float* bandLimited, float* states, int32_t n) {
  tExtremeDetector d = detector;  // a local copy: its fields stay in registers
  for (int32_t i = 0; i < n; ++i) states[i] = d.Process(bandLimited[i]);
  detector = d;
}

// ---- tCrossingDetector ----

tCrossingDetector::tCrossingDetector(int32_t SampleRate, int32_t MedianLength) {
  SetFloatControl();
  if (MedianLength != 0) median = std::make_unique<tFastMedian>(MedianLength);
  useMedian = median != nullptr;
  SetSampleRate(SampleRate);
}

void tCrossingDetector::SetSampleRate(int32_t SampleRate) {
  SetFloatControl();
  sampleRate = SampleRate;
  last = 0.0f;
  risingCount = 0;
  fallingCount = 0;
  Frequency = 0.0f;
}

void tCrossingDetector::Reset() { SetSampleRate(sampleRate); }

bool tCrossingDetector::Process(float x) {
  x = SaneSample(x);
  const bool rising = x >= 0.0f && last < 0.0f;
  const bool falling = x <= 0.0f && last > 0.0f;
  last = x;
  risingCount = CountUp(risingCount);
  fallingCount = CountUp(fallingCount);
  bool accepted = false;
  float estimate = 0.0f;  // Hz
  if (rising && risingCount > 0) {
    estimate = static_cast<float>(sampleRate) / static_cast<float>(risingCount);
    risingCount = 0;
    accepted = true;
  }
  if (falling && fallingCount > 0) {
    estimate = static_cast<float>(sampleRate) / static_cast<float>(fallingCount);
    fallingCount = 0;
    accepted = true;
  }
  if (!accepted || !(estimate > kMinFrequencyHz)) return false;
  Frequency = useMedian ? median->Process(estimate) : estimate;
  return true;
}

// ---- tZCrossingList ----

tZCrossingList::tZCrossingList() { Clear(); }

void tZCrossingList::Clear() {
  newest = -1;
  for (int32_t i = 0; i < kSlots; ++i) {
    positions[i] = -1;
    areas[i] = 0.0f;
  }
}

void tZCrossingList::Add(int32_t Position, float Area) {
  newest = (newest + 1) & (kSlots - 1);
  positions[newest] = Position;
  areas[newest] = Area;
}

int32_t tZCrossingList::Best() const {
  float best = -1.0f;
  int32_t result = -1;
  for (int32_t i = 0; i < kSlots; ++i) {
    const float magnitude = std::fabs(areas[i]);
    if (magnitude > best) {
      best = magnitude;
      result = positions[i];
    }
  }
  return result;
}

// ---- tZeroCrossingAnalyser ----

tZeroCrossingAnalyser::tZeroCrossingAnalyser() { Reset(); }

void tZeroCrossingAnalyser::SetSampleRate(int32_t SampleRate) {
  SetFloatControl();
  filter.Design(SampleRate, fkLowPass, kAnalyserLowPassHz, kAnalyserQ, 0.0f);
}

void tZeroCrossingAnalyser::Reset() {
  SetFloatControl();
  ClearState();
  rising.Clear();
  filter.Reset();
}

void tZeroCrossingAnalyser::ClearState() {
  area = 0.0f;
  lastFiltered = 0.0f;
  lastInput = 0.0f;
  risingPosition = -1;
  fallingPosition = -1;
}

void tZeroCrossingAnalyser::ClearList(bool ResetState) {
  if (ResetState) ClearState();
  rising.Clear();
}

void tZeroCrossingAnalyser::Process(int32_t Position, float x) {
  x = SaneSample(x);
  ProcessFiltered(Position, x, filter.Process(x));
}

void tZeroCrossingAnalyser::ProcessFiltered(int32_t Position, float x, float y) {
  if (x > 0.0f && lastInput <= 0.0f) {
    risingPosition = Position;
  } else if (x < 0.0f && lastInput >= 0.0f) {
    fallingPosition = Position;
  }
  if (y > 0.0f && lastFiltered <= 0.0f && risingPosition >= 0) {
    rising.Add(risingPosition, area);
    area = 0.0f;
  } else if (y < 0.0f && lastFiltered >= 0.0f && fallingPosition >= 0) {
    area = 0.0f;
  }
  lastFiltered = y;
  lastInput = x;
  area = area + y;
  // A lobe that never ends (a stuck DC input) must not grow to infinity.
  if (!std::isfinite(area) || std::fabs(area) > 1e30f) area = 0.0f;
}

}  // namespace vm
