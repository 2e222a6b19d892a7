#include "player/text/text_layout.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <hb.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <unordered_map>

#include "player/library/characters.h"
#include "player/text/text_encoding.h"

namespace quarvel::player::text {

// ---- characters ----------------------------------------------------------------

void StyledText::Append(const std::u32string& s, const FormatPtr& f) {
  chars += s;
  formats.insert(formats.end(), s.size(), f);
}

std::u32string FromUtf8(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
    char32_t cp = n == 1 ? b : b & (0x7F >> n);
    int k = 1;
    for (; k < n && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    // A broken sequence stands for its first byte (Latin-1, as older movies write).
    if (k < n) cp = b;
    out.push_back(cp);
    i += static_cast<std::size_t>(k < n ? 1 : n);
  }
  return out;
}

std::string ToUtf8(const std::u32string& s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) encoding::AppendUtf8(out, c);
  return out;
}

// ---- device faces --------------------------------------------------------------

class DeviceFace {
 public:
  DeviceFace() = default;
  DeviceFace(const DeviceFace&) = delete;
  DeviceFace& operator=(const DeviceFace&) = delete;
  ~DeviceFace() {
    if (hb) hb_font_destroy(hb);
    if (ft) FT_Done_Face(ft);
  }
  FT_Face ft = nullptr;
  hb_font_t* hb = nullptr;
  double upem = 1000;
  double ascent = 0.9, descent = 0.2;  // per pixel of size
  std::string family;
  mutable std::unordered_map<std::uint32_t, std::vector<OutlineOp>> outlines;
};

namespace {

std::mutex gFontsMutex;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Free fonts with the metrics of the fonts movies name.
const std::map<std::string, std::string>& FreeFamilies() {
  static const std::map<std::string, std::string> kMap = {
      {"_sans", "Liberation Sans"},         {"arial", "Liberation Sans"},
      {"helvetica", "Liberation Sans"},     {"arial narrow", "Liberation Sans Narrow"},
      {"tahoma", "Liberation Sans"},        {"trebuchet ms", "Liberation Sans"},
      {"microsoft sans serif", "Liberation Sans"},
      {"verdana", "DejaVu Sans"},           {"lucida grande", "DejaVu Sans"},
      {"_serif", "Liberation Serif"},       {"times new roman", "Liberation Serif"},
      {"times", "Liberation Serif"},        {"georgia", "Liberation Serif"},
      {"_typewriter", "Liberation Mono"},   {"courier new", "Liberation Mono"},
      {"courier", "Liberation Mono"},       {"lucida console", "Liberation Mono"},
      {"monaco", "Liberation Mono"},
  };
  return kMap;
}

// Line metrics (Windows ascent and descent per em) of fonts movies name
// that have no free font of the same metrics here. Flash lays lines out
// with the named font's, so boxes sized to a text keep their height even
// when another face draws the glyphs.
struct LineMetrics {
  double ascent, descent;
};
const LineMetrics* KnownLineMetrics(const std::string& lowerName) {
  static const std::map<std::string, LineMetrics> kMap = {
      {"verdana", {2059 / 2048.0, 430 / 2048.0}},       {"tahoma", {2049 / 2048.0, 423 / 2048.0}},
      {"trebuchet ms", {1923 / 2048.0, 455 / 2048.0}},  {"georgia", {1878 / 2048.0, 449 / 2048.0}},
      {"comic sans ms", {2257 / 2048.0, 597 / 2048.0}}, {"impact", {2066 / 2048.0, 432 / 2048.0}},
      {"segoe ui", {2210 / 2048.0, 514 / 2048.0}},
  };
  auto it = kMap.find(lowerName);
  return it != kMap.end() ? &it->second : nullptr;
}

std::string FreeFamily(const std::string& name) {
  const std::string low = Lower(name);
  auto it = FreeFamilies().find(low);
  return it != FreeFamilies().end() ? it->second : name;
}

}  // namespace

