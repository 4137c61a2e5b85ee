#include "model/trash_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "model/fake_coder.h"
#include "model/record_keys.h"
#include "os/process.h"
#include "support/test_process.h"

namespace sweeprun {
namespace {

class TrashFolderTest : public ::testing::Test {
 protected:
  std::string makeDirectory(const std::string& relative) {
    const std::string path = test_.dir().file(relative);
    EXPECT_EQ(0, mkdir(path.c_str(), 0755)) << path;
    return path;
  }

  static TrashItem item(uint64_t fnum, const std::string& path) {
    TrashItem item = TrashItem::withDictionary(
        {{"fnum", Value::unsignedInteger(fnum)}, {"path", Value::text(path)}});
    return item;
  }

  // A stored record as the database holds it: the given alias bytes, data
  // and items under their coder keys.
  TrashFolder decode(std::string_view alias, Dictionary data, Array items = {}) {
    Dictionary object{{"fink", Value::data(alias)}, {"fdat", Value::dictionary(std::move(data))}};
    if (!items.empty()) object.set("fist", Value::array(std::move(items)));
    FakeDecoder decoder(std::move(object));
    return TrashFolder::fromCoder(decoder, test_.context);
  }

  TestProcess test_;
};

TEST_F(TrashFolderTest, NewRecordHasExactlyTheSevenDefaultsAndOneRule) {
  TrashFolder folder = TrashFolder::folderWithPath("/ignored");
  const Dictionary expected{{"loud", Value::integer(0)},    {"play", Value::integer(0)},
                            {"move", Value::text("")},      {"datf", Value::boolean(false)},
                            {"ison", Value::boolean(true)}, {"temp", Value::boolean(false)},
                            {"gran", Value::integer(1)}};
  EXPECT_EQ(expected, folder.data);
  ASSERT_EQ(1u, folder.rules().size());
  EXPECT_EQ(TrashRule::trashRule().data, folder.rules()[0].data);
  EXPECT_FALSE(folder.items());
  EXPECT_FALSE(folder.aliasRecord());
}

TEST_F(TrashFolderTest, SetPathStandardizesNamesAndMakesAnAliasOnlyForAnExistingFolder) {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setPath("~/Projects/Inbox/", test_.context);
  EXPECT_EQ(test_.dir().path() + "/Projects/Inbox", folder.value("data.path").asText());
  EXPECT_EQ("Inbox", folder.value("name").asText());
  EXPECT_FALSE(folder.aliasRecord());

  makeDirectory("Projects");
  makeDirectory("Projects/Inbox");
  folder.setPath("~/Projects/Inbox/", test_.context);
  EXPECT_TRUE(folder.aliasRecord());
}

TEST_F(TrashFolderTest, DatesAndCountersReadAbsentKeysAsZero) {
  TrashFolder folder = TrashFolder::folderWithPath();
  EXPECT_EQ(Date{0}, folder.dateForKey("last"));
  folder.setDate(Date{123.5}, "last");
  EXPECT_EQ(Value::real(123.5), folder.value("data.last"));

  folder.incrForKey("ckin");
  EXPECT_EQ(Value::unsignedInteger(1), folder.value("ckin"));
  folder.setValue("data.hits", Value::integer(41));
  folder.incrForKey("hits");
  EXPECT_EQ(Value::unsignedInteger(42), folder.value("hits"));
}

TEST_F(TrashFolderTest, IndexOfItemFindsTheFirstEqualItem) {
  TrashFolder folder = TrashFolder::folderWithPath();
  EXPECT_EQ(-1, folder.indexOfItem(item(1, "/a/x")));
  folder.setItems(
      std::make_shared<ItemList>(ItemList{item(1, "/a/y"), item(1, "/a/x"), item(1, "/a/x")}));
  EXPECT_EQ(1, folder.indexOfItem(item(1, "/a/x")));
  EXPECT_EQ(-1, folder.indexOfItem(item(2, "/a/x")));
}

TEST_F(TrashFolderTest, MergeTakesRememberedStateButKeepsTheConfiguration) {
  makeDirectory("First");
  makeDirectory("Second");
  TrashFolder first = TrashFolder::folderWithPath();
  first.setPath(test_.dir().file("First"), test_.context);
  first.setDate(Date{100}, "last");
  first.setValue("busy", Value::text("yes"));
  first.setItems(std::make_shared<ItemList>(ItemList{item(1, "/a/x")}));
  TrashFolder second = TrashFolder::folderWithPath();
  second.setPath(test_.dir().file("Second"), test_.context);
  second.setDate(Date{200}, "last");
  second.setValue("play", Value::integer(TrashFolder::kDeleteAction));
  second.rules().clear();
  second.setItems(std::make_shared<ItemList>(ItemList{item(2, "/b/y")}));

  TrashFolder configured = TrashFolder::folderWithPath();
  configured.setPath(test_.dir().file("Missing"), test_.context);  // no alias of its own
  configured.setDate(Date{50}, "next");
  configured.setValue("move", Value::text("/dest"));
  configured.mergeFolder(first);
  configured.mergeFolder(second);

  EXPECT_EQ(first.aliasRecord(), configured.aliasRecord());
  EXPECT_EQ(test_.dir().file("Second"), configured.path());
  EXPECT_EQ(Date{200}, configured.dateForKey("last"));
  EXPECT_EQ(Date{50}, configured.dateForKey("next"));  // the stored records have none
  EXPECT_EQ(Value::text("yes"), configured.value("busy"));
  EXPECT_EQ(second.items(), configured.items());  // the same array
  EXPECT_EQ(Value::integer(0), configured.value("play"));
  EXPECT_EQ(Value::text("/dest"), configured.value("move"));
  EXPECT_EQ(1u, configured.rules().size());

  TrashFolder withAlias = TrashFolder::folderWithPath();
  withAlias.setPath(test_.dir().file("Second"), test_.context);
  const auto ownAlias = withAlias.aliasRecord();
  withAlias.mergeFolder(first);
  EXPECT_EQ(ownAlias, withAlias.aliasRecord());
}

TEST_F(TrashFolderTest, CopySharesNothingAndTurnsMissingListsIntoEmptyOnes) {
  TrashFolder bare = TrashFolder::folderWithPath();
  bare.rules().clear();
  TrashFolder bareCopy(bare);
  ASSERT_TRUE(bareCopy.items());
  EXPECT_TRUE(bareCopy.items()->empty());

  TrashFolder source = TrashFolder::folderWithPath();
  source.setItems(std::make_shared<ItemList>(ItemList{item(1, "/a/x")}));
  TrashFolder copy(source);
  copy.items()->at(0).incrHits();
  copy.rules()[0].setValue("teve", Value::integer(1));
  copy.setValue("data.ison", Value::boolean(false));
  EXPECT_TRUE(source.items()->at(0).value("hits").isNone());
  EXPECT_EQ(Value::integer(13), source.rules()[0].value("teve"));
  EXPECT_TRUE(source.value("ison").asBool());
}

TEST_F(TrashFolderTest, DecodingFollowsAMovedFolderIntoPathNameAndItems) {
  makeDirectory("Data");
  makeDirectory("Data/Inbox");
  makeDirectory("Data/Archive");
  const std::string oldPath = test_.dir().file("Data/Inbox");
  TrashFolder stored = TrashFolder::folderWithPath();
  stored.setPath(oldPath, test_.context);
  stored.setValue("xtra", Value::unsignedInteger(7));
  stored.setItems(std::make_shared<ItemList>(ItemList{
      item(1, oldPath + "/report.pdf"), item(2, oldPath), item(3, oldPath + "2/other.pdf")}));
  Dictionary encoded = FakeEncoder::encode(stored);

  const std::string newPath = test_.dir().file("Data/Archive/Inbox");
  ASSERT_EQ(0, std::rename(oldPath.c_str(), newPath.c_str()));
  FakeDecoder decoder(encoded);
  TrashFolder moved = TrashFolder::fromCoder(decoder, test_.context);

  EXPECT_EQ(newPath, moved.path());
  EXPECT_EQ("Inbox", moved.value("name").asText());
  EXPECT_TRUE(moved.value("ison").asBool());
  EXPECT_EQ(Value::unsignedInteger(7), moved.value("xtra"));
  ASSERT_EQ(3u, moved.items()->size());
  EXPECT_EQ(newPath + "/report.pdf", (*moved.items())[0].path());
  EXPECT_EQ(newPath, (*moved.items())[1].path());
  // Only paths inside the old folder move, not those of a sibling that shares
  // its name as a prefix.
  EXPECT_EQ(oldPath + "2/other.pdf", (*moved.items())[2].path());
  ASSERT_EQ(1u, moved.rules().size());
  EXPECT_EQ("", test_.err());

  // The record now points at the new place, so the next run finds it at once.
  FakeDecoder again(FakeEncoder::encode(moved));
  EXPECT_EQ(newPath, TrashFolder::fromCoder(again, test_.context).path());
}

TEST_F(TrashFolderTest, AliasThatFailsDisablesTheFolderUnlessItMayBeAbsent) {
  makeDirectory("Gone");
  TrashFolder made = TrashFolder::folderWithPath();
  made.setPath(test_.dir().file("Gone"), test_.context);
  const std::string alias = *made.aliasRecord();
  ASSERT_EQ(0, rmdir(test_.dir().file("Gone").c_str()));

  const struct {
    const char* label;
    std::string alias;
    Dictionary data;
    bool ison;
    bool reported;
  } kCases[] = {
      {"missing folder",
       alias,
       {{"path", Value::text(test_.dir().file("Gone"))}, {"ison", Value::boolean(true)}},
       false,
       true},
      {"missing folder marked temp",
       alias,
       {{"path", Value::text(test_.dir().file("Gone"))},
        {"ison", Value::boolean(true)},
        {"temp", Value::boolean(true)}},
       true,
       false},
      {"no alias bytes",
       "",
       {{"path", Value::text(test_.dir().path())}, {"ison", Value::boolean(true)}},
       false,
       true},
      {"foreign alias, folder still there",
       "\x01\x02 made elsewhere",
       {{"path", Value::text(test_.dir().path())}, {"ison", Value::boolean(true)}},
       true,
       false},
      {"foreign alias, folder gone",
       "\x01\x02 made elsewhere",
       {{"path", Value::text(test_.dir().file("Gone"))}, {"ison", Value::boolean(true)}},
       false,
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    test_.clearOutput();
    TrashFolder folder = decode(c.alias, c.data);
    EXPECT_EQ(c.ison, folder.value("ison").asBool());
    EXPECT_TRUE(folder.value("temp").isBoolean());  // filled in when missing
    EXPECT_EQ(c.data.get("path"), folder.value("path"));
    EXPECT_FALSE(folder.items());
    EXPECT_TRUE(folder.rules().empty());
    if (c.reported) {
      const std::string path(c.data.get("path").asText());
      EXPECT_EQ("Unable to resolve alias to '" + path +
                    "' (Error -43).\nFolder '" + path +
                    "' was not found, so runs no longer check it; once it is back, turn it on "
                    "again with: sweeply enable '" + path + "'\n",
                test_.err());
      EXPECT_EQ(folder_key::kFolderNotFound, folder.value(folder_key::kDisabledBecause).asText());
    } else {
      EXPECT_EQ("", test_.err());
    }
  }
}

TEST_F(TrashFolderTest, EncodesAliasDataItemsAndRulesInOrder) {
  TrashFolder folder = TrashFolder::folderWithPath();
  Dictionary encoded = FakeEncoder::encode(folder);
  std::vector<std::string> keys;
  for (const auto& entry : encoded) keys.push_back(entry.first.str());
  EXPECT_EQ((std::vector<std::string>{"$class", "fink", "fdat", "fist", "full"}), keys);
  EXPECT_EQ(Value::data(""), encoded.get("fink"));
  EXPECT_TRUE(encoded.get("fist").isNone());
  EXPECT_EQ(1u, encoded.get("full").arrayPtr()->size());
}

}  // namespace
}  // namespace sweeprun
