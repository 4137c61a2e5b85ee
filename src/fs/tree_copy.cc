#include "fs/tree_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fs/descriptor_ops.h"

namespace sweeprun {
namespace fs {

namespace {

// Copies the bytes of |in| to |out|: 0, or the error number, with |writing|
// telling whether writing |out| failed (else reading |in|). A failure of
// copy_file_range, which does not say which side failed, goes on with read
// and write from where it stopped: they fail again, and say.
int copyBytes(int in, int out, bool& writing) {
  bool plain = false;  // copy_file_range unsupported or failed: read and write
  char buffer[1 << 16];
  for (;;) {
    if (!plain) {
      const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
      if (n > 0) continue;
      if (n == 0) return 0;
      if (errno == EINTR) continue;
      plain = true;
    }
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      writing = false;
      return errno;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        writing = true;
        return errno;
      }
      done += w;
    }
  }
}

// Copies one entry of the source tree as it is, never following a link and
// never entering another mounted file system. Every node is made inside a
// staging folder that only the effective user can enter (see StagingFolder),
// so the by-name calls on the nodes we create cannot be redirected: nobody
// else can swap a name in there for a link.
struct TreeCopy {
  uint64_t sourceDevice;
  const TreeDeadline& deadline;
  std::string& error;
  std::string top;  // display path of the entry the copy started at
  bool asRoot = geteuid() == 0;

  bool fail(const char* operation, const std::string& path, int errorNumber) {
    if (error.empty()) error = errorText(operation, path, errorNumber);
    return false;
  }

  // |path| shows the entry, |toPath| where its copy is going: a failure to
  // read names the one, a failure to make or write the copy the other.
  bool copy(int fromDir, const std::string& name, const std::string& path, int toDir,
            const std::string& toName, const std::string& toPath, int depth) {
    if (deadline.passed()) {
      if (error.empty()) {
        error = deadline.passedText("copy", top, "the entry is left as it was, not moved");
      }
      return false;
    }
    EntryStatus status;
    if (const int e = statusAt(fromDir, name, status)) return fail("statx", path, e);
    if (!sameFileSystem(status, sourceDevice)) {
      return fail("copy", path, EXDEV);  // a mount point inside: not moved at all
    }
    const EntryAttributes& a = status.attributes;
    if (a.isDirectory())
      return copyFolder(fromDir, name, path, toDir, toName, toPath, status, depth);
    if (a.isRegularFile()) return copyFile(fromDir, name, path, toDir, toName, toPath, status);
    if (a.isSymbolicLink()) return copyLink(fromDir, name, path, toDir, toName, toPath, status);
    return copySpecial(toDir, toName, toPath, status);
  }

  bool copyFile(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const std::string& toPath, const EntryStatus& status) {
    const int in =
        openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return fail("openat", path, errno);
    struct stat st;
    if (fstat(in, &st) < 0 || !S_ISREG(st.st_mode) || st.st_ino != status.attributes.fileNumber ||
        st.st_dev != status.attributes.device) {
      close(in);
      return fail("openat", path, ESTALE);  // replaced since it was read
    }
    const int out =
        openat(toDir, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
      fail("openat", toPath, errno);
      close(in);
      return false;
    }
    bool writing = false;
    const int e = copyBytes(in, out, writing);
    bool ok = e == 0 || (writing ? fail("write", toPath, e) : fail("read", path, e));
    ok = ok && setOwnerModeTimes(out, status, toPath);
    if (close(out) < 0 && ok) ok = fail("close", toPath, errno);
    close(in);
    return ok;
  }

