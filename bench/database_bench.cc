// The folder database by itself: memory and CPU of loading and saving a
// database of one watched folder with N tracked entries.
//
//   database_bench write N DIR    writes DIR/db.plist (the folder DIR/Inbox)
//   database_bench measure DIR R  loads and saves it R times, then prints the
//                                 peak resident memory the first load added
//                                 per entry, and the median CPU time per
//                                 entry of a load, a save and both
//
// The measurement runs in its own process, so its baseline is the process
// before the first load; run one size per process. Bench it pinned to one
// core (taskset -c 1) and alternate builds for a comparison.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fs/mapped_file.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_item.h"
#include "os/process.h"

namespace sweeprun {
namespace {

double cpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The peak resident size so far, in bytes (VmHWM).
double peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) * 1024.0;
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int write(size_t count, const std::string& dir) {
  const std::string inbox = dir + "/Inbox";
  std::system(("mkdir -p '" + inbox + "'").c_str());
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setPath(inbox, process());
  auto items = std::make_shared<ItemList>();
  items->reserve(count);
  for (size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/file-%08zu.%s", i, i % 10 == 0 ? "tmp" : "dat");
    EntryAttributes attributes;
    attributes.fileNumber = 1000000 + i;
    attributes.size = i % 4096;
    attributes.creationDate = Date{800000000.0 + static_cast<double>(i)};
    attributes.modificationDate = Date{800000000.5 + static_cast<double>(i)};
    TrashItem item = TrashItem::withAttributes(inbox + name, &attributes, Date{810000000});
    for (size_t hit = 0; hit < i % 5; ++hit) item.incrHits();
    items->push_back(std::move(item));
  }
  folder.setItems(std::move(items));
  TrashApplication application;
  application.setTrashFolderList(FolderList{folder});
  std::string error;
  if (!application.archiveToFile(dir + "/db.plist", error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}

int measure(const std::string& dir, int rounds) {
  const std::string database = dir + "/db.plist";
  const double baseline = peakResidentBytes();
  std::vector<double> loads, saves, both;
  double perEntry = 0;
  size_t count = 0;
  for (int round = 0; round < rounds; ++round) {
    TrashApplication application;
    const double start = cpuSeconds();
    application.unarchiveWithFile(database, process(), nullptr);
    const double loaded = cpuSeconds();
    if (application.countOfTrashFolderList() != 1) {
      std::fprintf(stderr, "cannot read %s\n", database.c_str());
      return 1;
    }
    count = application.objectInTrashFolderListAtIndex(0).items()->size();
    if (round == 0) perEntry = (peakResidentBytes() - baseline) / static_cast<double>(count);
    std::string error;
    const double saving = cpuSeconds();
    if (!application.archiveToFile(dir + "/db.out.plist", error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    const double saved = cpuSeconds();
    loads.push_back(loaded - start);
    saves.push_back(saved - saving);
    both.push_back(loaded - start + saved - saving);
  }
  const double n = static_cast<double>(count);
  std::printf(
      "entries %zu  load peak +%.0f B/entry  load %.3f us/entry  save %.3f us/entry  "
      "load+save %.3f us/entry (CPU, median of %d)\n",
      count, perEntry, median(loads) * 1e6 / n, median(saves) * 1e6 / n, median(both) * 1e6 / n,
      rounds);
  return 0;
}

}  // namespace
}  // namespace sweeprun

int main(int argc, char** argv) {
  using namespace sweeprun;
  if (argc < 4) {
    std::fprintf(stderr, "usage: database_bench write N DIR | measure DIR ROUNDS\n");
    return 2;
  }
  installMappedFileGuard();
  Process context;
  context.homeDirectory = "/";
  ScopedProcess scope(context);
  const std::string mode = argv[1];
  if (mode == "write") return write(std::strtoull(argv[2], nullptr, 10), argv[3]);
  if (mode == "measure") return measure(argv[2], std::max(1, std::atoi(argv[3])));
  return 2;
}
