#include "os/systemd_journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include "os/process_info.h"

namespace sweeprun {

namespace {

// Where the journal listens; libsystemd sends to this place and no other.
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

std::string field(std::string_view name, std::string_view value) {
  std::string text;
  text.reserve(name.size() + 1 + value.size());
  text.append(name).push_back('=');
  text.append(value);
  return text;
}

}  // namespace

bool journalIsPresent() {
  struct stat status;
  return ::stat(kJournalSocket, &status) == 0 && S_ISSOCK(status.st_mode);
}

bool standardErrorIsJournal() {
  // "DEVICE:INODE" of the stream the service manager connected.
  const std::optional<std::string> stream = environmentValue("JOURNAL_STREAM");
  struct stat status;
  if (!stream || ::fstat(STDERR_FILENO, &status) != 0) return false;
  return *stream == std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

bool sendJournalRecord(std::string_view message, LogPriority priority,
                       const std::vector<JournalField>& fields, std::string& error) {
  std::vector<std::string> texts;
  texts.reserve(fields.size() + 3);
  texts.push_back(field("MESSAGE", message));
  texts.push_back(
      field("PRIORITY", std::to_string(syslogLevelOf(priority))));
  texts.push_back(field("SYSLOG_IDENTIFIER", kJournalIdentifier));
  for (const JournalField& extra : fields) texts.push_back(field(extra.name, extra.value));
  // sd_journal_sendv takes each field whole, so a value with a line break
  // or any other byte goes in the protocol's binary-safe form.
  std::vector<struct iovec> parts(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    parts[i].iov_base = texts[i].data();
    parts[i].iov_len = texts[i].size();
  }
  const int result = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
  if (result < 0) {
    error = std::string("sd_journal_sendv: ") + std::strerror(-result);
    return false;
  }
  return true;
}

}  // namespace sweeprun
