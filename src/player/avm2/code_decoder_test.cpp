#include "player/avm2/code_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "support/abc_builder.h"

namespace quarvel::avm2 {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;

// A block with one entry of each pool, one class, one method taking one
// parameter, and a body for it holding `code`.
struct Fixture {
  AbcBuilder a;
  AbcFile file;

  explicit Fixture(const std::vector<std::uint8_t>& code, std::uint32_t locals = 4,
                   std::vector<ExceptionInfo> exceptions = {}, std::uint8_t methodFlags = 0) {
    a.Int(-7);
    a.UInt(7);
    a.Double(7.5);
    const auto pub = a.Namespace(NamespaceKind::kPackage, "");
    const auto name = a.QName(pub, "C");
    const auto m = a.Method({.paramTypes = {0}});
    const auto other = a.Method({});
    a.Class({.name = name, .iinit = m}, {.cinit = m});
    a.Class({.name = a.QName(pub, "D"), .iinit = other}, {.cinit = other});
    a.File().bodies.push_back({.method = m, .maxStack = 4, .localCount = locals, .maxScopeDepth = 2,
                               .code = code, .exceptions = std::move(exceptions)});
    a.File().methods[m].body = 0;
    a.File().methods[m].flags |= methodFlags;
    file = ParseAbc(a.Bytes(), 500);
  }
  const MethodBody& Body() const { return file.bodies[0]; }
  DecodedCode Decode() const { return DecodeCode(file, Body()); }
  void DecodeAndVerify() const { VerifyCode(file, Body(), Decode()); }
};

std::string FaultOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const AbcError& e) {
    return e.Fault();
  }
  return "(no error)";
}

TEST(Opcodes, TableIsConsistent) {
  std::set<std::string_view> names;
  std::set<int> codes;
  for (const auto& op : AllOpcodes()) {
    EXPECT_TRUE(names.insert(op.name).second) << op.name;
    EXPECT_TRUE(codes.insert(op.code).second) << op.name;
    EXPECT_EQ(FindOpcode(op.code), &op);
    EXPECT_EQ(FindOpcode(op.name), &op);
  }
  EXPECT_EQ(FindOpcode(std::uint8_t{0x00}), nullptr);
  EXPECT_EQ(FindOpcode(std::uint8_t{0xFF}), nullptr);
  EXPECT_EQ(FindOpcode("no such op"), nullptr);
  // Spot checks against the format: codes compilers emit all the time.
  EXPECT_EQ(FindOpcode("getlex")->code, 0x60);
  EXPECT_EQ(FindOpcode("callpropvoid")->code, 0x4F);
  EXPECT_EQ(FindOpcode("returnvoid")->code, 0x47);
  EXPECT_EQ(FindOpcode("hasnext2")->code, 0x32);
  EXPECT_EQ(FindOpcode("iffalse")->code, 0x12);
  EXPECT_EQ(FindOpcode("coerce_s")->code, 0x85);
  EXPECT_EQ(FindOpcode("setlocal_3")->code, 0xD7);
  EXPECT_TRUE(FindOpcode("throw")->EndsBlock());
  EXPECT_TRUE(FindOpcode("jump")->EndsBlock());
  EXPECT_FALSE(FindOpcode("iftrue")->EndsBlock());
}

