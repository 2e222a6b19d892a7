// XML and XMLNode: a tree of element and text nodes parsed from text (with
// Flash's status codes for broken documents) and written back by toString.
// Loading a document from a file is in avm1_load.cpp.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_shared.h"
#include "player/text/xml_escape.h"

namespace quarvel::player::avm1_builtins {
namespace {

constexpr int kElement = 1, kText = 3;
constexpr std::size_t kMaxNodes = std::size_t{1} << 16;  // each node is three script objects
constexpr int kMaxDepth = 256;

// Flash's parse results (XML.status).
enum Status : int {
  kOk = 0,
  kCdataOpen = -2,
  kDeclarationOpen = -3,
  kDoctypeOpen = -4,
  kCommentOpen = -5,
  kBadElement = -6,
  kAttributeOpen = -8,
  kUnclosedElement = -9,
  kUnmatchedEnd = -10,
};

struct XmlNode : AsNativeData {
  int type = kElement;
  bool document = false;  // an XML object: the tree's root, with no name
  std::string name, value;
  AsObject* attributes = nullptr;
  AsObject* parent = nullptr;
  std::vector<AsObject*> children;
  AsObject* childArray = nullptr;  // childNodes as scripts see it
  void Mark(std::vector<AsObject*>& reachable) const override {
    if (attributes) reachable.push_back(attributes);
    if (parent) reachable.push_back(parent);
    if (childArray) reachable.push_back(childArray);
    for (AsObject* c : children) reachable.push_back(c);
  }
};

XmlNode* NodeOf(AsObject* o) { return o ? o->Native<XmlNode>() : nullptr; }
XmlNode* NodeOf(const AsValue& v) { return NodeOf(Self(v)); }

AsObject* Proto(Avm1& vm, const char* cls) {
  const AsValue c = vm.Get(AsValue::Object(vm.Global()), cls);
  const AsValue p = vm.Get(c, "prototype");
  return p.type == AsValue::Type::kObject ? p.obj : vm.ObjectProto();
}

void SyncChildren(Avm1& vm, XmlNode& n) {
  if (!n.childArray) n.childArray = vm.NewArray();
  vm.SetLength(n.childArray, 0);
  for (AsObject* c : n.children) vm.SetElement(n.childArray, n.childArray->length, AsValue::Object(c));
}

// Fills `o` as a node of the given kind.
XmlNode& MakeNode(Avm1& vm, AsObject* o, int type, std::string nameOrValue) {
  auto data = std::make_unique<XmlNode>();
  XmlNode& n = *data;
  n.type = type;
  if (type == kElement) n.name = std::move(nameOrValue);
  else n.value = std::move(nameOrValue);
  n.attributes = vm.NewObject();
  o->native = std::move(data);
  if (o->className == "Object") o->className = "XMLNode";
  SyncChildren(vm, n);
  return n;
}

AsObject* NewNode(Avm1& vm, int type, std::string nameOrValue) {
  AsObject* o = vm.NewObject(Proto(vm, "XMLNode"));
  MakeNode(vm, o, type, std::move(nameOrValue));
  return o;
}

void Detach(Avm1& vm, AsObject* child) {
  XmlNode* c = NodeOf(child);
  if (!c || !c->parent) return;
  if (XmlNode* p = NodeOf(c->parent)) {
    p->children.erase(std::remove(p->children.begin(), p->children.end(), child), p->children.end());
    SyncChildren(vm, *p);
  }
  c->parent = nullptr;
}

bool IsAncestor(AsObject* maybe, AsObject* of) {
  for (int i = 0; of && i < kMaxDepth * 4; ++i) {
    if (of == maybe) return true;
    XmlNode* n = NodeOf(of);
    of = n ? n->parent : nullptr;
  }
  return false;
}

// Puts `child` under `parent` before `before` (at the end when null).
bool Insert(Avm1& vm, AsObject* parent, AsObject* child, AsObject* before) {
  XmlNode* p = NodeOf(parent);
  // A child of this node already stays where it is.
  if (!p || !NodeOf(child) || IsAncestor(child, parent) || NodeOf(child)->parent == parent) return false;
  Detach(vm, child);
  auto at = before ? std::find(p->children.begin(), p->children.end(), before) : p->children.end();
  if (before && at == p->children.end()) return false;
  p->children.insert(at, child);
  NodeOf(child)->parent = parent;
  SyncChildren(vm, *p);
  return true;
}

// ---- text

std::string Escaped(const std::string& s) { return encoding::XmlEscaped(s, encoding::XmlQuotes::kBoth); }

// A node's attributes as for..in lists them: the newest first. The parser
// sets a tag's attributes last to first, so documents keep their order.
std::vector<const AsProperty*> Attributes(const XmlNode& n) {
  std::vector<const AsProperty*> attrs;
  for (auto& [key, p] : n.attributes->props) {
    if (!p.hidden && !p.getter) attrs.push_back(&p);
  }
  std::sort(attrs.begin(), attrs.end(), [](const AsProperty* x, const AsProperty* y) { return x->order > y->order; });
  return attrs;
}

std::string Unescaped(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    // An entity runs to the next ';' without another '&' on the way.
    const auto semi = s.find(';', i);
    const auto amp = s.find('&', i + 1);
    if (semi == std::string::npos || semi - i > 10 || amp < semi) {
      out += s[i];
      continue;
    }
    if (const auto c = encoding::EntityValue(std::string_view(s).substr(i + 1, semi - i - 1), true))
      out += avm1_detail::Utf8(*c);
    else
      out += s.substr(i, semi - i + 1);
    i = semi;
  }
  return out;
}

void Write(Avm1& vm, AsObject* o, std::string& out, int depth) {
  XmlNode* n = NodeOf(o);
  if (!n || depth > kMaxDepth || out.size() > (std::size_t{16} << 20)) return;
  if (n->type == kText) {
    out += Escaped(n->value);
    return;
  }
  // A document is a nameless element until a script names it.
  const bool tag = !n->name.empty();
  if (tag) {
    out += '<' + n->name;
    for (const AsProperty* p : Attributes(*n)) out += ' ' + p->name + "=\"" + Escaped(vm.ToString(p->value)) + '"';
    if (n->children.empty()) {
      out += " />";
      return;
    }
    out += '>';
  }
  for (AsObject* c : n->children) Write(vm, c, out, depth + 1);
  if (tag) out += "</" + n->name + '>';
}

// ---- parsing

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Parser {
  Avm1& vm;
  const std::string& s;
  bool ignoreWhite;
  AsObject* idMap;  // elements by their id attribute
  std::string xmlDecl, docType;
  std::size_t i = 0, nodes = 0;

  void AddText(AsObject* parent, const std::string& raw, bool cdata) {
    if (raw.empty()) return;
    if (ignoreWhite && std::all_of(raw.begin(), raw.end(), Space)) return;
    if (++nodes > kMaxNodes) return;
    Insert(vm, parent, NewNode(vm, kText, cdata ? raw : Unescaped(raw)), nullptr);
  }

  // Reads the document into `root`; the status.
  int Run(AsObject* root) {
    std::vector<AsObject*> open{root};
    while (i < s.size()) {
      const auto lt = s.find('<', i);
      AddText(open.back(), s.substr(i, lt == std::string::npos ? std::string::npos : lt - i), false);
      if (lt == std::string::npos) break;
      i = lt;
      if (s.compare(i, 4, "<!--") == 0) {
        const auto end = s.find("-->", i + 4);
        if (end == std::string::npos) return kCommentOpen;
        i = end + 3;
      } else if (s.compare(i, 9, "<![CDATA[") == 0) {
        const auto end = s.find("]]>", i + 9);
        if (end == std::string::npos) return kCdataOpen;
        if (++nodes <= kMaxNodes) Insert(vm, open.back(), NewNode(vm, kText, s.substr(i + 9, end - i - 9)), nullptr);
        i = end + 3;
      } else if (s.compare(i, 2, "<?") == 0) {
        const auto end = s.find("?>", i + 2);
        if (end == std::string::npos) return kDeclarationOpen;
        xmlDecl += s.substr(i, end + 2 - i);
        i = end + 2;
      } else if (s.compare(i, 2, "<!") == 0) {
        const auto end = s.find('>', i + 2);
        if (end == std::string::npos) return kDoctypeOpen;
        docType += s.substr(i, end + 1 - i);
        i = end + 1;
      } else if (s.compare(i, 2, "</") == 0) {
        const auto end = s.find('>', i + 2);
        if (end == std::string::npos) return kBadElement;
        std::string name = s.substr(i + 2, end - i - 2);
        while (!name.empty() && Space(name.back())) name.pop_back();
        XmlNode* top = NodeOf(open.back());
        if (open.size() == 1 || !top || top->name != name) return open.size() == 1 ? kUnmatchedEnd : kUnclosedElement;
        open.pop_back();
        i = end + 1;
      } else {
        const int r = Element(open);
        if (r != kOk) return r;
      }
    }
    return open.size() == 1 ? kOk : kUnclosedElement;
  }

  int Element(std::vector<AsObject*>& open) {
    std::size_t k = i + 1;
    while (k < s.size() && !Space(s[k]) && s[k] != '>' && s[k] != '/') ++k;
    const std::string name = s.substr(i + 1, k - i - 1);
    if (name.empty()) return kBadElement;
    if (++nodes > kMaxNodes) return kBadElement;
    AsObject* el = NewNode(vm, kElement, name);
    XmlNode* n = NodeOf(el);
    std::vector<std::pair<std::string, std::string>> attrs;
    while (true) {
      while (k < s.size() && Space(s[k])) ++k;
      if (k >= s.size()) return kBadElement;
      if (s[k] == '>' || s.compare(k, 2, "/>") == 0) break;
      const std::size_t ns = k;
      while (k < s.size() && !Space(s[k]) && s[k] != '=' && s[k] != '>') ++k;
      const std::string attr = s.substr(ns, k - ns);
      while (k < s.size() && Space(s[k])) ++k;
      if (attr.empty() || k >= s.size() || s[k] != '=') return kBadElement;
      ++k;
      while (k < s.size() && Space(s[k])) ++k;
      if (k >= s.size() || (s[k] != '"' && s[k] != '\'')) return kBadElement;
      const char q = s[k];
      const auto end = s.find(q, k + 1);
      if (end == std::string::npos) return kAttributeOpen;
      // A repeated attribute keeps its first value.
      if (std::none_of(attrs.begin(), attrs.end(), [&](const auto& x) { return x.first == attr; })) {
        attrs.emplace_back(attr, Unescaped(s.substr(k + 1, end - k - 1)));
      }
      k = end + 1;
    }
    for (auto it = attrs.rbegin(); it != attrs.rend(); ++it) vm.SetProp(n->attributes, it->first, AsValue::String(it->second));
    for (const auto& [attr, value] : attrs) {
      if (attr == "id" && idMap) vm.SetProp(idMap, value, AsValue::Object(el));
    }
    Insert(vm, open.back(), el, nullptr);
    if (s[k] == '/') {
      i = k + 2;
    } else {
      i = k + 1;
      if (open.size() > kMaxDepth) return kBadElement;
      open.push_back(el);
    }
    return kOk;
  }
};

// ---- script methods

AsValue NodeCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o || o->native) return {};
  const int type = ToInt32(Num(vm, a, 0)) == kText ? kText : kElement;
  MakeNode(vm, o, type, Str(vm, a, 1));
  return self;
}

