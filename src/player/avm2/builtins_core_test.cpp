// The core classes where Flash's answers differ from plain ECMAScript: array
// holes, typed vector storage, String's index arguments, ByteArray's text,
// compression and AMF round trips.
#include <gtest/gtest.h>

#include <utility>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class Core : public As3 {
 protected:
  std::uint32_t Index() { return a.MultinameL(a.NsSet({pub})); }
  std::uint32_t Vec() { return a.QName(a.Namespace(NamespaceKind::kPackage, "__AS3__.vec"), "Vector"); }
  std::uint32_t Utils(std::string_view name) { return a.QName(a.Namespace(NamespaceKind::kPackage, "flash.utils"), name); }
  // new Vector.<type>() into local 1.
  void NewVector(AbcCode& c, std::string_view type) {
    c.Op("getlex", {Vec()}).Op("getlex", {Q(type)}).Op("applytype", {1}).Op("construct", {0}).Op("setlocal_1");
  }
  void NewByteArray(AbcCode& c) {
    c.Op("findpropstrict", {Utils("ByteArray")}).Op("constructprop", {Utils("ByteArray"), 0}).Op("setlocal_1");
  }
  void Str(AbcCode& x, std::string_view s) { x.Op("pushstring", {S(s)}); }
};

TEST_F(Core, CallingAVectorClassConvertsWhatHasALength) {
  // Vector.<int>(x): a Vector.<int> is itself; an array or any object with a
  // length gives that many coerced elements (a ByteArray its bytes).
  AbcCode c;
  auto vecInt = [&](AbcCode& x) { x.Op("getlex", {Vec()}).Op("getlex", {Q("int")}).Op("applytype", {1}); };
  NewVector(c, "int");
  c.Op("getlocal_1").Op("pushbyte", {4}).Op("callpropvoid", {Q("push"), 1});
  Trace(c, [&](AbcCode& x) { vecInt(x); x.Op("pushnull").Op("getlocal_1").Op("call", {1}).Op("getlocal_1").Op("strictequals"); });
  Trace(c, [&](AbcCode& x) {
    vecInt(x);
    x.Op("pushnull");
    Str(x, "2");
    x.Op("pushdouble", {a.Double(3.7)}).Op("pushbyte", {1}).Op("newarray", {3}).Op("call", {1});
  });
  Trace(c, [&](AbcCode& x) {
    vecInt(x);
    x.Op("pushnull");
    Str(x, "length");
    x.Op("pushbyte", {2});
    Str(x, "0");
    x.Op("pushbyte", {7});
    Str(x, "1");
    Str(x, "8");
    x.Op("newobject", {3}).Op("call", {1});
  });
  NewByteArray(c);
  c.Op("getlocal_1").Op("pushbyte", {66}).Op("callpropvoid", {Q("writeByte"), 1});
  c.Op("getlocal_1").Op("pushshort", {246}).Op("callpropvoid", {Q("writeByte"), 1});
  Trace(c, [&](AbcCode& x) { vecInt(x); x.Op("pushnull").Op("getlocal_1").Op("call", {1}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|2,3,1|7,8|66,246|");
}

// Typed vectors are invariant: the same type passes, a Vector.<Number> (or
// an array) coerced to Vector.<int> fails. A vector of objects is a
// Vector.<*>; a numeric one is not.
TEST_F(Core, CoercingAVectorOfAnotherTypeFails) {
  const auto vecInt = a.TypeName(Vec(), {Q("int")});
  const auto vecAny = a.TypeName(Vec(), {0});
  AbcCode c;
  NewVector(c, "String");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("istype", {vecAny}); });
  NewVector(c, "int");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("istype", {vecAny}); });
  NewVector(c, "int");
  c.Op("getlocal_1").Op("coerce", {vecInt}).Op("pop");
  Trace(c, [&](AbcCode& x) { Str(x, "kept"); });
  NewVector(c, "Number");
  c.Op("getlocal_1").Op("coerce", {vecInt}).Op("pop");
  EXPECT_FALSE(Run(c));
  // The value is named with "::", the type converted to with a dot.
  EXPECT_NE(Traced().find("true|false|kept|TypeError: Error #1034: Type Coercion failed: cannot convert "
                          "__AS3__.vec::Vector.<Number>@00000000000 to __AS3__.vec.Vector.<int>."),
            std::string::npos) << Traced();
}

