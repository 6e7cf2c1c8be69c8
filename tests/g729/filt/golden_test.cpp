// The filters, phase dispersion and post-filter against records of the
// ITU-T reference coders (G.729, Annexes A, B, D, E and the float Annex C):
// every call's inputs and outputs, from the conformance bitstreams and from
// random and extreme inputs fed to the reference routines.  Each record is
// replayed through our export and every output word is compared.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "g729/filt_internal.h"
#include "vectors.h"
#include "voksc.h"

namespace {

template <class T>
std::vector<T> readAll(const std::string& path) {
  std::vector<uint8_t> b;
  if (!vtest::readFile(path, b)) return {};
  std::vector<T> v(b.size() / sizeof(T));
  std::memcpy(v.data(), b.data(), v.size() * sizeof(T));
  return v;
}

// Sequential reader over a record file.
template <class T>
struct Reader {
  std::vector<T> w;
  size_t pos = 0;
  bool done() const { return pos >= w.size(); }
  T one() { return w.at(pos++); }
  const T* take(size_t n) {
    if (pos + n > w.size()) {
      ADD_FAILURE() << "truncated record";
      pos = w.size();
      static const std::vector<T> zeros(1 << 16);
      return zeros.data();
    }
    const T* p = w.data() + pos;
    pos += n;
    return p;
  }
};

template <class T = int16_t>
Reader<T> open(const std::string& kind) {
  return Reader<T>{readAll<T>(vtest::goldenDir() + "/g729/filt/" + kind + ".bin")};
}

// Counts records and mismatching records, reporting the first few.
struct Tally {
  int records = 0, bad = 0;
  void check(bool ok, const std::string& what) {
    ++records;
    if (!ok && ++bad <= 5) ADD_FAILURE() << what << " differs in record " << records - 1;
  }
  void finish(const char* kind, int atLeast) {
    EXPECT_GE(records, atLeast) << kind << ": records missing";
    EXPECT_EQ(bad, 0) << kind << ": " << bad << " of " << records << " records differ";
  }
};

bool same(const int16_t* a, const int16_t* b, int n) { return std::memcmp(a, b, n * sizeof(int16_t)) == 0; }

// Per-stream context: the state of a stateful export and the high-pass
// coefficients (a140, b140 Q12 then a100, b100 Q13 as the reference tables
// give them).
struct Ctx {
  std::vector<unsigned char> state;
  std::vector<int16_t> hp = readAll<int16_t>(vtest::goldenDir() + "/g729/filt/hp_coeffs.bin");
};

// A check replays one record: 1 when every output matches, 0 when one
// differs, -1 for a control record (restart, state update) that is not
// counted.
template <class T>
using Check = int (*)(Reader<T>& r, Ctx& c);

template <class T>
struct Replay {
  const char* kind;
  int atLeast;
  Check<T> check;
};

template <class T>
void replay(const Replay<T>& p) {
  auto r = open<T>(p.kind);
  Ctx c;
  Tally t;
  while (!r.done()) {
    const int v = p.check(r, c);
    if (v >= 0) t.check(v == 1, p.kind);
  }
  t.finish(p.kind, p.atLeast);
}

// Also in place, and through the internal filter with the reference's
// update switch.
int synthesis(Reader<int16_t>& r, Ctx&) {
  const int m = r.one(), lg = r.one(), update = r.one(), ovf = r.one();
  const int16_t* a = r.take(m + 1);
  const int16_t* x = r.take(lg);
  const int16_t* memIn = r.take(m);
  const int16_t* y = r.take(lg);
  const int16_t* memOut = r.take(m);
  std::vector<int16_t> out(lg), mem(memIn, memIn + m), io(x, x + lg), mem2 = mem, mem3 = mem;
  const VokResult st = voksSynthesisFilter_G729E_16s(a, m, x, out.data(), lg, mem.data());
  bool ok = same(out.data(), y, lg) && st == (ovf ? vokWrnOverflow : vokOk);
  if (update) ok = ok && same(mem.data(), memOut, m);
  ok = ok && voksSynthesisFilter_G729E_16s_I(a, m, io.data(), lg, mem2.data()) == st && io == out;
  const bool f = voksc::g729::synthesisFilter(a, m, x, io.data(), lg, mem3.data(), update != 0);
  return ok && f == (ovf != 0) && same(mem3.data(), update ? memOut : memIn, m) && io == out;
}

int residual(Reader<int16_t>& r, Ctx&) {
  const int m = r.one(), lg = r.one();
  const int16_t* a = r.take(m + 1);
  const int16_t* x = r.take(m + lg) + m;
  const int16_t* y = r.take(lg);
  std::vector<int16_t> o1(lg), o3(lg);
  voksc::g729::residualFilter(a, m, x, o1.data(), lg);  // any order and length
  bool ok = same(o1.data(), y, lg);
  if (m <= lg)
    ok = ok && voksResidualFilter_G729E_16s(a, static_cast<Vok16s>(m), x, o3.data(), lg) == vokOk &&
         same(o3.data(), y, lg);
  if (m == 10 && lg == 40) ok = ok && voksResidualFilter_G729_16s(x, a, o3.data()) == vokOk && same(o3.data(), y, lg);
  return ok;
}

// High-pass streams: records [len, in, out]; len 0 restarts the filter.
template <int kQ>
int highPass(Reader<int16_t>& r, Ctx& c) {
  const int16_t* coeffs = c.hp.data() + (kQ == 12 ? 0 : 6);
  const int lg = r.one();
  if (c.state.empty() || lg == 0) {
    int size = 0;
    if (c.hp.size() != 12 || voksHighPassFilterSize_G729(&size) != vokOk) return 0;
    c.state.assign(static_cast<size_t>(size), 0);
    if (voksHighPassFilterInit_G729(coeffs, c.state.data()) != vokOk) return 0;
    if (lg == 0) return -1;
  }
  const int16_t* in = r.take(lg);
  std::vector<int16_t> x(in, in + lg);
  const int16_t* y = r.take(lg);
  return voksHighPassFilter_G729_16s_ISfs(x.data(), lg, kQ, c.state.data()) == vokOk && same(x.data(), y, lg);
}

int longTerm(Reader<int16_t>& r, Ctx&) {
  const int16_t factor = r.one(), t0 = r.one();
  const int16_t* res = r.take(192);
  const int16_t* out = r.take(40);
  const int16_t vo = r.one();
  std::vector<int16_t> buf(res, res + 192), y(40);
  Vok16s voicing = -1;
  return voksLongTermPostFilter_G729_16s(factor, t0, buf.data(), y.data(), &voicing) == vokOk &&
         same(y.data(), out, 40) && voicing == vo && same(buf.data(), res + 40, 152);
}

int longTermB(Reader<int16_t>& r, Ctx&) {
  const int16_t t0 = r.one(), vad = r.one();
  const int16_t* speech = r.take(50);
  const int16_t* a = r.take(11);
  const int16_t* before = r.take(192);
  const int16_t* out = r.take(40);
  const int16_t vo = r.one();
  std::vector<int16_t> buf(before, before + 192), y(40);
  Vok16s voicing = -1;
  return voksLongTermPostFilter_G729B_16s(t0, speech + 10, a, buf.data(), y.data(), &voicing, vad) == vokOk &&
         same(y.data(), out, 40) && voicing == vo;
}

// Our buffer keeps 154 samples of history; the filter reads 143.
int longTermA(Reader<int16_t>& r, Ctx&) {
  const int16_t t0 = r.one();
  const int16_t* speech = r.take(50);
  const int16_t* num = r.take(11);
  const int16_t* hist = r.take(143);
  const int16_t* out = r.take(40);
  std::vector<int16_t> buf(194, 12345), y(40);
  std::memcpy(buf.data() + 11, hist, 143 * sizeof(int16_t));
  return voksLongTermPostFilter_G729A_16s(t0, speech + 10, num, buf.data(), y.data()) == vokOk &&
         same(y.data(), out, 40) && same(buf.data(), hist + 29, 114);
}

int shortTerm(Reader<int16_t>& r, Ctx&) {
  const int16_t* a = r.take(11);
  const int16_t* ltp = r.take(40);
  const int16_t* mem = r.take(10);
  const int16_t* out = r.take(40);
  const int16_t* h = r.take(20);
  const int16_t ovf = r.one();
  std::vector<int16_t> buf(50), hh(20);
  std::memcpy(buf.data(), mem, 10 * sizeof(int16_t));
  const VokResult st = voksShortTermPostFilter_G729_16s(a, ltp, buf.data() + 10, hh.data());
  return st == (ovf ? vokWrnOverflow : vokOk) && same(buf.data() + 10, out, 40) && same(hh.data(), h, 20);
}

int tilt(Reader<int16_t>& r, Ctx&) {
  const int16_t* h = r.take(20);
  const int16_t* sig = r.take(41);
  const int16_t* out = r.take(40);
  std::vector<int16_t> buf(sig, sig + 41);
  return voksTiltCompensation_G729_16s(h, buf.data() + 1) == vokOk && same(buf.data() + 1, out, 40);
}

int tiltE(Reader<int16_t>& r, Ctx&) {
  const int16_t k = r.one();
  const int16_t* sig = r.take(41);
  const int16_t* out = r.take(40);
  std::vector<int16_t> y(40);
  return voksTiltCompensation_G729E_16s(k, sig + 1, y.data()) == vokOk && same(y.data(), out, 40);
}

int tiltA(Reader<int16_t>& r, Ctx&) {
  const int16_t* ap = r.take(22);
  const int16_t mem = r.one();
  const int16_t* sig = r.take(40);
  const int16_t* out = r.take(40);
  std::vector<int16_t> buf(41);
  buf[0] = mem;
  std::memcpy(buf.data() + 1, sig, 40 * sizeof(int16_t));
  return voksTiltCompensation_G729A_16s(ap, buf.data() + 1) == vokOk && same(buf.data() + 1, out, 40);
}

int preemphasis(Reader<int16_t>& r, Ctx&) {
  const int16_t g = r.one(), len = r.one(), mem = r.one();
  const int16_t* x = r.take(len);
  const int16_t* out = r.take(len);
  std::vector<int16_t> y(len), io(x, x + len);
  Vok16s m1 = mem, m2 = mem;
  return voksPreemphasize_G729A_16s(g, x, y.data(), len, &m1) == vokOk && same(y.data(), out, len) &&
         m1 == x[len - 1] && voksPreemphasize_G729A_16s_I(g, io.data(), len, &m2) == vokOk && io == y && m2 == m1;
}

template <bool kAnnexA>
int gainControl(Reader<int16_t>& r, Ctx&) {
  const int16_t* before = r.take(40);
  const int16_t* in = r.take(40);
  const int16_t g = r.one();
  const int16_t* out = r.take(40);
  const int16_t gOut = r.one();
  std::vector<int16_t> sig(in, in + 40);
  Vok16s gain = g;
  const VokResult st = kAnnexA ? voksGainControl_G729A_16s_I(before, sig.data(), &gain)
                               : voksGainControl_G729_16s_I(before, sig.data(), &gain);
  return st == vokOk && same(sig.data(), out, 40) && gain == gOut;
}

// Records: kind -1 restarts, 0 updates the gains' history, 1 filters.
int dispersion(Reader<int16_t>& r, Ctx& c) {
  const int16_t kind = r.one();
  if (c.state.empty() || kind == -1) {
    int size = 0;
    if (voksPhaseDispersionGetStateSize_G729D_16s(&size) != vokOk) return 0;
    c.state.assign(static_cast<size_t>(size), 0);
    if (voksPhaseDispersionInit_G729D_16s(c.state.data()) != vokOk) return 0;
    if (kind == -1) return -1;
  }
  const int16_t gp = r.one(), gc = r.one();
  if (kind == 0) return voksPhaseDispersionUpdate_G729D_16s(gp, gc, c.state.data()) == vokOk ? -1 : 0;
  const int16_t* exc = r.take(40);
  const int16_t* code = r.take(40);
  const int16_t* codeOut = r.take(40);
  const int16_t* excOut = r.take(40);
  std::vector<int16_t> cv(code, code + 40), e(40);
  return voksPhaseDispersion_G729D_16s(exc, e.data(), gc, gp, cv.data(), c.state.data()) == vokOk &&
         same(cv.data(), codeOut, 40) && same(e.data(), excOut, 40);
}

// The float forms follow the single-precision float reference operation by
// operation, so they are held to a few units in the last place.
bool close(const float* a, const float* b, int n, float scale) {
  for (int i = 0; i < n; ++i)
    if (std::fabs(a[i] - b[i]) > 1e-5f * (std::fabs(b[i]) + scale)) return false;
  return true;
}

int synthesisFloat(Reader<float>& r, Ctx&) {
  const int lg = static_cast<int>(r.one());
  const bool update = r.one() != 0.0f;
  const float* a = r.take(11);
  const float* x = r.take(lg);
  const float* memIn = r.take(10);
  const float* y = r.take(lg);
  const float* memOut = r.take(10);
  std::vector<float> out(lg), mem(memIn, memIn + 10);
  return voksSynthesisFilter_G729_32f(a, 10, x, out.data(), lg, mem.data()) == vokOk &&
         close(out.data(), y, lg, 1.0f) && (!update || close(mem.data(), memOut, 10, 1.0f));
}

int gainControlFloat(Reader<float>& r, Ctx&) {
  const float* before = r.take(40);
  const float* in = r.take(40);
  const float g = r.one();
  const float* out = r.take(40);
  const float gOut = r.one();
  float gainIn = 0.0f;
  for (int i = 0; i < 40; ++i) gainIn += std::fabs(before[i]);
  std::vector<float> sig(in, in + 40);
  float gain = g;
  return voksGainControl_G729_32f_I(gainIn, 0.9875f, sig.data(), &gain) == vokOk && close(sig.data(), out, 40, 1.0f) &&
         close(&gain, &gOut, 1, 1e-3f);
}

int filteredExcitationFloat(Reader<float>& r, Ctx&) {
  const float e = r.one();
  const float* h = r.take(40);
  const float* in = r.take(40);
  const float* out = r.take(40);
  std::vector<float> y(in, in + 40);
  return voksFilteredExcitation_G729_32f(h, y.data(), 40, e) == vokOk && close(y.data(), out, 40, 1.0f);
}

const Replay<int16_t> kFixed[] = {
    {"syn", 100, synthesis},          {"res", 64, residual},        {"hp12", 40, highPass<12>},
    {"hp13", 38, highPass<13>},       {"ltp", 50, longTerm},        {"ltpb", 24, longTermB},
    {"ltpa", 30, longTermA},          {"stp", 36, shortTerm},       {"tilt", 36, tilt},
    {"tilte", 36, tiltE},             {"tilta", 30, tiltA},         {"pre", 20, preemphasis},
    {"agc", 30, gainControl<false>},  {"agca", 30, gainControl<true>}, {"disp", 90, dispersion},
};

const Replay<float> kFloat[] = {
    {"synf", 20, synthesisFloat}, {"agcf", 16, gainControlFloat}, {"fexc", 16, filteredExcitationFloat}};

}  // namespace

TEST(G729FiltGolden, EveryRecordOfEveryStream) {
  for (const auto& p : kFixed) replay(p);
  for (const auto& p : kFloat) replay(p);
}
