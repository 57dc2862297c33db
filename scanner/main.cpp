// mdbscout: scans the listed site directories for Access databases and records them.

#include "common/eventlog.h"
#include "platform/console.h"
#include "scanner/entry.h"

int main(int argc, char** argv) {
    mdb::SetEventSource("mdbscout");
    mdb::platform::PrepareConsole();
    return mdb::scanner::ScannerMain(argc, argv, mdb::scanner::SystemHooks());
}
