#include "jet/database.h"

#include "jet/salvage.h"
#include "jet/text.h"

namespace jet {

std::unique_ptr<Database> Database::Open(const std::filesystem::path& path, Status* status,
                                         HeaderResult* probe,
                                         std::shared_ptr<const PageOverlay> overlay) {
    std::string err;
    auto file = PageFile::Open(path, &err, std::move(overlay));
    if (!file) {
        if (status) *status = Status::Fail(err);
        return nullptr;
    }
    if (probe) *probe = file->header_result();
    std::unique_ptr<Database> db(new Database);
    db->file_ = std::move(file);
    Status s = db->Load();
    if (status) *status = s;
    return s.ok ? std::move(db) : nullptr;
}

std::unique_ptr<Database> Database::OpenMemory(std::vector<std::uint8_t> image, Status* status) {
    std::unique_ptr<Database> db(new Database);
    db->file_ = PageFile::FromMemory(std::move(image));
    Status s = db->Load();
    if (status) *status = s;
    return s.ok ? std::move(db) : nullptr;
}

Status Database::Load() {
    const auto& h = file_->header_result();
    if (h.refusal != Refusal::None) return Status::Fail(h.reason);
    try {
        const TableDef& cat = Definition(kCatalogPage);
        const Column *id = nullptr, *parent = nullptr, *name = nullptr, *type = nullptr,
                     *flags = nullptr;
        std::size_t idx[5] = {};
        for (std::size_t i = 0; i < cat.columns.size(); ++i) {
            const auto& c = cat.columns[i];
            if (c.name == "Id" && c.type == kColLong) id = &c, idx[0] = i;
            if (c.name == "ParentId" && c.type == kColLong) parent = &c, idx[1] = i;
            if (c.name == "Name" && c.type == kColText) name = &c, idx[2] = i;
            if (c.name == "Type" && c.type == kColInt) type = &c, idx[3] = i;
            if (c.name == "Flags" && c.type == kColLong) flags = &c, idx[4] = i;
        }
        if (!id || !parent || !name || !type || !flags)
            return Status::Fail(
                "the database catalog (MSysObjects) lacks its Id, ParentId, Name, Type or Flags "
                "column");
        // A catalog row that cannot be read costs its object, not the database: the
        // checker names it, and repair reports the table it described as lost.
        SalvageReader reader(*file_, cat, nullptr);
        reader.ForEachRow([&](const SalvagedRow& r) {
            const CrackedRow& cr = *r.cracked;
            CatalogEntry e;
            e.row = r.slot;
            auto get = [&](std::size_t i) -> Bytes {
                const FieldRef& f = cr.fields[i];
                return f.null ? Bytes() : r.bytes.subspan(f.begin, f.size);
            };
            Bytes b;
            if (!(b = get(idx[0])).empty()) e.id = static_cast<std::int32_t>(U32(b, 0));
            if (!(b = get(idx[1])).empty()) e.parent_id = static_cast<std::int32_t>(U32(b, 0));
            e.name = DecodeText(get(idx[2]), jet3());
            if (!(b = get(idx[3])).empty()) e.type = static_cast<std::int16_t>(U16(b, 0));
            if (!(b = get(idx[4])).empty()) e.flags = U32(b, 0);
            catalog_.push_back(std::move(e));
            if (catalog_.size() > 10'000'000) ThrowFormat("the catalog is impossibly large");
            return true;
        });
        catalog_losses_ = reader.losses();
    } catch (const FormatError& e) {
        return Status::Fail(std::string("the database catalog cannot be read: ") + e.what());
    }
    return Status::Ok();
}

std::vector<const CatalogEntry*> Database::Tables(bool include_system) const {
    std::vector<const CatalogEntry*> v;
    for (const auto& e : catalog_)
        if (e.is_table() && (include_system || !e.is_system())) v.push_back(&e);
    return v;
}

const CatalogEntry* Database::FindTable(const std::string& name) const {
    for (const auto& e : catalog_)
        if (e.is_table() && e.name == name) return &e;
    return nullptr;
}

const TableDef& Database::Definition(std::uint32_t page) {
    auto it = defs_.find(page);
    if (it != defs_.end()) return *it->second;
    auto def = std::make_unique<TableDef>(ReadTableDef(*file_, page));
    return *defs_.emplace(page, std::move(def)).first->second;
}

}  // namespace jet
