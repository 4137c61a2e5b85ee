#include "fs/stat_ahead.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "fs/dir_handle.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

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

// Alone or with a helper (then wrapping its window of slots several times),
// every entry taken reads as statEntry reads it, skipped ones included, and
// one gone since the listing reads as none.
TEST_F(StatAheadTest, TakesWhatStatEntryReads) {
  const size_t count = 3 * StatAhead::kAhead + 7;
  for (size_t i = 0; i < count; ++i)
    writeText(tmp_.path() + "/e" + std::to_string(i), std::string(i % 5, 'x'));
  const DirHandle dir = openRoot();
  bool listed = false;
  const EntryNames names = dir.listNames(listed);
  ASSERT_TRUE(listed);
  const std::string gone(names[100]);
  ASSERT_EQ(0, unlink((tmp_.path() + "/" + gone).c_str()));

  for (StatAhead::Helper helper : {StatAhead::Helper::kNever, StatAhead::Helper::kAlways}) {
    StatAhead ahead(dir, names, helper);
    EXPECT_EQ(helper == StatAhead::Helper::kAlways, ahead.hasHelper());
    for (size_t i = 0; i < names.size(); i += (i % 97 == 0 ? 40 : 1)) {
      const std::string name(names[i]);
      const std::optional<EntryAttributes> taken = ahead.take(i);
      const std::optional<EntryAttributes> read = dir.statEntry(name);
      ASSERT_EQ(read.has_value(), taken.has_value()) << name;
      if (read) {
        EXPECT_EQ(read->fileNumber, taken->fileNumber) << name;
        EXPECT_EQ(read->size, taken->size) << name;
      }
    }
  }
}

// An entry with a second link changes when the caller removes the other
// link; read ahead before that removal, it is read again when taken after.
TEST_F(StatAheadTest, ReadsAgainAnEntryTheCallersRemovalChanged) {
  for (const char* name : {"a", "b", "c"}) writeText(tmp_.path() + "/" + name, "");
  ASSERT_EQ(0, link((tmp_.path() + "/c").c_str(), (tmp_.path() + "/linked").c_str()));
  const DirHandle dir = openRoot();
  EntryNames names;
  for (const char* name : {"a", "linked", "b"}) ASSERT_TRUE(names.add(name));

  StatAhead ahead(dir, names, StatAhead::Helper::kAlways);
  ASSERT_TRUE(ahead.take(0));  // the whole first batch is read by now
  ASSERT_EQ(0, unlink((tmp_.path() + "/c").c_str()));
  ahead.folderChanged();
  const std::optional<EntryAttributes> linked = ahead.take(1);
  ASSERT_TRUE(linked);
  EXPECT_EQ(1u, linked->links);
}

}  // namespace
}  // namespace sweeprun
