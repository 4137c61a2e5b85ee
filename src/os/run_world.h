#pragma once

// os: the facts a run depends on, handed down from the entry points.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "os/date.h"
#include "os/process_info.h"

namespace sweeprun {

/// How long one entry's tree may take: its removal, or its move to another
/// volume (the check, the copy and the removal together). A tree a person
/// made is gone in well under a second, and a tree of 100,000 levels in a few
/// seconds; a minute still stops a tree of millions of planted entries from
/// holding up every entry and folder after it for hours.
constexpr std::chrono::seconds kEntryTreeTimeLimit{60};

class TrashLog;

/// The most entries that expanding one pattern may look at, unless a run
/// says otherwise: enough for any sensible folder pattern, and reached
/// within a second or two by one that would otherwise walk the whole file
/// system.
inline constexpr size_t kMaxPatternEntriesVisited = 100000;

/// The world one start of the tool works in: the mode flags, the fixed
/// paths, the clock, the output streams, the system's account database and
/// mount table, and the run log that start-up opens. Only the entry points
/// (cli and companion) build it, from the running process or from a test,
/// and hand it to what they call; nothing below them reaches for the process
/// itself, so a test passes its own and nothing in it reaches the real home
/// folder, /etc or /Users.
struct RunWorld {
  bool systemMode = false;
  bool checkMode = false;

  /// The configuration file of system and check mode.
  std::string configPath = "/etc/sweeprun.plist";
  /// Seconds to pause after a system-mode run.
  unsigned postRunPauseSeconds = 11;
  /// Home folder of the user running the tool (user-mode stores live below).
  std::string homeDirectory;
  /// System mode's own data folder: the journal of its runs lives there.
  std::string systemDataFolder = "/var/lib/sweeprun";
  /// Where account folders live; an account's Trash is <account>/.Trash.
  std::string usersFolder = "/Users";
  /// The current user's Trash "files" folder; none in system mode or when it
  /// could not be located.
  std::optional<std::string> userTrashPath;
  /// Directory of the running executable (for the closing-line list).
  std::string executableDirectory;
  /// The most entries that expanding one folder pattern of the
  /// configuration file may look at.
  size_t maxPatternEntriesVisited = kMaxPatternEntriesVisited;
  /// How long removing or moving one entry's tree may take before the
  /// entry is given up, partly removed or left as it was.
  std::chrono::seconds entryTreeTimeLimit = kEntryTreeTimeLimit;

  /// The account database: a user's home folder and group, for the Trash of
  /// an entry's owner in system mode. Knows nobody until fillRunningProcess
  /// (or a test) sets it, so that no test reaches a real user's home.
  std::function<std::optional<UserAccount>(unsigned user)> accountOf = [](unsigned) {
    return std::optional<UserAccount>();
  };
  /// The mount point of the file system |device| that holds |path|, where
  /// its top-directory Trash lies. None until fillRunningProcess (or a
  /// test) sets it, so that no test makes a Trash on a real file system.
  std::function<std::optional<std::string>(uint64_t device, const std::string& path)> mountPointOf =
      [](uint64_t, const std::string&) { return std::optional<std::string>(); };

  /// The clock; Date::now unless a test fixes it.
  std::function<Date()> clock = [] { return Date::now(); };
  /// Standard output and standard error of the tool.
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  /// Standard output is a terminal that a person watches: a run then shows
  /// its progress and ends with a summary there. Never set for a log or pipe.
  bool outIsTerminal = false;

  /// The run log; null whenever no run log is open ("LogToFile" off).
  TrashLog* runLog = nullptr;
};

}  // namespace sweeprun
