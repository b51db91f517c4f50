// The ensemble at full load against Rubber Band on the same 20 s sung vowel at 44.1 kHz.
//
// FullLoad: 32 voices over all three sections (Split B:U:A), the unison section
// formant-shifted, both random switches on, 512-sample blocks through processReplacing.
// RubberBand: `rubberband -3 -F -p -12` (finer engine, formants kept, an octave down) on
// the same signal written to a temporary WAV file, timed as a child process.
//
// Both report "x_realtime": seconds of audio per second of CPU (the real-time factor on
// one core; for Rubber Band the child's user plus system time, which counts all of its
// threads). Rubber Band's wall-clock factor is reported as "x_realtime_wall". After the
// runs a summary prints the two factors and their ratio, full load over Rubber Band: how
// many times faster than Rubber Band's octave shift the whole ensemble runs. Without a
// rubberband program on PATH (Debian package rubberband-cli) only the full load figure
// is given.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "vst/Voicemultiply.h"
#include "signals/Signals.h"

extern char** environ;

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr int kBlock = 512;              // samples per processReplacing call
constexpr double kSignalSeconds = 20.0;  // length of the test vowel
constexpr double kVowelF0Hz = 150.0;     // a low sung voice; formants of "ah": 700/1220/2600 Hz
constexpr const char* kRubberBand = "rubberband";

// The figures of the last run of each benchmark, for the summary.
struct tFigures {
  std::optional<double> fullLoadRtf;
  std::optional<double> rubberBandRtf;
  std::optional<double> rubberBandWallRtf;
  std::string rubberBandProblem;
};
tFigures figures;

const std::vector<float>& Vowel() {
  static const std::vector<float> vowel = signals::SungVowel(
      kVowelF0Hz, kRateHz, static_cast<size_t>(kSignalSeconds * kRateHz), 0.5, signals::kVowelA);
  return vowel;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
}

// Finite samples with some energy: the last block of a pass is live output.
bool Audible(const std::vector<float>& block) {
  double energy = 0;
  for (const float x : block) energy += double(x) * x;
  return std::isfinite(energy) && energy > 0;
}

void FullLoad(benchmark::State& state) {
  const std::vector<float>& input = Vowel();
  tVoicemultiply effect(nullptr);
  effect.setParameter(kClones, 1.0f);       // 32 voices
  effect.setParameter(kSplit, 1.0f);        // B:U:A, all three sections
  effect.setParameter(kUnisonFmnts, 1.0f);  // the unison section through the formant shifter
  effect.setParameter(kVibRandom, 1.0f);
  effect.setParameter(kDynRandom, 1.0f);
  std::vector<float> left(kBlock), right(kBlock);
  const size_t blocks = input.size() / kBlock;
  const double audioSecondsPerPass = static_cast<double>(blocks * kBlock) / kRateHz;

  double cpuSeconds = 0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    for (size_t block = 0; block < blocks; ++block) {
      float* inputs[] = {const_cast<float*>(input.data()) + block * kBlock};
      float* outputs[] = {left.data(), right.data()};
      effect.processReplacing(inputs, outputs, kBlock);
      benchmark::DoNotOptimize(left.data());
      benchmark::DoNotOptimize(right.data());
      benchmark::ClobberMemory();
    }
    cpuSeconds += ThreadCpuSeconds() - start;
  }
  // A silent or broken output would make the figure meaningless.
  if (!Audible(left) || !Audible(right)) {
    state.SkipWithError("the ensemble's output is silent or not finite");
    return;
  }
  const double audioSeconds = audioSecondsPerPass * static_cast<double>(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
  if (cpuSeconds > 0) figures.fullLoadRtf = audioSeconds / cpuSeconds;
}

// A fresh folder under the system's temporary directory, removed with this object.
class tTempFolder {
 public:
  tTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vm-fullload-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~tTempFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  tTempFolder(const tTempFolder&) = delete;
  tTempFolder& operator=(const tTempFolder&) = delete;

  bool Made() const { return !path.empty(); }
  std::string File(const char* name) const { return (path / name).string(); }

 private:
  std::filesystem::path path;
};

bool WriteMonoWav(const std::string& fileName, const std::vector<float>& samples) {
  SF_INFO info{};
  info.samplerate = kRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(fileName.c_str(), SFM_WRITE, &info);
  if (!file) return false;
  const sf_count_t written = sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  return written == static_cast<sf_count_t>(samples.size());
}

