#include "log/run_journal.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "fs/dir_handle.h"
#include "fs/path.h"
#include "log/log_trimming.h"

namespace sweeprun {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUserJournal = "~/Library/Logs/Sweeply-journal.jsonl";
constexpr const char* kSystemJournalName = "journal.jsonl";
constexpr unsigned kJournalMode = 0600;
constexpr unsigned kJournalFolderMode = 0700;
constexpr double kSecondsPerDay = 86400;

// "2026-12-07T20:45:12Z": the standard date text in ISO form, which scripts
// read without help, written into |out|.
std::string_view writeIsoText(Date date, char (&out)[kStandardDateTextRoom]) {
  writeStandardDateText(date, out);  // "2026-12-07 20:45:12 +0000"
  out[10] = 'T';
  out[19] = 'Z';
  return {out, 20};
}

std::string isoText(Date date) {
  char text[kStandardDateTextRoom];
  return std::string(writeIsoText(date, text));
}

std::optional<Date> parseIsoText(std::string_view text) {
  if (text.size() != 20 || text[10] != 'T' || text[19] != 'Z') return std::nullopt;
  std::string standard(text.substr(0, 10));
  standard.append(" ").append(text.substr(11, 8)).append(" +0000");
  // Only a text that the date gives back (not "2026-02-30"), so that a
  // record reads back as it was written.
  const std::optional<Date> date = parseStandardDateText(standard);
  if (!date || isoText(*date) != text) return std::nullopt;
  return date;
}

// Every byte outside printable ASCII, and "%", as %XX.
std::string percentEscaped(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c > 0x20 && c < 0x7f && c != '%') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::optional<std::string> percentUnescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    unsigned value = 0;
    if (std::sscanf(std::string(text.substr(i + 1, 2)).c_str(), "%2x", &value) != 1)
      return std::nullopt;
    out.push_back(static_cast<char>(value));
    i += 2;
  }
  return out;
}

// One JSON object written member by member into a buffer the caller keeps.
// A run writes a record per entry it removes, and building a document, or
// even appending piece by piece to a string, cost more than the rest of a
// removal: the line is written through a cursor into the buffer, which
// keeps its size from line to line and grows only for a longer one
// (nlohmann-json reads the lines back). The small writes are inlined, so that
// a member name's length is known where it is written: 4% fewer instructions
// in a deletion run (callgrind).
class LineWriter {
 public:
  explicit LineWriter(std::string& line) : line_(line) {
    line_.resize(std::max(line_.capacity(), kFirstRoom));
    cursor_ = line_.data();
  }
  void text(std::string_view key, std::string_view value) {
    name(key);
    quoted(value);
  }
  [[gnu::always_inline]] void number(std::string_view key, std::optional<uint64_t> value) {
    name(key);
    if (value) {
      digits(*value);
    } else {
      put("null");
    }
  }
  [[gnu::always_inline]] void digits(uint64_t value) {
    room(20);
    cursor_ = std::to_chars(cursor_, cursor_ + 20, value).ptr;
  }
  /// A path as the file system holds it: as text when it is UTF-8, else as
  /// text with U+FFFD for a reader and exactly in "<key>Bytes".
  void path(std::string_view key, const std::string& value) {
    if (value.empty()) {
      name(key);
      put("null");
    } else if (isPlain(value)) {
      name(key);
      plainQuoted(value);
    } else if (isValidUtf8(value)) {
      text(key, value);
    } else {
      name(key);
      put(Json(value).dump(-1, ' ', false, Json::error_handler_t::replace));
      text(std::string(key) + "Bytes", percentEscaped(value));
    }
  }
  [[gnu::always_inline]] void null(std::string_view key) {
    name(key);
    put("null");
  }
  /// A date as isoText writes it, without making a string of it.
  void date(std::string_view key, Date value) {
    char text[kStandardDateTextRoom];
    name(key);
    plainQuoted(writeIsoText(value, text));
  }
  /// A member's name: {"key": or ,"key": (the most frequent write of a
  /// line, so its room is made once).
  [[gnu::always_inline]] void name(std::string_view key) {
    room(key.size() + 4);
    *cursor_ = cursor_ == line_.data() ? '{' : ',';
    cursor_[1] = '"';
    std::memcpy(cursor_ + 2, key.data(), key.size());
    cursor_ += key.size() + 2;
    *cursor_++ = '"';
    *cursor_++ = ':';
  }
  /// Members written before, copied as they are.
  void written(std::string_view members) { put(members); }
  size_t length() const { return static_cast<size_t>(cursor_ - line_.data()); }
  void finish() {
    put("}");
    line_.resize(static_cast<size_t>(cursor_ - line_.data()));
  }

