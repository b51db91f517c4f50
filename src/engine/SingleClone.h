// One synthetic voice of the ensemble. It reads a section ring at a fixed delay plus a
// vibrato offset that walks back and forth over a raised-cosine table (a delay
// modulation: full period about 2 * vibTurn samples, peak-to-peak swing `depth`
// samples), interpolates linearly between the two neighbouring ring samples, and weights
// the result with a slowly rising and falling level and two stereo gains.
//
// Threads: a voice belongs to the audio thread. Its set-up runs there between chunks; its
// table is sized off the audio thread (construction, SetSampleRate) for the slowest
// vibrato, so a set-up never allocates.
#pragma once

#include <array>
#include <cstdint>

#include "analysis/Numeric.h"
#include "analysis/Random.h"
#include "engine/VibratoTable.h"
#include "engine/VoiceTables.h"

namespace vm {

class tSingleClone;
// All voices side by side: the sample step touches every one of them each sample.
using tVoiceArray = std::array<tSingleClone, kMaxClones>;

// Which section ring a voice reads.
enum class tSection : int32_t { Unison = 0, Bass = 1, Alto = 2 };

// The three section rings as the voices see them: written backwards, so the sample written
// d samples ago sits at (writePos + d) & mask.
struct tSectionRings {
  const float* byId[3];  // indexed by tSection: unison, bass, alto
  int32_t mask;          // ring length - 1 (a power of two)
  const float* Ring(tSection section) const { return byId[static_cast<int32_t>(section)]; }
};

// Engine-wide values of one reconfiguration that the per-voice set-up needs.
struct tVoiceSetup {
  int32_t order;         // Section modulo 4: voice order A..D
  float levelNorm;       // 1.078 / sqrt(count)
  float lo;              // left edge of the stereo range, 0..1
  float width;           // width of the stereo range, 0..1
  int32_t count;         // clones sounding
  bool dynChanged;       // restart the level ramps
  float vibRateLogMin;   // log10 of the lowest vibrato rate in Hz
  float vibRateLogMax;   // log10 of the highest
  double vibRateBase;    // VibratoRateBase of these and VibRate (the same for every voice);
                         // 0: each voice works it out
  // The settings, already limited to their ranges.
  float Timing, VibDepth, VibRate, DynDepth, DynRate, Focus;
  bool VibRandom, DynRandom;
  int32_t Split;
};

// How many samples of one voice run at once between two turns of its walk and ramp: one
// (the sample step itself), eight in AVX2 registers, or eight with AVX-512's two-register
// permutation for the ring reads. All give the same bits. The widest that the processor
// and the system run is chosen when the library loads.
enum class tVoiceLanes : int32_t { One = 0, Avx2 = 1, Avx512 = 2 };
// Chooses another variant (tests and benchmarks, while no block runs); false, changing
// nothing, when the processor does not run it.
bool SetVoiceLanes(tVoiceLanes lanes);
tVoiceLanes VoiceLanes();

// Two voices of a previous set fading out over a chunk: each reads its ring at the chunk's
// ring positions plus its delay (readBase) plus its precomputed vibrato offsets, linearly
// interpolated, with fixed gains.
struct tFadingPair {
  const float* ring[2];
  const float* offsets[2];  // from the chunk's first sample on
  int32_t readBase[2];      // ring position of the chunk's first sample plus the delay
  float gainA[2], gainB[2];
  int32_t mask;             // ring length - 1
};
// Adds s1 gainA[0] + s2 gainA[1] to sumA[i] (and the same with gainB to sumB) for the
// samples i from 0 on in groups of eight, in the vector variant in use; returns the
// samples done (a multiple of eight; 0 when no variant runs). The operations are those of
// the sample-by-sample loop, so the sums have its bits.
int32_t AddFadingPair(const tFadingPair& pair, int32_t length, float* sumA, float* sumB);

// The vibrato rate in Hz before a voice's speed factor: 10^(logMin + (logMax - logMin) x
// vibRate), the range's logarithms and the VibRate setting as the voices hold them.
double VibratoRateBase(float logMin, float logMax, float vibRate);

class tSingleClone {
 public:
  explicit tSingleClone(float sampleRateHz = 44100.0f);  // Create; allocates its table

