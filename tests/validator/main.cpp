// The validator's command line: seeded runs for CTest, timed soak runs, a watchdog for hangs.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Validator.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int kHangSeconds = 60;  // no step finished for this long: the plug-in hangs

struct tArguments {
  std::string plugin;
  uint64_t seed = 1;
  long long steps = 2000;
  int concurrencyBlocks = 400;
  int memoryCycles = 100;
  double seconds = 0;  // > 0: repeat seeds until this much time has passed
  vm::tValidatorOptions options;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: vm_validator --plugin PATH [--seed N] [--steps N] [--concurrency BLOCKS]\n"
               "                    [--memory-cycles N] [--seconds S] [--no-threads] [--no-memory]\n"
               "                    [--no-window] [--instances N]\n"
               "  --seconds S runs seed, seed+1, ... until S seconds have passed (soak).\n");
  std::exit(2);
}

tArguments Parse(int argc, char** argv) {
  tArguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : (Usage(), ""); };
    if (arg == "--plugin") a.plugin = next();
    else if (arg == "--seed") a.seed = std::strtoull(next(), nullptr, 10);
    else if (arg == "--steps") a.steps = std::atoll(next());
    else if (arg == "--concurrency") a.concurrencyBlocks = std::atoi(next());
    else if (arg == "--memory-cycles") a.memoryCycles = std::atoi(next());
    else if (arg == "--seconds") a.seconds = std::atof(next());
    else if (arg == "--instances") a.options.maxInstances = std::atoi(next());
    else if (arg == "--no-threads") a.options.threads = false;
    else if (arg == "--no-memory") a.options.memory = false;
    else if (arg == "--no-window") a.options.editorWindow = false;
    else Usage();
  }
  // Sanitizers hold freed memory back and shadow the rest: resident size says nothing there.
  if (kSanitized) a.options.memory = false;
  if (a.plugin.empty()) {
    const char* fromEnvironment = std::getenv("VM_PLUGIN");
    if (!fromEnvironment) Usage();
    a.plugin = fromEnvironment;
  }
  return a;
}

// One seed's run; returns the number of failed checks.
size_t RunSeed(vm::tPluginEntry entry, const tArguments& a, uint64_t seed) {
  vm::tSeededSource source(seed);
  vm::tValidator validator(entry, source, a.options);
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    long long lastSteps = -1;
    auto lastProgress = std::chrono::steady_clock::now();
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const long long steps = validator.StepsDone();
      const auto now = std::chrono::steady_clock::now();
      if (steps != lastSteps) {
        lastSteps = steps;
        lastProgress = now;
      } else if (now - lastProgress > std::chrono::seconds(kHangSeconds)) {
        std::fprintf(stderr, "validator: seed %llu hangs; recent calls:\n%s",
                     (unsigned long long)seed, validator.RecentCalls().c_str());
        std::_Exit(3);
      }
    }
  });
  validator.Run(a.steps);
  if (a.options.threads && a.concurrencyBlocks > 0) validator.RunConcurrency(a.concurrencyBlocks);
  if (a.memoryCycles > 0) validator.RunMemoryCycles(a.memoryCycles);
  finished = true;
  watchdog.join();
  for (const std::string& failure : validator.Failures())
    std::fprintf(stderr, "FAIL seed %llu: %s\n", (unsigned long long)seed, failure.c_str());
  if (!validator.Failures().empty())
    std::fprintf(stderr, "recent calls of seed %llu (oldest first):\n%s", (unsigned long long)seed,
                 validator.RecentCalls().c_str());
  return validator.Failures().size();
}

}  // namespace

int main(int argc, char** argv) {
  const tArguments a = Parse(argc, argv);
  std::string error;
  const vm::tPluginEntry entry = vm::LoadPluginEntry(a.plugin, error);
  if (!entry) {
    std::fprintf(stderr, "validator: %s\n", error.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  size_t seeds = 0, failedSeeds = 0;
  for (uint64_t seed = a.seed;; ++seed) {
    if (RunSeed(entry, a, seed) > 0) ++failedSeeds;
    ++seeds;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (a.seconds <= 0 || elapsed >= a.seconds) break;
  }
  std::printf("validator: %zu passed, %zu failed\n", seeds - failedSeeds, failedSeeds);
  return failedSeeds ? 1 : 0;
}
