#include "PageHeap.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vm {
namespace {

constexpr uintptr_t kPage = 4096;
constexpr uintptr_t kAlignment = 16;                 // what malloc promises on x86-64
constexpr uintptr_t kReservedBytes = uintptr_t{64} << 30;  // address space, never reused
constexpr uint64_t kLiveMagic = 0x6B636F6C42656761ull;  // marks a block header

// Sits right before each block's first byte.
struct tHeader {
  uint64_t magic;
  uint64_t size;  // bytes asked for
};
static_assert(sizeof(tHeader) == kAlignment);

using tRealloc = void* (*)(void*, size_t);
using tFree = void (*)(void*);

// The C runtime's own functions, for blocks that were made before the redirect (during
// the module's start-up) or by the runtime itself.
std::atomic<tRealloc> runtimeRealloc{nullptr};
std::atomic<tFree> runtimeFree{nullptr};

std::atomic<uintptr_t> arenaStart{0};
std::atomic<uintptr_t> arenaNext{0};
std::atomic<size_t> blocksMade{0};
std::atomic<size_t> blocksFreed{0};

uintptr_t RoundUp(uintptr_t value, uintptr_t step) { return (value + step - 1) / step * step; }

bool ReserveArena() {
  if (arenaStart.load()) return true;
  void* base = VirtualAlloc(nullptr, kReservedBytes, MEM_RESERVE, PAGE_NOACCESS);
  if (!base) return false;
  arenaStart = reinterpret_cast<uintptr_t>(base);
  arenaNext = arenaStart.load();
  return true;
}

bool InArena(const void* pointer) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
  const uintptr_t start = arenaStart.load();
  return start != 0 && address >= start && address < start + kReservedBytes;
}

tHeader* HeaderOf(void* block) { return static_cast<tHeader*>(block) - 1; }

// Pages [start, end) of a block: from its header's page to the end of its last byte.
void PagesOf(void* block, uintptr_t& start, uintptr_t& end) {
  const tHeader* header = HeaderOf(block);
  start = reinterpret_cast<uintptr_t>(header) / kPage * kPage;
  end = RoundUp(reinterpret_cast<uintptr_t>(block) + header->size, kPage);
}

// The block ends at a page boundary (rounded to the alignment) and the page after it is
// never committed: an overrun faults on its first bytes past the alignment slack.
void* PageMalloc(size_t size) {
  const uintptr_t used = RoundUp(sizeof(tHeader) + size, kAlignment);
  const uintptr_t pages = RoundUp(used, kPage);
  const uintptr_t start = arenaNext.fetch_add(pages + kPage);  // plus one guard page
  if (start + pages + kPage > arenaStart.load() + kReservedBytes) return nullptr;
  if (!VirtualAlloc(reinterpret_cast<void*>(start), pages, MEM_COMMIT, PAGE_READWRITE))
    return nullptr;
  auto* header = reinterpret_cast<tHeader*>(start + pages - used);
  header->magic = kLiveMagic;
  header->size = size;
  ++blocksMade;
  return header + 1;
}

void PageFree(void* block) {
  if (!block) return;
  if (!InArena(block)) return runtimeFree.load()(block);
  // A second free reads a decommitted header and faults here, which is what it should do.
  if (HeaderOf(block)->magic != kLiveMagic) {
    std::fprintf(stderr, "page heap: free of a pointer it never made: %p\n", block);
    std::abort();
  }
  uintptr_t start = 0, end = 0;
  PagesOf(block, start, end);
  VirtualFree(reinterpret_cast<void*>(start), end - start, MEM_DECOMMIT);
  ++blocksFreed;
}

void* PageCalloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  return PageMalloc(count * size);  // committed pages are zero
}

void* PageRealloc(void* block, size_t size) {
  if (!block) return PageMalloc(size);
  if (!InArena(block)) return runtimeRealloc.load()(block, size);
  if (size == 0) {
    PageFree(block);
    return nullptr;
  }
  void* moved = PageMalloc(size);
  if (!moved) return nullptr;
  const size_t kept = HeaderOf(block)->size < size ? HeaderOf(block)->size : size;
  std::memcpy(moved, block, kept);
  PageFree(block);
  return moved;
}

bool IsRuntimeDll(const char* name) {
  return _stricmp(name, "msvcrt.dll") == 0 || _strnicmp(name, "ucrtbase", 8) == 0 ||
         _strnicmp(name, "api-ms-win-crt-heap", 19) == 0;
}

// The replacement for one imported name; null for names left alone.
void* Replacement(const char* name) {
  if (std::strcmp(name, "malloc") == 0) return reinterpret_cast<void*>(&PageMalloc);
  if (std::strcmp(name, "calloc") == 0) return reinterpret_cast<void*>(&PageCalloc);
  if (std::strcmp(name, "realloc") == 0) return reinterpret_cast<void*>(&PageRealloc);
  if (std::strcmp(name, "free") == 0) return reinterpret_cast<void*>(&PageFree);
  return nullptr;
}

void RememberRuntime(const char* name, void* original) {
  if (std::strcmp(name, "realloc") == 0) runtimeRealloc = reinterpret_cast<tRealloc>(original);
  if (std::strcmp(name, "free") == 0) runtimeFree = reinterpret_cast<tFree>(original);
}

bool WriteSlot(ULONG_PTR* slot, void* value) {
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
  *slot = reinterpret_cast<ULONG_PTR>(value);
  VirtualProtect(slot, sizeof *slot, previous, &previous);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
  return true;
}

// Walks one imported DLL's name table and address table side by side.
int RedirectDescriptor(BYTE* base, const IMAGE_IMPORT_DESCRIPTOR& imports, bool& writeFailed) {
  auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
      base + (imports.OriginalFirstThunk ? imports.OriginalFirstThunk : imports.FirstThunk));
  auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports.FirstThunk);
  int redirected = 0;
  for (; names->u1.AddressOfData != 0; ++names, ++slots) {
    if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
    const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
    const char* name = reinterpret_cast<const char*>(byName->Name);
    void* replacement = Replacement(name);
    if (!replacement) continue;
    RememberRuntime(name, reinterpret_cast<void*>(slots->u1.Function));
    if (WriteSlot(&slots->u1.Function, replacement))
      ++redirected;
    else
      writeFailed = true;
  }
  return redirected;
}

}  // namespace

bool RedirectHeapOf(HMODULE module, std::string& error) {
  if (!ReserveArena()) return error = "cannot reserve the page heap's address space", false;
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return error = "the module imports nothing", false;
  int redirected = 0;
  bool writeFailed = false;
  for (auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       imports->Name != 0; ++imports) {
    if (IsRuntimeDll(reinterpret_cast<const char*>(base + imports->Name)))
      redirected += RedirectDescriptor(base, *imports, writeFailed);
  }
  if (writeFailed) return error = "an import address table entry could not be written", false;
  if (redirected < 4 || !runtimeFree.load() || !runtimeRealloc.load())
    return error = "the module does not import malloc, calloc, realloc and free", false;
  return true;
}

tPageHeapCounts PageHeapCounts() { return {blocksMade.load(), blocksFreed.load()}; }

bool FreedBlocksFault() {
  if (!ReserveArena()) return false;
  void* block = PageMalloc(24);
  if (!block) return false;
  std::memset(block, 0x5A, 24);
  PageFree(block);
  MEMORY_BASIC_INFORMATION page{};
  return VirtualQuery(block, &page, sizeof page) == sizeof page && page.State != MEM_COMMIT;
}

}  // namespace vm
