#include "model/trash_item.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "fs/path.h"
#include "model/key_path.h"
#include "model/record_keys.h"

namespace sweeprun {

namespace {

// The keys of the fields, in the order a fresh record stores them.
struct ItemKeys {
  Key path{item_key::kPath}, fnum{item_key::kFileNumber}, size{item_key::kSize},
      cdat{item_key::kCreated}, mdat{item_key::kModified}, idat{item_key::kCheckedIn},
      hits{item_key::kChecks};
  Key of(int field) const {
    switch (field) {
      case 0:
        return path;
      case 1:
        return fnum;
      case 2:
        return size;
      case 3:
        return cdat;
      case 4:
        return mdat;
      case 5:
        return idat;
      default:
        return hits;
    }
  }
};

const ItemKeys& keys() {
  static const ItemKeys* k = new ItemKeys();
  return *k;
}

}  // namespace

const std::string* DirectoryInterner::intern(std::string_view directory) {
  if (!last_ || *last_ != directory) last_ = &Key(directory).str();
  return last_;
}

// What the fields do not hold: the keys in stored order, and the values of
// those that are not held in a field.
struct TrashItem::Extras {
  std::vector<Key> order;
  Dictionary values;
};

// Takes the entries of a stored dictionary straight into the fields.
class TrashItem::Reader : public DictionaryVisitor {
 public:
  Reader(TrashItem& item, DirectoryInterner& directories)
      : item_(item), directories_(directories), k_(keys()) {}
  void text(Key key, std::string_view text) override {
    if (key == k_.path && item_.takesInPlace(kPathField)) {
      item_.storePath(text, directories_);
      return;
    }
    item_.set(key, Value::text(text));
  }
  void unsignedNumber(Key key, uint64_t number) override {
    if (key == k_.fnum && item_.takesInPlace(kFileNumberField)) {
      item_.fileNumber_ = number;
      item_.present_ |= 1u << kFileNumberField;
    } else if (key == k_.size && item_.takesInPlace(kSizeField)) {
      item_.size_ = number;
      item_.present_ |= 1u << kSizeField;
    } else if (key == k_.hits && item_.takesInPlace(kHitsField) &&
               number <= std::numeric_limits<uint32_t>::max()) {
      item_.hits_ = static_cast<uint32_t>(number);
      item_.present_ |= 1u << kHitsField;
    } else {
      item_.set(key, Value::unsignedInteger(number));
    }
  }
  void date(Key key, Date date) override {
    const int field = key == k_.cdat   ? kCreatedField
                      : key == k_.mdat ? kModifiedField
                      : key == k_.idat ? kCheckedInField
                                       : -1;
    if (field >= 0 && item_.takesInPlace(static_cast<Field>(field))) {
      item_.store(static_cast<Field>(field), Value::date(date));
      return;
    }
    item_.set(key, Value::date(date));
  }
  void value(Key key, Value value) override { item_.set(key, std::move(value)); }

