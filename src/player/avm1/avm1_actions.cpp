// The ActionScript 1/2 actions: the loop that fetches and decodes them and
// one handler per action, dispatched through the action table.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <utility>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_classes.h"
#include "player/avm1/avm1_shared.h"
#include "player/sound_events.h"
#include "player/display/stage.h"
#include "player/swf/reader.h"
#include "player/text/text_encoding.h"

namespace quarvel::player {

using namespace avm1_detail;

namespace {

constexpr std::size_t kMaxStack = 1u << 16;
constexpr int kMaxScopes = 256;

}  // namespace

// One running block of actions: its code, where it is, its stack and the
// try and with blocks open in it.
struct ActionFrame {
  struct TryBlock {
    std::size_t catchStart, finallyStart, end;
    bool hasCatch, hasFinally, catchInRegister;
    std::uint8_t reg;
    std::string var;
    std::size_t stackSize;  // a catch drops what the try body pushed
  };

  ActionFrame(Avm1::Context& c, std::span<const std::uint8_t> body) : ctx(c), code(body) {}

  Avm1::Context& ctx;
  std::span<const std::uint8_t> code;
  std::size_t pc = 0;
  std::uint8_t op = 0;
  swf::Reader r;  // the action's own data
  std::span<const std::uint8_t> data;  // the same, for actions that decode it themselves
  std::vector<AsValue> stack;
  std::vector<TryBlock> tries;
  // A finally block entered by a throw or a return: once it ends, the throw
  // goes on or the function returns (unless the block threw or returned).
  struct Finally {
    std::size_t end;
    bool rethrow;  // else return `value`
    AsValue value;
  };
  std::vector<Finally> finallies;
  std::vector<std::pair<std::size_t, std::size_t>> withs;  // end pc, scope size before
  bool done = false;  // the block ends, with `result`
  AsValue result;
  bool baseAlive = false;  // the clip the actions belong to was there when they began

  AsValue Pop() {
    if (stack.empty()) return AsValue{};
    AsValue v = std::move(stack.back());
    stack.pop_back();
    return v;
  }
  void Push(AsValue v) {
    if (stack.size() < kMaxStack) stack.push_back(std::move(v));
  }
  void End(AsValue v = {}) {
    done = true;
    result = std::move(v);
  }
};

std::span<const ActionInfo> Avm1::ActionTable() {
  static const ActionInfo kTable[] = {
#define QUARVEL_AVM1_ENTRY(code, name, version) {Action::k##name, #name, version, &Avm1::Act##name},
      QUARVEL_AVM1_ACTIONS(QUARVEL_AVM1_ENTRY)
#undef QUARVEL_AVM1_ENTRY
  };
  return kTable;
}

namespace {

// Every code's table entry, made once before any script runs, so that the
// interpreter's loop indexes it without a guard.
const std::array<const ActionInfo*, 256> kByCode = [] {
  std::array<const ActionInfo*, 256> byCode{};
  for (const ActionInfo& a : Avm1::ActionTable()) byCode[static_cast<std::uint8_t>(a.code)] = &a;
  return byCode;
}();

}  // namespace

const ActionInfo* Avm1::FindAction(std::uint8_t code) { return kByCode[code]; }

AsValue Avm1::Execute(std::span<const std::uint8_t> code, Context& ctx) {
  struct Running {
    Context*& slot;
    Context* saved;
    ~Running() { slot = saved; }
  } running{running_, running_};
  const bool topLevel = !running.saved && !ctx.inFunction;
  running_ = &ctx;
  ActionFrame f(ctx, code);
  f.baseAlive = stage_.TimelineOf(ctx.base) != nullptr;
  f.stack.reserve(16);
  struct Leftovers {
    std::vector<AsValue>* keep;
    std::vector<AsValue>& stack;
    ~Leftovers() {
      if (!keep) return;
      // Only the top of a runaway stack is kept.
      constexpr std::size_t kKept = 256;
      if (stack.size() > kKept) stack.erase(stack.begin(), stack.end() - kKept);
      *keep = std::move(stack);
    }
  } leftovers{topLevel ? &leftStack_ : nullptr, f.stack};
  if (topLevel) f.stack.swap(leftStack_);
  while (f.pc < code.size()) {
    if (aborted_ || halted_) return {};
    if (++steps_ > stepBudget_) {
      Skip("too many actions in one frame");
      stage_.ScriptStopped("ActionScript 1/2: the instruction cap of one frame");
      budgetSpent_ = true;
      aborted_ = true;
      return {};
    }
    while (!f.withs.empty() && f.pc >= f.withs.back().first) {
      ctx.scope.resize(f.withs.back().second);
      f.withs.pop_back();
    }
    while (!f.tries.empty() && (f.pc == f.tries.back().catchStart || f.pc >= f.tries.back().end)) {
      // The try body ended normally: on to the finally block.
      const ActionFrame::TryBlock t = f.tries.back();
      f.tries.pop_back();
      if (f.pc == t.catchStart && t.catchStart < t.finallyStart) f.pc = t.finallyStart;
    }
    if (!f.finallies.empty() && f.pc >= f.finallies.back().end) {
      if (FinallyEnded(f)) return f.result;
      if (throwing_ && !CatchThrow(f)) return {};
      continue;
    }
    f.op = code[f.pc++];
    if (f.op == static_cast<std::uint8_t>(Action::kEnd)) break;
    std::span<const std::uint8_t> data;
    if (HasBody(f.op)) {
      if (f.pc + 2 > code.size()) break;
      const std::size_t len = code[f.pc] | (code[f.pc + 1] << 8);
      f.pc += 2;
      if (f.pc + len > code.size()) break;
      data = code.subspan(f.pc, len);
      f.pc += len;
    }
    f.r = swf::Reader(data);
    f.data = data;
    const std::size_t before = f.stack.size();
    try {
      if (const ActionInfo* action = kByCode[f.op]) {
        (this->*action->handler)(f);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", f.op);
        Skip(std::string("action ") + hex);
      }
    } catch (const swf::SwfError&) {
      Skip("damaged action");
      return {};
    }
    if (tracing_) TraceAction(f, before);
    if (f.done && f.op == static_cast<std::uint8_t>(Action::kReturn) && EnterFinallyOnReturn(f)) continue;
    if (f.done) return f.result;
    // Big new strings count against the frame's memory.
    if (!f.stack.empty() && f.stack.back().str && f.stack.back().str.use_count() == 1 &&
        f.stack.back().str->size() > 256 && !Charge(f.stack.back().str->size())) {
      return {};
    }
    if (throwing_ && !CatchThrow(f)) return {};
  }
  // A finally block entered by a throw or return may end the code.
  if (!f.finallies.empty() && !aborted_ && !halted_ && FinallyEnded(f)) return f.result;
  return {};
}

// -- helpers of the actions

// Control leaves for `pc` (a handler around them): finally blocks that were
// running inside are abandoned, with what they were to do afterwards.
static void LeaveFinallies(ActionFrame& f, std::size_t pc) {
  while (!f.finallies.empty() && f.finallies.back().end <= pc) f.finallies.pop_back();
}

bool Avm1::CatchThrow(ActionFrame& f) {
  // A try whose catch block is running, or that has none, only runs its
  // finally block, and the throw goes on after it.
  while (!f.tries.empty()) {
    const ActionFrame::TryBlock t = f.tries.back();
    f.tries.pop_back();
    if (f.stack.size() > t.stackSize) f.stack.resize(t.stackSize);
    if (t.hasCatch) {
      throwing_ = false;
      if (t.catchInRegister) {
        if (t.reg < f.ctx.regs.size()) f.ctx.regs[t.reg] = thrown_;
      } else if (f.ctx.activation) {
        SetProp(f.ctx.activation, t.var, thrown_);
      } else {
        SetVar(f.ctx, t.var, thrown_);
      }
      f.pc = t.catchStart;
      LeaveFinallies(f, f.pc);
      // The catch block runs to the finally block.
      f.tries.push_back({t.finallyStart, t.finallyStart, t.end, false, t.hasFinally, false, 0, {}, t.stackSize});
      return true;
    }
    if (t.hasFinally && t.finallyStart < t.end) {
      throwing_ = false;
      f.pc = t.finallyStart;
      LeaveFinallies(f, f.pc);
      f.finallies.push_back({t.end, true, thrown_});
      return true;
    }
  }
  return false;
}

bool Avm1::EnterFinallyOnReturn(ActionFrame& f) {
  while (!f.tries.empty()) {
    const ActionFrame::TryBlock t = f.tries.back();
    f.tries.pop_back();
    if (t.hasFinally && t.finallyStart < t.end) {
      f.done = false;
      f.pc = t.finallyStart;
      LeaveFinallies(f, f.pc);
      f.finallies.push_back({t.end, false, f.result});
      return true;
    }
  }
  return false;
}

bool Avm1::FinallyEnded(ActionFrame& f) {
  ActionFrame::Finally fin = f.finallies.back();
  f.finallies.pop_back();
  if (fin.rethrow) {
    thrown_ = fin.value;
    throwing_ = true;
    return false;
  }
  // The return goes on through any finally block around this one.
  f.End(fin.value);
  return !EnterFinallyOnReturn(f);
}

void Avm1::TraceLine(const std::string& line) { std::clog << "avm1: " << std::string(static_cast<std::size_t>(depth_) * 2, ' ') << line << "\n"; }

// The action just run and what it left on the stack.
void Avm1::TraceAction(ActionFrame& f, std::size_t stackBefore) {
  const ActionInfo* a = FindAction(f.op);
  std::string line = a ? std::string(a->name) : "?";
  std::size_t from = std::min(stackBefore, f.stack.size());
  if (from == f.stack.size() && from > 0) --from;
  for (std::size_t i = from; i < f.stack.size() && i < from + 8; ++i) line += " " + Describe(f.stack[i]);
  TraceLine(line);
}

std::string Avm1::Describe(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kUndefined: return "undefined";
    case AsValue::Type::kNull: return "null";
    case AsValue::Type::kString: return "\"" + v.Text().substr(0, 40) + "\"";
    case AsValue::Type::kClip: return "clip " + (ClipOf(v) == kNoClip ? "(gone) " + v.Text() : stage_.PathOf(ClipOf(v)));
    case AsValue::Type::kObject: return v.obj->fn ? "function " + v.obj->fn->name : "object " + v.obj->className;
    default: return ToString(v);
  }
}

