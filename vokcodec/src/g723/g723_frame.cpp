// G.723.1 packed frames: fields written least significant bit first, from
// bit 0 of byte 0 on, in the Recommendation's order.
#include <cstring>

#include "g723_codec.h"

namespace vokc::g723 {
namespace {

class BitReader {
 public:
  explicit BitReader(const uint8_t* b) : b_(b) {}
  int32_t take(int n) {
    int32_t v = 0;
    for (int i = 0; i < n; ++i, ++at_) v |= static_cast<int32_t>((b_[at_ >> 3] >> (at_ & 7)) & 1) << i;
    return v;
  }

 private:
  const uint8_t* b_;
  int at_ = 0;
};

class BitWriter {
 public:
  explicit BitWriter(uint8_t* b) : b_(b) {}
  void put(int32_t v, int n) {
    for (int i = 0; i < n; ++i, ++at_)
      if ((v >> i) & 1) b_[at_ >> 3] = static_cast<uint8_t>(b_[at_ >> 3] | (1 << (at_ & 7)));
  }

 private:
  uint8_t* b_;
  int at_ = 0;
};

// The four 6.3 kbit/s position codes share a 13-bit field holding their top
// parts (ranges 9, 9, 9, 9 after the 16/14/16/14 low bits).
constexpr int kLowBits[4] = {16, 14, 16, 14};
constexpr int kSignBits63[4] = {6, 5, 6, 5};

}  // namespace

bool unpackFrame(const uint8_t* bytes, FrameParams& p) {
  BitReader r(bytes);
  p.type = r.take(2);
  if (p.type == kUntransmitted) return true;
  p.lsp = r.take(24);
  if (p.type == kSid) {
    p.sidGain = static_cast<int16_t>(r.take(6));
    return true;
  }
  const bool r63 = p.type == kActive63;
  for (int h = 0; h < 2; ++h) {
    const int32_t lag = r.take(7);
    if (lag > 123) return false;
    p.olp[h] = static_cast<int16_t>(lag + 18);
    p.sub[2 * h].lagIndex = 1;
    p.sub[2 * h + 1].lagIndex = static_cast<int16_t>(r.take(2));
  }
  for (int i = 0; i < 4; ++i) {
    int32_t g = r.take(12);
    int bound = 170;
    p.sub[i].train = 0;
    if (r63 && p.olp[i >> 1] < kSub - 2) {
      p.sub[i].train = static_cast<int16_t>(g >> 11);
      g &= 0x7FF;
      bound = 85;
    }
    if (g / 24 >= bound) return false;
    p.sub[i].gainIndex = static_cast<int16_t>(g / 24);
    p.sub[i].amp = static_cast<int16_t>(g % 24);
  }
  for (auto& s : p.sub) s.grid = static_cast<int16_t>(r.take(1));
  if (r63) {
    r.take(1);
    const int32_t top = r.take(13);
    const int32_t high[4] = {top / 90 / 9, top / 90 % 9, top % 90 / 9, top % 90 % 9};
    for (int i = 0; i < 4; ++i) p.sub[i].pos = (high[i] << kLowBits[i]) + r.take(kLowBits[i]);
    for (int i = 0; i < 4; ++i) p.sub[i].signs = static_cast<int16_t>(r.take(kSignBits63[i]));
  } else {
    for (auto& s : p.sub) s.pos = r.take(12);
    for (auto& s : p.sub) s.signs = static_cast<int16_t>(r.take(4));
  }
  return true;
}

std::size_t packFrame(const FrameParams& p, uint8_t* bytes) {
  static const std::size_t sizes[4] = {24, 20, 4, 1};
  const std::size_t n = sizes[p.type & 3];
  std::memset(bytes, 0, n);
  BitWriter w(bytes);
  w.put(p.type, 2);
  if (p.type == kUntransmitted) return n;
  w.put(p.lsp, 24);
  if (p.type == kSid) {
    w.put(p.sidGain, 6);
    return n;
  }
  const bool r63 = p.type == kActive63;
  for (int h = 0; h < 2; ++h) {
    w.put(p.olp[h] - 18, 7);
    w.put(p.sub[2 * h + 1].lagIndex, 2);
  }
  for (const auto& s : p.sub) w.put(s.gainIndex * 24 + s.amp + (r63 ? s.train << 11 : 0), 12);
  for (const auto& s : p.sub) w.put(s.grid, 1);
  if (r63) {
    w.put(0, 1);
    int32_t top = (p.sub[0].pos >> 16) * 9 + (p.sub[1].pos >> 14);
    top = top * 90 + (p.sub[2].pos >> 16) * 9 + (p.sub[3].pos >> 14);
    w.put(top, 13);
    for (int i = 0; i < 4; ++i) w.put(p.sub[i].pos & ((1 << kLowBits[i]) - 1), kLowBits[i]);
    for (int i = 0; i < 4; ++i) w.put(p.sub[i].signs, kSignBits63[i]);
  } else {
    for (const auto& s : p.sub) w.put(s.pos, 12);
    for (const auto& s : p.sub) w.put(s.signs, 4);
  }
  return n;
}

}  // namespace vokc::g723
