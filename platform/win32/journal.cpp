#include "platform/journal.h"

namespace mdb::platform {

// Windows has no journal; its programs report to the event log (platform/eventlog.h).
bool JournalConnected() {
    return false;
}

bool JournalSend(int, std::string_view, const JournalFields&) {
    return false;
}

bool JournalSendTo(const std::string&, int, std::string_view, const JournalFields&) {
    return false;
}

}  // namespace mdb::platform