// Replaces the document's children by the parse of `text`.
void ParseInto(Avm1& vm, AsObject* doc, const std::string& text) {
  XmlNode* n = NodeOf(doc);
  if (!n) return;
  while (!n->children.empty()) Detach(vm, n->children.back());
  // A document costs about its text again in nodes; a frame may make only so much.
  if (!vm.Charge(text.size() * 4)) return;
  const AsValue idMap = vm.Get(AsValue::Object(doc), "idMap");
  Parser p{vm, text, vm.ToBool(vm.Get(AsValue::Object(doc), "ignoreWhite")),
           idMap.type == AsValue::Type::kObject ? idMap.obj : nullptr, {}, {}};
  const int status = p.Run(doc);
  vm.SetProp(doc, "status", AsValue::Number(status));
  vm.SetProp(doc, "xmlDecl", p.xmlDecl.empty() ? AsValue{} : AsValue::String(p.xmlDecl));
  vm.SetProp(doc, "docTypeDecl", p.docType.empty() ? AsValue{} : AsValue::String(p.docType));
}

AsValue XmlCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o || o->native) return {};
  XmlNode& n = MakeNode(vm, o, kElement, "");
  n.document = true;
  o->className = "XML";
  vm.SetProp(o, "status", AsValue::Number(kOk));
  vm.SetProp(o, "loaded", AsValue{});
  vm.SetProp(o, "idMap", AsValue::Object(vm.NewObject()));
  if (!a.empty() && !a[0].IsNullish()) ParseInto(vm, o, Str(vm, a, 0));
  return self;
}

