#include "engine/SingleClone.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VM_VOICE_VECTORS 1
#endif

namespace vm {

namespace {
constexpr int32_t kGroupLanes = 8;  // samples of one voice in a vector group
constexpr double kVibSwingPerDepth = 0.025;  // peak-to-peak swing at VibDepth 1: 2.5 % of the period
constexpr double kSlowestVibratoHz = 0.75;   // the wide rate range's lowest rate
constexpr double kRampSecondsPerRate = 1.9;  // ramp length: 0.1 s (DynRate 1) to 2.0 s (DynRate 0)
constexpr double kRampSecondsMin = 0.1;
constexpr float kRiseShare = 0.35f;          // level rises by 0.35 * DynDepth at the top
constexpr float kDipShare = 0.99f;           // and falls by 0.99 * DynDepth at the bottom

// Samples from now on whose position, moving by `step` (+1 or -1) from `pos`, stays strictly
// between 0 and `len`: the samples before the next turn.
int32_t SamplesBeforeTurn(int32_t pos, int32_t step, int32_t len) {
  if (step > 0) return pos >= 0 ? std::max(len - 1 - pos, 0) : 0;
  if (step < 0) return pos <= len ? std::max(pos - 1, 0) : 0;
  return 0;
}
}  // namespace

double VibratoRateBase(float logMin, float logMax, float vibRate) {
  return std::pow(10.0, logMin + (logMax - logMin) * double(vibRate));
}

tSingleClone::tSingleClone(float sampleRateHz) : sampleRate(sampleRateHz) {
  table.Allocate(TableEntriesFor(sampleRateHz));
  Configure(true);
}

// The longest half period: the lowest rate of the wide range at the slowest voice speed,
// worked out as Configure does. One entry more for the turning point, one to spare.
int32_t tSingleClone::TableEntriesFor(float rateHz) {
  float slowestSpeed = 1.0f;
  for (float s : speedTable) slowestSpeed = std::min(slowestSpeed, 1.0f + (s - 0.65f));
  const float logMin = static_cast<float>(std::log10(kSlowestVibratoHz));
  const float slowestHz = static_cast<float>(std::pow(10.0, double(logMin)) * slowestSpeed);
  const int32_t period = nearest(double(rateHz) / slowestHz);
  return period / 2 + 2;
}

void tSingleClone::SetSampleRate(float rateHz) {
  sampleRate = rateHz;
  table.Grow(TableEntriesFor(rateHz));
  walkFree = rampFree = 0;
}

void tSingleClone::Configure(bool resetDynamics) {
  SetFloatControl();
  const float key[3] = {vibRateLogMin, vibRateLogMax, vibRate};
  if (std::memcmp(key, rateBaseKey, sizeof key) != 0) {
    rateBase = VibratoRateBase(vibRateLogMin, vibRateLogMax, vibRate);
    std::memcpy(rateBaseKey, key, sizeof key);
  }
  vibRateHz = static_cast<float>(rateBase * speed);
  const int32_t period = nearest(double(sampleRate) / vibRateHz);
  const int32_t depth = nearest(period * double(vibDepth) * kVibSwingPerDepth);
  // The table holds the slowest vibrato of the rate; the limit only guards odd speeds.
  const int32_t half = std::clamp(period / 2, 1, table.Capacity() - 1);
  table.Rebuild(depth, half);
  walkFree = rampFree = 0;
  vibTurn = half - 1;
  vibLen = vibTurn;

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
  if (setup.vibRateBase > 0.0) {  // worked out once for all voices
    rateBaseKey[0] = vibRateLogMin;
    rateBaseKey[1] = vibRateLogMax;
    rateBaseKey[2] = vibRate;
    rateBase = setup.vibRateBase;
  }
  Configure(setup.dynChanged);
}

// The walk's entries are filled for the chunk, or a segment ahead for shorter chunks: far
// enough that short chunks rarely come back here, near enough that a walk restarted by a
// change soon after has filled little it never reads.
bool tSingleClone::FindTurnFreeStretch(const tVoiceArray& voices, const tSectionRings& rings,
                                       int32_t length, bool dynOn) {
  const tVibratoTable& offsets = (vibRandom ? voices[vibSource] : *this).table;
  const int32_t walkTurnFree =
      SamplesBeforeTurn(vibPos, vibStep, std::min(vibLen, offsets.Capacity()));
  if (walkTurnFree < length) return false;
  if (dynOn) {
    rampFree = SamplesBeforeTurn(dynPos, dynStep, dynLen);
    if (rampFree < length) return false;
  }
  const int32_t ahead = std::min(walkTurnFree, std::max(length, tVibratoTable::kSegment));
  const int32_t firstEntry = vibPos + vibStep, lastEntry = vibPos + vibStep * ahead;
  offsets.Prepare(std::min(firstEntry, lastEntry), std::max(firstEntry, lastEntry));
  walkFree = ahead;
  runEntries = offsets.Entries();
  runGroup = firstEntry - (vibStep > 0 ? 0 : kGroupLanes - 1);
  runRing = rings.Ring(source);
  runScale = vibRandom ? vibScale : 1.0f;
  runFloor = 1.0f - dynDip;
  return true;
}

#if VM_VOICE_VECTORS
namespace {

// A stretch of one voice's samples between two turns: the table position and the ramp
// position each move by a constant step per sample, nothing is drawn, and each sample is
// the arithmetic of the sample step on those positions.
struct tLinearRun {
  const float* entries;  // the table the walk reads
  int32_t firstEntry;    // entry read by the run's first sample
  float scale;           // depth factor of the walk (1 on the voice's own table)
  const float* ring;
  int32_t mask;
  int32_t readBase;      // ring index of the run's first sample before its offset
  int32_t firstRampPos;  // ramp position at the run's first sample
  int32_t rampStep;
  float rampInverse, span, floor;  // 1 / ramp length, rise + dip, 1 - dip
  float left, right;
  float* outA;
  float* outB;
  int32_t count;         // samples, a multiple of kLanes
  int32_t length;        // samples with those one at a time after the groups (count..length-1)
  int32_t entryStep;     // +1 or -1
};

constexpr int32_t kLanes = kGroupLanes;

// One ring as the window-and-permute reads see it.
struct tRingView {
  const float* ring;
  int32_t mask;
};

// The ring samples at r0 and r0 + 1 of eight lanes, r0 = base - lane + ip[lane]. Offsets
// of neighbouring samples differ by far less than a sample (the vibrato's steepest slope
// is about 0.16 samples per sample), so the eight pairs lie within a window of 13 ring
// samples starting 9 below lane 0's r0: two loads and a permutation. Where the window
// wraps around the ring or a lane falls outside it, one lane at a time.
#define VM_RING_PAIRS(Pick)                                                                  \
  const int32_t lane0 = base + _mm256_cvtsi256_si32(ip);                                     \
  const int32_t window = (lane0 - 9) & run.mask;                                             \
  const __m256i at = _mm256_add_epi32(                                                       \
      _mm256_sub_epi32(ip, _mm256_broadcastd_epi32(_mm256_castsi256_si128(ip))), fromWindow);\
  const __m256i atNext = _mm256_add_epi32(at, one);                                          \
  if (window + 15 <= run.mask &&                                                             \
      _mm256_testz_si256(_mm256_or_si256(at, atNext), outsideWindow)) {                      \
    const __m256 low = _mm256_loadu_ps(run.ring + window);                                   \
    const __m256 high = _mm256_loadu_ps(run.ring + window + 8);                              \
    a = Pick(low, high, at);                                                                 \
    b = Pick(low, high, atNext);                                                             \
  } else {                                                                                   \
    int32_t first[kLanes];                                                                   \
    float va[kLanes], vb[kLanes];                                                            \
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(first),                                   \
                       _mm256_add_epi32(_mm256_set1_epi32(base), _mm256_add_epi32(ip, down)));\
    for (int32_t l = 0; l < kLanes; ++l) {                                                   \
      va[l] = run.ring[first[l] & run.mask];                                                 \
      vb[l] = run.ring[(first[l] + 1) & run.mask];                                           \
    }                                                                                        \
    a = _mm256_loadu_ps(va);                                                                 \
    b = _mm256_loadu_ps(vb);                                                                 \
  }

// One group of eight samples of a voice from its table offsets: the ring pair read, the
// interpolation and the level and pan gains, with `base` the ring position of lane 0.
#define VM_LANE_CONTRIBUTIONS(Pick, tableOffset, contributionA, contributionB)               \
  {                                                                                          \
    const __m256 off = _mm256_mul_ps(scale, tableOffset);                                    \
    const __m256i ip = _mm256_cvtps_epi32(_mm256_sub_ps(off, half));                         \
    const __m256 frac = _mm256_sub_ps(_mm256_add_ps(off, guard), _mm256_cvtepi32_ps(ip));    \
    __m256 a, b;                                                                             \
    VM_RING_PAIRS(Pick)                                                                      \
    const __m256 s = _mm256_add_ps(a, _mm256_mul_ps(frac, _mm256_sub_ps(b, a)));             \
    if (kDynOn) {                                                                            \
      const __m256 ramp = _mm256_mul_ps(_mm256_cvtepi32_ps(rampPos), inverse);               \
      const __m256 g = _mm256_add_ps(floor, _mm256_mul_ps(ramp, span));                      \
      rampPos = _mm256_add_epi32(rampPos, rampAdvance);                                      \
      const __m256 guarded = _mm256_add_ps(s, guard);                                        \
      contributionA = _mm256_mul_ps(_mm256_mul_ps(guarded, left), g);                        \
      contributionB = _mm256_mul_ps(_mm256_mul_ps(guarded, right), g);                       \
    } else {                                                                                 \
      contributionA = _mm256_add_ps(guard, _mm256_mul_ps(s, left));                          \
      contributionB = _mm256_add_ps(guard, _mm256_mul_ps(s, right));                         \
    }                                                                                        \
  }

// The samples of a run, eight at a time: the same float operations as the sample step, in
// the same order and without fused multiply-adds, so every contribution has the bits of
// the step's.
// The constants of the runs, set once for all the voices of a chunk.
#define VM_LINEAR_RUN_CONSTANTS                                                              \
  const __m256i one = _mm256_set1_epi32(1);                                                  \
  const __m256i down = _mm256_setr_epi32(0, -1, -2, -3, -4, -5, -6, -7);                     \
  const __m256i fromWindow = _mm256_setr_epi32(9, 8, 7, 6, 5, 4, 3, 2);                      \
  const __m256i outsideWindow = _mm256_set1_epi32(~15);                                      \
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);                         \
  const __m256 half = _mm256_set1_ps(0.5f), guard = _mm256_set1_ps(1e-23f);

