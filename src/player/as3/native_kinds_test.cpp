// Flash objects of one kind passed where a script call expects another:
// each call throws Flash's TypeError (#1034) to the script, which catches
// it, and nothing reads or writes the object as the wrong layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

// An object of one native kind, pushed on the stack.
struct Producer {
  const char* name;
  const char* kind;  // what it is, as the consumers below name what they expect
  std::function<void(As3Movie&, AbcCode&)> push;
};

// A call given the value in local 2; `expects` is the kind it takes.
struct Consumer {
  const char* name;
  const char* expects;
  std::function<void(As3Movie&, AbcCode&)> call;
};

void Construct(As3Movie& m, AbcCode& c, const char* package, const char* cls, std::vector<int> args = {}) {
  const auto name = m.a.PackageName(package, cls);
  c.Op("findpropstrict", {name});
  for (int v : args) c.Op("pushint", {m.a.Int(v)});
  c.Op("constructprop", {name, static_cast<std::uint32_t>(args.size())});
}

std::vector<Producer> Producers() {
  auto make = [](const char* package, const char* cls, std::vector<int> args = {}) {
    return [=](As3Movie& m, AbcCode& c) { Construct(m, c, package, cls, args); };
  };
  auto own = [](const char* property) {
    return [=](As3Movie& m, AbcCode& c) { c.Op("getlocal_0").Op("getproperty", {m.Q(property)}); };
  };
  return {
      {"Event", "event", make("flash.events", "Event", {})},
      {"Sprite", "display", make("flash.display", "Sprite")},
      {"BitmapData", "bitmap", make("flash.display", "BitmapData", {2, 2})},
      {"BlurFilter", "filter", make("flash.filters", "BlurFilter")},
      {"Sound", "sound", make("flash.media", "Sound")},
      {"Timer", "timer", make("flash.utils", "Timer", {1000})},
      {"URLLoader", "urlloader", make("flash.net", "URLLoader")},
      {"Shader", "shader", make("flash.display", "Shader")},
      {"TextFormat", "textformat", make("flash.text", "TextFormat")},
      {"StyleSheet", "stylesheet", make("flash.text", "StyleSheet")},
      {"Graphics", "graphics", own("graphics")},
      {"Transform", "transform", own("transform")},
      {"LoaderInfo", "loaderinfo", own("loaderInfo")},
  };
}

std::vector<Consumer> Consumers() {
  auto method = [](const char* name, int more = 0) {
    return [=](As3Movie& m, AbcCode& c) {
      c.Op("getlocal_0").Op("getlocal_2");
      for (int i = 0; i < more; ++i) c.Op("pushint", {m.a.Int(0)});
      c.Op("callpropvoid", {m.Q(name), static_cast<std::uint32_t>(1 + more)});
    };
  };
  auto setter = [](const char* name) {
    return [=](As3Movie& m, AbcCode& c) { c.Op("getlocal_0").Op("getlocal_2").Op("setproperty", {m.Q(name)}); };
  };
  auto onGraphics = [](const char* name) {
    return [=](As3Movie& m, AbcCode& c) {
      c.Op("getlocal_0").Op("getproperty", {m.Q("graphics")}).Op("getlocal_2").Op("callpropvoid", {m.Q(name), 1});
    };
  };
  return {
      {"dispatchEvent", "event", method("dispatchEvent")},
      {"addChild", "display", method("addChild")},
      {"addChildAt", "display", method("addChildAt", 1)},
      {"contains", "display", method("contains")},
      {"hitTestObject", "display", method("hitTestObject")},
      {"mask", "display", setter("mask")},
      {"transform", "transform", setter("transform")},
      {"blendShader", "shader", setter("blendShader")},
      {"beginBitmapFill", "bitmap", onGraphics("beginBitmapFill")},
      {"copyFrom", "graphics", onGraphics("copyFrom")},
      {"new Bitmap", "bitmap",
       [](As3Movie& m, AbcCode& c) {
         const auto bitmap = m.Display("Bitmap");
         c.Op("findpropstrict", {bitmap}).Op("getlocal_2").Op("constructprop", {bitmap, 1}).Op("pop");
       }},
      {"copyPixels", "bitmap",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.display", "BitmapData", {2, 2});
         c.Op("getlocal_2");
         Construct(m, c, "flash.geom", "Rectangle", {0, 0, 1, 1});
         Construct(m, c, "flash.geom", "Point");
         c.Op("callpropvoid", {m.Q("copyPixels"), 3});
       }},
      {"attachNetStream", "netstream",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.media", "Video");
         c.Op("getlocal_2").Op("callpropvoid", {m.Q("attachNetStream"), 1});
       }},
      {"setTextFormat", "textformat",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.text", "TextField");
         c.Op("getlocal_2").Op("callpropvoid", {m.Q("setTextFormat"), 1});
       }},
      {"defaultTextFormat", "textformat",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.text", "TextField");
         c.Op("getlocal_2").Op("setproperty", {m.Q("defaultTextFormat")});
       }},
      {"styleSheet", "stylesheet",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.text", "TextField");
         c.Op("getlocal_2").Op("setproperty", {m.Q("styleSheet")});
       }},
      {"draw", "drawable",
       [](As3Movie& m, AbcCode& c) {
         Construct(m, c, "flash.display", "BitmapData", {2, 2});
         c.Op("getlocal_2").Op("callpropvoid", {m.Q("draw"), 1});
       }},
  };
}

