#include "engine/Voicemultiply.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "analysis/Filters.h"
#include "analysis/Numeric.h"

namespace vm {

namespace {

constexpr int kNameWidth = 11;           // names are padded with spaces to 11 characters
constexpr int kProgramNameLength = 24;   // characters kept of a program name
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

// Ring length for a rate: doubled above 50 kHz, quadrupled above 100 kHz, so that the
// longest voice delay (271 ms) and the dry delay (250 ms) fit at 192 kHz.
int32_t RingLengthFor(float rateHz) {
  int32_t length = tVoicemultiply::kRingLength;
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

}  // namespace

struct tVoicemultiply::tBlockValues {
  int32_t clones;
  bool dynOn;         // DynDepth above 0.02
  float dynDepth;
  float unisonGain;   // 10^(UnisonLevel - 0.5)
  float wet;          // output gain x Mix
  float dry;          // output gain x (1 - Mix)
  float dryA, dryB;   // the dry path's gains at its stereo place
  int32_t dryDelay;   // samples
  bool bassOn, altoOn, unisonShifted;  // which section engines run
  float bassGain, altoGain;            // 10^(level - 0.5): +-10 dB
};

void tVoicemultiply::SetEditorFactory(tEditorFactory factory) { editorFactory = factory; }

tVoicemultiply::tVoicemultiply(audioMasterCallback master) {
  Create(master, kParameterCount, 1);
  setNumInputs(1);
  setUniqueIDString(kUniqueId);
  setNumOutputs(2);
  canProcessReplacing(true);
  setProgramName("Default");
  AllocateRings(engineRate);
  const size_t contributionCount = static_cast<size_t>(kMaxClones) * kMaxChunk;
  contributionsA = std::make_unique<float[]>(contributionCount);
  contributionsB = std::make_unique<float[]>(contributionCount);
  chunkSumA = std::make_unique<float[]>(kMaxChunk);
  chunkSumB = std::make_unique<float[]>(kMaxChunk);
  lastDynDepth = -1.0f;
  lastDynRate = -1.0f;
  lastDynRandom = false;
  vibRateLogMin = static_cast<float>(std::log10(1.1));
  vibRateLogMax = static_cast<float>(std::log10(8.0));
  // The 32 voices were created with the base rate of 44100 Hz.
  const int32_t rate = nearest(getSampleRate());
  shifter = std::make_unique<tFormantShifter>(rate);
  bassOctaver = std::make_unique<tOctaver>(rate, true, false);
  altoOctaver = std::make_unique<tOctaver>(rate, false, true);
  InitVoiceTables();
  Reconfigure(16);
  processing.clear();
  if (tEditorFactory factory = editorFactory.load()) factory(*this);
}

tVoicemultiply::~tVoicemultiply() = default;

void tVoicemultiply::AllocateRings(float rateHz) {
  const int32_t length = RingLengthFor(rateHz);
  if (dryRing && ringMask + 1 == length) return;
  dryRing = std::make_unique<float[]>(length);
  unisonRing = std::make_unique<float[]>(length);
  bassRing = std::make_unique<float[]>(length);
  altoRing = std::make_unique<float[]>(length);
  ringMask = length - 1;
  writePos = 0;
}

void tVoicemultiply::ClearRings() {
  const size_t length = static_cast<size_t>(ringMask) + 1;
  for (float* ring : {dryRing.get(), unisonRing.get(), bassRing.get(), altoRing.get()})
    std::fill(ring, ring + length, 0.0f);
  writePos = 0;
}

void tVoicemultiply::InitVoiceTables() {
  for (int32_t i = 0; i < kMaxClones; ++i) voices[i].InitVoiceTable(i);
}

bool tVoicemultiply::AcquireProcessing() {
  // A block lasts milliseconds; waiting longer means the caller is the block itself.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (processing.test_and_set(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

void tVoicemultiply::Reconfigure(int32_t count) {
  SetFloatControl();
  std::lock_guard<std::mutex> serialised(reconfigureLock);
  count = std::clamp(count, 1, kMaxClones);
  parameters.SetSetting(kClones, static_cast<float>(count));
  const tSettings s = parameters.Snapshot();

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
  const float balance = Clamped(s.Balance), focus = Clamped(s.Focus);
  const float lo = std::max(1.0f - balance - 0.5f * focus, 0.0f);
  const float hi = std::min(1.0f - balance + 0.5f * focus, 1.0f);
  setup.lo = lo;
  setup.width = hi - lo;
  setup.count = count;
  setup.dynChanged = dynChanged;
  // Few voices get a wider choice of vibrato rates: 0.75 to 12 Hz instead of 1.1 to 8 Hz.
  const bool narrowRates = count > 3 || vibRandom;
  vibRateLogMin = static_cast<float>(std::log10(narrowRates ? 1.1 : 0.75));
  vibRateLogMax = static_cast<float>(std::log10(narrowRates ? 8.0 : 12.0));
  setup.vibRateLogMin = vibRateLogMin;
  setup.vibRateLogMax = vibRateLogMax;
  setup.Timing = Clamped(s.Timing);
  setup.VibDepth = Clamped(s.VibDepth);
  setup.VibRate = Clamped(s.VibRate);
  setup.DynDepth = dynDepth;
  setup.DynRate = dynRate;
  setup.Focus = focus;
  setup.VibRandom = vibRandom;
  setup.DynRandom = dynRandom;
  setup.Split = s.Split;

  // With random borrowing any voice's table or ramp may be used, so all 32 stay current.
  const int32_t voicesToSetUp = (vibRandom || dynRandom) ? kMaxClones : count;
  for (int32_t i = 0; i < voicesToSetUp; ++i) voices[i].SetUp(i, setup);

  dryDelaySamples = nearest(Clamped(s.DryDelay) * kMaxDryDelaySeconds * engineRate);
  ConfigureSections();
}

// Formant ratios of the three heads. The bass copy has its formants raised (1.4 to 2.0)
// before the octaver halves every frequency, the alto copy lowered (0.5 to 0.675) before
// it doubles them; the unison ratio runs from 0.85 to 1.3.
void tVoicemultiply::ConfigureSections() {
  constexpr float kLowFactorBass = 0.8f, kLowFactorAlto = 1.5f;  // low band edge, x f0
  constexpr float kHighHz = 8000.0f;                             // band top
  constexpr float kFadeIn = 0.05f, kFadeOut = 0.8f;              // band edge fades
  // The engines' rate is set in setSampleRate, with no block running, never here: even an
  // unchanged rate rewrites state that the audio thread is reading.
  const tSettings s = parameters.Snapshot();
  const float unisonFmnts = Clamped(s.UnisonFmnts);
  const float unisonRatio = unisonFmnts < 0.5f ? 0.85f + unisonFmnts * 2 * 0.15f
                                               : 1.0f + (unisonFmnts - 0.5f) * 2 * 0.3f;
  shifter->SetHalfHead(2.0f - 0.6f * Clamped(s.BassFmnts), kLowFactorBass, kHighHz, kFadeIn, kFadeOut);
  shifter->SetUnisonHead(unisonRatio, kLowFactorBass, kHighHz, kFadeIn, kFadeOut);
  shifter->SetDoubleHead(0.5f + 0.175f * Clamped(s.AltoFmnts), kLowFactorAlto, kHighHz, kFadeIn, kFadeOut);
}

void tVoicemultiply::SetSectionRates(int32_t rateHz) {
  shifter->SetSampleRate(rateHz);
  bassOctaver->SetSampleRate(rateHz);
  altoOctaver->SetSampleRate(rateHz);
}

// ---- parameters ----

void tVoicemultiply::setParameter(int32_t index, float value) {
  SetFloatControl();
  if (parameters.SetFromHost(index, value)) Reconfigure(static_cast<int32_t>(Setting(kClones)));
  if (ensembleEditor) ensembleEditor->ParameterChanged(index);
}

float tVoicemultiply::getParameter(int32_t index) {
  SetFloatControl();
  return parameters.HostValue(index);
}

void tVoicemultiply::getParameterName(int32_t index, char* text) {
  if (!text || !IsParameter(index)) return;
  const char* name = kParameters[index].name;
  const size_t length = std::strlen(name);
  std::memcpy(text, name, length);
  std::memset(text + length, ' ', kNameWidth - length);
  text[kNameWidth] = '\0';
}

void tVoicemultiply::getParameterLabel(int32_t index, char* text) {
  if (!text || !IsParameter(index)) return;
  std::strcpy(text, "        ");
}

void tVoicemultiply::getParameterDisplay(int32_t index, char* text) {
  SetFloatControl();
  FormatDisplay(index, Setting(index), text);
}

void tVoicemultiply::setProgramName(const char* name) {
  SetFloatControl();
  if (!name) return;
  std::strncpy(programName, name, kProgramNameLength);
  programName[kProgramNameLength] = '\0';
}

void tVoicemultiply::getProgramName(char* text) {
  SetFloatControl();
  if (text) std::strcpy(text, programName);
}

void tVoicemultiply::setEditor(TEffEditor* newEditor) {
  TAudioEffect::setEditor(newEditor);
  ensembleEditor = dynamic_cast<tParameterListener*>(newEditor);
}

// ---- lifecycle ----

void tVoicemultiply::suspend() {
  SetFloatControl();
  if (!AcquireProcessing()) return;
  ClearRings();
  shifter->Reset();
  bassOctaver->Reset();
  altoOctaver->Reset();
  {
    std::lock_guard<std::mutex> serialised(reconfigureLock);
    for (auto& voice : voices) voice.ReleaseRetiredTables();
  }
  processing.clear(std::memory_order_release);
}

// The whole engine follows the host's rate: rings sized for it, voices and dry delay
// reconfigured, so delays, vibrato periods and ramps keep their length in seconds.
void tVoicemultiply::setSampleRate(float rateHz) {
  SetFloatControl();
  TAudioEffect::setSampleRate(rateHz);
  const float rate = EngineRateFor(rateHz);
  if (rate == engineRate) return;
  if (!AcquireProcessing()) return;
  {
    std::lock_guard<std::mutex> serialised(reconfigureLock);
    engineRate = rate;
    AllocateRings(rate);
    ClearRings();
    for (auto& voice : voices) voice.SetSampleRate(rate);
    SetSectionRates(nearest(rate));
  }
  processing.clear(std::memory_order_release);
  Reconfigure(static_cast<int32_t>(Setting(kClones)));
}

// ---- processing ----

void tVoicemultiply::process(float** inputs, float** outputs, int32_t count) {
  ProcessBlock(inputs, outputs, false, count);
}

void tVoicemultiply::processReplacing(float** inputs, float** outputs, int32_t count) {
  ProcessBlock(inputs, outputs, true, count);
}

tVoicemultiply::tBlockValues tVoicemultiply::ReadBlockValues() const {
  const tSettings s = parameters.Snapshot();
  tBlockValues values{};
  values.clones = std::clamp(s.Clones, 1, kMaxClones);
  values.dynDepth = Clamped(s.DynDepth);
  values.dynOn = values.dynDepth > 0.02f;  // level movement off at 0.02 and below
  values.unisonGain = static_cast<float>(std::pow(10.0, Clamped(s.UnisonLevel) - 0.5));
  const float outGain =
      static_cast<float>(std::pow(10.0, (Clamped(s.Gain) - 0.5) * 40.0 / 20.0));  // +-20 dB
  const float mix = Clamped(s.Mix);
  values.wet = outGain * mix;
  values.dry = (1.0f - mix) * outGain;
  if (values.wet < 0.1f) values.wet += kSubnormalGuard;
  if (values.dry < 0.1f) values.dry += kSubnormalGuard;
  const float balance = Clamped(s.Balance), focus = Clamped(s.Focus);
  const float lo = std::max(1.0f - balance - 0.5f * focus, 0.0f);
  const float hi = std::min(1.0f - balance + 0.5f * focus, 1.0f);
  const float place = lo + 0.5f * (hi - lo);
  values.dryA = kDryPlaceGain * place;
  values.dryB = kDryPlaceGain * (1.0f - place);
  values.dryDelay = std::clamp(int32_t(dryDelaySamples), 0, ringMask);
  const tSplitSections sections = SectionsOf(s.Split);
  values.bassOn = sections.bass;
  values.altoOn = sections.alto;
  // Within 0.02 of the middle the unison section is the input itself.
  values.unisonShifted = sections.unison && std::fabs(Clamped(s.UnisonFmnts) - 0.5f) > 0.02f;
  values.bassGain = static_cast<float>(std::pow(10.0, Clamped(s.BassLevel) - 0.5));
  values.altoGain = static_cast<float>(std::pow(10.0, Clamped(s.AltoLevel) - 0.5));
  return values;
}

// One input sample through the section engines into the bass, unison and alto rings.
// The engines see at most +-1000 (+60 dBFS): far beyond any real voice, and small enough
// that a cycle's spectrum cannot overflow. Whatever they return, only finite values reach a
// ring, so the voices and the output stay finite.
void tVoicemultiply::SectionStep(float x, int32_t pos, const tBlockValues& block) {
  shifter->Process(SaneSample(x));
  if (block.bassOn) {
    bassOctaver->Process(SaneSample(shifter->HalfOut));
    bassRing[pos] = block.bassGain * SaneSample(bassOctaver->HalfOut);
  }
  if (block.unisonShifted) unisonRing[pos] = block.unisonGain * SaneSample(shifter->UnisonOut);
  if (block.altoOn) {
    altoOctaver->Process(SaneSample(shifter->DoubleOut));
    altoRing[pos] = block.altoGain * SaneSample(altoOctaver->DoubleOut);
  }
}

// A chunk's ring samples are all written before any voice reads, so a voice reading d
// samples back from sample i must not reach a sample written later in the chunk: that
// needs chunk length + d < ring length. At the highest rates the rings leave no room and
// chunks shrink to single samples.
int32_t tVoicemultiply::ChunkLimit() const {
  const int32_t reach = nearest(kMaxReachSeconds * engineRate) + kReachMarginSamples;
  return std::clamp(ringMask + 1 - reach, 1, kMaxChunk);
}

// Sample i of the chunk goes to ring position (firstPos - i) & mask: the rings are written
// backwards.
void tVoicemultiply::WriteChunkRings(const float* in, int32_t length, int32_t firstPos,
                                     const tBlockValues& block) {
  const bool sectionsRun = block.bassOn || block.altoOn || block.unisonShifted;
  for (int32_t i = 0; i < length; ++i) {
    const float x = SanitisedInput(in[i]) + kSubnormalGuard;
    const int32_t pos = (firstPos - i) & ringMask;
    const float unisonSample = block.unisonGain * x;
    dryRing[pos] = unisonSample;
    unisonRing[pos] = unisonSample;
    if (sectionsRun) SectionStep(x, pos, block);
  }
}

// Every sounding voice's sample step for the sample at ring position `pos`, in voice order.
void tVoicemultiply::StepAllVoices(const tSectionRings& rings, int32_t pos,
                                   const tBlockValues& block, float& sumA, float& sumB) {
  sumA = 0.0f;
  sumB = 0.0f;
  for (int32_t k = 0; k < block.clones; ++k)
    voices[k].Step(k, rings, pos, block.dynOn, block.dynDepth, voices, sumA, sumB);
}

// The voices of one chunk, voice by voice. The shared random generator must see its draws
// in sample order and, within a sample, in voice order, as if the voices stepped sample by
// sample together: each voice runs ahead until it would draw, then the waiting voice with
// the earliest (sample, voice) takes its one drawing step and runs ahead again. The sums
// add the contributions per sample in voice order, so they round exactly as a per-sample
// loop would.
void tVoicemultiply::RenderVoices(const tSectionRings& rings, int32_t firstPos,
                                  int32_t length, const tBlockValues& block) {
  const int32_t count = block.clones;
  auto voiceA = [&](int32_t k) { return contributionsA.get() + k * kMaxChunk; };
  auto voiceB = [&](int32_t k) { return contributionsB.get() + k * kMaxChunk; };
  auto runAhead = [&](int32_t k, int32_t from) {
    return voices[k].RunAhead(k, rings, firstPos, from, length, block.dynOn, block.dynDepth,
                              voices, voiceA(k), voiceB(k));
  };
  int32_t stoppedAt[kMaxClones];
  for (int32_t k = 0; k < count; ++k) stoppedAt[k] = runAhead(k, 0);
  for (;;) {
    int32_t next = -1;
    for (int32_t k = 0; k < count; ++k)
      if (stoppedAt[k] < length && (next < 0 || stoppedAt[k] < stoppedAt[next])) next = k;
    if (next < 0) break;
    const int32_t i = stoppedAt[next];
    float a = 0.0f, b = 0.0f;
    voices[next].Step(next, rings, (firstPos - i) & ringMask, block.dynOn, block.dynDepth,
                      voices, a, b);
    voiceA(next)[i] = a;
    voiceB(next)[i] = b;
    stoppedAt[next] = runAhead(next, i + 1);
  }

  float* sumA = chunkSumA.get();
  float* sumB = chunkSumB.get();
  std::fill(sumA, sumA + length, 0.0f);
  std::fill(sumB, sumB + length, 0.0f);
  for (int32_t k = 0; k < count; ++k) {
    const float* a = voiceA(k);
    const float* b = voiceB(k);
    for (int32_t i = 0; i < length; ++i) sumA[i] += a[i];
    for (int32_t i = 0; i < length; ++i) sumB[i] += b[i];
  }
}

void tVoicemultiply::ProcessBlock(float** inputs, float** outputs, bool replacing,
                                  int32_t count) {
  SetFloatControl();
  if (processing.test_and_set(std::memory_order_acquire)) return;
  struct tRelease {
    std::atomic_flag& flag;
    ~tRelease() { flag.clear(std::memory_order_release); }
  } release{processing};
  if (count <= 0 || !inputs || !outputs || !inputs[0] || !outputs[0] || !outputs[1]) return;

  const tBlockValues block = ReadBlockValues();
  shifter->HalfOn = block.bassOn;
  shifter->UnisonOn = block.unisonShifted;
  shifter->DoubleOn = block.altoOn;
  const tSectionRings rings{{unisonRing.get(), bassRing.get(), altoRing.get()}, ringMask};
  const int32_t chunkLimit = ChunkLimit();
  const float* in = inputs[0];
  float* outA = outputs[0];
  float* outB = outputs[1];
  float* sumA = chunkSumA.get();
  float* sumB = chunkSumB.get();
  int32_t pos = writePos;

  for (int32_t start = 0; start < count;) {
    const int32_t length = std::min(chunkLimit, count - start);
    const int32_t firstPos = (pos - 1) & ringMask;
    // Inputs of the chunk are all read before its outputs are written: the host may pass
    // one buffer as input and first output.
    WriteChunkRings(in + start, length, firstPos, block);
    // A single sample has nothing to run ahead for.
    if (length == 1)
      StepAllVoices(rings, firstPos, block, sumA[0], sumB[0]);
    else
      RenderVoices(rings, firstPos, length, block);

    for (int32_t i = 0; i < length; ++i) {
      const int32_t samplePos = (firstPos - i) & ringMask;
      const float d = dryRing[(samplePos + block.dryDelay) & ringMask];
      const float a = sumA[i] * block.wet + block.dry * d * block.dryA;
      const float b = sumB[i] * block.wet + block.dry * d * block.dryB;
      if (replacing) {
        outA[start + i] = a;
        outB[start + i] = b;
      } else {
        outA[start + i] += a;
        outB[start + i] += b;
      }
    }
    pos = (firstPos - (length - 1)) & ringMask;
    start += length;
  }
  writePos = pos;
}

}  // namespace vm
