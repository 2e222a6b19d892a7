#include "player/text/text_field.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "player/library/characters.h"
#include "player/library/movie_library.h"
#include "player/text/xml_escape.h"

namespace quarvel::player::text {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// "#FF0000", "0xff0000", "ff0000".
// A style's colour: '#' and one to six hex digits, nothing after them but
// white space; anything else is no colour.
std::optional<std::uint32_t> ParseColor(std::string s) {
  s = Trim(s);
  if (s.size() < 2 || s.size() > 7 || s[0] != '#') return std::nullopt;
  std::uint32_t v = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!std::isxdigit(c)) return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return v;
}

// <font color>: '#' first, then spaces may come, then hex digits up to the
// first other character; only the last six count.
std::optional<std::uint32_t> ParseHtmlColor(const std::string& s) {
  if (s.empty() || s[0] != '#') return std::nullopt;
  std::size_t i = 1;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  std::uint32_t v = 0;
  const std::size_t digits = i;
  for (; i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    v = ((v << 4) | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10)) & 0xFFFFFF;
  }
  if (i == digits) return std::nullopt;
  return v;
}

std::optional<double> ParseNumber(const std::string& s) {
  const std::string t = Trim(s);
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  const double d = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<Align> ParseAlign(const std::string& s) {
  const std::string a = Lower(Trim(s));
  if (a == "left") return Align::kLeft;
  if (a == "right") return Align::kRight;
  if (a == "center") return Align::kCenter;
  if (a == "justify") return Align::kJustify;
  return std::nullopt;
}

const char* AlignName(Align a) {
  switch (a) {
    case Align::kRight: return "RIGHT";
    case Align::kCenter: return "CENTER";
    case Align::kJustify: return "JUSTIFY";
    default: return "LEFT";
  }
}

std::string Number(double d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

std::string Escape(const std::u32string& s) { return encoding::XmlEscaped(ToUtf8(s), encoding::XmlQuotes::kBoth); }

}  // namespace

// ---- formats ---------------------------------------------------------------------

void FormatPatch::ApplyTo(Format& f) const {
  if (font) f.font = *font;
  if (url) f.url = *url;
  if (target) f.target = *target;
  if (size) f.size = *size;
  if (letterSpacing) f.letterSpacing = *letterSpacing;
  if (leftMargin) f.leftMargin = *leftMargin;
  if (rightMargin) f.rightMargin = *rightMargin;
  if (indent) f.indent = *indent;
  if (blockIndent) f.blockIndent = *blockIndent;
  if (leading) f.leading = *leading;
  if (color) f.color = *color;
  if (bold) f.bold = *bold;
  if (italic) f.italic = *italic;
  if (underline) f.underline = *underline;
  if (kerning) f.kerning = *kerning;
  if (bullet) f.bullet = *bullet;
  if (align) f.align = *align;
  if (tabStops) f.tabStops = *tabStops;
}

FormatPatch FormatPatch::From(const Format& f) {
  FormatPatch p;
  p.font = f.font;
  p.url = f.url;
  p.target = f.target;
  p.size = f.size;
  p.letterSpacing = f.letterSpacing;
  p.leftMargin = f.leftMargin;
  p.rightMargin = f.rightMargin;
  p.indent = f.indent;
  p.blockIndent = f.blockIndent;
  p.leading = f.leading;
  p.color = f.color;
  p.bold = f.bold;
  p.italic = f.italic;
  p.underline = f.underline;
  p.kerning = f.kerning;
  p.bullet = f.bullet;
  p.align = f.align;
  p.tabStops = f.tabStops;
  return p;
}

void FormatPatch::Intersect(const Format& f) {
  auto keep = [](auto& opt, const auto& v) {
    if (opt && !(*opt == v)) opt.reset();
  };
  keep(font, f.font);
  keep(url, f.url);
  keep(target, f.target);
  keep(size, f.size);
  keep(letterSpacing, f.letterSpacing);
  keep(leftMargin, f.leftMargin);
  keep(rightMargin, f.rightMargin);
  keep(indent, f.indent);
  keep(blockIndent, f.blockIndent);
  keep(leading, f.leading);
  keep(color, f.color);
  keep(bold, f.bold);
  keep(italic, f.italic);
  keep(underline, f.underline);
  keep(kerning, f.kerning);
  keep(bullet, f.bullet);
  keep(align, f.align);
  keep(tabStops, f.tabStops);
}

// ---- style sheets ------------------------------------------------------------------

void ApplyCssProperty(const std::string& rawName, const std::string& value, FormatPatch& p) {
  // "font-size" and "fontSize" are the same property.
  std::string name;
  for (char c : Lower(Trim(rawName))) {
    if (c != '-') name += c;
  }
  const std::string v = Trim(value);
  const std::string lv = Lower(v);
  if (name == "color") {
    if (auto c = ParseColor(v)) p.color = *c;
  } else if (name == "fontsize") {
    if (auto d = ParseNumber(v)) p.size = *d;
  } else if (name == "fontfamily") {
    std::string f = v;
    if (const auto comma = f.find(','); comma != std::string::npos) f = f.substr(0, comma);
    f = Trim(f);
    if (f.size() >= 2 && (f[0] == '"' || f[0] == '\'')) f = f.substr(1, f.size() - 2);
    if (Lower(f) == "sans-serif") f = "_sans";
    else if (Lower(f) == "serif") f = "_serif";
    else if (Lower(f) == "monospace") f = "_typewriter";
    p.font = f;
  } else if (name == "fontweight") {
    p.bold = lv == "bold";
  } else if (name == "fontstyle") {
    p.italic = lv == "italic";
  } else if (name == "textdecoration") {
    p.underline = lv == "underline";
  } else if (name == "textalign") {
    if (auto a = ParseAlign(lv)) p.align = *a;
  } else if (name == "marginleft") {
    if (auto d = ParseNumber(v)) p.leftMargin = *d;
  } else if (name == "marginright") {
    if (auto d = ParseNumber(v)) p.rightMargin = *d;
  } else if (name == "textindent") {
    if (auto d = ParseNumber(v)) p.indent = *d;
  } else if (name == "letterspacing") {
    if (auto d = ParseNumber(v)) p.letterSpacing = *d;
  } else if (name == "leading") {
    if (auto d = ParseNumber(v)) p.leading = *d;
  } else if (name == "kerning") {
    p.kerning = lv == "true";
  } else if (name == "display") {
    if (lv == "block" || lv == "inline" || lv == "none") p.display = lv;
  }
}

namespace {

std::string WithoutComments(const std::string& css) {
  std::string text;
  for (std::size_t k = 0; k < css.size(); ++k) {
    if (css.compare(k, 2, "/*") == 0) {
      const auto e = css.find("*/", k + 2);
      if (e == std::string::npos) break;
      k = e + 1;
      continue;
    }
    text += css[k];
  }
  return text;
}

bool CssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::optional<CssRules> ParseCssStrict(const std::string& css, bool as3Rules) {
  const std::string s = WithoutComments(css);
  CssRules out;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && CssSpace(s[i])) ++i;
  };
  while (true) {
    skip();
    if (i >= s.size()) return out;
    // Selectors: names without spaces, separated by commas.
    std::vector<std::string> selectors;
    while (true) {
      const std::size_t start = i;
      while (i < s.size() && !CssSpace(s[i]) && s[i] != ',' && s[i] != '{') ++i;
      if (i == start && !(as3Rules && i < s.size() && s[i] == '{')) return std::nullopt;
      selectors.push_back(s.substr(start, i - start));
      skip();
      if (i >= s.size()) return std::nullopt;
      if (s[i] == '{') break;
      if (s[i] != ',') return std::nullopt;
      ++i;
      skip();
    }
    ++i;  // '{'
    CssProperties props;
    while (true) {
      skip();
      if (i >= s.size()) break;  // an unclosed block ends with the text
      if (s[i] == '}') {
        ++i;
        break;
      }
      // The name runs to the colon; spaces may only end it.
      const std::size_t start = i;
      while (i < s.size() && s[i] != ':') ++i;
      if (i >= s.size()) return std::nullopt;
      const std::string raw = s.substr(start, i - start);
      const auto end = raw.find_last_not_of(" \t\n\r");
      if (end != std::string::npos && std::any_of(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(end), CssSpace)) {
        return std::nullopt;
      }
      // Flash names properties in camel case: font-size becomes fontSize.
      std::string name;
      for (std::size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] != '-') name += raw[k];
        else if (k + 1 < raw.size()) name += static_cast<char>(std::toupper(static_cast<unsigned char>(raw[++k])));
      }
      ++i;  // ':'
      skip();
      const std::size_t vstart = i;
      while (i < s.size() && s[i] != ';' && s[i] != '}') ++i;
      if (i >= s.size()) return std::nullopt;
      std::string value = s.substr(vstart, i - vstart);
      if (as3Rules) value = value.substr(0, value.find_first_of("\r\n"));
      if (!name.empty() || as3Rules) props.emplace_back(name, std::move(value));
      if (s[i++] == '}') break;
    }
    for (const std::string& sel : selectors) out.emplace_back(sel, props);
  }
}

