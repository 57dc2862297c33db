#pragma once
// The project's version (CMakeLists.txt, given to every test as MDB_PROJECT_VERSION) as
// the window writes it: 3.0.0 is "V3.00" in the caption and the start page, "V300" in the
// web site's addresses. What the programs show must agree with the packages' version.

#include <algorithm>
#include <string>

namespace mdb::test {

inline std::string CaptionVersionOfProject() {
    const std::string version = MDB_PROJECT_VERSION;
    const std::size_t dot = version.find('.');
    std::string minorAndPatch = version.substr(dot + 1);
    std::erase(minorAndPatch, '.');
    return "V" + version.substr(0, dot) + "." + minorAndPatch;
}

inline std::string UrlVersionOfProject() {
    std::string version = CaptionVersionOfProject();
    std::erase(version, '.');
    return version;
}

}  // namespace mdb::test
