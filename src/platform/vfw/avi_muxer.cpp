#include "platform/vfw/avi_muxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>

extern "C" {
#include <libavformat/version.h>
}

namespace quarvel::vfw {

namespace {

constexpr std::uint64_t kMaxRiffSize = std::uint64_t(1) << 30;  // then an AVIX part begins
constexpr std::int64_t kMaxInterleaveDelta = 10'000'000;       // microseconds
constexpr DWORD kKeyFrame = 0x10;                               // AVIIF_KEYFRAME
constexpr DWORD kNoTime = 0x100;                                // AVIIF_NO_TIME
constexpr DWORD kPaletteChanges = 0x00010000;                   // AVISF_VIDEO_PALCHANGES
constexpr int kMasterIndexPrefix = 32;                          // an "indx" chunk before its entries
constexpr int kHeaderPadding = 1016;                            // room left before "movi"
// The writing program, as FFmpeg's muxer names itself in the INFO list.
constexpr const char* kSoftware = LIBAVFORMAT_IDENT;

// Products of times and rates overflow 64 bits only past any real file; 128 bits never do.
__extension__ typedef __int128 Wide;

// a * b / c rounded to nearest, halves away from zero (FFmpeg's AV_ROUND_NEAR_INF).
std::int64_t RescaleNear(std::int64_t a, std::int64_t b, std::int64_t c) {
  const Wide p = Wide(a) * b;
  const Wide half = c / 2;
  return std::int64_t(p >= 0 ? (p + half) / c : -((-p + half) / c));
}

std::int64_t Rescale(std::int64_t a, AviRational from, AviRational to) {
  return RescaleNear(a, from.num * to.den, to.num * from.den);
}

// -1, 0, 1 as a (in base ta) is before, at or after b (in base tb).
int CompareTimes(std::int64_t a, AviRational ta, std::int64_t b, AviRational tb) {
  const Wide l = Wide(a) * ta.num * tb.den, r = Wide(b) * tb.num * ta.den;
  return l < r ? -1 : l > r ? 1 : 0;
}

AviRational Reduced(std::int64_t num, std::int64_t den) {
  const std::int64_t g = std::gcd(num, den);
  return g > 0 ? AviRational{num / g, den / g} : AviRational{num, den};
}

void StreamTag(char* tag, int index, bool video) {
  tag[0] = char('0' + index / 10);
  tag[1] = char('0' + index % 10);
  tag[2] = video ? 'd' : 'w';
  tag[3] = video ? 'c' : 'b';
}

}  // namespace

// Buffered writing with the seeks back that fill in sizes and counts.
class AviMuxer::Output {
 public:
  explicit Output(int fd) : fd_(fd) { buffer_.reserve(kBuffer); }
  ~Output() {
    if (fd_ >= 0) ::close(fd_);
  }

  std::uint64_t Tell() const { return base_ + buffer_.size(); }
  bool Failed() const { return failed_; }

  void Bytes(const void* data, std::size_t size) {
    if (size >= kBuffer) {
      Flush();
      Put(base_, data, size);
      base_ += size;
      return;
    }
    if (buffer_.size() + size > kBuffer) Flush();
    const auto* p = static_cast<const std::uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + size);
  }
  void W8(std::uint8_t v) { Bytes(&v, 1); }
  void WL16(std::uint16_t v) {
    const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
    Bytes(b, 2);
  }
  void WL32(std::uint32_t v) {
    const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    Bytes(b, 4);
  }
  void WL64(std::uint64_t v) {
    WL32(std::uint32_t(v));
    WL32(std::uint32_t(v >> 32));
  }
  void Tag(const char* t) { Bytes(t, 4); }
  void Zeros(std::size_t n) {
    static const std::uint8_t zero[256] = {};
    for (; n > 0; n -= std::min(n, sizeof zero)) Bytes(zero, std::min(n, sizeof zero));
  }

  // A chunk whose size is filled in by End; returns where its body starts.
  std::uint64_t Start(const char* tag) {
    Tag(tag);
    WL32(0xFFFFFFFFu);
    return Tell();
  }
  void End(std::uint64_t start) {
    const std::uint64_t pos = Tell();
    if (pos & 1) W8(0);
    Seek(start - 4);
    WL32(std::uint32_t(pos - start));
    Seek((pos + 1) & ~std::uint64_t(1));
  }

  void Seek(std::uint64_t pos) {
    Flush();
    base_ = pos;
  }

