// Every decoder of every registered codec on arbitrary input: the
// name-based frame API (vokcDecodeFrame) with arbitrary payloads and losses,
// each coder's own frame calls of vokcodec.h with arbitrary parameters,
// rates, frame types and erasures, and each codec's whole-stream reader in
// every bitstream layout it has.
// The first byte picks the decoder; VOKC_FUZZ_CODEC=<codec> restricts the
// run to that codec's decoders (one CI run per codec).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "registry.h"
#include "vokcodec.h"

namespace {

using vfuzz::Input;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_decode: %s\n", what.c_str());
  std::abort();
}

// A decoder status is success or an argument error that the input explains.
void expectStatus(const char* name, VokResult r) {
  if (r != vokOk && r != vokErrRange && r != vokErrSize && r != vokErrNullPtr)
    fail(std::string(name) + ": unexpected status " + std::to_string(r));
}

struct Memory {
  std::vector<unsigned char> bytes;
  explicit Memory(VokResult (*size)(int*)) {
    int n = 0;
    if (size(&n) != vokOk || n <= 0) fail("size query");
    bytes.resize(static_cast<std::size_t>(n));
  }
  void* get() { return bytes.data(); }
};

struct Row {
  std::string name;
  std::function<void(Input&)> run;
};

// Frames until the input runs out (at most 64, to keep each run short).
template <class F>
void frames(Input& in, F&& frame) {
  for (int f = 0; f < 64 && !in.empty(); ++f) frame();
}

// A G.729-family decoder made by its size query and init, then frames of
// nprm arbitrary parameters.
using FrameInit = std::function<VokResult(void*)>;
using FrameDecode = std::function<VokResult(void*, Input&, Vok16s*, Vok16s*)>;
Row frameRow(const std::string& name, VokResult (*size)(int*), const FrameInit& init, int nprm,
             const FrameDecode& decode) {
  return {name + " frame", [=](Input& in) {
            Memory m(size);
            if (init(m.get()) != vokOk) fail("init");
            frames(in, [&] {
              Vok16s prm[18], pcm[80];
              for (int k = 0; k < nprm; ++k) prm[k] = in.sample();
              expectStatus(name.c_str(), decode(m.get(), in, prm, pcm));
            });
          }};
}

void addFrameRows(std::vector<Row>& rows) {
  for (int variant : {vokcG729Main, vokcG729AnnexA}) {
    const FrameInit init = [variant](void* m) { return vokcG729DecoderInit(m, variant); };
    rows.push_back(frameRow(variant == vokcG729Main ? "g729" : "g729a", vokcG729DecoderGetSize, init, 11,
                            [](void* m, Input& in, Vok16s* prm, Vok16s* pcm) {
                              return vokcG729Decode(m, prm, in.pick(8) == 0, pcm);
                            }));
    rows.push_back(frameRow(variant == vokcG729Main ? "g729b" : "g729ab", vokcG729DecoderGetSize, init, 11,
                            [](void* m, Input& in, Vok16s* prm, Vok16s* pcm) {
                              const int type = in.pick(5) - 1;  // -1..3: two invalid types
                              return vokcG729BDecode(m, in.pick(16) ? prm : nullptr, type, in.pick(8) == 0, pcm);
                            }));
  }
  rows.push_back(frameRow("g729d", vokcG729DDecoderGetSize, vokcG729DDecoderInit, 11,
                          [](void* m, Input& in, Vok16s* prm, Vok16s* pcm) {
                            const int rates[] = {vokcG729D6k4, vokcG729D8k, 0, 118};
                            return vokcG729DDecode(m, prm, rates[in.pick(4) & (in.pick(8) ? 1 : 3)], in.pick(8) == 0, pcm);
                          }));
  rows.push_back(frameRow("g729e", vokcG729EDecoderGetSize, vokcG729EDecoderInit, 18,
                          [](void* m, Input& in, Vok16s* prm, Vok16s* pcm) {
                            const int rate = in.pick(16) ? in.pick(2) : in.s16();
                            return vokcG729EDecode(m, prm, rate, in.pick(8) == 0, pcm);
                          }));
  rows.push_back(frameRow("g729i", vokcG729IDecoderGetSize, vokcG729IDecoderInit, 0,
                          [](void* m, Input& in, Vok16s*, Vok16s* pcm) {
                            static const int kSizes[] = {0, 15, 16, 64, 80, 118};
                            const int nbits = in.pick(16) ? kSizes[in.pick(6)] : in.s16();
                            Vok8u bits[118];
                            for (auto& b : bits) b = in.pick(16) ? (in.u8() & 1) : in.u8();
                            return vokcG729IDecode(m, bits, nbits, in.pick(8) == 0, pcm);
                          }));
  rows.push_back(frameRow("g729a-float", vokcG729FloatDecoderGetSize, vokcG729FloatDecoderInit, 11,
                          [](void* m, Input& in, Vok16s* prm, Vok16s* pcm) {
                            return vokcG729FloatDecode(m, prm, in.pick(8) == 0, pcm);
                          }));
  for (int kbps : {16, 24, 32, 40})
    rows.push_back({"g726-" + std::to_string(kbps) + " frame", [kbps](Input& in) {
                      Memory m(vokcG726DecoderGetSize);
                      if (vokcG726DecoderInit(m.get(), kbps, in.pick(3)) != vokOk) fail("init");
                      frames(in, [&] {
                        if (in.pick(8) == 0) expectStatus("g726", vokcG726SetRate(m.get(), 8 * in.pick(7)));
                        const int n = in.pick(200);
                        std::vector<Vok8u> codes = in.bytes(static_cast<std::size_t>(n));
                        std::vector<Vok16s> pcm(static_cast<std::size_t>(n) + 1);
                        expectStatus("g726", vokcG726Decode(m.get(), codes.data(), n, pcm.data()));
                      });
                    }});
  for (int mode = 1; mode <= 3; ++mode)
    rows.push_back({"g722-" + std::to_string(72 - 8 * mode) + " frame", [mode](Input& in) {
                      Memory m(vokcG722DecoderGetSize);
                      if (vokcG722DecoderInit(m.get(), mode) != vokOk) fail("init");
                      frames(in, [&] {
                        const int n = in.pick(200);
                        std::vector<Vok8u> words = in.bytes(static_cast<std::size_t>(n));
                        std::vector<Vok16s> pcm(2 * static_cast<std::size_t>(n) + 1);
                        expectStatus("g722", vokcG722Decode(m.get(), words.data(), n, pcm.data()));
                      });
                    }});
}

