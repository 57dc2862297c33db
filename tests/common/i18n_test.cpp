// The choice of language and the catalog lookup, with the catalogs the build made.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "common/catalog.h"
#include "common/i18n.h"
#include "platform/arguments.h"

namespace mdb {
namespace {

const std::filesystem::path kDist = platform::PathFromUtf8(MDB_DIST_DIR);

bool Only(std::string_view language, const std::filesystem::path& dir) {
    return language == dir.string();  // the "program directory" names the one catalog
}

TEST(Language, ChineseForEveryZhLocaleTheClosestCatalogElseEnglish) {
    using i18n::ChooseLanguage;
    EXPECT_EQ(ChooseLanguage("zh_CN.UTF-8", Only, "en"), "zh_CN");
    EXPECT_EQ(ChooseLanguage("zh_TW", Only, "en"), "zh_CN");
    EXPECT_EQ(ChooseLanguage("zh", Only, "en"), "zh_CN");
    EXPECT_EQ(ChooseLanguage("en_GB.UTF-8", Only, "en"), "en");
    EXPECT_EQ(ChooseLanguage("de_AT.UTF-8@euro", Only, "de_AT"), "de_AT");
    EXPECT_EQ(ChooseLanguage("de_AT", Only, "de"), "de");
    EXPECT_EQ(ChooseLanguage("fr_FR", Only, "de"), "en");
    EXPECT_EQ(ChooseLanguage("", Only, "de"), "en") << "the C locale names no language";
    EXPECT_EQ(ChooseLanguage("../../x", Only, "../../x"), "en") << "no path from a locale name";
}

TEST(Language, TheEnglishCatalogTranslatesAndFillsInReorderedPlaceholders) {
    ASSERT_EQ(i18n::UseLanguage("en", kDist), "en");
    EXPECT_EQ(Tr("数据库设有密码"), "the database has a password");
    EXPECT_EQ(TrFormat("无法读取文件 %s：%s", {"/a b", Tr("权限不足")}),
              "Cannot read the file /a b: permission denied");
    EXPECT_EQ(Tr("没有这条文字"), "没有这条文字") << "a text the catalog lacks stays as written";
    EXPECT_EQ(FormatText("%2$s <- %1$s, 100%%, %d", {"a", "b"}), "b <- a, 100%, %d");

    EXPECT_EQ(i18n::UseLanguage("zh_CN", kDist), "zh_CN");
    EXPECT_EQ(Tr("数据库设有密码"), "数据库设有密码");
    EXPECT_EQ(i18n::UseLanguage("xx", kDist), "zh_CN") << "no catalog: the texts as written";
    EXPECT_EQ(Tr("数据库设有密码"), "数据库设有密码");
}

#ifndef _WIN32
TEST(Language, ADamagedCatalogIsRefusedWhole) {
    std::ifstream in(i18n::CatalogPath(kDist, "en"), std::ios::binary);
    const std::vector<std::uint8_t> mo((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    std::unordered_map<std::string, std::string> texts;
    ASSERT_TRUE(i18n::ParseMoCatalog(mo, texts));
    EXPECT_GT(texts.size(), 50u);
    for (std::size_t cut : {std::size_t{3}, std::size_t{20}, mo.size() / 2}) {
        texts.clear();
        EXPECT_FALSE(i18n::ParseMoCatalog(std::span(mo).first(cut), texts)) << cut;
        EXPECT_TRUE(texts.empty());
    }
    std::vector<std::uint8_t> wild = mo;
    wild[12] = 0xff;  // the table of keys far outside the file
    wild[15] = 0x7f;
    EXPECT_FALSE(i18n::ParseMoCatalog(wild, texts));
}
#endif

}  // namespace
}  // namespace mdb
