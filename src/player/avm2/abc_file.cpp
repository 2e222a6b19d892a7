#include "player/avm2/abc_file.h"

#include <bit>
#include <cstring>
#include <limits>

namespace quarvel::avm2 {
namespace {

// Little-endian reads and the format's variable-length integers; every read
// checks what is left.
class AbcReader {
 public:
  AbcReader(std::span<const std::uint8_t> data, std::size_t base) : data_(data), base_(base) {}

  std::size_t Offset() const { return base_ + pos_; }
  std::size_t Remaining() const { return data_.size() - pos_; }

  [[noreturn]] void Fail(const std::string& fault) const { throw AbcError(fault, Offset()); }
  [[noreturn]] void FailAt(const std::string& fault, std::size_t offset) const {
    throw AbcError(fault, offset);
  }

  std::uint8_t U8(const char* field) {
    Need(1, field);
    return data_[pos_++];
  }
  std::uint16_t U16(const char* field) {
    Need(2, field);
    const auto v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  // Seven bits a byte, low bits first, at most five bytes; the fifth byte
  // gives the top four bits and ends the number whatever its high bit says.
  std::uint32_t U30(const char* field) {
    std::uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
      if (pos_ >= data_.size()) Fail(std::string(field) + " is cut off");
      const std::uint8_t b = data_[pos_++];
      v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) break;
    }
    return v;
  }
  // Negative numbers take all five bytes: no sign extension of short forms.
  std::int32_t S32(const char* field) { return static_cast<std::int32_t>(U30(field)); }
  // Little-endian IEEE numbers: doubles, and the single-precision pool of
  // newer blocks.
  template <typename T, typename Bits>
  T Ieee(const char* field) {
    Need(sizeof(Bits), field);
    Bits bits = 0;
    for (std::size_t i = sizeof(Bits); i-- > 0;) bits = static_cast<Bits>(bits << 8 | data_[pos_ + i]);
    pos_ += sizeof(Bits);
    return std::bit_cast<T>(bits);
  }
  double D64(const char* field) { return Ieee<double, std::uint64_t>(field); }
  float F32(const char* field) { return Ieee<float, std::uint32_t>(field); }
  std::span<const std::uint8_t> Bytes(std::size_t n, const char* field) {
    Need(n, field);
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  // A count of entries that take at least minBytes each: refused before
  // anything is reserved when the data cannot hold them.
  std::uint32_t Count(const char* field, std::size_t minBytes = 1) {
    const std::size_t at = Offset();
    const std::uint32_t n = U30(field);
    if (static_cast<std::uint64_t>(n) * minBytes > Remaining())
      FailAt(std::string(field) + " " + std::to_string(n) + " exceeds the " +
                 std::to_string(Remaining()) + " bytes left",
             at);
    return n;
  }

 private:
  void Need(std::size_t n, const char* field) const {
    if (n > Remaining()) Fail(std::string(field) + " is cut off");
  }

  std::span<const std::uint8_t> data_;
  std::size_t base_;
  std::size_t pos_ = 0;
};

bool ValidNamespaceKind(std::uint8_t k) {
  switch (k) {
    case 0x05: case 0x08: case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A:
      return true;
    default:
      return false;
  }
}

class Parser {
 public:
  Parser(std::span<const std::uint8_t> data, std::size_t base) : r_(data, base) {}

