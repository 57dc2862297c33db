// mdbcompact batch: the batch of the window from a shell (cron, ssh).
#pragma once

#include <string>
#include <vector>

namespace mdbcompact {

// Exit codes of the batch command.
constexpr int kBatchAllCompacted = 0;
constexpr int kBatchSomeNotCompacted = 1;
constexpr int kBatchCouldNotStart = 2;
constexpr int kBatchWebServerNotStarted = 3;  // the sites stay down: worse than any file
constexpr int kBatchInterrupted = 130;          // as a shell reports a Ctrl-C

extern const char kBatchHelp[];

// `args` are the arguments after "batch".
int RunBatch(const std::vector<std::string>& args);

}  // namespace mdbcompact
