#include "platform/eventlog.h"

namespace mdb::platform {

std::string FormatEventText(unsigned eventId, const std::vector<std::string>& strings) {
    std::string text = "event " + std::to_string(eventId) + ":";
    for (size_t i = 0; i < strings.size(); ++i) {
        text += i == 0 ? " " : " | ";
        text += strings[i];
    }
    return text;
}

}  // namespace mdb::platform
