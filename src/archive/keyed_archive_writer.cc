#include "archive/keyed_archive_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fs/file_io.h"
#include "os/exception.h"
#include "plist/binary_plist.h"
#include "plist/binary_plist_stream.h"

namespace sweeprun {

namespace {

// Binary object numbers. The first ten are the outer dictionary and its
// parts; then come the n elements of "$objects", then one UID object per
// element (so UID(k) is always binary object kObjectsBase + n + k), then
// everything else ("extras": key strings, NS.keys/NS.objects arrays, times,
// inline bytes) in the order they are first needed.
enum : uint64_t {
  kOuter,
  kVersionKey,
  kArchiverKey,
  kTopKey,
  kObjectsKey,
  kVersionValue,
  kArchiverValue,
  kTopValue,
  kRootKey,
  kObjectsValue,
  kObjectsBase,
};

std::vector<std::string_view> classChain(std::string_view name) {
  if (name == "NSMutableArray") return {"NSMutableArray", "NSArray", "NSObject"};
  if (name == "NSMutableDictionary") return {"NSMutableDictionary", "NSDictionary", "NSObject"};
  return {name, "NSObject"};  // NSDate and our records
}

[[noreturn]] void recordsChanged() {
  throw PlatformException("archive: the records changed while they were written");
}

// The last answers of a slower lookup, one slot per key: a key finds its
// answer only in its own slot, and a later key for the same slot replaces
// it. Each use below says why its keys repeat and what it saved: the time
// a save of 300,000 entries (bench/database_bench) took without it against
// with it, medians of three alternated runs; the noise of those runs is
// about 5%.
template <typename K, size_t N>
class RecentAnswers {
 public:
  template <typename Lookup>
  const uint64_t* find(size_t slot, const Lookup& key) const {
    const Slot& s = slots_[slot % N];
    return s.filled && s.key == key ? &s.answer : nullptr;
  }
  template <typename Lookup>
  uint64_t keep(size_t slot, const Lookup& key, uint64_t answer) {
    Slot& s = slots_[slot % N];
    s.key = K(key);
    s.answer = answer;
    s.filled = true;
    return answer;
  }
  void clear() {
    for (Slot& s : slots_) s.filled = false;
  }

 private:
  struct Slot {
    K key{};
    uint64_t answer = 0;
    bool filled = false;
  };
  Slot slots_[N];
};

class ArchiveEncoder : public KeyedEncoder {
 public:
  void write(ByteSink& sink, size_t count, const ObjectAt& element) {
    encodeAll(count, element);
    const uint64_t n = nextUid_;
    const uint64_t extras = extras_;
    const uint64_t objectCount = kObjectsBase + 2 * n + extras;
    refSize_ = bplist::widthFor(objectCount - 1);
    uidWidth_ = bplist::widthFor(n - 1);
    const uint64_t objectBytes = 8 + bytes_ + refSlots_ * refSize_ + n * bplist::uidSize(uidWidth_);
    offsetSize_ = bplist::widthFor(objectBytes);
    objectBytes_ = objectBytes;
    uidBase_ = kObjectsBase + n;
    extrasBase_ = uidBase_ + n;

    // The offset table follows the objects; its entries go there as the
    // objects are written.
    sink.expectSize(objectBytes + objectCount * offsetSize_ + bplist::kTrailerSize);
    PlistObjectStream stream(sink);
    PlistOffsetWindow fixed(sink, objectBytes, offsetSize_, 0, kObjectsBase);
    PlistOffsetWindow elements(sink, objectBytes, offsetSize_, kObjectsBase, uidBase_);
    PlistOffsetWindow uids(sink, objectBytes, offsetSize_, uidBase_, extrasBase_);
    PlistOffsetWindow others(sink, objectBytes, offsetSize_, extrasBase_, objectCount);
    stream_ = &stream;
    windows_[0] = &fixed;
    windows_[1] = &elements;
    windows_[2] = &uids;
    windows_[3] = &others;
    std::memcpy(stream.claim(8), "bplist00", 8);
    stream.commit(8);

    writing_ = true;
    resetNumbering();
    encodeAll(count, element);
    for (uint64_t k = 0; k < n; ++k)
      emit(uidBase_ + k, bplist::uidSize(uidWidth_), 0,
           [&](char* p) { return bplist::putUid(p, k, uidWidth_); });
    if (nextUid_ != n || extras_ != extras || stream.position() != objectBytes) recordsChanged();
    stream.flush();
    for (PlistOffsetWindow* window : windows_)
      if (!window->finish()) recordsChanged();
    char trailer[bplist::kTrailerSize];
    bplist::putTrailer(trailer, offsetSize_, refSize_, objectCount, kOuter, objectBytes);
    sink.writeAt(objectBytes + objectCount * offsetSize_,
                 std::string_view(trailer, sizeof trailer));
  }

