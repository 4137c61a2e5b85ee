#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "model/trash_application.h"
#include "model/trash_folder.h"

namespace sweeprun {

/// The folders a configuration file watches, each with the "Path" text it
/// came from, until they are joined with the folder database: add() at the
/// end of each folder entry, mergeInto() once the database has been read.
class ConfiguredFolders {
 public:
  /// Begins the list ("Folders" was read), with room for |expected| entries.
  void start(size_t expected);

  /// Adds the folders of one entry: |folder| once per path that |pattern|
  /// (its "Path" text) matches on disk, in the order of the paths, or once
  /// as a pattern folder (its "glob" set to |pattern|) when nothing matches.
  /// Paths are resolved as |world| says. False, with the message in |error|
  /// and the list unchanged, when the expansion looks at more than the
  /// world's maxPatternEntriesVisited entries.
  bool add(TrashFolder folder, const std::string& pattern, const RunWorld& world,
           std::string& error);

  /// The configured folders, in the order the file gave them; none before
  /// start() and after mergeInto().
  const std::optional<FolderList>& folders() const { return folders_; }
  /// The "Path" text each of folders() came from, in the same order.
  const std::vector<std::string>& patterns() const { return patterns_; }
  /// The entry each of folders() came from, counting the calls of add() from
  /// 1, in the same order.
  const std::vector<size_t>& entries() const { return entries_; }

  /// Merges the configured folders into the stored list, in place: each
  /// configured folder takes the state of the stored folder with its exact
  /// path, and a pattern folder that of every stored folder its pattern
  /// matches, one copy per folder taken. A configured folder without a
  /// stored one stays as it is; a pattern folder that took nothing and every
  /// stored folder not taken leave the list. Afterwards the configured
  /// folders are gone. Does nothing when |stored| is null or there are no
  /// configured folders.
  void mergeInto(FolderList* stored);

 private:
  std::optional<FolderList> folders_;
  std::vector<std::string> patterns_;
  std::vector<size_t> entries_;
  size_t entryCount_ = 0;
};

}  // namespace sweeprun
