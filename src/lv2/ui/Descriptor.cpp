// The LV2 UI entry points. Each masks floating-point exceptions for the calling thread
// first and lets no C++ exception out: a failure becomes a null handle or nothing done.
#include <lv2/ui/ui.h>

#include <cstring>
#include <new>

#include "analysis/Numeric.h"
#include "lv2/ui/EditorUi.h"
#include "platform/Platform.h"

namespace vm::lv2 {

namespace {

constexpr const char* kPluginUri = "urn:voicemultiply:VoicemultiplyV42_MS";
constexpr const char* kUiUri = "urn:voicemultiply:VoicemultiplyV42_MS#ui";

// The data of the host's feature `uri`, and whether it was offered at all.
struct tFeature {
  bool offered = false;
  void* data = nullptr;
};

tFeature FindFeature(const LV2_Feature* const* features, const char* uri) {
  if (!features) return {};
  for (const LV2_Feature* const* f = features; *f; ++f)
    if ((*f)->URI && std::strcmp((*f)->URI, uri) == 0) return {true, (*f)->data};
  return {};
}

// Tells a host that offers ui:resize the form's fixed size, so its frame fits it.
void AnnounceSize(const LV2_Feature* const* features, tEditorUi& ui) {
  const auto* resize = static_cast<const LV2UI_Resize*>(FindFeature(features, LV2_UI__resize).data);
  if (!resize || !resize->ui_resize) return;
  resize->ui_resize(resize->handle, ui.Form().ClientWidth(), ui.Form().ClientHeight());
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
  SetFloatControl();
  try {
    if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !widget) return nullptr;
    const tFeature parent = FindFeature(features, LV2_UI__parent);
    if (!parent.offered || !parent.data) return nullptr;
    auto ui = std::make_unique<tEditorUi>(tPortWriter{write, controller}, &NativePlatform());
    if (!ui->Open(parent.data)) return nullptr;
    *widget = ui->Widget();
    AnnounceSize(features, *ui);
    return ui.release();
  } catch (...) {
    return nullptr;
  }
}

void Cleanup(LV2UI_Handle handle) {
  SetFloatControl();
  try {
    delete static_cast<tEditorUi*>(handle);
  } catch (...) {
  }
}

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t bufferSize, uint32_t protocol,
               const void* buffer) {
  SetFloatControl();
  if (!handle) return;
  try {
    static_cast<tEditorUi*>(handle)->PortEvent(port, bufferSize, protocol, buffer);
  } catch (...) {
  }
}

// 0 while the user interface is alive: it never closes itself.
int Idle(LV2UI_Handle handle) {
  SetFloatControl();
  if (!handle) return 0;
  try {
    static_cast<tEditorUi*>(handle)->Idle();
  } catch (...) {
  }
  return 0;
}

constexpr LV2UI_Idle_Interface kIdleInterface{&Idle};

const void* ExtensionData(const char* uri) {
  if (uri && std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdleInterface;
  return nullptr;
}

constexpr LV2UI_Descriptor kDescriptor{kUiUri, &Instantiate, &Cleanup, &PortEvent, &ExtensionData};

}  // namespace

}  // namespace vm::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
  return index == 0 ? &vm::lv2::kDescriptor : nullptr;
}
