// Date: a time in milliseconds since 1970 (UTC), shown in the local time of
// the C library's time zone (TZ).
//
// `new Date()` reads the movie's clock, not the wall clock: the date when the
// movie started plus the movie's script time (getTimer). A capture that runs
// faster or slower than real time still shows the dates the movie would have
// shown playing live, and the same frame shows the same time within a run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/rules/calendar.h"

namespace quarvel::player::avm1_builtins {
namespace {

constexpr double kMaxTime = 8.64e15;  // a Date holds at most 10^8 days either side of 1970

struct DateData : AsNativeData {
  double t = std::nan("");
};

// Kept on the Date class: when the movie started, by the wall clock.
struct DateClock : AsNativeData {
  double startMs = 0;
};

double TimeClip(double t) {
  if (!std::isfinite(t) || std::fabs(t) > kMaxTime) return std::nan("");
  return std::trunc(t) + 0.0;
}

using Fields = rules::CivilTime;
using rules::FromLocal;
using rules::ToLocal;
using rules::ZoneOffset;
Fields Split(double t) { return rules::SplitTime(t); }
double Compose(const Fields& f) { return rules::ComposeTime(f); }

DateData* D(const AsValue& self) { return SelfData<DateData>(self); }

double Now(Avm1& vm) {
  const AsValue ctor = vm.Get(AsValue::Object(vm.Global()), "Date");
  double start = 0;
  if (ctor.type == AsValue::Type::kObject) {
    if (auto* clock = ctor.obj->Native<DateClock>()) start = clock->startMs;
  }
  return std::floor(start + static_cast<double>(vm.GetStage().ScriptTime()));
}

// Fields from arguments (year, month[, date, hours, minutes, seconds, ms]);
// years 0 to 99 are 1900 to 1999.
double FromArgs(Avm1& vm, AsArgs a) {
  Fields f;
  double* slots[] = {&f.year, &f.month, &f.date, &f.hours, &f.minutes, &f.seconds, &f.ms};
  for (std::size_t i = 0; i < a.size() && i < 7; ++i) {
    const double d = vm.ToNumber(a[i]);
    if (!std::isfinite(d)) return std::nan("");
    *slots[i] = std::trunc(d);
  }
  if (f.year >= 0 && f.year <= 99) f.year += 1900;
  return Compose(f);
}

// new Date(), new Date(ms), new Date(year, month[, date, hours, minutes, seconds, ms]).
AsValue DateCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  double t;
  if (a.empty()) t = Now(vm);
  else if (a.size() == 1) t = TimeClip(vm.ToNumber(a[0]));
  else t = TimeClip(FromLocal(FromArgs(vm, a)));
  auto data = std::make_unique<DateData>();
  data->t = t;
  self.obj->native = std::move(data);
  self.obj->className = "Date";
  return self;
}

using rules::DateText;

AsValue DateFunction(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (o && !o->native && o->className == "Object" && o->props.count(vm.Key("__constructor__"))) {
    return DateCtor(vm, self, a);
  }
  return AsValue::String(DateText(Now(vm)));
}

AsValue DateToString(Avm1&, const AsValue& self, AsArgs) {
  DateData* d = D(self);
  return AsValue::String(d ? DateText(d->t) : "Invalid Date");
}

AsValue DateValueOf(Avm1&, const AsValue& self, AsArgs) {
  DateData* d = D(self);
  return AsValue::Number(d ? d->t : std::nan(""));
}

// Getters: one field of the local or UTC time.
enum class Field { kYear, kFullYear, kMonth, kDate, kDay, kHours, kMinutes, kSeconds, kMs };

template <Field F, bool Utc>
AsValue Getter(Avm1&, const AsValue& self, AsArgs) {
  DateData* d = D(self);
  if (!d || std::isnan(d->t)) return AsValue::Number(std::nan(""));
  const Fields f = Split(Utc ? d->t : ToLocal(d->t));
  switch (F) {
    case Field::kYear: return AsValue::Number(f.year - 1900);
    case Field::kFullYear: return AsValue::Number(f.year);
    case Field::kMonth: return AsValue::Number(f.month);
    case Field::kDate: return AsValue::Number(f.date);
    case Field::kDay: return AsValue::Number(f.day);
    case Field::kHours: return AsValue::Number(f.hours);
    case Field::kMinutes: return AsValue::Number(f.minutes);
    case Field::kSeconds: return AsValue::Number(f.seconds);
    case Field::kMs: return AsValue::Number(f.ms);
  }
  return {};
}

AsValue GetTimezoneOffset(Avm1&, const AsValue& self, AsArgs) {
  DateData* d = D(self);
  if (!d || std::isnan(d->t)) return AsValue::Number(std::nan(""));
  return AsValue::Number(-ZoneOffset(d->t) / 60000);
}

AsValue SetTime(Avm1& vm, const AsValue& self, AsArgs a) {
  DateData* d = D(self);
  if (!d) return {};
  d->t = TimeClip(Num(vm, a, 0));
  return AsValue::Number(d->t);
}

// Setters: the first field named and the ones after it, as many as given
// (setHours(h, m) sets hours and minutes), in local or UTC time.
template <Field First, bool Utc>
AsValue Setter(Avm1& vm, const AsValue& self, AsArgs a) {
  DateData* d = D(self);
  if (!d) return {};
  if (a.empty()) {
    d->t = std::nan("");
    return AsValue::Number(d->t);
  }
  double base = d->t;
  if (std::isnan(base)) {
    // Only a year gives an invalid date a time again.
    if (First != Field::kYear && First != Field::kFullYear) return AsValue::Number(base);
    base = 0;
  }
  Fields f = Split(Utc ? base : ToLocal(base));
  double* order[] = {&f.year, &f.month, &f.date, &f.hours, &f.minutes, &f.seconds, &f.ms};
  std::size_t first = 0, count = 1;
  switch (First) {
    case Field::kYear:
    case Field::kFullYear: first = 0, count = 3; break;
    case Field::kMonth: first = 1, count = 2; break;
    case Field::kDate: first = 2, count = 1; break;
    case Field::kHours: first = 3, count = 4; break;
    case Field::kMinutes: first = 4, count = 3; break;
    case Field::kSeconds: first = 5, count = 2; break;
    case Field::kMs: first = 6, count = 1; break;
    case Field::kDay: break;
  }
  for (std::size_t i = 0; i < count && i < a.size(); ++i) {
    if (i > 0 && a[i].IsUndefined()) continue;
    const double v = vm.ToNumber(a[i]);
    if (!std::isfinite(v)) {
      d->t = std::nan("");
      return AsValue::Number(d->t);
    }
    *order[first + i] = std::trunc(v);
  }
  if (First == Field::kYear && f.year >= 0 && f.year <= 99) f.year += 1900;
  const double composed = Compose(f);
  d->t = TimeClip(Utc ? composed : FromLocal(composed));
  return AsValue::Number(d->t);
}

AsValue DateUtc(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.size() < 2) return AsValue::Number(std::nan(""));
  return AsValue::Number(TimeClip(FromArgs(vm, a)));
}

}  // namespace

