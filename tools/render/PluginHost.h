// A minimal VST 2 host: loads the plug-in library, calls its `main` exactly as a DAW does,
// and drives the effect only through the record. Shared by the renderer and the tests
// that examine the binary from outside.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vst/VstAbi.h"

namespace vm {

class tPluginHost {
 public:
  // Loads the library and creates one effect; throws std::runtime_error with a readable
  // message when either fails.
  explicit tPluginHost(const std::string& libraryPath);
  ~tPluginHost();
  tPluginHost(const tPluginHost&) = delete;
  tPluginHost& operator=(const tPluginHost&) = delete;

  AEffect* Effect() const { return effect; }
  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) const;

  int32_t ParameterCount() const { return effect->numParams; }
  std::string ParameterName(int32_t index) const;     // trailing spaces removed
  std::string ParameterDisplay(int32_t index) const;  // trailing spaces removed
  float GetParameter(int32_t index) const { return effect->getParameter(effect, index); }
  void SetParameter(int32_t index, float value) const { effect->setParameter(effect, index, value); }
  // Index of a parameter by name, case-insensitive; -1 when there is none.
  int32_t FindParameter(const std::string& name) const;

  // Rate, block size and mains on, as hosts do before processing.
  void Start(float rateHz, int32_t blockSize) const;
  void Stop() const;
  // Processes mono `input` into two channels, `blockSize` samples at a time.
  void Render(const std::vector<float>& input, std::vector<float>& left,
              std::vector<float>& right, int32_t blockSize,
              void (*progress)(size_t done, size_t total) = nullptr) const;

 private:
  void* library = nullptr;
  AEffect* effect = nullptr;
};

// The plug-in built beside the running executable.
std::string DefaultPluginPath();

}  // namespace vm
