#include "companion/config_export.h"

#include <gtest/gtest.h>

#include <limits>

#include "companion_test_env.h"
#include "fs/file_io.h"
#include "settings/condition_parser.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {
namespace {

TrashRule ruleFrom(std::initializer_list<std::pair<std::string_view, Value>> values) {
  TrashRule rule(values.begin()->second.asInteger());
  for (const auto& [key, value] : values) rule.setValue(key, value);
  rule.update();
  return rule;
}

TEST(ConditionExpressionTest, StatesEveryRuleAConditionCanMake) {
  const char* const kExpressions[] = {
      "delay: 1 day",    "delay: 2.5 hours", "delay: 13 weeks", "delay: 0 minutes",
      "delay: 5 checks", "delay: 1 year",    "name: *.dmg",     "!name: Keep*",
      "name: *tmp*",     "name: Thumbs.db",  "!name: *x",       "name: a*b",
      "name: a**",       "size: > 524288",   "size: < 1.5",     "size: > 1000000000000",
  };
  for (const char* text : kExpressions) {
    SCOPED_TRACE(text);
    TrashRule rule;
    std::string error;
    ASSERT_TRUE(parseCondition(text, rule, error)) << error;
    std::string why;
    std::optional<std::string> expression = conditionExpression(rule, why);
    ASSERT_TRUE(expression) << why;
    EXPECT_EQ(text, *expression);
  }
}

TEST(ConditionExpressionTest, LeavesOutWhatNoExpressionCanState) {
  const struct {
    const char* label;
    TrashRule rule;
  } kCases[] = {
      {"disabled", ruleFrom({{"type", Value::integer(kNameRule)},
                             {"name", Value::text("x")},
                             {"ison", Value::boolean(false)}})},
      {"unit 6", ruleFrom({{"type", Value::integer(kAgeRule)}, {"tune", Value::integer(6)}})},
      {"unit 9", ruleFrom({{"type", Value::integer(kAgeRule)}, {"tune", Value::integer(9)}})},
      {"reversed age", ruleFrom({{"type", Value::integer(kAgeRule)}, {"oppo", Value::integer(1)}})},
      {"negative count", ruleFrom({{"type", Value::integer(kAgeRule)}, {"teve", Value::real(-2)}})},
      {"count not a number",
       ruleFrom({{"type", Value::integer(kAgeRule)},
                 {"teve", Value::real(std::numeric_limits<double>::quiet_NaN())}})},
      {"name with colon",
       ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text("a:b")}})},
      {"leading blank",
       ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text(" a")}})},
      {"trailing blank",
       ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text("a ")}})},
      {"empty name", ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text("")}})},
      {"whole name with a star",
       ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text("*.c")}})},
      {"prefix beginning with a star", ruleFrom({{"type", Value::integer(kNameRule)},
                                                 {"part", Value::integer(2)},
                                                 {"name", Value::text("*a")}})},
      {"unknown kind", ruleFrom({{"type", Value::integer(5)}})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::string why;
    EXPECT_FALSE(conditionExpression(c.rule, why));
    EXPECT_FALSE(why.empty());
  }
}

class ConfigExportTest : public CompanionTest {};

TEST_F(ConfigExportTest, FileReadsBackAsTheSameFolders) {
  TrashFolder plain = TrashFolder::folderWithPath();
  plain.setPath(folder("Downloads"));
  TrashFolder odd = TrashFolder::folderWithPath();
  odd.setPath(folder("odd [1] *?"));  // wildcards in a real name
  odd.setValue("play", Value::integer(TrashFolder::kMoveAction));
  odd.setValue("move", Value::text(folder("Archive")));
  odd.setValue("datf", Value::boolean(true));
  odd.setValue("temp", Value::boolean(true));
  odd.setValue("ison", Value::boolean(false));
  odd.setValue("gran", Value::integer(0));
  odd.setValue("rfil", Value::text("READ ME"));
  odd.setValue("rtxt", Value::text("Kept tidy <automatically> & daily"));
  odd.setRules(
      {ruleFrom({{"type", Value::integer(kNameRule)},
                 {"part", Value::integer(3)},
                 {"name", Value::text(".dmg")}}),
       ruleFrom({{"type", Value::integer(kNameRule)}, {"name", Value::text("a:b")}}),  // left out
       ruleFrom({{"type", Value::integer(kSizeRule)},
                 {"size", Value::real(1000)},
                 {"oppo", Value::integer(1)}})});
  TrashFolder none = TrashFolder::folderWithPath();
  none.setPath(folder("Empty rules"));
  none.setRules({});
  const FolderList folders = {plain, odd, none};

  std::vector<std::string> warnings;
  const std::string file =
      temp_.write("exported.plist", exportConfiguration(folders, temp_.file("db.data"), warnings));
  ASSERT_EQ(1u, warnings.size());
  EXPECT_NE(std::string::npos, warnings[0].find(std::string(odd.path())));
  EXPECT_NE(std::string::npos, warnings[0].find("condition 2"));

  TrashConfigFileParser parser(context_);
  ASSERT_TRUE(parser.parse(file)) << err();
  EXPECT_EQ(temp_.file("db.data"), parser.dbPath());
  const FolderList& read = *parser.folders();
  ASSERT_EQ(3u, read.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(folders[i].path());
    EXPECT_EQ(folders[i].path(), read[i].path());
    EXPECT_FALSE(read[i].value("glob").isText()) << "the path must not read as a pattern";
    for (const char* key : {"play", "move", "datf", "temp", "ison", "rfil", "rtxt"}) {
      EXPECT_EQ(folders[i].value(key).asText(), read[i].value(key).asText()) << key;
      EXPECT_EQ(folders[i].value(key).asInteger(), read[i].value(key).asInteger()) << key;
    }
    EXPECT_EQ(folders[i].value("gran").asInteger() == 1, read[i].value("gran").asInteger() == 1);
  }
  EXPECT_EQ(1u, read[0].rules().size()) << "the default rule, stated";
  ASSERT_EQ(2u, read[1].rules().size());
  EXPECT_EQ(odd.rules()[0].data, read[1].rules()[0].data);
  EXPECT_EQ(odd.rules()[2].value("oppo").asInteger(), read[1].rules()[1].value("oppo").asInteger());
  EXPECT_TRUE(read[2].rules().empty()) << "no conditions stay no conditions";
}

}  // namespace
}  // namespace sweeprun
