#include "engine/loggable_text.h"

#include <gtest/gtest.h>

namespace sweeprun {
namespace {

TEST(LoggableTextTest, LineBreaksAndBytesThatAreNotUtf8BecomeReplacementCharacters) {
  const struct {
    const char* label;
    std::string text;
    std::string shown;
  } kCases[] = {
      {"ASCII", "report.pdf", "report.pdf"},
      {"UTF-8", "caf\u00E9 \U0001F600", "caf\u00E9 \U0001F600"},
      {"Latin-1 byte", "caf\xE9.txt", "caf\uFFFD.txt"},
      {"two stray bytes", "\xFF\xFE", "\uFFFD\uFFFD"},
      {"sequence cut at the end", "a\xE2\x82", "a\uFFFD"},
      {"overlong form", "\xC0\xAF", "\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"tab and NUL kept", std::string("a\tb\0c", 5), std::string("a\tb\0c", 5)},
      {"line breaks", "a\nSweeply started at 2001-01-01 00:00:00 +0000.\r",
       "a\uFFFDSweeply started at 2001-01-01 00:00:00 +0000.\uFFFD"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.shown, loggableText(c.text));
  }
}

}  // namespace
}  // namespace sweeprun
