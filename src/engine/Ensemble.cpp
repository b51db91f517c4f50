#include "engine/Ensemble.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/FilterLanes.h"
#include "analysis/Filters.h"
#include "analysis/Numeric.h"
#include "engine/SaneBlocks.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VM_ENSEMBLE_SSE2 1
#endif

namespace vm {

namespace {

constexpr float kSubnormalGuard = 1e-23f;
constexpr float kLevelNorm = 1.078f;     // voice level scale: 1.078 / sqrt(count)
constexpr float kDryPlaceGain = 1.3f;    // dry path gain at its stereo place
constexpr double kMaxDryDelaySeconds = 0.25;
// Inputs beyond this are nonsense (+300 dBFS); limiting them keeps every sum finite.
constexpr float kInputLimit = 1e15f;
// The engine's working range of sample rates; the host's value is stored as it came.
constexpr float kMinEngineRate = 1000.0f;
constexpr float kMaxEngineRate = 400000.0f;
// The farthest back a voice can read, in seconds: a delay of at most 0.271 s (Timing 1 at
// timing-table entry 1000) plus a vibrato offset of at most 1.5 (random depth factor) x
// 0.025 x 1.25 x 1.1 (largest voice and bass depth factors) of a period of at most
// 1 / (0.75 Hz x 0.69), which is 0.0997 s; 0.371 s in all, rounded up. The dry delay (at
// most 0.25 s) reaches less far.
constexpr double kMaxReachSeconds = 0.38;
constexpr int32_t kReachMarginSamples = 4;  // roundings and the second interpolation sample

// Who holds the engine: a block, or a lifecycle call doing work no block may overlap.
constexpr uint32_t kBlockRunning = 1, kMaintaining = 2;
constexpr uint32_t kResetRequested = 1;  // a suspend found a block running

// Ring length for a rate: doubled above 50 kHz, quadrupled above 100 kHz, so that the
// longest voice delay (271 ms) and the dry delay (250 ms) fit at 192 kHz.
int32_t RingLengthFor(float rateHz) {
  int32_t length = tEnsemble::kRingLength;
  if (rateHz > 50000.0f) length *= 2;
  if (rateHz > 100000.0f) length *= 2;
  return length;
}

float EngineRateFor(float hostRateHz) {
  if (!(hostRateHz == hostRateHz)) return 44100.0f;
  return std::clamp(hostRateHz, kMinEngineRate, kMaxEngineRate);
}

float SanitisedInput(float x) {
  if (!std::isfinite(x)) return 0.0f;
  return std::clamp(x, -kInputLimit, kInputLimit);
}

int32_t CountOf(const tSettings& s) { return std::clamp(s.Clones, 1, kMaxClones); }

// 10^(level - 0.5): a section or unison level of +-10 dB.
float LevelGain(float level) { return static_cast<float>(std::pow(10.0, Clamped(level) - 0.5)); }

// The stereo range the voices spread over: lo .. hi within 0..1.
struct tStereoRange {
  float lo, hi;
};
tStereoRange StereoRange(const tSettings& s) {
  const float balance = Clamped(s.Balance), focus = Clamped(s.Focus);
  return {std::max(1.0f - balance - 0.5f * focus, 0.0f),
          std::min(1.0f - balance + 0.5f * focus, 1.0f)};
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Bit i set: parameter i differs between the two sets of settings (reals compared bit for
// bit, so a NaN stored again is no change).
uint32_t Differences(const tSettings& a, const tSettings& b) {
  uint32_t bits = 0;
  auto real = [&](tParameterIndex i, float x, float y) { bits |= SameBits(x, y) ? 0 : 1u << i; };
  auto whole = [&](tParameterIndex i, int32_t x, int32_t y) { bits |= x == y ? 0 : 1u << i; };
  whole(kClones, a.Clones, b.Clones);
  real(kTiming, a.Timing, b.Timing);
  real(kVibDepth, a.VibDepth, b.VibDepth);
  real(kVibRate, a.VibRate, b.VibRate);
  whole(kVibRandom, a.VibRandom, b.VibRandom);
  whole(kSplit, a.Split, b.Split);
  real(kBassFmnts, a.BassFmnts, b.BassFmnts);
  real(kBassLevel, a.BassLevel, b.BassLevel);
  real(kAltoFmnts, a.AltoFmnts, b.AltoFmnts);
  real(kAltoLevel, a.AltoLevel, b.AltoLevel);
  whole(kSection, a.Section, b.Section);
  real(kFocus, a.Focus, b.Focus);
  real(kBalance, a.Balance, b.Balance);
  real(kMix, a.Mix, b.Mix);
  real(kDryDelay, a.DryDelay, b.DryDelay);
  real(kDynDepth, a.DynDepth, b.DynDepth);
  real(kDynRate, a.DynRate, b.DynRate);
  whole(kDynRandom, a.DynRandom, b.DynRandom);
  real(kUnisonFmnts, a.UnisonFmnts, b.UnisonFmnts);
  real(kUnisonLevel, a.UnisonLevel, b.UnisonLevel);
  real(kGain, a.Gain, b.Gain);
  return bits;
}

// The parameters whose change reconfigures the voices.
constexpr uint32_t kVoiceBits = [] {
  uint32_t bits = 0;
  for (const tParameterInfo& p : kParameters)
    if (p.concerns & kConcernVoices) bits |= 1u << p.index;
  return bits;
}();

// Copies the settings that configure the voices.
void CopyVoiceSettings(const tSettings& from, tSettings& to) {
  to.Clones = from.Clones;
  to.Timing = from.Timing;
  to.VibDepth = from.VibDepth;
  to.VibRate = from.VibRate;
  to.VibRandom = from.VibRandom;
  to.Split = from.Split;
  to.Section = from.Section;
  to.Focus = from.Focus;
  to.Balance = from.Balance;
  to.DynDepth = from.DynDepth;
  to.DynRate = from.DynRate;
  to.DynRandom = from.DynRandom;
}

// Zeroes two chunk sums; a 16-sample chunk (a common host block) without a library call.
void ZeroSums(float* sumA, float* sumB, int32_t length) {
  constexpr int32_t kShortChunk = 16;
  if (length == kShortChunk) {
    for (int32_t i = 0; i < kShortChunk; ++i) sumA[i] = sumB[i] = 0.0f;
    return;
  }
  std::fill(sumA, sumA + length, 0.0f);
  std::fill(sumB, sumB + length, 0.0f);
}

bool UnisonFarFromMiddle(float unisonFmnts) {
  // Within 0.02 of the middle the unison section is the input itself.
  return std::fabs(Clamped(unisonFmnts) - 0.5f) > 0.02f;
}

}  // namespace

tEnsemble::tEnsemble(float sampleRateHz) {
  SetFloatControl();
  engineRate = EngineRateFor(sampleRateHz);
  AllocateRings(engineRate);
  const size_t contributionCount = static_cast<size_t>(kMaxClones) * kMaxChunk;
  contributionsA = std::make_unique<float[]>(contributionCount);
  contributionsB = std::make_unique<float[]>(contributionCount);
  for (auto* sum : {&chunkSumA, &chunkSumB, &fadingSumA, &fadingSumB})
    *sum = std::make_unique<float[]>(kMaxChunk);
  vibRateLogMin = static_cast<float>(std::log10(1.1));
  vibRateLogMax = static_cast<float>(std::log10(8.0));
  // The 32 voices were created for 44100 Hz.
  if (engineRate != 44100.0f)
    for (auto& voice : voices) voice.SetSampleRate(engineRate);
  const int32_t rate = nearest(engineRate);
  shifter = std::make_unique<tFormantShifter>(rate);
  bassOctaver = std::make_unique<tOctaver>(rate, true, false);
  altoOctaver = std::make_unique<tOctaver>(rate, false, true);
  sectionChunk = std::make_unique<tSectionChunk>();
  AllocateFades(engineRate);
  InitVoiceTables();
  ConfigureAtOnce(parameters.Snapshot());
  parameters.TakeChanges();
}

tEnsemble::~tEnsemble() = default;

void tEnsemble::AllocateRings(float rateHz) {
  const int32_t length = RingLengthFor(rateHz);
  chunkLimitSamples = ChunkLimitFor(rateHz, length);
  if (dryRing && ringMask + 1 == length) return;
  dryRing = std::make_unique<float[]>(length);
  unisonRing = std::make_unique<float[]>(length);
  bassRing = std::make_unique<float[]>(length);
  altoRing = std::make_unique<float[]>(length);
  ringMask = length - 1;
  writePos = 0;
}

void tEnsemble::AllocateFades(float rateHz) {
  const int32_t samples = std::max(nearest(kCrossfadeSeconds * rateHz), 1);
  if (samples != fade.Length() || !fadingOffsets) {
    fade.Allocate(samples);
    fadingOffsets = std::make_unique<float[]>(static_cast<size_t>(kMaxClones) * samples);
  }
  glideSamples = std::max(nearest(kGlideSeconds * rateHz), 1);
  warmUpSamples = nearest(kWarmUpSeconds * rateHz);
}

void tEnsemble::ClearRings() {
  const size_t length = static_cast<size_t>(ringMask) + 1;
  for (float* ring : {dryRing.get(), unisonRing.get(), bassRing.get(), altoRing.get()})
    std::fill(ring, ring + length, 0.0f);
  writePos = 0;
}

void tEnsemble::InitVoiceTables() {
  for (int32_t i = 0; i < kMaxClones; ++i) voices[i].InitVoiceTable(i);
  // Voices with the same speed and depth factor build the same tables.
  for (int32_t i = 0; i < kMaxClones; ++i)
    for (int32_t j = 0; j < i; ++j)
      if (speedTable[i] == speedTable[j] && vibScaleTable[i] == vibScaleTable[j]) {
        voices[i].JoinTwins(voices[j]);
        break;
      }
}

// ---- changes ----

// Every engine setting from `latest`, with nothing to fade from: the state right after
// construction, a suspend or a new sample rate.
void tEnsemble::ConfigureAtOnce(const tSettings& latest) {
  applied = latest;
  ConfigureVoices();
  dryDelaySamples = nearest(Clamped(applied.DryDelay) * kMaxDryDelaySeconds * engineRate);
  ConfigureHeads();
  SetGainTargets(applied, true);
  SettleFades();
  changesWaiting = false;
}

// The voices for the applied settings: which delay, vibrato, level movement, place and
// ring each voice gets. While sound runs, restarted walks turn at their new halves.
void tEnsemble::ConfigureVoices() {
  RunWaitingSections();  // the new voices may read nearer
  const tSettings& s = applied;
  const int32_t count = CountOf(s);
  const float dynDepth = Clamped(s.DynDepth), dynRate = Clamped(s.DynRate);
  const bool dynRandom = s.DynRandom, vibRandom = s.VibRandom;
  const bool dynChanged =
      dynDepth != lastDynDepth || dynRate != lastDynRate || dynRandom != lastDynRandom;
  lastDynDepth = dynDepth;
  lastDynRate = dynRate;
  lastDynRandom = dynRandom;

  tVoiceSetup setup{};
  setup.levelNorm = kLevelNorm / std::sqrt(static_cast<float>(count));
  setup.order = s.Section % 4;
  const tStereoRange range = StereoRange(s);
  setup.lo = range.lo;
  setup.width = range.hi - range.lo;
  setup.count = count;
  setup.dynChanged = dynChanged;
  // Few voices get a wider choice of vibrato rates: 0.75 to 12 Hz instead of 1.1 to 8 Hz.
  const bool narrowRates = count > 3 || vibRandom;
  vibRateLogMin = static_cast<float>(std::log10(narrowRates ? 1.1 : 0.75));
  vibRateLogMax = static_cast<float>(std::log10(narrowRates ? 8.0 : 12.0));
  setup.vibRateLogMin = vibRateLogMin;
  setup.vibRateLogMax = vibRateLogMax;
  setup.vibRateBase = VibratoRateBase(vibRateLogMin, vibRateLogMax, Clamped(s.VibRate));
  setup.Timing = Clamped(s.Timing);
  setup.VibDepth = Clamped(s.VibDepth);
  setup.VibRate = Clamped(s.VibRate);
  setup.DynDepth = dynDepth;
  setup.DynRate = dynRate;
  setup.Focus = Clamped(s.Focus);
  setup.VibRandom = vibRandom;
  setup.DynRandom = dynRandom;
  setup.Split = s.Split;

  // With random borrowing any voice's table or ramp may be used, so all 32 stay current.
  const int32_t voicesToSetUp = (vibRandom || dynRandom) ? kMaxClones : count;
  for (int32_t i = 0; i < voicesToSetUp; ++i) voices[i].SetUp(i, setup);

  voiceValues.clones = count;
  voiceValues.dynDepth = dynDepth;
  voiceValues.dynOn = dynDepth > 0.02f;  // level movement off at 0.02 and below
  UpdateSectionLag();
}

// Formant ratios of the three heads. The bass copy has its formants raised (1.4 to 2.0)
// before the octaver halves every frequency, the alto copy lowered (0.5 to 0.675) before
// it doubles them; the unison ratio runs from 0.85 to 1.3. A head takes its ratio at the
// next cycle it reshapes.
void tEnsemble::ConfigureHeads() {
  RunWaitingSections();  // the waiting samples with the ratios they came with
  constexpr float kLowFactorBass = 0.8f, kLowFactorAlto = 1.5f;  // low band edge, x f0
  constexpr float kHighHz = 8000.0f;                             // band top
  constexpr float kFadeIn = 0.05f, kFadeOut = 0.8f;              // band edge fades
  const tSettings& s = applied;
  const float unisonFmnts = Clamped(s.UnisonFmnts);
  const float unisonRatio = unisonFmnts < 0.5f ? 0.85f + unisonFmnts * 2 * 0.15f
                                               : 1.0f + (unisonFmnts - 0.5f) * 2 * 0.3f;
  shifter->SetHalfHead(2.0f - 0.6f * Clamped(s.BassFmnts), kLowFactorBass, kHighHz, kFadeIn, kFadeOut);
  shifter->SetUnisonHead(unisonRatio, kLowFactorBass, kHighHz, kFadeIn, kFadeOut);
  shifter->SetDoubleHead(0.5f + 0.175f * Clamped(s.AltoFmnts), kLowFactorAlto, kHighHz, kFadeIn, kFadeOut);
}

// The gains of the output, the dry path and the sections; `latest` gives the dry path's
// place (Focus, Balance) even while the voices still wait for them.
void tEnsemble::SetGainTargets(const tSettings& latest, bool atOnce) {
  const float outGain =
      static_cast<float>(std::pow(10.0, (Clamped(applied.Gain) - 0.5) * 40.0 / 20.0));  // +-20 dB
  const float mix = Clamped(applied.Mix);
  float wetGain = outGain * mix;
  float dryGain = (1.0f - mix) * outGain;
  if (wetGain < 0.1f) wetGain += kSubnormalGuard;
  if (dryGain < 0.1f) dryGain += kSubnormalGuard;
  const tStereoRange range = StereoRange(latest);
  const float place = range.lo + 0.5f * (range.hi - range.lo);
  const struct {
    tGlide& glide;
    float target;
  } targets[] = {{wet, wetGain},
                 {dry, dryGain},
                 {dryA, kDryPlaceGain * place},
                 {dryB, kDryPlaceGain * (1.0f - place)},
                 {unisonGain, LevelGain(applied.UnisonLevel)},
                 {bassGain, LevelGain(applied.BassLevel)},
                 {altoGain, LevelGain(applied.AltoLevel)}};
  for (const auto& t : targets) {
    if (atOnce)
      t.glide.Jump(t.target);
    else
      t.glide.MoveTo(t.target, glideSamples);
  }
}

// Which section rings are written and where the unison copy heads. While voices fade,
// the sections of both sets keep their rings going. At once (nothing sounding yet) every
// engine's output counts from the first sample; while sound runs an engine that starts is
// reset and warms up first, so its first rough cycles never reach a ring.
void tEnsemble::SetSections(tSplitSections wanted, bool atOnce) {
  RunWaitingSections();  // the waiting samples with the sections they came with
  const int32_t settled = fade.Length();
  const bool shifterRan = sections.ShifterRuns();
  auto turn = [&](bool want, tSection& section, tOctaver& octaver) {
    if (want && !section.on) {
      if (!atOnce) octaver.Reset();
      section.warmUp = atOnce ? 0 : warmUpSamples;
      section.fadeIn = atOnce ? settled : 0;
    }
    section.on = want;
  };
  turn(wanted.bass, sections.bass, *bassOctaver);
  turn(wanted.alto, sections.alto, *altoOctaver);
  const bool shift = wanted.unison && UnisonFarFromMiddle(applied.UnisonFmnts);
  if (shift && !sections.unisonShifted && sections.unisonShift == 0)
    sections.unisonWarmUp = atOnce ? 0 : warmUpSamples;  // the unison head starts
  sections.unisonShifted = shift;
  if (atOnce) sections.unisonShift = shift ? settled : 0;
  if (!atOnce && !shifterRan && sections.ShifterRuns()) shifter->Reset();
}

void tEnsemble::SettleFades() {
  for (tGlide* glide : {&wet, &dry, &dryA, &dryB, &unisonGain, &bassGain, &altoGain})
    glide->Settle();
  voiceFadeAt = -1;
  fadingCount = 0;
  UpdateSectionLag();
  dryFadeAt = -1;
  SetSections(SectionsOf(applied.Split), true);
  for (tSection* section : {&sections.bass, &sections.alto}) {
    section->warmUp = 0;
    section->fadeIn = fade.Length();
  }
  sections.unisonWarmUp = 0;
}

// At the start of a block: what changed since the last one. Gains and formant ratios
// follow at once (gliding); voice and dry-tap changes start their crossfades at the next
// chunk that finds no crossfade of theirs running.
void tEnsemble::TakeChanges() {
  // A plain load first: the exchange locks the bus, and most blocks find nothing.
  if (!changesWaiting && !parameters.HasChanges()) return;
  if (parameters.TakeChanges() == 0 && !changesWaiting) return;
  const tSettings latest = parameters.Snapshot();
  const uint32_t changed = Differences(applied, latest);
  if (changed == 0) {
    changesWaiting = false;
    return;
  }
  if (fresh) {
    ConfigureAtOnce(latest);
    return;
  }
  const uint32_t concerns = ConcernsOf(changed);
  if (concerns & (kConcernGains | kConcernDryPath)) {
    applied.Gain = latest.Gain;
    applied.Mix = latest.Mix;
    applied.UnisonLevel = latest.UnisonLevel;
    applied.BassLevel = latest.BassLevel;
    applied.AltoLevel = latest.AltoLevel;
    SetGainTargets(latest, false);
  }
  if (concerns & kConcernSections) {
    applied.BassFmnts = latest.BassFmnts;
    applied.AltoFmnts = latest.AltoFmnts;
    applied.UnisonFmnts = latest.UnisonFmnts;
    ConfigureHeads();
    const tSplitSections used = SectionsOf(applied.Split);
    SetSections({sections.bass.on, used.unison, sections.alto.on}, false);
  }
  changesWaiting = (changed & (kVoiceBits | (1u << kDryDelay))) != 0;
}

// At the start of a chunk: a voice or dry-tap change whose crossfade can start now, with
// the latest values.
void tEnsemble::ApplyWaitingChanges() {
  const tSettings latest = parameters.Snapshot();
  const uint32_t changed = Differences(applied, latest);
  bool waiting = false;
  if (changed & kVoiceBits) {
    if (voiceFadeAt < 0)
      StartVoiceFade(latest);
    else
      waiting = true;
  }
  if (changed & (1u << kDryDelay)) {
    if (dryFadeAt < 0)
      StartDryFade(latest.DryDelay);
    else
      waiting = true;
  }
  changesWaiting = waiting;
}

// The sounding voices as they are become the fading set: ring, delay, gains with the level
// they have now, and the vibrato offsets their walks would read over the fade. Then the
// voices are set up anew and fade in.
void tEnsemble::StartVoiceFade(const tSettings& latest) {
  const int32_t length = fade.Length();
  const tSplitSections before = SectionsOf(applied.Split);
  fadingCount = voiceValues.clones;
  for (int32_t k = 0; k < fadingCount; ++k) {
    const tSingleClone& voice = voices[k];
    const float level = voice.Level(voiceValues.dynOn);
    fadingVoices[k] = {voice.Source(), voice.Delay(), voice.GainLeft() * level,
                       voice.GainRight() * level};
    voice.FadeOutOffsets(voices, fadingOffsets.get() + static_cast<size_t>(k) * length, length);
  }
  CopyVoiceSettings(latest, applied);
  ConfigureVoices();
  voiceFadeAt = 0;
  const tSplitSections after = SectionsOf(applied.Split);
  SetSections({before.bass || after.bass, before.unison || after.unison, before.alto || after.alto},
              false);
}

void tEnsemble::EndVoiceFade() {
  voiceFadeAt = -1;
  fadingCount = 0;
  UpdateSectionLag();
  SetSections(SectionsOf(applied.Split), false);
}

void tEnsemble::StartDryFade(float dryDelay) {
  applied.DryDelay = dryDelay;
  const int32_t samples = nearest(Clamped(dryDelay) * kMaxDryDelaySeconds * engineRate);
  if (samples == dryDelaySamples) return;
  dryDelayFrom = dryDelaySamples;
  dryDelaySamples = samples;
  dryFadeAt = 0;
}

// ---- lifecycle ----

bool tEnsemble::Claim(uint32_t claimant) {
  uint32_t free = 0;
  return owner.compare_exchange_strong(free, claimant, std::memory_order_acquire,
                                       std::memory_order_relaxed);
}

// Work no block may overlap: a new sample rate (reallocates) and a suspend's reset. When a
// block holds the engine the reset is left to the next block and the rate to the next call
// that finds the engine free.
void tEnsemble::Maintain() {
  if (!Claim(kMaintaining)) return;
  const float rate = pendingRate.exchange(0.0f, std::memory_order_acq_rel);
  if (rate > 0.0f && rate != engineRate) ApplySampleRate(rate);
  if (requests.exchange(0, std::memory_order_acq_rel) & kResetRequested) ResetSignal();
  Release();
}

void tEnsemble::ServeRequests() {
  if (requests.load(std::memory_order_acquire) == 0) return;
  if (requests.exchange(0, std::memory_order_acq_rel) & kResetRequested) ResetSignal();
}

void tEnsemble::Suspend() {
  SetFloatControl();
  running.store(false, std::memory_order_release);
  requests.fetch_or(kResetRequested, std::memory_order_acq_rel);
  Maintain();
}

void tEnsemble::Resume() {
  SetFloatControl();
  Maintain();
  running.store(true, std::memory_order_release);
}

// The whole engine follows the host's rate: rings sized for it, voices and dry delay
// reconfigured, so delays, vibrato periods and ramps keep their length in seconds.
void tEnsemble::SetSampleRate(float rateHz) {
  SetFloatControl();
  pendingRate.store(EngineRateFor(rateHz), std::memory_order_release);
  if (!running.load(std::memory_order_acquire)) Maintain();
}

void tEnsemble::ApplySampleRate(float rateHz) {
  RunWaitingSections();
  engineRate = rateHz;
  AllocateRings(rateHz);
  ClearRings();
  for (auto& voice : voices) voice.SetSampleRate(rateHz);
  const int32_t rate = nearest(rateHz);
  shifter->SetSampleRate(rate);
  bassOctaver->SetSampleRate(rate);
  altoOctaver->SetSampleRate(rate);
  AllocateFades(rateHz);
  ConfigureAtOnce(parameters.Snapshot());
  fresh = true;
}

// Silence: rings zeroed, section engines reset, every fade ended. The voices keep their
// walks and ramps; the next block applies any changes at once.
void tEnsemble::ResetSignal() {
  RunWaitingSections();
  ClearRings();
  shifter->Reset();
  bassOctaver->Reset();
  altoOctaver->Reset();
  SettleFades();
  fresh = true;
}

// ---- processing ----

void tEnsemble::Process(const float* input, float* outputA, float* outputB, int32_t count,
                        bool replacing) {
  SetFloatControl();
  if (!Claim(kBlockRunning)) {
    if (replacing && count > 0) {
      std::fill(outputA, outputA + count, 0.0f);
      std::fill(outputB, outputB + count, 0.0f);
    }
    return;
  }
  ServeRequests();
  TakeChanges();
  if (count > 0) {
    RenderBlock(input, outputA, outputB, count, replacing);
    fresh = false;
  }
  Release();
}

// A chunk's ring samples are all written before any voice reads, so a voice reading d
// samples back from sample i must not reach a sample written later in the chunk: that
// needs chunk length + d < ring length. At the highest rates the rings leave no room and
// chunks shrink to single samples.
int32_t tEnsemble::ChunkLimitFor(float rateHz, int32_t ringLength) {
  const int32_t reach = nearest(kMaxReachSeconds * rateHz) + kReachMarginSamples;
  return std::clamp(ringLength - reach, 1, kMaxChunk);
}

// One chunk through the section engines into the bass, unison and alto rings: the shifter
// over the whole chunk, then both octavers side by side (their filters overlap), then the
// rings. The engines see at most +-1000 (+60 dBFS): far beyond any real voice, and small
// enough that a cycle's spectrum cannot overflow. Whatever they return, only finite values
// reach a ring, so the voices and the output stay finite.
void tEnsemble::SectionChunk(int32_t length, int32_t firstPos) {
  tSectionChunk& c = *sectionChunk;
  SaneBlock(c.input, c.shifterIn, length);
  // Short chunks in one go: pieces would be too short for the filter lanes to gain.
  constexpr int32_t kShortestPipelined = 128;
  if (length >= kShortestPipelined && shifter->FiltersRunInBlocks())
    RunSectionEnginesPipelined(length);
  else
    RunSectionEngines(length);
  // Once every sounding section has warmed up and faded in (almost every chunk), each ring
  // takes its samples in one pass, four at a time; otherwise, and in chunks too short for a
  // group of four, sample by sample with the sections' state.
  constexpr int32_t kShortestInPasses = 4;
  if (length >= kShortestInPasses && RingsSettled())
    WriteSettledRings(length, firstPos);
  else
    WriteRingsSampleBySample(length, firstPos);
}

bool tEnsemble::RingsSettled() const {
  const int32_t settled = fade.Length();
  auto octaverSettled = [&](const tSection& section) {
    return !section.on || (section.warmUp == 0 && section.fadeIn >= settled);
  };
  const bool unisonSettled =
      !shifter->UnisonOn || (sections.unisonWarmUp == 0 && sections.unisonShifted &&
                             sections.unisonShift == settled);
  return octaverSettled(sections.bass) && octaverSettled(sections.alto) && unisonSettled;
}

// Every sounding ring takes its section's output times its gain: nothing fades.
void tEnsemble::WriteSettledRings(int32_t length, int32_t firstPos) {
  tSectionChunk& c = *sectionChunk;
  if (sections.bass.on)
    ScaledSaneIntoRing(c.bassLevel, c.bassOut, length, bassRing.get(), firstPos, ringMask);
  if (shifter->UnisonOn)
    ScaledSaneIntoRing(c.unisonLevel, c.shiftedUnison, length, unisonRing.get(), firstPos,
                       ringMask);
  if (sections.alto.on)
    ScaledSaneIntoRing(c.altoLevel, c.altoOut, length, altoRing.get(), firstPos, ringMask);
}

// A ring whose section just came on fades from what it held into the new signal; the
// unison ring fades between the plain input and the shifted copy.
void tEnsemble::WriteRingsSampleBySample(int32_t length, int32_t firstPos) {
  tSectionChunk& c = *sectionChunk;
  const bool bassOn = sections.bass.on, altoOn = sections.alto.on;
  const int32_t settled = fade.Length();
  auto write = [&](float* ring, int32_t pos, float value, tSection& section) {
    if (section.warmUp > 0) {
      --section.warmUp;
      return;
    }
    if (section.fadeIn < settled) {
      const float old = ring[pos];
      value = old + fade.Weight(++section.fadeIn) * (value - old);
    }
    ring[pos] = value;
  };
  const bool unisonOn = shifter->UnisonOn;
  for (int32_t i = 0; i < length; ++i) {
    const int32_t pos = (firstPos - i) & ringMask;
    if (bassOn) write(bassRing.get(), pos, c.bassLevel[i] * SaneSample(c.bassOut[i]), sections.bass);
    if (unisonOn) {
      int32_t& shift = sections.unisonShift;
      if (sections.unisonWarmUp > 0)
        --sections.unisonWarmUp;
      else if (sections.unisonShifted && shift < settled)
        ++shift;
      else if (!sections.unisonShifted && shift > 0)
        --shift;
      const float level = c.unisonLevel[i];
      const float shifted = level * SaneSample(c.shiftedUnison[i]);
      const float unisonPlain = level * c.input[i];
      if (shift == settled)
        unisonRing[pos] = shifted;
      else if (shift > 0)
        unisonRing[pos] = unisonPlain + fade.Weight(shift) * (shifted - unisonPlain);
    }
    if (altoOn) write(altoRing.get(), pos, c.altoLevel[i] * SaneSample(c.altoOut[i]), sections.alto);
  }
}

// The section engines one after the other: the shifter over the whole chunk, then both
// octavers side by side.
void tEnsemble::RunSectionEngines(int32_t length) {
  tSectionChunk& c = *sectionChunk;
  shifter->ProcessBlock(c.shifterIn, length, c.shiftedHalf, c.shiftedUnison, c.shiftedDouble);
  const bool bassOn = sections.bass.on, altoOn = sections.alto.on;
  SaneBlock(c.shiftedHalf, c.bassIn, length);
  SaneBlock(c.shiftedDouble, c.altoIn, length);
  for (int32_t start = 0; start < length; start += tOctaver::kBlock) {
    const int32_t n = std::min(tOctaver::kBlock, length - start);
    if (bassOn) bassOctaver->PrepareBlock(c.bassIn + start, n);
    if (altoOn) altoOctaver->PrepareBlock(c.altoIn + start, n);
    tOctaver::FilterBlocks(bassOn ? bassOctaver.get() : nullptr,
                           altoOn ? altoOctaver.get() : nullptr, n);
    if (bassOn) bassOctaver->FinishBlock(n, c.bassOut + start, c.unused);
    if (altoOn) altoOctaver->FinishBlock(n, c.unused, c.altoOut + start);
  }
}

namespace {
// Samples per piece of a chunk in the pipelined section engines: a quarter of the chunk
// within 32 to 128 samples (short chunks in one piece). Shorter pieces overlap more of the
// shifter's filtering; each piece costs its filters' ramp up and down (their lags).
int32_t SectionPiece(int32_t length) {
  if (length < 32) return length;
  return std::clamp((length + 3) / 4, 32, 128);
}
}  // namespace

// The section engines piece by piece, the shifter's filters one piece ahead and the bass
// octaver's output low-pass one piece behind: the filters of piece k + 1 of the shifter (the
// keeper's chain and the analyser's low-pass), both octavers' filters of piece k and the
// bass octaver's 14 kHz low-pass of piece k - 1 run in the same vector lanes, so that the
// serial recursions of all three engines advance together, and the octaver's cycle loop
// no longer waits on its low-pass. Every engine still sees its samples in order, so the
// outputs are those of RunSectionEngines.
void tEnsemble::RunSectionEnginesPipelined(int32_t length) {
  tSectionChunk& c = *sectionChunk;
  const bool bassOn = sections.bass.on, altoOn = sections.alto.on;
  const int32_t piece = SectionPiece(length);
  tFilter* filters[kMaxLaneFilters];
  const float* source[kMaxLaneFilters];
  float* dest[kMaxLaneFilters];
  int32_t lag[kMaxLaneFilters], lengths[kMaxLaneFilters];
  // Links from `count` on get `n` samples each; returns the new count.
  auto lengthsFrom = [&](int32_t count, int32_t added, int32_t n) {
    for (int32_t k = count; k < count + added; ++k) lengths[k] = n;
    return count + added;
  };
  auto add = [&](auto& engine, int32_t count, int32_t n) {
    return lengthsFrom(count,
                       engine.AddFilterLinks(filters + count, source + count, dest + count,
                                             lag + count),
                       n);
  };
  // The bass output low-pass of the piece [start, start + n).
  auto addBassOutput = [&](int32_t count, int32_t start, int32_t n) {
    if (!bassOn || n <= 0) return count;
    return lengthsFrom(count,
                       bassOctaver->AddOutputLink(c.bassPlayed + start, c.bassOut + start,
                                                  filters + count, source + count,
                                                  dest + count, lag + count),
                       n);
  };
  int32_t ahead = std::min(piece, length);  // samples of the shifter's prepared piece
  shifter->PrepareBlock(c.shifterIn, ahead);
  RunFilterSet(filters, source, dest, lag, add(*shifter, 0, ahead), lengths);
  shifter->DetectBlock(ahead);
  int32_t playedStart = 0, played = 0;  // the bass piece waiting for its low-pass
  for (int32_t start = 0; start < length;) {
    const int32_t n = ahead;
    shifter->PlayBlock(n, c.shiftedHalf + start, c.shiftedUnison + start, c.shiftedDouble + start);
    SaneBlock(c.shiftedHalf + start, c.bassIn + start, n);
    SaneBlock(c.shiftedDouble + start, c.altoIn + start, n);
    int32_t count = addBassOutput(0, playedStart, played);
    if (bassOn) {
      bassOctaver->PrepareBlock(c.bassIn + start, n);
      count = add(*bassOctaver, count, n);
    }
    if (altoOn) {
      altoOctaver->PrepareBlock(c.altoIn + start, n);
      count = add(*altoOctaver, count, n);
    }
    ahead = std::min(piece, length - (start + n));
    if (ahead > 0) {
      shifter->PrepareBlock(c.shifterIn + start + n, ahead);
      count = add(*shifter, count, ahead);
    }
    RunFilterSet(filters, source, dest, lag, count, lengths);
    if (ahead > 0) shifter->DetectBlock(ahead);
    if (bassOn) bassOctaver->PlayBlock(n, c.bassPlayed + start, c.unused);
    if (altoOn) altoOctaver->FinishBlock(n, c.unused, c.altoOut + start);
    playedStart = start;
    played = n;
    start += n;
  }
  const int32_t count = addBassOutput(0, playedStart, played);
  if (count > 0) {
    RunFilterSet(filters, source, dest, lag, count, lengths);
    bassOctaver->HalfOut = c.bassOut[length - 1];
  }
}

// Sample i of the chunk goes to ring position (firstPos - i) & mask: the rings are written
// backwards. The dry and plain unison samples go in at once; the section engines may leave
// a short chunk waiting and run it together with the next ones (see DeferSections).
void tEnsemble::WriteChunkRings(const float* in, int32_t length, int32_t firstPos) {
  shifter->HalfOn = sections.bass.on;
  shifter->DoubleOn = sections.alto.on;
  shifter->UnisonOn = sections.unisonShifted || sections.unisonShift > 0;
  if (sectionsWaiting + length > kMaxChunk) RunWaitingSections();
  tSectionChunk& c = *sectionChunk;
  const int32_t at = sectionsWaiting;  // the chunk's place behind the waiting samples
  if (at == 0) waitingFirstPos = firstPos;
  for (int32_t i = 0; i < length; ++i) {
    const float x = SanitisedInput(in[i]) + kSubnormalGuard;
    const int32_t pos = (firstPos - i) & ringMask;
    const float level = unisonGain.Next();
    c.input[at + i] = x;
    c.unisonLevel[at + i] = level;
    c.bassLevel[at + i] = bassGain.Next();
    c.altoLevel[at + i] = altoGain.Next();
    const float unisonSample = level * x;
    dryRing[pos] = unisonSample;
    unisonRing[pos] = unisonSample;
  }
  if (!sections.ShifterRuns()) return;
  sectionsWaiting += length;
  if (!DeferSections()) RunWaitingSections();
}

// Whether the section samples waiting may wait for the next chunk. Every voice reads at
// least sectionLagLimit + 1 samples back, so the newest sectionLagLimit section samples are
// not read before the next chunk, and the engines, which give the same output whatever
// their chunks, can take several short chunks at once. Only while every section sounds
// settled: warm-ups and fades advance sample by sample with the chunk they are written in.
bool tEnsemble::DeferSections() const {
  // Chunks this long run alone: the section engines gain little from longer ones.
  constexpr int32_t kLongEnoughAlone = 128;
  return sectionsWaiting <= sectionLagLimit && sectionsWaiting < kLongEnoughAlone &&
         RingsSettled();
}

void tEnsemble::RunWaitingSections() {
  if (sectionsWaiting == 0) return;
  SectionChunk(sectionsWaiting, waitingFirstPos);
  sectionsWaiting = 0;
}

// The nearest any sounding or fading voice reads: its delay less one sample (the vibrato
// offset, never negative, rounds to at least -1), less one sample of margin.
void tEnsemble::UpdateSectionLag() {
  int32_t nearestDelay = std::numeric_limits<int32_t>::max();  // samples
  for (int32_t k = 0; k < voiceValues.clones; ++k)
    nearestDelay = std::min(nearestDelay, voices[k].Delay());
  for (int32_t k = 0; k < fadingCount; ++k)
    nearestDelay = std::min(nearestDelay, fadingVoices[k].delay);
  constexpr int32_t kReadMargin = 2;  // the offset's rounding and one sample to spare
  sectionLagLimit = std::clamp(nearestDelay - kReadMargin, 0, kMaxChunk / 2);
}

// Every sounding voice's sample step for the sample at ring position `pos`, in voice order.
void tEnsemble::StepAllVoices(const tSectionRings& rings, int32_t pos, float& sumA,
                              float& sumB) {
  sumA = 0.0f;
  sumB = 0.0f;
  for (int32_t k = 0; k < voiceValues.clones; ++k)
    voices[k].Step(k, rings, pos, voiceValues.dynOn, voiceValues.dynDepth, voices, sumA, sumB);
}

// The voices of one chunk, voice by voice. The shared random generator must see its draws
// in sample order and, within a sample, in voice order, as if the voices stepped sample by
// sample together: each voice runs ahead until it would draw, then the waiting voice with
// the earliest (sample, voice) takes its one drawing step and runs ahead again. The sums
// add the contributions per sample in voice order, so they round exactly as a per-sample
// loop would: in the first pass a voice adds straight into the sums up to the first
// sample at which it or a voice before it stopped (everywhere, when nobody draws); from
// there on its contributions are kept and added at the end, voice after voice.
void tEnsemble::RenderVoices(const tSectionRings& rings, int32_t firstPos, int32_t length) {
  float* sumA = chunkSumA.get();
  float* sumB = chunkSumB.get();
  // A single sample has nothing to run ahead for.
  if (length == 1) {
    StepAllVoices(rings, firstPos, sumA[0], sumB[0]);
    return;
  }
  const int32_t count = voiceValues.clones;
  const bool dynOn = voiceValues.dynOn;
  const float dynDepth = voiceValues.dynDepth;
  auto voiceA = [&](int32_t k) { return contributionsA.get() + k * kMaxChunk; };
  auto voiceB = [&](int32_t k) { return contributionsB.get() + k * kMaxChunk; };
  auto runAhead = [&](int32_t k, int32_t from, int32_t to, bool adding) {
    float* a = adding ? sumA : voiceA(k);
    float* b = adding ? sumB : voiceB(k);
    return voices[k].RunAhead(k, rings, firstPos, from, to, dynOn, dynDepth, voices, a, b,
                              adding);
  };
  ZeroSums(sumA, sumB, length);
  int32_t stoppedAt[kMaxClones];
  int32_t keptFrom[kMaxClones];  // voice k's contributions from here on wait in voiceA(k)
  int32_t added = length;        // samples to which every voice so far has added
  uint64_t turnFree = 0;         // bit k: voice k ran through the chunk with the sums
  for (int32_t k = 0; k < count; ++k) {
    if (added == length) {
      const int32_t turning = tSingleClone::AddTurnFreeVoices(voices, k, count, rings, firstPos,
                                                              length, dynOn, sumA, sumB);
      turnFree |= ((uint64_t{1} << turning) - 1) & ~((uint64_t{1} << k) - 1);
      k = turning;
      if (k == count) break;
    }
    int32_t stop = runAhead(k, 0, added, true);
    keptFrom[k] = stop;
    if (stop == added && added < length) stop = runAhead(k, added, length, false);
    stoppedAt[k] = stop;
    added = keptFrom[k];
  }
  if (added == length) return;  // nobody drew
  for (int32_t k = 0; k < count; ++k)
    if (turnFree >> k & 1) stoppedAt[k] = keptFrom[k] = length;
  for (;;) {
    int32_t next = -1;
    for (int32_t k = 0; k < count; ++k)
      if (stoppedAt[k] < length && (next < 0 || stoppedAt[k] < stoppedAt[next])) next = k;
    if (next < 0) break;
    const int32_t i = stoppedAt[next];
    float a = 0.0f, b = 0.0f;
    voices[next].Step(next, rings, (firstPos - i) & ringMask, dynOn, dynDepth, voices, a, b);
    voiceA(next)[i] = a;
    voiceB(next)[i] = b;
    stoppedAt[next] = runAhead(next, i + 1, length, false);
  }

  for (int32_t k = 0; k < count; ++k) {
    const float* a = voiceA(k);
    const float* b = voiceB(k);
    for (int32_t i = keptFrom[k]; i < length; ++i) sumA[i] += a[i];
    for (int32_t i = keptFrom[k]; i < length; ++i) sumB[i] += b[i];
  }
}

// The previous voices over one chunk of their fade: each reads its ring at its own delay
// plus the offsets its walk would have read, with fixed gains; nothing is drawn.
namespace {

// The samples a fading voice reads from its ring: at its delay plus its vibrato offset,
// interpolated between the two neighbouring ring samples.
struct tFadingRead {
  const float* ring;
  const float* offsets;  // the voice's offsets from this chunk's first sample on
  int32_t readBase;      // ring position of the chunk's first sample plus the delay
  int32_t mask;
  float Sample(int32_t i) const {
    const float off = offsets[i];
    const int32_t ip = nearestInRange(off - 0.5f);
    const int32_t r0 = (readBase - i + ip) & mask;
    const int32_t r1 = (r0 + 1) & mask;
    return ring[r0] + (off - static_cast<float>(ip)) * (ring[r1] - ring[r0]);
  }
#if VM_ENSEMBLE_SSE2
  // Samples i..i+3: offsets, read positions and interpolation in vector lanes. The ring
  // is written backwards, so while the whole offsets agree the four samples read the
  // five ring samples r0 - 3 .. r0 + 1, in reverse: two loads. Otherwise each sample's
  // two neighbouring ring samples in one load, unless one of them wraps.
  __m128 Samples(int32_t i) const {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i maskVector = _mm_set1_epi32(mask);
    const __m128 off = _mm_loadu_ps(offsets + i);
    const __m128i ip = _mm_cvtps_epi32(_mm_sub_ps(off, half));  // to nearest, as one voice
    const __m128 frac = _mm_sub_ps(off, _mm_cvtepi32_ps(ip));
    const int32_t newest = (readBase - i + _mm_cvtsi128_si32(ip)) & mask;
    const bool sameOffset =
        _mm_movemask_epi8(_mm_cmpeq_epi32(ip, _mm_shuffle_epi32(ip, 0))) == 0xFFFF;
    if (sameOffset && newest >= 3 && newest < mask) {
      constexpr int kReverse = _MM_SHUFFLE(0, 1, 2, 3);
      const __m128 older = _mm_loadu_ps(ring + newest - 3);  // r0 of lanes 3, 2, 1, 0
      const __m128 later = _mm_loadu_ps(ring + newest - 2);  // r0 + 1 of lanes 3, 2, 1, 0
      const __m128 a = _mm_shuffle_ps(older, older, kReverse);
      const __m128 b = _mm_shuffle_ps(later, later, kReverse);
      return _mm_add_ps(a, _mm_mul_ps(frac, _mm_sub_ps(b, a)));
    }
    const __m128i base = _mm_sub_epi32(_mm_set1_epi32(readBase - i), _mm_set_epi32(3, 2, 1, 0));
    const __m128i first = _mm_and_si128(_mm_add_epi32(base, ip), maskVector);
    alignas(16) int32_t r0[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(r0), first);
    __m128 a, b;
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(first, maskVector)) == 0) {
      auto pair = [&](int lane) { return reinterpret_cast<const __m64*>(ring + r0[lane]); };
      const __m128 pairs01 = _mm_loadh_pi(_mm_loadl_pi(half, pair(0)), pair(1));
      const __m128 pairs23 = _mm_loadh_pi(_mm_loadl_pi(half, pair(2)), pair(3));
      a = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(2, 0, 2, 0));
      b = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(3, 1, 3, 1));
    } else {
      a = _mm_setr_ps(ring[r0[0]], ring[r0[1]], ring[r0[2]], ring[r0[3]]);
      b = _mm_setr_ps(ring[(r0[0] + 1) & mask], ring[(r0[1] + 1) & mask],
                      ring[(r0[2] + 1) & mask], ring[(r0[3] + 1) & mask]);
    }
    return _mm_add_ps(a, _mm_mul_ps(frac, _mm_sub_ps(b, a)));
  }
#endif
};

}  // namespace