AsValue ParseXml(Avm1& vm, const AsValue& self, AsArgs a) {
  if (AsObject* o = Self(self); o && NodeOf(o)) ParseInto(vm, o, Str(vm, a, 0));
  return {};
}

AsValue CreateElement(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Object(NewNode(vm, kElement, Str(vm, a, 0))); }
AsValue CreateTextNode(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Object(NewNode(vm, kText, Str(vm, a, 0))); }

AsValue AppendChild(Avm1& vm, const AsValue& self, AsArgs a) {
  Insert(vm, Self(self), Self(Arg(a, 0)), nullptr);
  return {};
}

AsValue InsertBefore(Avm1& vm, const AsValue& self, AsArgs a) {
  Insert(vm, Self(self), Self(Arg(a, 0)), Self(Arg(a, 1)));
  return {};
}

AsValue RemoveNode(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self)) Detach(vm, o);
  return {};
}

AsObject* Clone(Avm1& vm, AsObject* o, bool deep, int depth) {
  XmlNode* n = NodeOf(o);
  AsObject* copy = vm.NewObject(o->proto);
  XmlNode& c = MakeNode(vm, copy, n->type, n->type == kText ? n->value : n->name);
  c.document = n->document;
  copy->className = o->className;
  const auto attrs = Attributes(*n);
  for (auto it = attrs.rbegin(); it != attrs.rend(); ++it) vm.SetProp(c.attributes, (*it)->name, (*it)->value);
  if (deep && depth < kMaxDepth) {
    for (AsObject* child : n->children) Insert(vm, copy, Clone(vm, child, true, depth + 1), nullptr);
  }
  return copy;
}

