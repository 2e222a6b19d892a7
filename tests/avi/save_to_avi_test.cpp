// The save to AVI from the frame store to the file, read back by ffprobe and ffmpeg.

#include "avi/save_to_avi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "avi/avi_oracle.h"
#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::avi {
namespace {

namespace fs = std::filesystem;
using avi_test::Probe;
using avi_test::TempDir;
using gdi::Bitmap;
using gdi::PixelFormat;

constexpr int kFrames = 20;
constexpr int kWidth = 62, kHeight = 46;  // the video is 64 x 48

class SaveToAviTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.Path() / "temp");
    paths::SetWorkingFolder(dir_.Path());
    options_.output = dir_.Path() / "clip.avi";
    options_.captured_frame_count = kFrames;
    options_.audio = false;
    options_.latency_ms = 250;
    callbacks_.ask_overwrite = [](const fs::path&) { return true; };
  }
  void TearDown() override { paths::SetWorkingFolder({}); }

  void StoreFrames(int count = kFrames, int w = kWidth, int h = kHeight) {
    for (int i = 0; i < count; ++i) capture::SaveFrameFile(avi_test::MovingFrame(i, w, h), i + 1);
  }

  // What frame i should look like in the video: stretched to the rounded size in the save's depth.
  static Bitmap Expected(const Bitmap& picture, PixelFormat format, int w, int h) {
    Bitmap converted = picture.ConvertTo(format);
    Bitmap frame(w, h, format);
    gdi::StretchBlt(frame, 0, 0, w, h, converted, 0, 0, converted.Width(), converted.Height());
    return frame;
  }

  static double MeanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
  }

  AviSaveOutcome Save() { return SaveToAvi(writer_, options_, callbacks_); }

  TempDir dir_{"qsave"};
  TAviWriter_2 writer_;
  AviSaveOptions options_;
  AviSaveCallbacks callbacks_;
};

std::vector<std::string> PresentCodes() {
  std::vector<std::string> codes;
  vfw::CompressorTable table = vfw::CompressorTable::Detect();
  for (std::size_t i = 0; i < table.Size(); ++i) codes.push_back(vfw::FourCCToString(table.At(i).code));
  return codes;
}

class EveryCompressor : public SaveToAviTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(EveryCompressor, WritesTheFramesWithItsCodeRateAndSize) {
  StoreFrames();
  // The writer's size is the last video's, as after an earlier save of the same frames.
  writer_.Width = 64;
  writer_.Height = 48;
  options_.codec.items = {"No Compression", GetParam() + " under test"};
  options_.codec.selected = 1;
  options_.quality_index = 1;
  auto outcome = Save();
  ASSERT_TRUE(outcome.saved) << outcome.message;
  EXPECT_FALSE(fs::exists(dir_.Path() / "~AWTempclip.avi"));
  auto streams = Probe(options_.output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_tag_string"], GetParam());
  EXPECT_EQ(streams[0]["width"], "64");
  EXPECT_EQ(streams[0]["height"], "48");
  EXPECT_EQ(streams[0]["r_frame_rate"], "4/1");
  EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(kFrames));

  auto decoded = avi_test::DecodeFrames(options_.output, 64, 48);
  ASSERT_EQ(decoded.size(), std::size_t(kFrames));
  auto compressor = vfw::InstalledCompressors().Find(vfw::mmioStringToFOURCC(GetParam(), 0));
  ASSERT_TRUE(compressor);
  for (int i = 0; i < kFrames; ++i) {
    auto expected = avi_test::TopDownBgr(Expected(avi_test::MovingFrame(i, kWidth, kHeight), PixelFormat::pf24bit, 64, 48));
    if (compressor->lossless)
      EXPECT_EQ(decoded[std::size_t(i)], expected) << "frame " << i;
    else  // lossy, but the right picture the right way up in the right colours
      EXPECT_LT(MeanDifference(decoded[std::size_t(i)], expected), 16.0) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Installed, EveryCompressor, ::testing::ValuesIn(PresentCodes()),
                         [](const auto& info) { return info.param; });

TEST_F(SaveToAviTest, UncompressedDepthsKeepEveryPixel) {
  StoreFrames(4);
  options_.captured_frame_count = 4;
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf24bit,
                        PixelFormat::pf32bit}) {
    SCOPED_TRACE(gdi::BitsPerPixel(f));
    options_.pixel_format = f;
    ASSERT_TRUE(Save().saved);
    auto streams = Probe(options_.output);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]["codec_name"], "rawvideo");
    auto decoded = avi_test::DecodeFrames(options_.output, 64, 48);
    ASSERT_EQ(decoded.size(), 4u);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(decoded[std::size_t(i)],
                avi_test::TopDownBgr(Expected(avi_test::MovingFrame(i, kWidth, kHeight), f, 64, 48)))
          << "frame " << i;
  }
}

