// ActionScript 3's XML and XMLList (E4X): the node tree (elements, text,
// comments, processing instructions, attributes, each with its parent),
// names with namespaces, the reads, writes and deletes the machine sends
// here, equality and +, the global settings, and the methods.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "player/avm2/builtins_util.h"
#include "player/avm2/machine.h"
#include "player/avm2/xml_parser.h"

namespace quarvel::avm2 {
namespace {

using xml::NodeKind;

struct XmlNs {
  std::string prefix;  // "" is the default namespace
  std::string uri;
  bool operator==(const XmlNs&) const = default;
};

struct XmlObject : Object {
  XmlObject() : Object(ObjectKind::kXml) {}
  bool list = false;
  NodeKind kind = NodeKind::kText;
  bool cdata = false;
  std::string uri, local, prefix;  // elements, attributes; local only for processing instructions
  std::string text;
  XmlObject* parent = nullptr;
  std::vector<XmlObject*> attrs;
  std::vector<XmlObject*> kids;  // an element's children, or a list's items
  std::vector<XmlNs> decls;
  // A list made by a read remembers where from, so writes through it land.
  XmlObject* target = nullptr;
  std::string targetLocal;
  bool targetAttribute = false;

  bool IsElement() const { return !list && kind == NodeKind::kElement; }
  void Trace(Heap& h) override {
    Object::Trace(h);
    h.Mark(parent);
    h.Mark(target);
    for (auto* c : attrs) h.Mark(c);
    for (auto* c : kids) h.Mark(c);
  }
  std::size_t Bytes() const override {
    return sizeof(XmlObject) + text.size() + (attrs.size() + kids.size()) * sizeof(void*);
  }
};

// ---- making nodes

XmlObject* NewNode(Machine& m, NodeKind kind) {
  auto* x = static_cast<XmlObject*>(m.Instantiate(m.FindClass("XML")));
  x->kind = kind;
  return x;
}
XmlObject* NewList(Machine& m, XmlObject* target = nullptr, std::string targetLocal = {}, bool attribute = false) {
  auto* x = static_cast<XmlObject*>(m.Instantiate(m.FindClass("XMLList")));
  x->list = true;
  x->target = target;
  x->targetLocal = std::move(targetLocal);
  x->targetAttribute = attribute;
  return x;
}
XmlObject* AsXml(const Value& v) {
  Object* o = v.AsObject();
  return o && o->kind == ObjectKind::kXml ? static_cast<XmlObject*>(o) : nullptr;
}
std::vector<XmlObject*> Items(XmlObject* x) { return x->list ? x->kids : std::vector<XmlObject*>{x}; }

XmlObject* DeepCopy(Machine& m, const XmlObject* x, XmlObject* parent) {
  if (x->list) {
    XmlObject* l = NewList(m, x->target, x->targetLocal, x->targetAttribute);
    for (const XmlObject* i : x->kids) l->kids.push_back(DeepCopy(m, i, nullptr));
    return l;
  }
  XmlObject* c = NewNode(m, x->kind);
  c->cdata = x->cdata;
  c->uri = x->uri;
  c->local = x->local;
  c->prefix = x->prefix;
  c->text = x->text;
  c->decls = x->decls;
  c->parent = parent;
  for (const XmlObject* a : x->attrs) c->attrs.push_back(DeepCopy(m, a, c));
  for (const XmlObject* k : x->kids) c->kids.push_back(DeepCopy(m, k, c));
  return c;
}

// The namespaces in scope at x: its own first, then each ancestor's, the
// nearest declaration of a prefix winning.
std::vector<XmlNs> InScope(const XmlObject* x) {
  std::vector<XmlNs> out;
  for (const XmlObject* p = x; p; p = p->parent)
    for (const XmlNs& ns : p->decls)
      if (std::none_of(out.begin(), out.end(), [&](const XmlNs& o) { return o.prefix == ns.prefix; })) out.push_back(ns);
  return out;
}

Machine::XmlSettings& Settings(Machine& m) { return m.xmlSettings; }

[[noreturn]] void ParseFailed(Machine& m, const xml::XmlSyntaxError& e) {
  m.ThrowError("TypeError", e.what(), e.Code());
}

void SplitName(const std::string& written, std::string& prefix, std::string& local) {
  const auto colon = written.find(':');
  if (colon == std::string::npos) {
    prefix.clear();
    local = written;
  } else {
    prefix = written.substr(0, colon);
    local = written.substr(colon + 1);
  }
}

XmlObject* FromParsed(Machine& m, const xml::ParsedNode& p, XmlObject* parent, int depth = 0) {
  XmlObject* x = NewNode(m, p.kind);
  x->parent = parent;
  x->cdata = p.cdata;
  x->text = p.text;
  if (p.kind == NodeKind::kProcessingInstruction) x->local = p.name;
  if (p.kind != NodeKind::kElement) return x;
  for (const auto& [prefix, uri] : p.namespaces) x->decls.push_back({prefix, uri});
  const auto scope = InScope(x);
  auto resolve = [&](const std::string& prefix, bool element) -> std::string {
    for (const XmlNs& ns : scope)
      if (ns.prefix == prefix) return ns.uri;
    if (prefix.empty()) return element ? m.xmlDefaultNs : std::string();
    if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
    m.ThrowError("ReferenceError", "The prefix \"" + prefix + "\" for element \"" + p.name + "\" is not bound.", 1083);
  };
  SplitName(p.name, x->prefix, x->local);
  x->uri = resolve(x->prefix, true);
  for (const auto& [name, value] : p.attributes) {
    XmlObject* a = NewNode(m, NodeKind::kAttribute);
    a->parent = x;
    SplitName(name, a->prefix, a->local);
    a->uri = a->prefix.empty() ? std::string() : resolve(a->prefix, false);
    a->text = value;
    x->attrs.push_back(a);
  }
  for (const auto& c : p.children) x->kids.push_back(FromParsed(m, c, x, depth + 1));
  return x;
}

std::vector<xml::ParsedNode> ParseText(Machine& m, const std::string& text) {
  const auto& s = Settings(m);
  xml::ParseOptions o{.ignoreComments = s.ignoreComments, .ignoreProcessingInstructions = s.ignoreProcessingInstructions,
                      .ignoreWhitespace = s.ignoreWhitespace};
  try {
    return xml::ParseFragment(text, o);
  } catch (const xml::XmlSyntaxError& e) {
    ParseFailed(m, e);
  }
}

// ---- text forms

std::string EscapeText(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}
std::string EscapeAttribute(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '"') out += "&quot;";
    else if (c == '\n') out += "&#xA;";
    else if (c == '\r') out += "&#xD;";
    else if (c == '\t') out += "&#x9;";
    else out += c;
  }
  return out;
}

bool HasSimpleContent(const XmlObject* x) {
  if (x->list) {
    if (x->kids.size() == 1) return HasSimpleContent(x->kids[0]);
    return std::none_of(x->kids.begin(), x->kids.end(), [](const XmlObject* i) { return i->kind == NodeKind::kElement; });
  }
  if (x->kind == NodeKind::kComment || x->kind == NodeKind::kProcessingInstruction) return false;
  return std::none_of(x->kids.begin(), x->kids.end(), [](const XmlObject* k) { return k->kind == NodeKind::kElement; });
}

std::string Prefixed(const std::string& prefix, const std::string& local) {
  return prefix.empty() ? local : prefix + ":" + local;
}

// The prefix that names `uri` in scope, preferring `wanted`; false when none does.
bool FindPrefix(const std::vector<XmlNs>& scope, const std::string& uri, const std::string& wanted, bool allowDefault,
                std::string& out) {
  for (const XmlNs& ns : scope)
    if (ns.uri == uri && ns.prefix == wanted && (allowDefault || !ns.prefix.empty())) {
      out = ns.prefix;
      return true;
    }
  for (const XmlNs& ns : scope)
    if (ns.uri == uri && (allowDefault || !ns.prefix.empty())) {
      // A prefix shadowed by a nearer declaration no longer names this URI.
      const auto first = std::find_if(scope.begin(), scope.end(), [&](const XmlNs& o) { return o.prefix == ns.prefix; });
      if (first->uri != uri) continue;
      out = ns.prefix;
      return true;
    }
  return false;
}

