#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "archive/keyed_archive.h"
#include "archive/keyed_archive_reader.h"
#include "fs/file_io.h"
#include "model/trash_application.h"
#include "model/trash_item.h"
#include "os/process.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// A database written by the code that held every tracked entry as a plain
// dictionary (see fixtures/databases/README.md): ordinary entries and
// entries as another program may write them, with unknown keys, known keys
// of other kinds and another key order.
const std::string kMixedFolders =
    std::string(SWEEPRUN_FIXTURES_DIR) + "/databases/mixed-folders.plist";

class DatabaseRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.homeDirectory = dir_.path();
    context_.err = &errors_;
  }
  TempDir dir_;
  std::ostringstream errors_;
  Process context_;
  ScopedProcess scope_{context_};
};

TEST_F(DatabaseRoundTripTest, AnEarlierDatabaseIsWrittenBackByteForByte) {
  std::string original, error;
  ASSERT_TRUE(readFile(kMixedFolders, original, error)) << error;
  TrashApplication application;
  application.unarchiveWithFile(kMixedFolders, context_, nullptr);
  ASSERT_EQ(3u, application.countOfTrashFolderList());
  const std::string copy = dir_.file("copy.plist");
  ASSERT_TRUE(application.archiveToFile(copy, error)) << error;
  // The same bytes: the earlier code reads what this code writes as it read
  // its own file.
  EXPECT_TRUE(original == dir_.read("copy.plist"));
  // Only the disabled folder is told of, as at every run.
  EXPECT_EQ("Unable to resolve alias to '/nonexistent-sweeprun/Downloads' (Error -43).\n",
            errors_.str());
}

TEST_F(DatabaseRoundTripTest, EveryEntryReadsAsItsStoredDictionary) {
  std::string original, error;
  ASSERT_TRUE(readFile(kMixedFolders, original, error)) << error;
  const Value graph = unarchivePlainGraph(original);
  const Value& stored = graph.arrayPtr()->at(0).dictionaryPtr()->get("fist");
  TrashApplication application;
  application.unarchiveWithFile(kMixedFolders, context_, nullptr);
  const ItemList& items = *application.objectInTrashFolderListAtIndex(0).items();
  ASSERT_EQ(stored.arrayPtr()->size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(stored.arrayPtr()->at(i).dictionaryPtr()->get("idat"),
              Value::dictionary(items[i].dictionary()));
  }

  // The typed fields read as the dictionary reads.
  EXPECT_EQ("R\xC3\xA9sum\xC3\xA9 \xE2\x98\x83.txt", items[2].name());
  EXPECT_EQ("/nonexistent-sweeprun/Inbox/", items[2].directory());
  EXPECT_EQ("bad\xFF\xFE.bin", items[4].name());
  EXPECT_EQ(4720u, items[10].fileNumber());
  EXPECT_EQ(10u, items[10].size());
  EXPECT_EQ(Date{810000000}, items[10].checkedIn());
  EXPECT_FALSE(items[10].modified());
  EXPECT_EQ(uint64_t{1} << 40, items[10].hits());
  EXPECT_FALSE(items[13].hasPath());
}

// Every dictionary of archives written by the platform itself reaches a
// visitor exactly as the value graph reads it.
TEST(DictionaryVisitorTest, ReadsEveryDictionaryOfGenuineArchivesAsTheGraphDoes) {
  class Collect : public DictionaryVisitor {
   public:
    void text(Key key, std::string_view text) override { got.set(key, Value::text(text)); }
    void unsignedNumber(Key key, uint64_t n) override { got.set(key, Value::unsignedInteger(n)); }
    void date(Key key, Date date) override { got.set(key, Value::date(date)); }
    void value(Key key, Value value) override { got.set(key, std::move(value)); }
    Dictionary got;
  };
  int dictionaries = 0;
  for (const char* name :
       {"uint64-key-dictionary.bin", "NSKeyedUnarchiver-ComplexTest.plist", "arrays.xml",
        "primitives.bin", "XCActivityRecord.bin", "NSMutableAttributedString.archive",
        "DateIntervalFormatter-Default.archive", "NSMeasurement-Angle.archive"}) {
    SCOPED_TRACE(name);
    std::string bytes, error;
    ASSERT_TRUE(
        readFile(std::string(SWEEPRUN_FIXTURES_DIR) + "/keyed-archives/" + name, bytes, error));
    for (uint64_t uid = 1;; ++uid) {
      KeyedArchiveReader graphReader(bytes);
      Value plain;
      try {
        plain = graphReader.plainValue(uid, false);
      } catch (const std::exception& e) {
        if (std::string(e.what()).find("out of range") != std::string::npos) break;
        continue;  // not a plain value
      }
      if (!plain.isDictionary()) continue;
      KeyedArchiveReader visitReader(bytes);
      Collect collect;
      ASSERT_TRUE(visitReader.visitDictionary(uid, collect));
      EXPECT_EQ(*plain.dictionaryPtr(), collect.got) << "object " << uid;
      ++dictionaries;
    }
  }
  EXPECT_LT(5, dictionaries);
}

}  // namespace
}  // namespace sweeprun