  bool copyFolder(int fromDir, const std::string& name, const std::string& path, int toDir,
                  const std::string& toName, const std::string& toPath, const EntryStatus& status,
                  int depth) {
    if (depth > kMaxTreeDepth) {
      if (error.empty()) error = tooDeepToCopyText(path);
      return false;
    }
    if (mkdirat(toDir, toName.c_str(), 0700) < 0) return fail("mkdirat", toPath, errno);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int in = openat(fromDir, name.c_str(), flags);
    if (in < 0) return fail("openat", path, errno);
    const int out = openat(toDir, toName.c_str(), flags);
    if (out < 0) {
      close(in);
      return fail("openat", toPath, errno);
    }
    EntryStatus opened;
    bool ok = (statusAt(in, "", opened) == 0 &&
               opened.attributes.fileNumber == status.attributes.fileNumber) ||
              fail("openat", path, ESTALE);
    bool listed = false;
    const std::vector<std::string> children =
        ok ? readNames(in, listed) : std::vector<std::string>();
    if (ok && !listed) ok = fail("readdir", path, errno);
    for (size_t i = 0; ok && i < children.size(); ++i) {
      ok = copy(in, children[i], path + "/" + children[i], out, children[i],
                toPath + "/" + children[i], depth + 1);
    }
    // The folder's own times last: adding its entries changed them.
    ok = ok && setOwnerModeTimes(out, status, toPath);
    close(out);
    close(in);
    return ok;
  }

  bool copyLink(int fromDir, const std::string& name, const std::string& path, int toDir,
                const std::string& toName, const std::string& toPath, const EntryStatus& status) {
    std::string target(static_cast<size_t>(status.attributes.size) + 1, '\0');
    const ssize_t n = readlinkat(fromDir, name.c_str(), &target[0], target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
      return fail("readlinkat", path, errno ? errno : ESTALE);
    target.resize(static_cast<size_t>(n));
    if (symlinkat(target.c_str(), toDir, toName.c_str()) < 0)
      return fail("symlinkat", toPath, errno);
    // A link has no mode of its own; its owner and times are set on the link
    // itself, never on what it points to.
    if (asRoot && fchownat(toDir, toName.c_str(), status.attributes.owner, status.attributes.group,
                           AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("fchownat", toPath, errno);
    }
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("utimensat", toPath, errno);
    }
    return true;
  }

  // FIFOs, sockets and device nodes. They cannot be opened without effects of
  // their own, so they are finished by name: safe only because nobody but us
  // can enter the staging folder, and checked to be the node we made.
  bool copySpecial(int toDir, const std::string& toName, const std::string& toPath,
                   const EntryStatus& status) {
    const EntryAttributes& a = status.attributes;
    if (mknodat(toDir, toName.c_str(), (a.mode & S_IFMT) | 0600, status.specialDevice) < 0) {
      return fail("mknodat", toPath, errno);
    }
    struct stat made;
    if (fstatat(toDir, toName.c_str(), &made, AT_SYMLINK_NOFOLLOW) < 0 ||
        (made.st_mode & S_IFMT) != (a.mode & S_IFMT)) {
      return fail("mknodat", toPath, ESTALE);
    }
    // Owners first: a change of owner clears the set-id bits.
    if (asRoot && fchownat(toDir, toName.c_str(), a.owner, a.group, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("fchownat", toPath, errno);
    }
    if (fchmodat(toDir, toName.c_str(), a.mode & 07777, 0) < 0)
      return fail("fchmodat", toPath, errno);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) < 0) {
      return fail("utimensat", toPath, errno);
    }
    return true;
  }

  // |fd| is the copied file or folder itself.
  bool setOwnerModeTimes(int fd, const EntryStatus& status, const std::string& toPath) {
    const EntryAttributes& a = status.attributes;
    // Owners first: a change of owner clears the set-id bits.
    if (asRoot && fchown(fd, a.owner, a.group) < 0) return fail("fchown", toPath, errno);
    if (fchmod(fd, a.mode & 07777) < 0) return fail("fchmod", toPath, errno);
    const timespec times[2] = {{status.accessSeconds, status.accessNanoseconds},
                               {status.modificationSeconds, status.modificationNanoseconds}};
    if (futimens(fd, times) < 0) return fail("utimensat", toPath, errno);
    return true;
  }
};

}  // namespace

bool copyTree(int fromDir, const std::string& name, const std::string& displayPath, int toDir,
              const std::string& toName, const std::string& toDisplayPath, uint64_t sourceDevice,
              const TreeDeadline& deadline, std::string& error) {
  TreeCopy copy{sourceDevice, deadline, error, displayPath};
  return copy.copy(fromDir, name, displayPath, toDir, toName, toDisplayPath, 0);
}

}  // namespace fs
}  // namespace sweeprun
