#include "Validator.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vm {

namespace {

constexpr int32_t kParameterCount = 21;
constexpr int32_t kMaxBlock = 8192;       // samples per process call
constexpr int32_t kGuard = 64;            // samples past the block that must stay untouched
constexpr float kGuardValue = 12345.0f;   // sentinel in the guard region
constexpr int32_t kBufferBytes = 4096;    // every opcode's ptr points at least this far
constexpr int16_t kRectBottom = 423, kRectRight = 828;  // editor size in pixels
constexpr size_t kLogLength = 64;         // calls kept for a failure report
constexpr size_t kMemorySlackBytes = 3u << 20;  // allowed resident growth over a cycle run
constexpr int32_t kVersionAnswer = 2400;  // VST 2.4

// Host values as the plug-in must read them: the integer settings from the value limited
// to 0..1 (NaN as 0), rounded to nearest with ties to even.
double Limited(float v) { return std::isnan(v) ? 0.0 : std::clamp(double(v), 0.0, 1.0); }
int32_t RoundEven(double x) { return static_cast<int32_t>(std::nearbyint(x)); }

constexpr float kDefaults[kParameterCount] = {
    15.0f / 31.0f, 0.5f, 0.45f, 0.8f, 0.0f, 0.0f, 0.4f, 0.45f, 0.4f, 0.4f, 0.0f,
    1.0f,          0.5f, 1.0f,  0.0f, 0.25f, 0.5f, 1.0f, 0.5f, 0.5f, 0.5f};
constexpr const char* kNames[kParameterCount] = {
    "Clones", "Timing", "VibDepth", "VibRate", "VibRandom", "Split", "BassFmnts",
    "BassLevel", "AltoFmnts", "AltoLevel", "Section", "Focus", "Balance", "Mix",
    "DryDelay", "DynDepth", "DynRate", "DynRandom", "UnisonFmnts", "UnisonLevel", "Gain"};

bool SameFloat(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  uint32_t x, y;
  std::memcpy(&x, &a, 4);
  std::memcpy(&y, &b, 4);
  return x == y;
}

// One second of the engine: its working rate, limited as the engine limits it.
int64_t SecondInSamples(float rateHz) {
  if (std::isnan(rateHz)) return 44100;
  return static_cast<int64_t>(std::clamp(rateHz, 1000.0f, 400000.0f));
}

intptr_t HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? kVersionAnswer : 0;
}

}  // namespace

tParameterModel::tParameterModel() {
  std::copy(std::begin(kDefaults), std::end(kDefaults), expected.begin());
  known.fill(true);
}

void tParameterModel::Sent(int32_t index, float v) {
  if (index < 0 || index >= kCount) return;
  known[index] = true;
  switch (index) {
    case 0: {
      const int32_t clones = std::clamp(RoundEven(Limited(v) * 31.0) + 1, 1, 32);
      expected[index] = static_cast<float>(clones - 1) / 31.0f;
      return;
    }
    case 5: expected[index] = static_cast<float>(RoundEven(Limited(v) * 5.0)) / 5.0f; return;
    case 10:
      expected[index] = static_cast<float>(RoundEven(Limited(v) * 3.99 + 0.5)) / 4.0f;
      return;
    case 4:
    case 17: expected[index] = v >= 0.5f ? 1.0f : 0.0f; return;
    default:
      // A real setting keeps its old bits when the new value compares equal (0 and -0).
      if (!(v == expected[index])) expected[index] = v;
      return;
  }
}

struct tValidator::tInstance {
  AEffect* effect = nullptr;
  uint64_t serial = 0;
  tParameterModel model;
  float rateHz = 44100.0f;
  int64_t cleanInputSamples = 0;  // samples since the last non-finite input
  bool editorOpen = false;
  std::vector<float> input = std::vector<float>(kMaxBlock + kGuard);
  std::vector<float> outA = std::vector<float>(kMaxBlock + kGuard);
  std::vector<float> outB = std::vector<float>(kMaxBlock + kGuard);
  std::vector<char> buffer = std::vector<char>(kBufferBytes);
  std::vector<char> spare = std::vector<char>(kBufferBytes);

  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
  }
};

