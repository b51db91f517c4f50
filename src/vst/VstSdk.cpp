// The effect base, the editor base and the record's plain functions.

#include "vst/VstSdk.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/Numeric.h"
#include "engine/Parameters.h"
#include "vst/VstAbi.h"

namespace vm {

namespace {

TAudioEffect* EffectOf(AEffect* record) {
  return record ? static_cast<TAudioEffect*>(record->object) : nullptr;
}

// effClose's end. The editor goes before the effect: until its window is gone, a
// gesture ending there (on the window's own thread, whichever thread closes) still
// writes into the effect, whose destructor frees the engine before the base's.
void DestroyEffect(TAudioEffect* effect) {
  TEffEditor* editor = effect->getEditor();
  effect->setEditor(nullptr);
  delete editor;
  delete effect;
}

// The plain functions the host calls. No exception may cross into the host: each one
// catches everything and answers as if the call did nothing.
intptr_t staticDispatcher(AEffect* record, int32_t opcode, int32_t index, intptr_t value,
                          void* ptr, float opt) {
  TAudioEffect* effect = EffectOf(record);
  if (!effect) return 0;
  try {
    const intptr_t result = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == effClose) {
      DestroyEffect(effect);
      return 1;
    }
    return result;
  } catch (...) {
    if (opcode == effClose) {
      try {
        DestroyEffect(effect);
      } catch (...) {
      }
      return 1;
    }
    return 0;
  }
}

void staticProcess(AEffect* record, float** inputs, float** outputs, int32_t sampleFrames) {
  try {
    if (TAudioEffect* effect = EffectOf(record)) effect->process(inputs, outputs, sampleFrames);
  } catch (...) {
  }
}

void staticProcessReplacing(AEffect* record, float** inputs, float** outputs,
                            int32_t sampleFrames) {
  try {
    if (TAudioEffect* effect = EffectOf(record))
      effect->processReplacing(inputs, outputs, sampleFrames);
  } catch (...) {
  }
}

void staticSetParameter(AEffect* record, int32_t index, float value) {
  try {
    if (TAudioEffect* effect = EffectOf(record)) effect->setParameter(index, value);
  } catch (...) {
  }
}

float staticGetParameter(AEffect* record, int32_t index) {
  try {
    if (TAudioEffect* effect = EffectOf(record)) return effect->getParameter(index);
  } catch (...) {
  }
  return 0.0f;
}

// Texts the helpers write: 8 characters and a terminator.
constexpr int kTextLength = 8;
constexpr const char* kHugeText = "  Huge! ";

}  // namespace

// ---- TEffEditor ----

int32_t TEffEditor::getRect(ERect**) { return 0; }

int32_t TEffEditor::open(void* window) {
  systemWindow = window;
  return 0;
}

void TEffEditor::idle() {
  uint8_t expected = 1;
  if (updateFlag.compare_exchange_strong(expected, 0)) update();
}

// ---- TAudioEffect ----

TAudioEffect::~TAudioEffect() { delete editor; }

AEffect* TAudioEffect::getAeffect() { return reinterpret_cast<AEffect*>(cEffect); }

void TAudioEffect::Create(audioMasterCallback master, int32_t paramCount,
                          int32_t programCount) {
  audioMaster = master;
  editor = nullptr;
  numParams = paramCount;
  numPrograms = programCount;
  curProgram = 0;
  setProgramName("Default");

  AEffect* record = new (cEffect) AEffect{};
  record->magic = kEffectMagic;
  record->dispatcher = staticDispatcher;
  record->process = staticProcess;
  record->setParameter = staticSetParameter;
  record->getParameter = staticGetParameter;
  record->numPrograms = programCount;
  record->numParams = paramCount;
  record->numInputs = 1;
  record->numOutputs = 2;
  record->flags = 0;
  record->ioRatio = 1.0f;
  record->object = this;
  record->user = nullptr;
  record->uniqueID = 0;
  record->version = 1;
  record->processReplacing = staticProcessReplacing;

  sampleRate.store(44100.0f, std::memory_order_relaxed);
  blockSize = 1024;
  setupFPU();
}

void TAudioEffect::setUniqueID(int32_t id) { getAeffect()->uniqueID = id; }

void TAudioEffect::setUniqueIDString(const char* code) {
  if (!code) return;
  int32_t id = 0;
  for (int i = 0; i < 4 && code[i]; ++i)
    id = static_cast<int32_t>((static_cast<uint32_t>(id) << 8) |
                              static_cast<unsigned char>(code[i]));
  setUniqueID(id);
}

void TAudioEffect::setNumInputs(int32_t count) { getAeffect()->numInputs = count; }
void TAudioEffect::setNumOutputs(int32_t count) { getAeffect()->numOutputs = count; }

void TAudioEffect::setProgram(int32_t program) {
  SetFloatControl();
  if (program >= 0 && program < numPrograms) curProgram = program;
}

void TAudioEffect::setProgramName(const char* name) {
  SetFloatControl();
  if (!name) return;
  std::strncpy(programName, name, sizeof programName - 1);
  programName[sizeof programName - 1] = '\0';
}

int32_t TAudioEffect::getProgram() {
  SetFloatControl();
  return curProgram;
}

