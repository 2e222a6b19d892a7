#include "gif/fast_lzw.h"

#include <algorithm>

namespace quarvel::gif {

namespace {

constexpr int kMaxBits = 12;
constexpr int kTableFull = 4095;

// Packs codes LSB first into sub-blocks of 255 bytes.
class BitWriter {
 public:
  explicit BitWriter(TStream& s) : s_(s) {}
  void Put(int code, int bits) {
    bucket_ |= std::uint64_t(code) << pending_;
    pending_ += bits;
    while (pending_ >= 8) {
      Byte(std::uint8_t(bucket_));
      bucket_ >>= 8;
      pending_ -= 8;
    }
  }
  void Finish() {
    if (pending_ > 0) Byte(std::uint8_t(bucket_));
    if (fill_ > 0) Block();
    s_.push_back(0);
  }

 private:
  void Byte(std::uint8_t b) {
    block_[std::size_t(fill_++)] = b;
    if (fill_ == 255) Block();
  }
  void Block() {
    s_.push_back(std::uint8_t(fill_));
    s_.insert(s_.end(), block_, block_ + fill_);
    fill_ = 0;
  }
  TStream& s_;
  std::uint64_t bucket_ = 0;
  int pending_ = 0;
  std::uint8_t block_[255] = {};
  int fill_ = 0;
};

}  // namespace

constexpr std::size_t kSlots = 1 << 13;  // twice the codes a table holds
constexpr std::uint32_t kFree = 0xFFFFFFFFu;

TFastLZWEncoder::TFastLZWEncoder() : slots_(kSlots, kFree) {}

void TFastLZWEncoder::Encode(TStream& stream, int code_width, const std::uint8_t* pixels, std::size_t count) {
  const int min_bits = std::max(code_width, 2);
  stream.push_back(std::uint8_t(min_bits));
  BitWriter out(stream);
  const int clear = 1 << min_bits, end = clear + 1;
  int bits = min_bits + 1;
  int max_code = (1 << bits) - 1;
  int free_code = clear + 2;
  // Widening follows TLZWEncoder: after a code is written, at the width it was written with.
  auto emit = [&](int code) {
    out.Put(code, bits);
    if (free_code > max_code && bits < kMaxBits) {
      ++bits;
      max_code = bits == kMaxBits ? 4096 : (1 << bits) - 1;
    }
  };
  auto reset = [&] { std::fill(slots_.begin(), slots_.end(), kFree); };
  std::uint32_t* const table = slots_.data();
  out.Put(clear, bits);
  if (count > 0) {
    int prefix = pixels[0];
    for (std::size_t i = 1; i < count; ++i) {
      const int pixel = pixels[i];
      const std::uint32_t key = (std::uint32_t(prefix) << 8) | std::uint32_t(pixel);
      std::size_t h = (key * 0x9E3779B1u) >> (32 - 13);
      std::uint32_t v;
      while ((v = table[h]) != kFree && (v >> 12) != key) h = (h + 1) & (kSlots - 1);
      if (v != kFree) {
        prefix = int(v & 0xFFF);
        continue;
      }
      emit(prefix);
      prefix = pixel;
      if (free_code < kTableFull) {
        table[h] = (key << 12) | std::uint32_t(free_code++);
      } else {
        // The clear code goes out at the current width; the next code is narrow again.
        out.Put(clear, bits);
        bits = min_bits + 1;
        max_code = (1 << bits) - 1;
        free_code = clear + 2;
        reset();
      }
    }
    emit(prefix);
  }
  out.Put(end, bits);
  out.Finish();
  reset();
}

}  // namespace quarvel::gif
