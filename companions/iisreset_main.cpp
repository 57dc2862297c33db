// mdbscout_iisreset: "/stop" stops the web servers of this host that are running and
// remembers them; "/start" starts exactly those again. Each returns only when the
// servers are down / up. On a host without systemd or without a web server it
// says so and succeeds at once.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

#include "web_server_control.h"

namespace {

std::filesystem::path StateFile() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto dir = ec ? std::filesystem::current_path() : exe.parent_path();
    return dir / "config" / "iisreset.state";
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int Usage() {
    std::fprintf(stderr, "usage: mdbscout_iisreset /stop | /start\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Usage();
    const std::string command = Lower(argv[1]);
    if (command != "/stop" && command != "/start") return Usage();

    if (!companions::SystemdAvailable()) {
        std::printf("systemd is not available on this host; no web server to %s\n",
                    command == "/stop" ? "stop" : "start");
        return 0;
    }
    const auto result = command == "/stop" ? companions::StopWebServers(StateFile())
                                           : companions::StartWebServers(StateFile());
    std::fputs(result.message.c_str(), stdout);
    return result.exitCode;
}
