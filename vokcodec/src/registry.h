// The codec registry: every codec family registers its named codecs here,
// each as a frame coder (the interface below), plus its conformance checks.
// Everything else (the name-based C API of vokcodec.h, the ITU and packed
// stream layouts, option strings, rate files, the command-line tool) is
// built on these registrations, so a family writes only its frame coder.
//
// ---- Registering a codec ---------------------------------------------------
// A family source file defines `void addXxxCodecs(Registry&)` (declared
// below, called from registry.cpp) that pushes one `Codec` per name:
//
//   Codec c;
//   c.name = "gsm-fr";  c.about = "one line for 'vokcodec list'";
//   c.sampleRate = 8000;  c.frameSamples = 160;      // PCM per frame
//   c.maxPayload = 33;    c.bitRate = 13200;         // bytes of the largest frame, bit/s
//   c.fixedPayload = true;   // every frame has maxPayload bytes (false: DTX or rate switching)
//   c.options = {{"dtx", "0|1", kEncoderOption}};    // keys an option string may give
//   c.encoderSize = ...; c.decoderSize = ...;        // state bytes (the framework aligns them to 16)
//   c.initEncoder = [](void* state, const Settings& s) -> std::string { ...; return ""; };
//   c.initDecoder = ...;
//   c.encodeFrame = [](void* state, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {...};
//   c.decodeFrame = [](void* state, const uint8_t* payload, int bytes, bool lost, int16_t* pcm,
//                      int* samples) -> VokResult {...};
//   r.codecs.push_back(c);
//
// Rules for the operations:
// - States are plain memory (no constructors, no heap): init must set up every
//   field from reset; the framework gives them 16-byte aligned and calls init
//   exactly once before any frame.  A state can live in caller memory.
// - initEncoder/initDecoder receive only the declared keys (the framework
//   rejects others and options of the other direction); they return "" or a
//   one-line error such as "bitrate 7 is not 8 or 11.8".  setEncoder
//   (optional) applies settings between frames (only keys flagged
//   kRunningOption reach it), e.g. a per-frame bit rate from a rate file.
// - encodeFrame: frameSamples samples in, the frame's payload out (RTP
//   payload octets of the codec's RFC layout, at most maxPayload bytes).
//   *bytes = 0 means nothing is sent for the frame (DTX).
// - decodeFrame: the payload of one frame as received; bytes = 0 with a
//   non-null payload is an untransmitted (DTX) frame.  lost = true: the frame
//   was lost on the channel; payload is then null, or holds what the ITU
//   layout still tells about the lost frame (its size, its bits as received)
//   when the reference decoder uses that.  Any bytes must be survivable: a
//   size the codec cannot have is vokErrSize.  *samples receives the samples
//   written (frameSamples, or fewer for a codec that accepts a shorter last
//   payload, such as G.726 with whole groups of 8 codes).  On entry
//   *samples is the count the stream layout states for the frame, or 0.  A codec without
//   loss concealment writes silence for a lost frame.
// - itu (optional): the codec's ITU test-sequence layout, read and written
//   frame by frame (see ItuLayout).  Without it "--format itu" is an error.
// - rateFileValues (optional): the bitrate values that the words 0, 1, ...
//   of a per-frame rate file (--rate-file) select through setEncoder.
#ifndef VOKCODEC_REGISTRY_H
#define VOKCODEC_REGISTRY_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "voksc.h"

