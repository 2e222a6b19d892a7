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

namespace quarvel::player::avm1_builtins {
namespace {

constexpr double kMsPerDay = 86400000.0;
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

// Days since 1970-01-01 of a civil date (proleptic Gregorian); months may
// run over (13 is January of the next year).
double DaysFromCivil(double y, double m, double d) {
  y += std::floor(m / 12);
  m = m - 12 * std::floor(m / 12);  // 0..11
  double yy = m < 2 ? y - 1 : y;
  const double era = std::floor(yy / 400);
  const double yoe = yy - era * 400;
  const double mp = m < 2 ? m + 10 : m - 2;  // March first
  const double doy = std::floor((153 * mp + 2) / 5);
  const double doe = yoe * 365 + std::floor(yoe / 4) - std::floor(yoe / 100) + doy;
  return era * 146097 + doe - 719468 + d - 1;
}

struct Fields {
  double year = 1970, month = 0, date = 1, hours = 0, minutes = 0, seconds = 0, ms = 0, day = 4;
};

Fields Split(double t) {
  Fields f;
  const double days = std::floor(t / kMsPerDay);
  double rest = t - days * kMsPerDay;
  f.hours = std::floor(rest / 3600000);
  rest -= f.hours * 3600000;
  f.minutes = std::floor(rest / 60000);
  rest -= f.minutes * 60000;
  f.seconds = std::floor(rest / 1000);
  f.ms = rest - f.seconds * 1000;
  f.day = days - 7 * std::floor((days + 4) / 7) + 4;  // 1970-01-01 was a Thursday
  // Civil from days.
  const double z = days + 719468;
  const double era = std::floor(z / 146097);
  const double doe = z - era * 146097;
  const double yoe = std::floor((doe - std::floor(doe / 1460) + std::floor(doe / 36524) - std::floor(doe / 146096)) / 365);
  const double doy = doe - (365 * yoe + std::floor(yoe / 4) - std::floor(yoe / 100));
  const double mp = std::floor((5 * doy + 2) / 153);
  f.date = doy - std::floor((153 * mp + 2) / 5) + 1;
  f.month = mp < 10 ? mp + 2 : mp - 10;
  f.year = yoe + era * 400 + (f.month < 2 ? 1 : 0);
  return f;
}

double Compose(const Fields& f) {
  return DaysFromCivil(f.year, f.month, f.date) * kMsPerDay + f.hours * 3600000 + f.minutes * 60000 +
         f.seconds * 1000 + f.ms;
}

// The zone's offset from UTC at UTC time t, in milliseconds (east positive).
double ZoneOffset(double t) {
  if (!std::isfinite(t)) return 0;
  const auto tt = static_cast<std::time_t>(std::floor(t / 1000));
  std::tm tm{};
  if (!localtime_r(&tt, &tm)) return 0;
  return static_cast<double>(tm.tm_gmtoff) * 1000;
}

double ToLocal(double t) { return t + ZoneOffset(t); }

// The UTC time whose local time is `local`.
double FromLocal(double local) {
  double t = local - ZoneOffset(local);
  t = local - ZoneOffset(t);
  return t;
}

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

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Tue Dec 8 11:16:40 GMT+0000 2026", in local time.
std::string DateText(double t) {
  if (std::isnan(t)) return "Invalid Date";
  const double offset = ZoneOffset(t);
  const Fields f = Split(t + offset);
  const long minutes = std::lround(offset / 60000);
  const long absMin = std::labs(minutes);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s %s %d %02d:%02d:%02d GMT%c%02ld%02ld %.0f", kDays[static_cast<int>(f.day)],
                kMonths[static_cast<int>(f.month)], static_cast<int>(f.date), static_cast<int>(f.hours),
                static_cast<int>(f.minutes), static_cast<int>(f.seconds), minutes < 0 ? '-' : '+', absMin / 60,
                absMin % 60, f.year);
  return buf;
}

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
