// Reflection: QName, flash.utils.Proxy (its hooks are in the machine's
// property access) and describeType, whose XML frameworks read to find a
// class's public variables, accessors, methods and metadata.
#include <cctype>
#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "player/avm2/builtins_util.h"
#include "player/avm2/xml_parser.h"
#include "player/text/xml_escape.h"

namespace quarvel::avm2 {
namespace {

constexpr const char* kProxyUri = "http://www.adobe.com/2006/actionscript/flash/proxy";

struct QNameObject : Object {
  Value uri, local;
  bool attribute = false;  // an attribute's name(): names an attribute where used as a name
  void Trace(Heap& h) override {
    Object::Trace(h);
    h.Mark(uri);
    h.Mark(local);
  }
};
Object* AllocQName(Machine& m, Class*) { return m.heap().New<QNameObject>(); }
QNameObject* AsQName(Machine& m, const Value& v) {
  Object* o = v.AsObject();
  Class* qn = m.FindClass("QName");
  return o && o->cls && qn && o->cls->IsSubclassOf(qn) ? static_cast<QNameObject*>(o) : nullptr;
}
// new QName(), QName(name), QName(uri, name), QName(qname)
NATIVE(QNameCtor) {
  QNameObject* q = AsQName(m, self);
  if (!q) return self;
  if (a.size() >= 2) {
    q->uri = a[0].IsNull() ? Value::Null() : m.Str(m.ToString(a[0]));
    QNameObject* other = AsQName(m, a[1]);
    q->local = other ? other->local : m.Str(a[1].IsUndefined() ? std::string() : m.ToString(a[1]));
  } else if (QNameObject* other = a.empty() ? nullptr : AsQName(m, a[0])) {
    q->uri = other->uri;
    q->local = other->local;
  } else {
    q->local = m.Str(a.empty() || a[0].IsUndefined() ? std::string() : m.ToString(a[0]));
    // QName("*") is any name in any namespace.
    q->uri = q->local.s->text == "*" ? Value::Null() : m.Str("");
  }
  return self;
}
NATIVE(QNameValueOf) { return self; }
NATIVE(QNameLocal) {
  QNameObject* q = AsQName(m, self);
  return q ? q->local : m.Str("");
}
NATIVE(QNameUri) {
  QNameObject* q = AsQName(m, self);
  return q ? q->uri : Value::Null();
}
NATIVE(QNameToString) {
  QNameObject* q = AsQName(m, self);
  if (!q) return m.Str("");
  const std::string uri = q->uri.IsNull() ? "*" : m.ToString(q->uri);
  return m.Str(uri.empty() ? m.ToString(q->local) : uri + "::" + m.ToString(q->local));
}

NATIVE(ProxyIsAttribute) { return Value::Bool(QNameIsAttribute(m, m.ArgOr(a, 0))); }

// The hooks Proxy leaves to its subclasses: called without an override, they
// throw the error naming the hook, from Error.throwError as Flash's do.
struct ProxyHook {
  const char* name;
  int id;
};
constexpr ProxyHook kProxyHooks[] = {{"getProperty", 2088},    {"setProperty", 2089},  {"callProperty", 2090},
                                     {"hasProperty", 2091},    {"deleteProperty", 2092}, {"getDescendants", 2093},
                                     {"nextNameIndex", 2105}, {"nextName", 2106},     {"nextValue", 2107}};
template <int I>
Value ProxyHookMissing(Machine& m, Value, std::span<Value>) {
  Machine::NativeFrame frame(m, "Error$/throwError");
  m.ThrowError("Error",
               std::string("The Proxy class does not implement ") + kProxyHooks[I].name +
                   ". It must be overridden by a subclass.",
               kProxyHooks[I].id);
}
template <int... I>
void AddProxyHooks(Machine& m, Class* proxy, std::integer_sequence<int, I...>) {
  (m.AddMethod(proxy, kProxyHooks[I].name, ProxyHookMissing<I>), ...);
}

// A proxy's own hasOwnProperty asks its hasProperty, by the name's string.
NATIVE(ProxyHasOwnProperty) {
  Object* o = self.AsObject();
  Value name = m.Str(m.ToString(m.ArgOr(a, 0)));
  Value out;
  if (o && m.ProxyCall(o, "hasProperty", std::span<Value>(&name, 1), out)) return Value::Bool(m.ToBoolean(out));
  return Value::Bool(false);
}

// ---- describeType

// What avmplus.describeType lists; flash.utils.describeType asks for kFlash10Flags.
enum DescribeFlags : std::uint32_t {
  kHideNsUriMethods = 0x1,
  kIncludeBases = 0x2,
  kIncludeInterfaces = 0x4,
  kIncludeVariables = 0x8,
  kIncludeAccessors = 0x10,
  kIncludeMethods = 0x20,
  kIncludeMetadata = 0x40,
  kIncludeConstructor = 0x80,
  kIncludeTraits = 0x100,
  kUseItraits = 0x200,
  kHideObject = 0x400,
  kFlash10Flags = 0x5FF,
};

std::string Escape(const std::string& s) { return encoding::XmlEscaped(s, encoding::XmlQuotes::kDouble); }

std::string TypeName(const AbcFile& f, std::uint32_t multiname) {
  if (multiname == 0 || multiname >= f.pool.multinames.size()) return "*";
  const std::string n = f.NameOf(multiname);
  if (n == "void") return "void";
  // Vector.<T> is written as the runtime names it.
  return n.empty() ? "*" : n;
}

struct Member {
  std::string kind;  // variable, constant, accessor, method
  std::string name, uri, type, declaredBy, access = "readwrite";
  std::string params;    // <parameter .../> elements
  std::string metadata;  // <metadata> elements
};

std::string MetadataXml(const AbcFile& f, const std::vector<std::uint32_t>& indices) {
  std::string out;
  for (std::uint32_t i : indices) {
    if (i >= f.metadata.size()) continue;
    const Metadata& md = f.metadata[i];
    out += "<metadata name=\"" + Escape(f.String(md.name)) + "\">";
    for (const auto& item : md.items) {
      out += "<arg key=\"" + Escape(item.key ? f.String(item.key) : std::string()) + "\" value=\"" +
             Escape(f.String(item.value)) + "\"/>";
    }
    out += "</metadata>";
  }
  return out;
}

// The public members a class declares itself in its byte code.
void AbcMembers(const AbcFile& f, const std::vector<Trait>& traits, const std::string& declaredBy,
                std::vector<Member>& out, std::set<std::string>& seen, const std::set<std::string>& hiddenUris) {
  for (const Trait& t : traits) {
    if (t.name == 0 || t.name >= f.pool.multinames.size()) continue;
    const Multiname& mn = f.pool.multinames[t.name];
    if (mn.ns == 0 || mn.ns >= f.pool.namespaces.size()) continue;
    const Namespace& ns = f.pool.namespaces[mn.ns];
    // Public members, and those of namespaces a class opens (uri kept).
    if (ns.kind != NamespaceKind::kPackage && ns.kind != NamespaceKind::kNamespace) continue;
    std::string uri = f.String(ns.name);
    if (ns.kind == NamespaceKind::kPackage && !uri.empty()) continue;  // package-level names are not members
    if (ns.kind == NamespaceKind::kNamespace && uri == kProxyUri) continue;
    if (!uri.empty() && hiddenUris.count(uri)) continue;
    const std::string name = f.String(mn.name);
    Member mb;
    mb.name = name;
    mb.uri = uri;
    mb.declaredBy = declaredBy;
    mb.metadata = MetadataXml(f, t.metadata);
    switch (t.kind) {
      case TraitKind::kSlot:
      case TraitKind::kConst:
        mb.kind = t.kind == TraitKind::kSlot ? "variable" : "constant";
        mb.type = TypeName(f, t.typeName);
        break;
      case TraitKind::kGetter:
      case TraitKind::kSetter: {
        mb.kind = "accessor";
        const bool getter = t.kind == TraitKind::kGetter;
        const MethodInfo* mi = t.index < f.methods.size() ? &f.methods[t.index] : nullptr;
        mb.type = mi ? (getter ? TypeName(f, mi->returnType) : mi->paramTypes.empty() ? "*" : TypeName(f, mi->paramTypes[0]))
                     : "*";
        mb.access = getter ? "readonly" : "writeonly";
        // The other half of the pair makes it readwrite.
        auto it = std::find_if(out.begin(), out.end(), [&](const Member& o) {
          return o.kind == "accessor" && o.name == name && o.uri == uri && o.declaredBy == declaredBy;
        });
        if (it != out.end()) {
          it->access = "readwrite";
          it->metadata += mb.metadata;
          continue;
        }
        // A subclass overrode one half: the half it kept from here joins it.
        auto derived = std::find_if(out.begin(), out.end(), [&](const Member& o) {
          return o.kind == "accessor" && o.name == name && o.uri == uri;
        });
        if (derived != out.end()) {
          if (derived->access == (getter ? "writeonly" : "readonly")) {
            derived->access = "readwrite";
            derived->metadata += mb.metadata;
          }
          continue;
        }
        break;
      }
      case TraitKind::kMethod:
      case TraitKind::kFunction: {
        mb.kind = "method";
        const MethodInfo* mi = t.index < f.methods.size() ? &f.methods[t.index] : nullptr;
        if (mi) {
          mb.type = TypeName(f, mi->returnType);
          const std::size_t required = mi->paramTypes.size() - std::min(mi->paramTypes.size(), mi->optional.size());
          for (std::size_t i = 0; i < mi->paramTypes.size(); ++i) {
            mb.params += "<parameter index=\"" + std::to_string(i + 1) + "\" type=\"" +
                         Escape(TypeName(f, mi->paramTypes[i])) + "\" optional=\"" + (i >= required ? "true" : "false") +
                         "\"/>";
          }
        }
        break;
      }
      case TraitKind::kClass: continue;
    }
    // An override lower in the chain was listed already.
    if (!seen.insert(mb.kind.substr(0, 3) + uri + "::" + name).second) continue;
    out.push_back(std::move(mb));
  }
}

// ---- Flash's own classes as it describes them (native_descriptions.inc)

constexpr const char* kNativeDescriptions =
#include "player/avm2/native_descriptions.inc"
    ;

struct NativeDescription {
  bool hasConstructor = false;
  std::string constructorParams;  // <parameter .../> elements
  std::vector<Member> instance, statics;
};

std::string ParamsXml(const std::vector<std::string>& types) {
  std::string out;
  for (std::size_t i = 0; i < types.size(); ++i) {
    const bool optional = !types[i].empty() && types[i].back() == '?';
    const std::string type = optional ? types[i].substr(0, types[i].size() - 1) : types[i];
    out += "<parameter index=\"" + std::to_string(i + 1) + "\" type=\"" + Escape(type) + "\" optional=\"" +
           (optional ? "true" : "false") + "\"/>";
  }
  return out;
}

// Read once; a line that does not parse is left out.
const std::map<std::string, NativeDescription, std::less<>>& NativeDescriptions() {
  static const auto table = [] {
    std::map<std::string, NativeDescription, std::less<>> t;
    NativeDescription* cur = nullptr;
    std::string owner;
    std::istringstream in(kNativeDescriptions);
    for (std::string line; std::getline(in, line);) {
      if (line.empty()) continue;
      if (line[0] == '@') {
        owner = line.substr(1);
        cur = &t[owner];
        continue;
      }
      if (!cur) continue;
      std::vector<std::string> w;
      std::istringstream words(line);
      for (std::string x; words >> x;) w.push_back(x);
      if (w[0] == "new") {
        cur->hasConstructor = true;
        cur->constructorParams = ParamsXml({w.begin() + 1, w.end()});
        continue;
      }
      const bool isStatic = w[0] == "static";
      if (isStatic) w.erase(w.begin());
      Member mb;
      if (!w.empty() && w.back().size() > 1 && w.back()[0] == '@') {
        mb.uri = w.back().substr(1);
        w.pop_back();
      }
      if (w.size() < 3) continue;
      mb.name = w[1];
      mb.type = w[2];
      mb.declaredBy = owner;
      if (w[0] == "get" || w[0] == "set" || w[0] == "acc") {
        mb.kind = "accessor";
        mb.access = w[0] == "get" ? "readonly" : w[0] == "set" ? "writeonly" : "readwrite";
      } else if (w[0] == "var" || w[0] == "const") {
        mb.kind = w[0] == "var" ? "variable" : "constant";
      } else if (w[0] == "fn") {
        mb.kind = "method";
        mb.params = ParamsXml({w.begin() + 3, w.end()});
      } else {
        continue;
      }
      (isStatic ? cur->statics : cur->instance).push_back(std::move(mb));
    }
    return t;
  }();
  return table;
}

const NativeDescription* FindNativeDescription(const Class* c) {
  if (c->unit) return nullptr;
  const auto& t = NativeDescriptions();
  auto it = t.find(c->QualifiedName());
  return it == t.end() ? nullptr : &it->second;
}

}  // namespace

FlashDeclares FlashDeclaresMember(const Class* cls, const Class* objectClass, std::string_view name) {
  bool described = true;
  for (const Class* c = cls; c; c = c->super) {
    if (c->unit || c == objectClass) continue;
    const NativeDescription* d = FindNativeDescription(c);
    if (!d) {
      described = false;
      continue;
    }
    for (const Member& mb : d->instance)
      if (mb.name == name && mb.uri.empty()) return FlashDeclares::kYes;
  }
  return described ? FlashDeclares::kNo : FlashDeclares::kUnknown;
}

int FlashMethodArity(const Class* owner, std::string_view name, bool isStatic) {
  const NativeDescription* d = owner ? FindNativeDescription(owner) : nullptr;
  if (!d) return -1;
  for (const Member& mb : isStatic ? d->statics : d->instance) {
    if (mb.name != name || mb.kind != "method" || !mb.uri.empty()) continue;
    int n = 0;
    for (std::size_t at = mb.params.find("<parameter"); at != std::string::npos; at = mb.params.find("<parameter", at + 1))
      ++n;
    return n;
  }
  return -1;
}

namespace {

// The language's own classes keep their methods in the AS3 namespace (and
// on the prototype), which describeType does not list.
bool MethodsInAs3Namespace(const Class* c) {
  if (!c->package.empty()) return false;
  static const std::set<std::string> kCore = {"Object", "Array",  "Boolean", "Number", "int",       "uint",   "String",
                                             "Date",   "RegExp", "XML",     "XMLList", "Namespace", "QName", "Function"};
  return kCore.count(c->name) > 0 || c->isVector;
}
// The language's classes Flash declares final.
bool NativeFinal(const Class* c) {
  if (!c->package.empty()) return c->isVector;
  static const std::set<std::string> kFinal = {"Boolean", "Number", "int",     "uint", "String", "Namespace",
                                              "QName",   "XML",    "XMLList", "Date", "Math",   "Class"};
  return kFinal.count(c->name) > 0 || c->isVector;
}
// The native constructors' parameters as Flash declares them.
std::string NativeConstructor(const Class* c) {
  if (!c->package.empty()) {
    if (c->QualifiedName() == "flash.utils::Dictionary")
      return "<constructor><parameter index=\"1\" type=\"Boolean\" optional=\"true\"/></constructor>";
    return "";
  }
  static const std::set<std::string> kOneAny = {"Boolean", "Number", "int", "uint", "String"};
  return kOneAny.count(c->name) ? "<constructor><parameter index=\"1\" type=\"*\" optional=\"true\"/></constructor>" : "";
}
// A native constant's declared type, by its value.
std::string NativeConstantType(const Class* c, const Value& v) {
  if (v.IsNumber()) return c->name == "uint" && c->package.empty() ? "uint" : v.type == Type::kInt ? "int" : "Number";
  if (v.type == Type::kString) return "String";
  if (v.type == Type::kBoolean) return "Boolean";
  return "*";
}

// Members of a native class (beyond its base) by its bindings.
void NativeMembers(Machine& m, const Class* c, const Traits& traits, const Traits* baseTraits, std::vector<Member>& out,
                   std::set<std::string>& seen, bool statics) {
  std::vector<std::pair<std::string, const Binding*>> list;
  for (const auto& [key, b] : traits.Bindings()) {
    if (baseTraits && baseTraits->Find(key)) continue;
    if (!m.IsPublicNs(static_cast<NsId>(key >> 32))) continue;
    list.emplace_back(m.NameText(static_cast<NameId>(key & 0xFFFFFFFFu)), &b);
  }
  std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (const auto& [name, b] : list) {
    // A class object's prototype is listed once, as Class declares it.
    if (name.empty() || (statics && name == "prototype")) continue;
    Member mb;
    mb.name = name;
    mb.declaredBy = c->QualifiedName();
    mb.type = "*";
    switch (b->kind) {
      case Binding::Kind::kSlot:
        mb.kind = b->isConst ? "constant" : "variable";
        if (b->slot < traits.slots.size())
          if (Class* t = m.SlotType(traits.slots[b->slot])) mb.type = t->QualifiedName();
        if (mb.type == "*" && statics && c->object && b->slot < c->object->slots.size())
          mb.type = NativeConstantType(c, c->object->slots[b->slot]);
        break;
      case Binding::Kind::kAccessor:
        mb.kind = "accessor";
        mb.access = b->getter && b->setter ? "readwrite" : b->getter ? "readonly" : "writeonly";
        break;
      case Binding::Kind::kMethod:
        if (!statics && MethodsInAs3Namespace(c)) continue;
        mb.kind = "method";
        break;
    }
    if (!seen.insert(mb.kind.substr(0, 3) + "::" + name).second) continue;
    out.push_back(std::move(mb));
  }
}

std::string MembersXml(const std::vector<Member>& members, std::uint32_t flags) {
  std::string out;
  for (Member mb : members) {
    const bool wanted = mb.kind == "method"     ? (flags & kIncludeMethods) != 0
                        : mb.kind == "accessor" ? (flags & kIncludeAccessors) != 0
                                                : (flags & kIncludeVariables) != 0;
    if (!wanted) continue;
    if (!(flags & kIncludeMetadata)) mb.metadata.clear();
    std::string uri = mb.uri.empty() ? "" : " uri=\"" + Escape(mb.uri) + "\"";
    if (mb.kind == "method") {
      out += "<method name=\"" + Escape(mb.name) + "\" declaredBy=\"" + Escape(mb.declaredBy) + "\" returnType=\"" +
             Escape(mb.type) + "\"" + uri + ">" + mb.params + mb.metadata + "</method>";
    } else if (mb.kind == "accessor") {
      out += "<accessor name=\"" + Escape(mb.name) + "\" access=\"" + mb.access + "\" type=\"" + Escape(mb.type) +
             "\" declaredBy=\"" + Escape(mb.declaredBy) + "\"" + uri + ">" + mb.metadata + "</accessor>";
    } else {
      out += "<" + mb.kind + " name=\"" + Escape(mb.name) + "\" type=\"" + Escape(mb.type) + "\"" + uri + ">" + mb.metadata +
             "</" + mb.kind + ">";
    }
  }
  return out;
}

// extendsClass, implementsInterface and the members of instances (or of the class object).
std::string TraitsXml(Machine& m, Class* cls, bool statics, std::uint32_t flags) {
  std::string out;
  std::vector<Member> members;
  std::set<std::string> seen;
  if (!(flags & kIncludeTraits)) return out;
  if (!statics && (flags & kIncludeBases))
    for (Class* s = cls->super; s; s = s->super) out += "<extendsClass type=\"" + Escape(s->QualifiedName()) + "\"/>";
  if (!statics && (flags & kIncludeInterfaces))
    for (Class* i : cls->interfaces) out += "<implementsInterface type=\"" + Escape(i->QualifiedName()) + "\"/>";
  const bool ctors = (flags & kIncludeConstructor) != 0;
  // Flash's old describeType leaves out an instance's members in a namespace
  // that a script base class (not the class itself) declares members in.
  std::set<std::string> hiddenUris;
  if (!statics && (flags & kHideNsUriMethods))
    for (Class* b = cls->super; b; b = b->super)
      if (b->unit && b->unit->file && b->index < b->unit->file->instances.size())
        for (const Trait& t : b->unit->file->instances[b->index].traits) {
          const AbcFile& f = *b->unit->file;
          if (t.name == 0 || t.name >= f.pool.multinames.size()) continue;
          const Multiname& mn = f.pool.multinames[t.name];
          if (mn.ns == 0 || mn.ns >= f.pool.namespaces.size()) continue;
          const Namespace& ns = f.pool.namespaces[mn.ns];
          if (ns.kind == NamespaceKind::kNamespace && !f.String(ns.name).empty()) hiddenUris.insert(f.String(ns.name));
        }
  for (Class* c = cls; c; c = statics ? nullptr : c->super) {
    if (c->unit && c->unit->file && c->index < c->unit->file->instances.size()) {
      const AbcFile& f = *c->unit->file;
      const auto& traits = statics ? f.classes[c->index].traits : f.instances[c->index].traits;
      AbcMembers(f, traits, c->QualifiedName(), members, seen, hiddenUris);
      if (!statics && c->iinit && c->iinit->index < f.methods.size()) {
        const MethodInfo& ctor = f.methods[c->iinit->index];
        if (ctors && c == cls && !ctor.paramTypes.empty()) {
          out += "<constructor>";
          const std::size_t required = ctor.paramTypes.size() - std::min(ctor.paramTypes.size(), ctor.optional.size());
          for (std::size_t i = 0; i < ctor.paramTypes.size(); ++i)
            out += "<parameter index=\"" + std::to_string(i + 1) + "\" type=\"" + Escape(TypeName(f, ctor.paramTypes[i])) +
                   "\" optional=\"" + (i >= required ? "true" : "false") + "\"/>";
          out += "</constructor>";
        }
      }
    } else if (const NativeDescription* d = FindNativeDescription(c)) {
      if (ctors && !statics && c == cls && d->hasConstructor && !d->constructorParams.empty())
        out += "<constructor>" + d->constructorParams + "</constructor>";
      for (const Member& mb : statics ? d->statics : d->instance)
        if (seen.insert(mb.kind.substr(0, 3) + mb.uri + "::" + mb.name).second) members.push_back(mb);
    } else if (c == m.objectClass && !statics && !(flags & kHideObject)) {
      // Object's own methods, in the AS3 namespace: listed unless Object is hidden.
      for (const char* name : {"hasOwnProperty", "isPrototypeOf", "propertyIsEnumerable"}) {
        Member mb;
        mb.kind = "method";
        mb.name = name;
        mb.uri = "http://adobe.com/AS3/2006/builtin";
        mb.type = "Boolean";
        mb.declaredBy = "Object";
        mb.params = "<parameter index=\"1\" type=\"*\" optional=\"true\"/>";
        if (seen.insert("met" + mb.uri + "::" + mb.name).second) members.push_back(std::move(mb));
      }
    } else if (c != m.objectClass || statics) {
      // Object's own methods are in the AS3 namespace to Flash, and not listed.
      if (ctors && !statics && c == cls) out += NativeConstructor(c);
      NativeMembers(m, c, statics ? c->statics : c->instance, statics || !c->super ? nullptr : &c->super->instance, members,
                    seen, statics);
    }
  }
  if (cls->unit && cls->unit->file && cls->index < cls->unit->file->instances.size()) {
    // The class's own metadata ([Event], [Bindable]...) sits on its trait in the script.
    const AbcFile& f = *cls->unit->file;
    for (const ScriptInfo& sc : f.scripts)
      for (const Trait& t : sc.traits)
        if (t.kind == TraitKind::kClass && t.index == cls->index && !statics && (flags & kIncludeMetadata))
          out += MetadataXml(f, t.metadata);
  }
  return out + MembersXml(members, flags);
}

Value Describe(Machine& m, const Value& v, std::uint32_t want) {
  std::string xml;
  auto flags = [](Class* c, bool isStatic) {
    return std::string(" isDynamic=\"") + (!c->sealed || isStatic ? "true" : "false") + "\" isFinal=\"" +
           (c->isFinal || isStatic || (!c->unit && NativeFinal(c)) ? "true" : "false") + "\" isStatic=\"" + (isStatic ? "true" : "false") + "\"";
  };
  Object* o = v.AsObject();
  if (v.IsNullish()) {
    xml = std::string("<type name=\"") + (v.IsNull() ? "null" : "void") + "\" isDynamic=\"false\" isFinal=\"true\" isStatic=\"false\"/>";
  } else if (o && o->kind == ObjectKind::kClass) {
    Class* c = static_cast<ClassObject*>(o)->of;
    std::string body;
    if (want & kIncludeTraits) {
      if (want & kIncludeBases) body += "<extendsClass type=\"Class\"/><extendsClass type=\"Object\"/>";
      if (want & kIncludeAccessors) body += "<accessor name=\"prototype\" access=\"readonly\" type=\"*\" declaredBy=\"Class\"/>";
      body += TraitsXml(m, c, true, want) + "<factory type=\"" + Escape(c->QualifiedName()) + "\">" +
              TraitsXml(m, c, false, want) + "</factory>";
    }
    xml = "<type name=\"" + Escape(c->QualifiedName()) + "\" base=\"Class\"" + flags(c, true) + ">" + body + "</type>";
  } else {
    Class* c = v.IsNumber() ? (HeldAsInt(v) ? m.intClass : m.numberClass) : m.ClassOf(v);
    if (!c) c = m.objectClass;
    const std::string base = c->super ? " base=\"" + Escape(c->super->QualifiedName()) + "\"" : "";
    xml = "<type name=\"" + Escape(c->QualifiedName()) + "\"" + base + flags(c, false) + ">" + TraitsXml(m, c, false, want) +
          "</type>";
  }
  std::vector<Value> args{m.Str(xml)};
  return Value::Obj(m.Construct(m.FindClass("XML"), args));
}
// ---- avmplus.describeTypeJSON: the same description as objects and arrays,
// read from the XML one. A part the flags leave out is null.

Value JsonOrNull(Machine& m, const std::vector<std::pair<std::string, std::string>>& attrs, const char* name) {
  for (const auto& [k, v] : attrs)
    if (k == name) return m.Str(v);
  return Value::Null();
}
Value JsonMetadata(Machine& m, const xml::ParsedNode& owner, std::uint32_t flags) {
  if (!(flags & kIncludeMetadata)) return Value::Null();
  std::vector<Value> all;
  for (const auto& md : owner.children) {
    if (md.name != "metadata") continue;
    Object* entry = m.NewObject();
    m.SetProperty(Value::Obj(entry), "name", JsonOrNull(m, md.attributes, "name"));
    std::vector<Value> args;
    for (const auto& arg : md.children) {
      Object* kv = m.NewObject();
      m.SetProperty(Value::Obj(kv), "key", JsonOrNull(m, arg.attributes, "key"));
      m.SetProperty(Value::Obj(kv), "value", JsonOrNull(m, arg.attributes, "value"));
      args.push_back(Value::Obj(kv));
    }
    m.SetProperty(Value::Obj(entry), "value", Value::Obj(m.NewArray(std::move(args))));
    all.push_back(Value::Obj(entry));
  }
  return Value::Obj(m.NewArray(std::move(all)));
}
Value JsonParameters(Machine& m, const xml::ParsedNode& owner) {
  std::vector<Value> params;
  for (const auto& p : owner.children) {
    if (p.name != "parameter") continue;
    Object* o = m.NewObject();
    m.SetProperty(Value::Obj(o), "type", JsonOrNull(m, p.attributes, "type"));
    m.SetProperty(Value::Obj(o), "optional", Value::Bool(m.ToString(JsonOrNull(m, p.attributes, "optional")) == "true"));
    params.push_back(Value::Obj(o));
  }
  return Value::Obj(m.NewArray(std::move(params)));
}

NATIVE(DescribeTypeJson) {
  const Value v = m.ArgOr(a, 0);
  const std::uint32_t flags = a.size() >= 2 ? m.ToUint(a[1]) : 0u;
  if (v.IsNullish()) return Value::Null();
  Object* o = v.AsObject();
  const bool isClass = o && o->kind == ObjectKind::kClass;
  // Instance traits are asked of a class only.
  if ((flags & kUseItraits) && !isClass) return Value::Null();
  Class* c = isClass ? static_cast<ClassObject*>(o)->of
                     : (v.IsNumber() ? (HeldAsInt(v) ? m.intClass : m.numberClass) : m.ClassOf(v));
  if (!c) c = m.objectClass;
  const bool statics = isClass && !(flags & kUseItraits);
  const Value out = Value::Obj(m.NewObject());
  m.SetProperty(out, "name", m.Str(c->QualifiedName()));
  m.SetProperty(out, "isDynamic", Value::Bool(!c->sealed || statics));
  m.SetProperty(out, "isFinal", Value::Bool(c->isFinal || statics || (!c->unit && NativeFinal(c))));
  m.SetProperty(out, "isStatic", Value::Bool(statics));
  if (!(flags & kIncludeTraits)) {
    m.SetProperty(out, "traits", Value::Null());
    return out;
  }
  std::string xmlText = "<t>";
  if (statics) {
    if (flags & kIncludeBases) xmlText += "<extendsClass type=\"Class\"/><extendsClass type=\"Object\"/>";
    if (flags & kIncludeAccessors) xmlText += "<accessor name=\"prototype\" access=\"readonly\" type=\"*\" declaredBy=\"Class\"/>";
  }
  xmlText += TraitsXml(m, c, statics, flags) + "</t>";
  xml::ParseOptions opts;
  const std::vector<xml::ParsedNode> parsed = xml::ParseFragment(xmlText, opts);
  std::vector<Value> bases, interfaces, variables, accessors, methods;
  Value constructor = (flags & kIncludeConstructor) ? Value::Obj(m.NewArray()) : Value::Null();
  const xml::ParsedNode* root = parsed.empty() ? nullptr : &parsed[0];
  for (const auto& n : root ? root->children : std::vector<xml::ParsedNode>{}) {
    const auto attr = [&](const char* name) { return JsonOrNull(m, n.attributes, name); };
    if ((flags & kHideObject) && m.ToString(attr("declaredBy")) == "Object") continue;
    if (n.name == "extendsClass") {
      bases.push_back(attr("type"));
    } else if (n.name == "implementsInterface") {
      interfaces.push_back(attr("type"));
    } else if (n.name == "constructor") {
      constructor = JsonParameters(m, n);
    } else if (n.name == "variable" || n.name == "constant" || n.name == "accessor" || n.name == "method") {
      const Value e = Value::Obj(m.NewObject());
      m.SetProperty(e, "name", attr("name"));
      m.SetProperty(e, "uri", attr("uri"));
      m.SetProperty(e, "metadata", JsonMetadata(m, n, flags));
      if (n.name == "method") {
        m.SetProperty(e, "declaredBy", attr("declaredBy"));
        m.SetProperty(e, "returnType", attr("returnType"));
        m.SetProperty(e, "parameters", JsonParameters(m, n));
        methods.push_back(e);
      } else if (n.name == "accessor") {
        m.SetProperty(e, "declaredBy", attr("declaredBy"));
        m.SetProperty(e, "type", attr("type"));
        m.SetProperty(e, "access", attr("access"));
        accessors.push_back(e);
      } else {
        m.SetProperty(e, "type", attr("type"));
        m.SetProperty(e, "access", m.Str(n.name == "constant" ? "readonly" : "readwrite"));
        variables.push_back(e);
      }
    }
  }
  const auto list = [&](std::uint32_t flag, std::vector<Value>& items) {
    return (flags & flag) ? Value::Obj(m.NewArray(std::move(items))) : Value::Null();
  };
  const Value traits = Value::Obj(m.NewObject());
  m.SetProperty(traits, "bases", list(kIncludeBases, bases));
  m.SetProperty(traits, "interfaces", list(kIncludeInterfaces, interfaces));
  m.SetProperty(traits, "constructor", constructor);
  m.SetProperty(traits, "variables", list(kIncludeVariables, variables));
  m.SetProperty(traits, "accessors", list(kIncludeAccessors, accessors));
  m.SetProperty(traits, "methods", list(kIncludeMethods, methods));
  m.SetProperty(traits, "metadata", root ? JsonMetadata(m, *root, flags) : Value::Null());
  m.SetProperty(out, "traits", traits);
  return out;
}

// flash.utils' version reads the description of undefined as an object,
// where avmplus' one describes "void".
NATIVE(DescribeType) {
  const Value v = m.ArgOr(a, 0);
  if (v.IsUndefined()) m.ThrowError("TypeError", "A term is undefined and has no properties.", 1010);
  return Describe(m, v, kFlash10Flags);
}
// avmplus.describeType(value, flags): the flags say what to list.
NATIVE(DescribeTypeWith) {
  return Describe(m, m.ArgOr(a, 0), a.size() >= 2 ? m.ToUint(a[1]) : 0u);
}

}  // namespace

bool QNameParts(Machine& m, const Value& v, Value& uri, Value& local) {
  QNameObject* q = AsQName(m, v);
  if (!q) return false;
  uri = q->uri;
  local = q->local;
  return true;
}
bool QNameIsAttribute(Machine& m, const Value& v) {
  QNameObject* q = AsQName(m, v);
  return q && q->attribute;
}
void MarkQNameAttribute(Machine& m, const Value& v) {
  if (QNameObject* q = AsQName(m, v)) q->attribute = true;
}

namespace {
// new Namespace(), Namespace(uri), Namespace(prefix, uri); a Namespace or a
// QName given as the URI gives its URI.
Value UriOf(Machine& m, const Value& v) {
  if (Object* o = v.AsObject()) {
    if (o->kind == ObjectKind::kNamespace)
      if (Value* u = o->FindDyn("uri")) return *u;
    if (QNameObject* q = AsQName(m, v)) return q->uri.IsNullish() ? m.Str("") : Value::Str(m.ToStringCell(q->uri));
  }
  return Value::Str(m.ToStringCell(v));
}
// A prefix must be an XML name without a colon.
bool IsNcName(const std::string& s) {
  if (s.empty()) return false;
  const auto c0 = static_cast<unsigned char>(s[0]);
  if (!(std::isalpha(c0) || c0 == '_' || c0 >= 0x80)) return false;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c >= 0x80)) return false;
  }
  return true;
}
NATIVE(NamespaceCtor) {
  Object* o = self.AsObject();
  if (!o) return self;
  o->kind = ObjectKind::kNamespace;
  Value uri = a.empty() ? m.Str("") : UriOf(m, a.size() >= 2 ? a[1] : a[0]);
  const bool noUri = m.ToString(uri).empty();
  Value prefix;  // undefined: none
  if (a.size() < 2) {
    Object* from = a.empty() ? nullptr : a[0].AsObject();
    if (Value* p = from && from->kind == ObjectKind::kNamespace ? from->FindDyn("prefix") : nullptr) prefix = *p;
    else if (noUri) prefix = m.Str("");
  } else {
    const std::string text = m.ToString(a[0]);
    if (noUri) {
      if (!text.empty() || a[0].IsNullish())
        m.ThrowError("TypeError", "Illegal prefix " + text + " for no namespace.", 1098);
      prefix = m.Str("");
    } else if (!a[0].IsNullish() && (text.empty() || IsNcName(text))) {
      prefix = m.Str(text);
    }
  }
  o->SetDyn(m.Intern("uri"), uri);
  if (!prefix.IsUndefined()) o->SetDyn(m.Intern("prefix"), prefix);
  return self;
}
NATIVE(NamespaceUri) {
  (void)a;
  Object* o = self.AsObject();
  Value* u = o ? o->FindDyn("uri") : nullptr;
  return u ? *u : m.Str("");
}
NATIVE(NamespacePrefix) {
  (void)a;
  (void)m;
  Object* o = self.AsObject();
  Value* p = o ? o->FindDyn("prefix") : nullptr;
  return p ? *p : Value();
}

}  // namespace

