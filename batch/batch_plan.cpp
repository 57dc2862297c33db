#include "batch/batch_plan.h"

#include <array>
#include <cctype>
#include <fstream>

#include "batch/compact_mdb_file.h"
#include "batch/reason_code.h"
#include "batch/stored_path.h"
#include "jet/checker.h"
#include "platform/arguments.h"

namespace mdb::batch {
namespace fs = std::filesystem;

bool FileIsGone(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::not_found;
}

bool MinimumSaving::Met(std::uint64_t sizeNow, std::uint64_t estimatedAfter) const {
    const std::uint64_t saving = sizeNow > estimatedAfter ? sizeNow - estimatedAfter : 0;
    if (saving < bytes) return false;
    return saving * 100 >= static_cast<std::uint64_t>(percent) * sizeNow;
}

bool ParseMinimumSaving(const std::string& text, MinimumSaving& out) {
    out = MinimumSaving();
    if (text == "off" || text == "0") return true;
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    // Up to 12 digits (a terabyte of saving and more); the number always fits.
    if (digits == 0 || digits > 12) return false;
    const std::uint64_t n = std::stoull(text.substr(0, digits));
    const std::string unit = text.substr(digits);
    if (unit == "%") {
        if (n > 100) return false;
        out.percent = static_cast<unsigned>(n);
        return true;
    }
    std::uint64_t scale = 1;
    if (unit == "K" || unit == "k") scale = 1ull << 10;
    else if (unit == "M" || unit == "m") scale = 1ull << 20;
    else if (unit == "G" || unit == "g") scale = 1ull << 30;
    else if (!unit.empty()) return false;
    out.bytes = n * scale;
    return true;
}

FileEstimate EstimateFile(const std::string& path) {
    FileEstimate e;
    const jet::CheckReport report = jet::CheckFile(platform::PathFromUtf8(path));
    if (!report.opened) {
        e.reason = std::string(kNotCompactedPrefix) + DescribeEngineFailure(report.open_error);
        return e;
    }
    const std::uint64_t pageSize = report.header.page_size ? report.header.page_size : 1;
    e.read = true;
    e.sizeNow = report.header.file_size;
    e.sizeAfter = report.estimated_size;
    e.pagesNow = report.header.page_count;
    e.pagesAfter = report.estimated_size / pageSize;
    e.problems = report.problems.size();
    return e;
}

namespace {

// The engine would read the file: it is a regular file and its header is accepted.
bool MayBeReplaced(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status)) return false;
    std::ifstream in(path, std::ios::binary);
    std::array<char, kHeaderProbeBytes> header{};
    in.read(header.data(), header.size());
    const auto n = static_cast<std::size_t>(in.gcount());
    std::string reason;
    return !EngineRefusesFile(
        std::span(reinterpret_cast<const std::uint8_t*>(header.data()), n),
        fs::file_size(path, ec), reason);
}

}  // namespace

BatchPlan PlanBatch(const std::vector<RecordedFile>& files, const MinimumSaving& minimum) {
    BatchPlan plan;
    for (const RecordedFile& file : files) {
        const std::optional<fs::path>& path = file.path;
        if (path && FileIsGone(*path)) {
            FileReport gone;
            gone.path = platform::Utf8OfPath(*path);
            gone.reason = kReasonMissing;
            plan.leftOut.push_back(gone);
            plan.missing.push_back(file.stored);
            continue;
        }
        if (path && !minimum.Off()) {
            const FileEstimate estimate = EstimateFile(platform::Utf8OfPath(*path));
            // A damaged file is left to the batch: its repair matters more than its saving.
            if (estimate.read && estimate.problems == 0 &&
                !minimum.Met(estimate.sizeNow, estimate.sizeAfter)) {
                FileReport small;
                small.path = platform::Utf8OfPath(*path);
                small.sizeBefore = estimate.sizeNow;
                small.reason = kSkipBelowMinimumSaving;
                plan.leftOut.push_back(small);
                continue;
            }
        }
        plan.toTreat.push_back(file);
        if (path && !plan.anyReplaceable) plan.anyReplaceable = MayBeReplaced(*path);
    }
    return plan;
}

}  // namespace mdb::batch
