// The AVIFile side: uncompressed AVI files written sample by sample, WAVE
// files read as one audio stream, editable copies, reference counts.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include "platform/vfw/ffmpeg_p.h"
#include "platform/vfw/vfw.h"

namespace quarvel::vfw {

namespace {

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += std::uint64_t(n);
    size -= std::size_t(n);
  }
  return true;
}

bool WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += std::uint64_t(n);
    size -= std::size_t(n);
  }
  return true;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(std::uint8_t(v));
  out.push_back(std::uint8_t(v >> 8));
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(tag[i]));
}

}  // namespace

// ---- Handle objects ------------------------------------------------------

struct IAVIStream {
  ULONG refs = 1;
  virtual ~IAVIStream() = default;
  virtual AVISTREAMINFO Info() const = 0;
  virtual HRESULT SetFormat(LONG, const void*, LONG) { return AVIERR_READONLY; }
  virtual const std::vector<std::uint8_t>& Format() const = 0;
  virtual HRESULT Write(LONG, LONG, const void*, LONG, DWORD, LONG*, LONG*) { return AVIERR_READONLY; }
  virtual HRESULT Read(LONG start, LONG samples, void* buffer, LONG cb, LONG* bytes, LONG* got) = 0;
  virtual LONG Length() const = 0;
  virtual IAVIStream* Editable() = 0;
};

struct IAVIFile {
  ULONG refs = 1;
  virtual ~IAVIFile() = default;
  virtual HRESULT CreateStream(PAVISTREAM*, const AVISTREAMINFO&) { return AVIERR_READONLY; }
  virtual HRESULT GetStream(PAVISTREAM* out, DWORD type, LONG n) = 0;
};

namespace {

std::atomic<std::size_t> g_scratch_budget{std::size_t(192) << 20};
std::atomic<std::size_t> g_scratch_held{0};

// ---- Writing: an AVI 1.0 file, headers written when the last handle goes ----

constexpr std::uint64_t kRiffLimit = 0xFFFFFFF0u;  // RIFF sizes are 32 bits

struct IndexEntry {
  std::uint64_t offset;  // of the sample's data in the file
  std::uint32_t size;
  std::uint32_t flags;
  // A sample equal to the one before is an empty chunk here (readers show
  // the picture before again); `offset` and `size` are the earlier data's.
  std::uint64_t chunk = 0;
  bool repeat = false;
  std::uint32_t stored = 0;  // bytes in the file: fewer than `size` when deflated
  // A scratch file's sample held in memory (index into its held samples):
  // an empty chunk in the file.
  std::int64_t held = -1;
};

struct WrittenStream {
  AVISTREAMINFO info;
  std::vector<std::uint8_t> format;
  std::vector<IndexEntry> index;
  std::uint32_t largest = 0;
  char chunk_id[4] = {'0', '0', 'd', 'b'};
  std::vector<std::uint8_t> last;  // the data of the last chunk
};

// Samples held in memory, laid one after another in large blocks: a
// picture copied into fresh memory costs a page fault per page, and a block
// the kernel may back with huge pages costs one per 2 MiB.
class HeldSamples {
 public:
  HeldSamples() = default;
  HeldSamples(const HeldSamples&) = delete;
  HeldSamples& operator=(const HeldSamples&) = delete;
  ~HeldSamples() {
    for (const Block& b : blocks_) ::munmap(b.data, b.size);
  }
  // A copy of the bytes; its index. Throws std::bad_alloc when no memory is left.
  std::size_t Add(const void* data, std::size_t size) {
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) NewBlock(size);
    Block& b = blocks_.back();
    std::uint8_t* to = b.data + b.used;
    std::memcpy(to, data, size);
    b.used += (size + 63) & ~std::size_t{63};
    b.used = std::min(b.used, b.size);
    samples_.push_back({to, size});
    return samples_.size() - 1;
  }
  std::span<const std::uint8_t> operator[](std::size_t i) const { return {samples_[i].data, samples_[i].size}; }

 private:
  static constexpr std::size_t kHuge = std::size_t{2} << 20;
  static constexpr std::size_t kBlock = std::size_t{32} << 20;
  struct Block {
    std::uint8_t* data;
    std::size_t size, used;
  };
  struct Sample {
    const std::uint8_t* data;
    std::size_t size;
  };
  void NewBlock(std::size_t atLeast) {
    const std::size_t size = std::max(kBlock, (atLeast + kHuge - 1) / kHuge * kHuge);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Advice only: without huge pages the block works all the same.
    ::madvise(p, size, MADV_HUGEPAGE);
    blocks_.push_back({static_cast<std::uint8_t*>(p), size, 0});
  }
  std::vector<Block> blocks_;
  std::vector<Sample> samples_;
};

