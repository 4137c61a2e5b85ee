#include "settings/config_file_check.h"

#include "fs/entry_attributes.h"
#include "fs/file_io.h"
#include "os/localization.h"

namespace sweeprun {

ConfigFileFault configFileFault(const std::string& path) {
  constexpr unsigned kGroupOrOtherReadWrite = 066;
  if (!fileExists(path)) return ConfigFileFault::kMissing;
  // Unreadable attributes fail only the regular-file test.
  const std::optional<EntryAttributes> attributes = attributesOfItemAtPath(path);
  if (attributes && attributes->owner != 0) return ConfigFileFault::kNotOwnedByRoot;
  if (attributes && (attributes->mode & kGroupOrOtherReadWrite))
    return ConfigFileFault::kAccessibleByOthers;
  if (!attributes || !attributes->isRegularFile()) return ConfigFileFault::kNotRegularFile;
  return ConfigFileFault::kNone;
}

std::string configFileFaultText(ConfigFileFault fault, const std::string& path) {
  switch (fault) {
    case ConfigFileFault::kMissing:
      return localized("Config file not found: %s .", {path});
    case ConfigFileFault::kNotOwnedByRoot:
      return localized("root must own %s .", {path});
    case ConfigFileFault::kAccessibleByOthers:
      return localized("%s must not be accessible for other users.", {path});
    case ConfigFileFault::kNotRegularFile:
      return localized("%s must be a regular file.", {path});
    case ConfigFileFault::kNone:
      break;
  }
  return std::string();
}

}  // namespace sweeprun
