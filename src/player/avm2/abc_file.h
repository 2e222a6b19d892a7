#pragma once
// ActionScript 3 byte code blocks (DoABC tags) read into a model. Every
// index into a pool is checked when the block is read, so code that walks
// the model may use them without further checks. Index 0 of each pool is a
// placeholder ("any" name, no namespace, 0, NaN, ""); the format lets some
// fields use it and forbids it in others.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "player/avm2/abc_error.h"

namespace quarvel::avm2 {

enum class NamespaceKind : std::uint8_t {
  kPrivate = 0x05,
  kNamespace = 0x08,
  kPackage = 0x16,
  kPackageInternal = 0x17,
  kProtected = 0x18,
  kExplicit = 0x19,
  kStaticProtected = 0x1A,
};

struct Namespace {
  NamespaceKind kind = NamespaceKind::kNamespace;
  std::uint32_t name = 0;  // string
  bool operator==(const Namespace&) const = default;
};

enum class MultinameKind : std::uint8_t {
  kQName = 0x07,
  kQNameA = 0x0D,
  kRTQName = 0x0F,
  kRTQNameA = 0x10,
  kRTQNameL = 0x11,
  kRTQNameLA = 0x12,
  kMultiname = 0x09,
  kMultinameA = 0x0E,
  kMultinameL = 0x1B,
  kMultinameLA = 0x1C,
  kTypeName = 0x1D,
};

struct Multiname {
  MultinameKind kind = MultinameKind::kQName;
  std::uint32_t ns = 0;      // QName(A): namespace, 0 = any
  std::uint32_t name = 0;    // QName(A), RTQName(A), Multiname(A): string, 0 = any
  std::uint32_t nsSet = 0;   // Multiname(A), MultinameL(A): namespace set
  std::uint32_t base = 0;    // TypeName: the generic type's multiname
  std::vector<std::uint32_t> params{};  // TypeName: multinames, 0 = any
  bool operator==(const Multiname&) const = default;

  bool IsAttribute() const;
  // The namespace comes from the stack (RTQName*). Inline: the
  // interpreter asks on every property instruction.
  bool HasRuntimeNamespace() const {
    return kind == MultinameKind::kRTQName || kind == MultinameKind::kRTQNameA ||
           kind == MultinameKind::kRTQNameL || kind == MultinameKind::kRTQNameLA;
  }
  // The name comes from the stack (RTQNameL*, MultinameL*).
  bool HasRuntimeName() const {
    return kind == MultinameKind::kRTQNameL || kind == MultinameKind::kRTQNameLA ||
           kind == MultinameKind::kMultinameL || kind == MultinameKind::kMultinameLA;
  }
};

// Blocks of version 47.16 and later carry a pool of single-precision
// floats between the doubles and the strings.
constexpr bool HasFloatPool(std::uint16_t major, std::uint16_t minor) {
  return major > 47 || (major == 47 && minor >= 16);
}

struct ConstantPool {
  std::vector<std::int32_t> ints{0};
  std::vector<std::uint32_t> uints{0};
  std::vector<double> doubles;  // [0] is NaN
  std::vector<float> floats;    // [0] is NaN; only blocks of 47.16 and later have them
  std::vector<std::string> strings{std::string()};  // bytes as stored (UTF-8)
  std::vector<Namespace> namespaces{Namespace{}};
  std::vector<std::vector<std::uint32_t>> nsSets{{}};  // namespace indices
  std::vector<Multiname> multinames{Multiname{}};

