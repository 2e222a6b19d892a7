#include "player/swf/movie.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace quarvel::swf {
namespace {

// Room past the expected end, so that the decoder can report the end.
constexpr std::size_t kSlack = 64 * 1024;
constexpr std::size_t kMaxChunk = 4 * 1024 * 1024;

struct ZStreamDeleter {
  void operator()(z_stream* z) const {
    inflateEnd(z);
    delete z;
  }
};
using ZStreamPtr = std::unique_ptr<z_stream, ZStreamDeleter>;

struct LzmaStreamDeleter {
  void operator()(lzma_stream* s) const {
    lzma_end(s);
    delete s;
  }
};
using LzmaStreamPtr = std::unique_ptr<lzma_stream, LzmaStreamDeleter>;

std::string MiB(std::uint64_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

std::atomic<std::uint64_t> g_max_movie_size{kDefaultMaxMovieSize};
std::atomic<std::uint64_t> g_min_cap{std::uint64_t{256} << 20};  // see SetMaxMovieSize
std::atomic<bool (*)()> g_interrupted{nullptr};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Raised when the output outgrows the buffer reserved for it.
struct Overflow {};

// Where the decoder's output goes: a buffer reserved up front that never
// reallocates (a copy would double the peak), or nowhere, only counted.
class Sink {
 public:
  // Writing into out, up to its capacity.
  Sink(std::vector<std::uint8_t>& out, std::uint64_t cap) : out_(&out), cap_(cap) {}
  // Counting only.
  explicit Sink(std::uint64_t cap) : cap_(cap), scratch_(kMaxChunk) {}

  std::uint64_t Produced() const { return out_ ? out_->size() - 8 : counted_; }

  // Room for the next piece of output; throws when the cap is passed or
  // the expansion is interrupted.
  std::uint8_t* Grow(std::size_t& avail, const char* what) {
    if (auto check = g_interrupted.load(); check && check()) throw SwfError(std::string(what) + ": interrupted");
    CheckCap(what);
    const std::uint64_t left = cap_ + 1 - Produced();  // one byte past the cap shows a bomb
    if (!out_) {
      avail = static_cast<std::size_t>(std::min<std::uint64_t>(scratch_.size(), left));
      given_ = avail;
      return scratch_.data();
    }
    const std::size_t room = out_->capacity() - out_->size();
    if (room == 0) throw Overflow{};
    avail = static_cast<std::size_t>(std::min<std::uint64_t>({room, kMaxChunk, left}));
    const std::size_t old = out_->size();
    out_->resize(old + avail);
    return out_->data() + old;
  }
  void Used(std::size_t unused) {
    if (out_) {
      out_->resize(out_->size() - unused);
    } else {
      counted_ += given_ - unused;
    }
  }
  void CheckCap(const char* what) const {
    if (Produced() > cap_) throw SwfError(std::string(what) + " inflates past " + MiB(cap_) + "; refusing it");
  }

 private:
  std::vector<std::uint8_t>* out_ = nullptr;
  std::uint64_t cap_;
  std::vector<std::uint8_t> scratch_;
  std::uint64_t counted_ = 0;
  std::size_t given_ = 0;
};

// stop_after: stop once that many body bytes are out (the head only).
// Returns true when the stream ended early and that was accepted.
bool InflateZlib(std::span<const std::uint8_t> in, Sink& sink, bool accept_truncated, std::uint64_t stop_after) {
  ZStreamPtr z(new z_stream{});
  if (inflateInit(z.get()) != Z_OK) throw SwfError("zlib could not be initialised");
  // zlib counts in uInt; feed large input in pieces.
  std::size_t in_pos = 0;
  bool cut = false;
  for (;;) {
    if (z->avail_in == 0 && in_pos < in.size()) {
      const std::size_t n = std::min<std::size_t>(in.size() - in_pos, 1u << 30);
      z->next_in = const_cast<Bytef*>(in.data() + in_pos);
      z->avail_in = static_cast<uInt>(n);
      in_pos += n;
    }
    std::size_t avail = 0;
    z->next_out = sink.Grow(avail, "compressed SWF body");
    z->avail_out = static_cast<uInt>(avail);
    const int rc = inflate(z.get(), Z_NO_FLUSH);
    sink.Used(z->avail_out);
    if (rc == Z_STREAM_END || sink.Produced() >= stop_after) break;
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR && z->avail_in == 0 && in_pos >= in.size()) {
      if (accept_truncated) {
        cut = true;
        break;
      }
      throw SwfError("ZlibStream", 8 + static_cast<std::size_t>(z->total_in),
                     "compressed SWF body ends before its zlib stream does");
    }
    std::string msg = "compressed SWF body does not inflate";
    if (z->msg) msg += std::string(": ") + z->msg;
    throw SwfError("ZlibStream", 8 + static_cast<std::size_t>(z->total_in), msg);
  }
  sink.CheckCap("compressed SWF body");
  return cut;
}

// Returns true when the data ended early and that was accepted.
bool InflateLzma(std::span<const std::uint8_t> file, Sink& sink, bool accept_truncated, std::uint64_t stop_after) {
  // "ZWS" header: 8 bytes, 4-byte compressed length, 5 bytes of LZMA properties.
  if (file.size() < 17) {
    throw SwfError("LzmaProperties", file.size(),
                   "LZMA SWF file is cut off inside its header (" + std::to_string(file.size()) +
                       " of 17 bytes)");
  }
  // Rebuild the ".lzma" header: properties, then the 64-bit uncompressed
  // size, given as unknown. The declared length is often wrong in real
  // files (and the stream rarely has an end marker), so the movie ends at
  // the end marker or where the data ends, whichever comes first.
  std::uint8_t header[13];
  std::memcpy(header, file.data() + 12, 5);
  std::memset(header + 5, 0xFF, 8);

  LzmaStreamPtr s(new lzma_stream(LZMA_STREAM_INIT));
  // Movies use dictionaries of a few MiB; refuse absurd ones.
  const std::uint64_t memlimit = std::uint64_t{256} << 20;
  if (lzma_alone_decoder(s.get(), memlimit) != LZMA_OK) {
    throw SwfError("liblzma could not be initialised");
  }
  // Header first, then the stream.
  s->next_in = header;
  s->avail_in = sizeof header;
  bool fed_body = false;
  for (;;) {
    if (s->avail_in == 0 && !fed_body) {
      s->next_in = file.data() + 17;
      s->avail_in = file.size() - 17;
      fed_body = true;
    }
    std::size_t avail = 0;
    s->next_out = sink.Grow(avail, "LZMA SWF body");
    s->avail_out = avail;
    const lzma_ret rc = lzma_code(s.get(), fed_body ? LZMA_FINISH : LZMA_RUN);
    sink.Used(s->avail_out);
    if (rc == LZMA_STREAM_END || sink.Produced() >= stop_after) break;
    if (rc == LZMA_OK) continue;
    // Out of input without an end marker: the usual end of these files. It
    // is cut off when both lengths the header declares say more was there
    // (one of them alone is often wrong).
    if (rc == LZMA_BUF_ERROR && fed_body && s->avail_in == 0) {
      const std::uint32_t body = Le32(file.data() + 4), packed = Le32(file.data() + 8);
      const bool cut = body > 8 && sink.Produced() < body - 8u && file.size() - 17 < packed;
      if (cut && !accept_truncated)
        throw SwfError("LzmaStream", file.size(), "LZMA SWF body ends before its declared length");
      sink.CheckCap("LZMA SWF body");
      return cut;
    }
    const std::size_t at = 17 + static_cast<std::size_t>(s->total_in > 13 ? s->total_in - 13 : 0);
    std::string why = "LZMA SWF body does not decompress";
    if (rc == LZMA_MEMLIMIT_ERROR || rc == LZMA_MEM_ERROR) why += " (dictionary too large)";
    if (rc == LZMA_FORMAT_ERROR || rc == LZMA_OPTIONS_ERROR) why += " (bad LZMA properties)";
    throw SwfError("LzmaStream", at, why);
  }
  sink.CheckCap("LZMA SWF body");
  return false;
}

}  // namespace

