#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/keyed_archive.h"
#include "plist/binary_plist.h"

namespace sweeprun {

class MappedFile;

/// Reads the objects of a keyed archive on demand, straight from the binary
/// property list by index: nothing of "$objects" is decoded before it is
/// asked for. An XML archive is first turned into a binary one (those are
/// small). Every fault throws PlatformException: the bytes not a keyed
/// archive, a reference out of range, a cycle, an unknown class where a
/// container or record belongs, a wrong kind of value.
class KeyedArchiveReader {
 public:
  /// Reads |bytes|, which must outlive the reader. When they are the content
  /// of |mapping|, the mapping's pages are handed back every few megabytes of
  /// reading, so a large file never becomes resident as a whole.
  explicit KeyedArchiveReader(std::string_view bytes, const MappedFile* mapping = nullptr);

  /// The object named |key| in "$top"; false when absent or nil.
  bool top(std::string_view key, uint64_t& uid) const;

  /// Calls |each| with a decoder on every element of the array object |uid|;
  /// each element must be a record whose class chain holds |className|.
  void eachRecord(uint64_t uid, std::string_view className,
                  const std::function<void(KeyedDecoder&)>& each);

  /// The plain value graph of object |uid| (nil: none). Strings, numbers,
  /// data, dates, arrays, sets (as arrays) and dictionaries; a dictionary
  /// key that is an integer reads as its decimal text. Other classes are
  /// refused unless |anyClass|, when they read as a dictionary of their
  /// coded keys plus "$class" with the class name (NSNull reads as none).
  Value plainValue(uint64_t uid, bool anyClass, int depth = 0);
  /// Hands the entries of the dictionary object |uid| to |visitor|, reading
  /// texts and dates in place; false, without calls, when |uid| is nil or
  /// another kind of object. Fails as plainValue does.
  bool visitDictionary(uint64_t uid, DictionaryVisitor& visitor);

 private:
  using Object = BinaryPlistView::Object;
  enum class Category : uint8_t { kArray, kDictionary, kString, kData, kDate, kNull, kOther };
  struct ClassInfo {
    std::string name;
    std::vector<std::string> chain;
    Category category;
  };
  friend class RecordDecoder;

  Object objectAt(uint64_t uid) const;
  uint64_t uidOf(const Object& reference) const;
  /// The UID object number |ref| holds; fails as uidOf does.
  uint64_t uidAt(uint64_t ref) const;
  const ClassInfo& classOf(const Object& object);
  const ClassInfo& classOfFallback(uint64_t uid);
  Object field(const Object& object, std::string_view key, bool& present) const;
  bool findKey(const Object& object, std::string_view key, uint64_t& valueRef) const;
  /// The keys of the archive's own objects, asked for in nearly every one.
  enum OwnKey : uint8_t { kClassKey, kKeysKey, kObjectsKey, kTimeKey, kOwnKeys };
  /// As above for the text of |key|, but known by the key objects' slots
  /// instead of compared again at every object.
  Object field(const Object& object, OwnKey key, bool& present) const;
  bool findKey(const Object& object, OwnKey key, uint64_t& valueRef) const;
  /// The slot of key object |ref|, filled when another object held it.
  struct KeyText;
  KeyText& keyText(uint64_t ref) const;
  Key keyFor(uint64_t uid, int depth);
  /// The keys of the NS.keys array |keys|, each as keyFor reads it.
  const std::vector<Key>& keysOf(const Object& keys);
  /// The time of date object |uid| when it was read before.
  bool knownDate(uint64_t uid, double& seconds) const;
  void enter(uint64_t uid);
  void leave(uint64_t uid) { open_[uid] = false; }
  /// The NS.keys and NS.objects arrays of the dictionary |o| (object |uid|),
  /// checked to match and charged for; fails the decoding otherwise.
  void dictionaryArrays(uint64_t uid, const Object& o, Object& keys, Object& values);
  void charge(uint64_t cost);
  [[noreturn]] void fail(uint64_t uid, const std::string& reason) const;

  std::string converted_;  // an XML archive in binary form
  const MappedFile* mapping_ = nullptr;
  mutable uint64_t fetched_ = 0;  // objects reached since the pages were last handed back
  std::optional<BinaryPlistView> view_;
  Object objects_{};
  Object top_{};
  uint64_t count_ = 0;
  std::vector<bool> open_;  // objects being decoded, to refuse cycles
  uint64_t budget_ = 0;
  int recordDepth_ = 0;
  // Each class description read; its entries never move. The fields below
  // it are fast paths, described where they are used.
  std::unordered_map<uint64_t, ClassInfo> classes_;
  struct RecentClass {
    uint64_t uid = 0;
    const ClassInfo* info = nullptr;
  };
  static constexpr size_t kRecentClassSlots = 8;
  RecentClass recentClasses_[kRecentClassSlots];
  struct CachedKey {
    uint64_t uid = ~uint64_t{0};
    std::optional<Key> key;
  };
  static constexpr size_t kKeySlots = 64;
  CachedKey keys_[kKeySlots];
  struct KeyList {
    uint64_t index = ~uint64_t{0};  // the NS.keys array object they come from
    std::vector<Key> keys;
  };
  KeyList keyList_;
  struct KeyText {
    uint64_t index = ~uint64_t{0};
    bool ascii = false;
    uint8_t own = kOwnKeys;  // the own key it is equal to, if any
    std::string text;
  };
  static constexpr size_t kKeyTextSlots = 64;
  mutable KeyText keyTexts_[kKeyTextSlots];
  struct CachedDate {
    uint64_t uid = 0;  // 0 is nil, never a date
    double seconds = 0;
  };
  static constexpr size_t kDateSlots = 16;
  CachedDate dates_[kDateSlots];
};

}  // namespace sweeprun
