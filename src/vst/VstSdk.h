// Effect and editor base classes of the host binding. TAudioEffect turns the host's calls
// through the record into virtual calls and keeps the host-visible bookkeeping (rate,
// block size, program, counts, flags); TEffEditor is the editor's base. Neither knows
// anything of the ensemble, and neither exposes the record's layout: that stays in
// VstAbi.h, which only the binding's own .cpp files include.
#pragma once

#include <atomic>
#include <cstdint>

#include "vst/VstTypes.h"

namespace vm {

class TAudioEffect;

class TEffEditor {
 public:
  explicit TEffEditor(TAudioEffect* effect) : effect(effect) {}
  virtual ~TEffEditor() = default;
  TEffEditor(const TEffEditor&) = delete;
  TEffEditor& operator=(const TEffEditor&) = delete;

  virtual int32_t getRect(ERect** rect);
  virtual int32_t open(void* window);
  virtual void close() {}
  virtual void idle();
  virtual void update() {}
  virtual void postUpdate() { updateFlag.store(1, std::memory_order_relaxed); }

 protected:
  TAudioEffect* effect;
  void* systemWindow = nullptr;          // the host's parent window, as passed to open
  std::atomic<uint8_t> updateFlag{0};    // 1: run update at the next idle
};

class TAudioEffect {
 public:
  TAudioEffect() = default;
  virtual ~TAudioEffect();
  TAudioEffect(const TAudioEffect&) = delete;
  TAudioEffect& operator=(const TAudioEffect&) = delete;

  virtual void close() {}
  virtual void open() {}
  virtual void resume() {}
  virtual void suspend() {}
  virtual void setUniqueID(int32_t id);
  virtual void setUniqueIDString(const char* fourCharacters);
  virtual void setNumInputs(int32_t count);
  virtual void setNumOutputs(int32_t count);
  virtual void setProgram(int32_t program);
  virtual void setProgramName(const char* name);
  virtual void setSampleRate(float rateHz) { sampleRate.store(rateHz, std::memory_order_relaxed); }
  virtual void setBlockSize(int32_t size) { blockSize = size; }
  virtual int32_t getProgram();
  virtual void getProgramName(char* text);
  virtual void getParameterLabel(int32_t index, char* text);
  virtual void getParameterDisplay(int32_t index, char* text);
  virtual void getParameterName(int32_t index, char* text);
  virtual float getVu() { return 0.0f; }
  virtual float getSampleRate() { return sampleRate.load(std::memory_order_relaxed); }
  virtual int32_t getBlockSize() { return blockSize; }
  virtual void hasVu(bool state);
  virtual void hasClip(bool state);
  virtual void canMono(bool state);
  virtual void canProcessReplacing(bool state);
  virtual int32_t getMasterVersion();
  virtual int32_t getCurrentUniqueId();
  virtual void masterIdle();
  virtual int32_t isInputConnected(int32_t pin);
  virtual int32_t isOutputConnected(int32_t pin);
  virtual void dB2string(float value, char* text);
  virtual void Hz2string(float samples, char* text);
  virtual void ms2string(float samples, char* text);
  virtual void float2string(float value, char* text);
  virtual void long2string(int32_t value, char* text);
  virtual void setupFPU();
  // Second construction step, run by the most derived class's constructor so that the
  // virtual setProgramName reaches the subclass's own name storage.
  virtual void Create(audioMasterCallback master, int32_t paramCount, int32_t programCount);
  virtual void process(float** inputs, float** outputs, int32_t sampleFrames) = 0;
  virtual void processReplacing(float**, float**, int32_t) {}
  virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                              float opt);
  virtual void setParameter(int32_t, float) {}
  virtual float getParameter(int32_t) { return 0.0f; }
  virtual void setParameterAutomated(int32_t index, float value);
  // Whether a host may automate the parameter: none by default.
  virtual bool canParameterBeAutomated(int32_t) { return false; }
  virtual AEffect* getAeffect();
  virtual void setEditor(TEffEditor* newEditor);
  virtual int32_t getHostVendorString(char* text);
  virtual int32_t getHostProductString(char* text);

  TEffEditor* getEditor() const { return editor; }
  int32_t flags() const;

 protected:
  // One host callback with this effect's record; 0 without a host.
  intptr_t callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  int32_t numParams = 0;
  int32_t numPrograms = 0;

 private:
  void setFlag(int32_t flag, bool state);

  std::atomic<float> sampleRate{44100.0f};  // Hz; written by the host, read on any thread
  TEffEditor* editor = nullptr;             // owned
  audioMasterCallback audioMaster = nullptr;
  int32_t curProgram = 0;
  char programName[32] = {};  // 31 characters and a terminator
  int32_t blockSize = 1024;   // largest block announced, samples
  // The record handed to the host, embedded in the object; its layout lives in VstAbi.h.
  alignas(8) unsigned char cEffect[kAEffectSize] = {};
};

}  // namespace vm
