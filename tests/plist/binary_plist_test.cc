#include "plist/binary_plist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "plist/property_list.h"

namespace sweeprun {
namespace {

// Assembles a binary property list from hand-written objects, 1-byte
// references and offsets, with object 0 on top.
std::string assemble(const std::vector<std::string>& objects, unsigned refSize = 1) {
  std::string out = "bplist00";
  std::vector<size_t> offsets;
  for (const std::string& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  const size_t table = out.size();
  for (size_t offset : offsets) out.push_back(static_cast<char>(offset));
  std::string trailer(32, '\0');
  trailer[6] = 1;
  trailer[7] = static_cast<char>(refSize);
  trailer[15] = static_cast<char>(objects.size());
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

Value roundTrip(const Value& v) {
  Value back;
  std::string error;
  EXPECT_TRUE(readPropertyList(writeBinaryPropertyList(v), back, error)) << error;
  return back;
}

Value everyKind() {
  Dictionary d{
      {"yes", Value::boolean(true)},
      {"no", Value::boolean(false)},
      {"small", Value::integer(255)},
      {"two bytes", Value::integer(256)},
      {"four bytes", Value::integer(65536)},
      {"eight bytes", Value::integer(int64_t{1} << 32)},
      {"negative", Value::integer(-1)},
      {"min", Value::integer(std::numeric_limits<int64_t>::min())},
      {"max", Value::integer(std::numeric_limits<int64_t>::max())},
      {"unsigned zero", Value::unsignedInteger(0)},
      {"unsigned high", Value::unsignedInteger((uint64_t{1} << 63) + 5)},
      {"unsigned max", Value::unsignedInteger(std::numeric_limits<uint64_t>::max())},
      {"real", Value::real(0.1)},
      {"date", Value::date(Date{-13197600000.5})},
      {"data", Value::data(std::string("\0\x01\xff", 3))},
      {"empty data", Value::data("")},
      {"ascii", Value::text("a text longer than fifteen bytes")},
      {"empty text", Value::text("")},
      {"utf16", Value::text("90\xc2\xb0 \xf0\x9f\x98\x80 caf\xc3\xa9")},
      {"uid", Value::uid(300)},
      {"empty array", Value::array()},
      {"empty dictionary", Value::dictionary({})},
  };
  d.set("nested", Value::array({Value::dictionary(d), Value::array({Value::text("x")})}));
  return Value::dictionary(std::move(d));
}

TEST(BinaryPlistTest, RoundTripKeepsEveryKind) {
  const Value original = everyKind();
  EXPECT_EQ(original, roundTrip(original));
}

TEST(BinaryPlistTest, TextsThatAreNotUtf8ComeBackByteForByte) {
  // File names on Linux may hold any bytes.
  for (const char* text : {"caf\xe9", "\xff\xfe", "\xed\xb2\x80", "a\xc3", "\xf4\x90\x80\x80"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Value::text(text), roundTrip(Value::text(text)));
  }
}

// Texts are looked at eight bytes at a time: a character beyond ASCII must
// be seen wherever it falls, in a whole word or in the bytes after the last.
TEST(BinaryPlistTest, TextsBeyondAsciiAreSeenAnywhere) {
  for (size_t length = 0; length <= 17; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      std::string text(length, 'a');
      text.insert(at, "\xC3\xA9");  // U+00E9 in UTF-8
      EXPECT_EQ(Value::text(text), roundTrip(Value::text(text))) << length << " " << at;
    }
  }
}

TEST(BinaryPlistTest, WideReferencesAndOffsets) {
  Array many;
  for (int i = 0; i < 70000; ++i) many.push_back(Value::integer(i));
  const Value original = Value::array(std::move(many));
  EXPECT_EQ(original, roundTrip(original));
}

TEST(BinaryPlistTest, EqualTextsAreWrittenOnce) {
  const std::string text(100, 'x');
  const Value list = Value::array(Array(1000, Value::text(text)));
  EXPECT_LT(writeBinaryPropertyList(list).size(), 5000u);
  EXPECT_EQ(list, roundTrip(list));
}

TEST(BinaryPlistTest, ForeignFormsReadAsTheirValues) {
  const struct {
    const char* label;
    std::string object;
    Value expected;
  } kCases[] = {
      {"16-byte integer", bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3}),
       Value::unsignedInteger(3)},
      {"4-byte real", bytes({0x22, 0x3f, 0xc0, 0, 0}), Value::real(1.5)},
      {"4-byte unsigned integer", bytes({0x12, 0xff, 0xff, 0xff, 0xff}),
       Value::integer(0xFFFFFFFF)},
      {"lone high surrogate", bytes({0x61, 0xd8, 0x00}), Value::text("\xef\xbf\xbd")},
      {"latin-1 byte in an ASCII text", bytes({0x51, 0xe9}), Value::text("\xc3\xa9")},
      {"null", bytes({0x00}), Value()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Value out = Value::integer(99);
    std::string error;
    ASSERT_TRUE(readPropertyList(assemble({c.object}), out, error)) << error;
    EXPECT_EQ(c.expected, out);
  }
  Value set;
  std::string error;
  ASSERT_TRUE(readPropertyList(assemble({bytes({0xC1, 1}), bytes({0x09})}), set, error));
  EXPECT_EQ(Value::array({Value::boolean(true)}), set);
}

TEST(BinaryPlistTest, MalformedListsAreRefused) {
  const struct {
    const char* label;
    std::string bytes;
  } kCases[] = {
      {"empty", ""},
      {"magic only", "bplist00"},
      {"other version", "bplist01" + std::string(40, '\0')},
      {"offset out of range", assemble({bytes({0x09})}).replace(9, 1, "\x7f")},
      {"reference out of range", assemble({bytes({0xA1, 5})})},
      {"array that contains itself", assemble({bytes({0xA1, 0})})},
      {"dictionary that contains itself", assemble({bytes({0xD1, 1, 0}), bytes({0x51, 'k'})})},
      {"indirect cycle", assemble({bytes({0xA1, 1}), bytes({0xA1, 0})})},
      {"huge count", assemble({bytes({0xAF, 0x13, 0x10, 0, 0, 0, 0, 0, 0, 0})})},
      {"count past the end", assemble({bytes({0x5F, 0x10, 200, 'a'})})},
      {"non-text key", assemble({bytes({0xD1, 1, 1}), bytes({0x10, 1})})},
      {"integer beyond 64 bits",
       assemble({bytes({0x14, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})})},
      {"unknown marker", assemble({bytes({0x70})})},
      {"reference size 0", assemble({bytes({0x09})}, 0)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Value out;
    std::string error;
    EXPECT_FALSE(readPropertyList(c.bytes, out, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(BinaryPlistTest, DeepNestingIsRefused) {
  Value v = Value::array();
  for (int i = 0; i < kMaxPlistDepth + 10; ++i) v = Value::array({std::move(v)});
  Value out;
  std::string error;
  EXPECT_FALSE(readPropertyList(writeBinaryPropertyList(v), out, error));
  EXPECT_NE(std::string::npos, error.find("deep")) << error;
}

TEST(BinaryPlistTest, SharedObjectsCannotExpandWithoutBound) {
  // Each level holds its successor 200 times: 200^5 leaves from 1 KB.
  std::vector<std::string> objects;
  for (int level = 0; level < 5; ++level) {
    std::string array = bytes({0xAF, 0x10, 200});
    array += std::string(200, static_cast<char>(level + 1));
    objects.push_back(array);
  }
  objects.push_back(bytes({0x09}));
  std::string list = "bplist00";
  std::vector<size_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(list.size());
    list += o;
  }
  const size_t table = list.size();
  for (size_t offset : offsets) list += bytes({int(offset >> 8), int(offset & 0xFF)});
  std::string trailer(32, '\0');
  trailer[6] = 2;
  trailer[7] = 1;
  trailer[15] = static_cast<char>(objects.size());
  trailer[30] = static_cast<char>(table >> 8);
  trailer[31] = static_cast<char>(table & 0xFF);
  Value out;
  std::string error;
  EXPECT_FALSE(readPropertyList(list + trailer, out, error));
  EXPECT_NE(std::string::npos, error.find("expands")) << error;
}

// The in-place read of a reference answers only for a whole UID inside the
// objects, with the value object() gives; anything else is left to object().
TEST(BinaryPlistTest, UidsReadInPlaceOnlyWhenWhole) {
  const struct {
    const char* label;
    std::string object;
    bool read;
    uint64_t value;
  } kCases[] = {
      {"one byte", bytes({0x80, 7}), true, 7},
      {"two bytes", bytes({0x81, 1, 2}), true, 0x0102},
      {"four bytes", bytes({0x83, 0, 0, 1, 0}), true, 256},
      {"eight bytes", bytes({0x87, 1, 2, 3, 4, 5, 6, 7, 8}), true, 0x0102030405060708},
      {"nine bytes", bytes({0x88, 1, 2, 3, 4, 5, 6, 7, 8, 9}), false, 0},
      {"into the offset table", bytes({0x83, 1}), false, 0},
      {"an integer", bytes({0x10, 5}), false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    // The object last, so that only the offset table follows it.
    const std::string list = assemble({bytes({0x09}), c.object});
    const BinaryPlistView view(list);
    uint64_t uid = 0;
    ASSERT_EQ(c.read, view.uidAt(1, uid));
    if (c.read) {
      EXPECT_EQ(c.value, uid);
      EXPECT_EQ(BinaryPlistView::Type::kUid, view.object(1).type);
    }
    EXPECT_FALSE(view.uidAt(2, uid)) << "beyond the last object";
  }
}

TEST(BinaryPlistTest, DamagedCopiesNeverCrash) {
  const std::string good = writeBinaryPropertyList(everyKind());
  for (size_t length = 0; length < good.size(); ++length) {
    Value out;
    std::string error;
    EXPECT_FALSE(readPropertyList(good.substr(0, length), out, error)) << length;
  }
  for (size_t i = 8; i < good.size(); ++i) {
    for (int mask : {0x01, 0x10, 0x80, 0xFF}) {
      std::string damaged = good;
      damaged[i] = static_cast<char>(damaged[i] ^ mask);
      Value out;
      std::string error;
      readPropertyList(damaged, out, error);  // either outcome, but no crash
    }
  }
}

}  // namespace
}  // namespace sweeprun
