#pragma once
// A fresh directory below the system's temporary directory, removed at the end.

#include <filesystem>
#include <random>
#include <string>

#include "platform/arguments.h"

namespace mdb::platform {

class Scratch {
  public:
    Scratch() {
        std::random_device random;
        path_ =
            std::filesystem::temp_directory_path() / ("mdb-platform-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::string Text() const { return Utf8OfPath(path_); }

  private:
    std::filesystem::path path_;
};

}  // namespace mdb::platform
