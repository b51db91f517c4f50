// One synthetic voice of the ensemble. It reads a section ring at a fixed delay plus a
// vibrato offset that walks back and forth over a raised-cosine table (a delay
// modulation: full period about 2 * vibTurn samples, peak-to-peak swing `depth`
// samples), interpolates linearly between the two neighbouring ring samples, and weights
// the result with a slowly rising and falling level and two stereo gains.
//
// Threads: Configure and the per-voice set-up run on a parameter thread while the sample
// step runs on the audio thread. Every field both touch is a Relaxed atomic; the vibrato
// tables are arrays of atomics and are never freed while the audio thread may read them
// (a table that has to grow is retired, and released only by ReleaseRetiredTables, which
// the owner calls while no block runs).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/Numeric.h"
#include "analysis/Random.h"
#include "engine/Relaxed.h"
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

// Engine-wide values of one Reconfigure that the per-voice set-up needs.
struct tVoiceSetup {
  int32_t order;         // Section modulo 4: voice order A..D
  float levelNorm;       // 1.078 / sqrt(count)
  float lo;              // left edge of the stereo range, 0..1
  float width;           // width of the stereo range, 0..1
  int32_t count;         // clones sounding
  bool dynChanged;       // restart the level ramps
  float vibRateLogMin;   // log10 of the lowest vibrato rate in Hz
  float vibRateLogMax;   // log10 of the highest
  // The settings, already limited to their ranges.
  float Timing, VibDepth, VibRate, DynDepth, DynRate, Focus;
  bool VibRandom, DynRandom;
  int32_t Split;
};

// Raised-cosine offsets in samples, indexes 0..half; grows, never shrinks.
struct tVibTable {
  explicit tVibTable(int32_t entries)
      : capacity(entries), offsets(std::make_unique<std::atomic<float>[]>(entries)) {}
  const int32_t capacity;
  const std::unique_ptr<std::atomic<float>[]> offsets;
};

class tSingleClone {
 public:
  explicit tSingleClone(float sampleRateHz = 44100.0f);  // Create

  // Recomputes vibrato table, walk start, delay and, when asked, the level ramp.
  void Configure(bool resetDynamics);

  // The voice's part of the effect's Reconfigure, for voice `index`.
  void SetUp(int32_t index, const tVoiceSetup& setup);

  // Voice tables: speed factor and start phase of voice `index`.
  void InitVoiceTable(int32_t index);

  // One sample of voice `self`: adds its two weighted contributions to sumA and sumB.
  // Inline: this is the inner loop of the whole plug-in.
  inline void Step(int32_t self, const tSectionRings& rings, int32_t writePos, bool dynOn,
                   float dynDepth, const tVoiceArray& voices, float& sumA, float& sumB);

  // Runs samples from..to-1 of a chunk whose sample i sits at ring position
  // (firstPos - i) & mask, the same arithmetic as Step with the walk and ramp held in
  // registers; writes the voice's two contributions of sample i to contributionsA[i] and
  // contributionsB[i]. Stops before the first sample at which the voice would draw from
  // the random generator (vibrato bottom turn while borrowing, any ramp turn with random
  // ramps) and returns it, or returns `to`. The walk is written back unless a Configure
  // or SetUp ran meanwhile, whose values then stand.
  int32_t RunAhead(int32_t self, const tSectionRings& rings, int32_t firstPos, int32_t from,
                   int32_t to, bool dynOn, float dynDepth, const tVoiceArray& voices,
                   float* contributionsA, float* contributionsB);

  // Frees the tables retired by growth; only while no sample step can run.
  void ReleaseRetiredTables();

  void SetSampleRate(float rateHz) { sampleRate = rateHz; }

  // Read-outs for the display, the tests and the vibrato borrowing of other voices.
  float SampleRate() const { return sampleRate; }
  int32_t Delay() const { return delay; }
  float GainLeft() const { return gainLeft; }
  float GainRight() const { return gainRight; }
  tSection Source() const { return source; }
  int32_t VibTurn() const { return vibTurn; }
  int32_t DynPeriod() const { return dynPeriod; }
  int32_t TableDepth() const { return tableDepth; }
  float Speed() const { return speed; }
  float Phase() const { return phase; }
  float VibRateHz() const { return vibRateHz; }
  float Timing() const { return timing; }
  float VibDepthScaled() const { return vibDepth; }
  int32_t VibPos() const { return vibPos; }
  int32_t DynPos() const { return dynPos; }
  int32_t DynLen() const { return dynLen; }
  float DynRise() const { return dynRise; }
  float DynDip() const { return dynDip; }
  bool Busy() const { return busy.load(std::memory_order_acquire); }

  // Log10 of the rate range; set by the owning effect before Configure.
  float vibRateLogMin = 0.0f;
  float vibRateLogMax = 0.0f;

