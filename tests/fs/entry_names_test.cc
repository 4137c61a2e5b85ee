#include "fs/entry_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sweeprun {
namespace {

// Names fill one block after another; one longer than a block gets its own.
// Every name reads back as added, however many blocks came after it: empty
// ones, and those either side of the longest length one byte says.
TEST(EntryNamesTest, NamesStayIntactAcrossBlocks) {
  std::vector<std::string> added = {""};
  for (int i = 0; i < 20000; ++i) added.push_back("entry-" + std::to_string(i) + ".download");
  added.insert(added.begin() + 7000, std::string(100000, 'x'));
  for (size_t length : {254, 255, 256})
    added.insert(added.begin() + 9000, std::string(length, 'y'));
  added.push_back("");

  EntryNames names;
  for (const std::string& name : added) ASSERT_TRUE(names.add(name));

  ASSERT_EQ(added.size(), names.size());
  EXPECT_EQ(added, names.strings());
  EXPECT_EQ("entry-0.download", names[1]);
}

}  // namespace
}  // namespace sweeprun