  void encodeBytes(std::string_view key, std::string_view bytes) override {
    const uint64_t keyRef = codedKeyString(key);
    const uint64_t ref = newExtra();
    emit(ref, bplist::dataSize(bytes), 0, [&](char* p) { return bplist::putData(p, bytes); });
    entries().emplace_back(keyRef, ref);
  }

  void encodeValue(std::string_view key, const Value& value) override {
    const uint64_t keyRef = codedKeyString(key);
    const uint64_t uid = encodePlain(value);
    entries().emplace_back(keyRef, uidRef(uid));
  }

  void encodeDictionary(std::string_view key, const Dictionary& dictionary) override {
    const uint64_t keyRef = codedKeyString(key);
    const uint64_t uid = encodePlainDictionary(dictionary);
    entries().emplace_back(keyRef, uidRef(uid));
  }

  void encodeEntries(std::string_view key, const PlainEntry* list, size_t count) override {
    const uint64_t keyRef = codedKeyString(key);
    const uint64_t uid = encodePlainEntries(list, count);
    entries().emplace_back(keyRef, uidRef(uid));
  }

  void encodeObjectArray(std::string_view key, size_t count, const ObjectAt& element) override {
    const uint64_t keyRef = codedKeyString(key);
    const uint64_t uid = encodeRecordArray(count, element);
    entries().emplace_back(keyRef, uidRef(uid));
  }

 private:
  using Entry = std::pair<uint64_t, uint64_t>;  // key ref, value ref

  // Numbers and dates are immutable, so equal ones may share one object;
  // counters and check-in dates repeat a lot. A small direct-mapped table
  // catches most repeats at no cost in memory.
  struct SharedSlot {
    Value::Kind kind = Value::Kind::kNone;
    uint64_t bits = 0;
    uint64_t uid = 0;
    bool matches(Value::Kind k, uint64_t b) const { return kind == k && bits == b; }
    void take(Value::Kind k, uint64_t b, uint64_t newUid) {
      kind = k;
      bits = b;
      uid = newUid;
    }
  };
  SharedSlot& sharedSlot(Value::Kind kind, uint64_t bits) {
    const uint64_t h = (bits ^ static_cast<uint64_t>(kind) << 56) * 0x9E3779B97F4A7C15ull;
    return shared_[h >> (64 - kSharedBits)];
  }

  void resetNumbering() {
    nextUid_ = 0;
    extras_ = 0;
    strings_.clear();
    keyUids_.clear();
    classUids_.clear();
    keyArrays_.clear();
    for (SharedSlot& slot : shared_) slot = SharedSlot();
    recentKeyUids_.clear();
    lastKeys_.clear();
    lastKeysRef_ = kUnset;
    for (uint64_t& k : fixedKeys_) k = kUnset;
    for (uint64_t& c : fixedClasses_) c = kUnset;
    recentStrings_.clear();
    recentClasses_.clear();
  }

  void encodeAll(size_t count, const ObjectAt& element) {
    const uint64_t null = nextUid_++;
    emit(objectIndex(null), bplist::textSize("$null"), 0,
         [](char* p) { return bplist::putText(p, "$null"); });
    encodeRecordArray(count, element);  // UID(1), the root
    emitOuter();
  }