bool ParseCss(const std::string& css, std::map<std::string, std::map<std::string, std::string>>& out) {
  std::size_t i = 0;
  const std::string text = WithoutComments(css);
  while (i < text.size()) {
    const auto open = text.find('{', i);
    if (open == std::string::npos) return Trim(text.substr(i)).empty();
    const auto close = text.find('}', open);
    if (close == std::string::npos) return false;
    const std::string selectors = text.substr(i, open - i);
    std::map<std::string, std::string> props;
    std::string body = text.substr(open + 1, close - open - 1);
    std::size_t p = 0;
    while (p < body.size()) {
      auto semi = body.find(';', p);
      if (semi == std::string::npos) semi = body.size();
      const std::string decl = body.substr(p, semi - p);
      const auto colon = decl.find(':');
      if (colon != std::string::npos) {
        std::string name = Trim(decl.substr(0, colon));
        // Flash names properties in camel case: font-size becomes fontSize.
        std::string camel;
        for (std::size_t k = 0; k < name.size(); ++k) {
          if (name[k] == '-' && k + 1 < name.size()) {
            camel += static_cast<char>(std::toupper(static_cast<unsigned char>(name[++k])));
          } else {
            camel += name[k];
          }
        }
        props[camel] = Trim(decl.substr(colon + 1));
      } else if (!Trim(decl).empty()) {
        return false;
      }
      p = semi + 1;
    }
    std::size_t s = 0;
    while (s <= selectors.size()) {
      auto comma = selectors.find(',', s);
      if (comma == std::string::npos) comma = selectors.size();
      const std::string sel = Lower(Trim(selectors.substr(s, comma - s)));
      if (!sel.empty()) {
        for (const auto& [k, v] : props) out[sel][k] = v;
      }
      s = comma + 1;
    }
    i = close + 1;
  }
  return true;
}

