// A Windows host that checks what is left of the editor windows once their effects are
// closed, run under wine on a virtual X server. The DLL's heap goes to a page heap, so a
// window or callback that touches a freed object faults at once. Several effects open
// their editors into real top-level windows and are closed in the way the scenario
// names; right after the closes no window of the process may run a procedure inside the
// DLL, and the GUI thread's messages are pumped (while the mouse keeps moving over the
// editors) with the DLL loaded and after it is unloaded.
// Exit status 0 when every check holds; a fault ends the program at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "PageHeap.h"
#include "vst/VstAbi.h"

using namespace vm;

namespace {

struct tScenario {
  const char* name;
  bool hostWindowFirst;     // the host's window destroyed before effClose
  bool editorClosedFirst;   // effEditClose before effClose
  bool closedOnWorker;      // effClose from a thread that made no window
  bool pumpedDuringClose;   // the GUI thread dispatches mouse messages meanwhile, or waits
  bool pumpedBeforeUnload;  // messages pumped with the DLL still loaded
  int rounds;               // of opening and closing effects before the DLL is unloaded
};

// A close racing the GUI thread's dispatching finds it inside a window procedure only
// part of the time: that case gets more rounds.
constexpr tScenario kScenarios[] = {
    {"closed-first", false, true, false, false, true, 1},
    {"still-open", false, false, false, false, true, 1},
    {"host-window-first", true, false, false, false, true, 1},
    {"worker", false, false, true, true, true, 6},
    {"worker-unload", false, false, true, false, false, 1},
};

constexpr int kEffects = 3;
constexpr int kWidth = 828;
constexpr int kHeight = 423;
int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "wine lifetime host: %s\n", what.c_str());
  ++failures;
}

intptr_t HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

HWND MakeTopLevel(int index) {
  WNDCLASSW description{};
  description.lpfnWndProc = DefWindowProcW;
  description.hInstance = GetModuleHandleW(nullptr);
  description.lpszClassName = L"VmLifetimeTestHost";
  RegisterClassW(&description);  // fails harmlessly after the first time
  // Without a frame and never activated: wine waits up to 2 s for a window manager on the
  // destruction of a window it thinks one manages, and the virtual X server runs none.
  HWND window = CreateWindowW(L"VmLifetimeTestHost", L"host", WS_POPUP, 40 * index, 30 * index,
                              kWidth, kHeight, nullptr, nullptr, description.hInstance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

// Short drags over the Gain knob, posted so that they arrive through the message loop.
// Each ends in a release, which writes the form's values into the effect.
void PostDrag(HWND editor, int step) {
  constexpr int kStepsPerDrag = 4;
  const int cx = 704 + 52, cy = 295 + 52;
  const int dx = (step % 20) - 10;
  if (step % kStepsPerDrag == 0)
    PostMessageW(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy - 30));
  PostMessageW(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx + dx, cy - 25));
  if (step % kStepsPerDrag == kStepsPerDrag - 1)
    PostMessageW(editor, WM_LBUTTONUP, 0, MAKELPARAM(cx + dx, cy - 25));
}

std::atomic<int> messagesDispatched{0};  // by the GUI thread

void PumpOnce() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    ++messagesDispatched;
  }
}

// Returns once the GUI thread has dispatched `count` more messages (or after 5 s).
void WaitForDispatches(int count) {
  const int target = messagesDispatched.load() + count;
  for (int waited = 0; messagesDispatched.load() < target && waited < 5000; ++waited) Sleep(1);
}

// Pumps until `done` holds or `milliseconds` have passed, dragging over every editor
// window that still exists and repainting it whole, so that the GUI thread spends most
// of its time inside the editors' window procedures.
template <class Done>
void PumpWhileDragging(const std::vector<HWND>& editors, int milliseconds, Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (int step = 0; !done() && std::chrono::steady_clock::now() < end; ++step) {
    for (HWND editor : editors)
      if (IsWindow(editor)) {
        PostDrag(editor, step);
        InvalidateRect(editor, nullptr, FALSE);
      }
    PumpOnce();
  }
}

void PumpFor(const std::vector<HWND>& editors, int milliseconds) {
  PumpWhileDragging(editors, milliseconds, [] { return false; });
}

// The loaded image's address range.
struct tImage {
  uintptr_t start = 0, end = 0;
  bool Holds(uintptr_t address) const { return address >= start && address < end; }
};

tImage ImageOf(HMODULE module) {
  auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return {reinterpret_cast<uintptr_t>(base),
          reinterpret_cast<uintptr_t>(base) + nt->OptionalHeader.SizeOfImage};
}

