/*
 * vokcodec - complete speech encoders and decoders built on voksc.
 *
 * Every codec is reachable by name through the codec API below (find, query,
 * create, one call per frame).  The codec sections after it give each
 * family's own caller-owned state objects (size query, init) and frame-wise
 * calls on its parameters.  Every call returns 0 on success and a negative
 * voksc status on failure.  Arguments are checked in this order: null
 * pointers (vokErrNullPtr), lengths (vokErrSize), the object, then values.
 * Init writes a tag into the object that every later call checks: an object
 * not formatted by that coder's Init (never initialised, overwritten,
 * another coder's) is refused with vokErrContextMatch.
 * vokErrInternal reports a failed library call inside a coder (a fault of
 * vokcodec, not of the input); the object must then be initialised again.
 */
#ifndef VOKCODEC_H
#define VOKCODEC_H

#include <stdint.h>

#include "voksc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Codecs by name ===================================================== */
/* A codec is found by its name ("g729a", "g726-32", "g722-64", ... as listed
 * by 'vokcodec list' or vokcCodecAt), queried, and run frame by frame:
 *
 *   const VokcCodec* c = vokcCodecFind("g729a");
 *   VokcCodecInfo info;  vokcCodecGetInfo(c, &info);
 *   VokcCoder* enc;      vokcEncoderCreate(c, "", NULL, 0, &enc);
 *   vokcEncodeFrame(enc, pcm, payload, info.maxPayload, &bytes);  // per frame
 *   vokcDestroy(enc);
 *
 * A frame is info.frameSamples samples of 16-bit PCM at info.sampleRate,
 * coded to one payload of at most info.maxPayload bytes: the codec's RTP
 * payload (RFC 3551 layouts; a payload of 0 bytes means nothing is sent
 * for the frame, as with DTX).  Options are a string "key=value,key=value"
 * (e.g. "bitrate=11.8,dtx=1"; "" for the defaults); a key the codec does not
 * know, or one of the other direction, is vokErrBadArg, a value it refuses
 * vokErrRange.  Coders are independent objects (no shared state): one per
 * thread at a time. */
typedef struct VokcCodec VokcCodec;
typedef struct VokcCoder VokcCoder;
typedef struct {
  const char* name;
  const char* description;
  int sampleRate;    /* Hz */
  int frameSamples;  /* PCM samples per frame */
  int maxPayload;    /* bytes of the largest frame payload */
  int bitRate;       /* bit/s (the highest for a multi-rate codec) */
  int fixedPayload;  /* 1: every frame has maxPayload bytes */
} VokcCodecInfo;
/* NULL when no codec has that name. */
const VokcCodec* vokcCodecFind(const char* name);
/* The codecs in registry order: index 0, 1, ... until NULL. */
const VokcCodec* vokcCodecAt(int index);
VokResult vokcCodecGetInfo(const VokcCodec* codec, VokcCodecInfo* info);
/* Bytes a coder needs in caller memory (any alignment). */
VokResult vokcEncoderGetSize(const VokcCodec* codec, int* size);
VokResult vokcDecoderGetSize(const VokcCodec* codec, int* size);
/* A coder in mem (memSize bytes, at least the size above), or, with mem
 * NULL, in memory the library allocates (vokErrMemAlloc when it cannot).
 * options may be NULL. */
VokResult vokcEncoderCreate(const VokcCodec* codec, const char* options, void* mem, int memSize, VokcCoder** coder);
VokResult vokcDecoderCreate(const VokcCodec* codec, const char* options, void* mem, int memSize, VokcCoder** coder);
/* Changes encoder options between frames where the codec allows it (the
 * bit rate of g729e and g729i). */
VokResult vokcEncoderSet(VokcCoder* encoder, const char* options);
/* One frame: frameSamples samples in, *bytes payload bytes out (capacity
 * below maxPayload: vokErrSize). */
