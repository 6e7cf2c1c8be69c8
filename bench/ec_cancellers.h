// Echo cancellers assembled from the exports, for the speed benchmark and
// the ERLE report against speexdsp: the float subband canceller of the
// scenario tests (built-in windows, microphone subbands delayed three
// frames, filters from the neighbouring reference subbands) and the float
// full-band canceller (controller steps, NLMS, backup FIR and decision).
// Each runs one frame of reference and microphone samples and returns the
// output frame.
#ifndef VOKSC_BENCH_EC_CANCELLERS_H
#define VOKSC_BENCH_EC_CANCELLERS_H

#include <algorithm>
#include <vector>

#include "voksc.h"

namespace vbench {

class SubbandCanceller {
 public:
  static constexpr int kLookahead = 3;
  // 8 kHz: order 5, frame 24, window 128; 16 kHz: order 6, frame 44, window 256.
  explicit SubbandCanceller(int rate, int segments)
      : rate_(rate), order_(rate == 8000 ? 5 : 6), frame_(rate == 8000 ? 24 : 44), window_(rate == 8000 ? 128 : 256),
        segs_(segments), nb_((1 << order_) / 2 + 1), ring_(kLookahead + 1, std::vector<Vok32fc>(nb_, Vok32fc{0, 0})) {
    int st, su, wk;
    voksSubbandProcessGetSize_32f(order_, window_, &st, &su, &wk);
    for (auto* b : {&refBank_, &micBank_, &synBank_}) {
      b->resize(st);
      voksSubbandProcessInit_32f(bank(*b), order_, frame_, window_, nullptr, nullptr);
    }
    work_.resize(wk);
    int cs;
    voksSubbandControllerGetSize_EC_32f(nb_, frame_, segs_, rate_, &cs);
    ctl_.resize(cs);
    voksSubbandControllerInit_EC_32f(ctl(), nb_, frame_, segs_, rate_);
    const std::vector<std::vector<Vok32fc>> zero(segs_, std::vector<Vok32fc>(nb_, Vok32fc{0, 0}));
    frames_ = adaptive_ = fixed_ = up_ = down_ = zero;
    for (int s = 0; s < segs_; ++s) {
      history_.push_back(frames_[s].data());
      a_.push_back(adaptive_[s].data());
      f_.push_back(fixed_[s].data());
      up_p_.push_back(up_[s].data());
      down_p_.push_back(down_[s].data() + 1);
      above_.push_back(nullptr);
    }
    y_.resize(nb_);
    ya_ = yf_ = yu_ = yd_ = ea_ = ef_ = y_;
    own_.resize(nb_);
    steps_.resize(nb_);
  }
  int frame() const { return frame_; }
  int latency() const { return window_ - frame_ + kLookahead * frame_; }