// Every window of this process, top-level and child.
std::vector<HWND> WindowsOfThisProcess() {
  std::vector<HWND> found;
  auto collect = [](HWND window, LPARAM list) -> BOOL {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  };
  EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
  const size_t topLevel = found.size();
  for (size_t i = 0; i < topLevel; ++i) EnumChildWindows(found[i], collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

// No window of the process, alive or waiting for its destruction, may still lead into
// the DLL through its own or its class's procedure.
void CheckNoProcedureInside(const tImage& image) {
  for (HWND window : WindowsOfThisProcess()) {
    const auto procedure = static_cast<uintptr_t>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    const auto classProcedure = static_cast<uintptr_t>(GetClassLongPtrW(window, GCLP_WNDPROC));
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    char narrow[64] = {};
    WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
    Check(!image.Holds(procedure), std::string("a window of class ") + narrow +
                                       " still has its procedure inside the DLL");
    Check(!image.Holds(classProcedure),
          std::string("the class ") + narrow + " still names a procedure inside the DLL");
  }
}

struct tOpenEffect {
  AEffect* effect = nullptr;
  HWND host = nullptr;
  HWND editor = nullptr;
};

std::vector<tOpenEffect> OpenEffects(AEffect* (*entry)(audioMasterCallback)) {
  std::vector<tOpenEffect> opened;
  for (int i = 0; i < kEffects; ++i) {
    tOpenEffect e;
    e.effect = entry(HostCallback);
    if (!e.effect) return Check(false, "no effect"), opened;
    ERect* rect = nullptr;
    e.effect->dispatcher(e.effect, effEditGetRect, 0, 0, &rect, 0);
    e.host = MakeTopLevel(i);
    Check(e.effect->dispatcher(e.effect, effEditOpen, 0, 0, e.host, 0) == 1, "open");
    e.editor = GetWindow(e.host, GW_CHILD);
    Check(e.editor != nullptr, "no editor window in the host's window");
    opened.push_back(e);
  }
  return opened;
}

void CloseEffects(const std::vector<tOpenEffect>& opened, const std::vector<HWND>& editors,
                  const tScenario& scenario) {
  if (scenario.hostWindowFirst)
    for (const tOpenEffect& e : opened) DestroyWindow(e.host);
  if (scenario.editorClosedFirst)
    for (const tOpenEffect& e : opened) e.effect->dispatcher(e.effect, effEditClose, 0, 0, nullptr, 0);
  // Each close from a worker lands while the GUI thread is dispatching, when it does.
  auto closeAll = [&opened, &scenario] {
    for (const tOpenEffect& e : opened) {
      if (scenario.pumpedDuringClose) WaitForDispatches(50);
      Check(e.effect->dispatcher(e.effect, effClose, 0, 0, nullptr, 0) == 1, "effClose");
    }
  };
  if (!scenario.closedOnWorker) return closeAll();
  // Another thread closes the effects while the GUI thread either keeps dispatching the
  // editors' mouse messages or waits for it (so a close that waited on the GUI thread
  // would never end).
  std::atomic<bool> closed{false};
  std::thread worker([&] {
    closeAll();
    closed = true;
  });
  if (scenario.pumpedDuringClose) PumpWhileDragging(editors, 20000, [&] { return closed.load(); });
  worker.join();
}

const tScenario* FindScenario(const char* name) {
  for (const tScenario& s : kScenarios)
    if (std::strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const tScenario* scenario = argc == 3 ? FindScenario(argv[2]) : nullptr;
  if (!scenario) {
    std::fprintf(stderr, "usage: winlifetimehost PLUGIN.dll SCENARIO (one of");
    for (const tScenario& s : kScenarios) std::fprintf(stderr, " %s", s.name);
    std::fprintf(stderr, ")\n");
    return 2;
  }
  Check(FreedBlocksFault(), "the page heap leaves freed blocks accessible");
  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) return std::fprintf(stderr, "LoadLibrary failed\n"), 1;
  std::string error;
  if (!RedirectHeapOf(library, error)) return std::fprintf(stderr, "page heap: %s\n", error.c_str()), 1;
  auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(
      reinterpret_cast<void*>(GetProcAddress(library, "main")));
  if (!entry) return std::fprintf(stderr, "no export 'main'\n"), 1;
  const tImage image = ImageOf(library);

  std::vector<HWND> editors, hosts;  // of every round
  for (int round = 0; round < scenario->rounds; ++round) {
    const std::vector<tOpenEffect> opened = OpenEffects(entry);
    std::vector<HWND> roundEditors;
    for (const tOpenEffect& e : opened) {
      roundEditors.push_back(e.editor);
      editors.push_back(e.editor);
      hosts.push_back(e.host);
    }
    PumpFor(roundEditors, 300);
    Check(PageHeapCounts().blocksMade > 100, "the DLL's allocations do not reach the page heap");
    CloseEffects(opened, roundEditors, *scenario);
    CheckNoProcedureInside(image);
  }
  if (scenario->pumpedBeforeUnload) PumpFor(editors, 500);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(library, path, MAX_PATH);
  FreeLibrary(library);
  Check(GetModuleHandleA(path) == nullptr, "the DLL stayed loaded after FreeLibrary");
  PumpFor(editors, 1000);
  for (HWND host : hosts) DestroyWindow(host);
  PumpFor(editors, 200);

  const tPageHeapCounts counts = PageHeapCounts();
  std::printf("wine lifetime host (%s): %zu blocks made, %zu freed\n", scenario->name,
              counts.blocksMade, counts.blocksFreed);
  if (failures == 0) std::printf("wine lifetime host (%s): all checks hold\n", scenario->name);
  return failures == 0 ? 0 : 1;
}
