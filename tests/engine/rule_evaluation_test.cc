#include "engine/rule_evaluation.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

constexpr double kWeek = 604800;
const Date kNow{800000000};

TrashItem itemNamed(std::string_view name, uint64_t size = 0, Date checkedIn = kNow,
                    uint64_t hits = 0) {
  TrashItem item;
  item.setValue("path", Value::text(std::string("/inbox/") + std::string(name)));
  item.setValue("size", Value::unsignedInteger(size));
  item.setValue("idat", Value::date(checkedIn));
  item.setValue("hits", Value::unsignedInteger(hits));
  return item;
}

TrashRule nameRule(int64_t part, std::string_view name, bool reversed = false) {
  TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
  rule.setValue("part", Value::integer(part));
  rule.setValue("name", Value::text(name));
  if (reversed) rule.setValue("oppo", Value::integer(1));
  return rule;
}

TrashRule sizeRule(double size, bool reversed = false) {
  TrashRule rule = TrashRule::trashRuleWithType(kSizeRule);
  rule.setValue("size", Value::real(size));
  if (reversed) rule.setValue("oppo", Value::integer(1));
  rule.update();
  return rule;
}

TrashRule ageRule(double count, int64_t unit) {
  TrashRule rule = TrashRule::trashRule();
  rule.setValue("teve", Value::real(count));
  rule.setValue("tune", Value::integer(unit));
  rule.update();
  return rule;
}

bool matches(TrashRule rule, const TrashItem& item) {
  prepareWithLog(rule, false, kNow);
  return trash(rule, item);
}

TEST(RuleEvaluationTest, SingleRulesAgainstEntries) {
  const struct {
    const char* label;
    TrashRule rule;
    TrashItem item;
    bool expected;
  } kCases[] = {
      {"default rule, 13 weeks and a second", TrashRule::trashRule(),
       itemNamed("a", 0, Date{kNow.seconds - 13 * kWeek - 1}), true},
      {"default rule, a second short of 13 weeks", TrashRule::trashRule(),
       itemNamed("a", 0, Date{kNow.seconds - 13 * kWeek + 1}), false},
      {"age 0 matches an entry checked in now", ageRule(0, 2), itemNamed("a"), true},
      {"3 checks, 4 hits", ageRule(3, 7), itemNamed("a", 0, kNow, 4), true},
      {"3 checks, 3 hits", ageRule(3, 7), itemNamed("a", 0, kNow, 3), false},
      {"size at the threshold", sizeRule(524288), itemNamed("a", 524288), true},
      {"reversed size at the threshold", sizeRule(524288, true), itemNamed("a", 524288), false},
      {"reversed size below", sizeRule(524288, true), itemNamed("a", 524287), true},
      {"ends with, same case", nameRule(3, ".dmg"), itemNamed("Setup.dmg"), true},
      {"ends with, other case", nameRule(3, ".dmg"), itemNamed("Setup.DMG"), false},
      {"reversed ends with", nameRule(3, ".dmg", true), itemNamed("Setup.DMG"), true},
      {"starts with", nameRule(2, "IMG_"), itemNamed("IMG_0001.jpg"), true},
      {"starts with, not at start", nameRule(2, "IMG_"), itemNamed("old IMG_0001.jpg"), false},
      {"contains", nameRule(1, "IMG_"), itemNamed("old IMG_0001.jpg"), true},
      {"empty contains", nameRule(1, ""), itemNamed("x"), false},
      {"empty starts with, reversed", nameRule(2, "", true), itemNamed("x"), true},
      {"empty whole name", nameRule(0, ""), itemNamed("x"), false},
      {"whole name", nameRule(0, "Thumbs.db"), itemNamed("Thumbs.db"), true},
      {"unknown kind", TrashRule::trashRuleWithType(5), itemNamed("x"), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.expected, matches(c.rule, c.item));
  }
}

TEST(RuleEvaluationTest, DescribesRulesInWords) {
  const struct {
    TrashRule rule;
    const char* expected;
  } kCases[] = {
      {sizeRule(524288), "whose size is at least 524288 bytes"},
      {sizeRule(1.5, true), "whose size is smaller than 1.5 bytes"},
      {sizeRule(1000000), "whose size is at least 1000000 bytes"},
      {nameRule(3, ".dmg"), "whose name ends with '.dmg'"},
      {nameRule(2, "Keep", true), "whose name does not start with 'Keep'"},
      {nameRule(7, "x"), "whose name is 'x'"},
      {ageRule(1, 7), "that survived more than 1 check"},
      {ageRule(5.9, 7), "that survived more than 5 checks"},
      {ageRule(0, 6), "that were checked in before 2026-05-09 06:13:20 +0000"},
      {TrashRule::trashRuleWithType(5), "(unknown condition)"},
  };
  for (auto c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.expected, prepareWithLog(c.rule, true, Date{800000000}).value_or("<none>"));
  }
}

TEST(RuleEvaluationTest, DisabledRulesAreNeitherDescribedNorEvaluated) {
  TrashFolder folder = TrashFolder::folderWithPath();
  TrashRule disabledAge = TrashRule::trashRule();
  disabledAge.setValue("ison", Value::boolean(false));
  folder.setRules({nameRule(3, ".dmg"), disabledAge});

  EXPECT_EQ("Searching for items whose name ends with '.dmg'",
            prepareWithLog(folder, true, kNow).value_or(""));
  EXPECT_NE(nullptr, ruleViolatedBy(folder, itemNamed("new.dmg")));
  EXPECT_EQ(nullptr, ruleViolatedBy(folder, itemNamed("new.txt")));

  folder.rules()[0].setValue("ison", Value::boolean(false));
  prepareWithLog(folder, false, kNow);
  EXPECT_EQ(nullptr, ruleViolatedBy(folder, itemNamed("new.dmg")));
}

TEST(RuleEvaluationTest, AllOrAnyCombination) {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setRules({nameRule(1, "a"), nameRule(1, "b"), nameRule(1, "c")});
  TrashItem abc = itemNamed("abc");
  TrashItem bOnly = itemNamed("b");

  const struct {
    int64_t gran;
    const char* description;
    const TrashItem* item;
    int expectedRule;  // index into the rules, -1 for none
  } kCases[] = {
      {1, " and ", &abc, 2},
      {1, " and ", &bOnly, -1},
      {0, " or ", &abc, 0},
      {0, " or ", &bOnly, 1},
      {2, " and ", &bOnly, 1},  // joined with "and", evaluated as "any"
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.gran);
    folder.setValue("gran", Value::integer(c.gran));
    std::string expected = std::string("Searching for items whose name contains 'a'") +
                           c.description + "whose name contains 'b'" + c.description +
                           "whose name contains 'c'";
    EXPECT_EQ(expected, prepareWithLog(folder, true, kNow).value_or(""));
    const TrashRule* rule = ruleViolatedBy(folder, *c.item);
    EXPECT_EQ(c.expectedRule < 0 ? nullptr : &folder.rules()[c.expectedRule], rule);
  }
}

TEST(RuleEvaluationTest, UnknownKindBlocksTheAllCombination) {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setRules({nameRule(1, "a"), TrashRule::trashRuleWithType(5)});
  prepareWithLog(folder, false, kNow);
  EXPECT_EQ(nullptr, ruleViolatedBy(folder, itemNamed("a")));
}

}  // namespace
}  // namespace sweeprun
