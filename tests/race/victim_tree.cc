#include "race/victim_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace sweeprun {

namespace {

namespace fs = std::filesystem;

constexpr int64_t kPastMoment = 978307200;  // 2001-01-01 00:00:00 UTC

uint64_t fnv1a(const char* bytes, size_t size, uint64_t hash = 14695981039346656037ull) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

// Reads a regular file without following a link and without blocking on a
// FIFO that took its name since the lstat.
uint64_t hashOfFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  uint64_t hash = 14695981039346656037ull;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
      hash = fnv1a(buffer, static_cast<size_t>(n), hash);
  }
  close(fd);
  return hash;
}

char typeLetter(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return 'f';
    case S_IFDIR:
      return 'd';
    case S_IFLNK:
      return 'l';
    case S_IFIFO:
      return 'p';
    case S_IFSOCK:
      return 's';
    case S_IFCHR:
      return 'c';
    case S_IFBLK:
      return 'b';
    default:
      return '?';
  }
}

bool stateOf(const std::string& path, NodeState& state) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  state.type = typeLetter(st.st_mode);
  state.mode = st.st_mode & 07777;
  state.owner = st.st_uid;
  state.group = st.st_gid;
  state.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  state.modifiedSeconds = st.st_mtim.tv_sec;
  state.modifiedNanoseconds = st.st_mtim.tv_nsec;
  if (S_ISREG(st.st_mode)) state.contentHash = hashOfFile(path);
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const std::string target = fs::read_symlink(path, ec).string();
    state.contentHash = fnv1a(target.data(), target.size());
  }
  return true;
}

std::string describe(const NodeState& s) {
  std::ostringstream out;
  out << s.type << " mode " << std::oct << s.mode << std::dec << " owner " << s.owner << ":"
      << s.group << " size " << s.size << " mtime " << s.modifiedSeconds << "."
      << s.modifiedNanoseconds << " hash " << std::hex << s.contentHash;
  return out.str();
}

void makeNode(const std::string& path, char type, mode_t mode, const std::string& content = {}) {
  if (type == 'd') {
    fs::create_directories(path);
  } else {
    std::ofstream(path, std::ios::binary) << content;
  }
  chown(path.c_str(), 0, 0);
  chmod(path.c_str(), mode);
}

void setPastTimes(const std::string& folder) {
  const timespec times[2] = {{kPastMoment, 0}, {kPastMoment, 0}};
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) paths.push_back(entry.path());
  paths.push_back(folder);
  // Deepest first: setting a child's times does not touch its folder's, but
  // keep the order obvious anyway.
  for (auto it = paths.rbegin(); it != paths.rend(); ++it)
    utimensat(AT_FDCWD, it->c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

bool NodeState::operator==(const NodeState& o) const {
  return type == o.type && mode == o.mode && owner == o.owner && group == o.group &&
         size == o.size && contentHash == o.contentHash && modifiedSeconds == o.modifiedSeconds &&
         modifiedNanoseconds == o.modifiedNanoseconds;
}

void makeVictimTree(const std::string& folder) {
  makeNode(folder, 'd', 0755);
  makeNode(folder + "/" + kVictimSecret, 'f', 0600, kVictimSecretText);
  makeNode(folder + "/" + kVictimPublic, 'f', 0644, "public text\n");
  makeNode(folder + "/" + kVictimExecutable, 'f', 0755, "#!/bin/sh\nexit 0\n");
  makeNode(folder + "/" + kVictimShared, 'f', 0666, "shared\n");
  makeNode(folder + "/" + kVictimFolder, 'd', 0755);
  makeNode(folder + "/dir/file", 'f', 0644, "in a folder\n");
  makeNode(folder + "/dir/inner", 'd', 0700);
  makeNode(folder + "/dir/inner/private", 'f', 0600, "private\n");
  makeNode(folder + "/" + kVictimOpenFolder, 'd', 0777);
  makeNode(folder + "/open/existing", 'f', 0644, "existing\n");
  makeNode(folder + "/sticky", 'd', 01777);
  // Shaped like the attacker's area: a folder that follows a swapped link
  // into the decoy finds entries that look condemned.
  makeNode(folder + "/" + kVictimDecoy, 'd', 0755);
  makeNode(folder + "/decoy/watched", 'd', 0755);
  makeNode(folder + "/decoy/watched/plain.txt", 'f', 0644, "decoy\n");
  makeNode(folder + "/decoy/watched/tree", 'd', 0755);
  makeNode(folder + "/decoy/watched/tree/sub", 'd', 0755);
  makeNode(folder + "/decoy/watched/tree/sub/deep.txt", 'f', 0644, "decoy deep\n");
  setPastTimes(folder);
}

TreeSnapshot snapshotTree(const std::string& folder) {
  TreeSnapshot snapshot;
  NodeState state;
  if (stateOf(folder, state)) snapshot["."] = state;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (stateOf(it->path(), state)) snapshot[fs::relative(it->path(), folder).string()] = state;
  }
  return snapshot;
}

std::vector<std::string> treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::vector<std::string> lines;
  for (const auto& [path, state] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      lines.push_back("removed " + path + " (" + describe(state) + ")");
    } else if (found->second != state) {
      lines.push_back("changed " + path + ": " + describe(state) + " -> " +
                      describe(found->second));
    }
  }
  for (const auto& [path, state] : after) {
    if (!before.count(path)) lines.push_back("created " + path + " (" + describe(state) + ")");
  }
  return lines;
}

std::vector<std::string> rootSetIdNodes(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st;
    // Only a regular file runs with its owner's rights; a set-id FIFO does not.
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const bool setUserRoot = (st.st_mode & S_ISUID) && st.st_uid == 0;
    const bool setGroupRoot = (st.st_mode & S_ISGID) && st.st_gid == 0;
    if (setUserRoot || setGroupRoot) found.push_back(it->path().string());
  }
  return found;
}

}  // namespace sweeprun