#define VM_LINEAR_RUN_BODY(Pick)                                                             \
  const __m256 scale = _mm256_set1_ps(run.scale);                                            \
  const __m256 left = _mm256_set1_ps(run.left), right = _mm256_set1_ps(run.right);           \
  const __m256 inverse = _mm256_set1_ps(run.rampInverse), span = _mm256_set1_ps(run.span);   \
  const __m256 floor = _mm256_set1_ps(run.floor);                                            \
  __m256i rampPos = _mm256_add_epi32(_mm256_set1_epi32(run.firstRampPos),                    \
                                     _mm256_mullo_epi32(down, _mm256_set1_epi32(-run.rampStep)));\
  const __m256i rampAdvance = _mm256_set1_epi32(run.rampStep * kLanes);                      \
  for (int32_t n = 0; n < run.count; n += kLanes) {                                          \
    const int32_t entry = kUp ? run.firstEntry + n : run.firstEntry - n - (kLanes - 1);      \
    __m256 tableOffset = _mm256_loadu_ps(run.entries + entry);                               \
    if (!kUp) tableOffset = _mm256_permutevar8x32_ps(tableOffset, reverse);                  \
    const int32_t base = run.readBase - n;                                                   \
    __m256 contributionA, contributionB;                                                     \
    VM_LANE_CONTRIBUTIONS(Pick, tableOffset, contributionA, contributionB)                   \
    if (kAdding) {                                                                           \
      contributionA = _mm256_add_ps(_mm256_loadu_ps(run.outA + n), contributionA);           \
      contributionB = _mm256_add_ps(_mm256_loadu_ps(run.outB + n), contributionB);           \
    }                                                                                        \
    _mm256_storeu_ps(run.outA + n, contributionA);                                           \
    _mm256_storeu_ps(run.outB + n, contributionB);                                           \
  }