  bool Close() {
    Flush();
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed && !failed_;
  }

 private:
  static constexpr std::size_t kBuffer = std::size_t(1) << 18;

  void Flush() {
    Put(base_, buffer_.data(), buffer_.size());
    base_ += buffer_.size();
    buffer_.clear();
  }
  void Put(std::uint64_t offset, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0 && !failed_) {
      const ssize_t n = ::pwrite(fd_, p, size, off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = true;
        break;
      }
      p += n;
      offset += std::uint64_t(n);
      size -= std::size_t(n);
    }
  }

  int fd_;
  std::uint64_t base_ = 0;  // file offset of buffer_[0]
  std::vector<std::uint8_t> buffer_;
  bool failed_ = false;
};

struct AviMuxer::Stream {
  AviStreamDesc desc;
  AviRational file_tb;  // the scale and rate of "strh"
  std::uint32_t sample_size = 0;
  char tag[4] = {};
  std::uint64_t frames_hdr = 0, strh_flags = 0, palette_at = 0, indx_start = 0;
  std::int64_t packets = 0, audio_bytes = 0, audio_bytes_at_riff = 0, last_dts = 0;
  std::uint32_t largest = 0;
  int master_base = 0;
  struct Entry {
    char tag[4];
    bool tagged;
    DWORD flags;
    std::uint32_t pos, len;
  };
  std::vector<Entry> entries;  // of the current RIFF part
  std::vector<std::uint32_t> palette, shown_palette;
  // Interleaving: packets held, and the last of them.
  int held = 0;
  std::list<Held>::iterator last_held;
};

struct AviMuxer::Held {
  int index;
  std::vector<std::uint8_t> data;
  std::int64_t dts, duration;
  bool key;
  std::vector<std::uint32_t> palette;
};

AviMuxer::AviMuxer() = default;
AviMuxer::~AviMuxer() = default;

HRESULT AviMuxer::Open(const std::filesystem::path& file, std::vector<AviStreamDesc> streams) {
  if (streams.empty() || streams.size() > 100) return AVIERR_BADFORMAT;
  for (const AviStreamDesc& s : streams) {
    if (s.time_base.num <= 0 || s.time_base.den <= 0) return AVIERR_BADFORMAT;
    if (!s.video && (s.sound.block_align == 0 || s.sound.samples_per_block <= 0 || s.sound.sample_rate == 0))
      return AVIERR_BADFORMAT;
    if (s.video && s.picture.palette && (s.picture.bits < 0 || s.picture.bits > 8)) return AVIERR_BADFORMAT;
  }
  streams_.resize(streams.size());
  for (std::size_t i = 0; i < streams.size(); ++i) {
    Stream& st = streams_[i];
    st.desc = std::move(streams[i]);
    StreamTag(st.tag, int(i), st.desc.video);
    if (st.desc.video) {
      st.file_tb = Reduced(st.desc.time_base.num, st.desc.time_base.den);
      // Past 1000 pictures a second the header says 600 a second, as FFmpeg does.
      if (st.file_tb.den > 1000 * st.file_tb.num) st.file_tb = {1, 600};
    } else {
      st.sample_size = st.desc.sound.block_align;
      st.file_tb = Reduced(st.desc.sound.samples_per_block, st.desc.sound.sample_rate);
    }
    st.last_held = held_.end();
  }
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return AVIERR_FILEOPEN;
  out_ = std::make_unique<Output>(fd);
  return WriteHeader();
}

void AviMuxer::StartRiff(const char* riff, const char* list) {
  ++riff_id_;
  for (Stream& st : streams_) {
    st.audio_bytes_at_riff = st.audio_bytes;
    st.entries.clear();
  }
  riff_start_ = out_->Start("RIFF");
  out_->Tag(riff);
  movi_list_ = out_->Start("LIST");
  out_->Tag(list);
}

void AviMuxer::WriteMasterIndexSpace(int index) {
  Stream& st = streams_[std::size_t(index)];
  // "JUNK" until the file grows past its first part and it becomes "indx".
  st.indx_start = out_->Start("JUNK");
  out_->WL16(4);  // longs per entry
  out_->W8(0);    // index sub-type
  out_->W8(0);    // index of indexes
  out_->WL32(0);  // entries in use
  out_->Tag(st.tag);
  out_->WL64(0);
  out_->WL32(0);
  out_->Zeros(std::size_t(master_index_size_) * 16);
  out_->End(st.indx_start);
}