AsValue CloneNode(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!NodeOf(o)) return {};
  return AsValue::Object(Clone(vm, o, vm.ToBool(Arg(a, 0)), 0));
}

AsValue HasChildNodes(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return AsValue::Bool(n && !n->children.empty());
}

AsValue NodeToString(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  XmlNode* n = NodeOf(o);
  if (!n) return AsValue::String("[object Object]");
  std::string out;
  if (n->document) {
    const AsValue decl = vm.Get(self, "xmlDecl"), doctype = vm.Get(self, "docTypeDecl");
    if (!decl.IsNullish()) out += vm.ToString(decl);
    if (!doctype.IsNullish()) out += vm.ToString(doctype);
  }
  Write(vm, o, out, 0);
  return AsValue::String(out);
}

// Properties read through the node.
AsValue Sibling(Avm1&, const AsValue& self, int step) {
  XmlNode* n = NodeOf(self);
  XmlNode* p = n ? NodeOf(n->parent) : nullptr;
  if (!p) return AsValue::Null();
  auto it = std::find(p->children.begin(), p->children.end(), Self(self));
  if (it == p->children.end()) return AsValue::Null();
  const auto i = (it - p->children.begin()) + step;
  if (i < 0 || i >= static_cast<std::ptrdiff_t>(p->children.size())) return AsValue::Null();
  return AsValue::Object(p->children[static_cast<std::size_t>(i)]);
}

