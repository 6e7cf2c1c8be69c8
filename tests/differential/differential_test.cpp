// Differential tests: every complete coder of vokcodec against the ITU
// reference coders on inputs the official vectors never contain.
//
// Each table row is a coder.  The test generates its hostile input
// deterministically (white and coloured noise at five levels up to full
// scale, clipped squares, a chirp, official speech driven into clipping,
// voiced sound at the longest and shortest pitch delays, DC steps, silence
// with single impulses), encodes it through vokcodec's C interface (by
// codec name, or a coder's own frame calls), impairs the resulting stream
// (random erasures from 1 to 10 %, erasures right after extreme pitch
// delays, flipped parity bits, random parameter frames) and decodes that,
// and decodes a stream of random frames with losses (the G.729 family from
// the serial file the reference decoder reads, through the codec's reader).
// Every 10 ms frame of each output
// gets a CRC-32; the committed golden file holds the reference coder's
// CRCs for the same input, and a mismatch names the first differing frame.
//
// How the goldens are made: run this program with VOKSC_DIFF_DUMP=<dir>;
// it writes each case's input there in the reference tools' file formats
// (16-bit PCM or G.711 words, ITU serial bitstreams, rate files).  A driver
// kept outside the repository runs the unmodified reference programs
// (built from the ITU packages) on those files and writes the per-frame
// CRCs of their outputs into tests/golden/differential/<case>.crc (32-bit
// little-endian words).  An encoder's frame is hashed as its bit count (two
// bytes, little endian) followed by one byte per bit (a G.726 or G.722
// frame: 80 codes, one byte each), a decoder's frame as its 16-bit
// little-endian samples.
//
// A new family adds a row (encode/decode through its C interface) and its
// golden files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "amrnb/amrnb_bits.h"
#include "amrnb/amrnb_encoder.h"
#include "amrwb/amrwb_codec.h"
#include "g729/g729_common.h"
#include "g729/g729_serial.h"
#include "gsmfr/gsmfr_codec.h"
#include "diff_support.h"
#include "registry.h"
#include "vectors.h"
#include "vokcodec.h"

