#include "player/library/movie_library.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "player/library/image_decoder.h"
#include "player/library/shape_parser.h"
#include "player/display/video_display.h"
#include "player/swf/tags.h"

namespace quarvel::player {
namespace {

namespace tag = swf::tag;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsControlTag(std::uint16_t code) {
  switch (code) {
    case tag::kPlaceObject:
    case tag::kPlaceObject2:
    case tag::kPlaceObject3:
    case tag::kRemoveObject:
    case tag::kRemoveObject2:
    case tag::kDoAction:
    case tag::kDoInitAction:
    case tag::kStartSound:
    case tag::kStartSound2:
    case tag::kSoundStreamHead:
    case tag::kSoundStreamHead2:
    case tag::kSoundStreamBlock:
      return true;
    default:
      return false;
  }
}


class Loader {
 public:
  explicit Loader(MovieLibrary& lib) : lib_(lib) {}

  void LoadTimeline(swf::TagStream stream, TimelineDef& tl, int depth) {
    tl.frames.emplace_back();
    std::size_t count = 0;
    bool sceneLabels = false;
    bool ended = false;
    while (true) {
      std::optional<swf::Tag> t;
      try {
        t = stream.Next();
      } catch (const swf::SwfError&) {
        lib_.skipped.insert("cut-off tag");
        break;
      }
      if (!t) break;
      if (t->code == tag::kEnd) {
        ended = true;
        break;
      }
      if (++count > 4'000'000) break;
      if (t->code == tag::kShowFrame) {
        tl.showsFrame = true;
        tl.frames.emplace_back();
        continue;
      }
      if (t->code == tag::kFrameLabel) {
        swf::Reader r = t->BodyReader();
        try {
          const std::string name = r.String("Name");
          const int frame = static_cast<int>(tl.frames.size() - 1);
          if (!sceneLabels) AddLabel(tl, frame, name);
        } catch (const swf::SwfError&) {
        }
        continue;
      }
      if (t->code == tag::kDefineSceneAndFrameLabelData && depth == 0 && !sceneLabels) {
        sceneLabels = ReadScenes(*t, tl);
        continue;
      }
      if (IsControlTag(t->code)) {
        const auto offset = static_cast<std::size_t>(t->body.data() - lib_.movie.data.data());
        tl.frames.back().tags.push_back({t->code, offset, t->body.size()});
        continue;
      }
      Define(*t, depth);
    }
    if (depth > 0) tl.loops = ended && tl.frames.back().tags.empty();
    // The tags after the last ShowFrame do not make a frame of their own.
    if (tl.frames.size() > 1 && tl.frames.back().tags.empty()) tl.frames.pop_back();
  }

 private:
  // Scenes and labels of the main timeline. A tag naming scenes gives the
  // timeline's labels: FrameLabel tags, before or after it, add none. One
  // naming no scene is as good as none. True when it named scenes.
  bool ReadScenes(const swf::Tag& t, TimelineDef& tl) {
    swf::Reader r = t.BodyReader();
    try {
      const std::uint32_t scenes = r.EncodedU32("SceneCount");
      if (scenes == 0) return false;
      std::vector<std::pair<int, std::string>> found;
      for (std::uint32_t i = 0; i < scenes && i < 65536; ++i) {
        const std::uint32_t offset = r.EncodedU32("Offset");
        found.emplace_back(static_cast<int>(std::min<std::uint32_t>(offset, 1u << 24)), r.String("Name"));
      }
      std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      tl.scenes = std::move(found);
      tl.labels.clear();
      tl.labelNames.clear();
      const std::uint32_t labels = r.EncodedU32("FrameLabelCount");
      for (std::uint32_t i = 0; i < labels && i < 65536; ++i) {
        const int frame = static_cast<int>(std::min<std::uint32_t>(r.EncodedU32("FrameNum"), 1u << 24));
        const std::string name = r.String("FrameLabel");
        AddLabel(tl, frame, name);
      }
    } catch (const swf::SwfError&) {
      lib_.skipped.insert("damaged DefineSceneAndFrameLabelData");
    }
    return !tl.scenes.empty();
  }