namespace vokc {

// Parsed option string ("key=value,key=value"; a bare key means key=1).
class Settings {
 public:
  // "" or the parse error.
  std::string parse(const std::string& text);
  bool has(const std::string& key) const;
  // The value of key, or fallback when absent.
  std::string get(const std::string& key, const std::string& fallback = "") const;
  void set(const std::string& key, const std::string& value);
  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// kCharactersOption: a value other than the first listed makes the PCM side
// 8-bit character codes (G.711) in 16-bit words instead of linear speech; the
// tool then reads and writes headerless files only and converts nothing.
enum OptionUse {
  kEncoderOption = 1,
  kDecoderOption = 2,
  kBothOption = 3,
  kRunningOption = 4,
  kCharactersOption = 8
};

struct OptionSpec {
  std::string key;     // e.g. "bitrate"
  std::string values;  // for messages and help, e.g. "8|11.8"
  int use = kEncoderOption;  // OptionUse bits
};

// A frame received from an ITU layout.
struct ReceivedFrame {
  std::vector<uint8_t> payload;
  bool lost = false;  // marked lost on the channel (payload: what is still known)
  int samples = 0;    // samples the frame carries when the layout states it, else 0
};

// Reads up to n bytes into dst; returns how many (fewer only at the end).
using ByteInput = std::function<std::size_t(uint8_t* dst, std::size_t n)>;

// The ITU test-sequence layout of a codec (G.192-style serial frames, or
// one code per 16-bit word).
struct ItuLayout {
  // Appends one frame given by its payload.
  std::function<void(const uint8_t* payload, int bytes, std::vector<uint8_t>& out)> write;
  // Reads frame number `frame`: true with the frame; false at the end of the
  // stream (err left empty) or on a malformed frame (err: one line naming
  // the frame).
  std::function<bool(const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err)> read;
  explicit operator bool() const { return write && read; }
};

// A further stream layout of a codec, chosen by its name as the format
// ("storage", "rtp-be", ...): frames read and written like the ITU layout,
// after an optional file header.  A file whose name ends in `extension`
// uses the layout unless a format is given.
// A packet layout (`packets`, codecs of one fixed payload size only) carries
// packets of one or more frames: write receives the payloads of a packet back
// to back (as many frames as the encoder option "frames" asks, fewer in the
// last packet), read returns one packet, which the stream decoder splits
// into its frames (a packet that is not a whole number of frames is an
// error).
struct NamedLayout {
  std::string name;
  std::string about;      // one line for help texts
  std::string header;     // bytes the stream starts with ("" for none)
  std::string extension;  // e.g. ".amr"; "" for none
  ItuLayout io;
  bool packets = false;
};

// Whole-stream options of the registry's stream helpers and the tool.
struct Options {
  std::string format = "itu";  // stream layout: "itu" (ITU test sequences), "rtp" (packed payloads) or a
                               // NamedLayout of the codec
  int mode = 0;                // codec option "mode" when not 0 (G.729D 1|2|3)
  std::string rate;            // codec option "bitrate" (kbit/s) when not empty
  std::string rateFile;        // per-frame bit rates: one 16-bit word per frame
  bool dtx = false;            // codec option "dtx=1"
  std::string law;             // codec option "law" (G.726: linear, alaw, ulaw)
  std::string extra;           // further codec options "key=value,..."
  // Called with the fraction done (0..1) now and then; may be empty.
  std::function<void(double)> progress;
};

struct Codec {
  std::string name;   // as given to --codec and vokcCodecFind
  std::string about;  // one line for 'vokcodec list'
  int sampleRate = 8000;
  int frameSamples = 80;
  int maxPayload = 0;        // bytes
  int bitRate = 0;           // bit/s (the highest for a multi-rate codec)
  bool fixedPayload = true;  // every frame carries maxPayload bytes
  // Optional, for payloads whose first byte tells their size (G.723.1): that
  // size.  The rtp stream is then the payloads back to back, without the
  // length byte that precedes each payload of other variable-size codecs.
  std::function<std::size_t(uint8_t first)> payloadSize;
  std::vector<OptionSpec> options;
  std::vector<std::string> rateFileValues;
  // Optional: the rate-file word a rate name selects (-1: none), so that a
  // text rate file of names, one per line, can stand for the words.
  std::function<int(const std::string&)> rateFileName;
  int encoderSize = 0;
  int decoderSize = 0;
  std::function<std::string(void* state, const Settings&)> initEncoder, initDecoder, setEncoder;
  std::function<VokResult(void* state, const int16_t* pcm, uint8_t* payload, int* bytes)> encodeFrame;
  std::function<VokResult(void* state, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples)>
      decodeFrame;
  ItuLayout itu;
  std::vector<NamedLayout> layouts;  // further layouts (see NamedLayout)
  const NamedLayout* layout(const std::string& format) const {
    for (const auto& l : layouts)
      if (l.name == format) return &l;
    return nullptr;
  }
  // The layout a file name selects by its extension, or "" for none.
  std::string formatForFile(const std::string& path) const {
    for (const auto& l : layouts)
      if (!l.extension.empty() && path.size() > l.extension.size() &&
          path.compare(path.size() - l.extension.size(), l.extension.size(), l.extension) == 0)
        return l.name;
    return "";
  }
  // Information bits of a payload when fewer than its octets carry (octet
  // padding, bits the decoder of a lower G.722 mode ignores); empty: 8 per
  // byte.  Gives the real bit rate of 'vokcodec roundtrip'.
  std::function<int(const uint8_t* payload, int bytes)> payloadBits;

