// libFuzzer entry: the fuzz bytes become the validator's call stream against an effect
// created in this process (the same construction as the library's `main`), so coverage of
// the engine guides the search. A failed check aborts, which the fuzzer records as a crash.

#include <cstddef>
#include <cstdint>

#include "CallSource.h"
#include "Validator.h"
#include "analysis/Numeric.h"
#include "editor/EditorFactory.h"
#include "vst/Voicemultiply.h"

namespace {

constexpr int64_t kMaxSteps = 400;  // calls per input: keeps one execution in milliseconds

vm::AEffect* CreateEffect(vm::audioMasterCallback master) {
  vm::SetFloatControl();
  if (!master || master(nullptr, vm::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
  return (new vm::tVoicemultiply(master))->getAeffect();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vm::tVoicemultiply::SetEditorFactory(&vm::CreateVoicemultiplyEditor);
  vm::tByteSource source(data, size);
  vm::tValidatorOptions options;
  options.threads = false;
  options.memory = false;
  options.editorWindow = false;
  options.abortOnFailure = true;
  vm::tValidator validator(&CreateEffect, source, options);
  validator.Run(kMaxSteps);
  return 0;
}
