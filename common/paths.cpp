#include "common/paths.h"

#include "common/eventlog.h"
#include "common/i18n.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <vector>

namespace mdb {

namespace {

void ReportExeDirFailure(const char* what) {
    ReportToEventLog(kEventExeDirectory, EventSource().c_str(), what, "");
}

std::string RemoveAll(std::string text, std::string_view what) {
    if (what.empty()) return text;
    for (size_t pos; (pos = text.find(what)) != std::string::npos;) text.erase(pos, what.size());
    return text;
}

}  // namespace

int ExeDirectoryFromModulePath(const std::optional<std::string>& modulePath,
                               std::string& directory) {
    directory.clear();
    if (!modulePath || modulePath->empty()) {
        ReportExeDirFailure("函数 GetModuleFileName(NULL, szPathTemp, sizeof(szPathTemp)) 失败！");
        return 0;
    }
    const std::string& path = *modulePath;
    if (path.size() < 4 || path.size() > 259) {
        ReportExeDirFailure(
            "函数 GetModuleFileName(NULL, szPathTemp, sizeof(szPathTemp)) 失败 - 2！");
        return 0;
    }
    const size_t slash = path.rfind(platform::kSeparator);
    // A bare file name leaves no directory; the root alone must not be taken for one.
    if (slash == std::string::npos) return 0;
    std::string dir = path.substr(0, slash);
    dir = RemoveAll(std::move(dir), platform::kLongPathPrefix);
    dir.push_back(platform::kSeparator);
    dir = CollapseSeparators(std::move(dir));
    if (!platform::IsRootedPath(dir) || dir.size() > kMaxPath) return 0;
    directory = std::move(dir);
    return 1;
}

int GetExeDirectory(std::string& directory) {
    return ExeDirectoryFromModulePath(platform::ModuleFileName(), directory);
}

int EnsureConfigDirIn(const std::string& programDir, MessageReporter& reporter,
                      std::string& configDir) {
    configDir.clear();
    const std::string dir = CollapseSeparators(programDir + platform::kSeparator + "config");
    if (!PathExists(dir) && !CreateDirectoryChain(dir)) {
        reporter.ShowMessage(TrFormat(kMsgCreateDirFailed, {dir}));
        return 0;
    }
    if (!PathExists(dir)) {
        reporter.ShowMessage(TrFormat(kMsgConfigDirUnusable, {dir}));
        return 0;
    }
    configDir = dir;
    return 1;
}

int EnsureConfigDir(MessageReporter& reporter, std::string& configDir) {
    configDir.clear();
    std::string programDir;
    if (GetExeDirectory(programDir) != 1) {
        reporter.ShowMessage(Tr(kMsgExeDirFailed));
        return 0;
    }
    return EnsureConfigDirIn(programDir, reporter, configDir);
}

int PathExists(const std::string& path) {
    if (path.size() < 4 || path.size() > 259) return 0;
    return platform::FindFirst(path) ? 1 : 0;
}

int CreateDirectoryChain(const std::string& path) {
    if (path.size() < 2 || path.size() > kMaxPath || !platform::IsRootedPath(path)) return 0;
    const std::string clean = CollapseSeparators(path);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= clean.size()) {
        size_t end = clean.find(platform::kSeparator, start);
        if (end == std::string::npos) end = clean.size();
        if (end > start) parts.push_back(clean.substr(start, end - start));
        start = end + 1;
    }
    // A drive path starts from its drive ("d:"), which is never created; a bare drive
    // root has no level to handle. A path from the root "/" starts from the root.
    const bool drive = platform::kSeparator == '\\' && !parts.empty() && parts[0].size() == 2 &&
                       parts[0][1] == ':';
    if (parts.size() < (drive ? 2u : 1u)) return 0;
    std::string partial = drive ? parts[0] : std::string();
    for (size_t i = drive ? 1 : 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        partial += platform::kSeparator;
        partial += part;
        if (!platform::FindFirst(partial)) {
            if (!platform::MakeDirectory(partial)) return 0;
            platform::SleepMilliseconds(10);
        }
    }
    return 1;
}

}  // namespace mdb
