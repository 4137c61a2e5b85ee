#include "log/trash_log.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fs/dir_handle.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "log/log_trimming.h"
#include "os/localization.h"
#include "os/system_log.h"
#include "plist/property_list.h"
#include "plist/value.h"

namespace sweeprun {

namespace {

constexpr char kClosingLineList[] = "log.plist";

// How much of the log trimming holds at a time.
constexpr size_t kTrimPieceSize = 1 << 16;

constexpr unsigned kUserLogMode = 0600;
constexpr unsigned kSystemLogMode = 0640;

// The texts of the closing-line list in |directory|, the executable's;
// empty when the list is missing, unreadable or not an array.
std::vector<std::string> closingLines(const std::string& directory) {
  std::vector<std::string> lines;
  if (directory.empty()) return lines;
  std::string bytes, error;
  Value list;
  if (!readFile(joinPath(directory, kClosingLineList), bytes, error) ||
      !readPropertyList(bytes, list, error) || !list.arrayPtr()) {
    return lines;
  }
  for (const Value& element : *list.arrayPtr()) {
    if (element.isText()) lines.emplace_back(element.asText());
  }
  return lines;
}

size_t randomIndex(size_t count) {
  static std::mt19937_64 engine = [] {
    try {
      return std::mt19937_64(std::random_device()());
    } catch (...) {
      // No entropy source: the clock is random enough to pick a line.
      return std::mt19937_64(static_cast<uint64_t>(Date::now().seconds * 1e6));
    }
  }();
  return std::uniform_int_distribution<size_t>(0, count - 1)(engine);
}

}  // namespace

TrashLog::TrashLog(const RunWorld& world) : world_(world) {}

TrashLog::~TrashLog() { logFile.close(); }

void TrashLog::open(const std::string& path, double limitDays) {
  std::string error;
  // The user's log folder exists on the companion's home platform but seldom
  // here; without it, turning the log on would give no log and no word why.
  if (!world_.systemMode) {
    const std::string folder = deletingLastPathComponent(path);
    DirHandle created;
    if (!directoryExists(folder)) DirHandle::createDirectories(folder, created, error);
  }
  // The run log names the files of the watched folders: the user's log is
  // for the user only; the system log, naming every user's, for root and
  // the administrators' group, as the system's own logs are.
  FileHandle::NewFileAttributes newFile{kUserLogMode, nullptr};
  if (world_.systemMode) newFile = {kSystemLogMode, "adm"};
  logFile = FileHandle::openForUpdate(path, error, newFile);
  if (!logFile.isOpen()) return;  // a log that cannot be opened stays silent

  if (!world_.systemMode && limitDays > 0) cutOldSections(path, limitDays);
  logFile.seekToEnd();
  if (logFile.position() != 0) logFile.write("\n");
}

bool TrashLog::cutOldSections(const std::string& path, double limitDays) {
  // Read from the start only as far as the first recent section: in the
  // usual log, whose first section is recent, that is one piece.
  KeptTextFinder finder(world_.clock(), limitDays);
  Utf8Checker checker;
  std::string piece;
  uint64_t read = 0;
  while (!finder.decided()) {
    if (!logFile.readAt(read, kTrimPieceSize, piece)) return false;
    if (piece.empty()) {
      finder.finish();
      break;
    }
    checker.feed(piece);
    finder.feed(piece);
    read += piece.size();
  }
  const uint64_t keptStart = finder.keptStart();
  if (keptStart == 0) return false;
  // The kept text goes into a new file that replaces the log at once: a run
  // that dies meanwhile leaves the old log whole, one that dies later no
  // bytes of the old sections. The part not read yet is checked on the way.
  std::string error;
  const bool replaced = writeFileAtomicallyFrom(
      path,
      [&](ByteSink& sink) {
        for (uint64_t from = keptStart;; from += piece.size()) {
          if (!logFile.readAt(from, kTrimPieceSize, piece)) return false;
          if (piece.empty()) break;
          if (from + piece.size() > read) {
            checker.feed(std::string_view(piece).substr(from < read ? read - from : 0));
            read = from + piece.size();
          }
          if (!sink.append(piece)) return false;
        }
        // A log that is not UTF-8 throughout is only ever appended to.
        return checker.valid();
      },
      error);
  if (!replaced) return false;
  logFile = FileHandle::openForUpdate(path, error);
  return logFile.isOpen();
}

void TrashLog::log(std::string_view line) {
  if (!logFile.isOpen()) return;
  std::string bytes;
  bytes.reserve(line.size() + 1);
  bytes.append(line);
  bytes.push_back('\n');
  logFile.write(bytes);
}

void TrashLog::close() {
  if (!logFile.isOpen()) return;
  const std::vector<std::string> lines = closingLines(world_.executableDirectory);
  if (!lines.empty()) log(lines[randomIndex(lines.size())]);
  log("");
  logFile.truncateAtPosition();
  logFile.close();
}

void TrashLog::err(TrashLog* runLog, std::string_view message) {
  systemLog(message);
  if (runLog) runLog->log(localized("Error: %@", {message}));
}

void TrashLog::warn(TrashLog* runLog, std::string_view message) {
  systemLog(message, LogPriority::kWarning);
  if (runLog) runLog->log(localized("Warning: %@", {message}));
}

void logLine(TrashLog* runLog, std::string_view line) {
  if (runLog) runLog->log(line);
}

}  // namespace sweeprun