 private:
  static constexpr size_t kFirstRoom = 1024;

  /// Whether |value| is printable ASCII without quotes or backslashes, the
  /// common case: a path written as it is. Eight bytes at a time.
  static bool isPlain(std::string_view value) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    // The bytes of |word| that are zero, each as its high bit.
    auto zeroBytes = [](uint64_t word) { return (word - kOnes) & ~word & kHighs; };
    size_t i = 0;
    for (; i + 8 <= value.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, value.data() + i, 8);
      // High bytes; bytes below 0x20 (which borrow from 0x20 less them);
      // '"' and '\\'.
      const uint64_t care = (word & kHighs) | ((word - 0x20 * kOnes) & ~word & kHighs) |
                            zeroBytes(word ^ ('"' * kOnes)) | zeroBytes(word ^ ('\\' * kOnes));
      if (care) return false;
    }
    for (; i < value.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(value[i]);
      if (c >= 0x80 || c < 0x20 || c == '"' || c == '\\') return false;
    }
    return true;
  }
  /// Makes room for |bytes| more at the cursor.
  [[gnu::always_inline]] void room(size_t bytes) {
    const size_t used = static_cast<size_t>(cursor_ - line_.data());
    if (used + bytes <= line_.size()) return;
    line_.resize(std::max(2 * line_.size(), used + bytes));
    cursor_ = line_.data() + used;
  }
  [[gnu::always_inline]] void put(std::string_view bytes) {
    room(bytes.size());
    std::memcpy(cursor_, bytes.data(), bytes.size());
    cursor_ += bytes.size();
  }

  // |value| needs no escaping.
  [[gnu::always_inline]] void plainQuoted(std::string_view value) {
    room(value.size() + 2);
    *cursor_++ = '"';
    put(value);
    *cursor_++ = '"';
  }
  // |value| is UTF-8: only quotes, backslashes and control characters need
  // escaping, and runs without them are copied whole.
  void quoted(std::string_view value) {
    put("\"");
    size_t plain = 0;
    for (size_t i = 0; i < value.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(value[i]);
      if (c != '"' && c != '\\' && c >= 0x20) continue;
      put(value.substr(plain, i - plain));
      plain = i + 1;
      char escaped[8];
      if (c == '"' || c == '\\') {
        escaped[0] = '\\';
        escaped[1] = static_cast<char>(c);
        escaped[2] = 0;
      } else {
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      }
      put(escaped);
    }
    put(value.substr(plain));
    put("\"");
  }
  std::string& line_;
  char* cursor_;
};

// The members of one journal line that a record is made of, read in one
// pass without building a document: history and undo read every line of
// the journal, and a document cost an allocation per member. A member that
// comes twice counts by its last value, as in a document; one whose value
// is an object or array counts as present but neither text nor number.
class LineFields : public nlohmann::json_sax<Json> {
 public:
  // Each path's exact form, "<key>Bytes", comes right after it.
  enum Field {
    kRecord, kRun, kStarted, kEntry, kUndoneAt, kMode, kUnrecorded, kFolder, kFolderBytes,
    kAction, kOriginal, kOriginalBytes, kDestination, kDestinationBytes, kTrashInfo,
    kTrashInfoBytes, kCreatedFolder, kCreatedFolderBytes, kCreatedFolderInfo,
    kCreatedFolderInfoBytes, kType, kReason, kSize, kDevice, kInode, kModified, kOwner,
    kBirthTime, kChangeTime, kCreatedFolderDevice, kCreatedFolderInode, kCreatedFolderOwner,
    kCreatedFolderBirthTime, kFields
  };

  /// Whether |line| is one JSON object; its members are then in place.
  bool read(std::string_view line) {
    return Json::sax_parse(line.begin(), line.end(), this) && isObject_;
  }

  std::string text(Field field) const {
    return values_[field].kind == Kind::kText ? values_[field].text : std::string();
  }
  /// A path member, exactly from its percent-escaped bytes where the line
  /// has them.
  std::string path(Field field) const {
    const Value& exact = values_[static_cast<Field>(field + 1)];
    if (exact.kind == Kind::kText) {
      if (auto bytes = percentUnescaped(exact.text)) return *bytes;
    }
    return text(field);
  }
  std::optional<uint64_t> number(Field field) const {
    if (values_[field].kind != Kind::kNumber) return std::nullopt;
    return values_[field].number;
  }