// ---- HTML ---------------------------------------------------------------------------

namespace {

struct Tag {
  std::string name;  // lower case, without '/'
  bool closing = false, selfClosing = false;
  std::map<std::string, std::string> attrs;  // lower-case names
};

// Parses the tag between '<' and '>'.
Tag ParseTag(const std::string& s) {
  Tag t;
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '/') {
    t.closing = true;
    ++i;
  }
  std::size_t j = i;
  while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])) && s[j] != '/') ++j;
  t.name = Lower(s.substr(i, j - i));
  i = j;
  while (i < s.size()) {
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '/')) {
      if (s[i] == '/') t.selfClosing = true;
      ++i;
    }
    j = i;
    while (j < s.size() && s[j] != '=' && !std::isspace(static_cast<unsigned char>(s[j])) && s[j] != '/') ++j;
    const std::string name = Lower(s.substr(i, j - i));
    i = j;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    std::string value;
    if (i < s.size() && s[i] == '=') {
      ++i;
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const char q = s[i++];
        j = s.find(q, i);
        if (j == std::string::npos) j = s.size();
        value = s.substr(i, j - i);
        i = j + 1;
      } else {
        j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
        value = s.substr(i, j - i);
        i = j;
      }
    }
    if (!name.empty()) t.attrs[name] = value;
    else if (i == j) ++i;
  }
  return t;
}

// Decodes the entities of a text piece.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  const std::u32string u = FromUtf8(s);
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (u[i] != '&') {
      out += u[i];
      continue;
    }
    const auto semi = u.find(';', i);
    if (semi == std::u32string::npos || semi - i > 10) {
      out += u[i];
      continue;
    }
    const auto c = encoding::EntityValue(ToUtf8(u.substr(i + 1, semi - i - 1)), true);
    if (!c) {
      out += u[i];
      continue;
    }
    out += *c;
    i = semi;
  }
  return out;
}

}  // namespace

