#include <cstring>
#include <unordered_map>
#include <vector>

#include "plist/binary_plist.h"
#include "plist/property_list.h"

namespace sweeprun {

namespace bplist {

namespace {

// Calls |unit| with each UTF-16 code unit of |utf8|. A byte that does not
// start a valid UTF-8 sequence becomes the lone surrogate 0xDC00 | byte.
template <typename Emit>
void forEachUtf16Unit(std::string_view utf8, Emit unit) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      unit(b);
      ++i;
      continue;
    }
    // The sequence length and the range allowed for its second byte rule
    // out overlong forms, encoded surrogates and values above U+10FFFF.
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    }
    bool valid = length != 0 && i + length <= n && s[i + 1] >= low && s[i + 1] <= high;
    for (size_t k = 2; valid && k < length; ++k) valid = (s[i + k] & 0xC0) == 0x80;
    if (!valid) {
      unit(0xDC00u | b);
      ++i;
      continue;
    }
    uint32_t c = b & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (s[i + k] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800u + (c >> 10));
      unit(0xDC00u + (c & 0x3FF));
    } else {
      unit(c);
    }
    i += length;
  }
}

// Eight bytes at a time: every path of every record is looked at here,
// three times per save.
bool isAscii(std::string_view s) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  const char* p = s.data();
  size_t left = s.size();
  for (; left >= 8; p += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & kHighBits) return false;
  }
  for (; left > 0; ++p, --left)
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  return true;
}

}  // namespace

unsigned widthFor(uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

size_t headerSize(uint64_t count) { return count < 15 ? 1 : 2 + widthFor(count); }

namespace {
unsigned log2Width(unsigned width) { return width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3; }
}  // namespace

char* putHeader(char* p, uint8_t kind, uint64_t count) {
  if (count < 15) {
    *p++ = static_cast<char>((kind << 4) | count);
    return p;
  }
  *p++ = static_cast<char>((kind << 4) | 0x0F);
  const unsigned width = widthFor(count);
  *p++ = static_cast<char>(0x10 | log2Width(width));
  return putBigEndian(p, count, width);
}

size_t signedSize(int64_t value) {
  return value < 0 ? 9 : 1 + widthFor(static_cast<uint64_t>(value));
}

char* putSigned(char* p, int64_t value) {
  // Negative values only have the 8-byte form; 1, 2 and 4 bytes are unsigned.
  const unsigned width = value < 0 ? 8 : widthFor(static_cast<uint64_t>(value));
  *p++ = static_cast<char>(0x10 | log2Width(width));
  return putBigEndian(p, static_cast<uint64_t>(value), width);
}

char* putUnsigned(char* p, uint64_t value) {
  *p++ = 0x14;
  p = putBigEndian(p, 0, 8);
  return putBigEndian(p, value, 8);
}

namespace {
char* putDouble(char* p, uint8_t marker, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  *p++ = static_cast<char>(marker);
  return putBigEndian(p, bits, 8);
}
}  // namespace

char* putReal(char* p, double value) { return putDouble(p, 0x23, value); }
char* putDate(char* p, double value) { return putDouble(p, 0x33, value); }

char* putData(char* p, std::string_view bytes) {
  p = putHeader(p, 0x4, bytes.size());
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  return p + bytes.size();
}

size_t textSize(std::string_view utf8) {
  if (isAscii(utf8)) return headerSize(utf8.size()) + utf8.size();
  uint64_t units = 0;
  forEachUtf16Unit(utf8, [&](uint32_t) { ++units; });
  return headerSize(units) + 2 * units;
}

char* putText(char* p, std::string_view utf8) {
  if (isAscii(utf8)) {
    p = putHeader(p, 0x5, utf8.size());
    if (!utf8.empty()) std::memcpy(p, utf8.data(), utf8.size());
    return p + utf8.size();
  }
  uint64_t units = 0;
  forEachUtf16Unit(utf8, [&](uint32_t) { ++units; });
  p = putHeader(p, 0x6, units);
  forEachUtf16Unit(utf8, [&](uint32_t u) { p = putBigEndian(p, u, 2); });
  return p;
}

char* putUid(char* p, uint64_t value, unsigned width) {
  *p++ = static_cast<char>(0x80 | (width - 1));
  return putBigEndian(p, value, width);
}

char* putTrailer(char* p, unsigned offsetSize, unsigned refSize, uint64_t objectCount,
                 uint64_t topObject, uint64_t offsetTableOffset) {
  std::memset(p, 0, 6);
  p[6] = static_cast<char>(offsetSize);
  p[7] = static_cast<char>(refSize);
  p = putBigEndian(p + 8, objectCount, 8);
  p = putBigEndian(p, topObject, 8);
  return putBigEndian(p, offsetTableOffset, 8);
}

size_t scalarSize(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kBoolean:
      return 1;
    case Value::Kind::kInteger:
      return signedSize(v.asInteger());
    case Value::Kind::kUnsigned:
      return kUnsignedSize;
    case Value::Kind::kReal:
    case Value::Kind::kDate:
      return kRealSize;
    case Value::Kind::kText:
      return textSize(v.asText());
    case Value::Kind::kData:
      return dataSize(v.asData());
    case Value::Kind::kUid:
      return uidSize(widthFor(v.asUid()));
    default:
      return 1;
  }
}

