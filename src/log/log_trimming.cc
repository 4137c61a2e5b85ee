#include "log/log_trimming.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <optional>

namespace sweeprun {

namespace {

// More than any marker line with a readable date: the standard date text
// has a fixed length, so a longer line's date cannot be read anyway.
constexpr size_t kLineHeadLimit = kSectionMarker.size() + 64;

// How many bytes a UTF-8 character starting with |lead| takes; 1 for a byte
// that cannot start one (the check then fails on it).
size_t utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

size_t keptTextStart(std::string_view text, Date now, double limitDays) {
  KeptTextFinder finder(now, limitDays);
  finder.feed(text);
  finder.finish();
  return static_cast<size_t>(finder.keptStart());
}

KeptTextFinder::KeptTextFinder(Date now, double limitDays)
    : cutOff_(now.seconds - limitDays * 86400 + 30) {}

void KeptTextFinder::feed(std::string_view piece) {
  while (!piece.empty() && !decided_) {
    const size_t end = piece.find('\n');
    const std::string_view part = piece.substr(0, end);
    const size_t room = kLineHeadLimit - lineHead_.size();
    lineHead_.append(part.substr(0, room));
    lineTooLong_ = lineTooLong_ || part.size() > room;
    if (end == std::string_view::npos) {
      offset_ += piece.size();
      return;
    }
    offset_ += end + 1;
    piece.remove_prefix(end + 1);
    endLine();
    lineStart_ = offset_;
    lineHead_.clear();
    lineTooLong_ = false;
  }
}

void KeptTextFinder::finish() {
  if (decided_) return;
  endLine();  // the last line, even an empty one after a final newline
  if (!decided_) decide(0);
}

void KeptTextFinder::endLine() {
  const std::string_view line = lineHead_;
  if (decided_ || line.substr(0, kSectionMarker.size()) != kSectionMarker) return;
  std::string_view dateText = line.substr(kSectionMarker.size());
  if (!dateText.empty() && !lineTooLong_) {
    dateText.remove_suffix(1);  // the marker line's full stop
    const std::optional<Date> started = parseStandardDateText(dateText);
    // The first marker line being recent leaves nothing older to cut, not
    // even stray lines in front of it.
    if (started && cutOff_ < started->seconds) decide(firstMarker_ ? 0 : lineStart_);
  }
  firstMarker_ = false;
}

void KeptTextFinder::decide(uint64_t start) {
  decided_ = true;
  keptStart_ = start;
}

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const int64_t length = static_cast<int64_t>(bytes.size());
  int64_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

void Utf8Checker::feed(std::string_view piece) {
  if (!valid_) return;
  if (!pending_.empty()) {
    // Complete the character the last piece ended inside.
    const size_t length = utf8SequenceLength(static_cast<unsigned char>(pending_[0]));
    const size_t taken = std::min(length - pending_.size(), piece.size());
    pending_.append(piece.substr(0, taken));
    piece.remove_prefix(taken);
    if (pending_.size() < length) return;
    valid_ = isValidUtf8(pending_);
    pending_.clear();
  }
  // Keep back a last character that the piece may have split.
  size_t start = piece.size();
  for (int back = 0; start > 0 && back < 3; ++back) {
    if ((static_cast<unsigned char>(piece[start - 1]) & 0xC0) != 0x80) break;
    --start;
  }
  size_t whole = piece.size();
  if (start > 0) {
    const size_t lead = start - 1;
    if (lead + utf8SequenceLength(static_cast<unsigned char>(piece[lead])) > piece.size()) {
      whole = lead;
    }
  }
  valid_ = valid_ && isValidUtf8(piece.substr(0, whole));
  pending_.assign(piece.substr(whole));
}

}  // namespace sweeprun
