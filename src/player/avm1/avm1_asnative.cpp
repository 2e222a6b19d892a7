// ASnative(table, index): Flash's built-in functions by number, as its own
// class definitions name them. Each table lists the names of one object's
// methods (or getter and setter pairs) in the order their numbers run; the
// function is found on our built-in object of that name, so a movie that
// replaced the script-visible one still gets the native.

#include <cstdint>
#include <climits>
#include <cmath>
#include <string>
#include <string_view>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"

namespace quarvel::player::avm1_builtins {
namespace {

struct NativeTable {
  int table;
  int first;           // the number of the first name
  const char* owner;   // dotted path from _global ("" for _global itself)
  const char* names;   // comma-separated, in number order
  bool accessors;      // each name is a getter and setter pair (two numbers)
};

constexpr NativeTable kTables[] = {
    {100, 0, "", "escape,unescape,parseInt,parseFloat,trace", false},
    {200, 0, "Math", "abs,min,max,sin,cos,atan2,tan,exp,log,sqrt,round,random,floor,ceil,atan,asin,acos,pow", false},
    {103, 0, "Date.prototype",
     "getFullYear,getYear,getMonth,getDate,getDay,getHours,getMinutes,getSeconds,getMilliseconds,setFullYear,setMonth,"
     "setDate,setHours,setMinutes,setSeconds,setMilliseconds,getTime,setTime,getTimezoneOffset,toString,setYear",
     false},
    {1109, 1, "flash.filters.ConvolutionFilter.prototype",
     "matrixX,matrixY,matrix,divisor,bias,preserveAlpha,clamp,color,alpha", true},
};

// The trace action as a function.
AsValue NativeTrace(Avm1& vm, const AsValue&, AsArgs a) {
  vm.TraceValue(Arg(a, 0));
  return {};
}

// Math's numbers past its last function: the first two arguments are
// converted as every Math function does, the answer NaN.
AsValue MathPastEnd(Avm1& vm, const AsValue&, AsArgs a) {
  vm.ToNumber(Arg(a, 0));
  if (!vm.Throwing()) vm.ToNumber(Arg(a, 1));
  return AsValue::Number(std::nan(""));
}

// A built-in object's own property, not asking prototypes or getters.
AsValue OwnValue(Avm1& vm, AsObject* o, const std::string& name) {
  if (!o) return {};
  const auto it = o->props.find(vm.Key(name));
  return it == o->props.end() ? AsValue{} : it->second.value;
}

AsObject* Owner(Avm1& vm, std::string_view path) {
  AsObject* o = vm.Global();
  while (o && !path.empty()) {
    const std::size_t dot = path.find('.');
    const AsValue v = OwnValue(vm, o, std::string(path.substr(0, dot)));
    o = v.type == AsValue::Type::kObject ? v.obj : nullptr;
    path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
  }
  return o;
}

// ASnative(2, 0): whether the script function running was called by `new`.
AsValue ASnew(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Bool(vm.InScriptConstructor()); }

// The native numbered (table, index); null when there is none.
AsNative FindNative(Avm1& vm, std::int32_t table, std::int32_t index, std::string& name) {
  if (table == 2 && index == 0) {
    name = "ASnew";
    return ASnew;
  }
  for (const NativeTable& t : kTables) {
    if (t.table != table || index < t.first) continue;
    const std::int64_t offset = std::int64_t{index} - t.first;
    const std::int64_t slot = t.accessors ? offset / 2 : offset;
    std::string_view names = t.names;
    for (std::int64_t i = 0; i < slot && !names.empty(); ++i) {
      const std::size_t comma = names.find(',');
      names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
    }
    if (names.empty()) return table == 200 ? MathPastEnd : nullptr;
    name = std::string(names.substr(0, names.find(',')));
    if (table == 100 && name == "trace") return NativeTrace;
    AsObject* owner = Owner(vm, t.owner);
    if (!owner) return nullptr;
    if (t.accessors) {
      const auto it = owner->props.find(vm.Key(name));
      if (it == owner->props.end()) return nullptr;
      AsObject* fn = offset % 2 == 0 ? it->second.getter : it->second.setter;
      return fn && fn->fn ? fn->fn->native : nullptr;
    }
    const AsValue fn = OwnValue(vm, owner, name);
    return fn.type == AsValue::Type::kObject && fn.obj->fn ? fn.obj->fn->native : nullptr;
  }
  return nullptr;
}

// ASnative(table, index): exactly two arguments, both taken as 32-bit
// integers; undefined for numbers that name nothing.
AsValue ASnative(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.size() != 2) return {};
  const std::int32_t table = ToInt32(vm.ToNumber(a[0]));
  const std::int32_t index = ToInt32(vm.ToNumber(a[1]));
  if (vm.Throwing()) return {};
  std::string name;
  const AsNative native = FindNative(vm, table, index, name);
  return native ? AsValue::Object(vm.NewFunction(name, native)) : AsValue{};
}

// A name's leading digit asks for a SWF version: 6 to 9, or "10"; the
// property is made hidden from older movies. Any other digit stays part
// of the name, and a "1" not followed by "0" is dropped with no version.
std::uint16_t TakeVersionPrefix(std::string& name) {
  if (name.empty() || name[0] < '1' || name[0] > '9') return 0;
  const char d = name[0];
  if (d >= '2' && d <= '5') return 0;
  name.erase(0, 1);
  switch (d) {
    case '6': return kPropVersion6;
    case '7': return kPropVersion7;
    case '8': return kPropVersion8;
    case '9': return kPropVersion9;
    default: break;
  }
  if (!name.empty() && name[0] == '0') {
    name.erase(0, 1);
    return kPropVersion10;
  }
  return 0;
}

// ASSetNative(object, table, "name,name...", first = 0) and
// ASSetNativeAccessor: each name gets the native of the next number from
// `first` (an accessor a getter and a setter, two numbers); an empty name
// passes its numbers by.
AsValue SetNatives(Avm1& vm, AsArgs a, bool accessors) {
  if (a.size() < 3) return {};
  AsObject* o = vm.ObjectOf(a[0]);
  const std::int32_t table = ToInt32(vm.ToNumber(a[1]));
  if (vm.Throwing()) return {};
  const std::string names = vm.ToString(a[2]);
  if (vm.Throwing()) return {};
  const std::int32_t first = a.size() > 3 ? ToInt32(vm.ToNumber(a[3])) : 0;
  if (!o || vm.Throwing()) return {};
  std::int64_t index = first;
  auto native = [&](std::string& fnName) -> AsObject* {
    const std::int64_t i = index++;
    if (i < INT32_MIN || i > INT32_MAX) return nullptr;
    const AsNative fn = FindNative(vm, table, static_cast<std::int32_t>(i), fnName);
    return fn ? vm.NewFunction(fnName, fn) : nullptr;
  };
  for (std::size_t at = 0; at <= names.size();) {
    std::size_t comma = names.find(',', at);
    if (comma == std::string::npos) comma = names.size();
    std::string name = names.substr(at, comma - at);
    at = comma + 1;
    const std::uint16_t versions = TakeVersionPrefix(name);
    std::string getterName, setterName;
    AsObject* getter = native(getterName);
    AsObject* setter = accessors ? native(setterName) : nullptr;
    if (name.empty() || !getter) continue;
    const std::string key = vm.Key(name);
    if (accessors) {
      vm.AddProperty(o, name, AsValue::Object(getter), setter ? AsValue::Object(setter) : AsValue{});
      o->props[key].versions = versions;
      continue;
    }
    const bool had = o->props.count(key) > 0;
    vm.Set(AsValue::Object(o), name, AsValue::Object(getter));
    if (!had && o->props.count(key)) o->props[key].versions = versions;
  }
  return {};
}

AsValue ASSetNative(Avm1& vm, const AsValue&, AsArgs a) { return SetNatives(vm, a, false); }
AsValue ASSetNativeAccessor(Avm1& vm, const AsValue&, AsArgs a) { return SetNatives(vm, a, true); }

}  // namespace

void InstallNativeTables(Avm1& vm) {
  vm.NewFunction("ASnative", ASnative, vm.Global());
  vm.NewFunction("ASSetNative", ASSetNative, vm.Global());
  vm.NewFunction("ASSetNativeAccessor", ASSetNativeAccessor, vm.Global());
}

}  // namespace quarvel::player::avm1_builtins
