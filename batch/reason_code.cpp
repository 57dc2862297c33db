#include "batch/reason_code.h"

#include <algorithm>
#include <cctype>

#include "batch/backup_compact_replace.h"
#include "batch/compact_mdb_file.h"

namespace mdb::batch {
namespace {

struct Rule {
    const char* keyword;  // in the text; English words in lower case
    const char* code;
};

// Tried in order, the first match wins: the batch's own texts first, then the engine's
// kinds from the precise (a password) to the broad (cannot be read).
constexpr Rule kRules[] = {
    {kSkipBelowMinimumSaving, "below_minimum_saving"},
    {kSkipBackupArea, "backup_area"},
    {kSkipBackupFailed, "backup_failed"},
    {kSkipWorkingCopy, "working_copy_failed"},
    {kSkipReplaceFailed, "replace_failed"},
    {kSkipNotAFile, "missing"},
    {kReasonSymbolicLink, "symbolic_link"},
    {kReasonBeingWritten, "being_written"},
    {kReasonWritersUnseen, "writers_unseen"},
    {kReasonHardLinks, "hard_links"},
    {kReasonModified, "modified"},
    {"密码", "password"},
    {"password", "password"},
    {"加密", "encrypted"},
    {"encrypt", "encrypted"},
    {"不是 jet", "not_jet"},
    {"accdb", "not_jet"},
    {"2007", "not_jet"},
    {"not a jet", "not_jet"},
    {"空间不足", "disk_full"},
    {"no space", "disk_full"},
    {"内存", "out_of_memory"},
    {"memory", "out_of_memory"},
    {"校验", "not_verified"},
    {"verif", "not_verified"},
    {"无法写入", "cannot_write"},
    {"不存在", "missing"},
    {"does not exist", "missing"},
    {"备份", "backup_failed"},
    {kRepairWouldLose, "repair_lossy"},
    {"损坏", "damaged"},
    {"无法读取", "damaged"},
    {"truncated", "damaged"},
};

}  // namespace

std::string ReasonCode(std::string_view reason) {
    // Only the program's words decide: the engine quotes file names in '...'.
    std::string words;
    bool quoted = false;
    for (char c : reason) {
        if (c == '\'')
            quoted = !quoted;
        else if (!quoted)
            words += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const Rule& rule : kRules) {
        std::string keyword = rule.keyword;
        std::transform(keyword.begin(), keyword.end(), keyword.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (words.find(keyword) != std::string::npos) return rule.code;
    }
    return "other";
}

}  // namespace mdb::batch