tValidator::tValidator(tPluginEntry entry, tCallSource& source, tValidatorOptions options)
    : entry(entry), source(source), options(options), log(kLogLength) {
  if (options.editorWindow) window = std::make_unique<tHostWindow>();
  CreateInstance();
}

tValidator::~tValidator() {
  while (!instances.empty()) DestroyInstance(instances.size() - 1);
}

void tValidator::Note(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::lock_guard<std::mutex> hold(logLock);
  log[logNext++ % kLogLength] = line;
}

std::string tValidator::RecentCalls() const {
  std::string text;
  const size_t first = logNext > kLogLength ? logNext - kLogLength : 0;
  for (size_t i = first; i < logNext; ++i) text += "  " + log[i % kLogLength] + "\n";
  return text;
}

void tValidator::Fail(const std::string& what) {
  {
    std::lock_guard<std::mutex> hold(logLock);
    failures.push_back(what);
  }
  if (options.abortOnFailure) {
    std::fprintf(stderr, "validator: %s\nrecent calls (oldest first):\n%s", what.c_str(),
                 RecentCalls().c_str());
    std::abort();
  }
}

bool tValidator::CreateInstance() {
  AEffect* effect = entry(HostCallback);
  Note("create -> %p", static_cast<void*>(effect));
  if (!effect) {
    Fail("main() returned no effect");
    return false;
  }
  if (effect->magic != kEffectMagic || effect->numParams != kParameterCount ||
      effect->numPrograms != 1 || effect->numInputs != 1 || effect->numOutputs != 2 ||
      !(effect->flags & effFlagsCanReplacing) || !effect->processReplacing ||
      !effect->process || !effect->dispatcher || !effect->setParameter || !effect->getParameter)
    Fail("record fields wrong at creation");
  auto instance = std::make_unique<tInstance>();
  instance->effect = effect;
  instance->serial = ++instanceSerial;
  instance->Dispatch(effOpen);
  instance->Dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
  instance->Dispatch(effSetBlockSize, 0, 512);
  instance->Dispatch(effMainsChanged, 0, 1);
  instances.push_back(std::move(instance));
  CheckParameters(*instances.back(), "after creation");
  return true;
}

void tValidator::DestroyInstance(size_t slot) {
  tInstance& instance = *instances[slot];
  Note("destroy #%llu", static_cast<unsigned long long>(instance.serial));
  if (instance.editorOpen) instance.Dispatch(effEditClose);
  instance.Dispatch(effMainsChanged, 0, 0);
  instance.Dispatch(effClose);
  instances.erase(instances.begin() + static_cast<ptrdiff_t>(slot));
}

tValidator::tInstance& tValidator::Pick() { return *instances[source.Below(uint32_t(instances.size()))]; }

float tValidator::InterestingFloat(tCallSource& from) {
  static constexpr float kEdges[] = {0.0f, -0.0f, 1.0f, 0.5f, 0.49999997f, 0.25f, 0.75f,
                                     0.7519f, 0.2506f, 15.0f / 31.0f, -1.0f, 2.0f, 1e30f,
                                     -1e30f, 1e-40f, -1e-45f, 1.0000001f};
  switch (from.Below(6)) {
    case 0: return from.Unit();
    case 1: return kEdges[from.Below(std::size(kEdges))];
    case 2: return std::numeric_limits<float>::quiet_NaN();
    case 3: return from.Chance(50) ? INFINITY : -INFINITY;
    case 4: return from.RawFloat();
    default: return static_cast<float>(from.Between(0, 31)) / 31.0f;
  }
}

float tValidator::InterestingRate(tCallSource& from) {
  static constexpr float kRates[] = {8000, 11025, 16000, 22050, 32000, 44100,
                                     48000, 88200, 96000, 176400, 192000, 384000};
  if (from.Chance(85)) return kRates[from.Below(std::size(kRates))];
  return InterestingFloat(from) * 500000.0f;
}

