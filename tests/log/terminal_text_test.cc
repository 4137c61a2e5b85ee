#include "log/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace sweeprun {
namespace {

TEST(TerminalTextTest, ShowsControlCharactersAndStrayBytesEscaped) {
  const struct {
    std::string text;
    std::string shown;
  } kCases[] = {
      {"plain name.txt", "plain name.txt"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"two\nlines\tand tab", "two\\nlines\\tand tab"},
      {"\x1B]0;title\x07", "\\x1b]0;title\\x07"},
      {"stray\xE9", "stray\\xe9"},
      {"c1\xC2\x9B", "c1\\xc2\\x9b"},
      {"del\x7F", "del\\x7f"},
      {"cut short\xE2\x82", "cut short\\xe2\\x82"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.shown, terminalText(c.text)) << c.shown;
}

}  // namespace
}  // namespace sweeprun
