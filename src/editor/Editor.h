// The effect's editor: owns the form, carries values both ways between it and the
// effect. Host to window: the effect reports each stored parameter (ParameterChanged) and
// the editor moves the one matching control. Window to engine: at the end of a gesture
// the form calls update, which writes all 21 values into the effect and reconfigures it.
// The editor never sends automation to the host; the host reads the values back.
//
// Threads: getRect, open, close, idle and update run on the host's GUI thread (the
// thread of the last open). ParameterChanged may come from any thread: on the GUI thread
// it applies at once, elsewhere it records the index, and the GUI thread applies it at
// its next idle, reading the value then, which gives the same control state.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "editor/EditForm.h"
#include "editor/NativeWindow.h"
#include "editor/PendingParameters.h"
#include "vst/Voicemultiply.h"
#include "vst/VstSdk.h"
#include "vst/VstTypes.h"

namespace vm {

class tVoicemultiplyEditor : public TEffEditor, public tParameterListener {
 public:
  // Attaches itself to `effect` with setEditor. Without a platform (tests, tools) the
  // form is drawn but never shown in a window.
  tVoicemultiplyEditor(tVoicemultiply& effect, const tPlatform* platform = nullptr);
  ~tVoicemultiplyEditor() override;

  int32_t getRect(ERect** rect) override;
  int32_t open(void* parentWindow) override;
  void close() override;
  void idle() override;
  void update() override;
  void ParameterChanged(int32_t index) override;

  tVoicemultiplyEditForm* Form() const { return form.get(); }
  bool Updating() const { return updating; }
  bool IsOpen() const { return isOpen; }
  tNativeWindow* Window() const { return window.get(); }

 private:
  void CreateForm();
  void LoadForm();
  void ApplyParameter(int32_t index);
  void ApplyPending();
  bool OnGuiThread() const;

  tVoicemultiply& ensemble;
  const tPlatform* platform;
  std::unique_ptr<tVoicemultiplyEditForm> form;
  std::unique_ptr<tNativeWindow> window;
  ERect rect{};
  bool updating = false;
  bool isOpen = false;
  std::mutex lock;  // serialises getRect, open and close
  std::atomic<std::thread::id> guiThread{};
  tPendingParameters pending;
};

}  // namespace vm
