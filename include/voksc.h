/*
 * voksc - speech-coding primitives with a plain C interface.
 *
 * Every export returns a VokResult: 0 on success, a negative error (nothing
 * written) or a positive warning (outputs valid).  Arguments are checked in
 * this order: null pointers (vokErrNullPtr), then lengths (vokErrSize), then
 * value ranges and coded parameters.  The caller owns every buffer and state
 * object; the library keeps no global mutable state.
 *
 * Processor forms: the hot kernels exist in a portable form and in AVX2 form
 * (x86 builds); the library chooses once per process, on first use, the
 * highest form that both the processor and the operating system support.
 * Every form gives the same bits.  The one environment variable the library
 * reads is VOKSC_CPU: "scalar", "avx2" or "avx512" lowers that choice (it
 * never raises it; other values change nothing), for comparisons and tests.
 *
 * Each codec family has its own section below; add declarations inside the
 * section of the family they belong to.
 */
#ifndef VOKSC_H
#define VOKSC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VOKSC_BUILDING)
#define VOKAPI __attribute__((visibility("default")))
#else
#define VOKAPI
#endif

/* ---- element types ------------------------------------------------------ */
typedef uint8_t Vok8u;
typedef int8_t Vok8s;
typedef int16_t Vok16s;
typedef uint16_t Vok16u;
typedef int32_t Vok32s;
typedef uint32_t Vok32u;
typedef int64_t Vok64s;
typedef float Vok32f;
typedef double Vok64f;
typedef struct { Vok32s re; Vok32s im; } Vok32sc;
typedef struct { Vok32f re; Vok32f im; } Vok32fc;

/* ---- status codes ------------------------------------------------------- */
typedef enum {
  vokOk = 0,
  vokWrnNoOperation = 1,
  vokWrnOverflow = 12,
  vokWrnLsfFloor = 13,
  vokWrnLsfCeiling = 14,
  vokWrnLsfFloorCeiling = 15,
  vokWrnZeroCorrelation = 17,
  vokErrInternal = -2,
  vokErrBadArg = -5,
  vokErrSize = -6,
  vokErrRange = -7,
  vokErrNullPtr = -8,
  vokErrMemAlloc = -9,
  vokErrIndex = -11,
  vokErrDomain = -12,
  vokErrScale = -13,
  vokErrFftOrder = -15,
  vokErrFftFlag = -16,
  vokErrContextMatch = -17,
  vokErrThresholdOrder = -18,
  vokErrThreshold = -19,
  vokErrShift = -32,
  vokErrSubbandCount = -119
} VokStatus;
typedef int32_t VokResult;

/* ---- rate codes: one numbering across families, ordered by bit rate ------ */
typedef enum {
  vokRateGsmAmr475 = 0,
  vokRateGsmAmr515 = 1,
  vokRateG723_53 = 2,
  vokRateGsmAmr590 = 3,
  vokRateG723_63 = 4,
  vokRateAmrWb660 = 5,
  vokRateGsmAmr670 = 6,
  vokRateGsmAmr740 = 7,
  vokRateGsmAmr795 = 8,
  vokRateAmrWb885 = 9,
  vokRateG728_96 = 10,
  vokRateGsmAmr1020 = 11,
  vokRateGsmAmr1220 = 12,
  vokRateAmrWb1265 = 13,
  vokRateG728_128 = 14,
  vokRateAmrWb1425 = 15,
  vokRateAmrWb1585 = 16,
  vokRate16000 = 17,   /* G.728 and G.726 at 16 kbit/s */
  vokRateAmrWb1825 = 18,
  vokRateAmrWb1985 = 19,
  vokRateAmrWb2305 = 20,
  vokRateAmrWb2385 = 21,
  vokRate24000 = 22,   /* G.726 at 24 kbit/s; AMR-WB+ core mode with an 88-bit codebook */
  vokRateG726_32 = 23,
  vokRateG726_40 = 24,
  vokRateSid = 25,     /* GSM-AMR and AMR-WB comfort-noise frame */
  vokRateAmrWbPlus20 = 26,
  vokRateAmrWbPlus28 = 27,
  vokRateAmrWbPlus36 = 28,
  vokRateAmrWbPlus44 = 29,
  vokRateAmrWbPlus52 = 30,
  vokRateAmrWbPlus64 = 31,
  vokRateAmrWbPlus72 = 32
} VokRateCodeValue;
typedef int32_t VokRateCode;

/* ---- version record ----------------------------------------------------- */
typedef struct {
  int32_t major;
  int32_t minor;
  int32_t update;
  int32_t build;
  char cpuCode[4];
  const char* name;
  const char* versionText;
  const char* buildDate;
} vokLibraryVersion;

VOKAPI const vokLibraryVersion* vokscGetLibVersion(void);

/* ==== codec-neutral correlation and scaling ============================== */
VOKAPI VokResult voksAutoCorr_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen);
VOKAPI VokResult voksAutoCorr_NormE_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen, int* norm);
VOKAPI VokResult voksAutoCorrLagMax_Fwd_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max, int* lag);
VOKAPI VokResult voksAutoCorrLagMax_Inv_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max, int* lag);
VOKAPI VokResult voksAutoCorrLagMax_32f(const Vok32f* x, int len, int lagMin, int lagMax, Vok32f* max, int* lag);
VOKAPI VokResult voksCrossCorrLagMax_16s(const Vok16s* x, const Vok16s* y, int len, int lagMax, Vok32s* max, int* lag);
VOKAPI VokResult voksCrossCorrLagMax_32f64f(const Vok32f* x, const Vok32f* y, int len, int lagMax, Vok64f* max, int* lag);
VOKAPI VokResult voksCrossCorr_16s32s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok32s* out, int scale);
VOKAPI VokResult voksCrossCorr_NormM_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* out);
VOKAPI VokResult voksConvPartial_16s32s(const Vok16s* a, const Vok16s* b, Vok32s* out, int len);
VOKAPI VokResult voksConvPartial_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* out, int len, int scale);
VOKAPI VokResult voksDotProdAutoScale_16s32s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok32s* result, int* scale);
VOKAPI VokResult voksAutoScale_16s(const Vok16s* x, Vok16s* out, int len, int* scale);
VOKAPI VokResult voksAutoScale_16s_I(Vok16s* x, int len, int* scale);
VOKAPI VokResult voksInvSqrt_32s_I(Vok32s* x, int len);
VOKAPI VokResult voksResidualFilter_Low_16s_Sfs(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len, int scale);
VOKAPI VokResult voksHarmonicFilter_16s_I(Vok16s gain, int lag, Vok16s* x, int len);
VOKAPI VokResult voksHarmonicFilter_32f_I(Vok32f gain, int lag, Vok32f* x, int len);
VOKAPI VokResult voksPreemphasize_32f_I(Vok32f factor, Vok32f* x, int len, Vok32f* mem);
/* Harmonic filters (here and the NR form): a negative lag is vokErrRange.
 * Lag-maximum searches (16-bit forms): correlations are doubled as an L_mac
 * chain forms them, summed exactly and saturated once.  _Inv visits the lags
 * from lagMax down and an equal value moves to the smaller lag; _Fwd and the
 * cross search visit upward and keep the first maximum; the float search
 * keeps the first maximum going up.  In every form the smallest of equally
 * correlated lags wins. */
/* ==== end codec-neutral ==================================================== */

/* ==== G.729 LP analysis and LSP quantisation ============================= */
/* LP coefficients Q12 (a[0] = 4096), LSP Q15, LSF Q13 radians; MA predictor
 * memory: 4 frames x 10 residuals Q13, newest first; packed LSP index: 2 words.
 * The LSF decoders (16s and 32f) take (switch 0..1, stage 1 0..127, stage 2
 * 0..31, 0..31) and reject any index outside those ranges with vokErrIndex. */
VOKAPI VokResult voksLagWindow_G729_32s_I(Vok32s* r, int len);
VOKAPI VokResult voksLevinsonDurbin_G729_32s16s(const Vok32s* r, int order, Vok16s* a, Vok16s* rc, Vok16s* err);
VOKAPI VokResult voksLevinsonDurbin_G729B(const Vok32s* r, Vok16s* a, Vok16s* rc2, Vok16s* err);
VOKAPI VokResult voksLPCToLSP_G729_16s(const Vok16s* a, const Vok16s* oldLsp, Vok16s* lsp);
VOKAPI VokResult voksLPCToLSP_G729A_16s(const Vok16s* a, const Vok16s* oldLsp, Vok16s* lsp);
VOKAPI VokResult voksLSPToLPC_G729_16s(const Vok16s* lsp, Vok16s* a);
VOKAPI VokResult voksLSPToLSF_G729_16s(const Vok16s* lsp, Vok16s* lsf);
VOKAPI VokResult voksLSPToLSF_Norm_G729_16s(const Vok16s* lsp, Vok16s* lsf);
VOKAPI VokResult voksLSFToLSP_G729_16s(const Vok16s* lsf, Vok16s* lsp);
VOKAPI VokResult voksLSFQuant_G729_16s(const Vok16s* lsf, Vok16s* mem, Vok16s* lsfq, Vok16s* idx);
VOKAPI VokResult voksLSPQuant_G729_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* lspq, Vok16s* packed);
VOKAPI VokResult voksLSPQuant_G729E_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* residual, Vok16s* lspq, Vok16s* packed);
VOKAPI VokResult voksLSFDecode_G729_16s(const Vok16s* idx, Vok16s* mem, Vok16s* lsf);
VOKAPI VokResult voksLSFDecodeErased_G729_16s(int mode, Vok16s* mem, const Vok16s* lastLsf);
VOKAPI VokResult voksInterpolate_G729_16s(const Vok16s* a, const Vok16s* b, Vok16s* out, int len);
VOKAPI VokResult voksInterpolateC_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb, Vok16s* out, int len, int scale);
VOKAPI VokResult voksInterpolateC_NR_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb, Vok16s* out, int len, int scale);
/* Float forms: LSPs as cosines, LSFs in radians, a[0] = 1; float MA memory
 * 4 x 10 newest first.  Annex E hybrid window state: 124 bytes. */
VOKAPI VokResult voksLPCToLSP_G729_32f(const Vok32f* a, const Vok32f* oldLsp, Vok32f* lsp);
VOKAPI VokResult voksLPCToLSP_G729A_32f(const Vok32f* a, const Vok32f* oldLsp, Vok32f* lsp);
VOKAPI VokResult voksLSPToLPC_G729_32f(const Vok32f* lsp, Vok32f* a);
VOKAPI VokResult voksLevinsonDurbin_G729_32f(const Vok32f* r, int order, Vok32f* a, Vok32f* rc, Vok32f* err);
VOKAPI VokResult voksInterpolateC_G729_32f(const Vok32f* a, Vok32f wa, const Vok32f* b, Vok32f wb, Vok32f* out, int len);
VOKAPI VokResult voksLSFDecode_G729_32f(const Vok16s* idx, Vok32f* mem, Vok32f* lsf);
VOKAPI VokResult voksLSFDecodeErased_G729_32f(int mode, Vok32f* mem, const Vok32f* lastLsf);
VOKAPI VokResult voksWinHybridGetStateSize_G729E_16s(int* size);
VOKAPI VokResult voksWinHybridGetStateSize_G729E_32f(int* size);
VOKAPI VokResult voksWinHybridInit_G729E_16s(void* state);
VOKAPI VokResult voksWinHybridInit_G729E_32f(void* state);
VOKAPI VokResult voksWinHybrid_G729E_16s32s(const Vok16s* x, Vok32s* r, void* state);
VOKAPI VokResult voksWinHybrid_G729E_32f(const Vok32f* x, Vok32f* r, void* state);
VOKAPI VokResult voksLSPQuant_G729E_32f(const Vok32f* lsp, Vok32f* mem, Vok32f* residual, Vok32f* lspq, Vok16s* packed);
/* ==== end G.729 LP analysis ================================================ */

/* ==== G.729 pitch analysis and adaptive codebook ========================= */
/* Past-excitation buffers: 154 past samples then the 40 of the subframe,
 * addressed at the first past sample (the float decoder takes the subframe
 * itself).  Delay pairs: (integer, fraction in thirds -1..1); the float
 * decoder takes 18..145 but not 145 + 1/3.  Gains Q14.
 * Open loop: wsp at the frame, 143 samples readable before it.  Closed
 * loop: centre 18..145 (subframe 1: the integer delay of subframe 0); the
 * chosen vector is also written to the subframe part of the buffer
 * (except Annex D).  The target update subtracts bits 14..29 of y g
 * modulo 2^16 (the reference encoders saturate both the product and the
 * difference instead; vokcodec's coders do that step themselves). */
VOKAPI VokResult voksOpenLoopPitchSearch_G729_16s(const Vok16s* wsp, Vok16s* delay);
VOKAPI VokResult voksOpenLoopPitchSearch_G729A_16s(const Vok16s* wsp, Vok16s* delay);
VOKAPI VokResult voksAdaptiveCodebookSearch_G729_16s(Vok16s centre, const Vok16s* x, const Vok16s* h, Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe);
VOKAPI VokResult voksAdaptiveCodebookSearch_G729A_16s(Vok16s centre, const Vok16s* x, const Vok16s* h, Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe);
VOKAPI VokResult voksAdaptiveCodebookSearch_G729D_16s(Vok16s centre, const Vok16s* x, const Vok16s* h, const Vok16s* excBuf, int subframe, Vok16s* delay);
VOKAPI VokResult voksDecodeAdaptiveVector_G729_16s_I(const Vok16s* delay, Vok16s* excBuf);
VOKAPI VokResult voksDecodeAdaptiveVector_G729_16s(const Vok16s* delay, Vok16s* excBuf, Vok16s* vec);
VOKAPI VokResult voksAdaptiveCodebookContribution_G729_16s(Vok16s gain, const Vok16s* y, const Vok16s* x, Vok16s* x2);
VOKAPI VokResult voksAdaptiveCodebookGain_G729_16s(const Vok16s* x, const Vok16s* h, const Vok16s* vec, Vok16s* y, Vok16s* gain);
VOKAPI VokResult voksAdaptiveCodebookGain_G729A_16s(const Vok16s* x, const Vok16s* a, const Vok16s* vec, Vok16s* y, Vok16s* gain);
VOKAPI VokResult voksOpenLoopPitchSearch_G729A_32f(const Vok32f* s, Vok32s* delay);
VOKAPI VokResult voksAdaptiveCodebookContribution_G729_32f(Vok32f gain, const Vok32f* y, const Vok32f* x, Vok32f* x2);
VOKAPI VokResult voksDecodeAdaptiveVector_G729_32f_I(const Vok32s* delay, Vok32f* exc);
/* ==== end G.729 pitch ====================================================== */

/* ==== G.729 fixed codebook and gains ====================================== */
/* Correlation matrix: 616 values (five diagonals, then nine cross blocks).
 * Codebook index: (positions, signs).  Gain memory: 4 values Q10, newest
 * first.  voksDecodeGain_G729_16s: energy is the exact sum of squares of the
 * 40 code samples; a null index pointer decodes an erased frame; indices
 * outside 0..7 and 0..15 are vokErrIndex. */
VOKAPI VokResult voksToeplizMatrix_G729_16s32s(const Vok16s* h, Vok32s* rr);
VOKAPI VokResult voksToeplizMatrix_G729_16s(const Vok16s* h, Vok16s* rr);
VOKAPI VokResult voksFixedCodebookSearch_G729A_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index);
VOKAPI VokResult voksFixedCodebookSearch_G729A_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod, Vok16s* index);
VOKAPI VokResult voksFixedCodebookSearch_G729_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index, Vok16s* budget, int subframe);
VOKAPI VokResult voksFixedCodebookSearch_G729_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod, Vok16s* index, Vok16s* budget, int subframe);
VOKAPI VokResult voksDotProd_G729A_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* result);
VOKAPI VokResult voksGainQuant_G729_16s(const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z, Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame);
VOKAPI VokResult voksDecodeGain_G729_16s(Vok32s energy, Vok16s* mem, const Vok16s* index, Vok16s* gains);
/* Annex I: 6.4 kbit/s codebooks (indices 0..7 each, else vokErrIndex); a
 * null index decodes an erased frame, both gains scaled by the attenuation
 * (Q15). */
