// The cost of a size budget: the check of one watched folder of N files
// (lengths 1 to 4096 bytes, sparse, so that making them is cheap), all of
// them tracked and unchanged, with and without a budget. The budget is set
// to the folder's size, so nothing is taken and both checks leave the
// folder as it was: what the budget adds is sizing the entries, holding
// their decisions and sorting them oldest first.
//
//   budget_bench [--no-log] [--rounds=R] [--dir=PARENT] N...
//
// The two checks alternate for R rounds (default 7), each on the list as
// the database holds it, which is read outside the timing; the report gives
// the median of each and their ratio. Medians of alternated rounds keep
// other work on the machine from favouring one side.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/trash_collector.h"
#include "fs/mapped_file.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/process.h"
#include "scratch_home.h"

namespace sweeprun {
namespace {

struct Options {
  bool runLog = true;
  int rounds = 7;
  std::string parent = "/tmp";
  std::vector<size_t> sizes;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Creates the files; answers their total length, or 0 on failure.
uint64_t createEntries(const std::string& folder, size_t count) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file-%08zu.dat", i);
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const off_t length = static_cast<off_t>(i % 4096 + 1);
    if (fd < 0 || ftruncate(fd, length) != 0) {
      if (fd >= 0) close(fd);
      close(dir);
      return 0;
    }
    close(fd);
    total += static_cast<uint64_t>(length);
  }
  close(dir);
  return total;
}

class Bench {
 public:
  Bench(const Options& options, size_t size)
      : options_(options), size_(size), scratch_(options.parent, "budget_bench") {}

  int measure() {
    const uint64_t total = createEntries(scratch_.inbox, size_);
    if (total == 0) {
      std::perror("creating the entries");
      return 1;
    }
    writeDatabase();
    checkOnce(std::nullopt);  // every entry taken in, and saved: later checks find them unchanged
    std::vector<double> plain, budgeted;
    for (int round = 0; round < options_.rounds; ++round) {
      plain.push_back(checkOnce(std::nullopt, false));
      budgeted.push_back(checkOnce(total, false));
    }
    const double without = median(plain), with = median(budgeted);
    std::printf(
        "%zu entries, %d alternated rounds, run log %s: without a budget %.3f s "
        "(%.3f us/entry), with one %.3f s (%.3f us/entry): %.2fx\n",
        size_, options_.rounds, options_.runLog ? "on" : "off", without, without * 1e6 / size_,
        with, with * 1e6 / size_, with / without);
    return 0;
  }

 private:
  void writeDatabase() {
    TrashFolder folder = TrashFolder::folderWithPath();
    folder.setPath(scratch_.inbox, process());
    TrashRule rule = TrashRule::trashRuleWithType(kNameRule);  // condemns nothing here
    rule.setValue("part", Value::integer(3));
    rule.setValue("name", Value::text(".none"));
    folder.setRules({rule});
    TrashApplication application;
    application.setTrashFolderList(FolderList{folder});
    std::string error;
    if (!application.archiveToFile(scratch_.database, error)) {
      std::fprintf(stderr, "cannot write %s: %s\n", scratch_.database.c_str(), error.c_str());
      std::exit(1);
    }
  }

  // One check of the folder as stored, with |budget| if given; saved only
  // when |save|. Answers the seconds the check took.
  double checkOnce(std::optional<uint64_t> budget, bool save = true) {
    TrashApplication application;
    RunOptions options;
    options.application = &application;
    TrashCollector collector(scratch_.context, std::move(options));
    collector.readDB();
    TrashFolder& folder = application.objectInTrashFolderListAtIndex(0);
    if (budget) folder.setValue(folder_key::kBudget, Value::unsignedInteger(*budget));
    TrashLog log(scratch_.context);
    if (options_.runLog) {
      log.open(scratch_.root + "/run.log");
      scratch_.context.runLog = &log;
    }
    const auto start = std::chrono::steady_clock::now();
    collector.checkFolder(folder);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    scratch_.context.runLog = nullptr;
    log.close();
    if (save) collector.saveDB();
    return seconds;
  }

  const Options& options_;
  size_t size_;
  ScratchHome scratch_;
};

}  // namespace
}  // namespace sweeprun

int main(int argc, char** argv) {
  sweeprun::installMappedFileGuard();
  sweeprun::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--no-log") {
      options.runLog = false;
    } else if (argument.rfind("--rounds=", 0) == 0) {
      options.rounds = std::max(1, std::atoi(argument.c_str() + 9));
    } else if (argument.rfind("--dir=", 0) == 0) {
      options.parent = argument.substr(6);
    } else {
      options.sizes.push_back(std::strtoull(argument.c_str(), nullptr, 10));
    }
  }
  if (options.sizes.empty()) options.sizes = {100000};
  int status = 0;
  for (size_t size : options.sizes) {
    sweeprun::Bench bench(options, size);
    status |= bench.measure();
  }
  return status;
}
