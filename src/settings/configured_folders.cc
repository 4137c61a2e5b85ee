#include "settings/configured_folders.h"

#include "fs/path_match.h"
#include "model/record_keys.h"
#include "os/localization.h"

namespace sweeprun {

void ConfiguredFolders::start(size_t expected) {
  folders_.emplace();
  folders_->reserve(expected);
  patterns_.clear();
  patterns_.reserve(expected);
  entries_.clear();
  entries_.reserve(expected);
  entryCount_ = 0;
}

bool ConfiguredFolders::add(TrashFolder folder, const std::string& pattern,
                            const RunWorld& world, std::string& error) {
  const size_t maxEntriesVisited = world.maxPatternEntriesVisited;
  const PatternExpansion expansion = expandPathPattern(pattern, maxEntriesVisited);
  if (expansion.tooManyEntries) {
    error = localized(
        "Path '%@' matches too many entries: more than %@ were looked at. Give a narrower "
        "pattern.",
        {pattern, std::to_string(maxEntriesVisited)});
    return false;
  }
  if (!folders_) folders_.emplace();
  const size_t entry = ++entryCount_;
  const std::vector<std::string>& matches = expansion.paths;
  if (matches.empty()) {
    // Nothing on disk (yet): the text stays a pattern for stored folders,
    // e.g. on a volume that is not mounted now.
    folder.setPath(pattern, world);
    folder.setValue(folder_key::kUnmatchedPattern, Value::text(pattern));
    folders_->push_back(std::move(folder));
    patterns_.push_back(pattern);
    entries_.push_back(entry);
    return true;
  }
  folder.setPath(matches.front(), world);
  const size_t first = folders_->size();
  folders_->push_back(std::move(folder));
  for (size_t i = 1; i < matches.size(); ++i) {
    TrashFolder copy((*folders_)[first]);
    copy.setPath(matches[i], world);
    folders_->push_back(std::move(copy));
  }
  patterns_.insert(patterns_.end(), matches.size(), pattern);
  entries_.insert(entries_.end(), matches.size(), entry);
  return true;
}

void ConfiguredFolders::mergeInto(FolderList* stored) {
  // Without configured folders (no parse, or a second call) there is
  // nothing to merge, and emptying the list would lose its history.
  if (!stored || !folders_) return;
  FolderList merged;
  merged.reserve(folders_->size());
  for (TrashFolder& configured : *folders_) {
    const Value path = configured.value(folder_key::kPath);
    const Value& patternValue = configured.value(folder_key::kUnmatchedPattern);
    std::optional<std::string> pattern;
    if (patternValue.isText()) pattern = std::string(patternValue.asText());

    bool tookAny = false;
    for (size_t place = 0; place < stored->size();) {
      const TrashFolder& candidate = (*stored)[place];
      const Value& storedPath = candidate.value(folder_key::kPath);
      const bool samePath = path == storedPath;
      if (!samePath && !(pattern && storedPath.isText() &&
                         pathMatchesPattern(std::string(storedPath.asText()), *pattern))) {
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
    if (!tookAny && !pattern) merged.push_back(std::move(configured));
  }
  *stored = std::move(merged);
  folders_.reset();
  patterns_.clear();
  entries_.clear();
}

}  // namespace sweeprun
