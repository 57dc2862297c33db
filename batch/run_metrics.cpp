#include "batch/run_metrics.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "common/listfile.h"
#include "common/metrics_textfile.h"
#include "common/settings.h"
#include "platform/arguments.h"

namespace mdb::batch {
namespace {

struct Sums {
    double files = 0;
    double before = 0;
    double after = 0;
};

using Grouped = std::map<std::string, Sums>;

// Per site: the files and their bytes before and after.
Grouped BySite(const RunReport& report, const std::vector<std::string>& scanDirs,
               FileOutcomeKind kind) {
    Grouped sites;
    for (const auto& f : report.files) {
        if (f.outcome != kind) continue;
        Sums& s = sites[SiteOf(f.path, scanDirs)];
        s.files += 1;
        s.before += static_cast<double>(f.sizeBefore);
        s.after += static_cast<double>(f.sizeAfter);
    }
    return sites;
}

// Three series of every file of `kind` (or of every site): `names` for the size before,
// the size after and their difference.
void PerFile(MetricsText& m, const RunReport& report, const std::vector<std::string>& scanDirs,
             bool perSite, FileOutcomeKind kind, const char* const (&names)[3][2]) {
    if (perSite) {
        const Grouped sites = BySite(report, scanDirs, kind);
        m.Metric(std::string(names[0][0]) + "_files", "gauge", "database files of the site");
        for (const auto& [site, s] : sites) m.Sample({{"site", site}}, s.files);
        for (int k = 0; k < 3; ++k) {
            m.Metric(names[k][0], "gauge", std::string(names[k][1]) + ", summed over the site");
            for (const auto& [site, s] : sites)
                m.Sample({{"site", site}},
                         k == 0 ? s.before : k == 1 ? s.after : std::max(0.0, s.before - s.after));
        }
        return;
    }
    for (int k = 0; k < 3; ++k) {
        m.Metric(names[k][0], "gauge", names[k][1]);
        for (const auto& f : report.files) {
            if (f.outcome != kind) continue;
            const double before = static_cast<double>(f.sizeBefore);
            const double after = static_cast<double>(f.sizeAfter);
            m.Sample({{"path", f.path}, {"site", SiteOf(f.path, scanDirs)}},
                     k == 0 ? before : k == 1 ? after : std::max(0.0, before - after));
        }
    }
}

std::vector<std::string> ScanDirectories(const std::string& programDir) {
    std::ifstream in(platform::PathFromUtf8(programDir) / "config" / kScanDirFileName,
                     std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseListText(text);
}

}  // namespace

std::string SiteOf(const std::string& path, const std::vector<std::string>& scanDirs) {
    std::string best;
    for (std::string dir : scanDirs) {
        while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
        if (path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
            (path[dir.size()] == '/' || path[dir.size()] == '\\') && dir.size() > best.size())
            best = dir;
    }
    const std::size_t lastSep = path.find_last_of("/\\");
    if (best.empty()) return lastSep == std::string::npos ? std::string() : path.substr(0, lastSep);
    const std::size_t next = path.find_first_of("/\\", best.size() + 1);
    // A file right in the listed directory belongs to that directory.
    return next == std::string::npos ? best : path.substr(0, next);
}

std::string BatchMetricsText(const RunReport& report, const std::vector<std::string>& scanDirs,
                             bool perSite, double lastSuccess) {
    MetricsText m;
    const auto gauge = [&](const char* name, const char* help, double value) {
        m.Metric(name, "gauge", help);
        m.Sample(value);
    };
    gauge("mdbwarden_batch_start_timestamp_seconds", "start of the last batch (Unix time)",
          static_cast<double>(report.started));
    gauge("mdbwarden_batch_end_timestamp_seconds", "end of the last batch (Unix time)",
          static_cast<double>(report.ended));
    gauge("mdbwarden_batch_duration_seconds", "duration of the last batch",
          static_cast<double>(report.ended - report.started));
    gauge("mdbwarden_batch_exit_code",
          "exit code of the last batch: 0 all compacted, 1 some not, 2 could not start, 130 "
          "interrupted",
          report.exitCode);
    gauge("mdbwarden_batch_last_success_timestamp_seconds",
          "end of the last batch that compacted every file it treated (Unix time; 0: none yet)",
          lastSuccess);
    m.Metric("mdbwarden_batch_files", "gauge", "files of the last batch by outcome");
    for (auto kind : {FileOutcomeKind::Compacted, FileOutcomeKind::NotCompacted,
                      FileOutcomeKind::Skipped, FileOutcomeKind::NotReached})
        m.Sample({{"outcome", OutcomeName(kind)}}, report.Count(kind));
    gauge("mdbwarden_batch_bytes_before", "bytes of the compacted files before the last batch",
          static_cast<double>(report.BytesBefore()));
    gauge("mdbwarden_batch_bytes_after", "bytes of the compacted files after the last batch",
          static_cast<double>(report.BytesAfter()));
    gauge("mdbwarden_batch_web_server_down_seconds",
          "time the web server was stopped during the last batch", report.webServerDownSeconds);
    static const char* const kNames[3][2] = {
        {"mdbwarden_batch_file_before_bytes", "size of a compacted file before the last batch"},
        {"mdbwarden_batch_file_after_bytes", "size of a compacted file after the last batch"},
        {"mdbwarden_batch_file_saved_bytes", "bytes the last batch saved on a file"}};
    PerFile(m, report, scanDirs, perSite, FileOutcomeKind::Compacted, kNames);
    return m.Text();
}

std::string EstimateMetricsText(const RunReport& report, const std::vector<std::string>& scanDirs,
                                bool perSite) {
    MetricsText m;
    m.Metric("mdbwarden_estimate_timestamp_seconds", "gauge",
             "end of the last estimate (mdbcompact batch --dry-run; Unix time)");
    m.Sample(static_cast<double>(report.ended));
    static const char* const kNames[3][2] = {
        {"mdbwarden_database_size_bytes", "size of a recorded database"},
        {"mdbwarden_database_estimated_size_bytes", "estimated size of a database after compaction"},
        {"mdbwarden_database_reclaimable_bytes", "bytes a compaction would reclaim"}};
    PerFile(m, report, scanDirs, perSite, FileOutcomeKind::Estimated, kNames);
    return m.Text();
}

bool WriteRunMetrics(const RunReport& report, const std::string& programDir, std::string& path) {
    const std::string settings = SettingsPathIn(programDir);
    const std::string dir = MetricsDirectory(settings);
    if (dir.empty()) return true;
    const bool perSite = MetricsPerSite(settings);
    const std::vector<std::string> scanDirs = ScanDirectories(programDir);
    const std::string name = report.dryRun ? kEstimateMetricsFile : kBatchMetricsFile;
    path = dir + "/" + name;
    std::string text;
    if (report.dryRun) {
        text = EstimateMetricsText(report, scanDirs, perSite);
    } else {
        const double last =
            report.exitCode == 0
                ? static_cast<double>(report.ended)
                : PreviousMetricValue(dir, name, "mdbwarden_batch_last_success_timestamp_seconds", 0);
        text = BatchMetricsText(report, scanDirs, perSite, last);
    }
    return WriteMetricsTextfile(dir, name, text);
}

}  // namespace mdb::batch
