#include "sound/sound_extractor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/swf_builder.h"

namespace quarvel::sound {
namespace {
namespace fs = std::filesystem;
using swf::Compression;
using testing::SoundFormat;
using testing::SwfBuilder;
using testing::Timeline;
using Bytes = std::vector<std::uint8_t>;

const SoundFormat kMp3{2, 3, true, true};
const SoundFormat kAdpcm{1, 2, true, false};
const SoundFormat kRaw{0, 1, false, false};

Bytes Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The stored bytes, as the command line's --raw writes them.
SoundExtraction Raw(const fs::path& swf) { return ExtractSounds(swf, ExtractOptions{.raw = true}); }

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarvel-sound-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("QUARVEL_HOME", (dir_ / "home").c_str(), 1);
    fs::create_directories(dir_ / "home");
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(dir_);
  }
  fs::path Write(const SwfBuilder& b, const std::string& name = "clip.swf",
                 Compression c = Compression::kNone, bool end = true) {
    const fs::path p = dir_ / name;
    b.WriteFile(p, c, end);
    return p;
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(ExtractTest, Mp3StreamGivesOneFileOfTheFramesInBlockOrder) {
  const Bytes f1 = testing::SilentMp3Frame(64), f2 = testing::SilentMp3Frame(128);
  SwfBuilder b;
  b.SoundStreamHead(kMp3, kMp3, 1152, 0).ShowFrame();
  b.SoundStreamBlockMp3(1152, 0, f1).ShowFrame().SoundStreamBlockMp3(1152, 576, f2).ShowFrame();
  const SoundExtraction r = Raw(Write(b));
  ASSERT_EQ(r.files, std::vector<fs::path>{dir_ / "clip_StreamSound1.MP3"});
  EXPECT_EQ(Slurp(r.files[0]), Concat({f1, f2}));
  EXPECT_EQ(r.messages, std::vector<std::string>{P("clip_StreamSound1.MP3") + "\r\n\r\nsaved !"});
}

TEST_F(ExtractTest, AdpcmThenMp3StreamsAreCountedAndTyped) {
  SwfBuilder b;
  b.SoundStreamHead(kAdpcm, kAdpcm, 512).SoundStreamBlock(Bytes{1, 2, 3, 4, 5, 6});
  b.SoundStreamBlock(Bytes{0, 0, 0, 0, 7}).ShowFrame();
  b.SoundStreamHead(kMp3, kMp3, 1152, 0).SoundStreamBlock(Bytes{9, 9, 9, 9, 8, 8}).ShowFrame();
  const SoundExtraction r = Raw(Write(b));
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_EQ(r.files[0], dir_ / "clip_StreamSound1.WAV");
  EXPECT_EQ(r.files[1], dir_ / "clip_StreamSound2.MP3");
  EXPECT_EQ(Slurp(r.files[0]), (Bytes{5, 6, 7}));
  EXPECT_EQ(Slurp(r.files[1]), (Bytes{8, 8}));
  EXPECT_EQ(r.messages.back(),
            P("clip_StreamSound1.WAV") + "\r\n" + P("clip_StreamSound2.MP3") + "\r\n\r\nsaved !");
}

TEST_F(ExtractTest, SoundStreamHead2WithLatencySeekIsPassedOverByItsLength) {
  SwfBuilder b;
  b.SoundStreamHead2(kMp3, kMp3, 1152, -10).SoundStreamBlock(Bytes{0, 0, 0, 0, 0xAB}).ShowFrame();
  const SoundExtraction r = Raw(Write(b));
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].filename(), "clip_StreamSound1.MP3");
  EXPECT_EQ(Slurp(r.files[0]), Bytes{0xAB});
}

TEST_F(ExtractTest, EventSoundsKeepTagOrderAndTheirOwnExtensions) {
  SwfBuilder b;
  b.DefineSound(1, kMp3, 1152, Bytes{0, 0, 0xFF, 0xFB});
  b.DefineSound(5, kRaw, 3, Bytes{1, 2, 3});
  b.DefineSound(9, SoundFormat{6, 0, true, false}, 2, Bytes{4});  // Nellymoser: keeps ".WAV"
  const SoundExtraction r = Raw(Write(b));
  ASSERT_EQ(r.files.size(), 3u);
  EXPECT_EQ(r.files[0].filename(), "clip_SOUND1.MP3");
  EXPECT_EQ(r.files[1].filename(), "clip_SOUND5.WAV");
  EXPECT_EQ(r.files[2].filename(), "clip_SOUND9.WAV");
  // From the format byte on: format, 32-bit sample count, data as stored.
  EXPECT_EQ(Slurp(r.files[0]), (Bytes{0x2F, 0x80, 0x04, 0, 0, 0, 0, 0xFF, 0xFB}));
  EXPECT_EQ(Slurp(r.files[1]), (Bytes{0x04, 3, 0, 0, 0, 1, 2, 3}));
  EXPECT_EQ(r.messages.back(), P("clip_SOUND1.MP3") + "\r\n" + P("clip_SOUND5.WAV") + "\r\n" +
                                   P("clip_SOUND9.WAV") + "\r\n\r\nsaved !");
}

