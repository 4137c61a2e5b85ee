#include "os/date_style.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace sweeprun {

namespace {

const char* nonEmptyVariable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

// Used only when ICU cannot build a formatter: the date still names a folder.
std::string isoDate(Date date) {
  const time_t seconds = static_cast<time_t>(date.unix());
  struct tm local;
  char text[32] = "1970-01-01";
  if (localtime_r(&seconds, &local)) std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

}  // namespace

std::string timeLocaleFromEnvironment() {
  const char* value = nonEmptyVariable("LC_ALL");
  if (!value) value = nonEmptyVariable("LC_TIME");
  if (!value) value = nonEmptyVariable("LANG");
  std::string id = value ? value : "";
  id = id.substr(0, id.find_first_of(".@"));
  if (id.empty() || id == "C" || id == "POSIX") return "en_US_POSIX";
  return id;
}

std::string mediumDateText(Date date, const std::string& localeId) {
  const icu::Locale locale = icu::Locale::createCanonical(localeId.c_str());
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, locale));
  if (!format) return isoDate(date);
  // The host zone is read afresh: ICU's default zone is fixed at first use.
  readTimeZoneUnlessHeld();
  format->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
  icu::UnicodeString text;
  format->format(static_cast<UDate>(date.unix() * 1000.0), text);
  std::string utf8;
  text.toUTF8String(utf8);
  return utf8.empty() ? isoDate(date) : utf8;
}

std::string datedFolderName(Date date) {
  std::string name = mediumDateText(date, timeLocaleFromEnvironment());
  for (char& c : name) {
    if (c == '/') c = '-';
  }
  return name;
}

}  // namespace sweeprun
