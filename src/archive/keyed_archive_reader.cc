#include "archive/keyed_archive_reader.h"

#include <utility>

#include "fs/file_io.h"
#include "fs/mapped_file.h"
#include "os/exception.h"
#include "plist/property_list.h"

namespace sweeprun {

namespace {

using Type = BinaryPlistView::Type;

// The texts of KeyedArchiveReader::OwnKey, in its order.
constexpr std::string_view kOwnKeyTexts[] = {"$class", "NS.keys", "NS.objects", "NS.time"};

bool isText(const BinaryPlistView::Object& o) {
  return o.type == Type::kAsciiText || o.type == Type::kUtf16Text;
}

bool isContainer(const BinaryPlistView::Object& o) {
  return o.type == Type::kArray || o.type == Type::kSet || o.type == Type::kDictionary;
}

// XML archives write a reference as the dictionary {"CF$UID": n}.
Value withReferences(const Value& v) {
  if (const Dictionary* d = v.dictionaryPtr()) {
    const Value& index = d->get("CF$UID");
    if (d->size() == 1 && (index.kind() == Value::Kind::kUnsigned ||
                           (index.kind() == Value::Kind::kInteger && index.asInteger() >= 0)))
      return Value::uid(index.asUnsigned());
    Dictionary converted;
    converted.reserve(d->size());
    for (const auto& e : *d) converted.set(e.first, withReferences(e.second));
    return Value::dictionary(std::move(converted));
  }
  if (const Array* a = v.arrayPtr()) {
    Array converted;
    converted.reserve(a->size());
    for (const Value& e : *a) converted.push_back(withReferences(e));
    return Value::array(std::move(converted));
  }
  return v;
}

std::string codedKey(std::string_view key) {
  return key.empty() || key[0] != '$' ? std::string(key) : "$" + std::string(key);
}

}  // namespace

// The decoder handed to a record: it reads the record's own keys.
class RecordDecoder : public KeyedDecoder {
 public:
  RecordDecoder(KeyedArchiveReader& reader, const BinaryPlistView::Object& record, uint64_t uid)
      : reader_(reader), record_(record), uid_(uid) {}

  std::string decodeBytes(std::string_view key) override {
    bool present;
    const auto v = reader_.field(record_, codedKey(key), present);
    if (!present) return {};
    if (v.type == Type::kData)
      return std::string(reinterpret_cast<const char*>(v.payload), static_cast<size_t>(v.count));
    if (v.type == Type::kUid) {
      const Value referenced = reader_.plainValue(reader_.uidOf(v), false);
      if (referenced.isNone() || referenced.isData()) return std::string(referenced.asData());
    }
    reader_.fail(uid_, "no bytes under \"" + std::string(key) + "\"");
  }

  Value decodeValue(std::string_view key) override {
    bool present;
    const auto v = reader_.field(record_, codedKey(key), present);
    if (!present) return Value();
    if (v.type == Type::kUid) return reader_.plainValue(reader_.uidOf(v), false);
    if (isContainer(v)) reader_.fail(uid_, "a container inline under \"" + std::string(key) + "\"");
    return reader_.view_->scalar(v);
  }

  bool decodeDictionary(std::string_view key, DictionaryVisitor& visitor) override {
    uint64_t ref;
    if (!reader_.findKey(record_, codedKey(key), ref)) return false;
    // Nearly always a reference, read in place.
    uint64_t uid;
    if (reader_.view_->uidAt(ref, uid)) return reader_.visitDictionary(uid, visitor);
    const auto v = reader_.view_->object(ref);
    if (v.type != Type::kUid) {
      if (isContainer(v))
        reader_.fail(uid_, "a container inline under \"" + std::string(key) + "\"");
      return false;  // a scalar, as decodeValue reads it
    }
    return reader_.visitDictionary(reader_.uidOf(v), visitor);
  }

  size_t objectArrayCount(std::string_view key) override {
    bool present;
    const auto v = reader_.field(record_, codedKey(key), present);
    if (!present || v.type != Type::kUid) return 0;
    const uint64_t uid = reader_.uidOf(v);
    if (uid == 0) return 0;
    const auto array = reader_.objectAt(uid);
    if (array.type != Type::kDictionary) return 0;
    const auto list = reader_.field(array, KeyedArchiveReader::kObjectsKey, present);
    return present && list.type == Type::kArray ? static_cast<size_t>(list.count) : 0;
  }

