#pragma once
// GIF image data: the minimum code size byte, the code stream in sub-blocks
// of at most 255 bytes, and the block terminator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarvel::gif {

// Output streams of the library are byte vectors; files are written whole.
using TStream = std::vector<std::uint8_t>;

// Open-addressing string table: 8009 slots of key * 4096 + code.
class THashTable {
 public:
  static constexpr int kSize = 8009;
  static constexpr int kNotFound = -1;

  THashTable() { Clear(); }
  void Clear();
  // key is prefix * 256 + pixel (20 bits), code at most 12 bits.
  void Insert(std::uint32_t key, int code);
  int Lookup(std::uint32_t key) const;

  static int FirstSlot(std::uint32_t key) { return int(((key >> 4) ^ key) % kSize); }
  static int NextSlot(int h) {
    if (h == 0) return kSize - 1;
    int n = 2 * h - kSize;
    return n >= 0 ? n : 2 * h;
  }

 private:
  std::array<std::uint32_t, kSize> slots_;
};

// Packs bytes into sub-blocks: a length byte and up to 255 data bytes.
class TGIFWriter {
 public:
  explicit TGIFWriter(TStream& stream) : stream_(stream) {}
  ~TGIFWriter() { Flush(); }
  TGIFWriter(const TGIFWriter&) = delete;
  TGIFWriter& operator=(const TGIFWriter&) = delete;

  void WriteByte(std::uint8_t b) {
    block_[fill_++] = b;
    if (fill_ == 256) WriteBlock();
  }
  void Write(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) WriteByte(bytes[i]);
  }
  void Flush() {
    if (fill_ > 1) WriteBlock();
  }

 private:
  void WriteBlock() {
    block_[0] = std::uint8_t(fill_ - 1);
    stream_.insert(stream_.end(), block_.data(), block_.data() + fill_);
    fill_ = 1;
  }
  TStream& stream_;
  std::array<std::uint8_t, 256> block_{};
  int fill_ = 1;
};

class TGIFEncoder {
 public:
  virtual ~TGIFEncoder() = default;
  // Writes the complete image data of one frame. Throws GIFException
  // "Color not in color table" at the first index >= colour_count; what was
  // produced before stays in the stream.
  void EncodeImageData(TStream& stream, int code_width, int colour_count, const std::uint8_t* data,
                       bool interlace, int height, int width);

 protected:
  virtual void Compress() = 0;
  // Packs one code at the current width.
  void Output(int code);
  virtual void AfterOutput() {}
  // Next pixel of the walk, checked against the colour count.
  std::uint8_t NextPixel();
  bool PixelsRemain() const { return pixels_left_ > 0; }

  int colour_count_ = 0;
  int code_width_ = 0;
  int width_ = 0, height_ = 0;
  bool interlace_ = false;
  const std::uint8_t* data_ = nullptr;
  const std::uint8_t* cursor_ = nullptr;
  int init_bits_ = 0;
  int bits_ = 0;
  int max_code_ = 0;
  int clear_code_ = 0;
  int end_code_ = 0;
  std::uint32_t bucket_ = 0;
  int pending_bits_ = 0;
  long long pixels_left_ = 0;
  int row_ = 0;
  int pass_ = 0;
  TGIFWriter* writer_ = nullptr;
};

class TLZWEncoder : public TGIFEncoder {
 protected:
  void Compress() override;
  void AfterOutput() override;

 private:
  void OutputClear() {
    clear_pending_ = true;
    Output(clear_code_);
  }
  int free_code_ = 0;
  bool clear_pending_ = false;
};

// Writes every pixel as its own code and clears before the decoder's table
// would widen the codes: no string table, read by every standard decoder.
class TRLEEncoder : public TGIFEncoder {
 protected:
  void Compress() override;
};

}  // namespace quarvel::gif
