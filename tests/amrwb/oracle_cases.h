/* AMR-WB oracle case groups.  Each group drives one operation through a
 * table of adapters on deterministic hostile inputs and folds every output
 * into a checksum.  Plain C, so that the same groups can drive a local
 * build of the 3GPP reference (which produced the committed checksums) and
 * the library under test. */
#ifndef VOKSC_TESTS_AMRWB_ORACLE_CASES_H
#define VOKSC_TESTS_AMRWB_ORACLE_CASES_H

#include <stdint.h>

#include "../amr/oracle_inputs.h"

typedef struct {
  void (*lpcToIsp)(const int16_t* a, const int16_t* prevIsp, int16_t* isp); /* order 16 */
  void (*ispToLpc)(const int16_t* isp, int16_t* a, int m);
  void (*isfToIsp)(const int16_t* isf, int16_t* isp, int m);
  void (*ispToIsf)(const int16_t* isp, int16_t* isf, int m);
  /* 50 Hz (which 0) or 400 Hz (which 1) filter; reset restarts it; the
   * memory after the call is written in delay-line exchange order. */
  void (*hp2)(int16_t* x, int n, int which, int reset, int16_t* line6);
  /* weighted-speech filter at input scale sf (memory rescaled on change) */
  void (*hp3)(const int16_t* x, int16_t* y, int n, int sf, int reset, int16_t* line9);
  void (*preemph)(int16_t* x, int16_t mu, int n, int16_t* mem, int sf);
  void (*deemphHalf)(int16_t* x, int16_t mu, int n, int16_t* mem);
  void (*deemph32)(const int32_t* x, int16_t* y, int16_t mu, int n, int16_t* mem);
  void (*residual)(const int16_t* a, int m, const int16_t* x, int16_t* y, int n); /* x[-m..-1] read */
  void (*synth32)(const int16_t* a, int m, const int16_t* exc, int q, int32_t* y, int n); /* y[-m..-1] read */
  void (*isfQuant)(const int16_t* isf, int16_t* memory, int16_t* q, int16_t* idx, int rate);
  /* raw index words: the library masks them, the reference adapter masks
   * them before the call */
  void (*isfDecode)(const int16_t* idx, int16_t* q, int16_t* memory, const int16_t* prev, int16_t* history, int bfi,
                    int rate);
  void (*sidQuant)(const int16_t* isf, int16_t* q, int16_t* idx);
  void (*sidDecode)(const int16_t* idx, int16_t* q);
  /* the coder's pitch enhancer x[n] - c (x[n+1] + x[n-1]), n >= 2 */
  void (*enhance)(const int16_t* x, int16_t* y, int16_t c, int n);
} WbOracleOps;

enum { WB_GROUPS = 14 };
static const int wbRates[10] = {5, 9, 13, 15, 16, 18, 19, 20, 21, 25};

static inline uint32_t wbHash32(uint32_t h, const int32_t* v, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    int16_t p[2];
    p[0] = (int16_t)(v[i] & 0xFFFF);
    p[1] = (int16_t)((uint32_t)v[i] >> 16);
    h = orHash16(h, p, 2);
  }
  return h;
}

/* ISFs of one of four kinds: ordinary increasing, tightly clustered,
 * crowded at either end, or unordered random (all within 0..16383, the
 * last within 0..8191 as the codec keeps it). */
static inline void wbIsf(OrRng* r, int kind, int16_t* isf, int m) {
  int i;
  int32_t v = orRange(r, 0, 600);
  for (i = 0; i < m - 1; ++i) {
    switch (kind & 3) {
      case 0: v += orRange(r, 128, 1400); break;
      case 1: v += orRange(r, 0, 60); break;
      case 2: v = (i < m / 2) ? orRange(r, 0, 300) + 10 * i : 16383 - orRange(r, 0, 300) + 10 * i - 300; break;
      default: v = orRange(r, 0, 16383); break;
    }
    if (v > 16383) v = 16383;
    if (v < 0) v = 0;
    isf[i] = (int16_t)v;
  }
  isf[m - 1] = (int16_t)orRange(r, 0, 8191);
}

static inline void wbIsp(OrRng* r, int kind, int16_t* isp, int m) {
  int i;
  if ((kind & 3) == 3) {
    for (i = 0; i < m; ++i) isp[i] = (int16_t)orRange(r, -32768, 32767);
    return;
  }
  for (i = 0; i < m; ++i) isp[i] = (int16_t)orRange(r, -32768, 32767);
  for (i = 1; i < m - 1; ++i) { /* insertion sort, decreasing, of the first m-1 */
    int j = i;
    int16_t t = isp[i];
    while (j > 0 && isp[j - 1] < t) { isp[j] = isp[j - 1]; --j; }
    isp[j] = t;
  }
  if ((kind & 3) == 1) isp[m - 1] = (int16_t)orRange(r, -4000, 4000);
}

/* Coefficients of one of four kinds: full-scale random, decaying random,
 * from random ISFs (the converters under test), or a sharp resonance. */
