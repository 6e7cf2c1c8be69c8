// The echo canceller: full-band or subband, float or fixed point, each an
// adaptive filter and its backup copy driven by a voksc step-size
// controller, assembled from voksc's exports.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "object.h"
#include "vokproc.h"

namespace {

using vokp::Arena;

constexpr int kMaxTailMs = 256, kMaxDelayMs = 500;
constexpr float kSuppressFloor = 0.0316227766f;  // -30 dB
// The error powers that choose the output filter are smoothed over about
// 50 ms: shorter, the choice follows the near end's own fluctuations
// (picking, during double talk, whichever error the near end happens to
// cancel) instead of the filters' quality.
constexpr double kChoiceSeconds = 0.05;

// Double talk in the subband canceller.  The subband controller decides
// on 15 ms of a few subbands, and while a near end as loud as the echo
// perturbs the adaptive filter some subbands always look better on it: its
// saves would spoil the backup filter.  So its decisions pause while the
// backup filter's error exceeds a tenth of its echo estimate (a near end no
// echo explains) unless the adaptive filter is four times better than the
// backup (it converges: start, path change), and for 100 ms after.
constexpr double kTalkSeconds = 0.02, kTalkHoldSeconds = 0.1;
constexpr float kTalkErrorShare = 0.1f, kTalkConverging = 0.25f;

// Subband bank: FFT order, window length and decimation per rate.
struct BankShape {
  int order, window, decimation;
};
BankShape bankShape(int rate) { return rate == 8000 ? BankShape{5, 128, 8} : BankShape{6, 256, 16}; }
// Coefficients of the fixed-point subband filters carry this many fractional bits.
constexpr int kCoefFraction = 20;

int16_t sat16(double v) { return static_cast<int16_t>(std::lrint(std::clamp(v, -32768.0, 32767.0))); }
int32_t sat32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The prototype low-pass of the subband bank: a Kaiser-windowed sinc (beta
// 8, cut-off pi/N), scaled so that analysis followed by synthesis has unit
// gain (sum of squares = the decimation).
double besselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}
void prototype(const BankShape& b, double* w) {
  const int n = 1 << b.order;
  const double beta = 8.0, pi = 3.14159265358979323846;
  double energy = 0;
  for (int k = 0; k < b.window; ++k) {
    const double t = k - (b.window - 1) / 2.0, r = 2.0 * t / (b.window - 1);
    const double sinc = std::sin(pi * t / n) / (pi * t / n);  // t is never 0: the length is even
    w[k] = sinc * besselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / besselI0(beta);
    energy += w[k] * w[k];
  }
  const double scale = std::sqrt(b.decimation / energy);
  for (int k = 0; k < b.window; ++k) w[k] *= scale;
}

}  // namespace

// Everything the canceller holds, carved out of the caller's memory.
struct VokpEcho {
  uint32_t tag;
  VokpEchoConfig config;
  int frame;    // samples per call (10 ms)
  int length;   // taps (full band) or segments per subband
  int delay;    // bulk delay, samples
  int latency;  // output behind input, samples
  long long frames, saves, restores;
  float gain;
  float powerA, powerF;  // full band: smoothed error powers that choose the output
  float choiceSmoothing;  // their smoothing factor per call of the filters
  int16_t* delayLine;    // delay + frame samples

  // Full band: reference history (length + frame samples), taps, steps, errors.
  float* xf;
  float *tapsA, *tapsF, *tapsSaved, *stepsF, *errA, *errF, *mic;
  float carriedF;
  int16_t* xs;
  int16_t *tapsAs, *tapsFs, *tapsSaveds, *errAs, *errFs;
  int32_t* stepsS;
  int16_t carriedS;
  FullbandControllerState_32f* fullCtlF;
  FullbandControllerState_16s* fullCtlS;

  // Subband.
  int subbands, decimation;
  SubbandProcessState_32f *refBankF, *micBankF, *synBankF;
  SubbandProcessState_16s *refBankS, *micBankS, *synBankS;
  Vok8u* work;
  Vok32fc **historyF, **coefAF, **coefFF;
  Vok32sc **historyS, **coefAS, **coefFS;
  Vok32fc *savedF, *yF, *yaF, *yfF, *eaF, *efF, *outF;
  Vok32sc *savedS, *yS, *yaS, *yfS, *eaS, *efS, *outS;
  Vok64f* stepsSub;
  Vok32s* pairsSub;
  float *choiceA, *choiceF;  // smoothed per-subband error powers
  float talkSmoothing;       // double-talk powers' smoothing factor per subband frame
  float talkEcho, talkA, talkF;  // smoothed echo estimate and error powers of the backup and adaptive filters
  int talkHold;              // samples left of the pause of the decisions
  float *subRef, *subMic, *subOut;
  int16_t* subOut16;
  SubbandControllerState_32f* subCtlF;
  SubbandControllerState_16s* subCtlS;
};

