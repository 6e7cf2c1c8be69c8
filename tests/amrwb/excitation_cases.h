/* AMR-WB excitation-search case groups (open-loop lag, adaptive codebook,
 * gains, algebraic codebook).  Each group drives one operation through a
 * table of adapters on deterministic hostile inputs and folds every output
 * into a checksum.  Plain C, so that the same groups drive a local build of
 * the 3GPP reference (which produced the committed checksums) and the
 * library under test. */
#ifndef VOKSC_TESTS_AMRWB_EXCITATION_CASES_H
#define VOKSC_TESTS_AMRWB_EXCITATION_CASES_H

#include <stdint.h>

#include "../amr/oracle_inputs.h"

typedef struct {
  /* Open-loop lag of wsp[0..len-1] (115 samples of history before it); the
   * adapter keeps the high-passed copy and its filter memory (reset clears
   * both).  mem: median lag, adaptation weight, weight flag, tone flag, 5
   * past lags.  Returns the lag at 12.8 kHz. */
  int (*openLoop)(const int16_t* wsp, int len, int reset, int16_t* mem, int16_t* gain);
  /* Adaptive-codebook gain: coeff receives the 4 correlation terms. */
  int16_t (*gainCoeff)(const int16_t* x, const int16_t* y, int len, int16_t* coeff);
  /* Adaptive-codebook search of one subframe (exc: 248 samples of history
   * before it, 65 written); window in/out; returns the lag. */
  int (*adaptive)(const int16_t* x, const int16_t* h, const int16_t* olLags, int16_t* window, int16_t* exc,
                  int16_t* frac, int16_t* index, int subframe, int rate);
  /* Gain quantiser: gain in/out (unquantised, then quantised pitch gain),
   * past energies in/out; returns the index. */
  int (*gainQuant)(const int16_t* x, const int16_t* y, int xExp, const int16_t* code, const int16_t* z,
                   const int16_t* coeff, int16_t* past, int16_t* gain, int32_t* codeGain, int clip, int len, int rate);
  /* Algebraic codebook search: target, residual, response (Q12); code,
   * filtered code and 1, 4 or 8 index words written. */
  void (*algebraic)(const int16_t* x, const int16_t* res, const int16_t* h, int16_t* code, int16_t* filtered,
                    int16_t* index, int rate);
} WbExcOps;

enum { WBX_GROUPS = 5 };
static const int wbxRates[10] = {5, 9, 13, 15, 16, 18, 19, 20, 21, 25};

/* An impulse response of the weighted synthesis filter's kind (a large
 * first tap, decaying and ringing) or, for odd kinds, hostile samples. */