HRESULT AviMuxer::WriteHeader() {
  Output& o = *out_;
  StartRiff("AVI ", "hdrl");
  const std::uint64_t hdrl = movi_list_;
  o.Tag("avih");
  o.WL32(14 * 4);

  std::int64_t bitrate = 0;
  const Stream* video = nullptr;
  for (const Stream& st : streams_) {
    bitrate = std::min<std::int64_t>(bitrate + st.desc.bit_rate, INT32_MAX);
    if (st.desc.video) video = &st;
  }
  // Room for the master indexes of ten hours at the streams' bit rate.
  const double file_estimate = 36000.0 * double(bitrate / 8) * 1.10;
  master_index_size_ = std::max(int(std::ceil(file_estimate / double(kMaxRiffSize))) + 1, master_index_size_);

  o.WL32(video ? std::uint32_t(1000000 * video->desc.time_base.num / video->desc.time_base.den) : 0);
  o.WL32(std::uint32_t(bitrate / 8));
  o.WL32(0);
  o.WL32(0x800 | 0x10 | 0x100);  // trust chunk types, has an index, interleaved
  frames_hdr_all_ = o.Tell();
  o.WL32(0);  // frames: filled in at the end
  o.WL32(0);
  o.WL32(std::uint32_t(streams_.size()));
  o.WL32(1024 * 1024);
  o.WL32(video ? std::uint32_t(video->desc.picture.width) : 0);
  o.WL32(video ? std::uint32_t(video->desc.picture.height) : 0);
  o.Zeros(16);

  for (std::size_t i = 0; i < streams_.size(); ++i) {
    Stream& st = streams_[i];
    const AviStreamDesc& s = st.desc;
    const std::uint64_t strl = o.Start("LIST");
    o.Tag("strl");
    const std::uint64_t strh = o.Start("strh");
    o.Tag(s.video ? "vids" : "auds");
    o.WL32(s.video ? s.picture.codec : 1);
    st.strh_flags = o.Tell();
    o.WL32(0);  // flags
    o.WL16(0);  // priority
    o.WL16(0);  // language
    o.WL32(0);  // initial frames
    o.WL32(std::uint32_t(st.file_tb.num));
    o.WL32(std::uint32_t(st.file_tb.den));
    o.WL32(0);  // start
    st.frames_hdr = o.Tell();
    o.WL32(0);  // length: filled in at the end
    o.WL32(s.video ? 1024 * 1024 : 12 * 1024);  // buffer size: the largest chunk, at the end
    o.WL32(0xFFFFFFFFu);                        // quality
    o.WL32(st.sample_size);
    o.WL32(0);
    o.WL16(s.video ? std::uint16_t(s.picture.width) : 0);
    o.WL16(s.video ? std::uint16_t(s.picture.height) : 0);
    o.End(strh);

    const std::uint64_t strf = o.Start("strf");
    if (s.video) {
      const AviVideoDesc& v = s.picture;
      const int bits = v.bits ? v.bits : 24;
      st.palette_at = o.Tell() + 40;
      o.WL32(std::uint32_t(40 + (v.palette ? 0 : v.extradata.size())));
      o.WL32(std::uint32_t(v.width));
      o.WL32(std::uint32_t(v.height));  // positive: the rows run bottom-up
      o.WL16(1);
      o.WL16(std::uint16_t(bits));
      o.WL32(v.codec);
      o.WL32(std::uint32_t((std::int64_t(v.width) * v.height * bits + 7) / 8));
      o.WL32(0);
      o.WL32(0);
      o.WL32(v.palette ? 1u << v.bits : 0);
      o.WL32(0);
      if (!v.extradata.empty()) {
        o.Bytes(v.extradata.data(), v.extradata.size());
        if (v.extradata.size() & 1) o.W8(0);
      } else if (v.palette) {
        o.Zeros(std::size_t(4) << v.bits);  // the colours come with the first picture
      }
    } else {
      const AviAudioDesc& a = s.sound;
      const std::uint64_t start = o.Tell();
      o.WL16(a.extensible ? 0xFFFE : a.tag);
      o.WL16(a.channels);
      o.WL32(a.sample_rate);
      o.WL32(a.bytes_per_second);
      o.WL16(a.block_align);
      o.WL16(a.bits);
      if (a.extensible) {
        o.WL16(std::uint16_t(a.extra.size() + 22));
        o.WL16(a.bits);
        o.WL32(a.channel_mask);
        o.WL32(a.tag);  // the sub-format GUID of the tag
        o.WL32(0x00100000);
        o.WL32(0xAA000080);
        o.WL32(0x719B3800);
      } else if (a.force_cb_size || !a.extra.empty()) {
        o.WL16(std::uint16_t(a.extra.size()));
      }
      if (!a.extra.empty()) o.Bytes(a.extra.data(), a.extra.size());
      if ((o.Tell() - start) & 1) o.W8(0);
    }
    o.End(strf);
    WriteMasterIndexSpace(int(i));
    o.End(strl);
  }

  // "JUNK" until the file becomes an OpenDML one.
  odml_list_ = o.Start("JUNK");
  o.Tag("odml");
  o.Tag("dmlh");
  o.WL32(248);
  o.Zeros(248);
  o.End(odml_list_);
  o.End(hdrl);

  const std::uint64_t info = o.Start("LIST");
  o.Tag("INFO");
  const std::size_t length = std::strlen(kSoftware) + 1;
  o.Tag("ISFT");
  o.WL32(std::uint32_t(length));
  o.Bytes(kSoftware, length);
  if (length & 1) o.W8(0);
  o.End(info);

  const std::uint64_t junk = o.Start("JUNK");
  o.Zeros(kHeaderPadding);
  o.End(junk);

  movi_list_ = o.Start("LIST");
  o.Tag("movi");
  return o.Failed() ? AVIERR_FILEWRITE : AVIERR_OK;
}

