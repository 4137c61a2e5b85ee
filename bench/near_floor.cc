// How near a whole run of the built tool comes to the least its work takes.
// Runs the real `sweeprun` (user mode, a scratch home) and the floor programs
// of floor.cc as separate processes, the tool and its floor alternated in one
// loop, every process pinned to one core, and prints medians and ratios:
//
//   first run and unchanged run      / readdir + fstatat of the folder
//                                      (and, for comparison, / every name
//                                      read first, then fstatat: as a run)
//   peak memory per tracked entry    above a run over an empty folder
//   database load + save, CPU        per entry, in this process
//   trash, move-to, delete           / their system calls per removed entry
//   delete                           / find -delete, systemd-tmpfiles --clean
//                                      (age 0), on the same fresh folder
//   unchanged run, 240 MB run log    / the same run with an empty log
//   `sweeply list`                   / an unchanged run
//   system calls per removed entry   (strace -c, once, with --syscalls)
//
//   near_floor [--sizes=10000,100000] [--rounds=5] [--cpu=1] [--cores=1]
//              [--dir=PARENT] [--bin=DIR] [--log-mb=240] [--removal-max=100000]
//              [--syscalls]
//
// --cores=1,2 measures everything twice: pinned to CPU --cpu, then free to
// use the first two CPUs (what a second core gives a run). The table of the
// README comes from --sizes=10000,100000,1000000 --cores=1,2 --syscalls.
// --bin names the folder holding sweeprun and sweeply (default: the folder
// above this program's, the build tree). Removals and the run-log case run
// at sizes up to --removal-max only (each round re-creates the folder);
// 1000000 is possible (--sizes=1000000) but slow and memory-hungry: not for
// a shared machine or CI.

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fs/mapped_file.h"
#include "model/trash_application.h"
#include "os/date.h"
#include "os/process.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

struct Options {
  std::vector<size_t> sizes = {10000, 100000};
  int rounds = 5;
  int cpu = 1;
  std::vector<size_t> cores = {1};  // one pass per entry: on one core, on two, ...
  // A memory file system by default: the figures are of the program, not of
  // a disk that other work on the machine shares.
  std::string parent =
      fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
  std::string bin;
  std::string floor;
  size_t logMegabytes = 240;
  size_t removalMax = 100000;
  bool syscalls = false;
};

// A peer of the delete run (skipped where it is not installed).
constexpr const char* kTmpfiles = "/usr/bin/systemd-tmpfiles";

/// What one child process cost.
struct Cost {
  double seconds = 0;     // wall
  double cpuSeconds = 0;  // user + system
  double peakKB = 0;      // maximum resident set
  int status = 0;
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double tv(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

/// Runs |argv| with |env| added to this process's environment, its output
/// thrown away (or into |outputPath|), and returns what it cost.
Cost runChild(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& outputPath = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  Cost cost;
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.cpuSeconds = tv(usage.ru_utime) + tv(usage.ru_stime);
  cost.peakKB = static_cast<double>(usage.ru_maxrss);
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return cost;
}

void die(const std::string& what) {
  std::fprintf(stderr, "near_floor: %s\n", what.c_str());
  std::exit(1);
}

std::string entryName(size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "file-%08zu.dat", i);
  return name;
}

void createEntries(const std::string& folder, size_t count) {
  fs::create_directories(folder);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) die("cannot open " + folder);
  for (size_t i = 0; i < count; ++i) {
    const int fd = openat(dir, entryName(i).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) die("cannot create entries in " + folder);
    close(fd);
  }
  close(dir);
}

double cpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

