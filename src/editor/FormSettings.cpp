#include "editor/FormSettings.h"

#include <algorithm>

#include "analysis/Numeric.h"
#include "editor/EditForm.h"
#include "engine/Parameters.h"
#include "engine/VoiceTables.h"

namespace vm {

namespace {

constexpr float kCloneSteps = 31.0f;  // knob positions 0..1 map to voice counts 1..32

float ClonesKnob(int32_t count) {
  return static_cast<float>(std::clamp(count, 1, kMaxClones) - 1) / kCloneSteps;
}

int32_t VoiceCount(float clonesKnob) {
  const int32_t count = nearest(static_cast<double>(clonesKnob) * kCloneSteps) + 1;
  return std::clamp(count, 1, kMaxClones);
}

}  // namespace

void ShowSetting(tVoicemultiplyEditForm& f, int32_t index, float setting) {
  const float real = Clamped(setting);
  const auto integer = static_cast<int32_t>(setting);
  const bool on = setting >= 0.5f;
  switch (index) {
    case kClones: f.SetClones(ClonesKnob(integer)); break;
    case kTiming: f.SetTiming(real); break;
    case kVibDepth: f.SetVibratoDepth(real); break;
    case kVibRate: f.SetVibratoRate(real); break;
    case kVibRandom: f.SetVibratoRandom(on); break;
    case kSplit: f.SetSplit(std::clamp(integer, 0, 5)); break;
    case kBassFmnts: f.SetBassFormants(real); break;
    case kBassLevel: f.SetBassLevel(real); break;
    case kAltoFmnts: f.SetAltoFormants(real); break;
    case kAltoLevel: f.SetAltoLevel(real); break;
    case kSection: f.SetSection(std::clamp(integer, 0, 4)); break;
    case kFocus: f.SetFocus(real); break;
    case kBalance: f.SetBalance(real); break;
    case kMix: f.SetMix(real); break;
    case kDryDelay: f.SetDryDelay(real); break;
    case kDynDepth: f.SetDynamicsDepth(real); break;
    case kDynRate: f.SetDynamicsRate(real); break;
    case kDynRandom: f.SetDynamicsRandom(on); break;
    case kUnisonFmnts: f.SetUnisonFormants(real); break;
    case kUnisonLevel: f.SetUnisonLevel(real); break;
    case kGain: f.SetGain(real); break;
    default: break;
  }
}

float FormSetting(const tVoicemultiplyEditForm& f, int32_t index) {
  auto flag = [](bool on) { return on ? 1.0f : 0.0f; };
  switch (index) {
    case kClones: return static_cast<float>(VoiceCount(f.Clones));
    case kTiming: return f.Timing;
    case kVibDepth: return f.VibratoDepth;
    case kVibRate: return f.VibratoRate;
    case kVibRandom: return flag(f.VibratoRandom);
    case kSplit: return static_cast<float>(f.Split);
    case kBassFmnts: return f.BassFormants;
    case kBassLevel: return f.BassLevel;
    case kAltoFmnts: return f.AltoFormants;
    case kAltoLevel: return f.AltoLevel;
    case kSection: return static_cast<float>(f.Section);
    case kFocus: return f.Focus;
    case kBalance: return f.Balance;
    case kMix: return f.Mix;
    case kDryDelay: return f.DryDelay;
    case kDynDepth: return f.DynamicsDepth;
    case kDynRate: return f.DynamicsRate;
    case kDynRandom: return flag(f.DynamicsRandom);
    case kUnisonFmnts: return f.UnisonFormants;
    case kUnisonLevel: return f.UnisonLevel;
    case kGain: return f.Gain;
    default: return 0.0f;
  }
}

}  // namespace vm
