// The commands that only read the folder list: list and show.
#include <ostream>

#include "companion/companion_app.h"
#include "companion/folder_options.h"
#include "companion/folder_report.h"
#include "companion/json_text.h"
#include "companion/watch_checks.h"
#include "os/localization.h"
#include "os/process.h"

namespace sweeprun {

namespace {

const std::vector<OptionDefinition> kReportOptions = {{"json", false}};

}  // namespace

int runList(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, kReportOptions, 0, 0, parsed, status)) {
    return status;
  }
  FolderDatabase database(FolderDatabase::userDatabasePath());
  // The summaries show no tracked entry: none is decoded.
  if (!loadDatabase(command, database, false, [](std::string_view) { return false; })) {
    return kCompanionFailure;
  }
  const Date now = process().clock();
  const auto refusals = watchRefusals(folderPaths(database.folders()));
  const auto summary = [&](size_t index) {
    const std::optional<WatchRefusal>& refusal = refusals[index];
    return folderSummary(database.folders()[index], now, false,
                         refusal ? refusal->reason : std::string());
  };
  if (parsed.has("json")) {
    Array folders;
    for (size_t i = 0; i < refusals.size(); ++i) folders.push_back(summary(i));
    companionOut() << jsonText(Value::dictionary({{"database", Value::text(database.path())},
                                                  {"folders", Value::array(std::move(folders))}}));
    return kCompanionSuccess;
  }
  if (database.folders().empty()) {
    companionOut() << localizedString("No folders are watched. Add one with 'sweeply add PATH'.\n");
    return kCompanionSuccess;
  }
  for (size_t i = 0; i < refusals.size(); ++i) {
    if (i > 0) companionOut() << "\n";
    companionOut() << folderSummaryText(summary(i), now);
  }
  return kCompanionSuccess;
}

int runShow(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, kReportOptions, 1, 1, parsed, status)) {
    return status;
  }
  FolderDatabase database(FolderDatabase::userDatabasePath());
  // Only the entries of the folder shown are decoded (findFolder accepts the
  // path in standard form or as typed).
  const std::string& typed = parsed.operands[0];
  const std::string standard = userPath(typed);
  const auto named = [&](std::string_view path) { return path == standard || path == typed; };
  if (!loadDatabase(command, database, true, named)) return kCompanionFailure;
  const TrashFolder* folder = findFolder(command, database, parsed.operands[0]);
  if (!folder) return kCompanionFailure;
  const Date now = process().clock();
  const size_t index = static_cast<size_t>(folder - database.folders().data());
  const std::optional<WatchRefusal> refusal = watchRefusals(folderPaths(database.folders()))[index];
  const Value summary =
      folderSummary(*folder, now, true, refusal ? refusal->detail() : std::string());
  companionOut() << (parsed.has("json") ? jsonText(summary) : folderSummaryText(summary, now));
  return kCompanionSuccess;
}

}  // namespace sweeprun