// Bytes written by hand from the format: operand sizes and where branch
// offsets count from.
TEST(CodeDecoder, ReadsHandWrittenOperands) {
  const std::vector<std::uint8_t> code = {
      0x24, 0xFF,                    // 0 pushbyte -1
      0x25, 0xFF, 0xFF, 0x03,        // 2 pushshort, raw u30 0xFFFF
      0x65, 0x02,                    // 6 getscopeobject 2 (one byte)
      0xEF, 0x01, 0x01, 0x03, 0x80, 0x01,  // 8 debug: kind 1, string 1, register 3, extra 128
      0x10, 0x02, 0x00, 0x00,        // 14 jump +2 from 18 -> 20
      0x09, 0x09,                    // 18 label, label
      0x15, 0xFA, 0xFF, 0xFF,        // 20 iflt -6 from 24 -> 18
      0x1B, 0x0B, 0x00, 0x00,        // 24 lookupswitch: default +11 from 24 -> 35
      0x01,                          //    two cases
      0xFC, 0xFF, 0xFF,              //    -4 -> 20
      0xFB, 0xFF, 0xFF,              //    -5 -> 19 (a branch back lands on a label)
      0x2D, 0x01,                    // 35 pushint 1
      0x46, 0x01, 0x02,              // 37 callproperty multiname 1, 2 arguments
      0x43, 0x80, 0x01, 0x00,        // 40 callmethod dispatch 128, no arguments
      0x48,                          // 44 returnvalue
  };
  Fixture fx(code);
  const DecodedCode d = fx.Decode();
  ASSERT_EQ(d.instructions.size(), 13u);
  const auto& in = d.instructions;
  EXPECT_EQ(in[0].Signed(0), -1);
  EXPECT_EQ(in[1].args[0], 0xFFFFu);
  EXPECT_EQ(in[2].offset, 6u);
  EXPECT_EQ(in[2].args[0], 2u);
  EXPECT_EQ(in[3].offset, 8u);
  EXPECT_EQ(in[3].args, (std::array<std::uint32_t, 4>{1, 1, 3, 128}));
  EXPECT_EQ(in[4].args[0], 20u);
  EXPECT_EQ(in[7].offset, 20u);
  EXPECT_EQ(in[7].args[0], 18u);
  EXPECT_EQ(in[8].offset, 24u);
  EXPECT_EQ(in[8].args[0], 35u);
  ASSERT_EQ(in[8].args[1], 2u);
  EXPECT_EQ(d.switchTargets[in[8].args[2]], 20u);
  EXPECT_EQ(d.switchTargets[in[8].args[2] + 1], 19u);
  EXPECT_EQ(in[9].offset, 35u);
  EXPECT_EQ(in[10].args[0], 1u);
  EXPECT_EQ(in[10].args[1], 2u);
  EXPECT_EQ(in[11].args[0], 128u);
  EXPECT_EQ(d.IndexAt(20), 7);
  EXPECT_EQ(d.IndexAt(21), -1);
  EXPECT_EQ(d.IndexAt(999), -1);
  EXPECT_NO_THROW(fx.DecodeAndVerify());
}

// Every instruction of the table, assembled by name with operands in
// range, decodes back to itself.
TEST(CodeDecoder, EveryOpcodeDecodes) {
  AbcCode code;
  std::vector<std::uint8_t> expected;
  int next = 0;
  for (const auto& op : AllOpcodes()) {
    // What follows an instruction that ends a block is reached by a branch
    // around it.
    const std::string after = "after" + std::to_string(next++);
    if (op.flags & op_flag::kEnds) {
      code.Branch("iftrue", after);
      expected.push_back(0x11);
    }
    if (op.flags & (op_flag::kJump | op_flag::kConditional)) {
      code.Branch(op.name, after);
    } else if (op.flags & op_flag::kSwitch) {
      code.LookupSwitch(after, {after, after});
    } else {
      std::vector<std::int64_t> args;
      for (int i = 0; i < op.OperandCount(); ++i) args.push_back(1);
      switch (args.size()) {
        case 0: code.Op(op.name); break;
        case 1: code.Op(op.name, {args[0]}); break;
        case 2: code.Op(op.name, {args[0], args[1]}); break;
        default: code.Op(op.name, {1, 1, 1, 1}); break;
      }
    }
    expected.push_back(op.code);
    code.Label(after);
  }
  code.Op("returnvoid");
  expected.push_back(0x47);
  // (dxns and dxnslate need the method's flag to set the default XML namespace)
  Fixture fx(code.Bytes(), 4, {{0, 1, 1, 0, 0}, {0, 1, 1, 0, 0}}, method_flag::kSetDxns);
  const DecodedCode d = fx.Decode();
  ASSERT_EQ(d.instructions.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& in = d.instructions[i];
    EXPECT_EQ(in.code, expected[i]);
    const auto& op = in.Info();
    const std::uint32_t next = i + 1 < expected.size() ? d.instructions[i + 1].offset : 0;
    if (op.flags & (op_flag::kJump | op_flag::kConditional)) {
      // Each branch goes just past itself or past the instruction it guards.
      EXPECT_TRUE(in.args[0] == next || (i + 2 < expected.size() && in.args[0] == d.instructions[i + 2].offset))
          << op.name;
    } else if (op.flags & op_flag::kSwitch) {
      EXPECT_EQ(in.args[0], next);
      EXPECT_EQ(in.args[1], 2u);
    } else {
      for (int k = 0; k < op.OperandCount(); ++k) EXPECT_EQ(in.args[static_cast<std::size_t>(k)], 1u) << op.name;
    }
  }
  EXPECT_NO_THROW(VerifyCode(fx.file, fx.Body(), d));
}

