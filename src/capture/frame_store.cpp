#include "capture/frame_store.h"

#include <fcntl.h>
#include <unistd.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "platform/paths/working_folder.h"

namespace quarvel::capture {
namespace fs = std::filesystem;

FrameStoreError::FrameStoreError(const fs::path& file, const std::string& problem)
    : std::runtime_error("frame file " + file.string() + ": " + problem), file_(file) {}

namespace {

struct FdCloser {
  void operator()(int* fd) const {
    if (*fd >= 0) ::close(*fd);
    delete fd;
  }
};
using UniqueFd = std::unique_ptr<int, FdCloser>;

void WriteAll(int fd, const std::uint8_t* data, std::size_t n, const fs::path& path) {
  while (n > 0) {
    ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw FrameStoreError(path, std::string("cannot write: ") + std::strerror(errno));
    }
    data += w;
    n -= std::size_t(w);
  }
}

}  // namespace

void SaveFrameFile(const gdi::Bitmap& picture, long long n) { SaveFrameFile(picture, paths::FrameFilePath(n)); }

void SaveFrameFile(const gdi::Bitmap& picture, const fs::path& path) {
  std::vector<std::uint8_t> packed = PackFrame(picture, path);
  WritePackedFrame(packed, path);
}

struct FramePacker::Stream {
  isal_zstream zs;
  std::vector<std::uint8_t> level_buf = std::vector<std::uint8_t>(ISAL_DEF_LVL1_DEFAULT);
  std::vector<std::uint8_t> head;
};

// Whether nearly every pixel repeats the one on its left, on every eighth
// row. libdeflate's level 1 hashes every byte of a long match and so takes
// twice zlib's time on such pictures, while it is twice as fast on busy ones.
bool MostlyFlat(const gdi::Bitmap& picture, int percent) {
  if (picture.BitsPerPixel() < 8) return false;
  const int bytes = picture.BitsPerPixel() / 8;
  const int w = picture.Width();
  if (w < 2) return false;
  long long same = 0, total = 0;
  for (int y = 0; y < picture.Height(); y += 8) {
    const std::uint8_t* row = picture.ScanLine(y);
    for (int x = 1; x < w; ++x) same += std::memcmp(row + x * bytes, row + (x - 1) * bytes, std::size_t(bytes)) == 0;
    total += w - 1;
  }
  return same * 100 >= total * percent;
}

FramePacker::FramePacker() : stream_(std::make_unique<Stream>()) {}
FramePacker::~FramePacker() = default;

// ISA-L's level 1, its fastest with matching: on busy pictures a third
// faster than libdeflate's level 1 for a few percent more bytes, on flat ones
// several times faster than either. Deflated straight from the picture's
// header and rows.
std::size_t FramePacker::Pack(const gdi::Bitmap& picture, const fs::path& path, std::vector<std::uint8_t>& buffer) {
  if (picture.Empty()) throw FrameStoreError(path, "the picture is empty");
  const std::size_t header = gdi::BmpHeaderSize(picture);
  auto bits = picture.Bits();
  std::vector<std::uint8_t>& head = stream_->head;
  head.resize(header);
  gdi::WriteBmpHeader(picture, head.data());
  // Stored blocks at worst, and the zlib header and check value.
  const std::size_t bound = compressBound(uLong(header + bits.size())) + 64;
  if (buffer.size() < bound) buffer.resize(bound);
  isal_zstream& zs = stream_->zs;
  isal_deflate_init(&zs);
  zs.level = 1;
  zs.level_buf = stream_->level_buf.data();
  zs.level_buf_size = std::uint32_t(stream_->level_buf.size());
  zs.gzip_flag = IGZIP_ZLIB;
  zs.next_out = buffer.data();
  zs.avail_out = std::uint32_t(bound);
  zs.next_in = head.data();
  zs.avail_in = std::uint32_t(header);
  zs.end_of_stream = 0;
  if (isal_deflate(&zs) != COMP_OK || zs.avail_in != 0) throw FrameStoreError(path, "cannot be compressed");
  zs.next_in = const_cast<std::uint8_t*>(bits.data());
  zs.avail_in = std::uint32_t(bits.size());
  zs.end_of_stream = 1;
  if (isal_deflate(&zs) != COMP_OK || zs.internal_state.state != ZSTATE_END)
    throw FrameStoreError(path, "cannot be compressed");
  return zs.total_out;
}

