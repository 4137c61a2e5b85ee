// The commands over the run journal: history and undo.
#include <algorithm>
#include <map>
#include <ostream>

#include "companion/companion_app.h"
#include "companion/folder_database.h"
#include "companion/json_text.h"
#include "engine/rule_evaluation.h"
#include "engine/run_undo.h"
#include "fs/entry_attributes.h"
#include "fs/file_io.h"
#include "log/run_journal.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/process_info.h"

namespace sweeprun {

namespace {

// How long an undo waits for a run that keeps the journal.
constexpr std::chrono::seconds kJournalWait{30};
constexpr size_t kDefaultHistoryLimit = 10;

const std::vector<OptionDefinition> kHistoryOptions = {
    {"json", false}, {"limit", true}, {"system", false}};
const std::vector<OptionDefinition> kUndoOptions = {
    {"json", false}, {"dry-run", false}, {"system", false}, {"disable", false}};

// The journal of the mode the command names; false after reporting when
// system mode is asked for by anyone but root, or the journal is unreadable.
bool loadRuns(const CompanionCommand& command, const ParsedArguments& parsed, std::string& path,
              std::vector<JournalRun>& runs) {
  const bool system = parsed.has("system");
  if (system && effectiveUserId() != 0) {
    failure(command, localizedString("--system needs root"));
    return false;
  }
  path = journalPath(process(), system);
  std::vector<JournalRecord> records;
  std::string error;
  if (!readJournal(path, records, error)) {
    failure(command, localized("cannot read the journal '%@': %@", {path, error}));
    return false;
  }
  runs = journalRuns(records);
  return true;
}

// The run named |typed|: its whole identifier or a prefix that only it has.
const JournalRun* findRun(const CompanionCommand& command, const std::vector<JournalRun>& runs,
                          const std::string& typed) {
  const JournalRun* found = nullptr;
  for (const JournalRun& run : runs) {
    if (run.id == typed) return &run;
    if (run.id.compare(0, typed.size(), typed) != 0) continue;
    if (found) {
      failure(command, localized("'%@' names more than one run (see 'sweeply history')", {typed}));
      return nullptr;
    }
    found = &run;
  }
  if (!found)
    failure(command, localized("no run '%@' in the journal (see 'sweeply history')", {typed}));
  return found;
}

size_t undoneCount(const JournalRun& run) {
  size_t count = 0;
  for (const JournalRecord& entry : run.entries) count += run.isUndone(entry.number) ? 1 : 0;
  return count;
}

// Per watched folder, in the order first met: how many entries each action took.
using FolderCounts = std::vector<std::pair<std::string, std::map<std::string, uint64_t>>>;
FolderCounts countsOf(const JournalRun& run) {
  FolderCounts folders;
  for (const JournalRecord& entry : run.entries) {
    auto folder = std::find_if(folders.begin(), folders.end(),
                               [&](const auto& counted) { return counted.first == entry.folder; });
    if (folder == folders.end()) folder = folders.insert(folders.end(), {entry.folder, {}});
    ++folder->second[entry.action];
  }
  return folders;
}

std::string countsText(const std::map<std::string, uint64_t>& counts) {
  std::string text;
  for (const auto& [action, label] : std::vector<std::pair<std::string, std::string>>{
           {"trash", "trashed"}, {"move", "moved"}, {"delete", "deleted"}}) {
    const auto found = counts.find(action);
    if (found == counts.end()) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(found->second) + " " + label;
  }
  return text;
}

Value optionalText(const std::string& text) { return text.empty() ? Value() : Value::text(text); }

template <typename T>
Value optionalNumber(const std::optional<T>& number) {
  return number ? Value::unsignedInteger(*number) : Value();
}

Value entryValue(const JournalRun& run, const JournalRecord& entry) {
  Dictionary value;
  value.set("entry", Value::unsignedInteger(entry.number));
  value.set("action", Value::text(entry.action));
  setFileText(value, "folder", entry.folder);
  setFileText(value, "original", entry.original);
  if (entry.destination.empty()) {
    value.set("destination", Value());
  } else {
    setFileText(value, "destination", entry.destination);
  }
  value.set("trashInfo", optionalText(entry.trashInfo));
  value.set("type", optionalText(entry.type));
  value.set("reason", optionalText(entry.reason));
  value.set("size", optionalNumber(entry.size));
  value.set("device", optionalNumber(entry.device));
  value.set("inode", optionalNumber(entry.inode));
  value.set("modified", entry.modified ? Value::date(*entry.modified) : Value());
  value.set("putBack", Value::boolean(run.isUndone(entry.number)));
  return Value::dictionary(std::move(value));
}

Value runSummary(const JournalRun& run) {
  Array folders;
  for (const auto& [path, counts] : countsOf(run)) {
    Dictionary folder;
    setFileText(folder, "path", path);
    for (const char* action : {"trash", "move", "delete"}) {
      const auto found = counts.find(action);
      folder.set(action, Value::unsignedInteger(found == counts.end() ? 0 : found->second));
    }
    folders.push_back(Value::dictionary(std::move(folder)));
  }
  Dictionary summary;
  summary.set("run", Value::text(run.id));
  summary.set("started", Value::date(run.started));
  summary.set("mode", Value::text(run.mode));
  summary.set("entries", Value::unsignedInteger(run.entries.size()));
  summary.set("putBack", Value::unsignedInteger(undoneCount(run)));
  summary.set("incomplete", Value::boolean(run.incomplete));
  summary.set("unrecorded", Value::unsignedInteger(run.unrecorded));
  summary.set("folders", Value::array(std::move(folders)));
  Array missing;
  for (const std::string& folder : run.missingFolders) missing.push_back(Value::text(folder));
  summary.set("missingFolders", Value::array(std::move(missing)));
  return Value::dictionary(std::move(summary));
}

// Empty for a run whose journal is whole; else the line that says it is
// not, for the text output.
std::string incompleteNote(const JournalRun& run) {
  if (!run.incomplete) return {};
  std::string note = localizedString(
      "journal incomplete: the run stopped removing when its journal could take no more");
  if (run.unrecorded > 0) {
    note += localized(", and %@ entry it removed is not in it (see the run log)",
                      {std::to_string(run.unrecorded)});
  }
  return note;
}

std::string undoneNote(const JournalRun& run) {
  const size_t undone = undoneCount(run);
  if (undone == 0) return {};
  return undone == run.entries.size() ? localizedString("  (put back)")
                                      : localized("  (%@ put back)", {std::to_string(undone)});
}

void printRunEntries(const JournalRun& run) {
  companionOut() << localized("run %@, started %@, %@ mode\n",
                              {run.id, standardDateText(run.started), run.mode});
  if (run.incomplete) companionOut() << "  " << incompleteNote(run) << "\n";
  for (const JournalRecord& entry : run.entries) {
    std::string action = entry.action;
    action.resize(7, ' ');
    companionOut() << "  " << action << terminalText(entry.original);
    if (!entry.destination.empty()) companionOut() << " -> " << terminalText(entry.destination);
    if (entry.reason == "budget") companionOut() << localizedString("  (for the budget)");
    if (run.isUndone(entry.number)) companionOut() << localizedString("  (put back)");
    companionOut() << "\n";
  }
}

int printHistory(const CompanionCommand& command, const ParsedArguments& parsed,
                 const std::string& path, const std::vector<JournalRun>& runs) {
  size_t limit = kDefaultHistoryLimit;
  if (const auto typed = parsed.last("limit")) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(typed->c_str(), &end, 10);
    if (typed->empty() || *end != '\0' || value == 0)
      return usageError(command, localized("--limit takes a number above 0, not '%@'", {*typed}));
    limit = static_cast<size_t>(value);
  }
  const size_t shown = std::min(limit, runs.size());
  if (parsed.has("json")) {
    Array list;
    for (size_t i = 0; i < shown; ++i) list.push_back(runSummary(runs[runs.size() - 1 - i]));
    companionOut() << jsonText(Value::dictionary(
        {{"journal", Value::text(path)}, {"runs", Value::array(std::move(list))}}));
    return kCompanionSuccess;
  }
  if (runs.empty()) {
    companionOut() << localized("No run has removed anything yet (journal: %@).\n", {path});
    return kCompanionSuccess;
  }
  for (size_t i = 0; i < shown; ++i) {
    const JournalRun& run = runs[runs.size() - 1 - i];
    companionOut() << standardDateText(run.started) << "  " << run.id << "  " << run.mode
                   << undoneNote(run) << "\n";
    if (run.incomplete) companionOut() << "  " << incompleteNote(run) << "\n";
    for (const auto& [folder, counts] : countsOf(run))
      companionOut() << "  " << terminalText(folder) << ": " << countsText(counts) << "\n";
    for (const std::string& folder : run.missingFolders)
      companionOut() << "  " << terminalText(folder) << ": " << localizedString("not found")
                     << "\n";
  }
  return kCompanionSuccess;
}

const char* outcomeName(UndoStep::Outcome outcome) {
  switch (outcome) {
    case UndoStep::kPutBack:
      return "put back";
    case UndoStep::kWouldPutBack:
      return "would put back";
    case UndoStep::kAlreadyPutBack:
      return "already put back";
    case UndoStep::kNotUndoable:
      return "not undoable (deleted)";
    case UndoStep::kChanged:
      return "changed since";
    case UndoStep::kTaken:
      return "original path taken";
    case UndoStep::kFailed:
      return "failed";
    case UndoStep::kRefused:
      return "refused";
  }
  return "failed";
}

const char* outcomeKey(UndoStep::Outcome outcome) {
  switch (outcome) {
    case UndoStep::kPutBack:
      return "putBack";
    case UndoStep::kWouldPutBack:
      return "wouldPutBack";
    case UndoStep::kAlreadyPutBack:
      return "alreadyPutBack";
    case UndoStep::kNotUndoable:
      return "notUndoable";
    case UndoStep::kChanged:
      return "changed";
    case UndoStep::kTaken:
      return "taken";
    case UndoStep::kFailed:
      return "failed";
    case UndoStep::kRefused:
      return "refused";
  }
  return "failed";
}

// What tells the reader that an older line's entry was told by its inode
// number alone, which another entry may have been handed since.
constexpr const char* kInodeOnlyNote =
    "recorded by an older version: told by device and inode only";

}  // namespace