TEST_F(SaveToAviTest, MissingFramesRepeatTheOneBefore) {
  StoreFrames(4);
  fs::remove(paths::FrameFilePath(3));
  options_.captured_frame_count = 4;
  ASSERT_TRUE(Save().saved);
  auto decoded = avi_test::DecodeFrames(options_.output, 64, 48);
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_EQ(decoded[2], decoded[1]);
  EXPECT_NE(decoded[3], decoded[1]);
}

TEST_F(SaveToAviTest, DamagedFrameFileIsNamedAndNothingIsLeftBehind) {
  StoreFrames(3);
  std::ofstream(paths::FrameFilePath(2), std::ios::binary) << "broken";
  options_.captured_frame_count = 3;
  try {
    Save();
    FAIL() << "a damaged frame file must stop the save";
  } catch (const capture::FrameStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("2.bmp"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(options_.output));
  EXPECT_FALSE(fs::exists(dir_.Path() / "~AWTempclip.avi"));
  EXPECT_FALSE(writer_.VideoOpen());
}

TEST_F(SaveToAviTest, ChecksStopTheSaveWithTheirMessages) {
  StoreFrames(2);
  options_.output.clear();
  EXPECT_EQ(Save().message, "Choose an output file name first");
  options_.output = dir_.Path() / "clip.avi";
  options_.captured_frame_count = 0;
  EXPECT_EQ(Save().message, "No images selected.");
  EXPECT_FALSE(fs::exists(options_.output));
}

TEST_F(SaveToAviTest, OverwriteAnsweredNoLeavesTheFileAlone) {
  StoreFrames(2);
  options_.captured_frame_count = 2;
  std::ofstream(options_.output) << "keep me";
  fs::path asked;
  bool closed = false;
  callbacks_.ask_overwrite = [&](const fs::path& p) {
    asked = p;
    return false;
  };
  callbacks_.close_recorder = [&] { closed = true; };
  auto outcome = Save();
  EXPECT_FALSE(outcome.saved);
  EXPECT_TRUE(outcome.message.empty());
  EXPECT_EQ(asked, options_.output);
  EXPECT_FALSE(closed);
  std::ifstream in(options_.output);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");
  callbacks_.ask_overwrite = [](const fs::path&) { return true; };
  EXPECT_TRUE(Save().saved);
  EXPECT_TRUE(closed);
  EXPECT_EQ(Probe(options_.output).size(), 1u);
}

TEST_F(SaveToAviTest, ProgressShowsEveryFrameThenTheFinalSteps) {
  StoreFrames(4);
  options_.captured_frame_count = 4;
  std::vector<std::pair<std::string, int>> seen;
  int closed_at = -1;
  callbacks_.close_recorder = [&] { closed_at = int(seen.size()); };
  callbacks_.progress = [&](const std::string& label, int percent) { seen.emplace_back(label, percent); };
  ASSERT_TRUE(Save().saved);
  EXPECT_EQ(closed_at, 0);
  std::vector<std::pair<std::string, int>> expected = {{"0/4", 0},
                                                       {"1/4", 17},
                                                       {"2/4", 35},
                                                       {"3/4", 52},
                                                       {"Finalize Video, Please Waiting ...", 52},
                                                       {"Write Video, Please Waiting ...", 52},
                                                       {"Avi Done", 52}};
  EXPECT_EQ(seen, expected);
}

TEST_F(SaveToAviTest, CropAndZoomSetTheVideoSize) {
  StoreFrames(2);
  options_.captured_frame_count = 2;
  options_.crop_zoom = capture::CropZoom{1, 2, 4, 5, 150};  // 56 x 40, then 84 x 60
  ASSERT_TRUE(Save().saved);
  auto streams = Probe(options_.output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["width"], "88");
  EXPECT_EQ(streams[0]["height"], "64");
  // The preview size, when given, is what counts.
  options_.preview_width = 102;
  options_.preview_height = 76;
  options_.latency_ms = 100;
  ASSERT_TRUE(Save().saved);
  streams = Probe(options_.output);
  EXPECT_EQ(streams[0]["width"], "104");
  EXPECT_EQ(streams[0]["height"], "80");
  EXPECT_EQ(streams[0]["r_frame_rate"], "10/1");
}

// The halves a capture feeds as it runs write the file SaveToAvi writes
// from the same frames' files, byte for byte: codec, crop and zoom, depth,
// and a number left out repeating the picture before.
TEST_F(SaveToAviTest, PicturesHandedOverWriteTheFileTheStoreGives) {
  struct Case {
    const char* code;
    capture::CropZoom crop_zoom;
    PixelFormat format;
  };
  const std::vector<Case> cases = {{"DIVX", {}, PixelFormat::pf24bit},
                                   {"MJPG", {1, 2, 4, 5, 150}, PixelFormat::pf24bit},
                                   {"", {0, 0, 0, 0, 50}, PixelFormat::pf8bit}};
  StoreFrames(6);
  fs::remove(paths::FrameFilePath(4));
  options_.captured_frame_count = 6;
  const auto read_bytes = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("codec ") + c.code);
    if (*c.code != '\0' && !vfw::InstalledCompressors().Find(vfw::mmioStringToFOURCC(c.code, 0))) continue;
    options_.crop_zoom = c.crop_zoom;
    options_.pixel_format = c.format;
    options_.output = dir_.Path() / "whole.avi";
    options_.preview_width = options_.preview_height = 0;
    options_.codec = CodecBox{{"No Compression", std::string(c.code)}, *c.code != '\0' ? 1 : 0};
    ASSERT_TRUE(Save().saved);

    TAviWriter_2 halves;
    AviSaveOptions fed = options_;
    fed.output = dir_.Path() / "halves.avi";
    gdi::Bitmap first = capture::LoadFramePicture(paths::FrameFilePath(1));
    capture::CropAndZoomFrame(first, c.crop_zoom);
    fed.preview_width = first.Width();
    fed.preview_height = first.Height();
    const fs::path scratch = dir_.Path() / "~AWTemphalves.avi";
    BeginAviSave(halves, fed, scratch);
    gdi::Bitmap shown;
    for (int n = 1; n <= 6; ++n) {
      if (fs::exists(paths::FrameFilePath(n))) shown = capture::LoadFramePicture(paths::FrameFilePath(n));
      AppendStoredFrame(halves, shown, fed.crop_zoom);
    }
    EXPECT_TRUE(fs::exists(scratch));
    FinishAviSave(halves, fed, callbacks_);
    EXPECT_FALSE(fs::exists(scratch));
    const auto whole = read_bytes(options_.output);
    ASSERT_FALSE(whole.empty());
    EXPECT_TRUE(whole == read_bytes(fed.output));
  }
}