VokResult vokcEncodeFrame(VokcCoder* encoder, const Vok16s* pcm, Vok8u* payload, int capacity, int* bytes);
/* One received payload (payload NULL: the frame was lost; bytes is then
 * ignored) to *samples PCM samples (frameSamples; for G.722 and G.726 a
 * shorter payload gives its samples only).  A payload size the codec cannot
 * have is vokErrSize; any bytes are safe. */
VokResult vokcDecodeFrame(VokcCoder* decoder, const Vok8u* payload, int bytes, Vok16s* pcm, int* samples);
/* Ends a coder; frees its memory when the library allocated it.  NULL is
 * ignored. */
void vokcDestroy(VokcCoder* coder);
/* ==== end codecs by name ================================================== */

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
/* erased != 0: the frame was lost (prm is ignored).  Parameter values beyond
 * their bit fields are taken modulo the field size, as the bits would carry
 * them. */
VokResult vokcG729Decode(void* state, const Vok16s* prm /* 11 */, int erased, Vok16s* pcm /* 80 */);
/* The 80 bits of a frame, one bit per byte, in transmission order. */
VokResult vokcG729PackBits(const Vok16s* prm, Vok8u* bits /* 80 */);
VokResult vokcG729UnpackBits(const Vok8u* bits /* 80 */, Vok16s* prm);
/* ==== end G.729 ============================================================ */

/* ==== G.729 Annex B =========================================================== */
/* Silence compression (voice activity detection, discontinuous transmission,
 * comfort noise) on the G.729 and G.729A cores, on the state objects of the
 * G.729 section (same size queries).  Frame types: 1 = speech (the 11
 * parameters, 80 bits), 2 = SID (4 parameters: predictor switch, first- and
 * second-stage LSF indices, gain index; 15 bits), 0 = untransmitted (no
 * parameters, no bits). */
typedef enum { vokcG729BUntransmitted = 0, vokcG729BSpeech = 1, vokcG729BSid = 2 } VokcG729BFrameType;
/* An encoder with DTX always on; variant as for vokcG729EncoderInit. */
VokResult vokcG729BEncoderInit(void* state, int variant);
/* One 80-sample frame; *frameType receives the frame's type and prm its
 * parameters (11 for speech, 4 for SID, none for an untransmitted frame). */
VokResult vokcG729BEncode(void* state, const Vok16s* pcm /* 80 */, Vok16s* prm /* 11 */, int* frameType);
/* Any decoder from vokcG729DecoderInit decodes Annex B streams (a stream of
 * speech frames only decodes as with vokcG729Decode).  prm may be null for an
 * untransmitted frame; parameter values beyond their bit fields are taken
 * modulo the field size; a frame type outside 0..2 is vokErrRange.
 * erased != 0: the frame was lost on the channel (prm is ignored); it is
 * concealed as the previous frame's kind: speech concealment after a speech
 * frame, otherwise comfort noise continued as for an untransmitted frame. */
VokResult vokcG729BDecode(void* state, const Vok16s* prm, int frameType, int erased, Vok16s* pcm /* 80 */);
/* The 15 bits of an SID frame, one bit per byte, in transmission order. */
VokResult vokcG729BPackSid(const Vok16s* prm /* 4 */, Vok8u* bits /* 15 */);
VokResult vokcG729BUnpackSid(const Vok8u* bits /* 15 */, Vok16s* prm /* 4 */);
/* ==== end G.729 Annex B ======================================================= */

/* ==== G.729 Annex D =========================================================== */
/* G.729 with its 6.4 kbit/s extension: one coder whose rate may change from
 * frame to frame.  The objects are used from their first 16-byte boundary:
 * ask the size, allocate, Init, then call once per 80-sample frame with the
 * frame's rate, given as its bit count.  A 6.4 kbit/s frame has 10
 * parameters (LSP indices 8 + 10 bits; per subframe the delay index, 8 bits
 * in the first and 4 in the second, pulse positions 9 bits, pulse signs 2,
 * gain index 6), an 8 kbit/s frame the 11 of G.729.  A rate other than the
 * two below: vokErrRange. */
