// The VST 2.4 binary interface between a host and this plug-in: the AEffect record, its
// function types, the opcodes and the flags. Declared here from the published facts of
// the interface; every value below is fixed by hosts already in the field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vst/VstTypes.h"

namespace vm {

using AEffectDispatcherProc = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index,
                                           intptr_t value, void* ptr, float opt);
using AEffectProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs,
                                    int32_t sampleFrames);
using AEffectProcessDoubleProc = void (*)(AEffect* effect, double** inputs,
                                          double** outputs, int32_t sampleFrames);
using AEffectSetParameterProc = void (*)(AEffect* effect, int32_t index, float value);
using AEffectGetParameterProc = float (*)(AEffect* effect, int32_t index);

// Natural alignment, at most 8-byte packing, as every VST 2 host expects.
#pragma pack(push, 8)
struct AEffect {
  int32_t magic;  // kEffectMagic
  AEffectDispatcherProc dispatcher;
  AEffectProcessProc process;  // accumulating; deprecated but still called
  AEffectSetParameterProc setParameter;
  AEffectGetParameterProc getParameter;
  int32_t numPrograms;
  int32_t numParams;
  int32_t numInputs;
  int32_t numOutputs;
  int32_t flags;
  intptr_t resvd1;
  intptr_t resvd2;
  int32_t initialDelay;   // samples
  int32_t realQualities;  // unused
  int32_t offQualities;   // unused
  float ioRatio;
  void* object;  // the plug-in's own object
  void* user;    // the host's
  int32_t uniqueID;
  int32_t version;
  AEffectProcessProc processReplacing;
  AEffectProcessDoubleProc processDoubleReplacing;
  char future[56];
};
#pragma pack(pop)

static_assert(sizeof(AEffect) == kAEffectSize, "AEffect layout");
#if INTPTR_MAX == INT64_MAX
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, resvd1) == 64);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, future) == 136);
#endif
static_assert(sizeof(ERect) == 8 && offsetof(ERect, right) == 6, "ERect layout");

// Four characters packed into 32 bits, first character in the highest byte.
constexpr int32_t FourCC(char a, char b, char c, char d) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
                              static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

inline constexpr int32_t kEffectMagic = FourCC('V', 's', 't', 'P');

enum VstAEffectFlags : int32_t {
  effFlagsHasEditor = 1 << 0,
  effFlagsHasClip = 1 << 1,
  effFlagsHasVu = 1 << 2,
  effFlagsCanMono = 1 << 3,
  effFlagsCanReplacing = 1 << 4,
  effFlagsProgramChunks = 1 << 5,
  effFlagsIsSynth = 1 << 8,
  effFlagsNoSoundInStop = 1 << 9,
  effFlagsCanDoubleReplacing = 1 << 12,
};

// Host to plug-in, through the dispatcher.
enum AEffectOpcodes : int32_t {
  effOpen = 0,
  effClose = 1,
  effSetProgram = 2,
  effGetProgram = 3,
  effSetProgramName = 4,
  effGetProgramName = 5,
  effGetParamLabel = 6,
  effGetParamDisplay = 7,
  effGetParamName = 8,
  effGetVu = 9,
  effSetSampleRate = 10,  // rate in opt
  effSetBlockSize = 11,   // size in value
  effMainsChanged = 12,   // 0 off, otherwise on, in value
  effEditGetRect = 13,    // ptr: ERect**
  effEditOpen = 14,       // ptr: parent window
  effEditClose = 15,
  effEditDraw = 16,
  effEditMouse = 17,
  effEditKey = 18,
  effEditIdle = 19,
  effEditTop = 20,
  effEditSleep = 21,
  effIdentify = 22,
  effGetChunk = 23,
  effSetChunk = 24,
  effProcessEvents = 25,
  effCanBeAutomated = 26,
  effString2Parameter = 27,
  effGetProgramNameIndexed = 29,
  effGetInputProperties = 33,
  effGetOutputProperties = 34,
  effGetPlugCategory = 35,
  effSetSpeakerArrangement = 42,
  effSetBypass = 44,
  effGetEffectName = 45,
  effGetVendorString = 47,
  effGetProductString = 48,
  effGetVendorVersion = 49,
  effCanDo = 51,
  effGetTailSize = 52,
  effGetVstVersion = 58,
  effStartProcess = 71,
  effStopProcess = 72,
};

// Plug-in to host, through the callback.
enum AudioMasterOpcodes : int32_t {
  audioMasterAutomate = 0,
  audioMasterVersion = 1,
  audioMasterCurrentId = 2,
  audioMasterIdle = 3,
  audioMasterPinConnected = 4,
  audioMasterGetVendorString = 32,
  audioMasterGetProductString = 33,
};

}  // namespace vm