VOKAPI VokResult voksDecodeGain_G729I_16s(Vok32s energy, Vok16s attenuation, Vok16s* mem, const Vok16s* index, Vok16s* gains);
/* Annex D (6.4 kbit/s) two-pulse search: dn and the impulse response h
 * (Q12) in; code vector (Q13), filtered code vector, sign word and Gray-coded
 * position word out.  Annex E (11.8 kbit/s): mode 0 forward (10 pulses,
 * 35 bits), otherwise backward (12 pulses, 44 bits); cn is the
 * long-term-prediction residual; code Q12, filtered code Q11, index 5 words.
 * voksGainQuant_G729D_16s: the 6.4 kbit/s codebooks (8 + 8 rows). */
VOKAPI VokResult voksFixedCodebookSearch_G729D_16s(const Vok16s* dn, const Vok16s* h, Vok16s* cod, Vok16s* y, Vok16s* sign, Vok16s* index);
VOKAPI VokResult voksFixedCodebookSearch_G729E_16s(int mode, const Vok16s* x, const Vok16s* cn, const Vok16s* h, Vok16s* cod, Vok16s* y, Vok16s* index);
VOKAPI VokResult voksGainQuant_G729D_16s(const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z, Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame);
/* Float forms: pulses of +-1, index words as 32-bit integers, the search
 * budget of the focused search likewise.  Gain codebook searches: terms
 * <y,y>, -2<x,y>, <z,z>, -2<x,z>, 2<y,z>, the predicted code gain and the
 * preselected first rows (0..4 and 0..8; Annex D 0..2 each) in, the chosen
 * rows out. */
VOKAPI VokResult voksToeplizMatrix_G729_32f(const Vok32f* h, Vok32f* rr);
VOKAPI VokResult voksToeplizMatrix_G729D_32f(const Vok32f* h, Vok32f* rr);
VOKAPI VokResult voksFixedCodebookSearch_G729_32f(const Vok32f* dn, Vok32f* rr, Vok32f* cod, Vok32s* index, Vok32s* budget, int subframe);
VOKAPI VokResult voksFixedCodebookSearch_G729A_32f(const Vok32f* dn, Vok32f* rr, Vok32f* cod, Vok32s* index);
VOKAPI VokResult voksFixedCodebookSearch_G729D_32f(const Vok32f* dn, const Vok32f* h, Vok32f* cod, Vok32f* y, Vok32s* sign, Vok32s* index);
VOKAPI VokResult voksFixedCodebookSearch_G729E_32f(int mode, const Vok32f* x, const Vok32f* cn, const Vok32f* h, Vok32f* cod, Vok32f* y, Vok32s* index);
VOKAPI VokResult voksDotProd_G729A_32f(const Vok32f* a, const Vok32f* b, int len, Vok32f* result);
VOKAPI VokResult voksGainCodebookSearch_G729_32f(const Vok32f* terms, Vok32f gcode0, const Vok32s* cand, Vok32s* rows, int tame);
VOKAPI VokResult voksGainCodebookSearch_G729D_32f(const Vok32f* terms, Vok32f gcode0, const Vok32s* cand, Vok32s* rows, int tame);
/* ==== end G.729 fixed codebook and gains =================================== */

/* ==== G.729 filters, phase dispersion and post-filter ===================== */
/* High-pass state: 24 bytes.  Long-term post-filters: G.729 residual
 * buffer 152 + 40, Annex A 154 + 40; both shift their buffer by one
 * subframe.  The G.729 filter takes delays up to 143; the reference
 * decoders also filter at 144 (reused after a lost frame), which vokcodec's
 * decoders do themselves.  Tilt compensation reads the sample before the signal (the
 * previous subframe's last unfiltered sample for Annex A).  Short-term
 * post-filter: output area with its 10 past outputs before it. */
VOKAPI VokResult voksHighPassFilterSize_G729(int* size);
VOKAPI VokResult voksHighPassFilterInit_G729(const Vok16s* coeffs, void* state);
VOKAPI VokResult voksHighPassFilter_G729_16s_ISfs(Vok16s* x, int len, int q, void* state);
VOKAPI VokResult voksSynthesisFilter_G729E_16s(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len, Vok16s* mem);
VOKAPI VokResult voksSynthesisFilter_G729E_16s_I(const Vok16s* a, int order, Vok16s* x, int len, Vok16s* mem);
VOKAPI VokResult voksResidualFilter_G729_16s(const Vok16s* x, const Vok16s* a, Vok16s* y);
VOKAPI VokResult voksLongTermPostFilter_G729_16s(Vok16s factor, int delay, Vok16s* res, Vok16s* out, Vok16s* voicing);
VOKAPI VokResult voksShortTermPostFilter_G729_16s(const Vok16s* a, const Vok16s* ltp, Vok16s* out, Vok16s* h);
VOKAPI VokResult voksTiltCompensation_G729_16s(const Vok16s* h, Vok16s* signal);
VOKAPI VokResult voksTiltCompensation_G729E_16s(Vok16s k, const Vok16s* signal, Vok16s* out);
VOKAPI VokResult voksGainControl_G729_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain);
VOKAPI VokResult voksLongTermPostFilter_G729A_16s(int delay, const Vok16s* speech, const Vok16s* num, Vok16s* res, Vok16s* out);
VOKAPI VokResult voksTiltCompensation_G729A_16s(const Vok16s* ap, Vok16s* signal);
VOKAPI VokResult voksGainControl_G729A_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain);
/* voksSynthesisFilter_G729E_16s (and _I): mem may be null, then the filter
 * starts from rest and keeps nothing. */
/* Pole-zero filters: coefficients num[11] then den[11]; memory: 10 past
 * inputs then 10 past outputs.  Pre-emphasis memory: the last input. */
VOKAPI VokResult voksPreemphasize_G729A_16s(Vok16s factor, const Vok16s* x, Vok16s* y, int len, Vok16s* mem);
VOKAPI VokResult voksPreemphasize_G729A_16s_I(Vok16s factor, Vok16s* x, int len, Vok16s* mem);
VOKAPI VokResult voksResidualFilter_G729E_16s(const Vok16s* a, Vok16s order, const Vok16s* x, Vok16s* y, int len);
VOKAPI VokResult voksIIR16s_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem);
VOKAPI VokResult voksIIR16sLow_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem);
VOKAPI VokResult voksFilteredExcitation_G729_32f(const Vok32f* h, Vok32f* y, int len, Vok32f e);
/* Annex D phase dispersion: state 20 bytes; voksPhaseDispersion_G729D_16s
 * takes the subframe's total excitation and writes the excitation rebuilt
 * with the dispersed fixed vector (code is in/out). */
VOKAPI VokResult voksPhaseDispersionGetStateSize_G729D_16s(int* size);
VOKAPI VokResult voksPhaseDispersionInit_G729D_16s(void* state);
VOKAPI VokResult voksPhaseDispersionUpdate_G729D_16s(Vok16s pitchGain, Vok16s codeGain, void* state);
VOKAPI VokResult voksPhaseDispersion_G729D_16s(const Vok16s* exc, Vok16s* excOut, Vok16s codeGain, Vok16s pitchGain, Vok16s* code, void* state);
VOKAPI VokResult voksLongTermPostFilter_G729B_16s(int delay, const Vok16s* speech, const Vok16s* a, Vok16s* res, Vok16s* out, Vok16s* voicing, int frameType);
/* Annex B long-term post-filter: frame type 1 (speech) filters; 0 and 2
 * pass the residual through with voicing 0.  Float synthesis: a[0] = 1,
 * order 1..30, len 1..640.  Float AGC: gainIn = sum |speech before
 * post-filtering|, factor = 0.9875 for G.729; 40 samples. */
VOKAPI VokResult voksSynthesisFilter_G729_32f(const Vok32f* a, int order, const Vok32f* x, Vok32f* y, int len, Vok32f* mem);
VOKAPI VokResult voksGainControl_G729_32f_I(Vok32f gainIn, Vok32f factor, Vok32f* sig, Vok32f* pastGain);
/* ==== end G.729 filters and post-filter ==================================== */

/* ==== G.729 Annex B discontinuous transmission ============================ */
/* Comfort-noise generator seed: caller-owned, advanced by 12 per sample. */
VOKAPI VokResult voksAutoCorr_G729B(const Vok16s* x, Vok16s* exponent, Vok32s* r);
VOKAPI VokResult voksRandomNoiseExcitation_G729B_16s(Vok16s* seed, Vok16s* exc, int len);
VOKAPI VokResult voksRandomNoiseExcitation_G729B_16s32f(Vok16s* seed, Vok32f* exc, int len);
/* SID LSF index: (predictor switch, first stage 0..31, second stage 0..15). */
VOKAPI VokResult voksLSFDecode_G729B_16s(const Vok16s* idx, Vok16s* mem, Vok16s* lsf);
VOKAPI VokResult voksLSFQuant_G729B_16s(const Vok16s* lsfIn, Vok16s* mem, Vok16s* lsfq, Vok16s* idx);
/* Float forms: LSFs in radians, float MA memory 4 x 10 newest first.  Both
 * SID decoders reject an index outside its range with vokErrIndex. */
VOKAPI VokResult voksLSFDecode_G729B_32f(const Vok16s* idx, Vok32f* mem, Vok32f* lsf);
VOKAPI VokResult voksLSFQuant_G729B_32f(const Vok32f* lsfIn, Vok32f* mem, Vok32f* lsfq, Vok16s* idx);
/* ==== end G.729 Annex B ===================================================== */

/* ==== GSM-AMR LP analysis and LSP quantisation ========================== */
/* 160-sample frames, order 10.  LPC Q12 (a[0] = 4096), LSP Q15 cosines, LSF
 * Q15 normalised (0..16384 = 0..4 kHz).  Rate codes: vokRateGsmAmr475 ..
 * vokRateGsmAmr1220 and vokRateSid; 12.2 kbit/s carries two LSP sets
 * (20 values, two 11-value autocorrelations, 5 indices), the others one
 * (3 indices).  Past quantised residual: 10 values, caller-owned.
 * Notes on behaviour:
 * - voksLevinsonDurbin_GSMAMR_32s16s: when a reflection coefficient reaches
 *   the stability limit it returns vokWrnOverflow and leaves lpc as it was,
 *   so a caller that passes its previous frame's filter keeps it (what the
 *   standard's coder does).
 * - voksLSFToLSP_GSMAMR_16s: an LSF above 16383 uses the last table
 *   interval, extended.
 * - voksLSPQuant_GSMAMR_16s with vokRateSid: the MA prediction and tables of
 *   the 5.9 .. 10.2 kbit/s modes (the comfort-noise search of the initial
 *   prediction is voksEncDTXSID_GSMAMR_16s's).
 * - voksQuantLSPDecode_GSMAMR_16s with vokRateSid: the comfort-noise
 *   decoder's prediction, mean + past residual unscaled (as the standard's
 *   decoder computes it), in good and bad frames.
 * - voksQuantLSPDecode_GSMAMR_16s with bfi 0: after the rate check, an
 *   index outside its codebook (128, 256, 256 x 2 signs, 256, 64 rows at
 *   12.2 kbit/s; 256, 256, 128 at 4.75 and 5.15; 512, 512, 512 at 7.95;
 *   256, 512, 512 otherwise) is vokErrIndex.  A bad frame reads none.
 * - voksPreemphasize_GSMAMR_16s: dst[n] = add(x[n], mult(gamma, x[n-1])). */
VOKAPI VokResult voksAutoCorr_GSMAMR_16s32s(const Vok16s* src, Vok32s* acf, VokRateCode rate);
VOKAPI VokResult voksLevinsonDurbin_GSMAMR_32s16s(const Vok32s* acf, Vok16s* lpc);
VOKAPI VokResult voksLPCToLSP_GSMAMR_16s(const Vok16s* lpc, const Vok16s* prevLsp, Vok16s* lsp);
VOKAPI VokResult voksLSPToLPC_GSMAMR_16s(const Vok16s* lsp, Vok16s* lpc);
VOKAPI VokResult voksLSFToLSP_GSMAMR_16s(const Vok16s* lsf, Vok16s* lsp);
VOKAPI VokResult voksLSPQuant_GSMAMR_16s(const Vok16s* lsp, Vok16s* pastRes, Vok16s* lspQ, Vok16s* indices, VokRateCode rate);
VOKAPI VokResult voksQuantLSPDecode_GSMAMR_16s(const Vok16s* indices, Vok16s* pastRes, Vok16s* prevLsf, Vok16s* lsp, Vok16s* lspSub, Vok16s bfi, VokRateCode rate);
VOKAPI VokResult voksInterpolate_GSMAMR_16s(const Vok16s* cur, const Vok16s* prev, Vok16s* dst, int len);
VOKAPI VokResult voksPreemphasize_GSMAMR_16s(Vok16s gamma, const Vok16s* src, Vok16s* dst, int len, Vok16s* mem);
/* ==== end GSM-AMR LP analysis =============================================== */

/* ==== GSM-AMR pitch analysis ============================================== */
/* ap1, ap2: A(z/g1), A(z/g2) of the four subframes (4 x 11, Q12).  speech:
 * 10 samples of history then the frame.  wspHist: the 143 weighted samples
 * before the frame, updated.  10.2 kbit/s search state: medianLag (median
 * of the last lags), adaptWeight (Q15) and lagHist[5] (the five lags the
 * median is taken over; the coder also stores closed-loop lags into it).
 * The first detector's form updates toneReg and writes the high-pass
 * correlation of the frame's last search to bestCorrHp; the second
 * detector's form writes the sums over the frame's searches of the chosen
 * correlations and energies to rMax and r0.  vokRateSid searches as 12.2.
 * A medianLag outside 16..143 (never held by a coder) is taken as the
 * nearer end of that range.
 * Excitation buffers: the subframe at 154 samples past the pointer.
 * voksAdaptiveCodebookSearch_GSMAMR_16s: lag in = previous subframe's lag.
 * voksAdaptiveCodebookDecode_GSMAMR_16s: concealFlag / concealState are the
 * decoder's background-noise flag and voiced hangover; the two 32-bit
 * inputs are not used.  After the rate: an index beyond its field (9 or 8
 * bits in subframes coded absolutely; 6 at 12.2 and 7.95, 5 at 7.4 and
 * 10.2, 4 bits below in the others) is vokErrIndex, an oldLag outside
 * 17..144 (the lags those fields decode to) vokErrRange.  oldLag is raised on bad frames only; the caller
 * stores the used lag into it after the subframe.
 * Pitch gain coefficients: {<y,y> mantissa, 15 - its exponent, <x,y>
 * mantissa, 15 - its exponent} (the cross term itself, not -2<x,y>); the
 * 12.2 kbit/s coder clears the gain's two low bits itself.
 * voksImpulseResponseTarget_GSMAMR_16s: memErr and memW0 are read only. */
VOKAPI VokResult voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(const Vok16s* ap1, const Vok16s* ap2, const Vok16s* speech, Vok16s* medianLag, Vok16s* adaptWeight, Vok16s* lagHist, Vok16s* wspHist, Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate);
VOKAPI VokResult voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s(const Vok16s* ap1, const Vok16s* ap2, const Vok16s* speech, Vok16s* toneReg, Vok16s* medianLag, Vok16s* adaptWeight, Vok16s* lagHist, Vok16s* wspHist, Vok16s* bestCorrHp, Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate);
VOKAPI VokResult voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s(const Vok16s* ap1, const Vok16s* ap2, const Vok16s* speech, Vok16s* medianLag, Vok16s* adaptWeight, Vok16s* lagHist, Vok16s* wspHist, Vok32s* rMax, Vok32s* r0, Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate);
VOKAPI VokResult voksAdaptiveCodebookSearch_GSMAMR_16s(const Vok16s* target, const Vok16s* impResp, const Vok16s* olLags, Vok16s* lag, Vok16s* exc, Vok16s* frac, Vok16s* index, Vok16s* vec, Vok16s subframe, VokRateCode rate);
VOKAPI VokResult voksAdaptiveCodebookDecode_GSMAMR_16s(Vok16s index, Vok16s* oldLag, Vok16s* decodedLag, Vok16s* exc, Vok16s* lag, Vok16s* vec, Vok16s subframe, Vok16s bfi, Vok16s concealFlag, Vok16s concealState, VokRateCode rate, Vok32s reserved1, Vok32s reserved2);
VOKAPI VokResult voksAdaptiveCodebookGain_GSMAMR_16s(const Vok16s* target, const Vok16s* filtAdapt, Vok16s* gain);
VOKAPI VokResult voksAdaptiveCodebookGainCoeffs_GSMAMR_16s(const Vok16s* target, const Vok16s* filtAdapt, Vok16s* gain, Vok16s* coeff);
VOKAPI VokResult voksImpulseResponseTarget_GSMAMR_16s(const Vok16s* speech, const Vok16s* ap1, const Vok16s* ap2, const Vok16s* aq, const Vok16s* memErr, const Vok16s* memW0, Vok16s* impResp, Vok16s* residual, Vok16s* target);
/* ==== end GSM-AMR pitch ====================================================== */

