#include "e2e/run_program.h"

#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace sweeprun {

namespace {

constexpr unsigned kTimeLimitSeconds = 60;

std::vector<char*> pointers(const std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (const std::string& text : texts) result.push_back(const_cast<char*>(text.c_str()));
  result.push_back(nullptr);
  return result;
}

// A capture file, unlinked at once: the descriptor is all we need.
int captureFile() {
  char name[] = "/tmp/sweeprun-e2e-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) unlink(name);
  return fd;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

}  // namespace

std::string rootHomeLine(const std::string& program, const std::string& home) {
  if (geteuid() != 0) return {};
  return program + ": running as root with HOME=" + home + ", not root's own home\n";
}

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment,
                         const std::string& workingDirectory) {
  ProgramResult result;
  const int out = captureFile();
  const int err = captureFile();
  std::vector<char*> argv = pointers(arguments);
  std::vector<char*> envp = pointers(environment);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(workingDirectory.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    alarm(kTimeLimitSeconds);  // survives exec: a hung program is killed
    execve(path.c_str(), argv.data(), envp.data());
    // Said on the captured standard error, for the test's message.
    char reason[64];
    const int length = snprintf(reason, sizeof reason, "execve failed: errno %d\n", errno);
    if (length > 0 && write(2, reason, static_cast<size_t>(length)) < 0) _exit(127);
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  result.out = readAll(out);
  result.err = readAll(err);
  return result;
}

ProgramResult runProgramOnTerminal(const std::string& path,
                                   const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment,
                                   const std::string& workingDirectory) {
  ProgramResult result;
  int terminal = -1, outSide = -1;
  if (openpty(&terminal, &outSide, nullptr, nullptr, nullptr) != 0) return result;
  const int err = captureFile();
  std::vector<char*> argv = pointers(arguments);
  std::vector<char*> envp = pointers(environment);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(workingDirectory.c_str()) != 0 || dup2(outSide, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    close(terminal);
    close(outSide);
    alarm(kTimeLimitSeconds);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(outSide);
  // Read while it runs: a full terminal would hold the program up. The read
  // fails (EIO) once the program's side is closed.
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
  close(terminal);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  result.err = readAll(err);
  return result;
}

bool enterPrivateMounts(std::string& why) {
  static bool entered = false;
  if (entered) return true;
  if (geteuid() != 0) return (why = "needs root to mount a file system"), false;
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return (why = "cannot make a mount namespace of its own here"), false;
  return entered = true;
}

int startProgram(const std::string& path, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, const std::string& workingDirectory) {
  std::vector<char*> argv = pointers(arguments);
  std::vector<char*> envp = pointers(environment);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (chdir(workingDirectory.c_str()) != 0 || null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0)
      _exit(126);
    alarm(kTimeLimitSeconds);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return child;
}

std::vector<std::string> toolEnvironment(const std::string& home, const std::string& user,
                                         const std::string& root, const std::string& config) {
  std::vector<std::string> environment = {
      "HOME=" + home,
      "PATH=/usr/bin:/bin",
      "LANG=C",
      "XDG_DATA_HOME=" + home + "/.local/share",
      "SWEEPRUN_TEST_CONFIG=" + root + "/" + config,
      "SWEEPRUN_TEST_USERS=" + root + "/Users",
      "SWEEPRUN_TEST_PAUSE=0",
  };
  if (!user.empty()) environment.push_back("USER=" + user);
  for (const char* passed : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(passed))
      environment.push_back(std::string(passed) + "=" + value);
  }
  return environment;
}

std::string readOnlyDriverIn(const std::string& folder) {
  const std::string copy = folder + "/sweeprun";
  std::filesystem::copy_file(SWEEPRUN_DRIVER_PATH, copy);
  std::filesystem::permissions(copy, std::filesystem::perms(0555));
  return copy;
}

}  // namespace sweeprun
