#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/value.h"

namespace sweeprun {

namespace bplist {

/// Reads a |width|-byte big-endian number. Offsets, references and counts
/// are read for every object; the widths a writer uses get straight-line
/// code instead of a loop.
inline uint64_t getBigEndian(const unsigned char* p, unsigned width) {
  switch (width) {
    case 1:
      return p[0];
    case 2:
      return (uint64_t{p[0]} << 8) | p[1];
    case 4:
      return (uint64_t{p[0]} << 24) | (uint64_t{p[1]} << 16) | (uint64_t{p[2]} << 8) | p[3];
    default: {
      uint64_t v = 0;
      for (unsigned i = 0; i < width; ++i) v = (v << 8) | p[i];
      return v;
    }
  }
}

}  // namespace bplist

/// Limits that keep a hostile property list from exhausting the stack or the
/// memory: nesting depth, and the entries of one dictionary (our dictionaries
/// insert with a linear duplicate check).
constexpr int kMaxPlistDepth = 512;
constexpr uint64_t kMaxDictionaryEntries = 16384;

/// Random access to the objects of a binary property list ("bplist00")
/// without building a tree. The constructor checks the header, the trailer
/// and the offset table's extent; object() and ref() check each offset,
/// count and reference as they are read. Every fault throws
/// PlatformException with a short reason. The bytes must outlive the view.
class BinaryPlistView {
 public:
  enum class Type : uint8_t {
    kNull,
    kBoolean,
    kInteger,
    kReal,
    kDate,
    kData,
    kAsciiText,
    kUtf16Text,
    kUid,
    kArray,
    kSet,
    kDictionary,
  };

  /// One object. |count| is the byte width of numbers, dates and UIDs, the
  /// byte count of data and ASCII text, the code units of UTF-16 text, the
  /// elements of arrays and sets and the pairs of dictionaries; |payload|
  /// points at the first byte after the marker and count.
  struct Object {
    Type type;
    uint64_t index;
    uint64_t count;
    const unsigned char* payload;
  };

  explicit BinaryPlistView(std::string_view bytes);

  /// True when |bytes| start with the binary magic "bplist00".
  static bool hasMagic(std::string_view bytes);

  uint64_t objectCount() const { return objectCount_; }
  uint64_t topObject() const { return topObject_; }
  size_t size() const { return size_; }

  Object object(uint64_t index) const;
  /// The value of object |index| when it is a well-formed UID, read without
  /// the work object() does for every kind; false for anything else, which
  /// object() then describes or refuses. Archives reach nearly every object
  /// through one.
  bool uidAt(uint64_t index, uint64_t& uid) const {
    if (index >= objectCount_) return false;
    const uint64_t offset =
        bplist::getBigEndian(begin_ + objectsEnd_ + index * offsetSize_, offsetSize_);
    if (offset < 8 || offset >= objectsEnd_) return false;
    const unsigned char* p = begin_ + offset;
    const unsigned width = (*p & 0x0Fu) + 1;
    if ((*p >> 4) != 0x8 || width > 8 || width > objectsEnd_ - offset - 1) return false;
    uid = bplist::getBigEndian(p + 1, width);
    return true;
  }
  /// Reference |i| of an array, set or dictionary; a dictionary's keys are
  /// references 0 to count-1 and its values count to 2*count-1.
  uint64_t ref(const Object& container, uint64_t i) const {
    const uint64_t slots =
        container.type == Type::kDictionary ? 2 * container.count : container.count;
    if ((container.type != Type::kArray && container.type != Type::kSet &&
         container.type != Type::kDictionary) ||
        i >= slots)
      fail(container.index, "not a container");
    const uint64_t r = bplist::getBigEndian(container.payload + i * refSize_, refSize_);
    if (r >= objectCount_) fail(container.index, "reference out of range");
    return r;
  }

