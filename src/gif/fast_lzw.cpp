#include "gif/fast_lzw.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace quarvel::gif {

namespace {

constexpr int kMaxBits = 12;
constexpr int kTableFull = 4095;
constexpr int kSlotBits = 15;  // eight times the codes a table holds: probes of one slot, mostly
constexpr std::size_t kSlots = std::size_t(1) << kSlotBits;
constexpr std::uint32_t kFree = 0xFFFFFFFFu;

// Packs codes LSB first into a flat buffer, 32 bits at a time; the buffer
// is cut into sub-blocks once the codes are all in.
class BitPacker {
 public:
  explicit BitPacker(std::uint8_t* out) : out_(out) {}
  void Put(std::uint32_t code, int bits) {
    bucket_ |= std::uint64_t(code) << pending_;
    pending_ += bits;
    if (pending_ >= 32) {
      const auto word = std::uint32_t(bucket_);
      // Little-endian bytes whatever the host.
      out_[0] = std::uint8_t(word);
      out_[1] = std::uint8_t(word >> 8);
      out_[2] = std::uint8_t(word >> 16);
      out_[3] = std::uint8_t(word >> 24);
      out_ += 4;
      bucket_ >>= 32;
      pending_ -= 32;
    }
  }
  // Bytes complete so far.
  std::size_t Written(const std::uint8_t* start) const { return std::size_t(out_ - start); }
  std::uint8_t* Finish() {
    while (pending_ > 0) {
      *out_++ = std::uint8_t(bucket_);
      bucket_ >>= 8;
      pending_ -= 8;
    }
    return out_;
  }

 private:
  std::uint8_t* out_;
  std::uint64_t bucket_ = 0;
  int pending_ = 0;
};

}  // namespace

TFastLZWEncoder::TFastLZWEncoder()
    : slots_(kSlots, kFree), run_codes_(std::make_unique_for_overwrite<std::uint16_t[]>(256 * kRunCodes)) {
  run_known_.fill(1);
}

void TFastLZWEncoder::ClearTable() {
  for (std::size_t k = 0; k < taken_count_; ++k) slots_[taken_[k]] = kFree;
  taken_count_ = 0;
  for (std::uint8_t p : run_pixels_) run_known_[p] = 1;
  run_pixels_.clear();
}

bool TFastLZWEncoder::MostlyRuns(const std::uint8_t* pixels, std::size_t count) {
  // Pixels equal to the one before, on 64 stretches spread over the picture.
  constexpr std::size_t kStretches = 64, kLength = 64;
  if (count < 2 * kStretches * kLength) return count > 0;
  std::size_t same = 0;
  for (std::size_t s = 0; s < kStretches; ++s) {
    const std::uint8_t* p = pixels + s * (count - kLength - 1) / kStretches;
    for (std::size_t k = 0; k < kLength; ++k) same += p[k + 1] == p[k];
  }
  return same * 2 >= kStretches * kLength;
}

std::size_t TFastLZWEncoder::RunFrom(const std::uint8_t* p, std::size_t max, std::uint8_t value) {
  std::size_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight pixels at a time: the first that differs is the lowest set byte.
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    for (; n + 8 <= max; n += 8) {
      std::uint64_t word;
      std::memcpy(&word, p + n, 8);
      if (const std::uint64_t diff = word ^ pattern; diff != 0) return n + std::size_t(std::countr_zero(diff) / 8);
    }
  }
  while (n < max && p[n] == value) ++n;
  return n;
}

void TFastLZWEncoder::Encode(TStream& stream, int code_width, const std::uint8_t* pixels, std::size_t count) {
  EncodeWithin(stream, code_width, pixels, count, SIZE_MAX);
}

