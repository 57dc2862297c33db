// mdbscout_iisreset: "/stop" stops the web servers of this host that are running and
// remembers them; "/start" starts exactly those again. Each returns only when the
// servers are down / up. On a host without systemd or without a web server it
// says so and succeeds at once. "/query" changes nothing: exit code 0 when a web
// server is running that "/stop" would stop, 3 when there is none.
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "companions/web_server_control.h"
#include "platform/paths.h"

namespace {

std::filesystem::path StateFile() {
    const std::optional<std::string> exe = mdb::platform::ModuleFileName();
    const std::filesystem::path dir =
        exe ? std::filesystem::path(*exe).parent_path() : std::filesystem::current_path();
    return dir / "config" / "iisreset.state";
}

int Usage() {
    std::fprintf(stderr, "usage: mdbscout_iisreset /stop | /start | /query\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Usage();
    const bool stop = mdb::EqualNoCase(argv[1], "/stop");
    const bool query = mdb::EqualNoCase(argv[1], "/query");
    if (!stop && !query && !mdb::EqualNoCase(argv[1], "/start")) return Usage();

    if (query) {
        // 3 is not 1 (a failure of /stop or /start) nor 2 (usage).
        const bool running = companions::SystemdAvailable() && companions::AnyWebServerActive();
        std::printf(running ? "a web server is running\n" : "no web server is running\n");
        return running ? 0 : 3;
    }
    if (!companions::SystemdAvailable()) {
        std::printf("systemd is not available on this host; no web server to %s\n",
                    stop ? "stop" : "start");
        return 0;
    }
    const auto result = stop ? companions::StopWebServers(StateFile())
                             : companions::StartWebServers(StateFile());
    std::fputs(result.message.c_str(), stdout);
    return result.exitCode;
}