__attribute__((target("avx2"))) inline __m256 PickAvx2(__m256 low, __m256 high, __m256i at) {
  const __m256 fromLow = _mm256_permutevar8x32_ps(low, at);
  const __m256 fromHigh = _mm256_permutevar8x32_ps(high, at);
  const __m256i upper = _mm256_cmpgt_epi32(at, _mm256_set1_epi32(kLanes - 1));
  return _mm256_blendv_ps(fromLow, fromHigh, _mm256_castsi256_ps(upper));
}

template <bool kDynOn, bool kUp, bool kAdding>
__attribute__((target("avx2"))) void LinearRunAvx2(const tLinearRun& run) {
  VM_LINEAR_RUN_CONSTANTS
  VM_LINEAR_RUN_BODY(PickAvx2)
}

// AVX-512 implies fused multiply-adds to the compiler: contraction stays off so that the
// roundings are the step's.
__attribute__((target("avx512f,avx512vl"), optimize("fp-contract=off"))) inline __m256
PickAvx512(__m256 low, __m256 high, __m256i at) {
  return _mm256_permutex2var_ps(low, at, high);
}

template <bool kDynOn, bool kUp, bool kAdding>
__attribute__((target("avx512f,avx512vl"), optimize("fp-contract=off"))) void LinearRunAvx512(
    const tLinearRun& run) {
  VM_LINEAR_RUN_CONSTANTS
  VM_LINEAR_RUN_BODY(PickAvx512)
}


// Samples count..length-1 of a run, one at a time: the arithmetic of the sample step,
// added to the sums.
template <bool kDynOn>
inline void AddRunTail(const tLinearRun& run) {
  for (int32_t i = run.count; i < run.length; ++i) {
    const float off = run.scale * run.entries[run.firstEntry + run.entryStep * i];
    const int32_t ip = nearestInRange(off - 0.5f);
    const int32_t r0 = (run.readBase - i + ip) & run.mask;
    const int32_t r1 = (r0 + 1) & run.mask;
    const float frac = off + 1e-23f - static_cast<float>(ip);
    const float s = run.ring[r0] + frac * (run.ring[r1] - run.ring[r0]);
    if (kDynOn) {
      const float g = run.floor + static_cast<float>(run.firstRampPos + run.rampStep * i) *
                                      run.rampInverse * run.span;
      run.outA[i] += (s + 1e-23f) * run.left * g;
      run.outB[i] += (s + 1e-23f) * run.right * g;
    } else {
      run.outA[i] += 1e-23f + s * run.left;
      run.outB[i] += 1e-23f + s * run.right;
    }
  }
}

}  // namespace

// The turn-free voices of a chunk (AddTurnFreeVoices) in one call, each from the record
// its last FindTurnFreeStretch left: short chunks then pay little more per voice than the
// loads of its walk and ramp. Walks up and down share one loop: a walk down loads the
// eight entries below its position and reverses them, a walk up keeps them in order.
// A chunk of two groups (16 samples) keeps its sums in registers from voice to voice:
// each voice's sum then waits on one addition of the voice before it, not also on that
// voice's store and reload, which otherwise chain all the voices of a short chunk.

// One voice's values for its groups.
#define VM_TURN_FREE_VOICE                                                                   \
  const int32_t step = voice.vibStep, rampStep = voice.dynStep;                              \
  const bool up = step > 0;                                                                  \
  /* a group's eight entries start at its first sample's entry (walking up) or at its   */   \
  /* last sample's (walking down); the next group's lie eight steps further on          */   \
  const float* entries = voice.runEntries + voice.runGroup;                                  \
  const ptrdiff_t entryAdvance = step * kLanes;                                              \
  const __m256i order = entryOrder[up];                                                      \
  const tRingView run{voice.runRing, mask};                                                  \
  const int32_t readBase = firstPos + voice.delay;                                           \
  const __m256 scale = _mm256_set1_ps(voice.runScale);                                       \
  const __m256 left = _mm256_set1_ps(voice.gainLeft);                                        \
  const __m256 right = _mm256_set1_ps(voice.gainRight);                                      \
  __m256 inverse = scale, span = scale, floor = scale; /* set below when the level moves */  \
  __m256i rampPos = inOrder, rampAdvance = inOrder;                                          \
  if (kDynOn) {                                                                              \
    inverse = _mm256_set1_ps(voice.dynLenInverse);                                           \
    span = _mm256_set1_ps(voice.dynSpan);                                                    \
    floor = _mm256_set1_ps(voice.runFloor);                                                  \
    rampPos = _mm256_add_epi32(_mm256_set1_epi32(voice.dynPos + rampStep),                   \
                               rampLanes[rampStep > 0]);                                     \
    rampAdvance = rampAdvances[rampStep > 0];                                                \
  }

