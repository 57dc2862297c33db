// The metrics of a batch and of a dry run's estimates, for node_exporter's textfile
// collector (common/metrics_textfile.h). Two files, so that the series of one never
// repeat those of the other:
//   mdbcompact-batch.prom     the last batch: start, end, duration, files by outcome,
//                             bytes before and after, web-server downtime, exit code, the
//                             last success; each compacted file's bytes before and after
//   mdbcompact-estimate.prom  the last dry run: each database's size, estimated size
//                             after compaction and reclaimable bytes
// Per file the labels are path and site; in the per-site mode (MetricsPerSite=1) the
// files of a site are summed into one series labelled site, with their count.
#pragma once

#include <string>
#include <vector>

#include "batch/run_report.h"

namespace mdb::batch {

inline constexpr char kBatchMetricsFile[] = "mdbcompact-batch.prom";
inline constexpr char kEstimateMetricsFile[] = "mdbcompact-estimate.prom";

// The site directory of `path`: the listed scan directory it lies in, with the directory
// below it that holds the file (/var/www + /var/www/shop/db/a.mdb -> /var/www/shop); the
// file's own directory when no listed directory holds it.
std::string SiteOf(const std::string& path, const std::vector<std::string>& scanDirs);

// The text of mdbcompact-batch.prom for a run; `lastSuccess` is the end of the last run
// that compacted every file (this one's when it did; 0 when there was none).
std::string BatchMetricsText(const RunReport& report, const std::vector<std::string>& scanDirs,
                             bool perSite, double lastSuccess);

// The text of mdbcompact-estimate.prom for a dry run.
std::string EstimateMetricsText(const RunReport& report, const std::vector<std::string>& scanDirs,
                                bool perSite);

// Writes the run's textfile into the metrics directory of `programDir`'s settings;
// false (with `path` set) when the directory exists and the file cannot be written.
bool WriteRunMetrics(const RunReport& report, const std::string& programDir, std::string& path);

}  // namespace mdb::batch