  bool null() override { return other(); }
  bool boolean(bool) override { return other(); }
  bool number_integer(number_integer_t) override { return other(); }
  bool number_float(number_float_t, const string_t&) override { return other(); }
  bool binary(binary_t&) override { return other(); }
  bool number_unsigned(number_unsigned_t value) override {
    if (Value* v = member()) {
      v->kind = Kind::kNumber;
      v->number = value;
    }
    return true;
  }
  bool string(string_t& value) override {
    if (Value* v = member()) {
      v->kind = Kind::kText;
      v->text = std::move(value);
    }
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ == 0) isObject_ = true;
    other();
    ++depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    other();
    ++depth_;
    return true;
  }
  bool end_object() override { return --depth_, true; }
  bool end_array() override { return --depth_, true; }
  bool key(string_t& name) override {
    if (depth_ == 1) current_ = fieldNamed(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class Kind { kAbsent, kText, kNumber, kOther };
  struct Value {
    Kind kind = Kind::kAbsent;
    std::string text;
    uint64_t number = 0;
  };

  static Field fieldNamed(std::string_view name) {
    static constexpr std::string_view kNames[kFields] = {
        "record", "run", "started", "entry", "undoneAt", "mode", "unrecorded", "folder",
        "folderBytes", "action", "original", "originalBytes", "destination", "destinationBytes",
        "trashInfo", "trashInfoBytes", "createdFolder", "createdFolderBytes", "createdFolderInfo",
        "createdFolderInfoBytes", "type", "reason", "size", "device", "inode", "modified", "owner",
        "birthTime", "changeTime", "createdFolderDevice", "createdFolderInode",
        "createdFolderOwner", "createdFolderBirthTime"};
    for (int i = 0; i < kFields; ++i) {
      if (kNames[i] == name) return static_cast<Field>(i);
    }
    return kFields;
  }
  /// The member the value being read belongs to, if it is one of ours.
  Value* member() { return depth_ == 1 && current_ != kFields ? &values_[current_] : nullptr; }
  bool other() {
    if (Value* v = member()) v->kind = Kind::kOther;
    return true;
  }

  Value values_[kFields];
  Field current_ = kFields;
  int depth_ = 0;
  bool isObject_ = false;
};

}  // namespace

std::string journalRunId(Date started, unsigned processId) {
  std::string id;
  for (char c : isoText(started)) {
    if (c != '-' && c != ':') id.push_back(c);
  }
  return id + "-" + std::to_string(processId);
}

std::string journalPath(const RunWorld& world, bool systemMode) {
  if (systemMode) return joinPath(world.systemDataFolder, kSystemJournalName);
  return userJournalPath(world.homeDirectory);
}

std::string userJournalPath(const std::string& homeDirectory) {
  return standardizePath(kUserJournal, homeDirectory);
}

std::string journalLine(const JournalRecord& record) {
  std::string line;
  writeJournalLine(record, line);
  return line;
}

namespace {

// The members that open every line: its kind, and the run it tells of.
void writeRunMembers(LineWriter& line, std::string_view kind, const JournalRecord& record) {
  line.text("record", kind);
  line.path("run", record.run);
  line.date("started", record.started);
}

// An entry line up to its number: the members every entry of a run shares.
void writeEntryStart(LineWriter& line, const JournalRecord& record) {
  writeRunMembers(line, "entry", record);
  line.path("mode", record.mode);
  line.name("entry");
}

// The members every entry of a run and folder shares, after its number.
void writeEntryFolder(LineWriter& line, const JournalRecord& record) {
  line.path("folder", record.folder);
  line.path("action", record.action);
}

// The rest of an entry line: what is the entry's own.
void writeEntryOwn(LineWriter& line, const JournalRecord& record) {
  line.path("original", record.original);
  line.path("destination", record.destination);
  line.path("trashInfo", record.trashInfo);
  line.path("createdFolder", record.createdFolder);
  line.path("createdFolderInfo", record.createdFolderInfo);
  line.path("type", record.type);
  if (!record.reason.empty()) line.text("reason", record.reason);
  line.number("size", record.size);
  line.number("device", record.device);
  line.number("inode", record.inode);
  line.number("owner", record.owner);
  line.number("birthTime", record.birthTime);
  line.number("changeTime", record.changeTime);
  if (record.modified) {
    line.date("modified", *record.modified);
  } else {
    line.null("modified");
  }
  if (!record.createdFolder.empty()) {
    line.number("createdFolderDevice", record.createdFolderDevice);
    line.number("createdFolderInode", record.createdFolderInode);
    line.number("createdFolderOwner", record.createdFolderOwner);
    line.number("createdFolderBirthTime", record.createdFolderBirthTime);
  }
  line.finish();
}

}  // namespace

