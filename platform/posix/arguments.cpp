#include "platform/arguments.h"

namespace mdb::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

std::string Utf8FromSystemCodePage(std::string_view bytes) {
    return std::string(bytes);
}

std::string SystemCodePageFromUtf8(std::string_view utf8) {
    return std::string(utf8);
}

}  // namespace mdb::platform