std::size_t Avm1::PopCount(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  return static_cast<std::size_t>(std::isnan(n) || n < 0 ? 0 : std::min<double>(n, static_cast<double>(f.stack.size())));
}

std::vector<AsValue> Avm1::PopArgs(ActionFrame& f) {
  const std::size_t n = PopCount(f);
  std::vector<AsValue> args;
  args.reserve(n);
  for (std::size_t i = 0; i < n; ++i) args.push_back(f.Pop());
  return args;
}

// Comparisons give booleans in every version; Flash 4 movies print them as 1 and 0.
AsValue Avm1::BoolValue(bool b) const { return AsValue::Bool(b); }

AsValue Avm1::MakeString(std::string s) {
  if (s.size() > kMaxStringBytes) {
    Skip("string too long");
    s.resize(kMaxStringBytes);
  }
  if (!Charge(s.size())) return AsValue::String("");
  if (version_ >= 6) JoinSurrogates(s);
  return AsValue::String(std::move(s));
}

TimelineState* Avm1::TargetTimeline(ActionFrame& f) {
  // A target removed while the actions run gives way to the clip they
  // belong to, or to the main timeline once that is gone too; an unknown
  // target (kNoClip) stays none.
  if (f.ctx.target != kNoClip && !stage_.TimelineOf(f.ctx.target)) {
    SetTarget(f, stage_.TimelineOf(f.ctx.base) ? f.ctx.base : kRootClip);
  }
  return stage_.TimelineOf(f.ctx.target);
}

void Avm1::SetTarget(ActionFrame& f, ClipHandle t) {
  // An unknown target (kNoClip): later timeline actions do nothing, but
  // variables are the root's.
  f.ctx.target = t;
  if (!f.ctx.inFunction && !f.ctx.scope.empty()) {
    const ClipHandle root = t == kNoClip && stage_.TimelineOf(f.ctx.base) ? ScriptRoot(f.ctx.base) : kNoClip;
    f.ctx.scope[0] = t != kNoClip ? ClipValue(t) : root != kNoClip ? ClipValue(root) : AsValue::Clip(kNoClip, nullptr);
  }
}

void Avm1::SetTargetByName(ActionFrame& f, const std::string& t) {
  // A removed clip's actions reach no other clip by name, not even _root.
  const bool baseGone = !stage_.TimelineOf(f.ctx.base);
  SetTarget(f, t.empty() ? f.ctx.base : baseGone ? kNoClip : ResolveTarget(f.ctx.base, t));
}

void Avm1::Arithmetic(ActionFrame& f, double (*op)(double, double)) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  f.Push(AsValue::Number(op(a, b)));
}

void Avm1::Bitwise(ActionFrame& f, double (*op)(std::int32_t, std::int32_t)) {
  const std::int32_t b = ToInt32(ToNumber(f.Pop())), a = ToInt32(ToNumber(f.Pop()));
  f.Push(AsValue::Number(op(a, b)));
}

void Avm1::CompareStrings(ActionFrame& f, bool (*op)(const std::string&, const std::string&)) {
  const std::string b = ToString(f.Pop()), a = ToString(f.Pop());
  f.Push(BoolValue(op(a, b)));
}

// -- timeline control

void Avm1::ActNextFrame(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.Goto(*tl, tl->current + 1), stage_.SetPlaying(*tl, false);
}

void Avm1::ActPreviousFrame(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.Goto(*tl, tl->current - 1), stage_.SetPlaying(*tl, false);
}

void Avm1::ActPlay(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.SetPlaying(*tl, true);
}

void Avm1::ActStop(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.SetPlaying(*tl, false);
}

// The host sets the quality.
void Avm1::ActToggleQuality(ActionFrame&) {}

void Avm1::ActStopSounds(ActionFrame&) { stage_.StopAllSounds(); }

