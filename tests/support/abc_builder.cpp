#include "support/abc_builder.h"

#include <cstring>
#include <stdexcept>

#include "player/avm2/opcodes.h"

namespace quarvel::testing {
namespace {

using avm2::Operand;

void PutU30(std::vector<std::uint8_t>& out, std::uint32_t v) {
  do {
    std::uint8_t b = v & 0x7F;
    v >>= 7;
    if (v) b |= 0x80;
    out.push_back(b);
  } while (v);
}

void PutS24(std::vector<std::uint8_t>& out, std::size_t at, std::int64_t v) {
  if (v < -(1 << 23) || v >= (1 << 23)) throw std::invalid_argument("branch offset beyond 24 bits");
  const auto u = static_cast<std::uint32_t>(v);
  out[at] = u & 0xFF;
  out[at + 1] = (u >> 8) & 0xFF;
  out[at + 2] = (u >> 16) & 0xFF;
}

const avm2::OpcodeInfo& Lookup(std::string_view name) {
  const auto* op = avm2::FindOpcode(name);
  if (!op) throw std::invalid_argument("unknown instruction " + std::string(name));
  return *op;
}

class Writer {
 public:
  std::vector<std::uint8_t> out;

  void U8(std::uint8_t v) { out.push_back(v); }
  void U16(std::uint16_t v) {
    out.push_back(v & 0xFF);
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U30(std::uint32_t v) { PutU30(out, v); }
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  // Pools are written with one more than their entries beyond the
  // placeholder; a pool with only the placeholder is written as 0.
  template <class T, class F>
  void Pool(const std::vector<T>& v, F each) {
    U30(v.size() <= 1 ? 0 : static_cast<std::uint32_t>(v.size()));
    for (std::size_t i = 1; i < v.size(); ++i) each(v[i]);
  }
  void Traits(const std::vector<avm2::Trait>& traits) {
    U30(static_cast<std::uint32_t>(traits.size()));
    for (const auto& t : traits) {
      U30(t.name);
      U8(static_cast<std::uint8_t>(t.attributes << 4 | static_cast<std::uint8_t>(t.kind)));
      U30(t.id);
      if (t.IsSlot()) {
        U30(t.typeName);
        // A value at index 0 cannot be written: the format reads 0 as "none".
        if (t.value && t.value->index != 0) {
          U30(t.value->index);
          U8(static_cast<std::uint8_t>(t.value->kind));
        } else {
          U30(0);
        }
      } else {
        U30(t.index);
      }
      if (t.attributes & avm2::trait_attr::kMetadata) {
        U30(static_cast<std::uint32_t>(t.metadata.size()));
        for (auto m : t.metadata) U30(m);
      }
    }
  }
};

}  // namespace

AbcCode& AbcCode::Op(std::string_view name, std::initializer_list<std::int64_t> operands) {
  const auto& op = Lookup(name);
  if (static_cast<int>(operands.size()) != op.OperandCount() || op.operands[0] == Operand::kSwitch ||
      op.operands[0] == Operand::kBranch)
    throw std::invalid_argument("wrong operands for " + std::string(name));
  code_.push_back(op.code);
  std::size_t i = 0;
  for (std::int64_t v : operands) {
    switch (op.operands[i++]) {
      case Operand::kU8:
      case Operand::kS8:
        code_.push_back(static_cast<std::uint8_t>(v));
        break;
      default:
        PutU30(code_, static_cast<std::uint32_t>(v));
        break;
    }
  }
  return *this;
}

AbcCode& AbcCode::Branch(std::string_view name, std::string_view label) {
  const auto& op = Lookup(name);
  if (op.operands[0] != Operand::kBranch) throw std::invalid_argument(std::string(name) + " is no branch");
  code_.push_back(op.code);
  fixups_.push_back({code_.size(), code_.size() + 3, std::string(label)});
  code_.insert(code_.end(), 3, 0);
  return *this;
}

AbcCode& AbcCode::LookupSwitch(std::string_view defaultLabel, const std::vector<std::string>& caseLabels) {
  if (caseLabels.empty()) throw std::invalid_argument("lookupswitch needs a case");
  const std::size_t base = code_.size();
  code_.push_back(0x1B);
  fixups_.push_back({code_.size(), base, std::string(defaultLabel)});
  code_.insert(code_.end(), 3, 0);
  PutU30(code_, static_cast<std::uint32_t>(caseLabels.size() - 1));
  for (const auto& l : caseLabels) {
    fixups_.push_back({code_.size(), base, l});
    code_.insert(code_.end(), 3, 0);
  }
  return *this;
}

AbcCode& AbcCode::Label(std::string_view name) {
  labels_[std::string(name)] = code_.size();
  return *this;
}

AbcCode& AbcCode::Raw(std::initializer_list<std::uint8_t> bytes) {
  code_.insert(code_.end(), bytes);
  return *this;
}

std::uint32_t AbcCode::LabelOffset(std::string_view name) const {
  const auto it = labels_.find(name);
  if (it == labels_.end()) throw std::invalid_argument("unknown label " + std::string(name));
  return static_cast<std::uint32_t>(it->second);
}

std::vector<std::uint8_t> AbcCode::Bytes() const {
  auto out = code_;
  for (const auto& f : fixups_)
    PutS24(out, f.at, static_cast<std::int64_t>(LabelOffset(f.label)) - static_cast<std::int64_t>(f.base));
  return out;
}

std::uint32_t AbcBuilder::Int(std::int32_t v) {
  auto& p = file_.pool.ints;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == v) return static_cast<std::uint32_t>(i);
  p.push_back(v);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::UInt(std::uint32_t v) {
  auto& p = file_.pool.uints;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == v) return static_cast<std::uint32_t>(i);
  p.push_back(v);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::Double(double v) {
  auto& p = file_.pool.doubles;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (std::memcmp(&p[i], &v, sizeof v) == 0) return static_cast<std::uint32_t>(i);
  p.push_back(v);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::String(std::string_view s) {
  auto& p = file_.pool.strings;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == s) return static_cast<std::uint32_t>(i);
  p.emplace_back(s);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::Namespace(avm2::NamespaceKind kind, std::string_view name) {
  const avm2::Namespace ns{kind, String(name)};
  auto& p = file_.pool.namespaces;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == ns) return static_cast<std::uint32_t>(i);
  p.push_back(ns);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::NsSet(const std::vector<std::uint32_t>& namespaces) {
  auto& p = file_.pool.nsSets;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == namespaces) return static_cast<std::uint32_t>(i);
  p.push_back(namespaces);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::AddMultiname(const avm2::Multiname& m) {
  auto& p = file_.pool.multinames;
  for (std::size_t i = 1; i < p.size(); ++i)
    if (p[i] == m) return static_cast<std::uint32_t>(i);
  p.push_back(m);
  return static_cast<std::uint32_t>(p.size() - 1);
}

std::uint32_t AbcBuilder::QName(std::uint32_t ns, std::string_view name, bool attribute) {
  avm2::Multiname m;
  m.kind = attribute ? avm2::MultinameKind::kQNameA : avm2::MultinameKind::kQName;
  m.ns = ns;
  m.name = String(name);
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::RTQName(std::string_view name, bool attribute) {
  avm2::Multiname m;
  m.kind = attribute ? avm2::MultinameKind::kRTQNameA : avm2::MultinameKind::kRTQName;
  m.name = String(name);
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::RTQNameL(bool attribute) {
  avm2::Multiname m;
  m.kind = attribute ? avm2::MultinameKind::kRTQNameLA : avm2::MultinameKind::kRTQNameL;
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::Multiname(std::string_view name, std::uint32_t nsSet, bool attribute) {
  avm2::Multiname m;
  m.kind = attribute ? avm2::MultinameKind::kMultinameA : avm2::MultinameKind::kMultiname;
  m.name = String(name);
  m.nsSet = nsSet;
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::MultinameL(std::uint32_t nsSet, bool attribute) {
  avm2::Multiname m;
  m.kind = attribute ? avm2::MultinameKind::kMultinameLA : avm2::MultinameKind::kMultinameL;
  m.nsSet = nsSet;
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::TypeName(std::uint32_t base, const std::vector<std::uint32_t>& params) {
  avm2::Multiname m;
  m.kind = avm2::MultinameKind::kTypeName;
  m.base = base;
  m.params = params;
  return AddMultiname(m);
}

std::uint32_t AbcBuilder::PackageName(std::string_view package, std::string_view name) {
  return QName(Namespace(avm2::NamespaceKind::kPackage, package), name);
}

std::uint32_t AbcBuilder::Method(avm2::MethodInfo m) {
  m.body.reset();
  file_.methods.push_back(std::move(m));
  return static_cast<std::uint32_t>(file_.methods.size() - 1);
}

std::uint32_t AbcBuilder::Metadata(avm2::Metadata md) {
  file_.metadata.push_back(std::move(md));
  return static_cast<std::uint32_t>(file_.metadata.size() - 1);
}

std::uint32_t AbcBuilder::Class(avm2::InstanceInfo instance, avm2::ClassInfo cls) {
  file_.instances.push_back(std::move(instance));
  file_.classes.push_back(std::move(cls));
  return static_cast<std::uint32_t>(file_.classes.size() - 1);
}

std::uint32_t AbcBuilder::Script(avm2::ScriptInfo script) {
  file_.scripts.push_back(std::move(script));
  return static_cast<std::uint32_t>(file_.scripts.size() - 1);
}

std::uint32_t AbcBuilder::Body(avm2::MethodBody b, const AbcCode& code) {
  b.code = code.Bytes();
  const auto index = static_cast<std::uint32_t>(file_.bodies.size());
  if (b.method < file_.methods.size()) file_.methods[b.method].body = index;
  file_.bodies.push_back(std::move(b));
  return index;
}

std::vector<std::uint8_t> AbcBuilder::WriteAbc(const avm2::AbcFile& f) {
  Writer w;
  w.U16(f.minorVersion);
  w.U16(f.majorVersion);
  const auto& p = f.pool;
  w.Pool(p.ints, [&](std::int32_t v) { w.U30(static_cast<std::uint32_t>(v)); });
  w.Pool(p.uints, [&](std::uint32_t v) { w.U30(v); });
  w.Pool(p.doubles, [&](double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof d);
    for (int i = 0; i < 8; ++i) w.U8(static_cast<std::uint8_t>(bits >> (8 * i)));
  });
  if (avm2::HasFloatPool(f.majorVersion, f.minorVersion))
    w.Pool(p.floats, [&](float v) {
      std::uint32_t bits;
      std::memcpy(&bits, &v, sizeof v);
      for (int i = 0; i < 4; ++i) w.U8(static_cast<std::uint8_t>(bits >> (8 * i)));
    });
  w.Pool(p.strings, [&](const std::string& s) {
    w.U30(static_cast<std::uint32_t>(s.size()));
    w.Bytes(s.data(), s.size());
  });
  w.Pool(p.namespaces, [&](const avm2::Namespace& ns) {
    w.U8(static_cast<std::uint8_t>(ns.kind));
    w.U30(ns.name);
  });
  w.Pool(p.nsSets, [&](const std::vector<std::uint32_t>& set) {
    w.U30(static_cast<std::uint32_t>(set.size()));
    for (auto n : set) w.U30(n);
  });
  w.Pool(p.multinames, [&](const avm2::Multiname& m) {
    using K = avm2::MultinameKind;
    w.U8(static_cast<std::uint8_t>(m.kind));
    switch (m.kind) {
      case K::kQName:
      case K::kQNameA:
        w.U30(m.ns);
        w.U30(m.name);
        break;
      case K::kRTQName:
      case K::kRTQNameA:
        w.U30(m.name);
        break;
      case K::kRTQNameL:
      case K::kRTQNameLA:
        break;
      case K::kMultiname:
      case K::kMultinameA:
        w.U30(m.name);
        w.U30(m.nsSet);
        break;
      case K::kMultinameL:
      case K::kMultinameLA:
        w.U30(m.nsSet);
        break;
      case K::kTypeName:
        w.U30(m.base);
        w.U30(static_cast<std::uint32_t>(m.params.size()));
        for (auto q : m.params) w.U30(q);
        break;
    }
  });

  w.U30(static_cast<std::uint32_t>(f.methods.size()));
  for (const auto& m : f.methods) {
    w.U30(static_cast<std::uint32_t>(m.paramTypes.size()));
    w.U30(m.returnType);
    for (auto t : m.paramTypes) w.U30(t);
    w.U30(m.name);
    w.U8(m.flags);
    if (m.Has(avm2::method_flag::kHasOptional)) {
      w.U30(static_cast<std::uint32_t>(m.optional.size()));
      for (const auto& v : m.optional) {
        w.U30(v.index);
        w.U8(static_cast<std::uint8_t>(v.kind));
      }
    }
    if (m.Has(avm2::method_flag::kHasParamNames))
      for (auto n : m.paramNames) w.U30(n);
  }

  w.U30(static_cast<std::uint32_t>(f.metadata.size()));
  for (const auto& md : f.metadata) {
    w.U30(md.name);
    w.U30(static_cast<std::uint32_t>(md.items.size()));
    for (const auto& item : md.items) w.U30(item.key);
    for (const auto& item : md.items) w.U30(item.value);
  }

  w.U30(static_cast<std::uint32_t>(f.instances.size()));
  for (const auto& in : f.instances) {
    w.U30(in.name);
    w.U30(in.superName);
    w.U8(in.flags);
    if (in.Has(avm2::instance_flag::kProtectedNs)) w.U30(in.protectedNs);
    w.U30(static_cast<std::uint32_t>(in.interfaces.size()));
    for (auto i : in.interfaces) w.U30(i);
    w.U30(in.iinit);
    w.Traits(in.traits);
  }
  for (const auto& c : f.classes) {
    w.U30(c.cinit);
    w.Traits(c.traits);
  }

  w.U30(static_cast<std::uint32_t>(f.scripts.size()));
  for (const auto& s : f.scripts) {
    w.U30(s.init);
    w.Traits(s.traits);
  }

  w.U30(static_cast<std::uint32_t>(f.bodies.size()));
  for (const auto& b : f.bodies) {
    w.U30(b.method);
    w.U30(b.maxStack);
    w.U30(b.localCount);
    w.U30(b.initScopeDepth);
    w.U30(b.maxScopeDepth);
    w.U30(static_cast<std::uint32_t>(b.code.size()));
    w.Bytes(b.code.data(), b.code.size());
    w.U30(static_cast<std::uint32_t>(b.exceptions.size()));
    for (const auto& e : b.exceptions) {
      w.U30(e.from);
      w.U30(e.to);
      w.U30(e.target);
      w.U30(e.type);
      w.U30(e.varName);
    }
    w.Traits(b.traits);
  }
  return std::move(w.out);
}

std::vector<std::uint8_t> DoAbcBody(const std::vector<std::uint8_t>& abc, std::string_view name,
                                    std::uint32_t flags) {
  std::vector<std::uint8_t> body;
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(flags >> (8 * i)));
  body.insert(body.end(), name.begin(), name.end());
  body.push_back(0);
  body.insert(body.end(), abc.begin(), abc.end());
  return body;
}

Timeline& AddDoAbc(Timeline& t, const std::vector<std::uint8_t>& abc, std::string_view name,
                   std::uint32_t flags) {
  return t.Tag(avm2::kDoAbcTag, DoAbcBody(abc, name, flags));
}

Timeline& AddPlainDoAbc(Timeline& t, const std::vector<std::uint8_t>& abc) {
  return t.Tag(avm2::kDoAbcPlainTag, abc);
}

}  // namespace quarvel::testing