// The voice's contributions to samples n..n+7 (entries at that group's), the sample step's
// operations in its order.
#define VM_TURN_FREE_GROUP(Pick, n, contributionA, contributionB, kPermuted)                 \
  {                                                                                          \
    const __m256 tableOffset = kPermuted                                                     \
                                   ? _mm256_permutevar8x32_ps(_mm256_loadu_ps(entries), order) \
                                   : _mm256_loadu_ps(entries);                               \
    const int32_t base = readBase - (n);                                                     \
    VM_LANE_CONTRIBUTIONS(Pick, tableOffset, contributionA, contributionB)                   \
    entries += entryAdvance;                                                                 \
  }

// Every whole group of the chunk added into the sums; kPermuted a constant, so that each
// direction gets its own loop.
#define VM_ADD_TURN_FREE_GROUPS(Pick, kPermuted)                                             \
  for (int32_t n = 0; n < groups; n += kLanes) {                                             \
    __m256 contributionA, contributionB;                                                     \
    VM_TURN_FREE_GROUP(Pick, n, contributionA, contributionB, kPermuted)                     \
    _mm256_storeu_ps(sumA + n, _mm256_add_ps(_mm256_loadu_ps(sumA + n), contributionA));     \
    _mm256_storeu_ps(sumB + n, _mm256_add_ps(_mm256_loadu_ps(sumB + n), contributionB));     \
  }

// The voice's walk and ramp moved past the chunk.
#define VM_TURN_FREE_ADVANCE                                                                 \
  voice.vibPos += step * length;                                                             \
  voice.runGroup += step * length;                                                           \
  voice.walkFree -= length;                                                                  \
  if (kDynOn) {                                                                              \
    voice.dynPos += rampStep * length;                                                       \
    voice.rampFree -= length;                                                                \
  }

// In a chunk of two groups the sums live in registers between the calls that rebuild a
// voice's record, so that no register has to survive such a call.
#define VM_ADD_TURN_FREE_BODY(Pick)                                                          \
  const int32_t groups = length - length % kLanes;                                           \
  VM_LINEAR_RUN_CONSTANTS                                                                    \
  const __m256i inOrder = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);                         \
  const __m256i rampLanes[2] = {down, inOrder};   /* lane l at l x step */                   \
  const __m256i entryOrder[2] = {reverse, inOrder};                                          \
  const __m256i rampAdvances[2] = {_mm256_set1_epi32(-kLanes), _mm256_set1_epi32(kLanes)};   \
  const int32_t mask = rings.mask;                                                           \
  int32_t k = first;                                                                         \
  auto stale = [&](const tSingleClone& voice) {                                              \
    return voice.walkFree < length || (kDynOn && voice.rampFree < length);                   \
  };                                                                                         \
  if (kWholeGroups && length == 2 * kLanes) {                                                \
    while (k < count) {                                                                      \
      __m256 sumA0 = _mm256_loadu_ps(sumA), sumA1 = _mm256_loadu_ps(sumA + kLanes);          \
      __m256 sumB0 = _mm256_loadu_ps(sumB), sumB1 = _mm256_loadu_ps(sumB + kLanes);          \
      for (; k < count && !stale(voices[k]); ++k) {                                          \
        tSingleClone& voice = voices[k];                                                     \
        VM_TURN_FREE_VOICE                                                                   \
        __m256 a0, b0, a1, b1;                                                               \
        VM_TURN_FREE_GROUP(Pick, 0, a0, b0, true)                                            \
        VM_TURN_FREE_GROUP(Pick, kLanes, a1, b1, true)                                       \
        sumA0 = _mm256_add_ps(sumA0, a0);                                                    \
        sumB0 = _mm256_add_ps(sumB0, b0);                                                    \
        sumA1 = _mm256_add_ps(sumA1, a1);                                                    \
        sumB1 = _mm256_add_ps(sumB1, b1);                                                    \
        VM_TURN_FREE_ADVANCE                                                                 \
      }                                                                                      \
      _mm256_storeu_ps(sumA, sumA0);                                                         \
      _mm256_storeu_ps(sumA + kLanes, sumA1);                                                \
      _mm256_storeu_ps(sumB, sumB0);                                                         \
      _mm256_storeu_ps(sumB + kLanes, sumB1);                                                \
      if (k == count || !voices[k].FindTurnFreeStretch(voices, rings, length, kDynOn)) break;       \
    }                                                                                        \
    return k;                                                                                \
  }                                                                                          \
  for (; k < count; ++k) {                                                                   \
    tSingleClone& voice = voices[k];                                                         \
    if (stale(voice) && !voice.FindTurnFreeStretch(voices, rings, length, kDynOn)) break;           \
    VM_TURN_FREE_VOICE                                                                       \
    /* the walk's direction outside the loop: a walk up loads its entries as they lie */   \
    if (up)                                                                                  \
      VM_ADD_TURN_FREE_GROUPS(Pick, false)                                                   \
    else                                                                                     \
      VM_ADD_TURN_FREE_GROUPS(Pick, true)                                                    \
    if (!kWholeGroups) {                                                                     \
      const tLinearRun tail{voice.runEntries, voice.vibPos + step, voice.runScale,           \
                            run.ring, mask, readBase, voice.dynPos + rampStep, rampStep,     \
                            voice.dynLenInverse, voice.dynSpan, voice.runFloor,              \
                            voice.gainLeft, voice.gainRight, sumA, sumB, groups, length,     \
                            step};                                                           \
      AddRunTail<kDynOn>(tail);                                                              \
    }                                                                                        \
    VM_TURN_FREE_ADVANCE                                                                     \
  }                                                                                          \
  return k;