  // A name used twice is listed twice; a jump by name finds the first.
  static void AddLabel(TimelineDef& tl, int frame, const std::string& name) {
    tl.labels.emplace(Lower(name), frame);
    tl.labelNames.emplace_back(frame, name);
  }

  void Add(std::shared_ptr<Character> c, std::uint16_t id) {
    c->id = id;
    lib_.characters[id] = std::move(c);
  }

  void Define(const swf::Tag& t, int depth) {
    swf::Reader r = t.BodyReader();
    try {
      switch (t.code) {
        case tag::kSetBackgroundColor:
          if (!lib_.background) lib_.background = swf::ReadRgb(r);
          break;
        case tag::kFileAttributes:
          if (depth == 0) lib_.fileAttributes = r.U8("Flags");
          break;
        case tag::kScriptLimits:
          lib_.maxRecursion = r.U16("MaxRecursionDepth");
          break;
        case tag::kDefineShape:
        case tag::kDefineShape2:
        case tag::kDefineShape3:
        case tag::kDefineShape4: {
          const int version = t.code == tag::kDefineShape ? 1 : t.code == tag::kDefineShape2 ? 2
                              : t.code == tag::kDefineShape3 ? 3 : 4;
          auto s = std::make_shared<ShapeDef>();
          const std::uint16_t id = r.U16("ShapeId");
          s->geometry.bounds = swf::ReadRect(r, "ShapeBounds");
          s->edgeBounds = s->geometry.bounds;
          bool nonZero = false;
          if (version == 4) {
            s->edgeBounds = swf::ReadRect(r, "EdgeBounds");
            nonZero = (r.U8("Flags") & 0x04) != 0;  // UsesFillWindingRule
          }
          ShapeGeometry g = ReadShapeWithStyles(r, version);
          if (nonZero) {
            for (ShapeLayer& layer : g.layers) {
              for (FillStyle& f : layer.fills) f.nonZero = true;
            }
          }
          s->geometry.layers = std::move(g.layers);
          s->geometry.extent = g.extent;
          Add(std::move(s), id);
          break;
        }
        case tag::kDefineMorphShape:
        case tag::kDefineMorphShape2: {
          auto m = std::make_shared<MorphDef>();
          const std::uint16_t id = r.U16("CharacterId");
          ReadMorphShape(r, t.code == tag::kDefineMorphShape ? 1 : 2, *m);
          Add(std::move(m), id);
          break;
        }
        case tag::kJpegTables:
          jpegTables_ = t.body;
          break;
        case tag::kDefineBits:
        case tag::kDefineBitsJpeg2:
        case tag::kDefineBitsJpeg3:
        case tag::kDefineBitsJpeg4: {
          const std::uint16_t id = r.U16("CharacterId");
          std::span<const std::uint8_t> image, alpha, tables;
          if (t.code == tag::kDefineBits) {
            tables = jpegTables_;
            image = r.Rest();
          } else if (t.code == tag::kDefineBitsJpeg2) {
            image = r.Rest();
          } else {
            const std::uint32_t size = r.U32("AlphaDataOffset");
            if (t.code == tag::kDefineBitsJpeg4) r.U16("DeblockParam");
            image = r.Bytes(size, "ImageData");
            alpha = r.Rest();
          }
          if (const auto size = JpegTagImageSize(image, tables)) {
            AddPicture(id, t.code, *size,
                       [image = Copy(image), tables = Copy(tables), alpha = Copy(alpha)] {
                         return DecodeJpegTagImage(image, tables, alpha);
                       });
          } else {
            AddBitmap(id, DecodeJpegTagImage(image, tables, alpha));
          }
          break;
        }
        case tag::kDefineBitsLossless:
        case tag::kDefineBitsLossless2: {
          const std::uint16_t id = r.U16("CharacterId");
          const auto body = r.Rest();
          // A picture of no width or height is valid: a class linked to it
          // makes an empty BitmapData; it draws nothing.
          if (body.size() >= 5 && ((body[1] | body[2]) == 0 || (body[3] | body[4]) == 0)) {
            lib_.emptyBitmaps.insert(id);
            break;
          }
          const bool hasAlpha = t.code == tag::kDefineBitsLossless2;
          if (const auto size = LosslessSize(body, hasAlpha))
            AddPicture(id, t.code, *size, [body = Copy(body), hasAlpha] { return DecodeLossless(body, hasAlpha); });
          else
            AddBitmap(id, DecodeLossless(body, hasAlpha));
          break;
        }
        case tag::kDefineSprite: {
          const std::uint16_t id = r.U16("SpriteId");
          const std::uint16_t declared = r.U16("FrameCount");
          auto s = std::make_shared<SpriteDef>();
          if (depth >= kMaxSpriteNesting) {
            lib_.skipped.insert("sprite nesting too deep");
            break;
          }
          const auto tags = r.Rest();
          s->timeline.tagBytes = tags.size();
          LoadTimeline(swf::TagStream(tags, r.Offset()), s->timeline, depth + 1);
          s->timeline.frameless = declared == 0 && s->timeline.frames.size() == 1 && !s->timeline.showsFrame;
          Add(std::move(s), id);
          break;
        }
        case tag::kDefineButton:
        case tag::kDefineButton2:
          DefineButton(r, t.code == tag::kDefineButton2);
          break;
        case tag::kDefineButtonSound:
          DefineButtonSound(r);
          break;
        case tag::kExportAssets:
        case tag::kSymbolClass:
          ReadNames(r, t.code == tag::kExportAssets,
                    t.code == tag::kSymbolClass && depth == 0 ? static_cast<int>(lib_.timeline.frames.size()) - 1 : -1);
          break;
        case tag::kDefineScalingGrid: {
          const std::uint16_t id = r.U16("CharacterId");
          const Rect grid = swf::ReadRect(r, "Splitter");
          if (grid.Width() > 0 && grid.Height() > 0) lib_.scalingGrids[id] = grid;
          break;
        }
        case tag::kDefineFont:
          DefineFont1(r);
          break;
        case tag::kDefineFont2:
        case tag::kDefineFont3:
          DefineFont2(r, t.code == tag::kDefineFont3);
          break;
        case tag::kDefineFont4:
          DefineFont4(r);
          break;
        case tag::kDefineText:
        case tag::kDefineText2:
          DefineText(r, t.code == tag::kDefineText2);
          break;
        case tag::kDefineEditText:
          DefineEditText(r);
          break;
        case tag::kCsmTextSettings:
          CsmTextSettings(r);
          break;
        case tag::kDefineBinaryData: {
          // Id, four reserved bytes, then the data, for scripts' ByteArrays.
          const std::uint16_t id = r.U16();
          if (t.body.size() < 6) throw swf::SwfError("DefineBinaryData too short");
          lib_.binaryData[id] = {static_cast<std::size_t>(t.body.data() - lib_.movie.data.data()) + 6, t.body.size() - 6};
          break;
        }
        case tag::kDefineSound:
          lib_.soundDefinitions.push_back(
              {t.code, static_cast<std::size_t>(t.body.data() - lib_.movie.data.data()), t.body.size()});
          break;
        case tag::kDoAbc:
        case avm2::kDoAbcPlainTag: {
          // Kept for the machine. Like Flash, a
          // damaged block costs its own code only: the movie plays on. Only
          // the main timeline may hold code blocks.
          if (depth != 0) break;
          MovieLibrary::AbcBlock block;
          try {
            const auto abc = avm2::ReadDoAbcTag(t.code, t.body, t.offset + t.headerSize);
            block.name = abc.name;
            block.flags = abc.flags;
            block.frame = static_cast<int>(lib_.timeline.frames.size()) - 1;
            block.file = std::make_shared<const avm2::AbcFile>(avm2::ParseAbc(abc.abc, abc.abcOffset));
          } catch (const avm2::AbcError& e) {
            lib_.skipped.insert("damaged ActionScript 3 block \"" + block.name + "\": " + e.what());
            break;
          }
          lib_.abcBlocks.push_back(std::move(block));
          break;
        }
        case tag::kDefineVideoStream:
          DefineVideoStream(r);
          break;
        case tag::kVideoFrame:
          AddVideoFrame(r);
          break;
        case tag::kDefineFontInfo:
        case tag::kDefineFontInfo2:
          DefineFontInfo(r);
          break;
        default:
          break;
      }
    } catch (const swf::SwfError& e) {
      lib_.skipped.insert(std::string("damaged ") + std::string(swf::TagName(t.code)));
    } catch (const ImageError& e) {
      lib_.skipped.insert(std::string("undecodable ") + std::string(swf::TagName(t.code)));
    }
  }