namespace {

int segmentsFor(const VokpEchoConfig& c) {
  const int tail = c.tailMs * c.sampleRate / 1000, r = bankShape(c.sampleRate).decimation;
  return std::min(255, (tail + r - 1) / r + 3);
}

// Lays the object out in `arena` (sizing it, or placing it in memory) and,
// when placing, initialises the voksc states.  Returns the status.
VokResult layout(const VokpEchoConfig& c, Arena& arena, VokpEcho** out) {
  VokpEcho* e = arena.take<VokpEcho>(1);
  const int frame = c.sampleRate / 100, delay = c.delayMs * c.sampleRate / 1000;
  const bool fixed = c.fixedPoint != 0;
  int16_t* delayLine = arena.take<int16_t>(delay + frame);
  if (e) {
    e->config = c;
    e->frame = frame;
    e->delay = delay;
    e->delayLine = delayLine;
    e->gain = 1.0f;
    const int step = c.bank == vokpBankFullband ? frame : bankShape(c.sampleRate).decimation;
    e->choiceSmoothing = static_cast<float>(std::exp(-step / (kChoiceSeconds * c.sampleRate)));
  }
  if (c.bank == vokpBankFullband) {
    const int taps = c.tailMs * c.sampleRate / 1000;
    int ctlSize = 0;
    VokResult s = fixed ? voksFullbandControllerGetSize_EC_16s(frame, taps, c.sampleRate, &ctlSize)
                        : voksFullbandControllerGetSize_EC_32f(frame, taps, c.sampleRate, &ctlSize);
    if (s < 0) return vokErrInternal;
    unsigned char* ctl = arena.take<unsigned char>(ctlSize);
    if (fixed) {
      int16_t* xs = arena.take<int16_t>(taps + frame);
      int16_t *a = arena.take<int16_t>(taps), *f = arena.take<int16_t>(taps), *saved = arena.take<int16_t>(2 * taps);
      int16_t *ea = arena.take<int16_t>(frame), *ef = arena.take<int16_t>(frame);
      int32_t* steps = arena.take<int32_t>(frame);
      if (e) {
        e->xs = xs, e->tapsAs = a, e->tapsFs = f, e->tapsSaveds = saved, e->errAs = ea, e->errFs = ef, e->stepsS = steps;
        e->fullCtlS = reinterpret_cast<FullbandControllerState_16s*>(ctl);
        if (voksFullbandControllerInit_EC_16s(e->fullCtlS, frame, taps, c.sampleRate) < 0) return vokErrInternal;
      }
    } else {
      float* xf = arena.take<float>(taps + frame);
      float *a = arena.take<float>(taps), *f = arena.take<float>(taps), *saved = arena.take<float>(2 * taps);
      float *steps = arena.take<float>(frame), *ea = arena.take<float>(frame), *ef = arena.take<float>(frame);
      float* mic = arena.take<float>(frame);
      if (e) {
        e->xf = xf, e->tapsA = a, e->tapsF = f, e->tapsSaved = saved, e->stepsF = steps, e->errA = ea, e->errF = ef;
        e->mic = mic;
        e->fullCtlF = reinterpret_cast<FullbandControllerState_32f*>(ctl);
        if (voksFullbandControllerInit_EC_32f(e->fullCtlF, frame, taps, c.sampleRate) < 0) return vokErrInternal;
      }
    }
    if (e) e->length = taps, e->latency = 0;
  } else {
    const BankShape b = bankShape(c.sampleRate);
    const int nb = (1 << b.order) / 2 + 1, segs = segmentsFor(c);
    int bankSize = 0, setupSize = 0, workSize = 0, ctlSize = 0;
    VokResult s = fixed ? voksSubbandProcessGetSize_16s(b.order, b.window, &bankSize, &setupSize, &workSize)
                        : voksSubbandProcessGetSize_32f(b.order, b.window, &bankSize, &setupSize, &workSize);
    if (s < 0) return vokErrInternal;
    s = fixed ? voksSubbandControllerGetSize_EC_16s(nb, b.decimation, segs, c.sampleRate, &ctlSize)
              : voksSubbandControllerGetSize_EC_32f(nb, b.decimation, segs, c.sampleRate, &ctlSize);
    if (s < 0) return vokErrInternal;
    unsigned char* banks[3];
    for (auto& bank : banks) bank = arena.take<unsigned char>(bankSize);
    unsigned char* ctl = arena.take<unsigned char>(ctlSize);
    Vok8u* work = arena.take<Vok8u>(workSize);
    Vok8u* setup = setupSize > 0 ? arena.take<Vok8u>(setupSize) : nullptr;
    double* window = arena.take<double>(b.window);
    float* choiceA = arena.take<float>(nb);
    float* choiceF = arena.take<float>(nb);
    if (e) {
      e->subbands = nb, e->decimation = b.decimation, e->length = segs, e->latency = b.window - b.decimation;
      e->work = work, e->choiceA = choiceA, e->choiceF = choiceF;
      e->talkSmoothing = static_cast<float>(std::exp(-b.decimation / (kTalkSeconds * c.sampleRate)));
      prototype(b, window);
    }
    if (fixed) {
      Vok32sc* frames = arena.take<Vok32sc>(std::size_t(3 * segs + 7) * nb);
      Vok32sc** ptrs = arena.take<Vok32sc*>(3 * segs);
      Vok32s* pairs = arena.take<Vok32s>(2 * nb);
      int16_t* q13 = arena.take<int16_t>(b.window);
      if (e) {
        for (int i = 0; i < 3 * segs; ++i) ptrs[i] = frames + std::size_t(i) * nb;
        e->historyS = ptrs, e->coefAS = ptrs + segs, e->coefFS = ptrs + 2 * segs;
        Vok32sc* more = frames + std::size_t(3 * segs) * nb;
        e->yS = more, e->yaS = more + nb, e->yfS = more + 2 * nb, e->eaS = more + 3 * nb, e->efS = more + 4 * nb;
        e->outS = more + 5 * nb;
        e->pairsSub = pairs;
        for (int k = 0; k < b.window; ++k) q13[k] = sat16(window[k] * 8192);
        SubbandProcessState_16s** st[3] = {&e->refBankS, &e->micBankS, &e->synBankS};
        for (int i = 0; i < 3; ++i) {
          *st[i] = reinterpret_cast<SubbandProcessState_16s*>(banks[i]);
          if (voksSubbandProcessInit_16s(*st[i], b.order, b.decimation, b.window, q13, setup) < 0) return vokErrInternal;
        }
        e->subCtlS = reinterpret_cast<SubbandControllerState_16s*>(ctl);
        if (voksSubbandControllerInit_EC_16s(e->subCtlS, nb, b.decimation, segs, c.sampleRate) < 0) return vokErrInternal;
      }
      Vok32sc* saved = arena.take<Vok32sc>(std::size_t(2 * segs) * nb);
      int16_t* sub16 = arena.take<int16_t>(b.decimation);
      if (e) e->savedS = saved, e->subOut16 = sub16;
    } else {
      Vok32fc* frames = arena.take<Vok32fc>(std::size_t(3 * segs + 7) * nb);
      Vok32fc** ptrs = arena.take<Vok32fc*>(3 * segs);
      Vok64f* steps = arena.take<Vok64f>(nb);
      float* w = arena.take<float>(b.window);
      if (e) {
        for (int i = 0; i < 3 * segs; ++i) ptrs[i] = frames + std::size_t(i) * nb;
        e->historyF = ptrs, e->coefAF = ptrs + segs, e->coefFF = ptrs + 2 * segs;
        Vok32fc* more = frames + std::size_t(3 * segs) * nb;
        e->yF = more, e->yaF = more + nb, e->yfF = more + 2 * nb, e->eaF = more + 3 * nb, e->efF = more + 4 * nb;
        e->outF = more + 5 * nb;
        e->stepsSub = steps;
        for (int k = 0; k < b.window; ++k) w[k] = static_cast<float>(window[k]);
        SubbandProcessState_32f** st[3] = {&e->refBankF, &e->micBankF, &e->synBankF};
        for (int i = 0; i < 3; ++i) {
          *st[i] = reinterpret_cast<SubbandProcessState_32f*>(banks[i]);
          if (voksSubbandProcessInit_32f(*st[i], b.order, b.decimation, b.window, w, setup) < 0) return vokErrInternal;
        }
        e->subCtlF = reinterpret_cast<SubbandControllerState_32f*>(ctl);
        if (voksSubbandControllerInit_EC_32f(e->subCtlF, nb, b.decimation, segs, c.sampleRate) < 0) return vokErrInternal;
      }
      Vok32fc* saved = arena.take<Vok32fc>(std::size_t(2 * segs) * nb);
      float* sub = arena.take<float>(3 * b.decimation);
      if (e) e->savedF = saved, e->subRef = sub, e->subMic = sub + b.decimation, e->subOut = sub + 2 * b.decimation;
    }
  }
  if (out) *out = e;
  return vokOk;
}

// Save and restore events of one controller call: a save changes the
// backup filter, a restore the adaptive one.  Both are copied before the
// call (into `copy`, twice their length) and compared after it.  The
// status counts frames (10 ms) with a save, and frames with a restore.
template <class T>
class Events {
 public:
  Events(const T* adaptive, const T* backup, T* copy, std::size_t count)
      : adaptive_(adaptive), backup_(backup), copy_(copy), bytes_(count * sizeof(T)) {
    std::memcpy(copy_, adaptive_, bytes_);
    std::memcpy(reinterpret_cast<unsigned char*>(copy_) + bytes_, backup_, bytes_);
  }
  bool saved() const { return std::memcmp(reinterpret_cast<const unsigned char*>(copy_) + bytes_, backup_, bytes_) != 0; }
  bool restored() const { return std::memcmp(copy_, adaptive_, bytes_) != 0; }