// Each instruction's operands written byte by byte from the format, not
// through the table: the decoder reads back exactly what was written, and
// as many bytes. An iftrue in front lands just past the instruction, so a
// wrong length shows even after a return or throw.
TEST(CodeDecoder, OperandKindsReadAsTheFormatWritesThem) {
  for (const auto& op : AllOpcodes()) {
    std::vector<std::uint8_t> bytes{op.code};
    std::array<std::uint32_t, 4> want{};
    if (op.flags & op_flag::kSwitch) {
      // default and one case, both to the end, from the instruction's start
      bytes.insert(bytes.end(), {8, 0, 0, 0, 8, 0, 0});
      want = {12, 1, 0, 0};
    } else {
      for (int i = 0; i < op.OperandCount(); ++i) {
        std::uint32_t& w = want[static_cast<std::size_t>(i)];
        switch (op.operands[static_cast<std::size_t>(i)]) {
          case Operand::kU8: bytes.push_back(3); w = 3; break;
          case Operand::kS8: bytes.push_back(0xFE); w = static_cast<std::uint32_t>(-2); break;
          case Operand::kBranch: bytes.insert(bytes.end(), {0, 0, 0}); w = 0; break;  // patched below
          case Operand::kU30: case Operand::kArgCount: case Operand::kRegister: case Operand::kSlot:
          case Operand::kDispId: case Operand::kLine:
            bytes.insert(bytes.end(), {0xAC, 0x02});  // 300 in two bytes
            w = 300;
            break;
          case Operand::kException: bytes.push_back(0); w = 0; break;
          default: bytes.push_back(1); w = 1; break;  // an index into a pool or a table
        }
      }
    }
    const auto len = static_cast<std::uint8_t>(bytes.size());
    for (int i = 0; i < op.OperandCount(); ++i)
      if (op.operands[static_cast<std::size_t>(i)] == Operand::kBranch) want[static_cast<std::size_t>(i)] = 4u + len;
    std::vector<std::uint8_t> code{0x11, len, 0, 0};
    code.insert(code.end(), bytes.begin(), bytes.end());
    code.push_back(0x47);
    Fixture fx(code, 4, {{0, 1, 4u + len, 0, 0}});
    DecodedCode d;
    ASSERT_NO_THROW(d = fx.Decode()) << op.name;
    ASSERT_EQ(d.instructions.size(), 3u) << op.name;
    EXPECT_EQ(d.instructions[1].code, op.code);
    EXPECT_EQ(d.instructions[1].args, want) << op.name;
    EXPECT_EQ(d.instructions[2].offset, 4u + len) << op.name;
  }
}