// The previous voices over one chunk of their fade: each reads its ring at its own delay
// plus the offsets its walk would have read, with fixed gains; nothing is drawn. Two
// voices at a time, so the sums are read and written once per pair; the samples left
// after the groups of eight (or all, without vector variants) in groups of four, then one
// by one.
void tEnsemble::RenderFadingVoices(const tSectionRings& rings, int32_t firstPos,
                                   int32_t length) {
  float* sumA = fadingSumA.get();
  float* sumB = fadingSumB.get();
  std::fill(sumA, sumA + length, 0.0f);
  std::fill(sumB, sumB + length, 0.0f);
  auto readOf = [&](int32_t k) {
    const tFadingVoice& voice = fadingVoices[k];
    return tFadingRead{rings.Ring(voice.source),
                       fadingOffsets.get() + static_cast<size_t>(k) * fade.Length() + voiceFadeAt,
                       firstPos + voice.delay, rings.mask};
  };
  for (int32_t k = 0; k < fadingCount; k += 2) {
    const bool two = k + 1 < fadingCount;
    const tFadingRead first = readOf(k), second = readOf(two ? k + 1 : k);
    const float firstA = fadingVoices[k].gainA, firstB = fadingVoices[k].gainB;
    const float secondA = two ? fadingVoices[k + 1].gainA : 0.0f;
    const float secondB = two ? fadingVoices[k + 1].gainB : 0.0f;
    // Eight samples at a time where the processor runs the voices' vector variants.
    const tFadingPair pair{{first.ring, second.ring},
                           {first.offsets, second.offsets},
                           {first.readBase, second.readBase},
                           {firstA, secondA},
                           {firstB, secondB},
                           rings.mask};
    int32_t i = AddFadingPair(pair, length, sumA, sumB);
#if VM_ENSEMBLE_SSE2
    const __m128 gainA1 = _mm_set1_ps(firstA), gainB1 = _mm_set1_ps(firstB);
    const __m128 gainA2 = _mm_set1_ps(secondA), gainB2 = _mm_set1_ps(secondB);
    for (; i + 4 <= length; i += 4) {
      const __m128 s1 = first.Samples(i), s2 = second.Samples(i);
      const __m128 a = _mm_add_ps(_mm_mul_ps(s1, gainA1), _mm_mul_ps(s2, gainA2));
      const __m128 b = _mm_add_ps(_mm_mul_ps(s1, gainB1), _mm_mul_ps(s2, gainB2));
      _mm_storeu_ps(sumA + i, _mm_add_ps(_mm_loadu_ps(sumA + i), a));
      _mm_storeu_ps(sumB + i, _mm_add_ps(_mm_loadu_ps(sumB + i), b));
    }
#endif
    for (; i < length; ++i) {
      const float s1 = first.Sample(i), s2 = second.Sample(i);
      sumA[i] += s1 * firstA + s2 * secondA;
      sumB[i] += s1 * firstB + s2 * secondB;
    }
  }
}

