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

#include "platform/arguments.h"
#include "platform/paths.h"

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
