#include "common/catalog.h"

#include <cstring>

namespace mdb::i18n {
namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kMagicSwapped = 0xde120495;

class MoReader {
  public:
    explicit MoReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool Word(std::size_t offset, std::uint32_t& value) const {
        if (offset > bytes_.size() || bytes_.size() - offset < 4) return false;
        const std::uint8_t* p = bytes_.data() + offset;
        value = swapped_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                            std::uint32_t{p[2]} << 8 | p[3])
                         : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                            std::uint32_t{p[1]} << 8 | p[0]);
        return true;
    }
    bool Begin() {
        std::uint32_t magic = 0;
        if (!Word(0, magic)) return false;
        if (magic == kMagicSwapped) swapped_ = true;
        return magic == kMagic || magic == kMagicSwapped;
    }
    // The string described by the table entry at `entry` (length, offset).
    bool String(std::size_t entry, std::string_view& text) const {
        std::uint32_t length = 0, offset = 0;
        if (!Word(entry, length) || !Word(entry + 4, offset)) return false;
        if (offset > bytes_.size() || bytes_.size() - offset < std::size_t{length}) return false;
        text = std::string_view(reinterpret_cast<const char*>(bytes_.data()) + offset, length);
        return true;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    bool swapped_ = false;
};

}  // namespace

bool ParseMoCatalog(std::span<const std::uint8_t> bytes,
                    std::unordered_map<std::string, std::string>& out) {
    MoReader mo(bytes);
    std::uint32_t count = 0, originals = 0, translations = 0;
    if (!mo.Begin() || !mo.Word(8, count) || !mo.Word(12, originals) ||
        !mo.Word(16, translations))
        return false;
    std::unordered_map<std::string, std::string> read;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view key, text;
        if (!mo.String(originals + std::size_t{i} * 8, key) ||
            !mo.String(translations + std::size_t{i} * 8, text))
            return false;
        // Context ("ctxt\x04key") and plural ("key\0plural") entries are not ours.
        if (key.empty() || key.find('\x04') != std::string_view::npos ||
            key.find('\0') != std::string_view::npos)
            continue;
        read.emplace(key, text.substr(0, text.find('\0')));
    }
    out = std::move(read);
    return true;
}

}  // namespace mdb::i18n