// The output samples of a chunk with nothing moving: voice sums, wet and dry gains and the
// dry tap as they stand.
void tEnsemble::MixChunk(float* outA, float* outB, int32_t length, int32_t firstPos,
                         bool replacing) {
  const float* sumA = chunkSumA.get();
  const float* sumB = chunkSumB.get();
  const float wetGain = wet.Value(), dryGain = dry.Value();
  const float placeA = dryA.Value(), placeB = dryB.Value();
  const int32_t tap = std::clamp(dryDelaySamples, 0, ringMask);
  for (int32_t i = 0; i < length; ++i) {
    const int32_t samplePos = (firstPos - i) & ringMask;
    const float d = dryRing[(samplePos + tap) & ringMask];
    const float a = sumA[i] * wetGain + dryGain * d * placeA;
    const float b = sumB[i] * wetGain + dryGain * d * placeB;
    if (replacing) {
      outA[i] = a;
      outB[i] = b;
    } else {
      outA[i] += a;
      outB[i] += b;
    }
  }
}

// The fading voices' sums crossfade into the new voices' sums over the first `samples`
// samples of the chunk, in place: one weight per sample, no other state, so the loop runs
// in vector lanes.
void tEnsemble::CrossfadeVoiceSums(int32_t samples) {
  float* sumA = chunkSumA.get();
  float* sumB = chunkSumB.get();
  const float* oldA = fadingSumA.get();
  const float* oldB = fadingSumB.get();
  const float* weights = fade.Weights() + voiceFadeAt + 1;
  for (int32_t i = 0; i < samples; ++i) sumA[i] = oldA[i] + weights[i] * (sumA[i] - oldA[i]);
  for (int32_t i = 0; i < samples; ++i) sumB[i] = oldB[i] + weights[i] * (sumB[i] - oldB[i]);
}