class AviOutput {
 public:
  AviOutput(int fd, bool packed) : fd_(fd), packed_(packed) {}
  ~AviOutput() {
    g_scratch_held -= held_bytes_;
    try {
      Finish();
    } catch (const std::bad_alloc&) {
      // The scratch file stays without its index; nothing else can be done here.
    }
  }

  int fd() const { return fd_.fd; }

  // Reads sample `e` into `out` (e.size bytes).
  bool ReadSample(const IndexEntry& e, std::uint8_t* out) const {
    if (e.held >= 0) {
      const std::span<const std::uint8_t> sample = held_[std::size_t(e.held)];
      if (sample.size() != e.size) return false;
      std::memcpy(out, sample.data(), e.size);
      return true;
    }
    if (e.stored == e.size) return ReadAt(fd_.fd, e.offset, out, e.size);
    std::vector<std::uint8_t> packed(e.stored);
    if (!ReadAt(fd_.fd, e.offset, packed.data(), packed.size())) return false;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (!d) throw std::bad_alloc();
    std::size_t got = 0;
    const auto r = libdeflate_deflate_decompress(d, packed.data(), packed.size(), out, e.size, &got);
    libdeflate_free_decompressor(d);
    return r == LIBDEFLATE_SUCCESS && got == e.size;
  }
  std::vector<WrittenStream> streams;