// A name no font here answers to but that extends a known family ("Arial
// Rounded MT Bold", "Arial-BoldMT", "TimesNewRomanPSMT") takes that family's
// free font, so that text keeps the widths its author laid it out in; weight
// and slant words in the rest of the name make it bold or italic.
DeviceFontName ReadDeviceFontName(const std::string& name) {
  DeviceFontName out;
  out.family = FreeFamily(name);
  const std::string low = Lower(name);
  if (out.family != name || low.empty()) return out;
  std::string squeezed;  // the name without spaces, as PostScript names are written
  for (char c : low) {
    if (c != ' ') squeezed += c;
  }
  std::string best, rest;
  for (const auto& [known, free] : FreeFamilies()) {
    if (known[0] == '_' || known.size() <= best.size()) continue;
    std::string knownSqueezed;
    for (char c : known) {
      if (c != ' ') knownSqueezed += c;
    }
    std::string tail;
    if (low.size() > known.size() && low.compare(0, known.size(), known) == 0 &&
        (low[known.size()] == ' ' || low[known.size()] == '-')) {
      tail = low.substr(known.size() + 1);
    } else if (squeezed.size() > knownSqueezed.size() && squeezed.compare(0, knownSqueezed.size(), knownSqueezed) == 0 &&
               (squeezed[knownSqueezed.size()] == '-' || squeezed.substr(knownSqueezed.size()) == "mt" ||
                squeezed.substr(knownSqueezed.size()) == "psmt")) {
      tail = squeezed.substr(knownSqueezed.size());
    } else {
      continue;
    }
    best = known;
    rest = tail;
  }
  if (best.empty()) return out;
  out.family = FreeFamilies().at(best);
  for (const char* w : {"bold", "black", "heavy"}) {
    if (rest.find(w) != std::string::npos) out.bold = true;
  }
  for (const char* w : {"italic", "oblique"}) {
    if (rest.find(w) != std::string::npos) out.italic = true;
  }
  return out;
}

namespace {

// FreeType for the process; made before the first face and so freed after the last.
FT_Library Library() {
  struct Holder {
    FT_Library lib = nullptr;
    Holder() {
      if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
    }
    ~Holder() {
      if (lib) FT_Done_FreeType(lib);
    }
  };
  static Holder holder;
  return holder.lib;
}

// fontconfig's best file for a family and style.
bool MatchFile(const std::string& family, bool bold, bool italic, std::string& file, int& index) {
  FcPattern* pat = FcPatternCreate();
  if (!pat) return false;
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  if (!match) return false;
  FcChar8* path = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
  if (ok) {
    file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  }
  FcPatternDestroy(match);
  return ok;
}

std::unique_ptr<DeviceFace> OpenFace(const std::string& file, int index, const std::string& family) {
  auto f = std::make_unique<DeviceFace>();
  if (!Library() || FT_New_Face(Library(), file.c_str(), index, &f->ft) != 0) {
    f->ft = nullptr;
    return f;
  }
  f->upem = f->ft->units_per_EM > 0 ? f->ft->units_per_EM : 1000;
  f->family = f->ft->family_name ? f->ft->family_name : family;
  // Windows line metrics, which Flash uses, when the font has them.
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f->ft, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    f->ascent = os2->usWinAscent / f->upem;
    f->descent = os2->usWinDescent / f->upem;
  } else {
    f->ascent = f->ft->ascender / f->upem;
    f->descent = -f->ft->descender / f->upem;
  }
  hb_blob_t* blob = hb_blob_create_from_file(file.c_str());
  hb_face_t* face = hb_face_create(blob, static_cast<unsigned>(index));
  hb_blob_destroy(blob);
  f->hb = hb_font_create(face);
  hb_face_destroy(face);
  const int scale = static_cast<int>(f->upem);
  hb_font_set_scale(f->hb, scale, scale);
  return f;
}

struct OutlineSink {
  std::vector<OutlineOp>* ops;
  double scale;
};

int MoveTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  OutlineOp op{0, {static_cast<float>(to->x * s->scale)}, {static_cast<float>(-to->y * s->scale)}};
  s->ops->push_back(op);
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  OutlineOp op{1, {static_cast<float>(to->x * s->scale)}, {static_cast<float>(-to->y * s->scale)}};
  s->ops->push_back(op);
  return 0;
}
int ConicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  OutlineOp op{2,
               {static_cast<float>(c->x * s->scale), static_cast<float>(to->x * s->scale)},
               {static_cast<float>(-c->y * s->scale), static_cast<float>(-to->y * s->scale)}};
  s->ops->push_back(op);
  return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* s = static_cast<OutlineSink*>(user);
  OutlineOp op{3,
               {static_cast<float>(c1->x * s->scale), static_cast<float>(c2->x * s->scale),
                static_cast<float>(to->x * s->scale)},
               {static_cast<float>(-c1->y * s->scale), static_cast<float>(-c2->y * s->scale),
                static_cast<float>(-to->y * s->scale)}};
  s->ops->push_back(op);
  return 0;
}

}  // namespace

