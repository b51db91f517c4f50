// The 21 parameters, described once: index, name, kind, default, the mapping between a
// host value (0..1) and the stored setting, the display text and what part of the engine
// a change concerns. The store, the host binding's queries, the editor's load and
// write-back, the renderer and every other plug-in format read this table.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

namespace vm {

enum tParameterIndex : int32_t {
  kClones, kTiming, kVibDepth, kVibRate, kVibRandom, kSplit, kBassFmnts, kBassLevel,
  kAltoFmnts, kAltoLevel, kSection, kFocus, kBalance, kMix, kDryDelay, kDynDepth,
  kDynRate, kDynRandom, kUnisonFmnts, kUnisonLevel, kGain,
  kParameterCount
};

enum class tParameterKind {
  Real,    // stored as the host sent it; the engine reads it limited to 0..1
  Count,   // an integer count with a lowest value above 0 (Clones: 1..32)
  Switch,  // on from a host value of 0.5 up
  Choice,  // an integer choice from 0 (Split, Section)
};

// What a change concerns: the part of the engine that has to follow it.
enum tConcern : uint32_t {
  kConcernVoices = 1u << 0,    // delays, vibrato walks, level ramps, places, sources
  kConcernGains = 1u << 1,     // output, wet/dry and section levels
  kConcernDryPath = 1u << 2,   // the dry copy's delay and place
  kConcernSections = 1u << 3,  // formant ratios, which section engines run
};

struct tParameterInfo {
  tParameterIndex index;
  const char* name;  // as the host sees it, before padding
  tParameterKind kind;
  float defaultSetting;  // stored setting after construction
  // Count and Choice: setting = lowest + nearest(v x hostScale + hostOffset), limited to
  // lowest..highest; the host reads back (setting - lowest) / readBackDivisor.
  float hostScale, hostOffset;
  int32_t lowest, highest;
  float readBackDivisor;
  // Display: float text of displayScale x setting + displayOffset ("Yes"/"No" for switches).
  float displayScale, displayOffset;
  uint32_t concerns;  // tConcern bits
};

namespace parameter_table {
using K = tParameterKind;
constexpr uint32_t kVoices = kConcernVoices, kGains = kConcernGains, kDry = kConcernDryPath,
                   kSections = kConcernSections;
// Reals: no steps, displayed as stored unless stated.
constexpr tParameterInfo Real(tParameterIndex i, const char* name, float def, uint32_t concerns,
                              float displayScale = 1.0f, float displayOffset = 0.0f) {
  return {i, name, K::Real, def, 0, 0, 0, 0, 1, displayScale, displayOffset, concerns};
}
constexpr tParameterInfo Switch(tParameterIndex i, const char* name, bool def, uint32_t concerns) {
  return {i, name, K::Switch, def ? 1.0f : 0.0f, 0, 0, 0, 1, 1, 1, 0, concerns};
}
}  // namespace parameter_table

inline constexpr std::array<tParameterInfo, kParameterCount> kParameters = [] {
  using namespace parameter_table;
  return std::array<tParameterInfo, kParameterCount>{{
      // Voice count 1..32: 31 steps over the host range.
      {kClones, "Clones", K::Count, 16, 31, 0, 1, 32, 31, 1, 0, kVoices},
      // Delay control: shown as 1..10 (milliseconds of the shortest span, roughly).
      Real(kTiming, "Timing", 0.5f, kVoices, 9, 1),
      Real(kVibDepth, "VibDepth", 0.45f, kVoices, 10),
      Real(kVibRate, "VibRate", 0.8f, kVoices, 10),
      Switch(kVibRandom, "VibRandom", false, kVoices),
      // Which sections sing: 0..5, in fifths of the host range.
      {kSplit, "Split", K::Choice, 0, 5, 0, 0, 5, 5, 1, 0, kVoices | kSections},
      Real(kBassFmnts, "BassFmnts", 0.4f, kSections),
      Real(kBassLevel, "BassLevel", 0.45f, kGains),
      Real(kAltoFmnts, "AltoFmnts", 0.4f, kSections),
      Real(kAltoLevel, "AltoLevel", 0.4f, kGains),
      // Voice order A..D: round(v x 3.99 + 0.5), so only v = 0 gives 0 and v = 1 gives 4
      // (which the engine takes as A); read back in quarters, shown 1-based.
      {kSection, "Section", K::Choice, 0, 3.99f, 0.5f, 0, 4, 4, 1, 1, kVoices},
      Real(kFocus, "Focus", 1.0f, kVoices | kDry),
      Real(kBalance, "Balance", 0.5f, kVoices | kDry),
      Real(kMix, "Mix", 1.0f, kGains),
      Real(kDryDelay, "DryDelay", 0.0f, kDry),
      Real(kDynDepth, "DynDepth", 0.25f, kVoices, 10),
      Real(kDynRate, "DynRate", 0.5f, kVoices, 10),
      Switch(kDynRandom, "DynRandom", true, kVoices),
      Real(kUnisonFmnts, "UnisonFmnts", 0.5f, kSections),
      Real(kUnisonLevel, "UnisonLevel", 0.5f, kGains),
      Real(kGain, "Gain", 0.5f, kGains),
  }};
}();

constexpr bool IsParameter(int32_t index) { return index >= 0 && index < kParameterCount; }

// A stored real as the engine uses it: limited to 0..1, NaN as 0.
constexpr float Clamped(float v) { return v >= 0.0f ? (v <= 1.0f ? v : 1.0f) : 0.0f; }

// Host value -> stored setting (a count, choice or 0/1 switch as a whole float).
float SettingFromHost(int32_t index, float hostValue);
// Stored setting -> host value (what getParameter answers).
float HostFromSetting(int32_t index, float setting);
// The display text of a setting, at most 8 characters and a terminator.
void FormatDisplay(int32_t index, float setting, char* text);
// General format with up to 15 significant digits, cut (not rounded) after 8 characters;
// "huge!" style overflow text for values the 8 characters cannot hold.
void FormatNumber(float value, char* text);
// Index of a parameter by its name (exact, case-sensitive), or -1.
int32_t ParameterIndexOf(std::string_view name);
// The union of the concerns of the indexes whose bits are set in `indexBits`.
uint32_t ConcernsOf(uint32_t indexBits);

// Every setting at one moment, typed; what the engine configures itself from.
struct tSettings {
  int32_t Clones;
  float Timing, VibDepth, VibRate;
  bool VibRandom;
  int32_t Split;
  float BassFmnts, BassLevel, AltoFmnts, AltoLevel;
  int32_t Section;
  float Focus, Balance, Mix, DryDelay, DynDepth, DynRate;
  bool DynRandom;
  float UnisonFmnts, UnisonLevel, Gain;
};

// The stored settings, shared by every thread without a lock. Each parameter is one
// 64-bit atomic word holding its setting and a version that counts its changes, so a
// writer can change a value only if nobody else changed it since it was read (the
// editor's write-back must never overwrite a newer host value). Every change also sets
// the parameter's bit in a word of pending changes that the audio thread takes at the
// start of its next block.
class tParameterStore {
 public:
  tParameterStore();

