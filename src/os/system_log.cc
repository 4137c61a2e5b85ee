#include "os/system_log.h"

#include <syslog.h>

#include <algorithm>
#include <climits>
#include <ostream>
#include <string>

#include "os/process.h"

namespace sweeprun {

void systemLog(std::string_view message, LogPriority priority) {
  static const bool opened = [] {
    openlog("sweeprun", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
  // The message is data: it goes through "%.*s", never as the format.
  const int length = static_cast<int>(std::min<size_t>(message.size(), INT_MAX));
  syslog(priority == LogPriority::kError ? LOG_ERR : LOG_NOTICE, "%.*s", length, message.data());
  if (std::ostream* err = process().err) {
    *err << message << '\n';
    err->flush();
  }
}

}  // namespace sweeprun
