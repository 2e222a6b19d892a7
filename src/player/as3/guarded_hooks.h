#pragma once
// The stage's way into an ActionScript 3 movie: every hook the stage calls
// runs inside the machine's guard (Machine::Contain), so that an error or a
// cap no finer guard took (a listener's, a constructor's, a frame script's)
// ends at this boundary, is reported as Flash reports an uncaught error, and
// the movie goes on with its next hook.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "player/avm2/machine.h"
#include "player/display/stage.h"

namespace quarvel::player {

class GuardedHooks final : public ScriptHooks {
 public:
  GuardedHooks(std::unique_ptr<ScriptHooks> inner, avm2::Machine& m) : inner_(std::move(inner)), m_(m) {}

  void Placed(Instance& inst) override {
    m_.Contain([&] { inner_->Placed(inst); }, "placing a timeline object");
  }
  void FrameEntered(TimelineState& tl) override {
    m_.Contain([&] { inner_->FrameEntered(tl); }, "entering a frame");
  }
  void MainFrameReached(int frame) override {
    m_.Contain([&] { inner_->MainFrameReached(frame); }, "a frame's code blocks");
  }
  void BeforeFrame() override {
    m_.Contain([&] { inner_->BeforeFrame(); }, "the start of a frame");
  }
  void AfterFrame() override {
    m_.Contain([&] { inner_->AfterFrame(); }, "the end of a frame");
  }
  void TimelinesAdvanced() override {
    m_.Contain([&] { inner_->TimelinesAdvanced(); }, "the frame's enterFrame");
  }
  void Removing(Instance& inst) override {
    m_.Contain([&] { inner_->Removing(inst); }, "taking a timeline object off");
  }
  void ButtonTransition(Instance& button, std::uint16_t transition) override {
    m_.Contain([&] { inner_->ButtonTransition(button, transition); }, "a button's events");
  }
  bool ShowButtonState(Instance& button, std::uint8_t state) override {
    bool shown = true;  // a failure still leaves the states to the machine
    m_.Contain([&] { shown = inner_->ShowButtonState(button, state); }, "a button's state");
    return shown;
  }
  std::vector<Instance*> HiddenStates(Instance& button) override {
    std::vector<Instance*> out;
    m_.Contain([&] { out = inner_->HiddenStates(button); }, "a button's states");
    return out;
  }
  void Pointer(double x, double y, bool down) override {
    m_.Contain([&] { inner_->Pointer(x, y, down); }, "the pointer's events");
  }
  void Key(bool down, int keyCode, int charCode) override {
    m_.Contain([&] { inner_->Key(down, keyCode, charCode); }, "a key's events");
  }
  TimelineState* Orphans() override { return inner_->Orphans(); }
  bool HandCursor() const override { return inner_->HandCursor(); }
  std::vector<std::string> Skipped() const override { return inner_->Skipped(); }
  std::vector<PresentedLayer> Stage3DLayers() const override { return inner_->Stage3DLayers(); }
  void BeforeDraw() override {
    m_.Contain([&] { inner_->BeforeDraw(); }, "reading the perspective projections");
  }

 private:
  std::unique_ptr<ScriptHooks> inner_;
  avm2::Machine& m_;
};

}  // namespace quarvel::player