/* ==== GSM-AMR DTX and algebraic code vectors =============================== */
/* DTX histories: histIndex 0..7 (the row last written; another value is
 * vokErrRange), 8 x 10 LSP (LSF at
 * the decoder) and 8 log energies (Q10, halved at the encoder).  The
 * handler writes usedMode = vokRateSid when the frame is coded as comfort
 * noise.  Fixed-codebook index words: (positions, signs) up to 7.95 kbit/s,
 * 4 sign words then 3 position words at 10.2, 10 words at 12.2 kbit/s;
 * indices are read as unsigned 16-bit fields, bits above a field ignored,
 * except at 10.2 kbit/s, where a sign word above 1, a position word above
 * 1023 (words 5 and 6) or above 127 (word 7) gives vokErrIndex.  A subframe
 * or rate code out of range gives vokErrRange. */
VOKAPI VokResult voksEncDTXBuffer_GSMAMR_16s(const Vok16s* speech, const Vok16s* lsp, Vok16s* histIndex, Vok16s* lspHist, Vok16s* logEnHist);
VOKAPI VokResult voksDecDTXBuffer_GSMAMR_16s(const Vok16s* speech, const Vok16s* lsf, Vok16s* histIndex, Vok16s* lsfHist, Vok16s* logEnHist);
VOKAPI VokResult voksEncDTXHandler_GSMAMR_16s(Vok16s* dtxHangoverCount, Vok16s* decAnaElapsedCount, Vok16s* usedMode, Vok16s* computeSid, Vok16s vadFlag);
VOKAPI VokResult voksEncDTXSID_GSMAMR_16s(const Vok16s* lspHist, const Vok16s* logEnHist, Vok16s* logEnIndex, Vok16s* pastRes, Vok16s* lspIndex, Vok16s* pastQuaEn, Vok16s* pastQuaEnMr122, Vok16s computeSid);
VOKAPI VokResult voksFixedCodebookDecode_GSMAMR_16s(const Vok16s* indices, Vok16s* code, Vok16s subframe, VokRateCode rate);
/* Post-filter: aq 4 x 11 (Q12); memories tiltMem (last formant residual
 * sample), pastGain (AGC, 0 at start), inMem (last 10 synthesis inputs),
 * synMem (last 10 formant-filter outputs, before gain control).  The tilt
 * factor is div_s(mult(r1, 0.8), r0) on the high words of the response
 * correlations, 0 when r1 <= 0 (the codec's arithmetic). */
VOKAPI VokResult voksPostFilter_GSMAMR_16s(const Vok16s* aq, const Vok16s* syn, Vok16s* tiltMem, Vok16s* pastGain, Vok16s* inMem, Vok16s* synMem, Vok16s* out, VokRateCode rate);
/* First voice-activity detector: the record below, set by the caller to the
 * standard's reset values (levels and background estimates 150, filter
 * memories, counters and registers 0, corrHpFast 13106).  src: the 40
 * samples before the frame, then the 160 of the frame.  pitchReg is kept by
 * the caller (the coder's pitch detection). */
typedef struct {
  Vok16s subLevel[9];
  Vok16s oldLevel[9];
  Vok16s aveLevel[9];
  Vok16s bckrEst[9];
  Vok16s filterMem[11];
  Vok16s burstCount;
  Vok16s hangCount;
  Vok16s statCount;
  Vok16s vadReg;
  Vok16s complexHigh;
  Vok16s complexLow;
  Vok16s complexHangTimer;
  Vok16s complexHangCount;
  Vok16s complexWarning;
  Vok16s corrHpFast;
  Vok16s pitchReg;
} VAD1State_GSMAMR_16s;
VOKAPI VokResult voksVAD1_GSMAMR_16s(const Vok16s* src, VAD1State_GSMAMR_16s* state, Vok16s* vadFlag, Vok16s bestCorrHp, Vok16s toneReg);
VOKAPI VokResult voksFFTFwd_RToPerm_GSMAMR_16s_I(Vok16s* srcDst);
/* Second voice-activity detector, one call per 80-sample half frame.  The
 * record is reset by filling it with zeros.  Channel energies are kept in
 * one of two fixed-point scalings (shiftState 0: 9 fractional bits, 1: 4
 * bits, chosen from the input level); noise estimates always have 9
 * fractional bits; dB quantities are Q8.  ltpFlag: the coder's long-term
 * prediction flag of the frame (the open-loop correlation against its
 * energy), stored into the record.  Any record contents are accepted.
 * Notes on behaviour: the block normalisation keeps 2 bits of headroom and
 * the pre-emphasis memory is rescaled by the rounded shift difference; the
 * noise initialisation of the first four calls and the "other periodicity
 * flag" of the update rule are the spectral peak test (one of channels
 * 2..15 above 0.625 times the sum of all 16 channel energies). */
typedef struct {
  Vok32s frameCount;      /* calls since reset, saturating */
  Vok32s chanEnergy[16];  /* smoothed channel energies */
  Vok32s chanNoise[16];   /* channel noise estimates */
  Vok16s chanEnergyLongDb[16];
  Vok16s preEmphMem;      /* last normalised input sample */
  Vok16s lastNormShift;
  Vok16s updateCount;
  Vok16s hysterCount;
  Vok16s lastUpdateCount;
  Vok16s totalSnr;        /* long-term peak SNR, Q8 dB */
  Vok16s hangover;
  Vok16s burstCount;
  Vok16s forcedUpdate;    /* the previous call forced a noise update */
  Vok16s negSnrVar;       /* variance of negative SNRs, Q8 */
  Vok16s negSnrBias;
  Vok16s shiftState;
  Vok16s ltpFlag;
  Vok16s reserved;
} VAD2State_GSMAMR_16s;
VOKAPI VokResult voksVAD2_GSMAMR_16s(const Vok16s* src, VAD2State_GSMAMR_16s* state, Vok16s* vadFlag, Vok16s ltpFlag);
/* Algebraic codebook search: pitchGain Q14 (the sharpening gain: the
 * previous subframe's quantised pitch gain, the current one at 12.2 kbit/s;
 * the codec doubles it with saturation at every rate, 10.2 kbit/s
 * included), lag 17..144; index words as for the decoder (2, 7 or 10).
 * targetResidual (the LTP residual) steers the signs at 10.2 and 12.2
 * kbit/s.  The EX form checks its work buffer and does not use it. */
VOKAPI VokResult voksAlgebraicCodebookSearch_GSMAMR_16s(Vok16s lag, Vok16s pitchGain, const Vok16s* target, const Vok16s* targetResidual, const Vok16s* impResp, Vok16s* code, Vok16s* filtCode, Vok16s* indices, Vok16s subframe, VokRateCode rate);
VOKAPI VokResult voksAlgebraicCodebookSearchEX_GSMAMR_16s(Vok16s lag, Vok16s pitchGain, const Vok16s* target, const Vok16s* targetResidual, const Vok16s* impResp, Vok16s* code, Vok16s* filtCode, Vok16s* indices, Vok16s subframe, VokRateCode rate, void* workBuf);
/* ==== end GSM-AMR DTX and code vectors ======================================= */

/* ==== G.726 ADPCM =========================================================== */
/* State objects: 88 bytes (encoder), 92 (decoder).  Rates: vokRate16000,
 * vokRate24000, vokRateG726_32, vokRateG726_40.  Encoder input is 14-bit
 * linear PCM (-8192..8191) in 16-bit words (other values are taken modulo
 * 2^14); one code per output byte.  The decoder reads the low 2..5 bits of
 * each code byte.  Decoder law: 0 mu-law, 1 A-law (G.711 characters as
 * transmitted, in the low byte, after the synchronous tandem adjustment),
 * 2 linear (-8192..8191).  A negative len does nothing and returns 0.
 * Both objects keep the rate index (0..3 for 16..40 kbit/s) in the 16-bit
 * word at byte offset 22; changing it between calls switches the rate with
 * all adaptation state kept (variable-rate operation). */
VOKAPI VokResult voksEncodeGetStateSize_G726_16s8u(int* size);
VOKAPI VokResult voksEncodeInit_G726_16s8u(void* state, VokRateCode rate);
VOKAPI VokResult voksEncode_G726_16s8u(void* state, const Vok16s* src, Vok8u* dst, int len);
VOKAPI VokResult voksDecodeGetStateSize_G726_8u16s(int* size);
VOKAPI VokResult voksDecodeInit_G726_8u16s(void* state, VokRateCode rate, int law);
VOKAPI VokResult voksDecode_G726_8u16s(void* state, const Vok8u* src, Vok16s* dst, int len);
/* ==== end G.726 ============================================================= */

/* ==== G.722 sub-band ADPCM and loss concealment ============================ */
/* Band-sample pairs and code pairs are interleaved (low, high); lengths
 * count 16-bit elements and must be even.  QMF memories: 24 values, zero at
 * start.  SB-ADPCM state: 144 bytes, used from its first 16-byte boundary.
 * Decoder mode: 1 = 64, 2 = 56, other = 48 kbit/s; the decoder reads codes
 * modulo 64 (low) and 4 (high). */
VOKAPI VokResult voksQMFEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem);
VOKAPI VokResult voksQMFDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem);
VOKAPI VokResult voksSBADPCMEncodeStateSize_G722_16s(int* size);
VOKAPI VokResult voksSBADPCMEncodeInit_G722_16s(void* state);
VOKAPI VokResult voksSBADPCMEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, void* state);
VOKAPI VokResult voksSBADPCMDecodeStateSize_G722_16s(int* size);
VOKAPI VokResult voksSBADPCMDecodeInit_G722_16s(void* state);
VOKAPI VokResult voksSBADPCMDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s mode, void* state);
/* After concealment: low[2] the last two low-band values (newest first), one
 * high-band value; reset != 0 restores the initial scale factors, else the
 * high-band log scale is halved.  A corrupted (negative) high-band log scale
 * gives vokErrIndex after the history has been stored. */
VOKAPI VokResult voksSBADPCMDecodeStateUpdate_G722_16s(const Vok16s* low, Vok16s high, int reset, void* state);
/* Loss-concealment support.
 * Downsample: len/4 outputs; src needs 5 samples of history in front.
 * FilterHighband: the high member of each of the (len + 1) / 2 pairs, so an
 * odd len also filters element len; mem = {last scaled input, last output}.
 * ClassifyFrame: x needs 2 samples in front and 2 * lag samples (at least
 * lag + 2) from its start; x[lag .. 2 * lag - 1] are limited in place; the
 * class word becomes 2, 3 or 4; lag 0..143. */
VOKAPI VokResult voksDownsampleFilter_G722_16s(const Vok16s* src, int len, Vok16s* dst);
VOKAPI VokResult voksFilterHighband_G722_16s_I(Vok16s* pairs, int len, Vok16s* mem);
VOKAPI VokResult voksClassifyFrame_G722_16s_I(Vok16s* x, Vok16s lag, int* cls, const void* state);
/* ==== end G.722 ============================================================= */

/* ==== G.722.1 transform and region coding ================================== */
/* Blocks of len = 320 (7 kHz mode, 16 kHz audio) or 640 (14 kHz mode, 32 kHz
 * audio) values; the _G722_ forms are the 320-value forms.  src and dst may
 * be the same array.
 * DCTFwd: 320 values are first offset by a fixed table (saturating), then
 *   transformed; 640 values are transformed as they are.
 * DCTInv: the first level of sum/difference butterflies adds a fixed dither
 *   value (saturating) to the first member of every input pair: the 320- or
 *   640-entry dither table, one entry per position, as the reference's
 *   inverse transform does (the transform's description leaves it
 *   unnamed).  The split levels after the first use saturating full-scale
 *   sums and differences, the rotation levels round twice the product sum.
 *   320 values are then offset by a second fixed table (saturating).
 * DecomposeMLTToDCT(prev, cur, block, len): the analysis fold.  prev and cur
 *   are two consecutive frames of len samples; block receives the windowed,
 *   folded DCT input (the caller keeps cur as the next call's prev).
 * DecomposeDCTToMLT(block, kept, out, len): the synthesis overlap-add.
 *   block is the inverse transform of the current frame (len values), kept
 *   the second half of the previous frame's inverse transform (len / 2
 *   values); out receives len samples (each window sum scaled by 4,
 *   saturating, before rounding); the caller then keeps block[len/2 ..].
 * HuffmanEncode(category, powerIndex, coefs[20], words, bits): codes one
 *   region; writes ceil(bits / 32) words (at most 6: a region takes at most
 *   180 bits), most significant bit first, unused low bits zero.  Each
 *   vector's code word is followed by one sign bit (1 = positive) per
 *   non-zero member, in coefficient order.  Category 0..6 and power index
 *   0..63, else vokErrScale (a negative category too).
 *   Where the reference's arithmetic goes beyond the description: the
 *   tabled "step sizes" 23167 .. 2896 are the quantiser's inverse steps,
 *   and the quantisation scale keeps the two low bits of
 *   (inverse step x inverse deviation) in a second term: |x| times those
 *   bits, halved, plus a per-category constant (2, 1, 0, 0, 3, 2, 0),
 *   quartered, all in wrapping 16-bit arithmetic, is added to the Q13 sum
 *   before truncation.  The quantised level is the low 16 bits of that
 *   truncation; a level that reads as negative there (only with a power
 *   index far below the region's power, where the reference indexes outside
 *   its code table) is coded as the category's largest level. */
VOKAPI VokResult voksDCTFwd_G7221_16s(const Vok16s* src, Vok16s* dst, int len);
VOKAPI VokResult voksDCTInv_G7221_16s(const Vok16s* src, Vok16s* dst, int len);
VOKAPI VokResult voksDCTFwd_G722_16s(const Vok16s* src, Vok16s* dst);
VOKAPI VokResult voksDCTInv_G722_16s(const Vok16s* src, Vok16s* dst);
VOKAPI VokResult voksDecomposeMLTToDCT_G7221_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block, int len);
VOKAPI VokResult voksDecomposeDCTToMLT_G7221_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out, int len);
VOKAPI VokResult voksDecomposeMLTToDCT_G722_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block);
VOKAPI VokResult voksDecomposeDCTToMLT_G722_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out);
VOKAPI VokResult voksHuffmanEncode_G722_16s32u(int category, int powerIndex, const Vok16s* coefs, Vok32u* words,
                                               int* bits);
/* ==== end G.722.1 ============================================================ */

/* ==== G.723.1 LP analysis and LSF quantisation ============================= */
/* Frames of 240 samples, subframes of 60, LP blocks of 180, order 10.  LPC
 * in Q13 (synthesis 1/(1 - sum a_i z^-i)); LSFs 0..32767 for 0..pi.
 * HighPassFilter: the codec's DC-removal filter, whose output is at HALF
 * scale: y = round((x - x[-1]) / 2 + 0.9921875 y[-1]) with the recursion in
 * 32 bits (mem = {previous input, previous 32-bit state}, zero at start).
 * AutoCorr: block scaling as the reference codec does it: every sample is
 * multiplied by 2^(n - 3) (n = headroom bits of the block peak), so loud
 * blocks are shifted RIGHT (floor) and exp = normalisation + 2 (n - 3) may be
 * negative; 40 for a silent block.
 * AutoCorr_NormE: lag products are accumulated one by one with 32-bit
 * saturation (the order matters only for lags); exp 0 for a silent block.
 * LevinsonDurbin: checks acf, lpc, err, sineDet in that order.  The flag
 * shifted into sineDet is 1 when the second reflection coefficient exceeds
 * 0x799A or the recursion stopped.
 * LSFDecode: the sums saturate (not wrap), as in the reference; with
 * erasure 0 an index outside 0..255 is vokErrIndex (with erasure set the
 * indices are not read); on vokWrnLsfFloor the caller substitutes its
 * previous LSF.
 * LSFToLPC: LSFs are read modulo 2^15 (negative words cannot index outside
 * the cosine table).
 * IIR16s: coef = 10 zero-part then 10 pole-part coefficients (Q13); mem = 10
 * past inputs then 10 past outputs, newest first, zero at start.  Per sample
 * acc = input * 2^14, minus the doubled zero-part products, plus the doubled
 * pole-part products, each step saturating; output = round(sat(acc * 4)).
 * The 32-bit-output form writes sat(acc * 4).  The 32-bit-input form starts
 * acc from src[n] itself and keeps round(sat(src[n] * 2^scaleFactor)) as the
 * past input: with scaleFactor 2 after voksSynthesisFilter_G723_16s32s it
 * is the codec's one-accumulator synthesis-plus-weighting chain. */