// GotoFrame and GoToLabel stop the timeline, as gotoAndStop does.
// A frame past the end goes nowhere; an unknown label does not even stop.
void Avm1::ActGotoFrame(ActionFrame& f) {
  const int frame = f.r.U16("Frame");
  if (TimelineState* tl = TargetTimeline(f)) {
    stage_.SetPlaying(*tl, false);
    if (frame < tl->FrameCount()) stage_.Goto(*tl, frame);
  }
}

void Avm1::ActGotoLabel(ActionFrame& f) {
  const std::string label = f.r.String("Label");
  if (TimelineState* tl = TargetTimeline(f); tl && tl->def->labels.count(Lower(label))) {
    stage_.SetPlaying(*tl, false);
    stage_.GotoLabel(*tl, label);
  }
}

void Avm1::ActSetTarget(ActionFrame& f) { SetTargetByName(f, f.r.String("TargetName")); }

void Avm1::ActSetTarget2(ActionFrame& f) {
  const AsValue v = f.Pop();
  if (v.type != AsValue::Type::kClip) return SetTargetByName(f, ToString(v));
  // A clip is targeted by its present path, without its toString: the
  // first clip of that name wins, whichever the reference held.
  const ClipHandle clip = ClipOf(v);
  SetTarget(f, clip == kNoClip ? kNoClip : stage_.Resolve(kRootClip, ClipPathText(stage_.PathOf(clip), false)));
}

void Avm1::ActGotoFrame2(ActionFrame& f) {
  const std::uint8_t flags = f.r.U8("Flags");
  int bias = 0;
  if (flags & 2) bias = f.r.U16("SceneBias");
  AsValue v = f.Pop();
  if (v.type == AsValue::Type::kNumber) {
    v.num += bias;
  } else if (bias != 0) {
    // A scene's frame by label or number counts from the scene's start.
    const std::string text = ToString(v);
    v = AsValue::String(text);
    const ClipHandle on = TargetTimeline(f) ? f.ctx.target
                          : f.ctx.target == kNoClip && stage_.TimelineOf(f.ctx.base) ? ScriptRoot(f.ctx.base)
                                                                                    : kNoClip;
    const TimelineState* tl = stage_.TimelineOf(on);
    if (tl && tl->def && !text.empty() && text.find_first_of(":.") == std::string::npos) {
      const double n = ToNumber(v);
      if (!std::isnan(n)) {
        v = AsValue::Number(n + bias);
      } else if (auto it = tl->def->labels.find(Lower(text)); it != tl->def->labels.end()) {
        v = AsValue::Number(it->second + 1 + bias);
      }
    }
  }
  // A value that names no frame neither stops nor plays the timeline.
  if (TargetTimeline(f)) {
    if (!stage_.GotoValue(f.ctx.target, v, *this)) return;
    if (TimelineState* again = TargetTimeline(f)) stage_.SetPlaying(*again, (flags & 1) != 0);
  } else if (f.ctx.target == kNoClip && stage_.TimelineOf(f.ctx.base)) {
    // Unlike the other timeline actions, this one falls back on the root
    // when the target is unknown.
    const ClipHandle root = ScriptRoot(f.ctx.base);
    if (!stage_.GotoValue(root, v, *this)) return;
    if (TimelineState* tl = stage_.TimelineOf(root)) stage_.SetPlaying(*tl, (flags & 1) != 0);
  }
}

namespace {
// Steps over the next `count` actions of the block (a frame that is not
// loaded skips them).
void SkipActions(ActionFrame& f, int count) {
  for (; count > 0 && f.pc < f.code.size(); --count) {
    const std::uint8_t op = f.code[f.pc++];
    if (op < 0x80) continue;
    if (f.pc + 2 > f.code.size()) {
      f.pc = f.code.size();
      break;
    }
    const std::size_t len = f.code[f.pc] | (f.code[f.pc + 1] << 8);
    f.pc = std::min(f.code.size(), f.pc + 2 + len);
  }
}
}  // namespace

// Every frame of a movie is loaded; frames past Flash's limit of 16000
// never are.
void Avm1::ActWaitForFrame(ActionFrame& f) {
  const int frame = f.r.U16("Frame");
  const int skip = f.r.U8("SkipCount");
  if (frame > 16000) SkipActions(f, skip);
}

// A frame given other than as a whole number is converted to text and
// read as one (a label counts as frame 0); numbers wrap to 32 bits.
void Avm1::ActWaitForFrame2(ActionFrame& f) {
  const int skip = f.r.U8("SkipCount");
  const AsValue v = f.Pop();
  double frame = 0;
  if (v.type == AsValue::Type::kNumber && v.num == std::trunc(v.num)) {
    frame = v.num;
  } else {
    const std::string text = ToString(v);
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (!text.empty() && end && *end == '\0' && std::isfinite(d) && d == std::trunc(d)) frame = d;
  }
  // Counted from 0 and back, with the lowest number wrapping to the highest.
  const std::int32_t n = ToInt32(frame);
  if ((n == INT32_MIN ? INT32_MAX : n) > 16001) SkipActions(f, skip);
}

// The actions of another frame.
static void StopIfBaseRemoved(Avm1& vm, ActionFrame& f);

void Avm1::ActCall(ActionFrame& f) {
  const std::string frame = ToString(f.Pop());
  // A tellTarget that found nothing, or whose clip was removed, leaves
  // call() on the clip the actions belong to; once that is gone too, on
  // the main timeline.
  ClipHandle on = stage_.TimelineOf(f.ctx.target) ? f.ctx.target : f.ctx.base;
  if (!stage_.TimelineOf(on)) on = kRootClip;
  stage_.CallFrame(on, frame, *this);
  StopIfBaseRemoved(*this, f);
}

void Avm1::ActGetUrl(ActionFrame& f) {
  const std::string url = f.r.String("Url");
  const std::string target = f.r.String("Target");
  avm1_builtins::GetUrl(*this, f.ctx.target, url, target, 0);
}

void Avm1::ActGetUrl2(ActionFrame& f) {
  const std::uint8_t flags = f.r.U8("Flags");
  const std::string target = ToString(f.Pop());
  const std::string url = ToString(f.Pop());
  // Bit 7: load variables; bit 6: the target is a clip.
  avm1_builtins::GetUrl(*this, f.ctx.target, url, target, ((flags >> 7) & 1) | ((flags >> 5) & 2));
}

void Avm1::ActStartDrag(ActionFrame& f) {
  // Each operand is converted as it is popped: the target first; the two
  // flags are integers, true only when 1.
  const AsValue t = f.Pop();
  const ClipHandle clip = t.type == AsValue::Type::kClip ? ClipOf(t) : ResolveTarget(f.ctx.target, ToString(t));
  const bool lock = ToInt32(ToNumber(f.Pop())) == 1;
  double bounds[4];
  const bool constrained = ToInt32(ToNumber(f.Pop())) == 1;
  if (constrained) {
    // Popped bottom, right, top, left; pixels.
    for (int i = 3; i >= 0; --i) bounds[i] = ToNumber(f.Pop()) * 20;
  }
  stage_.StartDrag(clip, lock, constrained ? bounds : nullptr);
}

