// Level control and answer-tone detection: the voksc G.169 controller and
// 2100 Hz detector in caller memory, frame by frame.
#include <cmath>
#include <cstdint>

#include "object.h"
#include "vokproc.h"

struct VokpLevel {
  uint32_t tag;
  int frame;
  ALCState_G169* alc;
};

struct VokpTone {
  uint32_t tag;
  int frame;
  ToneDetectState_EC_32f* detector;
  float* samples;
};

namespace {

// The controller's speech-level measure settles at 0.89 times the RMS of a
// long burst: the target it is given is that much below the active level
// asked for.
constexpr double kLevelMeasure = 0.89;
constexpr int kAlcBytes = 124, kToneBytes = 72;

template <class Object>
VokResult checkObject(const Object* o, uint32_t tag) {
  if (o->tag == tag) return vokOk;
  return o->tag == vokp::kTagBroken ? vokErrInternal : vokErrContextMatch;
}

}  // namespace

extern "C" {

VokResult vokpLevelGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  vokp::Arena a;
  a.take<VokpLevel>(1);
  a.take<unsigned char>(kAlcBytes);
  *size = vokp::sizeOf(a.used());
  return vokOk;
}

VokResult vokpLevelInit(int sampleRate, float targetDbov, float maxGainDb, void* mem, int memSize, VokpLevel** level) {
  if (!mem || !level) return vokErrNullPtr;
  int need = 0;
  vokpLevelGetSize(&need);
  if (memSize < need) return vokErrSize;
  if ((sampleRate != 8000 && sampleRate != 16000) || !(targetDbov >= -40 && targetDbov <= -6) ||
      !(maxGainDb >= 0 && maxGainDb <= 30))
    return vokErrRange;
  int alcSize = 0;
  if (voksALCGetStateSize_G169_16s(&alcSize) < 0 || alcSize > kAlcBytes) return vokErrInternal;
  vokp::Arena a(mem);
  VokpLevel* l = a.take<VokpLevel>(1);
  l->frame = sampleRate / 100;
  l->alc = reinterpret_cast<ALCState_G169*>(a.take<unsigned char>(kAlcBytes));
  const float attenuation = static_cast<float>(-targetDbov - 20 * std::log10(kLevelMeasure));
  VOKP_CALL(l, voksALCInit_G169_16s(l->alc));
  VOKP_CALL(l, voksALCSetLevel_G169_16s(attenuation, 0.0f, l->alc));
  VOKP_CALL(l, voksALCSetGain_G169_16s(maxGainDb, l->alc));
  l->tag = vokp::kTagLevel;
  *level = l;
  return vokOk;
}

VokResult vokpLevelProcess(VokpLevel* level, const Vok16s* in, Vok16s* out) {
  if (!level || !in || !out) return vokErrNullPtr;
  if (VokResult s = checkObject(level, vokp::kTagLevel); s != vokOk) return s;
  VOKP_CALL(level, voksALC_G169_16s(in, out, level->frame, level->alc));
  return vokOk;
}

VokResult vokpToneGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  vokp::Arena a;
  a.take<VokpTone>(1);
  a.take<unsigned char>(kToneBytes);
  a.take<float>(160);
  *size = vokp::sizeOf(a.used());
  return vokOk;
}

VokResult vokpToneInit(int sampleRate, void* mem, int memSize, VokpTone** tone) {
  if (!mem || !tone) return vokErrNullPtr;
  int need = 0;
  vokpToneGetSize(&need);
  if (memSize < need) return vokErrSize;
  if (sampleRate != 8000 && sampleRate != 16000) return vokErrRange;
  int detectorSize = 0;
  if (voksToneDetectGetStateSize_EC_32f(sampleRate, &detectorSize) < 0 || detectorSize > kToneBytes)
    return vokErrInternal;
  vokp::Arena a(mem);
  VokpTone* t = a.take<VokpTone>(1);
  t->frame = sampleRate / 100;
  t->detector = reinterpret_cast<ToneDetectState_EC_32f*>(a.take<unsigned char>(kToneBytes));
  t->samples = a.take<float>(160);
  VOKP_CALL(t, voksToneDetectInit_EC_32f(t->detector, sampleRate));
  t->tag = vokp::kTagTone;
  *tone = t;
  return vokOk;
}

VokResult vokpToneProcess(VokpTone* tone, const Vok16s* in, int* detected) {
  if (!tone || !in || !detected) return vokErrNullPtr;
  if (VokResult s = checkObject(tone, vokp::kTagTone); s != vokOk) return s;
  for (int i = 0; i < tone->frame; ++i) tone->samples[i] = in[i];
  int result = 0;
  VOKP_CALL(tone, voksToneDetect_EC_32f(tone->samples, tone->frame, &result, tone->detector));
  *detected = result;
  return vokOk;
}

}  // extern "C"
