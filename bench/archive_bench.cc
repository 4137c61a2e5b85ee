// Load and save of the folder database at 10,000 to 1,000,000 tracked
// entries, with the real records. Targets: under 5 microseconds per entry
// for save and load together, under 400 bytes of peak memory per entry at
// 1,000,000. Run one size per process for a meaningful peak:
//
//   archive_bench --benchmark_filter='ApplicationFileRoundTrip/1000000$'
//
// ApplicationFileRoundTrip and DatabaseFile* take the path of a run: the
// archive streamed into a temporary file (with fsync) and renamed over the
// database, then read back from the file mapped into memory.
// DatabaseSaveLoad, DatabaseSave and DatabaseLoad time the codec alone on an
// archive held in memory, whose whole image then counts in the peak.
//
// "archive_bench --write-sample=PATH N" writes a database of N entries to
// PATH and exits (for timing other readers on the same file).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "archive/keyed_archive.h"
#include "fs/mapped_file.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_item.h"
#include "os/process.h"

namespace sweeprun {
namespace {

constexpr int kFolders = 4;

double peakResidentBytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

// |entries| tracked entries spread over a few folders, shaped as a folder
// check makes them: a ~60-character path, file number, size, three dates
// (check-in dates shared by entries found in the same run) and hits.
FolderList makeFolders(size_t entries) {
  FolderList folders;
  uint64_t seed = 88172645463325252ull;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  for (int f = 0; f < kFolders; ++f) {
    TrashFolder folder = TrashFolder::folderWithPath();
    const std::string path = "/Users/someone/Downloads/folder-" + std::to_string(f);
    folder.setValue("path", Value::text(path));
    // No alias record here; a temporary folder is not reported for that.
    folder.setValue("temp", Value::boolean(true));
    auto items = std::make_shared<ItemList>();
    const size_t count = entries / kFolders + (static_cast<size_t>(f) < entries % kFolders);
    items->reserve(count);
    for (size_t i = 0; i < count; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/project-%02zu/file-%09zu.download", i % 97, i);
      Dictionary data;
      data.reserve(7);
      data.set("path", Value::text(path + name));
      data.set("fnum", Value::unsignedInteger(next() >> 20));
      data.set("size", Value::unsignedInteger(next() % 50000000));
      const double created = 6.5e8 + static_cast<double>(next() % 100000000);
      data.set("cdat", Value::date(Date{created}));
      data.set("mdat", Value::date(Date{created + static_cast<double>(next() % 1000)}));
      data.set("idat", Value::date(Date{7.6e8 + 86400.0 * static_cast<double>(i % 30)}));
      data.set("hits", Value::unsignedInteger(next() % 40));
      items->push_back(TrashItem::withDictionary(data));
    }
    folder.setItems(std::move(items));
    folders.push_back(std::move(folder));
  }
  return folders;
}

std::string save(const FolderList& folders) {
  return archiveRootObjectArray(
      folders.size(), [&folders](size_t i) -> const ArchivableObject& { return folders[i]; });
}

FolderList load(std::string_view bytes) {
  FolderList folders;
  unarchiveRootObjectArray(bytes, "TrashFolder", [&folders](KeyedDecoder& coder) {
    folders.push_back(TrashFolder::fromCoder(coder, process()));
  });
  return folders;
}

bool saveToFile(const FolderList& folders, const std::string& path) {
  std::string error;
  return archiveRootObjectArrayToFile(
      path, folders.size(), [&folders](size_t i) -> const ArchivableObject& { return folders[i]; },
      error);
}

FolderList loadFromFile(const std::string& path) {
  FolderList folders;
  std::string error;
  unarchiveRootObjectArrayFromFile(
      path, "TrashFolder",
      [&folders](KeyedDecoder& coder) {
        folders.push_back(TrashFolder::fromCoder(coder, process()));
      },
      error);
  return folders;
}

// Records resolve their alias records against the home folder; keep that
// inside a scratch directory.
struct BenchContext {
  BenchContext() {
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    home = std::filesystem::temp_directory_path() / ("archive_bench." + std::to_string(tick));
    std::filesystem::create_directories(home);
    context.homeDirectory = home.string();
    scope = std::make_unique<ScopedProcess>(context);
  }
  ~BenchContext() {
    scope.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  std::filesystem::path home;
  Process context;
  std::unique_ptr<ScopedProcess> scope;
};

size_t countEntries(const FolderList& folders) {
  size_t count = 0;
  for (const TrashFolder& folder : folders) count += folder.items() ? folder.items()->size() : 0;
  return count;
}

void reportPerEntry(benchmark::State& state, size_t entries, size_t fileBytes) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * entries));
  state.counters["file_B_per_entry"] = static_cast<double>(fileBytes) / entries;
  state.counters["peak_rss_B_per_entry"] = peakResidentBytes() / entries;
  state.counters["peak_rss_MB"] = peakResidentBytes() / 1e6;
}

