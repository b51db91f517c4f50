#include "playback/FormantShifter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/Fourier.h"
#include "analysis/Numeric.h"

namespace vm {
namespace {
constexpr int32_t kBaseRing = 32768;        // ring length at rates up to 50 kHz, samples
constexpr float kDenormalGuard = 1e-18f;    // keeps the rings away from denormals
constexpr double kTimeoutPerSecond = 2.0 / 75.0;  // longest cycle, s (26.7 ms, 37.5 Hz)
constexpr double kXfadeSeconds = 0.001 * 1.25;    // longest crossfade handed to the heads
constexpr double kMinCycleSeconds = 0.001;        // shortest accepted cycle (1 kHz)
constexpr double kFarBin = 1 << 30;  // beyond every spectrum's last bin, inside int32

// No NaN or infinity among the Count values; a branch-free pass the compiler can vectorise.
bool AllFinite(const float* values, int32_t count) {
  bool finite = true;
  for (int32_t i = 0; i < count; ++i)
    finite &= std::fabs(values[i]) <= std::numeric_limits<float>::max();  // false for NaN
  return finite;
}
}  // namespace

tFormantShiftedPlaybackHead::tFormantShiftedPlaybackHead(tFormantShifter& owner, float ratio,
                                                         float lowFactor, float highHz,
                                                         float fadeIn, float fadeOut)
    : tPlaybackHead(false), Owner(owner) {
  SetFormant(ratio, lowFactor, highHz, fadeIn, fadeOut);
}

void tFormantShiftedPlaybackHead::SetFormant(float ratio, float lowFactor, float highHz,
                                             float fadeIn, float fadeOut) {
  Ratio.store(ratio, std::memory_order_relaxed);
  LowFactor.store(lowFactor, std::memory_order_relaxed);
  HighHz.store(highHz, std::memory_order_relaxed);
  FadeIn.store(fadeIn, std::memory_order_relaxed);
  FadeOut.store(fadeOut, std::memory_order_relaxed);
}

void tFormantShiftedPlaybackHead::EnsureWork(int32_t count) {
  if (count <= static_cast<int32_t>(Shifted.size())) return;
  Shifted.assign(static_cast<size_t>(count), 0.0f);
}

void tFormantShiftedPlaybackHead::Capture() {
  captured.ratio = Ratio.load(std::memory_order_relaxed);
  captured.lowFactor = LowFactor.load(std::memory_order_relaxed);
  captured.highHz = HighHz.load(std::memory_order_relaxed);
  captured.fadeIn = FadeIn.load(std::memory_order_relaxed);
  captured.fadeOut = FadeOut.load(std::memory_order_relaxed);
}

void tFormantShiftedPlaybackHead::ReshapeBins(int32_t l) {
  const float ratio = captured.ratio;
  if (!(ratio > 0.0f) || !std::isfinite(ratio)) return;
  const int32_t n = Owner.SpectrumSize, h = Owner.SpectrumHalf;
  const float fs = static_cast<float>(Owner.SampleRate);
  const float f0 = fs / static_cast<float>(l);
  const float lo = f0 * captured.lowFactor;
  const float hi = captured.highHz;
  const float a = lo + (hi - lo) * captured.fadeIn;
  const float b = lo + (hi - lo) * captured.fadeOut;
  const float binHz = fs / static_cast<float>(n), cyclesPerBlock = static_cast<float>(l) / n;
  const std::vector<float>& unshifted = Owner.Spectrum;  // left alone while heads reshape
  for (int32_t i = 1; i <= h - 1; ++i) {
    const float f = static_cast<float>(i) * binHz / cyclesPerBlock;
    // f grows with i (rounding keeps that order), so past hi no later bin is in the band.
    if (f > hi) break;
    if (f < lo) continue;
    const float w = f < a ? (f - lo) / (a - lo) : f > b ? (hi - f) / (hi - b) : 1.0f;
    const double source = static_cast<double>(i) / ratio;  // source bin, before rounding
    // A source past any bin (a tiny ratio) takes the saturating conversion.
    const int32_t j = source < kFarBin ? nearestInRangeDouble(source) : nearest(source);
    if (j == i) continue;
    // A source beyond the last bin holds no energy: it contributes zero.
    const float re = j >= 0 && j <= h ? unshifted[2 * j] / ratio : 0.0f;
    const float im = j >= 0 && j <= h ? unshifted[2 * j + 1] / ratio : 0.0f;
    Shifted[2 * i] = w * re + (1.0f - w) * Shifted[2 * i];
    Shifted[2 * i + 1] = w * im + (1.0f - w) * Shifted[2 * i + 1];
  }
}

void tFormantShiftedPlaybackHead::ShiftCycle(int32_t s, int32_t e) {
  Capture();
  ShiftCaptured(s, e);
}

void tFormantShiftedPlaybackHead::ShiftCaptured(int32_t s, int32_t e) {
  const int32_t n = Owner.SpectrumSize, h = Owner.SpectrumHalf;
  if (n + 2 > static_cast<int32_t>(Shifted.size()) || Buffer == nullptr) return;
  std::copy(Owner.Spectrum.begin(), Owner.Spectrum.begin() + n + 2, Shifted.begin());
  ReshapeBins(tCycleResampler::CycleLength(Owner.RingLength, e, s));
  PackSpectrum(Shifted.data(), n);
  RealFFT(Shifted.data(), h, -1, Owner.Twiddles);
  // The inverse transform returns Half times the samples. Half is a power of two, so the
  // product with its reciprocal is exactly the quotient.
  const float perHalf = 1.0f / static_cast<float>(h);
  for (int32_t i = 0; i < n; ++i) Shifted[i] *= perHalf;
  // A cycle that came out non-finite keeps its unshifted samples in the ring.
  if (!AllFinite(Shifted.data(), n) || !Owner.Resampler.Load(Shifted.data(), n)) return;
  Owner.Resampler.ResampleOut(Buffer, RingLength, e, s);
}

tFormantShifter::tFormantShifter(int32_t sampleRate)
    : Keeper(sampleRate),
      HalfHead(*this, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f),
      UnisonHead(*this, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f),
      DoubleHead(*this, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f) {
  SetSampleRate(sampleRate);
}

void tFormantShifter::SetSampleRate(int32_t fs) {
  if (fs == SampleRate || fs <= 0) return;
  SampleRate = fs;
  const int32_t factor = fs > 100000 ? 4 : fs > 50000 ? 2 : 1;
  const int32_t xfadeMax = nearest(fs * kXfadeSeconds);
  Timeout = nearest(fs * kTimeoutPerSecond);
  MinCycle = nearest(fs * kMinCycleSeconds);
  if (factor * kBaseRing != RingLength) {
    RingLength = factor * kBaseRing;
    Mask = RingLength - 1;
    for (auto* ring : {&HalfRing, &UnisonRing, &DoubleRing})
      ring->assign(static_cast<size_t>(RingLength), 0.0f);
    // Every buffer sized here for the longest cycle a ring can hold, so that no cycle
    // makes Process allocate.
    SpectrumCapacity = RingLength + 2;
    Resampler.EnsureCapacity(SpectrumCapacity);
    Spectrum.assign(static_cast<size_t>(SpectrumCapacity), 0.0f);
    Twiddles.Build(RingLength / 2);  // blocks of up to RingLength samples
    for (auto* head : Heads()) head->EnsureWork(SpectrumCapacity);
  }
  Reset();
  HalfHead.Setup(RingLength, xfadeMax, HalfRing.data(), false);
  UnisonHead.Setup(RingLength, xfadeMax, UnisonRing.data(), false);
  DoubleHead.Setup(RingLength, xfadeMax, DoubleRing.data(), false);
  Analyser.SetSampleRate(fs);
}

void tFormantShifter::Reset() {
  for (auto* ring : {&HalfRing, &UnisonRing, &DoubleRing})
    std::fill(ring->begin(), ring->end(), 0.0f);
  CyclePoints.Reset();
  Analyser.Reset();
  Keeper.Reset();
  HalfHead.Reset();
  UnisonHead.Reset();
  DoubleHead.Reset();
  HalfOut = UnisonOut = DoubleOut = 0.0f;
  WritePos = 0;
  Candidate = 0;
  PrevState = -0.1f;
  ForcedPos = -1;
  forwardPending = false;
  headsPending = 0;
}

void tFormantShifter::SetHalfHead(float r, float l, float h, float i, float o) {
  HalfHead.SetFormant(r, l, h, i, o);
}
void tFormantShifter::SetUnisonHead(float r, float l, float h, float i, float o) {
  UnisonHead.SetFormant(r, l, h, i, o);
}
void tFormantShifter::SetDoubleHead(float r, float l, float h, float i, float o) {
  DoubleHead.SetFormant(r, l, h, i, o);
}

bool tFormantShifter::DecideBoundary(int32_t p) {
  bool found = false;
  if (State >= 0.0f && PrevState < 0.0f) {  // rising flip of the peak polarity
    const int32_t c = Analyser.BestRising();
    Analyser.ClearList(false);
    if (c >= 0) {
      Candidate = c;
      found = true;
    }
  }
  int32_t q = Candidate;
  if (!found) {
    found = p == ForcedPos;
    if (found) {
      q = p;
      Analyser.ClearList(true);
    }
  }
  if (found && CyclePoints.HasPoint() && CyclePoints.DistanceFromLast(q, RingLength) <= MinCycle)
    found = false;
  if (found) CyclePoints.Add(q);
  return found;
}

// The newest cycle's work: done at once, or left in steps when the block form may defer it.
void tFormantShifter::AnalyseCycle() {
  FinishPendingWork();  // the spectrum and the resampler serve one cycle at a time
  if (!CyclePoints.Ready) return;
  pendingStart = CyclePoints.CycleStart();
  pendingEnd = CyclePoints.CycleEnd();
  forwardPending = true;
  headsPending = static_cast<uint8_t>((HalfOn ? 1 : 0) | (UnisonOn ? 2 : 0) | (DoubleOn ? 4 : 0));
  const auto heads = Heads();
  for (int32_t k = 0; k < 3; ++k)
    if (headsPending & (1 << k)) heads[k]->Capture();
  RunPendingStep();
  if (!deferring || !CanDefer(pendingStart, pendingEnd)) FinishPendingWork();
}

// A head's reads before its next cycle, [ReadPos, CycleEnd), meet the ring span
// [start, start + length).
bool tFormantShifter::HeadReadsCycle(const tFormantShiftedPlaybackHead& head, int32_t start,
                                     int32_t length) const {
  if (!head.Active) return true;  // it takes the new cycle at once
  const int32_t remaining = (head.CycleEnd - head.ReadPos) & Mask;
  return ((head.ReadPos - start) & Mask) < length || ((start - head.ReadPos) & Mask) < remaining;
}

// The rewrite of [start, end) may wait while no head will read it before its next cycle and
// the input written meanwhile cannot wrap around the ring into it.
bool tFormantShifter::CanDefer(int32_t start, int32_t end) const {
  const int32_t length = tCycleResampler::CycleLength(RingLength, end, start);
  if (length > RingLength / 4) return false;
  const auto heads = Heads();
  for (int32_t k = 0; k < 3; ++k)
    if ((headsPending & (1 << k)) && HeadReadsCycle(*heads[k], start, length)) return false;
  return true;
}

bool tFormantShifter::RunPendingStep() {
  const int32_t s = pendingStart, e = pendingEnd;
  if (forwardPending) {
    forwardPending = false;
    if (!Resampler.ResampleIn(HalfRing.data(), RingLength, e, s) ||
        Resampler.Size + 2 > SpectrumCapacity) {
      headsPending = 0;  // no spectrum: the cycle keeps its samples
      return true;
    }
    const int32_t n = Resampler.Size;
    SpectrumSize = n;
    SpectrumHalf = n / 2;
    Resampler.CopyOut(Spectrum.data());
    RealFFT(Spectrum.data(), n / 2, +1, Twiddles);
    UnpackSpectrum(Spectrum.data(), n);
    return true;
  }
  const auto heads = Heads();
  for (int32_t k = 0; k < 3; ++k) {
    if (headsPending & (1 << k)) {
      headsPending = static_cast<uint8_t>(headsPending & ~(1 << k));
      heads[k]->ShiftCaptured(s, e);
      return true;
    }
  }
  return false;
}

void tFormantShifter::Step(tFormantShiftedPlaybackHead& head, const std::vector<float>& ring,
                           float& out) {
  out = ring[static_cast<size_t>(head.ReadPos)];
  head.ReadPos = (head.ReadPos + 1) & Mask;
  ++head.XfadePos;
  if (head.ReadPos == head.CycleEnd && head.Active) {
    FinishPendingWork();  // the next cycle may be the one still to rewrite
    head.NextCycle(CyclePoints);
  }
}

// Non-finite input is stored as silence so the rings and spectra recover at once.
float tFormantShifter::RingInput(float x) {
  return std::isfinite(x) ? x + kDenormalGuard : kDenormalGuard;
}

void tFormantShifter::Process(float x) {
  if (RingLength == 0) return;
  if (!deferring) FinishPendingWork();
  x = RingInput(x);
  State = Keeper.Process(x);
  const float sane = SaneSample(x);
  Advance(x, sane, Analyser.filter.Process(sane));
}

// One sample after the filters: x as stored, its sane copy and that copy low-passed for the
// analyser; the keeper's polarity in State.
void tFormantShifter::Advance(float x, float analyserInput, float analysed) {
  const int32_t p = WritePos;
  HalfRing[p] = UnisonRing[p] = DoubleRing[p] = x;
  Analyser.ProcessFiltered(p, analyserInput, analysed);
  if (DecideBoundary(p)) {
    ForcedPos = (p + Timeout) & Mask;
    AnalyseCycle();
  }
  for (auto* head : Heads())
    if (!head->Active && CyclePoints.Ready) {
      FinishPendingWork();
      head->NextCycle(CyclePoints);
    }
  PrevState = State;
  WritePos = (p + 1) & Mask;
  if (HalfOn) Step(HalfHead, HalfRing, HalfOut);
  if (UnisonOn) Step(UnisonHead, UnisonRing, UnisonOut);
  if (DoubleOn) Step(DoubleHead, DoubleRing, DoubleOut);
}

bool tFormantShifter::FiltersRunInBlocks() const {
  return Keeper.FiltersRunInBlocks() && tBiquadRun::Handles(Analyser.filter);
}

void tFormantShifter::PrepareBlock(const float* in, int32_t n) {
  tBlockScratch& b = *scratch;
  for (int32_t i = 0; i < n; ++i) {
    b.input[i] = RingInput(in[i]);
    b.keeperInput[i] = tExtremeKeeper::FilterInput(b.input[i]);
    b.analyserInput[i] = SaneSample(b.input[i]);
  }
}

// The keeper's three filters (a chain) and the analyser's low-pass beside them.
int32_t tFormantShifter::AddFilterLinks(tFilter** filters, const float** source, float** dest,
                                        int32_t* lag) {
  tBlockScratch& b = *scratch;
  tFilter* const links[] = {&Keeper.highPass, &Keeper.lowPass1, &Keeper.lowPass2,
                            &Analyser.filter};
  const float* const from[] = {b.keeperInput, b.highPassed, b.lowPassed, b.analyserInput};
  float* const to[] = {b.highPassed, b.lowPassed, b.bandLimited, b.analysed};
  const int32_t behind[] = {0, 1, 2, 0};
  for (int32_t k = 0; k < 4; ++k) {
    filters[k] = links[k];
    source[k] = from[k];
    dest[k] = to[k];
    lag[k] = behind[k];
  }
  return 4;
}

void tFormantShifter::DetectBlock(int32_t n) {
  tBlockScratch& b = *scratch;
  Keeper.Detect(b.bandLimited, b.states, n);
}

void tFormantShifter::PlayBlock(int32_t n, float* half, float* unison, float* dbl) {
  if (RingLength == 0) return;
  tBlockScratch& b = *scratch;
  deferring = true;
  RunPendingStep();  // a cycle's work spread over the blocks after it
  for (int32_t i = 0; i < n;) {
    const int32_t run = QuietRun(i, n);
    if (run > 0) {
      PlayQuietRun(i, run, half, unison, dbl);
      i += run;
      continue;
    }
    State = b.states[i];
    Advance(b.input[i], b.analyserInput[i], b.analysed[i]);
    half[i] = HalfOut;
    unison[i] = UnisonOut;
    dbl[i] = DoubleOut;
    ++i;
  }
  deferring = false;
}

int32_t tFormantShifter::QuietRun(int32_t i, int32_t n) const {
  if (n - i < 2) return 0;  // one sample: the plain step is as cheap
  const tBlockScratch& b = *scratch;
  int32_t run = n - i;
  // A forced boundary at the sample that writes ForcedPos (never, for -1).
  if (ForcedPos >= 0) run = std::min(run, (ForcedPos - WritePos) & Mask);
  const auto heads = Heads();
  const bool on[] = {HalfOn, UnisonOn, DoubleOn};
  for (int32_t k = 0; k < 3 && run > 0; ++k) {
    const tFormantShiftedPlaybackHead& head = *heads[k];
    if (!head.Active) return 0;  // started, or reading beside the writes, sample by sample
    if (!on[k]) continue;        // it does not move
    int32_t toEnd = (head.CycleEnd - head.ReadPos) & Mask;  // steps until it reaches the end
    if (toEnd == 0) toEnd = RingLength;
    run = std::min(run, toEnd - 1);
    // The run writes [WritePos, WritePos + run) before the head reads [ReadPos, ReadPos + run):
    // the two spans must not meet.
    if (((head.ReadPos - WritePos) & Mask) < run || ((WritePos - head.ReadPos) & Mask) < run)
      return 0;
  }
  float previous = PrevState;  // a rising flip of the polarity may file a boundary
  for (int32_t k = 0; k < run; ++k) {
    const float state = b.states[i + k];
    if (state >= 0.0f && previous < 0.0f) return k;
    previous = state;
  }
  return run;
}

void tFormantShifter::PlayQuietRun(int32_t i, int32_t run, float* half, float* unison,
                                   float* dbl) {
  const tBlockScratch& b = *scratch;
  for (int32_t k = 0; k < run; ++k) {
    const int32_t p = (WritePos + k) & Mask;
    HalfRing[p] = UnisonRing[p] = DoubleRing[p] = b.input[i + k];
    Analyser.ProcessFiltered(p, b.analyserInput[i + k], b.analysed[i + k]);
  }
  WritePos = (WritePos + run) & Mask;
  State = PrevState = b.states[i + run - 1];
  auto play = [&](tFormantShiftedPlaybackHead& head, const std::vector<float>& ring, bool on,
                  float* out, float& last) {
    if (!on) {
      std::fill(out + i, out + i + run, last);
      return;
    }
    for (int32_t k = 0; k < run; ++k) out[i + k] = ring[static_cast<size_t>((head.ReadPos + k) & Mask)];
    head.ReadPos = (head.ReadPos + run) & Mask;
    head.XfadePos += run;
    last = out[i + run - 1];
  };
  play(HalfHead, HalfRing, HalfOn, half, HalfOut);
  play(UnisonHead, UnisonRing, UnisonOn, unison, UnisonOut);
  play(DoubleHead, DoubleRing, DoubleOn, dbl, DoubleOut);
}

void tFormantShifter::ProcessBlock(const float* in, int32_t n, float* half, float* unison,
                                   float* dbl) {
  if (RingLength == 0) return;
  const bool blocks = FiltersRunInBlocks();
  for (int32_t start = 0; start < n; start += kBlock) {
    const int32_t length = std::min(kBlock, n - start);
    if (blocks) {
      PrepareBlock(in + start, length);
      tFilter* filters[4];
      const float* source[4];
      float* dest[4];
      int32_t lag[4];
      AddFilterLinks(filters, source, dest, lag);
      RunFilterChains<4>(filters, source, dest, lag, length);
      DetectBlock(length);
      PlayBlock(length, half + start, unison + start, dbl + start);
      continue;
    }
    deferring = true;
    RunPendingStep();
    for (int32_t i = start; i < start + length; ++i) {
      Process(in[i]);
      half[i] = HalfOut;
      unison[i] = UnisonOut;
      dbl[i] = DoubleOut;
    }
    deferring = false;
  }
}

}  // namespace vm
