#pragma once
// Error reports to the system event log.

#include <string>
#include <vector>

namespace mdb {

inline constexpr unsigned kEventMainFlow = 60001;
inline constexpr unsigned kEventExeDirectory = 60118;

// Sets the event source of this process ("mdbscout" or "mdbwarden"); set once at start.
void SetEventSource(std::string source);
const std::string& EventSource();

// Scanner form: one error event with up to three insertion strings, in order. A null text
// is not counted; an empty text is.
void ReportToEventLog(unsigned eventId, const char* s1, const char* s2, const char* s3);

// The insertion strings of the scanner form: the texts given, null ones left out.
std::vector<std::string> InsertionStrings(const char* s1, const char* s2, const char* s3);

// Desktop form: insertion strings `message`, `data` and an empty text.
void ReportToEventLog(const std::string& message, const std::string& data, unsigned eventId);

}  // namespace mdb
