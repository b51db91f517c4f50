// voicemultiply-render: the ensemble outside a DAW. Loads the plug-in like a host, feeds it
// an audio file (or the built-in demo voice) and writes the stereo result.

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DemoVoice.h"
#include "PluginHost.h"
#include "engine/Parameters.h"
#if VM_RENDER_EDITOR
#include "EditorWindow.h"
#endif

namespace fs = std::filesystem;
using vm::tPluginHost;

namespace {

constexpr int kDemoRateHz = 44100;
constexpr int kDefaultBlock = 512;  // samples per process call
constexpr int kMaxBlock = 1 << 16;

const char* kUsage =
    "usage: voicemultiply-render [options] INPUT OUTPUT\n"
    "       voicemultiply-render [options] --demo [OUTPUT]\n"
    "       voicemultiply-render [options] --list\n"
    "       voicemultiply-render [options] --editor\n"
    "\n"
    "Turns a solo voice into an ensemble with the VoicemultiplyV42_MS plug-in.\n"
    "INPUT is any file libsndfile reads (WAV, AIFF, FLAC, Ogg); channels are mixed to\n"
    "mono. OUTPUT is stereo; its extension chooses the container (.wav, .flac, .aiff,\n"
    ".ogg, ... any libsndfile writes), else the input's container is kept.\n"
    "\n"
    "options:\n"
    "  --plugin PATH      plug-in library (default: the one built beside this program)\n"
    "  --set NAME=VALUE   set a parameter by name (case-insensitive) to a host value 0..1\n"
    "  --block N          samples per process call (default 512)\n"
    "  --float            write 32-bit float samples\n"
    "  --demo [OUTPUT]    render the built-in sung vowel (default demo-ensemble.wav)\n"
    "  --list             print every parameter: index, name, host value, display text,\n"
    "                     kind and default\n"
    "  --editor           open the plug-in's editor in a window (X11); --list after it\n"
    "                     shows the values set in it\n"
    "  --editor-seconds S as --editor, closing the window after S seconds\n"
    "  --help             this text\n"
    "\n"
    "examples:\n"
    "  voicemultiply-render --demo\n"
    "  voicemultiply-render --set Clones=1 --set Timing=0.7 solo.wav choir.wav\n"
    "  voicemultiply-render --set Split=0.2 --set BassLevel=0.6 solo.flac bass.flac\n";

struct tOptions {
  std::string pluginPath;
  std::vector<std::pair<std::string, std::string>> settings;  // name, value text
  int block = kDefaultBlock;
  bool floatOutput = false;
  bool demo = false;
  bool list = false;
  bool editor = false;
  double editorSeconds = 0;  // 0: until the window is closed
  std::vector<std::string> paths;
};

[[noreturn]] void Fail(const std::string& message) { throw std::runtime_error(message); }

tOptions ParseOptions(int argc, char** argv) {
  tOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Fail("option " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--plugin") {
      options.pluginPath = next();
    } else if (arg == "--set") {
      const std::string setting = next();
      const size_t eq = setting.find('=');
      if (eq == std::string::npos || eq == 0) Fail("--set needs NAME=VALUE, got '" + setting + "'");
      options.settings.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
    } else if (arg == "--block") {
      const std::string text = next();
      char* end = nullptr;
      const long n = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || n < 1 || n > kMaxBlock)
        Fail("--block needs a whole number from 1 to " + std::to_string(kMaxBlock));
      options.block = static_cast<int>(n);
    } else if (arg == "--float") {
      options.floatOutput = true;
    } else if (arg == "--demo") {
      options.demo = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--editor") {
      options.editor = true;
    } else if (arg == "--editor-seconds") {
      const std::string text = next();
      char* end = nullptr;
      options.editorSeconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end || !(options.editorSeconds > 0))
        Fail("--editor-seconds needs a positive number");
      options.editor = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      Fail("unknown option " + arg + " (see --help)");
    } else {
      options.paths.push_back(arg);
    }
  }
  if (options.pluginPath.empty()) options.pluginPath = vm::DefaultPluginPath();
  return options;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The parameter of that name (any case), or -1.
