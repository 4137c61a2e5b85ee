#pragma once

#include <string>
#include <string_view>

#include "plist/value.h"

namespace sweeprun {

/// The file that stores the preferences domain |domain| of the user whose
/// home is |homeDirectory|: <home>/Library/Preferences/<domain>.plist, a
/// property list (binary or XML) with a dictionary at its root.
std::string defaultsDomainPath(std::string_view homeDirectory, std::string_view domain);

enum class DomainReadStatus {
  kRead,     // the file held a dictionary
  kMissing,  // no file: an empty domain
  kDamaged,  // a file that cannot be read or is not a dictionary property list
};

/// Reads the domain's values into |values| (emptied first). A missing or
/// damaged file leaves |values| empty; for a damaged one |error| says why.
/// Without an absolute home folder every domain is missing.
DomainReadStatus readDefaultsDomain(std::string_view homeDirectory, std::string_view domain,
                                    Dictionary& values, std::string& error);

/// Stores |value| under |key| in the domain's file and writes the file to disk
/// at once (a none value removes the key). The other keys are kept, the file
/// is replaced atomically and keeps its format (XML stays XML; a new file is
/// binary), and ~/Library/Preferences is created when missing. A file that
/// exists but cannot be read as a dictionary is never overwritten: the call
/// then fails, and so does a failed write or a home folder that is not an
/// absolute path, with the reason in |error|.
bool writeDefaultsDomainValue(std::string_view homeDirectory, std::string_view domain,
                              std::string_view key, const Value& value, std::string& error);

}  // namespace sweeprun