/// A run log of |megabytes| whose sections, hourly, all began within the
/// last |days| days: trimming has nothing to cut.
void writeRunLog(const std::string& path, size_t megabytes, int days) {
  std::ofstream out(path, std::ios::trunc | std::ios::binary);
  const int sections = days * 24 - 1;
  const size_t perSection = megabytes * 1000000 / static_cast<size_t>(sections);
  const Date now = Date::now();
  for (int s = sections; s >= 1; --s) {
    out << "Sweeply started at " << standardDateText(Date{now.seconds - 3600.0 * s}) << ".\n";
    size_t written = 0;
    for (size_t line = 0; written < perSection; ++line) {
      char text[96];
      const int n = std::snprintf(
          text, sizeof text, "Kept \"~/Inbox/file-%08zu.dat\": 3 checks, 12 KB, young\n", line);
      out.write(text, n);
      written += static_cast<size_t>(n);
    }
    out << "Checked ~/Inbox: nothing removed.\n\n";
  }
}

class SizeBench {
 public:
  SizeBench(const Options& options, size_t size, std::string placement)
      : o_(options), n_(size), placement_(std::move(placement)) {
    std::string pattern = o_.parent + "/near_floor.XXXXXX";
    if (!mkdtemp(pattern.data())) die("mkdtemp");
    root_ = pattern;
    home_ = root_ + "/home";
    inbox_ = root_ + "/Inbox";
    database_ = home_ + "/Library/Application Support/Sweeply/Sweeply.data";
    env_ = {{"HOME", home_}, {"XDG_DATA_HOME", ""}, {"LC_ALL", "C"}};
    fs::create_directories(home_);
  }
  ~SizeBench() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void measure() {
    std::printf("\n== %zu entries (%s), medians of %d rounds, %s\n", n_, root_.c_str(),
                o_.rounds, placement_.c_str());
    createEntries(inbox_, n_);
    floorList();  // warm the caches as the runs find them
    runsAgainstListing();
    memoryPerEntry();
    inChildProcess([this] { loadAndSave(); });
    if (n_ <= o_.removalMax) {
      logCase();
      listCase();
      removals();
    }
    std::fflush(stdout);
  }

  double unchangedPerEntry() const { return unchangedSeconds_ / static_cast<double>(n_); }

 private:
  std::string tool() const { return o_.bin + "/sweeprun"; }
  std::string sweeply() const { return o_.bin + "/sweeply"; }

  void sweeplyAdd(const std::string& folder, const std::vector<std::string>& extra) {
    std::error_code ignored;
    fs::remove(database_, ignored);
    std::vector<std::string> argv = {sweeply(), "add", folder};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (runChild(argv, env_).status != 0) die("sweeply add failed");
  }

  Cost runTool(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {tool()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const Cost cost = runChild(argv, env_);
    if (cost.status != 0) die("sweeprun exited with " + std::to_string(cost.status));
    return cost;
  }

  Cost floorList() {
    const Cost cost = runChild({o_.floor, "list", inbox_}, env_);
    if (cost.status != 0) die("floor list failed");
    return cost;
  }

  void line(const char* what, double tool, double floor) {
    std::printf("  %-34s %10.4f s  against %9.4f s  %6.2fx  %8.3f us/entry\n", what, tool, floor,
                tool / floor, tool * 1e6 / static_cast<double>(n_));
  }

  void runsAgainstListing() {
    std::vector<double> first, unchanged, floorFirst, floorUnchanged, floorListFirst, peak;
    for (int r = 0; r < o_.rounds; ++r) {
      sweeplyAdd(inbox_, {"--condition", "name: *.never"});
      first.push_back(runTool().seconds);
      floorFirst.push_back(floorList().seconds);
    }
    for (int r = 0; r < o_.rounds; ++r) {
      const Cost cost = runTool();
      unchanged.push_back(cost.seconds);
      peak.push_back(cost.peakKB);
      floorUnchanged.push_back(floorList().seconds);
      floorListFirst.push_back(runChild({o_.floor, "listfirst", inbox_}, env_).seconds);
    }
    unchangedSeconds_ = median(unchanged);
    unchangedPeakKB_ = median(peak);
    line("first run / readdir+fstatat", median(first), median(floorFirst));
    line("unchanged run / readdir+fstatat", unchangedSeconds_, median(floorUnchanged));
    // A run lists the whole folder before it reads the first entry: set
    // against a floor that does the same, the rest is the run's own work.
    line("  same / all names, then fstatat", unchangedSeconds_, median(floorListFirst));
  }

  void memoryPerEntry() {
    const std::string empty = root_ + "/Empty";
    fs::create_directories(empty);
    const std::string kept = database_ + ".kept";
    fs::copy_file(database_, kept, fs::copy_options::overwrite_existing);
    sweeplyAdd(empty, {"--condition", "name: *.never"});
    std::vector<double> base;
    for (int r = 0; r < o_.rounds; ++r) base.push_back(runTool().peakKB);
    fs::rename(kept, database_);
    const double baseKB = median(base);
    const double perEntry = (unchangedPeakKB_ - baseKB) * 1024 / static_cast<double>(n_);
    std::printf("  %-34s %10.1f MB  baseline %6.1f MB  %8.1f B/tracked entry\n",
                "peak memory, unchanged run", unchangedPeakKB_ / 1024, baseKB / 1024, perEntry);
    std::printf("  %-34s %10.1f B/entry\n", "database file",
                static_cast<double>(fs::file_size(database_)) / static_cast<double>(n_));
  }

  // Runs |work| in a child process of its own: a child starts with the
  // resident size of its parent, so this process must never grow by a
  // database held in memory, or every later run's peak would count it.
  static void inChildProcess(const std::function<void()>& work) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      work();
      std::fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("the load and save failed");
  }

