// The complete coders of vokcodec against every peer implementation found at
// build time (bcg729, spandsp, FFmpeg's libavcodec, libgsm, opencore-amrnb,
// opencore-amrwb, vo-amrwbenc), on one shared input.
//
// The input is 8 kHz speech (the bundled sample or --input FILE, raw 16-bit),
// looped to --seconds; G.722 reads it upsampled to 16 kHz.  Encoders code
// that input; decoders of a match decode the SAME stream, the one voksc's
// encoder produced (G.726 codes one per byte for spandsp, RFC 3551 octets for
// FFmpeg; G.722 and G.729A octets as on the wire).  Each side starts from a
// fresh coder state and works in packets of 20 ms (10 ms for G.729A), the
// byte packing included where the peer's interface includes it.
//
//   voksc_peers [--seconds S] [--rounds R] [--input FILE]
//       CPU time of each side, alternated round by round (ABBA), medians and
//       their ratio (peer / voksc) as a Markdown table.
//   voksc_peers --list
//       the match names.
//   voksc_peers --only MATCH --side voksc|peer [--seconds S]
//       one pass of one side.  Under `valgrind --tool=callgrind
//       --collect-atstart=no` only the coding loop is counted.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include "vokcodec.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define COUNT_TOGGLE() CALLGRIND_TOGGLE_COLLECT
#else
#define COUNT_TOGGLE() ((void)0)
#endif

#if defined(HAVE_BCG729)
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}
#endif
#if defined(HAVE_SPANDSP)
#include <spandsp.h>
#endif
#if defined(HAVE_LIBGSM)
extern "C" {
#include <gsm.h>
}
#endif
#if defined(HAVE_OPENCORE_AMRNB)
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>
#endif
#if defined(HAVE_OPENCORE_AMRWB)
#include <opencore-amrwb/dec_if.h>
#endif
#if defined(HAVE_VO_AMRWBENC)
#include <vo-amrwbenc/enc_if.h>
#endif
#if defined(HAVE_FFMPEG)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}
#endif

