// The effect's editor: owns the form, carries values both ways between it and the
// effect. Host to window: the effect reports each stored parameter (ParameterChanged) and
// the editor moves the one matching control. Window to engine: at the end of a gesture
// the form calls update, which writes the form's values into the effect's store; the
// audio thread applies them at its next block. The editor never sends automation to the host; the host reads the
// values back.
//
// Host changes against the write-back. For each parameter the editor keeps the store
// version the form last showed (set whenever a value from the store reaches the form, and
// moved on by each write-back). update writes a value only if the parameter is still at
// that version; where the host changed it since, the host's value stays in the effect and
// the form shows it at the GUI thread's next idle. So a host change wins over the form's
// copy when it came after the form last showed that parameter, even on the control the
// user is dragging; a control the user moves after the form showed the host's value
// writes the user's value. Nothing else changes: every other value is written as before.
//
// The GUI thread is the thread of the last successful open. It keeps the role while the
// window is open and after a close; another thread takes it only with an open that
// succeeds while the window is closed (a host that moves its user interface to another
// thread between close and open). An open from another thread while the window is open is
// refused (result 0, nothing changes); an open whose attach fails, getRect, idle and close
// never move the role. Before the first successful open there is no GUI thread.
//
// Serialisation: everything that touches the form or the native window holds one
// re-entrant lock: getRect, open, close, idle, update and ParameterChanged on the GUI
// thread. ParameterChanged on any other thread (hosts call setParameter on the audio
// thread) takes no lock, allocates nothing and never waits: it records the index, and the
// GUI thread's idle applies it, reading the value then, which gives the same control
// state. idle pumps the window on the GUI thread only.
//
// Re-entry: a host may call the editor again from the messages the window sends while it
// is shown, re-parented or hidden, on the same thread with the lock held. getRect answers
// as usual; an open nested in an open or close is refused; a close nested in an open is
// carried out once the window is attached (the host's last word holds); a close nested in
// a close is already being done; idle does nothing until the outer call is finished; host
// changes wait for the next idle.
//
// Destruction (with the effect, on whatever thread the host closes it): from its first
// step no entry does anything any more; it waits for a call in progress on another
// thread, destroys the window (which shows the form) outside the lock, then cuts the
// form's way back to the editor and destroys the form. It never touches the effect, which
// is destroyed after its editor.
//
// Every entry masks floating-point exceptions for the calling thread first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "editor/EditForm.h"
#include "editor/FormOwner.h"
#include "editor/NativeWindow.h"
#include "editor/PendingParameters.h"
#include "vst/Voicemultiply.h"
#include "vst/VstSdk.h"
#include "vst/VstTypes.h"

namespace vm {

class tVoicemultiplyEditor : public TEffEditor, public tParameterListener, public tFormOwner {
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
  void FormChanged() override;  // the form's gesture end: update()

  tVoicemultiplyEditForm* Form() const { return form.get(); }
  bool Updating() const { return updating; }
  bool IsOpen() const { return isOpen; }
  tNativeWindow* Window() const { return window.get(); }

 private:
  // A store version the form showed, and the setting it had then.
  struct tShown {
    uint32_t version = 0;
    float setting = 0;
    bool valid = false;  // false until the form first shows the parameter
  };
  enum class tTransition { None, Opening, Closing };
  class tTransitionScope;

  bool OnGuiThread() const;
  void CreateForm();
  void LoadForm();
  void ApplyParameter(int32_t index);
  void ApplyPending();
  uint32_t WriteFormToEffect();
  void Hide();

  tVoicemultiply& ensemble;
  const tPlatform* platform;
  std::unique_ptr<tVoicemultiplyEditForm> form;
  std::unique_ptr<tNativeWindow> window;
  ERect rect{};
  bool updating = false;  // values are going from the effect into the form
  bool isOpen = false;
  tTransition transition = tTransition::None;  // an open or close in progress
  bool closeRequested = false;                 // a close arrived during an open
  std::array<tShown, kParameterCount> shown{};
  std::recursive_mutex lock;  // everything that touches the form or the window
  std::atomic<std::thread::id> guiThread{};
  std::atomic<bool> destroying{false};
  tPendingParameters pending;  // host changes from other threads, for the GUI thread
};

}  // namespace vm
