#include "model/trash_folder.h"

#include <algorithm>
#include <string>
#include <utility>

#include "fs/alias_record.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/key_path.h"
#include "os/localization.h"
#include "os/process.h"

namespace sweeprun {

namespace {

// The remembered state that a stored record hands to the configured one.
constexpr std::string_view kMergedKeys[] = {"name", "path", "loud", "last", "next",
                                            "ckin", "cout", "busy", "hits"};

// The base directory new alias records are made relative to.
const std::string& aliasBase() {
  return process().systemMode ? process().usersFolder : process().homeDirectory;
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
  coder.decodeObjectArray("full", "TrashRule", [&rules](KeyedDecoder& element) {
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
  items->reserve(std::min(coder.objectArrayCount("fist"), kLargestReservation));
  const bool present = coder.decodeObjectArray(
      "fist", "TrashItem",
      [&items](KeyedDecoder& element) { items->push_back(TrashItem::fromCoder(element)); });
  if (!present) return nullptr;
  return items;
}

}  // namespace

TrashFolder TrashFolder::folderWithPath(std::string_view /*path*/) {
  TrashFolder folder;
  folder.data.reserve(7);
  folder.data.set("loud", Value::integer(0));
  folder.data.set("play", Value::integer(kTrashAction));
  folder.data.set("move", Value::text(""));
  folder.data.set("datf", Value::boolean(false));
  folder.data.set("ison", Value::boolean(true));
  folder.data.set("temp", Value::boolean(false));
  folder.data.set("gran", Value::integer(1));
  folder.ruls.push_back(TrashRule::trashRule());
  return folder;
}

TrashFolder TrashFolder::fromCoder(KeyedDecoder& coder) {
  TrashFolder folder;
  const std::string aliasBytes = coder.decodeBytes("fink");
  // An empty alias record is no alias record: it never resolves, and a merge
  // must not prefer it over a real one.
  if (!aliasBytes.empty()) folder.aliasH = aliasBytes;

  Value stored = coder.decodeValue("fdat");
  if (Dictionary* dictionary = stored.dictionaryPtr()) folder.data = std::move(*dictionary);
  if (!folder.data.contains("temp")) folder.data.set("temp", Value::boolean(false));

  // Stored aliases resolve against the home folder in every mode, even those
  // made against the users folder in system mode.
  const std::string storedPath(folder.path());
  const AliasResolution resolution =
      resolveAliasRecord(aliasBytes, process().homeDirectory, storedPath);

  std::optional<std::string> oldPath;
  if (resolution.resultCode != 0) {
    if (!folder.data.get("temp").asBool()) {
      folder.data.set("ison", Value::boolean(false));
      TrashLog::err(localized("Unable to resolve alias to '%@' (Error %d).",
                              {storedPath, std::to_string(resolution.resultCode)}));
    }
  } else if (resolution.changed) {
    oldPath = storedPath;
    const std::string newPath = standardizePath(resolution.path, process().homeDirectory);
    folder.data.set("path", Value::text(newPath));
    // Keep the record current, so the next run finds the folder at once.
    if (auto remade = makeAliasRecord(newPath, aliasBase())) folder.aliasH = std::move(remade);
  }
  if (folder.data.get("path").isText())
    folder.data.set("name", Value::text(lastPathComponent(folder.path())));

  folder.items_ = decodeItems(coder);
  if (oldPath && folder.items_ && !oldPath->empty()) {
    const std::string newPath(folder.path());
    for (TrashItem& item : *folder.items_) {
      if (!item.hasPath()) continue;
      const std::string itemPath = item.path();
      if (!isWithin(itemPath, *oldPath)) continue;
      std::string_view rest = std::string_view(itemPath).substr(oldPath->size());
      if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
      item.setValue("path", Value::text(rest.empty() ? newPath : joinPath(newPath, rest)));
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
  coder.encodeBytes("fink", aliasH ? std::string_view(*aliasH) : std::string_view());
  coder.encodeDictionary("fdat", data);
  if (items_) {
    const ItemList& items = *items_;
    coder.encodeObjectArray("fist", items.size(),
                            [&items](size_t i) -> const ArchivableObject& { return items[i]; });
  } else {
    coder.encodeValue("fist", Value::none());
  }
  coder.encodeObjectArray("full", ruls.size(),
                          [this](size_t i) -> const ArchivableObject& { return ruls[i]; });
}

void TrashFolder::setPath(std::string_view path) {
  const std::string standardized = standardizePath(path, process().homeDirectory);
  data.set("path", Value::text(standardized));
  data.set("name", Value::text(lastPathComponent(standardized)));
  aliasH = makeAliasRecord(standardized, aliasBase());
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
