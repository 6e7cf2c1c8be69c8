// G.722-64 encode (QMF + SB-ADPCM) and decode: voksc against spandsp on the
// same 16 kHz input (speed only: spandsp's coder is not bit-exact with the
// ITU reference).  Items processed = 16 kHz samples.  Also the QMF block
// kernels, scalar against AVX2.
#include <benchmark/benchmark.h>

#include <vector>

#include "adpcm_common.h"
#include "g722/g722_internal.h"
#include "voksc.h"
#if defined(HAVE_SPANDSP)
#include <spandsp.h>
#endif

namespace {
constexpr std::size_t kN = 16000 * 10;

struct Coder {
  std::vector<unsigned char> mem;
  std::vector<int16_t> qmf = std::vector<int16_t>(24, 0);
  Coder() {
    int n = 0;
    voksSBADPCMEncodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n));
    voksSBADPCMEncodeInit_G722_16s(mem.data());
  }
};

void BM_G722_64_Encode_voksc(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<int16_t> bands(kN), codes(kN);
  Coder c;
  for (auto _ : st) {
    voksQMFEncode_G722_16s(x.data(), bands.data(), static_cast<int>(kN), c.qmf.data());
    voksSBADPCMEncode_G722_16s(bands.data(), codes.data(), static_cast<int>(kN), c.mem.data());
    benchmark::DoNotOptimize(codes.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G722_64_Encode_voksc);

void BM_G722_64_Decode_voksc(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<int16_t> bands(kN), codes(kN), y(kN);
  Coder e, d;
  voksQMFEncode_G722_16s(x.data(), bands.data(), static_cast<int>(kN), e.qmf.data());
  voksSBADPCMEncode_G722_16s(bands.data(), codes.data(), static_cast<int>(kN), e.mem.data());
  voksSBADPCMDecodeInit_G722_16s(d.mem.data());
  for (auto _ : st) {
    voksSBADPCMDecode_G722_16s(codes.data(), bands.data(), static_cast<int>(kN), 1, d.mem.data());
    voksQMFDecode_G722_16s(bands.data(), y.data(), static_cast<int>(kN), d.qmf.data());
    benchmark::DoNotOptimize(y.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G722_64_Decode_voksc);

template <void (*Kernel)(const int16_t*, int, int16_t*)>
void BM_G722_QmfBlock(benchmark::State& st) {
  constexpr int kPairs = 256;
  auto x = benchSpeech(22 + 2 * kPairs);
  std::vector<int16_t> y(2 * kPairs);
  for (auto _ : st) {
    Kernel(x.data(), kPairs, y.data());
    benchmark::DoNotOptimize(y.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * 2 * kPairs);
}
BENCHMARK(BM_G722_QmfBlock<voksc::g722::qmfAnalysisBlockScalar>)->Name("BM_G722_QmfAnalysis_scalar");
BENCHMARK(BM_G722_QmfBlock<voksc::g722::qmfAnalysisBlockAvx2>)->Name("BM_G722_QmfAnalysis_avx2");
BENCHMARK(BM_G722_QmfBlock<voksc::g722::qmfSynthesisBlockScalar>)->Name("BM_G722_QmfSynthesis_scalar");
BENCHMARK(BM_G722_QmfBlock<voksc::g722::qmfSynthesisBlockAvx2>)->Name("BM_G722_QmfSynthesis_avx2");

#if defined(HAVE_SPANDSP)
void BM_G722_64_Encode_spandsp(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<uint8_t> c(kN / 2);
  g722_encode_state_t* s = g722_encode_init(nullptr, 64000, 0);
  for (auto _ : st) {
    g722_encode(s, c.data(), x.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(c.data());
  }
  g722_encode_free(s);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G722_64_Encode_spandsp);

void BM_G722_64_Decode_spandsp(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<uint8_t> c(kN / 2);
  std::vector<int16_t> y(kN);
  g722_encode_state_t* e = g722_encode_init(nullptr, 64000, 0);
  g722_encode(e, c.data(), x.data(), static_cast<int>(kN));
  g722_encode_free(e);
  g722_decode_state_t* s = g722_decode_init(nullptr, 64000, 0);
  for (auto _ : st) {
    g722_decode(s, y.data(), c.data(), static_cast<int>(kN / 2));
    benchmark::DoNotOptimize(y.data());
  }
  g722_decode_free(s);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G722_64_Decode_spandsp);
#endif
}  // namespace
