#pragma once

#include <string>

#include "engine/run_tally.h"

namespace sweeprun {

/// The metrics of a run that ended with |exitStatus|, in Prometheus' text
/// format for node_exporter's textfile collector: per watched folder
/// (label "folder", its path as loggable text) what the run did there, what
/// the folder tracks and when it was last checked; per run its start,
/// duration and exit status. Times are Unix seconds; no sample carries a
/// timestamp of its own, as the textfile collector requires.
std::string metricsText(const RunTally& tally, int exitStatus);

/// |text| as a label value between double quotes: backslash, double quote
/// and line feed escaped.
std::string metricsLabelValue(std::string_view text);

}  // namespace sweeprun
