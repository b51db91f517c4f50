#include "analysis/PeakStepper.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/Numeric.h"
#include "analysis/SaneBlock.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VM_SCAN_SSE2 1
#endif

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

// n counted up `steps` times: saturates at the int32 maximum like CountUp.
int32_t CountUpBy(int32_t n, int32_t steps) {
  const int64_t sum = static_cast<int64_t>(n) + steps;
  return sum < std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(sum)
                                                   : std::numeric_limits<int32_t>::max();
}

constexpr int32_t kScanChunk = 256;  // samples per pass of the block scans (stack buffers)

// Bit j set when e[j + 1] is a candidate extreme between e[j] and e[j + 2]: above both and
// above zero, or below both and below zero (the tests of tExtremeDetector::Process).
uint32_t CandidateMask(const float* e) {
#ifdef VM_SCAN_SSE2
  const __m128 p = _mm_loadu_ps(e), c = _mm_loadu_ps(e + 1), x = _mm_loadu_ps(e + 2);
  const __m128 zero = _mm_setzero_ps();
  const __m128 peak = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(c, p), _mm_cmpgt_ps(c, x)),
                                 _mm_cmpgt_ps(c, zero));
  const __m128 trough = _mm_and_ps(_mm_and_ps(_mm_cmplt_ps(c, p), _mm_cmplt_ps(c, x)),
                                   _mm_cmplt_ps(c, zero));
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_or_ps(peak, trough)));
#else
  uint32_t mask = 0;
  for (int32_t j = 0; j < 4; ++j) {
    const float p = e[j], c = e[j + 1], x = e[j + 2];
    if ((c > p && c > x && c > 0.0f) || (c < p && c < x && c < 0.0f)) mask |= 1u << j;
  }
  return mask;
#endif
}

// Bit j set when x[j] differs from x[j - 1] (or either is NaN).
uint32_t ChangeMask(const float* x) {
#ifdef VM_SCAN_SSE2
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_cmpneq_ps(_mm_loadu_ps(x), _mm_loadu_ps(x - 1))));
#else
  uint32_t mask = 0;
  for (int32_t j = 0; j < 4; ++j)
    if (!(x[j] == x[j - 1])) mask |= 1u << j;
  return mask;
#endif
}
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

void tExtremeDetector::ProcessBlock(const float* x, float* states, int32_t n) {
  constexpr int32_t kShortestScan = 8;  // below, the scan's set-up costs more than the steps
  if (n < kShortestScan) {
    for (int32_t i = 0; i < n; ++i) states[i] = Process(x[i]);
    return;
  }
  for (int32_t start = 0; start < n; start += kScanChunk) {
    const int32_t length = std::min(kScanChunk, n - start);
    // e[0], e[1]: previous and current; e[2 + i]: the sane sample i; zeros after the end.
    float e[kScanChunk + 2 + 4];
    e[0] = previous;
    e[1] = current;
    SaneBlock(x + start, e + 2, length);
    std::fill(e + 2 + length, e + 2 + length + 4, 0.0f);
    float* const out = states + start;
    int32_t from = 0;  // out[from..) still to fill with State
    for (int32_t g = 0; g < length; g += 4) {
      uint32_t mask = CandidateMask(e + g);
      if (length - g < 4) mask &= (1u << (length - g)) - 1u;
      while (mask != 0) {
        const int32_t i = g + __builtin_ctz(mask);
        mask &= mask - 1u;
        std::fill(out + from, out + i, State);
        previous = e[i];
        current = e[i + 1];
        out[i] = Process(e[i + 2]);  // e[i + 2] is sane already; SaneSample keeps it
        from = i + 1;
      }
    }
    std::fill(out + from, out + length, State);
    previous = e[length];
    current = e[length + 1];
  }
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
  d.ProcessBlock(bandLimited, states, n);
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

void tCrossingDetector::ProcessBlock(const float* x, int32_t n, bool* estimated,
                                     float* estimates) {
  auto step = [&](int32_t i) {
    estimated[i] = Process(x[i]);
    if (estimated[i]) estimates[i] = Frequency;
  };
  if (n < 8) {  // short blocks: the scan's set-up costs more than the steps
    for (int32_t i = 0; i < n; ++i) step(i);
    return;
  }
  std::fill(estimated, estimated + n, false);
  step(0);  // against `last`, which holds the sane copy of the sample before
  int32_t stepped = 0;  // the last sample that took the step; those after it only count
  auto stepAt = [&](int32_t i) {
    const int32_t skipped = i - stepped - 1;  // equal samples: counts up, `last` unchanged
    risingCount = CountUpBy(risingCount, skipped);
    fallingCount = CountUpBy(fallingCount, skipped);
    step(i);
    stepped = i;
  };
  int32_t i = 1;
  for (; i + 4 <= n; i += 4) {
    uint32_t mask = ChangeMask(x + i);
    while (mask != 0) {
      stepAt(i + __builtin_ctz(mask));
      mask &= mask - 1u;
    }
  }
  for (; i < n; ++i)
    if (!(x[i] == x[i - 1])) stepAt(i);
  const int32_t skipped = n - 1 - stepped;
  risingCount = CountUpBy(risingCount, skipped);
  fallingCount = CountUpBy(fallingCount, skipped);
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
