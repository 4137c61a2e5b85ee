#pragma once

#include <string>
#include <vector>

namespace sweeprun {

struct ProgramResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

/// Runs the executable at |path| with |arguments| (the program name first,
/// which need not be |path|) and exactly |environment| ("NAME=value"), in
/// |workingDirectory|, and waits for it. A program still running after a
/// minute is killed.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment,
                         const std::string& workingDirectory);

}  // namespace sweeprun
