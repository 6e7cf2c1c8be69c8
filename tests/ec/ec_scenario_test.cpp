// G.168-style scenarios on a fixed-point subband echo canceller with the
// double-talk controller, assembled from the exports alone: a quiet
// reference under near-end noise, and double talk with the backup filter.
// (The float and plain fixed subband cancellers run the white-noise, path
// change, double-talk and tone scenarios through vokproc's canceller in the
// vokproc_g168 test.)
//
// The banks run the built-in windows at their frame lengths: order 5,
// frame 24, window 128 at 8 kHz and order 6, frame 44, window 256 at
// 16 kHz (oversampling 4/3 and 16/11).  A subband echo needs filter taps
// before the newest reference frame (the bank's window spreads a delay over
// frames on both sides), so the assembly delays the microphone subbands by
// kLookahead frames (about half a window: taps "before" the echo).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "echo_scenario.h"  // vokproc/scenario
#include "frames.h"
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
      : c_(c), nb_((1 << c.order) / 2 + 1), micDelay_(nb_), echoDelay_(nb_), history_(c.segments, nb_), a_(history_),
        f_(history_) {
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
  }

  // One frame; residual receives the echo the adaptive filter leaves,
  // backup the echo the backup filter leaves.
  void frame(const Vok16s* ref, const Vok16s* mic, const Vok16s* echo, Vok16s* residual, Vok16s* backup) {
    std::rotate(history_.p.rbegin(), history_.p.rbegin() + 1, history_.p.rend());
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(ref, history_.p[0], state(refBank_), 0, work_.data()));
    std::vector<Vok32sc> y(nb_), ye(nb_), ya(nb_), yf(nb_), ea(nb_), ef(nb_), ra(nb_), rf(nb_);
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(mic, y.data(), state(micBank_), 0, work_.data()));
    EXPECT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(echo, ye.data(), state(echoBank_), 0, work_.data()));
    y = micDelay_.push(y);
    ye = echoDelay_.push(ye);
    std::vector<Vok32s> steps(2 * nb_);
    const Vok32s flag = result_ == 1;
    Vok64s refLevel, micLevel;
    EXPECT_EQ(vokOk, voksSubbandControllerDTUpdate_EC_16s(history_.p.data(), y.data(), steps.data(), &flag, &refLevel,
                                                          &micLevel, 0, ctlState()));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32sc_Sfs(history_.p.data(), a_.p.data(), ya.data(), c_.segments, nb_, kSf));
    EXPECT_EQ(vokOk, voksFIRSubband_EC_32sc_Sfs(history_.p.data(), f_.p.data(), yf.data(), c_.segments, nb_, kSf));
    int64_t errorLevel = 0;  // on the reference level's scale, |x|^2 2^-14
    for (int i = 0; i < nb_; ++i) {
      ea[i] = {y[i].re - ya[i].re, y[i].im - ya[i].im};
      ef[i] = {y[i].re - yf[i].re, y[i].im - yf[i].im};
      ra[i] = {ye[i].re - ya[i].re, ye[i].im - ya[i].im};
      rf[i] = {ye[i].re - yf[i].re, ye[i].im - yf[i].im};
      errorLevel += (int64_t{ea[i].re} * ea[i].re + int64_t{ea[i].im} * ea[i].im) >> 14;
    }
    EXPECT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32sc_I(steps.data(), history_.p.data(), ea.data(), a_.p.data(), c_.segments, nb_, kSf));
    Vok64s companion = refLevel << 6;
    EXPECT_EQ(vokOk, voksSubbandControllerDT_EC_16s(ea.data(), ef.data(), a_.p.data(), f_.p.data(), &companion, &result_,
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
  Frames<Vok32sc> history_, a_, f_;  // reference subbands, adaptive and backup coefficients
};

Vok16s toWord(double v) { return static_cast<Vok16s>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

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
