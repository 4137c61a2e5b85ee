#pragma once

#include <sstream>
#include <string>

#include "os/date.h"
#include "os/process.h"
#include "support/temp_dir.h"

namespace sweeprun {

/// The process context of one test, installed while the object lives: home
/// folder, accounts folder and configuration file all inside a fresh
/// temporary folder (so nothing reaches the real home, /etc or /Users),
/// output and errors captured, and a clock that reads |now| until the test
/// moves it. Adjust |context| before the code under test reads it.
class TestProcess {
 public:
  TestProcess();

  const TempDir& dir() const { return dir_; }
  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }
  void clearOutput() {
    out_.str("");
    err_.str("");
  }

  Date now{700000000};
  Process context;

 private:
  TempDir dir_;
  std::ostringstream out_;
  std::ostringstream err_;
  ScopedProcess scope_{context};
};

}  // namespace sweeprun