  void DefineVideoStream(swf::Reader& r) {
    auto v = std::make_shared<VideoDef>();
    v->stream = video::ReadDefineVideoStream(r);
    videos_[v->stream.id] = v.get();
    const std::uint16_t id = v->stream.id;
    Add(std::move(v), id);
  }

  // Frames join their stream wherever they lie (sprites included); the
  // first frame of a number counts, as Flash keeps it.
  void AddVideoFrame(swf::Reader& r) {
    const video::VideoFrameTag f = video::ReadVideoFrame(r);
    auto it = videos_.find(f.streamId);
    if (it == videos_.end() || lib_.Find(f.streamId) != it->second) {
      lib_.skipped.insert("video frames of an undefined stream");
      return;
    }
    it->second->stream.frames.emplace(f.frameNumber, f.data);
  }

  static std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

  // Counts a picture of `bytes` against the budget; false when it is spent.
  bool FitsBudget(std::int64_t bytes) {
    if (bitmapBytes_ + bytes > kMaxBitmapBytesTotal) {
      lib_.skipped.insert("bitmaps beyond the memory budget");
      return false;
    }
    bitmapBytes_ += bytes;
    return true;
  }

  void AddBitmap(std::uint16_t id, SurfacePtr s) {
    if (!FitsBudget(static_cast<std::int64_t>(cairo_image_surface_get_stride(s.get())) *
                    cairo_image_surface_get_height(s.get())))
      return;
    auto b = std::make_shared<BitmapDef>();
    b->width = cairo_image_surface_get_width(s.get());
    b->height = cairo_image_surface_get_height(s.get());
    b->surface = std::move(s);
    Add(std::move(b), id);
  }

