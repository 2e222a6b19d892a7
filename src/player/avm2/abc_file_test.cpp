#include "player/avm2/abc_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "support/abc_builder.h"

namespace quarvel::avm2 {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;

// A block with every pool, every multiname kind, every method flag and
// value kind, metadata, a class with every instance flag and every trait
// kind, a script and bodies with exception tables.
AbcBuilder FullBlock() {
  AbcBuilder a;
  a.Int(-1);
  a.Int(300);
  a.Int(std::numeric_limits<std::int32_t>::min());
  a.UInt(0xFFFFFFFFu);
  a.UInt(127);
  a.Double(0.5);
  a.Double(-1e300);
  a.String(std::string("caf\xC3\xA9\0x", 7));  // UTF-8 and an embedded NUL
  const auto pub = a.Namespace(NamespaceKind::kPackage, "");
  const auto pkg = a.Namespace(NamespaceKind::kPackage, "flash.display");
  const auto internal = a.Namespace(NamespaceKind::kPackageInternal, "game");
  const auto priv = a.Namespace(NamespaceKind::kPrivate, "Hero");
  const auto prot = a.Namespace(NamespaceKind::kProtected, "game:Hero");
  const auto sprot = a.Namespace(NamespaceKind::kStaticProtected, "game:Hero");
  const auto expl = a.Namespace(NamespaceKind::kExplicit, "ns");
  const auto user = a.Namespace(NamespaceKind::kNamespace, "http://example.com/ns");
  const auto set = a.NsSet({pub, pkg, internal, priv});

  const auto sprite = a.QName(pkg, "Sprite");
  const auto heroName = a.QName(internal, "Hero");
  const auto vector = a.PackageName("__AS3__.vec", "Vector");
  const auto intName = a.PackageName("", "int");
  const auto vecInt = a.TypeName(vector, {intName});
  a.TypeName(vector, {vecInt});  // Vector.<Vector.<int>>
  a.TypeName(vector, {0});       // Vector.<*>
  a.QName(pub, "id", true);
  a.RTQName("x");
  a.RTQName("y", true);
  a.RTQNameL();
  a.RTQNameL(true);
  const auto trace = a.Multiname("trace", set);
  a.Multiname("width", set, true);
  a.MultinameL(set);
  a.MultinameL(set, true);
  const auto iface = a.Multiname("IEventDispatcher", set);

  MethodInfo m;
  m.paramTypes = {intName, 0, vecInt, sprite, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  m.returnType = intName;
  m.name = a.String("move");
  m.flags = method_flag::kNeedArguments | method_flag::kNeedActivation | method_flag::kHasOptional |
            method_flag::kSetDxns | method_flag::kHasParamNames;
  m.optional = {{ConstantKind::kInt, 1},          {ConstantKind::kUInt, 1},
                {ConstantKind::kDouble, 2},       {ConstantKind::kUtf8, 1},
                {ConstantKind::kTrue, 0},         {ConstantKind::kFalse, 0},
                {ConstantKind::kNull, 0},         {ConstantKind::kUndefined, 0},
                {ConstantKind::kNamespace, user}, {ConstantKind::kPackageNs, pub},
                {ConstantKind::kPackageInternalNs, internal}, {ConstantKind::kProtectedNs, prot},
                {ConstantKind::kExplicitNs, expl}, {ConstantKind::kStaticProtectedNs, sprot},
                {ConstantKind::kPrivateNs, priv}, {ConstantKind::kInt, 0}};
  for (std::size_t i = 0; i < m.paramTypes.size(); ++i) m.paramNames.push_back(a.String("p" + std::to_string(i)));
  const auto move = a.Method(m);
  const auto rest = a.Method({.paramTypes = {0}, .flags = method_flag::kNeedRest});
  const auto plain = a.Method({});
  const auto cinit = a.Method({});
  const auto sinit = a.Method({});

  const auto md = a.Metadata({a.String("Embed"), {{a.String("source"), a.String("hero.png")},
                                                   {0, a.String("keyless")}}});
  a.Metadata({a.String("Frame"), {}});

  InstanceInfo in;
  in.name = heroName;
  in.superName = sprite;
  in.flags = instance_flag::kSealed | instance_flag::kFinal | instance_flag::kProtectedNs;
  in.protectedNs = prot;
  in.interfaces = {iface};
  in.iinit = plain;
  in.traits = {
      {.name = a.QName(priv, "speed"), .kind = TraitKind::kSlot, .id = 1, .typeName = intName,
       .value = ConstantValue{ConstantKind::kInt, 2}},
      {.name = a.QName(pub, "LIMIT"), .kind = TraitKind::kConst, .attributes = trait_attr::kMetadata,
       .id = 2, .value = ConstantValue{ConstantKind::kUtf8, 1}, .metadata = {md}},
      {.name = a.QName(pub, "untyped"), .kind = TraitKind::kSlot},
      {.name = a.QName(pub, "move"), .kind = TraitKind::kMethod,
       .attributes = trait_attr::kFinal | trait_attr::kOverride, .id = 3, .index = move},
      {.name = a.QName(pub, "x"), .kind = TraitKind::kGetter, .index = plain},
      {.name = a.QName(pub, "x"), .kind = TraitKind::kSetter, .index = rest},
  };
  ClassInfo cls;
  cls.cinit = cinit;
  cls.traits = {{.name = a.QName(pub, "count"), .kind = TraitKind::kSlot, .id = 1,
                 .value = ConstantValue{ConstantKind::kNull, 12}}};
  a.Class(in, cls);
  a.Class({.name = a.QName(internal, "IThing"), .flags = instance_flag::kInterface, .iinit = plain}, {.cinit = plain});

  a.Script({.init = sinit,
            .traits = {{.name = heroName, .kind = TraitKind::kClass, .id = 1, .index = 0},
                       {.name = a.QName(pub, "helper"), .kind = TraitKind::kFunction, .id = 2, .index = rest}}});

  AbcCode code;
  code.Label("try").Op("getlocal_0").Op("pushscope").Op("findpropstrict", {trace})
      .Op("pushstring", {1}).Op("callpropvoid", {trace, 1}).Label("end").Op("returnvoid")
      .Label("catch").Op("newcatch", {0}).Op("pop").Op("returnvoid");
  a.Body({.method = sinit, .maxStack = 2, .localCount = 1, .initScopeDepth = 0, .maxScopeDepth = 2,
          .exceptions = {{code.LabelOffset("try"), code.LabelOffset("end"), code.LabelOffset("catch"),
                          a.PackageName("", "Error"), a.QName(pub, "e")}},
          .traits = {{.name = a.QName(pub, "local"), .kind = TraitKind::kSlot, .id = 1}}},
         code);
  AbcCode ret;
  ret.Op("returnvoid");
  for (auto method : {move, rest, plain, cinit})
    a.Body({.method = method, .maxStack = 0, .localCount = 20, .maxScopeDepth = 1}, ret);
  return a;
}

TEST(AbcFile, EveryStructureRoundTrips) {
  const AbcBuilder a = FullBlock();
  const auto bytes = a.Bytes();
  const AbcFile f = ParseAbc(bytes);
  EXPECT_EQ(f, a.File());

  // Spot checks that do not go through the builder's model.
  EXPECT_EQ(f.pool.ints[1], -1);
  EXPECT_EQ(f.pool.ints[3], std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(f.pool.uints[1], 0xFFFFFFFFu);
  EXPECT_EQ(f.pool.doubles[2], -1e300);
  EXPECT_TRUE(std::isnan(f.pool.doubles[0]));
  EXPECT_EQ(f.pool.strings[1], std::string("caf\xC3\xA9\0x", 7));
  EXPECT_EQ(f.NameOf(f.instances[0].superName), "flash.display::Sprite");
  EXPECT_EQ(f.NameOf(f.instances[0].name), "game::Hero");
  EXPECT_EQ(f.methods[0].optional.size(), 16u);
  EXPECT_TRUE(f.methods[0].Has(method_flag::kSetDxns));
  EXPECT_EQ(f.metadata[0].items[1].key, 0u);
  ASSERT_NE(f.BodyOf(4), nullptr);
  EXPECT_EQ(f.BodyOf(4)->exceptions.size(), 1u);
  EXPECT_EQ(f.BodyOf(4)->traits.size(), 1u);
  // Class 1 has no body: its methods all share "plain", which has one.
  EXPECT_EQ(f.instances[1].flags, instance_flag::kInterface);
}

TEST(AbcFile, MultinameKindsAndNames) {
  const AbcBuilder a = FullBlock();
  const AbcFile f = ParseAbc(a.Bytes());
  std::set<MultinameKind> kinds;
  for (std::size_t i = 1; i < f.pool.multinames.size(); ++i) kinds.insert(f.pool.multinames[i].kind);
  EXPECT_EQ(kinds.size(), 11u);

  auto find = [&](MultinameKind k) {
    for (std::uint32_t i = 1; i < f.pool.multinames.size(); ++i)
      if (f.pool.multinames[i].kind == k) return i;
    return 0u;
  };
  EXPECT_TRUE(f.pool.multinames[find(MultinameKind::kQNameA)].IsAttribute());
  EXPECT_FALSE(f.pool.multinames[find(MultinameKind::kQName)].IsAttribute());
  EXPECT_TRUE(f.pool.multinames[find(MultinameKind::kRTQNameL)].HasRuntimeName());
  EXPECT_TRUE(f.pool.multinames[find(MultinameKind::kRTQNameL)].HasRuntimeNamespace());
  EXPECT_TRUE(f.pool.multinames[find(MultinameKind::kRTQName)].HasRuntimeNamespace());
  EXPECT_FALSE(f.pool.multinames[find(MultinameKind::kRTQName)].HasRuntimeName());
  EXPECT_TRUE(f.pool.multinames[find(MultinameKind::kMultinameLA)].HasRuntimeName());
  EXPECT_EQ(f.NameOf(find(MultinameKind::kTypeName)), "__AS3__.vec::Vector.<int>");
  EXPECT_EQ(f.NameOf(find(MultinameKind::kTypeName) + 1), "__AS3__.vec::Vector.<__AS3__.vec::Vector.<int>>");
  EXPECT_EQ(f.NameOf(0), "*");
}

TEST(AbcFile, DeepOrWideTypeNamesGiveShortNames) {
  AbcBuilder a;
  const auto vector = a.PackageName("__AS3__.vec", "Vector");
  std::uint32_t t = a.PackageName("", "int");
  for (int i = 0; i < 40; ++i) t = a.TypeName(vector, std::vector<std::uint32_t>(50, t));
  const AbcFile f = ParseAbc(a.Bytes());
  const std::string name = f.NameOf(t);
  EXPECT_TRUE(name.starts_with("__AS3__.vec::Vector.<__AS3__.vec::Vector.<")) << name;
  EXPECT_NE(name.find("..."), std::string::npos);
  EXPECT_LT(name.size(), 1000u);
}

// Written by hand from the format, apart from the builder: the
// variable-length integers, the metadata layout (keys, then values) and
// the DoABC tag head.
TEST(AbcFile, ReadsHandWrittenBytes) {
  const std::vector<std::uint8_t> abc = {
      0x10, 0x00, 0x2E, 0x00,                    // 46.16
      0x03, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F,  // ints: 127, -1 (five bytes)
      0x02, 0xAC, 0x02,                          // uints: 300
      0x00,                                      // no doubles
      0x04, 0x01, 'k', 0x01, 'v', 0x01, 'M',     // strings "k" "v" "M"
      0x00, 0x00, 0x00,                          // no namespaces, sets, multinames
      0x01, 0x00, 0x00, 0x00, 0x00,              // one method: no params, any, no name, no flags
      0x01, 0x03, 0x02, 0x01, 0x00, 0x02, 0x02,  // metadata "M": keys "k", none; values "v", "v"
      0x00,                                      // no classes
      0x01, 0x00, 0x00,                          // one script: init 0, no traits
      0x01, 0x00, 0x01, 0x01, 0x00, 0x00,        // body of 0: stack 1, 1 local, scopes 0-0
      0x01, 0x47, 0x00, 0x00,                    // code: returnvoid; no exceptions, no traits
  };
  const AbcFile f = ParseAbc(abc);
  EXPECT_EQ(f.pool.ints, (std::vector<std::int32_t>{0, 127, -1}));
  EXPECT_EQ(f.pool.uints, (std::vector<std::uint32_t>{0, 300}));
  ASSERT_EQ(f.metadata.size(), 1u);
  EXPECT_EQ(f.String(f.metadata[0].name), "M");
  ASSERT_EQ(f.metadata[0].items.size(), 2u);
  EXPECT_EQ(f.String(f.metadata[0].items[0].key), "k");
  EXPECT_EQ(f.metadata[0].items[1].key, 0u);
  EXPECT_EQ(f.String(f.metadata[0].items[1].value), "v");
  EXPECT_EQ(f.bodies[0].code, std::vector<std::uint8_t>{0x47});
  EXPECT_EQ(f.bodies[0].codeOffset, abc.size() - 3);

  std::vector<std::uint8_t> tag = {0x01, 0x00, 0x00, 0x00, 'f', 'r', '1', 0x00};
  tag.insert(tag.end(), abc.begin(), abc.end());
  const DoAbcTag t = ReadDoAbcTag(kDoAbcTag, tag, 100);
  EXPECT_EQ(t.flags, kDoAbcLazyInitialize);
  EXPECT_EQ(t.name, "fr1");
  EXPECT_EQ(t.abcOffset, 108u);
  EXPECT_EQ(ParseAbc(t.abc, t.abcOffset).bodies[0].codeOffset, 108 + abc.size() - 3);

  const DoAbcTag plain = ReadDoAbcTag(kDoAbcPlainTag, abc, 7);
  EXPECT_EQ(plain.abc.size(), abc.size());
  EXPECT_EQ(plain.name, "");
  EXPECT_THROW(ReadDoAbcTag(kDoAbcTag, std::vector<std::uint8_t>{1, 0, 0, 0, 'x'}), AbcError);
  EXPECT_THROW(ReadDoAbcTag(kDoAbcTag, std::vector<std::uint8_t>{1, 0}), AbcError);
}

// Blocks of 47.16 (newer compilers) hold single-precision floats between
// the doubles and the strings; older blocks have no such pool.
TEST(AbcFile, FloatPoolOnlyFromVersion47_16) {
  auto block = [](std::uint8_t minor, std::uint8_t major, bool floats) {
    std::vector<std::uint8_t> abc = {minor, 0x00, major, 0x00, 0x00, 0x00, 0x02,
                                     0, 0, 0, 0, 0, 0, 0xF8, 0x3F};  // doubles: 1.5
    if (floats) abc.insert(abc.end(), {0x02, 0x00, 0x00, 0x20, 0x40});  // floats: 2.5f
    abc.insert(abc.end(), {0x02, 0x01, 'a', 0x00, 0x00, 0x00,  // strings "a"; no names
                           0x00, 0x00, 0x00, 0x00, 0x00});     // no methods ... bodies
    return abc;
  };
  const AbcFile f = ParseAbc(block(16, 47, true));
  EXPECT_EQ(f.pool.doubles.size(), 2u);
  ASSERT_EQ(f.pool.floats.size(), 2u);
  EXPECT_EQ(f.pool.floats[1], 2.5f);
  EXPECT_EQ(f.String(1), "a");
  EXPECT_EQ(ParseAbc(block(16, 46, false)).String(1), "a");
  EXPECT_EQ(ParseAbc(block(12, 47, false)).String(1), "a");
  EXPECT_THROW(ParseAbc(block(16, 46, true)), AbcError);

  // The builder writes the pool back for such blocks.
  auto a = FullBlock();
  a.File().majorVersion = 47;
  a.File().pool.floats.push_back(-0.25f);
  const AbcFile back = ParseAbc(a.Bytes());
  EXPECT_EQ(back.pool, a.File().pool);
}

TEST(AbcFileDamage, EveryTruncationThrowsTheTypedError) {
  const auto bytes = FullBlock().Bytes();
  ASSERT_NO_THROW(ParseAbc(bytes));
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    try {
      ParseAbc(std::span(bytes).first(n), 1000);
      ADD_FAILURE() << "a block cut to " << n << " bytes was read";
    } catch (const AbcError& e) {
      EXPECT_GE(e.Offset(), 1000u);
      EXPECT_LE(e.Offset(), 1000 + n) << e.what();
    }
  }
}

TEST(AbcFileDamage, HugeCountsAreRefusedBeforeAllocating) {
  // A string pool of a billion entries in a 12-byte block.
  const std::vector<std::uint8_t> strings = {0x10, 0x00, 0x2E, 0x00, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};
  try {
    ParseAbc(strings);
    FAIL();
  } catch (const AbcError& e) {
    EXPECT_NE(e.Fault().find("string count"), std::string::npos) << e.what();
    EXPECT_EQ(e.Offset(), 7u);
  }
  // A string longer than the block.
  const std::vector<std::uint8_t> longString = {0x10, 0x00, 0x2E, 0x00, 0, 0, 0, 0x02, 0xFF, 0xFF, 0x03, 'a'};
  EXPECT_THROW(ParseAbc(longString), AbcError);
  // A count of a billion methods after an empty pool.
  const std::vector<std::uint8_t> methods = {0x10, 0x00, 0x2E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x03};
  EXPECT_THROW(ParseAbc(methods), AbcError);
}

TEST(AbcFileDamage, ModelsBeyondTheMemoryBudgetAreRefused) {
  // Seven million one-byte runtime names: 7 MB in the file, several
  // hundred in the model.
  const std::uint32_t n = 7'000'000;
  std::vector<std::uint8_t> abc = {0x10, 0x00, 0x2E, 0x00, 0, 0, 0, 0, 0, 0};
  for (std::uint32_t v = n + 1; v; v >>= 7) abc.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v >> 7 ? 0x80 : 0)));
  abc.resize(abc.size() + n, 0x11);
  abc.insert(abc.end(), {0, 0, 0, 0, 0});
  try {
    ParseAbc(abc);
    FAIL();
  } catch (const AbcError& e) {
    EXPECT_NE(e.Fault().find("MiB allowed a block"), std::string::npos) << e.what();
  }
}

