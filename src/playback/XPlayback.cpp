#include "playback/XPlayback.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "analysis/FilterLanes.h"
#include "analysis/Numeric.h"

namespace vm {

namespace {
constexpr float kDenormalGuard = 1e-18f;  // added to input and output samples
constexpr int32_t kBaseRingLength = 32768;  // samples, doubled above 50 kHz, x4 above 100 kHz
constexpr int32_t kMedianLength = 5;        // estimates smoothed by the crossing detector
constexpr double kXfadeSeconds = 0.001 * 1.25;
constexpr double kRMSWindowSeconds = 0.001 * 2;
constexpr double kFadeSeconds = 0.001 * 10;
constexpr double kTimeoutPeriods = 2.0 / 75.0;  // two periods of 75 Hz, in seconds
constexpr int32_t kMinBoundaryGap = 2;          // samples: closer boundaries are dropped
constexpr float kHalfLowPassHz = 14000.0f;
constexpr float kDoubleLowPassHz = 9000.0f;
constexpr int32_t kMinRateHz = 1;
constexpr int32_t kMaxRateHz = 1000000;
}  // namespace

// ---- tCircBuffCyclePoints ----

void tCircBuffCyclePoints::Reset() {
  for (int32_t& p : Points) p = 0;
  Next = 0;
  Ready = false;
}

void tCircBuffCyclePoints::Add(int32_t Position) {
  if (Next == 1) Ready = true;
  Points[Next] = Position;
  Next = (Next + 1) & 3;
}

int32_t tCircBuffCyclePoints::DistanceFromLast(int32_t Position, int32_t RingLength) const {
  int32_t d = Position - CycleEnd();
  if (d < 0) d += RingLength;
  return d;
}

// ---- tPlaybackHead ----

tPlaybackHead::tPlaybackHead(bool XfadeEnabled) { Setup(0, 0, nullptr, XfadeEnabled); }

void tPlaybackHead::Setup(int32_t RingLength_, int32_t XfadeMax_, float* Buffer_,
                          bool XfadeEnabled_) {
  RingLength = RingLength_;
  XfadeMax = XfadeMax_;
  Buffer = Buffer_;
  XfadeEnabled = XfadeEnabled_;
  Reset();
}

void tPlaybackHead::Reset() {
  CycleStart = CycleEnd = CycleLength = ReadPos = Count = PrevEnd = XfadePos = XfadeLen = 0;
  Active = false;
  Muted = false;
}

void tPlaybackHead::SetXfadeLen() {
  XfadeLen = XfadeEnabled ? std::min(XfadeMax, CycleLength) : 0;
}

void tPlaybackHead::NextCycle(const tCircBuffCyclePoints& Points) {
  PrevEnd = CycleEnd;
  CycleStart = Points.CycleStart();
  CycleEnd = Points.CycleEnd();
  CycleLength = CycleEnd - CycleStart;
  if (CycleLength <= 0) CycleLength += RingLength;
  ReadPos = CycleStart;
  Active = true;
  Count = 0;
  // A cycle that follows straight on needs no blend.
  XfadePos = (PrevEnd == CycleStart && XfadeEnabled) ? XfadeMax : 0;
  SetXfadeLen();
}

void tPlaybackHead::RestartAt(int32_t Position, bool Muted_) {
  PrevEnd = CycleEnd;
  XfadePos = 0;
  SetXfadeLen();
  ReadPos = Position;
  Active = true;
  Muted = Muted_;
}

// ---- tRMSSilenceDetector ----

void tRMSSilenceDetector::Init(int32_t Length_) {
  int32_t n = 2;
  while (n < Length_ && n < kMaxLength) n *= 2;  // a power of two, 2..2048
  std::fill(std::begin(Window), std::end(Window), 0.0f);
  Length = static_cast<uint16_t>(n);
  Mask = static_cast<uint16_t>(n - 1);
  PerLength = 1.0f / static_cast<float>(n);
  Sum = 0.0f;
  Rebuild = 0.0;
  RMS = 0.0f;
  WritePos = 0;
  WasLoud = false;
}

void tRMSSilenceDetector::Process(float x) {
  x = SaneSample(x);
  // Length is a power of two: times its reciprocal is exactly the quotient.
  const float v = x * x * PerLength + kDenormalGuard;
  Sum = Sum + v - Window[WritePos];
  Window[WritePos] = v;
  RMS = Sum > 0.0f ? std::sqrt(Sum) + kDenormalGuard : 0.0f;
  BecameSilent = false;
  Silent = RMS < kThreshold;
  if (!Silent) {
    WasLoud = true;
  } else if (WasLoud) {
    BecameSilent = true;
    WasLoud = false;
  }
  WritePos = static_cast<uint16_t>((WritePos + 1) & Mask);
  // The add-and-subtract leaves float32 rounding residue in Sum that would accumulate over
  // a long session; once per window, rebuild it from the window itself (its entries were
  // written in index order since the last wrap, so Rebuild holds their sum).
  Rebuild += v;
  if (WritePos == 0) {
    Sum = static_cast<float>(Rebuild);
    Rebuild = 0.0;
  }
}

namespace {
// The largest mean square that Process calls silent: the RMS it computes, sqrt(sum) + guard
// rounded to float, grows monotonically with the sum, so RMS < threshold exactly when
// sum <= this value (found once by bisection over the positive floats' bit patterns).
const float kMaxSilentSum = [] {
  auto silent = [](float sum) {
    return std::sqrt(sum) + kDenormalGuard < tRMSSilenceDetector::kThreshold;
  };
  uint32_t low = 0, high = 0x7f800000u;  // silent(+0) holds, silent(+inf) does not
  while (high - low > 1) {
    const uint32_t middle = low + (high - low) / 2;
    float value;
    std::memcpy(&value, &middle, sizeof value);
    (silent(value) ? low : high) = middle;
  }
  float largest;
  std::memcpy(&largest, &low, sizeof largest);
  return largest;
}();
}  // namespace

// The same verdicts and fields as Process, sample by sample, with the running state in
// locals; the RMS itself is taken only after the last sample.
void tRMSSilenceDetector::ProcessBlock(const float* x, int32_t n, uint8_t* verdicts) {
  float sum = Sum;
  float lastSum = 0.0f;  // the newest sample's sum, before any rebuild
  double rebuild = Rebuild;
  uint32_t writePos = WritePos;
  bool wasLoud = WasLoud, silent = Silent, becameSilent = BecameSilent;
  const float perLength = PerLength;
  const uint32_t mask = Mask;
  for (int32_t i = 0; i < n; ++i) {
    const float s = SaneSample(x[i]);
    const float v = s * s * perLength + kDenormalGuard;
    sum = sum + v - Window[writePos];
    Window[writePos] = v;
    lastSum = sum;  // the RMS of this sample is sqrt(sum) + guard, or 0 when sum <= 0
    becameSilent = false;
    silent = !(sum > kMaxSilentSum);
    if (!silent) {
      wasLoud = true;
    } else if (wasLoud) {
      becameSilent = true;
      wasLoud = false;
    }
    verdicts[i] = static_cast<uint8_t>((silent ? kSilentBit : 0) | (becameSilent ? kBecameSilentBit : 0));
    writePos = (writePos + 1) & mask;
    rebuild += v;
    if (writePos == 0) {  // as in Process: the sum rebuilt once per window
      sum = static_cast<float>(rebuild);
      rebuild = 0.0;
    }
  }
  Rebuild = rebuild;
  if (n > 0) RMS = lastSum > 0.0f ? std::sqrt(lastSum) + kDenormalGuard : 0.0f;
  Sum = sum;
  WritePos = static_cast<uint16_t>(writePos);
  WasLoud = wasLoud;
  Silent = silent;
  BecameSilent = becameSilent;
}

// ---- tOctaver ----

tOctaver::tOctaver(int32_t SampleRate_, bool HalfOn_, bool DoubleOn_)
    : Keeper(SampleRate_), Crossing(SampleRate_, kMedianLength), HalfOn(HalfOn_),
      DoubleOn(DoubleOn_) {
  SetFloatControl();
  if (HalfOn) HalfHead = std::make_unique<tPlaybackHead>(true);
  if (DoubleOn) DoubleHead = std::make_unique<tPlaybackHead>(true);
  scratch = std::make_unique<tBlockScratch>();
  SetSampleRate(SampleRate_);
}

void tOctaver::ComputeLengths(int32_t fs) {
  XfadeMax = nearest(fs * kXfadeSeconds);
  const int32_t rmsTarget = nearest(fs * kRMSWindowSeconds);
  RMSWindow = 2;
  while ((RMSWindow < rmsTarget || RMSWindow < 4) && RMSWindow < tRMSSilenceDetector::kMaxLength)
    RMSWindow *= 2;
  FadeLen = std::max(1, nearest(fs * kFadeSeconds));  // at least 1: it divides the gain step
  GainStep = 1.0f / static_cast<float>(FadeLen);
  Timeout = nearest(fs * kTimeoutPeriods);
}

void tOctaver::AllocateRings(int32_t length) {
  // The new rings exist before the old ones go, so a failed allocation leaves the old
  // ones in place.
  std::vector<float> half(HalfOn ? length : 0, 0.0f);
  std::vector<float> dbl(DoubleOn ? length : 0, 0.0f);
  HalfRing.swap(half);
  DoubleRing.swap(dbl);
  RingLength = length;
  Mask = length - 1;
}

void tOctaver::SetSampleRate(int32_t fs) {
  SetFloatControl();
  fs = std::clamp(fs, kMinRateHz, kMaxRateHz);
  Keeper.SetSampleRate(fs);
  Crossing.SetSampleRate(fs);
  Period = 0;
  Countdown = -1;
  if (fs != SampleRate) {
    SampleRate = fs;
    ComputeLengths(fs);
    Silence.Init(RMSWindow);
    const int32_t factor = fs > 100000 ? 4 : (fs > 50000 ? 2 : 1);
    if (factor * kBaseRingLength != RingLength) AllocateRings(factor * kBaseRingLength);
    Reset();
    if (HalfOn) HalfHead->Setup(RingLength, XfadeMax, HalfRing.data(), true);
    if (DoubleOn) DoubleHead->Setup(RingLength, XfadeMax, DoubleRing.data(), true);
  }
  if (HalfOn && !HalfFilter) HalfFilter = std::make_unique<tFilter>();
  if (DoubleOn && !DoubleFilter) DoubleFilter = std::make_unique<tFilter>();
  if (HalfFilter) HalfFilter->Design(fs, fkLowPass, kHalfLowPassHz, 1.0f, 0.0f);
  if (DoubleFilter) DoubleFilter->Design(fs, fkLowPass, kDoubleLowPassHz, 1.0f, 0.0f);
}

void tOctaver::Reset() {
  SetFloatControl();
  std::fill(HalfRing.begin(), HalfRing.end(), 0.0f);
  std::fill(DoubleRing.begin(), DoubleRing.end(), 0.0f);
  CyclePoints.Reset();
  Crossing.Reset();
  Silence.Reset();
  Keeper.Reset();
  if (HalfHead) HalfHead->Reset();
  if (DoubleHead) DoubleHead->Reset();
  HalfOut = 0.0f;
  DoubleOut = 0.0f;
  WritePos = 0;
  PrevState = -0.1f;
  ForcedPos = -1;
}

bool tOctaver::DecideBoundary(int32_t p, bool edge) {
  bool boundary = false;
  if (!edge) {
    if (Period > 0) {
      Countdown = Countdown - 1;
      if (Countdown <= 0) {
        boundary = true;
        Countdown = Period;
      }
    } else {
      boundary = State >= 0.0f && PrevState < 0.0f;
    }
  }
  if (!boundary) boundary = p == ForcedPos;
  if (!boundary) boundary = edge;
  if (boundary && CyclePoints.HasPoint() &&
      CyclePoints.DistanceFromLast(p, RingLength) <= kMinBoundaryGap)
    boundary = false;
  return boundary;
}

// Crossfade from the old cycle's continuation (PrevEnd onwards) into the sample s.
float tOctaver::Blend(const std::vector<float>& ring, const tPlaybackHead& head, float s) const {
  if (head.XfadePos >= head.XfadeLen) return s;
  const float g = static_cast<float>(head.XfadePos) / static_cast<float>(head.XfadeLen);
  return g * s + kDenormalGuard + (1.0f - g) * ring[(head.PrevEnd + head.XfadePos) & Mask];
}

float tOctaver::StepHalf() {
  tPlaybackHead& h = *HalfHead;
  const float y = Blend(HalfRing, h, HalfRing[h.ReadPos]);
  h.Count = h.Count + 1;
  if (h.Count > 1) {  // every ring sample is played twice
    h.ReadPos = (h.ReadPos + 1) & Mask;
    h.XfadePos = h.XfadePos + 1;
    h.Count = 0;
  }
  if (h.ReadPos == h.CycleEnd && h.Active) h.NextCycle(CyclePoints);
  return y * Gain + kDenormalGuard;
}

void tOctaver::StepDouble() {
  tPlaybackHead& d = *DoubleHead;
  const float s = d.Muted ? 0.0f : DoubleRing[d.ReadPos];
  const float y = Blend(DoubleRing, d, s);
  d.ReadPos = (d.ReadPos + 2) & Mask;
  d.XfadePos = d.XfadePos + 2;
  int32_t restart = -1;  // ring position of the second pass, -1 = cycle end not reached
  if (d.ReadPos == d.CycleEnd) {
    restart = d.CycleStart;
  } else if (d.ReadPos == ((d.CycleEnd + 1) & Mask)) {
    restart = (d.CycleStart + 1) & Mask;  // the two-sample step overshot the end by one
  }
  if (restart >= 0) {
    d.Count = d.Count + 1;
    if (d.Count <= 1) {
      d.RestartAt(restart, Silence.Silent);
    } else {
      d.NextCycle(CyclePoints);
    }
  }
  DoubleOut = y * Gain + kDenormalGuard;
}

void tOctaver::Process(float x) {
  x = SaneSample(x) + kDenormalGuard;
  const float doubleFiltered = DoubleOn ? DoubleFilter->Process(x) : 0.0f;
  State = Keeper.Process(x);
  float halfPlayed = 0.0f;
  Advance(x, doubleFiltered, halfPlayed);
  if (HalfOn) HalfOut = HalfFilter->Process(halfPlayed);
}

// One sample after the filters of its input: x (sane, guarded), its 9000 Hz low-passed copy
// and the keeper's polarity in State. The half-speed sample is left for its low-pass.
void tOctaver::Advance(float x, float doubleFiltered, float& halfPlayed) {
  Silence.Process(x);
  const bool estimated = Crossing.Process(State);
  AdvanceHeard(x, doubleFiltered, halfPlayed, estimated, Crossing.Frequency);
}

// Advance with the silence detector's verdict on x already in Silence and the crossing
// detector's on State given.
void tOctaver::AdvanceHeard(float x, float doubleFiltered, float& halfPlayed, bool estimated,
                            float estimate) {
  const int32_t p = WritePos;
  if (HalfOn) HalfRing[p] = x;
  if (DoubleOn) DoubleRing[p] = doubleFiltered;
  const bool edge = Silence.BecameSilent;
  if (Silence.Silent) {
    Gain = Gain - GainStep;
    if (Gain < 0.0f) Gain = 0.0f;
  } else {
    Gain = 1.0f;
  }
  if (estimated) {
    Period = nearest(static_cast<double>(SampleRate) / estimate);
    if (Countdown < 0) Countdown = Period;
  }
  if (DecideBoundary(p, edge)) {
    CyclePoints.Add(p);
    ForcedPos = (p + Timeout) & Mask;
  }
  if (HalfHead && !HalfHead->Active && CyclePoints.Ready) HalfHead->NextCycle(CyclePoints);
  if (DoubleHead && !DoubleHead->Active && CyclePoints.Ready) DoubleHead->NextCycle(CyclePoints);
  PrevState = State;
  WritePos = (p + 1) & Mask;
  if (HalfOn) halfPlayed = StepHalf();
  if (DoubleOn) StepDouble();
}

// ---- tOctaver, block form ----

bool tOctaver::FiltersRunInBlocks() const {
  return Keeper.FiltersRunInBlocks() && (!DoubleOn || tBiquadRun::Handles(*DoubleFilter)) &&
         (!HalfOn || tBiquadRun::Handles(*HalfFilter));
}

void tOctaver::PrepareBlock(const float* in, int32_t n) {
  if (!scratch) return;
  tBlockScratch& b = *scratch;
  for (int32_t i = 0; i < n; ++i) {
    b.input[i] = SaneSample(in[i]) + kDenormalGuard;
    b.keeperInput[i] = tExtremeKeeper::FilterInput(b.input[i]);
  }
}

// The links of this octaver's filters for RunFilterChains; returns how many.
int32_t tOctaver::AddFilterLinks(tFilter** filters, const float** source, float** dest,
                                 int32_t* lag) {
  tBlockScratch& b = *scratch;
  int32_t count = 0;
  auto link = [&](tFilter* f, const float* from, float* to, int32_t behind) {
    filters[count] = f;
    source[count] = from;
    dest[count] = to;
    lag[count] = behind;
    ++count;
  };
  link(&Keeper.highPass, b.keeperInput, b.highPassed, 0);
  link(&Keeper.lowPass1, b.highPassed, b.lowPassed, 1);
  link(&Keeper.lowPass2, b.lowPassed, b.bandLimited, 2);
  if (DoubleOn) link(DoubleFilter.get(), b.input, b.doubleFiltered, 0);
  return count;
}

void tOctaver::FilterBlocks(tOctaver* first, tOctaver* second, int32_t n) {
  constexpr int32_t kMaxLinks = 8;
  tFilter* filters[kMaxLinks];
  const float* source[kMaxLinks];
  float* dest[kMaxLinks];
  int32_t lag[kMaxLinks];
  int32_t count = 0;
  for (tOctaver* o : {first, second})
    if (o && o->scratch) count += o->AddFilterLinks(filters + count, source + count, dest + count, lag + count);
  RunFilterSet(filters, source, dest, lag, count, n);
}

// The cycle logic sample by sample. The half-speed output's low-pass runs in the same loop:
// its serial recursion then overlaps the cycle logic of the samples around it instead of
// running alone after it (the same operations, so the same floats).
void tOctaver::FinishBlock(int32_t n, float* halfOut, float* doubleOut) {
  if (!scratch) return;
  tBlockScratch& b = *scratch;
  DetectBlock(b, n);
  if (HalfOn) {
    tBiquadRun lowPass(*HalfFilter);
    for (int32_t i = 0; i < n;) {
      const int32_t played = PlayFrom(i, n, b.halfPlayed, doubleOut);
      for (int32_t k = i; k < i + played; ++k) halfOut[k] = lowPass.Step(b.halfPlayed[k]);
      i += played;
    }
    lowPass.Store(*HalfFilter);
    if (n > 0) HalfOut = halfOut[n - 1];
  } else {
    for (int32_t i = 0; i < n;) i += PlayFrom(i, n, b.halfPlayed, doubleOut);
    std::fill(halfOut, halfOut + n, HalfOut);
  }
}

void tOctaver::PlayBlock(int32_t n, float* halfPlayed, float* doubleOut) {
  if (!scratch) return;
  tBlockScratch& b = *scratch;
  DetectBlock(b, n);
  for (int32_t i = 0; i < n;) i += PlayFrom(i, n, halfPlayed, doubleOut);
}

void tOctaver::DetectBlock(tBlockScratch& b, int32_t n) {
  Keeper.Detect(b.bandLimited, b.states, n);
  Silence.ProcessBlock(b.input, n, b.silence);
  Crossing.ProcessBlock(b.states, n, b.estimated, b.estimates);
}

int32_t tOctaver::PlayFrom(int32_t i, int32_t n, float* halfPlayed, float* doubleOut) {
  const int32_t run = QuietRun(i, n);
  if (run > 0) {
    PlayQuietRun(i, run, halfPlayed, doubleOut);
    return run;
  }
  PlaySample(i, halfPlayed[i], doubleOut[i]);
  return 1;
}

int32_t tOctaver::QuietRun(int32_t i, int32_t n) const {
  if (n - i < 2) return 0;  // one sample: the plain step is as cheap
  if ((HalfHead && !HalfHead->Active) || (DoubleHead && !DoubleHead->Active)) return 0;
  int32_t run = n - i;
  if (ForcedPos >= 0) run = std::min(run, (ForcedPos - WritePos) & Mask);
  if (Period > 0) run = std::min(run, Countdown - 1);  // the countdown's boundary
  if (HalfOn) {
    // One ring step every second sample, the first after 2 - Count samples.
    const tPlaybackHead& h = *HalfHead;
    const int32_t toEnd = (h.CycleEnd - h.ReadPos) & Mask;
    if (toEnd == 0 || h.Count < 0 || h.Count > 1) return 0;
    run = std::min(run, 2 * toEnd - 1 - h.Count);
  }
  if (DoubleOn) {
    // Two ring steps per sample: the end, or one past it, is reached after ceil(toEnd / 2).
    const tPlaybackHead& d = *DoubleHead;
    const int32_t toEnd = (d.CycleEnd - d.ReadPos) & Mask;
    if (toEnd < 2) return 0;
    run = std::min(run, (toEnd + 1) / 2 - 1);
  }
  if (run <= 0) return 0;
  const tBlockScratch& b = *scratch;
  float previous = PrevState;  // without an estimate, a rising flip files a boundary
  for (int32_t k = 0; k < run; ++k) {
    const int32_t j = i + k;
    const float state = b.states[j];
    if (b.silence[j] != 0 || b.estimated[j] || (Period <= 0 && state >= 0.0f && previous < 0.0f))
      return k;
    previous = state;
  }
  return run;
}

void tOctaver::PlayQuietRun(int32_t i, int32_t run, float* halfPlayed, float* doubleOut) {
  const tBlockScratch& b = *scratch;
  Gain = 1.0f;  // heard samples
  for (int32_t j = i; j < i + run; ++j) {
    const int32_t p = WritePos;
    if (HalfOn) HalfRing[p] = b.input[j];
    if (DoubleOn) DoubleRing[p] = b.doubleFiltered[j];
    WritePos = (p + 1) & Mask;
    if (HalfOn) {
      tPlaybackHead& h = *HalfHead;
      const float y = Blend(HalfRing, h, HalfRing[h.ReadPos]);
      h.Count = h.Count + 1;
      if (h.Count > 1) {
        h.ReadPos = (h.ReadPos + 1) & Mask;
        h.XfadePos = h.XfadePos + 1;
        h.Count = 0;
      }
      halfPlayed[j] = y * Gain + kDenormalGuard;
    }
    if (DoubleOn) {
      tPlaybackHead& d = *DoubleHead;
      const float s = d.Muted ? 0.0f : DoubleRing[d.ReadPos];
      const float y = Blend(DoubleRing, d, s);
      d.ReadPos = (d.ReadPos + 2) & Mask;
      d.XfadePos = d.XfadePos + 2;
      DoubleOut = y * Gain + kDenormalGuard;
    }
    doubleOut[j] = DoubleOut;
  }
  if (Period > 0) Countdown = Countdown - run;
  State = PrevState = b.states[i + run - 1];
  Silence.Silent = false;
  Silence.BecameSilent = false;
}

// Sample i of the block after its detectors ran over the whole block.
void tOctaver::PlaySample(int32_t i, float& halfPlayed, float& doubleOut) {
  const tBlockScratch& b = *scratch;
  State = b.states[i];
  Silence.Silent = (b.silence[i] & tRMSSilenceDetector::kSilentBit) != 0;
  Silence.BecameSilent = (b.silence[i] & tRMSSilenceDetector::kBecameSilentBit) != 0;
  AdvanceHeard(b.input[i], b.doubleFiltered[i], halfPlayed, b.estimated[i], b.estimates[i]);
  doubleOut = DoubleOut;
}

int32_t tOctaver::AddOutputLink(const float* halfPlayed, float* halfOut, tFilter** filters,
                                const float** source, float** dest, int32_t* lag) {
  if (!HalfOn) return 0;
  filters[0] = HalfFilter.get();
  source[0] = halfPlayed;
  dest[0] = halfOut;
  lag[0] = 0;
  return 1;
}

void tOctaver::ProcessBlock(const float* in, int32_t n, float* halfOut, float* doubleOut) {
  const bool blocks = scratch && FiltersRunInBlocks();
  for (int32_t start = 0; start < n; start += kBlock) {
    const int32_t length = std::min(kBlock, n - start);
    if (!blocks) {
      for (int32_t i = start; i < start + length; ++i) {
        Process(in[i]);
        halfOut[i] = HalfOut;
        doubleOut[i] = DoubleOut;
      }
      continue;
    }
    PrepareBlock(in + start, length);
    FilterBlocks(this, nullptr, length);
    FinishBlock(length, halfOut + start, doubleOut + start);
  }
}

}  // namespace vm