 private:
  TrashItem& item_;
  DirectoryInterner& directories_;
  const ItemKeys& k_;
};

TrashItem TrashItem::trashItemWithPath(const std::string& path, const std::string& homeDirectory,
                                       Date now) {
  const std::string standardized = standardizePath(path, homeDirectory);
  const std::optional<EntryAttributes> attributes = attributesOfItemAtPath(standardized);
  return withAttributes(standardized, attributes ? &*attributes : nullptr, now);
}

TrashItem TrashItem::withAttributes(std::string_view path, const EntryAttributes* attributes,
                                    Date now) {
  TrashItem item;
  item.storePath(path);
  item.fileNumber_ = attributes ? attributes->fileNumber : 0;
  item.size_ = attributes ? attributes->size : 0;
  uint32_t present = 1u << kPathField | 1u << kFileNumberField | 1u << kSizeField |
                     1u << kCheckedInField | 1u << kHitsField;
  if (attributes && attributes->creationDate) {
    item.created_ = attributes->creationDate->seconds;
    present |= 1u << kCreatedField;
  }
  if (attributes && attributes->modificationDate) {
    item.modified_ = attributes->modificationDate->seconds;
    present |= 1u << kModifiedField;
  }
  item.checkedIn_ = now.seconds;
  item.present_ = present;
  return item;
}

TrashItem TrashItem::fromCoder(KeyedDecoder& coder, DirectoryInterner& directories) {
  TrashItem item;
  Reader reader(item, directories);
  coder.decodeDictionary(archive_key::kItemData, reader);
  return item;
}

TrashItem TrashItem::withDictionary(const Dictionary& data) {
  TrashItem item;
  for (const auto& entry : data) item.set(entry.first, entry.second);
  return item;
}

TrashItem::TrashItem(const TrashItem& other)
    : directory_(other.directory_),
      name_(other.name_),
      fileNumber_(other.fileNumber_),
      size_(other.size_),
      created_(other.created_),
      modified_(other.modified_),
      checkedIn_(other.checkedIn_),
      hits_(other.hits_),
      nameHash_(other.nameHash_),
      present_(other.present_),
      extras_(other.extras_ ? std::make_unique<Extras>(*other.extras_) : nullptr) {}

TrashItem& TrashItem::operator=(const TrashItem& other) {
  if (this != &other) *this = TrashItem(other);
  return *this;
}

TrashItem::TrashItem() : nameHash_(0), present_(0) {}
TrashItem::TrashItem(TrashItem&&) noexcept = default;
TrashItem& TrashItem::operator=(TrashItem&&) noexcept = default;
TrashItem::~TrashItem() = default;

// Appends the entry of a field other than the path, made in place.
void TrashItem::addScalarEntry(std::vector<PlainEntry>& entries, Field field) const {
  const ItemKeys& k = keys();
  using Form = PlainEntry::Form;
  switch (field) {
    case kFileNumberField:
      entries.emplace_back(k.fnum, Form::kUnsigned, std::string_view(), fileNumber_);
      break;
    case kSizeField:
      entries.emplace_back(k.size, Form::kUnsigned, std::string_view(), size_);
      break;
    case kCreatedField:
      entries.emplace_back(k.cdat, Form::kDate, std::string_view(), 0, created_);
      break;
    case kModifiedField:
      entries.emplace_back(k.mdat, Form::kDate, std::string_view(), 0, modified_);
      break;
    case kCheckedInField:
      entries.emplace_back(k.idat, Form::kDate, std::string_view(), 0, checkedIn_);
      break;
    default:
      entries.emplace_back(k.hits, Form::kUnsigned, std::string_view(), hits_);
      break;
  }
}

void TrashItem::encodeWithCoder(KeyedEncoder& coder) const {
  // The coder's path buffer and entry list serve every record.
  std::string* joined = &coder.scratch().text;
  std::vector<PlainEntry>* entries = &coder.scratch().entries;
  if (has(kPathField)) {
    joined->assign(*directory_);
    joined->append(name_.view());
  }
  const ItemKeys& k = keys();
  auto add = [&](Field field) {
    if (field == kPathField) {
      entries->emplace_back(k.path, PlainEntry::Form::kText, *joined);
    } else {
      addScalarEntry(*entries, field);
    }
  };
  entries->clear();
  if (!extras_) {
    for (int field = 0; field < kFieldCount; ++field)
      if (has(static_cast<Field>(field))) add(static_cast<Field>(field));
  } else {
    for (Key key : extras_->order) {
      const int field = fieldOf(key);
      if (field >= 0 && has(static_cast<Field>(field))) {
        add(static_cast<Field>(field));
      } else if (const Value* value = extras_->values.find(key.text())) {
        entries->emplace_back(key, PlainEntry::Form::kValue, std::string_view(), 0, 0, value);
      }
    }
  }
  coder.encodeEntries(archive_key::kItemData, entries->data(), entries->size());
}

bool TrashItem::isEqualToTrashItem(const TrashItem& other) const {
  if (fileNumber() != other.fileNumber()) return false;
  // Every path is split at its last "/" and its folder part interned, so
  // equal paths have the very same folder part.
  return hasPath() && other.hasPath() && directory_ == other.directory_ &&
         name_.view() == other.name_.view();
}

void TrashItem::incrHits() {
  if (has(kHitsField) && hits_ < std::numeric_limits<uint32_t>::max()) {
    ++hits_;
    return;
  }
  // A record decoded without "hits" counts from zero.
  set(keys().hits, Value::unsignedInteger(hits() + 1));
}

std::string TrashItem::path() const {
  if (!hasPath()) return {};
  std::string path;
  path.reserve(directory_->size() + name_.view().size());
  path.append(*directory_).append(name_.view());
  return path;
}

uint64_t TrashItem::fileNumber() const {
  return has(kFileNumberField) ? fileNumber_ : extraValue(keys().fnum).asUnsigned();
}

uint64_t TrashItem::size() const {
  return has(kSizeField) ? size_ : extraValue(keys().size).asUnsigned();
}

Date TrashItem::checkedIn() const {
  return has(kCheckedInField) ? Date{checkedIn_} : extraValue(keys().idat).asDate();
}

std::optional<Date> TrashItem::modified() const {
  if (has(kModifiedField)) return Date{modified_};
  return std::nullopt;
}

uint64_t TrashItem::hits() const {
  return has(kHitsField) ? hits_ : extraValue(keys().hits).asUnsigned();
}

Dictionary TrashItem::dictionary() const {
  Dictionary data;
  if (!extras_) {
    data.reserve(kFieldCount);
    for (int field = 0; field < kFieldCount; ++field)
      if (has(static_cast<Field>(field)))
        data.set(keys().of(field), fieldValue(static_cast<Field>(field)));
    return data;
  }
  data.reserve(extras_->order.size());
  for (Key key : extras_->order) {
    const int field = fieldOf(key);
    data.set(key, field >= 0 && has(static_cast<Field>(field))
                      ? fieldValue(static_cast<Field>(field))
                      : extraValue(key));
  }
  return data;
}

Value TrashItem::value(std::string_view keyPath) const {
  const Key key(dataKeyOf(keyPath));
  const int field = fieldOf(key);
  if (field >= 0 && has(static_cast<Field>(field))) return fieldValue(static_cast<Field>(field));
  return extraValue(key);
}

void TrashItem::setValue(std::string_view keyPath, Value value) {
  set(Key(dataKeyOf(keyPath)), std::move(value));
}

uint32_t TrashItem::hashOfName(std::string_view name) {
  return static_cast<uint32_t>(std::hash<std::string_view>()(name)) & 0xFFFFFF;
}

int TrashItem::fieldOf(Key key) {
  const ItemKeys& k = keys();
  for (int field = 0; field < kFieldCount; ++field)
    if (key == k.of(field)) return field;
  return -1;
}

bool TrashItem::fits(Field field, const Value& value) {
  switch (field) {
    case kPathField:
      return value.isText();
    case kFileNumberField:
    case kSizeField:
      return value.kind() == Value::Kind::kUnsigned;
    case kHitsField:
      return value.kind() == Value::Kind::kUnsigned &&
             value.asUnsigned() <= std::numeric_limits<uint32_t>::max();
    default:
      return value.isDate();
  }
}

// Stores |value| under |key| as a dictionary would: a key already there
// keeps its place, a new one goes to the end.
void TrashItem::set(Key key, Value value) {
  const int index = fieldOf(key);
  const Field field = static_cast<Field>(index);
  const bool fitsField = index >= 0 && fits(field, value);
  if (fitsField && takesInPlace(field)) {
    store(field, value);
    return;
  }
  ensureExtras();
  std::vector<Key>& order = extras_->order;
  if (std::find(order.begin(), order.end(), key) == order.end()) order.push_back(key);
  if (fitsField) {
    store(field, value);
    extras_->values.remove(key.text());
    return;
  }
  if (index >= 0) present_ &= ~(1u << field);
  extras_->values.set(key, std::move(value));
}

void TrashItem::store(Field field, const Value& value) {
  switch (field) {
    case kPathField:
      storePath(value.asText());
      return;
    case kFileNumberField:
      fileNumber_ = value.asUnsigned();
      break;
    case kSizeField:
      size_ = value.asUnsigned();
      break;
    case kCreatedField:
      created_ = value.asDate().seconds;
      break;
    case kModifiedField:
      modified_ = value.asDate().seconds;
      break;
    case kCheckedInField:
      checkedIn_ = value.asDate().seconds;
      break;
    case kHitsField:
      hits_ = static_cast<uint32_t>(value.asUnsigned());
      break;
    default:
      return;
  }
  present_ |= 1u << field;
}

void TrashItem::storePath(std::string_view path) {
  DirectoryInterner directories;
  storePath(path, directories);
}

void TrashItem::storePath(std::string_view path, DirectoryInterner& directories) {
  const size_t slash = path.rfind('/');
  const size_t split = slash == std::string_view::npos ? 0 : slash + 1;
  directory_ = directories.intern(path.substr(0, split));
  name_ = CompactName(path.substr(split));
  nameHash_ = hashOfName(name_.view());
  present_ |= 1u << kPathField;
}

Value TrashItem::fieldValue(Field field) const {
  switch (field) {
    case kPathField:
      return Value::text(path());
    case kFileNumberField:
      return Value::unsignedInteger(fileNumber_);
    case kSizeField:
      return Value::unsignedInteger(size_);
    case kCreatedField:
      return Value::date(Date{created_});
    case kModifiedField:
      return Value::date(Date{modified_});
    case kCheckedInField:
      return Value::date(Date{checkedIn_});
    case kHitsField:
      return Value::unsignedInteger(hits_);
    default:
      return Value();
  }
}

Value TrashItem::extraValue(Key key) const {
  if (!extras_) return Value();
  return extras_->values.get(key.text());
}

void TrashItem::ensureExtras() {
  if (extras_) return;
  extras_ = std::make_unique<Extras>();
  for (int field = 0; field < kFieldCount; ++field)
    if (has(static_cast<Field>(field))) extras_->order.push_back(keys().of(field));
}

}  // namespace sweeprun
