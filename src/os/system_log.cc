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

// What the echoed lines start with: the program's name and the folder being
// checked, each empty when not set.
std::string& echoProgram() {
  static std::string* name = new std::string();
  return *name;
}
std::string& echoFolder() {
  static std::string* folder = new std::string();
  return *folder;
}

// |message| as standard error shows it: "<program>: <folder>: <message>",
// leaving out what is not set; a message that names the program itself
// already is shown as it is.
std::string echoedLine(std::string_view message) {
  std::string line;
  if (const std::string& program = echoProgram(); !program.empty()) {
    if (message.size() > program.size() && message.compare(0, program.size(), program) == 0 &&
        message.substr(program.size(), 2) == ": ") {
      return std::string(message) + '\n';
    }
    line.append(program).append(": ");
  }
  if (!echoFolder().empty()) line.append(echoFolder()).append(": ");
  line.append(message).push_back('\n');
  return line;
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

SystemLogProgram::SystemLogProgram(std::string name) : previous_(std::move(echoProgram())) {
  echoProgram() = std::move(name);
}
SystemLogProgram::~SystemLogProgram() { echoProgram() = std::move(previous_); }

SystemLogFolder::SystemLogFolder(std::string shownFolder) : previous_(std::move(echoFolder())) {
  echoFolder() = std::move(shownFolder);
}
SystemLogFolder::~SystemLogFolder() { echoFolder() = std::move(previous_); }

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
    *err << echoedLine(message);
    err->flush();
  }
}

}  // namespace sweeprun
