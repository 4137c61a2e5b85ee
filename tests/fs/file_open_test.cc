// Files opened by path (read, replaced, opened for update) follow a symbolic
// link, on the way or at the end, only when root or the effective user owns
// it: a link another user planted never leads the work elsewhere.
#include "fs/file_open.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fs/file_io.h"
#include "fs/mapped_file.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 1;

size_t entriesIn(const std::string& directory) {
  size_t count = 0;
  for (auto it = fs::directory_iterator(directory); it != fs::directory_iterator(); ++it) ++count;
  return count;
}

// What each operation reports: whether it succeeded.
const struct {
  const char* name;
  std::function<bool(const std::string& path)> run;
} kOperations[] = {
    {"readFile",
     [](const std::string& path) {
       std::string bytes, error;
       return readFile(path, bytes, error);
     }},
    {"MappedFile::open",
     [](const std::string& path) {
       std::string error;
       MappedFile file;
       return file.open(path, error);
     }},
    {"writeFileAtomically",
     [](const std::string& path) {
       std::string error;
       return writeFileAtomically(path, "replaced", error);
     }},
    {"FileHandle::openForUpdate",
     [](const std::string& path) {
       std::string error;
       FileHandle handle = FileHandle::openForUpdate(path, error);
       return handle.isOpen() && handle.write("appended");
     }},
};

// A layout with a victim folder holding "secret.data" and a spool folder
// that a link reaches or lies in.
class PlantedLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(temp.file("victim"));
    fs::create_directories(temp.file("spool"));
    temp.write("victim/secret.data", "secret");
  }
  /// A link at |name| to |target|, owned by |owner|.
  void plant(const std::string& name, const std::string& target, uid_t owner) {
    fs::create_symlink(temp.file(target), temp.file(name));
    ASSERT_EQ(0, lchown(temp.file(name).c_str(), owner, owner));
  }
  void expectVictimUntouched(const char* operation) {
    EXPECT_EQ("secret", temp.read("victim/secret.data")) << operation;
    EXPECT_EQ(1u, entriesIn(temp.file("victim"))) << operation;
  }
  TempDir temp;
};

TEST_F(PlantedLinkTest, AnotherUsersLinkOnTheWayIsNeverFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
  plant("spool/db", "victim", kOtherUser);
  for (const auto& operation : kOperations) {
    EXPECT_FALSE(operation.run(temp.file("spool/db/secret.data"))) << operation.name;
    EXPECT_FALSE(operation.run(temp.file("spool/db/new.data"))) << operation.name;
    expectVictimUntouched(operation.name);
  }
}

TEST_F(PlantedLinkTest, AnotherUsersFinalLinkIsNeitherReadNorWrittenThrough) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
  const struct {
    const char* name;
    bool succeeds;  // replacing the link itself is fine
  } kExpected[] = {
      {"readFile", false},
      {"MappedFile::open", false},
      {"writeFileAtomically", true},
      {"FileHandle::openForUpdate", false},
  };
  for (size_t i = 0; i < std::size(kOperations); ++i) {
    fs::remove(temp.file("spool/run.data"));
    plant("spool/run.data", "victim/secret.data", kOtherUser);
    ASSERT_EQ(kExpected[i].name, std::string(kOperations[i].name));
    EXPECT_EQ(kExpected[i].succeeds, kOperations[i].run(temp.file("spool/run.data")))
        << kOperations[i].name;
    expectVictimUntouched(kOperations[i].name);
    if (kExpected[i].succeeds) {
      EXPECT_EQ("replaced", temp.read("spool/run.data"));
    }
  }
}

TEST_F(PlantedLinkTest, OurOwnLinksAreFollowed) {
  plant("spool/db", "victim", geteuid());
  plant("spool/last.data", "victim/secret.data", geteuid());
  std::string bytes, error;
  ASSERT_TRUE(readFile(temp.file("spool/db/secret.data"), bytes, error)) << error;
  ASSERT_TRUE(readFile(temp.file("spool/last.data"), bytes, error)) << error;
  EXPECT_EQ("secret", bytes);
  MappedFile mapped;
  ASSERT_TRUE(mapped.open(temp.file("spool/last.data"), error)) << error;
  EXPECT_EQ("secret", std::string(mapped.bytes()));

  ASSERT_TRUE(writeFileAtomically(temp.file("spool/db/new.data"), "new", error)) << error;
  EXPECT_EQ("new", temp.read("victim/new.data"));
  FileHandle log = FileHandle::openForUpdate(temp.file("spool/db/run.log"), error);
  EXPECT_TRUE(log.isOpen()) << error;
}

}  // namespace
}  // namespace sweeprun