namespace {

using difftest::compare;
using difftest::crc32;
using difftest::pcmCrcs;
using difftest::Rng;

// ---- frames and checksums ---------------------------------------------------

// One coded frame: its bits (one per byte) and whether the channel lost it.
struct Frame {
  std::vector<uint8_t> bits;
  bool erased = false;
};
using Stream = std::vector<Frame>;

uint32_t frameCrc(const Frame& f) {
  std::vector<uint8_t> b{static_cast<uint8_t>(f.bits.size() & 0xFF), static_cast<uint8_t>(f.bits.size() >> 8)};
  b.insert(b.end(), f.bits.begin(), f.bits.end());
  return crc32(b.data(), b.size());
}

// ---- deterministic hostile input -------------------------------------------

// Everything below is integer arithmetic, so the inputs are the same on
// every compiler and library.
int16_t clip(int64_t v) { return static_cast<int16_t>(std::max<int64_t>(-32768, std::min<int64_t>(32767, v))); }

// Sine of a 16-bit phase, Q15 (a parabola per half wave: close enough for
// test signals, exact in integers).
int32_t sine(uint32_t phase) {
  const int32_t p = static_cast<int32_t>(phase & 0x7FFF);  // position in the half wave, Q15
  const int32_t v = static_cast<int32_t>((int64_t{4} * p * (32768 - p)) >> 15);
  return phase & 0x8000 ? -v : v;
}

std::vector<int16_t> officialSpeech() {
  std::vector<int16_t> w;
  vtest::readWords(vtest::testVectorDir() + "/g729/main/SPEECH.IN", w);
  return w;
}

// Segments of one second each at the given sample rate.
std::vector<int16_t> hostileSignal(int rate) {
  std::vector<int16_t> x;
  Rng rng(rate);
  const int64_t levels[5] = {300, 2000, 8000, 16000, 40000};  // about the RMS; the last one clips
  for (int coloured = 0; coloured < 2; ++coloured) {
    for (int64_t rms : levels) {
      int64_t lp = 0;  // first-order low-pass of unit gain in power
      for (int i = 0; i < rate; ++i) {
        const int64_t w = rng.gauss();
        lp = (lp * 29491 + w * 14283) >> 15;
        x.push_back(clip((rms * (coloured ? lp : w)) >> 11));
      }
    }
  }
  uint64_t phase = 0;
  for (int i = 0; i < rate; ++i) {  // squares of rising frequency, twice full scale, clipped
    phase += (65536ull * (50 + 3000ull * i / rate)) / rate;
    x.push_back(clip(sine(static_cast<uint32_t>(phase)) >= 0 ? 65536 : -65536));
  }
  phase = 0;
  for (int i = 0; i < rate; ++i) {  // chirp up to the Nyquist frequency at full scale
    phase += (65536ull * (20 + (rate / 2 - 20ull) * i / rate)) / rate;
    x.push_back(clip(sine(static_cast<uint32_t>(phase))));
  }
  const std::vector<int16_t> speech = officialSpeech();
  for (int gain : {4, 16}) {  // speech driven into clipping
    for (int i = 0; i < rate; ++i)
      x.push_back(speech.empty() ? 0 : clip(int64_t{gain} * speech[(i * 8000 / rate + 4000 * gain) % speech.size()]));
  }
  // Voiced sound at the delay limits: a resonance excited with periods
  // gliding over 141..145 samples, then over 19..22 (at 8 kHz; periods in
  // 1/256 sample).
  for (int64_t lo : {141 * 256, 19 * 256}) {
    const int64_t span = lo > 100 * 256 ? 4 * 256 : 3 * 256;
    int64_t y1 = 0, y2 = 0, next = 0;
    for (int i = 0; i < rate; ++i) {
      int64_t e = 0;
      if (int64_t{i} * 8000 * 256 / rate >= next) {
        e = 6000;
        next += lo + span * i / rate;
      }
      const int64_t y = e + ((y1 * 29491 - y2 * 14746) >> 14);  // poles at radius 0.95
      y2 = y1;
      y1 = y;
      x.push_back(clip(y));
    }
  }
  const int16_t steps[6] = {0, 32767, -32768, 20000, 0, -32768};
  for (int i = 0; i < rate; ++i) x.push_back(steps[i * 6 / rate]);
  for (int i = 0; i < rate; ++i) x.push_back(i % (rate / 7) == rate / 14 ? (i & 1 ? 32767 : -32768) : 0);
  return x;
}

// ---- channel impairments ----------------------------------------------------

// An 80-bit frame's pitch delays: the first subframe's index (8 bits from
// bit 18) and the second's (5 bits from bit 51).
int field(const std::vector<uint8_t>& b, int at, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = (v << 1) | (b[at + i] & 1);
  return v;
}

// An 80-bit frame whose second delay has the integer part 144 (the first
// delay 140 or more, the second index 31), or whose first delay is the
// smallest.
bool secondDelay144(const std::vector<uint8_t>& b) {
  if (b.size() != 80) return false;
  const int p1 = field(b, 18, 8);
  const int t1 = p1 < 197 ? (p1 + 2) / 3 + 19 : p1 - 112;
  return t1 >= 140 && field(b, 51, 5) == 31;
}
bool extremeDelay(const std::vector<uint8_t>& b) { return secondDelay144(b) || (b.size() == 80 && field(b, 18, 8) < 3); }

// Erasures at a rate rising from 1 % to 10 % over the stream, an erasure
// after every frame with an extreme delay, flipped parity bits, random
// parameter frames of the same size.
// Random content of a frame of its size: bits, or for packed frames bytes
// whose first two bits keep the frame type (G.723.1: and so the size).
void scramble(Frame& f, Rng& rng, bool packed) {
  const int type = f.bits.empty() ? 0 : f.bits[0] & 3;
  for (auto& b : f.bits) b = static_cast<uint8_t>(rng.next() & (packed ? 0xFF : 1));
  if (packed && !f.bits.empty()) f.bits[0] = static_cast<uint8_t>((f.bits[0] & 0xFC) | type);
}

Stream impair(Stream s, uint64_t seed, bool framed, int codeMask, bool packed) {
  Rng rng(seed);
  bool eraseNext = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    Frame& f = s[i];
    if (!framed) {  // sample coders: runs of random codes
      if (rng.chance(50000))
        for (auto& b : f.bits) b = static_cast<uint8_t>(rng.next() & codeMask);
      continue;
    }
    const auto p = static_cast<uint32_t>(10000 + 90000 * i / s.size());
    const bool extreme = extremeDelay(f.bits);
    if (eraseNext || rng.chance(p)) {
      f.erased = true;
    } else if (f.bits.size() == 80 && rng.chance(20000)) {
      f.bits[26] ^= 1;  // parity of the first delay
    } else if (!f.bits.empty() && rng.chance(20000)) {
      scramble(f, rng, packed);
    }
    eraseNext = extreme && !eraseNext;
  }
  return s;
}

