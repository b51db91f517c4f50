// Radix-2 fast Fourier transforms on float32 arrays, in place: the spectra the formant
// shifter reshapes. Forward transforms use the positive exponent e^(+2 pi i j k / N); the
// inverse uses the negative one and does not scale (a round trip multiplies by Half).
//
// Packed real spectrum of N = 2 * Half samples: [0] DC, [1] Nyquist, [2k], [2k + 1] the
// real and imaginary part of X(k) for k = 1 .. N/2 - 1. None of the routines checks sizes:
// NN and Half must be powers of two (Half at least 2), or they run past the array.
#pragma once

#include <cstdint>
#include <vector>

namespace vm {

// The twiddle factors of every stage of the transforms below, for sizes up to a maximum,
// computed once by the same recurrence (and so to the same float values) that the
// table-free routines run stage by stage. With a table the transforms skip the sines and
// the serial recurrence, and give bit-identical results.
class tTwiddleTable {
 public:
  // Fills the table for complex transforms of up to MaxHalf values and real ones of up to
  // 2 * MaxHalf samples (MaxHalf a power of two, at least 2). Allocates: off the audio thread.
  void Build(int32_t MaxHalf);
  int32_t MaxHalf() const { return maxHalf; }
  // The span / 2 factors (wr, wi) of the stage whose butterflies are `span` floats apart
  // (a power of two, 2 .. 2 * MaxHalf), for exponent sign Sign.
  const float* Stage(int32_t span, int32_t Sign) const {
    return (Sign > 0 ? forward : inverse).data() + (span - 2);
  }
  // The bit-reversal permutation of NN complex values (NN a power of two, 2 .. MaxHalf) as
  // the float offsets (i, j), i < j, of the pairs it swaps, in the order the loop swaps them.
  const int32_t* Swaps(int32_t NN, int32_t& count) const;

 private:
  int32_t maxHalf = 0;
  std::vector<float> forward;  // stage of span s at float offset s - 2: s / 2 (wr, wi) pairs
  std::vector<float> inverse;  // the same for the negative exponent
  std::vector<int32_t> swaps;  // every size's swapped pairs, sizes in ascending order
  std::vector<int32_t> swapStart;  // per log2(NN): first entry in swaps; one more at the end
};

// Transforms the NN interleaved complex values of Data in place; Sign +1 forward, -1 inverse.
void ComplexFFT(float* Data, int32_t NN, int32_t Sign);
// The same with the factors read from Twiddles; falls back to the recurrence when NN is
// beyond the table.
void ComplexFFT(float* Data, int32_t NN, int32_t Sign, const tTwiddleTable& Twiddles);

// Sign +1: replaces the 2 * Half real samples by their packed spectrum. Sign -1: replaces
// a packed spectrum by Half times the real sequence that has it.
void RealFFT(float* Data, int32_t Half, int32_t Sign);
void RealFFT(float* Data, int32_t Half, int32_t Sign, const tTwiddleTable& Twiddles);

// Moves the Nyquist term from Data[1] to Data[N] (Data[N + 1] := 0, Data[1] := 0), giving
// N/2 + 1 complex values; Data must hold N + 2 floats.
void UnpackSpectrum(float* Data, int32_t N);

// Moves the Nyquist term back from Data[N] to Data[1]; Data[N], Data[N + 1] keep their values.
void PackSpectrum(float* Data, int32_t N);

}  // namespace vm
