#include "jet/compact/overlay_pages.h"

#include <system_error>

namespace jet {

OverlayPages::OverlayPages(PageFile& source, const std::filesystem::path& side)
    : src_(source), next_(source.page_count()),
      file_(side, std::ios::out | std::ios::trunc | std::ios::binary) {
    overlay_.side = side;
    overlay_.page_size = source.page_size();
    overlay_.base_pages = source.page_count();
}

std::vector<std::uint8_t>& OverlayPages::Page(std::uint32_t p) {
    auto it = pages_.find(p);
    if (it != pages_.end()) return it->second;
    jet::Page pg = src_.Read(p);
    return pages_.emplace(p, std::vector<std::uint8_t>(pg.bytes().begin(), pg.bytes().end()))
        .first->second;
}

std::uint32_t OverlayPages::TakeRun(std::uint32_t n) {
    const std::uint32_t first = next_;
    next_ += n;
    return first;
}

void OverlayPages::Put(std::uint32_t p, std::vector<std::uint8_t> bytes) {
    if (p < overlay_.base_pages) {
        pages_[p] = std::move(bytes);
        return;
    }
    const bool follows = !run_.empty() && p == run_first_ + run_.size() / overlay_.page_size;
    if (!follows || run_.size() + bytes.size() > kRunBytes) {
        WriteRun();
        run_first_ = p;
    }
    run_.insert(run_.end(), bytes.begin(), bytes.end());
}

void OverlayPages::WriteRun() {
    if (run_.empty()) return;
    file_.seekp(static_cast<std::streamoff>(overlay_.AddedAt(run_first_)));
    file_.write(reinterpret_cast<const char*>(run_.data()), static_cast<std::streamsize>(run_.size()));
    run_.clear();
}

Bytes OverlayPages::Peek(std::uint32_t p, jet::Page& holder) {
    auto it = pages_.find(p);
    if (it != pages_.end()) return it->second;
    holder = src_.Read(p);
    return holder.bytes();
}

std::shared_ptr<const PageOverlay> OverlayPages::Finish(std::string* err) {
    WriteRun();
    overlay_.page_count = next_;
    for (const auto& [p, bytes] : pages_) {
        if (!file_) break;
        file_.seekp(static_cast<std::streamoff>(overlay_.ReplacedAt(overlay_.replaced.size())));
        file_.write(reinterpret_cast<const char*>(bytes.data()), overlay_.page_size);
        overlay_.replaced.push_back(p);
    }
    file_.flush();
    file_.close();
    // Added pages never written at the end (none today) read as zeros, not as past the end.
    std::error_code ec;
    if (file_ && std::filesystem::file_size(overlay_.side, ec) < overlay_.side_bytes())
        std::filesystem::resize_file(overlay_.side, overlay_.side_bytes(), ec);
    if (!file_ || ec) {
        *err = "the repair's changed pages cannot be written to '" + overlay_.side.string() + "'";
        return nullptr;
    }
    return std::make_shared<const PageOverlay>(std::move(overlay_));
}

}  // namespace jet
