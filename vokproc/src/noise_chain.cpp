// The noise filter (the voksc echo-canceller noise filter with its noise
// detector) and the uplink chain: echo canceller, noise filter, level
// control.
#include <cmath>
#include <cstdint>

#include "object.h"
#include "vokproc.h"

struct VokpNoise {
  uint32_t tag;
  int frame, level;
  FilterNoiseState_EC_32f* filter;
  float *in, *out;
};

struct VokpChain {
  uint32_t tag;
  int frame;
  VokpEcho* echo;
  VokpNoise* noise;
  VokpLevel* level;
  Vok16s* buffer;
};

namespace {

constexpr int kBlock = 16;         // samples per noise-filter call
constexpr int kNoiseLatency = 128;  // the filter's framing and smoothing line

VokResult noiseLayout(int rate, vokp::Arena& a, VokpNoise** out) {
  int filterSize = 0;
  if (voksFilterNoiseGetStateSize_EC_32f(rate, &filterSize) < 0) return vokErrInternal;
  VokpNoise* n = a.take<VokpNoise>(1);
  unsigned char* filter = a.take<unsigned char>(filterSize);
  float* in = a.take<float>(rate / 100);
  float* outSamples = a.take<float>(rate / 100);
  if (n) n->filter = reinterpret_cast<FilterNoiseState_EC_32f*>(filter), n->in = in, n->out = outSamples;
  if (out) *out = n;
  return vokOk;
}

template <class Object>
VokResult checkObject(const Object* o, uint32_t tag) {
  if (o->tag == tag) return vokOk;
  return o->tag == vokp::kTagBroken ? vokErrInternal : vokErrContextMatch;
}

bool validRate(int rate) { return rate == 8000 || rate == 16000; }

}  // namespace

extern "C" {

VokResult vokpNoiseGetSize(int sampleRate, int* size) {
  if (!size) return vokErrNullPtr;
  if (!validRate(sampleRate)) return vokErrRange;
  vokp::Arena a;
  if (VokResult s = noiseLayout(sampleRate, a, nullptr); s != vokOk) return s;
  *size = vokp::sizeOf(a.used());
  return vokOk;
}

VokResult vokpNoiseInit(int sampleRate, int level, void* mem, int memSize, VokpNoise** noise) {
  if (!mem || !noise) return vokErrNullPtr;
  if (!validRate(sampleRate) || level < -1 || level > 5) return vokErrRange;
  int need = 0;
  if (VokResult s = vokpNoiseGetSize(sampleRate, &need); s != vokOk) return s;
  if (memSize < need) return vokErrSize;
  vokp::Arena a(mem);
  VokpNoise* n = nullptr;
  if (noiseLayout(sampleRate, a, &n) != vokOk) return vokErrInternal;
  n->frame = sampleRate / 100;
  n->level = level;
  VOKP_CALL(n, voksFilterNoiseInit_EC_32f(sampleRate, n->filter));
  VOKP_CALL(n, voksFilterNoiseSetMode_EC_32f(1, n->filter));  // full-band speech: no output smoothing
  if (level >= 0) VOKP_CALL(n, voksFilterNoiseLevel_EC_32f(level, n->filter));
  n->tag = vokp::kTagNoise;
  *noise = n;
  return vokOk;
}

VokResult vokpNoiseProcess(VokpNoise* noise, const Vok16s* in, Vok16s* out, int* pause) {
  if (!noise || !in || !out) return vokErrNullPtr;
  if (VokResult s = checkObject(noise, vokp::kTagNoise); s != vokOk) return s;
  for (int i = 0; i < noise->frame; ++i) noise->in[i] = in[i];
  bool quiet = true;
  for (int at = 0; at < noise->frame; at += kBlock) {
    Vok64f ratio = 0;
    Vok32f floorDb = 0;
    int decision = 0;
    VOKP_CALL(noise, voksFilterNoiseDetect_EC_32f64f(noise->in + at, &ratio, &floorDb, &decision, noise->filter));
    quiet = quiet && decision == 1;
    // A level of the caller's own outlasts the filter's choice at the first pause.
    if (noise->level >= 0) VOKP_CALL(noise, voksFilterNoiseLevel_EC_32f(noise->level, noise->filter));
    VOKP_CALL(noise, voksFilterNoise_EC_32f(noise->in + at, noise->out + at, decision, noise->filter));
  }
  for (int i = 0; i < noise->frame; ++i)
    out[i] = static_cast<Vok16s>(std::lrint(std::fmax(-32768.0f, std::fmin(32767.0f, noise->out[i]))));
  if (pause) *pause = quiet;
  return vokOk;
}

VokResult vokpNoiseLatency(const VokpNoise* noise, int* samples) {
  if (!noise || !samples) return vokErrNullPtr;
  if (VokResult s = checkObject(noise, vokp::kTagNoise); s != vokOk) return s;
  *samples = kNoiseLatency;
  return vokOk;
}

VokResult vokpChainConfigDefault(VokpChainConfig* config, int sampleRate) {
  if (!config) return vokErrNullPtr;
  VokpEchoConfig echo;
  if (VokResult s = vokpEchoConfigDefault(&echo, sampleRate); s != vokOk) return s;
  *config = VokpChainConfig{echo, -1, -26.0f, 11.6f};
  return vokOk;
}

}  // extern "C"