  // Whole streams in memory through the frame coder (stream.cpp): linear PCM
  // (whole frames; a partial last frame is not coded, as by the reference
  // coders) to the
  // bitstream in opt.format and back.  On failure: false and a one-line
  // message.
  bool encode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& bits,
              std::string& error) const;
  bool decode(const std::vector<uint8_t>& bits, const Options& opt, std::vector<int16_t>& pcm,
              std::string& error) const;
};

// ---- Coders over a registered codec (stream.cpp) ---------------------------

// The settings of one direction from an option string plus the whole-stream
// options: unknown keys and keys of the other direction are errors.
bool codecSettings(const Codec& c, bool encoder, const Options& opt, Settings& s, std::string& err);

// One encoder or decoder with its state in owned memory.
class FrameCoder {
 public:
  FrameCoder() = default;
  FrameCoder(const FrameCoder&) = delete;
  FrameCoder& operator=(const FrameCoder&) = delete;
  // "" or why the codec refuses the settings.
  std::string open(const Codec& c, bool encoder, const Settings& s);
  void* state() { return state_; }
  const Codec& codec() const { return *codec_; }

 private:
  std::vector<unsigned char> memory_;
  void* state_ = nullptr;
  const Codec* codec_ = nullptr;
};

// Encoding a stream frame by frame into a layout: "" or the error.
class StreamEncoder {
 public:
  std::string open(const Codec& c, const Options& opt);
  // One frame of frameSamples samples; appends its bytes in the layout to out
  // (in a packet layout: once the packet is full).
  std::string frame(const int16_t* pcm, std::vector<uint8_t>& out);
  // After the last frame: appends a packet that is not full yet.
  void finish(std::vector<uint8_t>& out);
  bool groupsFrames() const { return framesPerPacket_ > 1; }
  std::size_t payloadBytes() const { return payloadBytes_; }  // sum of the frame payloads so far
  std::size_t payloadBits() const { return payloadBits_; }    // their information bits (Codec::payloadBits)

 private:
  FrameCoder coder_;
  bool itu_ = false;
  const NamedLayout* named_ = nullptr;
  std::vector<int> rates_;  // rate-file words, the last one continuing
  std::size_t frame_ = 0, payloadBytes_ = 0, payloadBits_ = 0;
  int rateNow_ = -1;
  int framesPerPacket_ = 1;
  std::vector<uint8_t> packet_;  // frames of the packet being filled
  int packetFrames_ = 0;
};

// Decoding a stream from a byte input frame by frame.
class StreamDecoder {
 public:
  std::string open(const Codec& c, const Options& opt);
  // Reads and decodes the next frame into pcm (frameSamples capacity):
  // true with *samples set, false at the end (err empty) or on an error.
  bool next(const ByteInput& in, int16_t* pcm, int* samples, std::string& err);
  std::size_t frames() const { return frame_; }

 private:
  FrameCoder coder_;
  bool itu_ = false;
  const NamedLayout* named_ = nullptr;
  std::size_t frame_ = 0;
  ReceivedFrame rx_;
  ReceivedFrame packet_;     // packet layouts: the packet being decoded
  std::size_t packetAt_ = 0;  // its next frame's offset
};

// ---- The registry -------------------------------------------------------------

// A conformance check: runs against the official vector folder (the
// directory holding g729/, g726/, ...).  Returns "" when bit-exact, else a
// short reason such as "first differing frame 17".  A missing vector file is
// reported as a failure with its name.
struct Check {
  std::string name;
  std::function<std::string(const std::string& vectorRoot)> run;
};

struct Registry {
  std::vector<Codec> codecs;
  std::vector<Check> checks;
  const Codec* find(const std::string& name) const {
    for (const auto& c : codecs)
      if (c.name == name) return &c;
    return nullptr;
  }
};

// Each family's registration; defined in that family's source file.
void addG729Codecs(Registry& r);
void addG729BCodecs(Registry& r);
void addG729DCodecs(Registry& r);
void addG729ECodecs(Registry& r);
void addG729ICodecs(Registry& r);
void addG729FloatCodecs(Registry& r);
void addG726Codecs(Registry& r);
void addG728Codecs(Registry& r);
void addG722Codecs(Registry& r);
void addG7221Codecs(Registry& r);
void addG723Codecs(Registry& r);
void addGsmfrCodecs(Registry& r);
void addAmrnbCodecs(Registry& r);
void addAmrwbCodecs(Registry& r);

// All codecs and checks.
const Registry& registry();

// Helpers shared by the families.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& out);
bool readFileWords(const std::string& path, std::vector<int16_t>& out);  // 16-bit little-endian
// "" when equal, else "first differing <what> N" (N counted in units of
// `unit` words) or the length mismatch.
std::string firstDifference(const std::vector<int16_t>& got, const std::vector<int16_t>& want, std::size_t unit = 1,
                            const char* what = "sample");
// A byte input over memory.
ByteInput memoryInput(const std::vector<uint8_t>& bytes, std::size_t& pos);
}  // namespace vokc

#endif  // VOKCODEC_REGISTRY_H