TEST_F(SaveToAviTest, HandedOverPicturesNeedTheSizeFirst) {
  AviSaveOptions fed = options_;
  EXPECT_THROW(BeginAviSave(writer_, fed, dir_.Path() / "~AWTemp.avi"), AviWriterError);
  EXPECT_FALSE(writer_.VideoOpen());
}

TEST_F(SaveToAviTest, RoundsSizesUpToMultiplesOfEight) {
  EXPECT_EQ(RoundUpTo8(550), 552);
  EXPECT_EQ(RoundUpTo8(400), 400);
  EXPECT_EQ(RoundUpTo8(102), 104);
  EXPECT_EQ(RoundUpTo8(76), 80);
  EXPECT_EQ(RoundUpTo8(1), 8);
}

// ---- Sound -------------------------------------------------------------

class SaveWithSound : public SaveToAviTest {
 protected:
  void SaveAndCompare(const std::string& codec_name) {
    options_.audio = true;
    ASSERT_TRUE(Save().saved);
    auto wav = Probe(paths::RecordingFilePath());
    auto streams = Probe(options_.output);
    ASSERT_EQ(wav.size(), 1u);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["codec_type"], "video");
    StreamInfo& audio = streams[1];
    EXPECT_EQ(audio["codec_name"], codec_name);
    for (const char* key : {"sample_rate", "channels", "block_align", "bits_per_sample"})
      EXPECT_EQ(audio[key], wav[0][key]) << key;
    double frame = options_.latency_ms / 1000.0;
    EXPECT_NEAR(avi_test::StreamSeconds(audio), avi_test::ToSeconds(wav[0]["duration"]), frame);
    // The decoded sound lasts as long as the recording.
    std::string decoded = avi_test::Run("ffmpeg -v error -i " + avi_test::Quote(options_.output) +
                                        " -map 0:a -f s16le -ac 1 -ar 8000 - 2>/dev/null");
    EXPECT_NEAR(double(decoded.size()) / 16000.0, avi_test::ToSeconds(wav[0]["duration"]), frame);
  }
  using StreamInfo = avi_test::StreamInfo;
};