void Avm1::ActEndDrag(ActionFrame&) { stage_.StopDrag(); }

// -- clips

ClipHandle Avm1::ResolveTarget(ClipHandle base, std::string_view path, bool thisIsBase) {
  return version_ < 5 ? stage_.ResolveSwf4(base, path) : stage_.Resolve(base, path, thisIsBase);
}

ClipHandle Avm1::PathStart(const Context& ctx) {
  if (stage_.TimelineOf(ctx.target)) return ctx.target;
  return stage_.TimelineOf(ctx.base) ? stage_.RootOf(ctx.base) : kRootClip;
}

void Avm1::PropertyAccess(ActionFrame& f, bool set) {
  const AsValue value = set ? f.Pop() : AsValue{};
  const double index = ToNumber(f.Pop());
  const AsValue t = f.Pop();
  ClipHandle clip = kNoClip;
  if (t.type == AsValue::Type::kClip) clip = ClipOf(t);
  else if (const std::string text = ToString(t); text.empty()) clip = f.ctx.target;
  else clip = ResolveTarget(PathStart(f.ctx), text);
  const int i = std::isnan(index) ? -1 : ClampToInt(index);
  const bool known = i >= 0 && i < static_cast<int>(std::size(kPropertyNames));
  if (!set) {
    f.Push(known && stage_.TimelineOf(clip) ? stage_.GetClipProperty(clip, i, *this) : AsValue{});
  } else if (known) {
    // The value is converted by what the property takes, whether or not
    // the target is there: numbers (undefined and null stay, to be
    // ignored), text for _name and _quality, nothing for the rest.
    AsValue v = value;
    if ((i <= 10 || i == 12 || i == 16 || i == 18 || i == 20 || i == 21) && !v.IsNullish()) {
      v = AsValue::Number(ToNumber(value));
    } else if (i == 13 && version_ >= 7 && v.type == AsValue::Type::kNumber && std::isnan(v.num)) {
      v = AsValue::String("0");  // a NaN name is "0" from version 7
    } else if (i == 13 || i == 19) {
      v = AsValue::String(ToString(value));
    } else if (i == 17 && (v.type == AsValue::Type::kNumber || v.type == AsValue::Type::kString)) {
      // Unlike a member set, the action leaves _focusrect for NaN.
      v = AsValue::Number(ToNumber(value));
      if (std::isnan(v.num)) return;
    }
    if (!Throwing()) stage_.SetClipProperty(clip, i, v, *this);
  }
}

void Avm1::ActGetProperty(ActionFrame& f) { PropertyAccess(f, false); }
void Avm1::ActSetProperty(ActionFrame& f) { PropertyAccess(f, true); }

void Avm1::ActCloneSprite(ActionFrame& f) {
  const double depth = ToNumber(f.Pop());
  const std::string name = ToString(f.Pop());
  const AsValue src = f.Pop();
  const ClipHandle clip = src.type == AsValue::Type::kClip ? ClipOf(src) : ResolveTarget(f.ctx.target, ToString(src));
  // The action's depth counts from the bottom of the timeline's range, the
  // method's from the bottom of the scripts' range (-16384 below).
  const std::int32_t raw = ToInt32(depth);
  if (raw < 0) return;
  avm1_builtins::TextSnapshotDuplicated(*this, clip, stage_.Duplicate(clip, name, raw - 16384));
}

void Avm1::ActRemoveSprite(ActionFrame& f) {
  const AsValue t = f.Pop();
  stage_.RemoveClip(t.type == AsValue::Type::kClip ? ClipOf(t) : ResolveTarget(f.ctx.target, ToString(t)));
}

// Movies before version 6 keep their strings as the author's code page
// bytes, not UTF-8: shown as Windows-1252, the Western one.
static std::string CodePageText(std::string s, int version) {
  if (version >= 6 || std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return s;
  }
  return encoding::Windows1252ToUtf8(s);
}

void Avm1::ActTrace(ActionFrame& f) { TraceValue(f.Pop()); }

void Avm1::TraceValue(const AsValue& v) {
  if (!std::getenv("QUARVEL_DEBUG")) return;
  // Flash prints undefined by name whatever the movie's version, and its
  // log ends a line at a carriage return as at a line feed.
  std::string text = v.IsUndefined() ? "undefined" : CodePageText(ToString(v), version_);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') text[i] = '\n';
  }
  ReplaceLoneSurrogates(text);
  std::clog << "player: trace: " << text << "\n";
}

void Avm1::ActTargetPath(ActionFrame& f) {
  const AsValue v = f.Pop();
  f.Push(v.type == AsValue::Type::kClip ? AsValue::String(ToString(v)) : AsValue{});
}

// -- stack, constants, registers and jumps


void Avm1::ActConstantPool(ActionFrame& f) {
  auto pool = std::make_shared<AsConstants>();
  const std::uint16_t n = f.r.U16("Count");
  for (unsigned i = 0; i < n && !f.r.AtEnd(); ++i) pool->push_back(std::make_shared<const std::string>(f.r.String("Constant")));
  f.ctx.pool = std::move(pool);
}

void Avm1::ActPush(ActionFrame& f) {
  swf::Reader& r = f.r;
  while (!r.AtEnd()) {
    const std::uint8_t type = r.U8("Type");
    switch (type) {
      case 0: f.Push(AsValue::String(r.String("String"))); break;
      case 1: f.Push(AsValue::Number(r.F32("Float"))); break;
      case 2: f.Push(AsValue::Null()); break;
      case 3: f.Push(AsValue::Undefined()); break;
      case 4: {
        const AsValue* reg = Register(f.ctx, r.U8("Register"));
        f.Push(reg ? *reg : AsValue{});
        break;
      }
      case 5: f.Push(AsValue::Bool(r.U8("Boolean") != 0)); break;
      case 6: {
        // Doubles are stored as two little-endian halves, high half first.
        const std::uint32_t hi = r.U32("DoubleHi"), lo = r.U32("DoubleLo");
        const std::uint64_t bits = (static_cast<std::uint64_t>(hi) << 32) | lo;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        f.Push(AsValue::Number(d));
        break;
      }
      case 7: f.Push(AsValue::Number(static_cast<double>(r.S32("Integer")))); break;
      case 8:
      case 9: {
        const std::size_t i = type == 8 ? r.U8("Constant8") : r.U16("Constant16");
        f.Push(f.ctx.pool && i < f.ctx.pool->size() ? AsValue::Make(AsValue::Type::kString, 0, (*f.ctx.pool)[i]) : AsValue{});
        break;
      }
      default:
        Skip("Push type " + std::to_string(type));
        r.Rest();
        break;
    }
  }
}

void Avm1::ActPop(ActionFrame& f) { f.Pop(); }

void Avm1::ActPushDuplicate(ActionFrame& f) { f.Push(f.stack.empty() ? AsValue{} : f.stack.back()); }

void Avm1::ActStackSwap(ActionFrame& f) {
  if (f.stack.size() >= 2) std::swap(f.stack[f.stack.size() - 1], f.stack[f.stack.size() - 2]);
}

