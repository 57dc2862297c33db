// Stopping and starting the web server units of this host through systemd, so
// that no web server holds a site database open while it is replaced.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace companions {

// The units looked after when the settings name none, in the order they are stopped.
inline const std::vector<std::string> kDefaultWebServerUnits = {"apache2", "nginx", "httpd",
                                                                "lighttpd"};

// The units of the settings file's key WebServerUnits (names separated by blanks or
// commas, e.g. "php8.2-fpm nginx"), in the order they are stopped; the default list when
// the key is missing or empty. A name without a unit type is a service ("nginx" is
// nginx.service). Names that are no systemd unit names are left out and go to
// `rejected` when given.
std::vector<std::string> ConfiguredWebServerUnits(const std::string& settingsPath,
                                                  std::vector<std::string>* rejected = nullptr);

// The systemd name of a listed unit: "nginx" -> "nginx.service", "x.socket" unchanged.
std::string UnitName(const std::string& unit);

// Runs `systemctl` with the given arguments, its output discarded; returns its exit
// status (127 when it cannot be started or waited for).
int RunSystemctl(const std::vector<std::string>& args);

struct ControlResult {
    int exitCode = 0;     // 0 success, 1 a unit did not reach the wanted state
    std::string message;  // one line per unit handled, for the console
};

// Stops every unit of `units` that is active, in the order given, waiting until each is
// down. The names of the units it stopped are added to the state file, so that
// StartWebServers restarts exactly those (also after several stops in a row).
ControlResult StopWebServers(const std::filesystem::path& stateFile,
                             const std::vector<std::string>& units);

// Starts the units listed in the state file (those of `units` only) in the reverse order
// of their stop, and waits until each is up; the state file is removed once all run.
ControlResult StartWebServers(const std::filesystem::path& stateFile,
                              const std::vector<std::string>& units);

// True when one of `units` is active.
bool AnyWebServerActive(const std::vector<std::string>& units);

// True when systemd manages this host (systemctl answers).
bool SystemdAvailable();

}  // namespace companions