struct tVoiceLaneKernels {
  // A 16-sample chunk in AVX-512: each voice's sixteen samples in one register, so a
  // voice costs one group's operations instead of two. The same float operations per
  // lane as the eight-lane groups, in the same order: the same bits. The ring pairs come
  // from a window of 32 ring samples starting 23 below lane 0's first (the sixteen lanes
  // step 15 samples back, the offsets move a few samples at most), by one two-register
  // permutation each; otherwise lane by lane.
  template <bool kDynOn>
  __attribute__((target("avx512f,avx512vl"), optimize("fp-contract=off"))) static int32_t
  AddTurnFreeSixteenAvx512(tVoiceArray& voices, int32_t first, int32_t count,
                           const tSectionRings& rings, int32_t firstPos, float* sumA,
                           float* sumB) {
    constexpr int32_t kLength = 16;
    constexpr int32_t kBelowLane0 = 23;  // window start below lane 0's first ring sample
    // Every lane; the zero-masked forms spare the compiler's unset pass-through operand.
    constexpr __mmask16 kAllLanes = 0xFFFF;
    const __m512i inOrder =
        _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i reverse =
        _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i down = _mm512_sub_epi32(_mm512_setzero_si512(), inOrder);
    const __m512i entryOrder[2] = {reverse, inOrder};
    const __m512i rampLanes[2] = {down, inOrder};  // lane l at l x step
    const __m512i fromWindow = _mm512_add_epi32(_mm512_set1_epi32(kBelowLane0), down);
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i outsideWindow = _mm512_set1_epi32(~31);
    const __m512 half = _mm512_set1_ps(0.5f), guard = _mm512_set1_ps(1e-23f);
    const int32_t mask = rings.mask;
    auto stale = [&](const tSingleClone& voice) {
      return voice.walkFree < kLength || (kDynOn && voice.rampFree < kLength);
    };
    int32_t k = first;
    while (k < count) {
      __m512 sumsA = _mm512_loadu_ps(sumA), sumsB = _mm512_loadu_ps(sumB);
      for (; k < count && !stale(voices[k]); ++k) {
        tSingleClone& voice = voices[k];
        const int32_t step = voice.vibStep, rampStep = voice.dynStep;
        const bool up = step > 0;
        // Sixteen entries from the first sample's on (up) or ending at it (down).
        const float* entries = voice.runEntries + voice.runGroup - (up ? 0 : kLength - kLanes);
        const __m512 tableOffset =
            _mm512_maskz_permutexvar_ps(kAllLanes, entryOrder[up], _mm512_loadu_ps(entries));
        const __m512 off = _mm512_mul_ps(_mm512_set1_ps(voice.runScale), tableOffset);
        const __m512i ip = _mm512_maskz_cvtps_epi32(kAllLanes, _mm512_sub_ps(off, half));
        const __m512 frac = _mm512_sub_ps(_mm512_add_ps(off, guard), _mm512_maskz_cvtepi32_ps(kAllLanes, ip));
        const int32_t base = firstPos + voice.delay;
        const float* ring = voice.runRing;
        const int32_t ip0 = _mm512_cvtsi512_si32(ip);
        const int32_t window = (base + ip0 - kBelowLane0) & mask;
        const __m512i at =
            _mm512_add_epi32(_mm512_sub_epi32(ip, _mm512_set1_epi32(ip0)), fromWindow);
        const __m512i atNext = _mm512_add_epi32(at, one);
        __m512 a, b;
        if (window + 31 <= mask &&
            _mm512_test_epi32_mask(_mm512_or_si512(at, atNext), outsideWindow) == 0) {
          const __m512 low = _mm512_loadu_ps(ring + window);
          const __m512 high = _mm512_loadu_ps(ring + window + kLength);
          a = _mm512_permutex2var_ps(low, at, high);
          b = _mm512_permutex2var_ps(low, atNext, high);
        } else {
          alignas(64) int32_t firstRead[kLength];
          alignas(64) float va[kLength], vb[kLength];
          _mm512_store_si512(firstRead, _mm512_add_epi32(_mm512_set1_epi32(base),
                                                         _mm512_add_epi32(ip, down)));
          for (int32_t l = 0; l < kLength; ++l) {
            va[l] = ring[firstRead[l] & mask];
            vb[l] = ring[(firstRead[l] + 1) & mask];
          }
          a = _mm512_load_ps(va);
          b = _mm512_load_ps(vb);
        }
        const __m512 sample = _mm512_add_ps(a, _mm512_mul_ps(frac, _mm512_sub_ps(b, a)));
        const __m512 left = _mm512_set1_ps(voice.gainLeft);
        const __m512 right = _mm512_set1_ps(voice.gainRight);
        __m512 contributionA, contributionB;
        if (kDynOn) {
          const __m512i rampPos = _mm512_add_epi32(_mm512_set1_epi32(voice.dynPos + rampStep),
                                                   rampLanes[rampStep > 0]);
          const __m512 ramp =
              _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(kAllLanes, rampPos), _mm512_set1_ps(voice.dynLenInverse));
          const __m512 g = _mm512_add_ps(_mm512_set1_ps(voice.runFloor),
                                         _mm512_mul_ps(ramp, _mm512_set1_ps(voice.dynSpan)));
          const __m512 guarded = _mm512_add_ps(sample, guard);
          contributionA = _mm512_mul_ps(_mm512_mul_ps(guarded, left), g);
          contributionB = _mm512_mul_ps(_mm512_mul_ps(guarded, right), g);
        } else {
          contributionA = _mm512_add_ps(guard, _mm512_mul_ps(sample, left));
          contributionB = _mm512_add_ps(guard, _mm512_mul_ps(sample, right));
        }
        sumsA = _mm512_add_ps(sumsA, contributionA);
        sumsB = _mm512_add_ps(sumsB, contributionB);
        voice.vibPos += step * kLength;
        voice.runGroup += step * kLength;
        voice.walkFree -= kLength;
        if (kDynOn) {
          voice.dynPos += rampStep * kLength;
          voice.rampFree -= kLength;
        }
      }
      _mm512_storeu_ps(sumA, sumsA);
      _mm512_storeu_ps(sumB, sumsB);
      if (k == count || !voices[k].FindTurnFreeStretch(voices, rings, kLength, kDynOn)) break;
    }
    return k;
  }

  template <bool kDynOn, bool kWholeGroups>
  __attribute__((target("avx2"))) static int32_t AddTurnFreeAvx2(
      tVoiceArray& voices, int32_t first, int32_t count, const tSectionRings& rings,
      int32_t firstPos, int32_t length, float* sumA, float* sumB) {
    VM_ADD_TURN_FREE_BODY(PickAvx2)
  }
  template <bool kDynOn, bool kWholeGroups>
  __attribute__((target("avx512f,avx512vl"), optimize("fp-contract=off"))) static int32_t
  AddTurnFreeAvx512(tVoiceArray& voices, int32_t first, int32_t count,
                    const tSectionRings& rings, int32_t firstPos, int32_t length, float* sumA,
                    float* sumB) {
    VM_ADD_TURN_FREE_BODY(PickAvx512)
  }
};

