// The ensemble engine: one mono input feeds the section rings, up to 32 voices read them
// with their own delay, vibrato, level movement and stereo place, and the sums are mixed
// with a delayed dry copy into two outputs. It knows no plug-in format: a host binding
// owns one, forwards the host's values to its parameter store, its blocks to Process and
// its lifecycle calls to Suspend, Resume and SetSampleRate.
//
// Threads. The audio thread owns the engine's state. Parameter values arrive on any
// thread, only into the lock-free store; at the start of each block the audio thread takes
// what changed and applies it:
//   - before the first block after construction or a suspend, at once (the engine then
//     sounds exactly as if it had been built with those settings);
//   - otherwise smoothly: gains glide over 15 ms, the dry tap and the plain/shifted unison
//     copy crossfade over 10 ms, formant ratios go straight to the shifter's heads, and a
//     change of the voice settings reconfigures the voices while the previous ones fade out
//     over 10 ms (a further voice change waits for the end of that fade, then takes the
//     latest values); a section engine that comes on warms up for 150 ms before its output
//     fades into its ring, which until then keeps what it held.
// Suspend, Resume and SetSampleRate come from the host's other threads. They claim the
// engine with one atomic word that a block also claims (try, never wait): a block that
// finds the engine claimed writes silence; a suspend that finds a block running leaves
// the reset to the next block; a sample rate that arrives while the host has the effect
// running is kept and applied (it reallocates) at the next suspend or resume.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/Parameters.h"
#include "engine/Ramps.h"
#include "engine/SingleClone.h"
#include "engine/VoiceTables.h"
#include "playback/FormantShifter.h"
#include "playback/XPlayback.h"

namespace vm {

class tEnsemble {
 public:
  static constexpr int32_t kRingLength = 32768;  // samples at rates up to 50 kHz
  static constexpr double kCrossfadeSeconds = 0.010;  // voices, dry tap, unison copy
  static constexpr double kGlideSeconds = 0.015;      // gains
  // A section engine that starts while sound runs plays this long before its output is
  // used: its cycle detection locks on within about 0.1 s, with a few rough cycles first.
  static constexpr double kWarmUpSeconds = 0.15;

  explicit tEnsemble(float sampleRateHz = 44100.0f);
  ~tEnsemble();
  tEnsemble(const tEnsemble&) = delete;
  tEnsemble& operator=(const tEnsemble&) = delete;

  // The settings, written by any thread; the engine reads each real through Clamped().
  tParameterStore& Parameters() { return parameters; }
  const tParameterStore& Parameters() const { return parameters; }

  // One block on the audio thread: applies the changes that arrived, then `count` samples
  // from `input` to the two outputs (each holding `count` samples). The input may be the
  // same buffer as the first output. Never locks, allocates or waits;
  // when the engine is claimed by a lifecycle call it writes silence instead (replacing)
  // or leaves the outputs as they are (accumulating). A count of 0 only applies changes.
  void Process(const float* input, float* outputA, float* outputB, int32_t count,
               bool replacing);

  // The host's lifecycle, from threads other than the audio thread.
  void Suspend();  // silences the rings, resets the section engines
  void Resume();
  void SetSampleRate(float rateHz);

  // Read-outs for the editor's display and the tests; valid while no block runs.
  const tSingleClone& Voice(int32_t index) const { return voices[index]; }
  int32_t DryDelaySamples() const { return dryDelaySamples; }
  int32_t RingLength() const { return ringMask + 1; }
  float SampleRate() const { return engineRate; }
  int32_t CrossfadeSamples() const { return fade.Length(); }
  bool VoicesFading() const { return voiceFadeAt >= 0; }

