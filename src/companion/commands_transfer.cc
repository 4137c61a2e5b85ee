// import and export: the folder list to and from the configuration file.
#include <algorithm>
#include <ostream>
#include <sstream>

#include "companion/companion_app.h"
#include "companion/config_reading.h"
#include "companion/config_export.h"
#include "companion/config_import.h"
#include "companion/folder_options.h"
#include "companion/folder_report.h"
#include "companion/watch_checks.h"
#include "fs/entry_attributes.h"
#include "fs/file_io.h"
#include "os/localization.h"
#include "os/process.h"
#include "settings/config_warnings.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

namespace {

constexpr unsigned kPrivateFileMode = 0600;

}  // namespace

bool readConfiguration(TrashConfigFileParser& parser, const std::string& path, std::string& error,
                       std::string* warnings) {
  Process& context = process();
  const bool checkMode = context.checkMode;
  std::ostream* out = context.out;
  std::ostringstream captured;
  context.checkMode = true;
  context.out = &captured;
  const bool ok = parser.parse(path);
  context.checkMode = checkMode;
  context.out = out;
  if (ok) {
    if (warnings) *warnings = captured.str();
    return true;
  }
  error = parser.fault();
  if (error.empty()) error = localizedString("the file is not a valid configuration file");
  if (!parser.faultPlace().empty()) error += "\n" + parser.faultPlace();
  return false;
}

std::vector<std::string> placeNotes(const std::string& file) {
  constexpr unsigned kGroupOrOtherReadWrite = 066;
  std::vector<std::string> notes;
  const std::string& installed = process().configPath;
  if (file != installed)
    notes.push_back(localized("system mode reads only %@: install the file there", {installed}));
  const std::optional<EntryAttributes> attributes = attributesOfItemAtPath(file);
  if (!attributes) return notes;
  if (attributes->owner != 0)
    notes.push_back(localized("root must own %@ before it is installed", {installed}));
  if (attributes->mode & kGroupOrOtherReadWrite)
    notes.push_back(localized("%@ must not be accessible for other users (mode 600)", {installed}));
  return notes;
}

int runCheckConfig(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {}, 1, 1, parsed, status)) return status;
  const std::string file = userPath(parsed.operands[0]);
  TrashConfigFileParser parser(process());
  std::string error, warnings;
  if (!readConfiguration(parser, file, error, &warnings))
    return failure(command, localized("%@: %@", {file, error}));
  companionOut() << warnings;
  for (const std::string& warning : configurationWarnings(parser))
    companionOut() << localized("Warning: %@\n", {warning});
  for (const std::string& note : placeNotes(file))
    companionOut() << localized("Note: %@\n", {note});
  companionOut() << localized("%@: OK\n", {file});
  return kCompanionSuccess;
}

int runImport(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {}, 1, 1, parsed, status)) return status;
  const std::string file = userPath(parsed.operands[0]);

  TrashConfigFileParser parser(process());
  std::string error;
  if (!readConfiguration(parser, file, error)) {
    return failure(command, localized("cannot import '%@': %@", {file, error}));
  }
  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, false)) return kCompanionFailure;

  // A folder that runs would not check is not imported; one stored
  // already stays as it is (list marks it).
  const std::vector<std::string> storedPaths = folderPaths(database.folders());
  std::vector<std::string> refusedBefore;
  const auto refusalsBefore = watchRefusals(storedPaths);
  for (size_t i = 0; i < storedPaths.size(); ++i) {
    if (refusalsBefore[i]) refusedBefore.push_back(storedPaths[i]);
  }
  ImportOutcome outcome = importConfiguredFolders(parser, database.folders());
  const std::vector<std::string> paths = folderPaths(database.folders());
  const auto refusals = watchRefusals(paths);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (refusals[i] &&
        std::find(refusedBefore.begin(), refusedBefore.end(), paths[i]) == refusedBefore.end()) {
      return failure(command, localized("cannot import '%@': it would watch '%@', but %@; nothing "
                                        "was imported",
                                        {file, paths[i], refusals[i]->text()}));
    }
  }
  for (const std::string& message : outcome.warnings) warning(command, message);
  if (parser.globalIgnoreList()) {
    warning(command, localizedString("FilesToIgnore applies to system mode only; it was not "
                                     "imported"));
  }
  if (outcome.updated + outcome.added == 0) {
    companionOut() << localizedString("No folder was imported.\n");
    return kCompanionSuccess;
  }
  if (!saveDatabase(command, database)) return kCompanionFailure;
  companionOut() << localized(
      "Imported '%@': %@ updated (their history kept), %@ added.\n",
      {file, countText(outcome.updated, "folder", "folders"), std::to_string(outcome.added)});
  return kCompanionSuccess;
}

int runExport(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {{"output", true}, {"data-file", true}}, 0, 0,
                             parsed, status)) {
    return status;
  }
  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabase(command, database, true)) return kCompanionFailure;
  if (database.folders().empty()) {
    // A configuration file must name at least one folder.
    return failure(command, localizedString("no folders are watched, so there is nothing to "
                                            "export"));
  }
  const std::optional<std::string> dataFile = parsed.last("data-file");
  std::vector<std::string> warnings;
  const std::string text = exportConfiguration(
      database.folders(), dataFile ? userPath(*dataFile) : database.path(), warnings);
  for (const std::string& message : warnings) warning(command, message);

  if (std::optional<std::string> output = parsed.last("output")) {
    std::string error;
    const std::string path = userPath(*output);
    if (!writeFileAtomically(path, text, error, kPrivateFileMode)) {
      return failure(command, localized("cannot write '%@': %@", {path, error}));
    }
    companionOut() << localized("Wrote %@ to '%@'.\n",
                                {countText(database.folders().size(), "folder", "folders"), path});
    return kCompanionSuccess;
  }
  companionOut() << text;
  return kCompanionSuccess;
}

}  // namespace sweeprun
