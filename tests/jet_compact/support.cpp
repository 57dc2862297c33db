#include "support.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace compacttest {

fs::path CorpusDir() {
    return MDB_CORPUS_DIR;
}

std::vector<fs::path> CorpusJetFiles() {
    std::vector<fs::path> v;
    for (const char* sub : {"jet3", "jet4", "bloated"}) {
        fs::path d = CorpusDir() / sub;
        if (!fs::is_directory(d)) continue;
        for (const auto& e : fs::directory_iterator(d))
            if (e.path().extension() == ".mdb") v.push_back(e.path());
    }
    std::sort(v.begin(), v.end());
    return v;
}

fs::path Mdbcompact() {
#ifdef _WIN32
    return fs::path(MDB_DIST_DIR) / "mdbcompact.exe";
#else
    return fs::path(MDB_DIST_DIR) / "mdbcompact";
#endif
}

Scratch::Scratch() {
    std::random_device rd;
    dir_ = fs::temp_directory_path() /
           ("jet-compact-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    fs::create_directories(dir_);
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path Scratch::Copy(const fs::path& src, const std::string& name) const {
    fs::path dst = dir_ / (name.empty() ? src.filename().string() : name);
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return dst;
}

std::vector<std::string> Scratch::Listing() const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

#ifdef _WIN32
ShellRun Shell(const std::string& command) {
    ShellRun r;
    // cmd /c keeps the quotes inside only when the whole command is quoted once more.
    FILE* p = _popen(("\"" + command + "\"").c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    r.exit_code = _pclose(p);
    return r;
}

// cmd.exe quoting: file names hold no double quotes.
std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}
#else
ShellRun Shell(const std::string& command) {
    ShellRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.exit_code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
#endif

static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    return v;
}

std::vector<std::string> SortedExport(const fs::path& db, const std::string& table) {
    ShellRun r = Shell("mdb-export -b hex " + Quote(db.string()) + " " + Quote(table) + " 2>&1");
    std::vector<std::string> v = Lines(r.out);
    v.push_back("exit " + std::to_string(r.exit_code));
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> MdbTables(const fs::path& db) {
    return Lines(Shell("mdb-tables -1 " + Quote(db.string()) + " 2>&1").out);
}

}  // namespace compacttest
