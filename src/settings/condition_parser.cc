#include "settings/condition_parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "model/record_keys.h"
#include "os/localization.h"
#include "os/text_case.h"

namespace sweeprun {
namespace {

// Unit names by "tune". Searched from the end, so "check" gives 7 and
// place 6 (no unit) is never produced by a condition.
constexpr std::array<std::string_view, 8> kUnitNames = {"minute", "hour", "day",   "week",
                                                        "month",  "year", "check", "check"};

// Length in bytes of the blank that starts at |pos|, or 0. Blanks are the
// horizontal white space of Unicode (tab and the space separators).
size_t blankLength(std::string_view s, size_t pos) {
  const auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  const unsigned b0 = byte(pos), b1 = byte(pos + 1), b2 = byte(pos + 2);
  if (b0 == ' ' || b0 == '\t') return 1;
  if (b0 == 0xC2 && b1 == 0xA0) return 2;                // U+00A0
  if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80) return 3;  // U+1680
  if (b0 == 0xE2 && b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xAF)) {
    return 3;  // U+2000-200A, U+202F
  }
  if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F) return 3;  // U+205F
  if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) return 3;  // U+3000
  return 0;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads the tokens of one expression from left to right, skipping blanks
// before each.
class ConditionScanner {
 public:
  explicit ConditionScanner(std::string_view text) : text_(text) {}

