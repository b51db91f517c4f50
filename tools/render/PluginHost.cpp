#include "PluginHost.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace vm {

namespace {

// The host side of the callback: a VST 2.4 host answers the version query.
intptr_t HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  constexpr intptr_t kHostVstVersion = 2400;
  return opcode == audioMasterVersion ? kHostVstVersion : 0;
}

std::string TrimRight(const char* text) {
  std::string s(text);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

tPluginHost::tPluginHost(const std::string& libraryPath) {
  library = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) throw std::runtime_error("cannot load plug-in " + libraryPath + ": " + dlerror());
  using tEntry = AEffect* (*)(audioMasterCallback);
  auto entry = reinterpret_cast<tEntry>(dlsym(library, "main"));
  if (!entry) {
    dlclose(library);
    throw std::runtime_error(libraryPath + " has no VST 2 entry point 'main'");
  }
  effect = entry(HostCallback);
  if (!effect || effect->magic != kEffectMagic) {
    dlclose(library);
    throw std::runtime_error(libraryPath + " did not return a VST 2 effect");
  }
  Dispatch(effOpen);
}

tPluginHost::~tPluginHost() {
  Dispatch(effClose);
  dlclose(library);
}

intptr_t tPluginHost::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                               float opt) const {
  return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

std::string tPluginHost::ParameterName(int32_t index) const {
  char text[256] = {};
  Dispatch(effGetParamName, index, 0, text);
  return TrimRight(text);
}

std::string tPluginHost::ParameterDisplay(int32_t index) const {
  char text[256] = {};
  Dispatch(effGetParamDisplay, index, 0, text);
  return TrimRight(text);
}

int32_t tPluginHost::FindParameter(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (int32_t i = 0; i < ParameterCount(); ++i)
    if (Lower(ParameterName(i)) == wanted) return i;
  return -1;
}

void tPluginHost::Start(float rateHz, int32_t blockSize) const {
  Dispatch(effSetSampleRate, 0, 0, nullptr, rateHz);
  Dispatch(effSetBlockSize, 0, blockSize);
  Dispatch(effMainsChanged, 0, 1);
}

void tPluginHost::Stop() const { Dispatch(effMainsChanged, 0, 0); }

void tPluginHost::Render(const std::vector<float>& input, std::vector<float>& left,
                         std::vector<float>& right, int32_t blockSize,
                         void (*progress)(size_t, size_t)) const {
  left.assign(input.size(), 0.0f);
  right.assign(input.size(), 0.0f);
  std::vector<float> block(static_cast<size_t>(blockSize));
  for (size_t start = 0; start < input.size(); start += static_cast<size_t>(blockSize)) {
    const size_t n = std::min(input.size() - start, static_cast<size_t>(blockSize));
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(start), n, block.begin());
    float* inputs[] = {block.data()};
    float* outputs[] = {left.data() + start, right.data() + start};
    effect->processReplacing(effect, inputs, outputs, static_cast<int32_t>(n));
    if (progress) progress(start + n, input.size());
  }
}

std::string DefaultPluginPath() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  const auto folder = error ? std::filesystem::current_path() : self.parent_path();
  return (folder / "VoicemultiplyV42_MS.so").string();
}

}  // namespace vm
