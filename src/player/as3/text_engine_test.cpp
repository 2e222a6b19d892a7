// flash.text.engine from ActionScript 3: the formats', elements' and block's
// setters check what they are given as Flash's do (the error or the value
// kept), and a block's lines follow the content's paragraph ends.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;

// Each case runs in its own function:
//   try { local1 = <make>; <act on local1>; trace(label + " " + <read>) }
//   catch (e) { trace(label + " #" + e.errorID) }
struct EngineCases {
  As3Movie d;
  std::vector<std::uint32_t> cases;

  std::uint32_t Engine(std::string_view n) { return d.a.PackageName("flash.text.engine", n); }
  // new flash.text.engine::<cls>() with what `args` pushes (n of them)
  void New(AbcCode& c, std::string_view cls, int n = 0, const std::function<void(AbcCode&)>& args = {}) {
    c.Op("findpropstrict", {Engine(cls)});
    if (args) args(c);
    c.Op("constructprop", {Engine(cls), static_cast<std::uint32_t>(n)});
  }
  void Case(const std::string& label, const std::function<void(AbcCode&)>& make,
            const std::function<void(AbcCode&)>& act, const std::function<void(AbcCode&)>& read) {
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    c.Label("try");
    make(c);
    c.Op("setlocal_1");
    act(c);
    c.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S(label + " ")});
    read(c);
    c.Op("add").Op("callpropvoid", {d.Q("trace"), 1});
    c.Label("end").Branch("jump", "done");
    c.Label("catch").Op("setlocal_3");
    c.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S(label + " #")});
    c.Op("getlocal_3").Op("getproperty", {d.Q("errorID")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
    c.Label("done").Op("returnvoid");
    cases.push_back(d.Method(c));
    d.a.File().bodies.back().exceptions = {{c.LabelOffset("try"), c.LabelOffset("end"), c.LabelOffset("catch"), 0, 0}};
  }
  // local1.<name> = <push>, then trace local1.<name>
  void Setter(const std::string& cls, const std::string& name, const std::string& label,
              const std::function<void(AbcCode&)>& push) {
    Case(
        cls + "." + name + "=" + label, [&](AbcCode& c) { New(c, cls); },
        [&, name](AbcCode& c) {
          c.Op("getlocal_1");
          push(c);
          c.Op("setproperty", {d.Q(name)});
        },
        [&, name](AbcCode& c) { c.Op("getlocal_1").Op("getproperty", {d.Q(name)}); });
  }
  std::string Run() {
    const auto bytes = d.Build([&](As3Movie&, AbcCode& c) {
      for (std::uint32_t f : cases) c.Op("newfunction", {f}).Op("getlocal_0").Op("call", {0}).Op("pop");
    });
    return testing::As3Traced(bytes, [](FlashPlayer&) {});
  }
};