  void skipBlanks() {
    while (size_t n = blankLength(text_, pos_)) pos_ += n;
  }
  bool atEnd() {
    skipBlanks();
    return pos_ == text_.size();
  }
  /// The characters up to the next ":" (or the end); empty when none.
  std::string_view upToColon() {
    skipBlanks();
    const size_t colon = std::min(text_.find(':', pos_), text_.size());
    std::string_view token = text_.substr(pos_, colon - pos_);
    pos_ = colon;
    return token;
  }
  /// The rest of the text after blanks, trailing blanks included.
  std::string_view rest() {
    skipBlanks();
    std::string_view token = text_.substr(pos_);
    pos_ = text_.size();
    return token;
  }
  /// The leading letters of |token|.
  static std::string_view wordIn(std::string_view token) {
    size_t end = 0;
    while (end < token.size() && isLetter(token[end])) ++end;
    return token.substr(0, end);
  }
  bool literal(char c) {
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  /// The letters that follow (after blanks); empty when none.
  std::string_view word() {
    skipBlanks();
    size_t end = pos_;
    while (end < text_.size() && isLetter(text_[end])) ++end;
    std::string_view letters = text_.substr(pos_, end - pos_);
    pos_ = end;
    return letters;
  }
  /// A plain decimal number: [+-] digits [. digits] [e [+-] digits], with at
  /// least one digit before the exponent.
  std::optional<double> number() {
    skipBlanks();
    size_t end = pos_;
    const auto digitsFrom = [&](size_t i) {
      while (i < text_.size() && isDigit(text_[i])) ++i;
      return i;
    };
    size_t start = end;
    if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
    const size_t intStart = end;
    end = digitsFrom(end);
    size_t mantissaDigits = end - intStart;
    if (end < text_.size() && text_[end] == '.') {
      const size_t fracEnd = digitsFrom(end + 1);
      mantissaDigits += fracEnd - end - 1;
      end = fracEnd;
    }
    if (mantissaDigits == 0) return std::nullopt;
    // "0x1F" would otherwise read as 0 followed by a word.
    if (end < text_.size() && (text_[end] == 'x' || text_[end] == 'X') && end - intStart == 1 &&
        text_[intStart] == '0') {
      return std::nullopt;
    }
    if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
      size_t exp = end + 1;
      if (exp < text_.size() && (text_[exp] == '+' || text_[exp] == '-')) ++exp;
      const size_t expEnd = digitsFrom(exp);
      if (expEnd > exp) end = expEnd;  // a bare "e" is left for the unit word
    }
    if (text_[start] == '+') ++start;  // from_chars takes no plus sign
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text_.data() + start, text_.data() + end, value);
    if (ec != std::errc() || ptr != text_.data() + end) return std::nullopt;
    pos_ = end;
    return value + 0.0;  // -0 becomes 0
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Larger numbers are no longer whole numbers exactly; no size or age needs them.
constexpr double kLargestNumber = 9007199254740992.0;  // 2^53

// A byte unit after a size, case-insensitive; the factor, or 0 when |word|
// names none.
double byteUnitFactor(std::string_view word) {
  const std::string unit = lowercaseText(word);
  if (unit == "b" || unit == "byte" || unit == "bytes") return 1;
  static const struct {
    const char* decimal;
    const char* shortDecimal;
    const char* binary;
    int power;
  } kUnits[] = {
      {"kb", "k", "kib", 1}, {"mb", "m", "mib", 2}, {"gb", "g", "gib", 3}, {"tb", "t", "tib", 4}};
  for (const auto& u : kUnits) {
    double decimal = 1, binary = 1;
    for (int i = 0; i < u.power; ++i) {
      decimal *= 1000;
      binary *= 1024;
    }
    if (unit == u.decimal || unit == u.shortDecimal) return decimal;
    if (unit == u.binary) return binary;
  }
  return 0;
}

// Why a number read for a condition cannot stand; empty when it can.
std::string numberFault(const std::optional<double>& number) {
  if (!number) return "a number";
  if (!(*number >= 0)) return "a number of at least 0";
  if (!(*number <= kLargestNumber)) return "a number no larger than 9007199254740992";
  return {};
}

constexpr const char* kUnitList = "minutes, hours, days, weeks, months, years or checks";

// The unit that |word| names (it need only begin with the unit's name), or -1.
int unitPlace(std::string_view word) {
  for (int place = 7; place >= 0; --place) {
    if (word.substr(0, kUnitNames[place].size()) == kUnitNames[place]) return place;
  }
  return -1;
}

bool parseDelay(ConditionScanner& scan, TrashRule& rule, std::string& fault) {
  const std::optional<double> count = scan.number();
  fault = numberFault(count);
  if (!fault.empty()) {
    fault += std::string(", then a unit: ") + kUnitList;
    return false;
  }
  const std::string_view unitWord = scan.upToColon();
  if (unitWord.empty()) {
    fault = std::string("a unit after the number: ") + kUnitList;
    return false;
  }
  const int place = unitPlace(unitWord);
  if (place < 0) {
    // Unit words are lower case, while byte units take any case: say so
    // rather than leave "2 Weeks" a mystery.
    const std::string lowered = lowercaseText(scan.wordIn(unitWord));
    fault = unitPlace(lowered) >= 0 ? "the unit in lower case: '" + lowered + "'"
                                    : std::string("a unit: ") + kUnitList;
    return false;
  }
  rule = TrashRule::trashRuleWithType(kAgeRule);
  rule.setValue(rule_key::kCount, Value::real(*count));
  rule.setValue(rule_key::kUnit, Value::integer(place));
  rule.update();
  return true;
}

// Reads a number of bytes, "N" or "N unit", and nothing after it. A size
// rule may be 0 bytes, a budget may not. None, with |fault| saying what was
// expected (|expected| describes the whole form), when the text is no such
// count or too large to hold exactly.
std::optional<double> scanByteCount(ConditionScanner& scan, bool zeroAllowed,
                                    const char* expected, std::string& fault) {
  std::optional<double> bytes = scan.number();
  if (!bytes || !(zeroAllowed ? *bytes >= 0 : *bytes > 0)) {
    fault = expected;
    return std::nullopt;
  }
  // "1.5GB" was once read as 1.5 bytes, the rest ignored: a rule meant for big
  // files then condemned nearly every file. A unit now counts, and anything
  // else after the number is refused.
  const std::string_view unit = scan.word();
  if (!unit.empty()) {
    const double factor = byteUnitFactor(unit);
    if (factor == 0) {
      fault = expected;
      return std::nullopt;
    }
    *bytes *= factor;
  }
  if (!scan.atEnd()) {
    fault = expected + std::string(", and nothing after it");
    return std::nullopt;
  }
  if (!(*bytes <= kLargestNumber)) {
    fault = "a size no larger than 9007199254740992 bytes";
    return std::nullopt;
  }
  return bytes;
}

bool parseSize(ConditionScanner& scan, TrashRule& rule, std::string& fault) {
  constexpr const char* kExpected =
      "'<' or '>', a number of at least 0 and an optional unit: B, KB, MB, GB, TB (powers of "
      "1000), KiB, MiB, GiB or TiB (powers of 1024)";
  int64_t opposite;
  if (scan.literal('<')) {
    opposite = 1;
  } else if (scan.literal('>')) {
    opposite = 0;
  } else {
    fault = "'<' (smaller than) or '>' (at least) before the size";
    return false;
  }
  const std::optional<double> bytes = scanByteCount(scan, /*zeroAllowed=*/true, kExpected, fault);
  if (!bytes) return false;
  rule = TrashRule::trashRuleWithType(kSizeRule);
  rule.setValue(rule_key::kReversed, Value::integer(opposite));
  rule.setValue(rule_key::kSize, Value::real(*bytes));
  rule.update();
  return true;
}

// A pattern whose "*" or "?" stand inside it, or that holds "[", reads as a
// shell pattern to most people, but is matched as the text it is.
std::string literalPatternWarning(std::string_view text, std::string_view pattern) {
  const std::string_view inner =
      pattern.size() > 2 ? pattern.substr(1, pattern.size() - 2) : std::string_view();
  const bool looksLikeAPattern =
      inner.find_first_of("*?") != std::string_view::npos ||
      pattern.find('[') != std::string_view::npos ||
      (!pattern.empty() && (pattern.front() == '?' || pattern.back() == '?'));
  if (!looksLikeAPattern) return {};
  return localized(
      "condition '%@' matches '%@' as it is written: only a '*' at either end is a wildcard; '*', "
      "'?' and '[' elsewhere are plain characters.",
      {text, pattern});
}

// |written| receives the pattern as written, marks included.
bool parseName(ConditionScanner& scan, bool negated, TrashRule& rule, std::string_view& written,
               std::string& fault) {
  std::string_view pattern = scan.rest();
  written = pattern;
  // The stored form ends a pattern at a ":"; reading on would store a rule
  // that matches less (or more) than it says, so such a name is refused.
  if (pattern.find(':') != std::string_view::npos) {
    fault = "a name without ':': a name rule cannot hold ':'";
    return false;
  }
  int64_t mode = 0;
  if (!pattern.empty() && pattern.front() == '*') {
    pattern.remove_prefix(1);
    mode = 3;
  }
  if (!pattern.empty() && pattern.back() == '*') {
    pattern.remove_suffix(1);
    mode = mode == 3 ? 1 : 2;
  }
  if (pattern.empty()) {
    fault = written.empty() ? "a name after 'name:'" : "a name besides the '*' marks";
    return false;
  }
  rule = TrashRule::trashRuleWithType(kNameRule);
  if (negated) rule.setValue(rule_key::kReversed, Value::integer(1));
  rule.setValue(rule_key::kNamePart, Value::integer(mode));
  rule.setValue(rule_key::kName, Value::text(pattern));
  return true;
}

constexpr const char* kKeywords = "'delay:', 'size:' or 'name:' at the start";

// Why the keyword before the first ":" cannot stand; empty when it can.
std::string keywordFault(std::string_view head, bool colonFollows) {
  static constexpr std::string_view kKnown[] = {"delay", "size", "name"};
  const std::string lowered = lowercaseText(head);
  for (std::string_view keyword : kKnown) {
    if (lowered == keyword) return {};
    if (lowered.substr(0, keyword.size()) != keyword || isLetter(lowered[keyword.size()])) continue;
    // "size > 1GB", "delay : 3 days": the keyword is there, its ":" is not.
    return colonFollows ? "':' right after '" + std::string(keyword) + "'"
                        : "':' after '" + std::string(keyword) + "'";
  }
  return kKeywords;
}

bool parseBudgetSizeText(std::string_view text, uint64_t& bytes, std::string& fault) {
  constexpr const char* kExpected =
      "a number above 0 and an optional unit: B, KB, MB, GB, TB (powers of 1000), KiB, MiB, GiB "
      "or TiB (powers of 1024)";
  ConditionScanner scan(text);
  const std::optional<double> size = scanByteCount(scan, /*zeroAllowed=*/false, kExpected, fault);
  if (!size) return false;
  if (*size < 1) {
    fault = "a size of at least 1 byte";
    return false;
  }
  bytes = static_cast<uint64_t>(*size);
  return true;
}

bool parseBudgetAgeText(std::string_view text, double& seconds, std::string& fault) {
  constexpr const char* kAgeUnits = "minutes, hours, days, weeks, months or years";
  ConditionScanner scan(text);
  TrashRule rule;
  if (!parseDelay(scan, rule, fault)) {
    const std::string_view general = kUnitList;
    const size_t at = fault.find(general);
    if (at != std::string::npos) fault.replace(at, general.size(), kAgeUnits);
    return false;
  }
  const int64_t unit = rule.value(rule_key::kUnit).asInteger();
  if (TrashRule::kUnitSeconds[unit] <= 0) {
    fault = std::string("a unit of time: ") + kAgeUnits;
    return false;
  }
  seconds = rule.value(rule_key::kCount).asReal() * TrashRule::kUnitSeconds[unit];
  return true;
}

}  // namespace

