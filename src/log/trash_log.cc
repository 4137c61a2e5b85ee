#include "log/trash_log.h"

#include <random>
#include <string>
#include <vector>

#include "fs/dir_handle.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "log/log_trimming.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/system_log.h"
#include "plist/property_list.h"
#include "plist/value.h"

namespace sweeprun {

namespace {

constexpr char kClosingLineList[] = "log.plist";

// The texts of the closing-line list beside the executable; empty when the
// list is missing, unreadable or not an array.
std::vector<std::string> closingLines() {
  std::vector<std::string> lines;
  const std::string& directory = process().executableDirectory;
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

TrashLog::~TrashLog() { logFile.close(); }

void TrashLog::open(const std::string& path, double limitDays) {
  std::string error;
  // The user's log folder exists on the companion's home platform but seldom
  // here; without it, turning the log on would give no log and no word why.
  if (!process().systemMode) {
    const std::string folder = deletingLastPathComponent(path);
    DirHandle created;
    if (!directoryExists(folder)) DirHandle::createDirectories(folder, created, error);
  }
  // The system run log names the files of every user's watched folders: for
  // root and the administrators' group only, as the system's own logs are.
  FileHandle::NewFileAttributes newFile;
  if (process().systemMode) newFile = {0640, "adm"};
  logFile = FileHandle::openForUpdate(path, error, newFile);
  if (!logFile.isOpen()) return;  // a log that cannot be opened stays silent

  bool trimmed = false;
  std::string text;
  if (!process().systemMode && limitDays > 0 && logFile.readAll(text) && !text.empty() &&
      isValidUtf8(text)) {
    const size_t keptStart = keptTextStart(text, process().clock(), limitDays);
    if (keptStart > 0) {
      // Cut at once rather than at close, so that a run that dies before
      // closing leaves no bytes of the old sections behind the kept text.
      const std::string_view kept = std::string_view(text).substr(keptStart);
      trimmed = logFile.seekTo(0) && logFile.write(kept) && logFile.truncateAtPosition();
    }
  }
  if (!trimmed) logFile.seekToEnd();
  if (logFile.position() != 0) logFile.write("\n");
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
  const std::vector<std::string> lines = closingLines();
  if (!lines.empty()) log(lines[randomIndex(lines.size())]);
  log("");
  logFile.truncateAtPosition();
  logFile.close();
}

void TrashLog::err(std::string_view message) {
  systemLog(message);
  if (TrashLog* runLog = process().runLog) runLog->log(localized("Error: %@", {message}));
}

void logLine(std::string_view line) {
  if (TrashLog* runLog = process().runLog) runLog->log(line);
}

}  // namespace sweeprun
