#include "common/metrics_textfile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/settings.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace mdb {
namespace {

// A label value's escapes: backslash, double quote and line feed. Text that is not
// UTF-8 (a path of another encoding) becomes "?" where it is invalid, as the format
// wants UTF-8.
std::string LabelValue(std::string_view text) {
    std::string out;
    for (char c : SanitizeUtf8(text)) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buf[32];
    // Whole numbers (sizes, counts, timestamps) in full, others with 17 digits.
    if (value == std::floor(value) && std::fabs(value) < 1e17)
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

}  // namespace

void MetricsText::Metric(std::string_view name, std::string_view type, std::string_view help) {
    name_ = name;
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsText::Sample(const MetricLabels& labels, double value) {
    text_ += name_;
    if (!labels.empty()) {
        text_ += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i) text_ += ',';
            text_.append(labels[i].first).append("=\"").append(LabelValue(labels[i].second));
            text_ += '"';
        }
        text_ += '}';
    }
    text_.append(" ").append(Number(value)).append("\n");
}

std::string MetricsDirectory(const std::string& settingsPath) {
    const std::string dir = platform::GetProfileString(kSettingsSection, kKeyMetricsDir,
                                                       kDefaultMetricsDir, settingsPath);
    return dir == "off" ? std::string() : dir;
}

bool MetricsPerSite(const std::string& settingsPath) {
    return SettingIsSet(settingsPath, kKeyMetricsPerSite);
}

bool WriteMetricsTextfile(const std::string& directory, const std::string& fileName,
                          const std::string& text) {
    if (directory.empty()) return true;
    std::error_code ec;
    const std::filesystem::path dir = platform::PathFromUtf8(directory);
    if (!std::filesystem::is_directory(dir, ec)) return true;
    const std::string path = platform::Utf8OfPath(dir / fileName);
    return platform::ReplaceFileContent(path, std::span<const char>(text.data(), text.size())) ==
           platform::OpenResult::Ok;
}

double PreviousMetricValue(const std::string& directory, const std::string& fileName,
                           std::string_view metric, double fallback) {
    if (directory.empty()) return fallback;
    std::ifstream in(platform::PathFromUtf8(directory) / fileName);
    const std::string prefix = std::string(metric) + " ";
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) {
            char* end = nullptr;
            const double value = std::strtod(line.c_str() + prefix.size(), &end);
            if (end != line.c_str() + prefix.size()) return value;
        }
    return fallback;
}

}  // namespace mdb
