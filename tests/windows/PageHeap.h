// A page heap for one loaded DLL: its C runtime heap imports (malloc, calloc, realloc,
// free) are pointed at allocators that give every block pages of its own, ending just
// before an inaccessible page, and take the pages away when the block is freed. Address
// ranges are never handed out twice, so a read or write through a freed or overrun
// pointer faults at once instead of touching memory that happens to be there.
#pragma once

#include <cstddef>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace vm {

// Rewrites the module's import address table entries of the C runtime's four heap
// functions. False (with `error` set) when the module imports none of them from a C
// runtime DLL or the table cannot be written. Call once per module, before any of its
// code other than its DllMain has run.
bool RedirectHeapOf(HMODULE module, std::string& error);

struct tPageHeapCounts {
  size_t blocksMade;   // by the redirected allocators since the first redirect
  size_t blocksFreed;  // of those
};
tPageHeapCounts PageHeapCounts();

// Allocates and frees a block through the page heap and tells whether its page became
// inaccessible: evidence that a use after free would fault.
bool FreedBlocksFault();

}  // namespace vm