  // Recomputes vibrato table, walk start, delay and, when asked, the level ramp. The
  // restarted walk starts and turns on the new table: a first swing to the previous
  // turning point would read past the new half into what the table held for the previous
  // shape (at construction, a 0.65 Hz walk 19 ms deep), then jump back onto the new one.
  void Configure(bool resetDynamics);

  // The voice's part of the ensemble's reconfiguration, for voice `index`.
  void SetUp(int32_t index, const tVoiceSetup& setup);

  // Voice tables: speed factor and start phase of voice `index`.
  void InitVoiceTable(int32_t index);
  // Shares filled table segments with a voice of the same speed and depth factor.
  void JoinTwins(tSingleClone& other) { table.JoinTwins(other.table); }

  // One sample of voice `self`: adds its two weighted contributions to sumA and sumB.
  // Inline: this is the inner loop of the whole plug-in.
  inline void Step(int32_t self, const tSectionRings& rings, int32_t writePos, bool dynOn,
                   float dynDepth, const tVoiceArray& voices, float& sumA, float& sumB);

  // Runs samples from..to-1 of a chunk whose sample i sits at ring position
  // (firstPos - i) & mask, the same arithmetic as Step with the walk and ramp held in
  // registers; writes the voice's two contributions of sample i to contributionsA[i] and
  // contributionsB[i]. Stops before the first sample at which the voice would draw from
  // the random generator (vibrato bottom turn while borrowing, any ramp turn with random
  // ramps) and returns it, or returns `to`. With `adding` the contributions are added to
  // what the two arrays hold (the sums of the voices before it) instead.
  int32_t RunAhead(int32_t self, const tSectionRings& rings, int32_t firstPos, int32_t from,
                   int32_t to, bool dynOn, float dynDepth, const tVoiceArray& voices,
                   float* contributionsA, float* contributionsB, bool adding = false);

  // Adds the contributions of voices first, first + 1, .. over samples 0..length-1 of a
  // chunk (ring positions as for RunAhead) to the sums, voice after voice, as long as a
  // voice neither turns nor draws within the chunk; returns the first voice that would (or
  // count). The sums must hold those of the voices before `first`.
  static int32_t AddTurnFreeVoices(tVoiceArray& voices, int32_t first, int32_t count,
                                   const tSectionRings& rings, int32_t firstPos, int32_t length,
                                   bool dynOn, float* sumA, float* sumB);

  // The vibrato offsets of the next `count` samples as the walk would read them if it
  // turned at both ends without drawing (a voice that fades out draws nothing); the walk
  // itself does not move.
  void FadeOutOffsets(const tVoiceArray& voices, float* offsets, int32_t count) const;
  // The level the ramp gives at its present position (1 when the level does not move).
  float Level(bool dynOn) const;

  // Grows the table for the slowest vibrato at this rate (it never shrinks); never on the
  // audio thread. All sample counts of the voice use the rate from its next Configure on.
  void SetSampleRate(float rateHz);
  // Entries a table needs for the slowest vibrato at a rate.
  static int32_t TableEntriesFor(float rateHz);

  // Read-outs for the display, the tests and the vibrato borrowing of other voices.
  float SampleRate() const { return sampleRate; }
  int32_t Delay() const { return delay; }
  float GainLeft() const { return gainLeft; }
  float GainRight() const { return gainRight; }
  tSection Source() const { return source; }
  int32_t VibTurn() const { return vibTurn; }
  int32_t DynPeriod() const { return dynPeriod; }
  int32_t TableDepth() const { return table.Depth(); }
  float Speed() const { return speed; }
  float Phase() const { return phase; }
  float VibRateHz() const { return vibRateHz; }
  float Timing() const { return timing; }
  float VibDepthScaled() const { return vibDepth; }
  int32_t VibPos() const { return vibPos; }
  int32_t VibStep() const { return vibStep; }
  int32_t VibLen() const { return vibLen; }
  int32_t VibSource() const { return vibSource; }
  float VibScale() const { return vibScale; }
  bool VibRandom() const { return vibRandom; }
  int32_t DynPos() const { return dynPos; }
  int32_t DynLen() const { return dynLen; }
  float DynRise() const { return dynRise; }
  float DynDip() const { return dynDip; }
  const tVibratoTable& Table() const { return table; }