VOKAPI VokResult voksHighPassFilter_G723_16s(const Vok16s* src, Vok16s* dst, Vok32s* mem);
VOKAPI VokResult voksAutoCorr_G723_16s(const Vok16s* src, Vok16s* exp, Vok16s* acf);
VOKAPI VokResult voksAutoCorr_NormE_G723_16s(const Vok16s* src, Vok16s* acf, Vok32s* exp);
VOKAPI VokResult voksLevinsonDurbin_G723_16s(const Vok16s* acf, Vok16s* sineDet, Vok16s* err, Vok16s* lpc);
VOKAPI VokResult voksLPCToLSF_G723_16s(const Vok16s* lpc, const Vok16s* prevLsf, Vok16s* lsf);
VOKAPI VokResult voksLSFQuant_G723_16s32s(const Vok16s* lsf, const Vok16s* prevLsf, Vok32s* index);
VOKAPI VokResult voksLSFDecode_G723_16s(const Vok16s* index, const Vok16s* prevLsf, int erasure, Vok16s* lsf);
VOKAPI VokResult voksLSFToLPC_G723_16s(const Vok16s* lsf, Vok16s* lpc);
VOKAPI VokResult voksLSFToLPC_G723_16s_I(Vok16s* lsfLpc);
VOKAPI VokResult voksIIR16s_G723_16s_I(const Vok16s* coef, Vok16s* srcDst, Vok16s* mem);
VOKAPI VokResult voksIIR16s_G723_16s32s(const Vok16s* coef, const Vok16s* src, Vok32s* dst, Vok16s* mem);
VOKAPI VokResult voksIIR16s_G723_32s16s_Sfs(const Vok16s* coef, const Vok32s* src, int scaleFactor, Vok16s* dst,
                                            Vok16s* mem);
/* ==== end G.723.1 LP analysis ============================================== */

/* ==== G.723.1 pitch and fixed codebooks =================================== */
/* OpenLoopPitchSearch: wsp points at the first of 120 samples; the 142
 * before it are read.  The delayed-segment energy is slid one sample per lag
 * with saturating updates, as in the reference.
 * HarmonicSearch: wsp points at the subframe; olpLag + 3 samples before it
 * are read.
 * HarmonicNoiseSubtract: srcDst[n] = sat((-g src[n - lag] - 32768 d + 16384)
 * >> 15) with d = sat(src[n] - srcDst[n]) and -g saturated; lag samples
 * before src are read.  With gain -g, src = the ringing and srcDst = the
 * target it is the reference's ringing subtraction except where the
 * difference saturates (the coder makes that step itself).  A negative lag
 * is vokErrRange.
 * AdaptiveCodebookSearch: prevExc = the 145 past excitation samples;
 * tamingErr = the 5 excitation-error estimates; a negative sineDet limits
 * the gain tables as saturated errors do.
 * GainQuant: the reference's amplitude candidates: the nearest level is
 * taken among 2..22 (ties to the higher level, from 22 down) and the levels
 * nearest - 2 .. nearest + 1 are tried (not nearest - 1 .. + 2); pulses are
 * returned in increasing position order.
 * MPMLQFixedCodebookSearch: the best error starts at -2^30 as in the
 * reference (not -2^31); lag is the frame half's open-loop lag. */
VOKAPI VokResult voksOpenLoopPitchSearch_G723_16s(const Vok16s* wsp, Vok16s* lag);
VOKAPI VokResult voksHarmonicSearch_G723_16s(Vok16s olpLag, const Vok16s* wsp, Vok16s* harmLag, Vok16s* harmGain);
VOKAPI VokResult voksHarmonicNoiseSubtract_G723_16s_I(Vok16s gain, int lag, const Vok16s* src, Vok16s* srcDst);
VOKAPI VokResult voksAdaptiveCodebookSearch_G723(Vok16s baseLag, const Vok16s* target, const Vok16s* impResp,
                                                 const Vok16s* prevExc, const Vok32s* tamingErr, Vok16s* lagIndex,
                                                 Vok16s* gainIndex, Vok16s subframe, Vok16s sineDet,
                                                 VokRateCode rateCode);
VOKAPI VokResult voksGainQuant_G723_16s(const Vok16s* impResp, const Vok16s* target, Vok16s* pulsePos,
                                        Vok16s* pulseAmp, Vok32s* bestErr, Vok16s* grid, Vok16s* ampIndex,
                                        int numPulses, int* improved);
/* ToeplizMatrix: 416 correlations, the 4 track diagonals (8 each) then the
 * cross blocks 01, 02, 03, 12, 13, 23 (8 x 8, lower track's index first).
 * The response is halved when the doubled energy's upper half exceeds
 * 32000 (energy >= 0x3E808000, the reference's test; not >= 0x3E800001).
 * The 32-bit form holds the undoubled sums, the 16-bit form their upper
 * halves (32-bit value >> 15).
 * ACELPFixedCodebookSearch: the 32-bit form takes each matrix value >> 15
 * (so it searches exactly like the 16-bit form); dn and the matrix are not
 * modified; budget = fourth-pulse evaluations left over (the search may use
 * 120 + budget). */
VOKAPI VokResult voksToeplizMatrix_G723_16s32s(const Vok16s* impResp, Vok32s* matrix);
VOKAPI VokResult voksToeplizMatrix_G723_16s(const Vok16s* impResp, Vok16s* matrix);
VOKAPI VokResult voksACELPFixedCodebookSearch_G723_32s16s(const Vok16s* dn, const Vok32s* matrix, Vok16s* signs,
                                                          Vok16s* pos, Vok16s* shift, Vok16s* exc, Vok16s* budget);
VOKAPI VokResult voksACELPFixedCodebookSearch_G723_16s(const Vok16s* dn, const Vok16s* matrix, Vok16s* signs,
                                                       Vok16s* pos, Vok16s* shift, Vok16s* exc, Vok16s* budget);
VOKAPI VokResult voksMPMLQFixedCodebookSearch_G723(Vok16s lag, const Vok16s* impResp, const Vok16s* target,
                                                   Vok16s* exc, Vok16s* grid, Vok16s* diracFlag, Vok16s* ampIndex,
                                                   Vok16s* signs, Vok32s* posCode, Vok16s subframe);
/* ==== end G.723.1 pitch and fixed codebooks ================================ */

/* ==== G.723.1 decoder synthesis and post-filters =========================== */
/* Rates: vokRateG723_63, vokRateG723_53.
 * DecodeAdaptiveVector: prevExc = the 145 past excitation samples before
 * the subframe (oldest first); lag = baseLag + lagIndex - 1, at most 143
 * (its five-tap rows reach two samples further back; a longer lag gives
 * vokErrIndex).
 * SynthesisFilter: mem = 10 past outputs newest first.  The 32-bit form
 * writes the accumulator BEFORE its final x4 (the 16-bit output and the
 * memory are round(sat(4 acc))), so that it feeds voksIIR16s_G723_32s16s_Sfs
 * with scaleFactor 2.
 * PitchPostFilter: exc points at the first sample of the frame's excitation;
 * the 145 samples before it are read (history).  lagOut < 0 for a delay
 * into the past, > 0 for one into the frame.
 * TiltCompensation: dst[n] = round(src[n] + 2 k round(src[n - 1])); src[-1]
 * (the previous subframe's last 32-bit post-filter output, 0 at start) is
 * read.
 * GainControl: the target gain is 4096 (unity in Q12) when EITHER energy is
 * 0, as in the reference (not 4104, and not only for a silent subframe). */
VOKAPI VokResult voksDecodeAdaptiveVector_G723_16s(Vok16s baseLag, Vok16s lagIndex, Vok16s gainIndex,
                                                   const Vok16s* prevExc, Vok16s* dst, VokRateCode rateCode);
VOKAPI VokResult voksSynthesisFilter_G723_16s(const Vok16s* lpc, const Vok16s* exc, Vok16s* mem, Vok16s* dst);
VOKAPI VokResult voksSynthesisFilter_G723_16s32s(const Vok16s* lpc, const Vok16s* src, Vok32s* dst, Vok16s* mem);
VOKAPI VokResult voksPitchPostFilter_G723_16s(Vok16s lag, const Vok16s* exc, Vok16s* lagOut, Vok16s* gainOut,
                                              Vok16s* scaleOut, Vok16s subframe, VokRateCode rateCode);
VOKAPI VokResult voksTiltCompensation_G723_32s16s(Vok16s k, const Vok32s* src, Vok16s* dst);
VOKAPI VokResult voksGainControl_G723_16s_I(Vok32s energy, Vok16s* srcDst, Vok16s* gain);
/* ==== end G.723.1 decoder ================================================== */

/* ==== GSM 06.10 full rate ================================================== */
/* Rounded Q15 products and saturating 16-bit sums throughout.
 * HighPassFilter: input reduced to 13 bits (x >> 3 << 2) then the offset
 * compensation; mem = {previous reduced input, 32-bit recursion state}, zero
 * at start.  The codec's own filter keeps the rounded output in a 16-bit
 * word without a clamp; here it is saturated (the two agree from a zero
 * start: the recursion then stays inside the 16-bit output range).
 * Preemphasize / Deemphasize: factor -28180 / +28180 in Q15; mem is the
 * previous input / previous output.
 * Schur: n = 1..8 reflection coefficients from r[0..n]; n < 8 gives the first
 * n of the order-8 result.  A correlation above r[0] is taken modulo 2^16
 * after normalisation, as in the codec.
 * Short-term lattices: 8 reflection coefficients (Q15); memories 8 (analysis)
 * and 9 (synthesis) words, zero at start.  Both use the saturating rounded
 * product; the codec's analysis lattice wraps the one product
 * -32768 * -32768, which its coefficients (|r| <= 32767) never form.
 * WeightingFilter: reads len + 10 samples, writes len.
 * RPEQuantDecode: 13 codes 0..7 (any other: vokErrIndex, checked before
 * shift < 0: vokErrScale), fac = mantissa factor, shift = 6 - exponent;
 * shifts of 16 and more leave the sign, and the rounding term is 1 << (shift - 1)
 * taken as a 16-bit word (0 for shift 0 and above 16). */
VOKAPI VokResult voksHighPassFilter_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len, Vok32s* mem);
VOKAPI VokResult voksPreemphasize_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem);
VOKAPI VokResult voksDeemphasize_GSMFR_16s_I(Vok16s* srcDst, int len, Vok16s* mem);
VOKAPI VokResult voksSchur_GSMFR_32s16s(const Vok32s* acf, Vok16s* rc, int n);
VOKAPI VokResult voksShortTermAnalysisFilter_GSMFR_16s_I(const Vok16s* rrp, Vok16s* srcDst, int len, Vok16s* mem);
VOKAPI VokResult voksShortTermSynthesisFilter_GSMFR_16s(const Vok16s* rrp, const Vok16s* src, Vok16s* dst, int len,
                                                        Vok16s* mem);
VOKAPI VokResult voksWeightingFilter_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len);
VOKAPI VokResult voksRPEQuantDecode_GSMFR_16s(const Vok16s* xMc, Vok16s fac, Vok16s shift, Vok16s* xMp);
/* ==== end GSM 06.10 full rate ============================================== */

/* ==== AMR-WB LP, ISP/ISF conversion and signal filters ===================== */
/* Order 16 at 12.8 kHz.  LPC Q12 (a[0] = 4096, order+1 values); ISP Q15
 * cosines, decreasing, the last element a[order] in Q15; ISF 0..16384 for
 * 0..fs/2, the last ISF at half scale.
 * Notes on behaviour (where the codec's arithmetic is what is computed):
 * - voksLPCToISP_AMRWB(E)_16s: the difference polynomial is divided by
 *   (1 - z^-2) (running sum of every second coefficient) before the root
 *   search.  Fewer than order-1 roots found: prevIsp is copied to ispOut
 *   (status vokOk).  Orders other than 16 generalise the same steps.
 * - voksISPToLPC_AMRWB_16s: coefficients are the low 16 bits of the rounded
 *   32-bit values (they wrap, not saturate); no rescaling on overflow (the
 *   codec's comfort-noise decoder rescales: its caller must).  For odd
 *   orders the coefficient a[order/2 + 1] has no pair and is written 0;
 *   order 1 gives a[0] from the first polynomial term, as the codec does.
 * - voksISFToISP_AMRWB_16s: an ISF outside 0..16383 (the last one doubled,
 *   saturated) uses the first or last interval of the cosine table.
 * - voksHighPassFilter_AMRWB_16s_ISfs / _Sfs: every multiply-accumulate of
 *   the recursion saturates in turn (low parts, high parts, inputs); the
 *   _Sfs accumulator is limited by a saturating shift by 2 and the output is
 *   the rounded saturating double.  _ISfs: scale by 2^(16-scaleFactor) with
 *   saturation; 14 is the 50 Hz filter, 15 the 400 Hz filter of the codec.
 *   _Sfs rescales its memory by 2^(stored-new) when scaleFactor changes.
 * - voksHighPassFilter_Direct_AMRWB_16s: the later neighbour is subtracted
 *   before the earlier one, each with saturation.
 * - voksPreemphasize_AMRWB_16s_ISfs: x[n]*2^16 - 2*mu*x[n-1] saturated,
 *   then shifted left by 14-scaleFactor with saturation (right by 1 for 15)
 *   and rounded: 14 and 13 are the codec's two pre-emphasis forms.
 * - voksDeemphasize_AMRWB_NR_16s_I: round(sat(x[n]*2^15 + 2*mu*y[n-1])).
 * - voksDeemphasize_AMRWB_32s16s: uses mu>>1 (an odd mu loses its lowest
 *   bit against the plain (4x + 8192 + mu*y[n-1]) >> 14); input (low 4 bits
 *   ignored) shifted left 3, plus 2*(mu>>1)*y[n-1], shifted left 1, each
 *   saturating, then rounded.
 * - The pre-/de-emphasis, residual and high-pass results equal the plain
 *   rounded formulas except where an intermediate 32-bit value saturates;
 *   there the step-by-step saturation above decides.
 * - voksResidualFilter_AMRWB_16s_Sfs: the sum saturates term by term
 *   (a[0]*x[n] first), then shifts left by scaleFactor with saturation; the
 *   codec uses 4.  pSrc[-order..-1] are read.
 * - voksSynthesisFilter_AMRWB_16s32s_I: per sample, the doubled products
 *   of the middle parts ((y>>4)&0xFFF) are summed with saturation and
 *   shifted right 12, then the doubled a[0]*exc and the doubled products of
 *   the high words are subtracted term by term with saturation, the sum is
 *   shifted left 3 with saturation and its low 4 bits cleared.  pA[0] is
 *   the excitation factor (the codec's a[0] >> (4 + excitation scale)). */
typedef struct HighPassFilterState_AMRWB_16s HighPassFilterState_AMRWB_16s;
VOKAPI VokResult voksLPCToISP_AMRWB_16s(const Vok16s* lpc, Vok16s* ispOut, const Vok16s* prevIsp);
VOKAPI VokResult voksLPCToISP_AMRWBE_16s(const Vok16s* lpc, const Vok16s* prevIsp, Vok16s* ispOut, int order);
VOKAPI VokResult voksISPToLPC_AMRWB_16s(const Vok16s* isp, Vok16s* lpcOut, int order);
VOKAPI VokResult voksISFToISP_AMRWB_16s(const Vok16s* isf, Vok16s* ispOut, int len);
VOKAPI VokResult voksISPToISF_Norm_AMRWB_16s(const Vok16s* isp, Vok16s* isfOut, int len);
/* High-pass state: 40 bytes for order 2 and 3.  Delay line exchange order:
 * y2hi, y2lo, y1hi, y1lo, x1, x2 (order 2); y3hi, y3lo, y2hi, y2lo, y1hi,
 * y1lo, x1, x2, x3 (order 3). */
