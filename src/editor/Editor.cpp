#include "editor/Editor.h"

#include <algorithm>
#include <iterator>

#include "analysis/Numeric.h"
#include "editor/FormSettings.h"

namespace vm {

namespace {

// Runs `step` with `flag` set, restoring its previous state on every path.
template <class F>
void WithFlag(bool& flag, F&& step) {
  const bool before = flag;
  flag = true;
  try {
    step();
  } catch (...) {
  }
  flag = before;
}

// The order in which open loads the form's controls from the effect.
constexpr tParameterIndex kLoadOrder[] = {
    kClones, kTiming, kVibDepth, kVibRate, kVibRandom, kDynDepth, kDynRate,
    kDynRandom, kSplit, kBassFmnts, kBassLevel, kUnisonFmnts, kUnisonLevel, kAltoFmnts,
    kAltoLevel, kSection, kFocus, kBalance, kMix, kDryDelay, kGain};
static_assert(std::size(kLoadOrder) == kParameterCount);

// The order of the write-back; the voice count last, as the engine is then reconfigured.
constexpr tParameterIndex kWriteOrder[] = {
    kTiming, kVibDepth, kVibRate, kVibRandom, kDynDepth, kDynRate, kDynRandom,
    kSplit, kBassFmnts, kBassLevel, kUnisonFmnts, kUnisonLevel, kAltoFmnts, kAltoLevel,
    kSection, kFocus, kBalance, kMix, kDryDelay, kGain, kClones};
static_assert(std::size(kWriteOrder) == kParameterCount);

}  // namespace

// Marks an open or close in progress for its whole body, so that calls the host nests in
// it (from the window's messages) can tell.
class tVoicemultiplyEditor::tTransitionScope {
 public:
  tTransitionScope(tVoicemultiplyEditor& editor, tTransition kind) : editor(editor) {
    editor.transition = kind;
    editor.closeRequested = false;
  }
  ~tTransitionScope() { editor.transition = tTransition::None; }
  tTransitionScope(const tTransitionScope&) = delete;
  tTransitionScope& operator=(const tTransitionScope&) = delete;