TEST(As3TextEngine, FormatSettersTakeFlashsValuesOnly) {
  EngineCases t;
  auto str = [&](std::string s) { return [&t, s](AbcCode& c) { c.Op("pushstring", {t.d.S(s)}); }; };
  auto num = [&](double v) { return [&t, v](AbcCode& c) { c.Op("pushdouble", {t.d.a.Double(v)}); }; };
  auto null = [](AbcCode& c) { c.Op("pushnull"); };
  // Words from a list: null is #2007, any other word #2008.
  t.Setter("ElementFormat", "textRotation", "null", null);
  t.Setter("ElementFormat", "textRotation", "bad", str("Rotate0"));
  t.Setter("ElementFormat", "textRotation", "ok", str("rotate90"));
  t.Setter("ElementFormat", "dominantBaseline", "use", str("useDominantBaseline"));
  t.Setter("ElementFormat", "alignmentBaseline", "use", str("useDominantBaseline"));
  t.Setter("FontDescription", "fontWeight", "bad", str("heavy"));
  t.Setter("FontDescription", "fontName", "null", null);
  t.Setter("TextBlock", "lineRotation", "auto", str("auto"));
  // Numbers: alpha held in [0, 1]; sizes below zero refused (#2004); NaN
  // reads 0 for a format's size but stays for the block's.
  t.Setter("ElementFormat", "alpha", "5", num(5));
  t.Setter("ElementFormat", "alpha", "NaN", num(std::nan("")));
  t.Setter("ElementFormat", "fontSize", "-1", num(-1));
  t.Setter("ElementFormat", "fontSize", "NaN", num(std::nan("")));
  t.Setter("ElementFormat", "trackingLeft", "NaN", num(std::nan("")));
  t.Setter("ElementFormat", "color", "-1", num(-1));
  t.Setter("TextBlock", "baselineFontSize", "NaN", num(std::nan("")));
  t.Setter("TextBlock", "bidiLevel", "-1", num(-1));
  t.Setter("TextBlock", "textJustifier", "null", null);
  t.Setter("TextBlock", "baselineFontDescription", "null", null);
  // The constructor sets its arguments through the setters.
  t.Case(
      "new ElementFormat(.., bad kerning)",
      [&](AbcCode& c) {
        t.New(c, "ElementFormat", 9, [&](AbcCode& c) {
          c.Op("pushnull").Op("pushint", {t.d.a.Int(12)}).Op("pushint", {t.d.a.Int(0)}).Op("pushint", {t.d.a.Int(1)});
          for (const char* s : {"auto", "roman", "roman"}) c.Op("pushstring", {t.d.S(s)});
          c.Op("pushint", {t.d.a.Int(0)}).Op("pushstring", {t.d.S("maybe")});
        });
      },
      [](AbcCode&) {}, [](AbcCode& c) { c.Op("getlocal_1"); });
  // Defaults: the block's justifier is a SpaceJustifier; an element not in a
  // block begins at -1.
  t.Case(
      "TextBlock.textJustifier", [&](AbcCode& c) { t.New(c, "TextBlock"); }, [](AbcCode&) {},
      [&](AbcCode& c) { c.Op("getlocal_1").Op("getproperty", {t.d.Q("textJustifier")}); });
  t.Case(
      "TextElement.textBlockBeginIndex", [&](AbcCode& c) { t.New(c, "TextElement"); }, [](AbcCode&) {},
      [&](AbcCode& c) { c.Op("getlocal_1").Op("getproperty", {t.d.Q("textBlockBeginIndex")}); });
  // A tab stop's alignment is a word from the list, its position not below
  // zero (NaN kept), its token a string; the constructor checks them too.
  t.Setter("TabStop", "alignment", "Start", str("Start"));
  t.Setter("TabStop", "alignment", "decimal", str("decimal"));
  t.Setter("TabStop", "position", "-2", num(-2));
  t.Setter("TabStop", "position", "NaN", num(std::nan("")));
  t.Setter("TabStop", "decimalAlignmentToken", "null", null);
  t.Case(
      "new TabStop(start, 2, null)",
      [&](AbcCode& c) {
        t.New(c, "TabStop", 3, [&](AbcCode& c) {
          c.Op("pushstring", {t.d.S("start")}).Op("pushint", {t.d.a.Int(2)}).Op("pushnull");
        });
      },
      [](AbcCode&) {}, [](AbcCode& c) { c.Op("getlocal_1"); });
  EXPECT_EQ(t.Run(),
            "ElementFormat.textRotation=null #2007|ElementFormat.textRotation=bad #2008|"
            "ElementFormat.textRotation=ok rotate90|ElementFormat.dominantBaseline=use #2008|"
            "ElementFormat.alignmentBaseline=use useDominantBaseline|FontDescription.fontWeight=bad #2008|"
            "FontDescription.fontName=null #2007|TextBlock.lineRotation=auto #2008|"
            "ElementFormat.alpha=5 1|ElementFormat.alpha=NaN 0|ElementFormat.fontSize=-1 #2004|"
            "ElementFormat.fontSize=NaN 0|ElementFormat.trackingLeft=NaN 0|ElementFormat.color=-1 4294967295|"
            "TextBlock.baselineFontSize=NaN NaN|TextBlock.bidiLevel=-1 #2004|TextBlock.textJustifier=null #2007|"
            "TextBlock.baselineFontDescription=null null|new ElementFormat(.., bad kerning) #2008|"
            "TextBlock.textJustifier [object SpaceJustifier]|TextElement.textBlockBeginIndex -1|"
            "TabStop.alignment=Start #2008|TabStop.alignment=decimal decimal|TabStop.position=-2 #2004|"
            "TabStop.position=NaN NaN|TabStop.decimalAlignmentToken=null #2007|new TabStop(start, 2, null) #2007|");
}