std::string XmlString(Machine& m, const XmlObject* x, const std::vector<XmlNs>& ancestors, int indent);

std::string ListXmlString(Machine& m, const XmlObject* x) {
  std::string out;
  for (std::size_t i = 0; i < x->kids.size(); ++i) {
    if (i) out += '\n';
    out += XmlString(m, x->kids[i], {}, 0);
  }
  return out;
}

std::string XmlString(Machine& m, const XmlObject* x, const std::vector<XmlNs>& ancestors, int indent) {
  if (x->list) return ListXmlString(m, x);
  const auto& set = Settings(m);
  const bool pretty = set.prettyPrinting;
  std::string out = pretty ? std::string(static_cast<std::size_t>(std::max(0, indent)), ' ') : std::string();
  switch (x->kind) {
    case NodeKind::kText:
      if (x->cdata) return out + "<![CDATA[" + x->text + "]]>";
      return out + EscapeText(pretty ? xml::TrimXmlSpace(x->text) : std::string_view(x->text));
    case NodeKind::kAttribute: return out + EscapeAttribute(x->text);
    case NodeKind::kComment: return out + "<!--" + x->text + "-->";
    case NodeKind::kProcessingInstruction:
      return out + "<?" + x->local + (x->text.empty() ? "" : " " + x->text) + "?>";
    case NodeKind::kElement: break;
  }
  // Declarations in scope here that the enclosing output has not made.
  std::vector<XmlNs> fresh;
  for (const XmlNs& ns : InScope(x)) {
    const bool known = std::any_of(ancestors.begin(), ancestors.end(), [&](const XmlNs& a) { return a == ns; });
    if (!known) fresh.push_back(ns);
  }
  std::vector<XmlNs> scope = fresh;
  scope.insert(scope.end(), ancestors.begin(), ancestors.end());
  std::string prefix;
  if (!FindPrefix(scope, x->uri, x->prefix, true, prefix)) {
    // Flash writes no xmlns="" for a name in no namespace under a default one.
    if (x->uri.empty()) {
      prefix.clear();
    } else {
      prefix = x->prefix;
      fresh.push_back({prefix, x->uri});
      scope.insert(scope.begin(), XmlNs{prefix, x->uri});
    }
  }
  const std::string name = Prefixed(prefix, x->local);
  out += "<" + name;
  for (const XmlObject* a : x->attrs) {
    std::string ap;
    if (!a->uri.empty() && !FindPrefix(scope, a->uri, a->prefix, false, ap)) {
      ap = a->prefix;  // Flash declares even an attribute's unprefixed namespace as the default
      fresh.push_back({ap, a->uri});
      scope.insert(scope.begin(), XmlNs{ap, a->uri});
    }
    out += " " + Prefixed(ap, a->local) + "=\"" + EscapeAttribute(a->text) + "\"";
  }
  for (const XmlNs& ns : fresh)
    out += (ns.prefix.empty() ? std::string(" xmlns") : " xmlns:" + ns.prefix) + "=\"" + EscapeAttribute(ns.uri) + "\"";
  std::vector<const XmlObject*> kids;
  for (const XmlObject* k : x->kids)
    if (!(pretty && k->kind == NodeKind::kText && !k->cdata && xml::IsAllXmlSpace(k->text) && x->kids.size() > 1))
      kids.push_back(k);
  if (kids.empty()) return out + "/>";
  out += ">";
  const bool indentKids = kids.size() > 1 || kids[0]->kind != NodeKind::kText;
  const int next = pretty && indentKids ? indent + set.prettyIndent : 0;
  for (const XmlObject* k : kids) {
    if (pretty && indentKids) out += '\n';
    out += XmlString(m, k, scope, next);
  }
  if (pretty && indentKids) out += "\n" + std::string(static_cast<std::size_t>(std::max(0, indent)), ' ');
  return out + "</" + name + ">";
}
std::string XmlString(Machine& m, const XmlObject* x) { return XmlString(m, x, {}, 0); }

std::string StringValue(Machine& m, const XmlObject* x) {
  if (x->list) {
    if (!HasSimpleContent(x)) return ListXmlString(m, x);
    std::string out;
    for (const XmlObject* i : x->kids)
      if (i->kind != NodeKind::kComment && i->kind != NodeKind::kProcessingInstruction) out += StringValue(m, i);
    return out;
  }
  switch (x->kind) {
    case NodeKind::kText:
    case NodeKind::kAttribute: return x->text;
    case NodeKind::kComment:
    case NodeKind::kProcessingInstruction: return XmlString(m, x);
    case NodeKind::kElement: break;
  }
  if (!HasSimpleContent(x)) return XmlString(m, x);
  std::string out;
  for (const XmlObject* k : x->kids)
    if (k->kind == NodeKind::kText) out += k->text;
  return out;
}

// ---- converting values

XmlObject* TextNode(Machine& m, std::string s) {
  XmlObject* t = NewNode(m, NodeKind::kText);
  t->text = std::move(s);
  return t;
}

// What XML(value) and new XML(value) make of a value other than XML.
XmlObject* XmlFromText(Machine& m, const std::string& text) {
  auto nodes = ParseText(m, text);
  const xml::ParsedNode* chosen = nullptr;
  if (nodes.size() == 1) {
    chosen = &nodes[0];
  } else if (!nodes.empty()) {
    // Top-level text, comments and instructions beside one root element drop away.
    for (const auto& n : nodes) {
      if (n.kind != NodeKind::kElement) continue;
      if (chosen) chosen = nullptr, nodes.clear();
      else chosen = &n;
      if (nodes.empty()) break;
    }
    if (!chosen)
      m.ThrowError("TypeError", "The markup in the document following the root element must be well-formed.", 1088);
  }
  if (!chosen) return TextNode(m, "");
  XmlObject* x = FromParsed(m, *chosen, nullptr);
  if (x->kind == NodeKind::kText && !x->cdata) x->text = std::string(xml::TrimXmlSpace(x->text));
  return x;
}

XmlObject* ToXml(Machine& m, const Value& v) {
  if (XmlObject* x = AsXml(v)) {
    if (!x->list) return x;
    if (x->kids.size() == 1) return x->kids[0];
    m.ThrowError("TypeError", "The markup in the document following the root element must be well-formed.", 1088);
  }
  if (v.IsNullish()) m.ThrowError("TypeError", "The markup in the document following the root element must be well-formed.", 1088);
  return XmlFromText(m, m.ToString(v));
}

XmlObject* ToXmlList(Machine& m, const Value& v) {
  if (XmlObject* x = AsXml(v)) {
    if (x->list) return x;
    XmlObject* l = NewList(m);
    l->kids.push_back(x);
    return l;
  }
  XmlObject* l = NewList(m);
  if (v.IsNullish()) return l;
  for (const auto& n : ParseText(m, m.ToString(v))) l->kids.push_back(FromParsed(m, n, nullptr));
  return l;
}

// ---- names

// A name an E4X read matches: a local name or any, and the URIs it may be
// in or any.
struct Query {
  bool anyLocal = true;
  std::string local;
  bool anyUri = true;
  std::vector<std::string> uris;
  bool attribute = false;
  bool elementsOnly = false;  // *::* reads elements only
  std::string newUri;         // the URI of a node a write creates

