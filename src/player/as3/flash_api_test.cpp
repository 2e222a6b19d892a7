// The smaller Flash classes movies use around their real work: constant
// tables, the context menu, shared objects kept for the run, LoaderContext,
// Vector3D, the error and status events. A movie that touches one of them
// must run on, seeing what Flash would give it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3FirstPicture;
using testing::As3Movie;
using testing::As3Traced;

// Builds trace(a + " " + b + ...) from pieces that each push one value.
struct Line {
  As3Movie& m;
  AbcCode& c;
  int count = 0;
  Line(As3Movie& movie, AbcCode& code) : m(movie), c(code) { c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.S("")}); }
  // pkg.Class.member
  Line& Static(std::string_view package, std::string_view cls, std::string_view member) {
    c.Op("getlex", {m.a.PackageName(package, cls)}).Op("getproperty", {m.Q(member)});
    return Add();
  }
  // local.path.to.member
  Line& Local(int local, std::initializer_list<std::string_view> path) {
    c.Op("getlocal", {local});
    for (std::string_view p : path) c.Op("getproperty", {m.Q(p)});
    return Add();
  }
  Line& Add() {
    if (count++ > 0) c.Op("swap").Op("pushstring", {m.S(" ")}).Op("add").Op("swap");
    c.Op("add");
    return *this;
  }
  void Done() { c.Op("callpropvoid", {m.Q("trace"), 1}); }
};

// local 1 = a sprite with a red circle of `radius` around (50, 50), added to this.
void RedCircle(As3Movie& m, AbcCode& c, int radius) {
  const auto sprite = m.Display("Sprite");
  c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {1});
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
      .Op("callpropvoid", {m.Q("beginFill"), 1});
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {50}).Op("pushbyte", {50})
      .Op("pushbyte", {radius}).Op("callpropvoid", {m.Q("drawCircle"), 3});
  c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
}

TEST(As3FlashApi, ConstantTablesHoldFlashsValues) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line(m, c)
        .Static("flash.display", "GradientType", "LINEAR")
        .Static("flash.display", "SpreadMethod", "REPEAT")
        .Static("flash.display", "InterpolationMethod", "LINEAR_RGB")
        .Static("flash.display", "LineScaleMode", "NONE")
        .Static("flash.display", "CapsStyle", "SQUARE")
        .Static("flash.display", "JointStyle", "MITER")
        .Static("flash.display", "StageAlign", "TOP_LEFT")
        .Static("flash.display", "StageAlign", "BOTTOM_RIGHT")
        .Static("flash.display", "StageDisplayState", "FULL_SCREEN")
        .Static("flash.display", "BitmapDataChannel", "ALPHA")
        .Static("flash.display", "GraphicsPathCommand", "CURVE_TO")
        .Done();
    Line(m, c)
        .Static("flash.ui", "Keyboard", "LEFT")
        .Static("flash.ui", "Keyboard", "SPACE")
        .Static("flash.ui", "Keyboard", "A")
        .Static("flash.ui", "Keyboard", "NUMBER_5")
        .Static("flash.ui", "Keyboard", "F12")
        .Static("flash.ui", "Keyboard", "capsLock")
        .Static("flash.utils", "Endian", "LITTLE_ENDIAN")
        .Static("flash.net", "ObjectEncoding", "AMF0")
        .Static("flash.system", "Security", "sandboxType")
        .Static("flash.system", "Capabilities", "language")
        .Static("flash.external", "ExternalInterface", "available")
        .Static("flash.external", "ExternalInterface", "objectID")
        .Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "linear repeat linearRGB none square miter TL BR fullScreen 8 3|"
            "37 32 65 53 123 false littleEndian 0 localWithFile en false null|");
}

TEST(As3FlashApi, AMovieMayReachTheNetworkWhenItsFileAttributesSaySo) {
  auto sandbox = [](std::uint32_t flags) {
    As3Movie d;
    d.fileAttributes = flags;
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { Line(m, c).Static("flash.system", "Security", "sandboxType").Done(); });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  EXPECT_EQ(sandbox(0x08), "localWithFile|");
  EXPECT_EQ(sandbox(0x09), "localWithNetwork|");
}

TEST(As3FlashApi, TheContextMenuKeepsWhatTheMovieSets) {
  As3Movie d;
  const auto menu = d.a.PackageName("flash.ui", "ContextMenu"), item = d.a.PackageName("flash.ui", "ContextMenuItem");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // var cm = new ContextMenu(); cm.hideBuiltInItems(); cm.customItems.push(new ContextMenuItem("About", true));
    c.Op("findpropstrict", {menu}).Op("constructprop", {menu, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("hideBuiltInItems"), 0});
    c.Op("getlocal_1").Op("getproperty", {m.Q("customItems")});
    c.Op("findpropstrict", {item}).Op("pushstring", {m.S("About")}).Op("pushtrue").Op("constructprop", {item, 2});
    c.Op("callpropvoid", {m.Q("push"), 1});
    // this.contextMenu = cm; the copy keeps the items.
    c.Op("getlocal_0").Op("getlocal_1").Op("setproperty", {m.Q("contextMenu")});
    c.Op("getlocal_1").Op("callproperty", {m.Q("clone"), 0}).Op("setlocal", {2});
    Line(m, c)
        .Local(1, {"builtInItems", "print"})
        .Local(1, {"builtInItems", "zoom"})
        .Local(2, {"builtInItems", "save"})
        .Local(2, {"customItems", "length"})
        .Done();
    c.Op("getlocal_2").Op("getproperty", {m.Q("customItems")}).Op("pushbyte", {0}).Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))})
        .Op("setlocal", {3});
    Line(m, c).Local(3, {"caption"}).Local(3, {"separatorBefore"}).Local(3, {"enabled"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "false false false 1|About true true|");
}

TEST(As3FlashApi, SharedObjectsLastTheRunAndStayApartByName) {
  As3Movie d;
  const auto so = d.a.PackageName("flash.net", "SharedObject");
  auto getLocal = [&](As3Movie& m, AbcCode& c, std::string_view name, int local) {
    c.Op("getlex", {so}).Op("pushstring", {m.S(name)}).Op("callproperty", {m.Q("getLocal"), 1}).Op("setlocal", {local});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    getLocal(m, c, "save", 1);
    c.Op("getlocal_1").Op("getproperty", {m.Q("data")}).Op("pushbyte", {3}).Op("setproperty", {m.Q("level")});
    c.Op("getlocal_1").Op("callproperty", {m.Q("flush"), 0}).Op("setlocal", {4});
    getLocal(m, c, "save", 2);
    getLocal(m, c, "other", 3);
    Line(m, c).Local(4, {}).Local(2, {"data", "level"}).Local(3, {"data", "level"})
        .Static("flash.net", "SharedObjectFlushStatus", "FLUSHED").Static("flash.net", "SharedObjectFlushStatus", "PENDING")
        .Done();
    // clear() empties the data; setProperty writes into it.
    c.Op("getlocal_2").Op("callpropvoid", {m.Q("clear"), 0});
    c.Op("getlocal_3").Op("pushstring", {m.S("name")}).Op("pushstring", {m.S("ann")})
        .Op("callpropvoid", {m.Q("setProperty"), 2});
    Line(m, c).Local(1, {"data", "level"}).Local(3, {"data", "name"}).Done();
  }, 2);
  // The same object comes back for the same name, also on later frames.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "flushed 3 undefined flushed pending|undefined ann|");
}

// Games made for phones and consoles as well ask for sensors, controllers,
// the video layer and throttling: on the desktop player the classes are
// there and report nothing to use, so start-up goes on.
TEST(As3FlashApi, DevicesTheDesktopPlayerLacksAreAskedForAndAbsent) {
  As3Movie d;
  const auto throttle = d.a.PackageName("flash.events", "ThrottleEvent");
  const auto input = d.a.PackageName("flash.ui", "GameInput");
  auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line(m, c)
        .Static("flash.sensors", "Accelerometer", "isSupported")
        .Static("flash.sensors", "Geolocation", "isSupported")
        .Static("flash.ui", "GameInput", "isSupported")
        .Static("flash.ui", "GameInput", "numDevices")
        .Static("flash.events", "GameInputEvent", "DEVICE_ADDED")
        .Static("flash.events", "ThrottleType", "PAUSE")
        .Static("flash.events", "SoftKeyboardEvent", "SOFT_KEYBOARD_ACTIVATE")
        .Static("flash.display", "StageOrientation", "ROTATED_LEFT")
        .Static("flash.system", "ImageDecodingPolicy", "ON_LOAD")
        .Done();
    // new ThrottleEvent(ThrottleEvent.THROTTLE, false, false, "pause", 0); stage.stageVideos.length
    c.Op("findpropstrict", {throttle}).Op("getlex", {throttle}).Op("getproperty", {m.Q("THROTTLE")}).Op("pushfalse")
        .Op("pushfalse").Op("pushstring", {m.S("pause")}).Op("pushbyte", {0}).Op("constructprop", {throttle, 5})
        .Op("setlocal_1");
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("stageVideos")}).Op("setlocal_2");
    Line(m, c).Local(1, {"type"}).Local(1, {"state"}).Local(1, {"targetFrameRate"}).Local(2, {"length"}).Done();
    c.Op("getlex", {input}).Op("pushbyte", {0}).Op("callpropvoid", {m.Q("getDeviceAt"), 1});
  });
  bytes[3] = 21;  // GameInput comes with SWF 21
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find('|', out.find('|') + 1) + 1),
            "false false true 0 deviceAdded pause softKeyboardActivate rotatedLeft onLoad|throttle pause 0 0|");
  EXPECT_NE(out.find("RangeError: Error #1506: The specified range is invalid."), std::string::npos) << out;
}

TEST(As3FlashApi, Vector3DLoaderContextAndEventsOfTheOfflinePlayer) {
  As3Movie d;
  const auto v3 = d.a.PackageName("flash.geom", "Vector3D"), context = d.a.PackageName("flash.system", "LoaderContext");
  const auto status = d.a.PackageName("flash.events", "StatusEvent");
  const auto listener = d.Tracer("never ", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto vector = [&](int x, int y, int z, int local) {
      c.Op("findpropstrict", {v3}).Op("pushbyte", {x}).Op("pushbyte", {y}).Op("pushbyte", {z}).Op("constructprop", {v3, 3})
          .Op("setlocal", {local});
    };
    vector(1, 0, 0, 1);
    vector(0, 2, 0, 2);
    c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {m.Q("crossProduct"), 1}).Op("setlocal", {3});
    c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {m.Q("add"), 1}).Op("setlocal", {4});
    c.Op("getlocal_2").Op("callproperty", {m.Q("normalize"), 0}).Op("setlocal", {5});
    Line(m, c).Local(3, {"z"}).Local(4, {"lengthSquared"}).Local(5, {}).Local(2, {"y"}).Local(4, {}).Done();
    c.Op("findpropstrict", {context}).Op("pushfalse").Op("constructprop", {context, 1}).Op("setlocal", {1});
    c.Op("findpropstrict", {status}).Op("pushstring", {m.S("status")}).Op("pushfalse").Op("pushfalse")
        .Op("pushstring", {m.S("NetConnection.Connect.Success")}).Op("pushstring", {m.S("status")})
        .Op("constructprop", {status, 5}).Op("setlocal", {2});
    Line(m, c).Local(1, {"checkPolicyFile"}).Local(1, {"allowCodeImport"}).Local(2, {"type"}).Local(2, {"code"}).Done();
    // Movies listen for errors no script here raises.
    c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("uncaughtErrorEvents")})
        .Op("setlocal", {3});
    m.Listen(c, 3, "uncaughtError", listener);
    m.Trace(c, "listening");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "2 5 2 1 Vector3D(1, 2, 0)|false true status NetConnection.Connect.Success|listening|");
}

