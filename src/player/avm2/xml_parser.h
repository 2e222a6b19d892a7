#pragma once
// The XML text reader behind ActionScript 3's XML and XMLList: a fragment
// (zero or more top-level nodes) read into a plain tree, with Flash's
// error numbers for each kind of bad markup. No machine objects here: the
// E4X classes turn the tree into their own nodes.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarvel::avm2::xml {

enum class NodeKind : std::uint8_t { kElement, kText, kComment, kProcessingInstruction, kAttribute };

struct ParsedNode {
  NodeKind kind = NodeKind::kText;
  std::string name;  // element or attribute name as written ("p:local"), or a PI's target
  std::string text;  // text, comment body, PI body, attribute value
  bool cdata = false;
  std::vector<std::pair<std::string, std::string>> attributes;  // name as written, value unescaped
  std::vector<std::pair<std::string, std::string>> namespaces;  // xmlns declarations: prefix ("" default), URI
  std::vector<ParsedNode> children;
};

struct ParseOptions {
  bool ignoreComments = true;
  bool ignoreProcessingInstructions = true;
  bool ignoreWhitespace = true;
};

// Bad markup: `code` is Flash's error number (1085 unclosed element, 1088
// more than one top-level node, 1090 malformed, 1091-1097 unterminated
// constructs); `offset` is where in the text it was found.
class XmlSyntaxError : public std::runtime_error {
 public:
  XmlSyntaxError(int code, std::string message, std::size_t offset)
      : std::runtime_error(std::move(message)), code_(code), offset_(offset) {}
  int Code() const { return code_; }
  std::size_t Offset() const { return offset_; }

 private:
  int code_;
  std::size_t offset_;
};

// The nodes of `text` read as the content of an element. Nesting deeper
// than `maxDepth` is malformed (a stack guard against hostile input).
std::vector<ParsedNode> ParseFragment(std::string_view text, const ParseOptions& options, int maxDepth = 512);

// &amp; &lt; &gt; &quot; &apos; and numeric references replaced; unknown
// entities stay as written.
std::string Unescape(std::string_view s);

bool IsXmlSpace(char c);
bool IsAllXmlSpace(std::string_view s);
std::string_view TrimXmlSpace(std::string_view s);

}  // namespace quarvel::avm2::xml
