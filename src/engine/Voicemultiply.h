// The ensemble effect: one mono input feeds the section rings, up to 32 voices read them
// with their own delay, vibrato, level movement and stereo place, and the sums are mixed
// with a delayed dry copy into two outputs.
//
// Threads: ProcessBlock runs on the audio thread and takes no lock. Parameters arrive on
// any thread; each setting is a single relaxed atomic, and Reconfigure (serialised among
// parameter threads by its own mutex, never touched by the audio thread) only publishes
// single values and tables that stay alive while a block may read them. Rings are
// reallocated (sample-rate change) and retired tables freed (suspend) only while holding
// the `processing` flag, so never under a running block.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/Parameters.h"
#include "engine/Relaxed.h"
#include "engine/SingleClone.h"
#include "engine/VoiceTables.h"
#include "playback/FormantShifter.h"
#include "playback/XPlayback.h"
#include "vst/VstSdk.h"

namespace vm {

class tVoicemultiply;

// What the effect tells its editor when a host parameter arrives.
class tParameterListener {
 public:
  virtual void ParameterChanged(int32_t index) = 0;

 protected:
  ~tParameterListener() = default;
};

// Makes the effect's editor; it attaches itself with setEditor. The plug-in binary
// installs one; without it (tests, tools) the effect has no editor.
using tEditorFactory = TEffEditor* (*)(tVoicemultiply& effect);



class tVoicemultiply : public TAudioEffect {
 public:
  static constexpr int32_t kRingLength = 32768;  // samples at rates up to 50 kHz
  static constexpr char kUniqueId[5] = "VmMS";

  explicit tVoicemultiply(audioMasterCallback master);  // Create(master, 21, 1)
  ~tVoicemultiply() override;

  static void SetEditorFactory(tEditorFactory factory);

  // Host binding.
  void process(float** inputs, float** outputs, int32_t count) override;
  void processReplacing(float** inputs, float** outputs, int32_t count) override;
  void suspend() override;
  void setSampleRate(float rateHz) override;
  void setParameter(int32_t index, float value) override;
  float getParameter(int32_t index) override;
  bool canParameterBeAutomated(int32_t index) override { return IsParameter(index); }
  void getParameterName(int32_t index, char* text) override;
  void getParameterLabel(int32_t index, char* text) override;
  void getParameterDisplay(int32_t index, char* text) override;
  void setProgramName(const char* name) override;
  void getProgramName(char* text) override;
  void setEditor(TEffEditor* newEditor) override;

  // Recomputes every engine setting for `count` clones; also called by the editor after it
  // wrote the store itself.
  void Reconfigure(int32_t count);
  void InitVoiceTables();

  // Read-outs for the editor's display and the tests.
  const tSingleClone& Voice(int32_t index) const { return voices[index]; }
  int32_t DryDelaySamples() const { return dryDelaySamples; }
  int32_t RingLength() const { return ringMask + 1; }
  float EngineSampleRate() const { return engineRate; }

  // The stored settings, in parameter order; the engine reads each real through
  // Clamped().
  tParameterStore& Parameters() { return parameters; }
  const tParameterStore& Parameters() const { return parameters; }
  float Setting(int32_t index) const { return parameters.Setting(index); }


 private:
  struct tBlockValues;
  void ProcessBlock(float** inputs, float** outputs, bool replacing, int32_t count);
  tBlockValues ReadBlockValues() const;
  void AllocateRings(float rateHz);
  void ClearRings();
  void ConfigureSections();
  void SetSectionRates(int32_t rateHz);
  // Holds `processing` for work that must not overlap a block; false if it could not.
  bool AcquireProcessing();
  void SectionStep(float x, int32_t pos, const tBlockValues& block);
  // Chunked processing: the rings of a whole chunk are written first, then each voice runs
  // through the chunk on its own, then the voices are summed per sample in voice order.
  int32_t ChunkLimit() const;
  void WriteChunkRings(const float* in, int32_t length, int32_t firstPos,
                       const tBlockValues& block);
  void RenderVoices(const tSectionRings& rings, int32_t firstPos, int32_t length,
                    const tBlockValues& block);
  void StepAllVoices(const tSectionRings& rings, int32_t pos, const tBlockValues& block,
                     float& sumA, float& sumB);

  tParameterStore parameters;
  char programName[25] = {};  // at most 24 characters and a terminator

  std::unique_ptr<float[]> dryRing;     // input x unison level, for the dry path
  std::unique_ptr<float[]> unisonRing;  // unison section
  std::unique_ptr<float[]> bassRing;    // bass section
  std::unique_ptr<float[]> altoRing;    // alto section
  int32_t ringMask = kRingLength - 1;
  int32_t writePos = 0;  // newest sample, shared by the four rings

  tVoiceArray voices;
  // Samples of one chunk: at most this many, and fewer when the rings are short for the
  // voices' reach (see ChunkLimit).
  static constexpr int32_t kMaxChunk = 1024;
  // Each voice's contributions to the two sums over one chunk (voice k from k * kMaxChunk
  // on) and the two sums themselves; allocated with the effect, so a block allocates
  // nothing.
  std::unique_ptr<float[]> contributionsA, contributionsB;
  std::unique_ptr<float[]> chunkSumA, chunkSumB;
  // Section engines: three formant-shifted copies of the input, then an octave down for
  // the bass and an octave up for the alto section.
  std::unique_ptr<tFormantShifter> shifter;
  std::unique_ptr<tOctaver> bassOctaver;  // half-speed path only
  std::unique_ptr<tOctaver> altoOctaver;  // double-speed path only

  Relaxed<int32_t> dryDelaySamples{0};
  tParameterListener* ensembleEditor = nullptr;
  std::atomic_flag processing = ATOMIC_FLAG_INIT;
  float lastDynDepth = -1.0f;
  float lastDynRate = -1.0f;
  bool lastDynRandom = false;
  float vibRateLogMin = 0.0f;  // log10 of the lowest vibrato rate, Hz
  float vibRateLogMax = 0.0f;
  float engineRate = 44100.0f;  // the host's rate as the engine uses it, Hz
  std::mutex reconfigureLock;   // parameter threads only; the audio thread never takes it

  static inline std::atomic<tEditorFactory> editorFactory{nullptr};
};

}  // namespace vm
