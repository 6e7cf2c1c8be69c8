// G.711 conversions in the form the G.726 tandem adjustment uses them.
#include "g711.h"

namespace voksc::g711 {

// G.711 character (without A-law's even-bit inversion) of the 16-bit
// reconstructed signal, as the Recommendation's compressor forms it.
int compress(int16_t sr, bool alaw) {
  int is = (sr >> 15) & 1;
  int32_t srr = static_cast<uint16_t>(sr);
  int32_t im = is == 0 ? srr : ((65536 - srr) & 32767);
  int sp;
  if (alaw) {
    if (sr == -32768) im = 2;
    int imag = is == 0 ? (im >> 1) : ((im + 1) >> 1);
    if (is) --imag;
    if (imag > 4095) imag = 4095;
    int iesp = 7;
    for (int i = 1; i <= 7; ++i) {
      imag += imag;
      if (imag >= 4096) break;
      iesp = 7 - i;
    }
    imag &= 4095;
    imag >>= 8;
    sp = (is == 0 ? imag + (iesp << 4) : imag + (iesp << 4) + 128) ^ 128;
  } else {
    int imag = im;
    if (imag > 8158) imag = 8158;
    ++imag;
    int iesp = 0, ofst = 31, ofst1 = 0;
    if (imag > ofst) {
      for (iesp = 1; iesp <= 8; ++iesp) {
        ofst1 = ofst;
        ofst += 1 << (iesp + 5);
        if (imag <= ofst) break;
      }
      imag -= ofst1 + 1;
    }
    imag /= 1 << (iesp + 1);
    sp = (is == 0 ? imag + (iesp << 4) : imag + (iesp << 4) + 128) ^ 128 ^ 127;
  }
  return sp;
}

// G.711 character to the 14-bit linear value (two's complement, 14 bits).
int expand14(int s, bool alaw) {
  int sss, ssq;
  s ^= 128;
  if (alaw) {
    int sig = 0;
    if (s >= 128) {
      s -= 128;
      sig = 4096;
    }
    int e = s / 16, mant = s - (e << 4);
    int ss = e == 0 ? ((mant << 1) + 1 + sig) : ((1 << (e - 1)) * ((mant << 1) + 33) + sig);
    sss = ss / 4096;
    ssq = (ss & 4095) << 1;
  } else {
    int sig = 0;
    if (s >= 128) {
      s -= 128;
      s ^= 127;
      sig = 8192;
    } else {
      s ^= 127;
    }
    int e = s / 16, mant = s - (e << 4);
    int ss = e == 0 ? ((mant << 1) + sig) : ((1 << e) * ((mant << 1) + 33) - 33 + sig);
    sss = ss / 8192;
    ssq = ss & 8191;
  }
  return sss == 0 ? ssq : ((16384 - ssq) & 16383);
}

}  // namespace voksc::g711
