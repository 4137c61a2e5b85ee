#include "plist/binary_plist_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/file_io.h"

namespace sweeprun {
namespace {

class MemorySink : public ByteSink {
 public:
  bool append(std::string_view bytes) override {
    writeAt(end_, bytes);
    end_ += bytes.size();
    return true;
  }
  bool writeAt(uint64_t offset, std::string_view bytes) override {
    if (bytes_.size() < offset + bytes.size()) bytes_.resize(offset + bytes.size());
    bytes_.replace(offset, bytes.size(), bytes);
    ++writes;
    return true;
  }
  uint32_t entry(uint64_t index) const {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v = v << 8 | static_cast<unsigned char>(bytes_[index * 4 + b]);
    return v;
  }
  std::string bytes_;
  int writes = 0;

 private:
  uint64_t end_ = 0;
};

TEST(PlistOffsetWindowTest, EntriesThatComeLateLandInTheirPlace) {
  // Containers numbered before their children and written after them, as a
  // keyed archive's are: 0 and 1 are open until the very end.
  constexpr uint64_t kCount = 200000;
  MemorySink sink;
  PlistOffsetWindow window(sink, 0, 4, 0, kCount);
  for (uint64_t i = 2; i < kCount; ++i) ASSERT_TRUE(window.set(i, 100 + i));
  ASSERT_TRUE(window.set(1, 8));
  ASSERT_TRUE(window.set(0, 9));
  ASSERT_TRUE(window.finish());
  ASSERT_EQ(kCount * 4, sink.bytes_.size());
  EXPECT_EQ(9u, sink.entry(0));
  EXPECT_EQ(8u, sink.entry(1));
  for (uint64_t i = 2; i < kCount; ++i) ASSERT_EQ(100 + i, sink.entry(i)) << i;
  EXPECT_LT(sink.writes, 100);  // a slice at a time and the two late entries
}

TEST(PlistOffsetWindowTest, EntriesWrittenTwiceOrNeverAreReported) {
  MemorySink sink;
  PlistOffsetWindow twice(sink, 0, 4, 0, 20000);
  ASSERT_TRUE(twice.set(0, 8));
  ASSERT_TRUE(twice.set(19999, 9));  // moves the window past entry 0
  EXPECT_FALSE(twice.set(0, 10));

  PlistOffsetWindow never(sink, 0, 4, 0, 3);
  ASSERT_TRUE(never.set(0, 8));
  ASSERT_TRUE(never.set(2, 9));
  EXPECT_FALSE(never.finish());
}

TEST(PlistObjectStreamTest, PiecesLargerThanTheBufferKeepTheirOrder) {
  MemorySink sink;
  PlistObjectStream stream(sink);
  const std::string large(3 << 20, 'L');
  std::memcpy(stream.claim(3), "abc", 3);
  stream.commit(3);
  std::memcpy(stream.claim(large.size()), large.data(), large.size());
  stream.commit(large.size());
  std::memcpy(stream.claim(2), "yz", 2);
  stream.commit(2);
  stream.flush();
  EXPECT_EQ(3 + large.size() + 2, stream.position());
  EXPECT_TRUE(sink.bytes_ == "abc" + large + "yz");
}

}  // namespace
}  // namespace sweeprun