void ParseHtml(const std::string& html, const Format& base, const StyleRules* styles, bool condenseWhite,
               StyledText& out, bool multiline, double maxSize, bool whitePerStretch) {
  struct Open {
    std::string name;
    FormatPtr format;
    bool hides = false;  // display: none
    bool block = false;  // a style sheet's own tag shown as a block (or hidden)
  };
  std::vector<Open> stack;
  FormatPtr cur = std::make_shared<Format>(base);
  // Paragraphs do not nest: a <p> inside an open one is only a format, and
  // its </p> ends the one paragraph. List items nest and each ends a line.
  bool inParagraph = false;
  int openItems = 0;
  // A tag of the style sheet's own (not one of Flash's) shows as a block
  // unless styled otherwise: like a paragraph it ends a line once where it
  // closes, even in a single-line field. "display: none" hides its text.
  bool inBlock = false;
  int hidden = 0;
  auto ownTag = [](const std::string& name) {
    static const std::set<std::string> kFlashTags = {"p",    "li",   "br",   "sbr", "b",          "i",
                                                     "u",    "a",    "font", "img", "textformat", "span"};
    return !kFlashTags.count(name);
  };
  auto displayOf = [&](const Tag& tag) -> std::string {
    const bool own = ownTag(tag.name);
    std::string display = "inline";
    if (!styles) return display;
    if (auto it = styles->find(tag.name); it != styles->end()) {
      if (own) display = "block";
      if (it->second.display) display = *it->second.display;
    }
    if (auto c = tag.attrs.find("class"); c != tag.attrs.end()) {
      if (auto it = styles->find("." + Lower(c->second)); it != styles->end() && it->second.display)
        display = *it->second.display;
    }
    return own || display == "none" ? display : "inline";
  };
  bool lastWasSpace = true;
  // A paragraph's end keeps the paragraph's members but takes the font of
  // the last font tag closed before it (else the field's), plain and unlinked.
  FormatPtr lastClosed;
  auto endParagraph = [&](const FormatPtr& inside) {
    const Format& font = lastClosed ? *lastClosed : base;
    auto f = std::make_shared<Format>(*inside);
    f->font = font.font;
    f->size = font.size;
    f->color = font.color;
    f->letterSpacing = font.letterSpacing;
    f->kerning = font.kerning;
    f->bold = f->italic = f->underline = false;
    f->url.clear();
    f->target.clear();
    out.Append(U"\r", f);
    lastWasSpace = true;
  };
  auto styled = [&](Format& f, const std::string& selector) {
    if (!styles) return;
    if (auto it = styles->find(selector); it != styles->end()) it->second.ApplyTo(f);
  };
  std::size_t i = 0;
  const std::size_t kMaxDepth = 256;
  while (i < html.size()) {
    if (html[i] == '<') {
      const auto close = html.find('>', i);
      if (close == std::string::npos) break;  // an unfinished tag ends the text, as Flash does
      const std::string inner = html.substr(i + 1, close - i - 1);
      i = close + 1;
      if (inner.empty() || inner[0] == '!' || inner[0] == '?') continue;
      const Tag tag = ParseTag(inner);
      if (tag.closing) {
        const FormatPtr inside = cur;
        bool closedBlock = false;
        // A closing tag closes only the innermost open tag, when it names
        // it: one that closes an outer tag while an inner one is open is
        // ignored.
        if (!stack.empty() && stack.back().name == tag.name) {
          cur = stack.back().format;
          closedBlock = stack.back().block;
          hidden -= stack.back().hides ? 1 : 0;
          stack.pop_back();
        }
        if (closedBlock && inBlock) {
          inBlock = false;
          out.Append(U"\r", inside);
          lastWasSpace = true;
        }
        if (tag.name == "font") lastClosed = inside;
        if (tag.name == "p" && inParagraph) {
          inParagraph = false;
          if (multiline) endParagraph(inside);
        } else if (tag.name == "li" && openItems > 0) {
          --openItems;
          if (multiline) {
            out.Append(U"\r", inside);
            lastWasSpace = true;
          }
        }
        continue;
      }
      if (tag.name == "br" || tag.name == "sbr") {
        if (multiline) out.Append(U"\r", cur);
        lastWasSpace = true;
        continue;
      }
      auto f = std::make_shared<Format>(*cur);
      // A sheet styles by name only paragraphs, list items, links and tags
      // of its own; b, i, u, font, span and textformat keep their looks.
      if (tag.name == "p" || tag.name == "li" || tag.name == "a" || ownTag(tag.name)) styled(*f, tag.name);
      // A class names its style exactly, spaces and all.
      if (auto c = tag.attrs.find("class"); c != tag.attrs.end()) styled(*f, "." + Lower(c->second));
      const auto attr = [&](const char* name) -> const std::string* {
        auto it = tag.attrs.find(name);
        return it == tag.attrs.end() ? nullptr : &it->second;
      };
      if (tag.name == "b") {
        f->bold = true;
      } else if (tag.name == "i") {
        f->italic = true;
      } else if (tag.name == "u") {
        f->underline = true;
      } else if (tag.name == "a") {
        if (auto* h = attr("href")) f->url = *h;
        if (auto* t = attr("target")) f->target = *t;
      } else if (tag.name == "font") {
        if (auto* v = attr("face")) f->font = *v;
        if (auto* v = attr("color")) {
          if (auto c = ParseHtmlColor(*v)) f->color = *c;
        }
        // The size is the whole number the value begins with ("1.9" is 1),
        // after a sign when relative; a value without digits changes nothing.
        if (auto* v = attr("size")) {
          const std::string t = Trim(*v);
          const bool relative = !t.empty() && (t[0] == '+' || t[0] == '-');
          std::size_t i = relative ? 1 : 0;
          double n = 0;
          const std::size_t digits = i;
          for (; i < t.size() && i < digits + 9 && t[i] >= '0' && t[i] <= '9'; ++i) n = n * 10 + (t[i] - '0');
          if (i > digits) f->size = std::max(1.0, relative ? f->size + (t[0] == '-' ? -n : n) : n);
          if (maxSize > 0) f->size = std::min(f->size, maxSize);
        }
        if (auto* v = attr("letterspacing")) {
          if (auto d = ParseNumber(*v)) f->letterSpacing = *d;
        }
        if (auto* v = attr("kerning"); v && !whitePerStretch) f->kerning = Trim(*v) == "1" || Lower(Trim(*v)) == "true";
      } else if (tag.name == "p" || tag.name == "li") {
        // An item starts on a line of its own; a paragraph just where it is.
        if (tag.name == "li") {
          if (multiline && !out.chars.empty() && out.chars.back() != '\r') {
            out.Append(U"\r", cur);
            lastWasSpace = true;
          }
          ++openItems;
        } else {
          inParagraph = true;
        }
        if (auto* v = attr("align")) {
          if (auto a = ParseAlign(*v)) f->align = *a;
        }
        if (tag.name == "li") f->bullet = true;
      } else if (tag.name == "textformat") {
        if (auto* v = attr("leftmargin")) f->leftMargin = ParseNumber(*v).value_or(f->leftMargin);
        if (auto* v = attr("rightmargin")) f->rightMargin = ParseNumber(*v).value_or(f->rightMargin);
        if (auto* v = attr("indent")) f->indent = ParseNumber(*v).value_or(f->indent);
        if (auto* v = attr("blockindent")) f->blockIndent = ParseNumber(*v).value_or(f->blockIndent);
        if (auto* v = attr("leading")) f->leading = ParseNumber(*v).value_or(f->leading);
        if (auto* v = attr("tabstops")) {
          std::vector<double> stops;
          std::size_t s = 0;
          while (s <= v->size()) {
            auto comma = v->find(',', s);
            if (comma == std::string::npos) comma = v->size();
            if (auto d = ParseNumber(v->substr(s, comma - s))) stops.push_back(*d);
            s = comma + 1;
          }
          f->tabStops = stops;
        }
      } else if (tag.name == "img") {
        continue;
      }
      if (!tag.selfClosing && stack.size() < kMaxDepth) {
        const std::string display = styles ? displayOf(tag) : "inline";
        const bool block = display != "inline" && ownTag(tag.name);
        inBlock = inBlock || block;
        stack.push_back({tag.name, cur, display == "none", block});
        hidden += display == "none" ? 1 : 0;
        cur = f;
      }
      continue;
    }
    // Text up to the next tag.
    auto next = html.find('<', i);
    if (next == std::string::npos) next = html.size();
    const std::u32string decoded = Decode(html.substr(i, next - i));
    i = next;
    // "\r\n" is two line ends, as in text set directly.
    std::u32string kept;
    const auto white = [](char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (whitePerStretch) {
      if (std::all_of(decoded.begin(), decoded.end(), white)) continue;
      if (condenseWhite) lastWasSpace = false;
    }
    for (char32_t c : decoded) {
      if (condenseWhite) {
        const bool space = white(c);
        if (space) {
          if (!lastWasSpace) kept += ' ';
          lastWasSpace = true;
          continue;
        }
        lastWasSpace = false;
        kept += c;
      } else if (c == '\n' || c == '\r') {
        // A line end written in the text stays even in a single-line field,
        // which only takes none from tags.
        kept += U'\r';
      } else {
        kept += c;
      }
    }
    if (kept.empty() || hidden > 0) continue;
    out.Append(kept, cur);
  }
}

namespace {

bool SameFont(const Format& a, const Format& b) {
  return a.font == b.font && a.size == b.size && a.color == b.color && a.letterSpacing == b.letterSpacing &&
         a.kerning == b.kerning;
}

// Paragraph members come from a paragraph's first character: they split no run.
bool SameCharacters(const Format& a, const Format& b) {
  return SameFont(a, b) && a.bold == b.bold && a.italic == b.italic && a.underline == b.underline &&
         a.url == b.url && a.target == b.target;
}

// A FONT tag with every attribute, or with those that differ from `below`.
std::string FontTag(const Format& f, const Format* below) {
  char color[8];
  std::snprintf(color, sizeof color, "%06X", f.color & 0xFFFFFF);
  std::string tag = "<FONT";
  if (!below || below->font != f.font) tag += " FACE=\"" + Escape(FromUtf8(f.font)) + "\"";
  if (!below || below->size != f.size) tag += " SIZE=\"" + Number(f.size) + "\"";
  if (!below || below->color != f.color) tag += std::string(" COLOR=\"#") + color + "\"";
  if (!below || below->letterSpacing != f.letterSpacing) tag += " LETTERSPACING=\"" + Number(f.letterSpacing) + "\"";
  if (!below || below->kerning != f.kerning) tag += std::string(" KERNING=\"") + (f.kerning ? "1" : "0") + "\"";
  return tag + ">";
}

}  // namespace

std::string WriteHtml(const StyledText& t, const Format& base) {
  std::string out;
  const std::size_t n = t.chars.size();
  // Each line end closes a paragraph; none follows the last one.
  if (n == 0) return out;
  std::size_t start = 0;
  auto formatAt = [&](std::size_t i) -> const Format& {
    return i < t.formats.size() && t.formats[i] ? *t.formats[i] : base;
  };
  do {
    std::size_t end = t.chars.find(U'\r', start);
    if (end == std::u32string::npos) end = n;
    const Format& pf = formatAt(start < n ? start : (n ? n - 1 : 0));
    const bool textformat = pf.leftMargin != 0 || pf.rightMargin != 0 || pf.indent != 0 || pf.blockIndent != 0 ||
                            pf.leading != 0 || !pf.tabStops.empty();
    if (textformat) {
      out += "<TEXTFORMAT";
      if (pf.leftMargin != 0) out += " LEFTMARGIN=\"" + Number(pf.leftMargin) + "\"";
      if (pf.rightMargin != 0) out += " RIGHTMARGIN=\"" + Number(pf.rightMargin) + "\"";
      if (pf.indent != 0) out += " INDENT=\"" + Number(pf.indent) + "\"";
      if (pf.blockIndent != 0) out += " BLOCKINDENT=\"" + Number(pf.blockIndent) + "\"";
      if (pf.leading != 0) out += " LEADING=\"" + Number(pf.leading) + "\"";
      if (!pf.tabStops.empty()) {
        out += " TABSTOPS=\"";
        for (std::size_t k = 0; k < pf.tabStops.size(); ++k) out += (k ? "," : "") + Number(pf.tabStops[k]);
        out += "\"";
      }
      out += ">";
    }
    out += pf.bullet ? "<LI>" : std::string("<P ALIGN=\"") + AlignName(pf.align) + "\">";
    // FONT tags nest: a run whose font matches an open level goes back to
    // it; any other opens a level naming only what differs from the one below.
    std::vector<const Format*> levels;
    // The line end is written too, as an empty run when its format differs.
    const std::size_t stop = std::min(end + 1, n);
    for (std::size_t i = start; i < stop;) {
      const Format& f = formatAt(i);
      std::size_t j = i + 1;
      while (j < stop && SameCharacters(formatAt(j), f)) ++j;
      auto level = std::find_if(levels.rbegin(), levels.rend(), [&](const Format* l) { return SameFont(*l, f); });
      if (level != levels.rend()) {
        for (auto n = static_cast<std::size_t>(level - levels.rbegin()); n > 0; --n) out += "</FONT>";
        levels.resize(levels.size() - static_cast<std::size_t>(level - levels.rbegin()));
      } else {
        out += FontTag(f, levels.empty() ? nullptr : levels.back());
        levels.push_back(&f);
      }
      std::string open, close;
      if (!f.url.empty()) {
        open += "<A HREF=\"" + Escape(FromUtf8(f.url)) + "\" TARGET=\"" + Escape(FromUtf8(f.target)) + "\">";
        close = "</A>" + close;
      }
      if (f.bold) open += "<B>", close = "</B>" + close;
      if (f.italic) open += "<I>", close = "</I>" + close;
      if (f.underline) open += "<U>", close = "</U>" + close;
      out += open + Escape(t.chars.substr(i, std::min(j, end) - i)) + close;
      i = j;
    }
    for (std::size_t n = levels.size(); n > 0; --n) out += "</FONT>";
    out += pf.bullet ? "</LI>" : "</P>";
    if (textformat) out += "</TEXTFORMAT>";
    start = end + 1;
  } while (start < n);
  return out;
}

// ---- the field -----------------------------------------------------------------------

TextField::TextField() : newFormat_(std::make_shared<Format>()) {}

std::shared_ptr<TextField> TextField::FromDef(const EditTextDef& e, const MovieLibrary* lib) {
  auto t = std::make_shared<TextField>();
  t->lib_ = lib;
  t->x_ = t->cornerX_ = e.bounds.xmin / 20.0;
  t->y_ = t->cornerY_ = e.bounds.ymin / 20.0;
  t->width_ = e.bounds.Width() / 20.0;
  t->height_ = e.bounds.Height() / 20.0;
  Options& o = t->opts_;
  o.wordWrap = e.wordWrap;
  o.multiline = e.multiline;
  o.html = e.html;
  o.border = o.background = e.border;
  o.password = e.password;
  o.input = !e.readOnly;
  o.selectable = !e.noSelect;
  o.maxChars = e.maxLength;
  o.autoSize = e.autoSize ? AutoSize::kLeft : AutoSize::kNone;
  o.variable = e.variable;
  o.antiAliasType = e.advancedAntiAlias ? "advanced" : "normal";
  o.gridFitType = e.gridFit == 0 ? "none" : e.gridFit == 2 ? "subpixel" : "pixel";
  o.thickness = e.thickness;
  o.sharpness = e.sharpness;
  Format f;
  f.size = e.height / 20.0;
  f.color = (static_cast<std::uint32_t>(e.color.r) << 16) | (static_cast<std::uint32_t>(e.color.g) << 8) | e.color.b;
  f.align = e.align == 1 ? Align::kRight : e.align == 2 ? Align::kCenter : e.align == 3 ? Align::kJustify : Align::kLeft;
  // An HTML field takes no alignment from its tag (margins, indent and
  // leading it does), except that from SWF 8 its initial text is laid out
  // in the tag's alignment, which its new text then keeps.
  const int version = lib ? lib->movie.version : 8;
  if (e.html && (version < 8 || e.text.empty())) f.align = Align::kLeft;
  f.leftMargin = e.leftMargin / 20.0;
  f.rightMargin = e.rightMargin / 20.0;
  f.indent = std::nearbyint(e.indent / 20.0);  // whole pixels, as a script reads it back
  f.leading = e.leading / 20.0;
  if (e.hasFont && lib) {
    const Character* ch = lib->Find(e.fontId);
    if (ch && ch->kind == Character::Kind::kFont) {
      const auto& font = static_cast<const FontDef&>(*ch);
      std::string name = font.name;
      while (!name.empty() && name.back() == 0) name.pop_back();
      if (!name.empty()) f.font = name;
      // A plain field takes its font's style; HTML text starts plain and
      // says its own <b> and <i>.
      f.bold = font.bold && !e.html;
      f.italic = font.italic && !e.html;
      o.embedFonts = e.useOutlines && !font.glyphs.empty();
      t->fontId_ = e.fontId;
    }
  }
  t->newFormat_ = std::make_shared<Format>(f);
  t->SetShown(e.text);
  return t;
}

EmbeddedFonts TextField::Fonts() const {
  const MovieLibrary* lib = lib_;
  const std::uint16_t fontId = fontId_;
  return [lib, fontId](const std::string& name, bool bold, bool italic) -> const FontDef* {
    if (!lib) return nullptr;
    const std::string want = Lower(name);
    auto nameOf = [](const FontDef& f) {
      std::string n = f.name;
      while (!n.empty() && n.back() == 0) n.pop_back();
      return Lower(n);
    };
    if (fontId) {
      const Character* ch = lib->Find(fontId);
      if (ch && ch->kind == Character::Kind::kFont) {
        const auto& f = static_cast<const FontDef&>(*ch);
        if (!f.glyphs.empty() && nameOf(f) == want && f.bold == bold && f.italic == italic) return &f;
      }
    }
    const FontDef* best = nullptr;
    int bestScore = -1;
    for (const auto& [id, ch] : lib->characters) {
      if (ch->kind != Character::Kind::kFont) continue;
      const auto& f = static_cast<const FontDef&>(*ch);
      if (f.glyphs.empty() || nameOf(f) != want) continue;
      // Flash takes the exact style, then the same slant (bold or not),
      // then the same weight.
      const int score = (f.italic == italic) * 4 + (f.bold == bold) * 2 + (f.ascent > 0);
      if (score > bestScore || (score == bestScore && best && f.glyphs.size() > best->glyphs.size())) {
        best = &f;
        bestScore = score;
      }
    }
    return best;
  };
}

std::string TextField::Text() const { return ToUtf8(content_.chars); }

void TextField::SetText(const std::string& s) {
  content_.Clear();
  std::u32string u = FromUtf8(s);
  std::u32string clean;
  // "\r\n" is two line ends, as Flash counts them.
  for (std::size_t i = 0; i < u.size(); ++i) clean += u[i] == '\n' ? U'\r' : u[i];
  content_.Append(clean, newFormat_);
  htmlSource_.clear();
  scroll_ = 1;
  Refit();
}

std::string TextField::HtmlText() const {
  if (!htmlSource_.empty()) return htmlSource_;
  return WriteHtml(content_, *newFormat_);
}

void TextField::SetHtmlText(const std::string& s) {
  content_.Clear();
  // Up to SWF 12 an HTML font size stops at 127.
  const double maxSize = lib_ && lib_->movie.version <= 12 ? 127 : 0;
  const bool whitePerStretch = lib_ && lib_->movie.version <= 7;
  // Up to SWF 6 tags end lines in single-line fields too.
  const bool multiline = opts_.multiline || (lib_ && lib_->movie.version <= 6);
  ParseHtml(s, *newFormat_, styles_.get(), opts_.condenseWhite, content_, multiline, maxSize, whitePerStretch);
  htmlSource_ = styles_ ? s : std::string();
  scroll_ = 1;
  Refit();
}

void TextField::SetShown(const std::string& s) {
  if (opts_.html) SetHtmlText(s);
  else SetText(s);
}

void TextField::ReplaceText(std::size_t begin, std::size_t end, const std::string& s) {
  const std::size_t n = content_.chars.size();
  begin = std::min(begin, n);
  end = std::clamp(end, begin, n);
  FormatPtr f = end < n ? content_.formats[end] : newFormat_;
  std::u32string u = FromUtf8(s);
  for (auto& c : u) {
    if (c == '\n') c = '\r';
  }
  content_.chars.replace(begin, end - begin, u);
  content_.formats.erase(content_.formats.begin() + static_cast<std::ptrdiff_t>(begin),
                         content_.formats.begin() + static_cast<std::ptrdiff_t>(end));
  content_.formats.insert(content_.formats.begin() + static_cast<std::ptrdiff_t>(begin), u.size(), f);
  htmlSource_.clear();
  Refit();
}

void TextField::SetFormat(std::size_t begin, std::size_t end, const FormatPatch& p) {
  const std::size_t n = content_.chars.size();
  end = std::min(end, n);
  // Paragraph members go to whole paragraphs.
  const bool para = p.align || p.leftMargin || p.rightMargin || p.indent || p.blockIndent || p.leading ||
                    p.bullet || p.tabStops;
  FormatPtr last, made;
  for (std::size_t i = begin; i < end; ++i) {
    if (content_.formats[i] != last) {
      last = content_.formats[i];
      Format f = *last;
      p.ApplyTo(f);
      made = std::make_shared<Format>(f);
    }
    content_.formats[i] = made;
  }
  if (para && begin < end) {
    FormatPatch pp;
    pp.align = p.align;
    pp.leftMargin = p.leftMargin;
    pp.rightMargin = p.rightMargin;
    pp.indent = p.indent;
    pp.blockIndent = p.blockIndent;
    pp.leading = p.leading;
    pp.bullet = p.bullet;
    pp.tabStops = p.tabStops;
    std::size_t a = begin;
    while (a > 0 && content_.chars[a - 1] != '\r') --a;
    std::size_t b = end;
    while (b < n && content_.chars[b] != '\r') ++b;
    if (b < n) ++b;
    for (std::size_t i = a; i < b; ++i) {
      if (i >= begin && i < end) continue;
      Format f = *content_.formats[i];
      pp.ApplyTo(f);
      content_.formats[i] = std::make_shared<Format>(f);
    }
  }
  htmlSource_.clear();
  Refit();
}

FormatPatch TextField::GetFormat(std::size_t begin, std::size_t end) const {
  const std::size_t n = content_.chars.size();
  if (n == 0) return FormatPatch::From(*newFormat_);
  begin = std::min(begin, n - 1);
  end = std::clamp(end, begin + 1, n);
  FormatPatch p = FormatPatch::From(*content_.formats[begin]);
  FormatPtr last = content_.formats[begin];
  for (std::size_t i = begin + 1; i < end; ++i) {
    if (content_.formats[i] == last) continue;
    last = content_.formats[i];
    p.Intersect(*last);
  }
  return p;
}

void TextField::SetNewFormat(const FormatPatch& p) {
  Format f = *newFormat_;
  p.ApplyTo(f);
  newFormat_ = std::make_shared<Format>(f);
  if (content_.chars.empty()) Touch();  // an empty line is as high as this format
}

void TextField::SetStyles(std::shared_ptr<const StyleRules> s) {
  styles_ = std::move(s);
  // Without a sheet the text stays as the last one styled it; a new sheet
  // styles the HTML it was given again.
  if (!styles_) htmlSource_.clear();
  else if (!htmlSource_.empty()) SetHtmlText(htmlSource_);
  Touch();
}

double TextField::Width() const { return Fitting() ? Look()->layout.boxWidth : width_; }
double TextField::Height() const { return Fitting() ? Look()->layout.boxHeight : height_; }

void TextField::Hold() {
  if (!Fitting()) return;
  const Layout& l = Look()->layout;
  x_ += l.boxX;
  cornerX_ += l.boxX;
  width_ = l.boxWidth;
  height_ = l.boxHeight;
  held_ = true;
}

void TextField::Settle() {
  if (!Fitting()) return;
  const Layout& l = Look()->layout;
  if (l.boxX == 0 && l.boxWidth == width_ && l.boxHeight == height_) return;
  x_ += l.boxX;
  cornerX_ += l.boxX;
  width_ = l.boxWidth;
  height_ = l.boxHeight;
  Touch();
}

void TextField::SetAutoSize(AutoSize a, bool lazyBox) {
  // A field keeps the box autoSize last gave it: components size their
  // fields by autoSizing a sample text, then turn autoSize off. A lazy box
  // (ActionScript 3) keeps the box it was last settled or sized to.
  if (opts_.autoSize != AutoSize::kNone && a != opts_.autoSize && !lazyBox) Hold();
  opts_.autoSize = a;
  lazyBox_ = lazyBox;
  Refit();
}

void TextField::SetWidth(double w) {
  if (!std::isfinite(w)) return;
  // A lazy box settles first, then autoSize fits it again when next
  // settled: Flash's ActionScript 3 fields keep no size set against autoSize.
  if (lazyBox_) Settle();
  else Hold();
  width_ = std::max(0.0, w);
  Touch();
}

void TextField::SetHeight(double h) {
  if (!std::isfinite(h)) return;
  if (lazyBox_) Settle();
  else Hold();
  height_ = std::max(0.0, h);
  Touch();
}

void TextField::SetBox(double x, double y, double w, double h) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return;
  x_ = w < 0 ? x + w : x;
  y_ = h < 0 ? y + h : y;
  cornerX_ = x;
  cornerY_ = y;
  width_ = std::abs(w);
  height_ = std::abs(h);
  Touch();
}

