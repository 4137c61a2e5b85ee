#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "companion/companion_app.h"
#include "companion/folder_database.h"
#include "os/process.h"
#include "support/test_process.h"

namespace sweeprun {

/// A throw-away home folder and user-mode process context for the companion
/// command: a fixed clock, the user Trash inside the home folder, standard
/// output and error captured.
class CompanionTest : public ::testing::Test {
 protected:
  /// 2026-12-07 12:00:00 UTC.
  static constexpr double kNowUnixSeconds = 1796644800;

  CompanionTest() {
    now_ = Date::fromUnix(kNowUnixSeconds);
    context_.homeDirectory = temp_.file("home");
    context_.userTrashPath = temp_.file("home/.local/share/Trash/files");
    std::filesystem::create_directories(context_.homeDirectory);
  }

  /// Runs "sweeply" with |arguments|; out() and err() then hold what it
  /// printed (only this call's output).
  int sweeply(std::vector<std::string> arguments) {
    test_.clearOutput();
    arguments.insert(arguments.begin(), "sweeply");
    return runCompanion(arguments);
  }
  std::string out() const { return test_.out(); }
  std::string err() const { return test_.err(); }

  /// A new folder below the temporary folder; returns its path.
  std::string folder(const std::string& relative) const {
    std::filesystem::create_directories(temp_.file(relative));
    return temp_.file(relative);
  }
  std::string databasePath() const { return FolderDatabase::userDatabasePath(); }
  /// The folder list as it is on disk now.
  FolderList storedFolders() const {
    FolderDatabase database(databasePath());
    std::string error;
    EXPECT_EQ(FolderDatabase::LoadStatus::kLoaded, database.load(error)) << error;
    return database.folders();
  }

  TestProcess test_;
  const TempDir& temp_ = test_.dir();
  Process& context_ = test_.context;
  Date& now_ = test_.now;
};

}  // namespace sweeprun