// Every frame random (the first 600, sizes as coded), 5 % of them lost:
// delays, positions, gains and SID parameters an encoder never sends.
Stream randomFrames(Stream s, uint64_t seed, bool framed, int codeMask, bool packed) {
  Rng rng(seed);
  s.resize(std::min<std::size_t>(s.size(), 600));
  for (Frame& f : s) {
    if (framed)
      scramble(f, rng, packed);
    else
      for (auto& b : f.bits) b = static_cast<uint8_t>(rng.next() & codeMask);
    f.erased = framed && rng.chance(50000);
  }
  return s;
}

// Erasure after each frame whose second delay is 144 (official streams).
Stream eraseAfterLag144(Stream s) {
  bool eraseNext = false;
  for (Frame& f : s) {
    if (eraseNext) f.erased = true;
    eraseNext = !eraseNext && secondDelay144(f.bits);
  }
  return s;
}

// ---- ITU serial files -------------------------------------------------------

void putWord(std::vector<uint8_t>& o, int w) {
  o.push_back(static_cast<uint8_t>(w & 0xFF));
  o.push_back(static_cast<uint8_t>((w >> 8) & 0xFF));
}

// Sync word, bit count, one word per bit; a lost frame has all bit words
// zero (an empty lost frame a different sync word).
std::vector<uint8_t> serialFile(const Stream& s) {
  std::vector<uint8_t> o;
  for (const Frame& f : s) {
    putWord(o, f.erased && f.bits.empty() ? 0x6B20 : 0x6B21);
    putWord(o, static_cast<int>(f.bits.size()));
    for (uint8_t b : f.bits) putWord(o, f.erased ? 0 : (b ? 0x81 : 0x7F));
  }
  return o;
}

Stream readSerial(const std::string& path) {
  std::vector<uint8_t> b;
  std::vector<vokc::SerialFrame> frames;
  std::string err;
  Stream s;
  if (vtest::readFile(path, b) && vokc::readSerialFrames(b, {80}, frames, err))
    for (const auto& f : frames) s.push_back({f.bits});
  return s;
}

