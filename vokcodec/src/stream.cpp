// Coders and streams over the registered frame coders: option strings,
// coder memory, rate files, and the two stream layouts (the codec's ITU
// layout, or packed payloads: concatenated for a codec of fixed payload
// size or of payloads that tell their own size, each after a length byte
// otherwise).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"

namespace vokc {

namespace {

std::string trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

const OptionSpec* findSpec(const Codec& c, const std::string& key) {
  for (const auto& o : c.options)
    if (o.key == key) return &o;
  return nullptr;
}

std::string statusText(VokResult r) { return "status " + std::to_string(static_cast<int>(r)); }

}  // namespace

std::string Settings::parse(const std::string& text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of(", ", at);
    if (end == std::string::npos) end = text.size();
    const std::string item = trim(text.substr(at, end - at));
    at = end + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string key = trim(item.substr(0, eq));
    const std::string value = eq == std::string::npos ? "1" : trim(item.substr(eq + 1));
    if (key.empty()) return "option '" + item + "' has no name";
    if (value.empty()) return "option '" + key + "' has no value";
    set(key, value);
  }
  return "";
}

bool Settings::has(const std::string& key) const {
  for (const auto& kv : items_)
    if (kv.first == key) return true;
  return false;
}

std::string Settings::get(const std::string& key, const std::string& fallback) const {
  for (const auto& kv : items_)
    if (kv.first == key) return kv.second;
  return fallback;
}

void Settings::set(const std::string& key, const std::string& value) {
  for (auto& kv : items_)
    if (kv.first == key) {
      kv.second = value;
      return;
    }
  items_.emplace_back(key, value);
}

bool codecSettings(const Codec& c, bool encoder, const Options& opt, Settings& s, std::string& err) {
  err = s.parse(opt.extra);
  if (!err.empty()) return false;
  if (opt.mode != 0) s.set("mode", std::to_string(opt.mode));
  if (!opt.rate.empty()) s.set("bitrate", opt.rate);
  if (opt.dtx) s.set("dtx", "1");
  if (!opt.law.empty()) s.set("law", opt.law);
  const int want = encoder ? kEncoderOption : kDecoderOption;
  for (const auto& kv : s.items()) {
    const OptionSpec* spec = findSpec(c, kv.first);
    if (!spec) {
      std::string known;
      for (const auto& o : c.options) known += (known.empty() ? "" : ", ") + o.key;
      err = c.name + " has no option '" + kv.first + "'" + (known.empty() ? "" : " (options: " + known + ")");
      return false;
    }
    if (!(spec->use & want)) {
      err = "option '" + kv.first + "' of " + c.name + " applies to the " + (encoder ? "decoder" : "encoder") +
            " only";
      return false;
    }
  }
  return true;
}

std::string FrameCoder::open(const Codec& c, bool encoder, const Settings& s) {
  codec_ = &c;
  const int size = encoder ? c.encoderSize : c.decoderSize;
  memory_.assign(static_cast<std::size_t>(size) + 16, 0);
  state_ = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(memory_.data()) + 15) & ~uintptr_t{15});
  const auto& init = encoder ? c.initEncoder : c.initDecoder;
  if (!init) return c.name + " has no " + (encoder ? "encoder" : "decoder");
  return init(state_, s);
}

// ---- encoding ------------------------------------------------------------------

namespace {

// The formats a codec offers, for messages: "itu, rtp or storage".
std::string formatList(const Codec& c) {
  std::string all = "itu, rtp";
  for (const auto& l : c.layouts) all += ", " + l.name;
  const std::size_t last = all.rfind(", ");
  return all.substr(0, last) + " or " + all.substr(last + 2);
}

}  // namespace

