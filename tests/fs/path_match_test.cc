#include "fs/path_match.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// A tree with hidden names, bracketed names, files beside folders and links
// that lead back up, so that a walk through links would never end.
class PathMatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"a", "a/sub", "a/[b]", "b", "b/sub", ".dot", "order"})
      makeFolder(path(folder));
    for (const char* file :
         {"a/x.txt", "a/.hidden", "c", "order/b", "order/B", "order/a10", "order/a2"})
      writeText(path(file), "");
    makeLink(path("a"), path("link"));
    makeLink(tmp_.path(), path("b/loop"));
  }

  std::string path(const std::string& relative) const { return tmp_.path() + "/" + relative; }

  // The expansion of |pattern| below the tree, with the tree's own path cut.
  std::vector<std::string> expand(const std::string& pattern) const {
    const PatternExpansion expansion = expandPathPattern(path(pattern));
    EXPECT_FALSE(expansion.tooManyEntries);
    std::vector<std::string> relative;
    for (const std::string& found : expansion.paths) {
      EXPECT_EQ(0u, found.rfind(tmp_.path() + "/", 0)) << found;
      relative.push_back(found.substr(tmp_.path().size() + 1));
    }
    return relative;
  }

  TempDir tmp_;
};

using Paths = std::vector<std::string>;

TEST_F(PathMatchTest, ExpandsAsGlobDoesWithoutGoingThroughLinks) {
  const struct {
    const char* pattern;
    Paths expected;
  } kCases[] = {
      {"*", {"a", "b", "c", "link", "order"}},  // a link is a name like any other
      {".*", {".dot"}},                         // never "." or ".."
      {"a/*", {"a/[b]", "a/sub", "a/x.txt"}},
      {"a/.h*", {"a/.hidden"}},
      {"a/?.txt", {"a/x.txt"}},
      {"a/[xy].txt", {"a/x.txt"}},
      {"a/[!x]*", {"a/[b]", "a/sub"}},
      {"a/[b]", {}},  // a bracket matches one character: there is no "a/b"
      {"a/\\[b\\]", {"a/[b]"}},
      {"a/x.txt", {"a/x.txt"}},
      {"a//x.txt", {"a/x.txt"}},
      {"a/nothing", {}},
      {"nothing/*", {}},
      {"c/*", {}},
      {"*/", {"a/", "b/", "order/"}},  // folders only, and no link
      {"*/sub", {"a/sub", "b/sub"}},   // not "link/sub": a matched link is not entered
      {"b/*/a", {}},                   // nor is a link that leads back up
      {"*/sub/..", {"a/sub/..", "b/sub/.."}},
      {"link/sub", {"link/sub"}},  // the literal part follows our own link
      {"link/*", {"link/[b]", "link/sub", "link/x.txt"}},
      {"order/*", {"order/B", "order/a10", "order/a2", "order/b"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(c.expected, expand(c.pattern));
  }
}

TEST_F(PathMatchTest, RootAndRelativePatterns) {
  EXPECT_EQ(Paths{"/"}, expandPathPattern("/").paths);
  EXPECT_EQ(Paths{"/"}, expandPathPattern("//").paths);
  EXPECT_TRUE(expandPathPattern("").paths.empty());
  EXPECT_TRUE(expandPathPattern(path("a") + std::string(1, '\0') + "/*").paths.empty());

  const std::string previous = std::filesystem::current_path();
  ASSERT_EQ(0, chdir(path("a").c_str()));
  const PatternExpansion relative = expandPathPattern("s*");
  ASSERT_EQ(0, chdir(previous.c_str()));
  EXPECT_EQ(Paths{"sub"}, relative.paths);
}

TEST_F(PathMatchTest, StopsAtTheBoundOfEntriesLookedAt) {
  // "*/*" lists the tree's six names, then the entries of the folders
  // "a", "b" and "order" among them: 6 + 4 + 2 + 4 = 16.
  const struct {
    size_t bound;
    bool tooMany;
  } kCases[] = {{15, true}, {16, false}, {5, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bound);
    const PatternExpansion expansion = expandPathPattern(path("*/*"), c.bound);
    EXPECT_EQ(c.tooMany, expansion.tooManyEntries);
    EXPECT_EQ(c.tooMany, expansion.paths.empty());
  }
}

TEST_F(PathMatchTest, LiteralPartFollowsOnlyLinksOfRootOrOurselves) {
  if (!runningAsRoot()) GTEST_SKIP() << "giving a link to another user needs root";
  makeLink(path("a"), path("planted"));
  ASSERT_EQ(0, lchown(path("planted").c_str(), 1, 1));
  EXPECT_EQ(Paths{}, expand("planted/sub"));
  EXPECT_EQ(Paths{}, expand("planted/*"));
  EXPECT_EQ(Paths{"planted"}, expand("pl*"));  // as a name it is still found
}

}  // namespace
}  // namespace sweeprun