void Avm1::ActStoreRegister(ActionFrame& f) {
  if (AsValue* reg = Register(f.ctx, f.r.U8("Register"))) *reg = f.stack.empty() ? AsValue{} : f.stack.back();
}

// A register past a function's own count is its caller's (in the end the
// action list's four).
AsValue* Avm1::Register(Context& ctx, std::size_t i) {
  for (Context* c = &ctx; c; c = c->caller) {
    if (i < c->regs.size()) return &c->regs[i];
  }
  return nullptr;
}

void Avm1::Branch(ActionFrame& f, bool taken) {
  if (!taken) return;
  if (f.data.size() < 2) (void)f.r.S16("BranchOffset");  // throws: the offset is cut off
  const int off = static_cast<std::int16_t>(f.data[0] | (f.data[1] << 8));
  const long long to = static_cast<long long>(f.pc) + off;
  // Out of the block: it ends.
  if (to < 0 || to > static_cast<long long>(f.code.size())) return f.End();
  f.pc = static_cast<std::size_t>(to);
}

void Avm1::ActJump(ActionFrame& f) { Branch(f, true); }

void Avm1::ActIf(ActionFrame& f) {
  const bool taken = ToBool(f.Pop());
  Branch(f, taken);
}

// -- arithmetic

// Add and Multiply convert the left operand first (its valueOf runs first),
// the other arithmetic the right one.
void Avm1::ActAdd(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  const double x = ToNumber(a);
  f.Push(AsValue::Number(x + ToNumber(b)));
}
void Avm1::ActSubtract(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return a - b; }); }
void Avm1::ActMultiply(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  const double x = ToNumber(a);
  f.Push(AsValue::Number(x * ToNumber(b)));
}
void Avm1::ActModulo(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return std::fmod(a, b); }); }

void Avm1::ActDivide(ActionFrame& f) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  // Flash 4 has no infinity.
  f.Push(b == 0 && version_ < 5 ? AsValue::String("#ERROR#") : AsValue::Number(a / b));
}

void Avm1::ActAdd2(ActionFrame& f) {
  // The right operand is made primitive first; an object whose valueOf
  // gives no primitive joins a string by its text and adds as NaN.
  const AsValue b = ToPrimitive(f.Pop()), a = ToPrimitive(f.Pop());
  if (a.type == AsValue::Type::kString || b.type == AsValue::Type::kString) {
    f.Push(MakeString(ToString(a) + ToString(b)));
  } else {
    // An operand still an object is converted again, valueOf and all.
    const double x = a.type == AsValue::Type::kObject ? ToNumber(a) : PrimitiveNumber(a);
    const double y = b.type == AsValue::Type::kObject ? ToNumber(b) : PrimitiveNumber(b);
    f.Push(AsValue::Number(x + y));
  }
}

void Avm1::ActIncrement(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()) + 1)); }
void Avm1::ActDecrement(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()) - 1)); }

void Avm1::ActBitAnd(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a & b); }); }
void Avm1::ActBitOr(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a | b); }); }
void Avm1::ActBitXor(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a ^ b); }); }

void Avm1::ActBitLShift(ActionFrame& f) {
  Bitwise(f, [](std::int32_t a, std::int32_t b) {
    return double(static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << (b & 31)));
  });
}

void Avm1::ActBitRShift(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a >> (b & 31)); }); }

void Avm1::ActBitURShift(ActionFrame& f) {
  Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(static_cast<std::uint32_t>(a) >> (b & 31)); });
  // Movies of versions 8 and 9 get the result back as a signed number.
  if (version_ == 8 || version_ == 9) f.stack.back().num = ToInt32(f.stack.back().num);
}

// -- comparison and logic

void Avm1::ActEquals(ActionFrame& f) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  f.Push(BoolValue(a == b));
}

void Avm1::ActLess(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  const double x = ToNumber(a);  // the left first
  f.Push(BoolValue(x < ToNumber(b)));
}

void Avm1::ActAnd(ActionFrame& f) {
  const bool b = ToBool(f.Pop()), a = ToBool(f.Pop());
  f.Push(BoolValue(a && b));
}

void Avm1::ActOr(ActionFrame& f) {
  const bool b = ToBool(f.Pop()), a = ToBool(f.Pop());
  f.Push(BoolValue(a || b));
}

void Avm1::ActNot(ActionFrame& f) { f.Push(BoolValue(!ToBool(f.Pop()))); }

void Avm1::ActStringEquals(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a == b; });
}
void Avm1::ActStringLess(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a < b; });
}
void Avm1::ActStringGreater(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a > b; });
}

void Avm1::ActLess2(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(Less(a, b));
}

void Avm1::ActGreater(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(Less(b, a));
}

void Avm1::ActEquals2(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(AsValue::Bool(Equals2(a, b)));
}

void Avm1::ActStrictEquals(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(AsValue::Bool(StrictEquals(a, b)));
}

// -- strings

void Avm1::ActStringAdd(ActionFrame& f) {
  const std::string b = ToString(f.Pop()), a = ToString(f.Pop());
  f.Push(MakeString(a + b));
}

// Bytes before version 6, UTF-16 units after.
void Avm1::ActStringLength(ActionFrame& f) {
  const std::string s = ToString(f.Pop());
  f.Push(AsValue::Number(static_cast<double>(version_ >= 6 ? Utf16Length(s) : s.size())));
}

void Avm1::ActMBStringLength(ActionFrame& f) { f.Push(AsValue::Number(static_cast<double>(Utf16Length(ToString(f.Pop()))))); }

// StringExtract, MBStringExtract: 1-based index, in bytes or characters;
// from version 6 both count UTF-16 units, the numbers as 32-bit integers
// (a negative count takes the rest).
void Avm1::Extract(ActionFrame& f, bool characters) {
  const double count = ToNumber(f.Pop()), index = ToNumber(f.Pop());
  const std::string s = ToString(f.Pop());
  if (version_ >= 6) {
    const std::u16string units = Utf16Units(s);
    const auto start = static_cast<std::size_t>(std::clamp<std::int64_t>(std::int64_t{ToInt32(index)} - 1, 0,
                                                                         static_cast<std::int64_t>(units.size())));
    const std::int32_t n = ToInt32(count);
    const std::size_t take = n < 0 ? units.size() - start : std::min<std::size_t>(static_cast<std::size_t>(n), units.size() - start);
    f.Push(AsValue::String(encoding::Utf16ToUtf8(std::u16string_view(units).substr(start, take))));
    return;
  }
  std::vector<std::size_t> offs;
  if (characters) offs = CharOffsets(s);
  const double len = characters ? static_cast<double>(offs.size() - 1) : static_cast<double>(s.size());
  double start = std::isnan(index) ? 0 : std::max(0.0, std::trunc(index) - 1);
  start = std::min(start, len);
  double n = std::isnan(count) || count < 0 ? len - start : std::min(std::trunc(count), len - start);
  const auto a = static_cast<std::size_t>(start), b = static_cast<std::size_t>(start + n);
  f.Push(AsValue::String(characters ? s.substr(offs[a], offs[b] - offs[a]) : s.substr(a, b - a)));
}

void Avm1::ActStringExtract(ActionFrame& f) { Extract(f, false); }
void Avm1::ActMBStringExtract(ActionFrame& f) { Extract(f, true); }

