// What a run leaves for the tools that watch a fleet: the journal records
// of its removals and its summary, read back from a journal socket of the
// test's own and with journalctl from a journal daemon of the test's own,
// and the metrics file, read by the text format's grammar. The
// run removes one entry, keeps one and fails on one (its move-to folder is
// full, or read-only without root), beside a disabled folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "e2e/run_program.h"
#include "support/metrics_grammar.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr char kSummaryId[] = "d98cc2c439614292bc4de5387d1f5cd0";
constexpr char kEntryId[] = "c7323adfabdf43ed8a62c8ad041c476d";

using JournalRecord = std::map<std::string, std::string>;

// Journal records in the native protocol (one per datagram) or the export
// format (separated by empty lines): "NAME=value\n", or, for a value of any
// bytes, "NAME\n", its length as 64-bit little-endian, the bytes and "\n".
// False when the bytes break the form.
bool parseJournalRecords(const std::string& bytes, std::vector<JournalRecord>& records) {
  size_t at = 0;
  JournalRecord record;
  while (at < bytes.size()) {
    if (bytes[at] == '\n') {  // the empty line after a record of the export format
      if (!record.empty()) records.push_back(std::move(record));
      record.clear();
      ++at;
      continue;
    }
    const size_t end = bytes.find('\n', at);
    if (end == std::string::npos) return false;
    const size_t equals = bytes.find('=', at);
    if (equals != std::string::npos && equals < end) {
      record[bytes.substr(at, equals - at)] = bytes.substr(equals + 1, end - equals - 1);
      at = end + 1;
      continue;
    }
    const std::string name = bytes.substr(at, end - at);
    at = end + 1;
    if (at + 8 > bytes.size()) return false;
    uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(bytes[at + i]);
    at += 8;
    if (at + length + 1 > bytes.size() || bytes[at + length] != '\n') return false;
    record[name] = bytes.substr(at, length);
    at += length + 1;
  }
  if (!record.empty()) records.push_back(std::move(record));
  return true;
}

// A datagram socket at a path of the test's, read on a thread of its own
// while the tool runs, so that a sender never waits on a full queue.
class JournalSink {
 public:
  explicit JournalSink(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path) return;
    path.copy(address.sun_path, path.size());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (bound_) reader_ = std::thread([this] { read(); });
  }
  ~JournalSink() {
    stop();
    if (fd_ >= 0) close(fd_);
  }
  bool bound() const { return bound_; }
  /// Stops reading once nothing more is waiting; the records read.
  std::vector<JournalRecord> stop() {
    stopping_ = true;
    if (reader_.joinable()) reader_.join();
    return records_;
  }
  bool allParsed() const { return unparsed_ == 0; }

 private:
  void read() {
    std::string buffer(1 << 16, '\0');
    for (;;) {
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) {
        if (stopping_) return;
        continue;
      }
      const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n <= 0) continue;
      std::vector<JournalRecord> records;
      if (parseJournalRecords(buffer.substr(0, static_cast<size_t>(n)), records) &&
          records.size() == 1) {
        records_.push_back(std::move(records[0]));
      } else {
        ++unparsed_;
      }
    }
  }

  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stopping_{false};
  std::thread reader_;
  std::vector<JournalRecord> records_;
  int unparsed_ = 0;
};

class FleetEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    for (const char* name : {"Inbox", "Moving", "Archive", "Idle", "metrics"})
      fs::create_directories(temp.file(name));
    temp.write("Inbox/a.old", "old");
    temp.write("Inbox/keep.txt", "kept");
    temp.write("Moving/big.bin", std::string(1 << 20, 'x'));
    ASSERT_EQ(0, sweeply({"add", temp.file("Inbox"), "--action", "delete", "--condition",
                          "name: *.old"}));
    ASSERT_EQ(0, sweeply({"add", temp.file("Moving"), "--action", "moveto:" + archive(),
                          "--condition", "name: *.bin"}));
    ASSERT_EQ(0, sweeply({"add", temp.file("Idle")}));
    ASSERT_EQ(0, sweeply({"disable", temp.file("Idle")}));
    ASSERT_EQ(0, sweeply({"prefs", "MetricsFile", metrics()}));
    // Without root the move fails on a folder it may not write; as root, on
    // a file system too small for the entry, mounted where only the run sees
    // it.
    if (geteuid() != 0) fs::permissions(archive(), fs::perms(0555));
  }
  void TearDown() override { fs::permissions(archive(), fs::perms(0755)); }

  int sweeply(std::vector<std::string> arguments) {
    const std::string program = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
    arguments.insert(arguments.begin(), program);
    const ProgramResult result =
        runProgram(program, arguments, toolEnvironment(home, "alice", temp.path()), temp.path());
    EXPECT_EQ(rootHomeLine("sweeply", home), result.err);
    return result.exitStatus;
  }

  /// One run, as root in a mount namespace of its own, after |setUp| (shell
  /// commands, each followed by "&&") there; |thenRun| replaces the run
  /// itself.
  ProgramResult runInNamespace(const std::string& setUp, const std::string& thenRun = "") {
    const std::string script = "mount --make-rprivate / && mount -t tmpfs -o size=64k none '" +
                               archive() + "' && umask 077 && " + setUp +
                               (thenRun.empty() ? "exec '" + tool() + "'" : thenRun);
    return runProgram("/usr/bin/unshare", {"unshare", "-m", "sh", "-c", script},
                      toolEnvironment(home, "alice", temp.path()), temp.path());
  }
  static std::string tool() { return SWEEPRUN_TOOL_PATH; }
  bool canUseNamespaces() const {
    return geteuid() == 0 && system("command -v unshare >/dev/null 2>&1") == 0;
  }

  std::string archive() const { return temp.file("Archive"); }
  std::string metrics() const { return temp.file("metrics/sweeprun.prom"); }

  TempDir temp;
  const std::string home = temp.file("home");
};