void InstallReflection(Machine& m) {
  SetNativeCtor(m, m.namespaceClass, NamespaceCtor);
  m.AddGetter(m.namespaceClass, "uri", NamespaceUri);
  m.AddGetter(m.namespaceClass, "prefix", NamespacePrefix);
  m.AddMethod(m.namespaceClass, "toString", NamespaceUri);
  m.AddMethod(m.namespaceClass, "valueOf", NamespaceUri);

  Class* qname = m.DefineNativeClass("", "QName", m.objectClass, AllocQName, false);
  SetNativeCtor(m, qname, QNameCtor);
  m.AddGetter(qname, "localName", QNameLocal);
  m.AddGetter(qname, "uri", QNameUri);
  m.AddMethod(qname, "toString", QNameToString);
  m.AddMethod(qname, "valueOf", QNameValueOf);

  m.proxyNs = m.InternNs(NamespaceKind::kNamespace, kProxyUri);
  Class* proxy = m.DefineNativeClass("flash.utils", "Proxy", m.objectClass, nullptr, false);
  m.proxyClass = proxy;
  // The namespace itself, for names written flash_proxy::name in scripts.
  m.AddGlobal("flash.utils", "flash_proxy", Value::Obj(m.NewNamespace(m.Intern(kProxyUri))));
  // isAttribute is flash_proxy::isAttribute, a real method: a getProperty
  // that asks it must not come back to itself.
  m.AddMethod(proxy, "isAttribute", ProxyIsAttribute);
  AddProxyHooks(m, proxy, std::make_integer_sequence<int, std::size(kProxyHooks)>{});
  auto& members = proxy->instance.Edit();
  for (const char* hook : {"isAttribute", "getProperty", "setProperty", "callProperty", "hasProperty", "deleteProperty",
                           "getDescendants", "nextNameIndex", "nextName", "nextValue"}) {
    const NameId id = m.NameIdOf(hook);
    auto pub = members.find(Key(kPublicNs, id));
    if (pub == members.end()) continue;
    const Binding b = pub->second;
    members.erase(pub);
    if (std::string_view(hook) != "isAttribute" && b.method)
      b.method->traceName = std::string("flash.utils::Proxy/") + kProxyUri + "::" + hook;
    members[Key(m.proxyNs, id)] = b;
  }
  m.AddMethod(proxy, "hasOwnProperty", ProxyHasOwnProperty);
  m.AddGlobalFunction("flash.utils", "describeType", DescribeType);
  m.AddGlobalFunction("avmplus", "describeType", DescribeTypeWith);
  // Internal to its package: only code of package avmplus names it.
  m.AddGlobal(m.InternNs(NamespaceKind::kPackageInternal, "avmplus"), "describeTypeJSON",
              Value::Obj(m.NewNativeFunction("describeTypeJSON", DescribeTypeJson)));
  for (const auto& [name, value] : std::initializer_list<std::pair<const char*, std::uint32_t>>{
           {"HIDE_NSURI_METHODS", kHideNsUriMethods},
           {"INCLUDE_BASES", kIncludeBases},
           {"INCLUDE_INTERFACES", kIncludeInterfaces},
           {"INCLUDE_VARIABLES", kIncludeVariables},
           {"INCLUDE_ACCESSORS", kIncludeAccessors},
           {"INCLUDE_METHODS", kIncludeMethods},
           {"INCLUDE_METADATA", kIncludeMetadata},
           {"INCLUDE_CONSTRUCTOR", kIncludeConstructor},
           {"INCLUDE_TRAITS", kIncludeTraits},
           {"USE_ITRAITS", kUseItraits},
           {"HIDE_OBJECT", kHideObject},
           {"FLASH10_FLAGS", kFlash10Flags}})
    m.AddGlobal("avmplus", name, Value::Int(static_cast<std::int32_t>(value)));
}

}  // namespace quarvel::avm2