void Avm1::ActToInteger(ActionFrame& f) {
  f.Push(AsValue::Number(ToInt32(ToNumber(f.Pop()))));
}

// From version 6 a character code is one UTF-16 unit: a character past
// the Basic Multilingual Plane reads as U+FFFD, a code wraps to 16 bits,
// a lone surrogate becomes U+FFFD and code 0 the empty string.
void Avm1::ActCharToAscii(ActionFrame& f) {
  const std::string s = ToString(f.Pop());
  if (version_ >= 6) {
    const std::uint32_t c = FirstCodePoint(s);
    f.Push(AsValue::Number(c > 0xFFFF ? 0xFFFD : c));
    return;
  }
  f.Push(AsValue::Number(s.empty() ? 0 : static_cast<unsigned char>(s[0])));
}

void Avm1::ActMBCharToAscii(ActionFrame& f) {
  const std::uint32_t c = FirstCodePoint(ToString(f.Pop()));
  f.Push(AsValue::Number(version_ >= 6 && c > 0xFFFF ? 0xFFFD : c));
}

std::string Avm1::CharFromCode(double code) const {
  const auto c = static_cast<std::uint32_t>(ToInt32(code)) & 0xFFFF;
  if (c == 0) return {};
  return Utf8(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
}

void Avm1::ActAsciiToChar(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  f.Push(AsValue::String(version_ >= 6 ? CharFromCode(n)
                                       : std::string(1, static_cast<char>(static_cast<std::uint32_t>(ToInt32(n)) & 0xFF))));
}

void Avm1::ActMBAsciiToChar(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  f.Push(AsValue::String(version_ >= 6 ? CharFromCode(n) : Utf8(static_cast<std::uint32_t>(ToInt32(n)) & 0x1FFFFF)));
}

void Avm1::ActToNumber(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()))); }
void Avm1::ActToString(ActionFrame& f) { f.Push(MakeString(ToString(f.Pop()))); }
void Avm1::ActTypeOf(ActionFrame& f) { f.Push(AsValue::String(TypeOf(f.Pop()))); }

// -- misc

void Avm1::ActRandomNumber(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  f.Push(AsValue::Number(n >= 1 ? std::floor(Random() * std::floor(n)) : 0));
}

void Avm1::ActGetTime(ActionFrame& f) { f.Push(AsValue::Number(static_cast<double>(ScriptClock()))); }

// -- variables

void Avm1::ActGetVariable(ActionFrame& f) {
  AsValue v = GetVar(f.ctx, ToString(f.Pop()));
  // Flash 4 has no movie clip values: no variable, path or name gives one.
  if (version_ < 5 && v.type == AsValue::Type::kClip) v = {};
  f.Push(std::move(v));
}

void Avm1::ActSetVariable(ActionFrame& f) {
  const AsValue v = f.Pop();
  SetVar(f.ctx, ToString(f.Pop()), v);
}

void Avm1::DefineLocal(ActionFrame& f, bool withValue) {
  const AsValue v = withValue ? f.Pop() : AsValue{};
  const std::string name = ToString(f.Pop());
  if (f.ctx.activation) {
    if (withValue || !f.ctx.activation->props.count(Key(name))) SetProp(f.ctx.activation, name, v);
  } else if (withValue) {
    SetVar(f.ctx, name, v);
  } else {
    // `var x;` on a timeline makes x there, unless x is already to be found
    // on it or its prototypes; "path:x" makes x on what the path names.
    AsValue owner = ClipValue(f.ctx.target);
    std::string member = name;
    if (const auto colon = name.rfind(':'); colon != std::string::npos) {
      if (colon > 0) owner = ResolvePath(f.ctx, name.substr(0, colon));
      member = name.substr(colon + 1);
    }
    AsValue found;
    if (AsObject* vars = ObjectOf(owner); vars && !FindProp(vars, Key(member), found)) SetProp(vars, member, AsValue{});
  }
}

void Avm1::ActDefineLocal(ActionFrame& f) { DefineLocal(f, true); }
void Avm1::ActDefineLocal2(ActionFrame& f) { DefineLocal(f, false); }

// Deletes an own property unless ASSetPropFlags protects it.
bool Avm1::DeleteProp(AsObject* o, const std::string& name) {
  if (!o) return false;
  auto it = o->props.find(Key(name));
  if (it == o->props.end() && Key(name) == "__proto__" && (o->proto || !o->protoValue.IsUndefined())) {
    // __proto__ is a property like any other: deleted, the chain is gone.
    o->proto = nullptr;
    o->protoValue = {};
    return true;
  }
  if (it == o->props.end() || it->second.dontDelete) return false;
  o->props.erase(it);
  return true;
}

void Avm1::ActDelete(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  bool done = false;
  if (obj.type == AsValue::Type::kObject) {
    done = DeleteProp(obj.obj, name);
  } else if (obj.type == AsValue::Type::kClip) {
    if (TimelineState* tl = stage_.TimelineOf(ClipOf(obj)); tl && tl->vars) done = DeleteProp(tl->vars, name);
  }
  f.Push(AsValue::Bool(done));
}

// What Flash Player prints when a path names a member of a primitive.
static constexpr char kPrimitiveOwnerWarning[] =
    "Parameters of primitive types are no longer coerced into the required type - Object.";

void Avm1::ActDelete2(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  AsValue holder, dummy;
  bool done = false;
  // A path ("o.a", "clip:v") deletes the last name from what the rest names.
  if (const auto cut = name.find_last_of(".:"); cut != std::string::npos && cut > 0 && cut + 1 < name.size()) {
    const AsValue owner = GetVar(f.ctx, name.substr(0, cut));
    const std::string last = name.substr(cut + 1);
    if (owner.type == AsValue::Type::kObject) {
      done = DeleteProp(owner.obj, last);
    } else if (owner.type == AsValue::Type::kString || owner.type == AsValue::Type::kNumber ||
               owner.type == AsValue::Type::kBoolean) {
      // Flash Player's own warning, printed as a trace line.
      TraceValue(AsValue::String(kPrimitiveOwnerWarning));
    } else if (TimelineState* tl = stage_.TimelineOf(ClipOf(owner)); tl && tl->vars) {
      done = DeleteProp(tl->vars, last);
    }
    f.Push(AsValue::Bool(done));
    return;
  }
  if (LookupScope(f.ctx, name, dummy, &holder)) {
    if (holder.type == AsValue::Type::kObject) done = DeleteProp(holder.obj, name);
    else if (TimelineState* tl = stage_.TimelineOf(ClipOf(holder)); tl && tl->vars) done = DeleteProp(tl->vars, name);
  }
  f.Push(AsValue::Bool(done));
}

// -- objects

void Avm1::ActGetMember(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  f.Push(Get(obj, name));
}

void Avm1::ActSetMember(ActionFrame& f) {
  const AsValue v = f.Pop();
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  Set(obj, name, v);
}

// A count below 0 or past the 32-bit range makes undefined and leaves the
// elements on the stack (a NaN count makes an empty literal).
static bool LiteralCountInRange(double n) { return std::isnan(n) || (n >= 0 && n <= 2147483647.0); }

