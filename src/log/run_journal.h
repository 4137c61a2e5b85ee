#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/database_lock.h"
#include "fs/file_io.h"
#include "fs/mapped_appender.h"
#include "os/date.h"
#include "os/run_world.h"

namespace sweeprun {

/// One line of the run journal: what a run did to one entry ("entry"), that
/// an undo put one back ("undo"), or that a run stopped removing because its
/// journal could take no more ("incomplete"). The journal is JSON Lines, one
/// object per line, appended in the order things were done.
struct JournalRecord {
  enum class Kind { kEntry, kUndo, kIncomplete, kMissing };
  Kind kind = Kind::kEntry;
  std::string run;      // the run's identifier, "20261207T204512Z-4711"
  Date started;         // when the run began
  uint64_t number = 0;  // the entry's number within its run, from 1

  // An entry record:
  std::string mode;               // "user" or "system"
  std::string folder;             // the watched folder
  std::string action;             // "trash", "move" or "delete"
  std::string original;           // the entry's path before the run
  std::string destination;        // its path afterwards; empty after a deletion
  std::string trashInfo;          // its Trash info file, if it got one
  std::string createdFolder;      // the dated sub-folder the run made for it
  std::string createdFolderInfo;  // that folder's Trash info file, if any
  std::string type;               // "file", "folder", "link" or "other"
  std::string reason;             // "budget" when the folder's size budget took it; else empty
  std::optional<uint64_t> size, device, inode;
  std::optional<Date> modified;  // the entry's modification date
  // What tells the entry from a later one that got its freed inode number:
  // its owner, and its birth or, where the file system reports none, its
  // change time once placed (nanoseconds since 1970). None in the lines of
  // older versions, which undo checks by device, inode and type alone.
  std::optional<uint64_t> owner, birthTime, changeTime;
  // The created folder as it was made (with no change time: every entry
  // placed in it or put back changes that).
  std::optional<uint64_t> createdFolderDevice, createdFolderInode, createdFolderOwner,
      createdFolderBirthTime;

  // An undo record: |run|, |number| and when the entry was put back.
  Date undoneAt;

  // An incomplete record: |run|, |mode|, as |number| the number of the
  // run's last entry in the journal (0: none), and how many entries the run
  // removed after it without a record (0, or 1 where a line that found no
  // room could not be foreseen).
  uint64_t unrecorded = 0;

  // A missing record: |run|, |mode|, as |number| the number of the run's
  // last entry before it, and as |folder| a watched folder that the run did
  // not find (and, in user mode, turned off).
};

/// The journal's identifier for a run that began at |started| in process
/// |processId|.
std::string journalRunId(Date started, unsigned processId);

/// The journal of a mode: "~/Library/Logs/Sweeply-journal.jsonl" below the
/// world's home folder in user mode (with the run log's default folder), and
/// "journal.jsonl" in its system data folder (/var/lib/sweeprun) in system
/// mode.
std::string journalPath(const RunWorld& world, bool systemMode);
/// The user-mode journal below |homeDirectory|.
std::string userJournalPath(const std::string& homeDirectory);

/// |record| as one line of JSON, without the line feed. Paths that are not
/// UTF-8 are written with U+FFFD and kept exactly in "<key>Bytes", as %XX.
std::string journalLine(const JournalRecord& record);
/// The same line into |out|, whose buffer is reused.
void writeJournalLine(const JournalRecord& record, std::string& out);
/// Writes entry lines one after another as writeJournalLine does, but copies
/// the members that repeat on every line of one run and folder (its record
/// kind, run, start and mode; folder and action) from the line before
/// instead of writing them again: a run that deletes many entries spent a
/// good part of each line on them.
class JournalLineWriter {
 public:
  /// |record| as one line of JSON into |out|, whose buffer is reused.
  void write(const JournalRecord& record, std::string& out);

