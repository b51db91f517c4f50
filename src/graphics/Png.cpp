#include "graphics/Png.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "graphics/Bitmap.h"
#include "graphics/StbGlue.h"

namespace vm {

bool SavePng(const TBitmap& bitmap, const std::string& path) {
  if (bitmap.Empty()) return false;
  std::vector<unsigned char> rgba;
  rgba.reserve(bitmap.Pixels().size() * 4);
  for (TPixel p : bitmap.Pixels()) {
    rgba.push_back(static_cast<unsigned char>(p >> 16));
    rgba.push_back(static_cast<unsigned char>(p >> 8));
    rgba.push_back(static_cast<unsigned char>(p));
    rgba.push_back(static_cast<unsigned char>(p >> 24));
  }
  return stb::WritePng(path.c_str(), bitmap.Width(), bitmap.Height(), rgba.data());
}

bool SaveSnapshot(const TBitmap& bitmap, const std::string& name) {
  const char* dir = std::getenv("VM_SNAPSHOT_DIR");
  if (dir == nullptr || *dir == 0) return false;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  return SavePng(bitmap, (std::filesystem::path(dir) / (name + ".png")).string());
}

}  // namespace vm