static inline void wbxImpulse(OrRng* r, int kind, int16_t* h, int n) {
  int i;
  if (kind & 1) {
    orSignal(r, kind >> 1, kind * 64, h, n);
    return;
  }
  h[0] = (int16_t)orRange(r, 4000, 32767);
  for (i = 1; i < n; ++i) {
    int32_t v = (int32_t)h[i - 1] * orRange(r, 20000, 32000) / 32768 * ((i % 3 == 0) ? -1 : 1) + orRange(r, -300, 300);
    h[i] = (int16_t)(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
}

static inline uint32_t wbxRunGroup(const WbExcOps* ops, int g) {
  OrRng rng;
  OrRng* r = &rng;
  uint32_t h = OR_HASH_INIT;
  int c, i;
  rng.s = 0x2545F491u + (uint32_t)g * 104729u;
  switch (g) {
    case 0: { /* open-loop lag: memories carried, any median, loud and quiet signals */
      int16_t buf[115 + 128], mem[9];
      for (c = 0; c < 600; ++c) {
        const int len = (c % 7 == 3) ? 1 + orRange(r, 0, 127) : ((c & 1) ? 64 : 128);
        int16_t lag[2], gain;
        const int reset = c % 50 == 0;
        if (reset) {
          for (i = 0; i < 115 + 128; ++i) buf[i] = 0;
          mem[0] = 40; mem[1] = 0; mem[2] = 0; mem[3] = 0;
          for (i = 4; i < 9; ++i) mem[i] = 40;
        }
        if (c % 9 == 4) { /* hostile memories: medians the weighting table reaches */
          mem[0] = (int16_t)(orRange(r, 0, 3) ? orRange(r, 15, 116) : orRange(r, -3, 0));
          mem[1] = (int16_t)orRange(r, 0, 32767);
          mem[2] = (int16_t)orRange(r, 0, 1);
          mem[3] = (int16_t)orRange(r, -32768, 32767);
          for (i = 4; i < 9; ++i) mem[i] = (int16_t)orRange(r, 15, 116);
        }
        orSignal(r, (c >> 2) + (c % 3), c * 128, buf + 115, len);
        if ((c & 3) == 1) /* a periodic stretch: a clear pitch */
          for (i = 0; i < len; ++i) buf[115 + i] = buf[115 + i - (20 + c % 90)];
        lag[0] = (int16_t)ops->openLoop(buf + 115, len, reset, mem, &gain);
        lag[1] = gain;
        h = orHash16(orHash16(h, lag, 2), mem, 9);
        for (i = 0; i < 115; ++i) buf[i] = buf[i + len];
      }
      break;
    }
    case 1: /* adaptive-codebook gain, any length, loud and clipping vectors */
      for (c = 0; c < 600; ++c) {
        int16_t x[80], y[80], coeff[4], gain;
        const int len = (c & 1) ? 64 : 1 + orRange(r, 0, 79);
        orSignal(r, c, c * 80, x, len);
        if (c % 5 == 0)
          for (i = 0; i < len; ++i) y[i] = (int16_t)(x[i] >> orRange(r, 0, 4));
        else if (c % 5 == 1)
          for (i = 0; i < len; ++i) y[i] = (int16_t)(-x[i]);
        else
          orSignal(r, c >> 3, c * 80 + 7, y, len);
        gain = ops->gainCoeff(x, y, len, coeff);
        h = orHash16(orHash16(h, coeff, 4), &gain, 1);
      }
      break;
    case 2: { /* adaptive codebook: frames of four subframes, window carried, every rate */
      int16_t buf[248 + 65], win[2] = {34, 49};
      for (i = 0; i < 248 + 65; ++i) buf[i] = 0;
      for (c = 0; c < 800; ++c) {
        int16_t x[64], hh[64], ol[2], out[5];
        const int sf = c & 3, rate = wbxRates[(c >> 2) % 10];
        if (c % 40 == 0) orSignal(r, c >> 3, c * 64, buf, 248);
        ol[0] = (int16_t)((c % 13 == 4) ? orRange(r, -100, 400) : orRange(r, 34, 231));
        ol[1] = (int16_t)((c % 11 == 5) ? orRange(r, -100, 400) : orRange(r, 34, 231));
        orSignal(r, (c >> 2) + sf, c * 64, buf + 248, 65);
        if (c % 3 == 1) /* a periodic excitation: the lag is found */
          for (i = 0; i < 65; ++i) buf[248 + i] = buf[248 + i - (34 + c % 190)];
        orSignal(r, c % 5 == 0 ? 0 : c >> 1, c * 64, x, 64);
        if (c % 4 == 2)
          for (i = 0; i < 64; ++i) x[i] = buf[248 + i - (36 + c % 180)];
        wbxImpulse(r, c % 6, hh, 64);
        out[0] = (int16_t)ops->adaptive(x, hh, ol, win, buf + 248, &out[1], &out[2], sf, rate);
        out[3] = win[0];
        out[4] = win[1];
        h = orHash16(orHash16(h, out, 5), buf + 248, 65);
        for (i = 0; i < 248; ++i) buf[i] = buf[i + 64];
      }
      break;
    }
    case 3: { /* gain quantiser: past energies carried, every rate, clipping flag, any scale */
      int16_t past[4] = {-14336, -14336, -14336, -14336};
      for (c = 0; c < 1000; ++c) {
        int16_t x[64], y[64], code[64], z[64], coeff[4], gain, out[6];
        int32_t codeGain = 0;
        const int len = (c % 9 == 4) ? 1 + orRange(r, 0, 63) : 64, rate = wbxRates[c % 10];
        const int xExp = (c % 7 == 3) ? orRange(r, -12, 20) : orRange(r, -3, 8);
        orSignal(r, (c >> 1) % 3 == 0 ? 1 : c >> 2, c * 64, x, len);
        for (i = 0; i < len; ++i) y[i] = (int16_t)((c & 1) ? x[i] >> orRange(r, 0, 3) : -x[i] / 2 + orRange(r, -99, 99));
        if (c % 5 == 2) {
          orSignal(r, c, c * 64, code, len);
        } else {
          for (i = 0; i < len; ++i) code[i] = 0;
          for (i = 0; i < 2 + c % 23; ++i) code[orRange(r, 0, len - 1)] += (int16_t)(orRange(r, 0, 1) ? 512 : -512);
        }
        for (i = 0; i < len; ++i) z[i] = (int16_t)((c % 3) ? code[i] * orRange(r, 1, 40) / 8 : orRange(r, -32768, 32767));
        gain = ops->gainCoeff(x, y, len, coeff);
        if (c % 4 == 1) gain = (int16_t)orRange(r, -32768, 32767);
        if (c % 100 == 50)
          for (i = 0; i < 4; ++i) past[i] = (int16_t)orRange(r, -32768, 32767);
        out[0] = (int16_t)ops->gainQuant(x, y, xExp, code, z, coeff, past, &gain, &codeGain, (c % 6 == 5) ? 2 : c & 1,
                                         len, rate);
        out[1] = gain;
        out[2] = (int16_t)(codeGain & 0xFFFF);
        out[3] = (int16_t)(codeGain >> 16);
        h = orHash16(orHash16(h, out, 4), past, 4);
      }
      break;
    }
    case 4: /* algebraic codebook, every mode: hostile targets, residuals and responses */
      for (c = 0; c < 1000; ++c) {
        int16_t x[64], res[64], hh[64], code[64], filt[64], idx[8] = {0};
        const int rate = wbxRates[c % 10], words = (rate == 5 || rate == 25) ? 1 : (rate < 18 ? 4 : 8);
        const int shift = orRange(r, 0, 4);
        orSignal(r, (c / 10) % 3 == 2 ? 1 : c / 10, c * 64, x, 64);
        if (c % 7 == 1)
          for (i = 0; i < 64; ++i) x[i] = (int16_t)(x[i] >> orRange(r, 2, 6));
        if (c % 3 == 0)
          for (i = 0; i < 64; ++i) res[i] = (int16_t)(x[i] / 2 + orRange(r, -500, 500));
        else
          orSignal(r, c / 3, c * 64 + 1, res, 64);
        wbxImpulse(r, (c / 10) % 4, hh, 64);
        for (i = 0; i < 64; ++i) hh[i] = (int16_t)(hh[i] >> shift);
        ops->algebraic(x, res, hh, code, filt, idx, rate);
        h = orHash16(orHash16(orHash16(h, code, 64), filt, 64), idx, words);
      }
      break;
  }
  return h;
}

#endif
