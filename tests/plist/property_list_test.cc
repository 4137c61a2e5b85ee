#include "plist/property_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "plist/binary_plist.h"

namespace sweeprun {
namespace {

Value readOrFail(std::string_view bytes) {
  Value out;
  std::string error;
  EXPECT_TRUE(readPropertyList(bytes, out, error)) << error;
  return out;
}

TEST(PropertyListTest, XmlRoundTripKeepsValues) {
  // Small unsigned numbers come back signed: XML has one integer type.
  const struct {
    const char* label;
    Value written;
    Value read;
  } kCases[] = {
      {"true", Value::boolean(true), Value::boolean(true)},
      {"negative", Value::integer(-7), Value::integer(-7)},
      {"int64 min", Value::integer(std::numeric_limits<int64_t>::min()),
       Value::integer(std::numeric_limits<int64_t>::min())},
      {"small unsigned", Value::unsignedInteger(12), Value::integer(12)},
      {"unsigned above 2^63", Value::unsignedInteger((uint64_t{1} << 63) + 5),
       Value::unsignedInteger((uint64_t{1} << 63) + 5)},
      {"real", Value::real(0.1), Value::real(0.1)},
      {"date", Value::date(Date{599529600}), Value::date(Date{599529600})},
      {"date before 1933", Value::date(Date{-4417977600.0}), Value::date(Date{-4417977600.0})},
      {"date after 2069", Value::date(Date{6311433600.0}), Value::date(Date{6311433600.0})},
      {"data", Value::data(std::string("\0\xff", 2)), Value::data(std::string("\0\xff", 2))},
      {"text", Value::text("<caf\xc3\xa9 & co>"), Value::text("<caf\xc3\xa9 & co>")},
      {"empty array", Value::array(), Value::array()},
      {"nested", Value::dictionary({{"a", Value::array({Value::dictionary({})})}}),
       Value::dictionary({{"a", Value::array({Value::dictionary({})})}})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const Value root = Value::array({c.written});
    EXPECT_EQ(Value::array({c.read}), readOrFail(writeXmlPropertyList(root)));
  }
}

TEST(PropertyListTest, NoneValuesAreLeftOut) {
  const Value root = Value::dictionary({{"kept", Value::integer(1)}, {"gone", Value()}});
  const Value expected = Value::dictionary({{"kept", Value::integer(1)}});
  EXPECT_EQ(expected, readOrFail(writeXmlPropertyList(root)));
  EXPECT_EQ(expected, readOrFail(writeBinaryPropertyList(root)));
  EXPECT_EQ(Value::dictionary({}), readOrFail(writeBinaryPropertyList(Value())));
}

TEST(PropertyListTest, ReadsXmlWithByteOrderMarkAndArchiveReferencesAsDictionaries) {
  const std::string xml =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<plist version=\"1.0\"><dict><key>r</key><dict><key>CF$UID</key><integer>3</integer>"
      "</dict></dict></plist>";
  EXPECT_EQ(Value::dictionary({{"r", Value::dictionary({{"CF$UID", Value::integer(3)}})}}),
            readOrFail(xml));
}

TEST(PropertyListTest, MalformedXmlIsRefusedWithItsPlace) {
  std::string deep = "<plist version=\"1.0\">";
  for (int i = 0; i <= kMaxPlistDepth; ++i) deep += "<array>";
  const std::string kNotWellFormed = "not a well-formed property list";
  const struct {
    const char* label;
    std::string text;
    std::string error;
  } kCases[] = {
      {"empty", " \n", kNotWellFormed + ": the file is empty"},
      {"not XML", "hello",
       kNotWellFormed + ": the file is not a property list (neither XML nor binary)"},
      {"unclosed array",
       "<plist version=\"1.0\">\n<dict><key>Folders</key>\n  "
       "<array><string>a</string>\n</dict></plist>",
       kNotWellFormed + ": line 4, column 1: expected </array> (for the <array> at line 3, column "
                        "3), found </dict>"},
      {"unterminated", "<plist version=\"1.0\"><array><string>a</string>",
       kNotWellFormed + ": the <array> at line 1, column 22 is never closed"},
      {"tag without '>'", "<plist>\n<array\n",
       kNotWellFormed + ": line 2, column 1: this tag is never closed with '>'"},
      {"comment left open", "<plist><!-- <array>",
       kNotWellFormed + ": line 1, column 8: this markup is never closed"},
      {"nested too deeply", deep, "property list nested too deeply"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Value out;
    std::string error;
    EXPECT_FALSE(readPropertyList(c.text, out, error));
    EXPECT_EQ(c.error, error);
  }
}

}  // namespace
}  // namespace sweeprun