HRESULT AviMuxer::Write(int index, std::span<const std::uint8_t> data, std::int64_t dts, std::int64_t duration,
                        bool key, const std::uint32_t* palette) {
  if (!out_ || index < 0 || std::size_t(index) >= streams_.size()) return AVIERR_BADPARAM;
  Stream& st = streams_[std::size_t(index)];
  Held h{index, std::vector<std::uint8_t>(data.begin(), data.end()), Rescale(dts, st.desc.time_base, st.file_tb),
         duration > 0 ? Rescale(duration, st.desc.time_base, st.file_tb) : duration, key || st.desc.intra_only, {}};
  if (palette) h.palette.assign(palette, palette + 256);

  // Into the queue by time: after this stream's last, before the first
  // packet that comes later (at one time, the lower stream first).
  const auto after = [this](const Held& next, const Held& p) {
    const int c = CompareTimes(next.dts, streams_[std::size_t(next.index)].file_tb, p.dts,
                               streams_[std::size_t(p.index)].file_tb);
    return c == 0 ? p.index < next.index : c > 0;
  };
  auto at = st.held > 0 ? std::next(st.last_held) : held_.begin();
  if (at != held_.end()) {
    if (after(held_.back(), h)) {
      while (at != held_.end() && !after(*at, h)) ++at;
    } else {
      at = held_.end();
    }
  }
  st.last_held = held_.insert(at, std::move(h));
  ++st.held;
  return Interleave(false);
}

HRESULT AviMuxer::Interleave(bool flush) {
  for (;;) {
    std::size_t waiting = 0;
    for (const Stream& st : streams_) waiting += st.held > 0;
    bool out = flush || waiting == streams_.size();
    if (!out && !held_.empty()) {
      // A stream that lags too far behind is not waited for.
      const Held& top = held_.front();
      const std::int64_t top_us = Rescale(top.dts, streams_[std::size_t(top.index)].file_tb, {1, 1000000});
      std::int64_t delta = INT64_MIN;
      for (const Stream& st : streams_)
        if (st.held > 0) delta = std::max(delta, Rescale(st.last_held->dts, st.file_tb, {1, 1000000}) - top_us);
      out = delta > kMaxInterleaveDelta;
    }
    if (waiting == 0 || !out) return AVIERR_OK;
    Held packet = std::move(held_.front());
    Stream& st = streams_[std::size_t(packet.index)];
    if (--st.held == 0) st.last_held = held_.end();
    held_.pop_front();
    const HRESULT r = Emit(packet);
    if (r != AVIERR_OK) return r;
  }
}