  bool Matches(const XmlObject* n) const {
    if (!anyLocal && n->local != local) return false;
    if (!anyUri && std::find(uris.begin(), uris.end(), n->uri) == uris.end()) return false;
    return true;
  }
  // Children: any kind for "*", else elements of the name.
  bool MatchesChild(const XmlObject* n) const {
    if (n->kind != NodeKind::kElement) return anyLocal && !elementsOnly;
    return Matches(n);
  }
};

// A name given as text: in the default namespace (no namespace for an
// attribute) unless it is "*".
Query FromText(Machine& m, std::string s) {
  Query q;
  if (!s.empty() && s[0] == '@') {
    q.attribute = true;
    s.erase(0, 1);
  }
  if (s != "*") {
    q.anyLocal = false;
    q.local = std::move(s);
    q.anyUri = false;
    q.uris.push_back(q.attribute ? std::string() : m.xmlDefaultNs);
    q.newUri = q.uris[0];
  }
  return q;
}

Query QueryOf(Machine& m, const Name& n) {
  Query q;
  q.attribute = n.attribute;
  // Name 0 of the constant pool (read as "") is any name.
  if (n.local && n.local->text != "*" && !n.local->text.empty()) {
    q.anyLocal = false;
    q.local = n.local->text;
    if (!q.attribute && q.local.size() > 1 && q.local[0] == '@') {
      q.attribute = true;
      q.local.erase(0, 1);
      q.anyLocal = q.local == "*";
    }
  }
  // Unqualified names are in the default namespace (none, for attributes).
  q.anyUri = q.anyLocal;
  bool publicSeen = false;
  for (NsId ns : n.Nss()) {
    const std::string& uri = m.NsUri(ns);
    if (uri == "*") {
      q.anyUri = true;
      q.elementsOnly = q.anyLocal;
      continue;
    }
    // Private, internal and protected namespaces name no XML namespace: they
    // stand for the default one, as the public namespace does.
    const bool isPublic = !m.IsPublicNs(ns) || uri.empty();
    q.uris.push_back(isPublic ? (q.attribute ? std::string() : m.xmlDefaultNs) : uri);
    if (isPublic && !publicSeen) {
      publicSeen = true;
      q.newUri = q.uris.back();
    }
  }
  if (!publicSeen && !q.uris.empty()) q.newUri = q.uris[0];
  return q;
}

// A method's name argument: a QName, "@name", "*", or a name.
Query QueryOfValue(Machine& m, const Value& v, bool attribute) {
  Value uri, local;
  Query q;
  if (v.IsObject() && QNameParts(m, v, uri, local)) {
    q = FromText(m, local.IsNullish() ? "*" : m.ToString(local));
    q.anyUri = uri.IsNull();
    q.uris.assign(1, uri.IsNull() ? std::string() : m.ToString(uri));
    q.newUri = q.uris[0];
  } else {
    q = FromText(m, v.IsUndefined() ? "*" : m.ToString(v));
  }
  if (attribute) q.attribute = true;
  return q;
}

Value MakeQName(Machine& m, const XmlObject* x) {
  std::vector<Value> args{m.Str(x->uri), m.Str(x->local)};
  const Value q = Value::Obj(m.Construct(m.FindClass("QName"), args));
  if (x->kind == NodeKind::kAttribute) MarkQNameAttribute(m, q);
  return q;
}
Value MakeNamespace(Machine& m, const XmlNs& ns) {
  std::vector<Value> args{m.Str(ns.prefix), m.Str(ns.uri)};
  return Value::Obj(m.Construct(m.namespaceClass, args));
}
// A Namespace value's prefix (false when it has none) and URI.
bool NamespaceParts(Machine& m, const Value& v, std::string& prefix, std::string& uri) {
  Object* o = v.AsObject();
  if (o && o->kind == ObjectKind::kNamespace) {
    Value* u = o->FindDyn("uri");
    Value* p = o->FindDyn("prefix");
    uri = u ? m.ToString(*u) : "";
    prefix = p && !p->IsUndefined() ? m.ToString(*p) : "";
    return p && !p->IsUndefined();
  }
  Value qu, ql;
  if (o && QNameParts(m, v, qu, ql)) {
    uri = qu.IsNull() ? "" : m.ToString(qu);
    prefix.clear();
    return false;
  }
  uri = m.ToString(v);
  prefix.clear();
  return false;
}

// ---- reads

Value Get(Machine& m, Object* o, const Name& n) {
  auto* x = static_cast<XmlObject*>(o);
  if (n.hasIndex) {
    if (x->list) return n.index < x->kids.size() ? Value::Obj(x->kids[n.index]) : Value();
    return n.index == 0 ? Value::Obj(x) : Value();
  }
  const Query q = QueryOf(m, n);
  XmlObject* out = NewList(m, x->list ? x->target : x, q.anyLocal ? "*" : q.local, q.attribute);
  for (XmlObject* item : Items(x)) {
    if (item->kind != NodeKind::kElement) continue;
    if (q.attribute) {
      for (XmlObject* a : item->attrs)
        if (q.Matches(a)) out->kids.push_back(a);
    } else {
      for (XmlObject* c : item->kids)
        if (q.MatchesChild(c)) out->kids.push_back(c);
    }
  }
  return Value::Obj(out);
}

void Descend(const XmlObject* item, const Query& q, XmlObject* out, int depth) {
  if (depth > 1024) return;
  for (XmlObject* c : item->kids) {
    if (c->kind != NodeKind::kElement && (q.attribute || !(q.anyLocal && q.anyUri))) continue;
    if (q.attribute) {
      for (XmlObject* a : c->attrs)
        if (q.Matches(a)) out->kids.push_back(a);
    } else if (q.MatchesChild(c)) {
      out->kids.push_back(c);
    }
    Descend(c, q, out, depth + 1);
  }
}
XmlObject* Descendants(Machine& m, XmlObject* x, const Query& q) {
  XmlObject* out = NewList(m);
  for (XmlObject* item : Items(x)) {
    if (item->kind != NodeKind::kElement) continue;
    if (q.attribute)
      for (XmlObject* a : item->attrs)
        if (q.Matches(a)) out->kids.push_back(a);
    Descend(item, q, out, 0);
  }
  return out;
}
Value DescendantsHook(Machine& m, Object* o, const Name& n) {
  return Value::Obj(Descendants(m, static_cast<XmlObject*>(o), QueryOf(m, n)));
}

bool ItemHook(Machine&, Object* o, std::uint32_t index, Value& out) {
  auto* x = static_cast<XmlObject*>(o);
  if (!x->list) {
    if (index != 0) return false;
    out = Value::Obj(x);
    return true;
  }
  if (index >= x->kids.size()) return false;
  out = Value::Obj(x->kids[index]);
  return true;
}

bool HasHook(Machine& m, Object* o, const Name& n) {
  auto* x = static_cast<XmlObject*>(o);
  if (n.hasIndex) return x->list ? n.index < x->kids.size() : n.index == 0;
  const Query q = QueryOf(m, n);
  for (XmlObject* item : Items(x)) {
    if (item->kind != NodeKind::kElement) continue;
    for (XmlObject* c : q.attribute ? item->attrs : item->kids)
      if (q.attribute ? q.Matches(c) : q.MatchesChild(c)) return true;
  }
  return false;
}

// ---- writes

void CheckCycle(Machine& m, const XmlObject* parent, const XmlObject* child) {
  for (const XmlObject* p = parent; p; p = p->parent)
    if (p == child) m.ThrowError("TypeError", "Illegal cyclical loop between nodes.", 1118);
}

// The nodes a value becomes as children: XML and lists as they are (a node
// that has a parent elsewhere is copied), anything else as text.
std::vector<XmlObject*> AsChildren(Machine& m, XmlObject* parent, const Value& v) {
  std::vector<XmlObject*> out;
  if (XmlObject* x = AsXml(v)) {
    for (XmlObject* i : Items(x)) {
      if (i->kind == NodeKind::kAttribute) {
        out.push_back(TextNode(m, i->text));
        continue;
      }
      CheckCycle(m, parent, i);
      out.push_back(i);
    }
  } else {
    out.push_back(TextNode(m, m.ToString(v)));
  }
  return out;
}

