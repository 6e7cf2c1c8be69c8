// G.168-style scenarios on subband echo cancellers assembled from the
// exports alone: convergence on white noise, a path change, the
// narrow-band tones of test 6, and double talk with the backup filter.
//
// The banks run the built-in windows at their frame lengths: order 5,
// frame 24, window 128 at 8 kHz and order 6, frame 44, window 256 at
// 16 kHz (oversampling 4/3 and 16/11).  At these frame lengths two things
// bound a canceller that filters each subband on its own to about 20-27 dB:
// a subband echo needs filter taps before the newest reference frame (the
// bank's window spreads a delay over frames on both sides), and the
// reference frequencies that fold into a subband differ from those of the
// echo there.  The assembly therefore delays the microphone subbands by
// kLookahead frames (about half a window: taps "before" the echo) and, in
// the float canceller, adds filters from the two neighbouring reference
// subbands into each subband, which model the folded part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "echo_scenario.h"  // vokproc/scenario
#include "voksc.h"

namespace {

using namespace vokp::g168;

struct BankConfig {
  int rate, order, frame, window, segments;
};
const BankConfig kNarrow{8000, 5, 24, 128, 12};
const BankConfig kWide{16000, 6, 44, 256, 14};
constexpr int kLookahead = 3;  // microphone delay in frames

// Samples from the microphone to the canceller's output.
std::size_t latency(const BankConfig& c) { return c.window - c.frame + kLookahead * c.frame; }

// The microphone subband frame of kLookahead frames ago.
template <class T>
class FrameDelay {
 public:
  explicit FrameDelay(int len) : ring_(kLookahead + 1, std::vector<T>(len, T{0, 0})) {}
  // Stores the newest frame and returns the delayed one.
  const std::vector<T>& push(const std::vector<T>& frame) {
    ring_[pos_] = frame;
    pos_ = (pos_ + 1) % ring_.size();
    return ring_[pos_];
  }

 private:
  std::vector<std::vector<T>> ring_;
  std::size_t pos_ = 0;
};

// Float canceller: analysis of reference and microphone, adaptive and fixed
// (backup) subband filters, adaptive filters from the neighbouring
// reference subbands (up: subband k+1 into k, down: k-1 into k), the NLMS
// update with the controller's steps and the float controller's backup
// decision over the subbands' own filters.
class FloatCanceller {
 public:
  explicit FloatCanceller(const BankConfig& c) : c_(c), nb_((1 << c.order) / 2 + 1), micDelay_(nb_) {
    int st, su, wk;
    voksSubbandProcessGetSize_32f(c.order, c.window, &st, &su, &wk);
    for (auto* b : {&refBank_, &micBank_, &synBank_}) {
      b->resize(st);
      EXPECT_EQ(vokOk, voksSubbandProcessInit_32f(state(*b), c.order, c.frame, c.window, nullptr, nullptr));
    }
    work_.resize(wk);
    int cs;
    voksSubbandControllerGetSize_EC_32f(nb_, c.frame, c.segments, c.rate, &cs);
    ctl_.resize(cs);
    EXPECT_EQ(vokOk, voksSubbandControllerInit_EC_32f(ctlState(), nb_, c.frame, c.segments, c.rate));
    const std::vector<std::vector<Vok32fc>> zero(c.segments, std::vector<Vok32fc>(nb_, Vok32fc{0, 0}));
    frames_ = adaptive_ = fixed_ = up_ = down_ = zero;
    for (int s = 0; s < c.segments; ++s) {
      history_.push_back(frames_[s].data());
      a_.push_back(adaptive_[s].data());
      f_.push_back(fixed_[s].data());
      up_p_.push_back(up_[s].data());
      down_p_.push_back(down_[s].data() + 1);  // subband k's coefficient at index k
    }
  }

