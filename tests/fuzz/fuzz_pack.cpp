// Every bit packer and unpacker of vokcodec on arbitrary parameters and
// bits, in buffers of exactly the documented sizes (the G.723.1 and GSM full
// rate frame layouts of the registry coders included).  Besides staying in
// bounds, unpacking is a fixed point: the parameters unpacked from any bits
// pack to bits that unpack to the same parameters, and packers write only
// 0 and 1.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "g723/g723_codec.h"
#include "gsmfr/gsmfr_codec.h"
#include "vokcodec.h"

namespace {

using vfuzz::Input;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_pack: %s\n", what);
    std::abort();
  }
}

bool binary(const std::vector<Vok8u>& bits) {
  for (Vok8u b : bits)
    if (b > 1) return false;
  return true;
}

// pack(prm) into nbits, and unpack(bits) -> pack -> unpack is stable.
template <class Pack, class Unpack>
void roundTrip(Input& in, std::size_t nprm, std::size_t nbits, Pack pack, Unpack unpack, const char* name) {
  std::vector<Vok16s> prm(nprm);
  for (auto& p : prm) p = in.sample();
  std::vector<Vok8u> bits(nbits);
  const VokResult r = pack(prm.data(), bits.data());
  if (r != vokOk) return;  // an invalid rate, refused before anything was written
  check(binary(bits), name);
  std::vector<Vok8u> raw = in.bytes(nbits);
  std::vector<Vok16s> p1(nprm), p2(nprm);
  check(unpack(raw.data(), p1.data()) == vokOk, name);
  check(pack(p1.data(), bits.data()) == vokOk, name);
  check(unpack(bits.data(), p2.data()) == vokOk, name);
  check(p1 == p2, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  switch (in.pick(8)) {
    case 0:
      roundTrip(in, 11, 80, vokcG729PackBits, vokcG729UnpackBits, "g729");
      break;
    case 1:
      roundTrip(in, 4, 15, vokcG729BPackSid, vokcG729BUnpackSid, "g729b sid");
      break;
    case 2: {
      const int rate = in.pick(4) ? (in.flag() ? vokcG729D6k4 : vokcG729D8k) : in.s32();
      const std::size_t nbits = rate == vokcG729D6k4 ? 64 : 80, nprm = rate == vokcG729D6k4 ? 10 : 11;
      roundTrip(
          in, nprm, nbits, [rate](const Vok16s* p, Vok8u* b) { return vokcG729DPackBits(p, rate, b); },
          [rate](const Vok8u* b, Vok16s* p) { return vokcG729DUnpackBits(b, rate, p); }, "g729d");
      break;
    }
    case 3: {
      const int rate = in.pick(4) ? in.pick(2) : in.s32();
      const std::size_t nbits = rate == vokcG729ERate118 ? 118 : 80;
      roundTrip(
          in, 18, nbits, [rate](const Vok16s* p, Vok8u* b) { return vokcG729EPackBits(p, rate, b); },
          [rate](const Vok8u* b, Vok16s* p) {
            int erased = 0;
            const VokResult r = vokcG729EUnpackBits(b, rate, p, &erased);
            check(erased == 0 || erased == 1, "g729e erased flag");
            return r;
          },
          "g729e");
      break;
    }
    case 6: {
      // G.723.1 packed frames: the size follows the first byte; a frame
      // whose fields unpack repacks to a frame that unpacks the same.
      std::vector<uint8_t> raw = in.bytes(24);
      vokc::g723::FrameParams p1, p2;
      if (!vokc::g723::unpackFrame(raw.data(), p1)) break;
      uint8_t again[24];
      check(vokc::g723::packFrame(p1, again) == vokc::g723::packedSize(raw[0]), "g723 frame size");
      check(vokc::g723::unpackFrame(again, p2), "g723 repacked frame");
      uint8_t third[24];
      check(vokc::g723::packFrame(p2, third) == vokc::g723::packFrame(p1, again), "g723 repack size");
      for (std::size_t i = 0; i < vokc::g723::packedSize(raw[0]); ++i) check(again[i] == third[i], "g723 round trip");
      break;
    }
    case 7: {
      // GSM 06.10 33-byte frames: any bytes give parameters within their
      // widths, which pack to a frame that unpacks the same.
      std::vector<uint8_t> raw = in.bytes(vokc::gsmfr::kPackedBytes);
      int16_t p1[vokc::gsmfr::kParams], p2[vokc::gsmfr::kParams];
      vokc::gsmfr::unpackFrame(raw.data(), p1);
      uint8_t again[vokc::gsmfr::kPackedBytes];
      vokc::gsmfr::packFrame(p1, again);
      vokc::gsmfr::unpackFrame(again, p2);
      for (int i = 0; i < vokc::gsmfr::kParams; ++i)
        check(p1[i] == p2[i] && p1[i] >= 0 && p1[i] < (1 << vokc::gsmfr::kParamBits[i]), "gsm-fr round trip");
      check(again[0] >> 4 == 0xD, "gsm-fr signature");
      break;
    }
    default: {
      // G.726 RFC 3551 packing: exact output sizes, and unpack inverts pack
      // on the codes' low bits.
      const int kbps = in.pick(8) ? 16 + 8 * in.pick(4) : in.s32();
      const int bits = kbps == 16 ? 2 : kbps == 24 ? 3 : kbps == 32 ? 4 : kbps == 40 ? 5 : 0;
      const int count = in.pick(16) ? in.pick(256) : -1 - in.pick(4);
      std::vector<Vok8u> codes = in.bytes(count > 0 ? static_cast<std::size_t>(count) : 1);
      const std::size_t nbytes = count > 0 && bits ? (static_cast<std::size_t>(count) * bits + 7) / 8 : 1;
      std::vector<Vok8u> bytes(nbytes);
      int written = -1;
      const VokResult r = vokcG726Pack(codes.data(), count, kbps, bytes.data(), &written);
      if (count < 0) {
        check(r == vokErrSize && written == -1, "g726 pack count");
        break;
      }
      if (!bits) {
        check(r == vokErrRange && written == -1, "g726 pack rate");
        break;
      }
      check(r == vokOk && written == static_cast<int>(count ? nbytes : 0), "g726 pack size");
      std::vector<Vok8u> back(static_cast<std::size_t>(written) * 8 / bits + 1);
      int n = -1;
      check(vokcG726Unpack(bytes.data(), written, kbps, back.data(), &n) == vokOk, "g726 unpack");
      check(n == written * 8 / bits && n >= count, "g726 unpack count");
      for (int i = 0; i < count; ++i) check(back[i] == (codes[i] & ((1 << bits) - 1)), "g726 round trip");
      break;
    }
  }
  return 0;
}