// Movies of before SWF 21 keep a node inserted elsewhere in its old
// parent too (the newer rule, moving it, is not followed).
void InsertAt(Machine& m, XmlObject* parent, std::size_t at, const Value& v) {
  for (XmlObject* n : AsChildren(m, parent, v)) {
    n->parent = parent;
    at = std::min(at, parent->kids.size());
    parent->kids.insert(parent->kids.begin() + static_cast<std::ptrdiff_t>(at), n);
    ++at;
  }
}

void SetContent(Machine& m, XmlObject* e, const Value& v) {
  for (XmlObject* k : e->kids) k->parent = nullptr;
  e->kids.clear();
  if (XmlObject* x = AsXml(v)) {
    InsertAt(m, e, 0, Value::Obj(x));
    return;
  }
  const std::string s = m.ToString(v);
  if (!s.empty()) {
    XmlObject* t = TextNode(m, s);
    t->parent = e;
    e->kids.push_back(t);
  }
}

std::string AttributeText(Machine& m, const Value& v) {
  XmlObject* x = AsXml(v);
  if (!x || !x->list) return m.ToString(v);
  std::string out;
  for (std::size_t i = 0; i < x->kids.size(); ++i) out += (i ? " " : "") + StringValue(m, x->kids[i]);
  return out;
}

void SetAttribute(Machine& m, XmlObject* e, const Query& q, const Value& v) {
  const std::string text = AttributeText(m, v);
  XmlObject* found = nullptr;
  for (auto it = e->attrs.begin(); it != e->attrs.end();) {
    if (q.Matches(*it)) {
      if (!found) {
        found = *it;
      } else {
        (*it)->parent = nullptr;
        it = e->attrs.erase(it);
        continue;
      }
    }
    ++it;
  }
  if (found) {
    found->text = text;
    return;
  }
  if (q.anyLocal) return;
  XmlObject* a = NewNode(m, NodeKind::kAttribute);
  a->local = q.local;
  a->uri = q.newUri;
  a->text = text;
  a->parent = e;
  e->attrs.push_back(a);
}

// Of the children `q` matches, all but the first are taken out; the first's
// place, or -1.
std::ptrdiff_t KeepFirstMatch(XmlObject* e, const Query& q) {
  std::ptrdiff_t first = -1;
  for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(e->kids.size()) - 1; i >= 0; --i) {
    if (!q.MatchesChild(e->kids[static_cast<std::size_t>(i)])) continue;
    if (first >= 0) {
      e->kids[static_cast<std::size_t>(first)]->parent = nullptr;
      e->kids.erase(e->kids.begin() + first);
    }
    first = i;
  }
  return first;
}

// x.name = v on an element: the first match takes the value (an XML value
// replaces it), the others go; none: a new element at the end.
void SetChild(Machine& m, XmlObject* e, const Query& q, const Value& v) {
  const std::ptrdiff_t first = KeepFirstMatch(e, q);
  XmlObject* value = AsXml(v);
  if (first < 0) {
    if (q.anyLocal) {
      InsertAt(m, e, e->kids.size(), v);
      return;
    }
    XmlObject* c = NewNode(m, NodeKind::kElement);
    c->local = q.local;
    c->uri = q.newUri;
    c->parent = e;
    e->kids.push_back(c);
    if (value && (value->list || value->IsElement())) {
      c->parent = nullptr;
      e->kids.pop_back();
      InsertAt(m, e, e->kids.size(), v);
      return;
    }
    SetContent(m, c, v);
    return;
  }
  XmlObject* old = e->kids[static_cast<std::size_t>(first)];
  if (value && (value->list || value->kind != NodeKind::kAttribute) && !(old->IsElement() && value->kind == NodeKind::kText && !value->list)) {
    old->parent = nullptr;
    e->kids.erase(e->kids.begin() + first);
    InsertAt(m, e, static_cast<std::size_t>(first), v);
    return;
  }
  if (old->IsElement()) SetContent(m, old, value ? m.Str(StringValue(m, value)) : v);
  else old->text = m.ToString(v);
}

bool SetHook(Machine& m, Object* o, const Name& n, const Value& v) {
  auto* x = static_cast<XmlObject*>(o);
  if (x->list) {
    if (n.hasIndex) {
      XmlObject* value = AsXml(v);
      if (n.index < x->kids.size()) {
        XmlObject* item = x->kids[n.index];
        if (item->kind == NodeKind::kAttribute) {
          item->text = AttributeText(m, v);
        } else if (value && !value->list && !item->parent) {
          x->kids[n.index] = value;
        } else if (value && item->parent) {
          XmlObject* parent = item->parent;
          const auto at = static_cast<std::size_t>(std::find(parent->kids.begin(), parent->kids.end(), item) - parent->kids.begin());
          item->parent = nullptr;
          parent->kids.erase(parent->kids.begin() + static_cast<std::ptrdiff_t>(at));
          InsertAt(m, parent, at, v);
          x->kids[n.index] = parent->kids[std::min(at, parent->kids.size() - 1)];
        } else if (value) {
          x->kids[n.index] = value->kids.empty() ? item : value->kids[0];
        } else if (item->IsElement()) {
          SetContent(m, item, v);
        } else {
          item->text = m.ToString(v);
        }
        return true;
      }
      if (x->kids.size() >= (std::size_t{1} << 24)) m.ThrowError("RangeError", "XMLList too long.", 1005);
      XmlObject* t = x->target;
      if (t && t->IsElement() && !x->targetAttribute && !x->targetLocal.empty() && x->targetLocal != "*") {
        // A new element of the list's name, after the list's last item in the target.
        XmlObject* c = NewNode(m, NodeKind::kElement);
        c->local = x->targetLocal;
        c->uri = m.xmlDefaultNs;
        std::size_t at = t->kids.size();
        if (!x->kids.empty() && x->kids.back()->parent == t) {
          at = static_cast<std::size_t>(std::find(t->kids.begin(), t->kids.end(), x->kids.back()) - t->kids.begin()) + 1;
        }
        c->parent = t;
        t->kids.insert(t->kids.begin() + static_cast<std::ptrdiff_t>(std::min(at, t->kids.size())), c);
        SetContent(m, c, v);
        x->kids.push_back(c);
        return true;
      }
      if (value) {
        for (XmlObject* i : Items(value)) x->kids.push_back(i);
      } else {
        x->kids.push_back(TextNode(m, m.ToString(v)));
      }
      return true;
    }
    if (x->kids.size() == 1) return SetHook(m, x->kids[0], n, v);
    if (x->kids.empty() && x->target && x->target->IsElement() && !x->targetLocal.empty() && x->targetLocal != "*") {
      XmlObject* c = NewNode(m, NodeKind::kElement);
      c->local = x->targetLocal;
      c->parent = x->target;
      x->target->kids.push_back(c);
      x->kids.push_back(c);
      return SetHook(m, c, n, v);
    }
    if (x->kids.empty()) return true;
    m.ThrowError("TypeError", "Assignment to lists with more than one item is not supported.", 1089);
  }
  if (n.hasIndex) m.ThrowError("TypeError", "Assignment to indexed XML is not allowed.", 1087);
  if (x->kind != NodeKind::kElement) return true;
  const Query q = QueryOf(m, n);
  if (q.attribute) SetAttribute(m, x, q, v);
  else SetChild(m, x, q, v);
  return true;
}

// ---- deletes

void Detach(XmlObject* child) {
  if (XmlObject* p = child->parent) {
    auto& from = child->kind == NodeKind::kAttribute ? p->attrs : p->kids;
    from.erase(std::remove(from.begin(), from.end(), child), from.end());
  }
  child->parent = nullptr;
}