// A fading pair's samples eight at a time (AddFadingPair).
#define VM_FADING_PAIR_BODY(Pick)                                                            \
  VM_LINEAR_RUN_CONSTANTS                                                                    \
  (void)reverse, (void)guard;                                                                \
  const __m256 gainA1 = _mm256_set1_ps(pair.gainA[0]), gainA2 = _mm256_set1_ps(pair.gainA[1]);\
  const __m256 gainB1 = _mm256_set1_ps(pair.gainB[0]), gainB2 = _mm256_set1_ps(pair.gainB[1]);\
  int32_t n = 0;                                                                             \
  for (; n + kLanes <= length; n += kLanes) {                                                \
    __m256 s[2];                                                                             \
    for (int32_t v = 0; v < 2; ++v) {                                                        \
      const tRingView run{pair.ring[v], pair.mask};                                          \
      const __m256 off = _mm256_loadu_ps(pair.offsets[v] + n);                               \
      const __m256i ip = _mm256_cvtps_epi32(_mm256_sub_ps(off, half));                       \
      const __m256 frac = _mm256_sub_ps(off, _mm256_cvtepi32_ps(ip));                        \
      const int32_t base = pair.readBase[v] - n;                                             \
      __m256 a, b;                                                                           \
      VM_RING_PAIRS(Pick)                                                                    \
      s[v] = _mm256_add_ps(a, _mm256_mul_ps(frac, _mm256_sub_ps(b, a)));                     \
    }                                                                                        \
    const __m256 a = _mm256_add_ps(_mm256_mul_ps(s[0], gainA1), _mm256_mul_ps(s[1], gainA2));\
    const __m256 b = _mm256_add_ps(_mm256_mul_ps(s[0], gainB1), _mm256_mul_ps(s[1], gainB2));\
    _mm256_storeu_ps(sumA + n, _mm256_add_ps(_mm256_loadu_ps(sumA + n), a));                 \
    _mm256_storeu_ps(sumB + n, _mm256_add_ps(_mm256_loadu_ps(sumB + n), b));                 \
  }                                                                                          \
  return n;

namespace {
__attribute__((target("avx2"))) int32_t AddFadingPairAvx2(const tFadingPair& pair,
                                                          int32_t length, float* sumA,
                                                          float* sumB) {
  VM_FADING_PAIR_BODY(PickAvx2)
}
__attribute__((target("avx512f,avx512vl"), optimize("fp-contract=off"))) int32_t
AddFadingPairAvx512(const tFadingPair& pair, int32_t length, float* sumA, float* sumB) {
  VM_FADING_PAIR_BODY(PickAvx512)
}
}  // namespace

#undef VM_FADING_PAIR_BODY
#undef VM_ADD_TURN_FREE_BODY
#undef VM_ADD_TURN_FREE_GROUPS
#undef VM_TURN_FREE_GROUP
#undef VM_TURN_FREE_VOICE
#undef VM_TURN_FREE_ADVANCE
#undef VM_LINEAR_RUN_BODY
#undef VM_LINEAR_RUN_CONSTANTS
#undef VM_LANE_CONTRIBUTIONS
#undef VM_RING_PAIRS

