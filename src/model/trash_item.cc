#include "model/trash_item.h"

#include <optional>
#include <utility>

#include "model/key_path.h"
#include "fs/path.h"
#include "os/process.h"

namespace sweeprun {

namespace {

// A folder check makes one record per listed entry; interned keys spare each
// of them the key lookups.
struct ItemKeys {
  Key path{"path"}, fnum{"fnum"}, size{"size"}, cdat{"cdat"}, mdat{"mdat"}, idat{"idat"},
      hits{"hits"};
};

const ItemKeys& keys() {
  static const ItemKeys* k = new ItemKeys();
  return *k;
}

}  // namespace

TrashItem TrashItem::trashItemWithPath(const std::string& path) {
  const std::string standardized = standardizePath(path, process().homeDirectory);
  const std::optional<EntryAttributes> attributes = attributesOfItemAtPath(standardized);
  return withAttributes(standardized, attributes ? &*attributes : nullptr, process().clock());
}

TrashItem TrashItem::withAttributes(std::string_view path, const EntryAttributes* attributes,
                                    Date now) {
  const ItemKeys& k = keys();
  TrashItem item;
  const bool hasCreation = attributes && attributes->creationDate;
  const bool hasModification = attributes && attributes->modificationDate;
  // Exactly as many slots as keys, so a million tracked entries carry no
  // spare capacity.
  item.data.reserve(5 + hasCreation + hasModification);
  item.data.set(k.path, Value::text(path));
  item.data.set(k.fnum, Value::unsignedInteger(attributes ? attributes->fileNumber : 0));
  item.data.set(k.size, Value::unsignedInteger(attributes ? attributes->size : 0));
  if (hasCreation) item.data.set(k.cdat, Value::date(*attributes->creationDate));
  if (hasModification) item.data.set(k.mdat, Value::date(*attributes->modificationDate));
  item.data.set(k.idat, Value::date(now));
  item.data.set(k.hits, Value::unsignedInteger(0));
  return item;
}

TrashItem TrashItem::fromCoder(KeyedDecoder& coder) {
  TrashItem item;
  Value stored = coder.decodeValue("idat");
  if (Dictionary* dictionary = stored.dictionaryPtr()) item.data = std::move(*dictionary);
  return item;
}

void TrashItem::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeDictionary("idat", data);
}

bool TrashItem::isEqualToTrashItem(const TrashItem& other) const {
  if (data.get("fnum").asUnsigned() != other.data.get("fnum").asUnsigned()) return false;
  const Value& mine = data.get("path");
  const Value& theirs = other.data.get("path");
  return mine.isText() && theirs.isText() && mine.asText() == theirs.asText();
}

void TrashItem::incrHits() {
  // A record decoded without "hits" counts from zero.
  data.set(keys().hits, Value::unsignedInteger(data.get("hits").asUnsigned() + 1));
}

const Value& TrashItem::value(std::string_view keyPath) const {
  return data.get(dataKeyOf(keyPath));
}

void TrashItem::setValue(std::string_view keyPath, Value value) {
  data.set(dataKeyOf(keyPath), std::move(value));
}

}  // namespace sweeprun