TEST_F(SaveWithSound, PcmRecordingBecomesTheSecondStream) {
  StoreFrames();
  avi_test::WritePcmWave(paths::RecordingFilePath(), 44100, 2, kFrames * 0.25);
  SaveAndCompare("pcm_s16le");
}

TEST_F(SaveWithSound, ImaAdpcmKeepsItsBlockTiming) {
  StoreFrames();
  ASSERT_TRUE(avi_test::WriteImaAdpcmWave(paths::RecordingFilePath(), 11025, kFrames * 0.25));
  options_.codec.items = {"No Compression", "DIVX"};
  options_.codec.selected = vfw::InstalledCompressors().Find(vfw::mmioStringToFOURCC("DIVX", 0)) ? 1 : 0;
  SaveAndCompare("adpcm_ima_wav");
}

TEST_F(SaveWithSound, AudioUncheckedLeavesTheRecordingOut) {
  StoreFrames(2);
  options_.captured_frame_count = 2;
  avi_test::WritePcmWave(paths::RecordingFilePath(), 44100, 2, 0.5);
  options_.audio = false;
  ASSERT_TRUE(Save().saved);
  EXPECT_EQ(Probe(options_.output).size(), 1u);
}

TEST_F(SaveWithSound, MissingRecordingStopsInTheFinalWrite) {
  StoreFrames(3);
  options_.captured_frame_count = 3;
  options_.audio = true;
  std::vector<std::string> labels;
  callbacks_.progress = [&](const std::string& label, int) { labels.push_back(label); };
  try {
    Save();
    FAIL() << "the save must stop";
  } catch (const AviWriterError& e) {
    EXPECT_STREQ(e.what(), "A disk error occurred while opening the audio file.");
  }
  EXPECT_EQ(labels.back(), "Write Video, Please Waiting ...");
  EXPECT_EQ(writer_.FramesWritten(), 3);
  EXPECT_FALSE(fs::exists(options_.output));
  EXPECT_FALSE(fs::exists(dir_.Path() / "~AWTempclip.avi"));
}

// ---- The codec list ----------------------------------------------------

vfw::CompressorTable Fake(const std::vector<std::string>& codes) {
  std::vector<vfw::Compressor> entries;
  for (const auto& code : codes) {
    vfw::Compressor c;
    c.code = vfw::mmioStringToFOURCC(code, 0);
    c.name = "Fake";
    c.query = [](const vfw::BITMAPINFOHEADER& h) { return h.biBitCount == 1 ? vfw::ICERR_BADFORMAT : vfw::ICERR_OK; };
    entries.push_back(std::move(c));
  }
  return vfw::CompressorTable(std::move(entries));
}

TEST(FillCodecList, PicksDivxThenWmvThenNoCompression) {
  TAviWriter_2 writer;
  auto box = FillCodecList(writer, 3, Fake({"MJPG", "WMV2", "DIVX"}));
  ASSERT_EQ(box.items.size(), 4u);
  EXPECT_EQ(box.items[box.selected], "DIVX Fake");
  box = FillCodecList(writer, 3, Fake({"MJPG", "WMV1", "WMV2"}));
  EXPECT_EQ(box.items[box.selected], "WMV1 Fake");
  box = FillCodecList(writer, 3, Fake({"MJPG", "divx"}));  // the search minds the case
  EXPECT_EQ(box.selected, 0);
  box = FillCodecList(writer, 3, Fake({}));
  EXPECT_EQ(box.items, std::vector<std::string>{"No Compression"});
  EXPECT_EQ(box.selected, 0);
  EXPECT_TRUE(writer.CompressorCode().empty());
  EXPECT_EQ(writer.Quality(), 4000);
}

// The default choice without the whole list: the entry FillCodecList selects,
// and only the compressors that could be it asked (opening some encoders is slow).
TEST(DefaultCodecBox, SelectsWhatTheListSelectsAskingOnlyTheCandidates) {
  const std::vector<std::vector<std::string>> tables = {
      {"MJPG", "WMV2", "DIVX"}, {"MJPG", "WMV1", "WMV2"}, {"MJPG", "divx"}, {}, {"H264", "FFV1"}};
  for (const auto& codes : tables) {
    SCOPED_TRACE(testing::PrintToString(codes));
    TAviWriter_2 listed;
    const CodecBox full = FillCodecList(listed, 3, Fake(codes));
    vfw::CompressorTable table = Fake(codes);
    std::vector<std::string> asked;
    for (std::size_t i = 0; i < table.Size(); ++i) {
      const std::string code = vfw::FourCCToString(table.At(i).code);
      table.At(i).query = [&asked, code](const vfw::BITMAPINFOHEADER&) {
        asked.push_back(code);
        return vfw::ICERR_OK;
      };
    }
    vfw::ScopedCompressorTable installed(table);
    TAviWriter_2 writer;
    const CodecBox box = DefaultCodecBox(writer, 3);
    ASSERT_GE(box.selected, 0);
    EXPECT_EQ(box.items[std::size_t(box.selected)], full.items[std::size_t(full.selected)]);
    EXPECT_EQ(writer.CompressorCode(), listed.CompressorCode());
    EXPECT_EQ(writer.Quality(), listed.Quality());
    for (const std::string& code : asked) EXPECT_TRUE(code == "DIVX" || code.starts_with("WMV")) << code;
  }
}