  // A picture whose header gave its size: decoded when first drawn or read.
  // Pixels that then fail to decode leave it transparent, and the library
  // lists the tag as undecodable as a failure at load would.
  template <typename Decode>
  void AddPicture(std::uint16_t id, std::uint16_t code, PictureSize size, Decode decode) {
    if (!FitsBudget(static_cast<std::int64_t>(cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, size.width)) *
                    size.height))
      return;
    auto b = std::make_shared<BitmapDef>();
    b->width = size.width;
    b->height = size.height;
    b->surface.SetDecode([decode = std::move(decode), size, late = lib_.lateSkipped,
                          what = "undecodable " + std::string(swf::TagName(code))]() -> SurfacePtr {
      try {
        SurfacePtr s = decode();
        if (cairo_image_surface_get_width(s.get()) == size.width &&
            cairo_image_surface_get_height(s.get()) == size.height)
          return s;
      } catch (const ImageError&) {
      } catch (const std::bad_alloc&) {
      }
      late->insert(what);
      return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size.width, size.height));
    });
    Add(std::move(b), id);
  }

  std::size_t DataOffset(std::span<const std::uint8_t> part) const {
    return static_cast<std::size_t>(part.data() - lib_.movie.data.data());
  }

  void DefineButton(swf::Reader& r, bool two) {
    auto b = std::make_shared<ButtonDef>();
    const std::uint16_t id = r.U16("ButtonId");
    std::size_t actionStart = 0;
    if (two) {
      b->trackAsMenu = (r.U8("TrackAsMenu") & 1) != 0;
      const std::size_t at = r.Position();
      const std::uint16_t offset = r.U16("ActionOffset");
      if (offset) actionStart = at + offset;
    }
    bool recordsComplete = true;
    while (!r.AtEnd()) {
      const std::uint8_t flags = r.U8("ButtonFlags");
      if (flags == 0) break;
      ButtonRecord rec;
      rec.states = flags & 0x0F;
      rec.characterId = r.U16("CharacterID");
      rec.depth = r.U16("PlaceDepth");
      rec.matrix = swf::ReadMatrix(r, "PlaceMatrix");
      if (two) {
        rec.cxform = swf::ReadCxformWithAlpha(r);
        if (flags & 0x10) {
          try {
            rec.filters = ReadFilterList(r);
          } catch (const swf::SwfError&) {
            // The records after a damaged list cannot be found; keep what we have.
            lib_.skipped.insert("damaged filters");
            recordsComplete = false;
            b->records.push_back(rec);
            break;
          }
        }
        if (flags & 0x20) rec.blendMode = r.U8("BlendMode");
      }
      b->records.push_back(rec);
    }
    std::stable_sort(b->records.begin(), b->records.end(),
                     [](const ButtonRecord& a, const ButtonRecord& c) { return a.depth < c.depth; });
    if (!two) {
      // DefineButton: one action list, run when the button is released.
      if (recordsComplete && !r.AtEnd()) {
        const auto code = r.Rest();
        b->actions.push_back({kOverDownToOverUp, DataOffset(code), code.size()});
      }
    } else if (actionStart) {
      ReadButtonConditions(r, actionStart, *b);
    }
    Add(std::move(b), id);
  }

  void ReadButtonConditions(swf::Reader& r, std::size_t at, ButtonDef& b) {
    try {
      ReadButtonConditionList(r, at, b);
    } catch (const swf::SwfError&) {
      lib_.skipped.insert("damaged button actions");  // the button still shows
    }
  }

  void ReadButtonConditionList(swf::Reader& r, std::size_t at, ButtonDef& b) {
    r.Seek(at);
    for (int n = 0; n < 4096 && !r.AtEnd(); ++n) {
      const std::size_t start = r.Position();
      const std::uint16_t size = r.U16("CondActionSize");
      const std::uint16_t conditions = static_cast<std::uint16_t>((r.U8("Conditions") << 8) | r.U8("Conditions"));
      std::span<const std::uint8_t> code;
      if (size == 0) {
        code = r.Rest();
      } else {
        if (size < 4) break;
        code = r.Bytes(size - 4, "Actions");
      }
      b.actions.push_back({conditions, DataOffset(code), code.size()});
      if (size == 0) break;
      r.Seek(start + size);
    }
  }

  void DefineButtonSound(swf::Reader& r) {
    const std::uint16_t id = r.U16("ButtonId");
    std::array<ButtonSound, 4> sounds{};
    for (auto& s : sounds) {
      if (r.AtEnd()) break;
      s.soundId = r.U16("ButtonSoundChar");
      if (!s.soundId) continue;
      const std::size_t begin = r.Position();
      const std::uint8_t flags = r.U8("SoundInfoFlags");
      if (flags & 0x01) r.U32("InPoint");
      if (flags & 0x02) r.U32("OutPoint");
      if (flags & 0x04) r.U16("LoopCount");
      if (flags & 0x08) r.Skip(std::size_t{r.U8("EnvPoints")} * 8, "EnvelopeRecords");
      const std::size_t end = r.Position();
      r.Seek(begin);
      const auto info = r.Bytes(end - begin, "SoundInfo");
      s.infoOffset = DataOffset(info);
      s.infoLength = info.size();
    }
    lib_.buttonSounds[id] = sounds;
  }

  // ExportAssets and SymbolClass: names by which StartSound2 and scripts
  // find characters.
  // A name exported twice names the later character.
  // `linkFrame` is the main timeline's frame of a SymbolClass tag, -1 for others.
  void ReadNames(swf::Reader& r, bool laterWins, int linkFrame) {
    const std::uint16_t count = r.U16("Count");
    for (unsigned i = 0; i < count && !r.AtEnd(); ++i) {
      const std::uint16_t id = r.U16("Tag");
      std::string name = r.String("Name");
      if (linkFrame >= 0) lib_.classLinks.push_back({linkFrame, id, name});
      if (laterWins) lib_.names[std::move(name)] = id;
      else lib_.names.emplace(std::move(name), id);
    }
  }

  // Glyph shapes need not be stored in the order of the offset table: one
  // ends where the next one in the tag begins.
  static std::size_t GlyphEnd(const std::vector<std::size_t>& offsets, std::size_t start, std::size_t limit) {
    std::size_t end = limit;
    for (std::size_t o : offsets)
      if (o > start && o < end) end = o;
    return end;
  }

  void DefineFont1(swf::Reader& r) {
    auto f = std::make_shared<FontDef>();
    const std::uint16_t id = r.U16("FontId");
    const std::size_t base = r.Position();
    const std::uint16_t first = r.U16("OffsetTable");
    const std::size_t n = first / 2;
    std::vector<std::size_t> offsets{first};
    for (std::size_t i = 1; i < n; ++i) offsets.push_back(r.U16("OffsetTable"));
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t start = base + offsets[i];
      const std::size_t end = GlyphEnd(offsets, offsets[i], r.Size() - base) + base;
      Glyph g;
      if (start < end && end <= r.Size()) {
        swf::Reader gr(r.Data().subspan(start, end - start), r.BaseOffset() + start);
        g.shape = ReadGlyphShape(gr);
      }
      f->glyphs.push_back(std::move(g));
    }
    Add(std::move(f), id);
  }

  void DefineFontInfo(swf::Reader& r) {
    const std::uint16_t id = r.U16("FontId");
    auto it = lib_.characters.find(id);
    if (it == lib_.characters.end() || it->second->kind != Character::Kind::kFont) return;
    auto f = std::make_shared<FontDef>(static_cast<const FontDef&>(*it->second));
    const std::uint8_t len = r.U8("FontNameLen");
    auto name = r.Bytes(len, "FontName");
    f->name.assign(name.begin(), name.end());
    const std::uint8_t flags = r.U8("FontFlags");
    f->bold = flags & 0x02;
    f->italic = flags & 0x04;
    lib_.characters[id] = std::move(f);
  }

  // A CFF font for the text engine: its name and style, so that scripts
  // can register and list it; its outlines are not read.
  void DefineFont4(swf::Reader& r) {
    auto f = std::make_shared<FontDef>();
    const std::uint16_t id = r.U16("FontID");
    const std::uint8_t flags = r.U8("FontFlags");
    f->italic = flags & 0x02;
    f->bold = flags & 0x01;
    f->cff = true;
    f->name = r.String("FontName");
    f->id = id;
    lib_.characters[id] = std::move(f);
  }

  void DefineFont2(swf::Reader& r, bool three) {
    auto f = std::make_shared<FontDef>();
    const std::uint16_t id = r.U16("FontId");
    const std::uint8_t flags = r.U8("FontFlags");
    const bool hasLayout = flags & 0x80;
    f->hasLayout = hasLayout;
    const bool wideOffsets = flags & 0x08;
    const bool wideCodes = flags & 0x04;
    f->italic = flags & 0x02;
    f->bold = flags & 0x01;
    f->unitsPerEm = three ? 20480 : 1024;
    r.U8("LanguageCode");
    const std::uint8_t nameLen = r.U8("FontNameLen");
    auto name = r.Bytes(nameLen, "FontName");
    f->name.assign(name.begin(), name.end());
    while (!f->name.empty() && f->name.back() == 0) f->name.pop_back();
    const std::uint16_t n = r.U16("NumGlyphs");
    const std::size_t base = r.Position();
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < n; ++i) offsets.push_back(wideOffsets ? r.U32("OffsetTable") : r.U16("OffsetTable"));
    std::size_t codeTable = n ? (wideOffsets ? r.U32("CodeTableOffset") : r.U16("CodeTableOffset")) : 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t start = base + offsets[i];
      const std::size_t end = base + GlyphEnd(offsets, offsets[i], codeTable);
      Glyph g;
      if (start < end && end <= r.Size()) {
        swf::Reader gr(r.Data().subspan(start, end - start), r.BaseOffset() + start);
        g.shape = ReadGlyphShape(gr);
      }
      f->glyphs.push_back(std::move(g));
    }
    if (n) {
      if (base + codeTable > r.Size()) {
        Add(std::move(f), id);
        return;
      }
      r.Seek(base + codeTable);
      for (std::size_t i = 0; i < n; ++i) f->codes.push_back(wideCodes ? r.U16("Code") : r.U8("Code"));
    }
    if (hasLayout) {
      try {
        f->ascent = r.U16("FontAscent");
        f->descent = r.U16("FontDescent");
        f->leading = r.S16("FontLeading");
        for (std::size_t i = 0; i < n; ++i) f->glyphs[i].advance = r.S16("FontAdvanceTable");
        for (std::size_t i = 0; i < n; ++i) swf::ReadRect(r, "FontBoundsTable");
        const std::uint16_t pairs = r.U16("KerningCount");
        for (std::size_t i = 0; i < pairs; ++i) {
          const std::uint32_t a = wideCodes ? r.U16("FontKerningCode1") : r.U8("FontKerningCode1");
          const std::uint32_t b = wideCodes ? r.U16("FontKerningCode2") : r.U8("FontKerningCode2");
          f->kerning[(a << 16) | b] = r.S16("FontKerningAdjustment");
        }
      } catch (const swf::SwfError&) {
      }
    }
    Add(std::move(f), id);
  }

  void DefineText(swf::Reader& r, bool two) {
    auto t = std::make_shared<TextDef>();
    const std::uint16_t id = r.U16("CharacterId");
    t->bounds = swf::ReadRect(r, "TextBounds");
    t->matrix = swf::ReadMatrix(r, "TextMatrix");
    const unsigned glyphBits = r.U8("GlyphBits");
    const unsigned advanceBits = r.U8("AdvanceBits");
    GlyphRun style;
    style.color = Rgba{0, 0, 0, 255};
    try {
      while (!r.AtEnd()) {
        const std::uint8_t flags = r.U8("TextRecordType");
        if (flags == 0) break;
        if (flags & 0x08) style.fontId = r.U16("FontID");
        if (flags & 0x04) style.color = two ? swf::ReadRgba(r) : swf::ReadRgb(r);
        if (flags & 0x01) style.x = r.S16("XOffset");
        if (flags & 0x02) style.y = r.S16("YOffset");
        if (flags & 0x08) style.height = r.U16("TextHeight");
        GlyphRun run = style;
        run.glyphs.clear();
        const std::uint8_t count = r.U8("GlyphCount");
        double x = style.x;
        for (unsigned i = 0; i < count; ++i) {
          const std::uint32_t index = r.UB(glyphBits, "GlyphIndex");
          const double adv = r.SB(advanceBits, "GlyphAdvance");
          run.glyphs.emplace_back(index, adv);
          x += adv;
        }
        r.AlignBits();
        t->runs.push_back(std::move(run));
        style.x = x;
      }
    } catch (const swf::SwfError&) {
      lib_.skipped.insert("damaged DefineText");
    }
    Add(std::move(t), id);
  }

  // The anti-aliasing settings of a static text or a text field defined before.
  void CsmTextSettings(swf::Reader& r) {
    const std::uint16_t id = r.U16("TextID");
    const std::uint8_t flags = r.U8("Flags");
    const float thickness = r.F32("Thickness");
    const float sharpness = r.F32("Sharpness");
    auto it = lib_.characters.find(id);
    if (it == lib_.characters.end() || !it->second) return;
    if (it->second->kind == Character::Kind::kText) {
      auto t = std::make_shared<TextDef>(static_cast<const TextDef&>(*it->second));
      t->advancedAntiAlias = (flags >> 6) == 1;
      it->second = std::move(t);
      return;
    }
    if (it->second->kind != Character::Kind::kEditText) return;
    auto e = std::make_shared<EditTextDef>(static_cast<const EditTextDef&>(*it->second));
    e->advancedAntiAlias = (flags >> 6) == 1;
    e->gridFit = (flags >> 3) & 7;
    e->thickness = thickness;
    e->sharpness = sharpness;
    it->second = std::move(e);
  }

  void DefineEditText(swf::Reader& r) {
    auto e = std::make_shared<EditTextDef>();
    const std::uint16_t id = r.U16("CharacterID");
    e->bounds = swf::ReadRect(r, "Bounds");
    const std::uint8_t f1 = r.U8("Flags1");
    const std::uint8_t f2 = r.U8("Flags2");
    const bool hasText = f1 & 0x80;
    e->wordWrap = f1 & 0x40;
    e->multiline = f1 & 0x20;
    e->password = f1 & 0x10;
    e->readOnly = f1 & 0x08;
    e->autoSize = f2 & 0x40;
    e->noSelect = f2 & 0x10;
    const bool hasColor = f1 & 0x04;
    const bool hasMaxLength = f1 & 0x02;
    e->hasFont = f1 & 0x01;
    const bool hasFontClass = f2 & 0x80;
    const bool hasLayout = f2 & 0x20;
    e->border = f2 & 0x08;
    e->html = f2 & 0x02;
    e->useOutlines = f2 & 0x01;
    if (e->hasFont) e->fontId = r.U16("FontID");
    if (hasFontClass) r.String("FontClass");
    if (e->hasFont || hasFontClass) e->height = r.U16("FontHeight");
    if (hasColor) e->color = swf::ReadRgba(r);
    if (hasMaxLength) e->maxLength = r.U16("MaxLength");
    if (hasLayout) {
      e->align = r.U8("Align");
      e->leftMargin = r.U16("LeftMargin");
      e->rightMargin = r.U16("RightMargin");
      e->indent = r.S16("Indent");
      e->leading = r.S16("Leading");
    }
    e->variable = r.String("VariableName");
    if (hasText) e->text = r.String("InitialText");
    Add(std::move(e), id);
  }

  MovieLibrary& lib_;
  std::span<const std::uint8_t> jpegTables_;
  std::int64_t bitmapBytes_ = 0;
  std::map<std::uint16_t, VideoDef*> videos_;  // streams defined so far, for their frames
};

}  // namespace