bool DeleteHook(Machine& m, Object* o, const Name& n) {
  auto* x = static_cast<XmlObject*>(o);
  if (n.hasIndex) {
    if (!x->list) return false;
    if (n.index < x->kids.size()) {
      Detach(x->kids[n.index]);
      x->kids.erase(x->kids.begin() + n.index);
    }
    return true;
  }
  const Query q = QueryOf(m, n);
  for (XmlObject* item : Items(x)) {
    if (item->kind != NodeKind::kElement) continue;
    auto& from = q.attribute ? item->attrs : item->kids;
    for (auto it = from.begin(); it != from.end();) {
      if (q.attribute ? q.Matches(*it) : q.MatchesChild(*it)) {
        (*it)->parent = nullptr;
        it = from.erase(it);
      } else {
        ++it;
      }
    }
  }
  return true;
}

// ---- equality and +

bool SameNode(const XmlObject* a, const XmlObject* b) {
  if (a == b) return true;
  if (a->list || b->list) {
    if (a->list != b->list || a->kids.size() != b->kids.size()) return false;
    for (std::size_t i = 0; i < a->kids.size(); ++i)
      if (!SameNode(a->kids[i], b->kids[i])) return false;
    return true;
  }
  if (a->kind != b->kind || a->local != b->local || a->uri != b->uri || a->text != b->text) return false;
  if (a->attrs.size() != b->attrs.size() || a->kids.size() != b->kids.size()) return false;
  for (const XmlObject* at : a->attrs)
    if (std::none_of(b->attrs.begin(), b->attrs.end(),
                     [&](const XmlObject* bt) { return bt->local == at->local && bt->uri == at->uri && bt->text == at->text; }))
      return false;
  for (std::size_t i = 0; i < a->kids.size(); ++i)
    if (!SameNode(a->kids[i], b->kids[i])) return false;
  return true;
}

// -1: neither side is XML (the machine's rules apply); else the answer.
int EqualsHook(Machine& m, const Value& a, const Value& b) {
  XmlObject* x = AsXml(a);
  XmlObject* y = AsXml(b);
  if (!x && !y) return -1;
  if (!x) return EqualsHook(m, b, a);
  if (x->list) {
    if (b.IsUndefined() && x->kids.empty()) return 1;
    if (y && y->list) {
      // Item by item, by the rules for two XML values.
      if (x->kids.size() != y->kids.size()) return 0;
      for (std::size_t i = 0; i < x->kids.size(); ++i)
        if (EqualsHook(m, Value::Obj(x->kids[i]), Value::Obj(y->kids[i])) != 1) return 0;
      return 1;
    }
    if (x->kids.size() == 1) {
      std::vector<Value> one{Value::Obj(x->kids[0])};
      return EqualsHook(m, one[0], b);
    }
    return 0;
  }
  if (y) {
    if (y->list) {
      return y->kids.size() == 1 ? EqualsHook(m, a, Value::Obj(y->kids[0])) : 0;
    }
    const bool xs = x->kind == NodeKind::kText || x->kind == NodeKind::kAttribute;
    const bool ys = y->kind == NodeKind::kText || y->kind == NodeKind::kAttribute;
    if ((xs && HasSimpleContent(y)) || (ys && HasSimpleContent(x))) return StringValue(m, x) == StringValue(m, y) ? 1 : 0;
    return SameNode(x, y) ? 1 : 0;
  }
  if (b.IsNullish()) return 0;
  // Simple content compares as text, whatever the other side's type.
  if (HasSimpleContent(x)) return StringValue(m, x) == m.ToString(b) ? 1 : 0;
  return m.Equals(m.Str(XmlString(m, x)), b) ? 1 : 0;
}

bool AddHook(Machine& m, const Value& a, const Value& b, Value& out) {
  XmlObject* x = AsXml(a);
  XmlObject* y = AsXml(b);
  if (!x || !y) return false;
  XmlObject* l = NewList(m);
  for (XmlObject* i : Items(x)) l->kids.push_back(i);
  for (XmlObject* i : Items(y)) l->kids.push_back(i);
  out = Value::Obj(l);
  return true;
}

// ---- constructors

Object* AllocXml(Machine& m, Class*) { return m.heap().New<XmlObject>(); }

void Become(XmlObject* x, const XmlObject* from) {
  x->kind = from->kind;
  x->cdata = from->cdata;
  x->uri = from->uri;
  x->local = from->local;
  x->prefix = from->prefix;
  x->text = from->text;
  x->decls = from->decls;
  x->attrs = from->attrs;
  x->kids = from->kids;
  for (XmlObject* c : x->attrs) c->parent = x;
  for (XmlObject* c : x->kids) c->parent = x;
}

NATIVE(XmlCtor) {
  XmlObject* x = AsXml(self);
  if (!x) return self;
  const Value src = m.ArgOr(a, 0);
  if (XmlObject* other = AsXml(src)) {
    XmlObject* one = ToXml(m, src);
    (void)other;
    Become(x, DeepCopy(m, one, nullptr));
    x->decls = InScope(one);
    return self;
  }
  if (src.IsNullish() || a.empty()) {
    x->kind = NodeKind::kText;
    return self;
  }
  Become(x, XmlFromText(m, m.ToString(src)));
  return self;
}
NATIVE(XmlListCtor) {
  XmlObject* x = AsXml(self);
  if (!x) return self;
  x->list = true;
  x->kids = ToXmlList(m, m.ArgOr(a, 0))->kids;
  return self;
}

// ---- methods

XmlObject* Self(Machine& m, const Value& self) {
  XmlObject* x = AsXml(self);
  if (!x) m.ThrowError("TypeError", "Type Coercion failed: cannot convert to XML.", 1034);
  return x;
}
// XML's methods on a list work on its one item.
XmlObject* One(Machine& m, const Value& self, const char* method) {
  XmlObject* x = Self(m, self);
  if (!x->list) return x;
  if (x->kids.size() == 1) return x->kids[0];
  m.ThrowError("TypeError", std::string("The ") + method + " method only works on lists containing one item.", 1086);
}

NATIVE(XmlToString) { return m.Str(StringValue(m, Self(m, self))); }
NATIVE(XmlToXmlString) { return m.Str(XmlString(m, Self(m, self))); }
NATIVE(XmlValueOf) { return self; }
NATIVE(XmlLength) {
  XmlObject* x = Self(m, self);
  return Value::Int(x->list ? static_cast<std::int32_t>(x->kids.size()) : 1);
}
NATIVE(XmlHasSimple) { return Value::Bool(HasSimpleContent(Self(m, self))); }
NATIVE(XmlHasComplex) {
  XmlObject* x = Self(m, self);
  if (x->list) {
    if (x->kids.size() == 1) return Value::Bool(x->kids[0]->IsElement() && !HasSimpleContent(x->kids[0]));
    return Value::Bool(std::any_of(x->kids.begin(), x->kids.end(), [](const XmlObject* i) { return i->kind == NodeKind::kElement; }));
  }
  return Value::Bool(x->kind == NodeKind::kElement && !HasSimpleContent(x));
}

template <typename Pick>
Value Collect(Machine& m, const Value& self, Pick pick) {
  XmlObject* x = Self(m, self);
  XmlObject* out = NewList(m, x->list ? nullptr : x);
  for (XmlObject* item : Items(x))
    if (item->kind == NodeKind::kElement)
      for (XmlObject* c : item->kids)
        if (pick(c)) out->kids.push_back(c);
  return Value::Obj(out);
}

