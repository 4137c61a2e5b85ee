#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "os/date.h"
#include "archive/keyed_archive.h"
#include "plist/value.h"

namespace sweeprun {

/// Rule kinds ("type").
enum RuleKind : int64_t { kAgeRule = 0, kNameRule = 1, kSizeRule = 2 };

/// One condition of a watched folder: the age of an entry since check-in, the
/// checks it survived, its name or its size. |data| is the stored state;
/// |limit| and |timeValue| are derived by update(); |bestDate|, |nameOpt| and
/// |invert| are set by preparation before every evaluation.
class TrashRule : public ArchivableObject {
 public:
  /// Seconds per unit of "tune"; index 6 is 0 (none) and 7 is -1 (checks).
  static const double kUnitSeconds[8];

  /// A rule of |type| with all eight defaults, already updated.
  static TrashRule trashRuleWithType(int64_t type);
  /// The default rule: kind 0, 13 weeks.
  static TrashRule trashRule() { return trashRuleWithType(kAgeRule); }
  /// Decodes the dictionary under "rdat", as stored, without defaults.
  static TrashRule fromCoder(KeyedDecoder& coder);

  explicit TrashRule(int64_t type = kAgeRule);
  /// The copy starts from the kind-0 defaults, takes every value of the
  /// source's data over them, and is updated; prepared fields are not copied.
  TrashRule(const TrashRule& other);
  TrashRule& operator=(const TrashRule& other);
  TrashRule(TrashRule&&) = default;
  TrashRule& operator=(TrashRule&&) = default;

  std::string_view className() const override { return "TrashRule"; }
  void encodeWithCoder(KeyedEncoder& coder) const override;

  /// Recomputes |limit| and |timeValue| from data. Must run after any change
  /// of "type", "size", "teve" or "tune".
  void update();
  /// True when the rule is an age rule whose limit exceeds three days.
  bool checkOnce() const;

  /// Key-path access: "data.<key>" or the bare key both reach |data|.
  const Value& value(std::string_view keyPath) const;
  void setValue(std::string_view keyPath, Value value);

  Dictionary data;
  double limit = 0;
  double timeValue = 0;
  std::optional<Date> bestDate;
  uint32_t nameOpt = 0;
  bool invert = false;

 private:
  struct FromStored {};
  TrashRule(FromStored, Dictionary stored);
};

}  // namespace sweeprun