void tValidator::CheckParameters(tInstance& instance, const char* when) {
  for (int32_t i = 0; i < kParameterCount; ++i) {
    if (!instance.model.Known(i)) continue;
    const float got = instance.effect->getParameter(instance.effect, i);
    const float want = instance.model.Expected(i);
    if (!SameFloat(got, want)) {
      char text[200];
      std::snprintf(text, sizeof text, "getParameter(%d) %s: got %.9g, expected %.9g", i, when,
                    double(got), double(want));
      Fail(text);
    }
  }
  for (int32_t i : {-1, kParameterCount, 1000}) {
    const float got = instance.effect->getParameter(instance.effect, i);
    if (!SameFloat(got, 0.0f)) Fail("getParameter out of range index is not 0.0");
  }
}

void tValidator::SetParameter(tInstance& instance) {
  const int32_t index = source.Chance(92) ? source.Between(0, kParameterCount - 1)
                                          : source.Between(-3, kParameterCount + 3);
  const float value = InterestingFloat(source);
  Note("#%llu setParameter(%d, %.9g)", (unsigned long long)instance.serial, index, double(value));
  instance.effect->setParameter(instance.effect, index, value);
  instance.model.Sent(index, value);
  const float got = instance.effect->getParameter(instance.effect, index);
  if (index >= 0 && index < kParameterCount) {
    if (!SameFloat(got, instance.model.Expected(index))) {
      char text[200];
      std::snprintf(text, sizeof text, "setParameter(%d, %.9g) then getParameter gave %.9g, expected %.9g",
                    index, double(value), double(got), double(instance.model.Expected(index)));
      Fail(text);
    }
  } else if (!SameFloat(got, 0.0f)) {
    Fail("getParameter out of range index is not 0.0");
  }
}

void tValidator::CheckTexts(tInstance& instance) {
  for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
    const int32_t index = source.Between(-2, kParameterCount + 1);
    std::fill(instance.buffer.begin(), instance.buffer.end(), '\x7f');
    Note("#%llu dispatcher(%d, %d) text", (unsigned long long)instance.serial, opcode, index);
    instance.Dispatch(opcode, index, 0, instance.buffer.data());
    const bool written = instance.buffer[0] != '\x7f';
    const void* end = std::memchr(instance.buffer.data(), '\0', instance.buffer.size());
    if (index >= 0 && index < kParameterCount) {
      if (!end) Fail("parameter text without a terminator, opcode " + std::to_string(opcode));
      if (opcode == effGetParamName &&
          std::strncmp(instance.buffer.data(), kNames[index], std::strlen(kNames[index])) != 0)
        Fail(std::string("parameter name wrong for ") + kNames[index]);
    } else if (written) {
      Fail("text written for parameter index " + std::to_string(index));
    }
  }
}

void tValidator::CheckRect(tInstance& instance, const char* when) {
  ERect* rect = nullptr;
  const intptr_t answer = instance.Dispatch(effEditGetRect, 0, 0, &rect);
  if (!(instance.effect->flags & effFlagsHasEditor)) return;
  if (!answer || !rect) {
    Fail(std::string("effEditGetRect gave no rectangle ") + when);
    return;
  }
  if (rect->top != 0 || rect->left != 0 || rect->bottom != kRectBottom || rect->right != kRectRight) {
    char text[160];
    std::snprintf(text, sizeof text, "editor rectangle %s is %d,%d,%d,%d", when, rect->top,
                  rect->left, rect->bottom, rect->right);
    Fail(text);
  }
}

