#include "avi/avi_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "avi/avi_oracle.h"
#include "platform/vfw/compressors.h"

namespace quarvel::avi {
namespace {

namespace fs = std::filesystem;
using avi_test::Probe;
using avi_test::TempDir;
using gdi::Bitmap;
using gdi::Color;
using gdi::PixelFormat;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const AviWriterError& e) {
    return e.what();
  }
  return "";
}

vfw::CompressorTable FakeTable(const std::vector<std::string>& codes, std::vector<int>* asked = nullptr) {
  std::vector<vfw::Compressor> entries;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    vfw::Compressor c;
    c.code = vfw::mmioStringToFOURCC(codes[i], 0);
    c.name = "Fake " + codes[i];
    // Codes starting with "x" refuse every format.
    bool refuse = codes[i][0] == 'x';
    c.query = [asked, i, refuse](const vfw::BITMAPINFOHEADER&) {
      if (asked) asked->push_back(int(i));
      return refuse ? vfw::ICERR_BADFORMAT : vfw::ICERR_OK;
    };
    entries.push_back(std::move(c));
  }
  return vfw::CompressorTable(std::move(entries));
}

class AviWriterTest : public ::testing::Test {
 protected:
  TempDir dir_{"qaviw"};
  TAviWriter_2 writer_;

  void SetUp() override {
    writer_.ScratchFileName = dir_.Path() / "~AWTempout.avi";
    writer_.filename = dir_.Path() / "out.avi";
    writer_.Width = 32;
    writer_.Height = 24;
    writer_.FrameTime = 250;
  }

  void WriteFrames(int n) {
    writer_.OpenVideo();
    for (int i = 0; i < n; ++i) writer_.AppendFrame(avi_test::MovingFrame(i, 32, 24));
  }
};

TEST_F(AviWriterTest, StartsWithTheDocumentedValues) {
  TAviWriter_2 w(1024, 768);
  EXPECT_EQ(w.Width, 102);
  EXPECT_EQ(w.Height, 76);
  EXPECT_EQ(w.FrameTime, 1000);
  EXPECT_TRUE(w.Stretch);
  EXPECT_EQ(w.PixelFormat(), PixelFormat::pf24bit);
  EXPECT_EQ(w.Quality(), 5000);
  EXPECT_TRUE(w.CompressorCode().empty());
  EXPECT_TRUE(w.WavFileName().empty());
  EXPECT_EQ(w.ScratchFileName.filename(), "~AWTemp.avi");
  EXPECT_FALSE(w.VideoOpen());
  EXPECT_FALSE(w.ReadyToSave());
}

TEST_F(AviWriterTest, PixelFormatTakesOnlyTheFiveDepths) {
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf24bit,
                        PixelFormat::pf32bit}) {
    writer_.SetPixelFormat(f);
    EXPECT_EQ(writer_.PixelFormat(), f);
  }
  for (PixelFormat f : {PixelFormat::pfDevice, PixelFormat::pf15bit, PixelFormat::pf16bit, PixelFormat::pfCustom}) {
    EXPECT_EQ(MessageOf([&] { writer_.SetPixelFormat(f); }), "Pixelformat not supported");
    EXPECT_EQ(writer_.PixelFormat(), PixelFormat::pf32bit);
  }
}

TEST_F(AviWriterTest, WavFileNameNeedsTheWavExtension) {
  writer_.SetWavFileName("/x/Sound.WAV");
  EXPECT_EQ(writer_.WavFileName(), "/x/Sound.WAV");
  writer_.SetWavFileName("/x/sound.wav");  // same name ignoring case: kept as it was
  EXPECT_EQ(writer_.WavFileName(), "/x/Sound.WAV");
  EXPECT_EQ(MessageOf([&] { writer_.SetWavFileName("/x/sound.mp3"); }),
            "WavFileName must name a file with the .wav extension");
  EXPECT_EQ(MessageOf([&] { writer_.SetWavFileName("/x/wav"); }),
            "WavFileName must name a file with the .wav extension");
  EXPECT_EQ(writer_.WavFileName(), "/x/Sound.WAV");
  writer_.SetWavFileName("");
  EXPECT_TRUE(writer_.WavFileName().empty());
}

