#pragma once

// plist: values and property lists, binary and XML, bytes to values and back; no OS calls.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/date.h"

namespace sweeprun {

class Value;
class Dictionary;
using Array = std::vector<Value>;

/// A dictionary key. Keys are interned for the life of the process, so a key
/// is one pointer wide and a record with seven four-letter keys allocates
/// nothing per key.
class Key {
 public:
  explicit Key(std::string_view text);
  std::string_view text() const { return *text_; }
  const std::string& str() const { return *text_; }
  friend bool operator==(Key a, Key b) { return a.text_ == b.text_; }
  friend bool operator!=(Key a, Key b) { return a.text_ != b.text_; }

 private:
  const std::string* text_;
};

/// One property-list value: none, boolean, signed or unsigned 64-bit integer,
/// real, text, date, data, array, dictionary, or an archive reference (UID).
///
/// Texts and data are immutable and shared between copies; arrays and
/// dictionaries are owned, so copying a value copies them deeply. Reading a
/// value of the wrong kind gives 0, false, empty or none, never an error:
/// callers rely on "a missing or mistyped key reads as 0".
class Value {
 public:
  enum class Kind : uint8_t {
    kNone,
    kBoolean,
    kInteger,   // signed 64-bit
    kUnsigned,  // unsigned 64-bit (counters, file numbers)
    kReal,
    kText,
    kDate,
    kData,
    kArray,
    kDictionary,
    kUid,  // a reference inside a keyed archive
  };

  Value() noexcept : kind_(Kind::kNone) { u_.integer = 0; }
  Value(const Value& other);
  Value(Value&& other) noexcept : kind_(other.kind_), u_(other.u_) {
    other.kind_ = Kind::kNone;
  }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() { release(); }

  static Value none() { return Value(); }
  static Value boolean(bool b);
  static Value integer(int64_t i);
  static Value unsignedInteger(uint64_t u);
  static Value real(double r);
  static Value text(std::string_view s);
  static Value date(Date d);
  static Value data(std::string_view bytes);
  static Value array(Array elements = {});
  static Value dictionary(Dictionary entries);
  static Value uid(uint64_t index);

  Kind kind() const { return kind_; }
  bool isNone() const { return kind_ == Kind::kNone; }
  bool isBoolean() const { return kind_ == Kind::kBoolean; }
  /// Boolean, signed, unsigned and real values are all numbers.
  bool isNumber() const {
    return kind_ == Kind::kBoolean || kind_ == Kind::kInteger || kind_ == Kind::kUnsigned ||
           kind_ == Kind::kReal;
  }
  bool isText() const { return kind_ == Kind::kText; }
  bool isDate() const { return kind_ == Kind::kDate; }
  bool isData() const { return kind_ == Kind::kData; }
  bool isArray() const { return kind_ == Kind::kArray; }
  bool isDictionary() const { return kind_ == Kind::kDictionary; }
  bool isUid() const { return kind_ == Kind::kUid; }

  /// Numbers: not zero. Anything else: false. (Texts: see boolReading.)
  bool asBool() const;
  /// Numbers converted to signed 64-bit (reals truncated); anything else 0.
  int64_t asInteger() const;
  /// Numbers converted to unsigned 64-bit (negatives and reals as C casts
  /// them); anything else 0.
  uint64_t asUnsigned() const;
  /// Numbers as a double; anything else 0.
  double asReal() const;
  /// The text, or empty when not a text.
  std::string_view asText() const;
  /// Dates as stored; numbers as seconds since the reference date; anything
  /// else the reference date itself.
  Date asDate() const;
  /// The bytes, or empty when not data.
  std::string_view asData() const;
  uint64_t asUid() const { return kind_ == Kind::kUid ? u_.uns : 0; }
  /// The 64 bits a scalar holds (a boolean as 0 or 1, integers and archive
  /// references as themselves, reals and dates as their IEEE bits), for
  /// telling equal scalars apart quickly together with kind(); 0 for texts,
  /// data and containers.
  uint64_t scalarBits() const;

  /// The boolean reading of a setting: numbers are true when not zero; a text
  /// is true when, after leading whitespace, an optional sign and leading
  /// zeros, it continues with Y, T (either case) or a digit 1-9; none is false.
  bool boolReading() const;
  /// The numeric reading of a setting: numbers as a double; a text gives the
  /// decimal number at its start (0 when there is none); none gives 0.
  double numericReading() const;

  /// Null when the value is not an array / dictionary.
  const Array* arrayPtr() const { return kind_ == Kind::kArray ? u_.array : nullptr; }
  Array* arrayPtr() { return kind_ == Kind::kArray ? u_.array : nullptr; }
  const Dictionary* dictionaryPtr() const;
  Dictionary* dictionaryPtr();

  /// Deep, kind-sensitive equality: an unsigned 1 differs from a signed 1,
  /// and both from a boolean.
  friend bool operator==(const Value& a, const Value& b);
  friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }

 private:
  struct SharedBytes;  // refcounted immutable bytes, for texts and data

  void release() noexcept;
  static SharedBytes* makeBytes(std::string_view bytes);

  Kind kind_;
  union Payload {
    bool boolean;
    int64_t integer;
    uint64_t uns;
    double real;
    SharedBytes* bytes;
    Array* array;
    Dictionary* dictionary;
  } u_;
};

/// An insertion-ordered map from keys to values. Records hold a handful of
/// four-letter keys, for which a flat vector beats a tree or a hash map.
class Dictionary {
 public:
  using Entry = std::pair<Key, Value>;

  Dictionary() = default;
  Dictionary(std::initializer_list<std::pair<std::string_view, Value>> entries);

  /// The value under the key, or a none value when absent.
  const Value& get(std::string_view key) const;
  /// The value under the key, or null when absent.
  Value* find(std::string_view key);
  const Value* find(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  /// Stores the value, replacing an earlier one in its place; a new key goes
  /// to the end.
  void set(std::string_view key, Value value);
  void set(Key key, Value value);
  /// Removes the key; true when it was there.
  bool remove(std::string_view key);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(size_t n) { entries_.reserve(n); }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

  friend bool operator==(const Dictionary& a, const Dictionary& b);
  friend bool operator!=(const Dictionary& a, const Dictionary& b) { return !(a == b); }

 private:
  std::vector<Entry> entries_;
};

}  // namespace sweeprun