std::string StreamEncoder::open(const Codec& c, const Options& opt) {
  named_ = c.layout(opt.format);
  if (!named_ && opt.format != "itu" && opt.format != "rtp")
    return "unknown bitstream format '" + opt.format + "' (" + formatList(c) + ")";
  itu_ = opt.format == "itu";
  if (itu_ && !c.itu) return c.name + " has no itu layout; use --format rtp";
  if (!itu_ && !c.fixedPayload && c.maxPayload > 255) return c.name + " has no rtp layout";
  Settings s;
  std::string err;
  if (!codecSettings(c, true, opt, s, err)) return err;
  rates_.clear();
  if (!opt.rateFile.empty()) {
    if (c.rateFileValues.empty()) return c.name + " takes no rate file";
    if (!opt.rate.empty()) return "give either a bit rate or a rate file, not both";
    std::vector<uint8_t> bytes;
    if (!readFileBytes(opt.rateFile, bytes)) return "cannot read the rate file " + opt.rateFile;
    if (bytes.empty()) return opt.rateFile + ": empty rate file";
    // A text file of rate names, one per line (the 3GPP mode files), for a
    // codec that names its rates; otherwise 16-bit words.
    const bool text = c.rateFileName && std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) {
                        return (b >= 0x20 && b < 0x7F) || b == '\n' || b == '\r' || b == '\t';
                      });
    if (text) {
      std::string line;
      std::size_t lineNo = 0;
      bytes.push_back('\n');
      for (uint8_t b : bytes) {
        if (b != '\n') {
          if (b != '\r') line += static_cast<char>(b);
          continue;
        }
        ++lineNo;
        line = trim(line);
        if (line.empty()) continue;
        const int w = c.rateFileName(line);
        if (w < 0 || w >= static_cast<int>(c.rateFileValues.size()))
          return opt.rateFile + ": line " + std::to_string(lineNo) + ": '" + line + "' names no rate of " + c.name;
        rates_.push_back(w);
        line.clear();
      }
      if (rates_.empty()) return opt.rateFile + ": empty rate file";
    }
    if (!text && bytes.size() % 2) return opt.rateFile + ": a rate file holds 16-bit words (odd byte count)";
    std::string legend;
    for (std::size_t i = 0; i < c.rateFileValues.size(); ++i)
      legend += (i ? ", " : "") + std::to_string(i) + " = " + c.rateFileValues[i];
    for (std::size_t i = 0; !text && i < bytes.size(); i += 2) {
      const int w = static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (w < 0 || w >= static_cast<int>(c.rateFileValues.size()))
        return opt.rateFile + ": rate " + std::to_string(w) + " at frame " + std::to_string(i / 2) + " (" + legend +
               " kbit/s)";
      rates_.push_back(w);
    }
    s.set("bitrate", c.rateFileValues[static_cast<std::size_t>(rates_[0])]);
    rateNow_ = rates_[0];
  }
  frame_ = payloadBytes_ = payloadBits_ = 0;
  framesPerPacket_ = 1;
  packet_.clear();
  packetFrames_ = 0;
  if (s.has("frames")) {
    const std::string v = s.get("frames");
    framesPerPacket_ = v.size() <= 3 && v.find_first_not_of("0123456789") == std::string::npos ? std::stoi(v) : 0;
    if (framesPerPacket_ < 1 || framesPerPacket_ > 100) return "frames " + v + " is not a frame count from 1 to 100";
    if (framesPerPacket_ > 1 && !(named_ && named_->packets))
      return "frames " + v + ": only a packet layout carries several frames per packet";
  }
  return coder_.open(c, true, s);
}

