// Where the validator's decisions come from: a seeded generator for reproducible random
// runs, or the bytes of a fuzz input (read little-endian, zeros once they run out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vm {

class tCallSource {
 public:
  virtual ~tCallSource() = default;
  virtual uint32_t Next32() = 0;
  // True once a byte source has nothing left; a seeded source never runs out.
  virtual bool Exhausted() const { return false; }

  uint32_t Below(uint32_t n) { return n ? Next32() % n : 0; }
  int32_t Between(int32_t lo, int32_t hi) {  // lo..hi inclusive
    return lo + static_cast<int32_t>(Below(static_cast<uint32_t>(hi - lo) + 1));
  }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  float Unit() { return static_cast<float>(Next32() >> 8) * (1.0f / 16777216.0f); }
  float RawFloat() {
    const uint32_t bits = Next32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
};

// splitmix64: tiny, fast and well mixed; the seed alone fixes the whole run.
class tSeededSource final : public tCallSource {
 public:
  explicit tSeededSource(uint64_t seed) : state(seed) {}
  uint32_t Next32() override {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
  }

 private:
  uint64_t state;
};

class tByteSource final : public tCallSource {
 public:
  tByteSource(const uint8_t* data, size_t size) : data(data), size(size) {}
  uint32_t Next32() override {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i, ++pos)
      if (pos < size) value |= static_cast<uint32_t>(data[pos]) << (8 * i);
    return value;
  }
  bool Exhausted() const override { return pos >= size; }

 private:
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
};

}  // namespace vm
