#include "archive/keyed_archive.h"

#include <cstring>

#include "archive/keyed_archive_reader.h"
#include "archive/keyed_archive_writer.h"
#include "fs/file_io.h"
#include "fs/mapped_file.h"
#include "os/exception.h"

namespace sweeprun {

namespace {

// Grows the string as the writer reaches further into it.
class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void expectSize(uint64_t size) override { out_.reserve(static_cast<size_t>(size)); }
  bool append(std::string_view bytes) override {
    writeAt(end_, bytes);
    end_ += bytes.size();
    return true;
  }
  bool writeAt(uint64_t offset, std::string_view bytes) override {
    const size_t at = static_cast<size_t>(offset);
    if (out_.size() < at + bytes.size()) out_.resize(at + bytes.size());
    if (!bytes.empty()) std::memcpy(out_.data() + at, bytes.data(), bytes.size());
    return true;
  }

 private:
  std::string& out_;
  uint64_t end_ = 0;
};

}  // namespace

Value PlainEntry::toValue() const {
  switch (form) {
    case Form::kText:
      return Value::text(text);
    case Form::kUnsigned:
      return Value::unsignedInteger(number);
    case Form::kDate:
      return Value::date(Date{seconds});
    case Form::kValue:
      break;
  }
  return *value;
}

void DictionaryVisitor::visit(Key key, Value value) {
  switch (value.kind()) {
    case Value::Kind::kText:
      text(key, value.asText());
      break;
    case Value::Kind::kUnsigned:
      unsignedNumber(key, value.asUnsigned());
      break;
    case Value::Kind::kDate:
      date(key, value.asDate());
      break;
    default:
      this->value(key, std::move(value));
      break;
  }
}

void KeyedEncoder::encodeEntries(std::string_view key, const PlainEntry* entries, size_t count) {
  Dictionary dictionary;
  dictionary.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    Value value = entries[i].toValue();
    if (!value.isNone()) dictionary.set(entries[i].key, std::move(value));
  }
  encodeDictionary(key, dictionary);
}

bool KeyedDecoder::decodeDictionary(std::string_view key, DictionaryVisitor& visitor) {
  Value stored = decodeValue(key);
  Dictionary* dictionary = stored.dictionaryPtr();
  if (!dictionary) return false;
  for (const auto& entry : *dictionary) visitor.visit(entry.first, entry.second);
  return true;
}

std::string archiveRootObjectArray(size_t count, const ObjectAt& element) {
  std::string out;
  StringSink sink(out);
  writeKeyedArchive(sink, count, element);
  return out;
}

void archiveRootObjectArray(ByteSink& sink, size_t count, const ObjectAt& element) {
  writeKeyedArchive(sink, count, element);
}

bool archiveRootObjectArrayToFile(const std::string& path, size_t count, const ObjectAt& element,
                                  std::string& error) {
  return writeFileAtomicallyFrom(
      path,
      [&](ByteSink& sink) {
        writeKeyedArchive(sink, count, element);
        return true;
      },
      error);
}

bool unarchiveRootObjectArray(std::string_view bytes, std::string_view className,
                              const std::function<void(KeyedDecoder&)>& each) {
  KeyedArchiveReader reader(bytes);
  uint64_t root;
  if (!reader.top("root", root)) return false;
  reader.eachRecord(root, className, each);
  return true;
}

bool unarchiveRootObjectArrayFromFile(const std::string& path, std::string_view className,
                                      const std::function<void(KeyedDecoder&)>& each,
                                      std::string& error) {
  MappedFile file;
  if (!file.open(path, error)) return false;
  bool found = false;
  try {
    KeyedArchiveReader reader(file.bytes(), &file);
    uint64_t root;
    found = reader.top("root", root);
    if (found) reader.eachRecord(root, className, each);
  } catch (const PlatformException&) {
    // Zeros that took the place of a vanished part may well not decode; the
    // file being cut short is the real fault then.
    if (!file.damaged()) throw;
  }
  if (file.damaged()) {
    error = "read(" + path + "): the file was cut short while it was read";
    return false;
  }
  if (!found) error.clear();
  return found;
}

Value unarchivePlainGraph(std::string_view bytes, std::string_view topKey) {
  KeyedArchiveReader reader(bytes);
  uint64_t root;
  if (!reader.top(topKey, root)) return Value();
  return reader.plainValue(root, true);
}

}  // namespace sweeprun
