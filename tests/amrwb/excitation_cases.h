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
} WbExcOps;

enum { WBX_GROUPS = 2 };

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
          mem[0] = (int16_t)orRange(r, -3, 116);
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
  }
  return h;
}

#endif
