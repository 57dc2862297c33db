#include "common/i18n.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <vector>

#include "common/catalog.h"
#include "platform/arguments.h"
#include "platform/language.h"
#include "platform/paths.h"

#ifdef _WIN32
// The catalogs compiled in (generated from po/*.po by po/embed-catalogs.cmake).
namespace mdb::i18n {
struct EmbeddedCatalog {
    const char* language;
    const unsigned char* bytes;
    std::size_t size;
};
extern const EmbeddedCatalog kEmbeddedCatalogs[];
extern const std::size_t kEmbeddedCatalogCount;
}  // namespace mdb::i18n
#endif

namespace mdb {
namespace {

struct State {
    std::string language = i18n::kSourceLanguage;
    std::unordered_map<std::string, std::string> texts;
};

State& Current() {
    static State state;
    return state;
}

bool ReadCatalog(std::string_view language, const std::filesystem::path& programDir,
                 std::unordered_map<std::string, std::string>& out) {
#ifdef _WIN32
    (void)programDir;
    for (std::size_t i = 0; i < i18n::kEmbeddedCatalogCount; ++i) {
        const i18n::EmbeddedCatalog& c = i18n::kEmbeddedCatalogs[i];
        if (language == c.language)
            return i18n::ParseMoCatalog(std::span(c.bytes, c.size), out);
    }
    return false;
#else
    std::ifstream in(i18n::CatalogPath(programDir, language), std::ios::binary);
    if (!in) return false;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    return i18n::ParseMoCatalog(bytes, out);
#endif
}

}  // namespace

std::string Tr(std::string_view text) {
    const State& state = Current();
    if (!state.texts.empty()) {
        const auto it = state.texts.find(std::string(text));
        if (it != state.texts.end()) return it->second;
    }
    return std::string(text);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        std::size_t j = i + 1;
        std::size_t index = next;
        if (pattern[j] >= '1' && pattern[j] <= '9' && j + 2 < pattern.size() &&
            pattern[j + 1] == '$' && pattern[j + 2] == 's') {
            index = static_cast<std::size_t>(pattern[j] - '1');
            j += 2;
        } else if (pattern[j] == 's') {
            ++next;
        } else {
            // "%%" is a percent sign; anything else stands as written.
            out += pattern[j] == '%' ? "%" : pattern.substr(i, 2);
            i = j;
            continue;
        }
        if (index < args.size()) out += *(args.begin() + index);
        i = j;
    }
    return out;
}

std::string TrFormat(std::string_view pattern, std::initializer_list<std::string_view> args) {
    return FormatText(Tr(pattern), args);
}

std::string TrWithDetail(std::string_view text, std::string_view prefix) {
    std::string whole = Tr(text);
    if (whole != text) return whole;
    constexpr std::string_view kOpen = "（";
    constexpr std::string_view kClose = "）";
    std::string out;
    if (!prefix.empty() && text.starts_with(prefix)) {
        out = Tr(prefix);
        text.remove_prefix(prefix.size());
    }
    const std::size_t open = text.rfind(kOpen);
    if (text.ends_with(kClose) && open != std::string_view::npos) {
        const std::string_view kind = text.substr(0, open);
        const std::string_view detail =
            text.substr(open + kOpen.size(), text.size() - open - kOpen.size() - kClose.size());
        out += TrFormat("%s（%s）", {Tr(kind), detail});
    } else {
        out += Tr(text);
    }
    return out;
}

namespace i18n {

std::filesystem::path CatalogPath(const std::filesystem::path& programDir,
                                  std::string_view language) {
    return programDir / "locale" / std::filesystem::path(std::string(language)) /
           "LC_MESSAGES" / (std::string(kDomain) + ".mo");
}

bool CatalogAvailable(std::string_view language, const std::filesystem::path& programDir) {
#ifdef _WIN32
    (void)programDir;
    for (std::size_t i = 0; i < kEmbeddedCatalogCount; ++i)
        if (language == kEmbeddedCatalogs[i].language) return true;
    return false;
#else
    std::error_code ec;
    return std::filesystem::is_regular_file(CatalogPath(programDir, language), ec);
#endif
}

std::string ChooseLanguage(std::string_view requested,
                           bool (*available)(std::string_view, const std::filesystem::path&),
                           const std::filesystem::path& programDir) {
    const std::string_view name = requested.substr(0, requested.find_first_of(".@"));
    const std::string_view base = name.substr(0, name.find_first_of("_-"));
    if (base == "zh") return kSourceLanguage;
    // Only names made of letters, digits, '_' and '-' become a part of a catalog path.
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            return kFallbackLanguage;
    if (!name.empty() && available(name, programDir)) return std::string(name);
    if (!base.empty() && available(base, programDir)) return std::string(base);
    return kFallbackLanguage;
}

std::string UseLanguage(std::string_view language, const std::filesystem::path& programDir) {
    State& state = Current();
    std::unordered_map<std::string, std::string> texts;
    if (language != kSourceLanguage && ReadCatalog(language, programDir, texts)) {
        state.language = std::string(language);
        state.texts = std::move(texts);
    } else {
        state.language = kSourceLanguage;
        state.texts.clear();
    }
    return state.language;
}

std::string UseUserLanguage(const std::filesystem::path& programDir) {
    return UseLanguage(ChooseLanguage(platform::UserLanguage(), CatalogAvailable, programDir),
                       programDir);
}

std::string UseUserLanguage() {
    const std::optional<std::string> module = platform::ModuleFileName();
    return UseUserLanguage(module ? platform::PathFromUtf8(*module).parent_path()
                                  : std::filesystem::path());
}

const std::string& CurrentLanguage() {
    return Current().language;
}

}  // namespace i18n
}  // namespace mdb
