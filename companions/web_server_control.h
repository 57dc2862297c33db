// Stopping and starting the web server units of this host through systemd, so
// that no web server holds a site database open while it is replaced.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace companions {

// The units we look after, in the order they are stopped.
inline const std::vector<std::string> kWebServerUnits = {"apache2", "nginx", "httpd", "lighttpd"};

// Runs `systemctl` with the given arguments, its output discarded; returns its exit
// status (127 when it cannot be started or waited for).
int RunSystemctl(const std::vector<std::string>& args);

struct ControlResult {
    int exitCode = 0;     // 0 success, 1 a unit did not reach the wanted state
    std::string message;  // one line per unit handled, for the console
};

// Stops every web server unit that is active, waiting until each is down.
// The names of the units it stopped are added to the state file, so that
// StartWebServers restarts exactly those (also after several stops in a row).
ControlResult StopWebServers(const std::filesystem::path& stateFile);

// Starts the units listed in the state file and waits until each is up; the
// state file is removed once all are running.
ControlResult StartWebServers(const std::filesystem::path& stateFile);

// True when one of kWebServerUnits is active.
bool AnyWebServerActive();

// True when systemd manages this host (systemctl answers).
bool SystemdAvailable();

}  // namespace companions