namespace {

using Pcm = std::vector<int16_t>;
using Bytes = std::vector<uint8_t>;

// ---- shared input -----------------------------------------------------------

Pcm readSpeech(const char* path, double seconds) {
  Pcm s;
  if (std::FILE* f = std::fopen(path, "rb")) {
    int16_t b[4096];
    std::size_t k;
    while ((k = std::fread(b, 2, 4096, f)) > 0) s.insert(s.end(), b, b + k);
    std::fclose(f);
  }
  if (s.empty()) {
    std::fprintf(stderr, "no input samples in %s\n", path);
    std::exit(2);
  }
  // Whole 20 ms packets.
  const std::size_t n = static_cast<std::size_t>(seconds * 50) * 160;
  Pcm out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = s[i % s.size()];
  return out;
}

// 16 kHz from 8 kHz: every new sample is the mean of its neighbours.
Pcm upsample(const Pcm& x) {
  Pcm y(2 * x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    y[2 * i] = x[i];
    const int next = i + 1 < x.size() ? x[i + 1] : x[i];
    y[2 * i + 1] = static_cast<int16_t>((x[i] + next) / 2);
  }
  return y;
}

struct Memory {
  std::vector<unsigned char> b;
  explicit Memory(int (*size)(int*)) {
    int n = 0;
    size(&n);
    b.resize(static_cast<std::size_t>(n));
  }
  void* p() { return b.data(); }
};
int g729EncSize(int* n) { return vokcG729EncoderGetSize(n); }
int g729DecSize(int* n) { return vokcG729DecoderGetSize(n); }
int g722Size(int* n) { return vokcG722EncoderGetSize(n); }
int g726EncSize(int* n) { return vokcG726EncoderGetSize(n); }
int g726DecSize(int* n) { return vokcG726DecoderGetSize(n); }

// ---- voksc sides ------------------------------------------------------------

// G.729A: 10-byte frames, bits in transmission order from the top bit down.
Bytes g729aEncode(const Pcm& pcm) {
  Memory m(g729EncSize);
  vokcG729EncoderInit(m.p(), vokcG729AnnexA);
  const std::size_t frames = pcm.size() / 80;
  Bytes out(frames * 10);
  for (std::size_t f = 0; f < frames; ++f) {
    Vok16s prm[11];
    Vok8u bits[80];
    vokcG729Encode(m.p(), &pcm[f * 80], prm);
    vokcG729PackBits(prm, bits);
    for (int k = 0; k < 10; ++k) {
      unsigned v = 0;
      for (int b = 0; b < 8; ++b) v = v << 1 | bits[8 * k + b];
      out[f * 10 + k] = static_cast<uint8_t>(v);
    }
  }
  return out;
}

Pcm g729aDecode(const Bytes& stream) {
  Memory m(g729DecSize);
  vokcG729DecoderInit(m.p(), vokcG729AnnexA);
  const std::size_t frames = stream.size() / 10;
  Pcm out(frames * 80);
  // Each octet spreads to its eight bits through a table of 256 patterns.
  static const auto spread = [] {
    std::vector<std::array<uint8_t, 8>> t(256);
    for (unsigned v = 0; v < 256; ++v)
      for (int b = 0; b < 8; ++b) t[v][b] = static_cast<uint8_t>((v >> (7 - b)) & 1);
    return t;
  }();
  for (std::size_t f = 0; f < frames; ++f) {
    Vok8u bits[80];
    for (int k = 0; k < 10; ++k) std::memcpy(bits + 8 * k, spread[stream[f * 10 + k]].data(), 8);
    Vok16s prm[11];
    vokcG729UnpackBits(bits, prm);
    vokcG729Decode(m.p(), prm, 0, &out[f * 80]);
  }
  return out;
}

Bytes g722Encode(const Pcm& pcm) {
  Memory m(g722Size);
  vokcG722EncoderInit(m.p());
  Bytes out(pcm.size() / 2);
  for (std::size_t at = 0; at + 320 <= pcm.size(); at += 320) vokcG722Encode(m.p(), &pcm[at], 320, &out[at / 2]);
  return out;
}

Pcm g722Decode(const Bytes& words) {
  Memory m(g722Size);
  vokcG722DecoderInit(m.p(), 1);
  Pcm out(2 * words.size());
  for (std::size_t at = 0; at + 160 <= words.size(); at += 160) vokcG722Decode(m.p(), &words[at], 160, &out[2 * at]);
  return out;
}

// G.726: one code per byte, or RFC 3551 octets when `packed`.
Bytes g726Encode(const Pcm& pcm, int kbps, bool packed) {
  Memory m(g726EncSize);
  vokcG726EncoderInit(m.p(), kbps, vokcG726Linear);
  Bytes out(pcm.size());
  std::size_t written = 0;
  for (std::size_t at = 0; at + 160 <= pcm.size(); at += 160) {
    Vok8u codes[160];
    if (!packed) {
      vokcG726Encode(m.p(), &pcm[at], 160, &out[at]);
      written += 160;
      continue;
    }
    vokcG726Encode(m.p(), &pcm[at], 160, codes);
    int n = 0;
    vokcG726Pack(codes, 160, kbps, &out[written], &n);
    written += static_cast<std::size_t>(n);
  }
  out.resize(written);
  return out;
}

Pcm g726Decode(const Bytes& in, int kbps, bool packed) {
  Memory m(g726DecSize);
  vokcG726DecoderInit(m.p(), kbps, vokcG726Linear);
  const std::size_t bitsPerCode = static_cast<std::size_t>(kbps / 8);
  const std::size_t samples = packed ? in.size() * 8 / bitsPerCode : in.size();
  Pcm out(samples);
  if (!packed) {
    for (std::size_t at = 0; at + 160 <= samples; at += 160) vokcG726Decode(m.p(), &in[at], 160, &out[at]);
    return out;
  }
  const std::size_t packet = 20 * bitsPerCode;  // 160 codes
  for (std::size_t at = 0, o = 0; at + packet <= in.size(); at += packet, o += 160) {
    Vok8u codes[160];
    int n = 0;
    vokcG726Unpack(&in[at], static_cast<int>(packet), kbps, codes, &n);
    vokcG726Decode(m.p(), codes, n, &out[o]);
  }
  return out;
}

// Any coder of the registry by name, 20 ms frames of `frame` samples, the
// payloads laid end to end (fixed-size frames: GSM's 33 bytes).
Bytes registryEncode(const char* name, const Pcm& pcm, const char* options = "") {
  const VokcCodec* c = vokcCodecFind(name);
  VokcCodecInfo info;
  vokcCodecGetInfo(c, &info);
  VokcCoder* e = nullptr;
  vokcEncoderCreate(c, options, nullptr, 0, &e);
  const std::size_t n = static_cast<std::size_t>(info.frameSamples);
  Bytes out(pcm.size() / n * static_cast<std::size_t>(info.maxPayload));
  std::size_t written = 0;
  for (std::size_t at = 0; at + n <= pcm.size(); at += n) {
    int bytes = 0;
    vokcEncodeFrame(e, &pcm[at], &out[written], info.maxPayload, &bytes);
    written += static_cast<std::size_t>(bytes);
  }
  vokcDestroy(e);
  out.resize(written);
  return out;
}

Pcm registryDecode(const char* name, const Bytes& in, std::size_t frameBytes) {
  const VokcCodec* c = vokcCodecFind(name);
  VokcCodecInfo info;
  vokcCodecGetInfo(c, &info);
  VokcCoder* d = nullptr;
  vokcDecoderCreate(c, "", nullptr, 0, &d);
  Pcm out(in.size() / frameBytes * static_cast<std::size_t>(info.frameSamples));
  std::size_t o = 0;
  for (std::size_t at = 0; at + frameBytes <= in.size(); at += frameBytes) {
    int samples = 0;
    vokcDecodeFrame(d, &in[at], static_cast<int>(frameBytes), &out[o], &samples);
    o += static_cast<std::size_t>(samples);
  }
  vokcDestroy(d);
  return out;
}

// ---- peer sides -------------------------------------------------------------

#if defined(HAVE_BCG729)
Bytes bcg729Encode(const Pcm& pcm) {
  bcg729EncoderChannelContextStruct* e = initBcg729EncoderChannel(0);
  const std::size_t frames = pcm.size() / 80;
  Bytes out(frames * 10);
  for (std::size_t f = 0; f < frames; ++f) {
    uint8_t len = 0;
    bcg729Encoder(e, const_cast<int16_t*>(&pcm[f * 80]), &out[f * 10], &len);
  }
  closeBcg729EncoderChannel(e);
  return out;
}

Pcm bcg729Decode(const Bytes& stream) {
  bcg729DecoderChannelContextStruct* d = initBcg729DecoderChannel();
  const std::size_t frames = stream.size() / 10;
  Pcm out(frames * 80);
  for (std::size_t f = 0; f < frames; ++f)
    bcg729Decoder(d, const_cast<uint8_t*>(&stream[f * 10]), 10, 0, 0, 0, &out[f * 80]);
  closeBcg729DecoderChannel(d);
  return out;
}
#endif

#if defined(HAVE_SPANDSP)
Bytes spandspG722Encode(const Pcm& pcm) {
  g722_encode_state_t* s = g722_encode_init(nullptr, 64000, 0);
  Bytes out(pcm.size() / 2);
  for (std::size_t at = 0; at + 320 <= pcm.size(); at += 320) g722_encode(s, &out[at / 2], &pcm[at], 320);
  g722_encode_free(s);
  return out;
}

Pcm spandspG722Decode(const Bytes& words) {
  g722_decode_state_t* s = g722_decode_init(nullptr, 64000, 0);
  Pcm out(2 * words.size());
  for (std::size_t at = 0; at + 160 <= words.size(); at += 160) g722_decode(s, &out[2 * at], &words[at], 160);
  g722_decode_free(s);
  return out;
}

Bytes spandspG726Encode(const Pcm& pcm, int kbps) {
  g726_state_t* s = g726_init(nullptr, kbps * 1000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  Bytes out(pcm.size());
  for (std::size_t at = 0; at + 160 <= pcm.size(); at += 160) g726_encode(s, &out[at], &pcm[at], 160);
  g726_free(s);
  return out;
}

Pcm spandspG726Decode(const Bytes& codes, int kbps) {
  g726_state_t* s = g726_init(nullptr, kbps * 1000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  Pcm out(codes.size());
  for (std::size_t at = 0; at + 160 <= codes.size(); at += 160) g726_decode(s, &out[at], &codes[at], 160);
  g726_free(s);
  return out;
}
#endif

#if defined(HAVE_LIBGSM)
Bytes libgsmEncode(const Pcm& pcm) {
  gsm g = gsm_create();
  Bytes out(pcm.size() / 160 * 33);
  for (std::size_t at = 0; at + 160 <= pcm.size(); at += 160)
    gsm_encode(g, const_cast<gsm_signal*>(&pcm[at]), &out[at / 160 * 33]);
  gsm_destroy(g);
  return out;
}

Pcm libgsmDecode(const Bytes& in) {
  gsm g = gsm_create();
  Pcm out(in.size() / 33 * 160);
  for (std::size_t at = 0; at + 33 <= in.size(); at += 33)
    gsm_decode(g, const_cast<gsm_byte*>(&in[at]), &out[at / 33 * 160]);
  gsm_destroy(g);
  return out;
}
#endif

#if defined(HAVE_OPENCORE_AMRNB)
// opencore-amrnb works on RFC 4867 storage frames (type octet and speech
// bits); the registry's payload is the octet-aligned RTP payload, the same
// octets after one mode-request octet.  Modes: 0 = 4.75 ... 7 = 12.2.
Bytes opencoreAmrnbEncode(const Pcm& pcm, int mode, std::size_t payload) {
  void* e = Encoder_Interface_init(0);
  Bytes out(pcm.size() / 160 * payload);
  for (std::size_t at = 0, o = 0; at + 160 <= pcm.size(); at += 160, o += payload) {
    out[o] = 0xF0;  // no mode request, as the registry's payloads carry
    Encoder_Interface_Encode(e, static_cast<Mode>(mode), &pcm[at], &out[o + 1], 0);
  }
  Encoder_Interface_exit(e);
  return out;
}

Pcm opencoreAmrnbDecode(const Bytes& in, std::size_t payload) {
  void* d = Decoder_Interface_init();
  Pcm out(in.size() / payload * 160);
  for (std::size_t at = 0; at + payload <= in.size(); at += payload)
    Decoder_Interface_Decode(d, &in[at + 1], &out[at / payload * 160], 0);
  Decoder_Interface_exit(d);
  return out;
}
#endif

#if defined(HAVE_VO_AMRWBENC)
// vo-amrwbenc writes RFC 4867 storage frames; the registry's payload puts a
// mode-request octet before the same layout.  Modes: 0 = 6.6 ... 8 = 23.85.
Bytes voAmrwbEncode(const Pcm& pcm, int mode, std::size_t payload) {
  void* e = E_IF_init();
  Bytes out(pcm.size() / 320 * payload);
  for (std::size_t at = 0, o = 0; at + 320 <= pcm.size(); at += 320, o += payload) {
    out[o] = 0xF0;
    E_IF_encode(e, mode, &pcm[at], &out[o + 1], 0);
  }
  E_IF_exit(e);
  return out;
}
#endif

#if defined(HAVE_OPENCORE_AMRWB)
Pcm opencoreAmrwbDecode(const Bytes& in, std::size_t payload) {
  void* d = D_IF_init();
  Pcm out(in.size() / payload * 320);
  for (std::size_t at = 0; at + payload <= in.size(); at += payload)
    D_IF_decode(d, &in[at + 1], &out[at / payload * 320], 0);
  D_IF_exit(d);
  return out;
}
#endif

#if defined(HAVE_FFMPEG)
// One libavcodec coder of 16-bit mono audio, used the way an application
// does: a frame or packet sent, every output received.
struct Ff {
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  Ff(AVCodecID id, bool encoder, int rate, int bitRate, int bitsPerCode) {
    const AVCodec* c = encoder ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
    if (c == nullptr) return;
    ctx = avcodec_alloc_context3(c);
    ctx->sample_rate = rate;
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    ctx->bit_rate = bitRate;
    ctx->bits_per_coded_sample = bitsPerCode;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (avcodec_open2(ctx, c, nullptr) < 0) avcodec_free_context(&ctx);
  }
  ~Ff() {
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
  explicit operator bool() const { return ctx != nullptr; }

  Bytes encode(const Pcm& pcm, int packetSamples) {
    const int n = ctx->frame_size > 0 ? ctx->frame_size : packetSamples;
    Bytes out;
    out.reserve(pcm.size());
    frame->nb_samples = n;
    frame->format = AV_SAMPLE_FMT_S16;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    av_frame_get_buffer(frame, 0);
    for (std::size_t at = 0; at + static_cast<std::size_t>(n) <= pcm.size(); at += static_cast<std::size_t>(n)) {
      av_frame_make_writable(frame);
      std::memcpy(frame->data[0], &pcm[at], static_cast<std::size_t>(n) * 2);
      avcodec_send_frame(ctx, frame);
      while (avcodec_receive_packet(ctx, pkt) == 0) {
        out.insert(out.end(), pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
      }
    }
    return out;
  }

  Pcm decode(const Bytes& in, std::size_t packetBytes) {
    Pcm out;
    out.reserve(in.size() * 4);
    std::vector<uint8_t> buf(packetBytes + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    for (std::size_t at = 0; at + packetBytes <= in.size(); at += packetBytes) {
      std::memcpy(buf.data(), &in[at], packetBytes);
      pkt->data = buf.data();
      pkt->size = static_cast<int>(packetBytes);
      avcodec_send_packet(ctx, pkt);
      while (avcodec_receive_frame(ctx, frame) == 0) {
        const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
        out.insert(out.end(), s, s + frame->nb_samples);
        av_frame_unref(frame);
      }
    }
    return out;
  }
};

Bytes ffEncode(AVCodecID id, int rate, int kbps, const Pcm& pcm) {
  Ff f(id, true, rate, kbps * 1000, 0);
  return f ? f.encode(pcm, rate / 50) : Bytes{};
}
Pcm ffDecode(AVCodecID id, int rate, int kbps, int bitsPerCode, const Bytes& in) {
  Ff f(id, false, rate, kbps * 1000, bitsPerCode);
  return f ? f.decode(in, static_cast<std::size_t>(kbps * 1000 / 8 / 50)) : Pcm{};
}
#endif

// ---- matches ----------------------------------------------------------------

struct Match {
  std::string coder, peer;
  std::function<void()> ours, theirs;
  std::function<std::string()> agreement;  // "same bits" / "differs" after both ran
  std::string name() const {
    std::string n = coder + "/" + peer;
    for (char& c : n)
      if (c == ' ' || c == '.') c = '-';
    return n;
  }
};

// "same", or the share of equal elements.
template <class T>
std::string agree(const T& a, const T& b) {
  if (a.empty() || b.empty()) return "-";
  if (a == b) return "same";
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t equal = 0;
  for (std::size_t i = 0; i < n; ++i) equal += a[i] == b[i];
  char text[32];
  std::snprintf(text, sizeof text, "%.3f%% equal", 100.0 * static_cast<double>(equal) / static_cast<double>(n));
  return text;
}

// Results kept between the runs, so that agreement can be reported.
struct Outputs {
  Bytes b1, b2;
  Pcm p1, p2;
};

std::vector<Match> matches(const Pcm& nb, const Pcm& wb, std::vector<Outputs>& keep) {
  std::vector<Match> m;
  keep.reserve(64);
  auto add = [&](std::string coder, std::string peer, auto ours, auto theirs) {
    keep.emplace_back();
    Outputs* o = &keep.back();
    Match x;
    x.coder = std::move(coder);
    x.peer = std::move(peer);
    x.ours = [o, ours] { ours(*o, true); };
    x.theirs = [o, theirs] { theirs(*o, false); };
    x.agreement = [o] { return o->b1.empty() ? agree(o->p1, o->p2) : agree(o->b1, o->b2); };
    m.push_back(std::move(x));
  };
  auto put = [](Outputs& o, bool first, auto&& v) {
    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, Bytes>) {
      (first ? o.b1 : o.b2) = std::move(v);
    } else {
      (first ? o.p1 : o.p2) = std::move(v);
    }
  };
  // The shared streams the decoders read.
  const Bytes g729aStream = g729aEncode(nb);
  const Bytes g722Stream = g722Encode(wb);
  (void)put;
  (void)g729aStream;
  (void)g722Stream;
#if defined(HAVE_BCG729)
  add("G.729A encode", "bcg729", [&nb, put](Outputs& o, bool f) { put(o, f, g729aEncode(nb)); },
      [&nb, put](Outputs& o, bool f) { put(o, f, bcg729Encode(nb)); });
  add("G.729A decode", "bcg729", [g729aStream, put](Outputs& o, bool f) { put(o, f, g729aDecode(g729aStream)); },
      [g729aStream, put](Outputs& o, bool f) { put(o, f, bcg729Decode(g729aStream)); });
#endif
#if defined(HAVE_FFMPEG)
  add("G.722-64 encode", "FFmpeg", [&wb, put](Outputs& o, bool f) { put(o, f, g722Encode(wb)); },
      [&wb, put](Outputs& o, bool f) { put(o, f, ffEncode(AV_CODEC_ID_ADPCM_G722, 16000, 64, wb)); });
  add("G.722-64 decode", "FFmpeg", [g722Stream, put](Outputs& o, bool f) { put(o, f, g722Decode(g722Stream)); },
      [g722Stream, put](Outputs& o, bool f) { put(o, f, ffDecode(AV_CODEC_ID_ADPCM_G722, 16000, 64, 8, g722Stream)); });
#endif
#if defined(HAVE_SPANDSP)
  add("G.722-64 encode", "spandsp", [&wb, put](Outputs& o, bool f) { put(o, f, g722Encode(wb)); },
      [&wb, put](Outputs& o, bool f) { put(o, f, spandspG722Encode(wb)); });
  add("G.722-64 decode", "spandsp", [g722Stream, put](Outputs& o, bool f) { put(o, f, g722Decode(g722Stream)); },
      [g722Stream, put](Outputs& o, bool f) { put(o, f, spandspG722Decode(g722Stream)); });
#endif
#if defined(HAVE_LIBGSM)
  const Bytes gsmStream = registryEncode("gsm-fr", nb);
  add("GSM-FR encode", "libgsm", [&nb, put](Outputs& o, bool f) { put(o, f, registryEncode("gsm-fr", nb)); },
      [&nb, put](Outputs& o, bool f) { put(o, f, libgsmEncode(nb)); });
  add("GSM-FR decode", "libgsm", [gsmStream, put](Outputs& o, bool f) { put(o, f, registryDecode("gsm-fr", gsmStream, 33)); },
      [gsmStream, put](Outputs& o, bool f) { put(o, f, libgsmDecode(gsmStream)); });
#endif
#if defined(HAVE_OPENCORE_AMRNB)
  struct AmrRate {
    const char* name;
    const char* options;
    int mode;
    std::size_t payload;  // mode-request octet, type octet, speech bits
  };
  for (const AmrRate& r : {AmrRate{"AMR-NB-12.2", "mode=12.2", 7, 33}, AmrRate{"AMR-NB-4.75", "mode=4.75", 0, 14}}) {
    const Bytes stream = registryEncode("amr-nb", nb, r.options);
    add(std::string(r.name) + " encode", "opencore", [&nb, r, put](Outputs& o, bool f) { put(o, f, registryEncode("amr-nb", nb, r.options)); },
        [&nb, r, put](Outputs& o, bool f) { put(o, f, opencoreAmrnbEncode(nb, r.mode, r.payload)); });
    add(std::string(r.name) + " decode", "opencore", [stream, r, put](Outputs& o, bool f) { put(o, f, registryDecode("amr-nb", stream, r.payload)); },
        [stream, r, put](Outputs& o, bool f) { put(o, f, opencoreAmrnbDecode(stream, r.payload)); });
  }
#endif
  struct AmrWbRate {
    const char* name;
    const char* options;
    int mode;
    std::size_t payload;  // mode-request octet, type octet, speech bits
  };
  for (const AmrWbRate& r : {AmrWbRate{"AMR-WB-12.65", "mode=12.65", 2, 34}, AmrWbRate{"AMR-WB-23.85", "mode=23.85", 8, 62}}) {
    (void)r;
#if defined(HAVE_VO_AMRWBENC)
    add(std::string(r.name) + " encode", "vo-amrwbenc", [&wb, r, put](Outputs& o, bool f) { put(o, f, registryEncode("amr-wb", wb, r.options)); },
        [&wb, r, put](Outputs& o, bool f) { put(o, f, voAmrwbEncode(wb, r.mode, r.payload)); });
#endif
#if defined(HAVE_OPENCORE_AMRWB)
    const Bytes stream = registryEncode("amr-wb", wb, r.options);
    add(std::string(r.name) + " decode", "opencore", [stream, r, put](Outputs& o, bool f) { put(o, f, registryDecode("amr-wb", stream, r.payload)); },
        [stream, r, put](Outputs& o, bool f) { put(o, f, opencoreAmrwbDecode(stream, r.payload)); });
#endif
  }
  for (int kbps : {16, 24, 32, 40}) {
    const std::string rate = "G.726-" + std::to_string(kbps);
    (void)rate;
#if defined(HAVE_SPANDSP)
    const Bytes codes = g726Encode(nb, kbps, false);
    add(rate + " encode", "spandsp", [&nb, kbps, put](Outputs& o, bool f) { put(o, f, g726Encode(nb, kbps, false)); },
        [&nb, kbps, put](Outputs& o, bool f) { put(o, f, spandspG726Encode(nb, kbps)); });
    add(rate + " decode", "spandsp", [codes, kbps, put](Outputs& o, bool f) { put(o, f, g726Decode(codes, kbps, false)); },
        [codes, kbps, put](Outputs& o, bool f) { put(o, f, spandspG726Decode(codes, kbps)); });
#endif
#if defined(HAVE_FFMPEG)
    const Bytes packed = g726Encode(nb, kbps, true);
    add(rate + " encode", "FFmpeg", [&nb, kbps, put](Outputs& o, bool f) { put(o, f, g726Encode(nb, kbps, true)); },
        [&nb, kbps, put](Outputs& o, bool f) { put(o, f, ffEncode(AV_CODEC_ID_ADPCM_G726LE, 8000, kbps, nb)); });
    add(rate + " decode", "FFmpeg", [packed, kbps, put](Outputs& o, bool f) { put(o, f, g726Decode(packed, kbps, true)); },
        [packed, kbps, put](Outputs& o, bool f) {
          put(o, f, ffDecode(AV_CODEC_ID_ADPCM_G726LE, 8000, kbps, kbps / 8, packed));
        });
#endif
  }
  return m;
}

double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double timed(const std::function<void()>& f) {
  const double t0 = cpuSeconds();
  f();
  return cpuSeconds() - t0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  int rounds = 7;
  int repeat = 1;
  const char* input = VOKSC_BENCH_SAMPLE;
  std::string only, side, filter = ".";
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--seconds") {
      seconds = std::atof(next());
    } else if (a == "--rounds") {
      rounds = std::max(1, std::atoi(next()));
    } else if (a == "--input") {
      input = next();
    } else if (a == "--only") {
      only = next();
    } else if (a == "--repeat") {
      repeat = std::max(1, std::atoi(next()));
    } else if (a == "--side") {
      side = next();
    } else if (a == "--filter") {
      filter = next();
    } else if (a == "--list") {
      list = true;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--rounds R] [--input FILE] [--filter REGEX] [--list]\n"
                   "       %s --only MATCH --side voksc|peer [--seconds S] [--repeat N] [--input FILE]\n",
                   argv[0], argv[0]);
      return 2;
    }
  }
  const Pcm nb = readSpeech(input, seconds);
  const Pcm wb = upsample(nb);
  std::vector<Outputs> keep;
  const std::vector<Match> all = matches(nb, wb, keep);
  if (list) {
    for (const Match& m : all) std::printf("%s\n", m.name().c_str());
    return 0;
  }
  if (!only.empty()) {
    for (const Match& m : all) {
      if (m.name() != only) continue;
      const std::function<void()>& f = side == "peer" ? m.theirs : m.ours;
      // A sampling profiler started with its collection off can be switched
      // on for the coding loop alone through a control FIFO (perf record -D -1
      // --control fifo:PATH), as callgrind is through its client request.
      std::FILE* control = std::getenv("VOKSC_PERF_CONTROL") ? std::fopen(std::getenv("VOKSC_PERF_CONTROL"), "w") : nullptr;
      if (control) std::fputs("enable\n", control), std::fflush(control);
      COUNT_TOGGLE();
      for (int r = 0; r < repeat; ++r) f();
      COUNT_TOGGLE();
      if (control) std::fputs("disable\n", control), std::fclose(control);
      return 0;
    }
    std::fprintf(stderr, "no match %s\n", only.c_str());
    return 2;
  }
  std::printf("| match | coder | peer | voksc ms | peer ms | CPU-time ratio | outputs |\n"
              "|---|---|---|---|---|---|---|\n");
  const std::regex wanted(filter);
  for (const Match& m : all) {
    if (!std::regex_search(m.name(), wanted)) continue;
    std::vector<double> ours, theirs;
    for (int r = 0; r < rounds; ++r) {
      if (r % 2 == 0) {
        ours.push_back(timed(m.ours));
        theirs.push_back(timed(m.theirs));
      } else {
        theirs.push_back(timed(m.theirs));
        ours.push_back(timed(m.ours));
      }
    }
    const double a = median(ours), b = median(theirs);
    std::printf("| %s | %s | %s | %.1f | %.1f | %.2fx | %s |\n", m.name().c_str(), m.coder.c_str(), m.peer.c_str(),
                1e3 * a, 1e3 * b, b / a, m.agreement().c_str());
    std::fflush(stdout);
  }
  return 0;
}