int32_t ParameterNamed(const std::string& name) {
  for (const vm::tParameterInfo& p : vm::kParameters)
    if (Lower(p.name) == Lower(name)) return p.index;
  return -1;
}

float ParseHostValue(const std::string& name, const std::string& text) {
  char* end = nullptr;
  const float value = std::strtof(text.c_str(), &end);
  if (text.empty() || *end || !std::isfinite(value))
    Fail("value of " + name + " is not a number: '" + text + "'");
  if (value < 0.0f || value > 1.0f)
    Fail("value of " + name + " lies outside 0..1: '" + text + "'");
  return value;
}

void ApplySettings(const tPluginHost& host, const tOptions& options) {
  for (const auto& [name, text] : options.settings) {
    const int32_t index = ParameterNamed(name);
    if (index < 0) Fail("unknown parameter '" + name + "' (see --list)");
    host.SetParameter(index, ParseHostValue(name, text));
  }
}

const char* KindName(vm::tParameterKind kind) {
  switch (kind) {
    case vm::tParameterKind::Real: return "real";
    case vm::tParameterKind::Count: return "count";
    case vm::tParameterKind::Switch: return "switch";
    case vm::tParameterKind::Choice: return "choice";
  }
  return "";
}

// The plug-in's own answers (value, display) beside the table's kind and default.
void ListParameters(const tPluginHost& host) {
  for (const vm::tParameterInfo& p : vm::kParameters) {
    const int32_t i = p.index;
    std::printf("%2d  %-12s %.6f  %-8s  %-6s  default %.6f\n", i, p.name, host.GetParameter(i),
                host.ParameterDisplay(i).c_str(), KindName(p.kind),
                vm::HostFromSetting(i, p.defaultSetting));
  }
}

struct tAudio {
  std::vector<float> mono;
  int rateHz = kDemoRateHz;
  int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
};

tAudio ReadInput(const std::string& path) {
  if (!fs::exists(path)) Fail("input file not found: " + path);
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) Fail("cannot read " + path + ": " + sf_strerror(nullptr));
  tAudio audio;
  audio.rateHz = info.samplerate;
  audio.format = info.format;
  std::vector<float> frames(static_cast<size_t>(info.frames) * info.channels);
  const sf_count_t got = sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  audio.mono.resize(static_cast<size_t>(got));
  for (sf_count_t f = 0; f < got; ++f) {
    double sum = 0;
    for (int c = 0; c < info.channels; ++c) sum += frames[static_cast<size_t>(f * info.channels + c)];
    audio.mono[static_cast<size_t>(f)] = static_cast<float>(sum / info.channels);
  }
  return audio;
}

// The container libsndfile writes for a file extension ("flac", "aiff", "ogg", ...), or 0.
int ContainerOfExtension(const std::string& path) {
  std::string extension = Lower(fs::path(path).extension().string());
  if (extension.empty()) return 0;
  extension.erase(0, 1);
  if (extension == "aif") extension = "aiff";
  if (extension == "ogg") extension = "oga";  // libsndfile names Ogg files .oga
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO major{};
    major.format = i;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
    if (major.extension && extension == major.extension) return major.format;
  }
  return 0;
}

// The output's container from its extension (else the input's), with the input's sample
// format where that container takes it, else the first of the usual ones it takes.
int OutputFormat(const std::string& path, int inputFormat, bool floatSamples, int rateHz) {
  int container = ContainerOfExtension(path);
  if (container == 0) container = inputFormat & SF_FORMAT_TYPEMASK;
  const int wanted = floatSamples ? SF_FORMAT_FLOAT : (inputFormat & SF_FORMAT_SUBMASK);
  for (const int subtype : std::initializer_list<int>{wanted, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, SF_FORMAT_VORBIS}) {
    SF_INFO probe{};
    probe.samplerate = rateHz;
    probe.channels = 2;
    probe.format = container | subtype;
    if (sf_format_check(&probe)) return probe.format;
  }
  Fail("cannot write this format in stereo: " + path);
}