NATIVE(XmlChildren) { return Collect(m, self, [](const XmlObject*) { return true; }); }
NATIVE(XmlText) {
  return Collect(m, self, [](const XmlObject* c) { return c->kind == NodeKind::kText; });
}
NATIVE(XmlComments) {
  return Collect(m, self, [](const XmlObject* c) { return c->kind == NodeKind::kComment; });
}
NATIVE(XmlElements) {
  const Query q = QueryOfValue(m, m.ArgOr(a, 0), false);
  return Collect(m, self, [&](const XmlObject* c) { return c->kind == NodeKind::kElement && q.Matches(c); });
}
NATIVE(XmlProcessingInstructions) {
  const Query q = QueryOfValue(m, m.ArgOr(a, 0), false);
  return Collect(m, self, [&](const XmlObject* c) { return c->kind == NodeKind::kProcessingInstruction && (q.anyLocal || c->local == q.local); });
}
NATIVE(XmlChild) {
  XmlObject* x = Self(m, self);
  const Value key = m.ArgOr(a, 0);
  double index = -1;
  if (key.IsNumber()) index = key.Num();
  else if (key.IsString()) {
    std::uint32_t idx = 0;
    bool digits = !key.s->text.empty() && key.s->text.find_first_not_of("0123456789") == std::string::npos;
    if (digits) {
      idx = static_cast<std::uint32_t>(std::min(4294967295.0, std::stod(key.s->text)));
      index = idx;
    }
  }
  if (index >= 0 || key.IsNumber()) {
    XmlObject* out = NewList(m);
    for (XmlObject* item : Items(x))
      if (item->kind == NodeKind::kElement && index >= 0 && index == std::floor(index) && index < static_cast<double>(item->kids.size()))
        out->kids.push_back(item->kids[static_cast<std::size_t>(index)]);
    return Value::Obj(out);
  }
  const Query q = QueryOfValue(m, key, false);
  XmlObject* out = NewList(m, x->list ? nullptr : x, q.anyLocal ? "*" : q.local, q.attribute);
  for (XmlObject* item : Items(x)) {
    if (item->kind != NodeKind::kElement) continue;
    for (XmlObject* c : q.attribute ? item->attrs : item->kids)
      if (q.attribute ? q.Matches(c) : q.MatchesChild(c)) out->kids.push_back(c);
  }
  return Value::Obj(out);
}
NATIVE(XmlAttribute) {
  XmlObject* x = Self(m, self);
  const Query q = QueryOfValue(m, m.ArgOr(a, 0), true);
  XmlObject* out = NewList(m, x->list ? nullptr : x, q.anyLocal ? "*" : q.local, true);
  for (XmlObject* item : Items(x))
    if (item->kind == NodeKind::kElement)
      for (XmlObject* at : item->attrs)
        if (q.Matches(at)) out->kids.push_back(at);
  return Value::Obj(out);
}
NATIVE(XmlAttributes) {
  XmlObject* x = Self(m, self);
  XmlObject* out = NewList(m, x->list ? nullptr : x, "*", true);
  for (XmlObject* item : Items(x))
    if (item->kind == NodeKind::kElement)
      for (XmlObject* at : item->attrs) out->kids.push_back(at);
  return Value::Obj(out);
}
NATIVE(XmlDescendants) {
  return Value::Obj(Descendants(m, Self(m, self), QueryOfValue(m, m.ArgOr(a, 0), false)));
}
NATIVE(XmlCopy) { return Value::Obj(DeepCopy(m, Self(m, self), nullptr)); }
NATIVE(XmlParent) {
  XmlObject* x = Self(m, self);
  if (x->list) {
    XmlObject* p = nullptr;
    for (XmlObject* i : x->kids) {
      if (!i->parent || (p && i->parent != p)) return Value();
      p = i->parent;
    }
    return p ? Value::Obj(p) : Value();
  }
  return x->parent ? Value::Obj(x->parent) : Value();
}
NATIVE(XmlContains) {
  XmlObject* x = Self(m, self);
  const Value v = m.ArgOr(a, 0);
  if (!x->list) {
    // An element contains only an equal node, never text equal to its own.
    XmlObject* y = AsXml(v);
    return Value::Bool(y && !y->list && SameNode(x, y));
  }
  for (XmlObject* i : x->kids)
    if (EqualsHook(m, Value::Obj(i), v) == 1) return Value::Bool(true);
  return Value::Bool(false);
}
NATIVE(XmlNodeKind) {
  static const char* const kNames[] = {"element", "text", "comment", "processing-instruction", "attribute"};
  return m.Str(kNames[static_cast<int>(One(m, self, "nodeKind")->kind)]);
}
NATIVE(XmlChildIndex) {
  XmlObject* x = One(m, self, "childIndex");
  if (!x->parent || x->kind == NodeKind::kAttribute) return Value::Int(-1);
  const auto& k = x->parent->kids;
  const auto it = std::find(k.begin(), k.end(), x);
  return Value::Int(it == k.end() ? -1 : static_cast<std::int32_t>(it - k.begin()));
}
NATIVE(XmlName) {
  XmlObject* x = One(m, self, "name");
  if (x->kind == NodeKind::kText || x->kind == NodeKind::kComment) return Value::Null();
  if (x->kind == NodeKind::kProcessingInstruction) {
    std::vector<Value> args{m.Str(""), m.Str(x->local)};
    return Value::Obj(m.Construct(m.FindClass("QName"), args));
  }
  return MakeQName(m, x);
}
NATIVE(XmlLocalName) {
  XmlObject* x = One(m, self, "localName");
  if (x->kind == NodeKind::kText || x->kind == NodeKind::kComment) return Value::Null();
  return m.Str(x->local);
}
NATIVE(XmlNamespace) {
  XmlObject* x = One(m, self, "namespace");
  if (x->kind == NodeKind::kText || x->kind == NodeKind::kComment || x->kind == NodeKind::kProcessingInstruction)
    return Value::Null();
  const auto scope = InScope(x->kind == NodeKind::kAttribute && x->parent ? x->parent : x);
  if (!a.empty() && !a[0].IsUndefined()) {
    const std::string prefix = m.ToString(a[0]);
    for (const XmlNs& ns : scope)
      if (ns.prefix == prefix) return MakeNamespace(m, ns);
    return Value();
  }
  for (const XmlNs& ns : scope)
    if (ns.uri == x->uri && (ns.prefix == x->prefix || x->prefix.empty())) return MakeNamespace(m, ns);
  std::vector<Value> args{x->prefix.empty() && x->uri.empty() ? m.Str("") : m.Str(x->prefix), m.Str(x->uri)};
  // A prefix that no longer names the namespace in scope is not given.
  const bool prefixElsewhere =
      std::any_of(scope.begin(), scope.end(), [&](const XmlNs& ns) { return ns.prefix == x->prefix && ns.uri != x->uri; });
  if (!x->uri.empty() && (x->prefix.empty() || prefixElsewhere)) args = {m.Str(x->uri)};
  return Value::Obj(m.Construct(m.namespaceClass, args));
}
NATIVE(XmlInScopeNamespaces) {
  XmlObject* x = One(m, self, "inScopeNamespaces");
  std::vector<Value> out;
  for (const XmlNs& ns : InScope(x)) out.push_back(MakeNamespace(m, ns));
  if (out.empty()) out.push_back(MakeNamespace(m, {"", ""}));
  return Value::Obj(m.NewArray(std::move(out)));
}
NATIVE(XmlNamespaceDeclarations) {
  XmlObject* x = One(m, self, "namespaceDeclarations");
  std::vector<Value> out;
  if (x->IsElement())
    for (const XmlNs& ns : x->decls) {
      const auto outer = x->parent ? InScope(x->parent) : std::vector<XmlNs>{};
      if (std::find(outer.begin(), outer.end(), ns) == outer.end()) out.push_back(MakeNamespace(m, ns));
    }
  return Value::Obj(m.NewArray(std::move(out)));
}
NATIVE(XmlAddNamespace) {
  XmlObject* x = One(m, self, "addNamespace");
  if (!x->IsElement()) return self;
  std::string prefix, uri;
  const bool hasPrefix = NamespaceParts(m, m.ArgOr(a, 0), prefix, uri);
  if (!hasPrefix && uri.empty()) return self;
  if (!hasPrefix) prefix.clear();
  if (!hasPrefix && !uri.empty()) {
    // A namespace with no prefix gets none unless the element's own name uses it.
    return self;
  }
  for (XmlNs& ns : x->decls)
    if (ns.prefix == prefix) {
      if (ns.uri == uri) return self;
      // The prefix now names another namespace: the element's own name and
      // its attributes that used it keep their namespace without a prefix.
      ns.uri = uri;
      if (x->prefix == prefix && x->uri != uri) x->prefix.clear();
      for (XmlObject* at : x->attrs)
        if (at->prefix == prefix && at->uri != uri) at->prefix.clear();
      return self;
    }
  x->decls.push_back({prefix, uri});
  return self;
}
NATIVE(XmlRemoveNamespace) {
  XmlObject* x = One(m, self, "removeNamespace");
  if (!x->IsElement()) return self;
  std::string prefix, uri;
  const bool hasPrefix = NamespaceParts(m, m.ArgOr(a, 0), prefix, uri);
  std::erase_if(x->decls, [&](const XmlNs& ns) {
    return ns.uri == uri && (!hasPrefix || ns.prefix == prefix) && !(ns.uri == x->uri && ns.prefix == x->prefix);
  });
  return self;
}
NATIVE(XmlSetNamespace) {
  XmlObject* x = One(m, self, "setNamespace");
  if (x->kind != NodeKind::kElement && x->kind != NodeKind::kAttribute) return Value();
  std::string prefix, uri;
  NamespaceParts(m, m.ArgOr(a, 0), prefix, uri);
  x->uri = uri;
  x->prefix = prefix;
  XmlObject* holder = x->kind == NodeKind::kAttribute ? x->parent : x;
  if (holder && !uri.empty()) {
    const auto scope = InScope(holder);
    if (std::find(scope.begin(), scope.end(), XmlNs{prefix, uri}) == scope.end()) holder->decls.push_back({prefix, uri});
  }
  return Value();
}
NATIVE(XmlSetLocalName) {
  XmlObject* x = One(m, self, "setLocalName");
  if (x->kind == NodeKind::kText || x->kind == NodeKind::kComment) return Value();
  Value uri, local;
  const Value v = m.ArgOr(a, 0);
  x->local = v.IsObject() && QNameParts(m, v, uri, local) ? m.ToString(local) : m.ToString(v);
  return Value();
}
NATIVE(XmlSetName) {
  XmlObject* x = One(m, self, "setName");
  if (x->kind == NodeKind::kText || x->kind == NodeKind::kComment) return Value();
  Value uri, local;
  const Value v = m.ArgOr(a, 0);
  if (v.IsObject() && QNameParts(m, v, uri, local)) {
    x->local = m.ToString(local);
    if (!uri.IsNull()) {
      x->uri = m.ToString(uri);
      x->prefix.clear();
      for (const XmlNs& ns : InScope(x))
        if (ns.uri == x->uri) {
          x->prefix = ns.prefix;
          break;
        }
    }
  } else {
    x->local = m.ToString(v);
    x->uri = x->kind == NodeKind::kElement ? m.xmlDefaultNs : std::string();
    x->prefix.clear();
  }
  return Value();
}
NATIVE(XmlAppendChild) {
  XmlObject* x = One(m, self, "appendChild");
  if (x->IsElement()) {
    const Value v = m.ArgOr(a, 0);
    // A string becomes the content of a new element named as the last child.
    if (!AsXml(v) && !x->kids.empty() && x->kids.back()->IsElement()) {
      XmlObject* c = NewNode(m, NodeKind::kElement);
      c->local = x->kids.back()->local;
      c->uri = x->kids.back()->uri;
      c->prefix = x->kids.back()->prefix;
      SetContent(m, c, v);
      InsertAt(m, x, x->kids.size(), Value::Obj(c));
    } else {
      // From SWF 21 a node leaves its parent before it is appended.
      XmlObject* n = AsXml(v);
      if (n && !n->list && n->kind != NodeKind::kAttribute && n->parent && !m.SwfBefore(21)) {
        auto& kids = n->parent->kids;
        kids.erase(std::remove(kids.begin(), kids.end(), n), kids.end());
        n->parent = nullptr;
      }
      InsertAt(m, x, x->kids.size(), v);
    }
  }
  return Value::Obj(x);
}
NATIVE(XmlPrependChild) {
  XmlObject* x = One(m, self, "prependChild");
  if (x->IsElement()) InsertAt(m, x, 0, m.ArgOr(a, 0));
  return Value::Obj(x);
}
// insertChildAfter/Before(anchor, child): null anchor means the start (after)
// or the end (before); an anchor that is no child changes nothing.
template <bool kAfter>
Value InsertBeside(Machine& m, const Value& self, std::span<Value> a) {
  XmlObject* x = One(m, self, kAfter ? "insertChildAfter" : "insertChildBefore");
  if (!x->IsElement()) return Value();
  const Value anchor = m.ArgOr(a, 0);
  std::size_t at = kAfter ? 0 : x->kids.size();
  if (!anchor.IsNull()) {
    XmlObject* ref = AsXml(anchor);
    if (ref && ref->list && ref->kids.size() == 1) ref = ref->kids[0];
    const auto it = std::find(x->kids.begin(), x->kids.end(), ref);
    if (!ref || it == x->kids.end()) return Value();
    at = static_cast<std::size_t>(it - x->kids.begin()) + (kAfter ? 1 : 0);
  }
  InsertAt(m, x, at, m.ArgOr(a, 1));
  return Value::Obj(x);
}
NATIVE(XmlInsertAfter) { return InsertBeside<true>(m, self, a); }
NATIVE(XmlInsertBefore) { return InsertBeside<false>(m, self, a); }
NATIVE(XmlSetChildren) {
  XmlObject* x = One(m, self, "setChildren");
  if (x->IsElement()) SetContent(m, x, m.ArgOr(a, 0));
  return Value::Obj(x);
}
NATIVE(XmlReplace) {
  XmlObject* x = One(m, self, "replace");
  if (!x->IsElement()) return Value::Obj(x);
  const Value key = m.ArgOr(a, 0);
  const Value v = m.ArgOr(a, 1);
  if (key.IsNumber() || (key.IsString() && !key.s->text.empty() && key.s->text.find_first_not_of("0123456789") == std::string::npos)) {
    const double i = m.ToNumber(key);
    if (i < 0 || i != std::floor(i)) return Value::Obj(x);
    auto at = static_cast<std::size_t>(std::min(i, 1e9));
    if (at < x->kids.size()) {
      x->kids[at]->parent = nullptr;
      x->kids.erase(x->kids.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      at = x->kids.size();
    }
    InsertAt(m, x, at, v);
    return Value::Obj(x);
  }
  const Query q = QueryOfValue(m, key, false);
  const std::ptrdiff_t first = KeepFirstMatch(x, q);
  if (first >= 0) {
    x->kids[static_cast<std::size_t>(first)]->parent = nullptr;
    x->kids.erase(x->kids.begin() + first);
    InsertAt(m, x, static_cast<std::size_t>(first), v);
  }
  return Value::Obj(x);
}
// Adjacent text nodes merged; then empty ones dropped (whitespace-only ones
// too, among an element's children).
void MergeText(std::vector<XmlObject*>& nodes, bool dropBlank) {
  std::vector<XmlObject*> kept;
  for (XmlObject* c : nodes) {
    if (c->kind == NodeKind::kText && !kept.empty() && kept.back()->kind == NodeKind::kText) {
      kept.back()->text += c->text;
      kept.back()->cdata = false;
      continue;
    }
    kept.push_back(c);
  }
  std::erase_if(kept, [&](XmlObject* c) {
    return c->kind == NodeKind::kText && (c->text.empty() || (dropBlank && xml::IsAllXmlSpace(c->text)));
  });
  nodes = std::move(kept);
}
void Normalize(XmlObject* x, int depth = 0) {
  if (depth > 1024) return;
  for (XmlObject* c : x->kids)
    if (c->kind == NodeKind::kElement) Normalize(c, depth + 1);
  MergeText(x->kids, true);
}
NATIVE(XmlNormalize) {
  XmlObject* x = Self(m, self);
  for (XmlObject* i : Items(x))
    if (i->kind == NodeKind::kElement) Normalize(i);
  if (x->list) MergeText(x->kids, false);
  return self;
}
NATIVE(XmlHasOwnProperty) {
  XmlObject* x = Self(m, self);
  return Value::Bool(HasHook(m, x, m.NameFromString(ArgStr(m, a, 0, "undefined"))));
}

// ---- settings

template <bool Machine::XmlSettings::*kField>
Value GetFlag(Machine& m, Value, std::span<Value>) {
  return Value::Bool(m.xmlSettings.*kField);
}
template <bool Machine::XmlSettings::*kField>
Value SetFlag(Machine& m, Value, std::span<Value> a) {
  m.xmlSettings.*kField = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(GetIndent) { return Value::Int(m.xmlSettings.prettyIndent); }
NATIVE(SetIndent) {
  m.xmlSettings.prettyIndent = m.ToInt(m.ArgOr(a, 0));
  return Value();
}

struct Setting {
  const char* name;
  bool Machine::XmlSettings::*flag;
};
constexpr Setting kFlags[] = {{"ignoreComments", &Machine::XmlSettings::ignoreComments},
                              {"ignoreProcessingInstructions", &Machine::XmlSettings::ignoreProcessingInstructions},
                              {"ignoreWhitespace", &Machine::XmlSettings::ignoreWhitespace},
                              {"prettyPrinting", &Machine::XmlSettings::prettyPrinting}};

Value SettingsObject(Machine& m, const Machine::XmlSettings& s) {
  Object* o = m.NewObject();
  for (const Setting& f : kFlags) o->SetDyn(m.Intern(f.name), Value::Bool(s.*f.flag));
  o->SetDyn(m.Intern("prettyIndent"), Value::Int(s.prettyIndent));
  return Value::Obj(o);
}
NATIVE(XmlSettingsFn) { return SettingsObject(m, m.xmlSettings); }
NATIVE(XmlDefaultSettings) { return SettingsObject(m, Machine::XmlSettings{}); }
NATIVE(XmlSetSettings) {
  const Value v = m.ArgOr(a, 0);
  Object* o = v.AsObject();
  if (v.IsNullish()) {
    m.xmlSettings = Machine::XmlSettings{};
    return Value();
  }
  if (!o) return Value();
  for (const Setting& f : kFlags)
    if (Value* p = o->FindDyn(f.name); p && p->type == Type::kBoolean) m.xmlSettings.*f.flag = p->b;
  if (Value* p = o->FindDyn("prettyIndent"); p && p->IsNumber()) m.xmlSettings.prettyIndent = m.ToInt(*p);
  return Value();
}

}  // namespace

// E4X's escapes, for the instructions that build XML literals.
std::string XmlEscapeText(std::string_view s) { return EscapeText(s); }
std::string XmlEscapeAttribute(std::string_view s) { return EscapeAttribute(s); }
bool IsXmlValue(const Value& v) { return AsXml(v) != nullptr; }
std::string XmlValueText(Machine& m, const Value& v) {
  XmlObject* x = AsXml(v);
  return x ? XmlString(m, x) : m.ToString(v);
}

void InstallXml(Machine& m) {
  Class* xml = m.DefineNativeClass("", "XML", m.objectClass, AllocXml, true);
  SetNativeCtor(m, xml, XmlCtor);
  Class* list = m.DefineNativeClass("", "XMLList", m.objectClass, AllocXml, true);
  SetNativeCtor(m, list, XmlListCtor);
  struct M {
    const char* name;
    NativeFn fn;
  };
  for (Class* c : {xml, list}) {
    for (const M& f : {M{"toString", XmlToString}, M{"toXMLString", XmlToXmlString}, M{"valueOf", XmlValueOf},
                       M{"length", XmlLength}, M{"hasSimpleContent", XmlHasSimple}, M{"hasComplexContent", XmlHasComplex},
                       M{"children", XmlChildren}, M{"text", XmlText}, M{"comments", XmlComments},
                       M{"elements", XmlElements}, M{"processingInstructions", XmlProcessingInstructions},
                       M{"child", XmlChild}, M{"attribute", XmlAttribute}, M{"attributes", XmlAttributes},
                       M{"descendants", XmlDescendants}, M{"copy", XmlCopy}, M{"parent", XmlParent},
                       M{"contains", XmlContains}, M{"normalize", XmlNormalize}, M{"nodeKind", XmlNodeKind},
                       M{"childIndex", XmlChildIndex}, M{"name", XmlName}, M{"localName", XmlLocalName},
                       M{"namespace", XmlNamespace}, M{"inScopeNamespaces", XmlInScopeNamespaces},
                       M{"namespaceDeclarations", XmlNamespaceDeclarations}, M{"addNamespace", XmlAddNamespace},
                       M{"removeNamespace", XmlRemoveNamespace}, M{"setNamespace", XmlSetNamespace},
                       M{"setLocalName", XmlSetLocalName}, M{"setName", XmlSetName},
                       M{"appendChild", XmlAppendChild}, M{"prependChild", XmlPrependChild},
                       M{"insertChildAfter", XmlInsertAfter}, M{"insertChildBefore", XmlInsertBefore},
                       M{"setChildren", XmlSetChildren}, M{"replace", XmlReplace},
                       M{"hasOwnProperty", XmlHasOwnProperty}, M{"propertyIsEnumerable", XmlHasOwnProperty}})
      m.AddMethod(c, f.name, f.fn);
  }
  for (const Setting& f : kFlags) {
    NativeFn get = nullptr, set = nullptr;
    if (f.flag == &Machine::XmlSettings::ignoreComments) get = GetFlag<&Machine::XmlSettings::ignoreComments>, set = SetFlag<&Machine::XmlSettings::ignoreComments>;
    if (f.flag == &Machine::XmlSettings::ignoreProcessingInstructions)
      get = GetFlag<&Machine::XmlSettings::ignoreProcessingInstructions>, set = SetFlag<&Machine::XmlSettings::ignoreProcessingInstructions>;
    if (f.flag == &Machine::XmlSettings::ignoreWhitespace) get = GetFlag<&Machine::XmlSettings::ignoreWhitespace>, set = SetFlag<&Machine::XmlSettings::ignoreWhitespace>;
    if (f.flag == &Machine::XmlSettings::prettyPrinting) get = GetFlag<&Machine::XmlSettings::prettyPrinting>, set = SetFlag<&Machine::XmlSettings::prettyPrinting>;
    m.AddGetter(xml, f.name, get, true);
    m.AddSetter(xml, f.name, set, true);
  }
  m.AddGetter(xml, "prettyIndent", GetIndent, true);
  m.AddSetter(xml, "prettyIndent", SetIndent, true);
  m.AddMethod(xml, "settings", XmlSettingsFn, true);
  m.AddMethod(xml, "setSettings", XmlSetSettings, true);
  m.AddMethod(xml, "defaultSettings", XmlDefaultSettings, true);

  m.xmlGet = Get;
  m.xmlDescendants = DescendantsHook;
  m.xmlSet = SetHook;
  m.xmlHas = HasHook;
  m.xmlDelete = DeleteHook;
  m.xmlItem = ItemHook;
  m.xmlEquals = EqualsHook;
  m.xmlAdd = AddHook;
}

}  // namespace quarvel::avm2
