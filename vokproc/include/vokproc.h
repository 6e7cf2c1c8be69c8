/*
 * vokproc - voice processing built on voksc: echo cancellation, noise
 * filtering, level control and answer-tone detection, and the usual uplink
 * chain of the first three.
 *
 * Every object lives in caller memory: a size query for a configuration,
 * then Init formats the memory (any alignment; at least the queried size)
 * and returns a handle into it.  The library allocates nothing and keeps no
 * global state.  An object holds pointers into itself: it must stay where
 * Init placed it (initialise it again after moving it).  One object per
 * thread at a time; distinct objects are independent.
 * Processing runs on frames of 10 ms of 16-bit PCM: sampleRate / 100
 * samples (80 at 8000 Hz, 160 at 16000 Hz).
 * Every call returns 0 (vokOk) on success or a negative voksc status:
 * vokErrNullPtr for a null pointer, vokErrSize for memory below the queried
 * size, vokErrRange / vokErrBadArg for a configuration value out of range,
 * vokErrContextMatch for an object that Init did not format (or another
 * kind of object), and vokErrInternal when a voksc call inside failed (a
 * fault of vokproc, not of the input; the object must be initialised
 * again).
 */
#ifndef VOKPROC_H
#define VOKPROC_H

#include "voksc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Echo canceller ====================================================== */
/* Removes the echo of the far-end (loudspeaker) signal from the near-end
 * (microphone) signal.  Two adaptive filters model the echo path: an
 * adaptive one, updated by normalised LMS with the steps of the voksc
 * controller, and a backup copy that the controller saves the adaptive
 * filter into when it has converged and restores it from when it diverges
 * (double talk, path change).  The output is the error of whichever of the
 * two leaves less power over about 50 ms (per subband for the subband
 * bank).  The subband bank also pauses the controller's decisions, and
 * takes the backup filter's output, while its error exceeds a tenth of its
 * echo estimate and the adaptive filter is not four times better (a near
 * end talking), and for 100 ms after.
 *   bank       vokpBankFullband: one FIR filter of tail length on the
 *              full-band signal (the latency is 0);
 *              vokpBankSubband: a DFT filter bank (8 kHz: 32 points, 17
 *              subbands; 16 kHz: 64 points, 33 subbands; decimation by 8 or
 *              16) with short complex filters per subband (latency 120 or
 *              240 samples, vokpEchoLatency).
 *   fixedPoint 0: float arithmetic; 1: the 16-bit fixed-point forms.
 *   tailMs     echo tail the filter spans, 1..256 ms.
 *   delayMs    bulk delay: the far end is delayed by this much before the
 *              filter (a known transmission delay ahead of the echo), 0..500.
 *   suppress   1: the output is also multiplied by the controller's
 *              residual-echo gain (not below -30 dB), which falls towards 0
 *              while the canceller has converged and no near end is heard. */
typedef enum { vokpBankFullband = 0, vokpBankSubband = 1 } VokpBank;
typedef struct {
  int sampleRate; /* 8000 or 16000 */
  int bank;       /* VokpBank */
  int fixedPoint; /* 0 or 1 */
  int tailMs;     /* 1..256 */
  int delayMs;    /* 0..500 */
  int suppress;   /* 0 or 1 */
} VokpEchoConfig;
/* Defaults: full band, float, 64 ms tail, no delay, no suppression. */
VokResult vokpEchoConfigDefault(VokpEchoConfig* config, int sampleRate);
typedef struct VokpEcho VokpEcho;
VokResult vokpEchoGetSize(const VokpEchoConfig* config, int* size);
VokResult vokpEchoInit(const VokpEchoConfig* config, void* mem, int memSize, VokpEcho** echo);
/* One frame: far and near in, out the near end with the echo removed
 * (out may be near). */