  // The outer dictionary {"$version", "$archiver", "$top", "$objects"}.
  void emitOuter() {
    emitText(kVersionKey, "$version");
    emitText(kArchiverKey, "$archiver");
    emitText(kTopKey, "$top");
    emitText(kObjectsKey, "$objects");
    emitText(kArchiverValue, "NSKeyedArchiver");
    emitText(kRootKey, "root");
    emit(kVersionValue, bplist::signedSize(100000), 0,
         [](char* p) { return bplist::putSigned(p, 100000); });
    emitDictionary(kTopValue, {{kRootKey, uidRef(1)}});
    emitDictionary(kOuter, {{kVersionKey, kVersionValue},
                            {kArchiverKey, kArchiverValue},
                            {kTopKey, kTopValue},
                            {kObjectsKey, kObjectsValue}});
    const uint64_t n = nextUid_;
    emitArray(kObjectsValue, n, [this](uint64_t k) { return objectIndex(k); });
  }

  uint64_t encodeRecordArray(size_t count, const ObjectAt& element) {
    const uint64_t uid = nextUid_++;
    const size_t depth = pushScratch();
    for (size_t i = 0; i < count; ++i) {
      const uint64_t child = encodeRecord(element(i));
      scratch_[depth].push_back(child);
    }
    emitArrayObject(uid, depth);
    popScratch();
    return uid;
  }

  uint64_t encodeRecord(const ArchivableObject& record) {
    if (frameDepth_ > static_cast<size_t>(kMaxPlistDepth))
      throw PlatformException("archive: records nested too deeply");
    const uint64_t uid = nextUid_++;
    if (frameDepth_ == frames_.size()) frames_.emplace_back();
    const size_t frame = frameDepth_++;
    frames_[frame].clear();
    record.encodeWithCoder(*this);
    const uint64_t cls = classUid(record.className());
    frames_[frame].emplace_back(fixedKey(kClassField), uidRef(cls));
    emitDictionary(objectIndex(uid), frames_[frame]);
    --frameDepth_;
    return uid;
  }

  // A plain value becomes its own element of "$objects"; a none value is
  // the nil reference UID(0).
  uint64_t encodePlain(const Value& v) {
    switch (v.kind()) {
      case Value::Kind::kNone:
      case Value::Kind::kUid:
        return 0;
      case Value::Kind::kText:
        return emitPlainText(v.asText());
      case Value::Kind::kDate:
        return encodeDate(v.asDate().seconds);
      case Value::Kind::kArray: {
        const uint64_t uid = nextUid_++;
        const size_t depth = pushScratch();
        for (const Value& e : *v.arrayPtr()) {
          if (e.isNone() || e.isUid()) continue;
          const uint64_t child = encodePlain(e);
          scratch_[depth].push_back(child);
        }
        emitArrayObject(uid, depth);
        popScratch();
        return uid;
      }
      case Value::Kind::kDictionary:
        return encodePlainDictionary(*v.dictionaryPtr());
      case Value::Kind::kData: {
        const uint64_t uid = nextUid_++;
        emit(objectIndex(uid), bplist::scalarSize(v), 0,
             [&](char* p) { return bplist::putScalar(p, v); });
        return uid;
      }
      default: {
        SharedSlot& slot = sharedSlot(v.kind(), v.scalarBits());
        if (slot.matches(v.kind(), v.scalarBits())) return slot.uid;
        const uint64_t uid = nextUid_++;
        emit(objectIndex(uid), bplist::scalarSize(v), 0,
             [&](char* p) { return bplist::putScalar(p, v); });
        slot.take(v.kind(), v.scalarBits(), uid);
        return uid;
      }
    }
  }