  // One frame: returns R output samples (the adaptive filter's error).
  std::vector<float> frame(const float* ref, const float* mic) {
    std::rotate(history_.rbegin(), history_.rbegin() + 1, history_.rend());  // oldest becomes newest
    EXPECT_EQ(vokOk, voksSubbandAnalysis_32f32fc(ref, history_[0], state(refBank_), work_.data()));
    std::vector<Vok32fc> y(nb_), ya(nb_), yf(nb_), yu(nb_), yd(nb_), ea(nb_), ef(nb_);
    EXPECT_EQ(vokOk, voksSubbandAnalysis_32f32fc(mic, y.data(), state(micBank_), work_.data()));
    y = micDelay_.push(y);
    std::vector<const Vok32fc*> above;  // history seen one subband up
    for (const Vok32fc* h : history_) above.push_back(h + 1);
    // The controller's step of subband k is mu / C[k] (C the reference
    // power over the filter span); the filters of subband k read subbands
    // k-1..k+1, so their joint step is mu / (C[k-1] + C[k] + C[k+1]).
    std::vector<Vok64f> own(nb_), steps(nb_);
    EXPECT_EQ(vokOk, voksSubbandControllerUpdate_EC_32f(ref, mic, history_.data(), nullptr, own.data(), ctlState()));
    for (int i = 0; i < nb_; ++i) {
      double inverse = 0;
      for (int j = std::max(i - 1, 0); j <= std::min(i + 1, nb_ - 1); ++j) inverse += 1 / own[j];
      steps[i] = 1 / inverse;
    }
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32fc(history_.data(), a_.data(), ya.data(), c_.segments, nb_));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32fc(history_.data(), f_.data(), yf.data(), c_.segments, nb_));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32fc(above.data(), up_p_.data(), yu.data(), c_.segments, nb_ - 1));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32fc(history_.data(), down_p_.data(), yd.data() + 1, c_.segments, nb_ - 1));
    for (int i = 0; i < nb_; ++i) {
      const Vok32fc x{yu[i].re + yd[i].re, yu[i].im + yd[i].im};
      ea[i] = {y[i].re - ya[i].re - x.re, y[i].im - ya[i].im - x.im};
      ef[i] = {y[i].re - yf[i].re - x.re, y[i].im - yf[i].im - x.im};
    }
    EXPECT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32fc_I(steps.data(), history_.data(), ea.data(), a_.data(), c_.segments, nb_));
    EXPECT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32fc_I(steps.data(), above.data(), ea.data(), up_p_.data(), c_.segments, nb_ - 1));
    EXPECT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32fc_I(steps.data() + 1, history_.data(), ea.data() + 1, down_p_.data(),
                                                         c_.segments, nb_ - 1));
    Vok32f gain;
    EXPECT_EQ(vokOk, voksSubbandController_EC_32f(ea.data(), ef.data(), a_.data(), f_.data(), &gain, ctlState()));
    std::vector<float> out(c_.frame);
    EXPECT_EQ(vokOk, voksSubbandSynthesis_32fc32f(ea.data(), out.data(), state(synBank_), work_.data()));
    return out;
  }

 private:
  static SubbandProcessState_32f* state(std::vector<unsigned char>& b) { return reinterpret_cast<SubbandProcessState_32f*>(b.data()); }
  SubbandControllerState_32f* ctlState() { return reinterpret_cast<SubbandControllerState_32f*>(ctl_.data()); }
  BankConfig c_;
  int nb_;
  FrameDelay<Vok32fc> micDelay_;
  std::vector<unsigned char> refBank_, micBank_, synBank_, work_, ctl_;
  std::vector<std::vector<Vok32fc>> frames_, adaptive_, fixed_, up_, down_;
  std::vector<Vok32fc*> history_, a_, f_, up_p_, down_p_;
};

// Fixed-point canceller with the double-talk controller: 16-bit banks
// (built-in Q13 windows), 32-bit subbands, coefficients with 20 fractional
// bits, steps from the double-talk update and the backup decision.  The
// decision weighs the adaptive filter's error level against the far end
// (companion: the reference level times 64, so its "strong" mark is an
// error above half the reference level, which an echo path of 6 dB loss or
// more cannot produce alone), runs every frame (force), and a restore it
// decides is the double-talk flag of the next update, which then slows the
// adaptation.  The echo left by the adaptive and by the backup filter is
// measured by further banks: the echo alone analysed, minus each filter's
// estimate, synthesised.
class FixedDtCanceller {
 public:
  static constexpr int kSf = 20;
  explicit FixedDtCanceller(const BankConfig& c)
      : c_(c), nb_((1 << c.order) / 2 + 1), micDelay_(nb_), echoDelay_(nb_) {
    int st, su, wk;
    voksSubbandProcessGetSize_16s(c.order, c.window, &st, &su, &wk);
    for (auto* b : {&refBank_, &micBank_, &echoBank_, &resBank_, &backupBank_}) {
      b->resize(st);
      EXPECT_EQ(vokOk, voksSubbandProcessInit_16s(state(*b), c.order, c.frame, c.window, nullptr, nullptr));
    }
    work_.resize(wk);
    int cs;
    voksSubbandControllerDTGetSize_EC_16s(nb_, c.frame, c.segments, c.rate, &cs);
    ctl_.resize(cs);
    EXPECT_EQ(vokOk, voksSubbandControllerDTInit_EC_16s(ctlState(), nb_, c.frame, c.segments, c.rate));
    frames_.assign(c.segments, std::vector<Vok32sc>(nb_, Vok32sc{0, 0}));
    adaptive_ = fixed_ = frames_;
    for (int s = 0; s < c.segments; ++s) {
      history_.push_back(frames_[s].data());
      a_.push_back(adaptive_[s].data());
      f_.push_back(fixed_[s].data());
    }
  }