 private:
  const T *adaptive_, *backup_;
  T* copy_;
  std::size_t bytes_;
};

// ---- Full band -----------------------------------------------------------------

VokResult fullbandFloat(VokpEcho* e, const int16_t* far, const int16_t* near, int16_t* out) {
  const int n = e->frame, taps = e->length;
  float* x = e->xf;
  std::memmove(x, x + n, sizeof(float) * taps);
  for (int i = 0; i < n; ++i) x[taps + i] = far[i], e->mic[i] = near[i];
  const float* cur = x + taps;
  VOKP_CALL(e, voksFullbandControllerUpdate_EC_32f(cur, e->mic, e->stepsF, e->fullCtlF));
  VOKP_CALL(e, voksNLMS_EC_32f(cur, e->mic, e->stepsF, e->errA, n, e->tapsA, taps, &e->carriedF));
  VOKP_CALL(e, voksFIR_EC_32f(cur, e->mic, e->errF, n, e->tapsF, taps));
  float gain = 1.0f;
  Events ev(e->tapsA, e->tapsF, e->tapsSaved, taps);
  VOKP_CALL(e, voksFullbandController_EC_32f(e->errA, e->errF, e->tapsA, e->tapsF, &gain, e->fullCtlF));
  e->saves += ev.saved();
  e->restores += ev.restored();
  double pa = 0, pf = 0;
  for (int i = 0; i < n; ++i) pa += double(e->errA[i]) * e->errA[i], pf += double(e->errF[i]) * e->errF[i];
  e->powerA = e->choiceSmoothing * e->powerA + (1 - e->choiceSmoothing) * float(pa);
  e->powerF = e->choiceSmoothing * e->powerF + (1 - e->choiceSmoothing) * float(pf);
  const float* err = e->powerA <= e->powerF ? e->errA : e->errF;
  e->gain = gain;
  const float g = e->config.suppress ? std::max(gain, kSuppressFloor) : 1.0f;
  for (int i = 0; i < n; ++i) out[i] = sat16(double(err[i]) * g);
  return vokOk;
}

}  // namespace

