// The bundle's DSP module loaded with dlopen and driven through lv2_descriptor, as a host
// does, with the inputs a careless host sends: NaN, infinities and out-of-range control
// values, ports never connected, the input buffer shared with an output, blocks of one
// sample and of two million. The output stays finite and every bad value acts like the
// nearest good one (or is ignored, for NaN).

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/Parameters.h"
#include "signals/Signals.h"

namespace {

constexpr double kRateHz = 44100.0;
constexpr uint32_t kControlPorts = 21;
constexpr uint32_t kFirstControl = 3;
constexpr uint32_t kBlock = 512;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Port indexes of the controls the cases use.
enum : uint32_t { kClones = 3, kTiming = 4, kVibRandom = 7, kSplit = 8, kSection = 13,
                  kMix = 16, kDynRandom = 20, kGain = 23 };


class tModule {
 public:
  tModule() {
    library = dlopen(VM_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
    if (entry) descriptor = entry(0);
  }
  ~tModule() {
    if (library) dlclose(library);
  }
  const LV2_Descriptor* descriptor = nullptr;

 private:
  void* library = nullptr;
};

const LV2_Descriptor& Descriptor() {
  static tModule module;
  if (!module.descriptor) throw std::runtime_error(std::string("cannot load ") + VM_LV2_MODULE);
  return *module.descriptor;
}

// One instance with its own control values (port units) and stereo output.
struct tInstance {
  explicit tInstance(double rateHz = kRateHz) : d(Descriptor()) {
    handle = d.instantiate(&d, rateHz, VM_LV2_BUNDLE, nullptr);
    // A setting and its port value are the same number.
    for (uint32_t i = 0; i < kControlPorts; ++i) controls[i] = vm::kParameters[i].defaultSetting;
  }
  ~tInstance() {
    if (handle) d.cleanup(handle);
  }
  void ConnectControls() {
    for (uint32_t i = 0; i < kControlPorts; ++i) d.connect_port(handle, kFirstControl + i, &controls[i]);
  }
  float& Control(uint32_t port) { return controls[port - kFirstControl]; }

  // Runs `input` through in blocks of `block` samples; the stereo output, interleaved
  // by channel (left then right).
  std::pair<std::vector<float>, std::vector<float>> Render(const std::vector<float>& input,
                                                           size_t block = kBlock) {
    std::vector<float> in(input), left(input.size()), right(input.size());
    for (size_t start = 0; start < input.size(); start += block) {
      const size_t n = std::min(block, input.size() - start);
      d.connect_port(handle, 0, in.data() + start);
      d.connect_port(handle, 1, left.data() + start);
      d.connect_port(handle, 2, right.data() + start);
      d.run(handle, static_cast<uint32_t>(n));
    }
    return {left, right};
  }