// Flash's compiled code reaches an array's or dictionary's dynamic
// properties only by names that include the public namespace; the
// interpreter that runs initialisers finds them anyway.
TEST_F(Core, DynamicPropertiesNeedThePublicNamespaceOutsideInitialisers) {
  const auto hidden = a.MultinameL(a.NsSet({a.Namespace(NamespaceKind::kNamespace, "notpublic")}));
  // function get(x) { try { return x[0] } catch (e) { return e.errorID } }
  AbcCode get;
  get.Label("t").Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {hidden}).Op("returnvalue").Label("e");
  get.Label("h").Op("getproperty", {Q("errorID")}).Op("returnvalue");
  const auto getFn = Fn(get, 1);
  a.File().bodies.back().exceptions = {{get.LabelOffset("t"), get.LabelOffset("e"), get.LabelOffset("h"), 0, 0}};
  // function set(x, k) { try { x[k] = 1; return "set" } catch (e) { return e.errorID } }
  AbcCode set;
  set.Label("t").Op("getlocal_1").Op("getlocal_2").Op("pushbyte", {1}).Op("setproperty", {hidden}).Label("e");
  set.Op("pushstring", {S("set")}).Op("returnvalue");
  set.Label("h").Op("getproperty", {Q("errorID")}).Op("returnvalue");
  const auto setFn = Fn(set, 2);
  a.File().bodies.back().exceptions = {{set.LabelOffset("t"), set.LabelOffset("e"), set.LabelOffset("h"), 0, 0}};
  AbcCode c;
  c.Op("pushbyte", {7}).Op("newarray", {1}).Op("setlocal_1");
  c.Op("findpropstrict", {Utils("Dictionary")}).Op("constructprop", {Utils("Dictionary"), 0}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {hidden}); });  // 7
  Trace(c, [&](AbcCode& x) { x.Op("newfunction", {getFn}).Op("pushnull").Op("getlocal_1").Op("call", {1}); });
  Trace(c, [&](AbcCode& x) {
    x.Op("newfunction", {setFn}).Op("pushnull").Op("getlocal_1").Op("pushbyte", {0}).Op("call", {2});
  });
  Trace(c, [&](AbcCode& x) {
    x.Op("newfunction", {setFn}).Op("pushnull").Op("getlocal_2").Op("newobject", {0}).Op("call", {2});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "7|1081|1056|1056|");
}

// The primitives' methods work on their own kind of value, or on the class's
// prototype as the default value; anything else is an incompatible object.
TEST_F(Core, PrimitiveMethodsTakeTheirOwnKindOrThePrototype) {
  // function f(fn, self) { try { return fn.call(self) } catch (e) { return e.errorID } }
  AbcCode f;
  f.Label("t").Op("getlocal_1").Op("getlocal_2").Op("callproperty", {Q("call"), 1}).Op("returnvalue").Label("e");
  f.Label("h").Op("getproperty", {Q("errorID")}).Op("returnvalue");
  const auto callFn = Fn(f, 2);
  a.File().bodies.back().exceptions = {{f.LabelOffset("t"), f.LabelOffset("e"), f.LabelOffset("h"), 0, 0}};
  AbcCode c;
  auto method = [&](AbcCode& x, std::string_view cls, std::string_view name) {
    x.Op("getlex", {Q(cls)}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q(name)});
  };
  auto callOn = [&](std::string_view cls, std::string_view name, const std::function<void(AbcCode&)>& self) {
    Trace(c, [&](AbcCode& x) {
      x.Op("newfunction", {callFn}).Op("pushnull");
      method(x, cls, name);
      self(x);
      x.Op("call", {2});
    });
  };
  // On the prototypes themselves: "", false, 0.
  for (std::string_view cls : {"String", "Boolean", "Number"})
    Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q(cls)}).Op("getproperty", {Q("prototype")}); Call(x, "toString", 0); });
  const auto half = [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1.5)}); };
  const auto minusTwo = [&](AbcCode& x) { x.Op("pushbyte", {-2}); };
  callOn("Number", "valueOf", half);     // 1.5
  callOn("int", "valueOf", half);        // 1004: not an int
  callOn("uint", "valueOf", minusTwo);   // 1004
  callOn("uint", "toString", minusTwo);  // -2: uint's toString takes any number
  callOn("Boolean", "toString", half);   // 1004
  callOn("String", "valueOf", [](AbcCode& x) { x.Op("pushtrue"); });  // 1004
  // Object's toString names a primitive's class, and runs on the global object for null.
  callOn("Object", "toString", [&](AbcCode& x) { Str(x, "abc"); });
  callOn("Object", "toString", minusTwo);
  callOn("Object", "toString", [](AbcCode& x) { x.Op("pushnull"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "|false|0|1.5|1004|1004|-2|1004|1004|[object String]|[object Number]|[object global]|");
}

// Flash's primitive methods throw through Error.throwError from a function on
// the prototype; call() is a frame of its own.
TEST_F(Core, IncompatibleObjectErrorsShowFlashsFrames) {
  AbcCode c;
  c.Op("getlex", {Q("Boolean")}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q("valueOf")});
  c.Op("pushbyte", {3}).Op("callpropvoid", {Q("call"), 1});
  EXPECT_FALSE(Run(c));
  EXPECT_NE(Traced().find("TypeError: Error #1004: Method Boolean.prototype.valueOf was invoked on an incompatible object.\n"
                          "\tat Error$/throwError()\n\tat Function/<anonymous>()\n"
                          "\tat Function/http://adobe.com/AS3/2006/builtin::call()\n"),
            std::string::npos) << Traced();
}

// splice() never checks a fixed vector's length (Flash keeps that old fault).
TEST_F(Core, SpliceChangesAFixedVector) {
  AbcCode c;
  c.Op("getlex", {Vec()}).Op("getlex", {Q("int")}).Op("applytype", {1}).Op("pushbyte", {5}).Op("pushtrue")
      .Op("construct", {2}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {3}).Op("callpropvoid", {Q("splice"), 2});
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {9}).Op("callpropvoid", {Q("splice"), 3});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("fixed")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "9,0,0|true|");
}

TEST_F(Core, CallingAVectorClassWithAPrimitiveIsACoercionError) {
  AbcCode c;
  c.Op("getlex", {Vec()}).Op("getlex", {Q("int")}).Op("applytype", {1}).Op("pushnull").Op("pushbyte", {3}).Op("call", {1});
  EXPECT_FALSE(Run(c));
  EXPECT_NE(Traced().find("TypeError: Error #1034"), std::string::npos) << Traced();
}

