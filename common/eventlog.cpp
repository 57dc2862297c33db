#include "common/eventlog.h"

#include "platform/eventlog.h"

#include <vector>

namespace mdb {

namespace {
std::string& Source() {
    static std::string source = "mdbscout";
    return source;
}
}  // namespace

void SetEventSource(std::string source) {
    Source() = std::move(source);
}

const std::string& EventSource() {
    return Source();
}

std::vector<std::string> InsertionStrings(const char* s1, const char* s2, const char* s3) {
    std::vector<std::string> strings;
    for (const char* s : {s1, s2, s3})
        if (s != nullptr) strings.emplace_back(s);
    return strings;
}

void ReportToEventLog(unsigned eventId, const char* s1, const char* s2, const char* s3) {
    platform::ReportErrorEvent(Source(), eventId, InsertionStrings(s1, s2, s3));
}

void ReportToEventLog(const std::string& message, const std::string& data, unsigned eventId) {
    platform::ReportErrorEvent(Source(), eventId, {message, data, std::string()});
}

}  // namespace mdb