  // Log10 of the rate range; set by the owning effect before Configure.
  float vibRateLogMin = 0.0f;
  float vibRateLogMax = 0.0f;

 private:
  friend struct tVoiceLaneKernels;  // the vector loops over turn-free voices
  float ReadRing(int32_t self, const tSectionRings& rings, int32_t writePos,
                 const tVoiceArray& voices);
  float LevelStep(float dynDepth, const tVoiceArray& voices);
  // Fills the entries of `offsets` a walk from (pos, step, len) can read in `steps` steps.
  void PrepareWalk(const tVibratoTable& offsets, int32_t pos, int32_t step, int32_t len,
                   int32_t steps) const;
  // Sets walkFree and rampFree from the walk and ramp as they stand and prepares the
  // table entries the walk reads in the next walkFree samples; false when the walk (or,
  // with kDynOn, the ramp) turns within `length` samples.
  bool FindTurnFreeStretch(const tVoiceArray& voices, const tSectionRings& rings,
                           int32_t length, bool dynOn);
  void SetRampLength(int32_t samples) {
    dynLen = samples;
    dynLenInverse = samples > 0 ? 1.0f / static_cast<float>(samples) : 0.0f;
  }
  template <bool kDynOn, bool kBorrowing, bool kRandomRamps, bool kAdding>
  int32_t RunWalk(int32_t self, const tSectionRings& rings, int32_t firstPos, int32_t from,
                  int32_t to, float dynDepth, const tVoiceArray& voices, float* contributionsA,
                  float* contributionsB);

  // What the vector loop over turn-free voices reads, side by side. The run* fields are
  // set with walkFree and rampFree (FindTurnFreeStretch) and hold while those count: every
  // change of the walk's table, position, depth factor, ring or the ramp's dip zeroes the
  // counts first.
  int32_t walkFree = 0;
  int32_t rampFree = 0;
  int32_t vibPos = 0;             // position of the walk in the table
  int32_t vibStep = 1;            // +1 or -1
  int32_t dynPos = 0;             // 0..dynLen
  int32_t dynStep = 0;            // +1 or -1
  int32_t delay = 0;              // fixed read-back distance, samples
  tSection source = tSection::Unison;
  float gainLeft = 0.5f;
  float gainRight = 0.5f;
  float dynLenInverse = 0.0f;     // 1 / dynLen: the ramp position without a division
  float dynSpan = 0.0f;           // dynRise + dynDip
  float runScale = 1.0f;          // depth factor of the walk (1 on the voice's own table)
  float runFloor = 1.0f;          // 1 - dynDip
  const float* runEntries = nullptr;  // entries of the table the walk reads
  // First of the eight entries of the next sample's group: its first sample's entry
  // (walk up) or seven below it (walk down); moves on with vibPos.
  int32_t runGroup = 0;
  const float* runRing = nullptr;     // the section ring the voice reads

