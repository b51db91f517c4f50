// The little the validator needs from the operating system: the plug-in's entry point,
// the resident memory of this process and a real parent window for the editor.
#pragma once

#include <cstddef>
#include <string>

#include "vst/VstAbi.h"

namespace vm {

using tPluginEntry = AEffect* (*)(audioMasterCallback);

// Loads the library and finds its `main`; null (with `error` set) when either fails.
tPluginEntry LoadPluginEntry(const std::string& path, std::string& error);

// Resident set size in bytes; 0 where it cannot be read.
size_t ResidentBytes();

// A top-level window to open the editor into. Native() is null when no display exists.
class tHostWindow {
 public:
  tHostWindow();
  ~tHostWindow();
  tHostWindow(const tHostWindow&) = delete;
  tHostWindow& operator=(const tHostWindow&) = delete;
  void* Native() const { return native; }
  // Lets the window system deliver pending events (expose, map) to the editor.
  void Pump();

 private:
  void* display = nullptr;
  void* native = nullptr;
};

}  // namespace vm
