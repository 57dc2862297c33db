#pragma once
// The programs' texts in the user's language.
//
// The texts are written in the code in Simplified Chinese, the programs' own language,
// and each Chinese text is its own key in the catalogs: one gettext catalog per further
// language (po/<language>.po, built into locale/<language>/LC_MESSAGES/mdbwarden.mo of the
// program directory on Linux and compiled into the programs on Windows). Without a
// catalog, or for a Chinese locale, a text stays as written. Texts that are stored (the
// reasons in the file-info store) stay Chinese there and are put into the user's
// language when shown.
//
// A text joins the catalogs when the code wraps it in Tr or TrFormat, or in MDB_TEXT
// where it is kept as a constant (scripts/update-catalogs collects them).

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/text_mark.h"  // MDB_TEXT

namespace mdb {

// `text` in the chosen language (itself when the catalog does not have it).
std::string Tr(std::string_view text);

// Tr(pattern) with its placeholders filled in: "%s" takes the next argument, "%2$s" the
// second (a translation may reorder them), "%%" is a percent sign. Catalog texts use
// "%s" only; numbers are given as text.
std::string TrFormat(std::string_view pattern, std::initializer_list<std::string_view> args);

// A text made of a known start `prefix`, a kind and perhaps a detail in full-width
// brackets ("未压缩，原因：数据库设有密码（...）"), as stored reasons are: translated whole
// when the catalog has it, else the prefix and the kind are translated each and the
// detail (the engine's own words) is kept. Parts the catalog lacks stay as written.
std::string TrWithDetail(std::string_view text, std::string_view prefix);

// The same filling without translation.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

namespace i18n {

// The catalogs' domain: locale/<language>/LC_MESSAGES/mdbwarden.mo.
inline constexpr char kDomain[] = "mdbwarden";
// The language the texts are written in.
inline constexpr char kSourceLanguage[] = "zh_CN";
// The language of users whose locale names no catalog and no Chinese.
inline constexpr char kFallbackLanguage[] = "en";

// The language to use for locale name `requested` ("zh_TW.UTF-8", "en_GB", "", ...):
// Chinese for every zh locale, else the closest language with a catalog (en_GB, then en),
// else English. `available` tells whether a catalog exists for a language name.
std::string ChooseLanguage(std::string_view requested,
                           bool (*available)(std::string_view language,
                                             const std::filesystem::path& programDir),
                           const std::filesystem::path& programDir);

// True when the catalog of `language` exists (a file below `programDir` on Linux; one
// compiled in on Windows).
bool CatalogAvailable(std::string_view language, const std::filesystem::path& programDir);

// Makes `language` the language of Tr: its catalog is read (an unreadable or missing one
// leaves the texts as written). Returns the language in use, kSourceLanguage when the
// texts stay Chinese. Called at start-up, before any thread that shows texts.
std::string UseLanguage(std::string_view language, const std::filesystem::path& programDir);

// UseLanguage for the user's language (platform::UserLanguage, which the variable
// MDBWARDEN_LANG overrides) with ChooseLanguage's rules.
std::string UseUserLanguage(const std::filesystem::path& programDir);
// The same for the running program's own directory (where its catalogs are).
std::string UseUserLanguage();

// The language in use (kSourceLanguage until UseLanguage picks another).
const std::string& CurrentLanguage();

// Where the catalog of `language` is read from on Linux.
std::filesystem::path CatalogPath(const std::filesystem::path& programDir,
                                  std::string_view language);

}  // namespace i18n
}  // namespace mdb
