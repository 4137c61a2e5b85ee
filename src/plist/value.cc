#include "plist/value.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

namespace sweeprun {

namespace {

// Interned key texts live for the whole process; the set is node-based, so
// the addresses handed out never move.
const std::string* internKey(std::string_view text) {
  static auto* pool = new std::unordered_set<std::string>();
  auto it = pool->find(std::string(text));
  if (it == pool->end()) it = pool->emplace(text).first;
  return &*it;
}

const Value& noneValue() {
  static const Value none;
  return none;
}

}  // namespace

Key::Key(std::string_view text) : text_(internKey(text)) {}

// Texts and data are immutable once made, so copies share one block. The
// tool is single-threaded; the count needs no atomic operations.
struct Value::SharedBytes {
  uint32_t refs;
  size_t size;
  char* bytes() { return reinterpret_cast<char*>(this + 1); }
};

Value::SharedBytes* Value::makeBytes(std::string_view bytes) {
  void* raw = ::operator new(sizeof(SharedBytes) + bytes.size() + 1);
  auto* block = new (raw) SharedBytes{1, bytes.size()};
  if (!bytes.empty()) std::memcpy(block->bytes(), bytes.data(), bytes.size());
  block->bytes()[bytes.size()] = '\0';
  return block;
}

void Value::release() noexcept {
  switch (kind_) {
    case Kind::kText:
    case Kind::kData:
      if (--u_.bytes->refs == 0) {
        u_.bytes->~SharedBytes();
        ::operator delete(u_.bytes);
      }
      break;
    case Kind::kArray:
      delete u_.array;
      break;
    case Kind::kDictionary:
      delete u_.dictionary;
      break;
    default:
      break;
  }
  kind_ = Kind::kNone;
}

Value::Value(const Value& other) : kind_(other.kind_), u_(other.u_) {
  switch (kind_) {
    case Kind::kText:
    case Kind::kData:
      ++u_.bytes->refs;
      break;
    case Kind::kArray:
      u_.array = new Array(*other.u_.array);
      break;
    case Kind::kDictionary:
      u_.dictionary = new Dictionary(*other.u_.dictionary);
      break;
    default:
      break;
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    release();
    kind_ = other.kind_;
    u_ = other.u_;
    other.kind_ = Kind::kNone;
  }
  return *this;
}

Value Value::boolean(bool b) {
  Value v;
  v.kind_ = Kind::kBoolean;
  v.u_.boolean = b;
  return v;
}

Value Value::integer(int64_t i) {
  Value v;
  v.kind_ = Kind::kInteger;
  v.u_.integer = i;
  return v;
}

Value Value::unsignedInteger(uint64_t u) {
  Value v;
  v.kind_ = Kind::kUnsigned;
  v.u_.uns = u;
  return v;
}

Value Value::real(double r) {
  Value v;
  v.kind_ = Kind::kReal;
  v.u_.real = r;
  return v;
}

Value Value::text(std::string_view s) {
  Value v;
  v.u_.bytes = makeBytes(s);
  v.kind_ = Kind::kText;
  return v;
}

Value Value::date(Date d) {
  Value v;
  v.kind_ = Kind::kDate;
  v.u_.real = d.seconds;
  return v;
}

Value Value::data(std::string_view bytes) {
  Value v;
  v.u_.bytes = makeBytes(bytes);
  v.kind_ = Kind::kData;
  return v;
}

Value Value::array(Array elements) {
  Value v;
  v.u_.array = new Array(std::move(elements));
  v.kind_ = Kind::kArray;
  return v;
}

Value Value::dictionary(Dictionary entries) {
  Value v;
  v.u_.dictionary = new Dictionary(std::move(entries));
  v.kind_ = Kind::kDictionary;
  return v;
}

Value Value::uid(uint64_t index) {
  Value v;
  v.kind_ = Kind::kUid;
  v.u_.uns = index;
  return v;
}

bool Value::asBool() const {
  switch (kind_) {
    case Kind::kBoolean:
      return u_.boolean;
    case Kind::kInteger:
      return u_.integer != 0;
    case Kind::kUnsigned:
      return u_.uns != 0;
    case Kind::kReal:
      return u_.real != 0;
    default:
      return false;
  }
}

int64_t Value::asInteger() const {
  switch (kind_) {
    case Kind::kBoolean:
      return u_.boolean ? 1 : 0;
    case Kind::kInteger:
      return u_.integer;
    case Kind::kUnsigned:
      return static_cast<int64_t>(u_.uns);
    case Kind::kReal:
      // Out-of-range reals (NaN, huge values) would be undefined to convert.
      if (!(u_.real > -9.2e18 && u_.real < 9.2e18)) return 0;
      return static_cast<int64_t>(u_.real);
    default:
      return 0;
  }
}

uint64_t Value::asUnsigned() const {
  switch (kind_) {
    case Kind::kUnsigned:
      return u_.uns;
    case Kind::kReal:
      if (u_.real >= 0 && u_.real < 1.8e19) return static_cast<uint64_t>(u_.real);
      return static_cast<uint64_t>(asInteger());
    default:
      return static_cast<uint64_t>(asInteger());
  }
}

double Value::asReal() const {
  switch (kind_) {
    case Kind::kBoolean:
      return u_.boolean ? 1 : 0;
    case Kind::kInteger:
      return static_cast<double>(u_.integer);
    case Kind::kUnsigned:
      return static_cast<double>(u_.uns);
    case Kind::kReal:
      return u_.real;
    default:
      return 0;
  }
}

std::string_view Value::asText() const {
  if (kind_ != Kind::kText) return {};
  return std::string_view(u_.bytes->bytes(), u_.bytes->size);
}

Date Value::asDate() const {
  if (kind_ == Kind::kDate) return Date{u_.real};
  return Date{asReal()};
}

std::string_view Value::asData() const {
  if (kind_ != Kind::kData) return {};
  return std::string_view(u_.bytes->bytes(), u_.bytes->size);
}

uint64_t Value::scalarBits() const {
  switch (kind_) {
    case Kind::kBoolean:
      return u_.boolean ? 1 : 0;
    case Kind::kInteger:
    case Kind::kUnsigned:
    case Kind::kUid:
      return u_.uns;
    case Kind::kReal:
    case Kind::kDate: {
      uint64_t bits;
      std::memcpy(&bits, &u_.real, sizeof bits);
      return bits;
    }
    default:
      return 0;
  }
}

bool Value::boolReading() const {
  if (kind_ != Kind::kText) return asBool();
  std::string_view s = asText();
  size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

double Value::numericReading() const {
  if (kind_ != Kind::kText) return asReal();
  // strtod needs a terminated string; our text blocks always carry one.
  const char* begin = u_.bytes->bytes();
  while (std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  // Only plain decimal numbers: no hexadecimal forms, no "inf" or "nan".
  const char* p = begin;
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p)) &&
      !(*p == '.' && std::isdigit(static_cast<unsigned char>(p[1]))))
    return 0;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return 0;
  return std::strtod(begin, nullptr);
}