  // A record's counters and dates, written as encodePlain writes their
  // values but without building one for each.
  uint64_t encodeUnsigned(uint64_t number) {
    SharedSlot& slot = sharedSlot(Value::Kind::kUnsigned, number);
    if (slot.matches(Value::Kind::kUnsigned, number)) return slot.uid;
    const uint64_t uid = nextUid_++;
    emit(objectIndex(uid), bplist::kUnsignedSize, 0,
         [&](char* p) { return bplist::putUnsigned(p, number); });
    slot.take(Value::Kind::kUnsigned, number, uid);
    return uid;
  }

  uint64_t encodeDate(double seconds) {
    uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    SharedSlot& slot = sharedSlot(Value::Kind::kDate, bits);
    if (slot.matches(Value::Kind::kDate, bits)) return slot.uid;
    const uint64_t uid = nextUid_++;
    const uint64_t time = newExtra();
    emit(time, bplist::kRealSize, 0, [&](char* p) { return bplist::putReal(p, seconds); });
    const uint64_t cls = fixedClass(kDateClass);
    emitDictionary(objectIndex(uid),
                   {{fixedKey(kTimeField), time}, {fixedKey(kClassField), uidRef(cls)}});
    slot.take(Value::Kind::kDate, bits, uid);
    return uid;
  }

  uint64_t encodePlainDictionary(const Dictionary& d) {
    return encodeDictionaryOf(
        d.size(), [&d](size_t i) -> const Dictionary::Entry& { return *(d.begin() + i); },
        [](const Dictionary::Entry& e) { return e.first; },
        [](const Dictionary::Entry& e) { return !e.second.isNone() && !e.second.isUid(); },
        [this](const Dictionary::Entry& e) { return encodePlain(e.second); });
  }

  uint64_t encodePlainEntries(const PlainEntry* entries, size_t count) {
    return encodeDictionaryOf(
        count, [entries](size_t i) -> const PlainEntry& { return entries[i]; },
        [](const PlainEntry& e) { return e.key; },
        [](const PlainEntry& e) {
          return e.form != PlainEntry::Form::kValue || (!e.value->isNone() && !e.value->isUid());
        },
        [this](const PlainEntry& e) {
          switch (e.form) {
            case PlainEntry::Form::kText:
              return emitPlainText(e.text);
            case PlainEntry::Form::kUnsigned:
              return encodeUnsigned(e.number);
            case PlainEntry::Form::kDate:
              return encodeDate(e.seconds);
            case PlainEntry::Form::kValue:
              break;
          }
          return encodePlain(*e.value);
        });
  }

  // A mutable dictionary of |count| entries reached by |at|; |keyOf| gives an
  // entry's key, |kept| whether it is written and |encode| its value's uid.
  template <typename At, typename KeyOf, typename Kept, typename Encode>
  uint64_t encodeDictionaryOf(size_t count, At at, KeyOf keyOf, Kept kept, Encode encode) {
    const uint64_t uid = nextUid_++;
    // Keys first, then the values in the same order, as the platform does.
    const size_t keys = pushScratch();
    for (size_t i = 0; i < count; ++i) {
      const auto& e = at(i);
      if (!kept(e)) continue;
      scratch_[keys].push_back(dictionaryKeyUid(keyOf(e)));
    }
    const size_t values = pushScratch();
    for (size_t i = 0; i < count; ++i) {
      const auto& e = at(i);
      if (!kept(e)) continue;
      const uint64_t child = encode(e);
      scratch_[values].push_back(child);
    }
    const uint64_t cls = fixedClass(kDictionaryClass);
    const uint64_t keysRef = keysArrayRef(scratch_[keys]);
    const uint64_t valuesRef = newExtra();
    emitUidArray(valuesRef, scratch_[values]);
    emitDictionary(objectIndex(uid), {{fixedKey(kKeysField), keysRef},
                                      {fixedKey(kObjectsField), valuesRef},
                                      {fixedKey(kClassField), uidRef(cls)}});
    popScratch();
    popScratch();
    return uid;
  }