TEST(CodeDecoder, DamagedCodeIsRefused) {
  struct Case {
    std::vector<std::uint8_t> code;
    const char* fault;
  };
  const std::vector<Case> cases = {
      {{0xFF}, "unknown opcode 255"},
      {{0x02, 0x22, 0x47}, "unknown opcode 34"},
      {{0x2C}, "cut off"},
      {{0x2C, 0x80}, "cut off"},
      {{0x10, 0x00}, "cut off"},
      {{0x1B, 0x00, 0x00, 0x00, 0x05, 0, 0, 0}, "case count"},
      {{0x10, 0x10, 0x00, 0x00, 0x47}, "outside the code"},
      {{0x10, 0xF0, 0xFF, 0xFF, 0x47}, "outside the code"},
      {{0x10, 0x00, 0x00, 0x00}, "outside the code"},  // to the very end: nothing there
      {{0x2C, 0x00, 0x47}, "string index 0"},
      {{0x2C, 0x63, 0x47}, "string index 99"},
      {{0x2D, 0x02, 0x47}, "int index 2"},
      {{0x2E, 0x02, 0x47}, "uint index 2"},
      {{0x2F, 0x02, 0x47}, "double index 2"},
      {{0x31, 0x00, 0x47}, "namespace index 0"},
      {{0x66, 0x00, 0x47}, "multiname index 0"},
      {{0x66, 0x09, 0x47}, "multiname index 9"},
      {{0x40, 0x02, 0x47}, "method index 2"},
      {{0x58, 0x02, 0x47}, "class index 2"},
      {{0x5A, 0x00, 0x47}, "exception index 0"},
  };
  for (const auto& c : cases) {
    Fixture fx(c.code);
    const std::string fault = FaultOf([&] { fx.Decode(); });
    EXPECT_NE(fault.find(c.fault), std::string::npos) << "expected \"" << c.fault << "\", got " << fault;
  }
  // Offsets in errors point into the movie: the body's code plus the instruction.
  Fixture fx({0x02, 0x02, 0xFF});
  try {
    fx.Decode();
    FAIL();
  } catch (const AbcError& e) {
    EXPECT_EQ(e.Offset(), fx.Body().codeOffset + 2);
    EXPECT_GT(fx.Body().codeOffset, 500u);
  }
}

// Faults Flash's verifier reports by number carry that number and its text.
TEST(CodeDecoder, FaultsCarryTheVerifierErrorFlashReports) {
  struct Case {
    std::vector<std::uint8_t> code;
    int id;
    const char* text;
  };
  const std::vector<Case> cases = {
      {{0x02, 0xFF}, 1011, "Method %M contained illegal opcode 255 at offset 1."},
      {{0x2D, 0x02, 0x47}, 1032, "Cpool index 2 is out of range 2."},
      {{0x40, 0x02, 0x47}, 1027, "Method_info 2 exceeds method_count=2."},
      {{0x58, 0x02, 0x47}, 1060, "ClassInfo 2 exceeds class_count=2."},
      // dxnslate in a method without the SET_DXNS flag
      {{0x20, 0x07, 0x47}, 1015, "Method %M cannot set default xml namespace"},
      // pushbyte 0x10, then a jump back into its operand
      {{0x24, 0x10, 0x10, 0xFB, 0xFF, 0xFF}, 1021,
       "At least one branch target was not on a valid instruction in the method."},
      // jump past the end of the code
      {{0x10, 0x10, 0x00, 0x00, 0x47}, 1021,
       "At least one branch target was not on a valid instruction in the method."},
      // pushtrue, pop: nothing returns
      {{0x26, 0x29}, 1020, "Code cannot fall off the end of a method."},
  };
  for (const auto& c : cases) {
    Fixture fx(c.code);
    try {
      fx.DecodeAndVerify();
      ADD_FAILURE() << c.text;
    } catch (const AbcError& e) {
      EXPECT_EQ(e.FlashId(), c.id) << e.what();
      EXPECT_EQ(e.FlashMessage(), c.text);
    }
  }
}

