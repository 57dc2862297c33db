// mdbscout_iisreset.exe: "/stop" and "/start" hand the same switch to the system's
// iisreset.exe and return when it has ended, so IIS has stopped (and released the sites'
// database files) or has started again. On a host without IIS (no iisreset.exe) it says so
// and succeeds at once. "/query" changes nothing: exit code 0 when IIS's web service
// (W3SVC) runs, so that "/stop" would stop it, 3 when it does not.
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/services.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: mdbscout_iisreset /stop | /start | /query\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    namespace platform = mdb::platform;
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() != 1) return Usage();
    const bool stop = mdb::EqualNoCase(args[0], "/stop");
    const bool query = mdb::EqualNoCase(args[0], "/query");
    if (!stop && !query && !mdb::EqualNoCase(args[0], "/start")) return Usage();

    if (query) {
        // 3 is not 1 (a failure of /stop or /start) nor 2 (usage).
        const bool running = platform::QueryService("W3SVC") == platform::ServiceState::Running;
        platform::ConsoleWrite(running ? "IIS is running\n" : "IIS is not running\n");
        platform::FlushConsole();
        return running ? 0 : 3;
    }
    const std::optional<std::string> iisreset = platform::SystemProgramPath("iisreset.exe");
    if (!iisreset) {
        platform::ConsoleWrite(std::string("IIS is not installed on this host; nothing to ") +
                               (stop ? "stop" : "start") + "\n");
        platform::FlushConsole();
        return 0;
    }
    const std::vector<std::string> command = {*iisreset, stop ? "/stop" : "/start"};
    const platform::SpawnResult started = platform::SpawnProcess(command);
    if (!started.Started()) {
        std::fprintf(stderr, "%s could not be started (error %d)\n", iisreset->c_str(),
                     started.error);
        return 1;
    }
    // iisreset returns once the services have reached the state asked for.
    return platform::WaitForProcess(started.pid) == 0 ? 0 : 1;
}
