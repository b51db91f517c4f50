// The LV2 module and the VST 2 plug-in, both loaded from their built files, play the same
// vowel while a host changes parameters between blocks: the LV2 host in port units, the
// VST 2 host in host values 0..1. Every change glides in the same way in both, so the two
// outputs agree sample for sample (random choices off).

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "PluginHost.h"
#include "engine/Parameters.h"
#include "signals/Signals.h"

namespace {

constexpr float kRateHz = 44100.0f;
constexpr int32_t kBlock = 256;
constexpr uint32_t kFirstControl = 3;

struct tChange {
  int block;
  vm::tParameterIndex index;
  float hostValue;
};

// Moves of every kind: reals, the count, both choices (Section in quarters), a switch.
const tChange kChanges[] = {
    {12, vm::kMix, 0.3f},          {30, vm::kClones, 0.5f},     {48, vm::kSplit, 0.6f},
    {66, vm::kGain, 0.8f},         {84, vm::kSection, 0.75f},   {102, vm::kTiming, 0.1f},
    {120, vm::kDryDelay, 0.5f},    {138, vm::kVibRate, 0.3f},   {156, vm::kUnisonFmnts, 0.7f},
    {174, vm::kBalance, 0.2f},     {192, vm::kSplit, 1.0f},     {210, vm::kVibRandom, 1.0f},
    {212, vm::kVibRandom, 0.0f},   {230, vm::kClones, 0.0f},    {248, vm::kSection, 0.25f},
};
constexpr int kBlocks = 270;

struct tStereo {
  std::vector<float> left, right;
};

tStereo RenderVst(const std::vector<float>& input) {
  vm::tPluginHost host(VM_VST_PLUGIN);
  host.SetParameter(vm::kDynRandom, 0.0f);
  host.Start(kRateHz, kBlock);
  tStereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
  std::vector<float> block(kBlock);
  for (int b = 0; b < kBlocks; ++b) {
    for (const tChange& c : kChanges)
      if (c.block == b) host.SetParameter(c.index, c.hostValue);
    const size_t start = static_cast<size_t>(b) * kBlock;
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(start), kBlock, block.begin());
    float* inputs[] = {block.data()};
    float* outputs[] = {out.left.data() + start, out.right.data() + start};
    host.Effect()->processReplacing(host.Effect(), inputs, outputs, kBlock);
  }
  host.Stop();
  return out;
}

tStereo RenderLv2(const std::vector<float>& input) {
  void* library = dlopen(VM_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (!library) throw std::runtime_error(dlerror());
  auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
  const LV2_Descriptor* d = entry(0);
  LV2_Handle handle = d->instantiate(d, kRateHz, VM_LV2_BUNDLE, nullptr);
  std::vector<float> ports(vm::kParameterCount);
  for (const vm::tParameterInfo& p : vm::kParameters) ports[static_cast<size_t>(p.index)] = p.defaultSetting;
  ports[vm::kDynRandom] = 0.0f;
  for (uint32_t i = 0; i < vm::kParameterCount; ++i) d->connect_port(handle, kFirstControl + i, &ports[i]);
  d->activate(handle);
  tStereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
  std::vector<float> in(input);
  for (int b = 0; b < kBlocks; ++b) {
    for (const tChange& c : kChanges)
      if (c.block == b) ports[static_cast<size_t>(c.index)] = vm::SettingFromHost(c.index, c.hostValue);
    const size_t start = static_cast<size_t>(b) * kBlock;
    d->connect_port(handle, 0, in.data() + start);
    d->connect_port(handle, 1, out.left.data() + start);
    d->connect_port(handle, 2, out.right.data() + start);
    d->run(handle, kBlock);
  }
  d->deactivate(handle);
  d->cleanup(handle);
  dlclose(library);
  return out;
}

TEST(Lv2VstParity, ChangesBetweenBlocksSoundTheSameInBothFormats) {
  const std::vector<float> input = vm::signals::SungVowel(196.0, static_cast<int>(kRateHz),
                                                          static_cast<size_t>(kBlocks) * kBlock);
  const tStereo vst = RenderVst(input);
  const tStereo lv2 = RenderLv2(input);
  for (const auto& [what, a, b] : {std::tuple{"left", &vst.left, &lv2.left},
                                   std::tuple{"right", &vst.right, &lv2.right}}) {
    double worst = 0.0, energy = 0.0;
    size_t worstAt = 0;
    for (size_t i = 0; i < a->size(); ++i) {
      const double difference = std::fabs(static_cast<double>((*a)[i]) - (*b)[i]);
      if (difference > worst) worst = difference, worstAt = i;
      energy += static_cast<double>((*a)[i]) * (*a)[i];
    }
    EXPECT_LE(worst, 1e-5) << what << ": at sample " << worstAt << " (block " << worstAt / kBlock << ")";
    EXPECT_GT(energy, 1.0) << what << " is silent";
  }
}

}  // namespace