  HRESULT Append(std::size_t stream, const void* data, std::uint32_t size, DWORD flags) {
    // A scratch file's sample is kept deflated (fast level): raw pictures
    // would take gigabytes beside a file of megabytes.
    const void* raw = data;
    const std::uint32_t raw_size = size;
    // A sample equal to the one before (a still picture) is stored once:
    // an empty chunk repeats it. Known before it would be deflated for nothing.
    WrittenStream& s = streams[stream];
    const bool repeat = raw_size > 0 && !s.index.empty() && s.last.size() == raw_size &&
                        std::memcmp(s.last.data(), raw, raw_size) == 0;
    std::int64_t held = -1;
    if (packed_ && size > 1 && !repeat && Reserve(size)) {
      held = std::int64_t(held_.Add(data, size));
      size = 0;
    } else if (packed_ && size > 1 && !repeat) {
      // ISA-L's level 1: several times faster than libdeflate's on the flat
      // pictures most movies give, for a few percent more bytes.
      if (level_buffer_.empty()) level_buffer_.resize(ISAL_DEF_LVL1_DEFAULT);
      packed_buffer_.resize(size - 1);
      isal_zstream zs;
      isal_deflate_stateless_init(&zs);
      zs.level = 1;
      zs.level_buf = level_buffer_.data();
      zs.level_buf_size = std::uint32_t(level_buffer_.size());
      zs.gzip_flag = IGZIP_DEFLATE;
      zs.end_of_stream = 1;
      zs.next_in = static_cast<std::uint8_t*>(const_cast<void*>(data));
      zs.avail_in = size;
      zs.next_out = packed_buffer_.data();
      zs.avail_out = size - 1;
      // Kept only when smaller: a picture that does not fit overflows.
      if (isal_deflate_stateless(&zs) == COMP_OK) {
        data = packed_buffer_.data();
        size = zs.total_out;
      }
    }
    if (failed_) return AVIERR_FILEWRITE;
    if (!movi_) {
      movi_ = ReserveHeader();
      end_ = *movi_ + 4;
    }
    if (repeat) {
      if (end_ + 8 + 16 * (entries_ + 1) + 8 > kRiffLimit) return AVIERR_FILEWRITE;
      std::uint8_t head[8] = {};
      std::memcpy(head, s.chunk_id, 4);
      if (!WriteAt(fd_.fd, end_, head, sizeof head)) {
        failed_ = true;
        return AVIERR_FILEWRITE;
      }
      const IndexEntry& before = s.index.back();
      s.index.push_back({before.offset, raw_size, flags, end_ + 8, true, before.stored, before.held});
      end_ += 8;
      ++entries_;
      return AVIERR_OK;
    }
    std::uint64_t padded = size + (size & 1u);
    std::uint64_t index_bytes = 16 * (entries_ + 1) + 8;
    if (end_ + 8 + padded + index_bytes > kRiffLimit) return AVIERR_FILEWRITE;
    std::uint8_t head[8];
    std::memcpy(head, streams[stream].chunk_id, 4);
    for (int i = 0; i < 4; ++i) head[4 + i] = std::uint8_t(size >> (8 * i));
    static const std::uint8_t zero = 0;
    iovec parts[3] = {{head, 8}, {const_cast<void*>(data), size}, {const_cast<std::uint8_t*>(&zero), size & 1u}};
    std::uint64_t total = 8 + padded;
    ssize_t n = ::pwritev(fd_.fd, parts, 3, off_t(end_));
    if (n < 0 || std::uint64_t(n) != total) {
      // Short write: finish it the slow way.
      if (n < 0) n = 0;
      std::vector<std::uint8_t> rest;
      rest.insert(rest.end(), head, head + 8);
      rest.insert(rest.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
      if (size & 1u) rest.push_back(0);
      if (!WriteAt(fd_.fd, end_ + std::uint64_t(n), rest.data() + n, rest.size() - std::size_t(n))) {
        failed_ = true;
        return AVIERR_FILEWRITE;
      }
    }
    s.index.push_back({end_ + 8, raw_size, flags, end_ + 8, false, size, held});
    s.largest = std::max(s.largest, raw_size);
    const auto* bytes = static_cast<const std::uint8_t*>(raw);
    s.last.assign(bytes, bytes + raw_size);
    end_ += total;
    ++entries_;
    return AVIERR_OK;
  }

  bool Started() const { return movi_.has_value(); }

 private:
  // Room in memory for a sample of `bytes`, counted against the budget.
  bool Reserve(std::size_t bytes) {
    std::size_t now = g_scratch_held.load();
    do {
      if (now + bytes > g_scratch_budget.load()) return false;
    } while (!g_scratch_held.compare_exchange_weak(now, now + bytes));
    held_bytes_ += bytes;
    return true;
  }

 public:

 private:
  // Header space before "movi", sized for the formats known at the first sample.
  std::uint64_t ReserveHeader() {
    std::uint64_t header = HeaderBytes().size();
    std::uint64_t reserve = (header + 8 + 12 + 2047) / 2048 * 2048;
    return reserve - 12 + 8;  // "LIST" size "movi" ends the reserve
  }

  std::vector<std::uint8_t> HeaderBytes() const {
    std::vector<std::uint8_t> h;
    PutTag(h, "RIFF");
    Put32(h, 0);
    PutTag(h, "AVI ");
    PutTag(h, "LIST");
    std::size_t hdrl_size_at = h.size();
    Put32(h, 0);
    PutTag(h, "hdrl");
    const WrittenStream* video = nullptr;
    std::uint32_t largest = 0;
    for (const auto& s : streams) {
      if (s.info.fccType == streamtypeVIDEO && !video) video = &s;
      largest = std::max(largest, s.largest);
    }
    PutTag(h, "avih");
    Put32(h, 56);
    std::uint32_t usec = 0;
    if (video && video->info.dwRate)
      usec = std::uint32_t(std::uint64_t(video->info.dwScale) * 1000000u / video->info.dwRate);
    Put32(h, usec);
    Put32(h, 0);                         // max bytes per second
    Put32(h, 0);                         // padding granularity
    Put32(h, 0x10);                      // AVIF_HASINDEX
    Put32(h, video ? std::uint32_t(video->index.size()) : 0);
    Put32(h, 0);                         // initial frames
    Put32(h, std::uint32_t(streams.size()));
    Put32(h, largest);
    LONG width = 0, height = 0;
    if (video && video->format.size() >= 40) {
      width = LONG(Le32(video->format.data() + 4));
      height = LONG(Le32(video->format.data() + 8));
    }
    Put32(h, std::uint32_t(width));
    Put32(h, std::uint32_t(height));
    for (int i = 0; i < 4; ++i) Put32(h, 0);
    for (const auto& s : streams) {
      PutTag(h, "LIST");
      std::size_t strl_size_at = h.size();
      Put32(h, 0);
      PutTag(h, "strl");
      PutTag(h, "strh");
      Put32(h, 56);
      Put32(h, s.info.fccType);
      Put32(h, s.info.fccHandler);
      Put32(h, s.info.dwFlags);
      Put16(h, s.info.wPriority);
      Put16(h, s.info.wLanguage);
      Put32(h, s.info.dwInitialFrames);
      Put32(h, s.info.dwScale);
      Put32(h, s.info.dwRate);
      Put32(h, s.info.dwStart);
      Put32(h, std::uint32_t(s.index.size()));
      Put32(h, std::max(s.info.dwSuggestedBufferSize, s.largest));
      Put32(h, s.info.dwQuality);
      Put32(h, s.info.dwSampleSize);
      Put16(h, std::uint16_t(s.info.rcFrame.left));
      Put16(h, std::uint16_t(s.info.rcFrame.top));
      Put16(h, std::uint16_t(s.info.rcFrame.right));
      Put16(h, std::uint16_t(s.info.rcFrame.bottom));
      PutTag(h, "strf");
      Put32(h, std::uint32_t(s.format.size()));
      h.insert(h.end(), s.format.begin(), s.format.end());
      if (s.format.size() & 1u) h.push_back(0);
      std::uint32_t strl = std::uint32_t(h.size() - strl_size_at - 4);
      std::memcpy(h.data() + strl_size_at, &strl, 4);
    }
    std::uint32_t hdrl = std::uint32_t(h.size() - hdrl_size_at - 4);
    std::memcpy(h.data() + hdrl_size_at, &hdrl, 4);
    return h;
  }

  void Finish() {
    if (failed_) return;
    if (!movi_) {
      movi_ = ReserveHeader();
      end_ = *movi_ + 4;
    }
    // idx1: offsets count from the "movi" tag.
    std::vector<std::uint8_t> idx;
    PutTag(idx, "idx1");
    Put32(idx, 0);
    struct Item {
      std::uint64_t offset;
      const WrittenStream* stream;
      std::uint32_t size, flags;
    };
    std::vector<Item> items;
    for (const auto& s : streams)
      for (const auto& e : s.index) items.push_back({e.chunk, &s, e.repeat ? 0u : e.stored, e.flags});
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.offset < b.offset; });
    for (const auto& it : items) {
      PutTag(idx, it.stream->chunk_id);
      Put32(idx, it.flags);
      Put32(idx, std::uint32_t(it.offset - 8 - *movi_));
      Put32(idx, it.size);
    }
    std::uint32_t idx_size = std::uint32_t(idx.size() - 8);
    std::memcpy(idx.data() + 4, &idx_size, 4);
    if (!WriteAt(fd_.fd, end_, idx.data(), idx.size())) return;
    std::uint64_t file_end = end_ + idx.size();