int runHistory(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, kHistoryOptions, 1, 0, parsed, status))
    return status;
  if (!parsed.has("system") && !useUserStores(command)) return kCompanionFailure;
  std::string path;
  std::vector<JournalRun> runs;
  if (!loadRuns(command, parsed, path, runs)) return kCompanionFailure;
  if (parsed.operands.empty()) return printHistory(command, parsed, path, runs);
  const JournalRun* run = findRun(command, runs, parsed.operands[0]);
  if (!run) return kCompanionFailure;
  if (parsed.has("json")) {
    Value summary = runSummary(*run);
    Array entries;
    for (const JournalRecord& entry : run->entries) entries.push_back(entryValue(*run, entry));
    Dictionary whole = *summary.dictionaryPtr();
    whole.set("entries", Value::array(std::move(entries)));
    companionOut() << jsonText(Value::dictionary(std::move(whole)));
    return kCompanionSuccess;
  }
  printRunEntries(*run);
  return kCompanionSuccess;
}

// A watched folder whose rules condemn entries that an undo put back.
struct TakenAgain {
  std::string folder;
  size_t entries = 0;
};

// The enabled folders of |database| whose rules would take entries of
// |report| (put back, or in a dry run to be put back) again at their next
// check. An entry comes back as a new one, so a rule by name or size (or an
// age of 0) condemns it at once; the test is the one a run makes.
std::vector<TakenAgain> foldersTakingAgain(const UndoReport& report, FolderDatabase& database,
                                           bool dryRun) {
  std::vector<TakenAgain> taking;
  const Date now = process().clock();
  for (const UndoStep& step : report.steps) {
    if (step.outcome != (dryRun ? UndoStep::kWouldPutBack : UndoStep::kPutBack)) continue;
    TrashFolder* folder = database.find(step.record->folder);
    if (!folder || !folder->value(folder_key::kEnabled).asBool()) continue;
    // In a dry run the entry is still where the run put it.
    const std::optional<EntryAttributes> attributes =
        attributesOfItemAtPath(dryRun ? step.record->destination : step.record->original);
    if (!attributes) continue;
    prepareWithLog(*folder, false, now);
    const TrashItem item = TrashItem::withAttributes(step.record->original, &*attributes, now);
    if (!PreparedRules(*folder).violatedBy(item)) continue;
    auto known = std::find_if(taking.begin(), taking.end(),
                              [&](const TakenAgain& t) { return t.folder == step.record->folder; });
    if (known == taking.end()) known = taking.insert(taking.end(), {step.record->folder, 0});
    ++known->entries;
  }
  return taking;
}