  const LV2_Descriptor& d;
  LV2_Handle handle = nullptr;
  float controls[kControlPorts];
};

std::vector<float> Vowel(size_t samples) {
  return vm::signals::SungVowel(196.0, static_cast<int>(kRateHz), samples);
}

bool AllFinite(const std::vector<float>& x) {
  for (float v : x)
    if (!std::isfinite(v)) return false;
  return true;
}

double PeakDifference(const std::vector<float>& a, const std::vector<float>& b) {
  double worst = a.size() == b.size() ? 0.0 : INFINITY;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    worst = std::max(worst, std::fabs(static_cast<double>(a[i]) - b[i]));
  return worst;
}

double Rms(const std::vector<float>& x) {
  double sum = 0.0;
  for (float v : x) sum += static_cast<double>(v) * v;
  return x.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(x.size()));
}

// Renders the vowel with one control at `value`, random choices off so two instances
// sound alike.
std::pair<std::vector<float>, std::vector<float>> RenderWith(uint32_t port, float value,
                                                             size_t samples = 22050) {
  tInstance instance;
  instance.ConnectControls();
  instance.Control(kDynRandom) = 0;
  instance.Control(port) = value;
  instance.d.activate(instance.handle);
  return instance.Render(Vowel(samples));
}

TEST(Lv2BadInput, DescriptorAndInstances) {
  const LV2_Descriptor& d = Descriptor();
  EXPECT_STREQ(d.URI, "urn:voicemultiply:VoicemultiplyV42_MS");
  tInstance instance;
  EXPECT_NE(instance.handle, nullptr);
  for (double rate : {0.0, -44100.0, static_cast<double>(kNaN), static_cast<double>(kInf)})
    EXPECT_EQ(d.instantiate(&d, rate, VM_LV2_BUNDLE, nullptr), nullptr) << "rate " << rate;
}

// Every bad value acts as the nearest good one: same output to the last bit.
TEST(Lv2BadInput, OutOfRangeValuesActAsTheNearestLimit) {
  const struct {
    const char* what;
    uint32_t port;
    float bad, good;
  } cases[] = {
      {"Clones far above 32", kClones, 1.0e9f, 32},
      {"Clones below 1", kClones, -7, 1},
      {"Clones +inf", kClones, kInf, 32},
      {"Clones between steps", kClones, 4.4f, 4},
      {"Split above 5", kSplit, 99, 5},
      {"Split -inf", kSplit, -kInf, 0},
      {"Section above 4", kSection, 12, 4},
      {"Mix above 1", kMix, 5, 1},
      {"Mix below 0", kMix, -3, 0},
      {"Timing +inf", kTiming, kInf, 1},
      {"VibRandom 0.3 is off", kVibRandom, 0.3f, 0},
      {"Gain -inf", kGain, -kInf, 0},
  };
  for (const auto& c : cases) {
    const auto bad = RenderWith(c.port, c.bad);
    const auto good = RenderWith(c.port, c.good);
    EXPECT_TRUE(AllFinite(bad.first) && AllFinite(bad.second)) << c.what;
    EXPECT_EQ(PeakDifference(bad.first, good.first), 0.0) << c.what;
    EXPECT_EQ(PeakDifference(bad.second, good.second), 0.0) << c.what;
  }
}

// NaN keeps the value before it: Mix 0.3 then NaN sounds as Mix 0.3 throughout (a NaN
// taken as a value would read as Mix 0, the dry signal alone).
TEST(Lv2BadInput, NaNKeepsTheLastGoodValue) {
  for (uint32_t port : {kMix, kClones, kSplit, kGain}) {
    const float good = port == kMix ? 0.3f : port == kClones ? 5 : port == kSplit ? 3 : 0.8f;
    const std::vector<float> input = Vowel(22050);
    tInstance steady, interrupted;
    for (tInstance* instance : {&steady, &interrupted}) {
      instance->ConnectControls();
      instance->Control(kDynRandom) = 0;
      instance->Control(port) = good;
      instance->d.activate(instance->handle);
    }
    const std::vector<float> first(input.begin(), input.begin() + 4096);
    const std::vector<float> rest(input.begin() + 4096, input.end());
    steady.Render(first);
    interrupted.Render(first);
    interrupted.Control(port) = kNaN;
    const auto expected = steady.Render(rest);
    const auto got = interrupted.Render(rest);
    EXPECT_EQ(PeakDifference(got.first, expected.first), 0.0) << "port " << port;
    EXPECT_EQ(PeakDifference(got.second, expected.second), 0.0) << "port " << port;
  }
}

// Every control at once at NaN, +-inf or huge: finite output that is not silent.
TEST(Lv2BadInput, AllControlsBadAtOnce) {
  for (float bad : {kNaN, kInf, -kInf, 3.0e38f, -3.0e38f}) {
    tInstance instance;
    instance.ConnectControls();
    for (float& control : instance.controls) control = bad;
    instance.d.activate(instance.handle);
    const auto out = instance.Render(Vowel(22050));
    EXPECT_TRUE(AllFinite(out.first) && AllFinite(out.second)) << "value " << bad;
  }
}

// Runs before any port is connected, and with each buffer missing: no crash, and what is
// connected is finite. With no input the output is silence.
TEST(Lv2BadInput, PortsLeftUnconnected) {
  const LV2_Descriptor& d = Descriptor();
  {
    tInstance instance;
    d.run(instance.handle, kBlock);  // before activate and connect_port
    d.activate(instance.handle);
    d.run(instance.handle, kBlock);
    d.deactivate(instance.handle);
  }
  const std::vector<float> input = Vowel(kBlock * 4);
  const struct {
    const char* what;
    bool in, left, right, controls;
  } cases[] = {
      {"no input", false, true, true, true},    {"no left output", true, false, true, true},
      {"no right output", true, true, false, true}, {"no outputs", true, false, false, true},
      {"no controls", true, true, true, false},
  };
  for (const auto& c : cases) {
    tInstance instance;
    if (c.controls) instance.ConnectControls();
    d.activate(instance.handle);
    std::vector<float> in(input), left(input.size(), kNaN), right(input.size(), kNaN);
    d.connect_port(instance.handle, 0, c.in ? in.data() : nullptr);
    d.connect_port(instance.handle, 1, c.left ? left.data() : nullptr);
    d.connect_port(instance.handle, 2, c.right ? right.data() : nullptr);
    d.run(instance.handle, static_cast<uint32_t>(input.size()));
    if (c.left) {
      EXPECT_TRUE(AllFinite(left)) << c.what;
    }
    if (c.right) {
      EXPECT_TRUE(AllFinite(right)) << c.what;
    }
    if (!c.in) {  // silence, up to the engine's 1e-23 guard against subnormal numbers
      EXPECT_LT(Rms(c.left ? left : right), 1e-12) << c.what;
    }
    if (c.in && c.left && c.right) {
      EXPECT_GT(Rms(left), 0.01) << c.what;
    }
    d.deactivate(instance.handle);
  }
  tInstance instance;
  d.connect_port(instance.handle, 24, &instance.controls[0]);  // past the last port
  d.connect_port(instance.handle, UINT32_MAX, nullptr);
}

// The host may hand the input buffer to an output (in-place processing): either output
// gives the same sound as separate buffers.
TEST(Lv2BadInput, InputSharedWithAnOutput) {
  const std::vector<float> input = Vowel(22050);
  const auto separate = RenderWith(kMix, 1.0f);
  for (uint32_t shared : {1u, 2u}) {
    tInstance instance;
    instance.ConnectControls();
    instance.Control(kDynRandom) = 0;
    instance.d.activate(instance.handle);
    std::vector<float> left(input.size()), right(input.size());
    std::vector<float>& sharedBuffer = shared == 1 ? left : right;
    for (size_t start = 0; start < input.size(); start += kBlock) {
      const size_t n = std::min<size_t>(kBlock, input.size() - start);
      std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(start), n, sharedBuffer.begin() + static_cast<std::ptrdiff_t>(start));
      instance.d.connect_port(instance.handle, 0, sharedBuffer.data() + start);
      instance.d.connect_port(instance.handle, 1, left.data() + start);
      instance.d.connect_port(instance.handle, 2, right.data() + start);
      instance.d.run(instance.handle, static_cast<uint32_t>(n));
    }
    EXPECT_EQ(PeakDifference(left, separate.first), 0.0) << "input on output " << shared;
    EXPECT_EQ(PeakDifference(right, separate.second), 0.0) << "input on output " << shared;
  }
}

// One sample per run, and one run of two million samples, sound like 512-sample blocks.
TEST(Lv2BadInput, TinyAndHugeBlocks) {
  const std::vector<float> input = Vowel(22050);
  const auto reference = RenderWith(kMix, 1.0f);
  for (size_t block : {size_t{1}, size_t{3}, input.size()}) {
    tInstance instance;
    instance.ConnectControls();
    instance.Control(kDynRandom) = 0;
    instance.d.activate(instance.handle);
    const auto out = instance.Render(input, block);
    EXPECT_LT(PeakDifference(out.first, reference.first), 1e-6) << "block " << block;
    EXPECT_LT(PeakDifference(out.second, reference.second), 1e-6) << "block " << block;
  }
  tInstance instance;
  instance.ConnectControls();
  instance.d.activate(instance.handle);
  const auto huge = instance.Render(Vowel(size_t{1} << 21), size_t{1} << 21);
  EXPECT_TRUE(AllFinite(huge.first) && AllFinite(huge.second));
  EXPECT_GT(Rms(huge.first), 0.01);
}

}  // namespace
