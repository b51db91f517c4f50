// A small Windows host: loads the DLL with LoadLibrary, checks the record, and processes a
// raw mono float file into a raw interleaved stereo float file with the same settings as
// the Linux side of the comparison. Runs under wine.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "vst/VstAbi.h"

using namespace vm;

namespace {

intptr_t HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

int Fail(const char* message) {
  std::fprintf(stderr, "wine host: %s\n", message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: winhost PLUGIN.dll INPUT.raw OUTPUT.raw");
  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) return Fail("LoadLibrary failed");
  auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(
      reinterpret_cast<void*>(GetProcAddress(library, "main")));
  if (!entry) return Fail("no export 'main'");
  AEffect* effect = entry(HostCallback);
  if (!effect || effect->magic != kEffectMagic) return Fail("no effect");
  if (effect->numParams != 21 || effect->numPrograms != 1 || effect->numInputs != 1 ||
      effect->numOutputs != 2 || !(effect->flags & effFlagsCanReplacing))
    return Fail("record fields wrong");
  char name[64] = {};
  effect->dispatcher(effect, effGetParamName, 20, 0, name, 0);
  if (std::strcmp(name, "Gain       ") != 0) return Fail("parameter name wrong");

  std::FILE* in = std::fopen(argv[2], "rb");
  if (!in) return Fail("cannot open input");
  std::vector<float> input;
  float sample;
  while (std::fread(&sample, sizeof sample, 1, in) == 1) input.push_back(sample);
  std::fclose(in);

  // The comparison's settings: no random draws, so both builds run alike.
  const struct {
    int index;
    float value;
  } settings[] = {{4, 0}, {17, 0}, {0, 0.3f}, {1, 0.8f}, {13, 0.7f}, {14, 0.1f}};
  for (const auto& s : settings) effect->setParameter(effect, s.index, s.value);
  effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0);
  effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
  effect->dispatcher(effect, effSetBlockSize, 0, 300, nullptr, 0);
  effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0);

  constexpr size_t kBlock = 300;
  std::vector<float> left(input.size()), right(input.size());
  for (size_t start = 0; start < input.size(); start += kBlock) {
    const size_t n = input.size() - start < kBlock ? input.size() - start : kBlock;
    float* inputs[] = {input.data() + start};
    float* outputs[] = {left.data() + start, right.data() + start};
    effect->processReplacing(effect, inputs, outputs, static_cast<int32_t>(n));
  }
  effect->dispatcher(effect, effMainsChanged, 0, 0, nullptr, 0);
  if (effect->dispatcher(effect, effClose, 0, 0, nullptr, 0) != 1) return Fail("effClose did not answer 1");

  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) return Fail("cannot open output");
  for (size_t i = 0; i < left.size(); ++i) {
    std::fwrite(&left[i], sizeof(float), 1, out);
    std::fwrite(&right[i], sizeof(float), 1, out);
  }
  std::fclose(out);
  FreeLibrary(library);
  std::printf("wine host: %zu samples processed\n", left.size());
  return 0;
}
