#include "settings/condition_parser.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

Value real(double r) { return Value::real(r); }
Value integer(int64_t i) { return Value::integer(i); }

TEST(ConditionParserTest, ReadsTheThreeForms) {
  const struct {
    const char* text;
    Dictionary expected;  // the keys that differ from the defaults of the kind
  } kCases[] = {
      {"delay: 3 days", {{"type", integer(0)}, {"teve", real(3)}, {"tune", integer(2)}}},
      {"DELAY: 2 weeks", {{"type", integer(0)}, {"teve", real(2)}, {"tune", integer(3)}}},
      {"delay: 5 checks", {{"type", integer(0)}, {"teve", real(5)}, {"tune", integer(7)}}},
      {"delay: 1.5 hours", {{"type", integer(0)}, {"teve", real(1.5)}, {"tune", integer(1)}}},
      {"delay:3days", {{"teve", real(3)}, {"tune", integer(2)}}},
      {"delay: 10 minute(s)", {{"teve", real(10)}, {"tune", integer(0)}}},
      {"delay: 2e1 years", {{"teve", real(20)}, {"tune", integer(5)}}},
      {"delay: 0 days: later", {{"teve", real(0)}, {"tune", integer(2)}}},
      {"\t delay:\t+.5 day", {{"teve", real(0.5)}, {"tune", integer(2)}}},
      {"delay:\xC2\xA0"
       "3\xE2\x80\x83"
       "days",
       {{"teve", real(3)}, {"tune", integer(2)}}},
      {"!delay: 3 days", {{"teve", real(3)}, {"tune", integer(2)}, {"oppo", integer(0)}}},
      {"size: < 1000", {{"type", integer(2)}, {"oppo", integer(1)}, {"size", real(1000)}}},
      {"size: >5000000 bytes", {{"type", integer(2)}, {"oppo", integer(0)}, {"size", real(5e6)}}},
      {"!size: > 7", {{"oppo", integer(0)}, {"size", real(7)}}},
      {"Size:<0", {{"oppo", integer(1)}, {"size", real(0)}}},
      {"name: *.dmg", {{"type", integer(1)}, {"part", integer(3)}, {"name", Value::text(".dmg")}}},
      {"name: Invoice*", {{"part", integer(2)}, {"name", Value::text("Invoice")}}},
      {"name: *tmp*", {{"part", integer(1)}, {"name", Value::text("tmp")}}},
      {"name: Thumbs.db", {{"part", integer(0)}, {"name", Value::text("Thumbs.db")}}},
      {"name: a*b", {{"part", integer(0)}, {"name", Value::text("a*b")}}},
      {"!name: Keep*", {{"oppo", integer(1)}, {"part", integer(2)}, {"name", Value::text("Keep")}}},
      {"name: a:b", {{"name", Value::text("a")}}},
      {"name: old :x", {{"name", Value::text("old ")}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    TrashRule rule;
    std::string error;
    ASSERT_TRUE(parseCondition(c.text, rule, error)) << error;
    EXPECT_EQ("", error);
    EXPECT_TRUE(rule.value("ison").asBool());
    for (const auto& [key, value] : c.expected)
      EXPECT_EQ(value, rule.value(key.text())) << key.str();
  }
}

TEST(ConditionParserTest, RefusesMalformedExpressions) {
  const char* const kCases[] = {
      "delay: 2 Weeks",       // unit names are case-sensitive
      "delay: -1 days",       // negative
      "delay: 3",             // no unit word
      "delay: 3 :days",       // the unit word ends at the colon
      "delay : 3 days",       // blank before the colon joins the keyword
      "delay: 3 fortnights",  // no such unit
      "delay: days",          // no number
      "delay: nan days",
      "delay: inf days",
      "delay: 0x10 days",
      "delay: 1e999 days",
      "size: 100",
      "size: = 100",
      "size: <",
      "size: < -5",
      "!size: x",
      "size: > 0x10",
      "size: > infinity",
      "size: <nan",
      "name:",
      "name:   \t",
      "name: :x",
      "name: *",
      "name: **",  // nothing left to compare
      "colour: red",
      "delay 3 days",
      "",
      "!",
      ":",
      "  : 3",
      "delay:\n3 days",
      " !name: x",  // the negation must be the very first character
  };
  for (const char* text : kCases) {
    SCOPED_TRACE(text);
    TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
    const Dictionary before = rule.data;
    std::string error;
    EXPECT_FALSE(parseCondition(text, rule, error));
    const std::string shown = text[0] == '!' ? text + 1 : text;
    EXPECT_EQ("Unable to handle condition '" + shown + "'.", error);
    EXPECT_EQ(before, rule.data);
  }
}

}  // namespace
}  // namespace sweeprun
