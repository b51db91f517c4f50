#include "engine/SingleClone.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <type_traits>

namespace vm {

namespace {
constexpr double kVibSwingPerDepth = 0.025;  // peak-to-peak swing at VibDepth 1: 2.5 % of the period
constexpr double kTableGrowth = 1.25;        // tables grow by a quarter so regrowth is rare
constexpr double kRampSecondsPerRate = 1.9;  // ramp length: 0.1 s (DynRate 1) to 2.0 s (DynRate 0)
constexpr double kRampSecondsMin = 0.1;
constexpr float kRiseShare = 0.35f;          // level rises by 0.35 * DynDepth at the top
constexpr float kDipShare = 0.99f;           // and falls by 0.99 * DynDepth at the bottom
}  // namespace

tSingleClone::tSingleClone(float sampleRateHz) : sampleRate(sampleRateHz) {
  Configure(true);
}

void tSingleClone::GrowTable(int32_t entries) {
  tables.push_back(std::make_unique<tVibTable>(entries));
  vibTableCapacity = entries;
}

void tSingleClone::BuildTable(int32_t depth, int32_t half) {
  tVibTable* table = tables.back().get();
  for (int32_t j = 0; j <= half; ++j) {
    const double raisedCosine = 0.5 - std::cos(j * std::numbers::pi / half) / 2.0;
    table->offsets[j].store(static_cast<float>(raisedCosine * depth + 1e-23),
                            std::memory_order_relaxed);
  }
  tableDepth = depth;
  tableHalf = half;
  // Publish a table only once it is filled; a replaced one stays alive (retired) for
  // readers in flight.
  vibTable.store(table, std::memory_order_release);
}

void tSingleClone::Configure(bool resetDynamics) {
  SetFloatControl();
  MarkChanged();
  vibRateHz = static_cast<float>(
      std::pow(10.0, vibRateLogMin + (vibRateLogMax - vibRateLogMin) * double(vibRate)) *
      speed);
  const int32_t period = nearest(double(sampleRate) / vibRateHz);
  const int32_t depth = nearest(period * double(vibDepth) * kVibSwingPerDepth);
  const int32_t half = std::max(period / 2, 1);

  busy.store(true, std::memory_order_release);
  if (vibTableCapacity < half + 1 || !vibTable.load(std::memory_order_relaxed))
    GrowTable(std::max(nearest(half * kTableGrowth), half + 1));
  if (depth != tableDepth || half != tableHalf) BuildTable(depth, half);
  // Published only now that a table of at least half + 1 entries is in place, so a voice
  // borrowing this turning point never indexes past the table it reads.
  vibTurn = half - 1;

  if (vibRandom) {
    vibStep = 1;
    vibPos = 0;
  } else if (phase > 0.5f) {
    vibStep = -1;
    vibPos = nearest((1.0 - phase) * vibLen);
  } else {
    vibStep = 1;
    vibPos = nearest(double(vibLen) * phase);
  }
  busy.store(false, std::memory_order_release);

  if (resetDynamics) {
    const int32_t ramp = nearest(((1.0 - dynRate) * kRampSecondsPerRate + kRampSecondsMin) *
                                 speed * sampleRate);
    dynPeriod = ramp;
    SetRampLength(ramp);
    if (phase > 0.5f) {
      dynStep = -1;
      dynPos = nearest((1.0 - phase) * ramp);
    } else {
      dynStep = 1;
      dynPos = nearest(double(ramp) * phase);
    }
  }

  const double rate = sampleRate;
  delay = nearest((rate / 100 - rate / 1000) * timing + rate / 1000);
  MarkChanged();
}

void tSingleClone::InitVoiceTable(int32_t index) {
  speed = 1.0f + (speedTable[index] - 0.65f);
  float p = phaseTableA[index] + phaseTableB[index];
  while (p > 1.0f) p -= 1.0f;
  phase = p;
}

void tSingleClone::SetUp(int32_t index, const tVoiceSetup& setup) {
  MarkChanged();
  const int32_t pos = sectionOrder[setup.order][index];
  vibDepth = setup.VibDepth * vibScaleTable[index];
  vibRandom = setup.VibRandom;
  vibRate = setup.VibRate;
  dynRate = setup.DynRate;
  dynRandom = setup.DynRandom;
  dynRise = kRiseShare * setup.DynDepth;
  dynDip = kDipShare * setup.DynDepth;
  dynSpan = dynRise + dynDip;

  // Stereo place: a per-voice position from its speed, rotated by quarter steps per order,
  // mirrored for odd voices from three voices on, then squeezed into the Focus range.
  const int32_t percent = (nearest(100.0 * speedTable[index]) + 25 * setup.order) % 100;
  const float p = static_cast<float>(percent / 100.0);
  float q = (setup.count > 2 && index % 2 == 1) ? p : 1.0f - p;
  q = (q - 0.5f) * setup.Focus + 0.5f;
  q = q * setup.width + setup.lo;
  gainLeft = setup.levelNorm * q;
  gainRight = setup.levelNorm * (1.0f - q);

  timing = static_cast<float>((29.0 * setup.Timing + 1.0) * timingTable[pos] / 1000.0);
  vibSource = index;
  vibLen = vibTurn;

  tSection section = source;
  switch (setup.Split) {
    case 0: section = tSection::Unison; break;
    case 1: section = tSection::Bass; break;
    case 2: section = tSection::Alto; break;
    case 3: section = index % 2 == 0 ? tSection::Bass : tSection::Unison; break;
    case 4: section = index % 2 == 0 ? tSection::Unison : tSection::Alto; break;
    case 5: {  // bass, unison, alto in turn
      constexpr tSection kThreeWay[3] = {tSection::Bass, tSection::Unison, tSection::Alto};
      section = kThreeWay[index % 3];
      break;
    }
    default: break;
  }
  source = section;
  // The octave-up voices swing a little less, the octave-down ones a little more.
  if (section == tSection::Alto) vibDepth = vibDepth * 0.9f;
  if (section == tSection::Bass) vibDepth = vibDepth * 1.1f;

  vibRateLogMin = setup.vibRateLogMin;
  vibRateLogMax = setup.vibRateLogMax;
  Configure(setup.dynChanged);
}

// The sample step of Step, sample after sample, with every field of the walk and the ramp
// read once and kept in locals; the float operations are the same, in the same order, so
// the contributions are bit for bit those of Step.
template <bool kDynOn, bool kBorrowing, bool kRandomRamps, bool kReadsRing>
int32_t tSingleClone::RunWalk(int32_t self, const tSectionRings& rings, int32_t firstPos,
                              int32_t from, int32_t to, float dynDepth,
                              const tVoiceArray& voices, float* contributionsA,
                              float* contributionsB, uint32_t generationAtLoad) {
  int32_t walkStep = vibStep, walkPos = vibPos, walkLen = vibLen, walkSource = vibSource;
  float walkScale = vibScale;
  int32_t rampStep = dynStep, rampPos = dynPos, rampLen = dynLen;
  float rampInverse = dynLenInverse, rise = dynRise, dip = dynDip, span = dynSpan;
  const int32_t ownTurn = vibTurn;
  const int32_t ownPeriod = dynPeriod;
  const float ownPeriodInverse = ownPeriod > 0 ? 1.0f / static_cast<float>(ownPeriod) : 0.0f;
  const float left = gainLeft, right = gainRight;
  const float* ring = rings.Ring(source);
  const int32_t mask = rings.mask;
  // Ring index of sample i before the vibrato offset: writePos + delay, with writePos
  // falling by one per sample.
  const int32_t readBase = firstPos + delay;
  // A borrowed table changes only at a bottom turn, which is a draw and ends the run.
  const tSingleClone& lender = kBorrowing ? voices[walkSource] : *this;
  const tVibTable* table = lender.vibTable.load(std::memory_order_acquire);
  const std::atomic<float>* offsets = table->offsets.get();
  const int32_t lastEntry = table->capacity - 1;

  int32_t i = from;
  for (; i < to; ++i) {
    if (kDynOn && kRandomRamps) {
      const int32_t next = rampPos + rampStep;
      if (next <= 0 || next >= rampLen) break;  // either turn draws
    }
    float s = 0.0f;
    if (kReadsRing) {
      int32_t pos = walkPos + walkStep;
      if (pos <= 0) {
        if (kBorrowing) break;  // picks a new lender: a draw
        walkStep = -walkStep;
        pos = 0;
        walkScale = 1.0f;
        walkSource = self;
        walkLen = ownTurn;
      } else if (pos >= walkLen) {
        walkStep = -walkStep;
        pos = walkLen;
      }
      walkPos = pos;
      const int32_t entry = pos <= lastEntry ? pos : lastEntry;
      const float tableOffset = offsets[entry].load(std::memory_order_relaxed);
      const float off = kBorrowing ? walkScale * tableOffset : tableOffset;
      const int32_t ip = nearestInRange(off - 0.5f);
      const int32_t r0 = (readBase - i + ip) & mask;
      const int32_t r1 = (r0 + 1) & mask;
      const float frac = off + 1e-23f - static_cast<float>(ip);
      s = ring[r0] + frac * (ring[r1] - ring[r0]);
    }
    if (kDynOn) {
      int32_t pos = rampPos + rampStep;
      if (!kRandomRamps && pos <= 0) {  // random ramps stopped above
        rampStep = -rampStep;
        pos = 0;
        rampLen = ownPeriod;
        rampInverse = ownPeriodInverse;
        rise = kRiseShare * dynDepth;
        dip = kDipShare * dynDepth;
        if (dip > 1.0f) dip = 1.0f;
        span = rise + dip;
      } else if (!kRandomRamps && pos >= rampLen) {
        rampStep = -rampStep;
        pos = rampLen;
      }
      rampPos = pos;
      const float g = (1.0f - dip) + static_cast<float>(pos) * rampInverse * span;
      contributionsA[i] = (s + 1e-23f) * left * g;
      contributionsB[i] = (s + 1e-23f) * right * g;
    } else {
      contributionsA[i] = 1e-23f + s * left;
      contributionsB[i] = 1e-23f + s * right;
    }
  }

  if (generation.load(std::memory_order_acquire) == generationAtLoad) {
    vibStep = walkStep;
    vibPos = walkPos;
    vibLen = walkLen;
    vibSource = walkSource;
    vibScale = walkScale;
    if (kDynOn) {
      dynStep = rampStep;
      dynPos = rampPos;
      dynLen = rampLen;
      dynLenInverse = rampInverse;
      dynRise = rise;
      dynDip = dip;
      dynSpan = span;
    }
  }
  return i;
}

namespace {
// Calls f with std::true_type or std::false_type: a run-time switch made a template
// argument, so each combination gets a loop without that test inside.
template <class F>
int32_t WithFlag(bool flag, F&& f) {
  return flag ? f(std::true_type{}) : f(std::false_type{});
}
}  // namespace

int32_t tSingleClone::RunAhead(int32_t self, const tSectionRings& rings, int32_t firstPos,
                               int32_t from, int32_t to, bool dynOn, float dynDepth,
                               const tVoiceArray& voices, float* contributionsA,
                               float* contributionsB) {
  const uint32_t generationAtLoad = generation.load(std::memory_order_acquire);
  // Read once per run: a busy voice reads 0 from its ring and its walk stands still for
  // the whole run, while its ramp moves on.
  const bool readsRing = !busy.load(std::memory_order_acquire);
  const bool borrowing = vibRandom;
  const bool randomRamps = dynOn && dynRandom;
  return WithFlag(dynOn, [&](auto levelMoves) {
    return WithFlag(borrowing, [&](auto borrows) {
      return WithFlag(randomRamps, [&](auto drawsRamps) {
        return WithFlag(readsRing, [&](auto reads) {
          return RunWalk<decltype(levelMoves)::value, decltype(borrows)::value,
                         decltype(drawsRamps)::value, decltype(reads)::value>(
              self, rings, firstPos, from, to, dynDepth, voices, contributionsA,
              contributionsB, generationAtLoad);
        });
      });
    });
  });
}

void tSingleClone::ReleaseRetiredTables() {
  if (tables.size() > 1) tables.erase(tables.begin(), tables.end() - 1);
}

}  // namespace vm
