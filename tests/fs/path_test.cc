#include "fs/path.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

TEST(PathTest, StandardizePath) {
  const struct {
    const char* path;
    const char* expected;
  } kCases[] = {
      {"~", "/home/ann"},
      {"~/Library/Logs/Sweeply.log", "/home/ann/Library/Logs/Sweeply.log"},
      {"~/", "/home/ann"},
      {"~bob/Library", "~bob/Library"},  // another user's home is not expanded
      {"/var//log/./sweeply.log", "/var/log/sweeply.log"},
      {"/var/log/", "/var/log"},
      {"/a/b/../c", "/a/c"},
      {"/a/b/../../..", "/"},  // ".." stops at the root
      {"/../etc", "/etc"},
      {"/", "/"},
      {"//", "/"},
      {"a/./b/", "a/b"},
      {"a/../b", "a/../b"},  // relative: ".." is kept
      {"./a", "a"},
      {".", "."},
      {"", ""},
      {"/a/~", "/a/~"},  // "~" only counts at the start
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, standardizePath(c.path, "/home/ann")) << '"' << c.path << '"';
  }
  EXPECT_EQ("/home/ann/x", standardizePath("~/x", "/home/ann/"));
  EXPECT_EQ("~/x", standardizePath("~/x", ""));  // no home known: left alone
}

TEST(PathTest, ComponentsAndJoining) {
  const struct {
    const char* path;
    const char* last;
    const char* parent;
  } kCases[] = {
      {"/Users/ann/Downloads", "Downloads", "/Users/ann"},
      {"/Users/ann/Downloads/", "Downloads", "/Users/ann"},
      {"/file", "file", "/"},
      {"/", "/", "/"},
      {"name", "name", ""},
      {"a//b", "b", "a"},
      {"", "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.last, lastPathComponent(c.path)) << '"' << c.path << '"';
    EXPECT_EQ(c.parent, deletingLastPathComponent(c.path)) << '"' << c.path << '"';
  }
  EXPECT_EQ("/a/b", joinPath("/a", "b"));
  EXPECT_EQ("/a/b", joinPath("/a/", "/b"));
  EXPECT_EQ("/b", joinPath("/", "b"));
  EXPECT_EQ("b", joinPath("", "b"));
  EXPECT_EQ("/a", joinPath("/a", ""));
}

}  // namespace
}  // namespace sweeprun