TEST(CodeVerifier, AcceptsLoopsSwitchesAndHandlers) {
  AbcCode ok;
  ok.Op("getlocal_0").Op("pushscope").Op("pushbyte", {0}).Op("setlocal_2")
      .Loop("loop").Op("inclocal_i", {2}).Op("getlocal_2").Op("pushbyte", {10})
      .Branch("iflt", "loop")
      .Label("try").Op("getlocal_1").LookupSwitch("d", {"a", "b"})
      .Label("a").Op("returnvoid")
      .Label("b").Op("getlocal_1").Op("throw")
      .Label("d").Op("hasnext2", {2, 3}).Op("pop").Label("end").Op("returnvoid")
      .Label("catch").Op("getlocal_0").Op("pushscope").Op("newcatch", {0}).Op("pop").Op("returnvoid");
  Fixture fx(ok.Bytes(), 4,
             {{ok.LabelOffset("try"), ok.LabelOffset("end"), ok.LabelOffset("catch"), 0, 0}});
  EXPECT_NO_THROW(fx.DecodeAndVerify());
  // An exception range that reaches the code's end is fine too.
  Fixture whole(ok.Bytes(), 4, {{0, static_cast<std::uint32_t>(ok.Size()), ok.LabelOffset("catch"), 0, 0}});
  EXPECT_NO_THROW(whole.DecodeAndVerify());
  EXPECT_NO_THROW(VerifyStack(fx.file, fx.Body(), fx.Decode()));
  EXPECT_NO_THROW(VerifyStack(whole.file, whole.Body(), whole.Decode()));
}

// A branch back must land on a label, or where a branch from before it
// already led (a loop entered at its test); a jump to itself, a loop with no
// label and a switch case back are #1021.
TEST(CodeVerifier, BranchesBackLandOnALabelOrAPlaceAlreadyBranchedTo) {
  const auto verdict = [](const AbcCode& c) -> int {
    Fixture fx(c.Bytes(), 4);
    try {
      fx.DecodeAndVerify();
      return 0;
    } catch (const AbcError& e) {
      return e.FlashId();
    }
  };
  AbcCode self;
  self.Label("here").Branch("jump", "here");
  EXPECT_EQ(verdict(self), 1021);
  AbcCode bare;  // do { i++ } while (i < 10) with no label at its head
  bare.Op("pushbyte", {0}).Op("setlocal_2").Label("top").Op("inclocal_i", {2}).Op("getlocal_2").Op("pushbyte", {10})
      .Branch("iflt", "top").Op("returnvoid");
  EXPECT_EQ(verdict(bare), 1021);
  AbcCode labelled;
  labelled.Op("pushbyte", {0}).Op("setlocal_2").Loop("top").Op("inclocal_i", {2}).Op("getlocal_2").Op("pushbyte", {10})
      .Branch("iflt", "top").Op("returnvoid");
  EXPECT_EQ(verdict(labelled), 0);
  AbcCode enteredAtTest;  // jump to the test first, as compilers write `while`
  enteredAtTest.Op("pushbyte", {0}).Op("setlocal_2").Branch("jump", "test").Loop("body").Op("inclocal_i", {2})
      .Label("test").Op("getlocal_2").Op("pushbyte", {10}).Branch("iflt", "body")
      .Op("getlocal_2").Op("pushbyte", {20}).Branch("iflt", "test").Op("returnvoid");
  EXPECT_EQ(verdict(enteredAtTest), 0);
  AbcCode switchBack;
  switchBack.Label("back").Op("pushbyte", {0}).LookupSwitch("out", {"back"}).Label("out").Op("returnvoid");
  EXPECT_EQ(verdict(switchBack), 1021);
}

