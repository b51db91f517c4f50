// The plug-in's editor form as an LV2 user interface: the form in a native child window
// of the host's window, values in port units both ways.
//
// Host to window: a port event (float protocol) moves the matching control through the
// form's set-operation and is remembered as the host's value; nothing is written back
// for it. Window to host: at the end of a gesture every parameter whose form value
// differs from the host's last known value is written through the host's write function
// (port index, one float, protocol 0), and is from then on the host's known value.
//
// Every call comes from the host's user-interface thread (the LV2 rule for UIs), so the
// object takes no lock. The window goes before the form, and the form's way back to this
// object is cut before the form goes: no callback outlives either.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "editor/EditForm.h"
#include "editor/FormOwner.h"
#include "editor/NativeWindow.h"
#include "engine/Parameters.h"

namespace vm::lv2 {

// The host's way in for the values the form changes, with its opaque context.
struct tPortWriter {
  void (*write)(void* controller, uint32_t port, uint32_t bufferSize, uint32_t protocol,
                const void* buffer) = nullptr;
  void* controller = nullptr;
};

class tEditorUi final : public tFormOwner {
 public:
  // The form, loaded with the table's defaults (what the ports hold until the host says
  // otherwise). Without a platform the form is drawn but never shown.
  tEditorUi(tPortWriter writer, const tPlatform* platform);
  ~tEditorUi();
  tEditorUi(const tEditorUi&) = delete;
  tEditorUi& operator=(const tEditorUi&) = delete;

  // Shows the form in a child window of `parent`; false when there is no window to show.
  bool Open(void* parent);
  // The child window's handle (what the host embeds), null before Open.
  void* Widget() const;
  // A port's value from the host. Ignored: other protocols, unknown or audio ports, a
  // buffer that is not one float, NaN. Out-of-range values are limited to the port's range.
  void PortEvent(uint32_t port, uint32_t bufferSize, uint32_t protocol, const void* buffer);
  // Handles the window's events and repaints (the host's idle).
  void Idle();

  void FormChanged() override;

  tVoicemultiplyEditForm& Form() { return *form; }

 private:
  void Show(int32_t index, float setting);
  void WriteChanged();

  tPortWriter writer;
  const tPlatform* platform;
  std::unique_ptr<tVoicemultiplyEditForm> form;
  std::unique_ptr<tNativeWindow> window;
  std::array<float, kParameterCount> hostSettings{};  // the host's last known values
  bool showingHost = false;  // set-operations from a port event: no write-back
};

}  // namespace vm::lv2
