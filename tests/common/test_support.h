#pragma once
// Helpers of the tests: temporary directories, whole files, child processes.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace mdb::test {

// A fresh directory below /tmp, removed with everything in it at the end of the scope.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/mdbtest.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made != nullptr) path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path as text with a trailing separator, as a program directory is given.
    std::string dir() const { return path_.string() + "/"; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

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

}  // namespace mdb::test