    std::vector<std::uint8_t> h = HeaderBytes();
    std::uint64_t junk_at = h.size();
    std::uint64_t list_at = *movi_ - 8;  // "LIST" size "movi"
    PutTag(h, "JUNK");
    Put32(h, std::uint32_t(list_at - junk_at - 8));
    h.resize(std::size_t(list_at), 0);
    PutTag(h, "LIST");
    Put32(h, std::uint32_t(end_ - list_at - 8));
    PutTag(h, "movi");
    std::uint32_t riff = std::uint32_t(file_end - 8);
    std::memcpy(h.data() + 4, &riff, 4);
    WriteAt(fd_.fd, 0, h.data(), h.size());
    if (::ftruncate(fd_.fd, off_t(file_end)) != 0) failed_ = true;
  }

  Fd fd_;
  bool packed_;
  std::vector<std::uint8_t> level_buffer_;
  std::vector<std::uint8_t> packed_buffer_;
  HeldSamples held_;  // samples kept in memory
  std::size_t held_bytes_ = 0;
  std::optional<std::uint64_t> movi_;  // offset of the "movi" tag
  std::uint64_t end_ = 0;
  std::uint64_t entries_ = 0;
  bool failed_ = false;
};

class WrittenStreamHandle : public IAVIStream {
 public:
  WrittenStreamHandle(std::shared_ptr<AviOutput> out, std::size_t n) : out_(std::move(out)), n_(n) {}

  AVISTREAMINFO Info() const override {
    AVISTREAMINFO info = S().info;
    info.dwLength = DWORD(S().index.size());
    info.dwSuggestedBufferSize = std::max(info.dwSuggestedBufferSize, S().largest);
    return info;
  }
  const std::vector<std::uint8_t>& Format() const override { return S().format; }

