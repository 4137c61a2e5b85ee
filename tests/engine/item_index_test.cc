#include "engine/item_index.h"

#include <gtest/gtest.h>

#include <random>

namespace sweeprun {
namespace {

TrashItem record(std::string_view path, uint64_t fileNumber) {
  TrashItem item;
  item.setValue("path", Value::text(path));
  item.setValue("fnum", Value::unsignedInteger(fileNumber));
  return item;
}

// What the folder check needs: the first record equal to the entry that
// was not matched yet, as a walk from the start would find it.
int64_t firstUntaken(const ItemList& items, const std::vector<bool>& taken, const TrashItem& item) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (!taken[i] && item.isEqualToTrashItem(items[i])) return static_cast<int64_t>(i);
  }
  return -1;
}

TEST(ItemIndexTest, AgreesWithAWalkFromTheStart) {
  std::mt19937 random(7);
  for (size_t count : {0, 1, 15, 16, 17, 1000}) {
    SCOPED_TRACE(count);
    // Few paths and file numbers, so equal records and shared hash slots abound.
    ItemList items;
    for (size_t i = 0; i < count; ++i) {
      items.push_back(record("/in/" + std::to_string(random() % 40), random() % 3));
    }
    ItemIndex index(&items);
    std::vector<bool> taken(items.size(), false);
    for (int query = 0; query < 3000; ++query) {
      const TrashItem entry = record("/in/" + std::to_string(random() % 45), random() % 4);
      const int64_t expected = firstUntaken(items, taken, entry);
      ASSERT_EQ(expected, index.find(entry));
      if (expected >= 0 && random() % 2) {
        index.take(expected);
        taken[static_cast<size_t>(expected)] = true;
      }
    }
  }
}

// Records that are all different, met mostly in list order as an unchanged
// folder lists them, with entries gone, entries new, a record changed under
// the same path and jumps back and forth: the answers stay those of the walk.
TEST(ItemIndexTest, AgreesWithAWalkWhenEntriesComeInListOrder) {
  std::mt19937 random(3);
  for (size_t count : {1, 2, 50, 1000}) {
    SCOPED_TRACE(count);
    ItemList items;
    for (size_t i = 0; i < count; ++i) items.push_back(record("/in/" + std::to_string(i), i % 7));
    ItemIndex index(&items);
    std::vector<bool> taken(items.size(), false);
    for (size_t at = 0; at < count + count / 4; ++at) {
      size_t wanted = at;
      switch (random() % 8) {
        case 0:
          continue;  // the entry is gone
        case 1:
          wanted = random() % (count + 3);  // out of order, or new
          break;
        case 2:
          wanted = at + 1;  // the record itself is taken again below
          break;
        default:
          break;
      }
      const uint64_t fileNumber = random() % 16 == 0 ? 9 : wanted % 7;  // 9: a new file
      const TrashItem entry = record("/in/" + std::to_string(wanted), fileNumber);
      const int64_t expected = firstUntaken(items, taken, entry);
      ASSERT_EQ(expected, index.find(entry)) << at;
      if (expected >= 0) {
        index.take(expected);
        taken[static_cast<size_t>(expected)] = true;
      }
    }
  }
}

TEST(ItemIndexTest, RecordsWithoutATextPathEqualNothing) {
  TrashItem noPath;
  noPath.setValue("fnum", Value::unsignedInteger(1));
  TrashItem numberPath = record("", 1);
  numberPath.setValue("path", Value::integer(5));
  ItemList items = {noPath, numberPath, record("/in/a", 0)};
  ItemIndex index(&items);

  EXPECT_EQ(-1, index.find(noPath));
  EXPECT_EQ(-1, index.find(numberPath));
  EXPECT_EQ(-1, index.find(record("", 1)));
  EXPECT_EQ(2, index.find(record("/in/a", 0))) << "a vanished entry may still match";
  EXPECT_EQ(-1, ItemIndex(nullptr).find(record("/in/a", 0)));
}

}  // namespace
}  // namespace sweeprun
