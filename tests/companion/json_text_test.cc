#include "companion/json_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace sweeprun {
namespace {

TEST(JsonTextTest, EscapesTextsAndKeepsOutputValidUtf8) {
  const struct {
    const char* label;
    std::string text;
    const char* json;
  } kCases[] = {
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\"\n"},
      {"line breaks and controls", "a\nb\tc\x01\x7f", "\"a\\nb\\tc\\u0001\\u007f\"\n"},
      {"UTF-8 kept", "Caf\xC3\xA9 \xF0\x9F\x93\x81", "\"Caf\xC3\xA9 \xF0\x9F\x93\x81\"\n"},
      {"stray byte", "a\xFFz",
       "\"a\xEF\xBF\xBDz\""
       "\n"},
      {"truncated sequence", "a\xE2\x82", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"\n"},
      {"surrogate half", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.json, jsonText(Value::text(c.text)));
  }
}

TEST(JsonTextTest, WritesNestedValuesInTheirOwnOrder) {
  Value value = Value::dictionary(
      {{"z", Value::boolean(true)},
       {"a", Value::array({Value::integer(-1), Value::unsignedInteger(18446744073709551615u),
                           Value::real(0.5), Value()})},
       {"when", Value::date(Date::fromUnix(1796644800))},
       {"empty", Value::array()},
       {"nan", Value::real(std::numeric_limits<double>::quiet_NaN())}});
  EXPECT_EQ(
      "{\n"
      "  \"z\": true,\n"
      "  \"a\": [\n"
      "    -1,\n"
      "    18446744073709551615,\n"
      "    0.5,\n"
      "    null\n"
      "  ],\n"
      "  \"when\": \"2026-12-07T12:00:00Z\",\n"
      "  \"empty\": [],\n"
      "  \"nan\": null\n"
      "}\n",
      jsonText(value));
}

TEST(FileTextTest, ANameThatIsNotUtf8KeepsItsBytesBesideTheReadableForm) {
  const struct {
    std::string text;
    const char* bytes;  // nullptr: no "nameBytes"
  } kCases[] = {
      {"report.pdf", nullptr},
      {"caf\xC3\xA9 100%.txt", nullptr},
      {"caf\xE9.txt", "caf%E9.txt"},
      {"a b%\xFF\n", "a%20b%25%FF%0A"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    Dictionary entry;
    setFileText(entry, "name", c.text);
    EXPECT_EQ(c.text, entry.get("name").asText());
    if (c.bytes) {
      EXPECT_EQ(c.bytes, entry.get("nameBytes").asText());
    } else {
      EXPECT_EQ(nullptr, entry.find("nameBytes"));
    }
  }
}

}  // namespace
}  // namespace sweeprun
