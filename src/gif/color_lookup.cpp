#include "gif/color_lookup.h"

#include <algorithm>
#include <cstdlib>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quarvel::gif {

TFastColorLookup::TFastColorLookup(const std::vector<Color>& palette)
    : TColorLookup(int(palette.size() > 256 ? 256 : palette.size())),
      palette_(palette.begin(), palette.begin() + Colors()) {
  inverse_.fill(-1);
  // Far enough that its distance exceeds any real entry's (at most 3 x 255).
  reds_.fill(4096);
  greens_.fill(4096);
  blues_.fill(4096);
  for (int i = 0; i < Colors(); ++i) {
    reds_[std::size_t(i)] = palette_[std::size_t(i)].r;
    greens_[std::size_t(i)] = palette_[std::size_t(i)].g;
    blues_[std::size_t(i)] = palette_[std::size_t(i)].b;
  }
  for (int i = 0; i < Colors(); ++i) {
    const Color& c = palette_[i];
    int key = Key(c.r, c.g, c.b);
    if (inverse_[key] < 0) inverse_[key] = std::int16_t(i);
  }
}

namespace {

#if defined(__x86_64__)
// Sixteen distances at a time; the first entry at the smallest found by
// comparing the blocks with it, not by walking the entries one by one.
__attribute__((target("avx2"))) int NearestAvx2(const std::int16_t* reds, const std::int16_t* greens,
                                                const std::int16_t* blues, int blocks, int red, int green,
                                                int blue) {
  alignas(32) std::int16_t distance[256];
  const __m256i r = _mm256_set1_epi16(std::int16_t(red)), g = _mm256_set1_epi16(std::int16_t(green)),
                b = _mm256_set1_epi16(std::int16_t(blue));
  __m256i low = _mm256_set1_epi16(0x7FFF);
  for (int k = 0; k < blocks; ++k) {
    const __m256i pr = _mm256_load_si256(reinterpret_cast<const __m256i*>(reds + 16 * k));
    const __m256i pg = _mm256_load_si256(reinterpret_cast<const __m256i*>(greens + 16 * k));
    const __m256i pb = _mm256_load_si256(reinterpret_cast<const __m256i*>(blues + 16 * k));
    const __m256i d = _mm256_add_epi16(_mm256_add_epi16(_mm256_abs_epi16(_mm256_sub_epi16(r, pr)),
                                                        _mm256_abs_epi16(_mm256_sub_epi16(g, pg))),
                                       _mm256_abs_epi16(_mm256_sub_epi16(b, pb)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(distance + 16 * k), d);
    low = _mm256_min_epi16(low, d);
  }
  // Distances are below 2^15: the unsigned minimum of the halves is theirs.
  const __m128i half = _mm_min_epu16(_mm256_castsi256_si128(low), _mm256_extracti128_si256(low, 1));
  const __m256i best = _mm256_set1_epi16(std::int16_t(_mm_extract_epi16(_mm_minpos_epu16(half), 0)));
  for (int k = 0;; ++k) {
    const __m256i d = _mm256_load_si256(reinterpret_cast<const __m256i*>(distance + 16 * k));
    if (const unsigned hit = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(d, best))); hit != 0)
      return 16 * k + std::countr_zero(hit) / 2;
  }
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

int TFastColorLookup::Lookup(int red, int green, int blue, Color& chosen) {
  int key = Key(red, green, blue);
  int index = inverse_[key];
#if defined(__x86_64__)
  if (index < 0 && kHaveAvx2) {
    index = NearestAvx2(reds_.data(), greens_.data(), blues_.data(), (Colors() + 15) / 16, red, green, blue);
    inverse_[key] = std::int16_t(index);
  }
#endif
  if (index < 0) {
    // Eight distances at a time in 16-bit lanes (plain SSE2 on x86-64),
    // over the entries rounded up to eight (the padding is never nearest);
    // then the first entry at the smallest (the lowest index wins a tie).
    using Lanes = std::int16_t __attribute__((vector_size(16)));
    const int blocks = (Colors() + 7) / 8;
    alignas(16) std::array<std::int16_t, kPadded> distance;
    const Lanes r = Lanes{} + std::int16_t(red), g = Lanes{} + std::int16_t(green), b = Lanes{} + std::int16_t(blue);
    Lanes low = Lanes{} + std::int16_t(0x7FFF);
    // Bit operations only, which GCC and Clang both take on vectors.
    const auto abs = [](Lanes v) {
      const Lanes sign = v >> 15;
      return (v ^ sign) - sign;
    };
    for (int k = 0; k < blocks; ++k) {
      Lanes pr, pg, pb;
      std::memcpy(&pr, reds_.data() + 8 * k, sizeof pr);
      std::memcpy(&pg, greens_.data() + 8 * k, sizeof pg);
      std::memcpy(&pb, blues_.data() + 8 * k, sizeof pb);
      const Lanes d = abs(r - pr) + abs(g - pg) + abs(b - pb);
      std::memcpy(distance.data() + 8 * k, &d, sizeof d);
      low = d ^ ((low ^ d) & Lanes(low < d));
    }
    std::int16_t best = low[0];
    for (int lane = 1; lane < 8; ++lane) best = std::min<std::int16_t>(best, low[lane]);
    index = 0;
    while (distance[std::size_t(index)] != best) ++index;
    inverse_[key] = std::int16_t(index);
  }
  chosen = palette_[index];
  return index;
}

}  // namespace quarvel::gif
