// Finds the pitch cycles of the input and plays three copies of it at the input's own speed,
// each with its spectral envelope moved by its own factor: one per section (half-speed,
// unison, double-speed). Each completed cycle is transformed once; each active head
// rewrites that cycle in its own ring from the spectrum, then plays its ring cycle by cycle.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/Fourier.h"
#include "analysis/PeakStepper.h"
#include "playback/CycleResampler.h"
#include "playback/XPlayback.h"

namespace vm {

class tFormantShifter;

// A playback head of the shifter that rewrites each newly completed cycle of its ring with
// its formants moved by Ratio within the band [LowFactor * f0, HighHz], faded in and out.
class tFormantShiftedPlaybackHead : public tPlaybackHead {
 public:
  tFormantShiftedPlaybackHead(tFormantShifter& Owner, float Ratio, float LowFactor,
                              float HighHz, float FadeIn, float FadeOut);
  // Settings may be written by any thread while the audio thread rewrites cycles.
  void SetFormant(float Ratio, float LowFactor, float HighHz, float FadeIn, float FadeOut);
  // Sizes the work array (floats); off the audio thread.
  void EnsureWork(int32_t Count);
  // Rewrites [CycleStart, CycleEnd) of the ring from the owner's spectrum with the
  // current settings.
  void ShiftCycle(int32_t CycleStart, int32_t CycleEnd);
  // The same in two steps: Capture takes the settings when the cycle completes,
  // ShiftCaptured rewrites the cycle with them later (before the head plays it).
  void Capture();
  void ShiftCaptured(int32_t CycleStart, int32_t CycleEnd);

  tFormantShifter& Owner;
  std::atomic<float> Ratio{1.0f};      // > 1 moves formants up
  std::atomic<float> LowFactor{0.0f};  // band's lower edge, multiple of the cycle's f0
  std::atomic<float> HighHz{0.0f};     // band's upper edge, Hz
  std::atomic<float> FadeIn{0.0f};     // fraction of the band over which the shift fades in
  std::atomic<float> FadeOut{0.0f};    // fraction of the band where the fade-out starts
  std::vector<float> Shifted;          // working copy of the owner's spectrum, reshaped
                                       // then inverse-transformed

 private:
  struct tShape {
    float ratio = 1.0f, lowFactor = 0.0f, highHz = 0.0f, fadeIn = 0.0f, fadeOut = 0.0f;
  };
  void ReshapeBins(int32_t CycleLength);
  tShape captured;  // the settings of the cycle being rewritten
};

class tFormantShifter {
 public:
  explicit tFormantShifter(int32_t SampleRate);  // Create
  virtual ~tFormantShifter() = default;
  tFormantShifter(const tFormantShifter&) = delete;
  tFormantShifter& operator=(const tFormantShifter&) = delete;

  // Allocates; call only while no Process runs. No-op for an unchanged rate.
  void SetSampleRate(int32_t SampleRate);
  void Reset();
  void SetHalfHead(float Ratio, float LowFactor, float HighHz, float FadeIn, float FadeOut);
  void SetUnisonHead(float Ratio, float LowFactor, float HighHz, float FadeIn, float FadeOut);
  void SetDoubleHead(float Ratio, float LowFactor, float HighHz, float FadeIn, float FadeOut);
  void Process(float x);
  // Block form: the same outputs as Process sample by sample (half[i], unison[i], dbl[i]
  // are HalfOut, UnisonOut and DoubleOut after sample i), with the keeper's and the
  // analyser's filters run side by side over each block of up to kBlock samples.
  static constexpr int32_t kBlock = 256;  // samples
  void ProcessBlock(const float* in, int32_t n, float* half, float* unison, float* dbl);
  // The block form in steps, for up to kBlock samples, so that a caller can run this
  // block's filters beside other engines' filters (RunFilterSet): PrepareBlock stores the
  // filters' inputs, AddFilterLinks names the filters (returns how many), DetectBlock reads
  // the keeper's polarities from their outputs, PlayBlock runs the cycle logic and the heads.
  // A block may be prepared and filtered while the one before it is played no more:
  // PlayBlock(n) consumes what PrepareBlock stored, so the next PrepareBlock follows it.
  // Only while FiltersRunInBlocks().
  bool FiltersRunInBlocks() const;
  void PrepareBlock(const float* in, int32_t n);
  int32_t AddFilterLinks(tFilter** filters, const float** source, float** dest, int32_t* lag);
  void DetectBlock(int32_t n);
  void PlayBlock(int32_t n, float* half, float* unison, float* dbl);