TEST(As3FlashApi, ASealedSubclassOfAGeometryValueKeepsItsFields) {
  // class Xy extends Vector3D (sealed, as Haxe writes it); new Xy(); x = 3;
  // y = 4: the fields Vector3D declares stay writable, and its methods read them.
  As3Movie d;
  const auto v3 = d.a.PackageName("flash.geom", "Vector3D");
  d.LinkedClass("Xy", {v3}, 0, {}, {}, true);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Xy")}).Op("constructprop", {m.Q("Xy"), 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_1").Op("pushbyte", {4}).Op("setproperty", {m.Q("y")});
    Line(m, c).Local(1, {"x"}).Local(1, {"y"}).Local(1, {"length"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "3 4 5|");
}

// Point and Rectangle are sealed classes whose fields are Number variables:
// AMF writes them as sealed members with no dynamic end (a Point of two
// fractions is 25 bytes), and a field converts what it is given.
TEST(As3FlashApi, GeometryValuesAreSealedWithNumberFields) {
  As3Movie d;
  const auto point = d.a.PackageName("flash.geom", "Point"), rect = d.a.PackageName("flash.geom", "Rectangle"),
             bytesClass = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {point}).Op("pushdouble", {m.a.Double(4.5)}).Op("pushdouble", {m.a.Double(5.5)})
        .Op("constructprop", {point, 2}).Op("setlocal", {1});
    c.Op("findpropstrict", {rect});
    for (int i = 0; i < 4; ++i) c.Op("pushdouble", {m.a.Double(0.5)});
    c.Op("constructprop", {rect, 4}).Op("setlocal", {2});
    for (int local : {3, 4}) {
      c.Op("findpropstrict", {bytesClass}).Op("constructprop", {bytesClass, 0}).Op("setlocal", {local});
      c.Op("getlocal", {local}).Op("getlocal", {local - 2}).Op("callpropvoid", {m.Q("writeObject"), 1});
    }
    c.Op("getlocal_1").Op("pushstring", {m.S("7")}).Op("setproperty", {m.Q("x")});
    Line line(m, c);
    line.Local(3, {"length"}).Local(4, {"length"}).Local(1, {"x"});
    c.Op("getlocal_1").Op("getproperty", {m.Q("x")}).Op("typeof");
    line.Add().Local(1, {"length"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "25 56 7 number 8.902246907382429|");
}

// NetFilterEvent holds the byte arrays it was given (a clone shares them)
// and writes itself under its old name; play and print options start empty,
// and no print job ever starts.
TEST(As3FlashApi, NetFilterEventsAndThePlayAndPrintOptions) {
  As3Movie d;
  const auto filter = d.a.PackageName("flash.events", "NetFilterEvent"), bytes = d.a.PackageName("flash.utils", "ByteArray");
  const auto play = d.a.PackageName("flash.net", "NetStreamPlayOptions");
  const auto options = d.a.PackageName("flash.printing", "PrintJobOptions"), job = d.a.PackageName("flash.printing", "PrintJob");
  const auto movie = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bytes}).Op("constructprop", {bytes, 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {filter}).Op("pushstring", {m.S("netfilter")}).Op("pushtrue").Op("pushfalse").Op("pushnull")
        .Op("getlocal_1").Op("constructprop", {filter, 5}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("callproperty", {m.Q("clone"), 0}).Op("setlocal", {3});
    Line(m, c).Local(2, {}).Local(3, {}).Done();
    m.TraceValue(c, "shared ", [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getlocal_1").Op("strictequals"); });
    c.Op("findpropstrict", {play}).Op("constructprop", {play, 0}).Op("setlocal", {4});
    Line(m, c).Local(4, {"len"}).Local(4, {"offset"}).Local(4, {"start"}).Local(4, {"streamName"}).Local(4, {"transition"}).Done();
    c.Op("findpropstrict", {options}).Op("constructprop", {options, 0}).Op("setlocal", {5});
    c.Op("findpropstrict", {options}).Op("pushtrue").Op("constructprop", {options, 1}).Op("setlocal", {6});
    c.Op("findpropstrict", {job}).Op("constructprop", {job, 0}).Op("setlocal", {7});
    m.TraceValue(c, "print ", [&] { c.Op("getlocal", {7}).Op("callproperty", {m.Q("start"), 0}); });
    Line(m, c).Local(5, {"printAsBitmap"}).Local(6, {"printAsBitmap"}).Done();
  });
  EXPECT_EQ(As3Traced(movie, [](FlashPlayer&) {}),
            "[NetTransformEvent type=\"netfilter\" bubbles=true cancelable=false eventPhase=2 header=null data=] "
            "[NetTransformEvent type=\"netfilter\" bubbles=true cancelable=false eventPhase=2 header=null data=]|"
            "shared true|-1 -1 -2 null null|print false|false true|");
}

// A ByteArray, and a class extending it (an embedded file), answer to the
// members of IDataInput and IDataOutput named in the interfaces' namespaces,
// as code typed to the interfaces names them.
TEST(As3FlashApi, ByteArraysAnswerThroughTheDataInterfaces) {
  As3Movie d;
  const auto byteArray = d.a.PackageName("flash.utils", "ByteArray");
  d.LinkedClass("Asset", {byteArray});
  const auto in = d.a.Namespace(avm2::NamespaceKind::kNamespace, "flash.utils:IDataInput");
  const auto out = d.a.Namespace(avm2::NamespaceKind::kNamespace, "flash.utils:IDataOutput");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Asset")}).Op("constructprop", {m.Q("Asset"), 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("pushshort", {258}).Op("callpropvoid", {m.a.QName(out, "writeInt"), 1});
    c.Op("getlocal_1").Op("pushbyte", {9}).Op("callpropvoid", {m.a.QName(out, "writeByte"), 1});
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {m.Q("position")});
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getproperty", {m.a.QName(in, "bytesAvailable")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_1").Op("callproperty", {m.a.QName(in, "readInt"), 0}).Op("add").Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_1").Op("callproperty", {m.a.QName(in, "readUnsignedByte"), 0}).Op("add");
    });
    for (const char* iface : {"IDataInput", "IDataOutput"})
      m.TraceValue(c, "", [&] {
        c.Op("findpropstrict", {byteArray}).Op("constructprop", {byteArray, 0})
            .Op("getlex", {m.a.PackageName("flash.utils", iface)}).Op("istypelate");
      });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "5 258 9|true|true|");
}

// What framework start-up code (a preloader, a system manager) reads before
// the application shows: the event phases, memory, the loader's domain,
// progress events it re-dispatches with its own counts, and calls named
// through IEventDispatcher's namespace.
TEST(As3FlashApi, FrameworkStartUpFindsWhatFlashGives) {
  As3Movie d;
  const auto progress = d.Events("ProgressEvent");
  const auto viaIface = d.a.QName(d.a.Namespace(avm2::NamespaceKind::kNamespace, "flash.events:IEventDispatcher"),
                                  "hasEventListener");
  const auto addViaIface = d.a.QName(d.a.Namespace(avm2::NamespaceKind::kNamespace, "flash.events:IEventDispatcher"),
                                     "addEventListener");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlex", {m.a.PackageName("flash.system", "System")}).Op("getproperty", {m.Q("totalMemory")})
        .Op("pushbyte", {0}).Op("greaterthan").Op("setlocal", {1});
    c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("applicationDomain")})
        .Op("pushstring", {m.S("flash.display::Sprite")}).Op("callproperty", {m.Q("hasDefinition"), 1}).Op("setlocal", {2});
    Line(m, c).Static("flash.events", "EventPhase", "AT_TARGET").Static("flash.events", "EventPhase", "BUBBLING_PHASE")
        .Local(1, {}).Local(2, {}).Done();
    c.Op("findpropstrict", {progress}).Op("pushstring", {m.S("progress")}).Op("constructprop", {progress, 1})
        .Op("setlocal", {3});
    c.Op("getlocal_3").Op("pushbyte", {5}).Op("setproperty", {m.Q("bytesLoaded")});
    c.Op("getlocal_3").Op("pushbyte", {10}).Op("setproperty", {m.Q("bytesTotal")});
    Line(m, c).Local(3, {"bytesLoaded"}).Local(3, {"bytesTotal"}).Done();
    // this.IEventDispatcher::addEventListener("tick", f); this.IEventDispatcher::hasEventListener("tick")
    c.Op("getlocal_0").Op("pushstring", {m.S("tick")}).Op("newfunction", {m.Method([] {
      AbcCode f;
      f.Op("returnvoid");
      return f;
    }())}).Op("callpropvoid", {addViaIface, 2});
    c.Op("getlocal_0").Op("pushstring", {m.S("tick")}).Op("callproperty", {viaIface, 1}).Op("setlocal", {4});
    Line(m, c).Local(4, {}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "2 3 true true|5 10|true|");
}

// Rectangle's edges are writable: moving one keeps the opposite edge in place.
TEST(As3FlashApi, RectangleEdgesMoveOneSideOnly) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle"), point = d.a.PackageName("flash.geom", "Point");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {rect}).Op("pushbyte", {10}).Op("pushbyte", {20}).Op("pushbyte", {30}).Op("pushbyte", {40})
        .Op("constructprop", {rect, 4}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {m.Q("left")});
    c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q("bottom")});
    Line(m, c).Local(1, {"x"}).Local(1, {"y"}).Local(1, {"width"}).Local(1, {"height"}).Done();
    c.Op("getlocal_1").Op("pushbyte", {30}).Op("setproperty", {m.Q("top")});
    c.Op("getlocal_1").Op("pushbyte", {25}).Op("setproperty", {m.Q("right")});
    Line(m, c).Local(1, {"y"}).Local(1, {"height"}).Local(1, {"width"}).Local(1, {"bottomRight", "y"}).Done();
    c.Op("getlocal_1").Op("findpropstrict", {point}).Op("pushbyte", {5}).Op("pushbyte", {5})
        .Op("constructprop", {point, 2}).Op("setproperty", {m.Q("topLeft")});
    Line(m, c).Local(1, {"x"}).Local(1, {"y"}).Local(1, {"size", "x"}).Local(1, {"size", "y"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "0 20 40 30|30 20 25 50|5 5 20 45|");
}