  // One frame; residual receives the echo the adaptive filter leaves,
  // backup the echo the backup filter leaves.
  void frame(const Vok16s* ref, const Vok16s* mic, const Vok16s* echo, Vok16s* residual, Vok16s* backup) {
    std::rotate(history_.rbegin(), history_.rbegin() + 1, history_.rend());
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(ref, history_[0], state(refBank_), 0, work_.data()));
    std::vector<Vok32sc> y(nb_), ye(nb_), ya(nb_), yf(nb_), ea(nb_), ef(nb_), ra(nb_), rf(nb_);
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(mic, y.data(), state(micBank_), 0, work_.data()));
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(echo, ye.data(), state(echoBank_), 0, work_.data()));
    y = micDelay_.push(y);
    ye = echoDelay_.push(ye);
    std::vector<Vok32s> steps(2 * nb_);
    const Vok32s flag = result_ == 1;
    Vok64s refLevel, micLevel;
    EXPECT_EQ(vokOk, voksSubbandControllerDTUpdate_EC_16s(history_.data(), y.data(), steps.data(), &flag, &refLevel,
                                                          &micLevel, 0, ctlState()));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32sc_Sfs(history_.data(), a_.data(), ya.data(), c_.segments, nb_, kSf));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32sc_Sfs(history_.data(), f_.data(), yf.data(), c_.segments, nb_, kSf));
    int64_t errorLevel = 0;  // on the reference level's scale, |x|^2 2^-14
    for (int i = 0; i < nb_; ++i) {
      ea[i] = {y[i].re - ya[i].re, y[i].im - ya[i].im};
      ef[i] = {y[i].re - yf[i].re, y[i].im - yf[i].im};
      ra[i] = {ye[i].re - ya[i].re, ye[i].im - ya[i].im};
      rf[i] = {ye[i].re - yf[i].re, ye[i].im - yf[i].im};
      errorLevel += (int64_t{ea[i].re} * ea[i].re + int64_t{ea[i].im} * ea[i].im) >> 14;
    }
    EXPECT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32sc_I(steps.data(), history_.data(), ea.data(), a_.data(), c_.segments, nb_, kSf));
    Vok64s companion = refLevel << 6;
    EXPECT_EQ(vokOk, voksSubbandControllerDT_EC_16s(ea.data(), ef.data(), a_.data(), f_.data(), &companion, &result_,
                                                    errorLevel, 1, 1, 0, ctlState()));
    saves_ += result_ == -1;
    restores_ += result_ == 1;
    EXPECT_EQ(vokOk, voksSubbandSynthesis_32sc16s_Sfs(ra.data(), residual, state(resBank_), 0, work_.data()));
    EXPECT_EQ(vokOk, voksSubbandSynthesis_32sc16s_Sfs(rf.data(), backup, state(backupBank_), 0, work_.data()));
  }
  int saves_ = 0, restores_ = 0;

 private:
  static SubbandProcessState_16s* state(std::vector<unsigned char>& b) { return reinterpret_cast<SubbandProcessState_16s*>(b.data()); }
  SubbandControllerDTState_16s* ctlState() { return reinterpret_cast<SubbandControllerDTState_16s*>(ctl_.data()); }
  BankConfig c_;
  int nb_;
  Vok32s result_ = 0;
  FrameDelay<Vok32sc> micDelay_, echoDelay_;
  std::vector<unsigned char> refBank_, micBank_, echoBank_, resBank_, backupBank_, work_, ctl_;
  std::vector<std::vector<Vok32sc>> frames_, adaptive_, fixed_;
  std::vector<Vok32sc*> history_, a_, f_;
};