TEST_F(ExtractTest, UnknownFormatsKeepThePreviousExtensionOfTheirKind) {
  SwfBuilder b;
  b.DefineSound(1, SoundFormat{3, 3, true, true}, 1, Bytes{1});   // first: ".WAV"
  b.DefineSound(2, kMp3, 1, Bytes{1});
  b.DefineSound(3, SoundFormat{11, 3, true, true}, 1, Bytes{1});  // after MP3: ".MP3"
  b.SoundStreamHead(kMp3, SoundFormat{15, 0, false, false}, 1);   // stream kind: ".WAV"
  b.SoundStreamBlock(Bytes{0, 0, 0, 0, 1});
  const SoundExtraction r = Raw(Write(b));
  ASSERT_EQ(r.files.size(), 4u);
  EXPECT_EQ(r.files[0].filename(), "clip_SOUND1.WAV");
  EXPECT_EQ(r.files[1].filename(), "clip_SOUND2.MP3");
  EXPECT_EQ(r.files[2].filename(), "clip_SOUND3.MP3");
  EXPECT_EQ(r.files[3].filename(), "clip_StreamSound1.WAV");
}

TEST_F(ExtractTest, SpriteStreamsAreFoundAndKeptApartFromTheMainOne) {
  Timeline sprite;
  sprite.SoundStreamHead(kMp3, kMp3, 1152);
  sprite.SoundStreamBlock(Bytes{0, 0, 0, 0, 1, 2}).ShowFrame().SoundStreamBlock(Bytes{0, 0, 0, 0, 3}).ShowFrame();
  sprite.End();
  SwfBuilder b;
  // The main timeline's stream runs on while the sprite is defined.
  b.SoundStreamHead(kMp3, kMp3, 1152).SoundStreamBlock(Bytes{0, 0, 0, 0, 7});
  b.DefineSprite(10, sprite).ShowFrame();
  b.SoundStreamBlock(Bytes{0, 0, 0, 0, 8}).ShowFrame();
  for (const bool raw : {true, false}) {
    SCOPED_TRACE(raw ? "raw" : "playable");
    const SoundExtraction r = ExtractSounds(Write(b), ExtractOptions{.raw = raw});
    ASSERT_EQ(r.files.size(), 2u);
    // Numbered as their data begins; the sprite's is written at its end.
    EXPECT_EQ(r.files[0], dir_ / "clip_StreamSound2.MP3");
    EXPECT_EQ(r.files[1], dir_ / "clip_StreamSound1.MP3");
    EXPECT_EQ(Slurp(r.files[0]), (Bytes{1, 2, 3}));
    EXPECT_EQ(Slurp(r.files[1]), (Bytes{7, 8}));
  }
}

TEST_F(ExtractTest, ShortBlocksAddNothing) {
  SwfBuilder b;
  b.SoundStreamHead(kMp3, kMp3, 1152).SoundStreamBlock(Bytes{1, 2, 3, 4}).SoundStreamBlock(Bytes{});
  b.SoundStreamBlock(Bytes{1}).ShowFrame();
  const SoundExtraction r = Raw(Write(b));
  EXPECT_TRUE(r.files.empty());
  EXPECT_EQ(r.messages, std::vector<std::string>{"No sound tag found !"});
}

TEST_F(ExtractTest, BaseNameIsCutAtTheFirstDot) {
  SwfBuilder b;
  b.DefineSound(7, kMp3, 1, Bytes{1});
  const SoundExtraction r = Raw(Write(b, "a.b.swf"));
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0], dir_ / "a_SOUND7.MP3");
}

TEST_F(ExtractTest, CompressedFileIsInflatedNotTheStaleCopy) {
  // A copy of another movie lies in the working folder.
  SwfBuilder other;
  other.DefineSound(99, kMp3, 1, Bytes{1});
  other.WriteFile(dir_ / "home" / "uncompress.swf");
  for (Compression c : {Compression::kZlib, Compression::kLzma}) {
    SwfBuilder b;
    b.DefineSound(4, kRaw, 2, Bytes{5, 6});
    const fs::path p = Write(b, "packed.swf", c);
    const SoundExtraction r = Raw(p);
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0], p.string() + " Uncompressed !");
    EXPECT_EQ(r.messages[1], P("packed_SOUND4.WAV") + "\r\n\r\nsaved !");
    EXPECT_EQ(r.files, std::vector<fs::path>{dir_ / "packed_SOUND4.WAV"});
  }
  EXPECT_FALSE(fs::exists(dir_ / "packed_SOUND99.MP3"));
}

TEST_F(ExtractTest, NotASwfFile) {
  const fs::path p = dir_ / "x.swf";
  std::ofstream(p) << "GIF89a....";
  const SoundExtraction r = Raw(p);
  EXPECT_EQ(r.messages, std::vector<std::string>{p.string() + " not flash/swf file or compressed !"});
  EXPECT_TRUE(r.files.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2);  // home and x.swf
}