// union: an empty side gives the other back as it is (even one of NaN
// width, which is not empty); otherwise the box around both, a NaN carried
// through. setTo returns nothing.
TEST(As3FlashApi, RectangleUnionSkipsAnEmptySideAndCarriesNaN) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto make = [&](int local, double x, double y, double w, double h) {
      c.Op("findpropstrict", {rect});
      for (double v : {x, y, w, h}) c.Op("pushdouble", {m.a.Double(v)});
      c.Op("constructprop", {rect, 4}).Op("setlocal", {local});
    };
    const auto unite = [&](int into, int a, int b) {
      c.Op("getlocal", {a}).Op("getlocal", {b}).Op("callproperty", {m.Q("union"), 1}).Op("setlocal", {into});
    };
    make(1, 0, 0, 0, 0);
    make(2, 3, 5, 7, 9);
    make(3, -1, -3, std::nan(""), 7);
    make(4, 1, 3, 5, 7);
    unite(5, 1, 2);
    Line(m, c).Local(5, {"x"}).Local(5, {"y"}).Local(5, {"width"}).Local(5, {"height"}).Done();
    unite(5, 2, 1);
    Line(m, c).Local(5, {"x"}).Local(5, {"width"}).Done();
    unite(5, 1, 3);
    Line(m, c).Local(5, {"x"}).Local(5, {"width"}).Local(5, {"height"}).Done();
    unite(5, 4, 3);
    Line(m, c).Local(5, {"x"}).Local(5, {"y"}).Local(5, {"width"}).Local(5, {"bottom"}).Done();
    unite(5, 4, 2);
    Line(m, c).Local(5, {"x"}).Local(5, {"y"}).Local(5, {"right"}).Local(5, {"bottom"}).Done();
    c.Op("getlocal", {4});
    for (int v : {1, 2, 3, 4}) c.Op("pushbyte", {v});
    c.Op("callproperty", {m.Q("setTo"), 4}).Op("setlocal", {6});
    Line(m, c).Local(6, {}).Local(4, {"right"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "3 5 7 9|3 7|-1 NaN 7|-1 -3 NaN 10|1 3 10 14|undefined 4|");
}

// `new` of DisplayObject, InteractiveObject, DisplayObjectContainer,
// MorphShape, StaticText or AVM1Movie, or of a script's class built right on one, throws #2012
// before any constructor runs; Shape and Sprite and their subclasses are made.
TEST(As3FlashApi, AbstractDisplayClassesCannotBeMadeByScripts) {
  const auto run = [](std::string_view base, bool ownClass) {
    As3Movie d;
    const auto baseName = base == "StaticText" ? d.a.PackageName("flash.text", base) : d.Display(base);
    if (ownClass)
      d.LinkedClass("Mine", {d.a.PackageName("flash.events", "EventDispatcher"), d.Display("DisplayObject"), baseName}, 0,
                    {}, [&](AbcCode& c) { d.Trace(c, "ctor ran"); });
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      const auto made = ownClass ? m.Q("Mine") : baseName;
      c.Op("findpropstrict", {made}).Op("constructprop", {made, 0}).Op("pop");
      m.Trace(c, "made");
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  for (const char* cls :
       {"DisplayObject", "InteractiveObject", "DisplayObjectContainer", "MorphShape", "StaticText", "AVM1Movie"}) {
    const std::string out = run(cls, false);
    EXPECT_NE(out.find(std::string("Error #2012: ") + cls + "$ class cannot be instantiated."), std::string::npos)
        << cls << ": " << out;
    EXPECT_EQ(out.find("made"), std::string::npos) << cls;
  }
  const std::string own = run("InteractiveObject", true);
  EXPECT_NE(own.find("Error #2012: Mine$ class"), std::string::npos) << own;
  EXPECT_EQ(own.find("ctor ran"), std::string::npos) << own;
  EXPECT_EQ(run("Shape", false), "made|");
  EXPECT_EQ(run("Sprite", true), "ctor ran|made|");
}

// Classes whose instances only the player makes, and the static ones:
// a script's `new` throws before any constructor runs, so no native frame
// shows in the trace; the player still makes them (DRMManager's one instance).
TEST(As3FlashApi, PlayerMadeClassesRefuseScriptNew) {
  const auto run = [](std::string_view package, std::string_view cls) {
    As3Movie d;
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      const auto name = package.empty() ? m.Q(cls) : m.a.PackageName(package, cls);
      c.Op("getlex", {name}).Op("construct", {0}).Op("pop");
      m.Trace(c, "made");
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  for (const auto& [package, cls] : std::initializer_list<std::pair<const char*, const char*>>{
           {"flash.display", "Stage"}, {"flash.display", "Graphics"}, {"flash.display", "LoaderInfo"},
           {"flash.ui", "Keyboard"}, {"flash.ui", "Mouse"}, {"flash.system", "Capabilities"},
           {"flash.net", "SharedObject"}, {"flash.net.drm", "DRMManager"}, {"flash.text", "TextSnapshot"},
           {"flash.display3D", "Context3D"}}) {
    const std::string out = run(package, cls);
    EXPECT_NE(out.find(std::string("ArgumentError: Error #2012: ") + cls + "$ class cannot be instantiated."),
              std::string::npos)
        << cls << ": " << out;
    EXPECT_EQ(out.find("made"), std::string::npos) << cls;
    EXPECT_EQ(out.find("at flash."), std::string::npos) << cls << ": " << out;
  }
  EXPECT_NE(run("flash.system", "SecurityDomain").find("Error #2012: SecurityDomain class cannot"), std::string::npos);
  EXPECT_NE(run("", "Class").find("TypeError: Error #1115: Class$ is not a constructor."), std::string::npos);
  EXPECT_NE(run("", "Math").find("TypeError: Error #1076: Math is not a constructor."), std::string::npos);
  // Other classes are made as before, and the player makes its own instances.
  EXPECT_EQ(run("flash.display", "Sprite"), "made|");
  As3Movie d;
  const auto drm = d.a.PackageName("flash.net.drm", "DRMManager");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line line(m, c);
    line.Static("flash.net.drm", "DRMManager", "isSupported");
    c.Op("getlex", {drm}).Op("callproperty", {m.Q("getDRMManager"), 0});
    c.Op("getlex", {drm}).Op("callproperty", {m.Q("getDRMManager"), 0}).Op("strictequals");
    line.Add();
    c.Op("getlex", {drm}).Op("callproperty", {m.Q("getDRMManager"), 0}).Op("getlex", {drm}).Op("istypelate");
    line.Add().Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "false true true|");
}

// A native method's length is the parameters Flash declares for it, and
// flash.trace.Trace, with no debugger, keeps no level and no listener.
TEST(As3FlashApi, NativeMethodLengthsAndTheDebuggersTrace) {
  As3Movie d;
  const auto tr = d.a.PackageName("flash.trace", "Trace");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line line(m, c);
    for (const char* fn : {"getLevel", "getListener", "setLevel", "setListener"}) {
      c.Op("getlex", {tr}).Op("getproperty", {m.Q(fn)}).Op("getproperty", {m.Q("length")});
      line.Add();
    }
    c.Op("getlocal_0").Op("getproperty", {m.Q("addEventListener")}).Op("getproperty", {m.Q("length")});
    line.Add();
    c.Op("getlocal_0").Op("getproperty", {m.Q("willTrigger")}).Op("getproperty", {m.Q("length")});
    line.Add().Done();
    c.Op("getlex", {tr}).Op("pushbyte", {4}).Op("callpropvoid", {m.Q("setLevel"), 1});
    c.Op("getlex", {tr}).Op("getlex", {m.Q("trace")}).Op("callpropvoid", {m.Q("setListener"), 1});
    Line after(m, c);
    c.Op("getlex", {tr}).Op("callproperty", {m.Q("getLevel"), 0});
    after.Add();
    c.Op("getlex", {tr}).Op("callproperty", {m.Q("getListener"), 0});
    after.Add().Static("flash.trace", "Trace", "METHODS_AND_LINES_WITH_ARGS").Static("flash.trace", "Trace", "LISTENER")
        .Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "1 0 2 1 5 1|0 null 4 2|");
}

// FileReference is sealed and fully described: a name Flash does not give
// it (AIR's extension) is a ReferenceError, unlike members it has.
TEST(As3FlashApi, FileReferenceUndeclaredNamesThrow) {
  As3Movie d;
  const auto file = d.a.PackageName("flash.net", "FileReference");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {file}).Op("constructprop", {file, 0}).Op("setlocal", {1});
    Line(m, c).Local(1, {"creator"}).Local(1, {"data"}).Done();
    Line(m, c).Local(1, {"extension"}).Done();
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find('|') + 1), "null null|");
  EXPECT_NE(out.find("ReferenceError: Error #1069: Property extension not found on flash.net.FileReference"),
            std::string::npos)
      << out;
}

// Full screen as the standalone player has it: a change is told at once by a
// FullScreenEvent on the stage, either full-screen state reads back as the
// interactive one, the same state again tells nothing, and a value Flash
// does not know is an ArgumentError.
TEST(As3FlashApi, StageDisplayStateTellsItsChanges) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    AbcCode listener;
    listener.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q("type")})
        .Op("pushstring", {m.S(" ")}).Op("add").Op("getlocal_1").Op("getproperty", {m.Q("fullScreen")}).Op("add")
        .Op("callpropvoid", {m.Q("trace"), 1}).Op("returnvoid");
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushstring", {m.S("fullScreen")}).Op("newfunction", {m.Method(listener, 1)})
        .Op("callpropvoid", {m.Q("addEventListener"), 2});
    for (const char* state : {"fullScreen", "fullScreenInteractive", "normal", "normal"}) {
      c.Op("getlocal_1").Op("pushstring", {m.S(state)}).Op("setproperty", {m.Q("displayState")});
      Line(m, c).Local(1, {"displayState"}).Done();
    }
    c.Op("getlocal_1").Op("pushstring", {m.S("FULLSCREEN")}).Op("setproperty", {m.Q("displayState")});
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find("ArgumentError")),
            "fullScreen true|fullScreenInteractive|fullScreenInteractive|fullScreen false|normal|normal|")
      << out;
  EXPECT_NE(out.find("ArgumentError: Error #2008: Parameter displayState must be one of the accepted values."),
            std::string::npos)
      << out;
}

// Workers (SWF 17 on): no background worker runs, but the movie's own one is
// there: the same primordial Worker each time, running, with its shared
// properties; a channel to itself keeps messages in order; and neither
// Worker, WorkerDomain nor MessageChannel can be made with `new`. Older
// movies do not see the classes at all.
TEST(As3FlashApi, PrimordialWorkerWithoutBackgroundWorkers) {
  As3Movie d;
  const auto worker = d.a.PackageName("flash.system", "Worker");
  const auto domain = d.a.PackageName("flash.system", "WorkerDomain");
  auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line(m, c).Static("flash.system", "Worker", "isSupported").Static("flash.system", "WorkerDomain", "isSupported").Done();
    c.Op("getlex", {worker}).Op("getproperty", {m.Q("current")}).Op("setlocal", {1});
    // Worker.current is one object: strict equality of two reads.
    Line line(m, c);
    c.Op("getlex", {worker}).Op("getproperty", {m.Q("current")}).Op("getlocal_1").Op("strictequals");
    line.Add().Local(1, {"isPrimordial"}).Local(1, {"state"}).Done();
    c.Op("getlocal_1").Op("pushstring", {m.S("k")}).Op("pushbyte", {42}).Op("callpropvoid", {m.Q("setSharedProperty"), 2});
    Line shared(m, c);
    c.Op("getlocal_1").Op("pushstring", {m.S("k")}).Op("callproperty", {m.Q("getSharedProperty"), 1});
    shared.Add();
    c.Op("getlocal_1").Op("pushstring", {m.S("none")}).Op("callproperty", {m.Q("getSharedProperty"), 1});
    shared.Add().Done();
    // A channel from the worker to itself: first in, first out.
    c.Op("getlocal_1").Op("getlocal_1").Op("callproperty", {m.Q("createMessageChannel"), 1}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("pushstring", {m.S("one")}).Op("callpropvoid", {m.Q("send"), 1});
    c.Op("getlocal_2").Op("pushstring", {m.S("two")}).Op("callpropvoid", {m.Q("send"), 1});
    Line got(m, c);
    got.Local(2, {"messageAvailable"}).Local(2, {"state"});
    for (int i = 0; i < 3; ++i) {
      c.Op("getlocal_2").Op("callproperty", {m.Q("receive"), 0});
      got.Add();
    }
    got.Local(2, {"messageAvailable"}).Done();
    Line dom(m, c);
    c.Op("getlex", {domain}).Op("getproperty", {m.Q("current")}).Op("getlex", {domain}).Op("getproperty", {m.Q("current")})
        .Op("strictequals");
    dom.Add();
    c.Op("getlex", {domain}).Op("getproperty", {m.Q("current")}).Op("callproperty", {m.Q("listWorkers"), 0})
        .Op("getproperty", {m.Q("length")});
    dom.Add().Done();
  });
  bytes[3] = 17;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "false false|true true running|42 null|true open one two null false|true 1|");
  for (const char* cls : {"Worker", "WorkerDomain", "MessageChannel"}) {
    As3Movie n;
    auto made = n.Build([&](As3Movie& m, AbcCode& c) {
      const auto name = m.a.PackageName("flash.system", cls);
      c.Op("findpropstrict", {name}).Op("constructprop", {name, 0}).Op("pop");
      m.Trace(c, "made");
    });
    made[3] = 17;
    const std::string out = As3Traced(made, [](FlashPlayer&) {});
    EXPECT_NE(out.find(std::string("ArgumentError: Error #2012: ") + cls + "$ class cannot be instantiated."), std::string::npos)
        << out;
    EXPECT_EQ(out.find("made"), std::string::npos) << out;
  }
  bytes[3] = 16;
  EXPECT_NE(As3Traced(bytes, [](FlashPlayer&) {}).find("Error #1065: Variable Worker is not defined."), std::string::npos);
}

