#include "player/avm2/xml_parser.h"

#include "player/text/text_encoding.h"
#include "player/text/xml_escape.h"

#include <cctype>
#include <cstring>

namespace quarvel::avm2::xml {

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsAllXmlSpace(std::string_view s) {
  for (char c : s)
    if (!IsXmlSpace(c)) return false;
  return true;
}
std::string_view TrimXmlSpace(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsXmlSpace(s[b])) ++b;
  while (e > b && IsXmlSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80 ||
         (c != 0 && std::strchr("_:-.", c));
}

class Parser {
 public:
  Parser(std::string_view s, const ParseOptions& o, int maxDepth) : s_(s), o_(o), maxDepth_(maxDepth) {}

  std::vector<ParsedNode> Fragment() {
    std::vector<ParsedNode> out;
    Content(out, nullptr);
    return out;
  }

 private:
  std::string_view s_;
  const ParseOptions& o_;
  int maxDepth_;
  std::size_t i_ = 0;
  int depth_ = 0;

  [[noreturn]] void Fail(int code, const std::string& message) const { throw XmlSyntaxError(code, message, i_); }
  [[noreturn]] void Malformed() const { Fail(1090, "XML parser failure: element is malformed."); }
  bool At(std::string_view p) const { return s_.substr(i_, p.size()) == p; }
  void SkipSpace() {
    while (i_ < s_.size() && IsXmlSpace(s_[i_])) ++i_;
  }
  std::string Name() {
    const std::size_t b = i_;
    if (i_ >= s_.size() || std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-' || s_[i_] == '.') Malformed();
    while (i_ < s_.size() && IsNameChar(s_[i_])) ++i_;
    if (b == i_) Malformed();
    return std::string(s_.substr(b, i_ - b));
  }
  // Up to and past `end`; the text before it.
  std::string_view Until(std::string_view end, int code, const char* message) {
    const auto e = s_.find(end, i_);
    if (e == std::string_view::npos) Fail(code, message);
    const std::string_view body = s_.substr(i_, e - i_);
    i_ = e + end.size();
    return body;
  }

  void AddText(std::vector<ParsedNode>& out, std::string_view raw) {
    if (raw.empty()) return;
    std::string text = Unescape(raw);
    if (o_.ignoreWhitespace) {
      if (IsAllXmlSpace(text)) return;
      text = std::string(TrimXmlSpace(text));
    }
    ParsedNode t;
    t.kind = NodeKind::kText;
    t.text = std::move(text);
    out.push_back(std::move(t));
  }

  // Nodes up to the end of the text, or up to the end tag of `open`.
  void Content(std::vector<ParsedNode>& out, const ParsedNode* open) {
    for (;;) {
      if (i_ >= s_.size()) {
        if (open)
          Fail(1085, "The element type \"" + open->name + "\" must be terminated by the matching end-tag \"</" +
                         open->name + ">\".");
        return;
      }
      if (s_[i_] != '<') {
        const auto e = s_.find('<', i_);
        const std::size_t end = e == std::string_view::npos ? s_.size() : e;
        AddText(out, s_.substr(i_, end - i_));
        i_ = end;
        continue;
      }
      if (At("</")) {
        if (!open) Malformed();
        i_ += 2;
        const std::size_t at = i_;
        std::string name;
        while (i_ < s_.size() && IsNameChar(s_[i_])) ++i_;
        name = std::string(s_.substr(at, i_ - at));
        const auto gt = s_.find('>', i_);
        if (name != open->name || gt == std::string_view::npos) {
          i_ = at - 2;
          Fail(1085, "The element type \"" + open->name + "\" must be terminated by the matching end-tag \"</" +
                         open->name + ">\".");
        }
        i_ = gt + 1;
        return;
      }
      if (At("<![CDATA[")) {
        i_ += 9;
        ParsedNode t;
        t.kind = NodeKind::kText;
        t.cdata = true;
        t.text = std::string(Until("]]>", 1091, "XML parser failure: Unterminated CDATA section."));
        out.push_back(std::move(t));
        continue;
      }
      if (At("<!--")) {
        i_ += 4;
        const std::string_view body = Until("-->", 1094, "XML parser failure: Unterminated comment.");
        if (!o_.ignoreComments) {
          ParsedNode c;
          c.kind = NodeKind::kComment;
          c.text = std::string(body);
          out.push_back(std::move(c));
        }
        continue;
      }
      if (At("<!DOCTYPE")) {
        Doctype();
        continue;
      }
      if (At("<?")) {
        i_ += 2;
        const std::string_view body = Until("?>", 1097, "XML parser failure: Unterminated processing instruction.");
        std::size_t n = 0;
        while (n < body.size() && IsNameChar(body[n])) ++n;
        const std::string target(body.substr(0, n));
        // The XML declaration is no node.
        if (target == "xml" || target == "XML") continue;
        if (!o_.ignoreProcessingInstructions) {
          ParsedNode p;
          p.kind = NodeKind::kProcessingInstruction;
          p.name = target;
          // Flash keeps the body's trailing space, and allows an empty target.
          std::string_view rest = body.substr(n);
          while (!rest.empty() && IsXmlSpace(rest.front())) rest.remove_prefix(1);
          p.text = std::string(rest);
          out.push_back(std::move(p));
        }
        continue;
      }
      out.push_back(Element());
    }
  }

  void Doctype() {
    // Skipped, internal subset included.
    int brackets = 0;
    for (i_ += 9; i_ < s_.size(); ++i_) {
      if (s_[i_] == '[') ++brackets;
      else if (s_[i_] == ']') --brackets;
      else if (s_[i_] == '>' && brackets <= 0) {
        ++i_;
        return;
      }
    }
    Fail(1093, "XML parser failure: Unterminated DOCTYPE declaration.");
  }

  ParsedNode Element() {
    if (++depth_ > maxDepth_) Malformed();
    ++i_;  // '<'
    ParsedNode x;
    x.kind = NodeKind::kElement;
    x.name = Name();
    for (;;) {
      const std::size_t before = i_;
      SkipSpace();
      if (i_ >= s_.size()) Fail(1096, "XML parser failure: Unterminated element.");
      if (At("/>")) {
        i_ += 2;
        --depth_;
        return x;
      }
      if (s_[i_] == '>') {
        ++i_;
        break;
      }
      if (before == i_) Malformed();  // attributes are separated by space
      std::string an = Name();
      SkipSpace();
      if (i_ >= s_.size() || s_[i_] != '=') Malformed();
      ++i_;
      SkipSpace();
      if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) Malformed();
      const char q = s_[i_++];
      const auto e = s_.find(q, i_);
      if (e == std::string_view::npos) Fail(1095, "XML parser failure: Unterminated attribute.");
      std::string value = Unescape(s_.substr(i_, e - i_));
      i_ = e + 1;
      if (an == "xmlns") x.namespaces.emplace_back("", std::move(value));
      else if (an.starts_with("xmlns:")) x.namespaces.emplace_back(an.substr(6), std::move(value));
      else x.attributes.emplace_back(std::move(an), std::move(value));
    }
    Content(x.children, &x);
    --depth_;
    return x;
  }
};

}  // namespace

std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&') {
      // Up to the next ';': an unknown reference stays as written, whole.
      const auto semi = s.find(';', i);
      if (semi != std::string_view::npos) {
        const std::string_view e = s.substr(i + 1, semi - i - 1);
        if (const auto c = encoding::EntityValue(e)) encoding::AppendUtf8(out, *c);
        else out += s.substr(i, semi - i + 1);
        i = semi;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

std::vector<ParsedNode> ParseFragment(std::string_view text, const ParseOptions& options, int maxDepth) {
  return Parser(text, options, maxDepth).Fragment();
}

}  // namespace quarvel::avm2::xml