typedef enum { vokcG729D6k4 = 64, vokcG729D8k = 80 } VokcG729DRate;
VokResult vokcG729DEncoderGetSize(int* size);
VokResult vokcG729DEncoderInit(void* state);
VokResult vokcG729DEncode(void* state, const Vok16s* pcm /* 80 */, int rate, Vok16s* prm /* 10 or 11 */);
VokResult vokcG729DDecoderGetSize(int* size);
VokResult vokcG729DDecoderInit(void* state);
/* Each parameter is reduced to its field width.  erased != 0: the frame was
 * lost (prm is ignored and may be null); rate is still the lost frame's. */
VokResult vokcG729DDecode(void* state, const Vok16s* prm, int rate, int erased, Vok16s* pcm /* 80 */);
/* The rate's bits (64 or 80), one bit per byte, in transmission order. */
VokResult vokcG729DPackBits(const Vok16s* prm, int rate, Vok8u* bits);
VokResult vokcG729DUnpackBits(const Vok8u* bits, int rate, Vok16s* prm);
/* ==== end G.729 Annex D ======================================================= */

/* ==== G.729 Annex E =========================================================== */
/* 11.8 kbit/s extension of G.729 with forward or backward-adaptive LP
 * (mode chosen per frame by the encoder), switchable frame by frame with
 * 8 kbit/s G.729.  One coder per state object, used from its first 16-byte
 * boundary.  rate: vokcG729ERate8 or vokcG729ERate118 per frame.
 * Parameters: at 8 kbit/s the 11 of G.729; at 11.8 kbit/s prm[0] is the
 * mode (0 forward, 1 backward), then in forward mode the two LSP words, and
 * per subframe the delay index (8 bits, then a parity bit, in the first;
 * 5 bits in the second), 5 fixed-codebook words (7 bits each forward;
 * 13, 10, 7, 7, 7 backward) and the gain index (7 bits): 18 values forward,
 * 16 backward.  Arrays of 18 values are always enough. */
typedef enum { vokcG729ERate8 = 0, vokcG729ERate118 = 1 } VokcG729ERate;
VokResult vokcG729EEncoderGetSize(int* size);
VokResult vokcG729EEncoderInit(void* state);
VokResult vokcG729EEncode(void* state, const Vok16s* pcm /* 80 */, int rate, Vok16s* prm /* 18 */);
VokResult vokcG729EDecoderGetSize(int* size);
VokResult vokcG729EDecoderInit(void* state);
/* erased != 0: the frame was lost; of prm only prm[0] at 11.8 kbit/s (the
 * mode bit as received) is read, it steers the post-filter.  Parameters are
 * taken modulo their bit widths. */
VokResult vokcG729EDecode(void* state, const Vok16s* prm, int rate, int erased, Vok16s* pcm /* 80 */);
/* Frame bits, one per byte in transmission order: 80 at 8 kbit/s, 118 at
 * 11.8 kbit/s (the mode bit sent twice, then the parameters).  Unpack sets
 * *erased when the two mode bits disagree (the parameters then read 0). */
VokResult vokcG729EPackBits(const Vok16s* prm, int rate, Vok8u* bits);
VokResult vokcG729EUnpackBits(const Vok8u* bits, int rate, Vok16s* prm /* 18 */, int* erased);
/* ==== end G.729 Annex E ======================================================= */

/* ==== G.729 Annex I =========================================================== */
/* The integrated coder: 6.4 kbit/s (Annex D), 8 kbit/s (G.729) and 11.8
 * kbit/s (Annex E, forward or backward-adaptive LP) frames, switchable frame
 * by frame, with optional voice activity detection and discontinuous
 * transmission (Annex B).  State objects are used from their first 16-byte
 * boundary.  Frames travel as bits, one bit per byte in transmission order:
 * 118, 80 or 64 bits for speech, 16 for a SID frame (its 15 bits plus one
 * zero bit of octet padding, as the conformance streams carry it; the
 * decoder also takes the bare 15 bits) and 0 for an untransmitted frame.
 * Rates: 0 = 6.4, 1 = 8, 2 = 11.8 kbit/s. */