  /// Booleans, numbers, dates, data, texts and UIDs as a value; throws for
  /// containers and for a 16-byte integer that does not fit 64 bits.
  Value scalar(const Object& object) const;
  /// The text as UTF-8 (ASCII bytes above 0x7F are taken as Latin-1); throws
  /// when the object is not a text.
  std::string text(const Object& object) const;
  /// True when the object is a text equal to the ASCII |key|.
  bool textEquals(const Object& object, std::string_view key) const;
  /// The value of |key| in a dictionary object whose keys are texts; false
  /// when absent.
  bool find(const Object& dictionary, std::string_view key, uint64_t& valueRef) const;

 private:
  uint64_t readCount(const unsigned char*& p, uint8_t marker, uint64_t index) const;
  [[noreturn]] void fail(uint64_t index, const char* reason) const;

  const unsigned char* begin_;
  size_t size_;
  uint64_t objectsEnd_;  // the objects lie in [8, objectsEnd_)
  unsigned offsetSize_;
  unsigned refSize_;
  uint64_t objectCount_;
  uint64_t topObject_;
};

/// Reads a binary property list into a value tree. Sets become arrays,
/// dictionary keys must be texts, 16-byte integers read as unsigned. Cycles,
/// nesting deeper than kMaxPlistDepth and trees that would expand shared
/// objects far beyond the input's size are refused. False with a short
/// description in |error| on any fault.
bool readBinaryPropertyList(std::string_view bytes, Value& out, std::string& error);

/// The byte forms of single objects, shared by the property-list writer and
/// the keyed-archive writer. Each put function writes at |p| and returns the
/// position after the object; the size functions give the bytes it takes.
namespace bplist {

/// Bytes needed for an unsigned value: 1, 2, 4 or 8.
unsigned widthFor(uint64_t value);

size_t headerSize(uint64_t count);
/// A marker of kind |kind| (high nibble) with |count|, inline or following.
char* putHeader(char* p, uint8_t kind, uint64_t count);
/// Inline, with straight-line code for the usual widths: every reference
/// and offset of an archive goes through it.
inline char* putBigEndian(char* p, uint64_t value, unsigned width) {
  switch (width) {
    case 1:
      p[0] = static_cast<char>(value);
      return p + 1;
    case 2:
      p[0] = static_cast<char>(value >> 8);
      p[1] = static_cast<char>(value);
      return p + 2;
    case 4:
      p[0] = static_cast<char>(value >> 24);
      p[1] = static_cast<char>(value >> 16);
      p[2] = static_cast<char>(value >> 8);
      p[3] = static_cast<char>(value);
      return p + 4;
    default:
      for (unsigned i = 0; i < width; ++i) p[i] = static_cast<char>(value >> (8 * (width - 1 - i)));
      return p + width;
  }
}

size_t signedSize(int64_t value);
char* putSigned(char* p, int64_t value);
/// Unsigned values are always the 16-byte form, so that they read back as
/// unsigned.
constexpr size_t kUnsignedSize = 17;
char* putUnsigned(char* p, uint64_t value);
constexpr size_t kRealSize = 9;
char* putReal(char* p, double value);
char* putDate(char* p, double value);
inline size_t dataSize(std::string_view bytes) { return headerSize(bytes.size()) + bytes.size(); }
char* putData(char* p, std::string_view bytes);
/// Texts are ASCII when every byte is below 0x80, otherwise UTF-16BE. Bytes
/// that are not valid UTF-8 (file names may hold any bytes) become the lone
/// surrogates U+DC80 to U+DCFF and read back as the same bytes.
size_t textSize(std::string_view utf8);
char* putText(char* p, std::string_view utf8);
inline size_t uidSize(unsigned width) { return 1 + width; }
char* putUid(char* p, uint64_t value, unsigned width);

/// Any value that is not a container: the size and the form of its object.
/// None is written as the null object.
size_t scalarSize(const Value& v);
char* putScalar(char* p, const Value& v);

/// The 32-byte trailer.
constexpr size_t kTrailerSize = 32;
char* putTrailer(char* p, unsigned offsetSize, unsigned refSize, uint64_t objectCount,
                 uint64_t topObject, uint64_t offsetTableOffset);

}  // namespace bplist

}  // namespace sweeprun
