// Metrics for Prometheus as a textfile that node_exporter's textfile collector reads
// (Debian's prometheus-node-exporter: /var/lib/prometheus/node-exporter/*.prom), in the
// text exposition format, written whole and renamed into place so that the collector
// never reads half a file.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mdb {

// Where the textfiles go unless the setting MetricsDir says otherwise ("off": nowhere).
#ifdef _WIN32
inline constexpr char kDefaultMetricsDir[] = "";
#else
inline constexpr char kDefaultMetricsDir[] = "/var/lib/prometheus/node-exporter";
#endif

using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// The text of one textfile: each metric's HELP and TYPE once, then its samples.
class MetricsText {
  public:
    // Starts metric `name` ("gauge" or "counter"); its samples follow.
    void Metric(std::string_view name, std::string_view type, std::string_view help);
    // A sample of the metric started last.
    void Sample(const MetricLabels& labels, double value);
    void Sample(double value) { Sample({}, value); }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
    std::string name_;
};

// The directory of the settings file's MetricsDir, kDefaultMetricsDir when unset; empty
// when the metrics are off.
std::string MetricsDirectory(const std::string& settingsPath);

// True when the settings file's MetricsPerSite is 1: one series per site directory
// instead of one per database file.
bool MetricsPerSite(const std::string& settingsPath);

// Writes `text` as directory/fileName atomically. Nothing is written, and true returned,
// when the directory does not exist (no node_exporter on this host); false when it
// exists and the file cannot be written.
bool WriteMetricsTextfile(const std::string& directory, const std::string& fileName,
                          const std::string& text);

// The value of the sample of `metric` without labels in the existing textfile, or
// `fallback`: what a run that failed keeps of the last success.
double PreviousMetricValue(const std::string& directory, const std::string& fileName,
                           std::string_view metric, double fallback);

}  // namespace mdb
