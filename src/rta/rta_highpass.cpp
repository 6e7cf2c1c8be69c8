// RTA high-pass filters with a triple (order 4) or fourfold (order 5) zero
// at DC, unity gain at half the sampling rate and a corner near 20 Hz.
//
// Order 4 on an odd length runs the float recursion of the codec's tables
// (16000, 22050 and 32000 Hz; at 8000 Hz the call reports that it did
// nothing).  Even lengths, and order 5, run the recursion in double
// precision within the call from per-rate tables that include 8000 Hz: the
// 8 kHz order-4 table maps the 16 kHz filter's analog poles to 8 kHz, and
// the order-5 tables are a fourth-order Butterworth high-pass at 20 Hz,
// both by the bilinear transform.  Memory: 16 floats holding 8 doubles,
// x[n-1..n-4] then y[n-1..n-4], zero before the first call; the float and
// double forms share it.
#include <cstdint>
#include <cstring>

#include "core/status.h"

using voksc::anyNull;

namespace {

// b0 (b = b0 * binomial row with alternating signs), a1..a(order).
struct HighPass {
  int order;  // 3 or 4 poles
  double b0, a[4];
};
struct RateTables {
  int fs;
  HighPass third, fourth;
};
constexpr RateTables kTables[] = {
    {8000, {3, 0.98543679746926494, {-2.9706375166347287, 2.9417486074368551, -0.971108255682536, 0}},
     {4, 0.9796859006138614, {-3.9589541625959859, 5.8777027708712719, -3.8785330124929329, 0.95978446386159266}}},
    {16000, {3, 0.992697299, {-2.98532963, 2.97077799, -0.985448003, 0}},
     {4, 0.98979077192377862, {-3.9794766880359074, 5.9386404050878578, -3.9388494854712239, 0.97968577218546948}}},
    {22050, {3, 0.994166791, {-2.98829222, 2.97666001, -0.988367617, 0}},
     {4, 0.99258151501693725, {-3.9851077558034245, 5.9554340567057089, -3.9555443638085439, 0.98521806395331846}}},
    {32000, {3, 0.996783197, {-2.99355245, 2.98712921, -0.993576705, 0}},
     {4, 0.99488228233499243, {-3.9897382948573505, 5.9692675030941551, -3.9693199637042893, 0.98979075570408348}}},
};
// The codec's float numerator pairs (b0 = -b3, b1 = -b2) for the odd-length recursion.
constexpr float kOddB[4][2] = {{0, 0}, {0.992697299f, -2.97808051f}, {0.994166791f, -2.98249316f}, {0.996783197f, -2.99034595f}};
constexpr float kOddA[4][3] = {{0, 0, 0},
                               {-2.98532963f, 2.97077799f, -0.985448003f},
                               {-2.98829222f, 2.97666001f, -0.988367617f},
                               {-2.99355245f, 2.98712921f, -0.993576705f}};

int rateIndex(int fs) {
  for (int i = 0; i < 4; ++i)
    if (kTables[i].fs == fs) return i;
  return -1;
}

// The memory holds 8 doubles: x[n-1..n-4], y[n-1..n-4].
void loadMemory(const Vok32f* mem, double* x, double* y) {
  double m[8];
  std::memcpy(m, mem, sizeof m);
  for (int k = 0; k < 4; ++k) x[k + 1] = m[k], y[k + 1] = m[4 + k];
}
void storeMemory(Vok32f* mem, const double* x, const double* y) {
  double m[8];
  for (int k = 0; k < 4; ++k) m[k] = x[k + 1], m[4 + k] = y[k + 1];
  std::memcpy(mem, m, sizeof m);
}

void runDouble(const HighPass& f, const Vok32f* src, Vok32f* dst, int len, Vok32f* mem) {
  static constexpr double kRow[2][5] = {{1, -3, 3, -1, 0}, {1, -4, 6, -4, 1}};
  const double* row = kRow[f.order == 4];
  double x[5], y[5];  // x[0]: current; 1..4: history
  loadMemory(mem, x, y);
  for (int n = 0; n < len; ++n) {
    x[0] = src[n];
    double acc = f.order == 3 ? 1e-6 : 0.0;  // (on four poles it would become a DC offset of ~300)
    for (int k = 0; k <= f.order; ++k) acc += f.b0 * row[k] * x[k];
    for (int k = 1; k <= f.order; ++k) acc -= f.a[k - 1] * y[k];
    for (int k = 4; k > 0; --k) x[k] = x[k - 1], y[k] = y[k - 1];
    y[1] = acc;
    dst[n] = static_cast<float>(acc);
  }
  storeMemory(mem, x, y);
}

}  // namespace

VOKSC_EXPORT VokResult voksHighPassFilter_RTA_32f(const Vok32f* src, Vok32f* dst, int len, int order, int fs, Vok32f* memory) {
  if (anyNull(src, dst, memory)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int r = rateIndex(fs);
  if (r < 0) return vokErrRange;
  if (order != 4 && order != 5) return vokErrRange;
  if (order == 5 || len % 2 == 0) {
    runDouble(order == 5 ? kTables[r].fourth : kTables[r].third, src, dst, len, memory);
    return vokOk;
  }
  if (fs == 8000) return vokWrnNoOperation;
  const float b0 = kOddB[r][0], b1 = kOddB[r][1], a1 = kOddA[r][0], a2 = kOddA[r][1], a3 = kOddA[r][2];
  double hx[5], hy[5];
  loadMemory(memory, hx, hy);
  float x1 = float(hx[1]), x2 = float(hx[2]), x3 = float(hx[3]), y1 = float(hy[1]), y2 = float(hy[2]), y3 = float(hy[3]);
  for (int n = 0; n < len; ++n) {
    const float x = src[n];
    const float y = 1e-6f + b0 * x + b1 * x1 + -b1 * x2 + -b0 * x3 - a1 * y1 - a2 * y2 - a3 * y3;
    x3 = x2, x2 = x1, x1 = x;
    y3 = y2, y2 = y1, y1 = y;
    dst[n] = y;
  }
  const double nx[5] = {0, x1, x2, x3, 0}, ny[5] = {0, y1, y2, y3, 0};
  storeMemory(memory, nx, ny);
  return vokOk;
}
