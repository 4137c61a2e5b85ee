#include "os/date_style.h"

#include <gtest/gtest.h>

#include "support/fs_tree.h"

namespace sweeprun {
namespace {

const Date kDecember7Noon = Date::fromUnix(1796644800);  // 2026-12-07 12:00 UTC

TEST(DateStyleTest, MediumDatesFollowTheLocale) {
  ScopedEnv zone("TZ", "UTC");
  const struct {
    const char* locale;
    const char* expected;
  } kCases[] = {
      {"en_US", "Dec 7, 2026"},
      {"en_GB", "7 Dec 2026"},
      {"fr_FR", "7 d\u00e9c. 2026"},
      {"ja_JP", "2026/12/07"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(c.expected, mediumDateText(kDecember7Noon, c.locale));
  }
}

TEST(DateStyleTest, FolderNameTakesTheTimeLocaleFromTheEnvironmentWithoutSlashes) {
  ScopedEnv zone("TZ", "UTC");
  using Var = std::optional<std::string>;
  const struct {
    const char* label;
    Var all, time, lang;
    const char* expected;
  } kCases[] = {
      {"nothing set", {}, {}, {}, "Dec 7, 2026"},
      {"C", {}, {}, Var("C"), "Dec 7, 2026"},
      {"LANG with codeset", {}, {}, Var("ja_JP.UTF-8"), "2026-12-07"},
      {"LC_TIME over LANG", {}, Var("ja_JP.UTF-8"), Var("fr_FR.UTF-8"), "2026-12-07"},
      {"LC_ALL over both", Var("fr_FR.UTF-8@euro"), Var("ja_JP"), Var("en_US"), "7 d\u00e9c. 2026"},
      {"empty LC_ALL ignored", Var(""), Var("en_GB.UTF-8"), {}, "7 Dec 2026"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ScopedEnv all("LC_ALL", c.all), time("LC_TIME", c.time), lang("LANG", c.lang);
    EXPECT_EQ(c.expected, datedFolderName(kDecember7Noon));
  }
}

TEST(DateStyleTest, TheLocalTimeZoneDecidesTheDay) {
  ScopedEnv all("LC_ALL", "en_US.UTF-8");
  const Date evening = Date::fromUnix(1796673600);  // 2026-12-07 20:00 UTC
  {
    ScopedEnv zone("TZ", "Asia/Tokyo");
    EXPECT_EQ("Dec 8, 2026", datedFolderName(evening));
  }
  {
    ScopedEnv zone("TZ", "America/New_York");
    EXPECT_EQ("Dec 7, 2026", datedFolderName(evening));
  }
}

}  // namespace
}  // namespace sweeprun
