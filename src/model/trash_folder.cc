#include "model/trash_folder.h"

#include <algorithm>
#include <string>
#include <utility>

#include "fs/alias_record.h"
#include "fs/path.h"
#include "log/terminal_text.h"
#include "log/trash_log.h"
#include "model/key_path.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/memory_advice.h"

namespace sweeprun {

namespace {

// The remembered state that a stored record hands to the configured one.
constexpr std::string_view kMergedKeys[] = {
    folder_key::kName,           folder_key::kPath,           folder_key::kRemovedByLastCheck,
    folder_key::kLastCheck,      folder_key::kCheckAgainOn,   folder_key::kTakenIn,
    folder_key::kMovedOut,       folder_key::kCompanionState, folder_key::kChecks,
    folder_key::kSizeAtLastCheck};

// The base directory new alias records are made relative to.
const std::string& aliasBase(const RunWorld& world) {
  return world.systemMode ? world.usersFolder : world.homeDirectory;
}

// True when |path| is |folder| itself or lies inside it. A plain prefix test
// would also take "/a/Inbox2/x" for the folder "/a/Inbox".
bool isWithin(std::string_view path, std::string_view folder) {
  if (path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' ||
         (!folder.empty() && folder.back() == '/');
}

std::vector<TrashRule> decodeRules(KeyedDecoder& coder) {
  std::vector<TrashRule> rules;
  coder.decodeObjectArray(archive_key::kFolderRules, "TrashRule", [&rules](KeyedDecoder& element) {
    rules.push_back(TrashRule::fromCoder(element));
  });
  return rules;
}

std::shared_ptr<ItemList> decodeItems(KeyedDecoder& coder) {
  auto items = std::make_shared<ItemList>();
  // Room for every stored entry at once: growing by doubling would hold the
  // old and the new array together, half again the list's size. A count far
  // beyond any real folder is left to grow as the records come.
  constexpr size_t kLargestReservation = size_t{1} << 22;
  items->reserve(std::min(coder.objectArrayCount(archive_key::kFolderItems), kLargestReservation));
  // Filled whole right away: large pages spare most of its page faults.
  adviseLargePages(items->data(), items->capacity() * sizeof(TrashItem));
  DirectoryInterner directories;
  const bool present = coder.decodeObjectArray(
      archive_key::kFolderItems, "TrashItem", [&items, &directories](KeyedDecoder& element) {
        items->push_back(TrashItem::fromCoder(element, directories));
      });
  if (!present) return nullptr;
  return items;
}

}  // namespace

TrashFolder TrashFolder::folderWithPath(std::string_view /*path*/) {
  TrashFolder folder;
  folder.data.reserve(7);
  folder.data.set(folder_key::kRemovedByLastCheck, Value::integer(0));
  folder.data.set(folder_key::kAction, Value::integer(kTrashAction));
  folder.data.set(folder_key::kDestination, Value::text(""));
  folder.data.set(folder_key::kDatedFolder, Value::boolean(false));
  folder.data.set(folder_key::kEnabled, Value::boolean(true));
  folder.data.set(folder_key::kMayBeAbsent, Value::boolean(false));
  folder.data.set(folder_key::kMatchAll, Value::integer(1));
  folder.ruls.push_back(TrashRule::trashRule());
  return folder;
}

void TrashFolder::setEnabled(bool enabled) {
  data.set(folder_key::kEnabled, Value::boolean(enabled));
  data.remove(folder_key::kDisabledOn);
  data.remove(folder_key::kDisabledBecause);
}

TrashFolder TrashFolder::fromCoder(KeyedDecoder& coder, const RunWorld& world,
                                   const ItemSelection& withItems) {
  TrashFolder folder;
  const std::string aliasBytes = coder.decodeBytes(archive_key::kFolderAlias);
  // An empty alias record is no alias record: it never resolves, and a merge
  // must not prefer it over a real one.
  if (!aliasBytes.empty()) folder.aliasH = aliasBytes;

  Value stored = coder.decodeValue(archive_key::kFolderData);
  if (Dictionary* dictionary = stored.dictionaryPtr()) folder.data = std::move(*dictionary);
  if (!folder.data.contains(folder_key::kMayBeAbsent))
    folder.data.set(folder_key::kMayBeAbsent, Value::boolean(false));

  // Stored aliases resolve against the home folder in every mode, even those
  // made against the users folder in system mode.
  const std::string storedPath(folder.path());
  const AliasResolution resolution =
      resolveAliasRecord(aliasBytes, world.homeDirectory, storedPath);

  std::optional<std::string> oldPath;
  if (resolution.resultCode != 0) {
    if (!folder.data.get(folder_key::kMayBeAbsent).asBool()) {
      const bool wasEnabled = folder.data.get(folder_key::kEnabled).asBool();
      folder.data.set(folder_key::kEnabled, Value::boolean(false));
      const std::string shown = terminalText(storedPath);
      TrashLog::err(world.runLog, localized("Unable to resolve alias to '%@' (Error %d).",
                                            {shown, std::to_string(resolution.resultCode)}));
      if (wasEnabled) {
        // Said once, when the folder is turned off; what list and show say
        // after, from the two keys.
        folder.setDate(world.clock(), folder_key::kDisabledOn);
        folder.data.set(folder_key::kDisabledBecause, Value::text(folder_key::kFolderNotFound));
        TrashLog::warn(world.runLog,
                       localized("Folder '%@' was not found, so runs no longer check it; once it "
                                 "is back, turn it on again with: sweeply enable '%@'",
                                 {shown, shown}));
      }
    }
  } else if (resolution.changed) {
    oldPath = storedPath;
    const std::string newPath = standardizePath(resolution.path, world.homeDirectory);
    folder.data.set(folder_key::kPath, Value::text(newPath));
    // Keep the record current, so the next run finds the folder at once.
    if (auto remade = makeAliasRecord(newPath, aliasBase(world))) folder.aliasH = std::move(remade);
  }
  if (folder.data.get(folder_key::kPath).isText())
    folder.data.set(folder_key::kName, Value::text(lastPathComponent(folder.path())));

  // Reports on folders read only their settings: the entries are most of
  // the archive.
  if (!withItems || withItems(folder.path())) folder.items_ = decodeItems(coder);
  if (oldPath && folder.items_ && !oldPath->empty()) {
    const std::string newPath(folder.path());
    for (TrashItem& item : *folder.items_) {
      if (!item.hasPath()) continue;
      const std::string itemPath = item.path();
      if (!isWithin(itemPath, *oldPath)) continue;
      std::string_view rest = std::string_view(itemPath).substr(oldPath->size());
      if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
      item.setValue(item_key::kPath, Value::text(rest.empty() ? newPath : joinPath(newPath, rest)));
    }
  }
  folder.ruls = decodeRules(coder);
  return folder;
}

TrashFolder::TrashFolder() = default;

TrashFolder::TrashFolder(const TrashFolder& other)
    : ArchivableObject(other),
      data(other.data),
      aliasH(other.aliasH),
      items_(std::make_shared<ItemList>()),
      ruls(other.ruls) {
  if (other.items_) *items_ = *other.items_;
}

TrashFolder& TrashFolder::operator=(const TrashFolder& other) {
  if (this != &other) *this = TrashFolder(other);
  return *this;
}

void TrashFolder::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeBytes(archive_key::kFolderAlias,
                    aliasH ? std::string_view(*aliasH) : std::string_view());
  coder.encodeDictionary(archive_key::kFolderData, data);
  if (items_) {
    const ItemList& items = *items_;
    // One adapter serves every item in turn: the archive is done with
    // each record before it asks for the next.
    struct ItemRecord : ArchivableObject {
      const TrashItem* item = nullptr;
      std::string_view className() const override { return item->className(); }
      void encodeWithCoder(KeyedEncoder& c) const override { item->encodeWithCoder(c); }
    } record;
    coder.encodeObjectArray(archive_key::kFolderItems, items.size(),
                            [&items, &record](size_t i) -> const ArchivableObject& {
                              record.item = &items[i];
                              return record;
                            });
  } else {
    coder.encodeValue(archive_key::kFolderItems, Value::none());
  }
  coder.encodeObjectArray(archive_key::kFolderRules, ruls.size(),
                          [this](size_t i) -> const ArchivableObject& { return ruls[i]; });
}

void TrashFolder::setPath(std::string_view path, const RunWorld& world) {
  const std::string standardized = standardizePath(path, world.homeDirectory);
  data.set(folder_key::kPath, Value::text(standardized));
  data.set(folder_key::kName, Value::text(lastPathComponent(standardized)));
  aliasH = makeAliasRecord(standardized, aliasBase(world));
}

void TrashFolder::mergeFolder(const TrashFolder& stored) {
  for (std::string_view key : kMergedKeys) {
    const Value& value = stored.data.get(key);
    if (!value.isNone()) data.set(key, value);
  }
  if (!aliasH && stored.aliasH) aliasH = stored.aliasH;
  items_ = stored.items_;
}

Date TrashFolder::dateForKey(std::string_view key) const { return data.get(key).asDate(); }

void TrashFolder::setDate(Date date, std::string_view key) {
  data.set(key, Value::real(date.seconds));
}

void TrashFolder::incrForKey(std::string_view key) {
  data.set(key, Value::unsignedInteger(data.get(key).asUnsigned() + 1));
}

int32_t TrashFolder::indexOfItem(const TrashItem& item) const {
  if (!items_) return -1;
  const ItemList& items = *items_;
  for (size_t i = 0; i < items.size(); ++i)
    if (item.isEqualToTrashItem(items[i])) return static_cast<int32_t>(i);
  return -1;
}

const Value& TrashFolder::value(std::string_view keyPath) const {
  return data.get(dataKeyOf(keyPath));
}

void TrashFolder::setValue(std::string_view keyPath, Value value) {
  data.set(dataKeyOf(keyPath), std::move(value));
}

}  // namespace sweeprun