  HRESULT SetFormat(LONG pos, const void* format, LONG cb) override {
    if (!format || cb <= 0 || pos < 0) return AVIERR_BADPARAM;
    auto* p = static_cast<const std::uint8_t*>(format);
    std::vector<std::uint8_t> bytes(p, p + cb);
    if (out_->Started()) return bytes == S().format ? AVIERR_OK : AVIERR_UNSUPPORTED;
    if (S().info.fccType == streamtypeVIDEO) {
      if (std::size_t(cb) < sizeof(BITMAPINFOHEADER)) return AVIERR_BADFORMAT;
      DWORD compression = Le32(p + 16);
      std::memcpy(out_->streams[n_].chunk_id + 2, compression == BI_RGB ? "db" : "dc", 2);
    }
    out_->streams[n_].format = std::move(bytes);
    return AVIERR_OK;
  }

  HRESULT Write(LONG start, LONG samples, const void* buffer, LONG cb, DWORD flags, LONG* written,
                LONG* bytes) override {
    if (S().format.empty()) return AVIERR_BADFORMAT;
    LONG length = LONG(S().index.size());
    if (start == -1) start = length;
    if (start != length || samples != 1 || cb < 0 || (cb > 0 && !buffer)) return AVIERR_BADPARAM;
    HRESULT r = out_->Append(n_, buffer, std::uint32_t(cb), flags);
    if (r != AVIERR_OK) return r;
    if (written) *written = 1;
    if (bytes) *bytes = cb;
    return AVIERR_OK;
  }

  HRESULT Read(LONG start, LONG samples, void* buffer, LONG cb, LONG* bytes, LONG* got) override {
    const auto& index = S().index;
    if (start < 0 || samples < 0 || std::size_t(start) > index.size()) return AVIERR_BADPARAM;
    std::size_t end = std::min(index.size(), std::size_t(start) + std::size_t(samples));
    std::uint64_t total = 0;
    for (std::size_t i = std::size_t(start); i < end; ++i) total += index[i].size;
    if (bytes) *bytes = LONG(total);
    if (got) *got = LONG(end - std::size_t(start));
    if (!buffer) return AVIERR_OK;
    if (total > std::uint64_t(std::max<LONG>(cb, 0))) return AVIERR_BUFFERTOOSMALL;
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = std::size_t(start); i < end; ++i) {
      if (!out_->ReadSample(index[i], p)) return AVIERR_FILEREAD;
      p += index[i].size;
    }
    return AVIERR_OK;
  }

  LONG Length() const override { return LONG(S().index.size()); }
  IAVIStream* Editable() override { return new WrittenStreamHandle(out_, n_); }

 private:
  const WrittenStream& S() const { return out_->streams[n_]; }
  std::shared_ptr<AviOutput> out_;
  std::size_t n_;
};

class AviOutputFile : public IAVIFile {
 public:
  explicit AviOutputFile(std::shared_ptr<AviOutput> out) : out_(std::move(out)) {}

  HRESULT CreateStream(PAVISTREAM* out, const AVISTREAMINFO& info) override {
    if (out_->Started() || out_->streams.size() >= 99) return AVIERR_UNSUPPORTED;
    if (info.dwScale == 0 || info.dwRate == 0) return AVIERR_BADPARAM;
    out_->streams.push_back(WrittenStream{info, {}, {}, 0, {}, {}});
    std::size_t n = out_->streams.size() - 1;
    char* id = out_->streams[n].chunk_id;
    id[0] = char('0' + n / 10);
    id[1] = char('0' + n % 10);
    std::memcpy(id + 2, info.fccType == streamtypeAUDIO ? "wb" : "db", 2);
    *out = new WrittenStreamHandle(out_, n);
    return AVIERR_OK;
  }

  HRESULT GetStream(PAVISTREAM* out, DWORD type, LONG n) override {
    LONG seen = 0;
    for (std::size_t i = 0; i < out_->streams.size(); ++i) {
      if (type != 0 && out_->streams[i].info.fccType != type) continue;
      if (seen++ == n) {
        *out = new WrittenStreamHandle(out_, i);
        return AVIERR_OK;
      }
    }
    return AVIERR_NODATA;
  }

 private:
  std::shared_ptr<AviOutput> out_;
};

// ---- Reading: a WAVE file as one audio stream -----------------------------

struct WaveSource {
  explicit WaveSource(int fd) : file(fd) {}
  Fd file;
  std::vector<std::uint8_t> format;
  std::uint64_t data_offset = 0;
  std::uint64_t data_size = 0;
  std::uint32_t block_align = 1;
  std::uint32_t samples_per_block = 1;
  std::uint32_t sample_rate = 0;
};