 private:
  tVoicemultiplyEditor& editor;
};

tVoicemultiplyEditor::tVoicemultiplyEditor(tVoicemultiply& effect, const tPlatform* platform)
    : TEffEditor(&effect), ensemble(effect), platform(platform) {
  effect.setEditor(this);
}

tVoicemultiplyEditor::~tVoicemultiplyEditor() {
  SetFloatControl();
  destroying.store(true, std::memory_order_release);
  // A call already inside finishes first; one that was waiting for the lock finds
  // `destroying` set once it holds it and returns at once.
  { std::lock_guard<std::recursive_mutex> serialised(lock); }
  // The window goes first (it shows the form and feeds it input), and outside the lock: a
  // destruction on a thread that does not own the native window waits for the window's
  // message in progress, whose handler may be waiting for this lock. Until the window is
  // gone its handlers may still reach this editor, which then refuses every call.
  window.reset();
  if (form) form->Editor = nullptr;
  form.reset();
}

bool tVoicemultiplyEditor::OnGuiThread() const {
  return guiThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

// A new form shows the effect's values from the start, so that whatever it writes back
// (a gesture before any open, in a tool without a window) is the effect's own values and
// the change, never the form's initial values.
void tVoicemultiplyEditor::CreateForm() {
  const int pixelsPerInch = platform ? platform->PixelsPerInch() : 96;
  form = std::make_unique<tVoicemultiplyEditForm>(tFormLook::FacePlate, pixelsPerInch);
  form->Editor = this;
  LoadForm();
}

int32_t tVoicemultiplyEditor::getRect(ERect** out) {
  SetFloatControl();
  if (destroying.load(std::memory_order_acquire)) return 0;
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (!out || destroying.load(std::memory_order_acquire)) return 0;
  if (!form) CreateForm();
  rect.top = 0;
  rect.left = 0;
  rect.bottom = static_cast<int16_t>(form->ClientHeight());
  rect.right = static_cast<int16_t>(form->ClientWidth());
  *out = &rect;
  return 1;
}

int32_t tVoicemultiplyEditor::open(void* parentWindow) {
  SetFloatControl();
  if (destroying.load(std::memory_order_acquire)) return 0;
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (destroying.load(std::memory_order_acquire)) return 0;
  if (!parentWindow || transition != tTransition::None) return 0;
  if (isOpen && !OnGuiThread()) return 0;  // open on the GUI thread: that thread keeps it
  tTransitionScope opening(*this, tTransition::Opening);
  // The whole form is loaded from the effect here, so changes recorded for it are moot.
  pending.TakeAll();
  if (form)
    LoadForm();
  else
    CreateForm();  // which loads it
  if (platform && !window) window = platform->CreateWindow(*form);
  if (window && !window->Attach(parentWindow)) return 0;
  guiThread.store(std::this_thread::get_id(), std::memory_order_release);
  systemWindow = parentWindow;
  isOpen = true;
  if (closeRequested) {
    Hide();  // the host closed the window while it was being shown
    return 1;
  }
  if (window) window->Pump();
  return 1;
}

void tVoicemultiplyEditor::close() {
  SetFloatControl();
  if (destroying.load(std::memory_order_acquire)) return;
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (destroying.load(std::memory_order_acquire)) return;
  if (transition == tTransition::Opening) {
    closeRequested = true;
    return;
  }
  if (transition == tTransition::Closing) return;
  tTransitionScope closing(*this, tTransition::Closing);
  Hide();
}

void tVoicemultiplyEditor::Hide() {
  if (window) window->Detach();
  systemWindow = nullptr;
  isOpen = false;
}

void tVoicemultiplyEditor::idle() {
  SetFloatControl();
  if (destroying.load(std::memory_order_acquire)) return;
  TEffEditor::idle();
  if (!OnGuiThread()) return;
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (destroying.load(std::memory_order_acquire) || transition != tTransition::None) return;
  ApplyPending();
  if (window) window->Pump();
}

// Every value, without writing back.
void tVoicemultiplyEditor::LoadForm() {
  WithFlag(updating, [&] {
    for (const tParameterIndex index : kLoadOrder) ApplyParameter(index);
  });
}

// One parameter from the store into the form, remembering which version the form shows.
// The version is read first: a host change between the two reads then leaves an older
// record, which only makes the next write-back of this parameter yield to the store.
void tVoicemultiplyEditor::ApplyParameter(int32_t index) {
  const tParameterStore& store = ensemble.Parameters();
  const uint32_t version = store.Version(index);
  const float setting = store.Setting(index);
  ShowSetting(*form, index, setting);
  shown[static_cast<size_t>(index)] = {version, setting, true};
}

void tVoicemultiplyEditor::ParameterChanged(int32_t index) {
  SetFloatControl();
  if (!IsParameter(index) || destroying.load(std::memory_order_acquire)) return;
  if (!OnGuiThread()) {
    pending.Mark(index);  // applied by the GUI thread's next idle
    return;
  }
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (!form || destroying.load(std::memory_order_acquire)) return;
  if (updating || transition != tTransition::None) {
    pending.Mark(index);  // reported from inside the editor's own work: after it
    return;
  }
  WithFlag(updating, [&] { ApplyParameter(index); });
}

void tVoicemultiplyEditor::ApplyPending() {
  uint64_t indices = pending.TakeAll();
  if (!form) return;
  for (int32_t index = 0; indices != 0; ++index, indices >>= 1)
    if (indices & 1u) WithFlag(updating, [&] { ApplyParameter(index); });
}

void tVoicemultiplyEditor::FormChanged() { update(); }

void tVoicemultiplyEditor::update() {
  SetFloatControl();
  if (destroying.load(std::memory_order_acquire)) return;
  std::lock_guard<std::recursive_mutex> serialised(lock);
  if (updating || !form || destroying.load(std::memory_order_acquire)) return;
  const uint32_t hostKept = WriteFormToEffect();
  for (int32_t index = 0; index < kParameterCount; ++index)
    if (hostKept & (1u << index)) pending.Mark(index);  // shown at the next idle
}

// Window to engine: every value of the form into the effect's store, each only if the
// host has not changed the parameter since the form showed it; the audio thread applies
// the stored values at its next block. Returns the parameters whose host value stood (bit i for index i).
uint32_t tVoicemultiplyEditor::WriteFormToEffect() {
  tParameterStore& store = ensemble.Parameters();
  uint32_t hostKept = 0;
  for (const tParameterIndex index : kWriteOrder) {
    tShown& seen = shown[static_cast<size_t>(index)];
    const float setting = FormSetting(*form, index);
    if (!seen.valid || !store.SetSettingIfUnchanged(index, setting, seen.version)) {
      hostKept |= 1u << index;
      continue;
    }
    // The store counts a change only when the setting differs (NaN always differs).
    if (!(setting == seen.setting)) ++seen.version;
    seen.setting = setting;
  }
  return hostKept;
}

}  // namespace vm
