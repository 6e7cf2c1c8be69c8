// G.726-32 encode and decode: voksc against spandsp on the same speech
// (items = samples; compare items_per_second), and voksc's portable and AVX2
// predictor forms against each other.
#include <benchmark/benchmark.h>

#include <vector>

#include "adpcm_common.h"
#include "g726/g726_codec.h"
#include "voksc.h"
#if defined(HAVE_SPANDSP)
#include <spandsp.h>
#endif

namespace {
constexpr std::size_t kN = 8000 * 10;

namespace g726 = voksc::g726;

// The codec's 14-bit input: the 16-bit speech without its two low bits.
std::vector<int16_t> input14() {
  auto x = benchSpeech(kN);
  for (auto& v : x) v = static_cast<int16_t>(v >> 2);
  return x;
}

std::vector<Vok8u> codes32(const std::vector<int16_t>& x) {
  g726::State s;
  g726::resetState(s, 2);
  std::vector<Vok8u> c(x.size());
  g726::encodeBlock(s, x.data(), c.data(), static_cast<int>(x.size()), g726::Kernel::kScalar);
  return c;
}

void BM_G726_32_Encode_voksc(benchmark::State& st) {
  const auto x = input14();
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

// law: 2 linear output, 1 A-law with the tandem adjustment.
void BM_G726_32_Decode_voksc(benchmark::State& st) {
  const auto c = codes32(input14());
  std::vector<Vok16s> y(kN);
  int n = 0;
  voksDecodeGetStateSize_G726_8u16s(&n);
  std::vector<unsigned char> mem(static_cast<std::size_t>(n));
  voksDecodeInit_G726_8u16s(mem.data(), vokRateG726_32, static_cast<int>(st.range(0)));
  for (auto _ : st) {
    voksDecode_G726_8u16s(mem.data(), c.data(), y.data(), static_cast<int>(kN));
    benchmark::DoNotOptimize(y.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_Decode_voksc)->ArgName("law")->Arg(2)->Arg(1);

// Predictor forms: 0 portable, 1 AVX2.
void BM_G726_32_EncodeForm(benchmark::State& st) {
  const auto x = input14();
  std::vector<Vok8u> c(kN);
  g726::State s;
  g726::resetState(s, 2);
  const auto k = st.range(0) ? g726::Kernel::kAvx2 : g726::Kernel::kScalar;
  for (auto _ : st) {
    g726::encodeBlock(s, x.data(), c.data(), static_cast<int>(kN), k);
    benchmark::DoNotOptimize(c.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_EncodeForm)->ArgName("avx2")->Arg(0)->Arg(1);

void BM_G726_32_DecodeForm(benchmark::State& st) {
  const auto c = codes32(input14());
  std::vector<Vok16s> y(kN);
  g726::DecoderState d;
  g726::resetState(d.c, 2);
  d.law = 2;
  const auto k = st.range(0) ? g726::Kernel::kAvx2 : g726::Kernel::kScalar;
  for (auto _ : st) {
    g726::decodeBlock(d, c.data(), y.data(), static_cast<int>(kN), k);
    benchmark::DoNotOptimize(y.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kN);
}
BENCHMARK(BM_G726_32_DecodeForm)->ArgName("avx2")->Arg(0)->Arg(1);

#if defined(HAVE_SPANDSP)
void BM_G726_32_Encode_spandsp(benchmark::State& st) {
  const auto x = benchSpeech(kN);  // spandsp takes 16-bit PCM and drops the low bits itself
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
  const auto x = benchSpeech(kN);
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
