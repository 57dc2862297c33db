#include "common/eventlog.h"
#include "platform/eventlog.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

TEST(EventLog, EmptyTextsCountAndMissingOnesDoNot) {
    EXPECT_EQ(InsertionStrings("", "", "").size(), 3u);
    EXPECT_EQ(InsertionStrings("a", nullptr, "c"), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(platform::FormatEventText(60001, InsertionStrings("", "", "")),
              "event 60001:  |  | ");
    EXPECT_EQ(platform::FormatEventText(60118, {"mdbscout", "函数失败！", ""}),
              "event 60118: mdbscout | 函数失败！ | ");
}

TEST(EventLog, TheSourceIsSetOncePerProgram) {
    SetEventSource("mdbwarden");
    EXPECT_EQ(EventSource(), "mdbwarden");
    ReportToEventLog("message", "data", kEventMainFlow);  // reaches the system log, no result
    SetEventSource("mdbscout");
    EXPECT_EQ(EventSource(), "mdbscout");
}

}  // namespace
}  // namespace mdb
