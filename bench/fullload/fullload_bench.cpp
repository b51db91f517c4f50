// The ensemble at full load against Rubber Band, side by side in one run, on two 20 s
// inputs at 44.1 kHz: the project's sung vowel (150 Hz "ah") and a 150 Hz sawtooth with a
// 5 Hz vibrato and a little noise (bench/support/BenchSupport.h).
//
// Full load: 32 voices over all three sections (Split B:U:A), the unison section
// formant-shifted, both random switches on, 512-sample blocks through processReplacing,
// timed with the thread's CPU clock. Rubber Band: `rubberband -3 -F -p -12` (finer engine,
// formants kept, an octave down; Debian's rubberband-cli) on the same signal written to a
// temporary WAV file, timed as a child process by its user plus system time (getrusage
// through wait4: all of its threads, its start-up and its file input and output).
//
// Each iteration runs Rubber Band once and then one full-load pass over the same input,
// so the two sides see the same machine. Counters, per input:
//   fullload_cpu_s, rubberband_cpu_s   CPU seconds of one pass (mean over the iterations)
//   x_realtime, rubberband_x_realtime  seconds of audio per CPU second (one core)
//   rubberband_x_realtime_wall         Rubber Band's factor by the wall clock
//   speedup_vs_rubberband              rubberband_cpu_s / fullload_cpu_s
// A summary of both inputs follows the table. Without a rubberband program on PATH the
// benchmark stops with an error that says so.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/BenchSupport.h"
#include "vst/Voicemultiply.h"

extern char** environ;