char* putScalar(char* p, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kBoolean:
      *p = v.asBool() ? 0x09 : 0x08;
      return p + 1;
    case Value::Kind::kInteger:
      return putSigned(p, v.asInteger());
    case Value::Kind::kUnsigned:
      return putUnsigned(p, v.asUnsigned());
    case Value::Kind::kReal:
      return putReal(p, v.asReal());
    case Value::Kind::kDate:
      return putDate(p, v.asDate().seconds);
    case Value::Kind::kText:
      return putText(p, v.asText());
    case Value::Kind::kData:
      return putData(p, v.asData());
    case Value::Kind::kUid:
      return putUid(p, v.asUid(), widthFor(v.asUid()));
    default:
      *p = 0x00;
      return p + 1;
  }
}

}  // namespace bplist

namespace {

// Numbers the objects of a value tree depth-first, writing equal texts, data
// and scalars once, then writes them in index order. Time and memory are
// linear in the size of the tree.
class PlistWriter {
 public:
  std::string write(const Value& root) {
    const Value emptyDictionary = Value::dictionary({});
    add(root.isNone() ? emptyDictionary : root);
    const uint64_t count = nodes_.size();
    const unsigned refSize = bplist::widthFor(count - 1);
    uint64_t objectBytes = 8;
    for (const Node& n : nodes_) objectBytes += size(n, refSize);
    const unsigned offsetSize = bplist::widthFor(objectBytes);
    std::string out(objectBytes + count * offsetSize + bplist::kTrailerSize, '\0');
    char* base = out.data();
    std::memcpy(base, "bplist00", 8);
    char* p = base + 8;
    char* table = base + objectBytes;
    for (const Node& n : nodes_) {
      table = bplist::putBigEndian(table, static_cast<uint64_t>(p - base), offsetSize);
      p = put(p, n, refSize);
    }
    bplist::putTrailer(table, offsetSize, refSize, count, 0, objectBytes);
    return out;
  }

 private:
  enum class Form : uint8_t { kNull, kValue, kKeyText, kArray, kDictionary };
  struct Node {
    Form form;
    const Value* value;    // kValue, kArray, kDictionary
    std::string_view key;  // kKeyText
    size_t firstRef;       // kArray, kDictionary: refs_[firstRef, firstRef + refCount)
    size_t refCount;
  };
  struct ScalarKey {
    Value::Kind kind;
    uint64_t bits;
    bool operator==(const ScalarKey& o) const { return kind == o.kind && bits == o.bits; }
  };
  struct ScalarHash {
    size_t operator()(const ScalarKey& k) const {
      return std::hash<uint64_t>()(k.bits) * 31 + static_cast<size_t>(k.kind);
    }
  };

