// The usage-map rows of the new file. Each map gets its row before the layout is
// known (so table definitions can point at it); its content is set once the pages
// it describes are written. Rows are packed on pages of their own, in reservation
// order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "jet/compact/usage_map_builder.h"
#include "jet/row_addr.h"

namespace jet {

class MapRows {
  public:
    explicit MapRows(const PageLayout& layout);

    // Reserves a row and returns its handle.
    std::size_t Reserve();
    std::size_t size() const { return maps_.size(); }

    // Pages the reserved rows need. Call before PlacePages.
    std::uint32_t PagesNeeded() const;
    // REQUIRES: pages.size() == PagesNeeded()
    void PlacePages(std::vector<std::uint32_t> pages);
    // REQUIRES: PlacePages was called
    RowAddr Address(std::size_t handle) const;

    // Marks pages in the map of `handle`; ranges must come in increasing order.
    UsageMapBuilder& Map(std::size_t handle) { return maps_[handle]; }

    // Writes the map pages. Maps too wide for an inline row become reference maps;
    // their type-5 pages are numbered by take_run(count) and written through sink.
    void Finish(const std::function<std::uint32_t(std::uint32_t)>& take_run,
                const std::function<void(std::uint32_t, std::vector<std::uint8_t>)>& sink);

  private:
    std::size_t RowsPerPage() const;

    const PageLayout& layout_;
    std::vector<UsageMapBuilder> maps_;  // by handle
    std::vector<std::uint32_t> pages_;   // page numbers of the map pages
};

}  // namespace jet
