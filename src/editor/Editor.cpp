#include "editor/Editor.h"

#include <algorithm>
#include <iterator>

#include "analysis/Numeric.h"

namespace vm {

namespace {

constexpr float kCloneSteps = 31.0f;  // knob positions 0..1 map to voice counts 1..32

// Runs `step` with `flag` set, clearing it again on every path.
template <class F>
void WithFlag(bool& flag, F&& step) {
  flag = true;
  try {
    step();
  } catch (...) {
  }
  flag = false;
}

float ClonesKnob(int32_t count) {
  return static_cast<float>(std::clamp(count, 1, kMaxClones) - 1) / kCloneSteps;
}

}  // namespace

tVoicemultiplyEditor::tVoicemultiplyEditor(tVoicemultiply& effect, const tPlatform* platform)
    : TEffEditor(&effect), ensemble(effect), platform(platform) {
  effect.setEditor(this);
}

tVoicemultiplyEditor::~tVoicemultiplyEditor() {
  // The native window goes first: it paints from the form.
  window.reset();
  form.reset();
}

bool tVoicemultiplyEditor::OnGuiThread() const {
  return guiThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void tVoicemultiplyEditor::CreateForm() {
  const int pixelsPerInch = platform ? platform->PixelsPerInch() : 96;
  form = std::make_unique<tVoicemultiplyEditForm>(tFormLook::FacePlate, pixelsPerInch);
  form->Editor = this;
}

int32_t tVoicemultiplyEditor::getRect(ERect** out) {
  SetFloatControl();
  std::lock_guard<std::mutex> serialised(lock);
  if (!out) return 0;
  // The first caller is taken for the GUI thread until an open names it.
  std::thread::id none{};
  guiThread.compare_exchange_strong(none, std::this_thread::get_id(), std::memory_order_acq_rel);
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
  std::lock_guard<std::mutex> serialised(lock);
  if (!parentWindow) return 0;
  guiThread.store(std::this_thread::get_id(), std::memory_order_release);
  if (!form) CreateForm();
  if (platform && !window) window = platform->CreateWindow(*form);
  // The whole form is reloaded below, so changes recorded for it are moot.
  pending.TakeAll();
  LoadForm();
  if (window && !window->Attach(parentWindow)) return 0;
  systemWindow = parentWindow;
  isOpen = true;
  if (window) window->Pump();
  return 1;
}

void tVoicemultiplyEditor::close() {
  SetFloatControl();
  std::lock_guard<std::mutex> serialised(lock);
  if (window) window->Detach();
  systemWindow = nullptr;
  isOpen = false;
}

void tVoicemultiplyEditor::idle() {
  SetFloatControl();
  TEffEditor::idle();
  if (!OnGuiThread()) return;
  ApplyPending();
  if (window) window->Pump();
}

// The order in which open loads the form's controls from the effect.
constexpr tParameterIndex kLoadOrder[] = {
    kClones, kTiming, kVibDepth, kVibRate, kVibRandom, kDynDepth, kDynRate,
    kDynRandom, kSplit, kBassFmnts, kBassLevel, kUnisonFmnts, kUnisonLevel, kAltoFmnts,
    kAltoLevel, kSection, kFocus, kBalance, kMix, kDryDelay, kGain};
static_assert(std::size(kLoadOrder) == kParameterCount);

// Every value, without writing back.
void tVoicemultiplyEditor::LoadForm() {
  WithFlag(updating, [&] {
    for (const tParameterIndex index : kLoadOrder) ApplyParameter(index);
  });
}

// The set-operation that belongs to one parameter, fed the effect's current value.
void tVoicemultiplyEditor::ApplyParameter(int32_t index) {
  const tParameterStore& e = ensemble.Parameters();
  auto real = [&](tParameterIndex i) { return Clamped(e.Setting(i)); };
  auto integer = [&](tParameterIndex i) { return static_cast<int32_t>(e.Setting(i)); };
  auto on = [&](tParameterIndex i) { return e.Setting(i) >= 0.5f; };
  tVoicemultiplyEditForm& f = *form;
  switch (index) {
    case kClones: f.SetClones(ClonesKnob(integer(kClones))); break;
    case kTiming: f.SetTiming(real(kTiming)); break;
    case kVibDepth: f.SetVibratoDepth(real(kVibDepth)); break;
    case kVibRate: f.SetVibratoRate(real(kVibRate)); break;
    case kVibRandom: f.SetVibratoRandom(on(kVibRandom)); break;
    case kSplit: f.SetSplit(std::clamp(integer(kSplit), 0, 5)); break;
    case kBassFmnts: f.SetBassFormants(real(kBassFmnts)); break;
    case kBassLevel: f.SetBassLevel(real(kBassLevel)); break;
    case kAltoFmnts: f.SetAltoFormants(real(kAltoFmnts)); break;
    case kAltoLevel: f.SetAltoLevel(real(kAltoLevel)); break;
    case kSection: f.SetSection(std::clamp(integer(kSection), 0, 4)); break;
    case kFocus: f.SetFocus(real(kFocus)); break;
    case kBalance: f.SetBalance(real(kBalance)); break;
    case kMix: f.SetMix(real(kMix)); break;
    case kDryDelay: f.SetDryDelay(real(kDryDelay)); break;
    case kDynDepth: f.SetDynamicsDepth(real(kDynDepth)); break;
    case kDynRate: f.SetDynamicsRate(real(kDynRate)); break;
    case kDynRandom: f.SetDynamicsRandom(on(kDynRandom)); break;
    case kUnisonFmnts: f.SetUnisonFormants(real(kUnisonFmnts)); break;
    case kUnisonLevel: f.SetUnisonLevel(real(kUnisonLevel)); break;
    case kGain: f.SetGain(real(kGain)); break;
    default: break;
  }
}

void tVoicemultiplyEditor::ParameterChanged(int32_t index) {
  SetFloatControl();
  if (index < 0 || index >= kParameterCount) return;
  if (!OnGuiThread()) {
    pending.Mark(index);  // applied by the GUI thread's next idle
    return;
  }
  if (updating || !form) return;
  WithFlag(updating, [&] { ApplyParameter(index); });
}

void tVoicemultiplyEditor::ApplyPending() {
  uint64_t indices = pending.TakeAll();
  if (!form) return;
  for (int32_t index = 0; indices != 0; ++index, indices >>= 1)
    if (indices & 1u) WithFlag(updating, [&] { ApplyParameter(index); });
}

void tVoicemultiplyEditor::update() {
  SetFloatControl();
  if (updating || !form) return;
  tParameterStore& e = ensemble.Parameters();
  const tVoicemultiplyEditForm& f = *form;
  e.SetSetting(kTiming, static_cast<float>(f.Timing));
  e.SetSetting(kVibDepth, static_cast<float>(f.VibratoDepth));
  e.SetSetting(kVibRate, static_cast<float>(f.VibratoRate));
  e.SetSetting(kVibRandom, static_cast<float>(f.VibratoRandom));
  e.SetSetting(kDynDepth, static_cast<float>(f.DynamicsDepth));
  e.SetSetting(kDynRate, static_cast<float>(f.DynamicsRate));
  e.SetSetting(kDynRandom, static_cast<float>(f.DynamicsRandom));
  e.SetSetting(kSplit, static_cast<float>(f.Split));
  e.SetSetting(kBassFmnts, static_cast<float>(f.BassFormants));
  e.SetSetting(kBassLevel, static_cast<float>(f.BassLevel));
  e.SetSetting(kUnisonFmnts, static_cast<float>(f.UnisonFormants));
  e.SetSetting(kUnisonLevel, static_cast<float>(f.UnisonLevel));
  e.SetSetting(kAltoFmnts, static_cast<float>(f.AltoFormants));
  e.SetSetting(kAltoLevel, static_cast<float>(f.AltoLevel));
  e.SetSetting(kSection, static_cast<float>(f.Section));
  e.SetSetting(kFocus, static_cast<float>(f.Focus));
  e.SetSetting(kBalance, static_cast<float>(f.Balance));
  e.SetSetting(kMix, static_cast<float>(f.Mix));
  e.SetSetting(kDryDelay, static_cast<float>(f.DryDelay));
  e.SetSetting(kGain, static_cast<float>(f.Gain));
  const int32_t count = static_cast<int32_t>(nearest(static_cast<double>(f.Clones) * kCloneSteps)) + 1;
  e.SetSetting(kClones, static_cast<float>(std::clamp(count, 1, kMaxClones)));
}

}  // namespace vm
