// How the 21 parameters appear as LV2 control ports: in port units a count or choice is
// its whole setting (Clones 1..32, Split 0..5, Section 0..4), a switch is 0 or 1, and a
// real is its host value 0..1 (so a value means the same in every format). Both the DSP
// module and the Turtle writer read this, both from the one parameter table.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "analysis/Numeric.h"
#include "engine/Parameters.h"

namespace vm::lv2 {

// Port indexes: the mono input, the two outputs, then the parameters in table order.
enum tAudioPort : uint32_t { kInputPort = 0, kLeftPort = 1, kRightPort = 2 };
constexpr uint32_t kFirstControlPort = 3;
constexpr uint32_t kPortCount = kFirstControlPort + kParameterCount;

struct tPortRange {
  float minimum, maximum, defaultValue;
  bool integer, enumeration, toggled;
};

constexpr tPortRange PortRange(const tParameterInfo& p) {
  switch (p.kind) {
    case tParameterKind::Real: return {0.0f, 1.0f, p.defaultSetting, false, false, false};
    case tParameterKind::Switch: return {0.0f, 1.0f, p.defaultSetting, false, false, true};
    case tParameterKind::Count:
      return {float(p.lowest), float(p.highest), p.defaultSetting, true, false, false};
    case tParameterKind::Choice:
      return {float(p.lowest), float(p.highest), p.defaultSetting, true, true, false};
  }
  return {0.0f, 1.0f, 0.0f, false, false, false};
}

// A port value (not NaN) as the host value 0..1 that the parameter store takes: limited to
// the port's range, a count or choice rounded to its nearest whole setting.
inline float HostValueFromPort(int32_t index, float portValue) {
  const tParameterInfo& p = kParameters[static_cast<size_t>(index)];
  const tPortRange range = PortRange(p);
  const float limited = std::clamp(portValue, range.minimum, range.maximum);
  switch (p.kind) {
    case tParameterKind::Real: return limited;
    case tParameterKind::Switch: return limited >= 0.5f ? 1.0f : 0.0f;
    case tParameterKind::Count:
    case tParameterKind::Choice:
      return HostFromSetting(index, static_cast<float>(nearest(static_cast<double>(limited))));
  }
  return 0.0f;
}

// A host value 0..1 in port units: the setting it selects.
inline float PortValueFromHost(int32_t index, float hostValue) {
  return SettingFromHost(index, hostValue);
}

// The names of a choice's values, in port units from 0: Split by the sections that sing,
// Section by the editor's buttons (4 sings as A, as 0 does).
struct tChoiceNames {
  tParameterIndex index;
  std::array<const char*, 6> names;
};
inline constexpr std::array<tChoiceNames, 2> kChoiceNames{{
    {kSplit, {"Unison", "Bass", "Alto", "Bass + Unison", "Unison + Alto", "Bass + Unison + Alto"}},
    {kSection, {"A", "B", "C", "D", "A (again)", nullptr}},
}};

}  // namespace vm::lv2
