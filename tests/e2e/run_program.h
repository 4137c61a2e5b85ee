#pragma once

#include <string>
#include <vector>

namespace sweeprun {

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

/// The environment of a tool a test starts: |home| as HOME with the user
/// Trash below it, |user| as USER (unset when empty), the test driver's fixed
/// paths below |root| ("<root>/<config>", "<root>/Users") and no pause, and the
/// sanitizer options of the test itself passed on.
std::vector<std::string> toolEnvironment(const std::string& home, const std::string& user,
                                         const std::string& root,
                                         const std::string& config = "sweeprun.plist");

/// The line a tool (named |program| in its messages) started as root in user
/// mode says first on standard error, since a test's |home| is never root's
/// own; empty when the test does not run as root.
std::string rootHomeLine(const std::string& program, const std::string& home);

/// Copies the test driver into |folder| as "sweeprun", read-only (0555):
/// system and check mode refuse a tool file that anyone may write. Returns
/// the copy's path.
std::string readOnlyDriverIn(const std::string& folder);

/// Runs the executable at |path| with |arguments| (the program name first,
/// which need not be |path|) and exactly |environment| ("NAME=value"), in
/// |workingDirectory|, and waits for it. A program still running after a
/// minute is killed.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment,
                         const std::string& workingDirectory);

/// Runs the executable as runProgram does, but with its standard output on
/// a pseudo-terminal, as a person at a terminal would start it: |out| holds
/// what the terminal received (line ends as "\r\n"), |err| standard error.
ProgramResult runProgramOnTerminal(const std::string& path,
                                   const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment,
                                   const std::string& workingDirectory);

/// Moves this test process, and the tools it starts, into a mount namespace
/// of its own, so that no mount a test makes reaches the host. False with
/// |why| where that cannot be done (it needs root).
bool enterPrivateMounts(std::string& why);

/// Starts the executable at |path| as runProgram does, with its output
/// discarded, and returns at once: the child's process id, or -1. The caller
/// waits for it (it too is killed after a minute).
int startProgram(const std::string& path, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, const std::string& workingDirectory);

}  // namespace sweeprun