 private:
  bool known_ = false;  // whether the members below are those of the last line
  std::string run_, mode_, folder_, action_;
  Date started_;
  std::string start_;          // the line up to the entry's number
  std::string folderMembers_;  // from after the number to the end of "action"
};

/// Reads one line back; none when it is not a journal record (a line cut
/// short by a killed run, for instance).
std::optional<JournalRecord> parseJournalLine(std::string_view line);

/// Every record of the journal at |path| in order; lines that are no
/// records are skipped. A missing journal is an empty one. The file is
/// opened as readFile opens it. False with |error| when it cannot be read.
bool readJournal(const std::string& path, std::vector<JournalRecord>& records, std::string& error);

/// The lines of |text| to keep: those of every run that began less than
/// |limitDays| days before |now| and of the last |keptRuns| runs whatever
/// their age. Records that cannot be read are dropped. 0 days keeps all.
std::string trimmedJournalText(std::string_view text, Date now, double limitDays, size_t keptRuns);

/// How many runs the journal keeps whatever their age.
constexpr size_t kJournalKeptRuns = 10;

/// The open journal of one program: a run appending what it does, or an
/// undo appending what it put back. Holds the journal's lock (the advisory
/// lock of "<journal>.lock") while open, so that writers never interleave.
class JournalWriter {
 public:
  /// Opens the journal at |path|, mode 0600, making its folder (0700) when
  /// missing, and trims it first to |limitDays| days (see
  /// trimmedJournalText) once its oldest run is a day past the limit: the
  /// whole journal is read and rewritten at most about once a day, not on
  /// every run, and a journal with nothing to cut is not read beyond its
  /// first line. The folders on the way are opened as
  /// DirHandle::openDirectory opens them, and a final link or a file with
  /// other hard links is refused. Waits up to |wait| for another writer.
  bool open(const std::string& path, Date now, double limitDays, std::chrono::milliseconds wait,
            std::string& error);
  bool isOpen() const { return file_.isOpen(); }
  /// Hands |record| to the kernel at once, as one line copied into the
  /// journal's mapped end (see MappedAppender) or, where the file system
  /// cannot map it, written with one write().
  bool append(const JournalRecord& record, std::string& error);
  /// Whether the journal can take one more entry line of up to kLineRoom
  /// bytes and, after it, an incomplete record: makes sure the room for both
  /// is reserved, so that the entry may be removed before its line is
  /// written. False, with the reason, when it cannot be (the disk or the
  /// quota is full); then what was reserved before stays, and still takes
  /// the incomplete record. Where the file system cannot reserve at all,
  /// each line is written as it comes, and this answers true.
  bool canTakeLine(std::string& error);
  /// An entry line longer than this (paths of thousands of bytes) may find
  /// no room that canTakeLine made sure of.
  static constexpr size_t kLineRoom = 64 * 1024;
  static constexpr size_t kIncompleteRoom = 512;
  /// Cuts the journal back to its content, flushes it to the disk and
  /// closes it.
  bool close(std::string& error);

 private:
  /// Cuts the zero bytes that a killed writer's reserved space left at the
  /// end, ends a line it left cut short, and positions at the end.
  bool seekToContentEnd();
  /// Whether the oldest run is |kTrimSlackDays| past the limit.
  bool oldestRunIsDue(Date now, double limitDays) const;
  static constexpr size_t kHeadPiece = 4096;
  static constexpr double kTrimSlackDays = 1;

  DatabaseLock lock_;
  FileHandle file_;
  MappedAppender appender_;
  bool cannotReserve_ = false;  // the file system reserves no space at all
  bool lineCut_ = false;        // a failed write() may have left part of a line
  std::string path_;
  JournalLineWriter lines_;
  std::string line_;  // the record being appended, its buffer reused
};

}  // namespace sweeprun

namespace sweeprun {

/// One run as its journal records tell it.
struct JournalRun {
  std::string id;
  Date started;
  std::string mode;
  std::vector<JournalRecord> entries;  // in the order the run acted
  std::vector<uint64_t> undone;        // numbers of the entries put back since
  // The run stopped removing when its journal could take no more (it left
  // an incomplete record), having removed |unrecorded| entries that are not
  // in it.
  bool incomplete = false;
  uint64_t unrecorded = 0;
  std::vector<std::string> missingFolders;  // watched folders it did not find

  bool isUndone(uint64_t number) const;
};

/// The runs of |records| in the order they first appear (oldest first).
std::vector<JournalRun> journalRuns(const std::vector<JournalRecord>& records);

}  // namespace sweeprun