std::string StreamEncoder::frame(const int16_t* pcm, std::vector<uint8_t>& out) {
  const Codec& c = coder_.codec();
  if (!rates_.empty()) {
    const int r = rates_[std::min(frame_, rates_.size() - 1)];
    if (r != rateNow_) {
      Settings s;
      s.set("bitrate", c.rateFileValues[static_cast<std::size_t>(r)]);
      const std::string err = c.setEncoder ? c.setEncoder(coder_.state(), s) : c.name + " cannot change its rate";
      if (!err.empty()) return err;
      rateNow_ = r;
    }
  }
  std::vector<uint8_t> payload(static_cast<std::size_t>(c.maxPayload) + 1);
  int bytes = 0;
  const VokResult r = c.encodeFrame(coder_.state(), pcm, payload.data(), &bytes);
  if (r != vokOk) return "encoder failed at frame " + std::to_string(frame_) + " (" + statusText(r) + ")";
  if (named_) {
    if (frame_ == 0) out.insert(out.end(), named_->header.begin(), named_->header.end());
    if (named_->packets) {
      packet_.insert(packet_.end(), payload.begin(), payload.begin() + bytes);
      if (++packetFrames_ == framesPerPacket_) finish(out);
    } else {
      named_->io.write(payload.data(), bytes, out);
    }
  } else if (itu_) {
    c.itu.write(payload.data(), bytes, out);
  } else {
    if (!c.fixedPayload && !c.payloadSize) out.push_back(static_cast<uint8_t>(bytes));
    out.insert(out.end(), payload.begin(), payload.begin() + bytes);
  }
  payloadBytes_ += static_cast<std::size_t>(bytes);
  payloadBits_ += static_cast<std::size_t>(c.payloadBits ? c.payloadBits(payload.data(), bytes) : 8 * bytes);
  ++frame_;
  return "";
}

void StreamEncoder::finish(std::vector<uint8_t>& out) {
  if (packetFrames_ == 0) return;
  named_->io.write(packet_.data(), static_cast<int>(packet_.size()), out);
  packet_.clear();
  packetFrames_ = 0;
}

// ---- decoding ------------------------------------------------------------------

std::string StreamDecoder::open(const Codec& c, const Options& opt) {
  named_ = c.layout(opt.format);
  if (!named_ && opt.format != "itu" && opt.format != "rtp")
    return "unknown bitstream format '" + opt.format + "' (" + formatList(c) + ")";
  itu_ = opt.format == "itu";
  if (itu_ && !c.itu) return c.name + " has no itu layout; use --format rtp";
  if (!opt.rateFile.empty()) return "a rate file applies to encoding only";
  Settings s;
  std::string err;
  if (!codecSettings(c, false, opt, s, err)) return err;
  frame_ = 0;
  packet_ = ReceivedFrame();
  packetAt_ = 0;
  return coder_.open(c, false, s);
}

