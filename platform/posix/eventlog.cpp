#include "platform/eventlog.h"

#include <syslog.h>

#include <mutex>

namespace mdb::platform {

void ReportErrorEvent(const std::string& source, unsigned eventId,
                      const std::vector<std::string>& strings) {
    // openlog keeps the ident pointer, so it must outlive the call.
    static std::mutex lock;
    static std::string ident;
    std::lock_guard guard(lock);
    if (ident != source) {
        ident = source;
        openlog(ident.c_str(), LOG_PID, LOG_USER);
    }
    syslog(LOG_ERR, "%s", FormatEventText(eventId, strings).c_str());
}

}  // namespace mdb::platform
