#include "log/log_trimming.h"

#include <gtest/gtest.h>

#include <string>

namespace sweeprun {
namespace {

constexpr double kDay = 86400;

std::string section(Date start) {
  return std::string(kSectionMarker) + standardDateText(start) + ".\nChecking ~/Downloads\n\n";
}

// The finder fed in pieces of every size agrees with the whole text, and
// stops reading as soon as it knows.
TEST(LogTrimmingTest, PiecesOfAnySizeFindWhatTheWholeTextFinds) {
  const Date now = *parseStandardDateText("2026-12-07 10:00:00 +0000");
  const Date old{now.seconds - 5 * kDay};
  const Date recent{now.seconds - kDay};
  const std::string texts[] = {
      section(old) + section(old) + section(recent) + section(now),
      "stray\n" + section(old) + section(recent),
      section(recent) + section(old),
      section(old) + "Sweeply started at " + std::string(200, '9') + ".\n" + section(recent),
      section(old) + section(old),
      section(old) + std::string(kSectionMarker) + standardDateText(recent) + ".",
  };
  for (const std::string& text : texts) {
    const size_t whole = keptTextStart(text, now, 2);
    for (size_t size = 1; size <= text.size(); ++size) {
      SCOPED_TRACE(text + " in pieces of " + std::to_string(size));
      KeptTextFinder finder(now, 2);
      size_t fed = 0;
      for (; fed < text.size() && !finder.decided(); fed += size) {
        finder.feed(std::string_view(text).substr(fed, size));
      }
      finder.finish();
      EXPECT_EQ(whole, finder.keptStart());
      if (whole > 0) {
        EXPECT_LT(fed, whole + section(now).size() + size);
      }
    }
  }
}

TEST(LogTrimmingTest, Utf8CheckedInPiecesAsAWhole) {
  const std::string texts[] = {"plain",
                               "d\xc3\xa9j\xc3\xa0 \xe2\x82\xac \xf0\x9f\x98\x80 fin",
                               "\xff\xfe",
                               "cut \xe2\x82",
                               "\xc3\x28",
                               "\xed\xa0\x80 surrogate",
                               "\x80 lone continuation"};
  for (const std::string& text : texts) {
    for (size_t size = 1; size <= text.size(); ++size) {
      SCOPED_TRACE(text + " in pieces of " + std::to_string(size));
      Utf8Checker checker;
      for (size_t at = 0; at < text.size(); at += size) {
        checker.feed(std::string_view(text).substr(at, size));
      }
      EXPECT_EQ(isValidUtf8(text), checker.valid());
    }
  }
}

}  // namespace
}  // namespace sweeprun