// Writes to a temporary file beside the output and renames it, so a failure leaves nothing.
void WriteOutput(const std::string& path, const tAudio& audio, bool floatSamples,
                 const std::vector<float>& left, const std::vector<float>& right) {
  SF_INFO info{};
  info.samplerate = audio.rateHz;
  info.channels = 2;
  info.format = OutputFormat(path, audio.format, floatSamples, audio.rateHz);

  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const fs::path temporary = folder / ("." + target.filename().string() + ".part" +
                                       std::to_string(::getpid()));
  SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
  if (!file) Fail("cannot write " + path + ": " + sf_strerror(nullptr));
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  std::vector<float> frames(left.size() * 2);
  for (size_t i = 0; i < left.size(); ++i) {
    frames[2 * i] = left[i];
    frames[2 * i + 1] = right[i];
  }
  const sf_count_t written = sf_writef_float(file, frames.data(), static_cast<sf_count_t>(left.size()));
  const int closeError = sf_close(file);
  std::error_code error;
  if (written != static_cast<sf_count_t>(left.size()) || closeError != 0) {
    fs::remove(temporary, error);
    Fail("writing " + path + " failed");
  }
  fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary, error);
    Fail("cannot write " + path + ": " + error.message());
  }
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code error;
  const fs::path pa = fs::weakly_canonical(a, error);
  const fs::path pb = fs::weakly_canonical(b, error);
  return pa == pb;
}

void ShowProgress(size_t done, size_t total) {
  static int lastPercent = -1;
  const int percent = total ? static_cast<int>(100 * done / total) : 100;
  if (percent == lastPercent) return;
  lastPercent = percent;
  const int filled = percent / 5;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "####################", 20 - filled, "", percent);
  if (done >= total) std::fputc('\n', stderr);
}

int Run(int argc, char** argv) {
  tOptions options = ParseOptions(argc, argv);
  const bool fileMode = !options.demo && !options.list && !options.editor && !options.paths.empty();
  if (!fileMode && !options.list && !options.editor) options.demo = true;
  if (fileMode && options.paths.size() != 2) Fail("need INPUT and OUTPUT (see --help)");
  if (options.demo && options.paths.size() > 1) Fail("--demo takes at most one OUTPUT");

  tAudio audio;
  std::string outputPath;
  if (fileMode) {
    if (SamePath(options.paths[0], options.paths[1]))
      Fail("output path is the input: " + options.paths[1]);
    audio = ReadInput(options.paths[0]);
    outputPath = options.paths[1];
  }

  tPluginHost host(options.pluginPath);
  ApplySettings(host, options);
#if VM_RENDER_EDITOR
  if (options.editor && vm::RunEditorWindow(host.Effect(), options.editorSeconds) != 0)
    Fail("the editor window could not be shown");
#else
  if (options.editor) Fail("this build has no editor window support");
#endif
  if (options.list) ListParameters(host);
  if (!fileMode && !options.demo) return 0;

  if (options.demo) {
    audio.mono = vm::SynthesizeDemoVoice(kDemoRateHz);
    audio.rateHz = kDemoRateHz;
    outputPath = options.paths.empty() ? "demo-ensemble.wav" : options.paths[0];
  }

  std::vector<float> left, right;
  host.Start(static_cast<float>(audio.rateHz), options.block);
  const auto started = std::chrono::steady_clock::now();
  host.Render(audio.mono, left, right, options.block, isatty(STDERR_FILENO) ? ShowProgress : nullptr);
  const double cpuSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  host.Stop();
  WriteOutput(outputPath, audio, options.floatOutput, left, right);

  float peak = 0;
  for (size_t i = 0; i < left.size(); ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  const double seconds = static_cast<double>(audio.mono.size()) / audio.rateHz;
  std::fprintf(stderr, "%s: %.2f s, peak %.1f dBFS, %.0fx real time\n", outputPath.c_str(), seconds,
               peak > 0 ? 20 * std::log10(peak) : -999.0, cpuSeconds > 0 ? seconds / cpuSeconds : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "voicemultiply-render: %s\n", error.what());
    return 1;
  }
}