const Dictionary* Value::dictionaryPtr() const {
  return kind_ == Kind::kDictionary ? u_.dictionary : nullptr;
}

Dictionary* Value::dictionaryPtr() { return kind_ == Kind::kDictionary ? u_.dictionary : nullptr; }

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Value::Kind::kNone:
      return true;
    case Value::Kind::kBoolean:
      return a.u_.boolean == b.u_.boolean;
    case Value::Kind::kInteger:
      return a.u_.integer == b.u_.integer;
    case Value::Kind::kUnsigned:
    case Value::Kind::kUid:
      return a.u_.uns == b.u_.uns;
    case Value::Kind::kReal:
    case Value::Kind::kDate:
      return a.u_.real == b.u_.real;
    case Value::Kind::kText:
      return a.asText() == b.asText();
    case Value::Kind::kData:
      return a.asData() == b.asData();
    case Value::Kind::kArray:
      return *a.u_.array == *b.u_.array;
    case Value::Kind::kDictionary:
      return *a.u_.dictionary == *b.u_.dictionary;
  }
  return false;
}

Dictionary::Dictionary(std::initializer_list<std::pair<std::string_view, Value>> entries) {
  entries_.reserve(entries.size());
  for (const auto& e : entries) set(e.first, e.second);
}

const Value& Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : noneValue();
}

Value* Dictionary::find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Dictionary*>(this)->find(key));
}

const Value* Dictionary::find(std::string_view key) const {
  // Stored keys are mostly four-letter codes, so many share the length of
  // the one asked for: the first letter sorts them out before a compare.
  for (const auto& e : entries_) {
    const std::string& text = e.first.str();
    if (text.size() == key.size() && (key.empty() || text[0] == key[0]) &&
        std::string_view(text) == key)
      return &e.second;
  }
  return nullptr;
}

void Dictionary::set(std::string_view key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(Key(key), std::move(value));
}

void Dictionary::set(Key key, Value value) {
  for (auto& e : entries_) {
    if (e.first == key) {
      e.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(key, std::move(value));
}

bool Dictionary::remove(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first.text() == key) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
  if (a.size() != b.size()) return false;
  // Order does not matter for equality; the records are small.
  for (const auto& e : a.entries_) {
    const Value* other = b.find(e.first.text());
    if (!other || !(*other == e.second)) return false;
  }
  return true;
}

}  // namespace sweeprun
