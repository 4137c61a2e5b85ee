#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "archive/keyed_archive.h"
#include "plist/value.h"

namespace sweeprun {

// An in-memory stand-in for the keyed archive: an object is a dictionary of
// its coder keys plus "$class"; a list of records is an array of those.
class FakeEncoder : public KeyedEncoder {
 public:
  explicit FakeEncoder(std::string_view className) { object.set("$class", Value::text(className)); }
  void encodeBytes(std::string_view key, std::string_view bytes) override {
    object.set(key, Value::data(bytes));
  }
  void encodeValue(std::string_view key, const Value& value) override { object.set(key, value); }
  void encodeObjectArray(std::string_view key, size_t count, const ObjectAt& element) override {
    Array objects;
    for (size_t i = 0; i < count; ++i) objects.push_back(Value::dictionary(encode(element(i))));
    object.set(key, Value::array(std::move(objects)));
  }

  template <typename Record>
  static Dictionary encode(const Record& record) {
    FakeEncoder coder(record.className());
    record.encodeWithCoder(coder);
    return std::move(coder.object);
  }

  Dictionary object;
};

class FakeDecoder : public KeyedDecoder {
 public:
  explicit FakeDecoder(Dictionary object) : object_(std::move(object)) {}
  std::string decodeBytes(std::string_view key) override {
    return std::string(object_.get(key).asData());
  }
  Value decodeValue(std::string_view key) override { return object_.get(key); }
  bool decodeObjectArray(std::string_view key, std::string_view className,
                         const std::function<void(KeyedDecoder&)>& each) override {
    const Array* objects = object_.get(key).arrayPtr();
    if (!objects) return false;
    for (const Value& element : *objects) {
      const Dictionary* object = element.dictionaryPtr();
      if (!object || object->get("$class").asText() != className) continue;
      FakeDecoder decoder(*object);
      each(decoder);
    }
    return true;
  }

 private:
  Dictionary object_;
};

// Encodes |record| and decodes it again as |Record|, with |context| after
// the decoder when its fromCoder takes one.
template <typename Record, typename Source, typename... Context>
Record recode(const Source& record, Context&... context) {
  FakeDecoder decoder(FakeEncoder::encode(record));
  return Record::fromCoder(decoder, context...);
}

}  // namespace sweeprun