TEST(AbcFileDamage, VersionIsChecked) {
  auto a = FullBlock();
  a.File().majorVersion = 45;
  EXPECT_THROW(ParseAbc(a.Bytes()), AbcError);
  a.File().majorVersion = 47;
  a.File().minorVersion = 12;
  EXPECT_NO_THROW(ParseAbc(a.Bytes()));
}

// Each case breaks one reference in an otherwise valid block; the reader
// must refuse it and name the fault.
TEST(AbcFileDamage, OutOfRangeIndicesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(AbcFile&)> damage;
  };
  const std::vector<Case> cases = {
      {"namespace name", [](AbcFile& f) { f.pool.namespaces[1].name = 999; }},
      {"namespace set member", [](AbcFile& f) { f.pool.nsSets[1].push_back(0); }},
      {"multiname namespace", [](AbcFile& f) { f.pool.multinames[1].ns = 999; }},
      {"multiname name", [](AbcFile& f) { f.pool.multinames[1].name = 999; }},
      {"type name base index", [](AbcFile& f) {
         for (auto& m : f.pool.multinames)
           if (m.kind == MultinameKind::kTypeName) m.base = 999;
       }},
      {"type name parameter", [](AbcFile& f) {
         for (auto& m : f.pool.multinames)
           if (m.kind == MultinameKind::kTypeName) m.params[0] = 999;
       }},
      {"refers to itself", [](AbcFile& f) {
         for (std::uint32_t i = 1; i < f.pool.multinames.size(); ++i)
           if (f.pool.multinames[i].kind == MultinameKind::kTypeName) f.pool.multinames[i].params[0] = i;
       }},
      {"multiname namespace set", [](AbcFile& f) {
         for (auto& m : f.pool.multinames)
           if (m.kind == MultinameKind::kMultinameL) m.nsSet = 0;
       }},
      {"return type", [](AbcFile& f) { f.methods[0].returnType = 999; }},
      {"parameter type", [](AbcFile& f) { f.methods[0].paramTypes[0] = 999; }},
      {"method name", [](AbcFile& f) { f.methods[0].name = 999; }},
      {"value index", [](AbcFile& f) { f.methods[0].optional[0].index = 999; }},
      {"value index", [](AbcFile& f) { f.methods[0].optional[8].index = 999; }},
      {"unknown value kind", [](AbcFile& f) { f.methods[0].optional[0].kind = static_cast<ConstantKind>(2); }},
      {"optional parameters", [](AbcFile& f) { f.methods[1].flags |= method_flag::kHasOptional;
         f.methods[1].optional.assign(2, {}); }},
      {"parameter name", [](AbcFile& f) { f.methods[0].paramNames[3] = 999; }},
      {"metadata key", [](AbcFile& f) { f.metadata[0].items[0].key = 999; }},
      {"metadata value", [](AbcFile& f) { f.metadata[0].items[1].value = 999; }},
      {"class name", [](AbcFile& f) { f.instances[0].name = 0; }},
      {"not a qualified name", [](AbcFile& f) { f.instances[0].name = f.instances[0].interfaces[0]; }},
      {"superclass name", [](AbcFile& f) { f.instances[0].superName = 999; }},
      {"protected namespace", [](AbcFile& f) { f.instances[0].protectedNs = 0; }},
      {"interface name", [](AbcFile& f) { f.instances[0].interfaces[0] = 0; }},
      {"instance initializer", [](AbcFile& f) { f.instances[0].iinit = 999; }},
      {"class initializer", [](AbcFile& f) { f.classes[0].cinit = 999; }},
      {"script initializer", [](AbcFile& f) { f.scripts[0].init = 999; }},
      {"trait name", [](AbcFile& f) { f.instances[0].traits[0].name = 999; }},
      {"slot type", [](AbcFile& f) { f.instances[0].traits[0].typeName = 999; }},
      {"trait method", [](AbcFile& f) { f.instances[0].traits[3].index = 999; }},
      {"trait class", [](AbcFile& f) { f.scripts[0].traits[0].index = 2; }},
      {"trait metadata", [](AbcFile& f) { f.instances[0].traits[1].metadata[0] = 2; }},
      {"body method", [](AbcFile& f) { f.bodies[0].method = 999; }},
      {"second body", [](AbcFile& f) { f.bodies[1].method = f.bodies[0].method; }},
      {"max scope depth", [](AbcFile& f) { f.bodies[0].initScopeDepth = 3; }},
      {"exception range", [](AbcFile& f) { f.bodies[0].exceptions[0].to = 999; }},
      {"exception range", [](AbcFile& f) { std::swap(f.bodies[0].exceptions[0].to, f.bodies[0].exceptions[0].from); }},
      {"target", [](AbcFile& f) { f.bodies[0].exceptions[0].target = static_cast<std::uint32_t>(f.bodies[0].code.size()); }},
      {"exception type", [](AbcFile& f) { f.bodies[0].exceptions[0].type = 999; }},
      {"exception variable name", [](AbcFile& f) { f.bodies[0].exceptions[0].varName = 999; }},
  };
  for (const auto& c : cases) {
    AbcBuilder a = FullBlock();
    c.damage(a.File());
    try {
      ParseAbc(a.Bytes());
      ADD_FAILURE() << "accepted: " << c.what;
    } catch (const AbcError& e) {
      EXPECT_NE(e.Fault().find(c.what), std::string::npos) << "expected \"" << c.what << "\", got " << e.what();
    }
  }
}