AsValue GetFirstChild(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return n && !n->children.empty() ? AsValue::Object(n->children.front()) : AsValue::Null();
}
AsValue GetLastChild(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return n && !n->children.empty() ? AsValue::Object(n->children.back()) : AsValue::Null();
}
AsValue GetNextSibling(Avm1& vm, const AsValue& self, AsArgs) { return Sibling(vm, self, 1); }
AsValue GetPreviousSibling(Avm1& vm, const AsValue& self, AsArgs) { return Sibling(vm, self, -1); }
AsValue GetParentNode(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return n && n->parent ? AsValue::Object(n->parent) : AsValue::Null();
}
AsValue GetChildNodes(Avm1& vm, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  if (!n) return {};
  SyncChildren(vm, *n);  // scripts may have written into the array
  return AsValue::Object(n->childArray);
}
AsValue GetAttributes(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return n ? AsValue::Object(n->attributes) : AsValue{};
}
AsValue SetAttributes(Avm1&, const AsValue& self, AsArgs a) {
  XmlNode* n = NodeOf(self);
  if (n && Arg(a, 0).type == AsValue::Type::kObject) n->attributes = a[0].obj;
  return {};
}
AsValue GetNodeType(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  return n ? AsValue::Number(n->type) : AsValue{};
}
AsValue GetNodeName(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  if (!n || n->type != kElement || (n->document && n->name.empty())) return AsValue::Null();
  return AsValue::String(n->name);
}
AsValue SetNodeName(Avm1& vm, const AsValue& self, AsArgs a) {
  // Writing undefined or null leaves the name.
  if (XmlNode* n = NodeOf(self); n && n->type == kElement && !Arg(a, 0).IsNullish()) n->name = Str(vm, a, 0);
  return {};
}
AsValue GetNodeValue(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  if (!n || n->type != kText) return AsValue::Null();
  return AsValue::String(n->value);
}
AsValue SetNodeValue(Avm1& vm, const AsValue& self, AsArgs a) {
  if (XmlNode* n = NodeOf(self); n && n->type == kText) n->value = Str(vm, a, 0);
  return {};
}
AsValue GetLocalName(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  if (!n || n->type != kElement || n->name.empty()) return AsValue::Null();
  const auto colon = n->name.find(':');
  return AsValue::String(colon == std::string::npos ? n->name : n->name.substr(colon + 1));
}
AsValue GetPrefix(Avm1&, const AsValue& self, AsArgs) {
  XmlNode* n = NodeOf(self);
  if (!n || n->type != kElement || n->name.empty()) return AsValue::Null();
  const auto colon = n->name.find(':');
  return AsValue::String(colon == std::string::npos ? "" : n->name.substr(0, colon));
}