namespace {

VokResult fullbandFixed(VokpEcho* e, const int16_t* far, const int16_t* near, int16_t* out) {
  const int n = e->frame, taps = e->length;
  int16_t* x = e->xs;
  std::memmove(x, x + n, sizeof(int16_t) * taps);
  std::memcpy(x + taps, far, sizeof(int16_t) * n);
  const int16_t* cur = x + taps;
  VOKP_CALL(e, voksFullbandControllerUpdate_EC_16s(cur, near, e->stepsS, e->fullCtlS));
  VOKP_CALL(e, voksNLMS_EC_16s(cur, near, e->stepsS, e->errAs, n, e->tapsAs, taps, &e->carriedS));
  VOKP_CALL(e, voksFIR_EC_16s(cur, near, e->errFs, n, e->tapsFs, taps));
  Vok16s gain = 32767;
  Events ev(e->tapsAs, e->tapsFs, e->tapsSaveds, taps);
  VOKP_CALL(e, voksFullbandController_EC_16s(e->errAs, e->errFs, e->tapsAs, e->tapsFs, &gain, e->fullCtlS));
  e->saves += ev.saved();
  e->restores += ev.restored();
  double pa = 0, pf = 0;
  for (int i = 0; i < n; ++i) pa += double(e->errAs[i]) * e->errAs[i], pf += double(e->errFs[i]) * e->errFs[i];
  e->powerA = e->choiceSmoothing * e->powerA + (1 - e->choiceSmoothing) * float(pa);
  e->powerF = e->choiceSmoothing * e->powerF + (1 - e->choiceSmoothing) * float(pf);
  const int16_t* err = e->powerA <= e->powerF ? e->errAs : e->errFs;
  e->gain = gain / 32767.0f;
  if (!e->config.suppress) {
    std::memcpy(out, err, sizeof(int16_t) * n);
  } else {
    const float g = std::max(e->gain, kSuppressFloor);
    for (int i = 0; i < n; ++i) out[i] = sat16(double(err[i]) * g);
  }
  return vokOk;
}

// ---- Subband -------------------------------------------------------------------

template <class C>
double power(const C* v, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += double(v[i].re) * v[i].re + double(v[i].im) * v[i].im;
  return s;
}

// True while the controller's decisions pause for double talk.
template <class C>
bool doubleTalk(VokpEcho* e, const C* echoEstimate, const C* ea, const C* ef) {
  const float a = e->talkSmoothing, n = static_cast<float>(e->subbands);
  e->talkEcho = a * e->talkEcho + (1 - a) * float(power(echoEstimate, e->subbands) / n);
  e->talkA = a * e->talkA + (1 - a) * float(power(ea, e->subbands) / n);
  e->talkF = a * e->talkF + (1 - a) * float(power(ef, e->subbands) / n);
  if (e->talkF > kTalkErrorShare * e->talkEcho && !(e->talkA < kTalkConverging * e->talkF))
    e->talkHold = static_cast<int>(kTalkHoldSeconds * e->config.sampleRate);
  else
    e->talkHold = std::max(0, e->talkHold - e->decimation);
  return e->talkHold > 0;
}

// The output subband by subband: the error of the filter with the lower
// smoothed power, the backup filter's during double talk (when the adaptive
// filter, fed the near end, cancels part of it rather than the echo).
template <class C>
void choose(VokpEcho* e, const C* ea, const C* ef, bool talk, C* out) {
  for (int i = 0; i < e->subbands; ++i) {
    const double pa = double(ea[i].re) * ea[i].re + double(ea[i].im) * ea[i].im;
    const double pf = double(ef[i].re) * ef[i].re + double(ef[i].im) * ef[i].im;
    e->choiceA[i] = e->choiceSmoothing * e->choiceA[i] + (1 - e->choiceSmoothing) * float(pa);
    e->choiceF[i] = e->choiceSmoothing * e->choiceF[i] + (1 - e->choiceSmoothing) * float(pf);
    out[i] = !talk && e->choiceA[i] <= e->choiceF[i] ? ea[i] : ef[i];
  }
}

VokResult subbandFloat(VokpEcho* e, const int16_t* far, const int16_t* near, int16_t* out) {
  const int r = e->decimation, nb = e->subbands, segs = e->length;
  bool saved = false, restored = false;
  for (int at = 0; at < e->frame; at += r) {
    for (int i = 0; i < r; ++i) e->subRef[i] = far[at + i], e->subMic[i] = near[at + i];
    Vok32fc** history = e->historyF;
    std::rotate(history, history + segs - 1, history + segs);  // the oldest frame's place takes the newest
    VOKP_CALL(e, voksSubbandAnalysis_32f32fc(e->subRef, history[0], e->refBankF, e->work));
    VOKP_CALL(e, voksSubbandAnalysis_32f32fc(e->subMic, e->yF, e->micBankF, e->work));
    VOKP_CALL(e, voksSubbandControllerUpdate_EC_32f(e->subRef, e->subMic, history, nullptr, e->stepsSub, e->subCtlF));
    VOKP_CALL(e, voksFIRSubband_EC_32fc(history, e->coefAF, e->yaF, segs, nb));
    VOKP_CALL(e, voksFIRSubband_EC_32fc(history, e->coefFF, e->yfF, segs, nb));
    for (int i = 0; i < nb; ++i) {
      e->eaF[i] = {e->yF[i].re - e->yaF[i].re, e->yF[i].im - e->yaF[i].im};
      e->efF[i] = {e->yF[i].re - e->yfF[i].re, e->yF[i].im - e->yfF[i].im};
    }
    VOKP_CALL(e, voksFIRSubbandCoeffUpdate_EC_32fc_I(e->stepsSub, history, e->eaF, e->coefAF, segs, nb));
    Vok32f gain = e->gain;
    const bool talk = doubleTalk(e, e->yfF, e->eaF, e->efF);
    if (!talk) {
      Events ev(e->coefAF[0], e->coefFF[0], e->savedF, std::size_t(segs) * nb);
      VOKP_CALL(e, voksSubbandController_EC_32f(e->eaF, e->efF, e->coefAF, e->coefFF, &gain, e->subCtlF));
      saved = saved || ev.saved();
      restored = restored || ev.restored();
    }
    choose(e, e->eaF, e->efF, talk, e->outF);
    VOKP_CALL(e, voksSubbandSynthesis_32fc32f(e->outF, e->subOut, e->synBankF, e->work));
    e->gain = gain;
    const float g = e->config.suppress ? std::max(gain, kSuppressFloor) : 1.0f;
    for (int i = 0; i < r; ++i) out[at + i] = sat16(double(e->subOut[i]) * g);
  }
  e->saves += saved;
  e->restores += restored;
  return vokOk;
}

VokResult subbandFixed(VokpEcho* e, const int16_t* far, const int16_t* near, int16_t* out) {
  const int r = e->decimation, nb = e->subbands, segs = e->length;
  bool saved = false, restored = false;
  for (int at = 0; at < e->frame; at += r) {
    Vok32sc** history = e->historyS;
    std::rotate(history, history + segs - 1, history + segs);
    VOKP_CALL(e, voksSubbandAnalysis_16s32sc_Sfs(far + at, history[0], e->refBankS, 0, e->work));
    VOKP_CALL(e, voksSubbandAnalysis_16s32sc_Sfs(near + at, e->yS, e->micBankS, 0, e->work));
    VOKP_CALL(e, voksSubbandControllerUpdate_EC_16s(far + at, near + at, history, nullptr, e->pairsSub, e->subCtlS));
    VOKP_CALL(e, voksFIRSubband_EC_32sc_Sfs(history, e->coefAS, e->yaS, segs, nb, kCoefFraction));
    VOKP_CALL(e, voksFIRSubband_EC_32sc_Sfs(history, e->coefFS, e->yfS, segs, nb, kCoefFraction));
    for (int i = 0; i < nb; ++i) {
      e->eaS[i] = {sat32(int64_t(e->yS[i].re) - e->yaS[i].re), sat32(int64_t(e->yS[i].im) - e->yaS[i].im)};
      e->efS[i] = {sat32(int64_t(e->yS[i].re) - e->yfS[i].re), sat32(int64_t(e->yS[i].im) - e->yfS[i].im)};
    }
    VOKP_CALL(e, voksFIRSubbandCoeffUpdate_EC_32sc_I(e->pairsSub, history, e->eaS, e->coefAS, segs, nb, kCoefFraction));
    Vok16s gain = static_cast<Vok16s>(std::lrint(e->gain * 32767));
    const bool talk = doubleTalk(e, e->yfS, e->eaS, e->efS);
    if (!talk) {
      Events ev(e->coefAS[0], e->coefFS[0], e->savedS, std::size_t(segs) * nb);
      VOKP_CALL(e, voksSubbandController_EC_16s(e->eaS, e->efS, e->coefAS, e->coefFS, &gain, e->subCtlS));
      saved = saved || ev.saved();
      restored = restored || ev.restored();
    }
    choose(e, e->eaS, e->efS, talk, e->outS);
    VOKP_CALL(e, voksSubbandSynthesis_32sc16s_Sfs(e->outS, e->subOut16, e->synBankS, 0, e->work));
    e->gain = gain / 32767.0f;
    const float g = e->config.suppress ? std::max(e->gain, kSuppressFloor) : 1.0f;
    for (int i = 0; i < r; ++i) out[at + i] = e->config.suppress ? sat16(double(e->subOut16[i]) * g) : e->subOut16[i];
  }
  e->saves += saved;
  e->restores += restored;
  return vokOk;
}

VokResult checkConfig(const VokpEchoConfig& c) {
  if (c.sampleRate != 8000 && c.sampleRate != 16000) return vokErrRange;
  if ((c.bank != vokpBankFullband && c.bank != vokpBankSubband) || (c.fixedPoint != 0 && c.fixedPoint != 1) ||
      (c.suppress != 0 && c.suppress != 1))
    return vokErrBadArg;
  if (c.tailMs < 1 || c.tailMs > kMaxTailMs || c.delayMs < 0 || c.delayMs > kMaxDelayMs) return vokErrRange;
  return vokOk;
}

}  // namespace