typedef enum { vokcG729IRate64 = 0, vokcG729IRate80 = 1, vokcG729IRate118 = 2 } VokcG729IRate;
VokResult vokcG729IEncoderGetSize(int* size);
/* dtx != 0 enables voice activity detection and discontinuous transmission. */
VokResult vokcG729IEncoderInit(void* state, int dtx);
/* One 80-sample frame at the given rate; *nbits receives the frame's bit
 * count (0, 16, 64, 80 or 118).  With DTX the rate applies to active frames
 * only. */
VokResult vokcG729IEncode(void* state, const Vok16s* pcm /* 80 */, int rate, Vok8u* bits /* 118 */, int* nbits);
VokResult vokcG729IDecoderGetSize(int* size);
VokResult vokcG729IDecoderInit(void* state);
/* nbits: 0, 15, 16, 64, 80 or 118 (anything else is vokErrSize);
 * erased != 0: the frame was lost on the channel (its bits are ignored and
 * the frame is concealed as the previous frame's type). */
VokResult vokcG729IDecode(void* state, const Vok8u* bits, int nbits, int erased, Vok16s* pcm /* 80 */);
/* ==== end G.729 Annex I ======================================================= */

/* ==== G.729A float ============================================================ */
/* G.729A in single-precision float on voksc's 32f steps.  Same frame
 * parameters as the G.729A coder above (pack them with vokcG729PackBits),
 * so its streams interoperate with the fixed-point coders; it is not
 * bit-exact with them.  One coder per state object, used from its first
 * 16-byte boundary: ask its size, allocate, Init, then one call per
 * 80-sample frame. */
VokResult vokcG729FloatEncoderGetSize(int* size);
VokResult vokcG729FloatEncoderInit(void* state);
VokResult vokcG729FloatEncode(void* state, const Vok16s* pcm /* 80 */, Vok16s* prm /* 11 */);
VokResult vokcG729FloatDecoderGetSize(int* size);
VokResult vokcG729FloatDecoderInit(void* state);
/* erased != 0: the frame was lost (prm is ignored).  Parameters are taken
 * modulo their field sizes, as for vokcG729Decode. */
VokResult vokcG729FloatDecode(void* state, const Vok16s* prm /* 11 */, int erased, Vok16s* pcm /* 80 */);
/* ==== end G.729A float ======================================================== */

/* ==== G.726 ================================================================ */
/* ADPCM at 16, 24, 32 or 40 kbit/s (kbps), 8 kHz, one code of 2..5 bits per
 * sample (one per byte, low bits).  PCM is 16-bit linear (coded on its top 14
 * bits) or, with a G.711 law, one character per sample in the low byte
 * (A-law as transmitted); the G.711 decoder output applies the synchronous
 * tandem adjustment.  Any number of samples per call; the stream continues
 * across calls.  The objects need no particular alignment. */
typedef enum { vokcG726Linear = 0, vokcG726ULaw = 1, vokcG726ALaw = 2 } VokcG726Law;
VokResult vokcG726EncoderGetSize(int* size);
/* kbps not 16/24/32/40 or an unknown law: vokErrRange. */
VokResult vokcG726EncoderInit(void* state, int kbps, int law);
VokResult vokcG726Encode(void* state, const Vok16s* pcm, int len, Vok8u* codes /* len */);
VokResult vokcG726DecoderGetSize(int* size);
VokResult vokcG726DecoderInit(void* state, int kbps, int law);
VokResult vokcG726Decode(void* state, const Vok8u* codes, int len, Vok16s* pcm /* len */);
/* Switches an encoder or decoder to another rate between calls, keeping all
 * adaptation state (variable-rate operation). */
