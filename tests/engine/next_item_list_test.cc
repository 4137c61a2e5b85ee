#include "engine/next_item_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sweeprun {
namespace {

TrashItem record(const std::string& path, uint64_t fileNumber, uint64_t size) {
  TrashItem item;
  item.setValue("path", Value::text(path));
  item.setValue("fnum", Value::unsignedInteger(fileNumber));
  item.setValue("size", Value::unsignedInteger(size));
  return item;
}

// A check in miniature, against the list built the plain way: entries come
// in any order, match the first untaken equal record (duplicates abound),
// and are kept, dropped or replaced by a new record; entries nobody
// tracked are added or passed over. While records move, the index must
// keep finding the record a walk over the list as read finds, and the list
// built in place must hold the same records in the same order.
TEST(NextItemListTest, BuildsInPlaceWhatAFreshListWouldHold) {
  std::mt19937 random(11);
  for (size_t count : {0, 1, 2, 17, 300}) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(std::to_string(count) + " records, round " + std::to_string(round));
      auto tracked = std::make_shared<ItemList>();
      for (size_t i = 0; i < count; ++i)
        tracked->push_back(record("/in/" + std::to_string(random() % 30), random() % 3, i));
      if (count == 2) tracked->at(1).setValue("path", Value::integer(1));  // never indexed
      const ItemList original = *tracked;  // a record's size is its place here
      std::vector<bool> taken(count, false);
      ItemIndex index(tracked.get());
      NextItemList next(tracked.get(), index);
      ItemList expected;
      uint64_t fresh = 1000;
      for (int entry = 0; entry < 60; ++entry) {
        const std::string path = "/in/" + std::to_string(random() % 35);
        const uint64_t fileNumber = random() % 4;
        const int64_t position = index.find(path, fileNumber);
        // The first untaken equal record of the list as it was read.
        int64_t first = -1;
        for (size_t i = 0; i < count && first < 0; ++i) {
          if (!taken[i] && original[i].path() == path && original[i].hasPath() &&
              original[i].fileNumber() == fileNumber)
            first = static_cast<int64_t>(i);
        }
        ASSERT_EQ(first >= 0, position >= 0);
        if (position >= 0) {
          const TrashItem& found = (*tracked)[static_cast<size_t>(position)];
          ASSERT_EQ(static_cast<uint64_t>(first), found.size());
          taken[static_cast<size_t>(first)] = true;
          index.take(position);
          switch (random() % 3) {
            case 0:
              expected.push_back(found);
              next.keep(position);
              break;
            case 1:
              break;  // removed
            default:
              expected.push_back(record(path, fileNumber, fresh));
              next.add(record(path, fileNumber, fresh++));
              break;
          }
        } else if (random() % 2) {
          expected.push_back(record(path, fileNumber, fresh));
          next.add(record(path, fileNumber, fresh++));
        }
      }
      std::shared_ptr<ItemList> list = next.finish(tracked);
      ASSERT_EQ(expected.size(), list->size());
      for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i].dictionary(), (*list)[i].dictionary()) << i;
    }
  }
}

// New records fill several pieces; between and around kept records, or
// with no tracked list at all, each lands in its place.
TEST(NextItemListTest, NewRecordsBeyondOnePieceKeepTheirPlaces) {
  const size_t many = 2 * NextItemList::kPiece + 5;
  for (bool withTracked : {true, false}) {
    auto tracked = std::make_shared<ItemList>();
    if (withTracked)
      for (uint64_t i : {0, 1}) tracked->push_back(record("/in/t" + std::to_string(i), i, 0));
    ItemIndex index(tracked.get());
    NextItemList next(tracked.get(), index);
    std::vector<uint64_t> expected;  // each record's size, in list order
    uint64_t fresh = 1;
    auto addMany = [&] {
      for (size_t i = 0; i < many; ++i, ++fresh) {
        next.add(record("/in/n", 9, fresh));
        expected.push_back(fresh);
      }
    };
    for (int64_t position = 0; position < static_cast<int64_t>(tracked->size()); ++position) {
      addMany();
      next.keep(position);
      expected.push_back(0);
    }
    addMany();
    const std::shared_ptr<ItemList> list = next.finish(tracked);
    std::vector<uint64_t> sizes;
    for (const TrashItem& item : *list) sizes.push_back(item.size());
    EXPECT_EQ(expected, sizes) << (withTracked ? "with tracked records" : "none tracked");
  }
}

}  // namespace
}  // namespace sweeprun