std::vector<std::uint8_t> PackFrame(const gdi::Bitmap& picture, const fs::path& path) {
  std::vector<std::uint8_t> out;
  out.resize(FramePacker().Pack(picture, path, out));
  return out;
}

void WritePackedFrame(std::span<const std::uint8_t> packed, const fs::path& path) {
  // Write beside the final name and rename, so a failure never leaves half a frame.
  fs::path temp = path;
  temp += ".part";
  UniqueFd fd(new int(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)));
  if (*fd < 0) throw FrameStoreError(path, std::string("cannot create: ") + std::strerror(errno));
  try {
    WriteAll(*fd, packed.data(), packed.size(), path);
    if (::close(*fd) != 0) {
      *fd = -1;
      throw FrameStoreError(path, std::string("cannot write: ") + std::strerror(errno));
    }
    *fd = -1;
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) throw FrameStoreError(path, "cannot replace: " + ec.message());
  } catch (...) {
    std::error_code ignore;
    fs::remove(temp, ignore);
    throw;
  }
}

namespace {

std::vector<std::uint8_t> ReadPacked(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw FrameStoreError(path, "cannot open");
  std::streamoff size = in.tellg();
  if (size < 0) throw FrameStoreError(path, "cannot read");
  // Deflate never grows data by more than a few bytes per 16 KiB block.
  if (std::uint64_t(size) > kMaxFrameImageBytes + kMaxFrameImageBytes / 1024)
    throw FrameStoreError(path, "is too large for a frame file");
  std::vector<std::uint8_t> packed(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!packed.empty() && !in.read(reinterpret_cast<char*>(packed.data()), size))
    throw FrameStoreError(path, "cannot read");
  return packed;
}

std::vector<std::uint8_t> InflatePacked(const std::vector<std::uint8_t>& packed, const fs::path& path) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw std::runtime_error("zlib inflateInit failed");
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
  zs.next_in = const_cast<Bytef*>(packed.data());
  zs.avail_in = uInt(packed.size());
  std::vector<std::uint8_t> out;
  // Grow in steps. The first step is the size the BMP header states, as far
  // as deflate's best ratio (about 1032:1) lets the packed size vouch for it,
  // so a bad file can't dictate the allocation; a good one needs no regrowth.
  std::size_t chunk = std::max<std::size_t>(packed.size() * 4, 64 * 1024);
  std::uint8_t head[6];
  zs.next_out = head;
  zs.avail_out = sizeof head;
  int first = inflate(&zs, Z_NO_FLUSH);
  if (first == Z_OK && zs.total_out == sizeof head && head[0] == 'B' && head[1] == 'M') {
    std::size_t stated = std::size_t(head[2]) | (std::size_t(head[3]) << 8) | (std::size_t(head[4]) << 16) |
                         (std::size_t(head[5]) << 24);
    std::size_t vouched = std::min(packed.size() * 1040, kMaxFrameImageBytes);
    if (stated > sizeof head && stated <= vouched) chunk = stated - sizeof head + 1;
  }
  out.assign(head, head + zs.total_out);
  if (first == Z_STREAM_END) return out;
  if (first != Z_OK && first != Z_BUF_ERROR) {
    std::string msg = zs.msg ? zs.msg : "bad data";
    throw FrameStoreError(path, "not a valid compressed frame (" + msg + ")");
  }
  for (;;) {
    std::size_t used = out.size();
    std::size_t grow = std::min(chunk, kMaxFrameImageBytes + 1 - used);
    out.resize(used + grow);
    zs.next_out = out.data() + used;
    zs.avail_out = uInt(grow);
    int rc = inflate(&zs, Z_NO_FLUSH);
    out.resize(zs.total_out);
    if (rc == Z_STREAM_END) break;
    if (zs.total_out > kMaxFrameImageBytes) throw FrameStoreError(path, "inflates past 256 MiB");
    if (rc == Z_DATA_ERROR) {
      std::string msg = zs.msg ? zs.msg : "bad data";
      throw FrameStoreError(path, "not a valid compressed frame (" + msg + ")");
    }
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) throw FrameStoreError(path, "is truncated");
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw FrameStoreError(path, "cannot be inflated (zlib error " + std::to_string(rc) + ")");
    chunk *= 2;
  }
  return out;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// Inflates exactly n bytes to out; false when the stream has fewer.
