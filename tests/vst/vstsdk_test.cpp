// The host binding: the record as a host finds it, the opcode switch and the text helpers.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vst/Voicemultiply.h"
#include "vst/VstAbi.h"

namespace vm {
namespace {

// The smallest effect: the base's behaviour with a record of counts 3 and 2.
class tPlainEffect : public TAudioEffect {
 public:
  tPlainEffect() { Create(nullptr, 3, 2); }
  void process(float**, float**, int32_t) override {}
  void suspend() override { ++suspends; }
  void resume() override { ++resumes; }
  int suspends = 0, resumes = 0;
};

std::string Float2String(float v) {
  tPlainEffect effect;
  char text[32];
  std::memset(text, '#', sizeof text);
  effect.float2string(v, text);
  return text;
}

std::string Long2String(int32_t v) {
  tPlainEffect effect;
  char text[32];
  effect.long2string(v, text);
  return text;
}

TEST(TextHelpers, Float2String) {
  const struct {
    float v;
    const char* text;
  } cases[] = {{0.0f, "0.000000"},  {10000000.0f, "  Huge! "}, {9999999.0f, "9999999"},
               {-1000000.0f, "  Huge! "}, {-999999.0f, "-999999"}, {1.0f, "1"},
               {16.0f, "16"},        {0.45f, "0.449999"},  {-0.5f, "-0.5"},
               {1e-7f, "1.000000"}};  // 1.00000001168609e-07 cut after eight characters
  for (const auto& c : cases) EXPECT_EQ(Float2String(c.v), c.text) << c.v;
}

TEST(TextHelpers, Long2StringAndUnits) {
  EXPECT_EQ(Long2String(5), "       5");
  EXPECT_EQ(Long2String(-5), "     -5");
  EXPECT_EQ(Long2String(10000000), "  Huge! ");
  EXPECT_EQ(Long2String(-1000000), "  Huge! ");
  tPlainEffect effect;
  char text[32];
  effect.dB2string(0.0f, text);
  EXPECT_STREQ(text, "  -oo   ");
  effect.dB2string(10.0f, text);
  EXPECT_STREQ(text, "20");
  effect.Hz2string(441.0f, text);  // 441 samples at 44.1 kHz
  EXPECT_STREQ(text, "100");
  effect.Hz2string(0.0f, text);
  EXPECT_STREQ(text, "0.000000");
  effect.ms2string(441.0f, text);
  EXPECT_STREQ(text, "10");
}

TEST(Record, FieldsAfterConstruction) {
  tVoicemultiply effect(nullptr);
  const AEffect* record = effect.getAeffect();
  EXPECT_EQ(record->magic, FourCC('V', 's', 't', 'P'));
  EXPECT_EQ(record->numParams, 21);
  EXPECT_EQ(record->numPrograms, 1);
  EXPECT_EQ(record->numInputs, 1);
  EXPECT_EQ(record->numOutputs, 2);
  EXPECT_EQ(record->flags, effFlagsCanReplacing);
  EXPECT_EQ(record->object, &effect);
  EXPECT_EQ(record->uniqueID, FourCC('V', 'm', 'M', 'S'));
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->ioRatio, 1.0f);
  EXPECT_EQ(record->initialDelay, 0);
  EXPECT_EQ(record->processDoubleReplacing, nullptr);
  for (char c : record->future) EXPECT_EQ(c, 0);
}

TEST(Record, UniqueIdStringPacksFirstCharacterHighest) {
  tPlainEffect effect;
  effect.setUniqueIDString("ABCD");
  EXPECT_EQ(effect.getAeffect()->uniqueID, 0x41424344);
}

TEST(Dispatcher, OpcodeAnswers) {
  tPlainEffect effect;
  AEffect* record = effect.getAeffect();
  auto dispatch = [&](int32_t opcode, intptr_t value = 0, void* ptr = nullptr, float opt = 0) {
    return record->dispatcher(record, opcode, 0, value, ptr, opt);
  };
  EXPECT_EQ(dispatch(effGetVu), 0);
  EXPECT_EQ(dispatch(effIdentify), FourCC('N', 'v', 'E', 'f'));
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  for (int32_t opcode : std::initializer_list<int32_t>{effGetChunk, effCanDo, effGetEffectName, effGetVendorString,
                         effEditGetRect, effEditOpen, effGetTailSize, 80}) {
    EXPECT_EQ(dispatch(opcode, 0, buffer), 0) << opcode;
    EXPECT_EQ(buffer[0], 'x') << opcode;
  }
  dispatch(effMainsChanged, 0);
  dispatch(effMainsChanged, 7);
  dispatch(effMainsChanged, 1);
  EXPECT_EQ(effect.suspends, 1);
  EXPECT_EQ(effect.resumes, 2);
  dispatch(effSetProgram, 1);
  EXPECT_EQ(dispatch(effGetProgram), 1);
  dispatch(effSetProgram, 2);   // only programs 0 and 1 exist
  dispatch(effSetProgram, -1);
  EXPECT_EQ(dispatch(effGetProgram), 1);
  dispatch(effSetSampleRate, 0, nullptr, 96000.0f);
  EXPECT_EQ(effect.getSampleRate(), 96000.0f);
  dispatch(effSetBlockSize, 4096);
  EXPECT_EQ(effect.getBlockSize(), 4096);
}

TEST(Dispatcher, PointerSizedValueReachesTheEffect) {
  tPlainEffect effect;
  AEffect* record = effect.getAeffect();
  // A value whose low 32 bits are zero: a 32-bit value would read as "off".
  const intptr_t high = static_cast<intptr_t>(1) << (sizeof(intptr_t) * 8 - 2);
  record->dispatcher(record, effMainsChanged, 0, high, nullptr, 0);
  EXPECT_EQ(effect.resumes, sizeof(intptr_t) == 8 ? 1 : 0);
}

TEST(Dispatcher, CloseDestroysTheEffectAndAnswersOne) {
  auto* effect = new tVoicemultiply(nullptr);
  AEffect* record = effect->getAeffect();
  EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0), 1);
}

}  // namespace
}  // namespace vm