// The operand stack as Flash's verifier follows it, against a max_stack of 4.
TEST(CodeVerifier, FollowsTheOperandStackDepth) {
  struct Case {
    AbcCode code;
    std::vector<std::pair<std::string, std::string>> range;  // exception range from, to, handler labels
    int id;  // 0: verifies
    std::string text;
  };
  const auto pushes = [](int n) {
    AbcCode c;
    for (int i = 0; i < n; ++i) c.Op("pushbyte", {i});
    for (int i = 0; i < n; ++i) c.Op("pop");
    return c.Op("returnvoid");
  };
  std::vector<Case> cases;
  cases.push_back({pushes(4), {}, 0, ""});
  cases.push_back({pushes(5), {}, 1023, "Stack overflow occurred."});
  // dup and call count their operands; call takes the function, the receiver and its arguments.
  cases.push_back({AbcCode().Op("pushnull").Op("dup").Op("dup").Op("dup").Op("call", {2}).Op("returnvalue"), {}, 0, ""});
  cases.push_back({AbcCode().Op("pushnull").Op("dup").Op("call", {1}).Op("returnvalue"), {}, 1024,
                   "Stack underflow occurred."});
  cases.push_back({AbcCode().Op("pop").Op("returnvoid"), {}, 1024, "Stack underflow occurred."});
  // A path that arrives with another depth: the arriving one is named first.
  cases.push_back({AbcCode().Op("pushbyte", {1}).Op("pushtrue").Branch("iftrue", "join").Op("pushbyte", {2})
                       .Label("join").Op("returnvoid"),
                   {}, 1030, "Stack depth is unbalanced. 2 != 1."});
  // A loop that grows the stack on every turn.
  cases.push_back({AbcCode().Label("top").Op("label").Op("pushnull").Branch("jump", "top"), {}, 1030,
                   "Stack depth is unbalanced. 1 != 0."});
  // A handler starts with the thrown value alone; from a range that can throw, it is verified.
  cases.push_back({AbcCode().Label("from").Op("pushbyte", {1}).Op("increment").Op("pop").Label("to").Op("returnvoid")
                       .Label("h").Op("pushnull").Op("pushnull").Op("pushnull").Op("pushnull").Op("returnvoid"),
                   {{"from", "to"}, {"h", ""}}, 1023, "Stack overflow occurred."});
  // ... but not from a range of instructions that cannot throw.
  cases.push_back({AbcCode().Label("from").Op("pushbyte", {1}).Op("pop").Label("to").Op("returnvoid")
                       .Label("h").Op("pushnull").Op("pushnull").Op("pushnull").Op("pushnull").Op("returnvoid"),
                   {{"from", "to"}, {"h", ""}}, 0, ""});
  // A handler also reached by a branch must agree with its depth of one.
  cases.push_back({AbcCode().Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushtrue").Branch("iftrue", "h")
                       .Label("from").Op("pushnull").Op("throw").Label("to")
                       .Label("h").Op("returnvoid"),
                   {{"from", "to"}, {"h", ""}}, 1030, "Stack depth is unbalanced. 1 != 2."});
  for (auto& c : cases) {
    std::vector<ExceptionInfo> x;
    if (!c.range.empty())
      x.push_back({c.code.LabelOffset(c.range[0].first), c.code.LabelOffset(c.range[0].second),
                   c.code.LabelOffset(c.range[1].first), 0, 0});
    Fixture fx(c.code.Bytes(), 4, x);
    try {
      fx.DecodeAndVerify();
      VerifyStack(fx.file, fx.Body(), fx.Decode());
      EXPECT_EQ(c.id, 0) << c.text;
    } catch (const AbcError& e) {
      EXPECT_EQ(e.FlashId(), c.id) << e.what();
      EXPECT_EQ(e.FlashMessage(), c.text) << e.what();
    }
  }
}