// Game controllers (SWF 21 on): the API is there with no device plugged in,
// and asking for a device that is not there is a RangeError. Sensors (SWF 10
// on) are there, unsupported; a cursor description (SWF 11 on) starts with
// its hot spot at the corner. Older movies do not see GameInput.
TEST(As3FlashApi, GameInputSensorsAndCursorDataWithoutDevices) {
  As3Movie d;
  const auto input = d.a.PackageName("flash.ui", "GameInput");
  const auto accel = d.a.PackageName("flash.sensors", "Accelerometer");
  const auto cursor = d.a.PackageName("flash.ui", "MouseCursorData");
  const auto dispatcher = d.a.PackageName("flash.events", "EventDispatcher");
  auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    Line(m, c).Static("flash.ui", "GameInput", "isSupported").Static("flash.ui", "GameInput", "numDevices")
        .Static("flash.events", "GameInputEvent", "DEVICE_ADDED").Static("flash.sensors", "Accelerometer", "isSupported")
        .Done();
    c.Op("findpropstrict", {input}).Op("constructprop", {input, 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {accel}).Op("constructprop", {accel, 0}).Op("setlocal", {2});
    c.Op("findpropstrict", {cursor}).Op("constructprop", {cursor, 0}).Op("setlocal", {3});
    Line made(m, c);
    c.Op("getlocal_1").Op("getlex", {dispatcher}).Op("istypelate");
    made.Add();
    c.Op("getlocal_2").Op("getlex", {dispatcher}).Op("istypelate");
    made.Add().Local(3, {"hotSpot", "x"}).Local(3, {"data"}).Done();
    c.Op("getlex", {input}).Op("pushbyte", {0}).Op("callproperty", {m.Q("getDeviceAt"), 1}).Op("pop");
    m.Trace(c, "after");
  });
  bytes[3] = 21;
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.rfind("true 0 deviceAdded false|true true 0 null|", 0), 0u) << out;
  EXPECT_NE(out.find("RangeError: Error #1506: The specified range is invalid."), std::string::npos) << out;
  EXPECT_EQ(out.find("after"), std::string::npos) << out;
  bytes[3] = 20;
  EXPECT_NE(As3Traced(bytes, [](FlashPlayer&) {}).find("Error #1065: Variable GameInput is not defined."), std::string::npos);
}

// The soft keyboard members (SWF 11 on) of a Sprite and a TextField: no
// soft keyboard comes, the settings keep what they are given; older movies
// find no such members.
TEST(As3FlashApi, SoftKeyboardMembersKeepTheirSettings) {
  As3Movie d;
  const auto sprite = d.Display("Sprite"), field = d.a.PackageName("flash.text", "TextField");
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {field}).Op("constructprop", {field, 0}).Op("setlocal", {2});
    Line before(m, c);
    before.Local(1, {"needsSoftKeyboard"}).Local(1, {"softKeyboardInputAreaOfInterest"});
    c.Op("getlocal_1").Op("callproperty", {m.Q("requestSoftKeyboard"), 0});
    before.Add().Done();
    c.Op("getlocal_2").Op("pushtrue").Op("setproperty", {m.Q("needsSoftKeyboard")});
    c.Op("getlocal_2").Op("findpropstrict", {rect}).Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {3})
        .Op("pushbyte", {4}).Op("constructprop", {rect, 4}).Op("setproperty", {m.Q("softKeyboardInputAreaOfInterest")});
    Line after(m, c);
    after.Local(2, {"needsSoftKeyboard"}).Local(2, {"softKeyboardInputAreaOfInterest"}).Local(1, {"needsSoftKeyboard"});
    c.Op("getlocal_2").Op("callproperty", {m.Q("requestSoftKeyboard"), 0});
    after.Add().Done();
  });
  bytes[3] = 11;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "false null false|true (x=1, y=2, w=3, h=4) false false|");
  bytes[3] = 10;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}).substr(0, 30), "undefined undefined undefined|");
}

// Matrix rows and columns to and from a Vector3D (copyColumnFrom writes a
// row, as Flash does), copyFrom, setTo; an undefined Point coordinate is
// NaN, a NaN-sized Rectangle is not empty, and a Point sets and copies in place.
TEST(As3FlashApi, MatrixRowsAndColumnsAndNaNGeometry) {
  As3Movie d;
  const auto matrix = d.a.PackageName("flash.geom", "Matrix"), vec = d.a.PackageName("flash.geom", "Vector3D");
  const auto point = d.a.PackageName("flash.geom", "Point"), rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {matrix});
    for (int v : {2, 3, 5, 7, 11, 13}) c.Op("pushbyte", {v});
    c.Op("constructprop", {matrix, 6}).Op("setlocal", {1});
    c.Op("findpropstrict", {vec}).Op("constructprop", {vec, 0}).Op("setlocal", {2});
    auto vector = [&] { Line(m, c).Local(2, {"x"}).Local(2, {"y"}).Local(2, {"z"}).Done(); };
    auto call = [&](int local, const char* method, std::initializer_list<int> args, bool withVector) {
      c.Op("getlocal", {local});
      for (int v : args) c.Op("pushbyte", {v});
      if (withVector) c.Op("getlocal", {2});
      c.Op("callpropvoid", {m.Q(method), static_cast<std::int64_t>(args.size() + (withVector ? 1 : 0))});
    };
    call(1, "copyRowTo", {1}, true), vector();
    call(1, "copyColumnTo", {2}, true), vector();
    call(1, "copyRowTo", {3}, true), vector();
    c.Op("findpropstrict", {matrix}).Op("constructprop", {matrix, 0}).Op("setlocal", {3});
    c.Op("getlocal", {3}).Op("getlocal", {1}).Op("callpropvoid", {m.Q("copyFrom"), 1});
    call(1, "setTo", {1, 0, 0, 1, 0, 0}, false);
    c.Op("getlocal", {2}).Op("pushbyte", {17}).Op("setproperty", {m.Q("x")});
    call(3, "copyColumnFrom", {1}, true);
    call(3, "copyRowFrom", {2}, true);
    Line(m, c).Local(3, {"a"}).Local(3, {"b"}).Local(3, {"c"}).Local(3, {"d"}).Local(3, {"tx"}).Local(3, {"ty"})
        .Local(1, {"a"}).Local(1, {"tx"}).Done();
    c.Op("findpropstrict", {point}).Op("pushundefined").Op("pushbyte", {100}).Op("constructprop", {point, 2}).Op("setlocal", {4});
    c.Op("getlocal", {4}).Op("pushbyte", {1}).Op("callpropvoid", {m.Q("normalize"), 1});
    c.Op("findpropstrict", {rect}).Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushnan").Op("pushnan")
        .Op("constructprop", {rect, 4}).Op("callproperty", {m.Q("isEmpty"), 0}).Op("setlocal", {5});
    Line(m, c).Local(4, {"x"}).Local(4, {"y"}).Local(5, {}).Done();
    // A point set in place, then copied into another: the same object keeps both numbers.
    c.Op("getlocal", {4}).Op("pushbyte", {-3}).Op("pushdouble", {m.a.Double(2.5)}).Op("callpropvoid", {m.Q("setTo"), 2});
    c.Op("findpropstrict", {point}).Op("constructprop", {point, 0}).Op("setlocal", {6});
    c.Op("getlocal", {6}).Op("getlocal", {4}).Op("callpropvoid", {m.Q("copyFrom"), 1});
    c.Op("getlocal", {4}).Op("pushbyte", {9}).Op("setproperty", {m.Q("x")});
    Line(m, c).Local(4, {"x"}).Local(6, {"x"}).Local(6, {"y"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "3 7 13|11 13 1|0 0 1|2 17 5 0 11 1 1 0|NaN 100 false|9 -3 2.5|");
}