TEST_F(AviWriterTest, KeyFrameEveryRoundsHalvesToEven) {
  EXPECT_EQ(KeyFrameEvery(250), 4);
  EXPECT_EQ(KeyFrameEvery(400), 2);    // 2.5
  EXPECT_EQ(KeyFrameEvery(2000), 0);   // 0.5
  EXPECT_EQ(KeyFrameEvery(3000), 0);
  EXPECT_EQ(KeyFrameEvery(1000), 1);
  EXPECT_EQ(KeyFrameEvery(25), 40);
  EXPECT_EQ(KeyFrameEvery(300), 3);    // 3.33
  EXPECT_EQ(KeyFrameEvery(285), 4);    // 3.51
  EXPECT_EQ(KeyFrameEvery(80), 12);    // 12.5
  EXPECT_EQ(KeyFrameEvery(666), 2);    // 1.5015
}

TEST_F(AviWriterTest, SelectCompressorUsesFourCharactersAndReportsAbsentOnes) {
  vfw::ScopedCompressorTable fake(FakeTable({"DIVX", "xbad"}));
  writer_.SelectCompressor("");
  EXPECT_TRUE(writer_.CompressorCode().empty());
  writer_.SelectCompressor("DIVX5 and more");
  EXPECT_EQ(writer_.CompressorCode(), "DIVX");
  EXPECT_EQ(MessageOf([&] { writer_.SelectCompressor("xbad"); }), "No compressor for xbad available");
  EXPECT_TRUE(writer_.CompressorCode().empty());
  EXPECT_EQ(MessageOf([&] { writer_.SelectCompressor("QQQQQ"); }), "No compressor for QQQQ available");
}

TEST_F(AviWriterTest, ListCompressorsOffersNoCompressionAndEveryAcceptingCompressor) {
  {
    vfw::ScopedCompressorTable none{vfw::CompressorTable{}};
    std::vector<std::string> list = {"stale"};
    writer_.ListCompressors(list);
    EXPECT_EQ(list, std::vector<std::string>{"No Compression"});
  }
  std::vector<int> asked;
  vfw::ScopedCompressorTable fake(FakeTable({"AAAA", "xbad", "cvid"}, &asked));
  std::vector<std::string> list;
  writer_.ListCompressors(list);
  EXPECT_EQ(list, (std::vector<std::string>{"No Compression", "AAAA Fake AAAA", "cvid Fake cvid"}));
  EXPECT_EQ(asked, (std::vector<int>{0, 1, 2}));
}

TEST_F(AviWriterTest, ListedNamesAreNotCutAtTheShortNamesLength) {
  // "Zip Motion Blocks" does not fit the 15 characters of a short name.
  std::vector<std::string> list;
  writer_.ListCompressors(list);
  for (const std::string& entry : list) {
    if (entry.starts_with("ZMBV")) {
      EXPECT_EQ(entry, "ZMBV Zip Motion Blocks Video");
    }
    EXPECT_FALSE(entry.ends_with("Bloc")) << entry;
  }
}

TEST_F(AviWriterTest, FrameFormatHoldsHeaderAndColourTable) {
  struct Case {
    PixelFormat format;
    int size;
  };
  for (Case c : {Case{PixelFormat::pf1bit, 48}, Case{PixelFormat::pf4bit, 104}, Case{PixelFormat::pf8bit, 1064},
                 Case{PixelFormat::pf24bit, 40}, Case{PixelFormat::pf32bit, 40}}) {
    writer_.SetPixelFormat(c.format);
    writer_.OpenVideo();
    writer_.AppendFrame(avi_test::MovingFrame(0, 32, 24));
    EXPECT_EQ(writer_.FrameFormatSize(), c.size);
    ASSERT_EQ(writer_.FrameFormat().size(), std::size_t(c.size));
    vfw::BITMAPINFOHEADER h;
    std::memcpy(&h, writer_.FrameFormat().data(), sizeof h);
    EXPECT_EQ(h.biWidth, 32);
    EXPECT_EQ(h.biHeight, 24);
    EXPECT_EQ(h.biBitCount, gdi::BitsPerPixel(c.format));
    EXPECT_EQ(h.biSizeImage, gdi::CheckedImageSize(32, 24, gdi::BitsPerPixel(c.format)));
    if (c.format == PixelFormat::pf1bit) {  // black, then white
      EXPECT_EQ(writer_.FrameFormat()[40], 0);
      EXPECT_EQ(writer_.FrameFormat()[44], 255);
    }
    writer_.CloseVideo();
  }
}