bool Accepts(const Consumer& c, const Producer& p) {
  if (std::string(c.expects) == "drawable") return std::string(p.kind) == "display" || std::string(p.kind) == "bitmap";
  return std::string(c.expects) == p.kind;
}

TEST(As3NativeKinds, EveryKindWhereAnotherIsExpectedIsATypeErrorTheScriptCatches) {
  As3Movie d;
  std::vector<std::uint32_t> cases;
  std::string expected;
  for (const Producer& p : Producers()) {
    for (const Consumer& k : Consumers()) {
      if (Accepts(k, p)) continue;
      const std::string label = std::string(p.name) + ">" + k.name;
      // function () { try { local2 = <p>; <k>; trace(label survived) } catch (e) { trace(label e.errorID) } }
      AbcCode c;
      c.Op("getlocal_0").Op("pushscope");
      c.Label("try");
      p.push(d, c);
      c.Op("setlocal_2");
      k.call(d, c);
      d.Trace(c, label + " survived");
      c.Label("end").Branch("jump", "done");
      c.Label("catch").Op("setlocal_3");
      c.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S(label + " ")});
      c.Op("getlocal_3").Op("getproperty", {d.Q("errorID")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
      c.Label("done").Op("returnvoid");
      cases.push_back(d.Method(c));
      d.a.File().bodies.back().exceptions = {
          {c.LabelOffset("try"), c.LabelOffset("end"), c.LabelOffset("catch"), 0, 0}};
      expected += label + " 1034|";
    }
  }
  const auto bytes = d.Build([&](As3Movie&, AbcCode& c) {
    for (std::uint32_t f : cases) c.Op("newfunction", {f}).Op("getlocal_0").Op("call", {0}).Op("pop");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), expected);
}