// Namespace declarations: every attribute whose name starts with "xmlns"
// declares one; the prefix is what follows "xmlns:" (none otherwise, so
// "xmlnsabc" declares the default namespace). The node's own declarations
// come first, in enumeration order, then its ancestors'.
enum class NsFind { kUri, kPrefix };
AsValue FindNamespace(Avm1& vm, const AsValue& self, NsFind find, const std::string& key) {
  AsObject* o = Self(self);
  for (int depth = 0; o && depth < kMaxDepth * 4; ++depth) {
    XmlNode* n = NodeOf(o);
    if (!n) break;
    if (n->type == kElement) {
      for (const AsProperty* p : Attributes(*n)) {
        if (p->name.compare(0, 5, "xmlns") != 0) continue;
        const std::string prefix = p->name.size() > 5 && p->name[5] == ':' ? p->name.substr(6) : "";
        const std::string uri = vm.ToString(p->value);
        if (find == NsFind::kUri && prefix == key) return AsValue::String(uri);
        if (find == NsFind::kPrefix && uri == key) return AsValue::String(prefix);
      }
    }
    o = n->parent;
  }
  return AsValue::Null();
}
AsValue GetNamespaceForPrefix(Avm1& vm, const AsValue& self, AsArgs a) {
  return FindNamespace(vm, self, NsFind::kUri, Str(vm, a, 0));
}
AsValue GetPrefixForNamespace(Avm1& vm, const AsValue& self, AsArgs a) {
  return FindNamespace(vm, self, NsFind::kPrefix, Str(vm, a, 0));
}
AsValue GetNamespaceUri(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue prefix = GetPrefix(vm, self, a);
  if (prefix.type != AsValue::Type::kString) return AsValue::Null();
  return FindNamespace(vm, self, NsFind::kUri, vm.ToString(prefix));
}

}  // namespace

void InstallXml(Avm1& vm) {
  AsObject* nodeProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(vm.Global(), "XMLNode", NodeCtor, nodeProto);
  const std::pair<const char*, AsNative> methods[] = {
      {"appendChild", AppendChild}, {"insertBefore", InsertBefore},   {"removeNode", RemoveNode},
      {"cloneNode", CloneNode},     {"hasChildNodes", HasChildNodes}, {"toString", NodeToString},
      {"getNamespaceForPrefix", GetNamespaceForPrefix}, {"getPrefixForNamespace", GetPrefixForNamespace}};
  for (auto& [n, f] : methods) vm.NewFunction(n, f, nodeProto);
  vm.AddAccessor(nodeProto, "firstChild", GetFirstChild, nullptr);
  vm.AddAccessor(nodeProto, "lastChild", GetLastChild, nullptr);
  vm.AddAccessor(nodeProto, "nextSibling", GetNextSibling, nullptr);
  vm.AddAccessor(nodeProto, "previousSibling", GetPreviousSibling, nullptr);
  vm.AddAccessor(nodeProto, "parentNode", GetParentNode, nullptr);
  vm.AddAccessor(nodeProto, "childNodes", GetChildNodes, nullptr);
  vm.AddAccessor(nodeProto, "attributes", GetAttributes, SetAttributes);
  vm.AddAccessor(nodeProto, "nodeType", GetNodeType, nullptr);
  vm.AddAccessor(nodeProto, "nodeName", GetNodeName, SetNodeName);
  vm.AddAccessor(nodeProto, "nodeValue", GetNodeValue, SetNodeValue);
  vm.AddAccessor(nodeProto, "localName", GetLocalName, nullptr);
  vm.AddAccessor(nodeProto, "prefix", GetPrefix, nullptr);
  vm.AddAccessor(nodeProto, "namespaceURI", GetNamespaceUri, nullptr);

  AsObject* xmlProto = vm.NewRootObject(nodeProto);
  vm.NewClass(vm.Global(), "XML", XmlCtor, xmlProto);
  vm.NewFunction("createElement", CreateElement, xmlProto);
  vm.NewFunction("createTextNode", CreateTextNode, xmlProto);
  vm.NewFunction("parseXML", ParseXml, xmlProto);
  vm.SetProp(xmlProto, "contentType", AsValue::String("application/x-www-form-urlencoded"), true);
  vm.SetProp(xmlProto, "ignoreWhite", AsValue::Bool(false), true);
}

}  // namespace quarvel::player::avm1_builtins