  // The uid of the dictionary key |key| in "$objects", written once per key.
  // Fast path: every record repeats the same few keys, and a slot by the
  // key's address answers them without hashing (keys are interned, so the
  // address identifies the text). Measured: save 1.06x slower without it,
  // within the noise.
  uint64_t dictionaryKeyUid(Key key) {
    const std::string* text = &key.str();
    const size_t slot = reinterpret_cast<uintptr_t>(text) / sizeof *text;
    if (const uint64_t* uid = recentKeyUids_.find(slot, text)) return *uid;
    return recentKeyUids_.keep(slot, text, dictionaryKeyUidFallback(text));
  }

  uint64_t dictionaryKeyUidFallback(const std::string* text) {
    auto it = keyUids_.find(text);
    if (it != keyUids_.end()) return it->second;
    const uint64_t uid = emitPlainText(*text);
    keyUids_.emplace(text, uid);
    return uid;
  }

  // The NS.keys array for the key uids |keys|: records share their key
  // sets, so one array serves all dictionaries with the same keys.
  // Fast path: most dictionaries have the key set of the one before them,
  // compared before hashing. Measured: save 1.03x slower without it, within
  // the noise.
  uint64_t keysArrayRef(const std::vector<uint64_t>& keys) {
    if (lastKeysRef_ != kUnset && keys == lastKeys_) return lastKeysRef_;
    lastKeys_ = keys;
    lastKeysRef_ = keysArrayRefFallback(keys);
    return lastKeysRef_;
  }

  uint64_t keysArrayRefFallback(const std::vector<uint64_t>& keys) {
    auto shared = keyArrays_.find(keys);
    if (shared != keyArrays_.end()) return shared->second;
    const uint64_t ref = newExtra();
    emitUidArray(ref, keys);
    keyArrays_.emplace(keys, ref);
    return ref;
  }

  // A mutable array object over the uids collected in scratch_[depth].
  void emitArrayObject(uint64_t uid, size_t depth) {
    const uint64_t cls = fixedClass(kArrayClass);
    const uint64_t elements = newExtra();
    emitUidArray(elements, scratch_[depth]);
    emitDictionary(objectIndex(uid),
                   {{fixedKey(kObjectsField), elements}, {fixedKey(kClassField), uidRef(cls)}});
  }

  // The class description, added after the first object of the class.
  // Fast path: records and their dictionaries and dates take turns, and a
  // slot per name length tells them apart without the map. Measured: save
  // 1.07x slower without it.
  uint64_t classUid(std::string_view name) {
    if (const uint64_t* uid = recentClasses_.find(name.size(), name)) return *uid;
    return recentClasses_.keep(name.size(), name, classUidFallback(name));
  }

  uint64_t classUidFallback(std::string_view name) {
    auto it = classUids_.find(name);
    if (it != classUids_.end()) return it->second;
    const uint64_t uid = nextUid_++;
    const auto& chain = classChain(name);
    std::vector<uint64_t> names;
    for (std::string_view c : chain) names.push_back(keyString(c));
    const uint64_t classes = newExtra();
    emit(classes, bplist::headerSize(names.size()), names.size(), [&](char* p) {
      p = bplist::putHeader(p, 0xA, names.size());
      for (uint64_t r : names) p = bplist::putBigEndian(p, r, refSize_);
      return p;
    });
    emitDictionary(objectIndex(uid),
                   {{keyString("$classname"), keyString(name)}, {keyString("$classes"), classes}});
    classUids_.emplace(std::string(name), uid);
    return uid;
  }

  // The classes of the archive's own containers and dates, asked for by
  // every record. Fast path: known by number, without comparing their
  // names. Measured: save 1.06x slower without it.
  enum FixedClass { kDictionaryClass, kArrayClass, kDateClass, kFixedClasses };
  uint64_t fixedClass(FixedClass cls) {
    static constexpr std::string_view kNames[kFixedClasses] = {"NSMutableDictionary",
                                                               "NSMutableArray", "NSDate"};
    if (fixedClasses_[cls] == kUnset) fixedClasses_[cls] = classUid(kNames[cls]);
    return fixedClasses_[cls];
  }