const DeviceFace& FindDeviceFace(const std::string& name, bool bold, bool italic) {
  Library();
  // Faces by file, so that however many names a movie uses, each font file
  // opens once; names are remembered up to a bound.
  static std::map<std::string, std::unique_ptr<DeviceFace>> byFile;
  static std::map<std::string, const DeviceFace*> byName;
  static const DeviceFace kNone;
  constexpr std::size_t kMaxNames = 512;
  std::string first = name.empty() ? "Times New Roman" : name;
  // A list of names ("Arial, Helvetica") takes its first.
  if (const auto comma = first.find(','); comma != std::string::npos) first = first.substr(0, comma);
  const DeviceFontName read = ReadDeviceFontName(first);
  const std::string& family = read.family;
  bold = bold || read.bold;
  italic = italic || read.italic;
  std::string asked = Lower(first);
  while (!asked.empty() && asked.back() == ' ') asked.pop_back();
  while (!asked.empty() && asked.front() == ' ') asked.erase(0, 1);
  const LineMetrics* lines = KnownLineMetrics(asked);
  const std::string key = Lower(family) + (bold ? "|b" : "|") + (italic ? "i" : "") + (lines ? "|" + asked : "");
  std::lock_guard<std::mutex> lock(gFontsMutex);
  if (auto it = byName.find(key); it != byName.end()) return *it->second;
  std::string file;
  int index = 0;
  if (!MatchFile(family, bold, italic, file, index)) return kNone;
  std::string fileKey = file + "|" + std::to_string(index);
  // Another face standing in for a font of known metrics: its own copy with those.
  bool standIn = false;
  if (lines) {
    auto& plain = byFile[fileKey];
    if (!plain) plain = OpenFace(file, index, family);
    standIn = Lower(plain->family) != asked;
    if (standIn) fileKey += "|lines of " + asked;
  }
  auto& slot = byFile[fileKey];
  if (!slot) {
    slot = OpenFace(file, index, family);
    if (standIn) slot->ascent = lines->ascent, slot->descent = lines->descent;
  }
  if (byName.size() < kMaxNames) byName.emplace(key, slot.get());
  return *slot;
}

double DeviceAscent(const DeviceFace& f) { return f.ascent; }
double DeviceDescent(const DeviceFace& f) { return f.descent; }
std::string DeviceFamily(const DeviceFace& f) { return f.family; }

const std::vector<OutlineOp>& DeviceGlyphOutline(const DeviceFace& f, std::uint32_t glyph) {
  std::lock_guard<std::mutex> lock(gFontsMutex);
  auto [it, fresh] = f.outlines.try_emplace(glyph);
  if (!fresh || !f.ft) return it->second;
  if (FT_Load_Glyph(f.ft, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) != 0 ||
      f.ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
    return it->second;
  }
  FT_Outline_Funcs funcs{};
  funcs.move_to = MoveTo;
  funcs.line_to = LineTo;
  funcs.conic_to = ConicTo;
  funcs.cubic_to = CubicTo;
  OutlineSink sink{&it->second, 1.0 / f.upem};
  FT_Outline_Decompose(&f.ft->glyph->outline, &funcs, &sink);
  return it->second;
}

// ---- layout ----------------------------------------------------------------------

namespace {

constexpr double kGutter = 2;

// A first line's indent as laid out: bounded, so that no script can ask for
// a line out of all measure.
double Indent(const Format& f) { return std::clamp(f.indent, -2000.0, 2000.0); }

// Line metrics are kept in whole twips, the fraction dropped.
double WholeTwips(double px) { return std::trunc(px * 20 + 1e-9) / 20; }

// One character as laid out: its glyphs and how far it moves the pen.
struct Shaped {
  Face face;
  double advance = 0;
  double ascent = 0, descent = 0;
  std::vector<std::pair<std::uint32_t, double>> glyphs;  // index, offset from the character's pen position
};

class Shaper {
 public:
  explicit Shaper(const EmbeddedFonts* embedded) : embedded_(embedded) {}