namespace {

using tLinearRunFunction = void (*)(const tLinearRun&);
using tAddTurnFreeFunction = int32_t (*)(tVoiceArray&, int32_t, int32_t, const tSectionRings&,
                                          int32_t, int32_t, float*, float*);
struct tLinearRunSet {
  tLinearRunFunction byCase[2][2][2];  // [level moves][walk goes up][adds to the sums]
  tAddTurnFreeFunction addTurnFree[2][2];  // [level moves][chunk a whole number of groups]
  // [level moves]: chunks of 16 samples; none: addTurnFree.
  int32_t (*addTurnFreeSixteen[2])(tVoiceArray&, int32_t, int32_t, const tSectionRings&, int32_t,
                                   float*, float*);
  int32_t (*addFadingPair)(const tFadingPair&, int32_t, float*, float*);
};
#define VM_RUN_SET(K)                                                                \
  {{{K<false, false, false>, K<false, false, true>}, {K<false, true, false>, K<false, true, true>}}, \
   {{K<true, false, false>, K<true, false, true>}, {K<true, true, false>, K<true, true, true>}}}
constexpr tLinearRunSet kAvx2Runs{
    VM_RUN_SET(LinearRunAvx2),
    {{tVoiceLaneKernels::AddTurnFreeAvx2<false, false>, tVoiceLaneKernels::AddTurnFreeAvx2<false, true>},
     {tVoiceLaneKernels::AddTurnFreeAvx2<true, false>, tVoiceLaneKernels::AddTurnFreeAvx2<true, true>}},
    {nullptr, nullptr},
    AddFadingPairAvx2};
constexpr tLinearRunSet kAvx512Runs{
    VM_RUN_SET(LinearRunAvx512),
    {{tVoiceLaneKernels::AddTurnFreeAvx512<false, false>,
      tVoiceLaneKernels::AddTurnFreeAvx512<false, true>},
     {tVoiceLaneKernels::AddTurnFreeAvx512<true, false>,
      tVoiceLaneKernels::AddTurnFreeAvx512<true, true>}},
    {tVoiceLaneKernels::AddTurnFreeSixteenAvx512<false>,
     tVoiceLaneKernels::AddTurnFreeSixteenAvx512<true>},
    AddFadingPairAvx512};
#undef VM_RUN_SET

const tLinearRunSet* RunsOf(tVoiceLanes lanes) {
  switch (lanes) {
    case tVoiceLanes::Avx2: return &kAvx2Runs;
    case tVoiceLanes::Avx512: return &kAvx512Runs;
    default: return nullptr;
  }
}

tVoiceLanes WidestLanes() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
    return tVoiceLanes::Avx512;
  if (__builtin_cpu_supports("avx2")) return tVoiceLanes::Avx2;
  return tVoiceLanes::One;
}

// The widest variant the processor and the system run, chosen once when the library
// loads; none without AVX2 (the step then runs sample by sample).
const tVoiceLanes kWidestLanes = WidestLanes();
std::atomic<tVoiceLanes> lanesInUse{kWidestLanes};

}  // namespace
#endif

bool SetVoiceLanes(tVoiceLanes lanes) {
#if VM_VOICE_VECTORS
  if (static_cast<int32_t>(lanes) > static_cast<int32_t>(kWidestLanes)) return false;
  lanesInUse.store(lanes, std::memory_order_relaxed);
  return true;
#else
  return lanes == tVoiceLanes::One;
#endif
}

tVoiceLanes VoiceLanes() {
#if VM_VOICE_VECTORS
  return lanesInUse.load(std::memory_order_relaxed);
#else
  return tVoiceLanes::One;
#endif
}

namespace {

// A contribution written to its place, or added to the sum there.
template <bool kAdding>
void Put(float& place, float contribution) {
  if (kAdding)
    place += contribution;
  else
    place = contribution;
}
}  // namespace

// The sample step of Step, sample after sample, with every field of the walk and the ramp
// read once and kept in locals; the float operations are the same, in the same order, so
// the contributions are bit for bit those of Step.
template <bool kDynOn, bool kBorrowing, bool kRandomRamps, bool kAdding>
int32_t tSingleClone::RunWalk(int32_t self, const tSectionRings& rings, int32_t firstPos,
                              int32_t from, int32_t to, float dynDepth,
                              const tVoiceArray& voices, float* contributionsA,
                              float* contributionsB) {
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
  // A borrowed table changes only at a bottom turn, which is a draw and ends the run. In
  // to - from samples the walk reaches at most that far either way.
  const tVibratoTable& lenderTable = (kBorrowing ? voices[walkSource] : *this).table;
  PrepareWalk(lenderTable, walkPos, walkStep, walkLen, to - from);
  const float* offsets = lenderTable.Entries();
  const int32_t lastEntry = lenderTable.Capacity() - 1;

#if VM_VOICE_VECTORS
  const tLinearRunSet* const linearRuns = RunsOf(lanesInUse.load(std::memory_order_relaxed));
#endif
  int32_t i = from;
  for (; i < to; ++i) {
#if VM_VOICE_VECTORS
    // Between turns, eight samples at a time.
    if (linearRuns != nullptr) {
      int32_t run = std::min(to - i, SamplesBeforeTurn(walkPos, walkStep, std::min(walkLen, lastEntry + 1)));
      if (kDynOn) run = std::min(run, SamplesBeforeTurn(rampPos, rampStep, rampLen));
      run -= run % kLanes;
      if (run > 0) {
        const tLinearRun linear{offsets,  walkPos + walkStep,
                                kBorrowing ? walkScale : 1.0f,
                                ring,     mask, readBase - i, rampPos + rampStep, rampStep,
                                rampInverse, span, 1.0f - dip, left, right,
                                contributionsA + i, contributionsB + i, run, run, walkStep};
        linearRuns->byCase[kDynOn][walkStep > 0][kAdding](linear);
        walkPos += walkStep * run;
        if (kDynOn) rampPos += rampStep * run;
        i += run;
        if (i == to) break;
      }
    }
#endif
    if (kDynOn && kRandomRamps) {
      const int32_t next = rampPos + rampStep;
      if (next <= 0 || next >= rampLen) break;  // either turn draws
    }
    float s;
    {
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
      const float tableOffset = offsets[entry];
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
      Put<kAdding>(contributionsA[i], (s + 1e-23f) * left * g);
      Put<kAdding>(contributionsB[i], (s + 1e-23f) * right * g);
    } else {
      Put<kAdding>(contributionsA[i], 1e-23f + s * left);
      Put<kAdding>(contributionsB[i], 1e-23f + s * right);
    }
  }

  vibStep = walkStep;
  vibPos = walkPos;
  vibLen = walkLen;
  walkFree = rampFree = 0;
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
                               float* contributionsB, bool adding) {
  const bool borrowing = vibRandom;
  const bool randomRamps = dynOn && dynRandom;
  return WithFlag(dynOn, [&](auto levelMoves) {
    return WithFlag(borrowing, [&](auto borrows) {
      return WithFlag(randomRamps, [&](auto drawsRamps) {
        return WithFlag(adding, [&](auto adds) {
          return RunWalk<decltype(levelMoves)::value, decltype(borrows)::value,
                         decltype(drawsRamps)::value, decltype(adds)::value>(
              self, rings, firstPos, from, to, dynDepth, voices, contributionsA,
              contributionsB);
        });
      });
    });
  });
}

