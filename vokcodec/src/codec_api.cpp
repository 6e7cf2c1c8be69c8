// The name-based codec API of vokcodec.h over the registry's frame coders.
// A coder object is a header (tag, codec, direction, who owns the memory)
// followed by the codec's state on a 16-byte boundary.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "registry.h"
#include "vokcodec.h"

struct VokcCoder {
  uint32_t tag;
  const vokc::Codec* codec;
  bool encoder;
  bool owned;
  void* state;
};

namespace {

constexpr uint32_t kTag = 0x564F4B43;  // "VOKC"
constexpr int kHead = 64;              // header bytes before the state, a multiple of 16
static_assert(sizeof(VokcCoder) <= kHead, "coder header too large");

const vokc::Codec* codecOf(const VokcCodec* c) { return reinterpret_cast<const vokc::Codec*>(c); }
const VokcCodec* handleOf(const vokc::Codec* c) { return reinterpret_cast<const VokcCodec*>(c); }

bool isCoder(const VokcCoder* c) { return c->tag == kTag && c->codec; }

int coderSize(const vokc::Codec& c, bool encoder) { return 15 + kHead + (encoder ? c.encoderSize : c.decoderSize); }

VokResult create(const VokcCodec* handle, const char* options, void* mem, int memSize, VokcCoder** out, bool encoder) {
  if (!handle || !out) return vokErrNullPtr;
  const vokc::Codec& c = *codecOf(handle);
  const int need = coderSize(c, encoder);
  if (mem && memSize < need) return vokErrSize;
  vokc::Settings s;
  vokc::Options o;
  o.extra = options ? options : "";
  std::string err;
  if (!vokc::codecSettings(c, encoder, o, s, err)) return vokErrBadArg;
  const bool owned = mem == nullptr;
  void* raw = owned ? std::malloc(static_cast<std::size_t>(need)) : mem;
  if (!raw) return vokErrMemAlloc;
  auto* base = reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(raw) + 15) & ~uintptr_t{15});
  std::memset(base, 0, static_cast<std::size_t>(need - 15));
  auto* coder = reinterpret_cast<VokcCoder*>(base);
  *coder = {0, &c, encoder, owned, base + kHead};
  const auto& init = encoder ? c.initEncoder : c.initDecoder;
  if (!init || !init(coder->state, s).empty()) {
    if (owned) std::free(raw);
    return vokErrRange;
  }
  coder->tag = kTag;
  // The raw pointer for free() sits just before the header when owned.
  if (owned) std::memcpy(base + kHead - sizeof(void*), &raw, sizeof raw);
  *out = coder;
  return vokOk;
}

}  // namespace

extern "C" {

const VokcCodec* vokcCodecFind(const char* name) {
  if (!name) return nullptr;
  const vokc::Codec* c = vokc::registry().find(name);
  return c ? handleOf(c) : nullptr;
}

const VokcCodec* vokcCodecAt(int index) {
  const auto& codecs = vokc::registry().codecs;
  if (index < 0 || static_cast<std::size_t>(index) >= codecs.size()) return nullptr;
  return handleOf(&codecs[static_cast<std::size_t>(index)]);
}

VokResult vokcCodecGetInfo(const VokcCodec* handle, VokcCodecInfo* info) {
  if (!handle || !info) return vokErrNullPtr;
  const vokc::Codec& c = *codecOf(handle);
  *info = {c.name.c_str(), c.about.c_str(), c.sampleRate, c.frameSamples, c.maxPayload, c.bitRate,
           c.fixedPayload ? 1 : 0};
  return vokOk;
}

VokResult vokcEncoderGetSize(const VokcCodec* codec, int* size) {
  if (!codec || !size) return vokErrNullPtr;
  *size = coderSize(*codecOf(codec), true);
  return vokOk;
}

VokResult vokcDecoderGetSize(const VokcCodec* codec, int* size) {
  if (!codec || !size) return vokErrNullPtr;
  *size = coderSize(*codecOf(codec), false);
  return vokOk;
}

VokResult vokcEncoderCreate(const VokcCodec* codec, const char* options, void* mem, int memSize, VokcCoder** coder) {
  return create(codec, options, mem, memSize, coder, true);
}

VokResult vokcDecoderCreate(const VokcCodec* codec, const char* options, void* mem, int memSize, VokcCoder** coder) {
  return create(codec, options, mem, memSize, coder, false);
}

VokResult vokcEncoderSet(VokcCoder* coder, const char* options) {
  if (!coder || !options) return vokErrNullPtr;
  if (!isCoder(coder) || !coder->encoder) return vokErrContextMatch;
  const vokc::Codec& c = *coder->codec;
  vokc::Settings s;
  if (!s.parse(options).empty()) return vokErrBadArg;
  for (const auto& kv : s.items()) {
    bool running = false;
    for (const auto& o : c.options)
      if (o.key == kv.first) running = (o.use & vokc::kRunningOption) && (o.use & vokc::kEncoderOption);
    if (!running) return vokErrBadArg;
  }
  if (s.items().empty()) return vokOk;
  return c.setEncoder && c.setEncoder(coder->state, s).empty() ? vokOk : vokErrRange;
}

VokResult vokcEncodeFrame(VokcCoder* coder, const Vok16s* pcm, Vok8u* payload, int capacity, int* bytes) {
  if (!coder || !pcm || !payload || !bytes) return vokErrNullPtr;
  if (!isCoder(coder) || !coder->encoder) return vokErrContextMatch;
  if (capacity < coder->codec->maxPayload) return vokErrSize;
  int n = 0;
  const VokResult r = coder->codec->encodeFrame(coder->state, pcm, payload, &n);
  if (r == vokOk) *bytes = n;
  return r;
}

VokResult vokcDecodeFrame(VokcCoder* coder, const Vok8u* payload, int bytes, Vok16s* pcm, int* samples) {
  if (!coder || !pcm || !samples) return vokErrNullPtr;
  if (payload && bytes < 0) return vokErrSize;
  if (!isCoder(coder) || coder->encoder) return vokErrContextMatch;
  if (payload && bytes > coder->codec->maxPayload) return vokErrSize;
  int n = 0;
  const VokResult r = coder->codec->decodeFrame(coder->state, payload, payload ? bytes : 0, payload == nullptr, pcm, &n);
  if (r == vokOk) *samples = n;
  return r;
}

void vokcDestroy(VokcCoder* coder) {
  if (!coder || !isCoder(coder)) return;
  coder->tag = 0;
  if (coder->owned) {
    void* raw = nullptr;
    std::memcpy(&raw, reinterpret_cast<unsigned char*>(coder) + kHead - sizeof(void*), sizeof raw);
    std::free(raw);
  }
}

}  // extern "C"
