// The builder's output read back with the SWF reader, plus independent
// decoders (zlib, libmpg123) where there are some.
#include "support/swf_builder.h"

#include <gtest/gtest.h>
#include <mpg123.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "player/swf/movie.h"

namespace quarvel::testing {
namespace {

using swf::Compression;
using swf::Reader;

std::vector<swf::Tag> TagsOf(const swf::Movie& m) {
  std::vector<swf::Tag> out;
  auto s = m.TagsStream();
  while (auto t = s.Next()) out.push_back(*t);
  return out;
}

TEST(SwfBuilderHeader, EveryContainerRoundTrips) {
  for (Compression c : {Compression::kNone, Compression::kZlib, Compression::kLzma}) {
    SwfBuilder b(6, {-40, 20000, 0, 30000}, 12.5);
    b.SetBackgroundColor({1, 2, 3}).ShowFrame().ShowFrame();
    const auto bytes = b.Build(c);
    const swf::Movie m = swf::OpenMovie(bytes);
    EXPECT_EQ(m.compression, c);
    EXPECT_EQ(m.version, 6);
    EXPECT_EQ(m.fileLength, m.data.size());
    EXPECT_EQ(m.header.frameSize, (swf::Rect{-40, 20000, 0, 30000}));
    EXPECT_DOUBLE_EQ(m.header.FrameRate(), 12.5);
    EXPECT_EQ(m.header.frameCount, 2);
    const auto tags = TagsOf(m);
    ASSERT_EQ(tags.size(), 4u);  // End appended
    EXPECT_EQ(tags[0].code, swf::tag::kSetBackgroundColor);
    EXPECT_EQ(tags[0].body[2], 3);
    EXPECT_EQ(tags[3].code, swf::tag::kEnd);
  }
}

TEST(SwfBuilderHeader, OverridesAndNoEnd) {
  SwfBuilder b;
  b.SetFrameCount(99).SetDeclaredLength(7).SetFrameRateRaw(0x0C80).ShowFrame();
  const auto bytes = b.Build(Compression::kNone, false);
  const swf::Movie m = swf::OpenMovie(bytes);
  EXPECT_EQ(m.header.frameCount, 99);
  EXPECT_EQ(m.fileLength, 7u);
  EXPECT_EQ(m.header.frameRate, 0x0C80);
  EXPECT_EQ(TagsOf(m).size(), 1u);
}

TEST(SwfBuilderTags, LongFormFromSixtyThreeBytesOrWhenAsked) {
  SwfBuilder b;
  std::vector<std::uint8_t> body62(62, 7), body63(63, 7);
  b.Tag(200, body62).Tag(201, body63).Tag(202, {}, true);
  const auto bytes = b.Build();
  const swf::Movie m = swf::OpenMovie(bytes);
  const auto tags = TagsOf(m);
  EXPECT_EQ(tags[0].headerSize, 2);
  EXPECT_EQ(tags[1].headerSize, 6);
  EXPECT_EQ(tags[2].headerSize, 6);
  EXPECT_EQ(tags[2].body.size(), 0u);
  EXPECT_EQ(tags[1].code, 201);
}

// Minimal SHAPEWITHSTYLE walk: returns the absolute points reached by
// moves and edges, and counts the styles seen.
struct Walked {
  std::vector<std::pair<int, int>> points;
  int fills = 0, lines = 0, fillKinds = 0;
};

void SkipFill(Reader& r, int version) {
  const std::uint8_t kind = r.U8();
  if (kind == 0) {
    r.Skip(version >= 3 ? 4 : 3);
  } else if (kind == 0x10 || kind == 0x12 || kind == 0x13) {
    swf::ReadMatrix(r);
    r.UB(4);
    const unsigned n = r.UB(4);
    for (unsigned i = 0; i < n; ++i) r.Skip(version >= 3 ? 5 : 4);
    if (kind == 0x13) r.U16();
  } else {
    ASSERT_GE(kind, 0x40);
    r.U16();
    swf::ReadMatrix(r);
  }
}

void Styles(Reader& r, int version, Walked& w) {
  unsigned n = r.U8();
  if (n == 0xFF) n = r.U16();
  w.fills += static_cast<int>(n);
  for (unsigned i = 0; i < n; ++i) SkipFill(r, version);
  n = r.U8();
  if (n == 0xFF) n = r.U16();
  w.lines += static_cast<int>(n);
  for (unsigned i = 0; i < n; ++i) {
    r.U16();
    if (version < 4) {
      r.Skip(version >= 3 ? 4 : 3);
      continue;
    }
    r.UB(2);
    const unsigned join = r.UB(2);
    const bool has_fill = r.UB(1);
    r.UB(11);
    if (join == 2) r.U16();
    if (has_fill) SkipFill(r, version);
    else r.Skip(4);
  }
}

Walked Walk(std::span<const std::uint8_t> body, int version) {
  Walked w;
  Reader r(body);
  r.U16();
  swf::ReadRect(r);
  if (version == 4) {
    swf::ReadRect(r);
    r.U8();
  }
  Styles(r, version, w);
  unsigned fb = r.UB(4), lb = r.UB(4);
  int x = 0, y = 0;
  for (;;) {
    if (r.UB(1) == 0) {
      const unsigned flags = r.UB(5);
      if (flags == 0) break;
      if (flags & 1) {
        const unsigned n = r.UB(5);
        x = r.SB(n);
        y = r.SB(n);
        w.points.push_back({x, y});
      }
      if (flags & 2) r.UB(fb);
      if (flags & 4) r.UB(fb);
      if (flags & 8) r.UB(lb);
      if (flags & 16) {
        Styles(r, version, w);
        fb = r.UB(4);
        lb = r.UB(4);
      }
    } else if (r.UB(1) == 1) {
      const unsigned n = r.UB(4) + 2;
      if (r.UB(1)) {
        x += r.SB(n);
        y += r.SB(n);
      } else if (r.UB(1)) {
        y += r.SB(n);
      } else {
        x += r.SB(n);
      }
      w.points.push_back({x, y});
    } else {
      const unsigned n = r.UB(4) + 2;
      x += r.SB(n);
      y += r.SB(n);
      w.points.push_back({x, y});
      x += r.SB(n);
      y += r.SB(n);
      w.points.push_back({x, y});
    }
  }
  EXPECT_EQ(r.Remaining(), 0u);
  return w;
}

TEST(ShapeBuilder, EveryVersionEncodesTheSamePath) {
  for (int version = 1; version <= 4; ++version) {
    ShapeBuilder s;
    const auto red = s.AddFill(FillStyle::Solid({255, 0, 0}));
    const auto grad = s.AddFill(FillStyle::Linear({{0, {0, 0, 0}}, {255, {255, 255, 255}}},
                                                  {0.5, 0.5, 0, 0, 100, 100}));
    const auto bmp = s.AddFill(FillStyle::Bitmap(7, {20, 20, 0, 0, 0, 0}));
    const auto line = s.AddLine({40, {0, 0, 255}});
    s.Rectangle(-100, -200, 3000, 70000 / 2, red, line);
    s.SetFill1(grad).MoveTo(5000, 5000).CurveTo(6000, 4000, 7000, 5000).LineTo(5000, 5000);
    s.SetFill1(bmp).MoveTo(0, 0).LineTo(1, 1);
    if (version >= 2) {
      s.NewStyles();
      s.Rectangle(0, 0, 10, 10, s.AddFill(FillStyle::Solid({1, 2, 3})));
    }
    SwfBuilder b;
    b.DefineShape(1, s, version);
    const auto bytes = b.Build();
    const swf::Movie m = swf::OpenMovie(bytes);
    const auto tags = TagsOf(m);
    const std::uint16_t codes[] = {2, 22, 32, 83};
    ASSERT_EQ(tags[0].code, codes[version - 1]);
    const Walked w = Walk(tags[0].body, version);
    std::vector<std::pair<int, int>> want = {{-100, -200}, {2900, -200}, {2900, 34800},
                                             {-100, 34800}, {-100, -200}, {5000, 5000},
                                             {6000, 4000}, {7000, 5000}, {5000, 5000},
                                             {0, 0},        {1, 1}};
    if (version >= 2) {
      for (auto p : std::vector<std::pair<int, int>>{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}})
        want.push_back(p);
    }
    EXPECT_EQ(w.points, want) << "DefineShape" << version;
    EXPECT_EQ(w.fills, version >= 2 ? 4 : 3);
    EXPECT_EQ(w.lines, 1);
    // Bounds cover the points and half the line width.
    Reader r(tags[0].body);
    r.U16();
    EXPECT_EQ(swf::ReadRect(r), (swf::Rect{-120, 7020, -220, 34820}));
  }
}

TEST(ShapeBuilder, RefusesWhatAVersionCannotHold) {
  ShapeBuilder s;
  s.AddFill(FillStyle::Focal({{0, {}}}, 0.5));
  EXPECT_THROW(s.Encode(3), std::invalid_argument);
  EXPECT_NO_THROW(s.Encode(4));
  ShapeBuilder t;
  t.NewStyles();
  EXPECT_THROW(t.Encode(1), std::invalid_argument);
  ShapeBuilder u;
  u.MoveTo(0, 0).LineTo(70000, 0);
  EXPECT_THROW(u.Encode(1), std::invalid_argument);
  ShapeBuilder v;
  v.SetFill1(2);
  EXPECT_THROW(v.Encode(1), std::invalid_argument);
}

TEST(SwfBuilderTags, PlaceObject2And3FieldOrder) {
  Placement p;
  p.depth = 3;
  p.characterId = 9;
  p.matrix = swf::Matrix{2.0, 2.0, 0, 0, 100, -100};
  p.colorTransform = swf::ColorTransform{256, 128, 0, 256, 0, 0, 10, -10};
  p.ratio = 5;
  p.name = "clip";
  p.clipDepth = 7;
  SwfBuilder b;
  b.PlaceObject2(p);
  p.blendMode = 3;
  p.className = "Foo";
  p.visible = 1;
  b.PlaceObject3(p).RemoveObject2(3);
  const auto bytes = b.Build();
  const swf::Movie movie = swf::OpenMovie(bytes);
  const auto tags = TagsOf(movie);
  for (int i = 0; i < 2; ++i) {
    Reader r = tags[i].BodyReader();
    EXPECT_EQ(r.U8(), 0x7E);
    if (i == 1) {
      EXPECT_EQ(r.U8(), 0x2A);  // visible, class name, blend mode
    }
    EXPECT_EQ(r.U16(), 3);
    if (i == 1) {
      EXPECT_EQ(r.String(), "Foo");
    }
    EXPECT_EQ(r.U16(), 9);
    EXPECT_EQ(swf::ReadMatrix(r), *p.matrix);
    EXPECT_EQ(swf::ReadCxformWithAlpha(r), *p.colorTransform);
    EXPECT_EQ(r.U16(), 5);
    EXPECT_EQ(r.String(), "clip");
    EXPECT_EQ(r.U16(), 7);
    if (i == 1) {
      EXPECT_EQ(r.U8(), 3);
      EXPECT_EQ(r.U8(), 1);
      EXPECT_EQ(swf::ReadRgba(r), (swf::Rgba{0, 0, 0, 0}));
    }
    EXPECT_TRUE(r.AtEnd());
  }
  EXPECT_EQ(tags[2].code, swf::tag::kRemoveObject2);
  EXPECT_EQ(tags[2].body.size(), 2u);
}

TEST(SwfBuilderTags, SpriteCarriesItsOwnTimeline) {
  Timeline sprite;
  sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().ShowFrame().ShowFrame().End();
  SwfBuilder b;
  b.DefineSprite(4, sprite).ShowFrame();
  const swf::Movie m = swf::OpenMovie(b.Build());
  EXPECT_EQ(m.header.frameCount, 1);
  const auto tags = TagsOf(m);
  Reader r = tags[0].BodyReader();
  EXPECT_EQ(r.U16(), 4);
  EXPECT_EQ(r.U16(), 3);
  swf::TagStream inner(r.Rest(), r.Offset());
  int n = 0;
  while (auto t = inner.Next()) ++n;
  EXPECT_EQ(n, 5);
}

std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> z, std::size_t size) {
  std::vector<std::uint8_t> out(size);
  uLongf n = size;
  EXPECT_EQ(uncompress(out.data(), &n, z.data(), z.size()), Z_OK);
  out.resize(n);
  return out;
}