  bool decodeObjectArray(std::string_view key, std::string_view className,
                         const std::function<void(KeyedDecoder&)>& each) override {
    bool present;
    const auto v = reader_.field(record_, codedKey(key), present);
    if (!present) return false;
    const uint64_t uid = reader_.uidOf(v);
    if (uid == 0) return false;
    reader_.eachRecord(uid, className, each);
    return true;
  }

 private:
  KeyedArchiveReader& reader_;
  BinaryPlistView::Object record_;
  uint64_t uid_;
};

KeyedArchiveReader::KeyedArchiveReader(std::string_view bytes, const MappedFile* mapping)
    : mapping_(mapping) {
  try {
    if (!BinaryPlistView::hasMagic(bytes)) {
      Value root;
      std::string error;
      if (!readPropertyList(bytes, root, error)) throw PlatformException(error);
      converted_ = writeBinaryPropertyList(withReferences(root));
      bytes = converted_;
      mapping_ = nullptr;  // the mapping is no longer read
    }
    view_.emplace(bytes);
    const Object outer = view_->object(view_->topObject());
    if (outer.type != Type::kDictionary) throw PlatformException("its root is not a dictionary");
    uint64_t ref;
    if (!view_->find(outer, "$archiver", ref) ||
        !view_->textEquals(view_->object(ref), "NSKeyedArchiver"))
      throw PlatformException("$archiver is not NSKeyedArchiver");
    if (!view_->find(outer, "$objects", ref) ||
        (objects_ = view_->object(ref)).type != Type::kArray)
      throw PlatformException("no $objects array");
    if (!view_->find(outer, "$top", ref) || (top_ = view_->object(ref)).type != Type::kDictionary)
      throw PlatformException("no $top dictionary");
  } catch (const PlatformException& e) {
    throw PlatformException(std::string("not a keyed archive: ") + e.what());
  }
  count_ = objects_.count;
  open_.resize(count_);
  budget_ = 16 * static_cast<uint64_t>(view_->size()) + (1u << 20);
}

bool KeyedArchiveReader::top(std::string_view key, uint64_t& uid) const {
  uint64_t ref;
  if (!view_->find(top_, key, ref)) return false;
  uid = uidAt(ref);
  if (uid >= count_) fail(uid, "reference out of range");
  return uid != 0;
}

void KeyedArchiveReader::eachRecord(uint64_t uid, std::string_view className,
                                    const std::function<void(KeyedDecoder&)>& each) {
  if (++recordDepth_ > kMaxPlistDepth) fail(uid, "records nested too deeply");
  const Object array = objectAt(uid);
  if (array.type != Type::kDictionary || classOf(array).category != Category::kArray)
    fail(uid, "not an array of " + std::string(className));
  enter(uid);
  bool present;
  const Object list = field(array, kObjectsKey, present);
  if (!present || list.type != Type::kArray) fail(uid, "array without NS.objects");
  const ClassInfo* accepted = nullptr;
  for (uint64_t i = 0; i < list.count; ++i) {
    const uint64_t element = uidAt(view_->ref(list, i));
    if (element == 0) fail(uid, "nil element in an array of " + std::string(className));
    const Object record = objectAt(element);
    if (record.type != Type::kDictionary) fail(element, "not a " + std::string(className));
    const ClassInfo& cls = classOf(record);
    // The elements mostly share one class: its chain is looked through once.
    if (&cls != accepted) {
      bool known = false;
      for (const std::string& c : cls.chain) known = known || c == className;
      if (!known)
        fail(element,
             "object of class " + cls.name + " where " + std::string(className) + " belongs");
      accepted = &cls;
    }
    enter(element);
    RecordDecoder decoder(*this, record, element);
    each(decoder);
    leave(element);
  }
  leave(uid);
  --recordDepth_;
}

Value KeyedArchiveReader::plainValue(uint64_t uid, bool anyClass, int depth) {
  if (uid == 0) return Value();
  if (depth > kMaxPlistDepth) fail(uid, "object graph nested too deeply");
  const Object o = objectAt(uid);
  switch (o.type) {
    case Type::kDictionary:
      break;
    case Type::kArray:
    case Type::kSet:
    case Type::kUid:
      fail(uid, "not an object");
    case Type::kData:
    case Type::kAsciiText:
    case Type::kUtf16Text:
      charge(32 + 2 * o.count);
      return view_->scalar(o);
    default:
      charge(32);
      return view_->scalar(o);
  }
  const ClassInfo& cls = classOf(o);
  enter(uid);
  bool present;
  Value result;
  switch (cls.category) {
    case Category::kArray: {
      const Object list = field(o, kObjectsKey, present);
      if (!present || list.type != Type::kArray) fail(uid, "array without NS.objects");
      charge(32 * list.count);
      Array elements;
      elements.reserve(static_cast<size_t>(list.count));
      for (uint64_t i = 0; i < list.count; ++i)
        elements.push_back(plainValue(uidAt(view_->ref(list, i)), anyClass, depth + 1));
      result = Value::array(std::move(elements));
      break;
    }
    case Category::kDictionary: {
      Object keys, values;
      dictionaryArrays(uid, o, keys, values);
      Dictionary entries;
      entries.reserve(static_cast<size_t>(keys.count));
      for (uint64_t i = 0; i < keys.count; ++i) {
        const Key key = keyFor(uidAt(view_->ref(keys, i)), depth + 1);
        entries.set(key, plainValue(uidAt(view_->ref(values, i)), anyClass, depth + 1));
      }
      result = Value::dictionary(std::move(entries));
      break;
    }
    case Category::kString:
    case Category::kData: {
      const bool string = cls.category == Category::kString;
      const Object inner = field(o, string ? "NS.string" : "NS.data", present);
      if (!present) fail(uid, "no " + std::string(string ? "NS.string" : "NS.data"));
      Value v = inner.type == Type::kUid ? plainValue(uidOf(inner), false, depth + 1)
                : isContainer(inner)     ? Value()
                                         : view_->scalar(inner);
      charge(32 + v.asText().size() + v.asData().size());
      if (string && v.isData()) v = Value::text(v.asData());
      if (string ? !v.isText() : !v.isData()) fail(uid, "wrong kind of value in " + cls.name);
      result = std::move(v);
      break;
    }
    case Category::kDate: {
      const Object time = field(o, kTimeKey, present);
      if (!present || (time.type != Type::kReal && time.type != Type::kInteger))
        fail(uid, "date without NS.time");
      charge(32);
      result = Value::date(Date{view_->scalar(time).asReal()});
      break;
    }
    case Category::kNull:
      break;
    case Category::kOther: {
      if (!anyClass) fail(uid, "unexpected object of class " + cls.name);
      Dictionary entries;
      entries.set("$class", Value::text(cls.name));
      for (uint64_t i = 0; i < o.count; ++i) {
        const Object key = view_->object(view_->ref(o, i));
        if (!isText(key)) fail(uid, "object key is not a text");
        const std::string name = view_->text(key);
        if (name == "$class") continue;
        const Object v = view_->object(view_->ref(o, o.count + i));
        charge(48 + name.size());
        if (v.type == Type::kUid) {
          entries.set(name, plainValue(uidOf(v), anyClass, depth + 1));
        } else if (v.type == Type::kArray) {
          Array elements;
          for (uint64_t k = 0; k < v.count; ++k) {
            const Object e = view_->object(view_->ref(v, k));
            charge(32);
            elements.push_back(e.type == Type::kUid ? plainValue(uidOf(e), anyClass, depth + 1)
                               : isContainer(e)     ? Value()
                                                    : view_->scalar(e));
          }
          entries.set(name, Value::array(std::move(elements)));
        } else if (!isContainer(v)) {
          entries.set(name, view_->scalar(v));
        }
      }
      result = Value::dictionary(std::move(entries));
      break;
    }
  }
  leave(uid);
  return result;
}

bool KeyedArchiveReader::visitDictionary(uint64_t uid, DictionaryVisitor& visitor) {
  if (uid == 0) return false;
  const Object o = objectAt(uid);
  if (o.type != Type::kDictionary || classOf(o).category != Category::kDictionary) {
    // Whatever it is, it must read (or fail) as plainValue has it.
    plainValue(uid, false);
    return false;
  }
  enter(uid);
  Object keys, values;
  dictionaryArrays(uid, o, keys, values);
  bool present;
  const std::vector<Key>& keyList = keysOf(keys);
  for (uint64_t i = 0; i < keys.count; ++i) {
    const Key key = keyList[i];
    const uint64_t valueUid = uidAt(view_->ref(values, i));
    if (valueUid == 0) {
      visitor.value(key, Value());
      continue;
    }
    double seconds;
    if (knownDate(valueUid, seconds)) {
      charge(32);
      visitor.date(key, Date{seconds});
      continue;
    }
    // The kinds a record's fields hold are read in place; the rest as
    // plainValue reads them.
    const Object v = objectAt(valueUid);
    if (v.type == Type::kAsciiText) {
      charge(32 + 2 * v.count);
      const std::string_view bytes(reinterpret_cast<const char*>(v.payload),
                                   static_cast<size_t>(v.count));
      bool plain = true;
      for (unsigned char c : bytes) plain = plain && c < 0x80;
      if (plain) {
        visitor.text(key, bytes);
      } else {
        visitor.text(key, view_->text(v));
      }
    } else if (v.type == Type::kUtf16Text) {
      charge(32 + 2 * v.count);
      visitor.text(key, view_->text(v));
    } else if (v.type == Type::kDictionary && classOf(v).category == Category::kDate) {
      charge(32);
      const Object time = field(v, kTimeKey, present);
      if (!present || (time.type != Type::kReal && time.type != Type::kInteger))
        fail(valueUid, "date without NS.time");
      seconds = view_->scalar(time).asReal();
      dates_[valueUid % kDateSlots] = {valueUid, seconds};
      visitor.date(key, Date{seconds});
    } else if (v.type == Type::kInteger || v.type == Type::kReal || v.type == Type::kBoolean) {
      // Numbers read as plainValue reads them, without fetching them again.
      charge(32);
      visitor.visit(key, view_->scalar(v));
    } else {
      visitor.visit(key, plainValue(valueUid, false, 1));
    }
  }
  leave(uid);
  return true;
}

const std::vector<Key>& KeyedArchiveReader::keysOf(const Object& keys) {
  // Fast path: records of one kind share one NS.keys array, so its keys are
  // resolved once and reused until another array comes along. Measured
  // (as keyText): load 1.04x slower without it, within the noise.
  if (keyList_.index == keys.index) return keyList_.keys;
  keyList_.index = ~uint64_t{0};
  keyList_.keys.clear();
  for (uint64_t i = 0; i < keys.count; ++i)
    keyList_.keys.push_back(keyFor(uidAt(view_->ref(keys, i)), 1));
  keyList_.index = keys.index;
  return keyList_.keys;
}

bool KeyedArchiveReader::knownDate(uint64_t uid, double& seconds) const {
  // Fast path: equal dates are often one shared object (the check-in dates
  // of a run), and an earlier read already found this one a date and read
  // its time. Measured (as keyText): load 1.10x slower without it.
  const CachedDate& known = dates_[uid % kDateSlots];
  if (known.uid != uid) return false;
  seconds = known.seconds;
  return true;
}

KeyedArchiveReader::Object KeyedArchiveReader::objectAt(uint64_t uid) const {
  if (uid >= count_) fail(uid, "reference out of range");
  // The reading moves through the objects, the offset table and the "$objects"
  // array at once, mostly forwards; handing back every page now and then
  // costs a few faults to bring back what is still in use. Under 1 MB of a
  // folder database lies between two calls.
  constexpr uint64_t kObjectsBetweenReleases = 1 << 14;
  if (mapping_ && ++fetched_ == kObjectsBetweenReleases) {
    fetched_ = 0;
    mapping_->releasePages();
  }
  return view_->object(view_->ref(objects_, uid));
}

uint64_t KeyedArchiveReader::uidOf(const Object& reference) const {
  if (reference.type != Type::kUid)
    throw PlatformException("keyed archive: a value where a reference belongs");
  // Read in place: a UID object is 1 to 8 big-endian bytes (the view checked
  // the width), and building a value for it costs more than the read.
  uint64_t uid = 0;
  for (uint64_t i = 0; i < reference.count; ++i) uid = (uid << 8) | reference.payload[i];
  return uid;
}

uint64_t KeyedArchiveReader::uidAt(uint64_t ref) const {
  uint64_t uid;
  if (view_->uidAt(ref, uid)) return uid;
  return uidOf(view_->object(ref));  // refuses what is not a reference
}

KeyedArchiveReader::Object KeyedArchiveReader::field(const Object& object, std::string_view key,
                                                     bool& present) const {
  uint64_t ref;
  present = findKey(object, key, ref);
  return present ? view_->object(ref) : Object{Type::kNull, 0, 0, nullptr};
}

KeyedArchiveReader::KeyText& KeyedArchiveReader::keyText(uint64_t ref) const {
  // Fast path: an archive writes each key text once and refers to it from
  // every object, so the few key objects are read once and then known by
  // index, and the archive's own keys by number. Measured: a load of
  // 300,000 entries (bench/database_bench) took 1.32x as long without it,
  // medians of three alternated runs whose noise is about 5%.
  KeyText& slot = keyTexts_[ref % kKeyTextSlots];
  if (slot.index != ref) {
    const Object text = view_->object(ref);
    slot.index = ref;
    slot.ascii = text.type == Type::kAsciiText;
    if (slot.ascii)
      slot.text.assign(reinterpret_cast<const char*>(text.payload),
                       static_cast<size_t>(text.count));
    slot.own = kOwnKeys;
    for (uint8_t k = 0; k < kOwnKeys; ++k)
      if (view_->textEquals(text, kOwnKeyTexts[k])) slot.own = k;
  }
  return slot;
}

bool KeyedArchiveReader::findKey(const Object& object, std::string_view key,
                                 uint64_t& valueRef) const {
  if (object.type != Type::kDictionary) return view_->find(object, key, valueRef);  // fails
  for (uint64_t i = 0; i < object.count; ++i) {
    const uint64_t ref = view_->ref(object, i);
    const KeyText& slot = keyText(ref);
    const bool equal = slot.ascii ? slot.text == key : view_->textEquals(view_->object(ref), key);
    if (equal) {
      valueRef = view_->ref(object, object.count + i);
      return true;
    }
  }
  return false;
}

KeyedArchiveReader::Object KeyedArchiveReader::field(const Object& object, OwnKey key,
                                                     bool& present) const {
  uint64_t ref;
  present = findKey(object, key, ref);
  return present ? view_->object(ref) : Object{Type::kNull, 0, 0, nullptr};
}

bool KeyedArchiveReader::findKey(const Object& object, OwnKey key, uint64_t& valueRef) const {
  if (object.type != Type::kDictionary) return findKey(object, kOwnKeyTexts[key], valueRef);
  for (uint64_t i = 0; i < object.count; ++i) {
    if (keyText(view_->ref(object, i)).own == key) {
      valueRef = view_->ref(object, object.count + i);
      return true;
    }
  }
  return false;
}

const KeyedArchiveReader::ClassInfo& KeyedArchiveReader::classOf(const Object& object) {
  uint64_t reference;
  if (!findKey(object, kClassKey, reference))
    throw PlatformException("keyed archive: object without $class");
  const uint64_t uid = uidAt(reference);
  // Fast path: records, their dictionaries and their dates take turns, and
  // a few recent classes answer before the map. Measured (as keyText): load
  // 1.04x slower without it, within the noise.
  RecentClass& recent = recentClasses_[uid % kRecentClassSlots];
  if (recent.info && recent.uid == uid) return *recent.info;
  const ClassInfo& info = classOfFallback(uid);
  recent = {uid, &info};
  return info;
}

const KeyedArchiveReader::ClassInfo& KeyedArchiveReader::classOfFallback(uint64_t uid) {
  // Each class description is read, and charged for, once.
  auto it = classes_.find(uid);
  if (it != classes_.end()) return it->second;
  bool present;
  const Object description = objectAt(uid);
  if (description.type != Type::kDictionary) fail(uid, "class description is not a dictionary");
  const Object name = field(description, "$classname", present);
  if (!present || !isText(name)) fail(uid, "class description without $classname");
  ClassInfo info{view_->text(name), {}, Category::kOther};
  const Object chain = field(description, "$classes", present);
  if (present && chain.type == Type::kArray) {
    for (uint64_t i = 0; i < chain.count; ++i) {
      const Object c = view_->object(view_->ref(chain, i));
      if (!isText(c)) fail(uid, "class chain holds a value that is not a text");
      info.chain.push_back(view_->text(c));
      charge(32 + c.count);
    }
  }
  if (info.chain.empty()) info.chain.push_back(info.name);
  static const std::pair<const char*, Category> kKnown[] = {
      {"NSArray", Category::kArray},
      {"NSMutableArray", Category::kArray},
      {"NSSet", Category::kArray},
      {"NSMutableSet", Category::kArray},
      {"NSDictionary", Category::kDictionary},
      {"NSMutableDictionary", Category::kDictionary},
      {"NSString", Category::kString},
      {"NSMutableString", Category::kString},
      {"NSData", Category::kData},
      {"NSMutableData", Category::kData},
      {"NSDate", Category::kDate},
      {"NSNull", Category::kNull},
  };
  // The first class of the chain that we know decides, so an unknown
  // subclass of a known class reads as that class.
  for (const std::string& c : info.chain) {
    for (const auto& known : kKnown)
      if (c == known.first) info.category = known.second;
    if (info.category != Category::kOther) break;
  }
  return classes_.emplace(uid, std::move(info)).first->second;
}

Key KeyedArchiveReader::keyFor(uint64_t uid, int depth) {
  // Fast path: the key objects of plain dictionaries repeat from record to
  // record (where NS.keys arrays are not shared), and a slot per object
  // keeps the key made for it; a key object is charged for once. Measured
  // (as keyText): load 1.04x slower without it, within the noise on the
  // folder database, whose key arrays are shared.
  CachedKey& slot = keys_[uid % kKeySlots];
  if (slot.uid == uid) return *slot.key;
  const Object o = objectAt(uid);
  charge(32 + o.count);
  std::string text;
  if (isText(o)) {
    text = view_->text(o);
  } else if (o.type == Type::kInteger) {
    // A number as a key (rare, but the platform allows it) reads as its
    // decimal text.
    const Value n = view_->scalar(o);
    text = n.kind() == Value::Kind::kUnsigned ? std::to_string(n.asUnsigned())
                                              : std::to_string(n.asInteger());
  } else {
    const Value v = o.type == Type::kDictionary ? plainValue(uid, false, depth) : Value();
    if (!v.isText()) fail(uid, "dictionary key is not a text");
    text = std::string(v.asText());
  }
  slot.uid = uid;
  slot.key.emplace(text);
  return *slot.key;
}

void KeyedArchiveReader::enter(uint64_t uid) {
  if (open_[uid]) fail(uid, "object contains itself");
  open_[uid] = true;
}

void KeyedArchiveReader::dictionaryArrays(uint64_t uid, const Object& o, Object& keys,
                                          Object& values) {
  bool present;
  bool hasValues;
  keys = field(o, kKeysKey, present);
  values = field(o, kObjectsKey, hasValues);
  if (!present || !hasValues || keys.type != Type::kArray || values.type != Type::kArray ||
      keys.count != values.count)
    fail(uid, "dictionary without matching NS.keys and NS.objects");
  if (keys.count > kMaxDictionaryEntries) fail(uid, "dictionary has too many entries");
  charge(48 * keys.count);
}

void KeyedArchiveReader::charge(uint64_t cost) {
  if (cost > budget_)
    throw PlatformException("keyed archive: object graph expands beyond its size");
  budget_ -= cost;
}

void KeyedArchiveReader::fail(uint64_t uid, const std::string& reason) const {
  throw PlatformException("keyed archive: object " + std::to_string(uid) + ": " + reason);
}

}  // namespace sweeprun