  ConstantPool();
  bool operator==(const ConstantPool&) const;
};

// The kind byte of a default value (optional parameters, slot values).
enum class ConstantKind : std::uint8_t {
  kUndefined = 0x00,
  kUtf8 = 0x01,
  kInt = 0x03,
  kUInt = 0x04,
  kPrivateNs = 0x05,
  kDouble = 0x06,
  kNamespace = 0x08,
  kFalse = 0x0A,
  kTrue = 0x0B,
  kNull = 0x0C,
  kPackageNs = 0x16,
  kPackageInternalNs = 0x17,
  kProtectedNs = 0x18,
  kExplicitNs = 0x19,
  kStaticProtectedNs = 0x1A,
};

// A value by pool index; the index is unused for undefined, true, false
// and null.
struct ConstantValue {
  ConstantKind kind = ConstantKind::kUndefined;
  std::uint32_t index = 0;
  bool operator==(const ConstantValue&) const = default;
};

namespace method_flag {
inline constexpr std::uint8_t kNeedArguments = 0x01;
inline constexpr std::uint8_t kNeedActivation = 0x02;
inline constexpr std::uint8_t kNeedRest = 0x04;
inline constexpr std::uint8_t kHasOptional = 0x08;
inline constexpr std::uint8_t kIgnoreRest = 0x10;
inline constexpr std::uint8_t kNative = 0x20;
inline constexpr std::uint8_t kSetDxns = 0x40;
inline constexpr std::uint8_t kHasParamNames = 0x80;
}  // namespace method_flag

struct MethodInfo {
  std::vector<std::uint32_t> paramTypes{};  // multinames, 0 = any
  std::uint32_t returnType = 0;             // multiname, 0 = any
  std::uint32_t name = 0;                   // string
  std::uint8_t flags = 0;
  std::vector<ConstantValue> optional{};    // defaults of the last parameters
  std::vector<std::uint32_t> paramNames{};  // strings, with kHasParamNames
  std::optional<std::uint32_t> body{};      // index into AbcFile::bodies
  bool operator==(const MethodInfo&) const = default;

  bool Has(std::uint8_t flag) const { return (flags & flag) != 0; }
};

struct MetadataItem {
  std::uint32_t key = 0;    // string, 0 for a value without a key
  std::uint32_t value = 0;  // string
  bool operator==(const MetadataItem&) const = default;
};

struct Metadata {
  std::uint32_t name = 0;  // string
  std::vector<MetadataItem> items{};
  bool operator==(const Metadata&) const = default;
};

enum class TraitKind : std::uint8_t {
  kSlot = 0,
  kMethod = 1,
  kGetter = 2,
  kSetter = 3,
  kClass = 4,
  kFunction = 5,
  kConst = 6,
};

namespace trait_attr {
inline constexpr std::uint8_t kFinal = 0x1;
inline constexpr std::uint8_t kOverride = 0x2;
inline constexpr std::uint8_t kMetadata = 0x4;
}  // namespace trait_attr

struct Trait {
  std::uint32_t name = 0;  // multiname, a QName
  TraitKind kind = TraitKind::kSlot;
  std::uint8_t attributes = 0;  // trait_attr bits
  // Slot id (slot, const, class, function) or dispatch id (method, getter,
  // setter); 0 lets the machine choose.
  std::uint32_t id = 0;
  std::uint32_t typeName = 0;  // slot, const: multiname, 0 = any
  std::optional<ConstantValue> value{};  // slot, const
  std::uint32_t index = 0;  // method (method, getter, setter, function) or class
  std::vector<std::uint32_t> metadata{};  // with trait_attr::kMetadata
  bool operator==(const Trait&) const = default;

  bool IsSlot() const { return kind == TraitKind::kSlot || kind == TraitKind::kConst; }
  bool IsMethodLike() const {
    return kind == TraitKind::kMethod || kind == TraitKind::kGetter ||
           kind == TraitKind::kSetter || kind == TraitKind::kFunction;
  }
};

namespace instance_flag {
inline constexpr std::uint8_t kSealed = 0x01;
inline constexpr std::uint8_t kFinal = 0x02;
inline constexpr std::uint8_t kInterface = 0x04;
inline constexpr std::uint8_t kProtectedNs = 0x08;
}  // namespace instance_flag

struct InstanceInfo {
  std::uint32_t name = 0;        // multiname, a QName
  std::uint32_t superName = 0;   // multiname, 0 = none
  std::uint8_t flags = 0;
  std::uint32_t protectedNs = 0;  // namespace, with instance_flag::kProtectedNs
  std::vector<std::uint32_t> interfaces{};  // multinames
  std::uint32_t iinit = 0;       // method
  std::vector<Trait> traits{};
  bool operator==(const InstanceInfo&) const = default;