// Flash verifies only code that can run: compilers and obfuscators leave
// junk after returns, and ranges that start or end inside instructions.
TEST(CodeVerifier, IgnoresCodeNothingReaches) {
  Fixture junk({0x10, 0x02, 0x00, 0x00, 0xFF, 0x2C, 0x47, 0x25, 0x01, 0x1B});
  const DecodedCode d = junk.Decode();
  ASSERT_EQ(d.instructions.size(), 2u);
  EXPECT_EQ(d.instructions[1].offset, 6u);
  EXPECT_NO_THROW(VerifyCode(junk.file, junk.Body(), d));

  // A handler whose range holds no instruction is never entered.
  Fixture unreached({0x47, 0xFF, 0xFF}, 4, {{1, 2, 2, 0, 0}});
  EXPECT_NO_THROW(unreached.DecodeAndVerify());
  EXPECT_EQ(unreached.Decode().instructions.size(), 1u);
  // Nor one whose range holds only instructions that cannot throw
  // (getlocal_0, pop, jump): its junk register is never checked.
  Fixture quiet({0xD0, 0x29, 0x10, 0x00, 0x00, 0x00, 0x47, 0x63, 0x80, 0x12}, 4, {{0, 6, 7, 0, 0}});
  EXPECT_NO_THROW(quiet.DecodeAndVerify());
  EXPECT_EQ(quiet.Decode().instructions.size(), 4u);

  // Ranges from and to the middle of pushshort (increment_i at 3 can throw).
  Fixture loose({0x25, 0x81, 0x01, 0xC0, 0x47, 0x20, 0x03}, 4, {{1, 4, 5, 0, 0}, {0, 2, 5, 0, 0}});
  const DecodedCode l = loose.Decode();
  EXPECT_EQ(l.instructions.size(), 5u);
  EXPECT_NO_THROW(VerifyCode(loose.file, loose.Body(), l));
}

TEST(CodeVerifier, RefusesWhatTheMachineCouldNotRun) {
  struct Case {
    std::vector<std::uint8_t> code;
    std::uint32_t locals;
    std::vector<ExceptionInfo> exceptions;
    const char* fault;
  };
  const std::vector<Case> cases = {
      // a branch back into the middle of pushshort's operand
      {{0x25, 0x81, 0x01, 0x12, 0xFA, 0xFF, 0xFF, 0x47}, 4, {}, "inside an instruction"},
      // a jump to 5, then a branch back to 4, whose pushshort reads 5 as its operand
      {{0x10, 0x01, 0x00, 0x00, 0x25, 0x12, 0xFB, 0xFF, 0xFF, 0x47}, 4, {}, "overlaps"},
      // lookupswitch case into its own operands
      {{0x1B, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x47}, 4, {}, "inside an instruction"},
      {{0x62, 0x04, 0x47}, 4, {}, "register 4"},
      {{0x63, 0x09, 0x47}, 4, {}, "register 9"},
      {{0x08, 0x04, 0x47}, 4, {}, "register 4"},
      {{0x92, 0x07, 0x47}, 4, {}, "register 7"},
      {{0x32, 0x01, 0x06, 0x47}, 4, {}, "register 6"},
      {{0xD3, 0x47}, 3, {}, "beyond the 3 locals"},
      {{0xD7, 0x47}, 3, {}, "beyond the 3 locals"},
      {{0x47}, 1, {}, "locals for 2 arguments"},
      {{}, 4, {}, "no code"},
      {{0x02, 0x02}, 4, {}, "runs off its end"},
      {{0x12, 0x01, 0x00, 0x00, 0x47, 0x02}, 4, {}, "runs off its end"},
      // (increment_i can throw: a range holding it has its handler run)
      {{0x25, 0x81, 0x01, 0xC0, 0x29, 0x47}, 4, {{0, 6, 1, 0, 0}}, "exception handler 1 is inside"},
      // a handler is code like any other
      {{0xC0, 0x47, 0xFF}, 4, {{0, 1, 2, 0, 0}}, "unknown opcode 255"},
      {{0xC0, 0x47, 0x02}, 4, {{0, 1, 2, 0, 0}}, "runs off its end"},
  };
  for (const auto& c : cases) {
    Fixture fx(c.code, c.locals, c.exceptions);
    const std::string fault = FaultOf([&] { fx.DecodeAndVerify(); });
    EXPECT_NE(fault.find(c.fault), std::string::npos) << "expected \"" << c.fault << "\", got " << fault;
  }
}

}  // namespace
}  // namespace quarvel::avm2
