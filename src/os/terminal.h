#pragma once

// os: whether a person is watching the tool's output.

namespace sweeprun {

/// True when the process's standard output is a terminal: a person watches
/// the run, rather than a log, a pipe or a timer's mail reading it.
bool standardOutputIsTerminal();

}  // namespace sweeprun
