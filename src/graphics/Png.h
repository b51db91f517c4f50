// PNG output of bitmaps, for tests and for people to look at.
#pragma once

#include <string>

namespace vm {

class TBitmap;

// Writes the bitmap as 8-bit RGBA (alpha as stored); false when the file cannot be written.
bool SavePng(const TBitmap& bitmap, const std::string& path);
// Writes into the folder named by VM_SNAPSHOT_DIR (created if missing) as <name>.png;
// does nothing and returns false when the variable is unset.
bool SaveSnapshot(const TBitmap& bitmap, const std::string& name);

}  // namespace vm