namespace {

// The chain's pieces, each an object of its own kind in the chain's memory.
VokResult chainLayout(const VokpChainConfig& c, vokp::Arena& a, void* pieces[5], int sizes[3]) {
  const int rate = c.echo.sampleRate;
  if (VokResult s = vokpEchoGetSize(&c.echo, &sizes[0]); s != vokOk) return s;
  if (VokResult s = vokpNoiseGetSize(rate, &sizes[1]); s != vokOk) return s;
  if (VokResult s = vokpLevelGetSize(&sizes[2]); s != vokOk) return s;
  if (c.noiseLevel < -1 || c.noiseLevel > 5 || !(c.targetDbov >= -40 && c.targetDbov <= -6) ||
      !(c.maxGainDb >= 0 && c.maxGainDb <= 30))
    return vokErrRange;
  pieces[0] = a.take<VokpChain>(1);
  for (int i = 0; i < 3; ++i) pieces[i + 1] = a.take<unsigned char>(sizes[i]);
  pieces[4] = a.take<Vok16s>(rate / 100);
  return vokOk;
}

}  // namespace

extern "C" {

VokResult vokpChainGetSize(const VokpChainConfig* config, int* size) {
  if (!config || !size) return vokErrNullPtr;
  vokp::Arena a;
  void* pieces[5];
  int sizes[3];
  if (VokResult s = chainLayout(*config, a, pieces, sizes); s != vokOk) return s;
  *size = vokp::sizeOf(a.used());
  return vokOk;
}

VokResult vokpChainInit(const VokpChainConfig* config, void* mem, int memSize, VokpChain** chain) {
  if (!config || !mem || !chain) return vokErrNullPtr;
  int need = 0;
  if (VokResult s = vokpChainGetSize(config, &need); s != vokOk) return s;
  if (memSize < need) return vokErrSize;
  vokp::Arena a(mem);
  void* pieces[5];
  int sizes[3];
  if (chainLayout(*config, a, pieces, sizes) != vokOk) return vokErrInternal;
  VokpChain* c = static_cast<VokpChain*>(pieces[0]);
  const int rate = config->echo.sampleRate;
  c->frame = rate / 100;
  c->buffer = static_cast<Vok16s*>(pieces[4]);
  if (vokpEchoInit(&config->echo, pieces[1], sizes[0], &c->echo) != vokOk ||
      vokpNoiseInit(rate, config->noiseLevel, pieces[2], sizes[1], &c->noise) != vokOk ||
      vokpLevelInit(rate, config->targetDbov, config->maxGainDb, pieces[3], sizes[2], &c->level) != vokOk)
    return vokErrInternal;
  c->tag = vokp::kTagChain;
  *chain = c;
  return vokOk;
}

VokResult vokpChainProcess(VokpChain* chain, const Vok16s* far, const Vok16s* near, Vok16s* out) {
  if (!chain || !far || !near || !out) return vokErrNullPtr;
  if (VokResult s = checkObject(chain, vokp::kTagChain); s != vokOk) return s;
  VokResult s = vokpEchoProcess(chain->echo, far, near, chain->buffer);
  if (s == vokOk) s = vokpNoiseProcess(chain->noise, chain->buffer, out, nullptr);
  if (s == vokOk) s = vokpLevelProcess(chain->level, out, chain->buffer);
  if (s == vokOk)
    for (int i = 0; i < chain->frame; ++i) out[i] = chain->buffer[i];
  if (s != vokOk) {
    chain->tag = vokp::kTagBroken;
    return vokErrInternal;
  }
  return vokOk;
}

VokResult vokpChainLatency(const VokpChain* chain, int* samples) {
  if (!chain || !samples) return vokErrNullPtr;
  if (VokResult s = checkObject(chain, vokp::kTagChain); s != vokOk) return s;
  int echo = 0;
  if (vokpEchoLatency(chain->echo, &echo) != vokOk) return vokErrInternal;
  *samples = echo + kNoiseLatency;
  return vokOk;
}

VokResult vokpChainEcho(const VokpChain* chain, const VokpEcho** echo) {
  if (!chain || !echo) return vokErrNullPtr;
  if (VokResult s = checkObject(chain, vokp::kTagChain); s != vokOk) return s;
  *echo = chain->echo;
  return vokOk;
}

}  // extern "C"