TEST_F(AviWriterTest, CompressOptionsFollowCodeFrameTimeAndQuality) {
  vfw::ScopedCompressorTable fake(FakeTable({"DIVX"}));
  writer_.SelectCompressor("DIVX");
  writer_.SetQuality(4000);
  writer_.FrameTime = 400;
  writer_.OpenVideo();
  EXPECT_EQ(writer_.StreamHeader().fccHandler, vfw::mmioStringToFOURCC("DIVX", 0));
  EXPECT_EQ(writer_.StreamHeader().dwScale, 400u);
  EXPECT_EQ(writer_.StreamHeader().dwRate, 1000u);
  EXPECT_EQ(writer_.StreamHeader().rcFrame.right, 32);
  writer_.AppendFrame(avi_test::MovingFrame(0, 32, 24));
  const auto& o = writer_.CompressOptions();
  EXPECT_EQ(o.fccType, vfw::streamtypeVIDEO);
  EXPECT_EQ(o.dwKeyFrameEvery, 2u);
  EXPECT_EQ(o.dwQuality, 4000u);
  EXPECT_EQ(o.dwFlags, 12u);
  EXPECT_EQ(o.cbFormat, 40u);
  EXPECT_EQ(o.dwInterleaveEvery, 0u);
  writer_.SelectCompressor("");
  writer_.OpenVideo();
  writer_.AppendFrame(avi_test::MovingFrame(0, 32, 24));
  EXPECT_EQ(writer_.CompressOptions().fccHandler, 0u);
  EXPECT_EQ(writer_.StreamHeader().fccHandler, 0u);
}

TEST_F(AviWriterTest, CallingOrderIsEnforced) {
  EXPECT_EQ(MessageOf([&] { writer_.AppendFrame(avi_test::MovingFrame(0, 8, 8)); }), "Video must be initialized.");
  WriteFrames(3);
  EXPECT_EQ(writer_.FramesWritten(), 3);
  EXPECT_TRUE(writer_.VideoOpen());
  // Saving an open video: refused, and the scratch file stays.
  EXPECT_EQ(MessageOf([&] { writer_.SaveVideo(); }), "Video must be finalized");
  EXPECT_TRUE(fs::exists(writer_.ScratchFileName));
  EXPECT_FALSE(fs::exists(writer_.filename));
  // The scratch stream is gone: more frames are refused without a crash.
  EXPECT_EQ(MessageOf([&] { writer_.AppendFrame(avi_test::MovingFrame(0, 8, 8)); }),
            "Failed to add Frame. Err: 8004406C");
}

TEST_F(AviWriterTest, SilentVideoHasOneStreamAndTheScratchFileGoes) {
  WriteFrames(5);
  writer_.CloseVideo();
  EXPECT_TRUE(writer_.ReadyToSave());
  writer_.SaveVideo();
  EXPECT_FALSE(writer_.ReadyToSave());
  EXPECT_FALSE(fs::exists(writer_.ScratchFileName));
  auto streams = Probe(writer_.filename);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_type"], "video");
  EXPECT_EQ(streams[0]["nb_read_packets"], "5");
  EXPECT_EQ(streams[0]["r_frame_rate"], "4/1");
}

TEST_F(AviWriterTest, WavFileNameAddsASecondStream) {
  fs::path wav = dir_.Path() / "sound.wav";
  avi_test::WritePcmWave(wav, 44100, 2, 1.25);
  writer_.SetWavFileName(wav);
  WriteFrames(5);
  writer_.CloseVideo();
  writer_.SaveVideo();
  auto streams = Probe(writer_.filename);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1]["codec_type"], "audio");
  EXPECT_EQ(streams[1]["codec_name"], "pcm_s16le");
  EXPECT_EQ(streams[1]["sample_rate"], "44100");
  EXPECT_EQ(streams[1]["channels"], "2");
}