  AbcFile Run() {
    f_.minorVersion = r_.U16("minor version");
    f_.majorVersion = r_.U16("major version");
    if (f_.majorVersion != 46 && f_.majorVersion != 47)
      r_.FailAt("unsupported ABC version " + std::to_string(f_.majorVersion) + "." +
                    std::to_string(f_.minorVersion),
                r_.Offset() - 4);
    ReadPool(HasFloatPool(f_.majorVersion, f_.minorVersion));

    const std::uint32_t methods = r_.Count("method count", 4);
    Charge<decltype(f_.methods)>(methods);
    f_.methods.reserve(methods);
    for (std::uint32_t i = 0; i < methods; ++i) f_.methods.push_back(ReadMethod());

    const std::uint32_t metadata = r_.Count("metadata count", 2);
    Charge<decltype(f_.metadata)>(metadata);
    f_.metadata.reserve(metadata);
    for (std::uint32_t i = 0; i < metadata; ++i) f_.metadata.push_back(ReadMetadata());

    classCount_ = r_.Count("class count", 8);
    Charge<decltype(f_.instances)>(classCount_);
    f_.instances.reserve(classCount_);
    for (std::uint32_t i = 0; i < classCount_; ++i) f_.instances.push_back(ReadInstance());
    Charge<decltype(f_.classes)>(classCount_);
    f_.classes.reserve(classCount_);
    for (std::uint32_t i = 0; i < classCount_; ++i) {
      ClassInfo c;
      c.cinit = Index(f_.methods.size(), "class initializer method", true);
      c.traits = ReadTraits();
      f_.classes.push_back(std::move(c));
    }

    const std::uint32_t scripts = r_.Count("script count", 2);
    Charge<decltype(f_.scripts)>(scripts);
    f_.scripts.reserve(scripts);
    for (std::uint32_t i = 0; i < scripts; ++i) {
      ScriptInfo s;
      s.init = Index(f_.methods.size(), "script initializer method", true);
      s.traits = ReadTraits();
      f_.scripts.push_back(std::move(s));
    }

    const std::uint32_t bodies = r_.Count("method body count", 8);
    Charge<decltype(f_.bodies)>(bodies);
    f_.bodies.reserve(bodies);
    for (std::uint32_t i = 0; i < bodies; ++i) {
      const std::size_t at = r_.Offset();
      MethodBody b = ReadBody();
      auto& owner = f_.methods[b.method].body;
      if (owner) r_.FailAt("second body for method " + std::to_string(b.method), at);
      owner = static_cast<std::uint32_t>(f_.bodies.size());
      f_.bodies.push_back(std::move(b));
    }
    return std::move(f_);
  }

 private:
  // Every entry costs more in the model than in the file; the total is
  // held to a budget so that a hostile block cannot exhaust memory.
  template <class Vector>
  void Charge(std::size_t count, std::size_t extra = 0) {
    modelBytes_ += count * sizeof(typename Vector::value_type) + extra;
    if (modelBytes_ > kMaxAbcModelBytes)
      r_.Fail("block needs more than the " + std::to_string(kMaxAbcModelBytes >> 20) + " MiB allowed a block");
  }

  // A pool index: below size; zero only where the format allows it.
  std::uint32_t Index(std::size_t size, const char* what, bool zeroAllowed) {
    const std::size_t at = r_.Offset();
    const std::uint32_t v = r_.U30(what);
    if (v >= size || (v == 0 && !zeroAllowed))
      r_.FailAt(std::string(what) + " index " + std::to_string(v) + " out of range (" +
                    std::to_string(size) + " entries)",
                at);
    return v;
  }
  std::uint32_t StringIndex(const char* what) { return Index(f_.pool.strings.size(), what, true); }
  std::uint32_t MultinameIndex(const char* what, bool zeroAllowed = true) {
    return Index(f_.pool.multinames.size(), what, zeroAllowed);
  }
  std::uint32_t MethodIndex(const char* what) { return Index(f_.methods.size(), what, true); }

  // Pools store count - 1 entries after the placeholder; a count of 0
  // means none as well.
  std::uint32_t PoolCount(const char* field, std::size_t minBytes) {
    const std::size_t at = r_.Offset();
    std::uint32_t n = r_.U30(field);
    if (n > 0) --n;
    if (static_cast<std::uint64_t>(n) * minBytes > r_.Remaining())
      r_.FailAt(std::string(field) + " " + std::to_string(n + 1) + " exceeds the " +
                    std::to_string(r_.Remaining()) + " bytes left",
                at);
    return n;
  }

  void ReadPool(bool withFloats) {
    auto& p = f_.pool;
    std::uint32_t n = PoolCount("int count", 1);
    Charge<decltype(p.ints)>(n + 1);
    p.ints.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) p.ints.push_back(r_.S32("int constant"));

    n = PoolCount("uint count", 1);
    Charge<decltype(p.uints)>(n + 1);
    p.uints.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) p.uints.push_back(r_.U30("uint constant"));

    n = PoolCount("double count", 8);
    Charge<decltype(p.doubles)>(n + 1);
    p.doubles.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) p.doubles.push_back(r_.D64("double constant"));

    if (withFloats) {
      n = PoolCount("float count", 4);
      Charge<decltype(p.floats)>(n + 1);
      p.floats.reserve(n + 1);
      for (std::uint32_t i = 0; i < n; ++i) p.floats.push_back(r_.F32("float constant"));
    }