TEST_F(FleetEndToEndTest, MetricsFileTellsWhatTheRunDid) {
  ProgramResult result;
  if (geteuid() == 0) {
    if (!canUseNamespaces()) GTEST_SKIP() << "no unshare to mount a full file system privately";
    result = runInNamespace("");
  } else {
    result = runProgram("/bin/sh",
                        {"sh", "-c", std::string("umask 077; exec '") + SWEEPRUN_TOOL_PATH + "'"},
                        toolEnvironment(home, "alice", temp.path()), temp.path());
  }
  ASSERT_EQ(74, result.exitStatus) << result.err;

  struct stat status;
  ASSERT_EQ(0, lstat(metrics().c_str(), &status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(0644u, status.st_mode & 07777) << "readable by the exporter, whatever the umask";

  const std::string text = temp.read("metrics/sweeprun.prom");
  const ParsedMetrics parsed = parseMetricsText(text);
  ASSERT_EQ("", parsed.error) << text;
  const std::string inbox = temp.file("Inbox"), moving = temp.file("Moving"),
                    idle = temp.file("Idle");
  const struct {
    std::string name, folder;
    double value;
  } kExpected[] = {
      {"sweeprun_folder_last_run_entries_seen", inbox, 2},
      {"sweeprun_folder_last_run_entries_taken_in", inbox, 1},
      {"sweeprun_folder_last_run_entries_removed", inbox, 1},
      {"sweeprun_folder_last_run_entries_failed", inbox, 0},
      {"sweeprun_folder_tracked_entries", inbox, 1},
      {"sweeprun_folder_last_run_entries_seen", moving, 1},
      {"sweeprun_folder_last_run_entries_removed", moving, 0},
      {"sweeprun_folder_last_run_entries_failed", moving, 1},
      {"sweeprun_folder_tracked_entries", moving, 0},
      {"sweeprun_folder_enabled", idle, 0},
      {"sweeprun_folder_last_run_checked", idle, 0},
      {"sweeprun_folder_last_check_timestamp_seconds", idle, 0},
      {"sweeprun_last_run_exit_status", "", 74},
  };
  for (const auto& e : kExpected) {
    const std::string series = seriesKey(e.name, e.folder.empty() ? "" : "folder", e.folder);
    const auto found = parsed.samples.find(series);
    ASSERT_NE(parsed.samples.end(), found) << series << "\n" << text;
    EXPECT_EQ(e.value, found->second) << series;
  }
  const double started = parsed.samples.at("sweeprun_last_run_start_timestamp_seconds");
  EXPECT_GT(started, 1.7e9);
  EXPECT_GE(
      parsed.samples.at(seriesKey("sweeprun_folder_last_check_timestamp_seconds", "folder", inbox)),
      started);
  EXPECT_GE(parsed.samples.at("sweeprun_last_run_duration_seconds"), 0);

  // A file of other bits (an administrator's chmod) gets them back at the
  // next run.
  fs::permissions(metrics(), fs::perms(0600));
  const ProgramResult again = runProgram(SWEEPRUN_TOOL_PATH, {"sweeprun"},
                                         toolEnvironment(home, "alice", temp.path()), temp.path());
  ASSERT_EQ(0, lstat(metrics().c_str(), &status)) << again.err;
  EXPECT_EQ(0644u, status.st_mode & 07777);

  // Prometheus' own linter, where it is installed.
  if (system("command -v promtool >/dev/null 2>&1") == 0) {
    const std::string check = "promtool check metrics < '" + metrics() + "'";
    EXPECT_EQ(0, system(check.c_str())) << text;
  }
}

TEST_F(FleetEndToEndTest, JournalRecordsCarryEachRemovalAndTheRunsSummary) {
  if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare for a journal socket of its own";
  JournalSink sink(temp.file("journal.sock"));
  ASSERT_TRUE(sink.bound());
  // The journal's fixed place, in the run's namespace only; standard error
  // named as a stream into the journal, as the service manager names it.
  const ProgramResult result = runInNamespace(
      "mount -t tmpfs none /run && mkdir -p /run/systemd/journal && "
      "touch /run/systemd/journal/socket && mount --bind '" +
      temp.file("journal.sock") +
      "' /run/systemd/journal/socket && "
      "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) && ");
  const std::vector<JournalRecord> records = sink.stop();
  ASSERT_EQ(74, result.exitStatus) << result.err;
  EXPECT_TRUE(sink.allParsed());
  EXPECT_EQ(std::string::npos, result.err.find("Unable to (re)move"))
      << "standard error is the journal: no second copy there";

  std::map<std::string, JournalRecord> byEntry;
  const JournalRecord* summary = nullptr;
  bool errorLogged = false;
  for (const JournalRecord& record : records) {
    EXPECT_EQ("sweeprun", record.at("SYSLOG_IDENTIFIER"));
    if (record.count("SWEEPRUN_ENTRY")) byEntry[record.at("SWEEPRUN_ENTRY")] = record;
    if (record.count("MESSAGE_ID") && record.at("MESSAGE_ID") == kSummaryId) summary = &record;
    if (record.at("MESSAGE") == "Unable to (re)move 'big.bin'.") {
      errorLogged = true;
      EXPECT_EQ("3", record.at("PRIORITY"));
    }
  }
  EXPECT_TRUE(errorLogged) << "every message of the system log goes to the journal";
  ASSERT_EQ(2u, byEntry.size()) << "a record for each removal, none for a kept entry";

  const JournalRecord& removed = byEntry["a.old"];
  EXPECT_EQ(kEntryId, removed.at("MESSAGE_ID"));
  EXPECT_EQ(temp.file("Inbox"), removed.at("SWEEPRUN_FOLDER"));
  EXPECT_EQ("delete", removed.at("SWEEPRUN_ACTION"));
  EXPECT_EQ("done", removed.at("SWEEPRUN_RESULT"));
  EXPECT_EQ(0u, removed.count("SWEEPRUN_DESTINATION"));
  EXPECT_EQ("5", removed.at("PRIORITY"));

  const JournalRecord& failed = byEntry["big.bin"];
  EXPECT_EQ(temp.file("Moving"), failed.at("SWEEPRUN_FOLDER"));
  EXPECT_EQ("move", failed.at("SWEEPRUN_ACTION"));
  EXPECT_EQ("failed", failed.at("SWEEPRUN_RESULT"));
  EXPECT_EQ(archive(), failed.at("SWEEPRUN_DESTINATION"));
  EXPECT_NE(std::string::npos, failed.at("SWEEPRUN_REASON").find("No space left on device"));
  EXPECT_EQ("3", failed.at("PRIORITY"));

  ASSERT_NE(nullptr, summary);
  EXPECT_EQ(&records.back(), summary) << "the summary ends the run";
  const std::map<std::string, std::string> kCounts = {
      {"SWEEPRUN_FOLDERS_CHECKED", "2"},  {"SWEEPRUN_ENTRIES_SEEN", "3"},
      {"SWEEPRUN_ENTRIES_TAKEN_IN", "1"}, {"SWEEPRUN_ENTRIES_REMOVED", "1"},
      {"SWEEPRUN_ENTRIES_FAILED", "1"},   {"SWEEPRUN_EXIT_STATUS", "74"},
  };
  for (const auto& [field, value] : kCounts) EXPECT_EQ(value, summary->at(field)) << field;
  EXPECT_NE(std::string::npos, summary->at("SWEEPRUN_DURATION_SECONDS").find('.'));
  EXPECT_EQ("3", summary->at("PRIORITY")) << "a run that failed is an error";
}

// In system mode the root key "MetricsFile" names the file, here in a folder
// of another account, as the exporter's textfile folder often is.
TEST_F(FleetEndToEndTest, SystemModeWritesTheConfiguredMetricsFile) {
  if (geteuid() != 0) GTEST_SKIP() << "system mode runs as root";
  ASSERT_EQ(0, chown(temp.file("metrics").c_str(), 1, 1));
  temp.write("sweeprun.plist",
             "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
             "<key>DataFile</key><string>" +
                 temp.file("system.data") + "</string><key>MetricsFile</key><string>" + metrics() +
                 "</string><key>Folders</key><array><dict><key>Path</key><string>" +
                 temp.file("Inbox") +
                 "</string><key>Action</key><string>delete</string>"
                 "<key>Condition</key><string>name: *.old</string></dict></array></dict></plist>");
  fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
  const std::string driver = readOnlyDriverIn(temp.path());
  const ProgramResult result =
      runProgram(driver, {driver, "-s"}, toolEnvironment(home, "root", temp.path()), temp.path());
  ASSERT_EQ(0, result.exitStatus) << result.out << result.err;

  struct stat status;
  ASSERT_EQ(0, lstat(metrics().c_str(), &status));
  EXPECT_EQ(0u, status.st_uid);
  EXPECT_EQ(0644u, status.st_mode & 07777);
  const ParsedMetrics parsed = parseMetricsText(temp.read("metrics/sweeprun.prom"));
  ASSERT_EQ("", parsed.error);
  EXPECT_EQ(1, parsed.samples.at(seriesKey("sweeprun_folder_last_run_entries_removed", "folder",
                                           temp.file("Inbox"))));
  EXPECT_EQ(0, parsed.samples.at("sweeprun_last_run_exit_status"));
}

// A watched folder that is gone is named where people and tools look: the
// run log, the journal (sweeply history), the metrics file (not checked,
// missing, its last check as it was) and, in user mode, sweeply list.
TEST_F(FleetEndToEndTest, AFolderThatIsGoneIsNamedInTheLogJournalMetricsAndList) {
  const std::string inbox = temp.file("Inbox");
  const auto sample = [&](const std::string& name) {
    const ParsedMetrics parsed = parseMetricsText(temp.read("metrics/sweeprun.prom"));
    const auto found = parsed.samples.find(seriesKey(name, "folder", inbox));
    return found == parsed.samples.end() ? -1.0 : found->second;
  };
  // The folder's last check, and that it came before the last run began.
  const auto lastCheckBeforeRun = [&] {
    const ParsedMetrics parsed = parseMetricsText(temp.read("metrics/sweeprun.prom"));
    return sample("sweeprun_folder_last_check_timestamp_seconds") <
           parsed.samples.at("sweeprun_last_run_start_timestamp_seconds");
  };
  const auto run = [&] {
    return runProgram(SWEEPRUN_TOOL_PATH, {"sweeprun"}, toolEnvironment(home, "alice", temp.path()),
                      temp.path());
  };
  const auto sweeplyOut = [&](std::vector<std::string> arguments) {
    const std::string program = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
    arguments.insert(arguments.begin(), program);
    return runProgram(program, arguments, toolEnvironment(home, "alice", temp.path()),
                      temp.path())
        .out;
  };
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}));
  ASSERT_EQ(0, sweeply({"prefs", "LogFileName", temp.file("run.log")}));
  run();
  fs::remove_all(inbox);
  run();

  EXPECT_EQ(1, sample("sweeprun_folder_missing"));
  EXPECT_EQ(0, sample("sweeprun_folder_last_run_checked"));
  EXPECT_TRUE(lastCheckBeforeRun()) << "not a fresh check";
  EXPECT_NE(std::string::npos,
            temp.read("run.log").find("Warning: Folder '" + inbox +
                                      "' was not found, so runs no longer check it; once it is "
                                      "back, turn it on again with: sweeply enable '" +
                                      inbox + "'"))
      << temp.read("run.log");
  EXPECT_NE(std::string::npos, sweeplyOut({"history"}).find("  " + inbox + ": not found\n"));
  const std::string list = sweeplyOut({"list"});
  EXPECT_NE(std::string::npos, list.find(": folder not found")) << list;
  EXPECT_NE(std::string::npos, list.find("disabled by the run of ")) << list;

  fs::create_directories(inbox);
  ASSERT_EQ(0, sweeply({"enable", inbox}));
  EXPECT_EQ(std::string::npos, sweeplyOut({"list"}).find("folder not found"));

  // System mode checks the folders of its file on every run: one that is
  // gone is named in each run's metrics and journal, and stays configured.
  if (geteuid() != 0) return;
  temp.write("sweeprun.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                               "<key>DataFile</key><string>" + temp.file("system.data") +
                                   "</string><key>MetricsFile</key><string>" + metrics() +
                                   "</string><key>Folders</key><array><dict><key>Path</key>"
                                   "<string>" + inbox + "</string></dict></array></dict></plist>");
  fs::permissions(temp.file("sweeprun.plist"), fs::perms(0600));
  const std::string driver = readOnlyDriverIn(temp.path());
  const auto runSystem = [&] {
    return runProgram(driver, {driver, "-s"}, toolEnvironment(home, "root", temp.path()),
                      temp.path());
  };
  ASSERT_EQ(0, runSystem().exitStatus);
  EXPECT_EQ(0, sample("sweeprun_folder_missing"));
  fs::remove_all(inbox);
  const ProgramResult gone = runSystem();
  EXPECT_EQ(0, gone.exitStatus);
  EXPECT_NE(std::string::npos, gone.err.find("No folder found at '" + inbox + "'.")) << gone.err;
  EXPECT_EQ(1, sample("sweeprun_folder_missing"));
  EXPECT_EQ(0, sample("sweeprun_folder_last_run_checked"));
  EXPECT_TRUE(lastCheckBeforeRun()) << "not a fresh check";
  EXPECT_NE(std::string::npos, temp.read("var-lib-sweeprun/journal.jsonl").find("\"missing\""));
}