  // Stores a host value's setting; true when the setting changed (exact comparison, so a
  // NaN real always counts as a change). Any thread; never blocks.
  bool SetFromHost(int32_t index, float hostValue);
  // Stores a setting as it is (count, choice, 0/1 or real); true when it changed.
  bool SetSetting(int32_t index, float setting);
  // Stores `setting` only if the parameter is still at `seenVersion`; false when another
  // change came first (the stored value then stands). An equal value changes nothing and
  // counts as stored.
  bool SetSettingIfUnchanged(int32_t index, float setting, uint32_t seenVersion);

  float Setting(int32_t index) const;  // 0 for an index out of range
  float HostValue(int32_t index) const { return HostFromSetting(index, Setting(index)); }
  uint32_t Version(int32_t index) const;
  tSettings Snapshot() const;

  // Bit i set: parameter i changed since the last call. Takes and clears them at once.
  uint32_t TakeChanges() { return pending.exchange(0, std::memory_order_acq_rel); }
  bool HasChanges() const { return pending.load(std::memory_order_acquire) != 0; }

 private:
  static uint64_t Pack(float setting, uint32_t version);
  static float SettingOf(uint64_t word);
  static uint32_t VersionOf(uint64_t word) { return static_cast<uint32_t>(word >> 32); }
  bool Exchange(int32_t index, float setting, const uint32_t* requiredVersion);

  std::array<std::atomic<uint64_t>, kParameterCount> words;
  std::atomic<uint32_t> pending{0};
};

}  // namespace vm