bool InflateExactly(z_stream& zs, std::uint8_t* out, std::size_t n, int& rc) {
  zs.next_out = out;
  zs.avail_out = uInt(n);
  while (zs.avail_out > 0) {
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) return zs.avail_out == 0;
    if (rc != Z_OK) return false;
  }
  return true;
}

// The frame files we write hold a BMP image in the one layout SaveBmp
// writes. Such a file is inflated straight into picture's rows (reusing its
// memory when its size and format fit), which spares the copy of the whole
// image and the zeroing of a buffer for it. Anything else, damaged files
// included, returns false and is left to the general reader, whose result
// and errors are the reference.
bool InflateOwnLayout(const std::vector<std::uint8_t>& packed, gdi::Bitmap& picture, bool keep_alpha) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
  zs.next_in = const_cast<Bytef*>(packed.data());
  zs.avail_in = uInt(packed.size());
  int rc = Z_OK;
  std::uint8_t head[54 + 1024];
  if (!InflateExactly(zs, head, 54, rc) || rc == Z_STREAM_END) return false;
  if (head[0] != 'B' || head[1] != 'M' || Le32(head + 14) != 40) return false;
  const std::uint32_t off_bits = Le32(head + 10);
  const std::int32_t width = std::int32_t(Le32(head + 18)), height = std::int32_t(Le32(head + 22));
  const int bits = head[28] | (head[29] << 8);
  const std::uint32_t compression = Le32(head + 30), colours = Le32(head + 46);
  if (width <= 0 || height <= 0 || width > gdi::kMaxDimension || height > gdi::kMaxDimension) return false;
  gdi::PixelFormat format;
  if ((bits == 1 || bits == 4 || bits == 8) && compression == 0 && colours > 0 && colours <= (1u << bits))
    format = gdi::FormatForBits(bits);
  else if (bits == 16 && compression == 0)
    format = gdi::PixelFormat::pf15bit;
  else if (bits == 16 && compression == 3)
    format = gdi::PixelFormat::pf16bit;
  else if ((bits == 24 || bits == 32) && compression == 0)
    format = gdi::FormatForBits(bits);
  else
    return false;
  if (off_bits < 54 || off_bits > sizeof head) return false;
  // As in the general reader: the packed size must vouch for the image.
  const std::uint64_t stride = (std::uint64_t(width) * std::uint64_t(bits) + 31) / 32 * 4;
  const std::uint64_t image = stride * std::uint64_t(height);
  if (image > kMaxFrameImageBytes || image + off_bits > std::uint64_t(packed.size()) * 1040) return false;
  if (!InflateExactly(zs, head + 54, off_bits - 54, rc) || rc == Z_STREAM_END) return false;

  if (picture.Width() != width || picture.Height() != height || picture.Format() != format)
    picture = gdi::Bitmap(width, height, format);
  if (gdi::IsPalettized(format)) {
    std::vector<gdi::Color> palette(colours);
    for (std::size_t i = 0; i < colours; ++i) {
      const std::uint8_t* q = head + 54 + 4 * i;
      palette[i] = gdi::Color{q[2], q[1], q[0]};
    }
    picture.SetPalette(std::move(palette));
  }
  // The header must be byte for byte the one written for such a picture;
  // then the rows are the picture's own layout.
  if (gdi::BmpHeaderSize(picture) != off_bits) return false;
  std::uint8_t expected[sizeof head];
  gdi::WriteBmpHeader(picture, expected);
  if (std::memcmp(expected, head, off_bits) != 0) return false;

  auto rows = picture.Bits();
  if (rows.size() != image) return false;
  // The whole stream again through libdeflate, twice as fast as zlib: it
  // must fill exactly header and image and end there, check value included.
  struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    std::vector<std::uint8_t> scratch;
    ~Decompressor() { libdeflate_free_decompressor(d); }
  };
  thread_local Decompressor dec;
  if (dec.d == nullptr) return false;
  dec.scratch.resize(off_bits + image);
  if (libdeflate_zlib_decompress(dec.d, packed.data(), packed.size(), dec.scratch.data(), dec.scratch.size(),
                                 nullptr) != LIBDEFLATE_SUCCESS)
    return false;
  std::memcpy(rows.data(), dec.scratch.data() + off_bits, image);
  if (bits == 32 && !keep_alpha)
    for (int y = 0; y < height; ++y) {
      std::uint8_t* p = picture.ScanLine(y);
      for (int x = 0; x < width; ++x) p[4 * x + 3] = 0;
    }
  return true;
}

