#include "gif/color_lookup.h"

#include <algorithm>
#include <cstdlib>
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

int TFastColorLookup::Lookup(int red, int green, int blue, Color& chosen) {
  const int index = IndexOf(red, green, blue);
  chosen = palette_[std::size_t(index)];
  return index;
}

int TFastColorLookup::Search(int red, int green, int blue) {
  const int key = Key(red, green, blue);
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
  int index = 0;
  while (distance[std::size_t(index)] != best) ++index;
  inverse_[key] = std::int16_t(index);
  return index;
}

#if defined(__x86_64__)
bool TFastColorLookup::HasCachedIndicesOf8() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

__attribute__((target("avx2"))) bool TFastColorLookup::CachedIndicesOf8(const std::uint8_t* bgrx,
                                                                          std::uint8_t* out) const {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bgrx));
  const __m256i five = _mm256_set1_epi32(31);
  // Key: the top five bits of blue, green and red, blue highest.
  const __m256i b = _mm256_and_si256(_mm256_srli_epi32(c, 3), five);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi32(c, 11), five);
  const __m256i r = _mm256_and_si256(_mm256_srli_epi32(c, 19), five);
  const __m256i key = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(b, 10), _mm256_slli_epi32(g, 5)), r);
  __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int*>(inverse_.data()), key, 2);
  v = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
  if (_mm256_movemask_ps(_mm256_castsi256_ps(v)) != 0) return false;
  const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
  return true;
}
#else
bool TFastColorLookup::HasCachedIndicesOf8() { return false; }
bool TFastColorLookup::CachedIndicesOf8(const std::uint8_t*, std::uint8_t*) const { return false; }
#endif

}  // namespace quarvel::gif
