// flash.xml's XMLNode, XMLDocument and XMLNodeType: the DOM ActionScript 3
// kept from ActionScript 2. Elements and text nodes with parent links, an
// attributes object, and the old text form (<a b="c" />).
#include <algorithm>
#include <string>
#include <vector>

#include "player/avm2/builtins_util.h"
#include "player/avm2/machine.h"
#include "player/avm2/xml_parser.h"
#include "player/text/xml_escape.h"

namespace quarvel::avm2 {
namespace {

constexpr int kElement = 1;
constexpr int kText = 3;
constexpr int kMaxDepth = 1024;

struct DomNode : Object {
  DomNode() : Object(ObjectKind::kPlain) {}
  int type = kElement;
  Value name;   // nodeName: null for a document and for text
  Value value;  // nodeValue: null for an element
  Object* attributes = nullptr;
  DomNode* parent = nullptr;
  std::vector<DomNode*> kids;
  // childNodes: one array per node, kept up to date as children come and go.
  ArrayObject* childArray = nullptr;
  bool document = false;
  void Trace(Heap& h) override {
    Object::Trace(h);
    h.Mark(childArray);
    h.Mark(name);
    h.Mark(value);
    h.Mark(attributes);
    h.Mark(parent);
    for (auto* k : kids) h.Mark(k);
  }
};

Object* AllocNode(Machine& m, Class*) { return m.heap().New<DomNode>(); }
DomNode* AsNode(Machine& m, const Value& v) {
  Object* o = v.AsObject();
  Class* c = m.FindClass("flash.xml::XMLNode");
  return o && o->cls && c && o->cls->IsSubclassOf(c) ? static_cast<DomNode*>(o) : nullptr;
}
DomNode* Self(Machine& m, const Value& v) {
  DomNode* n = AsNode(m, v);
  if (!n) m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  return n;
}
DomNode* NewNode(Machine& m, int type, const std::string& text) {
  auto* n = static_cast<DomNode*>(m.Instantiate(m.FindClass("flash.xml::XMLNode")));
  n->type = type;
  n->attributes = m.NewObject();
  if (type == kText) {
    n->name = Value::Null();
    n->value = m.Str(text);
  } else {
    n->name = m.Str(text);
    n->value = Value::Null();
  }
  return n;
}

void SyncChildArray(DomNode* n) {
  if (!n->childArray) return;
  n->childArray->elems.clear();
  for (DomNode* k : n->kids) n->childArray->elems.push_back(Value::Obj(k));
}
void Detach(DomNode* n) {
  if (!n->parent) return;
  auto& k = n->parent->kids;
  k.erase(std::remove(k.begin(), k.end(), n), k.end());
  SyncChildArray(n->parent);
  n->parent = nullptr;
}
void InsertBefore(Machine& m, DomNode* parent, DomNode* child, DomNode* before) {
  for (DomNode* p = parent; p; p = p->parent)
    if (p == child) m.ThrowError("Error", "An XMLNode cannot be inserted into itself.", 2103);
  Detach(child);
  auto at = before ? std::find(parent->kids.begin(), parent->kids.end(), before) : parent->kids.end();
  parent->kids.insert(at, child);
  child->parent = parent;
  SyncChildArray(parent);
}

std::string Escaped(const std::string& s) { return encoding::XmlEscaped(s, encoding::XmlQuotes::kBoth); }

void Write(Machine& m, const DomNode* n, std::string& out, int depth) {
  if (depth > kMaxDepth) return;
  if (n->type == kText) {
    out += Escaped(m.ToString(n->value));
    return;
  }
  // A document, or an element without a name, writes only its children.
  const bool tag = !n->name.IsNullish() && !m.ToString(n->name).empty();
  const std::string name = tag ? m.ToString(n->name) : std::string();
  if (tag) {
    out += '<' + name;
    if (n->attributes && n->attributes->dyn)
      for (std::size_t i = 0; i < n->attributes->dyn->items.size(); ++i) {
        if (!n->attributes->dyn->Listed(i)) continue;
        const auto& [k, v] = n->attributes->dyn->items[i];
        out += ' ' + k->text + "=\"" + Escaped(m.ToString(v)) + '"';
      }
    if (n->kids.empty()) {
      out += " />";
      return;
    }
    out += '>';
  }
  for (const DomNode* c : n->kids) Write(m, c, out, depth + 1);
  if (tag) out += "</" + name + '>';
}

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The old parser: comments dropped, declarations kept aside, text split
// where a comment was, whitespace-only text dropped under ignoreWhite.
struct Parser {
  Machine& m;
  const std::string& s;
  bool ignoreWhite;
  std::string xmlDecl, docType;
  std::size_t i = 0;