  // Shapes chars [from, to) of one format into out[from..to).
  void Run(const std::u32string& chars, std::size_t from, std::size_t to, const Format& f, std::vector<Shaped>& out) {
    if (embedded_) {
      EmbeddedRun(chars, from, to, f, out);
      return;
    }
    const DeviceFace& face = FindDeviceFace(f.font, f.bold, f.italic);
    const double scale = f.size / face.upem;
    for (std::size_t i = from; i < to; ++i) {
      out[i].face.device = &face;
      out[i].ascent = WholeTwips(face.ascent * f.size);
      out[i].descent = WholeTwips(face.descent * f.size);
    }
    if (!face.hb) return;
    hb_buffer_t* buf = hb_buffer_create();
    std::vector<std::uint32_t> cps(chars.begin() + static_cast<std::ptrdiff_t>(from),
                                   chars.begin() + static_cast<std::ptrdiff_t>(to));
    for (auto& c : cps) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    hb_buffer_add_utf32(buf, cps.data(), static_cast<int>(cps.size()), 0, static_cast<int>(cps.size()));
    hb_buffer_guess_segment_properties(buf);
    // Flash kerns embedded fonts only: device text ignores the format's kerning.
    const hb_feature_t noKerning = {HB_TAG('k', 'e', 'r', 'n'), 0, HB_FEATURE_GLOBAL_START, HB_FEATURE_GLOBAL_END};
    hb_shape(face.hb, buf, &noKerning, 1);
    unsigned n = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &n);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, &n);
    for (unsigned g = 0; g < n; ++g) {
      const std::size_t ci = from + std::min<std::size_t>(info[g].cluster, to - from - 1);
      Shaped& s = out[ci];
      s.glyphs.emplace_back(info[g].codepoint, s.advance + pos[g].x_offset * scale);
      s.advance += pos[g].x_advance * scale;
    }
    hb_buffer_destroy(buf);
    // Device text moves the pen by whole pixels, letter spacing included;
    // spacing that would move it back is dropped.
    const double spacing = std::nearbyint(f.letterSpacing);
    for (std::size_t i = from; i < to; ++i) {
      const double advance = std::round(out[i].advance);
      out[i].advance = advance + spacing > 0 ? advance + spacing : advance;
    }
  }

 private:
  void EmbeddedRun(const std::u32string& chars, std::size_t from, std::size_t to, const Format& f,
                   std::vector<Shaped>& out) {
    const FontDef* font = (*embedded_)(f.font, f.bold, f.italic);
    if (!font) return;
    auto& map = codes_[font];
    if (map.empty()) {
      for (std::size_t g = 0; g < font->codes.size(); ++g) map.emplace(font->codes[g], static_cast<std::uint32_t>(g));
    }
    const double scale = f.size / font->unitsPerEm;
    const double ascent = WholeTwips(font->ascent > 0 ? font->ascent * scale : f.size * 0.9);
    const double descent = WholeTwips(font->descent > 0 ? font->descent * scale : f.size * 0.2);
    for (std::size_t i = from; i < to; ++i) {
      Shaped& s = out[i];
      s.face.embedded = font;
      s.ascent = ascent;
      s.descent = descent;
      auto it = map.find(chars[i] == '\t' ? U' ' : chars[i]);
      if (it == map.end() || it->second >= font->glyphs.size()) continue;
      const Glyph& g = font->glyphs[it->second];
      s.glyphs.emplace_back(it->second, 0.0);
      // Fonts without layout carry no advances: the glyph's own width.
      // Flash moves the pen by whole twips, dropping the fraction.
      double adv = std::trunc(g.advance * scale * 20) / 20;
      if (g.advance == 0) adv = g.shape.extent.Empty() ? f.size * 0.5 : std::max(0.0, g.shape.extent.xmax * scale);
      s.advance = adv + f.letterSpacing;
      // The font's own kerning pairs, when the format asks for kerning.
      if (f.kerning && i + 1 < to && !font->kerning.empty()) {
        const std::uint32_t key = (static_cast<std::uint32_t>(chars[i] & 0xFFFF) << 16) | (chars[i + 1] & 0xFFFF);
        if (auto k = font->kerning.find(key); k != font->kerning.end()) s.advance += k->second * scale;
      }
    }
  }

  const EmbeddedFonts* embedded_;
  std::unordered_map<const FontDef*, std::unordered_map<std::uint32_t, std::uint32_t>> codes_;
};

