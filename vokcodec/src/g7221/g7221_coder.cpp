// G.722.1 encoder and decoder around the library's MLT and region coder:
// block scaling, region powers and their differential codes, the
// categorisation and its rate control, the frame packer, and on the decoder
// side the envelope and vector decoders, noise fill and frame repetition.
// Every quantity is the 16/32-bit fixed-point value of the reference coder,
// formed with the same saturating operators in the same order.
#include "g7221/g7221_coder.h"

#include <algorithm>
#include <cstring>

#include "basic_op.h"
#include "checked_call.h"
#include "g7221/g7221_tables.h"

using namespace voksc::op;

namespace vokc::g7221 {
namespace {

constexpr int kRegion = 20;
constexpr int kMaxRegions = 28;
constexpr int kCategories = 8;     // 0..6 coded, 7 noise only
constexpr int kPowerBias = 24;     // power index of the deviation table's first entry
constexpr int kEnvelopeBias = 7;   // added to region 0's power in its 5-bit field
constexpr int kDiffMin = -12;      // smallest coded power difference
constexpr int kDiffMax = 11;

// The 20 coefficients of a region, for range-for.
struct Span {
  int16_t* at;
  int16_t* begin() const { return at; }
  int16_t* end() const { return at + kRegion; }
};

int controlBits(const Layout& l) { return l.regions == 14 ? 4 : 5; }
int controlChoices(const Layout& l) { return 1 << controlBits(l); }

// ---- categorisation (shared by both sides) -----------------------------------

int16_t clampCategory(int v) { return static_cast<int16_t>(v < 0 ? 0 : (v > kCategories - 1 ? kCategories - 1 : v)); }

// The categorisation works on small integers only: offsets in -32..31,
// region powers within a few hundred of 0 (even from a damaged envelope),
// categories 0..7 and expected bit totals below 2000.  No 16-bit operation
// of it can saturate, so plain int arithmetic gives the same values.

// The largest offset (a binary search over -32..31) whose raw categories
// are expected to use at least available - 32 bits.
int searchOffset(const int16_t* power, int regions, int available) {
  int answer = -32;
  for (int step = 32; step > 0; step >>= 1) {
    const int trial = answer + step;
    int expected = 0;
    for (int r = 0; r < regions; ++r) expected += kExpectedBits[clampCategory((trial - power[r]) >> 1)];
    if (expected >= available - 32) answer = trial;
  }
  return answer;
}

// Raw categories and the order in which the rate control moves regions:
// starting from the raw categorisation, choices - 1 steps each either lower
// the category of the region with the most headroom (toward the high-rate
// end of the list) or raise the one with the least (toward the low-rate
// end), keeping the expected totals of both ends around the budget.
// categories receives the high-rate end; balance the ordered region list.
//
// A region's headroom at category c is offset - power - 2c.  Each end keeps
// one key per region, headroom * 64 + region (regions < 64), so a plain
// minimum finds the smallest headroom at its lowest region and a maximum the
// largest at its highest region; only the moved region's key changes.  A
// step with no candidate within +-98 of headroom repeats the previous pick.
void categorize(int16_t available, const Layout& l, const int16_t* power, int16_t* categories, int16_t* balance) {
  const int regions = l.regions;
  const int choices = controlChoices(l);
  const int16_t frame = l.frame;
  if (available > frame) available = add(shr(extract_l(L_mult0(sub(available, frame), 5)), 3), frame);
  const int offset = searchOffset(power, regions, available);
  constexpr int kNoHigh = 1 << 30, kNoLow = -(1 << 30);
  int high[kMaxRegions], low[kMaxRegions], headroom[kMaxRegions], highKey[kMaxRegions], lowKey[kMaxRegions];
  auto key = [&](int r, int category) { return (headroom[r] - 2 * category) * 64 + r; };
  int expected = 0;
  for (int r = 0; r < regions; ++r) {
    headroom[r] = offset - power[r];
    high[r] = low[r] = clampCategory(headroom[r] >> 1);
    expected += kExpectedBits[high[r]];
    highKey[r] = high[r] > 0 ? key(r, high[r]) : kNoHigh;
    lowKey[r] = low[r] < kCategories - 1 ? key(r, low[r]) : kNoLow;
  }
  int highBits = expected, lowBits = expected;
  int16_t order[2 * 32];
  int highEnd = choices, lowEnd = choices;
  int pickHigh = 0, pickLow = 0;
  for (int step = 0; step < choices - 1; ++step) {
    if (highBits + lowBits <= 2 * available) {
      int best = kNoHigh;
      for (int r = 0; r < regions; ++r) best = std::min(best, highKey[r]);
      if (best < 99 * 64) pickHigh = best & 63;
      order[--highEnd] = static_cast<int16_t>(pickHigh);
      highBits -= kExpectedBits[high[pickHigh]];
      high[pickHigh] = clampCategory(high[pickHigh] - 1);
      highBits += kExpectedBits[high[pickHigh]];
      highKey[pickHigh] = high[pickHigh] > 0 ? key(pickHigh, high[pickHigh]) : kNoHigh;
    } else {
      int best = kNoLow;
      for (int r = 0; r < regions; ++r) best = std::max(best, lowKey[r]);
      if (best >= -98 * 64) pickLow = best & 63;
      order[lowEnd++] = static_cast<int16_t>(pickLow);
      lowBits -= kExpectedBits[low[pickLow]];
      low[pickLow] = clampCategory(low[pickLow] + 1);
      lowBits += kExpectedBits[low[pickLow]];
      lowKey[pickLow] = low[pickLow] < kCategories - 1 ? key(pickLow, low[pickLow]) : kNoLow;
    }
  }
  for (int r = 0; r < regions; ++r) categories[r] = static_cast<int16_t>(high[r]);
  std::copy(order + highEnd, order + highEnd + choices - 1, balance);
}

// ---- encoder -------------------------------------------------------------------

// Magnitude as abs_s forms it (-32768 gives 32767).
inline int magnitude(int16_t x) { return x == -32768 ? 32767 : (x < 0 ? -x : x); }

// Scale shift that brings the folded block toward full scale before the
// transform: from its peak (none above 14000), one less when the peak is
// below 1/128 of the magnitude sum (at most 640 * 32767: the saturating sum
// never saturates).
int16_t blockShift(const int16_t* x, int n) {
  int peak = 0, sum = 0;
  for (int i = 0; i < n; ++i) {
    const int a = magnitude(x[i]);
    peak = std::max(peak, a);
    sum += a;
  }
  int16_t shift = 0;
  if (peak < 14000) {
    const int16_t p = static_cast<int16_t>(peak < 438 ? peak + 1 : peak);
    const int16_t n9587 = extract_l(L_shr(L_mult(p, 9587), 20));
    const int16_t norm = norm_s(n9587);
    shift = norm == 0 ? 9 : sub(norm, 6);
  }
  if (peak < (sum >> 7)) shift = sub(shift, 1);
  return shift;
}

// x scaled by 2^shift (shift in -16..15) with 16-bit saturation, as shl.
inline int16_t scaled(int16_t x, int shift) {
  if (shift < 0) return static_cast<int16_t>(x >> -shift);
  const int v = x * (1 << shift);
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Region power index (log2 of the mean square in half steps, relative to
// the block shift).  The squares are non-negative, so the saturating sum
// is the exact sum capped at 2^31 - 1.
int16_t regionPower(const int16_t* x, int16_t shift) {
  int64_t exact = 0;
  for (int i = 0; i < kRegion; ++i) exact += x[i] * x[i];
  int32_t energy = static_cast<int32_t>(std::min<int64_t>(exact, 0x7fffffff));
  int exponent = 0;
  while ((energy & 0x7fff0000) > 0) {
    energy >>= 1;
    ++exponent;
  }
  while (energy <= 32767 && exponent + 15 >= 0) {
    energy <<= 1;
    --exponent;
  }
  if ((energy >> 1) >= 28963) ++exponent;  // above sqrt(2) * 20
  return static_cast<int16_t>(35 + exponent - 2 * shift - kPowerBias);
}

// Envelope fields (region powers, then the control word) in order.
struct Envelope {
  int16_t length[kMaxRegions + 1];
  uint16_t code[kMaxRegions + 1];
};

// Quantises the region powers in place and returns their code lengths' sum.
int16_t codeEnvelope(const Layout& l, int16_t* power, Envelope& env) {
  const int regions = l.regions;
  for (int r = regions - 2; r >= 0; --r)  // lift valleys so every rise fits the code
    if (power[r] < sub(power[r + 1], kDiffMax)) power[r] = sub(power[r + 1], kDiffMax);
  power[0] = std::min<int16_t>(std::max<int16_t>(power[0], 1 - kEnvelopeBias), 31 - kEnvelopeBias);
  env.length[0] = 5;
  env.code[0] = static_cast<uint16_t>(add(power[0], kEnvelopeBias));
  int16_t total = 5;
  for (int r = 1; r < regions; ++r) power[r] = std::min<int16_t>(std::max<int16_t>(power[r], -8 - kEnvelopeBias), 31 - kEnvelopeBias);
  for (int r = 1; r < regions; ++r) {
    int16_t d = sub(power[r], power[r - 1]);
    if (d < kDiffMin) d = kDiffMin;
    const int16_t j = sub(d, kDiffMin);
    power[r] = add(add(power[r - 1], j), kDiffMin);
    env.length[r] = kPowerDiffLen[r][j];
    env.code[r] = kPowerDiffCode[r][j];
    total = add(total, env.length[r]);
  }
  return total;
}

// Region codes: 4 words per region in one array; a region longer than 128
// bits runs on into the next region's words, as the coder's shared buffer
// does (a later region's code overwrites them).
struct RegionCodes {
  uint32_t words[4 * kMaxRegions + 8];
  int16_t bits[kMaxRegions];
};

VokResult codeRegion(const int16_t* coefs, const int16_t* categories, const int16_t* power, int r,
                     RegionCodes& rc) {
  if (categories[r] >= kCategories - 1) {
    rc.bits[r] = 0;
    return vokOk;
  }
  int n = 0;
  const VokResult s = VOKC_CALL(voksHuffmanEncode_G722_16s32u, int{categories[r]}, int{power[r]}, coefs + kRegion * r,
                                &rc.words[4 * r], &n);
  rc.bits[r] = static_cast<int16_t>(n);
  return s;
}

// Rate control: start halfway through the balance list and step along it
// until the coded bits fit (or the list ends); returns the control word.
VokResult fitRegions(const Layout& l, int16_t available, const int16_t* coefs, const int16_t* power,
                     int16_t* categories, const int16_t* balance, RegionCodes& rc, int16_t& control) {
  const int choices = controlChoices(l);
  int16_t c = 0;
  for (; c < choices / 2 - 1; ++c) categories[balance[c]] = add(categories[balance[c]], 1);
  int16_t total = 0;
  for (int r = 0; r < l.regions; ++r) {
    if (codeRegion(coefs, categories, power, r, rc) < 0) return vokErrInternal;
    total = add(total, rc.bits[r]);
  }
  auto recode = [&](int r) {
    total = sub(total, rc.bits[r]);
    const VokResult s = codeRegion(coefs, categories, power, r, rc);
    total = add(total, rc.bits[r]);
    return s;
  };
  while (total < available && c > 0) {
    --c;
    const int r = balance[c];
    categories[r] = sub(categories[r], 1);
    if (recode(r) < 0) return vokErrInternal;
  }
  while (total > available && c < choices - 1) {
    const int r = balance[c];
    categories[r] = add(categories[r], 1);
    if (recode(r) < 0) return vokErrInternal;
    ++c;
  }
  control = c;
  return vokOk;
}

// Frame packer: the envelope fields, then the region codes while the frame
// has room, then one bits to the end, merged into 16-bit words with the
// coder's word additions (every field fits its length, so they insert bits).
void packFrame(const Layout& l, const Envelope& env, const RegionCodes& rc, uint16_t* out) {
  const int frameBits = l.bits;
  int at = 0;
  int16_t word = 0;
  int16_t free = 16;
  auto emit = [&](int16_t w) { out[at++] = static_cast<uint16_t>(w); };
  auto full = [&] { return at * 16 - frameBits >= 0; };
  for (int f = 0; f <= l.regions; ++f) {
    const int16_t n = env.length[f];
    const uint32_t code = env.code[f];
    const int16_t over = sub(n, free);
    if (over >= 0) {
      word = add(word, extract_l(L_shr(static_cast<Word32>(code), over)));
      emit(word);
      free = sub(16, over);
      word = extract_l(static_cast<Word32>(code << free));
    } else {
      word = extract_l(L_add(L_deposit_l(word), static_cast<Word32>(code << -over)));
      free = sub(free, n);
    }
  }
  for (int r = 0; r < l.regions && !full(); ++r) {
    const uint32_t* src = &rc.words[4 * r];
    int16_t count = rc.bits[r];
    int16_t left = count < 32 ? count : 32;
    uint32_t cur = *src++;
    while (count > 0 && !full()) {
      if (left >= free) {
        word = add(word, static_cast<int16_t>(cur >> (32 - free)));
        cur <<= free;
        left = sub(left, free);
        emit(word);
        word = 0;
        free = 16;
      } else {
        const uint32_t slice = static_cast<uint16_t>(cur >> (32 - left));
        word = extract_l(L_add(L_deposit_l(word), static_cast<Word32>(slice << (free - left))));
        free = sub(free, left);
        left = 0;
      }
      if (left == 0) {
        cur = *src++;
        count = sub(count, 32);
        left = count < 32 ? count : 32;
      }
    }
  }
  while (!full()) {
    emit(add(word, static_cast<int16_t>(0xffffu >> (16 - free))));
    word = 0;
    free = 16;
  }
}

// ---- decoder -------------------------------------------------------------------

// Bits of the frame, most significant first; beyond the frame it reads 0.
// `left` counts the bits the decoder still allows itself, separately from
// the read position, as the decoder's checks use it.  words holds the frame
// and at least two zero words after it (peek reads up to 47 bits ahead).
struct BitReader {
  const uint16_t* words;
  int count;  // words in the frame
  int pos = 0;
  int16_t left;
  int16_t next() {
    const int w = pos >> 4;
    const int16_t b = w < count ? static_cast<int16_t>((words[w] >> (15 - (pos & 15))) & 1) : 0;
    ++pos;
    return b;
  }
  // The next 32 bits from pos without reading them (while left > 0, pos is
  // inside the frame: every read so far counted against left).
  uint32_t peek() const {
    const int w = pos >> 4;
    const uint64_t three = uint64_t{words[w]} << 32 | uint64_t{words[w + 1]} << 16 | words[w + 2];
    return static_cast<uint32_t>(three << (16 + (pos & 15)) >> 32);
  }
  void skip(int n) {
    pos += n;
    left = static_cast<int16_t>(left - n);
  }
};

int16_t nextRandom(int16_t* seed) {
  int16_t r = extract_l(L_add(seed[0], seed[3]));
  if (r & 0x8000) r = add(r, 1);
  seed[3] = seed[2];
  seed[2] = seed[1];
  seed[1] = seed[0];
  seed[0] = r;
  return r;
}

// Envelope: region powers from their codes, deviations and the block shift.
void readEnvelope(const Layout& l, BitReader& in, int16_t* power, int16_t* deviation, int16_t& shift) {
  int16_t first = 0;
  for (int i = 0; i < 5; ++i) first = add(shl(first, 1), in.next());
  in.left = sub(in.left, 5);
  power[0] = sub(first, kEnvelopeBias);
  for (int r = 1; r < l.regions; ++r) {
    int node = 0;
    do {
      node = kPowerDiffTree[r][node][in.next()];
      in.left = sub(in.left, 1);
    } while (node > 0);
    power[r] = extract_l(L_add(L_add(power[r - 1], negate(static_cast<int16_t>(node))), kDiffMin));
  }
  auto deviationAt = [](int i) { return kRegionDeviation[i < 0 ? 0 : (i > 63 ? 63 : i)]; };  // out of range: erased frame
  int16_t sum = 0, top = 0;
  for (int r = 0; r < l.regions; ++r) {
    const int16_t i = extract_l(L_add(power[r], kPowerBias));
    if (i > top) top = i;
    sum = add(sum, deviationAt(i));
  }
  int16_t s = 9;
  while (s >= 0 && (sub(sum, 8) >= 0 || sub(top, 28) > 0)) {
    s = sub(s, 1);
    sum = shr(sum, 1);
    top = sub(top, 2);
  }
  shift = s;
  const int16_t base = static_cast<int16_t>(kPowerBias + 2 * s);
  for (int r = 0; r < l.regions; ++r) deviation[r] = deviationAt(extract_l(L_add(power[r], base)));
}

const int16_t (*const kTrees[7])[2] = {kTree0, kTree1, kTree2, kTree3, kTree4, kTree5, kTree6};

// The vector code trees read 8 bits at a time: per category and 8-bit
// prefix, the node reached and the bits it took (a leaf, node <= 0, as soon
// as the code ends; else the internal node after all 8).
struct PrefixStep {
  int16_t node;
  int16_t length;
};
struct PrefixSteps {
  PrefixStep step[7][256];
};

const PrefixSteps& prefixSteps() {
  static const PrefixSteps t = [] {
    PrefixSteps v{};
    for (int c = 0; c < 7; ++c)
      for (int prefix = 0; prefix < 256; ++prefix) {
        int node = 0, length = 0;
        do node = kTrees[c][node][(prefix >> (7 - length++)) & 1];
        while (node > 0 && length < 8);
        v.step[c][prefix] = {static_cast<int16_t>(node), static_cast<int16_t>(length)};
      }
    return v;
  }();
  return t;
}

// Splits a vector index into its per-coefficient levels (most significant
// last); returns how many are non-zero.
int splitIndex(int16_t index, int category, int16_t* level) {
  const int16_t radix = add(kLargestLevel[category], 1);
  int nonZero = 0;
  int16_t p = index;
  for (int j = kVectorDim[category] - 1; j >= 0; --j) {
    const int16_t q = mult(p, kLevelsInverse[category]);
    level[j] = sub(p, extract_l(L_mult0(q, radix)));
    p = q;
    if (level[j] != 0) ++nonZero;
  }
  return nonZero;
}

// splitIndex of every index below (largest level + 1)^dimension, built
// once: level j in bits 4j..4j+3 (levels are below 16), the non-zero count
// in bits 28..31.
struct SplitIndices {
  int size[7];
  int first[7];  // offset of the category's entries
  uint32_t storage[196 + 100 + 49 + 625 + 256 + 243 + 32];
};

const SplitIndices& splitIndices() {
  static const SplitIndices t = [] {
    SplitIndices v{};
    int at = 0;
    for (int c = 0; c < 7; ++c) {
      int size = 1;
      for (int j = 0; j < kVectorDim[c]; ++j) size *= kLargestLevel[c] + 1;
      v.size[c] = size;
      v.first[c] = at;
      for (int index = 0; index < size; ++index) {
        int16_t level[5];
        uint32_t e = static_cast<uint32_t>(splitIndex(static_cast<int16_t>(index), c, level)) << 28;
        for (int j = 0; j < kVectorDim[c]; ++j) e |= static_cast<uint32_t>(level[j] & 15) << (4 * j);
        v.storage[at++] = e;
      }
    }
    return v;
  }();
  return t;
}

void fillNoise(int16_t* x, int16_t amplitude, int16_t* seed, bool onlyZeros) {
  const int16_t minus = negate(amplitude);
  for (int half = 0; half < 2; ++half) {
    int16_t r = nextRandom(seed);
    for (int j = 0; j < 10; ++j) {
      int16_t& v = x[10 * half + j];
      if (onlyZeros && v != 0) continue;
      v = (r & 1) ? amplitude : minus;
      r = shr(r, 1);
    }
  }
}

// Region vectors: each vector's code, then its sign bits; a region whose
// bits run out becomes noise, and so do the regions after it.
void readRegions(const Layout& l, BitReader& in, int16_t* seed, const int16_t* deviation, int16_t* categories,
                 int16_t* coefs) {
  static const int16_t kNoiseFactor[3] = {5793, 8192, 23170};
  const SplitIndices& split = splitIndices();
  bool exhausted = false;
  for (int r = 0; r < l.regions; ++r) {
    int category = categories[r];
    int16_t* x = coefs + kRegion * r;
    const int16_t dev = deviation[r];
    if (category < kCategories - 1) {
      const int16_t (*tree)[2] = kTrees[category];
      const int dim = kVectorDim[category];
      int16_t* out = x;
      const PrefixStep* steps = prefixSteps().step[category];
      for (int v = 0; v < kVectorsPerRegion[category] && !exhausted; ++v) {
        // A code longer than the bits allowed reads what is left and ends
        // the regions, as reading it bit by bit would.
        if (in.left <= 0) {
          exhausted = true;
          break;
        }
        const PrefixStep first = steps[in.peek() >> 24];
        if (in.left < first.length) {
          in.skip(in.left);
          exhausted = true;
          break;
        }
        in.skip(first.length);
        int node = first.node;
        while (node > 0) {
          if (in.left <= 0) {
            exhausted = true;
            break;
          }
          node = tree[node][in.next()];
          in.left = sub(in.left, 1);
        }
        if (exhausted) break;
        int16_t level[5];
        int signCount;
        if (-node < split.size[category]) {
          const uint32_t e = split.storage[split.first[category] - node];
          signCount = static_cast<int>(e >> 28);
          for (int j = 0; j < dim; ++j) level[j] = static_cast<int16_t>(e >> (4 * j) & 15);
        } else {
          signCount = splitIndex(static_cast<int16_t>(-node), category, level);
        }
        if (in.left < signCount) {
          exhausted = true;
          break;
        }
        const int signs = signCount ? static_cast<int>(in.peek() >> (32 - signCount)) : 0;
        in.skip(signCount);
        int mask = signCount ? 1 << (signCount - 1) : 0;
        for (int j = 0; j < dim; ++j) {
          int16_t value = extract_l(L_shr(L_mult0(dev, kCentroid[category][level[j] & 15]), 12));
          if (value != 0) {
            if ((signs & mask) == 0) value = negate(value);
            mask >>= 1;
          }
          *out++ = value;
        }
      }
      if (exhausted) {
        for (int k = r + 1; k < l.regions; ++k) categories[k] = kCategories - 1;
        category = kCategories - 1;
      }
    }
    if (category == 5 || category == 6) fillNoise(x, mult(dev, kNoiseFactor[category - 5]), seed, true);
    if (category == kCategories - 1) fillNoise(x, mult(dev, kNoiseFactor[2]), seed, false);
  }
  if (exhausted) in.left = sub(in.left, 1);
}

// A decoded frame is rejected when bits remain that are not all ones, when
// the bits ran out before the last control value, or when a region power
// lies outside the coded range.
bool frameIsBad(const Layout& l, BitReader& in, int16_t control, const int16_t* power) {
  bool bad = false;
  if (in.left > 0) {
    for (int i = 0; i < in.left; ++i)
      if (in.next() == 0) bad = true;
  } else if (control < controlChoices(l) - 1 && in.left < 0) {
    bad = true;
  }
  for (int r = 0; r < l.regions; ++r) {
    const Word32 p = L_add(power[r], kEnvelopeBias);
    if (p > 31 || p < -8) bad = true;
  }
  return bad;
}

}  // namespace

bool makeLayout(int frame, int bitRate, Layout& out) {
  if (frame != 320 && frame != 640) return false;
  if (bitRate < 16000 || bitRate > 48000 || bitRate % 800) return false;
  out.frame = static_cast<int16_t>(frame);
  out.regions = static_cast<int16_t>(frame == 320 ? 14 : 28);
  out.bits = static_cast<int16_t>(bitRate / 50);
  return true;
}

void initEncoder(Encoder& e, const Layout& l) {
  std::memset(&e, 0, sizeof e);
  e.layout = l;
}

void initDecoder(Decoder& d, const Layout& l) {
  std::memset(&d, 0, sizeof d);
  d.layout = l;
  for (auto& s : d.seed) s = 1;
}

VokResult encodeFrame(Encoder& e, const int16_t* pcm, uint16_t* words) {
  const Layout& l = e.layout;
  const int n = l.frame;
  int16_t block[kMaxFrame], coefs[kMaxFrame];
  VOKC_CALL(voksDecomposeMLTToDCT_G7221_16s, e.previous, pcm, block, n);
  std::memcpy(e.previous, pcm, sizeof(int16_t) * static_cast<size_t>(n));
  const int16_t shift = blockShift(block, n);
  for (int i = 0; i < n; ++i) block[i] = scaled(block[i], shift);
  VOKC_CALL(voksDCTFwd_G7221_16s, block, coefs, n);

  int16_t power[kMaxRegions], categories[kMaxRegions], balance[31];
  for (int r = 0; r < l.regions; ++r) power[r] = regionPower(coefs + kRegion * r, shift);
  Envelope env;
  const int16_t envelopeBits = codeEnvelope(l, power, env);
  const int16_t available = sub(sub(l.bits, envelopeBits), controlBits(l));
  categorize(available, l, power, categories, balance);
  // Powers relative to the unscaled coefficients; a region whose power lies
  // above the quantisers' range is scaled down in steps of 2 (power steps of
  // 4) until it fits.
  const int16_t toAbsolute = add(shl(shift, 1), kPowerBias);
  for (int r = 0; r < l.regions; ++r) {
    power[r] = add(power[r], toAbsolute);
    const int16_t excess = shr(sub(power[r], 39), 1);
    if (excess <= 0) continue;
    // Bring the region down by 2^excess (rounded) so its levels fit.
    for (int16_t& x : Span{coefs + kRegion * r}) x = extract_l(L_shr(L_shr(L_add(L_shl(x, 16), 32768), excess), 16));
    power[r] = sub(power[r], shl(excess, 1));
  }
  RegionCodes rc;
  std::memset(&rc, 0, sizeof rc);
  int16_t control = 0;
  if (fitRegions(l, available, coefs, power, categories, balance, rc, control) < 0) return vokErrInternal;
  env.length[l.regions] = static_cast<int16_t>(controlBits(l));
  env.code[l.regions] = static_cast<uint16_t>(control);
  packFrame(l, env, rc, words);
  return vokOk;
}

VokResult decodeFrame(Decoder& d, const uint16_t* words, bool lost, int16_t* pcm) {
  const Layout& l = d.layout;
  const int n = l.frame;
  const int valid = kRegion * l.regions;
  int16_t coefs[kMaxFrame] = {};
  int16_t shift = 0;
  bool bad = lost || !words;
  if (!bad) {
    uint16_t padded[kMaxWords + 2] = {};
    std::memcpy(padded, words, sizeof(uint16_t) * static_cast<size_t>(l.bits / 16));
    BitReader in{padded, l.bits / 16, 0, l.bits};
    int16_t power[kMaxRegions], deviation[kMaxRegions], categories[kMaxRegions], balance[31];
    readEnvelope(l, in, power, deviation, shift);
    int16_t control = 0;
    for (int i = 0; i < controlBits(l); ++i) control = add(shl(control, 1), in.next());
    in.left = sub(in.left, static_cast<int16_t>(controlBits(l)));
    categorize(in.left, l, power, categories, balance);
    for (int i = 0; i < control; ++i) categories[balance[i]] = clampCategory(categories[balance[i]] + 1);
    readRegions(l, in, d.seed, deviation, categories, coefs);
    bad = frameIsBad(l, in, control, power);
  }
  if (bad) {  // repeat the last good frame once, then silence
    std::memcpy(coefs, d.lastCoefs, sizeof(int16_t) * static_cast<size_t>(valid));
    std::memset(d.lastCoefs, 0, sizeof d.lastCoefs);
    shift = d.lastShift;
    d.lastShift = 0;
  } else {
    std::memcpy(d.lastCoefs, coefs, sizeof(int16_t) * static_cast<size_t>(valid));
    d.lastShift = shift;
  }
  std::fill(coefs + valid, coefs + n, int16_t{0});

  int16_t block[kMaxFrame];
  VOKC_CALL(voksDCTInv_G7221_16s, coefs, block, n);
  for (int i = 0; i < n; ++i) block[i] = scaled(block[i], -shift);
  VOKC_CALL(voksDecomposeDCTToMLT_G7221_16s, block, d.kept, pcm, n);
  std::memcpy(d.kept, block + n / 2, sizeof(int16_t) * static_cast<size_t>(n / 2));
  // The reference decoder leaves the two lowest bits of its output clear.
  for (int i = 0; i < n; ++i) pcm[i] = static_cast<int16_t>(pcm[i] & ~3);
  return vokOk;
}

}  // namespace vokc::g7221
