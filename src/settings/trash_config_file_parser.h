#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "platform/value.h"
#include "settings/settings.h"

namespace sweeprun {

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

  /// Merges the configured folders into the stored list (in place).
  void merge(FolderList* stored) override;

  /// The configuration-file key vocabulary; a key's position is its code.
  static const std::array<std::string_view, 21> xmlKeys;
  /// Folder-record key paths for the key codes 0 to 5.
  static const std::array<std::string_view, 6> tlxKeys;

 private:
  Dictionary data_;
  std::optional<NameList> ignores_;
  std::optional<FolderList> folders_;
  std::optional<std::vector<TrashRule>> rules_;
  std::optional<TrashFolder> folder_;
  std::optional<std::string> dbPath_;
  std::optional<std::string> globPath_;
};

}  // namespace sweeprun
