// An opened Jet 3 / Jet 4 database: page file, catalog, table definitions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/page_file.h"
#include "jet/salvage.h"
#include "jet/table.h"
#include "jet/tdef.h"

namespace jet {

constexpr std::int16_t kObjectTable = 1;  // local table
constexpr std::uint32_t kSystemObjectFlags = 0x80000002u;

// One row of MSysObjects.
struct CatalogEntry {
    std::int32_t id = 0;
    std::int32_t parent_id = 0;
    std::string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    RowAddr row;  // where the catalog row lives (slot address)
    bool is_table() const { return type == kObjectTable; }
    bool is_system() const { return (flags & kSystemObjectFlags) != 0; }
    std::uint32_t tdef_page() const { return static_cast<std::uint32_t>(id) & 0x00FFFFFF; }
};

class Database {
  public:
    // Opens a file; on refusal or failure returns null and sets `status` (the reason).
    // `probe` (optional) receives the header even for refused files. `overlay`: see
    // PageFile::Open.
    static std::unique_ptr<Database> Open(const std::filesystem::path& path, Status* status,
                                          HeaderResult* probe = nullptr,
                                          std::shared_ptr<const PageOverlay> overlay = nullptr);
    static std::unique_ptr<Database> OpenMemory(std::vector<std::uint8_t> image, Status* status);

    PageFile& file() { return *file_; }
    const Header& header() const { return file_->header(); }
    bool jet3() const { return file_->jet3(); }

    const std::vector<CatalogEntry>& catalog() const { return catalog_; }
    // Catalog rows that could not be read (their objects are not in catalog()).
    const std::vector<SalvageLoss>& catalog_losses() const { return catalog_losses_; }
    // Local tables (system tables too when `include_system`), in catalog order.
    std::vector<const CatalogEntry*> Tables(bool include_system) const;
    const CatalogEntry* FindTable(const std::string& name) const;

    // Definition of the table at `page` (cached). Throws FormatError.
    const TableDef& Definition(std::uint32_t page);

  private:
    Database() = default;
    Status Load();

    std::unique_ptr<PageFile> file_;
    std::vector<CatalogEntry> catalog_;
    std::vector<SalvageLoss> catalog_losses_;
    std::map<std::uint32_t, std::unique_ptr<TableDef>> defs_;
};

}  // namespace jet
