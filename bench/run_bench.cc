// Whole user-mode runs (TrashCollector::run in process, with a scratch home
// folder and its folder database) over one watched folder of N empty files:
//   run 1: every entry new;
//   run 2: every entry unchanged;
//   run 3: a tenth of the entries condemned by a name rule and trashed.
// Each run is split into the database load, the database save and the
// folder check (the rest), and the check is set against the floor measured
// here on the same folder: a readdir + fstatat loop, and
// find DIR -maxdepth 1 -printf '%i %s %T@\n'. Targets: the check of the
// unchanged run within 1.5x the floor, linear growth.
//
//   run_bench [--no-log] [--keep] [--repeat=R] [--dir=PARENT] N...
//
// The unchanged run is repeated R times (default 3) and the floor is the
// best of R rounds, since other work on the machine only ever adds time.
//
// Run one size per process for a meaningful peak resident size. Each run is
// bracketed by a failing access("/run_bench-phase/<name>"), so that a trace
// (strace -f -o FILE run_bench 10000) shows which system calls a run makes
// per entry.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/trash_collector.h"
#include "fs/mapped_file.h"
#include "log/trash_log.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/process.h"
#include "scratch_home.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

struct Options {
  bool runLog = true;
  bool keep = false;
  int repeat = 3;
  std::string parent = fs::temp_directory_path().string();
  std::vector<size_t> sizes;
};

double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void markPhase(const std::string& name) { access(("/run_bench-phase/" + name).c_str(), F_OK); }

double peakResidentMB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Every tenth entry ends in ".tmp": the rule of run 3 condemns those.
std::string entryName(size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "file-%08zu.%s", i, i % 10 == 0 ? "tmp" : "dat");
  return name;
}

bool createEntries(const std::string& folder, size_t count) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  bool ok = true;
  for (size_t i = 0; i < count && ok; ++i) {
    const int fd = openat(dir, entryName(i).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ok = fd >= 0;
    if (ok) close(fd);
  }
  close(dir);
  return ok;
}

// The floor: list the folder once and read each entry's attributes once.
size_t listAndStat(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  size_t seen = 0;
  struct stat st;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' &&
        (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0)))
      continue;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++seen;
  }
  closedir(dir);
  return seen;
}

TrashRule nameEndsWith(const char* suffix) {
  TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
  rule.setValue("part", Value::integer(3));
  rule.setValue("name", Value::text(suffix));
  return rule;
}

class Bench {
 public:
  Bench(const Options& options, size_t size)
      : options_(options), size_(size), scratch_(options.parent, "run_bench") {
    scratch_.keep = options.keep;
  }

  int measure() {
    std::printf("== %zu entries in %s, run log %s\n", size_, scratch_.inbox.c_str(),
                options_.runLog ? "on" : "off");
    bool created = false;
    const double made = secondsOf([&] { created = createEntries(scratch_.inbox, size_); });
    if (!created) {
      std::perror("creating the entries");
      return 1;
    }
    std::printf("set-up: %.1f s to create the entries\n", made);
    writeDatabase(".none");
    measureFloor();
    std::printf("%-10s %10s %10s %10s %10s %12s %12s %10s\n", "run", "total s", "load s", "save s",
                "check s", "check us/e", "x floor", "peak MB");
    runOnce("new");
    for (int i = 0; i < options_.repeat; ++i) runOnce("unchanged");
    measureCheckAlone();
    writeDatabase(".tmp");
    runOnce("tenth out");
    const size_t trashed = countEntries(*scratch_.context.userTrashPath);
    std::printf("trashed: %zu entries (expected %zu)\n", trashed, (size_ + 9) / 10);
    return trashed == (size_ + 9) / 10 ? 0 : 1;
  }

 private:
  // A fresh database holding the one folder, or the stored one with its rule
  // replaced.
  void writeDatabase(const char* condemnedSuffix) {
    TrashApplication application;
    if (fs::exists(scratch_.database))
      application.unarchiveWithFile(scratch_.database, process(), nullptr);
    if (application.countOfTrashFolderList() == 0) {
      TrashFolder folder = TrashFolder::folderWithPath();
      folder.setPath(scratch_.inbox, process());
      application.setTrashFolderList(FolderList{folder});
    }
    application.objectInTrashFolderListAtIndex(0).setRules({nameEndsWith(condemnedSuffix)});
    std::string error;
    if (!application.archiveToFile(scratch_.database, error)) {
      std::fprintf(stderr, "cannot write %s: %s\n", scratch_.database.c_str(), error.c_str());
      std::exit(1);
    }
  }

