// The effect the host sees: the VST 2 face of the ensemble engine. It owns one tEnsemble,
// answers the host's parameter, text and program calls from the engine's parameter store,
// forwards blocks and the host's lifecycle (suspend, resume, sample rate) to the engine,
// and tells its editor of every host parameter call.
//
// Threads: setParameter only writes the store (lock-free) and tells the editor; the audio
// thread applies the change at its next block. The editor's write-back goes to the same
// store (Parameters()), with SetSettingIfUnchanged, and needs nothing else.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/Ensemble.h"
#include "engine/Parameters.h"
#include "vst/ParameterListener.h"
#include "vst/VstSdk.h"

namespace vm {

class tVoicemultiply;

// Makes the effect's editor; it attaches itself with setEditor. The plug-in binary
// installs one; without it (tests, tools) the effect has no editor.
using tEditorFactory = TEffEditor* (*)(tVoicemultiply& effect);

class tVoicemultiply : public TAudioEffect {
 public:
  static constexpr char kUniqueId[5] = "VmMS";

  explicit tVoicemultiply(audioMasterCallback master);  // Create(master, 21, 1)
  ~tVoicemultiply() override;

  static void SetEditorFactory(tEditorFactory factory);

  // Host binding.
  void process(float** inputs, float** outputs, int32_t count) override;
  void processReplacing(float** inputs, float** outputs, int32_t count) override;
  void suspend() override;
  void resume() override;
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

  // The settings, shared by the host's threads, the editor and the audio thread.
  tParameterStore& Parameters() { return ensemble.Parameters(); }
  const tParameterStore& Parameters() const { return ensemble.Parameters(); }
  float Setting(int32_t index) const { return ensemble.Parameters().Setting(index); }

  // The engine, for the editor's display and the tests.
  const tEnsemble& Ensemble() const { return ensemble; }
  const tSingleClone& Voice(int32_t index) const { return ensemble.Voice(index); }
  int32_t DryDelaySamples() const { return ensemble.DryDelaySamples(); }
  int32_t RingLength() const { return ensemble.RingLength(); }
  float EngineSampleRate() const { return ensemble.SampleRate(); }

 private:
  void ProcessBlock(float** inputs, float** outputs, bool replacing, int32_t count);

  tEnsemble ensemble;
  char programName[25] = {};  // at most 24 characters and a terminator
  std::atomic<tParameterListener*> ensembleEditor{nullptr};

  static inline std::atomic<tEditorFactory> editorFactory{nullptr};
};

}  // namespace vm
