#include "os/terminal.h"

#include <unistd.h>

namespace sweeprun {

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace sweeprun
