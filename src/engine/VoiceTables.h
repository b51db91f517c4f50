// The constant per-voice tables of the ensemble: row i belongs to voice i, except
// timingTable, which is indexed through sectionOrder (one row per Section setting).
#pragma once

#include <array>
#include <cstdint>

namespace vm {

inline constexpr int kMaxClones = 32;

using tVoiceFloats = std::array<float, kMaxClones>;

// Speed factor of each voice's vibrato rate and level-ramp length (around 0.65).
inline constexpr tVoiceFloats speedTable = {
    0.65f, 0.65f, 0.65f, 0.53f, 0.53f, 0.53f, 0.8f,  0.8f,  0.49f, 0.49f, 0.9f,
    0.9f,  0.41f, 0.56f, 0.75f, 1.0f,  0.38f, 0.38f, 0.38f, 0.47f, 0.47f, 0.47f,
    0.72f, 0.72f, 0.34f, 0.34f, 0.95f, 0.95f, 0.38f, 0.4f,  0.7777f, 0.92f};

// Start phase of the vibrato walk and level ramp: phaseTableA + phaseTableB, wrapped.
inline constexpr tVoiceFloats phaseTableA = {
    0.0f, 1.0f / 3, 2.0f / 3, 0.0f, 1.0f / 3, 2.0f / 3, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f,
    0.5f, 0.0f,     0.0f,     0.0f, 0.0f,     0.0f,     1.0f / 3, 2.0f / 3, 0.0f, 1.0f / 3,
    2.0f / 3, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f};
inline constexpr tVoiceFloats phaseTableB = {
    0.3f, 0.3f, 0.3f, 0.5f, 0.5f, 0.5f, 0.7f, 0.7f, 0.2f, 0.2f, 0.6f,
    0.6f, 0.9f, 0.7f, 0.5f, 0.3f, 0.1f, 0.1f, 0.1f, 0.8f, 0.8f, 0.8f,
    0.3f, 0.3f, 0.5f, 0.5f, 0.9f, 0.9f, 0.2f, 0.4f, 0.6f, 0.8f};

// Per-voice factor on the vibrato depth.
inline constexpr tVoiceFloats vibScaleTable = {
    1.0f, 1.0f,  1.0f,  1.1f,  1.1f, 1.1f,  0.9f, 0.9f, 1.05f, 1.05f, 0.95f,
    0.95f, 0.85f, 0.8f, 0.95f, 0.9f, 0.75f, 0.75f, 0.75f, 0.8f, 0.8f, 0.8f,
    0.85f, 0.85f, 0.9f, 0.9f, 1.0f, 1.0f, 1.1f, 1.15f, 1.2f, 1.25f};

// Delay positions in thousandths of the Timing span (0: the 1 ms minimum).
inline constexpr std::array<int32_t, kMaxClones> timingTable = {
    0,   1000, 477, 337, 696, 146, 400, 890, 214, 530, 75,  789, 278, 431, 610, 375,
    20,  950,  497, 357, 716, 166, 420, 910, 234, 550, 95,  809, 298, 451, 630, 395};

// For each voice order A..D (Section 0..3), voice i's position into timingTable.
using tOrderRow = std::array<int8_t, kMaxClones>;
inline constexpr std::array<tOrderRow, 4> sectionOrder = {{
    {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
     16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31},
    {31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
     15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1,  0},
    {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
     0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15},
    // 14 down to 0, then 31 down to 15: not the plain reverse of order C.
    {14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1,  0,  31,
     30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15}}};

// Which sections a Split setting lets sing: 0 unison, 1 bass, 2 alto, 3 bass and
// unison, 4 unison and alto, 5 all three.
struct tSplitSections {
  bool bass, unison, alto;
};
constexpr tSplitSections SectionsOf(int32_t split) {
  return {split == 1 || split == 3 || split == 5, split == 0 || (split >= 3 && split <= 5),
          split == 2 || split == 4 || split == 5};
}

}  // namespace vm
