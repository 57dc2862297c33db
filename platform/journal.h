#pragma once
// systemd's journal, for programs that a unit starts: entries with a priority and fields
// of their own (journalctl -u UNIT -o verbose shows them; MDB_OUTCOME=... selects).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mdb::platform {

// syslog priorities, as the journal takes them.
inline constexpr int kJournalError = 3;
inline constexpr int kJournalWarning = 4;
inline constexpr int kJournalInfo = 6;

using JournalFields = std::vector<std::pair<std::string, std::string>>;

// True when standard error goes to the journal (a systemd unit's output): the programs
// then send their entries there with priorities and fields. False on other systems.
bool JournalConnected();

// Sends one entry: MESSAGE, PRIORITY and `fields` (names of upper-case letters, digits
// and '_', not starting with '_'). False when the journal did not take it.
bool JournalSend(int priority, std::string_view message, const JournalFields& fields = {});

// JournalSend to the datagram socket at `socketPath` (systemd's is
// /run/systemd/journal/socket).
bool JournalSendTo(const std::string& socketPath, int priority, std::string_view message,
                   const JournalFields& fields);

}  // namespace mdb::platform
