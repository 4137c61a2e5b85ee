#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/keyed_archive.h"
#include "model/record_keys.h"
#include "model/trash_item.h"
#include "model/trash_rule.h"
#include "os/date.h"
#include "os/run_world.h"
#include "plist/value.h"

namespace sweeprun {

using ItemList = std::vector<TrashItem>;

/// The record of one watched folder: its settings and remembered state in
/// |data| (four-letter keys such as "path", "play", "ison", "last"), its
/// alias record, the entries it tracks and its rules.
class TrashFolder : public ArchivableObject {
 public:
  /// Actions ("play").
  enum Action : int64_t { kTrashAction = 0, kDeleteAction = 1, kMoveAction = 2 };

  /// A new record: the seven default keys and one default rule, no path,
  /// no alias, no items. The path argument is not stored.
  static TrashFolder folderWithPath(std::string_view path = {});
  /// Decodes a stored record: resolves its alias relative to the home
  /// folder of |world| (new alias records as setPath makes them), disables a folder whose alias
  /// fails (unless "temp"), and follows a moved folder in "path", "name" and the item paths.
  /// |withItems|, when given, picks by the folder's path (once resolved) the
  /// folders whose tracked entries are decoded at all; the others get no
  /// item list, as if the record had none, and must not be saved.
  using ItemSelection = std::function<bool(std::string_view folderPath)>;
  static TrashFolder fromCoder(KeyedDecoder& coder, const RunWorld& world,
                               const ItemSelection& withItems = nullptr);

  TrashFolder();
  /// Deep copy: data, every item and every rule; the alias bytes duplicated.
  /// A source without items or rules yields empty lists.
  TrashFolder(const TrashFolder& other);
  TrashFolder& operator=(const TrashFolder& other);
  TrashFolder(TrashFolder&&) = default;
  TrashFolder& operator=(TrashFolder&&) = default;

  std::string_view className() const override { return "TrashFolder"; }
  void encodeWithCoder(KeyedEncoder& coder) const override;

  /// Sets "path" (standardized against the home folder of |world|), "name"
  /// and a new alias record, made relative to the users folder in system
  /// mode and the home folder otherwise. A path that does not exist leaves
  /// the record without alias.
  void setPath(std::string_view path, const RunWorld& world);
  /// Takes the remembered state of the stored record |stored| (its "name",
  /// "path", "loud", "last", "next", "ckin", "cout", "busy", "hits", "bsiz" where
  /// present, its alias when this record has none, and its items array).
  void mergeFolder(const TrashFolder& stored);

  /// Turns the folder on or off at a person's word, which drops what a run
  /// recorded when it turned the folder off.
  void setEnabled(bool enabled);

  /// The date under the key; the reference date when absent.
  Date dateForKey(std::string_view key) const;
  void setDate(Date date, std::string_view key);
  /// Adds one to the unsigned counter under the key (absent counts as 0).
  void incrForKey(std::string_view key);

  /// The tracked entries; null before the first check.
  const std::shared_ptr<ItemList>& items() const { return items_; }
  void setItems(std::shared_ptr<ItemList> items) { items_ = std::move(items); }
  /// Index of the first tracked item equal to |item|, or -1.
  int32_t indexOfItem(const TrashItem& item) const;

  const std::vector<TrashRule>& rules() const { return ruls; }
  std::vector<TrashRule>& rules() { return ruls; }
  /// The key-path write of "ruls": replaces the whole rule list.
  void setRules(std::vector<TrashRule> rules) { ruls = std::move(rules); }

  /// Key-path access: "data.<key>" or the bare key both reach |data|.
  const Value& value(std::string_view keyPath) const;
  void setValue(std::string_view keyPath, Value value);
  std::string_view path() const { return data.get(folder_key::kPath).asText(); }

  /// The alias record's bytes; none when the record has no alias.
  const std::optional<std::string>& aliasRecord() const { return aliasH; }

  Dictionary data;

 private:
  std::optional<std::string> aliasH;
  std::shared_ptr<ItemList> items_;
  std::vector<TrashRule> ruls;
};

}  // namespace sweeprun
