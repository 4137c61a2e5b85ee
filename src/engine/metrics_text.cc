#include "engine/metrics_text.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <set>

#include "engine/loggable_text.h"

namespace sweeprun {

namespace {

// A number as the format reads it: a whole number without a point, any
// other in the shortest fixed form that reads back the same.
std::string numberText(double value) {
  char buffer[400];  // room for the fixed form of any double
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

class MetricsWriter {
 public:
  /// Starts the family |name| with its help text; a gauge, as every
  /// family here is: each tells a state after the last run, not a count
  /// that only grows.
  void family(std::string_view name, std::string_view help) {
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(" gauge\n");
  }
  void sample(std::string_view name, double value) {
    text_.append(name).append(" ").append(numberText(value)).append("\n");
  }
  void folderSample(std::string_view name, const std::string& path, double value) {
    text_.append(name).append("{folder=").append(metricsLabelValue(loggableText(path)));
    text_.append("} ").append(numberText(value)).append("\n");
  }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

struct FolderFamily {
  const char* name;
  const char* help;
  double (*value)(const FolderTally&);
};

const FolderFamily kFolderFamilies[] = {
    {"sweeprun_folder_enabled", "Whether the watched folder is enabled (1) or not (0).",
     [](const FolderTally& f) { return f.enabled ? 1.0 : 0.0; }},
    {"sweeprun_folder_last_run_checked",
     "Whether the last run checked the folder (1) or its schedule passed it over (0).",
     [](const FolderTally& f) { return f.checked ? 1.0 : 0.0; }},
    {"sweeprun_folder_missing",
     "Whether the last run found no folder at the path (1): then it was not checked; a user-mode "
     "folder stays 1 while it is turned off for that.",
     [](const FolderTally& f) { return f.missing ? 1.0 : 0.0; }},
    {"sweeprun_folder_last_run_entries_seen", "Entries the last run looked at in the folder.",
     [](const FolderTally& f) { return static_cast<double>(f.seen); }},
    {"sweeprun_folder_last_run_entries_taken_in",
     "New entries the last run began to track in the folder.",
     [](const FolderTally& f) { return static_cast<double>(f.takenIn); }},
    {"sweeprun_folder_last_run_entries_removed",
     "Entries the last run trashed, deleted or moved from the folder.",
     [](const FolderTally& f) { return static_cast<double>(f.removed); }},
    {"sweeprun_folder_last_run_entries_failed",
     "Condemned entries of the folder that the last run failed to remove.",
     [](const FolderTally& f) { return static_cast<double>(f.failed); }},
    {"sweeprun_folder_tracked_entries", "Entries the folder tracks after the last run.",
     [](const FolderTally& f) { return static_cast<double>(f.tracked); }},
    {"sweeprun_folder_last_check_timestamp_seconds",
     "When the folder was last checked, in Unix seconds; 0 when never.",
     [](const FolderTally& f) { return f.lastCheck ? f.lastCheck->unix() : 0.0; }},
};

}  // namespace

std::string metricsLabelValue(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\') {
      quoted.append("\\\\");
    } else if (c == '"') {
      quoted.append("\\\"");
    } else if (c == '\n') {
      quoted.append("\\n");
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('"');
  return quoted;
}

std::string metricsText(const RunTally& tally, int exitStatus) {
  MetricsWriter out;
  for (const FolderFamily& family : kFolderFamilies) {
    if (tally.folders().empty()) break;  // a family without samples is left out
    out.family(family.name, family.help);
    // A path listed twice would give two samples of one series: the first
    // folder with that path speaks for it.
    std::set<std::string> shown;
    for (const FolderTally& folder : tally.folders()) {
      if (!shown.insert(loggableText(folder.path)).second) continue;
      out.folderSample(family.name, folder.path, family.value(folder));
    }
  }
  // Only the folders with a size budget have these.
  const struct {
    const char* name;
    const char* help;
    std::optional<uint64_t> FolderTally::*value;
  } kBudgetFamilies[] = {
      {"sweeprun_folder_budget_bytes", "The size budget of the watched folder, in bytes.",
       &FolderTally::budget},
      {"sweeprun_folder_size_bytes",
       "What the entries of a watched folder with a budget added up to at its last check.",
       &FolderTally::size},
  };
  for (const auto& family : kBudgetFamilies) {
    std::set<std::string> shown;
    bool named = false;
    for (const FolderTally& folder : tally.folders()) {
      const std::optional<uint64_t>& value = folder.*family.value;
      if (!folder.budget || !value || !shown.insert(loggableText(folder.path)).second) continue;
      if (!named) out.family(family.name, family.help);
      named = true;
      out.folderSample(family.name, folder.path, static_cast<double>(*value));
    }
  }
  out.family("sweeprun_last_run_start_timestamp_seconds",
             "When the last run started, in Unix seconds.");
  out.sample("sweeprun_last_run_start_timestamp_seconds", tally.start().unix());
  out.family("sweeprun_last_run_duration_seconds", "How long the last run took.");
  out.sample("sweeprun_last_run_duration_seconds", tally.durationSeconds());
  out.family("sweeprun_last_run_exit_status",
             "The exit status of the last run: 0 done, 1 no watched folder or a damaged "
             "database, 74 an entry or the database could not be written.");
  out.sample("sweeprun_last_run_exit_status", exitStatus);
  return out.take();
}

}  // namespace sweeprun