// generateFilterRect: a blur grows the rectangle on every side; a drop shadow
// grows it further toward its angle only.
TEST(As3FlashApi, FilterRectanglesGrowByBlurAndShadowOffset) {
  As3Movie d;
  const auto bitmapData = d.Display("BitmapData"), rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto blur = d.a.PackageName("flash.filters", "BlurFilter");
  const auto shadow = d.a.PackageName("flash.filters", "DropShadowFilter");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bitmapData}).Op("pushbyte", {20}).Op("pushbyte", {20}).Op("constructprop", {bitmapData, 2})
        .Op("setlocal", {1});
    c.Op("findpropstrict", {rect}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {10}).Op("pushbyte", {10})
        .Op("constructprop", {rect, 4}).Op("setlocal", {2});
    c.Op("getlocal_1").Op("getlocal_2").Op("findpropstrict", {blur}).Op("pushbyte", {4}).Op("pushbyte", {4})
        .Op("pushbyte", {1}).Op("constructprop", {blur, 3}).Op("callproperty", {m.Q("generateFilterRect"), 2})
        .Op("setlocal", {3});
    // DropShadowFilter(distance 6, angle 0, black, alpha 1, blur 4 x 4, strength 1, quality 1)
    c.Op("getlocal_1").Op("getlocal_2").Op("findpropstrict", {shadow}).Op("pushbyte", {6}).Op("pushbyte", {0})
        .Op("pushbyte", {0}).Op("pushbyte", {1}).Op("pushbyte", {4}).Op("pushbyte", {4}).Op("pushbyte", {1})
        .Op("pushbyte", {1}).Op("constructprop", {shadow, 8}).Op("callproperty", {m.Q("generateFilterRect"), 2})
        .Op("setlocal", {4});
    Line(m, c).Local(3, {"x"}).Local(3, {"y"}).Local(3, {"width"}).Local(3, {"height"}).Done();
    Line(m, c).Local(4, {"x"}).Local(4, {"y"}).Local(4, {"width"}).Local(4, {"height"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "-2 -2 14 14|-2 -2 20 14|");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// DefineSceneAndFrameLabelData: scenes (first frame, name) and labels (frame, name), small numbers only.
std::vector<std::uint8_t> ScenesTag(const std::vector<std::pair<int, std::string>>& scenes,
                                    const std::vector<std::pair<int, std::string>>& labels) {
  std::vector<std::uint8_t> body;
  auto put = [&](const std::vector<std::pair<int, std::string>>& list) {
    body.push_back(static_cast<std::uint8_t>(list.size()));
    for (const auto& [n, s] : list) {
      body.push_back(static_cast<std::uint8_t>(n));
      for (char ch : s) body.push_back(static_cast<std::uint8_t>(ch));
      body.push_back(0);
    }
  };
  put(scenes);
  put(labels);
  return body;
}

TEST(As3Scenes, FramesCountFromTheSceneAndLabelsKeepTheirCase) {
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) {
    b.Tag(86, ScenesTag({{0, "Intro"}, {3, "Main Part"}}, {{0, "Start"}, {4, "Loop"}}));
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto state = [&] {
      Line(m, c)
          .Local(0, {"currentScene", "name"})
          .Local(0, {"currentFrame"})
          .Local(0, {"currentLabel"})
          .Local(0, {"totalFrames"})
          .Done();
    };
    c.Op("getlocal_0").Op("getproperty", {m.Q("scenes")}).Op("pushbyte", {1})
        .Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))}).Op("setlocal", {1});
    Line(m, c).Local(0, {"scenes", "length"}).Local(1, {"name"}).Local(1, {"numFrames"}).Done();
    state();
    // Frame 2 of "Main Part" is the movie's fifth.
    c.Op("getlocal_0").Op("pushbyte", {2}).Op("pushstring", {m.S("Main Part")}).Op("callpropvoid", {m.Q("gotoAndStop"), 2});
    state();
    c.Op("getlocal_0").Op("getproperty", {m.Q("currentLabels")}).Op("pushbyte", {0})
        .Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))}).Op("setlocal", {2});
    Line(m, c).Local(2, {"name"}).Local(2, {"frame"}).Done();
    // A number alone counts from the current scene.
    c.Op("getlocal_0").Op("pushbyte", {1}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
    state();
    c.Op("getlocal_0").Op("callpropvoid", {m.Q("prevScene"), 0});
    c.Op("getlocal_0").Op("callpropvoid", {m.Q("stop"), 0});
    state();
    c.Op("getlocal_0").Op("pushstring", {m.S("Loop")}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
    c.Op("getlocal_0").Op("callpropvoid", {m.Q("nextFrame"), 0});
    state();
  }, 6);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "2 Main Part 3|Intro 1 Start 6|Main Part 2 Loop 6|Loop 2|Main Part 1 Start 6|Intro 1 Start 6|"
            "Main Part 3 Loop 6|");
}

TEST(As3Scenes, ATagNamingScenesGivesTheLabelsAndFrameLabelTagsRepeat) {
  // The main timeline labels "one" twice and "two" by FrameLabel tags.
  auto labels = [](bool scenes, bool emptySceneTag) {
    As3Movie d;
    d.defineTags = [&](testing::SwfBuilder& b) {
      if (scenes) b.Tag(86, ScenesTag({{0, "Only"}}, {{0, "given"}}));
      if (emptySceneTag) b.Tag(86, ScenesTag({}, {}));
      b.FrameLabel("one").FrameLabel("two").FrameLabel("one");
    };
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      Line(m, c).Local(0, {"currentLabels", "length"}).Local(0, {"currentLabel"}).Local(0, {"currentScene", "name"}).Done();
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  EXPECT_EQ(labels(true, false), "1 given Only|");
  // A tag of no scene is as none: the FrameLabel tags count, repeats too.
  EXPECT_EQ(labels(false, true), "3 one |");
  EXPECT_EQ(labels(false, false), "3 one |");
}

TEST(As3Scenes, PastTheFirstOrLastSceneASceneStepGoesToTheStartOfThisOne) {
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) { b.Tag(86, ScenesTag({{0, "A"}, {3, "B"}}, {})); };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto step = [&](int frame, std::string_view scene, std::string_view method) {
      c.Op("getlocal_0").Op("pushbyte", {frame}).Op("pushstring", {m.S(scene)}).Op("callpropvoid", {m.Q("gotoAndStop"), 2});
      c.Op("getlocal_0").Op("callpropvoid", {m.Q(method), 0});
      Line(m, c).Local(0, {"currentScene", "name"}).Local(0, {"currentFrame"}).Local(0, {"isPlaying"}).Done();
    };
    step(2, "A", "prevScene");
    step(3, "B", "nextScene");
    step(2, "A", "nextScene");
  }, 6);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "A 1 true|B 1 true|B 1 true|");
}

TEST(As3Scenes, ScriptsMakeFrameLabelsAndScenesFromTheirArguments) {
  As3Movie d;
  const auto label = d.Display("FrameLabel"), scene = d.Display("Scene");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {label}).Op("pushstring", {m.S("go")}).Op("pushbyte", {12})
        .Op("constructprop", {label, 2}).Op("setlocal_1");
    c.Op("findpropstrict", {scene}).Op("pushstring", {m.S("Intro")}).Op("getlocal_1").Op("newarray", {1})
        .Op("pushshort", {300}).Op("constructprop", {scene, 3}).Op("setlocal_2");
    Line(m, c).Local(1, {"name"}).Local(1, {"frame"}).Local(2, {"name"}).Local(2, {"numFrames"})
        .Local(2, {"labels", "length"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "go 12 Intro 300 1|");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3DisplayExtras, DrawingFromDataAndAskingWhatLiesUnderAPoint) {
  As3Movie d;
  const auto solid = d.Display("GraphicsSolidFill"), path = d.Display("GraphicsPath"), end = d.Display("GraphicsEndFill");
  const auto point = d.a.PackageName("flash.geom", "Point"), shape = d.Display("Shape");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // A shape drawn from data: a green square from (50, 50) to (90, 90).
    c.Op("findpropstrict", {shape}).Op("constructprop", {shape, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushstring", {m.S("drawn")}).Op("setproperty", {m.Q("name")});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    c.Op("findpropstrict", {solid}).Op("pushint", {m.a.Int(0x00FF00)}).Op("constructprop", {solid, 1});
    c.Op("findpropstrict", {path});
    for (int cmd : {1, 2, 2, 2, 2}) c.Op("pushbyte", {cmd});
    c.Op("newarray", {5});
    for (int v : {50, 50, 90, 50, 90, 90, 50, 90, 50, 50}) c.Op("pushbyte", {v});
    c.Op("newarray", {10});
    c.Op("constructprop", {path, 2});
    c.Op("findpropstrict", {end}).Op("constructprop", {end, 0});
    c.Op("newarray", {3}).Op("callpropvoid", {m.Q("drawGraphicsData"), 1});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    // Two sprites, one inside a holder, overlapping at (20, 20).
    m.NewSprite(c, 2, "holder", 0x0000FF, 0, 0, 30, 30);
    m.NewSprite(c, 3, "inner", 0xFF0000, 10, 10, 30, 30, 2);
    c.Op("getlocal_0").Op("findpropstrict", {point}).Op("pushbyte", {20}).Op("pushbyte", {20}).Op("constructprop", {point, 2});
    c.Op("callproperty", {m.Q("getObjectsUnderPoint"), 1}).Op("setlocal", {4});
    c.Op("getlocal_0").Op("findpropstrict", {point}).Op("pushbyte", {70}).Op("pushbyte", {70}).Op("constructprop", {point, 2});
    c.Op("callproperty", {m.Q("getObjectsUnderPoint"), 1}).Op("setlocal", {5});
    c.Op("getlocal_0").Op("findpropstrict", {point}).Op("pushbyte", {95}).Op("pushbyte", {5}).Op("constructprop", {point, 2});
    c.Op("callproperty", {m.Q("getObjectsUnderPoint"), 1}).Op("setlocal", {6});
    Line(m, c).Local(4, {"length"}).Local(5, {"length"}).Local(6, {"length"}).Done();
  });
  // Both sprites draw under (20, 20); the drawn shape alone lies under (70, 70).
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "2 1 0|");
  const gdi::Bitmap bmp = As3FirstPicture(bytes);
  EXPECT_EQ(bmp.GetPixel(70, 70), (gdi::Color{0, 255, 0}));
  EXPECT_EQ(bmp.GetPixel(95, 95), (gdi::Color{255, 255, 255}));
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// A sealed class extending Rectangle keeps the fields it inherits.
TEST(As3DisplayExtras, SealedSubclassesOfRectangleKeepTheirFields) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  d.LinkedClass("Parcel", {rect}, 0, {}, {}, true);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Parcel")}).Op("constructprop", {m.Q("Parcel"), 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushbyte", {5}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_1").Op("pushbyte", {7}).Op("setproperty", {m.Q("width")});
    c.Op("getlocal_1").Op("pushbyte", {4}).Op("setproperty", {m.Q("height")});
    Line(m, c).Local(1, {"x"}).Local(1, {"right"}).Local(1, {"height"}).Done();
    // equals and containsRect compare with a plain rectangle; empty ones are never inside.
    auto rectangle = [&](const std::vector<int>& v) {
      c.Op("findpropstrict", {rect});
      for (int i : v) c.Op("pushbyte", {i});
      c.Op("constructprop", {rect, 4});
    };
    Line line(m, c);
    const std::vector<std::pair<const char*, std::vector<int>>> asks = {
        {"equals", {5, 0, 7, 4}}, {"equals", {5, 0, 7, 5}}, {"containsRect", {6, 1, 2, 2}},
        {"containsRect", {6, 1, 0, 2}}, {"containsRect", {6, 1, 9, 2}}};
    for (const auto& [method, r] : asks) {
      c.Op("getlocal_1");
      rectangle(r);
      c.Op("callproperty", {m.Q(method), 1});
      line.Add();
    }
    line.Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "5 12 4|true false true false false|");
}