void Avm1::ActInitArray(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  if (!LiteralCountInRange(n)) return f.Push(AsValue());
  f.stack.push_back(AsValue::Number(n));
  f.Push(AsValue::Object(NewArray(PopArgs(f))));
}

void Avm1::ActInitObject(ActionFrame& f) {
  const double count = ToNumber(f.Pop());
  if (!LiteralCountInRange(count)) return f.Push(AsValue());
  f.stack.push_back(AsValue::Number(count));
  const std::size_t n = std::min(PopCount(f), f.stack.size() / 2);
  AsObject* o = NewObject();
  std::vector<std::pair<std::string, AsValue>> pairs;
  for (std::size_t i = 0; i < n; ++i) {
    AsValue v = f.Pop();
    pairs.emplace_back(ToString(f.Pop()), std::move(v));
  }
  // Made from the last pair back, so that for..in (newest first) lists
  // them in the order written.
  for (auto& [name, v] : pairs) {
    // {__proto__: p} sets the prototype, as an assignment would.
    if (Key(name) == "__proto__") Set(AsValue::Object(o), name, v);
    else SetProp(o, name, v);
  }
  f.Push(AsValue::Object(o));
}

void Avm1::ConstructOrSkip(ActionFrame& f, const AsValue& ctor, const std::string& name, std::vector<AsValue>& args) {
  if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) {
    Skip("new " + name);
    f.Push(AsValue::Object(NewObject()));
  } else {
    f.Push(Construct(ctor, args));
  }
}

// Once the clip its actions belong to is removed, a list of actions stops
// at its next call or construction (made or missed), whatever it was.
static void StopIfBaseRemoved(Avm1& vm, ActionFrame& f) {
  if (f.baseAlive && !vm.GetStage().TimelineOf(f.ctx.base)) f.End();
}

void Avm1::ActNewObject(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  std::vector<AsValue> args = PopArgs(f);
  const AsValue ctor = GetVar(f.ctx, name);
  ConstructOrSkip(f, ctor, name, args);
  StopIfBaseRemoved(*this, f);
}

void Avm1::ActNewMethod(ActionFrame& f) {
  const AsValue nameV = f.Pop();
  const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
  const AsValue obj = f.Pop();
  std::vector<AsValue> args = PopArgs(f);
  const AsValue ctor = name.empty() || obj.IsUndefined() ? obj : Get(obj, name);
  ConstructOrSkip(f, ctor, name, args);
  if (!obj.IsNullish()) StopIfBaseRemoved(*this, f);
}

void Avm1::ActCallFunction(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  std::vector<AsValue> args = PopArgs(f);
  AsValue fn, holder;
  bool byPath = false;
  if (name.find_first_of(":/.") != std::string::npos) {
    // A path names the object too: the function runs as its method.
    const auto cut = name.find_last_of(".:");
    if (cut != std::string::npos && cut > 0 && cut + 1 < name.size()) {
      const AsValue base = GetVar(f.ctx, name.substr(0, cut));
      if (base.type == AsValue::Type::kClip || base.type == AsValue::Type::kObject) {
        fn = Get(base, name.substr(cut + 1));
        holder = base;
        byPath = fn.type == AsValue::Type::kObject && fn.obj->fn;
      }
    }
    if (!byPath) fn = GetVar(f.ctx, name), holder = {};
  } else {
    LookupScope(f.ctx, name, fn, &holder);
  }
  if (fn.type == AsValue::Type::kObject && !fn.obj->fn && !fn.obj->boundThis.IsUndefined()) {
    // super() called as a function: the base class's constructor on this object.
    const AsValue self = fn.obj->boundThis;
    fn = SuperConstructor(fn.obj);
    if (fn.type == AsValue::Type::kObject && fn.obj->fn) {
      const bool builds = fn.obj->fn->native && self.type == AsValue::Type::kObject;
      const AsObject* outer = std::exchange(constructing_, builds ? self.obj : nullptr);
      f.Push(CallFunction(fn.obj, self, args));
      constructing_ = outer;
      return;
    }
  }
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
    Skip("function " + name);
    f.Push({});
    StopIfBaseRemoved(*this, f);
    return;
  }
  // A function acts on the timeline or object of the scope it is found in
  // (a `with` object, a function's locals); one of the globals on the
  // caller's `this`.
  AsValue self = holder.type == AsValue::Type::kClip || byPath ? holder : f.ctx.thisv;
  if (holder.type == AsValue::Type::kObject ? holder.obj != global_
                                             : fn.obj->fn->native && holder.type != AsValue::Type::kClip) {
    self = holder;
  }
  const AsObject* outer = std::exchange(constructing_, nullptr);
  f.Push(CallFunction(fn.obj, self, args));
  constructing_ = outer;
  StopIfBaseRemoved(*this, f);
}

// No method name calls the object itself.
void Avm1::ActCallMethod(ActionFrame& f) {
  const AsValue nameV = f.Pop();
  const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
  const AsValue obj = f.Pop();
  std::vector<AsValue> args = PopArgs(f);
  AsValue fn = name.empty() ? obj : Get(obj, name);
  AsValue self = name.empty() ? AsValue{} : obj;
  bool superCall = false;
  if (obj.type == AsValue::Type::kObject && !obj.obj->boundThis.IsUndefined()) {
    // super(...) and super.method(...) act on the caller's object.
    superCall = name.empty();
    if (superCall) {
      fn = SuperConstructor(obj.obj);
    } else {
      RefreshSuper(obj.obj);
      fn = Get(obj, name);
    }
    self = obj.obj->boundThis;
  }
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
    Skip("method " + name);
    if (tracing_) TraceLine("missing method " + name + " on " + Describe(obj));
    f.Push({});
    // A call on nothing at all is dropped before that check.
    if (!obj.IsNullish()) StopIfBaseRemoved(*this, f);
    return;
  }
  // super() of a class extending a built-in builds the object as `new` would.
  const bool builds = superCall && fn.obj->fn->native && self.type == AsValue::Type::kObject;
  const AsObject* outer = std::exchange(constructing_, builds ? self.obj : nullptr);
  f.Push(CallFunction(fn.obj, self, args));
  constructing_ = outer;
  StopIfBaseRemoved(*this, f);
}

void Avm1::ActReturn(ActionFrame& f) { f.End(f.Pop()); }

