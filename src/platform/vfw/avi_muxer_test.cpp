// Our AVI muxer against libavformat's, the writer AVISaveV used before it:
// the same packets, given as AVISaveV gave them, make the same bytes.
#include "platform/vfw/avi_muxer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "avi/avi_oracle.h"
#include "platform/vfw/ffmpeg_p.h"

namespace quarvel::vfw {
namespace {

namespace fs = std::filesystem;
using avi_test::Probe;
using avi_test::TempDir;

using Data = std::shared_ptr<const std::vector<std::uint8_t>>;

struct Packet {
  int stream;
  Data data;  // shared: the large test writes one picture many times
  std::int64_t dts, duration;
  bool key = true;
  std::vector<std::uint32_t> palette;  // 256 colours, or none
};

// A stream as AVISaveV describes it: the muxer's desc, and for the oracle
// the codec and pixel format FFmpeg knows it by (and the source's WAVE format).
struct Source {
  AviStreamDesc desc;
  AVCodecID codec = AV_CODEC_ID_NONE;
  AVPixelFormat pixels = AV_PIX_FMT_NONE;
  std::vector<std::uint8_t> wave;
};

Source RawVideo(int width, int height, int bits, AviRational tb) {
  Source s;
  s.desc.picture.width = width;
  s.desc.picture.height = height;
  s.desc.picture.bits = bits;
  s.desc.picture.palette = bits <= 8;
  s.desc.time_base = tb;
  s.codec = AV_CODEC_ID_RAWVIDEO;
  s.pixels = bits <= 8 ? AV_PIX_FMT_PAL8 : bits == 16 ? AV_PIX_FMT_RGB555LE : bits == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
  return s;
}

Source CodedVideo(int width, int height, const char* code, std::vector<std::uint8_t> extradata, AviRational tb,
                  std::int64_t bit_rate) {
  Source s;
  s.desc.picture.width = width;
  s.desc.picture.height = height;
  s.desc.picture.bits = 24;
  s.desc.picture.codec = mmioStringToFOURCC(code, 0);
  s.desc.picture.extradata = std::move(extradata);
  s.desc.time_base = tb;
  s.desc.bit_rate = bit_rate;
  const std::string_view tag = code;
  s.codec = tag == "MJPG" ? AV_CODEC_ID_MJPEG : tag == "FFV1" ? AV_CODEC_ID_FFV1 : AV_CODEC_ID_MPEG4;
  s.desc.intra_only = s.codec != AV_CODEC_ID_MPEG4;
  s.pixels = AV_PIX_FMT_YUV420P;
  return s;
}

std::vector<std::uint8_t> WaveFormat(WORD tag, WORD channels, DWORD rate, WORD block, WORD bits, DWORD average,
                                     std::vector<std::uint8_t> extra = {}) {
  WAVEFORMATEX wf;
  wf.wFormatTag = tag;
  wf.nChannels = channels;
  wf.nSamplesPerSec = rate;
  wf.nAvgBytesPerSec = average;
  wf.nBlockAlign = block;
  wf.wBitsPerSample = bits;
  wf.cbSize = WORD(extra.size());
  std::vector<std::uint8_t> out(sizeof wf);
  std::memcpy(out.data(), &wf, sizeof wf);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

Source Sound(std::vector<std::uint8_t> wave) {
  Source s;
  s.wave = std::move(wave);
  auto desc = detail::AviAudioDescOf(s.wave);
  EXPECT_TRUE(desc.has_value());
  if (desc) s.desc.sound = *desc;
  s.desc.video = false;
  s.desc.time_base = {s.desc.sound.samples_per_block, s.desc.sound.sample_rate};
  s.desc.bit_rate = std::int64_t(s.desc.sound.average_bytes_per_second) * 8;
  s.codec = detail::WaveCodecOf(s.wave).id;
  return s;
}

// libavformat's AVI muxer, set up as AVISaveV set it up.
void WriteWithLibavformat(const fs::path& file, const std::vector<Source>& sources, const std::vector<Packet>& packets) {
  const ffmpeg::Api& av = ffmpeg::Av();
  const ffmpeg::FormatApi& avf = ffmpeg::Avf();
  AVFormatContext* oc = nullptr;
  ASSERT_GE(avf.avformat_alloc_output_context2(&oc, nullptr, "avi", file.c_str()), 0);
  for (const Source& s : sources) {
    AVStream* st = avf.avformat_new_stream(oc, nullptr);
    ASSERT_NE(st, nullptr);
    AVCodecParameters* par = st->codecpar;
    st->time_base = AVRational{int(s.desc.time_base.num), int(s.desc.time_base.den)};
    if (s.desc.video) {
      const AviVideoDesc& v = s.desc.picture;
      par->codec_type = AVMEDIA_TYPE_VIDEO;
      par->codec_id = s.codec;
      par->codec_tag = v.codec;
      par->width = v.width;
      par->height = v.height;
      par->bits_per_coded_sample = v.bits;
      par->format = s.pixels;
      par->bit_rate = s.desc.bit_rate;
      if (!v.extradata.empty()) {
        par->extradata = static_cast<std::uint8_t*>(av.av_mallocz(v.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(par->extradata, v.extradata.data(), v.extradata.size());
        par->extradata_size = int(v.extradata.size());
      }
      continue;
    }
    WAVEFORMATEX wf;
    std::memcpy(&wf, s.wave.data(), sizeof wf);
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = s.codec;
    par->sample_rate = int(wf.nSamplesPerSec);
    av.av_channel_layout_default(&par->ch_layout, wf.nChannels);
    par->block_align = wf.nBlockAlign;
    par->bits_per_coded_sample = wf.wBitsPerSample;
    par->bit_rate = std::int64_t(wf.nAvgBytesPerSec) * 8;
    par->frame_size = s.desc.sound.samples_per_block;
    if (s.codec == AV_CODEC_ID_ADPCM_MS && wf.cbSize > 0) {
      par->extradata = static_cast<std::uint8_t*>(av.av_mallocz(wf.cbSize + AV_INPUT_BUFFER_PADDING_SIZE));
      std::memcpy(par->extradata, s.wave.data() + sizeof wf, wf.cbSize);
      par->extradata_size = wf.cbSize;
    }
  }
  ASSERT_GE(avf.avio_open(&oc->pb, file.c_str(), AVIO_FLAG_WRITE), 0);
  AVDictionary* options = nullptr;
  av.av_dict_set(&options, "flipped_raw_rgb", "1", 0);
  ASSERT_GE(avf.avformat_write_header(oc, &options), 0);
  av.av_dict_free(&options);
  for (const Packet& p : packets) {
    AVPacket* pkt = av.av_packet_alloc();
    ASSERT_GE(av.av_new_packet(pkt, int(p.data->size())), 0);
    if (!p.data->empty()) std::memcpy(pkt->data, p.data->data(), p.data->size());
    pkt->pts = pkt->dts = p.dts;
    pkt->duration = p.duration;
    if (p.key) pkt->flags |= AV_PKT_FLAG_KEY;
    if (!p.palette.empty())
      std::memcpy(av.av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE), p.palette.data(), AVPALETTE_SIZE);
    const AviRational tb = sources[std::size_t(p.stream)].desc.time_base;
    pkt->stream_index = p.stream;
    av.av_packet_rescale_ts(pkt, AVRational{int(tb.num), int(tb.den)}, oc->streams[p.stream]->time_base);
    EXPECT_GE(avf.av_interleaved_write_frame(oc, pkt), 0);
    av.av_packet_free(&pkt);
  }
  EXPECT_GE(avf.av_write_trailer(oc), 0);
  avf.avio_closep(&oc->pb);
  avf.avformat_free_context(oc);
}

void WriteWithOurs(const fs::path& file, const std::vector<Source>& sources, const std::vector<Packet>& packets) {
  std::vector<AviStreamDesc> descs;
  for (const Source& s : sources) descs.push_back(s.desc);
  AviMuxer muxer;
  ASSERT_EQ(muxer.Open(file, descs), AVIERR_OK);
  for (const Packet& p : packets)
    ASSERT_EQ(muxer.Write(p.stream, *p.data, p.dts, p.duration, p.key, p.palette.empty() ? nullptr : p.palette.data()),
              AVIERR_OK);
  ASSERT_EQ(muxer.Finish(), AVIERR_OK);
}

// Both files compared in pieces; the first differing offset, or -1.
long long FirstDifference(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20), bb(1 << 20);
  long long at = 0;
  for (;;) {
    fa.read(ba.data(), std::streamsize(ba.size()));
    fb.read(bb.data(), std::streamsize(bb.size()));
    const auto na = fa.gcount(), nb = fb.gcount();
    const auto n = std::min(na, nb);
    for (std::streamsize i = 0; i < n; ++i)
      if (ba[std::size_t(i)] != bb[std::size_t(i)]) return at + i;
    if (na != nb) return at + n;
    if (na == 0) return -1;
    at += na;
  }
}

// Writes the packets both ways and compares; returns our file.
fs::path ExpectSameAsLibavformat(const TempDir& dir, const std::string& name, const std::vector<Source>& sources,
                                 const std::vector<Packet>& packets) {
  const fs::path theirs = dir.Path() / (name + ".lavf.avi"), ours = dir.Path() / (name + ".avi");
  WriteWithLibavformat(theirs, sources, packets);
  WriteWithOurs(ours, sources, packets);
  EXPECT_EQ(FirstDifference(theirs, ours), -1) << name << ": the files part at that offset";
  EXPECT_EQ(fs::file_size(theirs), fs::file_size(ours)) << name;
  fs::remove(theirs);
  return ours;
}

Data Bytes(std::size_t n, std::mt19937& random) {
  auto out = std::make_shared<std::vector<std::uint8_t>>(n);
  for (auto& b : *out) b = std::uint8_t(random());
  return out;
}

std::vector<std::uint32_t> Palette(std::uint32_t seed) {
  std::vector<std::uint32_t> colours(256);
  for (std::size_t i = 0; i < colours.size(); ++i) colours[i] = 0xFF000000u | ((std::uint32_t(i) * 2654435761u + seed) & 0xFFFFFF);
  return colours;
}

// Pictures at the video's rate and sound in blocks of about a picture's time, in time order.
std::vector<Packet> Interleaved(const std::vector<Source>& sources, int pictures, std::mt19937& random,
                                std::size_t coded_size = 0) {
  std::vector<Packet> packets;
  for (int n = 0; n < pictures; ++n) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Source& s = sources[i];
      if (s.desc.video) {
        const AviVideoDesc& v = s.desc.picture;
        const std::size_t raw = ((std::size_t(v.width) * std::size_t(v.bits ? v.bits : 24) + 31) / 32) * 4 * std::size_t(v.height);
        // Coded pictures of odd and even sizes, a key picture every fourth.
        const std::size_t size = v.codec != 0 ? coded_size + std::size_t(random() % 301) : raw;
        packets.push_back({int(i), Bytes(size, random), n, 1, v.codec == 0 || n % 4 == 0, {}});
      } else {
        const AviAudioDesc& a = s.desc.sound;
        // Blocks of sound for one picture of 1/10 s.
        const std::int64_t blocks = std::max<std::int64_t>(1, std::int64_t(a.sample_rate) / 10 / a.samples_per_block);
        packets.push_back({int(i), Bytes(std::size_t(blocks) * a.block_align, random), n * blocks, blocks, true, {}});
      }
    }
  }
  return packets;
}

TEST(AviMuxer, PicturesAndSoundOfEveryKindAsLibavformatWritesThem) {
  TempDir dir("avi-muxer-kinds");
  std::mt19937 random(7);
  const std::vector<std::uint8_t> ms_coefficients = {0xF4, 0x01, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02,
                                                     0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x40, 0x00,
                                                     0xF0, 0x00, 0x00, 0x00, 0xCC, 0x01, 0x30, 0xFF, 0x88, 0x01,
                                                     0x18, 0xFF};
  struct Case {
    std::string name;
    std::vector<Source> sources;
  };
  const std::vector<Case> cases = {
      {"raw8-pcm16", {RawVideo(64, 48, 8, {100, 1000}), Sound(WaveFormat(1, 2, 44100, 4, 16, 176400))}},
      {"raw4", {RawVideo(40, 24, 4, {1, 12})}},
      {"raw1-pcm8", {RawVideo(72, 16, 1, {250, 1000}), Sound(WaveFormat(1, 1, 11025, 1, 8, 11025))}},
      {"raw16-ima", {RawVideo(48, 32, 16, {1, 25}), Sound(WaveFormat(0x11, 1, 22050, 512, 4, 11100, {0xF9, 0x03}))}},
      {"raw24", {RawVideo(33, 20, 24, {1001, 30000})}},
      {"raw32-ms", {RawVideo(16, 16, 32, {1, 5}), Sound(WaveFormat(2, 2, 44100, 2048, 4, 44359, ms_coefficients))}},
      {"coded-two-sounds",
       {CodedVideo(352, 288, "DIVX", {1, 2, 3, 4, 5}, {1, 10}, 200000), Sound(WaveFormat(6, 1, 8000, 1, 8, 8000)),
        Sound(WaveFormat(1, 2, 48000, 4, 16, 192000))}},
      // WAVE_FORMAT_EXTENSIBLE: more than two channels, 24 bits, more than 48 kHz, floats.
      {"coded-extensible",
       {CodedVideo(160, 120, "MJPG", {}, {1, 10}, 0), Sound(WaveFormat(1, 6, 96000, 18, 24, 1728000)),
        Sound(WaveFormat(3, 2, 48000, 8, 32, 384000))}},
      // A bit rate so high that ten hours of it need more master index entries than the default.
      {"coded-fast", {CodedVideo(64, 64, "DIVX", {9, 9, 9, 9}, {1, 10}, 400'000'000)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Packet> packets = Interleaved(c.sources, 12, random, 1000);
    // The colours come with the first picture and change with the sixth.
    for (Packet& p : packets)
      if (c.sources[std::size_t(p.stream)].desc.picture.palette && c.sources[std::size_t(p.stream)].desc.video &&
          (p.dts == 0 || p.dts == 5))
        p.palette = Palette(std::uint32_t(p.dts));
    const fs::path ours = ExpectSameAsLibavformat(dir, c.name, c.sources, packets);
    EXPECT_EQ(Probe(ours).size(), c.sources.size()) << "ffprobe reads every stream";
  }
}

// A stream that comes late (an encoder's delay) holds the others back, up
// to ten seconds of them; a stream that ends early holds nothing back.
TEST(AviMuxer, InterleavesLaggingAndEndedStreamsAsLibavformat) {
  TempDir dir("avi-muxer-interleave");
  std::mt19937 random(11);
  const std::vector<Source> sources = {CodedVideo(64, 64, "XVID", {}, {1, 1}, 0),
                                       Sound(WaveFormat(1, 1, 8000, 2, 16, 16000))};
  for (int lag : {3, 12, 30}) {
    SCOPED_TRACE(lag);
    // Pictures of one second each come `lag` seconds after their sound.
    std::vector<Packet> packets;
    const int seconds = 40;
    for (int t = 0; t < seconds + lag; ++t) {
      if (t < seconds) packets.push_back({1, Bytes(16000, random), t * 8000, 8000, true, {}});
      if (t >= lag) packets.push_back({0, Bytes(100 + std::size_t(random() % 50), random), t - lag, 1, t == lag, {}});
    }
    ExpectSameAsLibavformat(dir, "lag" + std::to_string(lag), sources, packets);
  }
  // The sound stops after five seconds; pictures go on for thirty.
  std::vector<Packet> packets;
  for (int t = 0; t < 30; ++t) {
    packets.push_back({0, Bytes(64, random), t, 1, true, {}});
    if (t < 5) packets.push_back({1, Bytes(16000, random), t * 8000, 8000, true, {}});
  }
  ExpectSameAsLibavformat(dir, "sound-ends", sources, packets);
}

// Pictures left out between two times, and after the last one's duration,
// are empty chunks as libavformat writes them.
TEST(AviMuxer, SkippedPicturesAreEmptyChunksAsLibavformatWritesThem) {
  TempDir dir("avi-muxer-skips");
  std::mt19937 random(3);
  const std::vector<Source> sources = {CodedVideo(32, 32, "DIVX", {}, {1, 10}, 0)};
  const std::vector<Packet> packets = {{0, Bytes(51, random), 0, 1, true, {}},
                                       {0, Bytes(40, random), 1, 1, false, {}},
                                       {0, Bytes(33, random), 5, 1, false, {}},
                                       {0, Bytes(20, random), 7, 4, false, {}}};
  const fs::path ours = ExpectSameAsLibavformat(dir, "skips", sources, packets);
  auto streams = Probe(ours);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["nb_frames"], "11") << "frames 0 to 10, the last four from one picture";
}

// Past 1 GiB the file goes on in AVIX parts with OpenDML indexes; the
// header's room for them becomes the master index.
TEST(AviMuxer, FilesPastOneGibibyteBecomeOpenDmlAsLibavformatWritesThem) {
  TempDir dir("avi-muxer-odml");
  // Two files of 1.2 GiB, ours and libavformat's, side by side.
  std::error_code ec;
  const auto space = fs::space(dir.Path(), ec);
  if (ec || space.available < (std::uintmax_t(3) << 30)) GTEST_SKIP() << "less than 3 GiB free in " << dir.Path();
  std::mt19937 random(5);
  const std::vector<Source> sources = {RawVideo(1024, 1024, 32, {1, 25}), Sound(WaveFormat(1, 2, 44100, 4, 16, 176400))};
  // 4 MiB pictures: 300 of them make two parts.
  const Data picture = Bytes(std::size_t(4) << 20, random);
  std::vector<Packet> packets;
  for (int n = 0; n < 300; ++n) {
    packets.push_back({0, picture, n, 1, true, {}});
    packets.push_back({1, Bytes(7056, random), n * 1764, 1764, true, {}});
  }
  const fs::path ours = ExpectSameAsLibavformat(dir, "odml", sources, packets);
  std::ifstream in(ours, std::ios::binary);
  std::vector<char> head(65536);
  in.read(head.data(), std::streamsize(head.size()));
  const std::string text(head.begin(), head.end());
  EXPECT_NE(text.find("indx"), std::string::npos);
  EXPECT_NE(text.find(std::string("LIST\x04\x01\x00\x00odml", 12)), std::string::npos) << "the OpenDML header list";
  auto streams = Probe(ours);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["nb_read_packets"], "300");
}

}  // namespace
}  // namespace quarvel::vfw
