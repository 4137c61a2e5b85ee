#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "os/process.h"

namespace sweeprun {

/// A throw-away home folder for a bench that runs the tool in its own
/// process: PARENT/PREFIX.XXXXXX/home with an Inbox and the database's
/// folder, installed as the process context while the object lives, and
/// removed with everything in it when it goes (unless |keep|).
class ScratchHome {
 public:
  ScratchHome(const std::string& parent, const std::string& prefix) {
    std::string pattern = parent + "/" + prefix + ".XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    root = pattern;
    home = root + "/home";
    inbox = home + "/Inbox";
    database = home + "/Library/Application Support/Sweeply/Sweeply.data";
    std::filesystem::create_directories(inbox);
    std::filesystem::create_directories(std::filesystem::path(database).parent_path());
    context.homeDirectory = home;
    context.userTrashPath = home + "/.local/share/Trash/files";
    scope_.emplace(context);
  }
  ~ScratchHome() {
    scope_.reset();
    if (keep) return;
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  ScratchHome(const ScratchHome&) = delete;
  ScratchHome& operator=(const ScratchHome&) = delete;

  std::string root, home, inbox, database;
  Process context;
  bool keep = false;  // leave the folder behind, to look at

 private:
  std::optional<ScopedProcess> scope_;
};

}  // namespace sweeprun