    n = PoolCount("string count", 1);
    Charge<decltype(p.strings)>(n + 1);
    p.strings.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t len = r_.Count("string length");
      auto bytes = r_.Bytes(len, "string");
      Charge<std::string>(1, len);
      p.strings.emplace_back(bytes.begin(), bytes.end());
    }

    n = PoolCount("namespace count", 2);
    Charge<decltype(p.namespaces)>(n + 1);
    p.namespaces.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = r_.Offset();
      const std::uint8_t kind = r_.U8("namespace kind");
      if (!ValidNamespaceKind(kind)) r_.FailAt("unknown namespace kind " + std::to_string(kind), at);
      Namespace ns;
      ns.kind = static_cast<NamespaceKind>(kind);
      ns.name = StringIndex("namespace name");
      p.namespaces.push_back(ns);
    }

    n = PoolCount("namespace set count", 1);
    Charge<decltype(p.nsSets)>(n + 1);
    p.nsSets.reserve(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t count = r_.Count("namespace set size");
      std::vector<std::uint32_t> set;
      Charge<decltype(set)>(count);
      set.reserve(count);
      for (std::uint32_t j = 0; j < count; ++j)
        set.push_back(Index(p.namespaces.size(), "namespace set member", false));
      p.nsSets.push_back(std::move(set));
    }

    n = PoolCount("multiname count", 1);
    Charge<decltype(p.multinames)>(n + 1);
    p.multinames.reserve(n + 1);
    std::vector<std::size_t> typeNameAt;  // offsets of TypeName entries, checked at the end
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = r_.Offset();
      const std::uint8_t kind = r_.U8("multiname kind");
      Multiname m;
      m.kind = static_cast<MultinameKind>(kind);
      switch (m.kind) {
        case MultinameKind::kQName:
        case MultinameKind::kQNameA:
          m.ns = Index(p.namespaces.size(), "multiname namespace", true);
          m.name = StringIndex("multiname name");
          break;
        case MultinameKind::kRTQName:
        case MultinameKind::kRTQNameA:
          m.name = StringIndex("multiname name");
          break;
        case MultinameKind::kRTQNameL:
        case MultinameKind::kRTQNameLA:
          break;
        case MultinameKind::kMultiname:
        case MultinameKind::kMultinameA:
          m.name = StringIndex("multiname name");
          m.nsSet = Index(p.nsSets.size(), "multiname namespace set", false);
          break;
        case MultinameKind::kMultinameL:
        case MultinameKind::kMultinameLA:
          m.nsSet = Index(p.nsSets.size(), "multiname namespace set", false);
          break;
        case MultinameKind::kTypeName: {
          // May name entries later in the pool: checked once all are read.
          m.base = r_.U30("type name base");
          const std::uint32_t count = r_.Count("type name parameter count");
          Charge<decltype(m.params)>(count);
          m.params.reserve(count);
          for (std::uint32_t j = 0; j < count; ++j) m.params.push_back(r_.U30("type name parameter"));
          typeNameAt.push_back(at);
          break;
        }
        default:
          r_.FailAt("unknown multiname kind " + std::to_string(kind), at);
      }
      p.multinames.push_back(std::move(m));
    }
    CheckTypeNames(typeNameAt);
  }

  // Type names refer to whole names; a generic applied to itself, however
  // indirectly, would never resolve.
  void CheckTypeNames(const std::vector<std::size_t>& offsets) {
    const auto& mn = f_.pool.multinames;
    std::size_t k = 0;
    for (std::size_t i = 1; i < mn.size(); ++i) {
      if (mn[i].kind != MultinameKind::kTypeName) continue;
      const std::size_t at = offsets[k++];
      const auto& m = mn[i];
      if (m.base == 0 || m.base >= mn.size())
        r_.FailAt("type name base index " + std::to_string(m.base) + " out of range", at);
      if (mn[m.base].kind == MultinameKind::kTypeName)
        r_.FailAt("type name base is itself a type name", at);
      for (auto q : m.params)
        if (q >= mn.size())
          r_.FailAt("type name parameter index " + std::to_string(q) + " out of range", at);
    }
    // Cycle check without recursion: 1 = on the path, 2 = done.
    std::vector<std::uint8_t> state(mn.size(), 0);
    std::vector<std::pair<std::uint32_t, std::size_t>> stack;
    k = 0;
    for (std::size_t i = 1; i < mn.size(); ++i) {
      if (mn[i].kind != MultinameKind::kTypeName) continue;
      const std::size_t at = offsets[k++];
      if (state[i]) continue;
      state[i] = 1;
      stack.push_back({static_cast<std::uint32_t>(i), 0});
      while (!stack.empty()) {
        auto& [node, next] = stack.back();
        const auto& params = mn[node].params;
        if (next == params.size()) {
          state[node] = 2;
          stack.pop_back();
          continue;
        }
        const std::uint32_t q = params[next++];
        if (mn[q].kind != MultinameKind::kTypeName || state[q] == 2) continue;
        if (state[q] == 1) r_.FailAt("type name refers to itself", at);
        state[q] = 1;
        stack.push_back({q, 0});
      }
    }
  }

  ConstantValue ReadValue(std::uint32_t index, const std::size_t at) {
    const std::uint8_t kind = r_.U8("value kind");
    ConstantValue v{static_cast<ConstantKind>(kind), index};
    std::size_t size = 0;
    switch (v.kind) {
      case ConstantKind::kUndefined:
      case ConstantKind::kFalse:
      case ConstantKind::kTrue:
      case ConstantKind::kNull:
        return v;
      case ConstantKind::kUtf8: size = f_.pool.strings.size(); break;
      case ConstantKind::kInt: size = f_.pool.ints.size(); break;
      case ConstantKind::kUInt: size = f_.pool.uints.size(); break;
      case ConstantKind::kDouble: size = f_.pool.doubles.size(); break;
      case ConstantKind::kNamespace:
      case ConstantKind::kPrivateNs:
      case ConstantKind::kPackageNs:
      case ConstantKind::kPackageInternalNs:
      case ConstantKind::kProtectedNs:
      case ConstantKind::kExplicitNs:
      case ConstantKind::kStaticProtectedNs:
        size = f_.pool.namespaces.size();
        break;
      default:
        r_.FailAt("unknown value kind " + std::to_string(kind), r_.Offset() - 1);
    }
    if (index >= size)
      r_.FailAt("value index " + std::to_string(index) + " out of range (" + std::to_string(size) +
                    " entries)",
                at);
    return v;
  }

  MethodInfo ReadMethod() {
    MethodInfo m;
    const std::uint32_t params = r_.Count("parameter count");
    m.returnType = MultinameIndex("return type");
    Charge<decltype(m.paramTypes)>(params);
    m.paramTypes.reserve(params);
    for (std::uint32_t i = 0; i < params; ++i) m.paramTypes.push_back(MultinameIndex("parameter type"));
    m.name = StringIndex("method name");
    m.flags = r_.U8("method flags");
    if (m.Has(method_flag::kHasOptional)) {
      const std::size_t at = r_.Offset();
      const std::uint32_t n = r_.Count("optional parameter count", 2);
      if (n > params)
        r_.FailAt(std::to_string(n) + " optional parameters of " + std::to_string(params), at);
      Charge<decltype(m.optional)>(n);
      m.optional.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t vat = r_.Offset();
        const std::uint32_t index = r_.U30("optional value");
        m.optional.push_back(ReadValue(index, vat));
      }
    }
    if (m.Has(method_flag::kHasParamNames)) {
      Charge<decltype(m.paramNames)>(params);
      m.paramNames.reserve(params);
      for (std::uint32_t i = 0; i < params; ++i) m.paramNames.push_back(StringIndex("parameter name"));
    }
    return m;
  }

  Metadata ReadMetadata() {
    Metadata md;
    md.name = StringIndex("metadata name");
    const std::uint32_t n = r_.Count("metadata item count", 2);
    Charge<decltype(md.items)>(n);
    md.items.resize(n);
    // All keys, then all values.
    for (auto& item : md.items) item.key = StringIndex("metadata key");
    for (auto& item : md.items) item.value = StringIndex("metadata value");
    return md;
  }

  std::uint32_t ClassName(const char* what) {
    const std::size_t at = r_.Offset();
    const std::uint32_t v = MultinameIndex(what, false);
    if (f_.pool.multinames[v].kind != MultinameKind::kQName)
      r_.FailAt(std::string(what) + " " + std::to_string(v) + " is not a qualified name", at);
    return v;
  }

  InstanceInfo ReadInstance() {
    InstanceInfo in;
    in.name = ClassName("class name");
    in.superName = MultinameIndex("superclass name");
    in.flags = r_.U8("class flags");
    if (in.Has(instance_flag::kProtectedNs))
      in.protectedNs = Index(f_.pool.namespaces.size(), "protected namespace", false);
    const std::uint32_t n = r_.Count("interface count");
    Charge<decltype(in.interfaces)>(n);
    in.interfaces.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) in.interfaces.push_back(MultinameIndex("interface name", false));
    in.iinit = MethodIndex("instance initializer method");
    in.traits = ReadTraits();
    return in;
  }

  std::vector<Trait> ReadTraits() {
    const std::uint32_t n = r_.Count("trait count", 4);
    std::vector<Trait> traits;
    Charge<decltype(traits)>(n);
    traits.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) traits.push_back(ReadTrait());
    return traits;
  }

  Trait ReadTrait() {
    Trait t;
    t.name = ClassName("trait name");
    const std::size_t at = r_.Offset();
    const std::uint8_t kind = r_.U8("trait kind");
    if ((kind & 0x0F) > 6) r_.FailAt("unknown trait kind " + std::to_string(kind & 0x0F), at);
    t.kind = static_cast<TraitKind>(kind & 0x0F);
    t.attributes = static_cast<std::uint8_t>(kind >> 4);
    t.id = r_.U30("slot id");
    switch (t.kind) {
      case TraitKind::kSlot:
      case TraitKind::kConst: {
        t.typeName = MultinameIndex("slot type");
        const std::size_t vat = r_.Offset();
        const std::uint32_t index = r_.U30("slot value");
        if (index != 0) t.value = ReadValue(index, vat);
        break;
      }
      case TraitKind::kClass:
        t.index = Index(classCount_, "trait class", true);
        break;
      default:
        t.index = MethodIndex("trait method");
        break;
    }
    if (t.attributes & trait_attr::kMetadata) {
      const std::uint32_t n = r_.Count("trait metadata count");
      Charge<decltype(t.metadata)>(n);
      t.metadata.reserve(n);
      for (std::uint32_t i = 0; i < n; ++i)
        t.metadata.push_back(Index(f_.metadata.size(), "trait metadata", true));
    }
    return t;
  }

  MethodBody ReadBody() {
    MethodBody b;
    b.method = MethodIndex("body method");
    b.maxStack = r_.U30("max stack");
    b.localCount = r_.U30("local count");
    b.initScopeDepth = r_.U30("init scope depth");
    const std::size_t at = r_.Offset();
    b.maxScopeDepth = r_.U30("max scope depth");
    if (b.maxScopeDepth < b.initScopeDepth)
      r_.FailAt("max scope depth " + std::to_string(b.maxScopeDepth) + " below init scope depth " +
                    std::to_string(b.initScopeDepth),
                at);
    const std::uint32_t len = r_.Count("code length");
    b.codeOffset = r_.Offset();
    auto code = r_.Bytes(len, "code");
    Charge<std::vector<std::uint8_t>>(1, len);
    b.code.assign(code.begin(), code.end());
    const std::uint32_t n = r_.Count("exception count", 5);
    Charge<decltype(b.exceptions)>(n);
    b.exceptions.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      ExceptionInfo e;
      const std::size_t eat = r_.Offset();
      e.from = r_.U30("exception from");
      e.to = r_.U30("exception to");
      e.target = r_.U30("exception target");
      if (e.from > e.to || e.to > len || e.target >= len)
        r_.FailAt("exception range " + std::to_string(e.from) + "-" + std::to_string(e.to) +
                      " or target " + std::to_string(e.target) + " outside the code of " +
                      std::to_string(len) + " bytes",
                  eat);
      e.type = MultinameIndex("exception type");
      e.varName = MultinameIndex("exception variable name");
      b.exceptions.push_back(e);
    }
    b.traits = ReadTraits();
    return b;
  }

  AbcReader r_;
  AbcFile f_;
  std::uint32_t classCount_ = 0;
  std::size_t modelBytes_ = 0;
};

}  // namespace

