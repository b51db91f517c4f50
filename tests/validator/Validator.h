// A torture host: drives the plug-in only through its record with a stream of calls drawn
// from a tCallSource (seeded or fuzz bytes), the way careless and concurrent hosts do, and
// checks after every call what any host is entitled to expect.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CallSource.h"
#include "Platform.h"
#include "vst/VstAbi.h"

namespace vm {

struct tValidatorOptions {
  int maxInstances = 3;
  bool threads = true;        // concurrency rounds (one processor, one dispatcher, one setter)
  bool memory = true;         // resident-memory checks (off under sanitizers)
  bool editorWindow = true;   // open the editor into a real window when a display exists
  bool abortOnFailure = false;  // for the fuzzer: a failed check is a crash
};

// What getParameter must give back for everything sent so far, per index.
class tParameterModel {
 public:
  static constexpr int kCount = 21;
  tParameterModel();
  void Sent(int32_t index, float value);
  void Forget(int32_t index) { known[index] = false; }
  bool Known(int32_t index) const { return known[index]; }
  float Expected(int32_t index) const { return expected[index]; }

 private:
  std::array<float, kCount> expected{};
  std::array<bool, kCount> known{};
};

class tValidator {
 public:
  tValidator(tPluginEntry entry, tCallSource& source, tValidatorOptions options);
  ~tValidator();
  tValidator(const tValidator&) = delete;
  tValidator& operator=(const tValidator&) = delete;

  // One action drawn from the source; false once a byte source is used up.
  bool Step();
  void Run(int64_t steps);
  // Three host threads on one instance for `blocks` process calls.
  void RunConcurrency(int blocks);
  // Create/destroy and editor open/close cycles; resident memory must stay flat.
  void RunMemoryCycles(int cycles);

  const std::vector<std::string>& Failures() const { return failures; }
  std::string RecentCalls() const;
  int64_t StepsDone() const { return stepsDone.load(); }

 private:
  struct tInstance;

  void Fail(const std::string& what);
  void Note(const char* format, ...);
  bool CreateInstance();
  void DestroyInstance(size_t slot);
  tInstance& Pick();

  void RandomOpcode(tInstance& instance);
  void SetParameter(tInstance& instance);
  void CheckParameters(tInstance& instance, const char* when);
  void CheckTexts(tInstance& instance);
  void Process(tInstance& instance);
  void ProcessBlock(tInstance& instance, int32_t frames, bool replacing, bool inPlace,
                    int inputKind, tCallSource& from);
  void ChangeRate(tInstance& instance);
  void EditorCycle(tInstance& instance);
  void CheckRect(tInstance& instance, const char* when);
  float InterestingFloat(tCallSource& from);
  float InterestingRate(tCallSource& from);

  tPluginEntry entry;
  tCallSource& source;
  tValidatorOptions options;
  std::vector<std::unique_ptr<tInstance>> instances;
  std::unique_ptr<tHostWindow> window;
  std::vector<std::string> failures;
  std::mutex logLock;
  std::vector<std::string> log;  // ring of the latest calls
  size_t logNext = 0;
  std::atomic<int64_t> stepsDone{0};
  uint64_t instanceSerial = 0;
};

}  // namespace vm