// Point, Matrix and ColorTransform declare their fields too: a sealed
// subclass (a game's entity extending Point) writes and reads them, and the
// base class's methods see what it wrote.
TEST(As3DisplayExtras, SealedSubclassesOfPointMatrixAndColorTransformKeepTheirFields) {
  As3Movie d;
  const auto point = d.a.PackageName("flash.geom", "Point"), matrix = d.a.PackageName("flash.geom", "Matrix"),
             tint = d.a.PackageName("flash.geom", "ColorTransform");
  d.LinkedClass("Entity", {point}, 0, {}, {}, true);
  d.LinkedClass("Placement", {matrix}, 0, {}, {}, true);
  d.LinkedClass("Tint", {tint}, 0, {}, {}, true);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto make = [&](std::string_view cls, int local) {
      c.Op("findpropstrict", {m.Q(cls)}).Op("constructprop", {m.Q(cls), 0}).Op("setlocal", {local});
    };
    make("Entity", 1);
    make("Placement", 2);
    make("Tint", 3);
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_1").Op("pushbyte", {4}).Op("setproperty", {m.Q("y")});
    c.Op("getlocal_2").Op("pushbyte", {10}).Op("setproperty", {m.Q("tx")});
    c.Op("getlocal_2").Op("pushbyte", {2}).Op("setproperty", {m.Q("a")});
    c.Op("getlocal_3").Op("pushbyte", {64}).Op("setproperty", {m.Q("redOffset")});
    Line(m, c).Local(1, {"x"}).Local(1, {"length"}).Local(2, {"tx"}).Local(3, {"redMultiplier"}).Done();
    // Matrix.transformPoint(Entity) maps (3, 4) to (2 * 3 + 10, 4).
    c.Op("getlocal_2").Op("getlocal_1").Op("callproperty", {m.Q("transformPoint"), 1}).Op("setlocal", {4});
    Line(m, c).Local(4, {"x"}).Local(4, {"y"}).Local(3, {"color"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "3 5 10 1|16 4 4194304|");
}

// Members Flex 4 reads as it starts: the stage's soft keyboard rectangle
// (empty: no soft keyboard), URLRequest.digest (declared, so the framework
// knows signed libraries load; null until set) and an interactive object's
// accessibility implementation (kept, null until set).
TEST(As3DisplayExtras, FlexStartUpMembersReadAsFlashGivesThem) {
  As3Movie d;
  const auto request = d.a.PackageName("flash.net", "URLRequest");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("softKeyboardRect")}).Op("setlocal_1");
    c.Op("findpropstrict", {request}).Op("pushstring", {m.S("a.swz")}).Op("constructprop", {request, 1}).Op("setlocal_2");
    Line(m, c).Local(1, {"width"}).Local(1, {"height"}).Local(2, {"digest"}).Done();
    m.TraceValue(c, "", [&] { c.Op("pushstring", {m.S("digest")}).Op("getlocal_2").Op("in"); });
    c.Op("getlocal_2").Op("pushstring", {m.S("ab12")}).Op("setproperty", {m.Q("digest")});
    c.Op("getlocal_0").Op("getproperty", {m.Q("accessibilityImplementation")}).Op("setlocal_3");
    c.Op("getlocal_0").Op("newobject", {0}).Op("setproperty", {m.Q("accessibilityImplementation")});
    Line(m, c).Local(2, {"digest"}).Local(3, {}).Done();
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("accessibilityImplementation")}).Op("pushnull").Op("strictequals");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "0 0 null|true|ab12 null|false|");
}

TEST(As3DisplayExtras, GraphicsPathMethodsAppendCommandsAndDraw) {
  As3Movie d;
  const auto solid = d.Display("GraphicsSolidFill"), path = d.Display("GraphicsPath"), shape = d.Display("Shape");
  const auto menu = d.a.PackageName("flash.ui", "ContextMenu");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // path = new GraphicsPath(); a red square (10, 60)-(40, 90) by its methods.
    c.Op("findpropstrict", {path}).Op("constructprop", {path, 0}).Op("setlocal", {2});
    auto call = [&](const char* method, std::initializer_list<int> xy) {
      c.Op("getlocal_2");
      for (int v : xy) c.Op("pushbyte", {v});
      c.Op("callpropvoid", {m.Q(method), static_cast<std::int64_t>(xy.size())});
    };
    call("moveTo", {10, 60});
    call("lineTo", {40, 60});
    call("wideLineTo", {40, 90});
    call("lineTo", {10, 90});
    call("curveTo", {5, 75, 10, 60});
    c.Op("findpropstrict", {shape}).Op("constructprop", {shape, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    c.Op("findpropstrict", {solid}).Op("pushint", {m.a.Int(0xFF0000)}).Op("constructprop", {solid, 1});
    c.Op("getlocal_2").Op("newarray", {2}).Op("callpropvoid", {m.Q("drawGraphicsData"), 1});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    // A new context menu offers the clipboard items of a text menu.
    c.Op("findpropstrict", {menu}).Op("constructprop", {menu, 0}).Op("getproperty", {m.Q("clipboardItems")})
        .Op("setlocal", {3});
    Line(m, c).Local(2, {"commands", "length"}).Local(2, {"data", "length"}).Local(3, {"paste"})
        .Local(3, {"selectAll"}).Done();
  });
  // Five commands; the wide one carries two numbers more.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "5 14 false true|");
  const gdi::Bitmap bmp = As3FirstPicture(bytes);
  EXPECT_EQ(bmp.GetPixel(25, 75), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(60, 75), (gdi::Color{255, 255, 255}));
}

TEST(As3DisplayExtras, HitTestPointWithTheShapeFlagTestsWhatIsDrawn) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // A circle of radius 20 around (50, 50): its bounds reach (30, 30), its shape does not.
    RedCircle(m, c, 20);
    c.Op("findpropstrict", {m.Q("trace")});
    for (auto [x, y, shape] : {std::tuple{32, 32, false}, {32, 32, true}, {50, 50, true}, {69, 50, true}}) {
      c.Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {y}).Op(shape ? "pushtrue" : "pushfalse");
      c.Op("callproperty", {m.Q("hitTestPoint"), 3}).Op("convert_s");
    }
    for (int i = 0; i < 3; ++i) c.Op("add");
    c.Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "truefalsetruetrue|");
}

// On a filled square's outline the shape test takes the top and right
// edges and leaves the left and bottom ones, as Flash does.
TEST(As3DisplayExtras, HitTestPointOnAnOutlineTakesTheTopAndRightEdges) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "square", 0xFF0000, 10, 10, 20, 20);
    c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.S("")});
    // top, right, bottom, left, inside
    for (auto [x, y] : {std::pair{20, 10}, {30, 20}, {20, 30}, {10, 20}, {20, 20}}) {
      c.Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {y}).Op("pushtrue");
      c.Op("callproperty", {m.Q("hitTestPoint"), 3}).Op("convert_s").Op("add").Op("pushstring", {m.S(" ")}).Op("add");
    }
    c.Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "true true false false true |");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3DisplayExtras, ScrollRectShowsItsWindowAndTheThirdDimensionReadsBack) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // Red from 0 to 30, blue from 30 to 60; the window (30, 0, 20, 20) shows blue at the origin.
    m.NewSprite(c, 1, "strip", 0xFF0000, 0, 0, 30, 60);
    m.NewSprite(c, 2, "blue", 0x0000FF, 30, 0, 30, 60, 1);
    c.Op("getlocal_1").Op("findpropstrict", {rect});
    for (int v : {30, 0, 20, 20}) c.Op("pushbyte", {v});
    c.Op("constructprop", {rect, 4}).Op("setproperty", {m.Q("scrollRect")});
    c.Op("getlocal_1").Op("pushint", {m.a.Int(0x00FF00)}).Op("setproperty", {m.Q("opaqueBackground")});
    c.Op("getlocal_1").Op("pushbyte", {45}).Op("setproperty", {m.Q("rotationY")});
    Line(m, c)
        .Local(1, {"scrollRect", "x"})
        .Local(1, {"scrollRect", "width"})
        .Local(1, {"opaqueBackground"})
        .Local(1, {"rotationY"})
        .Local(1, {"z"})
        .Local(1, {"scaleZ"})
        .Done();
    // Back to flat, for the picture below.
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {m.Q("rotationY")});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "30 20 65280 45 0 1|");
  const gdi::Bitmap bmp = As3FirstPicture(bytes);
  EXPECT_EQ(bmp.GetPixel(10, 10), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(bmp.GetPixel(10, 30), (gdi::Color{255, 255, 255})) << "below the window";
  EXPECT_EQ(bmp.GetPixel(35, 10), (gdi::Color{255, 255, 255})) << "right of the window";
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3DisplayExtras, AScriptMadeButtonShowsItsUpState) {
  As3Movie d;
  const auto sprite = d.Display("Sprite"), button = d.Display("SimpleButton");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // local = a sprite named `name` filled with `rgb` over (10, 10, 40, 40), on no list.
    auto box = [&](int local, std::string_view name, std::uint32_t rgb) {
      c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {local});
      c.Op("getlocal", {local}).Op("pushstring", {m.S(name)}).Op("setproperty", {m.Q("name")});
      c.Op("getlocal", {local}).Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(static_cast<std::int32_t>(rgb))})
          .Op("callpropvoid", {m.Q("beginFill"), 1});
      c.Op("getlocal", {local}).Op("getproperty", {m.Q("graphics")});
      for (int v : {10, 10, 40, 40}) c.Op("pushint", {m.a.Int(v)});
      c.Op("callpropvoid", {m.Q("drawRect"), 4});
    };
    box(1, "up", 0xFF0000);
    box(2, "over", 0x00FF00);
    box(3, "hit", 0x0000FF);
    c.Op("findpropstrict", {button}).Op("getlocal_1").Op("getlocal_2").Op("getlocal_2").Op("getlocal_3")
        .Op("constructprop", {button, 4}).Op("setlocal", {4});
    c.Op("getlocal_0").Op("getlocal", {4}).Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal", {4}).Op("pushfalse").Op("setproperty", {m.Q("enabled")});
    Line(m, c).Local(4, {"upState", "name"}).Local(4, {"hitTestState", "name"}).Local(4, {"enabled"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "up hit false|");
  const gdi::Bitmap bmp = As3FirstPicture(bytes);
  EXPECT_EQ(bmp.GetPixel(30, 30), (gdi::Color{255, 0, 0})) << "the up state";
  EXPECT_EQ(bmp.GetPixel(70, 70), (gdi::Color{255, 255, 255}));
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// A 40-pixel red card centred on the stage, with one 3D property set; the picture.
gdi::Bitmap Card(std::string_view property, int value) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "card", 0xFF0000, -20, -20, 40, 40);
    c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q("y")});
    c.Op("getlocal_1").Op("pushshort", {value}).Op("setproperty", {m.Q(property)});
  });
  return As3FirstPicture(bytes);
}

TEST(As3DisplayExtras, TheThirdDimensionIsSeenInPerspective) {
  const gdi::Color red{255, 0, 0}, white{255, 255, 255};
  // Turned 60 degrees about its vertical axis: about half as wide, as tall.
  const gdi::Bitmap turned = Card("rotationY", 60);
  EXPECT_EQ(turned.GetPixel(50, 50), red);
  EXPECT_EQ(turned.GetPixel(56, 50), red);
  EXPECT_EQ(turned.GetPixel(64, 50), white);
  EXPECT_EQ(turned.GetPixel(50, 32), red);
  // Edge on: nothing shows.
  const gdi::Bitmap edge = Card("rotationY", 90);
  EXPECT_EQ(edge.GetPixel(50, 50), white);
  // Pushed back by the focal length (96 pixels on a 100-pixel stage): half the size.
  const gdi::Bitmap far = Card("z", 96);
  EXPECT_EQ(far.GetPixel(50, 50), red);
  EXPECT_EQ(far.GetPixel(58, 50), red);
  EXPECT_EQ(far.GetPixel(64, 50), white);
  EXPECT_EQ(far.GetPixel(50, 36), white);
}

// drawRoundRectComplex rounds each corner by its own radius: only the top
// left one here, the others stay square.
TEST(As3DisplayExtras, RoundRectComplexRoundsEachCornerByItsOwn) {
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    for (int v : {10, 10, 80, 80, 30, 0, 0, 0}) c.Op("pushbyte", {v});
    c.Op("callpropvoid", {m.Q("drawRoundRectComplex"), 8});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
  });
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  const gdi::Color red{255, 0, 0}, white{255, 255, 255};
  EXPECT_EQ(shown.GetPixel(14, 14), white);
  EXPECT_EQ(shown.GetPixel(30, 30), red);
  for (auto [x, y] : {std::pair{87, 12}, {87, 87}, {12, 87}}) EXPECT_EQ(shown.GetPixel(x, y), red) << x << "," << y;
}

