#pragma once
// Writes ActionScript 3 byte code blocks from code, for tests.
//
//   AbcBuilder a;
//   const auto pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
//   AbcCode code;
//   code.Op("getlocal_0").Op("pushscope").Op("returnvoid");
//   const auto init = a.Method({});
//   a.Body({.method = init, .maxStack = 1, .localCount = 1, .maxScopeDepth = 1}, code);
//   a.Script({.init = init});
//   SwfBuilder b(10);
//   AddDoAbc(b, a.Bytes(), "frame1");
//
// The model is written as it stands, indices and all, so tests can also
// write damaged blocks by editing File().

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "player/avm2/abc_file.h"
#include "support/swf_builder.h"

namespace quarvel::testing {

// Method code from instruction names. Branches and lookupswitch take
// labels, resolved when Bytes() is taken.
class AbcCode {
 public:
  // An instruction and its operands in the table's order (a register, a
  // pool index, an argument count...). Throws std::invalid_argument for an
  // unknown name or the wrong number of operands.
  AbcCode& Op(std::string_view name, std::initializer_list<std::int64_t> operands = {});
  AbcCode& Branch(std::string_view name, std::string_view label);
  AbcCode& LookupSwitch(std::string_view defaultLabel, const std::vector<std::string>& caseLabels);
  AbcCode& Label(std::string_view name);  // here
  // A loop's head: Label(name) on a `label` instruction. Flash's verifier
  // takes a branch back only to a label (or a place a branch reached before).
  AbcCode& Loop(std::string_view name) { return Label(name).Op("label"); }
  AbcCode& Raw(std::initializer_list<std::uint8_t> bytes);

  std::size_t Size() const { return code_.size(); }
  std::uint32_t LabelOffset(std::string_view name) const;  // throws for an unknown label
  std::vector<std::uint8_t> Bytes() const;

 private:
  struct Fixup {
    std::size_t at;       // where the s24 goes
    std::size_t base;     // offsets count from here
    std::string label;
  };
  std::vector<std::uint8_t> code_{};
  std::vector<Fixup> fixups_{};
  std::map<std::string, std::size_t, std::less<>> labels_{};
};

class AbcBuilder {
 public:
  // Pool entries; equal entries are shared. Each returns the index.
  std::uint32_t Int(std::int32_t v);
  std::uint32_t UInt(std::uint32_t v);
  std::uint32_t Double(double v);
  std::uint32_t String(std::string_view s);
  std::uint32_t Namespace(avm2::NamespaceKind kind, std::string_view name);
  std::uint32_t NsSet(const std::vector<std::uint32_t>& namespaces);
  std::uint32_t QName(std::uint32_t ns, std::string_view name, bool attribute = false);
  std::uint32_t RTQName(std::string_view name, bool attribute = false);
  std::uint32_t RTQNameL(bool attribute = false);
  std::uint32_t Multiname(std::string_view name, std::uint32_t nsSet, bool attribute = false);
  std::uint32_t MultinameL(std::uint32_t nsSet, bool attribute = false);
  std::uint32_t TypeName(std::uint32_t base, const std::vector<std::uint32_t>& params);
  // A QName in a public package namespace ("" for the top level).
  std::uint32_t PackageName(std::string_view package, std::string_view name);

  std::uint32_t Method(avm2::MethodInfo m);
  std::uint32_t Metadata(avm2::Metadata md);
  // Instance and class parts of one class; returns the class index.
  std::uint32_t Class(avm2::InstanceInfo instance, avm2::ClassInfo cls);
  std::uint32_t Script(avm2::ScriptInfo script);
  // A body for b.method; the code comes from `code`.
  std::uint32_t Body(avm2::MethodBody b, const AbcCode& code);

  avm2::AbcFile& File() { return file_; }
  const avm2::AbcFile& File() const { return file_; }
  std::vector<std::uint8_t> Bytes() const { return WriteAbc(file_); }

  // The model in the file format, as it stands.
  static std::vector<std::uint8_t> WriteAbc(const avm2::AbcFile& f);

 private:
  std::uint32_t AddMultiname(const avm2::Multiname& m);

  avm2::AbcFile file_{};
};

// A DoABC tag (82, with flags and name) or the plain form (72).
std::vector<std::uint8_t> DoAbcBody(const std::vector<std::uint8_t>& abc, std::string_view name,
                                    std::uint32_t flags = avm2::kDoAbcLazyInitialize);
Timeline& AddDoAbc(Timeline& t, const std::vector<std::uint8_t>& abc, std::string_view name = "",
                   std::uint32_t flags = avm2::kDoAbcLazyInitialize);
Timeline& AddPlainDoAbc(Timeline& t, const std::vector<std::uint8_t>& abc);

}  // namespace quarvel::testing
