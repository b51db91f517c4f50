#if !defined(_WIN32)
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "Platform.h"

#if defined(VM_VALIDATOR_X11)
#include <X11/Xlib.h>
#endif

namespace vm {

tPluginEntry LoadPluginEntry(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    error = why ? why : "dlopen failed";
    return nullptr;
  }
  void* symbol = dlsym(library, "main");
  if (!symbol) error = "no symbol 'main' in " + path;
  return reinterpret_cast<tPluginEntry>(symbol);
}

size_t ResidentBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  unsigned long totalPages = 0, residentPages = 0;
  const int read = std::fscanf(statm, "%lu %lu", &totalPages, &residentPages);
  std::fclose(statm);
  return read == 2 ? residentPages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

#if defined(VM_VALIDATOR_X11)
tHostWindow::tHostWindow() {
  Display* x = XOpenDisplay(nullptr);
  if (!x) return;
  display = x;
  const int screen = DefaultScreen(x);
  const Window window = XCreateSimpleWindow(x, RootWindow(x, screen), 0, 0, 828, 423, 0,
                                            BlackPixel(x, screen), WhitePixel(x, screen));
  XMapWindow(x, window);
  XSync(x, False);
  native = reinterpret_cast<void*>(window);
}

tHostWindow::~tHostWindow() {
  if (!display) return;
  Display* x = static_cast<Display*>(display);
  if (native) XDestroyWindow(x, reinterpret_cast<Window>(native));
  XCloseDisplay(x);
}

void tHostWindow::Pump() {
  if (!display) return;
  Display* x = static_cast<Display*>(display);
  XSync(x, False);
  while (XPending(x) > 0) {
    XEvent event;
    XNextEvent(x, &event);
  }
}
#else
tHostWindow::tHostWindow() = default;
tHostWindow::~tHostWindow() = default;
void tHostWindow::Pump() {}
#endif

}  // namespace vm
#endif