  uint64_t add(const Value& v) {
    switch (v.kind()) {
      case Value::Kind::kNone:
        return push(Node{Form::kNull, &v, {}, 0, 0});
      case Value::Kind::kText:
        return shared(texts_, v.asText(), Node{Form::kValue, &v, {}, 0, 0});
      case Value::Kind::kData:
        return shared(data_, v.asData(), Node{Form::kValue, &v, {}, 0, 0});
      case Value::Kind::kArray: {
        const uint64_t index = push(Node{Form::kArray, &v, {}, refs_.size(), 0});
        const Array& elements = *v.arrayPtr();
        size_t present = 0;
        for (const Value& e : elements) present += e.isNone() ? 0 : 1;
        const size_t first = refs_.size();
        refs_.resize(first + present);
        nodes_[index].refCount = present;
        size_t slot = first;
        for (const Value& e : elements)
          if (!e.isNone()) {
            const uint64_t r = add(e);
            refs_[slot++] = r;
          }
        return index;
      }
      case Value::Kind::kDictionary: {
        const uint64_t index = push(Node{Form::kDictionary, &v, {}, refs_.size(), 0});
        const Dictionary& entries = *v.dictionaryPtr();
        size_t present = 0;
        for (const auto& e : entries) present += e.second.isNone() ? 0 : 1;
        const size_t first = refs_.size();
        refs_.resize(first + 2 * present);
        nodes_[index].refCount = 2 * present;
        size_t slot = first;
        for (const auto& e : entries) {
          if (e.second.isNone()) continue;
          const uint64_t keyRef =
              shared(texts_, e.first.text(), Node{Form::kKeyText, nullptr, e.first.text(), 0, 0});
          refs_[slot] = keyRef;
          const uint64_t valueRef = add(e.second);
          refs_[slot + present] = valueRef;
          ++slot;
        }
        return index;
      }
      default: {
        const ScalarKey key{v.kind(), v.scalarBits()};
        auto it = scalars_.find(key);
        if (it != scalars_.end()) return it->second;
        const uint64_t index = push(Node{Form::kValue, &v, {}, 0, 0});
        scalars_.emplace(key, index);
        return index;
      }
    }
  }

  uint64_t shared(std::unordered_map<std::string_view, uint64_t>& map, std::string_view bytes,
                  const Node& node) {
    auto it = map.find(bytes);
    if (it != map.end()) return it->second;
    const uint64_t index = push(node);
    map.emplace(bytes, index);
    return index;
  }

  uint64_t push(const Node& n) {
    nodes_.push_back(n);
    return nodes_.size() - 1;
  }

  static size_t size(const Node& n, unsigned refSize) {
    switch (n.form) {
      case Form::kNull:
        return 1;
      case Form::kKeyText:
        return bplist::textSize(n.key);
      case Form::kArray:
        return bplist::headerSize(n.refCount) + n.refCount * refSize;
      case Form::kDictionary:
        return bplist::headerSize(n.refCount / 2) + n.refCount * refSize;
      case Form::kValue:
        break;
    }
    return bplist::scalarSize(*n.value);
  }

  char* put(char* p, const Node& n, unsigned refSize) const {
    switch (n.form) {
      case Form::kNull:
        *p = 0x00;
        return p + 1;
      case Form::kKeyText:
        return bplist::putText(p, n.key);
      case Form::kArray:
      case Form::kDictionary: {
        const uint64_t count = n.form == Form::kArray ? n.refCount : n.refCount / 2;
        p = bplist::putHeader(p, n.form == Form::kArray ? 0xA : 0xD, count);
        for (size_t i = 0; i < n.refCount; ++i)
          p = bplist::putBigEndian(p, refs_[n.firstRef + i], refSize);
        return p;
      }
      case Form::kValue:
        break;
    }
    return bplist::putScalar(p, *n.value);
  }

  std::vector<Node> nodes_;
  std::vector<uint64_t> refs_;
  std::unordered_map<std::string_view, uint64_t> texts_;
  std::unordered_map<std::string_view, uint64_t> data_;
  std::unordered_map<ScalarKey, uint64_t, ScalarHash> scalars_;
};

}  // namespace

std::string writeBinaryPropertyList(const Value& root) { return PlistWriter().write(root); }

}  // namespace sweeprun