bool Multiname::IsAttribute() const {
  switch (kind) {
    case MultinameKind::kQNameA:
    case MultinameKind::kRTQNameA:
    case MultinameKind::kRTQNameLA:
    case MultinameKind::kMultinameA:
    case MultinameKind::kMultinameLA:
      return true;
    default:
      return false;
  }
}

ConstantPool::ConstantPool()
    : doubles{std::numeric_limits<double>::quiet_NaN()}, floats{std::numeric_limits<float>::quiet_NaN()} {}

bool ConstantPool::operator==(const ConstantPool& o) const {
  // Doubles compare by bits so that NaN constants match themselves.
  if (doubles.size() != o.doubles.size()) return false;
  for (std::size_t i = 0; i < doubles.size(); ++i)
    if (std::memcmp(&doubles[i], &o.doubles[i], sizeof(double)) != 0) return false;
  if (floats.size() != o.floats.size()) return false;
  for (std::size_t i = 0; i < floats.size(); ++i)
    if (std::memcmp(&floats[i], &o.floats[i], sizeof(float)) != 0) return false;
  return ints == o.ints && uints == o.uints && strings == o.strings &&
         namespaces == o.namespaces && nsSets == o.nsSets && multinames == o.multinames;
}

std::string AbcFile::NameOf(std::uint32_t index) const {
  std::string out;
  AppendName(index, out);
  return out;
}