void InstallDate(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  AsObject* ctor = vm.NewClass(vm.Global(), "Date", DateFunction, proto);
  auto clock = std::make_unique<DateClock>();
  clock->startMs = std::floor(static_cast<double>(std::time(nullptr)) * 1000);
  ctor->native = std::move(clock);
  vm.NewFunction("UTC", DateUtc, ctor);
  const std::pair<const char*, AsNative> methods[] = {
      {"toString", DateToString},
      {"valueOf", DateValueOf},
      {"getTime", DateValueOf},
      {"setTime", SetTime},
      {"getTimezoneOffset", GetTimezoneOffset},
      {"getYear", Getter<Field::kYear, false>},
      {"getFullYear", Getter<Field::kFullYear, false>},
      {"getMonth", Getter<Field::kMonth, false>},
      {"getDate", Getter<Field::kDate, false>},
      {"getDay", Getter<Field::kDay, false>},
      {"getHours", Getter<Field::kHours, false>},
      {"getMinutes", Getter<Field::kMinutes, false>},
      {"getSeconds", Getter<Field::kSeconds, false>},
      {"getMilliseconds", Getter<Field::kMs, false>},
      {"getUTCYear", Getter<Field::kYear, true>},
      {"getUTCFullYear", Getter<Field::kFullYear, true>},
      {"getUTCMonth", Getter<Field::kMonth, true>},
      {"getUTCDate", Getter<Field::kDate, true>},
      {"getUTCDay", Getter<Field::kDay, true>},
      {"getUTCHours", Getter<Field::kHours, true>},
      {"getUTCMinutes", Getter<Field::kMinutes, true>},
      {"getUTCSeconds", Getter<Field::kSeconds, true>},
      {"getUTCMilliseconds", Getter<Field::kMs, true>},
      {"setYear", Setter<Field::kYear, false>},
      {"setFullYear", Setter<Field::kFullYear, false>},
      {"setMonth", Setter<Field::kMonth, false>},
      {"setDate", Setter<Field::kDate, false>},
      {"setHours", Setter<Field::kHours, false>},
      {"setMinutes", Setter<Field::kMinutes, false>},
      {"setSeconds", Setter<Field::kSeconds, false>},
      {"setMilliseconds", Setter<Field::kMs, false>},
      {"setUTCFullYear", Setter<Field::kFullYear, true>},
      {"setUTCMonth", Setter<Field::kMonth, true>},
      {"setUTCDate", Setter<Field::kDate, true>},
      {"setUTCHours", Setter<Field::kHours, true>},
      {"setUTCMinutes", Setter<Field::kMinutes, true>},
      {"setUTCSeconds", Setter<Field::kSeconds, true>},
      {"setUTCMilliseconds", Setter<Field::kMs, true>},
  };
  for (auto& [n, f] : methods) vm.NewFunction(n, f, proto);
}

}  // namespace quarvel::player::avm1_builtins
