// The few VST 2 types that the effect and editor base classes name in their interface,
// without the record itself: only VstAbi.h (included by the binding's .cpp files) knows
// the record's layout.
#pragma once

#include <cstdint>

namespace vm {

struct AEffect;

// Host callback: (effect, opcode, index, value, ptr, opt) -> pointer-sized result.
using audioMasterCallback = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index,
                                         intptr_t value, void* ptr, float opt);

// Editor rectangle in pixels, as the host reads it.
struct ERect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

// Size of the record in this build: 192 bytes on 64-bit targets, 144 on 32-bit ones.
inline constexpr int kAEffectSize = sizeof(void*) == 8 ? 192 : 144;

}  // namespace vm