  // Switches: plain fields, written by the engine on the audio thread before each block.
  bool HalfOn = true, UnisonOn = true, DoubleOn = true;
  tZeroCrossingAnalyser Analyser;
  std::vector<float> HalfRing, UnisonRing, DoubleRing;
  int32_t SampleRate = 0;  // Hz
  int32_t RingLength = 0;  // samples
  int32_t Mask = 0;
  int32_t WritePos = 0;
  int32_t Candidate = 0;
  int32_t Timeout = 0;     // longest stretch without a boundary, samples
  int32_t ForcedPos = -1;  // ring position of a forced boundary; -1 none
  float PrevState = -0.1f;
  tCircBuffCyclePoints CyclePoints;
  float HalfOut = 0, UnisonOut = 0, DoubleOut = 0;
  tCycleResampler Resampler;
  int32_t SpectrumSize = 0;   // N of the newest cycle
  int32_t SpectrumHalf = 0;   // N / 2
  std::vector<float> Spectrum;  // bins 0..N/2 as (re, im) pairs, N + 2 used
  int32_t SpectrumCapacity = 0;  // floats allocated in Spectrum (and each head's arrays)
  tTwiddleTable Twiddles;        // factors of every transform size a cycle can need
  int32_t MinCycle = 0;  // shortest accepted cycle, samples (exclusive)
  tExtremeKeeper Keeper;
  float State = 0;
  tFormantShiftedPlaybackHead HalfHead, UnisonHead, DoubleHead;

 private:
  struct tBlockScratch {
    float input[kBlock];        // as Process stores it in the rings
    float analyserInput[kBlock];
    float keeperInput[kBlock];
    float highPassed[kBlock];   // the keeper's chain, link by link
    float lowPassed[kBlock];
    float bandLimited[kBlock];
    float states[kBlock];       // keeper polarity per sample
    float analysed[kBlock];     // the analyser's low-passed input
  };
  static float RingInput(float x);
  void Advance(float x, float analyserInput, float analysed);
  void AnalyseCycle();
  bool DecideBoundary(int32_t p);
  void Step(tFormantShiftedPlaybackHead& head, const std::vector<float>& ring, float& out);
  // Samples from block sample i on (at most n - i) in which Advance would find no boundary,
  // start no head and let no head reach its cycle's end, and no head reads a ring position
  // written within them: PlayQuietRun then gives those samples Advance's results.
  int32_t QuietRun(int32_t i, int32_t n) const;
  void PlayQuietRun(int32_t i, int32_t run, float* half, float* unison, float* dbl);
  // A cycle's work in steps: the forward transform, then each head's rewrite. In the
  // block form the steps after the first run one per block, and all that remain before a
  // head moves into the cycle, another cycle completes, or the sample form runs; the rings
  // hold the same samples whenever a head reads them.
  bool HasPendingWork() const { return forwardPending || headsPending != 0; }
  bool RunPendingStep();  // false when nothing was pending
  void FinishPendingWork() {
    while (RunPendingStep()) {
    }
  }
  // The three heads in the order of headsPending's bits: half, unison, double.
  std::array<tFormantShiftedPlaybackHead*, 3> Heads() {
    return {&HalfHead, &UnisonHead, &DoubleHead};
  }
  std::array<const tFormantShiftedPlaybackHead*, 3> Heads() const {
    return {&HalfHead, &UnisonHead, &DoubleHead};
  }
  bool HeadReadsCycle(const tFormantShiftedPlaybackHead& head, int32_t start, int32_t length) const;
  bool CanDefer(int32_t start, int32_t end) const;

  std::unique_ptr<tBlockScratch> scratch = std::make_unique<tBlockScratch>();
  bool deferring = false;       // inside ProcessBlock: cycle work may wait
  bool forwardPending = false;  // the newest cycle still to transform
  uint8_t headsPending = 0;     // heads still to rewrite it: bit 0 half, 1 unison, 2 double
  int32_t pendingStart = 0, pendingEnd = 0;  // the cycle, ring positions
};

}  // namespace vm
