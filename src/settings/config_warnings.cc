#include "settings/config_warnings.h"

#include <optional>

#include "fs/entry_attributes.h"
#include "fs/path.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "settings/settings_keys.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

namespace {

constexpr uint32_t kGroupSearch = 0010;
constexpr uint32_t kOtherSearch = 0001;
constexpr uint32_t kGroupReadSearch = 0050;
constexpr uint32_t kOtherReadSearch = 0005;

// The first folder from "/" down to |folder| that only root may pass (or,
// for |folder| itself, list): root's, and closed to its group and to
// others. None when every one is open to someone else, or cannot be read.
std::optional<std::string> rootOnlyFolderOnTheWay(const std::string& folder) {
  std::string path;
  size_t at = 0;
  while (true) {
    const size_t next = folder.find('/', at + 1);
    path = next == std::string::npos ? folder : folder.substr(0, next);
    if (path.empty()) path = "/";
    const bool last = next == std::string::npos;
    const std::optional<EntryAttributes> attributes = attributesOfItemAtPath(path);
    if (!attributes || !attributes->isDirectory()) return std::nullopt;  // a link: not judged
    const uint32_t groupNeeds = last ? kGroupReadSearch : kGroupSearch;
    const uint32_t otherNeeds = last ? kOtherReadSearch : kOtherSearch;
    if (attributes->owner == 0 && (attributes->mode & groupNeeds) != groupNeeds &&
        (attributes->mode & otherNeeds) != otherNeeds)
      return path;
    if (last) return std::nullopt;
    at = next;
  }
}

}  // namespace

std::vector<std::string> configurationWarnings(const TrashConfigFileParser& parser) {
  std::vector<std::string> warnings;
  if (const std::optional<FolderList>& folders = parser.folders()) {
    for (const TrashFolder& folder : *folders) {
      const Value& pattern = folder.value(folder_key::kUnmatchedPattern);
      if (!pattern.isText()) continue;
      warnings.push_back(localized(
          "Path '%@' matches no folder now; runs pass it over without a word until one exists.",
          {pattern.asText()}));
    }
  }
  if (const std::optional<std::string> metrics = parser.stringForKey(kMetricsFile)) {
    const std::string file = standardizePath(*metrics, "");
    if (const std::optional<std::string> closed =
            rootOnlyFolderOnTheWay(deletingLastPathComponent(file))) {
      warnings.push_back(localized(
          "MetricsFile '%@': only root may read the folder '%@', so an exporter running as its "
          "own account cannot read the file.",
          {*metrics, *closed}));
    }
  }
  return warnings;
}

}  // namespace sweeprun
