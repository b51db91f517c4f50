// The library's single export. Hosts look up the symbol `main`; a C++ function cannot be
// called main unless it returns int, so the entry has its own name in C++ and the
// assembler label binds it to `main`.

#include "analysis/Numeric.h"
#include "editor/EditorFactory.h"
#include "vst/Voicemultiply.h"
#include "vst/VstAbi.h"

#if defined(_WIN32)
#define VM_EXPORT __declspec(dllexport)
#else
#define VM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// At load: floating-point exceptions masked, and the editor made available to effects.
struct tLibraryLoad {
  tLibraryLoad() {
    vm::SetFloatControl();
    vm::tVoicemultiply::SetEditorFactory(&vm::CreateVoicemultiplyEditor);
  }
} libraryLoad;

}  // namespace

extern "C" VM_EXPORT vm::AEffect* VstPluginEntry(vm::audioMasterCallback audioMaster) asm("main");

extern "C" VM_EXPORT vm::AEffect* VstPluginEntry(vm::audioMasterCallback audioMaster) {
  try {
    vm::SetFloatControl();
    if (!audioMaster) return nullptr;
    if (audioMaster(nullptr, vm::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    auto* effect = new vm::tVoicemultiply(audioMaster);
    return effect->getAeffect();
  } catch (...) {
    return nullptr;
  }
}