void writeJournalLine(const JournalRecord& record, std::string& out) {
  LineWriter line(out);
  // The run's own records: where its entries stand, and what they say.
  const bool incomplete = record.kind == JournalRecord::Kind::kIncomplete;
  if (incomplete || record.kind == JournalRecord::Kind::kMissing) {
    writeRunMembers(line, incomplete ? "incomplete" : "missing", record);
    line.path("mode", record.mode);
    line.number("entry", record.number);
    if (incomplete) {
      line.number("unrecorded", record.unrecorded);
    } else {
      line.path("folder", record.folder);
    }
    line.finish();
    return;
  }
  if (record.kind == JournalRecord::Kind::kUndo) {
    writeRunMembers(line, "undo", record);
    line.number("entry", record.number);
    line.date("undoneAt", record.undoneAt);
    line.finish();
    return;
  }
  writeEntryStart(line, record);
  line.digits(record.number);
  writeEntryFolder(line, record);
  writeEntryOwn(line, record);
}

void JournalLineWriter::write(const JournalRecord& record, std::string& out) {
  if (record.kind != JournalRecord::Kind::kEntry) {
    writeJournalLine(record, out);
    return;
  }
  LineWriter line(out);
  if (known_ && record.run == run_ && record.started.seconds == started_.seconds &&
      record.mode == mode_ && record.folder == folder_ && record.action == action_) {
    line.written(start_);
    line.digits(record.number);
    line.written(folderMembers_);
  } else {
    known_ = false;
    writeEntryStart(line, record);
    start_.assign(out.data(), line.length());
    line.digits(record.number);
    const size_t folderAt = line.length();
    writeEntryFolder(line, record);
    folderMembers_.assign(out.data() + folderAt, line.length() - folderAt);
    run_ = record.run;
    started_ = record.started;
    mode_ = record.mode;
    folder_ = record.folder;
    action_ = record.action;
    known_ = true;
  }
  writeEntryOwn(line, record);
}

std::optional<JournalRecord> parseJournalLine(std::string_view text) {
  LineFields line;
  if (!line.read(text)) return std::nullopt;
  JournalRecord record;
  const std::string kind = line.text(LineFields::kRecord);
  record.run = line.text(LineFields::kRun);
  const std::optional<Date> started = parseIsoText(line.text(LineFields::kStarted));
  const std::optional<uint64_t> number = line.number(LineFields::kEntry);
  if (record.run.empty() || !started || !number) return std::nullopt;
  record.started = *started;
  record.number = *number;
  if (kind == "undo") {
    record.kind = JournalRecord::Kind::kUndo;
    record.undoneAt = parseIsoText(line.text(LineFields::kUndoneAt)).value_or(Date());
    return record;
  }
  if (kind == "incomplete") {
    record.kind = JournalRecord::Kind::kIncomplete;
    record.mode = line.text(LineFields::kMode);
    record.unrecorded = line.number(LineFields::kUnrecorded).value_or(0);
    return record;
  }
  if (kind == "missing") {
    record.kind = JournalRecord::Kind::kMissing;
    record.mode = line.text(LineFields::kMode);
    record.folder = line.path(LineFields::kFolder);
    return record;
  }
  if (kind != "entry") return std::nullopt;
  record.mode = line.text(LineFields::kMode);
  record.folder = line.path(LineFields::kFolder);
  record.action = line.text(LineFields::kAction);
  record.original = line.path(LineFields::kOriginal);
  record.destination = line.path(LineFields::kDestination);
  record.trashInfo = line.path(LineFields::kTrashInfo);
  record.createdFolder = line.path(LineFields::kCreatedFolder);
  record.createdFolderInfo = line.path(LineFields::kCreatedFolderInfo);
  record.type = line.text(LineFields::kType);
  record.reason = line.text(LineFields::kReason);
  record.size = line.number(LineFields::kSize);
  record.device = line.number(LineFields::kDevice);
  record.inode = line.number(LineFields::kInode);
  record.modified = parseIsoText(line.text(LineFields::kModified));
  record.owner = line.number(LineFields::kOwner);
  record.birthTime = line.number(LineFields::kBirthTime);
  record.changeTime = line.number(LineFields::kChangeTime);
  if (!record.createdFolder.empty()) {
    record.createdFolderDevice = line.number(LineFields::kCreatedFolderDevice);
    record.createdFolderInode = line.number(LineFields::kCreatedFolderInode);
    record.createdFolderOwner = line.number(LineFields::kCreatedFolderOwner);
    record.createdFolderBirthTime = line.number(LineFields::kCreatedFolderBirthTime);
  }
  if (record.original.empty()) return std::nullopt;
  return record;
}

