// The one translation unit that compiles the stb single-header libraries (TrueType
// rasteriser and PNG writer). Their own warnings are silenced here only.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb_truetype.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBIW_WINDOWS_UTF8
#include <stb_image_write.h>

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include <algorithm>

#include "graphics/StbGlue.h"

namespace vm::stb {

bool InitFont(FontInfo& info, const unsigned char* data) {
  auto owned = std::make_shared<stbtt_fontinfo>();
  stbtt_fontinfo* font = owned.get();
  if (!stbtt_InitFont(font, data, stbtt_GetFontOffsetForIndex(data, 0))) return false;
  info.handle = owned;
  info.unitsPerEm = ttUSHORT(font->data + font->head + 18);
  // Windows cell metrics come from the OS/2 table (usWinAscent, usWinDescent).
  const stbtt_uint32 os2 = stbtt__find_table(font->data, font->fontstart, "OS/2");
  if (os2 != 0) {
    info.winAscent = ttUSHORT(font->data + os2 + 74);
    info.winDescent = ttUSHORT(font->data + os2 + 76);
  } else {
    int ascent, descent, lineGap;
    stbtt_GetFontVMetrics(font, &ascent, &descent, &lineGap);
    info.winAscent = ascent;
    info.winDescent = -descent;
  }
  info.emScale = stbtt_ScaleForMappingEmToPixels(font, 1.0f);
  return true;
}

int Advance(const FontInfo& info, int codepoint) {
  int advance, lsb;
  stbtt_GetCodepointHMetrics(static_cast<stbtt_fontinfo*>(info.handle.get()), codepoint, &advance, &lsb);
  return advance;
}

Glyph Render(const FontInfo& info, int codepoint, float scale) {
  Glyph g;
  auto* font = static_cast<stbtt_fontinfo*>(info.handle.get());
  int x0, y0, x1, y1;
  stbtt_GetCodepointBitmapBox(font, codepoint, scale, scale, &x0, &y0, &x1, &y1);
  g.left = x0;
  g.top = y0;
  g.width = std::max(0, x1 - x0);
  g.height = std::max(0, y1 - y0);
  g.coverage.assign(static_cast<size_t>(g.width) * g.height, 0);
  if (g.width > 0 && g.height > 0)
    stbtt_MakeCodepointBitmap(font, g.coverage.data(), g.width, g.height, g.width, scale, scale, codepoint);
  return g;
}

bool WritePng(const char* path, int width, int height, const unsigned char* rgba) {
  return stbi_write_png(path, width, height, 4, rgba, width * 4) != 0;
}

}  // namespace vm::stb