constexpr std::uint32_t kMaxFormatChunk = 64 * 1024;

// Walks the chunks of a RIFF WAVE file for "fmt " and "data".
HRESULT ReadWaveLayout(WaveSource& wave) {
  struct stat st{};
  if (::fstat(wave.file.fd, &st) != 0) return AVIERR_FILEREAD;
  if (S_ISDIR(st.st_mode)) return AVIERR_FILEREAD;
  std::uint64_t file_size = std::uint64_t(st.st_size);
  std::uint8_t head[12];
  if (file_size < 12) return AVIERR_BADFORMAT;
  if (!ReadAt(wave.file.fd, 0, head, 12)) return AVIERR_FILEREAD;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return AVIERR_BADFORMAT;
  std::uint64_t pos = 12;
  bool have_data = false;
  while (pos + 8 <= file_size) {
    std::uint8_t ck[8];
    if (!ReadAt(wave.file.fd, pos, ck, 8)) return AVIERR_FILEREAD;
    std::uint64_t size = Le32(ck + 4);
    std::uint64_t body = pos + 8;
    if (std::memcmp(ck, "fmt ", 4) == 0 && wave.format.empty()) {
      if (size < 16 || size > kMaxFormatChunk || body + size > file_size) return AVIERR_BADFORMAT;
      wave.format.resize(std::size_t(size));
      if (!ReadAt(wave.file.fd, body, wave.format.data(), wave.format.size())) return AVIERR_FILEREAD;
    } else if (std::memcmp(ck, "data", 4) == 0 && !have_data) {
      // Writers that never came back to fill in the size leave 0 or ~0: take the rest.
      if (size == 0 || size == 0xFFFFFFFFu || body + size > file_size) size = file_size - body;
      wave.data_offset = body;
      wave.data_size = size;
      have_data = true;
    }
    if (have_data && !wave.format.empty()) break;
    pos = body + size + (size & 1u);
  }
  if (wave.format.empty() || !have_data) return AVIERR_BADFORMAT;
  detail::WaveCodec codec = detail::WaveCodecOf(wave.format);
  if (codec.id == AV_CODEC_ID_NONE) return AVIERR_BADFORMAT;
  wave.block_align = Le16(wave.format.data() + 12);
  wave.sample_rate = Le32(wave.format.data() + 4);
  wave.samples_per_block = std::uint32_t(codec.samples_per_block);
  return AVIERR_OK;
}

class WaveStream : public IAVIStream {
 public:
  explicit WaveStream(std::shared_ptr<WaveSource> source) : src_(std::move(source)) {}

  AVISTREAMINFO Info() const override {
    AVISTREAMINFO info;
    info.fccType = streamtypeAUDIO;
    // The real timing of one block, not the rounded byte rate of the header.
    info.dwScale = src_->samples_per_block;
    info.dwRate = src_->sample_rate;
    info.dwSampleSize = src_->block_align;
    info.dwLength = DWORD(Length());
    info.dwSuggestedBufferSize = src_->block_align;
    info.dwQuality = 0xFFFFFFFFu;
    std::memcpy(info.szName, "Sound", 6);
    return info;
  }
  const std::vector<std::uint8_t>& Format() const override { return src_->format; }

  HRESULT Read(LONG start, LONG samples, void* buffer, LONG cb, LONG* bytes, LONG* got) override {
    LONG length = Length();
    if (start < 0 || samples < 0 || start > length) return AVIERR_BADPARAM;
    LONG n = std::min<LONG>(samples, length - start);
    std::uint64_t total = std::uint64_t(n) * src_->block_align;
    if (buffer && total > std::uint64_t(std::max<LONG>(cb, 0))) {
      n = LONG(std::uint64_t(std::max<LONG>(cb, 0)) / src_->block_align);
      total = std::uint64_t(n) * src_->block_align;
      if (n == 0 && samples > 0) return AVIERR_BUFFERTOOSMALL;
    }
    if (bytes) *bytes = LONG(total);
    if (got) *got = n;
    if (!buffer) return AVIERR_OK;
    if (!ReadAt(src_->file.fd, src_->data_offset + std::uint64_t(start) * src_->block_align, buffer,
                std::size_t(total)))
      return AVIERR_FILEREAD;
    return AVIERR_OK;
  }

