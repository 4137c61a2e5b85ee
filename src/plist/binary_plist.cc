#include "plist/binary_plist.h"

#include <cstring>
#include <vector>

#include "os/exception.h"

namespace sweeprun {

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicSize = 8;
constexpr size_t kTrailerSize = 32;

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string utf16ToUtf8(const unsigned char* p, uint64_t units) {
  std::string out;
  out.reserve(units);
  for (uint64_t i = 0; i < units; ++i) {
    const uint32_t u = bplist::getBigEndian(p + 2 * i, 2);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t low = bplist::getBigEndian(p + 2 * i + 2, 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xDC80 && u <= 0xDCFF) {
      // The writer's escape for a byte that was not valid UTF-8.
      out.push_back(static_cast<char>(u & 0xFF));
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace

BinaryPlistView::BinaryPlistView(std::string_view bytes)
    : begin_(reinterpret_cast<const unsigned char*>(bytes.data())), size_(bytes.size()) {
  if (!hasMagic(bytes)) throw PlatformException("not a binary property list");
  if (size_ < kMagicSize + 1 + kTrailerSize)
    throw PlatformException("binary property list: truncated");
  const unsigned char* trailer = begin_ + size_ - kTrailerSize;
  offsetSize_ = trailer[6];
  refSize_ = trailer[7];
  objectCount_ = bplist::getBigEndian(trailer + 8, 8);
  topObject_ = bplist::getBigEndian(trailer + 16, 8);
  const uint64_t tableOffset = bplist::getBigEndian(trailer + 24, 8);
  if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
    throw PlatformException("binary property list: bad trailer");
  if (objectCount_ == 0) throw PlatformException("binary property list: no objects");
  if (topObject_ >= objectCount_)
    throw PlatformException("binary property list: top object out of range");
  if (tableOffset <= kMagicSize || tableOffset > size_ - kTrailerSize)
    throw PlatformException("binary property list: offset table out of range");
  if (objectCount_ > (size_ - kTrailerSize - tableOffset) / offsetSize_)
    throw PlatformException("binary property list: offset table truncated");
  objectsEnd_ = tableOffset;
}

bool BinaryPlistView::hasMagic(std::string_view bytes) {
  return bytes.size() >= kMagicSize && std::memcmp(bytes.data(), kMagic, kMagicSize) == 0;
}

void BinaryPlistView::fail(uint64_t index, const char* reason) const {
  throw PlatformException("binary property list: object " + std::to_string(index) + ": " + reason);
}

uint64_t BinaryPlistView::readCount(const unsigned char*& p, uint8_t marker, uint64_t index) const {
  if ((marker & 0x0F) != 0x0F) return marker & 0x0F;
  const unsigned char* end = begin_ + objectsEnd_;
  if (p >= end) fail(index, "truncated count");
  const uint8_t countMarker = *p++;
  if ((countMarker & 0xF0) != 0x10 || (countMarker & 0x0F) > 3) fail(index, "bad count");
  const unsigned width = 1u << (countMarker & 0x0F);
  if (static_cast<size_t>(end - p) < width) fail(index, "truncated count");
  const uint64_t count = bplist::getBigEndian(p, width);
  p += width;
  return count;
}

BinaryPlistView::Object BinaryPlistView::object(uint64_t index) const {
  if (index >= objectCount_) fail(index, "reference out of range");
  const uint64_t offset =
      bplist::getBigEndian(begin_ + objectsEnd_ + index * offsetSize_, offsetSize_);
  if (offset < kMagicSize || offset >= objectsEnd_) fail(index, "offset out of range");
  const unsigned char* p = begin_ + offset;
  const uint8_t marker = *p++;
  Object o{Type::kNull, index, 0, nullptr};
  uint64_t unit = 1;  // bytes per counted element
  switch (marker >> 4) {
    case 0x0:
      if (marker == 0x08 || marker == 0x09) {
        o.type = Type::kBoolean;
        o.count = marker & 1;
      } else if (marker != 0x00) {
        fail(index, "unknown marker");
      }
      break;
    case 0x1:
      if ((marker & 0x0F) > 4) fail(index, "bad integer width");
      o.type = Type::kInteger;
      o.count = 1u << (marker & 0x0F);
      break;
    case 0x2:
      if (marker != 0x22 && marker != 0x23) fail(index, "bad real width");
      o.type = Type::kReal;
      o.count = marker == 0x22 ? 4 : 8;
      break;
    case 0x3:
      if (marker != 0x33) fail(index, "bad date");
      o.type = Type::kDate;
      o.count = 8;
      break;
    case 0x4:
      o.type = Type::kData;
      o.count = readCount(p, marker, index);
      break;
    case 0x5:
      o.type = Type::kAsciiText;
      o.count = readCount(p, marker, index);
      break;
    case 0x6:
      o.type = Type::kUtf16Text;
      o.count = readCount(p, marker, index);
      unit = 2;
      break;
    case 0x8:
      if ((marker & 0x0F) > 7) fail(index, "UID wider than 8 bytes");
      o.type = Type::kUid;
      o.count = (marker & 0x0F) + 1u;
      break;
    case 0xA:
    case 0xC:
      o.type = (marker >> 4) == 0xA ? Type::kArray : Type::kSet;
      o.count = readCount(p, marker, index);
      unit = refSize_;
      break;
    case 0xD:
      o.type = Type::kDictionary;
      o.count = readCount(p, marker, index);
      unit = 2 * refSize_;
      break;
    default:
      fail(index, "unknown marker");
  }
  const uint64_t remaining = objectsEnd_ - static_cast<uint64_t>(p - begin_);
  const bool sized = o.type != Type::kNull && o.type != Type::kBoolean;
  if (sized && o.count > remaining / unit) fail(index, "extends past the objects");
  o.payload = p;
  return o;
}

Value BinaryPlistView::scalar(const Object& o) const {
  const unsigned char* p = o.payload;
  switch (o.type) {
    case Type::kNull:
      return Value();
    case Type::kBoolean:
      return Value::boolean(o.count != 0);
    case Type::kInteger:
      if (o.count == 16) {
        if (bplist::getBigEndian(p, 8) != 0) fail(o.index, "integer does not fit 64 bits");
        return Value::unsignedInteger(bplist::getBigEndian(p + 8, 8));
      }
      // 1, 2 and 4 bytes are unsigned; 8 bytes are two's complement.
      return Value::integer(
          static_cast<int64_t>(bplist::getBigEndian(p, static_cast<unsigned>(o.count))));
    case Type::kReal:
    case Type::kDate: {
      double d;
      if (o.count == 4) {
        const uint32_t bits = static_cast<uint32_t>(bplist::getBigEndian(p, 4));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        d = f;
      } else {
        const uint64_t bits = bplist::getBigEndian(p, 8);
        std::memcpy(&d, &bits, sizeof d);
      }
      return o.type == Type::kDate ? Value::date(Date{d}) : Value::real(d);
    }
    case Type::kData:
      return Value::data(
          std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(o.count)));
    case Type::kAsciiText:
    case Type::kUtf16Text:
      return Value::text(text(o));
    case Type::kUid:
      return Value::uid(bplist::getBigEndian(p, static_cast<unsigned>(o.count)));
    default:
      fail(o.index, "container where a single value belongs");
  }
}

std::string BinaryPlistView::text(const Object& o) const {
  if (o.type == Type::kUtf16Text) return utf16ToUtf8(o.payload, o.count);
  if (o.type != Type::kAsciiText) fail(o.index, "not a text");
  std::string out;
  out.reserve(o.count);
  for (uint64_t i = 0; i < o.count; ++i) appendUtf8(out, o.payload[i]);
  return out;
}

bool BinaryPlistView::textEquals(const Object& o, std::string_view key) const {
  if (o.count != key.size()) return false;
  if (o.type == Type::kAsciiText) return std::memcmp(o.payload, key.data(), key.size()) == 0;
  if (o.type != Type::kUtf16Text) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (bplist::getBigEndian(o.payload + 2 * i, 2) != static_cast<unsigned char>(key[i]))
      return false;
  return true;
}

bool BinaryPlistView::find(const Object& dictionary, std::string_view key,
                           uint64_t& valueRef) const {
  if (dictionary.type != Type::kDictionary) fail(dictionary.index, "not a dictionary");
  for (uint64_t i = 0; i < dictionary.count; ++i) {
    if (textEquals(object(ref(dictionary, i)), key)) {
      valueRef = ref(dictionary, dictionary.count + i);
      return true;
    }
  }
  return false;
}

namespace {

// Builds the value tree. Objects on the current path are marked, so an
// object that contains itself is refused instead of recursing forever, and
// every node is charged against a budget proportional to the input, so
// shared sub-trees cannot expand into more memory than a small multiple of
// it.
class TreeReader {
 public:
  explicit TreeReader(const BinaryPlistView& view)
      : view_(view),
        open_(view.objectCount()),
        budget_(16 * static_cast<uint64_t>(view.size()) + (1u << 20)) {}

  Value read(uint64_t index, int depth) {
    if (depth > kMaxPlistDepth) throw PlatformException("property list nested too deeply");
    const BinaryPlistView::Object o = view_.object(index);
    using Type = BinaryPlistView::Type;
    switch (o.type) {
      case Type::kArray:
      case Type::kSet:
      case Type::kDictionary:
        break;
      case Type::kData:
      case Type::kAsciiText:
      case Type::kUtf16Text:
        charge(2 * o.count);
        return view_.scalar(o);
      default:
        charge(0);
        return view_.scalar(o);
    }
    if (open_[index]) fail(index, "contains itself");
    open_[index] = true;
    charge(o.count * 32);
    Value result;
    if (o.type == Type::kDictionary) {
      if (o.count > kMaxDictionaryEntries) fail(index, "dictionary has too many entries");
      Dictionary d;
      d.reserve(static_cast<size_t>(o.count));
      for (uint64_t i = 0; i < o.count; ++i) {
        const BinaryPlistView::Object key = view_.object(view_.ref(o, i));
        if (key.type != Type::kAsciiText && key.type != Type::kUtf16Text)
          fail(index, "dictionary key is not a text");
        charge(key.count);
        d.set(Key(view_.text(key)), read(view_.ref(o, o.count + i), depth + 1));
      }
      result = Value::dictionary(std::move(d));
    } else {
      Array a;
      a.reserve(static_cast<size_t>(o.count));
      for (uint64_t i = 0; i < o.count; ++i) a.push_back(read(view_.ref(o, i), depth + 1));
      result = Value::array(std::move(a));
    }
    open_[index] = false;
    return result;
  }

 private:
  void charge(uint64_t cost) {
    cost += 32;
    if (cost > budget_) throw PlatformException("property list expands beyond its size");
    budget_ -= cost;
  }
  [[noreturn]] void fail(uint64_t index, const char* reason) {
    throw PlatformException("binary property list: object " + std::to_string(index) + ": " +
                            reason);
  }

  const BinaryPlistView& view_;
  std::vector<bool> open_;
  uint64_t budget_;
};

}  // namespace

bool readBinaryPropertyList(std::string_view bytes, Value& out, std::string& error) {
  try {
    const BinaryPlistView view(bytes);
    TreeReader reader(view);
    out = reader.read(view.topObject(), 0);
    return true;
  } catch (const PlatformException& e) {
    error = e.what();
    return false;
  }
}

}  // namespace sweeprun
