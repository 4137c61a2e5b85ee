#include "companion/config_import.h"

#include <algorithm>

#include "model/record_keys.h"
#include "os/localization.h"

namespace sweeprun {

namespace {

bool hasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?[\\") != std::string_view::npos;
}

}  // namespace

ImportOutcome importConfiguredFolders(TrashConfigFileParser& parser, FolderList& stored) {
  ImportOutcome outcome;
  // The merge consumes the configured folders; keep the pattern folders to
  // tell afterwards which of them found nothing.
  FolderList patterns;
  if (parser.folders()) {
    for (const TrashFolder& folder : *parser.folders()) {
      if (folder.value(folder_key::kUnmatchedPattern).isText()) patterns.push_back(folder);
    }
  }

  FolderList merged = stored;
  parser.merge(&merged);

  for (const TrashFolder& pattern : patterns) {
    const Value& text = pattern.value(folder_key::kUnmatchedPattern);
    const bool tookAny = std::any_of(merged.begin(), merged.end(), [&](const TrashFolder& f) {
      return f.value(folder_key::kUnmatchedPattern) == text;
    });
    if (tookAny) continue;
    if (pattern.value(folder_key::kMayBeAbsent).asBool() && !hasWildcard(text.asText())) {
      // A folder on a volume that is not mounted now is still a folder to watch.
      TrashFolder folder(pattern);
      folder.data.remove(folder_key::kUnmatchedPattern);
      merged.push_back(std::move(folder));
      continue;
    }
    outcome.warnings.push_back(
        localized("'%@' matches no folder on disk and no watched folder; it was not imported",
                  {text.asText()}));
  }

  // Stored folders keep their places; the merged ones take the place of the
  // stored folder whose history they took.
  FolderList result;
  result.reserve(stored.size() + merged.size());
  std::vector<bool> placed(merged.size(), false);
  for (const TrashFolder& old : stored) {
    auto match = std::find_if(merged.begin(), merged.end(), [&](const TrashFolder& f) {
      return !placed[static_cast<size_t>(&f - merged.data())] &&
             f.value(folder_key::kPath) == old.value(folder_key::kPath);
    });
    if (match == merged.end()) {
      result.push_back(old);
      continue;
    }
    placed[static_cast<size_t>(match - merged.begin())] = true;
    result.push_back(*match);
    ++outcome.updated;
  }
  for (size_t i = 0; i < merged.size(); ++i) {
    if (placed[i]) continue;
    result.push_back(std::move(merged[i]));
    ++outcome.added;
  }
  stored = std::move(result);
  return outcome;
}

}  // namespace sweeprun
