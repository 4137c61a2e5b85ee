#include "plist/value.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

TEST(ValueTest, MissingOrMistypedValuesReadAsZero) {
  const struct {
    const char* label;
    Value value;
  } kCases[] = {
      {"none", Value()},
      {"text where a number belongs", Value::text("7")},
      {"data", Value::data("\x01")},
      {"empty array", Value::array()},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(0u, c.value.asUnsigned());
    EXPECT_EQ(0, c.value.asInteger());
    EXPECT_EQ(0.0, c.value.asReal());
    EXPECT_FALSE(c.value.asBool());
    EXPECT_EQ(0.0, c.value.asDate().seconds);
  }
}

TEST(ValueTest, BooleanReadingOfSettings) {
  const struct {
    Value value;
    bool expected;
  } kCases[] = {
      {Value::text("YES"), true},  {Value::text("yes"), true},   {Value::text("  true"), true},
      {Value::text("T"), true},    {Value::text("-007"), true},  {Value::text("+1"), true},
      {Value::text("NO"), false},  {Value::text("0"), false},    {Value::text(""), false},
      {Value::text("000"), false}, {Value::text("maybe"), false}, {Value::integer(0), false},
      {Value::integer(-3), true},  {Value::real(0.5), true},     {Value::boolean(true), true},
      {Value(), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.value.asText()));
    EXPECT_EQ(c.expected, c.value.boolReading());
  }
}

TEST(ValueTest, NumericReadingTakesTheLeadingDecimalNumber) {
  const struct {
    Value value;
    double expected;
  } kCases[] = {
      {Value::text("7"), 7},     {Value::text("0"), 0},        {Value::text(" 2.5 days"), 2.5},
      {Value::text("x7"), 0},    {Value::text("0x10"), 0},     {Value::text("inf"), 0},
      {Value::text("nan"), 0},   {Value::text("-1e2"), -100},  {Value::unsignedInteger(9), 9},
      {Value(), 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.value.asText()));
    EXPECT_EQ(c.expected, c.value.numericReading());
  }
}

TEST(ValueTest, EqualityIsKindSensitive) {
  EXPECT_NE(Value::integer(1), Value::unsignedInteger(1));
  EXPECT_NE(Value::integer(1), Value::boolean(true));
  EXPECT_NE(Value::real(5), Value::date(Date{5}));
  EXPECT_EQ(Value::text("a"), Value::text("a"));
  EXPECT_NE(Value::text("a"), Value::data("a"));
}

TEST(ValueTest, CopiesOfContainersAreDeep) {
  Dictionary inner{{"hits", Value::unsignedInteger(1)}};
  Value original = Value::dictionary(inner);
  Value copy = original;
  copy.dictionaryPtr()->set("hits", Value::unsignedInteger(2));
  EXPECT_EQ(1u, original.dictionaryPtr()->get("hits").asUnsigned());
  EXPECT_EQ(2u, copy.dictionaryPtr()->get("hits").asUnsigned());

  Value texts = Value::array({Value::text("a")});
  Value textsCopy = texts;
  textsCopy.arrayPtr()->push_back(Value::text("b"));
  EXPECT_EQ(1u, texts.arrayPtr()->size());
}

TEST(DictionaryTest, KeepsInsertionOrderAndReplacesInPlace) {
  Dictionary d;
  d.set("path", Value::text("/a"));
  d.set("hits", Value::unsignedInteger(1));
  d.set("path", Value::text("/b"));
  ASSERT_EQ(2u, d.size());
  EXPECT_EQ("path", d.begin()->first.text());
  EXPECT_EQ("/b", d.get("path").asText());
  EXPECT_TRUE(d.remove("path"));
  EXPECT_FALSE(d.remove("path"));
  EXPECT_TRUE(d.get("path").isNone());
  EXPECT_EQ((Dictionary{{"hits", Value::unsignedInteger(1)}}), d);
}

}  // namespace
}  // namespace sweeprun
