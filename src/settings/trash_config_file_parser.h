#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/run_world.h"
#include "plist/value.h"
#include "settings/config_safety.h"
#include "settings/configured_folders.h"
#include "settings/settings.h"

namespace sweeprun {

class DirHandle;

/// The settings object of system and check mode: a private dictionary seeded
/// with the system-mode defaults and filled from the configuration file,
/// plus what the file says about the folder database (its path, the names
/// ignored everywhere, the configured folders).
class TrashConfigFileParser : public Settings, public FolderListMerger {
 public:
  /// A parser for a run in |world| (its mode, output, home and accounts
  /// folders, pattern bound), which must outlive it.
  explicit TrashConfigFileParser(const RunWorld& world);
  explicit TrashConfigFileParser(const RunWorld&& world) = delete;

  Value objectForKey(std::string_view key) const override;
  std::optional<std::string> stringForKey(std::string_view key) const override;
  void setObject(const Value& value, std::string_view key) override;

  /// Path of the folder database ("DataFile"), or none.
  const std::optional<std::string>& dbPath() const { return dbPath_; }
  std::optional<NameList> globalIgnoreList() const override { return ignores_; }

  /// Reads and validates the configuration file at |path|, applying each
  /// value as it passes. On the first fault, reports it (see
  /// reportParseError) and returns false.
  bool parse(const std::string& path);

  /// The message of the fault parse() reported, and the line that says which
  /// folder entry holds it ("In folder entry 2 (Path '/srv/inbox') of
  /// FILE."; empty when the fault belongs to no entry).
  const std::string& fault() const { return fault_; }
  const std::string& faultPlace() const { return faultPlace_; }

  /// Merges the configured folders into the stored list, in place (see
  /// ConfiguredFolders::mergeInto; a pattern folder is one whose "Path"
  /// matched nothing on disk). Does nothing when |stored| is null.
  void merge(FolderList* stored) override { configured_.mergeInto(stored); }

  /// The configured folders, in the order the file gave them; none before
  /// "Folders" was read and after merge().
  const std::optional<FolderList>& folders() const { return configured_.folders(); }

  /// Empty when a run may check the watched folder |folder|, opened by
  /// |path|; else why not, as the parse words it (see
  /// ConfigSafety::refusalOfWatchedFolder).
  std::string refusalOfWatchedFolder(const std::string& path, const DirHandle& folder) const {
    return safety().refusalOfWatchedFolder(path, folder);
  }

  /// The configuration-file key vocabulary; a key's position is its code.
  static const std::array<std::string_view, 24> xmlKeys;
  /// Folder-record keys for the key codes 0 to 5.
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
  /// "Budget": a text with a byte unit, or a number of bytes.
  bool applyBudget(const Value& item, std::string& error);
  /// The root's required keys, then the metrics file and the safety of the
  /// paths the file names (ConfigSafety); a refused watched folder sets the
  /// place of the fault to its entry.
  bool checkRoot(std::string& error);
  /// The judge of the paths the file names, as read so far.
  ConfigSafety safety() const;
  /// Appends the rule of one condition expression to |rules_|; for an age
  /// condition also sets the current folder's "once".
  bool parseRule(const std::string& text, std::string& error);
  /// The line naming folder entry |entry| (counted from 1) of the file and
  /// its "Path" text |path|, which it may lack.
  std::string entryPlace(size_t entry, std::optional<std::string_view> path) const;
  /// "Error: %s" on standard output in check mode, "Error parsing config
  /// file: %@" in the system log otherwise; the folder entry that holds the
  /// fault, if one does, follows on a line of its own (a record of its own
  /// in the system log).
  void reportParseError(const std::string& message);

  const RunWorld& world_;
  Dictionary data_;
  std::optional<NameList> ignores_;
  ConfiguredFolders configured_;
  /// The file parse() reads.
  std::string configFile_;
  std::string fault_;
  std::string faultPlace_;
  std::optional<std::vector<TrashRule>> rules_;
  std::optional<TrashFolder> folder_;
  std::optional<std::string> dbPath_;
  std::optional<std::string> globPath_;
};

}  // namespace sweeprun
