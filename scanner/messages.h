#pragma once
// The scanner's own texts (shown through Tr; the event log keeps them as written).

#include "common/i18n.h"
#include "platform/paths.h"

namespace mdb::scanner {

inline constexpr char kMsgFrameworkFailed[] = MDB_TEXT("错误: MFC 初始化失败！");
inline constexpr char kMsgNoArgument[] = MDB_TEXT("未输入启动参数，运行失败！");
inline constexpr char kMsgArgumentNull[] = MDB_TEXT("输入的启动参数有错误（argv[1] == NULL），运行失败！");
inline constexpr char kMsgUnknownCommand[] = MDB_TEXT("输入的启动参数有错误，命令未知，运行失败！");
inline constexpr char kMsgModuleNameFailed[] =
    MDB_TEXT("函数 GetModuleFileName( NULL, szPathTemp, sizeof(szPathTemp)) 失败！");
inline constexpr char kMsgDatabaseFailed[] = MDB_TEXT("读取数据库时发生错误，请重试！");
// The example is the platform's site directory (platform::kExampleSiteDir).
#ifdef _WIN32
inline constexpr char kMsgNoScanDir[] =
    MDB_TEXT("未设置需要扫描的目录，例如“d:\\home”，请设置一个需要扫描的目录！");
#else
inline constexpr char kMsgNoScanDir[] =
    MDB_TEXT("未设置需要扫描的目录，例如“/var/www”，请设置一个需要扫描的目录！");
#endif

inline constexpr char kProgramName[] = "mdbscout" MDB_PROGRAM_SUFFIX;
inline constexpr char kCommandFileScan[] = "/FileScan";

}  // namespace mdb::scanner