// Voice after voice from voice `first`, as long as a voice neither turns nor draws within
// the chunk: the common case, since a walk turns every few thousand samples. The set-up of
// a voice is then a few loads and comparisons, which keeps short host blocks cheap.
int32_t tSingleClone::AddTurnFreeVoices(tVoiceArray& voices, int32_t first, int32_t count,
                                        const tSectionRings& rings, int32_t firstPos,
                                        int32_t length, bool dynOn, float* sumA, float* sumB) {
#if VM_VOICE_VECTORS
  const tLinearRunSet* const linearRuns = RunsOf(lanesInUse.load(std::memory_order_relaxed));
  if (linearRuns == nullptr) return first;
  const bool wholeGroups = length % kLanes == 0;
  constexpr int32_t kSixteen = 16;
  if (length == kSixteen && linearRuns->addTurnFreeSixteen[dynOn] != nullptr)
    return linearRuns->addTurnFreeSixteen[dynOn](voices, first, count, rings, firstPos, sumA,
                                                 sumB);
  return linearRuns->addTurnFree[dynOn][wholeGroups](voices, first, count, rings, firstPos,
                                                     length, sumA, sumB);
#else
  (void)voices, (void)count, (void)rings, (void)firstPos, (void)length, (void)dynOn;
  (void)sumA, (void)sumB;
  return first;
#endif
}

int32_t AddFadingPair(const tFadingPair& pair, int32_t length, float* sumA, float* sumB) {
#if VM_VOICE_VECTORS
  const tLinearRunSet* const linearRuns = RunsOf(lanesInUse.load(std::memory_order_relaxed));
  if (linearRuns == nullptr) return 0;
  return linearRuns->addFadingPair(pair, length, sumA, sumB);
#else
  (void)pair, (void)length, (void)sumA, (void)sumB;
  return 0;
#endif
}

// The walk moves one entry per step and turns at len and at 0 (after which, on its own
// table, at vibTurn): between two turns it reads a run of consecutive entries. Only what
// those runs cover is filled; a walk that would turn more than twice (a tiny table at a
// low rate) gets the whole table.
void tSingleClone::PrepareWalk(const tVibratoTable& offsets, int32_t pos, int32_t step,
                               int32_t len, int32_t steps) const {
  int32_t lo, hi;
  if (step > 0) {
    const int32_t over = pos + steps - len;  // steps after the top turn
    hi = std::min(len, pos + steps);
    lo = over > 0 ? std::min(pos + 1, len - over) : pos + 1;
  } else {
    const int32_t over = steps - pos;  // steps after the bottom turn
    lo = std::max(pos - steps, 0);
    hi = over > 0 ? std::max(pos - 1, over) : pos - 1;
  }
  if (lo < 0 || hi > std::max(len, vibTurn)) {
    lo = 0;
    hi = offsets.Capacity() - 1;
  }
  offsets.Prepare(lo, hi);
}

// The walk as ReadRing would move it, except that a borrowing voice keeps its lender and
// depth factor at the bottom turn instead of drawing new ones.
void tSingleClone::FadeOutOffsets(const tVoiceArray& voices, float* offsets,
                                  int32_t count) const {
  const bool borrowing = vibRandom;
  const tVibratoTable& lenderTable = (borrowing ? voices[vibSource] : *this).table;
  PrepareWalk(lenderTable, vibPos, vibStep, vibLen, count);
  const float* entries = lenderTable.Entries();
  const int32_t lastEntry = lenderTable.Capacity() - 1;
  // Without borrowing the factor is 1 and leaves every entry as it is.
  const float scale = borrowing ? vibScale : 1.0f;
  auto offset = [&](int32_t pos) { return scale * entries[pos <= lastEntry ? pos : lastEntry]; };
  // Between two turns the walk reads a run of consecutive entries, up or down the table.
  int32_t step = vibStep, pos = vibPos, len = vibLen;
  for (int32_t n = 0; n < count;) {
    if (step > 0 && pos + 1 >= len) {  // the top turn
      pos = len;
      step = -1;
      offsets[n++] = offset(pos);
    } else if (step < 0 && pos - 1 <= 0) {  // the bottom turn
      pos = 0;
      step = 1;
      if (!borrowing) len = vibTurn;
      offsets[n++] = offset(pos);
    } else if (step > 0) {
      const int32_t run = std::min(count - n, std::min(len, lastEntry + 1) - 1 - pos);
      if (run <= 0) {  // a turning point past the table: read its last entry
        offsets[n++] = offset(++pos);
        continue;
      }
      const float* up = entries + pos + 1;  // inside the table: run stops below its end
      for (int32_t r = 0; r < run; ++r) offsets[n + r] = scale * up[r];
      n += run;
      pos += run;
    } else {
      const int32_t run = std::min(count - n, pos - 1);
      const float* down = entries + pos - 1;  // pos - 1 and below, down to 1
      for (int32_t r = 0; r < run; ++r) offsets[n + r] = scale * down[-r];
      n += run;
      pos -= run;
    }
  }
}

float tSingleClone::Level(bool dynOn) const {
  if (!dynOn) return 1.0f;
  return (1.0f - dynDip) + static_cast<float>(dynPos) * dynLenInverse * dynSpan;
}

}  // namespace vm
