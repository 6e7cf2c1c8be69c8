/*
 * vokcodec - complete speech encoders and decoders built on voksc.
 *
 * Each codec offers a caller-owned state object (size query, init) and
 * frame-wise encode/decode calls.  Every call returns 0 on success and a
 * negative voksc status on failure.  Codec sections below.
 */
#ifndef VOKCODEC_H
#define VOKCODEC_H

#include <stdint.h>

#include "voksc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== G.729 / G.729A ===================================================== */
/* ==== end G.729 ============================================================ */

/* ==== G.726 ================================================================ */
/* ==== end G.726 ============================================================ */

/* ==== G.722 ================================================================ */
/* ==== end G.722 ============================================================ */

#ifdef __cplusplus
}
#endif

#endif /* VOKCODEC_H */
