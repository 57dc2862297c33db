#pragma once
// The system's event log (syslog here).

#include <optional>
#include <string>
#include <vector>

namespace mdb::platform {

// Reports one error event of `source` with the given insertion strings, in order.
void ReportErrorEvent(const std::string& source, unsigned eventId,
                      const std::vector<std::string>& strings);

// The text that ReportErrorEvent hands to the log: "event <id>: <s1> | <s2> | ...".
std::string FormatEventText(unsigned eventId, const std::vector<std::string>& strings);

}  // namespace mdb::platform