VOKAPI VokResult voksHighPassFilterGetSize_AMRWB_16s(int order, int* pSize);
VOKAPI VokResult voksHighPassFilterInit_AMRWB_16s(const Vok16s* pA, const Vok16s* pB, int order, HighPassFilterState_AMRWB_16s* pState);
VOKAPI VokResult voksHighPassFilterGetDlyLine_AMRWB_16s(const HighPassFilterState_AMRWB_16s* pState, Vok16s* delayLine, int order);
VOKAPI VokResult voksHighPassFilterSetDlyLine_AMRWB_16s(const Vok16s* delayLine, HighPassFilterState_AMRWB_16s* pState, int order);
VOKAPI VokResult voksHighPassFilter_AMRWB_16s_ISfs(Vok16s* pSrcDst, int len, HighPassFilterState_AMRWB_16s* pState, int scaleFactor);
VOKAPI VokResult voksHighPassFilter_AMRWB_16s_Sfs(const Vok16s* pSrc, Vok16s* pDst, int len, HighPassFilterState_AMRWB_16s* pState, int scaleFactor);
VOKAPI VokResult voksHighPassFilter_Direct_AMRWB_16s(const Vok16s* pCoeff, const Vok16s* pSrc, Vok16s* pDst, int len, int mode);
VOKAPI VokResult voksPreemphasize_AMRWB_16s_ISfs(Vok16s mu, Vok16s* pSrcDst, int len, int scaleFactor, Vok16s* pMem);
VOKAPI VokResult voksDeemphasize_AMRWB_NR_16s_I(Vok16s mu, Vok16s* pSrcDst, int len, Vok16s* pMem);
VOKAPI VokResult voksDeemphasize_AMRWB_32s16s(Vok16s mu, const Vok32s* pSrc, Vok16s* pDst, int len, Vok16s* pMem);
VOKAPI VokResult voksResidualFilter_AMRWB_16s_Sfs(const Vok16s* pA, Vok16s order, const Vok16s* pSrc, Vok16s* pDst, int len, int scaleFactor);
VOKAPI VokResult voksSynthesisFilter_AMRWB_16s32s_I(const Vok16s* pA, int order, const Vok16s* pSrc, Vok32s* pSrcDst, int len);
/* ISF quantisers.  Rate codes: the AMR-WB modes (vokRate 5, 9, 13, 15, 16,
 * 18, 19, 20, 21) and vokRateSid (25); 5 and 25 use the 36-bit layout
 * (indices: stage-1 ISF 0..8, stage-1 ISF 9..15, then 3 second-stage
 * indices: 5 words), the others the 46-bit layout (2 + 5 = 7 words).
 * isfResidualMemory: the last frame's quantised residual (16, caller-set,
 * zero at reset); isfHistory: the last three good frames' ISFs (3 x 16,
 * newest first), before the spacing rule.
 * Notes on behaviour:
 * - voksISFQuant_AMRWB_16s: errors are doubled squares summed with
 *   saturation; when every survivor's second-stage sum of a half saturates
 *   (ISFs far outside 0..16384), that half's index words keep what the
 *   caller's indicesOut held (as in the codec), decoded masked.
 * - voksISFQuantDecode_AMRWB_16s and voksISFQuantDecodeDTX_AMRWB_16s: each
 *   index is masked to its codebook size, so any index words decode.  Bad
 *   frame: reference = round((mean + h0 + h1 + h2) * 2^14 * 2, saturating)
 *   (that is (sum + 2) >> 2); ISF = mult(29491, prev) + mult(3277, ref);
 *   memory = (ISF - (ref + mult(memory, 10923))) >> 1, each step
 *   saturating.  The history is unchanged by a bad frame. */
VOKAPI VokResult voksISFQuant_AMRWB_16s(const Vok16s* isf, Vok16s* isfResidualMemory, Vok16s* quantIsfOut, Vok16s* indicesOut, VokRateCode rateCode);
VOKAPI VokResult voksISFQuantDecode_AMRWB_16s(const Vok16s* indices, Vok16s* quantIsfOut, Vok16s* isfResidualMemory, const Vok16s* prevQuantIsf, Vok16s* isfHistory, int bfi, VokRateCode rateCode);
/* Comfort-noise ISFs: 5 indices (6, 6, 6, 5, 5 bits), no prediction. */
VOKAPI VokResult voksISFQuantDTX_AMRWB_16s(const Vok16s* isf, Vok16s* quantIsfOut, Vok16s* indicesOut);
VOKAPI VokResult voksISFQuantDecodeDTX_AMRWB_16s(const Vok16s* indices, Vok16s* quantIsfOut);
/* ==== end AMR-WB LP and filters ============================================ */
/* ==== AMR-WB excitation search (encoder side) ============================= */
/* 64-sample subframes at 12.8 kHz.  Rate codes: the AMR-WB modes (5, 9, 13,
 * 15, 16, 18, 19, 20, 21) and vokRateSid (25, searched as 5); the
 * adaptive-codebook search also takes the AMR-WB+ core codes 22 and 26..32.
 * OpenLoopPitchSearch: one half-frame (or frame) of len samples of weighted
 * speech decimated to 6.4 kHz and its high-passed copy, each with maxLag
 * samples of history before the pointer (115 for the AMR-WB form, whose
 * range is 17..115); medianLag, adaptiveWeight, weightFlag, lagHistory (5)
 * and toneFlag are the caller's memories (the codec starts them at 40, 0, 0,
 * 40 and 0); lagOut = 2 T at 12.8 kHz; gainOut = normalised correlation of
 * the high-passed signal at T (Q15).
 * AdaptiveCodebookSearch: target and impulse response (Q15, scaled as the
 * codec scales them); openLoopLags = the two half-frames' lags at 12.8 kHz;
 * lagWindow = (lagMin, lagMax), set in subframes 0 and 2 (not for 5 and 25)
 * and after every absolute subframe; excitation points at the subframe in
 * the excitation buffer, maxLag + 17 samples before it are read and the 65
 * samples excitation[0..64] receive the interpolated adaptive vector.
 * AdaptiveCodebookGainCoeff: gainCoeffsOut = <y,y> and its exponent,
 * <x,y> and its exponent (each 1 + the doubled saturating sum, normalised);
 * gainOut Q14, 0..19661.
 * AlgebraicCodebookSearch: fixedTarget (the target after the adaptive
 * contribution), ltpResidual (the residual-domain target), impulse (Q12,
 * with the codec's tilt and pitch sharpening); fixedVectorOut (pulses of
 * +-512), filteredFixedOut; indicesOut 1 word (code 5 and 25), 4 words (9,
 * 13, 15, 16) or 8 words (18..21).
 * GainQuant: target and filteredAdaptive in Q(targetExp), fixedVector and
 * filteredFixed Q9, gainCoeffs from AdaptiveCodebookGainCoeff,
 * pastEnergies (4, Q10, newest first, the codec starts them at -14336);
 * pitchGain in: the unquantised pitch gain, out: the quantised gain (Q14);
 * codeGainOut Q16; clipFlag 1 limits the pitch gain to about 1.0; index 6
 * bits (codes 5, 9, 25) or 7 bits.
 * Notes on behaviour (the codec's arithmetic is what is computed):
 * - OpenLoopPitchSearch: the lags minLag+1 .. maxLag are searched (minLag
 *   itself never is), from the longest down, an equal weighted value
 *   moving to the shorter lag; each correlation is the saturating chain of
 *   doubled products, weighted by split 32 x 16 products.  The AMRWBE form
 *   needs 0 <= minLag < maxLag <= minLag + 199 (vokErrRange).  A median lag
 *   farther than 98 below or 100 above a searched lag takes the weighting
 *   table's end value (the codec's medians never are).  The tone bit is
 *   set for a gain above 21298.
 * - AdaptiveCodebookSearch: the filtered excitation of the window's first
 *   lag minus 4 is a rounded convolution; each longer lag updates it by one
 *   sample of truncated products with saturating sums (not a fresh
 *   convolution).  Relative subframes (1 and 3; 2 for codes 5 and 25) need a
 *   window inside the mode's lags no wider than 15 (else vokErrRange).
 *   Codes 22 and 26..32 search as 13 (9-bit absolute lags in subframes 0
 *   and 2); the AMRWBE lag offset k gives lags 34 + k .. 231 + 6k with 1/4
 *   resolution below 128 - k and 1/2 below 160.
 * - AdaptiveCodebookGainCoeff: the quotient is div_s(xy/2, yy) shifted by
 *   the exponent difference with saturation.
 * - GainQuant: only clipFlag 1 limits the search; the 7-bit window starts
 *   after the entries from 32 on (64, or 37 when clipped) whose pitch gain
 *   is strictly below the unquantised gain.  The prediction is formed in
 *   Q24 with saturating steps: the fixed vector's energy per sample in dB
 *   (log2 of the normalised 1 + sum 2 c^2, times -3.0103) plus 30, shifted
 *   left 10, plus the four doubled predictor products; its upper half
 *   times 5443 gives the exponent and fraction of 2^x.  The error terms are
 *   aligned on the largest exponent with 2 bits of headroom and summed as
 *   split values (low parts first, shifted right 12); a strictly smaller
 *   error wins.
 * - AlgebraicCodebookSearch: d[i] = 1 + sum 2 x[j] h[j - i] (saturating
 *   chains) is shifted by norm(1 + sum over tracks of 3/8 of the track's
 *   largest |d|) - 4 and rounded.  With 12 pulses or more a response whose
 *   doubled energy's upper half exceeds 1024 is halved first, and its
 *   pulses are then +-256.  The filtered output is the sum of the chosen
 *   pulses' signed responses (saturating adds in the order of the search)
 *   rounded from Q12 to Q9 (shift right 3), not a fresh convolution.  Five
 *   pulses on a track are coded in 20 bits (two 10-bit words).  Should no
 *   iteration of the depth-first search score above its start, the pulses
 *   stay at positions 0 .. pulses - 1 and the filtered output is 0. */
VOKAPI VokResult voksOpenLoopPitchSearch_AMRWB_16s(const Vok16s* weightedSpeech, const Vok16s* highPassedWsp,
                                                   Vok16s* medianLag, Vok16s* adaptiveWeight, Vok16s* lagOut,
                                                   Vok16s* toneFlag, Vok16s* gainOut, Vok16s* lagHistory,
                                                   Vok16s* weightFlag, int len);
VOKAPI VokResult voksOpenLoopPitchSearch_AMRWBE_16s(const Vok16s* weightedSpeech, const Vok16s* highPassedWsp,
                                                    Vok16s* medianLag, Vok16s* adaptiveWeight, Vok16s* lagOut,
                                                    Vok16s* toneFlag, Vok16s* gainOut, Vok16s* lagHistory,
                                                    Vok16s* weightFlag, int len, Vok16s minLag, Vok16s maxLag);
VOKAPI VokResult voksAdaptiveCodebookSearch_AMRWB_16s(const Vok16s* target, const Vok16s* impulseResponse,
                                                      const Vok16s* openLoopLags, Vok16s* lagOut, Vok16s* lagWindow,
                                                      Vok16s* excitation, Vok16s* fracOut, Vok16s* indexOut,
                                                      int subframe, VokRateCode rateCode);
VOKAPI VokResult voksAdaptiveCodebookSearch_AMRWBE_16s(const Vok16s* target, const Vok16s* impulseResponse,
                                                       const Vok16s* openLoopLags, Vok16s* lagOut, Vok16s* lagWindow,
                                                       Vok16s* excitation, Vok16s* fracOut, Vok16s* indexOut,
                                                       int subframe, VokRateCode rateCode, Vok16s lagOffset);
VOKAPI VokResult voksAdaptiveCodebookGainCoeff_AMRWB_16s(const Vok16s* target, const Vok16s* filteredAdaptive,
                                                         Vok16s* gainCoeffsOut, Vok16s* gainOut, int len);
VOKAPI VokResult voksAlgebraicCodebookSearch_AMRWB_16s(const Vok16s* fixedTarget, const Vok16s* ltpResidual,
                                                       const Vok16s* impulse, Vok16s* fixedVectorOut,
                                                       Vok16s* filteredFixedOut, VokRateCode rateCode,
                                                       Vok16s* indicesOut);
VOKAPI VokResult voksGainQuant_AMRWB_16s(const Vok16s* target, const Vok16s* filteredAdaptive, int targetExp,
                                         const Vok16s* fixedVector, const Vok16s* filteredFixed,
                                         const Vok16s* gainCoeffs, Vok16s* pastEnergies, Vok16s* pitchGain,
                                         Vok32s* codeGainOut, int clipFlag, Vok16s* indexOut, int len,
                                         VokRateCode rateCode);
/* AMR-WB excitation decoding.
 * AdaptiveCodebookDecode: index = the lag index of the subframe (9 or 8
 * bits in subframe 0 and, but for codes 5 and 25, subframe 2; 6 or 5 bits
 * in the others, relative to lagWindow[0]); excitation as for the search
 * (231 + 17 samples of history; 65 samples written); lagOut/fracOut = the
 * lag used and its fraction (quarter samples, 0 after concealment).  The
 * concealment record (24 bytes) is fed after every good subframe by
 * AdaptiveCodebookDecodeUpdate with the decoded pitch gain and lag.
 * The AMRWBE form decodes with the lag grid of offset k (minimum 34 + k,
 * maximum 231 + 6k; 9/6-bit indices, subframes 0 and 2 absolute; maxLag +
 * 17 samples of history); in a bad frame it continues from lagOut/fracOut.
 * AlgebraicCodebookDecode: indices as the search writes them (1, 4 or 8
 * words; code 27: 9, 9, 5, 5 bits); fixedVectorOut = 64 samples, pulses
 * +-512 (Q9).
 * DecodeGain: innovScale = 1/sqrt(energy of the code vector / 64) in Q12
 * as the codec computes it; pitchGainOut Q14 (left alone in a bad frame);
 * codeGainOut Q16 x innovScale; pastEnergies (4, Q10, newest first);
 * prevCodeGain and codeGain16 = the last good fixed gain, Q3 (in a bad
 * frame codeGain16 is the caller's concealed gain).
 * Notes on behaviour (the codec's arithmetic is what is computed):
 * - AdaptiveCodebookDecode: a bad frame conceals the lag decoded from its
 *   index (the usable-frame rules keep or replace that lag; the last lag
 *   of the record serves only the unusable-frame rule).  An index wider
 *   than its field is vokErrIndex; a relative subframe whose lagWindow[0]
 *   is outside 34..216, or a bad frame whose record holds a lag outside
 *   34..231, is vokErrRange (the codec never holds them).  The AMRWBE form
 *   checks the same for its grid, and in a bad frame lagOut within the
 *   grid and fracOut 0..3.
 * - DecodeGain: after a bad frame (prevBfi = 1) the fixed gain is limited
 *   to 1.25 x prevCodeGain when it exceeds both that and 100.0 (6553600 in
 *   Q16), as the codec does.  The good-frame index must fit its table
 *   (vokErrIndex). */
typedef struct AdaptiveCodebookDecodeState_AMRWB_16s AdaptiveCodebookDecodeState_AMRWB_16s;
VOKAPI VokResult voksAdaptiveCodebookDecodeGetSize_AMRWB_16s(int* pSize);
VOKAPI VokResult voksAdaptiveCodebookDecodeInit_AMRWB_16s(AdaptiveCodebookDecodeState_AMRWB_16s* pState);
VOKAPI VokResult voksAdaptiveCodebookDecodeUpdate_AMRWB_16s(Vok16s gainPit, Vok16s lag,
                                                            AdaptiveCodebookDecodeState_AMRWB_16s* pState);
