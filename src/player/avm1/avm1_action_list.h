#pragma once
// ActionScript 1/2 action codes. One list names every action the
// interpreter knows: its code, its name and the SWF version that brought it.
// The enum, the interpreter's table and its handlers (Avm1::Act<Name>) are all
// made from the list, so a code is handled exactly when it is listed.

#include <cstdint>
#include <string_view>

namespace quarvel::player {

// X(code, Name, lowest SWF version)
#define QUARVEL_AVM1_ACTIONS(X)  \
  X(0x04, NextFrame, 3)          \
  X(0x05, PreviousFrame, 3)      \
  X(0x06, Play, 3)               \
  X(0x07, Stop, 3)               \
  X(0x08, ToggleQuality, 3)      \
  X(0x09, StopSounds, 3)         \
  X(0x0A, Add, 4)                \
  X(0x0B, Subtract, 4)           \
  X(0x0C, Multiply, 4)           \
  X(0x0D, Divide, 4)             \
  X(0x0E, Equals, 4)             \
  X(0x0F, Less, 4)               \
  X(0x10, And, 4)                \
  X(0x11, Or, 4)                 \
  X(0x12, Not, 4)                \
  X(0x13, StringEquals, 4)       \
  X(0x14, StringLength, 4)       \
  X(0x15, StringExtract, 4)      \
  X(0x17, Pop, 4)                \
  X(0x18, ToInteger, 4)          \
  X(0x1C, GetVariable, 4)        \
  X(0x1D, SetVariable, 4)        \
  X(0x20, SetTarget2, 4)         \
  X(0x21, StringAdd, 4)          \
  X(0x22, GetProperty, 4)        \
  X(0x23, SetProperty, 4)        \
  X(0x24, CloneSprite, 4)        \
  X(0x25, RemoveSprite, 4)       \
  X(0x26, Trace, 4)              \
  X(0x27, StartDrag, 4)          \
  X(0x28, EndDrag, 4)            \
  X(0x29, StringLess, 4)         \
  X(0x2A, Throw, 7)              \
  X(0x2B, CastOp, 7)             \
  X(0x2C, ImplementsOp, 7)       \
  X(0x30, RandomNumber, 4)       \
  X(0x31, MBStringLength, 4)     \
  X(0x32, CharToAscii, 4)        \
  X(0x33, AsciiToChar, 4)        \
  X(0x34, GetTime, 4)            \
  X(0x35, MBStringExtract, 4)    \
  X(0x36, MBCharToAscii, 4)      \
  X(0x37, MBAsciiToChar, 4)      \
  X(0x3A, Delete, 5)             \
  X(0x3B, Delete2, 5)            \
  X(0x3C, DefineLocal, 5)        \
  X(0x3D, CallFunction, 5)       \
  X(0x3E, Return, 5)             \
  X(0x3F, Modulo, 5)             \
  X(0x40, NewObject, 5)          \
  X(0x41, DefineLocal2, 5)       \
  X(0x42, InitArray, 5)          \
  X(0x43, InitObject, 5)         \
  X(0x44, TypeOf, 5)             \
  X(0x45, TargetPath, 5)         \
  X(0x46, Enumerate, 5)          \
  X(0x47, Add2, 5)               \
  X(0x48, Less2, 5)              \
  X(0x49, Equals2, 5)            \
  X(0x4A, ToNumber, 5)           \
  X(0x4B, ToString, 5)           \
  X(0x4C, PushDuplicate, 5)      \
  X(0x4D, StackSwap, 5)          \
  X(0x4E, GetMember, 5)          \
  X(0x4F, SetMember, 5)          \
  X(0x50, Increment, 5)          \
  X(0x51, Decrement, 5)          \
  X(0x52, CallMethod, 5)         \
  X(0x53, NewMethod, 5)          \
  X(0x54, InstanceOf, 6)         \
  X(0x55, Enumerate2, 6)         \
  X(0x60, BitAnd, 5)             \
  X(0x61, BitOr, 5)              \
  X(0x62, BitXor, 5)             \
  X(0x63, BitLShift, 5)          \
  X(0x64, BitRShift, 5)          \
  X(0x65, BitURShift, 5)         \
  X(0x66, StrictEquals, 6)       \
  X(0x67, Greater, 6)            \
  X(0x68, StringGreater, 6)      \
  X(0x69, Extends, 7)            \
  X(0x81, GotoFrame, 3)          \
  X(0x83, GetUrl, 3)             \
  X(0x87, StoreRegister, 5)      \
  X(0x88, ConstantPool, 5)       \
  X(0x8A, WaitForFrame, 3)       \
  X(0x8B, SetTarget, 3)          \
  X(0x8C, GotoLabel, 3)          \
  X(0x8D, WaitForFrame2, 4)      \
  X(0x8E, DefineFunction2, 7)    \
  X(0x8F, Try, 7)                \
  X(0x94, With, 5)               \
  X(0x96, Push, 4)               \
  X(0x99, Jump, 4)               \
  X(0x9A, GetUrl2, 4)            \
  X(0x9B, DefineFunction, 5)     \
  X(0x9D, If, 4)                 \
  X(0x9E, Call, 4)               \
  X(0x9F, GotoFrame2, 4)

enum class Action : std::uint8_t {
  kEnd = 0x00,  // ends a block of actions
#define QUARVEL_AVM1_ENUM(code, name, version) k##name = code,
  QUARVEL_AVM1_ACTIONS(QUARVEL_AVM1_ENUM)
#undef QUARVEL_AVM1_ENUM
};

constexpr std::uint8_t Code(Action a) { return static_cast<std::uint8_t>(a); }

// Codes from 0x80 up carry a 16-bit length and a body.
constexpr bool HasBody(std::uint8_t code) { return code >= 0x80; }

class Avm1;
struct ActionFrame;
using ActionHandler = void (Avm1::*)(ActionFrame&);

struct ActionInfo {
  Action code = Action::kEnd;
  std::string_view name;
  int version = 0;  // the SWF version that brought it
  ActionHandler handler = nullptr;
};

}  // namespace quarvel::player