  [[noreturn]] void Fail(int id, const char* what) { m.ThrowError("TypeError", what, id); }

  void Text(DomNode* parent, const std::string& raw) {
    if (raw.empty() || (ignoreWhite && std::all_of(raw.begin(), raw.end(), Space))) return;
    InsertBefore(m, parent, NewNode(m, kText, xml::Unescape(raw)), nullptr);
  }

  void Run(DomNode* root) {
    std::vector<DomNode*> open{root};
    while (i < s.size()) {
      const auto lt = s.find('<', i);
      Text(open.back(), s.substr(i, lt == std::string::npos ? std::string::npos : lt - i));
      if (lt == std::string::npos) break;
      i = lt;
      if (s.compare(i, 4, "<!--") == 0) {
        const auto end = s.find("-->", i + 4);
        if (end == std::string::npos) Fail(1094, "XML parser failure: Unterminated comment.");
        i = end + 3;
      } else if (s.compare(i, 9, "<![CDATA[") == 0) {
        const auto end = s.find("]]>", i + 9);
        if (end == std::string::npos) Fail(1091, "XML parser failure: Unterminated CDATA section.");
        InsertBefore(m, open.back(), NewNode(m, kText, s.substr(i + 9, end - i - 9)), nullptr);
        i = end + 3;
      } else if (s.compare(i, 2, "<?") == 0) {
        const auto end = s.find("?>", i + 2);
        if (end == std::string::npos) Fail(1092, "XML parser failure: Unterminated XML declaration.");
        xmlDecl += s.substr(i, end + 2 - i);
        i = end + 2;
      } else if (s.compare(i, 2, "<!") == 0) {
        const auto end = s.find('>', i + 2);
        if (end == std::string::npos) Fail(1093, "XML parser failure: Unterminated DOCTYPE declaration.");
        docType += s.substr(i, end + 1 - i);
        i = end + 1;
      } else if (s.compare(i, 2, "</") == 0) {
        const auto end = s.find('>', i + 2);
        if (end == std::string::npos) Fail(1090, "XML parser failure: element is malformed.");
        std::string name = s.substr(i + 2, end - i - 2);
        while (!name.empty() && Space(name.back())) name.pop_back();
        DomNode* top = open.back();
        if (open.size() == 1 || m.ToString(top->name) != name) Fail(1090, "XML parser failure: element is malformed.");
        open.pop_back();
        i = end + 1;
      } else {
        Element(open);
      }
    }
    if (open.size() != 1) Fail(1096, "XML parser failure: Unterminated element.");
  }