VOKAPI VokResult voksAdaptiveCodebookDecode_AMRWB_16s(Vok32s index, Vok16s* fracOut, Vok16s* excitation,
                                                      Vok16s* lagOut, Vok16s* lagWindow, int subframe, int bfi,
                                                      int unusableFrame, VokRateCode rateCode,
                                                      AdaptiveCodebookDecodeState_AMRWB_16s* pState);
VOKAPI VokResult voksAdaptiveCodebookDecode_AMRWBE_16s(Vok32s index, Vok16s* excitation, Vok16s* lagOut,
                                                       Vok16s* fracOut, Vok16s* lagWindow, int subframe, int bfi,
                                                       Vok16s lagOffset);
VOKAPI VokResult voksAlgebraicCodebookDecode_AMRWB_16s(const Vok16s* indices, Vok16s* fixedVectorOut,
                                                       VokRateCode rateCode);
VOKAPI VokResult voksDecodeGain_AMRWB_16s(Vok16s index, Vok16s innovScale, Vok16s* pitchGainOut,
                                          Vok32s* codeGainOut, int bfi, int prevBfi, Vok16s* pastEnergies,
                                          Vok16s* prevCodeGain, Vok16s* codeGain16, VokRateCode rateCode);
/* ==== end AMR-WB excitation search ========================================= */
/* ==== AMR-WB voice activity detection and comfort-noise history ========== */
/* Voice activity detector for 256-sample frames at 12.8 kHz: a 172-byte
 * record of any alignment, formatted by the Init call (background and level
 * estimates 150, speech level 2050, everything else 0); any record contents
 * are accepted.  toneFlag: the caller's tone register shared with the
 * open-loop pitch analysis (newest tone decision in bit 14); vadFlag: 1
 * speech, 0 noise.  The energy-level readout gives the 12 band levels of the
 * last frame, lowest band first.
 * Notes on behaviour (the codec's arithmetic is what is computed):
 * - the power compared with 686080 (tone bits 13 and 14 cleared below it)
 *   and with 30000 (decision 0 below it) is the saturating sum of this
 *   frame's doubled energy and the previous frame's, not this frame's alone;
 * - the hangover length max(((thr - 217) * -1110 >> 15) + 12, 2) and the
 *   burst length ((thr - 768) * 297 >> 15) + 8 are taken from the decision
 *   threshold thr of the frame, not from the background noise level;
 * - speech-level tracking counts every frame: its window (frame count,
 *   maximum, active count) restarts when frames minus active frames exceed
 *   55, and an active frame needs a level above 129 whatever the decision. */
typedef struct VADState_AMRWB_16s VADState_AMRWB_16s;
VOKAPI VokResult voksVADGetSize_AMRWB_16s(int* size);
VOKAPI VokResult voksVADInit_AMRWB_16s(VADState_AMRWB_16s* state);
VOKAPI VokResult voksVAD_AMRWB_16s(const Vok16s* src, VADState_AMRWB_16s* state, Vok16s* toneFlag, Vok16s* vadFlag);
VOKAPI VokResult voksVADGetEnergyLevel_AMRWB_16s(const VADState_AMRWB_16s* state, Vok16s* levelOut);
/* Comfort-noise history of the last 8 frames: historyIndex (the row last
 * written, 0..7, else vokErrRange before the rate is checked) advances to
 * the next row, 7 wrapping to 0, which receives the 16 ISFs and the log2 energy per sample of
 * the 256 samples in Q7, lowered in the encoder by 230, 179, 141, 128, 122
 * for vokRateAmrWb660 .. vokRateAmrWb1585 and by 115 for vokRateAmrWb1825 ..
 * vokRateAmrWb2385 and vokRateSid (other codes: vokErrRange).
 * The codec feeds the encoder history with the frame's LP residual scaled
 * back by the input scaling, the decoder history with the excitation.
 * Note on behaviour: the energy is the saturating sum of doubled squares
 * halved afterwards, so it saturates at 0x3FFFFFFF (not 0x7FFFFFFF). */
VOKAPI VokResult voksEncDTXBuffer_AMRWB_16s(const Vok16s* src, const Vok16s* isf, Vok16s* historyIndex, Vok16s* dtxIsfHistory, Vok16s* logEnergyHistory, VokRateCode rate);
VOKAPI VokResult voksDecDTXBuffer_AMRWB_16s(const Vok16s* src, const Vok16s* isf, Vok16s* historyIndex, Vok16s* dtxIsfHistory, Vok16s* logEnergyHistory);
/* ==== end AMR-WB voice activity detection and comfort-noise history ====== */

/* ==== noise-reduction fixed-point vector operations ======================== */
/* Scale factor sf: right shift with rounding (2^(sf-1) added first).
 * Harmonic filter: d[n] = x[n] + (gain x[n-lag] >> 15) modulo 2^16, in
 * order of n (d may be x).  Cross-correlations: d[k] = sum a[n] b[n+k].
 * Synthesis filters: 1/A(z) with a[0..10] in Q(sf), sf 12 or 13, memory of
 * the ten past outputs oldest first; vokWrnOverflow when a step saturated. */
VOKAPI VokResult voksMul_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* d, int len, int sf);
VOKAPI VokResult voksMul_NR_16s_ISfs(const Vok16s* a, Vok16s* b, int len, int sf);
VOKAPI VokResult voksMulC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf);
VOKAPI VokResult voksMulC_NR_16s_ISfs(Vok16s c, Vok16s* x, int len, int sf);
VOKAPI VokResult voksMulPowerC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf);
VOKAPI VokResult voksInterpolateC_NR_16s(const Vok16s* x1, Vok16s c1, int sf1, const Vok16s* x2, Vok16s c2, int sf2, Vok16s* d, int len);
VOKAPI VokResult voksHarmonicFilter_NR_16s(Vok16s gain, int lag, const Vok16s* x, Vok16s* d, int len);
VOKAPI VokResult voksConvPartial_NR_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len);
VOKAPI VokResult voksConvPartial_NR_Low_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len);
VOKAPI VokResult voksCrossCorr_NR_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* d, int lags);
VOKAPI VokResult voksCrossCorr_NR_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags);
VOKAPI VokResult voksCrossCorr_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags, int sf);
VOKAPI VokResult voksAutoCorr_NormE_NR_16s(const Vok16s* x, int len, Vok16s* r, int lags, int* shift);
VOKAPI VokResult voksSynthesisFilter_NR_16s_Sfs(const Vok16s* a, const Vok16s* x, Vok16s* y, int len, int sf, Vok16s* mem);
VOKAPI VokResult voksSynthesisFilter_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem);
VOKAPI VokResult voksSynthesisFilterLow_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem);
VOKAPI VokResult voksSynthesisFilterZeroStateResponse_NR_16s(const Vok16s* a, Vok16s* y, int len, int sf);
/* ==== end noise-reduction vector operations ================================= */

/* ==== G.728 low-delay CELP ===================================================
 * Conventions of this library's G.728 operations (its own choices where the
 * interface leaves them open):
 * - 5-sample vectors and signal histories are held newest sample first
 *   (index 0 = latest sample), the order of the standard's shape codebook;
 *   voksIIR16s_G728_16s alone takes src/dst in time order.
 * - Arithmetic is that of the standard's fixed-point coder, whose products
 *   and sums are kept in accumulators wider than 32 bits: where the wording
 *   of a step says "saturated at each step" (pole-zero filter) or "rounded
 *   as (acc + 8192) >> 14" (LPC inverse filter), the sum is formed exactly
 *   and saturated/rounded once at the end as that coder does (the inverse
 *   filter scales the sum by 4, saturates to 32 bits and rounds the upper
 *   half, which differs from (acc+8192)>>14 only at saturation).  The
 *   shape energies saturate each filtered sample and the energy to 16 bits.
 * - voksWinHybrid_G728_16s: src holds the L new samples (newest first); the
 *   state keeps the signal history, the recursive correlations and their
 *   exponent (the marker word, 31 after Init).  The whole history is
 *   normalised to 15 bits before windowing.  With decay 8192 (the weighting
 *   filter's window) the recursive exponent is kept at most 41.  The result
 *   is 17 (vokWrnZeroCorrelation) when the highest lag delivered is 0 and
 *   its unrounded 32-bit value was 0 too.  short = 1 delivers r[0..10] but
 *   updates all M lags.  The state carries a check word over its header
 *   (table pointer and sizes): a state Init did not format is refused with
 *   vokErrContextMatch.  Init accepts M <= 63 and M+N+L <= 1024 (larger
 *   analyses than the standard's three: vokErrRange).
 * - Where the standard's coder lets a long silence drive a shift count
 *   past the width of its operand (the hybrid window's exponents, the
 *   clipping level 4095 << Q of the decoded speech, the output scaling
 *   1 << (18 - Q)), the count is taken modulo the width, as on the
 *   processors its conformance data come from; the coders do the same.
 * - voksWinHybridBlock_G728_16s(short, src, acf, srcExp, state): block
 *   floating-point history: src holds L new samples in L/d blocks of d, the
 *   fourth argument their L/d exponents (Q of each block), newest first; the
 *   window is applied relative to the smallest exponent.  Needs d >= 1
 *   dividing L and M+N+L, else vokErrBadArg.  Init rejects a decay other
 *   than 12288/8192 (vokErrRange).
 * - Levinson: lpc has `order` coefficients in Q(scale), scale 13..15; err
 *   is the 16-bit residual energy.  When the recursion becomes
 *   ill-conditioned (|k| >= 1, non-positive energy, or more than 2 bits of
 *   headroom needed) the result is vokWrnOverflow and nothing is written.
 *   order above 50 is vokErrRange; _ISfs with startOrder > 0 needs scale
 *   13..15 (vokErrScale otherwise).
 * - voksCodebookSearch_G728_16s: p newest first; rate codes 14 and 10
 *   (12.8/9.6 kbit/s) are accepted by the range check but this library has
 *   no codebook of those extensions: vokErrBadArg, nothing written.
 *   voksCodebookSearchTCQ_G728_16s8u(target, impResp, code, gain, codebook,
 *   work): likewise no trellis tables: null checks, then vokErrBadArg.
 * - voksSyntesisFilterZeroInput_G728_16s(lpc[50] Q14, src[5], srcExp, dst[5],
 *   dstExp, state): src/srcExp are the last decoded vector and its Q (the
 *   caller's filter-memory update), shifted into the state's 10-block
 *   history; dst is the ringing normalised to 15 bits, dstExp its Q.  Zeros
 *   with Q 16 stand for "no vector yet".
 * - voksCombinedFilterZeroInput_G728_16s(lpc[20], src[25], dst[5], state):
 *   lpc = weighting filter zero part then pole part (Q14); src = the
 *   synthesis ringing and the 10 past decoded samples (15 values, Q2,
 *   newest first) followed by the weighting filter's 10 past outputs;
 *   dst = weighted ringing (newest first).
 * - voksCombinedFilterZeroState_G728_16s: uses lpcSyn[0..3] and the first 4
 *   weighting coefficients; hOut[5] newest first with hOut[4] = 1 << scale;
 *   energy[128] as voksImpulseResponseEnergy_G728_16s; scale outside 0..14
 *   is vokErrScale.
 * - voksPitchPeriodExtraction_G728_16s: residual = 240 samples newest first
 *   (the 20 newest at 0..19); the state holds the decimated residual, the
 *   decimation filter and the previous period (0 after Init stands for 50).
 * - voksPostFilter_G728_16s(gl Q14, glb = gl*b Q16, pitch 20..140 else
 *   vokErrRange, tilt Q14, src[5] decoded speech Q2, history, dst, state):
 *   history = 10 zero-part and 10 pole-part short-term coefficients (Q14)
 *   followed by 240 past decoded samples (Q0, newest first, the current
 *   vector already at 0..4).  The gain smoothing starts at 1.0.
 */
VOKAPI VokResult voksWinHybridGetStateSize_G728_16s(int M, int N, int L, int d, int* size);
VOKAPI VokResult voksWinHybridInit_G728_16s(const Vok16s* window, int M, int N, int L, int d, Vok16s decay, void* state);
VOKAPI VokResult voksWinHybrid_G728_16s(Vok16s shortForm, const Vok16s* src, Vok16s* dst, void* state);
VOKAPI VokResult voksWinHybridBlock_G728_16s(Vok16s shortForm, const Vok16s* src, Vok16s* acf, const Vok16s* srcExp, void* state);
VOKAPI VokResult voksLevinsonDurbin_G728_16s_Sfs(const Vok16s* acf, int order, Vok16s* lpc, Vok16s* rc1, Vok16s* err, Vok16s* scale);
VOKAPI VokResult voksLevinsonDurbin_G728_16s_ISfs(const Vok16s* acf, int startOrder, int order, Vok16s* lpc, Vok16s* err, Vok16s* scale);
VOKAPI VokResult voksCodebookSearch_G728_16s(const Vok16s* p, const Vok16s* energy, Vok32s* shapeIndex, Vok32s* gainIndex, Vok16s* codeword, VokRateCode rateCode);
VOKAPI VokResult voksCodebookSearchTCQ_G728_16s8u(const Vok16s* target, const Vok16s* impResp, Vok8u* code, const Vok16s* gain, const Vok16s* codebook, Vok16s* work);
VOKAPI VokResult voksSynthesisFilterGetStateSize_G728_16s(int* size);
VOKAPI VokResult voksSynthesisFilterInit_G728_16s(void* state);
VOKAPI VokResult voksSyntesisFilterZeroInput_G728_16s(const Vok16s* lpc, const Vok16s* src, Vok16s srcExp, Vok16s* dst, Vok16s* dstExp, void* state);
VOKAPI VokResult voksCombinedFilterGetStateSize_G728_16s(int* size);
VOKAPI VokResult voksCombinedFilterInit_G728_16s(void* state);
VOKAPI VokResult voksCombinedFilterZeroInput_G728_16s(const Vok16s* lpc, const Vok16s* src, Vok16s* dst, void* state);
VOKAPI VokResult voksCombinedFilterZeroState_G728_16s(const Vok16s* lpcSyn, const Vok16s* lpcWeightNum, const Vok16s* lpcWeightDen, Vok16s scale, Vok16s* hOut, Vok16s* energy, void* state);
VOKAPI VokResult voksIIR16sGetStateSize_G728_16s(int* size);
VOKAPI VokResult voksIIR16sInit_G728_16s(void* state);
VOKAPI VokResult voksIIR16s_G728_16s(const Vok16s* coef, const Vok16s* src, Vok16s* dst, int len, void* state);
VOKAPI VokResult voksImpulseResponseEnergy_G728_16s(const Vok16s* impResp, Vok16s* energy);
VOKAPI VokResult voksLPCInverseFilter_G728_16s(const Vok16s* src, const Vok16s* lpc, Vok16s* dst, void* state);
VOKAPI VokResult voksPitchPeriodExtraction_G728_16s(const Vok16s* residual, Vok32s* pitch, void* state);
VOKAPI VokResult voksPostFilterGetStateSize_G728_16s(int* size);
VOKAPI VokResult voksPostFilterInit_G728_16s(void* state);
VOKAPI VokResult voksPostFilter_G728_16s(Vok16s gl, Vok16s glb, Vok16s pitch, Vok16s tilt, const Vok16s* src, const Vok16s* history, Vok16s* dst, void* state);
VOKAPI VokResult voksPostFilterAdapterGetStateSize_G728(int* size);
VOKAPI VokResult voksPostFilterAdapterStateInit_G728(void* state);
/* ==== end G.728 ============================================================= */

