#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace sweeprun {

/// Looks a message up in the localisation table (gettext, text domain
/// "sweeprun") with the English text as the key; the English text itself
/// when there is no translation.
std::string localizedString(std::string_view english);

/// Fills a fixed format: each "%@", "%s" or "%d" takes the next argument,
/// already turned into text by the caller; "%%" is a percent sign. The
/// arguments are inserted as they are, never read as formats, so user text
/// (paths, names, patterns) is safe in them. Missing arguments read as empty.
std::string formatMessage(std::string_view format, std::initializer_list<std::string_view> args);

/// localizedString, then formatMessage.
std::string localized(std::string_view english, std::initializer_list<std::string_view> args = {});

}  // namespace sweeprun