std::optional<Compression> DetectCompression(std::span<const std::uint8_t> file) {
  if (file.size() < 3 || file[1] != 'W' || file[2] != 'S') return std::nullopt;
  switch (file[0]) {
    case 'F': return Compression::kNone;
    case 'C': return Compression::kZlib;
    case 'Z': return Compression::kLzma;
    default: return std::nullopt;
  }
}

std::uint64_t ExpandOptions::CapFor(std::uint32_t declaredLength) const {
  return std::min(hardCap, std::max(minCap, capFactor * declaredLength));
}

namespace {

std::vector<std::uint8_t> Expand(std::span<const std::uint8_t> file, const ExpandOptions& options,
                                 std::uint64_t stop_after, ExpandReport* report) {
  const auto kind = DetectCompression(file);
  if (!kind) throw SwfError("not a SWF file: the signature is neither FWS, CWS nor ZWS");
  Reader r(file);
  r.Skip(3, "Signature");
  r.U8("Version");
  const std::uint32_t declared = r.U32("FileLength");
  if (*kind == Compression::kNone) {
    const std::size_t keep = static_cast<std::size_t>(
        std::min<std::uint64_t>(file.size(), 8 + std::min<std::uint64_t>(stop_after, file.size())));
    std::vector<std::uint8_t> out(file.begin(), file.begin() + keep);
    out[0] = 'F';
    if (report) *report = ExpandReport{file.size() < declared, keep - 8};
    return out;
  }
  const std::uint64_t declared_body = declared > 8 ? declared - 8u : 0u;
  const std::uint64_t cap = options.CapFor(declared);
  // Neither codec can be trusted to stop near the declared length; the
  // input bounds what deflate can give (about 1032:1).
  std::uint64_t guess = std::min<std::uint64_t>({declared_body + kSlack, stop_after, cap + 1});
  if (*kind == Compression::kZlib) guess = std::min<std::uint64_t>(guess, file.size() * 1032ull + 4096);
  const auto run = [&](Sink& sink) {
    return *kind == Compression::kZlib
               ? InflateZlib(file.subspan(8), sink, options.acceptTruncated, stop_after)
               : InflateLzma(file, sink, options.acceptTruncated, stop_after);
  };
  const auto start = [&](std::uint64_t body) {
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(8 + body));
    out.assign(file.begin(), file.begin() + 8);
    out[0] = 'F';
    return out;
  };
  std::vector<std::uint8_t> out = start(guess);
  bool cut = false;
  try {
    Sink sink(out, cap);
    cut = run(sink);
  } catch (const Overflow&) {
    // Longer than declared: count the true length first (the cap still
    // applies), then inflate into a buffer of exactly that size.
    std::vector<std::uint8_t>().swap(out);
    Sink counter(cap);
    run(counter);
    out = start(std::min<std::uint64_t>(counter.Produced() + kSlack, cap + 1));
    Sink sink(out, cap);
    cut = run(sink);
  }
  if (out.size() - 8 > stop_after) out.resize(static_cast<std::size_t>(8 + stop_after));
  if (report) *report = ExpandReport{cut, out.size() - 8};
  return out;
}

}  // namespace

