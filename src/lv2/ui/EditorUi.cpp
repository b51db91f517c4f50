#include "lv2/ui/EditorUi.h"

#include <cmath>
#include <cstring>

#include "editor/FormSettings.h"
#include "lv2/PortMapping.h"

namespace vm::lv2 {

namespace {

constexpr uint32_t kFloatProtocol = 0;  // a plain float, in the port's own units

// A port's value as the stored setting it selects (limited to the port's range).
float SettingFromPort(int32_t index, float portValue) {
  return SettingFromHost(index, HostValueFromPort(index, portValue));
}

// A stored setting in the port's units.
float PortFromSetting(int32_t index, float setting) {
  return PortValueFromHost(index, HostFromSetting(index, setting));
}

}  // namespace

tEditorUi::tEditorUi(tPortWriter writer, const tPlatform* platform)
    : writer(writer), platform(platform) {
  const int pixelsPerInch = platform ? platform->PixelsPerInch() : 96;
  form = std::make_unique<tVoicemultiplyEditForm>(tFormLook::FacePlate, pixelsPerInch);
  for (const tParameterInfo& p : kParameters) Show(p.index, p.defaultSetting);
  form->Editor = this;
}

tEditorUi::~tEditorUi() {
  window.reset();  // feeds the form input: goes first
  form->Editor = nullptr;
  form.reset();
}

bool tEditorUi::Open(void* parent) {
  if (!platform || !parent) return false;
  if (!window) window = platform->CreateWindow(*form);
  if (!window || !window->Attach(parent)) return false;
  window->Pump();  // the first paint
  return true;
}

void* tEditorUi::Widget() const { return window ? window->NativeHandle() : nullptr; }

void tEditorUi::PortEvent(uint32_t port, uint32_t bufferSize, uint32_t protocol,
                          const void* buffer) {
  if (protocol != kFloatProtocol || bufferSize != sizeof(float) || !buffer) return;
  if (port < kFirstControlPort || port >= kPortCount) return;
  float value;
  std::memcpy(&value, buffer, sizeof value);
  if (std::isnan(value)) return;
  const auto index = static_cast<int32_t>(port - kFirstControlPort);
  Show(index, SettingFromPort(index, value));
}

// One setting into the form without writing back; what the form then shows is the
// host's known value (equal to the setting, read back in the form's own resolution).
void tEditorUi::Show(int32_t index, float setting) {
  const bool before = showingHost;
  showingHost = true;
  ShowSetting(*form, index, setting);
  showingHost = before;
  hostSettings[static_cast<size_t>(index)] = FormSetting(*form, index);
}

void tEditorUi::Idle() {
  if (window) window->Pump();
}

void tEditorUi::FormChanged() {
  if (!showingHost) WriteChanged();
}

void tEditorUi::WriteChanged() {
  for (const tParameterInfo& p : kParameters) {
    const float setting = FormSetting(*form, p.index);
    float& known = hostSettings[static_cast<size_t>(p.index)];
    if (setting == known) continue;
    known = setting;
    if (!writer.write) continue;
    const float portValue = PortFromSetting(p.index, setting);
    writer.write(writer.controller, kFirstControlPort + static_cast<uint32_t>(p.index),
                 sizeof portValue, kFloatProtocol, &portValue);
  }
}

}  // namespace vm::lv2