// The output samples while the dry tap crossfades or the gains glide, sample by sample.
void tEnsemble::MixChunkMoving(float* outA, float* outB, int32_t length, int32_t firstPos,
                               bool replacing) {
  const float* sumA = chunkSumA.get();
  const float* sumB = chunkSumB.get();
  const int32_t tap = std::clamp(dryDelaySamples, 0, ringMask);
  const int32_t oldTap = std::clamp(dryDelayFrom, 0, ringMask);
  // Samples of this chunk inside the dry crossfade (it may end within it).
  const int32_t dryFadeSamples = dryFadeAt >= 0 ? std::min(length, fade.Length() - dryFadeAt) : 0;
  for (int32_t i = 0; i < length; ++i) {
    const int32_t samplePos = (firstPos - i) & ringMask;
    float d = dryRing[(samplePos + tap) & ringMask];
    if (i < dryFadeSamples) {
      const float old = dryRing[(samplePos + oldTap) & ringMask];
      d = old + fade.Weight(dryFadeAt + i + 1) * (d - old);
    }
    const float wetGain = wet.Next(), dryGain = dry.Next();
    const float a = sumA[i] * wetGain + dryGain * d * dryA.Next();
    const float b = sumB[i] * wetGain + dryGain * d * dryB.Next();
    if (replacing) {
      outA[i] = a;
      outB[i] = b;
    } else {
      outA[i] += a;
      outB[i] += b;
    }
  }
}