TEST_F(Core, ArrayHolesReadThroughThePrototypeAndAreNotOwn) {
  AbcCode c;
  // var a = new Array(3); Array.prototype[1] = "p"; a[2] = "x";
  c.Op("findpropstrict", {Q("Array")}).Op("pushbyte", {3}).Op("constructprop", {Q("Array"), 1}).Op("setlocal_1");
  c.Op("getlex", {Q("Array")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {1});
  Str(c, "p");
  c.Op("setproperty", {Index()});
  c.Op("getlocal_1").Op("pushbyte", {2});
  Str(c, "x");
  c.Op("setproperty", {Index()});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {Index()}); });  // undefined
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("getproperty", {Index()}); });  // p
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}); Call(x, "hasOwnProperty", 1); });  // false
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {2}); Call(x, "hasOwnProperty", 1); });  // true
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Str(x, "-"); Call(x, "join", 1); });                     // -p-x
  // slice copies what it reads, so the copy's hole at 0 is the prototype's "p" from index 1
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}); Call(x, "slice", 1); x.Op("pushbyte", {0}).Op("getproperty", {Index()}); });
  // for..in lists index 2, then what the script set on Array.prototype
  // (hasnext2 clears its object register at the end: a copy in local 4)
  c.Op("getlocal_1").Op("setlocal", {4}).Op("pushbyte", {0}).Op("setlocal_2").Op("pushstring", {S("")}).Op("setlocal_3");
  c.Loop("loop").Op("hasnext2", {4, 2}).Branch("iffalse", "done");
  c.Op("getlocal_3").Op("getlocal", {4}).Op("getlocal_2").Op("nextname").Op("add").Op("setlocal_3").Branch("jump", "loop");
  c.Label("done");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); });  // 21
  // delete a[2] leaves a hole; the length stays
  c.Op("getlocal_1").Op("pushbyte", {2}).Op("deleteproperty", {Index()}).Op("pop");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {2}); Call(x, "hasOwnProperty", 1); });  // false
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });                   // 3
  // pop reads a hole through the prototype too
  c.Op("getlocal_1").Op("callpropvoid", {Q("pop"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "pop", 0); });  // p
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "undefined|p|false|true|-p-x|p|21|false|3|p|");
}

// An array's elements lie in a dense run that may stop short of its length:
// pop takes the run's last element while the length drops by one, and reverse
// turns the run alone, leaving the holes past it in place.
TEST_F(Core, ArrayPopAndReverseWorkOnTheDenseRunBeforeTrailingHoles) {
  AbcCode c;
  const auto newArray = [&](int local, std::initializer_list<int> set) {
    // var a = new Array(5); a[i] = i * 10 for each i of `set`
    c.Op("findpropstrict", {Q("Array")}).Op("pushbyte", {5}).Op("constructprop", {Q("Array"), 1}).Op("setlocal", {local});
    for (int i : set) c.Op("getlocal", {local}).Op("pushbyte", {i}).Op("pushbyte", {i * 10}).Op("setproperty", {Index()});
  };
  const auto joined = [&](int local) {
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {local}); Str(x, "-"); Call(x, "join", 1); });
  };
  newArray(1, {1, 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "pop", 0); });  // 20, not the hole at 4
  joined(1);                                                             // -10--
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "pop", 0); });  // 10
  joined(1);                                                             // --
  newArray(2, {1, 2, 3});
  c.Op("getlocal_2").Op("callpropvoid", {Q("reverse"), 0});
  joined(2);  // 30-20-10--
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "20|-10--|10|--|30-20-10--|");
}

// for..in lists an object's own names, then those its class's prototype holds.
TEST_F(Core, ForInGoesOnThroughAScriptClassPrototype) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("C", Q("Object"), ctor, {}, {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "C", cls, {"Object"});
  // C.prototype.fromProto = 1; var o = new C; o.own = 3
  c.Op("getlex", {Q("C")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {1}).Op("setproperty", {Q("fromProto")});
  c.Op("findpropstrict", {Q("C")}).Op("constructprop", {Q("C"), 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {Q("own")});
  c.Op("getlocal_1").Op("setlocal", {4}).Op("pushbyte", {0}).Op("setlocal_2").Op("pushstring", {S("")}).Op("setlocal_3");
  c.Loop("loop").Op("hasnext2", {4, 2}).Branch("iffalse", "done");
  c.Op("getlocal_3").Op("getlocal", {4}).Op("getlocal_2").Op("nextname").Op("add").Op("pushstring", {S(",")}).Op("add")
      .Op("setlocal_3").Branch("jump", "loop");
  c.Label("done");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}); });  // the register is cleared at the end
  ASSERT_TRUE(Run(c, {ClassTrait("C", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "own,fromProto,|null|");
}

TEST_F(Core, ArraySpliceAndIndexRules) {
  AbcCode c;
  c.Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {3}).Op("pushbyte", {4}).Op("newarray", {4}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "splice", 0); });                          // undefined
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {-3}); Call(x, "removeAt", 1); });  // 2
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {9}); Call(x, "removeAt", 1); });   // undefined
  c.Op("getlocal_1").Op("pushbyte", {-50}).Op("pushbyte", {0}).Op("callpropvoid", {Q("insertAt"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); });                                                // 0,1,3,4
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {-9}); Call(x, "lastIndexOf", 2); });  // 0
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "undefined|2|undefined|0,1,3,4|0|");
}