  // The archive's own keys, likewise ("NS.keys" and "NS.time" share a slot
  // of recentStrings_). Measured: save 1.23x slower without it.
  enum FixedKey { kClassField, kKeysField, kObjectsField, kTimeField, kFixedKeys };
  uint64_t fixedKey(FixedKey key) {
    static constexpr std::string_view kTexts[kFixedKeys] = {"$class", "NS.keys", "NS.objects",
                                                            "NS.time"};
    if (fixedKeys_[key] == kUnset) fixedKeys_[key] = keyString(kTexts[key]);
    return fixedKeys_[key];
  }

  // A binary string object outside "$objects", written once per text.
  // Fast path: every record asks for the same few texts (its coder key,
  // the archive's own keys), and a slot per text length answers them
  // without hashing. Measured: save 1.10x slower without it.
  uint64_t keyString(std::string_view text) {
    if (const uint64_t* ref = recentStrings_.find(text.size(), text)) return *ref;
    return recentStrings_.keep(text.size(), text, keyStringFallback(text));
  }

  uint64_t keyStringFallback(std::string_view text) {
    auto it = strings_.find(std::string(text));
    if (it != strings_.end()) return it->second;
    const uint64_t ref = newExtra();
    emitText(ref, text);
    strings_.emplace(std::string(text), ref);
    return ref;
  }

  uint64_t emitPlainText(std::string_view text) {
    const uint64_t uid = nextUid_++;
    emitText(objectIndex(uid), text);
    return uid;
  }

  void emitText(uint64_t index, std::string_view text) {
    emit(index, bplist::textSize(text), 0, [&](char* p) { return bplist::putText(p, text); });
  }

  void emitUidArray(uint64_t index, const std::vector<uint64_t>& uids) {
    emitArray(index, uids.size(), [&](uint64_t i) { return uidRef(uids[i]); });
  }

  // An array of |count| references, written a slice at a time: "$objects"
  // and a large folder's item list are far bigger than the write buffer.
  template <typename RefAt>
  void emitArray(uint64_t index, uint64_t count, RefAt refAt) {
    const size_t header = bplist::headerSize(count);
    if (!writing_) {
      bytes_ += header;
      refSlots_ += count;
      return;
    }
    place(index, header + count * refSize_);
    char* p = stream_->claim(header);
    bplist::putHeader(p, 0xA, count);
    stream_->commit(header);
    constexpr uint64_t kSlice = 4096;
    for (uint64_t first = 0; first < count; first += kSlice) {
      const uint64_t slice = std::min(kSlice, count - first);
      p = stream_->claim(static_cast<size_t>(slice * refSize_));
      for (uint64_t i = first; i < first + slice; ++i)
        p = bplist::putBigEndian(p, refAt(i), refSize_);
      stream_->commit(static_cast<size_t>(slice * refSize_));
    }
  }

  void emitDictionary(uint64_t index, const Entry* entries, size_t n) {
    emit(index, bplist::headerSize(n), 2 * n, [&](char* p) {
      p = bplist::putHeader(p, 0xD, n);
      for (size_t i = 0; i < n; ++i) p = bplist::putBigEndian(p, entries[i].first, refSize_);
      for (size_t i = 0; i < n; ++i) p = bplist::putBigEndian(p, entries[i].second, refSize_);
      return p;
    });
  }
  void emitDictionary(uint64_t index, const std::vector<Entry>& entries) {
    emitDictionary(index, entries.data(), entries.size());
  }
  void emitDictionary(uint64_t index, std::initializer_list<Entry> entries) {
    emitDictionary(index, entries.begin(), entries.size());
  }

  // Counts an object of |fixed| bytes plus |refs| references in the first
  // pass; writes it and its offset-table entry in the second.
  template <typename Put>
  void emit(uint64_t index, size_t fixed, uint64_t refs, Put put) {
    if (!writing_) {
      bytes_ += fixed;
      refSlots_ += refs;
      return;
    }
    const uint64_t size = fixed + refs * refSize_;
    place(index, size);
    char* p = stream_->claim(static_cast<size_t>(size));
    if (put(p) != p + size) recordsChanged();
    stream_->commit(static_cast<size_t>(size));
  }

