#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace sweeprun {

/// How much a message of the system log matters: what a journal query such
/// as "journalctl -p err" selects by.
enum class LogPriority { kError, kWarning, kNotice };

/// The syslog level of |priority| (LOG_ERR, LOG_WARNING, LOG_NOTICE).
int syslogLevelOf(LogPriority priority);

/// Names the stream systemLog echoes its messages on: the tool's standard
/// error, asked for at each message, or none to echo nothing. The entry
/// points install it with the world they run in (ScopedProcess does, and
/// restores the previous one after); until then messages are echoed on
/// std::cerr. The system log is one per process, like the log it writes to:
/// this, and the names SystemLogProgram and SystemLogFolder set, are the
/// only process-wide state below the entry points.
/// Returns the previous one.
using SystemLogEcho = std::function<std::ostream*()>;
SystemLogEcho setSystemLogEcho(SystemLogEcho echo);

/// While one lives, every line echoed on standard error starts with
/// "<name>: ": a line in a timer's mail, or in a terminal among other tools'
/// lines, says which program wrote it. A message that starts so already is
/// echoed as it is. The tool's start-up makes one for the run; none is the
/// default (the companion prints its own errors).
class SystemLogProgram {
 public:
  explicit SystemLogProgram(std::string name);
  ~SystemLogProgram();
  SystemLogProgram(const SystemLogProgram&) = delete;
  SystemLogProgram& operator=(const SystemLogProgram&) = delete;

 private:
  std::string previous_;
};

/// While one lives, the messages concern the folder shown as |shownFolder|
/// (already escaped for a terminal): each echoed line names it after the
/// program's name, "sweeprun: /srv/inbox: Unable to ...", whatever part of
/// the run wrote the message. A folder check makes one for the folder it
/// checks; they nest, the innermost naming.
class SystemLogFolder {
 public:
  explicit SystemLogFolder(std::string shownFolder);
  ~SystemLogFolder();
  SystemLogFolder(const SystemLogFolder&) = delete;
  SystemLogFolder& operator=(const SystemLogFolder&) = delete;

 private:
  std::string previous_;
};

/// Writes a message to the system log and echoes it on the stream
/// setSystemLogEcho names (after the program's and the folder's names, as
/// SystemLogProgram and SystemLogFolder set them; the system log itself
/// gets the message alone). Where the journal listens, the message becomes a journal record
/// (SYSLOG_IDENTIFIER "sweeprun"), and the echo is left out when standard
/// error is itself a stream into the journal; elsewhere, or when the journal
/// refuses it, it goes to syslog (ident "sweeprun").
void systemLog(std::string_view message, LogPriority priority = LogPriority::kError);

}  // namespace sweeprun