void ReadFramePicture(const fs::path& path, gdi::Bitmap& picture, bool keep_alpha) {
  std::vector<std::uint8_t> packed = ReadPacked(path);
  if (InflateOwnLayout(packed, picture, keep_alpha)) return;
  std::vector<std::uint8_t> image = InflatePacked(packed, path);
  try {
    picture = gdi::LoadBmp(image);
  } catch (const gdi::BitmapError& e) {
    throw FrameStoreError(path, e.what());
  }
}

}  // namespace

std::vector<std::uint8_t> LoadFrameFile(const fs::path& path) { return InflatePacked(ReadPacked(path), path); }

gdi::Bitmap LoadFramePicture(const fs::path& path, bool keep_alpha) {
  gdi::Bitmap picture;
  ReadFramePicture(path, picture, keep_alpha);
  return picture;
}

bool FramesEqual(const gdi::Bitmap& a, const gdi::Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  if (a.Empty()) return true;
  int ba = a.BitsPerPixel(), bb = b.BitsPerPixel();
  if ((ba == 32 || ba == 24) && (bb == 32 || bb == 24)) {
    // Colour bytes only: the fourth byte of a 32-bit pixel is not part of the colour.
    int sa = ba / 8, sb = bb / 8;
    for (int y = 0; y < a.Height(); ++y) {
      const std::uint8_t* pa = a.ScanLine(y);
      const std::uint8_t* pb = b.ScanLine(y);
      if (sa == sb) {
        // Equal rows are the common case; a 32-bit row that differs may
        // still differ only in the fourth bytes.
        if (std::memcmp(pa, pb, std::size_t(a.Width()) * std::size_t(sa)) == 0) continue;
        if (sa == 3) return false;
      }
      for (int x = 0; x < a.Width(); ++x, pa += sa, pb += sb)
        if (pa[0] != pb[0] || pa[1] != pb[1] || pa[2] != pb[2]) return false;
    }
    return true;
  }
  gdi::Bitmap ca = a.ConvertTo(gdi::PixelFormat::pf24bit);
  gdi::Bitmap cb = b.ConvertTo(gdi::PixelFormat::pf24bit);
  return FramesEqual(ca, cb);
}

bool FramesEqualWithAlpha(const gdi::Bitmap& a, const gdi::Bitmap& b) {
  if (a.BitsPerPixel() != 32 || b.BitsPerPixel() != 32) return FramesEqual(a, b);
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), std::size_t(a.Width()) * 4) != 0) return false;
  return true;
}

void ClearFrameStore() {
  std::error_code ec;
  fs::path folder = paths::CaptureFolder();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    std::string stem = p.stem().string();
    if (p.extension() != ".bmp" || stem.empty() || stem.size() > 18) continue;
    if (stem.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignore;
    fs::remove(p, ignore);
  }
  std::error_code ignore;
  fs::remove(paths::RecordingFilePath(), ignore);
  fs::remove(folder / kCaptureRecordName, ignore);
}

const gdi::Bitmap& FrameSequence::Read(long long i) {
  fs::path path = paths::FrameFilePath(i + 1);
  std::error_code ec;
  present_ = fs::exists(path, ec);
  // Decoded into the last picture's memory: frames rarely change size.
  if (present_) ReadFramePicture(path, last_, keep_alpha_);
  return last_;
}

}  // namespace quarvel::capture