void tValidator::RandomOpcode(tInstance& instance) {
  int32_t opcode = source.Between(0, 80);
  if (opcode == effClose || opcode == effEditOpen) opcode = effEditIdle;  // own actions
  const int32_t index = source.Chance(80) ? source.Between(-2, 40) : int32_t(source.Next32());
  intptr_t value = source.Chance(80) ? source.Between(-2, 1024) : intptr_t(int32_t(source.Next32()));
  const float opt = InterestingFloat(source);
  // A NUL-terminated printable text fills the buffer: opcodes that read text find one.
  for (char& c : instance.buffer) c = char(' ' + source.Below(95));
  instance.buffer[source.Below(kBufferBytes)] = '\0';
  instance.buffer[kBufferBytes - 1] = '\0';
  std::fill(instance.spare.begin(), instance.spare.end(), '\0');
  void* ptr = instance.buffer.data();
  void* pointers[2] = {nullptr, nullptr};
  ERect* rect = nullptr;
  switch (opcode) {
    case effEditGetRect: ptr = &rect; break;
    case effGetChunk: ptr = pointers; break;
    case effSetChunk: value = std::clamp<intptr_t>(value, 0, kBufferBytes); break;
    case effProcessEvents: ptr = instance.spare.data(); break;  // VstEvents with no event
    case effSetSpeakerArrangement:
      value = reinterpret_cast<intptr_t>(instance.spare.data());
      ptr = instance.spare.data() + kBufferBytes / 2;
      break;
    case 69:  // effGetSpeakerArrangement: two VstSpeakerArrangement**
      value = reinterpret_cast<intptr_t>(&pointers[0]);
      ptr = &pointers[1];
      break;
    case effSetSampleRate: instance.rateHz = opt; break;
    default: break;
  }
  Note("#%llu dispatcher(%d, %d, %lld, ptr, %.9g)", (unsigned long long)instance.serial, opcode,
       index, (long long)value, double(opt));
  const intptr_t answer = instance.Dispatch(opcode, index, value, ptr, opt);
  if (opcode == effString2Parameter && answer && index >= 0 && index < kParameterCount)
    instance.model.Forget(index);  // the plug-in parsed the text into a value of its own
  if (opcode == effEditGetRect) CheckRect(instance, "after a random call");
  if (opcode == effEditClose) instance.editorOpen = false;
  if (opcode == effIdentify && answer != FourCC('N', 'v', 'E', 'f'))
    Fail("effIdentify answered something else");
}

void tValidator::ProcessBlock(tInstance& instance, int32_t frames, bool replacing,
                              bool inPlace, int inputKind, tCallSource& from) {
  bool nonFinite = false;
  const float phaseStep = 0.01f + from.Unit() * 0.2f;
  for (int32_t i = 0; i < frames; ++i) {
    float x = 0.5f * std::sin(phaseStep * float(i));
    if (inputKind == 1 && from.Chance(2)) x = std::numeric_limits<float>::quiet_NaN();
    if (inputKind == 2 && from.Chance(2)) x = from.Chance(50) ? INFINITY : -INFINITY;
    if (inputKind == 3) x *= 1e30f;
    if (inputKind == 4) x = from.RawFloat();
    nonFinite |= !std::isfinite(x);
    instance.input[i] = x;
  }
  std::fill(instance.input.begin() + frames, instance.input.end(), kGuardValue);
  std::fill(instance.outA.begin(), instance.outA.end(), kGuardValue);
  std::fill(instance.outB.begin(), instance.outB.end(), kGuardValue);
  if (!replacing) {  // accumulating: the host clears, the plug-in adds
    std::fill(instance.outA.begin(), instance.outA.begin() + frames, 0.0f);
    std::fill(instance.outB.begin(), instance.outB.begin() + frames, 0.0f);
  }
  if (inPlace) std::copy(instance.input.begin(), instance.input.begin() + frames, instance.outA.begin());
  float* inputs[1] = {inPlace ? instance.outA.data() : instance.input.data()};
  float* outputs[2] = {instance.outA.data(), instance.outB.data()};
  const bool cleanSecond = !nonFinite && instance.cleanInputSamples >= SecondInSamples(instance.rateHz);
  (replacing ? instance.effect->processReplacing : instance.effect->process)(instance.effect, inputs,
                                                                             outputs, frames);
  instance.cleanInputSamples = nonFinite ? 0 : instance.cleanInputSamples + frames;
  for (int32_t i = frames; i < frames + kGuard; ++i)
    if (instance.outA[i] != kGuardValue || instance.outB[i] != kGuardValue)
      Fail("process wrote past the end of the block of " + std::to_string(frames));
  if (!cleanSecond) return;
  for (int32_t i = 0; i < frames; ++i)
    if (!std::isfinite(instance.outA[i]) || !std::isfinite(instance.outB[i])) {
      Fail("output not finite after a second of finite input, block of " + std::to_string(frames));
      return;
    }
}