VokResult vokcG726SetRate(void* state, int kbps);
/* RFC 3551 packing: codewords laid into octets from the least significant
 * bit up.  Pack writes (count * bits + 7) / 8 octets (the last one padded with
 * zero bits); Unpack writes nbytes * 8 / bits codes. */
VokResult vokcG726Pack(const Vok8u* codes, int count, int kbps, Vok8u* bytes, int* written);
VokResult vokcG726Unpack(const Vok8u* bytes, int nbytes, int kbps, Vok8u* codes, int* count);
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

/* ==== GSM-AMR narrowband (amr-nb) ========================================= */
/* Reached through the codec API above by the name "amr-nb" (8 kHz, 160
 * samples per frame, payloads of at most 33 bytes, not fixed).
 * - Payload: one RFC 4867 octet-aligned payload per frame (CMR octet, TOC
 *   octet with F = 0, the frame's bits in the importance order of TS 26.101
 *   padded to octets): 14..33 bytes for speech, 7 for a SID frame, 2 for
 *   NO_DATA.  The encoder sends CMR 15 (no request) and a 2-byte NO_DATA
 *   payload for each frame DTX leaves empty.  The decoder reads any such
 *   payload: Q = 0 marks a damaged speech frame (decoded with concealment)
 *   or a bad SID; a SID's STI bit tells SID_FIRST from SID_UPDATE; frame
 *   types 9..15 are NO_DATA, as the 3GPP decoder reads them.  Several
 *   frames in one payload, or a size that does not match the TOC, are
 *   vokErrSize.  A lost frame (payload NULL) and a 0-byte payload are
 *   decoded as NO_DATA: during speech the reference's concealment of a
 *   missing frame (random parameters, attenuated gains, repeated lag),
 *   during comfort noise the noise continues and mutes after 50 frames
 *   without SID_UPDATE.  The reserved CMR bits are read only for the
 *   serial format's degraded-speech and onset frame types.
 * - Encoder options: "mode" or "bitrate" = 4.75|5.15|5.9|6.7|7.4|7.95|10.2|
 *   12.2 (also MR475 ... MR122 or 4750 ...; default 12.2; changeable between
 *   frames with vokcEncoderSet, and by a rate file whose words 0..7 select
 *   these modes, or a text file with one mode name per line as the 3GPP
 *   vectors' allmodes.txt), "dtx=1" (voice activity detection, SID frames, NO_DATA),
 *   "vad=1|2" (the detector option, default 1).
 * - The decoder follows the TS 26.073 reference bit for bit: the 0xFFF8
 *   output mask, decoder homing (a homing frame of the frame's mode resets
 *   the decoder; a second one in a row outputs the encoder homing frame,
 *   0x0008 samples), and the frame types SPEECH_GOOD, SPEECH_DEGRADED,
 *   SPEECH_BAD, ONSET, SID_FIRST, SID_UPDATE, SID_BAD and NO_DATA.
 * - Stream layouts of the tool and the stream helpers (--format): "itu" =
 *   the 3GPP serial test format of the TS 26.073 vectors (250 16-bit words
 *   per frame: TX frame type 0..7, one word per bit in parameter order, the
 *   mode, four zero words; a NO_DATA frame written from a payload has zero
 *   bit words where the reference encoder leaves its SID bits); "storage" =
 *   the RFC 4867 storage file ("#!AMR\n", then per frame its TOC octet and
 *   octet-aligned bits; the default for file names ending in .amr); "rtp" and
 *   "rtp-oa" = octet-aligned payloads, "rtp-be" = bandwidth-efficient
 *   payloads, each after one length octet. */
/* ==== end GSM-AMR ========================================================== */

#ifdef __cplusplus
}
#endif

#endif /* VOKCODEC_H */
