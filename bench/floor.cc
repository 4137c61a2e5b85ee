// The system-call floors that near_floor sets a run of the tool against: the
// least a program must do to list a folder, or to remove every entry of it
// as a run would. Each lists the folder with readdir and reads each entry's
// attributes with one fstatat (a run cannot decide about an entry it has not
// seen), then per entry:
//
//   floor list   DIR                  nothing more
//   floor listfirst DIR               the same, but every name is read before
//                                     the first fstatat, as a run reads them
//                                     (for comparison: the kernel finds an
//                                     entry it has just listed faster)
//   floor trash  DIR FILES INFO       openat(O_CREAT|O_EXCL) + write + close of
//                                     INFO/NAME.trashinfo, renameat to FILES/NAME
//   floor moveto DIR DEST             renameat to DEST/NAME
//   floor delete DIR                  unlinkat
//
// Prints nothing; exit status 0 when every entry was handled.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

int openFolder(const char* path) { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// The info text a Trash keeps for an entry: its original path and the date.
std::string infoText(const char* folder, const char* name, const char* date) {
  std::string text = "[Trash Info]\nPath=";
  text += folder;
  text += '/';
  text += name;
  text += "\nDeletionDate=";
  text += date;
  text += '\n';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: floor list|listfirst|trash|moveto|delete DIR [FILES INFO | DEST]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const char* folderPath = argv[2];
  DIR* folder = opendir(folderPath);
  if (!folder) return 1;
  const int folderFd = dirfd(folder);
  if (mode == "listfirst") {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
      if (!isDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
    }
    bool ok = true;
    struct stat st;
    for (const std::string& name : names)
      ok &= fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    closedir(folder);
    return ok ? 0 : 1;
  }
  int target = -1;
  int info = -1;
  if (mode == "trash" && argc == 5) {
    target = openFolder(argv[3]);
    info = openFolder(argv[4]);
    if (target < 0 || info < 0) return 1;
  } else if (mode == "moveto" && argc == 4) {
    target = openFolder(argv[3]);
    if (target < 0) return 1;
  } else if (mode != "list" && mode != "delete") {
    return 2;
  }
  char date[32];
  const time_t now = time(nullptr);
  struct tm local;
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", localtime_r(&now, &local));

  bool ok = true;
  struct stat st;
  while (const dirent* entry = readdir(folder)) {
    if (isDotOrDotDot(entry->d_name)) continue;
    const char* name = entry->d_name;
    if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
      continue;
    }
    if (mode == "trash") {
      const std::string infoName = std::string(name) + ".trashinfo";
      const int fd = openat(info, infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd < 0) {
        ok = false;
        continue;
      }
      const std::string text = infoText(folderPath, name, date);
      ok &= write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      close(fd);
      ok &= renameat(folderFd, name, target, name) == 0;
    } else if (mode == "moveto") {
      ok &= renameat(folderFd, name, target, name) == 0;
    } else if (mode == "delete") {
      ok &= unlinkat(folderFd, name, 0) == 0;
    }
  }
  closedir(folder);
  return ok ? 0 : 1;
}