  // Notes where object |index| of |size| bytes starts, before it is written.
  void place(uint64_t index, uint64_t size) {
    const uint64_t offset = stream_->position();
    if (size > objectBytes_ - offset) recordsChanged();
    for (PlistOffsetWindow* window : windows_) {
      if (!window->covers(index)) continue;
      if (!window->set(index, offset)) recordsChanged();
      return;
    }
    recordsChanged();
  }

  uint64_t codedKeyString(std::string_view key) {
    // "$" keys belong to the archive itself; a coder key starting with one
    // gets another in front.
    if (key.empty() || key[0] != '$') return keyString(key);
    return keyString("$" + std::string(key));
  }

  uint64_t newExtra() { return extrasBase_ + extras_++; }
  uint64_t objectIndex(uint64_t uid) const { return kObjectsBase + uid; }
  uint64_t uidRef(uint64_t uid) const { return uidBase_ + uid; }
  std::vector<Entry>& entries() {
    if (frameDepth_ == 0) throw PlatformException("archive: a value encoded outside a record");
    return frames_[frameDepth_ - 1];
  }
  size_t pushScratch() {
    if (scratchDepth_ == scratch_.size()) scratch_.emplace_back();
    scratch_[scratchDepth_].clear();
    return scratchDepth_++;
  }
  void popScratch() { --scratchDepth_; }

  struct VectorHash {
    size_t operator()(const std::vector<uint64_t>& v) const {
      size_t h = v.size();
      for (uint64_t x : v) h = h * 1000003 ^ std::hash<uint64_t>()(x);
      return h;
    }
  };

  bool writing_ = false;
  static constexpr uint64_t kUnset = ~uint64_t{0};
  // Numbering, identical in both passes. These tables decide which objects
  // the archive shares, so they are part of what is written, not caches.
  uint64_t nextUid_ = 0;
  uint64_t extras_ = 0;
  std::unordered_map<std::string, uint64_t> strings_;         // binary key strings
  std::unordered_map<const std::string*, uint64_t> keyUids_;  // dictionary keys in $objects
  std::map<std::string, uint64_t, std::less<>> classUids_;
  std::unordered_map<std::vector<uint64_t>, uint64_t, VectorHash> keyArrays_;
  static constexpr int kSharedBits = 10;
  SharedSlot shared_[1 << kSharedBits];
  // Fast paths in front of them (each described where it is used); they
  // change how fast an answer comes, never the answer.
  RecentAnswers<const std::string*, 32> recentKeyUids_;
  std::vector<uint64_t> lastKeys_;  // the key set of the last dictionary, with its array
  uint64_t lastKeysRef_ = kUnset;
  uint64_t fixedKeys_[kFixedKeys] = {kUnset, kUnset, kUnset, kUnset};
  uint64_t fixedClasses_[kFixedClasses] = {kUnset, kUnset, kUnset};
  RecentAnswers<std::string, 16> recentStrings_;
  RecentAnswers<std::string, 16> recentClasses_;
  std::vector<std::vector<Entry>> frames_;  // entries of the records being encoded
  size_t frameDepth_ = 0;
  std::vector<std::vector<uint64_t>> scratch_;  // element uids of open containers
  size_t scratchDepth_ = 0;
  // First pass: what the objects take besides references and UID objects.
  uint64_t bytes_ = 0;
  uint64_t refSlots_ = 0;
  // Second pass: the layout and where it goes.
  unsigned refSize_ = 1, uidWidth_ = 1, offsetSize_ = 1;
  uint64_t uidBase_ = 0, extrasBase_ = 0, objectBytes_ = 0;
  PlistObjectStream* stream_ = nullptr;
  PlistOffsetWindow* windows_[4] = {};
};

}  // namespace

void writeKeyedArchive(ByteSink& sink, size_t count, const ObjectAt& element) {
  ArchiveEncoder().write(sink, count, element);
}

}  // namespace sweeprun
