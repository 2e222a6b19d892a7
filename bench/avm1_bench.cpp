// The ActionScript 1/2 interpreter's cost per action: movies made here run
// one frame of a tight loop per iteration.
#include <benchmark/benchmark.h>

#include <string>

#include "player/avm1/avm1_action_list.h"
#include "player/flash_player.h"
#include "support/swf_builder.h"

namespace {

using quarvel::player::Action;
using quarvel::player::Code;
using quarvel::testing::Actions;
using quarvel::testing::SwfBuilder;

void RunFrames(benchmark::State& state, const Actions& frame) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DoAction(frame).ShowFrame().ShowFrame();
  quarvel::player::FlashPlayer player;
  player.SetSize(100, 100);
  if (!player.LoadMovieBytes(b.Build())) {
    state.SkipWithError(player.LoadError().c_str());
    return;
  }
  std::int64_t t = 0;
  for (auto _ : state) {
    t += 100;
    player.AdvanceTo(t);
  }
}

// A frame that jumps to itself until the frame's action budget ends it.
void BM_JumpLoop(benchmark::State& state) { RunFrames(state, Actions().Jump(-5)); }

// i = 0; while (i < 20000) i = i + 1;  with variables, as scripts count.
void BM_CountingLoop(benchmark::State& state) {
  Actions body;
  body.PushString("i").PushString("i").Raw(Code(Action::kGetVariable)).PushInt(1).Raw(Code(Action::kAdd2)).SetVariable();
  Actions cond;
  cond.PushString("i").Raw(Code(Action::kGetVariable)).PushInt(20000).Raw(Code(Action::kLess2)).Raw(Code(Action::kNot));
  Actions a;
  a.PushString("i").PushInt(0).SetVariable();
  const auto back = static_cast<std::int16_t>(cond.Size() + 5 + body.Size() + 5);
  a.Append(cond).If(static_cast<std::int16_t>(body.Size() + 5)).Append(body).Jump(static_cast<std::int16_t>(-back));
  RunFrames(state, a);
}

BENCHMARK(BM_JumpLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountingLoop)->Unit(benchmark::kMillisecond);

}  // namespace
