// Cycle playback: the ring positions of the last cycle boundaries, a head that plays one
// cycle of a sample ring at a time with a crossfade into the next, a short-term RMS
// silence detector, and the octaver that replays cycles at half and double speed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/Filters.h"
#include "analysis/PeakStepper.h"

namespace vm {

// The last four cycle boundaries, as positions in the owner's ring. The newest two bound
// the latest complete cycle.
class tCircBuffCyclePoints {
 public:
  tCircBuffCyclePoints() { Reset(); }  // Create
  void Reset();
  void Add(int32_t Position);
  bool HasPoint() const { return Ready || Next == 1; }
  // Forward distance around the ring (samples) from the newest boundary to Position.
  int32_t DistanceFromLast(int32_t Position, int32_t RingLength) const;
  int32_t CycleStart() const { return Points[(Next + 2) & 3]; }
  int32_t CycleEnd() const { return Points[(Next + 3) & 3]; }

  int32_t Points[4];
  int32_t Next = 0;    // slot of the next Add
  bool Ready = false;  // a complete cycle exists (second Add since Reset)
};

// Walks through one cycle [CycleStart, CycleEnd) of its owner's ring. The owner advances
// ReadPos and calls NextCycle or RestartAt when the cycle is played; a change of cycle
// blends from the old cycle's continuation over XfadeLen ring samples.
class tPlaybackHead {
 public:
  explicit tPlaybackHead(bool XfadeEnabled);  // Create
  void Setup(int32_t RingLength, int32_t XfadeMax, float* Buffer, bool XfadeEnabled);
  void Reset();
  void NextCycle(const tCircBuffCyclePoints& Points);
  void RestartAt(int32_t Position, bool Muted);

  int32_t CycleStart = 0;   // ring position
  int32_t CycleEnd = 0;     // ring position, exclusive
  int32_t CycleLength = 0;  // samples
  int32_t ReadPos = 0;      // ring position of the next sample to play
  bool Active = false;
  int32_t Count = 0;        // owner's step counter, zeroed by NextCycle
  int32_t PrevEnd = 0;      // CycleEnd of the cycle played before
  int32_t XfadePos = 0;     // ring samples into the crossfade
  int32_t XfadeLen = 0;     // ring samples, 0 = none
  bool Muted = false;       // the owner plays silence from this head
  float* Buffer = nullptr;  // the owner's ring, not owned
  int32_t RingLength = 0;   // samples in Buffer
  int32_t XfadeMax = 0;     // longest crossfade, ring samples
  bool XfadeEnabled = false;

 protected:
  void SetXfadeLen();
};

// Short-term RMS over a power-of-two window (2 to 2048 samples); reports silence below
// an RMS of 0.003 of full scale and flags the one sample on which the signal fell silent.
class tRMSSilenceDetector {
 public:
  static constexpr int32_t kMaxLength = 2048;  // samples
  static constexpr float kThreshold = 0.003f;  // RMS, linear full scale
  explicit tRMSSilenceDetector(int32_t Length) { Init(Length); }  // Create
  void Init(int32_t Length);  // Length: a power of two, 2..2048 (clamped into range)
  void Reset() { Init(Length); }
  void Process(float x);
  // Process over a block, keeping each sample's verdict: bit 0 Silent, bit 1 BecameSilent.
  // The fields end as after the last sample.
  static constexpr uint8_t kSilentBit = 1, kBecameSilentBit = 2;
  void ProcessBlock(const float* x, int32_t n, uint8_t* verdicts);

  float Window[kMaxLength];  // squared samples / Length
  float Sum = 0;             // mean square of the window
  // Window[0..WritePos) summed in double, in index order: when WritePos wraps this is the
  // whole window's exact sum that replaces Sum. Kept as the samples arrive, so that the
  // rebuild's serial additions overlap the running sum's instead of following them.
  double Rebuild = 0.0;
  uint16_t WritePos = 0;
  uint16_t Length = 2;
  uint16_t Mask = 1;
  float PerLength = 0.5f;    // 1 / Length
  bool WasLoud = false;
  bool Silent = false;
  bool BecameSilent = false;
  float RMS = 0;
};

// Transposes a monophonic signal an octave down and/or up without changing its duration:
// the input is cut into pitch cycles (one estimated period apart, or at peak-polarity
// flips before an estimate exists) and a half-speed head plays each cycle it takes twice
// as slowly, a double-speed head plays each cycle twice at double speed.
// SetSampleRate may reallocate the rings; its caller must not run Process meanwhile.
class tOctaver {
 public:
  tOctaver(int32_t SampleRate, bool HalfOn, bool DoubleOn);  // Create
  void SetSampleRate(int32_t SampleRate);
  void Reset();
  void Process(float x);