std::uint64_t MaxMovieSize() { return g_max_movie_size.load(); }

std::uint64_t ExpandOptions::MinMovieCap() { return std::min(g_min_cap.load(), g_max_movie_size.load()); }

void SetMaxMovieSize(std::uint64_t bytes) {
  g_max_movie_size.store(bytes);
  // The default size keeps the default rule for small declared lengths.
  g_min_cap.store(bytes == kDefaultMaxMovieSize ? std::uint64_t{256} << 20 : bytes);
}

void SetExpandInterrupt(bool (*interrupted)()) { g_interrupted.store(interrupted); }

std::vector<std::uint8_t> ExpandMovie(std::span<const std::uint8_t> file, const ExpandOptions& options,
                                      ExpandReport* report) {
  return Expand(file, options, UINT64_MAX, report);
}

std::vector<std::uint8_t> ExpandMovieHead(std::span<const std::uint8_t> file,
                                          std::size_t bodyBytes) {
  ExpandOptions o;
  o.acceptTruncated = true;
  return Expand(file, o, bodyBytes, nullptr);
}

MovieHeader ReadMovieHeader(Reader& r) {
  MovieHeader h;
  h.frameSize = ReadRect(r, "FrameSize");
  h.frameRate = r.U16("FrameRate");
  h.frameCount = r.U16("FrameCount");
  return h;
}

Movie OpenMovie(std::span<const std::uint8_t> file, const ExpandOptions& options) {
  Movie m;
  m.compression = DetectCompression(file).value_or(Compression::kNone);
  ExpandReport report;
  m.data = ExpandMovie(file, options, &report);
  m.cutOff = report.cutOff;
  m.storedBytes = file.size();
  Reader r(m.data);
  r.Skip(3, "Signature");
  m.version = r.U8("Version");
  m.fileLength = r.U32("FileLength");
  m.header = ReadMovieHeader(r);
  m.tagsOffset = r.Position();
  return m;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path, std::uint64_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SwfError("cannot open " + path.string() + ": " + std::strerror(errno));
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw SwfError("cannot read " + path.string());
  if (static_cast<std::uint64_t>(size) > maxBytes) {
    throw SwfError(path.string() + " is too large (" + std::to_string(size) + " bytes)");
  }
  in.seekg(0, std::ios::beg);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    throw SwfError("cannot read " + path.string());
  }
  return bytes;
}

Movie LoadMovieFile(const std::filesystem::path& path, const ExpandOptions& options) {
  const auto bytes = ReadFileBytes(path, options.hardCap);
  try {
    return OpenMovie(bytes, options);
  } catch (const SwfError& e) {
    throw e.InFile(path.string());
  }
}

}  // namespace quarvel::swf
