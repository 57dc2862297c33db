// mdbscout: scans the listed site directories for Access databases and records them.

#include "common/eventlog.h"
#include "common/i18n.h"
#include "platform/console.h"
#include "scanner/entry.h"

int main(int argc, char** argv) {
    mdb::SetEventSource("mdbscout");
    mdb::platform::PrepareConsole();
    mdb::i18n::UseUserLanguage();
    return mdb::scanner::ScannerMain(argc, argv, mdb::scanner::SystemHooks());
}
