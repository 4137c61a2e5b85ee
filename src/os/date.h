#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sweeprun {

/// A moment in time: seconds since 1 January 2001 00:00:00 UTC, the reference
/// date of the stored formats. Conversion to and from the system clock lives
/// in date.cc only.
struct Date {
  double seconds = 0;

  /// Seconds between the Unix epoch and the reference date.
  static constexpr double kUnixOffset = 978307200.0;

  static Date fromUnix(double unixSeconds) { return Date{unixSeconds - kUnixOffset}; }
  double unix() const { return seconds + kUnixOffset; }

  /// The current moment from the system clock.
  static Date now();

  friend bool operator==(Date a, Date b) { return a.seconds == b.seconds; }
  friend bool operator!=(Date a, Date b) { return a.seconds != b.seconds; }
  friend bool operator<(Date a, Date b) { return a.seconds < b.seconds; }
  friend bool operator>(Date a, Date b) { return a.seconds > b.seconds; }
};

/// The standard date text of log lines: "2014-05-01 10:00:00 +0000", in UTC.
std::string standardDateText(Date date);
/// The same text written to |out|, for a caller that writes many; returns
/// its length (25 for the years 0 to 9999).
constexpr size_t kStandardDateTextRoom = 64;
size_t writeStandardDateText(Date date, char (&out)[kStandardDateTextRoom]);

/// Parses the standard date text back; any "+HHMM"/"-HHMM" offset is
/// accepted. None when the text is not of that form.
std::optional<Date> parseStandardDateText(std::string_view text);

/// Local-time conversions re-read the host time zone (TZ, /etc/localtime)
/// each time, so that a change shows at once; while a HeldTimeZone lives
/// they use the zone read when it was made. A run holds one: reading the
/// zone for every entry it removes costs a system call each.
class HeldTimeZone {
 public:
  HeldTimeZone();
  ~HeldTimeZone();
  HeldTimeZone(const HeldTimeZone&) = delete;
  HeldTimeZone& operator=(const HeldTimeZone&) = delete;
};

/// Reads the host time zone for the next local-time conversion, unless a
/// HeldTimeZone lives.
void readTimeZoneUnlessHeld();

/// The day stamp "%Y-%j" of a date in the local time zone (TZ honoured),
/// e.g. "2026-340" for 6 December 2026.
std::string dayStamp(Date date);

}  // namespace sweeprun