void AbcFile::AppendName(std::uint32_t index, std::string& out) const {
  // Cycles are refused when read, but a hostile block may still nest wide
  // type names deeply: a name is for people, so it stops at a readable length.
  if (out.size() > kMaxNameLength) return;
  if (index == 0 || index >= pool.multinames.size()) {
    out += '*';
    return;
  }
  const Multiname& m = pool.multinames[index];
  const std::string name = m.name ? pool.strings[m.name] : std::string("*");
  switch (m.kind) {
    case MultinameKind::kQName:
    case MultinameKind::kQNameA: {
      const std::string& ns = pool.strings[pool.namespaces[m.ns].name];
      out += (m.IsAttribute() ? "@" : "") + (ns.empty() ? name : ns + "::" + name);
      return;
    }
    case MultinameKind::kRTQName:
    case MultinameKind::kRTQNameA:
      out += "(runtime)::" + name;
      return;
    case MultinameKind::kRTQNameL:
    case MultinameKind::kRTQNameLA:
      out += "(runtime)::(runtime)";
      return;
    case MultinameKind::kMultiname:
    case MultinameKind::kMultinameA:
      out += name;
      return;
    case MultinameKind::kMultinameL:
    case MultinameKind::kMultinameLA:
      out += "(runtime)";
      return;
    case MultinameKind::kTypeName:
      AppendName(m.base, out);
      out += ".<";
      for (std::size_t i = 0; i < m.params.size(); ++i) {
        if (out.size() > kMaxNameLength) {
          out += "...";
          break;
        }
        if (i) out += ',';
        AppendName(m.params[i], out);
      }
      out += '>';
      return;
  }
  out += '*';
}

