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
/* One coder per state object, used from its first 16-byte boundary: ask its
 * size, allocate, Init with the variant, then call once per 80-sample frame.
 * A frame's parameters are the 11 values of the standard (LSP indices,
 * delays, parity, codebook positions and signs, gain indices). */
typedef enum { vokcG729Main = 0, vokcG729AnnexA = 1 } VokcG729Variant;
VokResult vokcG729EncoderGetSize(int* size);
VokResult vokcG729EncoderInit(void* state, int variant);
VokResult vokcG729Encode(void* state, const Vok16s* pcm /* 80 */, Vok16s* prm /* 11 */);
VokResult vokcG729DecoderGetSize(int* size);
VokResult vokcG729DecoderInit(void* state, int variant);
/* erased != 0: the frame was lost (prm is ignored). */
VokResult vokcG729Decode(void* state, const Vok16s* prm /* 11 */, int erased, Vok16s* pcm /* 80 */);
/* The 80 bits of a frame, one bit per byte, in transmission order. */
VokResult vokcG729PackBits(const Vok16s* prm, Vok8u* bits /* 80 */);
VokResult vokcG729UnpackBits(const Vok8u* bits /* 80 */, Vok16s* prm);
/* ==== end G.729 ============================================================ */

/* ==== G.726 ================================================================ */
/* ==== end G.726 ============================================================ */

/* ==== G.722 ================================================================ */
/* 16 kHz PCM <-> one 8-bit codeword per sample pair (high-band code in bits
 * 7-6, low-band code in bits 5-0: the RFC 3551 octet).  Each object holds
 * one direction's QMF memory and band coders and is used from its first
 * 16-byte boundary.  Any even number of samples per call; the stream
 * continues across calls. */
VokResult vokcG722EncoderGetSize(int* size);
VokResult vokcG722EncoderInit(void* state);
VokResult vokcG722Encode(void* state, const Vok16s* pcm, int len /* even */, Vok8u* words /* len/2 */);
VokResult vokcG722DecoderGetSize(int* size);
/* mode: 1 = 64, 2 = 56, 3 = 48 kbit/s (others: vokErrRange). */
VokResult vokcG722DecoderInit(void* state, int mode);
VokResult vokcG722Decode(void* state, const Vok8u* words, int count, Vok16s* pcm /* 2 * count */);
/* ==== end G.722 ============================================================ */

#ifdef __cplusplus
}
#endif

#endif /* VOKCODEC_H */
