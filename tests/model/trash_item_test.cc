#include "model/trash_item.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/fake_coder.h"
#include "os/process.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

TrashItem itemWith(const Dictionary& data) { return TrashItem::withDictionary(data); }

TEST(TrashItemTest, EqualityNeedsTheSameFileNumberAndExactlyTheSamePath) {
  const Value path = Value::text("/a/Report.pdf");
  const struct {
    const char* label;
    Dictionary mine;
    Dictionary theirs;
    bool equal;
  } kCases[] = {
      {"same number and path",
       {{"fnum", Value::unsignedInteger(12)}, {"path", path}},
       {{"fnum", Value::unsignedInteger(12)}, {"path", path}},
       true},
      {"numbers 12 and 13",
       {{"fnum", Value::unsignedInteger(12)}, {"path", path}},
       {{"fnum", Value::unsignedInteger(13)}, {"path", path}},
       false},
      {"paths differ in case",
       {{"fnum", Value::unsignedInteger(12)}, {"path", path}},
       {{"fnum", Value::unsignedInteger(12)}, {"path", Value::text("/a/report.pdf")}},
       false},
      {"signed and unsigned number",
       {{"fnum", Value::integer(12)}, {"path", path}},
       {{"fnum", Value::unsignedInteger(12)}, {"path", path}},
       true},
      {"missing number reads as 0",
       {{"path", path}},
       {{"fnum", Value::unsignedInteger(0)}, {"path", path}},
       true},
      {"receiver without path",
       {{"fnum", Value::unsignedInteger(12)}},
       {{"fnum", Value::unsignedInteger(12)}},
       false},
      {"other without path",
       {{"fnum", Value::unsignedInteger(12)}, {"path", Value::text("")}},
       {{"fnum", Value::unsignedInteger(12)}},
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.equal, itemWith(c.mine).isEqualToTrashItem(itemWith(c.theirs)));
  }
}

TEST(TrashItemTest, HitsCountUpAsUnsignedFromWhateverWasStored) {
  TrashItem decoded = itemWith({{"path", Value::text("/a/x")}});
  decoded.incrHits();
  EXPECT_EQ(Value::unsignedInteger(1), decoded.value("data.hits"));

  TrashItem fresh = TrashItem::withAttributes("/a/x", nullptr, Date{0});
  for (int i = 0; i < 3; ++i) fresh.incrHits();
  EXPECT_EQ(Value::unsignedInteger(3), fresh.value("hits"));

  TrashItem copy = fresh;
  copy.incrHits();
  EXPECT_EQ(3u, fresh.value("hits").asUnsigned());
}

class TrashItemOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.homeDirectory = dir_.path();
    context_.clock = [] { return Date{700000000}; };
  }
  TempDir dir_;
  Process context_;
  ScopedProcess scope_{context_};
};

TEST_F(TrashItemOnDiskTest, VanishedEntryGetsZerosAndStillChecksIn) {
  TrashItem item =
      TrashItem::trashItemWithPath("~/gone//./file.txt", context_.homeDirectory, context_.clock());
  const Dictionary expected{{"path", Value::text(dir_.path() + "/gone/file.txt")},
                            {"fnum", Value::unsignedInteger(0)},
                            {"size", Value::unsignedInteger(0)},
                            {"idat", Value::date(Date{700000000})},
                            {"hits", Value::unsignedInteger(0)}};
  EXPECT_EQ(expected, item.dictionary());
}

TEST_F(TrashItemOnDiskTest, LinkIsDescribedAsItselfAndRoundTrips) {
  dir_.write("target.bin", std::string(5000, 'x'));
  ASSERT_EQ(0, symlink("target.bin", dir_.file("link").c_str()));
  struct stat link;
  ASSERT_EQ(0, lstat(dir_.file("link").c_str(), &link));

  TrashItem item =
      TrashItem::trashItemWithPath(dir_.file("link"), context_.homeDirectory, context_.clock());
  EXPECT_EQ(static_cast<uint64_t>(link.st_ino), item.value("fnum").asUnsigned());
  EXPECT_EQ(static_cast<uint64_t>(link.st_size), item.value("size").asUnsigned());
  EXPECT_TRUE(item.value("mdat").isDate());
  EXPECT_TRUE(item.value("cdat").isDate() || item.value("cdat").isNone());

  DirectoryInterner directories;
  TrashItem back = recode<TrashItem>(item, directories);
  EXPECT_EQ(item.dictionary(), back.dictionary());
  EXPECT_TRUE(back.isEqualToTrashItem(item));
}

}  // namespace
}  // namespace sweeprun