// After an undo: names the folders that would take entries again and, with
// --disable (not in a dry run), disables them. False when the database could
// not be changed.
bool settleTakenAgain(const CompanionCommand& command, const ParsedArguments& parsed,
                      const UndoReport& report, std::vector<TakenAgain>& taking,
                      std::vector<std::string>& disabled) {
  const bool dryRun = parsed.has("dry-run");
  FolderDatabase database(FolderDatabase::userDatabasePath());
  std::string error;
  if (!parsed.has("disable") || dryRun) {
    if (database.load(error) != FolderDatabase::LoadStatus::kLoaded) return true;
    taking = foldersTakingAgain(report, database, dryRun);
    return true;
  }
  if (!loadDatabaseForChange(command, database, true)) return false;
  taking = foldersTakingAgain(report, database, dryRun);
  for (const TakenAgain& t : taking) {
    database.find(t.folder)->setValue(folder_key::kEnabled, Value::boolean(false));
    disabled.push_back(t.folder);
  }
  return disabled.empty() || saveDatabase(command, database);
}

int runUndo(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, kUndoOptions, 1, 0, parsed, status)) return status;
  if (!parsed.has("system") && !useUserStores(command)) return kCompanionFailure;
  if (parsed.has("system") && parsed.has("disable")) {
    return usageError(command, localizedString("'--disable' disables folders of your own database; "
                                               "for system mode, edit the configuration file"));
  }
  const bool dryRun = parsed.has("dry-run");
  // The journal is kept (locked) from the read to the last record written,
  // so that no run appends in between and no two undos act at once.
  JournalWriter journal;
  std::string error;
  if (!dryRun && (!parsed.has("system") || effectiveUserId() == 0)) {
    const std::string path = journalPath(process(), parsed.has("system"));
    // Without a journal there is nothing to undo, and none is made.
    if (!entryExists(path, error)) {
      return failure(command, error.empty() ? localized("no journal at '%@' yet: no run has "
                                                        "removed anything",
                                                        {path})
                                            : error);
    }
    if (!journal.open(path, process().clock(), 0, kJournalWait, error))
      return failure(command, localized("cannot open the journal '%@': %@", {path, error}));
  }
  std::string path;
  std::vector<JournalRun> runs;
  if (!loadRuns(command, parsed, path, runs)) return kCompanionFailure;
  if (runs.empty()) return failure(command, localized("the journal '%@' holds no run", {path}));
  const JournalRun* run =
      parsed.operands.empty() ? &runs.back() : findRun(command, runs, parsed.operands[0]);
  if (!run) return kCompanionFailure;

  UndoOptions options;
  options.systemMode = parsed.has("system");
  options.dryRun = dryRun;
  options.user = effectiveUserId();
  options.usersFolder = process().usersFolder;
  options.clock = process().clock;
  options.treeTimeLimit = process().entryTreeTimeLimit;
  const UndoReport report = undoRun(*run, options, dryRun ? nullptr : &journal);
  if (!journal.close(error) && report.journalError.empty())
    warning(command, localized("the journal '%@' was not synced: %@", {path, error}));
  std::map<UndoStep::Outcome, size_t> counts;
  for (const UndoStep& step : report.steps) ++counts[step.outcome];
  std::vector<TakenAgain> takenAgain;
  std::vector<std::string> disabled;
  const bool settled =
      options.systemMode || settleTakenAgain(command, parsed, report, takenAgain, disabled);

  if (parsed.has("json")) {
    Array steps;
    for (const UndoStep& step : report.steps) {
      Dictionary entry;
      entry.set("entry", Value::unsignedInteger(step.record->number));
      entry.set("action", Value::text(step.record->action));
      setFileText(entry, "original", step.record->original);
      entry.set("destination", optionalText(step.record->destination));
      entry.set("outcome", Value::text(outcomeKey(step.outcome)));
      entry.set("detail", optionalText(step.detail));
      if (step.toldByInodeOnly) entry.set("note", Value::text(kInodeOnlyNote));
      steps.push_back(Value::dictionary(std::move(entry)));
    }
    Array folders;
    for (const std::string& folder : report.removedFolders) folders.push_back(Value::text(folder));
    Array foreign;
    for (const std::string& folder : report.foreignFolders) foreign.push_back(Value::text(folder));
    Array again;
    for (const TakenAgain& t : takenAgain) {
      again.push_back(Value::dictionary(
          {{"folder", Value::text(t.folder)}, {"entries", Value::unsignedInteger(t.entries)}}));
    }
    Array disabledFolders;
    for (const std::string& folder : disabled) disabledFolders.push_back(Value::text(folder));
    companionOut() << jsonText(
        Value::dictionary({{"run", Value::text(run->id)},
                           {"dryRun", Value::boolean(dryRun)},
                           {"incomplete", Value::boolean(run->incomplete)},
                           {"unrecorded", Value::unsignedInteger(run->unrecorded)},
                           {"entries", Value::array(std::move(steps))},
                           {"removedFolders", Value::array(std::move(folders))},
                           {"foreignFolders", Value::array(std::move(foreign))},
                           {"takenAgainBy", Value::array(std::move(again))},
                           {"disabled", Value::array(std::move(disabledFolders))}}));
  } else {
    for (const UndoStep& step : report.steps) {
      companionOut() << outcomeName(step.outcome) << ": " << terminalText(step.record->original);
      if (!step.record->destination.empty() && step.outcome != UndoStep::kPutBack)
        companionOut() << localized(" (at %@)", {terminalText(step.record->destination)});
      if (!step.detail.empty()) companionOut() << ": " << terminalText(step.detail);
      if (step.toldByInodeOnly) companionOut() << " (" << localizedString(kInodeOnlyNote) << ")";
      companionOut() << "\n";
    }
    for (const std::string& folder : report.removedFolders)
      companionOut() << localized("removed the emptied folder %@\n", {terminalText(folder)});
    for (const std::string& folder : report.foreignFolders)
      companionOut() << localized("left the folder %@: not the one the run made\n",
                                  {terminalText(folder)});
    const size_t left = counts[UndoStep::kChanged] + counts[UndoStep::kTaken] +
                        counts[UndoStep::kFailed] + counts[UndoStep::kRefused];
    companionOut() << localized(
        dryRun ? "run %@: %@ would be put back, %@ already put back, %@ deleted (not "
                 "undoable), %@ left where they are\n"
               : "run %@: %@ put back, %@ already put back, %@ deleted (not undoable), %@ "
                 "left where they are\n",
        {run->id, std::to_string(counts[dryRun ? UndoStep::kWouldPutBack : UndoStep::kPutBack]),
         std::to_string(counts[UndoStep::kAlreadyPutBack]),
         std::to_string(counts[UndoStep::kNotUndoable]), std::to_string(left)});
    for (const TakenAgain& t : takenAgain) {
      const bool off = std::find(disabled.begin(), disabled.end(), t.folder) != disabled.end();
      companionOut() << localized(
          off ? "disabled %@: its rules would take %@ of them again at its next check\n"
              : "%@ would take %@ of them again at its next check: its rules condemn them (undo "
                "with --disable, or 'sweeply disable FOLDER', keeps them)\n",
          {terminalText(t.folder), std::to_string(t.entries)});
    }
  }
  if (!settled) return kCompanionFailure;
  // The run removed nothing after its journal's end but, where one was
  // foreseen, |unrecorded| entries that no undo can find.
  if (run->incomplete) warning(command, localized("run %@: %@", {run->id, incompleteNote(*run)}));
  if (!report.journalError.empty()) {
    failure(command, localized("the undo could not be recorded in the journal '%@': %@",
                               {path, report.journalError}));
    return kCompanionFailure;
  }
  return report.anyLeft() || run->unrecorded > 0 ? kCompanionFailure : kCompanionSuccess;
}

}  // namespace sweeprun
