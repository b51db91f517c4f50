// A small harness around one effect: process a mono signal block by block, read back
// both outputs.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "vst/Voicemultiply.h"

namespace vm::test {

struct tStereo {
  std::vector<float> left, right;
};

inline tStereo Render(tVoicemultiply& effect, const std::vector<float>& input, int block = 256) {
  tStereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
  std::vector<float> in(input);
  for (size_t start = 0; start < input.size(); start += block) {
    const int n = static_cast<int>(std::min<size_t>(block, input.size() - start));
    float* inputs[] = {in.data() + start};
    float* outputs[] = {out.left.data() + start, out.right.data() + start};
    effect.processReplacing(inputs, outputs, n);
  }
  return out;
}

// The effect fed blocks whose sizes cycle through `sizes`: a host that changes its block
// size from one block to the next.
inline tStereo RenderInBlocksOf(tVoicemultiply& effect, const std::vector<float>& input,
                                const std::vector<int>& sizes) {
  tStereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
  std::vector<float> in(input);
  size_t next = 0;
  for (size_t start = 0; start < input.size(); next = (next + 1) % sizes.size()) {
    const int n = static_cast<int>(std::min<size_t>(sizes[next], input.size() - start));
    float* inputs[] = {in.data() + start};
    float* outputs[] = {out.left.data() + start, out.right.data() + start};
    effect.processReplacing(inputs, outputs, n);
    start += static_cast<size_t>(n);
  }
  return out;
}

// Index of the first sample whose bits differ, or -1.
inline long FirstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<long>(i);
  return -1;
}

// The engine takes settings at the start of a block: an empty block applies what the
// store holds, as a host's next block would.
inline void Apply(tVoicemultiply& effect) { effect.processReplacing(nullptr, nullptr, 0); }

inline std::vector<float> Impulse(size_t length, size_t at = 0, float height = 1.0f) {
  std::vector<float> x(length, 0.0f);
  x[at] = height;
  return x;
}

// Settings without any random or moving part: a voice is then a pure delay and gain.
inline void MakeStatic(tVoicemultiply& effect) {
  effect.setParameter(kVibDepth, 0.0f);
  effect.setParameter(kVibRandom, 0.0f);
  effect.setParameter(kDynDepth, 0.0f);
  effect.setParameter(kDynRandom, 0.0f);
}

}  // namespace vm::test