// A line without characters is as high as its format's font.
void EmptyLineHeight(const Format& f, const EmbeddedFonts* embedded, Line& line) {
  if (embedded) {
    const FontDef* font = (*embedded)(f.font, f.bold, f.italic);
    const double scale = font && font->unitsPerEm > 0 ? f.size / font->unitsPerEm : 0;
    line.ascent = WholeTwips(font && font->ascent > 0 ? font->ascent * scale : f.size * 0.9);
    line.descent = WholeTwips(font && font->descent > 0 ? font->descent * scale : f.size * 0.2);
    return;
  }
  const DeviceFace& face = FindDeviceFace(f.font, f.bold, f.italic);
  line.ascent = WholeTwips(face.ascent * f.size);
  line.descent = WholeTwips(face.descent * f.size);
}

double NextTab(double x, const Format& f) {
  for (double stop : f.tabStops) {
    if (stop > x + 0.01) return stop;
  }
  // Past the last stop a tab moves nothing.
  if (!f.tabStops.empty()) return x;
  // Without stops, tabs go to multiples of 2.7 times the font size.
  const double step = WholeTwips(f.size * 2.7);
  if (step <= 0) return x;
  return (std::floor(x / step + 1e-9) + 1) * step;
}

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == 0x3000; }

// Flash wraps a line after a run of spaces or after a hyphen; a tab joins
// the words on either side of it, so text and tabs with no space between
// break where the line is full.
bool IsBreakSpace(char32_t c) { return c == ' ' || c == 0x3000; }

// Where else Flash may wrap. Letters, digits and symbols up to the
// mathematical operators make words; from the technical symbols on (CJK,
// kana, Hangul, full-width forms, dingbats, brackets of those blocks) each
// character stands alone, a line may end on either side of it, except as
// the Japanese rules forbid: no line starts with a closing mark, and none
// ends with an opening one. Among word characters, ASCII closing and
// opening marks keep those rules beside a character that stands alone.
enum class BreakClass { kWord, kAlone, kOpen, kClose, kWordOpen, kWordClose, kSpace };

constexpr char32_t kCannotStartLine[] = {
    0x3001, 0x3002, 0x3005, 0x3009, 0x300B, 0x300D, 0x300F, 0x3011, 0x3015, 0x3017, 0x3019, 0x301B, 0x301C,
    0x301E, 0x301F, 0x303B, 0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063, 0x3083, 0x3085, 0x3087, 0x308E,
    0x309B, 0x309C, 0x309D, 0x309E, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30C3, 0x30E3, 0x30E5, 0x30E7,
    0x30EE, 0x30F5, 0x30F6, 0x30FB, 0x30FC, 0x30FD, 0x30FE, 0xFD3F, 0xFE36, 0xFE38, 0xFE3A, 0xFE3C, 0xFE3E,
    0xFE40, 0xFE42, 0xFE44, 0xFE50, 0xFE52, 0xFE54, 0xFE55, 0xFE56, 0xFE57, 0xFE5A, 0xFE5C, 0xFE5E, 0xFF01,
    0xFF09, 0xFF0C, 0xFF0E, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF3D, 0xFF5D, 0xFF61, 0xFF63, 0xFF64, 0xFF65, 0xFF67,
    0xFF68, 0xFF69, 0xFF6A, 0xFF6B, 0xFF6C, 0xFF6D, 0xFF6E, 0xFF6F, 0xFF70, 0xFF9E, 0xFF9F};
constexpr char32_t kCannotEndLine[] = {0x3008, 0x300A, 0x300C, 0x300E, 0x3010, 0x3014, 0x3016, 0x3018,
                                       0x301A, 0x301D, 0xFD3E, 0xFE35, 0xFE37, 0xFE39, 0xFE3B, 0xFE3D,
                                       0xFE3F, 0xFE41, 0xFE43, 0xFE59, 0xFE5B, 0xFE5D, 0xFF08, 0xFF3B,
                                       0xFF5B, 0xFF62};

static_assert(std::is_sorted(std::begin(kCannotStartLine), std::end(kCannotStartLine)));
static_assert(std::is_sorted(std::begin(kCannotEndLine), std::end(kCannotEndLine)));

BreakClass ClassOf(char32_t c) {
  if (IsBreakSpace(c)) return BreakClass::kSpace;
  if (c < 0x2300) {
    if (c == '(' || c == '[' || c == '{' || c == 0x2045) return BreakClass::kWordOpen;
    if (c == ')' || c == ']' || c == '}' || c == '!' || c == ',' || c == '.' || c == ':' || c == ';' || c == '?' ||
        c == 0x2046)
      return BreakClass::kWordClose;
    return BreakClass::kWord;
  }
  if (std::binary_search(std::begin(kCannotStartLine), std::end(kCannotStartLine), c)) return BreakClass::kClose;
  if (std::binary_search(std::begin(kCannotEndLine), std::end(kCannotEndLine), c)) return BreakClass::kOpen;
  return BreakClass::kAlone;
}

