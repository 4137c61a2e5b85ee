#include "os/system_log.h"

#include <syslog.h>

#include <algorithm>
#include <climits>
#include <iostream>
#include <ostream>
#include <string>
#include <utility>

#include "os/systemd_journal.h"

namespace sweeprun {

namespace {

void sendToSyslog(std::string_view message, LogPriority priority) {
  static const bool opened = [] {
    openlog("sweeprun", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
  // The message is data: it goes through "%.*s", never as the format.
  const int length = static_cast<int>(std::min<size_t>(message.size(), INT_MAX));
  syslog(syslogLevelOf(priority), "%.*s", length, message.data());
}

SystemLogEcho& echoStream() {
  static SystemLogEcho* echo = new SystemLogEcho([] { return &std::cerr; });
  return *echo;
}

}  // namespace

int syslogLevelOf(LogPriority priority) {
  switch (priority) {
    case LogPriority::kError:
      return LOG_ERR;
    case LogPriority::kWarning:
      return LOG_WARNING;
    case LogPriority::kNotice:
      break;
  }
  return LOG_NOTICE;
}

SystemLogEcho setSystemLogEcho(SystemLogEcho echo) {
  SystemLogEcho previous = std::move(echoStream());
  echoStream() = std::move(echo);
  return previous;
}

void systemLog(std::string_view message, LogPriority priority) {
  std::string error;
  const bool journaled = journalIsPresent() && sendJournalRecord(message, priority, {}, error);
  if (!journaled) sendToSyslog(message, priority);
  if (std::ostream* err = echoStream() ? echoStream()() : nullptr) {
    // Under the service manager standard error is a stream into the journal
    // too: the echo would be the same message again, without its fields.
    if (journaled && err == &std::cerr && standardErrorIsJournal()) return;
    *err << message << '\n';
    err->flush();
  }
}

}  // namespace sweeprun
