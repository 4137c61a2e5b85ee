#include "fs/database_lock.h"

#include <gtest/gtest.h>

#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

using namespace std::chrono_literals;

TEST(DatabaseLockTest, OneHolderAtATimeAndAStaleLockFileBlocksNothing) {
  TempDir tmp;
  const std::string database = tmp.file("Sweeply.data");
  writeText(database + ".lock", "left by a killed program");
  std::string error;
  DatabaseLock first;
  ASSERT_EQ(DatabaseLock::Status::kLocked, DatabaseLock::acquire(database, 0ms, first, error))
      << error;

  DatabaseLock second;
  EXPECT_EQ(DatabaseLock::Status::kBusy, DatabaseLock::acquire(database, 50ms, second, error));
  EXPECT_FALSE(second.held());

  first = DatabaseLock();  // released
  EXPECT_EQ(DatabaseLock::Status::kLocked, DatabaseLock::acquire(database, 0ms, second, error))
      << error;
}

TEST(DatabaseLockTest, ALockFileThatIsNotAFileIsRefused) {
  TempDir tmp;
  makeFolder(tmp.file("db.lock"));
  makeLink(tmp.file("elsewhere"), tmp.file("linked.lock"));
  for (const char* database : {"db", "linked"}) {
    SCOPED_TRACE(database);
    DatabaseLock lock;
    std::string error;
    EXPECT_EQ(DatabaseLock::Status::kFailed,
              DatabaseLock::acquire(tmp.file(database), 0ms, lock, error));
    EXPECT_FALSE(entryExists(tmp.file("elsewhere")));
  }
}

}  // namespace
}  // namespace sweeprun
