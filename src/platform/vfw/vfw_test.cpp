#include "platform/vfw/vfw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "avi/avi_oracle.h"
#include "platform/vfw/compressors.h"

namespace quarvel::vfw {
namespace {

using avi_test::Probe;
using avi_test::TempDir;
namespace fs = std::filesystem;

struct FileHandle {
  PAVIFILE p = nullptr;
  ~FileHandle() {
    if (p) AVIFileRelease(p);
  }
};
struct StreamHandle {
  PAVISTREAM p = nullptr;
  ~StreamHandle() {
    if (p) AVIStreamRelease(p);
  }
};

std::vector<std::uint8_t> DibHeader(int w, int h, int bits) {
  std::vector<std::uint8_t> f(40 + (bits <= 8 ? 4u << bits : 0u), 0);
  BITMAPINFOHEADER bh;
  bh.biSize = 40;
  bh.biWidth = w;
  bh.biHeight = h;
  bh.biPlanes = 1;
  bh.biBitCount = WORD(bits);
  bh.biSizeImage = DWORD(((w * bits + 31) / 32) * 4 * h);
  std::memcpy(f.data(), &bh, sizeof bh);
  if (bits <= 8)
    for (std::size_t i = 0; i < (1u << bits); ++i) {
      f[40 + 4 * i] = std::uint8_t(i * 7);       // blue
      f[40 + 4 * i + 1] = std::uint8_t(255 - i);  // green
      f[40 + 4 * i + 2] = std::uint8_t(i);        // red
    }
  return f;
}

// A new AVI file with one video stream of w x h pixels at `bits`, its
// format set, ready for samples.
void OpenVideoStream(const fs::path& file, int w, int h, int bits, DWORD scale, DWORD rate, FileHandle& f,
                     StreamHandle& s, UINT more_mode = 0) {
  ASSERT_EQ(AVIFileOpen(&f.p, file, OF_WRITE | OF_CREATE | more_mode, nullptr), AVIERR_OK);
  AVISTREAMINFO si;
  si.fccType = streamtypeVIDEO;
  si.dwScale = scale;
  si.dwRate = rate;
  ASSERT_EQ(AVIFileCreateStream(f.p, &s.p, &si), AVIERR_OK);
  auto format = DibHeader(w, h, bits);
  ASSERT_EQ(AVIStreamSetFormat(s.p, 0, format.data(), LONG(format.size())), AVIERR_OK);
}

// Writes an uncompressed AVI through the AVIFile calls; each picture
// `repeat` times.
void WriteScratch(const fs::path& file, int w, int h, int bits, int frames, int repeat = 1) {
  FileHandle f;
  ASSERT_EQ(AVIFileOpen(&f.p, file, OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVISTREAMINFO si;
  si.fccType = streamtypeVIDEO;
  si.dwScale = 250;
  si.dwRate = 1000;
  si.rcFrame = RECT{0, 0, w, h};
  StreamHandle s;
  ASSERT_EQ(AVIFileCreateStream(f.p, &s.p, &si), AVIERR_OK);
  auto format = DibHeader(w, h, bits);
  ASSERT_EQ(AVIStreamSetFormat(s.p, 0, format.data(), LONG(format.size())), AVIERR_OK);
  std::size_t size = std::size_t(((w * bits + 31) / 32) * 4 * h);
  for (int i = 0; i < frames; ++i) {
    std::vector<std::uint8_t> bits_buffer(size, std::uint8_t(i / repeat * 10));
    ASSERT_EQ(AVIStreamWrite(s.p, i, 1, bits_buffer.data(), LONG(size), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
  }
}

TEST(FourCC, CopiesFourCharactersPaddedWithBlanks) {
  EXPECT_EQ(mmioStringToFOURCC("DIVX", 0), mmioFOURCC('D', 'I', 'V', 'X'));
  EXPECT_EQ(mmioStringToFOURCC("cvid", 0), mmioFOURCC('c', 'v', 'i', 'd'));
  EXPECT_EQ(mmioStringToFOURCC("cvid", MMIO_TOUPPER), mmioFOURCC('C', 'V', 'I', 'D'));
  EXPECT_EQ(mmioStringToFOURCC("ab", 0), mmioFOURCC('a', 'b', ' ', ' '));
  EXPECT_EQ(mmioStringToFOURCC("DIVX5", 0), mmioFOURCC('D', 'I', 'V', 'X'));
  EXPECT_EQ(FourCCToString(mmioFOURCC('W', 'M', 'V', '2')), "WMV2");
}

TEST(AviFileWrite, ScratchFileIsARealUncompressedAvi) {
  TempDir dir("qvfw");
  fs::path file = dir.Path() / "scratch.avi";
  WriteScratch(file, 30, 20, 24, 7);
  auto streams = Probe(file);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_name"], "rawvideo");
  EXPECT_EQ(streams[0]["width"], "30");
  EXPECT_EQ(streams[0]["height"], "20");
  EXPECT_EQ(streams[0]["r_frame_rate"], "4/1");
  EXPECT_EQ(streams[0]["nb_read_packets"], "7");
}

// A still movie's frames wait for the save pass once, not once per frame.
TEST(AviFileWrite, RepeatedSamplesAreStoredOnceAndReadBackEach) {
  TempDir dir("qvfw");
  const fs::path still = dir.Path() / "still.avi", moving = dir.Path() / "moving.avi";
  WriteScratch(still, 64, 48, 24, 40, 10);
  WriteScratch(moving, 64, 48, 24, 4);
  // An empty chunk (8 bytes) and an index entry (16) for each repeat.
  EXPECT_LT(fs::file_size(still), fs::file_size(moving) + 40 * 24);
  // Readers see 40 frames of a quarter second, the repeats as empty chunks.
  auto streams = Probe(still);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["nb_frames"], "40");
  EXPECT_EQ(streams[0]["duration"], "10.000000");
  EXPECT_EQ(streams[0]["nb_read_packets"], "4");

  FileHandle f;
  StreamHandle s;
  OpenVideoStream(dir.Path() / "open.avi", 4, 2, 24, 1, 10, f, s);
  std::uint8_t pixels[4 * 2 * 3];
  for (const int value : {7, 7, 9, 7}) {
    std::memset(pixels, value, sizeof pixels);
    ASSERT_EQ(AVIStreamWrite(s.p, -1, 1, pixels, sizeof pixels, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
  }
  std::uint8_t back[sizeof pixels * 4];
  LONG bytes = 0, got = 0;
  ASSERT_EQ(AVIStreamRead(s.p, 0, 4, back, sizeof back, &bytes, &got), AVIERR_OK);
  EXPECT_EQ(got, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i * sizeof pixels + 3], i == 2 ? 9 : 7) << i;
}

// A packed scratch file keeps its pictures deflated and gives them back whole.
TEST(AviFileWrite, PackedScratchIsSmallAndReadsBackEverySample) {
  TempDir dir("qvfw");
  // Every sample to the file.
  SetScratchMemoryBudget(0);
  struct Restore {
    ~Restore() { SetScratchMemoryBudget(std::size_t(192) << 20); }
  } restore;
  FileHandle f;
  StreamHandle s;
  OpenVideoStream(dir.Path() / "packed.avi", 320, 240, 24, 1, 10, f, s, OF_PACKED);
  const std::size_t size = 320 * 240 * 3;
  const auto picture = [&](int n) {
    std::vector<std::uint8_t> p(size);
    for (std::size_t i = 0; i < size; ++i) p[i] = std::uint8_t((i / 960 + std::size_t(n) * 3) & 0xF0);
    return p;
  };
  for (int n = 0; n < 20; ++n) {
    const auto p = picture(n);
    ASSERT_EQ(AVIStreamWrite(s.p, -1, 1, p.data(), LONG(size), AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
  }
  EXPECT_LT(fs::file_size(dir.Path() / "packed.avi"), 20 * size / 20);
  std::vector<std::uint8_t> back(size);
  for (int n : {0, 7, 19}) {
    LONG bytes = 0, got = 0;
    ASSERT_EQ(AVIStreamRead(s.p, n, 1, back.data(), LONG(size), &bytes, &got), AVIERR_OK);
    EXPECT_EQ(bytes, LONG(size));
    EXPECT_TRUE(back == picture(n)) << n;
  }
}

// A scratch file holds samples in memory up to the budget, then deflates
// them into the file; all read back as written, a repeat of a held one too,
// and the budget is free again once the file is closed.
TEST(AviFileWrite, ScratchSamplesHeldInMemoryUpToTheBudget) {
  TempDir dir("qvfw");
  const std::size_t size = 64 * 48 * 3;
  SetScratchMemoryBudget(3 * size);
  struct Restore {
    ~Restore() { SetScratchMemoryBudget(std::size_t(192) << 20); }
  } restore;
  // Noise: deflating gains nothing, so each picture in the file takes its size.
  const auto picture = [&](int n) {
    std::vector<std::uint8_t> p(size);
    std::uint32_t x = 12345u + std::uint32_t(n) * 7919u;
    for (std::size_t i = 0; i < size; ++i) {
      x = x * 1664525u + 1013904223u;
      p[i] = std::uint8_t(x >> 24);
    }
    return p;
  };
  // Pictures 0, 1, 1 (a repeat), 2 held; 3 to 5 in the file.
  const std::vector<int> written = {0, 1, 1, 2, 3, 4, 5};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);  // the second file finds the whole budget again
    FileHandle f;
    StreamHandle s;
    const fs::path file = dir.Path() / ("scratch" + std::to_string(round) + ".avi");
    OpenVideoStream(file, 64, 48, 24, 1, 10, f, s, OF_PACKED);
    for (int n : written) {
      const auto p = picture(n);
      ASSERT_EQ(AVIStreamWrite(s.p, -1, 1, p.data(), LONG(size), AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    }
    // Three pictures in the file, none of the held ones.
    EXPECT_GT(fs::file_size(file), 3 * size);
    EXPECT_LT(fs::file_size(file), 4 * size);
    std::vector<std::uint8_t> back(size);
    for (std::size_t i = 0; i < written.size(); ++i) {
      LONG bytes = 0, got = 0;
      ASSERT_EQ(AVIStreamRead(s.p, LONG(i), 1, back.data(), LONG(size), &bytes, &got), AVIERR_OK);
      EXPECT_EQ(bytes, LONG(size));
      EXPECT_TRUE(back == picture(written[i])) << i;
    }
  }
}

// Held pictures are laid in large blocks: pictures past the first block's
// end start a new one, and every picture reads back whole.
TEST(AviFileWrite, HeldSamplesPastOneBlockReadBackWhole) {
  TempDir dir("qvfw");
  const int w = 2048, h = 1537;  // 9.4 MB a picture, not a multiple of the alignment
  const std::size_t size = std::size_t(w) * h * 3;
  const auto picture = [&](int n) {
    std::vector<std::uint8_t> p(size);
    std::uint32_t x = 777u + std::uint32_t(n) * 104729u;
    for (std::size_t i = 0; i < size; i += 4096) {
      x = x * 1664525u + 1013904223u;
      std::fill_n(p.begin() + std::ptrdiff_t(i), std::min<std::size_t>(4096, size - i), std::uint8_t(x >> 24));
    }
    p.front() = std::uint8_t(n + 1), p.back() = std::uint8_t(n + 101);
    return p;
  };
  FileHandle f;
  StreamHandle s;
  const fs::path file = dir.Path() / "large.avi";
  OpenVideoStream(file, w, h, 24, 1, 10, f, s, OF_PACKED);
  constexpr int kPictures = 5;  // 47 MB: past one block
  for (int n = 0; n < kPictures; ++n) {
    const auto p = picture(n);
    ASSERT_EQ(AVIStreamWrite(s.p, -1, 1, p.data(), LONG(size), AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
  }
  EXPECT_LT(fs::file_size(file), size) << "every picture held in memory";
  std::vector<std::uint8_t> back(size);
  for (int n = kPictures - 1; n >= 0; --n) {
    LONG bytes = 0, got = 0;
    ASSERT_EQ(AVIStreamRead(s.p, LONG(n), 1, back.data(), LONG(size), &bytes, &got), AVIERR_OK);
    EXPECT_EQ(bytes, LONG(size));
    EXPECT_TRUE(back == picture(n)) << n;
  }
}

TEST(AviFileWrite, SamplesReadBackWhileTheFileIsOpenAndFormatIsFixedByFirstWrite) {
  TempDir dir("qvfw");
  FileHandle f;
  ASSERT_EQ(AVIFileOpen(&f.p, dir.Path() / "s.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVISTREAMINFO si;
  si.fccType = streamtypeVIDEO;
  si.dwScale = 1;
  si.dwRate = 10;
  StreamHandle s;
  ASSERT_EQ(AVIFileCreateStream(f.p, &s.p, &si), AVIERR_OK);
  std::uint8_t pixels[4 * 2 * 3] = {};
  // No format yet: nothing can be written.
  EXPECT_NE(AVIStreamWrite(s.p, 0, 1, pixels, sizeof pixels, 0, nullptr, nullptr), AVIERR_OK);
  auto format = DibHeader(4, 2, 24);
  ASSERT_EQ(AVIStreamSetFormat(s.p, 0, format.data(), LONG(format.size())), AVIERR_OK);
  for (int i = 0; i < 3; ++i) {
    std::memset(pixels, 50 + i, sizeof pixels);
    ASSERT_EQ(AVIStreamWrite(s.p, -1, 1, pixels, sizeof pixels, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
  }
  // Writing out of order is refused; so is another format once data is there.
  EXPECT_EQ(AVIStreamWrite(s.p, 7, 1, pixels, sizeof pixels, 0, nullptr, nullptr), AVIERR_BADPARAM);
  auto other = DibHeader(8, 2, 24);
  EXPECT_NE(AVIStreamSetFormat(s.p, 0, other.data(), LONG(other.size())), AVIERR_OK);
  EXPECT_EQ(AVIStreamLength(s.p), 3);
  std::uint8_t back[sizeof pixels];
  LONG bytes = 0, got = 0;
  ASSERT_EQ(AVIStreamRead(s.p, 1, 1, back, sizeof back, &bytes, &got), AVIERR_OK);
  EXPECT_EQ(bytes, LONG(sizeof back));
  EXPECT_EQ(back[5], 51);
  EXPECT_EQ(AVIStreamRead(s.p, 0, 3, back, sizeof back, &bytes, &got), AVIERR_BUFFERTOOSMALL);
}

TEST(AviFileRefs, FileReleaseCountsDownAndStreamsKeepDataAlive) {
  TempDir dir("qvfw");
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, dir.Path() / "r.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  EXPECT_EQ(AVIFileAddRef(f), 2u);
  AVISTREAMINFO si;
  si.fccType = streamtypeVIDEO;
  si.dwScale = 1;
  si.dwRate = 1;
  PAVISTREAM s = nullptr;
  ASSERT_EQ(AVIFileCreateStream(f, &s, &si), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(f), 1u);
  EXPECT_EQ(AVIFileRelease(f), 0u);
  auto format = DibHeader(2, 2, 32);
  EXPECT_EQ(AVIStreamSetFormat(s, 0, format.data(), LONG(format.size())), AVIERR_OK);
  EXPECT_EQ(AVIStreamRelease(s), 0u);
  EXPECT_EQ(Probe(dir.Path() / "r.avi").size(), 1u);
}

class WaveOpen : public ::testing::Test {
 protected:
  TempDir dir_{"qwave"};
  fs::path Write(const std::string& name, const std::string& bytes) {
    fs::path p = dir_.Path() / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  HRESULT Open(const fs::path& p) {
    FileHandle f;
    return AVIFileOpen(&f.p, p, OF_READ, nullptr);
  }
};

TEST_F(WaveOpen, BadFilesGiveTheMatchingResults) {
  EXPECT_EQ(Open(dir_.Path() / "missing.wav"), AVIERR_FILEOPEN);
  EXPECT_EQ(Open(Write("text.wav", "this is not a sound file at all")), AVIERR_BADFORMAT);
  EXPECT_EQ(Open(Write("short.wav", "RIFF")), AVIERR_BADFORMAT);
  EXPECT_EQ(Open(Write("sound.mp3", "ID3")), REGDB_E_CLASSNOTREG);
  fs::create_directories(dir_.Path() / "folder.wav");
  EXPECT_EQ(Open(dir_.Path() / "folder.wav"), AVIERR_FILEREAD);
  // A RIFF WAVE with a format chunk but no data chunk.
  std::string fmt_only = std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0", 20) +
                         std::string("\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0", 16);
  EXPECT_EQ(Open(Write("nodata.wav", fmt_only)), AVIERR_BADFORMAT);
  // MPEG layer 3 in a WAVE file can't be copied block by block.
  std::string mp3 = std::string("RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0", 20) +
                    std::string("\x55\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x01\0\0\0", 16) +
                    std::string("data\x04\0\0\0\xff\xfb\x90\x00", 12);
  EXPECT_EQ(Open(Write("mp3.wav", mp3)), AVIERR_BADFORMAT);
  // A format chunk whose declared size runs past the end of the file.
  std::string runaway = std::string("RIFF\x24\0\0\0WAVEfmt \xff\xff\0\0", 20) + std::string(16, '\1');
  EXPECT_EQ(Open(Write("runaway.wav", runaway)), AVIERR_BADFORMAT);
}

TEST_F(WaveOpen, PcmStreamIsTimedBySampleAndSurvivesItsFile) {
  fs::path p = dir_.Path() / "pcm.WAV";
  avi_test::WritePcmWave(p, 22050, 2, 0.5);
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpen(&f, p, OF_READ, nullptr), AVIERR_OK);
  PAVISTREAM s = nullptr, edit = nullptr;
  EXPECT_EQ(AVIFileGetStream(f, &s, streamtypeVIDEO, 0), AVIERR_NODATA);
  ASSERT_EQ(AVIFileGetStream(f, &s, streamtypeAUDIO, 0), AVIERR_OK);
  ASSERT_EQ(CreateEditableStream(&edit, s), AVIERR_OK);
  AVIStreamRelease(s);
  AVIFileRelease(f);
  AVISTREAMINFO info;
  ASSERT_EQ(AVIStreamInfo(edit, &info, sizeof info), AVIERR_OK);
  EXPECT_EQ(info.fccType, streamtypeAUDIO);
  EXPECT_EQ(info.dwScale, 1u);
  EXPECT_EQ(info.dwRate, 22050u);
  EXPECT_EQ(info.dwSampleSize, 4u);
  EXPECT_EQ(AVIStreamLength(edit), 11025);
  std::uint8_t block[8];
  LONG bytes = 0, got = 0;
  ASSERT_EQ(AVIStreamRead(edit, 1, 2, block, sizeof block, &bytes, &got), AVIERR_OK);
  EXPECT_EQ(bytes, 8);
  EXPECT_EQ(got, 2);
  // Sample 1, channel 0: (1 * 37) % 20000 - 10000 = -9963.
  EXPECT_EQ(std::int16_t(block[0] | (block[1] << 8)), -9963);
  AVIStreamRelease(edit);
}

TEST_F(WaveOpen, ImaAdpcmStreamIsTimedByWholeBlocks) {
  fs::path p = dir_.Path() / "ima.wav";
  ASSERT_TRUE(avi_test::WriteImaAdpcmWave(p, 11025, 1.0));
  FileHandle f;
  ASSERT_EQ(AVIFileOpen(&f.p, p, OF_READ, nullptr), AVIERR_OK);
  StreamHandle s;
  ASSERT_EQ(AVIFileGetStream(f.p, &s.p, streamtypeAUDIO, 0), AVIERR_OK);
  AVISTREAMINFO info;
  ASSERT_EQ(AVIStreamInfo(s.p, &info, sizeof info), AVIERR_OK);
  LONG size = 0;
  ASSERT_EQ(AVIStreamReadFormat(s.p, 0, nullptr, &size), AVIERR_OK);
  std::vector<std::uint8_t> format(std::size_t(size), 0);
  ASSERT_EQ(AVIStreamReadFormat(s.p, 0, format.data(), &size), AVIERR_OK);
  WORD block_align = WORD(format[12] | (format[13] << 8));
  EXPECT_EQ(info.dwSampleSize, block_align);
  EXPECT_EQ(info.dwScale, DWORD((block_align - 4) * 2 + 1));  // samples per mono block
  EXPECT_EQ(info.dwRate, 11025u);
}

// A stand-in compressor table: no encoders, answers decided by the test.
CompressorTable FakeTable(std::vector<std::pair<std::string, LRESULT>> answers) {
  std::vector<Compressor> entries;
  for (auto& [code, answer] : answers) {
    Compressor c;
    c.code = mmioStringToFOURCC(code, 0);
    c.name = code + " fake";
    LRESULT a = answer;
    c.query = [a](const BITMAPINFOHEADER&) { return a; };
    entries.push_back(std::move(c));
  }
  return CompressorTable(std::move(entries));
}

TEST(CompressorManager, EnumeratesOpensAndLocatesByCodeIgnoringCase) {
  ScopedCompressorTable fake(FakeTable({{"AAAA", ICERR_OK}, {"bbbb", ICERR_BADFORMAT}}));
  ICINFO info;
  ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 0, &info));
  EXPECT_EQ(info.fccHandler, mmioFOURCC('A', 'A', 'A', 'A'));
  EXPECT_TRUE(ICInfo(ICTYPE_VIDEO, 1, &info));
  EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 2, &info));
  EXPECT_FALSE(ICInfo(mmioFOURCC('a', 'u', 'd', 'c'), 0, &info));

  HIC hic = ICOpen(ICTYPE_VIDEO, mmioStringToFOURCC("aaaa", 0), ICMODE_QUERY);
  ASSERT_NE(hic, nullptr);
  ICINFO got;
  EXPECT_EQ(ICGetInfo(hic, &got, sizeof got), LRESULT(sizeof got));
  EXPECT_EQ(std::u16string(got.szName), u"AAAA fake");
  ICClose(hic);

  BITMAPINFOHEADER in;
  in.biSize = 40;
  in.biWidth = 8;
  in.biHeight = 8;
  in.biPlanes = 1;
  in.biBitCount = 24;
  EXPECT_EQ(ICLocate(ICTYPE_VIDEO, mmioStringToFOURCC("BBBB", 0), &in, nullptr, ICMODE_COMPRESS), nullptr);
  HIC any = ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_COMPRESS);
  ASSERT_NE(any, nullptr);
  EXPECT_EQ(ICCompressQuery(any, &in, nullptr), ICERR_OK);
  ICClose(any);
}

TEST(CompressorManager, ConfigureQueriesThenShowsTheDialogAndKeepsTheSettings) {
  Compressor c;
  c.code = mmioStringToFOURCC("CONF", 0);
  c.name = "configurable";
  c.has_settings = true;
  c.query = [](const BITMAPINFOHEADER&) { return ICERR_OK; };
  ScopedCompressorTable fake(CompressorTable({c}));
  HIC hic = ICOpen(ICTYPE_VIDEO, c.code, ICMODE_QUERY);
  ASSERT_NE(hic, nullptr);
  // No dialog installed: the compressor has nothing to show.
  EXPECT_EQ(ICSendMessage(hic, ICM_CONFIGURE, DWORD_PTR(-1), ICMF_CONFIGURE_QUERY), ICERR_UNSUPPORTED);
  HWND seen = nullptr;
  SetConfigureDialog([&seen](HWND parent, const Compressor&, CompressorSettings& s) {
    seen = parent;
    s.bit_rate = 800000;
    return true;
  });
  EXPECT_EQ(ICSendMessage(hic, ICM_CONFIGURE, DWORD_PTR(-1), ICMF_CONFIGURE_QUERY), ICERR_OK);
  int window = 0;
  EXPECT_EQ(ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(&window), 0), ICERR_OK);
  EXPECT_EQ(seen, &window);
  EXPECT_EQ(InstalledCompressors().Find(c.code)->settings.bit_rate, 800000);
  SetConfigureDialog(nullptr);
  ICClose(hic);
}

TEST(CompressorManager, RealEncodersRefuseSizesTheyCannotTake) {
  auto mpeg4 = InstalledCompressors().Find(mmioStringToFOURCC("DIVX", 0));
  if (!mpeg4) GTEST_SKIP() << "no MPEG-4 encoder";
  BITMAPINFOHEADER in;
  in.biSize = 40;
  in.biPlanes = 1;
  in.biBitCount = 24;
  in.biWidth = 64;
  in.biHeight = 48;
  EXPECT_EQ(QueryEncoder(*mpeg4, in), ICERR_OK);
  in.biWidth = 63;
  EXPECT_NE(QueryEncoder(*mpeg4, in), ICERR_OK);
  in.biWidth = 64;
  in.biCompression = mmioStringToFOURCC("RLE8", 0);
  EXPECT_NE(QueryEncoder(*mpeg4, in), ICERR_OK);
}

TEST(Quality, MapsMonotonicallyOntoEncoderScales) {
  EXPECT_EQ(QScaleForQuality(10000), 2);
  EXPECT_EQ(QScaleForQuality(4000), 8);
  EXPECT_EQ(QScaleForQuality(-50000), 31);
  EXPECT_EQ(QScaleForQuality(20000), 1);
  for (int q = 0; q < 10000; q += 500) {
    EXPECT_GE(QScaleForQuality(q), QScaleForQuality(q + 500));
    EXPECT_GE(CrfForQuality(q), CrfForQuality(q + 500));
  }
}

std::vector<int> g_percents;
LONG Record(int percent) {
  g_percents.push_back(percent);
  return 0;
}
LONG Abort(int percent) { return percent >= 30 ? 1 : 0; }

TEST(AviSave, ReportsRisingPercentagesAndHonoursAnAbort) {
  TempDir dir("qsave");
  FileHandle f;
  StreamHandle s;
  OpenVideoStream(dir.Path() / "s.avi", 16, 16, 8, 100, 1000, f, s);
  std::vector<std::uint8_t> pixels(16 * 16);
  for (int i = 0; i < 10; ++i) {
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = std::uint8_t(k + std::size_t(i));
    ASSERT_EQ(AVIStreamWrite(s.p, i, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
  }
  fs::path out = dir.Path() / "out.avi";
  g_percents.clear();
  PAVISTREAM streams[1] = {s.p};
  AVICOMPRESSOPTIONS* none[1] = {nullptr};
  ASSERT_EQ(AVISaveV(out, nullptr, Record, 1, streams, none), AVIERR_OK);
  ASSERT_FALSE(g_percents.empty());
  EXPECT_TRUE(std::is_sorted(g_percents.begin(), g_percents.end()));
  EXPECT_EQ(g_percents.back(), 100);
  auto probe = Probe(out);
  ASSERT_EQ(probe.size(), 1u);
  EXPECT_EQ(probe[0]["r_frame_rate"], "10/1");
  EXPECT_EQ(probe[0]["nb_read_packets"], "10");

  fs::path aborted = dir.Path() / "aborted.avi";
  EXPECT_EQ(AVISaveV(aborted, nullptr, Abort, 1, streams, none), AVIERR_USERABORT);
  EXPECT_FALSE(fs::exists(aborted));

  // A compressor code nobody installed.
  AVICOMPRESSOPTIONS unknown;
  unknown.fccType = streamtypeVIDEO;
  unknown.fccHandler = mmioStringToFOURCC("ZZZZ", 0);
  AVICOMPRESSOPTIONS* opts[1] = {&unknown};
  EXPECT_EQ(AVISaveV(dir.Path() / "z.avi", nullptr, nullptr, 1, streams, opts), AVIERR_NOCOMPRESSOR);
  EXPECT_FALSE(fs::exists(dir.Path() / "z.avi"));
}

}  // namespace
}  // namespace quarvel::vfw