sf_count_t FramesOf(const std::string& fileName) {
  SF_INFO info{};
  SNDFILE* file = sf_open(fileName.c_str(), SFM_READ, &info);
  if (!file) return 0;
  sf_close(file);
  return info.frames;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string folders = path;
  size_t begin = 0;
  while (begin <= folders.size()) {
    const size_t end = std::min(folders.find(':', begin), folders.size());
    const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    begin = end + 1;
  }
  return false;
}

struct tChildRun {
  bool started = false;
  int exitStatus = -1;     // the child's exit code, -1 when it did not exit normally
  double cpuSeconds = 0;   // user plus system time of the child
  double wallSeconds = 0;  // from spawn to reaped
};

// Runs `args` (args[0] looked up on PATH) with its output into `logFile`, and waits for it.
tChildRun RunChild(const std::vector<std::string>& args, const std::string& logFile) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

  tChildRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return run;
  run.started = true;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return run;
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  return run;
}

std::string Tail(const std::string& fileName, size_t characters) {
  std::FILE* file = std::fopen(fileName.c_str(), "r");
  if (!file) return {};
  std::string text;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  std::fclose(file);
  return text.size() > characters ? text.substr(text.size() - characters) : text;
}

void Fail(benchmark::State& state, const std::string& problem) {
  figures.rubberBandProblem = problem;
  state.SkipWithError(problem.c_str());
}

void RubberBand(benchmark::State& state) {
  if (!OnPath(kRubberBand)) {
    Fail(state, "rubberband not found on PATH (Debian package rubberband-cli)");
    return;
  }
  tTempFolder folder;
  const std::vector<float>& input = Vowel();
  if (!folder.Made() || !WriteMonoWav(folder.File("in.wav"), input)) {
    Fail(state, "could not write the input WAV file");
    return;
  }
  const std::vector<std::string> command = {kRubberBand, "-3", "-F", "-p", "-12",
                                            folder.File("in.wav"), folder.File("out.wav")};
  const std::string log = folder.File("rubberband.log");
  const double audioSecondsPerRun = static_cast<double>(input.size()) / kRateHz;

  double cpuSeconds = 0, wallSeconds = 0;
  for (auto _ : state) {
    const tChildRun run = RunChild(command, log);
    if (!run.started || run.exitStatus != 0) {
      Fail(state, "rubberband failed (exit " + std::to_string(run.exitStatus) + "): " + Tail(log, 300));
      break;
    }
    // The pitch shift keeps the length: anything much shorter is a failed run.
    if (FramesOf(folder.File("out.wav")) < static_cast<sf_count_t>(0.9 * input.size())) {
      Fail(state, "rubberband wrote a short or unreadable out.wav: " + Tail(log, 300));
      break;
    }
    state.SetIterationTime(run.cpuSeconds);
    cpuSeconds += run.cpuSeconds;
    wallSeconds += run.wallSeconds;
  }
  if (state.error_occurred() || cpuSeconds <= 0 || wallSeconds <= 0) return;
  const double audioSeconds = audioSecondsPerRun * static_cast<double>(state.iterations());
  state.counters["x_realtime"] = audioSeconds / cpuSeconds;
  state.counters["x_realtime_wall"] = audioSeconds / wallSeconds;
  figures.rubberBandRtf = audioSeconds / cpuSeconds;
  figures.rubberBandWallRtf = audioSeconds / wallSeconds;
}

// Each pass is 20 s of audio; a few passes keep the whole run short on a shared machine.
BENCHMARK(FullLoad)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RubberBand)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

void PrintSummary() {
  std::printf("\nReal-time factor (audio seconds per CPU second, %.0f s sung vowel at %d Hz):\n",
              kSignalSeconds, kRateHz);
  if (figures.fullLoadRtf)
    std::printf("  full load (32 voices, B:U:A, unison formants, random on): %8.2f\n", *figures.fullLoadRtf);
  else
    std::printf("  full load: not run\n");
  if (figures.rubberBandRtf) {
    std::printf("  rubberband -3 -F -p -12:                                  %8.2f (wall clock %.2f)\n",
                *figures.rubberBandRtf, *figures.rubberBandWallRtf);
  } else {
    std::printf("  rubberband: %s\n",
                figures.rubberBandProblem.empty() ? "not run" : figures.rubberBandProblem.c_str());
  }
  if (figures.fullLoadRtf && figures.rubberBandRtf)
    std::printf("  ratio full load / rubberband:                             %8.2f\n",
                *figures.fullLoadRtf / *figures.rubberBandRtf);
}

}  // namespace
}  // namespace vm

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  vm::PrintSummary();
  return 0;
}
