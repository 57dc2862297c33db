#include "jet/compact/tdef_rewriter.h"

#include <cassert>

#include "jet/compact/put_bytes.h"

namespace jet {

TdefRewriter::TdefRewriter(PageFile& file, const TableDef& def) : def_(def), jet3_(file.jet3()) {
    for (std::uint32_t p : def.pages) {
        const Page pg = file.Read(p);
        pages_.emplace_back(pg.bytes().begin(), pg.bytes().end());
    }
}

void TdefRewriter::PutByteAt(std::size_t at, std::uint8_t value) {
    FieldPos pos = def_.Where(at);
    for (std::size_t i = 0; i < def_.pages.size(); ++i) {
        if (def_.pages[i] == pos.page) {
            if (pos.offset >= pages_[i].size())
                ThrowFormat("table definition field outside its page");
            pages_[i][pos.offset] = value;
            return;
        }
    }
    ThrowFormat("table definition field on a page outside its chain");
}

void TdefRewriter::PutU32At(std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) PutByteAt(at + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

void TdefRewriter::PutRowPointerAt(std::size_t at, RowAddr addr) {
    PutU32At(at, addr.Packed());
}

std::vector<std::vector<std::uint8_t>> TdefRewriter::Finish(
    const std::vector<std::uint32_t>& new_pages) {
    assert(new_pages.size() == pages_.size());
    for (std::size_t i = 0; i < pages_.size(); ++i)
        PutU32(pages_[i], TdefLayout::For(jet3_).next_page,
               i + 1 < new_pages.size() ? new_pages[i + 1] : 0);
    return std::move(pages_);
}

}  // namespace jet