 private:
  struct tVoiceValues {
    int32_t clones = 16;
    bool dynOn = true;       // DynDepth above 0.02
    float dynDepth = 0.25f;
  };
  // A voice of the previous set while it fades out: its ring, delay and gains as they were
  // (level included); its vibrato offsets are in fadingOffsets.
  struct tFadingVoice {
    tSection source;
    int32_t delay;
    float gainA, gainB;
  };
  // A section whose ring is written: its octaver runs; once warmed up, its output is
  // written, fading in from what the ring held.
  struct tSection {
    bool on = false;
    int32_t warmUp = 0;  // samples before the octaver's output is written
    int32_t fadeIn = 0;  // samples of the fade into the ring; the fade length: settled
  };
  struct tSectionState {
    tSection bass, alto;
    bool unisonShifted = false;  // where the unison copy is heading
    int32_t unisonWarmUp = 0;    // samples before the shifted copy is used
    int32_t unisonShift = 0;     // 0: plain .. fade length: shifted
    bool ShifterRuns() const {
      return bass.on || alto.on || unisonShifted || unisonShift > 0;
    }
  };

  // Changes.
  void TakeChanges();
  void ApplyWaitingChanges();
  void ConfigureAtOnce(const tSettings& latest);
  void ConfigureVoices();
  void ConfigureHeads();
  void SetGainTargets(const tSettings& latest, bool atOnce);
  void StartVoiceFade(const tSettings& latest);
  void EndVoiceFade();
  void StartDryFade(float dryDelay);
  void SetSections(tSplitSections wanted, bool atOnce);
  void SettleFades();

  // Lifecycle.
  bool Claim(uint32_t claimant);
  void Release() { owner.store(0, std::memory_order_release); }
  void Maintain();
  void ServeRequests();
  void ApplySampleRate(float rateHz);
  void ResetSignal();
  void AllocateRings(float rateHz);
  void AllocateFades(float rateHz);
  void ClearRings();
  void InitVoiceTables();

  // Processing.
  void RenderBlock(const float* in, float* outA, float* outB, int32_t count, bool replacing);
  // The longest chunk at a rate with rings of a length (see Ensemble.cpp).
  static int32_t ChunkLimitFor(float rateHz, int32_t ringLength);
  void WriteChunkRings(const float* in, int32_t length, int32_t firstPos);
  bool DeferSections() const;
  void RunWaitingSections();  // the section samples waiting, if any, into their rings
  void UpdateSectionLag();
  void SectionChunk(int32_t length, int32_t firstPos);
  bool RingsSettled() const;
  void WriteSettledRings(int32_t length, int32_t firstPos);
  void WriteRingsSampleBySample(int32_t length, int32_t firstPos);
  void RunSectionEngines(int32_t length);
  void RunSectionEnginesPipelined(int32_t length);
  void RenderVoices(const tSectionRings& rings, int32_t firstPos, int32_t length);
  void RenderFadingVoices(const tSectionRings& rings, int32_t firstPos, int32_t length);
  void StepAllVoices(const tSectionRings& rings, int32_t pos, float& sumA, float& sumB);
  void CrossfadeVoiceSums(int32_t samples);
  void MixChunk(float* outA, float* outB, int32_t length, int32_t firstPos, bool replacing);
  void MixChunkMoving(float* outA, float* outB, int32_t length, int32_t firstPos,
                      bool replacing);
  tSectionRings Rings() const {
    return {{unisonRing.get(), bassRing.get(), altoRing.get()}, ringMask};
  }

  tParameterStore parameters;
  tSettings applied{};  // what the engine runs with (audio thread)
  bool fresh = true;    // no sample since construction or the last reset: apply at once
  bool changesWaiting = false;  // voice or dry-tap changes wait for a fade to end

  std::unique_ptr<float[]> dryRing;     // input x unison level, for the dry path
  std::unique_ptr<float[]> unisonRing;  // unison section
  std::unique_ptr<float[]> bassRing;    // bass section
  std::unique_ptr<float[]> altoRing;    // alto section
  int32_t ringMask = kRingLength - 1;
  int32_t writePos = 0;  // newest sample, shared by the four rings
  int32_t chunkLimitSamples = 1;  // ChunkLimitFor the rate and rings in use

