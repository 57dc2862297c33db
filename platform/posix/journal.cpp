#include "platform/journal.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mdb::platform {
namespace {

// The journal's native protocol (systemd's "Native Journal Protocol"): one datagram of
// fields, each "NAME=value\n", or, for a value with a line feed, "NAME\n", its length as
// 64-bit little-endian, the value and "\n".
void AppendField(std::string& out, std::string_view name, std::string_view value) {
    out.append(name);
    if (value.find('\n') == std::string_view::npos) {
        out.append("=").append(value).append("\n");
        return;
    }
    out.append("\n");
    std::uint64_t n = value.size();
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
    out.append(value).append("\n");
}

}  // namespace

bool JournalConnected() {
    // systemd names the stream it connected as "DEVICE:INODE"; it is ours when standard
    // error is that very stream (not a file the unit redirected to).
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream || !*stream) return false;
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long dev = 0, ino = 0;
    char* end = nullptr;
    dev = std::strtoull(stream, &end, 10);
    if (*end != ':') return false;
    ino = std::strtoull(end + 1, &end, 10);
    return *end == '\0' && dev == st.st_dev && ino == st.st_ino;
}

bool JournalSend(int priority, std::string_view message, const JournalFields& fields) {
    return JournalSendTo("/run/systemd/journal/socket", priority, message, fields);
}

bool JournalSendTo(const std::string& socketPath, int priority, std::string_view message,
                   const JournalFields& fields) {
    std::string datagram;
    AppendField(datagram, "MESSAGE", message);
    AppendField(datagram, "PRIORITY", std::to_string(priority));
    for (const auto& [name, value] : fields) AppendField(datagram, name, value);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) {
        close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const ssize_t sent = sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

}  // namespace mdb::platform