VokResult vokpEchoProcess(VokpEcho* echo, const Vok16s* far, const Vok16s* near, Vok16s* out);
/* Samples by which the output lags the near-end input. */
VokResult vokpEchoLatency(const VokpEcho* echo, int* samples);
typedef struct {
  long long frames;  /* frames processed */
  long long saves;   /* frames in which the adaptive filter was saved into the backup */
  long long restores; /* frames in which it was restored from the backup */
  float gain;        /* the controller's residual-echo gain of the last frame, 0..1 */
  int taps;          /* filter length: taps (full band) or segments per subband */
} VokpEchoStatus;
VokResult vokpEchoGetStatus(const VokpEcho* echo, VokpEchoStatus* status);

/* ==== Noise filter ======================================================== */
/* Stationary background noise taken off speech by short-time spectral
 * attenuation (the voksc echo-canceller noise filter, its noise detector
 * marking the pauses, no output smoothing).  level: -1 lets the filter
 * choose at the first pause (off for a near-silent floor, else 2); 0 off;
 * 1..5 the filter's levels (4 the strongest: the noise floor at -28 dB).
 * The output lags the input by vokpNoiseLatency samples (128).
 * *pause (may be NULL) is 1 when the detector marked the whole frame as
 * noise, else 0. */
typedef struct VokpNoise VokpNoise;
VokResult vokpNoiseGetSize(int sampleRate, int* size);
VokResult vokpNoiseInit(int sampleRate, int level, void* mem, int memSize, VokpNoise** noise);
VokResult vokpNoiseProcess(VokpNoise* noise, const Vok16s* in, Vok16s* out, int* pause);
VokResult vokpNoiseLatency(const VokpNoise* noise, int* samples);

/* ==== Level control ======================================================= */
/* Automatic level control after ITU-T G.169 (the voksc controller): speech
 * is brought towards targetDbov (active level, dB below a full-scale
 * 16-bit signal, -40..-6), with a gain of at most maxGainDb (0..30; the
 * controller's 11.6 dB by default) and output peaks held below full scale.
 * A fresh controller starts silent and opens once speech is heard. */
typedef struct VokpLevel VokpLevel;
VokResult vokpLevelGetSize(int* size);
VokResult vokpLevelInit(int sampleRate, float targetDbov, float maxGainDb, void* mem, int memSize, VokpLevel** level);
VokResult vokpLevelProcess(VokpLevel* level, const Vok16s* in, Vok16s* out);

/* ==== Answer-tone detection =============================================== */
/* The 2100 Hz answer tone with phase reversals (V.25): *detected is 1 for
 * a frame in which a reversal 413..466 ms after the previous one brought
 * the count to two or more (each further reversal reports again). */
typedef struct VokpTone VokpTone;
VokResult vokpToneGetSize(int* size);
VokResult vokpToneInit(int sampleRate, void* mem, int memSize, VokpTone** tone);
VokResult vokpToneProcess(VokpTone* tone, const Vok16s* in, int* detected);

/* ==== The uplink chain ==================================================== */
/* Echo canceller, then noise filter, then level control, as a phone or
 * gateway runs them on the microphone signal before coding.  The output
 * lags the near end by the canceller's and the noise filter's latencies
 * (vokpChainLatency). */
typedef struct {
  VokpEchoConfig echo;  /* its sampleRate is the chain's */
  int noiseLevel;       /* as vokpNoiseInit */
  float targetDbov;     /* as vokpLevelInit */
  float maxGainDb;
} VokpChainConfig;
/* Defaults: the echo canceller's, noise level -1, -26 dBov, 11.6 dB. */
VokResult vokpChainConfigDefault(VokpChainConfig* config, int sampleRate);
typedef struct VokpChain VokpChain;
VokResult vokpChainGetSize(const VokpChainConfig* config, int* size);
VokResult vokpChainInit(const VokpChainConfig* config, void* mem, int memSize, VokpChain** chain);
VokResult vokpChainProcess(VokpChain* chain, const Vok16s* far, const Vok16s* near, Vok16s* out);
VokResult vokpChainLatency(const VokpChain* chain, int* samples);
/* The echo canceller inside the chain (for vokpEchoGetStatus). */
VokResult vokpChainEcho(const VokpChain* chain, const VokpEcho** echo);

#ifdef __cplusplus
}
#endif

#endif /* VOKPROC_H */
