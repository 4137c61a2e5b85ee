#include "companion/command_line.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

const std::vector<OptionDefinition> kSpecs = {{"condition", true}, {"any", false}, {"readme", true}};

TEST(CommandLineTest, SplitsOptionsValuesAndOperands) {
  ParsedArguments parsed;
  std::string error;
  ASSERT_TRUE(parseArguments({"Inbox", "--condition", "!name: -x*", "--any", "--readme=READ=ME",
                              "--condition=size: > 5", "--", "--any"},
                             kSpecs, 2, parsed, error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"Inbox", "--any"}), parsed.operands);
  EXPECT_EQ((std::vector<std::string>{"!name: -x*", "size: > 5"}), parsed.all("condition"));
  EXPECT_EQ("READ=ME", parsed.last("readme"));
  EXPECT_TRUE(parsed.has("any"));
  EXPECT_FALSE(parsed.help);
}

TEST(CommandLineTest, RefusesWhatItCannotRead) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } kCases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--condition"}, "option '--condition' needs a value"},
      {{"--any=yes"}, "option '--any' takes no value"},
      {{"a", "b", "c"}, "unexpected argument 'c'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message);
    ParsedArguments parsed;
    std::string error;
    EXPECT_FALSE(parseArguments(c.arguments, kSpecs, 2, parsed, error));
    EXPECT_EQ(c.message, error);
  }
}

TEST(CommandLineTest, HelpWinsOverMissingOperands) {
  ParsedArguments parsed;
  std::string error;
  ASSERT_TRUE(parseArguments({"x", "y", "z", "-h"}, kSpecs, 1, parsed, error));
  EXPECT_TRUE(parsed.help);
}

}  // namespace
}  // namespace sweeprun