  void measureFloor() {
    listAndStat(scratch_.inbox);  // warm the caches as the runs find them
    double loop = 1e9;
    double find = 1e9;
    for (int i = 0; i < options_.repeat; ++i) {
      loop = std::min(loop, secondsOf([&] { listAndStat(scratch_.inbox); }));
      const std::string command =
          "find '" + scratch_.inbox + "' -maxdepth 1 -printf '%i %s %T@\\n' > /dev/null";
      find = std::min(find, secondsOf([&] { std::system(command.c_str()); }));
    }
    floor_ = loop;
    std::printf("floor: readdir+fstatat %.3f s (%.3f us/entry), find %.3f s (%.3f us/entry)\n",
                loop, loop * 1e6 / size_, find, find * 1e6 / size_);
  }

  void runOnce(const char* label) {
    // The load and save are timed on their own around the run, on the same
    // file and list the run reads and writes.
    const double load = secondsOf([&] {
      TrashApplication scratch;
      RunOptions options;
      options.application = &scratch;
      TrashCollector reader(scratch_.context, std::move(options));
      reader.readDB();
    });
    TrashLog log(scratch_.context);
    if (options_.runLog) {
      log.open(scratch_.root + "/run.log");
      scratch_.context.runLog = &log;
    }
    TrashApplication application;
    RunOptions options;
    options.application = &application;
    TrashCollector collector(scratch_.context, std::move(options));
    markPhase(std::string(label) + "/begin");
    const double total = secondsOf([&] { collector.run(); });
    markPhase(std::string(label) + "/end");
    scratch_.context.runLog = nullptr;
    log.close();
    const double save = secondsOf([&] { collector.saveDB(); });
    const double check = total - load - save;
    std::printf("%-10s %10.3f %10.3f %10.3f %10.3f %12.3f %12.2f %10.1f\n", label, total, load,
                save, check, check * 1e6 / size_, check / floor_, peakResidentMB());
    std::fflush(stdout);
  }

  // The check of the unchanged folder by itself, on the list as the database
  // holds it, best of the repeats; the database is neither read nor written
  // inside the timing.
  void measureCheckAlone() {
    double best = 1e9;
    for (int i = 0; i < options_.repeat; ++i) {
      TrashApplication application;
      RunOptions options;
      options.application = &application;
      TrashCollector collector(scratch_.context, std::move(options));
      collector.readDB();
      TrashLog log(scratch_.context);
      if (options_.runLog) {
        log.open(scratch_.root + "/run.log");
        scratch_.context.runLog = &log;
      }
      best = std::min(best, secondsOf([&] {
                        collector.checkFolder(application.objectInTrashFolderListAtIndex(0));
                      }));
      scratch_.context.runLog = nullptr;
    }
    std::printf("check alone, unchanged, best of %d: %.3f s, %.3f us/entry, %.2f x floor\n",
                options_.repeat, best, best * 1e6 / size_, best / floor_);
  }

  static size_t countEntries(const std::string& folder) {
    std::error_code ec;
    size_t count = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
    return count;
  }

  const Options& options_;
  size_t size_;
  ScratchHome scratch_;
  double floor_ = 1;
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
    } else if (argument == "--keep") {
      options.keep = true;
    } else if (argument.rfind("--repeat=", 0) == 0) {
      options.repeat = std::max(1, std::atoi(argument.c_str() + 9));
    } else if (argument.rfind("--dir=", 0) == 0) {
      options.parent = argument.substr(6);
    } else {
      options.sizes.push_back(std::strtoull(argument.c_str(), nullptr, 10));
    }
  }
  if (options.sizes.empty()) options.sizes = {10000, 100000};
  int status = 0;
  for (size_t size : options.sizes) {
    sweeprun::Bench bench(options, size);
    status |= bench.measure();
  }
  return status;
}