std::vector<double> runFloat(const BankConfig& c, const std::vector<double>& x, const std::vector<double>& y) {
  FloatCanceller ec(c);
  std::vector<double> out;
  std::vector<float> xf(c.frame), yf(c.frame);
  for (std::size_t n = 0; n + c.frame <= x.size(); n += c.frame) {
    for (int i = 0; i < c.frame; ++i) {
      xf[i] = static_cast<float>(x[n + i]);
      yf[i] = static_cast<float>(y[n + i]);
    }
    for (float v : ec.frame(xf.data(), yf.data())) out.push_back(v);
  }
  return out;
}

Vok16s toWord(double v) { return static_cast<Vok16s>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

TEST(SubbandCancellerScenario, WhiteNoiseConvergesOnEveryPathAndRecoversFromAPathChange) {
  for (const BankConfig& c : {kNarrow, kWide}) {
    for (int model = 2; model <= 9; ++model) {
      SCOPED_TRACE(::testing::Message() << c.rate << " Hz, path D." << model);
      const auto h = echoPath(model, c.rate, 6.0);
      ASSERT_FALSE(h.empty());
      const auto h2 = echoPath(model == 9 ? 2 : model + 1, c.rate, 6.0);
      const std::size_t n = 6 * c.rate, change = 4 * c.rate;
      const auto x = whiteNoise(n, -20, model);
      const auto y = echoOf(x, h, h2, change);
      const auto out = runFloat(c, x, y);
      const auto track = erleTrack(y, out, latency(c), c.rate / 20);  // 50 ms blocks
      const double t20 = secondsToReach(track, 20, 0, 0.05), steady = meanDb(track, 70, 80);
      const double back = secondsToReach(track, 20, 81, 0.05);
      printf("%5d Hz D.%d: 20 dB after %.2f s, %.1f dB at 3.5-4 s, 20 dB %.2f s after the change\n", c.rate, model, t20, steady, back);
      EXPECT_GT(t20, 0);
      EXPECT_LE(t20, 1.0);
      EXPECT_GE(steady, 28.0);
      EXPECT_GT(back, 0);
      EXPECT_LE(back, 1.0);
    }
  }
}

TEST(SubbandCancellerScenario, NarrowBandTonesDoNotMakeItDiverge) {
  // Converged on noise (2 s), then each tone pair of G.168 test 6 for 0.25 s, then noise again.
  for (const BankConfig& c : {kNarrow, kWide}) {
    const auto h = echoPath(5, c.rate, 6.0);
    std::vector<double> x = whiteNoise(2 * c.rate, -20, 3);
    for (auto [f1, f2] : narrowBandTones()) {
      const auto t = tonePair(c.rate / 4, f1, f2, c.rate, -20);
      x.insert(x.end(), t.begin(), t.end());
    }
    const std::size_t back = x.size();
    const auto tail = whiteNoise(c.rate / 2, -20, 4);
    x.insert(x.end(), tail.begin(), tail.end());
    const auto y = echoOf(x, h);
    const auto out = runFloat(c, x, y);
    const auto track = erleTrack(y, out, latency(c), c.rate / 20);
    const std::size_t tones = 2 * 20, after = back / (c.rate / 20);
    const double worst = *std::min_element(track.begin() + tones, track.begin() + after);
    printf("%5d Hz tones: lowest ERLE %.1f dB, back on noise %.1f dB\n", c.rate, worst, meanDb(track, after + 1, after + 5));
    EXPECT_GE(worst, 10.0) << c.rate;
    EXPECT_GE(meanDb(track, after + 1, after + 5), 20.0) << c.rate;
  }
}

// Runs the fixed double-talk canceller over far end x, echo e and near end
// d; returns the ERLE tracks (50 ms blocks) of the adaptive and the backup
// filter.
struct DtTracks {
  std::vector<double> adaptive, backup;
  int saves;
  std::vector<std::size_t> restoredAt;  // sample index of each restore
};
DtTracks runFixed(const BankConfig& c, const std::vector<double>& x, const std::vector<double>& e,
                  const std::vector<double>& d) {
  FixedDtCanceller ec(c);
  std::vector<double> echo, residual, backup;
  std::vector<std::size_t> restoredAt;
  std::vector<Vok16s> xs(c.frame), ys(c.frame), es(c.frame), ra(c.frame), rf(c.frame);
  for (std::size_t k = 0; k + c.frame <= x.size(); k += c.frame) {
    for (int i = 0; i < c.frame; ++i) {
      xs[i] = toWord(x[k + i]);
      es[i] = toWord(e[k + i]);
      ys[i] = toWord(e[k + i] + d[k + i]);
      echo.push_back(es[i]);
    }
    const int restores = ec.restores_;
    ec.frame(xs.data(), ys.data(), es.data(), ra.data(), rf.data());
    if (ec.restores_ > restores) restoredAt.push_back(k);
    residual.insert(residual.end(), ra.begin(), ra.end());
    backup.insert(backup.end(), rf.begin(), rf.end());
  }
  return {erleTrack(echo, residual, latency(c), c.rate / 20), erleTrack(echo, backup, latency(c), c.rate / 20), ec.saves_,
          restoredAt};
}

TEST(SubbandCancellerScenario, QuietReferenceTakesTheSmallStep) {
  // 1 s of far end at -60 dBFS (below the controllers' power threshold)
  // under near-end noise at -20 dBFS, then 3 s of far end alone at
  // -20 dBFS: the small step must neither let the near end blow the filter
  // up nor hold back the convergence that follows.
  for (const BankConfig& c : {kNarrow, kWide}) {
    const std::size_t n = 4 * c.rate, quiet = c.rate;
    auto x = whiteNoise(n, -20, 7);
    for (std::size_t i = 0; i < quiet; ++i) x[i] *= 0.01;
    auto nearEnd = whiteNoise(n, -20, 8);
    std::fill(nearEnd.begin() + quiet, nearEnd.end(), 0.0);
    const auto track = runFixed(c, x, echoOf(x, echoPath(3, c.rate, 6.0)), nearEnd).adaptive;
    const double worstQuiet = *std::min_element(track.begin() + 2, track.begin() + 19);
    printf("%5d Hz quiet reference: lowest ERLE %.1f dB while quiet, %.1f dB at the end\n", c.rate, worstQuiet, meanDb(track, 70, 80));
    EXPECT_GE(worstQuiet, -1.0) << c.rate;
    EXPECT_GE(meanDb(track, 70, 80), 20.0) << c.rate;
  }
}

TEST(SubbandCancellerScenario, DoubleTalkKeepsTheBackupFilter) {
  // 3 s of far-end noise, then 2 s with near-end noise as loud as the far
  // end (G.168 test 3 style), then 1 s far end alone.  The controller finds
  // the double talk itself.
  for (const BankConfig& c : {kNarrow, kWide}) {
    const std::size_t n = 6 * c.rate, dtFrom = 3 * c.rate, dtTo = 5 * c.rate;
    const auto x = whiteNoise(n, -20, 5);
    auto nearEnd = whiteNoise(n, -20, 6);
    for (std::size_t i = 0; i < n; ++i)
      if (i < dtFrom || i >= dtTo) nearEnd[i] = 0;
    const DtTracks t = runFixed(c, x, echoOf(x, echoPath(4, c.rate, 6.0)), nearEnd);
    const double before = meanDb(t.adaptive, 50, 60), backupLow = *std::min_element(t.backup.begin() + 60, t.backup.begin() + 100);
    const double adaptiveLow = *std::min_element(t.adaptive.begin() + 60, t.adaptive.begin() + 100);
    const auto restoresIn = [&](std::size_t from, std::size_t to) {
      return std::count_if(t.restoredAt.begin(), t.restoredAt.end(), [&](std::size_t k) { return k >= from && k < to; });
    };
    // elsewhere: from the end of the first convergence (0.5 s) on, and from 0.1 s after the double talk
    const long outside = restoresIn(c.rate / 2, dtFrom) + restoresIn(dtTo + c.rate / 10, n), inside = restoresIn(dtFrom, dtTo);
    printf("%5d Hz double talk: %.1f dB before; during it the backup filter %.1f dB mean (%.1f lowest), the adaptive %.1f "
           "(%.1f lowest); %.1f dB after; %d saves; restores (double talk found) in %ld of %ld frames of double talk, "
           "%ld elsewhere\n",
           c.rate, before, meanDb(t.backup, 60, 100), backupLow, meanDb(t.adaptive, 60, 100), adaptiveLow,
           meanDb(t.adaptive, 110, 120), t.saves, inside, long((dtTo - dtFrom) / c.frame), outside);
    EXPECT_GE(inside * 10, long(8 * (dtTo - dtFrom) / c.frame)) << c.rate;  // at least 80 % of the frames
    EXPECT_EQ(outside, 0) << c.rate;
    EXPECT_GE(before, 20.0) << c.rate;
    EXPECT_GE(backupLow, 20.0) << c.rate;
    EXPECT_GE(meanDb(t.adaptive, 110, 120), 20.0) << c.rate;
  }
}

}  // namespace
