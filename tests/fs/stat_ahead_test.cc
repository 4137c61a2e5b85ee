#include "fs/stat_ahead.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fs/dir_handle.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// Gives the names it was handed, then ends with |error|.
class GivenListing : public FolderListing {
 public:
  GivenListing(std::vector<std::string> names, int error)
      : names_(std::move(names)), error_(error) {}
  bool next(std::string& name) override {
    if (given_ == names_.size()) return false;
    name = names_[given_++];
    return true;
  }
  int error() const override { return given_ == names_.size() ? error_ : 0; }

 private:
  std::vector<std::string> names_;
  size_t given_ = 0;
  int error_;
};

class StatAheadTest : public ::testing::Test {
 protected:
  DirHandle openRoot() const {
    DirHandle dir;
    std::string error;
    EXPECT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(tmp_.path(), dir, error)) << error;
    return dir;
  }

  TempDir tmp_;
};

// Alone or with a helper (then wrapping its window of slots several times,
// or ending on a batch's boundary, or at once), every entry comes in list
// order with what statEntry reads, a name with no entry reads as none, and
// the listing's failure at its end is handed on.
TEST_F(StatAheadTest, GivesEachListedEntryAsStatEntryReadsIt) {
  for (size_t count : {3 * StatAhead::kAhead + 7, 2 * StatAhead::kBatch, size_t{0}}) {
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
      names.push_back("e" + std::to_string(i));
      if (i != 100) writeText(tmp_.path() + "/" + names.back(), std::string(i % 5, 'x'));
    }
    const DirHandle dir = openRoot();
    for (StatAhead::Helper helper : {StatAhead::Helper::kNever, StatAhead::Helper::kAlways}) {
      SCOPED_TRACE(std::to_string(count) + (helper == StatAhead::Helper::kAlways ? " helped" : ""));
      GivenListing listing(names, EIO);
      StatAhead ahead(dir, listing, helper);
      EXPECT_EQ(helper == StatAhead::Helper::kAlways, ahead.hasHelper());
      std::string name;
      std::optional<EntryAttributes> taken;
      size_t given = 0;
      while (ahead.next(name, taken)) {
        ASSERT_LT(given, count);
        ASSERT_EQ(names[given++], name);
        const std::optional<EntryAttributes> read = dir.statEntry(name);
        ASSERT_EQ(read.has_value(), taken.has_value()) << name;
        if (read) {
          EXPECT_EQ(read->fileNumber, taken->fileNumber) << name;
          EXPECT_EQ(read->size, taken->size) << name;
        }
      }
      EXPECT_EQ(count, given);
      EXPECT_FALSE(ahead.next(name, taken));
      EXPECT_EQ(EIO, ahead.listingError());
    }
  }
}

// An entry with a second link changes when the caller removes the other
// link; read ahead before that removal, it is read again when taken after.
TEST_F(StatAheadTest, ReadsAgainAnEntryTheCallersRemovalChanged) {
  for (const char* name : {"a", "b", "c"}) writeText(tmp_.path() + "/" + name, "");
  ASSERT_EQ(0, link((tmp_.path() + "/c").c_str(), (tmp_.path() + "/linked").c_str()));
  const DirHandle dir = openRoot();
  GivenListing listing({"a", "linked", "b"}, 0);

  StatAhead ahead(dir, listing, StatAhead::Helper::kAlways);
  std::string name;
  std::optional<EntryAttributes> attributes;
  ASSERT_TRUE(ahead.next(name, attributes));  // the whole first batch is read by now
  ASSERT_EQ(0, unlink((tmp_.path() + "/c").c_str()));
  ahead.folderChanged();
  ASSERT_TRUE(ahead.next(name, attributes));
  ASSERT_EQ("linked", name);
  ASSERT_TRUE(attributes);
  EXPECT_EQ(1u, attributes->links);
}

}  // namespace
}  // namespace sweeprun
