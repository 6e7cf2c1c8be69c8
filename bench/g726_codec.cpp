// G.726-32 encode and decode: voksc against spandsp on the same speech.
// Items processed = samples; compare items_per_second.
#include <benchmark/benchmark.h>

#include <vector>

#include "adpcm_common.h"
#include "voksc.h"
#if defined(HAVE_SPANDSP)
#include <spandsp.h>
#endif

namespace {
constexpr std::size_t kN = 8000 * 10;

void BM_G726_32_Encode_voksc(benchmark::State& st) {
  auto x = benchSpeech(kN);
  for (auto& v : x) v = static_cast<int16_t>(v >> 2);  // 14-bit input
  std::vector<Vok8u> c(kN);
  int n = 0;
  voksEncodeGetStateSize_G726_16s8u(&n);
  std::vector<unsigned char> mem(static_cast<std::size_t>(n));
  voksEncodeInit_G726_16s8u(mem.data(), vokRateG726_32);
  for (auto _ : st) {
    voksEncode_G726_16s8u(mem.data(), x.data(), c.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(c.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_Encode_voksc);

void BM_G726_32_Decode_voksc(benchmark::State& st) {
  auto x = benchSpeech(kN);
  for (auto& v : x) v = static_cast<int16_t>(v >> 2);
  std::vector<Vok8u> c(kN);
  std::vector<Vok16s> y(kN);
  int n = 0;
  voksEncodeGetStateSize_G726_16s8u(&n);
  std::vector<unsigned char> enc(static_cast<std::size_t>(n));
  voksEncodeInit_G726_16s8u(enc.data(), vokRateG726_32);
  voksEncode_G726_16s8u(enc.data(), x.data(), c.data(), static_cast<int>(kN));
  voksDecodeGetStateSize_G726_8u16s(&n);
  std::vector<unsigned char> mem(static_cast<std::size_t>(n));
  voksDecodeInit_G726_8u16s(mem.data(), vokRateG726_32, 2);
  for (auto _ : st) {
    voksDecode_G726_8u16s(mem.data(), c.data(), y.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(y.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_Decode_voksc);

#if defined(HAVE_SPANDSP)
void BM_G726_32_Encode_spandsp(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<uint8_t> c(kN);
  g726_state_t* s = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  for (auto _ : st) {
    g726_encode(s, c.data(), x.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(c.data());
  }
  g726_free(s);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_Encode_spandsp);

void BM_G726_32_Decode_spandsp(benchmark::State& st) {
  auto x = benchSpeech(kN);
  std::vector<uint8_t> c(kN);
  std::vector<int16_t> y(kN);
  g726_state_t* e = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  g726_encode(e, c.data(), x.data(), static_cast<int>(kN));
  g726_free(e);
  g726_state_t* s = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
  for (auto _ : st) {
    g726_decode(s, y.data(), c.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(y.data());
  }
  g726_free(s);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_Decode_spandsp);
#endif
}  // namespace

#include "g728_g726/g726_codec.h"
namespace {
void BM_G726_32_EncodeKernel(benchmark::State& st) {
  auto x = benchSpeech(kN);
  for (auto& v : x) v = static_cast<int16_t>(v >> 2);
  std::vector<Vok8u> c(kN);
  voksc::g726::State s;
  voksc::g726::resetState(s, 2);
  auto k = st.range(0) ? voksc::g726::Kernel::kAvx2 : voksc::g726::Kernel::kScalar;
  for (auto _ : st) {
    voksc::g726::encodeBlock(s, x.data(), c.data(), static_cast<int>(kN), k);
    benchmark::DoNotOptimize(c.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_EncodeKernel)->Arg(0)->Arg(1);
}