// Every registered codec through the name-based frame API: a decoder
// created with options from the input, then payloads of any size and
// content, some of them lost.
void addPayloadRows(std::vector<Row>& rows) {
  for (int i = 0; const VokcCodec* codec = vokcCodecAt(i); ++i) {
    VokcCodecInfo info;
    if (vokcCodecGetInfo(codec, &info) != vokOk) fail("codec info");
    rows.push_back({std::string(info.name) + " payload", [codec, info](Input& in) {
                      static const char* kOptions[] = {"",       "law=alaw", "law=ulaw", "mode=2", "bitrate=6.4",
                                                       "dtx=1", "x=1",      "law=", "postfilter=0"};
                      int size = 0;
                      if (vokcDecoderGetSize(codec, &size) != vokOk || size <= 0) fail("decoder size");
                      std::vector<unsigned char> mem(static_cast<std::size_t>(size));
                      VokcCoder* dec = nullptr;
                      if (vokcDecoderCreate(codec, kOptions[in.pick(9)], mem.data(), size, &dec) != vokOk) return;
                      frames(in, [&] {
                        const int bytes = in.pick(4) ? info.maxPayload : in.pick(info.maxPayload + 9);
                        std::vector<Vok8u> payload = in.bytes(static_cast<std::size_t>(bytes) + 1);
                        std::vector<Vok16s> pcm(static_cast<std::size_t>(info.frameSamples));
                        int samples = -1;
                        const VokResult r =
                            vokcDecodeFrame(dec, in.pick(8) ? payload.data() : nullptr, bytes, pcm.data(), &samples);
                        expectStatus(info.name, r);
                        if (r == vokOk && (samples < 0 || samples > info.frameSamples))
                          fail(std::string(info.name) + ": sample count " + std::to_string(samples));
                      });
                      vokcDestroy(dec);
                    }});
  }
}

// The whole-stream readers: layout, mode, rate and law chosen by the input.
void addStreamRows(std::vector<Row>& rows) {
  for (const auto& c : vokc::registry().codecs) {
    std::vector<std::string> formats = {"itu", "rtp"};
    for (const auto& l : c.layouts) formats.push_back(l.name);  // storage files, RTP payload forms
    for (const std::string& format : formats) {
      const vokc::Codec* codec = &c;
      rows.push_back({c.name + " stream " + format, [codec, format](Input& in) {
                        vokc::Options o;
                        o.format = format;
                        o.mode = in.pick(5);
                        static const char* kRates[] = {"", "6.4", "8", "11.8", "x"};
                        o.rate = kRates[in.pick(5)];
                        static const char* kLaws[] = {"", "linear", "alaw", "ulaw"};
                        o.law = kLaws[in.pick(4)];
                        o.dtx = in.flag();
                        std::vector<int16_t> pcm;
                        std::string err;
                        if (!codec->decode(in.rest(), o, pcm, err) && err.empty())
                          fail(codec->name + ": a failed decode without a message");
                      }});
    }
  }
}

std::vector<Row>& rows() {
  static std::vector<Row> all = [] {
    std::vector<Row> r;
    addFrameRows(r);
    addStreamRows(r);
    addPayloadRows(r);
    const char* only = std::getenv("VOKC_FUZZ_CODEC");
    if (only && *only) {
      std::vector<Row> kept;
      for (auto& row : r)
        if (row.name.substr(0, row.name.find(' ')) == only) kept.push_back(row);
      if (kept.empty()) fail(std::string("no decoder named ") + only);
      return kept;
    }
    return r;
  }();
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rows();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  auto& r = rows();
  r[in.u8() % r.size()].run(in);
  return 0;
}
