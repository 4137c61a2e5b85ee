#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/trash_log.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/date.h"
#include "os/process.h"
#include "support/temp_dir.h"

namespace sweeprun {

/// A test of the collection engine on the real disk: a fresh temporary
/// folder holding the home folder ("home"), the user Trash below it, a users
/// folder ("Users") and anything the test makes; a user-mode process context
/// with a clock the test sets; and an open run log whose lines the test reads
/// back.
class EngineTest : public ::testing::Test {
 public:
  /// 2026-12-07 12:00:00 UTC.
  static constexpr double kStartUnixSeconds = 1796644800;

  EngineTest();
  ~EngineTest() override;

  /// |relative| below the temporary folder.
  std::string at(std::string_view relative) const { return temp_.file(relative); }
  const std::string& home() const { return context_.homeDirectory; }
  /// The user Trash "files" folder and its "info" folder beside it.
  std::string trashFiles() const { return *context_.userTrashPath; }
  std::string trashInfo() const;

  Date now() const { return now_; }
  void advanceClock(double seconds) { now_.seconds += seconds; }

  /// The run log lines written since the previous call.
  std::vector<std::string> newLogLines();
  /// The entry lines among |lines| (those naming one entry: "+ ", "  ", "= ",
  /// "- ", "> "), sorted, since the listing order is the file system's.
  static std::vector<std::string> entryLines(const std::vector<std::string>& lines);
  static bool contains(const std::vector<std::string>& lines, std::string_view line);

  /// A folder record watching |path| (which must exist) with |rules| and
  /// |action| ("play").
  TrashFolder watching(const std::string& path, std::vector<TrashRule> rules,
                       int64_t action = TrashFolder::kDeleteAction) const;
  /// A rule that condemns every name ending in |suffix|.
  static TrashRule nameEndsWith(std::string_view suffix);

  /// The record of the tracked entry named |name|; none when not tracked.
  static std::optional<TrashItem> tracked(const TrashFolder& folder, std::string_view name);

  Process context_;

 private:
  TempDir temp_;
  Date now_;
  TrashLog log_{context_};
  std::string logPath_;
  size_t logRead_ = 0;
  std::optional<ScopedProcess> scope_;
};

}  // namespace sweeprun
