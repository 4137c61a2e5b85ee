#include "os/date.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sweeprun {

namespace {

// Far beyond any date a file system reports, yet small enough that day and
// year arithmetic stays exact in 64 bits.
constexpr double kLargestSeconds = 1e15;

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

struct Civil {
  int64_t year;
  unsigned month;
  unsigned day;
};

Civil civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

bool isLeapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned daysInMonth(int64_t year, unsigned month) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Whole Unix seconds of a date, clamped so that nonsense (NaN, huge values
// from a corrupted record) still formats instead of overflowing.
int64_t wholeUnixSeconds(Date date) {
  double unixSeconds = date.unix();
  if (std::isnan(unixSeconds)) unixSeconds = Date::kUnixOffset;
  if (unixSeconds > kLargestSeconds) unixSeconds = kLargestSeconds;
  if (unixSeconds < -kLargestSeconds) unixSeconds = -kLargestSeconds;
  return static_cast<int64_t>(std::floor(unixSeconds));
}

// Reads exactly |count| decimal digits at |pos|.
bool readDigits(std::string_view text, size_t& pos, size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

Date Date::now() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return fromUnix(std::chrono::duration<double>(sinceEpoch).count());
}

size_t writeStandardDateText(Date date, char (&out)[kStandardDateTextRoom]) {
  const int64_t seconds = wholeUnixSeconds(date);
  int64_t days = seconds / 86400;
  int64_t secondOfDay = seconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  const Civil civil = civilFromDays(days);
  if (civil.year >= 0 && civil.year <= 9999) {
    // Written digit by digit: a run writes this text for every entry it
    // removes, and the formatted print costs more than the rest of the line.
    static constexpr char kPattern[] = "0000-00-00 00:00:00 +0000";
    std::memcpy(out, kPattern, sizeof kPattern);
    auto put = [&out](size_t at, unsigned value, size_t width) {
      for (size_t i = width; i-- > 0; value /= 10) out[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<unsigned>(civil.year), 4);
    put(5, civil.month, 2);
    put(8, civil.day, 2);
    put(11, static_cast<unsigned>(secondOfDay / 3600), 2);
    put(14, static_cast<unsigned>(secondOfDay / 60 % 60), 2);
    put(17, static_cast<unsigned>(secondOfDay % 60), 2);
    return sizeof kPattern - 1;
  }
  const int length = std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02d:%02d:%02d +0000",
                                   static_cast<long long>(civil.year), civil.month, civil.day,
                                   static_cast<int>(secondOfDay / 3600),
                                   static_cast<int>(secondOfDay / 60 % 60),
                                   static_cast<int>(secondOfDay % 60));
  return std::min(static_cast<size_t>(length), sizeof out - 1);
}

std::string standardDateText(Date date) {
  char text[kStandardDateTextRoom];
  return std::string(text, writeStandardDateText(date, text));
}

std::optional<Date> parseStandardDateText(std::string_view text) {
  size_t pos = 0;
  int year, month, day, hour, minute, second, offsetHours, offsetMinutes;
  if (!readDigits(text, pos, 4, year) || !expect(text, pos, '-') ||
      !readDigits(text, pos, 2, month) || !expect(text, pos, '-') ||
      !readDigits(text, pos, 2, day) || !expect(text, pos, ' ') ||
      !readDigits(text, pos, 2, hour) || !expect(text, pos, ':') ||
      !readDigits(text, pos, 2, minute) || !expect(text, pos, ':') ||
      !readDigits(text, pos, 2, second) || !expect(text, pos, ' ')) {
    return std::nullopt;
  }
  if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return std::nullopt;
  const int sign = text[pos++] == '-' ? -1 : 1;
  if (!readDigits(text, pos, 2, offsetHours) || !readDigits(text, pos, 2, offsetMinutes) ||
      pos != text.size()) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 ||
      static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month)) || hour > 23 ||
      minute > 59 || second > 59 || offsetHours > 23 || offsetMinutes > 59) {
    return std::nullopt;
  }
  const int64_t days =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const int64_t offset = sign * (offsetHours * 3600 + offsetMinutes * 60);
  const int64_t unixSeconds = days * 86400 + hour * 3600 + minute * 60 + second - offset;
  return Date::fromUnix(static_cast<double>(unixSeconds));
}

namespace {
int timeZoneHolds = 0;
}  // namespace

HeldTimeZone::HeldTimeZone() {
  if (timeZoneHolds++ == 0) tzset();
}

HeldTimeZone::~HeldTimeZone() { --timeZoneHolds; }

void readTimeZoneUnlessHeld() {
  if (timeZoneHolds == 0) tzset();
}

std::string dayStamp(Date date) {
  const std::time_t seconds = static_cast<std::time_t>(wholeUnixSeconds(date));
  std::tm local{};
  char text[32];
  if (!localtime_r(&seconds, &local) || std::strftime(text, sizeof text, "%Y-%j", &local) == 0) {
    return std::string();
  }
  return text;
}

}  // namespace sweeprun
