#include "companions/web_server_control.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "common/settings.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace companions {
namespace {

// systemd's unit names: letters, digits and ":-_.\@", at most 255 characters
// (systemd.unit(5)); a leading '-' would read as an option of systemctl.
bool IsUnitName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '-' || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || std::strchr(":-_.\\@", c) != nullptr;
    });
}

std::vector<std::string> ReadUnitList(const std::filesystem::path& stateFile,
                                      const std::vector<std::string>& managed) {
    std::vector<std::string> units;
    std::ifstream in(stateFile);
    std::string line;
    while (std::getline(in, line)) {
        // Only names we manage are accepted, so a tampered file cannot make us
        // start arbitrary units.
        if (std::find(managed.begin(), managed.end(), line) != managed.end() &&
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
    return RunSystemctl({"is-active", "--quiet", UnitName(unit)}) == 0;
}

}  // namespace

std::string UnitName(const std::string& unit) {
    static const char* const kTypes[] = {".service", ".socket", ".target", ".scope", ".slice",
                                         ".mount", ".path", ".timer"};
    for (const char* type : kTypes) {
        const std::size_t n = std::strlen(type);
        if (unit.size() > n && unit.compare(unit.size() - n, n, type) == 0) return unit;
    }
    return unit + ".service";
}

std::vector<std::string> ConfiguredWebServerUnits(const std::string& settingsPath,
                                                  std::vector<std::string>* rejected) {
    const std::string text = mdb::platform::GetProfileString(
        mdb::kSettingsSection, mdb::kKeyWebServerUnits, "", settingsPath);
    std::vector<std::string> units;
    std::string name;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        if (c != ' ' && c != '\t' && c != ',') {
            name += c;
            continue;
        }
        if (name.empty()) continue;
        if (!IsUnitName(name)) {
            if (rejected) rejected->push_back(name);
        } else if (std::find(units.begin(), units.end(), name) == units.end()) {
            units.push_back(name);
        }
        name.clear();
    }
    if (units.empty() && (!rejected || rejected->empty())) return kDefaultWebServerUnits;
    return units;
}

int RunSystemctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"systemctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const mdb::platform::SpawnResult started =
        mdb::platform::SpawnProcess(argv, mdb::platform::ChildOutput::Discard);
    if (!started.Started()) return 127;
    const int status = mdb::platform::WaitForProcess(started.pid);
    return status < 0 ? 127 : status;
}

bool AnyWebServerActive(const std::vector<std::string>& units) {
    return std::any_of(units.begin(), units.end(), IsActive);
}

bool SystemdAvailable() {
    // `systemctl` answers "System has not been booted with systemd" (and fails)
    // inside containers and on hosts with another init system.
    return RunSystemctl({"list-units", "--type=service", "--no-legend", "--no-pager"}) == 0;
}

ControlResult StopWebServers(const std::filesystem::path& stateFile,
                             const std::vector<std::string>& units) {
    ControlResult result;
    std::vector<std::string> stopped = ReadUnitList(stateFile, units);
    for (const auto& unit : units) {
        if (!IsActive(unit)) continue;
        // `systemctl stop` returns once the unit has stopped.
        RunSystemctl({"stop", UnitName(unit)});
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

ControlResult StartWebServers(const std::filesystem::path& stateFile,
                              const std::vector<std::string>& managed) {
    ControlResult result;
    std::vector<std::string> units = ReadUnitList(stateFile, managed);
    // Started in the reverse order of the stop: what was stopped first (the front end,
    // say nginx before php-fpm) comes up last, once what it depends on runs.
    std::reverse(units.begin(), units.end());
    std::vector<std::string> failed;
    for (const auto& unit : units) {
        RunSystemctl({"start", UnitName(unit)});
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
        std::reverse(failed.begin(), failed.end());  // kept in the order of the stop
        WriteUnitList(stateFile, failed);            // for the next attempt
    }
    if (units.empty()) result.message += "no web server was stopped by us; nothing to start\n";
    return result;
}

}  // namespace companions
