#include "settings/condition_parser.h"

#include <gtest/gtest.h>

#include <cstring>

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
      {"size: < 1000", {{"type", integer(2)}, {"oppo", integer(1)}, {"size", real(1000)}}},
      {"size: >5000000 bytes", {{"type", integer(2)}, {"oppo", integer(0)}, {"size", real(5e6)}}},
      {"Size:<0", {{"oppo", integer(1)}, {"size", real(0)}}},
      {"size: > 1.5GB", {{"size", real(1.5e9)}}},
      {"size: > 1.5 gb", {{"size", real(1.5e9)}}},
      {"size: > 2 KiB", {{"size", real(2048)}}},
      {"size: > 3k", {{"size", real(3000)}}},
      {"size: < 4 M", {{"size", real(4e6)}}},
      {"size: > 1 mib", {{"size", real(1048576)}}},
      {"size: > 1 GiB", {{"size", real(1073741824)}}},
      {"size: > 2 TB", {{"size", real(2e12)}}},
      {"size: > 1 TiB", {{"size", real(1099511627776)}}},
      {"size: > 7 B", {{"size", real(7)}}},
      {"size: > 1 byte", {{"size", real(1)}}},
      {"name: *.dmg", {{"type", integer(1)}, {"part", integer(3)}, {"name", Value::text(".dmg")}}},
      {"name: Invoice*", {{"part", integer(2)}, {"name", Value::text("Invoice")}}},
      {"name: *tmp*", {{"part", integer(1)}, {"name", Value::text("tmp")}}},
      {"name: Thumbs.db", {{"part", integer(0)}, {"name", Value::text("Thumbs.db")}}},
      {"name: a*b", {{"part", integer(0)}, {"name", Value::text("a*b")}}},
      {"!name: Keep*", {{"oppo", integer(1)}, {"part", integer(2)}, {"name", Value::text("Keep")}}},
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
  // What each refusal says after "Unable to handle condition '...'": nothing
  // more ("."), or what was expected.
  constexpr const char* kNumberThenUnit =
      ": expected a number, then a unit: minutes, hours, days, weeks, months, years or checks.";
  constexpr const char* kSize =
      ": expected '<' or '>', a number of at least 0 and an optional unit: B, KB, MB, GB, TB "
      "(powers of 1000), KiB, MiB, GiB or TiB (powers of 1024).";
  const std::string kSizeThenNothing =
      std::string(kSize, strlen(kSize) - 1) + ", and nothing after it.";
  constexpr const char* kUnit =
      ": expected a unit: minutes, hours, days, weeks, months, years or checks.";
  constexpr const char* kKeyword = ": expected 'delay:', 'size:' or 'name:' at the start.";
  constexpr const char* kSign = ": expected '<' (smaller than) or '>' (at least) before the size.";
  constexpr const char* kNoColonInNames =
      ": expected a name without ':': a name rule cannot hold ':'.";
  const struct {
    const char* text;
    std::string after;
  } kCases[] = {
      {"delay: 2 Weeks", ": expected the unit in lower case: 'weeks'."},
      {"delay: -1 days",
       ": expected a number of at least 0, then a unit: minutes, hours, days, weeks, months, "
       "years or checks."},
      {"delay: 3",
       ": expected a unit after the number: minutes, hours, days, weeks, months, years or "
       "checks."},
      {"delay: 3 :days",
       ": expected a unit after the number: minutes, hours, days, weeks, months, years or "
       "checks."},
      {"delay : 3 days", ": expected ':' right after 'delay'."},
      {"delay: 3 fortnights", kUnit},
      {"delay: 30d", kUnit},
      {"delay: days", kNumberThenUnit},
      {"delay: nan days", kNumberThenUnit},
      {"delay: inf days", kNumberThenUnit},
      {"delay: 0x10 days", kNumberThenUnit},
      {"delay: 1e999 days", kNumberThenUnit},
      {"delay: 99999999999999999999 days",
       ": expected a number no larger than 9007199254740992, then a unit: minutes, hours, days, "
       "weeks, months, years or checks."},
      {"!delay: 3 days", ": expected no '!': it negates only name conditions."},
      {"size: 100", kSign},
      {"size: = 100", kSign},
      {"size > 1GB", ": expected ':' after 'size'."},
      {"size: <", kSize},
      {"size: < -5", kSize},
      {"!size: > 1000000",
       ": expected no '!': it negates only name conditions; use 'size: <' to select the smaller "
       "entries instead."},
      {"size: > 0x10", kSize},
      {"size: > infinity", kSize},
      {"size: <nan", kSize},
      {"size: > 1.5 GX", kSize},
      {"size: > 1.5GB of data", kSizeThenNothing},
      {"size: > 5 bytes!", kSizeThenNothing},
      {"size: > 10 TiB 2", kSizeThenNothing},
      {"size: > 9999 TiB", ": expected a size no larger than 9007199254740992 bytes."},
      {"name:", ": expected a name after 'name:'."},
      {"name:   \t", ": expected a name after 'name:'."},
      {"name: *", ": expected a name besides the '*' marks."},
      {"name: **", ": expected a name besides the '*' marks."},  // nothing left to compare
      {"name: :x", kNoColonInNames},
      {"name: *10:00*", kNoColonInNames},  // once cut short to "ends with '10'"
      {"!name: a:b", kNoColonInNames},
      {"colour: red", kKeyword},
      {"mtime: 3 days", kKeyword},
      {"delayed: 3 days", kKeyword},
      {"delay 3 days", ": expected ':' after 'delay'."},
      {"", kKeyword},
      {"!", kKeyword},
      {":", kKeyword},
      {"  : 3", kKeyword},
      {"delay:\n3 days", kNumberThenUnit},
      {" !name: x", kKeyword},  // the negation must be the very first character
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
    const Dictionary before = rule.data;
    std::string error;
    EXPECT_FALSE(parseCondition(c.text, rule, error));
    EXPECT_EQ("Unable to handle condition '" + std::string(c.text) + "'" + c.after, error);
    EXPECT_EQ(before, rule.data);
  }
}

