#include "scanner/notices.h"

#include "common/i18n.h"
#include "common/utf16.h"
#include "platform/files.h"

#include <errno.h>
#include <string.h>

namespace mdb::scanner {

std::string FileErrorText(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return Tr("权限不足");
        case ENOENT:
            return Tr("不存在");
        case ENOTDIR:
            return Tr("不是目录");
        case EISDIR:
            return Tr("是目录");
        case ENAMETOOLONG:
            return Tr("路径太长，无法打开");
        case ELOOP:
            return Tr("是符号链接（符号链接不跟随）");
        case EWOULDBLOCK:
            return Tr("正被其他程序写入");
        case EMFILE:
        case ENFILE:
            return Tr("打开的文件太多");
        case EIO:
            return Tr("读取时发生 I/O 错误");
        case platform::kErrorNotRegularFile:
            return Tr("不是普通文件");
        default:
            return TrFormat("打开失败（%s）", {strerror(error)});
    }
}

std::string SettingsErrorText(platform::ProfileError error) {
    switch (error) {
        case platform::ProfileError::LockTimeout:
            return Tr("被其他程序锁定（mdbscout.ini.lock），等待 3 秒后仍未释放");
        case platform::ProfileError::NotRegularFile:
            return Tr("不是普通文件");
        case platform::ProfileError::OpenFailed:
            return Tr("无法打开");
        default:
            return Tr("无法写入");
    }
}

std::string IgnoredListLineText(const IgnoredListLine& line) {
    const std::string number = std::to_string(line.line);
    switch (line.why) {
        case IgnoredListLine::Why::NulByte:
            return TrFormat("目录列表第 %s 行含有空字符（NUL），已忽略该行：%s",
                            {number, SanitizeUtf8(line.text)});
        case IgnoredListLine::Why::FileSystemRoot:
            return TrFormat("目录列表第 %s 行“%s”是文件系统的根目录，不扫描整个文件系统，已忽略；"
                            "请填写网站所在的目录",
                            {number, SanitizeUtf8(line.text)});
    }
    return TrFormat("目录列表第 %s 行已忽略", {number});
}

}  // namespace mdb::scanner