TEST_F(Core, VectorsStoreTheirElementType) {
  AbcCode c;
  NewVector(c, "int");
  // unshift and map coerce to int; pop and shift of an empty Vector.<int> give 0
  c.Op("getlocal_1").Op("pushtrue").Op("pushdouble", {a.Double(2.7)}).Op("callpropvoid", {Q("unshift"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); });  // 1,2
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("getlex", {Q("Math")}).Op("getproperty", {Q("sqrt")}); Call(x, "map", 1);
  });  // 1,1
  // a negative splice count ends that far from the end: splice(0, -1) takes one of two
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {-1}); Call(x, "splice", 2); });  // 1
  c.Op("getlocal_1").Op("callpropvoid", {Q("pop"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "pop", 0); });    // 0
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "shift", 0); });  // 0
  // delete on a vector's element answers true and keeps it
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("deleteproperty", {Index()}); });  // true
  // Vector.<Boolean> is a vector of objects: new elements are null
  NewVector(c, "Boolean");
  c.Op("getlocal_1").Op("pushbyte", {2}).Op("setproperty", {Q("length")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("getproperty", {Index()}); });  // null
  // a vector's join spells null out, where an array's leaves it empty
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "join", 0); });  // null,null
  // a vector of objects stores undefined as null
  NewVector(c, "Object");
  c.Op("getlocal_1").Op("pushundefined").Op("callpropvoid", {Q("push"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {Index()}); });  // null
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1,2|1,1|1|0|0|true|null|null,null|null|");
}

TEST_F(Core, StringIndexArguments) {
  AbcCode c;
  auto sub = [&](std::string_view method, std::vector<std::function<void(AbcCode&)>> args) {
    Trace(c, [&, method, args](AbcCode& x) {
      Str(x, "abcdefg");
      for (auto& push : args) push(x);
      Call(x, method, static_cast<int>(args.size()));
    });
  };
  auto n = [](int v) { return [v](AbcCode& x) { x.Op("pushbyte", {v}); }; };
  auto undef = [](AbcCode& x) { x.Op("pushundefined"); };
  sub("substr", {n(0), n(-2)});     // abcde: the end counts from the end
  sub("substr", {n(2), n(-2)});     // (empty): start 2, end 0
  sub("substr", {n(1), n(-4)});     // bcd
  sub("slice", {n(2), undef});      // (empty): an explicit undefined is 0
  sub("substring", {n(2), undef});  // ab
  sub("slice", {n(-2)});            // fg
  Trace(c, [&](AbcCode& x) { Str(x, "xnull"); x.Op("pushnull"); Call(x, "indexOf", 1); });  // -1
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "abcde||bcd||ab|fg|-1|");
}

// Indices count UTF-16 units, twice over the same string (the cell keeps
// what the first read worked out), and past the ends.
TEST_F(Core, CharAtAndCharCodeAtCountUtf16Units) {
  AbcCode c;
  const char* text = "a\xC3\xA9\xF0\x9F\x98\x80";  // a, U+00E9, U+1F600 (two units)
  for (int round = 0; round < 2; ++round) {
    for (int i : {0, 1, 2, 3, 4, -1})
      Trace(c, [&](AbcCode& x) { Str(x, text); x.Op("pushbyte", {i}); Call(x, "charCodeAt", 1); });
  }
  Trace(c, [&](AbcCode& x) { Str(x, text); x.Op("pushbyte", {1}); Call(x, "charAt", 1); });
  Trace(c, [&](AbcCode& x) { Str(x, text); x.Op("pushbyte", {5}); Call(x, "charAt", 1); });
  Trace(c, [&](AbcCode& x) { Str(x, "xyz"); x.Op("pushbyte", {2}); Call(x, "charAt", 1); });
  Trace(c, [&](AbcCode& x) { Str(x, "xyz"); x.Op("pushbyte", {3}); Call(x, "charCodeAt", 1); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  const std::string codes = "97|233|55357|56832|NaN|NaN|";
  EXPECT_EQ(Traced(), codes + codes + "\xC3\xA9||z|NaN|");
}

TEST_F(Core, ByteArrayTextDropsTheByteOrderMarkAndStopsAtNul) {
  AbcCode c;
  NewByteArray(c);
  for (int b : {0xEF, 0xBB, 0xBF, int{'h'}, int{'i'}, 0, int{'x'}, 0x89})
    c.Op("getlocal_1").Op("pushint", {a.Int(b)}).Op("callpropvoid", {Q("writeByte"), 1});
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {8}); Call(x, "readUTFBytes", 1); });  // hi
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("position")}); });               // 8
  // toString keeps the NUL; a byte that is no UTF-8 reads as its Latin-1 character
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "toString", 0); x.Op("getproperty", {Q("length")}); });  // 5
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "toString", 0); x.Op("pushbyte", {4}); Call(x, "charCodeAt", 1); });  // 137
  // UTF-16 round trip
  NewByteArray(c);
  c.Op("getlocal_1");
  Str(c, "A\xC3\xA9");
  Str(c, "utf-16be");
  c.Op("callpropvoid", {Q("writeMultiByte"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });  // 4
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {4}); Str(x, "utf-16be"); Call(x, "readMultiByte", 2); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "hi|8|5|137|4|A\xC3\xA9|");
}

