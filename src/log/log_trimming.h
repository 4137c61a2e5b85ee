#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "os/date.h"

namespace sweeprun {

/// The text that begins every run's section, followed by the run's start date
/// in the standard date text and a full stop. Compared literally, never
/// localized, so that a log written under any language can be trimmed.
inline constexpr std::string_view kSectionMarker = "Sweeply started at ";

/// Where the kept part of a run log's |text| begins: the first section marker
/// line whose date is later than |now| less |limitDays| days plus 30 seconds.
/// Lines in front of it go with the older sections. 0 (nothing to cut) when
/// that line is the first marker line of the text, or when no section is
/// recent enough. A marker whose date cannot be read counts as older than the
/// cut-off.
size_t keptTextStart(std::string_view text, Date now, double limitDays);

/// keptTextStart over a text handed over in pieces, so that a log of any
/// size is read only as far as the answer needs and never held whole: feed
/// the pieces in order until decided(), or all of them and then finish().
/// Holds at most the beginning of one line.
class KeptTextFinder {
 public:
  KeptTextFinder(Date now, double limitDays);
  /// Takes the next piece of the text; ignored once decided.
  void feed(std::string_view piece);
  /// The text has ended: decides with what was fed.
  void finish();
  bool decided() const { return decided_; }
  /// The offset keptTextStart gives; meaningful once decided().
  uint64_t keptStart() const { return keptStart_; }

 private:
  void endLine();
  void decide(uint64_t start);

  double cutOff_;
  uint64_t offset_ = 0;     // of the next byte fed
  uint64_t lineStart_ = 0;  // of the current line
  std::string lineHead_;    // its first bytes, enough for a marker line
  bool lineTooLong_ = false;
  bool firstMarker_ = true;
  bool decided_ = false;
  uint64_t keptStart_ = 0;
};

/// True when |bytes| is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

/// isValidUtf8 over bytes handed over in pieces, which may split a
/// character: feed them in order, then ask valid().
class Utf8Checker {
 public:
  void feed(std::string_view piece);
  /// True when everything fed so far is well-formed UTF-8 and ends on a
  /// whole character.
  bool valid() const { return valid_ && pending_.empty(); }

 private:
  std::string pending_;  // the start of a character the last piece split
  bool valid_ = true;
};

}  // namespace sweeprun