// Whether a line may end between `l` and `r` (after spaces and hyphens it
// always may, which the caller takes care of).
bool BreaksBetween(char32_t l, char32_t r) {
  using enum BreakClass;
  const BreakClass a = ClassOf(l), b = ClassOf(r);
  if (b == kSpace || b == kClose || b == kWordClose) return false;
  if (a == kOpen || a == kWordOpen) return false;
  if (a == kClose || b == kOpen) return true;
  return a == kAlone || b == kAlone;
}

// Bulleted paragraphs are left aligned whatever their format says.
Align AlignOf(const Format& f) { return f.bullet ? Align::kLeft : f.align; }

}  // namespace

int Layout::BottomScroll(int scroll) const {
  if (lines.empty()) return 1;
  const int first = std::clamp(scroll, 1, static_cast<int>(lines.size())) - 1;
  const double top = lines[static_cast<std::size_t>(first)].top;
  const double visible = boxHeight - 2 * kGutter;
  int last = first;
  for (std::size_t i = static_cast<std::size_t>(first) + 1; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (l.top + l.ascent + l.descent - top > visible + 0.01) break;
    last = static_cast<int>(i);
  }
  return last + 1;
}

Layout LayOut(const StyledText& in, const Box& box, const EmbeddedFonts* embedded) {
  Layout out;
  static const FormatPtr kDefault = std::make_shared<Format>();
  std::u32string chars = in.chars;
  if (box.password) {
    for (auto& c : chars) {
      if (c != '\r' && c != '\n') c = '*';
    }
  }
  const std::size_t n = chars.size();
  auto formatAt = [&](std::size_t i) -> const Format& {
    if (i < in.formats.size() && in.formats[i]) return *in.formats[i];
    if (!in.formats.empty() && in.formats.back()) return *in.formats.back();
    return box.emptyFormat ? *box.emptyFormat : *kDefault;
  };

  // Shape runs of one format.
  std::vector<Shaped> shaped(n);
  Shaper shaper(embedded);
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    const Format& f = formatAt(i);
    while (j < n && chars[j] != '\r' && chars[j] != '\n' && chars[i] != '\r' && chars[i] != '\n' &&
           (j >= in.formats.size() || in.formats[j] == in.formats[i] || formatAt(j) == f)) {
      ++j;
    }
    shaper.Run(chars, i, j, f, shaped);
    i = j;
  }

  // Break into lines: at paragraph ends, and at spaces when wrapping.
  const bool wrap = box.wordWrap;
  double y = kGutter;
  std::size_t paraStart = 0;
  for (std::size_t i = 0; i <= n;) {
    const Format& pf = formatAt(paraStart);
    const bool firstOfPara = i == paraStart;
    // Bulleted text starts 36 pixels in, the bullet half way.
    const double bulletIndent = pf.bullet ? 36 : 0;
    const double lineStart =
        std::max(0.0, pf.leftMargin + pf.blockIndent + (firstOfPara ? Indent(pf) : 0)) + bulletIndent;
    const double avail = box.width - 2 * kGutter - lineStart - pf.rightMargin;
    Line line;
    line.first = i;
    double x = 0, width = 0;
    std::size_t breakAt = std::string::npos;  // after the last space or hyphen that fits
    double widthAtBreak = 0, fullAtBreak = 0;
    double full = 0;  // the width with the line's trailing spaces
    std::size_t j = i;
    bool paraEnd = false;
    for (; j < n; ++j) {
      const char32_t c = chars[j];
      if (c == '\r' || c == '\n') {
        paraEnd = true;
        break;
      }
      double adv = shaped[j].advance;
      if (c == '\t') adv = NextTab(x, formatAt(j)) - x;
      if (wrap && !IsSpace(c) && x + adv > avail + 0.01 && j > i) {
        full = x;
        if (breakAt != std::string::npos) {
          j = breakAt;
          width = widthAtBreak;
          full = fullAtBreak;
        }
        break;
      }
      x += adv;
      if (!IsSpace(c)) width = x;
      if (IsBreakSpace(c) || c == '-' || (wrap && j + 1 < n && BreaksBetween(c, chars[j + 1]))) {
        breakAt = j + 1;
        widthAtBreak = width;
        fullAtBreak = x;
      }
    }
    if (j >= n || paraEnd) full = x;
    // Spaces at the break stay on this line.
    while (j < n && wrap && !paraEnd && IsBreakSpace(chars[j])) ++j;
    line.end = j;
    // Trailing spaces count in a left aligned line's width; other lines are
    // placed by their ink.
    line.width = AlignOf(pf) == Align::kLeft || (box.trailingSpacesCount && AlignOf(pf) != Align::kJustify) ? full : width;
    // Metrics of the tallest character, the paragraph's end included; an
    // empty line takes its end's format.
    const std::size_t last = paraEnd ? line.end + 1 : std::max(line.end, line.first + 1);
    for (std::size_t k = line.first; k < last && k < n; ++k) {
      line.ascent = std::max(line.ascent, shaped[k].ascent);
      line.descent = std::max(line.descent, shaped[k].descent);
    }
    if (line.ascent == 0 && line.descent == 0) EmptyLineHeight(formatAt(line.first), embedded, line);
    line.leading = pf.leading;
    line.top = y;
    line.x = lineStart;  // aligned below, once the box's width is known
    y += line.ascent + line.descent + line.leading;
    out.lines.push_back(line);
    if (j >= n) {
      if (paraEnd) {
        // A text ending in a paragraph end has an empty last line.
      }
      break;
    }
    if (paraEnd) {
      ++j;
      paraStart = j;
      if (j == n) {
        // The empty paragraph after a final line end.
        Line empty;
        empty.first = empty.end = n;
        const Format& f = formatAt(n - 1);
        EmptyLineHeight(f, embedded, empty);
        empty.leading = f.leading;
        empty.top = y;
        y += empty.ascent + empty.descent + empty.leading;
        out.lines.push_back(empty);
        break;
      }
    }
    if (j == i) ++j;  // never stall
    i = j;
  }

  for (const Line& l : out.lines) out.textWidth = std::max(out.textWidth, l.width);
  if (!out.lines.empty()) {
    const bool trailingEmpty = n > 0 && out.lines.size() > 1 && out.lines.back().first == n && !box.input;
    const Line& last = out.lines[out.lines.size() - (trailingEmpty ? 2 : 1)];
    // The first line always brings its leading, even alone.
    const Line& first = out.lines.front();
    out.textHeight = std::max(last.top + last.ascent + last.descent,
                              first.top + first.ascent + first.descent + first.leading) - kGutter;
    if (n == 0) {
      out.textWidth = 0;
      if (!box.input) out.textHeight = 0;
    }
  }

  // autoSize grows or shrinks the box around the text.
  out.boxX = 0;
  out.boxWidth = box.width;
  out.boxHeight = box.height;
  if (box.autoSize != AutoSize::kNone) {
    const Format& f0 = formatAt(0);
    out.boxHeight = out.textHeight + 2 * kGutter;
    if (!wrap) {
      // An input field keeps room for the caret after the text.
      const double caret = box.input ? 2.5 : 0;
      const double w =
          out.textWidth + 2 * kGutter + caret + f0.leftMargin + f0.rightMargin + f0.blockIndent + Indent(f0);
      if (box.autoSize == AutoSize::kCenter) out.boxX = (box.width - w) / 2;
      else if (box.autoSize == AutoSize::kRight) out.boxX = box.width - w;
      out.boxWidth = w;
    }
  }

  // Align each line and place its glyphs.
  out.charX.assign(n, 0);
  out.charAdvance.assign(n, 0);
  for (Line& l : out.lines) {
    const Format& pf = formatAt(l.first);
    const double avail = out.boxWidth - 2 * kGutter - l.x - pf.rightMargin;
    // Flash aligns in the width less one twip (the box's right edge lies
    // outside it) and keeps the offset in whole twips, the fraction dropped.
    const double free = avail - 0.05 - l.width;
    double offset = 0;
    if (AlignOf(pf) == Align::kRight) offset = WholeTwips(free);
    else if (AlignOf(pf) == Align::kCenter) offset = WholeTwips(free / 2);
    // A line wider than the box starts at its left edge and runs out on the right.
    offset = std::max(0.0, offset);
    l.x = out.boxX + kGutter + l.x + offset;
    const double baseline = l.top + l.ascent;
    // Justified lines share their free space among the spaces (not the last of a paragraph).
    // Spaces after the line's last ink keep their own width.
    double perSpace = 0;
    std::size_t lastInk = l.first;
    if (AlignOf(pf) == Align::kJustify && wrap && l.end < n && chars[l.end] != '\r' && chars[l.end] != '\n') {
      int spaces = 0;
      for (std::size_t k = l.first; k < l.end; ++k) {
        if (!IsSpace(chars[k])) lastInk = k;
      }
      for (std::size_t k = l.first; k < lastInk; ++k) spaces += chars[k] == ' ';
      if (spaces > 0) perSpace = std::max(0.0, avail - l.width) / spaces;
    }
    if (pf.bullet && (l.first == 0 || chars[l.first - 1] == '\r' || chars[l.first - 1] == '\n')) {
      std::vector<Shaped> dot(1);
      shaper.Run(U"\u2022", 0, 1, pf, dot);
      GlyphRun run;
      run.face = dot[0].face;
      run.size = pf.size;
      run.color = pf.color;
      run.y = baseline;
      const double bx = out.boxX + kGutter + std::max(0.0, pf.leftMargin + pf.blockIndent + Indent(pf)) + 18;
      for (const auto& [g, dx] : dot[0].glyphs) run.glyphs.push_back({g, bx + dx});
      out.runs.push_back(std::move(run));
    }
    double x = l.x;
    double penFromLine = 0;
    for (std::size_t k = l.first; k < l.end && k < n; ++k) {
      const Format& f = formatAt(k);
      const Shaped& s = shaped[k];
      double adv = s.advance;
      if (chars[k] == '\t') adv = NextTab(penFromLine, f) - penFromLine;
      if (!IsSpace(chars[k]) && (!s.glyphs.empty() || f.underline)) {
        GlyphRun* run = out.runs.empty() ? nullptr : &out.runs.back();
        if (!run || run->face != s.face || run->size != f.size || run->color != f.color ||
            run->underline != f.underline || run->y != baseline || x < run->x1 - 0.01) {
          run = &out.runs.emplace_back();
          run->face = s.face;
          run->size = f.size;
          run->color = f.color;
          run->underline = f.underline;
          run->y = baseline;
          run->x0 = x;
          run->lineDescent = l.descent;
        }
        for (const auto& [g, dx] : s.glyphs) run->glyphs.push_back({g, x + dx});
        run->x1 = x + adv - f.letterSpacing;
      } else if (f.underline && !out.runs.empty() && out.runs.back().underline && out.runs.back().y == baseline &&
                 out.runs.back().color == f.color && x >= out.runs.back().x1 - 0.01) {
        // Flash underlines the spaces after a word too, up to the line's end.
        out.runs.back().x1 = x + adv;
      }
      out.charX[k] = x;
      if (chars[k] == ' ' && k < lastInk) adv += perSpace;
      out.charAdvance[k] = adv;
      x += adv;
      penFromLine += adv;
    }
  }

  // Scrolling: the first line that lets the last one show.
  const double visible = out.boxHeight - 2 * kGutter;
  out.maxScroll = 1;
  if (!out.lines.empty()) {
    const bool trailingEmpty = n > 0 && out.lines.size() > 1 && out.lines.back().first == n && !box.input;
    const Line& last = out.lines[out.lines.size() - (trailingEmpty ? 2 : 1)];
    // As for textHeight, the first line brings its leading.
    const Line& first = out.lines.front();
    const double bottom =
        std::max(last.top + last.ascent + last.descent, first.top + first.ascent + first.descent + first.leading);
    for (std::size_t i = 0; i < out.lines.size(); ++i) {
      out.maxScroll = static_cast<int>(i) + 1;
      if (bottom - out.lines[i].top <= visible + 0.01) break;
    }
  }
  // An input field scrolls its text until a quarter of its width is left
  // empty for the caret.
  const double shown = std::max(0.0, out.boxWidth - 2 * kGutter) * (box.input ? 0.75 : 1.0);
  out.maxHScroll = wrap ? 0 : std::max(0.0, std::floor(out.textWidth - shown));
  return out;
}

Extent MeasureLine(const std::u32string& s, const Format& f) {
  StyledText t;
  t.Append(s, std::make_shared<Format>(f));
  Box box;
  box.width = 1e6;
  const Layout l = LayOut(t, box);
  Extent e;
  e.width = l.textWidth;
  e.height = l.textHeight;
  if (!l.lines.empty()) {
    e.ascent = l.lines[0].ascent;
    e.descent = l.lines[0].descent;
  }
  return e;
}

}  // namespace quarvel::player::text
