#pragma once

#include <string>
#include <string_view>

#include "fs/file_io.h"
#include "os/run_world.h"

namespace sweeprun {

/// The human-readable run log: one UTF-8 text file to which every run appends
/// a section, trimmed on opening to the runs of the last "LogLimit" days
/// (never in system mode). At most one is open per run, the one the run's
/// world names (RunWorld::runLog); writers never test for it, because writing
/// to an absent run log does nothing (see logLine / TrashLog::err).
class TrashLog {
 public:
  /// A closed log of a run in |world|, which must outlive it: its mode, the
  /// folder of the executable (for the closing lines) and the clock.
  explicit TrashLog(const RunWorld& world);
  ~TrashLog();
  TrashLog(const TrashLog&) = delete;
  TrashLog& operator=(const TrashLog&) = delete;

  /// Opens or creates the log file at |path| (already standardized) and
  /// positions writing for a new section, trimming old sections first. A file
  /// that cannot be opened leaves the log without a handle: every later write
  /// does nothing, and nothing is reported. A symbolic link on the way is
  /// followed only when root or the effective user owns it, a final one
  /// never, and only a regular file with no other hard links is accepted
  /// (see FileHandle::openForUpdate). In user mode a missing log folder is
  /// created first. In user mode, sections that began more than
  /// |limitDays| days ago ("LogLimit") are cut; 0 keeps everything.
  void open(const std::string& path, double limitDays = 0);

  /// Writes |line| followed by "\n" at the current position, at once. The
  /// text is written as it is: it is never interpreted as a format.
  void log(std::string_view line);

  /// Finishes the section (a closing line from "log.plist" beside the
  /// executable, if any, then an empty line), cuts the file at the current
  /// position and closes it.
  void close();

  /// True while the log file is open.
  bool isOpen() const { return logFile.isOpen(); }

  /// Reports an error: always to the system log (echoed on standard error),
  /// and as "Error: <message>" to |runLog| when one is open (not null).
  static void err(TrashLog* runLog, std::string_view message);
  /// Reports what needs a person's eye but is no failure: to the system log
  /// at warning priority (echoed on standard error), and as "Warning:
  /// <message>" to |runLog| when one is open.
  static void warn(TrashLog* runLog, std::string_view message);

 private:
  /// Cuts the sections that began more than |limitDays| days ago from the
  /// open log at |path|, in bounded memory, replacing the file atomically
  /// only when something goes; the handle then refers to the new file. True
  /// when the log was replaced.
  bool cutOldSections(const std::string& path, double limitDays);

  const RunWorld& world_;
  FileHandle logFile;
};

/// Writes a line to |runLog|; does nothing when none is open (null).
void logLine(TrashLog* runLog, std::string_view line);

}  // namespace sweeprun