bool readJournal(const std::string& path, std::vector<JournalRecord>& records, std::string& error) {
  records.clear();
  std::string text;
  if (!entryExists(path, error)) return error.empty();
  if (!readFile(path, text, error)) return false;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    if (auto record = parseJournalLine(std::string_view(text).substr(begin, end - begin)))
      records.push_back(std::move(*record));
    begin = end + 1;
  }
  return true;
}

std::string trimmedJournalText(std::string_view text, Date now, double limitDays, size_t keptRuns) {
  struct Line {
    std::string_view text;
    std::string run;
  };
  std::vector<Line> lines;
  std::vector<std::string> runs;  // in the order they first appear
  std::map<std::string, Date> startOf;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    const std::optional<JournalRecord> record = parseJournalLine(line);
    if (!record) continue;
    if (startOf.emplace(record->run, record->started).second) runs.push_back(record->run);
    lines.push_back({line, record->run});
  }
  std::map<std::string, bool> kept;
  for (size_t i = 0; i < runs.size(); ++i) {
    const bool recent =
        limitDays <= 0 || startOf[runs[i]].seconds > now.seconds - limitDays * kSecondsPerDay;
    kept[runs[i]] = recent || i + keptRuns >= runs.size();
  }
  std::string out;
  for (const Line& line : lines) {
    if (kept[line.run]) out.append(line.text).push_back('\n');
  }
  return out;
}

bool JournalWriter::open(const std::string& path, Date now, double limitDays,
                         std::chrono::milliseconds wait, std::string& error) {
  path_ = path;
  DirHandle folder;
  const std::string folderPath = deletingLastPathComponent(path);
  if (DirHandle::openDirectory(folderPath, folder, error) == OpenStatus::kMissing) {
    DirHandle parent;
    error.clear();
    if (DirHandle::createDirectories(deletingLastPathComponent(folderPath), parent, error) !=
            OpenStatus::kOpened ||
        !makeFolder(folderPath, kJournalFolderMode, error)) {
      return false;
    }
  }
  switch (DatabaseLock::acquire(path, wait, lock_, error)) {
    case DatabaseLock::Status::kLocked:
      break;
    case DatabaseLock::Status::kBusy:
      error = "another program keeps the journal '" + path + "' open";
      return false;
    case DatabaseLock::Status::kFailed:
      return false;
  }
  file_ = FileHandle::openForUpdate(path, error, {kJournalMode, nullptr});
  if (!file_.isOpen()) return false;
  if (oldestRunIsDue(now, limitDays)) {
    std::string text;
    if (!file_.readAll(text)) {
      error = "read(" + path + ") failed";
      file_.close();
      return false;
    }
    const std::string kept = trimmedJournalText(text, now, limitDays, kJournalKeptRuns);
    if (kept.size() != text.size()) {
      // Replaced whole, so that a kill part-way leaves the old journal; the
      // file was checked above, and the new one keeps its mode.
      file_.close();
      if (!writeFileAtomically(path, kept, error, kJournalMode)) return false;
      file_ = FileHandle::openForUpdate(path, error, {kJournalMode, nullptr});
      if (!file_.isOpen()) return false;
    }
  }
  if (!seekToContentEnd()) {
    error = "read(" + path + ") failed";
    file_.close();
    return false;
  }
  lineCut_ = false;
  cannotReserve_ = !appender_.start(file_, file_.position()) && !appender_.outOfSpace();
  return true;
}

bool JournalWriter::seekToContentEnd() {
  uint64_t end = 0;
  std::string last;
  if (!MappedAppender::contentEnd(file_, end) || !file_.seekTo(end)) return false;
  if (end > 0 && (!file_.readAt(end - 1, 1, last) || last.size() != 1)) return false;
  if (!last.empty() && last[0] != '\n' && !file_.write("\n")) return false;
  return file_.truncateAtPosition();
}

