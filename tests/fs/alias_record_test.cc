#include "fs/alias_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

class AliasRecordTest : public ::testing::Test {
 protected:
  std::string mkdirs(std::initializer_list<const char*> relatives) {
    std::string last;
    for (const char* relative : relatives) {
      last = base_.file(relative);
      EXPECT_EQ(0, mkdir(last.c_str(), 0755)) << last;
    }
    return last;
  }
  void move(const char* from, const char* to) {
    ASSERT_EQ(0, std::rename(base_.file(from).c_str(), base_.file(to).c_str()));
  }
  AliasResolution resolve(const std::string& alias, const std::string& storedPath = "") {
    return resolveAliasRecord(alias, base_.path(), storedPath);
  }

  TempDir base_;
};

TEST_F(AliasRecordTest, FolderStillInPlaceResolvesUnchanged) {
  const std::string inbox = mkdirs({"Inbox"});
  const auto alias = makeAliasRecord(inbox, base_.path());
  ASSERT_TRUE(alias);
  const AliasResolution r = resolve(*alias);
  EXPECT_EQ(0, r.resultCode);
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(inbox, r.path);
  EXPECT_FALSE(makeAliasRecord(base_.file("missing"), base_.path()));
}

TEST_F(AliasRecordTest, MovedOrRenamedFolderIsFoundNearby) {
  const struct {
    const char* label;
    std::initializer_list<const char*> made;
    const char* target;
    const char* from;
    const char* to;
    const char* found;
  } kCases[] = {
      {"renamed in place", {"A", "A/Inbox"}, "A/Inbox", "A/Inbox", "A/Old Inbox", "A/Old Inbox"},
      {"moved into a sibling",
       {"Data", "Data/Inbox", "Data/Archive"},
       "Data/Inbox",
       "Data/Inbox",
       "Data/Archive/Inbox",
       "Data/Archive/Inbox"},
      {"parent renamed", {"P", "P/Q", "P/Q/Inbox"}, "P/Q/Inbox", "P/Q", "P/R", "P/R/Inbox"},
      {"moved up to the base",
       {"X", "X/Y", "X/Y/Z", "X/Y/Z/Inbox"},
       "X/Y/Z/Inbox",
       "X/Y/Z/Inbox",
       "Inbox",
       "Inbox"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    mkdirs(c.made);
    const auto alias = makeAliasRecord(base_.file(c.target), base_.path());
    ASSERT_TRUE(alias);
    move(c.from, c.to);
    const AliasResolution r = resolve(*alias);
    EXPECT_EQ(0, r.resultCode);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(base_.file(c.found), r.path);
  }
}

TEST_F(AliasRecordTest, BaseMovedWithTheFolderResolvesThroughTheRelativePath) {
  TempDir other;
  const std::string inbox = mkdirs({"Home", "Home/Inbox"});
  const auto alias = makeAliasRecord(inbox, base_.file("Home"));
  ASSERT_TRUE(alias);
  const std::string newHome = other.file("Home");
  ASSERT_EQ(0, std::rename(base_.file("Home").c_str(), newHome.c_str()));
  const AliasResolution r = resolveAliasRecord(*alias, newHome, "");
  EXPECT_EQ(0, r.resultCode);
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(newHome + "/Inbox", r.path);
}

TEST_F(AliasRecordTest, SearchNeverFollowsALink) {
  TempDir elsewhere;  // beside the base, out of the search's reach
  const std::string inbox = mkdirs({"A", "A/B", "A/B/Inbox"});
  const auto alias = makeAliasRecord(inbox, base_.path());
  ASSERT_TRUE(alias);
  ASSERT_EQ(0, std::rename(inbox.c_str(), elsewhere.file("Inbox").c_str()));
  // Reachable only through links: one beside the old place, one where it was.
  ASSERT_EQ(0, symlink(elsewhere.path().c_str(), base_.file("A/B/Shortcut").c_str()));
  ASSERT_EQ(0, symlink(elsewhere.file("Inbox").c_str(), inbox.c_str()));
  ASSERT_EQ(0, symlink(".", base_.file("A/Loop").c_str()));

  const AliasResolution r = resolve(*alias, inbox);
  EXPECT_EQ(kFileNotFound, r.resultCode);
}

TEST_F(AliasRecordTest, FolderReplacedAtTheSamePathIsAcceptedAndGoneIsNotFound) {
  const std::string inbox = mkdirs({"Inbox"});
  const auto alias = makeAliasRecord(inbox, base_.path());
  ASSERT_TRUE(alias);
  ASSERT_EQ(0, rmdir(inbox.c_str()));
  EXPECT_EQ(kFileNotFound, resolve(*alias).resultCode);

  mkdirs({"Inbox"});
  const AliasResolution r = resolve(*alias);
  EXPECT_EQ(0, r.resultCode);
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(inbox, r.path);
}

TEST_F(AliasRecordTest, ANewFolderGivenTheFreedInodeIsNotTakenForTheOldOne) {
  const std::string inbox = mkdirs({"Inbox"});
  struct stat old;
  ASSERT_EQ(0, stat(inbox.c_str(), &old));
  const auto alias = makeAliasRecord(inbox, base_.path());
  ASSERT_TRUE(alias);
  ASSERT_EQ(0, rmdir(inbox.c_str()));

  // File systems hand freed inode numbers out again; try to get it back.
  std::string reused;
  for (int i = 0; i < 200 && reused.empty(); ++i) {
    const std::string candidate = base_.file(("Other" + std::to_string(i)).c_str());
    ASSERT_EQ(0, mkdir(candidate.c_str(), 0755));
    struct stat now;
    ASSERT_EQ(0, stat(candidate.c_str(), &now));
    if (now.st_ino == old.st_ino) reused = candidate;
  }
  if (reused.empty()) GTEST_SKIP() << "the file system did not reuse the inode";
  EXPECT_EQ(kFileNotFound, resolve(*alias).resultCode);
}

TEST_F(AliasRecordTest, EmptyForeignAndDamagedBytes) {
  const std::string inbox = mkdirs({"Inbox"});
  std::string damaged = *makeAliasRecord(inbox, base_.path());
  damaged.resize(damaged.size() - 3);
  const struct {
    const char* label;
    std::string bytes;
    std::string storedPath;
    int16_t code;
  } kCases[] = {
      {"no bytes, folder there", "", inbox, kFileNotFound},
      {"foreign, folder there", "book\x01\x02", inbox, 0},
      {"foreign, nothing there", "book\x01\x02", base_.file("missing"), kFileNotFound},
      {"foreign, no stored path", "book\x01\x02", "", kFileNotFound},
      {"damaged, folder there", damaged, inbox, 0},
      {"magic only", "SWAL", base_.file("missing"), kFileNotFound},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const AliasResolution r = resolve(c.bytes, c.storedPath);
    EXPECT_EQ(c.code, r.resultCode);
    EXPECT_FALSE(r.changed);
    if (c.code == 0) {
      EXPECT_EQ(c.storedPath, r.path);
    }
  }
}

}  // namespace
}  // namespace sweeprun
