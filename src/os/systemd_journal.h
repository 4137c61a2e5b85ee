#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/system_log.h"

namespace sweeprun {

/// One field of a journal record: an upper-case name ("SWEEPRUN_FOLDER")
/// and any bytes as its value.
struct JournalField {
  std::string name;
  std::string value;
};

/// The identifier every record of the tool carries (SYSLOG_IDENTIFIER), as
/// the system log has it.
inline constexpr std::string_view kJournalIdentifier = "sweeprun";

/// True when the journal listens at its fixed socket: the tool runs on a
/// system whose journal is up, and records sent there are kept.
bool journalIsPresent();

/// True when the process's standard error is itself a stream into the
/// journal (the service manager names it in JOURNAL_STREAM): a line echoed
/// there would be a second, unstructured copy of a record already sent.
bool standardErrorIsJournal();

/// Sends one record to the journal: MESSAGE |message|, PRIORITY |priority|
/// (error or notice), SYSLOG_IDENTIFIER "sweeprun" and |fields|. Values may
/// hold any bytes, line breaks included. False, with "operation: reason"
/// in |error|, when the journal did not take it.
bool sendJournalRecord(std::string_view message, LogPriority priority,
                       const std::vector<JournalField>& fields, std::string& error);

}  // namespace sweeprun
