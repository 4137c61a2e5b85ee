#include "os/localization.h"

#include <libintl.h>

namespace sweeprun {

namespace {

constexpr char kTextDomain[] = "sweeprun";

void bindCodesetOnce() {
  // Messages end up in UTF-8 files and terminals whatever the locale says.
  static const bool bound = bind_textdomain_codeset(kTextDomain, "UTF-8") != nullptr;
  (void)bound;
}

}  // namespace

std::string localizedString(std::string_view english) {
  // gettext("") is the catalogue header, and a key with a NUL cannot be looked up.
  if (english.empty() || english.find('\0') != std::string_view::npos) {
    return std::string(english);
  }
  bindCodesetOnce();
  const std::string key(english);
  return dgettext(kTextDomain, key.c_str());
}

std::string formatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string result;
  result.reserve(format.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      result.push_back(c);
      continue;
    }
    const char conversion = format[i + 1];
    if (conversion == '%') {
      result.push_back('%');
      ++i;
    } else if (conversion == '@' || conversion == 's' || conversion == 'd') {
      if (next != args.end()) result.append(*next++);
      ++i;
    } else {
      result.push_back(c);  // not a conversion we fill: kept as written
    }
  }
  return result;
}

std::string localized(std::string_view english, std::initializer_list<std::string_view> args) {
  return formatMessage(localizedString(english), args);
}

}  // namespace sweeprun
