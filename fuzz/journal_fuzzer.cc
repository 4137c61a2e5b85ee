// Reads the bytes as a run journal, as history, undo and the trimming of a
// run read it. Every line that reads as a record must write back to a line
// that reads as the same record, and trimming what was trimmed already must
// change nothing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/run_journal.h"

using namespace sweeprun;

namespace {

bool sameRecord(const JournalRecord& a, const JournalRecord& b) {
  return a.kind == b.kind && a.run == b.run && a.started == b.started && a.number == b.number &&
         a.mode == b.mode && a.folder == b.folder && a.action == b.action &&
         a.original == b.original && a.destination == b.destination && a.trashInfo == b.trashInfo &&
         a.createdFolder == b.createdFolder && a.createdFolderInfo == b.createdFolderInfo &&
         a.type == b.type && a.size == b.size && a.device == b.device && a.inode == b.inode &&
         a.modified == b.modified && a.owner == b.owner && a.birthTime == b.birthTime &&
         a.changeTime == b.changeTime && a.createdFolderDevice == b.createdFolderDevice &&
         a.createdFolderInode == b.createdFolderInode &&
         a.createdFolderOwner == b.createdFolderOwner &&
         a.createdFolderBirthTime == b.createdFolderBirthTime && a.unrecorded == b.unrecorded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzzInput(data, size);
  std::vector<JournalRecord> records;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    if (auto record = parseJournalLine(text.substr(begin, end - begin))) {
      const std::optional<JournalRecord> again = parseJournalLine(journalLine(*record));
      if (!again || !sameRecord(*record, *again)) std::abort();
      records.push_back(std::move(*record));
    }
    begin = end + 1;
  }
  journalRuns(records);
  const Date now = Date::fromUnix(1796644800);
  const std::string trimmed = trimmedJournalText(text, now, 7, kJournalKeptRuns);
  if (trimmedJournalText(trimmed, now, 7, kJournalKeptRuns) != trimmed) std::abort();
  return 0;
}
