#include "engine/Parameters.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "analysis/Numeric.h"

namespace vm {

namespace {

constexpr int kTextLength = 8;  // characters of a display text before its terminator
constexpr const char* kHugeText = "  Huge! ";

const tParameterInfo& Info(int32_t index) { return kParameters[static_cast<size_t>(index)]; }

}  // namespace

float SettingFromHost(int32_t index, float v) {
  if (!IsParameter(index)) return 0.0f;
  const tParameterInfo& p = Info(index);
  switch (p.kind) {
    case tParameterKind::Real: return v;
    case tParameterKind::Switch: return v >= 0.5f ? 1.0f : 0.0f;  // NaN is off
    case tParameterKind::Count:
    case tParameterKind::Choice: {
      // Limited to 0..1 first, so nothing overflows and NaN gives the lowest setting.
      const double steps = static_cast<double>(Clamped(v)) * p.hostScale + p.hostOffset;
      return static_cast<float>(std::clamp(p.lowest + nearest(steps), p.lowest, p.highest));
    }
  }
  return 0.0f;
}

float HostFromSetting(int32_t index, float setting) {
  if (!IsParameter(index)) return 0.0f;
  const tParameterInfo& p = Info(index);
  switch (p.kind) {
    case tParameterKind::Real: return setting;
    case tParameterKind::Switch: return setting >= 0.5f ? 1.0f : 0.0f;
    case tParameterKind::Count:
    case tParameterKind::Choice:
      return (setting - static_cast<float>(p.lowest)) / p.readBackDivisor;
  }
  return 0.0f;
}

void FormatNumber(float value, char* text) {
  if (!text) return;
  if (value >= 10000000.0f || value <= -1000000.0f) {
    std::strcpy(text, kHugeText);
    return;
  }
  if (value == 0.0f) {
    std::strcpy(text, "0.000000");
    return;
  }
  char full[64];
  std::snprintf(full, sizeof full, "%.15g", static_cast<double>(value));
  std::memcpy(text, full, kTextLength);
  text[kTextLength] = '\0';
}

void FormatDisplay(int32_t index, float setting, char* text) {
  if (!text || !IsParameter(index)) return;
  const tParameterInfo& p = Info(index);
  if (p.kind == tParameterKind::Switch) {
    std::strcpy(text, setting >= 0.5f ? "Yes" : "No");
    return;
  }
  // Rounded to a float first: 10 x 0.45 shows as 4.5, not 4.500000000000001.
  const float shown = p.displayScale * setting + p.displayOffset;
  FormatNumber(shown, text);
}

int32_t ParameterIndexOf(std::string_view name) {
  for (const tParameterInfo& p : kParameters)
    if (name == p.name) return p.index;
  return -1;
}

uint32_t ConcernsOf(uint32_t indexBits) {
  uint32_t concerns = 0;
  for (const tParameterInfo& p : kParameters)
    if (indexBits & (1u << p.index)) concerns |= p.concerns;
  return concerns;
}

// ---- the store ----

tParameterStore::tParameterStore() {
  for (const tParameterInfo& p : kParameters)
    words[static_cast<size_t>(p.index)].store(Pack(p.defaultSetting, 0), std::memory_order_relaxed);
}

uint64_t tParameterStore::Pack(float setting, uint32_t version) {
  return (static_cast<uint64_t>(version) << 32) | std::bit_cast<uint32_t>(setting);
}

float tParameterStore::SettingOf(uint64_t word) {
  return std::bit_cast<float>(static_cast<uint32_t>(word));
}

bool tParameterStore::Exchange(int32_t index, float setting, const uint32_t* requiredVersion) {
  if (!IsParameter(index)) return false;
  std::atomic<uint64_t>& word = words[static_cast<size_t>(index)];
  uint64_t seen = word.load(std::memory_order_acquire);
  for (;;) {
    if (requiredVersion && VersionOf(seen) != *requiredVersion) return false;
    // Exact comparison: -0 equals 0, and a NaN never equals anything.
    if (SettingOf(seen) == setting) return requiredVersion != nullptr;
    if (word.compare_exchange_weak(seen, Pack(setting, VersionOf(seen) + 1),
                                   std::memory_order_acq_rel, std::memory_order_acquire))
      break;
  }
  pending.fetch_or(1u << index, std::memory_order_acq_rel);
  return true;
}

bool tParameterStore::SetFromHost(int32_t index, float hostValue) {
  return Exchange(index, SettingFromHost(index, hostValue), nullptr);
}

bool tParameterStore::SetSetting(int32_t index, float setting) {
  return Exchange(index, setting, nullptr);
}

bool tParameterStore::SetSettingIfUnchanged(int32_t index, float setting, uint32_t seenVersion) {
  return Exchange(index, setting, &seenVersion);
}

float tParameterStore::Setting(int32_t index) const {
  if (!IsParameter(index)) return 0.0f;
  return SettingOf(words[static_cast<size_t>(index)].load(std::memory_order_acquire));
}

uint32_t tParameterStore::Version(int32_t index) const {
  if (!IsParameter(index)) return 0;
  return VersionOf(words[static_cast<size_t>(index)].load(std::memory_order_acquire));
}

tSettings tParameterStore::Snapshot() const {
  auto real = [&](tParameterIndex i) { return Setting(i); };
  auto integer = [&](tParameterIndex i) { return static_cast<int32_t>(Setting(i)); };
  auto on = [&](tParameterIndex i) { return Setting(i) >= 0.5f; };
  tSettings s{};
  s.Clones = integer(kClones);
  s.Timing = real(kTiming);
  s.VibDepth = real(kVibDepth);
  s.VibRate = real(kVibRate);
  s.VibRandom = on(kVibRandom);
  s.Split = integer(kSplit);
  s.BassFmnts = real(kBassFmnts);
  s.BassLevel = real(kBassLevel);
  s.AltoFmnts = real(kAltoFmnts);
  s.AltoLevel = real(kAltoLevel);
  s.Section = integer(kSection);
  s.Focus = real(kFocus);
  s.Balance = real(kBalance);
  s.Mix = real(kMix);
  s.DryDelay = real(kDryDelay);
  s.DynDepth = real(kDynDepth);
  s.DynRate = real(kDynRate);
  s.DynRandom = on(kDynRandom);
  s.UnisonFmnts = real(kUnisonFmnts);
  s.UnisonLevel = real(kUnisonLevel);
  s.Gain = real(kGain);
  return s;
}

}  // namespace vm