const MethodBody* AbcFile::BodyOf(std::uint32_t method) const {
  if (method >= methods.size() || !methods[method].body) return nullptr;
  return &bodies[*methods[method].body];
}

AbcFile ParseAbc(std::span<const std::uint8_t> data, std::size_t base) {
  return Parser(data, base).Run();
}

DoAbcTag ReadDoAbcTag(std::uint16_t code, std::span<const std::uint8_t> body, std::size_t bodyOffset) {
  DoAbcTag t;
  std::size_t pos = 0;
  if (code == kDoAbcTag) {
    if (body.size() < 4) throw AbcError("DoABC flags are cut off", bodyOffset);
    t.flags = static_cast<std::uint32_t>(body[0]) | static_cast<std::uint32_t>(body[1]) << 8 |
              static_cast<std::uint32_t>(body[2]) << 16 | static_cast<std::uint32_t>(body[3]) << 24;
    pos = 4;
    const std::size_t start = pos;
    while (pos < body.size() && body[pos] != 0) ++pos;
    if (pos == body.size()) throw AbcError("DoABC name has no end", bodyOffset + start);
    t.name.assign(body.begin() + static_cast<std::ptrdiff_t>(start),
                  body.begin() + static_cast<std::ptrdiff_t>(pos));
    ++pos;
  }
  t.abc = body.subspan(pos);
  t.abcOffset = bodyOffset + pos;
  return t;
}

}  // namespace quarvel::avm2