  float sampleRate;               // Hz; all sample counts of the voice use it
  float timing = 0.56f;           // delay control: 0 gives 1 ms, each unit adds 9 ms
  float speed = 0.65f;            // factor on vibrato rate and ramp length
  float vibRateHz = 0.0f;
  bool vibRandom = false;
  int32_t vibTurn = 0;            // turning point of its own walk: half period - 1
  float phase = 0.0f;             // start phase 0..1 of walk and ramp
  float dynRate = 0.0f;
  bool dynRandom = false;
  float dynRise = 0.0f;           // level rise above 1 at the top of a ramp
  float dynDip = 0.0f;            // level fall below 1 at the bottom, at most 1
  int32_t dynLen = 0;             // length of the ramp in progress, samples
  int32_t dynPeriod = 0;          // its own ramp length, samples
  float vibRate = 0.5f;           // VibRate setting 0..1
  float vibDepth = 0.5f;          // VibDepth scaled for this voice
  tVibratoTable table;            // offsets in samples, read by this voice and borrowers
  // VibratoRateBase for (vibRateLogMin, vibRateLogMax, vibRate) = rateBaseKey, when given.
  float rateBaseKey[3] = {-1.0f, -1.0f, -1.0f};
  double rateBase = 0.0;
  float vibScale = 0.0f;          // random depth factor of the walk in progress
  int32_t vibSource = 0;          // voice whose table the walk in progress reads
  int32_t vibLen = 0;             // turning point of the walk in progress
};

// ---- the sample step ----

inline float tSingleClone::ReadRing(int32_t self, const tSectionRings& rings,
                                    int32_t writePos, const tVoiceArray& voices) {
  const bool borrowing = vibRandom;
  walkFree = 0;
  int32_t step = vibStep;
  int32_t pos = vibPos + step;
  if (pos <= 0) {
    step = -step;
    pos = 0;
    if (borrowing) {
      vibScale = static_cast<float>(tRandom::Random() + 0.5);
      const int32_t lender = tRandom::RandomInt(kMaxClones);
      vibSource = lender;
      vibLen = voices[lender].vibTurn;
    } else {
      vibScale = 1.0f;
      vibSource = self;
      vibLen = vibTurn;
    }
  } else if (pos >= vibLen) {
    step = -step;
    pos = vibLen;
  }
  vibStep = step;
  vibPos = pos;

  const tVibratoTable& offsets = (borrowing ? voices[vibSource] : *this).table;
  // A walk turns at a half its table was built for, so the limit never bites; it keeps a
  // read inside the table whatever the settings.
  const int32_t entry = pos < offsets.Capacity() ? pos : offsets.Capacity() - 1;
  offsets.Prepare(entry, entry);
  const float tableOffset = offsets.Entries()[entry];
  const float off = borrowing ? vibScale * tableOffset : tableOffset;

  const int32_t ip = nearestInRange(off - 0.5f);
  const int32_t r0 = (writePos + delay + ip) & rings.mask;
  const int32_t r1 = (r0 + 1) & rings.mask;
  const float frac = off + 1e-23f - static_cast<float>(ip);
  const float* ring = rings.Ring(source);
  return ring[r0] + frac * (ring[r1] - ring[r0]);
}

inline float tSingleClone::LevelStep(float dynDepth, const tVoiceArray& voices) {
  rampFree = 0;
  int32_t step = dynStep;
  int32_t pos = dynPos + step;
  const bool randomRamps = dynRandom;
  if (pos <= 0) {
    step = -step;
    pos = 0;
    float depthFactor = 1.0f;
    if (randomRamps) {
      depthFactor = static_cast<float>(tRandom::Random() + 0.5);
      SetRampLength(voices[tRandom::RandomInt(kMaxClones)].dynPeriod);
    } else {
      SetRampLength(dynPeriod);
    }
    const float rise = 0.35f * depthFactor * dynDepth;
    float dip = randomRamps ? dynDip : 0.99f * depthFactor * dynDepth;
    if (dip > 1.0f) dip = 1.0f;
    dynRise = rise;
    dynDip = dip;
    dynSpan = rise + dip;
  } else if (pos >= dynLen) {
    step = -step;
    pos = dynLen;
    if (randomRamps) {
      float dip = 0.99f * static_cast<float>(tRandom::Random() + 0.5) * dynDepth;
      if (dip > 1.0f) dip = 1.0f;
      dynDip = dip;
      dynSpan = dynRise + dip;
    }
  }
  dynStep = step;
  dynPos = pos;
  const float ramp = static_cast<float>(pos) * dynLenInverse;
  return (1.0f - dynDip) + ramp * dynSpan;
}

inline void tSingleClone::Step(int32_t self, const tSectionRings& rings, int32_t writePos,
                               bool dynOn, float dynDepth, const tVoiceArray& voices,
                               float& sumA, float& sumB) {
  const float s = ReadRing(self, rings, writePos, voices);
  if (dynOn) {
    const float g = LevelStep(dynDepth, voices);
    // 1e-23 keeps the sums out of subnormal numbers when the ring is silent.
    sumA += (s + 1e-23f) * gainLeft * g;
    sumB += (s + 1e-23f) * gainRight * g;
  } else {
    sumA += 1e-23f + s * gainLeft;
    sumB += 1e-23f + s * gainRight;
  }
}

}  // namespace vm