TEST(SwfBuilderTags, LosslessBitmaps) {
  const std::vector<swf::Rgba> px = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 0}};
  const std::vector<std::uint8_t> idx = {0, 1, 1, 0, 1, 0};
  SwfBuilder b;
  b.DefineBitsLossless(1, 3, 1, px).DefineBitsLossless2(2, 3, 1, px);
  b.DefineBitsLosslessMapped(3, 3, 2, std::span(px).first(2), idx, true);
  const swf::Movie movie = swf::OpenMovie(b.Build());
  const auto tags = TagsOf(movie);
  {
    Reader r = tags[0].BodyReader();
    EXPECT_EQ(r.U16(), 1);
    EXPECT_EQ(r.U8(), 5);
    EXPECT_EQ(r.U16(), 3);
    EXPECT_EQ(r.U16(), 1);
    EXPECT_EQ(Inflate(r.Rest(), 100),
              (std::vector<std::uint8_t>{0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255}));
  }
  {
    Reader r = tags[1].BodyReader();
    r.Skip(7);
    // ARGB, premultiplied.
    EXPECT_EQ(Inflate(r.Rest(), 100),
              (std::vector<std::uint8_t>{255, 255, 0, 0, 128, 0, 128, 0, 0, 0, 0, 0}));
  }
  {
    Reader r = tags[2].BodyReader();
    EXPECT_EQ(tags[2].code, swf::tag::kDefineBitsLossless2);
    r.U16();
    EXPECT_EQ(r.U8(), 3);
    r.Skip(4);
    EXPECT_EQ(r.U8(), 1);  // table size - 1
    EXPECT_EQ(Inflate(r.Rest(), 100),
              (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 255, 0, 128,  // palette
                                         0, 1, 1, 0, 0, 1, 0, 0}));      // rows padded to 4
  }
}