// A script's scale9Grid slices the sprite's own drawing: a 20-pixel black
// frame 5 pixels thick around white, four times as wide, keeps its 5-pixel
// sides while the white between stretches; the grid reads back in pixels.
TEST(As3DisplayExtras, AScriptsScale9GridSlicesTheSpritesOwnDrawing) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "frame", 0x000000, 0, 0, 20, 20);
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFFFFFF)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    for (int v : {5, 5, 10, 10}) c.Op("pushbyte", {v});
    c.Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_1").Op("findpropstrict", {rect});
    for (int v : {5, 5, 10, 10}) c.Op("pushbyte", {v});
    c.Op("constructprop", {rect, 4}).Op("setproperty", {m.Q("scale9Grid")});
    c.Op("getlocal_1").Op("pushbyte", {4}).Op("setproperty", {m.Q("scaleX")});
    for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {10}).Op("setproperty", {m.Q(p)});
    Line(m, c).Local(1, {"scale9Grid", "x"}).Local(1, {"scale9Grid", "width"}).Local(1, {"width"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "5 10 80|");
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  const gdi::Color black{0, 0, 0}, white{255, 255, 255};
  EXPECT_EQ(shown.GetPixel(12, 20), black);
  EXPECT_EQ(shown.GetPixel(17, 20), white);  // unsliced, the side would reach x = 30
  EXPECT_EQ(shown.GetPixel(82, 20), white);
  EXPECT_EQ(shown.GetPixel(87, 20), black);
  EXPECT_EQ(shown.GetPixel(50, 12), black);
  EXPECT_EQ(shown.GetPixel(50, 27), black);
}

// The main timeline's perspectiveProjection as a script sets it: its field of
// view gives the focal length (90 degrees: half the stage's width) and the
// vanishing point moves to its projectionCenter.
TEST(As3DisplayExtras, TheTimelinesProjectionIsTheOneSeen) {
  As3Movie d;
  const auto point = d.a.PackageName("flash.geom", "Point");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto projection = [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("perspectiveProjection")});
    };
    projection();
    c.Op("pushbyte", {90}).Op("setproperty", {m.Q("fieldOfView")});
    projection();
    c.Op("findpropstrict", {point}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("constructprop", {point, 2});
    c.Op("setproperty", {m.Q("projectionCenter")});
    m.NewSprite(c, 1, "card", 0xFF0000, -20, -20, 40, 40);
    for (const char* p : {"x", "y", "z"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
  });
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  const gdi::Color red{255, 0, 0}, white{255, 255, 255};
  // Half the size, halfway to the top left corner: 20 pixels wide about (25, 25).
  EXPECT_EQ(shown.GetPixel(25, 25), red);
  EXPECT_EQ(shown.GetPixel(33, 25), red);
  EXPECT_EQ(shown.GetPixel(38, 25), white);
  EXPECT_EQ(shown.GetPixel(50, 50), white);
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// A 2 x 1 BitmapData, red then blue, shown 50 times as large, smoothed or not.
gdi::Bitmap Stretched(bool smoothing, std::string* traced) {
  As3Movie d;
  const auto data = d.Display("BitmapData"), bitmap = d.Display("Bitmap");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {data}).Op("pushbyte", {2}).Op("pushbyte", {1}).Op("pushfalse")
        .Op("constructprop", {data, 3}).Op("setlocal", {1});
    for (auto [x, rgb] : {std::pair{0, 0xFF0000}, {1, 0x0000FF}})
      c.Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {0}).Op("pushint", {m.a.Int(rgb)})
          .Op("callpropvoid", {m.Q("setPixel"), 3});
    c.Op("findpropstrict", {bitmap}).Op("getlocal_1").Op("pushstring", {m.S("never")})
        .Op(smoothing ? "pushtrue" : "pushfalse").Op("constructprop", {bitmap, 3}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("pushbyte", {50}).Op("setproperty", {m.Q("scaleX")});
    c.Op("getlocal_2").Op("pushbyte", {50}).Op("setproperty", {m.Q("scaleY")});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    Line(m, c).Local(2, {"smoothing"}).Local(2, {"pixelSnapping"}).Done();
  });
  *traced = As3Traced(bytes, [](FlashPlayer&) {});
  return As3FirstPicture(bytes);
}

TEST(As3DisplayExtras, BitmapsAreSmoothedWhenAsked) {
  std::string traced;
  const gdi::Bitmap hard = Stretched(false, &traced);
  EXPECT_EQ(traced, "false never|");
  EXPECT_EQ(hard.GetPixel(45, 25), (gdi::Color{255, 0, 0}));
  const gdi::Bitmap soft = Stretched(true, &traced);
  EXPECT_EQ(traced, "true never|");
  const gdi::Color mid = soft.GetPixel(45, 25);
  EXPECT_LT(mid.r, 250);
  EXPECT_GT(mid.b, 5);
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3Matrix3D, TransformsAndTravelsThroughDisplayObjects) {
  As3Movie d;
  const auto m3 = d.a.PackageName("flash.geom", "Matrix3D"), v3 = d.a.PackageName("flash.geom", "Vector3D");
  const auto math = d.Q("Math");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // local 5 = Math.round(<top of stack> * scale)
    auto rounded = [&](int local, int scale = 1) {
      c.Op("pushshort", {scale}).Op("multiply").Op("setlocal", {local});
      c.Op("getlex", {math}).Op("getlocal", {local}).Op("callproperty", {m.Q("round"), 1}).Op("setlocal", {local});
    };
    // A quarter turn about z takes x to y; then a translation.
    c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("pushbyte", {90}).Op("getlex", {v3}).Op("getproperty", {m.Q("Z_AXIS")})
        .Op("callpropvoid", {m.Q("appendRotation"), 2});
    c.Op("getlocal_1").Op("findpropstrict", {v3}).Op("pushbyte", {1}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("constructprop", {v3, 3}).Op("callproperty", {m.Q("transformVector"), 1}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("getproperty", {m.Q("x")});
    rounded(3);
    c.Op("getlocal_2").Op("getproperty", {m.Q("y")});
    rounded(4);
    c.Op("getlocal_1").Op("pushbyte", {10}).Op("pushbyte", {20}).Op("pushbyte", {30})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    Line(m, c).Local(3, {}).Local(4, {}).Local(1, {"position", "z"}).Local(1, {"rawData", "length"}).Done();
    // A flat sprite has no matrix3D; turned, it has one, and another sprite takes it.
    m.NewSprite(c, 2, "card", 0xFF0000, 0, 0, 10, 10);
    c.Op("getlocal_2").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("matrix3D")}).Op("pushnull")
        .Op("strictequals").Op("setlocal", {3});
    c.Op("getlocal_2").Op("pushbyte", {30}).Op("setproperty", {m.Q("rotationY")});
    c.Op("getlocal_2").Op("pushbyte", {40}).Op("setproperty", {m.Q("x")});
    m.NewSprite(c, 4, "other", 0x00FF00, 0, 0, 10, 10);
    c.Op("getlocal", {4}).Op("getproperty", {m.Q("transform")});
    c.Op("getlocal_2").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("matrix3D")});
    c.Op("setproperty", {m.Q("matrix3D")});
    c.Op("getlocal", {4}).Op("getproperty", {m.Q("rotationY")});
    rounded(5);
    Line(m, c).Local(3, {}).Local(5, {}).Local(4, {"x"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "0 1 30 16|true 30 40|");
}

// The Vector.<Number> methods read triples, write in place (transposed on
// request), keep single precision, and Utils3D divides by w, keeping 1 / w
// as each vertex's t.
TEST(As3Matrix3D, VectorsInAndOutAndProjection) {
  As3Movie d;
  const auto m3 = d.a.PackageName("flash.geom", "Matrix3D"), u3 = d.a.PackageName("flash.geom", "Utils3D");
  const auto pp = d.a.PackageName("flash.geom", "PerspectiveProjection");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto newMatrix = [&](int local) { c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("setlocal", {local}); };
    auto emptyVector = [&](int local) {
      c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("getproperty", {m.Q("rawData")}).Op("dup")
          .Op("pushbyte", {0}).Op("setproperty", {m.Q("length")}).Op("setlocal", {local});
    };
    // local 1: translate (1, 2, 3) then scale by 2; local 2: its 16 numbers.
    newMatrix(1);
    c.Op("getlocal_1").Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {3})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    c.Op("getlocal_1").Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("callpropvoid", {m.Q("appendScale"), 3});
    c.Op("getlocal_1").Op("getproperty", {m.Q("rawData")}).Op("setlocal", {2});
    emptyVector(3);
    c.Op("getlocal_1").Op("getlocal_2").Op("getlocal_3").Op("callpropvoid", {m.Q("transformVectors"), 2});
    // Five whole triples; the second, (0, 0, 2), lands at (2, 4, 10).
    c.Op("getlocal_3").Op("getproperty", {m.Q("length")}).Op("setlocal", {4});
    c.Op("getlocal_3").Op("getproperty", {m.Q("5")}).Op("setlocal", {5});
    Line(m, c).Local(4, {}).Local(5, {}).Done();
    // Transposed, the fourth number out is the x translation.
    emptyVector(3);
    c.Op("getlocal_1").Op("getlocal_3").Op("pushbyte", {1}).Op("pushtrue").Op("callpropvoid", {m.Q("copyRawDataTo"), 3});
    c.Op("getlocal_3").Op("getproperty", {m.Q("length")}).Op("setlocal", {4});
    c.Op("getlocal_3").Op("getproperty", {m.Q("4")}).Op("setlocal", {5});
    Line(m, c).Local(4, {}).Local(5, {}).Done();
    // Single precision: 0.1 is kept as the nearest float.
    newMatrix(4);
    c.Op("getlocal", {4}).Op("pushdouble", {m.a.Double(0.1)}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    Line(m, c).Local(4, {"position", "x"}).Done();
    // A focal length of 10 seen from z = -5: (4, 6, 2) has w = 7.
    c.Op("findpropstrict", {pp}).Op("constructprop", {pp, 0}).Op("dup").Op("pushbyte", {10})
        .Op("setproperty", {m.Q("focalLength")}).Op("callproperty", {m.Q("toMatrix3D"), 0}).Op("setlocal", {4});
    c.Op("getlocal", {4}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {5})
        .Op("callpropvoid", {m.Q("prependTranslation"), 3});
    newMatrix(1);
    c.Op("getlocal_1").Op("pushbyte", {4}).Op("pushbyte", {6}).Op("pushbyte", {2})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    c.Op("getlocal_1").Op("getproperty", {m.Q("rawData")}).Op("setlocal", {2});
    emptyVector(3);
    emptyVector(5);
    c.Op("getlex", {u3}).Op("getlocal", {4}).Op("getlocal_2").Op("getlocal_3").Op("getlocal", {5})
        .Op("callpropvoid", {m.Q("projectVectors"), 4});
    c.Op("getlocal_3").Op("getproperty", {m.Q("8")}).Op("setlocal", {1});
    c.Op("getlocal", {5}).Op("getproperty", {m.Q("14")}).Op("setlocal", {2});
    Line(m, c).Local(3, {"length"}).Local(1, {}).Local(5, {"length"}).Local(2, {}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "15 10|17 2|0.10000000149011612|10 5.714285850524902 15 0.14285714285714285|");
}