namespace vm {
namespace {

using bench::kRateHz;
using bench::tInput;

constexpr int kBlock = 512;              // samples per processReplacing call
constexpr double kSignalSeconds = 20.0;  // length of each input
constexpr const char* kRubberBand = "rubberband";

// The figures of each input's run, for the summary.
struct tFigures {
  double fullLoadRtf = 0;
  double rubberBandRtf = 0;
  double rubberBandWallRtf = 0;
  std::string problem;
};
std::map<tInput, tFigures> figures;

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
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

void Fail(benchmark::State& state, tInput input, const std::string& problem) {
  figures[input].problem = problem;
  state.SkipWithError(problem.c_str());
}

// One full-load pass over `input` in 512-sample blocks; returns the thread's CPU seconds.
// `left` and `right` keep the last block's output.
double FullLoadPass(tVoicemultiply& effect, const std::vector<float>& input,
                    std::vector<float>& left, std::vector<float>& right) {
  const size_t blocks = input.size() / kBlock;
  const double start = bench::ThreadCpuSeconds();
  for (size_t block = 0; block < blocks; ++block) {
    float* inputs[] = {const_cast<float*>(input.data()) + block * kBlock};
    float* outputs[] = {left.data(), right.data()};
    effect.processReplacing(inputs, outputs, kBlock);
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
    benchmark::ClobberMemory();
  }
  return bench::ThreadCpuSeconds() - start;
}

// Rubber Band once on in.wav of `folder`; the problem, if any, in `problem`.
tChildRun RubberBandPass(const tTempFolder& folder, size_t inputFrames, std::string& problem) {
  const std::vector<std::string> command = {kRubberBand, "-3", "-F", "-p", "-12",
                                            folder.File("in.wav"), folder.File("out.wav")};
  const std::string log = folder.File("rubberband.log");
  const tChildRun run = RunChild(command, log);
  if (!run.started || run.exitStatus != 0) {
    problem = "rubberband failed (exit " + std::to_string(run.exitStatus) + "): " + Tail(log, 300);
  } else if (FramesOf(folder.File("out.wav")) < static_cast<sf_count_t>(0.9 * inputFrames)) {
    // The pitch shift keeps the length: anything much shorter is a failed run.
    problem = "rubberband wrote a short or unreadable out.wav: " + Tail(log, 300);
  }
  return run;
}

void FullLoadVsRubberBand(benchmark::State& state) {
  const tInput which = static_cast<tInput>(state.range(0));
  const std::vector<float> input = bench::MakeInput(which, kSignalSeconds);
  if (!OnPath(kRubberBand)) {
    Fail(state, which, "rubberband not found on PATH (Debian package rubberband-cli)");
    return;
  }
  tTempFolder folder;
  if (!folder.Made() || !WriteMonoWav(folder.File("in.wav"), input)) {
    Fail(state, which, "could not write the input WAV file");
    return;
  }
  tVoicemultiply effect(nullptr);
  bench::SetFullLoad(effect);
  std::vector<float> left(kBlock), right(kBlock);

  double fullLoadCpu = 0, rubberBandCpu = 0, rubberBandWall = 0;
  for (auto _ : state) {
    std::string problem;
    const tChildRun run = RubberBandPass(folder, input.size(), problem);
    if (!problem.empty()) {
      Fail(state, which, problem);
      break;
    }
    const double seconds = FullLoadPass(effect, input, left, right);
    state.SetIterationTime(seconds);
    fullLoadCpu += seconds;
    rubberBandCpu += run.cpuSeconds;
    rubberBandWall += run.wallSeconds;
  }
  if (state.error_occurred()) return;
  // A silent or broken output would make the figure meaningless.
  if (!bench::Audible(left) || !bench::Audible(right)) {
    Fail(state, which, "the ensemble's output is silent or not finite");
    return;
  }
  if (fullLoadCpu <= 0 || rubberBandCpu <= 0 || rubberBandWall <= 0) {
    Fail(state, which, "no CPU time measured");
    return;
  }
  const double passes = static_cast<double>(state.iterations());
  const double audioSeconds = passes * static_cast<double>(input.size() / kBlock * kBlock) / kRateHz;
  const double rubberBandAudio = passes * static_cast<double>(input.size()) / kRateHz;
  tFigures& f = figures[which];
  f.fullLoadRtf = audioSeconds / fullLoadCpu;
  f.rubberBandRtf = rubberBandAudio / rubberBandCpu;
  f.rubberBandWallRtf = rubberBandAudio / rubberBandWall;
  state.counters["fullload_cpu_s"] = fullLoadCpu / passes;
  state.counters["rubberband_cpu_s"] = rubberBandCpu / passes;
  state.counters["x_realtime"] = f.fullLoadRtf;
  state.counters["rubberband_x_realtime"] = f.rubberBandRtf;
  state.counters["rubberband_x_realtime_wall"] = f.rubberBandWallRtf;
  state.counters["speedup_vs_rubberband"] = f.fullLoadRtf / f.rubberBandRtf;
  state.SetLabel(bench::InputName(which));
}

// Each pass is 20 s of audio; three passes per input keep the whole run short on a shared
// machine. The reported time is the full load's CPU time per pass.
BENCHMARK(FullLoadVsRubberBand)
    ->ArgName("input")
    ->Arg(static_cast<int>(tInput::SungVowel))
    ->Arg(static_cast<int>(tInput::Sawtooth))
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void PrintSummary() {
  std::printf("\nFull load (32 voices, B:U:A, unison formants, random on) against rubberband -3 -F -p -12,\n"
              "real-time factors (audio seconds per CPU second), %.0f s at %d Hz:\n",
              kSignalSeconds, kRateHz);
  for (const tInput input : {tInput::SungVowel, tInput::Sawtooth}) {
    const auto found = figures.find(input);
    if (found == figures.end()) {
      std::printf("  %-17s not run\n", bench::InputName(input));
    } else if (!found->second.problem.empty()) {
      std::printf("  %-17s %s\n", bench::InputName(input), found->second.problem.c_str());
    } else {
      const tFigures& f = found->second;
      std::printf("  %-17s full load %7.2f, rubberband %6.2f (wall clock %.2f): %.2f times faster\n",
                  bench::InputName(input), f.fullLoadRtf, f.rubberBandRtf, f.rubberBandWallRtf,
                  f.fullLoadRtf / f.rubberBandRtf);
    }
  }
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
