// The global usage map on page 1: a set bit marks a free page. Page 1 holds this
// row alone; a file too large for an inline row gets a reference map whose type-5
// pages are placed at the end of the file.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/compact/page_layout.h"

namespace jet {

// Writes page 1 (and any type-5 pages it needs) for a file of page_count pages of
// which free_pages (ascending) are free. Returns the page count afterwards.
// REQUIRES: take_run(n) hands out the n pages following the last page of the file
std::uint32_t WriteGlobalMap(
    const PageLayout& layout, std::uint32_t page_count,
    const std::vector<std::uint32_t>& free_pages,
    const std::function<std::uint32_t(std::uint32_t)>& take_run,
    const std::function<void(std::uint32_t, std::vector<std::uint8_t>)>& sink);

}  // namespace jet
