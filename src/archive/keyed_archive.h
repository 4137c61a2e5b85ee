#pragma once

// archive: the keyed archive, records to bytes and back.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"

namespace sweeprun {

class ByteSink;
class KeyedEncoder;
class KeyedDecoder;

/// A record that can be written to a keyed archive under its class name.
class ArchivableObject {
 public:
  virtual ~ArchivableObject() = default;
  virtual std::string_view className() const = 0;
  virtual void encodeWithCoder(KeyedEncoder& coder) const = 0;
};

/// One entry of a plain dictionary that a record hands to encodeEntries
/// without making a value of it: a text, an unsigned number, a date, or any
/// value by address. Trivially copied, so a record lists its entries at no
/// cost.
struct PlainEntry {
  enum class Form : uint8_t { kText, kUnsigned, kDate, kValue };
  Key key;
  Form form;
  std::string_view text;
  uint64_t number = 0;  // kUnsigned
  double seconds = 0;   // kDate
  const Value* value = nullptr;

  /// Every member at once, so that a list can make an entry where it goes
  /// (emplace_back). One made aside and copied in is written a member at a
  /// time and read back in wider pieces, which stalls on every entry.
  PlainEntry(Key key, Form form, std::string_view text = {}, uint64_t number = 0,
             double seconds = 0, const Value* value = nullptr)
      : key(key), form(form), text(text), number(number), seconds(seconds), value(value) {}

  static PlainEntry ofText(Key key, std::string_view text) {
    return {key, Form::kText, text, 0, 0, nullptr};
  }
  static PlainEntry ofUnsigned(Key key, uint64_t number) {
    return {key, Form::kUnsigned, {}, number, 0, nullptr};
  }
  static PlainEntry ofDate(Key key, Date date) {
    return {key, Form::kDate, {}, 0, date.seconds, nullptr};
  }
  static PlainEntry ofValue(Key key, const Value& value) {
    return {key, Form::kValue, {}, 0, 0, &value};
  }
  /// The entry as a value.
  Value toValue() const;
};

/// Told the entries of a plain dictionary one by one, in stored order, as a
/// decoder reads them; the common kinds come without a value made for them.
class DictionaryVisitor {
 public:
  virtual ~DictionaryVisitor() = default;
  /// A text; |text| lasts only for the call.
  virtual void text(Key key, std::string_view text) = 0;
  virtual void unsignedNumber(Key key, uint64_t number) = 0;
  virtual void date(Key key, Date date) = 0;
  /// Any other value, none included.
  virtual void value(Key key, Value value) = 0;
  /// Hands |value| to the method of its kind.
  void visit(Key key, Value value);
};

/// Reaches element |index| of an ordered list of records.
using ObjectAt = std::function<const ArchivableObject&(size_t index)>;

/// The coder handed to a record's encodeWithCoder. Keys are written in the
/// order of the calls.
class KeyedEncoder {
 public:
  virtual ~KeyedEncoder() = default;
  /// Raw bytes, inline in the object (possibly empty).
  virtual void encodeBytes(std::string_view key, std::string_view bytes) = 0;
  /// A plain value graph: dictionaries become mutable dictionaries, arrays
  /// mutable arrays, dates date objects, texts, numbers and data plain
  /// values; a none value becomes the nil reference.
  virtual void encodeValue(std::string_view key, const Value& value) = 0;
  /// The same for a dictionary held outside a value (a record's |data|),
  /// without copying it first.
  virtual void encodeDictionary(std::string_view key, const Dictionary& dictionary) {
    encodeValue(key, Value::dictionary(dictionary));
  }
  /// The same for a dictionary given as |count| entries, so a record with
  /// typed fields need not build one. Entries whose value is none are left
  /// out, as encodeValue leaves them out.
  virtual void encodeEntries(std::string_view key, const PlainEntry* entries, size_t count);
  /// A mutable array of |count| records.
  virtual void encodeObjectArray(std::string_view key, size_t count, const ObjectAt& element) = 0;

