#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// Why |xml| cannot be a property list, in words a person can act on, with
/// the line and column (both from 1; columns count bytes) of the first fault that element
/// nesting shows: an empty text, a text that is no XML at all, a tag never
/// closed with ">", a closing tag that does not match the element open, or
/// an element never closed. Empty when the tags pair up: the fault, if any,
/// lies in what the elements hold.
std::string xmlNestingFault(std::string_view xml);

}  // namespace sweeprun