  void loadAndSave() {
    Process context;
    context.homeDirectory = home_;
    ScopedProcess scope(context);
    std::vector<double> load, save;
    const std::string copy = root_ + "/copy.data";
    for (int r = 0; r < o_.rounds; ++r) {
      TrashApplication application;
      double start = cpuNow();
      application.unarchiveWithFile(database_, process(), nullptr);
      load.push_back(cpuNow() - start);
      std::string error;
      start = cpuNow();
      if (!application.archiveToFile(copy, error)) die("save: " + error);
      save.push_back(cpuNow() - start);
    }
    const double n = static_cast<double>(n_);
    std::printf("  %-34s %10.3f us/entry (load %.3f + save %.3f), CPU\n", "database load + save",
                (median(load) + median(save)) * 1e6 / n, median(load) * 1e6 / n,
                median(save) * 1e6 / n);
  }

  // An unchanged run with a large run log against the same run with an
  // empty one; both logs are kept (LogLimit 7) and nothing in the large one
  // is old enough to cut.
  void logCase() {
    const std::string big = root_ + "/big.log";
    const std::string small = root_ + "/small.log";
    writeRunLog(big, o_.logMegabytes, 7);
    std::vector<double> withBig, withSmall, peakBig, peakSmall;
    for (int r = 0; r < o_.rounds; ++r) {
      const Cost b = runTool({"-LogToFile", "YES", "-LogFileName", big, "-LogLimit", "7"});
      std::ofstream(small, std::ios::trunc);
      const Cost s = runTool({"-LogToFile", "YES", "-LogFileName", small, "-LogLimit", "7"});
      withBig.push_back(b.seconds);
      withSmall.push_back(s.seconds);
      peakBig.push_back(b.peakKB);
      peakSmall.push_back(s.peakKB);
    }
    char label[64];
    std::snprintf(label, sizeof label, "run, %zu MB log / empty log", o_.logMegabytes);
    line(label, median(withBig), median(withSmall));
    std::printf("  %-34s %10.1f MB  empty log %6.1f MB\n", "peak memory with that log",
                median(peakBig) / 1024, median(peakSmall) / 1024);
    fs::remove(big);
  }

  void listCase() {
    std::vector<double> list, run, peak;
    for (int r = 0; r < o_.rounds; ++r) {
      const Cost l = runChild({sweeply(), "list"}, env_);
      if (l.status != 0) die("sweeply list failed");
      list.push_back(l.seconds);
      peak.push_back(l.peakKB);
      run.push_back(runTool().seconds);
    }
    line("sweeply list / unchanged run", median(list), median(run));
    std::printf("  %-34s %10.1f MB\n", "sweeply list peak memory", median(peak) / 1024);
  }

