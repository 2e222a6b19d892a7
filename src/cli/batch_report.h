#pragma once
// The machine-readable report of convert over many movies (--report), for
// schedulers and scripts that collect the results of many batches.

#include <string>
#include <vector>

#include "cli/batch.h"

namespace quarvel::cli {

// The report as JSON: {"movies": [one record per movie, in the batch's
// order], "converted": n, "failed": n}. A record holds input, output,
// result (the batch's word for the movie: ok, failed...), error (empty
// when none), frames and movie_seconds (null when unknown), wall_seconds
// and output_bytes. `latency_ms` is the capture interval, which turns
// frames into movie time.
std::string BatchReportJson(const std::vector<BatchResult>& results, int latency_ms);

// Writes the report to `path` through a temporary name beside it; throws
// CommandError naming the file when it cannot.
void WriteBatchReport(const std::string& path, const std::vector<BatchResult>& results, int latency_ms);

}  // namespace quarvel::cli
