#include "gif/lzw_encoder.h"

#include <cstring>

#include "gif/gif_exception.h"

namespace quarvel::gif {

namespace {
constexpr std::uint32_t kEmptyFrom = 0xFFFFF000u;
constexpr int kMaxBits = 12;
constexpr int kTableFull = 4095;
}  // namespace

void THashTable::Clear() { std::memset(slots_.data(), 0xFF, sizeof(slots_)); }

void THashTable::Insert(std::uint32_t key, int code) {
  int h = FirstSlot(key);
  // The probe cycle is far longer than the 4094 codes ever stored; the bound
  // only guards against a corrupted table.
  for (int probes = 0; probes < kSize; ++probes) {
    if (slots_[h] >= kEmptyFrom) {
      slots_[h] = (key << 12) + std::uint32_t(code);
      return;
    }
    h = NextSlot(h);
  }
  throw GIFException("LZW string table is full");
}

int THashTable::Lookup(std::uint32_t key) const {
  int h = FirstSlot(key);
  for (int probes = 0; probes < kSize; ++probes) {
    std::uint32_t v = slots_[h];
    if (v >= kEmptyFrom) return kNotFound;
    if ((v >> 12) == key) return int(v & 0xFFF);
    h = NextSlot(h);
  }
  return kNotFound;
}

void TGIFEncoder::EncodeImageData(TStream& stream, int code_width, int colour_count, const std::uint8_t* data,
                                  bool interlace, int height, int width) {
  colour_count_ = colour_count;
  code_width_ = code_width < 2 ? 2 : code_width;
  width_ = width;
  height_ = height;
  interlace_ = interlace;
  data_ = data;
  cursor_ = data;
  init_bits_ = code_width_ + 1;
  bits_ = init_bits_;
  max_code_ = (1 << bits_) - 1;
  clear_code_ = 1 << code_width_;
  end_code_ = clear_code_ + 1;
  bucket_ = 0;
  pending_bits_ = 0;
  pixels_left_ = interlace ? width : (long long)width * height;
  row_ = 0;
  pass_ = 0;

  stream.push_back(std::uint8_t(code_width_));
  {
    TGIFWriter writer(stream);
    writer_ = &writer;
    try {
      if (data != nullptr && width > 0 && height > 0) Compress();
      Output(end_code_);
    } catch (...) {
      writer_ = nullptr;
      throw;  // the writer flushes what it holds on the way out
    }
    writer_ = nullptr;
  }
  stream.push_back(0);
}

void TGIFEncoder::Output(int code) {
  if (pending_bits_ > 0)
    bucket_ = (bucket_ & ((1u << pending_bits_) - 1)) | (std::uint32_t(code) << pending_bits_);
  else
    bucket_ = std::uint32_t(code);
  pending_bits_ += bits_;
  while (pending_bits_ >= 8) {
    writer_->WriteByte(std::uint8_t(bucket_));
    bucket_ >>= 8;
    pending_bits_ -= 8;
  }
  if (code == end_code_ && pending_bits_ > 0) {
    writer_->WriteByte(std::uint8_t(bucket_));
    bucket_ = 0;
    pending_bits_ = 0;
  }
  AfterOutput();
}

std::uint8_t TGIFEncoder::NextPixel() {
  std::uint8_t pixel = *cursor_++;
  if (pixel >= colour_count_) throw GIFException(sBadColorIndex);
  if (--pixels_left_ == 0 && interlace_) {
    static constexpr int kStep[4] = {8, 8, 4, 2};
    static constexpr int kStart[4] = {0, 4, 2, 1};
    row_ += kStep[pass_];
    while (row_ >= height_ && pass_ < 3) {
      ++pass_;
      row_ = kStart[pass_];
    }
    if (row_ < height_) {
      cursor_ = data_ + std::size_t(row_) * std::size_t(width_);
      pixels_left_ = width_;
    }
  }
  return pixel;
}

void TLZWEncoder::Compress() {
  auto table = std::make_unique<THashTable>();
  OutputClear();
  free_code_ = clear_code_ + 2;

  int prefix = NextPixel();
  while (PixelsRemain()) {
    int pixel = NextPixel();
    std::uint32_t key = (std::uint32_t(prefix) << 8) | std::uint32_t(pixel);
    int found = table->Lookup(key);
    if (found != THashTable::kNotFound) {
      prefix = found;
      continue;
    }
    Output(prefix);
    prefix = pixel;
    if (free_code_ < kTableFull) {
      table->Insert(key, free_code_++);
    } else {
      OutputClear();
      table->Clear();
      free_code_ = clear_code_ + 2;
    }
  }
  Output(prefix);
}

void TLZWEncoder::AfterOutput() {
  if (clear_pending_) {
    // The clear code itself was packed at the old width; the next one is narrow.
    bits_ = init_bits_;
    max_code_ = (1 << bits_) - 1;
    clear_pending_ = false;
  } else if (free_code_ > max_code_) {
    ++bits_;
    max_code_ = bits_ == kMaxBits ? 4096 : (1 << bits_) - 1;
  }
}

void TRLEEncoder::Compress() {
  // After a clear the decoder enters one string per code from the second on;
  // clearing every 2^code_width - 2 codes keeps its width at the initial one.
  const int codes_per_clear = (1 << code_width_) - 2;
  int since_clear = 0;
  Output(clear_code_);
  while (PixelsRemain()) {
    if (since_clear == codes_per_clear) {
      Output(clear_code_);
      since_clear = 0;
    }
    Output(NextPixel());
    ++since_clear;
  }
}

}  // namespace quarvel::gif