// The same run against the system's own journal daemon, in the run's
// namespace, and read back with journalctl by the fields a query uses: the
// daemon keeps only fields whose names it accepts.
TEST_F(FleetEndToEndTest, JournalctlFindsTheRecordsByTheirFields) {
  const char* daemon = "/lib/systemd/systemd-journald";
  if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare for a journal of its own";
  if (access(daemon, X_OK) != 0) GTEST_SKIP() << "no " << daemon;
  const std::string exported = temp.file("exported");
  const std::string query = "journalctl --directory=\"$(ls -d /run/log/journal/*)\" -o export ";
  // The daemon's socket appears once it listens; the run waits for it, and
  // journalctl --sync until the daemon has written what it received. The
  // host's persistent journal, if any, is hidden too.
  const ProgramResult result = runInNamespace(
      "mount -t tmpfs none /run && mkdir -p /run/systemd/journal /run/log/journal && "
      "{ [ ! -d /var/log/journal ] || mount -t tmpfs none /var/log/journal; } && ",
      std::string(daemon) +
          " >/dev/null 2>&1 & daemon=$!; trap 'kill $daemon; wait $daemon' EXIT; i=0; " +
          "while [ ! -S /run/systemd/journal/socket ] && [ $i -lt 600 ]; do sleep 0.1; " +
          "i=$((i+1)); done; '" + tool() + "'; status=$?; journalctl --sync && " + query +
          "SWEEPRUN_FOLDER='" + temp.file("Moving") + "' SWEEPRUN_RESULT=failed > '" + exported +
          "' && " + query + "MESSAGE_ID=" + kSummaryId + " >> '" + exported +
          "' || status=1; exit $status");
  ASSERT_EQ(74, result.exitStatus) << result.err;

  std::vector<JournalRecord> records;
  ASSERT_TRUE(parseJournalRecords(temp.read("exported"), records));
  ASSERT_EQ(2u, records.size()) << temp.read("exported");
  EXPECT_EQ("big.bin", records[0]["SWEEPRUN_ENTRY"]);
  EXPECT_EQ("move", records[0]["SWEEPRUN_ACTION"]);
  EXPECT_EQ(kEntryId, records[0]["MESSAGE_ID"]);
  EXPECT_EQ("sweeprun", records[1]["SYSLOG_IDENTIFIER"]);
  EXPECT_EQ("74", records[1]["SWEEPRUN_EXIT_STATUS"]);
  EXPECT_EQ("1", records[1]["SWEEPRUN_ENTRIES_REMOVED"]);
  EXPECT_EQ("3", records[1]["PRIORITY"]);
}

}  // namespace
}  // namespace sweeprun