bool StreamDecoder::next(const ByteInput& in, int16_t* pcm, int* samples, std::string& err) {
  const Codec& c = coder_.codec();
  err.clear();
  const std::string where = " at frame " + std::to_string(frame_);
  rx_.lost = false;
  rx_.samples = 0;
  if (named_) {
    if (frame_ == 0 && !named_->header.empty()) {
      std::string head(named_->header.size(), '\0');
      const std::size_t got = in(reinterpret_cast<uint8_t*>(&head[0]), head.size());
      if (got == 0) return false;
      if (head.substr(0, got) != named_->header) {
        err = "not a " + c.name + " " + named_->name + " stream: it does not start with the file header";
        return false;
      }
    }
    if (!named_->packets) {
      if (!named_->io.read(in, frame_, rx_, err)) return false;
    } else {
      // The next frame of the packet, reading a packet when none is left.
      const std::size_t size = static_cast<std::size_t>(c.maxPayload);
      if (packetAt_ >= packet_.payload.size()) {
        packet_ = ReceivedFrame();
        packetAt_ = 0;
        if (!named_->io.read(in, frame_, packet_, err)) return false;
        if (packet_.payload.empty() || packet_.payload.size() % size) {
          err = "frame " + std::to_string(frame_) + ": a packet of " + std::to_string(packet_.payload.size()) +
                " bytes is not a whole number of " + std::to_string(size) + "-byte " + c.name + " frames";
          return false;
        }
      }
      rx_.payload.assign(packet_.payload.begin() + static_cast<std::ptrdiff_t>(packetAt_),
                         packet_.payload.begin() + static_cast<std::ptrdiff_t>(packetAt_ + size));
      packetAt_ += size;
    }
  } else if (itu_) {
    if (!c.itu.read(in, frame_, rx_, err)) return false;
  } else {
    std::size_t want = static_cast<std::size_t>(c.maxPayload);
    uint8_t first = 0;
    if (c.payloadSize) {  // the first byte tells the size
      if (in(&first, 1) == 0) return false;
      want = c.payloadSize(first);
    } else if (!c.fixedPayload) {
      uint8_t len = 0;
      if (in(&len, 1) == 0) return false;
      if (len > c.maxPayload) {
        err = "frame " + std::to_string(frame_) + ": payload length " + std::to_string(len) + " (" + c.name +
              " frames carry at most " + std::to_string(c.maxPayload) + " bytes)";
        return false;
      }
      want = len;
    }
    rx_.payload.resize(want);
    std::size_t got = 0;
    if (c.payloadSize && want) {
      rx_.payload[0] = first;
      got = 1 + (want > 1 ? in(rx_.payload.data() + 1, want - 1) : 0);
    } else if (want) {
      got = in(rx_.payload.data(), want);
    }
    if (got == 0 && c.fixedPayload) return false;
    if (got < want) {
      if (!c.fixedPayload) {
        err = "truncated bitstream" + where;
        return false;
      }
      rx_.payload.resize(got);
    }
  }
  const uint8_t* payload = rx_.payload.empty() && rx_.lost ? nullptr : rx_.payload.data();
  static const uint8_t kNothing = 0;
  if (!payload && !rx_.lost) payload = &kNothing;
  *samples = rx_.samples;
  const VokResult r = c.decodeFrame(coder_.state(), payload, static_cast<int>(rx_.payload.size()), rx_.lost, pcm,
                                    samples);
  if (r == vokErrSize) {
    err = (c.fixedPayload && rx_.payload.size() < static_cast<std::size_t>(c.maxPayload) && !itu_
               ? "truncated bitstream: the last frame has " + std::to_string(rx_.payload.size()) + " of " +
                     std::to_string(c.maxPayload) + " bytes"
               : "frame " + std::to_string(frame_) + ": payload length " + std::to_string(rx_.payload.size()) +
                     " is not a frame of " + c.name);
    return false;
  }
  if (r != vokOk) {
    err = "decoder failed" + where + " (" + statusText(r) + ")";
    return false;
  }
  ++frame_;
  return true;
}

// ---- whole streams in memory ----------------------------------------------------

ByteInput memoryInput(const std::vector<uint8_t>& bytes, std::size_t& pos) {
  return [&bytes, &pos](uint8_t* dst, std::size_t n) {
    const std::size_t k = std::min(n, bytes.size() - std::min(pos, bytes.size()));
    if (k) std::memcpy(dst, bytes.data() + pos, k);
    pos += k;
    return k;
  };
}

bool Codec::encode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& bits,
                   std::string& error) const {
  StreamEncoder enc;
  error = enc.open(*this, opt);
  if (!error.empty()) return false;
  bits.clear();
  const std::size_t n = static_cast<std::size_t>(frameSamples);
  const std::size_t frames = pcm.size() / n;
  for (std::size_t f = 0; f < frames; ++f) {
    error = enc.frame(&pcm[f * n], bits);
    if (!error.empty()) return false;
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames));
  }
  enc.finish(bits);
  if (opt.progress) opt.progress(1.0);
  return true;
}

bool Codec::decode(const std::vector<uint8_t>& bits, const Options& opt, std::vector<int16_t>& pcm,
                   std::string& error) const {
  StreamDecoder dec;
  error = dec.open(*this, opt);
  if (!error.empty()) return false;
  pcm.clear();
  std::size_t pos = 0;
  const ByteInput in = memoryInput(bits, pos);
  std::vector<int16_t> frame(static_cast<std::size_t>(frameSamples));
  int samples = 0;
  while (dec.next(in, frame.data(), &samples, error)) {
    pcm.insert(pcm.end(), frame.begin(), frame.begin() + samples);
    if (opt.progress && (dec.frames() & 255) == 0) opt.progress(double(pos) / double(bits.size()));
  }
  if (opt.progress && error.empty()) opt.progress(1.0);
  return error.empty();
}

}  // namespace vokc
