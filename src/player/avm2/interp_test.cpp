#include "player/avm2/interp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/abc_builder.h"

namespace quarvel::avm2 {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;

TEST(InterpreterTable, ListedCodesAndOnlyThoseHaveHandlers) {
  const auto& table = Interp::Table();
  std::size_t listed = 0;
  for (int code = 0; code < 256; ++code) {
    const bool known = FindOpcode(static_cast<std::uint8_t>(code)) != nullptr;
    EXPECT_EQ(table[static_cast<std::size_t>(code)] != &Interp::OpUnknown, known) << "code " << code;
    listed += known;
  }
  EXPECT_EQ(listed, AllOpcodes().size());
  // The enum is made from the same list.
  EXPECT_EQ(FindOpcode(Code(Op::kGetLex))->name, "getlex");
  EXPECT_EQ(FindOpcode(Code(Op::kSetLocal3))->name, "setlocal_3");
}

// Runs a script whose code is `code` (after getlocal_0, pushscope) on a
// fresh machine; returns what it logged.
std::vector<std::string> RunScript(AbcBuilder& a, AbcCode& code, std::vector<ExceptionInfo> exceptions = {}) {
  const auto init = a.Method({});
  a.Body({.method = init, .maxStack = 8, .localCount = 4, .maxScopeDepth = 4}, code);
  a.File().bodies.back().exceptions = std::move(exceptions);
  a.Script({.init = init});
  std::vector<std::string> logged;
  Machine m;
  m.logSink = [&](const std::string& s) { logged.push_back(s); };
  m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "test");
  m.Collect();
  return logged;
}

// A code the list lacks is refused before the method runs, with a
// VerifyError naming it; the machine logs it and goes on.
TEST(InterpreterTable, UnlistedCodesAreRefusedByName) {
  for (int code = 0; code < 256; ++code) {
    if (FindOpcode(static_cast<std::uint8_t>(code))) continue;
    AbcBuilder a;
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope").Raw({static_cast<std::uint8_t>(code)}).Op("returnvoid");
    const auto logged = RunScript(a, c);
    ASSERT_EQ(logged.size(), 1u) << "code " << code;
    EXPECT_NE(logged[0].find("VerifyError"), std::string::npos) << logged[0];
    EXPECT_NE(logged[0].find("Error #1011: Method global$init() contained illegal opcode " + std::to_string(code) +
                             " at offset 2."),
              std::string::npos)
        << logged[0];
  }
}

// Every listed instruction, run on operands of the wrong kind (nulls, then
// small ints) with operands in range, reaches its own handler and either
// runs or raises a script error: none may reach the unknown-code handler,
// crash or let a C++ exception out.
TEST(InterpreterTable, EveryInstructionRunsOrRaisesAScriptError) {
  for (const bool nulls : {true, false}) {
    for (const auto& op : AllOpcodes()) {
      AbcBuilder a;
      const auto pub = a.Namespace(NamespaceKind::kPackage, "");
      const auto x = a.QName(pub, "x");
      AbcCode none;
      none.Op("returnvoid");
      const auto helper = a.Method({});
      a.Body({.method = helper, .maxStack = 1, .localCount = 1}, none);
      a.Class({.name = a.QName(pub, "C"), .iinit = helper}, {.cinit = helper});
      std::vector<std::int64_t> args;
      for (int i = 0; i < op.OperandCount(); ++i) {
        switch (op.operands[static_cast<std::size_t>(i)]) {
          case Operand::kMultiname: args.push_back(x); break;
          case Operand::kString: case Operand::kStringOrNone: args.push_back(a.String("s")); break;
          case Operand::kInt: args.push_back(a.Int(5)); break;
          case Operand::kUInt: args.push_back(a.UInt(5)); break;
          case Operand::kDouble: args.push_back(a.Double(0.5)); break;
          case Operand::kNamespace: args.push_back(pub); break;
          case Operand::kMethod: args.push_back(helper); break;
          case Operand::kClass: case Operand::kException: case Operand::kDispId: args.push_back(0); break;
          default: args.push_back(1); break;
        }
      }
      AbcCode c;
      c.Op("getlocal_0").Op("pushscope");
      for (int i = 0; i < 3; ++i) {
        if (nulls) c.Op("pushnull");
        else c.Op("pushbyte", {i + 1});
      }
      if (op.flags & (op_flag::kJump | op_flag::kConditional)) {
        c.Branch(op.name, "end");
      } else if (op.flags & op_flag::kSwitch) {
        c.LookupSwitch("end", {"end"});
      } else {
        switch (args.size()) {
          case 0: c.Op(op.name); break;
          case 1: c.Op(op.name, {args[0]}); break;
          case 2: c.Op(op.name, {args[0], args[1]}); break;
          default: c.Op(op.name, {args[0], args[1], args[2], args[3]}); break;
        }
      }
      c.Label("end").Op("returnvoid");
      std::vector<std::string> logged;
      ASSERT_NO_THROW(logged = RunScript(a, c, {{0, 1, c.LabelOffset("end"), 0, 0}})) << op.name;
      for (const auto& line : logged) EXPECT_EQ(line.find("Unknown instruction"), std::string::npos) << op.name << ": " << line;
    }
  }
}

}  // namespace
}  // namespace quarvel::avm2
