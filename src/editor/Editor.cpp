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
  const tVoicemultiply& e = ensemble;
  auto real = [](float v) { return tVoicemultiply::Clamped(v); };
  tVoicemultiplyEditForm& f = *form;
  switch (index) {
    case kClones: f.SetClones(ClonesKnob(e.Clones)); break;
    case kTiming: f.SetTiming(real(e.Timing)); break;
    case kVibDepth: f.SetVibratoDepth(real(e.VibDepth)); break;
    case kVibRate: f.SetVibratoRate(real(e.VibRate)); break;
    case kVibRandom: f.SetVibratoRandom(e.VibRandom); break;
    case kSplit: f.SetSplit(std::clamp(int32_t(e.Split), 0, 5)); break;
    case kBassFmnts: f.SetBassFormants(real(e.BassFmnts)); break;
    case kBassLevel: f.SetBassLevel(real(e.BassLevel)); break;
    case kAltoFmnts: f.SetAltoFormants(real(e.AltoFmnts)); break;
    case kAltoLevel: f.SetAltoLevel(real(e.AltoLevel)); break;
    case kSection: f.SetSection(std::clamp(int32_t(e.Section), 0, 4)); break;
    case kFocus: f.SetFocus(real(e.Focus)); break;
    case kBalance: f.SetBalance(real(e.Balance)); break;
    case kMix: f.SetMix(real(e.Mix)); break;
    case kDryDelay: f.SetDryDelay(real(e.DryDelay)); break;
    case kDynDepth: f.SetDynamicsDepth(real(e.DynDepth)); break;
    case kDynRate: f.SetDynamicsRate(real(e.DynRate)); break;
    case kDynRandom: f.SetDynamicsRandom(e.DynRandom); break;
    case kUnisonFmnts: f.SetUnisonFormants(real(e.UnisonFmnts)); break;
    case kUnisonLevel: f.SetUnisonLevel(real(e.UnisonLevel)); break;
    case kGain: f.SetGain(real(e.Gain)); break;
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
  tVoicemultiply& e = ensemble;
  const tVoicemultiplyEditForm& f = *form;
  e.Timing = f.Timing;
  e.VibDepth = f.VibratoDepth;
  e.VibRate = f.VibratoRate;
  e.VibRandom = f.VibratoRandom;
  e.DynDepth = f.DynamicsDepth;
  e.DynRate = f.DynamicsRate;
  e.DynRandom = f.DynamicsRandom;
  e.Split = f.Split;
  e.BassFmnts = f.BassFormants;
  e.BassLevel = f.BassLevel;
  e.UnisonFmnts = f.UnisonFormants;
  e.UnisonLevel = f.UnisonLevel;
  e.AltoFmnts = f.AltoFormants;
  e.AltoLevel = f.AltoLevel;
  e.Section = f.Section;
  e.Focus = f.Focus;
  e.Balance = f.Balance;
  e.Mix = f.Mix;
  e.DryDelay = f.DryDelay;
  e.Gain = f.Gain;
  const int32_t count = static_cast<int32_t>(nearest(static_cast<double>(f.Clones) * kCloneSteps)) + 1;
  e.Reconfigure(std::clamp(count, 1, kMaxClones));
}

}  // namespace vm