// pointAt turns the matrix so that its object-relative `at` axis points at
// the target: the numbers Flash gives for (2, 2, 2) with at +y and up +z;
// with the defaults, -z then points at the target while the position and
// the scales stay, and the object's -y leans toward the world's up.
TEST(As3Matrix3D, PointAtTurnsTheAtAxisTowardTheTarget) {
  As3Movie d;
  const auto m3 = d.a.PackageName("flash.geom", "Matrix3D"), v3 = d.a.PackageName("flash.geom", "Vector3D");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto vec = [&](double x, double y, double z) {
      c.Op("findpropstrict", {v3});
      for (double v : {x, y, z}) c.Op("pushdouble", {m.a.Double(v)});
      c.Op("constructprop", {v3, 3});
    };
    auto traceOf = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("setlocal_1");
    c.Op("getlocal_1");
    vec(2, 2, 2);
    vec(0, 1, 0);
    vec(0, 0, 1);
    c.Op("callpropvoid", {m.Q("pointAt"), 3});
    traceOf([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("rawData")}); });
    // Scaled by 2 at (10, 0, 0), pointed at (10, 30, 40) with the defaults.
    c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("callpropvoid", {m.Q("appendScale"), 3});
    c.Op("getlocal_2").Op("pushbyte", {10}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    c.Op("getlocal_2");
    vec(10, 30, 40);
    c.Op("callpropvoid", {m.Q("pointAt"), 1});
    for (const auto& axis : std::vector<std::array<double, 3>>{{0, 0, -1}, {0, -1, 0}}) {
      traceOf([&] {
        c.Op("getlocal_2");
        vec(axis[0], axis[1], axis[2]);
        c.Op("callproperty", {m.Q("deltaTransformVector"), 1});
      });
    }
    traceOf([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("position")}); });
    // A target at the matrix's own position leaves it as it was.
    c.Op("getlocal_2");
    vec(10, 0, 0);
    c.Op("callpropvoid", {m.Q("pointAt"), 1});
    traceOf([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("position")}); });
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  std::vector<std::string> lines;
  for (std::size_t at = 0, bar; (bar = out.find('|', at)) != std::string::npos; at = bar + 1)
    lines.push_back(out.substr(at, bar - at));
  ASSERT_EQ(lines.size(), 5u) << out;
  EXPECT_EQ(lines[0],
            "0.7071067690849304,0,-0.7071067690849304,0,0.5773502588272095,0.5773502588272095,0.5773502588272095,0,"
            "0.40824827551841736,-0.8164965510368347,0.40824827551841736,0,0,0,0,1");
  auto parse = [](const std::string& v) {
    double x = 0, y = 0, z = 0;
    EXPECT_EQ(std::sscanf(v.c_str(), "Vector3D(%lf, %lf, %lf)", &x, &y, &z), 3) << v;
    return std::array<double, 3>{x, y, z};
  };
  // -z goes toward (0, 30, 40) / 50, twice as long; -y is square to it, on the side of -y.
  const auto at = parse(lines[1]), up = parse(lines[2]);
  EXPECT_NEAR(at[0], 0, 1e-5);
  EXPECT_NEAR(at[1], 2 * 0.6, 1e-5);
  EXPECT_NEAR(at[2], 2 * 0.8, 1e-5);
  EXPECT_NEAR(at[0] * up[0] + at[1] * up[1] + at[2] * up[2], 0, 1e-5);
  EXPECT_NEAR(std::hypot(up[0], up[1], up[2]), 2, 1e-5);
  EXPECT_LT(up[1], 0);
  EXPECT_EQ(lines[3], "Vector3D(10, 0, 0)");
  EXPECT_EQ(lines[4], "Vector3D(10, 0, 0)");
}

// Each read of transform.perspectiveProjection is a new view of the same
// numbers; the stage keeps one even when set to null.
// Flash works the focal length out in single precision: for a width of 500,
// 250 times the cotangent of half the angle rounded to a float (worked in
// doubles and rounded once, 1 degree would give 28647.162109375 and 13
// degrees 2194.221923828125).
TEST(As3Matrix3D, FocalLengthsFromAFieldOfViewAreSinglePrecisionProducts) {
  As3Movie d;
  const auto pp = d.a.PackageName("flash.geom", "PerspectiveProjection");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    for (int fov : {1, 13, 55}) {
      m.TraceValue(c, "", [&] {
        c.Op("findpropstrict", {pp}).Op("constructprop", {pp, 0}).Op("dup").Op("pushbyte", {fov});
        c.Op("setproperty", {m.Q("fieldOfView")}).Op("getproperty", {m.Q("focalLength")});
      });
    }
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "28647.1640625|2194.2216796875|480.24554443359375|");
}

TEST(As3Matrix3D, PerspectiveProjectionViewsShareTheObjectsNumbers) {
  As3Movie d;
  const auto pp = d.a.PackageName("flash.geom", "PerspectiveProjection");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto projection = [&](int local) {
      m.Push(c, local);
      c.Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("perspectiveProjection")});
    };
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
    c.Op("getlocal_1").Op("getproperty", {m.Q("transform")}).Op("findpropstrict", {pp}).Op("constructprop", {pp, 0})
        .Op("setproperty", {m.Q("perspectiveProjection")});
    projection(1);
    c.Op("setlocal_2");
    projection(1);
    c.Op("setlocal_3");
    c.Op("getlocal_2").Op("pushbyte", {100}).Op("setproperty", {m.Q("fieldOfView")});
    c.Op("getlocal_2").Op("getlocal_3").Op("strictequals").Op("setlocal", {4});
    m.Push(c, -1);
    c.Op("getproperty", {m.Q("transform")}).Op("pushnull").Op("setproperty", {m.Q("perspectiveProjection")});
    projection(-1);
    c.Op("setlocal", {5});
    Line(m, c).Local(4, {}).Local(3, {"fieldOfView"}).Local(5, {"fieldOfView"}).Local(5, {"projectionCenter", "x"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "false 100 55 250|");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3DisplayExtras, TheStageQualityAMovieSetsIsTheOneDrawn) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // A circle, its edge smoothed or not; then low quality.
    RedCircle(m, c, 40);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("quality")}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("pushstring", {m.S("low")}).Op("setproperty", {m.Q("quality")});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("pushstring", {m.S("sharp")}).Op("setproperty", {m.Q("quality")});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal", {3});
    Line(m, c).Local(2, {}).Local(3, {"quality"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "HIGH LOW|") << "an unknown name changes nothing";
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("High");
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  gdi::Bitmap bmp;
  p.Paint(bmp);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      const gdi::Color c = bmp.GetPixel(x, y);
      ASSERT_TRUE(c.g == 0 || c.g == 255) << "a smoothed edge at " << x << "," << y;
    }
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// The frame a 1000-frame, 10 fps movie shows after a second, with its script
// setting stage.frameRate to `fps` (0: not at all).
int FrameAfterASecond(int fps, std::string* traced) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal", {1});
    if (fps > 0) c.Op("getlocal_1").Op("pushint", {m.a.Int(fps)}).Op("setproperty", {m.Q("frameRate")});
    Line(m, c).Local(1, {"frameRate"}).Done();
  }, 1000);
  *traced = As3Traced(bytes, [](FlashPlayer&) {});
  FlashPlayer p;
  p.SetSize(100, 100);
  EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  p.AdvanceTo(p.Now() + 1000);
  return p.CurrentFrame();
}

TEST(As3FlashApi, SetClipboardTakesTextButNotNull) {
  // The player keeps no clipboard, yet a null text is Flash's #2007.
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto system = m.a.PackageName("flash.system", "System");
    c.Op("getlex", {system}).Op("pushstring", {m.S("copied")}).Op("callpropvoid", {m.Q("setClipboard"), 1});
    m.Trace(c, "text taken");
    c.Op("getlex", {system}).Op("pushnull").Op("callpropvoid", {m.Q("setClipboard"), 1});
    m.Trace(c, "not reached");
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find('|') + 1), "text taken|");
  EXPECT_NE(out.find("TypeError: Error #2007: Parameter text must be non-null."), std::string::npos) << out;
  EXPECT_EQ(out.find("not reached"), std::string::npos) << out;
}

TEST(As3DisplayExtras, TheFrameRateAScriptSetsIsTheOnePlayed) {
  std::string traced;
  const int header = FrameAfterASecond(0, &traced);
  EXPECT_EQ(traced, "10|");
  const int faster = FrameAfterASecond(25, &traced);
  EXPECT_EQ(traced, "25|");
  EXPECT_EQ(faster - header, 15) << header << " " << faster;
  // Asked for 1000, the movie reads 1000 back but plays at the player's 100.
  const int fastest = FrameAfterASecond(1000, &traced);
  EXPECT_EQ(traced, "1000|");
  EXPECT_EQ(fastest - header, 90) << header << " " << fastest;
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3DisplayExtras, TheStageKeepsTheScaleModeAndAlignTheMovieSets) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal", {1});
    Line(m, c).Local(1, {"scaleMode"}).Local(1, {"align"}).Done();
    c.Op("getlocal_1").Op("pushstring", {m.S("noScale")}).Op("setproperty", {m.Q("scaleMode")});
    c.Op("getlocal_1").Op("pushstring", {m.S("lt")}).Op("setproperty", {m.Q("align")});
    c.Op("getlocal_1").Op("pushstring", {m.S("stretchy")}).Op("setproperty", {m.Q("scaleMode")});
    Line(m, c).Local(1, {"scaleMode"}).Local(1, {"align"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "showAll |noScale TL|");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// Steps like Avm1Clips.AFlipReadsBackAsSetAfterATurnAndAResize, in this
// machine's units: a negative scale reads back as set after a turn, but in
// ActionScript 3 a resize drops the flip (Flash's recorded width tests).
TEST(As3DisplayObject, AFlipReadsBackAsSetAfterATurn) {
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("pushbyte", {100}).Op("pushbyte", {50}).Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    const auto set = [&](std::string_view name, int v) {
      c.Op("getlocal_1").Op("pushint", {m.a.Int(v)}).Op("setproperty", {m.Q(name)});
    };
    set("scaleX", -1);
    set("rotation", 30);
    set("scaleY", 2);
    Line(m, c).Local(1, {"scaleX"}).Local(1, {"rotation"}).Local(1, {"scaleY"}).Done();
    set("rotation", 0);
    set("width", 50);
    Line(m, c).Local(1, {"scaleX"}).Local(1, {"width"}).Done();
    set("rotation", 90);
    Line(m, c).Local(1, {"rotation"}).Local(1, {"scaleX"}).Done();
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "-1 30 2|0.5 50|90 0.5|");
}

TEST(As3FlashApi, TheSecurityDomainIsOneObjectAndAnUntrustedMovieCannotExit) {
  As3Movie d;
  const auto domain = d.a.PackageName("flash.system", "SecurityDomain"), system = d.a.PackageName("flash.system", "System");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "", [&] {
      c.Op("getlex", {domain}).Op("getproperty", {m.Q("currentDomain")});
      c.Op("getlex", {domain}).Op("getproperty", {m.Q("currentDomain")}).Op("strictequals");
    });
    c.Op("getlex", {system}).Op("callpropvoid", {m.Q("exit"), 0});
    m.Trace(c, "still running");
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.rfind("true|SecurityError: Error #2017", 0), 0u) << out;
  EXPECT_EQ(out.find("still running"), std::string::npos) << out;
}

}  // namespace
}  // namespace quarvel::player
