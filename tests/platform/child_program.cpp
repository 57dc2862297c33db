// A child for the process tests: "exit N" ends with code N, "sleep MS" waits that long and
// ends with 0, "echo TEXT" writes TEXT to standard output; "args" writes each argument on a
// line of its own.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "echo") == 0) {
        std::puts(argv[2]);
        return 0;
    }
    return 99;
}
