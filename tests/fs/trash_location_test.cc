#include "fs/trash_location.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

TEST(TrashLocationTest, DataHomeComesFromTheEnvironmentOnlyWhenAbsolute) {
  const struct {
    const char* label;
    const char* home;
    const char* xdgDataHome;
    std::optional<std::string> expected;
  } kCases[] = {
      {"unset", "/home/ann", nullptr, "/home/ann/.local/share/Trash/files"},
      {"set", "/home/ann", "/data/ann/", "/data/ann/Trash/files"},
      {"empty", "/home/ann", "", "/home/ann/.local/share/Trash/files"},
      {"relative, ignored", "/home/ann", "share", "/home/ann/.local/share/Trash/files"},
      {"no home, set", "", "/data", "/data/Trash/files"},
      {"no home, unset", "", nullptr, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.expected, userTrashPath(c.home, c.xdgDataHome));
  }
}

}  // namespace
}  // namespace sweeprun
