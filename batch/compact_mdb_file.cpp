#include "batch/compact_mdb_file.h"

#include "batch/stored_path.h"
#include "jet/compact/compactor.h"
#include "jet/header.h"

#include <algorithm>
#include <cctype>
#include <exception>

namespace mdb::batch {
namespace {

constexpr char kAceKind[] = MDB_TEXT("不是 Jet 3/Jet 4 格式的 MDB 文件（Access 2007 及以后的格式）");

bool Mentions(const std::string& lowerText, const char* word) {
    return lowerText.find(word) != std::string::npos;
}

}  // namespace

std::string DescribeEngineFailure(const std::string& engineReason) {
    // The engine quotes file names in '...'; only its own words decide the kind.
    std::string lower;
    bool quoted = false;
    for (char c : engineReason) {
        if (c == '\'')
            quoted = !quoted;
        else if (!quoted)
            lower += c;
    }
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const char* kind = MDB_TEXT("数据库文件无法读取或已损坏");
    if (Mentions(lower, "password")) {
        kind = MDB_TEXT("数据库设有密码");
    } else if (Mentions(lower, "encrypt")) {
        kind = MDB_TEXT("数据库已加密");
    } else if (Mentions(lower, "ace ") || Mentions(lower, "accdb") || Mentions(lower, "2007")) {
        kind = kAceKind;
    } else if (Mentions(lower, "verif")) {
        kind = MDB_TEXT("压缩结果校验未通过，原文件未改动");
    } else if (Mentions(lower, "space") || Mentions(lower, "write") || Mentions(lower, "rename")) {
        kind = MDB_TEXT("无法写入压缩后的文件");
    }
    if (engineReason.empty()) return kind;
    return std::string(kind) + "（" + engineReason + "）";
}

namespace {

std::string NotCompacted(jet::Format format, const std::string& engineReason) {
    return std::string(kNotCompactedPrefix) +
           (format == jet::Format::Ace ? std::string(kAceKind) + "（" + engineReason + "）"
                                       : DescribeEngineFailure(engineReason));
}

}  // namespace

bool EngineRefusesFile(std::span<const std::uint8_t> firstPage, std::uint64_t fileSize,
                       std::string& reason) {
    const jet::HeaderResult header = jet::DecodeHeader(firstPage, fileSize);
    if (header.refusal == jet::Refusal::None) return false;
    reason = NotCompacted(header.header.format, header.reason);
    return true;
}

int CompactMdbFile(std::u16string source, std::u16string destination, std::string& reason) {
    reason.clear();
    const auto sourcePath = PathFromLong(std::move(source));
    const auto destinationPath = PathFromLong(std::move(destination));
    if (!sourcePath || !destinationPath) {
        reason = std::string(kNotCompactedPrefix) + DescribeEngineFailure("invalid file path");
        return 0;
    }
    try {
        const jet::CompactResult result = jet::Compact(*sourcePath, *destinationPath);
        if (result.compacted) return 1;
        reason = NotCompacted(result.format, result.reason);
    } catch (const std::exception& e) {
        // The engine reports failures as results; anything thrown (memory) still must
        // not end the batch.
        reason = std::string(kNotCompactedPrefix) + DescribeEngineFailure(e.what());
    }
    return 0;
}

}  // namespace mdb::batch