int MovieLibrary::TotalFrames() const {
  const int declared = movie.header.frameCount;
  return std::max(1, declared > 0 ? declared : static_cast<int>(timeline.frames.size()));
}

double DefineSoundLengthMs(std::span<const std::uint8_t> body) {
  static constexpr double kRates[] = {5512.5, 11025, 22050, 44100};
  if (body.size() < 7) return 0;
  const double rate = kRates[(body[2] >> 2) & 3];
  const double samples = body[3] | (body[4] << 8) | (body[5] << 16) | (static_cast<std::uint32_t>(body[6]) << 24);
  return samples / rate * 1000;
}

double MovieLibrary::SoundLengthMs(int id) const {
  for (const auto& t : soundDefinitions) {
    auto body = Body(t);
    if (body.size() >= 2 && (body[0] | (body[1] << 8)) == id) return DefineSoundLengthMs(body);
  }
  return -1;
}

std::uint16_t MovieLibrary::FindName(const std::string& name) const {
  if (auto it = names.find(name); it != names.end()) return it->second;
  const std::string low = Lower(name);
  for (const auto& [n, id] : names) {
    if (Lower(n) == low) return id;
  }
  return 0;
}

std::unique_ptr<MovieLibrary> LoadLibrary(std::span<const std::uint8_t> file) {
  swf::ExpandOptions options;
  options.acceptTruncated = true;
  return LoadLibrary(swf::OpenMovie(file, options));
}

std::unique_ptr<MovieLibrary> LoadLibrary(swf::Movie opened) {
  auto lib = std::make_unique<MovieLibrary>();
  lib->movie = std::move(opened);
  Loader loader(*lib);
  loader.LoadTimeline(lib->movie.TagsStream(), lib->timeline, 0);
  return lib;
}

}  // namespace quarvel::player