TEST_F(Core, ByteArrayCompressionRoundTrips) {
  AbcCode c;
  NewByteArray(c);
  for (int i = 0; i < 40; ++i) c.Op("getlocal_1").Op("pushbyte", {i % 5}).Op("callpropvoid", {Q("writeByte"), 1});
  c.Op("getlocal_1").Op("callpropvoid", {Q("compress"), 0});
  // zlib with the best compression: 0x78 0xDA; the position is at the end
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("getproperty", {Index()}); });  // 218
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("getproperty", {Q("position")}).Op("getlocal_1").Op("getproperty", {Q("length")}).Op("equals");
  });  // true
  c.Op("getlocal_1").Op("callpropvoid", {Q("uncompress"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });    // 40
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("position")}); });  // 0
  c.Op("getlocal_1");
  Str(c, "deflate");
  c.Op("callpropvoid", {Q("compress"), 1});
  c.Op("getlocal_1").Op("callpropvoid", {Q("inflate"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {39}).Op("getproperty", {Index()}); });  // 4
  // data that is no zlib stream fails with IOError 2058
  c.Label("t").Op("getlocal_1").Op("callpropvoid", {Q("uncompress"), 0}).Label("e").Branch("jump", "next");
  c.Label("h").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });  // 2058
  c.Label("next").Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), 0, 0}};
  a.Script({.init = init});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "218|true|40|0|4|2058|");
}

// AMF3's bytes for a small object graph, checked against the format's own
// encoding by hand, and read back.
TEST_F(Core, Amf3WritesReferencesAndReadsBack) {
  AbcCode c;
  NewByteArray(c);
  // o = {n: 1}; ["s", o, o, "s", 2.5, true, null]
  c.Op("pushstring", {S("n")}).Op("pushbyte", {1}).Op("newobject", {1}).Op("setlocal_2");
  Str(c, "s");
  c.Op("getlocal_2").Op("getlocal_2");
  Str(c, "s");
  c.Op("pushdouble", {a.Double(2.5)}).Op("pushtrue").Op("pushnull").Op("newarray", {7}).Op("setlocal_3");
  c.Op("getlocal_1").Op("getlocal_3").Op("callpropvoid", {Q("writeObject"), 1});
  // the bytes, joined
  c.Op("pushstring", {S("")}).Op("setlocal", {4});
  c.Op("pushbyte", {0}).Op("setlocal_2");
  c.Loop("loop").Op("getlocal_2").Op("getlocal_1").Op("getproperty", {Q("length")}).Branch("ifge", "done");
  c.Op("getlocal", {4}).Op("getlocal_1").Op("getlocal_2").Op("getproperty", {Index()}).Op("add").Op("pushstring", {S(" ")})
      .Op("add").Op("setlocal", {4}).Op("inclocal_i", {2}).Branch("jump", "loop");
  c.Label("done");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}); });
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  c.Op("getlocal_1").Op("callproperty", {Q("readObject"), 0}).Op("setlocal_3");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); });
  // the two o's are one object again
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_3").Op("pushbyte", {1}).Op("getproperty", {Index()}).Op("getlocal_3").Op("pushbyte", {2})
        .Op("getproperty", {Index()}).Op("strictequals");
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // 9 array, 15 = 7 dense; 1 no names; 6 3 "s"; 10 11 1 object: dynamic traits, no class name;
  // 3 "n", 4 1, 1 end; 10 2 object ref 1; 6 0 string ref 0; 5 + double; 3 true; 1 null
  EXPECT_EQ(Traced(), "9 15 1 6 3 115 10 11 1 3 110 4 1 1 10 2 6 0 5 64 4 0 0 0 0 0 0 3 1 |"
                      "s,[object Object],[object Object],s,2.5,true,|true|");
}