bool JournalWriter::oldestRunIsDue(Date now, double limitDays) const {
  if (limitDays <= 0) return false;
  // Runs are appended in the order they began, under the journal's lock, so
  // the first record is of the oldest run. Only its line is read: a journal
  // whose oldest run is recent has nothing to cut, whatever its size.
  std::string head;
  uint64_t offset = 0;
  size_t end = std::string::npos;
  while (end == std::string::npos) {
    std::string piece;
    if (!file_.readAt(offset, kHeadPiece, piece) || piece.empty()) break;
    offset += piece.size();
    head += piece;
    end = head.find('\n');
  }
  if (head.empty()) return false;
  const std::optional<JournalRecord> first =
      parseJournalLine(std::string_view(head).substr(0, end));
  // A first line that is no record is cut by a trim as well.
  if (!first) return true;
  return first->started.seconds <= now.seconds - (limitDays + kTrimSlackDays) * kSecondsPerDay;
}

bool JournalWriter::append(const JournalRecord& record, std::string& error) {
  lines_.write(record, line_);
  line_.push_back('\n');
  // After part of a line, this one starts a line of its own; readers skip
  // the empty or cut line.
  if (lineCut_) line_.insert(line_.begin(), '\n');
  if (appender_.isStarted()) {
    if (appender_.append(line_)) return true;
    // No room for another window (a full disk, say): on with write(), which
    // reports the reason if it fails as well.
    const uint64_t end = appender_.end();
    if (!appender_.finish() || !file_.seekTo(end)) {
      error = "ftruncate(" + path_ + ") failed";
      return false;
    }
  }
  lineCut_ = !file_.write(line_);
  if (!lineCut_) return true;
  error = "write(" + path_ + ") failed";
  return false;
}

bool JournalWriter::canTakeLine(std::string& error) {
  if (!file_.isOpen()) {
    error = "the journal '" + path_ + "' is not open";
    return false;
  }
  if (cannotReserve_) return true;
  // Appending by write() since a window found no room: try to reserve again.
  if (!appender_.isStarted() && !appender_.start(file_, file_.position()) &&
      !appender_.outOfSpace()) {
    cannotReserve_ = true;
    return true;
  }
  if (appender_.isStarted() && appender_.reserve(kLineRoom + kIncompleteRoom)) return true;
  error = appender_.outOfSpace()
              ? "no space is left for the journal '" + path_ + "': the disk or the quota is full"
              : "no room could be reserved in the journal '" + path_ + "'";
  return false;
}

bool JournalWriter::close(std::string& error) {
  if (!file_.isOpen()) return true;
  if (!appender_.finish()) {
    error = "ftruncate(" + path_ + ") failed";
    file_.close();
    lock_ = DatabaseLock();
    return false;
  }
  const bool synced = file_.sync();
  file_.close();
  lock_ = DatabaseLock();
  if (!synced) error = "fdatasync(" + path_ + ") failed";
  return synced;
}

}  // namespace sweeprun

namespace sweeprun {

bool JournalRun::isUndone(uint64_t number) const {
  for (uint64_t done : undone) {
    if (done == number) return true;
  }
  return false;
}

std::vector<JournalRun> journalRuns(const std::vector<JournalRecord>& records) {
  std::vector<JournalRun> runs;
  std::map<std::string, size_t> indexOf;
  for (const JournalRecord& record : records) {
    auto [found, added] = indexOf.emplace(record.run, runs.size());
    if (added) {
      runs.emplace_back();
      runs.back().id = record.run;
      runs.back().started = record.started;
    }
    JournalRun& run = runs[found->second];
    if (record.kind == JournalRecord::Kind::kUndo) {
      run.undone.push_back(record.number);
    } else if (record.kind == JournalRecord::Kind::kIncomplete) {
      if (run.mode.empty()) run.mode = record.mode;
      run.incomplete = true;
      run.unrecorded += record.unrecorded;
    } else if (record.kind == JournalRecord::Kind::kMissing) {
      if (run.mode.empty()) run.mode = record.mode;
      run.missingFolders.push_back(record.folder);
    } else {
      if (run.mode.empty()) run.mode = record.mode;
      run.entries.push_back(record);
    }
  }
  return runs;
}

}  // namespace sweeprun