TEST(SwfBuilderTags, SoundTags) {
  const SoundFormat mp3{2, 3, true, true};
  const SoundFormat adpcm{1, 1, true, false};
  const std::vector<std::uint8_t> data = {1, 2, 3};
  SwfBuilder b;
  b.DefineSound(5, mp3, 1152, data)
      .SoundStreamHead(adpcm, adpcm, 512)
      .SoundStreamHead2(mp3, mp3, 1152, -3)
      .SoundStreamBlockMp3(1152, 0, data)
      .StartSound(5, {.syncStop = true, .loops = 2});
  const swf::Movie movie = swf::OpenMovie(b.Build());
  const auto tags = TagsOf(movie);
  EXPECT_EQ(mp3.Byte(), 0x2F);
  Reader r = tags[0].BodyReader();
  EXPECT_EQ(r.U16(), 5);
  EXPECT_EQ(r.U8(), 0x2F);
  EXPECT_EQ(r.U32(), 1152u);
  EXPECT_EQ(r.Rest().size(), 3u);
  EXPECT_EQ(tags[1].body.size(), 4u);  // no latency seek for ADPCM
  EXPECT_EQ(tags[1].body[1], 0x16);
  EXPECT_EQ(tags[2].code, swf::tag::kSoundStreamHead2);
  ASSERT_EQ(tags[2].body.size(), 6u);
  EXPECT_EQ(tags[2].body[4], 0xFD);
  EXPECT_EQ(tags[3].body.size(), 7u);
  Reader s = tags[4].BodyReader();
  EXPECT_EQ(s.U16(), 5);
  EXPECT_EQ(s.U8(), 0x24);  // SyncStop, HasLoops
  EXPECT_EQ(s.U16(), 2);
}