  LONG Length() const override {
    std::uint64_t blocks = src_->data_size / src_->block_align;
    return LONG(std::min<std::uint64_t>(blocks, std::uint64_t(std::numeric_limits<LONG>::max())));
  }
  IAVIStream* Editable() override { return new WaveStream(src_); }

 private:
  std::shared_ptr<WaveSource> src_;
};

class WaveFile : public IAVIFile {
 public:
  explicit WaveFile(std::shared_ptr<WaveSource> source) : src_(std::move(source)) {}
  HRESULT GetStream(PAVISTREAM* out, DWORD type, LONG n) override {
    if ((type != 0 && type != streamtypeAUDIO) || n != 0) return AVIERR_NODATA;
    *out = new WaveStream(src_);
    return AVIERR_OK;
  }

 private:
  std::shared_ptr<WaveSource> src_;
};

bool HasExtension(const std::filesystem::path& p, std::string_view ext) {
  std::string e = p.extension().string();
  if (e.size() != ext.size()) return false;
  for (std::size_t i = 0; i < e.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(e[i])) != ext[i]) return false;
  return true;
}

}  // namespace

namespace detail {

WaveCodec WaveCodecOf(std::span<const std::uint8_t> f) {
  if (f.size() < 16) return {};
  unsigned tag = Le16(f.data());
  unsigned channels = Le16(f.data() + 2);
  std::uint32_t rate = Le32(f.data() + 4);
  unsigned block = Le16(f.data() + 12);
  unsigned bits = Le16(f.data() + 14);
  unsigned cb = f.size() >= 18 ? Le16(f.data() + 16) : 0;
  std::span<const std::uint8_t> ext = f.size() >= 18 ? f.subspan(18, std::min<std::size_t>(cb, f.size() - 18))
                                                     : std::span<const std::uint8_t>{};
  if (channels < 1 || channels > 8 || rate < 1 || rate > 768000 || block < 1) return {};
  if (tag == 0xFFFE) {  // WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes are the tag
    if (ext.size() < 22) return {};
    tag = Le16(ext.data() + 6);
  }
  auto pcm = [&](AVCodecID id, unsigned bytes_per_sample) -> WaveCodec {
    if (bits == 0 || (bits + 7) / 8 != bytes_per_sample || block != channels * bytes_per_sample) return {};
    return {id, 1};
  };
  switch (tag) {
    case 0x0001:
      switch ((bits + 7) / 8) {
        case 1: return pcm(AV_CODEC_ID_PCM_U8, 1);
        case 2: return pcm(AV_CODEC_ID_PCM_S16LE, 2);
        case 3: return pcm(AV_CODEC_ID_PCM_S24LE, 3);
        case 4: return pcm(AV_CODEC_ID_PCM_S32LE, 4);
        default: return {};
      }
    case 0x0003:
      if (bits == 32) return pcm(AV_CODEC_ID_PCM_F32LE, 4);
      if (bits == 64) return pcm(AV_CODEC_ID_PCM_F64LE, 8);
      return {};
    case 0x0006: return pcm(AV_CODEC_ID_PCM_ALAW, 1);
    case 0x0007: return pcm(AV_CODEC_ID_PCM_MULAW, 1);
    case 0x0011: {  // IMA ADPCM: 4 header bytes per channel, then 4-bit samples
      if (bits != 4 || block <= 4 * channels || (block - 4 * channels) % (4 * channels) != 0) return {};
      int spb = int((block - 4 * channels) * 8 / (4 * channels) + 1);
      return {AV_CODEC_ID_ADPCM_IMA_WAV, spb};
    }
    case 0x0002: {  // MS ADPCM: 7 header bytes per channel
      if (bits != 4 || block <= 7 * channels) return {};
      int spb = int((block - 7 * channels) * 2 / channels + 2);
      return {AV_CODEC_ID_ADPCM_MS, spb};
    }
    default: return {};
  }
}

}  // namespace detail

// ---- The calls -----------------------------------------------------------

void AVIFileInit() {
  // Encoders that refuse a format explain themselves through our results.
  if (ffmpeg::Av().av_log_get_level() == AV_LOG_INFO) ffmpeg::Av().av_log_set_level(AV_LOG_ERROR);
}

void AVIFileExit() {}

void SetScratchMemoryBudget(std::size_t bytes) { g_scratch_budget = bytes; }