// A class's getter and setter pairs travel as sealed members beside its
// variables; reading sets them last to first, and an error a setter throws
// is written to the log while the reading goes on.
TEST_F(Core, Amf3WritesAccessorPairsAndReadsThroughTheirSetters) {
  AbcCode get;
  get.Op("pushstring", {S("g")}).Op("returnvalue");
  AbcCode set;  // trace("set " + v)
  set.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S("set ")}).Op("getlocal_1").Op("add")
      .Op("callpropvoid", {Q("trace"), 1}).Op("returnvoid");
  AbcCode bad;  // throw "oops"
  bad.Op("pushstring", {S("oops")}).Op("throw");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("Acc", Q("Object"), ctor,
                            {SlotTrait("s"), MethodTrait("v", Fn(get), TraitKind::kGetter),
                             MethodTrait("v", Fn(set, 1), TraitKind::kSetter),
                             MethodTrait("only", Fn(get), TraitKind::kGetter),  // read-only: not written
                             MethodTrait("bad", Fn(get), TraitKind::kGetter),
                             MethodTrait("bad", Fn(bad, 1), TraitKind::kSetter)});
  const auto alias = a.QName(a.Namespace(NamespaceKind::kPackage, "flash.net"), "registerClassAlias");
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Acc", cls, {"Object"});
  c.Op("findpropstrict", {alias}).Op("pushstring", {S("A")}).Op("getlex", {Q("Acc")}).Op("callpropvoid", {alias, 2});
  NewByteArray(c);
  c.Op("findpropstrict", {Q("Acc")}).Op("constructprop", {Q("Acc"), 0}).Op("setlocal_2");
  c.Op("getlocal_2").Op("pushstring", {S("S")}).Op("setproperty", {Q("s")});
  c.Op("getlocal_1").Op("getlocal_2").Op("callpropvoid", {Q("writeObject"), 1});
  // 10, traits: 3 sealed, not dynamic (0x33), alias "A", then "s" "v" "bad"
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("getproperty", {Index()}); });
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  c.Op("getlocal_1").Op("callproperty", {Q("readObject"), 0}).Op("setlocal_3");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3").Op("getproperty", {Q("s")}); });
  ASSERT_TRUE(Run(c, {ClassTrait("Acc", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "51|oops|set g|S|");
}

TEST_F(Core, DeletingFromAVectorAnswersTrueAndKeepsItsElements) {
  AbcCode c;
  NewVector(c, "uint");
  c.Op("getlocal_1").Op("setlocal_2");
  NewByteArray(c);
  c.Op("getlocal_2").Op("pushbyte", {1}).Op("pushbyte", {2}).Op("callpropvoid", {Q("push"), 2});
  c.Op("getlocal_1").Op("pushbyte", {7}).Op("callpropvoid", {Q("writeByte"), 1});
  for (const char* key : {"0", "abcd", "-1", "3.75"}) {
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Str(x, key); x.Op("deleteproperty", {Index()}); });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Str(x, key); x.Op("deleteproperty", {Index()}); });
  }
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|false|true|false|true|false|true|false|1,2|1|");
}

// delete answers true for a name a dynamic object never had (a plain
// object, a script's global object, an object of a dynamic class) and false
// on a sealed class's object.
TEST_F(Core, DeletingANameADynamicObjectNeverHadAnswersTrue) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto open = DefClass("Open", Q("Object"), ctor, {}, {}, 0);
  const auto shut = DefClass("Shut", Q("Object"), ctor, {});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  for (auto [name, cls] : {std::pair{"Open", open}, std::pair{"Shut", shut}}) {
    c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {Q("Object")})
        .Op("newclass", {cls}).Op("popscope").Op("initproperty", {Q(name)});
  }
  c.Op("newobject", {0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("deleteproperty", {Q("never")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getglobalscope").Op("deleteproperty", {Q("never")}); });
  for (const char* name : {"Open", "Shut"}) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(name)}).Op("constructprop", {Q(name), 0}).Op("deleteproperty", {Q("never")});
    });
  }
  ASSERT_TRUE(Run(c, {ClassTrait("Open", open), ClassTrait("Shut", shut)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|true|true|false|");
}

// A Dictionary subclass's own variables are read by a name that is a string;
// an object key, or a string the class does not declare, is a key.
TEST_F(Core, DictionaryKeysGiveWayToTheClasssVariables) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("Dict", Utils("Dictionary"), ctor, {SlotTrait("declared")}, {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {Utils("Dictionary")})
      .Op("pushscope").Op("getlex", {Utils("Dictionary")}).Op("newclass", {cls}).Op("popscope").Op("popscope")
      .Op("initproperty", {Q("Dict")});
  c.Op("findpropstrict", {Q("Dict")}).Op("constructprop", {Q("Dict"), 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushstring", {S("declared")}).Op("pushstring", {S("var")}).Op("setproperty", {Index()});
  c.Op("getlocal_1").Op("pushstring", {S("other")}).Op("pushstring", {S("key")}).Op("setproperty", {Index()});
  c.Op("newobject", {0}).Op("setlocal_2");
  c.Op("getlocal_1").Op("getlocal_2").Op("pushstring", {S("object")}).Op("setproperty", {Index()});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("declared")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("other")}).Op("getproperty", {Index()}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2").Op("getproperty", {Index()}); });
  ASSERT_TRUE(Run(c, {ClassTrait("Dict", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "var|key|object|");
}

TEST_F(Core, ReturnsTakeTheDeclaredTypeAndArgumentsKnowTheirCallee) {
  auto typed = [&](std::string_view type, const std::function<void(AbcCode&)>& body, std::uint8_t flags = 0) {
    MethodInfo mi;
    mi.returnType = type.empty() ? 0 : Q(type);
    mi.flags = flags;
    const auto m = a.Method(mi);
    AbcCode b;
    body(b);
    a.Body({.method = m, .maxStack = 4, .localCount = 3, .maxScopeDepth = 2}, b);
    return m;
  };
  const auto toInt = typed("int", [&](AbcCode& b) { b.Op("pushdouble", {a.Double(7.9)}).Op("returnvalue"); });
  const auto toBool = typed("Boolean", [&](AbcCode& b) { b.Op("returnvoid"); });
  const auto untyped = typed("", [&](AbcCode& b) { b.Op("returnvoid"); });
  const auto self = typed("", [&](AbcCode& b) { b.Op("getlocal_1").Op("getproperty", {Q("callee")}).Op("returnvalue"); },
                          method_flag::kNeedArguments);
  AbcCode c;
  auto call = [&](std::uint32_t m) {
    Trace(c, [&, m](AbcCode& x) { x.Op("newfunction", {m}).Op("pushnull").Op("call", {0}); });
  };
  call(toInt);    // 7
  call(toBool);   // false
  call(untyped);  // undefined
  // arguments.callee is the very function called, through call() and apply() too.
  c.Op("newfunction", {self}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushnull").Op("call", {0}).Op("typeof"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushnull").Op("call", {0}).Op("getlocal_1").Op("strictequals"); });
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("pushnull");
    Call(x, "call", 1);
    x.Op("getlocal_1").Op("strictequals");
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "7|false|undefined|function|true|true|");
}

TEST_F(Core, UndefinedArgumentsBecomeNullForEveryTypeButTheUntyped) {
  // function (p:TYPE) { return p; }, called with undefined.
  auto echo = [&](std::string_view type) {
    MethodInfo mi;
    mi.paramTypes = {type.empty() ? 0u : Q(type)};
    const auto m = a.Method(mi);
    AbcCode b;
    b.Op("getlocal_1").Op("returnvalue");
    a.Body({.method = m, .maxStack = 2, .localCount = 3, .maxScopeDepth = 1}, b);
    return m;
  };
  AbcCode c;
  for (std::string_view type : {"Array", "Object", "Date", "String", "Number", "int", "Boolean", ""}) {
    const auto f = echo(type);
    Trace(c, [&, f](AbcCode& x) { x.Op("newfunction", {f}).Op("pushnull").Op("pushundefined").Op("call", {1}); });
  }
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "null|null|null|null|NaN|0|false|undefined|");
}

TEST_F(Core, ADateFromANumberKeepsWholeMilliseconds) {
  AbcCode c;
  for (double t : {0.5, -0.5, 1e-300, 1234.9, -1234.9}) {
    Trace(c, [&, t](AbcCode& x) {
      x.Op("findpropstrict", {Q("Date")}).Op("pushdouble", {a.Double(t)}).Op("constructprop", {Q("Date"), 1});
      x.Op("callproperty", {Q("valueOf"), 0});
    });
  }
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "0|0|0|1234|-1234|");
}

TEST_F(Core, DictionaryKeysByStringAndNumber) {
  AbcCode c;
  c.Op("findpropstrict", {Utils("Dictionary")}).Op("constructprop", {Utils("Dictionary"), 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushbyte", {5});
  Str(c, "five");
  c.Op("setproperty", {Index()});
  c.Op("newobject", {0}).Op("setlocal_2");
  c.Op("getlocal_1").Op("getlocal_2").Op("pushtrue").Op("setproperty", {Index()});
  // an index-like key enumerates as a number
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("nextname").Op("typeof"); });  // number
  // hasOwnProperty asks by string: the object key is not found so
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {5}); Call(x, "hasOwnProperty", 1); });  // true
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2"); Call(x, "hasOwnProperty", 1); });     // false
  // delete answers true whether the key was there or not
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {9}).Op("deleteproperty", {Index()}); });  // true
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2").Op("deleteproperty", {Index()}); });     // true
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2").Op("getproperty", {Index()}); });        // undefined
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "number|true|false|true|true|undefined|");
}