bool TFastLZWEncoder::EncodeWithin(TStream& stream, int code_width, const std::uint8_t* pixels, std::size_t count,
                                   std::size_t limit) {
  const int min_bits = std::max(code_width, 2);
  // At most one code per pixel, a clear per 4000 codes, the first clear and
  // the end, none wider than 12 bits.
  codes_.resize((count + count / 2048 + 4) * 3 / 2 + 8);
  BitPacker out(codes_.data());
  const std::uint32_t clear = 1u << min_bits, end = clear + 1;
  int bits = min_bits + 1;
  std::uint32_t max_code = (1u << bits) - 1;
  std::uint32_t free_code = clear + 2;
  std::uint32_t* const table = slots_.data();
  out.Put(clear, bits);
  // The encoding loop, with or without the run step: its bookkeeping costs
  // busy pictures a quarter of their time, so it runs where runs abound.
  const auto encode = [&]<bool kRuns>() -> bool {
    if (count == 0) return true;
    std::uint32_t prefix = pixels[0];
    // The prefix as a run: `run_length` pixels of `run_pixel`; no pixel
    // matches kNoRun, the prefix of a string that is not a run.
    constexpr std::uint32_t kNoRun = 0x100;
    std::uint32_t run_pixel = prefix;
    std::uint32_t run_length = 1;
    for (std::size_t i = 1; i < count; ++i) {
      const std::uint32_t pixel = pixels[i];
      if constexpr (kRuns) {
        if (pixel == run_pixel && run_length + 1 < run_known_[pixel]) {
          // The table holds the run strings up to the longest one made: the
          // pixels of the run extend the prefix that far without a probe.
          const std::size_t take = RunFrom(pixels + i, std::min<std::size_t>(count - i, run_known_[pixel] - run_length),
                                           std::uint8_t(pixel));
          run_length += std::uint32_t(take);
          prefix = run_codes_[std::size_t(pixel) * kRunCodes + run_length];
          i += take - 1;
          continue;
        }
      }
      const std::uint32_t key = (prefix << 8) | pixel;
      std::size_t h = (key * 0x9E3779B1u) >> (32 - kSlotBits);
      std::uint32_t v;
      while ((v = table[h]) != kFree && (v >> 12) != key) h = (h + 1) & (kSlots - 1);
      if (v != kFree) {
        if constexpr (kRuns) {
          // One more pixel of the run (the step above stops one short), or another pixel.
          if (pixel == run_pixel)
            ++run_length;
          else
            run_pixel = kNoRun;
        }
        prefix = v & 0xFFF;
        continue;
      }
      // Widening follows TLZWEncoder: after a code is written, at the width it was written with.
      out.Put(prefix, bits);
      if (out.Written(codes_.data()) >= limit) return false;
      if (free_code > max_code && bits < kMaxBits) {
        ++bits;
        max_code = bits == kMaxBits ? 4096 : (1u << bits) - 1;
      }
      if (free_code < kTableFull) {
        if constexpr (kRuns) {
          // Runs are also listed apart, for the step above.
          if (pixel == run_pixel) {
            if (run_known_[pixel] == 1) run_pixels_.push_back(std::uint8_t(pixel));
            run_codes_[std::size_t(pixel) * kRunCodes + ++run_known_[pixel]] = std::uint16_t(free_code);
          }
        }
        table[h] = (key << 12) | free_code++;
        taken_[taken_count_++] = std::uint16_t(h);
      } else {
        // The clear code goes out at the current width; the next code is narrow again.
        out.Put(clear, bits);
        bits = min_bits + 1;
        max_code = (1u << bits) - 1;
        free_code = clear + 2;
        ClearTable();
      }
      prefix = pixel;
      if constexpr (kRuns) {
        run_pixel = pixel;
        run_length = 1;
      }
    }
    out.Put(prefix, bits);
    if (free_code > max_code && bits < kMaxBits) ++bits;
    return true;
  };
  const bool whole = MostlyRuns(pixels, count) ? encode.template operator()<true>() : encode.template operator()<false>();
  if (!whole) {
    ClearTable();
    return false;
  }
  out.Put(end, bits);
  const std::size_t size = std::size_t(out.Finish() - codes_.data());
  ClearTable();
  if (size >= limit) return false;
  // Minimum code size, sub-blocks of 255 bytes and the terminator. Appended,
  // not resized and overwritten: a frame's bytes are written once, and
  // their pages are new memory that a fill would touch first.
  stream.reserve(stream.size() + 1 + size + (size + 254) / 255 + 1);
  stream.push_back(std::uint8_t(min_bits));
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min<std::size_t>(255, size - done);
    stream.push_back(std::uint8_t(n));
    stream.insert(stream.end(), codes_.data() + done, codes_.data() + done + n);
    done += n;
  }
  stream.push_back(0);
  return true;
}

}  // namespace quarvel::gif
