#include "scanner/notices.h"

#include "common/utf16.h"
#include "platform/files.h"

#include <errno.h>
#include <string.h>

namespace mdb::scanner {

std::string FileErrorText(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "权限不足";
        case ENOENT:
            return "不存在";
        case ENOTDIR:
            return "不是目录";
        case EISDIR:
            return "是目录";
        case ENAMETOOLONG:
            return "路径太长，无法打开";
        case ELOOP:
            return "是符号链接（符号链接不跟随）";
        case EWOULDBLOCK:
            return "正被其他程序写入";
        case EMFILE:
        case ENFILE:
            return "打开的文件太多";
        case EIO:
            return "读取时发生 I/O 错误";
        case platform::kErrorNotRegularFile:
            return "不是普通文件";
        default:
            return std::string("打开失败（") + strerror(error) + "）";
    }
}

std::string SettingsErrorText(platform::ProfileError error) {
    switch (error) {
        case platform::ProfileError::LockTimeout:
            return "被其他程序锁定（mdbscout.ini.lock），等待 3 秒后仍未释放";
        case platform::ProfileError::NotRegularFile:
            return "不是普通文件";
        case platform::ProfileError::OpenFailed:
            return "无法打开";
        default:
            return "无法写入";
    }
}

std::string IgnoredListLineText(const IgnoredListLine& line) {
    const std::string where = "目录列表第 " + std::to_string(line.line) + " 行";
    switch (line.why) {
        case IgnoredListLine::Why::NulByte:
            return where + "含有空字符（NUL），已忽略该行：" + SanitizeUtf8(line.text);
        case IgnoredListLine::Why::FileSystemRoot:
            return where + "“" + SanitizeUtf8(line.text) +
                   "”是文件系统的根目录，不扫描整个文件系统，已忽略；请填写网站所在的目录";
    }
    return where + "已忽略";
}

}  // namespace mdb::scanner