/* ==== subband echo canceller: filter bank, adaptive filters, controllers ==== */
/* Filter bank (weighted overlap-add DFT bank).  FFT length N = 2^order
 * (order >= 1), window length L (a multiple of N), frame length R (1..N, the
 * decimation).  A subband frame is N/2+1 complex values, DC first, the
 * imaginary parts of subbands 0 and N/2 zero.  Sizes from the GetSize call
 * (bytes): state, set-up buffer (needed from order 11), work buffer
 * (mandatory for every frame call).  States and work buffers are used from
 * their first 16-byte boundary; a state keeps pointers into itself and must
 * stay where Init placed it.  One state serves one direction.
 * Analysis: the history of L samples (oldest first) shifted by R, folded as
 * t[k] = sum over blocks b of d[bN+k] w[bN+k], then the unscaled forward
 * real FFT; no rotation by the frame index.  Synthesis: inverse FFT times
 * 1/N, the accumulator shifted by R (R zeros appended), a[k] += t[k mod N]
 * w[L-1-k] for k < L, a[0..R-1] out.  The chain analysis -> synthesis is a
 * delay of L - R samples (up to the bank's reconstruction error).
 * Fixed point: window Q13; each product rounded half up and saturated to 16
 * bits, the fold sums and the synthesis accumulator saturate; the spectrum
 * is the float FFT of the folded samples times 2^-scaleFactor, rounded to
 * nearest (ties to even) and saturated to 32 bits (so a value lying within
 * float error of a half may round either way), synthesis output likewise
 * to 16 bits.  Scale factors beyond +-126 act as +-126.
 * Built-in windows (window null): (order 5, R 24, L 128) and (order 6,
 * R 44, L 256); the 16-bit ones are the float ones times 8192 truncated.
 * Checks: GetSize: order < 1 or L < 1 vokErrBadArg before the pointers;
 * then L not a multiple of N, or sizes beyond 32 bits (order > 29):
 * vokErrBadArg.  Init: order, R or L out of range vokErrBadArg, state null,
 * L not a multiple of N, no built-in window for a null window
 * (vokErrBadArg), FFT set-up failure (order >= 11 without a set-up buffer,
 * order > 29) vokErrInternal. */
typedef struct SubbandProcessState_16s SubbandProcessState_16s;
typedef struct SubbandProcessState_32f SubbandProcessState_32f;
VOKAPI VokResult voksSubbandProcessGetSize_16s(int order, int windowLen, int* stateSize, int* setupSize, int* workSize);
VOKAPI VokResult voksSubbandProcessGetSize_32f(int order, int windowLen, int* stateSize, int* setupSize, int* workSize);
VOKAPI VokResult voksSubbandProcessInit_16s(SubbandProcessState_16s* state, int order, int frameLen, int windowLen, const Vok16s* window, Vok8u* setupBuffer);
VOKAPI VokResult voksSubbandProcessInit_32f(SubbandProcessState_32f* state, int order, int frameLen, int windowLen, const Vok32f* window, Vok8u* setupBuffer);
VOKAPI VokResult voksSubbandAnalysis_16s32sc_Sfs(const Vok16s* src, Vok32sc* dst, SubbandProcessState_16s* state, int scaleFactor, Vok8u* work);
VOKAPI VokResult voksSubbandAnalysis_32f32fc(const Vok32f* src, Vok32fc* dst, SubbandProcessState_32f* state, Vok8u* work);
VOKAPI VokResult voksSubbandSynthesis_32sc16s_Sfs(const Vok32sc* src, Vok16s* dst, SubbandProcessState_16s* state, int scaleFactor, Vok8u* work);
VOKAPI VokResult voksSubbandSynthesis_32fc32f(const Vok32fc* src, Vok32f* dst, SubbandProcessState_32f* state, Vok8u* work);

/* Subband adaptive filters.  history[s] is the reference subband frame s
 * frames old (s = 0 newest), coefs[s] the coefficients multiplying it; len
 * subbands (1..4097, else vokErrSubbandCount), numSegments 1..255 (else
 * vokErrRange).  Null entries among the first numSegments pointers (the
 * ones read) give vokErrNullPtr after the length and range checks.
 * FIR float: y[i] = sum over s of history[s][i] coefs[s][i], each complex
 * product formed in double and rounded to float, summed in float.  FIR
 * fixed: the sum formed in double (each partial sum clamped to +-2^63),
 * times 2^-sf, clamped to 32 bits, rounded to nearest even; the Low form
 * computes subbands firstSubband..len-1 only (the others untouched), sf
 * 0..31 (its out-of-range sums saturate too).
 * Steps: float one double (>= 0) per subband; fixed one pair per subband,
 * steps[2i] mantissa m (>= 0) and steps[2i+1] exponent x, value m 2^-x.
 * NLMS float: coefs[s][i] += mu[i] e[i] conj(history[s][i]), in double,
 * stored as float.  NLMS fixed (coefficients with sf fractional bits):
 * u = (m e + 2^30) >> 31 per part; k = x - sf - 31; P = u conj(X) in 64
 * bits (-(-2^31) read as 2^31-1); increment (P + 2^(k-1)) >> k for k >= 2,
 * P >> k for k = 0, 1, P 2^-k saturated to 64 bits for k < 0; coefficient
 * part = sat32(coef + increment).  A negative step (float) or mantissa
 * (fixed) gives vokErrSize before any coefficient changes.
 * Low NLMS fixed: subbands firstSubband..len-1; u = trunc((m e + 2^30)
 * 2^-31) in double, written to scaledError; the new coefficient is the
 * double sum coef + increment rounded to nearest and saturated.
 * Affine projection (order P >= 1, history of numSegments + P - 1 frames,
 * P vectors of steps and of errors): acc = sum over j < P of mu_j[i] e_j[i]
 * conj(history[s+j][i]) in double; coefs[s][i] += (1/P) acc, 1/P in
 * single precision.  P above 255 gives vokErrRange. */
VOKAPI VokResult voksFIRSubband_EC_32fc(const Vok32fc* const* history, const Vok32fc* const* coefs, Vok32fc* dst, int numSegments, int len);
VOKAPI VokResult voksFIRSubband_EC_32sc_Sfs(const Vok32sc* const* history, const Vok32sc* const* coefs, Vok32sc* dst, int numSegments, int len, int sf);
VOKAPI VokResult voksFIRSubbandLow_EC_32sc_Sfs(const Vok32sc* const* history, const Vok32sc* const* coefs, int numSegments, Vok32sc* dst, int firstSubband, int len, int sf);
VOKAPI VokResult voksFIRSubbandCoeffUpdate_EC_32fc_I(const Vok64f* steps, const Vok32fc* const* history, const Vok32fc* error, Vok32fc* const* coefs, int numSegments, int len);
VOKAPI VokResult voksFIRSubbandCoeffUpdate_EC_32sc_I(const Vok32s* steps, const Vok32sc* const* history, const Vok32sc* error, Vok32sc* const* coefs, int numSegments, int len, int sf);
VOKAPI VokResult voksFIRSubbandLowCoeffUpdate_EC_32sc_I(const Vok32sc* const* history, const Vok32sc* error, Vok32sc* const* coefs, int numSegments, Vok32sc* scaledError, const Vok32s* steps, int firstSubband, int len, int sf);
VOKAPI VokResult voksFIRSubbandAPCoeffUpdate_EC_32fc_I(const Vok64f* const* steps, const Vok32fc* const* history, const Vok32fc* const* errors, Vok32fc* const* coefs, int numSegments, int len, int order);

/* Subband step-size controllers.  Configuration: numSubbands, frameSize,
 * numSegments >= 1 (vokErrBadArg; also numSubbands above 2^24), sampleFreq
 * 8000 or 16000 (vokErrRange), checked before the pointer.  State sizes:
 * float 16 numSubbands + 96, fixed 5 r + 112, double-talk 11 r +
 * ((16 numSubbands + 30) & ~31) + 160 bytes, r = 4 numSubbands rounded up
 * to 16; used from the first 16-byte boundary.  Signals are in 16-bit
 * sample units (the float threshold T = numSubbands 100000 numSegments).
 * Smoothing factors for tau = 15, 9, 20, 10 ms with n = fs tau / frameSize
 * frames: float 1 - 1/n + 1/(2n^2); Q14 16384 - frameSize 16384 k / fs
 * (k = 67, 111, 50, 100), bounded below by 0.
 * Update (per frame, after the newest reference frame entered history):
 * C[i] += |history[0][i]|^2; step = mu / C[i] (float, mu 0..1 else
 * vokErrRange; 0.5 for the plain Update) when C[i] > T, else 0.05 / T;
 * C[i] -= |history[numSegments-1][i]|^2 (not below 0); with microphone
 * subbands (may be null) the near-end flag is set and the near-end power
 * Pn smoothed with their total power (else with 0).  The two time-domain
 * frames are only checked for null.  Fixed: powers |X|^2 2^-10 rounded and
 * saturated; T16 = numSubbands 100000 numSegments / 1024; C[i] <= T16 gives
 * the pair (2^30 / T16, 102) (an increment below one unit: adaptation
 * stops while the reference is too weak); otherwise m = 2^61 / c (c = C[i]
 * shifted left into [2^30, 2^31); exact quotient, 2^31 - 1 at most) and
 * x = 72 - (that shift), so that m 2^-x = 0.5 / (C[i] 2^10) and m lies in
 * [2^30, 2^31).  (The plain reading of the exponent, 71 - shift, would
 * give the step 1 / (C 2^10), double the NLMS value 0.5 the mantissa's
 * normalisation and the stated step value ask for.)
 * Decision (per frame, per subband): E = coefficient energy, delta =
 * |D - E|, D smoothed (9 ms); error powers Pf, Pa smoothed (15 ms); save
 * (adaptive -> fixed, Pf = Pa) when 0.1 D > delta and 0.35 Pf > Pa, else
 * restore (fixed -> adaptive, Pa = Pf) when Pa > 1.5 Pf; then the decision
 * level g (20 ms) moves towards 0 when the saved power exceeds a tenth of
 * the total (and, once near-end subbands were seen, 0.2 Pn exceeds the
 * total) or towards 1 when the restored power does; the gain output G
 * (10 ms) follows 1 while g > 0.5, else 0.  Fixed: the same in Q14 (g
 * starts 16384, G 32767); G follows 0 only while g < 8192 and the saved
 * or restored power reaches 100.  Reset clears Pa, Pf, D only.
 * Double-talk controller (state as above):
 * DTUpdate: the reference powers |X|^2 2^-14 per subband are summed over
 * the filter span as in Update; a hangover counter (samples) rises by
 * frameSize per call up to 40000 and falls by 10 frameSize on a call whose
 * flag word *doubleTalk is non-zero, never below 36000; the mode m is 1
 * while the counter is below 40000 (double talk or its hangover, at most
 * 4000 samples after the last flagged frame).  Steps for subbands
 * firstSubband.. : below the threshold (16 C <= T16) the pair (2^30/T16,
 * 102); otherwise 0.5 / (C 2^14) as above (x = 76 - shift), divided by 256
 * in mode 1 (x + 8); subbands below firstSubband get (0, 0).  Outputs the
 * newest frame's reference level (sum of its powers over firstSubband..,
 * scale 2^-14) and the microphone level likewise.  A canceller proven on
 * the G.168 double-talk scenario hands the decision the adaptive error's
 * level on the same scale as e and 64 times the reference level as the
 * companion X (so "strong" is an error above half the reference level),
 * calls it with f2 = 1, and sets the next update's flag word when the
 * decision restored: the backup filter then keeps about 25 dB through
 * double talk as loud as the far end.  Nine of the
 * eleven per-subband arrays the size provides are unused (two hold 1.0 in
 * Q14) and the two complex arrays are unused.
 * DT decision: as described for it (result -1 saved, 0 nothing, 1
 * restored; companion *X saved and restored with the coefficients; f1
 * updates the powers, f2 non-zero processes a call whose level is <= 0);
 * saves and restores cover subbands firstSubband..numSubbands-1 of every
 * segment.  The small-step pair is (2^30/T16, 102) here too: read as
 * (2^30/T16, -31) the pair would be a step of 2^61/T16, which makes the
 * first quiet frame blow the coefficients to saturation. */
typedef struct SubbandControllerState_32f SubbandControllerState_32f;
typedef struct SubbandControllerState_16s SubbandControllerState_16s;
typedef struct SubbandControllerDTState_16s SubbandControllerDTState_16s;
VOKAPI VokResult voksSubbandControllerGetSize_EC_32f(int numSubbands, int frameSize, int numSegments, int sampleFreq, int* size);
VOKAPI VokResult voksSubbandControllerGetSize_EC_16s(int numSubbands, int frameSize, int numSegments, int sampleFreq, int* size);
VOKAPI VokResult voksSubbandControllerInit_EC_32f(SubbandControllerState_32f* state, int numSubbands, int frameSize, int numSegments, int sampleFreq);
VOKAPI VokResult voksSubbandControllerInit_EC_16s(SubbandControllerState_16s* state, int numSubbands, int frameSize, int numSegments, int sampleFreq);
VOKAPI VokResult voksSubbandControllerReset_EC_32f(SubbandControllerState_32f* state);
VOKAPI VokResult voksSubbandControllerReset_EC_16s(SubbandControllerState_16s* state);
VOKAPI VokResult voksSubbandControllerUpdate_EC_32f(const Vok32f* refFrame, const Vok32f* micFrame, const Vok32fc* const* history, const Vok32fc* micSubbands, Vok64f* steps, SubbandControllerState_32f* state);
VOKAPI VokResult voksSubbandAPControllerUpdate_EC_32f(const Vok32fc* const* history, const Vok32fc* micSubbands, Vok64f* steps, Vok32f mu, SubbandControllerState_32f* state);
VOKAPI VokResult voksSubbandControllerUpdate_EC_16s(const Vok16s* refFrame, const Vok16s* micFrame, const Vok32sc* const* history, const Vok32sc* micSubbands, Vok32s* steps, SubbandControllerState_16s* state);
VOKAPI VokResult voksSubbandController_EC_32f(const Vok32fc* adaptiveError, const Vok32fc* fixedError, Vok32fc* const* adaptiveCoefs, Vok32fc* const* fixedCoefs, Vok32f* gain, SubbandControllerState_32f* state);
VOKAPI VokResult voksSubbandController_EC_16s(const Vok32sc* adaptiveError, const Vok32sc* fixedError, Vok32sc* const* adaptiveCoefs, Vok32sc* const* fixedCoefs, Vok16s* gain, SubbandControllerState_16s* state);
VOKAPI VokResult voksSubbandControllerDTGetSize_EC_16s(int numSubbands, int frameSize, int numSegments, int sampleFreq, int* size);
VOKAPI VokResult voksSubbandControllerDTInit_EC_16s(SubbandControllerDTState_16s* state, int numSubbands, int frameSize, int numSegments, int sampleFreq);
VOKAPI VokResult voksSubbandControllerDTReset_EC_16s(SubbandControllerDTState_16s* state);
VOKAPI VokResult voksSubbandControllerDTUpdate_EC_16s(const Vok32sc* const* history, const Vok32sc* micSubbands, Vok32s* steps, const Vok32s* doubleTalk, Vok64s* refLevel, Vok64s* micLevel, int firstSubband, SubbandControllerDTState_16s* state);
VOKAPI VokResult voksSubbandControllerDT_EC_16s(const Vok32sc* adaptiveError, const Vok32sc* fixedError, Vok32sc* const* adaptiveCoefs, Vok32sc* const* fixedCoefs, Vok64s* companion, Vok32s* result, Vok64s level, int updatePowers, int force, int firstSubband, SubbandControllerDTState_16s* state);
/* ==== end subband echo canceller ============================================ */

/* ==== full-band echo canceller ============================================ */
/* The reference pointer x is the first sample of the current frame; the
 * caller's buffer holds tapLen earlier samples in front of it (x[-1] ...
 * x[-tapLen]).  Taps h[k] weigh x[n-k].  Counts below 1 are vokErrBadArg.
 * FIR: e = y - h*x (16s: products rounded one by one, (h x + 2^14) >> 15,
 * summed exactly, e saturated).  NLMS: per sample each tap first takes the
 * carried correction g*x[n-1-k], then filters; e = y - sum, g = e*step
 * (16s: Q15 taps, g 32-bit, h += (x g + 2^12) >> 13 saturated, the sum of
 * rounded products saturated to 32 bits, g = (step e + 2^10) >> 11
 * saturated; the carried term is written back saturated to 16 bits).
 * Controllers: objects of 72 (float) and 96 (fixed) bytes, used from their
 * first 16-byte boundary; frame and tap counts are fixed at Init (sample
 * rate 8000 or 16000, else vokErrRange) and the arrays handed to Update
 * and the decision must match them.  Update writes one normalised step per
 * sample (0.5/E, fixed 2^30/E with E in units of 2^8, or the small step
 * while E is at or below the threshold 1.5e6*tapLen) and tracks the
 * microphone power; the decision smooths the error powers and the
 * coefficient energy, copies the adaptive taps into the fixed taps when the
 * adaptive filter is ten times better and steady, restores them when it is
 * 1.3 times worse, and writes the smoothed output gain.  Fixed point: the
 * 64-bit coefficient energy blended with Q14 factors saturates to 32 bits;
 * no product wraps.  Reset clears the error powers and coefficient energy
 * and keeps the microphone power, gains and configuration. */