// AMF0 for the same kinds of values: its own markers, then the same values back.
TEST_F(Core, Amf0RoundTripsWithItsOwnMarkers) {
  AbcCode c;
  NewByteArray(c);
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("objectEncoding")});
  // [1.5, "ab", {k: null}, undefined]: a strict array (10) of four
  c.Op("pushdouble", {a.Double(1.5)});
  Str(c, "ab");
  c.Op("pushstring", {S("k")}).Op("pushnull").Op("newobject", {1}).Op("pushundefined").Op("newarray", {4}).Op("setlocal_2");
  c.Op("getlocal_1").Op("getlocal_2").Op("callpropvoid", {Q("writeObject"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {Index()}); });  // 10
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  c.Op("getlocal_1").Op("callproperty", {Q("readObject"), 0}).Op("setlocal_3");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3").Op("pushbyte", {1}).Op("getproperty", {Index()}); });  // ab
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_3").Op("pushbyte", {2}).Op("getproperty", {Index()}).Op("getproperty", {Q("k")});
  });  // null
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3").Op("getproperty", {Q("length")}); });  // 4
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // 10 + u32 count: 5; number 9; string 1 + 2 + 2 = 5; object 1 + "k" 3 + null 1 + end 3 = 8; undefined 1
  EXPECT_EQ(Traced(), "10|28|ab|null|4|");
}

TEST_F(Core, GlobalUriFunctionsTakeAStringParameter) {
  AbcCode c;
  auto global = [&](std::string_view fn, const std::function<void(AbcCode&)>& args, int argc) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(fn)});
      args(x);
      x.Op("callproperty", {Q(fn), argc});
    });
  };
  auto text = [&](std::string_view s) { return [this, s](AbcCode& x) { Str(x, s); }; };
  global("escape", [](AbcCode&) {}, 0);                                 // undefined
  global("escape", [](AbcCode& x) { x.Op("pushundefined"); }, 1);      // null
  global("encodeURI", [](AbcCode& x) { x.Op("pushnull"); }, 1);        // null
  // escape works on UTF-16 units: Latin-1 as %XX, the rest as %uXXXX
  global("escape", text("a b\xC2\xA3\xF0\x9F\x98\xAD"), 1);
  global("unescape", text("%A3%uD83D%uDE2D%zz"), 1);
  global("encodeURIComponent", text("\xC2\xA3/"), 1);
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "undefined|null|null|a%20b%A3%uD83D%uDE2D|\xC2\xA3\xF0\x9F\x98\xAD%zz|%C2%A3%2F|");
}

