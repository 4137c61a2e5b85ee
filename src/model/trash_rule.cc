#include "model/trash_rule.h"

#include <cmath>
#include <utility>

#include "model/key_path.h"
#include "model/record_keys.h"

namespace sweeprun {

namespace {

// Spans and counts beyond these mean "never" for every practical purpose;
// keeping them finite keeps the cut-off date and the described count within
// what date and number formatting can take.
constexpr double kLongestSpan = 1000 * 31556908.8;  // a thousand years
constexpr double kLargestCount = 1e15;

constexpr int64_t kDefaultTeve = 13;
constexpr int64_t kDefaultTune = 3;  // weeks
constexpr int64_t kDefaultSize = 524288;

Dictionary defaultData(int64_t type) {
  Dictionary data;
  data.reserve(8);
  data.set(rule_key::kKind, Value::integer(type));
  data.set(rule_key::kEnabled, Value::boolean(true));
  data.set(rule_key::kCount, Value::integer(kDefaultTeve));
  data.set(rule_key::kUnit, Value::integer(kDefaultTune));
  data.set(rule_key::kName, Value::text(""));
  data.set(rule_key::kNamePart, Value::integer(0));
  data.set(rule_key::kReversed, Value::integer(0));
  data.set(rule_key::kSize, Value::integer(kDefaultSize));
  return data;
}

double clamp(double v, double bound) { return v > bound ? bound : (v < -bound ? -bound : v); }

}  // namespace

const double TrashRule::kUnitSeconds[8] = {60, 3600, 86400, 604800, 2629742.4, 31556908.8, 0, -1};

TrashRule TrashRule::trashRuleWithType(int64_t type) { return TrashRule(type); }

TrashRule TrashRule::fromCoder(KeyedDecoder& coder) {
  Value stored = coder.decodeValue(archive_key::kRuleData);
  Dictionary* dictionary = stored.dictionaryPtr();
  return TrashRule(FromStored{}, dictionary ? std::move(*dictionary) : Dictionary());
}

TrashRule::TrashRule(int64_t type) : data(defaultData(type)) { update(); }

TrashRule::TrashRule(FromStored, Dictionary stored) : data(std::move(stored)) { update(); }

TrashRule::TrashRule(const TrashRule& other)
    : ArchivableObject(other), data(defaultData(kAgeRule)) {
  for (const auto& entry : other.data) data.set(entry.first, entry.second);
  update();
}

TrashRule& TrashRule::operator=(const TrashRule& other) {
  if (this != &other) *this = TrashRule(other);
  return *this;
}

void TrashRule::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeDictionary(archive_key::kRuleData, data);
}

void TrashRule::update() {
  switch (data.get(rule_key::kKind).asInteger()) {
    case kSizeRule:
      limit = data.get(rule_key::kSize).asReal();
      break;
    case kAgeRule: {
      const int64_t tune = data.get(rule_key::kUnit).asInteger();
      const double teve = data.get(rule_key::kCount).asReal();
      // Stored files may hold any unit index or count. A unit outside the
      // table, or a count that is not a finite number, makes the rule match
      // nothing: the longest span with a positive count, so that neither
      // "every entry" (count 0) nor "checked in before now" (span 0) can
      // empty a folder because of a damaged record.
      if (tune < 0 || tune > 7 || !std::isfinite(teve)) {
        limit = kLongestSpan;
        timeValue = 1;
        break;
      }
      limit = kUnitSeconds[tune];
      timeValue = clamp(teve, kLargestCount);
      if (limit > 0) limit = clamp(limit * timeValue, kLongestSpan);
      break;
    }
    default:
      break;
  }
}

bool TrashRule::checkOnce() const {
  return data.get(rule_key::kKind).asInteger() == kAgeRule && limit > 259200;
}

const Value& TrashRule::value(std::string_view keyPath) const {
  return data.get(dataKeyOf(keyPath));
}

void TrashRule::setValue(std::string_view keyPath, Value value) {
  data.set(dataKeyOf(keyPath), std::move(value));
  // The derived fields follow every write, so no writer can leave them stale.
  update();
}

}  // namespace sweeprun
