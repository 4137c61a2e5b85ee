#include "model/trash_rule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/fake_coder.h"

namespace sweeprun {
namespace {

TrashRule decodedRule(Dictionary stored) {
  FakeDecoder decoder(Dictionary{{"rdat", Value::dictionary(std::move(stored))}});
  return TrashRule::fromCoder(decoder);
}

TEST(TrashRuleTest, LimitsAndCheckOnceFollowKindUnitAndCount) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* label;
    int64_t type;
    double teve;
    int64_t tune;
    double limit;
    double timeValue;
    bool checkOnce;
  } kCases[] = {
      {"default: 13 weeks", 0, 13, 3, 13 * 604800.0, 13, true},
      {"fractional days", 0, 2.5, 2, 216000, 2.5, false},
      {"exactly three days", 0, 3, 2, 259200, 3, false},
      {"just over three days", 0, 4321, 0, 259260, 4321, true},
      {"count of checks", 0, 5, 7, -1, 5, false},
      {"no unit", 0, 5, 6, 0, 5, false},
      {"size rule", 2, 13, 3, 524288, 0, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TrashRule rule(c.type);
    rule.data.set("teve", Value::real(c.teve));
    rule.data.set("tune", Value::integer(c.tune));
    rule.update();
    EXPECT_DOUBLE_EQ(c.limit, rule.limit);
    EXPECT_DOUBLE_EQ(c.timeValue, rule.timeValue);
    EXPECT_EQ(c.checkOnce, rule.checkOnce());
  }

  // A damaged unit or count must not turn into "everything is old enough":
  // the rule then asks for a span no entry can reach, with a positive count.
  const struct {
    const char* label;
    double teve;
    int64_t tune;
  } kDamaged[] = {
      {"unit past the table", 13, 8},
      {"negative unit", 13, -1},
      {"huge unit", 0, std::numeric_limits<int64_t>::max()},
      {"count not a number", kNaN, 3},
      {"infinite count of checks", INFINITY, 7},
  };
  for (const auto& c : kDamaged) {
    SCOPED_TRACE(c.label);
    TrashRule rule;
    rule.data.set("teve", Value::real(c.teve));
    rule.data.set("tune", Value::integer(c.tune));
    rule.update();
    EXPECT_GT(rule.limit, 100 * 31556908.8);
    EXPECT_TRUE(std::isfinite(rule.limit));
    EXPECT_GT(rule.timeValue, 0);
  }
}

TEST(TrashRuleTest, EveryKindGetsAllEightDefaults) {
  TrashRule rule = TrashRule::trashRuleWithType(kSizeRule);
  const Dictionary expected{
      {"type", Value::integer(2)}, {"ison", Value::boolean(true)},   {"teve", Value::integer(13)},
      {"tune", Value::integer(3)}, {"name", Value::text("")},        {"part", Value::integer(0)},
      {"oppo", Value::integer(0)}, {"size", Value::integer(524288)},
  };
  EXPECT_EQ(expected, rule.data);
  EXPECT_EQ(524288, rule.limit);
}

TEST(TrashRuleTest, DecodedRuleGetsNoDefaultsButItsCopyDoes) {
  TrashRule name = decodedRule({{"type", Value::integer(1)}, {"name", Value::text(".dmg")}});
  EXPECT_FALSE(name.value("data.ison").asBool());  // disabled, not defaulted
  EXPECT_EQ(2u, name.data.size());

  TrashRule size = decodedRule({{"type", Value::integer(2)}, {"ison", Value::boolean(true)}});
  EXPECT_EQ(0, size.limit);
  size.invert = true;
  size.bestDate = Date{5};
  TrashRule copy(size);
  EXPECT_EQ(Value::integer(524288), copy.data.get("size"));
  EXPECT_EQ(Value::integer(2), copy.data.get("type"));  // the source's kind wins
  EXPECT_EQ(524288, copy.limit);
  EXPECT_FALSE(copy.invert);
  EXPECT_FALSE(copy.bestDate);
}

TEST(TrashRuleTest, StoredDictionaryRoundTripsWithUnknownKeysAndKinds) {
  Dictionary stored{{"type", Value::integer(0)},
                    {"teve", Value::real(1.5)},
                    {"tune", Value::unsignedInteger(2)},
                    {"xtra", Value::array({Value::text("kept")})}};
  TrashRule rule = decodedRule(stored);
  EXPECT_EQ(1.5 * 86400, rule.limit);
  EXPECT_EQ(stored, recode<TrashRule>(rule).data);
  // Nothing but the dictionary is written.
  EXPECT_EQ(2u, FakeEncoder::encode(rule).size());
}

TEST(TrashRuleTest, KeyPathWritesKeepDerivedFieldsCurrent) {
  TrashRule rule;
  rule.setValue("data.tune", Value::integer(7));
  EXPECT_EQ(-1, rule.limit);
  rule.setValue("type", Value::integer(2));
  rule.setValue("data.size", Value::integer(1000));
  EXPECT_EQ(1000, rule.limit);
  EXPECT_EQ(Value::integer(1000), rule.value("size"));
}

}  // namespace
}  // namespace sweeprun
