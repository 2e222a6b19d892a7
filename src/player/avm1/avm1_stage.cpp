#include "player/avm1/avm1_stage.h"

#include "player/avm1/avm1.h"

namespace quarvel::player {
namespace {

class Avm1Scripts final : public ClipScripts {
 public:
  Avm1Scripts(Stage& stage, const ScriptLimits& limits) : vm_(stage, stage.Library().movie.version) {
    vm_.LowerLimits(limits);
  }

  void BeginFrame(std::int64_t ms) override { vm_.BeginFrame(ms); }
  void EndFrame() override { vm_.EndFrame(); }
  void Collect() override { vm_.Collect(); }
  void Run(ClipHandle clip, std::span<const std::uint8_t> code) override { vm_.Run(clip, code); }
  void CallHandler(ClipHandle clip, const std::string& name) override { vm_.CallHandler(clip, name); }
  bool HasHandler(ClipHandle clip, const std::string& name) override { return vm_.HasHandler(clip, name); }
  void ConstructClip(ClipHandle clip) override { vm_.ConstructClip(clip); }
  void ClipUnloading(ClipHandle clip) override { vm_.ClipUnloading(clip); }
  void RunUnloads() override { vm_.RunUnloads(); }
  void KeyChanged(bool down, int keyCode, int charCode) override { vm_.KeyChanged(down, keyCode, charCode); }
  void BroadcastGlobal(const std::string& object, const std::string& message) override {
    vm_.BroadcastGlobal(object, message);
  }
  ClipHandle HitAreaOf(ClipHandle clip) override { return vm_.ClipOf(vm_.PeekClipMember(clip, "hitArea")); }
  bool Enabled(ClipHandle clip) override {
    const AsValue enabled = vm_.PeekClipMember(clip, "enabled");
    return enabled.IsUndefined() || enabled.type == AsValue::Type::kObject || vm_.ToBool(enabled);
  }
  std::optional<std::string> VariableText(const std::string& path, ClipHandle clip) override {
    const AsValue v = vm_.Evaluate(path, clip);
    if (v.IsUndefined()) return std::nullopt;
    return vm_.ToString(v);
  }
  void SetVariableText(const std::string& path, const std::string& text, ClipHandle clip) override {
    vm_.Assign(path, AsValue::String(text), clip);
  }
  bool VariableOnClip(const std::string& path, ClipHandle clip) override {
    return vm_.VariableOnClip(path, clip);
  }

 private:
  Avm1 vm_;
};

}  // namespace

std::unique_ptr<ClipScripts> MakeAvm1Scripts(Stage& stage, const ScriptLimits& limits) {
  return std::make_unique<Avm1Scripts>(stage, limits);
}

}  // namespace quarvel::player