void tEnsemble::RenderBlock(const float* in, float* outA, float* outB, int32_t count,
                            bool replacing) {
  const tSectionRings rings = Rings();
  const int32_t chunkLimit = chunkLimitSamples;
  const int32_t fadeLength = fade.Length();
  int32_t pos = writePos;
  for (int32_t start = 0; start < count;) {
    if (changesWaiting) ApplyWaitingChanges();
    // A chunk ends where the voice fade ends and where the unison copy's fade back to the
    // plain input ends: a section the faded voices alone used, and the shifter's unison
    // head, then stop at that very sample whatever the host's blocks, so that they start
    // again later from the same state. A change waiting starts right after the fade. A dry
    // fade may end inside a chunk unless a change waits for it.
    int32_t length = std::min(chunkLimit, count - start);
    if (voiceFadeAt >= 0) length = std::min(length, fadeLength - voiceFadeAt);
    if (!sections.unisonShifted && sections.unisonShift > 0)
      length = std::min(length, sections.unisonWarmUp + sections.unisonShift);
    if (changesWaiting && dryFadeAt >= 0) length = std::min(length, fadeLength - dryFadeAt);
    const int32_t firstPos = (pos - 1) & ringMask;
    // Inputs of the chunk are all read before its outputs are written: the host may pass
    // one buffer as input and first output.
    WriteChunkRings(in + start, length, firstPos);
    RenderVoices(rings, firstPos, length);
    if (voiceFadeAt >= 0) {
      const int32_t fadingSamples = std::min(length, fadeLength - voiceFadeAt);
      RenderFadingVoices(rings, firstPos, fadingSamples);
      CrossfadeVoiceSums(fadingSamples);
    }
    const bool moving =
        dryFadeAt >= 0 || wet.Moving() || dry.Moving() || dryA.Moving() || dryB.Moving();
    if (moving)
      MixChunkMoving(outA + start, outB + start, length, firstPos, replacing);
    else
      MixChunk(outA + start, outB + start, length, firstPos, replacing);
    if (voiceFadeAt >= 0 && (voiceFadeAt += length) >= fadeLength) EndVoiceFade();
    if (dryFadeAt >= 0 && (dryFadeAt += length) >= fadeLength) dryFadeAt = -1;
    pos = (firstPos - (length - 1)) & ringMask;
    start += length;
  }
  writePos = pos;
}

}  // namespace vm