HRESULT AviMuxer::WriteChunk(int index, const char* tag, std::span<const std::uint8_t> data, DWORD flags,
                             bool index_it) {
  Stream& st = streams_[std::size_t(index)];
  if (index_it) {
    Stream::Entry e{};
    std::memcpy(e.tag, tag, 4);
    e.tagged = std::memcmp(tag, st.tag, 4) != 0;
    e.flags = flags;
    e.pos = std::uint32_t(out_->Tell() - movi_list_);
    e.len = std::uint32_t(data.size());
    st.entries.push_back(e);
    st.largest = std::max(st.largest, e.len);
  }
  out_->Tag(tag);
  out_->WL32(std::uint32_t(data.size()));
  if (!data.empty()) out_->Bytes(data.data(), data.size());
  if (data.size() & 1) out_->W8(0);
  return out_->Failed() ? AVIERR_FILEWRITE : AVIERR_OK;
}

HRESULT AviMuxer::WritePacket(int index, std::span<const std::uint8_t> data, DWORD flags) {
  Stream& st = streams_[std::size_t(index)];
  ++st.packets;
  if (out_->Tell() - riff_start_ > kMaxRiffSize) {
    // This part is full: its indexes, then the next part.
    WriteLeafIndexes();
    out_->End(movi_list_);
    if (riff_id_ == 1) WriteIdx1();
    out_->End(riff_start_);
    StartRiff("AVIX", "movi");
  }
  if (!st.desc.video) st.audio_bytes += std::int64_t(data.size());
  return WriteChunk(index, st.tag, data, flags, true);
}

HRESULT AviMuxer::FillTo(int index, std::int64_t dts) {
  Stream& st = streams_[std::size_t(index)];
  // Pictures a stream skipped are empty chunks: players show the last one again.
  while (st.sample_size == 0 && dts > st.packets && st.packets > 0) {
    if (dts - st.packets > 60000) return AVIERR_BADFORMAT;
    if (HRESULT r = WritePacket(index, {}, 0); r != AVIERR_OK) return r;
  }
  return AVIERR_OK;
}

HRESULT AviMuxer::Emit(Held& p) {
  Stream& st = streams_[std::size_t(p.index)];
  if (HRESULT r = FillTo(p.index, p.dts); r != AVIERR_OK) return r;

  if (!p.data.empty() && st.desc.video && st.desc.picture.palette && !p.palette.empty()) {
    const std::size_t colours = std::size_t(1) << st.desc.picture.bits;
    st.palette.assign(p.palette.begin(), p.palette.begin() + std::ptrdiff_t(colours));
    if (st.palette_at != 0) {
      // The first colours go into the stream's format.
      const std::uint64_t here = out_->Tell();
      out_->Seek(st.palette_at);
      for (std::uint32_t v : st.palette) out_->WL32(v & 0xFFFFFF);
      out_->Seek(here);
      st.shown_palette = st.palette;
      st.palette_at = 0;
    }
    if (st.palette != st.shown_palette) {
      if (st.strh_flags != 0) {
        const std::uint64_t here = out_->Tell();
        out_->Seek(st.strh_flags);
        out_->WL32(kPaletteChanges);
        out_->Seek(here);
        st.strh_flags = 0;
      }
      std::vector<std::uint8_t> change(4 + 4 * colours, 0);
      change[1] = std::uint8_t(colours & 0xFF);
      for (std::size_t i = 0; i < colours; ++i) {
        const std::uint32_t v = st.palette[i];
        change[4 + 4 * i] = std::uint8_t(v >> 16);
        change[5 + 4 * i] = std::uint8_t(v >> 8);
        change[6 + 4 * i] = std::uint8_t(v);
      }
      char tag[4] = {st.tag[0], st.tag[1], 'p', 'c'};
      if (HRESULT r = WriteChunk(p.index, tag, change, kNoTime, true); r != AVIERR_OK) return r;
      st.shown_palette = st.palette;
    }
  }

  st.last_dts = p.dts + p.duration;
  return WritePacket(p.index, p.data, p.key ? kKeyFrame : 0);
}

void AviMuxer::UpdateMasterEntry(int index, std::uint64_t offset, std::uint32_t size) {
  Stream& st = streams_[std::size_t(index)];
  const std::uint64_t here = out_->Tell();
  const int n = riff_id_ - st.master_base;
  out_->Seek(st.indx_start - 8);
  out_->Tag("indx");
  out_->Seek(st.indx_start + 4);
  out_->WL32(std::uint32_t(n));
  out_->Seek(st.indx_start + 8 + 16 * std::uint64_t(n));
  out_->WL64(offset);
  out_->WL32(size);
  if (!st.desc.video && st.sample_size > 0)
    out_->WL32(std::uint32_t(st.audio_bytes - st.audio_bytes_at_riff) / st.sample_size);
  else
    out_->WL32(std::uint32_t(st.entries.size()));
  out_->Seek(here);
}