TEST(ConditionParserTest, WarnsOfNamePatternsMatchedAsWritten) {
  const struct {
    const char* text;
    bool warned;
  } kCases[] = {
      {"name: *.dmg", false}, {"name: Keep*", false},    {"name: *tmp*", false},
      {"name: a*b", true},    {"name: file?.txt", true}, {"name: [ab]*", true},
      {"!name: x?", true},    {"name: a?", true},        {"name: Thumbs.db", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    TrashRule rule;
    std::string error, warning;
    ASSERT_TRUE(parseCondition(c.text, rule, error, &warning)) << error;
    EXPECT_EQ(c.warned, !warning.empty()) << warning;
  }
  TrashRule rule;
  std::string error, warning;
  parseCondition("name: a*b", rule, error, &warning);
  EXPECT_EQ(
      "condition 'name: a*b' matches 'a*b' as it is written: only a '*' at either end is a "
      "wildcard; '*', '?' and '[' elsewhere are plain characters.",
      warning);
}

// Export writes a budget and a minimum age as these texts, and import reads
// them back: the values must come back exactly, whatever their size.
TEST(ConditionParserTest, BudgetTextsReadBackAsTheyWereRead) {
  for (const char* typed : {"1 B", "500MiB", "20 GB", "1.5 GiB", "9007199254740992"}) {
    SCOPED_TRACE(typed);
    uint64_t bytes = 0, again = 0;
    std::string error;
    ASSERT_TRUE(parseBudgetSize(typed, bytes, error)) << error;
    ASSERT_TRUE(parseBudgetSize(byteCountText(bytes), again, error)) << byteCountText(bytes);
    EXPECT_EQ(bytes, again) << byteCountText(bytes);
  }
  for (const char* typed : {"0 minutes", "90 minutes", "36 hours", "2 days", "1.5 months",
                            "9007199254740992 years"}) {
    SCOPED_TRACE(typed);
    double seconds = 0, again = 0;
    std::string error;
    ASSERT_TRUE(parseBudgetAge(typed, seconds, error)) << error;
    ASSERT_TRUE(parseBudgetAge(budgetAgeText(seconds), again, error)) << budgetAgeText(seconds);
    EXPECT_DOUBLE_EQ(seconds, again) << budgetAgeText(seconds);
  }
}

}  // namespace
}  // namespace sweeprun
