#pragma once

// os: the process context of the entry points. Only cli and companion (and
// tests standing in for them) include this: everything below them is handed
// the RunWorld it works in.

#include "os/run_world.h"
#include "os/system_log.h"

namespace sweeprun {

/// The entry points' name for the world they build.
using Process = RunWorld;

/// The current process context.
Process& process();

/// Installs a context, and its standard error as the system log's echo, for
/// the lifetime of the object and restores the previous ones afterwards.
class ScopedProcess {
 public:
  explicit ScopedProcess(Process& context);
  ~ScopedProcess();
  ScopedProcess(const ScopedProcess&) = delete;
  ScopedProcess& operator=(const ScopedProcess&) = delete;

 private:
  Process* previous_;
  SystemLogEcho previousEcho_;
};

}  // namespace sweeprun