bool parseBudgetSize(std::string_view text, uint64_t& bytes, std::string& error) {
  std::string fault;
  if (parseBudgetSizeText(text, bytes, fault)) return true;
  error = localized("Unable to handle budget '%@': expected %@.", {text, localizedString(fault)});
  return false;
}

bool parseBudgetAge(std::string_view text, double& seconds, std::string& error) {
  std::string fault;
  if (parseBudgetAgeText(text, seconds, fault)) return true;
  error =
      localized("Unable to handle minimum age '%@': expected %@.", {text, localizedString(fault)});
  return false;
}

std::string byteCountText(uint64_t bytes) {
  static const char* const kDecimal[] = {"B", "KB", "MB", "GB", "TB"};
  static const char* const kBinary[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes == 0) return "0 B";
  for (int power = 4; power >= 1; --power) {
    uint64_t decimal = 1, binary = 1;
    for (int i = 0; i < power; ++i) {
      decimal *= 1000;
      binary *= 1024;
    }
    if (bytes % decimal == 0) return std::to_string(bytes / decimal) + " " + kDecimal[power];
    if (bytes % binary == 0) return std::to_string(bytes / binary) + " " + kBinary[power];
  }
  if (bytes < 1000) return std::to_string(bytes) + " B";
  int power = 0;
  double scaled = static_cast<double>(bytes);
  while (scaled >= 1000 && power < 4) {
    scaled /= 1000;
    ++power;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", scaled, kDecimal[power]);
  return text;
}

std::string budgetAgeText(double seconds) {
  static const struct {
    double seconds;
    const char* one;
    const char* many;
  } kUnits[] = {{604800, "week", "weeks"},
                {86400, "day", "days"},
                {3600, "hour", "hours"},
                {60, "minute", "minutes"}};
  for (const auto& unit : kUnits) {
    const double count = seconds / unit.seconds;
    if (count >= 1 && count <= kLargestNumber && count == std::floor(count)) {
      const int64_t whole = static_cast<int64_t>(count);
      return std::to_string(whole) + " " + (whole == 1 ? unit.one : unit.many);
    }
  }
  // Minutes with decimals; years for an age too long to count in minutes.
  const double minutes = seconds / 60;
  const bool inYears = minutes > kLargestNumber;
  char text[48];
  std::snprintf(text, sizeof text, inYears ? "%.15g years" : "%.15g minutes",
                inYears ? seconds / TrashRule::kUnitSeconds[5] : minutes);
  return text;
}

bool parseCondition(std::string_view text, TrashRule& rule, std::string& error,
                    std::string* warning) {
  const std::string_view typed = text;
  const bool negated = !text.empty() && text.front() == '!';
  if (negated) text.remove_prefix(1);

  ConditionScanner scan(text);
  const std::string_view head = scan.upToColon();
  const bool colon = scan.literal(':');
  std::string fault = keywordFault(head, colon);
  const std::string keyword = lowercaseText(head);
  bool made = false;
  if (!fault.empty()) {
    // No keyword to go on.
  } else if (!colon) {
    fault = "':' after '" + keyword + "'";
  } else if (negated && (keyword == "delay" || keyword == "size")) {
    // Dropped silently once, so that "!size: > 1000000", written to keep
    // big files, condemned them instead.
    fault = keyword == "size" ? "no '!': it negates only name conditions; use 'size: <' to "
                                "select the smaller entries instead"
                              : "no '!': it negates only name conditions";
  } else if (keyword == "delay") {
    made = parseDelay(scan, rule, fault);
  } else if (keyword == "size") {
    made = parseSize(scan, rule, fault);
  } else {
    std::string_view pattern;
    made = parseName(scan, negated, rule, pattern, fault);
    if (made && warning) *warning = literalPatternWarning(text, pattern);
  }
  if (!made) {
    error = fault.empty() ? localized("Unable to handle condition '%@'.", {typed})
                          : localized("Unable to handle condition '%@': expected %@.",
                                      {typed, localizedString(fault)});
  }
  return made;
}

}  // namespace sweeprun