TEST(As3NativeKinds, InteractiveDefaultsAndCapabilitiesAreFlashs) {
  // tabIndex -1, focusRect, contextMenu and accessibilityProperties null
  // until set, then what was set; Capabilities.isDebugger false, and a version recent enough for
  // frameworks that refuse players before 19 (Stage3D movies).
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto trace = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    for (const char* p : {"tabIndex", "focusRect", "contextMenu", "accessibilityProperties"})
      trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q(p)}); });
    c.Op("getlocal_0").Op("pushbyte", {7}).Op("setproperty", {m.Q("tabIndex")});
    c.Op("getlocal_0").Op("pushfalse").Op("setproperty", {m.Q("focusRect")});
    Construct(m, c, "flash.ui", "ContextMenu");
    c.Op("setlocal_1").Op("getlocal_0").Op("getlocal_1").Op("setproperty", {m.Q("contextMenu")});
    trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q("tabIndex")}); });
    trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q("focusRect")}); });
    trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q("contextMenu")}).Op("getlocal_1").Op("strictequals"); });
    Construct(m, c, "flash.accessibility", "AccessibilityProperties");
    c.Op("setlocal_1").Op("getlocal_0").Op("getlocal_1").Op("setproperty", {m.Q("accessibilityProperties")});
    trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q("accessibilityProperties")}).Op("getlocal_1").Op("strictequals"); });
    const auto caps = m.a.PackageName("flash.system", "Capabilities");
    trace([&] { c.Op("getlex", {caps}).Op("getproperty", {m.Q("isDebugger")}); });
    trace([&] { c.Op("getlex", {caps}).Op("getproperty", {m.Q("version")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "-1|null|null|null|7|false|true|true|false|LNX 32,0,0,465|");
}

TEST(As3NativeKinds, TheScreenIsTheMoviesFrame) {
  // Drawn off screen, the player's screen is the movie's frame: a movie that
  // scales itself to screenResolutionX/Y keeps the size it was made for.
  As3Movie d;
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        const auto caps = m.a.PackageName("flash.system", "Capabilities");
        for (const char* p : {"screenResolutionX", "screenResolutionY"})
          c.Op("findpropstrict", {m.Q("trace")}).Op("getlex", {caps}).Op("getproperty", {m.Q(p)})
              .Op("callpropvoid", {m.Q("trace"), 1});
      },
      1, {}, 320, 240);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "320|240|");
}

TEST(As3NativeKinds, APictureLinkedToABitmapDataClassIsABitmapShowingThatClass) {
  // A timeline picture whose symbol is linked to a BitmapData subclass: the
  // child is a Bitmap whose bitmapData is an object of that class, holding
  // the picture.
  As3Movie d;
  // Its constructor takes (width, height), as the authoring tool writes it.
  d.LinkedClass("Logo", {d.Display("BitmapData")}, 9, {}, {}, false, 2);
  d.defineTags = [](testing::SwfBuilder& b) {
    const std::vector<swf::Rgba> pixels(6, swf::Rgba{255, 0, 0, 255});
    b.DefineBitsLossless(9, 3, 2, pixels);
    b.PlaceObject2({.depth = 1, .characterId = 9});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("coerce_a").Op("setlocal_1");
    auto trace = [&](const std::vector<const char*>& path, const char* call = nullptr) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1");
      for (const char* p : path) c.Op("getproperty", {m.Q(p)});
      if (call) c.Op("pushbyte", {0}).Op("pushbyte", {0}).Op("callproperty", {m.Q(call), 2});
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    trace({});
    trace({"bitmapData"});
    trace({"bitmapData", "width"});
    trace({"bitmapData", "height"});
    trace({"bitmapData"}, "getPixel");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "[object Bitmap]|[object Logo]|3|2|16711680|");
}

// A picture of no pixels is no character, but a BitmapData class linked to
// it makes an empty BitmapData (0 x 0), as does its clone.
TEST(As3NativeKinds, AnEmptyPictureLinkedToABitmapDataClassMakesAnEmptyBitmapData) {
  As3Movie d;
  d.LinkedClass("Empty", {d.Display("BitmapData")}, 9);
  d.defineTags = [](testing::SwfBuilder& b) { b.DefineBitsLossless(9, 0, 0, {}); };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Empty")}).Op("constructprop", {m.Q("Empty"), 0}).Op("coerce_a").Op("setlocal_1");
    c.Op("getlocal_1").Op("callproperty", {m.Q("clone"), 0}).Op("coerce_a").Op("setlocal_2");
    for (int local : {1, 2})
      for (const char* p : {"width", "height"})
        m.TraceValue(c, "", [&] { c.Op("getlocal", {local}).Op("getproperty", {m.Q(p)}); });
  });
  const auto out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out, "0|0|0|0|");
}

