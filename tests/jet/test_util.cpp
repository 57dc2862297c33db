#include "test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace jettest {

fs::path CorpusDir() {
    return MDB_CORPUS_DIR;
}

std::vector<fs::path> CorpusFiles(bool include_large) {
    std::vector<fs::path> v;
    for (const char* sub : {"jet3", "jet4", "bloated"}) {
        fs::path d = CorpusDir() / sub;
        if (!fs::is_directory(d)) continue;
        for (const auto& e : fs::directory_iterator(d))
            if (e.path().extension() == ".mdb" &&
                (include_large || fs::file_size(e.path()) < (4u << 20)))
                v.push_back(e.path());
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

TempDir::TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("jet-test-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path TempDir::Copy(const fs::path& src) const {
    fs::path dst = path_ / src.filename();
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return dst;
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

#ifdef _WIN32
// cmd.exe quoting: file names hold no double quotes.
std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

RunResult RunCommand(const std::string& command) {
    RunResult r;
    // cmd /c keeps the quotes inside only when the whole command is quoted once more.
    FILE* p = _popen(("\"" + command + "\"").c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    r.exit_code = _pclose(p);
    return r;
}
#else
std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q.push_back(c);
    }
    return q + "'";
}

RunResult RunCommand(const std::string& command) {
    RunResult r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
#endif

std::vector<std::vector<std::string>> ParseCsv(const std::string& t) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < t.size() && t[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field.push_back(c);
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
            any = true;
        } else if (c == '\n') {
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
            any = false;
        } else if (c != '\r') {
            field.push_back(c);
            any = true;
        }
    }
    if (any || !field.empty()) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace jettest