extern "C" {

VokResult vokpEchoConfigDefault(VokpEchoConfig* config, int sampleRate) {
  if (!config) return vokErrNullPtr;
  if (sampleRate != 8000 && sampleRate != 16000) return vokErrRange;
  *config = VokpEchoConfig{sampleRate, vokpBankFullband, 0, 64, 0, 0};
  return vokOk;
}

VokResult vokpEchoGetSize(const VokpEchoConfig* config, int* size) {
  if (!config || !size) return vokErrNullPtr;
  if (VokResult s = checkConfig(*config); s != vokOk) return s;
  Arena sizing;
  if (VokResult s = layout(*config, sizing, nullptr); s != vokOk) return s;
  const int bytes = vokp::sizeOf(sizing.used());
  if (bytes < 0) return vokErrSize;
  *size = bytes;
  return vokOk;
}

VokResult vokpEchoInit(const VokpEchoConfig* config, void* mem, int memSize, VokpEcho** echo) {
  if (!config || !mem || !echo) return vokErrNullPtr;
  if (VokResult s = checkConfig(*config); s != vokOk) return s;
  int need = 0;
  if (VokResult s = vokpEchoGetSize(config, &need); s != vokOk) return s;
  if (memSize < need) return vokErrSize;
  Arena place(mem);
  VokpEcho* e = nullptr;
  if (layout(*config, place, &e) != vokOk) return vokErrInternal;
  e->tag = vokp::kTagEcho;
  *echo = e;
  return vokOk;
}

VokResult vokpEchoProcess(VokpEcho* echo, const Vok16s* far, const Vok16s* near, Vok16s* out) {
  if (!echo || !far || !near || !out) return vokErrNullPtr;
  VokpEcho* e = vokp::tagged(echo, vokp::kTagEcho);
  if (!e) return echo->tag == vokp::kTagBroken ? vokErrInternal : vokErrContextMatch;
  const int n = e->frame;
  std::memcpy(e->delayLine + e->delay, far, sizeof(int16_t) * n);
  const int16_t* delayed = e->delayLine;
  VokResult s;
  if (e->config.bank == vokpBankFullband)
    s = e->config.fixedPoint ? fullbandFixed(e, delayed, near, out) : fullbandFloat(e, delayed, near, out);
  else
    s = e->config.fixedPoint ? subbandFixed(e, delayed, near, out) : subbandFloat(e, delayed, near, out);
  if (s != vokOk) return s;
  std::memmove(e->delayLine, e->delayLine + n, sizeof(int16_t) * e->delay);
  ++e->frames;
  return vokOk;
}

VokResult vokpEchoLatency(const VokpEcho* echo, int* samples) {
  if (!echo || !samples) return vokErrNullPtr;
  if (echo->tag != vokp::kTagEcho) return echo->tag == vokp::kTagBroken ? vokErrInternal : vokErrContextMatch;
  *samples = echo->latency;
  return vokOk;
}

VokResult vokpEchoGetStatus(const VokpEcho* echo, VokpEchoStatus* status) {
  if (!echo || !status) return vokErrNullPtr;
  if (echo->tag != vokp::kTagEcho) return echo->tag == vokp::kTagBroken ? vokErrInternal : vokErrContextMatch;
  *status = VokpEchoStatus{echo->frames, echo->saves, echo->restores, echo->gain, echo->length};
  return vokOk;
}

}  // extern "C"
