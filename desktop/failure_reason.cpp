#include "desktop/failure_reason.h"

#include "common/i18n.h"

#include <algorithm>
#include <cctype>

namespace mdb::desktop {
namespace {

constexpr std::string_view kFailurePrefix = "未压缩";
constexpr std::string_view kStoredPrefix = "未压缩，原因：";
constexpr std::string_view kOpen = "（";
constexpr std::string_view kClose = "）";

struct Kind {
    const char* shortText;  // short enough for the 100-pixel column
    const char* words;      // the kind in full, for the tooltip and the box
};

// Kinds in the order they are tried: the first whose keyword appears wins, so a
// precise kind (password) comes before a broad one (cannot be read).
constexpr Kind kPassword{MDB_TEXT("数据库设有密码"), MDB_TEXT("数据库设有密码，无法打开")};
constexpr Kind kEncrypted{MDB_TEXT("数据库已加密"), MDB_TEXT("数据库已加密，无法读取")};
constexpr Kind kNotJet{MDB_TEXT("不是 Access 97-2003 数据库"),
                       MDB_TEXT("不是 Access 97-2003（Jet 3/Jet 4 格式）的数据库文件")};
constexpr Kind kInUse{MDB_TEXT("文件被占用"), MDB_TEXT("文件正被其他程序使用或写入")};
constexpr Kind kModified{MDB_TEXT("备份后文件被修改"), MDB_TEXT("备份后文件被修改，原文件未替换")};
constexpr Kind kDiskFull{MDB_TEXT("磁盘空间不足"), MDB_TEXT("磁盘空间不足，无法写入压缩后的文件")};
constexpr Kind kMemory{MDB_TEXT("内存不足"), MDB_TEXT("内存不足，无法压缩")};
constexpr Kind kNotVerified{MDB_TEXT("压缩结果校验未通过"), MDB_TEXT("压缩结果校验未通过，原文件未改动")};
constexpr Kind kCannotWrite{MDB_TEXT("无法写入"), MDB_TEXT("无法写入压缩后的文件")};
constexpr Kind kBackup{MDB_TEXT("备份失败"), MDB_TEXT("无法备份数据库文件，原文件未改动")};
constexpr Kind kMissing{MDB_TEXT("文件不存在"), MDB_TEXT("文件不存在或无法访问")};
constexpr Kind kLink{MDB_TEXT("路径含符号链接"), MDB_TEXT("路径中有符号链接，为安全起见未处理")};
constexpr Kind kRepairLossy{MDB_TEXT("已损坏，修复会丢数据"),
                           MDB_TEXT("数据库已损坏，自动修复会丢失数据，请用 mdbcompact repair 修复")};
constexpr Kind kCannotRepair{MDB_TEXT("已损坏，无法修复"), MDB_TEXT("数据库已损坏，无法修复")};
constexpr Kind kDamaged{MDB_TEXT("文件已损坏"), MDB_TEXT("数据库文件无法读取或已损坏")};

struct Rule {
    const char* keyword;  // in the stored text; English words in lower case
    const Kind* kind;
};
constexpr Rule kRules[] = {
    {"密码", &kPassword},
    {"password", &kPassword},
    {"加密", &kEncrypted},
    {"encrypt", &kEncrypted},
    {"不是 jet", &kNotJet},
    {"not a jet", &kNotJet},
    {"accdb", &kNotJet},
    {"2007", &kNotJet},
    {"符号链接", &kLink},
    {"占用", &kInUse},
    {"其他程序", &kInUse},
    {"in use", &kInUse},
    {"被修改", &kModified},
    {"modified", &kModified},
    {"空间不足", &kDiskFull},
    {"no space", &kDiskFull},
    {"disk quota", &kDiskFull},
    {"内存", &kMemory},
    {"memory", &kMemory},
    {"校验", &kNotVerified},
    {"verif", &kNotVerified},
    {"备份", &kBackup},
    {"does not exist", &kMissing},
    {"不存在", &kMissing},
    {"无法写入", &kCannotWrite},
    {"cannot write", &kCannotWrite},
    {"自动修复会丢失", &kRepairLossy},
    {"无法修复", &kCannotRepair},
    {"损坏", &kDamaged},
    {"无法读取", &kDamaged},
    {"truncated", &kDamaged},
    {"damaged", &kDamaged},
    {"cannot be", &kDamaged},
};

// The text in lower case without the parts in '...': the engine quotes file names
// there, and a name must not decide the kind.
std::string WordsOnly(std::string_view text) {
    std::string lower;
    bool quoted = false;
    for (char c : text) {
        if (c == '\'') {
            quoted = !quoted;
        } else if (!quoted) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return lower;
}

// The stored text without its prefix, split into the kind and the detail in the last
// full-width brackets (engine details are English and use ASCII brackets only).
struct Parts {
    std::string_view kind;
    std::string_view detail;
};

Parts Split(std::string_view stored) {
    if (stored.starts_with(kStoredPrefix)) {
        stored.remove_prefix(kStoredPrefix.size());
    } else if (stored.starts_with(kFailurePrefix)) {
        stored.remove_prefix(kFailurePrefix.size());
        if (stored.substr(0, 3) == "：" || stored.substr(0, 3) == "，") stored.remove_prefix(3);
    }
    Parts parts{stored, {}};
    if (stored.size() >= kClose.size() &&
        stored.substr(stored.size() - kClose.size()) == kClose) {
        const std::size_t open = stored.rfind(kOpen);
        if (open != std::string_view::npos) {
            parts.kind = stored.substr(0, open);
            parts.detail = stored.substr(open + kOpen.size(),
                                         stored.size() - open - kOpen.size() - kClose.size());
        }
    }
    return parts;
}

// Null for a kind this program does not know (its words are then shown as stored).
const Kind* Classify(std::string_view stored) {
    const std::string words = WordsOnly(stored);
    for (const Rule& rule : kRules) {
        if (words.find(rule.keyword) != std::string::npos) return rule.kind;
    }
    return nullptr;
}

}  // namespace

std::string RepairMark(std::string_view stored) {
    // The batch's notes: "已修复并压缩" or "已修复并压缩，但有数据丢失", then the detail.
    constexpr std::string_view kRepaired = "已修复并压缩";
    constexpr std::string_view kLossy = "已修复并压缩，但有数据丢失";
    if (stored.starts_with(kLossy)) return Tr(MDB_TEXT("有损修复"));
    if (stored.starts_with(kRepaired)) return Tr(MDB_TEXT("已修复"));
    return {};
}

bool IsFailureReason(std::string_view stored) {
    return stored.substr(0, kFailurePrefix.size()) == kFailurePrefix;
}

std::string ShortFailureText(std::string_view stored) {
    if (!IsFailureReason(stored)) return std::string(stored);
    const Kind* kind = Classify(stored);
    return TrFormat("未压缩：%s", {Tr(kind ? std::string_view(kind->shortText) : Split(stored).kind)});
}

std::string FullFailureText(std::string_view stored) {
    const Kind* kind = IsFailureReason(stored) ? Classify(stored) : nullptr;
    const Parts parts = Split(stored);
    // Without an engine detail the stored words are the batch's own and complete.
    if (kind == nullptr || parts.detail.empty()) return TrWithDetail(stored, kStoredPrefix);
    return Tr(kStoredPrefix) + TrFormat("%s（%s）", {Tr(kind->words), parts.detail});
}

}  // namespace mdb::desktop
