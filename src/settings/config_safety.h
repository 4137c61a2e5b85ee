#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/folder_identity.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "os/run_world.h"
#include "settings/watch_guard.h"

namespace sweeprun {

class DirHandle;

/// The refusals of a configuration file that keep a system-mode run, which
/// works as root, from being turned against the system or against its own
/// files. They judge the whole file at once, since the keys they relate
/// come in no defined order.
class ConfigSafety {
 public:
  /// The tool's own files, as the configuration file words them.
  struct OwnFiles {
    std::string configFile;                  // relative to the home folder
    std::optional<std::string> dataFile;     // "DataFile"
    std::optional<std::string> logFile;      // "LogFileName", when "LogToFile" is on
    std::optional<std::string> metricsFile;  // "MetricsFile"
  };

  /// Judges |files| in |world| (its mode, home and accounts folders), which
  /// must outlive this object.
  ConfigSafety(const RunWorld& world, OwnFiles files);
  ConfigSafety(const RunWorld&& world, OwnFiles files) = delete;

  /// "MetricsFile", when given: an absolute path; in check mode also one in
  /// an existing folder. Whatever the path holds is left to the run.
  bool checkMetricsFile(std::string& error) const;

  /// The database (which must be given) and the run log in folders only
  /// root can change, and none of |folders|, each from the "Path" text of
  /// |patterns| at the same place, that refusalOfWatchedFolder would refuse.
  /// False with the first refusal in |error|; when that is about one of
  /// |folders|, its place goes to |refused| (if given), which is otherwise
  /// set past the last folder.
  bool checkFiles(const FolderList& folders, const std::vector<std::string>& patterns,
                  std::string& error, size_t* refused = nullptr) const;

  /// Empty when a run may check the watched folder |folder|, opened by
  /// |path|; else why not: the folder is the root, the accounts folder, or
  /// holds the configuration file, the database, the run log, the journal or
  /// the metrics file, by its path or by what it is (a link or a /proc path
  /// to one of them counts as the folder itself).
  std::string refusalOfWatchedFolder(const std::string& path, const DirHandle& folder) const;

 private:
  /// The folders no watched folder may be and the files none may hold, each
  /// tagged with its refusal (pattern, watched folder, guarded file).
  /// Looked up afresh for each judgement, since the folders on disk change
  /// while a run goes on.
  WatchGuard guardedFolders() const;
  /// Empty, or why the folder at |path| (from the "Path" text |pattern|),
  /// which is |identity| when it opens, may not be watched.
  std::string watchedFolderRefusal(const WatchGuard& guarded, const std::string& pattern,
                                   const std::string& path,
                                   const std::optional<FolderIdentity>& identity) const;

  const RunWorld& world_;
  OwnFiles files_;
};

}  // namespace sweeprun