  // One removal of every entry of a fresh folder: by the tool, then by its
  // floor, per round.
  void removals() {
    const std::string doomed = root_ + "/Doomed";
    const std::string trash = home_ + "/.local/share/Trash";
    const std::string away = root_ + "/Away";
    const std::string floorFiles = root_ + "/FloorTrash/files";
    const std::string floorInfo = root_ + "/FloorTrash/info";
    const std::string tmpfilesConf = root_ + "/peer-tmpfiles.conf";
    struct Kind {
      const char* label;
      std::vector<std::string> addOptions;
      std::vector<std::string> floorArgs;
    } kinds[] = {
        {"trash", {}, {o_.floor, "trash", doomed, floorFiles, floorInfo}},
        {"move-to", {"--action", "moveto:" + away}, {o_.floor, "moveto", doomed, away}},
        {"delete", {"--action", "delete"}, {o_.floor, "delete", doomed}},
    };
    std::vector<std::string> kept = {database_ + ".kept"};
    fs::copy_file(database_, kept[0], fs::copy_options::overwrite_existing);
    for (const Kind& kind : kinds) {
      const bool deletion = kind.floorArgs[1] == "delete";
      std::vector<double> tool, floor, findPeer, tmpfilesPeer;
      auto reset = [&] {
        std::error_code ignored;
        for (const std::string& p : {doomed, trash, away, root_ + "/FloorTrash"})
          fs::remove_all(p, ignored);
        fs::create_directories(away);
        fs::create_directories(floorFiles);
        fs::create_directories(floorInfo);
        createEntries(doomed, n_);
      };
      std::vector<std::string> add = {"--condition", "name: *.dat"};
      add.insert(add.end(), kind.addOptions.begin(), kind.addOptions.end());
      for (int r = 0; r < o_.rounds; ++r) {
        reset();
        sweeplyAdd(doomed, add);
        tool.push_back(runTool().seconds);
        if (!fs::is_empty(doomed)) die(std::string(kind.label) + ": the run left entries behind");
        reset();
        const Cost f = runChild(kind.floorArgs, env_);
        if (f.status != 0) die(std::string("floor ") + kind.label + " failed");
        floor.push_back(f.seconds);
        if (deletion) {
          // The same work done by the system's own tools, on the same
          // fresh folder: every entry of it, whatever its age.
          reset();
          findPeer.push_back(peer({"/usr/bin/find", doomed, "-mindepth", "1", "-delete"}, doomed));
          reset();
          std::ofstream(tmpfilesConf) << "e " << doomed << " - - - 0\n";
          tmpfilesPeer.push_back(peer({kTmpfiles, "--clean", tmpfilesConf}, doomed));
        }
      }
      char label[64];
      std::snprintf(label, sizeof label, "%s run / its system calls", kind.label);
      line(label, median(tool), median(floor));
      if (deletion) {
        line("delete run / find -delete", median(tool), median(findPeer));
        if (!tmpfilesPeer.empty() && tmpfilesPeer[0] > 0)
          line("delete run / systemd-tmpfiles", median(tool), median(tmpfilesPeer));
      }
      if (o_.syscalls)
        countSystemCalls(kind.label, [&] {
          reset();
          sweeplyAdd(doomed, add);
        });
    }
    fs::rename(kept[0], database_);
  }

  // A peer's run over |folder|, which it must leave empty; 0 s where the
  // peer is not installed.
  double peer(const std::vector<std::string>& argv, const std::string& folder) {
    if (access(argv[0].c_str(), X_OK) != 0) return 0;
    const Cost cost = runChild(argv, env_);
    if (cost.status != 0 || !fs::is_empty(folder)) die(argv[0] + " did not empty the folder");
    return cost.seconds;
  }

