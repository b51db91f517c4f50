// A synthetic sung vowel for the demo: a glottal pulse train (Rosenberg pulses) with a
// natural vibrato and a small melody, shaped by three formant resonators of an "ah".
#pragma once

#include <vector>

namespace vm {

// About six seconds of mono audio at `rateHz`, peak about 0.5.
std::vector<float> SynthesizeDemoVoice(int rateHz);

}  // namespace vm
