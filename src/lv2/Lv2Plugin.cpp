// The LV2 binding: a thin adapter between lilv-style hosts and the ensemble engine, as
// src/vst is for VST 2. The host's control ports are read at the start of each run; a
// port whose value changed goes to the engine's parameter store as a host value, and the
// engine applies it click-free at the start of the block, as it does for VST 2 hosts.
//
// Audio thread: run() takes no lock, allocates nothing and makes no system call; every
// buffer it may need is made at instantiate. Bad input from a host: out-of-range values
// are limited to the port's range, NaN is ignored (the last good value stays), and a port
// the host never connected reads as its default (control) or silence (input); an output
// left unconnected is rendered into scratch memory and dropped.

#include <lv2/core/lv2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

#include "analysis/Numeric.h"
#include "engine/Ensemble.h"
#include "lv2/PortMapping.h"

namespace vm::lv2 {
namespace {

constexpr const char* kPluginUri = "urn:voicemultiply:VoicemultiplyV42_MS";
// Samples per engine call when a buffer is missing or shared with the right output; and
// at most this many per call otherwise, well inside the engine's int32 count.
constexpr uint32_t kScratchSamples = 1024;
constexpr uint32_t kMaxCallSamples = 1u << 20;

class tLv2Ensemble {
 public:
  explicit tLv2Ensemble(float rateHz) : ensemble(rateHz) { lastPortValues.fill(NAN); }

  void Connect(uint32_t port, void* data);
  void Activate() { ensemble.Resume(); }
  void Deactivate() { ensemble.Suspend(); }
  void Run(uint32_t count);

 private:
  void ReadControls();
  void RenderDirect(uint32_t count);
  void RenderThroughScratch(uint32_t count);

  tEnsemble ensemble;
  const float* input = nullptr;
  float* left = nullptr;
  float* right = nullptr;
  std::array<const float*, kParameterCount> controls{};
  std::array<float, kParameterCount> lastPortValues{};  // NaN: none seen yet
  std::array<float, kScratchSamples> silence{};
  std::array<float, kScratchSamples> inputCopy{};
  std::array<float, kScratchSamples> unusedLeft{}, unusedRight{};
};

void tLv2Ensemble::Connect(uint32_t port, void* data) {
  switch (port) {
    case kInputPort: input = static_cast<const float*>(data); return;
    case kLeftPort: left = static_cast<float*>(data); return;
    case kRightPort: right = static_cast<float*>(data); return;
    default:
      if (port < kPortCount) controls[port - kFirstControlPort] = static_cast<const float*>(data);
  }
}

void tLv2Ensemble::ReadControls() {
  for (int32_t i = 0; i < kParameterCount; ++i) {
    const float* port = controls[static_cast<size_t>(i)];
    if (!port) continue;
    const float value = *port;
    float& last = lastPortValues[static_cast<size_t>(i)];
    if (std::isnan(value) || value == last) continue;
    last = value;
    ensemble.Parameters().SetFromHost(i, HostValueFromPort(i, value));
  }
}

void tLv2Ensemble::Run(uint32_t count) {
  SetFloatControl();
  ReadControls();
  if (count == 0 || (!left && !right)) {
    ensemble.Process(nullptr, nullptr, nullptr, 0, true);  // takes the changes only
    return;
  }
  // The engine may read its input from the left output's buffer, not from the right's.
  const bool direct = input && left && right && input != right;
  if (direct) {
    RenderDirect(count);
  } else {
    RenderThroughScratch(count);
  }
}

void tLv2Ensemble::RenderDirect(uint32_t count) {
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(count - done, kMaxCallSamples);
    ensemble.Process(input + done, left + done, right + done, static_cast<int32_t>(n), true);
    done += n;
  }
}

void tLv2Ensemble::RenderThroughScratch(uint32_t count) {
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(count - done, kScratchSamples);
    const float* in = silence.data();
    if (input) {
      std::copy_n(input + done, n, inputCopy.data());
      in = inputCopy.data();
    }
    float* outA = left ? left + done : unusedLeft.data();
    float* outB = right ? right + done : unusedRight.data();
    ensemble.Process(in, outA, outB, static_cast<int32_t>(n), true);
    done += n;
  }
}

// ---- the C ABI: no exception leaves these ----

LV2_Handle Instantiate(const LV2_Descriptor*, double rateHz, const char*,
                       const LV2_Feature* const*) {
  try {
    SetFloatControl();
    if (!(rateHz >= 1.0 && rateHz <= 1.0e6)) return nullptr;
    return new tLv2Ensemble(static_cast<float>(rateHz));
  } catch (...) {
    return nullptr;
  }
}

tLv2Ensemble* Instance(LV2_Handle handle) { return static_cast<tLv2Ensemble*>(handle); }

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
  if (handle) Instance(handle)->Connect(port, data);
}

void Activate(LV2_Handle handle) {
  try {
    if (handle) Instance(handle)->Activate();
  } catch (...) {
  }
}

void Run(LV2_Handle handle, uint32_t count) {
  try {
    if (handle) Instance(handle)->Run(count);
  } catch (...) {
  }
}

void Deactivate(LV2_Handle handle) {
  try {
    if (handle) Instance(handle)->Deactivate();
  } catch (...) {
  }
}

void Cleanup(LV2_Handle handle) {
  try {
    delete Instance(handle);
  } catch (...) {
  }
}

const void* ExtensionData(const char*) { return nullptr; }

constexpr LV2_Descriptor kDescriptor{kPluginUri, Instantiate, ConnectPort, Activate, Run,
                                     Deactivate, Cleanup, ExtensionData};

}  // namespace
}  // namespace vm::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &vm::lv2::kDescriptor : nullptr;
}
