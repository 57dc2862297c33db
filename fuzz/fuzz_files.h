// The files of a fuzz target that runs the engine on a file: a work directory of its
// own, the input written there, and the rule that nothing else may be left in it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzfiles {

namespace fs = std::filesystem;

// A directory of this process under the system's temporary one, made once.
inline const fs::path& WorkDir(const std::string& target) {
    static const fs::path dir = [&] {
        fs::path d = fs::temp_directory_path() / (target + "-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

inline void WriteInput(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// True when the directory holds nothing but `a` and `b`.
inline bool OnlyThese(const fs::path& dir, const fs::path& a, const fs::path& b) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path() != a && e.path() != b) return false;
    return true;
}

}  // namespace fuzzfiles
