// Thin wrappers around the stb libraries, so that only StbImpl.cpp includes them.
#pragma once

#include <memory>
#include <vector>

namespace vm::stb {

struct FontInfo {
  // stbtt_fontinfo, freed with the last copy: a plug-in library is loaded and unloaded
  // many times in one host process, so nothing may outlive its statics.
  std::shared_ptr<void> handle;
  int unitsPerEm = 0;
  int winAscent = 0;   // font units above the baseline in a Windows text cell
  int winDescent = 0;  // font units below it
  float emScale = 0;   // pixels per font unit for a 1-pixel em
};

struct Glyph {
  int left = 0;  // offset of the coverage box from the pen position, pixels
  int top = 0;   // offset from the baseline (negative is up)
  int width = 0;
  int height = 0;
  std::vector<unsigned char> coverage;  // 0..255 per pixel, rows top to bottom
};

bool InitFont(FontInfo& info, const unsigned char* data);
int Advance(const FontInfo& info, int codepoint);  // font units
Glyph Render(const FontInfo& info, int codepoint, float scale);
bool WritePng(const char* path, int width, int height, const unsigned char* rgba);

}  // namespace vm::stb