// Tab order as Flash keeps it: tabEnabled follows the kind until set
// (buttons and sprites in button mode take part), tabIndex takes -1 and up,
// and focusRect keeps a Boolean or null, anything else reading false.
TEST(As3NativeKinds, TabOrderAndFocusRectKeepWhatFlashKeeps) {
  As3Movie d;
  std::vector<std::uint32_t> cases;
  // function () { try { <body> } catch (e) { trace(e.errorID) } }
  auto guarded = [&](const std::function<void(AbcCode&)>& body) {
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    c.Label("try");
    body(c);
    c.Label("end").Branch("jump", "done");
    c.Label("catch").Op("setlocal_3");
    c.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_3").Op("getproperty", {d.Q("errorID")}).Op("callpropvoid", {d.Q("trace"), 1});
    c.Label("done").Op("returnvoid");
    cases.push_back(d.Method(c));
    d.a.File().bodies.back().exceptions = {{c.LabelOffset("try"), c.LabelOffset("end"), c.LabelOffset("catch"), 0, 0}};
  };
  auto trace = [&](AbcCode& c, const std::function<void()>& push) {
    c.Op("findpropstrict", {d.Q("trace")});
    push();
    c.Op("callpropvoid", {d.Q("trace"), 1});
  };
  // A sprite: not in tab order until button mode; tabChildren kept.
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.display", "Sprite");
    c.Op("setlocal_1");
    trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("tabEnabled")}); });
    c.Op("getlocal_1").Op("pushtrue").Op("setproperty", {d.Q("buttonMode")});
    trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("tabEnabled")}); });
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {d.Q("tabEnabled")});
    trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("tabEnabled")}); });
    c.Op("getlocal_1").Op("pushfalse").Op("setproperty", {d.Q("tabChildren")});
    trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("tabChildren")}); });
  });
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.display", "SimpleButton");
    c.Op("getproperty", {d.Q("tabEnabled")}).Op("setlocal_1");
    trace(c, [&] { c.Op("getlocal_1"); });
  });
  // focusRect: 1 and "x" read false, null stays null, true true.
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.display", "Sprite");
    c.Op("setlocal_1");
    for (int k = 0; k < 4; ++k) {
      c.Op("getlocal_1");
      if (k == 0) c.Op("pushbyte", {1});
      if (k == 1) c.Op("pushstring", {d.S("x")});
      if (k == 2) c.Op("pushnull");
      if (k == 3) c.Op("pushtrue");
      c.Op("setproperty", {d.Q("focusRect")});
      trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("focusRect")}); });
    }
  });
  // tabIndex -1 is taken, -2 is a RangeError.
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.display", "Sprite");
    c.Op("setlocal_1");
    c.Op("getlocal_1").Op("pushbyte", {5}).Op("setproperty", {d.Q("tabIndex")});
    c.Op("getlocal_1").Op("pushint", {d.a.Int(-1)}).Op("setproperty", {d.Q("tabIndex")});
    trace(c, [&] { c.Op("getlocal_1").Op("getproperty", {d.Q("tabIndex")}); });
    c.Op("getlocal_1").Op("pushint", {d.a.Int(-2)}).Op("setproperty", {d.Q("tabIndex")});
  });
  // tabChildren is a container's: a text field or a button has none to
  // read (#1069) or make (#1056). A name no class of the family declares
  // reads undefined, and so does a container's name on a Sound, whose
  // family is only EventDispatcher.
  guarded([&](AbcCode& c) { Construct(d, c, "flash.text", "TextField"); c.Op("getproperty", {d.Q("tabChildren")}).Op("pop"); });
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.display", "SimpleButton");
    c.Op("pushtrue").Op("setproperty", {d.Q("tabChildren")});
  });
  guarded([&](AbcCode& c) {
    Construct(d, c, "flash.text", "TextField");
    c.Op("getproperty", {d.Q("noSuchMember")}).Op("setlocal_1");
    trace(c, [&] { c.Op("getlocal_1"); });
    Construct(d, c, "flash.media", "Sound");
    c.Op("getproperty", {d.Q("numChildren")}).Op("setlocal_1");
    trace(c, [&] { c.Op("getlocal_1"); });
  });
  const auto bytes = d.Build([&](As3Movie&, AbcCode& c) {
    for (std::uint32_t f : cases) c.Op("newfunction", {f}).Op("getlocal_0").Op("call", {0}).Op("pop");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "false|true|false|false|true|false|false|null|true|-1|2027|1069|1056|undefined|undefined|");
}

}  // namespace
}  // namespace quarvel::player