 private:
  float ReadRing(int32_t self, const tSectionRings& rings, int32_t writePos,
                 const tVoiceArray& voices);
  float LevelStep(float dynDepth, const tVoiceArray& voices);
  void GrowTable(int32_t entries);
  void SetRampLength(int32_t samples) {
    dynLen = samples;
    dynLenInverse = samples > 0 ? 1.0f / static_cast<float>(samples) : 0.0f;
  }
  void BuildTable(int32_t depth, int32_t half);
  template <bool kDynOn, bool kBorrowing, bool kRandomRamps, bool kReadsRing>
  int32_t RunWalk(int32_t self, const tSectionRings& rings, int32_t firstPos, int32_t from,
                  int32_t to, float dynDepth, const tVoiceArray& voices, float* contributionsA,
                  float* contributionsB, uint32_t generationAtLoad);
  // Counts Configure and SetUp calls (each bumps it on entry, Configure also on exit), so a
  // run-ahead on the audio thread can tell that its copy of the walk is out of date.
  void MarkChanged() { generation.fetch_add(1, std::memory_order_acq_rel); }

  float sampleRate;             // Hz; all sample counts of the voice use it
  Relaxed<tSection> source{tSection::Unison};
  Relaxed<int32_t> vibStep{1};  // +1 or -1
  Relaxed<int32_t> vibPos{0};   // position of the walk in the table
  float timing = 0.56f;         // delay control: 0 gives 1 ms, each unit adds 9 ms
  Relaxed<int32_t> delay{0};    // fixed read-back distance, samples
  float speed = 0.65f;          // factor on vibrato rate and ramp length
  float vibRateHz = 0.0f;
  Relaxed<bool> vibRandom{false};
  Relaxed<int32_t> vibTurn{0};  // turning point of its own walk: half period - 1
  float phase = 0.0f;           // start phase 0..1 of walk and ramp
  float dynRate = 0.0f;
  Relaxed<bool> dynRandom{false};
  Relaxed<float> dynRise{0.0f};  // level rise above 1 at the top of a ramp
  Relaxed<float> dynDip{0.0f};   // level fall below 1 at the bottom, at most 1
  Relaxed<float> dynSpan{0.0f};  // dynRise + dynDip
  Relaxed<int32_t> dynLen{0};    // length of the ramp in progress, samples
  Relaxed<float> dynLenInverse{0.0f};  // 1 / dynLen: the ramp position without a division
  Relaxed<int32_t> dynPeriod{0}; // its own ramp length, samples
  Relaxed<int32_t> dynPos{0};    // 0..dynLen
  Relaxed<int32_t> dynStep{0};   // +1 or -1
  Relaxed<float> gainLeft{0.5f};
  Relaxed<float> gainRight{0.5f};
  float vibRate = 0.5f;          // VibRate setting 0..1
  float vibDepth = 0.5f;         // VibDepth scaled for this voice
  std::atomic<bool> busy{false}; // set while Configure rebuilds the table
  std::atomic<tVibTable*> vibTable{nullptr};
  int32_t vibTableCapacity = 0;
  float vibScale = 0.0f;         // random depth factor of the walk in progress
  Relaxed<int32_t> vibSource{0}; // voice whose table the walk in progress reads
  Relaxed<int32_t> vibLen{0};    // turning point of the walk in progress
  int32_t tableDepth = -1;
  int32_t tableHalf = -1;

  std::atomic<uint32_t> generation{0};

  std::vector<std::unique_ptr<tVibTable>> tables;  // current one last; the rest retired
};

// ---- the sample step ----

inline float tSingleClone::ReadRing(int32_t self, const tSectionRings& rings,
                                    int32_t writePos, const tVoiceArray& voices) {
  if (busy.load(std::memory_order_acquire)) return 0.0f;
  const bool borrowing = vibRandom;
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

  const tSingleClone& lender = borrowing ? voices[vibSource] : *this;
  const tVibTable* table = lender.vibTable.load(std::memory_order_acquire);
  // The clamp never bites in a single thread; it keeps a table swapped by another thread
  // from being read past its end.
  const int32_t entry = pos < table->capacity ? pos : table->capacity - 1;
  const float tableOffset = table->offsets[entry].load(std::memory_order_relaxed);
  const float off = borrowing ? vibScale * tableOffset : tableOffset;

  const int32_t ip = nearestInRange(off - 0.5f);
  const int32_t r0 = (writePos + delay + ip) & rings.mask;
  const int32_t r1 = (r0 + 1) & rings.mask;
  const float frac = off + 1e-23f - static_cast<float>(ip);
  const float* ring = rings.Ring(source);
  return ring[r0] + frac * (ring[r1] - ring[r0]);
}

inline float tSingleClone::LevelStep(float dynDepth, const tVoiceArray& voices) {
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
    float dip = randomRamps ? static_cast<float>(dynDip) : 0.99f * depthFactor * dynDepth;
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
