#include "os/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace sweeprun {
namespace {

Date utc(const char* text) {
  const std::optional<Date> date = parseStandardDateText(text);
  EXPECT_TRUE(date.has_value()) << text;
  return date.value_or(Date{});
}

TEST(DateTest, StandardDateTextRoundTrips) {
  const char* kTexts[] = {
      "2001-01-01 00:00:00 +0000",  // the reference date itself
      "2014-05-01 10:00:00 +0000",
      "2024-02-29 23:59:59 +0000",  // leap day
      "1970-01-01 00:00:00 +0000",  // before the reference date
      "1900-03-01 12:34:56 +0000", "2100-12-31 00:00:01 +0000",
  };
  for (const char* text : kTexts) {
    EXPECT_EQ(text, standardDateText(utc(text)));
  }
  EXPECT_EQ(0.0, utc("2001-01-01 00:00:00 +0000").seconds);
}

TEST(DateTest, FractionsOfASecondAreDroppedNotRounded) {
  const Date date = utc("2014-05-01 10:00:00 +0000");
  EXPECT_EQ("2014-05-01 10:00:00 +0000", standardDateText(Date{date.seconds + 0.999}));
  EXPECT_EQ("2000-12-31 23:59:59 +0000", standardDateText(Date{-0.25}));
}

TEST(DateTest, OffsetsAreApplied) {
  const Date tenUtc = utc("2014-05-01 10:00:00 +0000");
  EXPECT_EQ(tenUtc, utc("2014-05-01 12:00:00 +0200"));
  EXPECT_EQ(tenUtc, utc("2014-05-01 08:30:00 -0130"));
  EXPECT_EQ(tenUtc, utc("2014-04-30 23:00:00 -1100"));  // across midnight and month
}

TEST(DateTest, AnythingButTheStandardFormIsRejected) {
  const char* kTexts[] = {
      "",
      "2014-05-01 10:00:00",         // no offset
      "2014-05-01 10:00:00 +000",    // short offset
      "2014-05-01 10:00:00 0000",    // no sign
      "2014-05-01 10:00:00 +0000.",  // trailing text
      "2014-05-01 10:00:00 +0000 ",
      " 2014-05-01 10:00:00 +0000",
      "2014-5-01 10:00:00 +0000",
      "14-05-01 10:00:00 +0000",
      "2014-05-01T10:00:00 +0000",
      "2014-02-29 10:00:00 +0000",  // not a leap year
      "2014-13-01 10:00:00 +0000",
      "2014-05-00 10:00:00 +0000",
      "2014-05-01 24:00:00 +0000",
      "2014-05-01 10:60:00 +0000",
      "2014-05-01 10:00:60 +0000",
      "2014-05-01 10:00:00 +0060",
      "2014-05-01 1a:00:00 +0000",
  };
  for (const char* text : kTexts) {
    EXPECT_FALSE(parseStandardDateText(text).has_value()) << '"' << text << '"';
  }
}

TEST(DateTest, NonsenseDatesStillFormat) {
  EXPECT_FALSE(standardDateText(Date{1e300}).empty());
  EXPECT_FALSE(standardDateText(Date{-1e300}).empty());
  EXPECT_EQ("2001-01-01 00:00:00 +0000", standardDateText(Date{std::nan("")}));
  EXPECT_FALSE(dayStamp(Date{1e300}).empty());
}

// Sets TZ for the test and restores the previous value afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> previous_;
};

TEST(DateTest, DayStampFollowsTheLocalTimeZoneAcrossTheYearBoundary) {
  const struct {
    const char* zone;
    const char* moment;
    const char* expected;
  } kCases[] = {
      {"UTC0", "2026-12-31 23:30:00 +0000", "2026-365"},
      {"JST-9", "2026-12-31 23:30:00 +0000", "2027-001"},  // already New Year in Tokyo
      {"UTC0", "2027-01-01 03:00:00 +0000", "2027-001"},
      {"EST5", "2027-01-01 03:00:00 +0000", "2026-365"},  // still New Year's Eve in New York
      {"UTC0", "2024-12-31 12:00:00 +0000", "2024-366"},  // leap year
      {"JST-9", "2026-12-06 10:00:00 +0000", "2026-340"},
  };
  for (const auto& c : kCases) {
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(c.expected, dayStamp(utc(c.moment))) << c.zone << " " << c.moment;
  }
}

TEST(DateTest, NowIsTheSystemClockWithFractions) {
  const Date a = Date::now();
  EXPECT_GT(a.seconds, utc("2020-01-01 00:00:00 +0000").seconds);
  Date b = Date::now();
  for (int i = 0; i < 1000000 && b == a; ++i) b = Date::now();
  EXPECT_LT(b.seconds - a.seconds, 1.0);  // sub-second resolution
}

}  // namespace
}  // namespace sweeprun