static inline void wbLpc(const WbOracleOps* ops, OrRng* r, int kind, int16_t* a, int m) {
  int i;
  a[0] = 4096;
  switch (kind & 3) {
    case 0: for (i = 1; i <= m; ++i) a[i] = (int16_t)orRange(r, -32768, 32767); break;
    case 1: for (i = 1; i <= m; ++i) a[i] = (int16_t)(orRange(r, -6000, 6000) / i); break;
    case 2: {
      int16_t isf[20], isp[20];
      wbIsf(r, orRange(r, 0, 2), isf, m);
      ops->isfToIsp(isf, isp, m);
      ops->ispToLpc(isp, a, m);
      break;
    }
    default:
      for (i = 1; i <= m; ++i) a[i] = 0;
      a[1] = (int16_t)orRange(r, -8190, 8190);
      a[2] = (int16_t)orRange(r, 3000, 4095);
      a[m] = (int16_t)orRange(r, -3000, 3000);
      break;
  }
}

static inline uint32_t wbRunGroup(const WbOracleOps* ops, int g) {
  OrRng rng;
  OrRng* r = &rng;
  uint32_t h = OR_HASH_INIT;
  int c, i;
  rng.s = 0x9E3779B9u + (uint32_t)g * 7919u;
  switch (g) {
    case 0: { /* LP -> ISP, order 16 */
      const int16_t prev[16] = {32138, 30274, 27246, 23170, 18205, 12540, 6393, 0,
                                -6393, -12540, -18205, -23170, -27246, -30274, -32138, 1500};
      for (c = 0; c < 400; ++c) {
        int16_t a[17], isp[16];
        wbLpc(ops, r, c, a, 16);
        ops->lpcToIsp(a, prev, isp);
        h = orHash16(h, isp, 16);
      }
      break;
    }
    case 1: /* ISP -> LP, orders 1..20 */
      for (c = 0; c < 400; ++c) {
        int16_t isp[20], a[21];
        const int m = 1 + c % 20;
        for (i = 0; i <= m; ++i) a[i] = 0;
        wbIsp(r, c / 20, isp, m);
        ops->ispToLpc(isp, a, m);
        h = orHash16(h, a, m + 1);
      }
      break;
    case 2: /* ISF <-> ISP, lengths 16 and 20 */
      for (c = 0; c < 400; ++c) {
        int16_t isf[20], isp[20], back[20];
        const int m = (c & 1) ? 20 : 16;
        wbIsf(r, c >> 1, isf, m);
        ops->isfToIsp(isf, isp, m);
        wbIsp(r, c, back, m);
        ops->ispToIsf(back, isf, m);
        h = orHash16(orHash16(h, isp, m), isf, m);
      }
      break;
    case 3: /* 50 Hz and 400 Hz high-pass, state carried across blocks */
      for (c = 0; c < 256; ++c) {
        int16_t x[80], line[6];
        const int n = 1 + orRange(r, 0, 79);
        orSignal(r, c >> 2, c * 80, x, n);
        ops->hp2(x, n, (c >> 6) & 1, (c & 63) == 0, line);
        h = orHash16(orHash16(h, x, n), line, 6);
      }
      break;
    case 4: { /* weighted-speech high-pass with changing input scale */
      int sf = 0;
      for (c = 0; c < 256; ++c) {
        int16_t x[80], y[80], line[9];
        const int n = 1 + orRange(r, 0, 79);
        orSignal(r, c >> 2, c * 80, x, n);
        if (c % 5 == 0) sf = orRange(r, 0, 12);
        ops->hp3(x, y, n, sf, (c & 63) == 0, line);
        h = orHash16(orHash16(h, y, n), line, 9);
      }
      break;
    }
    case 5: /* pre-emphasis, both scales, any mu */
    case 6: /* half-scale de-emphasis */
      for (c = 0; c < 300; ++c) {
        int16_t x[64], mem = (int16_t)orRange(r, -32768, 32767);
        const int n = 1 + orRange(r, 0, 63);
        const int16_t mu = (int16_t)((c & 3) ? orRange(r, -32768, 32767) : 22282);
        orSignal(r, c, c * 64, x, n);
        if (g == 5)
          ops->preemph(x, mu, n, &mem, 13 + (c & 1));
        else
          ops->deemphHalf(x, mu, n, &mem);
        h = orHash16(orHash16(h, x, n), &mem, 1);
      }
      break;
    case 7: /* de-emphasis of the 32-bit synthesis */
      for (c = 0; c < 300; ++c) {
        int32_t x[64];
        int16_t y[64], mem = (int16_t)orRange(r, -32768, 32767);
        const int n = 1 + orRange(r, 0, 63);
        const int16_t mu = (int16_t)((c & 3) ? orRange(r, -32768, 32767) : 22282);
        const int shift = orRange(r, 0, 16);
        for (i = 0; i < n; ++i) x[i] = (int32_t)(((uint32_t)orNext(r) >> shift) ^ ((c & 2) ? 0x80000000u : 0)) & ~15;
        ops->deemph32(x, y, mu, n, &mem);
        h = orHash16(orHash16(h, y, n), &mem, 1);
      }
      break;
    case 8: /* LP residual, orders 1..20 */
      for (c = 0; c < 300; ++c) {
        int16_t a[21], buf[84];
        int16_t y[64];
        const int m = (c & 3) ? 16 : 1 + orRange(r, 0, 19);
        const int n = m + orRange(r, 0, 63 - m);
        wbLpc(ops, r, c & 1 ? 0 : 1, a, m <= 20 ? m : 20);
        orSignal(r, c >> 1, c * 84, buf, 84);
        ops->residual(a, m, buf + 20, y, n);
        h = orHash16(h, y, n);
      }
      break;
    case 10: { /* ISF quantiser, residual memory carried, every rate */
      int16_t mem[16] = {0};
      for (c = 0; c < 400; ++c) {
        int16_t isf[16], q[16], idx[7] = {0};
        const int rate = wbRates[c % 10];
        if (c % 8 == 7) /* far outside the ISF range: errors saturate */
          for (i = 0; i < 16; ++i) isf[i] = (int16_t)orRange(r, -32768, 32767);
        else
          wbIsf(r, c / 10, isf, 16);
        if (c % 100 == 0)
          for (i = 0; i < 16; ++i) mem[i] = 0;
        ops->isfQuant(isf, mem, q, idx, rate);
        h = orHash16(orHash16(orHash16(h, q, 16), idx, (rate == 5 || rate == 25) ? 5 : 7), mem, 16);
      }
      break;
    }
    case 11: { /* ISF decoder with bad frames; memory, history, last ISFs carried */
      int16_t mem[16] = {0}, prev[16], hist[48];
      for (i = 0; i < 16; ++i) prev[i] = (int16_t)(i * 1000 + 500);
      for (i = 0; i < 48; ++i) hist[i] = prev[i & 15];
      for (c = 0; c < 400; ++c) {
        int16_t idx[7], q[16];
        const int rate = wbRates[orRange(r, 0, 9)];
        const int bfi = orRange(r, 0, 3) == 0 ? (int)orRange(r, 1, 1000) : 0;
        for (i = 0; i < 7; ++i) idx[i] = (int16_t)((c & 1) ? orRange(r, -32768, 32767) : orRange(r, 0, 63));
        if (c % 50 == 49)
          for (i = 0; i < 16; ++i) mem[i] = (int16_t)orRange(r, -32768, 32767);
        ops->isfDecode(idx, q, mem, prev, hist, bfi, rate);
        h = orHash16(orHash16(orHash16(h, q, 16), mem, 16), hist, 48);
        for (i = 0; i < 16; ++i) prev[i] = q[i];
      }
      break;
    }
    case 12: /* comfort-noise ISFs: quantiser and decoder of raw index words */
      for (c = 0; c < 400; ++c) {
        int16_t isf[16], q[16], idx[5];
        if (c & 1) {
          for (i = 0; i < 5; ++i) idx[i] = (int16_t)orRange(r, -32768, 32767);
          ops->sidDecode(idx, q);
          h = orHash16(h, q, 16);
          continue;
        }
        if (c % 8 == 6)
          for (i = 0; i < 16; ++i) isf[i] = (int16_t)orRange(r, -32768, 32767);
        else
          wbIsf(r, c / 2, isf, 16);
        ops->sidQuant(isf, q, idx);
        h = orHash16(orHash16(h, q, 16), idx, 5);
      }
      break;
    case 13: /* pitch enhancer on codebook-like and loud blocks */
      for (c = 0; c < 300; ++c) {
        int16_t x[64], y[64];
        const int n = 2 + orRange(r, 0, 62);
        const int16_t fac = (int16_t)((c & 1) ? orRange(r, 0, 8192) : orRange(r, -32768, 32767));
        orSignal(r, c, c * 64, x, n);
        ops->enhance(x, y, fac, n);
        h = orHash16(h, y, n);
      }
      break;
    case 9: { /* 32-bit synthesis, memory carried, excitation scales 0..8 */
      int32_t ybuf[16 + 64];
      for (c = 0; c < 300; ++c) {
        int16_t a[17], exc[64];
        const int n = 1 + orRange(r, 0, 63);
        const int q = orRange(r, 0, 8);
        if (c % 50 == 0)
          for (i = 0; i < 80; ++i) ybuf[i] = 0;
        wbLpc(ops, r, c, a, 16);
        orSignal(r, c >> 1, c * 64, exc, n);
        ops->synth32(a, 16, exc, q, ybuf + 16, n);
        h = wbHash32(h, ybuf + 16, n);
        for (i = 0; i < 16; ++i) ybuf[i] = ybuf[n + i];
      }
      break;
    }
  }
  return h;
}

#endif
