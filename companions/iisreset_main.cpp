// mdbscout_iisreset: "/stop" stops the web servers of this host that are running and
// remembers them; "/start" starts exactly those again. Each returns only when the
// servers are down / up. The units are those of the settings file's WebServerUnits
// (apache2, nginx, httpd and lighttpd by default), stopped in that order and started
// in the reverse one. On a host without systemd or without a web server it
// says so and succeeds at once. "/query" changes nothing: exit code 0 when a web
// server is running that "/stop" would stop, 3 when there is none.
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/settings.h"
#include "common/text.h"
#include "companions/web_server_control.h"
#include "platform/paths.h"

namespace {

std::filesystem::path ProgramDir() {
    const std::optional<std::string> exe = mdb::platform::ModuleFileName();
    return exe ? std::filesystem::path(*exe).parent_path() : std::filesystem::current_path();
}

int Usage() {
    std::fprintf(stderr, "usage: mdbscout_iisreset /stop | /start | /query\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("%s %s\n", "mdbscout_iisreset", MDB_VERSION);
        return 0;
    }
    if (argc != 2) return Usage();
    const bool stop = mdb::EqualNoCase(argv[1], "/stop");
    const bool query = mdb::EqualNoCase(argv[1], "/query");
    if (!stop && !query && !mdb::EqualNoCase(argv[1], "/start")) return Usage();

    const std::filesystem::path dir = ProgramDir();
    std::vector<std::string> rejected;
    const std::vector<std::string> units =
        companions::ConfiguredWebServerUnits(mdb::SettingsPathIn(dir.string()), &rejected);
    for (const auto& name : rejected)
        std::fprintf(stderr, "mdbscout_iisreset: %s=%s: not a systemd unit name, left out\n",
                     mdb::kKeyWebServerUnits, name.c_str());
    if (query) {
        // 3 is not 1 (a failure of /stop or /start) nor 2 (usage).
        const bool running =
            companions::SystemdAvailable() && companions::AnyWebServerActive(units);
        std::printf(running ? "a web server is running\n" : "no web server is running\n");
        return running ? 0 : 3;
    }
    if (!companions::SystemdAvailable()) {
        std::printf("systemd is not available on this host; no web server to %s\n",
                    stop ? "stop" : "start");
        return 0;
    }
    const std::filesystem::path state = dir / "config" / "iisreset.state";
    const auto result = stop ? companions::StopWebServers(state, units)
                             : companions::StartWebServers(state, units);
    std::fputs(result.message.c_str(), stdout);
    return result.exitCode;
}
