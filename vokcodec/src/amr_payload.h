// RFC 4867 framing of one AMR-NB or AMR-WB frame: its table-of-contents
// entry (frame type field and quality bit) after the mode request (CMR), the
// octet-aligned payload (CMR octet, TOC octet, the bits padded to whole
// octets), the bandwidth-efficient payload (4-bit CMR, 6-bit TOC entry, the
// bits, padding to an octet) and the storage-file frame (the octet-aligned
// payload without its CMR octet).
// A family states its frame types in a Framing; its Frame records (receive
// type, mode, bits in parameter order one per byte) are used as they are.
// Both families number their receive types alike: 0 good, 1 degraded,
// 2 onset (AMR-NB) or lost speech (AMR-WB), 3 bad, 4 SID first, 5 SID update,
// 6 bad SID, 7 NO_DATA.
#ifndef VOKCODEC_AMR_PAYLOAD_H
#define VOKCODEC_AMR_PAYLOAD_H

#include <cstdint>
#include <string>
#include <vector>

namespace vokc::amrpay {

constexpr int kNoRequest = 15;         // CMR value "no mode request"
constexpr int kMarkDegraded = 1;       // reserved CMR bits of a degraded speech frame (see writeOctetAligned)
constexpr char kMagicNb[] = "#!AMR\n";
constexpr char kMagicWb[] = "#!AMR-WB\n";
constexpr int kFieldNoData = 15;

struct Framing {
  const char* name;                // "AMR", "AMR-WB": for messages
  int speechFields;                // type fields 0..speechFields-1 carry speech of that mode
  const int* bitCounts;            // bits of each speech mode
  const int16_t* const* orders;    // per speech mode: the bit of parameter order sent k-th
  int sidField;                    // type field of comfort-noise frames
  int sidBits;                     // comfort-noise bits before the SID type flag
  int indicationBits;              // width of the SID's mode indication
  bool indicationLsbFirst;         // sent least significant bit first (AMR-NB)
  bool sidFirstBitsZero;           // a first SID carries zeros in place of its bits (AMR-WB)
  int lostField;                   // type field of lost speech (receive type 2), -1: sent as NO_DATA
};

// MSB-first bit writer and reader over octets.
struct BitWriter {
  uint8_t* out;
  int at = 0;
  void put(int bit) {
    if ((at & 7) == 0) out[at >> 3] = 0;
    if (bit & 1) out[at >> 3] = static_cast<uint8_t>(out[at >> 3] | (0x80 >> (at & 7)));
    ++at;
  }
  void put(int value, int width) {
    for (int k = width - 1; k >= 0; --k) put(value >> k);
  }
  int bytes() const { return (at + 7) >> 3; }
};

struct BitReader {
  const uint8_t* in;
  int at = 0;
  int get() {
    const int b = (in[at >> 3] >> (7 - (at & 7))) & 1;
    ++at;
    return b;
  }
  int get(int width) {
    int v = 0;
    for (int k = 0; k < width; ++k) v = (v << 1) | get();
    return v;
  }
  // The next n bits, one per byte (0 or 1), into out.  Eight at a time:
  // the octet starting at the bit position, from the one or two octets it
  // straddles (both hold bits of the n), is spread to one bit per byte by a
  // multiplication: its copies shifted by 9j bits do not overlap, so no
  // carries, and bit 7 - j of the octet lands on bit 8j + 7 of copy j.
  void take(int n, uint8_t* out) {
    const uint8_t* p = in;
    int pos = at, k = 0;
    for (; k + 8 <= n; k += 8, pos += 8) {
      const int skew = pos & 7;
      const unsigned pair = (unsigned{p[pos >> 3]} << 8) | (skew ? p[(pos >> 3) + 1] : 0u);
      const uint64_t octet = (pair >> (8 - skew)) & 0xFF;
      const uint64_t spread = ((octet * 0x8040201008040201ull) >> 7) & 0x0101010101010101ull;
      for (int j = 0; j < 8; ++j) out[k + j] = static_cast<uint8_t>(spread >> (8 * j));
    }
    for (; k < n; ++k, ++pos) out[k] = static_cast<uint8_t>((p[pos >> 3] >> (7 - (pos & 7))) & 1);
    at = pos;
  }
};

// Bits after the TOC entry for a type field (0 for NO_DATA, lost speech and
// the types the family does not use).
inline int payloadBits(const Framing& fr, int ft) {
  if (ft >= 0 && ft < fr.speechFields) return fr.bitCounts[ft];
  return ft == fr.sidField ? fr.sidBits + 1 + fr.indicationBits : 0;
}

// Octets of a storage frame after its TOC octet, by type field.
inline int storageFrameBytes(const Framing& fr, int ft) { return (payloadBits(fr, ft & 15) + 7) / 8; }

// The TOC octet of a receive type: its type field (speech: the mode) and
// quality bit (0 for bad speech and bad SID).
inline int tocOctet(const Framing& fr, int type, int mode) {
  int ft = kFieldNoData;
  if (type == 0 || type == 1 || type == 3) ft = mode;
  if (type >= 4 && type <= 6) ft = fr.sidField;
  if (type == 2 && fr.lostField >= 0) ft = fr.lostField;
  const int good = type != 3 && type != 6;
  return (ft << 3) | (good << 2);
}

template <typename Frame>
void putFrameBits(const Framing& fr, const Frame& f, int ft, BitWriter& w) {
  if (ft < fr.speechFields) {
    const int16_t* order = fr.orders[ft];
    const int count = fr.bitCounts[ft];
    int k = 0;
    if ((w.at & 7) == 0) {  // whole octets at once while the writer is aligned
      for (; k + 8 <= count; k += 8) {
        unsigned octet = 0;
        for (int b = 0; b < 8; ++b) octet = (octet << 1) | (f.bits[order[k + b]] & 1u);
        w.out[w.at >> 3] = static_cast<uint8_t>(octet);
        w.at += 8;
      }
    }
    for (; k < count; ++k) w.put(f.bits[order[k]]);
  } else if (ft == fr.sidField) {
    const bool zero = fr.sidFirstBitsZero && f.type == 4;
    for (int k = 0; k < fr.sidBits; ++k) w.put(zero ? 0 : f.bits[k]);
    w.put(f.type == 5 ? 1 : 0);  // STI: SID update
    const int mi = f.mode < 0 ? 0 : f.mode;
    for (int k = 0; k < fr.indicationBits; ++k)
      w.put(mi >> (fr.indicationLsbFirst ? k : fr.indicationBits - 1 - k));
  }
}

// Fills f from a type field, quality bit and the bits after the TOC entry;
// NO_DATA, and the other systems' or reserved types as the reference
// decoders read them.
template <typename Frame>
void getFrameBits(const Framing& fr, int ft, int q, BitReader& r, Frame& f) {
  using Type = decltype(f.type);
  constexpr int kHeld = static_cast<int>(sizeof f.bits);
  if (ft < fr.speechFields) {
    const int16_t* order = fr.orders[ft];
    const int n = fr.bitCounts[ft];
    for (int k = n; k < kHeld; ++k) f.bits[k] = 0;  // the order places the n bits at 0..n-1
    uint8_t sent[sizeof f.bits];
    r.take(n, sent);
    for (int k = 0; k < n; ++k) f.bits[order[k]] = sent[k];
    f.type = static_cast<Type>(q ? 0 : 3);
    f.mode = ft;
  } else if (ft == fr.sidField) {
    for (int k = fr.sidBits; k < kHeld; ++k) f.bits[k] = 0;
    for (int k = 0; k < fr.sidBits; ++k) f.bits[k] = static_cast<uint8_t>(r.get());
    const int sti = r.get();
    int mi = 0;
    for (int k = 0; k < fr.indicationBits; ++k)
      mi = fr.indicationLsbFirst ? mi | (r.get() << k) : (mi << 1) | r.get();
    f.type = static_cast<Type>(!q ? 6 : sti ? 5 : 4);
    f.mode = mi < fr.speechFields ? mi : -1;
  } else {
    for (int k = 0; k < kHeld; ++k) f.bits[k] = 0;
    f.type = static_cast<Type>(ft == fr.lostField ? 2 : 7);
    f.mode = -1;
  }
}

// A payload's size check: false with err when it is not `need` octets.
inline bool sizeMatches(int bytes, int need, int ft, std::string& err) {
  if (bytes == need) return true;
  err = "payload of " + std::to_string(bytes) + " octets for frame type " + std::to_string(ft) + " (needs " +
        std::to_string(need) + ")";
  return false;
}

inline bool payloadHead(const Framing& fr, int bytes, bool followed, std::string& err) {
  if (bytes < 2) {
    err = std::string("an ") + fr.name + " payload has at least 2 octets, this one " + std::to_string(bytes);
    return false;
  }
  if (followed) err = "payload holds several frames (one frame per payload is read)";
  return !followed;
}

// Octet-aligned payload; returns its size.  `reserved` goes into the low
// four bits of the CMR octet, which RFC 4867 leaves zero: the families carry
// the receive types the TOC cannot name there (kMarkDegraded, ...), read
// back only by readOctetAligned's callers.
template <typename Frame>
int writeOctetAligned(const Framing& fr, const Frame& f, uint8_t* out, int cmr, int reserved) {
  const int toc = tocOctet(fr, f.type, f.mode);
  out[0] = static_cast<uint8_t>(((cmr & 15) << 4) | reserved);
  out[1] = static_cast<uint8_t>(toc);
  BitWriter w{out + 2};
  putFrameBits(fr, f, toc >> 3, w);
  return 2 + w.bytes();
}

// Reads a payload of one frame; false (with err, f untouched) for several
// frames or a wrong size.  A kMarkDegraded mark turns good speech degraded.
template <typename Frame>
bool readOctetAligned(const Framing& fr, const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  if (!payloadHead(fr, bytes, bytes >= 2 && (p[1] & 0x80), err)) return false;
  const int ft = (p[1] >> 3) & 15, q = (p[1] >> 2) & 1;
  if (!sizeMatches(bytes, 2 + (payloadBits(fr, ft) + 7) / 8, ft, err)) return false;
  BitReader r{p + 2};
  getFrameBits(fr, ft, q, r, f);
  if ((p[0] & 15) == kMarkDegraded && f.type == 0) f.type = static_cast<decltype(f.type)>(1);
  if (cmr) *cmr = p[0] >> 4;
  return true;
}

template <typename Frame>
int writeBandwidthEfficient(const Framing& fr, const Frame& f, uint8_t* out, int cmr) {
  const int toc = tocOctet(fr, f.type, f.mode);
  BitWriter w{out};
  w.put(cmr, 4);
  w.put(0);  // F: last frame of the payload
  w.put(toc >> 2, 5);
  putFrameBits(fr, f, toc >> 3, w);
  return w.bytes();
}

template <typename Frame>
bool readBandwidthEfficient(const Framing& fr, const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  if (!payloadHead(fr, bytes, bytes >= 2 && (p[0] & 0x08), err)) return false;
  BitReader r{p};
  const int request = r.get(4);
  r.get();
  const int ft = r.get(4), q = r.get();
  if (!sizeMatches(bytes, (10 + payloadBits(fr, ft) + 7) / 8, ft, err)) return false;
  getFrameBits(fr, ft, q, r, f);
  if (cmr) *cmr = request;
  return true;
}

template <typename Frame>
void writeStorageFrame(const Framing& fr, const Frame& f, std::vector<uint8_t>& out) {
  uint8_t buf[2 + 64];
  const int n = writeOctetAligned(fr, f, buf, kNoRequest, 0);
  out.insert(out.end(), buf + 1, buf + n);  // the payload without its CMR octet
}

// Reads the frame after its TOC octet `toc`: `data` holds the
// storageFrameBytes(...) octets behind it.
template <typename Frame>
bool readStorageFrame(const Framing& fr, uint8_t toc, const uint8_t* data, int bytes, Frame& f, std::string& err) {
  const int ft = (toc >> 3) & 15, q = (toc >> 2) & 1;
  if (bytes != storageFrameBytes(fr, ft)) {
    err = "truncated frame of type " + std::to_string(ft);
    return false;
  }
  BitReader r{data};
  getFrameBits(fr, ft, q, r, f);
  return true;
}

}  // namespace vokc::amrpay

#endif  // VOKCODEC_AMR_PAYLOAD_H