TEST(AbcFileDamage, UnknownKindsAreRefused) {
  // The bytes of kinds the model cannot hold: patch them into written blocks.
  AbcBuilder a;
  a.Namespace(NamespaceKind::kPackage, "p");
  auto bytes = a.Bytes();
  // 46.16, no ints, uints, doubles; 2 strings (len 1 "p"), 2 namespaces: kind byte next.
  const std::size_t nsKind = 4 + 3 + 1 + 2 + 1;
  ASSERT_EQ(bytes[nsKind], 0x16);
  bytes[nsKind] = 0x07;
  EXPECT_THROW(ParseAbc(bytes), AbcError);

  AbcBuilder b;
  b.RTQNameL();
  bytes = b.Bytes();
  const std::size_t mnKind = 4 + 6 + 1;
  ASSERT_EQ(bytes[mnKind], 0x11);
  bytes[mnKind] = 0x1E;
  EXPECT_THROW(ParseAbc(bytes), AbcError);

  AbcBuilder c;
  const auto name = c.PackageName("", "v");
  c.Method({});
  c.Script({.init = 0, .traits = {{.name = name, .kind = TraitKind::kSlot}}});
  bytes = c.Bytes();
  // The trait kind byte follows the name index, near the end.
  const std::size_t traitKind = bytes.size() - 1 - 4;
  ASSERT_EQ(bytes[traitKind - 1], name);
  bytes[traitKind] = 0x07;
  EXPECT_THROW(ParseAbc(bytes), AbcError);
}

}  // namespace
}  // namespace quarvel::avm2
