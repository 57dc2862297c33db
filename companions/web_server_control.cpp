#include "companions/web_server_control.h"

#include <algorithm>
#include <fstream>

#include "platform/process.h"

namespace companions {
namespace {

std::vector<std::string> ReadUnitList(const std::filesystem::path& stateFile) {
    std::vector<std::string> units;
    std::ifstream in(stateFile);
    std::string line;
    while (std::getline(in, line)) {
        // Only names we manage are accepted, so a tampered file cannot make us
        // start arbitrary units.
        if (std::find(kWebServerUnits.begin(), kWebServerUnits.end(), line) !=
                kWebServerUnits.end() &&
            std::find(units.begin(), units.end(), line) == units.end())
            units.push_back(line);
    }
    return units;
}

bool WriteUnitList(const std::filesystem::path& stateFile, const std::vector<std::string>& units) {
    std::error_code ec;
    if (stateFile.has_parent_path())
        std::filesystem::create_directories(stateFile.parent_path(), ec);
    const auto temp = stateFile.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& u : units) out << u << '\n';
        out.flush();
        if (!out) return false;
    }
    std::filesystem::rename(temp, stateFile, ec);
    return !ec;
}

bool IsActive(const std::string& unit) {
    return RunSystemctl({"is-active", "--quiet", unit + ".service"}) == 0;
}

}  // namespace

int RunSystemctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"systemctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const mdb::platform::SpawnResult started =
        mdb::platform::SpawnProcess(argv, mdb::platform::ChildOutput::Discard);
    if (!started.Started()) return 127;
    const int status = mdb::platform::WaitForProcess(started.pid);
    return status < 0 ? 127 : status;
}

bool AnyWebServerActive() {
    return std::any_of(kWebServerUnits.begin(), kWebServerUnits.end(), IsActive);
}

bool SystemdAvailable() {
    // `systemctl` answers "System has not been booted with systemd" (and fails)
    // inside containers and on hosts with another init system.
    return RunSystemctl({"list-units", "--type=service", "--no-legend", "--no-pager"}) == 0;
}

ControlResult StopWebServers(const std::filesystem::path& stateFile) {
    ControlResult result;
    std::vector<std::string> stopped = ReadUnitList(stateFile);
    for (const auto& unit : kWebServerUnits) {
        if (!IsActive(unit)) continue;
        // `systemctl stop` returns once the unit has stopped.
        RunSystemctl({"stop", unit + ".service"});
        if (std::find(stopped.begin(), stopped.end(), unit) == stopped.end())
            stopped.push_back(unit);
        if (IsActive(unit)) {
            result.exitCode = 1;
            result.message += "web server " + unit + " could not be stopped\n";
        } else {
            result.message += "web server " + unit + " stopped\n";
        }
    }
    if (!WriteUnitList(stateFile, stopped)) {
        result.exitCode = 1;
        result.message += "cannot record the stopped web servers in " + stateFile.string() + "\n";
    }
    if (stopped.empty()) result.message += "no web server is running\n";
    return result;
}

ControlResult StartWebServers(const std::filesystem::path& stateFile) {
    ControlResult result;
    const std::vector<std::string> units = ReadUnitList(stateFile);
    std::vector<std::string> failed;
    for (const auto& unit : units) {
        RunSystemctl({"start", unit + ".service"});
        if (IsActive(unit)) {
            result.message += "web server " + unit + " started\n";
        } else {
            failed.push_back(unit);
            result.exitCode = 1;
            result.message += "web server " + unit + " could not be started\n";
        }
    }
    std::error_code ec;
    if (failed.empty()) {
        std::filesystem::remove(stateFile, ec);
    } else {
        WriteUnitList(stateFile, failed);  // keep them for the next attempt
    }
    if (units.empty()) result.message += "no web server was stopped by us; nothing to start\n";
    return result;
}

}  // namespace companions