void TextField::SetScroll(int s) {
  scroll_ = std::clamp(s, 1, Laid().maxScroll);
  Touch();
}

void TextField::SetHScroll(double h) {
  if (!std::isfinite(h)) return;
  hscroll_ = std::clamp(h, 0.0, Laid().maxHScroll);
  Touch();
}

const Layout& TextField::Laid() const {
  const Layout& fitted = Look()->layout;
  if (!lazyBox_ || !Fitting() || (fitted.boxX == 0 && fitted.boxWidth == width_ && fitted.boxHeight == height_))
    return fitted;
  if (!unsettled_) unsettled_ = std::make_shared<const Layout>(LayOutIn(false));
  return *unsettled_;
}

Layout TextField::LayOutIn(bool fit) const {
  Box box;
  box.width = width_;
  box.height = height_;
  box.wordWrap = opts_.wordWrap;
  box.multiline = opts_.multiline;
  box.autoSize = fit ? opts_.autoSize : AutoSize::kNone;
  box.password = opts_.password;
  box.input = opts_.input;
  box.emptyFormat = newFormat_.get();
  box.trailingSpacesCount = lib_ && lib_->movie.version < 8;
  if (opts_.embedFonts) {
    const EmbeddedFonts fonts = Fonts();
    return LayOut(content_, box, &fonts);
  }
  return LayOut(content_, box);
}

std::shared_ptr<const TextLook> TextField::Look() const {
  if (look_) return look_;
  auto look = std::make_shared<TextLook>();
  look->layout = LayOutIn(Fitting());
  const Layout& l = look->layout;
  look->x = x_ + l.boxX;
  look->y = y_;
  look->width = l.boxWidth;
  look->height = l.boxHeight;
  look->border = opts_.border;
  look->background = opts_.background;
  look->borderColor = opts_.borderColor;
  look->backgroundColor = opts_.backgroundColor;
  look->scroll = std::clamp(scroll_, 1, std::max(1, l.maxScroll));
  look->hscroll = std::clamp(hscroll_, 0.0, l.maxHScroll);
  look->advancedAntiAlias = opts_.antiAliasType == "advanced";
  look_ = look;
  return look_;
}

std::optional<std::uint32_t> ParseCssColor(const std::string& value) { return ParseColor(value); }

}  // namespace quarvel::player::text