TEST_F(AviWriterTest, MissingWavStopsTheSaveCleanly) {
  fs::path wav = dir_.Path() / "absent.wav";
  writer_.SetWavFileName(wav);
  WriteFrames(2);
  writer_.CloseVideo();
  EXPECT_EQ(MessageOf([&] { writer_.SaveVideo(); }), "A disk error occurred while opening the audio file.");
  EXPECT_TRUE(writer_.WavFileName().empty());
  EXPECT_FALSE(fs::exists(writer_.filename));
  EXPECT_FALSE(fs::exists(writer_.ScratchFileName));
  EXPECT_FALSE(writer_.ReadyToSave());
}

TEST_F(AviWriterTest, UnreadableWavFormatsGiveTheirMessages) {
  fs::path wav = dir_.Path() / "noise.wav";
  std::ofstream(wav) << "not a RIFF file";
  std::ofstream(writer_.filename) << "older output";
  writer_.SetWavFileName(wav);
  WriteFrames(1);
  writer_.CloseVideo();
  EXPECT_EQ(MessageOf([&] { writer_.SaveVideo(); }),
            "The file could not be read, indicating a corrupt file or an unrecognized format.");
  // The failure came before the old output was touched.
  EXPECT_TRUE(fs::exists(writer_.filename));
  EXPECT_FALSE(fs::exists(writer_.ScratchFileName));
}

TEST_F(AviWriterTest, FileSystemFailuresGiveTheirMessages) {
  // An output that can't be deleted: a folder with something in it.
  fs::create_directories(writer_.filename / "inside");
  WriteFrames(1);
  writer_.CloseVideo();
  EXPECT_EQ(MessageOf([&] { writer_.SaveVideo(); }),
            "File out.avi could not be deleted. It could be in use by another application.");
  EXPECT_FALSE(fs::exists(writer_.ScratchFileName));

  fs::create_directories(writer_.ScratchFileName / "inside");
  EXPECT_EQ(MessageOf([&] { writer_.OpenVideo(); }),
            "Could not delete " + writer_.ScratchFileName.string() +
                " file might be in use. Try to close the folder if it's open in Explorer");
  writer_.ScratchFileName = dir_.Path() / "no" / "such" / "folder.avi";
  EXPECT_EQ(MessageOf([&] { writer_.OpenVideo(); }), "Failed to create AVI video file " +
                                                        writer_.ScratchFileName.string() +
                                                        ": No such file or directory (Err: $8004406F)");
}

TEST_F(AviWriterTest, UnstretchedFrameIsCentredOnBlack) {
  writer_.Width = 100;
  writer_.Height = 80;
  writer_.Stretch = false;
  writer_.OpenVideo();
  Bitmap white(50, 50, PixelFormat::pf24bit);
  white.Fill(Color{255, 255, 255});
  writer_.AppendFrame(white);
  writer_.CloseVideo();
  writer_.SaveVideo();
  auto frames = avi_test::DecodeFrames(writer_.filename, 100, 80);
  ASSERT_EQ(frames.size(), 1u);
  auto at = [&](int x, int y) { return frames[0][std::size_t(y * 100 + x) * 3]; };
  EXPECT_EQ(at(25, 15), 255);
  EXPECT_EQ(at(74, 64), 255);
  EXPECT_EQ(at(24, 15), 0);
  EXPECT_EQ(at(25, 14), 0);
  EXPECT_EQ(at(75, 64), 0);
  EXPECT_EQ(at(74, 65), 0);
}

TEST_F(AviWriterTest, StretchedFrameFillsTheWholeFrame) {
  writer_.Width = 64;
  writer_.Height = 48;
  writer_.OpenVideo();
  Bitmap small = avi_test::MovingFrame(3, 16, 12);
  writer_.AppendFrame(small);
  writer_.CloseVideo();
  writer_.SaveVideo();
  auto frames = avi_test::DecodeFrames(writer_.filename, 64, 48);
  ASSERT_EQ(frames.size(), 1u);
  Bitmap expected(64, 48, PixelFormat::pf24bit);
  gdi::StretchBlt(expected, 0, 0, 64, 48, small, 0, 0, 16, 12);
  EXPECT_EQ(frames[0], avi_test::TopDownBgr(expected));
}

}  // namespace
}  // namespace quarvel::avi
