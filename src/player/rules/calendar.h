#pragma once
// Flash's Date arithmetic, the same in both script machines: times are
// milliseconds since 1970 UTC on the proleptic Gregorian calendar, local
// time is the C library's zone. Header-only: the ActionScript 3 machine's
// library uses it too.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>

namespace quarvel::player::rules {

inline constexpr double kMsPerDay = 86400000.0;

// A time's calendar fields; month counts from January = 0, day of the week
// from Sunday = 0. The defaults are 1970-01-01 00:00, a Thursday.
struct CivilTime {
  double year = 1970, month = 0, date = 1, hours = 0, minutes = 0, seconds = 0, ms = 0, day = 4;
};

// Days since 1970-01-01 of a civil date; months may run over (12 is
// January of the next year, -1 December of the one before).
inline double DaysFromCivil(double y, double m, double d) {
  y += std::floor(m / 12);
  m = m - 12 * std::floor(m / 12);  // 0..11
  const double yy = m < 2 ? y - 1 : y;
  const double era = std::floor(yy / 400);
  const double yoe = yy - era * 400;
  const double mp = m < 2 ? m + 10 : m - 2;  // from March
  const double doy = std::floor((153 * mp + 2) / 5);
  const double doe = yoe * 365 + std::floor(yoe / 4) - std::floor(yoe / 100) + doy;
  return era * 146097 + doe - 719468 + d - 1;
}

inline CivilTime SplitTime(double t) {
  CivilTime f;
  const double days = std::floor(t / kMsPerDay);
  double rest = t - days * kMsPerDay;
  f.hours = std::floor(rest / 3600000);
  rest -= f.hours * 3600000;
  f.minutes = std::floor(rest / 60000);
  rest -= f.minutes * 60000;
  f.seconds = std::floor(rest / 1000);
  f.ms = rest - f.seconds * 1000;
  f.day = days - 7 * std::floor((days + 4) / 7) + 4;
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

// The time of the fields (the day of the week is not read).
inline double ComposeTime(const CivilTime& f) {
  return DaysFromCivil(f.year, f.month, f.date) * kMsPerDay + f.hours * 3600000 + f.minutes * 60000 +
         f.seconds * 1000 + f.ms;
}

// The zone's offset from UTC at UTC time t, in milliseconds (east positive).
inline double ZoneOffset(double t) {
  if (!std::isfinite(t)) return 0;
  const auto secs = static_cast<std::time_t>(std::floor(std::clamp(t, -8.64e15, 8.64e15) / 1000));
  std::tm tm{};
  if (!localtime_r(&secs, &tm)) return 0;
  return static_cast<double>(tm.tm_gmtoff) * 1000;
}

inline double ToLocal(double t) { return t + ZoneOffset(t); }

// The UTC time of a local time; in the hour a clock skips or repeats, the
// first.
inline double FromLocal(double local) {
  const double first = local - ZoneOffset(local);
  const double second = local - ZoneOffset(first);
  return std::isfinite(second) ? second : first;
}

// Date.toString's pieces: "Wed Jan 15" of the fields, "12:30:00", the
// zone of an offset ("GMT-0500") and the year.
inline std::string DayText(const CivilTime& f) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s %s %d", kDays[static_cast<int>(f.day)], kMonths[static_cast<int>(f.month)],
                static_cast<int>(f.date));
  return buf;
}
inline std::string ClockText(const CivilTime& f) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(f.hours), static_cast<int>(f.minutes),
                static_cast<int>(f.seconds));
  return buf;
}
inline std::string ZoneText(double offsetMs) {
  const long minutes = std::lround(std::fabs(offsetMs) / 60000);
  char buf[32];
  std::snprintf(buf, sizeof buf, "GMT%c%02ld%02ld", offsetMs < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return buf;
}
inline std::string YearText(double year) { return std::to_string(static_cast<long long>(year)); }

// Date.toString: "Wed Jan 15 12:30:00 GMT-0500 2020", in local time;
// "Invalid Date" for NaN.
inline std::string DateText(double t) {
  if (std::isnan(t)) return "Invalid Date";
  const double offset = ZoneOffset(t);
  const CivilTime f = SplitTime(t + offset);
  return DayText(f) + " " + ClockText(f) + " " + ZoneText(offset) + " " + YearText(f.year);
}

// Date.parse and the Date constructor's text: whitespace-separated words in
// any order. A month name (its first three letters) may be given more than
// once, the last counts; weekday names are skipped; "h:m[:s]" is the time;
// "m/d/y" (the month a number or a name) the whole date; "GMT" or "UTC" with
// "+hhmm" or "-hhmm" the zone; a number up to 31 is the day until one is
// set, any other number the year (two digits are 19xx). A year, a month and
// a day are needed; a second time, zone, date or year, or any other word,
// makes the text no date: NaN.
inline double ParseDateText(std::string_view text) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                            "jul", "aug", "sep", "oct", "nov", "dec"};
  static constexpr const char* kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
  auto lower = [](std::string_view w) {
    std::string o(w);
    for (char& c : o) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return o;
  };
  auto monthOf = [&](std::string_view w) -> int {
    const std::string l = lower(w);
    if (l.size() < 3) return -1;
    for (int i = 0; i < 12; ++i)
      if (l.compare(0, 3, kMonths[i]) == 0) return i;
    return -1;
  };
  auto isDayName = [&](std::string_view w) {
    const std::string l = lower(w);
    if (l.size() < 3) return false;
    return std::any_of(std::begin(kDays), std::end(kDays), [&](const char* d) { return l.compare(0, 3, d) == 0; });
  };
  auto number = [](std::string_view w, double& out) {
    if (w.empty() || w.size() > 9) return false;
    double v = 0;
    for (char c : w) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    out = v;
    return true;
  };
  double year = kNaN, month = kNaN, day = kNaN, hours = 0, minutes = 0, seconds = 0, zone = kNaN;
  bool haveTime = false, pm = false, am = false;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ',')) ++i;
    std::size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && text[j] != ',') ++j;
    const std::string_view w = text.substr(i, j - i);
    i = j;
    if (w.empty()) continue;
    double n = 0;
    const std::string l = lower(w);
    if (l.compare(0, 3, "gmt") == 0 || l.compare(0, 3, "utc") == 0) {
      if (!std::isnan(zone)) return kNaN;
      std::string_view rest = w.substr(3);
      zone = 0;
      if (!rest.empty()) {
        const double sign = rest[0] == '-' ? -1 : rest[0] == '+' ? 1 : 0;
        double hhmm = 0;
        if (sign == 0 || !number(rest.substr(1), hhmm)) return kNaN;
        zone = sign * (std::floor(hhmm / 100) * 60 + std::fmod(hhmm, 100));
      }
    } else if (w.find(':') != std::string_view::npos) {
      if (haveTime) return kNaN;
      double f[3] = {0, 0, 0};
      std::size_t k = 0, from = 0;
      for (; k < 3; ++k) {
        const std::size_t c = w.find(':', from);
        if (!number(w.substr(from, c == std::string_view::npos ? w.npos : c - from), f[k])) return kNaN;
        if (c == std::string_view::npos) break;
        from = c + 1;
      }
      if (k < 1 || k > 2) return kNaN;
      hours = f[0];
      minutes = f[1];
      seconds = f[2];
      haveTime = true;
    } else if (w.find('/') != std::string_view::npos) {
      if (!std::isnan(year) || !std::isnan(day)) return kNaN;
      const std::size_t a = w.find('/'), b = w.find('/', a + 1);
      if (b == std::string_view::npos) return kNaN;
      double mo = 0;
      if (number(w.substr(0, a), mo)) month = mo - 1;
      else if ((mo = monthOf(w.substr(0, a))) >= 0) month = mo;
      else return kNaN;
      if (!number(w.substr(a + 1, b - a - 1), day) || !number(w.substr(b + 1), year)) return kNaN;
      if (year < 100) year += 1900;
    } else if (number(w, n)) {
      if (std::isnan(day) && n <= 31) {
        day = n;
      } else {
        if (!std::isnan(year)) return kNaN;
        year = n < 100 ? n + 1900 : n;
      }
    } else if (monthOf(w) >= 0) {
      month = monthOf(w);
    } else if (isDayName(w)) {
    } else if (l == "am" || l == "pm") {
      (l == "pm" ? pm : am) = true;
    } else {
      return kNaN;
    }
  }
  if (std::isnan(year) || std::isnan(month) || std::isnan(day)) return kNaN;
  if (pm && hours < 12) hours += 12;
  if (am && hours == 12) hours = 0;
  CivilTime f;
  f.year = year;
  f.month = month;
  f.date = day;
  f.hours = hours;
  f.minutes = minutes;
  f.seconds = seconds;
  const double t = ComposeTime(f);
  return std::isnan(zone) ? FromLocal(t) : t - zone * 60000.0;
}

}  // namespace quarvel::player::rules