void tValidator::Process(tInstance& instance) {
  static constexpr int32_t kSizes[] = {0, 1, 2, 3, 7, 32, 64, 100, 128, 256, 441, 512, 1024, 4096, 8192};
  const int32_t frames = source.Chance(70) ? kSizes[source.Below(std::size(kSizes))]
                                           : source.Between(0, kMaxBlock);
  const bool replacing = source.Chance(75), inPlace = source.Chance(30);
  const int inputKind = source.Chance(80) ? 0 : source.Between(1, 4);
  Note("#%llu %s(%d frames%s, input kind %d)", (unsigned long long)instance.serial,
       replacing ? "processReplacing" : "process", frames, inPlace ? ", in place" : "", inputKind);
  ProcessBlock(instance, frames, replacing, inPlace, inputKind, source);
}

void tValidator::ChangeRate(tInstance& instance) {
  const float rate = InterestingRate(source);
  const int32_t block = source.Chance(90) ? (1 << source.Between(5, 13)) : source.Between(-5, 9000);
  Note("#%llu mains off, rate %.9g, block %d, mains on", (unsigned long long)instance.serial,
       double(rate), block);
  instance.Dispatch(effMainsChanged, 0, 0);
  instance.Dispatch(effSetSampleRate, 0, 0, nullptr, rate);
  instance.Dispatch(effSetBlockSize, 0, block);
  instance.Dispatch(effMainsChanged, 0, 1);
  instance.rateHz = rate;
}

void tValidator::EditorCycle(tInstance& instance) {
  if (!(instance.effect->flags & effFlagsHasEditor)) {
    ERect* rect = nullptr;
    instance.Dispatch(effEditGetRect, 0, 0, &rect);
    if (instance.Dispatch(effEditOpen, 0, 0, nullptr)) Fail("editor opened without an editor flag");
    return;
  }
  CheckRect(instance, "before open");
  void* parent = window && source.Chance(90) ? window->Native() : nullptr;
  Note("#%llu editor open into %p", (unsigned long long)instance.serial, parent);
  instance.Dispatch(effEditOpen, 0, 0, parent);
  instance.editorOpen = true;
  const int idles = source.Between(0, 4);
  for (int i = 0; i < idles; ++i) {
    instance.Dispatch(effEditIdle);
    if (window) window->Pump();
  }
  CheckRect(instance, "while open");
  if (source.Chance(80)) {
    Note("#%llu editor close", (unsigned long long)instance.serial);
    instance.Dispatch(effEditClose);
    instance.editorOpen = false;
    CheckRect(instance, "after close");
  }
}

bool tValidator::Step() {
  if (source.Exhausted()) return false;
  if (instances.empty() && !CreateInstance()) return false;
  tInstance& instance = Pick();
  switch (source.Below(20)) {
    case 0: case 1: case 2: RandomOpcode(instance); break;
    case 3: case 4: case 5: case 6: SetParameter(instance); break;
    case 7: CheckParameters(instance, "at a random check"); break;
    case 8: CheckTexts(instance); break;
    case 9: case 10: case 11: case 12: case 13: Process(instance); break;
    case 14: ChangeRate(instance); break;
    case 15: EditorCycle(instance); break;
    case 16:
      if (int(instances.size()) < options.maxInstances) CreateInstance();
      break;
    case 17:
      if (instances.size() > 1) DestroyInstance(source.Below(uint32_t(instances.size())));
      break;
    default:
      Note("#%llu getVu, tail, canDo", (unsigned long long)instance.serial);
      instance.Dispatch(effGetVu);
      instance.Dispatch(effGetTailSize);
      instance.Dispatch(effCanDo, 0, 0, const_cast<char*>("receiveVstEvents"));
      break;
  }
  stepsDone.fetch_add(1);
  return true;
}

void tValidator::Run(int64_t steps) {
  for (int64_t i = 0; i < steps && Step(); ++i) {
  }
  for (auto& instance : instances) CheckParameters(*instance, "at the end of the run");
}

