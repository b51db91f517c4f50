// Rounding rules and the floating-point mode shared by every layer.
//
// Every real-to-integer conversion the system calls "rounded" goes to the nearest
// integer with ties to the even one (2.5 -> 2, 3.5 -> 4); "truncated" goes toward zero.
// Both work in the processor's default rounding mode, which SetFloatControl() re-asserts
// on entry to every host- or control-facing operation.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace vm {

// Nearest integer, ties to even, saturated to the int32 range (NaN gives 0) so that no
// value can make the conversion undefined.
inline int32_t nearest(double v) {
  if (!(v == v)) return 0;
  const double r = std::nearbyint(v);  // default mode: to nearest, ties to even
  if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

// Truncation toward zero, saturated like nearest().
inline int32_t truncated(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Nearest integer, ties to even, for values known to lie well inside the int32 range (ring
// offsets, table positions): one conversion instruction under the rounding mode that
// SetFloatControl() selects.
inline int32_t nearestInRange(float v) {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
  return _mm_cvt_ss2si(_mm_set_ss(v));
#else
  return static_cast<int32_t>(std::nearbyint(v));
#endif
}

// The same for a double: one conversion instruction, ties to even under the rounding mode
// that SetFloatControl() selects, as nearest() but for values known to lie inside the
// int32 range.
inline int32_t nearestInRangeDouble(double v) {
#if defined(__SSE2__) || defined(_M_X64)
  return _mm_cvtsd_si32(_mm_set_sd(v));
#else
  return static_cast<int32_t>(std::nearbyint(v));
#endif
}

// All floating-point exceptions masked, rounding to nearest: a division by zero gives an
// infinity, never a trap. Cheap enough (a register read, a write only when something
// changed it) to run on entry to every block.
inline void SetFloatControl() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
  // MXCSR: bits 7..12 mask the six exceptions; bits 13..14 = 00 select round-to-nearest.
  constexpr unsigned kAllMasked = 0x1F80u;
  constexpr unsigned kRoundingBits = 0x6000u;
  // Written only when a host left it otherwise: the write costs more than the read, and the
  // audio thread sets it at every block.
  const unsigned now = _mm_getcsr();
  const unsigned wanted = (now | kAllMasked) & ~kRoundingBits;
  if (wanted != now) _mm_setcsr(wanted);
#endif
}

}  // namespace vm