TEST_F(ExtractTest, MissingFileDoesNothing) {
  const SoundExtraction r = Raw(dir_ / "none.swf");
  EXPECT_TRUE(r.messages.empty());
  EXPECT_TRUE(r.files.empty());
}

TEST_F(ExtractTest, DataEndingBeforeEndWritesWhatWasComplete) {
  SwfBuilder b;
  b.DefineSound(1, kMp3, 1, Bytes{1}).SoundStreamHead(kMp3, kMp3, 1152);
  b.SoundStreamBlock(Bytes{0, 0, 0, 0, 0x11, 0x22}).ShowFrame();
  const Bytes whole = b.Build(Compression::kNone, false);
  const fs::path p = Write(b, "cut.swf", Compression::kNone, false);
  const SoundExtraction r = Raw(p);
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_EQ(Slurp(dir_ / "cut_StreamSound1.MP3"), (Bytes{0x11, 0x22}));
  EXPECT_EQ(r.messages.back(), P("cut_SOUND1.MP3") + "\r\n" + P("cut_StreamSound1.MP3") +
                                   "\r\n\r\nsaved !\r\nThe file ends at byte offset " +
                                   std::to_string(whole.size()) + " without an End tag.");
}

TEST_F(ExtractTest, OverlongTagEndsTheWalkThere) {
  SwfBuilder b;
  b.SoundStreamHead(kAdpcm, kAdpcm, 1).SoundStreamBlock(Bytes{0, 0, 0, 0, 3});
  const std::size_t cut_at = b.Build(Compression::kNone, false).size();
  b.DefineSound(2, kMp3, 1, Bytes(100, 1));
  Bytes f = b.Build();
  f.resize(f.size() - 40);  // the DefineSound now runs past the data
  const fs::path p = dir_ / "long.swf";
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  const SoundExtraction r = Raw(p);
  EXPECT_EQ(r.files, std::vector<fs::path>{dir_ / "long_StreamSound1.WAV"});
  const std::string& m = r.messages.back();
  EXPECT_EQ(m.rfind(P("long_StreamSound1.WAV") + "\r\n\r\nsaved !\r\nThe file is cut off at byte offset " +
                        std::to_string(cut_at) + ": ",
                    0),
            0u)
      << m;
  EXPECT_NE(m.find("DefineSound"), std::string::npos);
}

TEST_F(ExtractTest, TruncatedCompressedFileIsWalkedAsFarAsItGoes) {
  SwfBuilder b;
  b.DefineSound(1, kRaw, 4, Bytes{1, 2, 3, 4});
  for (int i = 0; i < 200; ++i) b.SoundStreamBlock(Bytes(50, static_cast<std::uint8_t>(i)));
  Bytes f = b.Build(Compression::kZlib);
  f.resize(f.size() * 2 / 3);
  const fs::path p = dir_ / "trunc.swf";
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  const SoundExtraction r = Raw(p);
  ASSERT_GE(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].filename(), "trunc_SOUND1.WAV");
  EXPECT_NE(r.messages.back().find("byte offset"), std::string::npos);
}

TEST_F(ExtractTest, UnwritableOutputStopsWithTheFilesSoFar) {
  SwfBuilder b;
  b.DefineSound(1, kMp3, 1, Bytes{1}).DefineSound(2, kMp3, 1, Bytes{2}).DefineSound(3, kMp3, 1, Bytes{3});
  const fs::path p = Write(b);
  fs::create_directory(dir_ / "clip_SOUND2.MP3");  // cannot be opened as a file
  try {
    Raw(p);
    FAIL();
  } catch (const SoundExtractionError& e) {
    EXPECT_NE(std::string(e.what()).find("clip_SOUND2.MP3"), std::string::npos);
    EXPECT_EQ(e.SoFar().files, std::vector<fs::path>{dir_ / "clip_SOUND1.MP3"});
  }
  EXPECT_TRUE(fs::exists(dir_ / "clip_SOUND1.MP3"));
  EXPECT_FALSE(fs::exists(dir_ / "clip_SOUND3.MP3"));
}

TEST_F(ExtractTest, BrokenCompressedStreamIsAnError) {
  SwfBuilder b;
  b.DefineSound(1, kMp3, 1, Bytes(500, 7));
  Bytes f = b.Build(Compression::kZlib);
  for (std::size_t i = 12; i < f.size(); ++i) f[i] ^= 0x3C;
  const fs::path p = dir_ / "broken.swf";
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  try {
    Raw(p);
    FAIL();
  } catch (const SoundExtractionError& e) {
    EXPECT_NE(std::string(e.what()).find("broken.swf"), std::string::npos);
    EXPECT_EQ(e.SoFar().messages, std::vector<std::string>{p.string() + " Uncompressed !"});
  }
}

}  // namespace
}  // namespace quarvel::sound
