#pragma once
// Helpers of the tests: temporary directories, whole files, child processes.

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/paths.h"
// <windows.h>, when a test included it first, makes RemoveDirectory a macro.
#pragma push_macro("RemoveDirectory")
#undef RemoveDirectory
#include "platform/safe_files.h"

namespace mdb::test {

// A fresh directory below the system's temporary directory (/tmp here), removed with
// everything in it at the end of the scope.
class TempDir {
  public:
    TempDir() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate =
                std::filesystem::temp_directory_path() / ("mdbtest." + std::to_string(random()));
            std::error_code ec;
            // False when the name is taken: made by this call and no other.
            if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path as text with a trailing separator, as a program directory is given.
    std::string dir() const { return platform::Utf8OfPath(path_) + platform::kSeparator; }
    std::string operator/(const std::string& name) const {
        return platform::Utf8OfPath(path_ / platform::PathFromUtf8(name));
    }

  private:
    std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes the directory `path` and everything below it, through directory handles: at any
// path length (std::filesystem stops at 260 characters on Windows), never through a link.
inline void RemoveTree(const std::filesystem::path& path) {
    struct Walk {
        static void Empty(const platform::FileHandle& dir) {
            std::vector<platform::DirectoryEntry> entries;
            platform::ListDirectory(dir, entries);
            for (const auto& entry : entries) {
                if (entry.status.directory && !entry.link) {
                    Empty(platform::OpenSubdirectory(dir, entry.name));
                    platform::RemoveDirectory(dir, entry.name);
                } else {
                    platform::RemoveFile(dir, entry.name);
                }
            }
        }
    };
    Walk::Empty(platform::OpenDirectoryNoLinks(path));
    std::error_code ec;
    std::filesystem::remove(path, ec);
}
#pragma pop_macro("RemoveDirectory")

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

#ifndef _WIN32
// Runs `body` in a child process and returns its exit status (-1 if it did not exit).
template <typename Body>
int RunInChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 1;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

}  // namespace mdb::test
