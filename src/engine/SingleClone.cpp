#include "engine/SingleClone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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
}

void tSingleClone::InitVoiceTable(int32_t index) {
  speed = 1.0f + (speedTable[index] - 0.65f);
  float p = phaseTableA[index] + phaseTableB[index];
  while (p > 1.0f) p -= 1.0f;
  phase = p;
}

void tSingleClone::SetUp(int32_t index, const tVoiceSetup& setup) {
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
    case 5: section = static_cast<tSection>(index % 3); break;
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

void tSingleClone::ReleaseRetiredTables() {
  if (tables.size() > 1) tables.erase(tables.begin(), tables.end() - 1);
}

}  // namespace vm