TEST(SwfBuilderTags, ActionsAndLabels) {
  Actions a;
  a.Stop().GotoFrame(258).GotoLabel("x").PushString("v").SetVariable();
  EXPECT_EQ(a.Bytes(), (std::vector<std::uint8_t>{0x07, 0x81, 2, 0, 2, 1, 0x8C, 2, 0, 'x', 0, 0x96,
                                                 3, 0, 0, 'v', 0, 0x1D, 0x00}));
  SwfBuilder b;
  b.DoAction(a).FrameLabel("intro", true);
  const swf::Movie movie = swf::OpenMovie(b.Build());
  const auto tags = TagsOf(movie);
  EXPECT_EQ(tags[0].code, swf::tag::kDoAction);
  EXPECT_EQ(tags[1].body.size(), 7u);
}

TEST(SilentMp3Frame, DecodesWithMpg123) {
  ASSERT_EQ(mpg123_init(), MPG123_OK);
  for (auto [kbps, rate, stereo] : {std::tuple{64, 44100, true}, std::tuple{32, 22050, false},
                                    std::tuple{16, 11025, true}}) {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 8; ++i) {
      const auto f = SilentMp3Frame(kbps, rate, stereo);
      stream.insert(stream.end(), f.begin(), f.end());
    }
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    ASSERT_NE(h, nullptr);
    mpg123_open_feed(h);
    mpg123_feed(h, stream.data(), stream.size());
    std::size_t total = 0;
    int rc;
    do {
      unsigned char buf[8192];
      std::size_t got = 0;
      rc = mpg123_read(h, buf, sizeof buf, &got);
      total += got;
    } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
    long got_rate = 0;
    int channels = 0, enc = 0;
    mpg123_getformat(h, &got_rate, &channels, &enc);
    EXPECT_EQ(got_rate, rate);
    EXPECT_EQ(channels, stereo ? 2 : 1);
    EXPECT_GT(total, 0u);
    EXPECT_EQ(rc, MPG123_NEED_MORE);
    mpg123_delete(h);
  }
}

}  // namespace
}  // namespace quarvel::testing