typedef struct FullbandControllerState_32f FullbandControllerState_32f;
typedef struct FullbandControllerState_16s FullbandControllerState_16s;
VOKAPI VokResult voksFIR_EC_32f(const Vok32f* x, const Vok32f* y, Vok32f* e, int len, const Vok32f* h, int tapLen);
VOKAPI VokResult voksFIR_EC_16s(const Vok16s* x, const Vok16s* y, Vok16s* e, int len, const Vok16s* h, int tapLen);
VOKAPI VokResult voksNLMS_EC_32f(const Vok32f* x, const Vok32f* y, const Vok32f* steps, Vok32f* e, int len, Vok32f* taps, int tapLen, Vok32f* carried);
VOKAPI VokResult voksNLMS_EC_16s(const Vok16s* x, const Vok16s* y, const Vok32s* steps, Vok16s* e, int len, Vok16s* taps, int tapLen, Vok16s* carried);
VOKAPI VokResult voksFullbandControllerGetSize_EC_32f(int frameSize, int tapLen, int fs, int* size);
VOKAPI VokResult voksFullbandControllerGetSize_EC_16s(int frameSize, int tapLen, int fs, int* size);
VOKAPI VokResult voksFullbandControllerInit_EC_32f(FullbandControllerState_32f* state, int frameSize, int tapLen, int fs);
VOKAPI VokResult voksFullbandControllerInit_EC_16s(FullbandControllerState_16s* state, int frameSize, int tapLen, int fs);
VOKAPI VokResult voksFullbandControllerReset_EC_32f(FullbandControllerState_32f* state);
VOKAPI VokResult voksFullbandControllerReset_EC_16s(FullbandControllerState_16s* state);
VOKAPI VokResult voksFullbandControllerUpdate_EC_32f(const Vok32f* x, const Vok32f* y, Vok32f* steps, FullbandControllerState_32f* state);
VOKAPI VokResult voksFullbandControllerUpdate_EC_16s(const Vok16s* x, const Vok16s* y, Vok32s* steps, FullbandControllerState_16s* state);
VOKAPI VokResult voksFullbandController_EC_32f(const Vok32f* adaptiveError, const Vok32f* fixedError, Vok32f* adaptiveTaps, Vok32f* fixedTaps, Vok32f* gain, FullbandControllerState_32f* state);
VOKAPI VokResult voksFullbandController_EC_16s(const Vok16s* adaptiveError, const Vok16s* fixedError, Vok16s* adaptiveTaps, Vok16s* fixedTaps, Vok16s* gain, FullbandControllerState_16s* state);
/* ==== end full-band echo canceller ========================================= */

/* ==== 2100 Hz answer-tone detection ======================================== */
/* Reports a 2100 Hz tone with at least two phase reversals spaced more than
 * 413 ms and less than 466 ms apart (V.25 answer tone), at 8000 or 16000 Hz.
 * State objects: 72 bytes (float) and 64 bytes (fixed point), used from the
 * first 16-byte boundary at or above the pointer; Init takes the rate.
 * voksToneDetect_* writes 1 to result when a reversal counted during this
 * call brought the count to two or more, else 0; counters carry over between
 * calls, and a detection keeps the count (each further counted reversal
 * reports 1 again); len < 1 is vokErrBadArg.
 * Fixed point: the power smoothing Px = (Px*lambda + x^2*(16384-lambda)) >> 14
 * and the threshold products Px*13107 >> 14 and Px*7864 >> 14 are formed in
 * 64 bits and do not wrap.  The fixed form has no lower power bound: a
 * signal within a few units of zero may count as tone.  A dip that is not
 * counted does not end the tone segment, so a segment that grew past 466 ms
 * (a tone joined late) counts no reversal until a dip longer than 20 ms. */
typedef struct ToneDetectState_EC_32f ToneDetectState_EC_32f;
typedef struct ToneDetectState_EC_16s ToneDetectState_EC_16s;
VOKAPI VokResult voksToneDetectGetStateSize_EC_32f(int fs, int* size);
VOKAPI VokResult voksToneDetectGetStateSize_EC_16s(int fs, int* size);
VOKAPI VokResult voksToneDetectInit_EC_32f(ToneDetectState_EC_32f* state, int fs);
VOKAPI VokResult voksToneDetectInit_EC_16s(ToneDetectState_EC_16s* state, int fs);
VOKAPI VokResult voksToneDetect_EC_32f(const Vok32f* src, int len, int* result, ToneDetectState_EC_32f* state);
VOKAPI VokResult voksToneDetect_EC_16s(const Vok16s* src, int len, int* result, ToneDetectState_EC_16s* state);
/* ==== end answer-tone detection ============================================ */

/* ==== spectral noise filters ================================================ */
/* Short-time spectral attenuation of stationary noise in float speech at
 * 8000, 16000, 22050 or 32000 Hz (other rates: vokErrRange), samples on the
 * 16-bit scale.  Both states hold no pointers (they may be copied as bytes)
 * and are used from their first 16-byte boundary; the transform set-ups
 * they use are built once per process and only read afterwards.
 *
 * Echo-canceller family (_EC_): 16 samples per call.  The state reports the
 * same size at every rate (about 38 kB: sample histories of fs*1024/8000
 * values for the filter and for the moderate detector's second signal).
 *   Framing: 128-point frames advanced by 16 samples; frame k is the newest
 *   128 input samples under an analysis window, its gains are applied, and
 *   the inverse is overlap-added under the same window.  Two windows:
 *   the sine window sin(pi (n + 0.5)/128) (levels 1, 2, 5 and before a level
 *   is chosen) and the Hann window sin^2 (levels 3 and 4), n = 0..127; their
 *   overlapped products sum to 4 and 3, which the synthesis divides out, so
 *   with unit gains the output is the input (level 0 keeps the window in
 *   use; a change between the two windows leaves a 128-sample transient).
 *   The output lags the input by 128 samples (112 of framing, 16 of the
 *   smoothing line) at every level, level 0 included, so level and mode
 *   changes never shift the signal.
 *   Spectral output samples are limited to -32768..32767 and those of
 *   magnitude below 0.5 become 0.
 *   Decision argument: -1 gives the filter no new information; any other
 *   value adds the 16 samples to the filter's history and forms the bin
 *   powers P of its newest 128 samples (same window); 1 marks the block as
 *   noise.  Spectral processing starts once 128 history samples exist
 *   (before that, and at level 0, samples pass unchanged): a caller that
 *   only ever passes -1 gets its input back, delayed.
 *   Noise estimate (decision 1): the block's bin powers averaged over W = 5
 *   neighbouring bins (centred, cut at the band edges; an arithmetic mean,
 *   as a mean of reciprocals would be ruled by a noise periodogram's
 *   near-zero bins); the first noise block sets the noise powers, later
 *   ones enter as N = B N + C block at most once per update period
 *   (fs/40 or fs/100 samples; the level's noise-update flag 0, level 5,
 *   replaces N by each noise block instead); reciprocals 1/max(N, 1) are
 *   the R of the gain.  The first noise block also chooses the level:
 *   0 when sqrt(m + 1) < 4 (m = mean power of its newest fs*128/8000
 *   history samples, 128 while fewer are held), else 2, overriding a level set earlier; to keep a level of
 *   your own set it again after that block (setting it every block is
 *   harmless).
 *   Gain, levels 1, 2, 3, 5: gamma = P R in 1..32767, Gamma = 0.5 Gamma +
 *   0.5 gamma, g = A Gamma raised to D (bins 0..2) or F (bins 3..64),
 *   at most 1 (level 2: Gamma 16 gives 0.5, Gamma 1 gives 0.03125 and 0.275).
 *   Level 4: Gamma4 = 0.88 gamma + 0.12 Gamma4 and the bin average
 *   a = 0.98 mean(min(Gamma4, 2048)) + 0.02 a; blocks with a <= 2 (noise
 *   alone gives about 1.4) take the floor F = 0.04 (-28 dB) in every bin,
 *   others g = 1 - 2/Gamma4 (at least F).  The other level parameters
 *   (G, H, I, J) are kept and not read.
 *   Init: level 0 with A = 1/256 and the other gain parameters of level 2,
 *   mode 0; Level stores its argument first, then rejects one outside
 *   0..5 (vokErrRange) and changes nothing else; level 0 clears A only.
 *   Output smoothing (time domain, applies while A > 0 and a noise estimate
 *   with m >= 2 exists): kernels of 2j+1 taps, j = 0..8, tap t weighing
 *   0.5 + floor(min(t, 2j - t)/2), normalised to sum 1.  Mode 0 uses the
 *   17-tap kernel (a low-pass: it takes about 11 dB off white noise and
 *   the upper band of speech), mode -1 the kernel round(Q) with Q = 0.999 Q
 *   + 0.001 max(1, x) per block (x from the smallest gain of three blocks
 *   before), mode 1 none: use mode 1 for full-band speech.
 *   Detectors (use one kind per state): per block the mean power of the 16
 *   samples, smoothed (0.75 old, 0.25 new), against a noise floor that
 *   takes any lower smoothed power at once and otherwise rises 2 dB/s
 *   (10 dB/s after 400 blocks of continuous speech).  Speech: smoothed power
 *   above E = 3 times the floor; a speech block holds the decision at 0 for
 *   80 further blocks.  The decision word is 1 for noise, else 0; the 64f
 *   output is the smoothed power over the floor; the noise level is the
 *   floor in dB (10 log10, of 1 and above) limited to 80.  The moderate
 *   detector runs the same law on the signal and on the second signal
 *   (for example the far-end signal of an echo canceller), each with its
 *   own trackers, and reports noise only while the second signal is quiet
 *   as well.  The counters 3, 14 and 48 of Init are kept and not read.
 *
 * RTA family (_RTA_): frames of 80 samples at 8000 Hz, 160 at the other
 * rates (state about 5 kB); the output lags by D = min(frame, 96) samples.
 * A 256-point transform of the frame and the D samples before it under a
 * flat-top window with sine tapers of D samples (zero-padded), the gain of
 * each bin from r = P/N: 1 above r = 31, gmin below 1 + 30 gmin^2,
 * sqrt((r - 1)/30) between; overlap-add under the same window.  P is the
 * bin power smoothed 0.5/0.5 over frames; N is the running minimum of P,
 * rising 5 dB/s, times 3.5.  Levels 0..3 set gmin 1.0, 0.5, 0.3, 0.08 (level
 * 0 passes the input unchanged, delayed); Init selects level 2.  A frame
 * with a non-finite sample is vokErrRange (nothing changes); a damaged
 * frame length in the state is vokErrIndex. */
typedef struct FilterNoiseState_EC_32f FilterNoiseState_EC_32f;
typedef struct FilterNoiseState_RTA_32f FilterNoiseState_RTA_32f;
VOKAPI VokResult voksFilterNoiseGetStateSize_EC_32f(int fs, int* size);
VOKAPI VokResult voksFilterNoiseInit_EC_32f(int fs, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoiseLevel_EC_32f(int level, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoiseSetMode_EC_32f(int mode, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoiseDetect_EC_32f64f(const Vok32f* src, Vok64f* ratio, Vok32f* noiseLevel, int* decision, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoiseDetectModerate_EC_32f64f(const Vok32f* src, const Vok32f* second, Vok64f* ratio, Vok32f* noiseLevel, int* decision, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoise_EC_32f(const Vok32f* src, Vok32f* dst, int decision, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoise_EC_32f_I(Vok32f* srcDst, int decision, FilterNoiseState_EC_32f* state);
VOKAPI VokResult voksFilterNoiseGetStateSize_RTA_32f(int fs, int* size);
VOKAPI VokResult voksFilterNoiseInit_RTA_32f(int fs, FilterNoiseState_RTA_32f* state);
VOKAPI VokResult voksFilterNoiseLevel_RTA_32f(int level, FilterNoiseState_RTA_32f* state);
VOKAPI VokResult voksFilterNoise_RTA_32f(const Vok32f* src, Vok32f* dst, FilterNoiseState_RTA_32f* state);
VOKAPI VokResult voksFilterNoise_RTA_32f_I(Vok32f* srcDst, FilterNoiseState_RTA_32f* state);
/* ==== end spectral noise filters ============================================ */

/* ==== RTA band split and pre-processing ===================================== */
/* Two-band QMF on float frames (state object 200 bytes, used at the given
 * address, one object per direction; Init takes 24 or 48 taps).  Encode takes
 * an even len of 2..640 samples and writes len/2 low- and high-band values;
 * Decode takes len values per band (2*len <= 640) and writes 2*len samples.
 * Decoding an encoding reproduces the input delayed by the number of taps
 * (within about 66 dB for 24 taps, 75 dB for 48).
 * voksBandPassFilter_RTA_32f_I: in place, len 1..640 (else vokErrSize);
 * memory of 3 floats (last input, last first-section output, level-follower
 * gain), zero before the first call. */
typedef struct QMFState_RTA_32f QMFState_RTA_32f;
VOKAPI VokResult voksQMFGetStateSize_RTA_32f(int* size);
VOKAPI VokResult voksQMFInit_RTA_32f(QMFState_RTA_32f* state, int taps);
VOKAPI VokResult voksQMFEncode_RTA_32f(const Vok32f* src, int len, Vok32f* low, Vok32f* high, QMFState_RTA_32f* state);
VOKAPI VokResult voksQMFDecode_RTA_32f(const Vok32f* low, const Vok32f* high, int len, Vok32f* dst, QMFState_RTA_32f* state);
VOKAPI VokResult voksBandPassFilter_RTA_32f_I(Vok32f* signal, int len, Vok32f* memory);
/* voksHighPassFilter_RTA_32f: order 4 (three poles) or 5 (four poles), fs
 * 8000, 16000, 22050 or 32000 (else vokErrRange), len >= 1 (vokErrSize);
 * memory: 16 floats holding 8 doubles (x[n-1..n-4], y[n-1..n-4]), zero
 * before the first call.  Keep one length parity per memory with order 4:
 * odd and even lengths run two different realisations, and switching
 * between them on one memory starts a slowly decaying transient.
 * A zero of the filter's order at DC, unity gain at fs/2, corner near 20 Hz;
 * order 4 adds 1e-6 to every output (a DC offset of a few units).  Order 4 on an odd length runs the float
 * recursion (at 8000 Hz: vokWrnNoOperation, nothing written); even lengths
 * and order 5 run in double precision within the call. */
VOKAPI VokResult voksHighPassFilter_RTA_32f(const Vok32f* src, Vok32f* dst, int len, int order, int fs, Vok32f* memory);
/* ==== end RTA band split =================================================== */

/* ==== G.169 automatic level control ====================================== */
/* A level controller on 16-bit speech, worked in single-precision float on
 * blocks of 8 samples.  State object: 124 bytes (size query), no alignment
 * rule.  Init: target level 32768*10^(-26.1/20), limit 32767, maximum gain
 * 10^(11.6/20); the applied gain starts at 0, so a fresh controller is silent
 * until speech has been seen.  SetLevel takes two attenuations in dB below
 * 32768 (target, then output peak limit; each >= 0, else vokErrRange);
 * SetGain the maximum gain in dB (>= 0).  voksALC_G169_16s takes a length
 * that is a positive multiple of 8 (else vokErrRange).  Output samples are
 * x*g truncated toward zero and saturated; the gain never exceeds the
 * maximum gain and no output peak exceeds the limit level. */
typedef struct ALCState_G169 ALCState_G169;
VOKAPI VokResult voksALCGetStateSize_G169_16s(int* size);
VOKAPI VokResult voksALCInit_G169_16s(ALCState_G169* state);
VOKAPI VokResult voksALCSetLevel_G169_16s(Vok32f targetDb, Vok32f limitDb, ALCState_G169* state);
VOKAPI VokResult voksALCSetGain_G169_16s(Vok32f gainDb, ALCState_G169* state);
VOKAPI VokResult voksALC_G169_16s(const Vok16s* src, Vok16s* dst, int len, ALCState_G169* state);
/* ==== end G.169 level control ============================================== */

#ifdef __cplusplus
}
#endif

#endif /* VOKSC_H */