// A member declared in the AS3 namespace is called by that name but is no
// own property by its plain one; a public member is.
TEST_F(Core, AS3NamespaceMembersAreNotOwnPublicProperties) {
  const auto as3 = a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode body;
  body.Op("pushstring", {S("called")}).Op("returnvalue");
  Trait hidden = MethodTrait("m", Fn(body));
  hidden.name = a.QName(as3, "m");
  const auto cls = DefClass("K", Q("Object"), ctor, {hidden, MethodTrait("p", Fn(body))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "K", cls, {"Object"});
  c.Op("getlex", {Q("K")}).Op("construct", {0}).Op("setlocal_1");
  for (const char* name : {"m", "p"})
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S(name)}); Call(x, "hasOwnProperty", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("callproperty", {a.QName(as3, "m"), 0}); });
  ASSERT_TRUE(Run(c, {ClassTrait("K", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "false|true|called|");
}

// Indices run to 2^32 - 2: an element written there makes the length one
// more, 2^32 - 1 is a plain name, and a shorter length drops the tail.
TEST_F(Core, AnArraysLastIndicesCountInItsLength) {
  AbcCode c;
  c.Op("newarray", {0}).Op("setlocal_1");
  auto store = [&](double at) {
    c.Op("getlocal_1").Op("pushdouble", {a.Double(at)}).Op("pushbyte", {7}).Op("setproperty", {Index()});
  };
  auto traceLength = [&] { Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); }); };
  store(4294967293.0);
  traceLength();
  store(4294967295.0);
  traceLength();
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushdouble", {a.Double(4294967293.0)}).Op("getproperty", {Index()}); });
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("pushstring", {S("4294967293")});
    Call(x, "hasOwnProperty", 1);
  });
  c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {Q("length")});
  traceLength();
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushdouble", {a.Double(4294967293.0)}).Op("getproperty", {Index()}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "4294967294|4294967294|7|true|3|undefined|");
}

// AMF writes a class's plain public variables only: one in the AS3
// namespace stays behind (traits 0x13: one sealed member, "s").
TEST_F(Core, Amf3LeavesOutVariablesOfTheAS3Namespace) {
  const auto as3 = a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  Trait hidden = SlotTrait("h");
  hidden.name = a.QName(as3, "h");
  const auto cls = DefClass("K", Q("Object"), ctor, {SlotTrait("s"), hidden});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "K", cls, {"Object"});
  NewByteArray(c);
  c.Op("getlex", {Q("K")}).Op("construct", {0}).Op("setlocal_2");
  c.Op("getlocal_2").Op("pushstring", {S("v")}).Op("setproperty", {a.QName(as3, "h")});
  c.Op("getlocal_1").Op("getlocal_2").Op("callpropvoid", {Q("writeObject"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("getproperty", {Index()}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });
  ASSERT_TRUE(Run(c, {ClassTrait("K", cls)})) << (logged.empty() ? "" : logged[0]);
  // 10 19 1 3 "s" 0 (undefined)
  EXPECT_EQ(Traced(), "19|6|");
}

// Error.prototype is itself an Error: Object's toString names it so, its
// message is "Error", and its toString is the one every error class's
// prototype reaches.
TEST_F(Core, ErrorsPrototypeIsAnErrorWhoseToStringTheOthersShare) {
  AbcCode c;
  auto proto = [&](AbcCode& x, std::string_view cls) { x.Op("getlex", {Q(cls)}).Op("getproperty", {Q("prototype")}); };
  Trace(c, [&](AbcCode& x) {
    proto(x, "Object");
    x.Op("getproperty", {Q("toString")});
    proto(x, "Error");
    x.Op("call", {0});
  });
  Trace(c, [&](AbcCode& x) { proto(x, "Error"); x.Op("getproperty", {Q("message")}); });
  Trace(c, [&](AbcCode& x) { proto(x, "Error"); });
  Trace(c, [&](AbcCode& x) {
    proto(x, "TypeError");
    x.Op("getproperty", {Q("toString")});
    proto(x, "Error");
    x.Op("getproperty", {Q("toString")}).Op("strictequals");
  });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("RangeError")}).Op("pushstring", {S("m")}).Op("construct", {1}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Error")}).Op("construct", {0}).Op("getproperty", {Q("message")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[object Error]|Error|Error: Error|true|RangeError: m||");
}

// super.toString() reaches Object's method through the prototypes, where a
// script may have replaced it.
TEST_F(Core, SuperCallsOfObjectsMethodsSeeReplacedPrototypeFunctions) {
  AbcCode replacement;
  replacement.Op("pushstring", {S("replaced")}).Op("returnvalue");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode viaSuper;
  viaSuper.Op("getlocal_0").Op("callsuper", {Q("toString"), 0}).Op("returnvalue");
  const auto cls = DefClass("K", Q("Object"), ctor, {MethodTrait("s", Fn(viaSuper))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "K", cls, {"Object"});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("K")}).Op("construct", {0}); Call(x, "s", 0); });
  c.Op("getlex", {Q("Object")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(replacement)})
      .Op("setproperty", {Q("toString")});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("K")}).Op("construct", {0}); Call(x, "s", 0); });
  ASSERT_TRUE(Run(c, {ClassTrait("K", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[object K]|replaced|");
}

}  // namespace
}  // namespace quarvel::avm2