void TAudioEffect::getProgramName(char* text) {
  SetFloatControl();
  if (text) std::strcpy(text, programName);
}

void TAudioEffect::getParameterLabel(int32_t, char* text) {
  if (text) *text = '\0';
}
void TAudioEffect::getParameterDisplay(int32_t, char* text) {
  if (text) *text = '\0';
}
void TAudioEffect::getParameterName(int32_t, char* text) {
  if (text) *text = '\0';
}

void TAudioEffect::setFlag(int32_t flag, bool state) {
  int32_t& flags = getAeffect()->flags;
  flags = state ? (flags | flag) : (flags & ~flag);
}

int32_t TAudioEffect::flags() const {
  return reinterpret_cast<const AEffect*>(cEffect)->flags;
}

void TAudioEffect::hasVu(bool state) { setFlag(effFlagsHasVu, state); }
void TAudioEffect::hasClip(bool state) { setFlag(effFlagsHasClip, state); }
void TAudioEffect::canMono(bool state) { setFlag(effFlagsCanMono, state); }
void TAudioEffect::canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }

intptr_t TAudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt) {
  if (!audioMaster) return 0;
  return audioMaster(getAeffect(), opcode, index, value, ptr, opt);
}

int32_t TAudioEffect::getMasterVersion() {
  return static_cast<int32_t>(callHost(audioMasterVersion, 0, 0, nullptr, 0.0f));
}
int32_t TAudioEffect::getCurrentUniqueId() {
  return static_cast<int32_t>(callHost(audioMasterCurrentId, 0, 0, nullptr, 0.0f));
}
void TAudioEffect::masterIdle() { callHost(audioMasterIdle, 0, 0, nullptr, 0.0f); }
int32_t TAudioEffect::isInputConnected(int32_t pin) {
  return static_cast<int32_t>(callHost(audioMasterPinConnected, pin, 0, nullptr, 0.0f));
}
int32_t TAudioEffect::isOutputConnected(int32_t pin) {
  return static_cast<int32_t>(callHost(audioMasterPinConnected, pin, 1, nullptr, 0.0f));
}
int32_t TAudioEffect::getHostVendorString(char* text) {
  return static_cast<int32_t>(callHost(audioMasterGetVendorString, 0, 0, text, 0.0f));
}
int32_t TAudioEffect::getHostProductString(char* text) {
  return static_cast<int32_t>(callHost(audioMasterGetProductString, 0, 0, text, 0.0f));
}

void TAudioEffect::setParameterAutomated(int32_t index, float value) {
  setParameter(index, value);
  callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void TAudioEffect::setEditor(TEffEditor* newEditor) {
  editor = newEditor;
  setFlag(effFlagsHasEditor, newEditor != nullptr);
}

void TAudioEffect::setupFPU() { SetFloatControl(); }

// General format with up to 15 significant digits, cut (not rounded) after 8 characters.
void TAudioEffect::float2string(float value, char* text) { FormatNumber(value, text); }

void TAudioEffect::long2string(int32_t value, char* text) {
  if (!text) return;
  if (value >= 10000000 || value <= -1000000) {
    std::strcpy(text, kHugeText);
    return;
  }
  char full[32];
  std::snprintf(full, sizeof full, value >= 0 ? "%8d" : "%7d", static_cast<int>(value));
  std::memcpy(text, full, kTextLength);
  text[kTextLength] = '\0';
}

void TAudioEffect::dB2string(float value, char* text) {
  if (value > 0.0f)
    float2string(static_cast<float>(20.0 * std::log10(value)), text);
  else if (text)
    std::strcpy(text, "  -oo   ");
}

void TAudioEffect::Hz2string(float samples, char* text) {
  if (samples == 0.0f)
    float2string(0.0f, text);
  else
    float2string(getSampleRate() / samples, text);
}

void TAudioEffect::ms2string(float samples, char* text) {
  float2string(static_cast<float>(samples * 1000.0f / getSampleRate()), text);
}

// The opcode switch. Opcodes it does not know do nothing and answer 0.
intptr_t TAudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) {
  char* text = static_cast<char*>(ptr);
  switch (opcode) {
    case effOpen: open(); return 0;
    case effClose: close(); return 1;
    case effSetProgram: setProgram(static_cast<int32_t>(value)); return 0;
    case effGetProgram: return getProgram();
    case effSetProgramName: setProgramName(text); return 0;
    case effGetProgramName: getProgramName(text); return 0;
    case effGetParamLabel: getParameterLabel(index, text); return 0;
    case effGetParamDisplay: getParameterDisplay(index, text); return 0;
    case effGetParamName: getParameterName(index, text); return 0;
    case effGetVu: return nearest(getVu() * 32767.0);
    case effSetSampleRate: setSampleRate(opt); return 0;
    case effSetBlockSize: setBlockSize(static_cast<int32_t>(value)); return 0;
    case effMainsChanged:
      if (value == 0)
        suspend();
      else
        resume();
      return 0;
    case effEditGetRect: return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen: return editor ? editor->open(ptr) : 0;
    case effEditClose:
      if (editor) editor->close();
      return 0;
    case effEditIdle:
      if (editor) editor->idle();
      return 0;
    case effIdentify: return FourCC('N', 'v', 'E', 'f');
    case effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
    default: return 0;
  }
}

}  // namespace vm