  // One traced run: strace -f -c, the total calls divided by the entries.
  void countSystemCalls(const char* label, const std::function<void()>& prepare) {
    prepare();
    const std::string summary = root_ + "/strace.txt";
    runChild({"/usr/bin/strace", "-f", "-c", "-o", summary, tool()}, env_);
    std::ifstream in(summary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t total = text.rfind("total");
    if (total == std::string::npos) return;
    // "100.00    0.123456     1  1234567     89 total": the calls column.
    std::istringstream fields(text.substr(text.rfind('\n', total - 1) + 1));
    std::vector<std::string> words;
    for (std::string w; fields >> w && w != "total";) words.push_back(w);
    const double calls = words.size() >= 4 ? std::atof(words[3].c_str()) : 0;
    std::printf("  %-34s %10.1f per removed entry (strace -c)\n",
                (std::string(label) + " system calls").c_str(), calls / static_cast<double>(n_));
  }

  const Options& o_;
  size_t n_;
  std::string placement_;
  std::string root_, home_, inbox_, database_;
  std::map<std::string, std::string> env_;
  double unchangedSeconds_ = 0;
  double unchangedPeakKB_ = 0;
};

/// Pins this program, and every process it starts, to CPU |cpu| for one
/// core, or lets it use the first |cores| CPUs; returns how it says so.
std::string placeOn(size_t cores, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cores <= 1) {
    CPU_SET(cpu, &set);
  } else {
    for (size_t c = 0; c < cores; ++c) CPU_SET(static_cast<int>(c), &set);
  }
  if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
  return cores <= 1 ? "pinned to CPU " + std::to_string(cpu)
                    : "on CPUs 0-" + std::to_string(cores - 1);
}

std::vector<size_t> parseSizes(const std::string& list) {
  std::vector<size_t> sizes;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');) sizes.push_back(std::stoull(item));
  return sizes;
}

}  // namespace
}  // namespace sweeprun

int main(int argc, char** argv) {
  sweeprun::installMappedFileGuard();
  using namespace sweeprun;
  Options options;
  const std::string self = fs::canonical("/proc/self/exe").parent_path().string();
  options.floor = self + "/floor";
  options.bin = fs::path(self).parent_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&a] { return a.substr(a.find('=') + 1); };
    if (a.rfind("--sizes=", 0) == 0) {
      options.sizes = parseSizes(value());
    } else if (a.rfind("--rounds=", 0) == 0) {
      options.rounds = std::max(1, std::stoi(value()));
    } else if (a.rfind("--cores=", 0) == 0) {
      options.cores = parseSizes(value());
    } else if (a.rfind("--cpu=", 0) == 0) {
      options.cpu = std::stoi(value());
    } else if (a.rfind("--dir=", 0) == 0) {
      options.parent = value();
    } else if (a.rfind("--bin=", 0) == 0) {
      options.bin = value();
    } else if (a.rfind("--log-mb=", 0) == 0) {
      options.logMegabytes = std::stoull(value());
    } else if (a.rfind("--removal-max=", 0) == 0) {
      options.removalMax = std::stoull(value());
    } else if (a == "--syscalls") {
      options.syscalls = true;
    } else {
      std::fprintf(stderr, "usage: see the comment at the top of bench/near_floor.cc\n");
      return 2;
    }
  }
  std::printf("tool: %s/sweeprun, floor: %s\n", options.bin.c_str(), options.floor.c_str());
  for (size_t cores : options.cores) {
    const std::string placement = placeOn(cores, options.cpu);
    std::vector<std::pair<size_t, double>> perEntry;
    for (size_t size : options.sizes) {
      SizeBench bench(options, size, placement);
      bench.measure();
      perEntry.emplace_back(size, bench.unchangedPerEntry());
    }
    if (perEntry.size() > 1) {
      double lo = 1e9, hi = 0;
      std::printf("\nlinearity, unchanged run per entry, %s:", placement.c_str());
      for (const auto& [size, seconds] : perEntry) {
        std::printf("  %zu: %.3f us", size, seconds * 1e6);
        lo = std::min(lo, seconds);
        hi = std::max(hi, seconds);
      }
      std::printf("  (spread %.0f%%)\n", (hi / lo - 1) * 100);
    }
  }
  return 0;
}
