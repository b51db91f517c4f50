#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>

#include "Platform.h"

namespace vm {

tPluginEntry LoadPluginEntry(const std::string& path, std::string& error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library) {
    error = "LoadLibrary failed for " + path;
    return nullptr;
  }
  FARPROC symbol = GetProcAddress(library, "main");
  if (!symbol) error = "no export 'main' in " + path;
  return reinterpret_cast<tPluginEntry>(reinterpret_cast<void*>(symbol));
}

size_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.WorkingSetSize;
}

tHostWindow::tHostWindow() {
  HWND window = CreateWindowExA(0, "STATIC", "validator", WS_OVERLAPPEDWINDOW, 0, 0, 828, 423,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  native = window;
}

tHostWindow::~tHostWindow() {
  if (native) DestroyWindow(static_cast<HWND>(native));
}

void tHostWindow::Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace vm
#endif