  /// Working space for a record's encodeWithCoder, kept by the coder so
  /// that the records of one archive reuse one buffer. What a record puts
  /// there is its own until it encodes a nested record or returns.
  struct Scratch {
    std::string text;
    std::vector<PlainEntry> entries;
  };
  Scratch& scratch() { return scratch_; }

 private:
  Scratch scratch_;
};

/// The coder handed to a record's decoding constructor, positioned on one
/// object of the archive. Every malformed graph it meets (a reference out of
/// range, a cycle, an unknown class, a wrong kind) throws PlatformException.
class KeyedDecoder {
 public:
  virtual ~KeyedDecoder() = default;
  /// The bytes stored inline under the key; empty when absent or nil.
  virtual std::string decodeBytes(std::string_view key) = 0;
  /// The plain value graph under the key; none when absent or nil. Mutable
  /// and immutable strings, arrays, dictionaries and data read alike; date
  /// objects read as date values.
  virtual Value decodeValue(std::string_view key) = 0;
  /// Hands the entries of the plain dictionary under the key to |visitor|,
  /// as decodeValue would have read them. False, without calls, when the
  /// key is absent or holds something other than a dictionary.
  virtual bool decodeDictionary(std::string_view key, DictionaryVisitor& visitor);
  /// The number of elements of the array of records under the key, as
  /// stored, before they are decoded; 0 when unknown.
  virtual size_t objectArrayCount(std::string_view /*key*/) { return 0; }
  /// Decodes the array of records of class |className| under the key,
  /// calling |each| once per element with a decoder positioned on it.
  /// False, without calls, when the key is absent or nil.
  virtual bool decodeObjectArray(std::string_view key, std::string_view className,
                                 const std::function<void(KeyedDecoder&)>& each) = 0;
};

/// Encodes |count| records as the root array of a keyed archive, written as a
/// binary property list the platform's unarchiver reads.
std::string archiveRootObjectArray(size_t count, const ObjectAt& element);
/// The same, streamed into |sink| with memory independent of the archive's
/// size. Throws PlatformException when the records encode differently on
/// the second of the writer's two passes.
void archiveRootObjectArray(ByteSink& sink, size_t count, const ObjectAt& element);
/// The same, replacing the file at |path| atomically (see
/// writeFileAtomicallyFrom); the archive is never held in memory whole.
/// False with "operation(path): reason" in |error|; the old file is then
/// intact.
bool archiveRootObjectArrayToFile(const std::string& path, size_t count, const ObjectAt& element,
                                  std::string& error);

/// Decodes a keyed archive (binary or XML property list) whose root object is
/// an array of records of class |className|, calling |each| per element in
/// order. False when the archive has no root object. Throws
/// PlatformException when the bytes are not a keyed archive or the object
/// graph is malformed; bounded in time and memory by the input's size.
bool unarchiveRootObjectArray(std::string_view bytes, std::string_view className,
                              const std::function<void(KeyedDecoder&)>& each);
/// The same for the archive in the file at |path|, read from the file mapped
/// into memory rather than from a copy, with the pages already read handed
/// back as the decoding moves on. False when the file cannot be read or was
/// cut short while it was read (|error| says so) or when the archive has no
/// root object (|error| empty). Throws as unarchiveRootObjectArray does.
bool unarchiveRootObjectArrayFromFile(const std::string& path, std::string_view className,
                                      const std::function<void(KeyedDecoder&)>& each,
                                      std::string& error);

/// Decodes the object named |topKey| in "$top" of any keyed archive into a
/// plain value graph, for inspection and tests: arrays, sets, dictionaries,
/// strings, data, numbers and dates as themselves; a dictionary key that is
/// a number as its decimal text; NSNull and nil as none; an object of any
/// other class as a dictionary of its coded keys plus "$class" with its class
/// name. None when the archive has no such object. Throws PlatformException
/// as unarchiveRootObjectArray does.
Value unarchivePlainGraph(std::string_view bytes, std::string_view topKey = "root");

}  // namespace sweeprun
