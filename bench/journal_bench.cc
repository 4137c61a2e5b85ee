// The cost of the run journal per removed entry: whole user-mode runs
// (TrashCollector::run in process, scratch home folder) that trash every one
// of N fresh files, with and without the journal keeper, in alternating
// rounds. The difference per entry is set against the cost of trashing one
// (the run without a journal, per entry). Target: under 5%.
//
//   journal_bench [--rounds=R] [--dir=PARENT] [N]     (N defaults to 2000)
//
// Also times the journal's own work alone: N records formatted and written
// to a journal, and the sync at the end, without any entry moved.
//
// On 2026-12-07 (2 shared cores, bench/journal_cost.sh): on tmpfs a trash
// took 187 us per entry, a journalled run 3.0% more, the journal alone
// 4.9 us (2.6%); on ext4 a trash took 1265 us, a journalled run -0.6%
// (noise), the journal alone 8.5 us (0.7%). Later the same day, with a
// trash ten times cheaper and the journal appended through a mapped window
// (`journal_bench --rounds=9 --dir=/dev/shm 20000`): a trash 16.3 to 16.7
// us, a journalled run 1.1 to 1.35 us (7 to 8%) more, the journal alone
// 0.68 us (4.2%).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/journal_keeper.h"
#include "engine/trash_collector.h"
#include "log/run_journal.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/process.h"
#include "scratch_home.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

class JournalBench {
 public:
  JournalBench(const std::string& parent, size_t size)
      : scratch_(parent, "journal_bench"), size_(size) {
    writeDatabase();
  }

  /// Seconds of one run that trashes all N entries.
  double run(bool journalled) {
    prepare();
    TrashApplication application;
    std::optional<JournalKeeper> journal;
    RunOptions options;
    options.application = &application;
    if (journalled) {
      journal.emplace(scratch_.context, journalPath(scratch_.context, false), 7);
      options.observers = {&*journal};
    }
    TrashCollector collector(scratch_.context, std::move(options));
    const double seconds = secondsOf([&] { collector.run(); });
    if (collector.failures() != 0 || (journal && journal->failed())) {
      std::fprintf(stderr, "the run failed\n");
      std::exit(1);
    }
    return seconds;
  }

  /// Seconds to append N records and sync, with no entry moved.
  double appendsAlone() {
    fs::remove(journalPath(scratch_.context, false));
    JournalWriter writer;
    std::string error;
    JournalRecord record;
    record.run = "20261207T120000Z-1";
    record.mode = "user";
    record.folder = scratch_.inbox;
    record.action = "trash";
    record.type = "file";
    record.size = 0;
    record.device = 2049;
    record.inode = 1234567;
    // The paths are made before the clock starts: they are the run's, not
    // the journal's work.
    std::vector<std::string> originals, destinations, infos;
    for (size_t i = 0; i < size_; ++i) {
      originals.push_back(scratch_.inbox + "/file-" + std::to_string(i) + ".dat");
      destinations.push_back(*scratch_.context.userTrashPath + "/file-" + std::to_string(i) +
                             ".dat");
      infos.push_back(scratch_.home + "/.local/share/Trash/info/file-" + std::to_string(i) +
                      ".dat.trashinfo");
    }
    return secondsOf([&] {
      writer.open(journalPath(scratch_.context, false), Date::now(), 7, std::chrono::seconds(1), error);
      for (size_t i = 0; i < size_; ++i) {
        record.number = i + 1;
        record.original = originals[i];
        record.destination = destinations[i];
        record.trashInfo = infos[i];
        writer.append(record, error);
      }
      writer.close(error);
    });
  }

 private:
  void writeDatabase() {
    TrashApplication application;
    TrashFolder folder = TrashFolder::folderWithPath();
    folder.setPath(scratch_.inbox, scratch_.context);
    TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
    rule.setValue("part", Value::integer(3));
    rule.setValue("name", Value::text(".dat"));
    folder.setRules({rule});
    application.setTrashFolderList(FolderList{folder});
    std::string error;
    if (!application.archiveToFile(scratch_.database, error)) std::exit(1);
  }

  // N fresh files in the inbox, an empty Trash and no journal: every round
  // finds the same state.
  void prepare() {
    std::error_code ignored;
    fs::remove_all(scratch_.home + "/.local", ignored);
    fs::remove(journalPath(scratch_.context, false), ignored);
    const int dir = open(scratch_.inbox.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t i = 0; i < size_; ++i) {
      const std::string name = "file-" + std::to_string(i) + ".dat";
      const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    }
    close(dir);
    sync();
  }

  ScratchHome scratch_;
  size_t size_;
};

}  // namespace
}  // namespace sweeprun

int main(int argc, char** argv) {
  size_t size = 2000;
  int rounds = 7;
  std::string parent = std::filesystem::temp_directory_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--rounds=", 0) == 0) {
      rounds = std::max(1, std::atoi(argument.c_str() + 9));
    } else if (argument.rfind("--dir=", 0) == 0) {
      parent = argument.substr(6);
    } else {
      size = std::strtoull(argument.c_str(), nullptr, 10);
    }
  }
  sweeprun::JournalBench bench(parent, size);
  bench.run(true);  // warm-up
  std::vector<double> plain, journalled, alone;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first, so that neither always meets a warmer cache.
    if (round % 2 == 0) {
      plain.push_back(bench.run(false));
      journalled.push_back(bench.run(true));
    } else {
      journalled.push_back(bench.run(true));
      plain.push_back(bench.run(false));
    }
    alone.push_back(bench.appendsAlone());
  }
  const double perEntry = sweeprun::median(plain) * 1e6 / static_cast<double>(size);
  const double withJournal = sweeprun::median(journalled) * 1e6 / static_cast<double>(size);
  const double appends = sweeprun::median(alone) * 1e6 / static_cast<double>(size);
  std::printf("%zu entries trashed per run, median of %d rounds\n", size, rounds);
  std::printf("run without journal: %8.2f us per entry\n", perEntry);
  std::printf("run with journal:    %8.2f us per entry (%+.2f us, %+.1f%%)\n", withJournal,
              withJournal - perEntry, (withJournal - perEntry) * 100 / perEntry);
  std::printf("journal alone:       %8.2f us per record (%.1f%% of a trash)\n", appends,
              appends * 100 / perEntry);
  return 0;
}
