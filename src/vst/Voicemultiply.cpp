#include "vst/Voicemultiply.h"

#include <algorithm>
#include <cstring>

#include "analysis/Numeric.h"

namespace vm {

namespace {
constexpr int kNameWidth = 11;          // names are padded with spaces to 11 characters
constexpr int kProgramNameLength = 24;  // characters kept of a program name
}  // namespace

void tVoicemultiply::SetEditorFactory(tEditorFactory factory) { editorFactory = factory; }

// The engine starts at the base's 44100 Hz; a host sends its rate before it resumes.
tVoicemultiply::tVoicemultiply(audioMasterCallback master) : ensemble(44100.0f) {
  Create(master, kParameterCount, 1);
  setNumInputs(1);
  setUniqueIDString(kUniqueId);
  setNumOutputs(2);
  canProcessReplacing(true);
  setProgramName("Default");
  if (tEditorFactory factory = editorFactory.load()) factory(*this);
}

tVoicemultiply::~tVoicemultiply() = default;

// ---- parameters ----

void tVoicemultiply::setParameter(int32_t index, float value) {
  SetFloatControl();
  ensemble.Parameters().SetFromHost(index, value);
  if (tParameterListener* editor = ensembleEditor.load(std::memory_order_acquire))
    editor->ParameterChanged(index);
}

float tVoicemultiply::getParameter(int32_t index) {
  SetFloatControl();
  return ensemble.Parameters().HostValue(index);
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
  ensembleEditor.store(dynamic_cast<tParameterListener*>(newEditor), std::memory_order_release);
}

// ---- lifecycle ----

void tVoicemultiply::suspend() { ensemble.Suspend(); }

void tVoicemultiply::resume() { ensemble.Resume(); }

void tVoicemultiply::setSampleRate(float rateHz) {
  SetFloatControl();
  TAudioEffect::setSampleRate(rateHz);
  ensemble.SetSampleRate(rateHz);
}

// ---- processing ----

void tVoicemultiply::process(float** inputs, float** outputs, int32_t count) {
  ProcessBlock(inputs, outputs, false, count);
}

void tVoicemultiply::processReplacing(float** inputs, float** outputs, int32_t count) {
  ProcessBlock(inputs, outputs, true, count);
}

// Missing buffers: nothing to read means silence for whatever can be written.
void tVoicemultiply::ProcessBlock(float** inputs, float** outputs, bool replacing,
                                  int32_t count) {
  if (count <= 0) {
    ensemble.Process(nullptr, nullptr, nullptr, 0, replacing);
    return;
  }
  if (!outputs) return;
  float* outA = outputs[0];
  float* outB = outputs[1];
  const float* in = inputs ? inputs[0] : nullptr;
  if (!in || !outA || !outB) {
    if (replacing)
      for (float* out : {outA, outB})
        if (out) std::fill(out, out + count, 0.0f);
    return;
  }
  ensemble.Process(in, outA, outB, count, replacing);
}

}  // namespace vm