  // Block form: the same outputs as Process sample by sample (halfOut[i] and doubleOut[i]
  // are HalfOut and DoubleOut after sample i), with each filter run over the block so that
  // the serial recursions of independent filters overlap. ProcessBlock takes any count.
  // In steps, for up to kBlock samples: PrepareBlock stores the input, FilterBlocks runs
  // the band-limiting filters of one or two octavers side by side, FinishBlock plays.
  static constexpr int32_t kBlock = 256;  // samples
  void ProcessBlock(const float* in, int32_t n, float* halfOut, float* doubleOut);
  void PrepareBlock(const float* in, int32_t n);
  static void FilterBlocks(tOctaver* first, tOctaver* second, int32_t n);
  // This octaver's filters of the prepared block for RunFilterSet (as FilterBlocks runs
  // them): at most four; returns how many. Only while FiltersRunInBlocks().
  int32_t AddFilterLinks(tFilter** filters, const float** source, float** dest, int32_t* lag);
  bool FiltersRunInBlocks() const;
  // FinishBlock in two steps, so that the half-speed output's low-pass can run in a later
  // set of filters: PlayBlock leaves the half-speed samples before their low-pass in
  // halfPlayed (when HalfOn), AddOutputLink names that low-pass from halfPlayed to halfOut
  // (returns 0 or 1). The caller runs the links in block order and sets HalfOut.
  void PlayBlock(int32_t n, float* halfPlayed, float* doubleOut);
  int32_t AddOutputLink(const float* halfPlayed, float* halfOut, tFilter** filters,
                        const float** source, float** dest, int32_t* lag);
  void FinishBlock(int32_t n, float* halfOut, float* doubleOut);

  tExtremeKeeper Keeper;
  tCrossingDetector Crossing;
  int32_t Period = 0;      // samples; 0 = no estimate yet
  int32_t Countdown = -1;  // samples to the next periodic boundary; -1 = not started
  bool HalfOn;
  bool DoubleOn;
  std::vector<float> HalfRing;    // input samples
  std::vector<float> DoubleRing;  // input after the 9000 Hz low-pass
  int32_t SampleRate = 0;         // Hz
  int32_t RingLength = 0;         // samples
  int32_t Mask = 0;
  int32_t WritePos = 0;           // ring position of the next input sample
  int32_t Timeout = 0;            // samples: longest stretch without a boundary
  int32_t ForcedPos = -1;         // ring position of a forced boundary; -1 none
  int32_t RMSWindow = 0;          // samples
  int32_t FadeLen = 0;            // samples of the fade-out in silence
  float GainStep = 1.0f;          // 1 / FadeLen: gain lost per silent sample
  int32_t XfadeMax = 0;           // samples: longest crossfade of both heads
  float PrevState = -0.1f;
  tCircBuffCyclePoints CyclePoints;
  tRMSSilenceDetector Silence{2};
  float Gain = 0;                 // 0..1
  float HalfOut = 0;
  float DoubleOut = 0;
  float State = 0;                // keeper polarity of the current sample
  std::unique_ptr<tPlaybackHead> HalfHead;
  std::unique_ptr<tPlaybackHead> DoubleHead;
  std::unique_ptr<tFilter> HalfFilter;
  std::unique_ptr<tFilter> DoubleFilter;

 private:
  // One block's samples between the steps of the block form.
  struct tBlockScratch {
    float input[kBlock];         // after SaneSample and the guard, as Process stores it
    float keeperInput[kBlock];   // the keeper's filter input
    float highPassed[kBlock];    // the keeper's chain, link by link
    float lowPassed[kBlock];
    float bandLimited[kBlock];
    float states[kBlock];        // keeper polarity per sample
    float doubleFiltered[kBlock];  // input after the 9000 Hz low-pass
    float halfPlayed[kBlock];    // half-speed output before its 14000 Hz low-pass
    uint8_t silence[kBlock];     // the silence detector's verdicts
    bool estimated[kBlock];      // the crossing detector's new estimates of the states
    float estimates[kBlock];     // Hz, where estimated
  };
  void Advance(float x, float doubleFiltered, float& halfPlayed);
  // estimated: the crossing detector took State and left a new estimate, `estimate` (Hz).
  void AdvanceHeard(float x, float doubleFiltered, float& halfPlayed, bool estimated,
                    float estimate);
  void PlaySample(int32_t i, float& halfPlayed, float& doubleOut);  // block sample i
  // The block's detectors: extremes, silence and crossing estimates for the n samples.
  void DetectBlock(tBlockScratch& b, int32_t n);
  // Plays block samples from i on (at least one, at most n - i) into halfPlayed[] and
  // doubleOut[]; returns how many.
  int32_t PlayFrom(int32_t i, int32_t n, float* halfPlayed, float* doubleOut);
  // Samples from block sample i on in which AdvanceHeard would meet no silence, no new
  // estimate, no boundary, no idle head and no head at its cycle's end: the same steps
  // with those checks left out (PlayQuietRun).
  int32_t QuietRun(int32_t i, int32_t n) const;
  void PlayQuietRun(int32_t i, int32_t run, float* halfPlayed, float* doubleOut);
  void ComputeLengths(int32_t fs);
  void AllocateRings(int32_t length);
  bool DecideBoundary(int32_t p, bool edge);
  float Blend(const std::vector<float>& ring, const tPlaybackHead& head, float s) const;
  float StepHalf();  // the half-speed sample before its low-pass
  void StepDouble();

  std::unique_ptr<tBlockScratch> scratch;
};

}  // namespace vm
