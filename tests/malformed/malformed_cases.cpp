#include "malformed/malformed_cases.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "support/shape_builder.h"
#include "support/swf_builder.h"

namespace quarvel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) throw std::out_of_range("Put32 past the end of a malformed case");
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A small movie with a shape, a sprite and a streamed sound: something in
// every part of the file to cut into.
Bytes Ordinary(swf::Compression c) {
  SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
  ShapeBuilder s;
  s.Rectangle(0, 0, 1000, 1000, s.AddFill(FillStyle::Solid({0, 120, 255})));
  b.DefineShape(1, s);
  Timeline sprite;
  sprite.PlaceObject(1, 1).ShowFrame().ShowFrame();
  b.DefineSprite(2, sprite);
  b.PlaceObject(2, 1);
  for (int i = 0; i < 24; ++i) b.ShowFrame();
  return b.Build(c);
}

// Zeros behind a valid movie header, deflated: `mib` MiB from a file of
// about a thousandth of that.
Bytes ZlibBomb(std::uint32_t mib) {
  const Bytes head = SwfBuilder(10, {0, 4000, 0, 3000}, 12.0).Build();
  Bytes body(std::size_t{mib} << 20, 0);
  std::copy(head.begin() + 8, head.end() - 2, body.begin());  // no End tag: the zeros are End tags
  const Bytes z = ZlibCompress(body, 9);
  Bytes file = {'C', 'W', 'S', 10, 0, 0, 0, 0};
  Put32(file, 4, static_cast<std::uint32_t>(body.size() + 8));
  file.insert(file.end(), z.begin(), z.end());
  return file;
}

MalformedCase Case(std::string name, Bytes bytes, bool may_succeed) {
  return {std::move(name), [b = std::move(bytes)] { return b; }, may_succeed};
}

}  // namespace

std::vector<MalformedCase> MalformedCases() {
  std::vector<MalformedCase> cases;
  const Bytes cws = Ordinary(swf::Compression::kZlib);
  const Bytes zws = Ordinary(swf::Compression::kLzma);
  const Bytes fws = Ordinary(swf::Compression::kNone);

  // Bombs: past the default cap, and one that lies about its length.
  cases.push_back({"bomb-600mib", [] { return ZlibBomb(600); }, false});
  cases.push_back({"bomb-lying-length",
                   [] {
                     Bytes liar = ZlibBomb(300);
                     Put32(liar, 4, 1000);
                     return liar;
                   },
                   false});

  // Cut files at several points of each container.
  for (std::size_t at : {3u, 8u, 12u, 20u}) {
    cases.push_back(Case("cws-cut-" + std::to_string(at), Bytes(cws.begin(), cws.begin() + at), true));
  }
  for (int percent : {25, 50, 90}) {
    cases.push_back(Case("cws-cut-" + std::to_string(percent) + "pct",
                     Bytes(cws.begin(), cws.begin() + cws.size() * percent / 100), true));
    cases.push_back(Case("fws-cut-" + std::to_string(percent) + "pct",
                     Bytes(fws.begin(), fws.begin() + fws.size() * percent / 100), true));
    cases.push_back(Case("zws-cut-" + std::to_string(percent) + "pct",
                     Bytes(zws.begin(), zws.begin() + zws.size() * percent / 100), true));
  }
  cases.push_back(Case("empty", {}, false));

  // Bad LZMA properties: an impossible lc/lp/pb byte, and a 4 GiB dictionary.
  Bytes bad_props = zws;
  bad_props[12] = 0xFF;
  cases.push_back(Case("zws-bad-properties", bad_props, false));
  Bytes huge_dict = zws;
  Put32(huge_dict, 13, 0xFFFFFFFFu);
  cases.push_back(Case("zws-huge-dictionary", huge_dict, true));

  // Huge sizes and counts.
  cases.push_back(Case("huge-stage", SwfBuilder(10, {0, 655340, 0, 655340}, 12.0).Build(), true));
  cases.push_back(Case("negative-stage", SwfBuilder(10, {0, -20000, 0, -20000}, 12.0).Build(), true));
  {
    SwfBuilder b(10, {0, 4000, 0, 3000}, 120.0);
    b.SetFrameCount(65535);
    b.ShowFrame();
    cases.push_back(Case("huge-frame-count", b.Build(), true));
  }
  {
    Bytes f = fws;
    // A tag declaring 2 GiB of body right after the movie header.
    const std::size_t tag = f.size() - 2;  // the End tag
    f[tag] = 0x3F;                          // long form, code 0
    f[tag + 1] = 0x00;
    f.insert(f.end(), {0xFF, 0xFF, 0xFF, 0x7F});
    cases.push_back(Case("huge-tag-length", f, true));
  }
  {
    // Shape records that claim 65535 fill styles.
    SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
    const Bytes tag = {0xBF, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    Bytes f = b.Build();
    f.insert(f.end() - 2, tag.begin(), tag.end());
    Put32(f, 4, static_cast<std::uint32_t>(f.size()));
    cases.push_back(Case("huge-fill-count", f, true));
  }

  // Deep nesting: each sprite places the one before it.
  {
    SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
    ShapeBuilder s;
    s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({255, 0, 0})));
    b.DefineShape(1, s);
    for (std::uint16_t id = 2; id < 300; ++id) {
      Timeline sprite;
      sprite.PlaceObject(static_cast<std::uint16_t>(id - 1), 1).ShowFrame();
      b.DefineSprite(id, sprite);
    }
    b.PlaceObject(299, 1).ShowFrame();
    cases.push_back(Case("deep-nesting", b.Build(swf::Compression::kZlib), true));
  }
  // A sprite that places itself.
  {
    SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
    Timeline sprite;
    sprite.PlaceObject(2, 1).ShowFrame();
    b.DefineSprite(2, sprite);
    b.PlaceObject(2, 1).ShowFrame().ShowFrame();
    cases.push_back(Case("self-nesting", b.Build(), true));
  }

  // Endless scripts: a jump to itself, and a function that calls itself.
  {
    SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
    Actions a;
    a.Jump(-5);
    b.DoAction(a).ShowFrame().ShowFrame();
    cases.push_back(Case("endless-loop", b.Build(), true));
  }
  {
    SwfBuilder b(10, {0, 4000, 0, 3000}, 12.0);
    Actions body;
    body.PushInt(0).PushString("f").Raw(0x3D);  // f()
    Actions a;
    a.DefineFunction("f", {}, body);
    a.PushInt(0).PushString("f").Raw(0x3D).Raw(0x17);  // f(); pop
    b.DoAction(a).ShowFrame().ShowFrame();
    cases.push_back(Case("endless-recursion", b.Build(), true));
  }
  return cases;
}

}  // namespace quarvel::testing