  void Element(std::vector<DomNode*>& open) {
    std::size_t k = i + 1;
    while (k < s.size() && !Space(s[k]) && s[k] != '>' && s[k] != '/') ++k;
    const std::string name = s.substr(i + 1, k - i - 1);
    if (name.empty()) Fail(1090, "XML parser failure: element is malformed.");
    DomNode* el = NewNode(m, kElement, name);
    for (;;) {
      while (k < s.size() && Space(s[k])) ++k;
      if (k >= s.size()) Fail(1096, "XML parser failure: Unterminated element.");
      if (s[k] == '>' || s.compare(k, 2, "/>") == 0) break;
      const std::size_t b = k;
      while (k < s.size() && !Space(s[k]) && s[k] != '=' && s[k] != '>') ++k;
      const std::string attr = s.substr(b, k - b);
      while (k < s.size() && Space(s[k])) ++k;
      if (attr.empty() || k >= s.size() || s[k] != '=') Fail(1090, "XML parser failure: element is malformed.");
      ++k;
      while (k < s.size() && Space(s[k])) ++k;
      if (k >= s.size() || (s[k] != '"' && s[k] != '\'')) Fail(1090, "XML parser failure: element is malformed.");
      const auto end = s.find(s[k], k + 1);
      if (end == std::string::npos) Fail(1095, "XML parser failure: Unterminated attribute.");
      if (!el->attributes->FindDyn(attr)) el->attributes->SetDyn(m.Intern(attr), m.Str(xml::Unescape(s.substr(k + 1, end - k - 1))));
      k = end + 1;
    }
    InsertBefore(m, open.back(), el, nullptr);
    if (s[k] == '/') {
      i = k + 2;
    } else {
      i = k + 1;
      if (open.size() > kMaxDepth) Fail(1090, "XML parser failure: element is malformed.");
      open.push_back(el);
    }
  }
};

void Parse(Machine& m, DomNode* doc, const std::string& text) {
  for (DomNode* k : doc->kids) k->parent = nullptr;
  doc->kids.clear();
  Value* ignore = doc->FindDyn("ignoreWhite");
  Parser p{m, text, ignore && m.ToBoolean(*ignore), {}, {}};
  p.Run(doc);
  doc->SetDyn(m.Intern("xmlDecl"), p.xmlDecl.empty() ? Value::Null() : m.Str(p.xmlDecl));
  doc->SetDyn(m.Intern("docTypeDecl"), p.docType.empty() ? Value::Null() : m.Str(p.docType));
}

// ---- XMLNode

NATIVE(NodeCtor) {
  DomNode* n = AsNode(m, self);
  if (!n) return self;
  n->type = m.ToInt(m.ArgOr(a, 0)) == kText ? kText : kElement;
  n->attributes = m.NewObject();
  const Value text = m.ArgOr(a, 1);
  n->name = n->type == kText ? Value::Null() : (text.IsNullish() ? Value::Null() : m.Str(m.ToString(text)));
  n->value = n->type == kText ? (text.IsNullish() ? Value::Null() : m.Str(m.ToString(text))) : Value::Null();
  return self;
}
Value NodeOrNull(DomNode* n) { return n ? Value::Obj(n) : Value::Null(); }
DomNode* Sibling(DomNode* n, int step) {
  if (!n->parent) return nullptr;
  const auto& k = n->parent->kids;
  const auto it = std::find(k.begin(), k.end(), n);
  const auto at = (it - k.begin()) + step;
  return at >= 0 && at < static_cast<std::ptrdiff_t>(k.size()) ? k[static_cast<std::size_t>(at)] : nullptr;
}
NATIVE(NodeType) { return Value::Int(Self(m, self)->type); }
NATIVE(NodeName) { return Self(m, self)->name; }
NATIVE(NodeSetName) {
  Self(m, self)->name = m.ArgOr(a, 0).IsNullish() ? Value::Null() : m.Str(m.ToString(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(NodeValue) { return Self(m, self)->value; }
NATIVE(NodeSetValue) {
  Self(m, self)->value = m.ArgOr(a, 0).IsNullish() ? Value::Null() : m.Str(m.ToString(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(NodeAttributes) { return Value::Obj(Self(m, self)->attributes); }
NATIVE(NodeSetAttributes) {
  DomNode* n = Self(m, self);
  if (Object* o = m.ArgOr(a, 0).AsObject()) n->attributes = o;
  return Value();
}
NATIVE(NodeChildNodes) {
  DomNode* n = Self(m, self);
  if (!n->childArray) {
    n->childArray = m.NewArray({});
    SyncChildArray(n);
  }
  return Value::Obj(n->childArray);
}
NATIVE(NodeFirstChild) {
  DomNode* n = Self(m, self);
  return NodeOrNull(n->kids.empty() ? nullptr : n->kids.front());
}
NATIVE(NodeLastChild) {
  DomNode* n = Self(m, self);
  return NodeOrNull(n->kids.empty() ? nullptr : n->kids.back());
}
NATIVE(NodeNextSibling) { return NodeOrNull(Sibling(Self(m, self), 1)); }
NATIVE(NodePreviousSibling) { return NodeOrNull(Sibling(Self(m, self), -1)); }
NATIVE(NodeParent) { return NodeOrNull(Self(m, self)->parent); }

// "p:name": the prefix and local name.
std::pair<std::string, std::string> Split(Machine& m, const DomNode* n) {
  if (n->name.IsNullish()) return {};
  const std::string s = m.ToString(n->name);
  const auto colon = s.find(':');
  return colon == std::string::npos ? std::pair{std::string(), s} : std::pair{s.substr(0, colon), s.substr(colon + 1)};
}
NATIVE(NodeLocalName) {
  DomNode* n = Self(m, self);
  return n->name.IsNullish() ? Value::Null() : m.Str(Split(m, n).second);
}
NATIVE(NodePrefix) {
  DomNode* n = Self(m, self);
  return n->name.IsNullish() ? Value::Null() : m.Str(Split(m, n).first);
}
Value NamespaceFor(DomNode* n, const std::string& prefix) {
  const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
  for (DomNode* p = n; p; p = p->parent)
    if (p->attributes)
      if (Value* v = p->attributes->FindDyn(attr)) return *v;
  return Value::Null();
}
NATIVE(NodeNamespaceUri) {
  DomNode* n = Self(m, self);
  if (n->type != kElement || n->name.IsNullish()) return Value::Null();
  return NamespaceFor(n, Split(m, n).first);
}
NATIVE(NodeGetNamespaceForPrefix) { return NamespaceFor(Self(m, self), ArgStr(m, a, 0, "")); }
NATIVE(NodeGetPrefixForNamespace) {
  const std::string uri = ArgStr(m, a, 0, "");
  for (DomNode* p = Self(m, self); p; p = p->parent) {
    if (!p->attributes || !p->attributes->dyn) continue;
    for (const auto& [k, v] : p->attributes->dyn->items) {
      if (!k || m.ToString(v) != uri) continue;
      if (k->text == "xmlns") return m.Str("");
      if (k->text.starts_with("xmlns:")) return m.Str(k->text.substr(6));
    }
  }
  return Value::Null();
}
NATIVE(NodeAppendChild) {
  DomNode* n = Self(m, self);
  if (DomNode* c = AsNode(m, m.ArgOr(a, 0))) InsertBefore(m, n, c, nullptr);
  return Value();
}
NATIVE(NodeInsertBefore) {
  DomNode* n = Self(m, self);
  DomNode* c = AsNode(m, m.ArgOr(a, 0));
  DomNode* before = AsNode(m, m.ArgOr(a, 1));
  if (c && (!before || before->parent == n)) InsertBefore(m, n, c, before);
  return Value();
}
NATIVE(NodeRemoveNode) {
  Detach(Self(m, self));
  return Value();
}
NATIVE(NodeHasChildNodes) { return Value::Bool(!Self(m, self)->kids.empty()); }
DomNode* Clone(Machine& m, const DomNode* n, bool deep, int depth) {
  DomNode* c = NewNode(m, n->type, "");
  c->name = n->name;
  c->value = n->value;
  if (n->attributes && n->attributes->dyn)
    for (const auto& [k, v] : n->attributes->dyn->items)
      if (k) c->attributes->SetDyn(k, v);
  if (deep && depth < kMaxDepth)
    for (const DomNode* k : n->kids) InsertBefore(m, c, Clone(m, k, true, depth + 1), nullptr);
  return c;
}
NATIVE(NodeCloneNode) { return Value::Obj(Clone(m, Self(m, self), m.ToBoolean(m.ArgOr(a, 0)), 0)); }
NATIVE(NodeToString) {
  DomNode* n = Self(m, self);
  std::string out;
  if (n->document) {
    for (const char* decl : {"xmlDecl", "docTypeDecl"})
      if (Value* v = n->FindDyn(decl); v && !v->IsNullish()) out += m.ToString(*v);
  }
  Write(m, n, out, 0);
  return m.Str(out);
}

// ---- XMLDocument

NATIVE(DocCtor) {
  DomNode* n = AsNode(m, self);
  if (!n) return self;
  n->document = true;
  n->type = kElement;
  n->name = Value::Null();
  n->value = Value::Null();
  n->attributes = m.NewObject();
  if (!n->FindDyn("ignoreWhite")) n->SetDyn(m.Intern("ignoreWhite"), Value::Bool(false));
  n->SetDyn(m.Intern("xmlDecl"), Value::Null());
  n->SetDyn(m.Intern("docTypeDecl"), Value::Null());
  n->SetDyn(m.Intern("idMap"), Value::Obj(m.NewObject()));
  const Value src = m.ArgOr(a, 0);
  if (!src.IsNullish()) Parse(m, n, m.ToString(src));
  return self;
}
NATIVE(DocParseXml) {
  Parse(m, Self(m, self), ArgStr(m, a, 0, ""));
  return Value();
}
NATIVE(DocCreateElement) { return Value::Obj(NewNode(m, kElement, ArgStr(m, a, 0, ""))); }
NATIVE(DocCreateTextNode) { return Value::Obj(NewNode(m, kText, ArgStr(m, a, 0, ""))); }

}  // namespace

void InstallXmlDom(Machine& m) {
  Class* node = m.DefineNativeClass("flash.xml", "XMLNode", m.objectClass, AllocNode, false);
  SetNativeCtor(m, node, NodeCtor);
  struct P {
    const char* name;
    NativeFn get, set;
  };
  for (const P& p : {P{"nodeType", NodeType, nullptr}, P{"nodeName", NodeName, NodeSetName},
                     P{"nodeValue", NodeValue, NodeSetValue}, P{"attributes", NodeAttributes, NodeSetAttributes},
                     P{"childNodes", NodeChildNodes, nullptr}, P{"firstChild", NodeFirstChild, nullptr},
                     P{"lastChild", NodeLastChild, nullptr}, P{"nextSibling", NodeNextSibling, nullptr},
                     P{"previousSibling", NodePreviousSibling, nullptr}, P{"parentNode", NodeParent, nullptr},
                     P{"localName", NodeLocalName, nullptr}, P{"prefix", NodePrefix, nullptr},
                     P{"namespaceURI", NodeNamespaceUri, nullptr}}) {
    m.AddGetter(node, p.name, p.get);
    if (p.set) m.AddSetter(node, p.name, p.set);
  }
  struct F {
    const char* name;
    NativeFn fn;
  };
  for (const F& f : {F{"appendChild", NodeAppendChild}, F{"insertBefore", NodeInsertBefore},
                     F{"removeNode", NodeRemoveNode}, F{"hasChildNodes", NodeHasChildNodes},
                     F{"cloneNode", NodeCloneNode}, F{"toString", NodeToString},
                     F{"getNamespaceForPrefix", NodeGetNamespaceForPrefix},
                     F{"getPrefixForNamespace", NodeGetPrefixForNamespace}})
    m.AddMethod(node, f.name, f.fn);

  // Dynamic, as ignoreWhite, xmlDecl, docTypeDecl and idMap are plain properties here.
  Class* doc = m.DefineNativeClass("flash.xml", "XMLDocument", node, AllocNode, true);
  SetNativeCtor(m, doc, DocCtor);
  m.AddMethod(doc, "parseXML", DocParseXml);
  m.AddMethod(doc, "createElement", DocCreateElement);
  m.AddMethod(doc, "createTextNode", DocCreateTextNode);

  Class* types = m.DefineNativeClass("flash.xml", "XMLNodeType", m.objectClass);
  m.AddConst(types, "ELEMENT_NODE", Value::Int(kElement));
  m.AddConst(types, "TEXT_NODE", Value::Int(kText));
}

}  // namespace quarvel::avm2