HRESULT AVIFileOpen(PAVIFILE* ppfile, const std::filesystem::path& szFile, UINT uMode, const CLSID* pclsidHandler) {
  if (!ppfile) return AVIERR_BADPARAM;
  *ppfile = nullptr;
  (void)pclsidHandler;
  try {
    if (uMode & OF_CREATE) {
      if (!(uMode & OF_WRITE)) return AVIERR_BADFLAGS;
      int fd = ::open(szFile.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd < 0) return AVIERR_FILEOPEN;
      *ppfile = new AviOutputFile(std::make_shared<AviOutput>(fd, (uMode & OF_PACKED) != 0));
      return AVIERR_OK;
    }
    if (uMode & OF_WRITE) return AVIERR_UNSUPPORTED;
    if (!HasExtension(szFile, ".wav")) return REGDB_E_CLASSNOTREG;
    int fd = ::open(szFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
    auto source = std::make_shared<WaveSource>(fd);
    HRESULT r = ReadWaveLayout(*source);
    if (r != AVIERR_OK) return r;
    *ppfile = new WaveFile(std::move(source));
    return AVIERR_OK;
  } catch (const std::bad_alloc&) {
    return AVIERR_MEMORY;
  }
}

ULONG AVIFileAddRef(PAVIFILE pfile) { return pfile ? ++pfile->refs : 0; }

ULONG AVIFileRelease(PAVIFILE pfile) {
  if (!pfile) return 0;
  ULONG left = --pfile->refs;
  if (left == 0) delete pfile;
  return left;
}

HRESULT AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFO* psi) {
  if (!pfile || !ppavi || !psi) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  try {
    return pfile->CreateStream(ppavi, *psi);
  } catch (const std::bad_alloc&) {
    return AVIERR_MEMORY;
  }
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam) {
  if (!pfile || !ppavi) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  return pfile->GetStream(ppavi, fccType, lParam);
}

ULONG AVIStreamAddRef(PAVISTREAM pavi) { return pavi ? ++pavi->refs : 0; }

ULONG AVIStreamRelease(PAVISTREAM pavi) {
  if (!pavi) return 0;
  ULONG left = --pavi->refs;
  if (left == 0) delete pavi;
  return left;
}

HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, LONG lSize) {
  if (!pavi || !psi || lSize < LONG(sizeof(AVISTREAMINFO))) return AVIERR_BADPARAM;
  *psi = pavi->Info();
  return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat) {
  if (!pavi) return AVIERR_BADHANDLE;
  try {
    return pavi->SetFormat(lPos, lpFormat, cbFormat);
  } catch (const std::bad_alloc&) {
    return AVIERR_MEMORY;
  }
}

HRESULT AVIStreamReadFormat(PAVISTREAM pavi, LONG lPos, void* lpFormat, LONG* lpcbFormat) {
  (void)lPos;
  if (!pavi || !lpcbFormat) return AVIERR_BADPARAM;
  const auto& format = pavi->Format();
  if (!lpFormat) {
    *lpcbFormat = LONG(format.size());
    return AVIERR_OK;
  }
  std::size_t n = std::min(format.size(), std::size_t(std::max<LONG>(*lpcbFormat, 0)));
  std::memcpy(lpFormat, format.data(), n);
  *lpcbFormat = LONG(n);
  return n < format.size() ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten) {
  if (!pavi) return AVIERR_BADHANDLE;
  return pavi->Write(lStart, lSamples, lpBuffer, cbBuffer, dwFlags, plSampWritten, plBytesWritten);
}

HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG lSamples, void* lpBuffer, LONG cbBuffer, LONG* plBytes,
                      LONG* plSamples) {
  if (!pavi) return AVIERR_BADHANDLE;
  return pavi->Read(lStart, lSamples, lpBuffer, cbBuffer, plBytes, plSamples);
}

LONG AVIStreamStart(PAVISTREAM pavi) { return pavi ? LONG(pavi->Info().dwStart) : -1; }
LONG AVIStreamLength(PAVISTREAM pavi) { return pavi ? pavi->Length() : -1; }

HRESULT CreateEditableStream(PAVISTREAM* ppsEditable, PAVISTREAM psSource) {
  if (!ppsEditable || !psSource) return AVIERR_BADPARAM;
  try {
    *ppsEditable = psSource->Editable();
    return AVIERR_OK;
  } catch (const std::bad_alloc&) {
    *ppsEditable = nullptr;
    return AVIERR_MEMORY;
  }
}

}  // namespace quarvel::vfw