TEST(As3TextEngine, ElementsReplaceWithinTheirBounds) {
  EngineCases t;
  auto element = [&](AbcCode& c, const char* text) {
    t.New(c, "TextElement", 2, [&](AbcCode& c) {
      c.Op("pushstring", {t.d.S(text)});
      t.New(c, "ElementFormat");
    });
  };
  auto group = [&](AbcCode& c) {
    t.New(c, "GroupElement", 1, [&](AbcCode& c) {
      element(c, "aa");
      element(c, "bbb");
      element(c, "c");
      c.Op("newarray", {3});
    });
  };
  auto text = [&](AbcCode& c) { c.Op("getlocal_1").Op("getproperty", {t.d.Q("text")}); };
  auto call = [&](const char* name, std::vector<int> args, bool keep = false) {
    return [&t, name, args, keep](AbcCode& c) {
      c.Op("getlocal_1");
      for (int v : args) c.Op("pushint", {t.d.a.Int(v)});
      if (!keep) c.Op("pushnull");
      c.Op("callproperty", {t.d.Q(name), static_cast<std::uint32_t>(args.size() + (keep ? 0 : 1))});
      c.Op("setlocal_2");
    };
  };
  // replaceText (null new text): an end before the begin keeps the text
  // from the end on.
  t.Case("replaceText(2,1)", [&](AbcCode& c) { element(c, "yello"); }, call("replaceText", {2, 1}), text);
  t.Case("replaceText(-1,1)", [&](AbcCode& c) { element(c, "yello"); }, call("replaceText", {-1, 1}), text);
  t.Case("replaceText(3,9)", [&](AbcCode& c) { element(c, "yello"); }, call("replaceText", {3, 9}), text);
  // replaceElements: nothing replaced nor added gives null, even out of
  // bounds; otherwise the bounds are checked.
  t.Case("replaceElements(9,9)", group, call("replaceElements", {9, 9}),
         [](AbcCode& c) { c.Op("getlocal_2"); });
  t.Case("replaceElements(0,1)", group, call("replaceElements", {0, 1}), text);
  t.Case("replaceElements(2,4)", group, call("replaceElements", {2, 4}), text);
  t.Case("getElementAt(3)", group, call("getElementAt", {3}, true), text);
  // splitTextElement cuts one element in two.
  t.Case(
      "splitTextElement(1,1)", group, call("splitTextElement", {1, 1}, true), [&](AbcCode& c) {
        c.Op("getlocal_2").Op("getproperty", {t.d.Q("text")}).Op("pushstring", {t.d.S("/")}).Op("add");
        c.Op("getlocal_1").Op("getproperty", {t.d.Q("elementCount")}).Op("add");
      });
  EXPECT_EQ(t.Run(),
            "replaceText(2,1) yeello|replaceText(-1,1) #2006|replaceText(3,9) #2006|replaceElements(9,9) null|"
            "replaceElements(0,1) bbbc|replaceElements(2,4) #2006|getElementAt(3) #2006|splitTextElement(1,1) bb/4|");
}

TEST(As3TextEngine, LinesFollowParagraphEndsAndRefuseBadRequests) {
  EngineCases t;
  // local1 = new TextBlock(new TextElement(text, new ElementFormat()))
  auto block = [&](const char* text, bool format = true) {
    return [&t, text, format](AbcCode& c) {
      t.New(c, "TextBlock", 1, [&](AbcCode& c) {
        t.New(c, "TextElement", format ? 2 : 1, [&](AbcCode& c) {
          c.Op("pushstring", {t.d.S(text)});
          if (format) t.New(c, "ElementFormat");
        });
      });
    };
  };
  // The begin index of each line made until the block is complete.
  auto lines = [&](AbcCode& c) {
    c.Op("pushstring", {t.d.S("")}).Op("setlocal_3");
    c.Op("getlocal_1").Op("pushnull").Op("callproperty", {t.d.Q("createTextLine"), 1}).Op("setlocal_2");
    c.Loop("loop");
    c.Op("getlocal_2").Branch("iffalse", "out");
    c.Op("getlocal_3").Op("getlocal_2").Op("getproperty", {t.d.Q("textBlockBeginIndex")}).Op("add");
    c.Op("pushstring", {t.d.S(",")}).Op("add").Op("setlocal_3");
    c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {t.d.Q("createTextLine"), 1}).Op("setlocal_2");
    c.Branch("jump", "loop");
    c.Label("out");
  };
  auto result = [&](AbcCode& c) {
    c.Op("getlocal_3").Op("getlocal_1").Op("getproperty", {t.d.Q("textLineCreationResult")}).Op("add");
  };
  t.Case("a\\r\\nb", block("a\r\nb"), lines, result);
  t.Case(" \\n\\n ", block(" \n\n "), lines, result);
  auto create = [&](int width) {
    return [&t, width](AbcCode& c) {
      c.Op("getlocal_1").Op("pushnull").Op("pushint", {t.d.a.Int(width)});
      c.Op("callproperty", {t.d.Q("createTextLine"), 2}).Op("setlocal_2");
    };
  };
  auto line = [](AbcCode& c) { c.Op("getlocal_2"); };
  t.Case("width -1", block("ab"), create(-1), line);
  t.Case("width 1000001", block("ab"), create(1000001), line);
  // Setting the content again leaves the lines made invalid; an invalid
  // line may turn static but not valid again.
  auto validity = [&](const char* to) {
    return [&t, to](AbcCode& c) {
      c.Op("getlocal_1").Op("pushnull").Op("callproperty", {t.d.Q("createTextLine"), 1}).Op("setlocal_2");
      c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {t.d.Q("content")}).Op("setproperty", {t.d.Q("content")});
      c.Op("getlocal_2").Op("pushstring", {t.d.S(to)}).Op("setproperty", {t.d.Q("validity")});
    };
  };
  auto read = [&](AbcCode& c) { c.Op("getlocal_2").Op("getproperty", {t.d.Q("validity")}); };
  t.Case("invalid->static", block("ab"), validity("static"), read);
  t.Case("invalid->valid", block("ab"), validity("valid"), read);
  EXPECT_EQ(t.Run(),
            "a\\r\\nb 0,3,complete| \\n\\n  0,2,3,complete|width -1 #2004|width 1000001 #2004|"
            "invalid->static static|invalid->valid #2008|");
}

}  // namespace
}  // namespace quarvel::player
