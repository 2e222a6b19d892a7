#include "platform/swf/movie.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace quarvel::swf {
namespace {

constexpr std::size_t kMinChunk = 64 * 1024;
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

// Output buffer that grows in chunks up to the cap.
class Sink {
 public:
  Sink(std::vector<std::uint8_t>& out, std::uint64_t cap, std::size_t reserve)
      : out_(out), cap_(cap) {
    out_.reserve(out_.size() + reserve);
  }
  // Room for the next piece of output; throws when the cap is reached.
  std::uint8_t* Grow(std::size_t& avail, const char* what) {
    const std::uint64_t produced = out_.size() - 8;
    if (produced > cap_) {
      throw SwfError(std::string(what) + " inflates past " + MiB(cap_) + "; refusing it");
    }
    const std::size_t chunk = std::clamp(out_.size(), kMinChunk, kMaxChunk);
    avail = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, cap_ + 1 - produced));
    const std::size_t old = out_.size();
    out_.resize(old + avail);
    return out_.data() + old;
  }
  void Used(std::size_t unused) { out_.resize(out_.size() - unused); }
  void CheckCap(const char* what) const {
    if (out_.size() - 8 > cap_) {
      throw SwfError(std::string(what) + " inflates past " + MiB(cap_) + "; refusing it");
    }
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t cap_;
};

std::size_t ReserveFor(std::uint64_t declared_body, std::uint64_t cap) {
  return static_cast<std::size_t>(std::min<std::uint64_t>({declared_body, cap, 64u << 20}));
}

// stop_after: stop once that many body bytes are out (the head only).
void InflateZlib(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out,
                 std::uint64_t cap, std::uint64_t declared_body, bool accept_truncated,
                 std::uint64_t stop_after) {
  ZStreamPtr z(new z_stream{});
  if (inflateInit(z.get()) != Z_OK) throw SwfError("zlib could not be initialised");
  // Deflate cannot expand more than about 1032:1.
  Sink sink(out, cap,
            ReserveFor(std::min<std::uint64_t>({declared_body, in.size() * 1032ull + 4096, stop_after}),
                       cap));
  // zlib counts in uInt; feed large input in pieces.
  std::size_t in_pos = 0;
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
    if (rc == Z_STREAM_END || out.size() - 8 >= stop_after) break;
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR && z->avail_in == 0 && in_pos >= in.size()) {
      if (accept_truncated) break;
      throw SwfError("ZlibStream", 8 + static_cast<std::size_t>(z->total_in),
                     "compressed SWF body ends before its zlib stream does");
    }
    std::string msg = "compressed SWF body does not inflate";
    if (z->msg) msg += std::string(": ") + z->msg;
    throw SwfError("ZlibStream", 8 + static_cast<std::size_t>(z->total_in), msg);
  }
  sink.CheckCap("compressed SWF body");
}

void InflateLzma(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& out,
                 std::uint64_t cap, std::uint64_t declared_body, std::uint64_t stop_after) {
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
  // The declared length may be anything; let the input size bound the guess.
  Sink sink(out, cap,
            ReserveFor(std::min<std::uint64_t>({declared_body, stop_after, file.size() * 64ull + 65536}),
                       cap));
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
    if (rc == LZMA_STREAM_END || out.size() - 8 >= stop_after) break;
    if (rc == LZMA_OK) continue;
    // Out of input without an end marker: the usual end of these files.
    if (rc == LZMA_BUF_ERROR && fed_body && s->avail_in == 0) break;
    const std::size_t at = 17 + static_cast<std::size_t>(s->total_in > 13 ? s->total_in - 13 : 0);
    std::string why = "LZMA SWF body does not decompress";
    if (rc == LZMA_MEMLIMIT_ERROR || rc == LZMA_MEM_ERROR) why += " (dictionary too large)";
    if (rc == LZMA_FORMAT_ERROR || rc == LZMA_OPTIONS_ERROR) why += " (bad LZMA properties)";
    throw SwfError("LzmaStream", at, why);
  }
  sink.CheckCap("LZMA SWF body");
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
                                 std::uint64_t stop_after) {
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
    return out;
  }
  std::vector<std::uint8_t> out(file.begin(), file.begin() + 8);
  out[0] = 'F';
  const std::uint64_t declared_body = declared > 8 ? declared - 8u : 0u;
  const std::uint64_t cap = options.CapFor(declared);
  switch (*kind) {
    case Compression::kNone:
      break;
    case Compression::kZlib:
      InflateZlib(file.subspan(8), out, cap, declared_body, options.acceptTruncated, stop_after);
      break;
    case Compression::kLzma:
      InflateLzma(file, out, cap, declared_body, stop_after);
      break;
  }
  if (out.size() - 8 > stop_after) out.resize(static_cast<std::size_t>(8 + stop_after));
  return out;
}

}  // namespace

std::vector<std::uint8_t> ExpandMovie(std::span<const std::uint8_t> file,
                                      const ExpandOptions& options) {
  return Expand(file, options, UINT64_MAX);
}

std::vector<std::uint8_t> ExpandMovieHead(std::span<const std::uint8_t> file,
                                          std::size_t bodyBytes) {
  ExpandOptions o;
  o.acceptTruncated = true;
  return Expand(file, o, bodyBytes);
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
  m.data = ExpandMovie(file, options);
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
