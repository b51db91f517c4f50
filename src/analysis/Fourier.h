// Radix-2 fast Fourier transforms on float32 arrays, in place: the spectra the formant
// shifter reshapes. Forward transforms use the positive exponent e^(+2 pi i j k / N); the
// inverse uses the negative one and does not scale (a round trip multiplies by Half).
//
// Packed real spectrum of N = 2 * Half samples: [0] DC, [1] Nyquist, [2k], [2k + 1] the
// real and imaginary part of X(k) for k = 1 .. N/2 - 1. None of the routines checks sizes:
// NN and Half must be powers of two (Half at least 2), or they run past the array.
#pragma once

#include <cstdint>

namespace vm {

// Transforms the NN interleaved complex values of Data in place; Sign +1 forward, -1 inverse.
void ComplexFFT(float* Data, int32_t NN, int32_t Sign);

// Sign +1: replaces the 2 * Half real samples by their packed spectrum. Sign -1: replaces
// a packed spectrum by Half times the real sequence that has it.
void RealFFT(float* Data, int32_t Half, int32_t Sign);

// Moves the Nyquist term from Data[1] to Data[N] (Data[N + 1] := 0, Data[1] := 0), giving
// N/2 + 1 complex values; Data must hold N + 2 floats.
void UnpackSpectrum(float* Data, int32_t N);

// Moves the Nyquist term back from Data[N] to Data[1]; Data[N], Data[N + 1] keep their values.
void PackSpectrum(float* Data, int32_t N);

}  // namespace vm