void Avm1::DefineFunction(ActionFrame& f, bool v2) {
  swf::Reader& r = f.r;
  auto fn = std::make_unique<AsFunction>();
  fn->name = r.String("FunctionName");
  const std::uint16_t n = r.U16("NumParams");
  if (v2) {
    fn->v2 = true;
    fn->registers = r.U8("RegisterCount");
    fn->flags = r.U16("Flags");
    for (unsigned i = 0; i < n; ++i) {
      const std::uint8_t reg = r.U8("Register");
      fn->params.emplace_back(reg, r.String("ParamName"));
    }
  } else {
    for (unsigned i = 0; i < n; ++i) fn->params.emplace_back(0, r.String("Param"));
  }
  // The body follows the action.
  const std::size_t size = r.U16("CodeSize");
  if (f.pc + size > f.code.size()) return f.End();
  fn->code = f.code.subspan(f.pc, size);
  f.pc += size;
  fn->pool = f.ctx.pool;
  fn->version = version_;
  fn->scope = f.ctx.scope;
  if (fn->scope.size() > kMaxScopes) fn->scope.erase(fn->scope.begin() + 1, fn->scope.end() - kMaxScopes);
  const std::string name = fn->name;
  AsObject* fo = NewObject(functionProto_);
  fo->className = "Function";
  fo->fn = std::move(fn);
  AsObject* proto = NewObject();
  SetProp(proto, "constructor", AsValue::Object(fo), true);
  SetProp(fo, "prototype", AsValue::Object(proto), true);
  fo->props[Key("prototype")].dontDelete = true;  // a function's prototype survives delete
  const AsValue fv = AsValue::Object(fo);
  if (name.empty()) {
    f.Push(fv);
  } else if (f.ctx.activation) {
    SetProp(f.ctx.activation, name, fv);
  } else {
    SetVar(f.ctx, name, fv);
  }
}

void Avm1::ActDefineFunction(ActionFrame& f) { DefineFunction(f, false); }
void Avm1::ActDefineFunction2(ActionFrame& f) { DefineFunction(f, true); }

// Pushes a null, then the names to visit.
void Avm1::EnumerateNames(ActionFrame& f, const AsValue& obj) {
  f.Push(AsValue::Undefined());  // the end of the names
  std::vector<std::pair<std::uint64_t, std::string>> names;
  AsObject* o = obj.type == AsValue::Type::kObject ? obj.obj : nullptr;
  if (obj.type == AsValue::Type::kClip) {
    // A text field lists its own object's names and TextField's.
    if (!stage_.TimelineOf(ClipOf(obj))) o = avm1_builtins::TextFieldObject(*this, ClipOf(obj), true);
    if (TimelineState* tl = stage_.TimelineOf(ClipOf(obj))) {
      o = tl->vars ? tl->vars : VarsProto(tl);
      // Every child with a name: clips, buttons and fields have one of
      // their own; shapes, text, videos and pictures only one the
      // placement gave.
      for (auto& [depth, inst] : tl->list) {
        if (!inst.name.empty()) names.emplace_back(0, inst.name);
      }
    }
  }
  // Names come off the stack last pushed first: an object's newest
  // property first (array elements are properties too), then its prototype's that it
  // does not have itself, and a clip's children last.
  std::set<std::string> seen;
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    std::vector<std::pair<std::uint64_t, std::string>> own;
    for (auto& [k, p] : o->props) {
      // A property the movie's version does not see is still listed.
      if (!p.hidden && seen.insert(k).second) {
        own.emplace_back(p.order, p.name);
      }
    }
    std::sort(own.begin(), own.end());
    names.insert(names.end(), own.begin(), own.end());
  }
  for (auto& [order, name] : names) f.Push(AsValue::String(name));
}

void Avm1::ActEnumerate(ActionFrame& f) {
  const AsValue obj = GetVar(f.ctx, ToString(f.Pop()));
  EnumerateNames(f, obj);
}

void Avm1::ActEnumerate2(ActionFrame& f) { EnumerateNames(f, f.Pop()); }

void Avm1::ActInstanceOf(ActionFrame& f) {
  const AsValue ctor = f.Pop(), v = f.Pop();
  f.Push(AsValue::Bool(InstanceOf(v, ctor)));
}

void Avm1::ActCastOp(ActionFrame& f) {
  const AsValue v = f.Pop(), ctor = f.Pop();
  // Flash makes an object of a primitive first, and then drops it.
  if (v.type != AsValue::Type::kObject && v.type != AsValue::Type::kClip) CoerceToObject(v);
  f.Push(InstanceOf(v, ctor) ? v : AsValue::Null());
}

// The class's prototype remembers the prototypes of its interfaces, for
// instanceof and casts: read now, set once, from version 7. Primitives
// count for nothing.
void Avm1::ActImplementsOp(ActionFrame& f) {
  const AsValue ctor = f.Pop();
  const std::size_t n = PopCount(f);
  if (n == 0) return;
  std::vector<AsObject*> ifaces;
  for (std::size_t i = 0; i < n; ++i) {
    const AsValue v = f.Pop();
    if (v.type != AsValue::Type::kObject && v.type != AsValue::Type::kClip) continue;
    const AsValue p = RawPrototype(v);
    if (p.type == AsValue::Type::kObject && ifaces.size() < 64) ifaces.push_back(p.obj);
  }
  if (version_ < 7) return;
  const AsValue proto = RawPrototype(ctor);
  if (proto.type != AsValue::Type::kObject || proto.obj->interfacesSet) return;
  proto.obj->interfaces = std::move(ifaces);
  proto.obj->interfacesSet = true;
}

void Avm1::ActExtends(ActionFrame& f) {
  const AsValue super = f.Pop(), sub = f.Pop();
  if (sub.type == AsValue::Type::kObject && super.type == AsValue::Type::kObject) {
    const AsValue sp = Get(super, "prototype");
    AsObject* proto = NewObject(sp.type == AsValue::Type::kObject ? sp.obj : objectProto_);
    SetProp(proto, "__constructor__", super, true);
    SetProp(sub.obj, "prototype", AsValue::Object(proto), true);
  }
}

// -- blocks

void Avm1::ActWith(ActionFrame& f) {
  const std::size_t size = f.r.U16("Size");
  const std::size_t end = std::min(f.code.size(), f.pc + size);
  // A string, number or boolean is in scope as its wrapper object;
  // undefined and null skip the block.
  const AsValue obj = avm1_builtins::BoxPrimitive(*this, f.Pop());
  if (obj.IsNullish()) {
    f.pc = end;
    return;
  }
  if (f.ctx.scope.size() < kMaxScopes && (obj.type == AsValue::Type::kObject || obj.type == AsValue::Type::kClip)) {
    f.withs.emplace_back(end, f.ctx.scope.size());
    f.ctx.scope.push_back(obj);
  }
}

void Avm1::ActTry(ActionFrame& f) {
  swf::Reader& r = f.r;
  const std::uint8_t flags = r.U8("Flags");
  const std::size_t trySize = r.U16("TrySize"), catchSize = r.U16("CatchSize"), finallySize = r.U16("FinallySize");
  ActionFrame::TryBlock t{};
  t.catchInRegister = flags & 4;
  if (t.catchInRegister) t.reg = r.U8("CatchRegister");
  else t.var = r.String("CatchName");
  t.hasCatch = flags & 1;
  t.hasFinally = flags & 2;
  t.catchStart = std::min(f.code.size(), f.pc + trySize);
  t.finallyStart = std::min(f.code.size(), t.catchStart + (t.hasCatch ? catchSize : 0));
  t.end = std::min(f.code.size(), t.finallyStart + (t.hasFinally ? finallySize : 0));
  t.stackSize = f.stack.size();
  if (t.catchStart > f.pc) f.tries.push_back(t);
}

void Avm1::ActThrow(ActionFrame& f) {
  thrown_ = f.Pop();
  throwing_ = true;
}

}  // namespace quarvel::player
