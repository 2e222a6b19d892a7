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

// The native numbered (table, index); null when there is none.
AsNative FindNative(Avm1& vm, std::int32_t table, std::int32_t index, std::string& name) {
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

// ASSetNative(object, table, "name,name...", first = 0): each name gets the
// native of the next number from `first`; an empty name passes a number by.
AsValue ASSetNative(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.size() < 3) return {};
  AsObject* o = vm.ObjectOf(a[0]);
  const std::int32_t table = ToInt32(vm.ToNumber(a[1]));
  const std::string names = vm.ToString(a[2]);
  const std::int32_t first = a.size() > 3 ? ToInt32(vm.ToNumber(a[3])) : 0;
  if (!o || vm.Throwing()) return {};
  std::int64_t index = first;
  for (std::size_t at = 0; at <= names.size(); ++index) {
    std::size_t comma = names.find(',', at);
    if (comma == std::string::npos) comma = names.size();
    const std::string name = names.substr(at, comma - at);
    at = comma + 1;
    std::string nativeName;
    if (name.empty() || index < INT32_MIN || index > INT32_MAX) continue;
    if (const AsNative native = FindNative(vm, table, static_cast<std::int32_t>(index), nativeName)) {
      vm.Set(AsValue::Object(o), name, AsValue::Object(vm.NewFunction(name, native)));
    }
  }
  return {};
}

}  // namespace

void InstallNativeTables(Avm1& vm) {
  vm.NewFunction("ASnative", ASnative, vm.Global());
  vm.NewFunction("ASSetNative", ASSetNative, vm.Global());
}

}  // namespace quarvel::player::avm1_builtins
