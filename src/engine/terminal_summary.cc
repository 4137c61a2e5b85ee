#include "engine/terminal_summary.h"

#include <ostream>
#include <utility>

#include "engine/loggable_text.h"
#include "os/localization.h"

namespace sweeprun {

namespace {

// Entries between two looks at the clock: reading it for each of 100,000
// entries would cost more than the line it paces.
constexpr uint64_t kEntriesPerClockReading = 256;

// The most bytes of a folder's path the progress line shows: a line wider
// than the terminal would wrap, and a carriage return would then rewrite
// only its last row.
constexpr size_t kProgressPathBytes = 50;

// The end of |shown| that fits in kProgressPathBytes, cut at a character
// boundary and marked as cut.
std::string shortened(const std::string& shown) {
  if (shown.size() <= kProgressPathBytes) return shown;
  size_t from = shown.size() - kProgressPathBytes;
  while (from < shown.size() && (static_cast<unsigned char>(shown[from]) & 0xC0) == 0x80) ++from;
  return "..." + shown.substr(from);
}

}  // namespace

TerminalSummary::TerminalSummary(std::ostream& out, std::function<Date()> clock)
    : out_(out), clock_(std::move(clock)), tally_(clock_) {}

void TerminalSummary::folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) {
  tally_.folderSkipped(folder, answer);
}

void TerminalSummary::folderChecked(const TrashFolder& folder, bool examined) {
  tally_.folderChecked(folder, examined);
  if (!examined) notExamined_.emplace(folder.path());
}

void TerminalSummary::entryDecided(const TrashFolder& folder, const std::string& name,
                                   const EntryDecision& decision) {
  tally_.entryDecided(folder, name, decision);
  if (++runEntries_ > kProgressAfter && runEntries_ % kEntriesPerClockReading == 0) {
    const double now = clock_().seconds;
    if (progressWidth_ == 0 || now - lastShown_ >= kProgressInterval) {
      lastShown_ = now;
      showProgress();
    }
  }
}

void TerminalSummary::runFinished(int failures) {
  tally_.runFinished(failures);
  eraseProgress();
  for (const FolderTally& folder : tally_.folders()) {
    if (!folder.checked) continue;  // the schedule passed it over
    const std::string shown = loggableText(folder.path);
    if (notExamined_.count(folder.path)) {
      out_ << localized("%@: not checked\n", {shown});
      continue;
    }
    out_ << localized("%@: %@ seen, %@ taken in, %@ removed, %@ failed\n",
                      {shown, std::to_string(folder.seen), std::to_string(folder.takenIn),
                       std::to_string(folder.removed), std::to_string(folder.failed)});
  }
  out_.flush();
}

void TerminalSummary::showProgress() {
  const FolderTally& folder = tally_.folders().back();  // an entry follows its folder
  std::string line = localized("%@: %@ entries so far",
                               {shortened(loggableText(folder.path)), std::to_string(folder.seen)});
  const size_t width = line.size();
  // Blanks over what is left of a longer line before; the line ends with a
  // carriage return, so that an error line printed meanwhile starts at the
  // left margin and covers it.
  if (width < progressWidth_) line.append(progressWidth_ - width, ' ');
  line.push_back('\r');
  out_ << line << std::flush;
  progressWidth_ = width;
}

void TerminalSummary::eraseProgress() {
  if (progressWidth_ == 0) return;
  out_ << std::string(progressWidth_, ' ') << '\r';
  progressWidth_ = 0;
}

}  // namespace sweeprun
