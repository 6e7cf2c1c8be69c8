/* GSM 06.10 parameter cases on top of the shared hostile signals. */
#ifndef VOKSC_TESTS_GSMFR_CASES_H
#define VOKSC_TESTS_GSMFR_CASES_H

#include "hostile.h"

/* Autocorrelations for the Schur recursion: even cases from a signal (x >> 4,
 * doubled products), odd cases random words, every fourth with r[0] = 0,
 * the others with |r[k]| well below r[0] or above it. */
static inline void vtAcfCase(int c, int32_t* acf) {
  VtRng r = {(uint32_t)c * 7919u + 3u};
  if (c & 1) {
    acf[0] = (int32_t)(((vtNext(&r) << 8) ^ vtNext(&r)) & 0x7FFFFFFFu);
    for (int k = 1; k <= 8; ++k) {
      acf[k] = (int32_t)((vtNext(&r) << 8) ^ vtNext(&r));
      if (c % 8 == 3) acf[k] /= 2 + 3 * k;
    }
    if (c % 8 == 3) acf[0] = 0x7FFFFFFF - c;
    if (c % 4 == 1) acf[0] = 0;
  } else {
    int16_t x[160];
    vtSignal(x, 160, (c / 2) % 5, (uint32_t)c);
    for (int k = 0; k <= 8; ++k) {
      int32_t s = 0;
      for (int i = k; i < 160; ++i) s += (int32_t)(x[i] >> 4) * (x[i - k] >> 4) * 2;
      acf[k] = s;
    }
  }
}

/* Reflection coefficients for the lattices: random in -32767..32767, every
 * third set divided by 8. */
static inline void vtReflCase(int c, int16_t* rp) {
  VtRng r = {(uint32_t)c * 104729u + 5u};
  for (int i = 0; i < 8; ++i) rp[i] = (int16_t)((int32_t)(vtNext(&r) % 65535u) - 32767);
  if (c % 3 == 0)
    for (int i = 0; i < 8; ++i) rp[i] = (int16_t)(rp[i] / 8);
}

#endif
