// G.729A encode and decode of the same speech: vokcodec (assembled from
// voksc) against bcg729.  Items = 80-sample frames; real-time factor =
// 10 ms / time per frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "adpcm_common.h"
#include "vokcodec.h"
#if defined(HAVE_BCG729)
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}
#endif

namespace {
constexpr int kFrames = 500;  // 5 s

struct Mem {
  std::vector<unsigned char> b;
  explicit Mem(int n) : b(static_cast<std::size_t>(n)) {}
  void* p() { return b.data(); }
};

void BM_G729A_Encode_voksc(benchmark::State& st) {
  auto pcm = benchSpeech(kFrames * 80);
  int n = 0;
  vokcG729EncoderGetSize(&n);
  Mem m(n);
  vokcG729EncoderInit(m.p(), vokcG729AnnexA);
  Vok16s prm[11];
  for (auto _ : st) {
    for (int f = 0; f < kFrames; ++f) vokcG729Encode(m.p(), &pcm[f * 80], prm);
    benchmark::DoNotOptimize(prm);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFrames);
}
BENCHMARK(BM_G729A_Encode_voksc)->Unit(benchmark::kMillisecond);

void BM_G729A_Decode_voksc(benchmark::State& st) {
  auto pcm = benchSpeech(kFrames * 80);
  int n = 0;
  vokcG729EncoderGetSize(&n);
  Mem e(n);
  vokcG729EncoderInit(e.p(), vokcG729AnnexA);
  std::vector<Vok16s> prm(kFrames * 11);
  for (int f = 0; f < kFrames; ++f) vokcG729Encode(e.p(), &pcm[f * 80], &prm[f * 11]);
  vokcG729DecoderGetSize(&n);
  Mem d(n);
  vokcG729DecoderInit(d.p(), vokcG729AnnexA);
  Vok16s out[80];
  for (auto _ : st) {
    for (int f = 0; f < kFrames; ++f) vokcG729Decode(d.p(), &prm[f * 11], 0, out);
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFrames);
}
BENCHMARK(BM_G729A_Decode_voksc)->Unit(benchmark::kMillisecond);

void BM_G729_Encode_voksc(benchmark::State& st) {
  auto pcm = benchSpeech(kFrames * 80);
  int n = 0;
  vokcG729EncoderGetSize(&n);
  Mem m(n);
  vokcG729EncoderInit(m.p(), vokcG729Main);
  Vok16s prm[11];
  for (auto _ : st) {
    for (int f = 0; f < kFrames; ++f) vokcG729Encode(m.p(), &pcm[f * 80], prm);
    benchmark::DoNotOptimize(prm);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFrames);
}
BENCHMARK(BM_G729_Encode_voksc)->Unit(benchmark::kMillisecond);

#if defined(HAVE_BCG729)
void BM_G729A_Encode_bcg729(benchmark::State& st) {
  auto pcm = benchSpeech(kFrames * 80);
  bcg729EncoderChannelContextStruct* e = initBcg729EncoderChannel(0);
  uint8_t bits[10], len = 0;
  for (auto _ : st) {
    for (int f = 0; f < kFrames; ++f) bcg729Encoder(e, &pcm[f * 80], bits, &len);
    benchmark::DoNotOptimize(bits);
  }
  closeBcg729EncoderChannel(e);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFrames);
}
BENCHMARK(BM_G729A_Encode_bcg729)->Unit(benchmark::kMillisecond);

void BM_G729A_Decode_bcg729(benchmark::State& st) {
  auto pcm = benchSpeech(kFrames * 80);
  bcg729EncoderChannelContextStruct* e = initBcg729EncoderChannel(0);
  std::vector<uint8_t> bits(kFrames * 10);
  uint8_t len = 0;
  for (int f = 0; f < kFrames; ++f) bcg729Encoder(e, &pcm[f * 80], &bits[f * 10], &len);
  closeBcg729EncoderChannel(e);
  bcg729DecoderChannelContextStruct* d = initBcg729DecoderChannel();
  int16_t out[80];
  for (auto _ : st) {
    for (int f = 0; f < kFrames; ++f) bcg729Decoder(d, &bits[f * 10], 10, 0, 0, 0, out);
    benchmark::DoNotOptimize(out);
  }
  closeBcg729DecoderChannel(d);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kFrames);
}
BENCHMARK(BM_G729A_Decode_bcg729)->Unit(benchmark::kMillisecond);
#endif
}  // namespace