void AviMuxer::WriteLeafIndexes() {
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    Stream& st = streams_[i];
    if (riff_id_ - st.master_base == master_index_size_) {
      // The master index is full: another one follows in the file.
      const std::uint64_t at = out_->Tell();
      UpdateMasterEntry(int(i), at, std::uint32_t(kMasterIndexPrefix + 16 * master_index_size_));
      WriteMasterIndexSpace(int(i));
      st.master_base = riff_id_ - 1;
    }
  }
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    Stream& st = streams_[i];
    const char ix[4] = {'i', 'x', '0', char('0' + i)};
    const std::uint64_t at = out_->Tell();
    out_->Tag(ix);
    out_->WL32(std::uint32_t(st.entries.size() * 8 + 24));
    out_->WL16(2);  // longs per entry
    out_->W8(0);
    out_->W8(1);  // index of chunks
    out_->WL32(std::uint32_t(st.entries.size()));
    out_->Tag(st.tag);
    out_->WL64(movi_list_);
    out_->WL32(0);
    for (const Stream::Entry& e : st.entries) {
      out_->WL32(e.pos + 8);
      out_->WL32((e.len & 0x7FFFFFFFu) | (e.flags & kKeyFrame ? 0 : 0x80000000u));
    }
    UpdateMasterEntry(int(i), at, std::uint32_t(out_->Tell() - at));
  }
}

void AviMuxer::WriteCounters() {
  const std::uint64_t end = out_->Tell();
  std::int64_t frames = 0;
  for (Stream& st : streams_) {
    out_->Seek(st.frames_hdr);
    out_->WL32(std::uint32_t(st.sample_size == 0 ? st.packets : st.audio_bytes / st.sample_size));
    if (st.desc.video) frames = std::max(frames, st.packets);
  }
  if (riff_id_ == 1) {
    out_->Seek(frames_hdr_all_);
    out_->WL32(std::uint32_t(frames));
  }
  out_->Seek(end);
}

void AviMuxer::WriteIdx1() {
  const std::uint64_t idx = out_->Start("idx1");
  std::vector<std::size_t> next(streams_.size(), 0);
  for (;;) {
    int best = -1;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
      if (next[i] >= streams_[i].entries.size()) continue;
      if (best < 0 ||
          streams_[i].entries[next[i]].pos < streams_[std::size_t(best)].entries[next[std::size_t(best)]].pos)
        best = int(i);
    }
    if (best < 0) break;
    const Stream& st = streams_[std::size_t(best)];
    const Stream::Entry& e = st.entries[next[std::size_t(best)]++];
    out_->Tag(e.tagged ? e.tag : st.tag);
    out_->WL32(e.flags);
    out_->WL32(e.pos);
    out_->WL32(e.len);
  }
  out_->End(idx);
  WriteCounters();
}

HRESULT AviMuxer::Finish() {
  if (!out_) return AVIERR_BADPARAM;
  if (HRESULT r = Interleave(true); r != AVIERR_OK) return r;
  for (std::size_t i = 0; i < streams_.size(); ++i)
    if (HRESULT r = FillTo(int(i), streams_[i].last_dts); r != AVIERR_OK) return r;
  if (riff_id_ == 1) {
    out_->End(movi_list_);
    WriteIdx1();
    out_->End(riff_start_);
  } else {
    WriteLeafIndexes();
    out_->End(movi_list_);
    out_->End(riff_start_);
    const std::uint64_t end = out_->Tell();
    out_->Seek(odml_list_ - 8);
    out_->Tag("LIST");  // an OpenDML file now
    out_->Seek(odml_list_ + 12);
    std::int64_t frames = 0;
    for (const Stream& st : streams_)
      if (st.desc.video) frames = std::max(frames, st.packets);
    out_->WL32(std::uint32_t(frames));
    out_->Seek(end);
    WriteCounters();
  }
  for (const Stream& st : streams_) {
    out_->Seek(st.frames_hdr + 4);
    out_->WL32(st.largest);
  }
  const bool closed = out_->Close();
  out_.reset();
  return closed ? AVIERR_OK : AVIERR_FILEWRITE;
}

}  // namespace quarvel::vfw
