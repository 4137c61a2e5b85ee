// Joining the configured folders with the folder database: glob() at the end
// of each folder entry, merge() once the database has been read.

#include "fs/path_match.h"
#include "os/localization.h"
#include "os/process.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

bool TrashConfigFileParser::glob(std::string& error) {
  if (!folder_ || !globPath_) return true;
  if (!folders_) folders_.emplace();
  const size_t bound = process().maxPatternEntriesVisited;
  const PatternExpansion expansion = expandPathPattern(*globPath_, bound);
  if (expansion.tooManyEntries) {
    error = localized(
        "Path '%@' matches too many entries: more than %@ were looked at. Give a narrower "
        "pattern.",
        {*globPath_, std::to_string(bound)});
    return false;
  }
  const std::vector<std::string>& matches = expansion.paths;
  if (matches.empty()) {
    // Nothing on disk (yet): the text stays a pattern for stored folders,
    // e.g. on a volume that is not mounted now.
    folder_->setPath(*globPath_, process());
    folder_->setValue("data.glob", Value::text(*globPath_));
    folders_->push_back(std::move(*folder_));
    folderPatterns_.push_back(*globPath_);
    return true;
  }
  folder_->setPath(matches.front(), process());
  const size_t first = folders_->size();
  folders_->push_back(std::move(*folder_));
  for (size_t i = 1; i < matches.size(); ++i) {
    TrashFolder copy((*folders_)[first]);
    copy.setPath(matches[i], process());
    folders_->push_back(std::move(copy));
  }
  folderPatterns_.insert(folderPatterns_.end(), matches.size(), *globPath_);
  return true;
}

void TrashConfigFileParser::merge(FolderList* stored) {
  // Without configured folders (no parse, or a second call) there is
  // nothing to merge, and emptying the list would lose its history.
  if (!stored || !folders_) return;
  FolderList merged;
  merged.reserve(folders_->size());
  for (TrashFolder& configured : *folders_) {
    const Value path = configured.value("data.path");
    const Value& pattern = configured.value("data.glob");
    globPath_.reset();
    if (pattern.isText()) globPath_ = std::string(pattern.asText());

    bool tookAny = false;
    for (size_t place = 0; place < stored->size();) {
      const TrashFolder& candidate = (*stored)[place];
      const Value& storedPath = candidate.value("data.path");
      const bool samePath = path == storedPath;
      if (!samePath && !(globPath_ && storedPath.isText() &&
                         pathMatchesPattern(std::string(storedPath.asText()), *globPath_))) {
        ++place;
        continue;
      }
      configured.mergeFolder(candidate);
      stored->erase(stored->begin() + static_cast<ptrdiff_t>(place));
      merged.push_back(configured);
      tookAny = true;
      if (samePath) break;
      // The record that followed now stands at |place|.
    }
    if (!tookAny && !globPath_) merged.push_back(std::move(configured));
    globPath_.reset();
  }
  *stored = std::move(merged);
  folders_.reset();
  folderPatterns_.clear();
}

}  // namespace sweeprun
