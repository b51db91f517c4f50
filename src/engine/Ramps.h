// The two smooth movements of the engine's changes: a value gliding linearly to a new
// target, and a raised-cosine crossfade curve (no corner at either end, so a fade adds no
// step to the signal's slope).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>

namespace vm {

// A value that moves linearly to its target over a given number of samples, one step per
// Next(). Settled, it is exactly its target.
class tGlide {
 public:
  void Jump(float v) {
    value = target = v;
    remaining = 0;
  }
  // Glides from wherever it is; a target it already has changes nothing.
  void MoveTo(float v, int32_t samples) {
    if (v == target && (remaining > 0 || value == v)) return;
    target = v;
    if (samples <= 0 || value == v) {
      Jump(v);
      return;
    }
    step = (v - value) / static_cast<float>(samples);
    remaining = samples;
  }
  void Settle() { Jump(target); }
  bool Moving() const { return remaining > 0; }
  float Value() const { return value; }
  float Target() const { return target; }
  float Next() {
    if (remaining > 0) {
      value += step;
      if (--remaining == 0) value = target;
    }
    return value;
  }

 private:
  float value = 0.0f, target = 0.0f, step = 0.0f;
  int32_t remaining = 0;
};

// Weights 0..1 of a crossfade of `length` samples: Weight(i) = (1 - cos(pi i / length)) / 2,
// so Weight(0) = 0 and Weight(length) = 1.
class tFadeCurve {
 public:
  void Allocate(int32_t samples) {
    length = samples < 1 ? 1 : samples;
    weights = std::make_unique<float[]>(static_cast<size_t>(length) + 1);
    for (int32_t i = 0; i <= length; ++i)
      weights[i] = static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * i / length));
    weights[length] = 1.0f;
  }
  int32_t Length() const { return length; }
  float Weight(int32_t i) const { return weights[i]; }
  const float* Weights() const { return weights.get(); }

 private:
  int32_t length = 0;
  std::unique_ptr<float[]> weights;
};

}  // namespace vm
