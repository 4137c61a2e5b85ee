#include "os/localization.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

TEST(LocalizationTest, FormatMessageFillsPlaceholdersWithArgumentsAsTheyAre) {
  EXPECT_EQ("Error: disk full", formatMessage("Error: %@", {"disk full"}));
  EXPECT_EQ("/etc/sweeprun.plist: OK\n", formatMessage("%s: OK\n", {"/etc/sweeprun.plist"}));
  EXPECT_EQ("3 of 7", formatMessage("%d of %d", {"3", "7"}));
  EXPECT_EQ("100% done", formatMessage("100%% done", {}));
  // User text is never read as a format.
  EXPECT_EQ("50%s %@ %d %n", formatMessage("%@", {"50%s %@ %d %n"}));
  // A missing argument reads as empty; other sequences stay as written.
  EXPECT_EQ("one and ", formatMessage("%@ and %@", {"one"}));
  EXPECT_EQ("%x %5d trailing %", formatMessage("%x %5d trailing %", {"a"}));
}

TEST(LocalizationTest, WithoutACatalogueTheEnglishTextIsUsed) {
  EXPECT_EQ("Error: x", localized("Error: %@", {"x"}));
  EXPECT_EQ("", localizedString(""));
  EXPECT_EQ(std::string("a\0b", 3), localizedString(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace sweeprun