  void process(const float* ref, const float* mic, float* out) {
    std::rotate(history_.rbegin(), history_.rbegin() + 1, history_.rend());
    voksSubbandAnalysis_32f32fc(ref, history_[0], bank(refBank_), work_.data());
    voksSubbandAnalysis_32f32fc(mic, ring_[pos_].data(), bank(micBank_), work_.data());
    pos_ = (pos_ + 1) % ring_.size();
    const std::vector<Vok32fc>& y = ring_[pos_];  // kLookahead frames ago
    for (int s = 0; s < segs_; ++s) above_[s] = history_[s] + 1;
    voksSubbandControllerUpdate_EC_32f(ref, mic, history_.data(), nullptr, own_.data(), ctl());
    for (int i = 0; i < nb_; ++i) {
      double inverse = 0;
      for (int j = std::max(i - 1, 0); j <= std::min(i + 1, nb_ - 1); ++j) inverse += 1 / own_[j];
      steps_[i] = 1 / inverse;
    }
    voksFIRSubband_EC_32fc(history_.data(), a_.data(), ya_.data(), segs_, nb_);
    voksFIRSubband_EC_32fc(history_.data(), f_.data(), yf_.data(), segs_, nb_);
    voksFIRSubband_EC_32fc(above_.data(), up_p_.data(), yu_.data(), segs_, nb_ - 1);
    yd_[0] = Vok32fc{0, 0};
    voksFIRSubband_EC_32fc(history_.data(), down_p_.data(), yd_.data() + 1, segs_, nb_ - 1);
    yu_[nb_ - 1] = Vok32fc{0, 0};
    for (int i = 0; i < nb_; ++i) {
      const float xr = yu_[i].re + yd_[i].re, xi = yu_[i].im + yd_[i].im;
      ea_[i] = {y[i].re - ya_[i].re - xr, y[i].im - ya_[i].im - xi};
      ef_[i] = {y[i].re - yf_[i].re - xr, y[i].im - yf_[i].im - xi};
    }
    voksFIRSubbandCoeffUpdate_EC_32fc_I(steps_.data(), history_.data(), ea_.data(), a_.data(), segs_, nb_);
    voksFIRSubbandCoeffUpdate_EC_32fc_I(steps_.data(), above_.data(), ea_.data(), up_p_.data(), segs_, nb_ - 1);
    voksFIRSubbandCoeffUpdate_EC_32fc_I(steps_.data() + 1, history_.data(), ea_.data() + 1, down_p_.data(), segs_, nb_ - 1);
    Vok32f gain;
    voksSubbandController_EC_32f(ea_.data(), ef_.data(), a_.data(), f_.data(), &gain, ctl());
    voksSubbandSynthesis_32fc32f(ea_.data(), out, bank(synBank_), work_.data());
  }

 private:
  static SubbandProcessState_32f* bank(std::vector<unsigned char>& b) { return reinterpret_cast<SubbandProcessState_32f*>(b.data()); }
  SubbandControllerState_32f* ctl() { return reinterpret_cast<SubbandControllerState_32f*>(ctl_.data()); }
  int rate_, order_, frame_, window_, segs_, nb_;
  std::vector<std::vector<Vok32fc>> ring_;
  std::size_t pos_ = 0;
  std::vector<unsigned char> refBank_, micBank_, synBank_, work_, ctl_;
  std::vector<std::vector<Vok32fc>> frames_, adaptive_, fixed_, up_, down_;
  std::vector<Vok32fc*> history_, a_, f_, up_p_, down_p_;
  std::vector<const Vok32fc*> above_;
  std::vector<Vok32fc> y_, ya_, yf_, yu_, yd_, ea_, ef_;
  std::vector<Vok64f> own_, steps_;
};

// Full-band canceller; the reference keeps tapLen samples of history in
// front of the current frame.
class FullbandCanceller {
 public:
  FullbandCanceller(int rate, int frame, int taps)
      : frame_(frame), taps_(taps), x_(taps + frame, 0.0f), ha_(taps, 0.0f), hf_(taps, 0.0f), steps_(frame), ef_(frame) {
    int size;
    voksFullbandControllerGetSize_EC_32f(frame, taps, rate, &size);
    mem_.resize(size + 16);
    voksFullbandControllerInit_EC_32f(ctl(), frame, taps, rate);
  }
  int frame() const { return frame_; }
  void process(const float* ref, const float* mic, float* out) {
    std::copy(x_.begin() + frame_, x_.end(), x_.begin());
    std::copy(ref, ref + frame_, x_.begin() + taps_);
    const float* xr = &x_[taps_];
    voksFullbandControllerUpdate_EC_32f(xr, mic, steps_.data(), ctl());
    voksNLMS_EC_32f(xr, mic, steps_.data(), out, frame_, ha_.data(), taps_, &carried_);
    voksFIR_EC_32f(xr, mic, ef_.data(), frame_, hf_.data(), taps_);
    float gain;
    voksFullbandController_EC_32f(out, ef_.data(), ha_.data(), hf_.data(), &gain, ctl());
  }

 private:
  FullbandControllerState_32f* ctl() { return reinterpret_cast<FullbandControllerState_32f*>(mem_.data()); }
  int frame_, taps_;
  std::vector<unsigned char> mem_;
  std::vector<float> x_, ha_, hf_, steps_, ef_;
  float carried_ = 0.0f;
};

}  // namespace vbench

#endif  // VOKSC_BENCH_EC_CANCELLERS_H