  bool Has(std::uint8_t flag) const { return (flags & flag) != 0; }
};

struct ClassInfo {
  std::uint32_t cinit = 0;  // method
  std::vector<Trait> traits{};
  bool operator==(const ClassInfo&) const = default;
};

struct ScriptInfo {
  std::uint32_t init = 0;  // method
  std::vector<Trait> traits{};
  bool operator==(const ScriptInfo&) const = default;
};

struct ExceptionInfo {
  std::uint32_t from = 0;    // code byte offsets: [from, to) is guarded
  std::uint32_t to = 0;
  std::uint32_t target = 0;  // the handler
  std::uint32_t type = 0;    // multiname, 0 = any
  std::uint32_t varName = 0; // multiname, 0 = none
  bool operator==(const ExceptionInfo&) const = default;
};

struct MethodBody {
  std::uint32_t method = 0;
  std::uint32_t maxStack = 0;
  std::uint32_t localCount = 0;
  std::uint32_t initScopeDepth = 0;
  std::uint32_t maxScopeDepth = 0;
  std::vector<std::uint8_t> code{};
  std::vector<ExceptionInfo> exceptions{};
  std::vector<Trait> traits{};
  // Where the code starts, in the same terms as AbcError offsets.
  std::size_t codeOffset = 0;
  // The offset is where the file put the code, not part of the body.
  bool operator==(const MethodBody& o) const {
    return method == o.method && maxStack == o.maxStack && localCount == o.localCount &&
           initScopeDepth == o.initScopeDepth && maxScopeDepth == o.maxScopeDepth &&
           code == o.code && exceptions == o.exceptions && traits == o.traits;
  }
};

struct AbcFile {
  std::uint16_t minorVersion = 16;
  std::uint16_t majorVersion = 46;
  ConstantPool pool;
  std::vector<MethodInfo> methods{};
  std::vector<Metadata> metadata{};
  std::vector<InstanceInfo> instances{};  // instances[i] and classes[i] make class i
  std::vector<ClassInfo> classes{};
  std::vector<ScriptInfo> scripts{};
  std::vector<MethodBody> bodies{};
  bool operator==(const AbcFile&) const = default;

  const std::string& String(std::uint32_t index) const { return pool.strings.at(index); }
  // "pkg::name", "name", "*" or a description of a runtime name, for
  // messages and class lookups.
  std::string NameOf(std::uint32_t multiname) const;
  const MethodBody* BodyOf(std::uint32_t method) const;

 private:
  static constexpr std::size_t kMaxNameLength = 256;
  void AppendName(std::uint32_t multiname, std::string& out) const;
};

// The most memory one block's model may take (a hostile block of tiny
// entries would otherwise take some fifty times its size).
inline constexpr std::size_t kMaxAbcModelBytes = std::size_t{256} << 20;

// Reads a whole ABC block. base is added to the offsets in errors (the
// block's place in the movie). Throws AbcError.
AbcFile ParseAbc(std::span<const std::uint8_t> data, std::size_t base = 0);

inline constexpr std::uint16_t kDoAbcTag = 82;      // flags, name, ABC
inline constexpr std::uint16_t kDoAbcPlainTag = 72;  // ABC alone
inline constexpr std::uint32_t kDoAbcLazyInitialize = 1;

struct DoAbcTag {
  std::uint32_t flags = 0;
  std::string name;
  std::span<const std::uint8_t> abc;  // into the tag body
  std::size_t abcOffset = 0;          // of abc, in the terms of the body's offset
};

// Splits a DoABC (82) or plain DoABC (72) tag body; bodyOffset is the
// body's place in the movie. Throws AbcError when the head is cut off.
DoAbcTag ReadDoAbcTag(std::uint16_t code, std::span<const std::uint8_t> body,
                      std::size_t bodyOffset = 0);

}  // namespace quarvel::avm2
