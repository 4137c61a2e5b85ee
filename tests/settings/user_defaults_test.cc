#include "settings/user_defaults.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "os/process.h"
#include "plist/property_list.h"
#include "settings/defaults_domain.h"
#include "settings/settings_keys.h"
#include "support/test_process.h"

namespace sweeprun {
namespace {

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(home().file("Library/Preferences")); }

  void writeDomain(std::string_view domain, const Dictionary& values) {
    home().write("Library/Preferences/" + std::string(domain) + ".plist",
                 writeXmlPropertyList(Value::dictionary(values)));
  }
  UserDefaults userDefaults(std::vector<std::string> arguments = {"sweeprun"}) {
    UserDefaults defaults(test_.context, arguments);
    defaults.addSuiteNamed(kCompanionDomain);
    defaults.registerDefaults(userModeRegisteredDefaults());
    return defaults;
  }

  const TempDir& home() const { return test_.dir(); }
  TestProcess test_;
};

TEST_F(UserDefaultsTest, FirstDomainHoldingAKeyWins) {
  writeDomain(kToolDomain, {{"Own", Value::text("own")}, {"Both", Value::text("own")}});
  writeDomain(kCompanionDomain, {{"Companion", Value::text("companion")},
                                 {"Both", Value::text("companion")},
                                 {"LogLimit", Value::integer(30)}});
  UserDefaults defaults = userDefaults({"sweeprun", "-Own", "argument"});

  const struct {
    const char* key;
    Value expected;
  } kCases[] = {
      {"Own", Value::text("argument")},
      {"Both", Value::text("own")},
      {"Companion", Value::text("companion")},
      {"LogLimit", Value::integer(30)},  // the companion's value beats the registered one
      {"LogFileName", Value::text("~/Library/Logs/Sweeply.log")},
      {"Unknown", Value::none()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(c.expected, defaults.objectForKey(c.key));
  }
}

TEST_F(UserDefaultsTest, StringForKeyGivesTextsAndNumbersAsText) {
  writeDomain(kToolDomain, {{"text", Value::text("a b")},
                            {"integer", Value::integer(-12)},
                            {"real", Value::real(0.25)},
                            {"whole real", Value::real(7)},
                            {"boolean", Value::boolean(true)},
                            {"date", Value::date(Date{0})},
                            {"array", Value::array()}});
  UserDefaults defaults = userDefaults();
  const struct {
    const char* key;
    std::optional<std::string> expected;
  } kCases[] = {
      {"text", "a b"},  {"integer", "-12"},     {"real", "0.25"},        {"whole real", "7"},
      {"boolean", "1"}, {"date", std::nullopt}, {"array", std::nullopt}, {"absent", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(c.expected, defaults.stringForKey(c.key));
  }
}

TEST_F(UserDefaultsTest, ArgumentDomainTakesKeyValuePairs) {
  const struct {
    std::vector<std::string> arguments;
    Dictionary expected;
  } kCases[] = {
      {{"sweeprun"}, {}},
      {{"sweeprun", "-LogToFile", "YES"}, {{"LogToFile", Value::text("YES")}}},
      {{"sweeprun", "stray", "-A", "1", "-B", "2"},
       {{"A", Value::text("1")}, {"B", Value::text("2")}}},
      {{"sweeprun", "-A", "-B", "2"}, {{"B", Value::text("2")}}},
      {{"sweeprun", "-LogLimit", "-3"}, {{"LogLimit", Value::text("-3")}}},
      {{"sweeprun", "-A"}, {}},
      {{"sweeprun", "-", "x"}, {}},
      {{"-A", "x"}, {}},  // the program name is never a key
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments.size() > 1 ? c.arguments[1] : "(none)");
    EXPECT_EQ(c.expected, argumentDomainFromArguments(c.arguments));
  }
}

TEST_F(UserDefaultsTest, ADamagedDomainReadsAsEmpty) {
  home().write("Library/Preferences/org.sweeply.Sweeply.plist", "bplist00 broken");
  UserDefaults defaults = userDefaults();
  EXPECT_EQ(Value::text("NO"), defaults.objectForKey(kLogToFile));
}

TEST_F(UserDefaultsTest, SetObjectStaysInMemoryBelowTheArguments) {
  UserDefaults defaults = userDefaults({"sweeprun", "-LogLimit", "2"});
  defaults.setObject(Value::text("%F"), kDateFormat);
  defaults.setObject(Value::text("9"), kLogLimit);
  EXPECT_EQ(Value::text("%F"), defaults.objectForKey(kDateFormat));
  EXPECT_EQ(Value::text("2"), defaults.objectForKey(kLogLimit));
  EXPECT_FALSE(std::filesystem::exists(home().file("Library/Preferences/sweeprun.plist")));
}

TEST_F(UserDefaultsTest, CompanionValueIsWrittenToDiskAndSeenAtOnce) {
  writeDomain(kCompanionDomain,
              {{"DateFormat", Value::text("%F %H")}, {"LogToFile", Value::boolean(true)}});
  UserDefaults defaults = userDefaults();
  ASSERT_TRUE(defaults.setCompanionValue(Value::text("%F"), kDateFormat));
  EXPECT_EQ(Value::text("%F"), defaults.objectForKey(kDateFormat));

  Dictionary stored;
  std::string error;
  ASSERT_EQ(DomainReadStatus::kRead,
            readDefaultsDomain(home().path(), kCompanionDomain, stored, error));
  EXPECT_EQ((Dictionary{{"DateFormat", Value::text("%F")}, {"LogToFile", Value::boolean(true)}}),
            stored);
}

TEST_F(UserDefaultsTest, CompanionDomainThatCannotBeReadIsNotOverwritten) {
  const std::string damaged = "<plist><dict><key>DateFormat</key><string>%H";
  home().write("Library/Preferences/org.sweeply.Sweeply.plist", damaged);
  UserDefaults defaults = userDefaults();
  EXPECT_FALSE(defaults.setCompanionValue(Value::text("%F"), kDateFormat));
  EXPECT_EQ(damaged, home().read("Library/Preferences/org.sweeply.Sweeply.plist"));
}

}  // namespace
}  // namespace sweeprun
