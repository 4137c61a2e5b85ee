#pragma once

#include <cstddef>

namespace sweeprun {

/// Asks the system to back the whole 2 MB stretches of [begin, begin + bytes)
/// with large pages: a block that is filled soon after it is made then costs
/// one page fault per 2 MB instead of one per 4 KB. Only for a block that
/// will be filled whole, since a large page is resident as a whole. A hint:
/// nothing changes where the system does not take it.
void adviseLargePages(void* begin, size_t bytes);

}  // namespace sweeprun