void DatabaseSaveLoad(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  FolderList folders = makeFolders(entries);
  size_t fileBytes = 0;
  for (auto _ : state) {
    std::string bytes = save(folders);
    fileBytes = bytes.size();
    folders.clear();  // the run holds one copy of the list, as a real run does
    folders = load(bytes);
    benchmark::DoNotOptimize(folders.data());
  }
  if (countEntries(folders) != entries) state.SkipWithError("entries lost on the round trip");
  reportPerEntry(state, entries, fileBytes);
}

void DatabaseSave(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  const FolderList folders = makeFolders(entries);
  size_t fileBytes = 0;
  for (auto _ : state) {
    const std::string bytes = save(folders);
    fileBytes = bytes.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  reportPerEntry(state, entries, fileBytes);
}

void DatabaseLoad(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  const std::string bytes = save(makeFolders(entries));
  for (auto _ : state) {
    FolderList folders = load(bytes);
    benchmark::DoNotOptimize(folders.data());
    if (countEntries(folders) != entries) state.SkipWithError("entries lost on the way");
  }
  reportPerEntry(state, entries, bytes.size());
}

void DatabaseFileSave(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  const std::string path = (context.home / "Sweeply.data").string();
  const FolderList folders = makeFolders(entries);
  for (auto _ : state)
    if (!saveToFile(folders, path)) state.SkipWithError("the save failed");
  reportPerEntry(state, entries, std::filesystem::file_size(path));
}

void DatabaseFileLoad(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  const std::string path = (context.home / "Sweeply.data").string();
  // The records that made the file are gone before the measured loads.
  if (!saveToFile(makeFolders(entries), path)) state.SkipWithError("the save failed");
  for (auto _ : state) {
    FolderList folders = loadFromFile(path);
    benchmark::DoNotOptimize(folders.data());
    if (countEntries(folders) != entries) state.SkipWithError("entries lost on the way");
  }
  reportPerEntry(state, entries, std::filesystem::file_size(path));
}

// The whole path of a run: the application writes the file atomically (with
// fsync) and a fresh application reads it back.
void ApplicationFileRoundTrip(benchmark::State& state) {
  BenchContext context;
  const size_t entries = static_cast<size_t>(state.range(0));
  const std::string path = (context.home / "Sweeply.data").string();
  std::optional<TrashApplication> application(std::in_place);
  application->setTrashFolderList(makeFolders(entries));
  std::string error;
  for (auto _ : state) {
    if (!application->archiveToFile(path, error)) state.SkipWithError(error.c_str());
    application.emplace();
    application->unarchiveWithFile(path, process(), nullptr);
    benchmark::DoNotOptimize(application->countOfTrashFolderList());
  }
  const FolderList* loaded = application->trashFolderList();
  if (!loaded || countEntries(*loaded) != entries) state.SkipWithError("entries lost on the way");
  reportPerEntry(state, entries, std::filesystem::file_size(path));
}

#define SIZES ->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(DatabaseSaveLoad) SIZES;
BENCHMARK(DatabaseSave) SIZES;
BENCHMARK(DatabaseLoad) SIZES;
BENCHMARK(DatabaseFileSave) SIZES;
BENCHMARK(DatabaseFileLoad) SIZES;
BENCHMARK(ApplicationFileRoundTrip) SIZES;

int writeSample(const char* path, size_t entries) {
  BenchContext context;
  const std::string bytes = save(makeFolders(entries));
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}

}  // namespace
}  // namespace sweeprun

int main(int argc, char** argv) {
  sweeprun::installMappedFileGuard();
  if (argc == 3 && std::strncmp(argv[1], "--write-sample=", 15) == 0)
    return sweeprun::writeSample(argv[1] + 15, std::strtoull(argv[2], nullptr, 10));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