// A compressor that refuses the frame is passed over: WMV is the choice then.
TEST(DefaultCodecBox, AFormatDivxRefusesFallsBackToWmv) {
  vfw::CompressorTable table = Fake({"DIVX", "WMV2"});
  table.At(0).query = [](const vfw::BITMAPINFOHEADER&) { return vfw::ICERR_BADFORMAT; };
  vfw::ScopedCompressorTable installed(table);
  TAviWriter_2 writer;
  const CodecBox box = DefaultCodecBox(writer, 3);
  EXPECT_EQ(box.items[std::size_t(box.selected)], "WMV2 Fake");
  EXPECT_EQ(writer.CompressorCode(), "WMV2");
}

TEST(FillCodecList, RealCompressorsGiveDivxWhenPresent) {
  TAviWriter_2 writer;
  auto box = FillCodecList(writer, 0);
  ASSERT_GE(box.items.size(), 1u);
  EXPECT_EQ(box.items[0], "No Compression");
  EXPECT_EQ(writer.Quality(), 10000);
  if (vfw::InstalledCompressors().Find(vfw::mmioStringToFOURCC("DIVX", 0))) {
    EXPECT_EQ(box.items[box.selected].substr(0, 4), "DIVX");
    EXPECT_EQ(writer.CompressorCode(), "DIVX");
  }
  // Every listed entry starts with a code the writer can select.
  for (std::size_t i = 1; i < box.items.size(); ++i) EXPECT_NO_THROW(writer.SelectCompressor(box.items[i]));
}

TEST(FillCodecList, BitDepthChangeRebuildsAndFallsBackToTheDefault) {
  vfw::ScopedCompressorTable fake(Fake({"MJPG", "DIVX"}));
  TAviWriter_2 writer;
  auto box = FillCodecList(writer, 3);
  box.selected = 1;  // chosen by hand
  ApplyCodec(writer, box);
  EXPECT_EQ(writer.CompressorCode(), "MJPG");
  box = ChangeBitDepth(writer, 0, 3);  // 1 bit: these fakes take none
  EXPECT_EQ(writer.PixelFormat(), PixelFormat::pf1bit);
  EXPECT_EQ(box.items, std::vector<std::string>{"No Compression"});
  EXPECT_TRUE(writer.CompressorCode().empty());
  box = ChangeBitDepth(writer, 7, 3);  // no such entry: depth unchanged
  EXPECT_EQ(writer.PixelFormat(), PixelFormat::pf1bit);
  box = ChangeBitDepth(writer, 2, 3);
  EXPECT_EQ(box.items[box.selected], "DIVX Fake");
  EXPECT_EQ(writer.CompressorCode(), "DIVX");
}

TEST(CodecBoxMappings, QualityAndDepthFollowTheirTables) {
  EXPECT_EQ(QualityForIndex(0), 10000);
  EXPECT_EQ(QualityForIndex(1), 8000);
  EXPECT_EQ(QualityForIndex(2), 6000);
  EXPECT_EQ(QualityForIndex(3), 4000);
  EXPECT_EQ(QualityForIndex(4), 2000);
  EXPECT_EQ(QualityForIndex(-1), 10000);
  EXPECT_EQ(PixelFormatForDepthIndex(0), PixelFormat::pf1bit);
  EXPECT_EQ(PixelFormatForDepthIndex(2), PixelFormat::pf8bit);
  EXPECT_EQ(PixelFormatForDepthIndex(4), PixelFormat::pf32bit);
  EXPECT_FALSE(PixelFormatForDepthIndex(5).has_value());
  EXPECT_EQ(kBitDepthItems[PixelFormatForDepthIndex(3) == PixelFormat::pf24bit ? 3 : 0], "24 Bit");
}

}  // namespace
}  // namespace quarvel::avi