// The codes of the sample coders, one 16-bit word each.
std::vector<uint8_t> codesFile(const Stream& s) {
  std::vector<uint8_t> o;
  for (const Frame& f : s)
    for (uint8_t c : f.bits) putWord(o, c);
  return o;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

std::vector<uint8_t> wordsBytes(const std::vector<int16_t>& w) {
  std::vector<uint8_t> o;
  for (int16_t v : w) putWord(o, static_cast<uint16_t>(v));
  return o;
}

// ---- the coders ---------------------------------------------------------------

// Per-frame rates of the multi-rate coders (0 .. count-1), changing at
// random; written for the reference as one 16-bit word per frame.
std::vector<int16_t> ratePattern(std::size_t frames, int count) {
  Rng rng(11);
  std::vector<int16_t> r;
  int cur = count - 1;
  for (std::size_t i = 0; i < frames; ++i) {
    if (rng.chance(100000)) cur = static_cast<int>(rng.next() % count);
    r.push_back(static_cast<int16_t>(cur));
  }
  return r;
}

// G.711 character of a linear sample (input for the G.726 coders).
int16_t g711(int16_t x, bool alaw) {
  const int mag = std::min(x < 0 ? -int{x} : int{x}, 32767);
  if (alaw) {
    const int m = mag >> 3;
    int seg = 0;
    while (seg < 7 && m >= (32 << seg)) ++seg;
    const int mant = seg == 0 ? m >> 1 : (m >> seg) & 15;
    return static_cast<int16_t>(((x >= 0 ? 0x80 : 0) | seg << 4 | mant) ^ 0x55);
  }
  const int m = std::min(mag, 32635) + 0x84;
  int seg = 7;
  while (seg > 0 && !(m & (0x80 << seg))) --seg;
  return static_cast<int16_t>(~((x < 0 ? 0x80 : 0) | seg << 4 | ((m >> (seg + 3)) & 15)) & 0xFF);
}

enum class Input { Pcm, ALaw, ULaw };
enum class Bitstream { Itu, G723, Gsm, G728, G192 };

// ---- G.723.1 and GSM full rate, through the codecs-by-name interface --------

// Encodes frame by frame; rates (optional): the option string per frame.
Stream namedEncode(const char* codec, const char* options, const std::vector<int16_t>& pcm,
                   const std::vector<const char*>& rates = {}) {
  const VokcCodec* c = vokcCodecFind(codec);
  VokcCodecInfo info{};
  VokcCoder* e = nullptr;
  EXPECT_EQ(vokcCodecGetInfo(c, &info), vokOk);
  EXPECT_EQ(vokcEncoderCreate(c, options, nullptr, 0, &e), vokOk);
  Stream s;
  std::vector<Vok8u> payload(static_cast<std::size_t>(info.maxPayload));
  for (std::size_t at = 0; e && at + info.frameSamples <= pcm.size(); at += info.frameSamples) {
    if (s.size() < rates.size()) EXPECT_EQ(vokcEncoderSet(e, rates[s.size()]), vokOk);
    int n = 0;
    EXPECT_EQ(vokcEncodeFrame(e, &pcm[at], payload.data(), info.maxPayload, &n), vokOk);
    s.push_back({std::vector<uint8_t>(payload.begin(), payload.begin() + n)});
  }
  vokcDestroy(e);
  return s;
}

std::vector<int16_t> namedDecode(const char* codec, const char* options, const Stream& s) {
  const VokcCodec* c = vokcCodecFind(codec);
  VokcCodecInfo info{};
  VokcCoder* d = nullptr;
  EXPECT_EQ(vokcCodecGetInfo(c, &info), vokOk);
  EXPECT_EQ(vokcDecoderCreate(c, options, nullptr, 0, &d), vokOk);
  std::vector<int16_t> out;
  std::vector<Vok16s> pcm(static_cast<std::size_t>(info.frameSamples));
  for (const Frame& f : s) {
    int n = 0;
    EXPECT_EQ(vokcDecodeFrame(d, f.erased ? nullptr : f.bits.data(), static_cast<int>(f.bits.size()), pcm.data(), &n),
              vokOk);
    out.insert(out.end(), pcm.begin(), pcm.begin() + n);
  }
  vokcDestroy(d);
  return out;
}

// Per-frame rate options: ratePattern's words as indices into `names`.
std::vector<const char*> rateOptions(std::size_t frames, const std::vector<const char*>& names) {
  std::vector<const char*> r;
  if (names.empty()) return r;
  for (int16_t w : ratePattern(frames, static_cast<int>(names.size()))) r.push_back(names[w]);
  return r;
}

// ---- the G.729 family: coded by name, decoded from ITU serial files ----------

// Each payload's octets spread to one byte per bit, most significant first:
// 15 octets carry 118 bits, a SID frame's 2 octets its 15 bits and the
// zero padding bit.
Stream g729Encode(const char* codec, const char* options, const std::vector<int16_t>& pcm,
                  const std::vector<const char*>& rates) {
  Stream s = namedEncode(codec, options, pcm, rates);
  for (Frame& f : s) {
    std::vector<uint8_t> bits(f.bits.size() == 15 ? 118 : 8 * f.bits.size());
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = (f.bits[i / 8] >> (7 - i % 8)) & 1;
    f.bits = bits;
  }
  return s;
}

// G.726: a "frame" is 80 codes, one byte each, unpacked from the payload.
Stream g726Encode(const std::string& codec, const char* law, const std::vector<int16_t>& chars) {
  Stream s = namedEncode(codec.c_str(), (std::string("law=") + law).c_str(), chars);
  for (Frame& f : s) {
    Vok8u codes[88];
    int n = 0;
    EXPECT_EQ(vokcG726Unpack(f.bits.data(), static_cast<int>(f.bits.size()), std::stoi(codec.substr(5)), codes, &n), vokOk);
    f.bits.assign(codes, codes + n);
  }
  return s;
}

struct Row {
  const char* name;
  int rate;      // samples per second
  int frameLen;  // samples per 10 ms frame (G.722.1: per 20 ms frame)
  std::function<Stream(const std::vector<int16_t>&)> encode;
  std::function<std::vector<int16_t>(const Stream&)> decode;
  Input input = Input::Pcm;
  int rates = 0;         // per-frame rates written for the reference (multi-rate coders)
  bool framed = true;    // frames can be lost (else impaired by random codes only)
  int codeMask = 0xFF;   // valid bits of a sample coder's code
  // Decoded against a stream of random frames.  Not Annex E: its reference
  // decoder reads an uninitialised backward filter after a lost 8 kbit/s
  // frame, and on random streams its output changes with the build.
  bool randomStream = true;
  // Layout of the reference's files: ITU serial frames (or code words for
  // a sample coder), G.723.1 packed frames with an erasure file beside, or
  // the GSM 06.10 parameter words.  Packed G.723.1 frames keep their type
  // bits when scrambled.
  Bitstream stream = Bitstream::Itu;
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

const std::vector<Row>& rows() {
  static const std::vector<Row> r = [] {
    std::vector<Row> v;
    // The G.729 family, decoded by the codec's reader of the serial file the
    // reference decoder reads (a lost frame keeps its size there); Annex D
    // alternates 8 and 6.4 kbit/s, Annexes E and I change their rates at
    // random (I with DTX).
    static const struct { const char *codec, *options; std::vector<const char*> rates; } g729[] = {
        {"g729", "", {}}, {"g729a", "", {}}, {"g729b", "", {}}, {"g729ab", "", {}}, {"g729d", "mode=3", {}},
        {"g729e", "", {"bitrate=8", "bitrate=11.8"}}, {"g729i", "dtx=1", {"bitrate=6.4", "bitrate=8", "bitrate=11.8"}}};
    for (const auto& g : g729) {
      const char *codec = g.codec, *options = g.options;
      const std::vector<const char*>* rates = &g.rates;
      v.push_back({codec, 8000, 80,
                   [=](const auto& x) { return g729Encode(codec, options, x, rateOptions(x.size() / 80, *rates)); },
                   [=](const Stream& s) { return difftest::decodeFile(codec, serialFile(s)); }, Input::Pcm,
                   static_cast<int>(rates->size())});
    }
    v[5].randomStream = false;  // g729e
    // G.726 decoded from the file of one code per word.
    static const char* const g726Names[2][4] = {{"g726a16", "g726a24", "g726a32", "g726a40"},
                                                {"g726u16", "g726u24", "g726u32", "g726u40"}};
    for (int law = 0; law < 2; ++law) {
      for (int k = 0; k < 4; ++k) {
        const std::string codec = "g726-" + std::to_string(16 + 8 * k);
        const char* name = law ? "ulaw" : "alaw";
        v.push_back({g726Names[law][k], 8000, 80, [=](const auto& x) { return g726Encode(codec, name, x); },
                     [=](const Stream& s) { return difftest::decodeFile(codec, codesFile(s), "itu", name); },
                     law ? Input::ULaw : Input::ALaw, 0, false, (1 << (k + 2)) - 1});
      }
    }
    // G.722: a frame is 160 samples, 80 codewords; the decoder of each mode.
    static const char* const g722[3][2] = {{"g722m1", "g722-64"}, {"g722m2", "g722-56"}, {"g722m3", "g722-48"}};
    for (const auto& g : g722) {
      const char* codec = g[1];
      v.push_back({g[0], 16000, 160, [](const auto& x) { return namedEncode("g722-64", "", x); },
                   [codec](const Stream& s) { return namedDecode(codec, "", s); }, Input::Pcm, 0, false});
    }
    // G.723.1: 6.3 kbit/s with both filters; 5.3 kbit/s with neither;
    // Annex A silence compression with the rate changing at random.
    v.push_back({"g723_63", 8000, 80, [](const auto& x) { return namedEncode("g723-63", "", x); },
                 [](const Stream& s) { return namedDecode("g723-63", "", s); }});
    v.push_back({"g723_53", 8000, 80, [](const auto& x) { return namedEncode("g723-53", "highpass=0", x); },
                 [](const Stream& s) { return namedDecode("g723-53", "postfilter=0", s); }});
    v.push_back({"g723_dtx", 8000, 80,
                 [](const auto& x) { return namedEncode("g723-63", "dtx=1", x, rateOptions(x.size() / 240, {"bitrate=6.3", "bitrate=5.3"})); },
                 [](const Stream& s) { return namedDecode("g723-63", "", s); }, Input::Pcm, 2});
    for (Row* r : {&v[v.size() - 3], &v[v.size() - 2], &v.back()}) r->stream = Bitstream::G723;
    // GSM 06.10: no loss concealment, so random payloads only.
    v.push_back({"gsm_fr", 8000, 80, [](const auto& x) { return namedEncode("gsm-fr", "", x); },
                 [](const Stream& s) { return namedDecode("gsm-fr", "", s); }, Input::Pcm, 0, false});
    v.back().stream = Bitstream::Gsm;
    // G.728: 2.5 ms frames; concealment (which the reference runs with its
    // post-filter only) with the post-filter, random codewords without.
    v.push_back({"g728", 8000, 80, [](const auto& x) { return namedEncode("g728", "", x); },
                 [](const Stream& s) { return namedDecode("g728", "", s); }});
    v.back().stream = Bitstream::G728;
    v.push_back({"g728_nopf", 8000, 80, [](const auto& x) { return namedEncode("g728", "", x); },
                 [](const Stream& s) { return namedDecode("g728", "postfilter=0", s); }, Input::Pcm, 0, false});
    v.back().stream = Bitstream::G728;
    // G.722.1 at both rates of the 7 kHz mode and the three of the 14 kHz
    // mode: 20 ms frames, G.192 streams for the reference decoder.
    static const struct { const char *row, *codec; int rate; } g7221[] = {
        {"g7221_24", "g7221-24", 16000}, {"g7221_32", "g7221-32", 16000}, {"g7221c_24", "g7221c-24", 32000},
        {"g7221c_32", "g7221c-32", 32000}, {"g7221c_48", "g7221c-48", 32000}};
    for (const auto& g : g7221) {
      const char* codec = g.codec;
      v.push_back({g.row, g.rate, g.rate / 50, [codec](const auto& x) { return namedEncode(codec, "", x); },
                   [codec](const Stream& s) { return namedDecode(codec, "", s); }});
      v.back().stream = Bitstream::G192;
    }
    return v;
  }();
  return r;
}

// ---- comparison ----------------------------------------------------------------

std::string dumpDir() {
  const char* d = std::getenv("VOKSC_DIFF_DUMP");
  return d ? d : "";
}

std::vector<uint32_t> streamCrcs(const Stream& s) {
  std::vector<uint32_t> v;
  for (const Frame& f : s) v.push_back(frameCrc(f));
  return v;
}

// A decoder input in the layout the row's reference reads.
void writeStream(const Row& row, const std::string& path, const Stream& s) {
  std::vector<uint8_t> o, lost;
  switch (row.stream) {
    case Bitstream::Itu:
      o = row.framed ? serialFile(s) : codesFile(s);
      break;
    case Bitstream::G723:  // the packed frames, and one erasure word per frame
      for (const Frame& f : s) {
        o.insert(o.end(), f.bits.begin(), f.bits.end());
        putWord(lost, f.erased);
      }
      writeFile(path + ".crc", lost);
      break;
    case Bitstream::G728:  // four 10-bit codewords per 5-byte payload, one word each; a '1' per lost frame
      for (const Frame& f : s) {
        uint64_t w = 0;
        for (std::size_t i = 0; i < 5; ++i) w = (w << 8) | (i < f.bits.size() ? f.bits[i] : 0);
        for (int k = 3; k >= 0; --k) putWord(o, static_cast<int>((w >> (10 * k)) & 0x3FF));
        lost.push_back(f.erased ? '1' : '0');
      }
      writeFile(path + ".mask", lost);
      break;
    case Bitstream::G192:  // sync word, bit count, a word per bit; a lost frame: sync 0x6B20 and zero words
      for (const Frame& f : s) {
        putWord(o, f.erased ? 0x6B20 : 0x6B21);
        putWord(o, static_cast<int>(8 * f.bits.size()));
        for (std::size_t i = 0; i < 8 * f.bits.size(); ++i)
          putWord(o, f.erased ? 0 : (f.bits[i / 8] >> (7 - i % 8)) & 1 ? 0x81 : 0x7F);
      }
      break;
    case Bitstream::Gsm:  // 76 parameter words per 33-byte frame
      for (const Frame& f : s) {
        int16_t p[vokc::gsmfr::kParams];
        vokc::gsmfr::unpackFrame(f.bits.data(), p);
        for (int16_t v : p) putWord(o, v);
      }
      break;
  }
  writeFile(path, o);
}

class Differential : public ::testing::TestWithParam<Row> {};

TEST_P(Differential, EncoderAndDecoderFollowTheReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const Row& row = GetParam();
  std::vector<int16_t> pcm = hostileSignal(row.rate);
  if (row.input != Input::Pcm)
    for (auto& x : pcm) x = g711(x, row.input == Input::ALaw);
  const Stream coded = row.encode(pcm);
  const bool packed = row.stream == Bitstream::G723 || row.stream == Bitstream::G192;
  const Stream impaired = impair(coded, 7, row.framed, row.codeMask, packed);
  if (!dumpDir().empty()) {
    const std::string base = dumpDir() + "/" + row.name;
    writeFile(base + ".enc.in", wordsBytes(pcm));
    writeStream(row, base + ".dec.in", impaired);
    if (row.rates) {
      const std::vector<int16_t> r = ratePattern(coded.size(), row.rates);
      writeFile(base + ".rate", packed ? std::vector<uint8_t>(r.begin(), r.end()) : wordsBytes(r));
    }
  }
  const Stream random = randomFrames(coded, 13, row.framed, row.codeMask, packed);
  if (!dumpDir().empty()) writeStream(row, dumpDir() + "/" + row.name + ".rnd.dec.in", random);
  EXPECT_EQ(compare(std::string(row.name) + ".enc", streamCrcs(coded)), "");
  const std::pair<const char*, const Stream*> decodes[2] = {{".dec", &impaired}, {".rnd", &random}};
  for (const auto& [suffix, stream] : decodes) {
    if (stream == &random && !row.randomStream) continue;
    const std::vector<int16_t> out = row.decode(*stream);
    if (!dumpDir().empty()) writeFile(dumpDir() + "/" + row.name + suffix + ".ours", wordsBytes(out));  // for debugging
    EXPECT_EQ(compare(std::string(row.name) + suffix, pcmCrcs(out, row.frameLen)), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Coders, Differential, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- AMR-NB and AMR-WB encoders ----------------------------------------------
// Every mode with DTX off and on (AMR-NB: with the first and with the second
// voice-activity detector), and with DTX a cycle through the modes from the
// highest down and back (AMR-NB: the 14-frame cycle of the 3GPP package's
// mode file, with both detectors; AMR-WB: 16 frames), on the hostile signal
// with encoder homing frames at frames 300, 301 and 650.  A frame is hashed
// as its bit count (two bytes, little endian), its frame type (0 speech, 1
// SID_FIRST, 2 SID_UPDATE, 3 NO_DATA, which carries no bits) and one byte
// per bit.  With VOKSC_DIFF_DUMP the input is written as <family>.enc.in
// and the cycle as <family>.modes, the reference's mode file (one mode per
// line: AMR-NB its name, AMR-WB its number).

struct AmrCase {
  std::string name;
  bool wide;  // AMR-WB
  int mode;   // or -1 for the cycle
  bool dtx;
  int vad;    // AMR-NB's detector
};

void PrintTo(const AmrCase& c, std::ostream* os) { *os << c.name; }

int amrCycleMode(bool wide, std::size_t frame) {
  const int top = wide ? 8 : 7;
  return std::abs(top - static_cast<int>(frame % (2 * top)));
}

const char* const kAmrNames[8] = {"475", "515", "59", "67", "74", "795", "102", "122"};

std::vector<AmrCase> amrCases() {
  std::vector<AmrCase> v;
  for (int m = 0; m < 8; ++m) {
    v.push_back({std::string("amrnb") + kAmrNames[m], false, m, false, 1});
    v.push_back({std::string("amrnb") + kAmrNames[m] + "vad1", false, m, true, 1});
    v.push_back({std::string("amrnb") + kAmrNames[m] + "vad2", false, m, true, 2});
  }
  v.push_back({"amrnbcyclevad1", false, -1, true, 1});
  v.push_back({"amrnbcyclevad2", false, -1, true, 2});
  for (int m = 0; m < vokc::amrwb::kModes; ++m) {
    v.push_back({"amrwb" + std::to_string(m), true, m, false, 0});
    v.push_back({"amrwb" + std::to_string(m) + "dtx", true, m, true, 0});
  }
  v.push_back({"amrwbcycledtx", true, -1, true, 0});
  return v;
}

class AmrEncoderDiff : public ::testing::TestWithParam<AmrCase> {};

TEST_P(AmrEncoderDiff, FollowsTheReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  namespace nb = vokc::amrnb;
  namespace wb = vokc::amrwb;
  const AmrCase& c = GetParam();
  const std::size_t len = c.wide ? wb::kFrame : nb::kFrame;
  std::vector<int16_t> pcm = hostileSignal(c.wide ? 16000 : 8000);
  for (std::size_t f : {300, 301, 650}) std::fill(pcm.begin() + f * len, pcm.begin() + (f + 1) * len, int16_t{8});
  const std::size_t frames = pcm.size() / len;
  if (!dumpDir().empty()) {
    const std::string base = dumpDir() + (c.wide ? "/amrwb" : "/amrnb");
    writeFile(base + ".enc.in", wordsBytes(pcm));
    std::string modes;
    for (std::size_t f = 0; f < frames; ++f) {
      const int m = amrCycleMode(c.wide, f);
      modes += (c.wide ? std::to_string(m) : std::string("MR") + kAmrNames[m]) + "\n";
    }
    writeFile(base + ".modes", std::vector<uint8_t>(modes.begin(), modes.end()));
  }
  auto narrow = std::make_unique<nb::AmrNbEncoder>();
  std::vector<unsigned char> memory(wb::amrwbEncoderSize() + 16);
  auto* wide = reinterpret_cast<wb::AmrWbEncoder*>((reinterpret_cast<std::uintptr_t>(memory.data()) + 15) &
                                                   ~std::uintptr_t{15});
  ASSERT_EQ(c.wide ? wb::amrwbEncoderInit(wide, c.dtx) : nb::amrnbEncoderInit(narrow.get(), c.dtx, c.vad), vokOk);
  std::vector<uint32_t> crcs;
  for (std::size_t f = 0; f < frames; ++f) {
    const int mode = c.mode < 0 ? amrCycleMode(c.wide, f) : c.mode;
    uint8_t bits[wb::kMaxBits > nb::kMaxBits ? wb::kMaxBits : nb::kMaxBits];
    int n = 0, type = 0;
    if (c.wide) {
      wb::FrameParams p;
      ASSERT_EQ(wb::amrwbEncodeFrame(wide, &pcm[f * len], mode, &p), vokOk);
      type = p.type;
      n = p.type == wb::kTxNoData ? 0 : wb::paramsToBits(p, bits);
    } else {
      Vok16s prm[57] = {};
      int used = 0;
      ASSERT_EQ(nb::amrnbEncodeFrame(narrow.get(), &pcm[f * len], mode, prm, &type, &used), vokOk);
      n = type == nb::kTxNoData ? 0 : nb::bitCount(used);
      nb::paramsToBits(used, prm, bits);
    }
    std::vector<uint8_t> b{static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(type)};
    b.insert(b.end(), bits, bits + n);
    crcs.push_back(crc32(b.data(), b.size()));
  }
  EXPECT_EQ(compare(c.name + ".enc", crcs), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, AmrEncoderDiff, ::testing::ValuesIn(amrCases()),
                         [](const auto& info) { return info.param.name; });

// The encoders' target for the fixed codebook saturates where the library's
// contribution step wraps.
TEST(Differential, FixedCodebookTargetSaturates) {
  Vok16s xn[40] = {-32768}, y1[40] = {6670}, lib[40], coder[40];
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(5634, y1, xn, lib), vokOk);
  vokc::g729::fixedCodebookTarget(xn, y1, 5634, coder);
  EXPECT_EQ(lib[0], 30475);
  EXPECT_EQ(coder[0], -32768);
}

// The decoders after an erasure that follows a second-subframe delay of 144
// (the post-filter then works at 144), on the official streams.
TEST(Differential, ErasureAfterLag144) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  for (const char* vec : {"SPEECH", "PITCH"}) {
    const Stream s = eraseAfterLag144(readSerial(vtest::testVectorDir() + "/g729/main/" + vec + ".BIT"));
    ASSERT_FALSE(s.empty());
    for (const Row& row : rows()) {
      if (row.input != Input::Pcm || !row.framed || row.stream != Bitstream::Itu) continue;  // the G.729 family
      const std::string name = std::string(row.name) + "." + vec + ".e144";
      if (!dumpDir().empty()) writeFile(dumpDir() + "/" + name + ".dec.in", serialFile(s));
      EXPECT_EQ(compare(name, pcmCrcs(row.decode(s), 80)), "");
    }
  }
}

}  // namespace

// The hostile signal for the other differential programs of this binary.
std::vector<int16_t> differentialHostileSignal(int rate) { return hostileSignal(rate); }