  tVoiceArray voices;
  tVoiceValues voiceValues;
  std::array<tFadingVoice, kMaxClones> fadingVoices{};
  int32_t fadingCount = 0;
  int32_t voiceFadeAt = -1;                 // samples of the voice crossfade played; -1 none
  std::unique_ptr<float[]> fadingOffsets;   // kMaxClones x fade length
  tFadeCurve fade;
  int32_t glideSamples = 0;
  int32_t warmUpSamples = 0;

  int32_t dryDelaySamples = 0;
  int32_t dryDelayFrom = 0;  // the tap faded out
  int32_t dryFadeAt = -1;    // samples of the dry crossfade played; -1 none
  tGlide wet, dry;           // output gain x Mix, x (1 - Mix)
  tGlide dryA, dryB;         // the dry path's gains at its stereo place
  tGlide unisonGain, bassGain, altoGain;  // 10^(level - 0.5): +-10 dB
  tSectionState sections;

  // Samples of one chunk: at most this many, and fewer when the rings are short for the
  // voices' reach (see ChunkLimit).
  static constexpr int32_t kMaxChunk = 1024;
  // Each voice's contributions to the two sums over one chunk (voice k from k * kMaxChunk
  // on), the two sums, and those of the voices fading out.
  std::unique_ptr<float[]> contributionsA, contributionsB;
  std::unique_ptr<float[]> chunkSumA, chunkSumB, fadingSumA, fadingSumB;
  // Section engines: three formant-shifted copies of the input, then an octave down for
  // the bass and an octave up for the alto section.
  std::unique_ptr<tFormantShifter> shifter;
  std::unique_ptr<tOctaver> bassOctaver;  // half-speed path only
  std::unique_ptr<tOctaver> altoOctaver;  // double-speed path only
  // One chunk of the section engines' inputs, gains and outputs, kMaxChunk samples each.
  struct tSectionChunk {
    float input[kMaxChunk];        // sanitised input
    float shifterIn[kMaxChunk];    // the same within +-1000
    float unisonLevel[kMaxChunk];  // the gains' values at each sample
    float bassLevel[kMaxChunk];
    float altoLevel[kMaxChunk];
    float shiftedHalf[kMaxChunk];  // the formant shifter's three copies
    float shiftedUnison[kMaxChunk];
    float shiftedDouble[kMaxChunk];
    float bassIn[kMaxChunk];       // the octavers' inputs and outputs
    float altoIn[kMaxChunk];
    float bassOut[kMaxChunk];
    float bassPlayed[kMaxChunk];   // the bass octaver's output before its last low-pass
    float altoOut[kMaxChunk];
    float unused[kMaxChunk];       // the output an octaver does not play
  };
  std::unique_ptr<tSectionChunk> sectionChunk;
  // Section samples of earlier chunks not yet run (at the start of sectionChunk), the ring
  // position of the first, and how many may wait while the voices read (see DeferSections).
  int32_t sectionsWaiting = 0;
  int32_t waitingFirstPos = 0;
  int32_t sectionLagLimit = 0;

  float lastDynDepth = -1.0f;
  float lastDynRate = -1.0f;
  bool lastDynRandom = false;
  float vibRateLogMin = 0.0f;  // log10 of the lowest vibrato rate, Hz
  float vibRateLogMax = 0.0f;
  float engineRate = 44100.0f;  // the host's rate as the engine uses it, Hz

  // Shared with the lifecycle threads.
  std::atomic<uint32_t> owner{0};        // 0, kBlockRunning or kMaintaining
  std::atomic<uint32_t> requests{0};     // kResetRequested
  std::atomic<float> pendingRate{0.0f};  // Hz; 0: none
  std::atomic<bool> running{false};      // between resume and suspend
};

}  // namespace vm