void tValidator::RunConcurrency(int blocks) {
  if (instances.empty() && !CreateInstance()) return;
  tInstance& instance = *instances.front();
  tSeededSource processSource(source.Next32()), dispatchSource(source.Next32()),
      setterSource(source.Next32());
  const float rateHz = instance.rateHz;  // the dispatcher restarts the effect at the same rate
  Note("#%llu concurrency round of %d blocks", (unsigned long long)instance.serial, blocks);
  std::atomic<bool> done{false};
  std::thread processor([&] {
    for (int b = 0; b < blocks; ++b)
      ProcessBlock(instance, processSource.Between(1, 1024), processSource.Chance(80),
                   processSource.Chance(30), 0, processSource);
    done = true;
  });
  std::thread dispatcher([&] {
    std::vector<char> text(kBufferBytes);
    while (!done) {
      ERect* rect = nullptr;
      switch (dispatchSource.Below(8)) {
        case 0:
          instance.Dispatch(effGetParamDisplay, dispatchSource.Between(0, 20), 0, text.data());
          break;
        case 1: instance.Dispatch(effEditGetRect, 0, 0, &rect); break;
        case 2: instance.Dispatch(effEditIdle); break;
        case 3:
          if (instance.effect->flags & effFlagsHasEditor && dispatchSource.Chance(20)) {
#if defined(_WIN32)
            // A child window of a window owned by the blocked main thread would wait on
            // that thread's messages for ever: Windows hosts open editors on the thread
            // that owns the parent, so from here only the refused null parent.
            instance.Dispatch(effEditOpen, 0, 0, nullptr);
#else
            instance.Dispatch(effEditOpen, 0, 0, window ? window->Native() : nullptr);
#endif
            instance.Dispatch(effEditIdle);
            instance.Dispatch(effEditClose);
          }
          break;
        case 4:
          if (dispatchSource.Chance(5)) {
            instance.Dispatch(effMainsChanged, 0, 0);
            instance.Dispatch(effSetSampleRate, 0, 0, nullptr, rateHz);
            instance.Dispatch(effMainsChanged, 0, 1);
          }
          break;
        case 5: instance.Dispatch(effGetProgramName, 0, 0, text.data()); break;
        case 6: instance.Dispatch(effGetVu); break;
        default: instance.Dispatch(effGetParamName, dispatchSource.Between(0, 20), 0, text.data()); break;
      }
    }
  });
  std::thread setter([&] {
    while (!done) {
      const int32_t index = setterSource.Between(0, kParameterCount - 1);
      float value = InterestingFloat(setterSource);
      instance.effect->setParameter(instance.effect, index, value);
      instance.model.Sent(index, value);
      (void)instance.effect->getParameter(instance.effect, setterSource.Between(0, 20));
    }
  });
  processor.join();
  dispatcher.join();
  setter.join();
  CheckParameters(instance, "after a concurrency round");
  stepsDone.fetch_add(1);
}

void tValidator::RunMemoryCycles(int cycles) {
  auto cycle = [&] {
    CreateInstance();
    tInstance& fresh = *instances.back();
    ProcessBlock(fresh, 512, true, false, 0, source);
    if (fresh.effect->flags & effFlagsHasEditor) {
      fresh.Dispatch(effEditOpen, 0, 0, window ? window->Native() : nullptr);
      fresh.Dispatch(effEditIdle);
      if (window) window->Pump();
      fresh.Dispatch(effEditClose);
    }
    DestroyInstance(instances.size() - 1);
    stepsDone.fetch_add(1);
  };
  const int warmUp = std::max(cycles / 5, 2);
  for (int i = 0; i < warmUp; ++i) cycle();
  const size_t before = ResidentBytes();
  for (int i = 0; i < cycles; ++i) cycle();
  const size_t after = ResidentBytes();
  if (options.memory && before && after > before + kMemorySlackBytes) {
    char text[160];
    std::snprintf(text, sizeof text, "resident memory grew from %zu to %zu bytes over %d create/destroy cycles",
                  before, after, cycles);
    Fail(text);
  }
}

}  // namespace vm
