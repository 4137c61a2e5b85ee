#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/folder_identity.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "plist/value.h"
#include "settings/settings.h"

namespace sweeprun {

class DirHandle;

/// The settings object of system and check mode: a private dictionary seeded
/// with the system-mode defaults and filled from the configuration file,
/// plus what the file says about the folder database (its path, the names
/// ignored everywhere, the configured folders).
class TrashConfigFileParser : public Settings, public FolderListMerger {
 public:
  TrashConfigFileParser();

  Value objectForKey(std::string_view key) const override;
  std::optional<std::string> stringForKey(std::string_view key) const override;
  void setObject(const Value& value, std::string_view key) override;

  /// Path of the folder database ("DataFile"), or none.
  const std::optional<std::string>& dbPath() const { return dbPath_; }
  std::optional<NameList> globalIgnoreList() const override { return ignores_; }

  /// Reads and validates the configuration file at |path|, applying each
  /// value as it passes. On the first fault, reports it ("Error: %s" on
  /// standard output in check mode, "Error parsing config file: %@" in the
  /// system log otherwise) and returns false.
  bool parse(const std::string& path);

  /// Merges the configured folders into the stored list, in place: each
  /// configured folder takes the state of the stored folder with its exact
  /// path, and a pattern folder (one whose "Path" matched nothing on disk)
  /// that of every stored folder its pattern matches, one copy per folder
  /// taken. A configured folder without a stored one stays as it is; a
  /// pattern folder that took nothing and every stored folder not taken
  /// leave the list. Afterwards the configured folders are gone. Does
  /// nothing when |stored| is null.
  void merge(FolderList* stored) override;

  /// The configured folders, in the order the file gave them; none before
  /// "Folders" was read and after merge().
  const std::optional<FolderList>& folders() const { return folders_; }

  /// Empty when a run may check the watched folder |folder|, opened by
  /// |path|; else why not, as the parse words it: the folder is the root,
  /// the accounts folder, or holds the configuration file, the database, the
  /// run log, the journal or the metrics file, by its path or by what it is
  /// (a link or a /proc path to one of them counts as the folder itself).
  std::string refusalOfWatchedFolder(const std::string& path, const DirHandle& folder) const;

  /// The configuration-file key vocabulary; a key's position is its code.
  static const std::array<std::string_view, 22> xmlKeys;
  /// Folder-record key paths for the key codes 0 to 5.
  static const std::array<std::string_view, 6> tlxKeys;

 private:
  // The walk of the file. Each returns false with the message of the first
  // fault in |error|; |index| is the key code, |level| the nesting level
  // (0 the root, 1 its keys, 2 their elements, 3 the keys of a folder
  // entry, 4 the elements of its condition list).
  bool parseItem(const Value& item, int index, int level, std::string& error);
  bool parseDict(const Dictionary& dict, int level, std::string& error);
  bool parseArray(const Array& array, int index, int level, std::string& error);
  /// The key and kind test: may the key of |index| stand at |level|, and
  /// does |item| have the kind it asks for?
  bool verifyItem(const Value& item, int index, int level, std::string& error);
  /// Applies a value that has passed verifyItem (and, for a container, the
  /// walk of its contents).
  bool applyItem(const Value& item, int index, int level, std::string& error);
  bool applyAction(std::string_view action, std::string& error);
  bool checkRoot(std::string& error) const;
  /// The refusals that keep a run from harming the system or its own files:
  /// the database and the run log in folders only root can change, and no
  /// watched folder that is the root, the accounts folder or a folder that
  /// holds the configuration file, the database, the run log, the metrics
  /// file or the journal (see refusalOfWatchedFolder).
  bool checkSafety(std::string& error) const;
  /// One of the tool's own files, which no watched folder may hold.
  struct OwnFile {
    std::string_view refusal;             // the message: pattern, watched folder, file
    std::string path;                     // standardized
    std::vector<FolderIdentity> holders;  // the folders that really hold it
  };
  /// The folders no watched folder may be.
  struct GuardedFolders {
    std::optional<FolderIdentity> root;
    std::string accounts;  // standardized
    std::optional<FolderIdentity> accountsIdentity;
    std::vector<OwnFile> files;
  };
  GuardedFolders guardedFolders() const;
  /// Empty, or why the folder at |path| (from the "Path" text |pattern|),
  /// which is |identity| when it opens, may not be watched.
  std::string watchedFolderRefusal(const GuardedFolders& guarded, const std::string& pattern,
                                   const std::string& path,
                                   const std::optional<FolderIdentity>& identity) const;
  /// "MetricsFile", when given: an absolute path; in check mode also one in
  /// an existing folder. Whatever the path holds is left to the run.
  bool checkMetricsFile(std::string& error) const;
  /// Appends the rule of one condition expression to |rules_|; for an age
  /// condition also sets the current folder's "once".
  bool parseRule(const std::string& text, std::string& error);
  /// Turns the current folder entry into configured folders: one per path
  /// that "Path" matches on disk, or one pattern folder when none does.
  /// False, with the message, when the pattern looks at too many entries.
  bool glob(std::string& error);

  Dictionary data_;
  std::optional<NameList> ignores_;
  std::optional<FolderList> folders_;
  /// The "Path" text each of |folders_| came from, in the same order.
  std::vector<std::string> folderPatterns_;
  /// The file parse() reads.
  std::string configFile_;
  std::optional<std::vector<TrashRule>> rules_;
  std::optional<TrashFolder> folder_;
  std::optional<std::string> dbPath_;
  std::optional<std::string> globPath_;
};

}  // namespace sweeprun
