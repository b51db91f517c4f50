// A voice's vibrato offsets: a raised cosine of `depth` samples peak to peak over the half
// period `half`, entry j = float((0.5 - cos(j pi / half) / 2) x depth + 1e-23) for j in
// 0..half.
//
// The table is sized once per sample rate for the slowest vibrato and rebuilt on the audio
// thread whenever a voice takes a new shape. A rebuild only records the shape; entries are
// filled lazily, 256 at a time, when a walk is about to read them, so a change costs what
// the walks read before the next change, not the whole table. The entries come out bit for
// bit as the formula above evaluated with the library cosine (RaisedCosine).
//
// Past the current half the table keeps the previous shape, as an array rebuilt in place
// would: the first swing after a set-up still runs to the previous turning point. Both
// shapes are kept, and a shape that had to grow the table (capacity rule of
// kTableGrowth) drops the previous one, as a freshly allocated table would hold zeros.
#pragma once

#include <cstdint>
#include <memory>

namespace vm {

// One raised-cosine shape and the rotations that step its cosines along: by r entries,
// r = 1..8 (cos and sin of r pi / half).
struct tRaisedCosineShape {
  tRaisedCosineShape() = default;
  tRaisedCosineShape(int32_t depth, int32_t half);
  int32_t depth = -1;
  int32_t half = -1;  // -1: no shape
  double stepCos[9] = {}, stepSin[9] = {};
};

// The table entries j = first..last of a shape, bit for bit the library-cosine formula,
// with two library calls instead of one per entry: the cosines come from rotations started
// at `first`, and the few entries whose float rounding the rotations' error could change
// are recomputed with the library cosine.
void RaisedCosine(float* out, int32_t first, int32_t last, const tRaisedCosineShape& shape);

// The reference: one library cosine per entry.
float RaisedCosineEntry(int32_t j, int32_t depth, int32_t half);

class tVibratoTable {
 public:
  static constexpr int32_t kSegmentShift = 8;
  static constexpr int32_t kSegment = 1 << kSegmentShift;  // entries filled at once

  // Room for `entries` (a half period of the slowest vibrato, plus one); drops every
  // shape. Allocates: never on the audio thread.
  void Allocate(int32_t entries);
  // More room, keeping the shapes (a higher sample rate). A table never shrinks: after a
  // lower rate the first swing may still turn at a turning point of the higher one.
  void Grow(int32_t entries);
  int32_t Capacity() const { return capacity; }

  // Takes the shape (depth, half); the old one stays readable past `half` unless the
  // table had to grow. Nothing is computed yet. Unchanged shapes are not rebuilt.
  void Rebuild(int32_t depth, int32_t half);
  int32_t Depth() const { return current.depth; }
  int32_t Half() const { return current.half; }

  // Entries first..last (limited to the table) are ready to read afterwards.
  void Prepare(int32_t first, int32_t last) const {
    if (last >= capacity) last = capacity - 1;
    if (first > last) first = last;  // a read past the end takes the last entry
    if (first < 0) first = 0;
    if (last < 0) last = 0;
    // Both are entries now (0 or more): the segments by a shift. A walk's reads of one
    // chunk mostly lie in one segment.
    const int32_t firstSegment = first >> kSegmentShift, lastSegment = last >> kSegmentShift;
    if (firstSegment == lastSegment) {
      if (!Built(firstSegment)) Fill(firstSegment);
      return;
    }
    for (int32_t s = firstSegment; s <= lastSegment; ++s)
      if (!Built(s)) Fill(s);
  }
  const float* Entries() const { return entries.get(); }

  // Tables of voices that always take the same shapes (same speed, same depth factor)
  // share what they filled: a segment another member filled for the same two shapes is
  // copied instead of computed. Members form a ring through `nextTwin`.
  void JoinTwins(tVibratoTable& other);

 private:
  using tShape = tRaisedCosineShape;
  void Fill(int32_t segment) const;
  void MarkAllUnbuilt();

  int32_t capacity = 0;
  int32_t segments = 0;
  // Capacity an array grown by the rule "at least half + 1, a quarter more when it grows"
  // would have: when a shape would have grown it, the older shape is gone.
  int32_t grownCapacity = 0;
  tShape current, previous;
  // The entries are a cache of the two shapes: filling them changes nothing a reader sees.
  std::unique_ptr<float[]> entries;
  mutable std::unique_ptr<uint64_t[]> built;  // bit per segment: filled for these shapes
  tVibratoTable* nextTwin = this;
  bool Built(int32_t segment) const { return (built[segment >> 6] >> (segment & 63)) & 1u; }
  bool SameShapes(const tVibratoTable& other) const {
    return current.depth == other.current.depth && current.half == other.current.half &&
           previous.depth == other.previous.depth && previous.half == other.previous.half &&
           capacity == other.capacity;
  }
};

}  // namespace vm
