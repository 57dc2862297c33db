#pragma once
// The program directory, the config directory and basic path checks.

#include "common/reporter.h"
#include "platform/text_mark.h"

#include <optional>
#include <string>

namespace mdb {

// Message texts of EnsureConfigDir (also used by callers that need the program directory),
// shown through Tr.
inline constexpr char kMsgExeDirFailed[] = MDB_TEXT("获取EXE文件路劲失败，请重试！");
inline constexpr char kMsgCreateDirFailed[] = MDB_TEXT("建立目录“%s”失败，请重试！");
inline constexpr char kMsgConfigDirUnusable[] = MDB_TEXT("保存配置文件失败，目录“%s”无法访问，请重试！");

// Longest path (in characters) the path functions accept.
inline constexpr size_t kMaxPath = 260;

// 1 and the program directory with a trailing separator, or 0. Failures to learn the
// executable's path are reported to the event log (id 60118).
int GetExeDirectory(std::string& directory);

// The decision of GetExeDirectory for a given executable path (nothing: not available).
int ExeDirectoryFromModulePath(const std::optional<std::string>& modulePath,
                               std::string& directory);

// 1 and the config directory (created when missing), or 0 after showing one of the three
// messages through `reporter`.
int EnsureConfigDir(MessageReporter& reporter, std::string& configDir);

// EnsureConfigDir below a given program directory (which ends with a separator).
int EnsureConfigDirIn(const std::string& programDir, MessageReporter& reporter,
                      std::string& configDir);

// 1 when a file or directory matches `path` (4 to 259 characters), else 0.
int PathExists(const std::string& path);

// Creates every missing level of an absolute directory path (up to 260 characters).
// 1 when every level exists, 0 on failure or when the path names no directory below the root.
int CreateDirectoryChain(const std::string& path);

}  // namespace mdb
